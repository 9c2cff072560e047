// The precipitation correction: station values corrected with temperature
// and wind at each station, the refit of the regression layers, grid mode
// cell by cell, and the point value that the station mode relies on.
// Coefficients: Tg 0.5, cr 1.05, br 0.01, cs 1.1, bs 0.07, so that a value
// of 10 with wind 3 becomes 10 (0.03 + 1.05) = 10.8 as rain and
// 10 (0.21 + 1.1) = 13.1 as snow.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "meteo/precicorr.h"
#include "meteo/step_fixture.h"

namespace {

const std::string COEFFICIENTS =
    "0.5 Grenztemperatur fuer\n1.05 Konstante Regen fuer\n0.01 Anstieg Regen "
    "fuer\n"
    "1.1 Konstante Schnee fuer\n0.07 Anstieg Schnee fuer\n";

// Stations A (1000, 2000), B (1200, 2100), C (1000, 2100), D (1200, 2000).
const std::string TEMPERATURES =
    station_file_text("400 550 500", "1000 1200 1000", "2000 2100 2100",
                      "2001 1 1 0 4 -2 0.5\n2001 1 1 1 4 -2 0.5\n");
const std::string WIND =
    station_file_text("450", "1100", "2050", "2001 1 1 0 3\n2001 1 1 1 3\n");
const std::string PRECIPITATION = station_file_text(
    "400 550 500 600", "1000 1200 1000 1200", "2000 2100 2100 2000",
    "2001 1 1 0 10 10 10 -99999\n2001 1 1 1 10 10 10 -99999\n");

struct release_correction {
  void operator()(precicorrclass *p) const {
    p->release();
    delete p;
  }
};

struct correction_setup {
  step_fixture f;
  std::vector<input_ptr> owned;
  std::vector<meteointerpol *> inputs{nullptr};
  std::vector<std::string> names{""};
  std::unique_ptr<precicorrclass, release_correction> correction;
  int status = -1;

