// The vegetation layers at set-up: the land-use grid of every layer, the
// parameter grids at the start date (values from the land-use table worked
// out by hand, limits, grids given by the user), the one-layer run without a
// multilayer table (no parameter grids, and a daily update that must not
// touch them), the refresh after a dated land-use file, and the start days
// written at the release.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/settings/layers_fixture.h"

using layers_fixture::control_parts;
using layers_fixture::settings_run;
using layers_fixture::text_grid;

namespace {

constexpr double ND = -9999;

// 10: one-line class (rsc 100 .. 1200 by month; RootDepth and LAI 1, 2, 3, 4
// on days 1, 120, 240, 366). 20: all limits broken, root depth not from the
// table (useInternalParameters bit 64 clear). 30: DynamicPhenology_1 whose
// latest start day (150) lies before the start date (day 196).
const std::string THREE_CLASSES =
    "3\n"
    "10 grass 0.25 100 200 300 400 500 600 700 800 900 1000 1100 1200 1 120 240 366 "
    "1 2 3 4 0.1 0.1 0.1 0.1 0.5 0.5 0.5 0.5 1 2 3 4 1 3.45\n"
    "20 bare method VariableDayCount { RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
    "useInternalParameters = 10111111; JulDays = 1 366; Albedo = 0.3 0.3; rsc = 70 70;\n"
    "LAI = -1 -1; Z0 = 0 0; VCF = 2 2; RootDepth = 0 0; AltDep = 0 0; }\n"
    "30 trees method DynamicPhenology_1 { RootDist = 1; TReduWet = 0.9; HReduDry = 3.45;\n"
    "JulDays = 1 -1 30 366; F* = 70; DP1_t1_dorm = 60; DP1_T_Bf = 1.6; JDReset_TStart = 300;\n"
    "maxStartJDforDP1 = 150; Albedo = 0.1 0.1 0.1 0.1; rsc = 40 40 40 40; LAI = 1 1 4 5;\n"
    "Z0 = 1 1 1 1; VCF = 1 1 1 1; RootDepth = 2 2 2 2; AltDep = 0 0 0 0; }\n";

// 2 x 2 cells, the last outside the zones; multilayer class 5 stacks 10, 20,
// 30 and class 7 stacks 20, none, 10.
control_parts three_layer_parts() {
  control_parts p;
  p.standard_grids =
      "4\n$dir//landuse.asc landuse 0\n"
      "none albedo fillcode = 0 readcode = 0 defaultValue = 0.2\n"
      "none root_depth1 fillcode = 0 readcode = 0 defaultValue = 0.7\n"
      "none Pheno_start3 fillcode = 0 readcode = 0 defaultValue = -1\n";
  p.multilayer =
      "[multilayer_landuse]\n2\n5 mixed { Landuse_Layers = 10, 20, 30; }\n"
      "7 open { Landuse_Layers = 20, -9999, 10; }\n";
  p.landuse = THREE_CLASSES;
  p.model_time = "0\n15\n7\n2001\n23\n31\n12\n2001\n";
  return p;
}

std::map<std::string, std::string> grid_files(const std::string& landuse) {
  return {{"zones.asc", text_grid("1 1\n1 -9999\n", 2, 2)},
          {"dem.asc", text_grid("400 400\n400 -9999\n", 2, 2)},
          {"landuse.asc", text_grid(landuse, 2, 2)}};
}

struct cell_value {
  const char* grid;
  int row, col;
  double value;
  const char* source;
};

void expect_values(settings_run& run, const std::vector<cell_value>& rows) {
  for (const cell_value& r : rows) {
    SCOPED_TRACE(std::string(r.grid) + " (" + std::to_string(r.row) + "," + std::to_string(r.col) +
                 "): " + r.source);
    EXPECT_NEAR(run.value(r.grid, r.row, r.col), r.value, 1e-9);
  }
}

}  // namespace

