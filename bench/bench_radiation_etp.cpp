// Throughput of the radiation-correction kernels on a synthetic terrain of
// sinusoidal ridges: the incidence loop (cell-splits per second, per thread
// count) and the shading walk (seconds per split, one process as in the
// model, where process 0 walks the whole grid); then the potential
// evapotranspiration of a daily step per cell: Penman-Monteith with one
// layer (clear-sky radiation over 16 sub-intervals, the cell's radiation,
// the night and the day part) and the methods of Hamon, Wendling and Haude;
// last the snow evaporation of two layers and the total real
// evapotranspiration of a cell.
//   build/bench_radiation_etp [cells per side] [repetitions]
// Targets: incidence >= 1e7 cell-splits/s per core, walk <= 0.1 s per split
// at 2000 x 2000; Penman-Monteith >= 1e6 and methods 2-4 >= 5e6
// cell-steps/s per core; snow evaporation >= 2e7 cell-steps/s per core.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "modelbase/memhandling.h"
#include "submodel/teilmod_solar.h"
#include "vertical/etpetr_kernels.h"
#include "vertical/etr_kernels.h"
#include "vertical/expokorr_kernels.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs cell_loop(r) over every row with 1, 2, 4, ... threads and prints the
// best rate of each thread count.
template <class F>
void rate_per_thread_count(const char* what, const char* unit, int side, int repetitions,
                           F&& cell_loop) {
  const double cells = static_cast<double>(side) * side;
  double single_rate = 0;
  for (int threads = 1; threads <= omp_get_max_threads(); threads *= 2) {
    double best = 1e300;
    for (int k = 0; k < repetitions; ++k) {
      const auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(static) num_threads(threads)
      for (int r = 1; r <= side; ++r) cell_loop(r);
      best = std::min(best, seconds_since(start));
    }
    const double rate = cells / best;
    if (threads == 1) single_rate = rate;
    std::printf("%s, %d thread(s): %.3g %s/s (%.3g per thread, efficiency %.0f %%)\n", what,
                threads, rate, unit, rate / threads, 100 * rate / (threads * single_rate));
  }
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

  // A daily step in June at 47 N: 16 daylight sub-intervals of one hour.
  double zenith_cosines[17] = {};
  for (int i = 1; i <= 16; ++i) zenith_cosines[i] = std::sin(SOLAR_PI * (i - 0.5) / 16) * 0.93;
  const double a[4] = {0.25, 0.5, 0.25, 0};
  const double cs[4] = {0.072, -0.808, 1.749, -0.239};
  const etp_radiation_setup setup{a, cs, 0.2431, true, false, false, 1260 * 24 * 0.67};
  grid_matrix& temperature = aspect;  // reused as inputs, results into correction
  for (int r = 1; r <= side; ++r)
    for (int c = 0; c <= side; ++c) temperature[r][c] = 5 + 20 * std::sin(r * 0.003 + c * 0.002);
  rate_per_thread_count(
      "Penman-Monteith, one layer, daily", "cell-steps", side, repetitions, [&](int r) {
        for (int c = 1; c <= side; ++c) {
          const double t = temperature[r][c];
          const double pressure = air_pressure_of(elevation[r][c], t);
          etp_radiation_input in;
          in.clear_sky = clear_sky_radiation(zenith_cosines, 16, 1, 0.75, pressure);
          in.radiation = 4000 + slope[r][c] * 40;
          in.albedo = 0.2;
          const etp_radiation_result rad = cell_radiation_of(setup, in);
          pm_layer layer;
          layer.coverage = 0.9;
          layer.lai = 1 + slope[r][c] * 0.1;
          layer.rc = 60;
          layer.z0 = 0.05;
          layer.ri = 50;
          layer.rss = 250;
          pm_energy energy;
          energy.dt = 1440;
          energy.rns = rad.net_shortwave;
          energy.sunshine = rad.sunshine;
          energy.a0 = 0.25;
          energy.longwave_factor = 5.67e-8 * 24;
          pm_column column;
          double sum = 0;
          for (int part = 0; part < 2; ++part) {
            const double tp = part == 0 ? t - 4 : t + 3;
            pm_weather w;
            w.temperature = tp;
            w.saturation = saturation_vapor_pressure_of(tp);
            w.vapor = 0.6 * w.saturation;
            w.pressure = pressure;
            w.wind = 2;
            energy.day = part == 1;
            energy.share = part == 0 ? 0.33 : 0.67;
            const pm_result p = penman_monteith_of(layer, w, energy, column);
            sum += p.transpiration + p.soil;
          }
          correction[r][c] = sum;
        }
      });
  rate_per_thread_count(
      "Hamon + Wendling + Haude together, daily", "cell-steps", side, repetitions, [&](int r) {
        for (int c = 1; c <= side; ++c) {
          const double t = temperature[r][c];
          // All three per cell: each method alone runs at
          // least this rate.
          correction[r][c] = hamon_etp(t, 1.1, 0.67) + wendling_etp(4000 + t, 0.2, 0.6, t) +
                             haude_etp(t, 0.29, 0.45);
        }
      });
  rate_per_thread_count(
      "snow evaporation, two layers, and the total", "cell-steps", side, repetitions, [&](int r) {
        for (int c = 1; c <= side; ++c) {
          double snow = std::max(0.0, temperature[r][c] - 10);
          double demand[2] = {2 + 0.1 * slope[r][c], 0.5};
          const char present[2] = {1, 1};
          double soil = 0.4;
          const double es = sublimate_snow(snow, demand, present, soil);
          const double layers[2] = {demand[0] * 0.5, demand[1] * 0.5};
          correction[r][c] = total_real_evapotranspiration(true, 0, 0.1, es, soil * 0.5, layers);
        }
      });
  double check = 0;
  for (int r = 1; r <= side; ++r) check += correction[r][side / 2];
  std::printf("(check sum %.6g)\n", check);
  return 0;
}
