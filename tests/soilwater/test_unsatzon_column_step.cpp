// The soil-column step of the unsaturated zone over its own cells, on the
// set-up fixture's row of three cells (two inside the zone grid): the water
// of every computed cell closes over calls with the module's own grids, a
// fully glacierized cell gets zeros and keeps its soil, a cell outside the
// zone grid is not touched, the surface flux reaches "q_downext", and a
// river link without a routing description stops the run with code 199
// from inside the parallel loop.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "soilwater/unsatzon_setup_fixture.h"
#include "tables/soiltable.h"

namespace {

using namespace unsatzon_setup;

int init(setup_run& run) {
  int status = -1;
  run.module->init_tracers(status, 0, nullptr, nullptr, 0);
  return status;
}

// [mm] water of the column of cell c from the "theta" stack.
double column_water(setup_run& run, int c) {
  const soil_entry& soil = run.f.soils[1];
  double sum = 0;
  for (int l = 1; l <= L; ++l) sum += run.stack("theta")[1][c][l] * soil.thickness[static_cast<size_t>(l)] * 1000;
  return sum;
}

TEST(UnsatzonColumnStep, OwnCellsCloseTheirWaterWithTheModuleGrids) {
  setup_run run({});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  grid_matrix rain = run.f.grids.matrix(1, 1, 0, 3, 1);
  rain[1][1] = 4;
  rain[1][2] = 0.5;
  rain[1][3] = 9;
  run.publish_next("precipitation", &rain);
  run.module->select_input_grid(false);
  const double outside_theta = run.stack("theta")[1][3][1];
  for (int call = 0; call < 12; ++call) {
    double before[3], evaporation[3], transpiration[3];
    for (int c = 1; c <= 2; ++c) {
      before[c] = column_water(run, c);
      evaporation[c] = run.grid("real_evaporation")[1][c];
      transpiration[c] = run.grid("real_transpiration1")[1][c];
    }
    run.module->soil_column_step(12, 1, 6, 2020);
    for (int c = 1; c <= 2; ++c) {
      SCOPED_TRACE("cell " + std::to_string(c) + ", call " + std::to_string(call));
      const double out = run.grid("directflow")[1][c] + run.grid("interflow")[1][c] +
                         run.grid("baseflow")[1][c] +
                         run.grid("real_evaporation")[1][c] - evaporation[c] +
                         run.grid("real_transpiration1")[1][c] - transpiration[c];
      const double change = column_water(run, c) - before[c];
      EXPECT_NEAR(change, rain[1][c] - out, 1e-9 * (rain[1][c] + std::fabs(out) + 1));
      EXPECT_NEAR(run.grid("SB_2_grid")[1][c], column_water(run, c), 1e-4);
      EXPECT_EQ(run.grid("q_downext")[1][c], run.stack("q_down")[1][c][0]);
      EXPECT_GT(run.grid("baseflow")[1][c], 0);
    }
  }
  EXPECT_GT(run.grid("total_infiltration")[1][1], 0);
  EXPECT_EQ(run.stack("theta")[1][3][1], outside_theta);
  EXPECT_EQ(run.grid("directflow")[1][3], NODATA);
}

TEST(UnsatzonColumnStep, FullyGlacierizedCellGetsZerosAndKeepsItsSoil) {
  setup_run run({.glaciers = 1});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  run.glacier[1][2] = 1;
  for (const char* n : {"directflow", "interflow", "baseflow", "groundwater_recharge",
                        "macropore_infiltration", "real_transpiration1", "real_evaporation"})
    run.grid(n)[1][2] = 7;
  std::vector<double> theta(run.stack("theta")[1][2], run.stack("theta")[1][2] + L + 1);
  run.module->soil_column_step(12, 1, 6, 2020);
  for (const char* n : {"directflow", "interflow", "baseflow", "groundwater_recharge",
                        "macropore_infiltration", "real_transpiration1", "real_evaporation"})
    EXPECT_EQ(run.grid(n)[1][2], 0) << n;
  for (int l = 0; l <= L; ++l) EXPECT_EQ(run.stack("theta")[1][2][l], theta[static_cast<size_t>(l)]);
  // Cell 1, glacierized by a quarter, is computed.
  EXPECT_GT(run.grid("baseflow")[1][1], 0);
}

// With hydrologic response units only the masters are computed; the other
// members get their values from the copy of the time step.
TEST(UnsatzonColumnStep, OnlyUnitMastersAreComputed) {
  setup_run run({.hru = true});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  run.extra[1][2] = NODATA;  // cell 2 is no master
  run.grid("baseflow")[1][1] = run.grid("baseflow")[1][2] = 7;
  run.module->soil_column_step(12, 1, 6, 2020);
  EXPECT_NE(run.grid("baseflow")[1][1], 7);
  EXPECT_EQ(run.grid("baseflow")[1][2], 7);
}

TEST(UnsatzonColumnStep, RiverLinkWithoutRoutingStopsTheRunWith199UnderThreads) {
  setup_run run({.surface_interaction = "2"});
  ASSERT_EQ(run.status, 0) << run.f.console();
  std::vector<grid_matrix> extra;
  extra.reserve(6);
  for (const char* n : {"aquifer_thickness_1", "gw_storage_coeff_1", "river_depth", "river_width",
                        "river_links", "kolmation"}) {
    extra.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
    for (int c = 1; c <= 3; ++c) extra.back()[1][c] = 1;
    run.publish_next(n, &extra.back());
  }
  extra[4][1][2] = 7;  // no subbasin has code 7
  run.module->set_groundwater_flag(1);
  ASSERT_EQ(init(run), 0) << run.f.console();
  const int threads = omp_get_max_threads();
  omp_set_num_threads(4);
  int code = 0;
  try {
    run.module->soil_column_step(12, 1, 6, 2020);
  } catch (int e) {
    code = e;
  }
  omp_set_num_threads(threads);
  EXPECT_EQ(code, 199);
  EXPECT_NE(run.f.console().find("There is a river link \"7\" from the river link grid"),
            std::string::npos)
      << run.f.console();
}

// The control cell appends one row per call to its other-data, etr and
// interflow buffers; the other-data row holds the cell's grids in the file's
// column order (QD, QI, DELTAGW/QB, QINF, ...).
TEST(UnsatzonColumnStep, ControlCellAppendsItsRows) {
  setup_run run({.control_cell = "1 1"});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  grid_matrix rain = run.f.grids.matrix(1, 1, 0, 3, 1);
  rain[1][1] = 3;
  run.publish_next("precipitation", &rain);
  run.module->select_input_grid(false);
  run.module->soil_column_step(12, 1, 6, 2020);
  run.module->soil_column_step(13, 1, 6, 2020);
  const std::vector<control_cell_buffer>& b = run.module->get_control_cell_buffers();
  ASSERT_GE(b.size(), 6U);
  const control_cell_buffer& other = b[1];
  ASSERT_EQ(other.fill, 2);
  EXPECT_EQ(other.dates[2].hour, 13);
  const double* row = &other.values[2 * static_cast<size_t>(other.values_per_row)];
  EXPECT_EQ(row[1], run.grid("directflow")[1][1]);
  EXPECT_EQ(row[3], run.grid("baseflow")[1][1]);
  EXPECT_GT(row[4], 0);  // the infiltration of the last water sub-step
  EXPECT_EQ(row[14], run.grid("groundwater_distance")[1][1]);
  EXPECT_EQ(b[4].fill, 2);  // etr
  EXPECT_EQ(b[5].fill, 2);  // interflow
  EXPECT_EQ(b[0].fill, 0);  // hhyd: the time step's
}

// A water sub-step that needs more than 100 passes is logged by process 0
// (possible only with max_iterations above 100).
TEST(UnsatzonColumnStep, LongIterationsAreLogged) {
  setup_run run({.lake_section = "[unsatzon_tuning]\nmax_iterations = 150\nmax_error = 0\n\n"});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  ASSERT_EQ(run.module->get_parameters().max_iterations, 150);
  grid_matrix rain = run.f.grids.matrix(1, 1, 0, 3, 1);
  rain[1][1] = rain[1][2] = 5;
  run.publish_next("precipitation", &rain);
  run.module->select_input_grid(false);
  run.module->soil_column_step(7, 3, 6, 2020);
  const std::string log = read_file("modell_0.log");
  EXPECT_NE(log.find(" 3. 6.,  7 h r=  1, c=  1 : ziter=150, max_err = "), std::string::npos) << log;
  EXPECT_NE(log.find(" 3. 6.,  7 h r=  1, c=  2 : ziter=150, max_err = "), std::string::npos) << log;
}

// A drain with no distance (or a negative one) would empty its layer at once
// or fill it: the set-up refuses it, naming the cell.
TEST(UnsatzonColumnStep, DrainWithoutDistanceIsRefusedAtSetUp) {
  struct row {
    double distance;
    int status;
  } rows[] = {{0, 17}, {-5, 17}, {20, 0}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.distance);
    setup_run run({.drainage = "1", .drainage_depth = 0.5, .drainage_distance = r.distance});
    EXPECT_EQ(run.status, r.status) << run.f.console();
    if (r.status != 0) {
      EXPECT_NE(run.f.console().find("of cell (1, 1) must be above 0"), std::string::npos)
          << run.f.console();
    }
  }
}

}  // namespace
