// The special output on one process: the block text, the points on and off
// the grid, the file head, the rows with sub-step sums, stack levels, cells
// of no process and missing grids, the buffered writing, and the exact entry
// and code of every broken block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/teilmod_special.h"
#include "modelbase/gridstore.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

// A grid of 4 columns and 3 rows of 10 m with its lower-left corner at
// (1000, 2000): column c spans x in (1000 + 10 (c - 1), 1000 + 10 c], row r
// spans y in [2000 + 10 (3 - r), 2000 + 10 (4 - r)).
constexpr int NCOLS = 4;
constexpr int NROWS = 3;

struct special_fixture {
  special_fixture() {
    settings.control_file = cd.dir.file("control.$$$");
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = NCOLS;
    settings.nrows = NROWS;
    settings.first_row = 1;
    settings.last_row = NROWS;
    settings.xllcorner = 1000;
    settings.yllcorner = 2000;
    settings.cellsize = 10;
    out_dir = cd.dir.path() + "/";
    settings.output_directory = &out_dir;
    zone_grid = grid(1);
    regions = grid(0);
    regions[2][4] = -9999;  // a cell of no process
    dem = grid(0);
    recharge = grid(0);
    moisture = grid(0);
    snow = grid(5);
    for (int r = 1; r <= NROWS; ++r)
      for (int c = 1; c <= NCOLS; ++c) dem[r][c] = 10 * r + c;
    // Stack levels 0..2: 100 level + 10 row + column.
    moisture_stack = alloc.matrix_3d(1, NROWS, 1, NCOLS, 2, NROWS);
    snow_stack = alloc.matrix_3d(1, NROWS, 1, NCOLS, 2, NROWS);
    for (int r = 1; r <= NROWS; ++r)
      for (int c = 1; c <= NCOLS; ++c)
        for (int l = 0; l <= 2; ++l) moisture_stack[r][c][l] = 100 * l + 10 * r + c;
    publish(1, "[zone_grid]", &zone_grid);
    publish(2, "MPIRegions", &regions);
    publish(3, "dem", &dem);
    publish(4, "groundwater_recharge", &recharge);
    publish(5, "soil_moisture", &moisture, &moisture_stack);
    publish(6, "snow", &snow, &snow_stack);
  }

  grid_matrix grid(double value) {
    grid_matrix g = alloc.matrix(1, NROWS, 1, NCOLS, NROWS);
    for (int r = 1; r <= NROWS; ++r)
      for (int c = 1; c <= NCOLS; ++c) g[r][c] = value;
    return g;
  }
  void publish(int index, const std::string& name, grid_matrix* g, stack_matrix* s = nullptr) {
    store[index].grid = g;
    store[index].stack = s;
    store[index].levels = s != nullptr ? 2 : 0;
    store[index].grid_name = name;
    store[index].file_name = name + ".asc";
  }

  // Builds the module from the section text after the section head.
  std::unique_ptr<SpecialOutputClass> build(const std::string& body, int substeps = 1) {
    cd.dir.write("control.$$$",
                 "[special_output]\n1 flow control parameter for\n60 time interval "
                 "for\n" +
                     body);
    auto module = std::make_unique<SpecialOutputClass>(status, cd.diag.get(), nullptr, 0,
                                                       "special_output", &store, settings,
                                                       substeps);
    return module;
  }
  std::string file(const std::string& name) const { return read_file(cd.dir.file(name)); }
  bool logged(const std::string& piece) const {
    return cd.console().find(piece) != std::string::npos;
  }
  // Whether the diagnostics file holds this entry at this level; closes the
  // stream.
  bool entry(int level, const std::string& text) {
    return cd.xml().find(diag_line(level, escape_diag_text(text))) != std::string::npos;
  }

  captured_diag cd;
  std::string out_dir;
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, 4}, row_strip{1, 4},
                                row_strip{1, 4}};
  settings_context settings;
  memory_handling alloc;
  grid_matrix zone_grid, regions, dem, recharge, moisture, snow;
  stack_matrix moisture_stack, snow_stack;
  int status = -1;
};

const std::string HEAD = "YY\tMM\tDD\tHH";

}  // namespace

