// Throughput of the interception module (one vegetation layer, method 1) and
// of the silting-up module (methods 1, 2 and 3 with ten statements) over a
// whole step of the module, statistics off, on a square grid with 1, 2, 4,
// ... threads.
//   build/bench_interception_siltingup [cells per side] [steps]
// Targets at 2000 x 2000: interception >= 1e7 cell-steps/s per core,
// silting-up methods 1 and 2 >= 2e6, method 3 >= 1e5; >= 90 % efficiency
// from 1 to 8 threads.
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/memhandling.h"
#include "modelbase/modelobject.h"
#include "soilwater/siltingup.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"
#include "vertical/interzep.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const char* LANDUSE =
    "[landuse_table]\n1\n"
    "1 field method VariableDayCount {\n"
    "  RootDist = 1.0; TReduWet = 0.9; HReduDry = 3.45;\n  Albedo = 0.15 0.2 0.25 0.3;\n"
    "  rsc = 80 60 70 90;\n  LAI = 1 2 3 4;\n  Z0 = 0.02 0.05 0.1 0.2;\n"
    "  VCF = 0.5 0.6 0.7 0.8;\n  RootDepth = 0.2 0.4 0.5 0.6;\n  AltDep = 0 0 0 0;\n"
    "  JulDays = 1 100 200 366;\n  SoilTillage = 100 250;\n  IntercepCap = 0.2;\n}\n";

// Ten statements: method 1 restated, with two more in each part.
const char* STATEMENTS =
    "SiltingUpExpressions {\n"
    "  X = 65; S1 = K^0.52; S2 = (100*L)^-0.64; Y = 12.2 * S1 * S2;\n"
    "  Z = 0.013 * (100*L)^-1.03 * K^0.7 * (O + (O <= 0))^-0.19 * (O > 0);\n"
    "  W = (P > 0.05) * (P < 76.2) * (11.89 + 8.73 * log10(P + (P <= 0.05))) + (P >= 76.2) * "
    "28.33;\n"
    "  V = Y + (X - Y) * exp(-Z * Q); V = V * R / 60; T1 = V; T2 = T1;\n}\n";

struct bench_world {
  explicit bench_world(int side) : n(side) {
    dir = std::filesystem::temp_directory_path() / ("bench_int_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    diag = std::make_unique<DiagStream>((dir / "diag.xml").string(), 0, sink, 0, 1);
    settings.control_file = (dir / "control.$$$").string();
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    strips.assign(static_cast<size_t>(n) + 2, row_strip{1, n});
    strips[0] = row_strip{0, -1};
    settings.strips = &strips;
    settings.ncols = settings.nrows = n;
    settings.first_row = 1;
    settings.last_row = n;
    settings.cellsize = 100;
    zones[1].code = 1;
    zones[1].share = 1;
    write("landuse.txt", LANDUSE);
    modelobject reader(diag.get(), (dir / "landuse.txt").string());
    reader.open_control_file();
    read_landuse_table(reader, 2, landuse);
    settings.landuse_table = &landuse;
    soils.resize(2);
    soils[1].sand = 0.5;
    soils[1].silt = 0.3;
    soils[1].clay = 0.2;
    settings.soil_table = &soils;
    add("zonegrid", 1);
    add("[elevation_model]", 500);
  }
  ~bench_world() {
    diag.reset();
    std::filesystem::remove_all(dir);
  }

  void write(const std::string& file, const std::string& text) const {
    std::ofstream(dir / file) << text;
  }

  grid_matrix& add(const std::string& grid_name, double value) {
    const int i = store.first_free(1);
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(0, n + 1, 0, n, n)));
    grid_matrix& g = *grids.back();
    for (int r = 0; r <= n + 1; ++r)
      for (int c = 0; c <= n; ++c) g[r][c] = value;
    store[i].grid = &g;
    store[i].grid_name = grid_name;
    store[i].file_name = grid_name + ".asc";
    return g;
  }

  int n;
  std::filesystem::path dir;
  std::ostringstream sink;
  std::unique_ptr<DiagStream> diag;
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips;
  landuse_table_t landuse;
  std::vector<soil_entry> soils;
  settings_context settings;
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;
};

