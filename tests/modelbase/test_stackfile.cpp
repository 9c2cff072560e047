// read_stack and write_stack of one process: levels 0..L per cell, the text
// and binary layouts byte for byte, the strict measures check, bad files and
// their codes, and complete binary files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "support/test_support.h"

namespace {

struct stack_fixture {
  stack_fixture() : object(*cap.diag, store, 2, 2, 1000, 2000, 25) {}
  // Levels 0..L, value row*100 + col*10 + level.
  stack_matrix make(int levels) {
    stack_matrix s = object.matrix_3d(1, 2, 1, 2, levels, 0);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 2; ++c)
        for (int l = 0; l <= levels; ++l) s[r][c][l] = r * 100 + c * 10 + l;
    return s;
  }
  int read(const std::string& path, bool keep_full = true) {
    const int code = thrown_code([&] { object.read_stack(path, back, keep_full); });
    return code == INT_MIN ? 0 : code;
  }
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object;
  stack_matrix back;
};

TEST(StackFile, TextStackHoldsLPlusOneValuesPerCell) {
  stack_fixture f;
  const stack_matrix s = f.make(3);
  f.object.write_stack(f.dir.file("s.stk"), s, 3, true, false);
  std::string expected =
      "stack_ncols\t2\nnrows\t2\nxll\t1000\nyll\t2000\ncs\t25\nnodata\t-9999\ncnt\t0\nmin\t0\n"
      "max\t0\nsum\t0\naverage\t0\nnumlevels\t3\n";
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 2; ++c)
      for (int l = 0; l <= 3; ++l) expected += std::to_string(r * 100 + c * 10 + l) + "\n";
  EXPECT_EQ(read_file(f.dir.file("s.stk")), expected);
  ASSERT_EQ(f.read(f.dir.file("s.stk")), 0);
  EXPECT_EQ(f.back.levels(), 3);
  EXPECT_EQ(f.back[2][1][3], 213);
  EXPECT_EQ(f.object.last_file_header().stddev, 3);  // L in the last number
}

TEST(StackFile, BinaryStackLayoutAndRoundTrip) {
  for (bool single : {true, false}) {
    stack_fixture f;
    const stack_matrix s = f.make(1);
    const std::string path = f.dir.file("s.bin");
    // A longer file from before must not leave bytes behind the new end.
    f.dir.write("s.bin", std::string(500, 'x'));
    f.object.write_stack(path, s, 1, false, !single);
    // Header, then cells (1,1), (1,2), (2,1), (2,2), levels 0 and 1 each.
    EXPECT_EQ(read_file(path), binary_bytes({2, 2, 1000, 2000, 25,  -9999, 0,   0,   0,   0,
                                             0, 1, 110,  111,  120, 121,   210, 211, 220, 221},
                                            single));
    for (bool keep_full : {true, false}) {
      ASSERT_EQ(f.read(path, keep_full), 0) << single << keep_full << f.cap.console();
      EXPECT_EQ(f.back.levels(), 1);
      EXPECT_EQ(f.back[2][2][1], 221);
      EXPECT_EQ(f.back[1][2][0], 120);
    }
  }
}

TEST(StackFile, CellsOutsideTheDivisionAreWrittenAsNodata) {
  stack_fixture f;
  const stack_matrix s = f.make(0);
  grid_matrix regions = f.object.matrix(1, 2, 1, 2, 0);
  regions[1][1] = 0;
  regions[1][2] = NODATA;  // no process owns this cell
  regions[2][1] = 0;
  regions[2][2] = 0;
  f.object.set_regions(&regions);
  f.object.write_stack(f.dir.file("s.bin"), s, 0, false, true);
  EXPECT_EQ(
      read_file(f.dir.file("s.bin")),
      binary_bytes({2, 2, 1000, 2000, 25, -9999, 0, 0, 0, 0, 0, 0, 110, -9999, 210, 220}, false));
  // A stack of one level is read back, scattered with its level count.
  f.object.set_regions(nullptr);
  ASSERT_EQ(f.read(f.dir.file("s.bin"), true), 0);
  EXPECT_EQ(f.back.levels(), 0);
  EXPECT_EQ(f.back[2][2][0], 220);
}

TEST(StackFile, SmallSingleStackIsRecognised) {
  // One cell, one level: 48 + 4 bytes, less than a double header of 96.
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object(*cap.diag, store, 1, 1, 0, 0, 1);
  dir.write("one.stk", binary_bytes({1, 1, 0, 0, 1, -9999, 0, 0, 0, 0, 0, 0, 42.5}, true));
  stack_matrix s;
  object.read_stack(dir.file("one.stk"), s, true);
  EXPECT_EQ(s[1][1][0], 42.5);
}

