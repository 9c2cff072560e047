// The parameter set of the unsaturated-zone module and the pieces of its
// control-file reading that need no module: the per-subbasin parameter block
// with its group inheritance, the unit conversions of the recession
// constants, the "unsatzon_tuning" lines, the storage-file name per process
// and the variant tag of the progress line.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

class DiagStream;

// One statistics file of the section: name and statistics code.
struct statistics_file {
  std::string name;
  int code = 0;
};

// One grid or stack file of the section: name and write code.
struct grid_file {
  std::string name;
  int write_code = 0;
};

// The subbasin statistics files of "[unsatzon_model]" in their reading order.
enum class unsatzon_stat_file {
  qdrain,
  gwstand,
  gwn,
  sb_1,
  sb_2,
  root,
  infex,
  pond,
  qd,
  qi,
  qb,
  qg,
  gwin,
  gwex,
  macro,
  infilt,
  count
};
// The grid and stack files of "[unsatzon_model]" in their reading order.
enum class unsatzon_grid_file {
  sb05,
  sb1,
  wurz,
  theta,
  hh,
  hgeo,
  q_unten,
  gwstand,
  gwtheta,
  gwn,
  gwlevel,
  qdrain,
  saturation,
  infex,
  qd,
  qi,
  deltagw,
  gwin,
  gwex,
  pond,
  gwn_uprise,
  gwn_percol,
  macropore,
  irrig,
  count
};
// The control-cell files of "[unsatzon_model]" in their reading order.
enum class unsatzon_cell_file { qbottom, theta, hhyd, otherdata, etr, interflow, count };

// Per subbasin 1..n (element 0 belongs to no subbasin).
struct subbasin_parameters {
  std::vector<double> kelsqd;               // [min]
  std::vector<double> kelsqi;               // [min]
  std::vector<double> drainage_density;     // [-]
  std::vector<double> kelsqlat;             // reciprocal of the read constant [h-1]
  std::vector<double> Q0;                   // [-]
  std::vector<double> SnowRunoff_fraction;  // [-]
  std::vector<double> code;                 // zone code of the subbasin
};

// Name buffers of the section: control-cell files and the others [characters].
constexpr size_t CELL_FILE_NAME_MAX = 1199;
constexpr size_t FILE_NAME_MAX = 1200;
// The storage-content file name with "_" and the rank stays below this.
constexpr size_t STORAGE_NAME_LIMIT = 1000;

struct unsatzon_parameters {
  int method = 0;
  int surface_interaction = 0;
  int pond_switch = 0;
  int drainage_switch = 0;
  int clay_switch = 0;
  double k_sat_clay = 0;    // [m s-1]
  double ini_gw_level = 0;  // [-] divisor placing the initial table
  std::array<statistics_file, static_cast<size_t>(unsatzon_stat_file::count)> stat_files;
  std::array<grid_file, static_cast<size_t>(unsatzon_grid_file::count)> grid_files;
  int control_row = 0;
  int control_column = 0;
  std::array<std::string, static_cast<size_t>(unsatzon_cell_file::count)> cell_files;
  subbasin_parameters subbasins;
  int readgrid = 0;
  std::string storage_file_name;  // with "_" and the rank
  double dParameterMinStep = 0;   // [s], method 3
  statistics_file substeps_stat;  // method 3
  grid_file substeps_grid;        // method 3

  int heat_flow_control = 0;
  int heat_method = 0;
  double dTModLowBoundBase = 12;    // [degC]
  double dTModLapseRate = -0.007;   // [degC m-1]
  double dTModCDrySoil = 800;       // [J kg-1 K-1]
  double dTModRhoDrySoil = 1500;    // [kg m-3]
  double dTModLamDrySoil = 0.58;    // [W m-1 K-1]
  double dTModKmin = 1e-10;         // [m s-1]
  double dTModLamWat = 0.5562;      // [W m-1 K-1]
  double dTModLamIce = 2.33;        // [W m-1 K-1]
  double dTModCWater = 4187;        // [J kg-1 K-1]
  double dTModCIce20 = 1940;        // [J kg-1 K-1]
  double dTModCIce0 = 2090;         // [J kg-1 K-1]
  double dTModLatHeat = 334000;     // [J kg-1]
  double dTModRhoWater = 1000;      // [kg m-3]
  double dTModFactor = 1.22;        // [-]
  double dTModSEForStat = 0.5;      // [-]
  double dTModShortestStep = 60;    // [s]
  double dTModLongestStep = 1800;   // [s]
  double dTModNFactorFreezing = 1;  // [-]
  double dTModNFactorThawing = 1;   // [-]
  std::string temperature_cell_file;
  statistics_file thaw_depth_stat;
  grid_file temperature_stack;
  grid_file thaw_depth_grid;

  double max_error = 1e-5;      // [-]
  double max_iterations = 100;  // [-]
  double reduced_k_sat = 1e-9;  // [m s-1]
  std::string variant_tag;      // at most 29 characters
};

// Hours -> minutes; values below 0.001 h become 0.06 min.
double recession_minutes(double hours) noexcept;
// The base-flow constant as its reciprocal; negative values switch it off (0).
double base_flow_reciprocal(double value) noexcept;

// The subbasins as the block reads them: code of index 1..n and index of
// code 0..largest code (0 for codes without a subbasin).
struct subbasin_codes {
  std::vector<int> code_of;
  std::vector<int> index_of;
  int count = 0;
};

// Reads the code row and the six value rows from file; failures are FATAL
// code 10 with the help text. A listed kelsqlat of 0 is refused (its
// reciprocal would make the base flow infinite).
subbasin_parameters read_subbasin_block(std::FILE* file, DiagStream& diag,
                                        const std::string& section,
                                        const std::string& control_file_name,
                                        const subbasin_codes& subbasins);

// Reads the lines behind the "unsatzon_tuning" header (see the section).
void read_tuning_lines(std::FILE* file, double& max_error, double& max_iterations);

// "%s_%d" of name and rank.
std::string storage_name_for_rank(const std::string& name, int rank);

std::string make_variant_tag(bool flow_times, bool irrigation, int surface_interaction,
                             int drainage_switch, int clay_switch, int pond_switch);
