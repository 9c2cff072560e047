// Snow evaporation and real evapotranspiration. Oracles are hand
// calculations: the snow takes min(S, demand) of each layer in order, then
// of the soil evaporation; the glacierized share sublimates from copies of
// the cell's demand; the total of a step is the sum of its parts.
#include <gtest/gtest.h>

#include <vector>

#include "etpetr_fixture.h"
#include "vertical/etr_kernels.h"

namespace {

TEST(SnowEvaporationKernel, SnowTakesTheDemandInLayerOrder) {
  struct row {
    const char* what;
    double snow;
    std::vector<double> demand;
    std::vector<char> present;
    double soil;
    double evaporated, snow_after, soil_after;
    std::vector<double> demand_after;
  } rows[] = {
      {"enough snow: all demand spent", 3, {2}, {1}, 0.5, 2.5, 0.5, 0, {0}},
      {"snow runs out in layer 1", 1.5, {2}, {1}, 0.5, 1.5, 0, 0.5, {0.5}},
      {"two layers, second partly", 2.5, {2, 1}, {1, 1}, 0.5, 2.5, 0, 0.5, {0, 0.5}},
      {"a layer without land use gives nothing", 3, {2, 1}, {0, 1}, 0.5, 1.5, 1.5, 0, {2, 0}},
      {"no snow", 0, {2}, {1}, 0.5, 0, 0, 0.5, {2}},
  };
  for (const row& r : rows) {
    double snow = r.snow, soil = r.soil;
    std::vector<double> demand = r.demand;
    double demand_before = r.soil;
    for (double d : r.demand) demand_before += d;
    const double es = sublimate_snow(snow, demand, r.present, soil);
    EXPECT_DOUBLE_EQ(es, r.evaporated) << r.what;
    EXPECT_DOUBLE_EQ(snow, r.snow_after) << r.what;
    EXPECT_DOUBLE_EQ(soil, r.soil_after) << r.what;
    for (size_t k = 0; k < demand.size(); ++k)
      EXPECT_DOUBLE_EQ(demand[k], r.demand_after[k]) << r.what << " layer " << k + 1;
    // Snow evaporation plus the demand left equals the demand before; the
    // snow lost what evaporated.
    double demand_after = soil;
    for (double d : demand) demand_after += d;
    EXPECT_NEAR(demand_after + es, demand_before, 1e-12) << r.what;
    EXPECT_NEAR(r.snow - snow, es, 1e-12) << r.what;
  }
}

TEST(SnowEvaporationKernel, GlacierWeightsAndTotal) {
  struct row {
    bool grid;
    double value, glacier, rest;
  } rows[] = {{true, 0.25, 0.25, 0.75}, {true, 1.7, 1, 0},  {true, -9999, 0, 1},
              {false, 0.5, 0, 1},       {true, 0, 0, 1},     {true, 1, 1, 0}};
  for (const row& r : rows) {
    const glacier_weights w = glacier_weights_of(r.grid, r.value);
    EXPECT_EQ(w.glacier, r.glacier) << r.value;
    EXPECT_EQ(w.rest, r.rest) << r.value;
  }
  const std::vector<double> layers = {0.7, 0.1};
  // With interception: 0.3 + 1.5 + 0.2 + 0.7 + 0.1.
  EXPECT_DOUBLE_EQ(total_real_evapotranspiration(true, 9, 0.3, 1.5, 0.2, layers), 2.8);
  // Without: the value held plus the snow evaporation only.
  EXPECT_DOUBLE_EQ(total_real_evapotranspiration(false, 0.4, 0.3, 1.5, 0.2, layers), 1.9);
}

// Three cells: S 3 and S 1.5 without glacier, and a cell of glacier share
// 0.25 with S 1 and 4 mm of snow on the glacier; ETP_1 2, Ep 0.5 everywhere.
struct snow_cells {
  etp_fixture f{{{"temperature", 20}, {"[elevation_model]", 0}, {"landuse1", 1}}};
  std::unique_ptr<verdunstungsmodellklasse> m;
  snow_cells(bool glacier) {
    f.add("snowstorage_solid", 0);
    if (glacier) {
      f.add("GlacierizedCells", 0)[1][3] = 0.25;
      f.add("TotalSnowStorage_onGlacier", 0);
      f.add("SolidSnowStorage_onGlacier", 0)[1][3] = 4;
      f.add("SnowEvaporation_onGlacier", 0);
    }
    etp_section s;
    s.method = 2;
    int status = -1;
    m = f.build(s, status);
    EXPECT_EQ(status, 0) << f.cd.console();
    m->set_solid_snow_storage(&f.named("snowstorage_solid"));
    const double snow[] = {3, 1.5, 1};
    for (int c = 1; c <= 3; ++c) {
      f.named("snowstorage_solid")[1][c] = snow[c - 1];
      f.named("pot_transpiration1")[1][c] = 2;
      f.named("potential_evaporation")[1][c] = 0.5;
    }
  }
};

TEST(SnowEvaporationModule, SublimationOfCellAndGlacierShare) {
  snow_cells s(true);
  s.m->compute_snow_evaporation(24, 15, 1, 2020);
  etp_fixture& f = s.f;
  struct expect {
    double es, snow, etp, ep;
  } e[] = {{2.5, 0.5, 0, 0}, {1.5, 0, 0.5, 0.5}, {1, 0, 1, 0.5}};
  for (int c = 1; c <= 3; ++c) {
    EXPECT_DOUBLE_EQ(f.named("snow_evaporation")[1][c], e[c - 1].es) << c;
    EXPECT_DOUBLE_EQ(f.named("snowstorage_solid")[1][c], e[c - 1].snow) << c;
    EXPECT_DOUBLE_EQ(f.named("pot_transpiration1")[1][c], e[c - 1].etp) << c;
    EXPECT_DOUBLE_EQ(f.named("potential_evaporation")[1][c], e[c - 1].ep) << c;
  }
  // The glacier share spends copies of the demand before the cell's own
  // part lowered it: min(4, 2) + min(2, 0.5).
  EXPECT_DOUBLE_EQ(f.named("SnowEvaporation_onGlacier")[1][3], 2.5);
  EXPECT_DOUBLE_EQ(f.named("SolidSnowStorage_onGlacier")[1][3], 1.5);
  EXPECT_DOUBLE_EQ(f.named("SnowEvaporation_onGlacier")[1][1], 0);
  EXPECT_FALSE(f.logged("not built yet"));
}

TEST(SnowEvaporationModule, EnergyBalanceSnowMethodsSwitchTheDemandOff) {
  for (int method : {5, 6, 7, 11}) {
    snow_cells s(false);
    s.m->set_snow_method(method);
    s.f.named("snowstorage_solid")[1][2] = 0;
    s.m->compute_snow_evaporation(24, 15, 1, 2020);
    etp_fixture& f = s.f;
    for (int c = 1; c <= 3; ++c) {
      const bool snow = c != 2;
      EXPECT_EQ(f.named("pot_transpiration1")[1][c], snow ? 0 : 2) << method << " " << c;
      EXPECT_EQ(f.named("potential_evaporation")[1][c], snow ? 0 : 0.5) << method << " " << c;
      EXPECT_EQ(f.named("snow_evaporation")[1][c], 0) << method;
    }
    EXPECT_EQ(f.named("snowstorage_solid")[1][1], 3) << method;
  }
}

TEST(RealEvapotranspiration, TotalOfTheStepWithAndWithoutInterception) {
  snow_cells s(false);
  etp_fixture& f = s.f;
  s.m->compute_snow_evaporation(24, 15, 1, 2020);
  model_date step{2020, 1, 15, 24};
  for (int c = 1; c <= 3; ++c) {
    f.named("real_transpiration1")[1][c] = 0.7;
    f.named("real_evaporation")[1][c] = 0.2;
    f.named("real_transpiration0")[1][c] = 0.1;
  }
  s.m->begin_step(step);
  s.m->run_substep(step, 1);
  s.m->end_step(step);
  // No interception: ETR_0 = held 0.1 + Es.
  const double es[] = {2.5, 1.5, 1};
  for (int c = 1; c <= 3; ++c)
    EXPECT_DOUBLE_EQ(f.named("real_transpiration0")[1][c], 0.1 + es[c - 1]) << c;

  f.add("interception_evaporation0", 0.3);
  s.m->begin_step(step);
  s.m->end_step(step);
  // Linked at the next begin_step: every part of the step counted once.
  for (int c = 1; c <= 3; ++c)
    EXPECT_DOUBLE_EQ(f.named("real_transpiration0")[1][c], 0.3 + es[c - 1] + 0.2 + 0.7) << c;
}

}  // namespace
