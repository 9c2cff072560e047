// Dynamic phenology and the daily land-use update. The per-day kernels are
// checked transition by transition; the settings object is then driven day
// by day through a whole year on a two-cell fixture (one DynamicPhenology_1
// and one DynamicPhenology_4 class) and compared with the values worked out
// by hand below at a few dates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "settings/phenology_kernels.h"
#include "tests/settings/layers_fixture.h"
#include "tests/tables/table_test_support.h"

using layers_fixture::control_parts;
using layers_fixture::settings_run;
using layers_fixture::text_grid;

namespace {

const std::string SERIES_4 =
    "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n"
    "Albedo = 0.2 0.2 0.2 0.2; rsc = 50 50 50 50; LAI = 1 2 3 4; Z0 = 0.1 0.1 0.1 0.1;\n"
    "VCF = 1 1 1 1; RootDepth = 1 1 1 1; AltDep = 0 0 0 0;\n";
const std::string DP1_KEYS =
    "F* = 70; DP1_t1_dorm = 60; DP1_T_Bf = 1.6; JDReset_TStart = 300; maxStartJDforDP1 = 200;\n";

landuse_entry block_entry(const std::string& keyword, const std::string& keys) {
  captured_diag cap;
  landuse_entry e;
  parse_landuse_block(*cap.diag, e, "1 test method " + keyword + " {\n" + keys + "}\n", keyword);
  return e;
}

}  // namespace

TEST(PhenologyKernels, ForcingChillingAndStress) {
  // Sigmoid 28.4 / (1 + exp(-0.185 (T - B - 18.4))): half of 28.4 at
  // T = B + 18.4; with exp(-0.185 x) = 1/3 (x = ln 3 / 0.185) it is 28.4 * 3/4.
  EXPECT_EQ(forcing_sigmoid(5, 5), 0.0);
  EXPECT_EQ(forcing_sigmoid(-1, 5), 0.0);
  EXPECT_NEAR(forcing_sigmoid(5 + 18.4, 5), 14.2, 1e-12);
  EXPECT_NEAR(forcing_sigmoid(5 + 18.4 + std::log(3.0) / 0.185, 5), 21.3, 1e-12);

  // Chilling units, offsets -3.4 and 12, full unit at 5: a triangle.
  const landuse_entry dp2 = block_entry(
      "DynamicPhenology_2", SERIES_4 + DP1_KEYS +
                                "JulDays = 1 -1 30 366; DP2_t0_dorm = 300; DP2_t1_dorm = 60; "
                                "DP2_T_Bf = 0; DP2_T_Bc = 5; DP2_Par_a = 50; DP2_Par_b = 0.5;\n");
  struct chill_row {
    double t, units;
  };
  for (const chill_row& r : std::vector<chill_row>{
           {-3.4, 0}, {0.8, 0.5}, {5, 1}, {8.5, 0.5}, {12, 0}, {20, 0}, {-10, 0}}) {
    SCOPED_TRACE(r.t);
    EXPECT_NEAR(chilling_units(dp2, r.t), r.units, 1e-12);  // (T+3.4)/8.4, (T-12)/(5-12)
  }

  // Stress weight 0.5, HReduDry 50: g = (theta - 50) / (150 - 50).
  landuse_entry stressed = dp2;
  stressed.StressFactorDynPhen = 0.5;
  stressed.HReduDry = 50;
  const double wet = 100;
  const double dry = 40;
  EXPECT_EQ(forcing_factor(dp2, &wet), 1.0);  // weight 0: no effect
  EXPECT_NEAR(forcing_factor(stressed, &wet), 1.25, 1e-12);
  EXPECT_EQ(forcing_factor(stressed, &dry), 1.0);
  EXPECT_EQ(forcing_factor(stressed, nullptr), 1.0);
}

