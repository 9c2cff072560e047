// Kernels of the interpolator's inputs: buffer sizes, year rules, validity of
// station values, the uniform flag, the words of headers and rows, the
// regression forms, the extra section lines, the anisotropy rotation, the
// station spacing and the nearest scenario point. Expected values are hand
// calculations from the file layouts, not the kernels' own formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "meteo/meteoint_geometry.h"
#include "meteo/meteoint_linefile.h"
#include "meteo/meteoint_records.h"
#include "support/test_support.h"

namespace {

TEST(MeteoRecords, StationBufferHoldsAbout2MiB) {
  struct row {
    int stations;
    int64_t capacity;  // 2097152 / (8 (n + 1) + 32), floored, at least 1
  };
  const row rows[] = {{0, 52428},    // 2097152 / 40 = 52428.8
                      {1, 43690},    // / 48 = 43690.7
                      {100, 2496},   // / 840 = 2496.6
                      {262139, 1},   // / 2097152 = 1 exactly
                      {300000, 1}};  // a row beyond the budget still gets one
  for (const row& r : rows) {
    SCOPED_TRACE(r.stations);
    EXPECT_EQ(station_buffer_capacity(r.stations), r.capacity);
  }
}

TEST(MeteoRecords, ShortYearsOfStationAndRegressionRows) {
  struct row {
    int64_t written, station, regression;
  };
  const row rows[] = {{99, 1999, 1999}, {5, 1905, 1905},  {0, 1900, 1900},
                      {100, 100, 2000}, {116, 116, 2016}, {999, 999, 2899},
                      {1000, 1000, 1000}, {2016, 2016, 2016}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.written);
    EXPECT_EQ(station_year(r.written), r.station);
    EXPECT_EQ(regression_year(r.written), r.regression);
  }
  EXPECT_TRUE(is_end_row(record_date{0, 0, 0, 7}));
  EXPECT_FALSE(is_end_row(record_date{0, 1, 0, 0}));
  EXPECT_FALSE(is_end_row(record_date{0, 0, 1, 0}));
}

TEST(MeteoRecords, ValuesWithinTheNodataBoundStayValid) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct row {
    double value, stored;
  };
  const row rows[] = {{9999, 9999},     {-9999, -9999},    {10000, -10000}, {-10000, -10000},
                      {-9999.5, -10000}, {9999.01, -10000}, {0, 0},          {nan, -10000}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.value);
    EXPECT_EQ(station_value(r.value, 9999), r.stored);
  }
}

TEST(MeteoRecords, UniformFlagLooksAtValidValuesOnly) {
  struct row {
    const char* label;
    std::vector<double> values;  // from index 1
    int16_t flag;
  };
  const row rows[] = {{"equal valid, one invalid", {0, 3.5, 3.5, -10000}, 1},
                      {"invalid first", {0, -10000, 3.5, 3.5}, 1},
                      {"two different", {0, 3.5, 3.6}, 0},
                      {"difference after the invalid", {0, 3.5, -10000, 3.6}, 0},
                      {"none valid", {0, -10000, -10000}, 1},
                      {"one station", {0, 7}, 1},
                      {"no station", {0}, 1}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    EXPECT_EQ(uniform_flag(r.values.data(), static_cast<int>(r.values.size()) - 1, 9999), r.flag);
  }
}

TEST(MeteoRecords, WordsOfSectionAndHeaderLines) {
  EXPECT_EQ(additional_columns_of("st.txt AdditionalColumns=2"), 2);
  EXPECT_EQ(additional_columns_of("st.txt # other AdditionalColumns=3 text"), 3);
  EXPECT_EQ(additional_columns_of("st.txt"), 0);
  EXPECT_EQ(additional_columns_of("st.txt AdditionalColumns=x"), 0);
  EXPECT_EQ(first_word("\t st.txt AdditionalColumns=2"), "st.txt");
  EXPECT_EQ(first_word("  \t "), "");

  struct row {
    const char* line;
    int leading;
    int stations;
  };
  const row rows[] = {{"YY MM DD HH 400 520 610", 4, 3},
                      {"YY\tMM\tDD\tHH\t400\t520\t610\t", 4, 3},
                      {"YY MM DD HH c1 c2 400 520", 6, 2},
                      {"YY MM DD HH 400 name 520", 4, 1},  // counting stops at a word
                      {"YY MM DD HH 400m 520", 4, 2},      // a word that begins with a number
                      {"YY MM DD", 4, 0},
                      {"YY MM DD HH", 4, 0}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(count_header_stations(r.line, r.leading), r.stations);
  }
  EXPECT_EQ(header_number("abc"), 0);
  EXPECT_EQ(header_number("612.5"), 612.5);
  EXPECT_EQ(header_number("-3e2x"), -300);
}

