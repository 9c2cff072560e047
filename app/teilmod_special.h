// SpecialOutputClass: time series of grid values at chosen points, one
// tab-separated file per block of "[special_output]", one row per step and
// one column per point. It is the last module the application builds, reads
// grids only through the grid store and stays inactive without its section.
//
// Every process samples every point and writes -9999 where it does not own
// the cell; the rows are combined by an element-wise maximum at process 0,
// which is thus the owner's value whatever the division of the grid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "submodel/teilmod.h"

struct grid_entry;

// Rows of a special-output file are buffered in this many bytes at most,
// counted as 8 bytes per value (point count + 1) and 32 per row.
constexpr int64_t SPECIAL_OUTPUT_BUFFER_BYTES = 2097152;  // [bytes]

// ---- block text ----
// A single value: at the first occurrence of key, the first word between
// the next "=" and the ";" after it. False when the key (or its "=" and ";")
// is missing.
bool special_single_value(const std::string& text, const std::string& key, std::string& value);
// A list: at the last occurrence of key, the pieces between the next "=" and
// the ";" after it, split at blanks, tabs, commas and semicolons; a piece
// that is no number counts 0. Empty without the key.
std::vector<double> special_number_list(const std::string& text, const std::string& key);
std::vector<int> special_integer_list(const std::string& text, const std::string& key);
// Moves the text after the first "{" up to its first "}" into block and
// removes everything up to that "}" from text. False without a "{".
bool special_take_block(std::string& text, std::string& block);
// Whether an entity of this grid name is summed over the sub-steps (with
// more than one sub-step): the fluxes computed in the sub-step loop.
bool special_substep_id(const std::string& id);
// Rows per buffer for a file of point_count points (at least 1).
int64_t special_rows_per_buffer(int point_count);

// ---- sampling ----
// What a process knows when it samples a point.
struct special_sampling_view {
  const grid_matrix* regions = nullptr;  // "MPIRegions": owning process per cell
  int rank = 0;
  int first_row = 0;  // rows this process holds
  int last_row = 0;
  int ncols = 0;
};
// The value of a point on this process, or none (written as -9999) when the
// cell is not this process's, the grid is missing, or the row, column or
// level (has_level: the entity gives levels) lies outside what the entry
// holds.
std::optional<double> special_point_value(const special_sampling_view& view,
                                          const grid_entry* entry, int row, int col, bool has_level,
                                          int level);

// A grid of the store and its points.
struct special_output_entity {
  DiagStream* diag = nullptr;
  int point_count = 0;
  int store_index = 0;  // 0: the grid is not in the store
  double xllcorner = 0, yllcorner = 0, cellsize = 0;
  int ncols = 0, nrows = 0;
  std::string id;            // "ID": the grid name
  std::string symbol;        // "Symbol"
  std::vector<double> x, y;  // as read
  std::vector<int> levels;   // empty or one per point
  std::vector<int> cols, rows;
  grid_store* store = nullptr;
  int substeps = 1;
  bool substep_flag = false;  // sampled in every sub-step and summed
};

// One output file: its entities and the buffered rows.
struct special_output_file {
  DiagStream* diag = nullptr;
  int point_count = 0;
  // Rows 1..rows_per_buffer of point_count + 1 values each (value 0 and row
  // 0 hold nothing); the dates as year, month, day, hour per row.
  std::vector<int64_t> dates;
  std::vector<double> values;
  int64_t rows_per_buffer = 0;
  int64_t rows_used = 0;
  std::string header;
  std::string file_name;
  std::vector<special_output_entity> entities;
  grid_store* store = nullptr;
  bool new_row = true;
  int substeps = 1;

  double* row_values(int64_t row) {
    return values.data() + row * static_cast<int64_t>(point_count + 1);
  }
  // Appends the buffered rows (collective: every process calls it with the
  // same rows). Throws 65 when the file cannot be opened, 18 when the rows
  // cannot be written.
  void write_rows(int rank);
};

class SpecialOutputClass : public teilmodellklasse {
 public:
  // status: 0, or the code of a failed block (1006, 1007, 1008; 104 for a
  // missing key, the end of the control file inside the section and anything
  // else). Errors of the section head are thrown by the base.
  SpecialOutputClass(int& status, DiagStream* diag, statistics_registry* registry,
                     int registry_size, const std::string& section, grid_store* store,
                     const settings_context& settings, int substeps);

  // One sample per sub-step (is_substep 1, k its number 1..n) and one at
  // the end of the step (0, 0).
  virtual void sample_step(int64_t hour, int64_t day, int64_t month, int64_t year, int is_substep,
                           int k);
  // Sub-step k of the soil loop is sampled as one.
  void run_substep(const model_date& step, int k) override {
    sample_step(step.hour, step.day, step.month, step.year, 1, k);
  }
  // write_rows of every file that holds rows (collective).
  void flush_outputs() override;
  // Empties the list of files; the flush before it has written the rows.
  void release() override;

  int file_count() const { return numfiles; }
  const std::vector<special_output_file>& files() const { return file_list; }

 private:
  void read_blocks();
  // block_number and place (the entity's) name where a missing key was sought.
  special_output_file build_file(const std::string& block, int block_number);
  special_output_entity build_entity(const std::string& text, special_output_file& file,
                                     const std::string& place);
  void write_file_head(const special_output_file& file);
  void sample_file(special_output_file& file, int64_t hour, int64_t day, int64_t month,
                   int64_t year, int is_substep, int k);

  std::vector<special_output_file> file_list;
  int numfiles = 0;
  int substep_count = 1;
};
