// read_grid, write_grid and write_grid_region of one process: bad files and
// their codes and entries, round trips of every format, the rows a process
// keeps, binary statistics, hole filling with its entries and log lines, and
// the Ctrl-C convention of file operations.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "modelbase/signals.h"
#include "modelbase/gridfile_fixture.h"
#include "support/test_support.h"

namespace {

const std::string VALID_TEXT =
    "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 25\nnodata_value -9999\n"
    "1 2 3\n4 5 6\n";

std::string text_grid(const std::string& header_tail, const std::string& body) {
  return "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 25\n" + header_tail + body;
}

// A 3 x 2 binary grid with the given sixth header number, cut to size bytes
// (all of it when size is 0).
std::string binary_grid(bool single, double nodata_value, size_t size = 0) {
  std::string bytes = binary_bytes(
      {3, 2, 1000, 2000, 25, nodata_value, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6}, single);
  return size > 0 ? bytes.substr(0, size) : bytes;
}

struct read_fixture {
  read_fixture() : object(*cap.diag, store, 3, 2, 1000, 2000, 25) {}
  // The code read_grid throws (0 when it returns).
  int read(const std::string& path, bool keep_full = true) {
    const int code = thrown_code(
        [&] { object.read_grid(path, grid, 0, true, false, 0, false, keep_full, false, false); });
    return code == INT_MIN ? 0 : code;
  }
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object;
  grid_matrix grid;
};

TEST(GridFile, BadFilesGiveTheirCodeAndEntry) {
  struct row {
    const char* what;
    std::string bytes;
    bool keep_full;
    int code;
    std::string entry;  // after "FATAL: ", with @ for the path
  };
  const std::string unknown =
      "could not recognise file format (neither ascii, nor single, double, or GIF) for @";
  const std::vector<row> rows = {
      {"capitalised keyword", "N" + VALID_TEXT.substr(1), true, 22, unknown},
      {"binary nodata -9998", binary_grid(false, -9998), true, 22, unknown},
      {"empty file", "", true, 22, unknown},
      {"header number not a number", "ncols abc\n", true, 22,
       "error reading ascii value #1 from @"},
      {"misspelt keywords", "ncol 3\nrowz 2\nx 1000.75\ny 2000\nsize 25\nnd -9999\n1 2 3 4 5 6",
       true, 22, "unknown word \"ncol\" in line 1 of the header of @ (expected ncols)"},
      {"header of four pairs", "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\n", true, 22,
       "error reading ascii value #5 from @"},
      {"body too short", text_grid("nodata_value -9999\n", "1 2 3\n4 5\n"), true, 22,
       "error reading ascii grid @ in ASCII-Format in row 2, col 3"},
      {"body word not a number", text_grid("nodata_value -9999\n", "1 2 3\n4 x 6\n"), true, 22,
       "error reading ascii grid @ in ASCII-Format in row 2, col 2"},
      {"number glued to text", text_grid("nodata_value -9999\n", "1 2 3\n4 5 6x\n"), true, 22,
       "error reading ascii grid @ in ASCII-Format in row 2, col 3"},
      {"double header cut", binary_grid(false, -9999, 60), true, 22,
       "error reading double value from the header of @"},
      {"single header cut after 7 numbers", binary_grid(true, -9999, 30), true, 22,
       "error reading double value #8 from the header of @"},
      {"double body cut, parallel read", binary_grid(false, -9999, 96 + 5 * 8), false, 22,
       "error reading double grid @"},
      {"single body cut, whole read", binary_grid(true, -9999, 48 + 4), true, 22,
       "error reading double grid @"},
      {"other ncols", "ncols 4" + VALID_TEXT.substr(7), true, 24,
       "@ has not the specified grid measures (in file_object)!\n @\n3 4\n2 2\n1000 1000\n2000 "
       "2000\n25 25\n-9999 -9999"},
      {"cell size differs in the fourth decimal",
       "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 25.0001\nnodata_value "
       "-9999\n1 2 3\n4 5 6\n",
       true, 24, "@ has not the specified grid measures"},
      {"file nodata above the model's", text_grid("nodata_value -9998\n", "1 2 3\n4 5 6\n"), true,
       24, "@ has not the specified grid measures"},
  };
  for (const row& r : rows) {
    read_fixture f;
    const std::string path = f.dir.file("grid.asc");
    f.dir.write("grid.asc", r.bytes);
    EXPECT_EQ(f.read(path, r.keep_full), r.code) << r.what;
    std::string entry = r.entry;
    for (size_t at = entry.find('@'); at != std::string::npos; at = entry.find('@'))
      entry.replace(at, 1, path);
    if (r.code == 24)  // the entry goes on with the measures
      EXPECT_NE(f.cap.xml().find("level=\"0\" description= \"" + escape_diag_text(entry)),
                std::string::npos)
          << r.what << "\n"
          << f.cap.console();
    else
      EXPECT_TRUE(has_fatal(f.cap, entry)) << r.what << "\n" << f.cap.console();
  }
}

TEST(GridFile, FilesThatFitAreRead) {
  struct row {
    const char* what;
    std::string bytes;
    double xll_record;  // the header record keeps the floored corner
  };
  const std::vector<row> rows = {
      {"text", VALID_TEXT, 1000},
      {"fractional corner, free line breaks",
       "ncols 3\nnrows 2\nxllcorner 1000.75\nyllcorner 2000\ncellsize 25\nnodata_value -9999\n"
       "1 2 3 4 5 6",
       1000},
      {"file nodata below the model's", text_grid("nodata_value -99999\n", "1 2 3\n4 5 6\n"), 1000},
      {"double", binary_grid(false, -9999), 1000},
      {"single", binary_grid(true, -9999), 1000},
  };
  for (const row& r : rows) {
    read_fixture f;
    f.dir.write("grid", r.bytes);
    ASSERT_EQ(f.read(f.dir.file("grid")), 0) << r.what << f.cap.console();
    for (int row = 1; row <= 2; ++row)
      for (int col = 1; col <= 3; ++col) EXPECT_EQ(f.grid[row][col], (row - 1) * 3 + col) << r.what;
    EXPECT_EQ(f.object.last_file_header().xllcorner, r.xll_record) << r.what;
  }
}

TEST(GridFile, OpenIsTriedSixTimesBeforeCode21) {
  read_fixture f;
  const std::string path = f.dir.file("missing.asc");
  EXPECT_EQ(f.read(path), 21);
  EXPECT_EQ(count_of(f.cap.console(), "Will try again"), 5);
  const std::string reason = ": " + std::string(std::strerror(ENOENT));
  for (int left = 5; left >= 1; --left)
    EXPECT_TRUE(has_fatal(f.cap, "error opening " + path + reason +
                                     ". Will try again in 200 ms... "
                                     "(retriesleft = " +
                                     std::to_string(left) + ")"))
        << left;
  EXPECT_TRUE(has_fatal(f.cap, "still error opening " + path + reason + " - no retry."));
}

TEST(GridFile, AFileThatAppearsWhileRetryingIsRead) {
  read_fixture f;
  const std::string path = f.dir.file("late.asc");
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    f.dir.write("late.tmp", VALID_TEXT);
    std::filesystem::rename(f.dir.file("late.tmp"), path);
  });
  const int code = f.read(path);
  writer.join();
  EXPECT_EQ(code, 0);
  // The retries count down from 5 without a gap, fewer than all five.
  const std::string console = f.cap.console();
  const int retries = count_of(console, "Will try again");
  EXPECT_GE(retries, 1);
  EXPECT_LE(retries, 4);
  for (int k = 0; k < retries; ++k)
    EXPECT_NE(console.find("(retriesleft = " + std::to_string(5 - k) + ")"), std::string::npos);
  EXPECT_EQ(f.grid[2][3], 6);
}

