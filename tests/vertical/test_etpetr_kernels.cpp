// Potential-evapotranspiration kernels against published and hand-worked
// values: FAO-56 (Allen et al. 1998) Table 2.3 and 2.4 for the saturation
// vapour pressure and its slope, Example 2 style pressure at 1800 m; Hamon
// in the 0.1651 PEC (D/12) rho_sat form of Lu et al. (2005) (Haith &
// Shoemaker's 1987 form gives about 2.41 mm for the same day); Wendling
// (1995) with Rg 1728 J cm-2; Haude (DVWK 1996: 3.385 mm); resistances and
// the slope over the psychrometric constant worked by hand.
#include <gtest/gtest.h>

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

}  // namespace
