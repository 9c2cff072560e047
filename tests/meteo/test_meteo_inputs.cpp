// The section of the precipitation correction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "soilwater/module_fixture.h"

namespace {

struct correction_case {
  const char* label;
  std::string section;
  int status;
  int warnings;  // the old note that a switched-on correction is not applied
  const char* entry;
  bool precipitation_grid = false;  // a stored "precipitation" grid, no interpolator
  char grid_mode = 0;
};

TEST(MeteoInputs, PrecipitationCorrectionSection) {
  const std::string values =
      "0.5 Grenztemperatur fuer\n1.0 Konstante Regen fuer\n0.1 Anstieg Regen fuer\n"
      "1.2 Konstante Schnee fuer\n0.3 Anstieg Schnee fuer\n";
  const correction_case cases[] = {
      {"missing section", "[snow_model]\n", 17,
       0, "error in control file, [precipitation_correction]; (EOF)not found!"},
      {"switched off", "[precipitation_correction]\n0 do_it fuer\n" + values, 0, 0, ""},
      // Switched on, it needs the precipitation grid.
      {"switched on without precipitation", "[precipitation_correction]\n1 do_it fuer\n" + values,
       33, 0, "precipitation not found in memory,\nThese data are needed within "
              "precipitation_correction"},
      {"switched on, stored grid only", "[precipitation_correction]\n1 do_it fuer\n" + values, 0,
       0, "", true, 1},
      {"value missing", "[precipitation_correction]\n1 do_it fuer\n0.5 Grenztemperatur fuer\n",
       17, 0, "error in control file, Konstante Regen fuer ; precipitation_correctionnot found!"},
  };
  for (const correction_case& c : cases) {
    SCOPED_TRACE(c.label);
    module_fixture f;
    f.write_control(c.section);
    std::vector<meteointerpol*> inputs(1, nullptr);
    std::vector<std::string> names(1);
    grid_matrix precipitation = f.grids.matrix(1, 1, 1, 1, 1);
    if (c.precipitation_grid) {
      f.publish(3, "precipitation", &precipitation);
    }
    int status = -1;
    precicorrclass correction(status, f.diag(), &inputs, &names, 0, &f.store, f.settings);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(correction.get_grid_mode(), c.grid_mode);
    EXPECT_EQ(count_of(f.console(), "precipitation stays uncorrected"), c.warnings);
    if (c.entry[0] != '\0') {
      EXPECT_NE(f.console().find(c.entry), std::string::npos) << f.console();
    }
  }
}

}  // namespace