// A stack that cannot be written names the C library's reason after the
// file's name; the folder in the way stays as it was.
TEST(StackFile, WriteFailuresNameTheirReason) {
  scratch_dir dir;
  const std::string missing = dir.file("no/such/dir/s.stk");
  const std::string folder = dir.file("folder");
  std::filesystem::create_directory(folder);
  auto reason = [](int error) { return ": " + std::string(std::strerror(error)); };
  struct row {
    const char* what;
    std::string path;
    bool as_text;
    int code;
    std::string entry;
  };
  std::vector<row> rows = {
      {"text, missing folder", missing, true, 26, "error opening " + missing + reason(ENOENT)},
      {"text, a folder", folder, true, 26, "error opening " + folder + reason(EISDIR)},
      {"binary, missing folder", missing, false, 26,
       "error creating " + missing + reason(ENOENT) + " for writing in binary mode."},
  };
  if (std::filesystem::is_character_file("/dev/full"))
    rows.push_back({"text, full device", "/dev/full", true, 18,
                    "write error /dev/full" + reason(ENOSPC) + " ! (18)"});
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    stack_fixture f;
    const stack_matrix s = f.make(1);
    EXPECT_EQ(thrown_code([&] { f.object.write_stack(r.path, s, 1, r.as_text, true); }), r.code);
    EXPECT_TRUE(has_fatal(f.cap, r.entry)) << f.cap.console();
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(StackFile, BadStacksGiveTheirCodeAndEntry) {
  const std::string header =
      "stack_ncols\t2\nnrows\t2\nxll\t1000\nyll\t2000\ncs\t25\nnodata\t-9999\ncnt\t0\nmin\t0\n"
      "max\t0\nsum\t0\naverage\t0\nnumlevels\t1\n";
  const std::string binary = binary_bytes(
      {2, 2, 1000, 2000, 25, -9999, 0, 0, 0, 0, 0, 1, 110, 111, 120, 121, 210, 211, 220, 221},
      false);
  struct row {
    const char* what;
    bool exists;
    std::string bytes;
    bool keep_full;
    int code;
    std::string entry;  // with @ for the path; a 24 entry goes on with the measures
  };
  const std::vector<row> rows = {
      {"missing file", false, "", true, 21,
       "error opening @: " + std::string(std::strerror(ENOENT))},
      {"capitalised first word", true, "S" + header.substr(1) + "110\n111\n", true, 22,
       "could not recognise file format (ascii, double or double) for stack @"},
      {"short file", true, "stac", true, 22, "error reading from @"},
      {"corner differs in its fraction only", true,
       "stack_ncols 2 nrows 2 xll 1000.5 yll 2000 cs 25 nodata -9999 cnt 0 min 0 max 0 sum 0 "
       "average 0 numlevels 1\n",
       true, 24,
       "@ has not the specified grid measures (in file_object)\n @\n2 2\n2 2\n1000 1000.5\n"},
      {"text value not a number", true, header + "110\nx\n", true, 22,
       "error reading ascii stack @at row 1, column 1, level 1"},
      {"text body cut", true, header + "110\n111\n120\n", true, 22,
       "error reading ascii stack @at row 1, column 2, level 1"},
      {"double body cut, whole read", true, binary.substr(0, 96 + 8 * 5), true, 22,
       "error reading double stack @at row 2, column 1"},
      {"double body cut, parallel read", true, binary.substr(0, 96 + 8 * 7), false, 22,
       "error reading double stack @at row 2, column 2"},
      {"single body cut", true,
       binary_bytes({2, 2, 1000, 2000, 25, -9999, 0, 0, 0, 0, 0, 1, 110, 111, 120}, true), true, 22,
       "error reading float stack @at row 1, column 2"},
      {"negative level count", true,
       binary_bytes({2, 2, 1000, 2000, 25, -9999, 0, 0, 0, 0, 0, -1}, false), true, 22,
       "error reading from @"},
  };
  for (const row& r : rows) {
    stack_fixture f;
    const std::string path = f.dir.file("s.stk");
    if (r.exists) f.dir.write("s.stk", r.bytes);
    EXPECT_EQ(f.read(path, r.keep_full), r.code) << r.what << "\n" << f.cap.console();
    std::string entry = r.entry;
    for (size_t at = entry.find('@'); at != std::string::npos; at = entry.find('@'))
      entry.replace(at, 1, path);
    EXPECT_NE(f.cap.xml().find("level=\"0\" description= \"" + escape_diag_text(entry)),
              std::string::npos)
        << r.what << "\n"
        << f.cap.console();
  }
}

TEST(StackFile, StacksNeedTheModelsMeasuresExactly) {
  // A grid with the same fractional corner is accepted (floors agree); a
  // stack is not, and neither is one whose nodata differs from the model's.
  struct row {
    double xll;
    double nodata;
    int code;
  };
  for (const row& r : std::vector<row>{{1000, -9999, 0}, {1000.5, -9999, 24}, {1000, -99999, 22}}) {
    stack_fixture f;
    f.dir.write(
        "s.bin",
        binary_bytes({2, 2, r.xll, 2000, 25, r.nodata, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}, false));
    // A binary file with another nodata than -9999 is not even recognised.
    EXPECT_EQ(f.read(f.dir.file("s.bin")), r.code) << r.xll << " " << r.nodata;
  }
}

TEST(StackFile, TextStacksAreWrittenByProcessZeroOnly) {
  stack_fixture f;
  const stack_matrix s = f.make(1);
  f.object.set_process(1, 2);
  f.object.write_stack(f.dir.file("p1.stk"), s, 1, true, false);
  EXPECT_FALSE(std::filesystem::exists(f.dir.file("p1.stk")));
  f.object.set_process(0, 1);
  // Rows the stack does not hold are nodata.
  stack_matrix band = f.object.matrix_3d(2, 2, 1, 2, 0, 2);
  band[2][1][0] = 7;
  band[2][2][0] = 8;
  f.object.write_stack(f.dir.file("band.stk"), band, 0, true, false);
  const std::string text = read_file(f.dir.file("band.stk"));
  EXPECT_EQ(text.substr(text.find("numlevels")), "numlevels\t0\n-9999\n-9999\n7\n8\n");
}

}  // namespace
