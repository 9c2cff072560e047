#include "soilwater/unsatzon.h"

#include <algorithm>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "soilwater/unsatzon_heat.h"
#include "tables/soiltable.h"

namespace {

constexpr const char* NO_FLOW_TIMES_INFO =
    "INFO: \n------------------------------------------------------------------------\n\nWarning! "
    "There was no flow travel time grid for surface runoff read in\nAll surface runoof will be "
    "routed immediately to the outlet of the sub-basin\n(except the effects of a linear "
    "reservoir).\nA flow travel time grid may be created by Kovrin, writing the\nflow travel "
    "times for each grid cell to the sub basins outlet in secounds\nwhich are reclassified into "
    "model time steps in Velmo.\n\n---------------------------------------------------------------"
    "---------\n";

}  // namespace

unsatzonmodellklasse::unsatzonmodellklasse(int& status, DiagStream* diag_stream,
                                           statistics_registry* registry_in, int registry_size_in,
                                           const std::string& section, grid_store* store_in,
                                           const settings_context& settings, int substeps_in)
    : teilmodellklasse(diag_stream, section, store_in, settings, substeps_in, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "unsatzon", __DATE__, __TIME__);
    registry = registry_in;
    registry_size = registry_size_in;
    // Every cell loop of the module asks "MPIRegions" whether a cell is its
    // own: a run without it is refused here, before anything is read.
    require_grid("MPIRegions");
    // Irrigation, groundwater and routing count their subbasins by this
    // table; the subbasin parameter block is read by it as well.
    zone_ranking(zone_grid, own_zones, own_zone_index, own_zone_count, own_max_zone_code);
    read_main_section();
    read_heat_transfer();
    read_tuning();
    read_permafrost();
    link_grids();
    build_first_statistics();
    if (modelobject::settings().soil_table != nullptr)
      for (size_t t = 1; t < modelobject::settings().soil_table->size(); ++t)
        layer_count = std::max(layer_count, (*modelobject::settings().soil_table)[t].layer_count);
    // Every column needs a table and at least two layers: one above the
    // groundwater table and the one that holds it.
    if (layer_count < 2)
      fail_fatal(*diag, 17, "in modul ", name, ":\nthe soil table has ", layer_count,
                 " layers, the soil columns need at least 2\n");
    create_grids();
    convert_ponding_limit();
    set_initial_state();
    if (params.drainage_switch == 1)
      build_statistic(unsatzon_statistic::qdrain,
                      params.stat_files[static_cast<size_t>(unsatzon_stat_file::qdrain)]);
    if (params.pond_switch == 1)
      build_statistic(unsatzon_statistic::pond,
                      params.stat_files[static_cast<size_t>(unsatzon_stat_file::pond)]);
    read_lake_parameters("[lake_model]");
    const bool flow_times = store != nullptr && find_grid("flow_times") > 0;
    if (!flow_times) diag_entry(*diag, NO_FLOW_TIMES_INFO);
    params.variant_tag = make_variant_tag(
        flow_times, modelobject::settings().irrigation_table != nullptr, params.surface_interaction,
        params.drainage_switch, params.clay_switch, params.pond_switch);
    create_control_cell_outputs();
    set_up_glacier_records();
    write_start_report();
    // Element 0 of the unit list is a placeholder: units exist from element 1.
    const std::vector<hru_entry>* units = modelobject::settings().hru_list;
    if (units != nullptr && units->size() > 1)
      for (const char* n : {"HydrologicResponseUnits", "MasterHydrologicResponseUnits"})
        if (links.count(n) == 0) links[n] = (*store)[require_grid(n)].grid;
  });
}

void unsatzonmodellklasse::set_soil_table(std::vector<soil_entry>* table) {
  if (flow_control == 0 || table == nullptr || table->empty()) return;
  (*table)[0].layer_count = layer_count;
  if (params.heat_flow_control <= 0) return;
  for (size_t t = 1; t < table->size(); ++t) complete_soil_heat_values((*table)[t], params);
}

void unsatzonmodellklasse::run_substep(const model_date& step, int) {
  time_step(step.hour, step.day, step.month, step.year);
}

zone_table_view unsatzonmodellklasse::get_zone_table() const {
  if (own_zone_index.empty()) return zone_table_view{};
  return zone_table_view{&own_zone_index, &own_zones, own_zone_count, own_max_zone_code};
}

void unsatzonmodellklasse::set_dump_options(bool dumpmode_in, bool close_after_dump_in,
                                            bool repair_after_dump_in, int64_t max_dump_files_in) {
  dumpmode = dumpmode_in;
  close_after_dump = close_after_dump_in;
  repair_after_dump = repair_after_dump_in;
  max_dump_files = max_dump_files_in;
}

void unsatzonmodellklasse::set_surface_routing_active(int active) {
  surface_routing_active = active;
}
