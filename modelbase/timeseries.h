// TimeSeriesReader: buffered reading of a text table of dated rows (header
// lines, then one row per line: year, month, day, hour and a fixed number of
// values). It holds a window of consecutive rows, hands out the current
// row's date and values and reads the next window when the caller moves past
// the last row of the window. The file is closed between windows; each fill
// reopens it at the position where the previous one stopped, so a long
// series never keeps a file open while the model runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// reader_status values.
constexpr int TSR_NOT_OPENED = 0;
constexpr int TSR_MORE_ROWS = 1;     // the file holds more rows than the window
constexpr int TSR_LAST_WINDOW = 2;   // the window holds the last rows of the file
constexpr int TSR_CANNOT_OPEN = 3;   // the file cannot be opened (or reopened)
constexpr int TSR_PAST_END = 4;      // the caller moved past the last row
constexpr int TSR_BAD_DATA = 5;      // no data row found, or a row cannot be read
constexpr int TSR_ROW_TOO_WIDE = 6;  // one row needs more than the buffer budget

// Thrown by open when the first data row cannot be examined.
constexpr int TSR_FIRST_ROW_UNREADABLE = 201;
constexpr int TSR_POSITION_UNKNOWN = 202;

class TimeSeriesReader {
 public:
  // An empty reader (status 0), opened later with open.
  TimeSeriesReader() = default;
  // flag: kept and not used by the reader.
  TimeSeriesReader(const std::string& path, int flag, uint64_t buffer_bytes);
  TimeSeriesReader(const TimeSeriesReader&) = delete;
  TimeSeriesReader& operator=(const TimeSeriesReader&) = delete;

  // The number of header lines skipped; 3, 5 or 6 when the table cannot be
  // used (reader_status tells these apart from a header of that many lines).
  // A reader whose status is not 0 is not opened again: returns 0.
  int open(const std::string& path, uint64_t buffer_bytes);
  // Advances to the next row, reading the next window when needed.
  void next_row();
  // Makes row current when it lies in -1 .. rows_in_buffer.
  void set_row(int64_t row);
  // Moves the current row by n when the result lies in -1 .. rows_in_buffer.
  void move_row(int64_t n);
  // The current row's date; -9999 in all four when no row of the window is
  // current.
  void get_date(int& year, int& month, int& day, int& hour) const;
  // The current row's value in column (from 0); -9999 outside the columns or
  // when no row of the window is current.
  double get_value(int column) const;
  // Releases the row storage; the reader keeps its other fields.
  void free_buffers();

  int64_t current() const { return current_row; }
  int64_t rows_held() const { return rows_in_buffer; }
  int64_t rows_per_window() const { return rows_per_buffer; }
  const std::string& path() const { return reader_path; }

  int reader_status = TSR_NOT_OPENED;
  int64_t value_count = 0;  // values per row, fixed by the first data row

 private:
  // The date and values of one row.
  struct parsed_row {
    int64_t date[4] = {0, 0, 0, 0};  // year, month, day, hour
    std::vector<double> values;
  };

  // Reads the next window from data_position on.
  void fill_buffer();
  // Parses one data line into row: the four date integers and at least
  // value_count numbers (more text after them is ignored). False when any
  // of them cannot be read, or a date integer lies beyond the 32-bit range.
  bool parse_row(const std::string& line, parsed_row& row) const;

  std::string reader_path;
  uint64_t buffer_bytes = 0;
  int64_t rows_per_buffer = 0;
  // The window: per row its date (four values) and value_count values.
  std::vector<int64_t> dates;
  std::vector<double> values;
  int64_t current_row = 0;
  int64_t rows_in_buffer = 0;
  int64_t file_size = 0;      // [bytes] measured once by open
  int64_t data_position = 0;  // [bytes] where the next fill starts
  int unused_flag = 0;
};
