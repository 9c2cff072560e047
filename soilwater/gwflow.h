// gwflowclass: saturated groundwater flow in stacked aquifer layers, once per
// sub-step of the soil, surface and groundwater loop. Not built yet: the
// module reads the head of "[groundwater_flow]" (and is inactive during a
// SpinUp), keeps what the wiring hands it and computes nothing. It receives
// the zone table of the unsaturated-zone module in its settings.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class gwflowclass : public teilmodellklasse {
 public:
  gwflowclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
              const std::string& section, const std::string& control_file, grid_store* store,
              const submodel_settings& settings, int substeps);

  void set_substeps(int count) override;
  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  // One sub-step.
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  virtual void begin_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void end_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  // Both setters keep what they get when the module is active.
  virtual void set_qg(subbasin_flow_arrays* qg);
  virtual void set_riverflow_table(riverflow_table* table);
  virtual void flush_outputs();

 private:
  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
};
