// Throughput of the soil-column kernels on a 20-layer loam column (van
// Genuchten parameters of Carsel and Parrish 1988) per core, and the scaling
// of the water pass over many cells with the thread count:
//   - one water pass: compute_heads, 19 boundary fluxes (Darcy with the
//     relative conductivity, limit_flux without inversion), balance_layers
//     and relax_theta;
//   - one implicit heat solve with heat carried by water (M = 12);
//   - one solute transport call per tracer.
//   build/bench_soilcolumn [cells] [repetitions]
// Targets: water pass >= 2e5 passes/s, heat >= 2e6 solves/s, solutes >= 5e5
// calls/s per tracer, all per core; >= 90 % efficiency from 1 to 8 threads
// with results identical for every thread count.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include "modelbase/diagstream.h"
#include "soilwater/soilcolumn_heat.h"
#include "soilwater/soilcolumn_solutes.h"
#include "soilwater/soilcolumn_water.h"
#include "tables/soiltable.h"

namespace {

constexpr int N = 20;
constexpr size_t S = N + 1;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The per-cell arrays the solver would own, reused for every cell.
struct column_work {
  double theta0[S], theta[S], relaxed[S], theta_b[S], h[S], psi0[S], q[S], lateral[S];
  double river_in[S], river_out[S];
};

struct column {
  double d[S], z[S], theta_sat[S], theta_res[S];
};

// One water pass of one cell; the cell's starting profile depends on its index.
double water_pass(const soil_entry& soil, const column& c, int cell_index, column_work& w,
                  long& inversions) {
  ColumnCell cell{N, 18, 1, 600, -3.5, false, 0};
  const double wet = 0.02 * static_cast<double>(cell_index % 7) / 7;
  for (int i = 0; i <= N; ++i) {
    w.theta0[i] = w.theta[i] = w.relaxed[i] = std::min(0.25 + wet + 0.008 * i, 0.43);
    w.q[i] = w.lateral[i] = w.river_in[i] = w.river_out[i] = 0;
  }
  int counter = 0;
  double change = 0;
  for (int k = 0; k < 3; ++k) {
    compute_heads(soil, cell, k, w.river_in, w.river_out, w.theta0, w.relaxed, c.z, nullptr, w.h,
                  w.psi0);
    w.h[N] = w.h[N - 1];  // the bottom head is the solver's lower boundary
    w.q[0] = -2e-7;
    for (int i = 1; i < N; ++i) {
      const double k_rel = soil.relative_conductivity_from_theta(i, w.relaxed[i], 1.0);
      w.q[i] = darcy_flux(soil.ksat[static_cast<size_t>(i)] * k_rel, w.h[i], w.h[i + 1], c.d[i],
                          c.d[i + 1]);
    }
    for (int i = 1; i < N; ++i) {
      const double before = w.q[i];
      limit_flux(soil, i, c.z, w.lateral, w.h, w.theta0, w.q, cell.dt);
      if (w.q[i] != before) ++inversions;
    }
    RiverTotals totals;
    balance_layers(cell, 10, w.river_in, w.river_out, w.theta0, c.theta_sat, c.theta_res, w.q,
                   w.lateral, c.d, w.theta_b, totals);
    change = relax_theta(cell, k + 1, counter, w.river_in, w.river_out, w.theta, w.relaxed,
                         w.theta0, w.q, w.lateral, c.d);
  }
  return change + w.theta[5];
}

}  // namespace

