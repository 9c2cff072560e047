// One interpolation step over the small fixture grid: each method's rule on
// four stations at cell corners, the all-equal shortcut, invalid records,
// the search radius, scenarios, the date check, an unusable regression and
// the set-up checks the step relies on. Expected cell values are hand
// calculations from the station layout below.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "meteo/step_fixture.h"

namespace {

// S1 (1000, 2000) z 400, S2 (1200, 2000) z 600, S3 (1000, 2100) z 500,
// S4 (1200, 2100) z 550: the lower-left corners of cells (2,1), (2,3),
// (1,1), (1,3). Cell elevations: row 1 500 550 600, row 2 400 450 600.
std::string stations_with(const std::string &rows) {
  return station_file_text("400 600 500 550", "1000 1200 1000 1200",
                           "2000 2000 2100 2100", rows);
}
// v = 50 - 0.02 z at every station.
const char *const LINEAR = "2001 1 1 0 42 38 40 39\n2001 1 1 1 42 38 40 39\n";
const char *const PLAIN_ROWS =
    "2001 1 1 0 10 20 30 40\n2001 1 1 1 10 20 30 40\n";

struct built {
  step_fixture f;
  input_ptr input;
  int status = -1;
};

std::unique_ptr<built>
build(const step_section &s, const std::string &rows,
      const std::function<void(step_fixture &)> &prepare = nullptr) {
  auto b = std::make_unique<built>();
  b->f.write("st.txt", stations_with(rows));
  b->f.write_control("[temperature]\n" + with_dir(b->f, s.text()));
  if (prepare)
    prepare(b->f);
  b->input = b->f.build("temperature", b->status);
  return b;
}

int thrown_by(const std::function<void()> &op) {
  try {
    op();
  } catch (int code) {
    return code;
  }
  return 0;
}

struct cell {
  int row, col;
  double expected;
};

TEST(MeteoStep, EachMethodsRuleOnOneStep) {
  struct row {
    const char *what;
    int method;
    std::string method_line;
    const char *rows;
    std::vector<cell> cells;
  };
  const row rows[] = {
      {"IDW power 2: weights 1e-4, 1e-4, 5e-5, 5e-5",
       1,
       "",
       PLAIN_ROWS,
       {{2, 2, 65.0 / 3},
        {2, 1,
         (10 + 20 / 4e4 + 30e-4 + 40 / 5e4) / (1 + 2.5e-5 + 1e-4 + 2e-5)}}},
      {"Thiessen: of equally near stations the later",
       4,
       "",
       PLAIN_ROWS,
       {{2, 1, 10},
        {2, 2, 20},
        {1, 1, 30},
        {1, 2, 40},
        {2, 3, 20},
        {1, 3, 40}}},
      // Cell (1,3) lies at S4, whose upper corners do not exist: IDW there.
      {"bilinear inside the mesh, exact at a station, IDW outside",
       5,
       "",
       PLAIN_ROWS,
       {{2, 1, 10},
        {2, 2, 15},
        {1, 3,
         (40 + 30 * 2.5e-5 + 20e-4 + 10 * 2e-5) / (1 + 2.5e-5 + 1e-4 + 2e-5)}}},
      {"method 12: the earlier of equally near stations, lapse -0.01",
       12,
       "-0.01",
       PLAIN_ROWS,
       {{2, 2, 9.5}, {1, 2, 29.5}, {1, 3, 39.5}, {1, 1, 30}}},
      {"EDR: the stations' line 50 - 0.02 z",
       10,
       "1000 2000 0 0 0",
       LINEAR,
       {{2, 2, 41}, {1, 3, 38}, {2, 1, 42}}},
      {"IDW + EDR: half of each",
       11,
       "1000 2000 0 0 0",
       LINEAR,
       {{2, 2, 0.5 * ((80e-4 + 79 * 5e-5) / 3e-4) + 0.5 * 41}}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    step_section s;
    s.method = r.method;
    s.method_line = r.method_line;
    auto b = build(s, r.rows);
    ASSERT_EQ(b->status, 0) << b->f.console();
    if (r.method == 10 || r.method == 11)
      b->input->fit_station_regression(0);
    ASSERT_EQ(thrown_by([&] { b->input->interpolate(0, 1, 1, 2001); }), 0)
        << b->f.console();
    for (const cell &c : r.cells)
      EXPECT_NEAR(b->input->result()[c.row][c.col], c.expected, 1e-9)
          << c.row << "," << c.col;
  }
}

TEST(MeteoStep, AllEqualValuesSkipWeightingButMethod12KeepsItsLapseRate) {
  // The start row never takes the shortcut (its flag is cleared at set-up):
  // the second row does.
  const char *equal = "2001 1 1 0 1 2 3 4\n2001 1 1 1 7 7 7 7\n";
  for (int method : {1, 4, 5}) {
    step_section s;
    s.method = method;
    auto b = build(s, equal);
    ASSERT_EQ(b->status, 0) << b->f.console();
    b->input->read_next_record();
    b->input->interpolate(1, 1, 1, 2001);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c)
        EXPECT_EQ(b->input->result()[r][c], 7) << method;
  }
  step_section s;
  s.method = 12;
  s.method_line = "-0.01";
  auto b = build(s, equal);
  ASSERT_EQ(b->status, 0) << b->f.console();
  b->input->read_next_record();
  b->input->interpolate(1, 1, 1, 2001);
  EXPECT_NEAR(b->input->result()[2][2], 7 + (450 - 400) * -0.01, 1e-12);
  EXPECT_NEAR(b->input->result()[1][3], 7 + (600 - 550) * -0.01, 1e-12);
}

TEST(MeteoStep, RecordsWithoutAValidValueNeverCompoundTheScaling) {
  // Every value invalid: the marker -10000 times the scaling 2 in each of
  // three steps, never the previous step's result scaled again.
  const char *invalid = "2001 1 1 0 -99999 -99999 -99999 -99999\n"
                        "2001 1 1 1 -99999 -99999 -99999 -99999\n"
                        "2001 1 1 2 -99999 -99999 -99999 -99999\n"
                        "2001 1 1 3 -99999 -99999 -99999 -99999\n";
  for (int method : {1, 4, 12}) {
    step_section s;
    s.method = method;
    s.method_line = "-0.01";
    s.scaling = 2;
    s.lower = -1e9;
    auto b = build(s, invalid);
    ASSERT_EQ(b->status, 0) << b->f.console();
    for (int hour = 0; hour < 3; ++hour) {
      ASSERT_EQ(thrown_by([&] { b->input->interpolate(hour, 1, 1, 2001); }), 0)
          << b->f.console();
      for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c)
          EXPECT_EQ(b->input->result()[r][c], -20000)
              << method << " hour " << hour;
      b->input->read_next_record();
    }
  }
}

