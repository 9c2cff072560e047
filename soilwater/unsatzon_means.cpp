// Depth-weighted means of a soil column (see unsatzon_means.h).
#include "soilwater/unsatzon_means.h"

#include <algorithm>

namespace {

// The depth of the column, a hair above its bottom so that a range down to
// the bottom never reaches past the last layer.
double usable_depth(const soil_column_view& column) {
  double total = 0;
  for (int k = 1; k <= column.layer_count; ++k) total += column.thickness[k];
  return total - DEPTH_TOLERANCE;
}

double range_end(const soil_column_view& column, double depth) {
  const double total = usable_depth(column);
  return depth == WHOLE_COLUMN_DEPTH ? total : std::min(depth, total);
}

// Value of layer k over the length [m] of it inside the range of length span.
double layer_share(const soil_column_view& column, const double* values, mean_mode mode, int k,
                   double length, double span) {
  if (mode == mean_mode::amount) return values[k] * length;
  return values[k] / column.theta_sat[k] * length / span;
}

// Sum of the layer shares between start and last [m], last > start.
double walk_layers(const soil_column_view& column, const double* values, mean_mode mode,
                   double start, double last) {
  const double span = last - start;
  double sum = 0;
  double top = 0;
  for (int k = 1; k <= column.layer_count; ++k) {
    const double bottom = top + column.thickness[k];
    if (bottom > start) {
      const double from = std::max(top, start);
      if (bottom >= last) {
        // The layer that holds the end of the range; a range that ends
        // within the tolerance below its top adds nothing of it.
        if (last - from >= DEPTH_TOLERANCE)
          sum += layer_share(column, values, mode, k, last - from, span);
        break;
      }
      sum += layer_share(column, values, mode, k, bottom - from, span);
    }
    top = bottom;
  }
  return sum;
}

}  // namespace

double thickness_weighted_mean(const soil_column_view& column, const double* values, mean_mode mode,
                               double depth) noexcept {
  const double last = range_end(column, depth);
  if (last <= DEPTH_TOLERANCE) return 1.0;
  return walk_layers(column, values, mode, 0.0, last);
}

double depth_weighted_mean(const soil_column_view& column, const double* values, mean_mode mode,
                           double start, double end, double nodata) noexcept {
  if (end <= 0 || start < -0.0001) return nodata;
  const double last = range_end(column, end);
  if (last - start <= DEPTH_TOLERANCE) return 1.0;
  // Start and end in one layer: mode 1 gives the amount v (end - start) like
  // thickness_weighted_mean, mode 0 the layer's v / theta_sat.
  return walk_layers(column, values, mode, start, last);
}
