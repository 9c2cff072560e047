// unsatzonmodellklasse: soil-water movement in the soil columns by the
// Richards equation with heat transfer and frozen soil, and the runoff of
// every subbasin. Built so far: when active, the module ranks the zones of
// its own zone grid "zonegrid_soilmodel", whose table irrigation,
// groundwater and routing read in place of the settings' one, and reads its
// sections "[unsatzon_model]", "[heat_transfer]", "[unsatzon_tuning]" and
// "[permafrost]" into its parameter set. Its grids, soil state, statistics
// and start report are not built yet (the per-cell kernels are, in
// unsatzon_means.h, unsatzon_initial_state.h, unsatzon_statistics.h); it
// hands out no runoff arrays and computes nothing per step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "soilwater/unsatzon_section.h"
#include "submodel/runoffrecords.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

// Rows of one control-cell file waiting to be written: entries 1..capacity
// of values_per_row values each with their dates (entry 0 unused).
struct control_cell_buffer {
  int capacity = 0;
  int values_per_row = 0;
  int fill = 0;
  std::vector<model_date> dates;  // 0..capacity
  std::vector<double> values;     // (capacity + 1) * values_per_row
};

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
  // The parameters read from the sections (the defaults while inactive).
  const unsatzon_parameters& get_parameters() const { return params; }
  // Soil layers L of every column: the largest layer count of the soil types.
  int get_layer_count() const { return layer_count; }
  // The buffers of the control-cell files, in the order of their creation
  // (hhyd, otherdata, theta, q_bottom, etr, interflow, temperature); empty
  // on a process that does not own the control cell.
  const std::vector<control_cell_buffer>& get_control_cell_buffers() const { return cell_buffers; }
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
  void read_main_section();
  void read_heat_transfer();
  void read_tuning();
  void read_permafrost();
  void reopen_control_file();
  void close_control_file();
  // FATAL code 17 for a name longer than limit characters.
  void check_name_length(const std::string& file_name, size_t limit, const char* label);
  void read_statistics_file(std::FILE* file, const char* label, statistics_file& target);
  void read_grid_file(std::FILE* file, const char* name_label, const char* code_label,
                      grid_file& target);
  // A control-cell file: the output directory in front.
  void read_cell_file(std::FILE* file, const char* label, std::string& target);
  // Creates the control-cell files and their buffers on the process that
  // owns the control cell.
  void create_control_cell_outputs();

  unsatzon_parameters params;
  std::vector<control_cell_buffer> cell_buffers;
  int layer_count = 0;
  const grid_matrix* permafrost_thaw_depth = nullptr;  // "PermafrostThawDepth"
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
