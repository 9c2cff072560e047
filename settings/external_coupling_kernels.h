// External coupling: the settings of "[ExternalCoupling]" and the per-cell and
// per-statistic work of an exchange with a partner model, as free functions
// that the coupling part of the settings object (settings/external_coupling.h)
// calls. The partner writes its grids and then its semaphore file; this model
// reads the grids, simulates until the next exchange and writes its own grids
// and statistics before its semaphore file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modelbase/matrices.h"
#include "modelbase/zonalstat.h"

// How an output grid or statistic is formed from the steps between two
// output exchanges, by its write code.
enum class coupling_code {
  current,    // any other text: the value of the exchange step
  sum,        // "Sum": sum over the steps since the last output exchange
  mean,       // "Mean": mean over those steps
  sum_total,  // "SumTotal...": running total since the start of the run
};
coupling_code classify_coupling_code(const std::string& write_code);
// Only these output grids keep an accumulator.
bool coupling_code_accumulates(const std::string& write_code);

struct coupling_input_grid {
  std::string file_name;
  std::string internal_name;
  int fill_code = 0;
  int rename_code = 0;          // 1 rename after reading, 0 delete, otherwise keep
  grid_matrix* grid = nullptr;  // the store's grid of the internal name
};

struct coupling_output_grid {
  std::string file_name;
  std::string internal_name;
  std::string write_code;
  const grid_matrix* grid = nullptr;  // the store's grid of the internal name
  grid_matrix accumulator;            // rows 1..nrows; "Mean", "Sum", "SumTotal..." only
};

struct coupling_statistic {
  std::string file_name;
  std::string entity_name;
  std::string write_code;
  // The statistic's own sums of the steps (1..values per row - 1): two
  // statistics of one entity share the record's arrays, so they must not
  // share their sums as well.
  std::vector<double> sums;
};

struct coupling_settings {
  int mode = 0;                       // 0 off, 1 coupling, other values read the section only
  std::string semaphore_file;         // written by the partner, waited for
  std::string semaphore_target_file;  // written for the partner
  std::string semaphore_content;
  int64_t wait_interval = 100;  // [clock ticks] between polls
  char interval = 'I';          // 'I' every step, 'H', 'D', 'M', 'Y' at the change
  int external_time_step = 0;   // [min]
  std::vector<coupling_input_grid> inputs;
  std::vector<coupling_output_grid> outputs;
  std::vector<coupling_statistic> statistics;
  int step_counter = 0;  // steps since the last output exchange
};

// The cells an accumulator covers and what marks a cell outside the zones.
struct coupling_grid_span {
  int nrows = 0;
  int ncols = 0;
  double nodata = 0;  // the zone grid's missing value
};

// accumulator += grid on the zone grid's valid cells, nodata elsewhere.
void coupling_add(grid_matrix& accumulator, const grid_matrix& grid, const grid_matrix& zones,
                  const coupling_grid_span& span);
// accumulator = (accumulator + grid) / steps on valid cells, nodata elsewhere.
void coupling_mean(grid_matrix& accumulator, const grid_matrix& grid, const grid_matrix& zones,
                   const coupling_grid_span& span, int steps);
// accumulator = 0 on valid cells, nodata elsewhere.
void coupling_reset(grid_matrix& accumulator, const grid_matrix& zones,
                    const coupling_grid_span& span);

// The file names of the end-of-day, -month and -year copies of a running
// total that are due, in that order ("SumTotal_D...", "SumTotal_M...",
// "SumTotal_..Y"). Directory and base name split at the last '/' or '\'.
std::vector<std::string> coupling_end_of_period_names(const std::string& file_name,
                                                      const std::string& write_code, int64_t day,
                                                      int64_t month, int64_t year, bool day_flag,
                                                      bool month_flag, bool year_flag);

// The name an input grid file gets after it was read with rename code 1.
std::string coupling_renamed_name(const std::string& file_name, int64_t year, int64_t month,
                                  int64_t day, int64_t hour, long clock_ticks);

// Index of the first registry record in use (values set, index below size)
// whose entity name, blanks replaced by '_', contains entity; -1 when none.
int find_coupling_record(const statistics_registry& registry, int registry_size,
                         const std::string& entity);

// Adds a step's values 1..value_count-1 of a record to sums (value_count
// elements at least).
void coupling_accumulate_record(const statistics_record& record, std::vector<double>& sums);

// The text of a statistics file of the partner; updates sums as the write
// code asks (a sum or mean is reset, a running total grows). steps: the
// steps since the last output exchange, the exchange step included.
std::string coupling_statistic_text(const std::string& entity_name, const statistics_record& record,
                                    std::vector<double>& sums, coupling_code code, int steps);
