// Code checks of the class grids: every code of a valid cell of "landuse",
// "soil_types" (and, in defltuzr_irrigation.cpp, "irrigation_codes") must
// name a class of its table; the codes are then replaced by the classes'
// indices, so that modules address table entries directly by the cell value.
// Process 0 checks its whole grid and distributes the result.
//
// In soil-model mode 1 the soil grids of that mode (usable field capacity,
// conductivity, fillable porosity) are derived from the soil types here too.
#include <mpi.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/rank0_status.h"
#include "tables/landuse_year.h"

namespace {

const char* const DASHES =
    "-----------------------------------------------------------------------";
constexpr int LANDUSE_CODE_ERROR = 31;
constexpr int SOIL_CODE_ERROR = 32;
constexpr int MULTILAYER_CODE_ERROR = 311;
constexpr int LAYER_CODE_ERROR = 312;
constexpr double FIELD_CAPACITY_SCALE = 10;  // [mm] per (vol-% m)
constexpr double POROSITY_SCALE = 0.01;      // vol-% to fraction

// The code of a cell: its value truncated; false for a value that is no
// whole number of the int range (never a class code).
bool cell_code(double value, int& code) {
  if (!(value > INT_MIN && value < INT_MAX)) return false;
  code = static_cast<int>(std::trunc(value));
  return true;
}

bool has_code(const std::vector<int>& codes, int code) {
  for (size_t i = 1; i < codes.size(); ++i)
    if (codes[i] == code) return true;
  return false;
}

// The class code of each entry 1..n (element 0 unused).
template <class Table>
std::vector<int> table_codes(const Table& table) {
  std::vector<int> codes(table.size(), 0);
  for (size_t i = 1; i < table.size(); ++i) codes[i] = table[i].code;
  return codes;
}

// A layer code of a multilayer class, or the nodata value when the class
// lists none at that place.
int layer_code_as_read(const multilayer_landuse_entry& e, int layer, double nodata) {
  if (static_cast<size_t>(layer) < e.layer_codes_as_read.size())
    return e.layer_codes_as_read[static_cast<size_t>(layer)];
  return static_cast<int>(nodata);
}

}  // namespace

void defaultini::check_class_codes(grid_matrix& grid, const std::vector<int>& codes,
                                   const char* checking, const char* replacing, int index,
                                   int error_code, const char* error_tail) {
  const grid_entry& entry = (*store)[index];
  const std::string file_name = entry.file_name.value_or(std::string());
  const std::string grid_name = entry.grid_name.value_or(std::string());
  const grid_matrix copy = grid.clone();
  const grid_matrix& zone = *zone_grid;
  diag_entry(*diag, checking);
  for (int r = 1; r <= nrows; ++r) {
    if (copy[r] == nullptr || zone[r] == nullptr) continue;
    for (int c = 1; c <= ncols; ++c) {
      if (!(zone[r][c] > nodata)) continue;
      int code = 0;
      if (!cell_code(copy[r][c], code) || !has_code(codes, code))
        fail_fatal(*diag, error_code, "\n", DASHES, "\n",
                   error_code == SOIL_CODE_ERROR ? "soil type " : "land use ", copy[r][c],
                   " in grid ", file_name, " (", grid_name, error_tail, DASHES, "\n\n");
    }
  }
  diag_entry(*diag, replacing, file_name);
  for (int i = 1; i < static_cast<int>(codes.size()); ++i) {
    const int c = codes[static_cast<size_t>(i)];
    if (c == i) continue;
    diag_entry(*diag, c, " replaced by ", i, " ...");
    // The copy keeps the codes as read, so a code equal to a later index is
    // not replaced twice.
    for (int r = 1; r <= nrows; ++r) {
      if (copy[r] == nullptr) continue;
      for (int col = 1; col <= ncols; ++col) {
        int code = 0;
        if (cell_code(copy[r][col], code) && code == c) grid[r][col] = i;
      }
    }
  }
}

void defaultini::codes_to_indices(grid_matrix& grid, const std::vector<int>& codes, int index,
                                  int error_code, const char* error_tail) {
  const grid_entry& entry = (*store)[index];
  const grid_matrix& zone = *zone_grid;
  for (int r = grid.first_row(); r <= grid.last_row(); ++r) {
    if (grid[r] == nullptr) continue;
    const bool zone_row = r >= zone.first_row() && r <= zone.last_row() && zone[r] != nullptr;
    for (int c = 1; c <= ncols; ++c) {
      int code = 0;
      const bool readable = cell_code(grid[r][c], code);
      if (zone_row && zone[r][c] > nodata && (!readable || !has_code(codes, code)))
        fail_fatal(*diag, error_code, "\n", DASHES, "\nland use ", grid[r][c], " in grid ",
                   entry.file_name.value_or(std::string()), " (",
                   entry.grid_name.value_or(std::string()), error_tail, DASHES, "\n\n");
      if (!readable) continue;
      // As the check at set-up: the last entry of that code whose index
      // differs from it.
      for (int i = 1; i < static_cast<int>(codes.size()); ++i)
        if (codes[static_cast<size_t>(i)] == code && code != i) grid[r][c] = i;
    }
  }
}

