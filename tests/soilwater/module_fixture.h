// What the module tests share: a captured diagnostics stream, a control file
// in a scratch directory, an empty grid store and the settings of a grid of
// one row of three cells with one zone.
#pragma once

#include <algorithm>

#include <filesystem>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "submodel/teilmod.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

struct module_fixture {
  // rows: grid rows, each held whole on every process; the process's own
  // band is row 1 unless a test moves it.
  explicit module_fixture(int rows = 1) : nrows(rows) {
    settings.control_file = control();
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    strips.assign(static_cast<size_t>(rows) + 1, row_strip{1, 3});
    strips[0] = row_strip{0, -1};
    settings.strips = &strips;
    settings.ncols = 3;
    settings.nrows = rows;
    settings.first_row = 1;
    settings.last_row = 1;
    settings.cellsize = 100;
    zone_grid = grids.matrix(1, rows, 0, 3, rows);
    soil_zone_grid = grids.matrix(1, rows, 0, 3, rows);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= 3; ++c) zone_grid[r][c] = 1;
    publish(1, "zonegrid", &zone_grid);
    publish(2, "zonegrid_soilmodel", &soil_zone_grid);
  }

  void publish(int index, const std::string& name, grid_matrix* grid) {
    store[index].grid = grid;
    store[index].grid_name = name;
    store[index].file_name = name + ".asc";
  }

  // Writes the control file; every test writes its own.
  // "@DIR@" in text stands for the scratch folder.
  void write_control(std::string text) {
    for (size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
      text.replace(at, 5, cd.dir.path());
    cd.dir.write("control.$$$", text);
  }
  std::string control() const { return cd.dir.file("control.$$$"); }
  DiagStream* diag() { return cd.diag.get(); }
  std::string console() const { return cd.console(); }

  // The head of a module section: flow control and a 60-minute interval.
  static std::string head(const std::string& section, int flow_control) {
    return "[" + section + "]\n" + std::to_string(flow_control) +
           " flow control parameter for\n60 time interval for\n";
  }

  captured_diag cd;
  // The module writes "modell_<rank>.log" and some grids into the working
  // directory: each test works in its scratch folder.
  struct working_folder {
    std::filesystem::path before = std::filesystem::current_path();
    explicit working_folder(const std::string& dir) { std::filesystem::current_path(dir); }
    ~working_folder() { std::filesystem::current_path(before); }
    working_folder(const working_folder&) = delete;
    working_folder& operator=(const working_folder&) = delete;
  } cwd{cd.dir.path()};
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  int nrows = 1;
  std::vector<row_strip> strips;
  settings_context settings;
  memory_handling grids;
  grid_matrix zone_grid;       // store entry 1: one zone, code 1
  grid_matrix soil_zone_grid;  // "zonegrid_soilmodel", values set by the tests
  grid_matrix regions;         // "MPIRegions" once published

  // Publishes "MPIRegions" at entry 3, every cell owned by process 0 (the
  // unsaturated zone requires it), and the other grids and the soil table the
  // unsaturated zone needs.
  void publish_regions() {
    regions = grids.matrix(1, nrows, 0, 3, nrows);
    publish(3, "MPIRegions", &regions);
    publish_soil_inputs(4);
  }

  // The grids of other modules the unsaturated zone links, from entry first
  // on, all 0 except "soil_types" (soil type 1, a loam of ten layers 0.2 m
  // thick); irrigation, heat and ponding inputs included.
  void publish_soil_inputs(int first) {
    captured_diag parse;
    soils.resize(2);
    parse_soil_line(*parse.diag, soils[1],
                    "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 10 0.2 1000 1", 2);
    soils[0].code = 1;
    settings.soil_table = &soils;
    const std::vector<std::string> names = {"landuse1",
                                            "root_depth1",
                                            "vegetation_coverage_degree1",
                                            "leaf_area_index1",
                                            "SurfaceCanopyResistance1",
                                            "SurfaceIntercepResistance1",
                                            "RoughnessLength1",
                                            "pot_transpiration0",
                                            "pot_transpiration1",
                                            "real_transpiration0",
                                            "real_transpiration1",
                                            "SurfaceEvaporationResistance",
                                            "albedo",
                                            "potential_evaporation",
                                            "real_evaporation",
                                            "slope_angle",
                                            "soil_types",
                                            "temperature",
                                            "max_ponding_storage",
                                            "irrigation_codes",
                                            "drainage_depth",
                                            "drainage_distance",
                                            "clay_depth"};
    inputs.clear();
    inputs.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      inputs.push_back(grids.matrix(1, nrows, 0, 3, nrows));
      if (names[i] == "soil_types")
        for (int r = 1; r <= nrows; ++r)
          for (int c = 1; c <= 3; ++c) inputs.back()[r][c] = 1;
      publish(first + static_cast<int>(i), names[i], &inputs.back());
    }
  }
  std::vector<grid_matrix> inputs;
  soil_table_t soils;
};

