// Land-use parameters over the year. Every expected value is worked out by
// hand from the interpolation rules: the land-use calendar (February has 29
// days when the year is divisible by 4 and not by 400), the monthly values
// anchored on day 15, the sample days shifted by trunc(AltDep * (alt - 400))
// and the per-cell start days of the phenology methods.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelbase/memhandling.h"
#include "tables/landuse.h"
#include "tables/landuse_year.h"
#include "tests/tables/table_test_support.h"

namespace {

// Keys of a block with four sample days whose LAI is 1, 2, 3, 4 (element 0
// repeats 4).
const std::string BASE_KEYS =
    "RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
    "Albedo = 0.1 0.2 0.3 0.4; rsc = 10 20 30 40;\n"
    "LAI = 1 2 3 4; Z0 = 0.1 0.1 0.1 0.1; VCF = 1 1 1 1; RootDepth = 1 2 3 4;\n";
const std::string DP1_KEYS =
    "F* = 150; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 160;\n";
const std::string DP4_KEYS =
    "DP4_t0_dorm = 280; DP4_t1_dorm = 20; DP4_T0 = 5; DP4_T1 = 5; DP4_Par_a = 100;\n"
    "DP4_Par_b = 10; DP4_T_xylstop = 5; DP4_t_xs1 = 200; DP4_SPSLF = 3;\n";

landuse_entry block_entry(const std::string& keyword, const std::string& keys) {
  captured_diag cap;
  landuse_entry e;
  parse_landuse_block(*cap.diag, e, "1 test method " + keyword + " {\n" + keys + "}\n", keyword);
  return e;
}

landuse_entry one_line_entry() {
  // rsc 100 .. 1200 from January to December; sample days 1, 120, 240, 366.
  captured_diag cap;
  landuse_entry e;
  parse_landuse_line(*cap.diag, e,
                     "2 grass 0.2 100 200 300 400 500 600 700 800 900 1000 1100 1200 "
                     "1 120 240 366 1 2 3 4 0.1 0.1 0.1 0.1 1 1 1 1 1 2 3 4 1 3\n",
                     2);
  return e;
}

TEST(LanduseCalendar, DayOfYear) {
  struct row {
    int day, month, year, expected;
  };
  const std::vector<row> rows = {
      {29, 2, 2000, 60},    // 31 + 29
      {1, 3, 2000, 60},     // 31 + 28 + 1: 2000 has 28 February days here
      {1, 3, 1904, 61},     // 31 + 29 + 1
      {31, 12, 1900, 366},  // 335 + 31: 1900 has 29 February days here
      {31, 12, 2001, 365}, {1, 1, 2001, 1}, {32, 12, 2001, 366},  // 334 + 32, still within 0..366
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.day) + "." + std::to_string(r.month) + "." +
                 std::to_string(r.year));
    EXPECT_EQ(landuse_day_of_year(r.day, r.month, r.year), r.expected);
  }
  // 335 + 32 = 367 and -1 leave 0..366.
  EXPECT_EQ(thrown_code([] { landuse_day_of_year(32, 12, 1900); }), 150);
  EXPECT_EQ(thrown_code([] { landuse_day_of_year(-1, 1, 2001); }), 150);
}

