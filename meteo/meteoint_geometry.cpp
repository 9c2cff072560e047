#include "meteo/meteoint_geometry.h"

#include <cmath>

namespace {
// Squared distance beyond which no scenario point counts.
constexpr double SCENARIO_SEARCH_LIMIT = 1e15;  // [m2]
// Nearest distances below this are "none yet".
constexpr double NONE_FOUND = -1000;  // [m]
}  // namespace

rotated_point rotate_about_corner(double x0, double y0, double x, double y, double slope) {
  const double dx = x - x0;
  const double dy = y - y0;
  const double r = std::sqrt(dx * dx + dy * dy);
  double angle = 0;
  if (dx == 0)
    angle = dy > 0 ? HALF_PI : -HALF_PI;
  else
    angle = std::atan2(dy, dx);
  return {x0 + r * std::cos(angle - slope), y0 + r * std::sin(angle - slope), r};
}

station_spacing nearest_station_spacing(const double* x, const double* y, int n) {
  station_spacing s;
  const size_t size = n > 0 ? static_cast<size_t>(n) + 1 : 1;
  s.nearest_x.assign(size, -9999.0);
  s.nearest_y.assign(size, -9999.0);
  double sum_x = 0;
  double sum_y = 0;
  int found_x = 0;
  int found_y = 0;
  for (int i = 1; i <= n; ++i) {
    double& nx = s.nearest_x[static_cast<size_t>(i)];
    double& ny = s.nearest_y[static_cast<size_t>(i)];
    for (int j = 1; j <= n; ++j) {
      if (j == i) continue;
      const double dx = x[j] - x[i];
      const double dy = y[j] - y[i];
      const double d = std::sqrt(dx * dx + dy * dy);
      if (std::fabs(dy) > std::fabs(dx)) {
        if (dy > 0 && (d < ny || ny < NONE_FOUND)) ny = d;
      } else if (dx > 0 && (d < nx || nx < NONE_FOUND)) {
        nx = d;
      }
    }
    if (nx > NONE_FOUND) {
      sum_x += nx;
      ++found_x;
    }
    if (ny > NONE_FOUND) {
      sum_y += ny;
      ++found_y;
    }
  }
  if (found_x > 0) s.average_x = sum_x / found_x;
  if (found_y > 0) s.average_y = sum_y / found_y;
  return s;
}

double nearest_scenario_value(const std::vector<std::array<double, 16>>& points, double x,
                              double y) {
  double best = SCENARIO_SEARCH_LIMIT;
  double value = 0;
  for (size_t k = 1; k < points.size(); ++k) {
    const double dx = x - points[k][1];
    const double dy = y - points[k][2];
    const double d2 = dx * dx + dy * dy;
    if (d2 <= best) {
      best = d2;
      value = points[k][15];
    }
  }
  return value;
}
