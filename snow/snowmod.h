// schneemodellklasse: splits the water input into rain and snow, keeps solid
// and liquid snow storages, melts snow by one of fourteen methods and hosts
// the glacier, firn and permafrost models. Built so far: the set-up from
// "[snow_model]" (snowmod_section.cpp) with its grids, statistics and the
// elevation order of the slides (snowmod_setup.cpp); the glacier, firn,
// permafrost and lake settings (snowmod_glacier_setup.cpp); the per-cell
// physics as kernels (snowcover_kernels.h) and the cell loop with the copies
// of hydrologic response units (snowmod_cells.cpp); the "[snow_model]"
// section of the storage-content file and the release (snowmod_state.cpp).
// The time step with the slides, the statistics, the glacier runoff storages
// and the outputs (snowmod_step.cpp, snowmod_slides.cpp; kernels in
// snowslide_kernels.h and glacier_kernels.h); the dynamic glaciers with
// their yearly update (glacierclass.h, snowmod_dynamic_glacier.cpp). Not
// built: the copies of dynamic glacier states to the cells of hydrologic
// response units.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/zonalstat.h"
#include "snow/glacierclass.h"
#include "snow/snowcover_kernels.h"
#include "snow/snowmod_glacier.h"
#include "snow/snowmod_section.h"
#include "snow/snowslide_exchange.h"
#include "submodel/runoffrecords.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class schneemodellklasse : public teilmodellklasse {
 public:
  schneemodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                     int registry_size, const std::string& section, grid_store* store,
                     const settings_context& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void free_tracer_statistics() override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  // Writes the state section when initialised, releases every statistic and
  // grid of the module, then the base part.
  void release() override;

  void flush_outputs() override;
  // Keeps the grid (or none) when the module is active.
  virtual void set_radiation_correction(const grid_matrix* radiation_correction);
  // "snowstorage_solid" when the module is active, else none.
  virtual grid_matrix* get_solid_snow_storage();
  // The unsaturated zone's runoff arrays, which receive the glacier outflow;
  // marks the module initialised.
  virtual void set_qg(subbasin_flow_arrays* qg);
  // The unsaturated zone's own glacier records: a subbasin that the yearly
  // update gives its first glacier is flagged there too, so that its
  // glacier runoff is not overwritten by the unsaturated zone.
  virtual void set_unsat_glacier_records(std::vector<subbasin_glacier_record>* records);
  // Whether a step of this date ends on the glacier evaluation day:
  // (interval + hour shift) / 60 + hour > 24.001 on the evaluation date.
  bool is_evaluation_step(int64_t hour, int64_t day, int64_t month) const;
  // Day factors of the seasonal sine law [mm degC-1 d-1] / [-].
  virtual double seasonal_rmf(int day, int month);
  virtual double seasonal_aice(int day, int month);
  virtual double seasonal_asnow(int day, int month);
  // [hPa]
  virtual double saturation_vapor_pressure_ice(double temperature_c);
  // section: "[lake_model]": its flow control decides the lake handling.
  virtual void read_lake_parameters(const std::string& section);
  // Keeps the file name of the storage-content file (none when the
  // unsaturated zone is inactive) unless readgrid is 2 or 4, and reads the
  // "[snow_model]" section when the glacier storages exist.
  virtual void read_state(const std::string* storage_file, int readgrid);
  // Appends (or writes) the "[snow_model]" section when a name is kept.
  virtual void write_state(bool append);
  [[noreturn]] virtual void fail_state_mismatch(const std::string& label, double expected,
                                                double read);
  // Reads one number of the open state file and compares it with expected.
  virtual void check_state_value(double expected, const std::string& label);
  // The method when the flow-control value is above 0, else 0.
  virtual int get_method();
  // Interception before snow: the water input is the first present of
  // "throughfall0" and "precipitation", else "precipitation"; chosen once.
  virtual void select_input_grid(char interception_before_snow);

  // The cell loop of a step over the process's own cells (the time step,
  // which is not built, will call it): split, accumulation, melt, outflow,
  // glacier snow, firn and ice melt, snow days, age and albedo, permafrost
  // and tracers, with a night and a day call for steps above 720 minutes.
  void snow_cells(int day, int month, int year);
  // Hydrologic response units: every own cell that is not its unit's master
  // takes the snow values of the master cell (after snow_cells).
  void copy_hru_snow_states();
  // The day factors and the night share of the step's date (hour of the
  // step end as the base class keeps it).
  void set_step_date(int64_t hour, int64_t day, int64_t month, int64_t year);

  const snow_parameters& get_parameters() const { return params; }
  // Rows of the module's grids and whether they span the whole grid.
  int get_module_first_row() const { return module_first; }
  int get_module_last_row() const { return module_last; }
  bool holds_full_grid() const { return full_grid; }
  const grid_matrix* get_input_grid() const { return input; }
  const zonalstatistic* get_statistic(snow_statistic which) const {
    return statistics[static_cast<size_t>(which)].get();
  }
  // The glacier runoff storages per subbasin 1..n (empty without glaciers).
  std::vector<double>& glacier_outflows(int which) { return glacier_storage[which]; }
  // The number of subbasins of "zonegrid_soilmodel".
  int get_subbasin_count() const { return soil_zone_count; }
  bool has_glacier_part() const { return glacier_part; }
  const glacier_parameters& get_glacier_parameters() const { return glacier; }
  // Per subbasin 0..n; empty without the glacier part.
  const std::vector<subbasin_glacier_record>& get_glacier_records() const {
    return glacier_records;
  }
  // The glaciers of a dynamic method, on process 0 only.
  const std::vector<glacier_record>& get_glacier_list() const { return glacier_list; }
  // The glacier records of the dynamic model (process 0 only), in the order
  // of their creation, and the map from a glacier code to its position.
  const std::vector<glacierclass>& get_glaciers() const { return glaciers; }
  const std::map<int64_t, int>& get_glacier_map() const { return glacier_map; }
  // The yearly block of the dynamic glaciers (collective): snow above W_max
  // becomes glacier and firn, the firn layers shift, process 0 updates the
  // glaciers from their mass balance and the records are broadcast.
  void yearly_glacier_update();
  bool has_permafrost() const { return permafrost_on; }
  const permafrost_settings& get_permafrost() const { return permafrost; }
  int get_lake_flow_control() const { return lake_flow_control; }
  // Statistics of the glacier part, in the order firn melt, ice melt, snow
  // melt on ice areas, total glacier melt, snow storage without glaciers,
  // firn water equivalent, mass balance (1) and (2), and the thaw depth.
  static constexpr int GLACIER_STATISTICS = 9;
  const zonalstatistic* get_glacier_statistic(int which) const {
    return glacier_statistics[static_cast<size_t>(which)].get();
  }
  const std::string& get_glacier_statistic_file(int which) const {
    return glacier_statistic_files[static_cast<size_t>(which)];
  }

 private:
  struct owned_grid {
    grid_matrix grid;
    int index = 0;
  };

  void set_up();
  void read_section();
  void build_statistics();
  void take_input_grids();
  void publish_grids();
  void set_up_slides();
  // The next free store entry (fatal 12 when none is left).
  int next_entry();
  owned_grid& publish(const std::string& grid_name, const snow_grid_file& file, int first,
                      int last);
  // 0 where the zone grid holds data, nodata elsewhere.
  void fill_zero(grid_matrix& grid) const;
  void fill_nodata(grid_matrix& grid) const;
  void read_storage_grid(const std::string& grid_name, snow_grid which, bool keep_full);
  void read_temperature_grid(const std::string& grid_name, snow_grid which);
  void take_hru_grids();
  void read_state_section(std::FILE* file, const std::string& path);
  // Looks the module's own grids up once for the cell loop.
  void keep_cell_grids();
  bool own_cell(int row, int col) const;
  // [-] the land-use albedo of the date for the cell.
  double landuse_albedo(int row, int col, int day, int month, int year) const;

  // Glacier, firn and permafrost set-up (snowmod_glacier_setup.cpp).
  void set_up_glacier_part();
  void check_dynamic_glacier_grids(const grid_matrix& shares, const grid_matrix& codes,
                                   const grid_matrix& subbasins);
  void build_glacier_statistic(int which, const snow_statistics_file& file, bool by_subbasin,
                               int precision, const char* title);
  void build_glacier_records(const grid_matrix& shares, const grid_matrix& subbasins);
  void publish_glacier_grids();
  void read_glacier_grids();
  void set_initial_firn();
  void set_up_permafrost();
  void reopen_control_file(const std::string& section);
  void close_control_file();
  // 0 where "zonegrid_soilmodel" holds data, nodata elsewhere.
  void fill_zero_in_subbasins(grid_matrix& grid) const;
  const grid_matrix& whole_or_own(const grid_matrix& gathered, const grid_matrix& own) const;

  snow_parameters params;
  double rmf_mean = 0, rmf_amplitude = 0;    // [mm degC-1 d-1]
  double aice_mean = 0, aice_amplitude = 0;  // glacier part (not built): 0
  double asnow_mean = 0, asnow_amplitude = 0;

  int module_first = 0, module_last = -1;
  bool full_grid = false;

  // Grids of other modules.
  grid_matrix* input = nullptr;  // raised in place by the deposition index
  char interception_first = 0;
  bool input_chosen = false;
  const grid_matrix* temperature = nullptr;
  const grid_matrix* temperature_night = nullptr;
  const grid_matrix* wind_speed = nullptr;
  const grid_matrix* vapor_pressure = nullptr;
  const grid_matrix* albedo = nullptr;
  const grid_matrix* snow_evaporation = nullptr;
  const grid_matrix* elevation = nullptr;
  const grid_matrix* cloudiness = nullptr;
  const grid_matrix* air_humidity = nullptr;
  const grid_matrix* global_radiation = nullptr;
  const grid_matrix* surface_temperature = nullptr;
  const grid_matrix* slope = nullptr;
  std::array<const grid_matrix*, 5> slide_fractions{};  // 1..4
  const grid_matrix* deposition_index = nullptr;
  const grid_matrix* radiation_correction = nullptr;
  const grid_matrix* hru = nullptr;
  const grid_matrix* master_hru = nullptr;
  std::vector<const grid_matrix*> landuse_layers;  // 1..n
  int landuse_layer_count = 1;

  // Whole-grid copies on process 0 for the slide set-up.
  grid_matrix gathered_zone, gathered_elevation, gathered_slope;

  std::deque<owned_grid> owned;  // never moves an element: the store keeps pointers

  std::array<std::vector<zone_record>, static_cast<size_t>(snow_statistic::count)> statistic_zones;
  std::array<std::unique_ptr<zonalstatistic>, static_cast<size_t>(snow_statistic::count)>
      statistics;

  const grid_matrix* soil_zone_grid = nullptr;
  std::vector<zone_record> soil_zones;
  std::vector<int> soil_zone_index;
  int soil_zone_count = 0;
  int soil_max_zone_code = 0;

  glacier_parameters glacier;
  bool glacier_part = false;
  const grid_matrix* glacier_grid = nullptr;   // "ice_firn" or "GlacierizedCells"
  const grid_matrix* glacier_codes = nullptr;  // "GlacierCodes"
  const grid_matrix* debris = nullptr;         // "debris_on_glaciers"
  const grid_matrix* glacier_radiation = nullptr;
  std::vector<subbasin_glacier_record> glacier_records;
  std::vector<glacier_record> glacier_list;
  std::array<std::vector<zone_record>, GLACIER_STATISTICS> glacier_zones;
  std::array<std::unique_ptr<zonalstatistic>, GLACIER_STATISTICS> glacier_statistics;
  std::array<std::string, GLACIER_STATISTICS> glacier_statistic_files;
  stack_matrix firn_stack;
  int firn_stack_index = 0;
  // Whole-grid copies on process 0 for the dynamic glaciers.
  grid_matrix gathered_subbasins, gathered_glacier, gathered_codes;
  permafrost_settings permafrost;
  bool permafrost_on = false;
  const grid_matrix* thaw_coefficient = nullptr;
  const grid_matrix* thaw_depth = nullptr;
  const grid_matrix* root_depth = nullptr;
  const grid_matrix* snow_free_days = nullptr;
  const grid_matrix* snow_cover_days = nullptr;
  int lake_flow_control = 0;
  const grid_matrix* lake_codes = nullptr;
  const grid_matrix* ponding = nullptr;

  // The module's own grids the cell loop works on (set up once).
  struct cell_grids {
    grid_matrix *solid = nullptr, *liquid = nullptr, *total = nullptr;
    grid_matrix *days = nullptr, *age = nullptr;
    grid_matrix *snowtemp = nullptr, *surftemp = nullptr;
    grid_matrix *snow_fraction = nullptr, *rain_fraction = nullptr;
    grid_matrix *outflow = nullptr, *melt_only = nullptr;
    grid_matrix *input = nullptr, *albedo = nullptr, *evaporation = nullptr;
    grid_matrix *free_days = nullptr, *cover_days = nullptr, *thaw = nullptr, *root = nullptr;
    grid_matrix *firn_melt = nullptr, *ice_melt = nullptr, *glacier_old = nullptr;
    grid_matrix *solid_g = nullptr, *liquid_g = nullptr, *total_g = nullptr;
    grid_matrix *glacier_melt = nullptr, *snowtemp_g = nullptr, *surftemp_g = nullptr;
    grid_matrix *evaporation_g = nullptr, *firn_total = nullptr;
  } cell_grid;
  // What every cell of a step shares.
  struct step_values {
    snow_cover_params p;
    glacier_melt_params g;
    double rmf = 0, a_ice = 0, a_snow = 0;  // day factors
    double night = 0;                       // [-] night share of a long step
    int day = 0, month = 0, year = 0;
  };
  snow_forcing forcing_at(int row, int col, double albedo_now, double rmf) const;
  void snow_cell(int row, int col, const step_values& v);
  void glacier_cell(int row, int col, const step_values& v, snow_forcing& in, snow_part& part,
                    snow_fractions& fractions);
  std::vector<const grid_matrix*> tracer_inputs;  // 1..tracer count

  // ---- one step (snowmod_step.cpp, snowmod_slides.cpp) ----
  void keep_output_indices();
  void clear_step_statistics();
  void step_statistics();
  void statistics_cell(int row, int col);
  void complete_step_statistics();
  void glacier_runoff();
  void step_outputs();
  void snow_slides();
  void gather_slide_inputs();
  int module_zone_of(int row, int col) const;
  int subbasin_of(int row, int col) const;
  bool statistics_cell_owned(int row, int col) const;

  struct output_indices {
    std::vector<int> grids;  // in output order, before the dynamic glacier grids
    std::vector<int> glacier_grids;  // after the firn stack
    bool kept = false;
  } outputs;
  // Whole grids of the slides on process 0 (copies when they are
  // distributed); the glacier share is gathered anew after a yearly update.
  struct slide_inputs_held {
    grid_matrix zone, glacier, slope, capacity;
    std::array<grid_matrix, 4> fraction;
    bool gathered = false;
    bool glacier_current = false;
  } slide_held;
  // The walk compiled once and the cells each process exchanges with
  // process 0 (built at the first slide step).
  slide_exchange slide_run;
  slide_walk_inputs slide_inputs();
  bool slide_glacier_storages() const;  // glacier storages and a glacier grid
  // Per subbasin the step's melt sums of ice, firn and snow on ice, kept
  // apart from the statistics (which hold nothing when their file is off).
  std::array<std::vector<zone_record>, 3> runoff_sums;
  std::vector<subbasin_glacier_record>* unsat_glacier_records = nullptr;

  // ---- dynamic glaciers (snowmod_dynamic_glacier.cpp), process 0 ----
  // Whole grids of one update (or of the set-up).
  struct dynamic_glacier_view {
    grid_matrix *g = nullptr, *k = nullptr, *g_old = nullptr, *k_old = nullptr;
    grid_matrix *B = nullptr, *B_old = nullptr, *F = nullptr;
    stack_matrix* firn = nullptr;
    const grid_matrix *subbasin = nullptr, *z = nullptr;
  } dyn;
  const grid_matrix* dyn_zone = nullptr;  // the module's zone grid, whole
  void rebuild_glacier_list();
  void build_glacier_list();
  void initialise_glacier_sizes();
  void scan_glacier_cells(int code, bool widen);
  void assign_band_cells(int code);
  void update_glaciers();
  void update_one_glacier(size_t position);
  void rescan_glacier(int code);
  void grow_glacier(int code);
  void redistribute_mass_balance(int code);
  void yearly_glacier_block();
  void recompute_glacier_records();
  glacierclass new_glacier(int code, int subbasin) const;
  double firn_total_at(int row, int col) const;
  int32_t largest_glacier_code() const;
  template <typename F>
  void walk_glacier_cells(F&& f) const;
  std::vector<glacierclass> glaciers;
  std::map<int64_t, int> glacier_map;

  subbasin_flow_arrays* qg = nullptr;
  // Outflows Qice_slr, Qfirn_slr, Qsnow_slr per subbasin; empty without
  // the glacier part.
  std::array<std::vector<double>, 3> glacier_storage;
  bool storage_name_kept = false;
  std::string storage_file_name;
  std::FILE* state_file = nullptr;  // open while the section is read
};