TEST(LanduseMonthly, ResistancesAnchoredOnDayFifteen) {
  const landuse_entry e = one_line_entry();
  struct row {
    int day, month, year;
    double expected;
  };
  // value = P[b] (L + 15 - t) / L + P[b+1] (t - 15) / L with L the length of
  // the month asked for; up to day 14 b is the month before and t grows by
  // that month's length minus 1.
  const std::vector<row> rows = {
      {15, 1, 2001, 100.0},
      {31, 1, 2001, (100.0 * 15 + 200.0 * 16) / 31},
      {14, 2, 2001, (200.0 * 29 - 100.0) / 28},  // t = 44, above February's value
      {15, 2, 2001, 200.0},
      {14, 2, 1904, 200.0},                             // t = 44, L = 29: weights 0 and 1
      {1, 1, 2001, (1200.0 * 15 + 100.0 * 16) / 31},    // December of the year before
      {31, 12, 2001, (1200.0 * 15 + 100.0 * 16) / 31},  // January of the year after
      {1, 3, 2001, (200.0 * 18 + 300.0 * 13) / 31},     // t = 28, L = 31 (March)
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.day) + "." + std::to_string(r.month) + "." +
                 std::to_string(r.year));
    EXPECT_NEAR(e.rsc_monthly(r.day, r.month, r.year), r.expected, 1e-9);
    EXPECT_NEAR(e.rs_interception_monthly(r.day, r.month, r.year), r.expected, 1e-9);
    captured_diag cap;
    EXPECT_NEAR(e.rsc_at_date(*cap.diag, r.day, r.month, r.year, 1, 1, 1, 400), r.expected, 1e-9);
    EXPECT_EQ(e.rs_evaporation_at_date(*cap.diag, r.day, r.month, r.year, 1, 1, 1, 400), 200.0);
  }
  EXPECT_EQ(thrown_code([&] { e.rsc_monthly(1, 13, 2001); }), 154);
  EXPECT_EQ(thrown_code([&] { e.rsc_monthly(1, 0, 2001); }), 154);
}

TEST(LanduseMonthly, JulianDaysOfAOneLineClass) {
  const landuse_entry e = one_line_entry();
  captured_diag cap;
  const double january_first = (1200.0 * 15 + 100.0 * 16) / 31;
  // 366 is taken modulo 365, so it is January 1.
  EXPECT_NEAR(e.rsc_at_day(*cap.diag, 366, 1, 1, 1, 400), january_first, 1e-9);
  EXPECT_NEAR(e.rsc_at_day(*cap.diag, 1, 1, 1, 1, 400), january_first, 1e-9);
  // Day 32 is February 1: t = 1 + 31 - 1, L = 28.
  EXPECT_NEAR(e.rs_interception_at_day(*cap.diag, 32, 1, 1, 1, 400), (100.0 * 12 + 200.0 * 16) / 28,
              1e-9);
  // In a year with 29 February days day 61 is March 1: t = 1 + 29 - 1, L = 31.
  EXPECT_NEAR(e.rsc_at_day(*cap.diag, 61, 1, 1, 1, 400, 29), (200.0 * 17 + 300.0 * 14) / 31, 1e-9);
}

TEST(LanduseSampleDays, AltitudeShiftsTheSampleDays) {
  // LAI 1, 2, 3, 4 on days 1, 100, 200, 366; AltDep 0.025 on the first three.
  const landuse_entry e = block_entry(
      "VariableDayCount", BASE_KEYS + "JulDays = 1 100 200 366; AltDep = 0.025 0.025 0.025 0;");
  struct row {
    int jd;
    double altitude, expected;
  };
  const std::vector<row> rows = {
      {1, 400, 1.0},
      {50, 400, 1.0 + 49.0 / 99},
      {100, 400, 2.0},
      {366, 400, 4.0},
      {100, 430, 2.0},  // trunc(0.75) = 0
      {99, 350, 2.0},   // trunc(-1.25) = -1: day 99
      {110, 800, 2.0},  // +10: days 11, 110, 210, 366
      {60, 800, 1.0 + 49.0 / 99},
      {5, 800, (4.0 * 6 + 1.0 * 5) / 11},  // between c[0] = 0 and c[1] = 11
  };
  for (const row& r : rows) {
    SCOPED_TRACE("day " + std::to_string(r.jd) + " at " + std::to_string(r.altitude));
    captured_diag cap;
    EXPECT_NEAR(e.lai_at_day(*cap.diag, r.jd, 1, 1, 1, r.altitude), r.expected, 1e-12);
  }
}

