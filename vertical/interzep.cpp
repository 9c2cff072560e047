#include "vertical/interzep.h"

#include "modelbase/diagstream.h"

interzeptionsmodellklasse::interzeptionsmodellklasse(int& status, DiagStream* diag_stream,
                                                     statistics_registry* /*registry*/,
                                                     int /*registry_size*/,
                                                     const std::string& section,
                                                     grid_store* store_in,
                                                     const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    write_source_banner(*diag, "interzep", __DATE__, __TIME__);
    read_value(control.get(), "%d", method, " method for ", section_buffer);
    control.reset();
    warn_not_built("it reads only its method and computes nothing");
  });
}

void interzeptionsmodellklasse::init_tracers(int& status, int, tracer_entry*,
                                             statistics_registry*, int) {
  status = 0;
}

void interzeptionsmodellklasse::time_step(int64_t, int64_t, int64_t, int64_t) {}

void interzeptionsmodellklasse::release() { teilmodellklasse::release(); }

void interzeptionsmodellklasse::flush_outputs() {}

int interzeptionsmodellklasse::get_method() { return flow_control > 0 ? method : 0; }
