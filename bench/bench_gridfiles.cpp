// Throughput of the grid files: write and read of an n x n grid (default
// 4000) as text, single and double binary grid, in MB/s of file size.
//
//   mpirun -np 1 bench_gridfiles [n] [directory]
//   mpirun -np 4 bench_gridfiles [n] [directory]
//
// Process 0 writes the whole grid (as after a gather). Every process reads:
// binary grids in parallel, each process its own band of rows; text grids by
// process 0 alone. Each process owns an equal band of rows; no zone grid, so
// no rows are scattered after a whole read. Times are the slowest process's,
// best of three runs.
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"

namespace {

class bench_object : public modelobject {
 public:
  bench_object(DiagStream& stream, int n, int rank_, int size_) : modelobject(&stream, "") {
    name = "bench_gridfiles";
    ncols = n;
    nrows = n;
    xllcorner = 3456789.5;
    yllcorner = 5432100;
    cellsize = 25;
    nodata = NODATA;
    // Process p owns band p of equal rows, northern rows to the highest rank.
    const int band = (n + size_ - 1) / size_;
    const int from_south = size_ - 1 - rank_;
    first_row = std::min(n, from_south * band + 1);
    last_row = std::min(n, (from_south + 1) * band);
  }
};

double now() { return MPI_Wtime(); }

// Slowest process's time of f, best of three.
template <class F>
double timed(F f) {
  double best = 1e30;
  for (int run = 0; run < 3; ++run) {
    MPI_Barrier(MPI_COMM_WORLD);
    const double start = now();
    f();
    double mine = now() - start;
    double slowest = 0;
    MPI_Allreduce(&mine, &slowest, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    best = std::min(best, slowest);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  const int n = argc > 1 ? std::atoi(argv[1]) : 4000;
  std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  {
    DiagStream diag(dir + "/bench_gridfiles_diag.xml", 0);
    bench_object object(diag, n, rank, size);
    grid_matrix grid;
    if (rank == 0) {
      grid = object.matrix(1, n, 1, n, 0);
      for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) grid[r][c] = ((r * 7919 + c * 104729) % 10000) / 4.0;
    }
    struct format {
      const char* name;
      bool text;
      bool dbl;
    };
    if (rank == 0)
      std::printf("%d x %d grid, %d process(es)\n%-8s %10s %10s %10s %10s %10s\n", n, n, size,
                  "format", "size MB", "write s", "write MB/s", "read s", "read MB/s");
    for (const format& f : {format{"text", true, false}, format{"single", false, false},
                            format{"double", false, true}}) {
      const std::string path = dir + "/bench_grid_" + f.name + "_" + std::to_string(size);
      const double write_s = timed([&] {
        if (rank == 0) object.write_grid(path, grid, f.text, f.dbl);
      });
      double megabytes = 0;
      if (rank == 0) megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
      MPI_Bcast(&megabytes, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
      grid_matrix back;
      const double read_s = timed([&] {
        back = grid_matrix();
        object.read_grid(path, back, 0, true, false, 0, false, false, false, false);
      });
      // A check that the rows came back (values of quarters keep all their
      // digits in text).
      const int row = back.first_row();
      if (rank == 0 && std::abs(back[row][n] - ((row * 7919 + n * 104729) % 10000) / 4.0) > 1e-3)
        std::printf("WRONG VALUE in %s\n", f.name);
      if (rank == 0)
        std::printf("%-8s %10.1f %10.3f %10.1f %10.3f %10.1f\n", f.name, megabytes, write_s,
                    megabytes / write_s, read_s, megabytes / read_s);
      MPI_Barrier(MPI_COMM_WORLD);
      if (rank == 0) std::filesystem::remove(path);
    }
    diag.close();
    if (rank == 0) std::filesystem::remove(dir + "/bench_gridfiles_diag_0.xml");
  }
  MPI_Finalize();
  return 0;
}
