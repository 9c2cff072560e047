// One step of potential evapotranspiration: the sun sampled once for the
// whole grid, the radiation of every cell corrected for slope and aspect
// with its relative sunshine and cloudiness (clear-sky radiation from the
// transmissivity of the day), then Penman-Monteith per vegetation layer and
// day or night part, or the daily methods of Hamon, Wendling and Haude; the
// follower cells of SpinUp and the statistics close the step.
#include <cmath>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "tables/multilayer.h"
#include "vertical/etpetr.h"

namespace {
constexpr double NIGHT_GRID_MIN_INTERVAL = 720;  // [min]
constexpr double MIN_PART_SHARE = 0.01;          // [-] a shorter day or night part is skipped
constexpr double DAYLIGHT_STEP_SHARE = 0.05;     // [-] up to this a step counts as night
constexpr double LOW_SUN_COSINE = 0.017;         // [-] below it no clear-sky radiation
constexpr double RADIATION_CAP = 1260;           // [Wh m-2 h-1] of daylight
constexpr double NIGHT_CLOUDINESS = 0.5;         // [-]
constexpr double TRANSMISSIVITY_PI = 3.14159265359;
constexpr double DEFAULT_EXTINCTION = 0.3;  // [-] single layer
constexpr double DEFAULT_LAI_SCALE = 10;    // [s m-1]
}  // namespace

void verdunstungsmodellklasse::compute_potential_evapotranspiration(int64_t hour, int64_t day,
                                                                    int64_t month, int64_t year) {
  if (flow_control == 0) return;
  start_step(hour, day, month, year);
  compute_cells();
  finish_step(hour);
}

void verdunstungsmodellklasse::start_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  cur_year = year;
  cur_month = month;
  cur_day = day;
  cur_hour = static_cast<int64_t>(static_cast<double>(hour) + settings().time_shift);
  const bool due =
      report_interval == 1 ||
      (report_interval > 1 && (hour + static_cast<int64_t>(hour_shift)) % report_interval == 0);
  if (due) {
    diag->set_width(20);
    diag_entry(*diag, "pot. evaptranspir.", " ", day, ".", month, ".", year, " ", hour, ". h ",
               "(time of meteo data)");
  }
  const int d = static_cast<int>(day), m = static_cast<int>(month);
  step_day_of_year = d;
  for (int k = 1; k < m && k <= 12; ++k) step_day_of_year += month_days[k];
  for (auto& layer : layer_stats) {
    layer[STAT_POT]->clear_step_sums();
    layer[STAT_EIP]->clear_step_sums();
  }
  evap_statistic->clear_step_sums();
  radiation_statistic->clear_step_sums();
  cloudiness_statistic->clear_step_sums();
  night_step = daylight_fraction() != 0 || method == 2 || method == 4;
  if ((method == 1 || method == 3) && !night_step && !(radiation != nullptr && sunshine != nullptr))
    sample_sun(d, m);
  if (time_interval < NIGHT_GRID_MIN_INTERVAL) keep_sunshine_days();
  if (time_interval > NIGHT_GRID_MIN_INTERVAL && method == 1) interpolate_amplitude(d, m);
}

void verdunstungsmodellklasse::sample_sun(int day, int month) {
  const double hours = time_interval / 60 * daylight_share;
  // As many sub-intervals as the daylight part has hours (a step of several
  // days has more than 24).
  const int n = std::max(1, static_cast<int>(std::ceil(hours - 0.001)));
  subinterval_length = hours / n;
  zenith_cosines.assign(static_cast<size_t>(n) + 1, 0.0);
  const double start =
      static_cast<double>(cur_hour) + hour_shift - time_interval / 60 + dark_hours_start;
  for (int i = 1; i <= n; ++i) {
    double azimuth = 0, elevation_angle = 0;
    sun_azimuth(day, month, azimuth, elevation_angle, settings().latitude, settings().longitude,
                start + (i - 0.5) * subinterval_length);
    zenith_cosines[static_cast<size_t>(i)] = std::cos(pi / 2 - elevation_angle);
  }
  sampled_subintervals = n;
  transmissivity = transmissivity_mean +
                   transmissivity_amplitude *
                       std::cos((day + 10 + (month - 1) * 30.5) * 2 * TRANSMISSIVITY_PI / 365);
}

