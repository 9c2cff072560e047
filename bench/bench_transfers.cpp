// Throughput of the transfers of grid rows: scatter, gather and halo exchange
// of a 4000 x 4000 grid divided among the processes of the run.
//   mpirun -np 4 build/bench_transfers [cells per side] [repetitions]
// Reports, per operation, the bytes that crossed between processes and MB/s
// (best of the repetitions). With one process nothing moves.
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "settings/mpidivision.h"
#include "settings/zonetable.h"

namespace {

class bench_object : public modelobject {
 public:
  bench_object(DiagStream& stream, grid_store& shared, int side) : modelobject(&stream, "") {
    name = "bench_transfers";
    ncols = side;
    nrows = side;
    first_row = 1;
    last_row = side;
    cellsize = 100;
    set_grid_store(&shared);
  }
  void adopt(int band_first, int band_last, const mpi_division& d, std::vector<row_strip>* spans,
             const std::vector<halo_run>* send, const std::vector<halo_run>* receive) {
    first_row = band_first;
    last_row = band_last;
    mpi_regions = &d.regions;
    mpi_helper = &d.helper;
    strips = spans;
    halo_send = send;
    halo_receive = receive;
  }
};

// Best wall time of repetitions of op, all processes in step.
double best_time(int repetitions, const std::function<void()>& op) {
  double best = 1e300;
  for (int k = 0; k < repetitions; ++k) {
    MPI_Barrier(MPI_COMM_WORLD);
    const double start = MPI_Wtime();
    op();
    MPI_Barrier(MPI_COMM_WORLD);
    best = std::min(best, MPI_Wtime() - start);
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
  const int side = argc > 1 ? std::atoi(argv[1]) : 4000;
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;

  // A scratch directory with a speed file, so that no speed benchmark runs.
  char dir_name[256] = {0};
  if (rank == 0) {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmo_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) pattern.copy(dir_name, sizeof dir_name - 1);
    std::ofstream(std::string(dir_name) + "/" + SPEED_FILE_NAME) << "1\n";
  }
  MPI_Bcast(dir_name, sizeof dir_name, MPI_CHAR, 0, MPI_COMM_WORLD);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_name);

  std::ostringstream quiet;
  int status = 0;
  {
    DiagStream diag("bench_diag.xml", 0, quiet, rank, size);
    grid_store store;
    bench_object object(diag, store, side);
    grid_matrix zone;
    if (rank == 0) {
      zone = object.matrix(1, side, 1, side, 0);
      for (int r = 1; r <= side; ++r)
        for (int c = 1; c <= side; ++c) zone[r][c] = 1 + (r - 1) * 4 / side;
      object.register_grid(1, "zones.asc", &zone, nullptr, 0, "zonegrid", 0, 1, side);
    }
    try {
      mpi_division division;
      zone_table zones;
      std::vector<int64_t> cells;
      std::vector<halo_run> send, receive;
      int own_first = 0, own_last = 0;
      division.create_mpi_regions(object, side, side, NODATA, cells, send, receive, own_first,
                                  own_last);
      zones.rank_zone_grid(object, store, nullptr, side, side, NODATA, 100.0, own_first, own_last);
      const int band_first = rank == 0 ? 1 : division.held_first_row();
      const int band_last = rank == 0 ? side : division.held_last_row();
      object.adopt(band_first, band_last, division, &zones.strips, &send, &receive);

      grid_matrix grid = object.matrix(band_first, band_last, 1, side, side);
      for (int r = band_first; r <= band_last; ++r)
        for (int c = 1; c <= side; ++c) grid[r][c] = r * 0.5 + c;

      // Bytes that cross between processes per operation.
      const double moved =
          8.0 * static_cast<double>(side) * side - 8.0 * static_cast<double>(cells[0]);
      double halo_cells = 0;
      for (const halo_run& run : send) halo_cells += run.count;
      double all_halo = 0;
      MPI_Allreduce(&halo_cells, &all_halo, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);

      const double t_scatter = best_time(repetitions, [&] { object.scatter_grid(0, &grid); });
      const double t_gather = best_time(repetitions, [&] { object.gather_grid(0, &grid); });
      const double t_halo = best_time(repetitions, [&] { object.exchange_halo(0, &grid); });
      if (rank == 0) {
        std::printf("grid %d x %d, %d process(es), best of %d\n", side, side, size, repetitions);
        auto report = [](const char* what, double bytes, double seconds) {
          const double mb = bytes / 1.0e6;
          if (bytes <= 0)
            std::printf("%-14s %10.3f MB  %9.6f s  (nothing moves)\n", what, mb, seconds);
          else
            std::printf("%-14s %10.3f MB  %9.6f s  %10.1f MB/s\n", what, mb, seconds, mb / seconds);
        };
        report("scatter", moved, t_scatter);
        report("gather", moved, t_gather);
        report("halo exchange", 8.0 * all_halo, t_halo);
      }
    } catch (int code) {
      status = code;
      if (rank == 0) std::fprintf(stderr, "bench_transfers: stopped with code %d\n", code);
    }
    diag.close();
  }
  std::filesystem::current_path(previous);
  MPI_Barrier(MPI_COMM_WORLD);
  if (rank == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_name, ignored);
  }
  MPI_Finalize();
  return status;
}
