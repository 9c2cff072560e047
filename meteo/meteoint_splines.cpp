#include "meteo/meteoint_splines.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "meteo/meteoint_geometry.h"

namespace {

bool missing(double v) { return v < SPLINE_MISSING + 0.01; }

// Ends of a spline reach a point that lies on them up to round-off: the top
// spline-grid row is computed as min_y + (Ny - 1) h, not read as max_y.
double end_tolerance(double span) { return 1e-9 * std::max(1.0, std::fabs(span)); }

// Natural splines over the runs of valid values of y[1..n]; invalid entries
// get second derivative `invalid`.
void runs_second_derivatives(const double* x, const double* y, int n, double* y2, double invalid) {
  int k = 1;
  while (k <= n) {
    if (missing(y[k])) {
      y2[k] = invalid;
      ++k;
      continue;
    }
    int last = k;
    while (last < n && !missing(y[last + 1])) ++last;
    spline_second_derivatives(x, y, k, last, y2);
    k = last + 1;
  }
}

}  // namespace

void spline_second_derivatives(const double* x, const double* y, int first, int last, double* y2) {
  if (last < first) return;
  // Natural ends: y2 = 0 at both ends, so a single point or a pair gets 0
  // rather than an unset value.
  y2[first] = 0;
  y2[last] = 0;
  if (last - first < 2) return;
  std::vector<double> u(static_cast<size_t>(last + 1), 0.0);
  for (int i = first + 1; i <= last - 1; ++i) {
    const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
    const double p = sig * y2[i - 1] + 2;
    y2[i] = (sig - 1) / p;
    const double slope_diff =
        (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
    u[static_cast<size_t>(i)] =
        (6 * slope_diff / (x[i + 1] - x[i - 1]) - sig * u[static_cast<size_t>(i - 1)]) / p;
  }
  for (int i = last - 1; i >= first + 1; --i) y2[i] = y2[i] * y2[i + 1] + u[static_cast<size_t>(i)];
}

int equal_abscissa(const double* x, int first, int last) {
  for (int k = first; k < last; ++k)
    if (x[k] == x[k + 1]) return k;
  return 0;
}

void fail_equal_abscissae(const double* x, int k, std::ostream* console) {
  if (console != nullptr)
    *console << "The two input coordinates " << x[k] << " (index " << k << ") \n"
             << "and " << x[k + 1] << " (index " << k + 1
             << ") for the 1-D-Splineevaluation are the same!" << std::endl;
  throw SPLINE_EQUAL_ABSCISSAE;
}

double evaluate_spline(const double* x, const double* y, const double* y2, int n, double t,
                       double nodata, int& klo, std::ostream* console) {
  if (n < 1) return nodata;
  const double eps = end_tolerance(x[n] - x[1]);
  if (n == 1) {
    if (std::fabs(t - x[1]) > eps || missing(y[1]) || missing(y2[1])) return nodata;
    return y[1];
  }
  // Descending abscissae are searched as ascending ones mirrored.
  const double dir = x[n] >= x[1] ? 1.0 : -1.0;
  const double s = dir * t;
  if (s < dir * x[1] - eps || s > dir * x[n] + eps) return nodata;
  if (klo < 1 || klo > n - 1) klo = 1;
  while (klo > 1 && s < dir * x[klo]) --klo;
  while (klo < n - 1 && s >= dir * x[klo + 1]) ++klo;
  const int khi = klo + 1;
  const double d = x[khi] - x[klo];
  if (d == 0) fail_equal_abscissae(x, klo, console);
  if (missing(y[klo]) || missing(y[khi]) || missing(y2[klo]) || missing(y2[khi])) return nodata;
  const double a = (x[khi] - t) / d;
  const double b = (t - x[klo]) / d;
  return a * y[klo] + b * y[khi] +
         ((a * a * a - a) * y2[klo] + (b * b * b - b) * y2[khi]) * d * d / 6.0;
}

TSplines::TSplines(const mesh_matrix& node_x, const mesh_matrix& node_y, const grid_matrix* coord_x,
                   const grid_matrix* coord_y, const grid_matrix* zone, const spline_frame& frame,
                   std::ostream* console)
    : nodes_x(node_x),
      nodes_y(node_y),
      cells_x(coord_x),
      cells_y(coord_y),
      zone_grid(zone),
      f(frame),
      out(console) {
  mesh_rows = static_cast<int>(nodes_x.size()) - 1;
  mesh_cols = mesh_rows >= 1 ? static_cast<int>(nodes_x[1].size()) - 1 : 0;
  const double bl_x = nodes_x[static_cast<size_t>(mesh_rows)][1];
  const double bl_y = nodes_y[static_cast<size_t>(mesh_rows)][1];
  x_min = x_max = bl_x;
  y_min = y_max = bl_y;
  for (int i = 1; i <= mesh_rows; ++i) {
    const auto& row_x = nodes_x[static_cast<size_t>(i)];
    if (!missing(row_x[1])) x_min = std::min(x_min, row_x[1]);
    if (!missing(row_x[static_cast<size_t>(mesh_cols)]))
      x_max = std::max(x_max, row_x[static_cast<size_t>(mesh_cols)]);
  }
  for (int j = 1; j <= mesh_cols; ++j) {
    const double bottom = nodes_y[static_cast<size_t>(mesh_rows)][static_cast<size_t>(j)];
    const double top = nodes_y[1][static_cast<size_t>(j)];
    if (!missing(bottom)) y_min = std::min(y_min, bottom);
    if (!missing(top)) y_max = std::max(y_max, top);
  }
  h = f.cellsize / 1.0;
  ny = static_cast<int>(std::floor((y_max - y_min) / h + 0.49999)) + 1;
  nx = static_cast<int>(std::floor((x_max - x_min) / h + 0.49999)) + 1;
  bottom_left_x = bl_x;
  bottom_left_y = bl_y;
  rotate_point(bottom_left_x, bottom_left_y, f.slope);
  const size_t per_row = static_cast<size_t>(mesh_cols + 1);
  column_value.assign(static_cast<size_t>(ny + 1) * per_row, f.nodata);
  column_x.assign(static_cast<size_t>(ny + 1) * per_row, 0.0);
  cell_window();
  mark_cell_nodes();
}

double TSplines::rotate_point(double& x, double& y, double angle) const {
  const rotated_point p = rotate_about_corner(f.xllcorner, f.yllcorner, x, y, angle);
  x = p.x;
  y = p.y;
  return x;
}

bool TSplines::node_of(double x, double y, int64_t& row, int64_t& col) const {
  const double rr = std::floor((y - y_min) / h + 0.4999);
  const double cc = std::floor((x - x_min) / h);
  if (!(rr >= 0 && rr <= ny - 1 && cc >= 0 && cc <= nx - 1)) return false;
  row = ny - static_cast<int64_t>(rr);
  col = static_cast<int64_t>(cc) + 1;
  return true;
}

bool TSplines::usable_cell(int r, int c) const {
  if (zone_grid != nullptr && !((*zone_grid)[r][c] > f.nodata + 0.01)) return false;
  return (*cells_x)[r][c] > f.nodata + 0.01 && (*cells_y)[r][c] > f.nodata + 0.01;
}

// Only the rows this process holds: the grids have no others, and the values
// of a node do not depend on the window, so every division gives one surface.
void TSplines::cell_window() {
  int64_t r0 = ny + 1, r1 = 0, c0 = nx + 1, c1 = 0;
  for (int r = f.first_row; r <= f.last_row; ++r)
    for (int c = 1; c <= f.ncols; ++c) {
      int64_t row = 0, col = 0;
      if (!usable_cell(r, c) || !node_of((*cells_x)[r][c], (*cells_y)[r][c], row, col)) continue;
      r0 = std::min(r0, row);
      r1 = std::max(r1, row);
      c0 = std::min(c0, col);
      c1 = std::max(c1, col);
    }
  if (r1 < r0) {
    win_row0 = 1, win_row1 = 0, win_col0 = 1, win_col1 = 0, win_cols = 0;
    return;
  }
  win_row0 = std::max<int64_t>(1, r0 - 1);
  win_row1 = std::min<int64_t>(ny, r1 + 1);
  win_col0 = std::max<int64_t>(1, c0 - 1);
  win_col1 = std::min<int64_t>(nx, c1 + 1);
  win_cols = win_col1 - win_col0 + 1;
}

void TSplines::mark_cell_nodes() {
  const int64_t rows = win_row1 >= win_row0 ? win_row1 - win_row0 + 1 : 0;
  window_values.assign(static_cast<size_t>(rows * win_cols), f.nodata);
  window_flags.assign(static_cast<size_t>(rows * win_cols), 0);
  for (int r = f.first_row; r <= f.last_row && rows > 0; ++r)
    for (int c = 1; c <= f.ncols; ++c) {
      int64_t row = 0, col = 0;
      if (!usable_cell(r, c) || !node_of((*cells_x)[r][c], (*cells_y)[r][c], row, col)) continue;
      window_flags[static_cast<size_t>((row - win_row0) * win_cols + (col - win_col0))] = 1;
    }
}

void TSplines::column_second_derivatives(const mesh_matrix& values, mesh_matrix& y2) {
  std::vector<double> x(static_cast<size_t>(mesh_rows + 1)), v(x.size()), d2(x.size());
  for (int j = 1; j <= mesh_cols; ++j) {
    const size_t jj = static_cast<size_t>(j);
    // Bottom up, k = 1 the bottom node: the abscissae ascend.
    for (int k = 1; k <= mesh_rows; ++k) {
      const size_t i = static_cast<size_t>(mesh_rows + 1 - k);
      x[static_cast<size_t>(k)] = nodes_y[i][jj];
      v[static_cast<size_t>(k)] = values[i][jj];
    }
    if (const int k = equal_abscissa(x.data(), 1, mesh_rows); k != 0)
      fail_equal_abscissae(x.data(), k, out);
    runs_second_derivatives(x.data(), v.data(), mesh_rows, d2.data(), f.nodata);
    for (int k = 1; k <= mesh_rows; ++k)
      y2[static_cast<size_t>(mesh_rows + 1 - k)][jj] = d2[static_cast<size_t>(k)];
  }
}

void TSplines::interpolate_to_grid(const mesh_matrix& values, const mesh_matrix& y2,
                                   grid_matrix& target) {
  const size_t per_row = static_cast<size_t>(mesh_cols + 1);
  std::vector<double> ys(per_row), xs(per_row), v(per_row), d2(per_row);
  const int64_t rows = win_row1 >= win_row0 ? win_row1 - win_row0 + 1 : 0;
  // First pass: every mesh column at every spline-grid row of the window.
  for (int j = 1; j <= mesh_cols && rows > 0; ++j) {
    const size_t jj = static_cast<size_t>(j);
    std::vector<double> yk(static_cast<size_t>(mesh_rows + 1)), xk(yk.size()), vk(yk.size()),
        dk(yk.size());
    for (int k = 1; k <= mesh_rows; ++k) {
      const size_t i = static_cast<size_t>(mesh_rows + 1 - k);
      const size_t kk = static_cast<size_t>(k);
      yk[kk] = nodes_y[i][jj];
      if (missing(yk[kk])) yk[kk] = bottom_left_y + f.dy * (k - 1);
      xk[kk] = nodes_x[i][jj];
      vk[kk] = values[i][jj];
      dk[kk] = y2[i][jj];
    }
    int klo = 0;
    for (int64_t r = win_row0; r <= win_row1; ++r) {
      const double yr = y_min + static_cast<double>(ny - r) * h;
      double xr = xk[1];
      if (mesh_rows > 1) {
        int k = 1;
        while (k < mesh_rows - 1 && yr > yk[static_cast<size_t>(k + 1)]) ++k;
        const double y0 = yk[static_cast<size_t>(k)], y1 = yk[static_cast<size_t>(k + 1)];
        const double x0 = xk[static_cast<size_t>(k)], x1 = xk[static_cast<size_t>(k + 1)];
        xr = y1 != y0 ? x0 + (x1 - x0) * (yr - y0) / (y1 - y0) : x0;
      }
      const size_t at = static_cast<size_t>(r) * per_row + jj;
      column_x[at] = xr;
      column_value[at] =
          evaluate_spline(yk.data(), vk.data(), dk.data(), mesh_rows, yr, f.nodata, klo, out);
    }
  }
  // Equal column abscissae are refused before the threads start, so that no
  // thread throws.
  for (int64_t r = win_row0; r <= win_row1; ++r) {
    const double* row_x = column_x.data() + static_cast<size_t>(r) * per_row;
    if (const int k = equal_abscissa(row_x, 1, mesh_cols); k != 0)
      fail_equal_abscissae(row_x, k, out);
  }
  // Second pass: along every spline-grid row of the window across the columns.
#pragma omp parallel for schedule(static) firstprivate(xs, v, d2)
  for (int64_t r = win_row0; r <= win_row1; ++r) {
    const size_t base = static_cast<size_t>(r) * per_row;
    for (int j = 1; j <= mesh_cols; ++j) {
      xs[static_cast<size_t>(j)] = column_x[base + static_cast<size_t>(j)];
      const double cv = column_value[base + static_cast<size_t>(j)];
      v[static_cast<size_t>(j)] = cv == f.nodata ? SPLINE_MISSING : cv;
    }
    runs_second_derivatives(xs.data(), v.data(), mesh_cols, d2.data(), SPLINE_MISSING);
    int klo = 0;
    for (int64_t c = win_col0; c <= win_col1; ++c) {
      const size_t at = static_cast<size_t>((r - win_row0) * win_cols + (c - win_col0));
      if (window_flags[at] == 0) continue;
      const double t = x_min + static_cast<double>(c + 1) * h;
      window_values[at] =
          evaluate_spline(xs.data(), v.data(), d2.data(), mesh_cols, t, f.nodata, klo, nullptr);
    }
  }
  sample_to_grid(target);
}

void TSplines::sample_to_grid(grid_matrix& target) const {
#pragma omp parallel for schedule(static)
  for (int r = f.first_row; r <= f.last_row; ++r)
    for (int c = 1; c <= f.ncols; ++c) {
      int64_t row = 0, col = 0;
      double v = f.nodata;
      if (usable_cell(r, c) && node_of((*cells_x)[r][c], (*cells_y)[r][c], row, col) &&
          row >= win_row0 && row <= win_row1 && col >= win_col0 && col <= win_col1)
        v = window_values[static_cast<size_t>((row - win_row0) * win_cols + (col - win_col0))];
      target[r][c] = v;
    }
}

int any_flag_set(const int* flags, int n) {
  for (int k = 1; k <= n; ++k)
    if (flags[k] != 0) return 1;
  return 0;
}