TEST(GridFile, AGridNotAllocatedHereMustBeGiven) {
  read_fixture f;
  const std::string path = f.dir.file("grid.asc");
  f.dir.write("grid.asc", VALID_TEXT);
  EXPECT_EQ(thrown_code([&] {
              f.object.read_grid(path, f.grid, 0, false, false, 0, false, true, false, false);
            }),
            22);
  f.grid = f.object.matrix(1, 2, 1, 3, 0);
  f.object.read_grid(path, f.grid, 0, false, false, 0, false, true, false, false);
  EXPECT_EQ(f.grid[2][1], 4);
  EXPECT_TRUE(has_fatal(f.cap, "error reading grid " + path +
                                   " no memory allocated (pointer given to function is NULL)"));
}

TEST(GridFile, EveryFormatReadsBackWhatItWroteWithFarCorners) {
  // "%g" would print the corner as 3.45679e+06 = 3456790, whose floor differs
  // from the model's and made the model refuse its own file (code 24).
  struct row {
    bool as_text;
    bool double_precision;
  };
  for (const row& r : std::vector<row>{{true, false}, {false, true}, {false, false}}) {
    scratch_dir dir;
    captured_diag cap;
    grid_store store;
    file_object object(*cap.diag, store, 4, 3, 3456789.5, 5432100.0, 12.5);
    grid_matrix grid = object.matrix(1, 3, 1, 4, 0);
    for (int row = 1; row <= 3; ++row)
      for (int col = 1; col <= 4; ++col) grid[row][col] = row * 100 + col * 0.25;  // 6 digits
    object.write_grid(dir.file("g"), grid, r.as_text, r.double_precision);
    grid_matrix back;
    object.read_grid(dir.file("g"), back, 0, true, false, 0, false, true, false, false);
    for (int row = 1; row <= 3; ++row)
      for (int col = 1; col <= 4; ++col)
        EXPECT_EQ(back[row][col], grid[row][col]) << r.as_text << r.double_precision;
    const std::string header =
        "ncols\t4\nnrows\t3\nxllcorner\t3456789.5\nyllcorner\t5432100\ncellsize\t12.5\n"
        "nodata_value\t-9999\n";
    if (r.as_text) { EXPECT_EQ(read_file(dir.file("g")).substr(0, header.size()), header); }
  }
}

