// The accumulation of the unsaturated zone's sub-step on several threads: a
// grid of sixteen rows of three cells in three subbasins, four travel-time
// zones, unequal cell weights, partly glacierized cells whose glaciers
// changed, and two tracers (one evaporating). The same run on 1 and on 4
// threads must leave, after every call, the same zone queues of water and
// tracers and the same statistics records, and after every step the same
// runoff of every subbasin and tracer, the same statistics rows and the same
// top-layer tracer grids, bit for bit: the sums may not depend on how the
// rows fall on the threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <string>
#include <vector>

#include "settings/tracer_entry.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

constexpr int ROWS = 16;
constexpr int STEPS = 3;
constexpr int SUBSTEPS = 2;
constexpr int TRACERS = 2;

struct run_values {
  std::vector<double> queues, records, runoff, rows, top_values;
  double direct_sum = 0;  // water that reached the direct-runoff queues
  double tracer_base = 0;  // tracer mass in the tracers' base-flow records
  int evaporating_mismatches = 0;  // cells whose top value is not the stored one
  int glacier_cells = 0;
};

void push_records(const std::vector<zone_record>& records, std::vector<double>& out) {
  for (const zone_record& z : records) out.insert(out.end(), {z.count, z.sum, z.weight});
}

run_values run_on_threads(int threads) {
  const int threads_before = omp_get_max_threads();
  omp_set_num_threads(threads);
  run_values out;
  module_fixture f(ROWS);
  f.settings.first_row = 1;
  f.settings.last_row = ROWS;
  grid_matrix dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
  f.publish(2, "dem", &dem);
  f.publish_regions();
  grid_matrix times = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix area = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix rain = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix glacier = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix glacier_old = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix balance = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  std::vector<grid_matrix> tracer_input;
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      // Subbasins 1..3 cross the rows, so a row touches several of them;
      // every other row ends at column 2.
      f.soil_zone_grid[r][c] = c == 3 && r % 2 == 0 ? NODATA : 1 + (r + c) % 3;
      times[r][c] = 3600.0 * ((r * c) % 5);  // zones 0 (counted in 1) to 4
      area[r][c] = 0.3 + 0.07 * r + 0.11 * c;
      rain[r][c] = 20 + 3.7 * r + 1.3 * c;  // [mm per step]
      const double shares[] = {0, 0.3, 1.2, -0.1, 0.65};
      glacier[r][c] = shares[(r + 2 * c) % 5];
      glacier_old[r][c] = (r + c) % 3 == 0 ? glacier[r][c] : 0.5;
      if (f.soil_zone_grid[r][c] != NODATA && glacier[r][c] > 0) ++out.glacier_cells;
    }
  int next = 4 + static_cast<int>(f.inputs.size());
  f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
  f.publish(next++, "flow_times", &times);
  f.publish(next++, "RelCellArea", &area);
  f.publish(next++, "GlacierizedCells", &glacier);
  f.publish(next++, "GlacierMassBalance", &balance);
  f.publish(next++, "GlacierizedCellsOld", &glacier_old);
  unsatzon_section_text s;
  s.codes = "1 2 3";
  s.value_rows = {"3 4 5", "5 6 7", "0.5 0.5 0.5", "4 4 4", "1 1 1", "0.1 0.1 0.1"};
  f.write_control(s.text());
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             SUBSTEPS);
  EXPECT_EQ(status, 0) << f.console();
  if (status != 0) return out;
  tracer_input.reserve(TRACERS);
  for (int t = 1; t <= TRACERS; ++t) {
    tracer_input.push_back(f.grids.matrix(1, ROWS, 0, 3, ROWS));
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) tracer_input.back()[r][c] = t * (1.5 + 0.37 * r + 0.23 * c);
    f.publish(next++, "concflux_tracer_" + std::to_string(t) + "_input", &tracer_input.back());
  }
  std::vector<tracer_entry> list(TRACERS + 1);
  for (int t = 1; t <= TRACERS; ++t) {
    tracer_entry& e = list[static_cast<size_t>(t)];
    e.name = "tr" + std::to_string(t);
    e.path = f.cd.dir.path() + "/";
    e.statext = "sta";
    e.gridext = "grd";
    e.statcode = 1001;
    e.soilini = e.gwini = 2.5 * t;
    e.evaporating = t == 2 ? 1 : 0;
  }
  unsat.init_tracers(status, TRACERS, list.data(), nullptr, 0);
  EXPECT_EQ(status, 0) << f.console();
  if (status != 0) return out;
  f.publish(next++, "precipitation", &rain);
  unsat.select_input_grid(false);

  using us = unsatzon_statistic;
  EXPECT_NE(unsat.get_statistic(us::immobilised), nullptr);
  for (int step = 0; step < STEPS; ++step) {
    const model_date date{2020, 6, 1, step};
    unsat.begin_step(date);
    for (int k = 1; k <= SUBSTEPS; ++k) {
      unsat.run_substep(date, k);
      const flow_time_queues& q = unsat.get_zone_queues();
      for (size_t t = 0; t <= TRACERS; ++t)
        for (size_t b = 1; b <= 3; ++b) {
          push_records(q.direct[t][b], out.queues);
          push_records(q.interflow[t][b], out.queues);
          if (t == 0)
            for (const zone_record& z : q.direct[0][b]) out.direct_sum += z.sum;
        }
      for (int w = 0; w < static_cast<int>(us::count); ++w)
        push_records(unsat.get_statistic_zones(static_cast<us>(w)), out.records);
    }
    unsat.end_step(date);
    const subbasin_flow_arrays* arrays[] = {unsat.get_qd(),  &unsat.get_qdd(), unsat.get_qi(),
                                            &unsat.get_qii(), unsat.get_qbb(),  unsat.get_qg()};
    for (const subbasin_flow_arrays* a : arrays)
      for (size_t t = 0; t <= TRACERS; ++t)
        for (size_t b = 1; b <= 3; ++b) out.runoff.push_back((*a)[t][b]);
    for (size_t b = 1; b <= 3; ++b)
      for (size_t t = 1; t <= TRACERS; ++t) out.tracer_base += (*unsat.get_qbb())[t][b];
    // The tracers' top-layer grids of the step, formed on the threads.
    for (int t = 1; t <= TRACERS; ++t) {
      const grid_entry& e = f.store[unsat.find_grid("concstor_tracer_" + std::to_string(t) +
                                                    "_unsatzon_model")];
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= 3; ++c) {
          if (f.soil_zone_grid[r][c] == NODATA) continue;
          const double top = (*e.grid)[r][c];
          out.top_values.push_back(top);
          // An evaporating tracer's value is its top layer's as stored.
          if (list[static_cast<size_t>(t)].evaporating == 1 && top != (*e.stack)[r][c][1])
            ++out.evaporating_mismatches;
        }
    }
    for (int w = 0; w < static_cast<int>(us::count); ++w) {
      const zonalstatistic* st = unsat.get_statistic(static_cast<us>(w));
      if (st == nullptr || st->off()) continue;
      const statistics_record& row = st->image();
      for (int v = 1; v <= row.value_count; ++v) out.rows.push_back(row.values[v]);
    }
  }
  omp_set_num_threads(threads_before);
  return out;
}

