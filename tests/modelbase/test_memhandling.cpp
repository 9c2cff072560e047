// Grids and stacks by global row, the chunk rule that keeps every allocation
// below 2^31 bytes, halvings, and the allocation-failure reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "modelbase/memhandling.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

// A model object in its simplest form: a name and a diagnostics stream.
class named_object : public memory_handling {
 public:
  named_object(DiagStream& stream, const std::string& object_name) {
    diag = &stream;
    name = object_name;
  }
};

TEST(Matrices, ChunkRowsFollowTheHalvingRule) {
  struct row {
    int first_row, last_row, last_col;
    std::vector<int> chunks;
  };
  // Worked by hand: rows 1..100, 100 columns: B = 808, T = 101 B = 81608,
  // L = 8160; 2^17 >= T + 24 gives K = (65536 - 24) / 808 = 81; the 19 rows
  // left (15352 bytes) give 2^14, K = 8168 / 808 = 10; the last 9 rows (7272
  // bytes <= L) are one chunk. The others likewise; 50000 x 50000 hits the
  // 2147480000-byte cap (2147480000 / 400008 = 5368 rows) nine times.
  const std::vector<row> rows = {
      {1, 100, 100, {81, 10, 9}},
      {1, 1000, 1000, {523, 261, 130, 86}},
      {1, 3, 5, {2, 1}},
      {10, 20, 50, {9, 1, 1}},
      {7, 7, 30, {1}},
      {1, 50000, 50000, {5368, 5368, 5368, 5368, 5368, 5368, 5368, 5368, 5368, 1688}},
  };
  for (const row& r : rows) {
    EXPECT_EQ(matrix_chunk_rows(r.first_row, r.last_row, r.last_col), r.chunks)
        << r.first_row << ".." << r.last_row << " x " << r.last_col;
  }
}

TEST(Matrices, RowsByGlobalIndexContiguousInsideChunks) {
  captured_diag cap;
  named_object owner(*cap.diag, "grid_owner");
  // Rows 5..9 of a grid with 20 rows: 21 row pointers, 0..4 and 10..20 null.
  grid_matrix m = owner.matrix(5, 9, 1, 6, 20);
  ASSERT_EQ(m.pointer_count(), 21);
  for (int r = 0; r <= 20; ++r) EXPECT_EQ(m[r] != nullptr, r >= 5 && r <= 9) << r;
  // Five rows + a spare of 7 doubles: B = 56, T = 336, L = 33; 2^9 >= 360 gives
  // K = (256 - 24) / 56 = 4, then the last row alone.
  EXPECT_EQ(m.chunk_rows(), (std::vector<int>{4, 1}));
  for (int r = 5; r < 8; ++r) EXPECT_EQ(m[r + 1], m[r] + 7) << "rows " << r << " and " << r + 1;
  for (int r = 5; r <= 9; ++r)
    for (int c = 0; c <= 6; ++c) EXPECT_EQ(m[r][c], 0.0);
  m[9][6] = 3.5;
  EXPECT_EQ(m[9][6], 3.5);
  // Total rows 0: the last row gives the size, 10 pointers.
  EXPECT_EQ(owner.matrix(5, 9, 1, 6, 0).pointer_count(), 10);
  // A total below the last row still gives every row its pointer.
  EXPECT_EQ(owner.matrix(5, 9, 1, 6, 7).pointer_count(), 10);
  owner.free_matrix(m, 5, 9, 1, 6);
  EXPECT_TRUE(m.empty());
  owner.free_matrix(m, 5, 9, 1, 6);  // a null matrix returns at once
}

TEST(Matrices, TooLongRowsAreRefusedByMatrixAndFreeMatrix) {
  // (c + 1) * 8 + 24 <= 2147480000 holds up to c = 268434996.
  constexpr int LONGEST = 268434996;
  captured_diag cap(4);
  named_object owner(*cap.diag, "grid_owner");
  // No rows requested: only the length test runs, nothing large is allocated.
  EXPECT_NO_THROW(owner.matrix(1, 0, 1, LONGEST, 0));
  int code = 0;
  try {
    owner.matrix(1, 0, 1, LONGEST + 1, 0);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 1);
  grid_matrix small = owner.matrix(1, 2, 1, 3, 0);
  code = 0;
  try {
    owner.free_matrix(small, 1, 2, 1, LONGEST + 1);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 1);
  std::string why;
  const auto lines = diag_xml_lines(cap.xml(), &why);
  ASSERT_FALSE(lines.empty()) << why;
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1),
            (std::vector<std::string>{diag_line(0, "too long matrix rows"),
                                      diag_line(0, "too long matrix rows")}));
}

TEST(Matrices, StackCellsPointIntoOneBlockPerRow) {
  captured_diag cap;
  named_object owner(*cap.diag, "stack_owner");
  // Rows 2..3 of 5, columns 3..4, levels 0..2: 6 row pointers; cell c at
  // block + 3 c; cells 1 and 2 (between 0 and the first column) null.
  stack_matrix s = owner.matrix_3d(2, 3, 3, 4, 2, 5);
  ASSERT_EQ(s.pointer_count(), 6);
  for (int r = 0; r <= 5; ++r) EXPECT_EQ(s[r] != nullptr, r == 2 || r == 3) << r;
  for (int r = 2; r <= 3; ++r) {
    EXPECT_EQ(s[r][1], nullptr);
    EXPECT_EQ(s[r][2], nullptr);
    EXPECT_EQ(s[r][3], s[r][0] + 9);
    EXPECT_EQ(s[r][4], s[r][0] + 12);
    for (int c = 3; c <= 4; ++c)
      for (int l = 0; l <= 2; ++l) EXPECT_EQ(s[r][c][l], 0.0);
  }
  s[3][4][2] = -1.25;
  EXPECT_EQ(s[3][4][2], -1.25);
  EXPECT_EQ(owner.matrix_3d(2, 3, 1, 4, 2, 0).pointer_count(), 4);
  owner.free_matrix_3d(s, 2, 3);
  EXPECT_TRUE(s.empty());
  owner.free_matrix_3d(s, 2, 3);  // null: returns at once
}

TEST(Matrices, CountHalvings) {
  captured_diag cap;
  named_object owner(*cap.diag, "x");
  struct row {
    double x;
    double halvings;
  };
  // Smallest p with 2^p >= x: 2^11 = 2048 >= 2000 > 1024.
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<row> rows = {
      {0, 0},     {-3, 0},    {1, 0},     {1.5, 1},          {2, 1},    {2.000001, 2}, {4, 2},
      {2000, 11}, {1024, 10}, {1025, 11}, {std::nan(""), 0}, {inf, inf}};
  for (const row& r : rows) EXPECT_EQ(owner.count_halvings(r.x), r.halvings) << r.x;
}

TEST(Matrices, FailedAllocationNamesTheObjectAndTheCode) {
  captured_diag cap;
  named_object owner(*cap.diag, "snow_model");
  int code = 0;
  try {
    // More doubles than a vector can hold: the allocation fails at once.
    owner.checked_array<double>(std::numeric_limits<size_t>::max() / 2, 7);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 81);
  EXPECT_EQ(owner.checked_calloc(16, 3), std::vector<std::byte>(16, std::byte{0}));
  std::string why;
  const auto lines = diag_xml_lines(cap.xml(), &why);
  ASSERT_EQ(lines.size(), 3u) << why;
  EXPECT_EQ(lines[1], diag_line(0, "memory allocation error in snow_model (7)"));
  EXPECT_EQ(cap.console(), "memory allocation error in snow_model (7)\n(mpi-rank  0) ");
}

}  // namespace
