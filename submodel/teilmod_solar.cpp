#include "submodel/teilmod_solar.h"

#include <algorithm>
#include <cmath>

int solar_day_of_year(int day, int month) {
  int n = day;
  for (int m = 1; m < month && m <= 12; ++m) n += SOLAR_MONTH_DAYS[m];
  return n;
}

double declination_degrees(int day, int month) {
  const double n = solar_day_of_year(day, month);
  return -23.4 * std::cos((n + 10) / DAYS_PER_RADIAN_OF_YEAR);
}

double equation_of_time_hours(int day, int month, const double* table) {
  const double length = SOLAR_MONTH_DAYS[month];
  return ((length - day + 1) / length) * table[month] / 60 +
         ((day - 1) / length) * table[month + 1] / 60;
}

namespace {

// acos of a cosine that rounding may have pushed just outside [-1, 1].
double acos_clamped(double x) {
  if (x > 1) return 0;
  if (x < -1) return std::acos(-1.0);
  return std::acos(x);
}

}  // namespace

double sun_elevation_degrees(double declination_deg, double equation_of_time_h,
                             const solar_site& site, double hour, double pi) {
  const double to_rad = pi / 180;
  const double solar_time = hour - (site.reference_meridian - site.longitude) / 15 + equation_of_time_h;
  const double hour_angle = (12 - solar_time) * 15;
  const double phi = site.latitude * to_rad;
  const double delta = declination_deg * to_rad;
  const double x = std::cos(phi) * std::cos(delta) * std::cos(hour_angle * to_rad) +
                   std::sin(phi) * std::sin(delta);
  const double zenith = acos_clamped(x) * 180 / pi;
  return x < 0 ? zenith - 90 : 90 - zenith;
}

sun_position sun_azimuth_elevation(double declination_deg, double equation_of_time_h,
                                   const solar_site& site, double hour, double pi) {
  const double latitude = std::fmod(site.latitude, 360.0);
  const double longitude = std::fmod(site.longitude, 360.0);
  const double solar_time = std::fmod(
      hour + equation_of_time_h - (site.reference_meridian - longitude) / 15 + 24, 24.0);
  const double omega = (12 - solar_time) / 12 * pi;
  const double phi = latitude * pi / 180;
  const double delta = declination_deg * pi / 180;
  const double x = std::cos(phi) * std::cos(delta) * std::cos(omega) +
                   std::sin(phi) * std::sin(delta);
  const double s = std::sqrt(std::max(0.0, 1 - x * x));
  sun_position p;
  p.elevation = pi / 2 - acos_clamped(x);
  double a = AZIMUTH_SOUTH;
  if (s > 0) {
    const double y =
        (std::cos(phi) * std::sin(delta) - std::cos(omega) * std::cos(delta) * std::sin(phi)) / s;
    if (y > -1 && y < 1) a = std::acos(y);
  }
  p.azimuth_unmirrored = a;
  p.azimuth = solar_time > 12 ? AZIMUTH_FULL_TURN - a : a;
  return p;
}

double incidence_cosine_of(double azimuth1, double zenith1, double azimuth2, double zenith2) {
  return std::cos(azimuth2 - azimuth1) * std::sin(zenith1) * std::sin(zenith2) +
         std::cos(zenith1) * std::cos(zenith2);
}

sun_hours sunrise_sunset_hours(double declination_deg, double equation_of_time_h,
                               const solar_site& site, double pi) {
  const double latitude = std::fmod(site.latitude, 360.0);
  const double longitude = std::fmod(site.longitude, 360.0);
  const double x = std::tan(latitude * pi / 180) * std::tan(declination_deg * pi / 180);
  sun_hours h;
  if (std::fabs(x) > 1) {
    h.sunrise = 24;
    h.sunset = 0;
    return h;
  }
  if (x == 0) {
    h.sunrise = 6;
    h.sunset = 18;
  } else {
    h.sunrise = 12 / pi * std::acos(x);
    h.sunset = 24 - h.sunrise;
  }
  const double shift = (site.reference_meridian - longitude) / 15 - equation_of_time_h;
  h.sunrise += shift;
  h.sunset += shift;
  return h;
}

daylight_split split_step_by_daylight(double sunrise, double sunset, double end_hour,
                                      double interval_minutes) {
  const double step_hours = interval_minutes / 60;
  const double e = end_hour;
  const double s = interval_minutes <= 1440 ? e - step_hours : e - 24;
  const double r = sunrise;
  const double t = sunset;
  daylight_split d;
  d.dark_hours_start = (s <= r && r < e) ? r - s : 0;
  if (t > r) {
    if (r < e && e < t)
      d.dark_hours_end = 0;
    else if (s < t && t < e)
      d.dark_hours_end = e - t;
    else
      d.dark_hours_end = step_hours;
  } else {
    if (e < t)
      d.dark_hours_end = 0;
    else if (s < t)
      d.dark_hours_end = e - t;
    else if (e < r)
      d.dark_hours_end = step_hours;
    else
      d.dark_hours_end = 0;
  }
  const double divisor = interval_minutes > 1440 ? 24 : step_hours;
  double night = (d.dark_hours_start + d.dark_hours_end) / divisor;
  if (night > 1) night -= 1;
  if (night > 0.95) {
    d.night_share = 1;
    d.daylight_share = 0;
    d.night_flag = 1;
  } else {
    d.night_share = night;
    d.daylight_share = 1 - night;
    d.night_flag = d.daylight_share < 0.05 ? 1 : 0;
  }
  return d;
}
