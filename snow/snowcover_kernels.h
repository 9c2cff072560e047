// Snow cover of one cell part: the rain/snow split of the water input, the
// accumulation, the melt by degree-day, temperature-wind, radiation or
// rain-on-snow rules and the energy balance of the pack with its surface and pack temperatures,
// sublimation and refreezing, the liquid water the pack holds and releases,
// snow age and albedo, permafrost thaw depth and the tracers the snow
// carries. Water amounts in mm water equivalent, temperatures in degC unless
// marked [K].
#pragma once

constexpr double SNOW_MELTING_POINT = 273.16;        // [K]
constexpr double SNOW_MISSING = -9999;               // the model's missing value
constexpr double LATENT_HEAT_FUSION = 337500;        // [J kg-1]
constexpr double LATENT_HEAT_SUBLIMATION = 2835500;  // [J kg-1]
constexpr double HEAT_CAPACITY_ICE = 2100;           // [J kg-1 K-1]
constexpr double HEAT_CAPACITY_WATER = 4180;         // [J kg-1 K-1]
constexpr double STEFAN_BOLTZMANN = 5.67e-8;         // [W m-2 K-4]

// Day number of the seasonal sine law: d in January, d + (m - 1) * (length of
// month m) otherwise (month_days[1..12]).
int seasonal_day_number(int day, int month, const int month_days[13]) noexcept;
// mean + amplitude * sin((n - 80) * 0.017214206).
double seasonal_factor(double mean, double amplitude, int day, int month,
                       const int month_days[13]) noexcept;

// [hPa] over water, 6.1078 exp(17.08085 T / (T + 234.175)).
double water_vapor_pressure(double t_c) noexcept;
// [hPa] over ice, the Magnus form 6.1071 exp(22.4429 T / (T + 272.44)).
double ice_vapor_pressure(double t_c) noexcept;
// [hPa] 6.1078 exp(21.874 T / (265.5 + T)): the vapour pressure of the
// rain-on-snow rule of method 3.
double ice_saturation_pressure(double t_c) noexcept;
// [hPa] air pressure of the standard atmosphere at elevation z [m].
double standard_pressure(double elevation_m) noexcept;

// Terms of the pack's energy balance [W m-2]. f(u) = 0.18 + 0.098 u.
double wind_function(double wind) noexcept;
// LW_in at air temperature air_k [K] with air vapour pressure e_a [hPa]; the
// cloud coefficient is 0.24 with precipitation, else 0.08, 0.17 or 0.2 by
// cloudiness.
double incoming_longwave(double LWINcorr, double air_k, double e_a, double cloudiness,
                         bool precipitation) noexcept;
// H = 18.85 f(u) (T_K - X).
double sensible_heat(double wind, double air_k, double surface_k) noexcept;
// Q_L = 32.82 f(u) (e_a - e_i(X)).
double latent_heat(double wind, double e_a, double surface_k) noexcept;

// [-] share of the input falling as snow: 1 up to T0R - transzone, 0 above
// T0R + transzone, linear between (a transzone of 0 splits at T0R).
double snow_share(double t_c, double T0R, double transzone) noexcept;
// [-] albedo of snow of age_days: min + (max - min) exp(-k age), k 0.05 d-1
// above 0 degC, 0.12 d-1 otherwise.
double snow_albedo(double albedo_min, double albedo_max, double age_days, double t_c) noexcept;

struct snow_cover_params {
  int method = 1;             // 1..14
  double T0R = 0;             // [degC]
  double transzone = 0;       // [K]
  double T0 = 0;              // [degC]
  double CWH = 0;             // [-]
  double CRFR = 0;            // [-]
  double C0 = 0;              // [mm degC-1 d-1]
  double C1 = 0;              // [mm degC-1 d-1]
  double C2 = 0;              // [mm degC-1 d-1 (m s-1)-1]
  double LWINcorr = 1;        // [-]
  double LWOUTcorr = 1;       // [-]
  double EnBalScaling = 1;    // [-]
  double interval_min = 60;   // [min] step length
  double steps_per_day = 24;  // [-]
};

// What the cell's grids give one call.
struct snow_forcing {
  double input = 0;           // [mm] P; raised in place by the deposition index
  double t_c = 0;             // [degC] the call's temperature
  double wind = 0;            // [m s-1]
  double humidity = 0;        // [-]
  double cloudiness = 0;      // [-]
  double vapor_pressure = 0;  // [hPa] of the grid (method 4)
  double radiation = 0;       // [Wh m-2 per step]
  bool has_correction = false;
  double correction = 1;        // [-] radiation correction factor
  double elevation = 0;         // [m]
  double albedo = 0;            // [-]
  double deposition_index = 0;  // [-]
  bool has_surface_temperature = false;
  double surface_temperature = 0;  // [K], or [degC] below 100
  bool lake = false;               // lake cell holding water: all rain
  double rmf = 0;                  // [mm degC-1 d-1] seasonal radiation melt factor
};

// One cell part's storages and energy-balance values.
struct snow_part {
  double solid = 0;                // [mm] S
  double liquid = 0;               // [mm] L
  double total = 0;                // [mm] W
  double pack_temperature = 0;     // [K] or missing
  double surface_temperature = 0;  // [K] or missing
  double sublimation = 0;          // [mm] of the last call
};