void verdunstungsmodellklasse::keep_sunshine_days() {
  const auto for_own = [&](auto&& f) {
    for (int r = first_row; r <= last_row; ++r)
      for (int c = (*strips)[static_cast<size_t>(r)].first;
           c <= (*strips)[static_cast<size_t>(r)].last; ++c)
        if (own_cell(r, c)) f(r, c);
  };
  if (daylight_share > DAYLIGHT_STEP_SHARE) {
    if (in_daylight == 1) {
      ++ssd_day_count;
      return;
    }
    for_own([&](int r, int c) { ssd_temp[r][c] = 0; });
    in_daylight = 1;
    ssd_day_count = 1;
  } else if (in_daylight == 1) {
    const double count = ssd_day_count < 1 ? 0.5 : ssd_day_count;
    for_own([&](int r, int c) { ssd_temp[r][c] /= count; });
    in_daylight = 0;
  }
}

void verdunstungsmodellklasse::interpolate_amplitude(int day, int month) {
  const auto& a = amplitude_monthly;
  const auto m = static_cast<size_t>(month);
  amplitude_of_day = day <= 15
                         ? interpolate_linear(-15.5, a[m - 1], 15, a[m], day)
                         : interpolate_linear(16, a[m], month_days[month] + 15, a[m + 1], day);
  annual_term = std::cos(step_day_of_year / 365 * 2 * pi) * annual_variability;
}

void verdunstungsmodellklasse::mark_not_computed(int row, int col) {
  for (int k = 0; k <= layer_count; ++k) {
    pot_transpiration[static_cast<size_t>(k)][row][col] = nodata;
    pot_interception[static_cast<size_t>(k)][row][col] = nodata;
  }
}

void verdunstungsmodellklasse::compute_cells() {
  const int day = static_cast<int>(cur_day), month = static_cast<int>(cur_month);
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (!own_cell(r, c) || follower(r, c)) {
        mark_not_computed(r, c);
        continue;
      }
      etp_radiation_result rad;
      cell_radiation(r, c, rad);
      if (method == 1)
        cell_penman_monteith(r, c, rad);
      else
        cell_single_layer(r, c, rad, day, month);
    }
  }
}

void verdunstungsmodellklasse::cell_radiation(int r, int c, etp_radiation_result& out) {
  if (night_step) {
    out = etp_radiation_result{};
    out.sunshine = ssd_temp[r][c];
    out.cloudiness = NIGHT_CLOUDINESS;
  } else {
    const int n = sampled_subintervals;
    double clear_sky = 0;
    const bool both = radiation != nullptr && sunshine != nullptr;
    if (!both && n >= 1 && zenith_cosines[static_cast<size_t>(n / 2 + 1)] > LOW_SUN_COSINE) {
      const double pressure = air_pressure != nullptr
                                  ? (*air_pressure)[r][c]
                                  : air_pressure_of((*elevation)[r][c], (*temperature)[r][c]);
      clear_sky = clear_sky_radiation(zenith_cosines.data(), n, subinterval_length, transmissivity,
                                      pressure);
    }
    const etp_radiation_setup setup{radiation_coefficients.data(),
                                    cs.data(),
                                    sunshine_threshold,
                                    radiation != nullptr,
                                    sunshine != nullptr,
                                    radiation_correction != nullptr,
                                    RADIATION_CAP * time_interval / 60 * daylight_share};
    etp_radiation_input in;
    in.clear_sky = clear_sky;
    if (radiation != nullptr) in.radiation = (*radiation)[r][c];
    if (sunshine != nullptr) in.sunshine = (*sunshine)[r][c];
    if (radiation_correction != nullptr) in.correction = (*radiation_correction)[r][c];
    in.albedo = lake_cell(r, c) ? albedo_open_water : (*albedo)[r][c];
    out = cell_radiation_of(setup, in);
    if (radiation != nullptr && radiation_correction != nullptr)
      (*radiation)[r][c] = out.replacement;
    ssd_temp[r][c] += out.sunshine;
  }
  corrected_radiation[r][c] = out.corrected;
  cloudiness[r][c] = out.cloudiness;
  potential_evaporation[r][c] = 0;
  real_evaporation[r][c] = 0;
  snow_evaporation[r][c] = 0;
}

