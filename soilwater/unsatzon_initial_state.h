// The starting state of one soil column: heights of the layer boundaries,
// water contents in hydrostatic equilibrium with a groundwater table (the
// suction of a layer is the height of its middle above the middle of the
// first saturated layer), hydraulic heads, the table found again from the
// water contents, and the derived values other modules read before the first
// step (lower-boundary temperature by lapse rate, drain layer, slope).
// Arrays are indexed 0..layer_count: 0 the soil surface, 1 the top layer.
#pragma once

#include "soilwater/unsatzon_means.h"

class DiagStream;
struct soil_entry;

// "groundwater_level" of a column whose table is not found in it: kept in the
// grid as a marker, never a layer to address.
constexpr int NO_GROUNDWATER_LAYER = 0;
// Share of theta_sat from which a layer counts as saturated [-].
constexpr double SATURATED_SHARE = 0.9995;
constexpr double DEGREES_TO_RADIANS = 3.141592653 / 180;  // [rad deg-1] as the grids use it
// The drain is found this far above the read drainage depth [m].
constexpr double DRAIN_DEPTH_OFFSET = 0.01;

// g[0] = surface [m], g[l] = g[l-1] - thickness[l].
void geodetic_heights(const soil_column_view& column, double surface, double* g) noexcept;

// Number k of unsaturated layers from the divisor ini_gw_level (> 1 for
// 1 <= k <= L - 1): floor((L - 1) / divisor) + 1; L for a divisor of 1 or
// less.
int groundwater_layer_from_divisor(int layer_count, double divisor) noexcept;
// k from a groundwater distance [m, <= 0]: 0 when the table lies in layer 1,
// else the number of layers whose bottom lies above it (at most L).
int groundwater_layer_from_distance(const soil_column_view& column, const double* g,
                                    double distance) noexcept;
// Refuses a k that would address layer L + 1 (the computed profile needs
// k <= L - 1): FATAL code 17 naming the cell and the source of k.
void check_groundwater_layer(DiagStream& diag, int k, int layer_count, int row, int col,
                             const char* source, double value);

// theta[0] = theta_sat[1]; layers 1..k in equilibrium with the middle of
// layer k + 1, layers k + 1..L saturated. Needs 0 <= k <= L - 1.
void equilibrium_theta(const soil_entry& soil, const soil_column_view& column, const double* g,
                       int k, double* theta);
// h[0] = g[0]; h[l] = middle of layer l minus the suction of theta[l].
void hydraulic_heads(const soil_entry& soil, int layer_count, const double* g, const double* theta,
                     double* h);

struct groundwater_table {
  double distance = 0;                  // [m] table minus surface
  double level = NO_GROUNDWATER_LAYER;  // first saturated layer of the lowest saturated run
  double theta_at_level = 0;            // [m3 m-3] water content of the layer above it
};
// The table from the water contents: the top of the lowest run of
// saturated layers that reaches from layer L - 1 upward (layers that share
// layer L's theta_sat may be skipped while unsaturated). keep_distance: the
// distance was read (readgrid 2) and stays read_distance.
groundwater_table search_groundwater_table(const soil_column_view& column, const double* g,
                                           const double* theta, bool keep_distance,
                                           double read_distance) noexcept;

// [degC] from the surface height [m].
inline double lower_boundary_temperature(double surface, double lapse_rate, double base) noexcept {
  return surface * lapse_rate + base;
}

// First layer whose bottom lies at or below drainage_depth - 0.01 m; 0 when
// that is at or above the surface, layer_count + 1 when it is below the
// column (the caller refuses it).
int drainage_layer(const soil_column_view& column, const double* g, double drainage_depth) noexcept;
