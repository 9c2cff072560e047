// Heat sub-steps of a soil column against closed forms: conduction into a
// semi-infinite unfrozen column after a step of the surface temperature
// (erfc profile) and under a daily sine (amplitude e^(-z/d), lag z/d,
// Carslaw & Jaeger 1959, 2.4 and 2.6), explicit and implicit; a freezing
// front that deepens as the square root of time with the coefficient of the
// Neumann-Stefan solution (Carslaw & Jaeger 1959, 11.2); the heat balance
// of every sub-step; the sub-step counts and their alignment with the water
// sub-steps; n-factor, freezing temperatures, thaw depth and frozen soil
// below the table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "soilwater/soilcolumn_heatstep.h"
#include "soilwater/unsatzon_heat.h"
#include "soilwater/unsatzon_section.h"
#include "support/test_support.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DAY = 86400;  // [s]

size_t at(int k) { return static_cast<size_t>(k); }

// A column of equal layers of one soil with the heat values of the
// module's defaults; van Genuchten alpha [m-1] and n set how sharply the
// water freezes below 0 degC.
struct heat_column {
  heat_column(int layers, double thickness, double water, double start, int method = 2,
              double alpha = 3.6, double vg_n = 1.56)
      : n(layers),
        dz(thickness),
        factors(at(layers) + 1),
        theta(at(layers) + 1, water),
        t(at(layers) + 1, start),
        q(at(layers) + 1, 0.0),
        macro(at(layers) + 1, 0.0),
        work(layers) {
    captured_diag cap;
    char text[300];
    std::snprintf(text, sizeof text,
                  "1 test method MultipleHorizons {\n layers = %d; ksat = 1e-5; theta_sat = 0.43; "
                  "theta_res = 0.078; alpha = %g; Par_n = %g; thickness = %g;\n}\n",
                  layers, alpha, vg_n, thickness);
    parse_soil_block(*cap.diag, soil, text);
    complete_soil_heat_values(soil, unsatzon_parameters{});
    conductivity_factors(soil, n, hs.lambda_water, factors.data());
    hs.method = method;
    in.factors = factors.data();
    in.t_air = start;
    in.t_lower = start;
  }
  void step(double dt) {
    heat_evaluation(hs, soil, n, in, theta.data(), dt, true, t.data(), work, q.data(),
                    macro.data());
  }
  double depth(int k) const { return (k - 0.5) * dz; }  // [m] of the layer's middle

  int n;
  double dz;
  soil_entry soil;
  std::vector<ConductivityFactors> factors;
  std::vector<double> theta, t, q, macro;
  HeatWork work;
  HeatSettings hs;
  HeatColumnInput in;
};

// ---- conduction ----

struct conduction_case {
  const char* name;
  int method;
  double dt;  // [s] explicit: below c dz^2 / (2 lambda), about 3000 s here
};
const conduction_case CONDUCTION[] = {{"explicit", 2, 600}, {"implicit", 11, 600}};

// A uniform column at 5 degC whose surface jumps to 20 degC: after two days
// T = T0 + (Ts - T0) erfc(z / (2 sqrt(kappa t))), kappa = lambda / c. The
// column (2 m) is eight diffusion lengths deep, so its bottom stays at T0.
TEST(SoilColumnHeat, SurfaceStepGivesTheErfcProfile) {
  for (const conduction_case& row : CONDUCTION) {
    SCOPED_TRACE(row.name);
    heat_column col(40, 0.05, 0.3, 5.0, row.method);
    col.in.t_air = 20;
    const int steps = static_cast<int>(2 * DAY / row.dt);
    for (int i = 0; i < steps; ++i) col.step(row.dt);
    // Unfrozen, at constant water: one conductivity and capacity throughout.
    const double kappa = col.work.lambda[1] / col.work.capacity[1];
    EXPECT_DOUBLE_EQ(col.work.lambda[1], col.work.lambda[col.n]);
    const double spread = 2 * std::sqrt(kappa * 2 * DAY);
    double worst = 0;
    for (int k = 1; k <= col.n; ++k) {
      const double exact = 5 + 15 * std::erfc(col.depth(k) / spread);
      worst = std::max(worst, std::fabs(col.t[at(k)] - exact));
    }
    // Below 1 % of the 15 K step (about 0.3 % seen).
    EXPECT_LT(worst, 0.1);
  }
}

