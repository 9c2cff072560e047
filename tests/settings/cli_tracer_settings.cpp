// The tracer settings in a whole run of the example basin: tracers are read
// on every process before the modules, and a broken "[substance_transport]"
// ends the set-up with its code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cli_support.h"

namespace {

std::string tracer_line(const std::string& name) {
  return name +
         " non_radioactive evaporating min_conc = 0 max_conc = 10 mg/l soilini = 1 "
         "gwini = 2 statcode = 0 gridcode = 0 path = output/ statext = sta gridext = asc";
}

void set_tracers(const cli_workdir& dir, const std::string& body) {
  std::string control = dir.read("basin.ctl");
  const std::string old_section = "[substance_transport]\n0\n";
  const size_t at = control.find(old_section);
  ASSERT_NE(at, std::string::npos);
  control.replace(at, old_section.size(), "[substance_transport]\n" + body);
  dir.write("basin.ctl", control);
}

TEST(TracerSettingsRun, SectionDecidesTheRun) {
  struct row {
    std::string name;
    std::string body;
    int np;
    int code;
    std::string output;  // a text the console shows
  };
  std::string ten = "10\n";
  for (int k = 0; k < 10; ++k) ten += tracer_line("s" + std::to_string(k)) + "\n";
  const std::vector<row> rows = {
      {"two tracers on three processes",
       "2\n" + tracer_line("Chloride") + "\n" + tracer_line("Bromide") + "\n", 3, 0,
       "reading parameters for tracer 2 ..."},
      {"ten tracers", ten, 0, 58,
       "not more than 9 tracer species are allowed at one time (they need a very lot of "
       "memory!)"},
      {"unknown kind of tracer", "1\nChloride decaying evaporating\n", 0, 56,
       "error reading parameters for tracer 1:\n need a key word \"radioactive\" or "
       "\"non_radioactive\"\n(may be, the number of tracers (1) is wrong?\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    cli_workdir dir;
    copy_example_basin(dir);
    set_tracers(dir, r.body);
    const run_result result = dir.run_velmo(r.np, {"basin.ctl"});
    EXPECT_EQ(result.status, r.code) << result.output;
    EXPECT_NE(result.output.find(r.output), std::string::npos) << result.output;
  }
}

}  // namespace
