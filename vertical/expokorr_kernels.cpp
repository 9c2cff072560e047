#include "vertical/expokorr_kernels.h"

#include <algorithm>
#include <cmath>

double beam_normal_of(double split_hours, double night_fraction, double zenith_rad,
                      double elevation_rad) noexcept {
  if (elevation_rad <= MIN_SUN_ELEVATION) return 0;
  return split_hours * (1 - night_fraction) * SOLAR_CONSTANT *
         std::pow(CLEAR_SKY_TRANSMISSIVITY, AIR_MASS_FACTOR / std::cos(zenith_rad));
}

split_night night_share_of_split(double sunrise, double sunset, double start, double end,
                                 double h) noexcept {
  split_night out;
  out.before_sunrise = (start <= sunrise && sunrise < end) ? sunrise - start : 0;
  double after_sunset = 0;
  if (sunset > sunrise) {
    if (sunset > end && end > sunrise)
      after_sunset = 0;
    else if (start < sunset && sunset < end)
      after_sunset = end - sunset;
    else
      after_sunset = h;
  } else {
    if (sunset > end)
      after_sunset = 0;
    else if (sunset > start)
      after_sunset = end - sunset;
    else if (sunrise > end)
      after_sunset = h;
    else
      after_sunset = 0;
  }
  out.fraction = (after_sunset + out.before_sunrise) / h;
  if (out.fraction > 1) out.fraction -= 1;
  return out;
}

double capped_incidence(const incidence_input& cell, double azimuth, double zenith,
                        double pi) noexcept {
  if (cell.shaded) return 0;
  const double aspect = cell.aspect_deg * pi / 180;
  const double slope = cell.slope_deg * pi / 180;
  double incidence = std::cos(azimuth - aspect) * std::sin(slope) * std::sin(zenith) +
                     std::cos(slope) * std::cos(zenith);
  if (incidence <= 0) return 0;
  if (cell.sunshine_known && cell.sunshine < DULL_SUNSHINE) incidence = std::cos(zenith);
  return std::min(incidence, INCIDENCE_CAP * std::cos(zenith));
}

double corrected_temperature_of(double temperature, double factor, double sunshine, double scaling,
                                double horizontal_sum) noexcept {
  if (factor > WEAK_FACTOR) return temperature + sunshine * std::log(factor) * scaling;
  if (horizontal_sum > 0) return temperature - sunshine * SHADED_LOG_FACTOR * scaling;
  return temperature;
}
