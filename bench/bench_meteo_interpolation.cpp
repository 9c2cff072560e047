// Interpolation of station data over a grid the size of a large basin.
//
// Default mode, a whole-process run: meteointerpol::interpolate (IDW, weight
// 2, every station within reach) over a side x side grid of 100 m cells with
// n stations for a number of hourly steps, each step followed by
// read_next_record as in the time loop. The rows are divided into equal
// blocks among the MPI processes; each process's cell loop uses
// OMP_NUM_THREADS threads. Prints the set-up time, the time of the steps
// (the slowest process) and cell-steps per second over the whole grid.
//
//   OMP_NUM_THREADS=2 mpirun -np 2 bench_meteo_interpolation [side] [stations] [steps] [directory]
//   (defaults 2000 100 5, the system's temporary directory)
//
// Kernel mode, the per-cell kernels alone: for each method (IDW weight 2, a
// general weight 2.5, Thiessen, Thiessen with a lapse rate and an inversion)
// the whole grid on 1 thread and on the OpenMP threads available; prints
// cell-steps per second per core and the parallel efficiency, and checks
// that every thread count gives bit-identical grids.
//
//   bench_meteo_interpolation kernels [side] [stations]
#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "meteo/meteoint.h"
#include "meteo/meteoint_weights.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/settings_context.h"

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

struct release_input {
  void operator()(meteointerpol *input) const {
    input->release();
    delete input;
  }
};

constexpr double CELL = 100; // [m]

// Station k of n: spread over the grid by two primes, altitudes 300 to 2300 m.
double station_x(int k, int side) { return std::fmod(7919.0 * k, side * CELL); }
double station_y(int k, int side) { return std::fmod(104729.0 * k, side * CELL); }
double station_z(int k) { return 300 + std::fmod(37.0 * k, 2000.0); }

// Header and one row per hour from 1.1.2001 0 h to hour steps; the rows stay
// within the day, so steps is at most 23.
void write_station_file(const std::string &path, int n, int side, int steps) {
  std::ofstream out(path);
  out << "benchmark stations\nYY MM DD HH";
  for (int k = 1; k <= n; ++k) out << ' ' << station_z(k);
  out << "\nYY MM DD HH";
  for (int k = 1; k <= n; ++k) out << ' ' << station_x(k, side);
  out << "\nYY MM DD HH";
  for (int k = 1; k <= n; ++k) out << ' ' << station_y(k, side);
  out << "\nYY MM DD HH";
  for (int k = 1; k <= n; ++k) out << " s" << k;
  out << '\n';
  for (int h = 0; h <= steps; ++h) {
    out << "2001 1 1 " << h;
    for (int k = 1; k <= n; ++k)
      out << ' ' << 10 - 0.0065 * station_z(k) + std::sin(k + 0.1 * h);
    out << '\n';
  }
}

