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
                           int registry_size, const std::string& section, grid_store* store,
                           const settings_context& settings);

  void set_substeps(int count) override;
  void release() override;

  void flush_outputs() override;
  // Both setters keep the grid (or none) when the module is active.
  virtual void set_solid_snow_storage(const grid_matrix* snow_storage);
  virtual void set_radiation_correction(const grid_matrix* radiation_correction);
  virtual void compute_potential_evapotranspiration(int64_t hour, int64_t day, int64_t month,
                                                    int64_t year);
  virtual void compute_snow_evaporation(int64_t hour, int64_t day, int64_t month, int64_t year);
  void begin_step(const model_date& step) override;
  virtual void substep_hook(int64_t hour, int64_t day, int64_t month, int64_t year);
  // Sub-step k is its substep_hook.
  void run_substep(const model_date& step, int k) override;
  void end_step(const model_date& step) override;
  // section: "[lake_model]".
  virtual void read_lake_parameters(const std::string& section);
  // 0 when snow is inactive; methods 5, 6, 7 and 11 switch sublimation off.
  virtual void set_snow_method(int method);

 private:
  const grid_matrix* solid_snow_storage = nullptr;
  const grid_matrix* radiation_correction = nullptr;
  int snow_method = 0;
};
