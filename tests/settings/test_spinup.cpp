// "[SpinUp]" on one process: the switch, the pre-SpinUp flag and the
// repetitions, hydrologic response units made from class grids or taken from
// a given grid, their grid files, and the entry and code of each broken
// section. The expected ids are worked out by hand in the comments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

namespace {

constexpr double ND = -9999;

// Zones: (1,1) lies outside, the other 8 cells inside; row 1 is north.
const char* const ZONE_ROWS = "-9999 1 1\n1 2 2\n2 2 2\n";

std::string text_grid(const std::string& rows) {
  return "ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n" + rows;
}

std::string control_file(const std::string& standard_grids, const std::string& spinup) {
  return "[output_interval]\n1\n0\n0\n0\nWriteAsciiGrids = 1\nDefaultOutputDirectory = "
         "$dir//out/\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n"
         "[meteo_names]\n[zone_grid]\n$dir//zones.asc\n[elevation_model]\n$dir//dem.asc\n"
         "[standard_grids]\n" +
         standard_grids +
         "[model_time]\n0\n1\n1\n2001\n23\n31\n12\n2001\n[landuse_table]\n0\n[soil_table]\n0\n"
         "[radiation_correction]\n0\n[region_transition_distance]\n1000\n[ExternalCoupling]\n0\n"
         "[irrigation]\n0\n60\n[variable_grids]\n0\n" +
         spinup;
}

// The staged set-up and init_spinup in a scratch directory ($dir in the
// control file stands for it).
struct spinup_case {
  spinup_case(const std::string& control, const std::map<std::string, std::string>& files) {
    cap.dir.write("MpiSpeedFactor.dat", "1\n");
    cap.dir.write("zones.asc", text_grid(ZONE_ROWS));
    std::filesystem::create_directories(cap.dir.file("out"));
    for (const auto& [name, text] : files) cap.dir.write(name, text);
    cap.dir.write("run.ctl", "$set $dir = " + cap.dir.path() + "/\n" + control);
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) old_dir = cwd;
    EXPECT_EQ(chdir(cap.dir.path().c_str()), 0);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            &registry, 200, 2, &store);
    try {
      bool done = false;
      for (int calls = 0; !done && calls < 100; ++calls) settings->init_step(done);
      setup_code = 0;
      settings->init_spinup(spinup, pre_spinup, repeat_count, hrus);
    } catch (int c) {
      code = c;
    }
  }
  ~spinup_case() {
    settings->release();
    if (!old_dir.empty()) { EXPECT_EQ(chdir(old_dir.c_str()), 0); }
  }
  // The cells of a grid of the store, row by row; empty when absent.
  std::vector<double> cells(const std::string& grid_name) {
    const int index = settings->find_grid(grid_name, 1);
    std::vector<double> values;
    if (index <= 0) return values;
    const grid_matrix& g = *store[index].grid;
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c) values.push_back(g[r][c]);
    return values;
  }
  bool logged(const std::string& piece) const {
    return cap.console().find(piece) != std::string::npos;
  }
  captured_diag cap;
  std::string old_dir;
  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  int setup_code = -1;
  int code = 0;
  int spinup = -1, pre_spinup = -1, repeat_count = -1;
  std::vector<hru_entry> hrus;
};

// Elevation and a class grid for the two-grid case (-9999 at (1,1) lies
// outside the zones anyway; the class grid has a hole at (3,3)).
const std::string DEM = "-9999 1234 1250\n1299 1300 50\n1234 1234 1234\n";
const std::string CLASSES = "0 3 3\n3 3 2\n3 4 -9999\n";

