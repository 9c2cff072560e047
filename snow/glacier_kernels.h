// Per-cell and per-subbasin kernels of the glacier part of the snow module:
// the single linear storages that delay the glacier melt of a subbasin
// (dS/dt = I - S/k solved exactly over one step for a constant input), the
// firn-area test of the melt statistics, the glacier mass balance of a step
// and the yearly turn of snow into glacier and firn. Water in mm.
#pragma once

#include "submodel/runoffrecords.h"

// Outflow of a single linear storage after one step [mm per step]:
// q e^(-1/k) + (1 - e^(-1/k)) inflow, k the storage constant [steps].
double linear_storage_step(double outflow, double k_steps, double inflow) noexcept;

// The glacierized share r of a subbasin: sum of g / (sum of g + sum of
// 1 - g); 0 for a subbasin without cells.
double subbasin_glacier_share(const subbasin_glacier_record& record) noexcept;

// The three storages of one glacierized subbasin, outflows over the
// glacierized part [mm per step].
struct glacier_runoff_storages {
  double ice = 0, firn = 0, snow = 0;
};
struct glacier_runoff_params {
  double k_ice = 1, k_firn = 1, k_snow = 1;  // [steps]
};
// Steps the storages with the step's mean melts over the subbasin
// (ice, firn, snow on ice) and returns the runoff r (Q_ice + Q_firn +
// Q_snow) over the whole subbasin; r <= 0 empties the storages.
double glacier_runoff_step(const glacier_runoff_params& p, double r, double mean_ice,
                           double mean_firn, double mean_snow,
                           glacier_runoff_storages& q) noexcept;

// The part k of the snow melt on a glacier that counts as melt of firn
// areas: 1 where the firn total is positive, else 0 (also for the static
// glaciers, which have no firn).
double firn_area_factor(bool has_firn, double firn_total) noexcept;

// The glacier mass balance change of a step [mm]: snow + rain - snow melt
// on the glacier - firn melt - ice melt, plus mobile + deposition - input
// of the slides, minus the snow evaporation on the glacier.
struct glacier_balance_terms {
  double snow = 0, rain = 0, snow_melt = 0, firn_melt = 0, ice_melt = 0;
  double mobile = 0, deposition = 0, input = 0;  // 0 without slides
  double evaporation = 0;                        // 0 without its grid
};
double glacier_balance_change(const glacier_balance_terms& t) noexcept;

// The snow storages of a cell's two parts and the firn of its glacier part
// for the yearly turn of snow into glacier (all mm).
struct glacier_cell_state {
  double share = 0;  // g
  double code = 0;   // k
  double W = 0, S = 0, L = 0;     // snow of the part without glacier
  double Wg = 0, Sg = 0, Lg = 0;  // snow on the glacier part
  double balance = 0, old_balance = 0;  // B, B_old
  double* firn = nullptr;  // element 0 the total, 1..levels the layers
  int levels = 0;
};
struct new_glacier_params {
  double max_pack = 1000;  // [mm] W_max
  double new_share = 0.25;  // [-] r_new
};
// The yearly block of one cell: a snow cell (g <= 0) above W_max becomes
// glacier of share r_new (code -1 unless it has one of 0 or above), a
// partial glacier cell passes its excess above W_max to the glacier part
// (B grows by it), a full one empties the snow part; every cell that was
// glacier shifts its firn down by one layer with W_g as the new layer 1.
// Returns whether the cell was glacier before (its code is to be kept as
// the old code).
bool yearly_glacier_cell(const new_glacier_params& p, glacier_cell_state& s) noexcept;
