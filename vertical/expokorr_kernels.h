// Per-cell and per-split kernels of the radiation correction: the potential
// direct beam through a clear atmosphere (solar constant 1367 W m-2 and a
// transmissivity of 0.86 per air mass, air mass 0.9 / cos Z), the night share
// of a split, the incidence cosine on an inclined cell capped at five times
// the horizontal one, the temperature modified by the correction factor, and
// the terrain shading walk (rays cast away from the sun over the elevation
// model with integer stepping, after Corripio 2003).
#pragma once

#include <cmath>

constexpr double SOLAR_CONSTANT = 1367;            // [W m-2]
constexpr double CLEAR_SKY_TRANSMISSIVITY = 0.86;  // [-] per air mass
constexpr double AIR_MASS_FACTOR = 0.9;            // [-]
constexpr double MIN_SUN_ELEVATION = 0.017;        // [rad] below it no direct beam
constexpr double INCIDENCE_CAP = 5;                // [-] times cos Z
constexpr double DULL_SUNSHINE = 0.1;              // [-] relative sunshine below: diffuse only
constexpr double SHADED_LOG_FACTOR = 1.6094;       // [-] -ln 0.2
constexpr double WEAK_FACTOR = 0.2;                // [-] factor limit of the log modification

// Potential direct radiation on a surface normal to the beam over the
// daylight part of a split [Wh m-2]; 0 when the sun is below 0.017 rad.
double beam_normal_of(double split_hours, double night_fraction, double zenith_rad,
                      double elevation_rad) noexcept;

struct split_night {
  double before_sunrise = 0;  // [h] u
  double fraction = 0;        // [-] w, the night share of the split
};
// Night share of the split [start, end] of length h for sunrise and sunset
// already in 0..24 [h].
split_night night_share_of_split(double sunrise, double sunset, double start, double end,
                                 double split_hours) noexcept;

// A split counts as night when at most 5 % of it is daylight.
inline bool is_night_split(double night_fraction) noexcept {
  return night_fraction > 0.95 || 1 - night_fraction < 0.05;
}

struct incidence_input {
  double aspect_deg = 0;  // [deg] clockwise from north
  double slope_deg = 0;   // [deg]
  bool shaded = false;
  bool sunshine_known = false;
  double sunshine = 1;  // [-] relative sunshine duration
};
// The cell's incidence cosine for the sun at azimuth and zenith [rad],
// capped at 5 cos Z; cos Z under a dull sky (sunshine < 0.1).
double capped_incidence(const incidence_input& cell, double azimuth, double zenith,
                        double pi) noexcept;

// Temperature modified by the correction factor F [degC]; r the relative
// sunshine duration, horizontal_sum the step's horizontal beam sum.
double corrected_temperature_of(double temperature, double factor, double sunshine, double scaling,
                                double horizontal_sum) noexcept;

struct shading_frame {
  int ncols = 0;
  int last_row = 0;     // rows 1..last_row are walked
  double cellsize = 0;  // [m]
  double nodata = 0;
};

// Casts the rays of one split over the whole grid and writes 0/1 into
// shadow; zone cells with nodata are skipped. Grid types address cells as
// g[row][col] (rows 1..last_row, cols 1..ncols). Rays run in a fixed order so
// a cell crossed by several keeps the last one's verdict.
template <class Grid, class ShadowGrid>
void shading_walk(const shading_frame& f, const Grid& elevation, const Grid& zone,
                  ShadowGrid& shadow, double azimuth, double elevation_angle) {
  const double three_half_pi = 4.7123889803850005;
  const double half_pi = 3.141592653 / 2;
  int dx = 1, dy = 1;
  if (azimuth <= half_pi) {
    dx = 1;
    dy = 1;
  } else if (azimuth <= 3.141592653) {
    dx = 1;
    dy = -1;
  } else if (azimuth <= three_half_pi) {
    dx = -1;
    dy = -1;
  } else {
    dx = -1;
    dy = 1;
  }
  const double cos_a = std::cos(azimuth), sin_a = std::sin(azimuth);
  const bool column_major = std::fabs(cos_a) <= 0.707106781;
  const double drop =
      std::tan(elevation_angle) * std::fabs(f.cellsize / (column_major ? sin_a : cos_a));
  // Integer error-term increments: per step along the main axis.
  const long long n_main = column_major ? f.ncols : f.last_row;
  const long long increment = column_major
                                  ? static_cast<long long>(std::fabs(f.ncols * cos_a / sin_a))
                                  : static_cast<long long>(std::fabs(f.last_row * sin_a / cos_a));
  const int edge_col = dx == 1 ? f.ncols : 1;
  const int edge_row = dy == 1 ? 1 : f.last_row;

  auto ray = [&](int row, int col) {
    double height = elevation[row][col];
    long long error = -(n_main / 2);
    for (;;) {
      if (column_major) {
        col -= dx;
        error += increment;
        if (error >= 0) {
          row += dy;
          error -= n_main;
        }
      } else {
        row += dy;
        error += increment;
        if (error >= 0) {
          col -= dx;
          error -= n_main;
        }
      }
      if (col < 1 || col > f.ncols || row < 1 || row > f.last_row) return;
      height -= drop;
      if (zone[row][col] == f.nodata) continue;
      const double ground = elevation[row][col];
      if (height > ground) {
        shadow[row][col] = 1;
      } else {
        shadow[row][col] = 0;
        height = ground;
      }
    }
  };
  // Rows from the far edge toward the sun-side edge row, one ray each from
  // the sun-side edge column; the sun-side edge row last, far column first.
  if (dy == 1) {
    for (int r = f.last_row; r >= 2; --r) ray(r, edge_col);
  } else {
    for (int r = 1; r <= f.last_row - 1; ++r) ray(r, edge_col);
  }
  if (dx == 1) {
    for (int c = 1; c <= f.ncols; ++c) ray(edge_row, c);
  } else {
    for (int c = f.ncols; c >= 1; --c) ray(edge_row, c);
  }
}
