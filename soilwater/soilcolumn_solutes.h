// Solute transport in one soil column after the water of a sub-step is
// known: every tracer moves with the water crossing the layer boundaries and
// leaving sideways, to base flow and to the river, enters with river water,
// is mixed over the saturated layers (with the first aquifer layer when the
// groundwater module runs) and decays. An evaporating tracer is carried as a
// concentration with a mass balance per layer (it stays behind when water
// evaporates); a non-evaporating one as a mass that moves in proportion to
// the water moved, never at more than its maximum concentration. A layer
// whose outflows exceed its water passes the excess on at the state of the
// layer above. Only the water that leaves through the bottom of the column
// carries tracer out of it (none through a closed bottom).
//
// Arrays are indexed by layer 0..n (0 the surface), fluxes positive upward.
#pragma once

// One tracer as the transport needs it.
struct SoluteTracer {
  bool radioactive = false;
  bool evaporating = false;
  double max_conc = 0;   // kappa, the largest concentration moved
  double decay = 1;      // [-] decay factor of one call (the module's sub-step)
};

// Water of the sub-step, read only (0..n).
struct SoluteWater {
  const double* q;          // [m s-1] across the lower boundary, q[0] surface
  const double* theta;      // [m3 m-3] at the end of the sub-step
  const double* theta0;     // [m3 m-3] at its start
  const double* theta_sat;  // [m3 m-3]
  const double* d;          // [m]
  const double* z;          // [m] lower-boundary elevation, z[0] surface
  const double* lateral;    // T [m s-1] interflow and drainage
  const double* base;       // B [m s-1] to groundwater or base flow
  const double* rising;     // G [m s-1] from the rising groundwater table
  const double* river_in;   // R [m s-1]
  const double* river_out;  // X [m s-1]
};

// Work arrays (0..n), overwritten.
struct SoluteWork {
  double* available;  // H = theta0 d / dt
  double* factor;     // outflow reduction f
  double* lateral_f;
  double* base_f;
  double* river_out_f;
  double* q_f;
};

// Per cell and sub-step.
struct SoluteCell {
  int layers = 0;
  int groundwater_layer = 0;      // g after the water step
  double dt = 0;                  // [s]
  double exfiltration_total = 0;  // X_tot [m s-1]
  double direct_runoff = 0;       // P [m s-1]
  double interflow_total = 0;     // I_tot [m s-1]
  double baseflow = 0;            // the cell's "baseflow" value
  bool groundwater_model = false;
  double aquifer_thickness = 0;   // D_A [m] "aquifer_thickness_1"
};

// Per tracer: outputs, the aquifer tracer (in and out) and the tracer of
// infiltrating river water.
struct SoluteTracerState {
  double* u;              // U[0..n] changed in place
  double* u0;             // copy U0[0..n], overwritten
  double interflow = 0;   // W
  double baseflow = 0;    // M
  double exfiltration = 0;  // N
  double* aquifer = nullptr;  // Gamma, the first aquifer layer's tracer (groundwater model)
  double river = 0;       // rho, of the infiltrating river water
};

// The tracer flows of one layer, for the floating-point report and balances.
struct SoluteFlows {
  double in_top = 0;   // A
  double out_bottom = 0;  // V
  double lateral = 0;  // Z
  double base = 0;     // K
  double river_out = 0;  // E
  double river_in = 0;   // S
};

// Layers transported: down to the groundwater layer + 1 and on over rising
// groundwater and river exchange; n when g >= n.
int transport_depth(const SoluteCell& cell, const SoluteWater& water) noexcept;

// Moves, mixes and decays every tracer. flows may be null; otherwise
// flows[j * (n + 1) + l] receives the flows of tracer j (0-based) in layer l.
// Returns the transport depth.
int transport_solutes(const SoluteCell& cell, const SoluteWater& water, const SoluteWork& work,
                      const SoluteTracer* tracers, SoluteTracerState* states, int tracer_count,
                      SoluteFlows* flows) noexcept;
