#include "snow/snowmod.h"

#include "modelbase/diagstream.h"

schneemodellklasse::schneemodellklasse(int& status, DiagStream* diag_stream,
                                       statistics_registry* /*registry*/, int /*registry_size*/,
                                       const std::string& section, grid_store* store_in,
                                       const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "snowmod", __DATE__, __TIME__);
    read_value(control.get(), "%d", method, "method for ", section_buffer);
    control.reset();
    warn_not_built("it reads only its method and computes nothing");
  });
}

void schneemodellklasse::init_tracers(int& status, int, tracer_entry*, statistics_registry*,
                                      int) {
  status = 0;
}

void schneemodellklasse::time_step(int64_t, int64_t, int64_t, int64_t) {}

void schneemodellklasse::release() { teilmodellklasse::release(); }

void schneemodellklasse::flush_outputs() {}

void schneemodellklasse::set_radiation_correction(const grid_matrix* correction) {
  if (flow_control != 0) radiation_correction = correction;
}

const grid_matrix* schneemodellklasse::get_solid_snow_storage() { return nullptr; }

void schneemodellklasse::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control != 0) qg = qg_in;
}

void schneemodellklasse::read_lake_parameters(const std::string&) {}

void schneemodellklasse::read_state(const std::string* storage_file, int) {
  if (storage_file != nullptr) storage_file_name = *storage_file;
}

int schneemodellklasse::get_method() { return flow_control > 0 ? method : 0; }

void schneemodellklasse::select_input_grid(char interception_before_snow) {
  if (flow_control != 0) interception_first = interception_before_snow;
}
