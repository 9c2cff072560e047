// irrigationclass: irrigation per cell and step by the rules of the irrigation
// table, with water from groundwater or from rivers and reservoirs, added to
// the precipitation. Not built yet: the module reads the head of
// "[irrigation]", accepts whatever the wiring hands it and computes nothing.
// It counts the subbasins of the unsaturated-zone module's zone table.
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
  // zone_table: the unsaturated zone's, in place of the settings' one.
  irrigationclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                  const std::string& section, grid_store* store, const settings_context& settings,
                  const zone_table_view& zone_table);

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
  void flush_outputs() override;

 private:
  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
  subbasin_flow_arrays* maxirrig = nullptr;
  subbasin_flow_arrays* maxirrig_from_reservoirs = nullptr;
  routing_target_table* routing_target = nullptr;
  abfrel_table* abfrel = nullptr;
};
