#include "tables/soil_lookup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int N = SOIL_TABLE_STEPS;
// Below this width the first suction steps (0 to 0.0005 and 0.0005 to 0.001 m)
// are not interpolated.
constexpr double MIN_INTERPOLATED_STEP = 0.001;  // [m]
// Shape of the freezing-point shift above the temperature of the steepest
// slope: the shift grows from b*t_max at a*t_max to t_max at t_max.
constexpr double SHIFT_A = 1.2999999999999998;
constexpr double SHIFT_B = 1.15;
constexpr double ICE_RAMP_TEMPERATURE = -20.0;  // [degC] ice term reaches e here
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double effective_saturation(double h, double alpha, double n, double m) {
  return std::pow(1.0 / (1.0 + std::pow(alpha * h, n)), m);
}

// The freezing-point shift of a layer at water content theta [degC].
double freezing_shift(const soil_entry& e, size_t layer, double theta) {
  const std::vector<double>& p = e.freezing_shift_table[layer];
  const int nf = e.freeze_steps;
  const double q = (theta - e.theta_res[layer]) / (e.theta_sat[layer] - e.theta_res[layer]) * nf;
  if (q < 0) return std::fabs(p[0]);
  if (q >= nf) return std::fabs(p[static_cast<size_t>(nf)]);
  const int k = static_cast<int>(q);
  const double f = q - k;
  return std::fabs((1 - f) * p[static_cast<size_t>(k)] + f * p[static_cast<size_t>(k) + 1]);
}

// Linear value of table t at the shifted temperature t_shifted < 0.
double temperature_table_value(const std::vector<double>& t, int nf, double t_min,
                               double t_shifted) {
  const double p = t_shifted * nf / t_min;
  const int j = static_cast<int>(p);
  const double phi = p - j;
  size_t lo = static_cast<size_t>(j);
  if (j < 0) lo = 0;
  if (j >= nf) lo = static_cast<size_t>(nf) - 1;
  return (1 - phi) * t[lo] + phi * t[lo + 1];
}

}  // namespace

int falling_table_index(const std::vector<double>& table, double x) {
  int lo = 1;
  int hi = N;
  int mid = (hi - 1) / 2 + 1;
  while (lo <= hi) {
    if (x >= table[static_cast<size_t>(mid)])
      hi = mid - 1;
    else
      lo = mid + 1;
    mid = lo + (hi - lo) / 2;
  }
  return hi;
}

void soil_entry::build_hydraulic_tables(int layer) {
  const auto l = static_cast<size_t>(layer);
  std::vector<double>& theta = theta_table[l];
  std::vector<double>& k_rel = k_rel_table[l];
  std::vector<double>& theta_h = theta_at_suction_table[l];
  std::vector<double>& h = suction_list[l];
  theta.assign(static_cast<size_t>(table_steps) + 1, 0.0);
  k_rel.assign(static_cast<size_t>(table_steps) + 1, 0.0);
  theta_h.assign(static_cast<size_t>(suction_steps) + 1, 0.0);
  h.assign(SOIL_TABLE_SUCTIONS.begin(), SOIL_TABLE_SUCTIONS.end());

  const double ts = theta_sat[l], tr = theta_res[l];
  const double a = alpha[l], n = Par_n[l], m = Par_m[l], tau = Par_tau[l];
  theta_h[0] = theta[0] = theta[1] = ts;
  theta_h[N] = theta[N] = tr;
  for (size_t i = 1; i < N; ++i) {
    const double se = effective_saturation(h[i], a, n, m);
    theta_h[i] = tr + (ts - tr) * se;
    theta[i] = theta_h[i];
    k_rel[i] = std::pow(se, tau) * std::pow(1.0 - std::pow(1.0 - std::pow(se, 1.0 / m), m), 2);
  }
  k_rel[N] = 0;
}

double soil_entry::suction_from_theta(int layer, double theta) const {
  const auto l = static_cast<size_t>(layer);
  const std::vector<double>& t = theta_at_suction_table[l];
  const std::vector<double>& h = suction_list[l];
  if (std::isnan(theta)) return NaN;
  if (theta <= t[N]) return h[N];
  if (theta >= t[1]) return 0;
  const auto j = static_cast<size_t>(falling_table_index(t, theta));
  const double f = (theta - t[j + 1]) / (t[j] - t[j + 1]);
  return (1 - f) * h[j + 1] + f * h[j];
}

double soil_entry::relative_conductivity_from_theta(int layer, double theta,
                                                    double theta_limit) const {
  const auto l = static_cast<size_t>(layer);
  const std::vector<double>& t = theta_table[l];
  const std::vector<double>& k = k_rel_table[l];
  if (std::isnan(theta) || std::isnan(theta_limit)) return NaN;
  const double x = std::min(theta, theta_limit);
  if (t[N] > x) return k[N];
  if (x >= t[1]) return 1;
  const auto j = static_cast<size_t>(falling_table_index(t, x));
  const double f = (x - t[j + 1]) / (t[j] - t[j + 1]);
  return (1 - f) * k[j + 1] + f * k[j];
}

