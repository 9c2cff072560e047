// Per-point primitives of the interpolator (inverse-distance weights, nearest
// station, method-12 lapse rates, bilinear look-up, regression value), the
// elevation regression fitted to the stations, the mesh orientation, the
// day's scenario value, the finishing of a value and the catch-error factor.
// Expected values are hand calculations written beside each row.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "meteo/meteoint_postprocess.h"
#include "meteo/meteoint_regression_fit.h"
#include "meteo/meteoint_weights.h"

namespace {

constexpr double N = 9999;         // the interpolator's nodata bound
constexpr double INVALID = -N - 1; // its invalid marker
constexpr double GRID_NODATA = -9999;

// Stations given 0-based in the table, held 1-based as the primitives read
// them.
struct stations {
  std::vector<double> v{0}, x{0}, y{0}, z{0};
  stations(std::initializer_list<std::array<double, 4>> rows) {
    for (const auto &r : rows) {
      x.push_back(r[0]);
      y.push_back(r[1]);
      z.push_back(r[2]);
      v.push_back(r[3]);
    }
  }
  station_view view() const {
    return {static_cast<int>(v.size()) - 1, v.data(), x.data(), y.data(),
            z.data()};
  }
};

idw_settings idw_with(double power, double max_distance, double ratio = 1) {
  idw_settings p;
  p.nodata = N;
  p.power = power;
  p.weight_code = static_cast<int>(std::floor(1000 * power));
  p.max_distance =
      p.weight_code == 2000 ? max_distance * max_distance : max_distance;
  p.ratio = ratio;
  return p;
}

TEST(InterpolationPrimitives, InverseDistanceWeights) {
  struct row {
    const char *what;
    double power, max_distance;
    double v2; // value of the second station, at distance 2
    double expected;
  };
  // A station at the point counts one unit away: weights 1 and 2^-p.
  const row rows[] = {
      {"power 2: (10 + 20/4) / 1.25", 2, 100, 20, 12.0},
      {"power 1: (10 + 20/2) / 1.5", 1, 100, 20, 40.0 / 3},
      {"power 3: (10 + 20/8) / 1.125", 3, 100, 20, 12.5 / 1.125},
      {"second beyond D: the first alone", 2, 1.5, 20, 10.0},
      {"second invalid: the first alone", 2, 100, INVALID, 10.0},
      {"every station beyond D: marker", 2, 0.5, 20, INVALID},
  };
  for (const row &r : rows) {
    const stations s{{5, 5, 0, 10}, {7, 5, 0, r.v2}};
    double w[3];
    const double got =
        idw(s.view(), w, 5, 5, idw_with(r.power, r.max_distance));
    EXPECT_NEAR(got, r.expected, 1e-12) << r.what;
    EXPECT_NEAR(
        idw_anisotropic(s.view(), w, 5, 5, idw_with(r.power, r.max_distance)),
        r.expected, 1e-12)
        << r.what << " (ratio 1)";
  }
  // A station 2 away along x with ratio 0.5 counts 1 away, one 4 away along y
  // counts 4: weights 1 and 1/16.
  const stations s{{2, 0, 0, 10}, {0, 4, 0, 20}};
  double w[3];
  EXPECT_NEAR(idw_anisotropic(s.view(), w, 0, 0, idw_with(2, 100, 0.5)),
              (10.0 + 20.0 / 16) / (1.0 + 1.0 / 16), 1e-12);
  EXPECT_NEAR(idw(s.view(), w, 0, 0, idw_with(2, 100)),
              (10.0 / 4 + 20.0 / 16) / (1.0 / 4 + 1.0 / 16), 1e-12);
  const stations none{{0, 0, 0, INVALID}};
  EXPECT_EQ(idw(none.view(), w, 0, 0, idw_with(2, 100)), INVALID);
}

TEST(InterpolationPrimitives, NearestStationTiesAndLapseRates) {
  // Two stations 1 away on either side of the point.
  const stations tie{{-1, 0, 100, 10}, {1, 0, 700, 20}};
  double d[3];
  EXPECT_EQ(thiessen(tie.view(), d, 0, 0, N), 20)
      << "Thiessen: the later station";
  lapse_settings flat;
  EXPECT_EQ(thiessen_with_gradient(tie.view(), 0, 0, 100, flat, N), 10)
      << "method 12: the earlier";
  const stations none{{0, 0, 0, INVALID}};
  EXPECT_EQ(thiessen(none.view(), d, 0, 0, N), INVALID);
  EXPECT_EQ(thiessen_with_gradient(none.view(), 0, 0, 0, flat, N), INVALID);

  struct row {
    const char *what;
    double station_z, cell_z, inversion;
    int p_type;
    double value, expected;
  };
  // Gamma -0.0065 below the inversion, Gamma_u +0.002 above it.
  const row rows[] = {
      {"no inversion: (300-100)(-0.0065)+10", 100, 300, -9999, 0, 10, 8.7},
      {"both below: (300-100)(-0.0065)+10", 100, 300, 500, 0, 10, 8.7},
      {"station below, cell above: -2.6 + 10 + 0.6", 100, 800, 500, 0, 10, 8.0},
      {"both above: (800-700)(0.002)+10", 700, 800, 500, 0, 10, 10.2},
      {"station above, cell below: -0.4 + 10 + 1.3", 700, 300, 500, 0, 10,
       10.9},
      {"cell exactly at the inversion counts below", 100, 500, 500, 0, 10, 7.4},
      {"P-type: a 0 stays 0", 100, 800, 500, 1, 0, 0.0},
      {"without P-type a 0 moves", 100, 300, 500, 0, 0, -1.3},
  };
  for (const row &r : rows) {
    const stations s{{0, 0, r.station_z, r.value}};
    lapse_settings l{-0.0065, r.inversion, 0.002, r.p_type};
    EXPECT_NEAR(thiessen_with_gradient(s.view(), 3, 4, r.cell_z, l, N),
                r.expected, 1e-12)
        << r.what;
  }
}

TEST(InterpolationPrimitives, BilinearBetweenLookupStations) {
  // s1 upper right, s2 upper left, s3 lower left, s4 lower right of a 1 km
  // square.
  const stations s{
      {1000, 1000, 0, 10}, {0, 1000, 0, 20}, {0, 0, 0, 30}, {1000, 0, 0, 40}};
  const lookup_corners square{1, 2, 3, 4};
  struct row {
    double x, y, expected;
  };
  const row rows[] = {
      {0, 1000, 20},
      {1000, 1000, 10},
      {0, 0, 30},
      {1000, 0, 40},
      {500, 500, 25},
      {250, 750, 0.5625 * 20 + 0.1875 * 10 + 0.1875 * 30 + 0.0625 * 40}};
  double w[5];
  for (const row &r : rows)
    EXPECT_NEAR(bilinear(s.view(), square, w, r.x, r.y, idw_with(2, 1e6)),
                r.expected, 1e-12)
        << r.x << "," << r.y;
  EXPECT_EQ(bilinear(s.view(), lookup_corners{3, 3, 3, 3}, w, 500, 500,
                     idw_with(2, 1e6)),
            30);
  // An invalid or missing corner: IDW of the three equidistant valid stations.
  stations broken = s;
  broken.v[4] = INVALID;
  EXPECT_NEAR(bilinear(broken.view(), square, w, 500, 500, idw_with(2, 1e6)),
              20, 1e-12);
  EXPECT_NEAR(bilinear(s.view(), lookup_corners{1, 2, 3, 0}, w, 500, 500,
                       idw_with(2, 1e6)),
              25, 1e-12);
}

TEST(InterpolationPrimitives, RegressionValueLayersAndPlane) {
  // Layers: below 100 a1 + 1 z, 100..1000 a2 + 2 z, above 1000 a3 + 3 z; plane
  // 5 + x - y.
  regression_set r{0, 10, 1, 100, 20, 2, 1000, 30, 3, 5, 1, -1};
  struct row {
    double x, y, z, expected;
  };
  const row rows[] = {
      {2, 1, 50, 6 + 50},               // H + b1 z
      {2, 1, 500, 6 - 10 + 20 + 1000},  // H - a1 + a2 + b2 z
      {2, 1, 2000, 6 - 10 + 30 + 6000}, // H - a1 + a3 + b3 z
      {GRID_NODATA, 1, 50, 10 + 50},    // no horizontal position: layers alone
      {2, GRID_NODATA, 2000, 30 + 6000},
  };
  for (const row &w : rows)
    EXPECT_DOUBLE_EQ(regression_value(r, w.x, w.y, w.z, N, GRID_NODATA),
                     w.expected)
        << w.z;
  r[9] = INVALID;
  EXPECT_DOUBLE_EQ(regression_value(r, 2, 1, 500, N, GRID_NODATA), 20 + 1000);
  r[1] = INVALID;
  EXPECT_EQ(regression_value(r, 2, 1, 500, N, GRID_NODATA), INVALID);
  EXPECT_DOUBLE_EQ(determinant3({0, 1, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 3}), 6);
  EXPECT_DOUBLE_EQ(determinant3({0, 1, 4, 7}, {0, 2, 5, 8}, {0, 3, 6, 10}), -3);
}

TEST(InterpolationPrimitives, StationInBoxIsStrictAndFirst) {
  const stations s{{10, 10, 0, 1}, {5, 5, 0, 1}, {6, 6, 0, 1}};
  EXPECT_EQ(station_in_box(s.view(), 0, 0, 4, 7, 4, 7), 2);
  EXPECT_EQ(station_in_box(s.view(), 0, 0, 5, 7, 4, 7), 3)
      << "x = 5 lies on the bound";
  EXPECT_EQ(station_in_box(s.view(), 0, 0, 11, 12, 0, 20), 0);
}

elevation_regression_line edr(double lower, double upper, int overlap = 0,
                              double cluster = 0) {
  elevation_regression_line e;
  e.lower_inversion = lower;
  e.upper_inversion = upper;
  e.tolerance = 0;
  e.overlap = overlap;
  e.cluster_range = cluster;
  return e;
}

TEST(ElevationRegression, RecoversLapseRateAndPlaneOfALatinSquare) {
  // v = 20 - 0.0065 z + 0.001 x - 0.002 y; z of a Latin square has zero
  // sample covariance with x and y, so the line of v on z is the lapse rate.
  const double zs[3][3] = {{100, 200, 300}, {200, 300, 100}, {300, 100, 200}};
  auto field = [](double x, double y, double z) {
    return 20 - 0.0065 * z + 0.001 * x - 0.002 * y;
  };
  stations s{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double x = 1000.0 * i, y = 1000.0 * j, z = zs[i][j];
      s.x.push_back(x), s.y.push_back(y), s.z.push_back(z),
          s.v.push_back(field(x, y, z));
    }
  const regression_set r =
      fit_elevation_regression(s.view(), edr(1000, 2000), N);
  EXPECT_NEAR(r[2], 0, 0) << "layer 1 is constant below zlow = 0";
  EXPECT_NEAR(r[5], -0.0065, 1e-12);
  EXPECT_NEAR(r[10], 0.001, 1e-12);
  EXPECT_NEAR(r[11], -0.002, 1e-12);
  for (double z : {0.0, 150.0, 999.0, 1500.0, 3000.0})
    for (double x : {-5000.0, 0.0, 2500.0, 7000.0})
      for (double y : {-3000.0, 500.0, 9000.0})
        EXPECT_NEAR(regression_value(r, x, y, z, N, GRID_NODATA),
                    field(x, y, z), 1e-9)
            << x << " " << y << " " << z;
  // Below zlow = 0 the layer is constant: no lapse rate.
  EXPECT_NEAR(regression_value(r, 0, 0, -100, N, GRID_NODATA), field(0, 0, 0),
              1e-9);
}

TEST(ElevationRegression, GroupCountsOverlapAndDegenerateStations) {
  // None valid: unusable; one station: constant field of its value.
  const stations none{{0, 0, 100, INVALID}, {1, 0, 200, INVALID}};
  EXPECT_EQ(fit_elevation_regression(none.view(), edr(500, 2000), N)[1],
            INVALID);
  const stations one{{0, 0, 100, 7}};
  const regression_set r1 =
      fit_elevation_regression(one.view(), edr(500, 2000), N);
  for (double z : {-50.0, 300.0, 3000.0})
    EXPECT_DOUBLE_EQ(regression_value(r1, 0, 0, z, N, GRID_NODATA), 7) << z;

  // One station below h_lo = 500: the lowest upper station (600) joins it.
  // Lower line through (100, 10), (600, 14): 9.2 + 0.008 z; upper line
  // 20 - 0.01 z; they cross at 600; every residual is 9.2.
  const stations split{{0, 0, 100, 10},
                       {1000, 0, 600, 14},
                       {0, 1000, 800, 12},
                       {1000, 1000, 1000, 10}};
  const regression_set r =
      fit_elevation_regression(split.view(), edr(500, 2000), N);
  EXPECT_NEAR(r[6], 600, 1e-9) << "zup at the crossing";
  EXPECT_NEAR(regression_value(r, 500, 500, 300, N, GRID_NODATA), 11.6, 1e-9);
  EXPECT_NEAR(regression_value(r, 500, 500, 800, N, GRID_NODATA), 12.0, 1e-9);
  EXPECT_NEAR(r[9], 9.2, 1e-9);
  EXPECT_NEAR(r[10], 0, 1e-12);

  // Clusters: two stations 10 m apart within a cluster range of 50 become
  // their mean point (105, 11), a constant field; without the range, a line.
  const stations close{{0, 0, 100, 10}, {1000, 0, 110, 12}};
  const regression_set clustered =
      fit_elevation_regression(close.view(), edr(500, 2000, 0, 50), N);
  const regression_set lined =
      fit_elevation_regression(close.view(), edr(500, 2000, 0, 0), N);
  for (double z : {0.0, 300.0, 3000.0})
    EXPECT_NEAR(regression_value(clustered, 0, 0, z, N, GRID_NODATA), 11, 1e-12)
        << z;
  EXPECT_NEAR(regression_value(lined, 0, 0, 300, N, GRID_NODATA),
              10 + 0.2 * 200, 1e-9);
  // One station on each side of h_lo = 500 borrows the other (overlap), each
  // group then clusters to the mean point (310, 15), and two points closer
  // than the range leave one: the constant 15.
  const stations pair{{0, 0, 100, 10}, {1000, 0, 520, 20}};
  const regression_set one_point =
      fit_elevation_regression(pair.view(), edr(500, 2000, 0, 500), N);
  for (double z : {0.0, 310.0, 1500.0})
    EXPECT_NEAR(regression_value(one_point, 0, 0, z, N, GRID_NODATA), 15, 1e-12)
        << z;

  // Exactly 3 stations: no horizontal part.
  const stations three{{0, 0, 100, 10}, {1000, 0, 200, 9}, {0, 1000, 300, 8}};
  const regression_set r3 =
      fit_elevation_regression(three.view(), edr(1000, 2000), N);
  EXPECT_EQ(r3[9], INVALID);
  EXPECT_NEAR(regression_value(r3, 0, 0, 200, N, GRID_NODATA), 9, 1e-12);

  // Four stations on one line: determinant 0, no plane, finite values.
  const stations line{{0, 0, 100, 10},
                      {1000, 0, 200, 9},
                      {2000, 0, 300, 8.5},
                      {3000, 0, 150, 9.7}};
  const regression_set rl =
      fit_elevation_regression(line.view(), edr(1000, 2000), N);
  EXPECT_EQ(rl[9], INVALID);
  for (int k = 1; k <= 11; ++k)
    EXPECT_TRUE(std::isfinite(rl[static_cast<size_t>(k)])) << k;
  EXPECT_TRUE(
      std::isfinite(regression_value(rl, 500, 500, 250, N, GRID_NODATA)));
}

TEST(MeshOrientation, TurnedMeshesGiveSlopeAndRatio) {
  struct row {
    double turn_degrees, slope, ratio;
  };
  // Main-axis spacing 1000 m, across it 1500 m: every nearest neighbour lies on
  // the main axis. A mean above 45 deg loses 90: a mesh at -20 deg is described
  // by its other axis, 70 deg.
  const row rows[] = {
      {30, 30, 0.995}, {60, -30, 0.995}, {0, 0, 1}, {-20, 70, 0.995}};
  for (const row &r : rows) {
    const double a = r.turn_degrees * M_PI / 180;
    std::vector<double> x{0}, y{0};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 3; ++j) {
        const double u = 1000.0 * i, w = 1500.0 * j;
        x.push_back(500000 + u * std::cos(a) - w * std::sin(a));
        y.push_back(5000000 + u * std::sin(a) + w * std::cos(a));
      }
    const mesh_orientation m = find_neighbour_stations(x.data(), y.data(), 12);
    EXPECT_NEAR(m.slope_degrees, r.slope, 1e-6) << r.turn_degrees;
    EXPECT_EQ(m.ratio, r.ratio) << r.turn_degrees;
  }
  EXPECT_EQ(find_neighbour_stations(nullptr, nullptr, 0).ratio, 1);
}

