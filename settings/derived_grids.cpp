// Cell sizes and relative cell areas, the coordinates of the cells'
// lower-left corners, and slope and aspect (the region weights are in
// derived_regions.cpp).
//
// Grids whose cells depend on other cells (coordinates cumulated from the
// cell sizes, slope and aspect from the neighbours' elevations) are computed
// by process 0, which holds the zone grid and the elevation model whole, and
// handed to the owners of the cells: every process then holds the values a
// single process computes, also at the edges of its band and of the basin.
#include "settings/derived_grids.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/derived_grids_kernels.h"
#include "settings/rank0_status.h"

namespace {

constexpr int CELL_SIZE_CODE = 66;

}  // namespace

// ---- helpers of the derived grids ----

void derived_grids::write_once(int index) {
  grid_entry& entry = store()[index];
  entry.units = 1;
  settings.output_grid(index, 1, 0);
  entry.units = 0;
}

std::string derived_grids::base_file(int index) const {
  const grid_entry& entry = store()[index];
  if ((index == 1 || index == 2) && entry.first_file_name) return *entry.first_file_name;
  return entry.file_name.value_or(std::string());
}

void derived_grids::hand_out_from_process_0(int index) {
  settings.scatter_grid(index);
  settings.exchange_halo(index);
}

double derived_grids::fill_from_neighbours(int row, int col, grid_matrix& grid, int& used) const {
  const double mean = neighbour_mean(grid, row, col, nrows(), ncols(), nodata(), used);
  if (used > 0) grid[row][col] = mean;
  return mean;
}

// ---- cell sizes ----

void derived_grids::make_cell_size_grids() {
  grid_store& s = store();
  int first = 0;
  int last = 0;
  held_rows(first, last);
  const std::string zone_file = base_file(1);
  auto create = [&](const char* grid_name, const char* suffix) {
    const int index = s.first_free(1);
    if (index == GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
                 GRID_STORE_FULL, ")");
    create_grid(index, derived_grid_file_name(zone_file, suffix), grid_name, first, last);
    count_registered_grids(1);
    return index;
  };

  const int given_x = settings.find_grid("CellSizeX");
  const int given_y = settings.find_grid("CellSizeY");
  const int given_area = rel_cell_area() != nullptr ? settings.find_grid("RelCellArea") : 0;
  cell_size_x_given = given_x > 0;
  cell_size_y_given = given_y > 0;
  rel_cell_area_given = given_area > 0;
  derived.cell_size_x = given_x > 0 ? given_x : create("CellSizeX", ".$csx");
  derived.cell_size_y = given_y > 0 ? given_y : create("CellSizeY", ".$csy");
  derived.rel_cell_area = given_area > 0 ? given_area : create("RelCellArea", ".$rca");
  set_rel_cell_area(s[derived.rel_cell_area].grid);

  diag_entry(diag(), "Checking cell sizes for variable Cells...");
  grid_matrix& size_x = *s[derived.cell_size_x].grid;
  grid_matrix& size_y = *s[derived.cell_size_y].grid;
  grid_matrix& area = *s[derived.rel_cell_area].grid;
  const grid_matrix& zone = zone_grid();
  const int rows = nrows();
  const int cols = ncols();
  const double nd = nodata();
  const std::string x_file = s[derived.cell_size_x].file_name.value_or(std::string());
  const std::string y_file = s[derived.cell_size_y].file_name.value_or(std::string());
  const std::string area_file = s[derived.rel_cell_area].file_name.value_or(std::string());
  const double cs = cellsize();

  // Process 0 holds every row of the three grids and checks every cell.
  run_on_rank0_and_share_error(rank(), [&] {
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        if (zone[r][c] == nd) {
          size_x[r][c] = size_y[r][c] = area[r][c] = nd;
          continue;
        }
        cell_size_input cell{cell_size_x_given, cell_size_y_given, rel_cell_area_given,
                             size_x[r][c],      size_y[r][c],      area[r][c]};
        switch (complete_cell_sizes(cell, cs)) {
          case cell_size_fault::zero_x:
            fail_fatal(diag(), CELL_SIZE_CODE, "cell size in x direction is zero at row ", r,
                       ", column ", c, ",\nread from file ", x_file, "\n");
          case cell_size_fault::zero_y:
            fail_fatal(diag(), CELL_SIZE_CODE, "cell size in y direction is zero at row ", r,
                       ", column ", c, ",\nread from file ", y_file);
          case cell_size_fault::area_mismatch:
            fail_fatal(diag(), CELL_SIZE_CODE, "Cell size Y (", cell.y, ", from ", y_file,
                       ") times\ncell size X (", cell.x, ", from ", x_file,
                       ") \ndivided by the mean cell area is ", cell.x * cell.y / (cs * cs),
                       " and differs from \nthe relative grid cell size ", cell.area, " (from ",
                       area_file, ") by more than 0.001%%\n");
          case cell_size_fault::none:
            break;
        }
        size_x[r][c] = cell.x;
        size_y[r][c] = cell.y;
        area[r][c] = cell.area;
      }
  });
  if (rank() != 0)
    for (int r = first; r <= last; ++r)
      for (int c = 1; c <= cols; ++c)
        if (zone[r][c] == nd) size_x[r][c] = size_y[r][c] = area[r][c] = nd;

  const int created[3] = {rel_cell_area_given ? 0 : derived.rel_cell_area,
                          cell_size_x_given ? 0 : derived.cell_size_x,
                          cell_size_y_given ? 0 : derived.cell_size_y};
  for (int index : created)
    if (index > 0) hand_out_from_process_0(index);
  for (int index : created)
    if (index > 0) write_once(index);
}

