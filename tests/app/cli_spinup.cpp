// SpinUp as a user meets it, on the example basin (no meteorological input,
// so every period is one step and adds one row to the statistics file of
// "soil_depth"): the repetitions, the pre-SpinUp that needs a temperature
// input, and the grids of the hydrologic response units on one and on three
// processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_support.h"
#include "support/diag_xml.h"

namespace {

using grid_rows = std::vector<std::vector<double>>;

// The example basin's control file with its "[SpinUp]" section replaced.
void set_spinup(const cli_workdir& dir, const std::string& body) {
  std::string control = dir.read("basin.ctl");
  const std::string old_section = "[SpinUp]\n0\n";
  const size_t at = control.find(old_section);
  ASSERT_NE(at, std::string::npos);
  control.replace(at, old_section.size(), "[SpinUp]\n" + body);
  dir.write("basin.ctl", control);
}

std::vector<std::string> xml_lines(const cli_workdir& dir) {
  std::string why;
  auto lines = diag_xml_lines(dir.read("Velmo_Diag_0.xml"), &why);
  EXPECT_FALSE(lines.empty()) << why;
  return lines;
}

int count_line(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Rows of the statistics file that hold a step (dated -9999 without input).
int step_rows(const cli_workdir& dir) {
  std::istringstream in(dir.read("output/soil_depth.sta"));
  int n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("-9999\t")) ++n;
  return n;
}

// The values of a text grid file, rows from the north.
grid_rows read_text_grid(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  double value = 0;
  int ncols = 0, nrows = 0;
  for (int k = 0; k < 6; ++k) {
    in >> word >> value;
    if (word == "ncols") ncols = static_cast<int>(value);
    if (word == "nrows") nrows = static_cast<int>(value);
  }
  grid_rows rows(static_cast<size_t>(nrows), std::vector<double>(static_cast<size_t>(ncols)));
  for (auto& row : rows)
    for (double& v : row) in >> v;
  return rows;
}

std::string repetition_entry(int run, int repetitions) {
  return diag_line(3, "SpinUp reached end of defined time range for run #" + std::to_string(run) +
                          ", resetting inputs and starting again now "
                          "(repetition " +
                          std::to_string(run + 1) + " of " + std::to_string(repetitions) + ")");
}

TEST(SpinUp, RepetitionsOfThePeriod) {
  struct row {
    std::string name;
    std::string section;  // switch, flag and repetitions
    int np;
    int periods;  // steps simulated (one per period)
    int repetitions_entries;
    int repetitions;
  };
  const std::vector<row> rows = {
      {"switch 1, 3 repetitions", "1\n0 3\n", 0, 3, 2, 3},
      {"switch 1, 3 repetitions on 3 processes", "1\n0 3\n", 3, 3, 2, 3},
      {"switch 1, 1 repetition", "1\n0 1\n", 0, 1, 0, 1},
      {"switch 1, no repetition: no step", "1\n0 0\n", 0, 0, 0, 0},
      {"switch 1, -2 repetitions: no step", "1\n0 -2\n", 0, 0, 0, -2},
      {"switch 2, 3 repetitions: once", "2\n0 3\n", 0, 1, 0, 3},
      {"switch 0", "0\n", 0, 1, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    cli_workdir dir;
    copy_example_basin(dir);
    set_spinup(dir, r.section + "1\nelevation_model 100 linear\n");
    const run_result result = dir.run_velmo(r.np, {"basin.ctl"});
    ASSERT_EQ(result.status, 0) << result.output;
    const auto lines = xml_lines(dir);
    EXPECT_EQ(step_rows(dir), r.periods);
    for (int run = 1; run <= r.repetitions_entries; ++run)
      EXPECT_EQ(count_line(lines, repetition_entry(run, r.repetitions)), 1) << run;
    const int all_entries =
        static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
          return l.find("SpinUp reached end of defined time range") != std::string::npos;
        }));
    EXPECT_EQ(all_entries, r.repetitions_entries);
    EXPECT_EQ(count_line(lines, diag_line(4, "reached end of simulation sucessfully")), 1);
  }
}

