// Throughput of the surface routing: one sub-step of 60 minutes (internal
// steps between 60 and 600 s) of 10 mm of rain on a square tilted grid of
// 100 m cells with a river in the last column, methods 1, 5 and 6, on 1 and
// on all threads; microseconds per cell and internal step, internal steps
// per sub-step, passes of method 6 (one maximum all-reduce each).
//   build/bench_surfrout [cells per side] [sub-steps]
// Aim: <= 1 us per cell and internal step for methods 1 to 5 once the
// weights are unchanged, >= 90 % efficiency to 8 threads.
#include <mpi.h>
#include <omp.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/memhandling.h"
#include "routing/surfrout.h"
#include "tables/landuse.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct bench_world {
  bench_world(int side, int method) : n(side) {
    dir = std::filesystem::temp_directory_path() / ("bench_sr_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    diag = std::make_unique<DiagStream>((dir / "diag.xml").string(), 0, sink, 0, 1);
    settings.control_file = (dir / "control.txt").string();
    std::FILE* f = std::fopen(settings.control_file.c_str(), "w");
    std::fprintf(f,
                 "[SurfaceRoutingModel]\n1\n60\n%d\nqd 0\nqi 0\nqb 0\nqg "
                 "0\nv.stk\n0\nf.stk\n0\n"
                 "0.000001\n20\n0.0001\n20\n60\n600\n0.001\n1\n0\nst 0\n",
                 method);
    std::fclose(f);
    strips.assign(static_cast<size_t>(n) + 1, row_strip{1, n});
    settings.strips = &strips;
    settings.ncols = settings.nrows = n;
    settings.first_row = 1;
    settings.last_row = n;
    settings.cellsize = 100;
    zones.resize(2);
    zones[1].code = 1;
    zones[1].share = 1;
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    landuse.resize(2);
    landuse[0].code = landuse[1].code = 1;
    landuse[1].SR_cultivation = 3;
    landuse[1].SR_K_ST = 10;
    settings.landuse_table = &landuse;
    add("zonegrid", 1.0);
    add("[elevation_model]", 0);
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c)
        named("[elevation_model]")[r][c] = 0.5 * (n - c) + 0.01 * (r % 7);
    for (const char* name : {"landuse1", "vegetation_coverage_degree1", "soil_types"}) add(name, 1);
    for (const char* name : {"SurfStorSiltingUp", "directflow", "interflow", "river_links"})
      add(name, 0);
    add("river_depth", -9999);
    add("river_width", -9999);
    for (int r = 1; r <= n; ++r) {
      named("river_depth")[r][n] = 1;
      named("river_width")[r][n] = 5;
    }
    int status = 0;
    module = std::make_unique<surfaceroutingclass>(status, diag.get(), &registry, 200,
                                                   "SurfaceRoutingModel", &store, settings, 1);
    if (status == 0) module->init_tracers(status, 0, nullptr, &registry, 200);
    if (status != 0) {
      std::fprintf(stderr, "set-up failed with %d\n", status);
      std::exit(1);
    }
    qbb = make_flow_arrays(0, 1);
    module->set_qbb(&qbb);
  }
  ~bench_world() {
    module->end_run(0);
    module.reset();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
  }
  bench_world(const bench_world&) = delete;
  bench_world& operator=(const bench_world&) = delete;

  void add(const std::string& name, double value) {
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(1, n, 0, n, n)));
    grid_matrix& g = *grids.back();
    for (int r = 1; r <= n; ++r)
      for (int c = 0; c <= n; ++c) g[r][c] = value;
    const int i = name == "zonegrid" ? 1 : name == "[elevation_model]" ? 2 : store.first_free(3);
    store[i].grid = &g;
    store[i].grid_name = name;
    store[i].file_name = name;
  }
  grid_matrix& named(const std::string& name) {
    return *store[module ? module->find_grid(name, 1) : find(name)].grid;
  }
  int find(const std::string& name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return i;
    return 0;
  }
  // One sub-step of rain on what the last one left.
  double substep(int k) {
    grid_matrix& direct = named("directflow");
    grid_matrix& storage = named("SurfStorSiltingUp");
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c) direct[r][c] = storage[r][c] + 10;
    const model_date date{2001, 4, 20, k};
    module->begin_step(date);
    const auto start = std::chrono::steady_clock::now();
    module->run_substep(date, 1);
    const double s = seconds_since(start);
    module->end_step(date);
    return s;
  }

  int n;
  std::filesystem::path dir;
  std::ostringstream sink;
  std::unique_ptr<DiagStream> diag;
  settings_context settings;
  std::vector<row_strip> strips;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones;
  landuse_table_t landuse;
  grid_store store;
  statistics_registry registry;
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;
  std::unique_ptr<surfaceroutingclass> module;
  subbasin_flow_arrays qbb;
};

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  const int side = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int substeps = argc > 2 ? std::atoi(argv[2]) : 2;
  const int max_threads = omp_get_max_threads();
  std::printf(
      "surface routing, %d x %d cells, %d sub-steps of 60 min after "
      "one warm-up\n",
      side, side, substeps);
  std::printf(
      "method threads  internal steps  passes  us per cell and "
      "internal step\n");
  for (int method : {1, 5, 6})
    for (int threads : {1, max_threads}) {
      omp_set_num_threads(threads);
      bench_world w(side, method);
      w.substep(0);
      double seconds = 0;
      int steps = 0;
      for (int k = 1; k <= substeps; ++k) {
        seconds += w.substep(k);
        steps += w.module->get_internal_steps();
      }
      const double cells = static_cast<double>(side) * side;
      std::printf("%6d %7d %15d %7d %12.3f\n", method, threads, steps / substeps,
                  w.module->get_last_passes(), seconds * 1e6 / (cells * steps));
      if (threads == max_threads) break;
    }
  MPI_Finalize();
  return 0;
}
