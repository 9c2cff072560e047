// The pieces of the division that need no second process: weights from the
// process times, quotas, the "MPIHelper" rows and the receive runs.
#include <gtest/gtest.h>

#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "settings/mpidivision.h"
#include "support/test_support.h"

namespace {

constexpr double N = NODATA;

struct weights_row {
  std::vector<double> times;
  std::vector<double> weights;
};

TEST(Division, WeightsAreProportionalToInverseTime) {
  const weights_row rows[] = {
      {{5.0}, {1.0}},
      // 1/2 : 1/1 = 1 : 2.
      {{2.0, 1.0}, {1.0 / 3.0, 2.0 / 3.0}},
      // 1 : 1/3 = 3 : 1.
      {{1.0, 3.0}, {0.75, 0.25}},
      // A time of 0 (a speed file without a number) counts as factor 1,
      // beside 1 / 0.5 = 2.
      {{0.0, 0.5}, {1.0 / 3.0, 2.0 / 3.0}},
      {{-1.0, 0.0, 1.0}, {1.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0}},
  };
  for (const auto& r : rows) {
    const std::vector<double> w = performance_weights(r.times);
    ASSERT_EQ(w.size(), r.weights.size());
    for (size_t i = 0; i < w.size(); ++i) EXPECT_DOUBLE_EQ(w[i], r.weights[i]) << i;
  }
}

struct quota_row {
  int64_t cells;
  std::vector<double> weights;
  std::vector<int64_t> quotas;
};

TEST(Division, QuotasRoundWithPoint4999AndLastTakesTheRest) {
  const quota_row rows[] = {
      {10, {0.5, 0.5}, {5, 5}},
      // 3 x 0.5 = 1.5 rounds down with + 0.4999 (not up as with + 0.5).
      {3, {0.5, 0.5}, {1, 2}},
      // 26 / 3 = 8.67 -> 9, 9, rest 8.
      {26, {1.0 / 3, 1.0 / 3, 1.0 / 3}, {9, 9, 8}},
      // 24 x 3/7 = 10.29 -> 10; 24 / 7 = 3.43 -> 3; rest 11.
      {24, {3.0 / 7, 1.0 / 7, 3.0 / 7}, {10, 3, 11}},
      // 2 x 0.75 = 1.5 also rounds down.
      {2, {0.75, 0.25}, {1, 1}},
      // More processes than cells: 0.5 -> 0, the rest is 1.
      {1, {0.5, 0.5}, {0, 1}},
      // 2 x 0.3 = 0.6 rounds up three times: the last process gets -1.
      {2, {0.3, 0.3, 0.3, 0.1}, {1, 1, 1, -1}},
  };
  for (const auto& r : rows) EXPECT_EQ(cell_quotas(r.cells, r.weights), r.quotas) << r.cells;
}

TEST(Division, CellsDealtOutInRowOrderFromTheLastProcess) {
  captured_diag cap;
  grid_store store;
  grid_object o(*cap.diag, store, 4, 3);
  // 7 valid cells; quotas 2, 2, 3 for processes 0, 1, 2.
  const grid_matrix zone = make_grid(o, {{N, 1, 1, N}, {1, 1, 1, 1}, {N, 1, N, N}}, 1, 3);
  grid_matrix regions = o.matrix(1, 3, 1, 4, 0);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) regions[r][c] = N;
  std::vector<int> first, last;
  assign_cells(zone, 4, 3, N, {2, 2, 3}, regions, first, last);
  // Row order: r1c2, r1c3, r2c1 -> process 2; r2c2, r2c3 -> 1; r2c4, r3c2 -> 0.
  const double expected[3][4] = {{N, 2, 2, N}, {2, 1, 1, 0}, {N, 0, N, N}};
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(regions[r][c], expected[r - 1][c - 1]) << r << "," << c;
  EXPECT_EQ(first, (std::vector<int>{2, 2, 1}));
  EXPECT_EQ(last, (std::vector<int>{3, 2, 2}));
}

struct helper_row {
  std::vector<double> regions;  // columns 1..n
  std::vector<double> all;      // process 0's row, positions 0..n
  int needed;                   // pairs up to the last owned cell
};

