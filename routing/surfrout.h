// surfaceroutingclass: routes the direct runoff that the vertical water
// balance leaves in "directflow" over the land surface from cell to cell into
// the river cells, in internal steps limited by the flow velocity (explicit
// kinematic routing over eight directions, methods 1 to 5, or an implicit
// diffusion of the water surface, method 6), and concentrates what reaches
// the rivers, with the interflow, per subbasin through travel-time zones and
// linear storages into the total runoff Qg that the channel routing takes in
// place of the unsaturated zone's. The per-cell physics is in
// routing/surfrout_kernels.h; set-up in surfrout_setup.cpp, the sub-step in
// surfrout_substep.cpp and surfrout_implicit.cpp, the step bookkeeping and
// the exchange with other modules in surfrout_exchange.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "routing/surfrout_kernels.h"
#include "submodel/runoffrecords.h"
#include "submodel/storage_content_file.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class surfaceroutingclass : public teilmodellklasse {
 public:
  surfaceroutingclass(int& status, DiagStream* diag, statistics_registry* registry,
                      int registry_size, const std::string& section, grid_store* store,
                      const settings_context& settings, int substeps);
  ~surfaceroutingclass() override;

  void set_substeps(int count) override;
  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void free_tracer_statistics() override;
  // One sub-step (collective).
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void run_substep(const model_date& step, int k) override;

  virtual void flow_time_zones();
  void begin_step(const model_date& step) override;
  void end_step(const model_date& step) override;
  // In place of release; append: an earlier module started the storage file.
  void end_run(int append) override;
  void flush_outputs() override;

  // Total runoff per subbasin, none when inactive.
  virtual subbasin_flow_arrays* get_qg();
  // The setters keep what they get when the module is active; an active
  // module refuses to go without the unsaturated zone's base flow.
  virtual void set_qbb(subbasin_flow_arrays* qbb);
  virtual void set_qi(subbasin_flow_arrays* qi);
  virtual void set_qd(subbasin_flow_arrays* qd);
  virtual void set_kelsqd(std::vector<double>* kelsqd);  // [min] per subbasin
  virtual void set_kelsqi(std::vector<double>* kelsqi);  // [min] per subbasin

  // ---- numerical operations (methods 1 to 5 per cell; method 6 passes) ----
  virtual void fill_nodata_cell(int row, int col, grid_matrix& grid);
  virtual void plan_curvature();
  virtual surfrout::SlopeAspect cell_slope_aspect(int row, int col);
  virtual void direction_weights(int row, int col, int& kind, int pass, double slope,
                                 double aspect);
  virtual void cell_velocity(int row, int col, int pass, int recompute, int kind);
  virtual double cfl_limit();
  virtual void sum_cell_flows(int row, int col, double step);
  virtual double strickler_coefficient(int row, int col, int code, int cultivation, double v,
                                       double h, double cover, double s);
  virtual void iterative_prepare();
  virtual double iterative_pass(double step);
  virtual void iterative_finish();

  // ---- storage content file ----
  // Keeps the file name; readgrid 0, 2 and 4 read nothing.
  virtual void read_state(const std::string* storage_file, int readgrid);
  virtual void write_state(int append);
  virtual void check_state_value(double control_value, const std::string& label);
  [[noreturn]] virtual void fail_state_mismatch(const std::string& label, double control_value,
                                                double file_value);

  // ---- what tests and the bench read ----
  int get_method() const { return method; }
  double get_min_step() const { return s_min; }  // [s]
  double get_max_step() const { return s_max; }  // [s]
  // Internal steps of the last call and passes of the last method-6 step.
  int get_internal_steps() const { return last_internal_steps; }
  int get_last_passes() const { return last_passes; }
  double get_last_step_length() const { return last_step_length; }  // [s]
  const flow_time_queues& get_queues() const { return queues; }
  const subbasin_flow_arrays& get_qdd() const { return qdd; }
  const subbasin_flow_arrays& get_qii() const { return qii; }
  int get_subbasin_count() const { return zone_count; }

 private:
  // The grids a cell pass reads, looked up once.
  struct linked_grids {
    const grid_matrix* elevation = nullptr;
    std::vector<const grid_matrix*> landuse;   // 1..N
    std::vector<const grid_matrix*> coverage;  // 1..N
    const grid_matrix* soil_types = nullptr;
    grid_matrix* storage = nullptr;  // "SurfStorSiltingUp" [mm]
    grid_matrix* directflow = nullptr;
    const grid_matrix* interflow = nullptr;
    const grid_matrix* river_depth = nullptr;
    const grid_matrix* river_width = nullptr;
    const grid_matrix* river_links = nullptr;
    const grid_matrix* flow_times = nullptr;
    const grid_matrix* cell_size_x = nullptr;
    const grid_matrix* cell_size_y = nullptr;
  };
  // A grid or stack the module registers, with its store index.
  struct own_grid {
    grid_matrix grid;
    stack_matrix stack;
    int index = 0;
    bool created = false;
    grid_matrix* used = nullptr;  // the module's or the one found in the store
  };
  enum own_index {
    VELOCITY,
    FLUXES,
    WEIGHTS,
    HEAD,
    HEAD_OLD,
    ROUGHNESS_X,
    ROUGHNESS_Y,
    MANNING,
    PLANCURVATURE,
    QIN,
    QOUT,
    CRITICAL_SHEAR,
    OWN_COUNT
  };
  enum statistic_index { STAT_QD, STAT_QI, STAT_QB, STAT_QG, STAT_STORAGE, STAT_COUNT };

  // set-up
  void set_up();
  void take_terrain_and_landuse();
  void read_section();
  void adjust_step_bounds();
  void register_own_grids();
  void register_optional_grid(own_index which, const char* grid_name, bool with_halo, double start);
  void fill_manning_grid();
  void create_statistics();
  void take_runoff_grids();
  int next_free_entry();
  void initial_values(grid_matrix& grid, int first, int last, double value);
  void initial_values(stack_matrix& stack, int first, int last);

  // cells
  bool own_cell(int row, int col) const;
  bool river_cell(int row, int col) const;
  bool inside(int row, int col) const;
  int subbasin_of(int row, int col) const;
  double cell_area(int row, int col) const;    // [m2] E x F
  double cell_weight(int row, int col) const;  // "RelCellArea", 1 without
  int landuse_code(int row, int col) const;    // -9999 without a class
  surfrout::SurfaceBlock block_of(int row, int col, bool water_surface) const;
  surfrout::Friction friction_of(int code, int row, int col) const;
  surfrout::FlowParams flow_params() const;

  // sub-step
  void start_substep();
  void explicit_step(int step_index, int& recompute, double& step, double dt_sub);
  void implicit_step(int step_index, double& step, double step_used, double dt_sub);
  void choose_step_length(double dt_sub, double& step, int& foreseen, int& recompute);
  void routing_pass(int pass, int recompute);
  void balance_pass(double step);
  void exchange_explicit_halos();
  void finish_substep();

  // bookkeeping
  void concentrate_runoff();
  void release_own_grids();
  std::string state_path(bool for_reading) const;

  linked_grids in;
  own_grid own[OWN_COUNT];
  bool constructed = false;

  int method = 0;
  std::string stat_files[STAT_COUNT];
  int stat_codes[STAT_COUNT] = {};
  std::string velocity_file, flux_file;
  int velocity_code = 0, flux_code = 0;
  double eps_a = 0;  // [m]
  int n_a = 0;
  double eps_v = 0;  // [m s-1]
  int n_v = 0;
  double s_min = 0;          // [s]
  double s_max = 0;          // [s]
  double h_crop = 0;         // [m]
  double concentration = 1;  // [-]
  int layer_count = 1;

  std::vector<zone_record> stat_zones[STAT_COUNT];
  std::unique_ptr<zonalstatistic> statistics[STAT_COUNT];
  std::vector<zone_record> before, after, river_in;  // method 6: Wb, Wa, Ri
  std::vector<double> loss;                          // method 6: L [mm]
  grid_matrix next_head;                             // method 6: heads of the pass

  flow_time_queues queues;
  subbasin_flow_arrays qg, qd_own, qdd, qi_own, qii;
  subbasin_flow_arrays* qd = &qd_own;
  subbasin_flow_arrays* qi = &qi_own;
  subbasin_flow_arrays* qbb = nullptr;
  std::vector<double>* kelsqd = nullptr;
  std::vector<double>* kelsqi = nullptr;
  bool flow_arrays_ready = false;

  // Tracers 1..T.
  std::vector<grid_matrix*> conc_qd;        // "_CONC_QD_%i_"
  std::vector<const grid_matrix*> conc_qi;  // "_CONC_QI_%i_"
  std::vector<grid_matrix*> storage_conc;   // shared surface-storage concentration
  std::vector<grid_matrix> own_storage_conc;
  std::vector<int> storage_conc_index;  // -1 when found in the store
  bool storage_conc_found = true;
  std::vector<grid_matrix> conc_copy;  // concentrations at the start of the balance pass

  std::string storage_file_name;
  state_reader* state_in = nullptr;  // while read_state runs
  tracer_block_data state_blocks();
  bool missing_class_warned = false;
  int missing_class_cells = 0;

  int foreseen_steps = 0;  // N of the current call
  int last_internal_steps = 0;
  int last_passes = 0;
  double last_step_length = 0;
};
