// The one channel through which every object reports. Process 0 echoes every
// message on the console and writes the messages that pass the level filter as
// line elements of an XML diagnostics file (PI diagnostics layout 1.2); the
// other processes keep the same bookkeeping and write nothing.
//
// A message is a chain of insertions; a level word at the start of a text
// piece ("FATAL: ", "ERROR: ", "WARNING: ", "INFO: ", "DEBUG: ", "SKIP: ")
// sets its level and the piece "[end-entry]" ends it. The stream takes no
// lock: one message must be written by one thread without interleaving.
#pragma once

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <string_view>

class DiagStream {
 public:
  // Reads rank and size from the world communicator, derives the file name
  // (stem before the last '.', "_<rank>.xml") and, on process 0, opens the file
  // and writes its head. Throws 320 when neither the name nor the fallback
  // "Velmo_Diag.xml" can be created.
  DiagStream(const std::string& file_name, int filter_level);
  // A stream bound to any console (tests); rank and size given explicitly.
  DiagStream(const std::string& file_name, int filter_level, std::ostream& console, int rank,
             int process_count);
  ~DiagStream();
  DiagStream(const DiagStream&) = delete;
  DiagStream& operator=(const DiagStream&) = delete;

  DiagStream& write_text(const char* piece);
  DiagStream& write_string(const std::string& piece);
  DiagStream& write_char(char value);
  DiagStream& write_int(int32_t value);
  DiagStream& write_unsigned(uint32_t value);
  DiagStream& write_long(int64_t value);
  DiagStream& write_unsigned_long(uint64_t value);
  DiagStream& write_float(float value);
  DiagStream& write_double(double value);
  DiagStream& write_pointer(const void* value);
  DiagStream& set_width(int width);

  // Closes an open element, writes the finish line and closes the file.
  void close();
  void flush_console();

  const std::string& file_name() const { return diag_file_name; }
  int rank() const { return process_rank; }
  int size() const { return process_count; }

 private:
  void open_file();
  void write_file_head();
  void prepare_entry_text(std::string_view piece, bool honour_marker);
  void write_entry_text();
  void start_element();
  void close_element();
  void end_console_line();
  template <class T>
  DiagStream& write_number(const T& value);
  void open_value_entry();
  bool file_good() const { return process_rank == 0 && diag_file.is_open() && diag_file.good(); }

  int32_t process_rank = 0;
  int32_t process_count = 1;
  std::ofstream diag_file;
  std::ostream* console;
  bool entry_pending = true;
  bool entry_filtered = false;
  bool element_open = false;  // a line element head stands in the file without its "/>"
  int32_t entry_level = 0;
  std::string entry_text;
  bool entry_text_closes = false;  // the piece ends the element: "/> follows entry_text
  std::string diag_file_name;
  int32_t filter_level = 4;
  bool closed = false;
};

// The escaping of one piece for the diagnostics file (without element syntax).
std::string escape_diag_text(std::string_view text);
// The file text of one character inserted with write_char.
std::string diag_char_text(char value);

// Local time as 2016-12-04T13:27:10.
std::string diag_time_stamp();

// Chained insertions, so that a message reads like one output expression.
inline DiagStream& operator<<(DiagStream& d, const char* s) { return d.write_text(s); }
inline DiagStream& operator<<(DiagStream& d, const std::string& s) { return d.write_string(s); }
inline DiagStream& operator<<(DiagStream& d, std::string_view s) {
  return d.write_string(std::string(s));
}
inline DiagStream& operator<<(DiagStream& d, char v) { return d.write_char(v); }
inline DiagStream& operator<<(DiagStream& d, int v) { return d.write_int(v); }
inline DiagStream& operator<<(DiagStream& d, unsigned v) { return d.write_unsigned(v); }
inline DiagStream& operator<<(DiagStream& d, long v) { return d.write_long(v); }
inline DiagStream& operator<<(DiagStream& d, long long v) { return d.write_long(v); }
inline DiagStream& operator<<(DiagStream& d, unsigned long v) { return d.write_unsigned_long(v); }
inline DiagStream& operator<<(DiagStream& d, unsigned long long v) {
  return d.write_unsigned_long(v);
}
inline DiagStream& operator<<(DiagStream& d, float v) { return d.write_float(v); }
inline DiagStream& operator<<(DiagStream& d, double v) { return d.write_double(v); }
inline DiagStream& operator<<(DiagStream& d, const void* v) { return d.write_pointer(v); }

// Writes "FATAL: " followed by the pieces and "[end-entry]", then throws the
// integer code: the one path of every fatal error.
template <class... Pieces>
[[noreturn]] void fail_fatal(DiagStream& diag, int code, const Pieces&... pieces) {
  diag << "FATAL: ";
  (diag << ... << pieces);
  diag << "[end-entry]";
  throw code;
}

// Writes one whole entry: the pieces (the first carries the level word) and
// "[end-entry]".
template <class... Pieces>
void diag_entry(DiagStream& diag, const Pieces&... pieces) {
  (diag << ... << pieces);
  diag << "[end-entry]";
}

// "file <source>, compiled at <date>, <time>": the entry with which the
// application and the main class of each source file announce themselves
// (pass __DATE__ and __TIME__ of that source file).
inline void write_source_banner(DiagStream& diag, const char* source, const char* date,
                                const char* time) {
  diag_entry(diag, "file ", source, ", compiled at ", date, ", ", time);
}

// The constructor convention of the model objects: an integer error of the
// body becomes the status, any other exception other_code (103; 104 in the
// special output).
template <class Body>
void run_constructor_body(int& status, Body&& body, int other_code = 103) {
  status = 0;
  try {
    body();
  } catch (int code) {
    status = code;
  } catch (...) {
    status = other_code;
  }
}
