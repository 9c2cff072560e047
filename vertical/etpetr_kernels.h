// Per-cell kernels of potential evapotranspiration: the saturation vapour
// pressure (Magnus form), the barometric air pressure, the slope of the
// saturation curve over the psychrometric constant, the aerodynamic and
// canopy resistances of the Penman-Monteith layers, and the one-line
// methods of Hamon (0.1651 PEC (D/12) rho_sat, Lu et al. 2005), Wendling
// (1995) and Haude (DVWK 1996). Pressures in hPa, temperatures in degC,
// resistances in s m-1, evapotranspiration in mm per step.
#pragma once

// Saturation vapour pressure over water [hPa]: 6.1078 exp(17.269 T / (237.3 +
// T)).
double saturation_vapor_pressure_of(double temperature) noexcept;

// Real roots of x^2 + p x + q = 0: the count (0, 1 or 2); x1 <= x2, both 0
// without a real root.
int solve_quadratic_of(double& x1, double& x2, double p, double q) noexcept;

// Air pressure at elevation [m] and temperature [degC] [hPa].
double air_pressure_of(double elevation, double temperature) noexcept;

// Slope of the saturation curve [hPa K-1].
double saturation_slope_of(double temperature) noexcept;

// Slope over the psychrometric constant [-] at pressure [hPa].
double slope_over_psychrometric(double temperature, double pressure) noexcept;

// Aerodynamic resistance of the top layer [s m-1] from the roughness length
// [m] and the wind speed [m s-1].
double aerodynamic_resistance_top(double z0, double wind) noexcept;

// Canopy resistance [s m-1] of a layer by day or night.
double canopy_resistance_of(double lai, double coverage, double rc, bool day) noexcept;

// Hamon: pec the month's interpolated factor [-], daylight share [-].
double hamon_etp(double temperature, double pec, double daylight_share) noexcept;

// Wendling: corrected radiation [Wh m-2], albedo [-], fk [-].
double wendling_etp(double radiation, double albedo, double fk, double temperature) noexcept;

// Haude's saturation vapour pressure [hPa] at the 14 h temperature.
double haude_saturation_pressure(double temperature14) noexcept;
// Haude: fh the month's factor [mm hPa-1], deficit 1 - RH [-]; cut to 0..7.
double haude_etp(double temperature14, double fh, double deficit) noexcept;
// The deficit from vapour pressure e [hPa] without a humidity grid.
double haude_deficit_from_vapor_pressure(double vapor_pressure, double temperature14) noexcept;

// Cloudiness [-] from the radiation ratio x.
double cloudiness_of(double ratio) noexcept;