  // sections: input name -> section text; built in the given order.
  void build(const std::vector<std::pair<std::string, step_section>> &sections,
             int do_it) {
    std::string control = "[precipitation_correction]\n" +
                          std::to_string(do_it) + " do_it fuer\n" +
                          COEFFICIENTS;
    for (const auto &[name, s] : sections)
      control += "[" + name + "]\n" + with_dir(f, s.text());
    f.write_control(control);
    for (const auto &[name, s] : sections) {
      int st = -1;
      owned.push_back(f.build(name, st));
      ASSERT_EQ(st, 0) << f.console();
      inputs.push_back(owned.back().get());
      names.push_back(name);
    }
    correction.reset(new precicorrclass(
        status, f.cd.diag.get(), &inputs, &names,
        static_cast<int>(names.size()) - 1, &f.store, f.ctx));
  }
};

step_section thiessen_from(const std::string &file) {
  step_section s;
  s.method = 4;
  s.files = "$D/" + file + "\n";
  s.statistics = file + ".sta 0";
  s.lower = -1e9;
  s.upper = 1e9;
  return s;
}

TEST(PrecipitationCorrection, StationValuesByTemperatureAndWind) {
  struct row {
    const char *what;
    int do_it;
    bool with_temperature;
    std::vector<double> expected; // A, B, C, D
  };
  const row rows[] = {
      {"A rain, B snow, C at the threshold snow, D invalid left",
       1,
       true,
       {10.8, 13.1, 13.1, -10000}},
      {"do_it 0 changes nothing", 0, true, {10, 10, 10, -10000}},
      {"no temperature anywhere: rain", 1, false, {10.8, 10.8, 10.8, -10000}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    correction_setup c;
    c.f.write("t.txt", TEMPERATURES);
    c.f.write("u.txt", WIND);
    c.f.write("p.txt", PRECIPITATION);
    std::vector<std::pair<std::string, step_section>> sections;
    if (r.with_temperature)
      sections.emplace_back("temperature", thiessen_from("t.txt"));
    sections.emplace_back("wind_speed", thiessen_from("u.txt"));
    sections.emplace_back("precipitation", thiessen_from("p.txt"));
    c.build(sections, r.do_it);
    ASSERT_EQ(c.status, 0) << c.f.console();
    EXPECT_EQ(c.correction->get_grid_mode(), 0);
    c.correction->correct_station_data();
    const station_file &p = c.inputs.back()->station(0);
    for (int k = 1; k <= 4; ++k)
      EXPECT_NEAR(p.values[static_cast<size_t>(k)],
                  r.expected[static_cast<size_t>(k - 1)], 1e-12)
          << "station " << k;
  }
}

TEST(PrecipitationCorrection, TemperatureReadFromGridsMeansGridMode) {
  correction_setup c;
  c.f.write("t.txt", station_file_text("250", "1000", "2000",
                                       "2001 1 1 0 t.asc\n2001 1 1 1 t.asc\n"));
  c.f.write("u.txt", WIND);
  c.f.write("p.txt", PRECIPITATION);
  step_section t;
  t.method = 9;
  t.files = "$D/t.txt\n";
  t.statistics = "t.sta 0";
  c.build({{"temperature", t},
           {"wind_speed", thiessen_from("u.txt")},
           {"precipitation", thiessen_from("p.txt")}},
          1);
  ASSERT_EQ(c.status, 0) << c.f.console();
  EXPECT_EQ(c.correction->get_grid_mode(), 1);
  c.correction->correct_station_data();
  EXPECT_EQ(c.inputs.back()->station(0).values[1], 10)
      << "station values stay in grid mode";
}

TEST(PrecipitationCorrection, RegressionLayersOfMethod2AreRefitted) {
  struct row {
    const char *what;
    const char *set; // a1 b1 zlow a2 b2 zup a3 b3 c0 gx gy
    double a2, b2, zup;
  };
  // No temperature, no wind: every sample is rain with factor 1.05.
  const row rows[] = {
      {"layer 2 over 0..1000, then zup where layers 2 and 3 cross",
       "1 0 0 1 0.001 1000 2 0 -10000 0 0", 1.05, 0.00105,
       (1.05 - 2) / (0 - 0.00105)},
      {"zup 0: layer 2 keeps its coefficients",
       "1 0 0 1 0.001 0 2 0 -10000 0 0", 1, 0.001, (1 - 2) / (0 - 0.001)},
      // H = 600.0001 just above zup = 600: the Part's step of 1e-5 m up to
      // 1200 m would take 6e7 samples; at most 1000 give the same exact line.
      {"layer 3 with H just above zup", "1 0 0 1 0.001 600 2 0.002 -10000 0 0",
       1.05, 0.00105, (1.05 - 2.1) / (0.0021 - 0.00105)},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    correction_setup c;
    c.f.write("p.txt", PRECIPITATION);
    c.f.write("reg.txt", std::string("jr mo regression sets\n2001 1 1 0 ") +
                             r.set + "\n2001 1 1 1 " + r.set + "\n");
    step_section p;
    p.method = 2;
    p.files = "$D/p.txt\n";
    c.build({{"precipitation", p}}, 1);
    ASSERT_EQ(c.status, 0) << c.f.console();
    c.correction->set_max_elevation(600.0001);
    c.correction->correct_station_data();
    const regression_set &set = c.inputs.back()->regression_coefficients();
    EXPECT_NEAR(set[4], r.a2, 1e-12);
    EXPECT_NEAR(set[5], r.b2, 1e-12);
    EXPECT_NEAR(set[6], r.zup, 1e-9);
    EXPECT_EQ(set[1], 1) << "layer 1 stays";
    if (set[8] != 0) {
      EXPECT_NEAR(set[7], 2.1, 1e-9);
      EXPECT_NEAR(set[8], 0.0021, 1e-12);
    }
    EXPECT_EQ(set[9], -10000) << "the horizontal part stays";
  }
}

TEST(PrecipitationCorrection, GridModeCellByCell) {
  correction_setup c;
  const int rows = meteo_fixture::ROWS, cols = meteo_fixture::COLS;
  grid_matrix p = c.f.grids.matrix(1, rows, 1, cols, rows);
  grid_matrix t = c.f.grids.matrix(1, rows, 1, cols, rows);
  grid_matrix u = c.f.grids.matrix(1, rows, 1, cols, rows);
  // (row, col): P, T, u -> expected
  struct cell {
    int r, c;
    double p, t, u, expected;
  };
  const cell cells[] = {
      {2, 1, 10, 4, 3, 10.8},      {2, 2, 10, -2, 3, 13.1},
      {2, 3, 10, -9999, 3, 10.8},  // temperature nodata: rain
      {1, 1, -9999, 4, 3, -9999},  // precipitation nodata stays
      {1, 2, 10, 0.5, 3, 13.1},    // at the threshold: snow
      {1, 3, 10, 4, -10000, 10.5}, // wind below the bound: no wind
  };
  for (const cell &x : cells) {
    p[x.r][x.c] = x.p;
    t[x.r][x.c] = x.t;
    u[x.r][x.c] = x.u;
  }
  c.f.publish(7, "precipitation", "p.asc", &p);
  c.f.publish(8, "temperature", "t.asc", &t);
  c.f.publish(9, "wind_speed", "u.asc", &u);
  c.build({}, 1);
  ASSERT_EQ(c.status, 0) << c.f.console();
  EXPECT_EQ(c.correction->get_grid_mode(), 1);
  c.correction->correct_station_data();
  EXPECT_EQ(p[2][1], 10) << "station mode does nothing in grid mode";
  c.correction->correct_precipitation_grid();
  for (const cell &x : cells)
    EXPECT_NEAR(p[x.r][x.c], x.expected, 1e-12) << x.r << "," << x.c;
}

TEST(PrecipitationCorrection, PointValueOfAGridInputTakesTheEdgeCell) {
  step_fixture f;
  f.write("t.txt", station_file_text("250", "1000", "2000",
                                     "2001 1 1 0 t.asc\n2001 1 1 1 t.asc\n"));
  f.write("t.asc", "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize "
                   "100\nnodata_value -9999\n"
                   "1 2 3\n4 5 6\n");
  step_section t;
  t.method = 9;
  t.files = "$D/t.txt\n";
  f.write_control("[temperature]\n" + with_dir(f, t.text()));
  f.ctx.input_directory = &f.out_dir;
  int status = -1;
  input_ptr in = f.build("temperature", status);
  ASSERT_EQ(status, 0) << f.console();
  in->interpolate(0, 1, 1, 2001);
  ASSERT_EQ(in->result()[2][1], 4) << f.console();
  struct row {
    double x, y, expected;
  };
  const row rows[] = {{500, 2050, 4},
                      {1050, 1500, 4},
                      {1250, 2150, 3},
                      {5000, 9000, 3},
                      {1150, 2050, 5}};
  double buffer[4];
  for (const row &r : rows)
    EXPECT_EQ(in->interpolate_at_point(buffer, r.x, r.y, 0), r.expected)
        << r.x << "," << r.y;
}

} // namespace
