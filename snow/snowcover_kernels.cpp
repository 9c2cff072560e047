#include "snow/snowcover_kernels.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double SEASON_FREQUENCY = 0.017214206;  // [rad d-1] 2 pi / 365
constexpr double SEASON_SHIFT = 80;               // [d] day of the mean value
constexpr double SNOW_FREE_LIMIT = 5;             // [mm] W up to this counts as snow-free
constexpr double SNOW_ALBEDO_LIMIT = 2.5;         // [mm] W above this has the snow albedo
constexpr double RAIN_ON_SNOW_DAILY = 2.4;        // [mm d-1]
constexpr double COLD_SEARCH_LIMIT = 151;         // evaluations of the cold balance
constexpr double BALANCE_TOLERANCE = 0.25;        // [W m-2]
constexpr double EXTRA_HEAT = 1;                  // [W m-2] added to every balance
constexpr double NIGHT_ONLY_SHARE = 0.95;         // a larger night share is the whole step
constexpr double LONG_STEP = 720;                 // [min] longer steps have two calls

bool is_energy_balance(int m) { return m == 5 || m == 6 || m == 7 || m == 11; }
bool is_deposition(int m) { return m == 7 || m == 9 || m == 10 || m == 11 || m == 13 || m == 14; }
bool is_degree_day(int m) { return m == 1 || m == 8 || m == 9 || m == 10; }
bool is_wind_index(int m) { return m == 2 || m == 12 || m == 13 || m == 14; }

// The terms of the pack's energy balance [W m-2] at a surface temperature.
struct energy_terms {
  double air_k = 0;      // [K]
  double air_vapor = 0;  // [hPa] e_a
  double wind = 0;       // [m s-1]
  double constant = 0;   // SW + LW_in + Q_P + 1
  double lw_out_factor = 0;

  double latent(double surface_k) const { return latent_heat(wind, air_vapor, surface_k); }
  double latent_melting() const { return 32.82 * wind_function(wind) * (air_vapor - 6.1071); }
  double without_latent(double surface_k) const {
    const double x2 = surface_k * surface_k;
    return constant - lw_out_factor * x2 * x2 + sensible_heat(wind, air_k, surface_k);
  }
};

energy_terms energy_terms_of(const snow_cover_params& p, const snow_forcing& in,
                             const snow_fractions& fractions) {
  energy_terms e;
  e.air_k = in.t_c + SNOW_MELTING_POINT;
  e.air_vapor = in.humidity * (e.air_k > SNOW_MELTING_POINT ? water_vapor_pressure(in.t_c)
                                                            : ice_vapor_pressure(in.t_c));
  e.wind = in.wind;
  const double lw_in =
      incoming_longwave(p.LWINcorr, e.air_k, e.air_vapor, in.cloudiness, in.input != 0);
  const double sw = (1 - in.albedo) * in.radiation * 60 / p.interval_min;
  const double precipitation_heat = (HEAT_CAPACITY_WATER * in.t_c * fractions.rain +
                                     HEAT_CAPACITY_ICE * in.t_c * fractions.snow) /
                                    (60 * p.interval_min);
  e.constant = sw + lw_in + precipitation_heat + EXTRA_HEAT;
  e.lw_out_factor = p.LWOUTcorr * STEFAN_BOLTZMANN;
  return e;
}

bool missing_or_zero(double v) { return v == SNOW_MISSING || v == 0; }

