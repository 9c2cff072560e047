// Potential-evapotranspiration kernels against published and hand-worked
// values: FAO-56 (Allen et al. 1998) Table 2.3 and 2.4 for the saturation
// vapour pressure and its slope, Example 2 style pressure at 1800 m; Hamon
// in the 0.1651 PEC (D/12) rho_sat form of Lu et al. (2005) (Haith &
// Shoemaker's 1987 form gives about 2.41 mm for the same day); Wendling
// (1995) with Rg 1728 J cm-2; Haude (DVWK 1996: 3.385 mm); resistances and
// the slope over the psychrometric constant worked by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "vertical/etpetr_kernels.h"

namespace {

TEST(EtpKernels, Fao56SaturationSlopeAndPressure) {
  struct row {
    const char* what;
    double value, expected, relative_tol;
  } rows[] = {
      {"e0(15) [kPa]", saturation_vapor_pressure_of(15) / 10, 1.705, 0.002},
      {"e0(24.5) [kPa]", saturation_vapor_pressure_of(24.5) / 10, 3.075, 0.002},
      {"e0(38) [kPa]", saturation_vapor_pressure_of(38) / 10, 6.625, 0.002},
      {"delta(16.9) [kPa K-1]", saturation_slope_of(16.9) / 10, 0.122, 0.002},
      {"P(1800 m, 20 degC) [kPa]", air_pressure_of(1800, 20) / 10, 81.8, 0.005},
      {"p(1000 m, 10 degC) [hPa]", air_pressure_of(1000, 10), 897.81, 1e-5},
      {"sigma/gamma(20, 1013)", slope_over_psychrometric(20, 1013), 2.1676, 5e-5},
  };
  for (const auto& r : rows)
    EXPECT_NEAR(r.value, r.expected, r.expected * r.relative_tol) << r.what;
}

TEST(EtpKernels, Resistances) {
  EXPECT_NEAR(aerodynamic_resistance_top(0.1, 2), 63.70, 0.005);
  // z0 exactly 2 still takes the logarithmic form; above 2 the open form.
  EXPECT_NEAR(aerodynamic_resistance_top(2, 2), 4.72 * 2.302585 * 2.302585 / 2.08, 1e-4);
  EXPECT_NEAR(aerodynamic_resistance_top(2.5, 2), 25 / 2.08, 1e-12);
  struct row {
    double lai, c, rc;
    bool day;
    double expected;
  } rows[] = {
      {4, 1, 70, true, 80.42}, {4, 1, 70, false, 625}, {0, 1, 70, true, 2500},
      {4, 0, 70, false, 2500}, {0, 1, 0, true, 0},     {4, 1, 0, true, 0},
  };
  for (const auto& r : rows)
    EXPECT_NEAR(canopy_resistance_of(r.lai, r.c, r.rc, r.day), r.expected, 0.005)
        << r.lai << " " << r.c << " " << r.rc << " " << r.day;
}

TEST(EtpKernels, HamonWendlingHaude) {
  EXPECT_NEAR(hamon_etp(20, 1, 0.5), 2.852, 0.001);
  EXPECT_NEAR(hamon_etp(20, 1, 0), 0, 1e-12);
  EXPECT_NEAR(wendling_etp(4800, 0.1, 0.6, 15), 3.188, 0.001);
  EXPECT_EQ(wendling_etp(0, 0.1, 0, -30), 0);  // negative cut to 0
  EXPECT_NEAR(haude_etp(20, 0.29, 0.5), 3.381, 0.001);
  EXPECT_EQ(haude_etp(35, 0.5, 1), 7);                      // 56 hPa * 0.5: cut at 7
  EXPECT_EQ(haude_deficit_from_vapor_pressure(30, 20), 0);  // e / es above 1
  EXPECT_EQ(haude_deficit_from_vapor_pressure(-1, 20), 1);
  EXPECT_NEAR(haude_deficit_from_vapor_pressure(11.659, 20), 0.5, 1e-3);
  // Below 0 degC the ice form: 6.11 exp(22.46 (-10) / 262.46) = 2.60 hPa.
  EXPECT_NEAR(haude_saturation_pressure(-10), 2.597, 0.002);
}

TEST(EtpKernels, QuadraticAndCloudiness) {
  struct row {
    double p, q;
    int roots;
    double x1, x2;
  } rows[] = {{-3, 2, 2, 1, 2}, {2, 1, 1, -1, -1}, {0, 1, 0, 0, 0}};
  for (const auto& r : rows) {
    double x1 = 9, x2 = 9;
    EXPECT_EQ(solve_quadratic_of(x1, x2, r.p, r.q), r.roots);
    EXPECT_DOUBLE_EQ(x1, r.x1);
    EXPECT_DOUBLE_EQ(x2, r.x2);
  }
  EXPECT_EQ(cloudiness_of(1.01), 0);
  EXPECT_EQ(cloudiness_of(0), 0.997);
  EXPECT_EQ(cloudiness_of(0.1), 1);  // 1.027 capped
  EXPECT_NEAR(cloudiness_of(1), 0.997 + 0.4473 - 1.4059, 1e-12);
}

TEST(EtpKernels, ClearSkyRadiation) {
  // 1367 W m-2 through tau^(p / 1013 / cos Z) on the horizontal, per hour.
  const double overhead[] = {0, 1};
  const double low[] = {0, 0.5, 0.5};
  struct row {
    const double* cosines;
    int n;
    double hours, pressure, expected;  // [h], [hPa], [Wh m-2]
  } rows[] = {{overhead, 1, 1, 1013, 1367 * 0.75},
              {overhead, 1, 1, 506.5, 1183.8567},
              {low, 2, 2, 1013, 2 * 1367 * 2 * 0.5625 * 0.5}};
  for (const auto& r : rows)
    EXPECT_NEAR(clear_sky_radiation(r.cosines, r.n, r.hours, 0.75, r.pressure), r.expected, 1e-4);
}

TEST(EtpKernels, CellRadiation) {
  // a = (0.25, 0.5, 0.25, 0): x(s = 0.6) = 0.64; CS as in the set-up with
  // x* = 0.2431: P(0.5) = 0.075375; cloudiness(0.64) = 0.70742; albedo 0.2.
  const double a[4] = {0.25, 0.5, 0.25, 0};
  const double a_high[4] = {0.25, 0.5, 0.25, 0.02};
  const double cs[4] = {0.072, -0.808, 1.749, -0.239};
  struct row {
    const char* what;
    const double* a;
    bool radiation, sunshine;
    double factor;  // 0: no correction grid
    double r0, rg, s;
    double corrected, replacement, sunshine_out,
        cloudiness;  // cloudiness 1: not checked
  } rows[] = {
      {"sunshine only", a, false, true, 0, 5000, 0, 0.6, 3200, 3200, 0.6, 0.707415},
      {"radiation only", a, true, false, 0, 5000, 2500, 0, 2500, 2500, 0.075375, 1},
      {"x at the threshold", a, true, false, 0, 5000, 1000, 0, 1000, 1000, 0, 1},
      {"radiation, factor 2", a, true, false, 2, 5000, 2500, 0, 2641.328125, 2641.328125, 0.075375,
       1},
      {"sunshine, factor 2", a, false, true, 2, 5000, 0, 0.6, 5150, 5150, 0.6, 0.707415},
      {"both grids, full sun", a_high, true, true, 0, 0, 3000, 1, 3000, 3000, 1, 0},
      {"cut", a, true, true, 0, 0, 20000, 0.5, 15000, 20000, 0.5, 1},
  };
  for (const auto& r : rows) {
    const etp_radiation_setup setup{r.a, cs, 0.2431, r.radiation, r.sunshine, r.factor > 0, 15000};
    etp_radiation_input in;
    in.clear_sky = r.r0;
    in.radiation = r.rg;
    in.sunshine = r.s;
    in.correction = r.factor;
    in.albedo = 0.2;
    const etp_radiation_result out = cell_radiation_of(setup, in);
    EXPECT_NEAR(out.corrected, r.corrected, 1e-6) << r.what;
    EXPECT_NEAR(out.replacement, r.replacement, 1e-6) << r.what;
    EXPECT_NEAR(out.net_shortwave, 0.8 * r.corrected, 1e-6) << r.what;
    EXPECT_NEAR(out.sunshine, r.sunshine_out, 1e-9) << r.what;
    if (r.cloudiness < 1) {
      EXPECT_NEAR(out.cloudiness, r.cloudiness, 1e-6) << r.what;
    }
  }
}

TEST(EtpKernels, PenmanMonteithLayers) {
  // 20 degC, 1013 hPa: sigma/gamma 2.16765, 681.492 Wh m-2 per mm; z0 0.1
  // and wind 2: ra 63.702. RN = 4 mm of energy; LAI ln 2 / 0.3 absorbs half.
  pm_weather saturated{20, 0, 0, 1013, 2};
  saturated.vapor = saturated.saturation = saturation_vapor_pressure_of(20);
  pm_energy energy;
  energy.share = 1;
  energy.dt = 60;
  energy.net_radiation = true;
  energy.rn = 4 * 681.492;
  pm_layer top;
  top.coverage = 1;
  top.lai = std::log(2.0) / 0.3;
  top.z0 = 0.1;
  top.bottom = false;
  pm_column column;
  pm_result r = penman_monteith_of(top, saturated, energy, column);
  EXPECT_NEAR(column.q_day, 2, 1e-9);
  EXPECT_NEAR(column.ra_top, 63.7022, 1e-4);
  EXPECT_EQ(r.soil, 0);
  // rc = ri = 0: (A_b sigma/gamma) / (sigma/gamma + 1).
  EXPECT_NEAR(r.transpiration, 2 * 2.167646 / 3.167646, 1e-6);
  EXPECT_NEAR(r.interception, r.transpiration, 1e-12);

  // Net radiation reaches the night part in full as well.
  pm_column night_column;
  energy.day = false;
  penman_monteith_of(top, saturated, energy, night_column);
  EXPECT_NEAR(night_column.q_night, 2, 1e-9);
  energy.day = true;

  // The layer below takes what is left; the soil under it evaporates the
  // rest against rss = ra: 2 sigma/gamma / (sigma/gamma + 2) = 1.04023.
  pm_layer below = top;
  below.top = false;
  below.bottom = true;
  below.coverage = 0;
  below.rss = 63.7022;
  below.lambda = 0;
  column.lai_above = top.lai;
  r = penman_monteith_of(below, saturated, energy, column);
  EXPECT_NEAR(r.soil, 1.040226, 1e-5);
  EXPECT_EQ(r.transpiration, 0);

  // Open water takes all the energy with rs = 0: 4 * 2.16765 / 3.16765.
  pm_layer lake = top;
  lake.bottom = lake.lake = true;
  lake.coverage = lake.lai = 0;
  column = pm_column{};
  r = penman_monteith_of(lake, saturated, energy, column);
  EXPECT_NEAR(r.transpiration, 2.737233, 1e-5);
  EXPECT_EQ(r.interception, 0);
  EXPECT_EQ(r.soil, 0);

  // Without energy the vapour deficit alone: one hour, D = 10 hPa, W =
  // 3600 * 0.216876 * 10 / 293.15 / 63.702 = 0.41809 mm; / 3.16765.
  pm_weather dry = saturated;
  dry.vapor = dry.saturation - 10;
  energy.rn = 0;
  column = pm_column{};
  r = penman_monteith_of(top, dry, energy, column);
  EXPECT_NEAR(r.transpiration, 0.131988, 1e-5);
}

}  // namespace
