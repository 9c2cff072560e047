// The spline surface over a station mesh: the natural cubic spline kernels
// against hand calculations (Numerical Recipes, 2nd ed., section 3.3), the
// surface's index conventions on a plane (a natural spline reproduces linear
// data exactly, so every reached cell holds the plane at its spline-grid
// node), split runs around a missing node, and the interpolator's methods 7
// and 8 on the small step fixture.
#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "meteo/meteoint_splines.h"
#include "meteo/step_fixture.h"
#include "modelbase/memhandling.h"

namespace {

constexpr double G = -9999;

struct cell_value {
  int row, col;
  double expected;
};
const double NaN = std::numeric_limits<double>::quiet_NaN();

int thrown_by(const std::function<void()>& op) {
  try {
    op();
  } catch (int code) {
    return code;
  }
  return 0;
}

TEST(SplineKernels, NaturalSplineAgainstHandValues) {
  // (0,0), (1,1), (2,0): the natural spline has y2 = -3 in the middle
  // (h/6 y2_0 + 2h/3 y2_1 + h/6 y2_2 = -2 with y2_0 = y2_2 = 0), so at 0.5
  // the value is 0.5 + 0.375 * 3 / 6 = 0.6875. Descending abscissae give the
  // same curve.
  struct row {
    const char* what;
    std::vector<double> x, y;  // index 0 unused
    double t;
    double expected;
  };
  const row rows[] = {
      {"hump, ascending", {0, 0, 1, 2}, {0, 0, 1, 0}, 0.5, 0.6875},
      {"hump, descending", {0, 2, 1, 0}, {0, 0, 1, 0}, 0.5, 0.6875},
      {"hump at a node", {0, 0, 1, 2}, {0, 0, 1, 0}, 1.0, 1.0},
      {"hump at the last node", {0, 0, 1, 2}, {0, 0, 1, 0}, 2.0, 0.0},
      {"line of four unequal steps", {0, 1, 2, 4, 7}, {0, 3, 5, 9, 15}, 5.5, 12},
      {"pair: a straight line", {0, 10, 20}, {0, 1, 3}, 12.5, 1.5},
      {"single point at its abscissa", {0, 5}, {0, 7}, 5, 7},
      {"single point elsewhere", {0, 5}, {0, 7}, 5.5, G},
      {"left of the first point", {0, 0, 1, 2}, {0, 0, 1, 0}, -0.1, G},
      {"right of the last point", {0, 0, 1, 2}, {0, 0, 1, 0}, 2.1, G},
      {"interval with a missing end", {0, 0, 1, 2}, {0, 0, 1, SPLINE_MISSING}, 1.5, G},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const int n = static_cast<int>(r.x.size()) - 1;
    std::vector<double> y2(r.x.size(), NaN);
    int first = 1;
    for (int k = 1; k <= n + 1; ++k)
      if (k > n || r.y[static_cast<size_t>(k)] < SPLINE_MISSING + 0.01) {
        if (k > first) spline_second_derivatives(r.x.data(), r.y.data(), first, k - 1, y2.data());
        if (k <= n) y2[static_cast<size_t>(k)] = G;
        first = k + 1;
      }
    for (int k = 1; k <= n; ++k) EXPECT_FALSE(std::isnan(y2[static_cast<size_t>(k)])) << k;
    int klo = 0;
    EXPECT_NEAR(evaluate_spline(r.x.data(), r.y.data(), y2.data(), n, r.t, G, klo, nullptr),
                r.expected, 1e-12);
  }
}

TEST(SplineKernels, EqualAbscissaeWriteTheConsoleLineAndThrow82) {
  const std::vector<double> x{0, 1, 3, 3};
  const std::vector<double> y{0, 1, 2, 3};
  const std::vector<double> y2{0, 0, 0, 0};
  std::ostringstream console;
  int klo = 0;
  EXPECT_EQ(
      thrown_by([&] { evaluate_spline(x.data(), y.data(), y2.data(), 3, 3, G, klo, &console); }),
      82);
  EXPECT_EQ(console.str(),
            "The two input coordinates 3 (index 2) \nand 3 (index 3) for the "
            "1-D-Splineevaluation are the same!\n");
  EXPECT_EQ(equal_abscissa(x.data(), 1, 3), 2);
  EXPECT_EQ(equal_abscissa(x.data(), 1, 2), 0);
}

// A model grid of 12 rows by 14 cells of 100 m, lower-left corner (0, 0),
// cell coordinates at the lower-left corners; a 3 by 4 station mesh at
// x = 100, 400, 700, 1000 and y = 150, 450, 750 (row 1 on top). Cells of
// column 14 lie outside the zone grid.
struct mesh_grid {
  static constexpr int ROWS = 12, COLS = 14;
  memory_handling mh;
  grid_matrix x = mh.matrix(1, ROWS, 1, COLS, ROWS);
  grid_matrix y = mh.matrix(1, ROWS, 1, COLS, ROWS);
  grid_matrix zone = mh.matrix(1, ROWS, 1, COLS, ROWS);
  grid_matrix out = mh.matrix(1, ROWS, 1, COLS, ROWS);
  mesh_matrix nx, ny;
  mesh_grid() {
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) {
        x[r][c] = 100.0 * (c - 1);
        y[r][c] = 100.0 * (ROWS - r);
        zone[r][c] = c == COLS ? G : 1;
        out[r][c] = 12345;
      }
    nx.assign(4, std::vector<double>(5, 0));
    ny = nx;
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 4; ++j) {
        nx[static_cast<size_t>(i)][static_cast<size_t>(j)] = 100 + 300.0 * (j - 1);
        ny[static_cast<size_t>(i)][static_cast<size_t>(j)] = 750 - 300.0 * (i - 1);
      }
  }
  spline_frame frame(int first_row = 1, int last_row = ROWS) const {
    return {0, 0, 100, G, 0, 300, first_row, last_row, COLS};
  }
};

