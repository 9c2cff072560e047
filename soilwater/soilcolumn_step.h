// The step of one soil column over one call of the unsaturated zone: the
// call is cut into water sub-steps (one with the fixed step, or as many as
// the fastest layer needs with the dynamic step), and each sub-step splits
// the water at the surface, takes the root and soil-evaporation withdrawals
// and the base flow out of the column, iterates the Richards-equation fluxes
// between the layers to convergence (heads, fluxes with interflow and river
// exchange, layer balance, relaxation), moves the groundwater table with the
// recharge across it, finds the surface runoff and moves the tracers with
// the water of the sub-step (surface store, transport through the column,
// direct flow and pond). With heat transfer the soil temperatures advance in
// heat sub-steps after each iteration; in dump mode a column out of range is
// written to a dump file (soilcolumn_dump.h). The step is a pure
// function of its inputs: it writes only the column's own state and results
// and the river take of its cell, and it allocates nothing; its work arrays
// come from the caller, one set per thread.
#pragma once

#include <memory>
#include <vector>

#include "soilwater/soilcolumn_dump.h"
#include "soilwater/soilcolumn_heatstep.h"
#include "soilwater/soilcolumn_solutes.h"
#include "soilwater/soilcolumn_water.h"

struct soil_entry;
struct landuse_entry;

// Settings of the module that are the same for every column of a call.
struct ColumnStepSettings {
  int layers = 0;               // n
  int method = 2;               // 2 fixed, 3 dynamic water sub-step
  double min_step = 1;          // [s] shortest dynamic sub-step ("dParameterMinStep")
  double max_error = 1e-5;      // [m3 m-3] convergence threshold of the iteration
  double max_iterations = 100;  // passes per water sub-step at most
  int calls_per_step = 1;       // S, the control file's sub-step count
  double call_seconds = 0;      // [s] length of the call, time interval x 60 / S
  double step_seconds = 0;      // [s] length of the model step
  int surface_interaction = 0;
  bool groundwater_model = false;
  bool external_table = false;  // an external groundwater table was applied
  int lake_switch = 0;
  bool silting_storage = false;  // the silting-up water serves the vegetation and infiltrates
  int vegetation_layers = 1;     // V
  // Heat transfer: heat_settings, the input's heat and the state's
  // temperatures are set.
  bool heat = false;
  const HeatSettings* heat_settings = nullptr;
  DumpControl* dump = nullptr;   // null or not in dump mode: no snapshot, no checks
  int tracer_count = 0;          // T
  const SoluteTracer* tracers = nullptr;  // [0..T-1]; decay is the factor of one call
};

// What enters the column with one tracer (concentrations).
struct TracerInput {
  double input = 0;          // of the water input (the tracer's input grid)
  double silting = 0;        // of the silting-up water sent to direct flow
  bool has_silting = false;  // the tracer has a silting-up concentration grid
};

// One vegetation layer of the cell.
struct VegetationInput {
  const landuse_entry* landuse = nullptr;  // null: the layer has no land-use code
  double potential = 0;                    // [mm per step] "pot_transpiration" + k
  double coverage = 0;                     // [-] "vegetation_coverage_degree" + k
  double root_depth = 0;                   // [m] "root_depth" + k
};

// The inputs of one cell for one call.
struct ColumnInput {
  const soil_entry* soil = nullptr;
  const double* z = nullptr;          // [m] "geodetic_heads" 0..n
  double water_input = 0;             // [mm per step] the soil's input grid
  double potential_evaporation = 0;   // [mm per step]
  double silting = 0;                 // [mm per call] silting-up water, 0 without
  double snow_solid = 0;              // [mm] "snowstorage_solid", 0 without
  double snow_fraction = 0;           // [-] "SnowRunoff_fraction" of the subbasin
  bool pond = false;                  // ponding is on for the cell (P_max > 0)
  double pond_max = 0;                // [mm] "max_ponding_storage"
  bool lake_cell = false;             // "lake_codes" holds a value
  double q0 = 0;                      // [mm per step] "Q0" of the subbasin
  double kelsqlat = 0;                // [m-1] "kelsqlat" of the subbasin
  double fixed_baseflow = 0;          // [m s-1] base flow of the groundwater model or the external table
  double drainage_density = 0;
  double tangens_beta = 0;
  double clay_depth = 0;              // [m] 0: no clay layer
  double k_sat_clay = 0;              // [m s-1]
  bool tile_drainage = false;
  int drainage_level = 0;
  double drainage_distance = 0;       // [m]
  bool permafrost = false;
  double thaw_depth = 0;              // [m]
  double reduced_k_sat = 1e-9;        // [m s-1]
  RiverCell river;                    // geometry and take of a river cell
  const VegetationInput* vegetation = nullptr;  // [1..V]
  // Called for a water sub-step that needed more than 100 passes.
  void (*long_iteration)(void* context, int passes, double change) = nullptr;
  void* long_iteration_context = nullptr;
  bool table_from_state = false;      // the first call: the old table from the water contents
  // [0..T-1]; the tracer of infiltrating river water comes from
  // river.infiltration_tracers [1..T] (0 without).
  const TracerInput* tracer = nullptr;
  double aquifer_thickness = 0;         // [m] "aquifer_thickness_1" (groundwater model)
  const HeatColumnInput* heat = nullptr;  // with heat transfer
  const DumpCell* dump_cell = nullptr;    // in dump mode
};

