// Snow slides (gravitational redistribution of snow on steep slopes, after
// Gruber 2007 "A mass-conserving fast algorithm to parameterize
// gravitational transport and deposition using digital elevation models"):
// from the highest cell down, a share of each cell's snow starts to move
// and is passed on to its neighbours in the same zone by fixed fractions;
// a neighbour keeps what its deposition capacity allows and passes the rest
// on when its own turn comes. Amounts are cell-mean mm of water equivalent.
// The walk is a whole-grid operation (the order runs across the grid), so
// it is a pure function of whole grids; the module runs it on process 0.
#pragma once

#include <array>

#include "modelbase/matrices.h"

// One snow storage of a cell part [mm]: total W = solid S + liquid L.
struct snow_storage_ref {
  double& total;
  double& liquid;
  double& solid;
};

// Takes phi * W from a storage with W > 0; the liquid share L / W stays.
// Returns the amount taken [mm of the part].
double take_sliding_snow(double phi, snow_storage_ref s) noexcept;

// Adds D [mm] to a storage; an empty storage (W <= 0) becomes D of solid
// snow, otherwise the liquid share L / W stays.
void add_snow(double amount, snow_storage_ref s) noexcept;

// The shares a cell sends north, west, east and south: the fractions of the
// neighbours that exist in the cell's zone (a negative fraction counts 0),
// divided by their sum when it is positive; all 0 otherwise.
std::array<double, 4> slide_shares(const std::array<double, 4>& fractions,
                                   const std::array<bool, 4>& in_zone) noexcept;

// Whole grids the walk reads (rows 1..nrows, columns 1..ncols).
struct slide_walk_inputs {
  const grid_matrix* zone = nullptr;           // nodata outside
  const grid_matrix* glacier = nullptr;        // share g; null: no glacier part
  const grid_matrix* slope = nullptr;          // [deg]
  std::array<const grid_matrix*, 4> fraction{};  // north, west, east, south
  const grid_matrix* capacity = nullptr;       // "max_deposition" [mm]
  const grid_matrix* order_row = nullptr;      // k-th highest cell of the
  const grid_matrix* order_col = nullptr;      // k-th zone position
  int nrows = 0, ncols = 0;
  double nodata = -9999;
  double min_slope = 30;  // [deg]
  double phi = 0.01;      // [-] share of the snow set in motion
};

// The grids the walk changes. The glacier storages are null without them.
struct slide_walk_grids {
  grid_matrix *total = nullptr, *liquid = nullptr, *solid = nullptr;
  grid_matrix *total_g = nullptr, *liquid_g = nullptr, *solid_g = nullptr;
  grid_matrix *input_mass = nullptr, *mobile_mass = nullptr, *deposition = nullptr;
};

// Resets the slide grids, walks the cells from the highest one and adds
// deposition and mobile snow back to the storages. The cell-mean snow
// (1 - g) W + g W_g summed over the zone cells does not change.
void snow_slide_walk(const slide_walk_inputs& in, slide_walk_grids& g) noexcept;
