// Row sums independent of the thread count: how the rows fall into blocks,
// and that the merges see every row's partial, complete, in row order,
// whatever the threads and the blocks, so that a floating-point total comes
// out the same bit for bit.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "soilwater/row_order_sums.h"

namespace {

TEST(RowOrderSums, RowsFallIntoBlocksByRowsAndCells) {
  struct block_case {
    const char* what;
    std::vector<int> widths;  // of rows 1..n
    int first, last, min_rows;
    long block_cells;
    std::vector<int> expected;
  };
  const block_case cases[] = {
      {"no rows", {3, 3}, 2, 1, 2, 100, {2}},
      {"few cells: one block", {3, 3, 3, 3}, 1, 4, 2, 100, {1, 5}},
      {"cells split the band", {4, 4, 4, 4, 4}, 1, 5, 1, 8, {1, 3, 5, 6}},
      {"at least min_rows rows", {4, 4, 4, 4, 4}, 1, 5, 3, 8, {1, 4, 6}},
      {"empty strips count no cells", {4, 0, 0, 4, 4}, 1, 5, 1, 8, {1, 5, 6}},
      {"part of the rows", {9, 9, 9, 9}, 2, 3, 1, 8, {2, 3, 4}},
  };
  for (const block_case& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<row_strip> strips(k.widths.size() + 1, row_strip{0, -1});
    for (size_t r = 1; r <= k.widths.size(); ++r) strips[r] = row_strip{1, k.widths[r - 1]};
    EXPECT_EQ(row_blocks(strips, k.first, k.last, k.min_rows, k.block_cells), k.expected);
  }
}

struct row_partial {
  int row = 0;
  double sum = 0;
};

// Rows 1..97 of mixed magnitudes summed through blocks of the given rows.
struct ordered_run {
  std::vector<int> merged_rows;
  double total = 0;
  bool complete = true;  // every merged partial held its whole row
};

ordered_run run(int threads, int min_rows, long block_cells) {
  constexpr int ROWS = 97, COLS = 13;
  std::vector<row_strip> strips(ROWS + 1, row_strip{1, COLS});
  ordered_run out;
  const int before = omp_get_max_threads();
  omp_set_num_threads(threads);
  sum_rows_in_order<row_partial>(
      row_blocks(strips, 1, ROWS, min_rows, block_cells), [] { return 0; },
      [](int r, row_partial& p, int&) {
        p = row_partial{};
        for (int c = 1; c <= COLS; ++c) p.sum += std::pow(-1.7, (r * c) % 23) / (r + c);
        p.row = r;
      },
      [&](const row_partial& p) {
        out.merged_rows.push_back(p.row);
        double check = 0;
        for (int c = 1; c <= COLS; ++c) check += std::pow(-1.7, (p.row * c) % 23) / (p.row + c);
        if (check != p.sum) out.complete = false;
        out.total += p.sum;
      });
  omp_set_num_threads(before);
  return out;
}

TEST(RowOrderSums, MergesFollowTheRowsForAnyThreadsAndBlocks) {
  std::vector<int> rows(97);
  for (int r = 1; r <= 97; ++r) rows[static_cast<size_t>(r - 1)] = r;
  const ordered_run reference = run(1, 1, 1L << 30);  // one block on one thread
  EXPECT_EQ(reference.merged_rows, rows);
  struct layout {
    int threads, min_rows;
    long block_cells;
  };
  for (const layout& l : {layout{4, 1, 13}, layout{4, 2, 40}, layout{3, 8, 100},
                          layout{4, 1, 1L << 30}, layout{1, 1, 13}}) {
    SCOPED_TRACE(std::to_string(l.threads) + " threads, blocks of " + std::to_string(l.min_rows) +
                 " rows / " + std::to_string(l.block_cells) + " cells");
    const ordered_run r = run(l.threads, l.min_rows, l.block_cells);
    EXPECT_EQ(r.merged_rows, rows);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.total, reference.total);
  }
}

}  // namespace
