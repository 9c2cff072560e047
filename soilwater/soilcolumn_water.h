// Water kernels of one soil column for the Richards-equation cell solver:
// the Darcy flux between two layers, the heads of the layers, the layer
// balance that pushes water above saturation or below the residual content
// into the neighbouring fluxes, the relaxation of the iterate, the limiter
// that keeps two layers' heads from crossing, the exchange with a river,
// macropore infiltration and the extraction by roots (Feddes et al. 1978
// stress shape) and soil evaporation.
//
// Arrays are indexed by layer 1..n, index 0 the surface; fluxes are positive
// upward and q[i] is the flux across the lower boundary of layer i. The
// kernels keep no state and allocate nothing: the solver owns every array.
#pragma once

#include "submodel/runoffrecords.h"

struct soil_entry;

// The values of one cell and sub-step that every water kernel reads.
struct ColumnCell {
  int layers = 0;                     // n
  int groundwater_layer = 0;          // g, layer that holds the table
  int lowest_extraction = 1;          // L_e >= 1, deepest layer roots or evaporation took from
  double dt = 0;                      // [s] sub-step
  double groundwater_distance = 0;    // [m] table elevation minus surface (<= 0)
  bool groundwater_model = false;     // the groundwater module is active
  int surface_interaction = 0;        // 0 none, 1 exfiltration, >= 2 also infiltration
};

// The flux across the boundary of layer a above layer b [m s-1], positive
// upward: K [m s-1], heads [m], thicknesses [m].
double darcy_flux(double k, double head_a, double head_b, double d_a, double d_b) noexcept;

// The deepest layer treated by a kernel starting at i0 (g for the heads and
// the relaxation, g + 3 for the balance): from max(i0, L_e) down over layers
// with river exchange, then two layers more, at most n.
int active_depth(const ColumnCell& cell, int i0, const double* river_in,
                 const double* river_out) noexcept;

// Heads h[1..] of the treated layers except layer n; psi0 is filled at
// iteration 0. unfrozen may be null (all water liquid). Returns the mean
// suction of the last layer computed [m], 0 when none is.
double compute_heads(const soil_entry& soil, const ColumnCell& cell, int iteration,
                     const double* river_in, const double* river_out, const double* theta0,
                     const double* theta_relaxed, const double* z, const double* unfrozen,
                     double* h, double* psi0);

struct BalanceResult {
  int passes = 0;         // passes made
  bool settled = false;   // the last pass corrected no layer
  int last_layer = 0;     // deepest layer treated
};

// Water totals of the river exchange of one cell [m s-1].
struct RiverTotals {
  double infiltration = 0;  // R_tot
  double exfiltration = 0;  // X_tot
};

// Layer balance with excess and deficit correction, at most pass_limit
// passes; writes theta_b and corrects q, T, R, X and the totals.
BalanceResult balance_layers(const ColumnCell& cell, int pass_limit, double* river_in,
                             double* river_out, const double* theta0, const double* theta_sat,
                             const double* theta_res, double* q, double* lateral, const double* d,
                             double* theta_b, RiverTotals& totals) noexcept;

// New water contents from the fluxes and the relaxed iterate for the heads;
// counter becomes k - 3 from k = 4 on. Returns the largest change.
double relax_theta(const ColumnCell& cell, int iteration, int& counter, const double* river_in,
                   const double* river_out, double* theta, double* theta_relaxed,
                   const double* theta0, const double* q, const double* lateral,
                   const double* d) noexcept;

// Limits q(i) so that the heads of layers i and i + 1 keep their order
// (needs i < n); scales T(i) with it. q points at the flux array, z at the
// elevations. Returns the limited q(i), also stored in q[i].
double limit_flux(const soil_entry& soil, int i, const double* z, double* lateral, const double* h,
                  const double* theta0, double* q, double dt);

// The cell's reservation on a river record. The take is checked against the
// river's flow and reserved in one exclusive section, and settled to the
// cell's final take once the cell is done, so the takes of cells computed at
// the same time never exceed the flow together.
struct RiverTake {
  riverflow_record* record = nullptr;  // null: the cell has no river link
  double reserved = 0;                 // [m3 s-1] held in record->taken
};

// Releases the reservation and adds the final take (never more than was
// reserved) to the record's taken value.
void settle_river_take(RiverTake& take, double final_take_m3s) noexcept;

// The river geometry of one cell and where its take and the tracer values of
// infiltrating river water go.
struct RiverCell {
  bool excluded = false;    // lake cell (or lake model) that takes no part
  double depth = 0;         // b [m] "river_depth"
  double width = 0;         // w [m] "river_width"
  double kolmation = 0;     // k_r "kolmation"
  double cellsize = 0;      // [m]
  RiverTake* take = nullptr;             // null: no river link, no infiltration
  int tracer_count = 0;                  // <= 9
  double* infiltration_tracers = nullptr;  // [1..9] tracer values of river water
};

// River infiltration R and exfiltration X per layer and their totals.
// Nothing changes with surface_interaction <= 0.
void exchange_with_river(const soil_entry& soil, const ColumnCell& cell, const RiverCell& river,
                         const double* theta_sat, const double* theta0, const double* theta_relaxed,
                         const double* z, const double* h, const double* d, double* river_in,
                         double* river_out, RiverTotals& totals);

// Macropore infiltration of the water input w [mm s-1] (reduced by what
// enters); the soil type's "PMacroThresh" and "MacroCapacity" as the table
// holds them [m s-1]. Fills the capacity and infiltration of every layer
// [mm s-1] (0 where nothing enters) and returns the water placed [mm].
double macropore_infiltration(const soil_entry& soil, int layers, double& w, const double* d,
                              const double* theta_sat, double dt, double* theta, double* capacity,
                              double* infiltration) noexcept;

// One vegetation layer's parameters for the extraction.
struct VegetationDemand {
  double root_dist = 0;        // "RootDist" [-]
  double hredu_dry = 0;        // "HReduDry" [m] suction of the dry stress limit
  double tredu_wet = 1;        // "TReduWet" [-] share of theta_sat where wet stress starts
  double limit_redu_wet = 1;   // "LimitReduWet" [-] factor at saturation
  double soil_evaporation = 0; // E_s demand
  double coverage = 0;         // c_v [-]
  double potential = 0;        // T_p, potential transpiration rate
  int pass_on_limit = 0;       // withheld weight passes down only above this layer
};

// Per-layer outputs of the extraction (arrays 1..n).
struct ExtractionLayers {
  double* root_fraction;
  double* root_weight;
  double* transpiration;       // of this vegetation layer
  double* cell_transpiration;  // the cell's total per layer, added to
  double* evaporation;
  double* cell_evaporation;    // the cell's evaporation total, added to
};

// Root-water uptake and soil evaporation of one vegetation layer. root_depth
// [m] is raised to d(1). Returns the number of root layers.
int extract_transpiration(const soil_entry& soil, int layers, const VegetationDemand& demand,
                          double dt, double evap_max_depth, double& root_depth, const double* d,
                          const double* theta_sat, const double* theta_res, const double* theta,
                          const double* z, const ExtractionLayers& out);
