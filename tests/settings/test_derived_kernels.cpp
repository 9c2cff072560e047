// Kernels of the derived grids against closed forms: slope and aspect of
// tilted planes in the eight directions, the neighbour mean and its order,
// the cell sizes from the relative area, the transition distance and the
// region transition weights.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "modelbase/gridtypes.h"
#include "modelbase/memhandling.h"
#include "settings/derived_grids_kernels.h"

namespace {

TEST(DerivedKernels, SlopeAndAspectOfTiltedPlanes) {
  // A plane z = gx * x + gy * y (x east, y north, [m]) sampled at the four
  // neighbours of a cell of 25 m. Closed form: slope = atan(|grad z|) and the
  // slope faces downhill, aspect = atan2(-gx, -gy) clockwise from north.
  const double cs = 25.0;
  const double g = 0.3;
  const double d = g / std::sqrt(2.0);
  struct row {
    const char* facing;
    double gx, gy;
  };
  const row rows[] = {
      {"south", 0, g},  {"south-west", d, d},   {"west", g, 0},  {"north-west", d, -d},
      {"north", 0, -g}, {"north-east", -d, -d}, {"east", -g, 0}, {"south-east", -d, d},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.facing);
    const auto z = [&](double x, double y) { return 500.0 + r.gx * x + r.gy * y; };
    const slope_aspect v = slope_and_aspect(z(0, cs), z(0, -cs), z(-cs, 0), z(cs, 0), cs);
    const double slope = std::atan(std::hypot(r.gx, r.gy)) * 180.0 / std::numbers::pi;
    double aspect = std::atan2(-r.gx, -r.gy) * 180.0 / std::numbers::pi;
    if (aspect < 0) aspect += 360.0;
    EXPECT_NEAR(v.slope, slope, 1e-9);
    EXPECT_NEAR(v.aspect, aspect, 1e-9);
  }
  // Flat ground: slope 0, aspect 0.
  const slope_aspect flat = slope_and_aspect(7, 7, 7, 7, cs);
  EXPECT_EQ(flat.slope, 0.0);
  EXPECT_EQ(flat.aspect, 0.0);
}

TEST(DerivedKernels, NeighbourMeanSkipsNodataAndCellsOutsideTheGrid) {
  memory_handling alloc;
  grid_matrix g = alloc.matrix(1, 3, 1, 3, 3);
  // 1 2 3 / 4 x 6 / 7 -9999 9
  const double v[3][3] = {{1, 2, 3}, {4, 0, 6}, {7, NODATA, 9}};
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) g[r][c] = v[r - 1][c - 1];
  int used = 0;
  // Centre: seven valid neighbours, (1+2+3+4+6+7+9)/7 = 32/7.
  EXPECT_DOUBLE_EQ(neighbour_mean(g, 2, 2, 3, 3, NODATA, used), 32.0 / 7.0);
  EXPECT_EQ(used, 7);
  // Corner (1, 1): east 2, south-east 0, south 4 -> 2.
  EXPECT_DOUBLE_EQ(neighbour_mean(g, 1, 1, 3, 3, NODATA, used), 2.0);
  EXPECT_EQ(used, 3);
  // A 1 x 1 grid has no neighbour.
  grid_matrix one = alloc.matrix(1, 1, 1, 1, 1);
  one[1][1] = 5;
  EXPECT_EQ(neighbour_mean(one, 1, 1, 1, 1, NODATA, used), NODATA);
  EXPECT_EQ(used, 0);
}

