// Runoff concentration at the end of a step: the single linear storage
// against its closed form, Clark's time-area translation through the zone
// queues, tracer mixing by water, base flow clipping and the glacier term.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "submodel/runoff_concentration.h"

namespace {

// One subbasin (index 1), no tracers, zones 0..zones.
flow_time_queues one_subbasin(int zones, int tracers = 0) {
  flow_time_queues q;
  q.zone_counts = {0, static_cast<double>(zones)};
  for (auto* kind : {&q.direct, &q.interflow}) {
    kind->resize(static_cast<size_t>(tracers) + 1);
    for (auto& t : *kind) t = {{}, std::vector<zone_record>(static_cast<size_t>(zones) + 1)};
  }
  return q;
}

// Runs the storage over inputs, returning the outflow of each step.
std::vector<double> run_storage(const std::vector<double>& inputs, double dt, double k,
                                double start = 0, bool bypass = false) {
  auto q = one_subbasin(1);
  subbasin_flow_arrays head = make_flow_arrays(0, 1), storage = make_flow_arrays(0, 1);
  storage[0][1] = start;
  std::vector<double> out;
  for (double v : inputs) {
    q.direct[0][1][1] = zone_record{1, v, 1, 1, 1};
    route_head(q.direct, 1, 0, linear_storage(dt, k, bypass), head, storage);
    out.push_back(storage[0][1]);
  }
  return out;
}

TEST(RunoffConcentration, LinearStorageFollowsItsExactStepUpdate) {
  const double dt = 60, k = 600;  // [min]: k = 10 h
  const double a = std::exp(-dt / k), m = 1 - a;
  // Impulse v: m v, a m v, a^2 m v ...; the outflow sums to v
  // (geometric series m v / (1 - a) = v).
  std::vector<double> inputs(400, 0.0);
  inputs[0] = 2;
  const auto impulse = run_storage(inputs, dt, k);
  for (int j = 0; j < 4; ++j) EXPECT_NEAR(impulse[static_cast<size_t>(j)], std::pow(a, j) * m * 2, 1e-14);
  double total = 0;
  for (double o : impulse) total += o;
  EXPECT_NEAR(total, 2, 1e-12);
  // Constant input 1 from an empty storage: 1 - a^j after j steps.
  const auto constant = run_storage(std::vector<double>(30, 1.0), dt, k);
  for (int j = 1; j <= 30; j += 7)
    EXPECT_NEAR(constant[static_cast<size_t>(j - 1)], 1 - std::pow(a, j), 1e-14);
  // 5 mm, no input, 24 steps: 5 exp(-2.4) = 0.453590 (explicit Euler,
  // 5 (1 - 0.1)^24, would give 0.398832).
  const auto recession = run_storage(std::vector<double>(24, 0.0), dt, k, 5);
  EXPECT_NEAR(recession.back(), 0.453590, 5e-7);
  EXPECT_GT(std::fabs(recession.back() - 0.398832), 0.05);
}

TEST(RunoffConcentration, StorageLimitsAndBypass) {
  struct row {
    const char* what;
    double k;     // [min]
    bool bypass;
    double a;     // expected weight of the old outflow
  };
  const row rows[] = {
      {"k of 1e-6 min: no delay", 1e-6, false, 0.0},
      {"k of 1e12 min: the outflow keeps its value", 1e12, false, 1.0},
      {"bypass (surface routing active)", 600, true, 0.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const linear_storage_weights w = linear_storage(60, r.k, r.bypass);
    EXPECT_NEAR(w.a, r.a, 1e-9);
    EXPECT_NEAR(w.m, 1 - r.a, 1e-9);
    const auto out = run_storage({3, 0}, 60, r.k, 4, r.bypass);
    EXPECT_NEAR(out[0], r.a * 4 + (1 - r.a) * 3, 1e-9);
  }
  // With the bypass QDd equals the step's QD.
  auto q = one_subbasin(1);
  subbasin_flow_arrays head = make_flow_arrays(0, 1), storage = make_flow_arrays(0, 1);
  storage[0][1] = 9;
  q.direct[0][1][1] = zone_record{2, 7, 1, 1, 2};  // head 3.5
  route_head(q.direct, 1, 0, linear_storage(60, 600, true), head, storage);
  EXPECT_EQ(head[0][1], 3.5);
  EXPECT_EQ(storage[0][1], 3.5);
}

TEST(RunoffConcentration, TimeAreaTranslationDelaysAPulseByItsZone) {
  // Clark (1945): what enters zone k leaves k - 1 steps later. Three cells
  // in zones 1, 2, 3 of weights 1, 2, 1; the set-up leaves the cumulative
  // weights 4, 3, 1 from the head, and every step each cell adds its weight
  // to its zone. A pulse of 8 mm in the zone-3 cell in step 1 leaves in
  // step 3, averaged over the whole subbasin's weight: 8 x 1 / 4 = 2.
  auto q = one_subbasin(3);
  auto& z = q.direct[0][1];
  z[1].weight = 4;
  z[2].weight = 3;
  z[3].weight = 1;
  const double cell_weight[] = {0, 1, 2, 1};
  subbasin_flow_arrays head = make_flow_arrays(0, 1), storage = make_flow_arrays(0, 1);
  std::vector<double> leaving, head_weight;
  for (int step = 1; step <= 5; ++step) {
    shift_zone_queues(q);
    for (int k = 1; k <= 3; ++k) {
      z[static_cast<size_t>(k)].weight += cell_weight[k];
      if (step == 1 && k == 3) z[3].sum += 8 * cell_weight[3];
    }
    head_weight.push_back(z[1].weight);
    route_head(q.direct, 1, 0, linear_storage(60, 600, true), head, storage);
    leaving.push_back(head[0][1]);
  }
  const double expected[] = {0, 0, 2, 0, 0};
  for (size_t j = 0; j < 5; ++j) {
    EXPECT_DOUBLE_EQ(leaving[j], expected[j]) << "step " << j + 1;
    EXPECT_DOUBLE_EQ(head_weight[j], 4) << "step " << j + 1;
  }
}

TEST(RunoffConcentration, TracersMixByWater) {
  // Storage: old outflow A = 2 at concentration 10, input v = 4 at 1,
  // a = m = 0.5 (k = dt / ln 2): B = 3, c = (4 * 1 * 0.5 + 2 * 10 * 0.5) / 3.
  auto q = one_subbasin(1, 1);
  subbasin_flow_arrays head = make_flow_arrays(1, 1), storage = make_flow_arrays(1, 1);
  storage[0][1] = 2;
  storage[1][1] = 10;
  q.direct[0][1][1] = zone_record{1, 4, 1, 1, 1};
  q.direct[1][1][1] = zone_record{1, 1, 1, 1, 1};
  route_head(q.direct, 1, 1, linear_storage(60, 60 / std::log(2.0), false), head, storage);
  EXPECT_NEAR(storage[0][1], 3, 1e-12);
  EXPECT_NEAR(storage[1][1], 12.0 / 3, 1e-12);
  // A storage that ends dry has concentration 0; a head without weight 0.
  auto dry = one_subbasin(1, 1);
  subbasin_flow_arrays h2 = make_flow_arrays(1, 1), s2 = make_flow_arrays(1, 1);
  s2[1][1] = 5;
  route_head(dry.direct, 1, 1, linear_storage(60, 600, false), h2, s2);
  EXPECT_EQ(s2[0][1], 0);
  EXPECT_EQ(s2[1][1], 0);
  EXPECT_EQ(h2[1][1], 0);
  // Total: 1 mm at 2, 3 mm at 6, base 0 at 100 -> (2 + 18) / 4 = 5.
  subbasin_flow_arrays d = make_flow_arrays(1, 1), i = make_flow_arrays(1, 1),
                       b = make_flow_arrays(1, 1);
  d[0][1] = 1, d[1][1] = 2, i[0][1] = 3, i[1][1] = 6, b[1][1] = 100;
  EXPECT_DOUBLE_EQ(mixed_total_concentration(d, i, b, 1, 1), 5);
  EXPECT_EQ(mixed_total_concentration(b, b, b, 1, 1), 0);
}

TEST(RunoffConcentration, BaseFlowGlacierTermAndStatisticRecords) {
  EXPECT_EQ(clipped_base_flow(zone_record{2, -3, 0, 0, 2}), 0);
  EXPECT_DOUBLE_EQ(clipped_base_flow(zone_record{2, 3, 0, 0, 2}), 1.5);
  EXPECT_EQ(clipped_base_flow(zone_record{2, 3, 0, 0, 0}), 0);
  EXPECT_DOUBLE_EQ(total_runoff(1, 2, 3, 10, true), 16);   // glacier outflow kept
  EXPECT_DOUBLE_EQ(total_runoff(1, 2, 3, 10, false), 6);  // held value replaced
  zone_record r{9, 9, 4, 0.25, 9};
  set_runoff_record(r, 8);
  EXPECT_EQ(r.count, 0.25);
  EXPECT_EQ(r.weight, 0.25);
  EXPECT_EQ(r.sum, 2);
  EXPECT_EQ(r.code, 4);
}

TEST(RunoffConcentration, OneProcessReductionKeepsEveryHead) {
  auto q = one_subbasin(2, 1);
  q.direct[1][1][1] = zone_record{1, 2, 1, 0.5, 3};
  q.interflow[0][1][0] = zone_record{4, 5, 0, 0, 6};
  q.interflow[0][1][2] = zone_record{7, 8, 2, 0, 9};  // zone 2: not reduced
  std::vector<zone_record> extra(3);
  extra[2] = zone_record{1, 1, 0, 0, 1};
  reduce_queue_heads(q, {{extra.data(), 2}});
  EXPECT_EQ(q.direct[1][1][1].sum, 2);
  EXPECT_EQ(q.direct[1][1][1].share, 0.5);
  EXPECT_EQ(q.interflow[0][1][0].weight, 6);
  EXPECT_EQ(q.interflow[0][1][2].sum, 8);
  EXPECT_EQ(extra[2].sum, 1);
}

}  // namespace
