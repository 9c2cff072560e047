// Tracers in the unsaturated zone's soil-column step, on the set-up
// fixture's row of three cells (two inside the zone grid): a tracer that
// starts and enters at one concentration keeps it in every layer's store and
// in the lateral flow ("_CONC_QI_"), the direct flow carries its tracer into
// "_CONC_QD_", and the stores are the same bit for bit on 1 and 4 threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "settings/tracer_entry.h"
#include "soilwater/unsatzon_setup_fixture.h"
#include "tables/soiltable.h"

namespace {

using namespace unsatzon_setup;

constexpr double CONC = 2.0;  // start and input concentration

tracer_entry conservative_tracer(const std::string& dir) {
  tracer_entry e;
  e.name = "cl_";
  e.evaporating = 0;
  e.soilini = CONC;
  e.gwini = CONC;
  e.max_conc = 1e6;
  e.path = dir + "/";
  e.statext = "sta";
  e.gridext = "grd";
  e.statcode = 1001;
  return e;
}

// A run with one tracer and rain of 4 and 30 mm per step on cells 1 and 2.
struct tracer_run {
  tracer_run() : run({}) {
    grids.reserve(2);
    grids.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
    for (int c = 1; c <= 3; ++c) grids.back()[1][c] = CONC;
    run.publish_next("concflux_tracer_1_input", &grids.back());
    list = {tracer_entry{}, conservative_tracer(run.f.cd.dir.path())};
    status = -1;
    run.module->init_tracers(status, 1, list.data(), nullptr, 0);
    grids.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
    grids.back()[1][1] = 4;
    grids.back()[1][2] = 30;
    run.publish_next("precipitation", &grids.back());
    run.module->select_input_grid(false);
  }
  double conc(int c, int l) {
    const soil_entry& soil = run.f.soils[1];
    return run.stack("concstor_tracer_1_unsatzon_model")[1][c][l] /
           (run.stack("theta")[1][c][l] * soil.thickness[static_cast<size_t>(l)] * 1000);
  }
  setup_run run;
  std::vector<grid_matrix> grids;
  std::vector<tracer_entry> list;
  int status = 0;
};

TEST(UnsatzonColumnStepTracers, UniformTracerStaysUniformAndLeavesWithTheRunoff) {
  tracer_run t;
  ASSERT_EQ(t.run.status, 0) << t.run.f.console();
  ASSERT_EQ(t.status, 0) << t.run.f.console();
  double direct_water = 0, direct_tracer = 0;
  for (int call = 0; call < 12; ++call) {
    t.run.module->soil_column_step(12, 1, 6, 2020);
    for (int c = 1; c <= 2; ++c) {
      SCOPED_TRACE("cell " + std::to_string(c) + ", call " + std::to_string(call));
      for (int l = 1; l <= L; ++l) ASSERT_NEAR(t.conc(c, l), CONC, 1e-9) << "layer " << l;
      const double interflow = t.run.grid("interflow")[1][c];
      if (interflow > 0) {
        EXPECT_NEAR(t.run.grid("_CONC_QI_1_")[1][c] / interflow, CONC, 1e-9);
      }
      direct_water += t.run.grid("directflow")[1][c];
      direct_tracer += t.run.grid("_CONC_QD_1_")[1][c];
    }
  }
  // 30 mm per step on cell 2 makes direct flow at the input's concentration.
  ASSERT_GT(direct_water, 0);
  EXPECT_NEAR(direct_tracer / direct_water, CONC, 1e-9);
  EXPECT_EQ(t.run.grid("_CONC_QD_1_")[1][3], NODATA);
}

TEST(UnsatzonColumnStepTracers, OneAndFourThreadsGiveTheSameStores) {
  std::vector<double> results[2];
  const int threads[2] = {1, 4};
  const int threads_before = omp_get_max_threads();
  for (int i = 0; i < 2; ++i) {
    omp_set_num_threads(threads[i]);
    tracer_run t;
    ASSERT_EQ(t.status, 0) << t.run.f.console();
    for (int call = 0; call < 6; ++call) t.run.module->soil_column_step(12, 1, 6, 2020);
    for (int c = 1; c <= 2; ++c) {
      for (int l = 0; l <= L; ++l)
        results[i].push_back(t.run.stack("concstor_tracer_1_unsatzon_model")[1][c][l]);
      results[i].push_back(t.run.grid("_CONC_QD_1_")[1][c]);
      results[i].push_back(t.run.grid("_CONC_QI_1_")[1][c]);
    }
  }
  omp_set_num_threads(threads_before);
  ASSERT_EQ(results[0].size(), results[1].size());
  for (size_t k = 0; k < results[0].size(); ++k) EXPECT_EQ(results[0][k], results[1][k]) << k;
}

}  // namespace
