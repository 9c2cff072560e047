// The zonal statistic of the channel routing: one column of routed discharge
// per subbasin (no total column), a companion series of observed discharge
// registered beside it for the external coupling, and at the end of the run
// tables that compare simulated and observed discharge for time shifts of
// -10 to +10 steps. Lives on process 0 only, where the routing runs.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "modelbase/zonalstat.h"

// Time shifts of the efficiency tables: -10 .. +10 steps.
constexpr int EFFICIENCY_SHIFTS = 21;

// Sums of one zone and shift that the routing accumulates, in this order:
// pairs n, sum of differences d, sum of squared differences q, observed
// count m, sum of observed values o, sum of their squares p.
using comparison_sums = std::array<double, 6>;
// Per shift (index 0 = shift -10), the sums indexed by zone index.
using comparison_table = std::array<const comparison_sums*, EFFICIENCY_SHIFTS>;

// The two efficiency measures of one zone and shift; 1 where they are
// undefined (fewer than three pairs or observations, observations that never
// vary, or a zero numerator).
struct efficiency_values {
  double r_square = 1;     // 1 - (q / (n - 1)) / V
  double coeff_var = 1;    // 1 - ((q - d^2 / n) / (n - 1)) / V
};
efficiency_values efficiency_of(const comparison_sums& sums);

class routstatistic : public zonalstatistic {
 public:
  // The arguments of zonalstatistic and, after the zone records, the value of
  // each zone (by zone index) written as the third header line.
  routstatistic(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                const grid_matrix* weights, int nrows, int ncols, zone_record* zones,
                const double* zone_values, int zone_count, int code, int precision,
                std::string& file_name, const std::string* output_directory, int listed_count,
                const std::vector<int>* listed_codes);

  // Writes the header and registers the statistic and, in the record right
  // after it, the observed series; returns that record's index, or 0 when
  // the companion could not be registered.
  int write_header(const std::string& name, const std::string& text,
                   statistics_registry* registry, int registry_size) override;
  void release() override;
  // Writes the buffered rows, then appends the efficiency tables.
  virtual void write_efficiency_tables(const comparison_table& lin, const comparison_table& log);
  // Ends a step without summing over processes.
  virtual void complete_step_local(int64_t year, int64_t month, int64_t day, int64_t hour);

  // The observed values of the current row (1-based by column), filled by
  // the routing; registered as the companion series.
  std::vector<double>& observed_values() { return observed_; }
  const statistics_record& companion_image() const { return companion_; }

 private:
  std::vector<double> zone_values_;  // 0..zone_count

  statistics_record companion_;
  std::vector<double> observed_;         // columns + 2
  std::vector<double> observed_second_;  // columns + 2
  std::vector<double> companion_values_; // third-line values, columns + 2
  std::string companion_label_;
  std::vector<int> companion_codes_;     // columns + 2
};
