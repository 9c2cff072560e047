#include "meteo/precicorr.h"

#include <cstdio>

#include "modelbase/diagstream.h"

precicorrclass::precicorrclass(int& status, DiagStream* diag_stream,
                               std::vector<meteointerpol*>* interpolators_in,
                               const std::vector<std::string>* names_in, int name_count_in,
                               grid_store* store_in, const settings_context& settings)
    : modelobject(diag_stream, settings.control_file, settings),
      interpolators(interpolators_in),
      names(names_in),
      name_count(name_count_in) {
  run_constructor_body(status, [&] {
    name = "precipitation_correction";
    store = store_in;
    read_section();
    if (do_it != 0)
      diag_entry(*diag, "WARNING: ", name,
                 " is switched on, but the correction is not built yet: precipitation stays "
                 "uncorrected");
  });
}

void precicorrclass::read_section() {
  if (!open_control_file()) fail_fatal(*diag, 28, "error opening ", control_path);
  std::FILE* file = control_file();
  seek_section("[" + name + "]", true);
  read_value(file, "%d", do_it, "do_it fuer ", section_buffer);
  read_value(file, "%lf", threshold_temperature, "Grenztemperatur fuer ", section_buffer);
  read_value(file, "%lf", rain_constant, "Konstante Regen fuer ", section_buffer);
  read_value(file, "%lf", rain_slope, "Anstieg Regen fuer ", section_buffer);
  read_value(file, "%lf", snow_constant, "Konstante Schnee fuer ", section_buffer);
  read_value(file, "%lf", snow_slope, "Anstieg Schnee fuer ", section_buffer);
  if (std::fclose(control.release()) != 0) fail_fatal(*diag, 11, "error closing ", control_path);
}

void precicorrclass::correct_station_data() {}

void precicorrclass::correct_precipitation_grid() {}

void precicorrclass::set_max_elevation(double elevation) { max_elevation = elevation; }

void precicorrclass::release() { modelobject::release(); }
