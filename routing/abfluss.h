// abflussmodellklasse: routes the runoff of every subbasin through the
// reaches of its routing descriptions (routing/routing_reach.h) to the
// outlets, on process 0 only; the other processes keep the flow-control value
// they read as the routing activity elsewhere and stay inactive. Set-up in
// abfluss_setup.cpp, wiring and initial routing in abfluss_init.cpp, the step
// and the comparison with observed discharge in abfluss_step.cpp. It counts
// the subbasins of the unsaturated-zone module's zone table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <array>
#include <memory>

#include "modelbase/routstat.h"
#include "modelbase/timeseries.h"
#include "routing/routing_reach.h"
#include "submodel/teilmod.h"
#include "submodel/routingtables.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

// Decay of a radioactive tracer in the routing over one step and over one
// sub-interval of the time splitting; both 0 for a half-time of 0 or less
// (it is taken as gone at once, never as growing).
struct routing_decay_factors {
  double per_step = 1;
  double per_interval = 1;
};
routing_decay_factors routing_decay(double half_time_days, double step_minutes,
                                    int time_splitting) noexcept;

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
  void free_tracer_statistics() override;
  // Writes the section "[routing_model]" into the kept storage content file
  // ("storage.ftz" without a name), truncating it; one that cannot be opened
  // is a WARNING and the run ends in order.
  virtual void write_state();
  // The module's own decay factors of tracer t (1: not radioactive).
  double step_decay_factor(int t) const;
  double interval_decay_factor(int t) const;

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
  // The module's part of the section (lake_coupling.cpp).
  virtual void read_lake_parameters(const std::string& section);
  int get_lake_switch() const { return lake_switch; }
  int get_readgrid() const { return state_readgrid; }
  const std::vector<int64_t>& get_lake_cells_per_rank() const { return lake_cells_per_rank; }

  // Occurrences of pattern in text, overlapping ones included.
  virtual int count_substring(const std::string& text, const std::string& pattern);

  // ---- what tests and the benchmark read ----
  int reach_count() const { return static_cast<int>(reaches.size()) - 1; }
  routingclass& reach(int i) { return *reaches[static_cast<size_t>(i)]; }
  const subbasin_flow_arrays& get_routing_flows() const { return routing_flows; }
  const interval_arrays& get_interval_flows() const { return interval_flows; }
  int get_initial_routings() const { return initial_routings; }
  int get_output_unit() const { return output_unit; }
  int get_observed_end_count() const { return observed_end_count; }
  int get_comparison_step() const { return comparison_step; }
  bool observed_file_open() const { return observed_reader != nullptr; }
  const observed_window& get_observed_window() const { return window; }
  const std::vector<int>& get_observed_column() const { return observed_column; }
  // Sums of window row j (shift j - 10) and subbasin i.
  const comparison_sums& rsquare(int j, int i) const {
    return rsquare_sums[static_cast<size_t>(j)][static_cast<size_t>(i)];
  }
  const comparison_sums& log_rsquare(int j, int i) const {
    return log_rsquare_sums[static_cast<size_t>(j)][static_cast<size_t>(i)];
  }
  routstatistic* routed_statistic() { return statistic.get(); }
  // The routed value of subbasin i in the output unit.
  double routed_value(int i) const;

 private:
  void make_irrigation_tables();
  // ---- set-up (abfluss_setup.cpp) ----
  void read_section_head();
  void count_descriptions();
  void build_reaches();
  void build_reach(int number, const std::vector<std::string>& lines);
  int subbasin_index_or_fail(int code, int tg_code, int entry_number, bool first_of_entry);
  void add_tributary(int index, int downstream);
  void publish_precipitation_on_lakes();
  void make_statistic();
  void open_observed_file();
  void fill_window_row(int row);
  // ---- step (abfluss_step.cpp) ----
  void reduce_irrigation_demand();
  void pass_demand_downstream();
  void compare_with_observed(int year, int month, int day, int hour);
  void rotate_window();
  void write_statistics(int year, int month, int day, int hour);
  void copy_flows_to_intervals();
  void write_tracer_statistics(int year, int month, int day, int hour);
  void check_internal_connections();
  // ---- lakes (lake_coupling.cpp) ----
  void link_lake_grids();
  void gather_lake_cells();
  void scatter_lake_ponding();
  void return_lake_tracers();
  int lake_grid_index(const std::string& grid_name, bool required);

  int switch2 = 0;
  double qmin = 0, qmax = 0, intervals = 0;  // [l s-1 km-2], [l s-1 km-2], [-]
  int time_splitting = 1;
  std::string qstat_file;
  int qstat_code = 0;
  std::string observed_file;
  int descriptor_count = 0;
  int rsquare_offset = 0;  // [steps]
  int section_counts[6] = {};
  int description_count = 0;
  model_date start;
  std::vector<std::unique_ptr<routingclass>> reaches;  // 1..nTG
  std::vector<double> reach_factor_of;                 // per subbasin: phi of its description
  subbasin_flow_arrays routing_flows;
  interval_arrays interval_flows;
  queue_table channel_storage_table;
  std::vector<int> observed_column;
  observed_window window;
  int observed_columns = 0;
  int observed_end_count = 0;
  int obs_year = 0, obs_month = 0, obs_day = 0, obs_hour = 0;
  std::unique_ptr<TimeSeriesReader> observed_reader;
  std::vector<std::vector<comparison_sums>> rsquare_sums;      // [21][n+1]
  std::vector<std::vector<comparison_sums>> log_rsquare_sums;  // [21][n+1]
  int comparison_step = 0;
  std::unique_ptr<routstatistic> statistic;
  std::vector<zone_record> statistic_zones;
  int observed_registry_index = 0;
  int initial_routings = 0;
  int tributary_count = 0;
  grid_matrix precipitation_on_lakes;
  int precipitation_on_lakes_index = 0;
  subbasin_flow_arrays qg_copy;
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
  bool storage_name_kept = false;
  bool storage_written = false;
  // Lakes: the lake modelling switch, the grids the reservoirs see, the
  // store indices of the exchanged grids and the lake cells per process.
  int lake_switch = 0;
  lake_grids lake_links;
  std::vector<int64_t> lake_cells_per_rank;
  int lake_codes_index = 0, ponding_index = 0, transpiration_index = 0;
  int q_downext_index = 0, baseflow_index = 0, precipitation_source_index = 0;
  std::vector<int> tracer_storage_index;  // 1..ntr, stacks
  std::vector<grid_matrix> lake_tracers;  // 1..ntr, layer 1 of the stacks on the lake cells
  std::vector<double> step_decay;      // 0..ntr [-]
  std::vector<double> interval_decay;  // 0..ntr [-]
};
