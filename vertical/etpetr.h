// verdunstungsmodellklasse: potential evapotranspiration per vegetation layer
// (Penman-Monteith, Hamon, Wendling, Haude), the sublimation of snow and the
// collection of real evapotranspiration at the end of a step. Not built yet:
// the module reads the head of "[evapotranspiration]", stores what the wiring
// hands it and computes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class verdunstungsmodellklasse : public teilmodellklasse {
 public:
  verdunstungsmodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                           int registry_size, const std::string& section,
                           const std::string& control_file, grid_store* store,
                           const submodel_settings& settings);

  void set_substeps(int count) override;
  void release() override;

  virtual void flush_outputs();
  // Both setters keep the grid (or none) when the module is active.
  virtual void set_solid_snow_storage(const grid_matrix* snow_storage);
  virtual void set_radiation_correction(const grid_matrix* radiation_correction);
  virtual void compute_potential_evapotranspiration(int64_t hour, int64_t day, int64_t month,
                                                    int64_t year);
  virtual void compute_snow_evaporation(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void begin_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void substep_hook(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void end_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  // section: "[lake_model]".
  virtual void read_lake_parameters(const std::string& section);
  // 0 when snow is inactive; methods 5, 6, 7 and 11 switch sublimation off.
  virtual void set_snow_method(int method);

 private:
  const grid_matrix* solid_snow_storage = nullptr;
  const grid_matrix* radiation_correction = nullptr;
  int snow_method = 0;
};
