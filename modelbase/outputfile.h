// Result files that are never left half-written. A whole file (a grid, a
// stack, the header of a statistics file) is written under a temporary name
// in its own folder and renamed onto its name only when complete, so that a
// full disk or a failed write leaves the previous file, or none, but never a
// truncated one. Rows appended to a statistics file go in as one block that
// is either all there or not there at all.
#pragma once

#include <cstdio>
#include <string>

// The temporary file of one result file. The temporary lies in the folder of
// the target, so that the final rename stays on one file system and replaces
// the target in one step. Unless committed, it is removed with the object.
// A link is followed: the file it points to is replaced, the link stays. A
// target that exists and is no regular file (a device such as /dev/null, a
// pipe) cannot be replaced by a file: it is written in place.
class pending_file {
 public:
  explicit pending_file(std::string target);
  ~pending_file();
  pending_file(const pending_file&) = delete;
  pending_file& operator=(const pending_file&) = delete;

  // Creates the temporary as a new, empty file; false (errno set) when the
  // folder does not take it. Written in place, nothing is created.
  bool create();
  // Creates the temporary and opens it with mode ("w", "wb"); the caller
  // owns the stream and closes it before commit. Null (errno set) on failure.
  std::FILE* create_stream(const char* mode);
  // Renames the complete temporary onto the target; on failure (errno set)
  // the temporary is removed and the target is as it was.
  bool commit();
  // Removes the temporary now (nothing happens once committed).
  void discard();

  const std::string& target() const { return target_; }
  // The file to write: the temporary, or the target written in place.
  const std::string& temporary() const { return in_place_ ? target_ : temporary_; }

 private:
  // Where the temporary goes and what it replaces; false when the target
  // is to be written in place.
  bool choose_destination();

  std::string target_;
  std::string destination_;  // the target with its links followed
  std::string temporary_;    // empty until created, and again once gone
  bool in_place_ = false;
};

// printf into the end of out, for blocks that are written in one piece.
void append_format(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Appends block to a file opened for appending, as one piece: when the disk
// refuses any part of it, the file is cut back to its length before the
// call, so the rows already in it stay and no partial row is left. False
// (errno set) on failure. Nothing of the stream's own buffer may be pending.
bool append_whole_block(std::FILE* file, const std::string& block);