double plane(double x, double y) { return 2 + 0.01 * x - 0.003 * y; }

// The node of a cell by the surface's conventions, computed here from the
// extent: min_x 100, min_y 150, h 100, Ny = 7, Nx = 10; node row r lies at
// y = 150 + (7 - r) 100 and node column c is evaluated at 100 + (c + 1) 100.
struct node_point {
  bool inside;
  double x, y;
};
node_point node_of_cell(double x, double y) {
  const double rr = std::floor((y - 150) / 100 + 0.4999);
  const double cc = std::floor((x - 100) / 100);
  if (rr < 0 || rr > 6 || cc < 0 || cc > 9) return {false, 0, 0};
  return {true, 100 + (cc + 2) * 100, 150 + rr * 100};
}

TEST(SplineSurface, PlaneGivesEveryReachedCellThePlaneAtItsNode) {
  mesh_grid g;
  mesh_matrix values = g.nx, y2 = g.nx;
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j) {
      const size_t ii = static_cast<size_t>(i), jj = static_cast<size_t>(j);
      values[ii][jj] = plane(g.nx[ii][jj], g.ny[ii][jj]);
      y2[ii][jj] = NaN;
    }
  TSplines surface(g.nx, g.ny, &g.x, &g.y, &g.zone, g.frame(), nullptr);
  EXPECT_EQ(surface.spline_rows(), 7);
  EXPECT_EQ(surface.spline_cols(), 10);
  surface.column_second_derivatives(values, y2);
  surface.interpolate_to_grid(values, y2, g.out);
  int spline_cells = 0, beyond_last_column = 0;
  for (int r = 1; r <= mesh_grid::ROWS; ++r)
    for (int c = 1; c <= mesh_grid::COLS; ++c) {
      SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
      const node_point p = node_of_cell(g.x[r][c], g.y[r][c]);
      const bool reached = g.zone[r][c] != G && p.inside && p.x <= 1000 + 1e-9;
      if (reached) {
        EXPECT_NEAR(g.out[r][c], plane(p.x, p.y), 1e-9);
        ++spline_cells;
      } else {
        EXPECT_EQ(g.out[r][c], G);
        if (g.zone[r][c] != G && p.inside) ++beyond_last_column;
      }
    }
  // Both kinds occur: node columns 9 and 10 lie beyond the last mesh column.
  EXPECT_GT(spline_cells, 0);
  EXPECT_GT(beyond_last_column, 0);
}

