// irrigationclass: irrigation per cell and step by the rules of the irrigation
// table, with water from groundwater or from rivers and reservoirs, added to
// the precipitation. Not built yet: the module reads the head of
// "[irrigation]", accepts whatever the wiring hands it and computes nothing.
// It receives the zone table of the unsaturated-zone module in its settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "submodel/routingtables.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class irrigationclass : public teilmodellklasse {
 public:
  irrigationclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                  const std::string& section, const std::string& control_file, grid_store* store,
                  const submodel_settings& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  virtual void set_qg(subbasin_flow_arrays* qg);
  // Irrigation demand per subbasin index 0..n; none while not computed.
  virtual std::vector<zone_record>* get_irrigation_demand();
  virtual void set_riverflow_table(riverflow_table* table);
  // River and reservoir water available for irrigation per subbasin.
  virtual void set_maxirrig(subbasin_flow_arrays* from_rivers,
                            subbasin_flow_arrays* from_reservoirs);
  virtual void set_routing_target(routing_target_table* target);
  virtual void set_abfrel(abfrel_table* abfrel);
  virtual void link_tracer_storage();
  virtual void flush_outputs();

 private:
  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
  subbasin_flow_arrays* maxirrig = nullptr;
  subbasin_flow_arrays* maxirrig_from_reservoirs = nullptr;
  routing_target_table* routing_target = nullptr;
  abfrel_table* abfrel = nullptr;
};
