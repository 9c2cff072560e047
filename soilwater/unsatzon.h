// unsatzonmodellklasse: soil-water movement in the soil columns by the
// Richards equation with heat transfer and frozen soil, and the runoff of
// every subbasin. Not built yet: the module reads the head of
// "[unsatzon_model]" and, when active, ranks the zones of its own zone grid
// "zonegrid_soilmodel", whose table irrigation, groundwater and routing
// read in place of the settings' one. It hands out no runoff arrays and
// computes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class unsatzonmodellklasse : public teilmodellklasse {
 public:
  // substeps: sub-steps per time step of the soil, surface and groundwater loop.
  unsatzonmodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                       int registry_size, const std::string& section, grid_store* store,
                       const settings_context& settings, int substeps);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  // One sub-step.
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  // Sub-step k is its time_step.
  void run_substep(const model_date& step, int k) override;

  // This module's zone table, which irrigation, groundwater and routing read
  // in place of the settings' one; without a ranked table (inactive module)
  // the view holds no table, so the modules built with it stay inactive.
  // It points into this module, which must outlive them.
  zone_table_view get_zone_table() const;

  // The storage-grid read code of the section (0 while not read).
  int get_readgrid() const { return readgrid; }
  // 1 when the groundwater module is active.
  void set_groundwater_flag(int flag) { groundwater_flag = flag; }

  virtual void compute_max_pumping();
  virtual void select_input_grid(char interception_before_snow);
  // max_dump_files 0: no limit.
  virtual void set_dump_options(bool dumpmode, bool close_after_dump, bool repair_after_dump,
                                int64_t max_dump_files);
  virtual subbasin_flow_arrays* get_qbb();
  virtual subbasin_flow_arrays* get_qg();
  virtual subbasin_flow_arrays* get_qd();
  virtual subbasin_flow_arrays* get_qi();
  // Recession constants [min] of direct runoff and interflow per subbasin.
  virtual std::vector<double>* get_kelsqd();
  virtual std::vector<double>* get_kelsqi();
  // The storage-content file of this process, none when inactive.
  virtual const std::string* get_storage_file_name();
  // Exists only with the groundwater model.
  virtual riverflow_table* get_riverflow_table();
  virtual void set_surface_routing_active(int active);
  void begin_step(const model_date& step) override;
  void end_step(const model_date& step) override;
  void flush_outputs() override;
  // external_time_step [min] of the coupled model.
  virtual void apply_external_gw_table(int external_time_step);
  virtual void pre_spinup_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void finish_pre_spinup();
  // Takes the place of release; append: an earlier module already wrote its
  // section of the storage-content file.
  void end_run(int append) override;
  bool storage_section_written() const override { return storage_written; }

 private:
  std::vector<zone_record> own_zones;
  std::vector<int> own_zone_index;
  int own_zone_count = 0;
  int own_max_zone_code = 0;
  int groundwater_flag = 0;
  int surface_routing_active = 0;
  char interception_first = 0;
  bool dumpmode = false;
  bool close_after_dump = false;
  bool repair_after_dump = false;
  int64_t max_dump_files = 0;
  bool storage_written = false;
};