// Cold balance (T <= T0, S > 0); returns 0.
void cold_energy_balance(const snow_cover_params& p, const snow_forcing& in, snow_part& s,
                         const snow_fractions& fractions, double w, double pack_k,
                         snow_call_result& r) {
  const energy_terms e = energy_terms_of(p, in, fractions);
  const double seconds = 60 * p.interval_min;
  double surface = 0;
  if (s.liquid > 0 || e.air_k > SNOW_MELTING_POINT + 2)
    surface = SNOW_MELTING_POINT;
  else if (in.has_surface_temperature)
    surface = s.surface_temperature;
  else
    surface = e.air_k - 2;

  double step = -10;
  double previous = 0;
  bool bracketed = false;
  double balance = 0;
  double latent = 0;
  for (int n = 1;; ++n) {
    latent = e.latent(surface);
    balance = e.without_latent(surface) + latent;
    if (std::fabs(balance) <= BALANCE_TOLERANCE || s.liquid > 0 || n >= COLD_SEARCH_LIMIT) break;
    double factor = bracketed ? 0.5 : 1;
    if ((balance < 0 && previous > 0) || (balance >= 0 && previous <= 0 && n >= 2)) {
      const double ratio = std::fabs(balance / (balance - previous));
      factor = ratio < 1 ? -ratio : -0.5;
      bracketed = true;
    } else if (balance >= 0 && n == 1) {
      factor = bracketed ? -0.5 : -1;
    }
    step *= factor;
    surface += step;
    previous = balance;
    if (in.has_surface_temperature) break;
  }
  if (!in.has_surface_temperature) {
    if (e.air_k - surface > 13) {
      surface = e.air_k - 13;
      latent = e.latent(surface);
    }
    if (surface > SNOW_MELTING_POINT) {
      surface = SNOW_MELTING_POINT;
      latent = e.latent_melting();
    }
  }

  const double total = s.solid + s.liquid;
  double pack = pack_k + 0.3 * (surface - pack_k) * (0.6 * w * seconds * 1000) /
                             (HEAT_CAPACITY_ICE * total * total);
  pack = pack_k < surface ? std::min(pack, surface) : std::max(pack, surface);
  pack = std::min(pack, SNOW_MELTING_POINT);

  double sublimation = -latent * seconds * w / LATENT_HEAT_SUBLIMATION;
  s.solid -= sublimation;
  bool refreeze = true;
  if (s.solid < 0) {
    s.liquid += s.solid;
    s.solid = 0;
    if (s.liquid < 0) {
      sublimation += s.liquid;
      s.liquid = 0;
      refreeze = false;
    }
  }
  if (refreeze) {
    const double freeze = -balance * w * seconds / LATENT_HEAT_FUSION;
    if (freeze > 0 && s.liquid > 0) {
      if (s.liquid >= freeze) {
        s.liquid -= freeze;
        s.solid += freeze;
      } else {
        s.solid += s.liquid;
        pack -= (freeze - s.liquid) * LATENT_HEAT_FUSION / (HEAT_CAPACITY_ICE * s.solid);
        pack = std::clamp(pack, surface - 3, SNOW_MELTING_POINT);
        s.liquid = 0;
      }
    }
  }
  s.total = s.solid + s.liquid;
  s.sublimation = sublimation;
  r.sublimation = sublimation;
  const bool empty = s.total <= 0;
  s.surface_temperature = empty ? SNOW_MISSING : surface;
  s.pack_temperature = empty ? SNOW_MISSING : pack;
}

// Wet-bulb temperature [degC] of air at t_c with vapour pressure e_a [hPa]
// at pressure p [hPa], by the iteration of at most 15 steps.
double wet_bulb(double t_c, double e_a, double p) {
  const double q = 0.622 * e_a / (p - e_a);
  const double lambda = std::log(p * q / ((0.622 + q) * 6.112));
  const double dew = 272.62 * lambda / (22.46 - lambda);
  double tw = (dew + 2 * t_c) / 3;
  double step = (t_c + tw) / 2;
  for (int i = 0; i < 15; ++i) {
    const double e = 6.1115 * std::exp(22.46 * tw / (272.62 + tw)) -
                     (1 + 0.00115 * tw) * p * (t_c - tw) * 0.00066;
    step = e > e_a ? -step : std::fabs(step) / 2;
    tw += step;
    if (std::fabs(step) <= 0.025) break;
  }
  return tw;
}

