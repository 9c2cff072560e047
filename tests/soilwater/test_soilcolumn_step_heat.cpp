// The column step with heat transfer: the heat sub-steps and their
// alignment with the water sub-steps of a call, frozen soil that turns rain
// into surface runoff while the water of the column still closes, and the
// heat sub-steps of a call advancing the temperatures as the same number of
// stand-alone sub-steps do.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "soilwater/heated_column_fixture.h"

namespace {

size_t at(int k) { return static_cast<size_t>(k); }

double column_water(const heated_column& c) {
  double sum = 0;
  for (int k = 1; k <= c.n; ++k) sum += c.theta[at(k)] * c.soil.thickness[at(k)] * 1000;
  return sum;
}

TEST(SoilColumnStepHeat, HeatSubStepsOfACall) {
  struct row {
    const char* name;
    double seconds;  // call and model step
    int method;      // water sub-step method
    int water, heat, ratio;
  } rows[] = {
      // Small changes: 3 sub-steps of at most 1800 s; with the fixed water
      // step a count of 3 becomes 4 after the one water sub-step.
      {"fixed step, 90 minutes", 5400, 2, 1, 4, 4},
      {"fixed step, 1 hour", 3600, 2, 2, 2, 1},
      {"fixed step, a day", 86400, 2, 1, 49, 49},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    heated_column col(8, 5, r.seconds);
    col.settings.method = r.method;
    const ColumnResult res = col.call();
    EXPECT_EQ(res.substeps, r.water);
    EXPECT_EQ(res.heat_substeps, r.heat);
    EXPECT_EQ(res.heat_ratio, r.ratio);
  }
}

// The r heat sub-steps of a call move the temperatures exactly as r
// stand-alone sub-steps of the call's heat length with the water the call
// leaves.
TEST(SoilColumnStepHeat, CallAdvancesTheTemperaturesByItsSubSteps) {
  heated_column col(8, 5, 5400);
  col.heat_in.t_air = -3;
  heated_column alone(8, 5, 5400);
  alone.heat_in.t_air = -3;
  const ColumnResult res = col.call();
  // One water sub-step: all heat sub-steps see the water the call leaves.
  ASSERT_EQ(res.substeps, 1);
  ASSERT_EQ(res.heat_ratio, res.heat_substeps);
  ASSERT_GE(res.heat_substeps, 4);
  HeatWork work(alone.n);
  for (int i = 0; i < res.heat_substeps; ++i)
    heat_evaluation(alone.heat, alone.soil, alone.n, alone.heat_in, col.theta.data(),
                    5400.0 / res.heat_substeps, true, alone.t.data(), work, col.q.data(),
                    col.work.macro_in);
  for (int k = 1; k <= col.n; ++k) EXPECT_DOUBLE_EQ(col.t[at(k)], alone.t[at(k)]) << k;
  EXPECT_LT(col.t[1], 5);
}

// Rain on a frozen column runs off at the surface; on the same column
// thawed it soaks in. Either way the column's water closes to round-off.
TEST(SoilColumnStepHeat, FrozenSoilTurnsRainIntoRunoffAndTheWaterCloses) {
  double excess[2] = {}, second[2] = {};  // direct flow, theta of layer 2
  for (const double temperature : {-5.0, 5.0}) {
    SCOPED_TRACE(temperature);
    heated_column col(10, temperature, 3600);
    col.input.water_input = 15;  // [mm] in the hour
    const double water_before = column_water(col);
    const ColumnResult r = col.call();
    const double change = column_water(col) - water_before;
    const double out = r.directflow + r.interflow + r.baseflow + r.evaporation;
    EXPECT_NEAR(change, r.input - out, 1e-9 * (r.input + std::fabs(out)));
    excess[temperature < 0 ? 0 : 1] = r.directflow;
    second[temperature < 0 ? 0 : 1] = col.theta[2];
  }
  // Frozen: the top layer takes what fits (13 mm of room), the rest runs
  // off; thawed: the water passes into the layers below.
  EXPECT_GT(excess[0], 1.5);
  EXPECT_LT(excess[1], 0.1 * excess[0]) << excess[1];
  EXPECT_GT(second[1], second[0] + 0.01);
}

}  // namespace
