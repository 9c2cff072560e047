// Depth-weighted means against integrals of step profiles worked by hand:
// a column of layers 0.1, 0.2 and 0.3 m with theta_sat 0.4, 0.5, 0.5 and
// values 0.2, 0.3, 0.4. The amount down to depth D is the integral of the
// step profile, the relative saturation that of v / theta_sat over D.
#include <gtest/gtest.h>

#include <vector>

#include "soilwater/unsatzon_means.h"

namespace {

const std::vector<double> THICKNESS = {0, 0.1, 0.2, 0.3};
const std::vector<double> THETA_SAT = {0, 0.4, 0.5, 0.5};
const std::vector<double> VALUES = {0, 0.2, 0.3, 0.4};
const soil_column_view COLUMN{3, THICKNESS.data(), THETA_SAT.data()};
constexpr double NODATA = -9999;
// The usable column ends 1e-8 m above its bottom.
constexpr double COLUMN_WATER = 0.02 + 0.06 + 0.12 - 0.4e-8;  // [m]

TEST(DepthMeans, FromTheSurfaceBothMeansAgreeWithTheIntegral) {
  struct row {
    double depth;     // [m]
    double amount;    // mode 1 [m]
    double relative;  // mode 0 [-]
  } rows[] = {
      // Root zone inside layer 1: 0.2 * 0.05; 0.2 / 0.4.
      {0.05, 0.01, 0.5},
      {0.1, 0.02, 0.5},
      // 0.02 + 0.3 * 0.1; (0.1 * 0.5 + 0.1 * 0.6) / 0.2.
      {0.2, 0.05, 0.55},
      // 0.02 + 0.06 + 0.4 * 0.15; (0.05 + 0.12 + 0.15 * 0.8) / 0.45.
      {0.45, 0.14, 0.29 / 0.45},
      // Whole column, deeper than the column, and 9999.
      {0.6, COLUMN_WATER, (0.05 + 0.12 + 0.3 * 0.8 - 0.8e-8) / (0.6 - 1e-8)},
      {5.0, COLUMN_WATER, (0.05 + 0.12 + 0.3 * 0.8 - 0.8e-8) / (0.6 - 1e-8)},
      {WHOLE_COLUMN_DEPTH, COLUMN_WATER, (0.05 + 0.12 + 0.3 * 0.8 - 0.8e-8) / (0.6 - 1e-8)},
      // A depth of 0 gives 1 in both modes.
      {0.0, 1.0, 1.0},
      // Less than 1e-8 below a boundary: the layer below adds nothing.
      {0.1 + 5e-9, 0.02, 0.5 * 0.1 / (0.1 + 5e-9)},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.depth);
    EXPECT_NEAR(thickness_weighted_mean(COLUMN, VALUES.data(), mean_mode::amount, r.depth),
                r.amount, 1e-12);
    EXPECT_NEAR(
        thickness_weighted_mean(COLUMN, VALUES.data(), mean_mode::relative_saturation, r.depth),
        r.relative, 1e-12);
    if (r.depth > 0) {
      EXPECT_NEAR(depth_weighted_mean(COLUMN, VALUES.data(), mean_mode::amount, 0, r.depth, NODATA),
                  r.amount, 1e-12);
      EXPECT_NEAR(depth_weighted_mean(COLUMN, VALUES.data(), mean_mode::relative_saturation, 0,
                                      r.depth, NODATA),
                  r.relative, 1e-12);
    }
  }
}

TEST(DepthMeans, BetweenTwoDepths) {
  struct row {
    double start, end;  // [m]
    double amount;      // mode 1 [m]
    double relative;    // mode 0 [-]
  } rows[] = {
      // 0.2 * 0.05 + 0.3 * 0.15; (0.05 * 0.5 + 0.15 * 0.6) / 0.2.
      {0.05, 0.25, 0.055, 0.575},
      // Start and end in layer 2: the amount 0.3 * 0.08, the layer's 0.6.
      {0.12, 0.2, 0.024, 0.6},
      // From a boundary to the bottom: 0.06 + 0.12.
      {0.1, WHOLE_COLUMN_DEPTH, 0.18 - 0.4e-8, (0.12 + 0.24 - 0.8e-8) / (0.5 - 1e-8)},
      // Empty ranges give 1.
      {0.2, 0.2, 1, 1},
      {0.7, 5, 1, 1},
      // No range: nodata.
      {0, 0, NODATA, NODATA},
      {0, -1, NODATA, NODATA},
      {-0.001, 0.2, NODATA, NODATA},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.start) + " .. " + std::to_string(r.end));
    EXPECT_NEAR(
        depth_weighted_mean(COLUMN, VALUES.data(), mean_mode::amount, r.start, r.end, NODATA),
        r.amount, 1e-12);
    EXPECT_NEAR(depth_weighted_mean(COLUMN, VALUES.data(), mean_mode::relative_saturation, r.start,
                                    r.end, NODATA),
                r.relative, 1e-12);
  }
}

TEST(DepthMeans, SaturatedColumnIsOneInModeZeroAtEveryDepth) {
  for (double depth : {0.01, 0.1, 0.15, 0.3, 0.59, 2.0, WHOLE_COLUMN_DEPTH}) {
    SCOPED_TRACE(depth);
    EXPECT_NEAR(
        thickness_weighted_mean(COLUMN, THETA_SAT.data(), mean_mode::relative_saturation, depth),
        1.0, 1e-12);
    EXPECT_NEAR(depth_weighted_mean(COLUMN, THETA_SAT.data(), mean_mode::relative_saturation, 0.05,
                                    depth + 0.05, NODATA),
                1.0, 1e-12);
  }
}

TEST(DepthMeans, ColumnWithoutLayersGivesOne) {
  const soil_column_view empty{0, THICKNESS.data(), THETA_SAT.data()};
  EXPECT_EQ(thickness_weighted_mean(empty, VALUES.data(), mean_mode::amount, 0.5), 1.0);
  EXPECT_EQ(depth_weighted_mean(empty, VALUES.data(), mean_mode::amount, 0, 0.5, NODATA), 1.0);
}

}  // namespace
