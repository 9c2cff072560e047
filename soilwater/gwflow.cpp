#include "soilwater/gwflow.h"

#include "modelbase/diagstream.h"

gwflowclass::gwflowclass(int& status, DiagStream* diag_stream, statistics_registry* /*registry*/,
                         int /*registry_size*/, const std::string& section,
                         const std::string& control_file, grid_store* store_in,
                         const submodel_settings& settings, int substeps_in)
    : teilmodellklasse(diag_stream, section, control_file, store_in, settings, substeps_in, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    control.reset();
    // A SpinUp runs without groundwater flow.
    if (spinup_switch != 0) {
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

void gwflowclass::release() { teilmodellklasse::release(); }

void gwflowclass::begin_step(int64_t, int64_t, int64_t, int64_t) {}

void gwflowclass::end_step(int64_t, int64_t, int64_t, int64_t) {}

void gwflowclass::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control != 0) qg = qg_in;
}

void gwflowclass::set_riverflow_table(riverflow_table* table) {
  if (flow_control != 0) riverflows = table;
}

void gwflowclass::flush_outputs() {}
