// The unsaturated zone built by its constructor on one row of three cells:
// cells 1 and 2 inside the zone grid, cell 3 outside it, every input grid of
// the other modules 0 except "soil_types" (the fixture's loam: ten layers,
// 0.05, 0.15 and eight of 0.2 m, theta_sat 0.43) and a surface at 1000 m.
// A test chooses the switches, files and grids of its run in setup_options.
#pragma once

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "settings/tracer_entry.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"
#include "tables/irrigation.h"

namespace unsatzon_setup {
constexpr int L = 10;
constexpr double SURFACE = 1000;  // [m]
constexpr double THETA_SAT = 0.43;

struct setup_options {
  std::string readgrid = "0";
  std::string ini_gw_level = "2";
  std::string pond = "0";
  bool irrigation = false;
  bool heat = false;
  bool gap = false;              // an entry after the first free one is taken
  bool foreign_etr2etp = false;  // another module published "ETR2ETP"
  double soil_type_cell2 = 1;    // "soil_types" index of cell 2
  int stack_levels = 0;          // readgrid 1, 3: levels of the theta stack file (0: none)
  double root_depth_cell2 = 0;   // [m] "root_depth1" of cell 2
  double read_distance = -0.03;  // [m] readgrid 2
  std::string control_cell = "0 0";
  int glaciers = 0;  // 1 "ice_firn", 2 dynamic glaciers; fraction 0.25 in cell 1
  // [m] thickness of layer 1 taken from layer 2, so that layer 2's bottom
  // stays at 0.2 m (0: the fixture's 0.05 m).
  double first_layer = 0;
  bool own_stat_names = false;  // each statistic its file "<name>.stat", SB_2 "sb2.stat"
  std::vector<double> flow_times = {};  // [s] "flow_times" of cells 1..3 (empty: no grid)
  double rel_cell_area = 0;        // "RelCellArea" of cells 1 and 2 (0: no grid)
  std::vector<double> lake_codes = {};  // "lake_codes" of cells 1..3 (empty: no grid)
  std::string lake_section = "";   // "[lake_model]" behind the module's sections
  bool hru = false;                // hydrologic response units on
  std::vector<double> ponding = {};     // [mm] "ponding_storage" of cells 1 and 2 (readgrid 3)
  int substeps = 1;
  std::string surface_interaction = "0";
  std::string drainage = "0";
  double drainage_depth = 0;     // [m] "drainage_depth" of every cell
  double drainage_distance = 0;  // [m] "drainage_distance" of every cell
  // Subbasin block: kelsqd [min], kelsqi [min], density, kelsqlat, Q0, snow.
  std::vector<std::string> value_rows = {"2", "3", "0.5", "4", "1", "0.1"};
  std::vector<size_t> off_statistics = {};  // statistics written with code 0 (module_fixture order)
};

// The statistics files of the reading order with own_stat_names.
inline const char* const STAT_FILES[] = {"qdrain", "gwstand", "gwn", "sb1",  "sb2",    "root",
                                  "infex",  "pond",    "qd",  "qi",   "qb",     "qg",
                                  "gwin",   "gwex",    "macro", "infilt"};

inline std::string heat_section() {
  std::string s = "[heat_transfer]\n1 heat flow control\n2 method\n0\n0\n";
  const char* names[] = {"dTModLowBoundBase", "dTModLapseRate", "dTModCDrySoil", "dTModRhoDrySoil",
                         "dTModLamDrySoil",   "dTModKmin",      "dTModLamWat",   "dTModLamIce",
                         "dTModCWater",       "dTModCIce20",    "dTModCIce0",    "dTModLatHeat",
                         "dTModRhoWater",     "dTModFactor",    "dTModSEForStat"};
  const double values[] = {12,   -0.007, 800,  1500,   0.58, 1e-10, 0.5562, 2.33,
                           4187, 1940,   2090, 334000, 1000, 1.22,  0.5};
  for (size_t i = 0; i < std::size(names); ++i)
    s += std::to_string(values[i]) + " " + names[i] + "\n";
  s += "60 dTModShortestStep\n1800 dTModLongestStep\n1 nf\n1 nt\n";
  s += "@DIR@/temper.txt temperature-file\n@DIR@/thaw.stat 1077 temperstatfiles\n";
  s += "temper.stk stack\n0 code\nthaw.asc grid\n0 code\n";
  return s;
}

struct setup_run {
  module_fixture f;
  grid_matrix dem;
  grid_matrix blocker;
  grid_matrix glacier;
  irrigation_table_t irrigation;
  grid_matrix flow_times, area, lakes, extra, hru_units;
  std::vector<hru_entry> units;
  std::unique_ptr<unsatzonmodellklasse> module;
  int status = -1;
  int first_own_entry = 0;

