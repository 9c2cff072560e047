// Starting state of a soil column (see unsatzon_initial_state.h).
#include "soilwater/unsatzon_initial_state.h"

#include <cmath>

#include "modelbase/diagstream.h"
#include "tables/soiltable.h"

void geodetic_heights(const soil_column_view& column, double surface, double* g) noexcept {
  g[0] = surface;
  for (int l = 1; l <= column.layer_count; ++l) g[l] = g[l - 1] - column.thickness[l];
}

int groundwater_layer_from_divisor(int layer_count, double divisor) noexcept {
  // Divisors of 1 or less would address layer L + 1 or beyond (0 divides by
  // zero); L marks them for check_groundwater_layer.
  if (!(divisor > 1)) return layer_count;
  return static_cast<int>(std::floor((layer_count - 1) / divisor) + 1.4999);
}

int groundwater_layer_from_distance(const soil_column_view& column, const double* g,
                                    double distance) noexcept {
  const double z = -distance;
  if (column.layer_count < 1 || z <= g[0] - g[1]) return 0;
  int k = 0;
  for (int l = 1; l <= column.layer_count; ++l)
    if (g[0] - g[l] < z) ++k;
  return k;
}

void check_groundwater_layer(DiagStream& diag, int k, int layer_count, int row, int col,
                             const char* source, double value) {
  if (k >= 0 && k <= layer_count - 1) return;
  fail_fatal(diag, 17, "in modul unsatzon_model:\ninitial groundwater table of cell (", row, ", ",
             col, ") from ", source, " = ", value, " lies in layer ", k + 1, " of ", layer_count,
             ": it must lie above the bottom of the soil column (",
             "ini_gw_level greater than 1, a read groundwater distance above the last layer)\n");
}

void equilibrium_theta(const soil_entry& soil, const soil_column_view& column, const double* g,
                       int k, double* theta) {
  const int n = column.layer_count;
  theta[0] = column.theta_sat[1];
  if (k < n) {
    const double reference = g[k + 1] + column.thickness[k + 1] / 2;
    for (int l = 1; l <= k; ++l) {
      const double suction = g[l] + column.thickness[l] / 2 - reference;
      theta[l] = soil.theta_from_suction(l, suction);
    }
  }
  for (int l = k + 1; l <= n; ++l) theta[l] = column.theta_sat[l];
}

void hydraulic_heads(const soil_entry& soil, int layer_count, const double* g, const double* theta,
                     double* h) {
  h[0] = g[0];
  for (int l = 1; l <= layer_count; ++l)
    h[l] = (g[l - 1] + g[l]) / 2 - soil.suction_from_theta(l, theta[l]);
}

groundwater_table search_groundwater_table(const soil_column_view& column, const double* g,
                                           const double* theta, bool keep_distance,
                                           double read_distance) noexcept {
  const int n = column.layer_count;
  groundwater_table table;
  table.theta_at_level = theta[1];
  table.distance = keep_distance ? read_distance : g[n] - g[0];
  enum class search { searching, found, stopped } state = search::searching;
  for (int j = n - 1; j >= 1; --j) {
    if (theta[j] > SATURATED_SHARE * column.theta_sat[j] && state != search::stopped) {
      if (!keep_distance) table.distance = g[j - 1] - g[0];
      table.level = j;
      table.theta_at_level = theta[j - 1];
      state = search::found;
    } else if (state == search::found) {
      state = search::stopped;
    } else if (column.theta_sat[j] != theta[n]) {
      state = search::stopped;
    }
  }
  return table;
}

int drainage_layer(const soil_column_view& column, const double* g,
                   double drainage_depth) noexcept {
  const double t = drainage_depth - DRAIN_DEPTH_OFFSET;
  if (t <= 0) return 0;
  for (int m = 1; m <= column.layer_count; ++m)
    if (g[0] - g[m] >= t) return m;
  return column.layer_count + 1;
}
