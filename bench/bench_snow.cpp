// Throughput of the snow-cover kernels over a grid of cells, one step of one
// cell part per cell (rain/snow split, accumulation, melt, holding and
// outflow): degree-day melt with hourly steps, and the energy balance of
// method 5 with daily steps (a night and a day call). The state lives in flat
// arrays allocated before the loop; the loop allocates nothing.
//   build/bench_snow [cells per side] [repetitions]
// Targets: degree-day >= 1e7 and energy balance >= 2e5 cell-steps/s per
// core; OpenMP efficiency >= 90 % from 1 to 8 threads.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "snow/snowcover_kernels.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct cell_state {
  snow_part part;
  snow_fractions fractions;
};

// Runs step(row, repetition) over every row with 1, 2, 4, ... threads and
// prints the best rate of each thread count.
template <class F>
void rate_per_thread_count(const char* what, int side, int repetitions, F&& step) {
  const double cells = static_cast<double>(side) * side;
  double single_rate = 0;
  for (int threads = 1; threads <= omp_get_max_threads(); threads *= 2) {
    double best = 1e300;
    for (int k = 0; k < repetitions; ++k) {
      const auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(static) num_threads(threads)
      for (int r = 0; r < side; ++r) step(r, k);
      best = std::min(best, seconds_since(start));
    }
    const double rate = cells / best;
    if (threads == 1) single_rate = rate;
    std::printf("%s, %d thread(s): %.3g cell-steps/s (%.3g per thread, efficiency %.0f %%)\n", what,
                threads, rate, rate / threads, 100 * rate / (threads * single_rate));
  }
}

snow_cover_params params_of(int method, double interval) {
  snow_cover_params p;
  p.method = method;
  p.T0R = 1;
  p.transzone = 1;
  p.CWH = 0.1;
  p.C0 = 3;
  p.C1 = 2;
  p.C2 = 0.5;
  p.interval_min = interval;
  p.steps_per_day = 1440 / interval;
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const size_t cells = static_cast<size_t>(side) * static_cast<size_t>(side);
  std::vector<cell_state> state(cells);
  std::vector<double> temperature(cells), input(cells), outflow(cells);
  for (size_t i = 0; i < cells; ++i) {
    temperature[i] = -6 + 10 * std::sin(0.001 * static_cast<double>(i));
    input[i] = 0.5 + 0.5 * std::cos(0.0007 * static_cast<double>(i));
    state[i].part.solid = state[i].part.total = 50;
  }
  std::printf("%d x %d cells, %d thread(s) available\n", side, side, omp_get_max_threads());

  auto run = [&](const char* what, const snow_cover_params& p, int share_steps) {
    rate_per_thread_count(what, side, repetitions, [&](int r, int k) {
      const size_t first = static_cast<size_t>(r) * static_cast<size_t>(side);
      for (size_t i = first; i < first + static_cast<size_t>(side); ++i) {
        snow_forcing in;
        in.input = input[i];
        in.wind = 2;
        in.humidity = 0.7;
        in.cloudiness = 0.4;
        in.radiation = 150 * p.interval_min / 60;
        in.albedo = 0.7;
        in.elevation = 1200;
        const double t = temperature[i] + 0.1 * k;
        const snow_step_result s =
            snow_part_step(p, in, t, t - 3 * share_steps, 0.5, state[i].part, state[i].fractions);
        outflow[i] = s.outflow;
      }
    });
  };
  run("degree-day (method 1), hourly", params_of(1, 60), 0);
  run("energy balance (method 5), daily, two calls", params_of(5, 1440), 1);

  double sum = 0;
  for (size_t i = 0; i < cells; i += 997) sum += outflow[i] + state[i].part.total;
  size_t snowy = 0;
  for (const cell_state& c : state) snowy += c.part.solid > 0 ? 1 : 0;
  // The share of cells that still run the energy balance of a snow pack.
  std::printf("check sum %.6g, cells with snow at the end: %.0f %%\n", sum,
              100.0 * static_cast<double>(snowy) / static_cast<double>(cells));
  return 0;
}
