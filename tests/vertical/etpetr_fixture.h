// A one-row grid with the evapotranspiration module's inputs in the grid
// store and its section written from fields, so that each test states only
// what it changes.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "support/test_support.h"
#include "tables/multilayer.h"
#include "vertical/etpetr.h"

// The lines of "[evapotranspiration]" in reading order.
struct etp_section {
  int flow_control = 1;
  int interval = 1440;  // [min]
  int method = 1;
  std::string pec = "1 1 1 1 1 1 1 1 1 1 1 1";
  std::string fh = "0.29 0.29 0.29 0.29 0.29 0.29 0.29 0.29 0.29 0.29 0.29 0.29";
  double fk = 0.6;
  std::string pot_grid = "pot.asc";
  std::string coefficients = "0.25 0.5 0.25 0";
  std::string cs = "0.072 -0.808 1.749 -0.239";
  std::string transmissivity = "0.75 0.05";
  std::string height_scale = "1000";
  std::string amplitudes = "0 0 0 0 0 0 0 0 0 0 0 0";
  std::string fractions = "0.5 0";
  std::string cloudiness_line;  // line 30, none when empty

  std::string text() const {
    const std::string i = std::to_string(interval);
    return "[evapotranspiration]\n" + std::to_string(flow_control) + " flow control\n" + i +
           " time interval\n" + std::to_string(method) + " Methode fuer\n" + pec + "\n" + fh +
           "\n" + std::to_string(fk) + " fk - Coastfactor (WENDLING) for\n" + pot_grid +
           " Name of the ETP-Grids for\n0 Writegrid ETP for\npot.txt 0 Name of "
           "ETP-stat.file\netr.asc Name of the ETR-Grids\n0 Writegrid ETR\netr.txt 0 "
           "stat\nevap.asc grid\n0 write\nevap.txt 0 stat\nevr.asc grid\n0 write\nevr.txt 0 "
           "stat\nsnev.asc grid\n0 write\nsnev.txt 0 stat\neip.asc grid\n0 write\neip.txt 0 "
           "stat\nrgex.txt 0 RGEX stat\n" +
           coefficients + " a0..a3\n" + cs + " CS\n" + transmissivity + " tau\n" + height_scale +
           " H\n" + amplitudes + " amplitudes\n" + fractions + " fractions\n" + cloudiness_line +
           "\n[snow_model]\n0\n1440\n";
  }
};

struct etp_fixture {
  // values: grid name -> the value of every cell; grids named in nodata_cells
  // hold nodata in the cells given.
  explicit etp_fixture(const std::map<std::string, double>& values, int columns = 3)
      : ncols(columns) {
    settings.control_file = cd.dir.file("control.$$$");
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    strips = {row_strip{0, -1}, row_strip{1, ncols}};
    settings.strips = &strips;
    settings.ncols = ncols;
    settings.nrows = 1;
    settings.first_row = 1;
    settings.last_row = 1;
    settings.cellsize = 100;
    settings.latitude = 47;
    settings.longitude = 8;
    settings.reference_meridian = 15;
    add("zonegrid", 1);
    for (const auto& [name, value] : values) add(name, value);
  }

  grid_matrix& add(const std::string& name, double value) {
    grid_matrix& g = grids.emplace_back(memory.matrix(0, 2, 0, ncols, 1));
    for (int r = 0; r <= 2; ++r)
      for (int c = 0; c <= ncols; ++c) g[r][c] = value;
    const int i = static_cast<int>(grids.size());
    store[i].grid = &g;
    store[i].grid_name = name;
    store[i].file_name = name + ".asc";
    return g;
  }

  // A multilayer table whose first class has the given layer count.
  void use_layers(int layers) {
    multilayer.assign(2, multilayer_landuse_entry{});
    multilayer[1].layer_count = layers;
    settings.multilayer_table = &multilayer;
  }

  std::unique_ptr<verdunstungsmodellklasse> build(const etp_section& section, int& status) {
    cd.dir.write("control.$$$", section.text());
    return std::make_unique<verdunstungsmodellklasse>(status, cd.diag.get(), &registry, 200,
                                                      "evapotranspiration", &store, settings);
  }

  int index_of(const std::string& name) const {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return i;
    return 0;
  }
  grid_matrix& named(const std::string& name) {
    const int i = index_of(name);
    if (i == 0) {
      ADD_FAILURE() << name << " not in the store";
      return *store[1].grid;
    }
    return *store[i].grid;
  }
  bool logged(const std::string& piece) const {
    return cd.console().find(piece) != std::string::npos;
  }

  int ncols;
  captured_diag cd;
  grid_store store;
  statistics_registry registry;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips;
  multilayer_table_t multilayer;
  settings_context settings;
  memory_handling memory;
  std::deque<grid_matrix> grids;
};

// The inputs of one grass cell by Penman-Monteith, fed global radiation and
// sunshine.
inline std::map<std::string, double> grass_inputs() {
  return {{"temperature", 20},
          {"temperature_night", 20},
          {"[elevation_model]", 100},
          {"landuse1", 1},
          {"wind_speed", 2},
          {"leaf_area_index1", 2.88},
          {"root_depth1", 0.5},
          {"vegetation_coverage_degree1", 1},
          {"SurfaceCanopyResistance1", 54},
          {"SurfaceIntercepResistance1", 54},
          {"RoughnessLength1", 0.0148},
          {"SurfaceEvaporationResistance", 250},
          {"albedo", 0.23},
          {"global_radiation", 5000},
          {"sunshine_duration", 0.6},
          {"vapor_pressure", 14}};
}
