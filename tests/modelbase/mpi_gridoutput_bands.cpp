// Written grids and text stacks gathered at process 0 a band of rows at a
// time, on 1 to 4 processes: every format gives the bytes of the whole
// gathered copy (header statistics included), whatever the band size, and a
// failure keeps its code, leaves no file behind and lets no process wait for
// ever.
#include <gtest/gtest.h>
#include <mpi.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "settings/division_fixture.h"
#include "support/small_tmpfs.h"

namespace {

// A ragged border, holes, a row without any zone cell and unequal bands
// (speeds 1, 3, 2).
const std::vector<std::string> ZONES = {
    "...........", "....111122.", "..11111222.", "1111112222.", "111..12222.", "1133.32222.",
    "1333333333.", ".33333333..", "..3.3333...", "...3333....", "......3....",
};

// Values of mixed magnitudes, whose sums depend on the order they are added in.
double cell_value(int row, int col) {
  return (row * 0.37 + col * 1.0e-3 + 1.0 / 3.0) * (col % 3 == 0 ? 1.0e5 : 1.0);
}

struct band_run {
  band_run() : d(zone_rows(ZONES), speed_files{{"1", "3", "2"}, true}) {
    d.object.set_band(d.own_first, d.own_last);
  }
  // Own cells hold their value; every other cell of the band 77, which no
  // file may show.
  grid_matrix band_grid() {
    grid_matrix g = d.band_grid(77.0);
    for (int r = d.band_first(); r <= d.band_last(); ++r)
      for (int c = 1; c <= d.ncols; ++c)
        if (d.owner(r, c) == d.rank) g[r][c] = cell_value(r, c);
    return g;
  }
  division_run d;
};

TEST(GridOutputBandsMpi, BandsWriteTheBytesOfTheWholeCopy) {
  band_run b;
  division_run& d = b.d;
  ASSERT_EQ(d.code, 0);
  shared_workdir dir;
  // Weights of the header statistics, held whole by process 0.
  grid_matrix weights;
  if (d.rank == 0) {
    weights = d.object.matrix(1, d.nrows, 1, d.ncols, 0);
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c) weights[r][c] = 0.9 + 0.013 * r + 0.007 * c;
    d.object.set_rel_cell_area(&weights);
  }
  grid_matrix grid = b.band_grid();
  const grid_matrix before = grid.clone();

  struct format {
    const char* what;
    bool as_text;
    bool double_precision;
  };
  const format formats[] = {
      {"text", true, false}, {"single", false, false}, {"double", false, true}};
  // 11 rows: bands of one row, sizes that leave a shorter last band, the
  // whole grid, more than the grid and the default.
  const int band_sizes[] = {1, 2, 3, 4, 10, 11, 25, 0};
  for (const format& f : formats)
    for (const bool region : {false, true}) {
      const std::string what = std::string(f.what) + (region ? ", region" : "");
      // The whole-copy path: gather a copy, process 0 writes it.
      grid_matrix copy = d.object.gather_grid_copy(0, &grid);
      std::string expected;
      if (d.rank == 0) {
        if (region)
          d.object.write_grid_region("expected", copy, f.as_text, f.double_precision);
        else
          d.object.write_grid("expected", copy, f.as_text, f.double_precision);
        expected = read_file("expected");
        ASSERT_FALSE(expected.empty()) << what;
      }
      for (const int rows : band_sizes) {
        d.object.write_gathered_grid({"a", "b"}, grid, f.as_text, f.double_precision, region, rows);
        if (d.rank == 0) {
          EXPECT_EQ(read_file("a"), expected) << what << ", bands of " << rows;
          EXPECT_EQ(read_file("b"), expected) << what << ", bands of " << rows << ", second file";
        }
      }
    }
  // The grid itself is left as it was, also by region writes.
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int c = 0; c <= d.ncols; ++c) EXPECT_EQ(grid[r][c], before[r][c]) << r << "," << c;
  if (d.rank == 0) d.object.set_rel_cell_area(nullptr);
}

