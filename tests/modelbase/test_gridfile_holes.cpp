// Hole filling of a grid read whole: the ring search (a triangle widening
// downwards, not a square), the fill modes, and what happens to the cells
// outside the zone grid's data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelbase/gridfile_holes.h"
#include "modelbase/memhandling.h"
#include "support/test_support.h"

namespace {

constexpr double N = -9999;  // model nodata

class allocator : public memory_handling {
 public:
  explicit allocator(DiagStream& d) { diag = &d; }
};

grid_matrix grid_of(memory_handling& alloc, const std::vector<std::vector<double>>& rows) {
  const int nrows = static_cast<int>(rows.size());
  const int ncols = static_cast<int>(rows.front().size());
  grid_matrix g = alloc.matrix(1, nrows, 1, ncols, 0);
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c)
      g[r][c] = rows[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
  return g;
}

std::vector<std::vector<double>> rows_of(const grid_matrix& g, int nrows, int ncols) {
  std::vector<std::vector<double>> rows;
  for (int r = 1; r <= nrows; ++r) rows.emplace_back(g[r] + 1, g[r] + ncols + 1);
  return rows;
}

TEST(HoleFilling, RingSearchIsATriangleWideningDownwards) {
  captured_diag cap;
  allocator alloc(*cap.diag);
  struct row {
    const char* what;
    std::vector<std::pair<int, int>> cells;  // offsets (row, col) from the hole, values 1, 2, ...
    double expected;
  };
  // Hole at the centre of a 9 x 9 grid; ring k covers rows r-k..r+k, its
  // j-th row columns c-j..c+j, rows north to south, columns west to east.
  const std::vector<row> rows = {
      {"west neighbour, ring 1", {{0, -1}}, 1},
      {"north-west is outside ring 1 (row r-1 covers only column c) but in ring 2", {{-1, -1}}, 1},
      {"north-west (ring 2) loses to two columns east in the row below (ring 1)",
       {{-1, -1}, {1, 2}},
       2},
      {"ring 1 order: north before west", {{0, -1}, {-1, 0}}, 2},
      {"within a row west before east", {{0, 1}, {0, -1}}, 2},
      {"row below, three columns west is ring 2", {{1, -3}, {2, 4}}, 1},
      {"nothing within 10 rings but rows 4 below and 4 columns east (ring 4)", {{4, 4}}, 1},
  };
  for (const row& r : rows) {
    std::vector<std::vector<double>> values(9, std::vector<double>(9, N));
    double v = 1;
    for (const auto& [dr, dc] : r.cells)
      values[static_cast<size_t>(4 + dr)][static_cast<size_t>(4 + dc)] = v++;
    grid_matrix g = grid_of(alloc, values);
    double found = 0;
    ASSERT_TRUE(find_hole_value(g, 9, 9, 5, 5, N, found)) << r.what;
    EXPECT_EQ(found, r.expected) << r.what;
  }
  // Twelve rows down is beyond ring 10 (it reaches row r + 10).
  std::vector<std::vector<double>> far(23, std::vector<double>(3, N));
  far[22][1] = 5;
  grid_matrix g = grid_of(alloc, far);
  double found = 0;
  EXPECT_FALSE(find_hole_value(g, 23, 3, 1, 2, N, found));
}

TEST(HoleFilling, ModesDecideTheFillValue) {
  captured_diag cap;
  allocator alloc(*cap.diag);
  // File nodata -1; the zone has data everywhere but in the last column.
  const std::vector<std::vector<double>> file = {{4, -1, 7}, {-1, 5, 8}};
  const std::vector<std::vector<double>> zone_rows = {{1, 1, N}, {1, 1, N}};
  struct row {
    int mode;
    bool report;
    std::vector<std::vector<double>> expected;
    std::vector<filled_hole> filled;
  };
  const std::vector<row> rows = {
      // Mode 1 without reporting takes fill_value even next to data.
      {1, false, {{4, 0.5, N}, {0.5, 5, N}}, {}},
      {2, true, {{4, 0.5, N}, {0.5, 5, N}}, {}},
      // Search: (1,2): ring 1 row 0 is outside, row 1 columns 1..3 gives 4.
      // (2,1): ring 1 row 1 covers column 1 only: 4.
      {1, true, {{4, 4, N}, {4, 5, N}}, {{1, 2, N, 4}, {2, 1, N, 4}}},
  };
  for (const row& r : rows) {
    grid_matrix g = grid_of(alloc, file);
    grid_matrix zone = grid_of(alloc, zone_rows);
    replace_file_nodata(g, 1, 2, 3, -1, N);
    const hole_fill_params p{r.mode, 0.5, r.report, N};
    const hole_fill_result result = fill_grid_holes(g, 2, 3, &zone, p);
    EXPECT_EQ(result.count, 2) << r.mode;
    EXPECT_FALSE(result.too_big);
    EXPECT_EQ(rows_of(g, 2, 3), r.expected) << r.mode << r.report;
    ASSERT_EQ(result.filled.size(), r.filled.size());
    for (size_t i = 0; i < r.filled.size(); ++i) {
      EXPECT_EQ(result.filled[i].row, r.filled[i].row);
      EXPECT_EQ(result.filled[i].col, r.filled[i].col);
      EXPECT_EQ(result.filled[i].new_value, r.filled[i].new_value);
    }
  }
}

TEST(HoleFilling, FilledHolesNeverFeedOthers) {
  captured_diag cap;
  allocator alloc(*cap.diag);
  // (1,1) reaches (2,3) in ring 1; (1,2) would find the filled (1,1) first
  // if filled values fed the search, but finds (1,3) in the read grid.
  grid_matrix g = grid_of(alloc, {{N, N, 6}, {N, N, 9}});
  grid_matrix zone = grid_of(alloc, {{1, 1, 1}, {N, N, 1}});
  const hole_fill_result result = fill_grid_holes(g, 2, 3, &zone, {1, 0, true, N});
  EXPECT_EQ(result.count, 2);
  EXPECT_EQ(rows_of(g, 2, 3), (std::vector<std::vector<double>>{{9, 6, 6}, {N, N, 9}}));
}

TEST(HoleFilling, CellsOutsideTheZoneBecomeNodataOnlyWhenAHoleWasFound) {
  captured_diag cap;
  allocator alloc(*cap.diag);
  grid_matrix zone = grid_of(alloc, {{1, 1, N}});
  grid_matrix whole = grid_of(alloc, {{3, 4, 5}});
  EXPECT_EQ(fill_grid_holes(whole, 1, 3, &zone, {1, 0, false, N}).count, 0);
  EXPECT_EQ(rows_of(whole, 1, 3), (std::vector<std::vector<double>>{{3, 4, 5}}));
  grid_matrix holed = grid_of(alloc, {{3, N, 5}});
  EXPECT_EQ(fill_grid_holes(holed, 1, 3, &zone, {1, 7, false, N}).count, 1);
  EXPECT_EQ(rows_of(holed, 1, 3), (std::vector<std::vector<double>>{{3, 7, N}}));
}

TEST(HoleFilling, AHoleWithoutDataWithinTenRingsStopsTheFilling) {
  captured_diag cap;
  allocator alloc(*cap.diag);
  std::vector<std::vector<double>> values(2, std::vector<double>(30, N));
  values[0][0] = 1;  // (1,1) is the only value; (1,2) finds it, (1,30) does not
  grid_matrix g = grid_of(alloc, values);
  grid_matrix zone =
      grid_of(alloc, std::vector<std::vector<double>>(2, std::vector<double>(30, 1)));
  const hole_fill_result result = fill_grid_holes(g, 2, 30, &zone, {1, 0, true, N});
  ASSERT_TRUE(result.too_big);
  // Row 1 is the row j = k of ring k around (1, c), covering columns
  // c-k..c+k, so (1,1) is within ring 10 for c <= 11; the first hole beyond
  // it is (1, 12).
  EXPECT_EQ(result.big_row, 1);
  EXPECT_EQ(result.big_col, 12);
  EXPECT_EQ(result.filled.size(), 10u);  // (1,2) .. (1,11)
  EXPECT_EQ(g[1][2], N);                 // the grid keeps its values
}

}  // namespace
