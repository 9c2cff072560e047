// The special output of a grid divided among the processes: every process
// holds its rows and one halo row on each side, and the file must be the
// same, byte for byte, for every process count.
#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/teilmod_special.h"
#include "modelbase/gridstore.h"
#include "support/test_support.h"

namespace {

// 4 columns, 6 rows of 10 m, lower-left corner (1000, 2000).
constexpr int NCOLS = 4;
constexpr int NROWS = 6;
constexpr double HALO_VALUE = 1e6;  // what a halo row holds of another process's cells

int row_owner(int row, int size) { return (row - 1) * size / NROWS; }

TEST(SpecialOutputMpi, SameFileForEveryProcessCount) {
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  ASSERT_LE(size, NROWS);
  scratch_dir dir;
  char path[1024] = {};
  std::snprintf(path, sizeof path, "%s", dir.path().c_str());
  MPI_Bcast(path, sizeof path, MPI_CHAR, 0, MPI_COMM_WORLD);
  const std::string shared = path;
  if (rank == 0)
    dir.write("control.$$$",
              "[special_output]\n1\n60\nnumfiles = 1;\n{\nheader = mpi;\nfilename = points.txt;\n"
              // Corners and edges: (1000.5, 2000) -> column 1, row 6; (1040, 2059.5) -> 4, 1;
              // (1010, 2030) -> 1, 3; (1040, 2015) -> 4, 5; (1035, 2045) -> 4, 2 and
              // (1005, 2015) -> 1, 5 belong to no process.
              "entity {\nID = dem; Symbol = H;\n"
              "Xcoords = 1000.5, 1040, 1010, 1040, 1035, 1005;\n"
              "Ycoords = 2000, 2059.5, 2030, 2015, 2045, 2015;\n}\n"
              "entity {\nID = groundwater_recharge; Symbol = R;\nXcoords = 1025;\n"
              "Ycoords = 2035;\n}\n"
              "entity {\nID = soil_moisture; Symbol = M;\nXcoords = 1015;\nYcoords = 2025;\n"
              "Level = 1;\n}\n}\n");
  MPI_Barrier(MPI_COMM_WORLD);

  // This process's rows and the halo rows around them.
  int own_first = NROWS + 1, own_last = 0;
  for (int r = 1; r <= NROWS; ++r)
    if (row_owner(r, size) == rank) {
      own_first = std::min(own_first, r);
      own_last = std::max(own_last, r);
    }
  const int first = std::max(1, own_first - 1);
  const int last = std::min(NROWS, own_last + 1);

  memory_handling alloc;
  grid_matrix zone = alloc.matrix(first, last, 1, NCOLS, NROWS);
  grid_matrix regions = alloc.matrix(first, last, 1, NCOLS, NROWS);
  grid_matrix dem = alloc.matrix(first, last, 1, NCOLS, NROWS);
  grid_matrix recharge = alloc.matrix(first, last, 1, NCOLS, NROWS);
  grid_matrix moisture = alloc.matrix(first, last, 1, NCOLS, NROWS);
  stack_matrix moisture_stack = alloc.matrix_3d(first, last, 1, NCOLS, 1, NROWS);
  for (int r = first; r <= last; ++r) {
    const bool own = row_owner(r, size) == rank;
    for (int c = 1; c <= NCOLS; ++c) {
      zone[r][c] = 1;
      regions[r][c] = row_owner(r, size);
      dem[r][c] = own ? 10 * r + c : HALO_VALUE;
      moisture_stack[r][c][0] = own ? 10 * r + c : HALO_VALUE;
      moisture_stack[r][c][1] = own ? 100 + 10 * r + c : HALO_VALUE;
    }
  }
  if (first <= 2 && last >= 2) regions[2][4] = -9999;
  if (first <= 5 && last >= 5) regions[5][1] = -9999;
  grid_store store;
  auto publish = [&](int index, const char* name, grid_matrix* g, stack_matrix* s) {
    store[index].grid = g;
    store[index].stack = s;
    store[index].levels = s != nullptr ? 1 : 0;
    store[index].grid_name = name;
    store[index].file_name = std::string(name) + ".asc";
  };
  publish(1, "[zone_grid]", &zone, nullptr);
  publish(2, "MPIRegions", &regions, nullptr);
  publish(3, "dem", &dem, nullptr);
  publish(4, "groundwater_recharge", &recharge, nullptr);
  publish(5, "soil_moisture", &moisture, &moisture_stack);

  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones(2);
  std::vector<row_strip> strips(NROWS + 1, row_strip{1, NCOLS});
  const std::string out_dir = shared + "/";
  settings_context s;
  s.control_file = shared + "/control.$$$";
  s.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
  s.strips = &strips;
  s.ncols = NCOLS;
  s.nrows = NROWS;
  s.first_row = first;
  s.last_row = last;
  s.xllcorner = 1000;
  s.yllcorner = 2000;
  s.cellsize = 10;
  s.output_directory = &out_dir;
  captured_diag cd(4, rank, size);
  int status = -1;
  SpecialOutputClass module(status, cd.diag.get(), nullptr, 0, "special_output", &store, s, 2);
  ASSERT_EQ(status, 0) << cd.console();

  for (int step = 0; step < 2; ++step) {
    for (int k = 1; k <= 2; ++k) {
      for (int r = first; r <= last; ++r)
        for (int c = 1; c <= NCOLS; ++c)
          recharge[r][c] = row_owner(r, size) == rank ? 1.25 * k + step : HALO_VALUE;
      module.sample_step(step, 5, 3, 2004, 1, k);
    }
    module.sample_step(step, 5, 3, 2004, 0, 0);
  }
  module.flush_outputs();
  MPI_Barrier(MPI_COMM_WORLD);
  if (rank == 0) {
    // dem 10 r + c; recharge (1.25 + 2.5) and (2.25 + 3.5) summed over the
    // two sub-steps; moisture level 1 at (4, 2) is 100 + 42.
    EXPECT_EQ(read_file(dir.file("points.txt")),
              "YY\tMM\tDD\tHH\tH/1/6\tH/4/1\tH/1/3\tH/4/5\tH/4/2\tH/1/5\tR/3/3\tM/2/4/1\n"
              "mpi\n"
              "YY\tMM\tDD\tHH\tH/1000.5/2000\tH/1040/2059.5\tH/1010/2030\tH/1040/2015"
              "\tH/1035/2045\tH/1005/2015\tR/1025/2035\tM/1015/2025/1\n"
              "2004\t3\t5\t0\t61\t14\t31\t54\t-9999\t-9999\t3.75\t142\n"
              "2004\t3\t5\t1\t61\t14\t31\t54\t-9999\t-9999\t5.75\t142\n");
  }
  module.release();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