// Occurrences of pattern in text.
inline int count_of(const std::string& text, const std::string& pattern) {
  int n = 0;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
    ++n;
  return n;
}

// A whole "[unsatzon_model]" section in the reading order of the module;
// each field is the text of its line(s), so a test changes the one it is
// about.
struct unsatzon_section_text {
  int flow_control = 1;
  std::string method = "2";
  std::string surface_interaction = "0";
  std::string pond = "0";
  std::string drainage = "0";
  std::string clay = "0";
  std::string k_sat_clay = "1e-8";
  std::string ini_gw_level = "2";
  std::string stat_name = "@DIR@/unsat.stat";
  // Per statistics file of the reading order a name of its own (empty:
  // stat_name).
  std::vector<std::string> stat_names;
  std::string grid_name = "grid.asc";
  // Per grid file of the reading order a name of its own (empty: grid_name).
  std::vector<std::string> grid_names;
  std::string control_cell = "0 0";
  // The six control-cell files are this name with 0..5 appended; only a
  // control cell other than 0 0 creates them.
  std::string cell_file = "@DIR@/cell";  // "@DIR@": a test's scratch folder
  // Subbasin block: codes then kelsqd, kelsqi, density, kelsqlat, Q0, snow.
  std::string codes = "1 3";
  std::vector<std::string> value_rows = {"2 0.0005", "3 4", "0.5 0.5", "4 -1", "1 1", "0.1 0.2"};
  std::string readgrid = "0";
  std::string storage = "state.txt";
  std::string method3_lines;  // the four values of method 3
  std::string after;          // further sections
  std::vector<size_t> off_statistics;  // indices into the statistics list written with code 0

  std::string text() const { return module_fixture::head("unsatzon_model", flow_control) + body(); }

  // The section behind its head.
  std::string body() const {
    static const char* const stats[] = {"QDRAIN", "GWSTAND", "GWN",   "SB_1_", "SB_2_", "ROOT",
                                        "INFEX",  "POND",    "QD",    "QI",    "QB",    "Qg",
                                        "GWIN",   "GWEX",    "MACRO", "INFILT"};
    std::string s = method + " methode of\n" + surface_interaction +
                    " surface water interaction\n" + pond + " pond\n" + drainage + " drainage\n" +
                    clay + " clay\n" + k_sat_clay + " k_sat\n" + ini_gw_level + " ini_gw_level\n";
    int code = 1001;
    for (size_t i = 0; i < std::size(stats); ++i) {
      const bool off = std::find(off_statistics.begin(), off_statistics.end(), i) !=
                       off_statistics.end();
      s += (i < stat_names.size() && !stat_names[i].empty() ? stat_names[i] : stat_name) + " " +
           std::to_string(off ? 0 : code) + " name of the " + stats[i] + "statfiles in\n";
      ++code;
    }
    for (size_t i = 0; i < 24; ++i)
      s += (i < grid_names.size() && !grid_names[i].empty() ? grid_names[i] : grid_name) +
           " name\n0 writecode\n";
    s += control_cell + " control_row/column\n";
    for (int i = 0; i < 6; ++i) s += cell_file + std::to_string(i) + " control cell file\n";
    s += codes + "\n";
    for (const std::string& row : value_rows) s += row + "\n";
    s += readgrid + " read control parameter\n" + storage + " storage content file\n";
    return s + method3_lines + after;
  }
};
