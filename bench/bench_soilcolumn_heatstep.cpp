// Cost of the heat sub-steps of a soil column over one daily model step
// (1440 minutes) with the default "[heat_transfer]" bounds (60 s to 1800 s):
// the trial evaluation sets the count, between 48 (small changes) and 1440
// (the top layer changes while the air is at its temperature), and every sub-step is one evaluation
// (unfrozen fraction, conductivity, slope, latent term, capacity, then the
// explicit update with its limiter or the implicit solve). A 20-layer loam
// column (Carsel and Parrish 1988) freezing under cold air.
//   build/bench_soilcolumn_heatstep [cells]
// Reports per scheme and case: heat sub-steps per cell and daily step, and
// evaluations per second on one core. The evaluations allocate nothing:
// their arrays belong to the per-thread HeatWork made once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "soilwater/soilcolumn_heatstep.h"
#include "soilwater/unsatzon_heat.h"
#include "soilwater/unsatzon_section.h"
#include "tables/soiltable.h"

namespace {

constexpr int N = 20;
constexpr double DAY = 86400;  // [s]

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

soil_entry loam() {
  std::ostringstream console;
  const auto diag_file = std::filesystem::temp_directory_path() / "bench_heatstep_diag.xml";
  soil_entry e;
  {
    DiagStream diag(diag_file.string(), 0, console, 0, 1);
    parse_soil_block(diag, e,
                     "1 loam method MultipleHorizons {\n layers = 20; ksat = 2.89e-6; theta_sat = "
                     "0.43; theta_res = 0.078; alpha = 3.6; Par_n = 1.56; thickness = 0.1;\n}\n");
  }
  std::filesystem::remove(std::filesystem::temp_directory_path() / "bench_heatstep_diag_0.xml");
  complete_soil_heat_values(e, unsatzon_parameters{});
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  const int cells = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const soil_entry soil = loam();
  std::vector<ConductivityFactors> factors(N + 1);
  HeatSettings hs;
  conductivity_factors(soil, N, hs.lambda_water, factors.data());
  HeatWork work(N);
  std::vector<double> theta(N + 1, 0.3), t(N + 1), q(N + 1, 0.0), macro(N + 1, 0.0);
  struct scenario {
    const char* name;
    double t_air, t_top, t_rest;  // [degC]
  } cases[] = {
      {"calm", 2, 2, 2},        // no change: the longest sub-step sets 48
      {"cold air", -15, 2, 2},  // freezing: 48 as well, the change stays in bounds
      {"air at top", 2, 2, 5},  // T_a = T_1 and T_1 changes: the shortest, 1440
  };
  std::printf("%-10s %-14s %12s %16s\n", "scheme", "case", "sub-steps", "evaluations/s");
  double checksum = 0;
  for (int method : {2, 11}) {
    hs.method = method;
    for (const scenario& c : cases) {
      HeatColumnInput in;
      in.factors = factors.data();
      in.t_air = c.t_air;
      in.t_lower = c.t_rest;
      long evaluations = 0;
      int count = 0;
      const auto start = std::chrono::steady_clock::now();
      for (int cell = 0; cell < cells; ++cell) {
        for (int k = 1; k <= N; ++k) t[k] = c.t_rest;
        t[1] = c.t_top;
        count = heat_substep_count(hs, soil, N, in, theta.data(), DAY, t.data(), work);
        for (int i = 0; i < count; ++i)
          heat_evaluation(hs, soil, N, in, theta.data(), DAY / count, true, t.data(), work,
                          q.data(), macro.data());
        evaluations += count + 1;
        checksum += t[1];
      }
      const double seconds = seconds_since(start);
      std::printf("%-10s %-14s %12d %16.3g\n", method <= 10 ? "explicit" : "implicit", c.name,
                  count, static_cast<double>(evaluations) / seconds);
    }
  }
  std::printf("(checksum %.6g)\n", checksum);
  return 0;
}
