// What the unsaturated zone prepares for its outputs: the titles and
// precisions of its zonal statistics, the capacity and header line of each
// control-cell file, the name of the glacier-resizing statistics file, and
// the soil-water report at model start (sums per process, lines of the log).
#pragma once

#include <string>
#include <vector>

// The module's statistics in the order of construction.
enum class unsatzon_statistic {
  gwstand,
  gwn,
  sb_1,
  sb_2,
  root,
  infex,
  qd,
  qi,
  qb,
  qg,
  macro,
  infilt,
  substeps,
  thaw_depth,
  qdrain,
  pond,
  immobilised,
  gwin,  // with the groundwater model, built by init_tracers
  gwex,
  count
};

struct statistic_title {
  const char* title;  // written exactly, trailing blanks included
  int precision;      // [digits]
};

const statistic_title& statistic_title_of(unsatzon_statistic which) noexcept;

// Bytes of the framework's output buffers.
constexpr int OUTPUT_BUFFER_BYTES = 2097152;
// Rows a control-cell buffer holds with values_per_row values (at least 1).
int control_cell_capacity(int values_per_row) noexcept;
// Values per row of the otherdata file with V vegetation layers.
constexpr int otherdata_values(int vegetation_layers) noexcept {
  return 6 * vegetation_layers + 19;
}

enum class control_cell_file { hhyd, otherdata, theta, q_bottom, etr, interflow, temperature };
// The header line of a control-cell file (line end included).
std::string control_cell_header(control_cell_file file, int row, int col, int layer_count,
                                int vegetation_layers);
// The FATAL text (code 62) of a control-cell file that cannot be created.
const char* control_cell_open_error(control_cell_file file) noexcept;

// The SB_2 statistics file name with "_immo" before its last "."; throws a
// non-integer error (status 103) for a name without ".".
std::string immobilised_statistics_name(const std::string& sb2_name);

// Soil-water sums of the start report: amounts [m] and weights of the
// unglacierized (u) and glacierized (g) parts of the cells.
struct soil_water_sums {
  double nu = 0, wu = 0, ng = 0, wg = 0;
};
// Adds one cell: water and saturated water of the column [m], glacierized
// fraction g (clamped to [0, 1]), weight w or none.
void add_cell_to_sums(soil_water_sums& sums, double water, double saturated_water,
                      double glacier_fraction, bool has_weight, double weight) noexcept;
// a / b, 0 when b is 0: a run without cells prints 0, never inf or NaN.
double mean_or_zero(double amount, double weight) noexcept;
// The three mean lines process 0 writes to "modell_0.log".
std::string start_report_lines(const soil_water_sums& sums);
// The control-cell line of the owning process; water in mm.
std::string control_cell_report_line(int row, int col, double water_mm);

class DiagStream;

// Sums nu, wu, ng, wg of all processes at process 0 (one reduction each, in
// this order); the other processes keep theirs. Collective.
soil_water_sums reduce_soil_water_sums(const soil_water_sums& own);

// One control-cell file to create: its kind and its name (output directory
// in front).
struct control_cell_target {
  control_cell_file file;
  std::string name;
};
// Creates each file ("wt") with its header line, in the given order; a file
// that cannot be created is FATAL code 62 with its entry.
void create_control_cell_files(DiagStream& diag, const std::vector<control_cell_target>& files,
                               int row, int col, int layer_count, int vegetation_layers);

// Appends text to "modell_<rank>.log" in directory (empty: the working
// directory); nothing when the file does not open.
void append_model_log(const std::string& directory, int rank, const std::string& text);
