// Cost of the whole unsaturated-zone step on a synthetic grid (default
// 1000 x 1000 loam columns of 10 layers, 100 subbasins in row bands, 10
// travel-time zones by column, every statistic on, 0 to 9 tracers): per step
// the soil columns alone, the sub-step as a whole (columns, unit copy,
// accumulation into the zone queues and statistics, control-cell rows) and
// end_step (reduction of the queue heads, storages, statistics
// rows), in CPU time of the calling thread, which a loaded machine disturbs
// far less than wall-clock time. The serial part (accumulation, copy, rows)
// is the mean difference of the first two with its standard error: the
// columns' cost changes from call to call by more than the serial part
// costs, so it takes many steps (or a profiler) to resolve it. With one
// thread the columns' CPU time is the whole column cost, and the share of
// the serial part at 8 threads follows; the accumulation runs on the threads
// as well, so for it that share is an upper bound.
//   OMP_NUM_THREADS=1 mpirun -np 1 build/bench_unsatzon_step [rows] [cols] [steps] [substeps] [tracers]
// Aim: accumulation and end_step together under 5 % of the step at 8
// threads, so that the columns stay >= 90 % efficient. Measured (300 x 300,
// one thread, profiler): accumulation and statistics 0.25 % of the run,
// about 0.5 % of a column call, so about 4 % at 8 threads. With 9 tracers
// the accumulation's work is about 3 % of a column call (250 x 250, one
// thread). Default grid, 8 threads, profiler on a loaded machine: done on
// one thread it took 0.49-0.53 s a call, about 19 % of the step; over the
// rows 0.06-0.08 s, about 3 % (no tracers: 0.08-0.09 s before, 0.03 s).
// end_step took 0.15-0.18 s with 9 tracers on one thread, about 7 %; with
// its cell pass over the rows on the threads, 0.03-0.06 s wall (profiler,
// loaded machine), about 2 %.
#include <mpi.h>
#include <omp.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/matrices.h"
#include "settings/tracer_entry.h"
#include "soilwater/unsatzon.h"
#include "tables/soiltable.h"

namespace {

constexpr int SUBBASINS = 100;
constexpr int ZONES = 10;

// CPU seconds of the calling thread.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The "[unsatzon_model]" section: method 2, every statistic on, no grids
// written, SUBBASINS subbasins with the same parameters.
std::string section(const std::string& dir) {
  std::string s = "[unsatzon_model]\n1 flow control parameter for\n60 time interval for\n";
  s += "2 methode of\n0 surface water interaction\n0 pond\n0 drainage\n0 clay\n1e-8 k_sat\n";
  s += "2 ini_gw_level\n";
  for (int i = 0; i < 16; ++i)
    s += dir + "/unsat" + std::to_string(i) + ".stat " + std::to_string(1001 + i) +
         " name of the statfiles in\n";
  for (int i = 0; i < 24; ++i) s += "grid.asc name\n0 writecode\n";
  s += "0 0 control_row/column\n";
  for (int i = 0; i < 6; ++i) s += dir + "/cell" + std::to_string(i) + " control cell file\n";
  auto row = [](const char* value) {
    std::string r;
    for (int b = 1; b <= SUBBASINS; ++b) r += std::string(value) + (b < SUBBASINS ? " " : "\n");
    return r;
  };
  for (int b = 1; b <= SUBBASINS; ++b) s += std::to_string(b) + (b < SUBBASINS ? " " : "\n");
  for (const char* v : {"3", "5", "0.5", "4", "1", "0.1"}) s += row(v);
  s += "0 read control parameter\nstate.txt storage content file\n";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int cols = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int steps = argc > 3 ? std::atoi(argv[3]) : 3;
  const int substeps = argc > 4 ? std::atoi(argv[4]) : 1;
  const int tracer_count = argc > 5 ? std::clamp(std::atoi(argv[5]), 0, 9) : 0;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bench_unsatzon_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  {
    std::ofstream(dir / "control.$$$") << section(dir.string());
    std::ostringstream console;
    DiagStream diag((dir / "diag.xml").string(), 1, console, 0, 1);

    memory_handling grids;
    grid_store store;
    settings_context settings;
    std::vector<int> zone_index{0, 1};
    std::vector<zone_record> zones(2);
    std::vector<row_strip> strips(static_cast<size_t>(rows) + 1, row_strip{1, cols});
    strips[0] = row_strip{0, -1};
    settings.control_file = (dir / "control.$$$").string();
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = cols;
    settings.nrows = rows;
    settings.first_row = 1;
    settings.last_row = rows;
    settings.cellsize = 100;
    soil_table_t soils(2);
    parse_soil_line(diag, soils[1], "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 10 0.2 1000 1", 2);
    soils[0].code = 1;
    settings.soil_table = &soils;

    std::vector<grid_matrix> held;
    held.reserve(64);
    int next = 1;
    auto publish = [&](const std::string& name, double value) -> grid_matrix& {
      held.push_back(grids.matrix(1, rows, 0, cols, rows));
      grid_matrix& g = held.back();
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) g[r][c] = value;
      store[next].grid = &g;
      store[next].grid_name = name;
      store[next].file_name = name + ".asc";
      ++next;
      return g;
    };
    publish("zonegrid", 1);
    grid_matrix& dem = publish("dem", 0);
    publish("MPIRegions", 0);
    for (const char* n :
         {"landuse1", "root_depth1", "vegetation_coverage_degree1", "leaf_area_index1",
          "SurfaceCanopyResistance1", "SurfaceIntercepResistance1", "RoughnessLength1",
          "pot_transpiration0", "pot_transpiration1", "real_transpiration0", "real_transpiration1",
          "SurfaceEvaporationResistance", "albedo", "potential_evaporation", "real_evaporation",
          "slope_angle", "temperature", "max_ponding_storage", "irrigation_codes",
          "drainage_depth", "drainage_distance", "clay_depth"})
      publish(n, 0);
    publish("soil_types", 1);
    grid_matrix& subbasin = publish("zonegrid_soilmodel", 1);
    grid_matrix& times = publish("flow_times", 0);
    grid_matrix& rain = publish("precipitation", 0);
    publish("RelCellArea", 1);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        dem[r][c] = 1000 + 0.01 * r + 0.02 * c;
        subbasin[r][c] = 1 + (r - 1) * SUBBASINS / rows;
        times[r][c] = 3600.0 * (1 + (c - 1) % ZONES);
        rain[r][c] = 0.5 + 0.1 * ((r + c) % 10);  // [mm per step]
      }

