#include "vertical/irrigate.h"

#include "modelbase/diagstream.h"

irrigationclass::irrigationclass(int& status, DiagStream* diag_stream,
                                 statistics_registry* /*registry*/, int /*registry_size*/,
                                 const std::string& section, grid_store* store_in,
                                 const settings_context& settings,
                                 const zone_table_view& zone_table)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1, &zone_table) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    control.reset();
    // During a SpinUp the module sets nothing up.
    if (settings.spinup_switch == 1) return;
    write_source_banner(*diag, "irrigate", __DATE__, __TIME__);
    warn_not_built("it reads only the head of its section and computes nothing");
  });
}

void irrigationclass::init_tracers(int& status, int, tracer_entry*, statistics_registry*, int) {
  status = 0;
}

void irrigationclass::time_step(int64_t, int64_t, int64_t, int64_t) {}

void irrigationclass::release() { teilmodellklasse::release(); }

void irrigationclass::set_qg(subbasin_flow_arrays* qg_in) { qg = qg_in; }

std::vector<zone_record>* irrigationclass::get_irrigation_demand() { return nullptr; }

void irrigationclass::set_riverflow_table(riverflow_table* table) { riverflows = table; }

void irrigationclass::set_maxirrig(subbasin_flow_arrays* from_rivers,
                                   subbasin_flow_arrays* from_reservoirs) {
  maxirrig = from_rivers;
  maxirrig_from_reservoirs = from_reservoirs;
}

void irrigationclass::set_routing_target(routing_target_table* target) {
  routing_target = target;
}

void irrigationclass::set_abfrel(abfrel_table* abfrel_in) { abfrel = abfrel_in; }

void irrigationclass::link_tracer_storage() {}

void irrigationclass::flush_outputs() {}
