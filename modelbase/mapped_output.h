// Several processes writing their own byte ranges of one output file at once.
// Buffered writes into one file are taken one at a time by the file system
// (the whole copy of each write is made under the file's lock), so the
// processes of a band-wise text output would queue behind each other; copies
// into a shared mapping of the file run side by side.
//
// A mapped write that finds no room on the disk would end the process with a
// signal instead of an error, so the file's blocks are reserved first; where
// that is not possible (a file system whose reservations do not keep the
// room, a device such as /dev/full, a full disk) nothing is mapped and the
// caller writes through MPI-IO instead.
#pragma once

#include <cstddef>
#include <string>

class mapped_output {
 public:
  // Opens path for writing into its reserved blocks (reserve_blocks); an
  // empty path opens nothing.
  explicit mapped_output(const std::string& path);
  ~mapped_output();
  mapped_output(const mapped_output&) = delete;
  mapped_output& operator=(const mapped_output&) = delete;

  bool usable() const { return fd_ >= 0; }
  // Copies bytes bytes to offset, through a mapping, or with plain writes
  // where a range cannot be mapped. False (errno set) when the file is not
  // open or a write failed.
  bool write_at(long long offset, const void* data, size_t bytes);
  // Closes the file; false (errno set) when closing failed.
  bool close();

  // Gives the regular file at path bytes bytes of reserved blocks (its
  // length). False (nothing to map) for other files, file systems whose
  // reservations do not keep the room and a full disk.
  static bool reserve_blocks(const std::string& path, long long bytes);

 private:
  int fd_ = -1;
  int open_error_ = 0;
};
