#include "submodel/teilmod.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "modelbase/diagstream.h"
#include "submodel/teilmod_solar.h"
#include "modelbase/gridstore.h"
#include "settings/settingsblock.h"
#include "settings/tracer_entry.h"

namespace {

constexpr int RANKING_MAX_CODE = 32767;
constexpr int RANKING_MAX_ZONES = 16000;
constexpr int RANKING_MAX_SUBBASINS = 10000;
// ln 2 taken as 1 / 1.442695041111: half-life [d] to the e-folding time.
constexpr double HALF_LIFE_TO_E_FOLDING = 1.442695041111;


// A text cut to its first n characters, as "%.ns" prints it.
std::string first_chars(const std::string& text, size_t n) { return text.substr(0, n); }

}  // namespace

submodel_settings submodel_settings_from(settings_block& block, int spinup_switch,
                                         const std::vector<hru_entry>* hru_list) {
  submodel_settings s;
  s.report_interval = block.output_control;
  s.latitude = block.latitude;
  s.longitude = block.longitude;
  s.reference_meridian = block.reference_meridian;
  s.min_to_int_end = block.min_to_int_end;
  s.xllcorner = block.xllcorner;
  s.yllcorner = block.yllcorner;
  s.cellsize = block.cellsize;
  s.nodata = block.nodata;
  s.selected_zone_count = block.selected_count;
  s.selected_zones = &block.selected_codes;
  s.zone_index = block.zone_index;
  s.zones = block.zones;
  s.strips = block.strips;
  s.zone_count = block.zone_count;
  s.max_zone_code = block.max_zone_code;
  s.ncols = block.ncols;
  s.nrows = block.nrows;
  s.first_row = block.first_row;
  s.last_row = block.last_row;
  s.end_hour = block.end_hour;
  s.end_day = block.end_day;
  s.end_month = block.end_month;
  s.end_year = block.end_year;
  s.hour_offset = block.time_shift;
  s.landuse_table = block.landuse_table;
  s.soil_table = block.soil_table;
  s.multilayer_table = block.multilayer_table;
  s.write_ascii_grids = block.write_ascii_grids;
  s.write_double_grids = block.write_double_grids;
  s.input_directory = block.input_directory;
  s.output_directory = block.output_directory;
  s.cells_per_process = block.cells_per_process;
  s.halo_send = block.halo_send;
  s.halo_receive = block.halo_receive;
  s.spinup_switch = spinup_switch;
  s.hru_list = hru_list;
  return s;
}

teilmodellklasse::teilmodellklasse(DiagStream* diag_stream, const std::string& section,
                                   const std::string& control_file, grid_store* shared_store,
                                   const submodel_settings& s, int substep_count,
                                   char missing_section_fatal)
    : modelobject(submodel_object_args(diag_stream, control_file, s)) {
  substeps = substep_count;
  // Without a zone table the module reads nothing and stays inactive.
  if (s.zone_index == nullptr) return;

  selected_zone_count = s.selected_zone_count;
  if (s.selected_zones != nullptr && !s.selected_zones->empty()) {
    (*s.selected_zones)[0] = s.selected_zone_count;
    selected_zones = *s.selected_zones;
  }
  min_to_int_end = s.min_to_int_end;
  report_interval = s.report_interval;
  store = shared_store;
  if (store != nullptr) zone_grid = (*store)[1].grid;
  set_end_date(static_cast<uint64_t>(s.end_year), static_cast<uint64_t>(s.end_month),
               static_cast<uint64_t>(s.end_day), static_cast<uint64_t>(s.end_hour));
  ncols = s.ncols;
  nrows = s.nrows;
  first_row = s.first_row;
  last_row = s.last_row;
  xllcorner = s.xllcorner;
  yllcorner = s.yllcorner;
  cellsize = s.cellsize;
  nodata = s.nodata;
  hour_offset = s.hour_offset;
  landuse_table = s.landuse_table;
  soil_table = s.soil_table;
  multilayer_table = s.multilayer_table;
  zones = s.zones;
  zone_index = s.zone_index;
  strips = s.strips;
  zone_count = s.zone_count;
  max_zone_code = s.max_zone_code;
  if (store != nullptr) {
    const int rel_index = find_grid("RelCellArea");
    rel_cell_area = rel_index > 0 ? (*store)[rel_index].grid : nullptr;
    find_division_grids();
  }
  pi = SOLAR_PI;
  degrees_per_radian = DEGREES_PER_RADIAN;
  std::copy(std::begin(EQUATION_OF_TIME_MINUTES), std::end(EQUATION_OF_TIME_MINUTES),
            equation_of_time_table);
  latitude = s.latitude;
  longitude = s.longitude;
  reference_meridian = s.reference_meridian;
  name = section;

  diag_entry(*diag, "DEBUG: initializing module ", name);
  if (!open_control_file()) fail_fatal(*diag, 28, "error opening ", control_path);
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
    if (std::fclose(f) != 0) fail_fatal(*diag, 11, "error closing ", control_path);
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
  const solar_site site{latitude_deg, longitude_deg, reference_meridian};
  return sun_elevation_degrees(solar_declination(day, month), equation_of_time(day, month), site,
                               hour, pi);
}

