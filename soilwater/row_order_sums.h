// Sums over the rows of a band that do not depend on the thread count: every
// row forms its partial sums on some thread, and one thread adds the
// partials to the totals in row order. Rows are taken in blocks so that the
// partials held stay few; one block is merged while the next is summed.
#pragma once

#include <algorithm>
#include <vector>

#include "modelbase/gridtypes.h"

// First row of each block of rows first..last, then last + 1: a block holds
// at least min_rows rows, more while its strips hold up to block_cells cells.
inline std::vector<int> row_blocks(const std::vector<row_strip>& strips, int first, int last,
                                   int min_rows, long block_cells) {
  std::vector<int> block_first;
  long cells = 0;
  int rows = 0;
  for (int r = first; r <= last; ++r) {
    const row_strip& strip = strips[static_cast<size_t>(r)];
    const long width = std::max(0, strip.last - strip.first + 1);
    if (rows == 0 || (rows >= min_rows && cells + width > block_cells)) {
      block_first.push_back(r);
      cells = 0;
      rows = 0;
    }
    cells += width;
    ++rows;
  }
  block_first.push_back(last + 1);
  return block_first;
}

// For the blocks of row_blocks: sum(r, partial, state) for every row on the
// threads (state: make_state() per thread), merge(partial) for every row in
// row order on one thread at a time. A partial is cleared by sum itself.
template <class Partial, class MakeState, class Sum, class Merge>
void sum_rows_in_order(const std::vector<int>& block_first, MakeState make_state, Sum sum,
                       Merge merge) {
  int most_rows = 0;
  for (size_t b = 0; b + 1 < block_first.size(); ++b)
    most_rows = std::max(most_rows, block_first[b + 1] - block_first[b]);
  std::vector<Partial> buffers[2];
  for (std::vector<Partial>& buffer : buffers) buffer.resize(static_cast<size_t>(most_rows));
#pragma omp parallel
  {
    auto state = make_state();
    for (size_t b = 0; b + 1 < block_first.size(); ++b) {
      const int start = block_first[b], end = block_first[b + 1];
      std::vector<Partial>& block = buffers[b % 2];
      // The barrier at the end of the loop also waits for the merge of the
      // block before, so merges keep the row order and a buffer is free
      // again when its turn comes.
#pragma omp for schedule(dynamic, 1)
      for (int r = start; r < end; ++r) sum(r, block[static_cast<size_t>(r - start)], state);
#pragma omp single nowait
      for (int r = start; r < end; ++r) merge(block[static_cast<size_t>(r - start)]);
    }
  }
}
