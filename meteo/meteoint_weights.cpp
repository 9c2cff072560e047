// Per-point primitives of the interpolator: inverse-distance weights with a
// search radius, nearest station, bilinear look-up and elevation regression.
#include "meteo/meteoint_weights.h"

#include <cmath>

namespace {

// Weight of a station at the squared distance s (0 counts as 1: a station at
// the point weighs like one a unit away, so it does not take over alone).
double distance_weight(double s, const idw_settings &p) {
  if (s == 0)
    s = 1;
  if (p.weight_code == 2000)
    return s <= p.max_distance ? 1.0 / s : 0.0;
  const double d = std::sqrt(s);
  if (d > p.max_distance)
    return 0.0;
  if (p.weight_code == 1000)
    return 1.0 / d;
  return std::pow(d, -p.power);
}

template <class Distance>
double weighted_mean(const station_view &s, double *w, const idw_settings &p,
                     Distance squared) {
  double sum_w = 0;
  for (int k = 1; k <= s.n; ++k) {
    w[k] = s.v[k] < -p.nodata ? 0.0 : distance_weight(squared(k), p);
    sum_w += w[k];
  }
  if (sum_w == 0)
    return invalid_marker(p.nodata);
  double sum = 0;
  for (int k = 1; k <= s.n; ++k)
    if (w[k] > 0)
      sum += w[k] * s.v[k];
  return sum / sum_w;
}

} // namespace

double idw(const station_view &s, double *w, double x, double y,
           const idw_settings &p) {
  return weighted_mean(s, w, p, [&](int k) {
    const double dx = s.x[k] - x;
    const double dy = s.y[k] - y;
    return dx * dx + dy * dy;
  });
}

double idw_anisotropic(const station_view &s, double *w, double xr, double yr,
                       const idw_settings &p) {
  return weighted_mean(s, w, p, [&](int k) {
    const double dx = (s.x[k] - xr) * p.ratio;
    const double dy = s.y[k] - yr;
    return dx * dx + dy * dy;
  });
}

double thiessen(const station_view &s, double *d, double x, double y,
                double nodata) {
  double best = 1e20;
  int found = 0;
  for (int k = 1; k <= s.n; ++k) {
    if (s.v[k] < -nodata)
      continue;
    const double dx = s.x[k] - x;
    const double dy = s.y[k] - y;
    d[k] = dx * dx + dy * dy;
    if (d[k] <= best) {
      best = d[k];
      found = k;
    }
  }
  return found > 0 ? s.v[found] : invalid_marker(nodata);
}

double thiessen_with_gradient(const station_view &s, double x, double y,
                              double z, const lapse_settings &l,
                              double nodata) {
  double best = 1e20;
  int found = 0;
  for (int k = 1; k <= s.n; ++k) {
    if (s.v[k] < -nodata)
      continue;
    const double dx = s.x[k] - x;
    const double dy = s.y[k] - y;
    const double d = dx * dx + dy * dy;
    if (d < best) {
      best = d;
      found = k;
    }
  }
  if (found == 0)
    return invalid_marker(nodata);
  const double v = s.v[found];
  if (l.p_type != 0 && v == 0)
    return 0;
  const double zk = s.z[found];
  const double h = l.inversion_height;
  const double g = l.lapse_rate;
  const double gu = l.fixed_upper_lapse_rate;
  if (!(h > -9998))
    return (z - zk) * g + v;
  if (zk <= h)
    return z <= h ? (z - zk) * g + v : (h - zk) * g + v + (z - h) * gu;
  return z > h ? (z - zk) * gu + v : (h - zk) * gu + v + (z - h) * g;
}

double bilinear(const station_view &s, const lookup_corners &c, double *w,
                double xr, double yr, const idw_settings &p) {
  lookup_corners k = c;
  for (int &station : k)
    if (station > 0 && s.v[station] < -p.nodata)
      station = 0;
  const int s1 = k[0], s2 = k[1], s3 = k[2], s4 = k[3];
  if (s1 != 0 && s1 == s2 && s1 == s3 && s1 == s4)
    return s.v[s1];
  if (s1 == 0 || s2 == 0 || s3 == 0 || s4 == 0 || s.x[s1] == s.x[s2] ||
      s.y[s3] == s.y[s2])
    return idw_anisotropic(s, w, xr, yr, p);
  const double u = (xr - s.x[s2]) / (s.x[s1] - s.x[s2]);
  const double t = (yr - s.y[s2]) / (s.y[s3] - s.y[s2]);
  return (1 - u) * (1 - t) * s.v[s2] + u * (1 - t) * s.v[s1] +
         (1 - u) * t * s.v[s3] + u * t * s.v[s4];
}

double regression_value(const regression_set &r, double x, double y, double z,
                        double nodata, double grid_nodata) {
  const double a1 = r[1], b1 = r[2], zlow = r[3], a2 = r[4], b2 = r[5],
               zup = r[6], a3 = r[7], b3 = r[8], c0 = r[9], gx = r[10],
               gy = r[11];
  if (a1 < -nodata)
    return invalid_marker(nodata);
  if (!(c0 < -nodata) && x != grid_nodata && y != grid_nodata) {
    const double h = c0 + gx * x + gy * y;
    if (z > zup)
      return h - a1 + a3 + b3 * z;
    if (z < zlow)
      return h + b1 * z;
    return h - a1 + a2 + b2 * z;
  }
  if (z > zup)
    return a3 + b3 * z;
  if (z < zlow)
    return a1 + b1 * z;
  return a2 + b2 * z;
}

double determinant3(const std::array<double, 4> &c1,
                    const std::array<double, 4> &c2,
                    const std::array<double, 4> &c3) {
  return c1[1] * (c2[2] * c3[3] - c3[2] * c2[3]) -
         c2[1] * (c1[2] * c3[3] - c3[2] * c1[3]) +
         c3[1] * (c1[2] * c2[3] - c2[2] * c1[3]);
}

int station_in_box(const station_view &s, double x0, double y0, double dx_lo,
                   double dx_hi, double dy_lo, double dy_hi) {
  for (int k = 1; k <= s.n; ++k)
    if (x0 + dx_lo < s.x[k] && s.x[k] < x0 + dx_hi && y0 + dy_lo < s.y[k] &&
        s.y[k] < y0 + dy_hi)
      return k;
  return 0;
}
