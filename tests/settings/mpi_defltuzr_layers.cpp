// The vegetation layers and 80 days of the daily land-use update on every
// process: whatever the number of processes, the gathered grids hold the
// values worked out by hand below (each process fills only its own cells, so
// a wrong owner test or halo row shows as a wrong or missing value).
#include <gtest/gtest.h>
#include <mpi.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"
#include "tests/settings/layers_fixture.h"

namespace {



constexpr int NCOLS = 6;
constexpr int PATTERN = 3;  // columns c and c + 3 are alike
constexpr int NROWS = 5;
constexpr double ND = -9999;

// Land use 10 (DynamicPhenology_1: F* = 70, base 1.6, from day 60) and 20
// (DynamicPhenology_4: a + b ln K = 100 + 10 ln K, degree days over 5 from
// day 60); LAI moves from 1 to 4 in the 30 days after the start.
const std::string LANDUSE =
    "2\n"
    "10 early method DynamicPhenology_1 {\n"
    "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45; JulDays = 1 -1 30 200 366;\n"
    "F* = 70; DP1_t1_dorm = 60; DP1_T_Bf = 1.6; JDReset_TStart = 300; maxStartJDforDP1 = 200;\n"
    "Albedo = 0.2 0.2 0.2 0.2 0.2; rsc = 50 50 50 50 50; LAI = 1 1 4 4 4;\n"
    "Z0 = 0.1 0.1 0.1 0.1 0.1; VCF = 1 1 1 1 1; RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0;\n"
    "}\n"
    "20 late method DynamicPhenology_4 {\n"
    "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45; JulDays = 1 -1 30 250 366;\n"
    "F* = 70; DP1_t1_dorm = 60; DP1_T_Bf = 1.6; JDReset_TStart = 300; maxStartJDforDP1 = 200;\n"
    "DP4_t0_dorm = 300; DP4_t1_dorm = 60; DP4_T0 = 5; DP4_T1 = 5; DP4_Par_a = 100;\n"
    "DP4_Par_b = 10; DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 4;\n"
    "Albedo = 0.3 0.3 0.3 0.3 0.3; rsc = 60 60 60 60 60; LAI = 1 1 4 4 1;\n"
    "Z0 = 0.2 0.2 0.2 0.2 0.2; VCF = 1 1 1 1 1; RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0;\n"
    "}\n";

// Columns 1, 2, 4, 5 stack 10 over 20, columns 3 and 6 have 20 alone; (5,6)
// lies outside the zones. (A row split between processes needs more than
// three columns for its runs.)
const char* const ZONES = "1 1 1 1 1 1\n1 1 1 1 1 1\n1 1 1 1 1 1\n1 1 1 1 1 1\n1 1 1 1 1 -9999\n";
const char* const STANDS =
    "100 100 200 100 100 200\n100 100 200 100 100 200\n100 100 200 100 100 200\n"
    "100 100 200 100 100 200\n100 100 200 100 100 -9999\n";

// Daily means from day 60 on: 20 degC in pattern column 1; in pattern
// columns 2 and 3 20 + ln 3 / 0.185, where the sigmoid of class 10 gives
// 28.4 * 3/4 = 21.3.
double daily_mean(int a, int col) {
  if (a < 60) return 0;
  return (col - 1) % PATTERN == 0 ? 20.0 : 20.0 + std::log(3.0) / 0.185;
}

// Values on day 80, by pattern column (1..3):
// - class 10: 14.2 a day passes 70 on day 64 (5 days), 21.3 a day on day 63;
//   LAI 1 + 3 (80 - P) / 30;
// - class 20: K = 59 cold days, F = 100 + 10 ln 59 = 140.78; 15 a day passes
//   it on day 69 (10 days), 20.94 a day on day 66 (7 days); LAI as above.
struct expected_grid {
  const char* grid;
  double values[PATTERN];
};
const std::vector<expected_grid> EXPECTED = {
    {"landuse1", {1, 1, 2}},
    {"landuse2", {2, 2, -9999}},
    {"Pheno_start1", {64, 63, 66}},
    {"Pheno_start2", {69, 66, ND}},
    {"leaf_area_index1", {1 + 3 * 16 / 30.0, 1 + 3 * 17 / 30.0, 1 + 3 * 14 / 30.0}},
    {"leaf_area_index2", {1 + 3 * 11 / 30.0, 1 + 3 * 14 / 30.0, ND}},
    {"SumOfChillingUnits2", {59, 59, ND}},
    // Neither class names a start sample day of the vegetation period: every
    // step counts.
    {"VegetationDuration1", {80, 80, 80}},
    {"VegetationDuration2", {80, 80, ND}},
    {"albedo", {0.2, 0.2, 0.3}},
};

}  // namespace

