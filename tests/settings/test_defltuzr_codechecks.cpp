// Code checks of the class grids at set-up: the codes of "landuse",
// "soil_types" and "irrigation_codes" become table indices, the multilayer
// classes' layer codes become land-use indices, and every code missing from
// its table stops the set-up with its own entry and code. In soil-model mode
// 1 the three soil grids of that mode are derived and written once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/settings/layers_fixture.h"

using layers_fixture::control_parts;
using layers_fixture::settings_run;
using layers_fixture::text_grid;

namespace {

constexpr double ND = -9999;

// Land-use classes of the one-line form with the given codes.
std::string landuse_table(const std::vector<int>& codes) {
  std::string t = std::to_string(codes.size()) + "\n";
  for (int c : codes)
    t += std::to_string(c) +
         " grass 0.2 50 50 50 50 50 50 50 50 50 50 50 50 1 120 240 366 "
         "1 2 3 4 0.1 0.1 0.1 0.1 1 1 1 1 1 2 3 4 1 3.45\n";
  return t;
}

std::string soil_table(const std::vector<int>& codes) {
  std::string t = std::to_string(codes.size()) + "\n";
  for (int c : codes)
    t += std::to_string(c) + " loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 5 1.0 1000 0.5\n";
  return t;
}

const std::string DASHES =
    "-----------------------------------------------------------------------";

// 2 x 2 cells; the last cell lies outside the zones.
std::map<std::string, std::string> files(const std::string& grid_file, const std::string& rows) {
  return {{"zones.asc", text_grid("1 1\n1 -9999\n", 2, 2)},
          {"dem.asc", text_grid("400 400\n400 400\n", 2, 2)},
          {grid_file, text_grid(rows, 2, 2)}};
}

struct check_case {
  const char* name;
  control_parts parts;
  std::string grid_file;
  std::string rows;
  int code;
  std::string entry;           // expected piece of the diagnostics ("" for none)
  std::string grid;            // grid to look at after the set-up
  std::vector<double> values;  // its cells (1,1), (1,2), (2,1), (2,2)
};

control_parts with_grid(const std::string& grid_name, const std::string& landuse,
                        const std::string& soil, const std::string& multilayer = "") {
  control_parts p;
  p.standard_grids = "2\n$dir//grid.asc " + grid_name +
                     " 0\nnone albedo fillcode = 0 readcode = 0 defaultValue = 0.2\n";
  p.landuse = landuse;
  p.soil = soil;
  p.multilayer = multilayer;
  return p;
}

std::string not_in(const std::string& what, const std::string& value, const std::string& grid,
                   const std::string& table) {
  return "\n" + DASHES + "\n" + what + " " + value + " in grid /GRID (" + grid +
         ")\nis not present in " + table + "control file \n" + DASHES + "\n\n";
}

}  // namespace

