// Solar geometry kernels of the sub-models: declination, equation of time,
// sun position, incidence, sunrise and sunset, daylight shares of a step.
#include <gtest/gtest.h>

#include <cmath>

#include "submodel/teilmod_solar.h"

namespace {

constexpr double PI_EXACT = 3.14159265358979323846;

TEST(SolarDeclination, FollowsTheCosineApproximation) {
  struct row {
    int day, month;
    double expected;  // [deg] -23.4 cos((n + 10) / 58.09155423), calculator
  } rows[] = {
      {1, 1, -22.981739},   // n = 1
      {21, 6, 23.399133},   // n = 172, near the solstice
      {1, 3, -23.4 * std::cos(70 / 58.09155423)},  // n = 31 + 28 + 1: no leap day
  };
  for (const row& r : rows)
    EXPECT_NEAR(declination_degrees(r.day, r.month), r.expected, 1e-5) << r.day << "." << r.month;
  EXPECT_EQ(solar_day_of_year(31, 12), 365);
}

TEST(SolarEquationOfTime, InterpolatesBetweenMonthStarts) {
  // First of February: the table value of February alone, -13.6 min.
  EXPECT_NEAR(equation_of_time_hours(1, 2, EQUATION_OF_TIME_MINUTES), -13.6 / 60, 1e-12);
  // 16 February: 13/28 of February's value and 15/28 of March's.
  EXPECT_NEAR(equation_of_time_hours(16, 2, EQUATION_OF_TIME_MINUTES),
              13.0 / 28 * (-13.6 / 60) + 15.0 / 28 * (-12.6 / 60), 1e-12);
  // 31 December: 1/31 of December's 11.3 min and 30/31 of the January
  // entry after December (index 13), -3.2 min.
  EXPECT_NEAR(equation_of_time_hours(31, 12, EQUATION_OF_TIME_MINUTES),
              1.0 / 31 * (11.3 / 60) + 30.0 / 31 * (-3.2 / 60), 1e-12);
}

TEST(SolarElevation, NoonOnTheEquatorAndDepressionAtNight) {
  const solar_site equator{0, 0, 0};
  // Sun overhead: x = cos 0 = 1, zenith 0.
  EXPECT_NEAR(sun_elevation_degrees(0, 0, equator, 12, SOLAR_PI), 90, 1e-6);
  // One hour after sunset (18 h): hour angle -105 deg, zenith 105: a
  // depression of 15 deg, reported as a positive number.
  EXPECT_NEAR(sun_elevation_degrees(0, 0, equator, 19, SOLAR_PI), 15, 1e-6);
  // The site's longitude east of the reference meridian makes solar time
  // run ahead: 15 deg east, 11 h clock time is solar noon.
  const solar_site east{0, 15, 0};
  EXPECT_NEAR(sun_elevation_degrees(0, 0, east, 11, SOLAR_PI), 90, 1e-6);
  // Latitude 45, declination 0, noon: elevation 90 - 45.
  const solar_site mid{45, 0, 0};
  EXPECT_NEAR(sun_elevation_degrees(0, 0, mid, 12, SOLAR_PI), 45, 1e-6);
  // Latitude equal to a declination of 20 at noon: overhead; rounding may put
  // the cosine just above 1 and must not give NaN.
  const solar_site tropic{20, 0, 0};
  EXPECT_NEAR(sun_elevation_degrees(20, 0, tropic, 12, SOLAR_PI), 90, 1e-4);
}

TEST(SolarAzimuth, EastInTheMorningWestInTheAfternoonSouthAtNoon) {
  const solar_site equator{0, 0, 0};
  // Equator, declination 0, 9 h: hour angle pi/4, y = 0: azimuth pi/2 (east),
  // elevation pi/2 - acos(cos(pi/4)) = pi/4.
  sun_position morning = sun_azimuth_elevation(0, 0, equator, 9, SOLAR_PI);
  EXPECT_NEAR(morning.azimuth, PI_EXACT / 2, 1e-8);
  EXPECT_NEAR(morning.azimuth_unmirrored, PI_EXACT / 2, 1e-8);
  EXPECT_NEAR(morning.elevation, PI_EXACT / 4, 1e-8);
  // 15 h: the same cosine, mirrored to 2 pi - pi/2 (west); the unmirrored
  // value stays pi/2.
  sun_position afternoon = sun_azimuth_elevation(0, 0, equator, 15, SOLAR_PI);
  EXPECT_NEAR(afternoon.azimuth, 6.28318530718 - PI_EXACT / 2, 1e-8);
  EXPECT_NEAR(afternoon.azimuth_unmirrored, PI_EXACT / 2, 1e-8);
  // Latitude 45 at noon: y = -1 exactly, outside (-1, 1): due south.
  const solar_site mid{45, 0, 0};
  EXPECT_DOUBLE_EQ(sun_azimuth_elevation(0, 0, mid, 12, SOLAR_PI).azimuth, 3.14159265359);
  // Solar time wraps: a site 180 deg east at 0 h is at solar 12 h.
  const solar_site far_east{0, 180, 0};
  EXPECT_NEAR(sun_azimuth_elevation(0, 0, far_east, 0, SOLAR_PI).elevation, PI_EXACT / 2, 1e-6);
}

TEST(SolarIncidence, CosineOfTheAngleBetweenTwoDirections) {
  EXPECT_NEAR(incidence_cosine_of(1.2, 0.7, 1.2, 0.7), 1, 1e-15);  // cos^2 + sin^2
  // A horizontal plane (zenith 0) sees cos z2 whatever the azimuths.
  EXPECT_NEAR(incidence_cosine_of(0.3, 0, 2.9, 1.1), std::cos(1.1), 1e-15);
  // Two horizontal directions opposite in azimuth: -1.
  EXPECT_NEAR(incidence_cosine_of(0, PI_EXACT / 2, PI_EXACT, PI_EXACT / 2), -1, 1e-12);
}

TEST(SolarSunriseSunset, EquatorPolarAndMidLatitude) {
  // Latitude 0: tan 0 = 0 gives 6 and 18 whatever the declination.
  for (double declination : {-23.0, 0.0, 17.0}) {
    const sun_hours h = sunrise_sunset_hours(declination, 0, solar_site{0, 0, 0}, SOLAR_PI);
    EXPECT_DOUBLE_EQ(h.sunrise, 6);
    EXPECT_DOUBLE_EQ(h.sunset, 18);
  }
  // The reference meridian 15 deg east of the site and an equation of time of
  // 0.25 h move both by 1 - 0.25 h.
  const sun_hours shifted = sunrise_sunset_hours(0, 0.25, solar_site{0, 0, 15}, SOLAR_PI);
  EXPECT_DOUBLE_EQ(shifted.sunrise, 6.75);
  EXPECT_DOUBLE_EQ(shifted.sunset, 18.75);
  // Latitude 80: |tan 80 tan 23| > 1 in summer and winter alike: 24 and 0,
  // without the meridian correction.
  for (double declination : {23.0, -23.0}) {
    const sun_hours h = sunrise_sunset_hours(declination, 0.1, solar_site{80, 7, 15}, SOLAR_PI);
    EXPECT_DOUBLE_EQ(h.sunrise, 24);
    EXPECT_DOUBLE_EQ(h.sunset, 0);
  }
  // Latitude 45, declination 20: x = tan 45 tan 20 = 0.363970; sunrise =
  // 12 / pi acos(0.363970) = 12 / pi * 1.198269 = 4.57705 h (summer: early).
  const sun_hours summer = sunrise_sunset_hours(20, 0, solar_site{45, 0, 0}, SOLAR_PI);
  EXPECT_NEAR(summer.sunrise, 4.57705, 1e-5);
  EXPECT_NEAR(summer.sunset, 24 - 4.57705, 1e-5);
}

TEST(SolarDaylight, SharesOfAStep) {
  struct row {
    const char* what;
    double sunrise, sunset, end_hour, interval;
    double start, end, night, daylight;
    int flag;
  } rows[] = {
      // Daily step to 24 h: 6 dark hours before sunrise, 6 after sunset.
      {"daily", 6, 18, 24, 1440, 6, 6, 0.5, 0.5, 0},
      // Hourly step 2..3 h: wholly dark.
      {"night hour", 6, 18, 3, 60, 0, 1, 1, 0, 1},
      // Hourly step 11..12 h: wholly light.
      {"noon hour", 6, 18, 12, 60, 0, 0, 0, 1, 0},
      // Step 6..7 h with sunrise 6.25: a quarter dark.
      {"sunrise hour", 6.25, 18, 7, 60, 0.25, 0, 0.25, 0.75, 0},
      // Step 18..19 h with sunset 18.5: half dark at its end.
      {"sunset hour", 6, 18.5, 19, 60, 0, 0.5, 0.5, 0.5, 0},
      // Sunrise 6.97 in step 6..7: 0.97 dark, above 0.95: night.
      {"almost dark", 6.97, 18, 7, 60, 0.97, 0, 1, 0, 1},
      // Sunrise 6.94: 0.94 dark is not yet night (daylight 0.06 >= 0.05).
      {"dusk", 6.94, 18, 7, 60, 0.94, 0, 0.94, 1 - 0.94, 0},
      // Sunset before sunrise on the clock: a step between sunset and
      // sunrise is dark, a step before the sunset hour is light.
      {"shifted clock", 20, 4, 12, 60, 0, 1, 1, 0, 1},
      {"shifted clock early", 20, 4, 3, 60, 0, 0, 0, 1, 0},
      // Polar day and night alike: sunrise and sunset both 0 after the
      // modulo, no dark hours.
      {"polar", 0, 0, 12, 60, 0, 0, 0, 1, 0},
  };
  for (const row& r : rows) {
    const daylight_split d = split_step_by_daylight(r.sunrise, r.sunset, r.end_hour, r.interval);
    EXPECT_NEAR(d.dark_hours_start, r.start, 1e-12) << r.what;
    EXPECT_NEAR(d.dark_hours_end, r.end, 1e-12) << r.what;
    EXPECT_NEAR(d.night_share, r.night, 1e-12) << r.what;
    EXPECT_NEAR(d.daylight_share, r.daylight, 1e-12) << r.what;
    EXPECT_EQ(d.night_flag, r.flag) << r.what;
  }
}

TEST(SolarDaylight, StepsLongerThanADayAndShareAboveOne) {
  // A two-day step (2880 min) starts 24 h before its end and divides by 24.
  const daylight_split d = split_step_by_daylight(6, 18, 24, 2880);
  // start: S = 0 <= 6 < 24: 6; end: 18 < 24: 24 - 18 = 6; (6 + 6) / 24.
  EXPECT_NEAR(d.night_share, 0.5, 1e-12);
  // A step in which the whole interval counts dark at the end and sunrise
  // adds more: the share above 1 is reduced by 1. Step 5..7 h (120 min),
  // sunrise 6, sunset 5.5 on the clock: start 1, end 7 - 5.5 = 1.5; 2.5 / 2
  // = 1.25 -> 0.25.
  const daylight_split over = split_step_by_daylight(6, 5.5, 7, 120);
  EXPECT_NEAR(over.night_share, 0.25, 1e-12);
}

}  // namespace