void verdunstungsmodellklasse::cell_penman_monteith(int r, int c, const etp_radiation_result& rad) {
  double t = (*temperature)[r][c];
  double tn = (*night_temperature)[r][c];
  const double z = (*elevation)[r][c];
  if (time_interval > NIGHT_GRID_MIN_INTERVAL) {
    const double height = amplitude_height_scale > 0 ? std::exp(-z / amplitude_height_scale) : 0;
    const double amplitude = rad.ratio * amplitude_of_day * height;
    t += amplitude * (amplitude_fraction_day + annual_term);
    tn -= amplitude * (amplitude_fraction_night - annual_term);
    (*temperature)[r][c] = t;
    (*night_temperature)[r][c] = tn;
  }
  double& etp0 = pot_transpiration[0][r][c];
  double& eip0 = pot_interception[0][r][c];
  etp0 = eip0 = real_transpiration[0][r][c] = 0;
  double& soil = potential_evaporation[r][c];
  const auto weather_at = [&](double temp) {
    pm_weather w;
    w.temperature = temp;
    w.saturation = saturation_vapor_pressure_of(temp);
    w.pressure = air_pressure != nullptr ? (*air_pressure)[r][c] : air_pressure_of(z, temp);
    w.vapor =
        vapor_pressure != nullptr ? (*vapor_pressure)[r][c] : w.saturation * (*humidity)[r][c];
    w.wind = (*wind)[r][c];
    return w;
  };
  const pm_weather day_weather = weather_at(t), night_weather = weather_at(tn);
  pm_energy energy;
  energy.dt = time_interval;
  energy.net_radiation = net_radiation_flag == 1;
  energy.rn = radiation != nullptr ? (*radiation)[r][c] : 0;
  energy.rns = rad.net_shortwave;
  energy.sunshine = rad.sunshine;
  energy.a0 = radiation_coefficients[0];
  energy.longwave_factor = longwave_factor;
  double kappa = DEFAULT_EXTINCTION, lambda = DEFAULT_LAI_SCALE;
  if (layer_count > 1) {
    const auto& table = *settings().multilayer_table;
    const double index = (*landuse[0])[r][c];
    if (index >= 1 && index < static_cast<double>(table.size())) {
      kappa = table[static_cast<size_t>(index)].k_extinct;
      lambda = table[static_cast<size_t>(index)].LAI_scale;
    }
  }
  // A layer counts where both its land use and its leaf-area index are
  // given; the lowest such layer has the soil below it, so grids that
  // disagree on a missing layer neither compute a layer without leaves nor
  // give the soil evaporation twice.
  const auto present = [&](int k) {
    const auto kk = static_cast<size_t>(k);
    return (*landuse[kk])[r][c] != nodata && (*leaf_area_index[kk])[r][c] != nodata;
  };
  int lowest = 0;
  for (int k = layer_count; k >= 1 && lowest == 0; --k)
    if (present(k)) lowest = k;
  pm_column column;
  for (int k = 1; k <= layer_count; ++k) {
    const auto kk = static_cast<size_t>(k);
    double& etp = pot_transpiration[kk][r][c];
    double& eip = pot_interception[kk][r][c];
    if (!present(k)) {
      etp = eip = 0;
      continue;
    }
    if (k > 1 && (*leaf_area_index[kk - 1])[r][c] != nodata)
      column.lai_above += (*leaf_area_index[kk - 1])[r][c];
    pm_layer layer;
    layer.coverage = (*coverage[kk])[r][c];
    layer.lai = (*leaf_area_index[kk])[r][c];
    layer.rc = (*canopy_resistance[kk])[r][c];
    layer.z0 = (*roughness[kk])[r][c];
    layer.ri = (*interception_resistance[kk])[r][c];
    layer.kappa = kappa;
    layer.lambda = lambda;
    layer.top = k == 1;
    layer.bottom = k == lowest;
    layer.lake = layer.bottom && lake_cell(r, c);
    if (layer.lake) {
      layer.coverage = layer.lai = layer.rc = 0;
      layer.z0 = z0_open_water;
    }
    layer.rss = (*evaporation_resistance)[r][c];
    pm_result night, day;
    if (night_share >= MIN_PART_SHARE) {
      energy.day = false;
      energy.share = night_share;
      night = penman_monteith_of(layer, night_weather, energy, column);
    }
    if (daylight_share >= MIN_PART_SHARE) {
      energy.day = true;
      energy.share = daylight_share;
      day = penman_monteith_of(layer, day_weather, energy, column);
    }
    etp = std::max(0.0, day.transpiration + night.transpiration);
    eip = std::max(0.0, day.interception + night.interception);
    soil += day.soil + night.soil;
    real_transpiration[kk][r][c] = 0;
    etp0 += etp;
    eip0 += eip;
  }
  etp0 += soil;
}

