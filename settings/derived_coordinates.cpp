// The coordinates of the cells' lower-left corners, cumulated from the cell
// sizes: along each row from the west (x) and along each column from the
// southernmost basin row (y). Every process cumulates over its own band; the
// value a band starts from is handed on by the process before it in the
// direction of the sum, so every sum is added in the order of a single
// process and gives the same bits.
//
// A process's stretch of the grid runs in row order from its first own cell
// to the cell before the first cell of the next lower process (to the end of
// the grid for process 0); outside the basin a stretch holds only cells
// without zone data, which count with the nominal cell size. x of a row is
// handed on where a stretch ends within the row; y of every column is handed
// north from stretch to stretch.
#include <mpi.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/derived_grids.h"
#include "settings/derived_grids_kernels.h"

namespace {

constexpr int X_CARRY_TAG = 0;  // x at the first cell of the next stretch, within a row
constexpr int Y_CARRY_TAG = 0;  // y per column at the first row of the next stretch

// A cell in row order (row, column from 1) as one number.
long long cell_key(int row, int col, int ncols) {
  return static_cast<long long>(row - 1) * ncols + (col - 1);
}

struct coordinate_frame {
  int nrows = 0;
  int ncols = 0;
  double xll = 0;  // [m]
  double yll = 0;  // [m]
  double cs = 0;   // [m]
  double nodata = 0;
  int basin_first = 0;  // rows holding cells of some process
  int basin_last = 0;
  int last_row_first_col = 1;  // the span's first column of row basin_last

  double uniform_x(int col) const { return xll + (col - 1) * cs; }
  double uniform_y(int row) const { return yll + (nrows - row) * cs; }
  double width(double size) const { return size > nodata ? size : cs; }
  // Cells whose x stays the uniform corner instead of following its west
  // neighbour.
  bool x_restarts(int row, int col) const {
    return row == basin_last ? col < std::max(2, last_row_first_col) : col == 1;
  }
};

// What a process knows of its band.
struct band_view {
  int rank = 0;
  int processes = 1;
  int first = 0;  // own rows
  int last = 0;
  const grid_matrix* regions = nullptr;  // "MPIRegions" over the held rows
  const grid_matrix* size_x = nullptr;   // cell sizes over the band
  const grid_matrix* size_y = nullptr;