void defaultini::refresh_landuse_layers(int reread_index) {
  const grid_matrix* landuse_grid = vegetation.landuse_layer(0);
  if (vegetation.landuse_layer(1) == nullptr || landuse_grid == nullptr || store == nullptr) return;
  if (!grid_store::valid_index(reread_index) || (*store)[reread_index].grid != landuse_grid) return;
  grid_matrix& landuse = *(*store)[reread_index].grid;
  const bool multilayer = settings().multilayer_table != nullptr;
  // The dated file holds class codes as the first file did. A code missing
  // from the table stops every process, not only those that hold it.
  int code = 0;
  try {
    if (multilayer) {
      codes_to_indices(landuse, table_codes(multilayer_entries), reread_index,
                       MULTILAYER_CODE_ERROR,
                       ")\nis not present in the multilayer-landuse-table in the control file \n");
    } else {
      codes_to_indices(landuse, table_codes(landuse_entries), reread_index, LANDUSE_CODE_ERROR,
                       ")\nis not present in the land use table in the control file \n");
    }
  } catch (int thrown) {
    code = thrown;
  }
  MPI_Allreduce(MPI_IN_PLACE, &code, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (code != 0) throw code;
  if (multilayer) vegetation.refill_layer_grids();
}

void defaultini::check_multilayer_codes() {
  const std::vector<int> landuse_codes = table_codes(landuse_entries);
  const int n = static_cast<int>(multilayer_entries.size()) - 1;
  for (int m = 1; m <= n; ++m) {
    const multilayer_landuse_entry& e = multilayer_entries[static_cast<size_t>(m)];
    // A class without any layer code is tested for its first one as well.
    const int layers = e.layer_count > 1 ? e.layer_count : 1;
    for (int l = 1; l <= layers; ++l) {
      const int code = layer_code_as_read(e, l, nodata);
      if (l == 1 && !(code > nodata))
        fail_fatal(*diag, LAYER_CODE_ERROR, "\n\n", DASHES,
                   "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a "
                   "valid entry (not 9999 or larger):\nHere, line ",
                   m, " contains ", code, " as first layer code.\n", DASHES, "\n\n");
      if (code > nodata && !has_code(landuse_codes, code))
        fail_fatal(*diag, LAYER_CODE_ERROR, "\n", DASHES,
                   "\nError: not all layer codes from landuse ", e.code,
                   " from MultiLayer_Landuse-Table\nare present in the landuse-table in the "
                   "control file: Here, code ",
                   code, " is missing.\n", DASHES, "\n\n");
    }
  }
  for (int j = 1; j < static_cast<int>(landuse_codes.size()); ++j) {
    const int c = landuse_codes[static_cast<size_t>(j)];
    if (c == j) continue;
    for (int k = 1; k <= n; ++k) {
      multilayer_landuse_entry& e = multilayer_entries[static_cast<size_t>(k)];
      for (int l = 1; l <= e.layer_count && static_cast<size_t>(l) < e.layer_codes.size(); ++l) {
        if (layer_code_as_read(e, l, nodata) != c) continue;
        e.layer_codes[static_cast<size_t>(l)] = j;
        diag_entry(*diag, "Code replacement in MultiLayer-Landuse ", k, ": changed Layer-Code #", l,
                   " from ", c, " to ", j);
      }
    }
  }
}

void defaultini::check_landuse_codes(int landuse_index) {
  if (landuse_index <= 0) return;
  const bool multilayer = settings().multilayer_table != nullptr;
  run_on_rank0_and_share_error(rank, [&] {
    if (multilayer) {
      check_class_codes(*(*store)[landuse_index].grid, table_codes(multilayer_entries),
                        "1.: checking codes in land use grid",
                        "2.:replacing codes in land use grid ", landuse_index,
                        MULTILAYER_CODE_ERROR,
                        ")\nis not present in the multilayer-landuse-table in the control file \n");
      check_multilayer_codes();
    } else {
      check_class_codes(*(*store)[landuse_index].grid, table_codes(landuse_entries),
                        "1.: checking codes in land use grid",
                        "2.:replacing codes in land use grid ", landuse_index, LANDUSE_CODE_ERROR,
                        ")\nis not present in the land use table in the control file \n");
    }
  });
  if (multilayer) {
    for (size_t m = 1; m < multilayer_entries.size(); ++m) {
      std::vector<int>& codes = multilayer_entries[m].layer_codes;
      if (!codes.empty())
        MPI_Bcast(codes.data(), static_cast<int>(codes.size()), MPI_INT, 0, MPI_COMM_WORLD);
    }
  }
  scatter_grid(landuse_index);
  exchange_halo(landuse_index);
}

void defaultini::check_SOIL_Codes(int soil_index) {
  if (soil_index <= 0) return;
  run_on_rank0_and_share_error(rank, [&] {
    soil_type_grid = (*store)[soil_index].grid;
    check_class_codes(*soil_type_grid, table_codes(soil_entries), "1.: checking soil type codes",
                      "2.:replacing soil type codes ", soil_index, SOIL_CODE_ERROR,
                      ")\nis not present in the control file \n");
  });
  scatter_grid(soil_index);
  exchange_halo(soil_index);
}

grid_matrix* defaultini::soil_model_grid(const char* grid_name, const char* suffix, int& index,
                                         bool first) {
  const int found = find_grid(grid_name, 1);
  if (found > 0 && (*store)[found].grid != nullptr) {
    index = found;
    return (*store)[found].grid;
  }
  index = store->first_free(1);
  if (index >= GRID_STORE_FULL) {
    if (first)
      fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
                 GRID_STORE_FULL);
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid found in memeory (at position ",
               GRID_STORE_FULL, ")");
  }
  const int soil_index = find_grid("soil_types", 1);
  const std::string file_name =
      derived_grid_file_name((*store)[soil_index].file_name.value_or(std::string()), suffix);
  grid_matrix& grid = own_grid(index);
  grid = matrix(1, nrows, 1, ncols, nrows);
  // Cells that no process fills are written as missing.
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) grid[r][c] = nodata;
  register_grid(index, file_name, &grid, nullptr, 0, grid_name, 0, 1, nrows);
  ++registered_grids;
  return &grid;
}

