// gwflowclass: saturated groundwater flow in stacked aquifer layers, once per
// sub-step of the soil, surface and groundwater loop. Each layer obeys the
// storage equation S dh/dt = div(T grad h) + leakage + fixed inflow, with the
// Dupuit transmissivity T of confined or unconfined cells, discretised by
// five-point finite differences and solved by over-relaxation (method 1) or
// one tridiagonal pass per row (method 2). The top layer is the saturated
// part of the soil column: its head comes from the unsaturated zone's table
// every sub-step and its storage release goes back as "baseflow". The module
// counts the subbasins of the unsaturated-zone module's zone table.
//
// Sources: gwflow.cpp (life cycle, sub-step order), gwflow_section.cpp
// (control file, lake part), gwflow_setup.cpp (grids, tracers),
// gwflow_solver.cpp (leakage, transmissivities, sweeps), gwflow_balance.cpp
// (discharges, baseflow, balances, tracers), gwflow_outputs.cpp (grids,
// statistics, control-point file); kernels in gwflow_kernels.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/matrices.h"
#include "modelbase/zonalstat.h"
#include "submodel/runoffrecords.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

// The names, write codes and grids of one aquifer layer.
struct gw_layer {
  std::string head_file, old_head_file, flow_x_file, flow_y_file, balance_file;
  int head_code = 0, flow_x_code = 0, flow_y_code = 0, balance_code = 0;

  // Grids of the store, owned by others.
  grid_matrix* thickness = nullptr;         // [m] ("aquifer_thickness_1" is changed in place)
  const grid_matrix* k_x = nullptr;         // [m s-1]
  const grid_matrix* k_y = nullptr;         // [m s-1]
  const grid_matrix* storage = nullptr;     // [-]
  const grid_matrix* fixed_head = nullptr;  // [m], nodata: none
  const grid_matrix* fixed_flux = nullptr;  // [m s-1] inflow, at or below nodata: none
  const grid_matrix* colmation = nullptr;   // [s-1] towards the layer below (not for N)

  // Own grids (halo: band plus one row on each side).
  grid_matrix head;           // h, halo
  grid_matrix head_old;       // h0, halo
  grid_matrix head_old_old;   // hp, halo
  grid_matrix head_iter;      // hq, band
  grid_matrix trans_x;        // [m2 s-1] towards the east neighbour, halo
  grid_matrix trans_y;        // [m2 s-1] towards the south neighbour, halo
  grid_matrix flow_x;         // [m s-1] specific discharge east, halo
  grid_matrix flow_y;         // [m s-1] specific discharge south, halo
  grid_matrix balance;        // [mm] per sub-step, band
  grid_matrix leakage;        // [m s-1] from the layer below, halo
  grid_matrix upper_limit;    // [m] top of the layer, halo
  // Store indexes in the order of the grids above.
  std::array<int, 11> index{};
};

// Per tracer and layer: zone records, statistic and concentration storage.
struct gw_tracer_layer {
  std::vector<zone_record> zones;
  std::unique_ptr<zonalstatistic> statistic;
  std::string statistics_file;
  std::string storage_file;
  grid_matrix storage;  // "concstor_tracer_<t>_layer_<k>_<section>", halo
  int storage_index = 0;
};

struct gw_tracer {
  std::vector<gw_tracer_layer> layers;  // 1..N
  grid_matrix flux;                     // "concflux_tracer_<t>_<section>", halo
  int flux_index = 0;
  double decay_factor = 1;  // [-] per sub-step
  bool radioactive = false;
};

// One buffered row of the control-point file.
struct control_point_row {
  int64_t year = 0, month = 0, day = 0, hour = 0;
  std::vector<double> values;  // 6 N
};