// Warm balance (T > T0, S > 0); returns the melt before the share w.
double warm_energy_balance(const snow_cover_params& p, const snow_forcing& in, snow_part& s,
                           const snow_fractions& fractions, double w, double pack_k,
                           snow_call_result& r) {
  const energy_terms e = energy_terms_of(p, in, fractions);
  const double seconds = 60 * p.interval_min;
  const double surface = in.has_surface_temperature ? s.surface_temperature : SNOW_MELTING_POINT;
  const double latent = e.latent_melting();
  const double heat = (e.without_latent(surface) + latent) * p.EnBalScaling;
  double vapour = latent * seconds * w / LATENT_HEAT_SUBLIMATION;
  double pack = pack_k;
  const double total = s.solid + s.liquid;
  if (heat > 0) {
    if (s.liquid > 0)
      pack += heat * seconds * w *
              ((s.solid / total) / (HEAT_CAPACITY_ICE * s.solid) +
               (s.liquid / total) / (HEAT_CAPACITY_WATER * s.liquid));
    else
      pack += heat * seconds * w / (HEAT_CAPACITY_ICE * s.solid);
  }
  double melt = 0;
  if (pack > SNOW_MELTING_POINT) {
    const double excess = (pack - SNOW_MELTING_POINT) * HEAT_CAPACITY_ICE * s.solid;
    if (wet_bulb(in.t_c, e.air_vapor, standard_pressure(in.elevation)) > 0)
      melt = excess / LATENT_HEAT_FUSION;
    else
      vapour = w * (vapour - excess / LATENT_HEAT_SUBLIMATION);
    pack = SNOW_MELTING_POINT;
  }
  double lost = 0;
  if (vapour < 0) {
    s.solid += vapour;
    if (s.solid < 0) {
      s.liquid += s.solid;
      s.solid = 0;
      if (s.liquid < 0) {
        vapour -= s.liquid;
        s.liquid = 0;
      }
    }
    lost = -vapour;
  }
  s.total = s.solid + s.liquid;
  s.sublimation = lost;
  r.sublimation = lost;
  const bool empty = s.total <= 0;
  s.surface_temperature = empty ? SNOW_MISSING : surface;
  s.pack_temperature = empty ? SNOW_MISSING : pack;
  return melt;
}

}  // namespace

int seasonal_day_number(int day, int month, const int month_days[13]) noexcept {
  if (month <= 1) return day;
  // (m - 1) times the length of month m, as the model has always counted.
  return day + (month - 1) * month_days[month];
}

double seasonal_factor(double mean, double amplitude, int day, int month,
                       const int month_days[13]) noexcept {
  const int n = seasonal_day_number(day, month, month_days);
  return mean + amplitude * std::sin((n - SEASON_SHIFT) * SEASON_FREQUENCY);
}

double water_vapor_pressure(double t_c) noexcept {
  return 6.1078 * std::exp(17.08085 * t_c / (t_c + 234.175));
}

double ice_vapor_pressure(double t_c) noexcept {
  return 6.1071 * std::exp(22.4429 * t_c / (t_c + 272.44));
}

double ice_saturation_pressure(double t_c) noexcept {
  return 6.1078 * std::exp(21.874 * t_c / (265.5 + t_c));
}

double standard_pressure(double elevation_m) noexcept {
  return 1013.25 * std::pow(1 - 0.0065 * elevation_m / 288.15, 5.255);
}

double wind_function(double wind) noexcept { return 0.18 + 0.098 * wind; }

double incoming_longwave(double LWINcorr, double air_k, double e_a, double cloudiness,
                         bool precipitation) noexcept {
  double k = 0.24;
  if (!precipitation) k = cloudiness <= 0.2 ? 0.08 : (cloudiness < 0.6 ? 0.17 : 0.2);
  const double t2 = air_k * air_k;
  // A negative humidity from a bad grid must not make the root undefined.
  return LWINcorr * STEFAN_BOLTZMANN * t2 * t2 * (0.61 + 0.05 * std::sqrt(std::max(e_a, 0.0))) *
         (1 + k * cloudiness * cloudiness);
}

double sensible_heat(double wind, double air_k, double surface_k) noexcept {
  return 18.85 * wind_function(wind) * (air_k - surface_k);
}

double latent_heat(double wind, double e_a, double surface_k) noexcept {
  return 32.82 * wind_function(wind) * (e_a - ice_vapor_pressure(surface_k - SNOW_MELTING_POINT));
}

double snow_share(double t_c, double T0R, double transzone) noexcept {
  if (t_c <= T0R - transzone) return 1;
  if (t_c > T0R + transzone) return 0;
  return (T0R + transzone - t_c) / (2 * transzone);
}

double snow_albedo(double albedo_min, double albedo_max, double age_days, double t_c) noexcept {
  const double k = t_c > 0 ? 0.05 : 0.12;  // [d-1]
  return albedo_min + (albedo_max - albedo_min) * std::exp(-k * age_days);
}

