// Solute transport in the soil column: mass balance over the transported
// layers, the concentration cap of non-evaporating tracers, mixing of the
// saturated layers, decay per call and a piston front.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "soilwater/soilcolumn_solutes.h"
#include "soilwater/unsatzon_column_services.h"

namespace {

using vec = std::vector<double>;

// One column with its water, work arrays and one tracer.
struct solute_column {
  int n;
  vec q, theta, theta0, theta_sat, d, z, lateral, base, rising, river_in, river_out;
  vec available, factor, lateral_f, base_f, river_out_f, q_f;
  vec u, u0;
  std::vector<SoluteFlows> flows;
  double aquifer = 0;
  explicit solute_column(int layers)
      : n(layers), q(size()), theta(size(), 0.3), theta0(size(), 0.3), theta_sat(size(), 0.43),
        d(size(), 0.1), z(size()), lateral(size()), base(size()), rising(size()),
        river_in(size()), river_out(size()), available(size()), factor(size()),
        lateral_f(size()), base_f(size()), river_out_f(size()), q_f(size()), u(size()),
        u0(size()), flows(size()) {
    z[0] = 100;
    for (size_t l = 1; l < size(); ++l) z[l] = z[l - 1] - d[l];
  }
  size_t size() const { return static_cast<size_t>(n) + 1; }
  SoluteWater water() const {
    return {q.data(),       theta.data(), theta0.data(), theta_sat.data(),
            d.data(),       z.data(),     lateral.data(), base.data(),
            rising.data(),  river_in.data(), river_out.data()};
  }
  SoluteWork work() {
    return {available.data(), factor.data(), lateral_f.data(),
            base_f.data(),    river_out_f.data(), q_f.data()};
  }
  int run(const SoluteCell& cell, const SoluteTracer& tracer, double river = 0) {
    SoluteTracerState st{u.data(), u0.data(), 0, 0, 0, &aquifer, river};
    const SoluteWater w = water();
    const SoluteWork k = work();
    const int depth = transport_solutes(cell, w, k, &tracer, &st, 1, flows.data());
    last = st;
    return depth;
  }
  // Tracer mass of layer l [concentration x mm].
  double mass(bool evaporating, const vec& state, const vec& water, size_t l) const {
    return evaporating ? state[l] * water[l] * d[l] * 1000 : state[l];
  }
  SoluteTracerState last{};
};

// A column that exercises every flow: infiltration, downward flow, a layer
// losing more than it holds (reduced outflows), interflow, base flow and
// river exchange.
solute_column busy_column() {
  solute_column c(5);
  c.q = {-2e-6, -1.5e-6, -1e-6, 5e-7, -5e-7, -2e-7};
  c.theta0 = {0.3, 0.30, 0.25, 0.02, 0.35, 0.40};
  c.theta = {0.3, 0.31, 0.24, 0.01, 0.36, 0.40};
  c.lateral = {0, 0, 1e-7, 3e-6, 0, 0};
  c.base = {0, 0, 0, 0, 0, 1e-7};
  c.river_in = {0, 0, 0, 0, 2e-7, 0};
  c.river_out = {0, 0, 0, 1e-6, 0, 0};
  return c;
}

TEST(SoilColumnSolutes, MassBalanceOverTheTransportedLayers) {
  const double dt = 900;
  struct row {
    const char* name;
    bool evaporating;
    int g;  // > n: unmixed; <= n: mixed without aquifer (conserving)
  };
  const row rows[] = {
      {"evaporating", true, 6},
      {"non-evaporating", false, 6},
      {"evaporating, mixed 4..5", true, 4},
      {"non-evaporating, mixed 4..5", false, 4},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    solute_column c = busy_column();
    // Concentrations; the masses of a non-evaporating tracer from them.
    const vec conc = {2.0, 1.0, 0.5, 3.0, 0.2, 0.7};
    for (size_t l = 0; l < c.size(); ++l)
      c.u[l] = r.evaporating ? conc[l] : conc[l] * c.theta0[l] * c.d[l] * 1000;
    const vec before = c.u;
    SoluteCell cell{5, r.g, dt, 1e-6, 3e-6, 3.1e-6, 1e-7, false, 0};
    SoluteTracer tracer{false, r.evaporating, 1e6, 1.0};
    const int depth = c.run(cell, tracer, 4.0);
    ASSERT_EQ(depth, 5);
    ASSERT_LT(c.factor[3], 0.99999);     // layer 3 is reduced
    double change = 0, lateral = 0, river_in = 0;
    for (size_t l = 1; l <= 5; ++l) {
      change += c.mass(r.evaporating, c.u, c.theta, l) - c.mass(r.evaporating, before, c.theta0, l);
      const SoluteFlows& f = c.flows[l];
      lateral += f.lateral + f.base + f.river_out;
      river_in += f.river_in;
      if (l > 1) {
        EXPECT_EQ(f.in_top, c.flows[l - 1].out_bottom) << "layer " << l;
      }
    }
    const double expected = c.flows[1].in_top - c.flows[5].out_bottom - lateral + river_in;
    EXPECT_NEAR(change, expected, 1e-12 * std::fabs(expected));
    EXPECT_GT(river_in, 0);
    if (!r.evaporating) {
      EXPECT_NEAR(c.u[0], before[0] - c.flows[1].in_top, 1e-12);
    }
  }
}

TEST(SoilColumnSolutes, NonEvaporatingTracerMovesAtMostMaxConc) {
  solute_column c = busy_column();
  const double dt = 900, kappa = 0.5, per = 1000 * dt;
  for (size_t l = 0; l < c.size(); ++l) c.u[l] = 50.0 * c.theta0[l] * c.d[l] * 1000;
  SoluteCell cell{5, 6, dt, 1e-6, 3e-6, 3.1e-6, 1e-7, false, 0};
  c.run(cell, SoluteTracer{false, false, kappa, 1.0});
  // The bottom of the column (l = 5) included: its tracer leaves only with
  // the water that leaves through it.
  for (size_t l = 1; l <= 5; ++l) {
    const SoluteFlows& f = c.flows[l];
    EXPECT_LE(std::fabs(f.out_bottom), std::fabs(c.q[l]) * kappa * per + 1e-12) << l;
    EXPECT_LE(f.lateral, c.lateral[l] * kappa * per + 1e-12) << l;
    EXPECT_LE(f.river_out, c.river_out[l] * kappa * per + 1e-12) << l;
  }
  EXPECT_NEAR(c.flows[1].in_top, 2e-6 * kappa * per, 1e-12);  // capped infiltration
  EXPECT_NEAR(c.flows[3].lateral, 3e-6 * kappa * per, 1e-12);  // capped interflow
}

TEST(SoilColumnSolutes, ExcessOutflowLeavesAtTheConcentrationAbove) {
  // Layer 2 holds 0.01 * 0.1 m of tracer-free water but loses 3e-6 m s-1
  // sideways over 900 s: the water it does not hold, 3e-6 - 1e-3 / 900 m s-1,
  // comes from layer 1 at its concentration 2, in both schemes:
  // (3e-6 - 1e-3 / 900) * 900 s * 1000 mm m-1 * 2 [concentration x mm].
  const double expected = (3e-6 - 1e-3 / 900) * 900 * 1000 * 2;
  for (bool evaporating : {true, false}) {
    SCOPED_TRACE(evaporating ? "evaporating" : "non-evaporating");
    solute_column c(3);
    c.theta0[2] = c.theta[2] = 0.01;
    c.lateral[2] = 3e-6;
    c.u = {0, evaporating ? 2.0 : 2.0 * 0.3 * 0.1 * 1000, 0, 0};
    SoluteCell cell{3, 4, 900, 0, 0, 3e-6, 0, false, 0};
    c.run(cell, SoluteTracer{false, evaporating, 1e6, 1.0});
    EXPECT_NEAR(c.factor[2], 1e-3 / 900 / 3e-6, 1e-15);
    EXPECT_NEAR(c.flows[2].lateral, expected, 1e-12 * expected);
  }
}

TEST(SoilColumnSolutes, TransportDepthAndMixing) {
  struct row {
    int g;
    bool rising4, river5;
    int depth;
  };
  const row rows[] = {{2, false, false, 3}, {2, true, false, 4}, {2, true, true, 5},
                      {2, false, true, 3},  // river below a gap: not reached
                      {4, false, false, 5}, {5, false, false, 5}, {7, false, false, 5}};
  for (const row& r : rows) {
    solute_column c(5);
    if (r.rising4) c.rising[4] = 1e-7;
    if (r.river5) c.river_in[5] = 1e-7;
    SoluteCell cell{5, r.g, 600, 0, 0, 0, 0, false, 0};
    EXPECT_EQ(transport_depth(cell, c.water()), r.depth) << "g = " << r.g;
  }
  // No flows: with the table in layer 4 the layers 4..5 and the aquifer below
  // mix to one concentration; with g > n nothing mixes and Gamma stays.
  for (int g : {4, 6}) {
    solute_column c(5);
    c.u = {0, 1, 2, 3, 4, 8};
    c.aquifer = 6;
    c.theta[5] = c.theta0[5] = 0.43;
    SoluteCell cell{5, g, 600, 0, 0, 0, 0, true, 0.7};  // 0.2 m of aquifer below the column
    c.run(cell, SoluteTracer{false, true, 1, 1.0});
    if (g == 6) {
      EXPECT_NEAR(c.u[4], 4, 1e-14);
      EXPECT_NEAR(c.u[5], 8, 1e-14);
      EXPECT_EQ(c.aquifer, 6);
    } else {
      const double mixed = (4 * 0.03 + 8 * 0.043 + 6 * 0.43 * 0.2) / (0.03 + 0.043 + 0.43 * 0.2);
      EXPECT_NEAR(c.u[4], mixed, 1e-13);
      EXPECT_NEAR(c.u[5], mixed, 1e-13);
      EXPECT_NEAR(c.aquifer, mixed, 1e-13);
      EXPECT_NEAR(c.u[3], 3, 1e-14);
    }
  }
}

TEST(SoilColumnSolutes, DecayOncePerCallWithTheSubstepFactor) {
  // A 1-day half-life, 60-minute steps of 4 sub-steps: 96 calls a day.
  for (bool evaporating : {true, false}) {
    solute_column c(3);
    const vec start = {5, 4, 3, 2};
    c.u = start;
    SoluteCell cell{3, 4, 900, 0, 0, 0, 0, false, 0};
    const SoluteTracer tracer{true, evaporating, 1e6, substep_decay_factor(60, 4, 1.0)};
    for (int call = 1; call <= 20 * 96; ++call) {
      c.run(cell, tracer);
      if (call % 96 != 0) continue;
      for (size_t l = 0; l <= 3; ++l)
        ASSERT_NEAR(c.u[l] / start[l], std::pow(0.5, call / 96.0),
                    1e-8 * std::pow(0.5, call / 96.0))
            << "layer " << l << " after " << call << " calls";
    }
  }
}

TEST(SoilColumnSolutes, PistonFrontUnderSteadyInfiltration) {
  // q = -1e-6 m s-1 through theta = 0.3: the front reaches q t / theta.
  solute_column c(60);
  for (size_t l = 0; l < c.size(); ++l) {
    c.q[l] = -1e-6;
    c.d[l] = 0.02;
  }
  c.u[0] = 1.0;
  SoluteCell cell{60, 61, 600, 0, 0, 0, 0, false, 0};
  const SoluteTracer tracer{false, true, 1, 1.0};
  for (int hours : {20, 40}) {
    for (int k = 0; k < 6 * 20; ++k) c.run(cell, tracer);
    double front = 0;
    for (size_t l = 1; l < 60; ++l)
      if (c.u[l] >= 0.5 && c.u[l + 1] < 0.5) {
        const double f = (c.u[l] - 0.5) / (c.u[l] - c.u[l + 1]);
        front = (static_cast<double>(l) - 0.5 + f) * 0.02;
      }
    EXPECT_NEAR(front, 1e-6 * hours * 3600 / 0.3, 0.02) << hours << " h";
  }
}

}  // namespace
