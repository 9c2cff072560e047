// Variable grids of "[variable_grids]" and the periodic re-reading of
// standard grids from dated files, on one process.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "settings/derived_setup_fixture.h"

namespace {

const std::string ZONES = text_grid_of("-9999 1 1\n1 2 2\n2 2 2\n", 3, 3);
const std::string DEM = text_grid_of("1 2 3\n4 5 6\n7 8 9\n", 3, 3);
const double ND = NODATA;

std::vector<double> cells_of(const grid_matrix& g) {
  std::vector<double> v;
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) v.push_back(g[r][c]);
  return v;
}

TEST(VariableGrids, ReadOrFilledAndWrittenAtRegistration) {
  // Grid 1 from a file with a hole (fill code 1 takes a valid neighbour);
  // grid 2 from a file that is never opened (Readgrid 0): 0.8 on zone cells.
  // Both have write code 8, so the file written at registration holds the
  // values of the grid.
  control_parts parts;
  parts.variable =
      "2\n$dir//lai.asc lai 1 0 (rest of the line)\n8\n1\n"
      "$dir//absent.asc crop_factor 0 0.8\n8\n0\n";
  settings_setup run(parts, {{"zones.asc", ZONES},
                             {"dem.asc", DEM},
                             {"lai.asc", text_grid_of("9 1 1\n1 -9999 2\n2 2 2\n", 3, 3)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(run.settings->variable_grids(), 2);
  const int first = run.settings->first_variable_grid();
  // Entries: 1 zone, 2 elevation model, 3-5 division, so 6 is the first free.
  EXPECT_EQ(first, 6);
  EXPECT_EQ(run.settings->readgrid_code_list(), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(*run.store[first].grid_name, "lai");
  EXPECT_EQ(*run.store[first + 1].grid_name, "crop_factor");
  const grid_matrix& crop = *run.store[first + 1].grid;
  EXPECT_EQ(cells_of(crop), (std::vector<double>{ND, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8}));
  const grid_matrix& lai = *run.store[first].grid;
  EXPECT_NE(lai[2][2], ND);  // the hole is filled
  EXPECT_EQ(text_grid_values(run.path("absent.asc.filled")),
            (std::vector<double>{ND, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8}));
  const std::vector<double> written = text_grid_values(run.path("lai.asc.filled"));
  ASSERT_EQ(written.size(), 9U);
  EXPECT_EQ(written[4], lai[2][2]);
  EXPECT_EQ(written[1], 1.0);
}

TEST(VariableGrids, CountZeroMissingSectionAndBrokenLines) {
  {
    settings_setup with(control_parts{}, {{"zones.asc", ZONES}, {"dem.asc", DEM}});
    ASSERT_EQ(with.code, 0) << with.cap.console();
    EXPECT_EQ(with.settings->variable_grids(), 0);
    EXPECT_EQ(with.settings->first_variable_grid(), 0);
  }
  struct row {
    const char* name;
    std::string variable;
    std::string entry;
  };
  const row rows[] = {
      {"missing section", "", "error in control file, [variable_grids]; (EOF)not found!"},
      {"no default value", "1\n$dir//a.asc a 0 none\n8\n0\n",
       "\nfile for vargrid 1 or the identifier or the fillcode or the defaultvalue (which is new "
       "in version 7.7) in "},
      {"no Readgrid", "1\n$dir//a.asc a 0 1\n8\nx\n", "Readgrid for a variable grid "},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_parts parts;
    parts.variable = r.variable;
    settings_setup run(parts, {{"zones.asc", ZONES}, {"dem.asc", DEM}});
    EXPECT_EQ(run.code, 17);
    EXPECT_TRUE(run.logged(r.entry)) << run.cap.console();
  }
}

// A standard grid "lu" re-read from dated files "lu_YYYYMMDDHH".
struct periodic_case {
  explicit periodic_case(const std::string& keys, const std::map<std::string, std::string>& dated)
      : run(parts_for(keys), files_for(dated)) {}
  static control_parts parts_for(const std::string& keys) {
    control_parts parts;
    parts.standard = "1\n$dir//lu lu fillcode = 0 " + keys + "\n";
    return parts;
  }
  static std::map<std::string, std::string> files_for(
      const std::map<std::string, std::string>& dated) {
    std::map<std::string, std::string> files = {
        {"zones.asc", ZONES}, {"dem.asc", DEM}, {"lu", uniform(1)}};
    files.insert(dated.begin(), dated.end());
    return files;
  }
  static std::string uniform(int v) {
    const std::string x = std::to_string(v);
    return text_grid_of(
        x + " " + x + " " + x + "\n" + x + " " + x + " " + x + "\n" + x + " " + x + " " + x + "\n",
        3, 3);
  }
  // The value of the centre cell after the update of the date.
  double step(int64_t hour, int64_t day, int64_t month, int64_t year) {
    run.settings->update_periodic_grids(hour, day, month, year, 60);
    return run.grid("lu")[2][2];
  }
  settings_setup run;
};

TEST(VariableGrids, MonthlyGridIsReadAtTheFirstStepOfEachMonth) {
  // "1 M 1": the day is watched; a smaller day begins a month, whose first
  // step is due. The run's first step always begins a period.
  periodic_case p("periodicity = 1 M 1", {{"lu_2001010100", periodic_case::uniform(5)},
                                          {"lu_2001020100", periodic_case::uniform(6)}});
  ASSERT_EQ(p.run.code, 0) << p.run.cap.console();
  EXPECT_EQ(p.step(0, 1, 1, 2001), 5);
  EXPECT_EQ(p.step(1, 1, 1, 2001), 5);
  EXPECT_EQ(p.step(0, 2, 1, 2001), 5);
  EXPECT_EQ(p.step(0, 31, 1, 2001), 5);
  EXPECT_EQ(p.step(0, 1, 2, 2001), 6);
  EXPECT_EQ(p.run.store[p.run.settings->find_grid("lu")].standard.dated_name,
            p.run.path("lu_2001020100"));
}

TEST(VariableGrids, NonPersistentGridIsRestoredAfterItsDuration) {
  // "1 D 1" with hourly steps: the hour is watched, the first step re-reads;
  // with duration 2 the set-up values are back at the second step after it.
  periodic_case p("periodicity = 1 D 1 persistent = 0 2",
                  {{"lu_2001010100", periodic_case::uniform(5)}});
  ASSERT_EQ(p.run.code, 0) << p.run.cap.console();
  EXPECT_EQ(p.step(0, 1, 1, 2001), 5);
  EXPECT_EQ(p.step(1, 1, 1, 2001), 5);
  EXPECT_EQ(p.step(2, 1, 1, 2001), 1);
  EXPECT_EQ(p.step(3, 1, 1, 2001), 1);
}

TEST(VariableGrids, MissingOrMismatchedDatedFiles) {
  {
    periodic_case p("periodicity = 1 M 1", {});
    ASSERT_EQ(p.run.code, 0) << p.run.cap.console();
    int code = 0;
    try {
      p.step(0, 1, 1, 2001);
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, 21);
    EXPECT_TRUE(p.run.logged("still error opening " + p.run.path("lu_2001010100") + ": " +
                             std::strerror(ENOENT) + " - no retry."))
        << p.run.cap.console();
  }
  {
    periodic_case p("periodicity = 1 M 1",
                    {{"lu_2001010100", text_grid_of("5 5\n5 5\n5 5\n", 2, 3)}});
    ASSERT_EQ(p.run.code, 0) << p.run.cap.console();
    int code = 0;
    try {
      p.step(0, 1, 1, 2001);
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, 24);
  }
}

}  // namespace
