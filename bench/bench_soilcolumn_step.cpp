// Throughput of the whole soil-column step (one call of the unsaturated zone
// per cell) on loam columns of 10 layers (van Genuchten parameters of
// Carsel and Parrish 1988; 0.05, 0.15 and eight of 0.2 m) under 1 mm/h of
// rain, a grass layer transpiring 0.2 mm/h and base flow, with the fixed
// (method 2) and the dynamic (method 3) water sub-step:
//   - microseconds per pass of the iteration, passes per water sub-step,
//     cell-calls per core-second;
//   - the same over all cells with 1, 2, 4 and 8 threads (static schedule),
//     the efficiency against one thread and a check that every thread count
//     gives bitwise the same columns.
//   build/bench_soilcolumn_step [cells] [calls]
// Aim: a few microseconds per pass, no allocation in the cell loop, >= 90 %
// efficiency from 1 to 8 cores.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include "modelbase/diagstream.h"
#include "soilwater/soilcolumn_step.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

namespace {

constexpr int N = 10;
constexpr size_t S = N + 1;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct grid_of_columns {
  std::vector<double> theta, h, q;  // cells x S
  std::vector<double> distance, level, theta_gw;
  explicit grid_of_columns(int cells)
      : theta(static_cast<size_t>(cells) * S), h(theta.size()), q(theta.size()),
        distance(static_cast<size_t>(cells)), level(distance.size()), theta_gw(distance.size()) {}
};

void start(grid_of_columns& g, int cells) {
  for (int i = 0; i < cells; ++i) {
    double* t = &g.theta[static_cast<size_t>(i) * S];
    const double wet = 0.02 * static_cast<double>(i % 7) / 7;
    for (int k = 0; k <= N; ++k) t[k] = k >= 8 ? 0.43 : 0.22 + wet + 0.01 * k;
    std::fill_n(&g.h[static_cast<size_t>(i) * S], S, 0.0);
    std::fill_n(&g.q[static_cast<size_t>(i) * S], S, 0.0);
    g.level[static_cast<size_t>(i)] = 7;
    g.distance[static_cast<size_t>(i)] = -1.4;
    g.theta_gw[static_cast<size_t>(i)] = t[7];
  }
}

struct run_totals {
  double seconds = 0;
  long passes = 0, substeps = 0, calls = 0;
};

run_totals run(const soil_entry& soil, const landuse_entry& grass, const double* z, int method,
               int cells, int calls, int threads, grid_of_columns& g) {
  ColumnStepSettings s;
  s.layers = N;
  s.method = method;
  s.min_step = 60;
  s.call_seconds = s.step_seconds = 3600;
  start(g, cells);
  run_totals t;
  const auto t0 = std::chrono::steady_clock::now();
  long passes = 0, substeps = 0;
#pragma omp parallel num_threads(threads) reduction(+ : passes, substeps)
  {
    ColumnWork work(N, 1);
    VegetationInput veg[2];
    veg[1] = {&grass, 0.2, 0.8, 0.5};
    ColumnInput in;
    in.soil = &soil;
    in.z = z;
    in.water_input = 1;
    in.potential_evaporation = 0.05;
    in.q0 = 0.05;
    in.kelsqlat = 0.5;
    in.vegetation = veg;
    in.river.cellsize = 100;
    for (int call = 0; call < calls; ++call) {
      in.table_from_state = call == 0;
#pragma omp for schedule(static)
      for (int i = 0; i < cells; ++i) {
        const size_t c = static_cast<size_t>(i);
        ColumnState st;
        st.theta = &g.theta[c * S];
        st.h = &g.h[c * S];
        st.q = &g.q[c * S];
        st.groundwater_distance = g.distance[c];
        st.groundwater_level = g.level[c];
        st.theta_gw = g.theta_gw[c];
        const ColumnResult r = soil_column_cell_step(s, in, st, work);
        g.distance[c] = st.groundwater_distance;
        g.level[c] = st.groundwater_level;
        g.theta_gw[c] = st.theta_gw;
        passes += r.passes;
        substeps += r.substeps;
      }
    }
  }
  t.seconds = seconds_since(t0);
  t.passes = passes;
  t.substeps = substeps;
  t.calls = static_cast<long>(cells) * calls;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const int cells = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
  const int calls = argc > 2 ? std::max(1, std::atoi(argv[2])) : 6;
  std::ostringstream console;
  const auto diag_file = std::filesystem::temp_directory_path() / "bench_soilcolumn_step_diag.xml";
  soil_entry soil;
  {
    DiagStream diag(diag_file.string(), 0, console, 0, 1);
    parse_soil_block(diag, soil,
                   "1 loam method MultipleHorizons {\n layers = 1 1 8; ksat = 2.89e-6 2.89e-6 "
                   "2.89e-6; theta_sat = 0.43 0.43 0.43; theta_res = 0.078 0.078 0.078; alpha = "
                   "3.6 3.6 3.6; Par_n = 1.56 1.56 1.56; thickness = 0.05 0.15 0.2;\n}\n");
  }
  std::filesystem::remove(std::filesystem::temp_directory_path() /
                          "bench_soilcolumn_step_diag_0.xml");
  landuse_entry grass;
  grass.RootDist = 1;
  grass.HReduDry = 3.45;
  grass.TReduWet = 0.95;
  grass.LimitReduWet = 0.5;
  double z[S];
  z[0] = 500;
  for (int k = 1; k <= N; ++k) z[k] = z[k - 1] - soil.thickness[static_cast<size_t>(k)];

  std::printf("soil-column step, %d cells of %d layers, %d calls of 1 h\n", cells, N, calls);
  for (int method : {2, 3}) {
    grid_of_columns reference(cells);
    const run_totals one = run(soil, grass, z, method, cells, calls, 1, reference);
    std::printf("method %d: %.3g us per pass, %.3g passes per water sub-step, %.3g sub-steps per "
                "call, %.3g cell-calls per core-second\n",
                method, one.seconds * 1e6 / static_cast<double>(one.passes),
                static_cast<double>(one.passes) / static_cast<double>(one.substeps),
                static_cast<double>(one.substeps) / static_cast<double>(one.calls),
                static_cast<double>(one.calls) / one.seconds);
    for (int threads : {2, 4, 8}) {
      grid_of_columns g(cells);
      const run_totals t = run(soil, grass, z, method, cells, calls, threads, g);
      const bool same = std::memcmp(g.theta.data(), reference.theta.data(),
                                    g.theta.size() * sizeof(double)) == 0;
      std::printf("  %d threads: %.3g s, efficiency %.0f %%, columns %s\n", threads, t.seconds,
                  100 * one.seconds / (t.seconds * threads), same ? "identical" : "DIFFER");
    }
  }
  return 0;
}
