// The ranking of a module's zone grid reaches every process.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "modelbase/gridstore.h"
#include "support/test_support.h"

namespace {

TEST(ZoneRankingMpi, EveryProcessGetsTheTableOfProcessZero) {
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  scratch_dir dir;
  char path[1024] = {};
  if (rank == 0) {
    dir.write("control.$$$", "[unsatzon_model]\n1\n60\n");
    std::snprintf(path, sizeof path, "%s", dir.file("control.$$$").c_str());
  }
  MPI_Bcast(path, sizeof path, MPI_CHAR, 0, MPI_COMM_WORLD);

  captured_diag cd(4, rank, size);
  memory_handling alloc;
  // Process 0 ranks the whole grid; the others hold a grid of other codes,
  // which must not matter.
  grid_matrix zones_grid = alloc.matrix(1, 2, 1, 2, 2);
  const double mine[] = {7, 3, 7, 12};
  const double other[] = {1, 1, 1, 1};
  for (int k = 0; k < 4; ++k) zones_grid[k / 2 + 1][k % 2 + 1] = rank == 0 ? mine[k] : other[k];
  grid_store store;
  store[1].grid = &zones_grid;
  store[1].grid_name = "[zone_grid]";
  store[1].file_name = "zones.asc";
  store[2].grid = &zones_grid;
  store[2].grid_name = "zonegrid_soilmodel";
  store[2].file_name = "soilzones.asc";
  std::vector<int> index{0, 1};
  std::vector<zone_record> records(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, 2}, row_strip{1, 2}};
  submodel_settings s;
  s.zone_index = &index;
  s.zones = &records;
  s.strips = &strips;
  s.zone_count = 1;
  s.ncols = 2;
  s.nrows = 2;
  s.first_row = 1;
  s.last_row = 2;
  s.cellsize = 10;
  teilmodellklasse mod(cd.diag.get(), "unsatzon_model", path, &store, s, 1, 1);

  const grid_matrix* grid = nullptr;
  std::vector<zone_record> ranked;
  std::vector<int> code_index;
  int count = 0, max_code = 0;
  mod.zone_ranking(grid, ranked, code_index, count, max_code);
  EXPECT_EQ(grid, &zones_grid);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(max_code, 12);
  ASSERT_EQ(ranked.size(), 4u);
  ASSERT_EQ(code_index.size(), 13u);
  // Codes 3, 7, 12 with 1, 2, 1 cells: shares 1/4, 1/2, 1/4; total area
  // 4 * 10 * 10 / 1e6 km2.
  EXPECT_EQ(ranked[1].code, 3);
  EXPECT_EQ(ranked[2].code, 7);
  EXPECT_EQ(ranked[3].code, 12);
  EXPECT_EQ(ranked[2].sum, 2);
  EXPECT_EQ(ranked[2].share, 0.5);
  EXPECT_DOUBLE_EQ(ranked[0].share, 4e-4);
  EXPECT_EQ(code_index[3], 1);
  EXPECT_EQ(code_index[7], 2);
  EXPECT_EQ(code_index[12], 3);
  EXPECT_EQ(code_index[1], 0);
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
