// Per-cell finishing of an interpolated value (scaling factor, limits with
// their replacements, scenario offset or factor, scaling grid), the day's
// scenario value between mid-month values, and the catch-error factor of the
// precipitation correction. Pure functions.
#pragma once

#include <array>

struct postprocess_settings {
  double scaling = 1;           // [-]
  double lower_limit = 0;       // results below it ...
  double replacement_below = 0; // ... become this
  double upper_limit = 0;       // results above it ...
  double replacement_above = 0; // ... become this
  int scenario_switch = 0;      // 1: combine with the scenario value
  int scenario_method = 0; // 1 and 6 add the scenario value, others multiply
};

// v = value * scaling, limited, combined with scenario (when in use), then
// times the scaling grid's value (has_scaling_grid).
double postprocess_value(double value, const postprocess_settings &p,
                         double scenario, bool has_scaling_grid,
                         double scaling_grid_value);

// The value of day d of month m (1..12) between the mid-month values
// months[1..12]; February counts 28 days; months wrap around.
double scenario_day_value(const std::array<double, 16> &point, int day,
                          int month);

struct catch_coefficients {
  double threshold = 0;     // Tg [degC]: rain above, snow at or below
  double rain_constant = 1; // cr [-]
  double rain_slope = 0;    // br [s m-1]
  double snow_constant = 1; // cs [-]
  double snow_slope = 0;    // bs [s m-1]
};
// The corrected precipitation v (br u + cr) when it rains (temperature above
// Tg, or no temperature), else v (bs u + cs).
double corrected_precipitation(double v, double temperature,
                               bool has_temperature, double wind,
                               const catch_coefficients &k);
