// Per-step output of the settings grids: standard grids through
// write_standard_grids, variable grids through write_variable_grids only
// (so their sums count every step once), derived grids not at all.
#include <gtest/gtest.h>

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

}  // namespace
