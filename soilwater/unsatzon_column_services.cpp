// Per-column services of the unsaturated zone (see unsatzon_column_services.h).
#include "soilwater/unsatzon_column_services.h"

#include <cmath>

#include "tables/soiltable.h"

namespace {

constexpr double METRES_TO_MM = 1000;     // [mm m-1]
constexpr double MINUTES_PER_DAY = 1440;  // [min d-1]

double drainable(const soil_entry& soil, int l) {
  const auto i = static_cast<size_t>(l);
  return soil.theta_sat[i] - soil.theta_from_suction(l, FIELD_CAPACITY_SUCTION);
}

}  // namespace

int service_groundwater_layer(double level, int layer_count) noexcept {
  const int g = static_cast<int>(level);
  return g >= 1 ? g : layer_count;
}

double max_pumping(const soil_entry& soil, int type_layers, int layer) {
  double sum = 0;
  for (int l = layer; l <= type_layers - 1; ++l)
    sum += drainable(soil, l) * soil.thickness[static_cast<size_t>(l)] * METRES_TO_MM;
  return sum;
}

external_table_change apply_external_table(const soil_entry& soil, int layer_count,
                                           const double* z, double* theta, int layer,
                                           double old_table, double table) {
  const int L = layer_count;
  const int g = layer;
  auto d = [&](int l) { return soil.thickness[static_cast<size_t>(l)]; };
  auto sat = [&](int l) { return soil.theta_sat[static_cast<size_t>(l)]; };
  external_table_change out;
  double v = 0;  // [m] of water
  if (old_table > table) {
    int n = g;
    while (z[n] > table) {
      ++n;
      if (n > L) {
        n = L;
        table = z[L];
        break;
      }
    }
    if (n == g) {
      const double dv = drainable(soil, g) * (old_table - table);
      theta[g] -= dv / d(g);
      v = dv;
    } else {
      const double dv = drainable(soil, g) * (old_table - z[g]);
      theta[g] -= dv / d(g);
      v = dv;
      for (int l = g + 1; l <= n - 1; ++l) {
        theta[l] -= drainable(soil, l);
        v += drainable(soil, l) * d(l);
      }
      const double last = drainable(soil, n) * (z[n - 1] - table);
      theta[n] -= last / d(n);
      v += last;
    }
    out.balance = -METRES_TO_MM * v;
    out.level = n;
  } else {
    int u = g;
    if (g > 1 && table > z[g - 1]) {
      u = g - 1;
      while (u > 1 && table > z[u - 1]) --u;
    }
    if (u == g) {
      v = (table - old_table) * (sat(g) - theta[g]);
      theta[g] += v / d(g);
    } else {
      // Layer g fills to saturation: what it takes is its whole deficit,
      // not the deficit over the rise within it.
      v = (sat(g) - theta[g]) * d(g);
      theta[g] = sat(g);
      for (int l = g - 1; l >= u + 1; --l) {
        v += (sat(l) - theta[l]) * d(l);
        theta[l] = sat(l);
      }
      double part = (table - z[u]) * (sat(u) - theta[u]);
      const double before = theta[u];
      theta[u] += part / d(u);
      if (theta[u] > sat(u)) {
        theta[u] = sat(u);
        part = (sat(u) - before) * d(u);
      }
      v += part;
    }
    out.balance = METRES_TO_MM * v;
    out.level = u;
  }
  out.table = table;
  return out;
}

double first_base_flow(double q0, double kelsqlat, double distance) noexcept {
  return q0 * std::exp(kelsqlat * distance);
}

double first_concentration(bool evaporating, double stored, double theta, double thickness,
                           double max_conc) noexcept {
  double c = stored;
  if (!evaporating) {
    const double water = theta * METRES_TO_MM * thickness;  // [mm]
    c = water > 0 ? stored / water : 0;
  }
  if (max_conc > 0 && c > max_conc) c = max_conc;
  return c;
}

double substep_decay_factor(double step_minutes, int substeps, double half_time_days) noexcept {
  if (!(half_time_days > 0)) return 0;
  return std::exp(-(step_minutes / substeps / MINUTES_PER_DAY) /
                  (HALF_LIFE_PER_E_FOLDING * half_time_days));
}
