// Heat kernels of the soil column against hand values and analytic
// solutions: the steady linear profile, the damped surface wave of Carslaw
// and Jaeger (1959, sec. 2.6) and the Neumann freezing front (Lunardini
// 1981, one-phase form).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "soilwater/soilcolumn_fixture.h"
#include "soilwater/soilcolumn_heat.h"

namespace {

using vec = std::vector<double>;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(SoilColumnHeat, ConductivityThresholds) {
  soil_entry soil = loam_soil(2);
  soil.theta_sat.assign(3, 0.5);
  soil.DryThermalConduct.assign(3, 0.58);
  ConductivityFactors factors[3];
  conductivity_factors(soil, 2, 0.5562, factors);
  // Expected values evaluated independently (Python, double precision).
  struct row {
    double theta, unfrozen, expected;
  };
  const row rows[] = {
      {0.49, 1.0, 0.5626766019487431},    // exactly 0.01 below: air term
      {0.495, 1.0, 0.5679753515778656},   // near saturation: F_dry F_w
      {0.495, 0.99, 0.5679753515778656},  // 0.99 counts as unfrozen
      {0.495, 0.5, 0.8120434280357299},   // near saturation with ice
      {0.3, 0.5, 0.6027463536458357},     // unsaturated with ice
      {0.3, 0.99, 0.46301227490108793},   // unsaturated, unfrozen
      {0.3, 0.98, 0.46694017502878843},   // just below the threshold: ice term
  };
  for (const row& r : rows) {
    const vec theta = {0, r.theta, r.theta}, f = {0, r.unfrozen, r.unfrozen};
    vec lambda(3, NaN);
    thermal_conductivity(soil, 2, factors, f.data(), theta.data(), 0.5562, 2.33, lambda.data());
    EXPECT_NEAR(lambda[1], r.expected, 1e-14) << r.theta << " " << r.unfrozen;
    EXPECT_EQ(lambda[2], lambda[1]);
  }
  // Factors per layer: a layer of another theta_s gets its own.
  soil.theta_sat[2] = 0.3;
  conductivity_factors(soil, 2, 0.5562, factors);
  EXPECT_NEAR(factors[2].dry, std::pow(0.58, 0.7), 1e-15);
  EXPECT_NEAR(factors[1].dry, std::pow(0.58, 0.5), 1e-15);
  // Per soil type of a table: each type its own, entry 0 (the header) none.
  std::vector<soil_entry> table(3);
  table[1] = soil;
  table[2] = loam_soil(3);
  table[2].DryThermalConduct.assign(4, 1.2);
  const auto by_type = conductivity_factor_table(table, 0.5562);
  EXPECT_TRUE(by_type[0].empty());
  EXPECT_NEAR(by_type[1][2].dry, std::pow(0.58, 0.7), 1e-15);
  ASSERT_EQ(by_type[2].size(), 4u);
  EXPECT_NEAR(by_type[2][3].dry, std::pow(1.2, 1 - LOAM_SAT), 1e-15);
  EXPECT_NEAR(by_type[2][3].water, std::pow(0.5562, LOAM_SAT), 1e-15);
}

TEST(SoilColumnHeat, LatentHeatOnlyAboveResidualWater) {
  const vec theta = {0, 0.30, 0.05, 0.04}, res = {0, 0.05, 0.05, 0.05};
  vec slope = {0, 0.2, 0.2, 0.2};
  latent_heat(3, theta.data(), res.data(), 334000, 1000, slope.data());
  EXPECT_NEAR(slope[1], 0.25 * 334000 * 1000 * 0.2, 1e-6);
  EXPECT_EQ(slope[2], 0);
  EXPECT_EQ(slope[3], 0);
}

TEST(SoilColumnHeat, FluxesAndWholeSecondDivergence) {
  const vec lambda = {0, 1.5, 1.0, 2.0}, d = {0, 0.1, 0.2, 0.3}, t = {NaN, 5, 3, 4};
  vec g(4, NaN);
  // Hand values: 2 * 1.5 * (5 - 0.8 * 10) / 0.1; (5 - 3) * 1.5 / -0.15;
  // (3 - 4) * 1.0 / -0.25; (4 - 6) * -2 * 2 / 0.3.
  const double bottom = conductive_heat_fluxes(3, lambda.data(), d.data(), t.data(), 6, 10, 0.8,
                                               g.data());
  EXPECT_NEAR(g[0], -90, 1e-12);
  EXPECT_NEAR(g[1], -20, 1e-12);
  EXPECT_NEAR(g[2], 4, 1e-12);
  EXPECT_NEAR(g[3], 2 * 2 * 2 / 0.3, 1e-12);
  EXPECT_EQ(bottom, g[3]);
  // A single layer: surface and lower boundary only.
  vec g1(2, NaN);
  const vec l1 = {NaN, 1.5}, d1 = {NaN, 0.1}, t1 = {NaN, 5};
  EXPECT_NEAR(conductive_heat_fluxes(1, l1.data(), d1.data(), t1.data(), 6, 10, 0.8, g1.data()),
              (5 - 6) * (-2 * 1.5 / 0.1), 1e-12);
  EXPECT_NEAR(g1[0], -90, 1e-12);
  const vec cv = {0, 2e6, 2e6, 2e6};
  for (double dt : {59.9, 59.0}) {
    vec dtemp(4, NaN);
    heat_flux_divergence(3, g.data(), d.data(), cv.data(), dt, dtemp.data());
    EXPECT_NEAR(dtemp[1], (-20 + 90) * 59 / (0.1 * 2e6), 1e-15) << dt;
    EXPECT_NEAR(dtemp[2], (4 + 20) * 59 / (0.2 * 2e6), 1e-15) << dt;
  }
}

TEST(SoilColumnHeat, LimiterStopsAtTheSourceNeighbour) {
  // One inner layer 2 of three, start temperatures 1 / 5 / 3 with a large step.
  struct row {
    const char* name;
    double g_top, g_bottom, step, expected;
  };
  const row rows[] = {
      {"upward: not warmer than below", 1, 1, 10, 3},
      {"leaving both ways: a small step passes", 1, -1, -1, 4},
      {"leaving both ways: not colder than the colder", 1, -1, -10, 1},
      {"downward: not warmer than above", -1, -1, 10, 1},
      {"entering both ways: not warmer than the warmer", -1, 1, 10, 3},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const vec t_ref = {NaN, 1, 5, 3}, g = {-1, r.g_top, r.g_bottom, 1}, dtemp = {0, 0, r.step, 0};
    vec t = t_ref, free = t_ref;
    update_temperatures(3, t.data(), t_ref.data(), dtemp.data(), g.data(), true, 3, 1);
    EXPECT_EQ(t[2], r.expected);
    update_temperatures(3, free.data(), t_ref.data(), dtemp.data(), g.data(), false, 3, 1);
    EXPECT_EQ(free[2], 5 + r.step);  // without the limiter only the change
  }
  // A single layer takes the boundary values on both sides, never element 0.
  const vec t_ref = {NaN, 5}, up = {1, 1}, down = {-1, -1}, dtemp = {NaN, 10};
  vec t = t_ref;
  update_temperatures(1, t.data(), t_ref.data(), dtemp.data(), up.data(), true, 8, NaN);
  EXPECT_EQ(t[1], 8);
  t = t_ref;
  update_temperatures(1, t.data(), t_ref.data(), dtemp.data(), down.data(), true, NaN, 7);
  EXPECT_EQ(t[1], 7);
}

// Layers of one uniform column for the implicit and explicit methods.
struct uniform_column {
  int n;
  double d, lambda, cv;
  vec dv, lv, cvv, a, b, c, r, x, zero;
  uniform_column(int layers, double thickness, double conductivity, double capacity)
      : n(layers), d(thickness), lambda(conductivity), cv(capacity),
        dv(size(), thickness), lv(size(), conductivity), cvv(size(), capacity), a(size()),
        b(size()), c(size()), r(size()), x(size()), zero(size(), 0.0) {}
  size_t size() const { return static_cast<size_t>(n) + 1; }
  void implicit(const ImplicitHeatStep& s, vec& t, const vec& macro, const vec& q) {
    solve_heat_implicit(s, lv.data(), cvv.data(), dv.data(), t.data(), a.data(), b.data(),
                        c.data(), r.data(), x.data(), macro.data(), q.data());
    t = x;
  }
  void explicit_step(double dt, double nu_ta, double tl, vec& t) {
    vec g(size()), dtemp(size());
    const vec t_ref = t;
    conductive_heat_fluxes(n, lv.data(), dv.data(), t.data(), tl, nu_ta, 1.0, g.data());
    heat_flux_divergence(n, g.data(), dv.data(), cvv.data(), dt, dtemp.data());
    update_temperatures(n, t.data(), t_ref.data(), dtemp.data(), g.data(), true, tl, nu_ta);
  }
};

TEST(SoilColumnHeat, SteadyStateIsLinear) {
  // Surface nu T_a = 0.8 * 10 = 8 degC, lower boundary 2 degC, ten layers of
  // 0.1 m: the middle of layer i lies (i - 0.5) / 10 of the way down.
  uniform_column col(10, 0.1, 1.0, 2e6);
  const auto linear = [](int i) { return 8 + (2 - 8) * (i - 0.5) / 10; };
  vec t_implicit(11, 5.0), t_explicit(11, 5.0);
  ImplicitHeatStep s{10, 11, 1e6, 0.8, 10, 2, false, 0, false};
  for (int k = 0; k < 400; ++k) col.implicit(s, t_implicit, col.zero, col.zero);
  for (int k = 0; k < 20000; ++k) col.explicit_step(3000, 8, 2, t_explicit);
  for (int i = 1; i <= 10; ++i) {
    EXPECT_NEAR(t_implicit[static_cast<size_t>(i)], linear(i), 1e-6) << "layer " << i;
    EXPECT_NEAR(t_explicit[static_cast<size_t>(i)], linear(i), 1e-6) << "layer " << i;
  }
  // A heat flux H into the bottom: the gradient H / lambda below the column
  // [K m-1], T(i) = 8 - ... with the same lambda everywhere.
  ImplicitHeatStep flux = s;
  flux.flux_boundary = true;
  flux.lower_flux = 0.5;  // [W m-2] upward
  vec t_flux(11, 8.0);
  for (int k = 0; k < 2000; ++k) col.implicit(flux, t_flux, col.zero, col.zero);
  for (int i = 1; i <= 10; ++i)
    EXPECT_NEAR(t_flux[static_cast<size_t>(i)], 8 + 0.5 / 1.0 * (i - 0.5) * 0.1, 1e-5)
        << "layer " << i;
}

TEST(SoilColumnHeat, SurfaceWaveIsDampedAndDelayed) {
  // Daily wave of 5 K around 10 degC; kappa = 5e-7 m2 s-1 gives the damping
  // depth D = sqrt(2 kappa / omega) = 0.1173 m; layers of 0.01 m (< D / 10)
  // to 0.8 m (> 5 D), 500 steps per period.
  const double period = 86400, omega = 2 * std::numbers::pi / period;
  const double kappa = 1.0 / 2e6, depth_d = std::sqrt(2 * kappa / omega);
  uniform_column col(80, 0.01, 1.0, 2e6);
  const int steps = 500;
  const double dt = period / steps;
  vec t(81, 10.0);
  const double probe = 2 * depth_d;  // between the middles of two layers
  const auto upper = static_cast<size_t>(probe / 0.01 + 0.5);
  const double w = (probe - (static_cast<double>(upper) - 0.5) * 0.01) / 0.01;
  double lowest = 1e9, highest = -1e9, time_of_max = 0;
  for (int day = 0; day < 12; ++day) {
    for (int k = 1; k <= steps; ++k) {
      const double time = (day * steps + k) * dt;
      ImplicitHeatStep s{80, 11, dt, 1.0, 10 + 5 * std::sin(omega * time), 10, false, 0, false};
      col.implicit(s, t, col.zero, col.zero);
      if (day < 11) continue;
      const double at_probe = (1 - w) * t[upper] + w * t[upper + 1];
      lowest = std::min(lowest, at_probe);
      if (at_probe > highest) {
        highest = at_probe;
        time_of_max = std::fmod(time, period);
      }
    }
  }
  const double amplitude = (highest - lowest) / 2;
  EXPECT_NEAR(amplitude, 5 * std::exp(-2.0), 0.02 * 5 * std::exp(-2.0));
  // Maximum where omega t - z / D = pi / 2.
  const double expected_max = (std::numbers::pi / 2 + 2) / omega;
  EXPECT_NEAR(time_of_max, expected_max, 0.02 * 2 / omega);
}

// Neumann's one-phase constant eta: eta exp(eta^2) erf(eta) = Ste / sqrt(pi).
double neumann_eta(double stefan) {
  double lo = 0, hi = 2;
  for (int k = 0; k < 200; ++k) {
    const double mid = (lo + hi) / 2;
    (mid * std::exp(mid * mid) * std::erf(mid) < stefan / std::sqrt(std::numbers::pi) ? lo : hi) =
        mid;
  }
  return lo;
}

TEST(SoilColumnHeat, FreezingFrontAdvancesAsRootOfTime) {
  // Wet soil at its freezing point, surface suddenly at -10 degC. The latent
  // heat of theta = 0.3 is released over a 0.5 K band below 0 degC through the
  // apparent heat capacity.
  const double cv = 2e6, lambda = 2.0, band = 0.5, theta_w = 0.3;
  const double latent = 334000 * 1000 * theta_w;  // [J m-3]
  // The front is followed at the middle of the band.
  const double eta = neumann_eta(cv * (10 - band / 2) / latent);
  uniform_column col(200, 0.01, lambda, cv);
  vec t(201, 0.0);
  const vec theta(201, theta_w), res(201, 0.0);
  const double dt = 600;
  auto front = [&] {
    for (size_t i = 1; i < 200; ++i)
      if (t[i] <= -band / 2 && t[i + 1] > -band / 2) {
        const double f = (t[i] + band / 2) / (t[i] - t[i + 1]);
        return (static_cast<double>(i) - 0.5 + f) * 0.01;
      }
    return 0.0;
  };
  std::vector<double> measured;
  const int days[] = {2, 8};
  int done = 0;
  for (int day : days) {
    for (; done < day * 144; ++done) {
      vec slope(201);
      for (size_t i = 1; i <= 200; ++i) slope[i] = (t[i] <= 0 && t[i] > -band) ? 1 / band : 0;
      latent_heat(200, theta.data(), res.data(), 334000, 1000, slope.data());
      for (size_t i = 1; i <= 200; ++i) col.cvv[i] = cv + slope[i];
      ImplicitHeatStep s{200, 11, dt, 1.0, -10, 0, false, 0, false};
      col.implicit(s, t, col.zero, col.zero);
    }
    measured.push_back(front());
  }
  const double kappa = lambda / cv;
  for (size_t k = 0; k < 2; ++k) {
    const double expected = 2 * eta * std::sqrt(kappa * days[k] * 86400.0);
    EXPECT_NEAR(measured[k], expected, 0.05 * expected) << "day " << days[k];
  }
  EXPECT_NEAR(measured[1] / measured[0], 2.0, 0.05);  // four times the time, twice the depth
}

TEST(SoilColumnHeat, SchemeByMethod) {
  struct row {
    int method;
    HeatScheme scheme;
  };
  const row rows[] = {{1, HeatScheme::explicit_limited},
                      {10, HeatScheme::explicit_limited},
                      {11, HeatScheme::implicit},
                      {12, HeatScheme::implicit_with_water},
                      {15, HeatScheme::implicit_with_water}};
  for (const row& r : rows) EXPECT_EQ(heat_scheme(r.method), r.scheme) << r.method;
}

TEST(SoilColumnHeat, ImplicitMethodsAndWaterHeat) {
  // One layer, no conduction to speak of: the hand solution of backward Euler
  // mixing, x = (T_ref + k w T_w) / (1 + k w), k = K dt / (d Cv).
  uniform_column col(1, 0.1, 1e-12, 2e6);
  const double dt = 3600, k = 4187000.0 * dt / (0.1 * 2e6);
  const vec q = {-1e-6, 0};  // infiltration at the surface
  const vec macro = {NaN, 1e-3};  // [mm s-1]
  col.dv[0] = col.lv[0] = col.cvv[0] = NaN;  // a single layer never reads a layer 0
  struct row {
    const char* name;
    int method;
    bool snow;
    vec q;
    double expected;
  };
  const double kq = k * 1e-6, km = k * 1e-6;
  const row rows[] = {
      {"no heat carried by water", 11, false, q, 0.0},
      {"surface and macropore water at 10 degC", 12, false, q, (kq * 10 + km * 10) / (1 + kq + km)},
      {"macropore water from snow at 0 degC", 12, true, q, (kq * 10) / (1 + kq + km)},
      {"method 13 as 12", 13, false, q, (kq * 10 + km * 10) / (1 + kq + km)},
      // Rising water from below the column at T_L = 10 degC (T_a 0 here).
      {"water from below", 12, false, {0, 1e-6}, (kq * 10 + km * 0) / (1 + kq + km)},
      // Water leaving the layer takes its own temperature: only the
      // macropore water warms it.
      {"outflow only", 12, false, {1e-6, -1e-6}, (km * 10) / (1 + km)},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    vec t = {NaN, 0.0};
    const bool from_below = r.q[1] > 0;
    ImplicitHeatStep s{1, r.method, dt, 1.0, from_below ? 0.0 : 10.0, from_below ? 10.0 : 0.0,
                       false, 0, r.snow};
    col.implicit(s, t, macro, r.q);
    EXPECT_NEAR(t[1], r.expected, 1e-9);
  }
  // Two layers without conduction: water moving down from layer 1 (10 degC)
  // brings its heat into layer 2 (0 degC); layer 1 keeps its temperature.
  uniform_column two(2, 0.1, 1e-12, 2e6);
  vec t2 = {NaN, 10.0, 0.0};
  const vec down = {0, -1e-6, 0};
  ImplicitHeatStep s2{2, 12, dt, 1.0, 10, 0, false, 0, false};
  two.implicit(s2, t2, two.zero, down);
  EXPECT_NEAR(t2[1], 10.0, 1e-9);
  EXPECT_NEAR(t2[2], kq * 10 / (1 + kq), 1e-9);
  // Conduction alone through a single layer: x = (T_ref + u T_a + u T_L) / (1 + 2u).
  uniform_column one(1, 0.5, 1.0, 2e6);
  one.dv[0] = one.lv[0] = one.cvv[0] = NaN;
  vec t = {NaN, 4.0};
  ImplicitHeatStep s{1, 11, dt, 0.5, 10, 2, false, 0, false};
  one.implicit(s, t, one.zero, one.zero);
  const double u = 2 * dt * 1.0 / (0.25 * 2e6);
  EXPECT_NEAR(t[1], (4 + u * 5 + u * 2) / (1 + 2 * u), 1e-12);
}

}  // namespace
