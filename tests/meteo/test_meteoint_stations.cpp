// Station time-series files: the header, the start row, the rows of each
// step, the end of the data, rewinds, two station files that must agree, the
// row buffer and rows that cannot be read whole.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "meteo/meteo_fixture.h"

namespace {

const std::string ALTITUDES = "400 520 610";
const std::string XS = "1000 1100 1000";
const std::string YS = "2000 2000 2100";

// Rows 2001-01-01 hours from..to with values h, 10 h, 100 h.
std::string hourly_rows(int from, int to) {
  std::string rows;
  for (int h = from; h <= to; ++h)
    rows += "2001 1 1 " + std::to_string(h) + " " + std::to_string(h) + " " +
            std::to_string(10 * h) + " " + std::to_string(100 * h) + "\n";
  return rows;
}

std::string method_section(int method, const std::vector<std::string>& file_lines,
                           const section_tail& tail = section_tail()) {
  std::string text = "[temperature]\n" + std::to_string(method) + " method\n";
  for (const std::string& line : file_lines) text += line + "\n";
  return text + "regr.txt name of the regression file\n" + tail.text();
}

// An interpolator of method 1 over one station file.
struct one_file {
  explicit one_file(const std::string& station_text, const section_tail& tail = section_tail(),
                    model_date start = {2001, 1, 1, 0}, model_date end = {2001, 1, 1, 5}) {
    f.ctx.start_date = start;
    f.ctx.end_date = end;
    f.write("st.txt", station_text);
    f.write_control(method_section(1, {f.path("st.txt")}, tail));
    input = f.build("temperature", status);
  }
  meteo_fixture f;
  int status = -1;
  input_ptr input;
};

model_date current(meteointerpol& in) {
  model_date d;
  in.get_current_date(d.hour, d.day, d.month, d.year);
  return d;
}

// The dates of the steps the application runs: the current date, then the
// next record, until the input reports its end.
std::vector<model_date> step_dates(meteointerpol& in, int limit = 100) {
  std::vector<model_date> dates;
  for (int k = 0; k < limit; ++k) {
    dates.push_back(current(in));
    in.read_next_record();
    if (in.is_end_of_data() != 0) break;
  }
  return dates;
}

std::vector<model_date> hours_of_2001_01_01(int from, int to) {
  std::vector<model_date> dates;
  for (int h = from; h <= to; ++h) dates.push_back({2001, 1, 1, h});
  return dates;
}

// The code thrown by op, 0 when none.
int thrown_by(const std::function<void()>& op) {
  try {
    op();
  } catch (int code) {
    return code;
  }
  return 0;
}

std::vector<double> values_of(const station_file& s) {
  return std::vector<double>(s.values.begin() + 1, s.values.end());
}

TEST(MeteoStations, HeaderWordsAndAdditionalColumns) {
  struct row {
    const char* label;
    std::string file_line_suffix;
    std::string text;
    int additional;
    std::vector<double> x;
    std::vector<double> start_values;
  };
  const row rows[] = {
      {"plain", "", station_file_text(ALTITUDES, XS, YS, hourly_rows(0, 5)), 0,
       {1000, 1100, 1000}, {0, 0, 0}},
      {"two additional columns", " AdditionalColumns=2",
       station_file_text(ALTITUDES, XS, YS,
                         "2001 1 1 0 w1 w2 7 8 9 station names\n2001 1 1 1 a b 1 2 3\n",
                         "YY MM DD HH c1 c2"),
       2, {1000, 1100, 1000}, {7, 8, 9}},
      {"a word in a number's place gives 0", "",
       station_file_text(ALTITUDES, "1000 abc 1000", YS, hourly_rows(0, 5)), 0, {1000, 0, 1000},
       {0, 0, 0}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    meteo_fixture f;
    f.write("st.txt", r.text);
    f.write_control(method_section(1, {f.path("st.txt") + r.file_line_suffix}));
    int status = -1;
    input_ptr input = f.build("temperature", status);
    ASSERT_EQ(status, 0) << f.console();
    const station_file& s = input->station(0);
    EXPECT_EQ(s.additional_columns, r.additional);
    EXPECT_EQ(s.station_count, 3);
    EXPECT_EQ(s.altitude, (std::vector<double>{0, 400, 520, 610}));
    EXPECT_EQ(std::vector<double>(s.x.begin() + 1, s.x.end()), r.x);
    EXPECT_EQ(s.y, (std::vector<double>{0, 2000, 2000, 2100}));
    EXPECT_EQ(values_of(s), r.start_values);
    EXPECT_NE(f.console().find(" (3) Stationen "), std::string::npos);
  }
}

TEST(MeteoStations, ShortYearsAndTheEmptyRow) {
  one_file run(station_file_text(ALTITUDES, XS, YS,
                                 "99 12 31 23 1 1 1\n5 1 1 0 2 2 2\n0 1 1 0 3 3 3\n0 0 0 0\n"
                                 "2001 1 1 0 4 4 4\n"),
               section_tail(), {1999, 12, 31, 23}, {2100, 1, 1, 0});
  ASSERT_EQ(run.status, 0) << run.f.console();
  const std::vector<model_date> expected = {{1999, 12, 31, 23}, {1905, 1, 1, 0}, {1900, 1, 1, 0}};
  EXPECT_EQ(step_dates(*run.input), expected);
  EXPECT_EQ(values_of(run.input->station(0)), (std::vector<double>{3, 3, 3}));
}

TEST(MeteoStations, NodataBoundAndUniformFlag) {
  one_file run(station_file_text(ALTITUDES, XS, YS,
                                 "2001 1 1 0 9999 -9999 10000\n2001 1 1 1 3.5 3.5 99999\n"
                                 "2001 1 1 2 3.5 3.6 3.5\n2001 1 1 3 -10000 -9999.5 1e9\n"));
  ASSERT_EQ(run.status, 0) << run.f.console();
  meteointerpol& in = *run.input;
  EXPECT_EQ(values_of(in.station(0)), (std::vector<double>{9999, -9999, -10000}));
  EXPECT_EQ(in.station(0).uniform, 0);  // the start row's flag is not computed
  in.read_next_record();
  EXPECT_EQ(values_of(in.station(0)), (std::vector<double>{3.5, 3.5, -10000}));
  EXPECT_EQ(in.station(0).uniform, 1);
  in.read_next_record();
  EXPECT_EQ(in.station(0).uniform, 0);
  in.read_next_record();
  EXPECT_EQ(values_of(in.station(0)), (std::vector<double>{-10000, -10000, -10000}));
  EXPECT_EQ(in.station(0).uniform, 1);
}

TEST(MeteoStations, StartDateMissing) {
  one_file run(station_file_text(ALTITUDES, XS, YS, hourly_rows(0, 5)), section_tail(),
               {2001, 1, 2, 0}, {2001, 1, 3, 0});
  EXPECT_EQ(run.status, 51);
  const std::string out = run.f.console();
  EXPECT_NE(out.find("looking for starting date 2.1.2001 for temperature in " +
                     run.f.path("st.txt")),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\nfile " + run.f.path("st.txt") +
                     " dosnt contain date 2.1.2001, hour 0(feof)!"),
            std::string::npos)
      << out;
  // The entry carries no level of its own: the default level 4.
  EXPECT_EQ(run.f.level_of_entry("dosnt contain date 2.1.2001, hour 0(feof)!"), 4);
}

TEST(MeteoStations, TheLastStepOfTheData) {
  struct row {
    const char* label;
    int last_row_hour;
    model_date end;
    std::vector<model_date> steps;
  };
  const row rows[] = {
      {"data end before the end date: the last row once", 2, {2001, 1, 1, 5},
       hours_of_2001_01_01(0, 2)},
      {"the row at the end date is the last", 8, {2001, 1, 1, 5}, hours_of_2001_01_01(0, 5)},
      {"the last row at the end date", 5, {2001, 1, 1, 5}, hours_of_2001_01_01(0, 5)},
      {"end date between two rows", 8, {2001, 1, 1, 4}, hours_of_2001_01_01(0, 4)},
      {"start at the end date", 8, {2001, 1, 1, 0}, hours_of_2001_01_01(0, 0)},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    one_file run(station_file_text(ALTITUDES, XS, YS, hourly_rows(0, r.last_row_hour)),
                 section_tail(), {2001, 1, 1, 0}, r.end);
    ASSERT_EQ(run.status, 0) << run.f.console();
    EXPECT_EQ(step_dates(*run.input), r.steps);
    EXPECT_EQ(run.input->is_end_of_data(), 1);
  }
}

TEST(MeteoStations, EndAtCurrentDateAndRewind) {
  one_file run(station_file_text(ALTITUDES, XS, YS, hourly_rows(0, 8)));
  ASSERT_EQ(run.status, 0) << run.f.console();
  meteointerpol& in = *run.input;
  in.read_next_record();
  EXPECT_EQ(current(in), (model_date{2001, 1, 1, 1}));
  EXPECT_EQ(in.is_end_of_data(), 0);
  in.end_at_current_date();
  in.read_next_record();
  EXPECT_EQ(current(in), (model_date{2001, 1, 1, 1}));
  EXPECT_EQ(values_of(in.station(0)), (std::vector<double>{1, 10, 100}));
  EXPECT_EQ(in.is_end_of_data(), 1);

  // Back to the start row, and on from there to the (moved) end.
  in.rewind_inputs();
  EXPECT_EQ(in.is_end_of_data(), 0);
  in.read_next_record();
  EXPECT_EQ(current(in), (model_date{2001, 1, 1, 0}));
  EXPECT_EQ(values_of(in.station(0)), (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(step_dates(in), hours_of_2001_01_01(0, 1));
}

TEST(MeteoStations, RewindAfterTheDataEnded) {
  one_file run(station_file_text(ALTITUDES, XS, YS, hourly_rows(0, 2)));
  ASSERT_EQ(run.status, 0) << run.f.console();
  meteointerpol& in = *run.input;
  EXPECT_EQ(step_dates(in), hours_of_2001_01_01(0, 2));
  in.rewind_inputs();
  in.read_next_record();
  EXPECT_EQ(step_dates(in), hours_of_2001_01_01(0, 2));
}

TEST(MeteoStations, TwoStationFilesMustAgree) {
  struct row {
    const char* label;
    int method;
    std::string second;  // text of the gradients file
    std::string suffix;  // of its section line
    int status;
    const char* entry;
  };
  const std::string first = station_file_text(ALTITUDES, "1000 1100.0001 1000", YS,
                                              hourly_rows(0, 5));
  const row rows[] = {
      {"method 6, one station more", 6,
       station_file_text("400 520 610 700", "1000 1100.0001 1000 1200", "2000 2000 2100 2100",
                         "2001 1 1 0 1 2 3 4\n"),
       "", 73, " contain a different number of stations \n(4 and 3, resp.)\n"},
      {"method 8, one coordinate off in the last decimal", 8,
       station_file_text(ALTITUDES, "1000 1100.0002 1000", YS, "2001 1 1 0 1 2 3\n"), "", 73,
       "Altitude and/or coordinates of station 2 are different in\nmeteorological station files "},
      {"method 6, equal stations, additional columns in the second only", 6,
       station_file_text(ALTITUDES, "1000 1100.0001 1000", YS,
                         "2001 1 1 0 a b -1 -2 -3\n2001 1 1 1 a b -4 -5 -6\n", "YY MM DD HH c d"),
       " AdditionalColumns=2", 0, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    meteo_fixture f;
    f.write("res.txt", first);
    f.write("grad.txt", r.second);
    f.write_control(
        method_section(r.method, {f.path("res.txt"), f.path("grad.txt") + r.suffix}));
    int status = -1;
    input_ptr input = f.build("temperature", status);
    EXPECT_EQ(status, r.status) << f.console();
    if (r.entry[0] != '\0') {
      EXPECT_NE(f.console().find(r.entry), std::string::npos) << f.console();
    }
    if (status != 0) continue;
    EXPECT_EQ(input->station(0).additional_columns, 0);
    EXPECT_EQ(input->station(1).additional_columns, 2);
    input->read_next_record();
    EXPECT_EQ(values_of(input->station(0)), (std::vector<double>{1, 10, 100}));
    EXPECT_EQ(values_of(input->station(1)), (std::vector<double>{-4, -5, -6}));
  }
}

TEST(MeteoStations, DatesOfTwoFilesMustAgreeEveryStep) {
  meteo_fixture f;
  f.write("res.txt", station_file_text(ALTITUDES, XS, YS, hourly_rows(0, 5)));
  f.write("grad.txt", station_file_text(ALTITUDES, XS, YS,
                                        "2001 1 1 0 1 1 1\n2001 1 1 2 1 1 1\n"));
  f.write_control(method_section(6, {f.path("res.txt"), f.path("grad.txt")}));
  int status = -1;
  input_ptr input = f.build("temperature", status);
  ASSERT_EQ(status, 0) << f.console();
  EXPECT_EQ(thrown_by([&] { input->read_next_record(); }), 73);
  const std::string out = f.console();
  EXPECT_NE(out.find("error reading date from stationfiles:"), std::string::npos) << out;
  EXPECT_NE(out.find("file " + f.path("grad.txt") + ": YYYY=2001, MM=1, DD=1, HH=2"),
            std::string::npos)
      << out;
}

// Hour k of a run of rows whose dates grow by one hour per row (28-day
// months, so that the date follows from k alone).
model_date synthetic_date(int k) {
  return {2001 + k / (24 * 28 * 12), 1 + (k / (24 * 28)) % 12, 1 + (k / 24) % 28, k % 24};
}

TEST(MeteoStations, AFileLongerThanOneBufferReadsTheSameRows) {
  // One station: 43690 rows per buffer; 50000 rows need a second fill.
  constexpr int ROWS = 50000;
  std::string rows;
  rows.reserve(ROWS * 32);
  for (int k = 0; k < ROWS; ++k) {
    const model_date d = synthetic_date(k);
    rows += std::to_string(d.year) + " " + std::to_string(d.month) + " " + std::to_string(d.day) +
            " " + std::to_string(d.hour) + " " + std::to_string(k) + ".25\n";
  }
  const std::string text = station_file_text("400", "1000", "2000", rows);
  const std::string short_text =
      station_file_text("400", "1000", "2000", rows.substr(0, rows.find("2001 1 1 10 ")));
  section_tail tail;
  tail.nodata = 1e9;  // every value valid
  for (const std::string* file : {&text, &short_text}) {
    one_file run(*file, tail, {2001, 1, 1, 0}, {3000, 1, 1, 0});
    ASSERT_EQ(run.status, 0) << run.f.console();
    meteointerpol& in = *run.input;
    int k = 0;
    bool all_equal = true;
    while (in.is_end_of_data() == 0) {
      all_equal = all_equal && current(in) == synthetic_date(k) &&
                  in.station(0).values[1] == k + 0.25;
      in.read_next_record();
      if (in.is_end_of_data() == 0) ++k;
    }
    EXPECT_TRUE(all_equal);
    const bool long_file = file == &text;
    EXPECT_EQ(k + 1, long_file ? ROWS : 10);
    // One open per buffer fill: 43690 rows, then the rest with the end.
    EXPECT_EQ(in.station(0).capacity, 43690);
    EXPECT_EQ(in.station(0).fills, long_file ? 2 : 1);
  }
}

TEST(MeteoStations, RowsThatCannotBeReadWholeAreReported) {
  struct row {
    const char* label;
    std::string rows;
    int set_up_status;
    int step_code;  // of the first read_next_record
    const char* entry;
  };
  const row rows[] = {
      {"a value short: the next line is not read on into", "2001 1 1 0 1 2 3\n2001 1 1 1 4 5\n"
       "2001 1 1 2 7 8 9\n",
       0, 19, "station data file $F: the row dated 1.1.2001 1 h holds 2 of 3 values"},
      {"a word in a value's place", "2001 1 1 0 1 2 3\n2001 1 1 1 4 n/a 6\n", 0, 19,
       "station data file $F: value 2 of the row dated 1.1.2001 1 h is no number: \"n/a\""},
      {"a row without its date", "2001 1 1 0 1 2 3\n2001 1 1 1 4 5 6\nx 1 1 2 4 5 6\n", 0, 19,
       "station data file $F: the row after the one dated 1.1.2001 1 h has no date"},
      {"the start row a value short", "2001 1 1 0 1 2\n2001 1 1 1 4 5 6\n", 19, 0,
       "station data file $F: the row dated 1.1.2001 0 h holds 2 of 3 values"},
      {"the empty row needs no values", "2001 1 1 0 1 2 3\n2001 1 1 1 4 5 6\n0 0 0 0\n", 0, 0, ""},
      {"blank lines are no rows", "2001 1 1 0 1 2 3\n\n  \n2001 1 1 1 4 5 6\n", 0, 0, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    one_file run(station_file_text(ALTITUDES, XS, YS, r.rows));
    EXPECT_EQ(run.status, r.set_up_status) << run.f.console();
    if (run.status == 0) {
      EXPECT_EQ(thrown_by([&] { run.input->read_next_record(); }), r.step_code);
    }
    std::string entry = r.entry;
    if (const size_t at = entry.find("$F"); at != std::string::npos)
      entry.replace(at, 2, run.f.path("st.txt"));
    if (!entry.empty()) {
      EXPECT_NE(run.f.console().find("error reading " + entry), std::string::npos)
          << run.f.console();
      EXPECT_EQ(run.f.level_of_entry("error reading " + entry), 0);
    }
    if (r.step_code == 0 && run.status == 0) {
      EXPECT_EQ(values_of(run.input->station(0)), (std::vector<double>{4, 5, 6}));
    }
  }
}

}  // namespace
