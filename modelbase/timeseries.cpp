#include "modelbase/timeseries.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace {

constexpr uint64_t BYTES_PER_VALUE = 8;  // [bytes] counted per value of a row
constexpr uint64_t BYTES_PER_ROW = 16;   // [bytes] counted per row besides its values
constexpr double MISSING = -9999.0;

bool is_digit(int c) { return c >= '0' && c <= '9'; }

bool is_blank(const std::string& line) {
  for (const char c : line)
    if (std::isspace(static_cast<unsigned char>(c)) == 0) return false;
  return true;
}

// The read position; at the end of the file the stream's end flag is cleared
// first, since a stream past its end reports no position.
int64_t position(std::ifstream& in) {
  if (in.eof()) in.clear();
  return static_cast<int64_t>(in.tellg());
}

// Skips white space; the position of the next other character, or of the
// end of the file.
int64_t skip_space(std::ifstream& in) {
  while (std::isspace(in.peek()) != 0) in.get();
  return position(in);
}

// A date part; one that get_date could not hand out unchanged (beyond the
// 32-bit range) makes its row unreadable instead of wrapping to another date.
bool read_date_part(const char*& p, int64_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  value = v;
  p = end;
  return true;
}

bool read_number(const char*& p, double& value) {
  char* end = nullptr;
  const double v = std::strtod(p, &end);
  if (end == p) return false;
  value = v;
  p = end;
  return true;
}

}  // namespace

TimeSeriesReader::TimeSeriesReader(const std::string& file_path, int flag, uint64_t bytes)
    : unused_flag(flag) {
  open(file_path, bytes);
}

int TimeSeriesReader::open(const std::string& file_path, uint64_t bytes) {
  if (reader_status != TSR_NOT_OPENED) return 0;
  reader_path = file_path;
  buffer_bytes = bytes;
  std::ifstream in(reader_path, std::ios::binary);
  if (!in) {
    reader_status = TSR_CANNOT_OPEN;
    return TSR_CANNOT_OPEN;
  }

  // Every line before the first line that begins with a digit is a header.
  int header_lines = 0;
  std::string line;
  while (!is_digit(in.peek())) {
    if (!std::getline(in, line) || in.eof()) {
      reader_status = TSR_BAD_DATA;
      return TSR_BAD_DATA;
    }
    ++header_lines;
  }

  data_position = static_cast<int64_t>(in.tellg());
  if (data_position < 0) throw TSR_POSITION_UNKNOWN;
  if (!std::getline(in, line)) throw TSR_FIRST_ROW_UNREADABLE;

  // The date, then as many numbers as follow one another.
  const char* p = line.c_str();
  int64_t date = 0;
  for (int k = 0; k < 4; ++k) {
    if (!read_date_part(p, date)) {
      reader_status = TSR_BAD_DATA;
      return TSR_BAD_DATA;
    }
  }
  value_count = 0;
  double number = 0;
  while (read_number(p, number)) ++value_count;

  in.clear();
  in.seekg(0, std::ios::end);
  file_size = static_cast<int64_t>(in.tellg());
  in.close();

  rows_per_buffer = static_cast<int64_t>(
      buffer_bytes / (static_cast<uint64_t>(value_count) * BYTES_PER_VALUE + BYTES_PER_ROW));
  if (rows_per_buffer == 0) {
    // Not even one row fits the budget: no window could ever be read.
    reader_status = TSR_ROW_TOO_WIDE;
    return TSR_ROW_TOO_WIDE;
  }
  rows_in_buffer = 0;
  current_row = 0;
  reader_status = TSR_MORE_ROWS;
  fill_buffer();
  return header_lines;
}

bool TimeSeriesReader::parse_row(const std::string& line, parsed_row& row) const {
  const char* p = line.c_str();
  for (int64_t& part : row.date)
    if (!read_date_part(p, part)) return false;
  row.values.resize(static_cast<size_t>(value_count));
  for (double& v : row.values)
    if (!read_number(p, v)) return false;
  return true;
}

void TimeSeriesReader::fill_buffer() {
  const auto width = static_cast<size_t>(value_count);
  dates.resize(static_cast<size_t>(rows_per_buffer) * 4);
  values.resize(static_cast<size_t>(rows_per_buffer) * width);

  std::ifstream in(reader_path, std::ios::binary);
  if (in) in.seekg(data_position);
  if (!in) {
    // The table is gone or cannot be read any more: a window can never be
    // read again, which the caller must learn instead of retrying for ever.
    reader_status = TSR_CANNOT_OPEN;
    rows_in_buffer = 0;
    current_row = 0;
    return;
  }

  int64_t read = 0;
  bool bad_row = false;
  parsed_row row;
  std::string line;
  while (read < rows_per_buffer) {
    // Blank lines anywhere, also at the end, are skipped; rows that were
    // added after open are not read.
    if (skip_space(in) >= file_size || !std::getline(in, line)) break;
    if (is_blank(line)) continue;
    if (!parse_row(line, row)) {
      bad_row = true;
      break;
    }
    const auto at = static_cast<size_t>(read);
    for (size_t k = 0; k < 4; ++k) dates[at * 4 + k] = row.date[k];
    for (size_t k = 0; k < width; ++k) values[at * width + k] = row.values[k];
    ++read;
  }

  if (bad_row) {
    reader_status = TSR_BAD_DATA;
  } else if (read == 0) {
    // Nothing left to read: the window and the current row stay as they were.
    reader_status = TSR_PAST_END;
    data_position = position(in);
    return;
  } else {
    // A window that ends exactly at the last row is the last window.
    reader_status = skip_space(in) >= file_size ? TSR_LAST_WINDOW : TSR_MORE_ROWS;
  }
  rows_in_buffer = read;
  current_row = 0;
  data_position = position(in);
}

void TimeSeriesReader::next_row() {
  if (current_row < rows_in_buffer - 1) {
    ++current_row;
  } else if (reader_status == TSR_MORE_ROWS) {
    fill_buffer();
  } else if (reader_status == TSR_LAST_WINDOW) {
    reader_status = TSR_PAST_END;
  }
}

void TimeSeriesReader::set_row(int64_t row) {
  if (row >= -1 && row <= rows_in_buffer) current_row = row;
}

void TimeSeriesReader::move_row(int64_t n) { set_row(current_row + n); }

void TimeSeriesReader::get_date(int& year, int& month, int& day, int& hour) const {
  const auto at = static_cast<size_t>(current_row) * 4;
  if (current_row < 0 || current_row >= rows_in_buffer || at + 3 >= dates.size()) {
    year = month = day = hour = static_cast<int>(MISSING);
    return;
  }
  year = static_cast<int>(dates[at]);
  month = static_cast<int>(dates[at + 1]);
  day = static_cast<int>(dates[at + 2]);
  hour = static_cast<int>(dates[at + 3]);
}

double TimeSeriesReader::get_value(int column) const {
  if (column < 0 || column >= value_count || current_row < 0 || current_row >= rows_in_buffer)
    return MISSING;
  const size_t at = static_cast<size_t>(current_row) * static_cast<size_t>(value_count) +
                    static_cast<size_t>(column);
  return at < values.size() ? values[at] : MISSING;
}

void TimeSeriesReader::free_buffers() {
  std::vector<int64_t>().swap(dates);
  std::vector<double>().swap(values);
}
