// Output by write code on 1 to 4 processes with unequal bands: the grid, its
// year sums, minima and maxima and a dated binary stack hold, cell by cell,
// the values worked out by hand, whatever the number of processes.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "modelbase/gridoutput.h"
#include "settings/division_fixture.h"
#include "support/small_tmpfs.h"

namespace {

constexpr double N = NODATA;

const std::vector<std::string> ZONES = {"....111122", "..11111222", "1111112222", "111..12222",
                                        "1133332222", "1333333333", "33333333.."};

double base_value(int row, int col) { return 10.0 * row + col; }

// The numbers of a binary single-precision file after its 12-number header.
std::vector<double> binary_values(const std::string& path) {
  std::vector<double> values;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return values;
  float v = 0;
  int k = 0;
  while (std::fread(&v, 4, 1, f) == 1)
    if (k++ >= 12) values.push_back(v);
  std::fclose(f);
  return values;
}

TEST(GridOutputMpi, WrittenValuesDoNotDependOnTheProcessCount) {
  division_run d(zone_rows(ZONES), speed_files{{"1", "3", "2"}, true});
  ASSERT_EQ(d.code, 0);
  d.object.set_band(d.own_first, d.own_last);
  shared_workdir dir;
  const int rows = d.nrows;
  const int cols = d.ncols;
  const int first = d.band_first();
  const int last = d.band_last();
  auto valid = [&](int r, int c) {
    return zone_rows(ZONES)[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)] != N;
  };

  // Write code 321: the grid every step, sums per year, minimum and maximum.
  grid_matrix grid = d.object.matrix(first, last, 1, cols, rows);
  const int index = d.store.first_free(1);
  d.object.register_grid(index, "g.grd", &grid, nullptr, 0, "g", 321, first, last);
  stack_matrix stack = d.object.matrix_3d(first, last, 1, cols, 2, rows);
  d.object.register_grid(index + 1, "stakfile.stk", nullptr, &stack, 2, "stak", 2, first, last);

  // Step 1 at 5 h, step 2 at 24 h of 31 Dec 2016 (hour shift 0): the end of
  // the day, the year and the run. Values v and 2 v in own cells, 77 in the
  // cells the process does not own.
  d.object.set_end_date(2016, 12, 31, 24);
  for (int step = 1; step <= 2; ++step) {
    for (int r = first; r <= last; ++r)
      for (int c = 1; c <= cols; ++c) {
        const bool own = d.owner(r, c) == d.rank;
        grid[r][c] = own ? step * base_value(r, c) : 77;
        for (int l = 0; l <= 2; ++l) stack[r][c][l] = own ? 100.0 * l + base_value(r, c) : 77;
      }
    d.object.set_output_date(step == 1 ? 5 : 24, 31, 12, 2016);
    d.object.output_grid(index, 1, 0);
  }
  d.object.output_stack(index + 1);
  MPI_Barrier(MPI_COMM_WORLD);

  if (d.rank == 0) {
    // File -> factor of v in valid cells: the last step 2 v, the year's sum
    // v + 2 v, the minimum v, the maximum 2 v.
    const std::pair<const char*, double> grids[] = {
        {"g.grd", 2}, {"g_1600.sum", 3}, {"g.min", 1}, {"g.max", 2}};
    for (const auto& [name, factor] : grids) {
      const std::vector<double> got = binary_values(name);
      ASSERT_EQ(got.size(), static_cast<size_t>(rows * cols)) << name;
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
          EXPECT_EQ(got[static_cast<size_t>((r - 1) * cols + c - 1)],
                    valid(r, c) ? factor * base_value(r, c) : N)
              << name << " " << r << "," << c;
    }
    // The stack: a dated name with four characters of the stem, and the
    // plain name at the end of the run; level l holds 100 l + v.
    for (const char* name : {"stak_20161231.024", "stakfile.stk"}) {
      const std::vector<double> got = binary_values(name);
      ASSERT_EQ(got.size(), static_cast<size_t>(rows * cols * 3)) << name;
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
          for (int l = 0; l <= 2; ++l)
            EXPECT_EQ(got[static_cast<size_t>(((r - 1) * cols + c - 1) * 3 + l)],
                      valid(r, c) ? 100.0 * l + base_value(r, c) : N)
                << name << " " << r << "," << c << "," << l;
    }
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

TEST(GridOutputMpi, BinaryStacksAreWholeOrAbsentAndSpareTheirInput) {
  // Every process writes its cells of one temporary file, which process 0
  // renames once all have closed it. A full disk fails on every process
  // with 18 and leaves the stack written before as it was; a stack written
  // under the name of the stack the run read goes to the working folder.
  division_run d(zone_rows(ZONES), speed_files{{"1", "3", "2"}, true});
  ASSERT_EQ(d.code, 0);
  d.object.set_band(d.own_first, d.own_last);
  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  shared_workdir work;
  const std::string path = disk.file("s.stk");
  stack_matrix first = d.band_stack(2, 1.0);
  d.object.write_stack(path, first, 2, false, true);
  const std::string written = d.rank == 0 ? read_file(path) : std::string();

  disk.fill();
  stack_matrix second = d.band_stack(2, 2.0);
  EXPECT_EQ(thrown_code([&] { d.object.write_stack(path, second, 2, false, true); }), 18);
  disk.free_space();
  if (d.rank == 0) {
    EXPECT_EQ(read_file(path), written);
    EXPECT_EQ(disk.names(), std::set<std::string>{"s.stk"});
  }

  stack_matrix read;
  d.object.read_stack(path, read, false);
  EXPECT_EQ(thrown_code([&] { d.object.write_stack(path, second, 2, false, true); }), INT_MIN);
  MPI_Barrier(MPI_COMM_WORLD);
  if (d.rank == 0) {
    EXPECT_EQ(read_file(path), written);
    // Own cells hold 2 in every level, cells outside the division nodata.
    const std::vector<double> moved = [] {
      std::vector<double> values;
      std::FILE* f = std::fopen("s.stk", "rb");
      if (f == nullptr) return values;
      double v = 0;
      for (int k = 0; std::fread(&v, 8, 1, f) == 1; ++k)
        if (k >= 12) values.push_back(v);
      std::fclose(f);
      return values;
    }();
    ASSERT_EQ(moved.size(), static_cast<size_t>(d.nrows * d.ncols * 3));
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        EXPECT_EQ(
            moved[static_cast<size_t>(((r - 1) * d.ncols + c - 1) * 3 + 2)],
            zone_rows(ZONES)[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)] != N ? 2.0 : N)
            << r << "," << c;
    // The message-passing layer reports a refused write as a short count,
    // not as an error: the entry says how much of the 12 x 8 header bytes
    // went in.
    EXPECT_TRUE(has_fatal(d.cap, "write error " + path + ": 0 of 96 bytes written ! (18)"))
        << d.cap.console();
    EXPECT_TRUE(has_entry(d.cap, 2,
                          path + " was read by this run and is not replaced; the output goes to "
                                 "s.stk"));
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