TEST(DerivedKernels, CellSizesFromTheRelativeArea) {
  const double cs = 100.0;
  struct row {
    const char* name;
    cell_size_input in;
    cell_size_fault fault;
    double x, y, area;
  };
  const row rows[] = {
      // Neither size: both from the area (a created area is 1).
      {"none given", {false, false, false, 0, 0, 0}, cell_size_fault::none, 100, 100, 1},
      {"area 0.25", {false, false, true, 0, 0, 0.25}, cell_size_fault::none, 50, 50, 0.25},
      // X given: Y = cs^2 * area / X = 10000 * 2 / 400 = 50.
      {"x and area", {true, false, true, 400, 0, 2}, cell_size_fault::none, 400, 50, 2},
      // X given, area created: Y takes the nominal size, area = X / cs.
      {"x alone", {true, false, false, 200, 0, 0}, cell_size_fault::none, 200, 100, 2},
      {"y alone", {false, true, false, 0, 50, 0}, cell_size_fault::none, 100, 50, 0.5},
      {"x and y", {true, true, false, 200, 50, 0}, cell_size_fault::none, 200, 50, 1},
      // Consistent within 1e-5: 200 * 50 / 10000 = 1.
      {"all three",
       {true, true, true, 200, 50, 1.000009},
       cell_size_fault::none,
       200,
       50,
       1.000009},
      {"mismatch",
       {true, true, true, 200, 50, 1.00002},
       cell_size_fault::area_mismatch,
       200,
       50,
       1.00002},
      {"zero x", {true, true, false, 0, 50, 0}, cell_size_fault::zero_x, 0, 50, 0},
      {"zero y", {false, true, true, 0, 0, 1}, cell_size_fault::zero_y, 0, 0, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    cell_size_input cell = r.in;
    EXPECT_EQ(complete_cell_sizes(cell, cs), r.fault);
    if (r.fault != cell_size_fault::none) continue;
    EXPECT_DOUBLE_EQ(cell.x, r.x);
    EXPECT_DOUBLE_EQ(cell.y, r.y);
    EXPECT_DOUBLE_EQ(cell.area, r.area);
  }
}

TEST(DerivedKernels, TransitionDistanceLimits) {
  // A grid of 3 rows and 4 columns of 100 m: its diagonal is 100 * 5 = 500 m.
  constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
  constexpr double INF = std::numeric_limits<double>::infinity();
  struct row {
    const char* name;
    double distance;  // [m] as read
    double used;      // [m]
  };
  const row rows[] = {
      {"zero", 0, 0.01},
      {"negative", -300, 0.01},
      {"not a number", NAN_VALUE, 0.01},
      {"inside the grid", 300, 300},
      {"just below the diagonal", 499.999, 499.999},
      {"the diagonal", 500, 500},
      {"just beyond the diagonal", 500.001, 500},
      {"1e12", 1e12, 500},
      {"largest double", std::numeric_limits<double>::max(), 500},
      {"infinite", INF, 500},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(limited_transition_distance(r.distance, 100.0, 3, 4), r.used);
  }
}

TEST(DerivedKernels, RegionWeights) {
  // Two regions, Dc = 10 cells: w = d/(2 Dc) + 0.5.
  struct row {
    double d;
    double w1, w2;
  };
  const row rows[] = {{1, 0.55, 0.45}, {5, 0.75, 0.25}, {10, 1.0, 0.0}, {0, 0.5, 0.5}};
  for (const row& r : rows) {
    double w1 = r.d;
    double w2 = -1;
    two_region_weights(10.0, w1, w2);
    EXPECT_DOUBLE_EQ(w1, r.w1) << r.d;
    EXPECT_DOUBLE_EQ(w2, r.w2) << r.d;
  }
  // Three regions, Dc = 4, nearest cells of regions 2 and 3 at 1 and 2:
  // dmin 1, a = 1/3, b = 1/5, c = 1/6, m = min(3, 5, 6) = 3,
  // L = (0.9 - 0.5 cos(3/4 * 1.5707963)) / 8 = 0.0883601...; weights are
  // a', b', c' = a - L, b - L, c - L over their sum.
  double w1 = 0.625;
  double w2 = 0;
  double w3 = 0;
  three_region_weights(4.0, 1.0, 2.0, w1, w2, w3);
  const double level = (0.9 - 0.5 * std::cos(0.75 * 1.5707963)) / 8.0;
  const double a = 1.0 / 3 - level;
  const double b = 1.0 / 5 - level;
  const double c = 1.0 / 6 - level;
  EXPECT_NEAR(w1, a / (a + b + c), 1e-12);
  EXPECT_NEAR(w2, b / (a + b + c), 1e-12);
  EXPECT_NEAR(w1 + w2 + w3, 1.0, 1e-12);
  // Far from the other regions (dmin >= Dc): a = 1, which outweighs b and c.
  three_region_weights(4.0, 6.0, 8.0, w1, w2, w3);
  EXPECT_GT(w1, w2);
  EXPECT_GT(w2, w3);
  EXPECT_NEAR(w1 + w2 + w3, 1.0, 1e-12);
}

}  // namespace
