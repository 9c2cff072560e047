// Heat-transfer kernels of one soil column (see soilcolumn_heat.h).
#include "soilwater/soilcolumn_heat.h"

#include <algorithm>
#include <cmath>

#include "tables/soiltable.h"

namespace {

constexpr double NEAR_SATURATION = 0.01;  // [m3 m-3] below theta_s: no air term
constexpr double UNFROZEN = 0.99;         // [-] fraction from which ice is ignored
constexpr double MM_TO_M = 0.001;

size_t at(int i) { return static_cast<size_t>(i); }

}  // namespace

void conductivity_factors(const soil_entry& soil, int layers, double lambda_water,
                          ConductivityFactors* out) noexcept {
  for (int i = 1; i <= layers; ++i) {
    const double ts = soil.theta_sat[at(i)];
    out[i].dry = std::pow(soil.DryThermalConduct[at(i)], 1 - ts);
    out[i].water = std::pow(lambda_water, ts);
  }
}

std::vector<std::vector<ConductivityFactors>> conductivity_factor_table(
    const std::vector<soil_entry>& table, double lambda_water) {
  std::vector<std::vector<ConductivityFactors>> factors(table.size());
  for (size_t type = 1; type < table.size(); ++type) {
    const soil_entry& soil = table[type];
    factors[type].resize(static_cast<size_t>(soil.layer_count) + 1);
    conductivity_factors(soil, soil.layer_count, lambda_water, factors[type].data());
  }
  return factors;
}

void thermal_conductivity(const soil_entry& soil, int layers, const ConductivityFactors* factors,
                          const double* unfrozen, const double* theta, double lambda_water,
                          double lambda_ice, double* lambda) noexcept {
  for (int i = 1; i <= layers; ++i) {
    const double ts = soil.theta_sat[at(i)];
    const double th = theta[i];
    const double f = unfrozen[i];
    if (ts - th < NEAR_SATURATION) {
      lambda[i] = f < UNFROZEN ? factors[i].dry * std::pow(lambda_water, f * th) *
                                     std::pow(lambda_ice, (1 - f) * th)
                               : factors[i].dry * factors[i].water;
      continue;
    }
    const double solids_water = th + (1 - ts);
    double mean = solids_water * std::pow(soil.DryThermalConduct[at(i)], (1 - ts) / solids_water) *
                  std::pow(lambda_water, f * th / solids_water);
    if (f < UNFROZEN) mean *= std::pow(lambda_ice, (1 - f) * th / solids_water);
    lambda[i] = (ts - th) * AIR_CONDUCTIVITY + mean;
  }
}

void latent_heat(int layers, const double* theta, const double* theta_res, double latent_heat_fusion,
                 double water_density, double* slope) noexcept {
  for (int i = 1; i <= layers; ++i)
    slope[i] = theta[i] > theta_res[i]
                   ? (theta[i] - theta_res[i]) * (latent_heat_fusion * water_density) * slope[i]
                   : 0;
}

double conductive_heat_fluxes(int layers, const double* lambda, const double* d, const double* t,
                              double t_lower, double t_air, double n_factor, double* g) noexcept {
  g[0] = (n_factor * t_air - t[1]) * (-2 * lambda[1] / d[1]);
  for (int i = 1; i < layers; ++i)
    g[i] = (t[i] - t[i + 1]) * lambda[i] / (-0.5 * (d[i] + d[i + 1]));
  g[layers] = (t[layers] - t_lower) * (-2 * lambda[layers] / d[layers]);
  return g[layers];
}

void heat_flux_divergence(int layers, const double* g, const double* d, const double* heat_capacity,
                          double dt, double* dtemp) noexcept {
  const double seconds = std::trunc(dt);
  for (int i = 1; i <= layers; ++i)
    dtemp[i] = (g[i] - g[i - 1]) * seconds / (d[i] * heat_capacity[i]);
}

void update_temperatures(int layers, double* t, const double* t_ref, const double* dtemp,
                         const double* g, bool limiter, double t_below, double t_above) noexcept {
  for (int i = layers; i >= 1; --i) {
    t[i] += dtemp[i];
    if (!limiter) continue;
    // A single layer has the boundary values on both sides.
    const double below = i == layers ? t_below : t_ref[i + 1];
    const double above = i == 1 ? t_above : t_ref[i - 1];
    const bool up_top = g[i - 1] >= 0, up_bottom = g[i] >= 0;
    if (up_top && up_bottom)
      t[i] = std::min(t[i], below);
    else if (up_top)
      t[i] = std::max(t[i], std::min(below, above));
    else if (!up_bottom)
      t[i] = std::min(t[i], above);
    else
      t[i] = std::min(t[i], std::max(below, above));
  }
}

void solve_heat_implicit(const ImplicitHeatStep& step, const double* lambda,
                         const double* heat_capacity, const double* d, const double* t_ref,
                         double* a, double* b, double* c, double* r, double* x,
                         const double* macropore, const double* q) noexcept {
  const int n = step.layers;
  const double g2 = 2 * step.dt;
  const bool advect = heat_scheme(step.method) == HeatScheme::implicit_with_water;
  const double t_bound =
      step.flux_boundary ? t_ref[n] + step.lower_flux * d[n] / (2 * lambda[n]) : step.t_lower;
  const double t_macro = step.solid_snow ? 0.0 : step.t_air;
  const double t_surface = step.n_factor * step.t_air;
  // Inflowing water brings its own temperature (upwind): flow from above
  // (q < 0 at the top of a layer) couples to the layer above, flow from below
  // (q > 0 at its bottom) to the layer below; macropore water [mm s-1] enters
  // at t_macro (the bottom layer's at the boundary temperature).
  for (int i = 1; i <= n; ++i) {
    const double k = WATER_HEAT_CAPACITY * step.dt / (d[i] * heat_capacity[i]);
    const double macro = advect ? macropore[i] * MM_TO_M * k : 0;
    const bool top = i == 1, bottom = i == n;
    double surface = 0, lower = 0;
    a[i] = top ? 0 : -g2 * lambda[i - 1] / (d[i] * (d[i - 1] + d[i]) * heat_capacity[i]);
    c[i] = bottom ? 0 : -g2 * lambda[i] / (d[i] * (d[i] + d[i + 1]) * heat_capacity[i]);
    if (top) surface = g2 * lambda[1] / (d[1] * d[1] * heat_capacity[1]);
    if (bottom) lower = g2 * lambda[n] / (d[n] * d[n] * heat_capacity[n]);
    if (advect) {
      if (q[i - 1] < 0) {
        if (top)
          surface -= q[0] * k;
        else
          a[i] += q[i - 1] * k;
      }
      if (q[i] > 0) {
        if (bottom)
          lower += q[n] * k;
        else
          c[i] -= q[i] * k;
      }
    }
    b[i] = 1 - a[i] - c[i] + surface + lower + macro;
    const double macro_temperature = bottom && !top ? t_bound : t_macro;
    r[i] = t_ref[i] + surface * t_surface + lower * t_bound + macro * macro_temperature;
    x[i] = 0;
  }
  for (int i = 2; i <= n; ++i) {
    const double w = a[i] / b[i - 1];
    b[i] -= c[i - 1] * w;
    r[i] -= w * r[i - 1];
  }
  x[n] = r[n] / b[n];
  for (int i = n - 1; i >= 1; --i) x[i] = (r[i] - c[i] * x[i + 1]) / b[i];
}
