// routingclass: one routing description of "[routing_model]", the reach
// that brings the outflows of its tributary subbasins (OL, SUMTRIB) and its
// inflows (ZL) through channels to the outlet of its own subbasin, where
// they join that subbasin's runoff by area shares. Flows are runoff depths
// in mm per step; tracer indices 1..ntr carry concentrations beside them.
// The reach lives on process 0 and works on the routing module's arrays.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/modelobject.h"
#include "modelbase/timeseries.h"
#include "routing/abstractions.h"
#include "routing/channel_tables.h"
#include "routing/reservoirs.h"
#include "routing/routing_reach_kernels.h"
#include "submodel/routingtables.h"
#include "submodel/runoffrecords.h"
#include "submodel/storage_content_file.h"

class DiagStream;
struct tracer_entry;

// The routing module's shared arrays.
using interval_arrays = std::vector<std::vector<std::vector<double>>>;  // [k][m][f]
using queue_table = std::vector<std::vector<std::vector<double>>>;      // [k][f][position]
using observed_window = std::vector<std::vector<double>>;               // [row 0..20][column]
// Row of the observed window that holds the current step.
constexpr int OBSERVED_CURRENT_ROW = 10;

// Kinds of inflows (ZL).
constexpr int INFLOW_CONSTANT = 1;
constexpr int INFLOW_INTERN = 3;
constexpr int INFLOW_EXTERN = 4;

// Kinds of channels.
enum class channel_kind { own, ol, sumtrib, zl };

// What the routing module hands a reach at its construction.
struct reach_setup {
  int subbasin_count = 0;   // nsub
  double dt = 60;           // [min]
  double area = 0;          // [km2] A_T, first value after "TG"
  double factor = 1;        // [-] phi, second value
  int ol_count = 0, sumtrib_count = 0, amp_count = 0, zl_count = 0, al_count = 0, sp_count = 0;
  int code = 0;             // subbasin code after "TG"
  abfrel_table* abfrel = nullptr;
  const std::vector<int>* zone_index = nullptr;  // code -> subbasin index
  int tracer_count = 0;
  const tracer_entry* tracers = nullptr;  // 1-based
  // The routing module's decay factors per step, 0..ntr (null: none).
  const std::vector<double>* step_decay = nullptr;
  int lake_switch = 0;
  int lake_readgrid = 0;
  const lake_grids* lakes = nullptr;  // with the lake switch on
};

struct reach_channel {
  channel_kind kind = channel_kind::own;
  int code = 0;                  // subbasin code, or inflow number of a ZL channel
  std::vector<int> listed;       // codes after "&" of a SUMTRIB channel
  int flow_index = 0;            // subbasin index, or nsub + inflow number
  std::vector<int> listed_index;
  double share = 0;              // [-] p, area share at the outlet (own, OL, SUMTRIB)
  channel_params params;
  double k_main = 0, k_flood = 0;  // [h] as given
  double root_slope = 0;
  double c_main = 0, c_flood = 0;  // [-]
  wq_table table;
  channel_state state;
};

struct reach_inflow {
  int code = 0;
  int kind = 0;
  std::string file;
  std::unique_ptr<TimeSeriesReader> reader;
  std::vector<double> constant;  // per tracer index: [m3 s-1] water, concentrations
};

// Water held by one channel, for balances [mm over the channel's area basis].
struct channel_water {
  double queued = 0;     // in the queues behind the outflow positions
  double stored = 0;     // in the linear storages, c / (1 - c) x outflow (main channel)
  double displaced = 0;  // net water the queues gave to `displaced`
};

class routingclass : public modelobject {
 public:
  routingclass(int& status, DiagStream* diag, const reach_setup& setup,
               const settings_context& settings);
  routingclass(const routingclass&) = delete;
  routingclass& operator=(const routingclass&) = delete;

