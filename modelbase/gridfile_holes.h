// Filling the holes of a grid read whole: cells without a value where the zone
// grid has data get a fixed value or the value of the first valid cell found
// in widening rings around them.
#pragma once

#include <vector>

#include "modelbase/matrices.h"

struct hole_fill_params {
  int fill_mode = 0;            // 1 neighbours (with report_holes) or fill_value; 2 fill_value
  double fill_value = 0;        // value given to holes
  bool report_holes = false;    // search neighbours, report each hole
  double model_nodata = -9999;  // nodata value of the model (and of the zone grid)
};

struct filled_hole {
  int row = 0;
  int col = 0;
  double old_value = 0;
  double new_value = 0;
};

struct hole_fill_result {
  long count = 0;                   // holes found (up to the failing one)
  std::vector<filled_hole> filled;  // holes filled from a neighbour, in visiting order
  bool too_big = false;             // a hole without a valid cell within the rings
  int big_row = 0;
  int big_col = 0;
};

constexpr int HOLE_SEARCH_RINGS = 10;

// The value of the first valid cell around (row, col), searched in rings
// k = 1..10: ring k covers rows row-k..row+k, and its j-th row (from 0) the
// columns col-j..col+j. False when no ring holds a valid cell.
bool find_hole_value(const grid_matrix& grid, int nrows, int ncols, int row, int col, double nodata,
                     double& value);

// Cells of rows first..last, columns 1..ncols, that hold the file's nodata get
// the model's, so that a file's own nodata never reads as a value.
void replace_file_nodata(grid_matrix& grid, int first, int last, int ncols, double file_nodata,
                         double model_nodata);

// Rows and columns 1..nrows, 1..ncols of grid (all present), whose cells of
// the file's nodata already hold the model's (replace_file_nodata). A hole is a cell with the model's
// nodata where the zone grid has data. When at least one hole is found every
// cell is rewritten: holes with their new value, cells outside the zone grid's
// data with nodata. On a hole too big the grid keeps its values (nodata
// replaced) and the result says where.
hole_fill_result fill_grid_holes(grid_matrix& grid, int nrows, int ncols, const grid_matrix* zone,
                                 const hole_fill_params& params);
