#include "routing/surfrout.h"

#include "modelbase/diagstream.h"

surfaceroutingclass::surfaceroutingclass(int& status, DiagStream* diag_stream,
                                         statistics_registry* /*registry*/, int /*registry_size*/,
                                         const std::string& section, grid_store* store_in,
                                         const settings_context& settings, int substeps_in)
    : teilmodellklasse(diag_stream, section, store_in, settings, substeps_in, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "surfrout", __DATE__, __TIME__);
    control.reset();
    // Hydrologic response units (a SpinUp) have no lateral surface flow.
    if (settings.spinup_switch != 0) {
      flow_control = 0;
      return;
    }
    warn_not_built("it reads only the head of its section and computes nothing");
  });
}

void surfaceroutingclass::set_substeps(int count) { substeps = count; }

void surfaceroutingclass::init_tracers(int& status, int, tracer_entry*, statistics_registry*,
                                       int) {
  status = 0;
}

void surfaceroutingclass::time_step(int64_t, int64_t, int64_t, int64_t) {}

void surfaceroutingclass::run_substep(const model_date& step, int) {
  time_step(step.hour, step.day, step.month, step.year);
}

void surfaceroutingclass::begin_step(const model_date&) {}

void surfaceroutingclass::end_step(const model_date&) {}

void surfaceroutingclass::end_run(int) { teilmodellklasse::release(); }

void surfaceroutingclass::flush_outputs() {}

subbasin_flow_arrays* surfaceroutingclass::get_qg() { return nullptr; }

void surfaceroutingclass::set_qbb(subbasin_flow_arrays* qbb_in) {
  if (flow_control != 0) qbb = qbb_in;
}

void surfaceroutingclass::set_qi(subbasin_flow_arrays* qi_in) {
  if (flow_control != 0) qi = qi_in;
}

void surfaceroutingclass::set_qd(subbasin_flow_arrays* qd_in) {
  if (flow_control != 0) qd = qd_in;
}

void surfaceroutingclass::set_kelsqd(std::vector<double>* kelsqd_in) {
  if (flow_control != 0) kelsqd = kelsqd_in;
}

void surfaceroutingclass::set_kelsqi(std::vector<double>* kelsqi_in) {
  if (flow_control != 0) kelsqi = kelsqi_in;
}

void surfaceroutingclass::read_state(const std::string* storage_file, int) {
  if (flow_control != 0 && storage_file != nullptr) storage_file_name = *storage_file;
}