// The cell's state, changed in place.
struct ColumnState {
  double* theta = nullptr;        // "theta" 0..n
  double* h = nullptr;            // "hydraulic_heads" 0..n
  double* q = nullptr;            // "q_down" 0..n
  double groundwater_distance = 0;  // [m] table minus surface
  double groundwater_level = 0;     // groundwater layer
  double theta_gw = 0;              // "Theta_in_GWLEVEL"
  double pond = 0;                  // [mm] "ponding_storage"
  // Per tracer [0..T-1] the stores of the surface (0) and the layers 1..n:
  // a mass [mm x concentration] or, for an evaporating tracer, a concentration.
  double* const* tracer = nullptr;
  // Per tracer [0..T-1] the concentration of the first aquifer layer, read and
  // changed with the groundwater model (null without).
  double* aquifer = nullptr;
  double* temperature = nullptr;  // [degC] "Soil_Temperature_Stack" 0..n, with heat transfer
};

// What the call gives (amounts in mm per call unless noted).
struct ColumnResult {
  double directflow = 0, interflow = 0, baseflow = 0;
  double recharge = 0, percolation = 0, uprise = 0;
  double drainage = 0, river_in = 0, river_out = 0;
  double macropore = 0, excess = 0, infiltration = 0;
  double evaporation = 0;         // soil evaporation
  int substeps = 0;               // n_w
  double sb1 = 0, mean_suction_root = 0, sb2 = 0, root = 0;
  bool has_root_suction = false;  // false: no root zone, mean_suction_root is not set
  double storage_coefficient = 0; // [-] of the first groundwater layer
  int max_passes = 0;             // most passes of one water sub-step
  int passes = 0;                 // passes of all water sub-steps
  double input = 0;               // [mm] water that reached the surface in the call
  double last_infiltration = 0;   // [mm] -q0 x F of the last water sub-step
  int heat_substeps = 0;          // n_h (0 without heat transfer)
  int heat_ratio = 0;             // r
  double thaw_depth = 0;          // [m] "ThawDepthTMod"
  double frozen_below_table = 0;  // [m] "frozenSoilInGroundwater"
};

// Per-thread work arrays of the step.
class ColumnWork {
 public:
  ColumnWork(int layers, int vegetation_layers, int tracer_count = 0);
  int layers() const { return n; }
  // Per layer 0..n.
  double *theta0, *theta_iter, *theta_b, *psi0, *lateral, *river_in, *river_out;
  double *from_below, *to_base, *field_cap, *ksat, *macro_capacity, *macro_in;
  double *root_fraction, *root_weight, *veg_transpiration, *veg_evaporation, *scratch;
  // Of the last water sub-step: transpiration and soil evaporation per layer
  // summed over the vegetation layers, interflow per layer [m s-1].
  double *cell_transpiration, *cell_evaporation, *last_interflow;
  // Per vegetation layer 0..V: the share of the sub-step and the actual
  // transpiration of the call [mm] (0: the cell).
  double *share, *transpiration;
  bool* has_landuse;
  // Tracers of the call, per tracer [0..T-1]: masses for a non-evaporating
  // tracer, flow-weighted concentrations for an evaporating one, of direct
  // flow, lateral flow (interflow and drainage), base flow and river
  // exfiltration; the mass a radioactive tracer lost by decay (non-evaporating).
  double *tracer_direct, *tracer_lateral, *tracer_base, *tracer_exfiltration, *tracer_decayed;
  // Water of the call [mm] the weighted concentrations refer to.
  double *direct_water, *lateral_water, *base_water, *exfiltration_water;
  // Transport work: water contents at the sub-step start (0..n), the
  // kernel's arrays, a copy of each tracer's stores and its state.
  double* theta_start;
  SoluteWork solute_work{};
  std::vector<SoluteTracer> solute_tracers;
  std::vector<SoluteTracerState> solute_states;
  HeatWork heat;
  DumpSnapshot snapshot;  // sized at the first dump-mode sub-step

 private:
  int n;
  std::vector<double> buffer;
  std::vector<double> tracer_buffer;
  std::unique_ptr<bool[]> flags;
};

// The water sub-step count n_w of the call.
// unfrozen: with heat transfer the unfrozen fractions 1..n, else null.
int water_substeps(const ColumnStepSettings& s, const ColumnInput& in, const double* theta,
                   double groundwater_level, const double* unfrozen = nullptr);

// One call of one column. Returns the result; state is changed in place.
ColumnResult soil_column_cell_step(const ColumnStepSettings& s, const ColumnInput& in,
                                   ColumnState& state, ColumnWork& work);
