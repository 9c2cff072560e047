#include "vertical/expokorr.h"

#include <cmath>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "submodel/teilmod_solar.h"
#include "vertical/expokorr_kernels.h"

namespace {
constexpr double NIGHT_GRID_MIN_INTERVAL = 720;  // [min]
}  // namespace

expokorrklasse::expokorrklasse(int& status, DiagStream* diag_stream,
                               statistics_registry* /*registry*/, int /*registry_size*/,
                               const std::string& section, grid_store* store_in,
                               const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  run_constructor_body(status, [&] { set_up(); });
}

void expokorrklasse::set_up() {
  if (store == nullptr) return;
  if (flow_control != 0) {
    write_source_banner(*diag, "expokorr", __DATE__, __TIME__);
    read_section();
    take_grids();
  }
  temperature_index = find_grid("temperature");
  if (temperature_index <= 0) temperature_index = find_grid("temperature_14");
  temperature = temperature_index > 0 ? (*store)[temperature_index].grid : nullptr;
  if (temperature == nullptr) temperature_index = -1;
  if (flow_control != 0) register_owned_grids();
  if (time_interval > NIGHT_GRID_MIN_INTERVAL && temperature != nullptr) {
    night_index = store->first_free(1);
    if (night_index >= GRID_STORE_FULL)
      fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid left", GRID_STORE_FULL);
    temperature_night = new_band_grid(first_row, last_row);
    register_grid(night_index, "$$temperature_night$$", &temperature_night, nullptr, 0,
                  "temperature_night", 0, first_row, last_row);
  }
}

void expokorrklasse::read_section() {
  std::FILE* file = control.get();
  std::string line;
  read_value(file, "%d", method, "methode of correction for ", line);
  read_value(file, "%s", corr_temperature_file, "name of the TKORR-Grid for", line);
  read_value(file, "%d", write_codes[2], "Writegrid EXKORR for ", line);
  read_value(file, "%lf", tkorr_scaling, "scaling factor for Tkorr for ", line);
  read_value(file, "%s", correction_file, "name of the EXKORR-Grids for", line);
  read_value(file, "%d", write_codes[0], "Writegrid EXKORR for ", line);
  read_value(file, "%s", shadow_file, "name of the SHAPE-Grid for", line);
  read_value(file, "%d", write_codes[1], "Writegrid SHAPE for ", line);
  read_value(file, "%d", timestep_count, "number if timesteps for ", line);
  read_value(file, "%d", splittings, "number of splittings for ", line);
  // No split would leave every factor 0 and a negative count would never
  // end the split loop.
  if (splittings < 1)
    fail_fatal(*diag, 17, "error in control file: the number of splittings for ", name,
               " must be at least 1, not ", splittings);
  if (method < 1 || method > 4) method = 2;
  const bool walks = method == 1 || method == 2;
  shadow_first_row = rank == 0 && walks ? 1 : first_row;
  shadow_last_row = rank == 0 && walks ? nrows : last_row;
  std::FILE* f = control.release();
  if (std::fclose(f) != 0) fail_fatal(*diag, 11, "error closing control file ", control_path);
}

void expokorrklasse::take_grids() {
  const int elevation_index = require_grid("[elevation_model]");
  elevation = (*store)[elevation_index].grid;
  aspect = (*store)[require_grid("slope_aspect")].grid;
  slope = (*store)[require_grid("slope_angle")].grid;
  if (settings().spinup_switch != 0) {
    require_grid("HydrologicResponseUnits");
    master_hru = (*store)[require_grid("MasterHydrologicResponseUnits")].grid;
  }
  sunshine_index = find_grid("sunshine_duration");
  sunshine = sunshine_index > 0 ? (*store)[sunshine_index].grid : nullptr;
  if (sunshine == nullptr) sunshine_index = -1;
  walk_zone_grid = zone_grid;
  walk_elevation_grid = elevation;
  // The walk and the shadow reset on process 0 cross every row: with a
  // division the zone grid and the elevation model are gathered there once
  // (a collective call).
  if ((method == 1 || method == 2) && process_count > 1) {
    walk_zone = gather_grid_copy(1);
    walk_elevation = gather_grid_copy(elevation_index);
    if (rank == 0) {
      walk_zone_grid = &walk_zone;
      walk_elevation_grid = &walk_elevation;
    }
  }
}

