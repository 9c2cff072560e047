// The header of the zone-grid file, which sizes every grid of the run: words
// in their order (centres become corners), no impossible measure, and no more
// cells than the file can hold; each refusal with its exact entry and code 22.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridfile_format.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

namespace {

struct header_case {
  explicit header_case(const std::string& bytes) {
    cap.dir.write("zones.asc", bytes);
    store[1].file_name = cap.dir.file("zones.asc");
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("none.ctl"),
                                            &registry, 200, 2, &store);
  }
  // The code read_grid_header throws; 0 when it returns.
  int read() {
    try {
      settings->read_grid_header(cols, rows, xll, yll, size, nodata);
    } catch (int c) {
      return c;
    }
    return 0;
  }
  bool has_fatal(const std::string& text) {
    return cap.xml().find("<line level=\"0\" description= \"" + escape_diag_text(text) +
                          "\"/>") != std::string::npos;
  }
  captured_diag cap;
  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  int cols = 0, rows = 0;
  double xll = 0, yll = 0, size = 0, nodata = 0;
};

std::string text_grid(const std::string& cols, const std::string& x_line,
                      const std::string& cellsize = "100",
                      const std::string& body = "1 2 3\n4 5 6\n") {
  return "ncols " + cols + "\nnrows 2\n" + x_line + "\nyllcorner 2000\ncellsize " + cellsize +
         "\nnodata_value -9999\n" + body;
}

TEST(ZoneGridHeader, CentresBecomeCornersInAnyCase) {
  for (const char* x_line : {"xllcenter 1050", "XLLCENTER 1050", "xllcorner 1000"}) {
    header_case c(text_grid("3", x_line));
    ASSERT_EQ(c.read(), 0) << x_line << c.cap.console();
    EXPECT_EQ(c.cols, 3);
    EXPECT_EQ(c.rows, 2);
    EXPECT_EQ(c.xll, 1000) << x_line;
    EXPECT_EQ(c.yll, 2000);
    EXPECT_EQ(c.size, 100);
  }
}

TEST(ZoneGridHeader, ImpossibleHeadersStopWithCode22) {
  struct row {
    const char* what;
    std::string bytes;
    std::string entry;  // @ for the path
  };
  const std::string impossible = "impossible measure in the header of @: ";
  const std::string double_huge = [] {
    std::vector<unsigned char> out;
    const double numbers[] = {200000, 200000, 1000, 2000, 100, -9999, 0, 0, 0, 0, 0, 0, 1, 2};
    encode_values(numbers, 14, grid_format::binary_double, out);
    return std::string(out.begin(), out.end());
  }();
  const std::string huge_text = text_grid("200000000", "xllcorner 1000");
  const std::vector<row> rows = {
      // Beyond an int: the cast of the column count is never reached.
      {"ncols beyond an int", text_grid("3000000000", "xllcorner 1000"),
       impossible + "ncols 3000000000 is not a whole number from 1 to 2147483647"},
      {"ncols nan", text_grid("nan", "xllcorner 1000"),
       impossible + "ncols nan is not a whole number from 1 to 2147483647"},
      {"cell size 0", text_grid("3", "xllcorner 1000", "0"),
       impossible + "cellsize 0 is not a finite number above 0"},
      {"unknown corner word", text_grid("3", "xllcentre 1050"),
       "unknown word \"xllcentre\" in line 3 of the header of @ (expected xllcorner or "
       "xllcenter)"},
      {"more cells than the text holds", huge_text,
       "error reading ascii grid @: " + std::to_string(huge_text.size()) +
           " bytes cannot hold the 200000000 x 2 cells of its header (at least 2 bytes per cell)"},
      {"more cells than the binary file holds", double_huge, "error reading double grid @"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    header_case c(r.bytes);
    EXPECT_EQ(c.read(), 22);
    std::string entry = r.entry;
    entry.replace(entry.find('@'), 1, c.cap.dir.file("zones.asc"));
    EXPECT_TRUE(c.has_fatal(entry)) << c.cap.console();
  }
}

}  // namespace
