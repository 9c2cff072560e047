// Per-cell kernels of potential evapotranspiration: the saturation vapour
// pressure (Magnus form), the barometric air pressure, the slope of the
// saturation curve over the psychrometric constant, the aerodynamic and
// canopy resistances of the Penman-Monteith layers, and the one-line
// methods of Hamon (0.1651 PEC (D/12) rho_sat, Lu et al. 2005), Wendling
// (1995) and Haude (DVWK 1996). Pressures in hPa, temperatures in degC,
// resistances in s m-1, evapotranspiration in mm per step.
#pragma once

#include <string>

// Saturation vapour pressure over water [hPa]: 6.1078 exp(17.269 T / (237.3 +
// T)).
double saturation_vapor_pressure_of(double temperature) noexcept;

// Real roots of x^2 + p x + q = 0: the count (0, 1 or 2); x1 <= x2, both 0
// without a real root.
int solve_quadratic_of(double& x1, double& x2, double p, double q) noexcept;

// Air pressure at elevation [m] and temperature [degC] [hPa].
double air_pressure_of(double elevation, double temperature) noexcept;

// Slope of the saturation curve [hPa K-1].
double saturation_slope_of(double temperature) noexcept;

// Slope over the psychrometric constant [-] at pressure [hPa].
double slope_over_psychrometric(double temperature, double pressure) noexcept;

// Aerodynamic resistance of the top layer [s m-1] from the roughness length
// [m] and the wind speed [m s-1].
double aerodynamic_resistance_top(double z0, double wind) noexcept;

// Canopy resistance [s m-1] of a layer by day or night.
double canopy_resistance_of(double lai, double coverage, double rc, bool day) noexcept;

// Hamon: pec the month's interpolated factor [-], daylight share [-].
double hamon_etp(double temperature, double pec, double daylight_share) noexcept;

// Wendling: corrected radiation [Wh m-2], albedo [-], fk [-].
double wendling_etp(double radiation, double albedo, double fk, double temperature) noexcept;

// Haude's saturation vapour pressure [hPa] at the 14 h temperature.
double haude_saturation_pressure(double temperature14) noexcept;
// Haude: fh the month's factor [mm hPa-1], deficit 1 - RH [-]; cut to 0..7.
double haude_etp(double temperature14, double fh, double deficit) noexcept;
// The deficit from vapour pressure e [hPa] without a humidity grid.
double haude_deficit_from_vapor_pressure(double vapor_pressure, double temperature14) noexcept;

// Cloudiness [-] from the radiation ratio x.
double cloudiness_of(double ratio) noexcept;

// ---- set-up ----

// The threshold x* of the sunshine polynomial CS[0] + CS[1] x + CS[2] x^2 +
// CS[3] x^3: the larger of its stationary points in [0, 1] (cubic), else of
// its roots (quadratic, linear). not_linear: CS[1..3] all 0.
enum class sunshine_threshold_status { found, no_root, not_linear };
sunshine_threshold_status sunshine_threshold_of(const double cs[4], double& threshold) noexcept;

// The file name of vegetation layer k from layer 0's name: "pot.asc" ->
// "pot_Layer_1.asc", "pot" -> "pot_Layer_1".
std::string layer_file_name(const std::string& name, int layer);

// ---- radiation of a cell ----

// Clear-sky radiation of the daylight part of a step [Wh m-2]: n zenith
// cosines (1-based) of sub-intervals of length [h], transmissivity [-],
// air pressure [hPa].
double clear_sky_radiation(const double* zenith_cosines, int n, double subinterval_hours,
                           double transmissivity, double pressure) noexcept;

struct etp_radiation_setup {
  const double* a = nullptr;   // a0..a3 of the radiation polynomial
  const double* cs = nullptr;  // CS[0]..CS[3]
  double threshold = 0;        // x* [-]
  bool has_radiation = false;  // radiation grid
  bool has_sunshine = false;   // sunshine grid
  bool has_correction = false;
  double cap = 0;  // [Wh m-2] 1260 dt/60 daylight share
};
struct etp_radiation_input {
  double clear_sky = 0;   // R0 [Wh m-2]
  double radiation = 0;   // RG [Wh m-2]
  double sunshine = 0;    // s from the grid [-]
  double correction = 1;  // factor k of the radiation correction [-]
  double albedo = 0;      // [-]
};
struct etp_radiation_result {
  double corrected = 0;      // RGc [Wh m-2], capped
  double replacement = 0;    // the radiation grid's new value [Wh m-2]
  double net_shortwave = 0;  // Rns [Wh m-2]
  double sunshine = 0;       // s [-]
  double ratio = 0;          // x [-]
  double cloudiness = 0.5;   // [-]
};
// Sunshine, ratio, corrected and net short-wave radiation and cloudiness of
// a cell in a step with daylight.
etp_radiation_result cell_radiation_of(const etp_radiation_setup& setup,
                                       const etp_radiation_input& in) noexcept;

// ---- Penman-Monteith, one layer and one part of a step ----

struct pm_layer {
  double coverage = 0;  // c [-]
  double lai = 0;       // [m2 m-2]
  double rc = 0;        // canopy resistance [s m-1]
  double z0 = 0;        // roughness length [m]
  double ri = 0;        // interception resistance [s m-1]
  double kappa = 0.3;   // extinction coefficient [-]
  double lambda = 10;   // leaf-area scale of the resistance [s m-1]
  bool top = true;      // layer 1
  bool bottom = true;   // the soil lies below it
  bool lake = false;    // bottom layer of a lake cell (open water)
  double rss = 0;       // soil surface resistance [s m-1]
};
struct pm_weather {
  double temperature = 0;  // T of the part [degC]
  double vapor = 0;        // e [hPa]
  double saturation = 0;   // es(T) [hPa]
  double pressure = 0;     // [hPa]
  double wind = 0;         // [m s-1]
};
struct pm_energy {
  bool day = true;
  double share = 0;            // f of the step [-]
  double dt = 0;               // [min]
  bool net_radiation = false;  // RN is given
  double rn = 0;               // [Wh m-2]
  double rns = 0;              // [Wh m-2]
  double sunshine = 0;         // s [-]
  double a0 = 0;               // diffuse fraction [-]
  double longwave_factor = 0;  // [W m-2 K-4 h]
};
// What passes from one layer to the next within a cell.
struct pm_column {
  double ra_top = 0;     // [s m-1]
  double q_day = 0;      // energy left by day [mm]
  double q_night = 0;    // energy left by night [mm]
  double lai_above = 0;  // [m2 m-2]
};
struct pm_result {
  double transpiration = 0;  // [mm]
  double interception = 0;   // [mm]
  double soil = 0;           // [mm]
};
pm_result penman_monteith_of(const pm_layer& layer, const pm_weather& weather,
                             const pm_energy& energy, pm_column& column) noexcept;
