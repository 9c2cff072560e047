#include "submodel/teilmod.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "modelbase/diagstream.h"
#include "submodel/teilmod_solar.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "settings/zonetable.h"

namespace {

// ln 2 taken as 1 / 1.442695041111: half-life [d] to the e-folding time.
constexpr double HALF_LIFE_TO_E_FOLDING = 1.442695041111;

// A text cut to its first n characters, as "%.ns" prints it.
std::string first_chars(const std::string& text, size_t n) { return text.substr(0, n); }

}  // namespace

teilmodellklasse::teilmodellklasse(DiagStream* diag_stream, const std::string& section,
                                   grid_store* shared_store, const settings_context& run_settings,
                                   int substep_count, char missing_section_fatal,
                                   const zone_table_view* zone_table)
    : modelobject(diag_stream, run_settings.control_file, run_settings) {
  substeps = substep_count;
  if (zone_table != nullptr) use_zone_table(*zone_table);
  // Without a zone table the module reads nothing and stays inactive.
  if (zone_index == nullptr) return;

  store = shared_store;
  if (store != nullptr) {
    zone_grid = (*store)[1].grid;
    const int rel_index = find_grid("RelCellArea");
    rel_cell_area = rel_index > 0 ? (*store)[rel_index].grid : nullptr;
    find_division_grids();
  }
  pi = SOLAR_PI;
  degrees_per_radian = DEGREES_PER_RADIAN;
  std::copy(std::begin(EQUATION_OF_TIME_MINUTES), std::end(EQUATION_OF_TIME_MINUTES),
            equation_of_time_table);
  name = section;

  diag_entry(*diag, "DEBUG: initializing module ", name);
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  section_buffer = "[" + name + "]";
  try {
    seek_section(section_buffer, true);
  } catch (int) {
    if (missing_section_fatal != 0) throw;
    flow_control = 0;
    return;
  }
  std::FILE* file = control.get();
  read_value(file, "%d", flow_control, "flow control parameter for ", section_buffer);
  read_value(file, "%lf", time_interval, "time interval for ", section_buffer);

  hour_shift = min_to_int_end / 60;
  if (hour_shift > time_interval / 60 + 0.00001) {
    fail_fatal(*diag, 63, "\n-------- error --------\n\nthe time step ", time_interval,
               " minutes as given in the section for the module ", section,
               " \nis shorter than the parameter min_to_int_end with ", min_to_int_end,
               " minutes.\nmin_to_int_end is the fourth value of the section [program_output]: "
               "the shift from the hour entry of the meteorological data to the end of the "
               "time step\n(0 when the hour marks the end of the step, the step length when it "
               "marks its start).\n-------- error --------");
  }
  steps_per_day = 1440 / time_interval;
  if (flow_control == 0) {
    std::FILE* f = control.release();
    if (std::fclose(f) != 0)
      fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
  }
}

teilmodellklasse::~teilmodellklasse() = default;

int teilmodellklasse::get_flow_control() { return flow_control; }
int teilmodellklasse::get_time_interval() { return static_cast<int>(time_interval); }
int teilmodellklasse::get_substeps() { return substeps; }
void teilmodellklasse::set_substeps(int count) { substeps = count; }

void teilmodellklasse::report_fpe(int i1, int i2, int i3, int i4, double a1, double a2, double a3,
                                  double a4, double a5) {
  if (fpe_flag == 1) {
    diag_entry(*diag, "INFO: fpe in i1: ", i1, ", i2: ", i2, ", i3: ", i3, ", i4: ", i4,
               "\na1: ", a1, " a2: ", a2, " a3: ", a3, " a4: ", a4, " a5: ", a5, " ");
    fpe_flag = 2;
  } else {
    fpe_flag = 0;
  }
}

double teilmodellklasse::solar_declination(int day, int month) {
  return declination_degrees(day, month);
}

double teilmodellklasse::equation_of_time(int day, int month) {
  return equation_of_time_hours(day, month, equation_of_time_table);
}

double teilmodellklasse::sun_elevation(int day, int month, int /*year*/, double latitude_deg,
                                       double longitude_deg, double hour) {
  const solar_site site{latitude_deg, longitude_deg, settings().reference_meridian};
  return sun_elevation_degrees(solar_declination(day, month), equation_of_time(day, month), site,
                               hour, pi);
}

