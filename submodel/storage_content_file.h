// The storage content file: one text file per process that carries the
// state of the runoff-concentration storages and of the channel routing from
// the end of one run to the start of the next. Each module writes and reads
// its own section; this file holds what they share: the file's path, the
// text of a state value, a reader that knows its section and its line, and
// the tracer block of the travel-time zone queues that the unsaturated zone
// and the surface routing both write.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "submodel/runoffrecords.h"

class DiagStream;

// Relative tolerance of a stored parameter against the control file's value.
constexpr double STATE_TOLERANCE = 1e-5;

// The directory in front of name unless name is absolute ("/") or starts at
// the home directory ("~"), or no directory is given; a missing separator
// is added.
std::string state_file_path(const std::string* directory, const std::string& name);

// A run with fewer processes than the run that wrote the files reads only
// the files of its own ranks: a WARNING when the file of the first rank
// beyond this run exists, naming the section that stays unread.
// name_with_rank ends in "_" and the rank (the name every process uses).
void warn_state_beyond_run(DiagStream& diag, const std::string* directory,
                           const std::string& name_with_rank, int rank, int process_count,
                           const char* section);

// The text of a state value: "%g" when that reads back to the same double,
// otherwise the shortest text that does (so a restart continues from the
// very values the run ended with).
std::string state_value_text(double value);
// Writes state_value_text(value) followed by tail.
void write_state_value(std::FILE* file, double value, const char* tail);

// A stored value s mismatches the control value c when |(s - c) / s| > 1e-5,
// a stored 0 when c is not exactly 0.
bool state_value_differs(double stored, double control) noexcept;

// Reads one section of a storage content file. Numbers are read as "%d" and
// "%lf" read them (leading white space, line breaks included, is skipped);
// the rest of a line is skipped with skip_line. A number that is missing
// because the file ends, or that cannot be read, is FATAL code 71 naming the
// section and the line, so no value ever comes from beyond the file.
class state_reader {
 public:
  // section: the name without brackets, as the search and the messages use it.
  state_reader(DiagStream& diag, std::FILE* file, std::string path, std::string section);

  // Reads lines from the start until one contains the section's name;
  // reading continues after it. False when the file ends first.
  bool find_section();

  int read_int(const char* what);
  double read_double(const char* what);
  // Up to max numbers on the current line (stops at the line break or at
  // text); returns how many were read.
  int read_line_numbers(double* out, int max);
  // Skips to the start of the next line.
  void skip_line();
  // Fails as a missing number does when only white space is left (what
  // names the value that was expected).
  void require_more(const char* what);
  // Line of the file the reader is on (1 the first line).
  int line() const { return line_number; }
  const std::string& path() const { return file_path; }
  const std::string& section() const { return section_name; }

 private:
  int peek();
  int get();
  void skip_space();
  [[noreturn]] void fail_unreadable(const char* what, bool at_end);

  DiagStream& diag;
  std::FILE* file;
  std::string file_path;
  std::string section_name;
  int line_number = 1;
};

// The travel-time zone queues and the linear storages of one module, as its
// tracer blocks write and read them.
struct tracer_block_data {
  flow_time_queues* queues = nullptr;
  subbasin_flow_arrays* qdd = nullptr;
  subbasin_flow_arrays* qii = nullptr;
  int subbasin_count = 0;
  int tracer_count = 0;
};

// Called with label, control value and stored value on a mismatch; must not
// return (the module reports and throws 71).
using state_mismatch = std::function<void(const std::string&, double, double)>;

// Writes the tracer blocks t = 0..T: the line of t, then per subbasin the
// zone line, the direct-runoff and interflow zone records 1..maxzeit, QDd
// and QIi.
void write_tracer_blocks(std::FILE* file, const tracer_block_data& data);
// Reads them back into the queues and storages, comparing tracer index,
// subbasin index and maxzeit exactly.
void read_tracer_blocks(state_reader& in, const tracer_block_data& data,
                        const state_mismatch& mismatch);
// Reads one count with "%d" and compares it exactly.
void read_state_count(state_reader& in, const char* label, int expected,
                      const state_mismatch& mismatch);
// "error in storage file content reading " + label + the two values: the
// entry of a mismatch, prefix in front (the module's own text or empty).
[[noreturn]] void fail_state_value(DiagStream& diag, const std::string& label, double control_value,
                                   double stored_value);
