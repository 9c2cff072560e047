// Paths of the transfers that process 0 decides alone, before anything is
// sent: run lists that do not end within their row, lists that end because
// the span is covered, skipped rows, and the missing level count of a stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "support/test_support.h"

namespace {

constexpr double N = NODATA;
const std::string NEXT = "\n(mpi-rank  0) ";

// Process 0 of two, one row whose cells all belong to process 0, so that a
// transfer walks the row without sending anything.
struct one_row {
  one_row(const std::vector<double>& helper_row, row_strip span)
      : cols(static_cast<int>(helper_row.size()) - 1), object(*cap.diag, store, cols, 1) {
    regions = object.matrix(1, 1, 1, cols, 0);
    helper = object.matrix(1, 1, 1, cols, 0);
    for (int c = 0; c <= cols; ++c) helper[1][c] = helper_row[static_cast<size_t>(c)];
    strips = {row_strip{}, span};
    object.set_process(0, 2);
    object.set_division(&regions, &helper, &strips, &no_runs, &no_runs);
    grid = object.matrix(1, 1, 1, cols, 0);
    stack = object.matrix_3d(1, 1, 1, cols, 1, 0);
  }
  int cols;
  captured_diag cap;
  grid_store store;
  grid_object object;
  grid_matrix regions, helper, grid;
  stack_matrix stack;
  std::vector<row_strip> strips;
  std::vector<halo_run> no_runs;
};

TEST(Transfers, RunListMustEndWithinItsRow) {
  // Span 1..4, pairs (0,1) (0,1) fill positions 1-4 and reach column 3 only.
  const std::string grids = "MPI-Regions: to much strips to be stored in a grid row in row 1";
  const std::string stacks = "MPI-Regions: to much strips to be stored in a grid row (in row 1)";
  {
    one_row f({0, 0, 1, 0, 1}, {1, 4});
    EXPECT_EQ(thrown_code([&] { f.object.scatter_grid(0, &f.grid); }), 120);
    EXPECT_EQ(f.cap.console(), grids + NEXT);
  }
  {
    one_row f({0, 0, 1, 0, 1}, {1, 4});
    EXPECT_EQ(thrown_code([&] { f.object.gather_grid(0, &f.grid); }), 120);
    EXPECT_EQ(f.cap.console(), grids + NEXT);
  }
  {
    one_row f({0, 0, 1, 0, 1}, {1, 4});
    EXPECT_EQ(thrown_code([&] { f.object.MPIScatterStack(0, &f.stack, 1); }), 120);
    EXPECT_EQ(f.cap.console(), grids + NEXT);
  }
  {
    one_row f({0, 0, 1, 0, 1}, {1, 4});
    EXPECT_EQ(thrown_code([&] { f.object.gather_stack(0, &f.stack); }), 120);
    EXPECT_EQ(f.cap.console(), "synchronising stack  for mpi-rank 0" + NEXT + stacks + NEXT);
  }
}

TEST(Transfers, RunListEndsWhereTheSpanIsCovered) {
  struct row {
    const char* what;
    std::vector<double> helper;
    row_strip span;
  };
  const row rows[] = {
      // (0,2) (N,1) (0,2) cover the span 1..5; the trailing (N,1) has no room.
      {"span covered", {0, 0, 2, N, 1, 0, 2}, {1, 5}},
      // A pair with fewer than one cell ends the list.
      {"terminator", {0, 0, 3, 0, 0, 0, 0}, {1, 6}},
      // A row without data is skipped whatever its helper row holds.
      {"no span", {0, 0, 1, 0, 1, 0, 1}, {0, -1}},
  };
  for (const auto& r : rows) {
    one_row f(r.helper, r.span);
    EXPECT_EQ(thrown_code([&] {
                f.object.scatter_grid(0, &f.grid);
                f.object.gather_grid(0, &f.grid);
              }),
              INT_MIN)
        << r.what;
  }
}

TEST(Transfers, ScatterStackNeedsALevelCount) {
  one_row f({0, 0, 1, 0, 0}, {1, 1});
  EXPECT_EQ(thrown_code([&] { f.object.MPIScatterStack(0, &f.stack, 0); }), 1010);
  EXPECT_EQ(f.cap.console(),
            "no level-count given as (optional) parameter to MPIScatterStack. Please report to "
            "the author." +
                NEXT);
}

}  // namespace
