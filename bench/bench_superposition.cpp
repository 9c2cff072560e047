// Kernel loops of the regional superposition and of the spline surface.
//
// Superposition: 6 input grids over side x side cells, three regions with a
// transition zone of two regions over a third of the cells, on 1 thread and
// on the OpenMP threads available; prints cell-steps per second per core and
// checks that every thread count gives a bit-identical grid.
//
// Spline against IDW: a mesh of 10 x 10 stations over the same grid, one
// step of the spline surface (column and row splines, sampling) against one
// step of inverse-distance weighting (weight 2, every station within reach),
// each on the OpenMP threads available; prints both times and their ratio.
//
//   OMP_NUM_THREADS=4 bench_superposition [side] [steps]   (defaults 2000 3)
#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "meteo/meteoint_splines.h"
#include "meteo/meteoint_weights.h"
#include "meteo/superposition_kernels.h"
#include "modelbase/memhandling.h"

namespace {

constexpr int INPUTS = 6;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct superposition_case {
  int side = 0;
  std::vector<double> inputs;  // [input][cell]
  std::vector<double> region1, share1, region2, share2;
  std::vector<int> ranks;
  superposition_weights weights;
};

superposition_case make_case(int side) {
  superposition_case s;
  s.side = side;
  const size_t cells = static_cast<size_t>(side) * static_cast<size_t>(side);
  s.inputs.resize(cells * INPUTS);
  s.region1.resize(cells);
  s.share1.resize(cells);
  s.region2.resize(cells);
  s.share2.resize(cells);
  s.ranks.assign(13, 0);
  s.ranks[3] = 1;
  s.ranks[7] = 2;
  s.ranks[12] = 3;
  const double codes[3] = {3, 7, 12};
  for (size_t k = 0; k < cells; ++k) {
    const size_t col = k % static_cast<size_t>(side);
    const int region = static_cast<int>(3 * col / static_cast<size_t>(side));
    s.region1[k] = codes[region];
    const bool transition = k % 3 == 0;
    s.share1[k] = transition ? 0.6 : 1.0;
    s.region2[k] = transition ? codes[(region + 1) % 3] : 0;
    s.share2[k] = transition ? 0.4 : 0.0;
    for (int i = 0; i < INPUTS; ++i)
      s.inputs[static_cast<size_t>(i) * cells + k] = std::sin(0.001 * static_cast<double>(k) + i);
  }
  s.weights.inputs = INPUTS;
  s.weights.regions = 3;
  s.weights.weights.assign(static_cast<size_t>(INPUTS) * 4, 0.0);
  for (int i = 0; i < INPUTS; ++i)
    for (int k = 1; k <= 3; ++k)
      s.weights.weights[static_cast<size_t>(i) * 4 + static_cast<size_t>(k)] = 1.0 / INPUTS;
  return s;
}

double superpose_all(const superposition_case& s, int threads, std::vector<double>& out) {
  const auto start = std::chrono::steady_clock::now();
  const size_t cells = static_cast<size_t>(s.side) * static_cast<size_t>(s.side);
#pragma omp parallel num_threads(threads)
  {
    double values[INPUTS];
#pragma omp for schedule(static)
    for (int r = 0; r < s.side; ++r)
      for (int c = 0; c < s.side; ++c) {
        const size_t k =
            static_cast<size_t>(r) * static_cast<size_t>(s.side) + static_cast<size_t>(c);
        for (int i = 0; i < INPUTS; ++i) values[i] = s.inputs[static_cast<size_t>(i) * cells + k];
        const int rank2 = s.region2[k] > 0 ? region_rank(s.ranks, s.region2[k]) : 0;
        out[k] = superpose_cell(s.weights, values, region_rank(s.ranks, s.region1[k]), s.share1[k],
                                rank2, s.share2[k], 0, 0);
      }
  }
  return seconds_since(start);
}

void bench_superposition(int side, int steps) {
  const superposition_case s = make_case(side);
  const size_t cells = static_cast<size_t>(side) * static_cast<size_t>(side);
  std::vector<double> one(cells), many(cells);
  const int threads = omp_get_max_threads();
  double t1 = 0, tn = 0;
  for (int k = 0; k < steps; ++k) {
    t1 += superpose_all(s, 1, one);
    tn += superpose_all(s, threads, many);
  }
  const double cell_steps = static_cast<double>(cells) * steps;
  std::printf("superposition, %d inputs, %d x %d cells, %d steps\n", INPUTS, side, side, steps);
  std::printf("  1 thread : %.3f s, %.3g cell-steps/s per core\n", t1, cell_steps / t1);
  std::printf("  %d threads: %.3f s, %.3g cell-steps/s per core, efficiency %.2f\n", threads, tn,
              cell_steps / tn / threads, t1 / tn / threads);
  std::printf("  identical on 1 and %d threads: %s\n", threads, one == many ? "yes" : "NO");
}

void bench_spline_against_idw(int side) {
  memory_handling mh;
  grid_matrix x = mh.matrix(1, side, 1, side, side);
  grid_matrix y = mh.matrix(1, side, 1, side, side);
  grid_matrix spline_out = mh.matrix(1, side, 1, side, side);
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) {
      x[r][c] = 100.0 * (c - 1);
      y[r][c] = 100.0 * (side - r);
    }
  // 10 x 10 stations spread over the grid, row 1 on top.
  constexpr int MESH = 10;
  const double spacing = 100.0 * (side - 1) / (MESH - 1);
  mesh_matrix nx(MESH + 1, std::vector<double>(MESH + 1, 0.0)), ny = nx, v = nx, y2 = nx;
  std::vector<double> sx(1), sy(1), sv(1), sz(1);
  for (int i = 1; i <= MESH; ++i)
    for (int j = 1; j <= MESH; ++j) {
      const size_t ii = static_cast<size_t>(i), jj = static_cast<size_t>(j);
      nx[ii][jj] = spacing * (j - 1);
      ny[ii][jj] = spacing * (MESH - i);
      v[ii][jj] = std::sin(nx[ii][jj] / 30000) + std::cos(ny[ii][jj] / 20000);
      sx.push_back(nx[ii][jj]);
      sy.push_back(ny[ii][jj]);
      sv.push_back(v[ii][jj]);
      sz.push_back(0);
    }
  const spline_frame frame{0, 0, 100, -9999, 0, spacing, 1, side, side};
  TSplines surface(nx, ny, &x, &y, nullptr, frame, nullptr);
  auto start = std::chrono::steady_clock::now();
  surface.column_second_derivatives(v, y2);
  surface.interpolate_to_grid(v, y2, spline_out);
  const double t_spline = seconds_since(start);

