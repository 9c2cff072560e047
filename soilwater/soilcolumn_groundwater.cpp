// The lower boundary of a soil column (see soilcolumn_groundwater.h).
#include "soilwater/soilcolumn_groundwater.h"

#include <algorithm>

namespace {

constexpr double SATURATED_SHARE = 0.9995;   // [-] of theta_sat: a layer counts as saturated
constexpr double FULL_TOLERANCE = 0.0001;    // [m3 m-3] a table layer this close to saturation is full
constexpr double MM_PER_M = 1000.0;

bool saturated(const GroundwaterColumn& col, const double* theta, int k) {
  return theta[k] > SATURATED_SHARE * col.theta_sat[k];
}

}  // namespace

double withdraw_transpiration(const GroundwaterColumn& col, int roots, int groundwater_layer,
                              double* theta, double* transpiration) {
  const double dt = col.dt;
  const int n = col.layers;
  double actual = 0;
  int j = std::clamp(groundwater_layer, 1, n);
  for (int k = 1; k <= roots; ++k) {
    double& e = transpiration[k];
    if (k <= groundwater_layer) {
      theta[k] -= e * dt / col.d[k];
      if (theta[k] < 0) {
        const double limit = k == 1 ? 0.0 : col.theta_res[k];
        e += (theta[k] - limit) * col.d[k] / dt;
        theta[k] = limit;
      }
      actual += e;
      continue;
    }
    // Roots below the table draw on the saturated zone, each take layer
    // down to field capacity; the demand still missing goes on to the next.
    double wanted = e;  // [m s-1] of root layer k still to be taken
    e = 0;
    while (wanted > 0 && j <= n) {
      const double fc = col.field_cap[j];
      const double demand = wanted * dt / col.d[j];
      if (theta[j] - demand >= fc) {
        theta[j] -= demand;
        transpiration[j] += wanted;
        actual += wanted;
        wanted = 0;
      } else if (theta[j] <= fc) {
        ++j;
        break;
      } else {
        const double moved = (theta[j] - fc) * col.d[j] / dt;
        theta[j] = fc;
        transpiration[j] += moved;
        actual += moved;
        wanted -= moved;
        ++j;
        if (j > roots) break;
      }
    }
  }
  return actual;
}

double withdraw_evaporation(const GroundwaterColumn& col, int roots, const double* evaporation,
                            double* theta, int& lowest) {
  double taken = 0;
  for (int k = 1; k <= roots && k <= col.layers && evaporation[k] > 0; ++k) {
    theta[k] -= evaporation[k] * col.dt / col.d[k];
    taken += evaporation[k];
    lowest = std::max(lowest, k);
  }
  return taken;
}

int groundwater_layer_of(const GroundwaterColumn& col, const double* theta) noexcept {
  int k = col.layers;
  while (k >= 1 && saturated(col, theta, k)) --k;
  return std::max(k, 1);
}

double fill_from_below(const GroundwaterColumn& col, double inflow, double* theta,
                       double* from_below) {
  const double dt = col.dt;
  int k = col.layers;
  while (k >= 1 && saturated(col, theta, k)) --k;
  const double theta_gw = k >= 1 ? theta[k] : theta[1];
  double rest = inflow;
  for (; k >= 1 && rest > 0; --k) {
    const double room = (col.theta_sat[k] - theta[k]) * col.d[k] / dt;
    if (rest <= room) {
      theta[k] += rest * dt / col.d[k];
      from_below[k] += rest;
      rest = 0;
    } else {
      theta[k] = col.theta_sat[k];
      from_below[k] += std::max(room, 0.0);
      rest -= std::max(room, 0.0);
    }
  }
  from_below[0] += rest;
  return theta_gw;
}

BaseflowExtraction extract_baseflow(const GroundwaterColumn& col, int groundwater_layer, double q,
                                    double* theta, double* to_base) {
  const double dt = col.dt;
  const int n = col.layers;
  BaseflowExtraction out;
  int j = std::clamp(groundwater_layer, 1, n);
  out.level = j;
  out.theta_gw = theta[j];
  while (q > 0 && j <= n) {
    const double fc = col.field_cap[j];
    if (theta[j] > fc) {
      const double after = theta[j] - q * dt / col.d[j];
      if (after >= fc) {
        theta[j] = after;
        to_base[j] += q;
        q = 0;
        out.theta_gw = after;
        break;
      }
      const double given = (theta[j] - fc) * col.d[j] / dt;
      theta[j] = fc;
      to_base[j] += given;
      q -= given;
    }
    ++j;
    if (j <= n) {
      out.level = j;
      out.theta_gw = theta[j];
    }
  }
  out.missing = std::max(q, 0.0);
  return out;
}

double table_height(const GroundwaterColumn& col, int layer, double theta_l1, double theta_gw) {
  const int l = layer;
  const double* z = col.z;
  if (l == 1 && theta_l1 > SATURATED_SHARE * col.theta_sat[1]) return z[0];
  const double sat = col.theta_sat[l], fc = col.field_cap[l];
  double h;
  if (sat - theta_gw <= FULL_TOLERANCE)
    h = z[l - 1];
  else if (theta_gw > fc)
    h = z[l] + (theta_gw - fc) * col.d[l] / (sat - fc);
  else
    h = z[l];
  if (l > 1) h = std::min(h, z[l - 1]);
  return h;
}

int layer_of_height(const GroundwaterColumn& col, double h) noexcept {
  for (int k = 1; k <= col.layers; ++k)
    if (col.z[k] <= h) return k;
  return col.layers;
}

double column_balance_terms(const GroundwaterColumn& col, const BalanceTerms& t,
                            const double* theta, const double* theta0, const double* from_below,
                            const double* q) {
  const double f = col.dt * MM_PER_M;
  const int l = t.layer, l0 = t.old_layer;
  if (t.external_table) return l >= 2 ? -q[l - 1] * f : 0.0;
  const double* z = col.z;
  const double* d = col.d;
  const double* sat = col.theta_sat;
  double s = 0;
  if (l0 == l) {
    const bool falling = t.table <= t.old_table;
    const double o = z[l - 1] - (falling ? t.table : t.old_table);
    const double top = falling ? t.table : t.old_table;
    const double th = falling ? theta[l] : theta0[l];
    if (o != 0)
      s = (sat[l] - (d[l] * th - (top - z[l]) * sat[l]) / o) * (t.table - t.old_table) * MM_PER_M;
  } else if (l0 > l) {
    s = (sat[l] - (theta[l] - col.dt * from_below[l] / d[l])) * (t.table - z[l]) * MM_PER_M;
    for (int k = l + 1; k <= l0; ++k) s += (theta[k] - theta0[k]) * d[k] * MM_PER_M;
  } else {
    s = (z[l0] - t.old_table) * (sat[l0] - theta[l0]) * MM_PER_M;
    for (int k = l0 + 1; k <= l; ++k) s += (theta[k] - theta0[k]) * d[k] * MM_PER_M;
  }
  double flow = t.baseflow + t.surface_from_below;
  if (t.groundwater_model) flow += t.river_out - t.river_in;
  return flow * f + s;
}
