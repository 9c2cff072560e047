#include "meteo/meteoint_records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "modelbase/gridfile_format.h"

namespace {

bool is_separator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Parses the four date words of a row.
bool read_date(word_cursor& words, record_date& date) {
  int64_t parts[4] = {0, 0, 0, 0};
  std::string_view word;
  for (int64_t& part : parts)
    if (!words.next(word) || !parse_integer(word, part)) return false;
  date = record_date{parts[0], parts[1], parts[2], parts[3]};
  return true;
}

// Reads count values into values[1..count] through convert.
template <class Convert>
row_result read_values(word_cursor& words, int count, Convert convert) {
  row_result result;
  std::string_view word;
  for (int k = 1; k <= count; ++k) {
    if (!words.next(word)) {
      result.status = row_status::too_short;
      return result;
    }
    double value = 0;
    if (!parse_number(word, value)) {
      result.status = row_status::not_number;
      result.word = word;
      return result;
    }
    convert(k, value);
    ++result.values_read;
  }
  return result;
}

}  // namespace

int64_t station_buffer_capacity(int station_count) {
  const int64_t row_bytes = 8 * (static_cast<int64_t>(station_count) + 1) + 32;
  return std::max<int64_t>(1, STATION_BUFFER_BYTES / row_bytes);
}

int64_t station_year(int64_t year) { return year < 100 ? year + 1900 : year; }

int64_t regression_year(int64_t year) { return year <= 999 ? year + 1900 : year; }

bool is_end_row(const record_date& date) {
  return date.year == 0 && date.month == 0 && date.day == 0;
}

double station_value(double value, double nodata) {
  return value >= -nodata && value <= nodata ? value : -nodata - 1;
}

int16_t uniform_flag(const double* values, int n, double nodata) {
  if (n <= 0) return 1;
  const double invalid = -nodata - 1;
  double low = invalid;
  double high = invalid;
  bool any = false;
  for (int k = 1; k <= n; ++k) {
    const double v = values[k];
    if (!(v >= -nodata && v <= nodata)) continue;
    if (!any) {
      low = high = v;
      any = true;
    }
    low = std::min(low, v);
    high = std::max(high, v);
  }
  return low == high ? 1 : 0;
}

int additional_columns_of(std::string_view line) {
  static constexpr std::string_view key = "AdditionalColumns=";
  const size_t at = line.find(key);
  if (at == std::string_view::npos) return 0;
  const std::string rest(line.substr(at + key.size()));
  return std::atoi(rest.c_str());
}

std::string_view first_word(std::string_view line) {
  word_cursor words(line);
  std::string_view word;
  return words.next(word) ? word : std::string_view();
}

bool word_cursor::next(std::string_view& word) {
  while (at_ < text_.size() && is_separator(text_[at_])) ++at_;
  if (at_ >= text_.size()) return false;
  const size_t start = at_;
  while (at_ < text_.size() && !is_separator(text_[at_])) ++at_;
  word = text_.substr(start, at_ - start);
  return true;
}

bool word_cursor::skip(int count) {
  std::string_view word;
  for (int k = 0; k < count; ++k)
    if (!next(word)) return false;
  return true;
}

bool parse_integer(std::string_view word, int64_t& value) {
  if (!word.empty() && word.front() == '+') {
    word.remove_prefix(1);
    if (!word.empty() && word.front() == '-') return false;
  }
  const char* end = word.data() + word.size();
  const auto [ptr, ec] = std::from_chars(word.data(), end, value);
  return ec == std::errc() && ptr == end;
}

double header_number(std::string_view word) {
  const std::string copy(word);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() ? 0.0 : value;
}

bool begins_with_number(std::string_view word) {
  const std::string copy(word);
  char* end = nullptr;
  (void)std::strtod(copy.c_str(), &end);
  return end != copy.c_str();
}

int count_header_stations(std::string_view line2, int leading_words) {
  word_cursor words(line2);
  if (!words.skip(leading_words)) return 0;
  int count = 0;
  std::string_view word;
  while (words.next(word) && begins_with_number(word)) ++count;
  return count;
}

bool parse_row_date(std::string_view line, record_date& date) {
  word_cursor words(line);
  return read_date(words, date);
}

row_result parse_station_row(std::string_view line, int additional, int station_count,
                             double nodata, record_date& date, double* values) {
  word_cursor words(line);
  row_result result;
  if (!read_date(words, date)) {
    result.status = row_status::no_date;
    return result;
  }
  if (!words.skip(additional)) {
    result.status = station_count > 0 ? row_status::too_short : row_status::ok;
    return result;
  }
  return read_values(words, station_count,
                     [&](int k, double v) { values[k] = station_value(v, nodata); });
}

row_result parse_regression_row(std::string_view line, record_date& date,
                                std::array<double, 12>& set) {
  word_cursor words(line);
  row_result result;
  if (!read_date(words, date)) {
    result.status = row_status::no_date;
    return result;
  }
  return read_values(words, REGRESSION_SET_SIZE,
                     [&](int k, double v) { set[static_cast<size_t>(k)] = v; });
}

void decode_regression_record(const unsigned char* bytes, record_date& date,
                              std::array<double, 12>& set) {
  int64_t parts[4];
  std::memcpy(parts, bytes, sizeof parts);
  date = record_date{parts[0], parts[1], parts[2], parts[3]};
  set[0] = 0;
  std::memcpy(&set[1], bytes + sizeof parts, REGRESSION_SET_SIZE * sizeof(double));
}

bool is_text_regression(const unsigned char* head, size_t count) {
  return count >= 5 && head[0] == 'j' && head[1] == 'r' && head[3] == 'm' && head[4] == 'o';
}

bool parse_grid_list_row(std::string_view line, int additional, record_date& date,
                         std::string& grid_name) {
  word_cursor words(line);
  std::string_view word;
  if (!read_date(words, date) || !words.skip(additional) || !words.next(word)) return false;
  grid_name.assign(word);
  return true;
}

bool parse_gif_mapping(const std::string& line, gif_mapping& m) {
  return std::sscanf(line.c_str(), "%lf%lf%d%lf%lf", &m.f1, &m.x1, &m.threshold, &m.f2, &m.x2) ==
         5;
}

int parse_elevation_regression(const std::string& line, elevation_regression_line& v) {
  const int count = std::sscanf(line.c_str(), "%lf%lf%lf%d%lf%lf", &v.lower_inversion,
                                &v.upper_inversion, &v.tolerance, &v.overlap, &v.cluster_range,
                                &v.upper_lapse_rate);
  if (count < 6) v.upper_lapse_rate = -9999;
  return std::max(count, 0);
}

int parse_lapse_rate(const std::string& line, lapse_rate_line& v) {
  // The P-type word has the rest of the line at most.
  std::string word(line.size() + 1, '\0');
  const int count = std::sscanf(line.c_str(), "%lf%lf%lf%s", &v.lapse_rate, &v.inversion_height,
                                &v.fixed_upper_lapse_rate, word.data());
  if (count < 3) {
    v.inversion_height = -9999;
    v.fixed_upper_lapse_rate = -9999;
  }
  v.p_type = count == 4 && std::strstr(word.c_str(), "P-type") != nullptr ? 1 : 0;
  return std::max(count, 0);
}

int weight_code_of(double idw_weight) {
  const double code = std::floor(1000.0 * idw_weight);
  if (!(code > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (code >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(code);
}
