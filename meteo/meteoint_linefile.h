// Line-by-line reading of a text file from a saved offset through one large
// buffer: the station files are read ahead about 2 MiB at a time, so one
// refill is one open, one seek, a few block reads and one close. Lines may be
// of any length; the offset after each line is known, so that the next refill
// (or a rewind) starts exactly at a row.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "modelbase/modelobject.h"

// ": " and errno's text of a failed read, or what happened when the C
// library gave no reason.
std::string read_failure_text(int error);

class line_reader {
 public:
  // Opens path and moves to offset; false when either fails.
  bool open(const std::string& path, int64_t offset);
  // The next line without its line end; false at the end of the file or on a
  // read error (failed() tells them apart). The view lives until the next call.
  bool next(std::string_view& line);
  // The offset just after the last line returned.
  int64_t offset() const { return position; }
  bool failed() const { return read_error; }
  // errno of the last failed open, read or close; 0 when none failed or the
  // C library gave no reason.
  int error() const { return error_number; }
  // False when the file cannot be closed.
  bool close();

 private:
  // Reads more of the file behind the unread rest; false when nothing came.
  bool fill();

  file_handle file;
  std::string buffer;
  size_t begin = 0;  // first unread byte in buffer
  size_t end = 0;    // end of the bytes in buffer
  int64_t position = 0;
  bool end_of_file = false;
  bool read_error = false;
  int error_number = 0;
};
