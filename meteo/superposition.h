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
  // region_index: per region code its rank among the codes of the region
  // grid (0 for a code that does not occur), from the settings.
  RegionalSuperposition(DiagStream* diag, statistics_registry* registry, int registry_size,
                        const std::string& section, const std::string& control_file,
                        grid_store* store, const submodel_settings& settings,
                        const std::vector<int>* region_index, int region_count,
                        int max_region_code);

  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  virtual void write_output();
  virtual void flush_outputs();
  void release() override;

 private:
  statistics_registry* statistics = nullptr;
  int statistics_size = 0;
  const std::vector<int>* region_index = nullptr;
  int region_count = 0;
  int max_region_code = 0;
};
