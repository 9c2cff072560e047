// Tracer values the unsaturated zone writes per cell: an evaporating
// tracer's store holds the value itself, any other the amount in the
// layer's water, whose concentration is undefined in a dry layer and is
// written as a marker.
#pragma once

// Control-cell row of layer l: 1e9 below a water content of 1e-5.
double control_cell_tracer_value(bool evaporating, double stored, double theta,
                                 double thickness_m) noexcept;
// Concentration grid of the top layer: 99999 at a water content of 1e-4
// or less.
double top_layer_tracer_value(bool evaporating, double stored, double theta,
                              double thickness_m) noexcept;