int run_whole(int side, int n, int steps, const std::filesystem::path &base) {
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  const std::filesystem::path dir = base / "velmo_bench_meteo_interpolation";
  const std::string station_path = (dir / "stations.txt").string();
  const std::string control_path = (dir / "bench.ctl").string();
  if (rank == 0) {
    std::filesystem::create_directories(dir);
    write_station_file(station_path, n, side, steps);
    // Method 1, weight 2, a search radius beyond the grid, no limits hit.
    std::ofstream(control_path)
        << "[temperature]\n1 method\n" << station_path
        << "\nnone.txt name of the regression file\nresult.asc\n0\n1\nnone.sta 0\n9999\n2\n"
           "0.5\n1e7\n0\n1\n-100\n-90\n100\n90\n0\n";
  }
  MPI_Barrier(MPI_COMM_WORLD);

  // Equal blocks of rows, one zone over the whole grid.
  const int first = 1 + static_cast<int>(static_cast<int64_t>(side) * rank / size);
  const int last = static_cast<int>(static_cast<int64_t>(side) * (rank + 1) / size);
  std::ostringstream console;
  DiagStream diag((dir / ("bench_diag_" + std::to_string(rank) + ".xml")).string(), 0,
                  console, rank, size);
  settings_context ctx;
  ctx.control_file = control_path;
  ctx.ncols = ctx.nrows = side;
  ctx.first_row = first;
  ctx.last_row = last;
  ctx.cellsize = CELL;
  ctx.start_date = model_date{2001, 1, 1, 0};
  ctx.end_date = model_date{2001, 1, 2, 0};
  ctx.output_control = 1000;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones(2);
  zones[1].code = 1;
  zones[1].share = 1;
  ctx.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
  std::vector<row_strip> strips(static_cast<size_t>(side) + 1, row_strip{1, side});
  strips[0] = row_strip{0, -1};
  ctx.strips = &strips;
  memory_handling grids;
  grid_store store;
  grid_matrix zone = grids.matrix(first, last, 1, side, side);
  grid_matrix area = grids.matrix(first, last, 1, side, side);
  grid_matrix x = grids.matrix(first, last, 1, side, side);
  grid_matrix y = grids.matrix(first, last, 1, side, side);
  grid_matrix regions = grids.matrix(first, last, 1, side, side);
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= side; ++c) {
      zone[r][c] = area[r][c] = 1;
      x[r][c] = CELL * (c - 1);
      y[r][c] = CELL * (side - r);
      regions[r][c] = rank;
    }
  const char *names[5] = {"zonegrid", "RelCellArea", "CoordX", "CoordY", "MPIRegions"};
  grid_matrix *held[5] = {&zone, &area, &x, &y, &regions};
  for (int i = 0; i < 5; ++i) {
    store[i + 1].grid = held[i];
    store[i + 1].grid_name = names[i];
    store[i + 1].file_name = std::string(names[i]) + ".asc";
  }
  statistics_registry registry;

  const double set_up_start = MPI_Wtime();
  int status = 0;
  std::unique_ptr<meteointerpol, release_input> input(
      new meteointerpol(status, &diag, &registry, 200, "temperature", &store, ctx, 6));
  if (status != 0) {
    std::cerr << "set-up failed with code " << status << "\n" << console.str();
    MPI_Abort(MPI_COMM_WORLD, status);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  const double steps_start = MPI_Wtime();
  int done = 0;
  while (done < steps && input->is_end_of_data() == 0) {
    int64_t hour = 0, day = 0, month = 0, year = 0;
    input->get_current_date(hour, day, month, year);
    input->interpolate(hour, day, month, year);
    input->read_next_record();
    ++done;
  }
  const double own_seconds = MPI_Wtime() - steps_start;
  double seconds = 0;
  MPI_Reduce(&own_seconds, &seconds, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
  // A check value summed row by row, then over the processes in rank order.
  const grid_matrix &result = input->result();
  std::vector<double> row_sums;
  for (int r = first; r <= last; ++r) {
    double sum = 0;
    for (int c = 1; c <= side; ++c) sum += result[r][c];
    row_sums.push_back(sum);
  }
  double own_sum = 0;
  for (double v : row_sums) own_sum += v;
  std::vector<double> sums(static_cast<size_t>(size));
  MPI_Gather(&own_sum, 1, MPI_DOUBLE, sums.data(), 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (rank == 0) {
    double checksum = 0;
    for (double v : sums) checksum += v;
    const double cell_steps = static_cast<double>(side) * side * done;
    std::printf("%d x %d cells, %d stations, %d steps, %d processes x %d threads\n"
                "set-up %.3f s, steps %.3f s: %.4g cell-steps/s (last grid's sum %.10g)\n",
                side, side, n, done, size, omp_get_max_threads(), steps_start - set_up_start,
                seconds, cell_steps / seconds, checksum);
  }
  input.reset();
  MPI_Barrier(MPI_COMM_WORLD);
  if (rank == 0) std::filesystem::remove_all(dir);
  return done == steps ? 0 : 1;
}

int run_kernels(int side, int n) {
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

} // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int code = 0;
  if (argc > 1 && std::strcmp(argv[1], "kernels") == 0) {
    code = run_kernels(argc > 2 ? std::atoi(argv[2]) : 2000, argc > 3 ? std::atoi(argv[3]) : 100);
  } else {
    const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int n = argc > 2 ? std::atoi(argv[2]) : 100;
    const int steps = std::clamp(argc > 3 ? std::atoi(argv[3]) : 5, 1, 23);
    code = run_whole(side, n, steps,
                     argc > 4 ? std::filesystem::path(argv[4])
                              : std::filesystem::temp_directory_path());
  }
  MPI_Finalize();
  return code;
}
