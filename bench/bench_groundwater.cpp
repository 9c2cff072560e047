// Throughput of the groundwater flow solver on one layer of a realistic grid
// (default 2000 x 2000 cells of 50 m, a sloping surface, varied conductivity,
// fixed heads along the western edge, an inflow field): sweeps of method 1
// (red-black over-relaxation, cell updates/s) and passes of method 2 (one
// tridiagonal solve per row, cells/s) with 1, 2, 4, ... threads, and a whole
// sub-step. One process; the halo exchanges are then empty.
//   build/bench_groundwater [cells per side] [repetitions]
// Targets: method 1 >= 3e7 cell updates/s and method 2 >= 3e7 cells/s per
// core; OpenMP efficiency >= 80 % from 1 to 8 threads.
#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "soilwater/gwflow.h"
#include "tables/soiltable.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct bench_grids {
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;
  int side = 0;

  template <class Value>
  void add(grid_store& store, const std::string& name, Value value) {
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(0, side + 1, 0, side + 1, side + 1)));
    grid_matrix& g = *grids.back();
#pragma omp parallel for schedule(static)
    for (int r = 0; r <= side + 1; ++r)
      for (int c = 0; c <= side + 1; ++c) g[r][c] = value(r, c);
    const int i = name == "zonegrid" ? 1 : store.first_free(2);
    store[i].grid = &g;
    store[i].grid_name = name;
    store[i].file_name = name + ".asc";
  }
};

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  const int side = argc > 1 ? std::max(8, std::atoi(argv[1])) : 2000;
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("bench_groundwater_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string control = (folder / "control.txt").string();
  std::ofstream(control) << "[groundwater_flow]\n1 flow\n60 interval\n1 method\n1 maxiter\n"
                            "1e-6 maxerror\n1 alpha\n0 sor\n0 readgrid\n1 layers\n0 0 control\n"
                            "cp.txt file\nh.asc\n0\nqx.asc\n0\nqy.asc\n0\nb.asc\n0\n";
  std::ostringstream console;
  DiagStream diag((folder / "diag.xml").string(), 0, console, 0, 1);

  grid_store store;
  bench_grids g;
  g.side = side;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones(2);
  zones[1].code = 1;
  std::vector<row_strip> strips(static_cast<size_t>(side) + 1, row_strip{1, side});
  strips[0] = row_strip{0, -1};
  std::vector<soil_entry> soils(2);
  soils[1].total_depth = 20;
  settings_context settings;
  settings.control_file = control;
  settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
  settings.strips = &strips;
  settings.ncols = settings.nrows = side;
  settings.first_row = 1;
  settings.last_row = side;
  settings.cellsize = 50;
  settings.soil_table = &soils;
  auto constant = [](double v) { return [v](int, int) { return v; }; };
  g.add(store, "zonegrid", constant(1));
  g.add(store, "[elevation_model]", [](int r, int c) { return 500 - 0.02 * c + 0.01 * r; });
  g.add(store, "MPIRegions", constant(0));
  g.add(store, "groundwater_recharge", constant(0));
  g.add(store, "groundwater_distance", [](int r, int c) { return -2 - 0.1 * ((r + 3 * c) % 17); });
  g.add(store, "soil_types", constant(1));
  g.add(store, "baseflow", constant(0));
  g.add(store, "aquifer_thickness_1", constant(20));
  g.add(store, "gw_k_x_1", [](int r, int c) { return 1e-4 * (1 + 0.5 * ((r * c) % 5)); });
  g.add(store, "gw_k_y_1", [](int r, int c) { return 1e-4 * (1 + 0.5 * ((r + c) % 3)); });
  g.add(store, "gw_storage_coeff_1", constant(0.15));
  g.add(store, "gw_boundary_fix_h_1", [](int, int c) { return c == 1 ? 480.0 : NODATA; });
  g.add(store, "gw_boundary_fix_q_1", constant(3e-9));

  int status = 0;
  gwflowclass module(status, &diag, nullptr, 0, "groundwater_flow", &store, settings, 1,
                     settings.zone_table);
  if (status != 0) {
    std::fprintf(stderr, "set-up failed with %d\n%s\n", status, console.str().c_str());
    return 1;
  }
  module.time_step(12, 1, 6, 2001);  // dt, start heads and transmissivities
  const double cells = static_cast<double>(side) * side;
  std::printf("groundwater solver, %d x %d cells, best of %d\n", side, side, repetitions);
  const int max_threads = omp_get_max_threads();
  struct measure {
    const char* what;
    int which;  // 1 sweep, 2 direct pass, 3 whole sub-step
  };
  for (const measure m : {measure{"method 1 sweep", 1}, measure{"method 2 pass", 2},
                          measure{"sub-step (method 1, one sweep)", 3}}) {
    double single_rate = 0;
    for (int threads = 1; threads <= max_threads; threads *= 2) {
      omp_set_num_threads(threads);
      double best = 1e300;
      for (int k = 0; k < repetitions; ++k) {
        const auto start = std::chrono::steady_clock::now();
        if (m.which == 1) module.sor_sweep(1);
        if (m.which == 2) module.solve_rows_direct(1);
        if (m.which == 3) module.time_step(12, 1, 6, 2001);
        best = std::min(best, seconds_since(start));
      }
      const double rate = cells / best;
      if (threads == 1) single_rate = rate;
      std::printf("%s, %d thread(s): %.3g cells/s (%.3g per thread, efficiency %.0f %%)\n", m.what,
                  threads, rate, rate / threads, 100 * rate / (threads * single_rate));
    }
  }
  omp_set_num_threads(max_threads);
  module.release();
  diag.close();
  std::filesystem::remove_all(folder);
  MPI_Finalize();
  return 0;
}
