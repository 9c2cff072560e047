// Derived grids on any number of processes: every process holds, in its own
// cells and in its halo cells, the slope and aspect of a tilted plane (also
// in the first and last own rows of its band and at the edge of the basin),
// the lower-left corners of the cells and the region weights their owners
// computed; and the coordinates cumulated from irregular cell sizes and the
// slopes of a rippled surface that every process computes over its band are
// those of a walk over the whole grid.
#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "modelbase/memhandling.h"
#include "settings/derived_grids_kernels.h"
#include "settings/derived_setup_fixture.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 8;

// An irregular basin with a notch; '.' is outside.
const char* const BASIN[ROWS] = {"........", ".111111.", "1111111.", ".1111111", "..111111",
                                 ".111.111", ".1111111", "111111..", "........"};

std::string zone_text() {
  std::string rows;
  for (const char* line : BASIN) {
    for (int c = 0; c < COLS; ++c) rows += line[c] == '.' ? "-9999 " : "1 ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

// z = 1000 + gx * x + gy * y with x east and y north of the lower-left corner.
constexpr double GX = 0.12;
constexpr double GY = -0.05;

std::string dem_text() {
  std::string rows;
  char number[64];
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) {
      std::snprintf(number, sizeof number, "%.6f ", 1000 + GX * 100 * c + GY * 100 * (ROWS - r));
      rows += number;
    }
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

// Regions 2 (north-west of a diagonal) and 5.
std::string region_text() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += r + c <= 9 ? "2 " : "5 ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

// Process 0's values of a grid, rows 1..ROWS, on every process.
std::vector<double> process_0_values(int rank, const grid_matrix& g) {
  std::vector<double> v(static_cast<size_t>(ROWS * COLS), 0.0);
  if (rank == 0)
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) v[static_cast<size_t>((r - 1) * COLS + c - 1)] = g[r][c];
  MPI_Bcast(v.data(), ROWS * COLS, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  return v;
}

TEST(DerivedGridsMpi, OwnAndHaloCellsHoldWhatOneProcessComputes) {
  control_parts parts;
  parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
  parts.transition = "300\n";
  settings_setup run(
      parts, {{"zones.asc", zone_text()}, {"dem.asc", dem_text()}, {"regions.asc", region_text()}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const int rank = run.rank;
  const grid_matrix& regions = run.grid("MPIRegions");
  const grid_matrix& halo = run.grid("MPIHalo");
  const grid_matrix& slope = run.grid("slope_angle");
  const grid_matrix& aspect = run.grid("slope_aspect");
  const grid_matrix& x = run.grid("CoordX");
  const grid_matrix& y = run.grid("CoordY");
  // The weights cover each process's band; process 0 collects a copy.
  auto collected = [&](const char* grid_name) {
    const grid_matrix copy = run.settings->gather_grid_copy(run.settings->find_grid(grid_name));
    return process_0_values(rank, copy);
  };
  const std::vector<double> w1 = collected("regression_weights1");
  const std::vector<double> w2 = collected("regression_weights2");
  const grid_matrix& own_w1 = run.grid("regression_weights1");
  const grid_matrix& own_w2 = run.grid("regression_weights2");

  // Closed form of the plane: slope atan(|grad z|), facing downhill.
  const double expected_slope = std::atan(std::hypot(GX, GY)) * 180.0 / std::numbers::pi;
  double expected_aspect = std::atan2(-GX, -GY) * 180.0 / std::numbers::pi;
  if (expected_aspect < 0) expected_aspect += 360.0;

  int checked = 0;
  for (int r = slope.first_row(); r <= slope.last_row(); ++r)
    for (int c = 1; c <= COLS; ++c) {
      const bool own = regions[r][c] == rank;
      const bool halo_cell = halo[r][c] != NODATA;
      if (!own && !halo_cell) continue;
      SCOPED_TRACE(testing::Message() << "process " << rank << " cell " << r << "," << c);
      EXPECT_NEAR(slope[r][c], expected_slope, 1e-9);
      EXPECT_NEAR(aspect[r][c], expected_aspect, 1e-9);
      const size_t k = static_cast<size_t>((r - 1) * COLS + c - 1);
      EXPECT_EQ(own_w1[r][c], w1[k]);
      EXPECT_EQ(own_w2[r][c], w2[k]);
      if (own) {
        // Uniform cells: x = 100 (c - 1), y = 100 (ROWS - r).
        EXPECT_EQ(x[r][c], 100.0 * (c - 1));
        EXPECT_EQ(y[r][c], 100.0 * (ROWS - r));
      }
      ++checked;
    }
  EXPECT_GT(checked, 0);
  // Weights lie in 0.5 .. 1 and add up to 1 with the second region's.
  for (size_t k = 0; k < w1.size(); ++k) {
    const int r = static_cast<int>(k) / COLS;
    if (BASIN[r][k % COLS] == '.') continue;
    EXPECT_GE(w1[k], 0.5);
    EXPECT_LE(w1[k], 1.0);
    EXPECT_NEAR(w1[k] + w2[k], 1.0, 1e-12);
  }
}

}  // namespace

namespace {

// A larger basin for the band edges: a ragged outline, a hole, a row
// without basin cells between two parts (a band may end on either side of
// it), given cell sizes that are not multiples of anything, and an
// elevation model that also holds values outside the basin.
constexpr int ROWS2 = 23;
constexpr int COLS2 = 17;
constexpr double NOMINAL = 100;  // [m] cellsize

bool in_basin(int r, int c) {
  if (r == 1 || r == 14 || r == ROWS2) return false;
  if (r == 10 && (c == 8 || c == 9)) return false;
  const double dy = (r - 12.0) / 11.0;
  const double dx = (c - 9.0) / 8.5;
  const double ragged = 0.9 + 0.12 * ((r * 5 + c * 3) % 4) / 3.0;
  return dx * dx + dy * dy <= ragged * ragged;
}
double size_x(int r, int c) { return 97.3 + 0.0137 * ((r * 7 + c * 3) % 11); }
double size_y(int r, int c) { return 101.1 - 0.0291 * ((r * 5 + c * 11) % 13); }
bool has_elevation(int r, int c) { return in_basin(r, c) || (r + c) % 3 != 0; }
double elevation(int r, int c) {
  return 800 + 3.7 * r - 2.3 * c + 5.0 * std::sin(0.7 * r) * std::cos(0.9 * c);
}

template <class F>
std::string grid_text2(F value) {
  std::string rows;
  char number[64];
  for (int r = 1; r <= ROWS2; ++r) {
    for (int c = 1; c <= COLS2; ++c) {
      std::snprintf(number, sizeof number, "%.6f ", value(r, c));
      rows += number;
    }
    rows += "\n";
  }
  return text_grid_of(rows, COLS2, ROWS2, NOMINAL);
}

// The value a text grid holds after it is read: its "%.6f" digits.
double as_read(double v) {
  char number[64];
  std::snprintf(number, sizeof number, "%.6f", v);
  return std::strtod(number, nullptr);
}

// Whole-grid slope and aspect by the documented walk: central differences
// where all four neighbours have an elevation, then, row by row, cells
// with an elevation but no value take the mean of their valid neighbours
// (aspect grid first, then slope), a filled cell counting for later ones.
struct whole_topography {
  grid_matrix z, slope, aspect;
  explicit whole_topography(memory_handling& alloc) {
    z = alloc.matrix(1, ROWS2, 1, COLS2, 0);
    slope = alloc.matrix(1, ROWS2, 1, COLS2, 0);
    aspect = alloc.matrix(1, ROWS2, 1, COLS2, 0);
    for (int r = 1; r <= ROWS2; ++r)
      for (int c = 1; c <= COLS2; ++c) {
        z[r][c] = has_elevation(r, c) ? as_read(elevation(r, c)) : NODATA;
        slope[r][c] = aspect[r][c] = NODATA;
      }
    for (int r = 2; r < ROWS2; ++r)
      for (int c = 2; c < COLS2; ++c) {
        const double zn = z[r - 1][c], zs = z[r + 1][c], zw = z[r][c - 1], ze = z[r][c + 1];
        if (zn == NODATA || zs == NODATA || zw == NODATA || ze == NODATA) continue;
        const slope_aspect v = slope_and_aspect(zn, zs, zw, ze, NOMINAL);
        slope[r][c] = v.slope;
        aspect[r][c] = v.aspect;
      }
    for (grid_matrix* g : {&aspect, &slope})
      for (int r = 1; r <= ROWS2; ++r)
        for (int c = 1; c <= COLS2; ++c) {
          if (z[r][c] == NODATA || (*g)[r][c] != NODATA) continue;
          int used = 0;
          const double mean = neighbour_mean(*g, r, c, ROWS2, COLS2, NODATA, used);
          if (used > 0) (*g)[r][c] = mean;
        }
  }
};

TEST(DerivedGridsMpi, BandsCumulateCoordinatesAndSlopesAsTheWholeGrid) {
  control_parts parts;
  parts.standard =
      "2\n$dir//sx.asc CellSizeX fillcode = 0\n$dir//sy.asc CellSizeY fillcode = 0\n";
  parts.transition = "250\n";
  settings_setup run(
      parts, {{"zones.asc", grid_text2([](int r, int c) {
                 return in_basin(r, c) ? 1.0 + (r > 14) + (c > 9) : -9999.0;
               })},
              {"dem.asc", grid_text2([](int r, int c) {
                 return has_elevation(r, c) ? elevation(r, c) : -9999.0;
               })},
              {"sx.asc", grid_text2(size_x)},
              {"sy.asc", grid_text2(size_y)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const int rank = run.rank;
  const grid_matrix& regions = run.grid("MPIRegions");
  const grid_matrix& halo = run.grid("MPIHalo");
  const grid_matrix& x = run.grid("CoordX");
  const grid_matrix& y = run.grid("CoordY");
  const grid_matrix& slope = run.grid("slope_angle");
  const grid_matrix& aspect = run.grid("slope_aspect");

  // Whole-grid sums in the documented order: x from the west along each
  // row, y north from the southernmost basin row; cells outside the basin
  // count with the nominal size.
  int basin_first = ROWS2;
  int basin_last = 1;
  for (int r = 1; r <= ROWS2; ++r)
    for (int c = 1; c <= COLS2; ++c)
      if (in_basin(r, c)) {
        basin_first = std::min(basin_first, r);
        basin_last = std::max(basin_last, r);
      }
  auto width = [](int r, int c, double (*size)(int, int)) {
    return in_basin(r, c) ? as_read(size(r, c)) : NOMINAL;
  };
  std::vector<std::vector<double>> ex(ROWS2 + 2, std::vector<double>(COLS2 + 1, 0.0));
  std::vector<std::vector<double>> ey(ROWS2 + 2, std::vector<double>(COLS2 + 1, 0.0));
  for (int r = 1; r <= ROWS2; ++r)
    for (int c = 1; c <= COLS2; ++c) {
      ex[r][c] = NOMINAL * (c - 1);
      ey[r][c] = NOMINAL * (ROWS2 - r);
    }
  int last_first_col = 1;
  while (!in_basin(basin_last, last_first_col)) ++last_first_col;
  for (int c = std::max(2, last_first_col); c <= COLS2; ++c)
    ex[basin_last][c] = ex[basin_last][c - 1] + width(basin_last, c - 1, size_x);
  for (int r = basin_last - 1; r >= basin_first; --r) {
    ex[r][1] = 0;
    for (int c = 2; c <= COLS2; ++c) {
      ex[r][c] = ex[r][c - 1] + width(r, c - 1, size_x);
      ey[r][c] = ey[r + 1][c] + width(r + 1, c, size_y);
    }
  }

  memory_handling alloc;
  const whole_topography whole(alloc);
  int checked = 0;
  for (int r = x.first_row(); r <= x.last_row(); ++r)
    for (int c = 1; c <= COLS2; ++c) {
      if (regions[r][c] != rank) continue;
      SCOPED_TRACE(testing::Message() << "process " << rank << " cell " << r << "," << c);
      EXPECT_EQ(x[r][c], ex[r][c]);
      EXPECT_EQ(y[r][c], ey[r][c]);
      ++checked;
    }
  EXPECT_GT(checked, 0);
  for (int r = slope.first_row(); r <= slope.last_row(); ++r)
    for (int c = 1; c <= COLS2; ++c) {
      if (regions[r][c] != rank && halo[r][c] == NODATA) continue;
      SCOPED_TRACE(testing::Message() << "process " << rank << " cell " << r << "," << c);
      EXPECT_EQ(slope[r][c], whole.slope[r][c]);
      EXPECT_EQ(aspect[r][c], whole.aspect[r][c]);
    }
}

}  // namespace

namespace {

// Region ranking over the processes' bands: which fault a walk over the
// whole grid in row order meets first (an invalid code or the 31st code),
// and the centroids of valid regions, whatever the division.
constexpr int RANK_ROWS = 12;
constexpr int RANK_COLS = 8;

// Region codes row by row; cell (r, c) gets code(r, c), 0 is invalid.
template <class F>
std::string rank_grid_text(F code) {
  std::string rows;
  for (int r = 1; r <= RANK_ROWS; ++r) {
    for (int c = 1; c <= RANK_COLS; ++c) rows += std::to_string(code(r, c)) + " ";
    rows += "\n";
  }
  return text_grid_of(rows, RANK_COLS, RANK_ROWS);
}

TEST(DerivedGridsMpi, RegionRankingMeetsTheFirstFaultInRowOrder) {
  // 31 codes appear one per row-order cell from the cell "from" on (the 31st
  // at from + 30); an invalid code sits at cell "bad" (row-order index from 0).
  struct row {
    const char* name;
    int from;
    int bad;  // -1: none
    int code;
    const char* entry;
  };
  const row rows[] = {
      {"31st code before an invalid one", 0, 60, 4, "too much zones in "},
      {"invalid code before the 31st", 40, 65, 3, "invalid region code in "},
      {"invalid code in the last rows", 0, 90, 4, "too much zones in "},
      {"invalid code in the first row", 30, 2, 3, "invalid region code in "},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_parts parts;
    parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
    parts.transition = "300\n";
    auto code = [&](int row_number, int col) {
      const int k = (row_number - 1) * RANK_COLS + (col - 1);
      if (k == r.bad) return 0;
      if (k >= r.from && k < r.from + 31) return 100 + k - r.from;
      return 100;
    };
    settings_setup run(parts, {{"zones.asc", rank_grid_text([](int, int) { return 1; })},
                               {"dem.asc", rank_grid_text([](int, int) { return 500; })},
                               {"regions.asc", rank_grid_text(code)}});
    EXPECT_EQ(run.code, r.code);
    if (run.rank == 0) {
      EXPECT_TRUE(run.logged(r.entry)) << run.cap.console();
    }
  }

  // Three regions in bands of rows and a ragged border: ranks by code and
  // centroids as means of whole row and column numbers.
  auto basin = [](int r, int c) { return !(c == 1 && r % 3 == 0) && !(r == 12 && c > 4); };
  auto region = [](int r, int c) { return r <= 3 ? 40 : r <= 8 ? (c <= 4 ? 7 : 19) : 7; };
  control_parts parts;
  parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
  parts.transition = "300\n";
  auto zone = [&](int r, int c) { return basin(r, c) ? 1 : -9999; };
  settings_setup run(parts, {{"zones.asc", rank_grid_text(zone)},
                             {"dem.asc", rank_grid_text([](int, int) { return 500; })},
                             {"regions.asc", rank_grid_text(region)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  ASSERT_EQ(run.settings->regions(), 3);
  const int codes[3] = {7, 19, 40};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(codes[k]);
    EXPECT_EQ(run.settings->region_ranks()[static_cast<size_t>(codes[k])], k + 1);
    long long rows_sum = 0, cols_sum = 0, cells = 0;
    for (int r = 1; r <= RANK_ROWS; ++r)
      for (int c = 1; c <= RANK_COLS; ++c)
        if (basin(r, c) && region(r, c) == codes[k]) {
          rows_sum += r;
          cols_sum += c;
          ++cells;
        }
    const region_centroid& centroid = run.settings->region_centroids()[static_cast<size_t>(k + 1)];
    EXPECT_EQ(centroid.cell_count, static_cast<double>(cells));
    EXPECT_EQ(centroid.mean_row, static_cast<int>(rows_sum / cells));
    EXPECT_EQ(centroid.mean_col, static_cast<int>(cols_sum / cells));
    EXPECT_EQ(centroid.mean_row_exact, static_cast<double>(rows_sum) / static_cast<double>(cells));
    EXPECT_EQ(centroid.mean_col_exact, static_cast<double>(cols_sum) / static_cast<double>(cells));
  }
}

}  // namespace
