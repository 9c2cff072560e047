// Per-step output of the settings grids: standard grids through
// write_standard_grids, variable grids through write_variable_grids only
// (so their sums count every step once), derived grids not at all.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "settings/derived_setup_fixture.h"

namespace {

const std::string ZONES = text_grid_of("-9999 1 1\n1 2 2\n2 2 2\n", 3, 3);
const std::string DEM = text_grid_of("1 2 3\n4 5 6\n7 8 9\n", 3, 3);
const double ND = NODATA;

TEST(SettingsStepOutput, StandardAndVariableGridsByTheirWriteCodes) {
  for (bool with_variable : {false, true}) {
    SCOPED_TRACE(with_variable);
    control_parts parts;
    // The standard grid "depth" is 2 on zone cells and written every step
    // under a dated name (units 2); the variable grid "rate" is 0.5 and
    // summed over the run (tens 1). The run ends on 1 Jan 2001, 1 h.
    parts.standard =
        "1\ndepth.asc depth fillcode = 0 readcode = 0 defaultValue = 2 writecode = 2\n";
    parts.variable = with_variable ? "1\nrate.asc rate 0 0.5\n10\n0\n" : "0\n";
    parts.model_time = "0\n1\n1\n2001\n1\n1\n1\n2001\n";
    settings_setup run(parts, {{"zones.asc", ZONES}, {"dem.asc", DEM}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    for (int64_t hour : {0, 1}) {
      run.settings->write_standard_grids(hour, 1, 1, 2001);
      run.settings->write_variable_grids(hour, 1, 1, 2001);
    }
    EXPECT_TRUE(run.exists("out/depth_20010101.000"));
    EXPECT_TRUE(run.exists("out/depth_20010101.001"));
    // The plain name at the end of the run.
    EXPECT_EQ(text_grid_values(run.path("out/depth.asc")),
              (std::vector<double>{ND, 2, 2, 2, 2, 2, 2, 2, 2}));
    // Two steps of 0.5: 1, whatever else ran before.
    EXPECT_EQ(run.exists("out/rate.sum"), with_variable);
    if (with_variable) {
      EXPECT_EQ(text_grid_values(run.path("out/rate.sum")),
                (std::vector<double>{ND, 1, 1, 1, 1, 1, 1, 1, 1}));
    }
    // Derived grids have write code 0 and are written only at set-up.
    std::filesystem::remove(run.path("zones.$cx"));
    run.settings->write_standard_grids(1, 1, 1, 2001);
    EXPECT_FALSE(run.exists("zones.$cx"));
  }
}

// A grid with two holes in the zones: (1, 3) in zone 1 and (3, 2) in zone 2.
const std::string SOIL = text_grid_of("9 0.5 -9999\n0.7 0.2 0.4\n0.6 -9999 0.8\n", 3, 3);

TEST(SettingsStepOutput, StatisticsLeaveTheHolesOfAGridOut) {
  // Fill code 0 keeps the holes. Every cell weighs 1 (flat 100 m cells), so
  // by hand: zone 1 holds 0.5 and 0.7, mean 0.6; zone 2 holds 0.2, 0.4, 0.6
  // and 0.8, mean 0.5; all six cells 3.2 / 6 = 0.53333. Counting the holes
  // as values would give zone 1 (1.2 - 9999) / 3 = -3332.6.
  control_parts parts;
  parts.standard =
      "1\n$dir//soil.asc soil fillcode = 0 writecode = 0 statfile = soil.sta statcode = 2001\n";
  parts.model_time = "0\n1\n1\n2001\n1\n1\n1\n2001\n";
  settings_setup run(parts, {{"zones.asc", ZONES}, {"dem.asc", DEM}, {"soil.asc", SOIL}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(run.grid("soil")[1][3], ND);  // the hole is still there
  run.settings->clear_grid_statistics();
  run.settings->add_grid_statistics();
  run.settings->complete_grid_statistics(0, 1, 1, 2001);
  run.settings->flush_grid_statistics();
  const std::string text = read_file(run.path("out/soil.sta"));
  std::istringstream lines(text);
  std::string line;
  for (int k = 0; k < 4; ++k) std::getline(lines, line);
  EXPECT_EQ(line, "2001\t 1\t 1\t 0\t0.60000\t0.50000\t0.53333") << text;
}

TEST(SettingsStepOutput, AnOutputNeverReplacesTheGridItWasReadFrom) {
  // Write code 8 writes the filled grid under its plain name at the end of
  // the run. Named absolutely, that name is the file read: the output goes
  // to the output folder instead. Named relatively, it lands there anyway.
  for (bool absolute : {true, false}) {
    SCOPED_TRACE(absolute ? "absolute input name" : "relative input name");
    control_parts parts;
    parts.standard = std::string("1\n") + (absolute ? "$dir//" : "") +
                     "soil.asc soil fillcode = 1 writecode = 8\n";
    parts.model_time = "0\n1\n1\n2001\n1\n1\n1\n2001\n";
    settings_setup run(parts, {{"zones.asc", ZONES}, {"dem.asc", DEM}, {"soil.asc", SOIL}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    for (int64_t hour : {0, 1}) run.settings->write_standard_grids(hour, 1, 1, 2001);
    EXPECT_EQ(read_file(run.path("soil.asc")), SOIL);
    const std::vector<double> filled =
        text_grid_values(run.path(absolute ? "soil.asc.filled" : "out/soil.asc.filled"));
    ASSERT_EQ(filled.size(), 9U);
    EXPECT_NE(filled[2], ND);  // the hole of zone 1 is filled
    EXPECT_EQ(text_grid_values(run.path("out/soil.asc")), filled);
    const std::string warning = run.path("soil.asc") +
                                " was read by this run and is not replaced; the output goes to " +
                                run.path("out/soil.asc");
    EXPECT_EQ(run.logged(warning), absolute) << run.cap.console();
  }
}

}  // namespace