TEST(GridFile, WriterWritesRowsItDoesNotHoldAsNodata) {
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object(*cap.diag, store, 3, 4, 1000, 2000, 25);
  grid_matrix grid = object.matrix(2, 3, 1, 3, 4);
  const double row2[] = {0.1, 1.0 / 3, 1e-5};
  const double row3[] = {123456789, -2.5, 0};
  for (int c = 1; c <= 3; ++c) {
    grid[2][c] = row2[c - 1];
    grid[3][c] = row3[c - 1];
  }
  object.write_grid(dir.file("g.asc"), grid, true, false);
  EXPECT_EQ(
      read_file(dir.file("g.asc")),
      "ncols\t3\nnrows\t4\nxllcorner\t1000\nyllcorner\t2000\ncellsize\t25\nnodata_value\t-9999\n"
      "-9999\t-9999\t-9999\n0.1\t0.333333\t1e-05\n1.23457e+08\t-2.5\t0\n-9999\t-9999\t-9999\n");
  // A region writes those rows with the model's nodata and blanks the cells
  // outside the spans: row 3 keeps columns 2..3, row 4 has no span.
  object.set_nodata(-1);
  std::vector<row_strip> spans = {{0, -1}, {1, 3}, {1, 3}, {2, 3}, {0, -1}};
  object.set_strips(&spans);
  object.write_grid_region(dir.file("r.asc"), grid, true, false);
  EXPECT_EQ(read_file(dir.file("r.asc")),
            "ncols\t3\nnrows\t4\nxllcorner\t1000\nyllcorner\t2000\ncellsize\t25\nnodata_value\t-1\n"
            "-1\t-1\t-1\n0.1\t0.333333\t1e-05\n-1\t-2.5\t0\n-1\t-1\t-1\n");
  EXPECT_EQ(grid[3][1], -1);  // the caller's grid is changed
}

