// Least-squares lines of the station values over elevation in two groups
// split at the lower inversion, their joining into height layers, the plane
// of the residuals by Cramer's rule on the normal equations, and the mesh
// orientation from a histogram of neighbour directions.
#include "meteo/meteoint_regression_fit.h"

#include <array>
#include <cmath>
#include <vector>

namespace {

struct group_sums {
  int n = 0;
  double sz = 0, sv = 0, szz = 0, svz = 0;
  double zmin = 1e20, zmax = -1e20; // [m]
  void add(double z, double v) {
    ++n;
    sz += z;
    sv += v;
    szz += z * z;
    svz += v * z;
    if (z < zmin)
      zmin = z;
    if (z > zmax)
      zmax = z;
  }
  void add(const group_sums &o) {
    n += o.n;
    sz += o.sz;
    sv += o.sv;
    szz += o.szz;
    svz += o.svz;
  }
  // One point at the means (cluster or single station).
  void collapse() {
    const double zm = sz / n, vm = sv / n;
    n = 1;
    sz = zm;
    sv = vm;
    szz = zm * zm;
    svz = zm * vm;
  }
};

struct line {
  double a = 0, b = 0;
  double at(double z) const { return a + b * z; }
};

line through(double z1, double v1, double z2, double v2) {
  // Two points at one elevation give no gradient: the first point's level.
  const double b = z2 != z1 ? (v2 - v1) / (z2 - z1) : 0.0;
  return {v1 - b * z1, b};
}

line fitted(const group_sums &g, double invalid) {
  if (g.n <= 1)
    return {invalid, invalid};
  const double denominator = g.szz - g.sz * g.sz / g.n;
  if (denominator == 0)
    return {invalid, invalid};
  const double b = (g.svz - g.sz * g.sv / g.n) / denominator;
  return {(g.sv - b * g.sz) / g.n, b};
}

} // namespace

regression_set fit_elevation_regression(const station_view &s,
                                        const elevation_regression_line &e,
                                        double nodata) {
  const double invalid = invalid_marker(nodata);
  const double h_lo = e.lower_inversion;
  auto used = [&](int k) { return s.v[k] > -nodata; };

  group_sums lower, upper;
  for (int k = 1; k <= s.n; ++k)
    if (used(k))
      (s.z[k] <= h_lo ? lower : upper).add(s.z[k], s.v[k]);

  double above = 1e9, below = -1e8; // A and B [m], of every station
  for (int k = 1; k <= s.n; ++k) {
    if (s.z[k] > h_lo && s.z[k] < above)
      above = s.z[k];
    if (s.z[k] <= h_lo && s.z[k] > below)
      below = s.z[k];
  }
  for (int k = 1; k <= s.n; ++k) {
    if (!used(k))
      continue;
    if (s.z[k] == below && (e.overlap > 0 || upper.n == 1))
      upper.add(s.z[k], s.v[k]);
    if (s.z[k] == above && (e.overlap > 0 || lower.n == 1))
      lower.add(s.z[k], s.v[k]);
  }

  const double c = e.cluster_range;
  if (lower.n > 1 && lower.zmax - lower.zmin < c) {
    lower.collapse();
    lower.zmin = lower.sz;
  }
  if (upper.n > 1 && upper.zmax - upper.zmin < c) {
    upper.collapse();
    upper.zmax = upper.sz;
  }
  if (lower.n == 1 && upper.n == 1) {
    if (upper.sz - lower.sz < c) {
      upper = group_sums();
    } else {
      group_sums pair = lower;
      pair.add(upper);
      lower = upper = pair;
    }
  }

  line lo = fitted(lower, invalid), up = fitted(upper, invalid);
  if (lower.n == 0 && upper.n == 1) {
    lo = up = {upper.sv, 0};
  } else if (lower.n == 0 && upper.n > 1) {
    lo = up;
  } else if (lower.n == 1 && upper.n == 0) {
    lo = up = {lower.sv, 0};
  } else if (lower.n == 1 && upper.n > 1) {
    lo = through(lower.sz, lower.sv, h_lo, up.at(h_lo));
  } else if (lower.n > 1 && upper.n == 0) {
    up = lo;
  } else if (lower.n > 1 && upper.n == 1) {
    up = through(h_lo, lo.at(h_lo), upper.sz, upper.sv);
  }

  const double z_break = (!(up.a > -nodata) || lo.b == up.b)
                             ? h_lo
                             : (up.a - lo.a) / (lo.b - up.b);
  line layer1, layer2, layer3;
  double zlow = 0, zup = 0;
  if (h_lo - e.tolerance <= z_break &&
      z_break <= e.upper_inversion + e.tolerance) {
    zup = z_break;
    layer1 = {lo.a, 0};
    layer2 = lo;
    layer3 = up;
  } else {
    zlow = h_lo;
    zup = e.upper_inversion;
    if (h_lo > 0) {
      layer1 = lo;
      layer3 = up;
      layer2 = through(h_lo, lo.at(h_lo), zup, up.at(zup));
    } else {
      layer1 = {lo.a, 0};
      layer2 = lo;
      layer3 = up;
    }
  }
  if (e.upper_lapse_rate > -9998)
    layer3 = {layer3.at(zup) - e.upper_lapse_rate * zup, e.upper_lapse_rate};

  regression_set r{};
  r[1] = layer1.a, r[2] = layer1.b, r[3] = zlow;
  r[4] = layer2.a, r[5] = layer2.b, r[6] = zup;
  r[7] = layer3.a, r[8] = layer3.b;
  r[9] = r[10] = r[11] = invalid;

  int n = 0;
  double sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0, sr = 0, srx = 0, sry = 0;
  for (int k = 1; k <= s.n; ++k) {
    if (!used(k))
      continue;
    const double z = s.z[k];
    const line &l = z < zlow ? layer1 : (z > zup ? layer3 : layer2);
    const double res = s.v[k] - l.at(z) + layer1.a;
    const double x = s.x[k], y = s.y[k];
    ++n;
    sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
    sr += res, srx += res * x, sry += res * y;
  }
  if (n > 3) {
    const std::array<double, 4> c1{0, double(n), sx, sy}, c2{0, sx, sxx, sxy},
        c3{0, sy, sxy, syy}, rhs{0, sr, srx, sry};
    const double det = determinant3(c1, c2, c3);
    // Stations on one line leave the plane undetermined: no horizontal part.
    if (det != 0 && std::isfinite(det)) {
      const double gx = determinant3(c1, rhs, c3) / det;
      const double gy = determinant3(c1, c2, rhs) / det;
      const double c0 = (sr - gx * sx - gy * sy) / n;
      if (std::isfinite(gx) && std::isfinite(gy) && std::isfinite(c0)) {
        r[9] = c0;
        r[10] = gx;
        r[11] = gy;
      }
    }
  }
  return r;
}

