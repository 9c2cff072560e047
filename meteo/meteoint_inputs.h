// What an interpolator keeps of its section and of its input files: the
// values of its control-file section, per station file (or the grid list of
// method 9) the header, the row of the current step and the rows read ahead,
// and the regression file with its buffered regression sets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "meteo/meteoint_records.h"
#include "modelbase/modelobject.h"

// The values of an interpolator's section, in the order of its lines.
struct meteo_section {
  int method = 0;                     // 1..12
  int station_file_count = 0;         // 2 for methods 6 and 8, else 1
  std::string regression_file;        // methods 1 to 8
  gif_mapping gif;                    // method 9
  elevation_regression_line elevation;  // methods 10 and 11
  lapse_rate_line lapse;              // method 12
  std::string result_file;
  int write_code = 0;
  double scaling = 0;
  std::string statistics_file;
  int statistics_code = 0;
  double nodata_bound = 0;  // station values within +-nodata_bound are valid
  int nodata_int = 0;       // its truncation
  double idw_weight = 0;    // power of the inverse distance
  double idw_fraction = 0;
  double max_distance_read = 0;  // [m] as written in the section
  double max_distance = 0;       // [m], or [m2] when the weights compare squared distances
  int weight_code = 0;           // floor(1000 idw_weight)
  double anisotropy_slope = 0;   // [deg] as read, [rad] after the set-up converted it
  double anisotropy_ratio = 0;   // b/a
  double lower_limit = 0;
  double replacement_below = 0;
  double upper_limit = 0;
  double replacement_above = 0;
  int scenario_switch = 0;  // 1: scenarios in use
  int scenario_method = 0;
  int scenario_count = 0;
  // Rows 1..scenario_count: column 1 x, 2 y, 3..14 the months, 15 the day's value.
  std::vector<std::array<double, 16>> scenario_points;
  std::vector<std::string> scenario_grids;  // 1..12, scenario methods 5 and 6
};

// One row read ahead from a station file; its values lie in a block beside it.
struct station_row {
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
  int64_t hour = 0;
};

// One station file of an interpolator, or the grid list of method 9.
struct station_file {
  std::string file_name;     // first word of the section line
  std::string control_line;  // the whole section line
  int additional_columns = 0;
  int station_count = 0;  // n
  // Index 1..n.
  std::vector<double> altitude;
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> radius;  // from the grid's lower-left corner (anisotropy)
  std::vector<double> x_rotated;
  std::vector<double> y_rotated;
  std::vector<double> values;  // of the current row, invalid marker where invalid
  int16_t uniform = 0;
  record_date date;  // of the current row
  int64_t start_offset = 0;  // [bytes] of the start row
  int64_t next_offset = 0;   // [bytes] where the next refill reads
  // Rows read ahead: rows[0..held-1] and their values, n + 1 per row.
  std::vector<station_row> rows;
  std::vector<double> row_values;
  int64_t capacity = 0;
  int64_t held = 0;
  int64_t buffer_index = 0;  // 1-based next row; above held: refill first
  int64_t fills = 0;         // buffer fills so far (each one open of the file)
  // Grid list of method 9: the grid of the current row and the open list.
  std::string grid_name;
  std::string last_grid_name;
  file_handle list;
};

// The regression file of methods 2 and 3.
struct regression_input {
  std::string file_name;
  int text_form = 0;  // 1 text, 0 binary
  int64_t start_offset = 0;
  int64_t next_offset = 0;
  std::vector<record_date> dates;                   // rows read ahead, 0-based
  std::vector<std::array<double, 12>> sets;         // their sets, [1..11]
  int64_t capacity = 0;
  int64_t held = 0;
  int64_t buffer_index = 0;  // 1-based; above held: refill first
  int64_t fills = 0;
  std::array<double, 12> set{};  // of the current row: a1, b1, zlow, ..., gy at 1..11
};
