// A matrix for a caller that overwrites every cell: the same rows and chunks
// as a zeroed one, column 0 zeroed, and every later plain matrix still zeroed
// (also after an allocation that failed).
#include <gtest/gtest.h>

#include <string>

#include "modelbase/memhandling.h"
#include "support/test_support.h"

namespace {

class overwrite_object : public memory_handling {
 public:
  explicit overwrite_object(DiagStream& stream) {
    diag = &stream;
    name = "overwrite_object";
  }
  grid_matrix matrix(int first, int last, int first_col, int last_col, int total_rows) override {
    if (refuse) throw 99;
    return memory_handling::matrix(first, last, first_col, last_col, total_rows);
  }
  bool refuse = false;
};

TEST(MatrixForOverwrite, SameLayoutColumnZeroZeroedPlainMatricesStillZeroed) {
  captured_diag cap;
  overwrite_object owner(*cap.diag);
  // Dirty freed memory that the next allocations may get back.
  for (int round = 0; round < 3; ++round) {
    grid_matrix dirty = owner.matrix(1, 300, 1, 300, 0);
    for (int r = 1; r <= 300; ++r)
      for (int c = 0; c <= 300; ++c) dirty[r][c] = -7.0;
  }
  grid_matrix m = owner.matrix_for_overwrite(5, 9, 1, 6, 20);
  const grid_matrix plain_layout = owner.matrix(5, 9, 1, 6, 20);
  EXPECT_EQ(m.pointer_count(), plain_layout.pointer_count());
  EXPECT_EQ(m.chunk_rows(), plain_layout.chunk_rows());
  for (int r = 0; r <= 20; ++r) EXPECT_EQ(m[r] != nullptr, r >= 5 && r <= 9) << r;
  for (int r = 5; r <= 9; ++r) EXPECT_EQ(m[r][0], 0.0) << r;

  owner.refuse = true;
  EXPECT_THROW(owner.matrix_for_overwrite(1, 300, 1, 300, 0), int);
  owner.refuse = false;
  const grid_matrix after = owner.matrix(1, 300, 1, 300, 0);
  for (int r = 1; r <= 300; ++r)
    for (int c = 0; c <= 300; ++c) ASSERT_EQ(after[r][c], 0.0) << r << "," << c;
}

// Blocks of a huge page or more are kept by the process when released and
// handed out again: a plain matrix that gets such a block back must still be
// zeroed, whether the block is as large as it was or somewhat larger.
TEST(MatrixForOverwrite, ReusedLargeBlocksAreZeroedForPlainMatrices) {
  captured_diag cap;
  overwrite_object owner(*cap.diag);
  struct sizes {
    int dirty_rows, rows, cols;
  };
  for (const sizes& k : {sizes{1000, 1000, 400}, sizes{1000, 900, 400}, sizes{600, 600, 1000}}) {
    {
      grid_matrix dirty = owner.matrix_for_overwrite(1, k.dirty_rows, 1, k.cols, 0);
      for (int r = 1; r <= k.dirty_rows; ++r)
        for (int c = 0; c <= k.cols; ++c) dirty[r][c] = -7.0;
    }
    const grid_matrix plain = owner.matrix(1, k.rows, 1, k.cols, 0);
    for (int r = 1; r <= k.rows; ++r)
      for (int c = 0; c <= k.cols; ++c)
        ASSERT_EQ(plain[r][c], 0.0) << k.rows << "x" << k.cols << " at " << r << "," << c;
    // Both grids alive at once get blocks of their own.
    grid_matrix other = owner.matrix(1, k.rows, 1, k.cols, 0);
    other[k.rows][k.cols] = 3.0;
    EXPECT_EQ(plain[k.rows][k.cols], 0.0);
  }
}

}  // namespace
