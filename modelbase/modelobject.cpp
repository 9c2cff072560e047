#include "modelbase/modelobject.h"

#include <mpi.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <type_traits>

#include "modelbase/diagstream.h"

std::string errno_text(int error) {
  if (error == 0) return "";
  return std::string(": ") + std::strerror(error);
}

modelobject::modelobject(DiagStream* diag_stream, const std::string& control_file,
                         const settings_context& run_settings)
    : control_path(control_file),
      ncols(run_settings.ncols),
      nrows(run_settings.nrows),
      first_row(run_settings.first_row),
      last_row(run_settings.last_row),
      xllcorner(run_settings.xllcorner),
      yllcorner(run_settings.yllcorner),
      cellsize(run_settings.cellsize),
      nodata(run_settings.nodata),
      strips(run_settings.strips),
      write_ascii_grids(run_settings.write_ascii_grids),
      write_double_grids(run_settings.write_double_grids),
      output_directory(run_settings.output_directory),
      input_directory(run_settings.input_directory),
      halo_send(run_settings.halo_send),
      halo_receive(run_settings.halo_receive),
      report_interval(run_settings.output_control),
      context(&run_settings) {
  diag = diag_stream;
  int initialized_mpi = 0;
  MPI_Initialized(&initialized_mpi);
  if (initialized_mpi) {
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  }
  selected_zones = run_settings.selected_codes;
  if (selected_zones.empty()) selected_zones.assign(1, 0);
  selected_zone_count = selected_zones[0];
  min_to_int_end = run_settings.min_to_int_end;
  use_zone_table(run_settings.zone_table);
  const model_date& end = run_settings.end_date;
  end_year = end.year;
  end_month = end.month;
  end_day = end.day;
  end_hour = end.hour;
  end_key = time_key(end_year, end_month, end_day, end_hour);
}

void modelobject::use_zone_table(const zone_table_view& table) {
  zone_index = table.zone_index;
  zones = table.zones;
  zone_count = table.zone_count;
  max_zone_code = table.max_zone_code;
}

bool modelobject::open_control_file() {
  std::FILE* file = std::fopen(control_path.c_str(), "r");
  // Closing a file opened before must not hide why this open failed.
  const int error = errno;
  control.reset(file);
  errno = error;
  return file != nullptr;
}

void modelobject::write_log_line(int /*ignored*/, const std::string& text) {
  if (rank != 0) return;
  char log_name[64];
  std::snprintf(log_name, sizeof log_name, "modell_%d.log", rank);
  file_handle log(std::fopen(log_name, "a"));
  if (!log) return;
  const std::time_t now = std::time(nullptr);
  char stamp[64] = "";
  ctime_r(&now, stamp);  // 24 characters and a line end
  std::fputs(stamp, log.get());
  std::fputs(": ", log.get());
  std::fwrite(text.data(), 1, text.size(), log.get());
  std::fputc('\n', log.get());
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

void modelobject::fail_write(const std::string& file_name, int code, int error) {
  fail_fatal(*diag, 18, "write error ", file_name, errno_text(error), " ! (", code, ")");
}

void modelobject::fail_read(const std::string& file_name, int code, int error) {
  // Without errno the read ran into the end of the file.
  fail_fatal(*diag, 19, "read error ", file_name,
             error != 0 ? errno_text(error) : std::string(": unexpected end of file"), " ! (",
             code, ")");
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

// One conversion of a scanf format: the literal text in front of it, its
// field width (empty: none), its conversion letter and, for the last
// conversion, the literal text behind it.
struct format_conversion {
  std::string before;
  std::string width;
  char kind = 0;
  std::string after;
};

std::vector<format_conversion> parse_scan_format(const char* format) {
  std::vector<format_conversion> conversions;
  std::string literal;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '%') {
      literal += *p;
      if (*p == '%') literal += *++p;
      continue;
    }
    format_conversion c;
    c.before = literal;
    literal.clear();
    ++p;
    while (*p >= '0' && *p <= '9') c.width += *p++;
    // Length modifiers only say which C type receives the value; the target's
    // type says that here.
    while (*p == 'h' || *p == 'l' || *p == 'L' || *p == 'q' || *p == 'j' || *p == 'z' ||
           *p == 't')
      ++p;
    if (*p == '\0') break;
    c.kind = *p;
    conversions.push_back(c);
  }
  if (!conversions.empty()) conversions.back().after = literal;
  return conversions;
}

