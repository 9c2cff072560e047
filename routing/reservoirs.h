// SP_class: one reservoir or lake (SP entry) at the outlet of a reach's
// subbasin. Each step it takes the reach outflow as inflow, serves the
// irrigation and the abstractions that draw on it, releases what its
// operation rule gives and mixes the tracers. With lake modelling the
// reservoir with number n is the lake of the cells whose "lake_codes" value
// is n: its water is the ponding storage of those cells at one level, and
// the other modules' fluxes on them (precipitation, evaporation, groundwater
// exchange) enter its balance. Volumes in m3, flows in m3 s-1.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"
#include "routing/abstractions.h"
#include "routing/operation_rules.h"
#include "routing/reservoir_kernels.h"

class DiagStream;
struct tracer_entry;

// The lake grids (lake modelling only); optional ones may be null.
struct lake_grids {
  const grid_matrix* lake_codes = nullptr;
  const grid_matrix* max_ponding_storage = nullptr;  // [mm]
  grid_matrix* ponding_storage = nullptr;            // [mm]
  const grid_matrix* zonegrid = nullptr;             // "zonegrid_soilmodel"
  const grid_matrix* elevation = nullptr;            // [m a.s.l.]
  const grid_matrix* real_transpiration0 = nullptr;  // [mm per step]
  const grid_matrix* q_downext = nullptr;            // [m s-1]
  const grid_matrix* baseflow = nullptr;             // [m s-1]
  const grid_matrix* prec_on_lakes = nullptr;        // [mm per step]
  std::vector<grid_matrix*> tracer_storage;  // [1..ntr] full-grid copies of layer 1 of the
                                             // tracer storage stacks, kept by the module
};

// What the reach hands every reservoir.
struct reservoir_context {
  DiagStream* diag = nullptr;
  const std::vector<int>* zone_index = nullptr;  // code -> subbasin index
  const std::vector<row_strip>* strips = nullptr;
  int ncols = 0, nrows = 0;
  double cellsize = 0;      // [m]
  double nodata = NODATA;   // of the zone grid
  int lake_switch = 0;
  int ntr = 0;
  const tracer_entry* tracers = nullptr;  // 1-based
  // The routing module's decay per step of each tracer 0..ntr (null: the
  // tracer entries' decay_factor).
  const std::vector<double>* step_decay = nullptr;
  int reach_code = 0;
  std::string output_directory;
  lake_grids grids;
};

// The terms of one step: volume [m3], depth over the lake area [mm], rate [m3 s-1].
enum reservoir_term { SP_QIN, SP_QOUT, SP_IRRIG, SP_QGW, SP_ETR, SP_PREC, SP_DV, SP_ABSTR, SP_ERR, SP_TERMS };
struct reservoir_report {
  double area = 0;  // [m2]
  double volume[SP_TERMS] = {};
  double depth[SP_TERMS] = {};
  double rate[SP_TERMS] = {};
};

class SP_class {
 public:
  SP_class();
  SP_class(const SP_class&) = delete;
  SP_class& operator=(const SP_class&) = delete;
  ~SP_class();

  void init_context(const reservoir_context& context);
  // text: the entry's own text after its number. Throws 35.
  void parse_entry(int n, const std::string& text);
  // Lake box, checks and level-volume table; throws 213, 224, 225.
  void init_lake();
  void write_output_header();  // throws 37
  void set_ponding_from_level(double V);
  void volume_from_ponding();
  double level_from_volume(double V) const;
  double volume_from_level(double L) const;
  double sum_lake_cells(std::vector<double>& totals) const;
  void read_rule_section(std::FILE* control);  // throws 34
  // [m3 s-1]; sets amount()[0] of every "intern_with_rule_from_reservoir" AL.
  double evaluate_rule(const std::vector<std::vector<std::vector<double>>>* queues,
                       const std::vector<AL_class*>& als, int year, int month, double qin,
                       double dt, int day, int hour);
  // exchange[0] the inflow [m3 s-1]; routing_flows[k][own] its concentrations;
  // dt [min]; V_irr, V_AL [m3] taken for irrigation and by the other ALs.
  void balance_step(const std::vector<std::vector<std::vector<double>>>* queues,
                    const subbasin_flow_arrays& routing_flows, const std::vector<double>& exchange,
                    const std::vector<AL_class*>& als, int own, double dt, double V_irr,
                    double V_AL, int year, int month, int day, int hour);
  void write_output_row(int year, int month, int day, int hour);
  void flush_output(int flag);
  void release();

  int number() const { return n_; }
  // [0] volume [m3], [1..ntr] concentrations: the state to store and restore.
  std::vector<double>& contents() { return contents_; }
  const std::vector<double>& contents() const { return contents_; }
  double& outflow() { return rule_outflow; }  // [m3 s-1]
  double sub_step() const { return sub_step_; }  // [s]
  const reservoir_report& report() const { return report_; }
  const level_volume_table& table() const { return table_; }
  const std::string& output_file() const { return output_name; }
  int pending_rows() const { return pending; }
  int row_capacity() const { return capacity; }
  int lake_cell_count() const;
  const operation_rule& rule() const { return rule_; }
  operation_rule& rule() { return rule_; }

 private:
  [[noreturn]] void fail(int code, const std::string& message);
  bool lake_on() const { return ctx.lake_switch != 0; }
  template <class F>
  void for_each_lake_cell(F f) const;
  double tracer_at(int t, int row, int col) const;
  void set_tracer_at(int t, int row, int col, double value) const;

  reservoir_context ctx;
  int year_ = 0, month_ = 0, day_ = 0, hour_ = 0;
  std::vector<double> contents_;
  std::vector<double> previous_contents;
  std::vector<double> lake_totals;
  double rule_outflow = 0;  // [m3 s-1]
  operation_rule rule_;
  reservoir_report report_;
  double sub_step_ = 60;  // [s]
  std::vector<std::vector<double>> rows;  // pending output rows
  int capacity = 1;
  int pending = 0;
  std::string output_name;
  level_volume_table table_;
  int box_first_col = 0, box_first_row = 0, box_last_col = 0, box_last_row = 0;
  int n_ = 0;
};