  // A row of a cell-size grid, or none outside the rows it holds (rows
  // without basin cells, whose cells all count with the nominal size).
  static const double* row_of(const grid_matrix* grid, int row) {
    if (grid == nullptr || row < grid->first_row() || row > grid->last_row()) return nullptr;
    return (*grid)[row];
  }
};

// The first own cell of every process, in row order, as cell keys; a process
// without cells has none (LLONG_MAX).
std::vector<long long> stretch_starts(const band_view& band, int ncols) {
  long long mine = LLONG_MAX;
  for (int r = band.first; r <= band.last && mine == LLONG_MAX && band.regions != nullptr; ++r)
    for (int c = 1; c <= ncols; ++c)
      if ((*band.regions)[r][c] == band.rank) {
        mine = cell_key(r, c, ncols);
        break;
      }
  if (band.regions == nullptr && band.first >= 1) mine = cell_key(band.first, 1, ncols);
  std::vector<long long> starts(static_cast<size_t>(band.processes), LLONG_MAX);
  MPI_Allgather(&mine, 1, MPI_LONG_LONG, starts.data(), 1, MPI_LONG_LONG, MPI_COMM_WORLD);
  return starts;
}

// x of one row over columns from..to, continuing from x at column from - 1
// (before: that value, ignored where the row restarts); returns x at column
// to + 1, the value the next stretch continues from.
double cumulate_row_x(const coordinate_frame& f, int row, int from, int to, double before,
                      const double* sizes, double* out) {
  double x = before;
  double previous_size = f.nodata;
  for (int c = from; c <= to + 1 && c <= f.ncols; ++c) {
    if (f.x_restarts(row, c))
      x = f.uniform_x(c);
    else if (c > from)
      x += f.width(previous_size);
    if (c == to + 1) return x;
    if (out != nullptr) out[c] = x;
    previous_size = sizes != nullptr ? sizes[c] : f.nodata;
  }
  return x;
}

void cumulate_coordinates(const coordinate_frame& f, const band_view& band, grid_matrix& coord_x,
                          grid_matrix& coord_y) {
  const int cols = f.ncols;
  const std::vector<long long> starts = stretch_starts(band, cols);
  const long long mine = starts[static_cast<size_t>(band.rank)];
  if (mine == LLONG_MAX) return;
  // This stretch: from its first own cell (from the start of the grid for
  // the highest process) to the cell before the next lower process's first.
  const bool highest = band.rank == band.processes - 1;
  const long long begin = highest ? cell_key(band.first, 1, cols) : mine;
  const long long end = band.rank == 0 ? cell_key(f.nrows, cols, cols) + 1
                                       : starts[static_cast<size_t>(band.rank - 1)];
  const int begin_row = static_cast<int>(begin / cols) + 1;
  const int begin_col = static_cast<int>(begin % cols) + 1;
  const int end_row = static_cast<int>(end / cols) + 1;  // the row of the next stretch's start
  const int end_col = static_cast<int>(end % cols) + 1;
  auto in_stretch = [&](int r, int c) {
    const long long k = cell_key(r, c, cols);
    return k >= begin && k < end;
  };
  auto stored = [&](int r) { return r >= band.first && r <= band.last; };

  // x: rows other than the stretch's first row at once; the x where the next
  // stretch starts within its row goes on before this stretch waits for its
  // own start.
  auto row_x = [&](int r, double before) {
    const int from = r == begin_row ? begin_col : 1;
    const int to = r == end_row && band.rank > 0 ? end_col - 1 : cols;
    return cumulate_row_x(f, r, from, to, before, band_view::row_of(band.size_x, r),
                          stored(r) ? coord_x[r] : nullptr);
  };
  const int x_last = band.rank == 0 ? std::min(f.basin_last, band.last) : end_row;
  const bool hands_on_x = band.rank > 0 && end_col > 1 && end_row <= f.basin_last;
  const bool waits_for_x = !highest && begin_col > 1;
  for (int r = std::max(begin_row + 1, f.basin_first); r <= x_last; ++r) {
    if (r > band.last && r < end_row) continue;  // rows without basin cells between stretches
    const double next = row_x(r, 0.0);
    if (r == end_row && hands_on_x)
      MPI_Send(&next, 1, MPI_DOUBLE, band.rank - 1, X_CARRY_TAG, MPI_COMM_WORLD);
  }
  double start_x = 0;
  if (waits_for_x)
    MPI_Recv(&start_x, 1, MPI_DOUBLE, band.rank + 1, X_CARRY_TAG, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
  if (begin_row >= f.basin_first && begin_row <= f.basin_last) {
    const double next = row_x(begin_row, start_x);
    if (begin_row == end_row && hands_on_x)
      MPI_Send(&next, 1, MPI_DOUBLE, band.rank - 1, X_CARRY_TAG, MPI_COMM_WORLD);
  }

  // y: north from the basin's last row, column by column, continuing from
  // the values the lower process hands on.
  std::vector<double> y(static_cast<size_t>(cols) + 1, 0.0);
  if (band.rank > 0)
    MPI_Recv(y.data(), cols + 1, MPI_DOUBLE, band.rank - 1, Y_CARRY_TAG, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
  const int y_first = std::min(band.rank == 0 ? f.basin_last : end_row, f.basin_last);
  for (int r = y_first; r >= std::max(begin_row, f.basin_first); --r) {
    const double* below = band_view::row_of(band.size_y, r + 1);
    for (int c = 1; c <= cols; ++c) {
      if (!in_stretch(r, c)) continue;
      if (r >= f.basin_last || c == 1)
        y[static_cast<size_t>(c)] = f.uniform_y(r);
      else if (in_stretch(r + 1, c))
        y[static_cast<size_t>(c)] += f.width(below != nullptr ? below[c] : f.nodata);
      // else: y[c] is the value handed on for this cell
      if (stored(r)) coord_y[r][c] = y[static_cast<size_t>(c)];
    }
  }
  if (!highest) {
    // y of the cell north of this stretch's northernmost cell in each column.
    for (int c = 1; c <= cols; ++c) {
      int top = begin_row;
      if (!in_stretch(top, c)) ++top;
      if (!in_stretch(top, c) || top > f.basin_last) continue;  // the column passes through
      const int north = top - 1;
      const double* sizes = band_view::row_of(band.size_y, top);
      y[static_cast<size_t>(c)] = north >= f.basin_last || c == 1
                                      ? f.uniform_y(north)
                                      : y[static_cast<size_t>(c)] +
                                            f.width(sizes != nullptr ? sizes[c] : f.nodata);
    }
    MPI_Send(y.data(), cols + 1, MPI_DOUBLE, band.rank + 1, Y_CARRY_TAG, MPI_COMM_WORLD);
  }
}

}  // namespace

void derived_grids::make_coordinate_grids() {
  grid_store& s = store();
  const int index_x = s.first_free(1);
  if (index_x == GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
               GRID_STORE_FULL, ")");
  const std::string zone_file = base_file(1);
  const int own_first = first_row();
  const int own_last = last_row();
  grid_matrix& coord_x = create_grid(index_x, derived_grid_file_name(zone_file, ".$cx"), "CoordX",
                                     own_first, own_last);
  grid_matrix& coord_y = create_grid(index_x + 1, derived_grid_file_name(zone_file, ".$cy"),
                                     "CoordY", own_first, own_last);
  derived.coord_x = index_x;
  derived.coord_y = index_x + 1;
  count_registered_grids(2);

  coordinate_frame f;
  f.nrows = nrows();
  f.ncols = ncols();
  f.xll = xllcorner();
  f.yll = yllcorner();
  f.cs = cellsize();
  f.nodata = nodata();
  MPI_Allreduce(&own_first, &f.basin_first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  MPI_Allreduce(&own_last, &f.basin_last, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  const int cols = f.ncols;
  for (int r = own_first; r <= own_last; ++r)
    for (int c = 1; c <= cols; ++c) {
      coord_x[r][c] = f.uniform_x(c);
      coord_y[r][c] = f.uniform_y(r);
    }
  const bool cumulated =
      rel_cell_area() != nullptr && f.basin_first >= 1 && f.basin_last >= f.basin_first;
  if (cumulated) {
    if (rank() == 0) f.last_row_first_col = strips()[static_cast<size_t>(f.basin_last)].first;
    MPI_Bcast(&f.last_row_first_col, 1, MPI_INT, 0, MPI_COMM_WORLD);
    const band_view band{rank(), process_count(), own_first, own_last, mpi_regions(),
                         s[derived.cell_size_x].grid, s[derived.cell_size_y].grid};
    cumulate_coordinates(f, band, coord_x, coord_y);
  }

  const grid_matrix& zone = zone_grid();
  for (int r = own_first; r <= own_last; ++r)
    for (int c = 1; c <= cols; ++c)
      if (zone[r][c] == f.nodata) coord_x[r][c] = coord_y[r][c] = f.nodata;
  write_once(derived.coord_x);
  write_once(derived.coord_y);
}
