#include "vertical/etpetr_kernels.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double HAUDE_MAX = 7;                 // [mm d-1]
constexpr double SOLAR_CONSTANT = 1367;         // [W m-2]
constexpr double STANDARD_PRESSURE = 1013;      // [hPa]
constexpr double ZERO_CELSIUS = 273.15;         // [K]
constexpr double LATENT_HEAT_BASE = 694.67;     // [Wh m-2 mm-1]
constexpr double LATENT_HEAT_SLOPE = 0.6589;    // [Wh m-2 mm-1 K-1]
constexpr double ABOVE_CANOPY_SHARE = 0.9;      // [-] of the day's net radiation
constexpr double ABSOLUTE_HUMIDITY = 0.216876;  // [kg K m-3 hPa-1]
constexpr double SECONDS_PER_MINUTE = 60;       // [s min-1]

double polynomial(const double* c, double x) noexcept {
  return c[0] + c[1] * x + c[2] * x * x + c[3] * x * x * x;
}
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

sunshine_threshold_status sunshine_threshold_of(const double cs[4], double& threshold) noexcept {
  double candidates[2] = {0, 0};
  int count = 0;
  if (cs[3] != 0) {
    // Stationary points of the cubic, the larger first.
    const double p = 2 * cs[2] / (3 * cs[3]);
    const double q = cs[1] / (3 * cs[3]);
    const double d = p * p / 4 - q;
    if (d > 0) {
      candidates[0] = -p / 2 + std::sqrt(d);
      candidates[1] = -p / 2 - std::sqrt(d);
      count = 2;
    } else if (d == 0) {
      candidates[0] = -p / 2;
      count = 1;
    }
  } else if (cs[2] != 0) {
    double x1 = 0, x2 = 0;
    count = solve_quadratic_of(x1, x2, cs[1] / cs[2], cs[0] / cs[2]);
    candidates[0] = x2;
    candidates[1] = x1;
  } else if (cs[1] != 0) {
    candidates[0] = -cs[0] / cs[1];
    count = 1;
  } else {
    return sunshine_threshold_status::not_linear;
  }
  for (int i = 0; i < count; ++i)
    if (candidates[i] >= 0 && candidates[i] <= 1) {
      threshold = candidates[i];
      return sunshine_threshold_status::found;
    }
  return sunshine_threshold_status::no_root;
}

std::string layer_file_name(const std::string& name, int layer) {
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string rest = dot == std::string::npos ? "" : name.substr(dot);
  return stem + "_Layer_" + std::to_string(layer) + rest;
}

double clear_sky_radiation(const double* zenith_cosines, int n, double subinterval_hours,
                           double transmissivity, double pressure) noexcept {
  double sum = 0;
  const double relative_pressure = pressure / STANDARD_PRESSURE;
  for (int i = 1; i <= n; ++i) {
    const double z = zenith_cosines[i];
    sum += SOLAR_CONSTANT * subinterval_hours * std::pow(transmissivity, relative_pressure / z) * z;
  }
  return sum;
}

etp_radiation_result cell_radiation_of(const etp_radiation_setup& setup,
                                       const etp_radiation_input& in) noexcept {
  etp_radiation_result out;
  const double* a = setup.a;
  if (setup.has_sunshine) {
    out.sunshine = in.sunshine;
    out.ratio = polynomial(a, in.sunshine);
  } else if (in.clear_sky > 0) {
    out.ratio = std::clamp(in.radiation / in.clear_sky, 0.0, 1.0);
    out.sunshine =
        out.ratio > setup.threshold ? std::clamp(polynomial(setup.cs, out.ratio), 0.0, 1.0) : 0;
  }
  const double s = out.sunshine;
  double rgc = 0;
  if (setup.has_radiation) {
    rgc = setup.has_correction ? in.radiation * (1 + (1 - a[0]) * s * (in.correction - 1))
                               : in.radiation;
  } else {
    rgc = setup.has_correction
              ? in.clear_sky * (a[0] + in.correction * (a[1] * s + a[2] * s * s + a[3] * s * s * s))
              : in.clear_sky * out.ratio;
  }
  out.replacement = rgc;
  out.corrected = std::min(rgc, setup.cap);
  out.net_shortwave = out.corrected * (1 - in.albedo);
  out.cloudiness = cloudiness_of(out.ratio);
  return out;
}

pm_result penman_monteith_of(const pm_layer& layer, const pm_weather& w, const pm_energy& energy,
                             pm_column& column) noexcept {
  const double t = w.temperature;
  const double latent = LATENT_HEAT_BASE - LATENT_HEAT_SLOPE * t;  // [Wh m-2 mm-1]
  double available = 0;                                            // [mm]
  if (layer.top && energy.net_radiation) {
    available = energy.rn / latent;
  } else if (layer.top) {
    const double kelvin = t + ZERO_CELSIUS;
    const double longwave = kelvin * kelvin * kelvin * kelvin * energy.share *
                            energy.longwave_factor *
                            (0.48 - 0.065 * std::sqrt(std::max(0.0, w.vapor))) *
                            ((1 - energy.a0) * energy.sunshine + energy.a0);
    available =
        energy.day ? ABOVE_CANOPY_SHARE * (energy.rns - longwave) / latent : -longwave / latent;
  } else {
    available = energy.day ? column.q_day : column.q_night;
  }
  const double absorbed = layer.coverage * available * (1 - std::exp(-layer.kappa * layer.lai));
  const double left = std::max(0.0, available - absorbed);
  (energy.day ? column.q_day : column.q_night) = left;

  const double sg = slope_over_psychrometric(t, w.pressure);
  const double deficit = std::max(0.0, w.saturation - w.vapor);
  double ra = 0;
  if (layer.top) {
    ra = aerodynamic_resistance_top(layer.z0, w.wind);
    column.ra_top = ra;
  } else {
    ra = layer.lambda * column.lai_above + column.ra_top;
  }
  const double rs = canopy_resistance_of(layer.lai, layer.coverage, layer.rc, energy.day);
  const double aero = energy.share * energy.dt * SECONDS_PER_MINUTE * ABSOLUTE_HUMIDITY * deficit /
                      (t + ZERO_CELSIUS) / ra;
  pm_result out;
  if (layer.bottom && layer.lake) {
    out.transpiration = (aero + (absorbed + left) * sg) / (sg + 1 + rs / ra);
    return out;
  }
  if (layer.bottom) out.soil = (aero + left * sg) / (sg + 1 + layer.rss / ra);
  out.interception = (aero + absorbed * sg) / (sg + 1 + layer.ri / ra);
  out.transpiration = (aero + absorbed * sg) / (sg + 1 + rs / ra);
  return out;
}
