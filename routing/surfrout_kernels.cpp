#include "routing/surfrout_kernels.h"

#include <algorithm>
#include <cmath>

namespace surfrout {

namespace {

constexpr double RESIDUE_REYNOLDS_FACTOR = 4000000;  // [s m-2]
constexpr double STEM_REYNOLDS_FACTOR = 1000000;     // [s m-2]
constexpr double RESIDUE_REYNOLDS_LIMIT = 20000;     // [-]
constexpr double MIN_STEM_DIAMETER = 0.001;          // [m]
constexpr double LOW_FROUDE = 0.05;                  // [-]
constexpr double WATER_LEVEL_TOLERANCE = 0.0001;     // [-]

bool single_direction(int method) { return method == 2 || method == 4 || method == 5; }

double length_factor(int d) { return diagonal(d) ? DIAGONAL : 1.0; }

// Drag coefficient of a stem at the stem Reynolds number.
double drag_coefficient(double re_d, double c_wr) {
  if (re_d < 800) return 3.07 * std::pow(re_d, -0.168);
  if (re_d < 8000) return 1;
  if (re_d < 10000) return 1.2;
  return c_wr;
}

// Darcy-Weisbach friction of standing crop stems.
double crop_lambda(const Friction& f, const FlowParams& p, double v, double h, double s) {
  const double d = f.stem_diameter;
  if (d < MIN_STEM_DIAMETER || h < p.h_crop || v <= 0 || h <= 0 || f.crop_dist_x <= 0 ||
      f.crop_dist_y <= 0)
    return 0;
  const double c_w = drag_coefficient(v * d * STEM_REYNOLDS_FACTOR, f.c_wr);
  double s_eff = s;
  if (s * c_w / (v * v) > 0.04) s_eff = v * v / c_w / 25;
  // Wake length: two successive values within eps_a, the first compared with 0.
  double a_nl = 50 * d;
  if (50 * d > p.eps_a && p.n_a > 0) {
    double previous = 0;
    for (int k = 0; k < p.n_a; ++k) {
      const double next =
          128.9 * c_w * d * std::pow(1 + GRAVITY * s_eff * a_nl / (0.5 * v * v), -2.14);
      a_nl = next;
      if (std::fabs(next - previous) <= p.eps_a) break;
      previous = next;
    }
  }
  const double a_nb = 0.24 * std::pow(a_nl, 0.59) * std::pow(c_w * d, 0.41);
  const double c_r =
      1.15 * std::pow(a_nl / f.crop_dist_x, -0.48) + 0.5 * std::pow(a_nb / f.crop_dist_y, 1.1);
  double fr = v / std::sqrt(GRAVITY * h);
  const double a_y = f.crop_dist_y <= 5 * d ? 5 * d : f.crop_dist_y;
  const double blocking = a_y / (a_y - d);
  const double b3 = blocking * blocking * blocking;
  if (b3 * fr > 0.666) fr = 2 / (3 * b3);
  double fr_used = fr;
  double factor = 0;
  if (fr < LOW_FROUDE) {
    fr_used = LOW_FROUDE;
    factor = 2 / (LOW_FROUDE * LOW_FROUDE);
  } else {
    factor = 2 / (fr * fr);
  }
  double term = 0;
  if (p.n_a <= 0) {
    term = 0.4 * factor;
  } else {
    double y = 0.6;
    double y_new = y;
    for (int k = 0; k < p.n_a; ++k) {
      y_new = 2 * fr_used * (y - blocking) / (y * y - 1);
      if (std::fabs(y - y_new) <= WATER_LEVEL_TOLERANCE) break;
      y = y_new;
    }
    term = (1 - y_new) * factor;
  }
  return 4 * h * d / (f.crop_dist_x * a_y) * (1.31 * c_w * c_r + term);
}

// One velocity iteration: v_prev and v_cur in and out, h and k_last out.
void iterate_velocity(const Friction& f, const FlowParams& p, double q_d, double length,
                      double factor, double sq, double& v_prev, double& v_cur, double& h,
                      double& k_last) {
  for (int k = 0; (k == 0 || std::fabs(v_prev - v_cur) > p.eps_v) && k < p.n_v; ++k) {
    const double v_mean = (v_prev + v_cur) / 2;
    h = v_mean > 0 ? factor * q_d / (v_mean * length) : 0;
    k_last = strickler_of(f, p, v_mean, h, sq);
    v_prev = v_cur;
    v_cur = h > 0 ? k_last * std::pow(h, MANNING_EXPONENT) * sq : 0;
  }
}

void scale_positive(double* flux, double r) {
  double total = 0;
  for (int d = 1; d <= DIRECTIONS; ++d)
    if (flux[d] > 0) {
      flux[d] *= r;
      total += flux[d];
    }
  flux[0] = total;
}

double positive_total(const double* flux) {
  double total = 0;
  for (int d = 1; d <= DIRECTIONS; ++d)
    if (flux[d] > 0) total += flux[d];
  return total;
}

// What an internal step may take from the cell at most.
void bound_by_storage(const VelocityCell& cell, double* flux) {
  const double total = positive_total(flux);
  if (total <= 0 || cell.longest_step <= 0) return;
  const double bound = cell.area * cell.depth / cell.longest_step;
  if (total > bound) scale_positive(flux, bound / total);
}

void main_direction_flux(const double* velocity, double* flux) {
  const int main = static_cast<int>(velocity[0]);
  if (main >= 1 && main <= DIRECTIONS) flux[0] = flux[main];
}

}  // namespace

SlopeAspect slope_aspect_of(const SurfaceBlock& b, bool river, bool interior, double cs) {
  SlopeAspect out;
  if (river) {
    out.kind = 1;
    return out;
  }
  if (!interior) {
    out.kind = 3;
    return out;
  }
  out.kind = 2;
  const double surface = b.z[0] + b.h[0];
  double gradient[9] = {};
  int winner = 1;
  for (int d = 1; d <= DIRECTIONS; ++d) {
    const double drop = surface - (b.z[d] + b.h[d]);
    gradient[d] = diagonal(d) ? drop / (SLOPE_DIAGONAL * cs) : drop / cs;
    if (d > 1 && gradient[d] > gradient[winner]) winner = d;
  }
  out.slope = gradient[winner];
  out.aspect = (winner - 1) * 45.0;
  int ties = 0;
  for (int d = 2; d <= DIRECTIONS; ++d)
    if (gradient[d] == out.slope) ++ties;
  if (ties >= 2) {
    auto surface_of = [&](int d) { return b.z[d] + b.h[d]; };
    const double a = (surface_of(3) - surface_of(7)) / (2 * cs);
    const double bb = (surface_of(1) - surface_of(5)) / (2 * cs);
    if (a != 0)
      out.aspect = (a / std::fabs(a)) * 90 + 180 - std::atan(bb / a) * DEGREES_PER_RADIAN;
    else
      out.aspect = bb > 0 ? 180 : 0;
  }
  return out;
}

int direction_weights_of(const WeightsInput& in, const SurfaceBlock& b, double* weights,
                         double* velocity) {
  double old[9];
  for (int d = 1; d <= DIRECTIONS; ++d) {
    old[d] = weights[d];
    weights[d] = 0;
  }
  int kind = in.kind;
  const double j = b.h[0];
  auto drop = [&](int d) { return b.z[0] + j - b.z[d] - b.h[d]; };
  bool divided = false;
  if (kind == 2 && in.slope != 0) {
    double aspect = in.aspect;
    if (aspect >= 337.5) aspect -= 360;
    const int sector = static_cast<int>(std::floor((22.5 + aspect) / 45));
    const int main = sector + 1;
    weights[main] = 1;
    velocity[0] = main;
    if (in.method == 1 || in.method == 3) {
      const double deviation = aspect - 45.0 * sector;
      const double alpha = deviation * RADIANS_PER_DEGREE;
      const double beta = (45 - std::fabs(deviation)) * RADIANS_PER_DEGREE;
      double w_main = std::cos(alpha);
      double w_ccw = 0;
      double w_cw = 0;
      if (alpha > 0) {
        w_ccw = std::fabs(std::cos(beta) * std::cos(alpha));
        w_cw = std::fabs(std::sin(beta) * std::cos(alpha));
      } else {
        w_ccw = std::fabs(std::sin(beta) * std::cos(alpha));
        w_cw = std::fabs(std::cos(beta) * std::cos(alpha));
      }
      for (double* w : {&w_main, &w_ccw, &w_cw})
        if (*w < 0.0001) *w = 0;
      const double sum = w_main + w_ccw + w_cw;
      if (sum > 0) {
        w_main /= sum;
        w_ccw /= sum;
        w_cw /= sum;
      }
      weights[main] = w_main;
      if (in.plan_curvature <= 0) {
        weights[main == 1 ? 8 : main - 1] = w_ccw;
        weights[main == 8 ? 1 : main + 1] = w_cw;
      }
    }
    double sum = 0;
    for (int d = 1; d <= DIRECTIONS; ++d) {
      if (weights[d] > 0 && drop(d) < 0) weights[d] = 0;
      sum += weights[d];
    }
    if (sum == 0) {
      kind = 3;
    } else {
      for (int d = 1; d <= DIRECTIONS; ++d) weights[d] /= sum;
      divided = true;
    }
  }
  if (!divided) {
    for (int d = 1; d <= DIRECTIONS; ++d) {
      weights[d] = 0;
      if (!b.valid[d]) continue;
      const double e = drop(d);
      if (e > MIN_DROP) weights[d] = diagonal(d) ? e / DIAGONAL : e;
    }
    int main = 0;
    double sum = 0;
    for (int d = 1; d <= DIRECTIONS; ++d) {
      sum += weights[d];
      if (weights[d] > 0 && (main == 0 || weights[d] > weights[main])) main = d;
    }
    if (single_direction(in.method)) {
      for (int d = 1; d <= DIRECTIONS; ++d) weights[d] = 0;
      if (main > 0) weights[main] = 1;
    } else if (sum > 0) {
      for (int d = 1; d <= DIRECTIONS; ++d) weights[d] /= sum;
    }
    velocity[0] = main;
  }
  velocity[9] = in.storage_mm / 1000 + b.z[0];
  int unchanged = 0;
  if (in.pass > 0)
    for (int d = 1; d <= DIRECTIONS; ++d)
      if (std::fabs(old[d] - weights[d]) <= UNCHANGED_WEIGHT) ++unchanged;
  weights[0] = unchanged;
  return kind;
}

double strickler_of(const Friction& f, const FlowParams& p, double v, double h, double s) {
  if (!f.has_class) return 0;
  const double k_st = std::max(f.k_st, 0.0);
  double k = k_st;
  if (f.cultivation == 1) {
    const double re = RESIDUE_REYNOLDS_FACTOR * v * h;
    const double* c = re < RESIDUE_REYNOLDS_LIMIT ? f.rough1 : f.rough2;
    // Without residue the surface keeps its own roughness.
    if (f.cover > 0 && re > 0) k = std::pow(re, c[2]) / (c[0] * std::pow(100 * f.cover, c[1]));
  } else if (f.cultivation == 2) {
    if (h <= 0) return k_st;
    const double lambda = crop_lambda(f, p, v, h, s);
    const double h_third = std::pow(h, THIRD);
    const double arg = EIGHT_G / ((EIGHT_G / (k_st * k_st * h_third) + lambda) * h_third);
    k = arg > 0 ? std::sqrt(arg) : 0.001;
  }
  if (!std::isfinite(k) || k < 0) return k_st;
  return k;
}

void cell_flows_of(const FlowParams& p, const Friction& f, const VelocityCell& cell,
                   const SurfaceBlock& b, const double* weights, double* velocity, double* flux) {
  if (weights[0] == 8 && cell.pass != 0 && cell.pass != cell.recompute && p.method != 5) {
    bound_by_storage(cell, flux);
    main_direction_flux(velocity, flux);
    return;
  }
  const double cs = p.cs;
  const double h0 = cell.depth;
  const double surface = b.z[0] + b.h[0];
  flux[0] = 0;
  double bound_last = 0;
  for (int d = 1; d <= DIRECTIONS; ++d) {
    const double w = weights[d];
    if (w <= 0 || h0 <= 0) {
      velocity[d] = 0;
      flux[d] = 0;
      continue;
    }
    if (velocity[d] <= 0) velocity[d] = START_VELOCITY;
    const double v_start = velocity[d];
    const double length = length_factor(d) * cs;
    const double neighbour = b.z[d] + b.h[d];
    const double drop = surface - neighbour;
    double slope = drop / length;
    if (cell.kind == 2 && neighbour >= b.z[0]) {
      const int o = opposite(d);
      slope = (b.z[o] + b.h[o] - neighbour) / (2 * length);
    }
    const double sq = slope > 0 ? std::sqrt(slope) : 0;
    const double bound_drop = 2 * cs * cs * w * drop / p.s_max;
    const double q_d = std::min(bound_drop, cs * cs * w * h0 / p.s_max);
    bound_last = bound_drop;
    if (p.method == 5) {
      const double v = std::min(length / (20 * p.s_min), 10 * std::pow(h0, MANNING_EXPONENT) * sq);
      velocity[d] = v;
      flux[d] = v * length * h0;
      flux[0] += flux[d];
      continue;
    }
    double v_prev = v_start;
    double v_cur = v_start;
    double h = 0;
    double k_last = 0;
    iterate_velocity(f, p, q_d, length, 1, sq, v_prev, v_cur, h, k_last);
    double factor = 1;
    const double ratio = f.k_st > 0 ? k_last / f.k_st : 1;
    const double tau = RHO_G * h * sq * sq * std::pow(ratio, 1.5);
    if (p.n_v > 0 && tau >= cell.critical_shear && p.concentration > 1) {
      factor = p.concentration;
      v_prev = v_cur;
      iterate_velocity(f, p, q_d, length, factor, sq, v_prev, v_cur, h, k_last);
    }
    double v = v_cur;
    if (h / factor > h0) {
      h = factor * h0;
      double v_new = strickler_of(f, p, v_cur, h, sq) * std::pow(h, MANNING_EXPONENT) * sq;
      for (int k = 0; (k == 0 || std::fabs(v_cur - v_new) > p.eps_v) && k < p.n_v; ++k) {
        v_cur = v_new;
        v_new = strickler_of(f, p, v_cur, h, sq) * std::pow(h, MANNING_EXPONENT) * sq;
      }
      v = v_new;
    }
    if (h < MIN_FLOW_DEPTH) {
      h = 0;
      v = 0;
    }
    velocity[d] = v;
    flux[d] = length * v * h / factor;
    flux[0] += flux[d];
  }
  if (p.method != 5 && flux[0] > 0) {
    const double r = std::min(bound_last, cs * cs * h0 / p.s_max) / flux[0];
    if (r < 1) scale_positive(flux, r);
  }
  bound_by_storage(cell, flux);
  main_direction_flux(velocity, flux);
}

double adjusted_step_bound(double bound, double substep_seconds) {
  if (!(bound > 0)) return substep_seconds;
  const double n = std::trunc(substep_seconds / bound);
  return n > 0 ? substep_seconds / n : substep_seconds;
}

InternalSteps internal_steps(double dt_sub, double cfl_limit, double s_min, double s_max) {
  InternalSteps out;
  double s = s_min;
  if (cfl_limit > 0) {
    s = dt_sub / (std::trunc(dt_sub / cfl_limit) + 1);
    if (s < s_min)
      s = s_min;
    else if (s > s_max)
      s = s_max;
  }
  out.length = s;
  out.foreseen = static_cast<int>(dt_sub / s) + 1;
  out.recompute = static_cast<int>(out.foreseen / (dt_sub / s_max));
  return out;
}

double plan_curvature_of(const double* z, double g, double nodata) {
  for (int d = 0; d <= DIRECTIONS; ++d)
    if (z[d] == nodata) return nodata;
  const double p = (z[1] - z[5]) / (2 * g);
  const double q = (z[3] - z[7]) / (2 * g);
  if (p == 0 && q == 0) return 0;
  const double g2 = g * g;
  return 2 *
         ((0.5 * (z[1] + z[5]) - z[0]) / g2 * q * q + (0.5 * (z[7] + z[3]) - z[0]) / g2 * p * p -
          (z[2] + z[6] - z[8] - z[4]) / (4 * g2) * p * q) /
         (p * p + q * q);
}

}  // namespace surfrout
