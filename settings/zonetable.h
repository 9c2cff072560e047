// The table of the zones of the zone grid (store entry 1): the zones in
// ascending code order with their cell counts and area shares, the array from
// zone code to zone index and, per grid row, the span of columns holding zone
// data. Process 0 builds it from the whole zone grid; the others receive it.
#pragma once

#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class grid_store;
class modelobject;

constexpr int MAX_ZONE_CODE = 32767;
constexpr int MAX_ZONES = 16000;
constexpr int INVALID_ZONE_CODE = 3;
constexpr int TOO_MANY_ZONES_CODE = 4;
constexpr int NO_ZONE_CODE = 7;

class zone_table {
 public:
  // Collective. Process 0 ranks the zone grid of store entry 1 (weights: a
  // grid of cell weights or none); every process ends with the table, the
  // processes other than 0 with the spans of their own rows first_own_row ..
  // last_own_row only. Errors (3, 4, 7) are thrown on every process.
  void rank_zone_grid(modelobject& owner, const grid_store& store, const grid_matrix* weights,
                      int ncols, int nrows, double nodata, double cellsize, int first_own_row,
                      int last_own_row);

  // Records 0..zone_count: count (weighted cells), weighted sum (cells), zone
  // code, area share, weight sum; record 0 holds the total area [km2 for a
  // cellsize in m] as its share.
  std::vector<zone_record> records;
  std::vector<int> code_to_index;  // 0..max_zone_code
  std::vector<row_strip> strips;   // 0..nrows
  int zone_count = 0;
  int max_zone_code = 0;
};
