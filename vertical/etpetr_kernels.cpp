#include "vertical/etpetr_kernels.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double HAUDE_MAX = 7;  // [mm d-1]
}  // namespace

double saturation_vapor_pressure_of(double t) noexcept {
  return 6.1078 * std::exp(17.269 * t / (237.3 + t));
}

int solve_quadratic_of(double& x1, double& x2, double p, double q) noexcept {
  const double d = p * p / 4 - q;
  if (d > 0) {
    x1 = -p / 2 - std::sqrt(d);
    x2 = -p / 2 + std::sqrt(d);
    return 2;
  }
  if (d == 0) {
    x1 = x2 = -p / 2;
    return 1;
  }
  x1 = x2 = 0;
  return 0;
}

double air_pressure_of(double elevation, double t) noexcept {
  return 1013 * std::exp(-elevation / (7991 + 29.33 * t));
}

double saturation_slope_of(double t) noexcept {
  return 25029 * std::exp(17.26 * t / (237.3 + t)) / ((237.3 + t) * (237.3 + t));
}

double slope_over_psychrometric(double t, double pressure) noexcept {
  return saturation_slope_of(t) / (1.6158 * pressure / (2500.8 - 2.372 * t));
}

double aerodynamic_resistance_top(double z0, double wind) noexcept {
  if (z0 > 2) return 25 / (1 + 0.54 * wind);
  const double l = std::log(20 / z0);
  return 4.72 * l * l / (1 + 0.54 * wind);
}

double canopy_resistance_of(double lai, double coverage, double rc, bool day) noexcept {
  if (lai <= 0 || coverage <= 0) return rc > 0 ? 2500 : 0;
  if (rc <= 0) return 0;
  return day ? rc / (1 - std::pow(0.6, lai * coverage)) : 1 / (4e-4 * lai * coverage);
}

double hamon_etp(double t, double pec, double daylight_share) noexcept {
  const double etp =
      0.1651 * pec * 2 * daylight_share * 216.7 * saturation_vapor_pressure_of(t) / (t + 273.3);
  return std::max(0.0, etp);
}

double wendling_etp(double radiation, double albedo, double fk, double t) noexcept {
  const double etp = (0.36 * radiation * (1.1 - albedo) + 93 * fk) * (t + 22) / (150 * (t + 123));
  return std::max(0.0, etp);
}

double haude_saturation_pressure(double t) noexcept {
  return t >= 0 ? 6.11 * std::exp(17.62 * t / (243.12 + t))
                : 6.11 * std::exp(22.46 * t / (272.46 + t));
}

double haude_etp(double t, double fh, double deficit) noexcept {
  return std::clamp(haude_saturation_pressure(t) * fh * deficit, 0.0, HAUDE_MAX);
}

double haude_deficit_from_vapor_pressure(double e, double t) noexcept {
  const double r = e / haude_saturation_pressure(t);
  if (r < 0) return 1;
  if (r > 1) return 0;
  return 1 - r;
}

double cloudiness_of(double x) noexcept {
  if (x > 1) return 0;
  return std::min(1.0, 0.997 + 0.4473 * x - 1.4059 * x * x);
}
