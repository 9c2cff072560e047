// Text grid bodies parsed by 1 to 4 processes together: whatever the line
// layout, each process receives exactly the rows it asks for with the values
// one reader gets, and a missing or malformed value is reported with the same
// row and column on every process.
#include <gtest/gtest.h>
#include <mpi.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "modelbase/gridfile_mpi.h"
#include "modelbase/gridfile_text_parallel.h"
#include "modelbase/memhandling.h"

namespace {

int my_rank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

int process_count() {
  int n = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &n);
  return n;
}

// A file written by process 0, removed with its directory at the end.
class shared_file {
 public:
  explicit shared_file(const std::string& text) {
    if (my_rank() == 0) {
      char pattern[] = "/tmp/velmo_text_parallel.XXXXXX";
      dir_ = mkdtemp(pattern);
      path_ = dir_ + "/grid.asc";
      std::FILE* f = std::fopen(path_.c_str(), "wb");
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    broadcast_string(path_);
    MPI_Barrier(MPI_COMM_WORLD);
  }
  ~shared_file() {
    MPI_Barrier(MPI_COMM_WORLD);
    if (my_rank() == 0) std::filesystem::remove_all(dir_);
  }
  shared_file(const shared_file&) = delete;
  shared_file& operator=(const shared_file&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

double cell_value(int row, int col) { return row * 1000 + col + 0.5; }

// The body of a rows x cols grid with lines that do not follow the rows:
// line breaks after every 'wrap' values, doubled blanks and tabs.
std::string body(int rows, int cols, int wrap) {
  std::string text = "ncols x\n";  // a header of 2 words the reader skips by offset
  int k = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      char number[32];
      std::snprintf(number, sizeof number, "%.1f", cell_value(r, c));
      text += number;
      text += ++k % wrap == 0 ? "\n" : (k % 3 == 0 ? " \t " : " ");
    }
  return text;
}

class alloc_object : public memory_handling {};

TEST(GridFileTextMpi, EveryProcessGetsTheRowsItAsks) {
  const int rows = 23;
  const int cols = 7;
  for (bool process_0_parses : {true, false}) {
    for (int wrap : {1, 5, 7, 200}) {
      const shared_file file(body(rows, cols, wrap));
      // Each process asks for a different range; the last asks for nothing.
      struct request {
        int first;
        int last;
      };
      const int n = process_count();
      const int me = my_rank();
      const request mine = me == n - 1 && n > 1 ? request{1, 0}
                                                : request{1 + me * 3, std::min(rows, 12 + me * 5)};
      alloc_object alloc;
      grid_matrix grid = alloc.matrix(mine.first, std::max(mine.first, mine.last), 1, cols, rows);
      const file_failure failure = read_text_body_parallel(
          file.path(), 8, grid, mine.first, mine.last, rows, cols, nullptr, process_0_parses);
      EXPECT_EQ(failure.code, 0) << failure.text;
      for (int r = mine.first; r <= mine.last; ++r)
        for (int c = 1; c <= cols; ++c)
          EXPECT_EQ(grid[r][c], cell_value(r, c))
              << "wrap " << wrap << " cell " << r << "," << c << " process 0 parses "
              << process_0_parses;
    }
  }
}

TEST(GridFileTextMpi, FailuresNameTheFirstBadCellOnEveryProcess) {
  const int rows = 9;
  const int cols = 4;
  const std::string good = body(rows, cols, 4);
  // The word of cell (row, col) replaced.
  auto with_word = [](std::string text, int row, int col, const std::string& word) {
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", cell_value(row, col));
    const size_t at = text.find(number);
    return text.replace(at, std::string(number).size(), word);
  };
  struct row {
    const char* what;
    std::string text;
    int code;
    std::string message;  // after the path
  };
  const std::vector<row> cases = {
      {"malformed value", with_word(good, 7, 3, "7x"), 22, " in ASCII-Format in row 7, col 3"},
      {"two malformed values, the first counts", with_word(with_word(good, 8, 4, "b"), 2, 2, "a"),
       22, " in ASCII-Format in row 2, col 2"},
      {"too few values", good.substr(0, good.rfind("9001.5")), 22,
       " in ASCII-Format in row 9, col 1"},
      {"a word after the last cell is not read", good + " junk\n", 0, ""},
      {"nothing after the header", "ncols x\n", 22, " in ASCII-Format in row 1, col 1"},
  };
  for (bool process_0_parses : {true, false}) {
    for (const row& c : cases) {
      const shared_file file(c.text);
      alloc_object alloc;
      grid_matrix grid = alloc.matrix(1, rows, 1, cols, rows);
      const file_failure failure =
          read_text_body_parallel(file.path(), 8, grid, 1, my_rank() == 0 ? rows : 0, rows, cols,
                                  nullptr, process_0_parses);
      EXPECT_EQ(failure.code, c.code) << c.what << ", process 0 parses " << process_0_parses;
      if (c.code != 0) {
        EXPECT_EQ(failure.text, "error reading ascii grid " + file.path() + c.message) << c.what;
      }
    }
  }
}

// Process 0 makes its whole grid while the others parse, as the grid reader
// does; a failure to make it is every process's failure, ahead of a malformed
// cell.
TEST(GridFileTextMpi, ProcessZeroMakesItsGridWhileTheOthersParse) {
  const int rows = 11;
  const int cols = 6;
  const bool zero = my_rank() == 0;
  for (bool process_0_parses : {true, false}) {
    const shared_file file(body(rows, cols, 4));
    alloc_object alloc;
    grid_matrix grid;
    int made = 0;
    auto make = [&]() -> file_failure {
      ++made;
      grid = alloc.matrix_for_overwrite(1, rows, 1, cols, 0);
      return {};
    };
    const file_failure failure = read_text_body_parallel(
        file.path(), 8, grid, 1, zero ? rows : 0, rows, cols,
        zero ? std::function<file_failure()>(make) : nullptr, process_0_parses);
    EXPECT_EQ(failure.code, 0) << failure.text;
    EXPECT_EQ(made, zero ? 1 : 0);
    if (zero && !grid.empty()) {
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) EXPECT_EQ(grid[r][c], cell_value(r, c)) << r << "," << c;
    }
  }
  std::string text = body(rows, cols, 4);
  text.replace(text.find("3002.5"), 6, "bad");
  const shared_file file(text);
  grid_matrix grid;
  auto fail = [] { return file_failure{1, "no memory"}; };
  const file_failure failure = read_text_body_parallel(
      file.path(), 8, grid, 1, zero ? rows : 0, rows, cols,
      zero ? std::function<file_failure()>(fail) : nullptr, false);
  EXPECT_EQ(failure.code, 1);
  EXPECT_EQ(failure.text, "no memory");
}

TEST(GridFileTextMpi, AMissingFileStopsEveryProcess) {
  alloc_object alloc;
  grid_matrix grid = alloc.matrix(1, 2, 1, 2, 2);
  const file_failure failure =
      read_text_body_parallel("/nonexistent/velmo/grid.asc", 8, grid, 1, 2, 2, 2);
  EXPECT_EQ(failure.code, 22);
  EXPECT_EQ(failure.text.rfind("error reading ascii grid /nonexistent/velmo/grid.asc", 0), 0u)
      << failure.text;
}

}  // namespace