void defaultini::make_nFK_kWert_and_Na() {
  available_soil_moisture_index = 0;
  hydraulic_conductivity_index = 0;
  fillable_porosity_index = 0;
  const int soil_index = find_grid("soil_types", 1);
  if (soil_index <= 0 || (*store)[soil_index].grid == nullptr) return;
  const grid_matrix& soil = *(*store)[soil_index].grid;

  // The root depth of layer 1: its grid where the layer grids were made,
  // otherwise the layer-1 class's root depth at the start date.
  const int root_index = find_grid("root_depth1", 1);
  const grid_matrix* root_grid = root_index > 0 ? (*store)[root_index].grid : nullptr;
  const grid_matrix* layer1 = vegetation.landuse_layer(1);
  const int start_jd = landuse_day_of_year(
      static_cast<int>(start_day), static_cast<int>(start_month), static_cast<int>(start_year));
  const int n_soils = static_cast<int>(soil_entries.size()) - 1;
  const int n_classes = static_cast<int>(landuse_entries.size()) - 1;
  const grid_matrix& zone = *zone_grid;

  struct soil_grid {
    const char* name;
    const char* suffix;
    int* index;
  };
  const soil_grid made[3] = {{"available_soil_moisture", ".$fk", &available_soil_moisture_index},
                             {"hydraulic_conductivity", ".$k", &hydraulic_conductivity_index},
                             {"fillable_porosity", ".$na", &fillable_porosity_index}};
  for (int g = 0; g < 3; ++g) {
    // A grid of that name given by the user is taken as it is.
    const bool created = find_grid(made[g].name, 1) <= 0;
    grid_matrix& grid = *soil_model_grid(made[g].name, made[g].suffix, *made[g].index, g == 0);
    if (!created) continue;
    for (int r = first_row; r <= last_row; ++r) {
      const row_strip& span = (*strips)[static_cast<size_t>(r)];
      for (int c = span.first; c <= span.last; ++c) {
        const bool valid = g == 0 ? zone[r][c] > nodata : zone[r][c] != nodata;
        const double s_index = soil[r][c];
        if (!valid || !(s_index >= 1 && s_index <= n_soils)) {
          grid[r][c] = nodata;
          continue;
        }
        const soil_entry& s = soil_entries[static_cast<size_t>(s_index)];
        if (g == 0) {
          double root = nodata;
          if (root_grid != nullptr) {
            root = (*root_grid)[r][c];
          } else if (layer1 != nullptr) {
            const double l = (*layer1)[r][c];
            if (l >= 1 && l <= n_classes)
              root = landuse_entries[static_cast<size_t>(l)].root_depth_at_day(
                  *diag, start_jd, 1, r, c, (*elevation_grid)[r][c]);
          }
          grid[r][c] = root == nodata ? nodata : s.FCap * root * FIELD_CAPACITY_SCALE;
        } else if (g == 1) {
          grid[r][c] = s.ksat_topmodel;
        } else {
          grid[r][c] = s.mSB * POROSITY_SCALE;
        }
      }
    }
    // Written once, as a grid of units digit 1 for this one call.
    grid_entry& entry = (*store)[*made[g].index];
    const int units = entry.units;
    entry.units = 1;
    set_output_date(start_hour, start_day, start_month, start_year);
    output_grid(*made[g].index, 1, 0);
    entry.units = units;
  }
}
