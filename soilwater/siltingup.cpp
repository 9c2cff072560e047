#include "soilwater/siltingup.h"

#include "modelbase/diagstream.h"

siltingupclass::siltingupclass(int& status, DiagStream* diag_stream,
                               statistics_registry* /*registry*/, int /*registry_size*/,
                               const std::string& section, grid_store* store_in,
                               const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "siltingup", __DATE__, __TIME__);
    control.reset();
    warn_not_built("it reads only the head of its section and computes nothing");
  });
}

void siltingupclass::init_tracers(int& status, int, tracer_entry*, statistics_registry*, int) {
  status = 0;
}

void siltingupclass::time_step(int64_t, int64_t, int64_t, int64_t) {}

void siltingupclass::release() { teilmodellklasse::release(); }

void siltingupclass::flush_outputs() {}

void siltingupclass::select_input_grid(char interception_before_snow) {
  interception_first = interception_before_snow;
}