// ---- coordinates ----

void derived_grids::make_coordinate_grids() {
  grid_store& s = store();
  const int index_x = s.first_free(1);
  if (index_x == GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
               GRID_STORE_FULL, ")");
  const std::string zone_file = base_file(1);
  const int own_rows_first = first_row();
  const int own_rows_last = last_row();
  create_grid(index_x, derived_grid_file_name(zone_file, ".$cx"), "CoordX", own_rows_first,
              own_rows_last);
  create_grid(index_x + 1, derived_grid_file_name(zone_file, ".$cy"), "CoordY", own_rows_first,
              own_rows_last);
  derived.coord_x = index_x;
  derived.coord_y = index_x + 1;
  count_registered_grids(2);

  // The rows all processes own together: the cumulation runs over them as
  // it would in a single process.
  int own_first = own_rows_first;
  int own_last = own_rows_last;
  MPI_Allreduce(&own_rows_first, &own_first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  MPI_Allreduce(&own_rows_last, &own_last, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);

  grid_matrix all_x;
  grid_matrix all_y;
  if (rank() == 0) {
    all_x = settings.matrix(1, nrows(), 1, ncols(), nrows());
    all_y = settings.matrix(1, nrows(), 1, ncols(), nrows());
    const double cs = cellsize();
    for (int r = 1; r <= nrows(); ++r)
      for (int c = 1; c <= ncols(); ++c) {
        all_x[r][c] = xllcorner() + (c - 1) * cs;
        all_y[r][c] = yllcorner() + (nrows() - r) * cs;
      }
    if (rel_cell_area() != nullptr && own_first >= 1 && own_last >= own_first) {
      const grid_matrix& size_x = *s[derived.cell_size_x].grid;
      const grid_matrix& size_y = *s[derived.cell_size_y].grid;
      auto width = [&](double v) { return v > nodata() ? v : cs; };
      const row_strip& span = strips()[static_cast<size_t>(own_last)];
      for (int c = std::max(2, span.first); c <= ncols(); ++c)
        all_x[own_last][c] = all_x[own_last][c - 1] + width(size_x[own_last][c - 1]);
      for (int r = own_last - 1; r >= own_first; --r) {
        all_x[r][1] = xllcorner();
        for (int c = 2; c <= ncols(); ++c) {
          all_x[r][c] = all_x[r][c - 1] + width(size_x[r][c - 1]);
          all_y[r][c] = all_y[r + 1][c] + width(size_y[r + 1][c]);
        }
      }
    }
    const grid_matrix& zone = zone_grid();
    for (int r = 1; r <= nrows(); ++r)
      for (int c = 1; c <= ncols(); ++c)
        if (zone[r][c] == nodata()) all_x[r][c] = all_y[r][c] = nodata();
  }
  settings.scatter_grid(derived.coord_x, rank() == 0 ? &all_x : nullptr);
  settings.scatter_grid(derived.coord_y, rank() == 0 ? &all_y : nullptr);
  if (rank() == 0) {
    grid_matrix& coord_x = *s[derived.coord_x].grid;
    grid_matrix& coord_y = *s[derived.coord_y].grid;
    for (int r = own_rows_first; r <= own_rows_last; ++r) {
      std::copy(all_x[r] + 1, all_x[r] + ncols() + 1, coord_x[r] + 1);
      std::copy(all_y[r] + 1, all_y[r] + ncols() + 1, coord_y[r] + 1);
    }
  }
  write_once(derived.coord_x);
  write_once(derived.coord_y);
}

// ---- slope and aspect ----

void derived_grids::make_slope_and_aspect() {
  grid_store& s = store();
  if (settings.find_grid("[elevation_model]") <= 0) return;
  int slope_index = settings.find_grid("slope_angle");
  int aspect_index = settings.find_grid("slope_aspect");
  if (slope_index > 0 && aspect_index > 0) {
    derived.slope = slope_index;
    derived.aspect = aspect_index;
    return;
  }
  int first = 0;
  int last = 0;
  held_rows(first, last);
  const std::string elevation_file = base_file(2);
  const bool make_slope = slope_index <= 0;
  const bool make_aspect = aspect_index <= 0;
  if (make_slope) {
    slope_index = s.first_free(1);
    if (slope_index == GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memeory (at position ",
                 GRID_STORE_FULL, ")");
    create_grid(slope_index, derived_grid_file_name(elevation_file, ".$sl"), "slope_angle", first,
                last);
    count_registered_grids(1);
  }
  if (make_aspect) {
    aspect_index = s.first_free(1);
    if (aspect_index == GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid left (at position ", GRID_STORE_FULL,
                 ")\n");
    create_grid(aspect_index, derived_grid_file_name(elevation_file, ".$ex"), "slope_aspect", first,
                last);
    count_registered_grids(1);
  }
  derived.slope = slope_index;
  derived.aspect = aspect_index;

  diag_entry(diag(), "calculating the lokal topography (aspect, slope ...).. ");
  if (rank() == 0) {
    const grid_matrix& z = *s[2].grid;
    grid_matrix* slope = make_slope ? s[slope_index].grid : nullptr;
    grid_matrix* aspect = make_aspect ? s[aspect_index].grid : nullptr;
    const double nd = nodata();
    const double cs = cellsize();
    const int rows = nrows();
    const int cols = ncols();
    auto put = [&](int r, int c, double slope_value, double aspect_value) {
      if (slope != nullptr) (*slope)[r][c] = slope_value;
      if (aspect != nullptr) (*aspect)[r][c] = aspect_value;
    };
    for (int c = 1; c <= cols; ++c) {
      put(1, c, nd, nd);
      put(rows, c, nd, nd);
    }
#pragma omp parallel for schedule(static)
    for (int r = 2; r <= rows - 1; ++r) {
      put(r, 1, nd, nd);
      put(r, cols, nd, nd);
      for (int c = 2; c <= cols - 1; ++c) {
        const double zn = z[r - 1][c];
        const double zs = z[r + 1][c];
        const double zw = z[r][c - 1];
        const double ze = z[r][c + 1];
        if (zn == nd || zs == nd || zw == nd || ze == nd) {
          put(r, c, nd, nd);
          continue;
        }
        const slope_aspect value = slope_and_aspect(zn, zs, zw, ze, cs);
        put(r, c, value.slope, value.aspect);
      }
    }
    // Cells with an elevation but without all four neighbours take the
    // mean of their neighbours, in row order (a filled cell counts for the
    // cells after it).
    for (grid_matrix* grid : {aspect, slope}) {
      if (grid == nullptr) continue;
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
          if (z[r][c] == nd || (*grid)[r][c] != nd) continue;
          int used = 0;
          fill_from_neighbours(r, c, *grid, used);
        }
    }
  }
  if (make_aspect) hand_out_from_process_0(aspect_index);
  if (make_slope) hand_out_from_process_0(slope_index);
  if (make_aspect) write_once(aspect_index);
  if (make_slope) write_once(slope_index);
}