  const station_view view{MESH * MESH, sv.data(), sx.data(), sy.data(), sz.data()};
  const idw_settings p{9999, 2000, 2, 1e18, 1};
  std::vector<double> idw_out(static_cast<size_t>(side) * static_cast<size_t>(side));
  start = std::chrono::steady_clock::now();
#pragma omp parallel
  {
    std::vector<double> buffer(MESH * MESH + 1);
#pragma omp for schedule(static)
    for (int r = 1; r <= side; ++r)
      for (int c = 1; c <= side; ++c)
        idw_out[static_cast<size_t>(r - 1) * static_cast<size_t>(side) +
                static_cast<size_t>(c - 1)] = idw(view, buffer.data(), x[r][c], y[r][c], p);
  }
  const double t_idw = seconds_since(start);
  std::printf("spline surface against IDW, %d stations, %d x %d cells, %d threads\n", MESH * MESH,
              side, side, omp_get_max_threads());
  std::printf("  spline step %.3f s, IDW step %.3f s, spline / IDW %.2f\n", t_spline, t_idw,
              t_spline / t_idw);
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 3;
  if (side < 10 || steps < 1) {
    std::fprintf(stderr, "usage: bench_superposition [side >= 10] [steps >= 1]\n");
    return 2;
  }
  bench_superposition(side, steps);
  bench_spline_against_idw(side);
  return 0;
}
