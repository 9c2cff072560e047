// The unsaturated zone's steps on several processes: a grid of six rows of
// three cells (column 3 outside the zone grid), three travel-time zones by
// row pairs and unequal cell weights. The same run divided into bands over
// all processes (under 4 threads) and held by process 0 alone (1 thread)
// gives the same runoff per step: the heads summed over the processes, the
// storages and the base flow do not depend on the division.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "settings/tracer_entry.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

constexpr int ROWS = 6;
constexpr int STEPS = 8;

// Per step on process 0: QD, QDd, QI, QIi, QBb, Qg of subbasin 1.
std::vector<double> run_divided(int bands, int substeps) {
  const int rank = world_rank();
  auto owner = [bands](int row) { return (row - 1) * bands / ROWS; };
  module_fixture f(ROWS);
  int first = 0, last = -1;
  for (int r = 1; r <= ROWS; ++r)
    if (owner(r) == rank) {
      if (first == 0) first = r;
      last = r;
    }
  f.settings.first_row = first;
  f.settings.last_row = last;
  grid_matrix dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
  f.publish(2, "dem", &dem);
  f.publish_regions();
  grid_matrix times = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix area = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix rain = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      f.regions[r][c] = owner(r);
      f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
      times[r][c] = 3600.0 * ((r + 1) / 2);  // zones 1, 1, 2, 2, 3, 3 by row
      area[r][c] = 0.5 + 0.1 * r + 0.05 * c;
      rain[r][c] = 30 + 5 * r + c;  // [mm per step]
    }
  int next = 4 + static_cast<int>(f.inputs.size());
  f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
  f.publish(next++, "flow_times", &times);
  f.publish(next++, "RelCellArea", &area);
  unsatzon_section_text s;
  s.codes = "1";
  s.value_rows = {"3", "5", "0.5", "4", "1", "0.1"};
  f.write_control(s.text());
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             substeps);
  EXPECT_EQ(status, 0) << f.console();
  unsat.init_tracers(status, 0, nullptr, nullptr, 0);
  EXPECT_EQ(status, 0) << f.console();
  f.publish(next++, "precipitation", &rain);
  unsat.select_input_grid(false);
  std::vector<double> out;
  for (int step = 0; step < STEPS; ++step) {
    const model_date date{2020, 6, 1, step};
    unsat.begin_step(date);
    for (int k = 1; k <= substeps; ++k) unsat.run_substep(date, k);
    unsat.end_step(date);
    const subbasin_flow_arrays* arrays[] = {unsat.get_qd(),  &unsat.get_qdd(), unsat.get_qi(),
                                            &unsat.get_qii(), unsat.get_qbb(),  unsat.get_qg()};
    for (const subbasin_flow_arrays* a : arrays)
      out.push_back((*a)[0][1]);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  return out;
}

TEST(UnsatzonStepProcesses, RunoffDoesNotDependOnTheDivision) {
  const int threads = omp_get_max_threads();
  for (int substeps : {1, 3}) {
    SCOPED_TRACE("sub-steps " + std::to_string(substeps));
    omp_set_num_threads(1);
    const std::vector<double> alone = run_divided(1, substeps);
    omp_set_num_threads(4);
    const std::vector<double> bands = run_divided(world_size(), substeps);
    omp_set_num_threads(threads);
    if (world_rank() != 0) continue;
    ASSERT_EQ(alone.size(), bands.size());
    double direct = 0;
    for (size_t i = 0; i < alone.size(); ++i) {
      EXPECT_NEAR(bands[i], alone[i], 1e-12 * std::fabs(alone[i])) << i;
      if (i % 6 == 0) direct += alone[i];
    }
    EXPECT_GT(direct, 0);  // direct runoff went through the zones
  }
}

}  // namespace