snow_call_result update_snow_cover(const snow_cover_params& p, snow_forcing& in, snow_part& s,
                                   snow_fractions& fractions, double w, bool keep_partition) {
  snow_call_result r;
  const double f = in.lake ? 0 : snow_share(in.t_c, p.T0R, p.transzone);
  r.snow_share = f;
  double snow = fractions.snow;
  double rain = fractions.rain;
  if (!keep_partition) {
    snow = f * in.input;
    rain = (1 - f) * in.input;
    fractions.snow = snow;
    fractions.rain = rain;
    if (is_deposition(p.method)) {
      in.input += in.deposition_index * snow;
      snow *= 1 + in.deposition_index;
    }
  }
  s.solid += w * snow;
  s.liquid += w * rain;
  s.total = s.solid + s.liquid;
  r.added = w * snow + w * rain;

  const bool energy = is_energy_balance(p.method);
  const double air_k = in.t_c + SNOW_MELTING_POINT;
  double pack_k = 0;
  if (energy) {
    pack_k = missing_or_zero(s.pack_temperature) ? std::min(air_k, SNOW_MELTING_POINT)
                                                 : s.pack_temperature;
    double surface = s.surface_temperature;
    if (in.has_surface_temperature)
      surface = in.surface_temperature < 100 ? in.surface_temperature + SNOW_MELTING_POINT
                                             : in.surface_temperature;
    else if (missing_or_zero(surface))
      surface = air_k - 3;
    s.surface_temperature = std::min(surface, SNOW_MELTING_POINT);
  }
  const double n_d = p.steps_per_day;

  if (in.t_c <= p.T0) {
    if (p.method == 3 || p.method == 4) {
      const double freeze = std::fabs((in.t_c - p.T0) * p.CRFR * in.rmf / n_d) * w;
      if (s.liquid >= freeze) {
        s.liquid -= freeze;
        s.solid += freeze;
      } else {
        s.solid += s.liquid;
        s.liquid = 0;
      }
      s.total = s.solid + s.liquid;
    } else if (energy) {
      if (s.solid > 0) {
        cold_energy_balance(p, in, s, fractions, w, pack_k, r);
      } else {
        s.surface_temperature = SNOW_MISSING;
        s.pack_temperature = SNOW_MISSING;
      }
    }
    return r;
  }

  if (s.solid <= 0) {
    s.surface_temperature = SNOW_MISSING;
    s.pack_temperature = SNOW_MISSING;
    return r;
  }
  double melt = 0;
  const double excess = in.t_c - p.T0;
  const double wind_factor = p.C1 + p.C2 * in.wind;
  if (is_degree_day(p.method)) {
    melt = p.C0 * excess / n_d;
  } else if (is_wind_index(p.method)) {
    melt = excess * wind_factor / n_d;
  } else if (p.method == 3 || p.method == 4) {
    if (in.input > RAIN_ON_SNOW_DAILY / n_d) {
      const double e = p.method == 3 ? ice_saturation_pressure(in.t_c) : in.vapor_pressure;
      melt = wind_factor * (e - 6.11) / (0.662 * n_d) + 0.6 * in.t_c / n_d +
             wind_factor * in.t_c / n_d + 0.006 * in.t_c * in.input;
    } else {
      const double r_factor = in.has_correction ? (1 + in.correction) / 2 : 1;
      melt = excess * in.rmf * r_factor / n_d;
    }
  } else if (energy) {
    melt = warm_energy_balance(p, in, s, fractions, w, pack_k, r);
  }
  r.melt = melt * w;
  return r;
}

double release_liquid(double CWH, double melt, snow_part& s, double& moved) noexcept {
  // The rain-on-snow rule gives a negative melt when the air is drier than
  // 6.11 hPa: that melts nothing, it must not drain the liquid storage.
  moved = std::max(0.0, std::min(s.solid, melt));
  s.liquid += moved;
  s.solid -= moved;
  double outflow = 0;
  if (s.liquid > CWH * s.solid) {
    outflow = s.liquid - CWH * s.solid;
    s.liquid = CWH * s.solid;
  }
  s.total = s.solid + s.liquid;
  return outflow;
}

snow_step_result snow_part_step(const snow_cover_params& p, snow_forcing& in, double t_day,
                                double t_night, double night_share, snow_part& part,
                                snow_fractions& fractions, bool keep_partition, bool final_split) {
  snow_step_result out;
  double melt = 0;
  double f = 0;
  auto call = [&](double t, double w) {
    in.t_c = t;
    const snow_call_result r = update_snow_cover(p, in, part, fractions, w, keep_partition);
    melt += r.melt;
    out.added += r.added;
    out.sublimation += r.sublimation;
    f = r.snow_share;
  };
  if (p.interval_min > LONG_STEP) {
    const double v = night_share > NIGHT_ONLY_SHARE ? 1 : night_share;
    call(t_night, v);
    call(t_day, 1 - v);
  } else {
    call(t_day, 1);
  }
  in.t_c = t_day;
  out.outflow = release_liquid(p.CWH, melt, part, out.melt_moved);
  if (!keep_partition && final_split) {
    fractions.snow = f * in.input;
    fractions.rain = (1 - f) * in.input;
  }
  return out;
}

