// Radiation-correction kernels against values worked outside the code:
// the clear-sky beam 1367 * 0.86^(0.9 / cos Z) by hand, the tilted-surface
// ratio cos(Z - beta) / cos Z for a south slope under a southern sun
// (Duffie & Beckman, Solar Engineering of Thermal Processes, eq. 1.6.3),
// and a cone on a plain that shades only what lies behind it (Corripio 2003).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "vertical/expokorr_kernels.h"

namespace {

constexpr double PI = 3.141592653;
double rad(double deg) { return deg * PI / 180; }

TEST(BeamNormal, ClearSkyBeamByZenithAndNightShare) {
  struct row {
    double h, w, zenith_deg, expected, tol;  // [h], [-], [deg], [Wh m-2]
  } rows[] = {
      {1, 0, 0, 1193.49, 0.01},    // 1367 * 0.86^0.9
      {1, 0, 60, 1042.0, 0.05},    // 1367 * 0.86^1.8
      {2, 0.5, 0, 1193.49, 0.01},  // half of two hours is daylight
      {1, 1, 0, 0, 0},
  };
  for (const auto& r : rows)
    EXPECT_NEAR(beam_normal_of(r.h, r.w, rad(r.zenith_deg), PI / 2 - rad(r.zenith_deg)), r.expected,
                r.tol)
        << r.zenith_deg;
  // At or below 0.017 rad of elevation there is no direct beam.
  EXPECT_EQ(beam_normal_of(1, 0, PI / 2 - 0.017, 0.017), 0);
  EXPECT_GT(beam_normal_of(1, 0, PI / 2 - 0.02, 0.02), 0);
}

TEST(NightShare, SplitsAroundSunriseSunsetAndPolarDay) {
  struct row {
    double sunrise, sunset, start, end;  // [h]
    double u, w;
  } rows[] = {
      {6, 18, 5, 7, 1, 0.5},    // sunrise in the middle
      {6, 18, 17, 19, 0, 0.5},  // sunset in the middle
      {6, 18, 0, 2, 0, 1},      // before sunrise: night
      {6, 18, 20, 22, 0, 1},    // after sunset: night
      {6, 18, 10, 12, 0, 0},    // midday
      {0, 0, 0, 2, 0, 0},       // polar day (sunrise 24 and sunset 0 folded): all daylight
      {0, 0, 12, 14, 0, 0},
      {20, 4, 2, 6, 0, 0.5},  // sunset before sunrise on the clock: sets at 4
      {20, 4, 10, 12, 0, 1},
  };
  for (const auto& r : rows) {
    const split_night n =
        night_share_of_split(r.sunrise, r.sunset, r.start, r.end, r.end - r.start);
    EXPECT_DOUBLE_EQ(n.before_sunrise, r.u) << r.start;
    EXPECT_DOUBLE_EQ(n.fraction, r.w) << r.start;
  }
  EXPECT_TRUE(is_night_split(0.96));
  EXPECT_FALSE(is_night_split(0.5));
}

TEST(Incidence, FlatSouthSlopeCapShadeAndDullSky) {
  const double azimuth_south = PI;
  // Flat: cos Z.
  incidence_input flat{0, 0};
  EXPECT_NEAR(capped_incidence(flat, 1.0, rad(40), PI), std::cos(rad(40)), 1e-12);
  // South slope beta under a southern sun: cos(Z - beta).
  struct row {
    double zenith_deg, slope_deg;
  } rows[] = {{30, 20}, {50, 30}, {60, 45}, {70, 10}};
  for (const auto& r : rows) {
    incidence_input cell{180, r.slope_deg};
    const double i = capped_incidence(cell, azimuth_south, rad(r.zenith_deg), PI);
    EXPECT_NEAR(i / std::cos(rad(r.zenith_deg)),
                std::cos(rad(r.zenith_deg - r.slope_deg)) / std::cos(rad(r.zenith_deg)), 1e-6);
  }
  // Low sun, steep slope facing it: cos(25 deg) = 0.906 is above 5 cos 85 deg.
  incidence_input steep{180, 60};
  EXPECT_NEAR(capped_incidence(steep, azimuth_south, rad(85), PI), 5 * std::cos(rad(85)), 1e-12);
  // Facing away from the sun beyond the horizon: nothing.
  incidence_input north{0, 60};
  EXPECT_EQ(capped_incidence(north, azimuth_south, rad(60), PI), 0);
  // Shaded: nothing; dull sky: the horizontal value while the cell faces the
  // sun.
  incidence_input shaded{180, 20, true};
  EXPECT_EQ(capped_incidence(shaded, azimuth_south, rad(40), PI), 0);
  incidence_input dull{180, 20, false, true, 0.05};
  EXPECT_NEAR(capped_incidence(dull, azimuth_south, rad(40), PI), std::cos(rad(40)), 1e-12);
  incidence_input dull_away{0, 60, false, true, 0.05};
  EXPECT_EQ(capped_incidence(dull_away, azimuth_south, rad(60), PI), 0);
}

TEST(CorrectedTemperature, LogOfFactorAndTheShadedAndNightCases) {
  struct row {
    double t, f, r, scaling, horizontal, expected;
  } rows[] = {
      {10, 0.5, 0.5, 1, 100, 10 - 0.34657},  // 0.5 ln 0.5
      {10, 1, 0.5, 1, 100, 10},
      {10, 2, 1, 2, 100, 10 + 2 * 0.693147},
      {10, 0, 0.5, 1, 100, 10 - 0.8047},  // shaded: -ln 0.2 in place of ln F
      {10, 0.2, 1, 1, 100, 10 - 1.6094},
      {10, 0, 0.5, 1, 0, 10},  // night step: unchanged
  };
  for (const auto& r : rows)
    EXPECT_NEAR(corrected_temperature_of(r.t, r.f, r.r, r.scaling, r.horizontal), r.expected, 1e-4)
        << r.f;
}

// A 21 x 21 plain at 0 m with a cone of 100 m at its centre (radius 5 cells,
// 10 m cells) and a nodata cell.
struct cone_grid {
  static constexpr int N = 21;
  std::vector<std::vector<double>> elevation, zone, shadow;
  cone_grid()
      : elevation(N + 2, std::vector<double>(N + 2, 0)),
        zone(N + 2, std::vector<double>(N + 2, 1)),
        shadow(N + 2, std::vector<double>(N + 2, -1)) {
    for (int r = 1; r <= N; ++r)
      for (int c = 1; c <= N; ++c) {
        const double d = std::hypot(r - 11, c - 11);
        elevation[r][c] = std::max(0.0, 100 * (1 - d / 5));
      }
  }
};

TEST(ShadingWalk, AConeShadesOnlyTheCellsBehindIt) {
  const shading_frame frame{cone_grid::N, cone_grid::N, 10, -9999};
  struct row {
    double azimuth_deg;
    int behind_dr,
        behind_dc;  // direction away from the sun (rows grow southward)
  } rows[] = {{180, -1, 0}, {90, 0, -1}, {270, 0, 1}, {0.5, 1, 0}, {135, -1, -1}};
  for (const auto& r : rows) {
    cone_grid g;
    shading_walk(frame, g.elevation, g.zone, g.shadow, rad(r.azimuth_deg), rad(20));
    // 60 m beyond the top the ray is 100 - 6 * 3.64 = 78 m above the plain.
    const int sr = 11 + 6 * r.behind_dr, sc = 11 + 6 * r.behind_dc;
    EXPECT_EQ(g.shadow[sr][sc], 1) << r.azimuth_deg;
    // The sun-facing side and the far flanks stay lit.
    EXPECT_EQ(g.shadow[11 - 6 * r.behind_dr][11 - 6 * r.behind_dc], 0) << r.azimuth_deg;
    EXPECT_EQ(g.shadow[11 - 3 * r.behind_dr][11 - 3 * r.behind_dc], 0) << r.azimuth_deg;
    // Beyond the shadow's length (100 / 3.64 = 27 cells > grid) still shaded
    // at the grid edge behind; lit well to the side.
    const int side_r = r.behind_dc != 0 ? 2 : 11, side_c = r.behind_dr != 0 ? 2 : 11;
    if (r.behind_dr == 0 || r.behind_dc == 0) {
      EXPECT_EQ(g.shadow[side_r][side_c], 0) << r.azimuth_deg;
    }
  }
  // A high sun shortens the shadow: at 80 deg elevation the ray sinks 56.7 m
  // per cell, so the plain 3 cells behind the cone is lit.
  cone_grid g;
  shading_walk(frame, g.elevation, g.zone, g.shadow, rad(180), rad(80));
  EXPECT_EQ(g.shadow[11 - 8][11], 0);
  // Nodata cells are passed over without change.
  cone_grid h;
  h.zone[5][11] = -9999;
  shading_walk(frame, h.elevation, h.zone, h.shadow, rad(180), rad(20));
  EXPECT_EQ(h.shadow[5][11], -1);
  EXPECT_EQ(h.shadow[4][11], 1);
}

}  // namespace
