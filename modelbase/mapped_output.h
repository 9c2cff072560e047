// Several processes writing their own byte ranges of one output file at once.
// Buffered writes into one file are taken one at a time by the file system
// (the whole copy of each write is made under the file's lock), so the
// processes of a band-wise text output would queue behind each other; copies
// into a shared mapping of the file run side by side.
//
// A mapped write that finds no room on the disk would end the process with a
// signal instead of an error, so the file's blocks are reserved first; where
// that is not possible (a file system without reservations, a device such as
// /dev/full) nothing is mapped and the caller writes its ranges as before.
#pragma once

#include <cstddef>
#include <string>

class mapped_output {
 public:
  // Opens path for mapped writes when the file of bytes bytes could be
  // reserved beforehand (reserve_blocks); usable() tells.
  mapped_output(const std::string& path, bool reserved);
  ~mapped_output();
  mapped_output(const mapped_output&) = delete;
  mapped_output& operator=(const mapped_output&) = delete;

  bool usable() const { return fd_ >= 0; }
  // Copies bytes bytes to offset; false when the range could not be mapped
  // (the caller writes it another way).
  bool write_at(long long offset, const void* data, size_t bytes);

  // Gives the regular file at path its blocks for bytes bytes, so that
  // mapped writes cannot run out of space. False (nothing to map) for other
  // files, file systems without reservations and a full disk.
  static bool reserve_blocks(const std::string& path, long long bytes);

 private:
  int fd_ = -1;
};
