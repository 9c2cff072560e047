// Inter-layer fluxes of one soil column (see soilcolumn_fluxes.h).
#include "soilwater/soilcolumn_fluxes.h"

#include <algorithm>

#include "tables/soiltable.h"

namespace {

// [m] a layer whose bottom lies this far above its head holds its water
// against gravity: no interflow, no drainage.
constexpr double NO_LATERAL_SUCTION = 3.45;

}  // namespace

FluxResult compute_fluxes(const soil_entry& soil, const ColumnCell& cell, const FluxCell& flux,
                          const RiverCell& river, double w, const double* theta_sat,
                          const double* theta0, const double* theta_iter, const double* z,
                          const double* h, const double* d, double* q, double* lateral,
                          double* river_in, double* river_out, RiverTotals& totals,
                          const FluxWork& work) {
  const int n = cell.layers;
  const int g = cell.groundwater_layer;
  const double dt = cell.dt;
  double* ks = work.ksat;
  for (int k = 1; k <= n; ++k) ks[k] = soil.ksat[static_cast<size_t>(k)];
  if (flux.permafrost) {
    double bottom = 0;
    for (int k = 1; k <= n; ++k) {
      bottom += d[k];
      if (bottom > flux.thaw_depth) ks[k] = flux.reduced_k_sat;
    }
    if (d[1] > flux.thaw_depth && w > flux.reduced_k_sat) w = flux.reduced_k_sat;
  }
  q[0] = -w;
  if (cell.groundwater_model)
    exchange_with_river(soil, cell, river, theta_sat, theta0, theta_iter, z, h, d, river_in,
                        river_out, totals);

  FluxResult result;
  int last = std::max(g + 1, cell.lowest_extraction);
  if (last >= n) {
    last = n - 1;
  } else {
    while (last < n && (river_in[last + 1] > 0 || river_out[last + 1] > 0)) ++last;
    if (last >= n) last = n - 1;
  }
  result.lowest = last;
  auto unfrozen = [&](int k) { return flux.unfrozen ? flux.unfrozen[k] : 1.0; };
  const double m = soil.maxratio;
  for (int b = 2; b <= n && b - 1 <= last; ++b) {
    const int a = b - 1;
    const double fa = unfrozen(a), fb = unfrozen(b);
    double k;
    if (flux.clay_layer > 0 && (flux.clay_layer == a || flux.clay_layer == b)) {
      const int c = flux.clay_layer;
      k = flux.k_sat_clay *
          soil.relative_conductivity_from_theta(a, (theta0[c] + theta_iter[c]) / 2, fa);
    } else if (a > g) {
      k = ks[a];
    } else {
      double ka = soil.relative_conductivity_from_theta(a, (theta0[a] + theta_iter[a]) / 2, fa);
      double kb = soil.relative_conductivity_from_theta(a, (theta0[b] + theta_iter[b]) / 2, fb);
      if (ka > m * kb)
        kb = ka / m;
      else if (m * ka < kb)
        ka = kb / m;
      if (ka == 0)
        ka = kb;
      else if (kb == 0)
        kb = ka;
      ka *= ks[a];
      kb *= ks[b];
      if (a >= g - 1) {
        const double denominator = kb * d[a] + ka * d[b];
        k = denominator > 0 ? (d[a] + d[b]) * ka * kb / denominator : 0;
      } else {
        k = std::max(ka, kb);
      }
    }
    q[a] = darcy_flux(k, h[a], h[b], d[a], d[b]);

    lateral[a] = 0;
    if (a >= g || z[a] - h[a] >= NO_LATERAL_SUCTION) continue;
    const double drainable =
        std::max(0.0, (theta_iter[a] - work.field_cap[a]) * d[a] / dt);  // A [m s-1]
    const double k_rel = soil.relative_conductivity_from_theta(a, theta_iter[a], fa);
    double out = 0;
    if (ks[b] < ks[a])
      out = k_rel * ks[a] * d[a] * flux.drainage_density * std::min(1.0, flux.tangens_beta);
    if (flux.tile_drainage && a == flux.drainage_level && flux.drainage_distance > 0) {
      const double dr = std::min(drainable, 2 * k_rel * ks[a] * d[a] / flux.drainage_distance *
                                                flux.cellsize / flux.drainage_distance);
      result.drainage = dr;
      out += dr;
    }
    lateral[a] = std::min(out, drainable);
  }
  for (int k = 1; k <= last && k < n; ++k) limit_flux(soil, k, z, lateral, h, theta0, q, dt);
  return result;
}