double teilmodellklasse::sun_azimuth(int day, int month, double& azimuth, double& elevation,
                                     double latitude_deg, double longitude_deg, double hour) {
  const solar_site site{latitude_deg, longitude_deg, settings().reference_meridian};
  const sun_position p = sun_azimuth_elevation(solar_declination(day, month),
                                               equation_of_time(day, month), site, hour, pi);
  azimuth = p.azimuth;
  elevation = p.elevation;
  return p.azimuth_unmirrored;
}

double teilmodellklasse::incidence_cosine(double azimuth1, double zenith1, double azimuth2,
                                          double zenith2) {
  return incidence_cosine_of(azimuth1, zenith1, azimuth2, zenith2);
}

void teilmodellklasse::sunrise_sunset(int day, int month, double& sunrise, double& sunset,
                                      double latitude_deg, double longitude_deg) {
  const solar_site site{latitude_deg, longitude_deg, settings().reference_meridian};
  const sun_hours h = sunrise_sunset_hours(solar_declination(day, month),
                                           equation_of_time(day, month), site, pi);
  sunrise = h.sunrise;
  sunset = h.sunset;
}

int teilmodellklasse::daylight_fraction() {
  double rise = 0;
  double set = 0;
  sunrise_sunset(static_cast<int>(cur_day), static_cast<int>(cur_month), rise, set,
                 settings().latitude, settings().longitude);
  sunrise_hour = std::fmod(rise + 24, 24.0);
  sunset_hour = std::fmod(set + 24, 24.0);
  const double step_end = static_cast<double>(cur_hour) + hour_shift;
  const daylight_split d = split_step_by_daylight(sunrise_hour, sunset_hour, step_end,
                                                  time_interval);
  daylight_share = d.daylight_share;
  night_share = d.night_share;
  dark_hours_start = d.dark_hours_start;
  dark_hours_end = d.dark_hours_end;
  night_flag = d.night_flag;
  return night_flag;
}

double teilmodellklasse::tracer_mass(double concentration, double volume) {
  return concentration * volume;
}

double teilmodellklasse::mix_concentrations(double c1, double c2, double volume1,
                                            double volume2) {
  if (volume1 + volume2 == 0) return 0;
  return (c1 * volume1 + c2 * volume2) / (volume1 + volume2);
}

double teilmodellklasse::enrich_concentration(double concentration, double volume,
                                              double leaving) {
  if (volume == leaving) return 0;
  return concentration * volume / (volume - leaving);
}