TEST(VegetationLayers, ThreeLayersAtTheStartDate) {
  settings_run run(three_layer_parts(), grid_files("5 5\n7 -9999\n"));
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(run.settings->layer_count(), 3);
  EXPECT_GT(run.settings->find_grid("landuse"), 0);  // keeps its name with a multilayer table
  EXPECT_TRUE(run.logged("generateMultiLayerParameterGrids..."));
  const double jd = 196;  // 15 July 2001
  expect_values(run,
                {
                    {"landuse", 1, 1, 1, "multilayer code 5 is entry 1"},
                    {"landuse1", 1, 1, 1, "land use 10 is entry 1"},
                    {"landuse2", 1, 2, 2, "land use 20 is entry 2"},
                    {"landuse3", 1, 1, 3, "land use 30 is entry 3"},
                    {"landuse1", 2, 1, 2, "class 7 starts with 20"},
                    {"landuse2", 2, 1, -9999, "class 7 has no second layer"},
                    {"landuse3", 2, 1, 1, "class 7 ends with 10"},
                    {"landuse1", 2, 2, ND, "outside the zones"},
                    // One-line class 10 on day 196: between days 120 and 240.
                    {"root_depth1", 1, 1, 2 + (jd - 120) / 120, "2 + 76/120"},
                    {"leaf_area_index1", 1, 1, 2 + (jd - 120) / 120, "2 + 76/120"},
                    {"SurfaceCanopyResistance1", 1, 1, 700, "July 15: the July value"},
                    {"SurfaceIntercepResistance1", 1, 1, 700, "rsc in the one-line form"},
                    {"albedo", 1, 1, 0.25, "albedo of class 10"},
                    {"SurfaceEvaporationResistance", 1, 1, 200, "one-line form"},
                    {"VegetationStop1", 1, 1, -1, "start of the period"},
                    {"VegetationDuration1", 1, 1, 0, "start of the period"},
                    // Class 20 keeps the given root depth, the rest is limited.
                    {"root_depth1", 2, 1, 0.7, "bit 64 clear: the standard grid's value"},
                    {"root_depth2", 1, 1, 0.01, "bit 64 clear on a new grid: 0 raised to 0.01"},
                    {"leaf_area_index2", 1, 1, 0, "-1 raised to 0"},
                    {"RoughnessLength2", 1, 1, 0.01, "0 raised to 0.01"},
                    {"vegetation_coverage_degree2", 1, 1, 1, "2 lowered to 1"},
                    {"albedo", 2, 1, 0.3, "albedo of class 20"},
                    // No class in layer 2 at (2,1): missing in every parameter grid.
                    {"root_depth2", 2, 1, ND, "no class"},
                    {"leaf_area_index2", 2, 1, ND, "no class"},
                    {"VegetationStart2", 2, 1, ND, "no class"},
                    // Class 30 starts late: tstart = 150 - 30 = 120, so the points
                    // are 1, 120, 150, 366 and day 196 lies between the last two.
                    {"Pheno_start3", 1, 1, 120, "maxStartJDforDP1 - sample day after the marker"},
                    {"leaf_area_index3", 1, 1, 4 + (jd - 150) / 216, "4 + 46/216"},
                    {"FStar_ForcingThreshold3", 1, 1, 0, "a new grid holds 0, not below 0"},
                    {"SumOfForcingUnits3", 2, 2, ND, "outside the zones"},
                });
  EXPECT_EQ(run.settings->find_grid("MultipleStartTimes1"), 0);  // no method 5 or 6
  EXPECT_GT(run.settings->find_grid("TemperatureMOVAV"), 0);
}

TEST(VegetationLayers, OneLayerWithoutMultilayerTable) {
  control_parts p = three_layer_parts();
  p.multilayer.clear();
  p.standard_grids =
      "2\n$dir//landuse.asc landuse 0\nnone albedo fillcode = 0 readcode = 0 defaultValue = 0.2\n";
  settings_run run(p, grid_files("10 20\n30 -9999\n"));
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(run.settings->layer_count(), 1);
  EXPECT_EQ(run.settings->find_grid("landuse"), 0);
  expect_values(run, {{"landuse1", 1, 1, 1, "code 10"},
                      {"landuse1", 1, 2, 2, "code 20"},
                      {"landuse1", 2, 1, 3, "code 30"}});
  // No parameter grids are made with one layer.
  EXPECT_EQ(run.settings->find_grid("root_depth1"), 0);
  EXPECT_FALSE(run.settings->vegetation_layers().made);
  EXPECT_FALSE(run.logged("generateMultiLayerParameterGrids"));

  // The daily update runs on what exists: the vegetation-period flags on
  // the table's reset day (1, no class sets one) and the report of the day.
  for (int day = 1; day <= 3; ++day)
    run.settings->update_landuse_parameters(23, day, 1, 2002, 1440);
  EXPECT_EQ(run.store[1].vegetation.flags[vegetation_period_state::reset_due], 1);
  EXPECT_EQ(run.store[1].vegetation.flags[vegetation_period_state::output_due], 0);
  EXPECT_TRUE(run.logged("3.1.2002 23. h")) << run.cap.console();

  // A dated land-use file holds codes again; they become indices.
  run.cap.dir.write("landuse_2002010300", text_grid("30 10\n20 -9999\n", 2, 2));
  const int index = run.settings->find_grid("landuse1");
  run.settings->read_grid(run.cap.dir.file("landuse_2002010300"), *run.store[index].grid, 0, false,
                          true, 0, false, true, false, true);
  run.settings->refresh_landuse_layers(index);
  expect_values(run, {{"landuse1", 1, 1, 3, "code 30"},
                      {"landuse1", 1, 2, 1, "code 10"},
                      {"landuse1", 2, 1, 2, "code 20"}});
}

