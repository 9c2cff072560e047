// Soil-hydraulic look-ups against the closed-form van Genuchten (1980) and
// Mualem (1976) relations for four soils with the mean parameters of Carsel
// and Parrish (1988, Water Resour. Res. 24(5), table 3; alpha converted from
// 1/cm to 1/m, m = 1 - 1/n, tau = 0.5): exact at the table suctions, and
// between them the linear interpolation of the tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tables/soil_lookup.h"
#include "tables/soiltable.h"
#include "tests/tables/table_test_support.h"

namespace {

struct soil_params {
  const char* name;
  double theta_res, theta_sat, alpha, n;  // [-], [-], [m-1], [-]
};

const std::vector<soil_params> CARSEL_PARRISH = {
    {"sand", 0.045, 0.43, 14.5, 2.68},
    {"loam", 0.078, 0.43, 3.6, 1.56},
    {"siltloam", 0.067, 0.45, 2.0, 1.41},
    {"clay", 0.068, 0.38, 0.8, 1.09},
};

// The closed forms, written out here as the oracle.
double vg_theta(const soil_params& p, double h) {
  const double m = 1 - 1 / p.n;
  return p.theta_res + (p.theta_sat - p.theta_res) * std::pow(1 + std::pow(p.alpha * h, p.n), -m);
}

double mualem_k(const soil_params& p, double h) {
  const double m = 1 - 1 / p.n;
  const double se = std::pow(1 + std::pow(p.alpha * h, p.n), -m);
  return std::sqrt(se) * std::pow(1 - std::pow(1 - std::pow(se, 1 / m), m), 2);
}

// Two-layer old-form entry with the soil's parameters.
soil_entry entry_for(const soil_params& p) {
  captured_diag cap;
  soil_entry e;
  const std::string line = std::string("1 ") + p.name + " 25 35 1e-5 300 1 " +
                           std::to_string(p.theta_sat) + " " + std::to_string(p.theta_res) + " " +
                           std::to_string(p.alpha) + " " + std::to_string(p.n) + " 2 0.2 1000 1";
  parse_soil_line(*cap.diag, e, line, 2);
  return e;
}

const std::vector<double> H(SOIL_TABLE_SUCTIONS.begin(), SOIL_TABLE_SUCTIONS.end());

TEST(SoilLookup, ClosedFormSpotValues) {
  // Closed form evaluated independently (Python, double precision): sand at
  // 1 m and loam at 3.45 m.
  const soil_entry sand = entry_for(CARSEL_PARRISH[0]);
  EXPECT_NEAR(sand.theta_from_suction(1, 1.2), vg_theta(CARSEL_PARRISH[0], 1.2), 1e-15);
  EXPECT_NEAR(vg_theta(CARSEL_PARRISH[0], 1.0), 0.0493067774914912, 1e-15);
  EXPECT_NEAR(mualem_k(CARSEL_PARRISH[0], 1.0), 2.472960560897827e-08, 1e-20);
  const soil_entry loam = entry_for(CARSEL_PARRISH[1]);
  EXPECT_NEAR(loam.theta_from_suction(1, 3.45), 0.1632711583823836, 1e-14);
  EXPECT_NEAR(loam.relative_conductivity_from_theta(1, 0.1632711583823836, 1),
              2.382898112844387e-05, 1e-14);
}

TEST(SoilLookup, ExactAtTheTableSuctions) {
  for (const soil_params& p : CARSEL_PARRISH) {
    SCOPED_TRACE(p.name);
    const soil_entry e = entry_for(p);
    for (int layer = 0; layer <= 2; ++layer) {
      // From 0.002 m on each table suction is the upper end of an
      // interpolated step with weight 1.
      for (int i = 4; i <= 29; ++i)
        EXPECT_NEAR(e.theta_from_suction(layer, H[i]), vg_theta(p, H[i]), 1e-14) << "h = " << H[i];
      for (int i = 2; i <= 29; ++i) {
        const double theta = vg_theta(p, H[i]);
        EXPECT_NEAR(e.suction_from_theta(layer, theta), H[i], 1e-9 * H[i]) << "h = " << H[i];
        const double k = mualem_k(p, H[i]);
        EXPECT_NEAR(e.relative_conductivity_from_theta(layer, theta, 1.0), k, 1e-9 * k + 1e-300)
            << "h = " << H[i];
      }
    }
  }
}

TEST(SoilLookup, LinearBetweenTheTableSuctions) {
  for (const soil_params& p : CARSEL_PARRISH) {
    SCOPED_TRACE(p.name);
    const soil_entry e = entry_for(p);
    for (int i = 3; i <= 28; ++i) {
      const double t0 = vg_theta(p, H[i]), t1 = vg_theta(p, H[i + 1]);
      // Halfway in water content: the mean of the two suctions and of the
      // two conductivities.
      EXPECT_NEAR(e.suction_from_theta(1, (t0 + t1) / 2), (H[i] + H[i + 1]) / 2, 1e-7 * H[i + 1]);
      const double k0 = mualem_k(p, H[i]), k1 = mualem_k(p, H[i + 1]);
      EXPECT_NEAR(e.relative_conductivity_from_theta(1, (t0 + t1) / 2, 1.0), (k0 + k1) / 2,
                  1e-7 * k0 + 1e-300);
      // A quarter of the way in suction: three quarters of the upper water
      // content and one of the lower.
      EXPECT_NEAR(e.theta_from_suction(1, H[i] + (H[i + 1] - H[i]) / 4), 0.75 * t0 + 0.25 * t1,
                  1e-13);
    }
  }
}

TEST(SoilLookup, EndsAndFirstSteps) {
  const soil_params& p = CARSEL_PARRISH[1];
  const soil_entry e = entry_for(p);
  EXPECT_EQ(e.suction_from_theta(1, p.theta_sat), 0);
  EXPECT_EQ(e.suction_from_theta(1, 0.5), 0);
  EXPECT_EQ(e.suction_from_theta(1, p.theta_res), 150);
  EXPECT_EQ(e.suction_from_theta(1, 0.01), 150);
  EXPECT_EQ(e.relative_conductivity_from_theta(1, 0.5, 0.6), 1);
  EXPECT_EQ(e.relative_conductivity_from_theta(1, p.theta_res, 1), 0);
  EXPECT_EQ(e.relative_conductivity_from_theta(1, 0.01, 1), 0);
  // The limit replaces a larger water content.
  const double theta_10 = vg_theta(p, H[10]);
  EXPECT_NEAR(e.relative_conductivity_from_theta(1, p.theta_sat, theta_10), mualem_k(p, H[10]),
              1e-9 * mualem_k(p, H[10]));
  // The first two steps (0 to 0.0005 m and 0.0005 to 0.001 m) are not
  // interpolated: each gives the water content of its lower suction.
  EXPECT_EQ(e.theta_from_suction(1, 0.0004), p.theta_sat);
  EXPECT_EQ(e.theta_from_suction(1, 0.0005), p.theta_sat);
  EXPECT_NEAR(e.theta_from_suction(1, 0.0007), vg_theta(p, 0.0005), 1e-15);
  EXPECT_NEAR(e.theta_from_suction(1, 0.001), vg_theta(p, 0.0005), 1e-15);
  EXPECT_EQ(e.theta_from_suction(1, 0), p.theta_sat);
  EXPECT_EQ(e.theta_from_suction(1, -1), p.theta_sat);
  EXPECT_EQ(e.theta_from_suction(1, 150), p.theta_res);
  EXPECT_EQ(e.theta_from_suction(1, 1000), p.theta_res);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(e.suction_from_theta(1, nan)));
  EXPECT_TRUE(std::isnan(e.relative_conductivity_from_theta(1, nan, 1)));
  EXPECT_TRUE(std::isnan(e.theta_from_suction(1, nan)));
}

