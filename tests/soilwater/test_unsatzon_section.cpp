// Reading of the unsaturated zone's sections: the subbasin parameter block
// with its group inheritance and conversions, the checks of
// "[unsatzon_model]" with their codes, "[heat_transfer]", "[unsatzon_tuning]"
// and "[permafrost]". Expected values are the conversions worked by hand
// (hours * 60 = minutes, 1 / kelsqlat).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_section.h"

namespace {

// Subbasins with the codes 1..count.
subbasin_codes consecutive(int count) {
  subbasin_codes s;
  s.count = count;
  s.code_of.assign(static_cast<size_t>(count) + 1, 0);
  s.index_of.assign(static_cast<size_t>(count) + 1, 0);
  for (int i = 1; i <= count; ++i) {
    s.code_of[static_cast<size_t>(i)] = i;
    s.index_of[static_cast<size_t>(i)] = i;
  }
  return s;
}

struct block_result {
  int code = 0;
  subbasin_parameters p;
};

block_result read_block(captured_diag& cap, const std::string& text, const subbasin_codes& s) {
  cap.dir.write("block.txt", text);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      std::fopen(cap.dir.file("block.txt").c_str(), "r"), &std::fclose);
  block_result r;
  try {
    r.p = read_subbasin_block(file.get(), *cap.diag, "unsatzon_model", "control.$$$", s);
  } catch (int code) {
    r.code = code;
  }
  return r;
}

TEST(UnsatzonSubbasinBlock, GroupsShareTheValuesOfTheSubbasinThatOpensThem) {
  struct row {
    const char* codes;
    const char* kelsqd;            // one value per listed code
    std::vector<double> expected;  // kelsqd per subbasin 1..8 [min]
  } rows[] = {
      // 1 and 2 share column 1, 3..7 column 2, 8 column 3.
      {"1 3 8", "1 2 3", {60, 60, 120, 120, 120, 120, 120, 180}},
      // Subbasin 1 still reads a column of its own before 3.
      {"3 8", "1 2 3", {60, 60, 120, 120, 120, 120, 120, 180}},
      // First code that of subbasin 2: subbasin 1 is unlisted and copies
      // element 0, which is no recession constant: 0.
      {"2 8", "1 2", {0, 60, 60, 60, 60, 60, 60, 120}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.codes);
    captured_diag cap;
    const std::string v = r.kelsqd;
    const block_result b = read_block(cap,
                                      std::string(r.codes) + "\n" + v + "\n" + v + "\n" + v + "\n" +
                                          v + "\n" + v + "\n" + v + "\nnext line\n",
                                      consecutive(8));
    ASSERT_EQ(b.code, 0) << cap.console();
    for (size_t i = 1; i <= 8; ++i) {
      EXPECT_DOUBLE_EQ(b.p.kelsqd[i], r.expected[i - 1]) << "subbasin " << i;
      EXPECT_DOUBLE_EQ(b.p.kelsqi[i], r.expected[i - 1]) << "subbasin " << i;
      EXPECT_EQ(b.p.code[i], static_cast<double>(i));
    }
  }
}

TEST(UnsatzonSubbasinBlock, ConversionsOfTheRecessionConstants) {
  // Hand values: kelsqd, kelsqi in h -> min (below 0.001 h: 0.06 min);
  // kelsqlat -> 1 / kelsqlat, negative -> 0; the others as read.
  captured_diag cap;
  const block_result b = read_block(cap,
                                    "1 2\n"
                                    "0.0005 2\n"  // kelsqd
                                    "0.001 -3\n"  // kelsqi
                                    "0.5 0.7\n"   // drainage density
                                    "-1 4\n"      // kelsqlat
                                    "0.3 0.4\n"   // Q0
                                    "0.1 0.9\n",  // SnowRunoff_fraction
                                    consecutive(2));
  ASSERT_EQ(b.code, 0) << cap.console();
  EXPECT_DOUBLE_EQ(b.p.kelsqd[1], 0.06);
  EXPECT_DOUBLE_EQ(b.p.kelsqd[2], 120);
  EXPECT_DOUBLE_EQ(b.p.kelsqi[1], 0.06);
  EXPECT_DOUBLE_EQ(b.p.kelsqi[2], 0.06);
  EXPECT_DOUBLE_EQ(b.p.drainage_density[2], 0.7);
  EXPECT_DOUBLE_EQ(b.p.kelsqlat[1], 0);
  EXPECT_DOUBLE_EQ(b.p.kelsqlat[2], 0.25);
  EXPECT_DOUBLE_EQ(b.p.Q0[1], 0.3);
  EXPECT_DOUBLE_EQ(b.p.SnowRunoff_fraction[2], 0.9);
}

