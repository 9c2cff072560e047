// Heat sub-steps of one soil column and its frozen-soil results. Each
// evaluation prepares the layers (unfrozen fraction, thermal conductivity,
// apparent heat capacity of freezing) and then advances the temperatures by
// conduction, either explicitly with the flux limiter or by one implicit
// (backward-Euler) step of the whole column (soilcolumn_heat.h). The number
// of sub-steps follows from a trial evaluation over the model step: enough
// that the top layer changes by no more than a quarter of its distance to
// the air temperature per sub-step, bounded by the shortest and longest
// sub-step. At the end of a call the thaw depth is found where the profile
// crosses each layer's freezing temperature, and the frozen thickness below
// the groundwater table.
//
// Arrays are indexed by layer 1..n (0 the surface where it applies).
#pragma once

#include <vector>

#include "soilwater/soilcolumn_heat.h"

struct soil_entry;
struct landuse_entry;

// The "[heat_transfer]" values of one call.
struct HeatSettings {
  int method = 2;                // "heat_method": explicit up to 10, implicit from 11
  double lambda_water = 0.5562;  // [W m-1 K-1] "dTModLamWat"
  double lambda_ice = 2.33;      // [W m-1 K-1] "dTModLamIce"
  double c_water = 4187;         // [J kg-1 K-1] "dTModCWater"
  double c_ice20 = 1940;         // [J kg-1 K-1] "dTModCIce20"
  double c_ice0 = 2090;          // [J kg-1 K-1] "dTModCIce0"
  double latent = 334000;        // [J kg-1] "dTModLatHeat"
  double rho_water = 1000;       // [kg m-3] "dTModRhoWater"
  double frozen_share = 0.5;     // [-] "dTModSEForStat": unfrozen share that counts as frozen
  double shortest = 60;          // [s] "dTModShortestStep"
  double longest = 1800;         // [s] "dTModLongestStep"
  double nf_freezing = 1;        // [-] "dTModNFactorFreezing"
  double nf_thawing = 1;         // [-] "dTModNFactorThawing"
};

// What the column's heat step reads of its cell.
struct HeatColumnInput {
  const ConductivityFactors* factors = nullptr;  // [1..n] of the soil type
  double t_air = 0;                              // [degC] "temperature"
  double t_lower = 0;                            // [degC] "T_Lower_Boundary_Condition"
  double n_factor = 1;         // [-] surface over air temperature (surface_n_factor)
  bool flux_boundary = false;  // "HeatFlux_Lower_Boundary_Condition" exists (implicit)
  double lower_flux = 0;       // [W m-2] its value
  bool solid_snow = false;     // "snowstorage_solid" above 0: macropore water at 0 degC
};

// Per-thread arrays of the heat step, 0..n each, reused for every cell.
class HeatWork {
 public:
  explicit HeatWork(int layers);
  double *unfrozen, *slope, *lambda, *capacity, *g, *dtemp, *t;  // t: the working copy
  double *a, *b, *c, *r, *x;                                     // implicit system
  double* t_freeze;  // [degC] freezing temperature of each layer (end of call)

 private:
  std::vector<double> buffer;
};

// The surface n-factor: the land use's series for the date, else its own
// freezing (air below 0 degC) or thawing value, else the module's; a value
// below -9999 counts as not given. landuse may be null.
double surface_n_factor(const landuse_entry* landuse, const HeatSettings& hs, int day, int month,
                        int year, double t_air);

// One evaluation over dt [s] from the temperatures t_stack with water
// contents theta. substep: the limiter is on and the result becomes t_stack
// (explicit), else only the working copy changes, without limiter, and the
// scheme is explicit whatever the method (the trial of the count). q [m s-1]
// 0..n and macropore [mm s-1] 1..n feed the implicit scheme with heat
// carried by water.
void heat_evaluation(const HeatSettings& hs, const soil_entry& soil, int layers,
                     const HeatColumnInput& in, const double* theta, double dt, bool substep,
                     double* t_stack, HeatWork& w, const double* q, const double* macropore);

// The heat sub-step count n_h of a model step of step_seconds from one
// trial evaluation; the working copy is reset to t_stack afterwards.
int heat_substep_count(const HeatSettings& hs, const soil_entry& soil, int layers,
                       const HeatColumnInput& in, const double* theta, double step_seconds,
                       const double* t_stack, HeatWork& w);

// The water and heat sub-step counts of a call aligned: r heat sub-steps
// follow each water sub-step.
struct SubstepCounts {
  int water = 1;
  int heat = 1;
  int ratio = 1;  // r
};
SubstepCounts align_substeps(int water, int heat);

// [degC] freezing temperature of each layer 1..n of the soil type (0 = 1):
// the temperature of the first step of its freezing table whose unfrozen
// share is at or below frozen_share.
void freezing_temperatures(const soil_entry& soil, int layers, double frozen_share, double* t_f);

// [m] thaw depth (0 or negative, relative to the surface z[0]) of the
// profile t[1..n] over the layer bottoms z[0..n] with freezing temperatures
// t_f[1..n] and the lower-boundary temperature.
double thaw_depth(int layers, const double* t, const double* t_f, const double* z, double t_lower);

// [m] thickness of the frozen layers at or below the groundwater layer that
// lie wholly below the thaw depth.
double frozen_below_table(int layers, const double* t, const double* t_f, const double* z,
                          const double* d, double thaw, double groundwater_level);