// ---- frozen soil ----

// Unfrozen fraction and its slope over temperature t < 0 for a scale s:
// F = (1 + (alpha s |t|)^n)^-m, written out as the oracle.
double unfrozen_closed(const soil_params& p, double s, double t) {
  const double m = 1 - 1 / p.n;
  return std::pow(1 + std::pow(p.alpha * s * std::fabs(t), p.n), -m);
}

TEST(SoilFreezing, TablesFollowTheRetentionCurve) {
  const soil_params& p = CARSEL_PARRISH[1];
  soil_entry e = entry_for(p);
  const double s = 1.0;
  e.make_freezing_tables(1, s);
  const std::vector<double>& f = e.unfrozen_fraction_table[1];
  const std::vector<double>& slope = e.unfrozen_slope_table[1];
  const std::vector<double>& shift = e.freezing_shift_table[1];
  EXPECT_EQ(f[0], 1);
  EXPECT_EQ(slope[0], 0);
  for (int i : {1, 14, 250, 1000}) {
    const double t = -0.01 * i;
    EXPECT_NEAR(f[i], unfrozen_closed(p, s, t), 1e-14) << "t = " << t;
    // The slope is |dF/dt| (F grows towards 0 degC): central difference of
    // the closed form.
    const double dt = 1e-6;
    const double numeric =
        (unfrozen_closed(p, s, t + dt) - unfrozen_closed(p, s, t - dt)) / (2 * dt);
    EXPECT_NEAR(slope[i], numeric, 1e-6 * numeric) << "t = " << t;
  }
  // The slope is steepest at (alpha s |t|)^n = (n - 1)/n (setting the
  // derivative of a^(n-1) (1 + a^n)^(-m-1) to 0 with m n = n - 1). The shift
  // of saturation 0 is T_min - 1.15 t_max, that of full saturation 0.
  const double t_star = -std::pow((p.n - 1) / p.n, 1 / p.n) / (p.alpha * s);
  const double t_max = (-10.0 - shift[0]) / 1.15;
  EXPECT_NEAR(t_max, t_star, 0.01);
  EXPECT_EQ(shift[1000], 0);
  for (int k = 1; k <= 1000; ++k) EXPECT_GE(shift[k], shift[k - 1]) << k;
}

