// The tracers at the top and the bottom of a soil column in one water
// sub-step: the surface store takes the tracer of the water input (a mass
// for a non-evaporating tracer, a concentration for an evaporating one, the
// latter mixed with a standing pond), the layers below the groundwater table
// take the concentration of the first aquifer layer, and after the transport
// through the column the direct flow (and a pond overflow) carries its part
// of the surface store away.
//
// Amounts in mm per water sub-step, rates in m s-1; f = dt x 1000.
#pragma once

#include "soilwater/soilcolumn_solutes.h"

// Volume-weighted mean of two concentrations (0 without water).
double mix_concentrations(double c1, double c2, double volume1, double volume2) noexcept;

// Layers groundwater_layer + 1 .. layers of the store take the aquifer
// concentration; the groundwater layer itself keeps its tracer.
void tracers_below_table(const SoluteTracer& tracer, int layers, int groundwater_layer,
                         double aquifer_conc, const double* theta, const double* d,
                         double* store) noexcept;

// The water of the sub-step at the surface before it is split.
struct SurfaceTracerWater {
  double input = 0;          // W [mm] after the snow bypass
  double bypass = 0;         // S [mm]
  double silting = 0;        // U [mm]
  bool silting_in = false;   // U joins the water of the surface (silting-up surface storage)
  bool pond = false;
  double pond_content = 0;   // [mm] before the sub-step's water
};

// The surface store after the sub-step's input of concentration conc.
void surface_tracer_input(const SoluteTracer& tracer, const SurfaceTracerWater& water,
                          double conc, double& store) noexcept;

// The surface water after the iteration.
struct SurfaceTracerRunoff {
  double excess_direct = 0;  // [m s-1] direct flow from excess and water from below
  double direct = 0;         // [m s-1] final direct-flow rate (silting-up water, pond overflow)
  bool pond = false;
  bool overflow = false;     // the pond overflowed
  double standing = 0;       // [mm] water of the surface that did not infiltrate (pond)
  double silting = 0;        // U [mm] silting-up water sent to direct flow
  bool has_silting = false;  // the tracer has a silting-up concentration
  double silting_conc = 0;
};

// The tracer of the sub-step's direct flow: a mass (which leaves the
// surface store, plus the silting-up water's) or a concentration.
double direct_flow_tracer(const SoluteTracer& tracer, const SurfaceTracerRunoff& runoff,
                          double f, double& store) noexcept;
