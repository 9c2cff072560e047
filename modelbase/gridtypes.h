// Small records shared by the model objects: zone records, row spans, halo
// runs, hydrologic response units and the 12-number header of binary grids.
#pragma once

#include <cstdint>
#include <string>

// Five doubles per zone. In the zonal statistics: count (sum of the count
// weights), weighted sum, zone code, area share, weight sum. In the zone tables
// of the ranking the first and fifth field hold the sum of the relative cell
// areas and the second the number of cells. Sums over processes add count,
// weighted sum and weight sum only.
struct zone_record {
  double count = 0;
  double sum = 0;
  double code = 0;
  double share = 0;
  double weight = 0;
};

// Per grid row the first and last column holding zone-grid data; (0, -1) for a
// row without data.
struct row_strip {
  int first = 0;
  int last = -1;
};

// A run of cells exchanged with a neighbouring process.
struct halo_run {
  int row = 0;
  int first_col = 0;
  int count = 0;
  int neighbour = 0;
};

// One hydrologic response unit of the SpinUp set-up.
struct hru_entry {
  int64_t id = 0;
  std::string class_key;  // the classes of its cells, e.g. "0012'0003'"
  int row = 0;
  int col = 0;
};

// The 12 numbers at the head of every binary grid and stack file; a stack
// stores 0 in the statistics and its level count in the last number.
struct grid_header {
  double ncols = 0;
  double nrows = 0;
  double xllcorner = 0;
  double yllcorner = 0;
  double cellsize = 0;
  double nodata = -9999;
  double count = 0;
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  double mean = 0;
  double stddev = 0;
};

// The system's own missing value.
constexpr double NODATA = -9999.0;
