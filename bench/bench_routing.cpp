// Throughput of the channel routing on a realistic network: 1000 subbasins
// in a binary tree (each reach takes the outflows of two upstream subbasins
// through OL channels of 4 to 20 km), hourly steps, with 0 and 9 tracers. The
// module is built from a generated "[routing_model]" section in a scratch
// folder; timed are the steps (reaches per second). The initial routing
// repeats one pass N times, N the sum over all reaches of their longest
// travel time at the smallest discharge in whole steps; it is reported as N
// times the time of a step, since on a large network N runs into thousands.
//   build/bench_routing [subbasins] [steps]
// Targets: about 1 ms per step for 1000 subbasins, an initial routing under
// one second; the step allocates nothing.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "routing/abfluss.h"
#include "settings/tracer_entry.h"

// Counts the allocations of the program, to show that a step makes none.
static long allocations = 0;
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string section_text(int n) {
  std::ostringstream s;
  s << "[routing_model]\n1 flow control\n60 time interval\n1 3000 40 1\n"
       "qstat.txt 0 Qstatfiles\nno_observed.txt observed\n0 column descriptors\n0 offset\n";
  // Upstream first: the children 2k and 2k+1 of subbasin k are described
  // before it.
  for (int k = n; k >= 1; --k) {
    s << "TG " << k << " (AT= 1, phi= 1)\n";
    for (const int child : {2 * k, 2 * k + 1}) {
      if (child > n) continue;
      const double length = 4000 + (child * 7919 % 16000);  // [m]
      s << " OL " << child << " (km= 3, kf= 8, bm= 12, bf= 60, hm= 2.5, kstm= 30, kstf= 15, "
        << "I= 0.002, L= " << length << ", A= " << 10.0 * (n - child + 1) / n + 5 << ")\n";
    }
  }
  s << "end\n[output_interval]\n1\n2\n0 unit\n";
  return s.str();
}

void run(int n, int steps, int tracer_count) {
  std::vector<int> index(static_cast<size_t>(n) + 1);
  std::vector<zone_record> zones(static_cast<size_t>(n) + 1);
  zones[0].share = 5000;  // [km2]
  for (int k = 1; k <= n; ++k) {
    index[static_cast<size_t>(k)] = k;
    zones[static_cast<size_t>(k)].code = k;
    zones[static_cast<size_t>(k)].share = 1.0 / n;
  }
  const zone_table_view view{&index, &zones, n, n};
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bench_routing_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::ofstream(dir / "control.txt") << section_text(n);

  std::ostringstream console;
  DiagStream diag((dir / "diag.xml").string(), 0, console, 0, 1);
  settings_context settings;
  settings.control_file = (dir / "control.txt").string();
  settings.ncols = 1;
  settings.nrows = 1;
  settings.first_row = 1;
  settings.last_row = 1;
  settings.start_date = model_date{2000, 1, 1, 0};
  grid_store store;
  std::vector<tracer_entry> tracers(static_cast<size_t>(tracer_count) + 1);
  for (int k = 1; k <= tracer_count; ++k) tracers[static_cast<size_t>(k)].name = "t" + std::to_string(k);
  int status = 0;
  abflussmodellklasse routing(status, &diag, nullptr, 0, "routing_model", &store, settings,
                              tracer_count, tracers.data(), view, 1);
  if (status != 0) {
    std::cerr << "set-up failed with " << status << "\n" << console.str();
    std::exit(1);
  }
  subbasin_flow_arrays qg = make_flow_arrays(tracer_count, n);
  for (int k = 1; k <= n; ++k) {
    qg[0][static_cast<size_t>(k)] = 0.05 + 0.01 * (k % 13);  // [mm per hour]
    for (int t = 1; t <= tracer_count; ++t) qg[static_cast<size_t>(t)][static_cast<size_t>(k)] = t;
  }
  routing.set_qg(&qg);
  routing.init_routing();

  const long allocations_before = allocations;
  const auto start = std::chrono::steady_clock::now();
  for (int s = 0; s < steps; ++s) {
    // A flood wave every 48 steps: delays and overtaking change.
    const double scale = (s / 24) % 2 == 0 ? 1.0 : 40.0;
    for (int k = 1; k <= n; ++k) qg[0][static_cast<size_t>(k)] = scale * (0.05 + 0.01 * (k % 13));
    routing.time_step(s % 24, 1 + (s / 24) % 28, 1 + (s / 672) % 12, 2000);
  }
  const double step_seconds = seconds_since(start) / steps;
  const double allocations_per_step =
      static_cast<double>(allocations - allocations_before) / steps;
  std::printf("%d subbasins, %d tracer(s): %.3f ms per step, %.3g reaches/s; initial routing "
              "%d passes, about %.2f s; %.2f allocations per step\n",
              n, tracer_count, 1e3 * step_seconds, routing.reach_count() / step_seconds,
              routing.get_initial_routings(), routing.get_initial_routings() * step_seconds, allocations_per_step);
  routing.release();
  std::filesystem::current_path(before);
  std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 2000;
  run(n, steps, 0);
  run(n, steps, 9);
  return 0;
}