mesh_orientation find_neighbour_stations(const double *x, const double *y,
                                         int n) {
  constexpr double PI = 3.14159265359;
  constexpr double HALF = 1.570796326795;
  std::vector<int> neighbour(static_cast<size_t>(n > 0 ? n : 0) + 1, -9999);
  std::vector<double> degrees(neighbour.size(), 0.0);
  std::array<double, 37> histogram{};
  for (int i = 1; i <= n; ++i) {
    int accepted = 0, candidate = 0;
    double d_accepted = 0, d_candidate = 0;
    for (int j = 1; j <= n; ++j) {
      if (j == i)
        continue;
      const double d =
          (x[j] - x[i]) * (x[j] - x[i]) + (y[j] - y[i]) * (y[j] - y[i]);
      if (accepted == 0 || d < d_accepted) {
        candidate = j;
        d_candidate = d;
        if (neighbour[static_cast<size_t>(j)] != i) {
          accepted = j;
          d_accepted = d;
        }
      }
    }
    if (accepted != 0 && d_accepted > 1.01 * d_candidate)
      accepted = candidate;
    if (accepted == 0)
      continue;
    neighbour[static_cast<size_t>(i)] = accepted;
    double angle = std::atan2(y[accepted] - y[i], x[accepted] - x[i]);
    if (angle > HALF)
      angle -= PI;
    if (angle < -HALF)
      angle += PI;
    const double deg = angle * 180 / PI;
    degrees[static_cast<size_t>(i)] = deg;
    const int bin =
        static_cast<int>(std::floor(std::fmod(deg + 365, 360) / 10)) % 18;
    histogram[static_cast<size_t>(bin)] += 1;
  }
  int best = 0;
  for (int b = 1; b < 18; ++b)
    if (histogram[static_cast<size_t>(b)] >
        histogram[static_cast<size_t>(best)])
      best = b;
  mesh_orientation m;
  if (histogram[static_cast<size_t>(best)] == 0)
    return m;
  double sum = 0;
  int count = 0;
  for (int i = 1; i <= n; ++i) {
    if (neighbour[static_cast<size_t>(i)] == -9999)
      continue;
    const double deg = degrees[static_cast<size_t>(i)];
    if (static_cast<int>(std::floor(std::fmod(deg + 365, 360) / 10)) % 18 !=
        best)
      continue;
    double a = std::fmod(deg + 360, 180);
    if (best == 0 && a > 5)
      a -= 180;
    if (std::fabs(a - best * 10.0) <= 5) {
      sum += a;
      ++count;
    }
  }
  if (count == 0)
    return m;
  double mean = sum / count;
  if (mean > 45)
    mean -= 90;
  if (std::fabs(mean) > 0.001) {
    m.slope_degrees = mean;
    m.ratio = 0.995;
  }
  return m;
}
