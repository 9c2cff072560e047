// The evapotranspiration module's shell: construction in the order of its
// set-up and the wiring setters.
#include "vertical/etpetr.h"

#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "tables/multilayer.h"

verdunstungsmodellklasse::verdunstungsmodellklasse(int& status, DiagStream* diag_stream,
                                                   statistics_registry* registry_in,
                                                   int registry_size_in, const std::string& section,
                                                   grid_store* store_in,
                                                   const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  registry = registry_in;
  registry_size = registry_size_in;
  run_constructor_body(status, [&] { set_up(); });
}

void verdunstungsmodellklasse::set_up() {
  const auto* table = settings().multilayer_table;
  layer_count = table != nullptr && table->size() > 1 ? (*table)[1].layer_count : 1;
  if (flow_control == 0 || store == nullptr) return;
  write_source_banner(*diag, "etpetr", __DATE__, __TIME__);
  read_section();
  check_section_values();
  std::FILE* f = control.release();
  if (std::fclose(f) != 0) fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
  take_grids();
  longwave_factor = 5.67e-8 * time_interval / 60;
  register_grids();
  if (settings().spinup_switch != 0) {
    hru_units = (*store)[require_grid("HydrologicResponseUnits")].grid;
    hru_masters = (*store)[require_grid("MasterHydrologicResponseUnits")].grid;
    check_followers();
  }
}

void verdunstungsmodellklasse::set_substeps(int count) { substeps = count; }

void verdunstungsmodellklasse::set_snow_method(int snow) { snow_method = snow; }

void verdunstungsmodellklasse::set_solid_snow_storage(grid_matrix* snow_storage) {
  if (flow_control != 0) solid_snow_storage = snow_storage;
}

void verdunstungsmodellklasse::set_radiation_correction(const grid_matrix* correction) {
  if (flow_control != 0) radiation_correction = correction;
}
