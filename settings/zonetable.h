// The table of the zones of a zone grid: the zones in ascending code order
// with their cell counts and area shares, the array from zone code to zone
// index and, per grid row, the span of columns holding zone data. Process 0
// builds it from the whole zone grid; the others receive it. The settings
// object ranks the zone grid of store entry 1, a module its own zone grid:
// both go through the one ranking here, with one rule from cell value to
// zone code and one broadcast.
#pragma once

#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class grid_store;
class modelobject;

constexpr int MAX_ZONE_CODE = 32767;
constexpr int MAX_ZONES = 16000;
constexpr int MAX_SUBBASINS = 10000;  // zones of a module's own zone grid
constexpr int INVALID_ZONE_CODE = 3;
constexpr int TOO_MANY_ZONES_CODE = 4;
constexpr int NO_ZONE_CODE = 7;

// The zone code of a cell value, floor(value + 0.5), so that a value that is
// not a whole number lands in the nearest zone wherever it is looked up.
// False when the code lies outside 0..MAX_ZONE_CODE (a NaN too).
bool zone_code_of(double value, int& code);

// Who ranks. Their entries are worded differently, a module marks record 0
// with code 1 (the whole basin) and a module's grid may hold at most
// MAX_SUBBASINS zones.
enum class zone_ranker { settings_object, submodel };

// What process 0 ranks; the other processes need none of it.
struct zone_grid_input {
  const grid_matrix* grid = nullptr;              // the whole zone grid; none: all NODATA
  std::string file_name;                          // named in the entries
  const grid_matrix* weights = nullptr;           // cell weights; none: 1 per cell
  const std::vector<row_strip>* spans = nullptr;  // columns to scan per row; none: whole rows
};

// The geometry of the zone grid and this process's own rows.
struct zone_grid_frame {
  int ncols = 0;
  int nrows = 0;
  double nodata = NODATA;
  double cellsize = 0;  // [m]
  int first_own_row = 0;
  int last_own_row = 0;
};

class zone_table {
 public:
  // Collective. Process 0 ranks the zone grid of store entry 1 (weights: a
  // grid of cell weights or none); every process ends with the table, the
  // processes other than 0 with the spans of their own rows first_own_row ..
  // last_own_row only. Errors (3, 4, 7) are thrown on every process.
  void rank_zone_grid(modelobject& owner, const grid_store& store, const grid_matrix* weights,
                      int ncols, int nrows, double nodata, double cellsize, int first_own_row,
                      int last_own_row);

  // Collective, on a divided grid: the same table as rank_zone_grid without
  // weights, ranked by every process over the cells it answers for: its own
  // cells of zone (owners: the division's owner per cell), and on process 0
  // also the cells with zone data that no process owns (below nodata, not a
  // number), for which it holds zone whole. The entries and errors are those
  // of one walk over the whole grid in row order.
  void rank_zone_grid_by_bands(modelobject& owner, const std::string& file_name,
                               const grid_matrix& zone, const grid_matrix& owners,
                               const zone_grid_frame& frame);

  // The one ranking behind both callers (collective, errors as above; a
  // module's too many subbasins is 4 as well). owner writes the entries.
  void rank_zones(modelobject& owner, zone_ranker ranker, const zone_grid_input& input,
                  const zone_grid_frame& frame);

  // Records 0..zone_count: count (weighted cells), weighted sum (cells), zone
  // code, area share, weight sum; record 0 holds the total area [km2 for a
  // cellsize in m] as its share.
  std::vector<zone_record> records;
  std::vector<int> code_to_index;  // 0..max_zone_code
  std::vector<row_strip> strips;   // 0..nrows
  int zone_count = 0;
  int max_zone_code = 0;
};
