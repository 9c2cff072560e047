// The unsaturated zone's steps on several processes: a grid of six rows of
// three cells (column 3 outside the zone grid), three travel-time zones by
// row pairs and unequal cell weights. The same run divided into bands over
// all processes (under 4 threads) and held by process 0 alone (1 thread)
// gives the same runoff per step: the heads summed over the processes, the
// storages and the base flow do not depend on the division; the soil columns
// leave the same grids, bit for bit, and the statistics rows are the same.
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

// What a divided run leaves beside the runoff: per step the cell values of
// the column grids (every process's own cells, gathered) and on process 0
// the values of the statistics rows.
struct run_details {
  std::vector<double> cells;
  std::vector<double> statistics;
  int statistics_found = 0;
};

// The own cells' values of the module's column grids and of the "theta"
// stack, summed over the processes: each cell has one owner, so the sum is
// that owner's value exactly.
void gather_cells(const module_fixture& f, int first, int last, std::vector<double>& out) {
  const char* names[] = {"theta",    "directflow", "interflow",           "baseflow",
                         "SB_2_grid", "groundwater_recharge", "hydraulic_heads"};
  std::vector<double> values;
  for (const char* name : names) {
    int index = -1;
    for (int i = 1; i < GRID_STORE_ENTRIES && index < 0; ++i)
      if (f.store[i].grid_name == name) index = i;
    EXPECT_GT(index, 0) << name;  // a missing grid adds zeros, so the sum still meets
    if (index < 0) {
      values.resize(values.size() + ROWS * 2, 0.0);
      continue;
    }
    const grid_entry& e = f.store[index];
    const bool stack = e.stack != nullptr && !e.stack->empty();
    const int levels = stack ? 10 : 1;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 2; ++c)
        for (int l = 1; l <= levels; ++l) {
          double v = 0;
          if (r >= first && r <= last) v = stack ? (*e.stack)[r][c][l] : (*e.grid)[r][c];
          values.push_back(v);
        }
  }
  MPI_Allreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()), MPI_DOUBLE, MPI_SUM,
                MPI_COMM_WORLD);
  out.insert(out.end(), values.begin(), values.end());
}

// Per step on process 0: QD, QDd, QI, QIi, QBb, Qg of subbasin 1.
std::vector<double> run_divided(int bands, int substeps, run_details* details = nullptr) {
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
    if (details == nullptr) continue;
    gather_cells(f, first, last, details->cells);
    using us = unsatzon_statistic;
    for (us which : {us::sb_1, us::sb_2, us::gwstand, us::gwn, us::infilt, us::infex, us::qb}) {
      const zonalstatistic* st = unsat.get_statistic(which);
      if (st == nullptr || rank != 0) continue;
      ++details->statistics_found;
      const statistics_record& row = st->image();
      for (int k = 1; k <= row.value_count; ++k) details->statistics.push_back(row.values[k]);
    }
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

// The column step and the statistics under a division into 1, 2 or 3 bands
// (as many as there are processes) and 4 threads against one process with
// one thread.
TEST(UnsatzonStepProcesses, ColumnGridsAndStatisticsDoNotDependOnTheDivision) {
  const int threads = omp_get_max_threads();
  for (int substeps : {1, 3}) {
    SCOPED_TRACE("sub-steps " + std::to_string(substeps));
    run_details alone, bands;
    omp_set_num_threads(1);
    run_divided(1, substeps, &alone);
    omp_set_num_threads(4);
    run_divided(world_size(), substeps, &bands);
    omp_set_num_threads(threads);
    ASSERT_EQ(alone.cells.size(), bands.cells.size());
    size_t differing = 0;
    double water = 0;
    for (size_t i = 0; i < alone.cells.size(); ++i) {
      if (alone.cells[i] != bands.cells[i]) ++differing;
      water += alone.cells[i];
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(water, 0);
    if (world_rank() != 0) continue;
    EXPECT_GT(alone.statistics_found, 0);
    ASSERT_EQ(alone.statistics.size(), bands.statistics.size());
    for (size_t i = 0; i < alone.statistics.size(); ++i)
      EXPECT_NEAR(bands.statistics[i], alone.statistics[i], 1e-12 * std::fabs(alone.statistics[i]))
          << i;
  }
}

}  // namespace
