// Heat-transfer kernels of one soil column: thermal conductivity as the
// geometric mean of air, solids, water and ice (Johansen-type weighting of
// the saturated conductivity), the apparent heat capacity of freezing, the
// conductive fluxes between layers with their divergence and an explicit
// update with a limiter, and one backward-Euler step of the whole column
// solved by the Thomas algorithm, optionally with the heat carried by
// infiltrating water (upwind).
//
// Arrays are indexed by layer 1..n; heat fluxes G and water fluxes q also
// have index 0 (the surface), both positive upward.
#pragma once

#include <vector>

struct soil_entry;

constexpr double AIR_CONDUCTIVITY = 0.0262;        // [W m-1 K-1]
constexpr double WATER_HEAT_CAPACITY = 4187000.0;  // [J m-3 K-1]

// Saturated-conductivity factors of one layer: F_dry = lambda_dry^(1 -
// theta_s), F_w = lambda_w^theta_s.
struct ConductivityFactors {
  double dry = -1;    // [-]
  double water = -1;  // [-]
};

// Factors of layers 1..n of a soil type (out[1..n]); computed per soil type
// and layer before the parallel cell loop, so no layer takes another's and no
// thread fills them while others read.
void conductivity_factors(const soil_entry& soil, int layers, double lambda_water,
                          ConductivityFactors* out) noexcept;

// The factors of every soil type of a table (entries 1..types; entry 0 the
// header stays empty), indexed [type][layer].
std::vector<std::vector<ConductivityFactors>> conductivity_factor_table(
    const std::vector<soil_entry>& table, double lambda_water);

// lambda[i] [W m-1 K-1] of layers 1..n from unfrozen fraction and water content.
void thermal_conductivity(const soil_entry& soil, int layers, const ConductivityFactors* factors,
                          const double* unfrozen, const double* theta, double lambda_water,
                          double lambda_ice, double* lambda) noexcept;

// slope[i] (unfrozen-fraction slope [K-1]) becomes the latent-heat capacity
// [J m-3 K-1]: (theta - theta_res) * L * rho_w * slope, 0 at or below theta_res.
void latent_heat(int layers, const double* theta, const double* theta_res, double latent_heat_fusion,
                 double water_density, double* slope) noexcept;

// Conductive fluxes G[0..n] [W m-2]; returns G[n].
double conductive_heat_fluxes(int layers, const double* lambda, const double* d, const double* t,
                              double t_lower, double t_air, double n_factor, double* g) noexcept;

// Temperature change of each layer over dt cut to whole seconds [K].
void heat_flux_divergence(int layers, const double* g, const double* d, const double* heat_capacity,
                          double dt, double* dtemp) noexcept;

// T += dT; with the limiter no layer passes the start temperature of the
// neighbour the heat comes from (t_below for layer n, t_above for layer 1).
void update_temperatures(int layers, double* t, const double* t_ref, const double* dtemp,
                         const double* g, bool limiter, double t_below, double t_above) noexcept;

// The scheme of heat method M: explicit up to 10, implicit from 11, with the
// heat carried by water from 12.
enum class HeatScheme { explicit_limited, implicit, implicit_with_water };
constexpr HeatScheme heat_scheme(int method) noexcept {
  return method <= 10   ? HeatScheme::explicit_limited
         : method == 11 ? HeatScheme::implicit
                        : HeatScheme::implicit_with_water;
}

// One implicit step of the column.
struct ImplicitHeatStep {
  int layers = 0;
  int method = 11;            // M (see heat_scheme)
  double dt = 0;              // [s]
  double n_factor = 1;        // nu [-]
  double t_air = 0;           // [degC]
  double t_lower = 0;         // T_L [degC]
  bool flux_boundary = false; // "HeatFlux_Lower_Boundary_Condition" present
  double lower_flux = 0;      // H [W m-2]
  bool solid_snow = false;    // infiltrating water at 0 degC
};

// Work arrays 1..n (a, b, c, r overwritten); x receives the new temperatures.
// macropore [mm s-1] per layer, q [m s-1] 0..n.
void solve_heat_implicit(const ImplicitHeatStep& step, const double* lambda,
                         const double* heat_capacity, const double* d, const double* t_ref,
                         double* a, double* b, double* c, double* r, double* x,
                         const double* macropore, const double* q) noexcept;
