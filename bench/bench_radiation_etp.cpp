// Throughput of the radiation-correction kernels on a synthetic terrain of
// sinusoidal ridges: the incidence loop (cell-splits per second, per thread
// count) and the shading walk (seconds per split, one process as in the
// model, where process 0 walks the whole grid).
//   build/bench_radiation_etp [cells per side] [repetitions]
// Targets: incidence >= 1e7 cell-splits/s per core, walk <= 0.1 s per split
// at 2000 x 2000.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "modelbase/memhandling.h"
#include "submodel/teilmod_solar.h"
#include "vertical/expokorr_kernels.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  memory_handling grids;
  grid_matrix elevation = grids.matrix(1, side, 0, side, side);
  grid_matrix zone = grids.matrix(1, side, 0, side, side);
  grid_matrix aspect = grids.matrix(1, side, 0, side, side);
  grid_matrix slope = grids.matrix(1, side, 0, side, side);
  grid_matrix shadow = grids.matrix(1, side, 0, side, side);
  grid_matrix correction = grids.matrix(1, side, 0, side, side);
  for (int r = 1; r <= side; ++r)
    for (int c = 0; c <= side; ++c) {
      elevation[r][c] = 1000 + 300 * std::sin(r * 0.01) * std::cos(c * 0.013);
      zone[r][c] = 1;
      aspect[r][c] = std::fmod(r * 7.0 + c * 3.0, 360);
      slope[r][c] = std::fmod(r * 0.3 + c * 0.2, 45);
      shadow[r][c] = (r + c) % 7 == 0 ? 1 : 0;
      correction[r][c] = 0;
    }
  const double cells = static_cast<double>(side) * side;

  const int max_threads = omp_get_max_threads();
  double single_rate = 0;
  for (int threads = 1; threads <= max_threads; threads *= 2) {
    double best = 1e300;
    for (int k = 0; k < repetitions; ++k) {
      const auto start = std::chrono::steady_clock::now();
      const double azimuth = 2.5 + 0.01 * k, zenith = 0.9;
#pragma omp parallel for schedule(static) num_threads(threads)
      for (int r = 1; r <= side; ++r)
        for (int c = 1; c <= side; ++c) {
          const incidence_input cell{aspect[r][c], slope[r][c], shadow[r][c] >= 0.5, false, 1};
          correction[r][c] += capped_incidence(cell, azimuth, zenith, SOLAR_PI) * 1000;
        }
      best = std::min(best, seconds_since(start));
    }
    const double rate = cells / best;
    if (threads == 1) single_rate = rate;
    std::printf(
        "incidence loop, %d thread(s): %.3g cell-splits/s (%.3g per "
        "thread, efficiency %.0f %%)\n",
        threads, rate, rate / threads, 100 * rate / (threads * single_rate));
  }

  const shading_frame frame{side, side, 25, -9999};
  double best_walk = 1e300;
  for (int k = 0; k < repetitions; ++k) {
    const double azimuth = 1.0 + 0.9 * k;  // every quadrant in turn
    const auto start = std::chrono::steady_clock::now();
    shading_walk(frame, elevation, zone, shadow, std::fmod(azimuth, 6.28), 0.05);
    best_walk = std::min(best_walk, seconds_since(start));
  }
  double shaded = 0;
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) shaded += shadow[r][c];
  std::printf("shading walk: %.4f s per split (%.1f %% of the cells shaded)\n", best_walk,
              100 * shaded / cells);
  return 0;
}