TEST(MeteoRecords, StationRowIsReadAsOneWholeLine) {
  struct row {
    const char* label;
    const char* line;
    int additional;
    row_status status;
    int values_read;
    std::vector<double> values;  // index 1..3 when read
    const char* word;
  };
  const row rows[] = {
      {"plain", "2001 1 2 3 1.5 2.5 3.5", 0, row_status::ok, 3, {0, 1.5, 2.5, 3.5}, ""},
      {"additional words and trailing text", "2001 1 2 3 w1 w2 1.5 2.5 3.5 end of line", 2,
       row_status::ok, 3, {0, 1.5, 2.5, 3.5}, ""},
      {"signs and exponents, invalid marker", "2001 1 2 3 +5 -9999 1e4", 0, row_status::ok, 3,
       {0, 5, -9999, -10000}, ""},
      {"one value short", "2001 1 2 3 1.5 2.5", 0, row_status::too_short, 2, {}, ""},
      {"additional words missing", "2001 1 2 3 w1", 2, row_status::too_short, 0, {}, ""},
      {"word in a value's place", "2001 1 2 3 1.5 abc 3.5", 0, row_status::not_number, 1, {},
       "abc"},
      {"decimal comma", "2001 1 2 3 1,5 2.5 3.5", 0, row_status::not_number, 0, {}, "1,5"},
      {"number with a tail", "2001 1 2 3 1.5 2.5x 3.5", 0, row_status::not_number, 1, {}, "2.5x"},
      {"date not an integer", "2001 1.5 2 3 1 2 3", 0, row_status::no_date, 0, {}, ""},
      {"date cut short", "2001 1", 0, row_status::no_date, 0, {}, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    record_date date;
    double values[4] = {0, 0, 0, 0};
    const row_result result = parse_station_row(r.line, r.additional, 3, 9999, date, values);
    EXPECT_EQ(result.status, r.status);
    EXPECT_EQ(result.values_read, r.values_read);
    EXPECT_EQ(std::string(result.word), r.word);
    if (r.status != row_status::no_date) {
      EXPECT_EQ(date, (record_date{2001, 1, 2, 3}));
    }
    for (size_t k = 1; k < r.values.size(); ++k) EXPECT_EQ(values[k], r.values[k]) << k;
  }
}

TEST(MeteoRecords, RegressionRowsInTextAndBinaryForm) {
  std::array<double, 12> set{};
  record_date date;
  row_result r = parse_regression_row("116 1 1 0 1 2 3 4 5 6 7 8 9 10 11 trailing", date, set);
  EXPECT_EQ(r.status, row_status::ok);
  EXPECT_EQ(date, (record_date{116, 1, 1, 0}));  // completed by the caller
  for (int k = 1; k <= 11; ++k) EXPECT_EQ(set[static_cast<size_t>(k)], k);
  r = parse_regression_row("2016 1 1 0 1 2 3 4 5 6 7 8 9 10", date, set);
  EXPECT_EQ(r.status, row_status::too_short);
  EXPECT_EQ(r.values_read, 10);

  // Four int64 and eleven doubles, 120 bytes in machine order.
  unsigned char bytes[120];
  const int64_t parts[4] = {2016, 2, 29, 23};
  double numbers[11];
  for (int k = 0; k < 11; ++k) numbers[k] = 0.5 * (k + 1);
  std::memcpy(bytes, parts, 32);
  std::memcpy(bytes + 32, numbers, 88);
  decode_regression_record(bytes, date, set);
  EXPECT_EQ(date, (record_date{2016, 2, 29, 23}));
  for (int k = 1; k <= 11; ++k) EXPECT_EQ(set[static_cast<size_t>(k)], 0.5 * k);

  struct form {
    const char* head;
    size_t count;
    bool text;
  };
  const form forms[] = {{"jr mo", 5, true}, {"jrXmo header", 12, true}, {"jr om", 5, false},
                        {"Jr mo", 5, false}, {"jr m", 4, false}};
  for (const form& f : forms) {
    SCOPED_TRACE(f.head);
    EXPECT_EQ(is_text_regression(reinterpret_cast<const unsigned char*>(f.head), f.count), f.text);
  }
  const int64_t year = 1999;
  unsigned char first[8];
  std::memcpy(first, &year, 8);
  EXPECT_FALSE(is_text_regression(first, 8));
}

TEST(MeteoRecords, GridListRows) {
  record_date date;
  std::string name;
  EXPECT_TRUE(parse_grid_list_row("99 12 31 23 x y /data/a.gif rest", 2, date, name));
  EXPECT_EQ(date, (record_date{99, 12, 31, 23}));
  EXPECT_EQ(name, "/data/a.gif");
  EXPECT_TRUE(parse_grid_list_row("2001 1 1 0 -9999", 0, date, name));
  EXPECT_EQ(name, "-9999");
  EXPECT_FALSE(parse_grid_list_row("2001 1 1 0", 0, date, name));
  EXPECT_FALSE(parse_grid_list_row("2001 1 1 0 a.gif", 2, date, name));
}

TEST(MeteoRecords, ExtraLinesOfTheSection) {
  gif_mapping gif;
  EXPECT_TRUE(parse_gif_mapping("8.916787e-5 0.0767528404 127 6.00e-006 0.098 rest", gif));
  EXPECT_EQ(gif.threshold, 127);
  EXPECT_EQ(gif.x2, 0.098);
  EXPECT_FALSE(parse_gif_mapping("8.9e-5 0.0767 127 6e-6", gif));
  EXPECT_FALSE(parse_gif_mapping("", gif));

  struct edr_row {
    const char* line;
    int count;
    double upper_lapse_rate;
  };
  const edr_row edr_rows[] = {{"100 900 0.5 2 5000 -0.0065", 6, -0.0065},
                              {"100 900 0.5 2 5000", 5, -9999},
                              {"100 900 0.5 2", 4, -9999},
                              {"", 0, -9999}};
  for (const edr_row& r : edr_rows) {
    SCOPED_TRACE(r.line);
    elevation_regression_line v;
    EXPECT_EQ(parse_elevation_regression(r.line, v), r.count);
    EXPECT_EQ(v.upper_lapse_rate, r.upper_lapse_rate);
  }

  struct lapse_row {
    const char* line;
    int count;
    double inversion;
    double fixed_upper;
    int p_type;
  };
  const lapse_row lapse_rows[] = {{"-0.0065", 1, -9999, -9999, 0},
                                  {"-0.0065 1200", 2, -9999, -9999, 0},
                                  {"-0.0065 1200 -0.004", 3, 1200, -0.004, 0},
                                  {"-0.0065 1200 -0.004 P-type", 4, 1200, -0.004, 1},
                                  {"-0.0065 1200 -0.004 isP-type2", 4, 1200, -0.004, 1},
                                  {"-0.0065 1200 -0.004 other", 4, 1200, -0.004, 0},
                                  {"", 0, -9999, -9999, 0}};
  for (const lapse_row& r : lapse_rows) {
    SCOPED_TRACE(r.line);
    lapse_rate_line v;
    EXPECT_EQ(parse_lapse_rate(r.line, v), r.count);
    EXPECT_EQ(v.inversion_height, r.inversion);
    EXPECT_EQ(v.fixed_upper_lapse_rate, r.fixed_upper);
    EXPECT_EQ(v.p_type, r.p_type);
  }

  EXPECT_EQ(weight_code_of(1.0), 1000);
  EXPECT_EQ(weight_code_of(2.0), 2000);
  EXPECT_EQ(weight_code_of(2.0005), 2000);
  EXPECT_EQ(weight_code_of(1.9995), 1999);
  EXPECT_EQ(weight_code_of(1e300), std::numeric_limits<int>::max());
}

TEST(MeteoLineReader, LinesOfAnyLengthAndTheOffsetsBetweenThem) {
  // Lines longer than one block read (1 MiB) and lines across block ends.
  std::vector<std::string> lines = {"first", std::string(3 << 20, 'a'), "", "x y"};
  for (int k = 0; k < 2000; ++k) lines.push_back(std::string(700 + k % 13, 'b') + "\r");
  lines.push_back("last line without its end");
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  text.pop_back();
  scratch_dir dir;
  dir.write("lines.txt", text);

  line_reader in;
  ASSERT_TRUE(in.open(dir.file("lines.txt"), 0));
  std::vector<int64_t> offsets;  // of the start of each line
  std::string_view line;
  size_t k = 0;
  bool equal = true;
  for (int64_t start = in.offset(); in.next(line); start = in.offset(), ++k) {
    offsets.push_back(start);
    equal = equal && k < lines.size() && line == lines[k];
  }
  EXPECT_TRUE(equal);
  EXPECT_EQ(k, lines.size());
  EXPECT_FALSE(in.failed());
  EXPECT_EQ(in.offset(), static_cast<int64_t>(text.size()));
  EXPECT_TRUE(in.close());

  // Reopened at a saved offset, the reader goes on from that line.
  for (size_t at : {size_t{1}, size_t{3}, size_t{1500}, lines.size() - 1}) {
    ASSERT_TRUE(in.open(dir.file("lines.txt"), offsets[at]));
    ASSERT_TRUE(in.next(line));
    EXPECT_EQ(line, lines[at]) << at;
    EXPECT_TRUE(in.close());
  }
  EXPECT_FALSE(in.open(dir.file("missing.txt"), 0));
}

TEST(MeteoGeometry, RotationAboutTheLowerLeftCorner) {
  // A quarter turn: (dx, dy) becomes (dy, -dx).
  rotated_point p = rotate_about_corner(1000, 2000, 1300, 2100, HALF_PI);
  EXPECT_NEAR(p.x, 1100, 1e-9);
  EXPECT_NEAR(p.y, 1700, 1e-9);
  EXPECT_NEAR(p.radius, std::sqrt(300.0 * 300 + 100 * 100), 1e-9);
  // Straight north of the corner, turned back by -90 degrees: east.
  p = rotate_about_corner(0, 0, 0, 50, -HALF_PI);
  EXPECT_NEAR(p.x, -50, 1e-9);
  EXPECT_NEAR(p.y, 0, 1e-9);
  p = rotate_about_corner(0, 0, 0, 50, HALF_PI);
  EXPECT_NEAR(p.x, 50, 1e-9);
  EXPECT_NEAR(p.y, 0, 1e-9);
  p = rotate_about_corner(5, 6, 5, 6, 0.3);
  EXPECT_EQ(p.radius, 0);
  EXPECT_NEAR(p.x, 5, 1e-12);
  EXPECT_NEAR(p.y, 6, 1e-12);
  // Degrees of the section's +-90 are exactly the bounds.
  EXPECT_EQ(90 * DEGREES_TO_RADIANS, HALF_PI);
  EXPECT_EQ(-90 * DEGREES_TO_RADIANS, -HALF_PI);
  EXPECT_GT(91 * DEGREES_TO_RADIANS, HALF_PI);
}

TEST(MeteoGeometry, NearestStationsEastAndNorth) {
  // Stations 1..4 at (0,0), (100,0), (0,300), (250,10).
  const double x[] = {0, 0, 100, 0, 250};
  const double y[] = {0, 0, 0, 300, 10};
  const station_spacing s = nearest_station_spacing(x, y, 4);
  // Station 1: east 100 (station 2), north 300 (station 3).
  EXPECT_DOUBLE_EQ(s.nearest_x[1], 100);
  EXPECT_DOUBLE_EQ(s.nearest_y[1], 300);
  // Station 2: east station 4 at (150, 10), north station 3 at (-100, 300).
  EXPECT_DOUBLE_EQ(s.nearest_x[2], std::sqrt(150.0 * 150 + 10 * 10));
  EXPECT_DOUBLE_EQ(s.nearest_y[2], std::sqrt(100.0 * 100 + 300 * 300));
  // Station 3 has nothing east or north of it; station 4 only station 3 north.
  EXPECT_EQ(s.nearest_x[3], -9999);
  EXPECT_EQ(s.nearest_y[3], -9999);
  EXPECT_EQ(s.nearest_x[4], -9999);
  EXPECT_DOUBLE_EQ(s.nearest_y[4], std::sqrt(250.0 * 250 + 290 * 290));
  EXPECT_DOUBLE_EQ(s.average_x, (100 + std::sqrt(150.0 * 150 + 10 * 10)) / 2);
  EXPECT_DOUBLE_EQ(s.average_y, (300 + std::sqrt(100.0 * 100 + 300 * 300) +
                                 std::sqrt(250.0 * 250 + 290 * 290)) /
                                    3);

  const station_spacing none = nearest_station_spacing(nullptr, nullptr, 0);
  EXPECT_EQ(none.average_x, -9999);
  EXPECT_EQ(none.average_y, -9999);
  const double lone[] = {0, 7};
  EXPECT_EQ(nearest_station_spacing(lone, lone, 1).average_x, -9999);
}

TEST(MeteoGeometry, NearestScenarioPoint) {
  auto point = [](double x, double y, double day_value) {
    std::array<double, 16> p{};
    p[1] = x;
    p[2] = y;
    p[15] = day_value;
    return p;
  };
  const std::vector<std::array<double, 16>> points = {
      {}, point(0, 0, 1), point(10, 0, 2), point(-10, 0, 3)};
  struct row {
    const char* label;
    double x, y, value;
  };
  const row rows[] = {{"on a point", 0, 0, 1},
                      {"halfway between two points: the later", 5, 0, 2},
                      {"nearest", -9, 1, 3}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    EXPECT_EQ(nearest_scenario_value(points, r.x, r.y), r.value);
  }
  const std::vector<std::array<double, 16>> twins = {{}, point(0, 0, 1), point(0, 0, 4)};
  EXPECT_EQ(nearest_scenario_value(twins, 0, 0), 4);
  // The search starts at a squared distance of 1e15 (31622777 m).
  const std::vector<std::array<double, 16>> far = {{}, point(3.2e7, 0, 5)};
  EXPECT_EQ(nearest_scenario_value(far, 0, 0), 0);
  const std::vector<std::array<double, 16>> near = {{}, point(3.1e7, 0, 5)};
  EXPECT_EQ(nearest_scenario_value(near, 0, 0), 5);
  EXPECT_EQ(nearest_scenario_value({{}}, 0, 0), 0);
}

}  // namespace
