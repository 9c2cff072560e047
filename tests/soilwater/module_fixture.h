// What the module tests share: a captured diagnostics stream, a control file
// in a scratch directory, an empty grid store and the settings of a grid of
// one row of three cells with one zone.
#pragma once

#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "modelbase/gridstore.h"
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
};

// Occurrences of pattern in text.
inline int count_of(const std::string& text, const std::string& pattern) {
  int n = 0;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
    ++n;
  return n;
}