// A daily sine of the air temperature (10 +- 8 degC, n-factor 1) after six
// periods: amplitude and lag from the Fourier terms of the last period.
TEST(SoilColumnHeat, DailyWaveDampsAndLagsWithDepth) {
  for (const conduction_case& row : CONDUCTION) {
    SCOPED_TRACE(row.name);
    heat_column col(60, 0.02, 0.3, 10.0, row.method);
    const double dt = 240;  // below c dz^2 / (2 lambda), about 490 s
    const double omega = 2 * PI / DAY;
    const int per_day = static_cast<int>(DAY / dt);
    std::vector<double> cosine(at(col.n) + 1, 0.0), sine(at(col.n) + 1, 0.0);
    for (int i = 0; i < 7 * per_day; ++i) {
      col.in.t_air = 10 + 8 * std::sin(omega * (i + 0.5) * dt);
      col.step(dt);
      if (i < 6 * per_day) continue;
      const double time = (i + 1) * dt;
      for (int k = 1; k <= col.n; ++k) {
        cosine[at(k)] += (col.t[at(k)] - 10) * std::cos(omega * time);
        sine[at(k)] += (col.t[at(k)] - 10) * std::sin(omega * time);
      }
    }
    const double kappa = col.work.lambda[1] / col.work.capacity[1];
    const double d = std::sqrt(2 * kappa / omega);  // damping depth, about 0.1 m
    for (int k : {3, 5, 8}) {
      SCOPED_TRACE("layer " + std::to_string(k));
      const double z = col.depth(k);
      const double amplitude = 2.0 / per_day * std::hypot(cosine[at(k)], sine[at(k)]);
      const double lag = -std::atan2(cosine[at(k)], sine[at(k)]);
      EXPECT_NEAR(amplitude / 8, std::exp(-z / d), 0.05 * std::exp(-z / d));
      EXPECT_NEAR(lag, z / d, 0.05 * z / d);
    }
  }
}

// ---- freezing front ----

