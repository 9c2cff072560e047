// Per-point primitives of the meteorological interpolator: inverse-distance
// weighting (isotropic and in the rotated anisotropy frame), the nearest
// station (Thiessen polygons, also moved along a lapse rate with an
// inversion), the bilinear value between four look-up stations, the value of
// an elevation regression, and the station search in a box. Pure functions
// over plain 1-based arrays of the current record: no grid store, no I/O, so
// the cell loop may call them from any thread with its own weights buffer.
#pragma once

#include <array>

// The current values of one station file; all arrays index stations 1..n.
struct station_view {
  int n = 0;
  const double *v = nullptr; // values, invalid below -nodata
  const double *x = nullptr; // [m] plain or rotated, as the primitive needs
  const double *y = nullptr; // [m]
  const double *z = nullptr; // [m] elevations
};

struct idw_settings {
  double nodata = 0;       // N: a value is valid when not below -N
  int weight_code = 2000;  // floor(1000 p)
  double power = 2;        // p [-]
  double max_distance = 0; // [m], or [m2] when weight_code is 2000
  double ratio = 1;        // anisotropy b/a [-]
};

// The invalid marker -N - 1.
inline double invalid_marker(double nodata) { return -nodata - 1; }

// Weighted mean of the valid stations within the maximum distance, or the
// invalid marker. weights[1..n] is overwritten.
double idw(const station_view &s, double *weights, double x, double y,
           const idw_settings &p);
// The same in the rotated frame; distances along the main axis count ratio
// times their length. s holds the rotated coordinates.
double idw_anisotropic(const station_view &s, double *weights, double xr,
                       double yr, const idw_settings &p);
// Value of the nearest valid station (of equally near ones the later), or
// the invalid marker. distances[1..n] receives the squared distances.
double thiessen(const station_view &s, double *distances, double x, double y,
                double nodata);

struct lapse_settings {
  double lapse_rate = 0;                 // Gamma [unit m-1]
  double inversion_height = -9999;       // h [m], not above -9998: none
  double fixed_upper_lapse_rate = -9999; // Gamma_u [unit m-1]
  int p_type = 0; // 1: a station value of exactly 0 stays 0
};
// Nearest valid station (of equally near ones the earlier) moved to the
// elevation z along the lapse rate(s), or the invalid marker.
double thiessen_with_gradient(const station_view &s, double x, double y,
                              double z, const lapse_settings &l, double nodata);

// Look-up stations of a cell: upper right, upper left, lower left, lower
// right (0: none).
using lookup_corners = std::array<int, 4>;
// Bilinear value between the four corner stations (s holds the rotated
// coordinates), or the anisotropic IDW value when the corners do not span a
// rectangle or one of them is missing or invalid.
double bilinear(const station_view &s, const lookup_corners &corners,
                double *weights, double xr, double yr, const idw_settings &p);

// a1, b1, zlow, a2, b2, zup, a3, b3, c0, gx, gy at indices 1..11.
using regression_set = std::array<double, 12>;
// Value of the regression at (x, y, z); the horizontal part only when c0 is
// valid and x, y are not the grid nodata value; the invalid marker when a1
// is invalid.
double regression_value(const regression_set &r, double x, double y, double z,
                        double nodata, double grid_nodata);
// Determinant of the 3 x 3 matrix with the columns c1, c2, c3 (elements 1..3).
double determinant3(const std::array<double, 4> &c1,
                    const std::array<double, 4> &c2,
                    const std::array<double, 4> &c3);

// The first station k (in file order) with x0 + dx_lo < x_k < x0 + dx_hi and
// y0 + dy_lo < y_k < y0 + dy_hi, or 0.
int station_in_box(const station_view &s, double x0, double y0, double dx_lo,
                   double dx_hi, double dy_lo, double dy_hi);
