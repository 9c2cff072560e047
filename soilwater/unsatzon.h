// unsatzonmodellklasse: soil-water movement in the soil columns by the
// Richards equation with heat transfer and frozen soil, and the runoff of
// every subbasin. Built so far: the set-up. When active, the module ranks
// the zones of its own zone grid "zonegrid_soilmodel", whose table
// irrigation, groundwater and routing read in place of the settings' one,
// reads its sections "[unsatzon_model]", "[heat_transfer]",
// "[unsatzon_tuning]" and "[permafrost]", links the grids of other modules,
// publishes its own grids and stacks with the starting soil state
// (unsatzon_setup.cpp), and builds its statistics, control-cell files,
// glacier records and start report (unsatzon_outputs.cpp). Its second
// set-up phase (unsatzon_tracers.cpp) builds the travel-time zones, tracers,
// river links and runoff records with the first base flow; the services
// outside the step are in unsatzon_services.cpp. Its sub-step
// (unsatzon_step.cpp) runs the soil columns and adds the runoff to the
// travel-time zones; its end of step (unsatzon_end_step.cpp) forms the
// runoff of every subbasin.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/zonalstat.h"
#include "soilwater/soilcolumn_heat.h"
#include "soilwater/soilcolumn_solutes.h"
#include "soilwater/soilcolumn_water.h"
#include "soilwater/unsatzon_glacier.h"
#include "soilwater/unsatzon_prespinup.h"
#include "soilwater/unsatzon_section.h"
#include "soilwater/unsatzon_statistics.h"
#include "submodel/runoffrecords.h"
#include "submodel/storage_content_file.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;
struct soil_entry;
struct column_step_links;