grid_matrix expokorrklasse::new_band_grid(int first, int last) {
  grid_matrix grid = matrix(first, last, 0, ncols, nrows);
  const grid_matrix& zones_of =
      (first < first_row || last > last_row) ? *walk_zone_grid : *zone_grid;
  for (int r = first; r <= last; ++r)
    for (int c = 0; c <= ncols; ++c)
      grid[r][c] = (c >= 1 && zones_of[r] != nullptr && zones_of[r][c] != nodata) ? 0 : nodata;
  return grid;
}

void expokorrklasse::register_owned_grids() {
  correction_index = store->first_free(1);
  if (correction_index >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid left", GRID_STORE_FULL);
  shadow_index = correction_index + 1;
  ieff_index = correction_index + 2;
  correction = new_band_grid(first_row, last_row);
  shadow = new_band_grid(shadow_first_row, shadow_last_row);
  ieff_max = new_band_grid(first_row, last_row);
  register_grid(correction_index, correction_file, &correction, nullptr, 0, "radiation_correction",
                static_cast<unsigned>(std::max(write_codes[0], 0)), first_row, last_row);
  register_grid(shadow_index, shadow_file, &shadow, nullptr, 0, "Shadow",
                static_cast<unsigned>(std::max(write_codes[1], 0)), shadow_first_row,
                shadow_last_row);
  register_grid(ieff_index, "Ieff_max", &ieff_max, nullptr, 0, "Ieff_max", 0, first_row, last_row);
  step_counter = timestep_count;
  if ((method == 2 || method == 4) && temperature != nullptr) {
    corr_temperature_index = store->first_free(1);
    if (corr_temperature_index >= GRID_STORE_FULL)
      fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid left", GRID_STORE_FULL);
    corr_temperature = new_band_grid(first_row, last_row);
    register_grid(corr_temperature_index, corr_temperature_file, &corr_temperature, nullptr, 0,
                  "corr_temperature", static_cast<unsigned>(std::max(write_codes[2], 0)), first_row,
                  last_row);
  }
  correction_file.clear();
  shadow_file.clear();
  corr_temperature_file.clear();
}

const grid_matrix* expokorrklasse::get_radiation_correction() {
  return flow_control == 1 && correction ? &correction : nullptr;
}

bool expokorrklasse::own_cell(int row, int col) const {
  if ((*zone_grid)[row][col] == nodata) return false;
  if (mpi_regions != nullptr && (*mpi_regions)[row][col] != rank) return false;
  if (master_hru != nullptr && (*master_hru)[row][col] == nodata) return false;
  return true;
}

void expokorrklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (night_index > 0) {
    for_own_cells([&](int r, int c) { temperature_night[r][c] = (*temperature)[r][c]; });
  }
  if (flow_control == 0) return;
  if (step_counter < timestep_count) {
    ++step_counter;
    return;
  }
  step_counter = 1;
  teilmodellklasse::time_step(hour, day, month, year);
  inverse_splittings = 1.0 / splittings;
  horizontal_beam_sum = 0;
  double sunrise = 0, sunset = 0;
  sunrise_sunset(static_cast<int>(day), static_cast<int>(month), sunrise, sunset,
                 settings().latitude, settings().longitude);
  start_values();
  run_splits(static_cast<double>(hour), static_cast<int>(day), static_cast<int>(month), sunrise,
             sunset);
  finish_step();
}

void expokorrklasse::start_values() {
  if (corr_temperature) {
    for (int r = first_row; r <= last_row; ++r) {
      const int c_first = strips != nullptr ? (*strips)[r].first : 1;
      const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
      for (int c = c_first; c <= c_last; ++c)
        corr_temperature[r][c] = own_cell(r, c) ? (*temperature)[r][c] : nodata;
    }
  }
  for_own_cells([&](int r, int c) {
    correction[r][c] = 0;
    ieff_max[r][c] = 0;
  });
}