TEST(SplineSurface, AnyBandOfRowsOrThreadCountGivesTheWholeGridsValues) {
  mesh_grid whole;
  mesh_matrix values = whole.nx, y2 = whole.nx;
  for (size_t i = 1; i <= 3; ++i)
    for (size_t j = 1; j <= 4; ++j)
      values[i][j] = std::sin(0.003 * whole.nx[i][j]) + std::cos(0.002 * whole.ny[i][j]);
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  TSplines all(whole.nx, whole.ny, &whole.x, &whole.y, &whole.zone, whole.frame(), nullptr);
  all.column_second_derivatives(values, y2);
  all.interpolate_to_grid(values, y2, whole.out);
  omp_set_num_threads(4);
  mesh_grid four;
  TSplines on_four(four.nx, four.ny, &four.x, &four.y, &four.zone, four.frame(), nullptr);
  on_four.interpolate_to_grid(values, y2, four.out);
  omp_set_num_threads(threads);
  for (int r = 1; r <= mesh_grid::ROWS; ++r)
    for (int c = 1; c <= mesh_grid::COLS; ++c)
      EXPECT_EQ(four.out[r][c], whole.out[r][c]) << "4 threads: " << r << "," << c;
  // Bands as three processes would hold them; rows outside a band stay untouched.
  const int bands[][2] = {{1, 4}, {5, 8}, {9, 12}, {6, 6}};
  for (const auto& band : bands) {
    mesh_grid part;
    TSplines own(part.nx, part.ny, &part.x, &part.y, &part.zone, part.frame(band[0], band[1]),
                 nullptr);
    own.column_second_derivatives(values, y2);
    own.interpolate_to_grid(values, y2, part.out);
    for (int r = 1; r <= mesh_grid::ROWS; ++r)
      for (int c = 1; c <= mesh_grid::COLS; ++c)
        EXPECT_EQ(part.out[r][c], r >= band[0] && r <= band[1] ? whole.out[r][c] : 12345)
            << band[0] << ": " << r << "," << c;
  }
}

TEST(SplineSurface, MissingNodeSplitsTheRunsAndEndsAreNatural) {
  mesh_grid g;
  mesh_matrix values = g.nx, y2 = g.nx;
  for (size_t i = 1; i <= 3; ++i)
    for (size_t j = 1; j <= 4; ++j) {
      values[i][j] = plane(g.nx[i][j], g.ny[i][j]);
      y2[i][j] = NaN;
    }
  // The middle node of column 2 is missing: its column is two single nodes,
  // whose second derivatives are the natural 0, never left unset.
  values[2][2] = SPLINE_MISSING;
  TSplines surface(g.nx, g.ny, &g.x, &g.y, &g.zone, g.frame(), nullptr);
  surface.column_second_derivatives(values, y2);
  EXPECT_EQ(y2[2][2], G);
  EXPECT_EQ(y2[1][2], 0);
  EXPECT_EQ(y2[3][2], 0);
  for (size_t j : {1, 3, 4})
    for (size_t i = 1; i <= 3; ++i) EXPECT_NEAR(y2[i][j], 0, 1e-12) << i << "," << j;
  surface.interpolate_to_grid(values, y2, g.out);
  // Column 2 reaches no spline-grid row between its nodes, so every row
  // splits there: what remains is the pair of columns 3 and 4 (x 700 to
  // 1000), still exact on the plane; from x 100 to 700 nothing.
  int reached = 0;
  for (int r = 1; r <= mesh_grid::ROWS; ++r)
    for (int c = 1; c <= mesh_grid::COLS; ++c) {
      const node_point p = node_of_cell(g.x[r][c], g.y[r][c]);
      if (g.out[r][c] == G) continue;
      ++reached;
      EXPECT_TRUE(p.inside && p.x >= 700 - 1e-9 && p.x <= 1000 + 1e-9) << r << "," << c;
      EXPECT_NEAR(g.out[r][c], plane(p.x, p.y), 1e-9) << r << "," << c;
    }
  EXPECT_GT(reached, 0);
}

