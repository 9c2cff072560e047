// What one sub-step of the unsaturated zone adds to the statistics of its
// subbasin beyond the runoff queues, on the set-up fixture's row (cells 1
// and 2 in subbasin 1, cell 3 outside): the soil water that a glacier
// immobilises or gives back when it changes its extent, and the base flow of
// a cell irrigated from groundwater, which gives up the pumped water.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "soilwater/unsatzon_setup_fixture.h"
#include "tables/irrigation.h"

namespace {

using namespace unsatzon_setup;
using us = unsatzon_statistic;

const model_date DATE{2020, 6, 1, 12};

struct step_run {
  setup_run run;
  grid_matrix rain;
  // prepare: what the application links before the second set-up phase.
  explicit step_run(const setup_options& o,
                    const std::function<void(step_run&)>& prepare = nullptr)
      : run(o) {
    if (run.status != 0) return;
    if (prepare != nullptr) prepare(*this);
    int status = -1;
    run.module->init_tracers(status, 0, nullptr, nullptr, 0);
    EXPECT_EQ(status, 0) << run.f.console();
    rain = run.f.grids.matrix(1, 1, 0, 3, 1);
    for (int c = 1; c <= 3; ++c) rain[1][c] = 3;
    run.publish_next("precipitation", &rain);
    run.module->select_input_grid(false);
  }
  unsatzonmodellklasse& m() { return *run.module; }
  // Subbasin 1's record of a statistic after one sub-step minus before it.
  zone_record added_by_substep(us which) {
    m().begin_step(DATE);
    const zone_record before = m().get_statistic_zones(which)[1];
    m().run_substep(DATE, 1);
    const zone_record& after = m().get_statistic_zones(which)[1];
    return {after.count - before.count, after.sum - before.sum, 0, 0,
            after.weight - before.weight};
  }
};

// Glaciers (fraction 0.25 now in cell 1) that covered 0.75 of cell 1, none
// of cell 2 (unchanged) before: cell 1 gives (old - new) x "SB_2_grid" with
// its full weight (share 0.75 unglacierized plus 0.25 glacierized), cell 2
// gives 0 with its weight.
TEST(UnsatzonAccumulation, GlacierResizingBooksTheSoilWaterOfTheChangedShare) {
  struct resize_case {
    const char* what;
    double old1;      // "GlacierizedCellsOld" of cell 1
    double factor;    // expected value per mm of "SB_2_grid" of cell 1
  };
  const resize_case cases[] = {
      {"glacier shrank from 0.75 to 0.25: water given back", 0.75, 0.5},
      {"glacier grew from 0 to 0.25: water immobilised", 0.0, -0.25},
      {"no old value (negative): nothing", -9999, 0.0},
  };
  for (const resize_case& k : cases) {
    SCOPED_TRACE(k.what);
    step_run s({.glaciers = 2});
    ASSERT_EQ(s.run.status, 0) << s.run.f.console();
    ASSERT_NE(s.m().get_statistic(us::immobilised), nullptr);
    grid_matrix old = s.run.f.grids.matrix(1, 1, 0, 3, 1);
    old[1][1] = k.old1;
    old[1][2] = 0;
    old[1][3] = 1;
    s.run.f.store[s.run.entry_of("GlacierizedCellsOld")].grid = &old;
    const zone_record added = s.added_by_substep(us::immobilised);
    const double sb2 = s.run.grid("SB_2_grid")[1][1];
    ASSERT_GT(sb2, 0);
    EXPECT_NEAR(added.sum, k.factor * sb2, 1e-9 * sb2);
    EXPECT_NEAR(added.count, 2, 1e-12);  // both cells with their full weight
  }
}

// Cell 1 irrigated from groundwater with 0.6 mm in the step, cell 2 without
// an irrigation code: the base-flow record of the subbasin gets cell 1's base
// flow less the pumped water, for 1 and 3 sub-steps per step; the irrigation
// module's amount stays in its grid through the column step.
TEST(UnsatzonAccumulation, BaseFlowOfACellIrrigatedFromGroundwaterGivesUpThePumpedWater) {
  for (int substeps : {1, 3}) {
    for (int origin : {1, 2}) {
      SCOPED_TRACE("sub-steps " + std::to_string(substeps) + ", origin " + std::to_string(origin));
      step_run s({.irrigation = true, .substeps = substeps});
      ASSERT_EQ(s.run.status, 0) << s.run.f.console();
      s.run.irrigation[1].origin = origin;
      (*s.run.f.store[4 + 19].grid)[1][2] = NODATA;  // "irrigation_codes" of cell 2
      grid_matrix& amounts = s.run.grid("irrigation_amounts");
      amounts[1][1] = 0.6;  // [mm per step] as the irrigation module left it
      const zone_record added = s.added_by_substep(us::qb);
      EXPECT_EQ(amounts[1][1], 0.6);
      const double S = substeps;
      const double b1 = s.run.grid("baseflow")[1][1], b2 = s.run.grid("baseflow")[1][2];
      ASSERT_GT(b1, 0);
      const double pumped = origin == 1 ? 0.6 / S : 0.0;  // [mm per call]
      EXPECT_NEAR(added.sum, S * (b1 - pumped) + S * b2, 1e-12);
      EXPECT_NEAR(added.count, 2, 1e-12);
    }
  }
}

}  // namespace

