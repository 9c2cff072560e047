// abflussmodellklasse: routes the runoff of every subbasin through channels,
// lakes, reservoirs and abstractions to the outlet, on process 0 only. Not
// built yet: the module reads the head of "[routing_model]" (inactive on the
// other processes, which keep the value read as the routing activity
// elsewhere) and routes nothing; when active it hands irrigation its tables
// (submodel/routingtables.h), which stay at "no water" until routing fills them. It counts the
// subbasins of the unsaturated-zone module's zone table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "submodel/routingtables.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class abflussmodellklasse : public teilmodellklasse {
 public:
  // zone_table: the unsaturated zone's, in place of the settings' one;
  // readgrid: the unsaturated zone's storage-grid read code.
  abflussmodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                      int registry_size, const std::string& section, grid_store* store,
                      const settings_context& settings, int tracer_count,
                      tracer_entry* tracer_list, const zone_table_view& zone_table,
                      int readgrid);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;
  bool storage_section_written() const override { return storage_written; }

  // The flow-control value read on this process before the module was made
  // inactive on every process but 0.
  int get_routing_active_elsewhere() const { return routing_active_elsewhere; }

  // Keeps the file name (none when the unsaturated zone is inactive);
  // readgrid 0, 2 and 4 read nothing.
  virtual void read_state(const std::string* storage_file, int readgrid);
  virtual void init_routing();
  virtual void set_qg(subbasin_flow_arrays* qg);
  virtual void set_riverflow_table(riverflow_table* table);
  virtual routing_target_table* get_routing_target();
  virtual abfrel_table* get_abfrel();
  virtual void set_output_unit(int unit);
  // The irrigation demand per subbasin index 0..n.
  virtual void set_irrigation_demand(std::vector<zone_record>* demand);
  // River and reservoir water available for irrigation per subbasin.
  virtual subbasin_flow_arrays* get_maxirrig();
  virtual subbasin_flow_arrays* get_maxirrig_from_reservoirs();
  void flush_outputs() override;
  // Called also when the module is inactive.
  virtual void init_lake_links(char interception_before_snow);

 private:
  void make_irrigation_tables();
  int routing_active_elsewhere = 0;
  int routed_tracer_count = 0;
  tracer_entry* routed_tracers = nullptr;
  int state_readgrid = 0;
  int output_unit = 0;
  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
  std::vector<zone_record>* irrigation_demand = nullptr;
  // What irrigation takes from the routing, in their final layouts; made on
  // process 0 when active and left at "no water" until routing fills them.
  subbasin_flow_arrays maxirrig;
  subbasin_flow_arrays maxirrig_from_reservoirs;
  routing_target_table routing_target;
  abfrel_table abfrel;
  std::string storage_file_name;
  bool storage_written = false;
};
