// TSplines: a bicubic surface over stations that stand on a regular, possibly
// rotated mesh. Natural cubic splines (Numerical Recipes, 2nd ed., section
// 3.3) run along every mesh column to each row of a fine spline grid of one
// model cellsize, then along that row across the columns; every model cell
// takes the value of its spline-grid node. The mesh, the cells' distance
// coordinates and the surface live in one frame (plain or rotated). Cells the
// surface does not reach get the grid nodata value; the interpolator fills
// them by inverse-distance weighting.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "modelbase/matrices.h"

// Values per mesh node [row 1..rows][col 1..cols]; row 1 is the top row.
using mesh_matrix = std::vector<std::vector<double>>;

// Missing node values and coordinates lie below this + 0.01.
constexpr double SPLINE_MISSING = -9999;
// Two nodes of one spline at the same abscissa.
constexpr int SPLINE_EQUAL_ABSCISSAE = 82;

// Second derivatives y2[first..last] of the natural cubic spline through
// (x[k], y[k]), k = first..last; the abscissae run strictly up or strictly
// down. A run of one or two points has y2 = 0 (a straight line or a point).
void spline_second_derivatives(const double* x, const double* y, int first, int last, double* y2);

// Value at t of the spline through points 1..n (x ascending or descending),
// or nodata when t lies outside the points or either end of its interval is
// missing (value or second derivative below SPLINE_MISSING + 0.01). klo
// carries the interval between calls (0 starts afresh). Throws 82 after the
// console line when the interval's two abscissae are equal.
double evaluate_spline(const double* x, const double* y, const double* y2, int n, double t,
                       double nodata, int& klo, std::ostream* console);

// The first k of first..last-1 with x[k] == x[k+1], 0 when none.
int equal_abscissa(const double* x, int first, int last);

// Writes the console line for x[k] == x[k+1] (when console is given) and throws 82.
[[noreturn]] void fail_equal_abscissae(const double* x, int k, std::ostream* console);

struct spline_frame {
  double xllcorner = 0;   // [m] model grid
  double yllcorner = 0;   // [m]
  double cellsize = 0;    // [m]
  double nodata = -9999;  // grid nodata value G
  double slope = 0;       // [rad] mesh direction
  double dy = 0;          // [m] mean vertical node spacing
  int first_row = 1;      // model rows this process holds
  int last_row = 0;
  int ncols = 0;
};

class TSplines {
 public:
  // node_x, node_y: the nodes' coordinates in the surface frame; coord_x,
  // coord_y: the cells' distance coordinates; zone may be null. Only the rows
  // frame.first_row..last_row of the grids are read.
  TSplines(const mesh_matrix& node_x, const mesh_matrix& node_y, const grid_matrix* coord_x,
           const grid_matrix* coord_y, const grid_matrix* zone, const spline_frame& frame,
           std::ostream* console);

  // The point turned in place about the grid's lower-left corner by -angle [rad].
  double rotate_point(double& x, double& y, double angle) const;
  // Per mesh column: natural splines over the runs of valid node values;
  // a missing node gets the grid nodata value.
  void column_second_derivatives(const mesh_matrix& values, mesh_matrix& y2);
  // The surface onto target (rows first_row..last_row, columns 1..ncols).
  void interpolate_to_grid(const mesh_matrix& values, const mesh_matrix& y2, grid_matrix& target);

  int spline_rows() const { return ny; }
  int spline_cols() const { return nx; }
  double min_x() const { return x_min; }
  double min_y() const { return y_min; }
  // Spline-grid node of a cell's coordinates; false when outside 1..Ny, 1..Nx.
  bool node_of(double x, double y, int64_t& row, int64_t& col) const;

 private:
  void cell_window();
  void mark_cell_nodes();
  void sample_to_grid(grid_matrix& target) const;
  bool usable_cell(int r, int c) const;

  mesh_matrix nodes_x, nodes_y;
  const grid_matrix* cells_x;
  const grid_matrix* cells_y;
  const grid_matrix* zone_grid;
  spline_frame f;
  std::ostream* out;
  int mesh_rows = 0, mesh_cols = 0;
  double x_min = 0, x_max = 0, y_min = 0, y_max = 0, h = 0;
  int ny = 0, nx = 0;
  // Window of spline-grid rows and columns that hold cells; empty when last < first.
  int64_t win_row0 = 1, win_row1 = 0, win_col0 = 1, win_col1 = 0, win_cols = 0;
  std::vector<double> window_values;
  std::vector<uint8_t> window_flags;
  // Per spline-grid row r (1..Ny) and mesh column j: the column spline's
  // value and the column's x at y_r; index r * (cols + 1) + j.
  std::vector<double> column_value, column_x;
  double bottom_left_x = 0, bottom_left_y = 0;  // the bottom-left node turned by -slope
};

// The station mesh of an interpolator and its surface: station numbers of
// the first file per node, the nodes' coordinates, this step's values and
// second derivatives, and for method 8 the gradient surface grid.
struct spline_mesh {
  std::vector<std::vector<int>> station;  // [row][col], 1-based station numbers
  mesh_matrix x, y, values, second;
  std::unique_ptr<TSplines> surface;
  grid_matrix gradient;
};

// 1 when any of flags[1..n] is nonzero, else 0 (also for n <= 0).
int any_flag_set(const int* flags, int n);
