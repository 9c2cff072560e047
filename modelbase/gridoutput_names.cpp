// The calendar tests of a step and the file-name rules of output by write
// code and of the grids derived at set-up.
#include <cstdio>
#include <string>

#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

namespace {

// printf into a std::string; the names are short, the buffer grows if not.
template <class... Args>
std::string format_text(const char* format, Args... args) {
  char buffer[256];
  const int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(n));
  return text;
}

int stem_width(const std::string& stem) { return static_cast<int>(stem.size()); }

}  // namespace

bool is_day_end(const output_date& date, double hour_shift) {
  return static_cast<int64_t>(static_cast<double>(date.hour) + hour_shift) == 24;
}

bool is_month_end(const output_date& date, double hour_shift, const int* month_days) {
  if (!is_day_end(date, hour_shift) || date.month < 1 || date.month > 12) return false;
  return date.day == month_days[date.month];
}

bool is_year_end(const output_date& date, double hour_shift, const int* month_days) {
  return is_month_end(date, hour_shift, month_days) && date.day == 31 && date.month == 12;
}

bool is_run_end(const output_date& date, int64_t end_key) {
  return time_key(date.year, date.month, date.day, date.hour) >= end_key;
}

bool period_ends(int tens, bool day_end, bool month_end, bool year_end, bool run_end) {
  switch (tens) {
    case 1:
    case 5:
      return run_end;
    case 2:
    case 6:
      return year_end;
    case 3:
    case 7:
      return month_end;
    case 4:
    case 8:
      return day_end;
    default:
      return false;
  }
}

std::string output_directory_part(const std::string& file_name) {
  const size_t slash = file_name.rfind('/');
  return slash == std::string::npos ? std::string() : file_name.substr(0, slash + 1);
}

std::string output_stem(const std::string& file_name, size_t max_chars) {
  const size_t slash = file_name.rfind('/');
  const std::string base = slash == std::string::npos ? file_name : file_name.substr(slash + 1);
  const size_t dot = base.find('.');
  std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
  if (stem.size() > max_chars) stem.resize(max_chars);
  return stem;
}

std::string output_name_with_suffix(const std::string& file_name, const std::string& suffix) {
  return output_directory_part(file_name) + output_stem(file_name) + suffix;
}

std::string dated_output_name(const std::string& file_name, const output_date& date, int64_t repeat,
                              size_t max_stem) {
  const std::string stem = output_stem(file_name, max_stem);
  const long y = static_cast<long>(date.year);
  const long m = static_cast<long>(date.month);
  const long d = static_cast<long>(date.day);
  const long h = static_cast<long>(date.hour);
  const std::string name =
      repeat > 0
          ? format_text("%.*s_%04ld%02ld%02ld.%03ld_%.03ld", stem_width(stem), stem.c_str(), y, m,
                        d, h, static_cast<long>(repeat))
          : format_text("%.*s_%04ld%02ld%02ld.%03ld", stem_width(stem), stem.c_str(), y, m, d, h);
  return output_directory_part(file_name) + name;
}

std::string next_dated_output_name(write_output_state& state, const std::string& file_name,
                                   const output_date& date, size_t max_stem) {
  const bool same_date = state.dated_year == date.year && state.dated_month == date.month &&
                         state.dated_day == date.day && state.dated_hour == date.hour;
  if (same_date)
    ++state.repeat_counter;
  else
    state.repeat_counter = 0;
  state.dated_year = date.year;
  state.dated_month = date.month;
  state.dated_day = date.day;
  state.dated_hour = date.hour;
  return dated_output_name(file_name, date, state.repeat_counter, max_stem);
}

std::string filled_output_name(const std::string& file_name) {
  return format_text("%s.filled", file_name.c_str());
}

std::string period_output_name(const std::string& file_name, int tens, const output_date& date) {
  const std::string stem = output_stem(file_name);
  const int w = stem_width(stem);
  const char* s = stem.c_str();
  const long yy = static_cast<long>(date.year % 100);
  const long m = static_cast<long>(date.month);
  const long d = static_cast<long>(date.day);
  std::string name;
  switch (tens) {
    case 1:
      name = format_text("%.*s.sum", w, s);
      break;
    case 5:
      name = format_text("%.*s.mit", w, s);
      break;
    case 2:
      name = format_text("%.*s_%02ld00.sum", w, s, yy);
      break;
    case 6:
      name = format_text("%.*s_%02ld00.mit", w, s, yy);
      break;
    case 3:
      name = format_text("%.*s_%02ld%02ld.sum", w, s, yy, m);
      break;
    case 7:
      name = format_text("%.*s_%02ld%02ld.mit", w, s, yy, m);
      break;
    case 4:
      name = format_text("%.*s_%02ld%02ld.%02lds", w, s, yy, m, d);
      break;
    case 8:
      name = format_text("%.*s_%02ld%02ld.%02ldm", w, s, yy, m, d);
      break;
    default:
      return std::string();
  }
  return output_directory_part(file_name) + name;
}

std::string minimum_output_name(const std::string& file_name) {
  const std::string stem = output_stem(file_name);
  return output_directory_part(file_name) + format_text("%.*s.min", stem_width(stem), stem.c_str());
}

std::string maximum_output_name(const std::string& file_name) {
  const std::string stem = output_stem(file_name);
  return output_directory_part(file_name) + format_text("%.*s.max", stem_width(stem), stem.c_str());
}

std::string vegetation_output_name(const std::string& file_name, int thousands, int64_t year) {
  const std::string stem = output_stem(file_name);
  const long yy = static_cast<long>(year % 100);
  const char* format = thousands == 1   ? "%.*s_%04ld_vegper.sum"
                       : thousands == 2 ? "%.*s_%04ld_vegper.mit"
                                        : nullptr;
  if (format == nullptr) return std::string();
  return output_directory_part(file_name) + format_text(format, stem_width(stem), stem.c_str(), yy);
}

std::string vegetation_layer_name(const std::string& file_name) {
  static const std::string marker = "_Layer_";
  const size_t at = file_name.find(marker);
  if (at == std::string::npos) return "1";
  const size_t from = at + marker.size();
  const size_t dot = file_name.find('.', from);
  return dot == std::string::npos ? file_name.substr(from) : file_name.substr(from, dot - from);
}

std::string derived_grid_file_name(const std::string& base_file_name, const std::string& suffix) {
  const size_t dot = base_file_name.rfind('.');
  if (dot == std::string::npos) return base_file_name + suffix;
  return base_file_name.substr(0, dot) + suffix;
}