TEST(VegetationLayers, RefreshAfterADatedLandUseFile) {
  settings_run run(three_layer_parts(), grid_files("5 5\n7 -9999\n"));
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const int index = run.settings->find_grid("landuse");
  // Another entry is no land-use grid: nothing changes.
  run.settings->refresh_landuse_layers(run.settings->find_grid("albedo"));
  EXPECT_EQ(run.value("landuse2", 2, 1), -9999);

  run.cap.dir.write("landuse_new.asc", text_grid("7 5\n5 -9999\n", 2, 2));
  run.settings->read_grid(run.cap.dir.file("landuse_new.asc"), *run.store[index].grid, 0, false,
                          true, 0, false, true, false, true);
  run.settings->refresh_landuse_layers(index);
  expect_values(run, {{"landuse", 1, 1, 2, "code 7"},
                      {"landuse1", 1, 1, 2, "class 7 starts with 20"},
                      {"landuse2", 1, 1, -9999, "class 7 has no second layer"},
                      {"landuse2", 2, 1, 2, "class 5: 20"},
                      {"landuse3", 1, 2, 3, "class 5: 30"},
                      {"landuse1", 2, 2, ND, "outside the zones"}});

  run.cap.dir.write("landuse_bad.asc", text_grid("9 5\n5 -9999\n", 2, 2));
  run.settings->read_grid(run.cap.dir.file("landuse_bad.asc"), *run.store[index].grid, 0, false,
                          true, 0, false, true, false, true);
  int code = 0;
  try {
    run.settings->refresh_landuse_layers(index);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 311);
  EXPECT_TRUE(run.logged("\nland use 9 in grid ")) << run.cap.console();
}

TEST(VegetationLayers, MissingAlbedoGridStopsTheSetUp) {
  control_parts p = three_layer_parts();
  p.standard_grids = "1\n$dir//landuse.asc landuse 0\n";
  settings_run run(p, grid_files("5 5\n7 -9999\n"));
  EXPECT_EQ(run.code, 12);
  EXPECT_TRUE(
      run.logged("Albedo Grid not found for use within Landuse-Table.\n This grid must be "
                 "read in as standard or variable grid (there, it can be created "
                 "automatically)"))
      << run.cap.console();
}

TEST(VegetationLayers, DailyUpdateWithoutTemperatureIsCode33) {
  settings_run run(three_layer_parts(), grid_files("5 5\n7 -9999\n"));
  ASSERT_EQ(run.code, 0) << run.cap.console();
  int code = 0;
  try {
    run.settings->update_landuse_parameters(0, 15, 7, 2001, 60);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 33);
  EXPECT_TRUE(
      run.logged("could not find grid with label \"temperature\". \nThis grid must be "
                 "present (either by interpolating or by reading or as standard grid) "
                 "for using dynamic phenology"))
      << run.cap.console();
}

TEST(VegetationLayers, DayEndFollowsTheHourShift) {
  struct row {
    int min_to_int_end;
    int hour;
    bool day_end;
  };
  // The day ends when hour + trunc(min_to_int_end / 60) is 24.
  const std::vector<row> rows = {
      {60, 23, true}, {60, 22, false}, {1440, 0, true}, {1440, 23, false}, {0, 24, true}};
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.min_to_int_end) + " min, hour " + std::to_string(r.hour));
    control_parts p = three_layer_parts();
    p.min_to_int_end = r.min_to_int_end;
    settings_run run(p, grid_files("5 5\n7 -9999\n"));
    ASSERT_EQ(run.code, 0) << run.cap.console();
    grid_matrix& t = run.add_grid("temperature", 2, 2, 12);
    (void)t;
    run.settings->update_landuse_parameters(r.hour, 16, 7, 2001, 60);
    EXPECT_EQ(run.logged("actual parameters"), r.day_end);
    // One step of 60 minutes at 12 degC adds 0.5 to the day's sum, which is
    // cleared at the end of the day.
    EXPECT_NEAR(run.value("TemperatureAVG", 1, 1), r.day_end ? 0.0 : 0.5, 1e-12);
    // A day end also counts the step of the vegetation period (class 10
    // without a start counts every step).
    EXPECT_EQ(run.value("VegetationDuration1", 1, 1), 1);
  }
}