  explicit setup_run(const setup_options& o) {
    // Entry 2 is the elevation model; the soil zone grid moves behind the
    // inputs: cells 1 and 2 are zone 1, cell 3 outside.
    dem = f.grids.matrix(1, 1, 0, 3, 1);
    for (int c = 1; c <= 3; ++c) dem[1][c] = SURFACE;
    f.publish(2, "dem", &dem);
    f.publish_regions();
    int next = 4 + static_cast<int>(f.inputs.size());
    f.soil_zone_grid[1][1] = 1;
    f.soil_zone_grid[1][2] = 1;
    f.soil_zone_grid[1][3] = NODATA;
    f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
    glacier = f.grids.matrix(1, 1, 0, 3, 1);
    glacier[1][1] = 0.25;
    glacier[1][3] = 1;  // outside the zone grid: not counted
    if (o.glaciers == 1) f.publish(next++, "ice_firn", &glacier);
    if (o.glaciers == 2)
      for (const char* n : {"GlacierizedCells", "GlacierMassBalance", "GlacierizedCellsOld"})
        f.publish(next++, n, &glacier);
    if (o.foreign_etr2etp) {
      blocker = f.grids.matrix(1, 1, 0, 3, 1);
      f.publish(next++, "ETR2ETP", &blocker);
    }
    if (!o.flow_times.empty()) {
      flow_times = f.grids.matrix(1, 1, 0, 3, 1);
      for (int c = 1; c <= 3; ++c) flow_times[1][c] = o.flow_times[static_cast<size_t>(c - 1)];
      f.publish(next++, "flow_times", &flow_times);
    }
    if (o.rel_cell_area > 0) {
      area = f.grids.matrix(1, 1, 0, 3, 1);
      for (int c = 1; c <= 3; ++c) area[1][c] = o.rel_cell_area;
      f.publish(next++, "RelCellArea", &area);
    }
    if (!o.lake_codes.empty()) {
      lakes = f.grids.matrix(1, 1, 0, 3, 1);
      for (int c = 1; c <= 3; ++c) lakes[1][c] = o.lake_codes[static_cast<size_t>(c - 1)];
      f.publish(next++, "lake_codes", &lakes);
    }
    if (o.hru) {
      units.resize(2);
      f.settings.hru_list = &units;
      // Every cell in unit 1 ("HydrologicResponseUnits"); "extra" marks the
      // masters ("MasterHydrologicResponseUnits", nodata: no master).
      extra = f.grids.matrix(1, 1, 0, 3, 1);
      hru_units = f.grids.matrix(1, 1, 0, 3, 1);
      for (int c = 1; c <= 3; ++c) hru_units[1][c] = 1;
      f.publish(next++, "HydrologicResponseUnits", &hru_units);
      f.publish(next++, "MasterHydrologicResponseUnits", &extra);
    }
    first_own_entry = next;
    if (o.gap) {
      blocker = f.grids.matrix(1, 1, 0, 3, 1);
      f.publish(next + 3, "other_module_grid", &blocker);
    }
    if (o.irrigation) {
      irrigation.resize(2);
      irrigation[1].code = 1;
      irrigation[1].method = 1;
      irrigation[1].psi_dry = 3.45;
      irrigation[1].psi_wet = 0.6;
      f.settings.irrigation_table = &irrigation;
      grid_matrix& codes = *f.store[4 + 19].grid;  // "irrigation_codes"
      for (int c = 1; c <= 3; ++c) codes[1][c] = 1;
    }
    if (o.first_layer > 0) {
      f.soils[1].thickness[2] += f.soils[1].thickness[1] - o.first_layer;
      f.soils[1].thickness[1] = o.first_layer;
    }
    (*f.store[4 + 16].grid)[1][2] = o.soil_type_cell2;  // "soil_types"
    (*f.store[4 + 1].grid)[1][2] = o.root_depth_cell2;  // "root_depth1"
    grid_matrix& limit = *f.store[4 + 18].grid;         // "max_ponding_storage"
    for (int c = 1; c <= 3; ++c) {
      (*f.store[4 + 20].grid)[1][c] = o.drainage_depth;     // "drainage_depth"
      (*f.store[4 + 21].grid)[1][c] = o.drainage_distance;  // "drainage_distance"
    }
    for (int c = 1; c <= 3; ++c) limit[1][c] = 0.05;
    unsatzon_section_text s;
    s.codes = "1";
    s.value_rows = o.value_rows;
    s.off_statistics = o.off_statistics;
    s.readgrid = o.readgrid;
    s.ini_gw_level = o.ini_gw_level;
    s.pond = o.pond;
    s.control_cell = o.control_cell;
    s.surface_interaction = o.surface_interaction;
    s.drainage = o.drainage;
    if (o.own_stat_names)
      for (const char* n : STAT_FILES) s.stat_names.push_back("@DIR@/" + std::string(n) + ".stat");
    if (o.readgrid == "2") {
      s.grid_name = f.cd.dir.file("gw.asc");
      f.cd.dir.write("gw.asc",
                     "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\n"
                     "NODATA_value -9999\n" +
                         std::to_string(o.read_distance) + " " + std::to_string(o.read_distance) +
                         " -9999\n");
    }
    if (o.stack_levels > 0) write_state_files(s, o.stack_levels);
    if (!o.ponding.empty()) {
      s.grid_names.resize(24);
      s.grid_names[19] = f.cd.dir.file("pond.asc");  // "name of the POND-Grids in "
      f.cd.dir.write("pond.asc", "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\n"
                                 "NODATA_value -9999\n" +
                                     std::to_string(o.ponding[0]) + " " +
                                     std::to_string(o.ponding[1]) + " -9999\n");
    }
    if (o.heat) s.after = heat_section();
    s.after += o.lake_section;
    std::string text = s.text();
    for (size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
      text.replace(at, 5, f.cd.dir.path());
    f.write_control(text);
    module = std::make_unique<unsatzonmodellklasse>(status, f.diag(), nullptr, 0, "unsatzon_model",
                                                    &f.store, f.settings, o.substeps);
  }

  // The state files of readgrid 1 and 3: stacks of theta 0.3 (the theta
  // stack with theta_levels levels), heads and heights 5, grids 0.
  void write_state_files(unsatzon_section_text& s, int theta_levels) {
    captured_diag quiet;
    grid_store scratch;
    grid_object writer(*quiet.diag, scratch, 3, 1);
    s.grid_names.assign(24, "");
    auto stack_file = [&](size_t at, const char* file, int levels, double value) {
      stack_matrix m = writer.matrix_3d(1, 1, 1, 3, levels, 1);
      for (int c = 1; c <= 3; ++c)
        for (int l = 0; l <= levels; ++l) m[1][c][l] = value;
      writer.write_stack(f.cd.dir.file(file), m, levels, true, false);
      s.grid_names[at] = f.cd.dir.file(file);
    };
    stack_file(3, "theta.stk", theta_levels, 0.3);
    stack_file(4, "hh.stk", L, 5);
    stack_file(5, "hgeo.stk", L, 5);
    grid_matrix g = writer.matrix(1, 1, 1, 3, 1);
    writer.write_grid(f.cd.dir.file("zero.asc"), g, true, false);
    s.grid_name = f.cd.dir.file("zero.asc");
  }

  // Publishes a grid of another module at the first free store entry.
  void publish_next(const std::string& grid_name, grid_matrix* grid) {
    int i = 1;
    while (f.store[i].grid_name.has_value()) ++i;
    f.publish(i, grid_name, grid);
  }

  int entry_of(const std::string& grid_name) const {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (f.store[i].grid_name == grid_name) return i;
    return 0;
  }
  grid_matrix& grid(const std::string& grid_name) { return *f.store[entry_of(grid_name)].grid; }
  stack_matrix& stack(const std::string& grid_name) { return *f.store[entry_of(grid_name)].stack; }
};


}  // namespace unsatzon_setup