TEST(LanduseSampleDays, WrapAroundTheYearEnd) {
  captured_diag cap;
  // Days 100 and 200 at 400 m, LAI 1 and 3: day 300 lies between c[0] = -166
  // and c[1] = 100 as day -66: 3 * 166/266 + 1 * 100/266.
  const landuse_entry two = block_entry(
      "VariableDayCount",
      "RootDist = 1; TReduWet = 0.9; HReduDry = 3.45; JulDays = 100 200; Albedo = 0.1 0.2;\n"
      "rsc = 1 2; LAI = 1 3; Z0 = 1 1; VCF = 1 1; RootDepth = 1 1; AltDep = 0 0;");
  EXPECT_NEAR(two.lai_at_day(*cap.diag, 300, 1, 1, 1, 400), 598.0 / 266, 1e-12);

  // One-line class at 800 m: days 11, 130, 230, 356, but c[0] stays 366 - 366
  // = 0; day 360 runs as -6 between c[0] and c[1]: 4 * 17/11 + 1 * (-6)/11.
  const landuse_entry e = one_line_entry();
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 130, 1, 1, 1, 800), 2.0, 1e-12);
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 356, 1, 1, 1, 800), 4.0, 1e-12);
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 360, 1, 1, 1, 800), 62.0 / 11, 1e-12);
  EXPECT_NEAR(e.albedo_at_date(*cap.diag, 1, 6, 2001, 1, 1, 1, 800), 0.2, 1e-15);
}

TEST(LanduseSampleDays, AltitudeCorrectionOutsideTheYearFails) {
  // +10 days at 800 m moves day 366 to 376.
  const landuse_entry e = block_entry(
      "VariableDayCount", BASE_KEYS + "JulDays = 1 100 200 366; AltDep = 0.025 0.025 0.025 0.025;");
  {
    control_file_reader f("");
    EXPECT_EQ(thrown_code([&] { e.lai_at_day(f.diag(), 50, 1, 3, 4, 800); }), 152);
    auto records = f.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, FATAL_LEVEL);
    EXPECT_EQ(records[0].text,
              "\n---ERROR--\naltitude correction resulted in a Julian day of 376 for fix point 4 "
              "(JD should be between 1 and 366)");
  }
  {
    control_file_reader f("");
    EXPECT_EQ(thrown_code([&] { e.root_depth_at_day(f.diag(), 50, 1, 3, 4, 800); }), 152);
    const std::vector<diag_record> expected = {
        {FATAL_LEVEL,
         "\n---ERROR--\naltitude correction resulted in a Julian day of 376 for fix point 4 "
         "(JD should be between 1 and 366)"},
        {FATAL_LEVEL,
         "Coordinates: i=3, j=4\nLayer=1\nAltitude=800m\nJulday=50\nLanduse Code=1\nTStart=-1"}};
    EXPECT_EQ(f.records(), expected);
  }
  captured_diag cap;
  EXPECT_NEAR(e.root_depth_at_day(*cap.diag, 100, 1, 3, 4, 400), 2.0, 1e-12);
}

TEST(LanduseSampleDays, NFactorUsesTheUncorrectedDays) {
  const landuse_entry e = block_entry(
      "VariableDayCount",
      BASE_KEYS +
          "JulDays = 1 100 200 366; AltDep = 0.025 0.025 0.025 0.025; n-factor = 0.5 1 1.5 2;");
  captured_diag cap;
  EXPECT_NEAR(e.n_factor_at_day(50), 0.5 + 0.5 * 49 / 99, 1e-12);
  EXPECT_NEAR(e.n_factor_at_day(366), 2.0, 1e-12);
  // 19 February is day 50; no altitude enters.
  EXPECT_NEAR(e.n_factor_at_date(*cap.diag, 19, 2, 2001), 0.5 + 0.5 * 49 / 99, 1e-12);
}

class LanduseCellInputs : public ::testing::Test {
 protected:
  memory_handling mh;
  // Rows 1..3, columns 0..4; the cell under test is (2, 3).
  grid_matrix start = mh.matrix(1, 3, 1, 4, 3);
  grid_matrix forcing = mh.matrix(1, 3, 1, 4, 3);
  stack_matrix series = mh.matrix_3d(1, 3, 1, 4, 4, 3);
  void set_series(std::initializer_list<double> q) {
    int level = 0;
    for (double v : q) series[2][3][level++] = v;
  }
};