double soil_entry::theta_from_suction(int layer, double suction_m) const {
  const auto l = static_cast<size_t>(layer);
  const std::vector<double>& h = suction_list[l];
  const std::vector<double>& t = theta_at_suction_table[l];
  if (std::isnan(suction_m)) return NaN;
  if (suction_m >= h[N]) return t[N];
  if (suction_m <= 0) return theta_sat[l];
  // Largest j with h[j] < suction <= h[j + 1].
  int lo = 1;
  int hi = N;
  int mid = (hi - 1) / 2 + 1;
  while (lo <= hi) {
    if (h[static_cast<size_t>(mid)] >= suction_m)
      hi = mid - 1;
    else
      lo = mid + 1;
    mid = lo + (hi - lo) / 2;
  }
  const auto j = static_cast<size_t>(hi);
  const double d = h[j + 1] - h[j];
  if (d < MIN_INTERPOLATED_STEP) return t[j];
  const double f = (suction_m - h[j]) / d;
  return (1 - f) * t[j] + f * t[j + 1];
}

void soil_entry::make_freezing_tables(int layer, double scale) {
  const auto l = static_cast<size_t>(layer);
  const int nf = freeze_steps;
  const auto nfs = static_cast<size_t>(nf);
  const double dt = freeze_min_temperature / nf;  // [degC] negative step
  std::vector<double>& f = unfrozen_fraction_table[l];
  std::vector<double>& s = unfrozen_slope_table[l];
  std::vector<double>& p = freezing_shift_table[l];
  f.assign(nfs + 1, 0.0);
  s.assign(nfs + 1, 0.0);
  p.assign(nfs + 1, 0.0);
  const double a_l = alpha[l], n = Par_n[l], m = Par_m[l];

  f[0] = 1;
  s[0] = 0;
  double s_max = 0;
  double t_max = 0;
  for (size_t i = 1; i <= nfs; ++i) {
    const double t = static_cast<double>(i) * dt;
    const double a = std::fabs(scale * t) * a_l;
    f[i] = std::pow(1.0 / (1.0 + std::pow(a, n)), m);
    s[i] = n * m * a_l * scale * std::pow(a, n - 1) * std::pow(1.0 + std::pow(a, n), -m - 1);
    if (s[i] > s_max) {
      s_max = s[i];
      t_max = t;
    }
  }

  for (size_t k = 0; k <= nfs; ++k) {
    // Rounding must not lift the last target above the largest slope.
    const double g = std::min(static_cast<double>(k) * s_max / nf, s_max);
    double r = 0;
    // The last slope meeting the target exactly counts as crossing there.
    if (s[nfs] >= g) {
      r = nf * dt;
    } else {
      size_t i = nfs - 1;
      while (i >= 1 && s[i] < g) --i;
      const double span = s[i] - s[i + 1];
      const double frac = span == 0 ? 0.0 : (g - s[i + 1]) / span;
      r = dt * (static_cast<double>(i) + 1 - frac);
    }
    if (r >= t_max)
      p[k] = 0;
    else if (r < SHIFT_A * t_max)
      p[k] = r - SHIFT_B * t_max;
    else
      p[k] = r - (1 + (SHIFT_B - 1) * (r - t_max) / ((SHIFT_A - 1) * t_max)) * t_max;
  }
}

void soil_entry::unfrozen_fraction(double* out, const double* temperature,
                                   const double* theta) const {
  if (temperature == nullptr) return;
  const double t_min = freeze_min_temperature;
  for (int i = 1; i <= layer_count; ++i) {
    const double t = temperature[i];
    if (std::isnan(t) || std::isnan(theta[i])) {
      out[i] = NaN;
    } else if (t > 0) {
      out[i] = 1;
    } else if (t <= t_min) {
      out[i] = 0;
    } else {
      const auto l = static_cast<size_t>(i);
      const double shifted = t + freezing_shift(*this, l, theta[i]);
      out[i] = shifted >= 0 ? 1
                            : temperature_table_value(unfrozen_fraction_table[l], freeze_steps,
                                                      t_min, shifted);
    }
  }
}

void soil_entry::unfrozen_fraction_slope(double* out, const double* temperature,
                                         const double* theta) const {
  if (temperature == nullptr) return;
  const double t_min = freeze_min_temperature;
  for (int i = 1; i <= layer_count; ++i) {
    const double t = temperature[i];
    if (std::isnan(t) || std::isnan(theta[i])) {
      out[i] = NaN;
    } else if (t > 0) {
      out[i] = 0;
    } else if (t < t_min) {
      out[i] = 0;
    } else {
      const auto l = static_cast<size_t>(i);
      const double shifted = t + freezing_shift(*this, l, theta[i]);
      out[i] = shifted >= 0
                   ? 0
                   : temperature_table_value(unfrozen_slope_table[l], freeze_steps, t_min, shifted);
    }
  }
}

void soil_entry::layer_heat_capacity(const double* temperature, double* out, const double* unfrozen,
                                     const double* added, const double* theta, double b, double c,
                                     double d, double e) const {
  for (int i = 1; i <= layer_count; ++i) {
    const auto l = static_cast<size_t>(i);
    const double t = temperature[i];
    double ice = 0;
    if (t >= 0)
      ice = d;
    else if (t < ICE_RAMP_TEMPERATURE)
      ice = e;
    else
      ice = (1 + t / -ICE_RAMP_TEMPERATURE) * d + (t / ICE_RAMP_TEMPERATURE) * e;
    out[i] = DryDensity[l] * DryHeatCapacity[l] +
             theta[i] * b * (unfrozen[i] * c + (1 - unfrozen[i]) * ice) + added[i];
  }
}
