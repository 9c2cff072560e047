// Per-column services of the unsaturated zone outside its time step: the
// water irrigation may pump from the saturated zone, a groundwater table set
// from outside, the first base flow and tracer concentration of a column,
// and the decay factor of one sub-step. Arrays are indexed 0..layer count,
// 0 the soil surface, 1 the top layer.
#pragma once

struct soil_entry;

// Field capacity: the water content at this suction [m].
constexpr double FIELD_CAPACITY_SUCTION = 3.45;
// Half-life over e-folding time as the tracer settings use it [-].
constexpr double HALF_LIFE_PER_E_FOLDING = 1.442695041111;

// The groundwater layer a service works on: the integer part of the
// "groundwater_level" value, layer_count for a column where no saturated
// layer was found (level below 1), never layer 0.
int service_groundwater_layer(double level, int layer_count) noexcept;

// [mm] sum over l = layer..type_layers - 1 of (theta_sat - theta_fc) x d x 1000;
// 0 from the type's lowest layer on.
double max_pumping(const soil_entry& soil, int type_layers, int layer);

struct external_table_change {
  double balance = 0;  // [mm] water added (> 0) or removed (< 0): 1000 x sum of dtheta x d
  int level = 0;       // new groundwater layer
  double table = 0;    // [m] table height used (z[L] when the delivered one lies below it)
};
// Moves the groundwater table of a column from its old height old_table
// [m] in layer `layer` to table [m]: a falling table drains the layers it
// leaves to field capacity, a rising one fills them to saturation. z: the
// heights of the layer bottoms (z[0] the surface); theta is changed in place.
external_table_change apply_external_table(const soil_entry& soil, int layer_count,
                                           const double* z, double* theta, int layer,
                                           double old_table, double table);

// [mm per step] Q0 x exp(kelsqlat x distance), distance [m] <= 0.
double first_base_flow(double q0, double kelsqlat, double distance) noexcept;

// Concentration of a tracer in the groundwater layer from its store: the
// value itself for an evaporating tracer, else the amount over the layer's
// water theta x 1000 x d [mm]; lowered to max_conc when that is above 0. A
// layer without water has concentration 0.
double first_concentration(bool evaporating, double stored, double theta, double thickness,
                           double max_conc) noexcept;

// [-] decay over one sub-step of step_minutes / substeps; 0 for a
// half-time of 0 or less (no tracer is made).
double substep_decay_factor(double step_minutes, int substeps, double half_time_days) noexcept;