int main(int argc, char** argv) {
  const int cells = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::ostringstream console;
  const auto diag_file = std::filesystem::temp_directory_path() / "bench_soilcolumn_diag.xml";
  soil_entry soil;
  {
    DiagStream diag(diag_file.string(), 0, console, 0, 1);
    parse_soil_line(diag, soil, "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 20 0.2 1000 1", 2);
  }
  std::filesystem::remove(std::filesystem::temp_directory_path() / "bench_soilcolumn_diag_0.xml");
  column c{};
  c.z[0] = 100;
  for (int i = 1; i <= N; ++i) {
    c.d[i] = soil.thickness[static_cast<size_t>(i)];
    c.z[i] = c.z[i - 1] - c.d[i];
    c.theta_sat[i] = soil.theta_sat[static_cast<size_t>(i)];
    c.theta_res[i] = soil.theta_res[static_cast<size_t>(i)];
  }

  // Water pass (each pass here is 3 iterations of the solver's loop).
  {
    column_work w{};
    long inversions = 0;
    double sink = 0;
    double best = 1e300;
    const int passes = 20000;
    for (int r = 0; r < repetitions; ++r) {
      const auto start = std::chrono::steady_clock::now();
      for (int p = 0; p < passes; ++p) sink += water_pass(soil, c, p, w, inversions);
      best = std::min(best, seconds_since(start));
    }
    std::printf("water iteration (heads, 19 fluxes, limiter, balance, relaxation): %.3g passes/s "
                "per core (%ld limited fluxes; checksum %.6g)\n",
                3.0 * passes / best, inversions, sink);
  }

  // Implicit heat solve with water flow, n = 20.
  {
    double lambda[S], cv[S], t[S], a[S], b[S], cc[S], r[S], x[S], macro[S], q[S];
    for (int i = 0; i <= N; ++i) {
      lambda[i] = 1.2 + 0.01 * i;
      cv[i] = 2.2e6;
      t[i] = 5 + 0.2 * i;
      macro[i] = i < 3 ? 1e-4 : 0;
      q[i] = -1e-7;
    }
    ImplicitHeatStep step{N, 12, 600, 0.9, -3, 7, false, 0, false};
    double best = 1e300, sink = 0;
    const int solves = 2000000;
    for (int rep = 0; rep < repetitions; ++rep) {
      const auto start = std::chrono::steady_clock::now();
      for (int k = 0; k < solves; ++k) {
        step.t_air = -3 + 1e-6 * (k & 1023);
        solve_heat_implicit(step, lambda, cv, c.d, t, a, b, cc, r, x, macro, q);
        sink += x[7];
      }
      best = std::min(best, seconds_since(start));
    }
    std::printf("implicit heat solve (M = 12): %.3g solves/s per core (checksum %.6g)\n",
                solves / best, sink);
  }

  // Solute transport, one evaporating and one non-evaporating tracer.
  {
    double q[S], theta[S], theta0[S], zeros[S], lateral[S], work[6][S];
    for (int i = 0; i <= N; ++i) {
      q[i] = -1e-7 * (1 + 0.01 * i);
      theta0[i] = 0.3 + 0.002 * i;
      theta[i] = theta0[i] + 1e-5;
      zeros[i] = 0;
      lateral[i] = i == 4 ? 1e-8 : 0;
    }
    const SoluteWater water{q,       theta,   theta0, c.theta_sat, c.d,  c.z,
                            lateral, zeros,   zeros,  zeros,       zeros};
    const SoluteWork wk{work[0], work[1], work[2], work[3], work[4], work[5]};
    const SoluteCell cell{N, 15, 600, 0, 2e-7, 1e-8, 1e-8, false, 0};
    for (bool evaporating : {true, false}) {
      double u[S], u0[S];
      const SoluteTracer tracer{true, evaporating, 100, 0.999999};
      double best = 1e300, sink = 0;
      const int calls = 1000000;
      for (int rep = 0; rep < repetitions; ++rep) {
        for (int i = 0; i <= N; ++i) u[i] = 1 + 0.1 * i;
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < calls; ++k) {
          SoluteTracerState st{u, u0, 0, 0, 0, nullptr, 0};
          transport_solutes(cell, water, wk, &tracer, &st, 1, nullptr);
          sink += st.interflow;
        }
        best = std::min(best, seconds_since(start));
      }
      std::printf("solute transport (%s): %.3g calls/s per tracer and core (checksum %.6g)\n",
                  evaporating ? "evaporating" : "non-evaporating", calls / best, sink);
    }
  }

  // Thread scaling of the water pass over many cells; results must not
  // depend on the thread count.
  {
    std::vector<double> results(static_cast<size_t>(cells)), reference;
    double single_rate = 0;
    for (int threads = 1; threads <= omp_get_max_threads(); threads *= 2) {
      double best = 1e300;
      for (int rep = 0; rep < repetitions; ++rep) {
        const auto start = std::chrono::steady_clock::now();
#pragma omp parallel num_threads(threads)
        {
          column_work w{};
          long inversions = 0;
#pragma omp for schedule(static)
          for (int cell_index = 0; cell_index < cells; ++cell_index)
            results[static_cast<size_t>(cell_index)] =
                water_pass(soil, c, cell_index, w, inversions);
        }
        best = std::min(best, seconds_since(start));
      }
      if (threads == 1) reference = results;
      const bool identical =
          std::memcmp(reference.data(), results.data(), results.size() * sizeof(double)) == 0;
      const double rate = cells / best;
      if (threads == 1) single_rate = rate;
      std::printf("water passes over %d cells, %d thread(s): %.3g cells/s (efficiency %.0f %%), "
                  "results %s\n",
                  cells, threads, rate, 100 * rate / (threads * single_rate),
                  identical ? "identical" : "DIFFERENT");
    }
  }
  return 0;
}
