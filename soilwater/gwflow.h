// gwflowclass: saturated groundwater flow in stacked aquifer layers, once per
// sub-step of the soil, surface and groundwater loop. Not built yet: the
// module reads the head of "[groundwater_flow]" (and is inactive during a
// SpinUp), keeps what the wiring hands it and computes nothing. It counts
// the subbasins of the unsaturated-zone module's zone table.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class gwflowclass : public teilmodellklasse {
 public:
  // zone_table: the unsaturated zone's, in place of the settings' one.
  gwflowclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
              const std::string& section, grid_store* store, const settings_context& settings,
              int substeps, const zone_table_view& zone_table);

  void set_substeps(int count) override;
  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  // One sub-step.
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  // Sub-step k is its time_step.
  void run_substep(const model_date& step, int k) override;
  void release() override;
  void begin_step(const model_date& step) override;
  void end_step(const model_date& step) override;
  void flush_outputs() override;

  // Both setters keep what they get when the module is active.
  virtual void set_qg(subbasin_flow_arrays* qg);
  virtual void set_riverflow_table(riverflow_table* table);

 private:
  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
};