TEST(SoilFreezing, UnfrozenFractionAndSlope) {
  const soil_params& p = CARSEL_PARRISH[1];
  soil_entry e = entry_for(p);
  for (int layer = 1; layer <= 2; ++layer) e.make_freezing_tables(layer, 1.0);
  const std::vector<double>& f = e.unfrozen_fraction_table[1];
  const std::vector<double>& slope = e.unfrozen_slope_table[1];
  struct row {
    double t, theta, fraction, fraction_slope;
  };
  const double ts = p.theta_sat, tr = p.theta_res;
  const std::vector<row> rows = {
      {0.1, ts, 1.0, 0.0},           // above 0: unfrozen, no slope
      {-10.0, ts, 0.0, slope[999]},  // T_min: fraction 0; slope from the pair 999, 1000 at weight 0
      {-10.5, ts, 0.0, 0.0},         // below T_min
      {-2.5, ts, f[250], slope[250]},  // full saturation: no shift, grid point 250
      {-2.505, ts, (f[250] + f[251]) / 2, (slope[250] + slope[251]) / 2},
      {-5.0, tr, 1.0, 0.0},  // residual water: shifted above 0
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.t);
    double temperature[3] = {0, r.t, r.t};
    double theta[3] = {0, r.theta, r.theta};
    double out[3] = {-1, -1, -1};
    e.unfrozen_fraction(out, temperature, theta);
    EXPECT_NEAR(out[1], r.fraction, 1e-12);
    e.unfrozen_fraction_slope(out, temperature, theta);
    EXPECT_NEAR(out[1], r.fraction_slope, 1e-12);
  }
  EXPECT_NEAR(f[250], unfrozen_closed(p, 1.0, -2.5), 1e-14);
  double out[3] = {-1, -1, -1};
  double theta[3] = {0, ts, ts};
  e.unfrozen_fraction(out, nullptr, theta);
  EXPECT_EQ(out[1], -1);  // no temperatures, nothing done
}

TEST(SoilFreezing, LayerHeatCapacity) {
  captured_diag cap;
  soil_entry e;
  parse_soil_block(*cap.diag, e,
                   "5 heat method MultipleHorizons {\n layers = 1; ksat = 1e-5; theta_sat = 0.4;"
                   " theta_res = 0.05; alpha = 2; Par_n = 1.5; thickness = 0.2;"
                   " DryDensity = 1500; DryHeatCapacity = 800;\n}\n");
  struct row {
    double t, expected;
  };
  // 1500 * 800 + 0.3 * 1000 * (0.4 * 4180 + 0.6 * ice) + 5, with ice = 2100
  // at 0 degC and above, 1900 below -20 degC and linear between.
  const std::vector<row> rows = {
      {5, 2079605}, {0, 2079605}, {-10, 2061605}, {-20, 2043605}, {-30, 2043605}};
  for (const row& r : rows) {
    double t[2] = {0, r.t}, out[2] = {0, 0}, f[2] = {0, 0.4}, added[2] = {0, 5}, w[2] = {0, 0.3};
    e.layer_heat_capacity(t, out, f, added, w, 1000, 4180, 2100, 1900);
    EXPECT_NEAR(out[1], r.expected, 1e-6) << "t = " << r.t;
  }
}

}  // namespace
