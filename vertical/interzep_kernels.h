// Per-cell kernels of the interception storage: a vegetation layer with
// coverage degree v takes the share v of its water input into a storage of
// capacity K = LAI * c (c the class's interception capacity per unit of leaf
// area), lets the rest and the overflow through, and evaporates stored water
// within a potential rate that it takes from the potential transpiration.
// Water in mm per step, capacities in mm.
#pragma once

// Which potential limits the evaporation of the stored water.
enum class interception_rule {
  none,                        // nothing evaporates
  by_transpiration,            // methods 1 and 11: the potential transpiration T
  by_interception_evaporation  // methods 2 and 12: the potential interception evaporation E
};
interception_rule interception_rule_of(int method) noexcept;
// Methods 11 and 12 run before the snow module.
inline bool interception_before_snow(int method) noexcept { return method > 10; }

// K = LAI * c; the default water layer when the class gives no capacity (c < 0).
double canopy_capacity(double leaf_area_index, double class_capacity,
                       double default_water_layer) noexcept;  // [mm]

// Fills the storage with v * P and returns the throughfall (1 - v) * P plus
// the overflow above the capacity.
double fill_canopy(double capacity, double coverage, double input, double& storage) noexcept;

// The potentials a layer evaporates within; the rule lowers them in place.
struct evaporation_potentials {
  double transpiration;        // [mm] T of the layer
  double total_transpiration;  // [mm] T0, the cell's total
  double interception;         // [mm] E of the layer
};
// Evaporates from the storage by the rule and returns the evaporation.
double evaporate_canopy(interception_rule rule, double& storage,
                        evaporation_potentials& p) noexcept;

// One layer's result for the step.
struct canopy_step {
  double throughfall;  // [mm]
  double evaporation;  // [mm]
};
// Fill, then evaporate: input = throughfall + storage change + evaporation.
canopy_step canopy_layer_step(interception_rule rule, double capacity, double coverage,
                              double input, double& storage, evaporation_potentials& p) noexcept;
