// The time-series reader on small tables: header detection, windows across
// refills, the end of a table (trailing blank lines, a short last row, past
// the end) and every status a broken or vanished table gives. Expected rows
// are the table texts themselves.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/timeseries.h"
#include "support/test_support.h"

namespace {

struct row {
  int year, month, day, hour;
  std::vector<double> values;
  bool operator==(const row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const row& r) {
  out << r.year << "-" << r.month << "-" << r.day << " " << r.hour << " [";
  for (double v : r.values) out << " " << v;
  return out << " ]";
}

// n hourly rows of 1 January 2000 with the values h + 0.5 and 10 h.
std::string hourly_rows(int n) {
  std::ostringstream s;
  for (int h = 0; h < n; ++h) s << "2000 1 1 " << h << " " << h + 0.5 << " " << 10 * h << "\n";
  return s.str();
}
std::vector<row> hourly_expected(int n) {
  std::vector<row> rows;
  for (int h = 0; h < n; ++h) rows.push_back({2000, 1, 1, h, {h + 0.5, 10.0 * h}});
  return rows;
}

// Steps from before the first row to the end (at most limit steps, so that a
// reader that never ends cannot hang the test) and collects every row.
std::vector<row> read_all(TimeSeriesReader& reader, int limit = 10000) {
  std::vector<row> rows;
  reader.set_row(-1);
  for (int step = 0; step < limit; ++step) {
    reader.next_row();
    if (reader.reader_status != TSR_MORE_ROWS && reader.reader_status != TSR_LAST_WINDOW) break;
    row r;
    reader.get_date(r.year, r.month, r.day, r.hour);
    for (int k = 0; k < reader.value_count; ++k) r.values.push_back(reader.get_value(k));
    rows.push_back(r);
  }
  return rows;
}

TEST(TimeSeriesReader, TablesReadToTheirEnd) {
  struct table_case {
    std::string name;
    std::string text;  // absent file when "<none>"
    uint64_t bytes;
    int opened;         // result of open
    int status_opened;  // status after open
    int64_t value_count;
    std::vector<row> rows;
    int final_status;
  };
  // Two values per row count 2 * 8 + 16 = 32 bytes: a budget of 100 bytes
  // holds 3 rows per window, 96 bytes exactly 3.
  const std::vector<table_case> cases = {
      {"no header", hourly_rows(3), 1000, 0, TSR_LAST_WINDOW, 2, hourly_expected(3), TSR_PAST_END},
      {"two header lines", "station A\n-12.5 47.1\n" + hourly_rows(2), 1000, 2, TSR_LAST_WINDOW, 2,
       hourly_expected(2), TSR_PAST_END},
      {"three header lines (not status 3)", " x\n+y\nz\n" + hourly_rows(2), 1000, 3,
       TSR_LAST_WINDOW, 2, hourly_expected(2), TSR_PAST_END},
      {"header lines only", "a\nb\n", 1000, 5, TSR_BAD_DATA, 0, {}, TSR_BAD_DATA},
      {"empty file", "", 1000, 5, TSR_BAD_DATA, 0, {}, TSR_BAD_DATA},
      {"missing file", "<none>", 1000, 3, TSR_CANNOT_OPEN, 0, {}, TSR_CANNOT_OPEN},
      {"ten rows in windows of three", "h\n" + hourly_rows(10), 100, 1, TSR_MORE_ROWS, 2,
       hourly_expected(10), TSR_PAST_END},
      {"two exactly full windows", hourly_rows(6), 96, 0, TSR_MORE_ROWS, 2, hourly_expected(6),
       TSR_PAST_END},
      {"one exactly full window is the last", hourly_rows(3), 96, 0, TSR_LAST_WINDOW, 2,
       hourly_expected(3), TSR_PAST_END},
      {"trailing blank lines", hourly_rows(4) + "\n\n      \n\t\t\n\n\n\n", 100, 0, TSR_MORE_ROWS,
       2, hourly_expected(4), TSR_PAST_END},
      {"blank lines between rows", "2000 1 1 0 0.5 0\n\n\n2000 1 1 1 1.5 10\n", 1000, 0,
       TSR_LAST_WINDOW, 2, hourly_expected(2), TSR_PAST_END},
      {"short last row without line end",
       "2000 1 1 0 1.5\n1 1 1 1 7",
       1000,
       0,
       TSR_LAST_WINDOW,
       1,
       {{2000, 1, 1, 0, {1.5}}, {1, 1, 1, 1, {7}}},
       TSR_PAST_END},
      {"first data row without line end",
       "h\n2000 1 1 0 4.5",
       1000,
       1,
       TSR_LAST_WINDOW,
       1,
       {{2000, 1, 1, 0, {4.5}}},
       TSR_PAST_END},
      {"line ends CR LF", "h\r\n2000 1 1 0 0.5 0\r\n2000 1 1 1 1.5 10\r\n", 1000, 1,
       TSR_LAST_WINDOW, 2, hourly_expected(2), TSR_PAST_END},
      // A row with too few values ends the reading; the rows before it stay.
      {"row with a value missing",
       "2000 1 1 0 0.5 0\n2000 1 1 1 1.5\n",
       1000,
       0,
       TSR_BAD_DATA,
       2,
       {},
       TSR_BAD_DATA},
      {"row with a word", hourly_rows(4) + "2000 1 1 4 x 2\n", 100, 0, TSR_MORE_ROWS, 2,
       hourly_expected(3), TSR_BAD_DATA},
      {"first data row without a date",
       "h\n2000 1 x\n",
       1000,
       5,
       TSR_BAD_DATA,
       0,
       {},
       TSR_BAD_DATA},
      // get_date hands out 32-bit dates: 2^32 + 2000 once came out as 2000.
      {"a year beyond 32 bits in a later row", hourly_rows(4) + "4294969296 1 1 4 4.5 40\n", 100,
       0, TSR_MORE_ROWS, 2, hourly_expected(3), TSR_BAD_DATA},
      {"an hour beyond 32 bits in the first row", "2000 1 1 2147483648 1.5\n", 1000, 5,
       TSR_BAD_DATA, 0, {}, TSR_BAD_DATA},
      {"the 32-bit ends are dates", "2147483647 1 1 -2147483648 1.5\n", 1000, 0,
       TSR_LAST_WINDOW, 1, {{2147483647, 1, 1, -2147483647 - 1, {1.5}}}, TSR_PAST_END},
      {"row wider than the budget",
       hourly_rows(3),
       31,
       6,
       TSR_ROW_TOO_WIDE,
       2,
       {},
       TSR_ROW_TOO_WIDE},
  };
  for (const table_case& c : cases) {
    SCOPED_TRACE(c.name);
    scratch_dir dir;
    if (c.text != "<none>") dir.write("table.txt", c.text);
    TimeSeriesReader reader;
    EXPECT_EQ(reader.open(dir.file("table.txt"), c.bytes), c.opened);
    EXPECT_EQ(reader.reader_status, c.status_opened);
    EXPECT_EQ(reader.value_count, c.value_count);
    EXPECT_EQ(read_all(reader), c.rows);
    EXPECT_EQ(reader.reader_status, c.final_status);
    // Stepping on changes nothing once the table has ended or failed.
    reader.next_row();
    EXPECT_EQ(reader.reader_status, c.final_status);
  }
}

TEST(TimeSeriesReader, RowValuesAndColumnsOutside) {
  scratch_dir dir;
  dir.write("t.txt", "2000 1 1 0 1.5 2.5\n2000 1 1 1 3.5 4.5\n");
  TimeSeriesReader reader(dir.file("t.txt"), 0, 100000);
  ASSERT_EQ(reader.reader_status, TSR_LAST_WINDOW);
  EXPECT_EQ(reader.value_count, 2);
  int y = 0, m = 0, d = 0, h = -1;
  reader.get_date(y, m, d, h);
  EXPECT_EQ(std::vector<int>({y, m, d, h}), std::vector<int>({2000, 1, 1, 0}));
  EXPECT_EQ(reader.get_value(0), 1.5);
  EXPECT_EQ(reader.get_value(1), 2.5);
  EXPECT_EQ(reader.get_value(2), -9999);
  EXPECT_EQ(reader.get_value(-1), -9999);

  // Rows -1 .. rows_in_buffer (2) can be made current, others are ignored.
  reader.set_row(5);
  EXPECT_EQ(reader.current(), 0);
  reader.move_row(1);
  EXPECT_EQ(reader.get_value(0), 3.5);
  reader.move_row(-3);
  EXPECT_EQ(reader.current(), 1);
  reader.set_row(-1);
  EXPECT_EQ(reader.get_value(0), -9999);  // no row is current before the first
  reader.set_row(2);
  EXPECT_EQ(reader.current(), 2);

  // An opened reader is not opened again.
  dir.write("other.txt", "h\nh\n1999 1 1 0 7\n");
  EXPECT_EQ(reader.open(dir.file("other.txt"), 100), 0);
  EXPECT_EQ(reader.path(), dir.file("t.txt"));
  EXPECT_EQ(reader.value_count, 2);

  reader.free_buffers();
  reader.set_row(0);
  EXPECT_EQ(reader.get_value(0), -9999);
}

TEST(TimeSeriesReader, LargeWindowRefillsAfterItsLastRow) {
  // 100000 bytes / (2 * 8 + 16) bytes per row = 3125 rows per window.
  std::ostringstream text;
  for (int k = 0; k < 3200; ++k) text << 2000 + k / 8760 << " 1 1 " << k << " " << k << " 0\n";
  scratch_dir dir;
  dir.write("long.txt", text.str());
  TimeSeriesReader reader(dir.file("long.txt"), 0, 100000);
  EXPECT_EQ(reader.rows_per_window(), 3125);
  EXPECT_EQ(reader.rows_held(), 3125);
  EXPECT_EQ(reader.reader_status, TSR_MORE_ROWS);
  reader.set_row(3124);
  EXPECT_EQ(reader.get_value(0), 3124);
  reader.next_row();
  // The second window starts with row 3126 (value 3125) and holds the rest.
  EXPECT_EQ(reader.current(), 0);
  EXPECT_EQ(reader.get_value(0), 3125);
  EXPECT_EQ(reader.rows_held(), 75);
  EXPECT_EQ(reader.reader_status, TSR_LAST_WINDOW);
}

TEST(TimeSeriesReader, TableChangedBetweenWindows) {
  scratch_dir dir;
  // Rows appended after open are not read: the size is taken once.
  dir.write("grow.txt", hourly_rows(4));
  TimeSeriesReader growing(dir.file("grow.txt"), 0, 96);
  std::ofstream(dir.file("grow.txt"), std::ios::app) << "2000 1 1 4 4.5 40\n";
  EXPECT_EQ(read_all(growing), hourly_expected(4));
  EXPECT_EQ(growing.reader_status, TSR_PAST_END);

  // A table that vanished before the second window can never be read again.
  dir.write("gone.txt", hourly_rows(5));
  TimeSeriesReader vanishing(dir.file("gone.txt"), 0, 96);
  ASSERT_EQ(std::remove(dir.file("gone.txt").c_str()), 0);
  EXPECT_EQ(read_all(vanishing), hourly_expected(3));
  EXPECT_EQ(vanishing.reader_status, TSR_CANNOT_OPEN);
  EXPECT_EQ(vanishing.rows_held(), 0);
}

}  // namespace