void expokorrklasse::run_splits(double hour, int day, int month, double sunrise, double sunset) {
  const double dt = time_interval / 60;
  const double t_end = hour + hour_shift + settings().time_shift;
  step_end = t_end + 0.01;
  split_length = dt / splittings;
  const double h = split_length;
  sunrise = std::fmod(24 + sunrise, 24);
  sunset = std::fmod(24 + sunset, 24);
  const bool walks = (method == 1 || method == 2) && settings().spinup_switch == 0;
  // A counted loop: the centre test against step_end alone would add splits
  // shorter than 1.2 minutes.
  for (int k = 0; k < splittings; ++k) {
    split_centre = t_end - (1 - 0.5 * inverse_splittings) * dt + k * dt * inverse_splittings;
    const split_night n =
        night_share_of_split(sunrise, sunset, split_centre - h / 2, split_centre + h / 2, h);
    const bool night = is_night_split(n.fraction);
    double azimuth = 0, elevation_angle = 0, zenith = SOLAR_PI / 2;
    beam_normal = 0;
    if (!night) {
      sun_azimuth(day, month, azimuth, elevation_angle, settings().latitude, settings().longitude,
                  split_centre + n.before_sunrise - n.fraction * h / 2);
      zenith = SOLAR_PI / 2 - elevation_angle;
      beam_normal = beam_normal_of(h, n.fraction, zenith, elevation_angle);
    }
    horizontal_beam_sum += beam_normal * std::cos(zenith);
    for_own_cells([&](int r, int c) { shadow[r][c] = 0; });
    if (rank == 0 && (method == 1 || method == 2)) {
      for (int r = shadow_first_row; r <= shadow_last_row; ++r)
        for (int c = 1; c <= ncols; ++c)
          if ((*walk_zone_grid)[r][c] != nodata &&
              (master_hru == nullptr || (*master_hru)[r] == nullptr ||
               (*master_hru)[r][c] != nodata))
            shadow[r][c] = 0;
    }
    if (!night && walks) {
      if (rank == 0) walk_shadows(azimuth, elevation_angle);
      scatter_grid(shadow_index);
    }
    add_split_incidence(night, azimuth, zenith);
    output_grid(shadow_index, 1, k + 1 < splittings ? 1 : 0);
  }
}

void expokorrklasse::walk_shadows(double azimuth, double elevation_angle) {
  const shading_frame frame{ncols, shadow_last_row, cellsize, nodata};
  shading_walk(frame, *walk_elevation_grid, *walk_zone_grid, shadow, azimuth, elevation_angle);
}

void expokorrklasse::add_split_incidence(bool night, double azimuth, double zenith) {
  if (night || beam_normal == 0) return;
  const double beam = beam_normal;
  for_own_cells([&](int r, int c) {
    const incidence_input cell{(*aspect)[r][c], (*slope)[r][c], shadow[r][c] >= 0.5,
                               sunshine != nullptr, sunshine != nullptr ? (*sunshine)[r][c] : 1};
    correction[r][c] += capped_incidence(cell, azimuth, zenith, SOLAR_PI) * beam;
  });
}

void expokorrklasse::finish_step() {
  const double hsum = horizontal_beam_sum;
  const bool modify = (method == 2 || method == 4) && corr_temperature && temperature != nullptr;
  for_own_cells([&](int r, int c) {
    ieff_max[r][c] = correction[r][c];
    const double factor = hsum > 0 ? correction[r][c] / hsum : 0;
    correction[r][c] = factor;
    if (!modify) return;
    const double share = sunshine != nullptr ? (*sunshine)[r][c] : 0.5;
    corr_temperature[r][c] =
        corrected_temperature_of((*temperature)[r][c], factor, share, tkorr_scaling, hsum);
  });
  output_grid(correction_index, 1, 0);
  if (corr_temperature_index > 0) output_grid(corr_temperature_index, 1, 0);
}

void expokorrklasse::release() {
  if (night_index > 0) {
    free_grid_entry(night_index);
    temperature_night = grid_matrix();
    night_index = -1;
  }
  if (correction_index > 0) {
    if (corr_temperature_index > 0) {
      free_grid_entry(corr_temperature_index);
      corr_temperature = grid_matrix();
      corr_temperature_index = -1;
    }
    free_grid_entry(shadow_index);
    free_grid_entry(correction_index);
    free_grid_entry(ieff_index);
    shadow = grid_matrix();
    correction = grid_matrix();
    ieff_max = grid_matrix();
    correction_index = shadow_index = ieff_index = -1;
  }
  teilmodellklasse::release();
}
