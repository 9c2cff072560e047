// The working grids and counts of the unsaturated zone's temperature
// pre-SpinUp (unsatzon_prespinup.cpp): they exist from the first step of the
// pass to its end.
#pragma once

#include <array>

#include "modelbase/matrices.h"

struct pre_spinup_state {
  enum grid_id { freezing, thawing, daily, annual, count };
  // Grid and file names of the working grids, in the order of their entries.
  static constexpr std::array<const char*, count> names = {
      "FreezingDegreeDays", "thawingDegreeDays", "DailyTemperature", "AnnualTemperature"};
  std::array<grid_matrix, count> own;       // the grids this module allocated
  std::array<int, count> entries{};         // their store entries; 0: not this module's
  std::array<grid_matrix*, count> grids{};  // the grids of the pass; null before it
  int day_steps = 0;                        // steps since the last end of a day
  int pass_steps = 0;                       // steps of the pass, never reset
};
