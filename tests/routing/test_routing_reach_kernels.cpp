// The channel kernel: steady flow passes unchanged, an impulse follows the
// exact recession of a linear reservoir, and over many steps of varying flow
// the water balance of queues, storages and displaced water closes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "routing/routing_reach_kernels.h"

namespace {

channel_params channel(double length, double bankfull) {
  channel_params p;
  p.k_main = 3;
  p.k_flood = 6;
  p.width_main = 10;
  p.width_flood = 80;
  p.depth_bankfull = bankfull;
  p.kst_main = 30;
  p.kst_flood = 12;
  p.slope = 0.001;
  p.length = length;
  p.area = 200;
  return p;
}

// One channel with its queues, as the reach keeps them.
struct test_channel {
  wq_table table;
  channel_state state;
  std::vector<std::vector<double>> queues;  // [k][position]
  std::vector<tracer_decay> decay;
  channel_kernel_params params;
  int a = 1;

  test_channel(const channel_params& p, int a_in, double dt, int ntr, double x0)
      : a(a_in) {
    table = build_wq_table(p, root_of_slope(p.slope), 1, 3000, 40, a, dt);
    state = make_channel_state(table, a, ntr);
    queues.assign(static_cast<size_t>(ntr) + 1,
                  std::vector<double>(static_cast<size_t>(a + table.storage_elements) + 1, x0));
    decay.assign(static_cast<size_t>(ntr) + 1, tracer_decay{});
    params = {&table, storage_coefficient(p.k_main, dt / 60), storage_coefficient(p.k_flood, dt / 60),
              a, dt, ntr, decay.data()};
    init_channel_state(params, state, x0);
  }

  // Routes one step; in[k][m] is overwritten by the outflow.
  void step(std::vector<std::vector<double>>& in) {
    std::vector<double*> q, s;
    for (auto& v : queues) q.push_back(v.data());
    for (auto& v : in) s.push_back(v.data());
    route_channel(params, state, q.data(), s.data());
  }

