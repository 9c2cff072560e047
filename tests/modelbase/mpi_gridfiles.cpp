// Grid and stack files on 1 to 4 processes over a divided zone grid: every
// format read back by all processes gives each its own cells, and written
// again after gathering gives the same bytes; binary stacks are written by
// all processes at their own cells into a complete file whose bytes do not
// depend on the process count; a failure on some processes stops all of them
// with the same code.
#include <gtest/gtest.h>
#include <mpi.h>

#include <string>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "modelbase/gridfile_holes.h"
#include "settings/division_fixture.h"

namespace {

constexpr double N = NODATA;

// Zones with gaps and a hole; speeds 1, 3, 2 make unequal bands.
const std::vector<std::string> ZONES = {"....111122", "..11111222", "1111112222", "111..12222",
                                        "1133332222", "1333333333", "33333333.."};

// Values with few digits, so that "%g" and single precision keep them.
double cell_value(int row, int col) { return row * 10.5 + col * 0.25; }
double level_value(int row, int col, int level) { return row * 100 + col * 10 + level; }

struct file_run {
  file_run() : run(zone_rows(ZONES), speed_files{{"1", "3", "2"}, true}) {
    // The object keeps its own rows; the file operations add the halo.
    run.object.set_band(run.own_first, run.own_last);
  }
  bool valid(int row, int col) const {
    return zone_rows(ZONES)[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)] != N;
  }
  // The whole grid as it is written: values on valid cells, nodata elsewhere.
  grid_matrix full_grid() {
    grid_matrix g = run.object.matrix(1, run.nrows, 1, run.ncols, 0);
    for (int r = 1; r <= run.nrows; ++r)
      for (int c = 1; c <= run.ncols; ++c) g[r][c] = valid(r, c) ? cell_value(r, c) : N;
    return g;
  }
  division_run run;
};

// Every process's own cells hold the expected values; with the halo also the
// cells it receives from its neighbours.
template <class Expected>
void expect_own_cells(file_run& f, const grid_matrix& grid, bool with_halo, Expected expected,
                      const std::string& what) {
  division_run& d = f.run;
  for (int r = d.own_first; r <= d.own_last; ++r)
    for (int c = 1; c <= d.ncols; ++c)
      if (d.owner(r, c) == d.rank) {
        EXPECT_EQ(grid[r][c], expected(r, c)) << what << " " << r << "," << c;
      }
  if (!with_halo) return;
  for (const halo_run& h : d.receive)
    for (int c = h.first_col; c < h.first_col + h.count; ++c)
      if (d.owner(h.row, c) >= 0) { EXPECT_EQ(grid[h.row][c], expected(h.row, c)) << what << " halo"; }
}

TEST(GridFilesMpi, EveryFormatReadsBackAndWritesTheSameBytes) {
  struct row {
    const char* what;
    bool as_text;
    bool double_precision;
    bool keep_full;
    bool with_halo;
  };
  const std::vector<row> rows = {
      {"text", true, false, false, true},
      {"text, process 0 keeps all", true, false, true, false},
      {"double, parallel read", false, true, false, true},
      {"double, parallel read, no halo", false, true, false, false},
      {"single, parallel read", false, false, false, true},
      {"single, whole read", false, false, true, true},
  };
  for (const row& r : rows) {
    file_run f;
    ASSERT_EQ(f.run.code, 0);
    shared_workdir dir;
    const std::string first = dir.path() + "/first";
    const std::string again = dir.path() + "/again";
    if (f.run.rank == 0)
      f.run.object.write_grid(first, f.full_grid(), r.as_text, r.double_precision);
    MPI_Barrier(MPI_COMM_WORLD);
    grid_matrix grid;
    f.run.object.read_grid(first, grid, 0, true, false, 0, false, r.keep_full, false, r.with_halo);
    expect_own_cells(f, grid, r.with_halo, cell_value, r.what);
    grid_matrix copy = f.run.object.gather_grid_copy(0, &grid);
    if (f.run.rank == 0) {
      f.run.object.write_grid(again, copy, r.as_text, r.double_precision);
      EXPECT_EQ(read_file(again), read_file(first)) << r.what;
    }
  }
}

