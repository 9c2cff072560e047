// The meteorological input while its interpolation is not built, and the
// section of the precipitation correction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "soilwater/module_fixture.h"

namespace {

TEST(MeteoInputs, NamedInputStopsTheSetUpWithAClearEntry) {
  module_fixture f;
  f.write_control("[temperature]\n1 method\n");
  int status = -1;
  meteointerpol input(status, f.diag(), nullptr, 0, "temperature", f.control(), &f.store,
                      f.settings, 3);
  EXPECT_EQ(status, METEO_INPUT_NOT_BUILT);
  const std::string out = f.console();
  EXPECT_EQ(count_of(out, "file meteoint, compiled at "), 1);
  EXPECT_NE(out.find("initializing interpolator for temperature"), std::string::npos);
  EXPECT_NE(out.find("the meteorological input \"temperature\" cannot be interpolated"),
            std::string::npos)
      << out;
  EXPECT_EQ(input.object_name(), "temperature");
  // Should anything ask, there is no record to go to.
  EXPECT_NE(input.is_end_of_data(), 0);
}

struct correction_case {
  const char* label;
  std::string section;
  int status;
  int warnings;  // the note that a switched-on correction is not applied
  const char* entry;
};

TEST(MeteoInputs, PrecipitationCorrectionSection) {
  const std::string values =
      "0.5 Grenztemperatur fuer\n1.0 Konstante Regen fuer\n0.1 Anstieg Regen fuer\n"
      "1.2 Konstante Schnee fuer\n0.3 Anstieg Schnee fuer\n";
  const correction_case cases[] = {
      {"missing section", "[snow_model]\n", 17,
       0, "error in control file, [precipitation_correction]; (EOF)not found!"},
      {"switched off", "[precipitation_correction]\n0 do_it fuer\n" + values, 0, 0, ""},
      {"switched on", "[precipitation_correction]\n1 do_it fuer\n" + values, 0, 1, ""},
      {"value missing", "[precipitation_correction]\n1 do_it fuer\n0.5 Grenztemperatur fuer\n",
       17, 0, "error in control file, Konstante Regen fuer ; precipitation_correctionnot found!"},
  };
  for (const correction_case& c : cases) {
    SCOPED_TRACE(c.label);
    module_fixture f;
    f.write_control(c.section);
    std::vector<meteointerpol*> inputs(1, nullptr);
    std::vector<std::string> names(1);
    int status = -1;
    precicorrclass correction(status, f.diag(), &inputs, &names, 0, f.control(), &f.store,
                              f.settings);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(correction.get_grid_mode(), 0);
    EXPECT_EQ(count_of(f.console(), "precipitation stays uncorrected"), c.warnings);
    if (c.entry[0] != '\0') {
      EXPECT_NE(f.console().find(c.entry), std::string::npos) << f.console();
    }
  }
}

}  // namespace
