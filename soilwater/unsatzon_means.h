// Depth-weighted means of one soil column: the water stored above a depth
// (mode 1, an amount in m when the values are water contents) or the
// thickness-weighted mean relative saturation v / theta_sat of a depth range
// (mode 0). Both walk the layers from the surface and count the layer that
// holds a range end with its share inside the range.
#pragma once

// The column of one cell: arrays indexed 1..layer_count, layer 1 on top.
struct soil_column_view {
  int layer_count = 0;
  const double* thickness = nullptr;  // [m]
  const double* theta_sat = nullptr;  // [m3 m-3]
};

// The whole column, whatever its depth.
constexpr double WHOLE_COLUMN_DEPTH = 9999;  // [m]
// Depths closer than this to a layer boundary count as on it.
constexpr double DEPTH_TOLERANCE = 1e-8;  // [m]

enum class mean_mode { relative_saturation = 0, amount = 1 };

// Sum of the values from the surface down to depth [m] (mode 1) or their
// mean relative saturation (mode 0); 1 for a depth of 0.
double thickness_weighted_mean(const soil_column_view& column, const double* values, mean_mode mode,
                               double depth) noexcept;

// As thickness_weighted_mean between start and end [m]; nodata when end <= 0
// or start < -0.0001, 1 for an empty range.
double depth_weighted_mean(const soil_column_view& column, const double* values, mean_mode mode,
                           double start, double end, double nodata) noexcept;
