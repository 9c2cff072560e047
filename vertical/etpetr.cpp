#include "vertical/etpetr.h"

#include "modelbase/diagstream.h"

verdunstungsmodellklasse::verdunstungsmodellklasse(int& status, DiagStream* diag_stream,
                                                   statistics_registry* /*registry*/,
                                                   int /*registry_size*/,
                                                   const std::string& section,
                                                   grid_store* store_in,
                                                   const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "etpetr", __DATE__, __TIME__);
    control.reset();
    warn_not_built("it reads only the head of its section and computes nothing");
  });
}

void verdunstungsmodellklasse::set_substeps(int count) { substeps = count; }

void verdunstungsmodellklasse::release() { teilmodellklasse::release(); }

void verdunstungsmodellklasse::flush_outputs() {}

void verdunstungsmodellklasse::set_solid_snow_storage(const grid_matrix* snow_storage) {
  if (flow_control != 0) solid_snow_storage = snow_storage;
}

void verdunstungsmodellklasse::set_radiation_correction(const grid_matrix* correction) {
  if (flow_control != 0) radiation_correction = correction;
}

void verdunstungsmodellklasse::compute_potential_evapotranspiration(int64_t, int64_t, int64_t,
                                                                    int64_t) {}

void verdunstungsmodellklasse::compute_snow_evaporation(int64_t, int64_t, int64_t, int64_t) {}

void verdunstungsmodellklasse::begin_step(const model_date&) {}

void verdunstungsmodellklasse::substep_hook(int64_t, int64_t, int64_t, int64_t) {}

void verdunstungsmodellklasse::run_substep(const model_date& step, int) {
  substep_hook(step.hour, step.day, step.month, step.year);
}

void verdunstungsmodellklasse::end_step(const model_date&) {}

void verdunstungsmodellklasse::read_lake_parameters(const std::string&) {}

void verdunstungsmodellklasse::set_snow_method(int method) { snow_method = method; }
