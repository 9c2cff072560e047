// The example basin run with one and with three processes: every file in
// "output/" is byte for byte the same (only "MPIRegions_0", the division
// itself, differs), and the derived and variable grids hold what the basin's
// files give by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_support.h"

namespace {

std::vector<double> grid_body(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  double value = 0;
  for (int k = 0; k < 6; ++k) in >> word >> value;
  std::vector<double> values;
  while (in >> value) values.push_back(value);
  return values;
}

std::set<std::string> output_files(const cli_workdir& dir) {
  std::set<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(dir.file("output")))
    names.insert(f.path().filename().string());
  return names;
}

TEST(DerivedGridsBasin, OutputsAreTheSameForOneAndThreeProcesses) {
  cli_workdir one;
  cli_workdir three;
  for (const cli_workdir* dir : {&one, &three}) {
    copy_example_basin(*dir);
    dir->write("MpiSpeedFactor.dat", "1\n");
  }
  const run_result r1 = one.run_velmo(1, {"basin.ctl"});
  ASSERT_EQ(r1.status, 0) << r1.output;
  const run_result r3 = three.run_velmo(3, {"basin.ctl"});
  ASSERT_EQ(r3.status, 0) << r3.output;

  const std::set<std::string> files = output_files(one);
  EXPECT_EQ(files, output_files(three));
  for (const char* name : {"zones.$csx", "zones.$csy", "zones.$rca", "zones.$cx", "zones.$cy",
                           "dem.$sl", "dem.$ex", "zones.$w1", "zones.$r2", "zones.$w2", "zones.$r3",
                           "zones.$w3", "crop_factor.asc.filled", "soil_depth.asc.filled"})
    EXPECT_EQ(files.count(name), 1U) << name;
  for (const std::string& name : files) {
    if (name == "MPIRegions_0") continue;
    EXPECT_EQ(one.read("output/" + name), three.read("output/" + name)) << name;
  }

  // The 190 basin cells (README) hold the variable grid's 0.8, the relative
  // area 1 and the nominal cell size 100 m; the other 110 cells nodata.
  const std::vector<double> zones = grid_body(one.read("zones.asc"));
  const std::vector<double> crop = grid_body(one.read("output/crop_factor.asc.filled"));
  const std::vector<double> area = grid_body(one.read("output/zones.$rca"));
  const std::vector<double> width = grid_body(one.read("output/zones.$csx"));
  const std::vector<double> x = grid_body(one.read("output/zones.$cx"));
  ASSERT_EQ(zones.size(), 300U);
  ASSERT_EQ(crop.size(), 300U);
  ASSERT_EQ(area.size(), 300U);
  ASSERT_EQ(x.size(), 300U);
  int basin_cells = 0;
  for (size_t k = 0; k < zones.size(); ++k) {
    const bool basin = zones[k] != -9999;
    basin_cells += basin ? 1 : 0;
    EXPECT_EQ(crop[k], basin ? 0.8 : -9999) << k;
    EXPECT_EQ(area[k], basin ? 1 : -9999) << k;
    EXPECT_EQ(width[k], basin ? 100 : -9999) << k;
    // Lower-left corner: xllcorner 600000 + 100 (column - 1).
    EXPECT_EQ(x[k], basin ? 600000 + 100.0 * static_cast<double>(k % 20) : -9999) << k;
  }
  EXPECT_EQ(basin_cells, 190);
}

}  // namespace
