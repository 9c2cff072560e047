// The soil-column step of the module with heat transfer, on the set-up
// fixture's row (cells 1 and 2 computed): a frozen column thawing from the
// top under warm air gives a thaw depth between the middles of its first
// two layers, the water of every cell closes, and one and four threads give
// identical stacks and grids; a dump under -closeAfterDump on four threads
// ends the run with 199 through the loop's error path.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "soilwater/unsatzon_setup_fixture.h"
#include "tables/soiltable.h"

namespace {

using namespace unsatzon_setup;

// Runs the module with heat transfer from a column frozen at -3 degC under
// air at 10 degC, calls hourly calls on threads threads.
struct heated_run {
  explicit heated_run(int threads) : run({.heat = true}) {
    if (run.status != 0) return;
    // As the application does: the heat values and freezing tables.
    run.module->set_soil_table(&run.f.soils);
    run.module->init_tracers(status, 0, nullptr, nullptr, 0);
    if (status != 0) return;
    rain = run.f.grids.matrix(1, 1, 0, 3, 1);
    rain[1][1] = 2;
    rain[1][2] = 6;
    run.publish_next("precipitation", &rain);
    run.module->select_input_grid(false);
    run.module->begin_step({2020, 4, 1, 12});
    for (int c = 1; c <= 2; ++c) {
      run.grid("temperature")[1][c] = 10;
      run.grid("T_Lower_Boundary_Condition")[1][c] = -3;
      for (int l = 1; l <= L; ++l) run.stack("Soil_Temperature_Stack")[1][c][l] = -3;
    }
    const int before = omp_get_max_threads();
    omp_set_num_threads(threads);
    for (int call = 0; call < 6; ++call) {
      for (int c = 1; c <= 2; ++c) water_before[c] = column_water(c);
      run.module->soil_column_step(12 + call, 1, 4, 2020);
      for (int c = 1; c <= 2; ++c) {
        const double out =
            run.grid("directflow")[1][c] + run.grid("interflow")[1][c] + run.grid("baseflow")[1][c];
        worst_closure = std::max(worst_closure,
                                 std::fabs(column_water(c) - water_before[c] - (rain[1][c] - out)));
      }
    }
    omp_set_num_threads(before);
  }
  double column_water(int c) {
    const soil_entry& soil = run.f.soils[1];
    double sum = 0;
    for (int l = 1; l <= L; ++l)
      sum += run.stack("theta")[1][c][l] * soil.thickness[static_cast<size_t>(l)] * 1000;
    return sum;
  }
  setup_run run;
  int status = -1;
  grid_matrix rain;
  double water_before[3] = {};
  double worst_closure = 0;  // [mm]
};

TEST(UnsatzonColumnStepHeat, ThawFromTheTopSameOnOneAndFourThreads) {
  heated_run one(1);
  ASSERT_EQ(one.run.status, 0) << one.run.f.console();
  ASSERT_EQ(one.status, 0) << one.run.f.console();
  heated_run four(4);
  ASSERT_EQ(four.status, 0) << four.run.f.console();
  EXPECT_LT(one.worst_closure, 1e-9);
  for (int c = 1; c <= 2; ++c) {
    SCOPED_TRACE("cell " + std::to_string(c));
    // The fixture's layers: 0.05 m, then 0.15 m: the middles lie at 0.025 and 0.125 m.
    const double thaw = one.run.grid("ThawDepthTMod")[1][c];
    EXPECT_LT(thaw, -0.025);
    EXPECT_GT(thaw, -0.125);
    EXPECT_GT(one.run.stack("Soil_Temperature_Stack")[1][c][1], 0);
    EXPECT_LT(one.run.stack("Soil_Temperature_Stack")[1][c][L], 0);
    for (int l = 0; l <= L; ++l) {
      EXPECT_EQ(one.run.stack("Soil_Temperature_Stack")[1][c][l],
                four.run.stack("Soil_Temperature_Stack")[1][c][l]);
      EXPECT_EQ(one.run.stack("theta")[1][c][l], four.run.stack("theta")[1][c][l]);
    }
    EXPECT_EQ(thaw, four.run.grid("ThawDepthTMod")[1][c]);
    EXPECT_EQ(one.run.grid("directflow")[1][c], four.run.grid("directflow")[1][c]);
  }
}

TEST(UnsatzonColumnStepHeat, CloseAfterDumpEndsWith199OnFourThreads) {
  // The fixture works in its own scratch folder, where the dump goes.
  setup_run run({.heat = true});
  ASSERT_EQ(run.status, 0) << run.f.console();
  run.module->set_soil_table(&run.f.soils);
  int status = -1;
  run.module->init_tracers(status, 0, nullptr, nullptr, 0);
  ASSERT_EQ(status, 0);
  run.module->begin_step({2020, 4, 1, 12});
  run.stack("Soil_Temperature_Stack")[1][2][3] = 150;
  run.module->set_dump_options(true, true, false, 0);
  const int threads = omp_get_max_threads();
  omp_set_num_threads(4);
  int code = 0;
  try {
    run.module->soil_column_step(12, 1, 4, 2020);
  } catch (int e) {
    code = e;
  }
  omp_set_num_threads(threads);
  EXPECT_EQ(code, 199);
  EXPECT_TRUE(std::filesystem::exists("heat(3)_dump_row_1_col_2_substep_1_2020040112.dmp"));
  EXPECT_NE(run.f.console().find(" a dumpfile has been written and Velmo aborts now.\n"),
            std::string::npos)
      << run.f.console();
}

}  // namespace
