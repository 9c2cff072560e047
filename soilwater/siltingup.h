// siltingupclass: the sealing of the soil surface by rain, whose kinetic
// energy lowers the infiltration capacity, turning the water input above it
// into direct runoff. Not built yet: the module reads the head of
// "[SiltingUpModel]" and computes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class siltingupclass : public teilmodellklasse {
 public:
  siltingupclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                 const std::string& section, grid_store* store,
                 const settings_context& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  void flush_outputs() override;
  // Keeps the flag and, when active, chooses the water-input grid.
  virtual void select_input_grid(char interception_before_snow);

 private:
  char interception_first = 0;
};
