#include "modelbase/gridfile_holes.h"

#include <algorithm>
#include <cstddef>

bool find_hole_value(const grid_matrix& grid, int nrows, int ncols, int row, int col, double nodata,
                     double& value) {
  for (int k = 1; k <= HOLE_SEARCH_RINGS; ++k) {
    // Not a square ring: a triangle that widens downwards.
    for (int j = 0; j <= 2 * k; ++j) {
      const int r = row - k + j;
      if (r < 1 || r > nrows) continue;
      const double* cells = grid[r];
      for (int c = col - j; c <= col + j; ++c) {
        if (c < 1 || c > ncols) continue;
        if (cells[c] != nodata) {
          value = cells[c];
          return true;
        }
      }
    }
  }
  return false;
}

void replace_file_nodata(grid_matrix& grid, int first, int last, int ncols, double file_nodata,
                         double model_nodata) {
  if (file_nodata == model_nodata) return;
  for (int r = first; r <= last; ++r) {
    double* cells = grid[r];
    for (int c = 1; c <= ncols; ++c)
      if (cells[c] == file_nodata) cells[c] = model_nodata;
  }
}

hole_fill_result fill_grid_holes(grid_matrix& grid, int nrows, int ncols, const grid_matrix* zone,
                                 const hole_fill_params& p) {
  hole_fill_result result;
  const size_t width = static_cast<size_t>(ncols) + 1;
  std::vector<double> work(static_cast<size_t>(nrows + 1) * width, p.model_nodata);
  for (int r = 1; r <= nrows; ++r)
    std::copy(grid[r] + 1, grid[r] + ncols + 1, work.data() + static_cast<size_t>(r) * width + 1);
  const bool search = p.fill_mode == 1 && p.report_holes;
  for (int r = 1; r <= nrows; ++r) {
    const double* cells = grid[r];
    const double* zone_cells = zone != nullptr && r < zone->pointer_count() ? (*zone)[r] : nullptr;
    double* out = work.data() + static_cast<size_t>(r) * width;
    for (int c = 1; c <= ncols; ++c) {
      const bool zone_data = zone_cells != nullptr && zone_cells[c] != p.model_nodata;
      if (!zone_data) {
        out[c] = p.model_nodata;
        continue;
      }
      if (cells[c] != p.model_nodata) continue;
      ++result.count;
      if (!search) {
        out[c] = p.fill_value;
        continue;
      }
      double value = 0;
      if (!find_hole_value(grid, nrows, ncols, r, c, p.model_nodata, value)) {
        result.too_big = true;
        result.big_row = r;
        result.big_col = c;
        return result;
      }
      out[c] = value;
      result.filled.push_back({r, c, cells[c], value});
    }
  }
  if (result.count > 0) {
    for (int r = 1; r <= nrows; ++r) {
      double* cells = grid[r];
      const double* in = work.data() + static_cast<size_t>(r) * width;
      for (int c = 1; c <= ncols; ++c) cells[c] = in[c];
    }
  }
  return result;
}
