// Pure parts of the reservoir step: level-volume tables against the closed
// forms of a box (V = A (L - B)) and of stepped rings, their spacings, the
// flat lake, and level-pool routing by sub-steps against the exponential
// emptying of a linear reservoir (V0 exp(-t/k)), a fine-step reference and
// the water balance.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "routing/reservoir_kernels.h"

namespace {

constexpr double CELL_AREA = 10000;  // [m2] 100 m cells

TEST(LevelVolumeTable, SpacingsAndPointCounts) {
  struct row {
    double depth;  // [m] D
    int fine, middle, coarse;
  };
  // F = trunc(D / 0.01) below 4 m; 400 + trunc((D - 4) / 0.02) to 14 m; then
  // 400 + 500 + ceil((D - 14) / 0.05); plus the floor.
  const row rows[] = {{2.5, 250, 0, 0}, {10, 400, 300, 0}, {20, 400, 500, 120}};
  for (const row& x : rows) {
    SCOPED_TRACE(x.depth);
    const level_volume_table t = build_level_volume_table({100, 100}, 100 + x.depth, CELL_AREA);
    ASSERT_EQ(t.N, x.fine + x.middle + x.coarse + 1);
    EXPECT_DOUBLE_EQ(t.levels[0], 100 + x.depth);
    EXPECT_NEAR(t.levels[1] - t.levels[2], 0.01, 1e-9);
    if (x.middle > 0) {
      EXPECT_DOUBLE_EQ(t.levels[400], 100 + x.depth - 4);
      EXPECT_NEAR(t.levels[401] - t.levels[402], 0.02, 1e-9);
    }
    if (x.coarse > 0) {
      EXPECT_DOUBLE_EQ(t.levels[900], 100 + x.depth - 14);
      EXPECT_NEAR(t.levels[901] - t.levels[902], 0.05, 1e-9);
    }
    EXPECT_EQ(t.levels.back(), 100);
    EXPECT_EQ(t.volumes.back(), 0);
  }
}

TEST(LevelVolumeTable, BoxIsExactAndInvertible) {
  // Four cells at 100 m, top 102.5 m: V(L) = 4 x 10000 m2 x (L - 100).
  const level_volume_table t = build_level_volume_table({100, 100, 100, 100}, 102.5, CELL_AREA);
  ASSERT_EQ(t.N, 251);
  for (int i = 0; i < t.N; i += 25)
    EXPECT_NEAR(t.volumes[static_cast<size_t>(i)], 40000 * (t.levels[static_cast<size_t>(i)] - 100),
                1e-6);
  for (const double L : {100.0, 100.003, 101.234, 102.5, 103.7}) {
    const double V = interpolate_descending(t.levels, t.volumes, t.N, L);
    EXPECT_NEAR(V, 40000 * (L - 100), 1e-6) << L;
    EXPECT_NEAR(interpolate_descending(t.volumes, t.levels, t.N, V), L, 1e-9) << L;
  }
}

TEST(LevelVolumeTable, SteppedRingsFollowTheSumOverCells) {
  // One cell at 100 m, four at 101 m, eight at 102 m; at 102.5 m the water
  // stands 2.5, 1.5 and 0.5 m deep: (2.5 + 4 x 1.5 + 8 x 0.5) x 10000 m3.
  std::vector<double> dem = {100};
  for (int i = 0; i < 4; ++i) dem.push_back(101);
  for (int i = 0; i < 8; ++i) dem.push_back(102);
  const level_volume_table t = build_level_volume_table(dem, 103, CELL_AREA);
  EXPECT_NEAR(interpolate_descending(t.levels, t.volumes, t.N, 102.5), 125000, 1e-6);
  EXPECT_NEAR(interpolate_descending(t.levels, t.volumes, t.N, 100.5), 5000, 1e-6);
}

TEST(LevelVolumeTable, FlatLakeNeverDividesByZero) {
  // Every cell at 100 m and no ponding depth: the table would hold two equal
  // levels; its top is put 0.01 m above the floor instead.
  const level_volume_table t = build_level_volume_table({100, 100, 100}, 100, CELL_AREA);
  ASSERT_EQ(t.N, 2);
  EXPECT_GT(t.levels[0], t.levels[1]);
  const double L = interpolate_descending(t.volumes, t.levels, t.N, 3000);
  EXPECT_TRUE(std::isfinite(L));
  EXPECT_NEAR(L, 100.1, 1e-9);  // 3000 m3 over 30000 m2
  // Equal points in any table give the lower point, never NaN.
  EXPECT_EQ(interpolate_descending({5, 5}, {7, 3}, 2, 5), 3);
}

// Linear reservoir rule Q = V / k, rows from storage 0.
operation_rule linear_rule(double k, double top) {
  operation_rule r;
  r.N = 2;
  r.K = 1;
  r.start_days = {0, 1};
  r.weekdays = {-1, -1};
  r.start_hour = {-1, -1};
  r.stop_hour = {-1, -1};
  r.target_cap = {-1, -1};
  r.index_column = {0, 0, top};
  r.value_columns = {{}, {0, 0, top / k}};
  compute_segment_slopes(r);
  return r;
}

// Routes steps of dt minutes; inflow per step [m3 s-1]; returns the releases.
std::vector<double> route(const operation_rule& rule, double& storage, const std::vector<double>& inflow,
                          double dt, double sub_step) {
  std::vector<double> out;
  std::vector<double> taken;
  for (size_t s = 0; s < inflow.size(); ++s) {
    release_inputs in;
    in.storage = storage;
    in.inflow = inflow[s];
    in.dt = dt;
    in.sub_step = sub_step;
    const double q = release_over_substeps(rule, {2000, 1, 1, static_cast<int>(s % 24) + 1}, in, taken);
    storage += (inflow[s] - q) * dt * 60;
    out.push_back(q);
  }
  return out;
}

TEST(LevelPoolRouting, LinearReservoirEmptiesExponentially) {
  const double k = 36000;  // [s]
  const operation_rule rule = linear_rule(k, 1e7);
  double storage = 5e5;
  route(rule, storage, std::vector<double>(24, 0.0), 60, 60);
  // Explicit sub-steps of 60 s: (1 - 60/k)^1440 against exp(-86400/k); the
  // sub-step error is 0.2 %.
  const double exact = 5e5 * std::exp(-86400 / k);
  EXPECT_NEAR(storage, exact, 0.005 * exact);
  EXPECT_NEAR(storage, 5e5 * std::pow(1 - 60 / k, 1440), 1e-6 * exact);
}

TEST(LevelPoolRouting, HydrographAgainstFineStepsAndBalanced) {
  const operation_rule rule = linear_rule(7200, 1e8);
  std::vector<double> inflow = {0, 20, 40, 60, 40, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  double coarse_storage = 1e4;
  double fine_storage = 1e4;
  const std::vector<double> coarse = route(rule, coarse_storage, inflow, 60, 60);
  const std::vector<double> fine = route(rule, fine_storage, inflow, 60, 1);
  double peak = 0;
  for (size_t i = 0; i < inflow.size(); ++i) {
    peak = std::max(peak, fine[i]);
    EXPECT_NEAR(coarse[i], fine[i], 0.01 * 60 + 1e-9) << i;
  }
  EXPECT_LT(peak, 60);  // attenuated
  // Storage change = inflow - outflow (the sub-steps fill the step).
  const double in = std::accumulate(inflow.begin(), inflow.end(), 0.0) * 3600;
  const double out = std::accumulate(coarse.begin(), coarse.end(), 0.0) * 3600;
  EXPECT_NEAR(coarse_storage - 1e4, in - out, 1e-6);
}

TEST(LevelPoolRouting, ReleaseBeyondStorageEndsEmpty) {
  // The rule asks for far more than the storage plus inflow holds.
  const operation_rule rule = linear_rule(0.1, 1e5);
  double storage = 1000;
  const std::vector<double> q = route(rule, storage, {0.1}, 60, 60);
  EXPECT_NEAR(q[0] * 3600, 1000 + 0.1 * 3600, 1e-9);
  EXPECT_NEAR(storage, 0, 1e-9);
}

TEST(LevelPoolRouting, CapsSpillShortStepsAndAbstractions) {
  const operation_rule rule = linear_rule(3600, 1e6);
  std::vector<double> taken;
  release_inputs in;
  in.storage = 3.6e5;
  in.dt = 60;
  in.sub_step = 3600;  // one sub-step: Q = 360000 / 3600 = 100 m3/s
  const rule_date date{2000, 1, 1, 12};
  EXPECT_NEAR(release_over_substeps(rule, date, in, taken), 100, 1e-9);
  // TargetCap 0 or negative does not cap a reservoir; 30 does.
  for (const double cap : {0.0, -1.0, 30.0}) {
    operation_rule capped = rule;
    capped.target_cap[1] = cap;
    EXPECT_NEAR(release_over_substeps(capped, date, in, taken), cap > 0 ? 30 : 100, 1e-9) << cap;
  }
  // dt x 60 below the sub-step: no sub-step, no release, no abstraction.
  in.dt = 0.5;
  in.sub_step = 60;
  in.abstraction_count = 1;
  in.abstraction_rate = [](int, double) { return 5.0; };
  EXPECT_EQ(release_over_substeps(rule, date, in, taken), 0);
  EXPECT_EQ(taken[0], 0);
  // Above the table: without a lake the inflow passes; a lake above its
  // spill level passes at least its inflow.
  in.dt = 60;
  in.sub_step = 3600;
  in.abstraction_count = 0;
  in.storage = 2e6;
  in.inflow = 0;
  EXPECT_NEAR(release_over_substeps(rule, date, in, taken), 0, 1e-9);
  in.inflow = 1e-3;
  in.lake = true;
  in.level_of = [](double) { return 10.0; };
  in.spill_level = 9;
  // Lake: top value 1e6/3600 + slope x (S + inflow - top) with the slope 1/3600.
  const double expected = (2e6 + 3.6) / 3600;
  EXPECT_NEAR(release_over_substeps(rule, date, in, taken), expected, 1e-9);
}

TEST(LevelPoolRouting, AbstractionsFromTheReservoirNeverTakeMoreThanItHolds) {
  const operation_rule rule = linear_rule(1e9, 1e9);  // nearly no release
  release_inputs in;
  in.storage = 1000;
  in.dt = 60;
  in.sub_step = 60;
  in.abstraction_count = 2;
  in.abstraction_rate = [](int, double) { return 1.0; };  // 60 m3 per sub-step each
  std::vector<double> taken;
  const double q = release_over_substeps(rule, {2000, 1, 1, 12}, in, taken);
  EXPECT_NEAR(taken[0] + taken[1] + q * 3600, 1000, 1e-6);
  EXPECT_GT(taken[0], taken[1]);  // the first one is served first in the last sub-step
}

TEST(LevelPoolRouting, MixingWeighsByAbsoluteAmounts) {
  EXPECT_DOUBLE_EQ(mix_reservoir_concentrations(1, 3, 1, 3), 2.5);
  EXPECT_DOUBLE_EQ(mix_reservoir_concentrations(1, 3, -1, 3), 2.5);
  EXPECT_EQ(mix_reservoir_concentrations(1, 3, 0, 0), 0);
}

}  // namespace
