// Per-cell and per-subbasin kernels of the irrigation: the amount a cell's
// rule gives in a step (a schedule of dates, a soil-moisture threshold, or a
// threshold of the ratio of real to potential evapotranspiration), and the
// share of the surface-water demand that reservoirs and rivers can cover.
// Pure functions over small structs and plain arrays.
#pragma once

#include <cstdint>
#include <vector>

#include "modelbase/gridtypes.h"
#include "submodel/routingtables.h"
#include "submodel/runoffrecords.h"

struct irrigation_entry;

struct irrigation_cell {
  double sb = 0;          // [-] soil moisture of the top layer ("SB_1_grid")
  double sb_low = 0;      // [-] irrigation starts below ("SBLOW_grid")
  double sb_high = 0;     // [-] and fills up to ("SBHIGH_grid")
  double root_depth = 0;  // [m]
  double ratio = 1;       // [-] real over potential evapotranspiration ("ETR2ETP")
  double current = 0;     // [mm per step] the amount of the previous step
};

// The amount [mm per step] of a cell by its entry's rule; dt_minutes the step.
double irrigation_amount(const irrigation_entry& entry, const irrigation_cell& cell, int64_t month,
                         int64_t day, double dt_minutes);

// What the surface water of one step gives, per subbasin index 1..n.
struct surface_supply {
  std::vector<double> demand;          // [mm] mean surface-water demand m
  std::vector<double> from_reservoir;  // [mm] B, reservoir water taken
  std::vector<double> coverage;        // [-] F, share of the rest the rivers cover
  bool shortfall = false;
};

struct supply_inputs {
  const std::vector<zone_record>* demand = nullptr;  // surface-water records 0..n
  const std::vector<double>* area_share = nullptr;   // [-] of each subbasin, 0..n
  double basin_area = 0;                             // [km2]
  double dt_minutes = 0;                             // [min]
  const routing_target_table* target = nullptr;      // visiting order and downstream chain
};

// Steps of the surface-water supply: reservoir water B, river water taken in
// the visiting order of target (then any subbasin it does not list, by
// index), each take u lowering the river water of every subbasin downstream
// and, with a riverflow table, the discharge of t's reach and of every reach
// downstream; then the coverage F. river (maxirrig index 0) is lowered by
// the takes upstream of each subbasin; reservoir is only read.
surface_supply supply_surface_water(const supply_inputs& in, std::vector<double>& river,
                                    std::vector<double>& reservoir, riverflow_table* flows);

// The amount of a surface-water cell of subbasin z after a shortfall.
double shortfall_amount(const surface_supply& s, const std::vector<double>& reservoir_before, int z,
                        double amount);