TEST(UnsatzonSubbasinBlock, FaultsAreCode10NamingRowAndSubbasin) {
  struct row {
    const char* name;
    std::string text;
    const char* message;
    bool with_help;  // the help text on groups of subbasins ends the entry
  } rows[] = {
      {"unreadable code", "1 x\n", "error reading code[1] for unsatzon_model", true},
      {"code of no subbasin", "1 9\n",
       "error! there is no code 9 (from control.$$$) for a subbasin in unsatzon_model", true},
      {"code below 1", "0 3\n", "error! there is no code 0", true},
      {"too few values", "1 3\n1 1\n1 1\n1 1\n1 1\n1\nread control parameter\n",
       "error reading QB-Red.Faktor[3] for unsatzon_model", true},
      // 1 / 0 would give the base flow exp(inf * 0) = NaN.
      {"kelsqlat 0", "1 3\n1 1\n1 1\n1 1\n1 0\n1 1\n1 1\n", "kelsqlat[3] for unsatzon_model is 0",
       false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    captured_diag cap;
    const block_result b = read_block(cap, r.text, consecutive(3));
    EXPECT_EQ(b.code, 10);
    EXPECT_NE(cap.console().find(r.message), std::string::npos) << cap.console();
    EXPECT_NE(cap.console().find("\n-----------------error------------\n"), std::string::npos);
    EXPECT_EQ(cap.console().find("parameters of subbasin 1 will be assigned!") != std::string::npos,
              r.with_help);
  }
}

TEST(UnsatzonSubbasinBlock, ZoneGridWithoutSubbasinsIsCode10) {
  captured_diag cap;
  const block_result b = read_block(cap, "1\n1\n1\n1\n1\n1\n1\n", consecutive(0));
  EXPECT_EQ(b.code, 10);
  EXPECT_NE(cap.console().find("there is no subbasin in the zone grid of unsatzon_model"),
            std::string::npos)
      << cap.console();
}

TEST(UnsatzonSubbasinBlock, UnlistedSubbasinOneWithZeroValuesIsNoFault) {
  // Subbasin 1 copies element 0: kelsqlat 0 there means no base flow and is
  // not the refused read value 0.
  captured_diag cap;
  const block_result b = read_block(cap, "2 3\n1 1\n1 1\n1 1\n4 4\n1 1\n1 1\n", consecutive(3));
  ASSERT_EQ(b.code, 0) << cap.console();
  EXPECT_EQ(b.p.kelsqlat[1], 0);
  EXPECT_EQ(b.p.Q0[1], 0);
  EXPECT_DOUBLE_EQ(b.p.kelsqlat[2], 0.25);
  EXPECT_EQ(count_of(cap.console(), "FATAL"), 0);
}

TEST(UnsatzonTuning, LinesSetTheValuesUntilTheFirstEmptyLine) {
  struct row {
    const char* name;
    const char* text;
    double max_error, max_iterations;
  } rows[] = {
      {"both", "max_iterations = 250\n  max_error=1e-6\n\n", 1e-6, 250},
      {"tabs and other lines", "\tsomething = 3\n max_error = 2e-4\n", 2e-4, 100},
      {"empty line first", "\nmax_iterations = 250\nmax_error=1e-6\n", 1e-5, 100},
      // A line naming both sets max_error only.
      {"both names", "max_error max_iterations = 7\n", 7, 100},
      {"last line without line end", "max_iterations = 250\nmax_error=1e-6", 1e-5, 250},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    captured_diag cap;
    cap.dir.write("tuning.txt", r.text);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(cap.dir.file("tuning.txt").c_str(), "r"), &std::fclose);
    double max_error = 1e-5, max_iterations = 100;
    read_tuning_lines(file.get(), max_error, max_iterations);
    EXPECT_DOUBLE_EQ(max_error, r.max_error);
    EXPECT_DOUBLE_EQ(max_iterations, r.max_iterations);
  }
}

