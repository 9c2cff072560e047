// The interpolator fixture with what a step needs besides: an elevation
// model in grid-store entry 2, "MPIRegions" (every cell of process 0), and a
// section writer with every line adjustable. Grid cells (row, col) have their
// lower-left corner at x = 1000 + 100 (col - 1), y = 2000 + 100 (2 - row).
#pragma once

#include <string>

#include "meteo/meteo_fixture.h"

struct step_fixture : meteo_fixture {
  step_fixture() {
    elevation_grid = grids.matrix(1, ROWS, 1, COLS, ROWS);
    regions = grids.matrix(1, ROWS, 1, COLS, ROWS);
    const double z[ROWS][COLS] = {{500, 550, 600}, {400, 450, 600}};
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) {
        elevation_grid[r][c] = z[r - 1][c - 1];
        regions[r][c] = 0;
      }
    publish(2, "elevation", "dem.asc", &elevation_grid);
    publish(5, "RelCellArea", "rca.asc", &rel_area);
    publish(6, "MPIRegions", "regions.asc", &regions);
  }
  grid_matrix elevation_grid;
  grid_matrix regions;
};

// A section from the method line on; the station file "$D/<file>".
struct step_section {
  int method = 1;
  std::string files = "$D/st.txt\n";
  std::string method_line; // EDR or lapse-rate line, methods 10 to 12
  double scaling = 1;
  double nodata = 9999;
  double weight = 2;
  double max_distance = 5000;
  double ratio = 1;
  double lower = -100, below = -90, upper = 100, above = 90;
  std::string scenario = "0";
  std::string statistics = "stat.txt 0";

  std::string text() const {
    auto num = [](double v) {
      char b[64];
      std::snprintf(b, sizeof b, "%.17g", v);
      return std::string(b);
    };
    std::string s = std::to_string(method) + " method\n" + files;
    if (method <= 8)
      s += "$D/reg.txt name of the regression file in\n";
    if (method == 9)
      s += "1 0 127 1 0\n";
    if (method >= 10)
      s += method_line + "\n";
    return s +
           "result.asc name of the result grid in\n0 grid write code for "
           "result grid in\n" +
           num(scaling) + " scaling factor for\n" + statistics +
           " name of the statistic result file in\n" + num(nodata) +
           " nodata value in\n" + num(weight) +
           " idw-weight in\n0.5 fraction of idw\n" + num(max_distance) +
           " maximum distance in\n0 slope of the main axis\n" + num(ratio) +
           " anisotropy b/a in\n" + num(lower) + " lower limit\n" + num(below) +
           " upper limit\n" + num(upper) + " lower replacement\n" + num(above) +
           " upper replacement\n" + scenario + " SzenUse in\n";
  }
};

inline int count_of(const std::string &text, const std::string &piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos;
       at = text.find(piece, at + 1))
    ++n;
  return n;
}

// "$D/" stands for the scratch directory.
inline std::string with_dir(const meteo_fixture &f, std::string text) {
  for (size_t at = text.find("$D/"); at != std::string::npos;
       at = text.find("$D/"))
    text.replace(at, 3, f.path(""));
  return text;
}
