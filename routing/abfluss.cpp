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

routing_target_table* abflussmodellklasse::get_routing_target() { return nullptr; }

abfrel_table* abflussmodellklasse::get_abfrel() { return nullptr; }

void abflussmodellklasse::set_output_unit(int unit) { output_unit = unit; }

void abflussmodellklasse::set_irrigation_demand(std::vector<zone_record>* demand) {
  irrigation_demand = demand;
}

subbasin_flow_arrays* abflussmodellklasse::get_maxirrig() { return nullptr; }

subbasin_flow_arrays* abflussmodellklasse::get_maxirrig_from_reservoirs() { return nullptr; }

void abflussmodellklasse::flush_outputs() {}

void abflussmodellklasse::init_lake_links(char) {}