TEST(VegetationLayersMpi, SameGridsOnAnyNumberOfProcesses) {
  scratch_dir dir;
  captured_diag cap(4, world_rank(), world_size());
  const std::string path = shared_path(dir);
  layers_fixture::control_parts parts;
  parts.standard_grids =
      "4\n$dir//landuse.asc landuse 0\n"
      "none albedo fillcode = 0 readcode = 0 defaultValue = 0.2\n"
      // Without a start below 0 the forcing would wait for JDReset_TStart.
      "none Pheno_start1 fillcode = 0 readcode = 0 defaultValue = -1\n"
      "none Pheno_start2 fillcode = 0 readcode = 0 defaultValue = -1\n";
  parts.multilayer =
      "[multilayer_landuse]\n2\n100 standA { Landuse_Layers = 10, 20; }\n"
      "200 standB { Landuse_Layers = 20, -9999; }\n";
  parts.landuse = LANDUSE;
  if (world_rank() == 0) {
    dir.write("zones.asc", layers_fixture::text_grid(ZONES, NCOLS, NROWS));
    std::string dem;
    for (int r = 1; r <= NROWS; ++r) dem += "400 400 400 400 400 400\n";
    dir.write("dem.asc", layers_fixture::text_grid(dem, NCOLS, NROWS));
    dir.write("landuse.asc", layers_fixture::text_grid(STANDS, NCOLS, NROWS));
    dir.write("MpiSpeedFactor.dat", "1\n");
    dir.write("run.ctl", "$set $dir = " + path + "/\n" + layers_fixture::control_text(parts));
  }
  MPI_Barrier(MPI_COMM_WORLD);
  char cwd[4096] = {};
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(path.c_str()), 0);

  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  defaultini settings(status, cap.diag.get(), path + "/run.ctl", &registry, 200, 2, &store);
  int code = 0;
  grid_matrix temperature;
  try {
    bool done = false;
    while (!done) settings.init_step(done);
    temperature = settings.matrix(1, NROWS, 1, NCOLS, NROWS);
    settings.register_grid(store.first_free(1), "temperature", &temperature, nullptr, 0,
                           "temperature", 0, 1, NROWS);
    static const int lengths[4] = {0, 31, 28, 31};
    for (int a = 1; a <= 80; ++a) {
      int month = 1;
      int day = a;
      while (day > lengths[month]) day -= lengths[month++];
      for (int r = 1; r <= NROWS; ++r)
        for (int c = 1; c <= NCOLS; ++c) temperature[r][c] = daily_mean(a, c);
      settings.update_landuse_parameters(23, day, month, 2001, 1440);
    }
  } catch (int c) {
    code = c;
  }
  ASSERT_EQ(code, 0) << cap.console();

  for (const expected_grid& e : EXPECTED) {
    SCOPED_TRACE(e.grid);
    const int index = settings.find_grid(e.grid, 1);
    ASSERT_GT(index, 0);
    const grid_matrix full = settings.gather_grid_copy(index);
    if (world_rank() != 0) continue;
    for (int r = 1; r <= NROWS; ++r) {
      for (int c = 1; c <= NCOLS; ++c) {
        const double want = r == NROWS && c == NCOLS ? ND : e.values[(c - 1) % PATTERN];
        EXPECT_NEAR(full[r][c], want, 1e-9) << "row " << r << " col " << c;
      }
    }
  }
  settings.release();
  EXPECT_EQ(chdir(cwd), 0);
  MPI_Barrier(MPI_COMM_WORLD);
}
