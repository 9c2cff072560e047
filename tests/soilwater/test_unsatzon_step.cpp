// The unsaturated zone's step on the set-up fixture's row (cells 1 and 2 in
// subbasin 1, cell 3 outside): what one sub-step adds to the travel-time
// zone queues for each glacier, routing and flow-time case, the closure of
// a run (runoff of the cells in = Qg out + what the storages still hold),
// the glacier term of Qg, the copy of a unit's master cell and the control
// cell's tracer rows.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "settings/tracer_entry.h"
#include "soilwater/unsatzon_setup_fixture.h"
#include "soilwater/unsatzon_tracer_values.h"
#include "tables/soiltable.h"

namespace {

using namespace unsatzon_setup;

const model_date DATE{2020, 6, 1, 12};

struct step_run {
  setup_run run;
  grid_matrix rain;
  explicit step_run(const setup_options& o, double rain_mm = 3) : run(o) {
    if (run.status != 0) return;
    int status = -1;
    run.module->init_tracers(status, 0, nullptr, nullptr, 0);
    EXPECT_EQ(status, 0) << run.f.console();
    rain = run.f.grids.matrix(1, 1, 0, 3, 1);
    for (int c = 1; c <= 3; ++c) rain[1][c] = rain_mm;
    run.publish_next("precipitation", &rain);
    run.module->select_input_grid(false);
  }
  unsatzonmodellklasse& m() { return *run.module; }
};

struct accumulation_case {
  const char* what;
  setup_options options;
  double glacier_cell1;      // "GlacierizedCells" of cell 1 (with glaciers 2)
  int surface_routing;
  double v1;                 // expected unglacierized share of cell 1 [-]
  int zone1, zone2;          // expected zones of cells 1 and 2
};

TEST(UnsatzonStep, OneSubStepAddsEachCellToItsZoneWithItsShare) {
  // Weight 0.5 per cell ("RelCellArea"); 60-minute step, so a flow time of
  // 7200 s is zone 2 and one of 0 s zone 0, which counts in zone 1.
  const accumulation_case cases[] = {
      {"no glacier grid: share 1", {.rel_cell_area = 0.5, .substeps = 3}, 0, 0, 1, 1, 1},
      {"glacier fraction 0.25", {.glaciers = 2, .rel_cell_area = 0.5}, 0.25, 0, 0.75, 1, 1},
      {"glacier above 1: fully glacierized", {.glaciers = 2, .rel_cell_area = 0.5}, 1.5, 0, 0, 1, 1},
      {"negative glacier value counts as 0", {.glaciers = 2, .rel_cell_area = 0.5}, -0.3, 0, 1, 1, 1},
      {"flow times: zone 0 counts in zone 1", {.flow_times = {0, 7200, 0}, .rel_cell_area = 0.5}, 0, 0, 1, 1, 2},
      {"surface routing: all in zone 1", {.flow_times = {0, 7200, 0}, .rel_cell_area = 0.5}, 0, 1, 1, 1, 1},
  };
  for (const accumulation_case& k : cases) {
    SCOPED_TRACE(k.what);
    step_run s(k.options, 80);  // a heavy shower, so that there is direct runoff
    ASSERT_EQ(s.run.status, 0) << s.run.f.console();
    if (k.options.glaciers == 2) s.run.glacier[1][1] = k.glacier_cell1;
    s.m().set_surface_routing_active(k.surface_routing);
    s.m().begin_step(DATE);
    const auto before = s.m().get_zone_queues().direct[0][1];
    s.m().run_substep(DATE, 1);
    const auto& after = s.m().get_zone_queues().direct[0][1];
    const double S = k.options.substeps;
    const double d1 = s.run.grid("directflow")[1][1], d2 = s.run.grid("directflow")[1][2];
    ASSERT_GT(d1 + d2, 0);
    std::vector<double> sum(after.size(), 0), count(after.size(), 0), weight(after.size(), 0);
    sum[static_cast<size_t>(k.zone1)] += d1 * 0.5 * k.v1 * S;
    count[static_cast<size_t>(k.zone1)] += 1;  // v + f: the full cell
    weight[static_cast<size_t>(k.zone1)] += 0.5;
    sum[static_cast<size_t>(k.zone2)] += d2 * 0.5 * S;
    count[static_cast<size_t>(k.zone2)] += 1;
    weight[static_cast<size_t>(k.zone2)] += 0.5;
    for (size_t z = 0; z < after.size(); ++z) {
      SCOPED_TRACE("zone " + std::to_string(z));
      EXPECT_NEAR(after[z].sum - before[z].sum, sum[z], 1e-12);
      EXPECT_NEAR(after[z].count - before[z].count, count[z], 1e-12);
      EXPECT_NEAR(after[z].weight - before[z].weight, weight[z], 1e-12);
    }
  }
}

// [mm per step] per subbasin 1 over a run of steps: what the cells gave and
// what left as Qg.
struct run_totals {
  double in = 0, out = 0, held = 0;
  std::vector<double> qg;
};

run_totals run_steps(int substeps, int steps, bool glacier_term, double held_glacier = 0,
                     bool base_statistic_off = false) {
  setup_options o{.rel_cell_area = 0.5, .substeps = substeps};
  if (base_statistic_off) o.off_statistics = {10};  // the "QB" statistics line
  o.value_rows = {"10", "15", "0.5", "4", "1", "0.1"};  // kelsqd, kelsqi [h]
  if (glacier_term) o.glaciers = 2;
  step_run s(o, 5);
  EXPECT_EQ(s.run.status, 0) << s.run.f.console();
  run_totals t;
  if (s.run.status != 0) return t;
  if (glacier_term) s.run.glacier[1][1] = 0;  // glacierized subbasin, no ice on the cells
  unsatzonmodellklasse& m = s.m();
  subbasin_flow_arrays& qg = *m.get_qg();
  for (int step = 0; step < steps; ++step) {
    model_date date = DATE;
    date.hour = step % 24;
    m.begin_step(date);
    double step_in = 0, base_sum = 0;
    for (int k = 1; k <= substeps; ++k) {
      m.run_substep(date, k);
      for (int c = 1; c <= 2; ++c) {
        // Equal weights: the subbasin mean is the mean of the two cells.
        step_in += 0.5 * (s.run.grid("directflow")[1][c] + s.run.grid("interflow")[1][c]);
        base_sum += 0.5 * s.run.grid("baseflow")[1][c];
      }
    }
    step_in += std::max(0.0, base_sum);
    qg[0][1] = held_glacier;  // the snow module's glacier outflow of the step
    m.end_step(date);
    t.in += step_in;
    t.out += qg[0][1] - (glacier_term ? held_glacier : 0);
    t.qg.push_back(qg[0][1]);
  }
  // A storage of weights a, m that started empty holds (a / m) x its last
  // outflow more than it gave: sum of outflows = sum of inputs - that.
  const double dt = m.get_time_interval();
  const double a_d = std::exp(-dt / 600), a_i = std::exp(-dt / 900);
  t.held = a_d / (1 - a_d) * m.get_qdd()[0][1] + a_i / (1 - a_i) * m.get_qii()[0][1];
  return t;
}

TEST(UnsatzonStep, RunClosesWithWhatTheStoragesHold) {
  for (int substeps : {1, 3}) {
    SCOPED_TRACE("sub-steps " + std::to_string(substeps));
    const run_totals t = run_steps(substeps, 30, false);
    ASSERT_EQ(t.qg.size(), 30u);
    EXPECT_GT(t.held, 0);
    EXPECT_NEAR(t.out + t.held, t.in, 1e-9 * t.in);
  }
}

TEST(UnsatzonStep, BaseFlowDoesNotDependOnItsStatisticsFile) {
  // A base-flow statistic switched off (code 0) still gives QBb and Qg.
  const run_totals on = run_steps(2, 5, false);
  const run_totals off = run_steps(2, 5, false, 0, true);
  ASSERT_EQ(off.qg.size(), 5u);
  for (size_t j = 0; j < 5; ++j) EXPECT_EQ(off.qg[j], on.qg[j]) << j;
  EXPECT_GT(off.qg.back(), 0);
}

TEST(UnsatzonStep, GlacierizedSubbasinAddsToTheSnowModulesOutflow) {
  const run_totals plain = run_steps(1, 3, false);
  const run_totals glacier = run_steps(1, 3, true, 10);
  ASSERT_EQ(glacier.qg.size(), 3u);
  for (size_t j = 0; j < 3; ++j) EXPECT_NEAR(glacier.qg[j], 10 + plain.qg[j], 1e-12);
}

}  // namespace