TEST(SplineSurface, SingleRowMeshHasNaturalEndsAndReachesItsRowOnly) {
  mesh_grid g;
  // One mesh row at y 450: x 100, 400, 700, 1000.
  mesh_matrix nx(2, std::vector<double>(5, 0)), ny = nx, values = nx, y2 = nx;
  for (size_t j = 1; j <= 4; ++j) {
    nx[1][j] = 100 + 300.0 * static_cast<double>(j - 1);
    ny[1][j] = 450;
    values[1][j] = plane(nx[1][j], 450);
    y2[1][j] = NaN;
  }
  TSplines surface(nx, ny, &g.x, &g.y, &g.zone, g.frame(), nullptr);
  EXPECT_EQ(surface.spline_rows(), 1);
  surface.column_second_derivatives(values, y2);
  for (size_t j = 1; j <= 4; ++j) EXPECT_EQ(y2[1][j], 0) << j;
  surface.interpolate_to_grid(values, y2, g.out);
  // Cells from y 400.01 to 500 take the single spline-grid row; of row 7 of
  // the grid (y 500) those whose node column lies within the mesh.
  int reached = 0;
  for (int r = 1; r <= mesh_grid::ROWS; ++r)
    for (int c = 1; c <= mesh_grid::COLS; ++c) {
      const double node_x = 100 + (std::floor((g.x[r][c] - 100) / 100) + 2) * 100;
      const bool inside =
          g.y[r][c] == 500 && g.x[r][c] >= 100 && node_x <= 1000 && g.zone[r][c] != G;
      if (!inside) {
        EXPECT_EQ(g.out[r][c], G) << r << "," << c;
        continue;
      }
      EXPECT_NEAR(g.out[r][c], plane(node_x, 450), 1e-9) << r << "," << c;
      ++reached;
    }
  EXPECT_GT(reached, 0);
}

// The step fixture's four stations S1 (1000, 2000), S2 (1200, 2000), S3
// (1000, 2100), S4 (1200, 2100) form a 2 by 2 mesh. The spline grid runs
// from x 1000 to 1200 (Nx 3) and y 2000 to 2100 (Ny 2); cells of column 1
// take node column 1, evaluated at x = 1000 + 2 h = 1200, the right mesh
// column; cells of columns 2 and 3 lie beyond it and take IDW.
struct spline_built {
  step_fixture f;
  input_ptr input;
  int status = -1;
};

std::unique_ptr<spline_built> build_splines(int method, const std::string& rows,
                                            const std::string& gradient_rows = "",
                                            const std::string& xs = "1000 1200 1000 1200") {
  auto b = std::make_unique<spline_built>();
  step_section s;
  s.method = method;
  s.files = method == 8 ? "$D/st.txt\n$D/st2.txt\n" : "$D/st.txt\n";
  b->f.write("st.txt", station_file_text("400 600 500 550", xs, "2000 2000 2100 2100", rows));
  b->f.write("st2.txt",
             station_file_text("400 600 500 550", xs, "2000 2000 2100 2100", gradient_rows));
  b->f.write_control("[temperature]\n" + with_dir(b->f, s.text()));
  b->input = b->f.build("temperature", b->status);
  return b;
}