TEST(ScenarioValues, DayBetweenMidMonths) {
  std::array<double, 16> p{};
  for (int m = 1; m <= 12; ++m)
    p[static_cast<size_t>(m) + 2] = 10.0 * m;
  struct row {
    int day, month;
    double expected;
  };
  const row rows[] = {
      {15, 2, (1 * 10 + 30 * 20) / 31.0},  // 19.677
      {16, 2, (27 * 20 + 1 * 30) / 28.0},  // 20.357
      {15, 1, (1 * 120 + 30 * 10) / 31.0}, // December before January
      {31, 12, (15 * 120 + 16 * 10) / 31.0},
      {28, 2, (15 * 20 + 13 * 30) / 28.0},
  };
  for (const row &r : rows)
    EXPECT_NEAR(scenario_day_value(p, r.day, r.month), r.expected, 1e-12)
        << r.day << "." << r.month;
  EXPECT_NEAR(scenario_day_value(p, 15, 2), 19.677, 5e-4);
  EXPECT_NEAR(scenario_day_value(p, 16, 2), 20.357, 5e-4);
}

TEST(ScenarioValues, FinishingOfAValue) {
  struct row {
    const char *what;
    double value;
    int szen_use, szen_meth;
    double scenario;
    bool grid;
    double grid_value, expected;
  };
  // scaling 2, below -100 -> 5, above 90 -> 7
  const row rows[] = {
      {"scaled", 3, 0, 0, 0, false, 0, 6},
      {"below the limit", -60, 0, 0, 0, false, 0, 5},
      {"above the limit", 46, 0, 0, 0, false, 0, 7},
      {"marker below the limit", INVALID, 0, 0, 0, false, 0, 5},
      {"SzenMeth 1 adds 0", 3, 1, 1, 0, false, 0, 6},
      {"SzenMeth 6 adds", 3, 1, 6, 1.5, false, 0, 7.5},
      {"SzenMeth 2 multiplies by 0", 3, 1, 2, 0, false, 0, 0},
      {"scaling grid last", 3, 1, 1, 1, true, 3, 21},
  };
  for (const row &r : rows) {
    const postprocess_settings p{2, -100, 5, 90, 7, r.szen_use, r.szen_meth};
    EXPECT_DOUBLE_EQ(
        postprocess_value(r.value, p, r.scenario, r.grid, r.grid_value),
        r.expected)
        << r.what;
  }
}

TEST(PrecipitationCorrection, CatchFactorByTemperature) {
  const catch_coefficients k{0.5, 1.05, 0.01, 1.1, 0.07};
  struct row {
    const char *what;
    double t;
    bool has_t;
    double u, expected;
  };
  const row rows[] = {
      {"rain: 10 (0.01 3 + 1.05)", 4, true, 3, 10.8},
      {"snow: 10 (0.07 3 + 1.1)", -2, true, 3, 13.1},
      {"at the threshold: snow", 0.5, true, 3, 13.1},
      {"no temperature: rain", -20, false, 3, 10.8},
      {"no wind: constants alone", 4, true, 0, 10.5},
  };
  for (const row &r : rows)
    EXPECT_NEAR(corrected_precipitation(10, r.t, r.has_t, r.u, k), r.expected,
                1e-12)
        << r.what;
}

} // namespace