namespace {

TEST(UnsatzonStep, UnitMembersTakeTheMastersValues) {
  step_run s({.hru = true}, 20);
  ASSERT_EQ(s.run.status, 0) << s.run.f.console();
  s.run.units[1].row = 1;
  s.run.units[1].col = 1;
  s.run.extra[1][2] = NODATA;  // cell 2 is a member of unit 1, whose master is cell 1
  s.run.grid("baseflow")[1][2] = 77;
  s.m().begin_step(DATE);
  s.m().run_substep(DATE, 1);
  for (const char* g : {"groundwater_distance", "groundwater_level", "baseflow", "directflow",
                        "interflow", "groundwater_recharge", "total_infiltration", "SB_1_grid",
                        "SB_2_grid", "ROOTgrid", "real_evaporation", "real_transpiration1"}) {
    SCOPED_TRACE(g);
    EXPECT_EQ(s.run.grid(g)[1][2], s.run.grid(g)[1][1]);
  }
  EXPECT_NE(s.run.grid("baseflow")[1][2], 77);
  for (const char* st : {"theta", "geodetic_heads", "hydraulic_heads", "q_down"})
    for (int l = 0; l <= L; ++l) EXPECT_EQ(s.run.stack(st)[1][2][l], s.run.stack(st)[1][1][l]) << st;
  s.m().end_step(DATE);

  // A unit number beyond the unit list cannot be copied.
  s.run.hru_units[1][2] = 2;
  s.m().begin_step(DATE);
  int code = 0;
  try {
    s.m().run_substep(DATE, 1);
  } catch (int e) {
    code = e;
  }
  EXPECT_EQ(code, 17);
  EXPECT_NE(s.run.f.console().find("the cell [1][2] names a hydrologic response unit that is not "
                                   "in the unit list"),
            std::string::npos)
      << s.run.f.console();
}

}  // namespace

