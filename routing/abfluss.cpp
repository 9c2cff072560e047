#include "routing/abfluss.h"

#include "modelbase/diagstream.h"

abflussmodellklasse::abflussmodellklasse(int& status, DiagStream* diag_stream,
                                         statistics_registry* /*registry*/, int /*registry_size*/,
                                         const std::string& section, grid_store* store_in,
                                         const settings_context& settings, int tracer_count_in,
                                         tracer_entry* tracer_list_in,
                                         const zone_table_view& zone_table, int readgrid_in)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1, &zone_table),
      routed_tracer_count(tracer_count_in),
      routed_tracers(tracer_list_in),
      state_readgrid(readgrid_in) {
  run_constructor_body(status, [&] {
    // Channel routing runs on process 0 alone.
    if (rank != 0) {
      routing_active_elsewhere = flow_control;
      flow_control = 0;
      control.reset();
      return;
    }
    routing_active_elsewhere = 1;
    if (flow_control == 0) return;
    write_source_banner(*diag, "abfluss", __DATE__, __TIME__);
    control.reset();
    make_irrigation_tables();
    warn_not_built("it reads only the head of its section and routes nothing");
  });
}

void abflussmodellklasse::init_tracers(int& status, int, tracer_entry*, statistics_registry*,
                                       int) {
  status = 0;
}

void abflussmodellklasse::time_step(int64_t, int64_t, int64_t, int64_t) {}

void abflussmodellklasse::release() { teilmodellklasse::release(); }

void abflussmodellklasse::read_state(const std::string* storage_file, int) {
  if (flow_control != 0 && storage_file != nullptr) storage_file_name = *storage_file;
}

void abflussmodellklasse::init_routing() {}

void abflussmodellklasse::set_qg(subbasin_flow_arrays* qg_in) { qg = qg_in; }

void abflussmodellklasse::set_riverflow_table(riverflow_table* table) { riverflows = table; }

void abflussmodellklasse::make_irrigation_tables() {
  const int n = zone_count;
  // Tracer indices 0..9: the water and up to nine concentrations.
  maxirrig = make_flow_arrays(9, n);
  maxirrig_from_reservoirs = make_flow_arrays(9, n);
  routing_target.tributaries.assign(static_cast<size_t>(2 * n + 1), 0);
  routing_target.downstream.assign(static_cast<size_t>(n + 1), 0);
  routing_target.description.assign(static_cast<size_t>(n + 1), 0);
  abfrel.area_share.assign(static_cast<size_t>(n + 1), 0.0);
  abfrel.factor.assign(static_cast<size_t>(n + 1), 1.0);
  for (int z = 0; z <= n && zones != nullptr; ++z)
    abfrel.area_share[static_cast<size_t>(z)] = (*zones)[static_cast<size_t>(z)].share;
}

routing_target_table* abflussmodellklasse::get_routing_target() {
  return flow_control != 0 ? &routing_target : nullptr;
}

abfrel_table* abflussmodellklasse::get_abfrel() { return flow_control != 0 ? &abfrel : nullptr; }

void abflussmodellklasse::set_output_unit(int unit) { output_unit = unit; }

void abflussmodellklasse::set_irrigation_demand(std::vector<zone_record>* demand) {
  irrigation_demand = demand;
}

subbasin_flow_arrays* abflussmodellklasse::get_maxirrig() {
  return flow_control != 0 ? &maxirrig : nullptr;
}

subbasin_flow_arrays* abflussmodellklasse::get_maxirrig_from_reservoirs() {
  return flow_control != 0 ? &maxirrig_from_reservoirs : nullptr;
}

void abflussmodellklasse::flush_outputs() {}

void abflussmodellklasse::init_lake_links(char) {}
