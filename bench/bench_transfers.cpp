// Throughput of the transfers of grid rows: scatter, gather and halo exchange
// of a 4000 x 4000 grid divided among the processes of the run, and with a
// level count also scatter and gather of a stack of levels + 1 values a cell.
//   mpirun -np 4 build/bench_transfers [cells per side] [repetitions] [levels]
// Reports, per operation, the bytes that crossed between processes and MB/s
// (best and median of the repetitions), and stops with code 1 when a moved
// value arrives wrong. With one process nothing moves.
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
#include "modelbase/distribution.h"
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

struct timing {
  double best = 0;
  double median = 0;
};

// Best and median wall time of repetitions of op, all processes in step.
timing time_of(int repetitions, const std::function<void()>& op) {
  std::vector<double> times;
  for (int k = 0; k < repetitions; ++k) {
    MPI_Barrier(MPI_COMM_WORLD);
    const double start = MPI_Wtime();
    op();
    MPI_Barrier(MPI_COMM_WORLD);
    times.push_back(MPI_Wtime() - start);
  }
  std::sort(times.begin(), times.end());
  return {times.front(), times[times.size() / 2]};
}

double value_of(int row, int col, int level) { return row * 0.5 + col + level * 0.25; }

// Whether every cell this process owns (process 0: every cell) holds its value.
template <class Cell>
bool holds_values(int rank, const grid_matrix& regions, int band_first, int band_last, int side,
                  int levels, Cell cell) {
  bool good = true;
  for (int r = band_first; r <= band_last; ++r)
    for (int c = 1; c <= side; ++c) {
      const bool mine = rank == 0 || (r < regions.pointer_count() && regions[r] != nullptr &&
                                      static_cast<int>(regions[r][c]) == rank);
      if (!mine) continue;
      for (int level = 0; level <= levels; ++level)
        if (cell(r, c, level) != value_of(r, c, level)) good = false;
    }
  int all = good ? 1 : 0;
  int result = 0;
  MPI_Allreduce(&all, &result, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return result == 1;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  const int side = argc > 1 ? std::atoi(argv[1]) : 4000;
  const int repetitions = std::max(argc > 2 ? std::atoi(argv[2]) : 5, 1);
  const int levels = argc > 3 ? std::atoi(argv[3]) : 0;

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
        for (int c = 1; c <= side; ++c) grid[r][c] = value_of(r, c, 0);
      const grid_matrix& regions = division.regions;
      // The cells a transfer brings: the owners' own cells for a scatter, the
      // others' cells at process 0 for a gather.
      auto arriving = [&](int r, int c, bool scatter) {
        if (r >= regions.pointer_count() || regions[r] == nullptr) return false;
        const double* owners = regions[r];
        const int owner = static_cast<int>(owners[c]);
        return scatter ? rank != 0 && owner == rank : rank == 0 && owner > 0;
      };

      // Bytes that cross between processes per operation.
      const double moved =
          8.0 * static_cast<double>(side) * side - 8.0 * static_cast<double>(cells[0]);
      double halo_cells = 0;
      for (const halo_run& run : send) halo_cells += run.count;
      double all_halo = 0;
      MPI_Allreduce(&halo_cells, &all_halo, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);

      // One checked transfer of each kind: the arriving cells are spoilt first.
      bool right = true;
      for (const bool scatter : {true, false}) {
        for (int r = band_first; r <= band_last; ++r)
          for (int c = 1; c <= side; ++c)
            if (arriving(r, c, scatter)) grid[r][c] = -1;
        if (scatter)
          object.scatter_grid(0, &grid);
        else
          object.gather_grid(0, &grid);
        right = holds_values(rank, regions, band_first, band_last, side, 0,
                             [&](int r, int c, int) { return grid[r][c]; }) &&
                right;
      }
      const timing t_scatter = time_of(repetitions, [&] { object.scatter_grid(0, &grid); });
      const timing t_gather = time_of(repetitions, [&] { object.gather_grid(0, &grid); });
      const timing t_halo = time_of(repetitions, [&] { object.exchange_halo(0, &grid); });

      timing t_stack_scatter, t_stack_gather;
      if (levels > 0) {
        const distribution_view v = object.division_view();
        stack_matrix stack = object.matrix_3d(band_first, band_last, 1, side, levels, side);
        for (int r = band_first; r <= band_last; ++r)
          for (int c = 1; c <= side; ++c)
            for (int level = 0; level <= levels; ++level)
              stack[r][c][level] = value_of(r, c, level);
        for (const bool scatter : {true, false}) {
          for (int r = band_first; r <= band_last; ++r)
            for (int c = 1; c <= side; ++c)
              if (arriving(r, c, scatter)) stack[r][c][levels] = -1;
          if (scatter)
            distribution::scatter_stack(v, stack, levels);
          else
            distribution::gather_stack(v, stack, levels, "bench");
          right = holds_values(rank, regions, band_first, band_last, side, levels,
                               [&](int r, int c, int level) { return stack[r][c][level]; }) &&
                  right;
        }
        t_stack_scatter =
            time_of(repetitions, [&] { distribution::scatter_stack(v, stack, levels); });
        t_stack_gather =
            time_of(repetitions, [&] { distribution::gather_stack(v, stack, levels, "bench"); });
      }
      if (!right) status = 1;
      if (rank == 0) {
        std::printf("grid %d x %d, %d process(es), %d repetitions\n", side, side, size,
                    repetitions);
        auto report = [](const char* what, double bytes, timing t) {
          const double mb = bytes / 1.0e6;
          if (bytes <= 0)
            std::printf("%-14s %10.3f MB  best %9.6f s  (nothing moves)\n", what, mb, t.best);
          else
            std::printf("%-14s %10.3f MB  best %9.6f s %8.1f MB/s  median %8.1f MB/s\n", what,
                        mb, t.best, mb / t.best, mb / t.median);
        };
        report("scatter", moved, t_scatter);
        report("gather", moved, t_gather);
        report("halo exchange", 8.0 * all_halo, t_halo);
        if (levels > 0) {
          report("stack scatter", moved * (levels + 1), t_stack_scatter);
          report("stack gather", moved * (levels + 1), t_stack_gather);
        }
        if (!right) std::fprintf(stderr, "bench_transfers: a moved value arrived wrong\n");
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