TEST(Division, HelperRowOfProcessZero) {
  const helper_row rows[] = {
      // Two processes and a gap: lead 1, (2,2) (N,1) (1,1), then the trailing (N,2).
      {{N, 2, 2, N, 1, N, N, N}, {1, 2, 2, N, 1, 1, 1, N, 3}, 3},
      // No valid cell: all leading nodata, no pair.
      {{N, N, N, N}, {4, 0, 0, 0, 0}, 0},
      // One run filling the row.
      {{0, 0, 0, 0}, {0, 0, 4, 0, 0}, 1},
      // Three pairs needed, but 5 positions hold two: the third is left out.
      {{0, N, 0, N, N}, {0, 0, 1, N, 1, 0}, 3},
  };
  for (const auto& r : rows) {
    const int n = static_cast<int>(r.regions.size());
    std::vector<double> regions(1, 0.0);
    regions.insert(regions.end(), r.regions.begin(), r.regions.end());
    std::vector<double> helper(static_cast<size_t>(n) + 1, 0.0);
    EXPECT_EQ(build_helper_row_all(regions.data(), helper.data(), n, N), r.needed);
    EXPECT_EQ(helper, r.all);
  }
}

TEST(Division, HelperRowOfAnotherProcess) {
  // Process 1's runs: columns 2-3 and 6; the rest of the row stays 0.
  const std::vector<double> regions = {0, 2, 1, 1, 0, N, 1, 0, 0};
  std::vector<double> helper(9, 0.0);
  EXPECT_EQ(build_helper_row_own(regions.data(), helper.data(), 8, 1), 2);
  EXPECT_EQ(helper, (std::vector<double>{0, 2, 2, 6, 1, 0, 0, 0, 0}));
  // Alternating own cells in 3 columns: 2 runs need 4 positions, only the
  // first fits.
  const std::vector<double> alternating = {0, 1, N, 1};
  std::vector<double> small(4, 0.0);
  EXPECT_EQ(build_helper_row_own(alternating.data(), small.data(), 3, 1), 2);
  EXPECT_EQ(small, (std::vector<double>{0, 1, 1, 0}));
}

TEST(Division, ReceiveRunsJoinPiecesOfOneNeighbourInARow) {
  captured_diag cap;
  grid_store store;
  grid_object o(*cap.diag, store, 8, 2);
  // Row 1 belongs to process 1; process 0 owns r2c1 and r2c8, so its halo is
  // r1c1-2 and r1c7-8: one run from column 1 over the gap to column 8.
  const grid_matrix regions =
      make_grid(o, {{1, 1, 1, 1, 1, 1, 1, 1}, {0, N, N, N, N, N, N, 0}}, 1, 2);
  const grid_matrix halo = make_grid(o, {{1, 1, N, N, N, N, 1, 1}, {N, N, N, N, N, N, N, N}}, 1, 2);
  const std::vector<halo_run> runs = build_receive_list(regions, halo, 1, 2, 8);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].row, 1);
  EXPECT_EQ(runs[0].first_col, 1);
  EXPECT_EQ(runs[0].count, 8);
  EXPECT_EQ(runs[0].neighbour, 1);

  // Halo cells of processes 3 and 2 side by side in row 1 and one of process
  // 2 at the start of row 2 (process 1 owns r2c2-8): no run goes on from the
  // end of a row into the next.
  const grid_matrix regions2 =
      make_grid(o, {{3, 3, 2, 2, 2, 2, 2, 2}, {2, 1, 1, 1, 1, 1, 1, 1}}, 1, 2);
  const grid_matrix halo2 =
      make_grid(o, {{3, 3, 2, 2, 2, 2, 2, 2}, {2, N, N, N, N, N, N, N}}, 1, 2);
  const std::vector<halo_run> runs2 = build_receive_list(regions2, halo2, 1, 2, 8);
  ASSERT_EQ(runs2.size(), 3u);
  const int expected[3][4] = {{1, 1, 2, 3}, {1, 3, 6, 2}, {2, 1, 1, 2}};
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(runs2[k].row, expected[k][0]) << k;
    EXPECT_EQ(runs2[k].first_col, expected[k][1]) << k;
    EXPECT_EQ(runs2[k].count, expected[k][2]) << k;
    EXPECT_EQ(runs2[k].neighbour, expected[k][3]) << k;
  }
}

}  // namespace
