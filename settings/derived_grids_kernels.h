// Per-cell kernels of the grids the settings object derives at set-up: cell
// sizes from the relative cell area, slope and aspect from central
// differences of the elevation model, the mean of the valid neighbours that
// fills cells without a computed value, and the transition weights between
// regression regions. Pure functions: no grid store, no MPI, no I/O.
#pragma once

#include "modelbase/matrices.h"

// Degrees per radian as the slope and aspect are computed (this digit
// string, not 180/pi to the last digit, fixes the written values).
constexpr double SLOPE_DEGREES_PER_RADIAN = 57.29577951307855;  // [deg rad-1]
// A quarter turn to seven decimals, as in the three-region weights.
constexpr double REGION_QUARTER_TURN = 1.5707963;  // [rad]

struct slope_aspect {
  double slope = 0;   // [deg] 0 flat
  double aspect = 0;  // [deg] direction the slope faces: 0 north, 90 east, 180 south, 270 west
};

// Slope and aspect from the four neighbours (north = row - 1) of a cell of
// size cellsize [m]; elevations in [m].
slope_aspect slope_and_aspect(double z_north, double z_south, double z_west, double z_east,
                              double cellsize) noexcept;

// The mean of the valid (not nodata) values among the eight neighbours of
// (row, col) inside rows 1..nrows and columns 1..ncols, taken in the order
// north-east, east, south-east, south, south-west, west, north-west, north.
// used receives the number of values; the result is nodata without any.
double neighbour_mean(const grid_matrix& grid, int row, int col, int nrows, int ncols,
                      double nodata, int& used) noexcept;

// Cell sizes of one valid cell. Given sizes are kept; a missing one follows
// from the relative cell area (cs^2 * area / the other size), both from it
// when neither is given.
struct cell_size_input {
  bool x_given = false;
  bool y_given = false;
  bool area_given = false;
  double x = 0;     // [m]
  double y = 0;     // [m]
  double area = 0;  // [-] relative cell area
};
enum class cell_size_fault { none, zero_x, zero_y, area_mismatch };
// Fills the missing values of cell; cellsize [m]. A relative area that is
// created while exactly one size is given follows from that size and the
// nominal size of the other direction.
cell_size_fault complete_cell_sizes(cell_size_input& cell, double cellsize) noexcept;

// The transition distance [m] the region weights use: 0.01 for a distance
// that is not above 0, the grid's diagonal (cellsize * sqrt(nrows^2 +
// ncols^2)) for one beyond it, which reaches every cell already and keeps
// the search over the cells of a grid bounded.
constexpr double MIN_TRANSITION_DISTANCE = 0.01;  // [m]
double limited_transition_distance(double distance, double cellsize, int nrows, int ncols) noexcept;

// Weights of the two nearest regions from the distance [cells] to the
// nearest cell of the other region (w1 holds it on entry): w = w1/(2 Dc) +
// 0.5, limited to 0.5 .. 1; w2 = 1 - w1.
void two_region_weights(double dc, double& w1, double& w2) noexcept;
// Weights of three regions; d2, d3 [cells] are the distances to the nearest
// cells of the second and third region, w1 the limited two-region weight on
// entry.
void three_region_weights(double dc, double d2, double d3, double& w1, double& w2,
                          double& w3) noexcept;
