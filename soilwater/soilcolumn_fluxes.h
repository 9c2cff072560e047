// Inter-layer fluxes of one soil column in one pass of the soil-water
// iteration: the surface flux from the water input, the river exchange, the
// Darcy flux across the bottom of every layer of the unsaturated part from an
// effective conductivity of the two neighbours (ratio limited by the soil
// type's maxratio, the larger value above the groundwater zone, the
// thickness-weighted harmonic mean at it, the saturated value below it, a
// clay layer and permafrost with their own conductivities), the interflow and
// tile drainage that leave each layer sideways, and finally the flux limiter.
//
// Arrays are indexed by layer 0..n (0 the surface), fluxes positive upward.
#pragma once

#include "soilwater/soilcolumn_water.h"

struct soil_entry;

// The lateral and boundary settings of one cell for the flux step.
struct FluxCell {
  int clay_layer = 0;               // c, 0 none
  bool tile_drainage = false;       // the drainage grids exist
  int drainage_level = 0;           // layer holding the drain ("drainage_level")
  double drainage_distance = 0;     // d_dr [m] > 0 where a drain is
  double drainage_density = 0;      // of the cell's subbasin
  double tangens_beta = 0;          // [-] slope of the cell
  double cellsize = 0;              // [m]
  double k_sat_clay = 0;            // [m s-1]
  bool permafrost = false;          // a thaw depth is given for the cell
  double thaw_depth = 0;            // [m] "PermafrostThawDepth"
  double reduced_k_sat = 1e-9;      // [m s-1] conductivity of frozen ground
  const double* unfrozen = nullptr; // f[1..n] with heat transfer, null: all liquid
};

// Work arrays of the flux step (0..n each).
struct FluxWork {
  double* ksat;       // saturated conductivities used (permafrost copy)
  double* field_cap;  // field capacity per layer, filled by the caller
};

// Outputs of the flux step besides q and the interflow.
struct FluxResult {
  double drainage = 0;  // [m s-1] tile drainage of the cell
  int lowest = 0;       // deepest layer whose bottom flux was computed
};

// compute_fluxes: q[0..], lateral[1..] (interflow and drainage) and, with the
// groundwater model, the river exchange. w [m s-1] >= 0 is the water input
// rate. theta0 is the start of the water sub-step, theta_iter the iterate.
FluxResult compute_fluxes(const soil_entry& soil, const ColumnCell& cell, const FluxCell& flux,
                          const RiverCell& river, double w, const double* theta_sat,
                          const double* theta0, const double* theta_iter, const double* z,
                          const double* h, const double* d, double* q, double* lateral,
                          double* river_in, double* river_out, RiverTotals& totals,
                          const FluxWork& work);
