// Heat sub-steps of one soil column (see soilcolumn_heatstep.h).
#include "soilwater/soilcolumn_heatstep.h"

#include <algorithm>
#include <cmath>

#include "tables/landuse.h"
#include "tables/landuse_year.h"
#include "tables/soiltable.h"

namespace {

constexpr double NOT_GIVEN = -9999;   // n-factors at or below this are not given
constexpr double COUNT_SHARE = 0.25;  // [-] of the air-to-top difference per sub-step
constexpr double WHOLE_SECOND = 1.0;  // [s] shorter sub-steps change nothing (divergence)

size_t at(int i) { return static_cast<size_t>(i); }

}  // namespace

HeatWork::HeatWork(int layers) {
  const size_t per = at(std::max(layers, 0)) + 1;
  constexpr size_t ARRAYS = 14;
  buffer.assign(per * ARRAYS, 0.0);
  double* p = buffer.data();
  for (double** array :
       {&unfrozen, &slope, &lambda, &capacity, &g, &dtemp, &t, &a, &b, &c, &r, &x, &t_freeze}) {
    *array = p;
    p += per;
  }
}

double surface_n_factor(const landuse_entry* landuse, const HeatSettings& hs, int day, int month,
                        int year, double t_air) {
  const bool freezing = t_air < 0;
  double f = NOT_GIVEN - 1;
  if (landuse != nullptr) {
    f = landuse->n_factor_at_day(landuse_day_of_year(day, month, year));
    if (f < NOT_GIVEN) f = freezing ? landuse->get_nf_freezing() : landuse->get_nf_thawing();
  }
  if (f < NOT_GIVEN) f = freezing ? hs.nf_freezing : hs.nf_thawing;
  return f;
}

void heat_evaluation(const HeatSettings& hs, const soil_entry& soil, int layers,
                     const HeatColumnInput& in, const double* theta, double dt, bool substep,
                     double* t_stack, HeatWork& w, const double* q, const double* macropore) {
  const int n = layers;
  const double* d = soil.thickness.data();
  // The working copy starts from the stack in every evaluation.
  for (int k = 1; k <= n; ++k) w.t[k] = t_stack[k];
  soil.unfrozen_fraction(w.unfrozen, t_stack, theta);
  thermal_conductivity(soil, n, in.factors, w.unfrozen, theta, hs.lambda_water, hs.lambda_ice,
                       w.lambda);
  soil.unfrozen_fraction_slope(w.slope, t_stack, theta);
  latent_heat(n, theta, soil.theta_res.data(), hs.latent, hs.rho_water, w.slope);
  soil.layer_heat_capacity(t_stack, w.capacity, w.unfrozen, w.slope, theta, hs.rho_water,
                           hs.c_water, hs.c_ice0, hs.c_ice20);
  if (!substep || heat_scheme(hs.method) == HeatScheme::explicit_limited) {
    conductive_heat_fluxes(n, w.lambda, d, w.t, in.t_lower, in.t_air, in.n_factor, w.g);
    heat_flux_divergence(n, w.g, d, w.capacity, dt, w.dtemp);
    update_temperatures(n, w.t, t_stack, w.dtemp, w.g, substep, in.t_lower, in.t_air);
    if (substep)
      for (int k = 1; k <= n; ++k) t_stack[k] = w.t[k];
    return;
  }
  ImplicitHeatStep step;
  step.layers = n;
  step.method = hs.method;
  step.dt = dt;
  step.n_factor = in.n_factor;
  step.t_air = in.t_air;
  step.t_lower = in.t_lower;
  step.flux_boundary = in.flux_boundary;
  step.lower_flux = in.lower_flux;
  step.solid_snow = in.solid_snow;
  solve_heat_implicit(step, w.lambda, w.capacity, d, t_stack, w.a, w.b, w.c, w.r, w.x, macropore,
                      q);
  for (int k = 1; k <= n; ++k) w.t[k] = t_stack[k] = w.x[k];
}

int heat_substep_count(const HeatSettings& hs, const soil_entry& soil, int layers,
                       const HeatColumnInput& in, const double* theta, double step_seconds,
                       const double* t_stack, HeatWork& w) {
  const int n = layers;
  // The trial never writes the stack; the cast only serves the shared signature.
  heat_evaluation(hs, soil, n, in, theta, step_seconds, false, const_cast<double*>(t_stack), w,
                  nullptr, nullptr);
  const double change = std::fabs(w.t[1] - t_stack[1]);
  const double limit = std::fabs(COUNT_SHARE * (in.t_air - t_stack[1]));
  for (int k = 1; k <= n; ++k) w.t[k] = t_stack[k];
  // Sub-steps under a whole second change nothing, so the count never needs
  // to pass the step's seconds; this also ends the loop for bounds of 0 or
  // less and for a change that no count brings under its limit.
  const double most = std::max(1.0, std::floor(step_seconds / WHOLE_SECOND));
  int count = 1;
  while (count < most) {
    const double length = step_seconds / count;
    const bool too_fast = change > limit * count && length > hs.shortest;
    if (!(too_fast || length > hs.longest)) break;
    ++count;
  }
  return count;
}

SubstepCounts align_substeps(int water, int heat) {
  SubstepCounts s;
  water = std::max(water, 1);
  heat = std::max(heat, 1);
  if (2 * water < heat) {
    s.water = water;
    s.heat = (heat / water + 1) * water;
    s.ratio = s.heat / water;
  } else {
    s.water = s.heat = std::max(water, heat);
    s.ratio = 1;
  }
  return s;
}

void freezing_temperatures(const soil_entry& soil, int layers, double frozen_share, double* t_f) {
  const int steps = soil.freeze_steps;
  for (int k = 1; k <= layers; ++k) {
    const std::vector<double>& f = soil.unfrozen_fraction_table[at(k)];
    int j = steps;
    for (int i = 1; i <= steps && at(i) < f.size(); ++i)
      if (f[at(i)] <= frozen_share) {
        j = i;
        break;
      }
    // In floating point: the table's steps are fractions of its lowest temperature.
    t_f[k] = soil.freeze_min_temperature * static_cast<double>(j) / static_cast<double>(steps);
  }
  t_f[0] = layers >= 1 ? t_f[1] : 0;
}

double thaw_depth(int layers, const double* t, const double* t_f, const double* z, double t_lower) {
  const int n = layers;
  double thaw = 0;
  for (int k = 1; k < n; ++k) {
    if (!(t[k] > t_f[k] && t[k + 1] <= t_f[k])) continue;
    const double za = (z[k - 1] + z[k]) / 2, zb = (z[k] + z[k + 1]) / 2;
    const double height = za + (t_f[k] - t[k]) / (t[k + 1] - t[k]) * (zb - za);
    thaw = height - z[0];
  }
  if (n >= 1 && t[n] > t_f[n] && t_lower <= t_f[n]) thaw = z[n] - z[0];
  return thaw;
}

double frozen_below_table(int layers, const double* t, const double* t_f, const double* z,
                          const double* d, double thaw, double groundwater_level) {
  double frozen = 0;
  // A layer whose top lies at the thaw depth is frozen throughout; with no
  // thaw front (depth 0) that includes the top layer of a frozen column.
  for (int k = 1; k <= layers; ++k)
    if (z[0] - z[k - 1] >= -thaw && t[k] <= t_f[k] && k >= groundwater_level) frozen += d[k];
  return frozen;
}
