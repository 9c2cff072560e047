// Infiltration into dry soil columns against published solutions: ponded
// infiltration after Philip (1957) and the ponding time under rain after
// Mein and Larson (1973), the latter checked against an independent solution
// of the Richards equation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "soilwater/soilcolumn_step.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

namespace {

size_t at(int k) { return static_cast<size_t>(k); }

soil_entry soil_of(double ksat, double ts, double tr, double alpha, double n, const std::string& layers,
                   const std::string& thickness) {
  captured_diag cap;
  soil_entry e;
  const size_t horizons = 1 + static_cast<size_t>(std::count(layers.begin(), layers.end(), ' '));
  auto ph = [&](double v) {
    char one[32];
    std::snprintf(one, sizeof one, "%.9e ", v);
    std::string out;
    for (size_t i = 0; i < horizons; ++i) out += one;
    return out;
  };
  parse_soil_block(*cap.diag, e,
                   "1 test method MultipleHorizons {\n layers = " + layers + "; ksat = " + ph(ksat) +
                       "; theta_sat = " + ph(ts) + "; theta_res = " + ph(tr) + "; alpha = " + ph(alpha) +
                       "; Par_n = " + ph(n) + "; thickness = " + thickness + ";\n}\n");
  return e;
}

struct runner {
  explicit runner(const soil_entry& s)
      : soil(s), n(s.layer_count), z(sz()), theta(sz()), h(sz()), q(sz()), veg(2), work(n, 1) {
    settings.layers = n;
    settings.vegetation_layers = 1;
    z[0] = 100;
    for (int k = 1; k <= n; ++k) z[at(k)] = z[at(k - 1)] - soil.thickness[at(k)];
    input.soil = &soil;
    input.z = z.data();
    input.vegetation = veg.data();
    input.river.cellsize = 100;
    state.theta = theta.data();
    state.h = h.data();
    state.q = q.data();
  }
  size_t sz() const { return at(n) + 1; }
  void start(double wet) {
    for (int k = 1; k < n; ++k) theta[at(k)] = wet;
    theta[at(n)] = soil.theta_sat[at(n)];
    state.groundwater_level = n - 1;
    state.groundwater_distance = z[at(n - 1)] - z[0];
    state.theta_gw = wet;
    input.table_from_state = true;
  }
  ColumnResult call(double seconds) {
    settings.call_seconds = seconds;
    settings.step_seconds = seconds;
    ColumnResult r = soil_column_cell_step(settings, input, state, work);
    input.table_from_state = false;
    return r;
  }
  soil_entry soil;
  int n;
  std::vector<double> z, theta, h, q;
  std::vector<VegetationInput> veg;
  ColumnWork work;
  ColumnStepSettings settings;
  ColumnInput input;
  ColumnState state;
};

}  // namespace

