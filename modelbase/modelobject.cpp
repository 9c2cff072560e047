#include "modelbase/modelobject.h"

#include <mpi.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "app/diagstream.h"

modelobject::modelobject(const modelobject_args& args)
    : control_path(args.control_file),
      write_ascii_grids(args.write_ascii_grids),
      write_double_grids(args.write_double_grids),
      output_directory(args.output_directory),
      input_directory(args.input_directory),
      cells_per_process(args.cells_per_process),
      halo_send(args.halo_send),
      halo_receive(args.halo_receive),
      spinup_switch(args.spinup_switch),
      hru_list(args.hru_list) {
  diag = args.diag;
  int initialized_mpi = 0;
  MPI_Initialized(&initialized_mpi);
  if (initialized_mpi) {
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  }
  selected_zones.assign(1, 0);
}

bool modelobject::open_control_file() {
  control.reset(std::fopen(control_path.c_str(), "r"));
  return control != nullptr;
}

void modelobject::write_log_line(int /*ignored*/, const std::string& text) {
  if (rank != 0) return;
  char log_name[64];
  std::snprintf(log_name, sizeof log_name, "modell_%d.log", rank);
  file_handle log(std::fopen(log_name, "a"));
  if (!log) return;
  const std::time_t now = std::time(nullptr);
  char stamp[64];
  ctime_r(&now, stamp);  // 24 characters and a line end
  std::fprintf(log.get(), "%s: %s\n", stamp, text.c_str());
  std::fflush(log.get());
}

void modelobject::set_end_date(uint64_t year, uint64_t month, uint64_t day, uint64_t hour) {
  end_year = static_cast<int64_t>(year);
  end_month = static_cast<int64_t>(month);
  end_day = static_cast<int64_t>(day);
  end_hour = static_cast<int64_t>(hour);
  end_key = time_key(end_year, end_month, end_day, end_hour);
}

void modelobject::set_report_interval(int interval) { report_interval = interval; }
int modelobject::get_report_interval() { return report_interval; }
double modelobject::get_hour_shift() { return hour_shift; }

void modelobject::fail_control_file(const std::string& key, const std::string& section) {
  fail_fatal(*diag, 17, "error in control file, ", key, "; ", section, "not found!");
}

void modelobject::fail_write(const std::string& file_name, int code) {
  fail_fatal(*diag, 18, "write error ", file_name, " ! (", code, ")");
}

void modelobject::fail_read(const std::string& file_name, int code) {
  fail_fatal(*diag, 19, "read error ", file_name, " ! (", code, ")");
}

int modelobject::read_token(std::FILE* file, std::string& token, size_t max_len) {
  token.clear();
  int c = std::fgetc(file);
  while (c != EOF && std::isspace(c)) c = std::fgetc(file);
  if (c == EOF) return EOF;
  while (c != EOF && !std::isspace(c)) {
    token.push_back(static_cast<char>(c));
    if (token.size() >= max_len) return 1;
    c = std::fgetc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  return 1;
}

void modelobject::read_line_rest(std::FILE* file, std::string& line) {
  char piece[CONTROL_LINE_PIECE + 1];
  if (std::fgets(piece, sizeof piece, file) == nullptr)
    line.clear();
  else
    line = piece;
}

namespace {

// Converts the next word as a number the way scanf does, leaving whatever
// follows the number in the file.
template <class T, class Convert>
int scan_number(std::FILE* file, T& target, Convert convert) {
  int c = std::fgetc(file);
  while (c != EOF && std::isspace(c)) c = std::fgetc(file);
  if (c == EOF) return EOF;
  std::ungetc(c, file);
  const long start = std::ftell(file);
  std::string text;
  c = std::fgetc(file);
  while (c != EOF && !std::isspace(c)) {
    text.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  const char* begin = text.c_str();
  char* end = nullptr;
  const auto value = convert(begin, &end);
  // Whatever follows the number (all of the word when nothing converted)
  // stays in the file for the next read, as with scanf.
  const long used = static_cast<long>(end - begin);
  std::fseek(file, start + used, SEEK_SET);
  if (used == 0) return 0;
  target = static_cast<T>(value);
  return 1;
}

}  // namespace

int modelobject::scan_one(std::FILE* file, int& target) {
  return scan_number(file, target, [](const char* b, char** e) { return std::strtol(b, e, 10); });
}
int modelobject::scan_one(std::FILE* file, long& target) {
  return scan_number(file, target, [](const char* b, char** e) { return std::strtol(b, e, 10); });
}
int modelobject::scan_one(std::FILE* file, double& target) {
  return scan_number(file, target, [](const char* b, char** e) { return std::strtod(b, e); });
}
int modelobject::scan_one(std::FILE* file, float& target) {
  return scan_number(file, target, [](const char* b, char** e) { return std::strtod(b, e); });
}
int modelobject::scan_one(std::FILE* file, std::string& target) {
  return read_token(file, target, static_cast<size_t>(-1));
}

void modelobject::report_unreadable_value(std::FILE* file, const std::string& key) {
  (void)key;
  diag_entry(*diag, "--> In .", "\n", "  Next line in Velmo control file: ");
  std::string token;
  read_token(file, token, 999);
  diag_entry(*diag, token);
}

bool modelobject::seek_section(const std::string& section, bool must_exist) {
  std::FILE* file = control.get();
  if (file == nullptr) {
    if (must_exist) fail_control_file(section, "(EOF)");
    return false;
  }
  std::rewind(file);
  std::string token;
  std::string rest;
  int found = 1;
  while (token != section && !std::feof(file) && found == 1) {
    found = read_token(file, token, static_cast<size_t>(-1));
    read_line_rest(file, rest);
  }
  if (std::feof(file)) {
    if (must_exist) fail_control_file(section, "(EOF)");
    return false;
  }
  return true;
}

double modelobject::interpolate_linear(double x1, double y1, double x2, double y2, double x) {
  if (x2 == x1) return y1;
  return (x - x1) / (x2 - x1) * y2 + (x2 - x) / (x2 - x1) * y1;
}

void modelobject::set_initialized(int flag) { initialized_flag = flag; }

void modelobject::release() {
  diag_entry(*diag, "DEBUG: deleting module ", name);
  text_buffer.clear();
  section_buffer.clear();
}
