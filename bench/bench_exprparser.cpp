// Throughput of the expression evaluator under the silting-up protocol: each
// thread takes rows, makes a variable list and an evaluator per row, and per
// cell sets the inputs "A" to "R", evaluates statements of about 30
// characters, reads the results and clears the list.
//   build/bench_exprparser [cells] [threads...]
// Target: >= 1e6 evaluations of a 30-character statement per second and
// thread (silting-up re-parses every statement per cell and step).
#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "soilwater/exprparser.h"

namespace {

// Statements of the silting-up kind, 28 to 31 characters each.
const char* const STATEMENTS[] = {
    "S1 = K^0.52 * (100*L)^-0.64 + A", "Y = 12.2 * S1 * (O > 0) - B / 3",
    "Z = 0.013 * exp(-C * Q) + D * E", "W = (P > 0.05) * log10(P + 1.5)",
    "V = Y + (X - Y) * exp(-Z * Q)",   "T1 = V * R / 60 + abs(F - G)",
    "H1 = sqrt(H*H + I*I) + J % 7",    "M1 = (M <= N) * 2^3 + sin(PI/6)",
};
constexpr int STATEMENT_COUNT = static_cast<int>(std::size(STATEMENTS));
constexpr int CELLS_PER_ROW = 200;

struct run_result {
  double evaluations = 0;
  double seconds = 0;
  double checksum = 0;
};

run_result run(long cells, int threads) {
  const long rows = (cells + CELLS_PER_ROW - 1) / CELLS_PER_ROW;
  std::vector<double> row_sums(static_cast<size_t>(rows), 0.0);
  long failures = 0;
  const auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(static) num_threads(threads) reduction(+ : failures)
  for (long r = 0; r < rows; ++r) {
    ParserVariables variables;
    ExpressionParser parser(&variables);
    double sum = 0;
    for (int c = 0; c < CELLS_PER_ROW; ++c) {
      const double base = 0.01 * static_cast<double>((r * CELLS_PER_ROW + c) % 997);
      char name[2] = {'A', '\0'};
      for (int v = 0; v < 18; ++v) {
        name[0] = static_cast<char>('A' + v);
        parser.set_variable(name, base + 0.1 * v);
      }
      parser.set_variable("X", 65);
      for (const char* statement : STATEMENTS)
        if (parser.evaluate(statement).find("Error") != std::string::npos) ++failures;
      double value = 0;
      if (parser.get_variable("T1", value)) sum += value;
      parser.clear_variables();
    }
    row_sums[static_cast<size_t>(r)] = sum;
  }
  run_result result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.evaluations = static_cast<double>(rows) * CELLS_PER_ROW * STATEMENT_COUNT;
  for (double s : row_sums) result.checksum += s;
  if (failures > 0) std::printf("WARNING: %ld evaluations failed\n", failures);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const long cells = argc > 1 ? std::atol(argv[1]) : 400000;
  std::vector<int> thread_counts;
  for (int i = 2; i < argc; ++i) thread_counts.push_back(std::atoi(argv[i]));
  if (thread_counts.empty()) thread_counts = {1, 4};
  double checksum = 0;
  for (int threads : thread_counts) {
    const run_result r = run(cells, threads);
    const double per_thread = r.evaluations / r.seconds / threads;
    std::printf("%d thread(s): %.3g evaluations/s (%.3g per thread, target 1e6) %s\n", threads,
                r.evaluations / r.seconds, per_thread, per_thread >= 1e6 ? "ok" : "SHORT");
    if (checksum != 0 && r.checksum != checksum) std::printf("WARNING: results differ\n");
    checksum = r.checksum;
  }
  std::printf("checksum %.17g\n", checksum);
  return 0;
}