void verdunstungsmodellklasse::cell_single_layer(int r, int c, const etp_radiation_result& rad,
                                                 int day, int month) {
  const double t = (*temperature)[r][c];
  const auto m = static_cast<size_t>(month);
  double etp = 0;
  if (method == 2) {
    const double p = day <= 15
                         ? interpolate_linear(-15, pec[m - 1], 15, pec[m], day)
                         : interpolate_linear(16, pec[m], month_days[month] + 16, pec[m + 1], day);
    etp = hamon_etp(t, p, daylight_share);
  } else if (method == 3) {
    const double alpha = lake_cell(r, c) ? albedo_open_water : (*albedo)[r][c];
    etp = wendling_etp(rad.corrected, alpha, fk, t);
  } else {
    const double deficit = humidity != nullptr
                               ? 1 - (*humidity)[r][c]
                               : haude_deficit_from_vapor_pressure((*vapor_pressure)[r][c], t);
    etp = haude_etp(t, fh[m], deficit);
  }
  pot_transpiration[0][r][c] = pot_transpiration[1][r][c] = etp;
  pot_interception[0][r][c] = pot_interception[1][r][c] = etp;
  real_transpiration[0][r][c] = real_transpiration[1][r][c] = 0;
}

void verdunstungsmodellklasse::finish_step(int64_t hour) {
  const auto& units = settings().hru_list;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (!own_cell(r, c)) continue;
      if (follower(r, c)) {
        const hru_entry& unit = (*units)[static_cast<size_t>((*hru_units)[r][c])];
        const int mr = unit.row, mc = unit.col;
        for (int k = 0; k <= layer_count; ++k) {
          auto& pot = pot_transpiration[static_cast<size_t>(k)];
          auto& eip = pot_interception[static_cast<size_t>(k)];
          pot[r][c] = pot[mr][mc];
          eip[r][c] = eip[mr][mc];
        }
        for (grid_matrix* g : {&potential_evaporation, &corrected_radiation, &cloudiness})
          (*g)[r][c] = (*g)[mr][mc];
      }
      const int zone = zone_of(r, c);
      const int last_layer = method == 1 ? layer_count : 0;
      for (int k = 0; k <= last_layer; ++k) {
        const auto kk = static_cast<size_t>(k);
        layer_stats[kk][STAT_POT]->add_value(r, c, zone, pot_transpiration[kk][r][c], 1);
        layer_stats[kk][STAT_EIP]->add_value(r, c, zone, pot_interception[kk][r][c], 1);
      }
      evap_statistic->add_value(r, c, zone, potential_evaporation[r][c], 1);
      radiation_statistic->add_value(r, c, zone, corrected_radiation[r][c], 1);
      cloudiness_statistic->add_value(r, c, zone, cloudiness[r][c], 1);
    }
  }
  cur_hour = hour;
  for (int k = 0; k <= layer_count; ++k) {
    const auto kk = static_cast<size_t>(k);
    layer_stats[kk][STAT_POT]->complete_step(cur_year, cur_month, cur_day, hour, 1);
    layer_stats[kk][STAT_EIP]->complete_step(cur_year, cur_month, cur_day, hour, 1);
    output_grid(pot_index[kk], 1, 0);
    output_grid(eip_index[kk], 1, 0);
  }
  evap_statistic->complete_step(cur_year, cur_month, cur_day, hour, 1);
  output_grid(evap_index, 1, 0);
  radiation_statistic->complete_step(cur_year, cur_month, cur_day, hour, 1);
  cloudiness_statistic->complete_step(cur_year, cur_month, cur_day, hour, 1);
}
