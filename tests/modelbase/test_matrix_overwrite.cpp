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

}  // namespace