    // Tracers of 1 in the input, alternately evaporating.
    std::vector<tracer_entry> tracers(static_cast<size_t>(tracer_count) + 1);
    for (int t = 1; t <= tracer_count; ++t) {
      tracer_entry& e = tracers[static_cast<size_t>(t)];
      e.name = "t" + std::to_string(t) + "_";
      e.evaporating = t % 2;
      e.max_conc = 100;
      e.soilini = 1;
      e.path = dir.string() + "/";
      e.statext = "sta";
      e.gridext = "grd";
      e.statcode = 1001;
    }

    int status = -1;
    unsatzonmodellklasse unsat(status, &diag, nullptr, 0, "unsatzon_model", &store, settings,
                               substeps);
    for (int t = 1; t <= tracer_count; ++t)
      publish("concflux_tracer_" + std::to_string(t) + "_input", 1);
    if (status == 0) unsat.init_tracers(status, tracer_count, tracers.data(), nullptr, 0);
    if (status != 0) {
      std::fprintf(stderr, "set-up failed with %d\n%s\n", status, console.str().c_str());
      MPI_Abort(MPI_COMM_WORLD, 1);
    }
    unsat.select_input_grid(false);

    std::printf("%d x %d cells, %d subbasins, %d zones, %d sub-steps, %d tracers, %d threads\n",
                rows, cols, SUBBASINS, ZONES, substeps, tracer_count, omp_get_max_threads());
    const int threads = omp_get_max_threads();
    std::printf("CPU seconds of the calling thread (%d threads)\n", threads);
    std::printf("step  columns  sub-step  difference  end_step\n");
    double sum_columns = 0, sum_diff = 0, sum_diff2 = 0, sum_end = 0;
    for (int step = 0; step < steps; ++step) {
      const model_date date{2020, 6, 1, step};
      unsat.begin_step(date);
      double columns = 0, whole = 0;
      for (int k = 1; k <= substeps; ++k) {
        // The columns alone on a copy of the call (the state moves on: the
        // cost per call hardly changes from one call to the next).
        double t0 = thread_seconds();
        unsat.soil_column_step(date.hour, date.day, date.month, date.year);
        columns += thread_seconds() - t0;
        t0 = thread_seconds();
        unsat.run_substep(date, k);
        whole += thread_seconds() - t0;
      }
      const double t0 = thread_seconds();
      unsat.end_step(date);
      const double end = thread_seconds() - t0;
      const double diff = whole - columns;
      std::printf("%4d  %7.3f  %8.3f  %10.4f  %8.5f\n", step, columns, whole, diff, end);
      sum_columns += columns;
      sum_diff += diff;
      sum_diff2 += diff * diff;
      sum_end += end;
    }
    const double n = steps;
    const double mean = sum_diff / n, columns = sum_columns / n, end = sum_end / n;
    const double error = steps > 1 ? std::sqrt(std::max(0.0, sum_diff2 / n - mean * mean) / (n - 1)) : 0;
    std::printf("mean: columns %.4f s, serial part %.4f +- %.4f s, end_step %.5f s\n", columns,
                mean, error, end);
    if (threads == 1)
      std::printf("share of serial part and end_step at 8 threads: %.2f %% (+- %.2f %%)\n",
                  100 * (mean + end) / (columns / 8 + mean + end),
                  100 * error / (columns / 8 + mean + end));
  }
  std::filesystem::current_path(before);
  std::filesystem::remove_all(dir);
  MPI_Finalize();
  return 0;
}