// Positions at which two series differ, bit for bit.
size_t differing(const std::vector<double>& a, const std::vector<double>& b) {
  size_t n = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i]) ++n;
  return n;
}

TEST(UnsatzonAccumulationThreads, OneAndFourThreadsGiveTheSameSumsBitForBit) {
  const run_values one = run_on_threads(1);
  const run_values four = run_on_threads(4);
  // The case reaches what it is about: glacier shares, direct runoff and
  // tracer in the base flow.
  ASSERT_GT(one.glacier_cells, 0);
  ASSERT_GT(one.direct_sum, 0);
  ASSERT_GT(one.tracer_base, 0);
  ASSERT_FALSE(one.rows.empty());
  ASSERT_EQ(one.queues.size(), four.queues.size());
  ASSERT_EQ(one.records.size(), four.records.size());
  ASSERT_EQ(one.runoff.size(), four.runoff.size());
  ASSERT_EQ(one.rows.size(), four.rows.size());
  ASSERT_EQ(one.top_values.size(), four.top_values.size());
  ASSERT_FALSE(one.top_values.empty());
  EXPECT_EQ(one.evaporating_mismatches, 0);
  EXPECT_EQ(four.evaporating_mismatches, 0);
  EXPECT_EQ(differing(one.queues, four.queues), 0u);
  EXPECT_EQ(differing(one.records, four.records), 0u);
  EXPECT_EQ(differing(one.runoff, four.runoff), 0u);
  EXPECT_EQ(differing(one.rows, four.rows), 0u);
  EXPECT_EQ(differing(one.top_values, four.top_values), 0u);
}

}  // namespace