// Runs step() with 1, 2, 4, ... threads and prints the best rate of each.
template <class Step>
void rates(const char* what, double cells, int steps, Step&& step) {
  double single = 0;
  static const int max_threads = omp_get_max_threads();
  for (int threads = 1; threads <= max_threads; threads *= 2) {
    omp_set_num_threads(threads);
    double best = 1e300;
    for (int k = 0; k < steps; ++k) {
      const auto start = std::chrono::steady_clock::now();
      step(k);
      best = std::min(best, seconds_since(start));
    }
    const double rate = cells / best;
    if (threads == 1) single = rate;
    std::printf("%s, %d thread(s): %.3g cell-steps/s (%.3g per thread, efficiency %.0f %%)\n", what,
                threads, rate, rate / threads, 100 * rate / (threads * single));
    std::fflush(stdout);
  }
  omp_set_num_threads(max_threads);
}

void bench_interception(int side, int steps) {
  bench_world w(side);
  grid_matrix& p = w.add("precipitation", 0);
  w.add("landuse1", 1);
  w.add("leaf_area_index1", 3);
  w.add("vegetation_coverage_degree1", 0.7);
  for (const char* name : {"pot_transpiration", "potential_InterceptionEvap", "real_transpiration"})
    for (int l = 0; l <= 1; ++l) w.add(name + std::to_string(l), 0.1);
  w.write("control.$$$",
          "[interception_model]\n1\n60\n1\ntf.asc\n0\ntf.stat 0\nie.asc\n0\nie.stat 0\n"
          "is.asc\n0\nis.stat 0\n0.35\n0\n");
  int status = 0;
  interzeptionsmodellklasse m(status, w.diag.get(), nullptr, 0, "interception_model", &w.store,
                              w.settings);
  if (status != 0) {
    std::printf("interception set-up failed: %d\n", status);
    return;
  }
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) p[r][c] = (r + c) % 5 * 0.4;
  rates("interception, one layer", static_cast<double>(side) * side, steps,
        [&](int k) { m.time_step(k % 24, 20, 4, 2021); });
  m.release();
}

void bench_silting(int side, int steps, const std::string& method_lines, const char* what) {
  bench_world w(side);
  w.add("landuse1", 1);
  w.add("vegetation_coverage_degree1", 0.2);
  w.add("soil_types", 1);
  w.add("SurfStorSiltingUp", 0);
  grid_matrix& input = w.add("throughfall0", 0);
  w.write("control.$$$",
          "[SiltingUpModel]\n1\n60\n" + method_lines.substr(0, method_lines.find('|')) +
              "sd.stat 0\nqd.stat 0\nsd.asc\n0\nrp.asc\n0\nek.asc\n0\nts.asc\n0\nqd.asc\n0\n"
              "1\n2\n0\n" +
              method_lines.substr(method_lines.find('|') + 1));
  int status = 0;
  siltingupclass m(status, w.diag.get(), nullptr, 0, "SiltingUpModel", &w.store, w.settings);
  if (status != 0) {
    std::printf("silting-up set-up failed: %d\n", status);
    return;
  }
  m.select_input_grid(0);
  // The module lowers the input in place; it stays rain above the capacity
  // of most cells from step to step.
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) input[r][c] = 20 + (r + c) % 9 * 10.0;
  rates(what, static_cast<double>(side) * side, steps,
        [&](int k) { m.time_step(k % 24, 20, 4, 2021); });
  m.release();
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int steps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::printf("%d x %d cells, best of %d steps\n", side, side, steps);
  bench_interception(side, steps);
  bench_silting(side, steps, "|", "silting-up, method 1");
  bench_silting(side, steps, "2\n|65\n12.2\n0.52\n-0.64\n0.013\n-1.03\n0.7\n-0.19\n",
                "silting-up, method 2");
  bench_silting(side / 4, steps, std::string("3\n|") + STATEMENTS,
                "silting-up, method 3 (ten statements, a quarter of the side)");
  return 0;
}
