#include "soilwater/gwflow.h"

#include "modelbase/diagstream.h"

gwflowclass::gwflowclass(int& status, DiagStream* diag_stream, statistics_registry* /*registry*/,
                         int /*registry_size*/, const std::string& section,
                         grid_store* store_in, const settings_context& settings, int substeps_in,
                         const zone_table_view& zone_table)
    : teilmodellklasse(diag_stream, section, store_in, settings, substeps_in, 1, &zone_table) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    control.reset();
    // A SpinUp runs without groundwater flow.
    if (settings.spinup_switch != 0) {
      flow_control = 0;
      return;
    }
    write_source_banner(*diag, "gwflow", __DATE__, __TIME__);
    warn_not_built("it reads only the head of its section and computes nothing");
  });
}

void gwflowclass::set_substeps(int count) { substeps = count; }

void gwflowclass::init_tracers(int& status, int, tracer_entry*, statistics_registry*, int) {
  status = 0;
}

void gwflowclass::time_step(int64_t, int64_t, int64_t, int64_t) {}

void gwflowclass::run_substep(const model_date& step, int) {
  time_step(step.hour, step.day, step.month, step.year);
}

void gwflowclass::release() { teilmodellklasse::release(); }

void gwflowclass::begin_step(const model_date&) {}

void gwflowclass::end_step(const model_date&) {}

void gwflowclass::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control != 0) qg = qg_in;
}

void gwflowclass::set_riverflow_table(riverflow_table* table) {
  if (flow_control != 0) riverflows = table;
}

void gwflowclass::flush_outputs() {}
