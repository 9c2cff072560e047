// The temperature pre-SpinUp: before the main run of a SpinUp, one pass over
// the whole period of the air-temperature input (the first meteorological
// input) lets the unsaturated zone gather the soil-temperature information it
// then sets its soil-temperature profiles from. No other module takes part.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class DiagStream;
class meteointerpol;
class unsatzonmodellklasse;

// Code of a run whose first meteorological input is not "temperature".
constexpr int PRE_SPINUP_NO_TEMPERATURE = 1035;

// What the pass works on; the application hands in its own parts.
struct pre_spinup_parts {
  DiagStream* diag = nullptr;
  const std::vector<std::string>* meteo_names = nullptr;  // 1..meteo_count
  int meteo_count = 0;
  meteointerpol* first_input = nullptr;
  unsatzonmodellklasse* unsat = nullptr;
  double min_to_int_end = 0;  // [min] from the hour of a record to the end of its step
  // The Ctrl-C agreement of a time step, with its menu and choices.
  std::function<void()> agree_on_ctrl_c;
};

// Steps the first input through its whole period (end_of_run is the loop
// flag), lets the unsaturated zone set the soil temperatures and rewinds the
// input to its first record; end_of_run is 0 afterwards. Throws 1035 when
// the first input is missing or not named "temperature"; the errors of the
// input and the unsaturated zone pass unchanged.
void temperature_pre_spinup(const pre_spinup_parts& parts, int16_t& end_of_run);