// IDW with power 2 at a point from (x, y, value) stations; a squared distance
// of 0 counts as 1.
double idw_by_hand(double x, double y, const std::vector<std::array<double, 3>>& st) {
  double sum = 0, weights = 0;
  for (const auto& s : st) {
    double d2 = (s[0] - x) * (s[0] - x) + (s[1] - y) * (s[1] - y);
    if (d2 == 0) d2 = 1;
    sum += s[2] / d2;
    weights += 1 / d2;
  }
  return sum / weights;
}

TEST(SplineMethods, SurfaceCellsTakeTheSplineOthersIdw) {
  const std::vector<std::array<double, 3>> all{
      {1000, 2000, 10}, {1200, 2000, 20}, {1000, 2100, 30}, {1200, 2100, 40}};
  const std::vector<std::array<double, 3>> without_s2{
      {1000, 2000, 10}, {1000, 2100, 30}, {1200, 2100, 40}};
  struct row {
    const char* what;
    int method;
    const char* rows;
    const char* gradient_rows;
    std::vector<cell_value> cells;
  };
  // Elevations: row 1 500 550 600, row 2 400 450 600.
  const row rows[] = {
      {"method 7: column 1 the right mesh column",
       7,
       "2001 1 1 0 10 20 30 40\n",
       "",
       {{1, 1, 40},
        {2, 1, 20},
        {2, 2, idw_by_hand(1100, 2000, all)},
        {1, 3, idw_by_hand(1200, 2100, all)}}},
      {"method 8: residual plus gradient times elevation",
       8,
       "2001 1 1 0 10 20 30 40\n",
       "2001 1 1 0 0.01 0.02 0.03 0.04\n",
       {{1, 1, 40 + 0.04 * 500}, {2, 1, 20 + 0.02 * 400}, {2, 3, idw_by_hand(1200, 2000, all)}}},
      {"method 8: a missing gradient leaves IDW",
       8,
       "2001 1 1 0 10 20 30 40\n",
       "2001 1 1 0 0.01 -99999 0.03 0.04\n",
       {{1, 1, idw_by_hand(1000, 2100, all)}, {2, 1, idw_by_hand(1000, 2000, all)}}},
      {"method 7: S2 missing, its pieces reach both rows of column 1",
       7,
       "2001 1 1 0 10 -99999 30 40\n",
       "",
       {{1, 1, idw_by_hand(1000, 2100, without_s2)}, {2, 1, idw_by_hand(1000, 2000, without_s2)}}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    auto b = build_splines(r.method, r.rows, r.gradient_rows);
    ASSERT_EQ(b->status, 0) << b->f.console();
    ASSERT_EQ(thrown_by([&] { b->input->interpolate(0, 1, 1, 2001); }), 0) << b->f.console();
    for (const cell_value& c : r.cells)
      EXPECT_NEAR(b->input->result()[c.row][c.col], c.expected, 1e-9) << c.row << "," << c.col;
  }
}

TEST(SplineMethods, MeshFaults) {
  // Three stations in two columns of unequal length.
  auto unequal = build_splines(7, "2001 1 1 0 10 20 30 40\n", "", "1000 1200 1000 1400");
  EXPECT_EQ(unequal->status, 70);
  EXPECT_NE(unequal->f.console().find(
                "Error converting the station coordinates into a grid:\nThe actual version of "
                "Velmo-Orv accepts only station meshs\nwith an equal number of more or less "
                "equally spaced stations\nin each column, whereas the total number of both, rows "
                "\nand columns, are each virtually unlimited\n"),
            std::string::npos)
      << unequal->f.console();

  // Every station at x 1000: no spacing along x, so each station is a
  // column of its own, four columns at one abscissa.
  auto stacked = build_splines(7, "2001 1 1 0 10 20 30 40\n", "", "1000 1000 1000 1000");
  ASSERT_EQ(stacked->status, 0) << stacked->f.console();
  testing::internal::CaptureStdout();
  const int code = thrown_by([&] { stacked->input->interpolate(0, 1, 1, 2001); });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 82);
  EXPECT_NE(out.find("for the 1-D-Splineevaluation are the same!"), std::string::npos) << out;
}

}  // namespace
