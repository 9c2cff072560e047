// The staged set-up of the settings object on a small control file in a
// working directory shared by all processes of the test run: the sections
// that the tests of variable, derived and per-step grids change are
// arguments, the rest is fixed. Text grids are written with "$dir" standing
// for the directory; results go to "out/".
#pragma once

#include <mpi.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

struct control_parts {
  std::string standard = "0\n";       // "[standard_grids]" (count and lines)
  std::string variable = "0\n";       // "[variable_grids]"; empty: no section
  std::string transition = "1000\n";  // "[region_transition_distance]"; empty: no section
  std::string zone = "$dir//zones.asc";
  std::string model_time = "0\n1\n1\n2001\n23\n31\n12\n2001\n";
  std::string minutes = "0";  // from the hour of a record to the end of its step
};

inline std::string control_text(const control_parts& p) {
  std::string text = "[output_interval]\n1\n0\n0\n" + p.minutes +
                     "\nWriteAsciiGrids = 1\nWriteDoubleGrids = 0\nDefaultOutputDirectory = "
                     "$dir//out/\n\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n"
                     "[meteo_data_count]\n0\n[meteo_names]\n[zone_grid]\n" +
                     p.zone + "\n[elevation_model]\n$dir//dem.asc\n[standard_grids]\n" + p.standard;
  if (!p.variable.empty()) text += "[variable_grids]\n" + p.variable;
  text += "[model_time]\n" + p.model_time;
  if (!p.transition.empty()) text += "[region_transition_distance]\n" + p.transition;
  text +=
      "[landuse_table]\n0\n[soil_table]\n0\n[irrigation]\n0\n[radiation_correction]\n0\n"
      "[ExternalCoupling]\n0\n";
  return text;
}

// A text grid of the given rows ("-9999" for nodata), lower-left corner 0/0.
inline std::string text_grid_of(const std::string& rows, int ncols, int nrows,
                                double cellsize = 100) {
  std::ostringstream s;
  s << "ncols " << ncols << "\nnrows " << nrows << "\nxllcorner 0\nyllcorner 0\ncellsize "
    << cellsize << "\nnodata_value -9999\n"
    << rows;
  return s.str();
}

// The numbers after the six header lines of a text grid file.
inline std::vector<double> text_grid_values(const std::string& path) {
  std::istringstream in(read_file(path));
  std::string word;
  double value = 0;
  for (int k = 0; k < 6; ++k) in >> word >> value;
  std::vector<double> values;
  while (in >> value) values.push_back(value);
  return values;
}

struct settings_setup {
  // files: name -> text, "$dir" in a text is not replaced (grids need none).
  settings_setup(const control_parts& parts, const std::map<std::string, std::string>& files)
      : rank(world_rank_of()), cap(4, rank, world_size_of()) {
    dir = std::make_unique<shared_workdir>();
    if (rank == 0) {
      std::filesystem::create_directory("out");
      write("MpiSpeedFactor.dat", "1\n");
      for (const auto& [name, text] : files) {
        const std::filesystem::path path(name);
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
        write(name, text);
      }
      write("run.ctl", "$set $dir = " + dir->path() + "/\n" + control_text(parts));
    }
    MPI_Barrier(MPI_COMM_WORLD);
    unsigned status = 99;
    settings = std::make_unique<defaultini>(status, cap.diag.get(), dir->path() + "/run.ctl",
                                            &registry, 200, 2, &store);
    try {
      bool done = false;
      while (!done) settings->init_step(done);
      settings->setup_zonal_statistics();
    } catch (int thrown) {
      code = thrown;
    }
  }
  ~settings_setup() {
    settings->release();
    settings.reset();
    dir.reset();
  }
  settings_setup(const settings_setup&) = delete;
  settings_setup& operator=(const settings_setup&) = delete;

  std::string path(const std::string& name) const { return dir->path() + "/" + name; }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
  bool logged(const std::string& piece) const {
    return cap.console().find(piece) != std::string::npos;
  }
  const grid_matrix& grid(const std::string& grid_name) {
    return *store[settings->find_grid(grid_name, 1)].grid;
  }

  static int world_rank_of() {
    int r = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &r);
    return r;
  }
  static int world_size_of() {
    int n = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &n);
    return n;
  }
  static void write(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }

  int rank;
  captured_diag cap;
  std::unique_ptr<shared_workdir> dir;
  grid_store store;
  statistics_registry registry;
  std::unique_ptr<defaultini> settings;
  int code = 0;
};
