// Per-cell interpolation kernels over a grid the size of a large basin: for
// each method (IDW weight 2, a general weight 2.5, Thiessen, Thiessen with a
// lapse rate and an inversion) the whole grid is interpolated from n
// stations on 1 thread and on the OpenMP threads available, one weights
// buffer per thread, rows scheduled statically as the cell loop does.
// Prints cell-steps per second per core and the parallel efficiency, and
// checks that every thread count gives bit-identical grids.
//
//   bench_meteo_interpolation [cells per side] [stations]
#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "meteo/meteoint_weights.h"

namespace {

using cell_kernel =
    std::function<double(double *buffer, double x, double y, double z)>;

double run(int side, int stations, int threads, const cell_kernel &kernel,
           std::vector<double> &grid) {
  const auto start = std::chrono::steady_clock::now();
#pragma omp parallel num_threads(threads)
  {
    std::vector<double> buffer(static_cast<size_t>(stations) + 1);
#pragma omp for schedule(static)
    for (int r = 0; r < side; ++r)
      for (int c = 0; c < side; ++c) {
        const double x = 100.0 * c, y = 100.0 * r;
        grid[static_cast<size_t>(r) * side + c] =
            kernel(buffer.data(), x, y, 300 + 0.1 * ((r * 7 + c * 13) % 5000));
      }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

} // namespace

int main(int argc, char **argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int n = argc > 2 ? std::atoi(argv[2]) : 100;
  std::vector<double> v(n + 1), x(n + 1), y(n + 1), z(n + 1);
  for (int k = 1; k <= n; ++k) {
    x[k] = std::fmod(7919.0 * k, side * 100.0);
    y[k] = std::fmod(104729.0 * k, side * 100.0);
    z[k] = 300 + std::fmod(37.0 * k, 2000.0);
    v[k] = 10 - 0.0065 * z[k] + std::sin(k);
  }
  const station_view s{n, v.data(), x.data(), y.data(), z.data()};
  idw_settings two{9999, 2000, 2, 1e18, 1};
  idw_settings general{9999, 2500, 2.5, 1e9, 1};
  const lapse_settings lapse{-0.0065, 1000, 0.002, 0};
  struct method {
    const char *name;
    cell_kernel kernel;
  };
  const method methods[] = {
      {"IDW weight 2", [&](double *b, double px, double py,
                           double) { return idw(s, b, px, py, two); }},
      {"IDW weight 2.5", [&](double *b, double px, double py,
                             double) { return idw(s, b, px, py, general); }},
      {"Thiessen", [&](double *b, double px, double py,
                       double) { return thiessen(s, b, px, py, 9999); }},
      {"Thiessen + lapse rate",
       [&](double *, double px, double py, double pz) {
         return thiessen_with_gradient(s, px, py, pz, lapse, 9999);
       }},
  };
  const int max_threads = omp_get_max_threads();
  const double cells = static_cast<double>(side) * side;
  std::printf("%d x %d cells, %d stations, up to %d threads\n", side, side, n,
              max_threads);
  bool identical = true;
  for (const method &m : methods) {
    std::vector<double> one(static_cast<size_t>(side) * side), many(one.size());
    const double t1 = run(side, n, 1, m.kernel, one);
    const double tn = run(side, n, max_threads, m.kernel, many);
    const bool same =
        std::memcmp(one.data(), many.data(), one.size() * sizeof(double)) == 0;
    identical = identical && same;
    std::printf("%-22s 1 thread: %.3g cell-steps/s; %d threads: %.3g per core, "
                "efficiency %.0f %%%s\n",
                m.name, cells / t1, max_threads, cells / tn / max_threads,
                100.0 * t1 / (tn * max_threads), same ? "" : "  GRIDS DIFFER");
  }
  return identical ? 0 : 1;
}
