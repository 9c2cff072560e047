// unsatzonmodellklasse: soil-water movement in the soil columns by the
// Richards equation with heat transfer and frozen soil, and the runoff of
// every subbasin. Built so far: the set-up. When active, the module ranks
// the zones of its own zone grid "zonegrid_soilmodel", whose table
// irrigation, groundwater and routing read in place of the settings' one,
// reads its sections "[unsatzon_model]", "[heat_transfer]",
// "[unsatzon_tuning]" and "[permafrost]", links the grids of other modules,
// publishes its own grids and stacks with the starting soil state
// (unsatzon_setup.cpp), and builds its statistics, control-cell files,
// glacier records and start report (unsatzon_outputs.cpp). Its time step is
// not built: it hands out no runoff arrays and computes nothing per step.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/zonalstat.h"
#include "soilwater/unsatzon_glacier.h"
#include "soilwater/unsatzon_section.h"
#include "soilwater/unsatzon_statistics.h"
#include "submodel/runoffrecords.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;
struct soil_entry;

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
  // The statistic built for which, null when its condition does not hold.
  // Store index of "ETR2ETP": positive when the module created it, negative
  // when another module did, 0 without an irrigation table.
  int get_etr2etp_index() const { return etr2etp_index; }
  // Per subbasin 0..n its glacier shares; empty without a glacier model.
  const std::vector<subbasin_glacier_record>& get_glacier_records() const {
    return glacier_records;
  }
  const zonalstatistic* get_statistic(unsatzon_statistic which) const {
    return statistics[static_cast<size_t>(which)].get();
  }
  // Hands over the settings object's soil table, which stays its owner: the
  // settings give the modules the table read-only, and only this module
  // completes it. Entry 0 gets the layer count L; with heat transfer the open
  // heat values of every soil type take the module's defaults and the
  // freezing tables are built. Called by the application right after the
  // construction; does nothing while the module is inactive.
  void set_soil_table(std::vector<soil_entry>* table);
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

  // Set-up of the grids (unsatzon_setup.cpp): links to other modules' grids,
  // own grids and stacks in their store entries, and their starting values.
  void link_grids();
  void create_grids();
  void convert_ponding_limit();
  void set_initial_state();
  // The cell is inside the zone grid and owned by this process.
  bool own_cell(int row, int col) const;
  // Own cells get value, the other cells of each row's zone span nodata.
  void fill_own_cells(grid_matrix& grid, double value) const;
  // Allocates (unless read) and registers one own grid or stack.
  struct own_grid {
    grid_matrix grid;
    stack_matrix stack;
    int index = 0;
  };
  own_grid& add_own_grid(const std::string& grid_name, const std::string& file_name, int write_code,
                         int first, int last, bool stack, int levels);
  void read_own_stack(const std::string& grid_name, const grid_file& file);
  void read_own_grid(const std::string& grid_name, const grid_file& file, bool keep_full,
                     bool with_halo);

  // Outputs (unsatzon_outputs.cpp): one zonal statistic with its header, and
  // the soil-water report at model start.
  void build_statistic(unsatzon_statistic which, const statistics_file& file);
  void build_first_statistics();
  void write_start_report();
  // Glacier links and the per-subbasin glacier records, built on process 0
  // and broadcast.
  void set_up_glacier_records();

  unsatzon_parameters params;
  std::vector<control_cell_buffer> cell_buffers;
  int layer_count = 0;
  const grid_matrix* permafrost_thaw_depth = nullptr;  // "PermafrostThawDepth"
  // Grids of other modules, by name; a required one is never null.
  std::map<std::string, const grid_matrix*> links;
  // The module's own grids and stacks by name; nodes never move, so the
  // store keeps pointers to them.
  std::map<std::string, own_grid> own;
  // Store entries of the own grids, in their order.
  std::map<std::string, int> planned_entries;
  // "ETR2ETP": its store index, negative when another module owns it.
  int etr2etp_index = 0;
  bool heat_flux_lower_boundary = false;
  bool silting_up_storage_linked = false;  // "SurfStorSiltingUp" instead of direct runoff
  bool temperature_start_pending = false;
  int vegetation_layers = 1;
  const grid_matrix* glacier_fraction = nullptr;         // "GlacierizedCells" or "ice_firn"
  const grid_matrix* glacier_fraction_old = nullptr;     // "GlacierizedCellsOld"
  std::vector<subbasin_glacier_record> glacier_records;  // 0..n, empty without glaciers
  // Per statistic its own zone records and the statistic itself.
  std::array<std::vector<zone_record>, static_cast<size_t>(unsatzon_statistic::count)>
      statistic_zones;
  std::array<std::unique_ptr<zonalstatistic>, static_cast<size_t>(unsatzon_statistic::count)>
      statistics;
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