TEST(SpinUpSection, SettingsWithoutUnits) {
  struct row {
    std::string name;
    std::string section;
    int spinup, pre_spinup, repeat_count;
  };
  const std::vector<row> rows = {
      {"no section", "", 0, 0, 0},
      {"switch 0", "[SpinUp]\n0 off\n1 5\n", 0, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    spinup_case run(control_file("0\n", r.section), {{"dem.asc", text_grid(DEM)}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_EQ(std::vector<int>({run.spinup, run.pre_spinup, run.repeat_count}),
              std::vector<int>({r.spinup, r.pre_spinup, r.repeat_count}));
    EXPECT_EQ(run.hrus.size(), 1U);
    EXPECT_EQ(run.hrus[0].id, 0);
    EXPECT_TRUE(run.cells("HydrologicResponseUnits").empty());
    EXPECT_TRUE(run.cells("MasterHydrologicResponseUnits").empty());
    EXPECT_TRUE(run.logged("Creating HRUs"));
    EXPECT_EQ(run.settings->settings().spinup_switch, 0);
  }
}

TEST(SpinUpSection, UnitsFromClassGrids) {
  struct row {
    std::string name;
    std::string section;
    std::string class_grid;  // values of the standard grid "classes"
    std::vector<double> hru;
    std::vector<double> master;
    std::vector<std::string> keys;  // by id, from 1
    std::vector<std::pair<int, int>> first_cells;
  };
  const std::vector<row> rows = {
      // Elevation / 100 and class / 1: (1,2) 12,3 -> 0012'0003' unit 1, also
      // (1,3), (2,1), (3,1); (2,2) 13,3 unit 2; (2,3) 0,2 unit 3; (3,2) 12,4
      // unit 4; (3,3) has no class: its key ends after elevation, unit 5.
      {"elevation and classes, one line each",
       "[SpinUp]\n1\n1 3\n2\nelevation_model 100 linear\nclasses 1 linear\n",
       CLASSES,
       {ND, 1, 1, 1, 2, 3, 1, 4, 5},
       {ND, 1, ND, ND, 2, 3, ND, 4, 5},
       {"0012'0003'", "0013'0003'", "0000'0002'", "0012'0004'", "0012'"},
       {{1, 2}, {2, 2}, {2, 3}, {3, 2}, {3, 3}}},
      // Square root of |v| / 1: -16 and 16 both give 4 (unit 1); 0 and
      // -0.5 give 0 (unit 2); 3.9 gives 1 (unit 3); 9, -9 and 15.9 give 3
      // (unit 4).
      {"square root",
       "[SpinUp]\n1\n0\n1\n1\nclasses 1 sqrt_spacing\n",
       "0 -16 16\n0 -0.5 3.9\n9 -9 15.9\n",
       {ND, 1, 1, 2, 2, 3, 4, 4, 4},
       {ND, 1, ND, 2, ND, 3, 4, ND, ND},
       {"0004'", "0000'", "0001'", "0003'"},
       {{1, 2}, {2, 1}, {2, 3}, {3, 1}}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    spinup_case run(control_file("1\n$dir//classes.asc classes 0\n", r.section),
                    {{"dem.asc", text_grid(DEM)}, {"classes.asc", text_grid(r.class_grid)}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_EQ(run.spinup, 1);
    // The settings hand the switch and this very list on to every module.
    EXPECT_EQ(run.settings->settings().spinup_switch, 1);
    EXPECT_EQ(run.settings->settings().hru_list, &run.hrus);
    EXPECT_EQ(run.cells("HydrologicResponseUnits"), r.hru);
    EXPECT_EQ(run.cells("MasterHydrologicResponseUnits"), r.master);
    ASSERT_EQ(run.hrus.size(), r.keys.size() + 1);
    const std::vector<std::string>& keys = run.settings->hru_class_keys();
    for (size_t k = 1; k < run.hrus.size(); ++k) {
      EXPECT_EQ(run.hrus[k].id, static_cast<int64_t>(k));
      EXPECT_EQ(keys[k], r.keys[k - 1]);
      EXPECT_EQ(std::make_pair(run.hrus[k].row, run.hrus[k].col), r.first_cells[k - 1]);
    }
    for (const char* file :
         {"All_HydrologicResponseUnits", "All_HydrologicResponseUnits_000",
          "Master_HydrologicResponseUnits", "Master_HydrologicResponseUnits_000"})
      EXPECT_TRUE(std::filesystem::exists(run.cap.dir.file(std::string("out/") + file))) << file;
  }
}

TEST(SpinUpSection, UnitsOfAGivenGrid) {
  // The given units 7 and 3 become 1 (first in the scan, at (1,2)) and 2
  // (at (2,1)); the hole at (3,3) is no unit.
  const std::string given = "-9999 7 7\n3 7 3\n3 3 -9999\n";
  spinup_case run(
      control_file("1\n$dir//hru.asc HydrologicResponseUnits 0\n", "[SpinUp]\n2\n0 0\n0\n"),
      {{"dem.asc", text_grid(DEM)}, {"hru.asc", text_grid(given)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(std::vector<int>({run.spinup, run.pre_spinup, run.repeat_count}),
            std::vector<int>({2, 0, 0}));
  EXPECT_EQ(run.cells("HydrologicResponseUnits"),
            std::vector<double>({ND, 1, 1, 2, 1, 2, 2, 2, ND}));
  EXPECT_EQ(run.cells("MasterHydrologicResponseUnits"),
            std::vector<double>({ND, 1, ND, 2, ND, ND, ND, ND, ND}));
  ASSERT_EQ(run.hrus.size(), 3U);
  EXPECT_EQ(run.settings->hru_class_keys(), std::vector<std::string>({"", "7", "3"}));
  EXPECT_EQ(std::make_pair(run.hrus[2].row, run.hrus[2].col), std::make_pair(2, 1));
  // The ids go to files of their own; the given grid file keeps its values.
  EXPECT_EQ(read_file(run.cap.dir.file("hru.asc")), text_grid(given));
  EXPECT_TRUE(std::filesystem::exists(run.cap.dir.file("out/All_HydrologicResponseUnits")));
  EXPECT_TRUE(std::filesystem::exists(run.cap.dir.file("out/MasterHydrologicResponseUnits_000")));
}

TEST(SpinUpSection, BrokenSectionsStopWithTheirEntry) {
  struct row {
    std::string name;
    std::string section;
    std::string dem;
    int code;
    std::string message;
  };
  const std::vector<row> rows = {
      {"switch not a number", "[SpinUp]\non\n", DEM, 17,
       "error in control file, SpinUp-switch not found; not found!"},
      {"word between flag and repetitions", "[SpinUp]\n1\n1 prespinup\n3\n0\n", DEM, 17,
       "error in control file, repeatCnt not found; not found!"},
      {"flag missing", "[SpinUp]\n1\n", DEM, 17,
       "error in control file, doTemperaturePreSpinUp not found; not found!"},
      {"grid count missing", "[SpinUp]\n1\n0 1\n", DEM, 17,
       "error in control file, numGrids not found; not found!"},
      {"grid line without width", "[SpinUp]\n1\n0 1\n1\nelevation_model linear\n", DEM, 17,
       "error in control file,  error reading HRU defintions ; not found!"},
      {"class width 0", "[SpinUp]\n1\n0 1\n1\nelevation_model 0 linear\n", DEM, 17,
       "error in control file,  error reading HRU defintions ; not found!"},
      {"negative grid count", "[SpinUp]\n1\n0 1\n-1\n", DEM, 17,
       "error in control file,  error reading HRU defintions ; not found!"},
      {"class grid that does not exist", "[SpinUp]\n1\n0 1\n1\nnowhere 1 linear\n", DEM, 33,
       "Wether nowhere, [nowhere] or nowhere \nwhere found in memory"},
      // 1000000 / 100 = class 10000, one above the largest.
      {"class 10000", "[SpinUp]\n1\n0 1\n1\nelevation_model 100 linear\n",
       "-9999 1000000 5\n5 5 5\n5 5 5\n", 1031,
       "Creating HRUs resulted in a re-classify result of 10000 for grid elevation_model at "
       "row=1 and col=2. Only 10'000 Classes are allowed for each grid. Choose a larger class "
       "width or use lg2 spacing to reduce the amount of HRUs."},
      {"no grid of units", "[SpinUp]\n1\n0 1\n0\n", DEM, 1030,
       "standard grid with identifier HydrologicResponseUnits not found (Hydrologic Respond "
       "Units, HRU; used for SpinUp mode)"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    spinup_case run(control_file("0\n", r.section), {{"dem.asc", text_grid(r.dem)}});
    EXPECT_EQ(run.setup_code, 0) << run.cap.console();
    EXPECT_EQ(run.code, r.code);
    EXPECT_TRUE(run.logged(r.message)) << run.cap.console();
  }
}

TEST(SpinUpSection, FullStoreLeavesNoRoomForTheUnitGrids) {
  // Every entry taken after the set-up: the first unit grid finds no room.
  spinup_case run(control_file("0\n", ""), {{"dem.asc", text_grid(DEM)}});
  ASSERT_EQ(run.code, 0);
  for (int i = 1; i < GRID_STORE_FULL; ++i)
    if (!run.store[i].file_name) run.store[i].file_name = "taken";
  run.cap.dir.write("run.ctl.$$$", read_file(run.cap.dir.file("run.ctl.$$$")) +
                                       "[SpinUp]\n1\n0 1\n1\nelevation_model 100 linear\n");
  int code = 0;
  try {
    run.settings->init_spinup(run.spinup, run.pre_spinup, run.repeat_count, run.hrus);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 12);
  EXPECT_TRUE(
      run.logged("when trying to create HRU grid: no free grid found in memory (max "
                 "position 1000)"));
  for (int i = 1; i < GRID_STORE_FULL; ++i)
    if (run.store[i].file_name == "taken") run.store[i].file_name.reset();
}

}  // namespace
