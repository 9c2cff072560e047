// What the module tests share: a captured diagnostics stream, a control file
// in a scratch directory, an empty grid store and the settings of a grid of
// one row of three cells with one zone.
#pragma once

#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "submodel/teilmod.h"
#include "support/test_support.h"

struct module_fixture {
  module_fixture() {
    settings.control_file = control();
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = 3;
    settings.nrows = 1;
    settings.first_row = 1;
    settings.last_row = 1;
    settings.cellsize = 100;
    zone_grid = grids.matrix(1, 1, 0, 3, 1);
    soil_zone_grid = grids.matrix(1, 1, 0, 3, 1);
    for (int c = 1; c <= 3; ++c) zone_grid[1][c] = 1;
    publish(1, "zonegrid", &zone_grid);
    publish(2, "zonegrid_soilmodel", &soil_zone_grid);
  }

  void publish(int index, const std::string& name, grid_matrix* grid) {
    store[index].grid = grid;
    store[index].grid_name = name;
    store[index].file_name = name + ".asc";
  }

  // Writes the control file; every test writes its own.
  void write_control(const std::string& text) { cd.dir.write("control.$$$", text); }
  std::string control() const { return cd.dir.file("control.$$$"); }
  DiagStream* diag() { return cd.diag.get(); }
  std::string console() const { return cd.console(); }

  // The head of a module section: flow control and a 60-minute interval.
  static std::string head(const std::string& section, int flow_control) {
    return "[" + section + "]\n" + std::to_string(flow_control) +
           " flow control parameter for\n60 time interval for\n";
  }

  captured_diag cd;
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, 3}};
  settings_context settings;
  memory_handling grids;
  grid_matrix zone_grid;       // store entry 1: one zone, code 1
  grid_matrix soil_zone_grid;  // "zonegrid_soilmodel", values set by the tests
  grid_matrix regions;         // "MPIRegions" once published

  // Publishes "MPIRegions" at entry 3, every cell owned by process 0 (the
  // unsaturated zone requires it).
  void publish_regions() {
    regions = grids.matrix(1, 1, 0, 3, 1);
    publish(3, "MPIRegions", &regions);
  }
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
  std::string stat_name = "unsat.stat";
  std::string grid_name = "grid.asc";
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
    for (const char* stat : stats)
      s += stat_name + " " + std::to_string(code++) + " name of the " + stat + "statfiles in\n";
    for (int i = 0; i < 24; ++i) s += grid_name + " name\n0 writecode\n";
    s += control_cell + " control_row/column\n";
    for (int i = 0; i < 6; ++i) s += cell_file + std::to_string(i) + " control cell file\n";
    s += codes + "\n";
    for (const std::string& row : value_rows) s += row + "\n";
    s += readgrid + " read control parameter\n" + storage + " storage content file\n";
    return s + method3_lines + after;
  }
};