namespace {

TEST(UnsatzonStep, TracerValuesOfDryLayers) {
  struct row {
    const char* what;
    bool evaporating;
    double stored, theta, thickness;  // [-] or [mg], [-], [m]
    double point, top;                // expected control-cell and grid values
  };
  // Amount 6 in 0.2 m at theta 0.3: 6 / (0.2 x 1000 x 0.3) = 0.1.
  const row rows[] = {
      {"wet, amount", false, 6, 0.3, 0.2, 0.1, 0.1},
      {"theta 1e-6, evaporating: the stored value", true, 4, 1e-6, 0.2, 4, 4},
      {"theta 1e-6, amount: markers", false, 4, 1e-6, 0.2, 1e9, 99999},
      {"theta 5e-5: point value, dry top layer", false, 1e-3, 5e-5, 0.2, 0.1, 99999},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_NEAR(control_cell_tracer_value(r.evaporating, r.stored, r.theta, r.thickness), r.point,
                1e-12 * r.point);
    EXPECT_NEAR(top_layer_tracer_value(r.evaporating, r.stored, r.theta, r.thickness), r.top,
                1e-12 * r.top);
  }
}

}  // namespace

namespace {

TEST(UnsatzonStep, TracerBaseFlowAndControlCellRows) {
  setup_run run({.control_cell = "1 1", .substeps = 2});
  ASSERT_EQ(run.status, 0) << run.f.console();
  std::vector<grid_matrix> inputs;
  inputs.reserve(3);
  for (const char* n : {"concflux_tracer_1_input", "concflux_tracer_2_input", "precipitation"}) {
    inputs.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
    run.publish_next(n, &inputs.back());
  }
  for (int c = 1; c <= 3; ++c) inputs[2][1][c] = 20;
  const std::string dir = run.f.cd.dir.path();
  std::vector<tracer_entry> list(3);
  for (int t = 1; t <= 2; ++t) {
    tracer_entry& e = list[static_cast<size_t>(t)];
    e.name = t == 1 ? "cl_" : "tri";
    e.path = dir + "/";
    e.statext = "sta";
    e.gridext = "grd";
    e.statcode = 1001;
    e.soilini = e.gwini = 4;
  }
  list[2].evaporating = 1;
  int status = -1;
  run.module->init_tracers(status, 2, list.data(), nullptr, 0);
  ASSERT_EQ(status, 0) << run.f.console();
  run.module->select_input_grid(false);
  unsatzonmodellklasse& m = *run.module;
  m.begin_step(DATE);
  m.run_substep(DATE, 1);
  m.run_substep(DATE, 2);
  m.end_step(DATE);
  // The evaporating tracer holds 4 in every layer: the base flow carries 4,
  // and the total mixes it with tracer-free direct runoff and interflow.
  const double o = (*m.get_qbb())[0][1], d = m.get_qdd()[0][1], i = m.get_qii()[0][1];
  ASSERT_GT(o, 0);
  EXPECT_NEAR((*m.get_qbb())[2][1], 4, 1e-12);
  EXPECT_NEAR((*m.get_qg())[2][1], (4 * o + d * m.get_qdd()[2][1] + i * m.get_qii()[2][1]) / (o + i + d),
              1e-12);
  // Two sub-steps: two rows in each tracer's control-cell buffer (after the
  // six files of the cell), the evaporating tracer's values as stored.
  const auto& buffers = m.get_control_cell_buffers();
  ASSERT_EQ(buffers.size(), 8u);
  EXPECT_EQ(buffers[6].fill, 2);
  EXPECT_EQ(buffers[7].fill, 2);
  const stack_matrix& stored = run.stack("concstor_tracer_2_unsatzon_model");
  for (int l = 1; l <= L; ++l)
    EXPECT_EQ(buffers[7].values[2 * static_cast<size_t>(buffers[7].values_per_row) + static_cast<size_t>(l)],
              stored[1][1][l]);
}

}  // namespace
