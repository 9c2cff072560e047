// expokorrklasse: the correction factor of direct solar radiation for slope,
// aspect and terrain shading, and the temperature modified by it. Not built
// yet: the module reads the head of "[radiation_correction]", hands out no
// grid and computes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class expokorrklasse : public teilmodellklasse {
 public:
  expokorrklasse(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                 const std::string& section, grid_store* store,
                 const settings_context& settings);

  // The "radiation_correction" grid when the flow-control value is exactly 1.
  virtual const grid_matrix* get_radiation_correction();

  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;
};