TEST(SpinUp, PreSpinUpNeedsATemperatureInput) {
  // The example basin has no meteorological input at all.
  cli_workdir dir;
  copy_example_basin(dir);
  set_spinup(dir, "1\n1 3\n1\nelevation_model 100 linear\n");
  const run_result result = dir.run_velmo(0, {"basin.ctl"});
  EXPECT_EQ(result.status, 1035 % 256) << result.output;
  const auto lines = xml_lines(dir);
  EXPECT_EQ(count_line(lines, diag_line(0,
                                        "temperature interpolation not found. This is "
                                        "required for pre-SpinUp! (no regions should be "
                                        "used for pre-SpinUp)")),
            1);
  EXPECT_EQ(count_line(lines, diag_line(0, "Exception in Modellapplication::run() caught!")), 1);
  EXPECT_EQ(step_rows(dir), 0);
}

TEST(SpinUp, BrokenUnitDefinitionsStopTheRun) {
  struct row {
    std::string name;
    std::string section;
    int code;
    std::string entry;
  };
  const std::vector<row> rows = {
      {"no grid of units", "1\n0 3\n0\n", 1030,
       "standard grid with identifier HydrologicResponseUnits not found (Hydrologic Respond "
       "Units, HRU; used for SpinUp mode)"},
      {"class grid that does not exist", "1\n0 3\n1\nland_cover 1 linear\n", 33,
       "Wether land_cover, [land_cover] or land_cover"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    cli_workdir dir;
    copy_example_basin(dir);
    set_spinup(dir, r.section);
    const run_result result = dir.run_velmo(0, {"basin.ctl"});
    EXPECT_EQ(result.status, r.code % 256) << result.output;
    EXPECT_NE(result.output.find(r.entry), std::string::npos) << result.output;
    EXPECT_EQ(count_line(xml_lines(dir), diag_line(0,
                                                   "exceptions in ModellApplication::init() "
                                                   "caught!")),
              1);
  }
}

// On every process count, the units of a process are the classes of its own
// cells: two of its cells share an id exactly when they share the class
// floor(elevation / 100). Each process numbers its units 1, 2, ... in the
// scan order of its cells, and the gathered grids hold every process's ids.
TEST(SpinUp, UnitGridsOnOneAndThreeProcesses) {
  for (int np : {1, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    set_spinup(dir, "1\n0 1\n1\nelevation_model 100 linear\n");
    const run_result result = dir.run_velmo(np, {"basin.ctl"});
    ASSERT_EQ(result.status, 0) << result.output;
    const grid_rows dem = read_text_grid(dir.read("dem.asc"));
    const grid_rows zones = read_text_grid(dir.read("zones.asc"));
    const grid_rows owner = read_text_grid(dir.read("output/MPIRegions_0"));
    const grid_rows units = read_text_grid(dir.read("output/All_HydrologicResponseUnits"));
    const grid_rows masters = read_text_grid(dir.read("output/Master_HydrologicResponseUnits"));
    ASSERT_EQ(units.size(), zones.size());

    for (int p = 0; p < np; ++p) {
      SCOPED_TRACE(p);
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "_%03d", p);
      const grid_rows own_masters =
          read_text_grid(dir.read(std::string("output/Master_HydrologicResponseUnits") + suffix));
      std::map<double, double> id_of_class;
      std::map<double, double> class_of_id;
      std::vector<double> first_seen;  // ids in the scan order of their first cells
      for (size_t r = 0; r < zones.size(); ++r) {
        for (size_t c = 0; c < zones[r].size(); ++c) {
          if (zones[r][c] == -9999 || owner[r][c] != p) continue;
          const double id = units[r][c];
          const double cls = std::floor(dem[r][c] / 100);
          ASSERT_NE(id, -9999) << r << " " << c;
          if (id_of_class.count(cls) == 0) {
            id_of_class[cls] = id;
            first_seen.push_back(id);
            // The master grids mark exactly the first cell of each unit.
            EXPECT_EQ(masters[r][c], id);
            EXPECT_EQ(own_masters[r][c], id);
          } else {
            EXPECT_EQ(masters[r][c], -9999);
          }
          EXPECT_EQ(id_of_class[cls], id);
          if (class_of_id.count(id) == 0) class_of_id[id] = cls;
          EXPECT_EQ(class_of_id[id], cls);
        }
      }
      for (size_t k = 0; k < first_seen.size(); ++k)
        EXPECT_EQ(first_seen[k], static_cast<double>(k + 1));
    }
  }
}

}  // namespace