// The step's snow and rain of the fraction grids [mm].
struct snow_fractions {
  double snow = 0;
  double rain = 0;
};

struct snow_call_result {
  double melt = 0;         // [mm] potential melt, times the share w
  double added = 0;        // [mm] water the call added to the storages
  double sublimation = 0;  // [mm] water the call removed as vapour (negative: deposited)
  double snow_share = 0;   // [-] f
};

// One call for the share w of the step (1, or the night or day share).
// keep_partition: the fractions already hold the step's split and are taken
// as they are.
snow_call_result update_snow_cover(const snow_cover_params& p, snow_forcing& in, snow_part& part,
                                   snow_fractions& fractions, double w, bool keep_partition);

// Moves the potential melt into the liquid storage and releases what the
// pack cannot hold; returns the outflow [mm]. moved gets the melt moved:
// at most the solid storage, none for a negative melt.
double release_liquid(double CWH, double melt, snow_part& part, double& moved) noexcept;

struct snow_step_result {
  double outflow = 0;      // [mm]
  double melt_moved = 0;   // [mm]
  double added = 0;        // [mm] sum of the calls
  double sublimation = 0;  // [mm] sum of the calls
};

// The calls of one step for one cell part without glaciers: above 720
// minutes a night call with t_night and the night share and a day call with
// t_day and the day share, else one call with t_day; then the release. The
// fractions end as f P and (1 - f) P with the last call's f and the input as
// it stands.
// keep_partition: the calls take the fractions as they stand (the glacier
// part of a cell, after its own part split the input) and leave them so.
// final_split false: the fractions keep the last call's split.
snow_step_result snow_part_step(const snow_cover_params& p, snow_forcing& in, double t_day,
                                double t_night, double night_share, snow_part& part,
                                snow_fractions& fractions, bool keep_partition = false,
                                bool final_split = true);

struct snow_tail_state {
  double days_snow = 0;  // [d]
  double age = 0;        // [d]
  double albedo = 0;     // [-]
};

// End of a cell's step: snow days, age and albedo from the final total W.
// W of 5 mm and less counts as snow-free.
void snow_tail(const snow_cover_params& p, double albedo_min, double albedo_max, double t_c,
               double input, double total, double landuse_albedo, snow_tail_state& s) noexcept;

struct permafrost_params {
  double max_swe_snow_free = 0;      // [mm]
  double min_snow_age_refreeze = 0;  // [d]
};
struct permafrost_cell {
  double cover_days = 0;  // [d]
  double free_days = 0;   // [d]
  double thaw_depth = 0;  // [m]
  double root_depth = 0;  // [m]
};
void permafrost_tail(const permafrost_params& p, double total, double steps_per_day,
                     double thaw_coefficient, permafrost_cell& c) noexcept;

// Tracer of a snow cell: input of P at concentration c_in, and release with
// the outflow. An evaporating tracer is held as a concentration, any other
// as a mass.
double tracer_after_input(bool evaporating, double stored, double c_in, double snow_water,
                          double input) noexcept;
// Returns the outflow concentration; stored loses what leaves.
double tracer_release(bool evaporating, double& stored, double outflow, double liquid, double solid,
                      double max_concentration) noexcept;

// Glacier cells. Glacier methods 1, 2 static ("ice_firn" codes 1 ice, 2
// firn), 11, 12, 13 dynamic (firn layers); 2, 12, 13 add radiation.
struct glacier_melt_params {
  int method = 1;
  double T0 = 0;                                // [degC]
  double steps_per_day = 24;                    // [-]
  double DDFice = 0, DDFfirn = 0, DDFsnow = 0;  // [mm degC-1 d-1]
  double MF = 0;                                // [mm degC-1 d-1]
  double debris_scaling = 1;                    // [-] D
};

// [mm] potential melt of the snow on a glacier cell (methods 1, 2, 11, 12)
// when it is warm and the part held snow at the end of the last step.
double glacier_snow_melt(const glacier_melt_params& p, double t_c, double previous_total,
                         double a_snow, double radiation) noexcept;

struct glacier_melt {
  double firn = 0;  // [mm] added to "melt_from_firn"
  double ice = 0;   // [mm] written to "melt_from_ice"
};

// Melt of the glacier surface once its snow is gone (the caller tests T > T0
// and no solid snow left on the glacier part). code: the static surface code
// (1 ice, 2 firn); firn_total: the dynamic cell's firn [mm]; snow_melt: the
// snow melt moved into the glacier part's liquid storage in this step;
// debris: the cell's debris factor (1 without one).
glacier_melt glacier_surface_melt(const glacier_melt_params& p, double t_c, int code,
                                  double firn_total, double snow_melt, double debris, double a_ice,
                                  double a_snow, double radiation) noexcept;

// Takes amount [mm] from the firn layers 1..levels (layer 1 the youngest;
// a missing value counts and becomes 0), sets layers[0] to their sum and
// returns what no layer held (it melts as ice).
double take_from_firn(double* layers, int levels, double amount) noexcept;