TEST(GridFile, BinaryStatisticsCoverTheHeldCellsOfTheSpans) {
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object(*cap.diag, store, 3, 4, 1000, 2000, 25);
  grid_matrix grid = object.matrix(2, 3, 1, 3, 4);
  for (int c = 1; c <= 3; ++c) {
    grid[2][c] = c;      // 1 2 3
    grid[3][c] = c + 3;  // 4 5 6, column 1 outside the span
  }
  std::vector<row_strip> spans = {{0, -1}, {1, 3}, {1, 3}, {2, 3}, {0, -1}};
  object.set_strips(&spans);
  grid_matrix area = object.matrix(1, 4, 1, 3, 0);
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 3; ++c) area[r][c] = 1;
  area[2][1] = 0.5;
  area[3][2] = 2;
  object.set_rel_cell_area(&area);
  object.write_grid(dir.file("g.bin"), grid, false, true);
  // Counted: (1, 0.5), (2, 1), (3, 1), (5, 2), (6, 1) as (value, weight):
  // count 5.5, sum 21.5, sum of weight x value^2 99.5.
  const double count = 5.5;
  const double sum = 21.5;
  const double variance = (99.5 - sum * sum / count) / (count - 1);
  const std::string expected = binary_bytes(
      {3,     4,     1000,  2000, 25, -9999, count, 1, 6, sum,   sum / count, std::sqrt(variance),
       -9999, -9999, -9999, 1,    2,  3,     4,     5, 6, -9999, -9999,       -9999},
      false);
  EXPECT_EQ(read_file(dir.file("g.bin")), expected);
  // Single precision: the same numbers narrowed.
  object.write_grid(dir.file("g.flt"), grid, false, false);
  const std::string single = read_file(dir.file("g.flt"));
  ASSERT_EQ(single.size(), 48u + 12 * 4);
  EXPECT_EQ(load_le_float(reinterpret_cast<const unsigned char*>(single.data()) + 40),
            static_cast<float>(sum / count));
}

