// The temperature pre-SpinUp: degree-days, TTOP (Smith & Riseborough 2002)
// and the soil-temperature profile by hand, then the module's pass over a
// row of two own cells: its working grids, the profiles it sets, the files it
// writes and its fatal paths.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "soilwater/prespinup_kernels.h"
#include "soilwater/unsatzon_setup_fixture.h"
#include "tables/landuse.h"

namespace {

using unsatzon_setup::setup_run;

TEST(PreSpinupKernels, DegreeDaysOfADay) {
  // Daily sums over 24 steps: the mean decides; a mean of exactly 0 is a
  // thawing day that adds 0.
  struct row {
    double daily_sum, freezing, thawing;
  } rows[] = {{-48, 2, 0}, {24, 0, 1}, {0, 0, 0}, {-0.0, 0, 0}};
  for (const row& r : rows) {
    double daily = r.daily_sum, freezing = 0, thawing = 0;
    close_degree_day(daily, 24, freezing, thawing);
    EXPECT_EQ(freezing, r.freezing) << r.daily_sum;
    EXPECT_EQ(thawing, r.thawing) << r.daily_sum;
    EXPECT_EQ(daily, 0);
  }
  EXPECT_EQ(n_factor_or(-10000, 0.7), 0.7);  // below -9999: not given
  EXPECT_EQ(n_factor_or(-9999, 0.7), -9999);
  EXPECT_EQ(n_factor_or(0.5, 0.7), 0.5);
}

TEST(PreSpinupKernels, ConductivityTtopAndLayers) {
  // Saturated: D = 1, the geometric mean 4^0.5 * 1^0.5 = 2. Dry: (1 - 0.4)
  // * 2 + 0.0262 * 0.4 = 1.21048. Between: 0.85 * 0.5^(0.6/0.85) *
  // 0.5562^(0.25/0.85) + 0.0262 * 0.15 = 0.4424558 (by calculator).
  EXPECT_NEAR(pre_spinup_conductivity(0.5, 0.5, 4, 1), 2, 1e-14);
  EXPECT_NEAR(pre_spinup_conductivity(0.4, 0, 2, 2.33), 1.21048, 1e-14);
  EXPECT_NEAR(pre_spinup_conductivity(0.4, 0.25, 0.5, 0.5562), 0.4424558, 1e-7);

  // TTOP = (r_k n_t TDD - n_f FDD) / P with r_k = k_t / k_f (Smith &
  // Riseborough 2002): r_k 0.8, n_t 0.9, n_f 0.6, TDD 1000, FDD 2000, one
  // year: (720 - 1200) / 365 = -1.3150685.
  PreSpinupClimate c;
  c.thawing_degree_days = 1000;
  c.freezing_degree_days = 2000;
  c.n_thawing = 0.9;
  c.n_freezing = 0.6;
  c.years = 1;
  EXPECT_NEAR(ttop_temperature(c, 1.6, 2.0), -480.0 / 365.0, 1e-12);

  // k: where the column reaches 1 m (L when it does not); m = k div 3, at
  // least 1.
  struct row {
    std::vector<double> d;  // [m] layers 1..L (element 0 unused)
    int k, m;
  } rows[] = {{{0, 0.05, 0.15, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2}, 6, 2},
              {{0, 0.3, 0.3, 0.3}, 3, 1},  // under 1 m
              {{0, 1.5}, 1, 1},
              {{0, 0.5, 0.5, 0.4, 0.4}, 2, 1},
              {std::vector<double>(21, 0.0625), 16, 5}};  // 20 layers of 1/16 m
  for (const row& r : rows) {
    const int k = ttop_layer(static_cast<int>(r.d.size()) - 1, r.d.data());
    EXPECT_EQ(k, r.k) << r.d.size();
    EXPECT_EQ(ttop_conductivity_layer(k), r.m) << r.d.size();
  }
}

// Saturated layers (theta = theta_sat = 0.5, dry conductivity 4) conduct
// 2 sqrt(lambda_x): 2 with water of 1, 4 with ice of 4.
struct hand_column {
  std::vector<double> d, theta_sat, dry, theta, z;
  explicit hand_column(const std::vector<double>& thickness, double surface = 100) : d(thickness) {
    const size_t n = d.size();
    theta_sat.assign(n, 0.5);
    dry.assign(n, 4);
    theta.assign(n, 0.5);
    z.assign(n, surface);
    for (size_t l = 1; l < n; ++l) z[l] = z[l - 1] - d[l];
  }
  PreSpinupColumn view() const {
    return {static_cast<int>(d.size()) - 1,
            d.data(),
            theta_sat.data(),
            dry.data(),
            theta.data(),
            z.data()};
  }
};

TEST(PreSpinupKernels, ProfilesByHand) {
  const PorewaterConductivity lambda{1, 4};
  PreSpinupClimate c;
  c.freezing_degree_days = 730;
  c.thawing_degree_days = 365;
  c.years = 1;
  c.mean_air_temperature = 3;
  // TTOP = (2 * 365 - 4 * 730) / (4 * 365) = -1.5.
  {
    // A column under 1 m: k = L = 3, m = 1; the layers above lie on the line
    // from (99.1 m, -1.5) to (100 m, 3).
    const hand_column col({0, 0.3, 0.3, 0.3});
    std::vector<double> t(4, 99);
    EXPECT_NEAR(pre_spinup_profile(col.view(), c, lambda, t.data()), -1.5, 1e-12);
    const double expected[] = {3, 1.5, 0, -1.5};
    for (int l = 0; l <= 3; ++l) EXPECT_NEAR(t[l], expected[l], 1e-9) << l;
  }
  {
    // k = 2; below it q d / lambda with ice while the layer above is at or
    // below 0 and water once it is warmer: q = 10 W m-2, d = 0.4 m:
    // -1.5 + 4/4 = -0.5, -0.5 + 4/4 = 0.5, 0.5 + 4/2 = 2.5.
    const hand_column col({0, 0.5, 0.5, 0.4, 0.4, 0.4});
    c.heat_flux = 10;
    std::vector<double> t(6, 99);
    pre_spinup_profile(col.view(), c, lambda, t.data());
    const double expected[] = {3, 0.75, -1.5, -0.5, 0.5, 2.5};
    for (int l = 0; l <= 5; ++l) EXPECT_NEAR(t[l], expected[l], 1e-9) << l;
  }
  {
    // No degree-days: TTOP 0, so t_1 = T_a, deeper layers by the default
    // flux 0.06 through unfrozen soil (0.06 * 0.5 / 2 = 0.015, then 0.012
    // per 0.4 m), t_0 untouched.
    c.freezing_degree_days = c.thawing_degree_days = 0;
    c.heat_flux = DEFAULT_LOWER_HEAT_FLUX;
    const hand_column col({0, 0.5, 0.5, 0.4, 0.4, 0.4});
    std::vector<double> t(6, 42);
    EXPECT_EQ(pre_spinup_profile(col.view(), c, lambda, t.data()), 0);
    const double expected[] = {42, 3, 3.015, 3.027, 3.039, 3.051};
    for (int l = 0; l <= 5; ++l) EXPECT_NEAR(t[l], expected[l], 1e-12) << l;
  }
}

// The module over the fixture's row: cells 1 and 2 own, cell 3 outside; ten
// layers (0.05, 0.15, 8 x 0.2 m), surface 1000 m, 60-minute steps.
struct prespinup_run {
  setup_run run;
  std::vector<landuse_entry> landuses;
  explicit prespinup_run(bool heat = true) : run({.heat = heat}) {
    if (run.status != 0) return;
    run.module->set_soil_table(&run.f.soils);
    if (!heat) return;
    // Saturated soil of theta_sat 0.5 and dry conductivity 4: 2 sqrt(lambda_x).
    soil_entry& soil = run.f.soils[1];
    for (int l = 1; l <= unsatzon_setup::L; ++l) {
      soil.theta_sat[static_cast<size_t>(l)] = 0.5;
      soil.DryThermalConduct[static_cast<size_t>(l)] = 4;
    }
    stack_matrix& theta = run.stack("theta");
    for (int c = 1; c <= 2; ++c)
      for (int l = 1; l <= unsatzon_setup::L; ++l) theta[1][c][l] = 0.5;
    // Class 1 has n_f 0.5, class 2 no n-factors (the section's 1 and 1).
    landuses.resize(3);
    landuses[1].nf_freezing = 0.5;
    landuses[1].nf_thawing = 0.8;
    landuses[2].nf_freezing = landuses[2].nf_thawing = -10000;
    run.f.settings.landuse_table = &landuses;
    grid_matrix& classes = run.grid("landuse1");
    classes[1][1] = 1;
    classes[1][2] = 2;
  }
  // Steps hours first..last of one day with the air temperatures of cells 1
  // and 2.
  void day(int first, int last, double cell1, double cell2) {
    grid_matrix& air = run.grid("temperature");
    for (int h = first; h <= last; ++h) {
      air[1][1] = cell1;
      air[1][2] = cell2;
      air[1][3] = 1000;  // outside the zone grid: never counted
      run.module->pre_spinup_step(h, 1, 1, 2000);
    }
  }
  double read_cell(const std::string& file, int col) {
    captured_diag quiet;
    grid_store scratch;
    grid_object reader(*quiet.diag, scratch, 3, 1);
    grid_matrix g;
    reader.read_grid(run.f.cd.dir.file(file), g, 0, true, false, 0, false, true, true, false);
    return g[1][col];
  }
};

TEST(UnsatzonPreSpinup, PassSetsProfilesFromTtopAndWritesItsGrids) {
  prespinup_run p;
  ASSERT_EQ(p.run.status, 0) << p.run.f.console();
  // Day 1: cell 1 at -10, cell 2 at 2 degC. Day 2: cell 1 at -2; cell 2 at
  // -2 then 2, a mean of exactly 0 that thaws and adds 0.
  p.day(1, 24, -10, 2);
  const int freezing_entry = p.run.entry_of("FreezingDegreeDays");
  ASSERT_GT(freezing_entry, 0);
  EXPECT_EQ(p.run.entry_of("thawingDegreeDays"), freezing_entry + 1);
  EXPECT_EQ(p.run.entry_of("DailyTemperature"), freezing_entry + 2);
  EXPECT_EQ(p.run.entry_of("AnnualTemperature"), freezing_entry + 3);
  EXPECT_EQ(p.run.grid("FreezingDegreeDays")[1][1], 10);
  EXPECT_EQ(p.run.grid("thawingDegreeDays")[1][2], 2);
  EXPECT_EQ(p.run.grid("DailyTemperature")[1][1], 0);
  EXPECT_EQ(p.run.grid("AnnualTemperature")[1][3], 0);  // outside: untouched
  p.day(1, 12, -2, -2);
  EXPECT_EQ(p.run.grid("DailyTemperature")[1][2], -24);
  p.day(13, 24, -2, 2);
  EXPECT_EQ(p.run.grid("thawingDegreeDays")[1][2], 2);
  EXPECT_EQ(p.run.grid("FreezingDegreeDays")[1][2], 0);

  stack_matrix& t = p.run.stack("Soil_Temperature_Stack");
  const double t0_cell2 = t[1][2][0];
  p.run.module->finish_pre_spinup();

  // Cell 1: FDD 12, TDD 0, T_a -6, 48 h = 2 days; TTOP = -n_f FDD / 2 =
  // -0.5 * 12 / 2 = -3 at layer k = 6 (999 m); above it the line to
  // (1000 m, -6); below it + 0.06 * 0.2 / (2 sqrt(2.33)) per layer.
  const double above[] = {-6, -5.85, -5.4, -4.8, -4.2, -3.6, -3};
  for (int l = 0; l <= 6; ++l) EXPECT_NEAR(t[1][1][l], above[l], 1e-9) << l;
  const double ice_step = 0.06 * 0.2 / (2 * std::sqrt(2.33));
  for (int l = 7; l <= 10; ++l) EXPECT_NEAR(t[1][1][l], -3 + (l - 6) * ice_step, 1e-12) << l;
  // Cell 2: TDD 2, FDD 0: TTOP >= 0, so t_1 = T_a = 1 and the flux through
  // water-filled soil, 0.06 d / (2 sqrt(0.5562)); element 0 keeps its value.
  EXPECT_EQ(t[1][2][0], t0_cell2);
  EXPECT_NEAR(t[1][2][1], 1, 1e-12);
  const double water = 2 * std::sqrt(0.5562);
  EXPECT_NEAR(t[1][2][2], 1 + 0.06 * 0.15 / water, 1e-12);
  EXPECT_NEAR(t[1][2][10], 1 + 0.06 * 1.75 / water, 1e-12);

  // Written under their names; the working grids and entries are gone.
  EXPECT_EQ(p.read_cell("FreezingDegreeDays", 1), 12);
  EXPECT_EQ(p.read_cell("thawingDegreeDays", 2), 2);
  EXPECT_NEAR(p.read_cell("AnnualTemperature", 1), -6, 1e-6);
  EXPECT_NEAR(p.read_cell("AnnualTemperature", 2), 1, 1e-6);
  EXPECT_TRUE(std::filesystem::exists(p.run.f.cd.dir.file("Soil_Temperature_Stack")));
  EXPECT_FALSE(std::filesystem::exists(p.run.f.cd.dir.file("DailyTemperature")));
  for (const char* n :
       {"FreezingDegreeDays", "thawingDegreeDays", "DailyTemperature", "AnnualTemperature"})
    EXPECT_EQ(p.run.entry_of(n), 0) << n;

  // The first step keeps the profile: the linear start profile is off.
  int status = -1;
  p.run.module->init_tracers(status, 0, nullptr, nullptr, 0);
  ASSERT_EQ(status, 0);
  p.run.module->begin_step({2000, 1, 1, 1});
  EXPECT_NEAR(t[1][1][6], -3, 1e-9);
  EXPECT_NEAR(t[1][2][1], 1, 1e-12);
}

TEST(UnsatzonPreSpinup, NoEndOfDayLeavesTtopZero) {
  // Hours 1 to 23 only: hour + 0 never reaches 24, both sums stay 0, TTOP 0:
  // t_1 = T_a = -5 even though the air was below 0 all the time.
  prespinup_run p;
  ASSERT_EQ(p.run.status, 0) << p.run.f.console();
  p.day(1, 23, -5, -5);
  EXPECT_EQ(p.run.grid("FreezingDegreeDays")[1][1], 0);
  p.run.module->finish_pre_spinup();
  stack_matrix& t = p.run.stack("Soil_Temperature_Stack");
  EXPECT_NEAR(t[1][1][1], -5, 1e-12);
  EXPECT_NEAR(t[1][1][2], -5 + 0.06 * 0.15 / (2 * std::sqrt(0.5562)), 1e-12);
}

TEST(UnsatzonPreSpinup, FreezingGridAlreadyInTheStoreIsTakenAndTheOthersCreated) {
  prespinup_run p;
  ASSERT_EQ(p.run.status, 0) << p.run.f.console();
  grid_matrix other = p.run.f.grids.matrix(1, 1, 0, 3, 1);
  other[1][1] = 7;  // a starting sum of 7 degree-days
  p.run.publish_next("FreezingDegreeDays", &other);
  const int other_entry = p.run.entry_of("FreezingDegreeDays");
  p.day(1, 24, -1, 1);
  EXPECT_EQ(other[1][1], 8);
  // The three others in the next free entries.
  EXPECT_EQ(p.run.entry_of("thawingDegreeDays"), other_entry + 1);
  EXPECT_EQ(p.run.entry_of("DailyTemperature"), other_entry + 2);
  EXPECT_EQ(p.run.entry_of("AnnualTemperature"), other_entry + 3);
  EXPECT_EQ(p.run.grid("thawingDegreeDays")[1][2], 1);
  p.run.module->finish_pre_spinup();
  // The taken grid and its entry stay with their owner; the module's own
  // three are freed.
  EXPECT_EQ(p.run.entry_of("FreezingDegreeDays"), other_entry);
  EXPECT_EQ(p.run.entry_of("AnnualTemperature"), 0);
  EXPECT_EQ(p.read_cell("FreezingDegreeDays", 1), 8);
}

TEST(UnsatzonPreSpinup, WorkingGridsSkipEntriesOfOtherModules) {
  // An entry freed between taken ones: the grids fill it and then the next
  // free entries, never an entry another module holds.
  prespinup_run p;
  ASSERT_EQ(p.run.status, 0) << p.run.f.console();
  int free_entry = 1;
  while (p.run.f.store[free_entry].grid_name.has_value()) ++free_entry;
  grid_matrix a = p.run.f.grids.matrix(1, 1, 0, 3, 1), b = p.run.f.grids.matrix(1, 1, 0, 3, 1);
  p.run.f.publish(free_entry + 1, "first_of_another_module", &a);
  p.run.f.publish(free_entry + 2, "second_of_another_module", &b);
  p.day(1, 1, 0, 0);
  EXPECT_EQ(p.run.entry_of("FreezingDegreeDays"), free_entry);
  EXPECT_EQ(p.run.entry_of("first_of_another_module"), free_entry + 1);
  EXPECT_EQ(p.run.entry_of("second_of_another_module"), free_entry + 2);
  EXPECT_EQ(p.run.entry_of("thawingDegreeDays"), free_entry + 3);
  EXPECT_EQ(p.run.entry_of("AnnualTemperature"), free_entry + 5);
}

TEST(UnsatzonPreSpinup, FatalPaths) {
  {
    // Heat transfer off: code 1040 at the first record.
    prespinup_run p(false);
    ASSERT_EQ(p.run.status, 0) << p.run.f.console();
    EXPECT_EQ(thrown_code([&] { p.run.module->pre_spinup_step(24, 1, 1, 2000); }), 1040);
    EXPECT_NE(p.run.f.console().find("heat transfer model not active in unsatzon_model. "
                                     "This is required for pre-SpinUp!"),
              std::string::npos)
        << p.run.f.console();
  }
  {
    // A pass without a record has no mean to set temperatures from.
    prespinup_run p;
    ASSERT_EQ(p.run.status, 0) << p.run.f.console();
    EXPECT_EQ(thrown_code([&] { p.run.module->finish_pre_spinup(); }), 1040);
    EXPECT_NE(p.run.f.console().find("pre-SpinUp ended without any record of air "
                                     "temperature"),
              std::string::npos)
        << p.run.f.console();
  }
  {
    // No free entry before 1000: code 12.
    prespinup_run p;
    ASSERT_EQ(p.run.status, 0) << p.run.f.console();
    grid_matrix filler = p.run.f.grids.matrix(1, 1, 0, 3, 1);
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (!p.run.f.store[i].grid_name.has_value())
        p.run.f.publish(i, "filler" + std::to_string(i), &filler);
    EXPECT_EQ(thrown_code([&] { p.run.module->pre_spinup_step(1, 1, 1, 2000); }), 12);
    EXPECT_NE(p.run.f.console().find("no more free grids in memory, (max. 1000)!"),
              std::string::npos)
        << p.run.f.console();
  }
}

}  // namespace
