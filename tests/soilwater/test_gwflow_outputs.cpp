// The control-point file of the groundwater module: its header, one row per
// sub-step with the heads around the cell (-8888 outside the grid), rows
// buffered until a flush or the release.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "gwflow_fixture.h"
#include "support/small_tmpfs.h"

namespace {

using gwtest::gw_run;
using gwtest::gw_section;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

std::string g(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

TEST(GwflowOutputs, HeaderAndRowsWrittenAtTheFlushAndTheRelease) {
  gw_run run(3, 4, 2, 10);
  gw_section s;
  s.control = "2 3";
  ASSERT_EQ(run.build(s), 0) << run.console();
  const std::string header =
      "YY\tMM\tDD\tHH\tcontrol_point_fluxes[2][3][lr: 1, 1]\t[lr: 1, 2]\t[lr: 1, 3]\t[lr: 1, "
      "4]\t[lr: 1, up]\t[lr: 1, down]\t[lr: 2, 1]\t[lr: 2, 2]\t[lr: 2, 3]\t[lr: 2, 4]\t[lr: 2, "
      "up]\t[lr: 2, down]\t\n";
  EXPECT_EQ(read_file(run.file("cp.txt")), header);
  run.step(2);
  // Shorter than a buffer: nothing written yet.
  EXPECT_EQ(run.module->buffered_rows(), 2);
  EXPECT_EQ(read_file(run.file("cp.txt")), header);
  run.module->flush_outputs();  // Ctrl-C choice 3
  EXPECT_EQ(run.module->buffered_rows(), 0);
  EXPECT_EQ(lines_of(read_file(run.file("cp.txt"))).size(), 3U);
  EXPECT_NE(run.console().find("write " + run.file("cp.txt") + "(272 of 2097152 buffer-bytes)"),
            std::string::npos)
      << run.console();
  run.step(1, 13);
  run.module->release();
  const std::vector<std::string> lines = lines_of(read_file(run.file("cp.txt")));
  ASSERT_EQ(lines.size(), 4U);
  const std::vector<std::string> f = fields_of(lines[3]);
  ASSERT_EQ(f.size(), 4U + 12U);
  EXPECT_EQ(f[0] + " " + f[1] + " " + f[2] + " " + f[3], "2001 3 2 13");
}

TEST(GwflowOutputs, NeighboursOutsideTheGridAreMinus8888) {
  const struct {
    int row, col;
    bool north, east, south, west;  // inside the grid
  } cases[] = {{1, 1, false, true, true, false},
               {3, 4, true, false, false, true},
               {2, 2, true, true, true, true},
               {1, 4, false, false, true, true}};
  for (const auto& c : cases) {
    gw_run run(3, 4, 1, 10);
    grid_matrix& distance = run.grid("groundwater_distance");
    for (int r = 1; r <= 3; ++r)
      for (int j = 1; j <= 4; ++j) distance[r][j] = -0.1 * r - 0.01 * j;
    gw_section s;
    s.layers = 1;
    s.control = std::to_string(c.row) + " " + std::to_string(c.col);
    ASSERT_EQ(run.build(s), 0) << run.console();
    run.step(1);
    const grid_matrix& h = run.L(1).head;
    const std::vector<std::string> expected = {
        g(h[c.row][c.col]),
        c.north ? g(h[c.row - 1][c.col]) : "-8888",
        c.east ? g(h[c.row][c.col + 1]) : "-8888",
        c.south ? g(h[c.row + 1][c.col]) : "-8888",
        c.west ? g(h[c.row][c.col - 1]) : "-8888",
        c.west ? g(run.grid("baseflow")[c.row][c.col - 1]) : "-8888"};
    run.module->release();
    const std::vector<std::string> lines = lines_of(read_file(run.file("cp.txt")));
    ASSERT_EQ(lines.size(), 2U);
    const std::vector<std::string> f = fields_of(lines[1]);
    ASSERT_EQ(f.size(), 10U);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(f[4 + i], expected[i]) << c.row << "," << c.col << " " << i;
  }
}

TEST(GwflowOutputs, NoRowsWithoutInitialisationOrWithoutControlPoint) {
  gw_run run(2, 2, 1, 10);
  gw_section s;
  s.layers = 1;
  s.control = "1 1";
  ASSERT_EQ(run.build(s), 0);
  run.module->set_initialized(0);
  run.step(1);
  run.module->release();
  EXPECT_EQ(lines_of(read_file(run.file("cp.txt"))).size(), 1U);
}

TEST(GwflowOutputs, AFullDiskIsAWriteErrorNotWrittenRows) {
  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  gw_run run(2, 2, 1, 10);
  gw_section s;
  s.layers = 1;
  s.control = "1 1";
  s.cp_name = disk.file("cp.txt");
  ASSERT_EQ(run.build(s), 0) << run.console();
  disk.fill();
  // More rows than the rest of the header's block holds.
  run.step(150);
  int code = 0;
  try {
    run.module->flush_outputs();
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, 18);
  EXPECT_NE(run.console().find("write error " + disk.file("cp.txt")), std::string::npos)
      << run.console();
}

}  // namespace
