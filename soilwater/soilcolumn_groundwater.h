// The lower boundary of a soil column: the groundwater table lives inside
// the column, in the uppermost layer of the saturated zone at its bottom,
// and its height follows from that layer's water content. These kernels take
// the root and soil-evaporation withdrawals out of the layers (roots below
// the table draw on the saturated zone down to field capacity), put water
// from below into the column or take base flow out of the saturated zone,
// find the groundwater layer, move the table after the iteration and split
// the water that crossed it into recharge or capillary rise.
//
// Arrays are indexed by layer 0..n (0 the surface); rates in m s-1.
#pragma once

// The column as these kernels see it (arrays 0..n).
struct GroundwaterColumn {
  int layers = 0;                      // n
  double dt = 0;                       // [s] water sub-step
  const double* d = nullptr;           // [m] thickness
  const double* z = nullptr;           // [m] bottom heights, z[0] the surface
  const double* theta_sat = nullptr;   // [m3 m-3]
  const double* theta_res = nullptr;   // [m3 m-3]
  const double* field_cap = nullptr;   // [m3 m-3] water content at 3.45 m suction
};

// Withdrawal of one vegetation layer's roots after the extraction: layers
// 1..roots, groundwater layer g. transpiration[k] (changed) holds the
// rates of the layer and ends with the rate each layer gave: a root layer
// below the table hands its rate to the take layers it drew on, and a demand
// no layer could meet is not kept. Returns the vegetation layer's actual
// rate [m s-1].
double withdraw_transpiration(const GroundwaterColumn& col, int roots, int groundwater_layer,
                              double* theta, double* transpiration);

// Soil evaporation e[1..] taken from layers 1.. while e > 0 and k <= roots.
// Raises lowest to the deepest layer reached; returns the rate taken.
double withdraw_evaporation(const GroundwaterColumn& col, int roots, const double* evaporation,
                            double* theta, int& lowest);

// The uppermost layer of the saturated zone at the bottom of the column (1
// when every layer is saturated).
int groundwater_layer_of(const GroundwaterColumn& col, const double* theta) noexcept;

// Water from below at the rate inflow [m s-1] > 0: fills the free pore
// space from the first unsaturated layer upward; from_below[k] records what
// layer k took and from_below[0] what found no room and leaves at the
// surface. Returns the water content of the first unsaturated layer.
double fill_from_below(const GroundwaterColumn& col, double inflow, double* theta,
                       double* from_below);

// Base flow extraction of rate q >= 0 from the saturated zone, layer by
// layer down from the groundwater layer, each to field capacity at most.
// to_base[k] records the rate of layer k.
struct BaseflowExtraction {
  double missing = 0;     // [m s-1] what the saturated zone could not give
  int level = 0;          // groundwater layer after the extraction
  double theta_gw = 0;    // its water content
};
BaseflowExtraction extract_baseflow(const GroundwaterColumn& col, int groundwater_layer, double q,
                                    double* theta, double* to_base);

// Height [m] of the groundwater table in layer L with the table's water
// content theta_gw (the layer's water content after its net outflow).
double table_height(const GroundwaterColumn& col, int layer, double theta_l1, double theta_gw);

// Terms of the recharge across the table in one water sub-step.
struct BalanceTerms {
  double table = 0;          // H [m] new table height
  double old_table = 0;      // H0 [m]
  int old_layer = 0;         // L0, the layer that held H0
  int layer = 0;             // L
  double baseflow = 0;       // [m s-1] rate that left the saturated zone
  double surface_from_below = 0;  // B0 [m s-1]
  double river_out = 0;      // R_out [m s-1], with the groundwater model
  double river_in = 0;       // R_in [m s-1]
  bool groundwater_model = false;
  bool external_table = false;
};
// column_balance_terms: the recharge of the sub-step in mm (positive:
// percolation to the groundwater, negative: capillary rise).
double column_balance_terms(const GroundwaterColumn& col, const BalanceTerms& t,
                            const double* theta, const double* theta0, const double* from_below,
                            const double* q);

// The layer that holds a table of height h (the first layer whose bottom
// lies at or below it; n when it lies below the column).
int layer_of_height(const GroundwaterColumn& col, double h) noexcept;
