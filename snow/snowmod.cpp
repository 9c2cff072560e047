// The snow module's construction from "[snow_model]" and its small wiring
// operations; the grids and statistics it builds are in snowmod_setup.cpp,
// the storage-content section in snowmod_state.cpp.
#include "snow/snowmod.h"

#include <cerrno>
#include <cmath>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "snow/snowcover_kernels.h"
#include "tables/multilayer.h"

schneemodellklasse::schneemodellklasse(int& status, DiagStream* diag_stream,
                                       statistics_registry* registry_in, int registry_size_in,
                                       const std::string& section, grid_store* store_in,
                                       const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  registry = registry_in;
  registry_size = registry_size_in;
  run_constructor_body(status, [&] { set_up(); });
}

void schneemodellklasse::set_up() {
  if (flow_control == 0 || store == nullptr) return;
  write_source_banner(*diag, "snowmod", __DATE__, __TIME__);
  elevation = (*store)[2].grid;
  zone_ranking(soil_zone_grid, soil_zones, soil_zone_index, soil_zone_count, soil_max_zone_code);
  if (mpi_regions == nullptr) find_division_grids();

  const multilayer_table_t* multilayer = modelobject::settings().multilayer_table;
  landuse_layer_count =
      multilayer != nullptr && multilayer->size() > 1 ? (*multilayer)[1].layer_count : 1;
  landuse_layers.assign(static_cast<size_t>(landuse_layer_count) + 1, nullptr);

  module_first = first_row;
  module_last = last_row;
  read_section();
  if (is_slide_method(params.method) && rank == 0) {
    module_first = 1;
    module_last = nrows;
    full_grid = true;
  }
  std::FILE* f = control.release();
  if (std::fclose(f) != 0) fail_fatal(*diag, 11, "cannot close ", control_path);

  build_statistics();
  rmf_mean = (params.RMFMIN + params.RMFMAX) / 2;
  rmf_amplitude = (params.RMFMAX - params.RMFMIN) / 2;
  albedo = (*store)[require_grid("albedo")].grid;
  const int evaporation_index = find_grid("snow_evaporation");
  snow_evaporation = evaporation_index > 0 ? (*store)[evaporation_index].grid : nullptr;
  for (int k = 1; k <= landuse_layer_count; ++k)
    landuse_layers[static_cast<size_t>(k)] =
        (*store)[require_grid("landuse" + std::to_string(k))].grid;
  glacier_part = find_grid("ice_firn") > 0 || find_grid("GlacierizedCells") > 0;
  if (glacier_part) set_up_glacier_part();

  take_input_grids();
  publish_grids();
  if (glacier_part) publish_glacier_grids();
  gathered_elevation = grid_matrix();
  set_up_permafrost();

  if (params.T0 > params.T0R) {
    diag_entry(
        *diag, "ERROR: \n-----------------------------------------------------------------------\n",
        "   T0R (threshold temperature rain/snow) < T0 (threshold temperature snow melt)  \n",
        "   because these thresholds are contradicting each other, T0R was set to T0!              "
        "      \n",
        "-----------------------------------------------------------------------");
    params.T0R = params.T0;
  }
  set_initialized(0);
  take_hru_grids();
}

void schneemodellklasse::read_section() {
  read_snow_section(*this, *diag, control.get(), control_path, params);
  readgrid = params.readgrid;
}

void schneemodellklasse::take_input_grids() {
  const int m = params.method;
  auto required = [this](const char* n) { return (*store)[require_grid(n)].grid; };
  auto optional = [this](const char* n) {
    const int i = find_grid(n);
    return i > 0 ? (*store)[i].grid : nullptr;
  };
  if (m == 4) vapor_pressure = required("vapor_pressure");
  if (needs_wind_speed(m)) wind_speed = required("wind_speed");
  temperature =
      (*store)[require_one_of_3_grids("corr_temperature", "temperature", "temperature_14")].grid;
  temperature_night = time_interval > 720 ? required("temperature_night") : temperature;
  if (is_slide_method(m)) {
    for (int k = 1; k <= 4; ++k)
      slide_fractions[static_cast<size_t>(k)] =
          (*store)[require_grid("slidefraction" + std::to_string(k))].grid;
    slope = required("slope_angle");
  }
  if (is_deposition_method(m)) deposition_index = required("deposition_index");
  if (is_energy_balance_method(m)) {
    cloudiness = required("cloudiness");
    air_humidity = required("air_humidity");
    global_radiation = required("AspectCorrectedGlobalRadiation");
    surface_temperature = optional("surfacetemperature");
  }
}

