// Geometry kernels of the interpolator's set-up: the anisotropy rotation of a
// point about the grid's lower-left corner, the nearest neighbour of each
// station along x and along y (the average station spacing), and the nearest
// scenario point of a cell. Pure functions over plain arrays.
#pragma once

#include <array>
#include <vector>

// pi / 2 as the anisotropy bounds and the rotation use it.
constexpr double HALF_PI = 1.570796326795;
// Degrees to radians of the anisotropy slope.
constexpr double DEGREES_TO_RADIANS = 0.017453292519944444;

struct rotated_point {
  double x = 0;       // [m]
  double y = 0;       // [m]
  double radius = 0;  // [m] from the corner
};
// The point (x, y) turned by -slope [rad] about the corner (x0, y0).
rotated_point rotate_about_corner(double x0, double y0, double x, double y, double slope);

// Per station i of x[1..n], y[1..n]: the distance to the nearest station that
// lies mainly east of it (nearest_x) and mainly north of it (nearest_y),
// -9999 when there is none; the averages of those found, -9999 without any.
struct station_spacing {
  std::vector<double> nearest_x;  // 1..n [m]
  std::vector<double> nearest_y;  // 1..n [m]
  double average_x = -9999;       // [m]
  double average_y = -9999;       // [m]
};
station_spacing nearest_station_spacing(const double* x, const double* y, int n);

// The day's value (column 15) of the scenario point nearest to (x, y) among
// points[1..]: columns 1 and 2 hold its coordinates. Of equally near points
// the later one; 0 when none lies within a squared distance of 1e15.
double nearest_scenario_value(const std::vector<std::array<double, 16>>& points, double x,
                              double y);