class gwflowclass : public teilmodellklasse {
 public:
  // zone_table: the unsaturated zone's, in place of the settings' one.
  gwflowclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
              const std::string& section, grid_store* store, const settings_context& settings,
              int substeps, const zone_table_view& zone_table);

  void release() override;
  void set_substeps(int count) override;
  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void free_tracer_statistics() override;
  // One sub-step.
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  // Sub-step k is its time_step.
  void run_substep(const model_date& step, int k) override;
  void begin_step(const model_date& step) override;
  void end_step(const model_date& step) override;
  void flush_outputs() override;

  virtual void read_lake_parameters(const std::string& section);
  virtual void compute_transmissivities();
  virtual void flush_control_point_file();
  virtual void compute_lateral_flows();
  // Returns the process's largest measure of change.
  virtual double sor_sweep(int layer);
  virtual double solve_rows_direct(int layer);
  // Returns the number of oscillating own cells of the process.
  virtual int64_t count_oscillations(const grid_matrix& head, const grid_matrix& head_old,
                                     const grid_matrix& head_old_old);
  virtual void begin_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void end_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  // Both setters keep what they get when the module is active.
  virtual void set_qg(subbasin_flow_arrays* qg);
  virtual void set_riverflow_table(riverflow_table* table);

  // What the tests and the benchmark read.
  const gw_layer& layer(int k) const { return layers[static_cast<size_t>(k)]; }
  int iterations() const { return iteration_count; }
  bool owns_control_point() const { return control_owner; }
  int64_t buffered_rows() const { return static_cast<int64_t>(cp_rows.size()); }
  int pond_flag() const { return pond; }
  bool pond_grid_used() const { return pond_used; }

 protected:
  // Set-up (gwflow_section.cpp, gwflow_setup.cpp).
  void read_section();
  void read_pond_flag_line(std::FILE* file);
  void link_grids();
  void set_layer1_thickness();
  void create_head_grids(int first_entry);
  void create_layer_grids();
  void open_control_point();
  int next_free_entry(int from);
  // Sub-step parts (gwflow_solver.cpp, gwflow_balance.cpp).
  void refresh_glacier_fraction();
  void compute_leakage(int layer);
  void start_substep_layer(int layer);
  void iterate_layer(int layer);
  void report_iterations(int layer);
  void baseflow_cells();
  void balance_and_transport_layer(int layer);
  void control_point_row_of_substep();
  // A cell of the band, inside its row's strip and the zone grid, owned by
  // this process.
  bool own_cell(int row, int col) const {
    if (row < first_row || row > last_row || col < 1 || col > ncols) return false;
    if (strips != nullptr && row < static_cast<int>(strips->size())) {
      const row_strip& s = (*strips)[static_cast<size_t>(row)];
      if (col < s.first || col > s.last) return false;
    }
    return (*zone_grid)[row][col] != nodata && (*mpi_regions)[row][col] == rank;
  }
  double zone_at(int row, int col) const { return (*zone_grid)[row][col]; }
  double glacier_at(int row, int col) const { return glacier_fraction[row][col]; }
  bool admitted_neighbour(int row, int col, int nrow, int ncol) const;
  int halo_first() const;
  int halo_last() const;
  void exchange_layer_heads(int layer);
  // Whether the cell loops of the band run on several threads: a small band
  // costs more in thread start-ups than its cells take.
  bool parallel_band() const {
    return static_cast<int64_t>(last_row - first_row + 1) * ncols >= MIN_PARALLEL_CELLS;
  }
  static constexpr int64_t MIN_PARALLEL_CELLS = 1024;  // [cells]
  // Whether the grid is divided among processes (the reductions over them
  // are needed); a module on an undivided grid runs alone.
  bool divided() const { return division_view().distributed(); }

  // Settings of the section.
  int method = 0;
  int max_iterations = 0;
  double max_error = 0;  // [m]
  double alpha = 1;      // [-]
  double omega = 0;      // [-]
  int adaptive = 0;
  int layers_n = 0;
  int control_row = 0, control_col = 0;
  std::string cp_file;
  int pond = 0;
  bool pond_used = false;
  int lake_control = 0;
  int lake_init_method = 0;
  double dx = 0, dy = 0;  // [m]

  std::vector<gw_layer> layers;  // 1..N
  std::vector<gw_tracer> gw_tracers;  // 1..tracer_count

  // Grids of other modules.
  const grid_matrix* elevation = nullptr;
  grid_matrix* gw_distance = nullptr;     // [m] "groundwater_distance"
  grid_matrix* baseflow = nullptr;        // [m s-1] "baseflow"
  const grid_matrix* soil_types = nullptr;
  const grid_matrix* glacier = nullptr;   // "GlacierizedCells" or "ice_firn"
  grid_matrix* thaw = nullptr;            // "PermafrostThawDepth" or "ThawDepthTMod"
  grid_matrix* frozen = nullptr;          // "frozenSoilInGroundwater"
  grid_matrix* ponding = nullptr;         // [mm] "ponding_storage"
  const grid_matrix* silting_storage = nullptr;  // [mm] "SurfStorSiltingUp"
  const grid_matrix* lake_codes = nullptr;
  int distance_index = -1, baseflow_index = -1, ponding_index = -1, thaw_index = -1,
      frozen_index = -1;
  // The glacier fraction clamped to [0, 1] (0 without a glacier grid), with
  // the halo rows, so that a neighbour's value is the owner's.
  grid_matrix glacier_fraction;

  // Iteration state.
  int iteration_count = 0;
  double relax_sum = 0;
  double relax_cells = 0;
  double largest_change = 0;
  double last_err = 0;
  int64_t osc_count = 0;
  double osc_sum = 0;
  double osc_max = 0;
  double dt = 0;  // [s] sub-step

  // Control point.
  bool control_owner = false;
  int64_t cp_capacity = 0;
  std::vector<control_point_row> cp_rows;

  subbasin_flow_arrays* qg = nullptr;
  riverflow_table* riverflows = nullptr;
};
