// The special output of the real program on the example basin (one step, no
// meteorological input): the same file on one, two and three processes, and
// a point off the grid that stops every process.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_support.h"
#include "support/diag_xml.h"

namespace {

// The example basin's control file with the given special-output section.
std::string with_special_output(const std::string& control, const std::string& body) {
  const std::string inactive = "[special_output]\n0\n60\n";
  const size_t at = control.find(inactive);
  EXPECT_NE(at, std::string::npos);
  std::string changed = control;
  changed.replace(at, inactive.size(), "[special_output]\n1\n60\n" + body);
  return changed;
}

// The value of a text grid at (row, column), row 1 being the first row.
double grid_value(const std::string& text, int row, int col) {
  std::istringstream in(text);
  std::string word;
  int ncols = 0;
  for (int i = 0; i < 6; ++i) {
    in >> word;
    if (word == "ncols")
      in >> ncols;
    else
      in >> word;
  }
  double value = 0;
  for (int k = 0; k < (row - 1) * ncols + col; ++k) in >> value;
  return value;
}

// Points: (600750, 200750) column 8, row 8 (inside subbasin 3); (601200,
// 201400) column 12, row 1 on the upper edge; (600100, 200000) column 1,
// row 15 in the lower-left corner; (601950, 200050) column 20, row 15: the
// last three lie outside the basin and belong to no process.
const std::string SECTION =
    "numfiles = 1;\n{\nheader = example;\nfilename = points.txt;\n"
    "entity {\nID = [elevation_model]; Symbol = Z;\n"
    "Xcoords = 600750, 601200, 600100, 601950;\nYcoords = 200750, 201400, 200000, 200050;\n}\n"
    "entity {\nID = soil_depth; Symbol = D;\nXcoords = 600950;\nYcoords = 200750;\n}\n"
    "entity {\nID = groundwater_recharge; Symbol = R;\nXcoords = 600950;\nYcoords = 200750;\n}\n"
    "}\n";

}  // namespace

TEST(SpecialOutputCli, SameFileOnOneTwoAndThreeProcesses) {
  std::string first;
  for (int np : {0, 1, 2, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    dir.write("MpiSpeedFactor.dat", "1\n");
    dir.write("basin.ctl", with_special_output(dir.read("basin.ctl"), SECTION));
    const run_result r = dir.run_velmo(np, {"basin.ctl"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string file = dir.read("output/points.txt");
    if (first.empty()) {
      first = file;
      // The elevation at row 8, column 8 as dem.asc gives it; the soil depth
      // at row 8, column 10 is the hole filled from row 7 (0.75, README); no
      // module publishes a recharge grid. No meteorological input: the date
      // is -9999.
      std::ostringstream row;
      row << "-9999\t-9999\t-9999\t-9999\t" << grid_value(dir.read("dem.asc"), 8, 8)
          << "\t-9999\t-9999\t-9999\t0.75\t-9999\n";
      EXPECT_EQ(file,
                "YY\tMM\tDD\tHH\tZ/8/8\tZ/12/1\tZ/1/15\tZ/20/15\tD/10/8\tR/10/8\nexample\n"
                "YY\tMM\tDD\tHH\tZ/600750/200750\tZ/601200/201400\tZ/600100/200000"
                "\tZ/601950/200050\tD/600950/200750\tR/600950/200750\n" +
                    row.str());
    } else {
      EXPECT_EQ(file, first);
    }
  }
}

TEST(SpecialOutputCli, PointOffTheGridStopsEveryProcessWith1008) {
  cli_workdir dir;
  copy_example_basin(dir);
  dir.write("MpiSpeedFactor.dat", "1\n");
  // y = 201500 = yllcorner + 15 x 100 lies in row 0.
  dir.write("basin.ctl",
            with_special_output(dir.read("basin.ctl"),
                                "numfiles = 1;\n{\nheader = h;\nfilename = p.txt;\nentity {\nID = "
                                "soil_depth; Symbol = D;\nXcoords = 600950, 600950;\n"
                                "Ycoords = 200750, 201500;\n}\n}\n"));
  const run_result r = dir.run_velmo(2, {"basin.ctl"});
  EXPECT_EQ(r.status, 1008 % 256) << r.output;  // the shell sees the code modulo 256
  std::string why;
  const auto lines = diag_xml_lines(dir.read("Velmo_Diag_0.xml"), &why);
  ASSERT_FALSE(lines.empty()) << why;
  const std::string entry =
      diag_line(0,
                "Error in section [special_output]: y-coordinate 201500, defined as point 1 "
                "for entity soil_depth, is located outside the actual grid.");
  EXPECT_NE(std::find(lines.begin(), lines.end(), entry), lines.end()) << r.output;
}
