// The unsaturated zone's set-up on several processes: a grid of six rows of
// three cells (column 3 outside the zone grid) dealt out in bands; every
// process holds the whole grid and owns the cells of its band. The start
// report of process 0 gives the same mean as one process, and the ponding
// limit reaches every process in mm.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

constexpr int ROWS = 6;

int owner(int row, int size) { return (row - 1) * size / ROWS; }

TEST(UnsatzonSetupProcesses, StartReportAndPondingLimitOnEveryProcess) {
  const int rank = world_rank();
  const int size = world_size();
  module_fixture f(ROWS);
  int first = 0, last = -1;
  for (int r = 1; r <= ROWS; ++r)
    if (owner(r, size) == rank) {
      if (first == 0) first = r;
      last = r;
    }
  f.settings.first_row = first;
  f.settings.last_row = last;
  grid_matrix dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
  f.publish(2, "dem", &dem);
  f.publish_regions();
  // Rows 4..6 take a second, thinner soil: the columns differ by band.
  captured_diag parse;
  f.soils.resize(3);
  parse_soil_line(*parse.diag, f.soils[2],
                  "2 sand 25 35 1e-4 300 1 0.38 0.05 14.5 2.68 10 0.15 1000 1", 2);
  for (int r = 4; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) (*f.store[4 + 16].grid)[r][c] = 2;
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      f.regions[r][c] = owner(r, size);
      f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
    }
  f.publish(4 + static_cast<int>(f.inputs.size()), "zonegrid_soilmodel", &f.soil_zone_grid);
  // Row pieces of the scatter, each row one piece of three cells: process 0
  // lists (owner, count), the owner (first column, count).
  grid_matrix helper = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r) {
    helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
    helper[r][2] = 3;
  }
  f.publish(5 + static_cast<int>(f.inputs.size()), "MPIHelper", &helper);
  grid_matrix& limit = *f.store[4 + 18].grid;  // "max_ponding_storage"
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) limit[r][c] = 0.05;
  unsatzon_section_text s;
  s.codes = "1";
  s.value_rows = {"2", "3", "0.5", "4", "1", "0.1"};
  s.pond = "1";
  f.write_control(s.text());
  // Process 0 writes "modell_0.log" into its working directory, the
  // fixture's folder.
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             1);
  ASSERT_EQ(status, 0) << f.console();
  // The limit of the own rows is in mm on every process after the scatter.
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_DOUBLE_EQ(limit[r][c], 50) << r << " " << c;
  // The test's own sum of theta x thickness over the own zone cells, in row
  // order, added at process 0.
  int theta_index = 0;
  for (int i = 1; i < GRID_STORE_FULL; ++i)
    if (f.store[i].grid_name == std::string("theta")) theta_index = i;
  ASSERT_GT(theta_index, 0);
  const stack_matrix& theta = *f.store[theta_index].stack;
  double own[2] = {0, 0};  // water [m], cells
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= 2; ++c) {
      const soil_entry& soil = f.soils[static_cast<size_t>((*f.store[4 + 16].grid)[r][c])];
      for (int l = 1; l <= 10; ++l)
        own[0] += theta[r][c][l] * soil.thickness[static_cast<size_t>(l)];
      own[1] += 1;
    }
  double total[2] = {0, 0};
  MPI_Reduce(own, total, 2, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  if (rank == 0) {
    EXPECT_DOUBLE_EQ(total[1], 2 * ROWS);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "mean soil water content for all cells at model-start: %lf m^3/m^2\n",
                  total[0] / total[1]);
    const std::string log = read_file(f.cd.dir.file("modell_0.log"));
    EXPECT_EQ(log.rfind(expected, 0), 0U) << log;
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
