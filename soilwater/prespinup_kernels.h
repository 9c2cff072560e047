// Soil temperatures from one pass over the air temperature, before a SpinUp:
// degree-days per day, the mean annual temperature at the top of the
// permafrost (TTOP, Smith & Riseborough 2002) at the layer where the column
// reaches 1 m, from the freezing and thawing degree-days, the surface
// n-factors and the thermal conductivities of the soil with ice or water in
// its pores, and the temperature profile of a column from TTOP, the mean air
// temperature and the lower-boundary heat flux.
#pragma once

constexpr double TTOP_DEPTH = 1.0;                // [m] where the column's TTOP is taken
constexpr double DEFAULT_LOWER_HEAT_FLUX = 0.06;  // [W m-2] without a heat-flux grid
constexpr double AIR_PORE_CONDUCTIVITY = 0.0262;  // [W m-1 K-1] air in the empty pores
constexpr double TTOP_MINUTES_PER_YEAR = 525600;  // [min] a year of 365 days
constexpr double TTOP_DAYS_PER_YEAR = 365;        // [d]
constexpr double MISSING_N_FACTOR = -9999;        // land-use n-factors below: not given

// One column at the end of the pass; arrays by layer 1..layers (z 0..layers,
// element 0 the soil surface).
struct PreSpinupColumn {
  int layers = 0;                            // L
  const double* thickness = nullptr;         // [m] d_l
  const double* theta_sat = nullptr;         // [m3 m-3]
  const double* dry_conductivity = nullptr;  // [W m-1 K-1] of the dry soil
  const double* theta = nullptr;             // [m3 m-3] water content
  const double* z = nullptr;                 // [m] geodetic heights, 0..L
};

// What the pass gathered for the column, and its surface and boundary.
struct PreSpinupClimate {
  double freezing_degree_days = 0;             // [K d]
  double thawing_degree_days = 0;              // [K d]
  double mean_air_temperature = 0;             // [degC] T_a
  double years = 0;                            // [a] length of the pass, x
  double n_freezing = 1;                       // [-] surface n-factor of freezing
  double n_thawing = 1;                        // [-] surface n-factor of thawing
  double heat_flux = DEFAULT_LOWER_HEAT_FLUX;  // [W m-2] q at the lower boundary
};

struct PorewaterConductivity {
  double water = 0.5562;  // [W m-1 K-1] dTModLamWat
  double ice = 2.33;      // [W m-1 K-1] dTModLamIce
};

// Ends a day of a cell: daily_sum / steps is the day's mean B; B >= 0 adds B
// to the thawing, B < 0 adds -B to the freezing degree-days; the sum of
// the day starts again from 0.
void close_degree_day(double& daily_sum, int steps, double& freezing, double& thawing) noexcept;

// A land-use n-factor, or the section's fallback when the class has none.
double n_factor_or(double class_value, double fallback) noexcept;

// Geometric-mean conductivity of a layer with pore water of conductivity
// lambda_x, plus the air of the empty pores [W m-1 K-1].
double pre_spinup_conductivity(double theta_sat, double theta, double dry_conductivity,
                               double lambda_x) noexcept;

// k: the layers from the top whose thicknesses first sum to 1 m or more;
// L for a shorter column.
int ttop_layer(int layers, const double* thickness) noexcept;
// m: the layer whose conductivities stand for the column above k.
int ttop_conductivity_layer(int k) noexcept;

// TTOP [degC]: (n_t k_t TDD - n_f k_f FDD) / (k_f x 365).
double ttop_temperature(const PreSpinupClimate& climate, double k_thawed, double k_frozen) noexcept;

// Sets t[0..L] of a column from its TTOP (returned). Below 0: t_k = TTOP,
// deeper layers follow the heat flux with the conductivity of the layer
// (ice while the layer above is at or below 0), the layers above k lie on
// the line from T_a at the surface height to TTOP at the height of layer k.
// Otherwise t_1 = T_a and the deeper layers follow the heat flux through
// unfrozen soil; t[0] keeps its value.
double pre_spinup_profile(const PreSpinupColumn& column, const PreSpinupClimate& climate,
                          const PorewaterConductivity& lambda, double* t) noexcept;