// Each failed write names the C library's reason after the file's name.
TEST(GridFile, WriteFailuresGiveTheirCodesAndReasons) {
  scratch_dir dir;
  const std::string missing = dir.file("no/such/dir/g.asc");
  const std::string folder = dir.file("folder");
  std::filesystem::create_directory(folder);
  auto reason = [](int error) { return ": " + std::string(std::strerror(error)); };
  struct row {
    const char* what;
    std::string path;
    bool as_text;
    bool double_precision;
    int code;
    std::string entry;
  };
  std::vector<row> rows = {
      {"text, missing folder", missing, true, false, 26,
       "error creating " + missing + reason(ENOENT) + " for writing in text mode."},
      {"binary, missing folder", missing, false, true, 26,
       "error creating " + missing + reason(ENOENT) + " for writing in binary mode."},
      {"text, a folder", folder, true, false, 26,
       "error creating " + folder + reason(EISDIR) + " for writing in text mode."},
      {"binary, a folder", folder, false, false, 26,
       "error creating " + folder + reason(EISDIR) + " for writing in binary mode."},
  };
  // The full device takes nothing: it is written to in place, never replaced.
  if (std::filesystem::is_character_file("/dev/full")) {
    const std::string full = "write error /dev/full" + reason(ENOSPC) + " ! (18)";
    rows.push_back({"text, full device", "/dev/full", true, false, 18, full});
    rows.push_back({"single, full device", "/dev/full", false, false, 18, full});
    rows.push_back({"double, full device", "/dev/full", false, true, 18, full});
  }
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    captured_diag cap;
    grid_store store;
    file_object object(*cap.diag, store, 3, 2, 1000, 2000, 25);
    grid_matrix grid = object.matrix(1, 2, 1, 3, 0);
    EXPECT_EQ(thrown_code([&] { object.write_grid(r.path, grid, r.as_text, r.double_precision); }),
              r.code);
    EXPECT_TRUE(has_fatal(cap, r.entry)) << cap.console();
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(GridFile, RelativeNamesGetTheirDirectories) {
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object(*cap.diag, store, 3, 2, 1000, 2000, 25);
  const std::string in = dir.path() + "/in_";
  const std::string out = dir.path() + "/out_";
  object.set_directories(&in, &out);
  grid_matrix grid = object.matrix(1, 2, 1, 3, 0);
  object.write_grid("g.asc", grid, true, false);
  EXPECT_TRUE(std::filesystem::exists(dir.file("out_g.asc")));
  dir.write("in_g.asc", VALID_TEXT);
  grid_matrix back;
  object.read_grid("g.asc", back, 0, true, false, 0, false, true, false, false);
  EXPECT_EQ(back[1][2], 2);
}

TEST(GridFile, ProcessKeepsItsBandWithOrWithoutHalo) {
  struct row {
    const char* what;
    bool binary;
    bool keep_full;
    bool with_halo;
    int first;
    int last;
  };
  // Own rows 2..3 of 5; the halo adds rows 1 and 4.
  const std::vector<row> rows = {
      {"text, band", false, false, false, 2, 3},
      {"text, band and halo", false, false, true, 1, 4},
      {"text, whole grid kept", false, true, true, 1, 5},
      {"binary read in parallel, band", true, false, false, 2, 3},
      {"binary read in parallel, band and halo", true, false, true, 1, 4},
  };
  for (const row& r : rows) {
    scratch_dir dir;
    captured_diag cap;
    grid_store store;
    file_object object(*cap.diag, store, 2, 5, 0, 0, 1);
    object.set_band(2, 3);
    grid_matrix source = object.matrix(1, 5, 1, 2, 0);
    for (int row = 1; row <= 5; ++row)
      for (int col = 1; col <= 2; ++col) source[row][col] = row * 10 + col;
    object.write_grid(dir.file("g"), source, !r.binary, true);
    grid_matrix grid;
    object.read_grid(dir.file("g"), grid, 0, true, false, 0, false, r.keep_full, false,
                     r.with_halo);
    EXPECT_EQ(grid.first_row(), r.first) << r.what;
    EXPECT_EQ(grid.last_row(), r.last) << r.what;
    for (int row = 1; row <= 5; ++row) {
      const bool held = row >= r.first && row <= r.last;
      ASSERT_EQ(grid[row] != nullptr, held) << r.what << " row " << row;
      if (held) { EXPECT_EQ(grid[row][2], row * 10 + 2) << r.what << " row " << row; }
    }
  }
}

// A zone grid 3 x 3 (entry 1) with a column without data, and a read grid.
struct hole_fixture {
  hole_fixture() : work(dir.path()), object(*cap.diag, store, 3, 3, 0, 0, 1) {
    zone = object.matrix(1, 3, 1, 3, 0);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c) zone[r][c] = c == 3 ? NODATA : 1;
    object.register_grid(1, "zones.asc", &zone, nullptr, 0, "zonegrid", 0, 1, 3);
  }
  int read(const std::string& text, int mode, bool report) {
    dir.write(
        "g.asc",
        "ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -99999\n" + text);
    const int code = thrown_code([&] {
      object.read_grid(dir.file("g.asc"), grid, mode, true, true, 0.5, report, true, false, false);
    });
    return code == INT_MIN ? 0 : code;
  }
  scratch_dir dir;
  scratch_workdir work;
  captured_diag cap;
  grid_store store;
  file_object object;
  grid_matrix zone;
  grid_matrix grid;
};