  // The inflow of channel number (a ZL entry); file, start row and column
  // only for INFLOW_EXTERN, the constant [m3 s-1] for INFLOW_CONSTANT.
  // Throws 37 and 38.
  virtual void setup_inflow(int channel_number, int code, int kind, const std::string& file,
                            int start_row, double constant, int first_tracer_column, int year,
                            int month, int day, int hour);
  // Channel number j (1..OL+SUMTRIB+ZL) with its code, "&" list (SUMTRIB),
  // the ten raw values and the table range. Throws 17 for a table that
  // cannot be built.
  virtual void setup_channel(int j, int code, const std::vector<int>& listed, int time_splitting,
                             int switch2, const double (&values)[CHANNEL_VALUES], double qmin,
                             double qmax, double intervals);
  // Area shares of the channels; replaces A_T by the zone-grid area when
  // they differ by more than 0.001 km2. Throws 41 for a reach without area.
  virtual void check_areas();
  virtual void write_wq_tables();
  virtual void set_routed_arrays(subbasin_flow_arrays* maxirrig,
                                 subbasin_flow_arrays* maxirrig_from_reservoirs);
  virtual void set_irrigation_demand(std::vector<zone_record>* demand);
  virtual void link_arrays(subbasin_flow_arrays* routing_flows, interval_arrays* interval_flows,
                           queue_table* storage_table, const observed_window* window,
                           const std::vector<int>* observed_column);
  virtual void init_storages();
  virtual void route(int year, int month, int day, int hour);
  virtual void read_inflows(subbasin_flow_arrays* routing_flows, int year, int month, int day,
                            int hour);
  virtual void link_riverflow_table(riverflow_table* table, int reach_index);
  virtual void update_riverflow_table();
  virtual int max_storage_elements(int n) const;
  virtual int wq_interval_index(int j, double x_mm) const;
  virtual double max_substep_value(const double* x) const;
  // Buffered rows of the abstractions with files, then of the reservoirs.
  virtual void flush_outputs();
  // An AL entry (code after "AL", the entry's own text after the code) and
  // an SP entry; throws their codes (routing_reach_reservoirs.cpp).
  virtual void SetAblaufModus(int entry_number, int code, const std::string& text,
                              int time_splitting, int year, int month, int day, int hour);
  virtual void SetSpeicherParams(int entry_number, int code, const std::string& text,
                                 int time_splitting);
  // Rule sections and the initial reservoir outflows for the start date.
  virtual void read_reservoir_rules(std::FILE* rules_file, int year, int month, int day, int hour);
  virtual void read_abstraction_rules(std::FILE* rules_file);
  // [mm per step] what the reach's abstractions took in the last step.
  double get_abstraction_total() const { return abstraction_total; }
  int abstraction_count() const {
    return abstractions.empty() ? 0 : static_cast<int>(abstractions.size()) - 1;
  }
  AL_class& abstraction(int i) { return *abstractions[static_cast<size_t>(i)]; }
  int reservoir_count() const {
    return reservoirs.empty() ? 0 : static_cast<int>(reservoirs.size()) - 1;
  }
  SP_class& reservoir(int i) { return *reservoirs[static_cast<size_t>(i)]; }
  const SP_class& reservoir(int i) const { return *reservoirs[static_cast<size_t>(i)]; }
  double m3s_to_mm_reach(double q) const { return m3s_to_mm(q, area / factor, dt); }
  double mm_to_m3s_reach(double q) const { return mm_to_m3s(q, area / factor, dt); }
  // The reach's part of the section "[routing_model]" of the storage content
  // file (routing_reach_state.cpp); read_state throws 71 with the position
  // in the part on a code, tracer or index that differs.
  virtual void write_state(std::FILE* file) const;
  virtual void read_state(state_reader& in);
  // [-] decay over one step of a radioactive tracer t, the routing module's
  // own factor (1 for other tracers or before the module set it).
  double step_decay_factor(int t) const;
  void release() override;

  int code() const { return reach_code; }
  int own_index() const { return own; }
  double reach_area() const { return area; }
  double reach_factor() const { return factor; }
  int channel_count() const { return channels_total; }
  const reach_channel& channel(int j) const { return channels[static_cast<size_t>(j)]; }
  const reach_inflow& inflow(int i) const { return inflows[static_cast<size_t>(i)]; }
  int inflow_count() const { return zl; }
  // Longest whole-hour travel time at the smallest discharge over the channels.
  int longest_travel_hours() const;
  channel_water water_of(int j) const;

 private:
  void withdraw_for_irrigation();
  void take_river_water(const reach_channel& ch);
  void mix_sumtrib(const reach_channel& ch, double& weight_sum);
  void fill_inflow_series(const reach_channel& ch);
  void add_to_outlet(const reach_channel& ch, double weight_sum);
  void close_outlet();
  void irrigate_at_outlet();
  void fill_riverflow_record(const reach_channel& ch, int g, bool with_links, int reach_index);
  int index_of(int code) const;
  void ensure_outlet_series(int splitting);
  void make_abstractions_and_reservoirs(const reach_setup& s);
  void release_abstractions_and_reservoirs(DiagStream& d);
  void pass_abstractions(int year, int month, int day, int hour);
  void pass_reservoirs(int year, int month, int day, int hour);
  void deliver_internal(const AL_class& al, const std::vector<double>& exchange);
  std::vector<AL_class*> abstraction_list() const;

  int nsub = 0;
  double dt = 60;
  double area = 0;
  double factor = 1;
  int ol = 0, sumtrib = 0, amp = 0, zl = 0, al = 0, sp = 0;
  int channels_total = 0;
  int reach_code = 0;
  int own = 0;
  abfrel_table* abfrel = nullptr;
  const std::vector<int>* code_to_index = nullptr;
  int ntr = 0;
  std::vector<tracer_decay> decays;  // 1..ntr
  const std::vector<double>* step_decay = nullptr;
  int time_splitting = 1;
  int switch2 = 0;

  std::vector<reach_channel> channels;  // 0 the own subbasin
  std::vector<reach_inflow> inflows;    // 1..ZL
  std::vector<std::vector<double>> inflow_series;  // [k][m]
  std::vector<std::vector<double>> outlet_series;  // [k][m]
  std::vector<double*> queue_pointers;             // per tracer index, reused each channel
  std::vector<double*> series_pointers;

  subbasin_flow_arrays* flows = nullptr;
  interval_arrays* intervals = nullptr;
  queue_table* queues = nullptr;
  const observed_window* window = nullptr;
  const std::vector<int>* columns = nullptr;
  subbasin_flow_arrays* maxirrig = nullptr;
  subbasin_flow_arrays* maxirrig_reservoirs = nullptr;
  std::vector<zone_record>* demand = nullptr;
  riverflow_table* riverflows = nullptr;

  // Abstractions and reservoirs, 1..AL and 1..SP.
  std::vector<std::unique_ptr<AL_class>> abstractions;
  std::vector<std::unique_ptr<SP_class>> reservoirs;
  std::vector<double> exchange;  // 0..ntr: [m3 s-1] and concentrations
  double abstraction_total = 0;  // [mm per step]
  int lake_switch = 0;
  int lake_readgrid = 0;
  const lake_grids* lakes = nullptr;
};
