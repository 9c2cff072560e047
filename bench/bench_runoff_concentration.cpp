// Cost of the end of a runoff step: the heads of the travel-time zone
// queues of every subbasin, tracer and both runoff kinds summed over the
// processes in one reduction, then passed through the linear storages with
// the tracers mixed, for 100 subbasins of 10 zones and 0 or 9 tracers; and,
// for scale, the serial accumulation of 1e6 cells into those queues.
//   mpirun -np N build/bench_runoff_concentration [cells] [steps]
// Aim: both well under 5 % of a soil-column step over the same cells
// (bench_soilcolumn_step: about 1e5-2e5 cell-calls per core-second).
#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "submodel/runoff_concentration.h"

namespace {

constexpr int SUBBASINS = 100;
constexpr int ZONES = 10;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

flow_time_queues make_queues(int tracers) {
  flow_time_queues q;
  q.zone_counts.assign(SUBBASINS + 1, ZONES);
  q.zone_counts[0] = 0;
  for (auto* kind : {&q.direct, &q.interflow}) {
    kind->resize(static_cast<size_t>(tracers) + 1);
    for (auto& t : *kind) {
      t.resize(SUBBASINS + 1);
      for (size_t s = 1; s < t.size(); ++s) t[s].assign(ZONES + 1, zone_record{});
    }
  }
  return q;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  const long cells = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 20;
  for (int tracers : {0, 9}) {
    flow_time_queues q = make_queues(tracers);
    std::vector<double> runoff(static_cast<size_t>(cells));
    for (long c = 0; c < cells; ++c) runoff[static_cast<size_t>(c)] = 0.001 * (c % 997);
    subbasin_flow_arrays qd = make_flow_arrays(tracers, SUBBASINS);
    subbasin_flow_arrays qdd = make_flow_arrays(tracers, SUBBASINS);
    std::vector<zone_record> base(SUBBASINS + 1);
    double accumulate = 0, end = 0;
    for (int step = 0; step < steps; ++step) {
      shift_zone_queues(q);
      auto t0 = std::chrono::steady_clock::now();
      for (long c = 0; c < cells; ++c) {
        const size_t s = 1 + static_cast<size_t>(c % SUBBASINS);
        const size_t k = 1 + static_cast<size_t>((c / SUBBASINS) % ZONES);
        const double d = runoff[static_cast<size_t>(c)];
        for (auto* kind : {&q.direct, &q.interflow})
          for (auto& t : *kind) {
            zone_record& z = t[s][k];
            z.sum += d;
            z.count += 1;
            z.weight += 1;
          }
      }
      accumulate += seconds_since(t0);
      MPI_Barrier(MPI_COMM_WORLD);
      t0 = std::chrono::steady_clock::now();
      reduce_queue_heads(q, {{base.data(), SUBBASINS}});
      if (rank == 0)
        for (int s = 1; s <= SUBBASINS; ++s)
          route_head(q.direct, s, tracers, linear_storage(60, 600, false), qd, qdd);
      end += seconds_since(t0);
    }
    if (rank == 0)
      std::printf("tracers %d: accumulation of %ld cells %.3f ms per step (%.1f ns per cell), "
                  "end of step %.3f ms per step\n",
                  tracers, cells, 1e3 * accumulate / steps, 1e9 * accumulate / steps / cells,
                  1e3 * end / steps);
  }
  MPI_Finalize();
  return 0;
}
