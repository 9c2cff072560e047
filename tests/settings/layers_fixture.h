// A small run of the settings object's staged set-up on one process, for the
// tests of the vegetation layers, the daily land-use update and the code
// checks: a control file assembled from the parts a case changes, the grid
// files it names in a scratch directory, and the set-up run to its end (or
// to the code it throws).
#pragma once

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

namespace layers_fixture {

// A text grid of ncols x nrows cells given row by row ("1 2\n3 4\n").
inline std::string text_grid(const std::string& rows, int ncols, int nrows) {
  std::ostringstream s;
  s << "ncols " << ncols << "\nnrows " << nrows
    << "\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
    << rows;
  return s.str();
}

// The sections a case changes; the rest of the control file is fixed.
struct control_parts {
  std::string standard_grids = "0\n";  // count and lines of "[standard_grids]"
  std::string multilayer;              // whole "[multilayer_landuse]" section, or none
  std::string landuse = "0\n";         // body of "[landuse_table]"
  std::string soil = "0\n";            // body of "[soil_table]"
  std::string irrigation = "0\n";      // body of "[irrigation]" (and what follows it)
  std::string model_time = "0\n1\n1\n2001\n23\n31\n12\n2001\n";
  int min_to_int_end = 60;  // [min]: the day ends on the step of hour 23
};

inline std::string control_text(const control_parts& p) {
  return "[output_interval]\n1\n0\n0\n" + std::to_string(p.min_to_int_end) +
         "\nDefaultOutputDirectory = $dir//\n"
         "[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n"
         "[meteo_names]\n[zone_grid]\n$dir//zones.asc\n[elevation_model]\n$dir//dem.asc\n"
         "[standard_grids]\n" +
         p.standard_grids + "[variable_grids]\n0\n[region_transition_distance]\n1000\n" +
         "[model_time]\n" + p.model_time + p.multilayer + "[landuse_table]\n" + p.landuse +
         "[soil_table]\n" + p.soil + "[irrigation]\n" + p.irrigation +
         "[radiation_correction]\n0\n";
}

// The set-up of a control file with its grid files (names relative to the
// scratch directory, "$dir" in the control file).
struct settings_run {
  settings_run(const control_parts& parts, const std::map<std::string, std::string>& files,
               int soil_model_mode = 2) {
    cap.dir.write("MpiSpeedFactor.dat", "1\n");
    for (const auto& [name, text] : files) cap.dir.write(name, text);
    cap.dir.write("run.ctl", "$set $dir = " + cap.dir.path() + "/\n" + control_text(parts));
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) old_dir = cwd;
    EXPECT_EQ(chdir(cap.dir.path().c_str()), 0);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            &registry, 200, soil_model_mode, &store);
    bool done = false;
    try {
      while (!done && calls < 100) {
        settings->init_step(done);
        ++calls;
      }
    } catch (int c) {
      code = c;
    }
  }
  ~settings_run() {
    if (!released) settings->release();
    if (!old_dir.empty()) {
      EXPECT_EQ(chdir(old_dir.c_str()), 0);
    }
  }
  settings_run(const settings_run&) = delete;
  settings_run& operator=(const settings_run&) = delete;

  void release() {
    settings->release();
    released = true;
  }
  bool logged(const std::string& piece) const {
    return cap.console().find(piece) != std::string::npos;
  }
  // The grid of a store entry by name (fails the test when absent).
  const grid_matrix& grid(const std::string& grid_name) {
    const int index = settings->find_grid(grid_name, 1);
    EXPECT_GT(index, 0) << grid_name;
    static const grid_matrix none;
    return index > 0 && store[index].grid != nullptr ? *store[index].grid : none;
  }
  double value(const std::string& grid_name, int row, int col) {
    const grid_matrix& g = grid(grid_name);
    return g.empty() ? -1e300 : g[row][col];
  }
  // A grid of the test registered in the store under grid_name (rows 1..nrows).
  grid_matrix& add_grid(const std::string& grid_name, int ncols, int nrows, double value) {
    own = settings->matrix(1, nrows, 1, ncols, nrows);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) own[r][c] = value;
    settings->register_grid(store.first_free(1), grid_name, &own, nullptr, 0, grid_name, 0, 1,
                            nrows);
    return own;
  }

  captured_diag cap;
  std::string old_dir;
  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  grid_matrix own;
  int calls = 0;
  int code = 0;
  bool released = false;
};

}  // namespace layers_fixture
