// The application as a user meets it: set-up order, a missing module
// section, the dump options and two control files in one call, with one
// process and with three, on the example basin.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "support/cli_support.h"
#include "support/diag_xml.h"

namespace {

std::vector<std::string> xml_lines(const cli_workdir& dir, const std::string& name) {
  std::string why;
  auto lines = diag_xml_lines(dir.read(name), &why);
  EXPECT_FALSE(lines.empty()) << name << ": " << why;
  return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The control file of the example basin with one section removed.
std::string without_section(const std::string& control, const std::string& section) {
  const size_t start = control.find(section + "\n");
  EXPECT_NE(start, std::string::npos) << section;
  const size_t end = control.find("\n[", start + 1);
  return control.substr(0, start) + control.substr(end + 1);
}

TEST(Application, ModulesAreBuiltInTheirOrderOnEveryProcessCount) {
  // Irrigation, groundwater and routing get the unsaturated zone's zone
  // table, which an inactive unsaturated zone does not make: they read no
  // section and report nothing.
  const std::vector<std::string> expected = {
      "RegionalSuperposition", "radiation_correction", "evapotranspiration",
      "snow_model",            "interception_model",   "SiltingUpModel",
      "unsatzon_model",        "SurfaceRoutingModel",  "special_output"};
  for (int np : {1, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    const run_result r = dir.run_velmo(np, {"basin.ctl"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    std::vector<std::string> modules;
    const std::string prefix = "\t<line level=\"4\" description= \"initializing module ";
    for (const auto& line : lines)
      if (line.starts_with(prefix))
        modules.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 3));
    EXPECT_EQ(modules, expected);
    const auto end_of_init =
        std::find(lines.begin(), lines.end(), diag_line(4, "end of initialization reached..."));
    const auto end_of_run = std::find(lines.begin(), lines.end(),
                                      diag_line(4, "reached end of simulation sucessfully"));
    EXPECT_LT(end_of_init, end_of_run);
    EXPECT_TRUE(has_line(lines, diag_line(4, "deleting modules...")));
    EXPECT_TRUE(has_line(lines, diag_line(4, "exitcode 0")));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return std::regex_search(l, std::regex("description= \"file modapuzr, compiled at "));
    }));
  }
}

TEST(Application, MissingModuleSectionIsControlFileError17) {
  for (int np : {0, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    dir.write("basin.ctl", without_section(dir.read("basin.ctl"), "[snow_model]"));
    const run_result r = dir.run_velmo(np, {"basin.ctl"});
    EXPECT_EQ(r.status, 17) << r.output;
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    EXPECT_TRUE(has_line(lines, diag_line(0, "error in control file, [snow_model]; (EOF)not found!")));
    EXPECT_TRUE(has_line(lines, diag_line(0, "exceptions in ModellApplication::init() caught!")));
    EXPECT_TRUE(has_line(lines, diag_line(0, "Program aborted with exit code 17")));
  }
}

TEST(Application, DumpOptions) {
  struct row {
    std::string option;
    int status;
    std::string entry;  // expected line element, empty when none is looked for
  };
  const std::vector<row> rows = {
      {"-dumpmode:12", 0,
       diag_line(3, "max dumpfiles given in argument -dumpmode:12 read as 12 (read as a decimal "
                    "long integer)")},
      {"-dumpmode:5x", 0,
       diag_line(3, "max dumpfiles given in argument -dumpmode:5x read as 5 (read as a decimal "
                    "long integer)")},
      {"-dumpmode:", 0,
       diag_line(3, "max dumpfiles given in argument -dumpmode: read as 0 (read as a decimal "
                    "long integer)")},
      {"-dumpmode", 0, ""},
      {"-dumpmode:abc", 1061,
       diag_line(0, "Error (C-lib errno: 0) in argument list: invalid number of max dumpfiles "
                    "given in argument -dumpmode:abc, stopped at abc LONG_MAX is defined "
                    "as9223372036854775807")},
      {"-dumpmode:99999999999999999999", 1061,
       diag_line(0, "Error (C-lib errno: 34) in argument list: invalid number of max dumpfiles "
                    "given in argument -dumpmode:99999999999999999999, stopped at  LONG_MAX is "
                    "defined as9223372036854775807")},
  };
  for (const row& rw : rows) {
    SCOPED_TRACE(rw.option);
    cli_workdir dir;
    copy_example_basin(dir);
    const run_result r = dir.run_velmo(0, {"basin.ctl", rw.option});
    EXPECT_EQ(r.status, rw.status % 256) << r.output;
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    if (!rw.entry.empty()) { EXPECT_TRUE(has_line(lines, rw.entry)) << r.output; }
    const bool info = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.starts_with("\t<line level=\"3\" description= \"max dumpfiles given");
    });
    EXPECT_EQ(info, rw.status == 0 && !rw.entry.empty()) << r.output;
  }
}

TEST(Application, TwoControlFilesRunOneAfterTheOther) {
  for (int np : {1, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    dir.write("second.ctl", dir.read("basin.ctl"));
    const run_result r = dir.run_velmo(np, {"basin.ctl", "second.ctl"});
    EXPECT_EQ(r.status, 0) << r.output;
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         diag_line(4, "end of initialization reached...")),
              2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), diag_line(4, "deleting modules...")), 2);
    EXPECT_TRUE(dir.exists("basin.ctl.$$$"));
    EXPECT_TRUE(dir.exists("second.ctl.$$$"));
  }
}

TEST(Application, GridOfUnitsDigit8ReadByProcessZeroAloneIsWrittenOnce) {
  // "river_links" is read by process 0 before the grid is divided; the other
  // processes register their rows later and must not start a second write.
  std::string written_alone;
  for (int np : {1, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    dir.write("links.asc", dir.read("zones.asc"));
    std::string control = dir.read("basin.ctl");
    const size_t head = control.find("[standard_grids]\n");
    ASSERT_NE(head, std::string::npos);
    const size_t count_start = head + std::string("[standard_grids]\n").size();
    const size_t count_end = control.find('\n', count_start);
    const int count = std::stoi(control.substr(count_start, count_end - count_start));
    control = control.substr(0, count_start) + std::to_string(count + 1) + "\n" +
              "links.asc river_links fillcode = 0 writecode = 8" + control.substr(count_end);
    dir.write("basin.ctl", control);
    const run_result r = dir.run_velmo(np, {"basin.ctl"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string written = dir.read("output/links.asc.filled");
    EXPECT_FALSE(written.empty());
    if (np == 1) written_alone = written;
    else EXPECT_EQ(written, written_alone);
  }
}

}  // namespace
