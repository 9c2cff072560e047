#include "snow/snowmod_setup_kernels.h"

#include <algorithm>

#include "modelbase/gridfile_holes.h"

namespace {
constexpr double MELTING_POINT = 273.16;  // [K]
}  // namespace

double max_deposition_value(double slope_deg, double factor, double max_slope_deg) noexcept {
  if (!(slope_deg < max_slope_deg)) return 0;
  // A slope below 0 (or a nodata value) is no steeper than flat ground.
  return factor * (1 - std::max(slope_deg, 0.0) / max_slope_deg);
}

std::vector<elevation_cell> highest_first(std::vector<elevation_cell> cells) {
  std::stable_sort(
      cells.begin(), cells.end(),
      [](const elevation_cell& a, const elevation_cell& b) { return a.elevation < b.elevation; });
  std::reverse(cells.begin(), cells.end());
  return cells;
}

long fill_temperature_holes(grid_matrix& grid, const grid_matrix& zone, int nrows, int ncols,
                            double nodata) {
  const grid_matrix as_read = grid.clone();
  long holes = 0;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (zone[r][c] == nodata || as_read[r][c] != nodata) continue;
      ++holes;
      double value = MELTING_POINT;
      find_hole_value(as_read, nrows, ncols, r, c, nodata, value);
      grid[r][c] = value;
    }
  return holes;
}
