// Column services of the unsaturated zone outside its step, against hand
// calculations: the routing's flow conversions, the decay factor of a
// sub-step, travel-time zones of flow times, the water irrigation may pump,
// a groundwater table set from outside (its "Balance" always the change of
// the water held, 1000 x sum of dtheta x d), first concentrations and base
// flow. The soil: four layers of 0.25 m, theta_sat 0.4, 0.4, 0.35, 0.3.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "soilwater/unsatzon_column_services.h"
#include "submodel/runoffrecords.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

namespace {

soil_entry four_layers() {
  captured_diag cap;
  soil_entry e;
  parse_soil_line(*cap.diag, e, "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 4 0.25 1000 1", 2);
  e.thickness = {0, 0.25, 0.25, 0.25, 0.25};
  e.theta_sat = {0, 0.4, 0.4, 0.35, 0.3};
  return e;
}

double field_capacity(const soil_entry& soil, int l) {
  return soil.theta_from_suction(l, FIELD_CAPACITY_SUCTION);
}

TEST(RunoffRecords, FlowConversionsRoundTrip) {
  // 0.06 x 16.6666667 = 1.000000002: the pair returns within 1e-8.
  struct row {
    double q, area, minutes;
  } rows[] = {{1, 1, 60}, {12.5, 340, 1440}, {0.003, 0.25, 5}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.q);
    const double mm = m3s_to_mm(r.q, r.area, r.minutes);
    EXPECT_NEAR(mm, r.q * 0.06 * r.minutes / r.area, 1e-15 * mm);
    EXPECT_NEAR(mm_to_m3s(mm, r.area, r.minutes), r.q, 1e-8 * r.q);
  }
  // 1 m3/s over 1 km2 for an hour: 3600 m3 over 1e6 m2 = 3.6 mm.
  EXPECT_NEAR(m3s_to_mm(1, 1, 60), 3.6, 1e-12);
  const subbasin_flow_arrays a = make_flow_arrays(2, 3);
  ASSERT_EQ(a.size(), 3U);
  for (const auto& v : a) EXPECT_EQ(v, std::vector<double>(4, 0.0));
}

TEST(RunoffRecords, FlowTimesInSteps) {
  struct row {
    double seconds;
    int zone;
  } rows[] = {
      {3600, 1},      // 60 x 60-minute step: zone 1
      {3600.01, 2},   // a little more: zone 2
      {7200, 2},   {10000, 3},
      {0, 1},         // zone 0 would never reach the outlet
      {-100, 1},      // -> 0
      {-3600, 1},     // -> -1, outside the queue
      {-9999, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.seconds);
    EXPECT_EQ(flow_time_zone(flow_time_in_steps(r.seconds, 60)), r.zone);
  }
  EXPECT_EQ(flow_time_in_steps(-3600, 60), -1);
  EXPECT_EQ(flow_time_zone(2.7), 2);
}

TEST(UnsatzonColumnServices, DecayFactorHalvesOverTheHalfLife) {
  struct row {
    double minutes;
    int substeps;
    double half_time;  // [d]
  } rows[] = {{60, 1, 1}, {60, 4, 2.5}, {1440, 24, 30}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.half_time);
    const double f = substep_decay_factor(r.minutes, r.substeps, r.half_time);
    // Sub-steps in a half-life; 1.442695041111 is not exactly 1 / ln 2.
    const double n = r.half_time * 1440 / (r.minutes / r.substeps);
    EXPECT_NEAR(std::pow(f, n), 0.5, 1e-10);
  }
  // A half-time of 0 or less would make tracer (factor above 1).
  for (double h : {0.0, -1.0, -9999.0}) EXPECT_EQ(substep_decay_factor(60, 1, h), 0) << h;
}

TEST(UnsatzonColumnServices, GroundwaterLayerOfAService) {
  struct row {
    double level;
    int layer;
  } rows[] = {{1, 1}, {3, 3}, {3.7, 3}, {0, 4}, {-9999, 4}};
  for (const row& r : rows) EXPECT_EQ(service_groundwater_layer(r.level, 4), r.layer) << r.level;
}

TEST(UnsatzonColumnServices, MaxPumpingStopsAboveTheLowestLayer) {
  const soil_entry soil = four_layers();
  auto drain = [&](int l) {
    return (soil.theta_sat[static_cast<size_t>(l)] - field_capacity(soil, l)) * 250;  // [mm]
  };
  struct row {
    int layer;
    double mm;
  } rows[] = {{1, drain(1) + drain(2) + drain(3)}, {3, drain(3)}, {4, 0}, {5, 0}};
  for (const row& r : rows) EXPECT_NEAR(max_pumping(soil, 4, r.layer), r.mm, 1e-12) << r.layer;
  EXPECT_GT(drain(3), 0);
}