void snow_tail(const snow_cover_params& p, double albedo_min, double albedo_max, double t_c,
               double input, double total, double landuse_albedo, snow_tail_state& s) noexcept {
  const bool snow = total > SNOW_FREE_LIMIT;
  s.days_snow = snow ? 1 / p.steps_per_day : 0;
  if (t_c <= p.T0R + p.transzone && input > 1 && snow)
    s.age = 0;
  else
    s.age += 1 / p.steps_per_day;
  s.albedo = snow ? snow_albedo(albedo_min, albedo_max, s.age, t_c) : landuse_albedo;
}

void permafrost_tail(const permafrost_params& p, double total, double steps_per_day,
                     double thaw_coefficient, permafrost_cell& c) noexcept {
  if (total > p.max_swe_snow_free) {
    c.cover_days += 1 / steps_per_day;
    if (c.cover_days >= p.min_snow_age_refreeze) {
      c.free_days = 0;
      c.thaw_depth = 0;
    }
  } else {
    c.cover_days = 0;
    c.free_days += 1 / steps_per_day;
    c.thaw_depth = std::sqrt(c.free_days) * thaw_coefficient;
  }
  c.root_depth = std::min(c.root_depth, c.thaw_depth);
}

double tracer_after_input(bool evaporating, double stored, double c_in, double snow_water,
                          double input) noexcept {
  if (input <= 0) return stored;
  if (evaporating) {
    const double volume = snow_water + input;
    return volume == 0 ? 0 : (stored * snow_water + c_in * input) / volume;
  }
  return stored + input * c_in;
}

double tracer_release(bool evaporating, double& stored, double outflow, double liquid, double solid,
                      double max_concentration) noexcept {
  if (evaporating) return stored;
  const double water = outflow + liquid + solid;
  const double mass =
      water <= 0 ? 0 : std::min(outflow * max_concentration, stored * outflow / water);
  stored -= mass;
  return outflow > 0 ? mass / outflow : 0;
}

double glacier_snow_melt(const glacier_melt_params& p, double t_c, double previous_total,
                         double a_snow, double radiation) noexcept {
  if (!(t_c > p.T0) || !(previous_total > 0)) return 0;
  const double excess = t_c - p.T0;
  if (p.method == 2 || p.method == 12)
    return excess * (p.MF / p.steps_per_day + a_snow * radiation);
  return p.DDFsnow * excess / p.steps_per_day;
}

glacier_melt glacier_surface_melt(const glacier_melt_params& p, double t_c, int code,
                                  double firn_total, double snow_melt, double debris, double a_ice,
                                  double a_snow, double radiation) noexcept {
  glacier_melt out;
  const double excess = t_c - p.T0;
  const double n_d = p.steps_per_day;
  const bool radiation_method = p.method == 2 || p.method == 12 || p.method == 13;
  const double ice = radiation_method
                         ? excess * debris * p.debris_scaling * (p.MF / n_d + a_ice * radiation)
                         : p.DDFice * debris * p.debris_scaling * excess / n_d;
  const double firn =
      radiation_method ? excess * (p.MF / n_d + a_snow * radiation) : p.DDFfirn * excess / n_d;
  const bool on_firn = p.method <= 2 ? code == 2 : firn_total > 0;
  const bool on_ice = p.method <= 2 ? code == 1 : !on_firn;
  if (on_firn) out.firn = std::max(0.0, firn - snow_melt);
  if (on_ice) out.ice = std::max(0.0, ice - snow_melt);
  return out;
}

double take_from_firn(double* layers, int levels, double amount) noexcept {
  double rest = std::max(0.0, amount);
  double sum = 0;
  for (int l = 1; l <= levels; ++l) {
    if (layers[l] == SNOW_MISSING) layers[l] = 0;
    const double taken = std::min(layers[l], rest);
    layers[l] -= taken;
    rest -= taken;
    sum += layers[l];
  }
  layers[0] = sum;
  return rest;
}
