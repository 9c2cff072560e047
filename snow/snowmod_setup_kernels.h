// Set-up values of the snow module: the deposition capacity of a cell from
// its slope and the order in which the slides visit the cells (highest
// first), and the holes of pack and surface temperature grids read from
// files.
#pragma once

#include <vector>

#include "modelbase/matrices.h"

struct elevation_cell {
  int row = 0;
  int col = 0;
  double elevation = 0;  // [m]
};

// [-] factor * (1 - slope / max_slope), 0 from max_slope on: a steeper cell
// deposits nothing, never a negative amount, and a max_slope of 0 deposits
// nowhere.
double max_deposition_value(double slope_deg, double factor, double max_slope_deg) noexcept;

// cells in row-major order; returns them highest first, cells of equal
// elevation the later in row-major order first (a stable ascending sort
// walked from its end).
std::vector<elevation_cell> highest_first(std::vector<elevation_cell> cells);

// Cells of rows and columns 1..nrows, 1..ncols (all held) that hold nodata
// where zone has data take the first valid value in widening rings around
// them in the grid as read, or the melting point 273.16 [K] where there is
// none. Returns the number of holes.
long fill_temperature_holes(grid_matrix& grid, const grid_matrix& zone, int nrows, int ncols,
                            double nodata);
