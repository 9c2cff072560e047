#include "vertical/expokorr.h"

#include "modelbase/diagstream.h"

expokorrklasse::expokorrklasse(int& status, DiagStream* diag_stream,
                               statistics_registry* /*registry*/, int /*registry_size*/,
                               const std::string& section, grid_store* store_in,
                               const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "expokorr", __DATE__, __TIME__);
    control.reset();
    warn_not_built("it reads only the head of its section and computes nothing");
  });
}

const grid_matrix* expokorrklasse::get_radiation_correction() { return nullptr; }

void expokorrklasse::time_step(int64_t, int64_t, int64_t, int64_t) {}

void expokorrklasse::release() { teilmodellklasse::release(); }