namespace {

// With the groundwater model the subbasin's base flow is what the cells
// give to the rivers: cell 1 lies on a river whose bed lies below its table,
// cell 2 has none. The base-flow record and the exfiltration statistic get
// S x "river_exfiltration", not the cells' "baseflow" (that of the
// groundwater model), for 1 and 3 sub-steps.
TEST(UnsatzonAccumulation, WithTheGroundwaterModelBaseFlowIsTheExfiltration) {
  for (int substeps : {1, 3}) {
    SCOPED_TRACE("sub-steps " + std::to_string(substeps));
    std::vector<grid_matrix> river;  // the groundwater and routing modules' grids
    auto prepare = [&river](step_run& s) {
      s.m().set_groundwater_flag(1);
      river.reserve(6);
      const char* names[] = {"river_depth", "river_width", "river_links",
                             "kolmation",   "aquifer_thickness_1", "gw_storage_coeff_1"};
      const double cell1[] = {1.75, 5, 1, 1e-4, 10, 0.2};  // bed 1.75 m deep
      for (size_t i = 0; i < std::size(names); ++i) {
        river.push_back(s.run.f.grids.matrix(1, 1, 0, 3, 1));
        river.back()[1][1] = cell1[i];
        river.back()[1][2] = i == 0 ? 0 : cell1[i];  // no river bed in cell 2
        s.run.publish_next(names[i], &river.back());
      }
    };
    step_run s({.substeps = substeps, .surface_interaction = "1"}, prepare);
    ASSERT_EQ(s.run.status, 0) << s.run.f.console();
    ASSERT_NE(s.m().get_statistic(us::gwex), nullptr);
    grid_matrix& base = s.run.grid("baseflow");
    base[1][1] = base[1][2] = 1e-10;  // the groundwater model's base flow [m s-1]: not the record's
    s.m().begin_step(DATE);
    const zone_record qb0 = s.m().get_statistic_zones(us::qb)[1];
    const zone_record gwex0 = s.m().get_statistic_zones(us::gwex)[1];
    s.m().run_substep(DATE, 1);
    const zone_record& qb = s.m().get_statistic_zones(us::qb)[1];
    const zone_record& gwex = s.m().get_statistic_zones(us::gwex)[1];
    const grid_matrix& out = s.run.grid("river_exfiltration");
    const double S = substeps;
    EXPECT_GT(out[1][1], 0);
    EXPECT_EQ(out[1][2], 0);
    EXPECT_NEAR(qb.sum - qb0.sum, S * out[1][1], 1e-12);
    EXPECT_NEAR(qb.count - qb0.count, 2, 1e-12);
    EXPECT_NEAR(gwex.sum - gwex0.sum, S * out[1][1], 1e-12);
  }
}

}  // namespace