TEST_F(LanduseCellInputs, PhenologicalStartHoldsTheValueUntilTheStart) {
  // JulDays 1, -1, 30, 366: sample day 2 becomes the cell's start 120 and day
  // 3 lies 30 days after it, so c = 1, 120, 150, 366.
  landuse_entry e = block_entry("DynamicPhenology_1",
                                BASE_KEYS + DP1_KEYS + "JulDays = 1 -1 30 366; AltDep = 0 0 0 0;");
  ASSERT_EQ(e.dyn_start_index, 2);
  start[2][3] = 120.0;
  e.pheno_start = {nullptr, &start};
  struct row {
    int jd;
    double expected;
  };
  const std::vector<row> rows = {{1, 1.0},   {2, 1.0},   {120, 1.0}, {121, 2.0 + 1.0 / 30},
                                 {135, 2.5}, {150, 3.0}, {258, 3.5}, {366, 4.0}};
  captured_diag cap;
  for (const row& r : rows) {
    SCOPED_TRACE(r.jd);
    EXPECT_NEAR(e.lai_at_day(*cap.diag, r.jd, 1, 2, 3, 400), r.expected, 1e-12);
  }
  // Without the start grid (start -1) the value of sample day 1 holds all year.
  e.pheno_start.clear();
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 100, 1, 2, 3, 400), 1.0, 1e-12);
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 300, 1, 2, 3, 400), 1.0, 1e-12);
}

TEST_F(LanduseCellInputs, PerCellStartDaySeries) {
  landuse_entry e =
      block_entry("DynamicPhenology_4",
                  BASE_KEYS + DP1_KEYS + DP4_KEYS +
                      "JulDays = 1 -1 30 366; AltDep = 0 0 0 0;"
                      "StartVegetationPeriodForBalance = 2; StopVegetationPeriodForBalance = 3;");
  set_series({0, 1, 120, 150, 366});
  e.start_day_series = {nullptr, &series};
  captured_diag cap;
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 130, 1, 2, 3, 400), (2.0 * 20 + 3.0 * 10) / 30, 1e-12);
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 1, 1, 2, 3, 400), 1.0, 1e-12);
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 366, 1, 2, 3, 400), 4.0, 1e-12);
  // Start in the bracket (2, 3) from q[2] on; stop on q[3] exactly.
  EXPECT_EQ(e.vegetation_start_at_day(*cap.diag, 130, 1, 2, 3, 400), 130);
  EXPECT_EQ(e.vegetation_start_at_day(*cap.diag, 119, 1, 2, 3, 400), -1);
  EXPECT_EQ(e.vegetation_stop_at_day(*cap.diag, 150, 1, 2, 3, 400), 150);
  EXPECT_EQ(e.vegetation_stop_at_day(*cap.diag, 151, 1, 2, 3, 400), -1);
  // Point 3 not yet reached (-1): the bracket (2, 3) is used as it is, on the
  // line through (120, 2) and (-1, 3): 2 * 201/121 - 3 * 80/121.
  set_series({0, 1, 120, -1, 366});
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 200, 1, 2, 3, 400), 162.0 / 121, 1e-12);
}

TEST_F(LanduseCellInputs, ForcingSumLeadsTowardsAPointReachedByForcing) {
  landuse_entry e =
      block_entry("DynamicPhenology_3", BASE_KEYS + DP1_KEYS +
                                            "JulDays = 1 100 200 366; AltDep = 0 0 0 0;"
                                            "ForcingThreshold = -1 50 100 -1;");
  // Point 2 reached on day 90 at the forcing sum 50; point 3 still open.
  set_series({50, 1, 90, -1, -1});
  e.start_day_series = {nullptr, &series};
  captured_diag cap;
  // Without the forcing sum the day decides: line through (90, 2), (-1, 3).
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 120, 1, 2, 3, 400), (2.0 * 121 - 3.0 * 30) / 91, 1e-12);
  e.forcing_sum = {nullptr, &forcing};
  forcing[2][3] = 75.0;  // halfway from 50 to 100
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 120, 1, 2, 3, 400), 2.5, 1e-12);
  forcing[2][3] = 100.0;
  EXPECT_NEAR(e.lai_at_day(*cap.diag, 120, 1, 2, 3, 400), 3.0, 1e-12);
}

