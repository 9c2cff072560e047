// The glaciers of the dynamic glacier model: one record per glacier with
// its size by the volume-area relation V = c A^gamma (Chen & Ohmura 1990;
// c 28.5, gamma 1.36 by default) and its elevation bands, through which a
// yearly change of area is spread over the glacier's cells, the lowest band
// most (after Huss et al. 2010, "Future high-mountain hydrology: a new
// parameterization of glacier retreat"). A band refers to the cells' values
// in whole grids held by process 0 and changes them directly.
#pragma once

#include <cstdint>
#include <vector>

// One elevation band of a glacier [m] with references to its cells' share
// and code.
struct elevationbandclass {
  double lower = 0, upper = 0, width = 0;  // [m]
  uint64_t cell_count = 0;
  std::vector<double*> shares;  // the cells' values in "GlacierizedCells"
  std::vector<double*> codes;   // and in "GlacierCodes"
  std::vector<int32_t> flags;   // 0: may change in the running update; 1: may not

  void add_band_cell(double* share, double* code);
  bool contains_elevation(double z) const { return lower <= z && z < upper; }
  void clear_band();
  // x < 0: counts the cells with share > 0; x > 0: those with share < 1;
  // every cell not counted is flagged 1; x = 0 flags all and counts none.
  uint64_t count_band_changeable(double x);
  // Spreads u per unflagged cell in up to five passes; returns the change
  // that could not be placed. A cell brought below 0 leaves the glacier
  // (share 0, code -9999).
  double distribute_in_band(double u);
};

struct glacierclass {
  int32_t code = 0;
  double cell_size = 100;  // [m]
  uint64_t cell_count = 0;
  double area = 0;        // [km2]
  double volume = 0;      // [10^6 m3]
  double old_area = 0;    // [km2]
  double old_volume = 0;  // [10^6 m3]
  double c = 28.5, gamma = 1.36;
  double lowest = 10000, highest = -10000;  // [m]
  int32_t band_count = 1;
  double cells_to_change = 0;  // N [cells]
  double remainder = 0;        // [cells]
  uint64_t assigned_cells = 0;
  int32_t extra_weight = 0;  // e of band 0
  int32_t subbasin = 0;
  double lost_balance = 0;   // [mm x share]
  double new_share_sum = 0;  // [-]
  double added_balance = 0;  // [mm]
  std::vector<elevationbandclass> bands;  // band 0 the lowest

  glacierclass() = default;
  glacierclass(int32_t code, int32_t bands, int32_t extra, int32_t subbasin, double c,
               double gamma, double volume, double area, double cell_size);

  void volume_from_area();
  void area_from_volume();
  void old_area_from_old_volume();
  void compute_cells_to_change();
  void add_cell(bool widen, double share, double elevation, double cell_area);
  void add_to_volume(double amount) { volume += amount; }
  void add_to_old_volume(double amount) { old_volume += amount; }
  void empty_range() {
    lowest = 10000;
    highest = -10000;
  }

  void build_bands();
  void reset_bands();
  void release_bands() { bands.clear(); }
  void assign_cell_to_band(double* share, double* code, double z);
  uint64_t count_changeable_cells(double amount);
  double distribution_unit(double amount);
  double distribution_unit() { return distribution_unit(cells_to_change); }
  double distribute_over_bands(int last_band, double u);
};