TEST(GridFilesMpi, WithoutDistributionOnlyProcessZeroReads) {
  file_run f;
  ASSERT_EQ(f.run.code, 0);
  shared_workdir dir;
  division_run& d = f.run;
  const std::string path = dir.path() + "/g.bin";
  if (d.rank == 0) d.object.write_grid(path, f.full_grid(), false, true);
  MPI_Barrier(MPI_COMM_WORLD);
  // No broadcast, barrier or transfer: process 0 reads the whole grid, the
  // others only prepare their band; the caller scatters later.
  grid_matrix grid;
  d.object.read_grid(path, grid, 0, true, false, 0, false, true, true, false);
  if (d.rank == 0) {
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        EXPECT_EQ(grid[r][c], f.valid(r, c) ? cell_value(r, c) : N);
  } else {
    EXPECT_EQ(grid.first_row(), d.own_first);
    EXPECT_EQ(grid.last_row(), d.own_last);
    for (int r = d.own_first; r <= d.own_last; ++r)
      for (int c = 1; c <= d.ncols; ++c) EXPECT_EQ(grid[r][c], N);
  }
  d.object.scatter_grid(0, &grid);
  expect_own_cells(f, grid, false, cell_value, "scattered later");
}

TEST(GridFilesMpi, TextParsedTogetherGoesWholeToProcessZero) {
  file_run f;
  ASSERT_EQ(f.run.code, 0);
  shared_workdir dir;
  division_run& d = f.run;
  const std::string path = dir.path() + "/g.asc";
  const std::string bad = dir.path() + "/bad.asc";
  if (d.rank == 0) {
    d.object.write_grid(path, f.full_grid(), true, false);
    // The value of row 6, column 3 spoilt: every process stops with the entry
    // one reader gives.
    std::string text = read_file(path);
    size_t at = text.find("nodata_value");
    for (int line = 0; line < 6; ++line) at = text.find('\n', at) + 1;
    for (int tab = 0; tab < 2; ++tab) at = text.find('\t', at) + 1;
    dir_write(bad, text.insert(at, "x"));
  }
  MPI_Barrier(MPI_COMM_WORLD);
  grid_matrix grid;
  d.object.read_grid_to_process_0(path, grid, false, 0, false);
  if (d.rank == 0) {
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        EXPECT_EQ(grid[r][c], f.valid(r, c) ? cell_value(r, c) : N) << r << "," << c;
  } else {
    EXPECT_TRUE(grid.empty());
  }
  grid_matrix spoilt;
  EXPECT_EQ(thrown_code([&] { d.object.read_grid_to_process_0(bad, spoilt, false, 0, false); }),
            22);
  if (d.rank == 0) {
    EXPECT_TRUE(has_fatal(d.cap, "error reading ascii grid " + bad +
                                     " in ASCII-Format in row 6, col 3"));
  }
}

TEST(GridFilesMpi, HolesFilledByProcessZeroReachTheirOwners) {
  for (bool report : {false, true}) {
    file_run f;
    ASSERT_EQ(f.run.code, 0);
    shared_workdir dir;  // the log file goes here
    // Three valid cells without a value: (3,2), (5,4), (7,1).
    grid_matrix file = f.full_grid();
    file[3][2] = file[5][4] = file[7][1] = N;
    if (f.run.rank == 0) f.run.object.write_grid("holes.asc", file, true, false);
    MPI_Barrier(MPI_COMM_WORLD);
    grid_matrix grid;
    f.run.object.read_grid("holes.asc", grid, 1, true, false, 0.5, report, false, false, true);
    // Expected as the kernel fills the whole grid on one process: the same
    // for every number of processes.
    grid_matrix zone = f.run.object.matrix(1, f.run.nrows, 1, f.run.ncols, 0);
    for (int r = 1; r <= f.run.nrows; ++r)
      for (int c = 1; c <= f.run.ncols; ++c) zone[r][c] = f.valid(r, c) ? 1 : N;
    const hole_fill_result result =
        fill_grid_holes(file, f.run.nrows, f.run.ncols, &zone, {1, 0.5, report, N});
    EXPECT_EQ(result.count, 3);
    expect_own_cells(
        f, grid, true, [&](int r, int c) { return file[r][c]; }, "fill");
    if (!report) { EXPECT_EQ(file[5][4], 0.5); }
  }
}

// The bytes of the binary stack file: valid cells level_value, others nodata.
std::string expected_stack_bytes(file_run& f, int levels, bool single) {
  std::vector<double> numbers = {static_cast<double>(f.run.ncols),
                                 static_cast<double>(f.run.nrows),
                                 0,
                                 0,
                                 100,
                                 N,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 static_cast<double>(levels)};
  for (int r = 1; r <= f.run.nrows; ++r)
    for (int c = 1; c <= f.run.ncols; ++c)
      for (int l = 0; l <= levels; ++l) numbers.push_back(f.valid(r, c) ? level_value(r, c, l) : N);
  return binary_bytes(numbers, single);
}

