// Regression files (text and binary, start search, end, rewind, agreement
// with the station file of method 3) and the grid list of method 9.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "meteo/meteo_fixture.h"

namespace {

model_date current(meteointerpol& in) {
  model_date d;
  in.get_current_date(d.hour, d.day, d.month, d.year);
  return d;
}

std::vector<model_date> step_dates(meteointerpol& in, int limit = 100) {
  std::vector<model_date> dates;
  for (int k = 0; k < limit; ++k) {
    dates.push_back(current(in));
    in.read_next_record();
    if (in.is_end_of_data() != 0) break;
  }
  return dates;
}

int thrown_by(const std::function<void()>& op) {
  try {
    op();
  } catch (int code) {
    return code;
  }
  return 0;
}

// Regression set of row h: a1 = h, then 2..11 (written as they would be).
double set_value(int hour, int k) { return k == 1 ? hour : k + 0.5; }

std::string text_regression(const std::string& year, int first_hour, int last_hour) {
  std::string text = "jr mo regression sets\n";
  for (int h = first_hour; h <= last_hour; ++h) {
    text += year + " 1 1 " + std::to_string(h);
    for (int k = 1; k <= 11; ++k) text += " " + std::to_string(set_value(h, k));
    text += "\n";
  }
  return text;
}

// Records of four int64 and eleven doubles, 120 bytes each.
std::string binary_regression(int64_t year, int first_hour, int last_hour) {
  std::string bytes;
  for (int h = first_hour; h <= last_hour; ++h) {
    const int64_t date[4] = {year, 1, 1, h};
    double set[11];
    for (int k = 1; k <= 11; ++k) set[k - 1] = set_value(h, k);
    bytes.append(reinterpret_cast<const char*>(date), sizeof date);
    bytes.append(reinterpret_cast<const char*>(set), sizeof set);
  }
  return bytes;
}

std::string regression_section(int method, const std::string& station_line,
                               const std::string& regression) {
  return "[temperature]\n" + std::to_string(method) + " method\n" + station_line + "\n" +
         regression + " name of the regression file\n" + section_tail().text();
}

struct regression_run {
  regression_run(int method, const std::string& regression_text, model_date start,
                 model_date end, const std::string& stations = "") {
    f.ctx.start_date = start;
    f.ctx.end_date = end;
    f.write("reg.dat", regression_text);
    if (!stations.empty()) f.write("st.txt", stations);
    f.write_control(regression_section(method, stations.empty() ? f.path("reg.dat") : f.path("st.txt"),
                                       f.path("reg.dat")));
    input = f.build("temperature", status);
  }
  meteo_fixture f;
  int status = -1;
  input_ptr input;
};

std::vector<model_date> hours_of(int64_t year, int from, int to) {
  std::vector<model_date> dates;
  for (int h = from; h <= to; ++h) dates.push_back({year, 1, 1, h});
  return dates;
}

TEST(MeteoRegression, TextAndBinaryFormsReadTheSameSets) {
  struct row {
    const char* label;
    std::string file;
    int text_form;
  };
  // Year 116 in the text, 2016 in the binary file: both 2016.
  const row rows[] = {{"text", text_regression("116", 0, 3), 1},
                      {"binary", binary_regression(2016, 0, 3), 0}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    regression_run run(2, r.file, {2016, 1, 1, 0}, {2016, 1, 1, 5});
    ASSERT_EQ(run.status, 0) << run.f.console();
    meteointerpol& in = *run.input;
    EXPECT_EQ(in.regression().text_form, r.text_form);
    std::vector<double> first_values;
    int hour = 0;
    bool sets_match = true;
    while (in.is_end_of_data() == 0) {
      for (int k = 1; k <= 11; ++k)
        sets_match = sets_match && in.regression().set[static_cast<size_t>(k)] == set_value(hour, k);
      in.read_next_record();
      ++hour;
    }
    EXPECT_TRUE(sets_match);
    EXPECT_EQ(hour, 4);  // the data end before the end date: rows 0 to 3
  }
}

TEST(MeteoRegression, StartSearchEndAndRewind) {
  // Method 2 ends with the row at the end date, or with the last row.
  regression_run long_run(2, text_regression("2016", 0, 8), {2016, 1, 1, 1}, {2016, 1, 1, 5});
  ASSERT_EQ(long_run.status, 0) << long_run.f.console();
  EXPECT_EQ(step_dates(*long_run.input), hours_of(2016, 1, 5));
  long_run.input->rewind_inputs();
  EXPECT_EQ(current(*long_run.input), (model_date{2016, 1, 1, 1}));
  long_run.input->read_next_record();
  EXPECT_EQ(current(*long_run.input), (model_date{2016, 1, 1, 1}));
  EXPECT_EQ(long_run.input->regression().set[1], 1);
  EXPECT_EQ(step_dates(*long_run.input), hours_of(2016, 1, 5));

  regression_run short_run(2, binary_regression(2016, 0, 2), {2016, 1, 1, 0}, {2016, 1, 1, 5});
  ASSERT_EQ(short_run.status, 0) << short_run.f.console();
  EXPECT_EQ(step_dates(*short_run.input), hours_of(2016, 0, 2));

  // Year 1000 stays, year 99 is 1999.
  regression_run year_1000(2, text_regression("1000", 0, 2), {1000, 1, 1, 0}, {1000, 1, 1, 5});
  EXPECT_EQ(year_1000.status, 0) << year_1000.f.console();
  regression_run year_99(2, binary_regression(99, 0, 2), {1999, 1, 1, 0}, {1999, 1, 1, 5});
  EXPECT_EQ(year_99.status, 0) << year_99.f.console();
}

TEST(MeteoRegression, StartDateMissing) {
  for (const std::string& file : {text_regression("2016", 0, 3), binary_regression(2016, 0, 3)}) {
    regression_run run(2, file, {2016, 1, 2, 0}, {2016, 1, 3, 0});
    EXPECT_EQ(run.status, 51);
    const std::string entry =
        "EOF reached: " + run.f.path("reg.dat") + ", date 2.1.2016, 0. h not found!";
    EXPECT_NE(run.f.console().find(entry), std::string::npos) << run.f.console();
    EXPECT_EQ(run.f.level_of_entry(entry), 0);
  }
}

TEST(MeteoRegression, DamagedRowsAreReported) {
  std::string cut = binary_regression(2016, 0, 3);
  cut.resize(cut.size() - 8);
  regression_run binary(2, cut, {2016, 1, 1, 0}, {2016, 1, 1, 9});
  ASSERT_EQ(binary.status, 0) << binary.f.console();
  EXPECT_EQ(thrown_by([&] { binary.input->read_next_record(); }), 19);
  EXPECT_NE(binary.f.console().find("the record after the one dated 1.1.2016 2 h holds 112 of "
                                    "120 bytes"),
            std::string::npos)
      << binary.f.console();

  regression_run text(2, "jr mo\n2016 1 1 0 1 2 3 4 5 6 7 8 9 10 11\n2016 1 1 1 1 2 3\n",
                      {2016, 1, 1, 0}, {2016, 1, 1, 9});
  ASSERT_EQ(text.status, 0) << text.f.console();
  EXPECT_EQ(thrown_by([&] { text.input->read_next_record(); }), 19);
  EXPECT_NE(text.f.console().find("regression file " + text.f.path("reg.dat") +
                                  ": the row dated 1.1.2016 1 h holds 3 of 11 values"),
            std::string::npos)
      << text.f.console();
}

std::string stations_of_hours(int from, int to) {
  std::string rows;
  for (int h = from; h <= to; ++h) rows += "2016 1 1 " + std::to_string(h) + " 1 2 3\n";
  return station_file_text("400 520 610", "1000 1100 1000", "2000 2000 2100", rows);
}

TEST(MeteoRegression, Method3DatesOfStationAndRegressionRows) {
  regression_run agree(3, text_regression("2016", 0, 9), {2016, 1, 1, 0}, {2016, 1, 1, 5},
                       stations_of_hours(0, 3));
  ASSERT_EQ(agree.status, 0) << agree.f.console();
  // The station file ends first: no regression row is taken after it.
  EXPECT_EQ(step_dates(*agree.input), hours_of(2016, 0, 3));

  regression_run shorter(3, text_regression("2016", 0, 2), {2016, 1, 1, 0}, {2016, 1, 1, 5},
                         stations_of_hours(0, 5));
  ASSERT_EQ(shorter.status, 0) << shorter.f.console();
  meteointerpol& in = *shorter.input;
  in.read_next_record();
  in.read_next_record();
  EXPECT_EQ(current(in), (model_date{2016, 1, 1, 2}));
  EXPECT_EQ(thrown_by([&] { in.read_next_record(); }), 52);
  EXPECT_NE(shorter.f.console().find(
                "error in date column of temperature for IDW*Regress \n\nDate from "
                "station/regress file " +
                shorter.f.path("st.txt") + ":\n1.1.2016 3 h\n\nbut date from regres file " +
                shorter.f.path("reg.dat") + ":\n0.0.0 0 h\n"),
            std::string::npos)
      << shorter.f.console();
}

const std::string LIST_ROWS =
    "2001 1 1 0 x $D/a.gif\n2001 1 1 1 x -9999\n2001 1 1 2 x $D/b.gif trailing text\n";

TEST(MeteoRegression, GridListOfMethod9) {
  meteo_fixture f;
  std::string rows = LIST_ROWS;
  for (size_t at = rows.find("$D/"); at != std::string::npos; at = rows.find("$D/"))
    rows.replace(at, 3, f.path(""));
  f.write("list.txt",
          station_file_text("25", "1050", "2040", rows, "YY MM DD HH info"));
  f.write_control("[temperature]\n9 method\n" + f.path("list.txt") +
                  " AdditionalColumns=1\n8.9e-5 0.0767 127 6e-6 0.098\n" + section_tail().text());
  int status = -1;
  input_ptr input = f.build("temperature", status);
  ASSERT_EQ(status, 0) << f.console();
  meteointerpol& in = *input;
  // The header: cell size, x and y origin of the images.
  EXPECT_EQ(in.image_georeference(), (std::array<double, 3>{1050, 2040, 25}));
  EXPECT_EQ(in.image_mask(), &f.zone_grid);

  std::vector<std::string> names;
  std::vector<model_date> dates;
  while (in.is_end_of_data() == 0) {
    names.push_back(in.station(0).grid_name);
    dates.push_back(current(in));
    in.read_next_record();
  }
  // The list ends before the end date (5 h): its last row was the last step.
  EXPECT_EQ(names, (std::vector<std::string>{f.path("a.gif"), "-9999", f.path("b.gif")}));
  EXPECT_EQ(dates, hours_of(2001, 0, 2));
  EXPECT_EQ(current(in), (model_date{2001, 1, 1, 2}));
  EXPECT_FALSE(in.station(0).list);

  in.rewind_inputs();
  in.read_next_record();
  EXPECT_EQ(current(in), (model_date{2001, 1, 1, 0}));
  EXPECT_EQ(in.station(0).grid_name, f.path("a.gif"));
}

TEST(MeteoRegression, GridListWithoutStartOrGeoreference) {
  struct row {
    const char* label;
    std::string list;
    int status;
    const char* entry;
  };
  const row rows[] = {
      {"start date missing", station_file_text("25", "1050", "2040", "2001 1 1 3 a.gif\n"), 51,
       " dosnt contain date 1.1.2001, hour 0(feof)!"},
      {"no number after the labels", station_file_text("", "", "", "2001 1 1 0 a.gif\n"), 49,
       "lines 2, 3 and 4 must hold the cell size, the x origin and the y origin"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    meteo_fixture f;
    f.write("list.txt", r.list);
    f.write_control("[temperature]\n9 method\n" + f.path("list.txt") +
                    "\n8.9e-5 0.0767 127 6e-6 0.098\n" + section_tail().text());
    int status = -1;
    input_ptr input = f.build("temperature", status);
    EXPECT_EQ(status, r.status);
    EXPECT_NE(f.console().find(r.entry), std::string::npos) << f.console();
  }
}

}  // namespace
