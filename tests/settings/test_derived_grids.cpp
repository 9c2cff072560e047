// Grids derived at set-up on one process: their file names, cell sizes and
// relative areas (created, given, inconsistent), the coordinates with
// uniform and with given cell sizes, slope and aspect of a plane, and the
// regression regions with their transition weights (also with a transition
// distance beyond the grid) and faults.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "settings/derived_setup_fixture.h"

namespace {

// Zones (row 1 north): . 1 1 / 1 2 2 / 2 2 2, cells of 100 m, corner 0/0.
const std::string ZONES = text_grid_of("-9999 1 1\n1 2 2\n2 2 2\n", 3, 3);
// A plane rising 40 m per row (100 m) to the north: slope atan(0.4) at
// every cell, facing south.
const std::string DEM = text_grid_of("180 180 180\n140 140 140\n100 100 100\n", 3, 3);
const double ND = NODATA;

std::map<std::string, std::string> basic_files() {
  return {{"zones.asc", ZONES}, {"dem.asc", DEM}};
}

TEST(DerivedGrids, CreatedWithoutGivenGridsAndWrittenOnce) {
  settings_setup run({}, basic_files());
  ASSERT_EQ(run.code, 0) << run.cap.console();
  // Written once, named after the zone grid and the elevation model.
  for (const char* name : {"zones.$csx", "zones.$csy", "zones.$rca", "zones.$cx", "zones.$cy",
                           "dem.$sl", "dem.$ex", "zones.$w1"})
    EXPECT_TRUE(run.exists(name)) << name;
  EXPECT_FALSE(run.exists("zones.$r1"));  // a created region grid is not written
  // Relative area 1 and nominal sizes on valid cells.
  EXPECT_EQ(text_grid_values(run.path("zones.$rca")),
            (std::vector<double>{ND, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(text_grid_values(run.path("zones.$csx")),
            (std::vector<double>{ND, 100, 100, 100, 100, 100, 100, 100, 100}));
  // Lower-left corners: x = (column - 1) * 100, y = (3 - row) * 100.
  EXPECT_EQ(text_grid_values(run.path("zones.$cx")),
            (std::vector<double>{ND, 100, 200, 0, 100, 200, 0, 100, 200}));
  EXPECT_EQ(text_grid_values(run.path("zones.$cy")),
            (std::vector<double>{ND, 200, 200, 100, 100, 100, 0, 0, 0}));
  // Only the centre has four neighbours; every other cell takes the mean of
  // its neighbours, which on a plane is the same value.
  const double slope = std::atan(0.4) * 180.0 / std::numbers::pi;
  const grid_matrix& s = run.grid("slope_angle");
  const grid_matrix& a = run.grid("slope_aspect");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) {
      EXPECT_NEAR(s[r][c], slope, 1e-9) << r << c;
      EXPECT_EQ(a[r][c], 180.0) << r << c;
    }
  // One region: weight 1 everywhere on valid cells.
  EXPECT_EQ(run.grid("regression_weights1")[2][2], 1.0);
  EXPECT_EQ(run.settings->regions(), 1);
  EXPECT_TRUE(run.logged("calculating the lokal topography (aspect, slope ...).. "));
  EXPECT_TRUE(run.logged("Checking cell sizes for variable Cells..."));
}

TEST(DerivedGrids, FileNamesEndTheStemAtTheLastDot) {
  struct row {
    std::string zone_file;
    std::string coordinates;  // the written CoordX file
  };
  const row rows[] = {
      {"zone", "zone.$cx"}, {"grids.old/zone", "grids.$cx"}, {"z.a.asc", "z.a.$cx"}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.zone_file);
    control_parts parts;
    parts.zone = "$dir//" + r.zone_file;
    settings_setup run(parts, {{r.zone_file, ZONES}, {"dem.asc", DEM}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_TRUE(run.exists(r.coordinates));
  }
}

TEST(DerivedGrids, GivenCellSizes) {
  const std::string all_200 = text_grid_of("200 200 200\n200 200 200\n200 200 200\n", 3, 3);
  const std::string all_50 = text_grid_of("50 50 50\n50 50 50\n50 50 50\n", 3, 3);
  const std::string all_1 = text_grid_of("1 1 1\n1 1 1\n1 1 1\n", 3, 3);
  const std::string bad_1 = text_grid_of("1 1 1\n1 1.00002 1\n1 1 1\n", 3, 3);
  const std::string zero_x = text_grid_of("200 200 200\n200 0 200\n200 200 200\n", 3, 3);
  auto files = [&](std::map<std::string, std::string> extra) {
    auto f = basic_files();
    f.insert(extra.begin(), extra.end());
    return f;
  };
  {
    // 200 * 50 / 100^2 = 1 matches the given area: nothing is written.
    control_parts parts;
    parts.standard =
        "3\n$dir//x.asc CellSizeX fillcode = 0\n$dir//y.asc CellSizeY fillcode = 0\n"
        "$dir//a.asc RelCellArea fillcode = 0\n";
    settings_setup run(parts, files({{"x.asc", all_200}, {"y.asc", all_50}, {"a.asc", all_1}}));
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_FALSE(run.exists("zones.$csx") || run.exists("zones.$csy") || run.exists("zones.$rca"));
  }
  {
    // The centre's area differs by 2e-5 from 200 * 50 / 100^2.
    control_parts parts;
    parts.standard =
        "3\n$dir//x.asc CellSizeX fillcode = 0\n$dir//y.asc CellSizeY fillcode = 0\n"
        "$dir//a.asc RelCellArea fillcode = 0\n";
    settings_setup run(parts, files({{"x.asc", all_200}, {"y.asc", all_50}, {"a.asc", bad_1}}));
    EXPECT_EQ(run.code, 66);
    EXPECT_TRUE(run.logged("Cell size Y (50, from " + run.path("y.asc") +
                           ") times\ncell size X (200, from " + run.path("x.asc") +
                           ") \ndivided by the mean cell area is 1 and differs from \nthe "
                           "relative grid cell size 1.00002 (from " +
                           run.path("a.asc") + ") by more than 0.001%%\n"))
        << run.cap.console();
  }
  {
    control_parts parts;
    parts.standard = "1\n$dir//x.asc CellSizeX fillcode = 0\n";
    settings_setup run(parts, files({{"x.asc", zero_x}}));
    EXPECT_EQ(run.code, 66);
    EXPECT_TRUE(run.logged("cell size in x direction is zero at row 2, column 2,\nread from file " +
                           run.path("x.asc") + "\n"))
        << run.cap.console();
  }
  {
    // X alone, 200 m: Y takes the nominal 100 m and the area 2. The
    // coordinates are cumulated from the last row with zone data upwards;
    // a cell without size (the nodata corner) counts with 100 m:
    //   row 3: x 0, 0+200, 200+200          y 0 (uniform)
    //   row 2: x 0, 200, 400                y 100, 0+100, 0+100
    //   row 1: x 0, 0+100, 100+200          y 200, 100+100, 100+100
    control_parts parts;
    parts.standard = "1\n$dir//x.asc CellSizeX fillcode = 0\n";
    settings_setup run(parts, files({{"x.asc", all_200}}));
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_EQ(text_grid_values(run.path("zones.$rca")),
              (std::vector<double>{ND, 2, 2, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(text_grid_values(run.path("zones.$csy")),
              (std::vector<double>{ND, 100, 100, 100, 100, 100, 100, 100, 100}));
    EXPECT_FALSE(run.exists("zones.$csx"));
    EXPECT_EQ(text_grid_values(run.path("zones.$cx")),
              (std::vector<double>{ND, 100, 300, 0, 200, 400, 0, 200, 400}));
    EXPECT_EQ(text_grid_values(run.path("zones.$cy")),
              (std::vector<double>{ND, 200, 200, 100, 100, 100, 0, 0, 0}));
  }
}

// A 3 x 6 basin split into region 1 (columns 1-3) and region 7 (4-6).
const std::string WIDE_ZONES = text_grid_of("1 1 1 1 1 1\n1 1 1 1 1 1\n1 1 1 1 1 1\n", 6, 3);
const std::string WIDE_DEM = text_grid_of("5 5 5 5 5 5\n5 5 5 5 5 5\n5 5 5 5 5 5\n", 6, 3);
const std::string TWO_REGIONS = text_grid_of("1 1 1 7 7 7\n1 1 1 7 7 7\n1 1 1 7 7 7\n", 6, 3);

TEST(DerivedGrids, TwoRegionsAndTheirTransition) {
  // Transition 300 m = 3 cells: w1 = d / 6 + 0.5 for the distance d [cells]
  // to the nearest cell of the other region, at most 1.
  control_parts parts;
  parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
  parts.transition = "300\n";
  settings_setup run(
      parts, {{"zones.asc", WIDE_ZONES}, {"dem.asc", WIDE_DEM}, {"regions.asc", TWO_REGIONS}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(run.settings->regions(), 2);
  EXPECT_EQ(run.settings->highest_region_code(), 7);
  EXPECT_EQ(run.settings->region_ranks(), (std::vector<int>{0, 1, 0, 0, 0, 0, 0, 2}));
  // Centroids: region 1 over rows 1-3, columns 1-3; region 7 columns 4-6.
  const auto& centroids = run.settings->region_centroids();
  ASSERT_EQ(centroids.size(), 3U);
  EXPECT_EQ(centroids[1].mean_row, 2);
  EXPECT_EQ(centroids[1].mean_col, 2);
  EXPECT_EQ(centroids[2].mean_col, 5);
  EXPECT_EQ(centroids[2].cell_count, 9);
  const double w[6] = {1, 5.0 / 6, 4.0 / 6, 4.0 / 6, 5.0 / 6, 1};
  const double other[6] = {7, 7, 7, 1, 1, 1};
  const grid_matrix& w1 = run.grid("regression_weights1");
  const grid_matrix& w2 = run.grid("regression_weights2");
  const grid_matrix& r2 = run.grid("regression_regions2");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 6; ++c) {
      EXPECT_NEAR(w1[r][c], w[c - 1], 1e-12) << r << c;
      EXPECT_NEAR(w2[r][c], 1 - w[c - 1], 1e-12) << r << c;
      EXPECT_EQ(r2[r][c], other[c - 1]) << r << c;
    }
  EXPECT_EQ(run.settings->find_grid("regression_regions3"), 0);
  for (const char* name : {"regions.$w1", "regions.$r2", "regions.$w2"})
    EXPECT_TRUE(run.exists(name)) << name;
}

TEST(DerivedGrids, TransitionDistanceBeyondTheGridIsItsDiagonal) {
  // The 3 x 6 grid of 100 m cells has the diagonal 100 sqrt(45) m, so Dc =
  // sqrt(45) cells and w1 = d / (2 sqrt(45)) + 0.5 for the distance d
  // [cells] to the nearest cell of the other region (the closed form of the
  // two-region weights with that Dc).
  const double dc = std::sqrt(45.0);
  const int d[6] = {3, 2, 1, 1, 2, 3};
  for (const char* transition : {"1e12\n", "1e300\n"}) {
    SCOPED_TRACE(transition);
    control_parts parts;
    parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
    parts.transition = transition;
    settings_setup run(
        parts, {{"zones.asc", WIDE_ZONES}, {"dem.asc", WIDE_DEM}, {"regions.asc", TWO_REGIONS}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_NEAR(run.settings->region_transition_distance(), 100 * dc, 1e-9);
    const grid_matrix& w1 = run.grid("regression_weights1");
    const grid_matrix& w2 = run.grid("regression_weights2");
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 6; ++c) {
        const double expected = d[c - 1] / (2 * dc) + 0.5;
        EXPECT_NEAR(w1[r][c], expected, 1e-12) << r << c;
        EXPECT_NEAR(w2[r][c], 1 - expected, 1e-12) << r << c;
      }
  }
}

TEST(DerivedGrids, ThreeRegionWeightsAddUpToOne) {
  control_parts parts;
  parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
  parts.transition = "300\n";
  settings_setup run(
      parts, {{"zones.asc", WIDE_ZONES},
              {"dem.asc", WIDE_DEM},
              {"regions.asc", text_grid_of("1 1 2 2 2 2\n1 1 2 2 2 2\n3 3 3 3 3 3\n", 6, 3)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const grid_matrix& w1 = run.grid("regression_weights1");
  const grid_matrix& w2 = run.grid("regression_weights2");
  const grid_matrix& w3 = run.grid("regression_weights3");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 6; ++c) {
      EXPECT_NEAR(w1[r][c] + w2[r][c] + w3[r][c], 1.0, 1e-12) << r << c;
      EXPECT_GE(w1[r][c], w2[r][c]) << r << c;
    }
  // Cell (1, 1) sees region 2 at one cell (east) and region 3 two rows
  // south: both regions are found.
  EXPECT_EQ(run.grid("regression_regions2")[1][1], 2);
  EXPECT_EQ(run.grid("regression_regions3")[1][1], 3);
  EXPECT_TRUE(run.exists("regions.$w3"));
}

TEST(DerivedGrids, RegionFaultsAndTransitionDistance) {
  struct row {
    const char* name;
    std::string regions;  // "" : no region grid
    std::string transition;
    int code;
    std::string entry;
  };
  std::string thirty_one;
  for (int c = 1; c <= 31; ++c) thirty_one += std::to_string(c) + " ";
  const row rows[] = {
      {"region 0 on a zone cell", "1 1 1 0 7 7\n1 1 1 7 7 7\n1 1 1 7 7 7\n", "300\n", 3,
       "!\n (codes has to be between 1 and 32767)!\n"},
      {"region nodata on a zone cell", "1 1 1 -9999 7 7\n1 1 1 7 7 7\n1 1 1 7 7 7\n", "300\n", 3,
       "invalid region code in "},
      {"missing section", "", "", 17, "[region_transition_distance]"},
      {"transition 0", "", "0\n", 0, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_parts parts;
    parts.transition = r.transition;
    std::map<std::string, std::string> files = {{"zones.asc", WIDE_ZONES}, {"dem.asc", WIDE_DEM}};
    if (!r.regions.empty()) {
      parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
      files["regions.asc"] = text_grid_of(r.regions, 6, 3);
    }
    settings_setup run(parts, files);
    EXPECT_EQ(run.code, r.code);
    if (!r.entry.empty()) {
      EXPECT_TRUE(run.logged(r.entry)) << run.cap.console();
    }
    if (r.code == 0) {
      EXPECT_EQ(run.settings->region_transition_distance(), 0.01);
    }
  }
  // 31 codes in one row of 31 cells.
  control_parts parts;
  parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
  std::string ones;
  for (int c = 1; c <= 31; ++c) ones += "1 ";
  settings_setup run(parts, {{"zones.asc", text_grid_of(ones + "\n", 31, 1)},
                             {"dem.asc", text_grid_of(ones + "\n", 31, 1)},
                             {"regions.asc", text_grid_of(thirty_one + "\n", 31, 1)}});
  EXPECT_EQ(run.code, 4);
  EXPECT_TRUE(run.logged("too much zones in " + run.path("regions.asc") + ", (max. 30)!\n"))
      << run.cap.console();
}

}  // namespace
