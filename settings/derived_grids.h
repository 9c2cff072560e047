// The grids the settings object derives at set-up from the zone grid, the
// elevation model and optional user grids: cell sizes and relative cell
// areas (stage 10), the coordinates of the cells (stage 11), slope and aspect
// (stage 18), and the regression regions with the weights of the transition
// between them (stage 20). A created grid is registered with write code 0
// and written once under the base file name's part before its last "." with
// its own suffix (settings/derived_grids_kernels.h for the per-cell work).
#pragma once

#include <string>
#include <vector>

#include "settings/settings_part.h"
#include "modelbase/settings_context.h"

// Store indices of the derived grids (0 when absent).
struct derived_grid_indices {
  int coord_x = 0;
  int coord_y = 0;
  int cell_size_x = 0;
  int cell_size_y = 0;
  int rel_cell_area = 0;
  int slope = 0;
  int aspect = 0;
  int regions[4] = {0, 0, 0, 0};  // [1] "regression_regions", [2], [3]
  int weights[4] = {0, 0, 0, 0};  // [1] "regression_weights1", [2], [3]
};

class derived_grids : public settings_part {
 public:
  explicit derived_grids(defaultini& owner) : settings_part(owner) {}

  void make_cell_size_grids();
  void make_coordinate_grids();
  void make_slope_and_aspect();
  void make_region_weight_grids();
  // Ranks the codes of the region grid of store entry region_index and
  // finds the regions' centroids, each process over its own cells, as a
  // walk over the whole grid would; every process then holds the count, the
  // code-to-rank table and the centroids. Collective.
  void rank_region_grid(int region_index);
  // Every process fills the region and weight grids of the transition
  // between regions on its own cells. Collective.
  void compute_region_weights();
  // Sets a cell to the mean of the valid ones among its eight neighbours
  // inside the grid and returns the mean; used receives their number (0:
  // the cell is left as it is and the result is nodata).
  double fill_from_neighbours(int row, int col, grid_matrix& grid, int& used) const;

  // Forgets the region table (the grids stay with the settings object).
  void release();

  const derived_grid_indices& indices() const { return derived; }
  double transition_distance() const { return transition; }  // [m]
  int region_count() const { return n_regions; }
  int highest_region_code() const { return max_region_code; }
  const std::vector<int>& region_ranks() const { return region_code_rank; }
  const std::vector<region_centroid>& region_centroids() const { return region_table; }

 private:
  // Writes a created grid once under its file name (units digit 1 for one
  // output_grid call).
  void write_once(int index);
  // The file name derived grids are named after: the names read from the
  // control file for the zone grid and the elevation model (the same on
  // every process), the registered file name otherwise.
  std::string base_file(int index) const;
  // This process's own rows and one halo row on each side inside the grid
  // (also on process 0).
  void band_rows(int& first, int& last) const;
  // Slope and aspect from central differences (nodata where a neighbour is
  // missing), cells without them filled from their neighbours in row order;
  // every process computes a band of rows and keeps its own cells (either
  // grid may be none). Collective.
  void compute_slope_rows_in_bands(const grid_matrix& z, grid_matrix* slope, grid_matrix* aspect);
  void read_transition_distance();
  // The weights of this process's own cells; the search reads the region
  // grid of store entry region_index (cleared outside the basin) as far as
  // the transition distance reaches. Collective.
  void set_region_weights_in_band(int region_index, double dc);

  derived_grid_indices derived;
  bool cell_size_x_given = false;
  bool cell_size_y_given = false;
  bool rel_cell_area_given = false;
  double transition = 0;  // [m] "[region_transition_distance]"

  int n_regions = 0;  // at most 30
  int max_region_code = 0;
  std::vector<int> region_code_rank;          // per region code 0..highest its rank, 0 if absent
  std::vector<region_centroid> region_table;  // 0..regions, 0 unused
};
