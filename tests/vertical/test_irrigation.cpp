// Irrigation: the rules of one cell against hand calculations (method 3
// fills the root zone: (SBHIGH - SB_1) x root depth x 1000 x dt / 1440), the
// surface-water supply down a chain of subbasins, and the module on a row of
// cells: daily and hourly runs, the groundwater cap, cells without a rule,
// SpinUp, a shortfall with groundwater and surface-water cells side by side,
// and the water balance of "precipitation".
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "settings/tracer_entry.h"
#include "vertical/irrigate_kernels.h"
#include "vertical/irrigation_fixture.h"

namespace {

TEST(IrrigationRule, AmountsOfOneCell) {
  struct row {
    const char* what;
    irrigation_entry e;
    irrigation_cell cell;  // sb, low, high, root depth, ratio, current
    double dt;             // [min]
    double expected;       // [mm per step]
  };
  const irrigation_entry m3 = entry(3, 1);
  const irrigation_entry m4 = entry(4, 1, {}, 0.7);
  const irrigation_entry twice = entry(1, 1, {{5, 3, 24}, {5, 3, 48}, {6, 1, 12}});
  const row rows[] = {
      {"daily: below SBLOW starts with 0.15 x 0.5 x 1000",
       m3,
       {0.20, 0.25, 0.35, 0.5, 1, 0},
       1440,
       75},
      {"daily: still below, the amount repeats", m3, {0.22, 0.25, 0.35, 0.5, 1, 75}, 1440, 75},
      {"daily: at SBLOW it stops", m3, {0.25, 0.25, 0.35, 0.5, 1, 75}, 1440, 0},
      {"daily: above SBLOW without a running one", m3, {0.30, 0.25, 0.35, 0.5, 1, 0}, 1440, 0},
      {"hourly: starts with 75 / 24", m3, {0.20, 0.25, 0.35, 0.5, 1, 0}, 60, 3.125},
      {"hourly: above SBLOW, below SBHIGH, goes on",
       m3,
       {0.30, 0.25, 0.35, 0.5, 1, 3.125},
       60,
       3.125},
      {"hourly: at SBHIGH it stops", m3, {0.35, 0.25, 0.35, 0.5, 1, 3.125}, 60, 0},
      {"ratio below the minimum starts", m4, {0.20, 0.25, 0.35, 0.5, 0.6, 0}, 1440, 75},
      {"ratio at the minimum stops a daily one", m4, {0.20, 0.25, 0.35, 0.5, 0.7, 75}, 1440, 0},
      {"schedule: a date twice, the first amount", twice, {}, 1440, 24},
      {"schedule: 12 mm per day over 6 hours", entry(1, 1, {{5, 3, 12}}), {}, 360, 3},
      {"schedule: no entry that day", entry(2, 1, {{6, 1, 12}}), {}, 1440, 0},
      {"method 5 keeps the amount", entry(5, 1), {0.1, 0.25, 0.35, 0.5, 1, 7}, 1440, 7},
      {"SBHIGH below SB gives nothing, never a negative amount",
       m3,
       {0.20, 0.25, 0.15, 0.5, 1, 0},
       1440,
       0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_NEAR(irrigation_amount(r.e, r.cell, 5, 3, r.dt), r.expected, 1e-12);
  }
}

TEST(IrrigationSupply, RiverWaterDownTheChain) {
  // Subbasin 2 flows into 1, each half of a 100 km2 basin; the routing visits
  // 2 first. Demand 6 mm in 2 and 5 mm in 1, 10 mm of river water in each.
  std::vector<zone_record> demand(3);
  demand[1].sum = 5, demand[1].weight = 1;
  demand[2].sum = 12, demand[2].weight = 2;
  const std::vector<double> shares{100, 0.5, 0.5};
  routing_target_table target;
  target.tributaries = {0, 2, 1, 0, 0, 0};
  target.downstream = {0, 0, 1};
  target.description = {0, 1, 2};
  std::vector<double> river{0, 10, 10}, reservoir{0, 0, 0};
  riverflow_table flows(3);
  for (int z : {1, 2}) {
    flows[static_cast<size_t>(z)].reach_number = z;
    flows[static_cast<size_t>(z)].flowm3s = 10;
    flows[static_cast<size_t>(z)].catchment_area = 50;
  }
  const supply_inputs in{&demand, &shares, 100, 1440, &target};
  const surface_supply s = supply_surface_water(in, river, reservoir, &flows);
  // 2 takes 6, which leaves 10 - 6 x 0.5 / 0.5 = 4 in 1: coverage 4 / 5.
  EXPECT_NEAR(river[1], 4, 1e-12);
  EXPECT_NEAR(s.coverage[1], 0.8, 1e-12);
  EXPECT_NEAR(s.coverage[2], 1, 1e-12);
  EXPECT_TRUE(s.shortfall);
  // 6 mm over 50 km2 a day is 6 x 50 / 86.4 m3 s-1, lowered in 2 and 1; 1
  // also loses its own 4 x 50 / 86.4. Flow [mm] = 0.06 dt Q / area.
  const double q2 = 10 - 300 / 86.4, q1 = q2 - 200 / 86.4;
  EXPECT_NEAR(flows[2].flowm3s, q2, 1e-12);
  EXPECT_NEAR(flows[1].flowm3s, q1, 1e-12);
  EXPECT_NEAR(flows[1].flow_mm[0], 86.4 * q1 / 50, 1e-12);
}

TEST(IrrigationSupply, ReservoirsAndShortfallWeights) {
  struct row {
    const char* what;
    double demand, river, reservoir;
    bool shortfall;
    double from_reservoir, coverage;
    double amount_after;  // of a cell of 10 mm
  };
  // wR = R / (R + F), wF = 1 - wR, f = min(1, B / R): a' = F wF a + f wR a.
  const row rows[] = {
      // Not applied without a shortfall: 10 / 6 + 0.8 x 5 / 6 x 10 by the rule.
      {"rivers and reservoirs cover it", 4, 10, 5, false, 4, 1, 50.0 / 6},
      {"no reservoir water: a shortfall that F = 1 leaves whole", 4, 10, 0, true, 0, 1, 10},
      {"half the rest from the river", 8, 2, 4, true, 4, 0.5,
       0.5 * (1 - 4 / 4.5) * 10 + 4 / 4.5 * 10},
      {"no demand at all", 0, 0, 0, false, 0, 1, 10},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<zone_record> demand(2);
    demand[1].sum = r.demand;
    demand[1].weight = 1;
    const std::vector<double> shares{10, 1};
    std::vector<double> river{0, r.river}, reservoir{0, r.reservoir};
    const supply_inputs in{&demand, &shares, 10, 1440, nullptr};
    const surface_supply s = supply_surface_water(in, river, reservoir, nullptr);
    EXPECT_EQ(s.shortfall, r.shortfall);
    EXPECT_NEAR(s.from_reservoir[1], r.from_reservoir, 1e-12);
    EXPECT_NEAR(s.coverage[1], r.coverage, 1e-12);
    EXPECT_NEAR(shortfall_amount(s, reservoir, 1, 10), r.amount_after, 1e-12);
  }
}

void expect_row_near(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t c = 0; c < actual.size(); ++c)
    EXPECT_NEAR(actual[c], expected[c], 1e-9) << "cell " << c + 1;
}

TEST(IrrigationModule, DailyMethod3StartsRepeatsAndStops) {
  irrigation_fixture f;
  f.table[1] = entry(3, 1);  // groundwater
  f.set("irrigation_codes", {1, 1, 0, 1});
  ASSERT_EQ(f.build(), 0) << f.cd.console();
  // Soil moisture of cell 4 stays above SBLOW: it never starts.
  f.set("SB_1_grid", {0.20, 0.20, 0.20, 0.30});
  f.step(1);
  expect_row_near(f.row_of("irrigation_amounts"), {75, 75, 0, 0});
  f.set("SB_1_grid", {0.24, 0.10, 0.20, 0.30});
  f.step(2);
  expect_row_near(f.row_of("irrigation_amounts"), {75, 75, 0, 0});
  f.set("SB_1_grid", {0.25, 0.24, 0.20, 0.30});
  f.step(3);
  expect_row_near(f.row_of("irrigation_amounts"), {0, 75, 0, 0});
  expect_row_near(f.row_of("precipitation"), {152, 227, 2, 2});
  // Groundwater statistics: the mean of the four cells, 75 + 75 + 0 + 0 over 4.
  EXPECT_NE(f.file("gw.sta").find("2001\t 5\t 1\t 0\t37.5000"), std::string::npos)
      << f.file("gw.sta");
}

TEST(IrrigationModule, HourlyMethod3GoesOnUntilSbhigh) {
  irrigation_fixture f;
  f.table[1] = entry(3, 1);
  f.set("irrigation_codes", 1);
  ASSERT_EQ(f.build(60), 0) << f.cd.console();
  const double sb[] = {0.20, 0.26, 0.34, 0.35, 0.30};
  const double expected[] = {3.125, 3.125, 3.125, 0, 0};
  for (int h = 0; h < 5; ++h) {
    SCOPED_TRACE(h);
    f.set("SB_1_grid", sb[h]);
    f.step(1, h);
    EXPECT_NEAR(f.row_of("irrigation_amounts")[0], expected[h], 1e-9);
  }
}

TEST(IrrigationModule, CellsThatGetNothing) {
  struct row {
    const char* what;
    irrigation_entry e;
    double code;
    double pumping;
  };
  const row rows[] = {
      {"groundwater with Max_Pumping 0", entry(3, 1), 1, 0},
      {"groundwater with a missing pumping limit", entry(3, 1), 1, -9999},
      {"irrigation code 0", entry(3, 1), 0, 1000},
      {"a code beyond the table", entry(3, 1), 9, 1000},
      {"a rule of method 0", entry(0, 1), 1, 1000},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    irrigation_fixture f;
    f.table[1] = r.e;
    f.set("irrigation_codes", r.code);
    f.set("Max_Pumping", r.pumping);
    ASSERT_EQ(f.build(), 0) << f.cd.console();
    f.step(1);
    EXPECT_EQ(f.row_of("irrigation_amounts"), (std::vector<double>(4, 0.0)));
    EXPECT_EQ(f.row_of("precipitation"), (std::vector<double>(4, 2.0)));
    EXPECT_NE(f.file("gw.sta").find("2001\t 5\t 1\t 0\t0.0000"), std::string::npos);
    EXPECT_NE(f.file("sw.sta").find("2001\t 5\t 1\t 0\t0.0000"), std::string::npos);
  }
}

TEST(IrrigationModule, SpinUpAndInactiveChangeNothing) {
  for (int spinup : {0, 1}) {
    irrigation_fixture f;
    f.settings.spinup_switch = spinup;
    f.table[1] = entry(3, 1);
    f.set("irrigation_codes", 1);
    ASSERT_EQ(f.build(1440, spinup == 1 ? 1 : 0), 0) << f.cd.console();
    f.step(1);
    EXPECT_EQ(f.row_of("precipitation"), (std::vector<double>(4, 2.0))) << spinup;
    EXPECT_EQ(f.module->get_irrigation_demand(), nullptr);
  }
}

TEST(IrrigationModule, ShortfallCutsSurfaceWaterCellsOnly) {
  irrigation_fixture f;
  f.table[1] = entry(3, 1);  // groundwater
  f.table[2] = entry(3, 2);  // surface water
  f.set("irrigation_codes", {1, 2, 2, 1});
  f.river[0][1] = 30;  // [mm] of river water for a demand of 75
  ASSERT_EQ(f.build(), 0) << f.cd.console();
  f.step(1);
  // Coverage 30 / 75 = 0.4 of the surface-water cells; pumped water stays.
  expect_row_near(f.row_of("irrigation_amounts"), {75, 30, 30, 75});
  EXPECT_NEAR(f.river[0][1], 0.4, 1e-12);
  EXPECT_EQ(f.reservoirs[0][1], 0);
  const zone_record& d = (*f.module->get_irrigation_demand())[1];
  EXPECT_NEAR(d.sum / d.weight, 30, 1e-12) << "the river demand counts surface-water cells";
  EXPECT_NE(f.file("sw.sta").find("2001\t 5\t 1\t 0\t15.0000"), std::string::npos)
      << f.file("sw.sta");
  EXPECT_NE(f.file("gw.sta").find("2001\t 5\t 1\t 0\t37.5000"), std::string::npos)
      << f.file("gw.sta");
}

TEST(IrrigationModule, MissingRoutingArraysStopTheSetUp) {
  struct row {
    const char* what;
    std::function<void(irrigation_fixture&)> remove;
    const char* entry;
  };
  const row rows[] = {
      {"no river water", [](irrigation_fixture& f) { f.river.clear(); },
       "(Adress of array maxirrig[] is NULL"},
      {"no reservoir water", [](irrigation_fixture& f) { f.reservoirs.clear(); },
       "(Adress of array maxirrigFromReservoirs[] is NULL"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    irrigation_fixture f;
    r.remove(f);
    EXPECT_EQ(f.build(), 60);
    EXPECT_NE(f.cd.console().find("if irrigation is modelled, also routing has to be modelled!"),
              std::string::npos);
    EXPECT_NE(f.cd.console().find(r.entry), std::string::npos) << f.cd.console();
  }
}

}  // namespace

namespace {

TEST(IrrigationModule, TracerOfTheWaterMixesWithThePrecipitations) {
  irrigation_fixture f;
  f.table[1] = entry(3, 1);  // groundwater
  f.table[2] = entry(3, 2);  // surface water
  f.set("irrigation_codes", {1, 2, 0, 1});
  f.set("SB_1_grid", {0.2, 0.2, 0.2, 0.3});
  f.add("concflux_tracer_1_input", 1);
  f.add("concstor_tracer_1_unsatzon_model", 5);
  f.river[0][1] = 1000;  // plenty: no cut
  f.river[1][1] = 3;     // the river water's concentration
  std::vector<tracer_entry> tracers(2);
  tracers[1].name = "chl";
  tracers[1].statcode = 0;
  ASSERT_EQ(f.build(), 0) << f.cd.console();
  int status = -1;
  f.module->init_tracers(status, 1, tracers.data(), &f.registry, 200);
  ASSERT_EQ(status, 0) << f.cd.console();
  f.module->link_tracer_storage();
  f.step(1);
  // Precipitation 2 of concentration 1 meets 75 mm of the soil water (5) or
  // of the river (3); cells without irrigation keep the precipitation's.
  const std::vector<double> expected{(2 + 5 * 75.0) / 77, (2 + 3 * 75.0) / 77, 1, 1};
  for (int c = 1; c <= 4; ++c)
    EXPECT_NEAR(f.grid("concflux_tracer_1_irrigation")[1][c], expected[static_cast<size_t>(c - 1)],
                1e-12)
        << c;
  f.module->free_tracer_statistics();
}

}  // namespace