TEST(UnsatzonVariantTag, PiecesInTheirOrder) {
  EXPECT_EQ(make_variant_tag(false, false, 0, 0, 0, 0), "");
  EXPECT_EQ(make_variant_tag(true, true, 1, 1, 1, 1), "+ft,+ir,+srf1+dr,+cl,+po,");
  EXPECT_EQ(make_variant_tag(false, false, 2, 0, 0, 1), "+srf2,+po,");
  EXPECT_EQ(make_variant_tag(true, true, 2, 1, 1, 1), "+ft,+ir,+srf2,+dr,+cl,+po,");
  EXPECT_EQ(make_variant_tag(false, false, -1, 2, 2, 2), "");
}

// ---- the module's reading ----

struct built {
  int status = -1;
  std::string console;
  std::unique_ptr<unsatzonmodellklasse> module;
  std::map<std::string, std::string> files;  // name -> content of the scratch folder's files
};

struct build_options {
  bool permafrost = false;  // the snow module's three permafrost grids are in the store
  bool flow_times = false;  // "flow_times" is in the store
  bool regions = true;      // "MPIRegions" is in the store
  double owner = 0;         // "MPIRegions" value of every cell
};

// Subbasins with the codes 1, 2, 3; "@DIR@" in the section stands for the
// scratch folder, whose files are listed in built::files.
built build(const unsatzon_section_text& section, const build_options& o = {}) {
  built b;
  module_fixture f;
  if (o.regions) f.publish_regions();
  for (int c = 1; c <= 3 && o.regions; ++c) f.regions[1][c] = o.owner;
  grid_matrix thaw = f.grids.matrix(1, 1, 0, 3, 1);
  // Look-ups stop at the first free entry: the grids follow one another.
  const int next = o.regions ? 4 + static_cast<int>(f.inputs.size()) : 4;
  if (o.permafrost) {
    f.publish(next, "PermafrostThawDepth", &thaw);
    f.publish(next + 1, "SnowFreeDaysGrid", &thaw);
    f.publish(next + 2, "ThawCoeffPermaFrost", &thaw);
  }
  if (o.flow_times) f.publish(o.permafrost ? next + 3 : next, "flow_times", &thaw);
  // A groundwater-distance grid 0.5 m below the surface for readgrid 2.
  f.cd.dir.write("grid.asc",
                 "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\n"
                 "NODATA_value -9999\n-0.5 -0.5 -0.5\n");
  f.soil_zone_grid[1][1] = 1;
  f.soil_zone_grid[1][2] = 2;
  f.soil_zone_grid[1][3] = 3;
  std::string text = section.text();
  for (size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
    text.replace(at, 5, f.cd.dir.path());
  f.write_control(text);
  b.module = std::make_unique<unsatzonmodellklasse>(b.status, f.diag(), nullptr, 0,
                                                    "unsatzon_model", &f.store, f.settings, 1);
  b.console = f.console();
  for (const auto& entry : std::filesystem::directory_iterator(f.cd.dir.path()))
    b.files[entry.path().filename().string()] = read_file(entry.path().string());
  return b;
}

TEST(UnsatzonReading, SectionValuesAndTheirCodes) {
  struct row {
    const char* name;
    void (*change)(unsatzon_section_text&);
    int status;
    const char* message;  // in the console, "" for none
  } rows[] = {
      {"valid", [](unsatzon_section_text&) {}, 0, ""},
      {"surface_interaction 2 with one process",
       [](unsatzon_section_text& s) { s.surface_interaction = "2"; }, 0, ""},
      {"control cell 0 0", [](unsatzon_section_text& s) { s.control_cell = "0 0"; }, 0, ""},
      {"control row equal to the row count",
       [](unsatzon_section_text& s) { s.control_cell = "1 3"; }, 0, ""},
      {"control row -1", [](unsatzon_section_text& s) { s.control_cell = "-1 1"; }, 8,
       "row index (-1) for output-cell must be between 1 and 1 (Input as row col) or 0 0 "},
      {"control column beyond", [](unsatzon_section_text& s) { s.control_cell = "1 4"; }, 9,
       "column index (4) for output-cell must be between 1 and 3 (Input as row col) "},
      {"method 4", [](unsatzon_section_text& s) { s.method = "4"; }, 91,
       "invalid method (4)\npossible values are:\n 2 for Finite Differences with fixed "
       "timestep\n 3 for Finite Differences with dynamically calculated timestep\n"},
      {"method 1", [](unsatzon_section_text& s) { s.method = "1"; }, 91, "invalid method (1)"},
      {"unreadable value", [](unsatzon_section_text& s) { s.k_sat_clay = "x"; }, 17, ""},
      {"kelsqlat 0", [](unsatzon_section_text& s) { s.value_rows[3] = "0 4"; }, 10,
       "kelsqlat[1] for unsatzon_model is 0"},
      {"code of no subbasin", [](unsatzon_section_text& s) { s.codes = "1 4"; }, 10,
       "error! there is no code 4"},
      {"ini_gw_level 1", [](unsatzon_section_text& s) { s.ini_gw_level = "1"; }, 17,
       "ini_gw_level (actual value: 1) must be greater than 1"},
      {"ini_gw_level 0", [](unsatzon_section_text& s) { s.ini_gw_level = "0"; }, 17,
       "ini_gw_level (actual value: 0) must be greater than 1"},
      // readgrid 1 takes the state from the stack files: the run gets past the
      // reading to the first stack file, here the folder's grid, no stack.
      {"ini_gw_level 1 unused with readgrid 1",
       [](unsatzon_section_text& s) {
         s.ini_gw_level = "1";
         s.readgrid = "1";
       },
       22, "error reading from grid.asc"},
      {"ini_gw_level 1 unused with readgrid 2",
       [](unsatzon_section_text& s) {
         s.ini_gw_level = "1";
         s.readgrid = "2";
         s.grid_name = "@DIR@/grid.asc";
       },
       0, ""},
      {"method 3 values missing", [](unsatzon_section_text& s) { s.method = "3"; }, 17, ""},
      {"statistics name too long",
       [](unsatzon_section_text& s) { s.stat_name = std::string(1201, 'a'); }, 17,
       "has 1201 characters, at most 1200 are possible"},
      // 1200 characters that name a file the statistics can create.
      {"statistics name at its limit",
       [](unsatzon_section_text& s) {
         s.stat_name = "/tmp/";
         for (int i = 0; i < 588; ++i) s.stat_name += "./";
         s.stat_name += "unsatzon_limit.stat";
       },
       0, ""},
      {"control-cell name too long",
       [](unsatzon_section_text& s) { s.cell_file = std::string(1199, 'a'); }, 17,
       "has 1200 characters, at most 1199 are possible"},
      {"storage name too long", [](unsatzon_section_text& s) { s.storage = std::string(998, 's'); },
       17, "has 1000 characters, at most 999"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    unsatzon_section_text s;
    r.change(s);
    const built b = build(s);
    EXPECT_EQ(b.status, r.status) << b.console;
    if (r.message[0] != '\0') {
      EXPECT_NE(b.console.find(r.message), std::string::npos) << b.console;
    }
    // 22: the framework's stack reader names the file, not the module.
    if (r.status != 0 && r.status != 17 && r.status != 10 && r.status != 22) {
      EXPECT_NE(b.console.find("in modul unsatzon_model:\n"), std::string::npos);
    }
    if (r.status == 0) {
      EXPECT_EQ(count_of(b.console, "FATAL"), 0) << b.console;
    }
  }
  // The row at the name's limit had to reach outside the scratch folder.
  std::remove("/tmp/unsatzon_limit.stat");
}

TEST(UnsatzonReading, ParametersOfAValidSection) {
  unsatzon_section_text s;
  s.method = "3";
  s.method3_lines =
      "30 minimum dynamic time step\n@DIR@/sub.stat 1099 SUBSTEPS\nsub.asc SUBSTEPS\n12 "
      "Writegrid\n";
  s.control_cell = "1 2";
  s.surface_interaction = "1";
  s.pond = "1";
  const built b = build(s);
  ASSERT_EQ(b.status, 0) << b.console;
  const unsatzon_parameters& p = b.module->get_parameters();
  EXPECT_EQ(p.method, 3);
  EXPECT_EQ(p.surface_interaction, 1);
  EXPECT_DOUBLE_EQ(p.k_sat_clay, 1e-8);
  EXPECT_DOUBLE_EQ(p.ini_gw_level, 2);
  EXPECT_EQ(p.stat_files[static_cast<size_t>(unsatzon_stat_file::qdrain)].code, 1001);
  EXPECT_EQ(p.stat_files[static_cast<size_t>(unsatzon_stat_file::infilt)].code, 1016);
  EXPECT_EQ(p.control_row, 1);
  EXPECT_EQ(p.control_column, 2);
  EXPECT_EQ(p.cell_files[0].substr(p.cell_files[0].size() - 6), "/cell0");
  // Codes 1 and 3 listed: subbasin 2 shares the values of subbasin 1.
  EXPECT_DOUBLE_EQ(p.subbasins.kelsqd[1], 120);
  EXPECT_DOUBLE_EQ(p.subbasins.kelsqd[2], 120);
  EXPECT_DOUBLE_EQ(p.subbasins.kelsqd[3], 0.06);
  EXPECT_DOUBLE_EQ(p.subbasins.kelsqlat[3], 0);
  EXPECT_DOUBLE_EQ(p.subbasins.code[2], 2);
  EXPECT_EQ(p.storage_file_name, "state.txt_0");
  EXPECT_DOUBLE_EQ(p.dParameterMinStep, 30);
  EXPECT_EQ(p.substeps_stat.code, 1099);
  EXPECT_EQ(p.substeps_grid.name, "sub.asc");
  EXPECT_EQ(p.substeps_grid.write_code, 12);
  EXPECT_EQ(p.variant_tag, "+srf1+po,");
  // Without the optional sections the defaults stay.
  EXPECT_EQ(p.heat_flow_control, 0);
  EXPECT_DOUBLE_EQ(p.dTModLowBoundBase, 12);
  EXPECT_DOUBLE_EQ(p.dTModLongestStep, 1800);
  EXPECT_DOUBLE_EQ(p.max_error, 1e-5);
  EXPECT_DOUBLE_EQ(p.max_iterations, 100);
  EXPECT_DOUBLE_EQ(p.reduced_k_sat, 1e-9);
  EXPECT_EQ(b.module->get_readgrid(), 0);
  EXPECT_EQ(count_of(b.console, "not built yet"), 0);  // its time step is built
  EXPECT_EQ(count_of(b.console,
                     "Warning! There was no flow travel time grid for surface runoff "
                     "read in\nAll surface runoof will be routed immediately"),
            1);
}

std::string heat_section(int control, const std::string& shortest);

TEST(UnsatzonControlCell, FilesAndBuffersOnTheOwningProcessOnly) {
  std::string heat = heat_section(1, "30");
  heat.replace(heat.find("temper.txt"), 10, "@DIR@/temper.txt");
  struct row {
    const char* name;
    const char* control_cell;
    double owner;
    std::string after;
    size_t files;  // control-cell files created
  } rows[] = {
      {"owned", "1 2", 0, "", 6},
      {"owned, heat on", "1 2", 0, heat, 7},
      {"owned by process 1", "1 2", 1, "", 0},
      {"no control cell", "0 0", 0, "", 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    unsatzon_section_text s;
    s.control_cell = r.control_cell;
    s.after = r.after;
    const built b = build(s, {.owner = r.owner});
    ASSERT_EQ(b.status, 0) << b.console;
    size_t created = 0;
    for (const auto& [name, content] : b.files)
      if (name.rfind("cell", 0) == 0 || name == "temper.txt") ++created;
    EXPECT_EQ(created, r.files);
    EXPECT_EQ(b.module->get_control_cell_buffers().size(), r.files);
    if (r.files == 0) continue;
    // The fixture's loam has L = 10 layers; etr has layer 0 in front.
    EXPECT_EQ(b.files.at("cell2"),
              "YY\tMM\tDD\tHH\thhyd[1][2][1]\t[2]\t[3]\t[4]\t[5]\t[6]\t[7]\t[8]\t[9]\t[10]\t\n");
    EXPECT_EQ(b.files.at("cell4"),
              "YY\tMM\tDD\tHH\tetr[1][2](etr[0] is evaporation from first layer)[0]\t[1]\t[2]\t"
              "[3]\t[4]\t[5]\t[6]\t[7]\t[8]\t[9]\t[10]\t\n");
    EXPECT_EQ(b.files.at("cell3").rfind("YY\tMM\tDD\tHH\totherdata[1][2]QD\tQI", 0), 0U);
    const control_cell_buffer& otherdata = b.module->get_control_cell_buffers()[1];
    EXPECT_EQ(otherdata.values_per_row, 25);
    EXPECT_EQ(otherdata.capacity, 9039);
    EXPECT_EQ(otherdata.values.size(), 9040U * 25U);
    EXPECT_EQ(b.module->get_control_cell_buffers()[0].capacity, 17476);  // 2097152 / 120
  }
  unsatzon_section_text s;
  s.control_cell = "1 2";
  s.cell_file = "@DIR@/missing/cell";
  const built b = build(s);
  EXPECT_EQ(b.status, 62);
  EXPECT_NE(b.console.find("error opening file for hydraulic head (single point)"),
            std::string::npos)
      << b.console;
}

TEST(UnsatzonReading, RunWithoutMPIRegionsIsRefused) {
  const built b = build(unsatzon_section_text{}, {.regions = false});
  EXPECT_EQ(b.status, 33) << b.console;
  EXPECT_NE(b.console.find("MPIRegions"), std::string::npos) << b.console;
}

TEST(UnsatzonReading, FlowTimesGridInTheStoreMarksTheVariant) {
  unsatzon_section_text s;
  const built without = build(s);
  EXPECT_EQ(without.module->get_parameters().variant_tag, "");
  const built with = build(s, {.flow_times = true});
  ASSERT_EQ(with.status, 0) << with.console;
  EXPECT_EQ(with.module->get_parameters().variant_tag, "+ft,");
  EXPECT_EQ(count_of(with.console, "no flow travel time grid"), 0);
}

std::string heat_section(int control, const std::string& shortest) {
  std::string s = "[heat_transfer]\n" + std::to_string(control) + " heat flow control\n";
  if (control <= 0) return s;
  s += "2 method of heat transfer modelling\n0\n0\n";
  const char* names[] = {"dTModLowBoundBase", "dTModLapseRate", "dTModCDrySoil", "dTModRhoDrySoil",
                         "dTModLamDrySoil",   "dTModKmin",      "dTModLamWat",   "dTModLamIce",
                         "dTModCWater",       "dTModCIce20",    "dTModCIce0",    "dTModLatHeat",
                         "dTModRhoWater",     "dTModFactor",    "dTModSEForStat"};
  double value = 1;
  for (const char* n : names) s += std::to_string(value++) + " " + n + "\n";
  s += shortest + " dTModShortestStep\n900 dTModLongestStep\n0.5 nf\n0.6 nt\n";
  s += "temper.txt temperature-file\n@DIR@/thaw.stat 1077 temperstatfiles\n";
  s += "temper.stk stack\n3 code\nthaw.asc grid\n4 code\n";
  return s;
}

TEST(UnsatzonReading, HeatTransferTuningAndPermafrost) {
  struct row {
    const char* name;
    std::string after;
    int status;
    int heat;
    double low_bound, shortest, max_error, max_iterations;
  } rows[] = {
      {"heat on", heat_section(1, "30"), 0, 1, 1, 30, 1e-5, 100},
      {"heat 0 keeps the defaults", heat_section(0, ""), 0, 0, 12, 60, 1e-5, 100},
      {"shortest step 0", heat_section(1, "0"), 17, 1, 1, 0, 1e-5, 100},
      {"shortest step negative", heat_section(1, "-5"), 17, 1, 1, -5, 1e-5, 100},
      {"tuning", "[unsatzon_tuning]\nmax_iterations = 250\n  max_error=1e-6\n", 0, 0, 12, 60, 1e-6,
       250},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    unsatzon_section_text s;
    s.after = r.after;
    const built b = build(s);
    EXPECT_EQ(b.status, r.status) << b.console;
    const unsatzon_parameters& p = b.module->get_parameters();
    EXPECT_EQ(p.heat_flow_control, r.heat);
    EXPECT_DOUBLE_EQ(p.dTModLowBoundBase, r.low_bound);
    EXPECT_DOUBLE_EQ(p.dTModShortestStep, r.shortest);
    EXPECT_DOUBLE_EQ(p.max_error, r.max_error);
    EXPECT_DOUBLE_EQ(p.max_iterations, r.max_iterations);
    if (r.status == 17) {
      EXPECT_NE(b.console.find(" dTModShortestStep (actual value: "), std::string::npos)
          << b.console;
    }
  }
  unsatzon_section_text s;
  s.after = heat_section(1, "30");
  const built b = build(s);
  const unsatzon_parameters& p = b.module->get_parameters();
  EXPECT_DOUBLE_EQ(p.dTModSEForStat, 15);
  EXPECT_DOUBLE_EQ(p.dTModLongestStep, 900);
  EXPECT_DOUBLE_EQ(p.dTModNFactorThawing, 0.6);
  EXPECT_EQ(p.temperature_cell_file, "temper.txt");
  EXPECT_EQ(p.thaw_depth_stat.code, 1077);
  EXPECT_EQ(p.temperature_stack.write_code, 3);
  EXPECT_EQ(p.thaw_depth_grid.name, "thaw.asc");
}

TEST(UnsatzonReading, PermafrostIsReadOnlyWithItsGridsAndWithoutHeatTransfer) {
  const std::string permafrost = "[permafrost]\n1\n0.5\n0.7\nperma.stat 1088\n2e-8 reduced k_sat\n";
  struct row {
    const char* name;
    std::string after;
    bool grids;
    int status;
    double reduced_k_sat;
  } rows[] = {
      {"grids, no heat", permafrost, true, 0, 2e-8},
      {"no grids", permafrost, false, 0, 1e-9},
      {"heat on", heat_section(1, "30") + permafrost, true, 0, 1e-9},
      {"section missing", "", true, 17, 1e-9},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    unsatzon_section_text s;
    s.after = r.after;
    const built b = build(s, {.permafrost = r.grids});
    EXPECT_EQ(b.status, r.status) << b.console;
    EXPECT_DOUBLE_EQ(b.module->get_parameters().reduced_k_sat, r.reduced_k_sat);
  }
}

}  // namespace
