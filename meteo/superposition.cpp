#include "meteo/superposition.h"

#include "modelbase/diagstream.h"

RegionalSuperposition::RegionalSuperposition(DiagStream* diag_stream,
                                             statistics_registry* registry_in,
                                             int registry_size_in, const std::string& section,
                                             grid_store* store_in,
                                             const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  if (flow_control == 0) return;
  statistics = registry_in;
  statistics_size = registry_size_in;
  control.reset();
  warn_not_built("its entities are not read and no grid is superposed");
}

void RegionalSuperposition::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
}

void RegionalSuperposition::write_output() {}

void RegionalSuperposition::flush_outputs() {}

void RegionalSuperposition::release() { teilmodellklasse::release(); }
