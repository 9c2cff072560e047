// irrigationclass: irrigation per cell and step by the rules of the irrigation
// table (a schedule of dates, a soil-moisture threshold, a threshold of the
// ratio of real to potential evapotranspiration), with water from
// groundwater (capped by "Max_Pumping") or from reservoirs and rivers (as far
// as the routing says they reach), added to "precipitation". The amounts stay
// in "irrigation_amounts", which also carries a running irrigation to the
// next step. It runs with a single process only (code 60 otherwise): the
// routing module that hands it the river water lives on process 0. With
// tracers it mixes the concentration of the precipitation with that of the
// irrigation water (the soil water's for pumped water, the river's for
// surface water). It counts the subbasins of the unsaturated-zone module's
// zone table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/zonalstat.h"
#include "submodel/routingtables.h"
#include "submodel/runoffrecords.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;
struct irrigation_entry;

class irrigationclass : public teilmodellklasse {
 public:
  // zone_table: the unsaturated zone's, in place of the settings' one.
  irrigationclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                  const std::string& section, grid_store* store, const settings_context& settings,
                  const zone_table_view& zone_table);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void free_tracer_statistics() override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  virtual void set_qg(subbasin_flow_arrays* qg);
  // The surface-water demand per subbasin index 0..n (mean in sum / weight);
  // none when inactive.
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
  bool working() const { return flow_control != 0 && spinup == 0; }
  void read_section();
  void find_grids();
  void create_statistics();
  // Step parts, on the process's (the only) grid.
  void apply_rules();
  void share_surface_water();
  void mix_tracers();
  void add_water();
  void complete_statistics();
  [[noreturn]] void fail_without_routing(const char* what);

  int spinup = 0;
  const std::vector<irrigation_entry>* table = nullptr;
  int table_size = 0;  // entries 1..table_size
  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
  subbasin_flow_arrays* maxirrig = nullptr;
  subbasin_flow_arrays* maxirrig_from_reservoirs = nullptr;
  routing_target_table* routing_target = nullptr;
  abfrel_table* abfrel = nullptr;

  grid_matrix* precipitation = nullptr;
  grid_matrix* amounts = nullptr;
  int amounts_index = 0;
  const grid_matrix* codes = nullptr;
  const grid_matrix* max_pumping = nullptr;
  const grid_matrix* sb = nullptr;
  const grid_matrix* sb_low = nullptr;
  const grid_matrix* sb_high = nullptr;
  const grid_matrix* ratio = nullptr;
  const grid_matrix* root_depth = nullptr;

  std::string file_name[2];  // groundwater, surface water
  int statistics_code[2] = {0, 0};
  std::vector<zone_record> statistic_zones[2];
  std::unique_ptr<zonalstatistic> statistic[2];
  // Surface-water demand per subbasin: what the routing takes from the river.
  std::vector<zone_record> demand;
  // Per own cell of the step: its origin (0 none, 1 groundwater, 2 surface
  // water, 3 other) and subbasin index; row-major over the grid.
  std::vector<int> origin_of, subbasin_of;
  // Per tracer 1..T: the precipitation's concentration ("input") and the
  // soil water's (the unsaturated zone's storage).
  std::vector<const grid_matrix*> input_concentration, soil_concentration;
};