double teilmodellklasse::sun_azimuth(int day, int month, double& azimuth, double& elevation,
                                     double latitude_deg, double longitude_deg, double hour) {
  const solar_site site{latitude_deg, longitude_deg, reference_meridian};
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
  const solar_site site{latitude_deg, longitude_deg, reference_meridian};
  const sun_hours h = sunrise_sunset_hours(solar_declination(day, month),
                                           equation_of_time(day, month), site, pi);
  sunrise = h.sunrise;
  sunset = h.sunset;
}

int teilmodellklasse::daylight_fraction() {
  double rise = 0;
  double set = 0;
  sunrise_sunset(static_cast<int>(cur_day), static_cast<int>(cur_month), rise, set, latitude,
                 longitude);
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
      if (entry.radioactive == 1)
        entry.decay_factor =
            std::exp(-(time_interval / 60 / 24) / (entry.half_time * HALF_LIFE_TO_E_FOLDING));

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
  const grid_matrix* areas = nullptr;
  const int area_index = find_grid("RelCellArea");
  if (area_index > 0 && (*store)[area_index].grid != nullptr) {
    if (process_count > 1 && mpi_regions != nullptr && mpi_helper != nullptr) {
      gathered_areas = gather_grid_copy(area_index);
      areas = &gathered_areas;
    } else {
      areas = (*store)[area_index].grid;
    }
  }

  if (rank == 0) {
    const std::string& file = (*store)[grid_index].file_name.value_or(std::string());
    rank_zone_cells(*grid, areas, file, zones_out, zone_index_out, zone_count_out,
                    max_zone_code_out);
  }
  if (process_count <= 1) return;

  int counts[2] = {zone_count_out, max_zone_code_out};
  MPI_Bcast(counts, 2, MPI_INT, 0, MPI_COMM_WORLD);
  zone_count_out = counts[0];
  max_zone_code_out = counts[1];
  if (rank != 0) {
    zones_out.assign(static_cast<size_t>(zone_count_out) + 1, zone_record{});
    zone_index_out.assign(static_cast<size_t>(max_zone_code_out) + 1, 0);
  }
  MPI_Bcast(zone_index_out.data(), max_zone_code_out + 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Datatype record_type;
  MPI_Type_contiguous(5, MPI_DOUBLE, &record_type);
  MPI_Type_commit(&record_type);
  for (int z = 0; z <= zone_count_out; ++z)
    MPI_Bcast(&zones_out[static_cast<size_t>(z)], 1, record_type, 0, MPI_COMM_WORLD);
  MPI_Type_free(&record_type);
}

void teilmodellklasse::rank_zone_cells(const grid_matrix& grid, const grid_matrix* areas,
                                       const std::string& file,
                                       std::vector<zone_record>& zones_out,
                                       std::vector<int>& zone_index_out, int& zone_count_out,
                                       int& max_zone_code_out) {
  diag_entry(*diag, "ranking zones from ", file, " for ", name);
  std::vector<zone_record> work(static_cast<size_t>(RANKING_MAX_ZONES) + 1);
  std::vector<int> index_of_code(static_cast<size_t>(RANKING_MAX_CODE) + 1, 0);
  work[0].code = 1;
  work[0].share = 1;
  int count = 0;
  int max_code = 0;

  const auto visit_cells = [&](auto&& visit) {
    for (int r = 1; r <= nrows; ++r) {
      if (r >= grid.pointer_count() || grid[r] == nullptr) continue;
      const row_strip span = strips != nullptr && r < static_cast<int>(strips->size())
                                 ? (*strips)[static_cast<size_t>(r)]
                                 : row_strip{1, ncols};
      for (int c = std::max(span.first, 1); c <= std::min(span.last, ncols); ++c)
        if (grid[r][c] != nodata) visit(r, c, grid[r][c]);
    }
  };

  // One rule turns a cell value into its zone code, here and below, so a
  // value that is not a whole number always lands in the same zone.
  const auto code_of = [](double value) { return static_cast<int>(std::floor(value + 0.5)); };

  visit_cells([&](int, int, double value) {
    const int code = code_of(value);
    if (code < 0 || code > RANKING_MAX_CODE)
      fail_fatal(*diag, 3, "wrong zone index in ", file, "!\n Zones have to range from 0 to ",
                 RANKING_MAX_CODE, "!");
    if (index_of_code[static_cast<size_t>(code)] != 0) return;
    if (count + 1 > RANKING_MAX_ZONES)
      fail_fatal(*diag, 4, "too much zones in ", file, ", (max. ", RANKING_MAX_ZONES, "!)");
    ++count;
    index_of_code[static_cast<size_t>(code)] = count;
    work[static_cast<size_t>(count)] = zone_record{0, 0, value, 0, 0};
    max_code = std::max(max_code, code);
  });

  std::stable_sort(work.begin() + 1, work.begin() + count + 1,
                   [](const zone_record& a, const zone_record& b) { return a.code < b.code; });
  for (int z = 1; z <= count; ++z)
    index_of_code[static_cast<size_t>(code_of(work[static_cast<size_t>(z)].code))] = z;

  zones_out.assign(work.begin(), work.begin() + count + 1);
  zone_index_out.assign(index_of_code.begin(), index_of_code.begin() + max_code + 1);

  visit_cells([&](int r, int c, double value) {
    zone_record& z = zones_out[static_cast<size_t>(zone_index_out[static_cast<size_t>(code_of(value))])];
    double area = 1;
    if (areas != nullptr && r < areas->pointer_count() && (*areas)[r] != nullptr)
      area = (*areas)[r][c];
    z.sum += 1;
    z.count += area;
    z.weight += area;
  });

  // The area total is kept as it is: cutting it to whole cells after every
  // zone would make the shares miss 1 and refuse basins of small cells.
  double total = 0;
  for (int z = 1; z <= count; ++z) total += zones_out[static_cast<size_t>(z)].count;
  if (total == 0) fail_fatal(*diag, 7, "all cells in ", file, " are NODATA!");
  for (int z = 1; z <= count; ++z)
    zones_out[static_cast<size_t>(z)].share = zones_out[static_cast<size_t>(z)].count / total;
  zones_out[0].share = total * cellsize * cellsize / 1000000;
  if (count > RANKING_MAX_SUBBASINS)
    fail_fatal(*diag, 4, "too much subbasins (", count, ") in ", name, " (max. ",
               RANKING_MAX_SUBBASINS, "). Ende!");
  zone_count_out = count;
  max_zone_code_out = max_code;
}

modelobject_args submodel_object_args(DiagStream* diag, const std::string& control_file,
                                      const submodel_settings& s) {
  modelobject_args a;
  a.diag = diag;
  a.control_file = control_file;
  a.write_ascii_grids = s.write_ascii_grids;
  a.write_double_grids = s.write_double_grids;
  a.input_directory = s.input_directory;
  a.output_directory = s.output_directory;
  a.cells_per_process = s.cells_per_process;
  a.halo_send = s.halo_send;
  a.halo_receive = s.halo_receive;
  a.spinup_switch = s.spinup_switch;
  a.hru_list = s.hru_list;
  return a;
}