void teilmodellklasse::init_tracers(int& status, int count, tracer_entry* list,
                                    statistics_registry* registry_in, int registry_size_in) {
  status = 0;
  registry = registry_in;
  registry_size = registry_size_in;
  try {
    tracer_count = count;
    if (count < 1) return;
    tracer_list = list;
    tracers.clear();
    tracers.resize(static_cast<size_t>(count) + 1);
    for (int k = 1; k <= count; ++k) {
      tracer_entry& entry = list[k];
      module_tracer& t = tracers[static_cast<size_t>(k)];
      if (entry.radioactive == 1) {
        // A half-time of 0 or less is gone at once: the formula would give a
        // factor above 1 and create tracer.
        t.decay_factor =
            entry.half_time > 0
                ? std::exp(-(time_interval / 60 / 24) / (entry.half_time * HALF_LIFE_TO_E_FOLDING))
                : 0.0;
        entry.decay_factor = t.decay_factor;
      }

      t.zones.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
      for (int z = 0; z <= zone_count; ++z) {
        t.zones[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
        t.zones[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
      }

      const std::string prefix =
          entry.path + first_chars(entry.name, 3) + first_chars(name, 5) + ".";
      t.statistics_file = prefix + first_chars(entry.statext, 3);
      int stat_status = 0;
      t.statistic = std::make_unique<zonalstatistic>(
          stat_status, diag, registry, registry_size, rel_cell_area, nrows, ncols,
          t.zones.data(), zone_count, entry.statcode, 99, t.statistics_file, output_directory,
          selected_zone_count, &selected_zones);
      if (stat_status != 0) throw stat_status;
      t.statistic->write_header(
          "tracer concentration for tracer " + std::to_string(k) + " (" + entry.name + ") ", name,
          registry, registry_size);

      int index = 1;
      while (index < GRID_STORE_FULL && (*store)[index].grid_name.has_value()) ++index;
      if (index >= GRID_STORE_FULL)
        fail_fatal(*diag, GRID_STORE_FULL_CODE,
                   "no free grid left. Please contact the author to set the number of available "
                   "grids to a larger value ",
                   GRID_STORE_FULL);

      const std::string storage_name = "concstor_tracer_" + std::to_string(k) + "_" + name;
      t.storage_file = prefix + first_chars(entry.gridext, 3);
      if (readgrid == 1) {
        read_tracer_storage(t);
      } else {
        t.storage = matrix(1, nrows, 1, ncols, nrows);
        for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
          const double* zrow = zone_grid != nullptr ? (*zone_grid)[r] : nullptr;
          for (int c = 1; c <= ncols; ++c)
            t.storage[r][c] = (zrow != nullptr && zrow[c] == nodata) ? nodata : 0.0;
        }
      }
      t.storage_index = index;
      register_grid(index, t.storage_file, &t.storage, nullptr, 0, storage_name,
                    static_cast<unsigned>(entry.gridcode), 1, nrows);
      t.flux = matrix(1, nrows, 1, ncols, nrows);
      t.flux_index = index + 1;
      register_grid(index + 1, t.storage_file, &t.flux, nullptr, 0,
                    "concflux_tracer_" + std::to_string(k) + "_" + name, 0, 1, nrows);
    }
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
}

void teilmodellklasse::read_tracer_storage(module_tracer& tracer) {
  // A state grid: every process keeps its band with the halo rows.
  read_grid(tracer.storage_file, tracer.storage, 0, true, true, 0.0, false, false, false, true);
}

void teilmodellklasse::free_tracer_statistics() {
  for (int k = 1; k <= tracer_count && k < static_cast<int>(tracers.size()); ++k) {
    module_tracer& t = tracers[static_cast<size_t>(k)];
    if (t.storage_index > 0) {
      free_matrix(t.storage, 1, nrows, 1, ncols);
      free_grid_entry(t.storage_index);
    }
    if (t.flux_index > 0) {
      free_matrix(t.flux, 1, nrows, 1, ncols);
      free_grid_entry(t.flux_index);
    }
    t.storage_file.clear();
    if (t.statistic) {
      t.statistic->release();
      t.statistic.reset();
    }
    t.statistics_file.clear();
    t.zones.clear();
  }
}

void teilmodellklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
  // An interval below 1 would divide by zero; such a module reports no progress.
  const bool due =
      report_interval == 1 ||
      (report_interval > 1 &&
       static_cast<int>(static_cast<double>(hour) + hour_shift) % report_interval == 0);
  if (!due) return;
  diag->set_width(20);
  diag_entry(*diag, name, " ", day, ".", month, ".", year, " ", hour, ". h ",
             "(time of meteo data)");
}

void teilmodellklasse::zone_ranking(const grid_matrix*& zone_grid_out,
                                    std::vector<zone_record>& zones_out,
                                    std::vector<int>& zone_index_out, int& zone_count_out,
                                    int& max_zone_code_out) {
  const int grid_index = require_grid("zonegrid_soilmodel");
  const grid_matrix* grid = (*store)[grid_index].grid;
  zone_grid_out = grid;

  // The relative cell areas may be spread over the processes; process 0
  // ranks the whole grid.
  grid_matrix gathered_areas;
  zone_grid_input in;
  const int area_index = find_grid("RelCellArea");
  if (area_index > 0 && (*store)[area_index].grid != nullptr) {
    if (process_count > 1 && mpi_regions != nullptr && mpi_helper != nullptr) {
      gathered_areas = gather_grid_copy(area_index);
      in.weights = &gathered_areas;
    } else {
      in.weights = (*store)[area_index].grid;
    }
  }
  in.grid = grid;
  in.file_name = (*store)[grid_index].file_name.value_or(std::string());
  in.spans = strips;

  zone_table table;
  table.rank_zones(*this, zone_ranker::submodel, in,
                   zone_grid_frame{ncols, nrows, nodata, cellsize, 1, nrows});
  zones_out = std::move(table.records);
  zone_index_out = std::move(table.code_to_index);
  zone_count_out = table.zone_count;
  max_zone_code_out = table.max_zone_code;
}
