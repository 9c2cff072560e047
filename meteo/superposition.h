// RegionalSuperposition: combines grids of the grid store into new grids,
// region by region, each output grid (entity) a weighted sum of input grids
// with weights per region of the settings' region grid. The entities are not
// built yet: the module reads the head of "[RegionalSuperposition]", and an
// active module is reported and superposes nothing. Unlike the other modules
// its constructor throws its error codes instead of returning a status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class RegionalSuperposition : public teilmodellklasse {
 public:
  // Reads the regions from the settings' region table.
  RegionalSuperposition(DiagStream* diag, statistics_registry* registry, int registry_size,
                        const std::string& section, grid_store* store,
                        const settings_context& settings);

  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  virtual void write_output();
  void flush_outputs() override;
  void release() override;

 private:
  statistics_registry* statistics = nullptr;
  int statistics_size = 0;
};