TEST(MeteoStep, CellsBeyondTheSearchRadiusTakeTheLowerReplacementWithAWarning) {
  step_section s;
  s.max_distance = 1; // only a station at the cell's corner counts
  auto b = build(s, PLAIN_ROWS);
  ASSERT_EQ(b->status, 0) << b->f.console();
  b->input->set_radius_warnings(1);
  b->input->interpolate(0, 1, 1, 2001);
  EXPECT_EQ(b->input->result()[2][1], 10);
  EXPECT_EQ(b->input->result()[1][3], 40);
  EXPECT_EQ(b->input->result()[2][2], -90)
      << "marker below the lower limit -100";
  EXPECT_EQ(b->input->result()[1][2], -90);
  EXPECT_EQ(count_of(b->f.console(),
                     "no station within the specified search radius!"),
            2);
  // The console drops the level word: the second blank of method 1 stays.
  EXPECT_EQ(count_of(b->f.console(), ")  at x=1100, y=2"), 2) << b->f.console();
}

TEST(MeteoStep, ScenarioValuesAddOrMultiply) {
  struct row {
    const char *what;
    std::string scenario;
    double expected; // cell (2,1), Thiessen value 10
  };
  std::string months;
  for (int m = 1; m <= 12; ++m)
    months += " " + std::to_string(m);
  const row rows[] = {
      {"SzenMeth 1, no point: + 0", "1\n1 SzenMeth in\n0 SzenNum in\n", 10},
      {"SzenMeth 2, no point: x 0", "1\n2 SzenMeth in\n0 SzenNum in\n", 0},
      // 1 January: (15 V(Dec) + 16 V(Jan)) / 31.
      {"SzenMeth 1 with a point",
       "1\n1 SzenMeth in\n1 SzenNum in\n1000 2000" + months + "\n",
       10 + (15 * 12 + 16 * 1) / 31.0},
      {"SzenMeth 2 with a point",
       "1\n2 SzenMeth in\n1 SzenNum in\n1000 2000" + months + "\n",
       10 * (15 * 12 + 16 * 1) / 31.0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    step_section s;
    s.method = 4;
    s.scenario = r.scenario;
    auto b = build(s, PLAIN_ROWS);
    ASSERT_EQ(b->status, 0) << b->f.console();
    b->input->interpolate(0, 1, 1, 2001);
    EXPECT_NEAR(b->input->result()[2][1], r.expected, 1e-12);
    EXPECT_NE(b->f.console().find("using scenarios!"), std::string::npos);
  }
}

TEST(MeteoStep, DateProgressAndUnusableRegression) {
  step_section s;
  s.method = 10;
  s.method_line = "1000 2000 0 0 0";
  auto b = build(
      s, "2001 1 1 0 42 38 40 39\n2001 1 1 1 -99999 -99999 -99999 -99999\n"
         "2001 1 1 2 1 1 1 1\n");
  ASSERT_EQ(b->status, 0) << b->f.console();
  EXPECT_EQ(thrown_by([&] { b->input->interpolate(1, 1, 1, 2001); }), 52);
  EXPECT_NE(
      b->f.console().find(
          "error in date columns of temperature\n\nfirst Meteo data set (this "
          "is the set from which data is get:\n1.1.2001 1. h\n\nbut in "
          "temperature:\n1.1.2001 0. h"),
      std::string::npos)
      << b->f.console();
  b->input->fit_station_regression(0);
  b->input->interpolate(0, 1, 1, 2001);
  EXPECT_NE(b->f.console().find(" 1.1.2001 0. h "), std::string::npos)
      << b->f.console();
  const double before = b->input->result()[2][2];
  EXPECT_NEAR(before, 41, 1e-9);
  b->input->read_next_record();
  b->input->fit_station_regression(0);
  b->input->interpolate(1, 1, 1, 2001);
  EXPECT_EQ(b->input->result()[2][2], before)
      << "no usable regression: the cells stay";
  EXPECT_EQ(b->input->result()[1][3], 38);
}

TEST(MeteoStep, SetUpRefusesWhatTheStepCannotDo) {
  struct row {
    const char *what;
    int method;
    const char *stations; // file text; empty: the four stations
    std::function<void(step_fixture &)> prepare;
    int status;
    const char *entry;
  };
  const row rows[] = {
      {"report interval 0", 1, "",
       [](step_fixture &f) { f.ctx.output_control = 0; }, 17,
       "[output_interval]"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    step_section s;
    s.method = r.method;
    if (r.method == 8)
      s.files = "$D/st.txt\n$D/st.txt\n";
    auto b = build(s, PLAIN_ROWS, r.prepare);
    EXPECT_EQ(b->status, r.status);
    EXPECT_NE(b->f.console().find(r.entry), std::string::npos)
        << b->f.console();
  }
}

} // namespace

namespace {

// Two response units: unit 1 with its master at (1,1) over (1,1), (1,2),
// (2,1); unit 2 with its master at (2,2) over (2,2), (2,3), (1,3).
struct hru_layout {
  std::vector<hru_entry> units{hru_entry{}, hru_entry{1, "", 1, 1},
                               hru_entry{2, "", 2, 2}};
  grid_matrix ids, masters;
  void publish(step_fixture &f) {
    ids = f.grids.matrix(1, 2, 1, 3, 2);
    masters = f.grids.matrix(1, 2, 1, 3, 2);
    const double id[2][3] = {{1, 1, 2}, {1, 2, 2}};
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) {
        ids[r][c] = id[r - 1][c - 1];
        masters[r][c] = -9999;
      }
    masters[1][1] = 1;
    masters[2][2] = 2;
    f.publish(7, "HydrologicResponseUnits", "hru.asc", &ids);
    f.publish(8, "MasterHydrologicResponseUnits", "masters.asc", &masters);
    f.ctx.hru_list = &units;
  }
};

TEST(MeteoStep, ResponseUnitsTakeTheirMastersResult) {
  hru_layout h;
  step_section s;
  s.method = 4;
  auto b = build(s, PLAIN_ROWS, [&](step_fixture &f) { h.publish(f); });
  ASSERT_EQ(b->status, 0) << b->f.console();
  b->input->interpolate(0, 1, 1, 2001);
  // Thiessen at the masters: (1,1) S3 = 30, (2,2) the later of S1, S2 = 20.
  const double expected[2][3] = {{30, 30, 20}, {30, 20, 20}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c)
      EXPECT_EQ(b->input->result()[r][c], expected[r - 1][c - 1]);
}

TEST(MeteoStep, ResponseUnitLayoutsTheStepCannotServeAreRefused) {
  struct row {
    const char *what;
    std::function<void(step_fixture &, hru_layout &)> spoil;
    const char *entry;
  };
  const row rows[] = {
      {"unit id outside the list",
       [](step_fixture &, hru_layout &h) { h.ids[1][3] = 5; },
       "hydrologic response unit 5 of cell (1, 3) is not in the list of 2 "
       "units"},
      {"master on another process's cells",
       [](step_fixture &f, hru_layout &) { f.regions[2][2] = 1; },
       "the master cell (2, 2) of hydrologic response unit 2 lies outside the "
       "cells of process 0"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    hru_layout h;
    step_section s;
    s.method = 4;
    auto b = build(s, PLAIN_ROWS, [&](step_fixture &f) {
      h.publish(f);
      r.spoil(f, h);
    });
    EXPECT_EQ(b->status, 17);
    EXPECT_NE(b->f.console().find(r.entry), std::string::npos)
        << b->f.console();
  }
}

TEST(MeteoStep, BilinearWithoutAnyStationIsRefused) {
  step_fixture f;
  f.write("st.txt",
          "station data\nYY MM DD HH\nYY MM DD HH\nYY MM DD HH\nYY MM DD HH\n"
          "2001 1 1 0\n2001 1 1 1\n");
  step_section s;
  s.method = 5;
  f.write_control("[temperature]\n" + with_dir(f, s.text()));
  int status = -1;
  input_ptr in = f.build("temperature", status);
  EXPECT_EQ(status, 49);
  EXPECT_NE(f.console().find("no station in " + f.path("st.txt") +
                             " for interpolation method 5"),
            std::string::npos)
      << f.console();
}

} // namespace

namespace {

TEST(MeteoStep, RegressionFileAndGradientFileMethods) {
  // Method 3: half IDW (65/3 at cell (2,2)), half the file's regression
  // 10 + 0.01 z = 14.5 at z = 450.
  {
    step_section s;
    s.method = 3;
    auto b = build(s, PLAIN_ROWS, [](step_fixture &f) {
      f.write("reg.txt", "jr mo regression sets\n2001 1 1 0 10 0 0 10 0.01 "
                         "5000 10 0 -10000 0 0\n"
                         "2001 1 1 1 10 0 0 10 0.01 5000 10 0 -10000 0 0\n");
    });
    ASSERT_EQ(b->status, 0) << b->f.console();
    b->input->interpolate(0, 1, 1, 2001);
    EXPECT_NEAR(b->input->result()[2][2], 0.5 * 65.0 / 3 + 0.5 * 14.5, 1e-9);
  }
  // Method 6: residual 15 plus gradient 0.01 times z = 450 at cell (2,2).
  {
    step_section s;
    s.method = 6;
    s.files = "$D/st.txt\n$D/st2.txt\n";
    auto b = build(s, PLAIN_ROWS, [](step_fixture &f) {
      f.write("st2.txt", stations_with("2001 1 1 0 0.01 0.01 0.01 0.01\n2001 1 "
                                       "1 1 0.01 0.01 0.01 0.01\n"));
    });
    ASSERT_EQ(b->status, 0) << b->f.console();
    b->input->interpolate(0, 1, 1, 2001);
    EXPECT_NEAR(b->input->result()[2][2], 15 + 0.01 * 450, 1e-9);
    EXPECT_NEAR(b->input->result()[2][1], 10 + 0.01 * 400, 1e-9);
  }
}

TEST(MeteoStep, GridListReusesTheLastGridAndNeedsOne) {
  const std::string grid = "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner "
                           "2000\ncellsize 100\nnodata_value -9999\n"
                           "1 2 3\n4 5 6\n";
  struct row {
    const char *what;
    const char *list;
    int code_first, code_second;
  };
  const row rows[] = {
      {"-9999 after a grid reuses it", "2001 1 1 0 t.asc\n2001 1 1 1 -9999\n",
       0, 0},
      {"-9999 first: no grid yet", "2001 1 1 0 -9999\n2001 1 1 1 t.asc\n", 1050,
       0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    step_section s;
    s.method = 9;
    s.scaling = 2;
    auto b = build(s, "", [&](step_fixture &f) {
      f.write("t.asc", grid);
      f.write("st.txt", station_file_text("250", "1000", "2000", r.list));
      f.ctx.input_directory = &f.out_dir;
    });
    ASSERT_EQ(b->status, 0) << b->f.console();
    EXPECT_EQ(thrown_by([&] { b->input->interpolate(0, 1, 1, 2001); }),
              r.code_first);
    if (r.code_first != 0) {
      EXPECT_NE(b->f.console().find("no last valid grid name present"),
                std::string::npos);
      continue;
    }
    EXPECT_EQ(b->input->result()[2][1], 8) << "the grid's 4, scaled by 2";
    b->input->read_next_record();
    EXPECT_EQ(thrown_by([&] { b->input->interpolate(1, 1, 1, 2001); }),
              r.code_second);
    EXPECT_EQ(b->input->result()[2][1], 8) << "read again, not scaled twice";
  }
}

} // namespace

namespace {

TEST(MeteoStep, ScenarioGridOfTheMonthIsReadWhenTheMonthChanges) {
  auto grid_of = [](double v) {
    std::string text = "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner "
                       "2000\ncellsize 100\nnodata_value -9999\n";
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 3; ++c)
        text += std::to_string(v) + " ";
      text += "\n";
    }
    return text;
  };
  struct row {
    int szen_meth;
    double january, february; // cell (2,1): Thiessen 10 with grids 2 and 3
  };
  const row rows[] = {{5, 20, 30}, {6, 12, 13}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.szen_meth);
    step_section s;
    s.method = 4;
    s.scenario = "1\n" + std::to_string(r.szen_meth) + " SzenMeth in\n";
    for (int m = 1; m <= 12; ++m)
      s.scenario += (m == 1 ? "jan.asc\n" : "feb.asc\n");
    auto b = build(s,
                   "2001 1 31 23 10 20 30 40\n2001 2 1 0 10 20 30 40\n2001 2 1 "
                   "1 1 1 1 1\n",
                   [&](step_fixture &f) {
                     f.write("jan.asc", grid_of(2));
                     f.write("feb.asc", grid_of(3));
                     f.ctx.input_directory = &f.out_dir;
                     f.ctx.start_date = model_date{2001, 1, 31, 23};
                     f.ctx.end_date = model_date{2001, 2, 1, 5};
                   });
    ASSERT_EQ(b->status, 0) << b->f.console();
    ASSERT_EQ(thrown_by([&] { b->input->interpolate(23, 31, 1, 2001); }), 0)
        << b->f.console();
    EXPECT_EQ(b->input->result()[2][1], r.january);
    b->input->read_next_record();
    ASSERT_EQ(thrown_by([&] { b->input->interpolate(0, 1, 2, 2001); }), 0)
        << b->f.console();
    EXPECT_EQ(b->input->result()[2][1], r.february);
  }
}

} // namespace