// Ponded infiltration into a dry column of the Celia et al. (1990) problem-2
// soil (Ks 9.22e-5 m s-1), 1 cm layers over 0.2 m, 5 cm below, 3 m deep;
// the input (20 mm s-1, 217 Ks) keeps the surface ponded. Philip (1957):
// I = S t^1/2 + A t, so early the cumulative infiltration grows as t^1/2,
// and the rate tends to Ks once gravity dominates, after the gravity time
// (S / Ks)^2, about 860 s for this soil (S about 2.7e-3 m s-1/2).
// Settings and why:
// - max_error 1e-9 and 3000 passes: the running-mean relaxation shrinks the
//   change per pass as 1/c, so the defaults (1e-5, 100 passes) stop the
//   passes short of the fixed point (late rate 0.96 Ks here against 0.99);
// - calls of 1 s while the slope is measured: a 1 cm layer fills within the
//   first second, and a longer first call mixes the filling of the top layer
//   into the curve (10 s calls give a slope near 0.65 over the same window);
// - slope window 20 s to 280 s: after the top layer is wet, and below a third
//   of the gravity time, where S t^1/2 still dominates A t.
TEST(SoilColumnInfiltration, PondedInfiltrationFollowsPhilip) {
  const double ks = 9.22e-5;  // [m s-1]
  runner c(soil_of(ks, 0.368, 0.102, 3.35, 2, "20 56", "0.01 0.05"));
  c.settings.method = 2;
  c.settings.max_error = 1e-9;
  c.settings.max_iterations = 3000;
  c.start(0.12);
  const double ponding_rate = 20;  // [mm s-1]
  double t = 0, infiltrated = 0, rate = 0;
  double at_20 = 0, at_280 = 0;
  auto advance = [&](double seconds) {
    c.input.water_input = ponding_rate * seconds;
    const ColumnResult r = c.call(seconds);
    EXPECT_GT(r.excess, 0) << "the surface must stay ponded at " << t;
    t += seconds;
    infiltrated += r.infiltration;
    rate = r.infiltration / seconds / 1000;
  };
  while (t < 280 - 1e-9) {
    advance(1);
    if (std::fabs(t - 20) < 1e-9) at_20 = infiltrated;
  }
  at_280 = infiltrated;
  const double slope = std::log(at_280 / at_20) / std::log(280.0 / 20.0);
  EXPECT_NEAR(slope, 0.5, 0.1);
  const double early_rate = rate;
  EXPECT_GT(early_rate, 1.2 * ks);  // sorption still adds to gravity
  while (t < 3600 - 1e-9) advance(60);
  EXPECT_NEAR(rate / ks, 1.0, 0.1) << "late rate after " << t << " s";
  EXPECT_LT(rate, early_rate);
}

// Ponding under constant rain (1 cm h-1 on Ks 0.65 cm h-1, Mein and Larson
// 1973) on a sharp-front soil (van Genuchten n 6, alpha 3 m-1, theta_r 0.1,
// theta_s 0.5, starting at 0.15), 1 cm layers. Mein-Larson's
// tp = psi_f dtheta / (r / Ks - 1) / r with psi_f = integral of K_r dpsi over
// this soil table (0.268 m) is 17.4 h; the Richards equation itself ponds
// this soil earlier: an independent mixed-form solver (Celia et al. 1990,
// Picard, the same tabulated curves, 5 mm nodes and 5 s steps, unchanged
// within 0.5 % under halving both) gives 15.18 h, and that is the oracle
// here. Mein-Larson's sharp-front estimate is itself 13 % late for this soil
// and further off for broader soils (n 2: 8.98 h against 5.31 h).
// Settings and why: the dynamic sub-step with water input is one layer
// thickness over Ks (1.5 h for 1 cm here), far too long for the front (1 h
// calls pond after 5 h), and the retention curve of a sharp soil is flat near
// saturation (theta within 3e-4 of theta_s up to 0.1 m suction), so heads
// there need a tight tolerance (60 s calls with the defaults pond after
// 9.2 h). Converged in time (5 s calls) the column ponds at 0.905 of the
// Richards time: a column solved in water contents cannot resolve heads in
// the nearly saturated zone, nor a positive pressure head. 30 s calls give
// 0.88.
TEST(SoilColumnInfiltration, PondingTimeUnderRainMatchesRichards) {
  const double ks = 0.65 / 100 / 3600;  // [m s-1]
  runner c(soil_of(ks, 0.5, 0.1, 3.0, 6.0, "50 40", "0.01 0.05"));
  c.settings.method = 3;
  c.settings.max_error = 1e-9;
  c.settings.max_iterations = 3000;
  c.start(0.15);
  const double richards_tp = 15.18 * 3600;  // [s]
  const double call = 30;                   // [s]
  double t = 0, ponded = -1;
  while (t < 2 * richards_tp && ponded < 0) {
    c.input.water_input = 10 * call / 3600;  // [mm per call] 1 cm h-1
    const ColumnResult r = c.call(call);
    t += call;
    if (r.excess > 0) ponded = t;
  }
  EXPECT_NEAR(ponded / richards_tp, 1.0, 0.15) << "ponded after " << ponded / 3600 << " h";
}