// Root of chi e^(chi^2) erf(chi) = St / sqrt(pi) (one-phase Neumann problem).
double stefan_coefficient(double stefan) {
  double lo = 0, hi = 3;
  for (int i = 0; i < 200; ++i) {
    const double mid = (lo + hi) / 2;
    (mid * std::exp(mid * mid) * std::erf(mid) < stefan / std::sqrt(PI) ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

// [m] depth where the profile crosses t_f, from the layer middles.
double front_depth(const heat_column& col, double t_f) {
  for (int k = 1; k < col.n; ++k)
    if (col.t[at(k)] <= t_f && col.t[at(k + 1)] > t_f)
      return col.depth(k) + (t_f - col.t[at(k)]) / (col.t[at(k + 1)] - col.t[at(k)]) * col.dz;
  return 0;
}

// Wet soil at its melting point under a surface held at -5 degC: the front
// of the freezing temperature deepens as X = 2 chi sqrt(kappa_f t), with
// St = c_f (T_f - T_s) / L_v, L_v the latent heat of the water above the
// residual content. A sharp freezing curve (alpha 10 m-1, n 3) keeps the
// front narrow; the explicit and implicit schemes alike.
TEST(SoilColumnHeat, FreezingFrontDeepensAsTheSquareRootOfTime) {
  for (const conduction_case& row : CONDUCTION) {
    SCOPED_TRACE(row.name);
    heat_column col(100, 0.02, 0.3, 0.0, row.method, 10, 3);
    col.in.t_air = -5;
    std::vector<double> t_f(at(col.n) + 1);
    freezing_temperatures(col.soil, col.n, col.hs.frozen_share, t_f.data());
    const double dt = 60;
    std::vector<double> times, fronts;
    for (int day = 1; day <= 8; ++day) {
      for (int i = 0; i < static_cast<int>(DAY / dt); ++i) col.step(dt);
      if (day == 2 || day == 8) {
        times.push_back(day * DAY);
        fronts.push_back(front_depth(col, t_f[1]));
      }
    }
    ASSERT_GT(fronts[0], 0.05);
    const double slope = std::log(fronts[1] / fronts[0]) / std::log(times[1] / times[0]);
    EXPECT_NEAR(slope, 0.5, 0.1);

    // Frozen properties: the top layer, well below the front's temperature.
    const double lambda_f = col.work.lambda[1];
    const double c_f = col.work.capacity[1];
    const double l_v = (0.3 - 0.078) * col.hs.rho_water * col.hs.latent;
    const double chi = stefan_coefficient(c_f * (t_f[1] + 5) / l_v);
    const double expected = 2 * chi * std::sqrt(lambda_f / c_f * times[1]);
    // Within 5 % (about 3 % seen: the freezing curve still spreads the front).
    EXPECT_NEAR(fronts[1], expected, 0.05 * expected) << "chi " << chi;
  }
}

// ---- heat balance ----

// Every sub-step of a freezing column: the heat through the top minus the
// heat through the bottom equals the change of sensible and latent storage
// (capacities of the sub-step's start, fluxes of the temperatures the
// scheme uses: the start for explicit, the end for implicit).
TEST(SoilColumnHeat, EverySubStepClosesTheColumnHeatBalance) {
  for (const conduction_case& row : CONDUCTION) {
    SCOPED_TRACE(row.name);
    heat_column col(12, 0.1, 0.3, 2.0, row.method, 3.6, 1.56);
    for (int k = 1; k <= col.n; ++k) col.t[at(k)] = 2.0 - 0.3 * k;
    col.in.t_air = -8;
    col.in.t_lower = -2;
    const double dt = 300;
    double worst = 0;
    for (int i = 0; i < 200; ++i) {
      const std::vector<double> before = col.t;
      col.step(dt);
      const std::vector<double>& flux_t = row.method <= 10 ? before : col.t;
      const double* lambda = col.work.lambda;
      const int n = col.n;
      // Positive upward, as the scheme's own convention.
      const double top = 2 * lambda[1] * (flux_t[1] - col.in.t_air) / col.dz;
      const double bottom = 2 * lambda[n] * (col.in.t_lower - flux_t[at(n)]) / col.dz;
      double storage = 0, scale = 0;
      for (int k = 1; k <= n; ++k) {
        storage += col.work.capacity[k] * col.dz * (col.t[at(k)] - before[at(k)]);
        scale += col.work.capacity[k] * col.dz * std::fabs(col.t[at(k)] - before[at(k)]);
      }
      const double net_in = (bottom - top) * dt;  // [J m-2]
      worst = std::max(worst, std::fabs(net_in - storage) / (scale + std::fabs(net_in)));
    }
    EXPECT_LT(worst, 1e-12);
    EXPECT_LT(col.t[1], 0);  // the top froze
  }
}

// ---- counts ----

struct count_case {
  const char* name;
  double step_minutes;
  double t_air, t_top, t_below;  // [degC]
  double shortest, longest;      // [s]
  int expected;                  // -1: ends with a count of at most the step's seconds
};

TEST(SoilColumnHeat, SubStepCountsFromTheTrialOverTheModelStep) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const count_case rows[] = {
      // Small changes: the smallest count with sub-steps of at most 1800 s.
      {"small changes, a day", 1440, 5, 5, 5, 60, 1800, 48},
      {"small changes, an hour", 60, 5, 5, 5, 60, 1800, 2},
      // T_a = T_1 with a change of T_1: down to the shortest sub-step.
      {"air at the top, a day", 1440, 5, 5, 15, 60, 1800, 1440},
      {"air at the top, an hour", 60, 5, 5, 15, 60, 1800, 60},
      {"bounds of 0", 1440, 5, 5, 15, 0, 0, -1},
      {"no temperature", 1440, nan, 5, 5, 60, 1800, 48},
  };
  for (const count_case& row : rows) {
    SCOPED_TRACE(row.name);
    heat_column col(6, 0.1, 0.3, row.t_below);
    col.t[1] = row.t_top;
    col.in.t_air = row.t_air;
    col.hs.shortest = row.shortest;
    col.hs.longest = row.longest;
    const std::vector<double> stack = col.t;
    const double seconds = row.step_minutes * 60;
    const int count = heat_substep_count(col.hs, col.soil, col.n, col.in, col.theta.data(), seconds,
                                         col.t.data(), col.work);
    if (row.expected > 0)
      EXPECT_EQ(count, row.expected);
    else
      EXPECT_LE(count, seconds);
    EXPECT_EQ(col.t, stack);  // the trial leaves the temperatures alone
    for (int k = 1; k <= col.n; ++k) EXPECT_EQ(col.work.t[k], stack[at(k)]);
  }
}

TEST(SoilColumnHeat, HeatSubStepsAlignWithWaterSubSteps) {
  struct row {
    int water, heat;
    SubstepCounts expected;
  } rows[] = {
      {1, 3, {1, 4, 4}},  // fixed water step: 3 heat sub-steps become 4
      {1, 2, {2, 2, 1}}, {1, 1, {1, 1, 1}}, {3, 7, {3, 9, 3}},
      {4, 5, {5, 5, 1}}, {5, 1, {5, 5, 1}}, {2, 48, {2, 50, 25}},
  };
  for (const row& r : rows) {
    const SubstepCounts c = align_substeps(r.water, r.heat);
    EXPECT_EQ(c.water, r.expected.water) << r.water << " " << r.heat;
    EXPECT_EQ(c.heat, r.expected.heat) << r.water << " " << r.heat;
    EXPECT_EQ(c.ratio, r.expected.ratio) << r.water << " " << r.heat;
  }
}

// ---- n-factor and frozen-soil results ----

TEST(SoilColumnHeat, NFactorFromSeriesLandUseOrModule) {
  HeatSettings hs;
  hs.nf_freezing = 0.4;
  hs.nf_thawing = 1.1;
  landuse_entry series;
  series.n_factor = {0.7};
  landuse_entry own;
  own.nf_freezing = 0.3;
  own.nf_thawing = 0.9;
  landuse_entry none;
  none.nf_freezing = none.nf_thawing = -9999.9;
  struct row {
    const landuse_entry* landuse;
    double t_air, expected;
  } rows[] = {{&series, -1, 0.7}, {&series, 3, 0.7}, {&own, -1, 0.3},    {&own, 0, 0.9},
              {&none, -1, 0.4},   {&none, 0, 1.1},   {nullptr, -5, 0.4}, {nullptr, 5, 1.1}};
  for (const row& r : rows)
    EXPECT_EQ(surface_n_factor(r.landuse, hs, 5, 3, 2010, r.t_air), r.expected) << r.t_air;
}

// T_f = -10 j / N in floating point: a table of N = 5 steps gives -6 degC
// for the third step, where N / 10 in integers would divide by zero.
TEST(SoilColumnHeat, FreezingTemperatureOfTheTable) {
  struct row {
    std::vector<double> table;  // unfrozen share at -10 i / N, i = 0..N
    double expected;
  } rows[] = {{{1, 0.9, 0.6, 0.4, 0.2, 0.1}, -6},
              {{1, 0.4, 0.3, 0.2, 0.1, 0.0}, -2},
              {{1, 0.9, 0.8, 0.7, 0.6, 0.55}, -10},
              {{1, 0.5, 0.3, 0.2, 0.1, 0.0}, -2}};
  for (const row& r : rows) {
    soil_entry soil;
    soil.freeze_steps = 5;
    soil.unfrozen_fraction_table = {{}, r.table};
    double t_f[2];
    freezing_temperatures(soil, 1, 0.5, t_f);
    EXPECT_DOUBLE_EQ(t_f[1], r.expected);
    EXPECT_EQ(t_f[0], t_f[1]);
  }
}

// Four layers of 0.25 m below a surface at 100 m, freezing at -0.5 degC.
TEST(SoilColumnHeat, ThawDepthAndFrozenSoilBelowTheTable) {
  const double z[] = {100, 99.75, 99.5, 99.25, 99};
  const double d[] = {0, 0.25, 0.25, 0.25, 0.25};
  const double t_f[] = {-0.5, -0.5, -0.5, -0.5, -0.5};
  struct row {
    const char* name;
    std::vector<double> t;  // 0..4
    double t_lower, thaw;
    double level, frozen;  // groundwater layer, frozen thickness below the table
  } rows[] = {
      {"warm throughout", {0, 3, 2, 2, 1}, 1, 0, 1, 0},
      // No thaw front: the whole frozen column from the surface down.
      {"frozen throughout", {0, -3, -2, -2, -1}, -1, 0, 1, 1.0},
      // Between the middles of layers 2 (-0.375 m, 1 degC) and 3 (-0.625 m,
      // -2 degC) the profile reaches -0.5 degC half-way: at -0.5 m.
      // Layer 3, whose top lies at the thaw depth, counts as frozen.
      {"thawed top", {0, 2, 1, -2, -3}, -3, -0.5, 3, 0.5},
      // A warm bottom layer over a cold boundary wins over the front above.
      {"warm bottom", {0, 2, -2, -2, 1}, -3, -1.0, 1, 0},
      // Between layers 1 (-0.125 m, 2 degC) and 2 (-0.375 m, -2 degC).
      {"warm bottom, warm boundary", {0, 2, -2, -2, 1}, 0, -0.28125, 1, 0.25},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const double thaw = thaw_depth(4, r.t.data(), t_f, z, r.t_lower);
    EXPECT_NEAR(thaw, r.thaw, 1e-12);
    EXPECT_NEAR(frozen_below_table(4, r.t.data(), t_f, z, d, thaw, r.level), r.frozen, 1e-12);
  }
}

}  // namespace