TEST(GridFilesMpi, BinaryStacksAreCompleteAndReadBack) {
  const int levels = 2;
  for (bool single : {false, true}) {
    file_run f;
    ASSERT_EQ(f.run.code, 0);
    shared_workdir dir;
    division_run& d = f.run;
    // Own cells hold their values; every other cell a value that must not
    // reach the file.
    stack_matrix stack = d.object.matrix_3d(d.own_first, d.own_last, 1, d.ncols, levels, d.nrows);
    for (int r = d.own_first; r <= d.own_last; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        for (int l = 0; l <= levels; ++l)
          stack[r][c][l] = d.owner(r, c) == d.rank ? level_value(r, c, l) : -5;
    const std::string path = dir.path() + "/s.bin";
    if (d.rank == 0) dir_write(path, std::string(10000, 'x'));  // a longer file from before
    MPI_Barrier(MPI_COMM_WORLD);
    d.object.write_stack(path, stack, levels, false, !single);
    MPI_Barrier(MPI_COMM_WORLD);
    if (d.rank == 0) { EXPECT_EQ(read_file(path), expected_stack_bytes(f, levels, single)); }
    for (bool keep_full : {false, true}) {
      stack_matrix back;
      d.object.read_stack(path, back, keep_full);
      ASSERT_EQ(back.levels(), levels);
      for (int r = d.own_first; r <= d.own_last; ++r)
        for (int c = 1; c <= d.ncols; ++c) {
          if (d.owner(r, c) == d.rank)
            for (int l = 0; l <= levels; ++l) EXPECT_EQ(back[r][c][l], level_value(r, c, l));
          else if (keep_full && d.rank != 0) {
            for (int l = 1; l <= levels; ++l) EXPECT_EQ(back[r][c][l], N) << r << "," << c;
          }
        }
    }
  }
}

TEST(GridFilesMpi, TextStacksGoThroughProcessZero) {
  const int levels = 1;
  file_run f;
  ASSERT_EQ(f.run.code, 0);
  shared_workdir dir;
  division_run& d = f.run;
  const std::string first = dir.path() + "/s.stk";
  if (d.rank == 0) {
    stack_matrix full = d.object.matrix_3d(1, d.nrows, 1, d.ncols, levels, 0);
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        for (int l = 0; l <= levels; ++l) full[r][c][l] = f.valid(r, c) ? level_value(r, c, l) : N;
    d.object.write_stack(first, full, levels, true, false);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  stack_matrix back;
  d.object.read_stack(first, back, false);
  for (int r = d.own_first; r <= d.own_last; ++r)
    for (int c = 1; c <= d.ncols; ++c)
      if (d.owner(r, c) == d.rank) {
        for (int l = 0; l <= levels; ++l) EXPECT_EQ(back[r][c][l], level_value(r, c, l));
      }
  stack_matrix copy = d.object.gather_stack_copy(0, &back);
  if (d.rank == 0) {
    d.object.write_stack(dir.path() + "/again.stk", copy, levels, true, false);
    EXPECT_EQ(read_file(dir.path() + "/again.stk"), read_file(first));
  }
}

TEST(GridFilesMpi, AFailureOnSomeProcessesStopsAllWithOneCode) {
  file_run f;
  ASSERT_EQ(f.run.code, 0);
  shared_workdir dir;
  division_run& d = f.run;
  const std::string path = dir.path() + "/cut.bin";
  // The southern rows (process 0's) are cut off: only the processes reading
  // them fail, in the parallel read.
  if (d.rank == 0) {
    d.object.write_grid(path, f.full_grid(), false, true);
    dir_write(path, read_file(path).substr(0, 96 + 8 * 10 * 5));
  }
  MPI_Barrier(MPI_COMM_WORLD);
  grid_matrix grid;
  EXPECT_EQ(thrown_code([&] {
              d.object.read_grid(path, grid, 0, true, false, 0, false, false, false, true);
            }),
            22);
  // Only process 0 gives a grid of its own: the others fail, and process 0
  // reports the failure of process 1.
  const std::string whole = dir.path() + "/whole.asc";
  if (d.rank == 0) d.object.write_grid(whole, f.full_grid(), true, false);
  MPI_Barrier(MPI_COMM_WORLD);
  grid_matrix given = d.rank == 0 ? d.object.matrix(1, d.nrows, 1, d.ncols, 0) : grid_matrix();
  const int code = thrown_code(
      [&] { d.object.read_grid(whole, given, 0, false, false, 0, false, true, false, false); });
  EXPECT_EQ(code, d.size > 1 ? 22 : INT_MIN);
  // Every process stops at a missing stack file.
  stack_matrix stack;
  EXPECT_EQ(thrown_code([&] { d.object.read_stack(dir.path() + "/none.stk", stack, false); }), 21);
  if (d.rank == 0 && d.size > 1) {
    EXPECT_TRUE(has_fatal(d.cap, "error reading grid " + whole +
                                     " no memory allocated (pointer given to function is NULL)"));
  }
}

}  // namespace
