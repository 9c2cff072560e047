// Grid and stack files that declare what they cannot be: a header word out of
// its place, a measure no grid can have, more cells than the file can hold.
// Each stops with its exact entry and code 22 before anything is sized by the
// header. Also: header words in any case and corners given as centres, and a
// file's own nodata never read as a value.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "support/test_support.h"

namespace {

// A model object that counts the matrices it is asked for and refuses any of
// more than a million values (code 99), so that a reader sizing something by
// a bad header shows up as a wrong code instead of exhausting the memory.
class counting_object : public file_object {
 public:
  using file_object::file_object;
  grid_matrix matrix(int first, int last, int first_col, int last_col, int total_rows) override {
    ++matrices;
    if (too_big(first, last, last_col, 1)) throw 99;
    return file_object::matrix(first, last, first_col, last_col, total_rows);
  }
  stack_matrix matrix_3d(int first, int last, int first_col, int last_col, int levels,
                         int total_rows) override {
    ++matrices;
    if (too_big(first, last, last_col, levels + 1LL)) throw 99;
    return file_object::matrix_3d(first, last, first_col, last_col, levels, total_rows);
  }
  int matrices = 0;

 private:
  static bool too_big(int first, int last, int cols, long long depth) {
    return (last - first + 1LL) * cols * depth > 1000000;
  }
};

const std::vector<std::string> HEADER_LINES = {
    "ncols 3", "nrows 2", "xllcorner 1000", "yllcorner 2000", "cellsize 25", "nodata_value -9999"};
const std::string BODY = "1 2 3\n4 5 6\n";

// The valid 3 x 2 text grid with some header lines replaced (an empty text
// drops the line).
std::string text_with(const std::vector<std::pair<int, std::string>>& replaced) {
  std::vector<std::string> lines = HEADER_LINES;
  for (const auto& [line, text] : replaced) lines[static_cast<size_t>(line - 1)] = text;
  std::string out;
  for (const std::string& line : lines)
    if (!line.empty()) out += line + "\n";
  return out + BODY;
}

std::string binary_with(double ncols, double nrows, double cellsize, bool single,
                        int values = 6) {
  std::vector<double> numbers = {ncols, nrows, 1000, 2000, cellsize, -9999, 0, 0, 0, 0, 0, 0};
  for (int i = 1; i <= values; ++i) numbers.push_back(i);
  return binary_bytes(numbers, single);
}

std::string with_path(std::string entry, const std::string& path) {
  for (size_t at = entry.find('@'); at != std::string::npos; at = entry.find('@'))
    entry.replace(at, 1, path);
  return entry;
}

constexpr int HUGE_SIDE = 200000;  // 4e10 cells: 320 GB as doubles

TEST(GridFileBadInput, ImpossibleHeadersStopWithCode22BeforeAnyAllocation) {
  struct row {
    const char* what;
    std::string bytes;
    std::string entry;  // after "FATAL: ", @ for the path
    int model_side = 0;  // model of side x side cells; 0: the 3 x 2 model
    bool keep_full = true;
  };
  const std::string impossible = "impossible measure in the header of @: ";
  const std::string count_range = " is not a whole number from 1 to 2147483647";
  const std::string huge = std::to_string(HUGE_SIDE);
  const std::string huge_text = "ncols " + huge + "\nnrows " + huge +
                                "\nxllcorner 1000\nyllcorner 2000\ncellsize 25\n"
                                "nodata_value -9999\n1 2 3\n4 5 6\n";
  const std::vector<row> rows = {
      // Header words, in their fixed order.
      {"misspelt corner word", text_with({{3, "xllcentre 1000"}}),
       "unknown word \"xllcentre\" in line 3 of the header of @ (expected xllcorner or xllcenter)"},
      {"corner lines swapped", text_with({{3, "yllcorner 2000"}, {4, "xllcorner 1000"}}),
       "unknown word \"yllcorner\" in line 3 of the header of @ (expected xllcorner or xllcenter)"},
      {"first word misspelt", text_with({{1, "ncol 3"}}),
       "unknown word \"ncol\" in line 1 of the header of @ (expected ncols)"},
      {"nodata line missing: a value in its place", text_with({{6, ""}}),
       "unknown word \"1\" in line 6 of the header of @ (expected nodata_value)"},
      {"cell size word of another format", text_with({{5, "dx 25"}}),
       "unknown word \"dx\" in line 5 of the header of @ (expected cellsize)"},
      {"a long first word is cut", "ncols" + std::string(100, 'x') + " 3\n",
       "unknown word \"ncols" + std::string(59, 'x') +
           "...\" in line 1 of the header of @ (expected ncols)"},
      // Measures no grid can have.
      {"ncols 0", text_with({{1, "ncols 0"}}), impossible + "ncols 0" + count_range},
      {"ncols negative", text_with({{1, "ncols -3"}}), impossible + "ncols -3" + count_range},
      {"nrows not whole", text_with({{2, "nrows 2.5"}}), impossible + "nrows 2.5" + count_range},
      {"ncols beyond an int", text_with({{1, "ncols 3000000000"}}),
       impossible + "ncols 3000000000" + count_range},
      {"ncols inf", text_with({{1, "ncols inf"}}), impossible + "ncols inf" + count_range},
      {"nrows nan", text_with({{2, "nrows nan"}}), impossible + "nrows nan" + count_range},
      {"xllcorner inf", text_with({{3, "xllcorner inf"}}),
       impossible + "xllcorner inf is not a finite number"},
      {"yllcorner -inf", text_with({{4, "yllcorner -inf"}}),
       impossible + "yllcorner -inf is not a finite number"},
      {"cell size 0", text_with({{5, "cellsize 0"}}),
       impossible + "cellsize 0 is not a finite number above 0"},
      {"cell size negative", text_with({{5, "cellsize -25"}}),
       impossible + "cellsize -25 is not a finite number above 0"},
      {"cell size nan", text_with({{5, "cellsize nan"}}),
       impossible + "cellsize nan is not a finite number above 0"},
      {"cell size beyond a double", text_with({{5, "cellsize 1e400"}}),
       impossible + "cellsize inf is not a finite number above 0"},
      {"nodata nan", text_with({{6, "nodata_value nan"}}),
       impossible + "nodata_value nan is not a finite number"},
      {"binary ncols 0", binary_with(0, 2, 25, false), impossible + "ncols 0" + count_range},
      {"binary ncols 1e300", binary_with(1e300, 2, 25, false),
       impossible + "ncols 1e+300" + count_range},
      {"binary single cell size nan", binary_with(3, 2, std::nan(""), true),
       impossible + "cellsize nan is not a finite number above 0"},
      // More cells than the file can hold, on a model of the same measures.
      {"text grid of 200000 x 200000 cells in a hundred bytes", huge_text,
       "error reading ascii grid @: " + std::to_string(huge_text.size()) +
           " bytes cannot hold the " + huge + " x " + huge +
           " cells of its header (at least 2 bytes per cell)",
       HUGE_SIDE},
      {"double grid of 200000 x 200000 cells with six values",
       binary_with(HUGE_SIDE, HUGE_SIDE, 25, false), "error reading double grid @", HUGE_SIDE},
      {"single grid of 200000 x 200000 cells, read in parallel",
       binary_with(HUGE_SIDE, HUGE_SIDE, 25, true), "error reading double grid @", HUGE_SIDE,
       false},
      {"double grid one value longer than its cells", binary_with(3, 2, 25, false, 7),
       "error reading double grid @: 152 bytes, but its header and 3 x 2 cells take 144"},
      {"single grid one value longer, read in parallel", binary_with(3, 2, 25, true, 7),
       "error reading double grid @: 76 bytes, but its header and 3 x 2 cells take 72", 0, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    scratch_dir dir;
    captured_diag cap;
    grid_store store;
    const int cols = r.model_side > 0 ? r.model_side : 3;
    const int nrows = r.model_side > 0 ? r.model_side : 2;
    counting_object object(*cap.diag, store, cols, nrows, 1000, 2000, 25);
    const std::string path = dir.file("grid.asc");
    dir.write("grid.asc", r.bytes);
    grid_matrix grid;
    EXPECT_EQ(thrown_code([&] {
                object.read_grid(path, grid, 0, true, false, 0, false, r.keep_full, false, false);
              }),
              22);
    EXPECT_EQ(object.matrices, 0);
    EXPECT_TRUE(has_fatal(cap, with_path(r.entry, path))) << cap.console();
  }
}

TEST(GridFileBadInput, StacksDeclaringMoreThanTheyHoldStopBeforeAnyAllocation) {
  const std::string text_head =
      "stack_ncols\t2\nnrows\t2\nxll\t1000\nyll\t2000\ncs\t25\nnodata\t-9999\ncnt\t0\nmin\t0\n"
      "max\t0\nsum\t0\naverage\t0\n";
  auto binary = [](double levels, int values) {
    std::vector<double> numbers = {2, 2, 1000, 2000, 25, -9999, 0, 0, 0, 0, 0, levels};
    for (int i = 1; i <= values; ++i) numbers.push_back(i);
    return binary_bytes(numbers, false);
  };
  struct row {
    const char* what;
    std::string bytes;
    std::string entry;
    bool keep_full = true;
  };
  const std::string huge_levels = text_head + "numlevels\t100000000\n1\n2\n";
  const std::vector<row> rows = {
      {"text stack of 1e8 levels", huge_levels,
       "error reading ascii stack @: " + std::to_string(huge_levels.size()) +
           " bytes cannot hold the 2 x 2 cells of 100000001 values of its header (at least 2 "
           "bytes per value)"},
      {"double stack of 1e8 levels with two values", binary(1e8, 2),
       "error reading double stack @at row 1, column 1"},
      {"double stack of 1e8 levels, read in parallel", binary(1e8, 2),
       "error reading double stack @at row 1, column 1", false},
      {"double stack one value longer than its cells", binary(1, 9),
       "error reading double stack @: 168 bytes, but its header and 2 x 2 cells of 2 values take "
       "160"},
      {"text stack ncols not whole",
       "stack_ncols\t2.5" + text_head.substr(13) + "numlevels\t0\n1\n2\n3\n4\n",
       "impossible measure in the header of @: ncols 2.5 is not a whole number from 1 to "
       "2147483647"},
      {"text stack cell size nan",
       text_head.substr(0, text_head.find("cs\t")) + "cs\tnan\n" +
           text_head.substr(text_head.find("nodata")) + "numlevels\t0\n1\n2\n3\n4\n",
       "impossible measure in the header of @: cellsize nan is not a finite number above 0"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    scratch_dir dir;
    captured_diag cap;
    grid_store store;
    counting_object object(*cap.diag, store, 2, 2, 1000, 2000, 25);
    const std::string path = dir.file("s.stk");
    dir.write("s.stk", r.bytes);
    stack_matrix stack;
    EXPECT_EQ(thrown_code([&] { object.read_stack(path, stack, r.keep_full); }), 22);
    EXPECT_EQ(object.matrices, 0);
    EXPECT_TRUE(has_fatal(cap, with_path(r.entry, path))) << cap.console();
  }
}

TEST(GridFileHeaderWords, AnyCaseIsReadAndCentresBecomeCorners) {
  // The model's corners are 1000 / 2000: centres taken for corners would
  // floor to 1012 / 2012 and not fit (code 24).
  struct row {
    const char* what;
    std::string bytes;
  };
  const std::vector<row> rows = {
      {"centres", text_with({{3, "xllcenter 1012.5"}, {4, "yllcenter 2012.5"}})},
      {"centre and corner", text_with({{3, "xllcenter 1012.5"}})},
      {"upper and mixed case",
       text_with({{2, "NROWS 2"}, {3, "XLLCORNER 1000"}, {4, "YllCorner 2000"},
                  {5, "CELLSIZE 25"}, {6, "NODATA_value -9999"}})},
      {"centres in upper case", text_with({{3, "XLLCENTER 1012.5"}, {4, "YLLCENTER 2012.5"}})},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    scratch_dir dir;
    captured_diag cap;
    grid_store store;
    file_object object(*cap.diag, store, 3, 2, 1000, 2000, 25);
    dir.write("g.asc", r.bytes);
    grid_matrix grid;
    ASSERT_EQ(thrown_code([&] {
                object.read_grid(dir.file("g.asc"), grid, 0, true, false, 0, false, true, false,
                                 false);
              }),
              INT_MIN)
        << cap.console();
    EXPECT_EQ(object.last_file_header().xllcorner, 1000);
    EXPECT_EQ(object.last_file_header().yllcorner, 2000);
    EXPECT_EQ(grid[2][3], 6);
  }
}

// A 3 x 3 zone grid (entry 1) whose third column has no data, and a grid
// file read into the model.
struct nodata_fixture {
  explicit nodata_fixture(double model_nodata)
      : work(dir.path()), object(*cap.diag, store, 3, 3, 0, 0, 1, model_nodata) {
    zone = object.matrix(1, 3, 1, 3, 0);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c) zone[r][c] = c == 3 ? model_nodata : 1;
    object.register_grid(1, "zones.asc", &zone, nullptr, 0, "zonegrid", 0, 1, 3);
  }
  scratch_dir dir;
  scratch_workdir work;
  captured_diag cap;
  grid_store store;
  file_object object;
  grid_matrix zone;
  grid_matrix grid;
};

TEST(GridFileNodata, TheFilesOwnNodataBecomesTheModelsWhateverTheFillMode) {
  const std::string text =
      "ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -99999\n"
      "1 2 -99999\n4 5 6\n7 8 9\n";
  // A binary file's nodata is -9999, below a model nodata of -1.
  const std::string binary = binary_bytes(
      {3, 3, 0, 0, 1, -9999, 0, 0, 0, 0, 0, 0, 1, 2, -9999, 4, 5, 6, 7, 8, 9}, false);
  struct row {
    const char* what;
    std::string bytes;
    double model_nodata;
    int fill_mode;
    bool keep_full;
  };
  const std::vector<row> rows = {
      {"text, no filling, whole grid", text, NODATA, 0, true},
      {"text, no filling, band", text, NODATA, 0, false},
      {"text, filling with a value", text, NODATA, 2, true},
      {"text, filling from neighbours", text, NODATA, 1, true},
      {"binary, no filling, read in parallel", binary, -1, 0, false},
      {"binary, no filling, whole grid", binary, -1, 0, true},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    nodata_fixture f(r.model_nodata);
    f.dir.write("g", r.bytes);
    ASSERT_EQ(thrown_code([&] {
                f.object.read_grid(f.dir.file("g"), f.grid, r.fill_mode, true, false, 0.5, false,
                                   r.keep_full, false, false);
              }),
              INT_MIN)
        << f.cap.console();
    EXPECT_EQ(f.grid[1][3], r.model_nodata);
    EXPECT_EQ(f.grid[1][2], 2);
    EXPECT_EQ(f.grid[3][3], 9);
    // Written again, the cell says what the header says.
    f.object.write_grid(f.dir.file("out.asc"), f.grid, true, false);
    const std::string out = read_file(f.dir.file("out.asc"));
    const std::string model = format_g(r.model_nodata);
    EXPECT_NE(out.find("nodata_value\t" + model + "\n1\t2\t" + model + "\n"), std::string::npos)
        << out;
  }
}

}  // namespace