TEST(UnsatzonColumnServices, ExternalTableBalanceIsTheChangeOfWater) {
  const soil_entry soil = four_layers();
  const std::vector<double> z = {10, 9.75, 9.5, 9.25, 9.0};
  struct row {
    const char* name;
    std::vector<double> theta;
    int layer;         // old groundwater layer
    double old_table;  // [m]
    double table;      // [m] delivered
    int level;         // new layer
    double used;       // [m] table used
  } rows[] = {
      {"equal", {0.4, 0.2, 0.3, 0.35, 0.3}, 3, 9.4, 9.4, 3, 9.4},
      {"falling inside the layer", {0.4, 0.2, 0.3, 0.35, 0.3}, 3, 9.45, 9.3, 3, 9.3},
      {"falling into layer 4", {0.4, 0.2, 0.3, 0.35, 0.3}, 2, 9.7, 9.1, 4, 9.1},
      // Below z_L: the table is z_L, layers 2..4 drained, layer 4 over its
      // whole height.
      {"below the column", {0.4, 0.2, 0.4, 0.35, 0.3}, 2, 9.6, 8.0, 4, 9.0},
      {"rising inside the layer", {0.4, 0.2, 0.25, 0.3, 0.3}, 3, 9.3, 9.4, 3, 9.4},
      // From layer 4 into layer 2: layers 4 and 3 saturated, layer 2 below
      // the table filled.
      {"rising into layer 2", {0.4, 0.2, 0.25, 0.3, 0.2}, 4, 9.1, 9.6, 2, 9.6},
      // Above the surface: layer 1 is capped at saturation.
      {"rising above a nearly full layer 1", {0.4, 0.39, 0.25, 0.3, 0.2}, 3, 9.4, 10.2, 1, 10.2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<double> theta = r.theta;
    const external_table_change ch =
        apply_external_table(soil, 4, z.data(), theta.data(), r.layer, r.old_table, r.table);
    double water = 0;
    for (int l = 1; l <= 4; ++l)
      water += (theta[static_cast<size_t>(l)] - r.theta[static_cast<size_t>(l)]) * 0.25;
    EXPECT_NEAR(ch.balance, 1000 * water, 1e-9);
    EXPECT_EQ(ch.level, r.level);
    EXPECT_DOUBLE_EQ(ch.table, r.used);
    for (int l = 1; l <= 4; ++l) {
      EXPECT_LE(theta[static_cast<size_t>(l)], soil.theta_sat[static_cast<size_t>(l)] + 1e-15) << l;
      EXPECT_GE(theta[static_cast<size_t>(l)], 0) << l;
    }
  }
  // Hand-computed: falling 9.45 -> 9.3 in layer 3 removes (0.35 - fc_3) x 0.15 m.
  std::vector<double> theta = {0.4, 0.2, 0.3, 0.35, 0.3};
  const external_table_change ch =
      apply_external_table(soil, 4, z.data(), theta.data(), 3, 9.45, 9.3);
  EXPECT_NEAR(ch.balance, -1000 * (0.35 - field_capacity(soil, 3)) * 0.15, 1e-9);
  // Rising from layer 4 to 9.6 m: layer 4 takes 0.1 x 0.25, layer 3 0.05 x
  // 0.25, layer 2 (9.6 - 9.5) x (0.4 - 0.25).
  std::vector<double> rising = {0.4, 0.2, 0.25, 0.3, 0.2};
  const external_table_change up =
      apply_external_table(soil, 4, z.data(), rising.data(), 4, 9.1, 9.6);
  EXPECT_NEAR(up.balance, 1000 * (0.1 * 0.25 + 0.05 * 0.25 + 0.1 * 0.15), 1e-9);
  EXPECT_DOUBLE_EQ(rising[4], 0.3);
  EXPECT_NEAR(rising[2], 0.25 + 0.1 * 0.15 / 0.25, 1e-12);
}

TEST(UnsatzonColumnServices, FirstConcentrationAndBaseFlow) {
  struct row {
    const char* name;
    bool evaporating;
    double stored, theta, thickness, max_conc, conc;
  } rows[] = {
      {"evaporating: the value itself", true, 3, 0.3, 0.2, 0, 3},
      // 12 / (0.3 x 1000 x 0.2 = 60 mm) = 0.2
      {"amount over the water", false, 12, 0.3, 0.2, 0, 0.2},
      {"lowered to max_conc", false, 12, 0.3, 0.2, 0.1, 0.1},
      {"max_conc 0 does not limit", true, 7, 0.3, 0.2, 0, 7},
      {"no water: 0, never a division by zero", false, 12, 0, 0.2, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_NEAR(first_concentration(r.evaporating, r.stored, r.theta, r.thickness, r.max_conc),
                r.conc, 1e-15);
  }
  EXPECT_NEAR(first_base_flow(2, 0.25, -0.8), 2 * std::exp(-0.2), 1e-15);
  EXPECT_EQ(first_base_flow(2, 0, -0.8), 2);
}

}  // namespace
