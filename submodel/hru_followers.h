// The hydrologic response units of SpinUp: a follower cell (its master grid
// value is nodata) copies the values of its unit's master cell, so every
// follower of a process must name a unit of the list whose master cell is a
// cell of the same process.
#pragma once

#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class DiagStream;

struct hru_follower_frame {
  const grid_matrix* zone = nullptr;     // zone grid: nodata outside the basin
  const grid_matrix* regions = nullptr;  // "MPIRegions" or none
  const grid_matrix* units = nullptr;    // "HydrologicResponseUnits"
  const grid_matrix* masters = nullptr;  // "MasterHydrologicResponseUnits"
  const std::vector<row_strip>* strips = nullptr;
  const std::vector<hru_entry>* list = nullptr;  // element 0 unused
  int first_row = 0;
  int last_row = 0;
  int ncols = 0;
  int rank = 0;
  double nodata = -9999;
};

// Throws 17 with its entry naming owner at the first follower whose unit is
// not in the list or whose master cell is not the process's own.
void check_hru_followers(DiagStream& diag, const hru_follower_frame& frame,
                         const std::string& owner);
