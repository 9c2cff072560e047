// The station mesh of the spline methods 7 and 8: at set-up the stations of
// the first file are sorted into mesh columns (left to right) and rows (top
// to bottom) in the frame of the rotated coordinates; every step the current
// station values go onto the mesh and the spline surface onto the result grid
// (and, for method 8, the second file's onto the gradient surface).
#include <deque>
#include <iostream>

#include "meteo/meteoint.h"
#include "modelbase/diagstream.h"

namespace {

constexpr int UNEQUAL_MESH_COLUMNS = 70;
constexpr double MESH_TOLERANCE = 0.25;  // [-] of the mean spacing

}  // namespace

void meteointerpol::setup_splines(int file_index) {
  const station_file& f = stations[static_cast<size_t>(file_index)];
  const station_view s = rotated_view(file_index);
  const int n = f.station_count;
  const double dx = average_x, dy = average_y, t = MESH_TOLERANCE;
  std::vector<int> unassigned(static_cast<size_t>(n + 1), 1);
  unassigned[0] = 0;
  std::vector<std::deque<int>> columns;
  while (any_flag_set(unassigned.data(), n) != 0) {
    int start = 0;
    for (int k = 1; k <= n; ++k)
      if (unassigned[static_cast<size_t>(k)] != 0 && (start == 0 || s.x[k] < s.x[start])) start = k;
    std::deque<int> column{start};
    unassigned[static_cast<size_t>(start)] = 0;
    for (int last = start;;) {
      const int k =
          station_in_box(s, s.x[last], s.y[last], -t * dx, t * dx, -(1 + t) * dy, -(1 - t) * dy);
      if (k == 0 || unassigned[static_cast<size_t>(k)] == 0) break;
      unassigned[static_cast<size_t>(k)] = 0;
      column.push_back(k);
      last = k;
    }
    for (int last = start;;) {
      const int k =
          station_in_box(s, s.x[last], s.y[last], -t * dx, t * dx, (1 - t) * dy, (1 + t) * dy);
      if (k == 0 || unassigned[static_cast<size_t>(k)] == 0) break;
      unassigned[static_cast<size_t>(k)] = 0;
      column.push_front(k);
      last = k;
    }
    columns.push_back(std::move(column));
  }
  for (const std::deque<int>& column : columns)
    if (column.size() != columns.front().size())
      fail_fatal(*diag, UNEQUAL_MESH_COLUMNS,
                 "Error converting the station coordinates into a grid:\nThe actual version of "
                 "Velmo-Orv accepts only station meshs\nwith an equal number of more or less "
                 "equally spaced stations\nin each column, whereas the total number of both, "
                 "rows \nand columns, are each virtually unlimited\n");

  const size_t rows = columns.empty() ? 0 : columns.front().size();
  const size_t cols = columns.size();
  mesh = std::make_unique<spline_mesh>();
  mesh->station.assign(rows + 1, std::vector<int>(cols + 1, 0));
  mesh->x.assign(rows + 1, std::vector<double>(cols + 1, SPLINE_MISSING));
  mesh->y = mesh->x;
  mesh->values = mesh->x;
  mesh->second = mesh->x;
  for (size_t j = 1; j <= cols; ++j)
    for (size_t i = 1; i <= rows; ++i) {
      const int k = columns[j - 1][i - 1];
      mesh->station[i][j] = k;
      mesh->x[i][j] = s.x[k];
      mesh->y[i][j] = s.y[k];
    }
  if (method == 8) {
    mesh->gradient = matrix(result_first_row, result_last_row, 1, ncols, nrows);
    for (int r = result_first_row; r <= result_last_row; ++r)
      for (int c = 1; c <= ncols; ++c) mesh->gradient[r][c] = nodata;
  }
  if (rows == 0) return;
  const spline_frame frame{xllcorner, yllcorner, cellsize, nodata, sec.anisotropy_slope,
                           dy,        first_row, last_row, ncols};
  mesh->surface = std::make_unique<TSplines>(mesh->x, mesh->y, coord_x, coord_y, zone_grid, frame,
                                             rank == 0 ? &std::cout : nullptr);
}

void meteointerpol::evaluate_spline_surface(int file_index, grid_matrix& target) {
  const station_file& f = stations[static_cast<size_t>(file_index)];
  const size_t rows = mesh->station.size() - 1;
  const size_t cols = rows > 0 ? mesh->station[1].size() - 1 : 0;
  for (size_t i = 1; i <= rows; ++i)
    for (size_t j = 1; j <= cols; ++j) {
      const int k = mesh->station[i][j];
      const double v = k <= f.station_count ? f.values[static_cast<size_t>(k)] : SPLINE_MISSING;
      // The mesh knows one missing marker; the input's own invalid values map to it.
      mesh->values[i][j] = v < -sec.nodata_bound ? SPLINE_MISSING : v;
    }
  mesh->surface->column_second_derivatives(mesh->values, mesh->second);
  mesh->surface->interpolate_to_grid(mesh->values, mesh->second, target);
}

void meteointerpol::evaluate_spline_surfaces() {
  if ((method != 7 && method != 8) || !mesh || !mesh->surface) return;
  evaluate_spline_surface(0, result_grid);
  if (method == 8) evaluate_spline_surface(1, mesh->gradient);
}
