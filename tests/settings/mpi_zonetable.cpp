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

}  // namespace