TEST(GridFile, HolesAreReportedInEntriesAndTheLog) {
  hole_fixture f;
  // File nodata -99999: the hole (2,2) takes its northern neighbour 2, the
  // first cell of ring 1.
  ASSERT_EQ(f.read("1 2 3\n4 -99999 6\n7 8 9\n", 1, true), 0) << f.cap.console();
  const std::string path = f.dir.file("g.asc");
  EXPECT_EQ(f.grid[2][2], 2);
  EXPECT_EQ(f.grid[2][3], NODATA);  // outside the zone after a hole was found
  EXPECT_TRUE(has_entry(f.cap, 4, "reading " + path + " for file_object..."));
  EXPECT_TRUE(has_entry(f.cap, 4, "... " + path + " checking nodata values and replace"));
  EXPECT_TRUE(has_entry(f.cap, 4, "y: 2 x: 2in " + path + ": -9999 replaced by 2"));
  EXPECT_TRUE(has_entry(f.cap, 4, "In " + path + ": 1 nodata values replaced!"));
  EXPECT_EQ(read_file(f.dir.file("modell_0.log")),
            "y: 2 x: 2  in " + path + " -9999.000000 replaced by 2.000000!\n" + "in " + path +
                ": 1 nodata values replaced!\n\n");
}

TEST(GridFile, ALogThatCannotBeOpenedStopsFillingWithCode5) {
  hole_fixture f;
  // A folder of the log's name in the working folder takes no lines.
  std::filesystem::create_directory(f.dir.file("modell_0.log"));
  ASSERT_EQ(f.read("1 2 3\n4 -99999 6\n7 8 9\n", 1, true), 5);
  EXPECT_TRUE(has_fatal(f.cap, "error opening log file modell_0.log: " +
                                   std::string(std::strerror(EISDIR))))
      << f.cap.console();
}

TEST(GridFile, AHoleTooBigStopsWithCode25) {
  const std::string NO_DATA_AT_ALL =
      "-99999 -99999 -99999\n-99999 -99999 -99999\n-99999 -99999 -99999\n";
  hole_fixture f;
  ASSERT_EQ(f.read(NO_DATA_AT_ALL, 1, true), 25);
  const std::string path = f.dir.file("g.asc");
  EXPECT_TRUE(has_fatal(f.cap, "In " + path + " is a too big hole at x/y = 1/1!"));
  EXPECT_EQ(read_file(f.dir.file("modell_0.log")),
            "In " + path + " is a too big hole at x/y = 1/1\n!\n");
  // Without reporting the same holes take the fill value.
  hole_fixture g;
  ASSERT_EQ(g.read(NO_DATA_AT_ALL, 1, false), 0);
  EXPECT_EQ(g.grid[3][2], 0.5);
  EXPECT_EQ(read_file(g.dir.file("modell_0.log")),
            "in " + g.dir.file("g.asc") + ": 6 nodata values replaced!\n\n");
}

void (*sigint_disposition())(int) {
  struct sigaction current {};
  sigaction(SIGINT, nullptr, &current);
  return current.sa_handler;
}

TEST(GridFile, ReadersRestoreTheDefaultCtrlCWritersTheHandler) {
  read_fixture f;
  f.dir.write("grid.asc", VALID_TEXT);
  arm_sigint();
  f.read(f.dir.file("grid.asc"));
  EXPECT_EQ(sigint_disposition(), SIG_DFL);
  f.object.write_grid(f.dir.file("out.asc"), f.grid, true, false);
  EXPECT_EQ(sigint_disposition(), &on_sigint);
  // Also when the operation fails.
  EXPECT_EQ(f.read(f.dir.file("absent.asc")), 21);
  EXPECT_EQ(sigint_disposition(), SIG_DFL);
  EXPECT_EQ(thrown_code([&] { f.object.write_grid(f.dir.file("x/y"), f.grid, true, false); }), 26);
  EXPECT_EQ(sigint_disposition(), &on_sigint);
  disarm_sigint();
}

}  // namespace
