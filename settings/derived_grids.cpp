// Cell sizes and relative cell areas, and slope and aspect (the coordinates
// are in derived_coordinates.cpp, the region weights in derived_regions.cpp).
//
// Every process computes the cells of its own band. Cell sizes need no
// neighbours. Slope and aspect need the elevations of one row before and
// two after the band in every column, which process 0 (holding the
// elevation model whole) sends; the cells without all four neighbours then
// take the mean of their neighbours in a walk in row order that passes
// from band to band, because a filled cell counts for the cells after it.
// Every process thus holds the values a single process computes, also at
// the edges of its band and of the basin, and no process holds more than
// its band.
#include "settings/derived_grids.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/derived_grids_kernels.h"

namespace {

constexpr int CELL_SIZE_CODE = 66;

// A cell whose sizes cannot be completed (kind 0: none).
struct cell_fault {
  int kind = 0;  // a cell_size_fault
  int row = 0;
  int col = 0;
  double x = 0;     // [m]
  double y = 0;     // [m]
  double area = 0;  // [-]
};

// The fault of the first cell in row order among the faults every process
// found; every process returns it. Collective.
cell_fault first_fault_of_all(const cell_fault& mine, int ncols) {
  const long long none = LLONG_MAX;
  const long long key =
      mine.kind != 0 ? static_cast<long long>(mine.row - 1) * ncols + (mine.col - 1) : none;
  long long first = none;
  MPI_Allreduce(&key, &first, 1, MPI_LONG_LONG, MPI_MIN, MPI_COMM_WORLD);
  if (first == none) return cell_fault{};
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  const int candidate = key == first ? rank : size;
  int root = size;
  MPI_Allreduce(&candidate, &root, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  int where[3] = {mine.kind, mine.row, mine.col};
  double values[3] = {mine.x, mine.y, mine.area};
  MPI_Bcast(where, 3, MPI_INT, root, MPI_COMM_WORLD);
  MPI_Bcast(values, 3, MPI_DOUBLE, root, MPI_COMM_WORLD);
  return cell_fault{where[0], where[1], where[2], values[0], values[1], values[2]};
}

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

double derived_grids::fill_from_neighbours(int row, int col, grid_matrix& grid, int& used) const {
  const double mean = neighbour_mean(grid, row, col, nrows(), ncols(), nodata(), used);
  if (used > 0) grid[row][col] = mean;
  return mean;
}

// ---- cell sizes ----

void derived_grids::band_rows(int& first, int& last) const {
  first = std::max(1, first_row() - 1);
  last = std::min(nrows(), last_row() + 1);
}

void derived_grids::make_cell_size_grids() {
  grid_store& s = store();
  int first = 0;
  int last = 0;
  band_rows(first, last);
  int held_first = 0;
  int held_last = 0;
  held_rows(held_first, held_last);
  const std::string zone_file = base_file(1);
  // The relative area stays whole on process 0, which weighs the statistics
  // of written grids with it; the sizes cover the band.
  auto create = [&](const char* grid_name, const char* suffix, bool whole_on_0) {
    const int index = s.first_free(1);
    if (index == GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
                 GRID_STORE_FULL, ")");
    create_grid(index, derived_grid_file_name(zone_file, suffix), grid_name,
                whole_on_0 ? held_first : first, whole_on_0 ? held_last : last);
    count_registered_grids(1);
    return index;
  };

  const int given_x = settings.find_grid("CellSizeX");
  const int given_y = settings.find_grid("CellSizeY");
  const int given_area = rel_cell_area() != nullptr ? settings.find_grid("RelCellArea") : 0;
  cell_size_x_given = given_x > 0;
  cell_size_y_given = given_y > 0;
  rel_cell_area_given = given_area > 0;
  derived.cell_size_x = given_x > 0 ? given_x : create("CellSizeX", ".$csx", false);
  derived.cell_size_y = given_y > 0 ? given_y : create("CellSizeY", ".$csy", false);
  derived.rel_cell_area = given_area > 0 ? given_area : create("RelCellArea", ".$rca", true);
  set_rel_cell_area(s[derived.rel_cell_area].grid);

  diag_entry(diag(), "Checking cell sizes for variable Cells...");
  grid_matrix& size_x = *s[derived.cell_size_x].grid;
  grid_matrix& size_y = *s[derived.cell_size_y].grid;
  grid_matrix& area = *s[derived.rel_cell_area].grid;
  const grid_matrix& zone = zone_grid();
  const grid_matrix* regions = mpi_regions();
  const int cols = ncols();
  const double nd = nodata();
  const double cs = cellsize();

  // Given grids that process 0 holds whole lose their values outside the
  // basin on every row, as when process 0 computed the whole grid.
  if (rank() == 0)
    for (grid_matrix* grid : {cell_size_x_given ? &size_x : nullptr,
                              cell_size_y_given ? &size_y : nullptr,
                              rel_cell_area_given ? &area : nullptr})
      if (grid != nullptr)
        for (int r = grid->first_row(); r <= grid->last_row(); ++r)
          for (int c = 1; c <= cols; ++c)
            if ((*grid)[r] != nullptr && zone[r][c] == nd) (*grid)[r][c] = nd;

  // Every process completes the cells of its band; the first faulty cell in
  // row order among the cells each process answers for is reported.
  cell_fault fault;
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= cols; ++c) {
      if (zone[r][c] == nd) {
        size_x[r][c] = size_y[r][c] = area[r][c] = nd;
        continue;
      }
      cell_size_input cell{cell_size_x_given, cell_size_y_given, rel_cell_area_given,
                           size_x[r][c],      size_y[r][c],      area[r][c]};
      const cell_size_fault found = complete_cell_sizes(cell, cs);
      if (found != cell_size_fault::none) {
        const bool answered_here = r >= first_row() && r <= last_row() &&
                                   (regions == nullptr || (*regions)[r][c] == rank() ||
                                    !((*regions)[r][c] >= 0));
        if (answered_here && fault.kind == 0)
          fault = cell_fault{static_cast<int>(found), r, c, cell.x, cell.y, cell.area};
        continue;
      }
      size_x[r][c] = cell.x;
      size_y[r][c] = cell.y;
      area[r][c] = cell.area;
    }
  fault = first_fault_of_all(fault, cols);
  if (fault.kind != 0) {
    const std::string x_file = s[derived.cell_size_x].file_name.value_or(std::string());
    const std::string y_file = s[derived.cell_size_y].file_name.value_or(std::string());
    const std::string area_file = s[derived.rel_cell_area].file_name.value_or(std::string());
    switch (static_cast<cell_size_fault>(fault.kind)) {
      case cell_size_fault::zero_x:
        fail_fatal(diag(), CELL_SIZE_CODE, "cell size in x direction is zero at row ", fault.row,
                   ", column ", fault.col, ",\nread from file ", x_file, "\n");
      case cell_size_fault::zero_y:
        fail_fatal(diag(), CELL_SIZE_CODE, "cell size in y direction is zero at row ", fault.row,
                   ", column ", fault.col, ",\nread from file ", y_file);
      default:
        fail_fatal(diag(), CELL_SIZE_CODE, "Cell size Y (", fault.y, ", from ", y_file,
                   ") times\ncell size X (", fault.x, ", from ", x_file,
                   ") \ndivided by the mean cell area is ", fault.x * fault.y / (cs * cs),
                   " and differs from \nthe relative grid cell size ", fault.area, " (from ",
                   area_file, ") by more than 0.001%%\n");
    }
  }

  const int created[3] = {rel_cell_area_given ? 0 : derived.rel_cell_area,
                          cell_size_x_given ? 0 : derived.cell_size_x,
                          cell_size_y_given ? 0 : derived.cell_size_y};
  for (int index : created)
    if (index > 0) settings.exchange_halo(index);
  // Process 0 takes the relative areas of the other bands into its whole grid.
  if (!rel_cell_area_given) settings.gather_grid(derived.rel_cell_area);
  for (int index : created)
    if (index > 0) write_once(index);
}

// ---- slope and aspect ----

void derived_grids::compute_slope_rows_in_bands(const grid_matrix& z, grid_matrix* slope,
                                                grid_matrix* aspect) {
  const int rows = nrows();
  const int cols = ncols();
  const int processes = process_count();
  const int me = rank();
  const double nd = nodata();
  const double cs = cellsize();

  // Rows go to the processes in row order as bands that cover the grid:
  // each from its first own row to the row before the next lower process's
  // first own row (the highest process from row 1, process 0 to the last
  // row), so that rows without basin cells between the bands count too. A
  // process also fills its last own row where it shares that row with the
  // next band; both fill it alike.
  int own_rows[2] = {first_row(), last_row()};
  std::vector<int> bounds(static_cast<size_t>(2 * processes), 0);
  MPI_Allgather(own_rows, 2, MPI_INT, bounds.data(), 2, MPI_INT, MPI_COMM_WORLD);
  std::vector<int> lo(static_cast<size_t>(processes), 0);
  std::vector<int> hi(static_cast<size_t>(processes), 0);
  std::vector<int> fill_first(static_cast<size_t>(processes), 0);
  std::vector<int> fill_last(static_cast<size_t>(processes), -1);
  int upper = rows - 1;
  for (int p = 0; p < processes; ++p) {
    const auto k = static_cast<size_t>(p);
    const int own_first = bounds[2 * k];
    const int own_last = bounds[2 * k + 1];
    hi[k] = upper;
    if (p == processes - 1)
      lo[k] = 2;
    else if (own_first >= 1)
      lo[k] = std::min(std::max(2, own_first), upper + 1);
    else
      lo[k] = upper + 1;  // no cells: no rows
    upper = lo[k] - 1;
    fill_first[k] = p == processes - 1 ? 1 : lo[k];
    fill_last[k] = p == 0 ? rows : hi[k];
    if (own_first >= 1 && own_last >= fill_first[k])
      fill_last[k] = std::max(fill_last[k], std::min(own_last, rows));
  }
  // The process whose band (without shared rows) holds row r.
  auto finisher_of = [&](int r) {
    if (r <= 1) return processes - 1;
    if (r >= rows) return 0;
    for (int p = 0; p < processes; ++p)
      if (lo[static_cast<size_t>(p)] <= r && r <= hi[static_cast<size_t>(p)]) return p;
    return 0;
  };
  const int first = fill_first[static_cast<size_t>(me)];
  const int last = fill_last[static_cast<size_t>(me)];
  const bool filling = first <= last;

  // The elevations of the band, one row before it and two after it (the
  // row after the band is computed too: its unfilled values count in the
  // fill), all columns: process 0 holds the elevation model whole and sends
  // them.
  auto z_range = [&](int p, int& from, int& to) {
    from = std::max(1, fill_first[static_cast<size_t>(p)] - 1);
    to = std::min(rows, fill_last[static_cast<size_t>(p)] + 2);
  };
  int z_first = 0;
  int z_last = -1;
  if (filling) z_range(me, z_first, z_last);
  const size_t width = static_cast<size_t>(cols) + 1;
  std::vector<double> z_band;
  std::vector<MPI_Request> requests;
  if (me == 0) {
    for (int p = 1; p < processes; ++p) {
      if (fill_first[static_cast<size_t>(p)] > fill_last[static_cast<size_t>(p)]) continue;
      int from = 0;
      int to = 0;
      z_range(p, from, to);
      for (int r = from; r <= to; ++r) {
        requests.emplace_back();
        MPI_Isend(z[r], cols + 1, MPI_DOUBLE, p, r, MPI_COMM_WORLD, &requests.back());
      }
    }
  } else if (filling) {
    z_band.resize(static_cast<size_t>(z_last - z_first + 1) * width);
    for (int r = z_first; r <= z_last; ++r) {
      requests.emplace_back();
      MPI_Irecv(&z_band[static_cast<size_t>(r - z_first) * width], cols + 1, MPI_DOUBLE, 0, r,
                MPI_COMM_WORLD, &requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  requests.clear();
  auto z_row = [&](int r) -> const double* {
    return me == 0 ? z[r] : &z_band[static_cast<size_t>(r - z_first) * width];
  };

  // Central differences of the band and the row after it (rows 1 and the
  // last, columns 1 and the last have no value), into band grids that
  // also hold the filled row before the band.
  const int g_first = std::max(1, first - 1);
  const int g_last = std::min(rows, last + 1);
  grid_matrix slope_band;
  grid_matrix aspect_band;
  if (filling) {
    slope_band = settings.matrix_for_overwrite(g_first, g_last, 1, cols, rows);
    aspect_band = settings.matrix_for_overwrite(g_first, g_last, 1, cols, rows);
  }
  const int computed_first = std::max(1, first);
#pragma omp parallel for schedule(static)
  for (int r = computed_first; r <= (filling ? g_last : computed_first - 1); ++r) {
    double* slope_row = slope_band[r];
    double* aspect_row = aspect_band[r];
    slope_row[1] = aspect_row[1] = nd;
    slope_row[cols] = aspect_row[cols] = nd;
    if (r == 1 || r == rows) {
      std::fill(slope_row + 1, slope_row + cols + 1, nd);
      std::fill(aspect_row + 1, aspect_row + cols + 1, nd);
      continue;
    }
    const double* north = z_row(r - 1);
    const double* here = z_row(r);
    const double* south = z_row(r + 1);
    for (int c = 2; c <= cols - 1; ++c) {
      const double zn = north[c];
      const double zs = south[c];
      const double zw = here[c - 1];
      const double ze = here[c + 1];
      if (zn == nd || zs == nd || zw == nd || ze == nd) {
        slope_row[c] = aspect_row[c] = nd;
        continue;
      }
      const slope_aspect value = slope_and_aspect(zn, zs, zw, ze, cs);
      slope_row[c] = value.slope;
      aspect_row[c] = value.aspect;
    }
  }

  // Cells with an elevation but without all four neighbours take the mean
  // of their neighbours in row order, a filled cell counting for the cells
  // after it: each band waits for the filled row before it, fills its rows
  // and hands its filled rows on, so that every value is the one a walk
  // over the whole grid gives. The walk is cheap beside the slopes.
  const int slope_tag = rows + 1;
  const int aspect_tag = 2 * (rows + 1);
  // The cells to fill are known before the row before arrives (only a cell's
  // own fill changes it): each band finds them first, side by side with the
  // others, and only fills them in turn.
  std::vector<std::pair<int, int>> to_fill[2];
  grid_matrix* const fill_bands[2] = {&aspect_band, &slope_band};
  if (filling)
    for (int k = 0; k < 2; ++k)
      for (int r = first; r <= last; ++r) {
        const double* z_here = z_row(r);
        const double* values = (*fill_bands[k])[r];
        for (int c = 1; c <= cols; ++c)
          if (z_here[c] != nd && values[c] == nd) to_fill[k].emplace_back(r, c);
      }
  if (filling && first > 1) {
    const int from = finisher_of(first - 1);
    MPI_Recv(slope_band[first - 1], cols + 1, MPI_DOUBLE, from, slope_tag + first - 1,
             MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    MPI_Recv(aspect_band[first - 1], cols + 1, MPI_DOUBLE, from, aspect_tag + first - 1,
             MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  }
  if (filling) {
    for (int k = 0; k < 2; ++k)
      for (const auto& [r, c] : to_fill[k]) {
        int used = 0;
        fill_from_neighbours(r, c, *fill_bands[k], used);
      }
    for (int p = 0; p < processes; ++p) {
      const auto k = static_cast<size_t>(p);
      if (p == me || fill_first[k] > fill_last[k] || fill_first[k] <= 1) continue;
      const int r = fill_first[k] - 1;
      if (finisher_of(r) != me) continue;
      MPI_Send(slope_band[r], cols + 1, MPI_DOUBLE, p, slope_tag + r, MPI_COMM_WORLD);
      MPI_Send(aspect_band[r], cols + 1, MPI_DOUBLE, p, aspect_tag + r, MPI_COMM_WORLD);
    }
  }

  // The grids take the filled rows they hold (the row before the band is
  // filled too); the remaining halo cells follow from their owners.
  for (grid_matrix* grid : {slope, aspect}) {
    if (grid == nullptr || !filling) continue;
    const grid_matrix& band = grid == slope ? slope_band : aspect_band;
    for (int r = std::max(g_first, grid->first_row()); r <= std::min(last, grid->last_row()); ++r)
      std::copy(band[r] + 1, band[r] + cols + 1, (*grid)[r] + 1);
  }
}

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
  band_rows(first, last);
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
  const grid_matrix& z = *s[2].grid;
  grid_matrix* slope = make_slope ? s[slope_index].grid : nullptr;
  grid_matrix* aspect = make_aspect ? s[aspect_index].grid : nullptr;
  compute_slope_rows_in_bands(z, slope, aspect);
  if (make_aspect) settings.exchange_halo(aspect_index);
  if (make_slope) settings.exchange_halo(slope_index);
  if (make_aspect) write_once(aspect_index);
  if (make_slope) write_once(slope_index);
}
