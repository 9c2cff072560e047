// Finishing of interpolated values and the gauge catch-error factor.
#include "meteo/meteoint_postprocess.h"

#include <cstddef>

namespace {
constexpr int MONTH_DAYS[13] = {0,  31, 28, 31, 30, 31, 30,
                                31, 31, 30, 31, 30, 31};
int wrapped_month(int m) { return (m + 11) % 12 + 1; }
} // namespace

double postprocess_value(double value, const postprocess_settings &p,
                         double scenario, bool has_scaling_grid,
                         double scaling_grid_value) {
  double v = value * p.scaling;
  if (v < p.lower_limit)
    v = p.replacement_below;
  else if (v > p.upper_limit)
    v = p.replacement_above;
  if (p.scenario_switch == 1)
    v = (p.scenario_method == 1 || p.scenario_method == 6) ? v + scenario
                                                           : v * scenario;
  if (has_scaling_grid)
    v *= scaling_grid_value;
  return v;
}

double scenario_day_value(const std::array<double, 16> &point, int day,
                          int month) {
  const int m = wrapped_month(month);
  const int before = wrapped_month(m - 1);
  const int after = wrapped_month(m + 1);
  const double d = day;
  if (day <= 15) {
    const double l = MONTH_DAYS[before];
    return ((16 - d) * point[static_cast<std::size_t>(before) + 2] +
            (d + l - 16) * point[static_cast<std::size_t>(m) + 2]) /
           l;
  }
  const double l = MONTH_DAYS[m];
  return ((l - d + 15) * point[static_cast<std::size_t>(m) + 2] +
          (d - 15) * point[static_cast<std::size_t>(after) + 2]) /
         l;
}

double corrected_precipitation(double v, double temperature,
                               bool has_temperature, double wind,
                               const catch_coefficients &k) {
  if (!has_temperature || temperature > k.threshold)
    return v * (k.rain_slope * wind + k.rain_constant);
  return v * (k.snow_slope * wind + k.snow_constant);
}