// Rows of one control-cell file waiting to be written: entries 1..capacity
// of values_per_row values each with their dates (entry 0 unused).
struct control_cell_buffer {
  int capacity = 0;
  int values_per_row = 0;
  int fill = 0;
  std::vector<model_date> dates;  // 0..capacity
  std::vector<double> values;     // (capacity + 1) * values_per_row
  // The file the rows go to and the values of a row written (last_value 0:
  // up to the layer count).
  std::string file_name;
  int first_value = 1;
  int last_value = 0;
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
  // The soil columns of every own cell over one call, in parallel over the
  // process's rows (unsatzon_column_step.cpp); the date is the call's.
  // Throws the code of the first error of any cell after the loop.
  void soil_column_step(int64_t hour, int64_t day, int64_t month, int64_t year);
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
  // The snow module flags a subbasin that gains its first glacier in the
  // annual update here too, so that glacier's runoff reaches Qg.
  std::vector<subbasin_glacier_record>* get_glacier_records_for_update() {
    return &glacier_records;
  }
  const zonalstatistic* get_statistic(unsatzon_statistic which) const {
    return statistics[static_cast<size_t>(which)].get();
  }
  // The zone records the statistic sums a step in.
  const std::vector<zone_record>& get_statistic_zones(unsatzon_statistic which) const {
    return statistic_zones[static_cast<size_t>(which)];
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

  // Kernels of the cell solver, one slot each so that a derived module can
  // replace any of them; they keep no state and forward to the pure kernels
  // (soilcolumn_water.h, soilcolumn_heat.h, soilcolumn_solutes.h).
  virtual double darcy_flux(double k, double head_a, double head_b, double d_a, double d_b) {
    return ::darcy_flux(k, head_a, head_b, d_a, d_b);
  }
  virtual double limit_flux(const soil_entry& soil, int i, const double* z, double* lateral,
                            const double* h, const double* theta0, double* q, double dt) {
    return ::limit_flux(soil, i, z, lateral, h, theta0, q, dt);
  }
  virtual int extract_transpiration(const soil_entry& soil, int layers,
                                    const VegetationDemand& demand, double dt,
                                    double evap_max_depth, double& root_depth, const double* d,
                                    const double* theta_sat, const double* theta_res,
                                    const double* theta, const double* z,
                                    const ExtractionLayers& out) {
    return ::extract_transpiration(soil, layers, demand, dt, evap_max_depth, root_depth, d,
                                   theta_sat, theta_res, theta, z, out);
  }
  virtual double compute_heads(const soil_entry& soil, const ColumnCell& cell, int iteration,
                               const double* river_in, const double* river_out,
                               const double* theta0, const double* theta_relaxed, const double* z,
                               const double* unfrozen, double* h, double* psi0) {
    return ::compute_heads(soil, cell, iteration, river_in, river_out, theta0, theta_relaxed, z,
                           unfrozen, h, psi0);
  }
  virtual BalanceResult balance_layers(const ColumnCell& cell, int pass_limit, double* river_in,
                                       double* river_out, const double* theta0,
                                       const double* theta_sat, const double* theta_res, double* q,
                                       double* lateral, const double* d, double* theta_b,
                                       RiverTotals& totals) {
    return ::balance_layers(cell, pass_limit, river_in, river_out, theta0, theta_sat, theta_res, q,
                            lateral, d, theta_b, totals);
  }
  virtual double relax_theta(const ColumnCell& cell, int iteration, int& counter,
                             const double* river_in, const double* river_out, double* theta,
                             double* theta_relaxed, const double* theta0, const double* q,
                             const double* lateral, const double* d) {
    return ::relax_theta(cell, iteration, counter, river_in, river_out, theta, theta_relaxed,
                         theta0, q, lateral, d);
  }
  virtual void exchange_with_river(const soil_entry& soil, const ColumnCell& cell,
                                   const RiverCell& river, const double* theta_sat,
                                   const double* theta0, const double* theta_relaxed,
                                   const double* z, const double* h, const double* d,
                                   double* river_in, double* river_out, RiverTotals& totals) {
    ::exchange_with_river(soil, cell, river, theta_sat, theta0, theta_relaxed, z, h, d, river_in,
                          river_out, totals);
  }
  virtual double macropore_infiltration(const soil_entry& soil, int layers, double& w,
                                        const double* d, const double* theta_sat, double dt,
                                        double* theta, double* capacity, double* infiltration) {
    return ::macropore_infiltration(soil, layers, w, d, theta_sat, dt, theta, capacity,
                                    infiltration);
  }
  virtual void thermal_conductivity(const soil_entry& soil, int layers,
                                    const ConductivityFactors* factors, const double* unfrozen,
                                    const double* theta, double lambda_water, double lambda_ice,
                                    double* lambda) {
    ::thermal_conductivity(soil, layers, factors, unfrozen, theta, lambda_water, lambda_ice,
                           lambda);
  }
  virtual void latent_heat(int layers, const double* theta, const double* theta_res,
                           double* slope) {
    ::latent_heat(layers, theta, theta_res, params.dTModLatHeat, params.dTModRhoWater, slope);
  }
  virtual double conductive_heat_fluxes(int layers, const double* lambda, const double* d,
                                        const double* t, double t_lower, double t_air,
                                        double n_factor, double* g) {
    return ::conductive_heat_fluxes(layers, lambda, d, t, t_lower, t_air, n_factor, g);
  }
  virtual void heat_flux_divergence(int layers, const double* g, const double* d,
                                    const double* heat_capacity, double dt, double* dtemp) {
    ::heat_flux_divergence(layers, g, d, heat_capacity, dt, dtemp);
  }
  virtual void update_temperatures(int layers, double* t, const double* t_ref,
                                   const double* dtemp, const double* g, bool limiter,
                                   double t_below, double t_above) {
    ::update_temperatures(layers, t, t_ref, dtemp, g, limiter, t_below, t_above);
  }
  virtual void solve_heat_implicit(const ImplicitHeatStep& step, const double* lambda,
                                   const double* heat_capacity, const double* d,
                                   const double* t_ref, double* a, double* b, double* c, double* r,
                                   double* x, const double* macropore, const double* q) {
    ::solve_heat_implicit(step, lambda, heat_capacity, d, t_ref, a, b, c, r, x, macropore, q);
  }
  // flows (or null) also go to report_fpe per tracer and transported layer.
  virtual void transport_solutes(int row, int col, const SoluteCell& cell,
                                 const SoluteWater& water, const SoluteWork& work,
                                 const SoluteTracer* solute_tracers, SoluteTracerState* states,
                                 int solute_count, SoluteFlows* flows) {
    const int depth =
        ::transport_solutes(cell, water, work, solute_tracers, states, solute_count, flows);
    if (!flows) return;
    const size_t per_tracer = static_cast<size_t>(cell.layers) + 1;
    for (int j = 0; j < solute_count; ++j)
      for (int l = 1; l <= depth; ++l) {
        const SoluteFlows& f = flows[static_cast<size_t>(j) * per_tracer + static_cast<size_t>(l)];
        report_fpe(row, col, l, j + 1, f.in_top, f.out_bottom, f.lateral, f.base, f.river_out);
      }
  }
  // Takes the place of release; append: an earlier module already wrote its
  // section of the storage-content file.
  void end_run(int append) override;
  bool storage_section_written() const override { return storage_written; }
  void free_tracer_statistics() override;

  // The section "[unsatzon_model]" of the storage content file
  // (unsatzon_state_file.cpp). write_state opens the file "a" (append set)
  // or "w"; a file that cannot be opened is a WARNING, the run ends in
  // order. read_state runs in the second set-up phase with readgrid 1.
  virtual void write_state(int append);
  virtual void read_state();
  // Reads one stored number and compares it with the control value.
  virtual void check_state_value(double control_value, const std::string& label);
  [[noreturn]] virtual void fail_state_mismatch(const std::string& label, double control_value,
                                                double stored_value);
  // Appends the buffered rows of a control-cell file and empties the buffer
  // (unsatzon_end_run.cpp); a file that cannot be opened is FATAL 65.
  void write_control_cell_rows_of(control_cell_buffer& buffer);

  // The travel-time zone queues of the second set-up phase.
  const flow_time_queues& get_zone_queues() const { return zone_queues; }
  // Outflows of the direct-runoff and interflow storages (QDd, QIi).
  const subbasin_flow_arrays& get_qdd() const { return flow_qdd; }
  const subbasin_flow_arrays& get_qii() const { return flow_qii; }
  // [-] the module's own decay factor of tracer t per sub-step (1 before
  // init_tracers, 0 for a half-time of 0 or less).
  double get_decay_factor(int t) const;
  int get_lake_switch() const { return lake_switch; }
  int get_lake_init_method() const { return lake_init_method; }
  bool external_table_applied() const { return external_gw_table_applied; }
  // Store index of the water-input grid chosen by select_input_grid (0: none).
  int get_input_grid_index() const { return input_grid_index; }

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
  // Water and saturated water of one cell's column [m].
  void column_water(int r, int c, double& water, double& saturated) const;
  // Water of the run's own valid cells, summed row by row and reduced over the
  // processes; `glacier` gives each cell's glacier share (none: 0).
  soil_water_sums sum_soil_water(const grid_matrix* glacier) const;
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
  // Temperature pre-SpinUp (unsatzon_prespinup.cpp): its working grids in
  // free store entries, taking a "FreezingDegreeDays" already there.
  void create_pre_spinup_grids();
  void set_pre_spinup_profiles(double years);
  void write_pre_spinup_results();
  pre_spinup_state pre_spinup;
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

  // Second set-up phase (unsatzon_tracers.cpp) and the services outside the
  // step (unsatzon_services.cpp).
  void set_up_tracers();
  void link_groundwater_and_rivers();
  void set_first_state_of_runoff();
  // The arrays, or FATAL 57 when init_tracers has not allocated them.
  subbasin_flow_arrays* checked_flow_arrays(subbasin_flow_arrays& arrays, const char* array_name);
  void read_lake_parameters(const std::string& section_text);
  bool lake_cell(int row, int col) const;
  void set_first_soil_temperatures();
  flow_time_queues zone_queues;
  subbasin_flow_arrays flow_qd, flow_qdd, flow_qi, flow_qii, flow_qbb, flow_qg;
  riverflow_table riverflow;  // empty without the groundwater model
  int lake_switch = 0;
  int lake_init_method = 0;
  const grid_matrix* lake_codes = nullptr;
  bool external_gw_table_applied = false;
  int input_grid_index = 0;
  bool first_step_links_done = false;
  const grid_matrix* groundwater_head = nullptr;  // "gw_head_1"

  // The soil-column step (unsatzon_column_step.cpp): its grids, looked up
  // once at its first call, and whether the old table of the first water
  // sub-step still has to come from the water contents.
  void link_column_step();
  std::shared_ptr<column_step_links> step_links;
  bool first_column_step = true;

  // The step's accumulation (unsatzon_step.cpp, unsatzon_accumulation.cpp) and its end
  // (unsatzon_end_step.cpp): runoff through zones and storages, statistics
  // rows and output grids.
  void copy_hru_states();
  void accumulate_cells();
  void write_control_cell_rows(int64_t hour, int64_t day, int64_t month, int64_t year);
  void concentrate_runoff();
  void complete_statistics();
  void write_step_grids();
  void end_step_tracers();

  // Storage content file and end of run (unsatzon_state_file.cpp,
  // unsatzon_end_run.cpp).
  tracer_block_data state_blocks();
  state_reader* state_in = nullptr;  // while read_state runs
  bool owns_control_cell() const;
  // Full buffers only (during the run) or every buffer with rows.
  void write_control_cell_buffers(bool full_only);
  void write_end_report();
};
