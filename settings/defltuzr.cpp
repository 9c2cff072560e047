// The staged set-up of the global settings, the hand-over to the
// application and what the settings object does for the rest of the run:
// statistics of its grids, the sub-step count, the accessors and the release.
#include "settings/defltuzr.h"

#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"

namespace {

// Stages of init_step; the call after the last one closes the control file
// and reports done.
constexpr int FINAL_STAGE = 23;

}  // namespace

defaultini::defaultini(unsigned& status, DiagStream* diag_stream,
                       const std::string& control_file_name, statistics_registry* shared_registry,
                       int shared_registry_size, int mode, grid_store* shared_store)
    : modelobject(diag_stream, control_file_name, run_context),
      registry(shared_registry),
      registry_size(shared_registry_size) {
  status = 0;
  try {
    write_source_banner(*diag, "defltuzr", __DATE__, __TIME__);
    name = "defaults";
    soil_model_mode = mode;
    store = shared_store;
    // Grids with units digit 8 are written when they are registered.
    if (store != nullptr) install_output_by_write_code(*store);
    given_name = control_file_name;
    stage_counter = 0;
  } catch (int code) {
    status = static_cast<unsigned>(code);
  } catch (...) {
    status = 103;
  }
}

void defaultini::write_progress_label(const char* label) { diag_entry(*diag, label); }

