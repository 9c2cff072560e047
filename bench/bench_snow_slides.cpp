// One step of snow slides as the snow module runs it on a grid divided among
// the processes (snowslide_exchange.h): the storages of the zone cells sent
// to process 0 in one message per process, the walk of the plan compiled
// once, and storages and slide grids sent back in one message per process.
// For comparison the plain way: whole grids gathered and scattered row run by
// row run, and the walk over whole grids in the elevation order; both must
// give the same bits.
//   mpirun -np 4 build/bench_snow_slides [cells per side] [repetitions]
// Target at 2000 x 2000 with 4 processes: gathers, walk and scatters
// <= 0.5 s per step, the walk linear in the cells (compare sides).
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
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
#include "snow/snowmod_setup_kernels.h"
#include "snow/snowslide_exchange.h"
#include "snow/snowslide_kernels.h"

namespace {

class bench_object : public modelobject {
 public:
  bench_object(DiagStream& stream, grid_store& shared, int side) : modelobject(&stream, "") {
    name = "bench_snow_slides";
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
  const int side = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 3;

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

      // The zone grid of every process's rows, as a module holds it.
      grid_matrix zone_band = object.matrix(band_first, band_last, 1, side, side);
      for (int r = band_first; r <= band_last; ++r)
        for (int c = 1; c <= side; ++c) zone_band[r][c] = 1 + (r - 1) * 4 / side;
      // Storages: the band of each process, whole on process 0.
      auto band_grid = [&] { return object.matrix(band_first, band_last, 1, side, side); };
      grid_matrix total = band_grid(), liquid = band_grid(), solid = band_grid();
      grid_matrix input = band_grid(), mobile = band_grid(), deposition = band_grid();
      for (int r = band_first; r <= band_last; ++r)
        for (int c = 1; c <= side; ++c) {
          total[r][c] = 100 + 50 * std::sin(r * 0.01) * std::cos(c * 0.013);
          liquid[r][c] = 0.1 * total[r][c];
          solid[r][c] = total[r][c] - liquid[r][c];
        }
      // What the walk reads, whole on process 0 and built once.
      grid_matrix zone0, slope, capacity, order_row, order_col;
      std::array<grid_matrix, 4> fraction;
      double t_order = 0;
      if (rank == 0) {
        auto whole = [&] { return object.matrix(1, side, 1, side, side); };
        zone0 = whole();
        slope = whole();
        capacity = whole();
        order_row = whole();
        order_col = whole();
        for (auto& f : fraction) f = whole();
        const double start = MPI_Wtime();
        std::vector<elevation_cell> list;
        list.reserve(static_cast<size_t>(side) * static_cast<size_t>(side));
        for (int r = 1; r <= side; ++r)
          for (int c = 1; c <= side; ++c) {
            zone0[r][c] = zone[r][c];
            const double z = 3000 - 0.5 * std::hypot(r - side / 2.0, c - side / 2.0) +
                             30 * std::sin(r * 0.05) * std::sin(c * 0.07);
            slope[r][c] = 25 + 20 * std::sin(r * 0.03 + c * 0.02);
            capacity[r][c] = 5 + 5 * std::cos(r * 0.02);
            for (size_t k = 0; k < 4; ++k) fraction[k][r][c] = 1 + static_cast<double>(k);
            list.push_back({r, c, z});
          }
        const std::vector<elevation_cell> order = highest_first(std::move(list));
        size_t k = 0;
        for (int r = 1; r <= side; ++r)
          for (int c = 1; c <= side; ++c) {
            order_row[r][c] = order[k].row;
            order_col[r][c] = order[k++].col;
          }
        t_order = MPI_Wtime() - start;
      }
      slide_walk_inputs in;
      in.zone = &zone0;
      in.slope = &slope;
      for (size_t k = 0; k < 4; ++k) in.fraction[k] = &fraction[k];
      in.capacity = &capacity;
      in.order_row = &order_row;
      in.order_col = &order_col;
      in.nrows = in.ncols = side;
      const distribution_view view = object.division_view();
      auto fill = [&] {
        for (int r = band_first; r <= band_last; ++r)
          for (int c = 1; c <= side; ++c) {
            total[r][c] = 100 + 50 * std::sin(r * 0.01) * std::cos(c * 0.013);
            liquid[r][c] = 0.1 * total[r][c];
            solid[r][c] = total[r][c] - liquid[r][c];
          }
      };

      // The plain way, as the module ran the slides before.
      slide_walk_grids g{&total,  &liquid, &solid,  nullptr,    nullptr,
                         nullptr, &input,  &mobile, &deposition};
      double t_walk_plain = 1e300;
      const double t_plain = best_time(repetitions, [&] {
        fill();
        for (grid_matrix* m : {&total, &liquid, &solid}) object.gather_grid(0, m);
        if (rank == 0) {
          const double start = MPI_Wtime();
          snow_slide_walk(in, g);
          t_walk_plain = std::min(t_walk_plain, MPI_Wtime() - start);
        }
        for (grid_matrix* m : {&total, &liquid, &solid, &input, &mobile, &deposition})
          object.scatter_grid(0, m);
      });
      // Each process's own cells after one plain step, to compare bits.
      std::vector<double> plain;
      auto own_values = [&] {
        std::vector<double> v;
        for (int r = band_first; r <= band_last; ++r)
          for (int c = 1; c <= side && division.regions[r] != nullptr; ++c)
            if (rank == 0 ? division.regions[r][c] <= 0 : division.regions[r][c] == rank)
              for (grid_matrix* m : {&total, &liquid, &solid, &input, &mobile, &deposition})
                v.push_back((*m)[r][c]);
        return v;
      };
      plain = own_values();

      slide_exchange exchange;
      MPI_Barrier(MPI_COMM_WORLD);
      double start = MPI_Wtime();
      exchange.build(view, rank == 0 ? &in : nullptr, zone_band);
      MPI_Barrier(MPI_COMM_WORLD);
      const double t_plan = MPI_Wtime() - start;
      slide_exchange_grids eg;
      eg.total = &total;
      eg.liquid = &liquid;
      eg.solid = &solid;
      eg.input = &input;
      eg.mobile = &mobile;
      eg.deposition = &deposition;
      double t_gather = 1e300, t_walk = 1e300, t_scatter = 1e300;
      const double t_step = best_time(repetitions, [&] {
        fill();
        MPI_Barrier(MPI_COMM_WORLD);
        double t0 = MPI_Wtime();
        exchange.gather(view, eg);
        double t1 = MPI_Wtime();
        if (rank == 0) exchange.walk(0.01);
        double t2 = MPI_Wtime();
        exchange.scatter(view, eg);
        const double t3 = MPI_Wtime();
        t_gather = std::min(t_gather, t1 - t0);
        t_walk = std::min(t_walk, t2 - t1);
        t_scatter = std::min(t_scatter, t3 - t2);
      });
      int differ = own_values() != plain ? 1 : 0;
      MPI_Allreduce(MPI_IN_PLACE, &differ, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
      if (rank == 0) {
        double moved = 0;
        for (int r = 1; r <= side; ++r)
          for (int c = 1; c <= side; ++c) moved += input[r][c];
        std::printf("grid %d x %d, %d process(es), best of %d\n", side, side, size, repetitions);
        std::printf("elevation order (once):           %9.4f s\n", t_order);
        std::printf(
            "plain: slide step (gathers+walk+scatters): %9.4f s, walk "
            "%9.4f s\n",
            t_plain, t_walk_plain);
        std::printf("plan built (once):                %9.4f s\n", t_plan);
        std::printf("slide step (gather+walk+scatter): %9.4f s\n", t_step);
        std::printf("  gather %9.4f s, walk %9.4f s (%.3g cells/s), scatter %9.4f s\n", t_gather,
                    t_walk, static_cast<double>(side) * side / t_walk, t_scatter);
        std::printf("same bits as the plain way: %s\n", differ == 0 ? "yes" : "NO");
        std::printf("(snow set in motion %.6g mm cell sum)\n", moved);
      }
      if (differ != 0) status = 1;
    } catch (int code) {
      status = code;
      if (rank == 0) std::fprintf(stderr, "bench_snow_slides: stopped with code %d\n", code);
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
