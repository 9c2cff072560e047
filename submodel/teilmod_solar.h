// Solar geometry of the sub-models: declination and equation of time from a
// simple calendar (no leap day), the sun's elevation and azimuth for a place
// and an hour, the cosine of the angle between two directions, sunrise and
// sunset in the clock time of the reference meridian, and the dark shares of
// a time step. The declination is the cosine approximation
// -23.4 cos((n + 10) 2 pi / 365) and the equation of time is interpolated
// linearly between month-start values; both are close enough for hourly
// radiation and keep the results of earlier runs reproducible.
#pragma once

// pi as the model uses it in its solar geometry.
constexpr double SOLAR_PI = 3.141592653;
constexpr double DEGREES_PER_RADIAN = 57.29577952383886;  // [deg rad-1]
// 365 / (2 pi) [d rad-1]
constexpr double DAYS_PER_RADIAN_OF_YEAR = 58.09155423;
// Full and half turn used by the azimuth [rad].
constexpr double AZIMUTH_FULL_TURN = 6.28318530718;
constexpr double AZIMUTH_SOUTH = 3.14159265359;

// Equation of time on the first day of each month [min]; entry 0 repeats
// December and entry 13 January, so that every month has a successor.
inline constexpr double EQUATION_OF_TIME_MINUTES[14] = {11.3, -3.2, -13.6, -12.6, -4.2,
                                                        2.8,  2.5,  -3.5,  -6.3,  -0.3,
                                                        10,   16.4, 11.3,  -3.2};

// Month lengths of the simple calendar, index 1..12.
inline constexpr int SOLAR_MONTH_DAYS[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Day of the year of the simple calendar.
int solar_day_of_year(int day, int month);

// Declination of the sun [deg].
double declination_degrees(int day, int month);

// Equation of time [h], interpolated from the first day of the month towards
// the first day of the next with table (14 entries, [min]).
double equation_of_time_hours(int day, int month, const double* table);

// Where the basin lies [deg].
struct solar_site {
  double latitude = 0;
  double longitude = 0;
  double reference_meridian = 0;
};

// Elevation above the horizon by day, the depression below it (a positive
// number) at night [deg]; pi is the model's constant.
double sun_elevation_degrees(double declination_deg, double equation_of_time_h,
                             const solar_site& site, double hour, double pi);

struct sun_position {
  double azimuth_unmirrored = 0;  // [rad] acos of the direction cosine
  double azimuth = 0;             // [rad] from north through east
  double elevation = 0;           // [rad] negative below the horizon
};
sun_position sun_azimuth_elevation(double declination_deg, double equation_of_time_h,
                                   const solar_site& site, double hour, double pi);

// Cosine of the angle between two directions given by azimuth and zenith
// [rad].
double incidence_cosine_of(double azimuth1, double zenith1, double azimuth2, double zenith2);

struct sun_hours {
  double sunrise = 0;  // [h] clock time of the reference meridian
  double sunset = 0;
};
// Polar day and polar night both give sunrise 24 and sunset 0.
sun_hours sunrise_sunset_hours(double declination_deg, double equation_of_time_h,
                               const solar_site& site, double pi);

struct daylight_split {
  double daylight_share = 0;
  double night_share = 0;
  double dark_hours_start = 0;  // [h] before sunrise at the start of the step
  double dark_hours_end = 0;    // [h] after sunset at the end of the step
  int night_flag = 0;
};
// Shares of a step ending at end_hour [h] with interval [min] that lie in the
// dark, for sunrise and sunset already within 0..24.
daylight_split split_step_by_daylight(double sunrise, double sunset, double end_hour,
                                      double interval_minutes);
