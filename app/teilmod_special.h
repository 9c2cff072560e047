// SpecialOutputClass: time series of grid values at chosen points, one file
// per block of "[special_output]". It is the last module the application
// builds and stays inactive without its section.
//
// The blocks, entities and the sampling are not built yet: the module reads
// the head of its section and samples nothing.
#pragma once

#include <cstdint>
#include <string>

#include "app/teilmod.h"

class SpecialOutputClass : public teilmodellklasse {
 public:
  // status: 0, or the integer thrown while the section was read (104 for
  // anything else).
  SpecialOutputClass(int& status, DiagStream* diag, statistics_registry* registry,
                     int registry_size, const std::string& section,
                     const std::string& control_file, grid_store* store,
                     const submodel_settings& settings, int substeps);

  // One sample per sub-step (is_substep 1, k its number) and one per step.
  virtual void sample_step(int64_t hour, int64_t day, int64_t month, int64_t year, int is_substep,
                           int k);
  virtual void flush_outputs();
  void release() override;
};