TEST(ClassCodeChecks, CodesBecomeIndicesOrStopTheSetUp) {
  const std::string table_102030 = landuse_table({10, 20, 30});
  const std::string no_soil = "0\n";
  const std::string stands =
      "[multilayer_landuse]\n2\n5 a { Landuse_Layers = 30, 10; }\n7 b { Landuse_Layers = 20, "
      "-9999; }\n";
  const std::vector<check_case> rows = {
      {"land-use codes in table order",
       with_grid("landuse", table_102030, no_soil),
       "grid.asc",
       "10 20\n30 -9999\n",
       0,
       "10 replaced by 1 ...",
       "landuse1",
       {1, 2, 3, ND}},
      {"swapped codes are decided on the copy",
       with_grid("landuse", landuse_table({2, 1}), no_soil),
       "grid.asc",
       "2 1\n2 -9999\n",
       0,
       "2 replaced by 1 ...",
       "landuse1",
       {1, 2, 1, ND}},
      {"an unknown code outside the zones stays",
       with_grid("landuse", table_102030, no_soil),
       "grid.asc",
       "10 20\n30 40\n",
       0,
       "",
       "landuse1",
       {1, 2, 3, 40}},
      {"an unknown land-use code",
       with_grid("landuse", table_102030, no_soil),
       "grid.asc",
       "10 40\n30 -9999\n",
       31,
       not_in("land use", "40", "landuse", "the land use table in the "),
       "",
       {}},
      {"an empty land-use table",
       with_grid("landuse", "0\n", no_soil),
       "grid.asc",
       "10 10\n10 -9999\n",
       31,
       not_in("land use", "10", "landuse", "the land use table in the "),
       "",
       {}},
      {"multilayer codes and layer codes",
       with_grid("landuse", table_102030, no_soil, stands),
       "grid.asc",
       "7 5\n5 -9999\n",
       0,
       "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #1 from 30 to 3",
       "landuse2",
       {-9999, 1, 1, ND}},
      {"an unknown multilayer code",
       with_grid("landuse", table_102030, no_soil, stands),
       "grid.asc",
       "7 6\n5 -9999\n",
       311,
       not_in("land use", "6", "landuse", "the multilayer-landuse-table in the "),
       "",
       {}},
      {"a layer code missing from the land-use table",
       with_grid("landuse", table_102030, no_soil,
                 "[multilayer_landuse]\n1\n5 a { Landuse_Layers = 10, 40; }\n"),
       "grid.asc",
       "5 5\n5 -9999\n",
       312,
       "\n" + DASHES +
           "\nError: not all layer codes from landuse 5 from MultiLayer_Landuse-Table\nare "
           "present in the landuse-table in the control file: Here, code 40 is missing.\n" +
           DASHES + "\n\n",
       "",
       {}},
      {"a first layer code of nodata",
       with_grid("landuse", table_102030, no_soil,
                 "[multilayer_landuse]\n1\n5 a { Landuse_Layers = -9999, 10; }\n"),
       "grid.asc",
       "5 5\n5 -9999\n",
       312,
       "\n\n" + DASHES +
           "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a valid "
           "entry (not 9999 or larger):\nHere, line 1 contains -9999 as first layer code.\n" +
           DASHES + "\n\n",
       "",
       {}},
      {"soil codes",
       with_grid("soil_types", "0\n", soil_table({3, 9})),
       "grid.asc",
       "9 3\n9 12\n",
       0,
       "2.:replacing soil type codes ",
       "soil_types",
       {2, 1, 2, 12}},
      {"an unknown soil code",
       with_grid("soil_types", "0\n", soil_table({3, 9})),
       "grid.asc",
       "9 4\n9 -9999\n",
       32,
       not_in("soil type", "4", "soil_types", "the "),
       "",
       {}},
  };
  for (const check_case& r : rows) {
    SCOPED_TRACE(r.name);
    settings_run run(r.parts, files(r.grid_file, r.rows));
    EXPECT_EQ(run.code, r.code) << run.cap.console();
    std::string entry = r.entry;
    const size_t at = entry.find("/GRID");
    if (at != std::string::npos) entry.replace(at, 5, run.cap.dir.path() + "/grid.asc");
    if (!entry.empty()) {
      EXPECT_TRUE(run.logged(entry)) << run.cap.console();
    }
    if (r.code != 0 || r.grid.empty()) continue;
    const int cells[4][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(run.value(r.grid, cells[i][0], cells[i][1]), r.values[static_cast<size_t>(i)])
          << "cell " << i;
  }
}

TEST(ClassCodeChecks, MultilayerLayerCodesBecomeLandUseIndices) {
  control_parts p = with_grid("landuse", landuse_table({10, 20, 30}), "0\n",
                              "[multilayer_landuse]\n2\n5 a { Landuse_Layers = 30, 10; }\n"
                              "7 b { Landuse_Layers = 20, -9999; }\n");
  settings_run run(p, files("grid.asc", "7 5\n5 -9999\n"));
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const multilayer_table_t& t = run.settings->multilayer_classes();
  EXPECT_EQ(t[1].layer_codes, (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(t[2].layer_codes, (std::vector<int>{2, 2, -9999}));
  EXPECT_EQ(t[1].layer_codes_as_read, (std::vector<int>{2, 30, 10}));
}

TEST(ClassCodeChecks, IrrigationCodes) {
  const std::string table = "1\n[irrigation_table]\n2\n9 field 3 0 20 5\n7 garden 3 1 30 4\n";
  struct row {
    const char* name;
    std::string irrigation;
    std::string rows;
    int code;
    std::vector<double> values;  // cells (1,1), (1,2), (2,1), (2,2)
    size_t entries;              // table size (n + 1), 0 without a table
  };
  const std::vector<row> rows = {
      // 9 is entry 1 and 7 entry 2: swapped on the copy, not mixed.
      {"codes replaced", table, "7 9\n0 5\n", 0, {2, 1, 0, 5}, 3},
      {"an unknown code", table, "7 5\n9 -9999\n", 31, {}, 3},
      {"switch off", "0\n", "7 5\n9 -9999\n", 0, {7, 5, 9, ND}, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_parts p = with_grid("irrigation_codes", "0\n", "0\n");
    p.irrigation = r.irrigation;
    settings_run run(p, files("grid.asc", r.rows));
    EXPECT_EQ(run.code, r.code) << run.cap.console();
    EXPECT_EQ(run.settings->irrigation_classes().size(), r.entries);
    if (r.code == 31) {
      EXPECT_TRUE(run.logged("\n" + DASHES + "\nirrigation type 5 in grid " + run.cap.dir.path() +
                             "/grid.asc (irrigation_codes)\nis not present in the irrigation "
                             "table in the control file \n" +
                             DASHES + "\n\n"))
          << run.cap.console();
      continue;
    }
    const int cells[4][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(run.value("irrigation_codes", cells[i][0], cells[i][1]),
                r.values[static_cast<size_t>(i)])
          << "cell " << i;
    const settings_context& exported = run.settings->export_settings();
    EXPECT_EQ(exported.irrigation_table != nullptr, r.entries > 0);
  }
}

TEST(ClassCodeChecks, SoilGridsOfModeOne) {
  // Soil type 4: field capacity 20, fillable pore space 40 (vol-%),
  // conductivity 2e-5. Land use 10 at layer 1: root depth on 15 July
  // between days 120 (2 m) and 240 (3 m): 2 + 76/120.
  control_parts p;
  p.standard_grids = "2\n$dir//soil.asc soil_types 0\n$dir//landuse.asc landuse 0\n";
  p.landuse = landuse_table({10});
  p.soil = "1\n4 sand 20 40 2e-5 250\n";
  p.model_time = "0\n15\n7\n2001\n23\n31\n12\n2001\n";
  std::map<std::string, std::string> f = files("soil.asc", "4 4\n4 -9999\n");
  f["landuse.asc"] = text_grid("10 10\n10 -9999\n", 2, 2);
  settings_run run(p, f, 1);
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_TRUE(run.logged("make_nFK_kWert_and_Na..."));
  EXPECT_NEAR(run.value("available_soil_moisture", 1, 1), 20 * (2 + 76.0 / 120) * 10, 1e-9);
  EXPECT_EQ(run.value("hydraulic_conductivity", 2, 1), 2e-5);
  EXPECT_NEAR(run.value("fillable_porosity", 1, 2), 0.4, 1e-15);
  EXPECT_EQ(run.value("fillable_porosity", 2, 2), ND);
  for (const char* suffix : {"soil.$fk", "soil.$k", "soil.$na"})
    EXPECT_TRUE(std::filesystem::exists(run.cap.dir.file(suffix))) << suffix;
}