bool is_blank_text(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// Matches literal format text as scanf does: 1 when it matched, 0 when not,
// EOF at the end of the file.
int match_literal(std::FILE* file, const std::string& literal) {
  if (literal.empty()) return 1;
  int consumed = -1;
  const std::string format = literal + "%n";
  const int result = std::fscanf(file, format.c_str(), &consumed);
  if (consumed >= 0) return 1;
  return result == EOF || std::feof(file) ? EOF : 0;
}

constexpr std::string_view INTEGER_KINDS = "diouxX";
constexpr std::string_view REAL_KINDS = "aAeEfFgG";

int scan_integer(std::FILE* file, const format_conversion& c, long long& value) {
  if (INTEGER_KINDS.find(c.kind) == std::string_view::npos) {
    assert(!"integer target with a conversion that is no integer conversion");
    return 0;
  }
  const std::string format = "%" + c.width + "ll" + c.kind;
  if (c.kind == 'd' || c.kind == 'i') return std::fscanf(file, format.c_str(), &value);
  unsigned long long unsigned_value = 0;
  const int count = std::fscanf(file, format.c_str(), &unsigned_value);
  if (count == 1) value = static_cast<long long>(unsigned_value);
  return count;
}

int scan_real(std::FILE* file, const format_conversion& c, double& value) {
  if (REAL_KINDS.find(c.kind) == std::string_view::npos) {
    assert(!"real target with a conversion that is no real conversion");
    return 0;
  }
  const std::string format = "%" + c.width + "l" + c.kind;
  return std::fscanf(file, format.c_str(), &value);
}

}  // namespace

int modelobject::scan_conversion(std::FILE* file, const char* format, int index,
                                 scan_target target) {
  const std::vector<format_conversion> conversions = parse_scan_format(format);
  if (index < 0 || static_cast<size_t>(index) >= conversions.size()) {
    assert(!"format with too few conversions");
    return 0;
  }
  const format_conversion& c = conversions[static_cast<size_t>(index)];
  // A word is read whole into a text, so a missing value would otherwise
  // swallow the header of the next section.
  if (std::holds_alternative<std::string*>(target) && section_header_follows(file)) return 0;
  // Blank literal text only skips white space, which every conversion used
  // here does anyway.
  if (!is_blank_text(c.before)) {
    const int matched = match_literal(file, c.before);
    if (matched != 1) return matched;
  }
  const int count = std::visit(
      [&](auto* t) -> int {
        using T = std::remove_pointer_t<decltype(t)>;
        if constexpr (std::is_same_v<T, std::string>) {
          assert(c.kind == 's');
          const size_t width = c.width.empty() ? static_cast<size_t>(-1) : std::stoul(c.width);
          return read_token(file, *t, width == 0 ? static_cast<size_t>(-1) : width);
        } else if constexpr (std::is_floating_point_v<T>) {
          double value = 0;
          const int n = scan_real(file, c, value);
          if (n == 1) *t = static_cast<T>(value);
          return n;
        } else {
          long long value = 0;
          const int n = scan_integer(file, c, value);
          if (n == 1) *t = static_cast<T>(value);
          return n;
        }
      },
      target);
  if (count == 1 && !c.after.empty()) match_literal(file, c.after);
  return count;
}

int modelobject::scan_one(std::FILE* file, int& target) {
  return scan_conversion(file, "%d", 0, &target);
}
int modelobject::scan_one(std::FILE* file, long& target) {
  return scan_conversion(file, "%ld", 0, &target);
}
int modelobject::scan_one(std::FILE* file, double& target) {
  return scan_conversion(file, "%lf", 0, &target);
}
int modelobject::scan_one(std::FILE* file, float& target) {
  return scan_conversion(file, "%f", 0, &target);
}
int modelobject::scan_one(std::FILE* file, std::string& target) {
  return scan_conversion(file, "%s", 0, &target);
}

bool modelobject::section_header_follows(std::FILE* file) {
  const long start = std::ftell(file);
  if (start < 0) return false;
  // Back over the blanks before the position (a failed number conversion
  // has already skipped them) to the line end before them, if any.
  bool line_start = true;
  for (long before = start - 1; before >= 0; --before) {
    if (std::fseek(file, before, SEEK_SET) != 0) return false;
    const int c = std::fgetc(file);
    if (c == '\n') break;
    if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
      line_start = false;
      break;
    }
  }
  if (std::fseek(file, start, SEEK_SET) != 0) return false;
  int c = std::fgetc(file);
  while (c != EOF && std::isspace(c)) {
    if (c == '\n') line_start = true;
    c = std::fgetc(file);
  }
  std::fseek(file, start, SEEK_SET);
  return line_start && c == '[';
}

void modelobject::fail_unreadable_value(std::FILE* file, const std::string& key,
                                        bool with_next_word) {
  const bool header = !current_section.empty() && section_header_follows(file);
  if (with_next_word) report_unreadable_value(file, key);
  fail_control_file(key, header ? current_section : name);
}

void modelobject::report_unreadable_value(std::FILE* file, const std::string& key) {
  (void)key;
  diag_entry(*diag, "--> In .", "\n", "  Next line in Velmo control file: ");
  std::string token;
  read_token(file, token, 999);
  diag_entry(*diag, token);
}

bool modelobject::seek_section(const std::string& section, bool must_exist) {
  current_section = section;
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
  name.clear();
  control_path.clear();
  text_buffer.clear();
  section_buffer.clear();
}

void modelobject::warn_not_built(const char* what) {
  diag_entry(*diag, "WARNING: ", name, " is not built yet: ", what);
}
