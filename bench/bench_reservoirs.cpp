// Cost of the reservoir parts of a routing step: the release of a rule over
// sub-steps (60 per hourly step, two abstractions from the reservoir) and
// the level-volume table of a lake of many cells, built once at set-up.
//   build/bench_reservoirs [steps] [lake cells]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "routing/reservoir_kernels.h"

namespace {

operation_rule two_season_rule() {
  operation_rule r;
  r.N = 4;
  r.K = 2;
  r.start_days = {0, 1, 182};
  r.weekdays = {-1, -1, -1};
  r.start_hour = {-1, -1, -1};
  r.stop_hour = {-1, -1, -1};
  r.target_cap = {-1, -1, -1};
  r.index_column = {0, 0, 1e6, 5e6, 2e7};
  r.value_columns = {{}, {0, 0, 10, 80, 400}, {0, 0, 20, 120, 500}};
  compute_segment_slopes(r);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const long steps = argc > 1 ? std::atol(argv[1]) : 200000;
  const long cells = argc > 2 ? std::atol(argv[2]) : 200000;
  const operation_rule rule = two_season_rule();
  std::vector<double> taken;
  double storage = 3e6;
  double released = 0;
  auto start = std::chrono::steady_clock::now();
  for (long s = 0; s < steps; ++s) {
    release_inputs in;
    in.storage = storage;
    in.inflow = 50 + 40 * ((s % 48) < 24 ? 1 : -1);
    in.dt = 60;
    in.sub_step = 60;
    in.abstraction_count = 2;
    in.abstraction_rate = [](int i, double S) { return S > 1e5 ? 1.0 + i : 0.0; };
    const int day = 1 + static_cast<int>((s / 24) % 28);
    const int month = 1 + static_cast<int>((s / 672) % 12);
    const double q = release_over_substeps(rule, {2001, month, day, static_cast<int>(s % 24) + 1}, in, taken);
    storage += (in.inflow - q) * 3600 - taken[0] - taken[1];
    released += q;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("release over 60 sub-steps: %.3g steps/s (checksum %.6g)\n", steps / seconds, released);

  std::vector<double> dem(static_cast<size_t>(cells));
  for (long i = 0; i < cells; ++i) dem[static_cast<size_t>(i)] = 100 + 20.0 * ((i * 7919) % cells) / cells;
  start = std::chrono::steady_clock::now();
  const level_volume_table t = build_level_volume_table(dem, 120, 2500);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("level-volume table of %ld cells, %d points: %.3g s (top volume %.6g m3)\n", cells, t.N,
              seconds, t.volumes[0]);
  return 0;
}
