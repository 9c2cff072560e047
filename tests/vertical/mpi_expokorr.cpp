// The radiation correction on a divided grid: a wall 200 m high across the
// south of a flat plain at 500 m, under the noon sun of 21 December at 47 N
// (elevation 90 - 47 - 23.4 = 19.6 deg, the ray sinks 35.6 m per 100 m
// cell), shades the plain up to 560 m north of it. The wall's shadow crosses
// the process bands, so the whole-grid walk on process 0 and the scatter
// must give every process the same cells as one process alone.
#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

#include "settings/derived_setup_fixture.h"
#include "vertical/expokorr.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 8;
constexpr int WALL_ROW = 8;

std::string grid_text(bool dem) {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += dem ? (r == WALL_ROW ? "700 " : "500 ") : "1 ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

TEST(ExpokorrMpi, AWallShadesTheSameCellsOnAnyNumberOfProcesses) {
  control_parts parts;
  parts.transition =
      "1000\n[radiation_correction]\n1 flow control\n60 "
      "interval\n1 methode of correction for\n"
      "t.asc name of the TKORR-Grid for\n0 Writegrid EXKORR "
      "for\n1 scaling factor for Tkorr for\n"
      "exk.asc name of the EXKORR-Grids for\n0 Writegrid EXKORR "
      "for\nsh.asc name of the "
      "SHAPE-Grid for\n0 Writegrid SHAPE for\n1 number if "
      "timesteps for\n1 number of "
      "splittings for\n";
  settings_setup run(parts, {{"zones.asc", grid_text(false)}, {"dem.asc", grid_text(true)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const settings_context& ctx = run.settings->export_settings();
  int status = -1;
  auto module = std::make_unique<expokorrklasse>(status, run.cap.diag.get(), &run.registry, 200,
                                                 "radiation_correction", &run.store, ctx);
  ASSERT_EQ(status, 0) << run.cap.console();
  module->time_step(13, 21, 12, 2001);
  const int index = module->find_grid("radiation_correction", 1);
  const int shadow_index = module->find_grid("Shadow", 1);
  ASSERT_GT(index, 0);
  const grid_matrix factor = module->gather_grid_copy(index);
  const grid_matrix shadow = module->gather_grid_copy(shadow_index);
  if (run.rank == 0) {
    for (int c = 2; c < COLS; ++c) {
      // 600 m and more north of the wall: lit, flat, factor 1.
      for (int r : {1, 2}) {
        EXPECT_NEAR(factor[r][c], 1, 1e-9) << r << "," << c;
        EXPECT_EQ(shadow[r][c], 0) << r << "," << c;
      }
      // 200 to 500 m north of the wall: in its shadow.
      for (int r : {3, 4, 5, 6}) {
        EXPECT_EQ(factor[r][c], 0) << r << "," << c;
        EXPECT_EQ(shadow[r][c], 1) << r << "," << c;
      }
      // South of the wall: lit.
      EXPECT_EQ(shadow[9][c], 0) << c;
    }
  }
  module->release();
  module.reset();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
