// The zone table on 1 to 4 processes: zones in code order with their cells
// and area shares, the code-to-index array, the row spans (all rows on
// process 0, own rows elsewhere), weights, and the errors that stop every
// process alike.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "settings/division_fixture.h"

namespace {

constexpr double N = NODATA;
const std::string NEXT = "\n(mpi-rank  0) ";

// The zone table of a grid made directly from store entry 1, without a
// division (every process passes rows 1..nrows as its own).
struct ranked {
  explicit ranked(const grid_rows& values, const grid_rows* weight_values = nullptr)
      : rank(world_rank()),
        cap(4, world_rank(), world_size()),
        object(*cap.diag, store, static_cast<int>(values.front().size()),
               static_cast<int>(values.size())) {
    const int rows = static_cast<int>(values.size());
    const int cols = static_cast<int>(values.front().size());
    if (rank == 0) {
      zone = make_grid(object, values, 1, rows);
      object.register_grid(1, "zones.asc", &zone, nullptr, 0, "zonegrid", 0, 1, rows);
      if (weight_values != nullptr) weights = make_grid(object, *weight_values, 1, rows);
    }
    try {
      table.rank_zone_grid(object, store, weights.empty() ? nullptr : &weights, cols, rows, N,
                           100.0, 1, rows);
    } catch (int thrown) {
      code = thrown;
    }
  }
  int rank;
  captured_diag cap;
  grid_store store;
  grid_object object;
  grid_matrix zone;
  grid_matrix weights;
  zone_table table;
  int code = 0;
};

struct zone_expect {
  double code, cells, share;
};

TEST(ZoneTableMpi, ZonesInCodeOrderWithCellsAndShares) {
  // Codes 7, 3, 3, 12 in row order: zones 3, 7, 12 with 2, 1, 1 cells,
  // shares 2/4, 1/4, 1/4; total area 4 cells x 100 m x 100 m = 0.04 km2.
  division_run d({{N, 7, N, 3, N, N}, {3, N, N, N, N, 12}});
  ASSERT_EQ(d.code, 0);
  const zone_table& t = d.zones;
  ASSERT_EQ(t.zone_count, 3);
  EXPECT_EQ(t.max_zone_code, 12);
  const zone_expect want[] = {{3, 2, 0.5}, {7, 1, 0.25}, {12, 1, 0.25}};
  ASSERT_EQ(t.records.size(), 4u);
  for (int k = 1; k <= 3; ++k) {
    const zone_record& r = t.records[static_cast<size_t>(k)];
    const zone_expect& w = want[k - 1];
    EXPECT_EQ(r.code, w.code) << k;
    EXPECT_EQ(r.count, w.cells) << k;
    EXPECT_EQ(r.sum, w.cells) << k;
    EXPECT_EQ(r.weight, w.cells) << k;
    EXPECT_DOUBLE_EQ(r.share, w.share) << k;
  }
  EXPECT_EQ(t.records[0].count, 0);
  EXPECT_EQ(t.records[0].sum, 0);
  EXPECT_EQ(t.records[0].code, 0);
  EXPECT_EQ(t.records[0].weight, 0);
  EXPECT_DOUBLE_EQ(t.records[0].share, 0.04);
  std::vector<int> index(13, 0);
  index[3] = 1;
  index[7] = 2;
  index[12] = 3;
  EXPECT_EQ(t.code_to_index, index);
  if (d.rank == 0) {
    EXPECT_NE(d.cap.console().find("ranking zones from zones.asc for grid_object" + NEXT),
              std::string::npos);
  }
}

TEST(ZoneTableMpi, RowSpansOnEveryProcess) {
  // Data at columns 4 and 9 only: span (4, 9); a nodata row (0, -1).
  const std::vector<std::string> grid = {"...1....1.", "..........", "1111111111", "..22......"};
  const row_strip spans[] = {{0, -1}, {4, 9}, {0, -1}, {1, 10}, {3, 4}};
  division_run d(zone_rows(grid));
  ASSERT_EQ(d.code, 0);
  ASSERT_EQ(d.zones.strips.size(), 5u);
  for (int r = 0; r <= 4; ++r) {
    const bool kept = d.rank == 0 || (r >= d.own_first && r <= d.own_last);
    const row_strip want = kept ? spans[r] : row_strip{0, -1};
    EXPECT_EQ(d.zones.strips[static_cast<size_t>(r)].first, want.first) << r;
    EXPECT_EQ(d.zones.strips[static_cast<size_t>(r)].last, want.last) << r;
  }
}

TEST(ZoneTableMpi, CellWeights) {
  // Weights 0.25 and 0.5 in zone 1, 0.25 in zone 2: weighted counts 0.75 and
  // 0.25 of 1.0, plain counts 2 and 1; total area 1.0 x 0.01 km2.
  const grid_rows zone = {{1, 1, 2}};
  const grid_rows weights = {{0.25, 0.5, 0.25}};
  ranked t(zone, &weights);
  ASSERT_EQ(t.code, 0);
  ASSERT_EQ(t.table.zone_count, 2);
  EXPECT_DOUBLE_EQ(t.table.records[1].count, 0.75);
  EXPECT_DOUBLE_EQ(t.table.records[1].weight, 0.75);
  EXPECT_EQ(t.table.records[1].sum, 2);
  EXPECT_DOUBLE_EQ(t.table.records[1].share, 0.75);
  EXPECT_DOUBLE_EQ(t.table.records[2].count, 0.25);
  EXPECT_EQ(t.table.records[2].sum, 1);
  EXPECT_DOUBLE_EQ(t.table.records[2].share, 0.25);
  EXPECT_DOUBLE_EQ(t.table.records[0].share, 0.01);
}

struct code_case {
  const char* what;
  grid_rows grid;
  int code;
  std::string entry;  // process 0's entry for an error
};

grid_rows distinct_codes(int count) {
  // 160 columns per row; codes 0 .. count - 1 in row order, nodata after.
  const int cols = 160;
  const int rows = (count + cols - 1) / cols;
  grid_rows g(static_cast<size_t>(rows), std::vector<double>(cols, N));
  for (int k = 0; k < count; ++k)
    g[static_cast<size_t>(k / cols)][static_cast<size_t>(k % cols)] = k;
  return g;
}

TEST(ZoneTableMpi, CodeLimitsAndErrors) {
  const std::string invalid =
      "invalid zone code in zones.asc!\n (codes has to be between 0 and 32767)!" + NEXT;
  const code_case cases[] = {
      {"0 and 32767", {{0, 32767}}, 0, ""},
      {"32768", {{5, 32768}}, 3, invalid},
      {"-1 when it is not nodata", {{-1, 5}}, 3, invalid},
      {"not a number", {{5, std::numeric_limits<double>::quiet_NaN()}}, 3, invalid},
      {"only nodata",
       {{N, N}, {N, N}},
       7,
       "all cells in the zone grid zones.asc are NODATA!" + NEXT},
      {"16000 zones", distinct_codes(16000), 0, ""},
      {"16001 zones", distinct_codes(16001), 4,
       "too much zones in zones.asc, (max. 16000)!" + NEXT},
  };
  for (const auto& c : cases) {
    ranked t(c.grid);
    EXPECT_EQ(t.code, c.code) << c.what;
    if (t.rank == 0 && c.code != 0) {
      const std::string console = t.cap.console();
      ASSERT_GE(console.size(), c.entry.size()) << c.what;
      EXPECT_EQ(console.substr(console.size() - c.entry.size()), c.entry) << c.what;
    }
  }
  ranked limits({{32767, 0}});
  ASSERT_EQ(limits.code, 0);
  EXPECT_EQ(limits.table.zone_count, 2);
  EXPECT_EQ(limits.table.records[1].code, 0);
  EXPECT_EQ(limits.table.records[2].code, 32767);
  ASSERT_EQ(limits.table.code_to_index.size(), 32768u);
  EXPECT_EQ(limits.table.code_to_index[0], 1);
  EXPECT_EQ(limits.table.code_to_index[32767], 2);
}

// Ranking over the bands of a division gives the table of one walk over the
// whole grid (process 0's ranking, which the fixture makes), and the same
// error where that walk meets one: every process looks only at its own cells
// (the other cells of its band hold a decoy code that would show in the
// table), process 0 also at the cells of no process.
TEST(ZoneTableMpi, RankingByBandsIsTheWalkOverTheWholeGrid) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto with = [](grid_rows g, int row, int col, double value) {
    g[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)] = value;
    return g;
  };
  const grid_rows ragged = zone_rows({"...111....", "..1111222.", ".11..2222.", "333..2222.",
                                      "33333.44..", "...3344444", "......4..."});
  const grid_rows limit = distinct_codes(16001);  // code 16000 at row 101, column 1
  const grid_rows beyond = distinct_codes(16002);  // codes 16000 and 16001 at row 101
  const std::string invalid =
      "invalid zone code in zones.asc!\n (codes has to be between 0 and 32767)!" + NEXT;
  const std::string too_many = "too much zones in zones.asc, (max. 16000)!" + NEXT;
  const code_case cases[] = {
      {"ragged bands", ragged, 0, ""},
      {"codes beyond the limit before an invalid code", with(limit, 101, 160, 40000), 4,
       too_many},
      {"an invalid code in an early band before the codes beyond the limit",
       with(beyond, 2, 7, 40000), 3, invalid},
      {"a cell of no process before the codes beyond the limit", with(beyond, 1, 3, nan), 3,
       invalid},
      {"a cell of no process in the last row", with(distinct_codes(16000), 100, 160, -20000), 3,
       invalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    division_run d(c.grid);
    ASSERT_EQ(d.code, c.code);
    const int rows = d.nrows;
    const int cols = d.ncols;
    grid_matrix band;
    if (d.rank != 0) {
      const int first = d.division.held_first_row();
      const int last = d.division.held_last_row();
      band = d.object.matrix(first, last, 1, cols, rows);
      for (int r = first; r <= last; ++r)
        for (int col = 1; col <= cols; ++col)
          band[r][col] = d.division.regions[r][col] == d.rank
                             ? c.grid[static_cast<size_t>(r - 1)][static_cast<size_t>(col - 1)]
                             : 31000.0;
    }
    const size_t entries = d.cap.console().size();
    zone_table t;
    int code = 0;
    try {
      t.rank_zone_grid_by_bands(d.object, "zones.asc", d.rank == 0 ? d.zone : band,
                                d.division.regions,
                                zone_grid_frame{cols, rows, N, 100.0, d.own_first, d.own_last});
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, c.code);
    if (c.code != 0) {
      if (d.rank == 0) {
        const std::string console = d.cap.console().substr(entries);
        EXPECT_NE(console.find("ranking zones from zones.asc"), std::string::npos);
        ASSERT_GE(console.size(), c.entry.size());
        EXPECT_EQ(console.substr(console.size() - c.entry.size()), c.entry);
      }
      continue;
    }
    const zone_table& want = d.zones;
    EXPECT_EQ(t.zone_count, want.zone_count);
    EXPECT_EQ(t.max_zone_code, want.max_zone_code);
    EXPECT_EQ(t.code_to_index, want.code_to_index);
    ASSERT_EQ(t.records.size(), want.records.size());
    for (size_t k = 0; k < want.records.size(); ++k) {
      const zone_record& a = t.records[k];
      const zone_record& b = want.records[k];
      EXPECT_EQ(a.count, b.count) << k;
      EXPECT_EQ(a.sum, b.sum) << k;
      EXPECT_EQ(a.code, b.code) << k;
      EXPECT_EQ(a.share, b.share) << k;
      EXPECT_EQ(a.weight, b.weight) << k;
    }
    ASSERT_EQ(t.strips.size(), want.strips.size());
    for (size_t r = 0; r < want.strips.size(); ++r) {
      EXPECT_EQ(t.strips[r].first, want.strips[r].first) << r;
      EXPECT_EQ(t.strips[r].last, want.strips[r].last) << r;
    }
  }
}

}  // namespace
