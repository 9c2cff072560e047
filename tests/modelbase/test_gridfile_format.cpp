// The file-format layer of grids and stacks: format recognition, number
// parsing and "%g" formatting, the text scanner across block boundaries, the
// binary header, and the checks of a file's measures.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "modelbase/gridfile_format.h"
#include "modelbase/modelobject.h"
#include "support/test_support.h"

namespace {

std::vector<unsigned char> bytes_of(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

std::vector<unsigned char> binary_head(double sixth, grid_format format) {
  std::vector<double> numbers(12, 1.0);
  numbers[5] = sixth;
  std::vector<unsigned char> out;
  encode_values(numbers.data(), numbers.size(), format, out);
  return out;
}

TEST(GridFileFormat, RecognisesFormatsByTheirFirstBytes) {
  struct row {
    const char* what;
    std::vector<unsigned char> head;
    grid_format grid;
    grid_format stack;
  };
  std::vector<unsigned char> single_head = binary_head(-9999, grid_format::binary_single);
  std::vector<unsigned char> short_single(single_head.begin(), single_head.begin() + 48);
  const std::vector<row> rows = {
      {"text grid", bytes_of("ncols 3\nnrows 2\n"), grid_format::text, grid_format::unknown},
      {"capitalised keyword", bytes_of("NCOLS 3\nnrows 2\n"), grid_format::unknown,
       grid_format::unknown},
      {"text stack", bytes_of("stack_ncols\t3\n"), grid_format::unknown, grid_format::text},
      {"capitalised stack", bytes_of("Stack_ncols\t3\n"), grid_format::unknown,
       grid_format::unknown},
      {"double", binary_head(-9999, grid_format::binary_double), grid_format::binary_double,
       grid_format::binary_double},
      {"single", single_head, grid_format::binary_single, grid_format::binary_single},
      // A single stack of one cell is 52 bytes, shorter than a double header.
      {"short single", short_single, grid_format::binary_single, grid_format::binary_single},
      {"double with nodata -9998", binary_head(-9998, grid_format::binary_double),
       grid_format::unknown, grid_format::unknown},
      {"single with nodata -9998", binary_head(-9998, grid_format::binary_single),
       grid_format::unknown, grid_format::unknown},
      {"GIF", bytes_of(std::string("GIF89a\x64\x00\x50\x00", 10)), grid_format::gif,
       grid_format::unknown},
      {"empty", {}, grid_format::unknown, grid_format::unknown},
  };
  for (const row& r : rows) {
    EXPECT_EQ(detect_grid_format(r.head.data(), r.head.size()), r.grid) << r.what;
    EXPECT_EQ(detect_stack_format(r.head.data(), r.head.size()), r.stack) << r.what;
  }
}

TEST(GridFileFormat, FormatsValuesExactlyAsPrintfG) {
  // printf is the oracle: the text files must stay byte for byte as "%g".
  const std::vector<double> values = {0.0,
                                      -0.0,
                                      1.0,
                                      -9999.0,
                                      0.1,
                                      1.0 / 3,
                                      2.0 / 3,
                                      123456.0,
                                      1234567.0,
                                      999999.5,
                                      1e-5,
                                      0.0001,
                                      1.5e-300,
                                      -2.75e300,
                                      3456789.0,
                                      100000.0,
                                      1e6,
                                      12.3456789,
                                      0.000123456,
                                      65.5,
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity()};
  for (double v : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%g", v);
    EXPECT_EQ(format_g(v), expected) << v;
  }
}

TEST(GridFileFormat, FormatsManyValuesExactlyAsPrintfG) {
  // The fast digits must agree with printf everywhere: random bit patterns
  // over the whole range, short decimals, values at and next to the halfway
  // points of the sixth digit (where the exact fallback must take over),
  // powers of ten and their neighbours, and numbers just below 1e6.
  std::mt19937_64 random(20261211);
  std::vector<double> values;
  for (int k = 0; k < 200000; ++k) {
    const double v = std::bit_cast<double>(random());
    if (std::isfinite(v)) values.push_back(v);
  }
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int k = 0; k < 200000; ++k) {
    const int decimals = k % 9;
    const double scale = std::pow(10.0, static_cast<double>(k % 13) - 4);
    const double v = std::round(unit(random) * 1e7) / std::pow(10.0, decimals) * scale;
    values.push_back(k % 2 == 0 ? v : -v);
  }
  for (int e = -300; e <= 300; ++e)
    for (long long n : {100000LL, 123456LL, 999999LL, 500000LL}) {
      const double tie = (static_cast<double>(n) + 0.5) * std::pow(10.0, e);
      values.push_back(tie);
      values.push_back(std::nextafter(tie, 0.0));
      values.push_back(std::nextafter(tie, 1e308));
      const double power = std::pow(10.0, e);
      values.push_back(power);
      values.push_back(std::nextafter(power, 0.0));
      values.push_back(std::nextafter(power, 1e308));
    }
  for (double v : {999999.4, 999999.5, 999999.6, 999999.9999999, 1234565.0, 1234575.0,
                   0.00012345650, 9.999995e-5, 9.9999949e-5, 5e-324, 2.2250738585072014e-308,
                   1.7976931348623157e308})
    values.push_back(v);
  size_t mismatches = 0;
  for (double v : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%g", v);
    const std::string got = format_g(v);
    if (got != expected && ++mismatches <= 10)
      ADD_FAILURE() << v << ": " << got << " vs " << expected;
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(GridFileFormat, RowsOfValuesAreTabSeparatedPrintfTexts) {
  struct row {
    std::vector<double> values;  // [0] unused
    double nodata;
    const char* text;
  };
  const row rows[] = {
      {{0, -9999, 1.5, -0.0, -9999, 1e7, 0.000123456},
       -9999,
       "-9999\t1.5\t-0\t-9999\t1e+07\t0.000123456"},
      // Only the very bits of nodata take its text: -0 stays "-0".
      {{0, 0.0, -0.0, 2.0}, 0.0, "0\t-0\t2"},
      {{0, 3.25}, -9999, "3.25"},
  };
  for (const row& r : rows) {
    const int count = static_cast<int>(r.values.size()) - 1;
    std::vector<char> out(static_cast<size_t>(count) * FORMATTED_VALUE_CHARS);
    const std::string nodata_text = format_g(r.nodata);
    const char* end = format_g_row(out.data(), r.values.data(), count, r.nodata, nodata_text);
    EXPECT_EQ(std::string(static_cast<const char*>(out.data()), end), r.text);
  }
}

TEST(GridFileFormat, MeasuresReadBackAsTheSameNumber) {
  struct row {
    double value;
    const char* text;  // expected text; nullptr: only the read-back is checked
  };
  const std::vector<row> rows = {
      {3456789.0, "3456789"},  // "%g" would give 3.45679e+06
      {3456789.5, "3456789.5"},
      {0.1, "0.1"},
      {25.0, "25"},
      {-9999.0, "-9999"},
      {static_cast<double>(0.1f), nullptr},  // needs 17 digits
      {3456789.123456789, nullptr},
  };
  for (const row& r : rows) {
    const std::string text = format_measure(r.value);
    if (r.text != nullptr) { EXPECT_EQ(text, r.text); }
    double back = 0;
    ASSERT_TRUE(parse_number(text, back)) << text;
    EXPECT_EQ(back, r.value) << text;
  }
}

TEST(GridFileFormat, ParsesWordsAsScanfNumbersOrRefusesThem) {
  struct row {
    const char* word;
    bool ok;
    double value;
  };
  const std::vector<row> rows = {
      {"1.5", true, 1.5}, {"+2", true, 2.0},    {"-3e2", true, -300.0},   {".25", true, 0.25},
      {"7.", true, 7.0},  {"0x10", true, 16.0}, {"-9999", true, -9999.0}, {"abc", false, 0},
      {"1.5x", false, 0}, {"+-1", false, 0},    {"1,5", false, 0},        {"--1", false, 0},
      {"e5", false, 0},   {"+", false, 0},
  };
  for (const row& r : rows) {
    double value = -1;
    EXPECT_EQ(parse_number(r.word, value), r.ok) << r.word;
    if (r.ok) { EXPECT_EQ(value, r.value) << r.word; }
  }
  double value = 0;
  ASSERT_TRUE(parse_number("1e400", value));
  EXPECT_TRUE(std::isinf(value));
  ASSERT_TRUE(parse_number("nan", value));
  EXPECT_TRUE(std::isnan(value));
  EXPECT_FALSE(parse_number("", value));
}

TEST(GridFileFormat, ScannerJoinsWordsAcrossBlocks) {
  scratch_dir dir;
  // Words of all lengths, one longer than the smallest block of 64 bytes,
  // separated by every kind of white space.
  std::vector<std::string> words;
  std::string text = "  \n";
  for (int i = 0; i < 200; ++i) {
    std::string w =
        std::to_string(i * 7919 % 1000) + "." + std::string(static_cast<size_t>(i % 13), '5');
    words.push_back(w);
    text += w + (i % 3 == 0 ? "\t" : i % 3 == 1 ? " \r\n" : "\v\f ");
  }
  words.push_back(std::string(150, '9'));
  text += words.back();  // the last word ends with the file
  dir.write("words.txt", text);
  file_handle file(std::fopen(dir.file("words.txt").c_str(), "rb"));
  text_scanner scanner(file.get(), 64);
  std::string_view word;
  for (const std::string& expected : words) {
    ASSERT_TRUE(scanner.next_word(word));
    EXPECT_EQ(word, expected);
  }
  EXPECT_FALSE(scanner.next_word(word));
  EXPECT_FALSE(scanner.read_failed());
}

TEST(GridFileFormat, BinaryHeaderIsLittleEndianInEitherPrecision) {
  grid_header h;
  h.ncols = 3;
  h.nrows = 2;
  h.xllcorner = 0.5;
  h.cellsize = 25;
  const std::vector<unsigned char> single = encode_binary_header(h, grid_format::binary_single);
  const std::vector<unsigned char> dbl = encode_binary_header(h, grid_format::binary_double);
  ASSERT_EQ(single.size(), 48u);
  ASSERT_EQ(dbl.size(), 96u);
  // IEEE 754: 3.0f = 0x40400000, -9999.0f = 0xC61C3C00; 3.0 = 0x4008000000000000.
  EXPECT_EQ(std::vector<unsigned char>(single.begin(), single.begin() + 4),
            (std::vector<unsigned char>{0x00, 0x00, 0x40, 0x40}));
  EXPECT_EQ(std::vector<unsigned char>(single.begin() + 20, single.begin() + 24),
            (std::vector<unsigned char>{0x00, 0x3C, 0x1C, 0xC6}));
  EXPECT_EQ(std::vector<unsigned char>(dbl.begin(), dbl.begin() + 8),
            (std::vector<unsigned char>{0, 0, 0, 0, 0, 0, 0x08, 0x40}));
  const grid_header back = decode_binary_header(single.data(), grid_format::binary_single);
  EXPECT_EQ(back.xllcorner, 0.5);
  EXPECT_EQ(back.nodata, -9999);
}

TEST(GridFileFormat, TextHeadersHaveTheirFixedLines) {
  const grid_measures m{4, 3, 3456789.0, 5432100.5, 25, -9999};
  EXPECT_EQ(text_grid_header(m),
            "ncols\t4\nnrows\t3\nxllcorner\t3456789\nyllcorner\t5432100.5\ncellsize\t25\n"
            "nodata_value\t-9999\n");
  EXPECT_EQ(text_stack_header(m, 3),
            "stack_ncols\t4\nnrows\t3\nxll\t3456789\nyll\t5432100.5\ncs\t25\nnodata\t-9999\n"
            "cnt\t0\nmin\t0\nmax\t0\nsum\t0\naverage\t0\nnumlevels\t3\n");
}

TEST(GridFileFormat, MeasuresCheckOfGridsAndStacks) {
  const grid_measures model{10, 8, 1000.25, 2000.0, 25.0, -9999};
  struct row {
    const char* what;
    grid_header file;
    bool grid_fits;
    bool stack_fits;
  };
  auto file = [](double nc, double nr, double x, double y, double cs, double nd) {
    grid_header h;
    h.ncols = nc;
    h.nrows = nr;
    h.xllcorner = x;
    h.yllcorner = y;
    h.cellsize = cs;
    h.nodata = nd;
    return h;
  };
  const std::vector<row> rows = {
      {"equal", file(10, 8, 1000.25, 2000, 25, -9999), true, true},
      {"ncols 10.7 floors to 10", file(10.7, 8, 1000.25, 2000, 25, -9999), true, true},
      {"xll differs in its fraction only", file(10, 8, 1000.75, 2000, 25, -9999), true, false},
      {"xll in another whole number", file(10, 8, 1001.25, 2000, 25, -9999), false, false},
      {"cell size differs in the fourth decimal", file(10, 8, 1000.25, 2000, 25.0001, -9999), false,
       false},
      {"nodata below the model's", file(10, 8, 1000.25, 2000, 25, -99999), true, false},
      {"nodata above the model's", file(10, 8, 1000.25, 2000, 25, -9998), false, false},
      {"nrows differ", file(10, 9, 1000.25, 2000, 25, -9999), false, false},
  };
  for (const row& r : rows) {
    grid_header g = r.file;
    EXPECT_EQ(grid_file_fits(model, g), r.grid_fits) << r.what;
    EXPECT_EQ(g.xllcorner, std::floor(r.file.xllcorner)) << r.what;  // floored in the record
    EXPECT_EQ(stack_file_fits(model, r.file), r.stack_fits) << r.what;
  }
}

TEST(GridFileFormat, MismatchTextNamesBothFilesAndAllSixMeasures) {
  const grid_measures model{10, 8, 1000, 2000, 25, -9999};
  grid_header h;
  h.ncols = 11;
  h.nrows = 8;
  h.xllcorner = 1000;
  h.yllcorner = 2000;
  h.cellsize = 25;
  h.nodata = -9999;
  const std::string zone = "/very/long/directory/name/of/the/input/zones/zonegrid.asc";
  const std::string path = "/data/in/grids/dem.asc";
  // The zone file name is cut to its last 35 characters.
  EXPECT_EQ(measures_mismatch_text(path, "snow_model", zone, model, h, false),
            "/data/in/grids/dem.asc has not the specified grid measures (in snow_model)!\n"
            "ame/of/the/input/zones/zonegrid.asc /data/in/grids/dem.asc\n10 11\n8 8\n1000 1000\n"
            "2000 2000\n25 25\n-9999 -9999");
  EXPECT_EQ(measures_mismatch_text(path, "snow_model", "", model, h, true).substr(0, 79),
            "/data/in/grids/dem.asc has not the specified grid measures (in snow_model)\n "
            "/da");
}

}  // namespace