TEST(LanduseVegetationPeriod, StartAndStopOnTheSampleDays) {
  captured_diag cap;
  const std::string keys = BASE_KEYS + "JulDays = 1 100 200 366; AltDep = 0 0 0 0;";
  const landuse_entry open_end =
      block_entry("VariableDayCount", keys + "StartVegetationPeriodForBalance = 2;");
  EXPECT_EQ(open_end.vegetation_start_at_day(*cap.diag, 100, 1, 1, 1, 400), 100);
  EXPECT_EQ(open_end.vegetation_start_at_day(*cap.diag, 99, 1, 1, 1, 400), -1);
  EXPECT_EQ(open_end.vegetation_start_at_day(*cap.diag, 101, 1, 1, 1, 400), -1);
  EXPECT_EQ(open_end.vegetation_stop_at_day(*cap.diag, 200, 1, 1, 1, 400), 0);

  const landuse_entry period = block_entry(
      "VariableDayCount",
      keys + "StartVegetationPeriodForBalance = 2; StopVegetationPeriodForBalance = 3;");
  EXPECT_EQ(period.vegetation_start_at_day(*cap.diag, 100, 1, 1, 1, 400), 100);
  EXPECT_EQ(period.vegetation_start_at_day(*cap.diag, 200, 1, 1, 1, 400), -1);  // k = Stop
  EXPECT_EQ(period.vegetation_stop_at_day(*cap.diag, 200, 1, 1, 1, 400), 200);
  EXPECT_EQ(period.vegetation_stop_at_day(*cap.diag, 199, 1, 1, 1, 400), -1);
  // At 800 m with AltDep 0.025 the start moves to day 110.
  const landuse_entry high =
      block_entry("VariableDayCount", BASE_KEYS +
                                          "JulDays = 1 100 200 366; AltDep = 0.025 0.025 0 0;"
                                          "StartVegetationPeriodForBalance = 2;");
  EXPECT_EQ(high.vegetation_start_at_day(*cap.diag, 110, 1, 1, 1, 800), 110);
  EXPECT_EQ(high.vegetation_start_at_day(*cap.diag, 100, 1, 1, 1, 800), -1);

  const landuse_entry none = block_entry("VariableDayCount", keys);
  EXPECT_EQ(none.vegetation_start_at_day(*cap.diag, 100, 1, 1, 1, 400), 0);
}

TEST_F(LanduseCellInputs, QueriesFromManyThreadsAgreeWithOneThread) {
  // Cells of rows 1..3 with different starts; every thread works out its own
  // corrected days, so the values cannot depend on the thread count.
  landuse_entry e = block_entry(
      "DynamicPhenology_1", BASE_KEYS + DP1_KEYS + "JulDays = 1 -1 30 366; AltDep = 0.01 0 0 0;");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) start[r][c] = 60.0 + 20 * r + 7 * c;
  e.pheno_start = {nullptr, &start};
  captured_diag cap;
  const int n = 366 * 12;
  std::vector<double> serial(n), parallel(n);
  auto value = [&](int i) {
    const int jd = i % 366 + 1;
    const int cell = i / 366;
    return e.lai_at_day(*cap.diag, jd, 1, cell / 4 + 1, cell % 4 + 1, 400 + 100.0 * (cell % 3));
  };
  for (int i = 0; i < n; ++i) serial[i] = value(i);
#pragma omp parallel for schedule(static) num_threads(4)
  for (int i = 0; i < n; ++i) parallel[i] = value(i);
  EXPECT_EQ(serial, parallel);
}

}  // namespace
