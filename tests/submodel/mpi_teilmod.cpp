// The ranking of a module's zone grid reaches every process, errors
// included, and agrees with the settings object's ranking of the same grid.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "modelbase/gridstore.h"
#include "settings/zonetable.h"
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
  settings_context s;
  s.control_file = path;
  s.zone_table = zone_table_view{&index, &records, 1, 0};
  s.strips = &strips;
  s.ncols = 2;
  s.nrows = 2;
  s.first_row = 1;
  s.last_row = 2;
  s.cellsize = 10;
  teilmodellklasse mod(cd.diag.get(), "unsatzon_model", &store, s, 1, 1);

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

// A module ranking "zonegrid_soilmodel" (one row) on every process; only
// process 0's grid counts.
struct module_ranking {
  explicit module_ranking(const std::vector<double>& process_0_values) {
    char path[1024] = {};
    if (rank == 0) {
      dir.write("control.$$$", "[unsatzon_model]\n1\n60\n");
      std::snprintf(path, sizeof path, "%s", dir.file("control.$$$").c_str());
    }
    MPI_Bcast(path, sizeof path, MPI_CHAR, 0, MPI_COMM_WORLD);
    cols = static_cast<int>(process_0_values.size());
    zones_grid = alloc.matrix(1, 1, 1, cols, 1);
    for (int c = 1; c <= cols; ++c)
      zones_grid[1][c] = rank == 0 ? process_0_values[static_cast<size_t>(c - 1)] : 1;
    store[1].grid = &zones_grid;
    store[1].grid_name = "[zone_grid]";
    store[1].file_name = "zones.asc";
    store[2].grid = &zones_grid;
    store[2].grid_name = "zonegrid_soilmodel";
    store[2].file_name = "soilzones.asc";
    strips = {row_strip{0, -1}, row_strip{1, cols}};
    s.control_file = path;
    s.zone_table = zone_table_view{&index, &records, 1, 0};
    s.strips = &strips;
    s.ncols = cols;
    s.nrows = 1;
    s.first_row = 1;
    s.last_row = 1;
    s.cellsize = 10;
    mod = std::make_unique<teilmodellklasse>(cd.diag.get(), "unsatzon_model", &store, s, 1, 1);
    try {
      mod->zone_ranking(grid, ranked, code_index, count, max_code);
    } catch (int thrown) {
      code = thrown;
    }
  }
  int rank = world_rank();
  int cols = 0;
  scratch_dir dir;
  captured_diag cd{4, world_rank(), world_size()};
  memory_handling alloc;
  grid_matrix zones_grid;
  grid_store store;
  std::vector<int> index{0, 1};
  std::vector<zone_record> records = std::vector<zone_record>(2);
  std::vector<row_strip> strips;
  settings_context s;
  std::unique_ptr<teilmodellklasse> mod;
  const grid_matrix* grid = nullptr;
  std::vector<zone_record> ranked;
  std::vector<int> code_index;
  int count = 0, max_code = 0;
  int code = 0;
};

TEST(ZoneRankingMpi, AnErrorOfProcessZeroStopsEveryProcessWithItsCode) {
  // The other processes used to wait for process 0's table for ever.
  std::vector<double> many(10001);
  for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<double>(i);
  struct row {
    const char* what;
    std::vector<double> values;
    int code;
    std::string entry;  // written by process 0 alone
  } rows[] = {
      {"code out of range", {3, 32768}, 3,
       "wrong zone index in soilzones.asc!\n Zones have to range from 0 to 32767!"},
      {"all nodata", {NODATA, NODATA}, 7, "all cells in soilzones.asc are NODATA!"},
      {"too many subbasins", many, 4,
       "too much subbasins (10001) in unsatzon_model (max. 10000). Ende!"},
  };
  for (const row& r : rows) {
    module_ranking m(r.values);
    EXPECT_EQ(m.code, r.code) << r.what;
    const std::string console = m.cd.console();
    EXPECT_EQ(console.find(r.entry) != std::string::npos, m.rank == 0) << r.what;
    MPI_Barrier(MPI_COMM_WORLD);
  }
}

TEST(ZoneRankingMpi, ModuleAndSettingsTablesAgreeOnEveryProcess) {
  // Codes 7, 3 (from 2.5), 7 (from 6.5), 0 (from -0.2): zones 0, 3, 7 with
  // 1, 1, 2 cells on every process.
  module_ranking m({7, 2.5, 6.5, -0.2});
  ASSERT_EQ(m.code, 0);
  ASSERT_EQ(m.count, 3);
  EXPECT_EQ(m.max_code, 7);
  EXPECT_EQ(m.code_index, (std::vector<int>{1, 0, 0, 2, 0, 0, 0, 3}));
  EXPECT_EQ(m.ranked[3].sum, 2);
  EXPECT_EQ(m.ranked[3].share, 0.5);

  zone_table table;
  int code = 0;
  try {
    table.rank_zone_grid(*m.mod, m.store, nullptr, m.cols, 1, NODATA, 10, 1, 1);
  } catch (int thrown) {
    code = thrown;
  }
  ASSERT_EQ(code, 0);
  ASSERT_EQ(table.zone_count, m.count);
  EXPECT_EQ(table.code_to_index, m.code_index);
  for (int k = 1; k <= m.count; ++k) {
    EXPECT_EQ(table.records[static_cast<size_t>(k)].code, m.ranked[static_cast<size_t>(k)].code);
    EXPECT_EQ(table.records[static_cast<size_t>(k)].sum, m.ranked[static_cast<size_t>(k)].sum);
    EXPECT_EQ(table.records[static_cast<size_t>(k)].share,
              m.ranked[static_cast<size_t>(k)].share);
  }
  EXPECT_EQ(table.records[0].share, m.ranked[0].share);
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