void defaultini::close_control_file() {
  if (std::fclose(control.release()) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
}

int defaultini::init_step(bool& done) {
  if (stage_counter > FINAL_STAGE) {
    done = true;
    return 0;
  }
  run_stage();
  if (stage_counter > FINAL_STAGE) done = true;
  return 0;
}

void defaultini::run_stage() {
  switch (stage_counter) {
    case 0:
      stage_copy_and_base_settings();
      break;
    case 1:
      control_path = control_name;
      if (!open_control_file())
        fail_fatal(*diag, 28, "error opening ", control_name, errno_text(errno));
      read_standard_grids();
      break;
    case 2:
      read_model_time();
      end_key = time_key(end_year, end_month, end_day, end_hour);
      break;
    case 3:
      read_multilayer_landuse(soil_model_mode);
      read_landuse_table(soil_model_mode);
      break;
    case 4:
      read_soil_table(soil_model_mode);
      break;
    case 5:
      irrigation_switch = 0;
      read_irrigation_table();
      read_radiation_correction_flow_control();
      close_control_file();
      break;
    case 6:
      stage_zone_grid_and_division();
      break;
    case 7:
      stage_zone_table_and_distribution();
      break;
    case 8:
      stage_standard_grids();
      break;
    case 9: {
      const int index = find_grid("RelCellArea");
      rel_cell_area = index > 0 ? (*store)[index].grid : nullptr;
      break;
    }
    case 10:
      make_cell_size_grids();
      break;
    case 11:
      make_coordinate_grids();
      break;
    case 12:
      elevation_grid = (*store)[2].grid;
      max_elevation = grid_maximum(2);
      break;
    case 13:
      stage_landuse_layers();
      break;
    case 14:
      if (find_grid("landuse") > 0) {
        write_progress_label("generateMultiLayerParameterGrids...");
        generateMultiLayerParameterGrids(vegetation.layer_count());
        write_progress_label("...ok");
      }
      break;
    case 15:
      stage_counter = 16;
      if (irrigation_switch != 0) {
        write_progress_label("check_irrig_Codes");
        const int index = find_grid("irrigation_codes");
        if (index > 0) check_irrig_Codes(index);
        write_progress_label("...ok");
      } else {
        irrigation_table = nullptr;
      }
      return;
    case 16:
      write_progress_label("check_SOIL_Codes...");
      check_SOIL_Codes(find_grid("soil_types"));
      write_progress_label("...ok");
      break;
    case 17:
      if (soil_model_mode == 1) {
        write_progress_label("make_nFK_kWert_and_Na...");
        make_nFK_kWert_and_Na();
        write_progress_label("...ok");
      }
      break;
    case 18:
      write_progress_label("make_Slope_and_Aspect...");
      make_Slope_and_Aspect();
      write_progress_label("...ok");
      break;
    case 19:
      write_progress_label("check_ice_firn_grid...");
      check_ice_firn_grid();
      write_progress_label("...ok");
      break;
    case 20:
      write_progress_label("MakeRegionWeightGrids...");
      MakeRegionWeightGrids();
      write_progress_label("...ok");
      break;
    case 21:
      stage_counter = 22;
      return;
    case 22:
      write_progress_label("GetCouplingParameters...");
      GetCouplingParameters();
      write_progress_label("...ok");
      break;
    default:
      close_control_file();
      report_interval = 1;
      break;
  }
  ++stage_counter;
}

void defaultini::stage_copy_and_base_settings() {
  control_name = given_name;
  if (rank == 0)
    compile_symbols(given_name, control_name);
  else
    control_name = given_name + ".$$$";
  MPI_Barrier(MPI_COMM_WORLD);
  read_base_settings(control_name);
  min_to_int_end = base.min_to_int_end;
  hour_shift = base.min_to_int_end / 60.0;
}

void defaultini::stage_landuse_layers() {
  const int index = find_grid("landuse");
  if (index <= 0) {
    vegetation.drop_layer_list();
    return;
  }
  check_landuse_codes(index);
  if (settings().multilayer_table != nullptr)
    make_landuse_layer_grids();
  else
    vegetation.take_single_layer(index);
}

// ---- statistics of the settings grids ----

void defaultini::setup_zonal_statistics() {
  grid_store& s = *store;
  for (int i = 2; i <= registered_grids + 2; ++i) {
    std::string& statistics_file = s[i].standard.statistics_file_name;
    if (statistics_file.empty()) continue;
    std::vector<zone_record> records = checked_array<zone_record>(zone_count + 1U, 1);
    for (int z = 0; z <= zone_count; ++z) {
      const zone_record& zone = zones_table.records[static_cast<size_t>(z)];
      records[static_cast<size_t>(z)].code = zone.code;
      records[static_cast<size_t>(z)].share = zone.share;
      records[static_cast<size_t>(z)].weight = zone.weight;
    }
    std::vector<zone_record>& kept = statistic_zones[i] = std::move(records);
    int status = 0;
    auto statistic = std::make_unique<zonalstatistic>(
        status, diag, registry, registry_size, rel_cell_area, nrows, ncols, kept.data(),
        zone_count, s[i].standard.statistics_code, 5, statistics_file, output_directory, 0,
        nullptr);
    if (status != 0) throw status;
    statistic->write_header(s[i].grid_name.value_or(std::string()), "(default)", registry,
                            registry_size);
    statistics[i] = std::move(statistic);
  }
}

void defaultini::clear_grid_statistics() {
  for (auto& [index, statistic] : statistics) statistic->clear_step_sums();
}

void defaultini::add_grid_statistics() {
  const grid_store& s = *store;
  const grid_matrix& zone = *zone_grid;
  const std::vector<int>& code_index = zones_table.code_to_index;
  for (auto& [index, statistic] : statistics) {
    const grid_matrix& grid = *s[index].grid;
    for (int r = 1; r <= nrows; ++r) {
      const row_strip& span = zones_table.strips[static_cast<size_t>(r)];
      for (int c = span.first; c <= span.last; ++c) {
        if (static_cast<int>((*mpi_regions)[r][c]) != rank || zone[r][c] == nodata) continue;
        // A hole of the grid (not filled) is no value: it stays out of the means.
        if (grid[r][c] == nodata) continue;
        // The cell's zone by the rule the ranking used.
        int zone_code = 0;
        zone_code_of(zone[r][c], zone_code);
        statistic->add_value(r, c, code_index[static_cast<size_t>(zone_code)], grid[r][c], 1.0);
      }
    }
  }
}

void defaultini::complete_grid_statistics(int64_t hour, int64_t day, int64_t month,
                                          int64_t year) {
  for (auto& [index, statistic] : statistics) statistic->complete_step(year, month, day, hour, 1);
}

void defaultini::flush_grid_statistics() {
  for (auto& [index, statistic] : statistics) statistic->write_rows();
}

// ---- hand-over ----

const settings_context& defaultini::export_settings() {
  settings_context& c = run_context;
  c.control_file = control_name;
  c.output_control = base.output_control;
  c.radius_warnings = base.radius_warnings;
  c.discharge_unit = base.discharge_unit;
  c.min_to_int_end = base.min_to_int_end;
  c.write_ascii_grids = write_ascii_grids;
  c.write_double_grids = write_double_grids;
  c.input_directory = input_directory;
  c.output_directory = output_directory;
  c.latitude = base.latitude;
  c.longitude = base.longitude;
  c.reference_meridian = base.reference_meridian;
  c.time_shift = base.time_shift;
  c.meteo_count = base.meteo_count;
  c.meteo_names = base.meteo_names;
  c.selected_codes = base.selected_codes;
  c.registered_grids = registered_grids;

  c.zone_table = zone_table_view{&zones_table.code_to_index, &zones_table.records,
                                 zones_table.zone_count, zones_table.max_zone_code};
  c.strips = &zones_table.strips;
  c.region_table = region_table_view{&derived.region_ranks(), &derived.region_centroids(),
                                     derived.region_count(), derived.highest_region_code()};

  c.ncols = ncols;
  c.nrows = nrows;
  c.first_row = first_row;
  c.last_row = last_row;
  c.xllcorner = xllcorner;
  c.yllcorner = yllcorner;
  c.cellsize = cellsize;
  c.nodata = nodata;

  c.start_date = model_date{start_year, start_month, start_day, start_hour};
  c.end_date = model_date{end_year, end_month, end_day, end_hour};

  // The land-use, soil and multilayer tables are in since they were read.
  c.irrigation_table = soil_model_mode == 2 ? irrigation_table : nullptr;

  c.cells_per_process = &cell_counts;
  c.halo_send = &halo_send_list;
  c.halo_receive = &halo_receive_list;
  return c;
}

int defaultini::read_substeps() {
  if (!open_control_file())
    fail_fatal(*diag, 28, "Error opening ", control_path, errno_text(errno));
  substeps = 1;
  if (seek_section("[soil_surface_groundwater_substeps]", false)) {
    if (scan_one(control_file(), substeps) != 1)
      fail_control_file("sub step counter from [soil_surface_groundwater_substeps] not found", "");
  }
  close_control_file();
  return substeps;
}

// ---- grids ----

void defaultini::check_ice_firn_grid() {
  const grid_store& s = *store;
  int i = 1;
  for (; i < GRID_STORE_FULL; ++i) {
    if (!s[i].file_name) break;
    if (s[i].grid_name.value_or(std::string()) == "ice_firn") {
      ice_firn_grid = s[i].grid;
      return;
    }
  }
  diag_entry(*diag, "INFO: ice-grid not found in memory (at position ", i, ")");
}

double defaultini::grid_maximum(int index) {
  const grid_matrix* grid = (*store)[index].grid;
  double local = nodata;
  if (grid != nullptr && strips != nullptr) {
    for (int r = first_row; r <= last_row; ++r) {
      const row_strip& span = (*strips)[static_cast<size_t>(r)];
      for (int c = span.first; c <= span.last; ++c)
        if ((*grid)[r][c] > local) local = (*grid)[r][c];
    }
  }
  double maximum = local;
  MPI_Reduce(&local, &maximum, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
  MPI_Bcast(&maximum, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  return maximum;
}

double defaultini::get_max_elevation() { return max_elevation; }

// ---- per-step output of the settings grids: settings/defltuzr_stepoutput.cpp ----

// ---- class tables ----

void defaultini::read_multilayer_landuse(int mode) {
  const bool present = ::read_multilayer_landuse(*this, mode, multilayer_entries);
  run_context.multilayer_table = present ? &multilayer_entries : nullptr;
}

void defaultini::read_landuse_table(int mode) {
  ::read_landuse_table(*this, mode, landuse_entries);
  run_context.landuse_table = &landuse_entries;
}

void defaultini::read_soil_table(int mode) {
  ::read_soil_table(*this, mode, soil_entries);
  run_context.soil_table = &soil_entries;
}

// ---- operations of the parts ----

void defaultini::make_landuse_layer_grids() { vegetation.make_landuse_layer_grids(); }

void defaultini::generateMultiLayerParameterGrids(int layers) {
  vegetation.generate_parameter_grids(layers);
}

void defaultini::update_landuse_parameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                           int dt_minutes) {
  vegetation.update_landuse_parameters(hour, day, month, year, dt_minutes);
}

void defaultini::make_cell_size_grids() { derived.make_cell_size_grids(); }
void defaultini::make_coordinate_grids() { derived.make_coordinate_grids(); }
void defaultini::make_Slope_and_Aspect() { derived.make_slope_and_aspect(); }
void defaultini::MakeRegionWeightGrids() { derived.make_region_weight_grids(); }
void defaultini::rank_region_grid(int region_index) { derived.rank_region_grid(region_index); }
void defaultini::compute_region_weights() { derived.compute_region_weights(); }

double defaultini::fill_from_neighbours(int row, int col, grid_matrix& grid, int& used) {
  return derived.fill_from_neighbours(row, col, grid, used);
}

void defaultini::init_spinup(int& spinup_switch_out, int& pre_spinup, int& repeat_count,
                             std::vector<hru_entry>& hru_list_out) {
  diag_entry(*diag, "DEBUG: Creating HRUs");
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  spinup.read_and_make_units(spinup_switch_out, pre_spinup, repeat_count, hru_list_out);
  run_context.spinup_switch = spinup_switch_out;
  run_context.hru_list = &hru_list_out;
}

void defaultini::GetCouplingParameters() {
  control_path = control_name;
  coupling.read_settings();
}

bool defaultini::coupling_active() { return coupling.active(); }
std::string defaultini::get_semaphore_file() { return coupling.values().semaphore_file; }
std::string defaultini::get_semaphore_target_file() {
  return coupling.values().semaphore_target_file;
}
std::string defaultini::get_semaphore_content() { return coupling.values().semaphore_content; }
int64_t defaultini::get_wait_interval() { return coupling.values().wait_interval; }
char defaultini::get_coupling_interval() { return coupling.values().interval; }
int defaultini::get_external_time_step() { return coupling.values().external_time_step; }
bool defaultini::has_external_gw_table() { return coupling.has_external_gw_table(); }

void defaultini::resolve_coupling_names(statistics_registry* shared_registry,
                                        int shared_registry_size) {
  registry = shared_registry;
  registry_size = shared_registry_size;
  coupling.resolve_names(shared_registry, shared_registry_size);
}

void defaultini::read_coupling_input(int64_t year, int64_t month, int64_t day, int64_t hour) {
  coupling.read_input(year, month, day, hour);
}

void defaultini::accumulate_coupling_output() { coupling.accumulate_output(); }

void defaultini::write_coupling_output(int64_t day, int64_t month, int64_t year, bool day_flag,
                                       bool month_flag, bool year_flag) {
  coupling.write_output(day, month, year, day_flag, month_flag, year_flag);
}

// ---- release ----

void defaultini::release() {
  coupling.release();
  vegetation.release();
  irrigation_entries.clear();
  soil_type_grid = nullptr;
  available_soil_moisture_index = 0;
  hydraulic_conductivity_index = 0;
  fillable_porosity_index = 0;
  irrigation_table = nullptr;
  landuse_entries.clear();
  soil_entries.clear();
  multilayer_entries.clear();
  readgrid_codes.clear();
  for (auto& [index, statistic] : statistics) statistic->release();
  statistics.clear();
  statistic_zones.clear();
  if (store != nullptr) {
    for (int i = 1; i <= registered_grids + 2 && i < GRID_STORE_FULL; ++i) {
      grid_entry& entry = (*store)[i];
      entry.standard = standard_grid_state();
      free_grid_entry(i);
    }
  }
  grids.clear();
  stacks.clear();
  division = mpi_division();
  zones_table = zone_table();
  zones = nullptr;
  zone_index = nullptr;
  strips = nullptr;
  mpi_regions = nullptr;
  mpi_helper = nullptr;
  halo_send = nullptr;
  halo_receive = nullptr;
  rel_cell_area = nullptr;
  derived.release();
  input_directory = nullptr;
  output_directory = nullptr;
  input_dir.reset();
  output_dir.reset();
  // Nothing it pointed at is left.
  run_context = settings_context();
  modelobject::release();
}