  // Water in the queues behind the outflow positions, in the linear storages
  // (c / (1 - c) times the last outflow) and given to `displaced`.
  double held() const {
    const int stride = queue_stride(table, a);
    const double c = params.c_main;
    double w = 0;
    for (int e = 1; e <= table.subchannels; ++e) {
      for (int pos = stride * (e - 1) + a + 1; pos <= state.queue_end[e]; ++pos) w += queues[0][pos];
      for (int m = 1; m <= a; ++m) w += c / (1 - c) * state.qaus[e][m];
      w += state.displaced[0][e];
    }
    return w;
  }
};

std::vector<std::vector<double>> series(int ntr, int a, double x) {
  std::vector<std::vector<double>> s(static_cast<size_t>(ntr) + 1,
                                     std::vector<double>(static_cast<size_t>(a) + 1, x));
  return s;
}

TEST(RoutingKernel, MixWeighsByAbsoluteAmounts) {
  EXPECT_DOUBLE_EQ(mix(2, 4, 1, 1), 3);
  EXPECT_DOUBLE_EQ(mix(2, 4, -1, 3), 3.5);
  EXPECT_DOUBLE_EQ(mix(2, 4, 0, 0), 0);
}

TEST(RoutingKernel, SteadyInflowPassesUnchangedForEverySubChannelCount) {
  // Lengths giving one, two and more sub-channels at hourly steps.
  for (const double length : {10.0, 40000.0, 150000.0}) {
    for (const int a : {1, 3}) {
      SCOPED_TRACE(length);
      SCOPED_TRACE(a);
      const double x = 0.8;  // [mm per step], main channel only
      test_channel ch(channel(length, 100), a, 60, 1, x);
      for (int step = 0; step < 12; ++step) {
        auto in = series(1, a, x);
        for (int m = 1; m <= a; ++m) in[1][m] = 5;  // a tracer passes unchanged
        ch.step(in);
        for (int m = 1; m <= a; ++m) {
          ASSERT_NEAR(in[0][m], x, 1e-12);
          ASSERT_NEAR(in[1][m], 5, 1e-12);
        }
      }
    }
  }
  // With flood-plain flow: the initial states hold no flood share, so the
  // first outflow is x (1 + s (c_m - c_f)); with equal storage constants of
  // the main channel and the flood plains that is x itself, every step.
  const double x = 40;
  channel_params flood = channel(40000, 0.5);
  flood.k_flood = flood.k_main;
  test_channel ch(flood, 2, 60, 0, x);
  ASSERT_GT(ch.table.flood_share[wq_interval_index(ch.table, x, 60)], 0);
  for (int step = 1; step <= 6; ++step) {
    auto in = series(0, 2, x);
    ch.step(in);
    EXPECT_NEAR(in[0][1], x, 1e-9);
    EXPECT_NEAR(in[0][2], x, 1e-9);
  }
}

TEST(RoutingKernel, ImpulseFollowsTheLinearReservoirRecession) {
  // A short channel: no delay, one sub-channel, k_m = 10 h. An impulse V at
  // the start of step 1 leaves a linear reservoir as
  // V (1 - e^(-T/k)) e^(-(n-1) T/k) in step n (T the step length).
  for (const double dt : {60.0, 1440.0}) {
    SCOPED_TRACE(dt);
    channel_params p = channel(1, 100);
    p.k_main = 10;
    test_channel ch(p, 1, dt, 0, 0.0);
    ASSERT_EQ(ch.table.subchannels, 1);
    ASSERT_EQ(ch.table.delay[1], 0);
    const double T = dt / 60;
    for (int n = 1; n <= 8; ++n) {
      auto in = series(0, 1, n == 1 ? 1.0 : 0.0);
      ch.step(in);
      const double exact = (1 - std::exp(-T / 10)) * std::exp(-(n - 1) * T / 10);
      EXPECT_NEAR(in[0][1], exact, 1e-14);
    }
  }
}

TEST(RoutingKernel, QueuesStoragesAndDisplacedWaterCloseTheBalance) {
  // Rising and falling flows inside the main channel: overtaking, gaps and
  // changing delays over many steps.
  for (const int a : {1, 2, 4}) {
    SCOPED_TRACE(a);
    test_channel ch(channel(120000, 1000), a, 60, 2, 0.3);
    ASSERT_GE(ch.table.subchannels, 2);
    std::mt19937 rng(7 + a);
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    const double before = ch.held();
    double in_sum = 0, out_sum = 0;
    for (int step = 0; step < 600; ++step) {
      // Calm spells and sudden floods, so that delays jump both ways.
      const double level = (step / 25) % 2 == 0 ? 0.05 : 30.0;
      auto in = series(2, a, 0);
      for (int m = 1; m <= a; ++m) {
        in[0][m] = level * (0.2 + pick(rng));
        in[1][m] = pick(rng);
        in[2][m] = 1;
        in_sum += in[0][m];
      }
      ch.step(in);
      for (int m = 1; m <= a; ++m) out_sum += in[0][m];
    }
    const double after = ch.held();
    EXPECT_NEAR(in_sum, out_sum + after - before, 1e-9 * in_sum);
  }
}

TEST(RoutingKernel, OvertakingDisplacesTheSmallerValue) {
  // A long channel at low flow, then a flood: the fast water lands on queued
  // water and the smaller values leave into `displaced`; falling back leaves
  // a gap filled from it.
  // Four sub-intervals: delays of 4 sub-intervals at the smallest flows, 0
  // in floods.
  test_channel ch(channel(150000, 1000), 4, 60, 0, 0.003);
  ASSERT_EQ(ch.table.delay[1], 4);
  auto low = series(0, 4, 0.003);
  ch.step(low);
  // The first sub-channel takes the inflow itself.
  const int first = ch.table.subchannels;
  EXPECT_EQ(ch.state.displaced[0][first], 0);
  auto flood = series(0, 4, 50);
  ch.step(flood);
  // Each of the four flood values lands on queued low water (delay 4 -> 0).
  EXPECT_NEAR(ch.state.displaced[0][first], 4 * 0.003, 1e-15);
  auto calm = series(0, 4, 0.003);
  ch.step(calm);
  // Delay 0 -> 4: a gap of four positions filled with the smaller neighbour
  // (0.003), taken from `displaced`.
  EXPECT_NEAR(ch.state.displaced[0][first], 0.0, 1e-15);
}

TEST(RoutingKernel, OnlyRadioactiveTracersDecay) {
  // Low flow: four sub-intervals of delay per sub-channel, in which the
  // radioactive tracer decays.
  test_channel ch(channel(150000, 1000), 4, 60, 3, 0.003);
  ch.decay[1] = {false, -9999};  // not radioactive
  ch.decay[2] = {false, 0};      // not radioactive, half-life 0 given
  ch.decay[3] = {true, 1.0};     // radioactive, 1 day
  for (auto& q : ch.queues) std::fill(q.begin(), q.end(), 2.0);
  ch.queues[0].assign(ch.queues[0].size(), 0.003);
  for (int step = 0; step < 30; ++step) {
    auto in = series(3, 4, 0.003);
    for (int k = 1; k <= 3; ++k)
      for (int m = 1; m <= 4; ++m) in[k][m] = 2.0;
    ch.step(in);
    if (step > 5) {
      EXPECT_DOUBLE_EQ(in[1][1], 2.0);
      EXPECT_DOUBLE_EQ(in[2][1], 2.0);
    }
  }
  // The decayed queue of the radioactive tracer: below its inflow value.
  double lowest = 2.0;
  for (size_t p = 1; p < ch.queues[3].size(); ++p) lowest = std::min(lowest, ch.queues[3][p]);
  EXPECT_LT(lowest, 2.0);
  for (size_t p = 1; p < ch.queues[1].size(); ++p) EXPECT_DOUBLE_EQ(ch.queues[1][p], 2.0);
}

}  // namespace