TEST(SpecialOutputText, ValuesListsAndBlocks) {
  std::string value;
  // First occurrence, first word between the next "=" and ";".
  EXPECT_TRUE(special_single_value("ID = dem rest; ID = other;", "ID", value));
  EXPECT_EQ(value, "dem");
  EXPECT_TRUE(special_single_value("Symbol=;", "Symbol", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(special_single_value("Symbol = S", "Symbol", value));  // no ";"
  EXPECT_FALSE(special_single_value("ID = dem;", "Symbol", value));
  // Last occurrence; blanks, tabs, commas and semicolons split; no number is 0.
  EXPECT_EQ(special_number_list("Xcoords = 1; Xcoords = 2.5,\t3 x ,4;", "Xcoords"),
            (std::vector<double>{2.5, 3, 0, 4}));
  EXPECT_TRUE(special_number_list("Ycoords = 1;", "Xcoords").empty());
  EXPECT_EQ(special_integer_list("Level = 0, 2, -1;", "Level"), (std::vector<int>{0, 2, -1}));

  std::string text = "a { b } c { d } e";
  std::string block;
  ASSERT_TRUE(special_take_block(text, block));
  EXPECT_EQ(block, " b ");
  EXPECT_EQ(text, " c { d } e");
  std::string none = "entity";
  EXPECT_FALSE(special_take_block(none, block));

  EXPECT_TRUE(special_substep_id("layer_groundwater_recharge_2"));
  EXPECT_TRUE(special_substep_id("gw_flow_x_3"));
  EXPECT_FALSE(special_substep_id("gw_flow"));
}

TEST(SpecialOutputText, RowsPerBufferFill2MiB) {
  struct row {
    int points;
    int64_t rows;
  };
  // floor(2097152 / ((points + 1) * 8 + 32)), at least 1.
  const std::vector<row> rows = {{0, 52428},    // 2097152 / 40
                                 {10, 17476},   // 2097152 / 120
                                 {262140, 1}};  // 2097160 bytes: one row all the same
  for (const row& r : rows) EXPECT_EQ(special_rows_per_buffer(r.points), r.rows) << r.points;
}

TEST(SpecialOutput, HeadAndRowsWithEdgesLevelsSubstepsAndMissingValues) {
  special_fixture fx;
  const std::string body =
      "numfiles = 1;\n{\nheader = points;\nfilename = points.txt;\n"
      // Column and row by hand: x 1010 -> 1 (right edge), 1040 -> 4, 1000.001 -> 1,
      // 1035 -> 4; y 2000 -> 3 (lower edge), 2029.99 -> 1, 2010 -> 2, 2015 -> 2.
      "entity {\nID = dem; Symbol = H;\nXcoords = 1010, 1040, 1000.001, 1035;\n"
      "Ycoords = 2000, 2029.99, 2010, 2015;\n}\n"
      "entity {\nID = groundwater_recharge; Symbol = R;\nXcoords = 1015;\nYcoords = 2025;\n}\n"
      "entity {\nID = soil_moisture; Symbol = M;\nXcoords = 1015 1015 1015 1015;\n"
      "Ycoords = 2025 2025 2025 2025;\nLevel = 0 2 3 -1;\n}\n"
      "entity {\nID = snow; Symbol = S;\nXcoords = 1015;\nYcoords = 2025;\n}\n"
      "entity {\nID = no_such_grid; Symbol = N;\nXcoords = 1015;\nYcoords = 2025;\n}\n"
      "}\n";
  auto module = fx.build(body, 3);
  ASSERT_EQ(fx.status, 0) << fx.cd.console();
  ASSERT_EQ(module->file_count(), 1);
  // %lg keeps six significant digits: 1000.001 is written as 1000.
  EXPECT_EQ(fx.file("points.txt"),
            HEAD +
                "\tH/1/3\tH/4/1\tH/1/2\tH/4/2\tR/2/1\tM/2/1/0\tM/2/1/2\tM/2/1/3\tM/2/1/-1"
                "\tS/2/1\tN/2/1\n"
                "points\n" +
                HEAD +
                "\tH/1010/2000\tH/1040/2029.99\tH/1000/2010\tH/1035/2015\tR/1015/2025"
                "\tM/1015/2025/0\tM/1015/2025/2\tM/1015/2025/3\tM/1015/2025/-1"
                "\tS/1015/2025\tN/1015/2025\n");

  // The snow entry keeps only its stack from now on.
  fx.store[6].grid = nullptr;
  const double substep_values[2][3] = {{1.5, 2.25, 4}, {0.25, 0.25, 0.25}};
  for (int step = 0; step < 2; ++step) {
    for (int k = 1; k <= 3; ++k) {
      fx.recharge[1][2] = substep_values[step][k - 1];
      fx.dem[3][1] = -1;  // not sampled in a sub-step
      module->sample_step(3 + step, 2, 1, 2001, 1, k);
    }
    fx.recharge[1][2] = 100;  // the step call keeps the sum
    fx.dem[3][1] = 31 + step;
    module->sample_step(3 + step, 2, 1, 2001, 0, 0);
  }
  // Only the head until the flush.
  const std::string head_only = fx.file("points.txt");
  EXPECT_EQ(std::count(head_only.begin(), head_only.end(), '\n'), 3);
  module->flush_outputs();
  const std::string text = fx.file("points.txt");
  const std::string rows = text.substr(text.find("\n", text.find("points\n") + 7) + 1);
  // dem 10 r + c; recharge 1.5 + 2.25 + 4 = 7.75 and 3 x 0.25; moisture
  // level 0: 12, level 2: 212, levels 3 and -1 none; snow (stack only) and
  // the missing grid none; (2, 4) is no process's cell.
  EXPECT_EQ(rows,
            "2001\t1\t2\t3\t31\t14\t21\t-9999\t7.75\t12\t212\t-9999\t-9999\t-9999\t-9999\n"
            "2001\t1\t2\t4\t32\t14\t21\t-9999\t0.75\t12\t212\t-9999\t-9999\t-9999\t-9999\n");
  EXPECT_TRUE(fx.logged("write " + fx.cd.dir.file("points.txt")));
  // (11 points x 8 + 32) bytes x 2 rows.
  EXPECT_TRUE(fx.logged("(240 of 2097152 buffer-bytes)"));
  module->release();
  EXPECT_TRUE(module->files().empty());
}

TEST(SpecialOutput, OneSubstepSamplesEveryEntityOncePerStep) {
  special_fixture fx;
  auto module = fx.build(
      "numfiles = 1;\n{\nheader = h;\nfilename = one.txt;\nentity {\nID = groundwater_recharge; "
      "Symbol = R;\nXcoords = 1015;\nYcoords = 2025;\n}\n}\n",
      1);
  ASSERT_EQ(fx.status, 0) << fx.cd.console();
  fx.recharge[1][2] = 5;
  module->sample_step(0, 1, 1, 2001, 1, 1);
  fx.recharge[1][2] = 6;
  module->sample_step(0, 1, 1, 2001, 0, 0);
  module->flush_outputs();
  const std::string text = fx.file("one.txt");
  EXPECT_EQ(text.substr(text.rfind("\n", text.size() - 2) + 1), "2001\t1\t1\t0\t6\n");
}

TEST(SpecialOutput, TheLifeCycleHooksSampleSubstepsAndFlush) {
  // The time loop reaches the module only through the hooks of the base:
  // its sub-steps are summed into the row of the step, and the flush writes.
  special_fixture fx;
  auto module = fx.build(
      "numfiles = 1;\n{\nheader = h;\nfilename = hooks.txt;\nentity {\nID = "
      "groundwater_recharge; Symbol = R;\nXcoords = 1015;\nYcoords = 2025;\n}\n}\n",
      2);
  ASSERT_EQ(fx.status, 0) << fx.cd.console();
  teilmodellklasse& hooks = *module;
  const model_date step{2001, 1, 1, 0};
  hooks.begin_step(step);
  fx.recharge[1][2] = 5;
  hooks.run_substep(step, 1);
  fx.recharge[1][2] = 6;
  hooks.run_substep(step, 2);
  hooks.end_step(step);
  fx.recharge[1][2] = 100;  // the step's own sample keeps the sum
  module->sample_step(0, 1, 1, 2001, 0, 0);
  hooks.flush_outputs();
  const std::string text = fx.file("hooks.txt");
  EXPECT_EQ(text.substr(text.rfind("\n", text.size() - 2) + 1), "2001\t1\t1\t0\t11\n");
}

TEST(SpecialOutput, FileWithoutPointsWritesItsFullBufferAtStep52428) {
  special_fixture fx;
  auto module = fx.build(
      "numfiles = 2;\n{\nheader = dates;\nfilename = dates.txt;\n}\n"
      "{\nheader = x;\nfilename = x.txt;\n}\n");
  ASSERT_EQ(fx.status, 0) << fx.cd.console();
  ASSERT_EQ(module->files().at(0).rows_per_buffer, 52428);  // 2097152 / 40
  EXPECT_EQ(fx.file("dates.txt"), HEAD + "\ndates\n" + HEAD + "\n");
  auto line_count = [&] {
    const std::string text = fx.file("dates.txt");
    return std::count(text.begin(), text.end(), '\n');
  };
  for (int step = 1; step < 52428; ++step) module->sample_step(step % 24, 1, 1, 2001, 0, 0);
  EXPECT_EQ(line_count(), 3);
  module->sample_step(7, 1, 1, 2001, 0, 0);
  EXPECT_EQ(line_count(), 3 + 52428);
  const std::string text = fx.file("dates.txt");
  EXPECT_EQ(text.substr(text.size() - 11), "2001\t1\t1\t7\n");
  EXPECT_EQ(module->files().at(0).rows_used, 0);
}

TEST(SpecialOutput, InactiveWithoutSectionOrWithFlowControlZero) {
  special_fixture fx;
  fx.cd.dir.write("control.$$$", "[other]\n1\n60\n");
  SpecialOutputClass missing(fx.status, fx.cd.diag.get(), nullptr, 0, "special_output",
                             &fx.store, fx.settings, 1);
  EXPECT_EQ(fx.status, 0);
  EXPECT_EQ(missing.get_flow_control(), 0);
  fx.cd.dir.write("control.$$$", "[special_output]\n0\n60\nnumfiles = 1;\n");
  SpecialOutputClass off(fx.status, fx.cd.diag.get(), nullptr, 0, "special_output", &fx.store,
                         fx.settings, 1);
  EXPECT_EQ(fx.status, 0);
  EXPECT_EQ(off.file_count(), 0);
  off.sample_step(0, 1, 1, 2001, 0, 0);
  off.flush_outputs();
}

TEST(SpecialOutput, BrokenBlocksGiveTheirCodeAndEntry) {
  struct row {
    std::string name;
    std::string body;
    int status;
    std::string entry;  // of level 0, {dir} the scratch directory
  };
  const std::string open = "numfiles = 1;\n{\nheader = h;\nfilename = f.txt;\n";
  auto entity = [](const std::string& keys) {
    return "entity {\nID = dem; Symbol = H;\n" + keys + "}\n";
  };
  const std::string prefix = "Error in section [special_output]: ";
  const std::vector<row> rows = {
      {"x and y counts", open + entity("Xcoords = 1010, 1020;\nYcoords = 2010;\n") + "}\n", 1006,
       prefix + "count of X coordinates dos not match the number of Y coordinates for entity "
                "dem"},
      {"level count",
       open + entity("Xcoords = 1010, 1020;\nYcoords = 2010, 2010;\nLevel = 1;\n") + "}\n", 1007,
       prefix + "number of levels dos not match the number of X and Y coordinates for entity "
                "dem. EIther each point has a level or none has."},
      // x = xllcorner lies in column 0.
      {"left of the grid", open + entity("Xcoords = 1010, 1000;\nYcoords = 2010, 2010;\n") + "}\n",
       1008,
       prefix + "x-coordinate 1000, defined as point 1 for entity dem, is located outside the "
                "actual grid."},
      {"right of the grid", open + entity("Xcoords = 1041;\nYcoords = 2010;\n") + "}\n", 1008,
       prefix + "x-coordinate 1041, defined as point 0 for entity dem, is located outside the "
                "actual grid."},
      // y = yllcorner + nrows x cellsize lies in row 0; below the grid row 4.
      {"above the grid", open + entity("Xcoords = 1010;\nYcoords = 2030;\n") + "}\n", 1008,
       prefix + "y-coordinate 2030, defined as point 0 for entity dem, is located outside the "
                "actual grid."},
      {"below the grid", open + entity("Xcoords = 1010;\nYcoords = 1999;\n") + "}\n", 1008,
       prefix + "y-coordinate 1999, defined as point 0 for entity dem, is located outside the "
                "actual grid."},
      // Code 104 names what is missing and where it was sought.
      {"no numfiles", "files = 1;\n", 104,
       prefix + "missing key numfiles (numfiles = value;) in the line after the time interval"},
      {"numfiles without its semicolon", "numfiles = 1\n", 104,
       prefix + "missing key numfiles (numfiles = value;) in the line after the time interval"},
      {"no header", "numfiles = 1;\n{\nfilename = f.txt;\n}\n", 104,
       prefix + "missing key header (header = value;) in block 1"},
      {"no filename in the second block",
       "numfiles = 2;\n{\nheader = h;\nfilename = f.txt;\n}\n{\nheader = h;\n}\n", 104,
       prefix + "missing key filename (filename = value;) in block 2"},
      {"no ID", open + entity("") + "entity {\nSymbol = S;\n}\n}\n", 104,
       prefix + "missing key ID (ID = value;) in entity 2 of block 1"},
      {"no Symbol", open + "entity {\nID = dem;\nXcoords = 1010;\nYcoords = 2010;\n}\n}\n", 104,
       prefix + "missing key Symbol (Symbol = value;) in entity 1 of block 1"},
      {"entity without a brace",
       open + entity("Xcoords = 1010;\nYcoords = 2010;\n") + "entity\n}\n", 104,
       prefix + "no { for entity 2 of block 1"},
      {"end of file inside a block", open + "entity {\n", 104,
       prefix + "the control file ends inside block 1 of 1 (a } is missing)"},
      {"end of file before a block", "numfiles = 2;\n{\nheader = h;\nfilename = f.txt;\n}\n", 104,
       prefix + "the control file ends before block 2 of 2"},
      {"file in no directory", "numfiles = 1;\n{\nheader = h;\nfilename = none/f.txt;\n}\n", 1007,
       "error opening file for special output of file\n{dir}/none/f.txt: " +
           std::string(std::strerror(ENOENT)) + "\n-> check file name, disk space or user rights"},
      // The head is written whole or the file counts as not created.
      {"head on a full disk", "numfiles = 1;\n{\nheader = h;\nfilename = /dev/full;\n}\n", 1007,
       "error opening file for special output of file\n/dev/full: " +
           std::string(std::strerror(ENOSPC)) + "\n-> check file name, disk space or user rights"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    special_fixture fx;
    auto module = fx.build(r.body);
    EXPECT_EQ(fx.status, r.status);
    std::string expected = r.entry;
    if (const size_t at = expected.find("{dir}"); at != std::string::npos)
      expected.replace(at, 5, fx.cd.dir.path());
    const std::string xml = fx.cd.xml();
    EXPECT_NE(xml.find(diag_line(0, escape_diag_text(expected))), std::string::npos) << xml;
    // One fatal entry, not one per process or per attempt.
    EXPECT_EQ(xml.find("<line level=\"0\"", xml.find("<line level=\"0\"") + 1),
              std::string::npos)
        << xml;
  }
}

TEST(SpecialOutput, FileThatCannotBeAppendedThrows65) {
  special_fixture fx;
  std::filesystem::create_directory(fx.cd.dir.file("sub"));
  auto module = fx.build("numfiles = 1;\n{\nheader = h;\nfilename = sub/f.txt;\n}\n");
  ASSERT_EQ(fx.status, 0);
  module->sample_step(1, 1, 1, 2001, 0, 0);
  std::filesystem::remove_all(fx.cd.dir.file("sub"));
  try {
    module->flush_outputs();
    ADD_FAILURE() << "no exception";
  } catch (int code) {
    EXPECT_EQ(code, 65);
  }
  EXPECT_TRUE(fx.entry(0, "\nerror opening file " + fx.cd.dir.file("sub/f.txt") + ": " +
                             std::strerror(ENOENT)))
      << fx.cd.console();
}

TEST(SpecialOutput, RowsThatCannotBeWrittenThrow18) {
  // The head goes to a file; the rows then meet a full disk (the name is
  // turned to /dev/full in between). They were lost without a word.
  special_fixture fx;
  const std::string target = fx.cd.dir.file("f.txt");
  std::filesystem::create_symlink(fx.cd.dir.file("head.txt"), target);
  auto module = fx.build("numfiles = 1;\n{\nheader = h;\nfilename = f.txt;\n}\n");
  ASSERT_EQ(fx.status, 0);
  EXPECT_EQ(fx.file("head.txt"), HEAD + "\nh\n" + HEAD + "\n");
  module->sample_step(1, 1, 1, 2001, 0, 0);
  std::filesystem::remove(target);
  std::filesystem::create_symlink("/dev/full", target);
  try {
    module->flush_outputs();
    ADD_FAILURE() << "no exception";
  } catch (int code) {
    EXPECT_EQ(code, 18);
  }
  EXPECT_TRUE(fx.entry(0, "write error " + target + ": " + std::strerror(ENOSPC)))
      << fx.cd.console();
}

TEST(SpecialOutput, BlankLineBeforeABlockRunsItIntoTheNext) {
  // The blank line opens the first block; its own "{" raises the depth to 2,
  // so the first block takes the second one in and ends only with it, and
  // the second block then finds the end of the file.
  special_fixture fx;
  auto module = fx.build(
      "numfiles = 2;\n\n{\nheader = a;\nfilename = a.txt;\n}\n"
      "{\nheader = b;\nfilename = b.txt;\n}\n");
  EXPECT_EQ(fx.status, 104);
}
