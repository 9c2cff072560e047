#include "soilwater/siltingup.h"

#include "app/diagstream.h"

siltingupclass::siltingupclass(int& status, DiagStream* diag_stream,
                               statistics_registry* /*registry*/, int /*registry_size*/,
                               const std::string& section, const std::string& control_file,
                               grid_store* store_in, const submodel_settings& settings)
    : teilmodellklasse(diag_stream, section, control_file, store_in, settings, 1, 1) {
  status = 0;
  try {
    if (flow_control == 0) return;
    diag_entry(*diag, "file ", "siltingup", ", compiled at ", __DATE__, ", ", __TIME__);
    control.reset();
    diag_entry(*diag, "WARNING: ", name,
               " is not built yet: it reads only the head of its section and computes nothing");
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
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
