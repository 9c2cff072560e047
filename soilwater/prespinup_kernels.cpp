// Degree-days, TTOP and the temperature profile of the pre-SpinUp (see
// prespinup_kernels.h).
#include "soilwater/prespinup_kernels.h"

#include <cmath>

namespace {

// The straight line through (x1, y1) and (x2, y2) at x; y1 when x1 = x2
// (the model's linear interpolation).
double line_through(double x1, double y1, double x2, double y2, double x) noexcept {
  if (x2 == x1) return y1;
  return (x - x1) / (x2 - x1) * y2 + (x2 - x) / (x2 - x1) * y1;
}

}  // namespace

void close_degree_day(double& daily_sum, int steps, double& freezing, double& thawing) noexcept {
  const double mean = daily_sum / steps;
  if (mean >= 0)
    thawing += mean;
  else
    freezing -= mean;
  daily_sum = 0;
}

double n_factor_or(double class_value, double fallback) noexcept {
  return class_value < MISSING_N_FACTOR ? fallback : class_value;
}

double pre_spinup_conductivity(double theta_sat, double theta, double dry_conductivity,
                               double lambda_x) noexcept {
  const double solid = 1 - theta_sat;
  const double filled = theta + solid;
  return filled * std::pow(dry_conductivity, solid / filled) * std::pow(lambda_x, theta / filled) +
         AIR_PORE_CONDUCTIVITY * (theta_sat - theta);
}

int ttop_layer(int layers, const double* thickness) noexcept {
  double depth = 0;
  for (int l = 1; l <= layers; ++l) {
    depth += thickness[l];
    if (depth >= TTOP_DEPTH) return l;
  }
  return layers;
}

int ttop_conductivity_layer(int k) noexcept {
  const int m = k / 3;
  return m == 0 ? 1 : m;
}

double ttop_temperature(const PreSpinupClimate& climate, double k_thawed,
                        double k_frozen) noexcept {
  return (climate.n_thawing * k_thawed * climate.thawing_degree_days -
          climate.n_freezing * k_frozen * climate.freezing_degree_days) /
         (k_frozen * climate.years * TTOP_DAYS_PER_YEAR);
}

double pre_spinup_profile(const PreSpinupColumn& column, const PreSpinupClimate& climate,
                          const PorewaterConductivity& lambda, double* t) noexcept {
  const int L = column.layers;
  const int k = ttop_layer(L, column.thickness);
  const int m = ttop_conductivity_layer(k);
  auto conductivity = [&](int l, double lambda_x) {
    return pre_spinup_conductivity(column.theta_sat[l], column.theta[l], column.dry_conductivity[l],
                                   lambda_x);
  };
  const double t_top =
      ttop_temperature(climate, conductivity(m, lambda.water), conductivity(m, lambda.ice));
  const double q = climate.heat_flux;
  if (t_top < 0) {
    t[k] = t_top;
    for (int l = k + 1; l <= L; ++l)
      t[l] = t[l - 1] +
             q * column.thickness[l] / conductivity(l, t[l - 1] > 0 ? lambda.water : lambda.ice);
    const double* z = column.z;
    for (int l = k - 1; l >= 0; --l)
      t[l] = line_through(z[k], t_top, z[0], climate.mean_air_temperature, z[l]);
  } else {
    t[1] = climate.mean_air_temperature;
    for (int l = 2; l <= L; ++l)
      t[l] = t[l - 1] + q * column.thickness[l] / conductivity(l, lambda.water);
  }
  return t_top;
}