TEST(PhenologyKernels, StartPointSearch) {
  struct row {
    const char* name;
    std::vector<double> q;
    int a;
    int expected;
  };
  const std::vector<row> rows = {
      {"before the second point", {0, 1, 69, 99, 250, 366}, 50, 2},
      {"between points 3 and 4", {0, 1, 69, 99, 250, 366}, 100, 4},
      {"after the last point stops at n", {0, 1, 69, 99, 250, 366}, 400, 5},
      {"point not yet reached", {0, 1, -1, 30, 250, 366}, 100, 2},
      {"missing point after", {0, 1, 69, -9999, 250, 366}, 100, 2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(start_point_index(r.q.data(), 5, r.a), r.expected);
  }
}

TEST(PhenologyKernels, OneDayOfEachModel) {
  const landuse_entry dp1 =
      block_entry("DynamicPhenology_1", SERIES_4 + DP1_KEYS + "JulDays = 1 -1 30 366;\n");
  const landuse_entry dp2 = block_entry(
      "DynamicPhenology_2", SERIES_4 + DP1_KEYS +
                                "JulDays = 1 -1 30 366; DP2_t0_dorm = 300; DP2_t1_dorm = 60; "
                                "DP2_T_Bf = 0; DP2_T_Bc = 5; DP2_Par_a = 50; DP2_Par_b = 0.5;\n");
  const landuse_entry dp3 =
      block_entry("DynamicPhenology_3", SERIES_4 +
                                            "DP1_t1_dorm = 1; DP1_T_Bf = 5; JDReset_TStart = 300; "
                                            "maxStartJDforDP1 = 200; JulDays = 1 100 200 366; "
                                            "ForcingThreshold = -1 50 100 -1;\n");
  landuse_entry dp4_done = block_entry(
      "DynamicPhenology_4",
      SERIES_4 + DP1_KEYS +
          "JulDays = 1 -1 30 366; DP4_t0_dorm = 300; DP4_t1_dorm = 60; DP4_T0 = 5; DP4_T1 = 5; "
          "DP4_Par_a = 100; DP4_Par_b = 10; DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 3;\n");
  dp4_done.phenology_done = 1;
  landuse_entry dp4 = dp4_done;
  dp4.phenology_done = 0;

  struct row {
    const char* name;
    const landuse_entry* e;
    int a;
    double t;
    phenology_cell in;
    std::vector<double> q_in;  // empty: no start-day series
    phenology_cell out;
    std::vector<double> q_out;
  };
  auto cell = [](double p, double s, double k, double f) {
    phenology_cell c;
    c.pheno_start = p;
    c.forcing_sum = s;
    c.chilling_sum = k;
    c.threshold = f;
    return c;
  };
  const double half = 1.6 + 18.4;  // 14.2 forcing units over DP1_T_Bf = 1.6
  const std::vector<row> rows = {
      // Model 1: 60 + 14.2 > F* = 70 starts the season on the day.
      {"model 1 passes F*", &dp1, 100, half, cell(-1, 60, 0, 0), {}, cell(100, 74.2, 0, 0), {}},
      {"model 1 before DP1_t1_dorm",
       &dp1,
       59,
       half,
       cell(-1, 60, 0, 0),
       {},
       cell(-1, 60, 0, 0),
       {}},
      {"model 1 reset day", &dp1, 300, half, cell(120, 80, 0, 0), {}, cell(-1, 0, 0, 0), {}},
      // A DynamicPhenology_4 class whose flag is set follows model 1 and
      // moves its points: q[2] = 100, q[3] = 100 + 30.
      {"model 1 of a flagged class moves its points",
       &dp4_done,
       100,
       half,
       cell(-1, 60, 0, 0),
       {0, 1, -1, 30, 366},
       cell(100, 74.2, 0, 0),
       {0, 1, 100, 130, 366}},
      // Model 2: on DP2_t1_dorm - 1 the threshold is 50 exp(0.5 K).
      {"model 2 threshold from chilling",
       &dp2,
       59,
       20,
       cell(-1, 0, 2, 0),
       {},
       cell(-1, 0, 2, 50 * std::exp(1.0)),
       {}},
      {"model 2 threshold without chilling",
       &dp2,
       59,
       20,
       cell(-1, 0, 0, 0),
       {},
       cell(-1, 0, 0, 50),
       {}},
      // At T - DP2_T_Bf = 18.4 the sigmoid gives 14.2, which passes F = 10.
      {"model 2 forcing", &dp2, 100, 18.4, cell(-1, 0, 3, 10), {}, cell(100, 14.2, 3, 10), {}},
      {"model 2 chilling in the dormant season",
       &dp2,
       310,
       0.8,
       cell(1, 0, 3, 10),
       {},
       cell(1, 0, 3.5, 10),
       {}},
      {"model 2 no chilling in the season",
       &dp2,
       100,
       0.8,
       cell(1, 0, 3, 10),
       {},
       cell(1, 0, 3, 10),
       {}},
      {"model 2 chilling sum cleared", &dp2, 299, 20, cell(1, 0, 3, 10), {}, cell(1, 0, 0, 10), {}},
      // Model 3: 40 + (25 - 5) = 60 passes the threshold 50 of point 2.
      {"model 3 forcing reaches a point",
       &dp3,
       50,
       25,
       cell(0, 40, 0, 0),
       {0, 1, -1, -1, 366},
       cell(0, 60, 0, 0),
       {50, 1, 50, -1, 366}},
      {"model 3 calendar reaches a point first",
       &dp3,
       100,
       5,
       cell(0, 10, 0, 0),
       {0, 1, -1, -1, 366},
       cell(0, 10, 0, 0),
       {50, 1, 100, -1, 366}},
      {"model 3 new year",
       &dp3,
       1,
       5,
       cell(0, 80, 0, 0),
       {50, 1, 50, 120, 366},
       cell(0, 0, 0, 0),
       {0, 1, -1, -1, 366}},
      // Model 4: 95 + (20 - 5) = 110 passes F = 100 + 10 ln 1.
      {"model 4 forcing",
       &dp4,
       100,
       20,
       cell(-1, 95, 1, 100),
       {0, 1, -1, 30, 366},
       cell(100, 110, 1, 100),
       {0, 1, 100, 130, 366}},
      {"model 4 chilling day while not started",
       &dp4,
       10,
       0,
       cell(-1, 0, 4, 0),
       {},
       cell(-1, 0, 5, 0),
       {}},
      {"model 4 threshold",
       &dp4,
       59,
       0,
       cell(-1, 0, std::exp(2.0) - 1, 0),
       {},
       cell(-1, 0, std::exp(2.0), 120),
       {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    phenology_cell c = r.in;
    std::vector<double> q = r.q_in;
    c.start_days = q.empty() ? nullptr : q.data();
    phenology_weather w;
    w.temperature = r.t;
    w.moving_average = r.t;
    phenology_day(*r.e, r.a, w, c);
    EXPECT_EQ(c.pheno_start, r.out.pheno_start);
    EXPECT_NEAR(c.forcing_sum, r.out.forcing_sum, 1e-9);
    EXPECT_NEAR(c.chilling_sum, r.out.chilling_sum, 1e-9);
    EXPECT_NEAR(c.threshold, r.out.threshold, 1e-9);
    if (!q.empty()) {
      EXPECT_EQ(q, r.q_out);
    }
  }
}

TEST(PhenologyKernels, LeafFallAfterFiveColdDays) {
  // Point 3 of JulDays 1 -1 30 250 366 is moved to the fifth day in a row
  // whose 7-day mean stays below DP4_T_xylstop = 10.
  const landuse_entry e = block_entry(
      "DynamicPhenology_4",
      "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n"
      "Albedo = 1 1 1 1 1; rsc = 1 1 1 1 1; LAI = 1 1 4 4 1; Z0 = 1 1 1 1 1; VCF = 1 1 1 1 1;\n"
      "RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0; JulDays = 1 -1 30 250 366;\n" +
          DP1_KEYS +
          "DP4_t0_dorm = 300; DP4_t1_dorm = 60; DP4_T0 = 5; DP4_T1 = 5; DP4_Par_a = 100; "
          "DP4_Par_b = 10; DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 4;\n");
  std::vector<double> q = {0, 1, 69, 99, 250, 366};
  double leaf_fall = 0;
  double cold = 0;
  for (int a = 223; a <= 227; ++a) {
    phenology_cell c;
    c.pheno_start = 69;
    c.threshold = 1000;
    c.start_days = q.data();
    c.leaf_fall_start = &leaf_fall;
    c.cold_days = &cold;
    phenology_weather w;
    w.temperature = 0;
    w.moving_average = 5;
    phenology_day(e, a, w, c);
    EXPECT_EQ(leaf_fall, a < 227 ? 0.0 : 227.0) << a;
  }
  // q[5] moves by 227 - 250; q[4] = 227; the points before it stay.
  EXPECT_EQ(q, (std::vector<double>{0, 1, 69, 99, 227, 343}));
}

namespace {

// Two cells of one row at 400 m (no altitude shift): cell 1 of multilayer
// class 100 (land use 10, DynamicPhenology_1), cell 2 of class 200 (land use
// 20, DynamicPhenology_4).
const std::string CLASS_A =
    "10 early method DynamicPhenology_1 {\n"
    "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n"
    "StartVegetationPeriodForBalance = 3; StopVegetationPeriodForBalance = 4;\n"
    "JDVegetationResetForBalance = 300; JDVegetationWriteForBalance = 250;\n"
    "JulDays = 1 -1 30 200 366;\n"
    "F* = 70; DP1_t1_dorm = 60; DP1_T_Bf = 1.6; JDReset_TStart = 300; maxStartJDforDP1 = 200;\n"
    "Albedo = 0.2 0.2 0.2 0.2 0.2; rsc = 50 50 50 50 50; LAI = 1 1 4 4 4;\n"
    "Z0 = 0.1 0.1 0.1 0.1 0.1; VCF = 1 1 1 1 1; RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0;\n"
    "}\n";
const std::string CLASS_B =
    "20 late method DynamicPhenology_4 {\n"
    "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n"
    "JulDays = 1 -1 30 250 366;\n"
    "F* = 70; DP1_t1_dorm = 60; DP1_T_Bf = 1.6; JDReset_TStart = 300; maxStartJDforDP1 = 200;\n"
    "DP4_t0_dorm = 300; DP4_t1_dorm = 60; DP4_T0 = 5; DP4_T1 = 5; DP4_Par_a = 100;\n"
    "DP4_Par_b = 10; DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 4;\n"
    "Albedo = 0.3 0.3 0.3 0.3 0.3; rsc = 60 60 60 60 60; LAI = 1 1 4 4 1;\n"
    "Z0 = 0.2 0.2 0.2 0.2 0.2; VCF = 1 1 1 1 1; RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0;\n"
    "}\n";
const std::string TWO_STANDS =
    "[multilayer_landuse]\n2\n100 standA { Landuse_Layers = 10; }\n"
    "200 standB { Landuse_Layers = 20; }\n";

control_parts two_cell_parts() {
  control_parts p;
  p.standard_grids =
      "3\n$dir//landuse.asc landuse 0\n"
      "none albedo fillcode = 0 readcode = 0 defaultValue = 0.2\n"
      // Without a start below 0 the forcing would wait for JDReset_TStart.
      "none Pheno_start1 fillcode = 0 readcode = 0 defaultValue = -1\n";
  p.multilayer = TWO_STANDS;
  p.landuse = "2\n" + CLASS_A + CLASS_B;
  return p;
}

std::map<std::string, std::string> two_cell_files() {
  return {{"zones.asc", text_grid("1 1\n", 2, 1)},
          {"dem.asc", text_grid("400 400\n", 2, 1)},
          {"landuse.asc", text_grid("100 200\n", 2, 1)}};
}

// Daily means: 0 degC up to day 59, 20 degC from day 60 to 219, 0 after.
double daily_mean(int a) { return a < 60 || a >= 220 ? 0.0 : 20.0; }

void date_of(int a, int& day, int& month) {
  static const int lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  month = 1;
  day = a;
  while (day > lengths[month]) day -= lengths[month++];
}

}  // namespace

TEST(DailyLanduseUpdate, OneYearOfDynamicPhenologyOnTwoCells) {
  settings_run run(two_cell_parts(), two_cell_files());
  ASSERT_EQ(run.code, 0) << run.cap.console();
  grid_matrix& temperature = run.add_grid("temperature", 2, 1, 0);

  struct sample {
    const char* grid;
    int col;
  };
  const std::vector<sample> watched = {{"Pheno_start1", 1},        {"Pheno_start1", 2},
                                       {"SumOfChillingUnits1", 2}, {"FStar_ForcingThreshold1", 2},
                                       {"leaf_area_index1", 1},    {"leaf_area_index1", 2},
                                       {"StartDayOfLeaveFall", 2}, {"VegetationStart1", 1},
                                       {"VegetationStop1", 1},     {"VegetationDuration1", 1},
                                       {"VegetationDuration1", 2}, {"TemperatureMOVAV", 2}};
  std::map<std::pair<int, std::string>, double> seen;  // (day, grid@col) -> value
  std::map<int, int> write_flag;
  for (int a = 1; a <= 365; ++a) {
    int day = 0, month = 0;
    date_of(a, day, month);
    temperature[1][1] = temperature[1][2] = daily_mean(a);
    run.settings->update_landuse_parameters(23, day, month, 2001, 1440);
    for (const sample& s : watched)
      seen[{a, std::string(s.grid) + "@" + std::to_string(s.col)}] = run.value(s.grid, 1, s.col);
    write_flag[a] = run.store[1].vegetation.flags[vegetation_period_state::output_due];
  }

  struct expected {
    int day;
    const char* grid;
    int col;
    double value;
    const char* source;
  };
  const double ln59 = std::log(59.0);
  const std::vector<expected> rows = {
      {59, "Pheno_start1", 1, -1, "forcing starts on DP1_t1_dorm = 60"},
      {63, "Pheno_start1", 1, -1, "4 x 14.2 = 56.8 <= F* = 70"},
      {64, "Pheno_start1", 1, 64, "5 x 14.2 = 71 > 70 (sigmoid at T - B = 18.4)"},
      {59, "SumOfChillingUnits1", 2, 59, "59 days at 0 <= DP4_T0 before the start"},
      {59, "FStar_ForcingThreshold1", 2, 100 + 10 * ln59, "a + b ln K on DP4_t1_dorm - 1"},
      {68, "Pheno_start1", 2, -1, "9 x (20 - 5) = 135 <= 140.78"},
      {69, "Pheno_start1", 2, 69, "10 x 15 = 150 > 100 + 10 ln 59"},
      {59, "leaf_area_index1", 1, 1, "held at P[1] before the start"},
      {74, "leaf_area_index1", 1, 2, "1 + 3 (74 - 64) / 30"},
      {84, "leaf_area_index1", 2, 2.5, "q = 69, 99: 1 (99-84)/30 + 4 (84-69)/30"},
      {93, "VegetationStart1", 1, -1, "point 3 (64 + 30) not reached"},
      {94, "VegetationStart1", 1, 94, "point 3 reached on day 94"},
      {200, "VegetationStop1", 1, 200, "point 4 on day 200"},
      {199, "VegetationDuration1", 1, 106, "steps of days 94 to 199"},
      {200, "VegetationDuration1", 1, 106, "no step once stopped"},
      {223, "TemperatureMOVAV", 2, 60.0 / 7, "three days of 20 in the last seven"},
      {226, "StartDayOfLeaveFall", 2, 0, "four cold days (means < 10 from day 223)"},
      {227, "StartDayOfLeaveFall", 2, 227, "fifth cold day"},
      {240, "leaf_area_index1", 2, 425.0 / 116, "q = 227, 343: (4 x 103 + 1 x 13) / 116"},
      {300, "Pheno_start1", 1, -1, "JDReset_TStart"},
      {300, "Pheno_start1", 2, -1, "JDReset_TStart"},
      {300, "leaf_area_index1", 1, 1, "held again"},
      {300, "leaf_area_index1", 2, 1, "points reset, P[1] = P[2] = 1"},
      {300, "SumOfChillingUnits1", 2, 1, "cleared on day 299, one cold day"},
      {300, "FStar_ForcingThreshold1", 2, 100, "a + b ln 1"},
      {300, "StartDayOfLeaveFall", 2, 0, "reset with the start"},
      {300, "VegetationDuration1", 1, 0, "JDVegetationResetForBalance"},
      {365, "SumOfChillingUnits1", 2, 66, "days 300 to 365"},
      {365, "FStar_ForcingThreshold1", 2, 100 + 10 * std::log(66.0), "a + b ln 66"},
      {365, "VegetationDuration1", 2, 365, "a class without a start counts every step"},
  };
  for (const expected& r : rows) {
    SCOPED_TRACE(std::string(r.grid) + " col " + std::to_string(r.col) + " day " +
                 std::to_string(r.day) + ": " + r.source);
    const std::pair<int, std::string> key(r.day, std::string(r.grid) + "@" + std::to_string(r.col));
    EXPECT_NEAR(seen[key], r.value, 1e-9);
  }
  // The table's write day is the first class's 250 (land-use calendar).
  EXPECT_EQ(write_flag[249], 0);
  EXPECT_EQ(write_flag[250], 1);
  EXPECT_TRUE(run.logged("actual parameters ")) << run.cap.console();
  EXPECT_TRUE(run.logged("31.12.2001 23. h"));

  // The release writes the start days of layer 1 (binary floats: 12 header
  // values, then per cell levels 0..5). After the reset of day 300 both
  // cells hold their sample days again: 1, -1, 30, then 200 or 250, 366.
  run.release();
  const std::string file = read_file(run.cap.dir.file("MultipleStartTimes1_End"));
  ASSERT_EQ(file.size(), (12 + 2 * 6) * sizeof(float));
  std::vector<float> values(file.size() / sizeof(float));
  std::memcpy(values.data(), file.data(), file.size());
  EXPECT_EQ(values[11], 5.0f);  // the level count L in the last header value
  EXPECT_EQ(std::vector<float>(values.begin() + 13, values.begin() + 18),
            (std::vector<float>{1, -1, 30, 200, 366}));
  EXPECT_EQ(std::vector<float>(values.begin() + 19, values.end()),
            (std::vector<float>{1, -1, 30, 250, 366}));
}
