// Derived grids on any number of processes: every process holds, in its own
// cells and in its halo cells, the slope and aspect of a tilted plane (also
// in the first and last own rows of its band and at the edge of the basin),
// the lower-left corners of the cells and the region weights that process 0
// computed on the whole grid.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

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
  const std::vector<double> w1 = process_0_values(rank, run.grid("regression_weights1"));
  const std::vector<double> w2 = process_0_values(rank, run.grid("regression_weights2"));
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
