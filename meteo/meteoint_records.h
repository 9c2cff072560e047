// Parsing kernels of the meteorological interpolator's inputs: the words of a
// station-file header, a dated row of station values, a row of a regression
// table (text or 120-byte binary record), a row of a grid list and the extra
// lines of an interpolator section. Pure functions on text and bytes: no
// files, no diagnostics, so every rule about years, invalid values and short
// rows can be tested on its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "modelbase/gifgrid.h"
#include "modelbase/settings_context.h"

// A date of a station, regression or grid-list row.
using record_date = model_date;

// Bytes of the row buffer of one station file, and its rows per fill.
constexpr int64_t STATION_BUFFER_BYTES = 2097152;  // [bytes]
int64_t station_buffer_capacity(int station_count);
// Rows of the regression buffer per fill.
constexpr int64_t REGRESSION_BUFFER_ROWS = 16384;
// Bytes of one binary regression record: four int64 and eleven doubles.
constexpr size_t REGRESSION_RECORD_BYTES = 120;
// Numbers of a regression set (a1, b1, zlow, a2, b2, zup, a3, b3, c0, gx, gy).
constexpr int REGRESSION_SET_SIZE = 11;

// Station tables and grid lists write years below 100 short.
int64_t station_year(int64_t year);
// Regression tables write years up to 999 short.
int64_t regression_year(int64_t year);
// A row dated 0.0.0 ends the data of a file.
bool is_end_row(const record_date& date);

// The stored value: v when -nodata <= v <= nodata, else -nodata - 1.
double station_value(double value, double nodata);
// 1 when all valid values of values[1..n] are equal or none is valid (also
// for n = 0), else 0.
int16_t uniform_flag(const double* values, int n, double nodata);

// The number behind "AdditionalColumns=" anywhere on a section line; 0 when
// the text is absent or no number follows it.
int additional_columns_of(std::string_view line);
// The first word of a line; empty when there is none.
std::string_view first_word(std::string_view line);
// The searches for a start date print a progress dot at each month's first row.
inline bool is_progress_dot_date(const record_date& date) {
  return date.day == 1 && (date.hour == 0 || date.hour > 23);
}
// A line without any word.
inline bool is_blank(std::string_view line) { return first_word(line).empty(); }

// Walks the words of a line (separated by blanks, tabs and other white space).
class word_cursor {
 public:
  explicit word_cursor(std::string_view text) : text_(text) {}
  // The next word; false when none is left.
  bool next(std::string_view& word);
  // Skips count words; false when the line ends first.
  bool skip(int count);

 private:
  std::string_view text_;
  size_t at_ = 0;
};

// A whole word as an integer (a leading '+' allowed); false when any of it
// is not part of the number. Values are read by parse_number of the grid
// files, with the same strictness.
bool parse_integer(std::string_view word, int64_t& value);
// The number a header word begins with, 0 when it begins with none.
double header_number(std::string_view word);
// Whether a word begins with a number.
bool begins_with_number(std::string_view word);

// Stations of a file: after leading_words words of its line 2, the count of
// consecutive words that begin with a number.
int count_header_stations(std::string_view line2, int leading_words);

// How a data row was read.
enum class row_status {
  ok,
  no_date,    // the four date words are not all integers (or missing)
  too_short,  // fewer values than expected
  not_number  // a word in a value's place is no number
};
struct row_result {
  row_status status = row_status::ok;
  int values_read = 0;  // values read before the row stopped
  std::string_view word;  // the word that is no number
};

// A station row: year, month, day, hour, additional words, station_count
// values into values[1..n] (invalid values as -nodata - 1), then any text.
// The date is the one written in the row (years not yet completed).
row_result parse_station_row(std::string_view line, int additional, int station_count,
                             double nodata, record_date& date, double* values);
// The date of a row alone (the words after it are not looked at).
bool parse_row_date(std::string_view line, record_date& date);
// A text regression row: date and eleven numbers into set[1..11].
row_result parse_regression_row(std::string_view line, record_date& date,
                                std::array<double, 12>& set);
// A binary regression record of REGRESSION_RECORD_BYTES bytes, machine order.
void decode_regression_record(const unsigned char* bytes, record_date& date,
                              std::array<double, 12>& set);
// Text form when the first two bytes are "jr" and the fourth and fifth "mo".
bool is_text_regression(const unsigned char* head, size_t count);
// A grid-list row: date, additional words and the grid name.
bool parse_grid_list_row(std::string_view line, int additional, record_date& date,
                         std::string& grid_name);

// ---- the extra lines of an interpolator section ----
// gif_mapping: the class-to-value rule of GIF grids (modelbase/gifgrid.h).
// "%lf%lf%d%lf%lf": true when all five are read.
bool parse_gif_mapping(const std::string& line, gif_mapping& mapping);

struct elevation_regression_line {
  double lower_inversion = 0;  // [m]
  double upper_inversion = 0;  // [m]
  double tolerance = 0;
  int overlap = 0;
  double cluster_range = 0;
  double upper_lapse_rate = -9999;  // above the upper inversion; -9999 when not given
};
// "%lf%lf%lf%d%lf%lf": the count read (0 for an empty line).
int parse_elevation_regression(const std::string& line, elevation_regression_line& values);

struct lapse_rate_line {
  double lapse_rate = 0;
  double inversion_height = -9999;        // [m]
  double fixed_upper_lapse_rate = -9999;
  int p_type = 0;  // 1 when a fourth word contains "P-type"
};
// "%lf%lf%lf%s": the count read (0 for an empty line).
int parse_lapse_rate(const std::string& line, lapse_rate_line& values);

// floor(1000 w), held within the int range.
int weight_code_of(double idw_weight);
