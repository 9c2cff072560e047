// Text grid bodies parsed by 1 to 4 processes together: whatever the line
// layout, each process receives exactly the rows it asks for with the values
// one reader gets, and a missing or malformed value is reported with the same
// row and column on every process.
#include <gtest/gtest.h>
#include <mpi.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
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
    const file_failure failure = read_text_body_parallel(file.path(), 8, grid, mine.first,
                                                         mine.last, rows, cols);
    EXPECT_EQ(failure.code, 0) << failure.text;
    for (int r = mine.first; r <= mine.last; ++r)
      for (int c = 1; c <= cols; ++c)
        EXPECT_EQ(grid[r][c], cell_value(r, c)) << "wrap " << wrap << " cell " << r << "," << c;
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
  for (const row& c : cases) {
    const shared_file file(c.text);
    alloc_object alloc;
    grid_matrix grid = alloc.matrix(1, rows, 1, cols, rows);
    const file_failure failure = read_text_body_parallel(file.path(), 8, grid, 1,
                                                         my_rank() == 0 ? rows : 0, rows, cols);
    EXPECT_EQ(failure.code, c.code) << c.what;
    if (c.code != 0) {
      EXPECT_EQ(failure.text, "error reading ascii grid " + file.path() + c.message) << c.what;
    }
  }
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