void schneemodellklasse::take_hru_grids() {
  // Element 0 of the unit list is a placeholder: units exist from element 1.
  const std::vector<hru_entry>* units = modelobject::settings().hru_list;
  if (units == nullptr || units->size() <= 1 || master_hru != nullptr) return;
  hru = (*store)[require_grid("HydrologicResponseUnits")].grid;
  master_hru = (*store)[require_grid("MasterHydrologicResponseUnits")].grid;
}

void schneemodellklasse::init_tracers(int& status, int count, tracer_entry* list,
                                      statistics_registry* registry_in, int registry_size_in) {
  status = 0;
  if (flow_control == 0) return;
  teilmodellklasse::init_tracers(status, count, list, registry_in, registry_size_in);
  if (status != 0) return;
  try {
    for (int j = 1; j <= count; ++j)
      require_one_of_3_grids("concflux_tracer_" + std::to_string(j) + "_irrigation",
                             "concflux_tracer_" + std::to_string(j) + "_input", "!!_no_entry_!!");
  } catch (int code) {
    status = code;
  }
}

void schneemodellklasse::free_tracer_statistics() {
  if (flow_control != 0) teilmodellklasse::free_tracer_statistics();
}

void schneemodellklasse::flush_outputs() {
  if (flow_control == 0) return;
  for (const auto& s : statistics)
    if (s) s->write_rows();
  // The glacier part's own order: snow storage without glaciers first.
  for (int g : {4, 0, 1, 3, 2, 5, 6, 7, 8})
    if (glacier_statistics[static_cast<size_t>(g)])
      glacier_statistics[static_cast<size_t>(g)]->write_rows();
  for (size_t k = 1; k < tracers.size(); ++k)
    if (tracers[k].statistic) tracers[k].statistic->write_rows();
}

void schneemodellklasse::set_radiation_correction(const grid_matrix* correction) {
  if (flow_control != 0) radiation_correction = correction;
}

grid_matrix* schneemodellklasse::get_solid_snow_storage() {
  if (flow_control == 0) return nullptr;
  for (owned_grid& g : owned)
    if (g.index > 0 && (*store)[g.index].grid_name == "snowstorage_solid") return &g.grid;
  return nullptr;
}

void schneemodellklasse::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control == 0) return;
  qg = qg_in;
  set_initialized(1);
}

void schneemodellklasse::set_unsat_glacier_records(
    std::vector<subbasin_glacier_record>* records) {
  if (flow_control != 0) unsat_glacier_records = records;
}

double schneemodellklasse::seasonal_rmf(int day, int month) {
  return seasonal_factor(rmf_mean, rmf_amplitude, day, month, month_days);
}
double schneemodellklasse::seasonal_aice(int day, int month) {
  return seasonal_factor(aice_mean, aice_amplitude, day, month, month_days);
}
double schneemodellklasse::seasonal_asnow(int day, int month) {
  return seasonal_factor(asnow_mean, asnow_amplitude, day, month, month_days);
}

double schneemodellklasse::saturation_vapor_pressure_ice(double temperature_c) {
  return ice_saturation_pressure(temperature_c);
}

int schneemodellklasse::get_method() { return flow_control > 0 ? params.method : 0; }

void schneemodellklasse::select_input_grid(char interception_before_snow) {
  if (flow_control == 0) return;
  interception_first = interception_before_snow;
  if (input_chosen) return;
  const int index =
      interception_before_snow != 0
          ? require_one_of_3_grids("throughfall0", "precipitation", "ungueltiger_Name")
          : require_grid("precipitation");
  input = (*store)[index].grid;
  input_chosen = true;
}