TEST(GridOutputBandsMpi, TextStacksBandsWriteTheBytesOfTheWholeCopy) {
  band_run b;
  division_run& d = b.d;
  ASSERT_EQ(d.code, 0);
  shared_workdir dir;
  const int levels = 2;
  stack_matrix stack = d.band_stack(levels, 77.0);
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int c = 1; c <= d.ncols; ++c)
      if (d.owner(r, c) == d.rank)
        for (int l = 0; l <= levels; ++l) stack[r][c][l] = cell_value(r, c) + 100.0 * l;
  stack_matrix copy = d.object.gather_stack_copy(0, &stack);
  std::string expected;
  if (d.rank == 0) {
    d.object.write_stack("expected", copy, levels, true, false);
    expected = read_file("expected");
    ASSERT_FALSE(expected.empty());
  }
  for (const int rows : {1, 3, 4, 11, 0}) {
    d.object.write_gathered_text_stack({"a", "b"}, stack, levels, "s", rows);
    if (d.rank == 0) {
      EXPECT_EQ(read_file("a"), expected) << "bands of " << rows;
      EXPECT_EQ(read_file("b"), expected) << "bands of " << rows << ", second file";
    }
  }
}

TEST(GridOutputBandsMpi, WithoutADivisionProcessZeroWritesWhatItHolds) {
  // The bytes of a copy of the grid: rows it does not hold are absent, and a
  // region write blanks the cells outside the spans in the file only.
  band_run b;
  division_run& d = b.d;
  ASSERT_EQ(d.code, 0);
  shared_workdir dir;
  if (d.rank == 0) {
    d.object.set_division(nullptr, nullptr, &d.zones.strips, nullptr, nullptr);
    grid_matrix grid = d.object.matrix(2, d.nrows - 1, 1, d.ncols, d.nrows);
    for (int r = 2; r <= d.nrows - 1; ++r)
      for (int c = 0; c <= d.ncols; ++c) grid[r][c] = cell_value(r, c);
    const grid_matrix before = grid.clone();
    for (const bool as_text : {true, false})
      for (const bool region : {false, true}) {
        grid_matrix copy = grid.clone();
        if (region)
          d.object.write_grid_region("expected", copy, as_text, true);
        else
          d.object.write_grid("expected", copy, as_text, true);
        d.object.write_gathered_grid({"a"}, grid, as_text, true, region, 3);
        EXPECT_EQ(read_file("a"), read_file("expected")) << as_text << region;
      }
    for (int r = 2; r <= d.nrows - 1; ++r)
      for (int c = 0; c <= d.ncols; ++c) EXPECT_EQ(grid[r][c], before[r][c]) << r << "," << c;
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

TEST(GridOutputBandsMpi, AFailedFileThrowsOnProcessZeroAfterAllBands) {
  band_run b;
  division_run& d = b.d;
  ASSERT_EQ(d.code, 0);
  shared_workdir dir;
  grid_matrix grid = b.band_grid();
  // Process 0 throws the code once every band is taken; the others return
  // (they would wait for ever if a band were left behind). A later file of
  // the same call is not written.
  struct row {
    const char* what;
    std::string path;
    bool as_text;
    int code;
    std::string entry;
  };
  const std::vector<row> cases = {
      {"binary on a full disk", "/dev/full", false, 18,
       "write error /dev/full: No space left on device ! (18)"},
      {"text on a full disk", "/dev/full", true, 18,
       "write error /dev/full: No space left on device ! (18)"},
      {"no such folder", dir.path() + "/none/g.bin", false, 26,
       "error creating " + dir.path() +
           "/none/g.bin: No such file or directory for writing in "
           "binary mode."},
  };
  for (const row& c : cases) {
    const int code = thrown_code([&] {
      d.object.write_gathered_grid({c.path, "later"}, grid, c.as_text, true, false, 3);
    });
    EXPECT_EQ(code, d.rank == 0 ? c.code : INT_MIN) << c.what;
    if (d.rank == 0) {
      EXPECT_FALSE(std::filesystem::exists("later")) << c.what;
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
  stack_matrix stack = d.band_stack(1, 2.0);
  EXPECT_EQ(thrown_code([&] {
              d.object.write_gathered_text_stack({"/dev/full", "later"}, stack, 1, "s", 3);
            }),
            d.rank == 0 ? 18 : INT_MIN);
  if (d.rank == 0) {
    EXPECT_FALSE(std::filesystem::exists("later"));
  }
  // No run of the failed writes is left over to be taken by the next one.
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int col = 1; col <= d.ncols; ++col) grid[r][col] += 0.5;
  grid_matrix copy = d.object.gather_grid_copy(0, &grid);
  if (d.rank == 0) d.object.write_grid("expected", copy, false, true);
  d.object.write_gathered_grid({"after"}, grid, false, true, false, 3);
  if (d.rank == 0) {
    EXPECT_EQ(read_file("after"), read_file("expected"));
  }

  // A full disk leaves the file written before as it was, and no temporary.
  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  const std::string path = disk.file("g.bin");
  d.object.write_gathered_grid({path}, grid, false, true, false, 2);
  const std::string written = d.rank == 0 ? read_file(path) : std::string();
  disk.fill();
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int col = 1; col <= d.ncols; ++col) grid[r][col] += 1.0;
  EXPECT_EQ(thrown_code([&] { d.object.write_gathered_grid({path}, grid, false, true, false, 2); }),
            d.rank == 0 ? 18 : INT_MIN);
  disk.free_space();
  if (d.rank == 0) {
    EXPECT_FALSE(written.empty());
    EXPECT_EQ(read_file(path), written);
    EXPECT_EQ(disk.names(), std::set<std::string>{"g.bin"});
  }
  MPI_Barrier(MPI_COMM_WORLD);
  // The entries, read once (reading closes the stream).
  if (d.rank == 0) {
    for (const std::string& entry : {cases[0].entry, cases[2].entry,
                                     "write error " + path + ": No space left on device ! (18)"})
      EXPECT_TRUE(has_fatal(d.cap, entry)) << entry << "\n" << d.cap.console();
  }
}

// Text formatted by every process for its band and written into the file by
// all of them at once: the bytes of the whole copy where the disk has room
// (the file's blocks reserved, the lines copied in through mappings), and on
// a full disk the failure of every write as before (nothing can be reserved,
// so nothing is mapped and no process dies of a failed mapping): code 18 on
// every process, the file written before kept, no temporary left.
TEST(GridOutputBandsMpi, TextOfEveryBandWrittenAtOnce) {
  band_run b;
  division_run& d = b.d;
  ASSERT_EQ(d.code, 0);
  shared_workdir dir;
  grid_matrix grid = b.band_grid();
  auto expected_text = [&] {
    grid_matrix copy = d.object.gather_grid_copy(0, &grid);
    if (d.rank != 0) return std::string();
    d.object.write_grid("expected", copy, true, false);
    return read_file("expected");
  };
  std::string expected = expected_text();
  d.object.write_text_grid_bands("a", grid);
  if (d.rank == 0) {
    EXPECT_EQ(read_file("a"), expected);
  }

  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  const std::string path = disk.file("g.asc");
  d.object.write_text_grid_bands(path, grid);
  if (d.rank == 0) {
    EXPECT_EQ(read_file(path), expected);
  }
  disk.fill();
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int c = 1; c <= d.ncols; ++c) grid[r][c] += 1.0;
  EXPECT_EQ(thrown_code([&] { d.object.write_text_grid_bands(path, grid); }), 18);
  disk.free_space();
  if (d.rank == 0) {
    EXPECT_EQ(read_file(path), expected);
    EXPECT_EQ(disk.names(), std::set<std::string>{"g.asc"});
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
