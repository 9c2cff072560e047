#include "app/modapuzr_prespinup.h"

#include "modelbase/diagstream.h"
#include "app/modapuzr.h"
#include "meteo/meteoint.h"
#include "soilwater/unsatzon.h"

namespace {

// Interpolation methods that fit a regression of the station values first.
bool fits_regression(int method) { return method == 10 || method == 11; }

// The last step of a day ends exactly at hour 24.
bool ends_a_day(int64_t hour, double min_to_int_end) {
  return static_cast<double>(hour) + min_to_int_end / 60.0 == 24.0;
}

}  // namespace

void temperature_pre_spinup(const pre_spinup_parts& parts, int16_t& end_of_run) {
  DiagStream& diag = *parts.diag;
  if (parts.meteo_count < 1 || parts.first_input == nullptr || parts.meteo_names == nullptr ||
      parts.meteo_names->size() < 2 || (*parts.meteo_names)[1] != "temperature")
    fail_fatal(diag, PRE_SPINUP_NO_TEMPERATURE,
               "temperature interpolation not found. This is required for pre-SpinUp! (no "
               "regions should be used for pre-SpinUp)");
  meteointerpol& temperature = *parts.first_input;
  unsatzonmodellklasse& unsat = *parts.unsat;

  while (end_of_run == 0) {
    if (parts.agree_on_ctrl_c) parts.agree_on_ctrl_c();
    int64_t hour = 0, day = 0, month = 0, year = 0;
    temperature.get_current_date(hour, day, month, year);
    if (fits_regression(temperature.get_method())) temperature.fit_station_regression(0);
    if (ends_a_day(hour, parts.min_to_int_end))
      diag_entry(diag, "temperature pre-SpinUp ", day, ".", month, ".", year, " ", hour, ". h ");
    temperature.interpolate(hour, day, month, year);
    temperature.output_result_grid();
    unsat.pre_spinup_step(hour, day, month, year);
    temperature.read_next_record();
    if (temperature.is_end_of_data() != 0) end_of_run = 1;
  }

  diag_entry(diag,
             "INFO: pre-SpinUp reached end of defined time range. Soil-temperatures are going to "
             "be set now.");
  unsat.finish_pre_spinup();
  end_of_run = 0;
  temperature.rewind_inputs();
  temperature.read_next_record();
}

void ModellApplication::TemperaturePreSpinUp() {
  pre_spinup_parts parts;
  parts.diag = diag;
  parts.meteo_names = &settings->meteo_names;
  parts.meteo_count = meteo_count();
  parts.first_input = meteo_count() >= 1 ? meteo_inputs[1] : nullptr;
  parts.unsat = unsat.get();
  parts.min_to_int_end = settings->min_to_int_end;
  parts.agree_on_ctrl_c = [this] { agree_on_ctrl_c(); };
  temperature_pre_spinup(parts, end_of_run);
}
