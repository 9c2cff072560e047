// The snow slide walk of snowslide_kernels.h compiled once into a plan, so
// that a step touches memory almost sequentially: the walk order, each
// cell's neighbour shares and whether its slope starts a slide depend only
// on grids that do not change during a run (zone, slope, slide fractions,
// deposition capacity, elevation order) and are worked out once; the
// changing state of every cell (storages, slide amounts, and beside them the
// capacity and glacier share that neighbours read) lies in one cache line per
// cell in row-major order. The arithmetic is that of snow_slide_walk, in the
// same order, so both give the same bits.
#pragma once

#include <cstdint>
#include <vector>

#include "snow/snowslide_kernels.h"

// The state of one cell; only cells inside the zone grid are used.
struct alignas(64) slide_cell {
  double total = 0, liquid = 0,
         solid = 0;                              // snow storage outside the glacier part [mm]
  double input = 0, mobile = 0, deposition = 0;  // slide grids [mm]
  double capacity = 0;                           // deposition capacity, never below 0 [mm]
  double glacier = 0;                            // share g in [0, 1]; 0 without glacier storages
};

// The snow storage on the glacier part of a cell [mm].
struct slide_glacier_cell {
  double total = 0, liquid = 0, solid = 0;
};

// One position of the walk: the cell it processes and where its moving snow
// goes (index into slide_plan::cells, -1 where the share is 0).
struct slide_step {
  int32_t cell = 0;
  int32_t next[4] = {-1, -1, -1, -1};  // north, west, east, south
  double share[4] = {0, 0, 0, 0};      // [-]
  bool starts = false;                 // slope at or above the minimum slope
  bool passes = false;                 // some neighbour takes a share
};

struct slide_plan {
  int nrows = 0, ncols = 0;
  std::vector<slide_step> steps;                  // walk order, highest cell first
  std::vector<int32_t> zone_cells;                // cells inside the zone, row-major
  std::vector<int32_t> outside_cells;             // cells outside the zone, row-major
  std::vector<slide_cell> cells;                  // nrows * ncols, row-major
  std::vector<slide_glacier_cell> glacier_cells;  // same indices; empty without
  bool glacier_storages = false;

  int32_t index(int row, int col) const { return (row - 1) * ncols + (col - 1); }
};

// Builds the plan from whole grids (in.glacier null: no glacier storages).
// The storages of the cells are left 0.
slide_plan build_slide_plan(const slide_walk_inputs& in);

// Takes the glacier share anew (after the glacier grid changed).
void refresh_slide_glacier(slide_plan& plan, const slide_walk_inputs& in);

// Resets the slide amounts of the zone cells, walks the plan and adds
// deposition and mobile snow back to the storages; solid = total - liquid
// wherever a storage is rewritten, as in snow_slide_walk.
void run_slide_plan(slide_plan& plan, double phi) noexcept;
