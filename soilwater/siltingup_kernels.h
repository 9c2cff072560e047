// Per-cell kernels of the silting-up (sealing) of the soil surface: the
// kinetic energy of the rain e = 11.89 + 8.73 log10(I) J m-2 mm-1 (Wischmeier
// & Smith 1978, with 28.33 from 76.2 mm/h and 0 up to 0.05 mm/h), accumulated
// since the last long enough rain pause, lets the infiltration capacity decay
// from I_0 to I_inf: f = I_inf + (I_0 - I_inf) exp(-C_v E_k). I_inf and the
// silting disposition C_v follow from the grain sizes and the time since the
// last soil tillage; the water input above the capacity becomes direct runoff.
#pragma once

// A to H of the capacity formula; the defaults are the built-in ones.
struct silting_parameters {
  double a = 65;    // I_0 [mm h-1]
  double b = 12.2;  // I_inf = b Dg^c (100 sand)^d [mm h-1]
  double c = 0.52;
  double d = -0.64;
  double e = 0.013;  // C_v = e (100 sand)^f Dg^g T^h [m2 J-1]
  double f = -1.03;
  double g = 0.7;
  double h = -0.19;
};

// Grain-size fractions of a soil [-].
struct grain_fractions {
  double sand = 0, silt = 0, clay = 0;
  double stones1 = 0, stones2 = 0, stones3 = 0, stones4 = 0;
};

// Geometric mean grain diameter Dg [um].
double geometric_mean_diameter(const grain_fractions& g) noexcept;

// Kinetic energy of rain of intensity [mm h-1] per mm of rain [J m-2 mm-1].
double rain_kinetic_energy(double intensity) noexcept;
constexpr double NO_RAIN_INTENSITY = 0.05;  // [mm h-1] up to which no rain falls

// I_inf [mm h-1] from Dg [um] and the sand fraction [-].
double final_infiltration_rate(const silting_parameters& p, double dg, double sand) noexcept;
// C_v [m2 J-1] after t days since tillage; 0 for t <= 0.
double silting_disposition(const silting_parameters& p, double sand, double dg, double t) noexcept;

// Days since the last tillage day before or on day h of the year. days holds
// days[0..count], days[0] = days[count] - 366; no days (count 0, or days[0]
// below -9997) gives 0; a tillage day itself gives 0.3.
double time_since_tillage(int count, const int* days, int h) noexcept;
// Whether a class has tillage days at all (no days: no sealing, no runoff).
bool has_tillage_days(int count, const int* days) noexcept;

// One step of the sealing state of a cell.
struct sealing_step_input {
  double intensity;     // I [mm h-1]
  double energy;        // e [J m-2 mm-1]
  double cover;         // c, vegetation and residue cover [-]
  double tillage_days;  // T [d]
  double min_pause;     // minimum rain pause of the subbasin [d]
  double dt_minutes;    // [min]
};
// The rain pause after the step [d]: 0 after rain, else grown by the step.
double rain_pause_after(double pause, double intensity, double dt_minutes) noexcept;
// E_k after the step [J m-2]; pause is the rain pause after the step.
double kinetic_energy_after(const sealing_step_input& in, double energy_sum, double pause) noexcept;
// Infiltration capacity of the step [mm].
double infiltration_capacity(double i_inf, double i_0, double c_v, double energy_sum,
                             double dt_minutes) noexcept;

// The water of the surface: w_tot = w_in + s; direct runoff above the
// capacity where the class has tillage days.
struct surface_split {
  double total;   // w_tot [mm]: the surface storage
  double runoff;  // q_d [mm]
  double input;   // w_tot - q_d [mm]: what the soil takes
};
surface_split split_surface_water(double input, double storage, double capacity,
                                  bool tilled) noexcept;
