// defaultini: the one global-settings object of a run (object name
// "defaults"). It writes the substituted copy of the control file that every
// object reads, reads the global sections (model time, output settings, zone
// grid, elevation model, standard grids), fills the shared grid store with
// the global grids, divides the grid among the processes, ranks the zones and
// hands all of it over as one read-only settings context
// (modelbase/settings_context.h), which every model object references.
//
// The set-up runs in numbered stages: the application calls init_step until
// it reports done, then setup_zonal_statistics, export_settings,
// set_initialized(1) and init_spinup. The object owns every grid it
// registers, the zone table and the division; they live until release().
//
// Four topics are parts of their own, which the stages and the time loop
// reach through this object: the vegetation layers with their phenology,
// the derived grids, the external coupling, and SpinUp with its hydrologic
// response units (settings/settings_part.h).
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"
#include "modelbase/modelobject.h"
#include "modelbase/zonalstat.h"
#include "settings/derived_grids.h"
#include "settings/external_coupling.h"
#include "settings/mpidivision.h"
#include "settings/settings_part.h"
#include "settings/spinup_hrus.h"
#include "settings/vegetation_layers.h"
#include "settings/zonetable.h"
#include "tables/irrigation.h"
#include "tables/landuse.h"
#include "tables/multilayer.h"
#include "tables/soiltable.h"

class DiagStream;
class grid_store;

// The symbols of a control file while its copy is written: slot k of both
// lists belongs to the k-th definition in file order (slot 0 is unused).
struct control_symbols {
  std::vector<std::string> names{std::string()};
  std::vector<std::string> values{std::string()};
  int count() const { return static_cast<int>(names.size()) - 1; }
};

// The sections read by read_base_settings.
struct base_settings {
  int output_control = 0;     // [steps] progress-report interval
  int radius_warnings = 0;    // 0 or 1
  int discharge_unit = 0;     // 0 or 1
  double min_to_int_end = 0;  // [min]
  std::vector<int> selected_codes{0};  // 1..count; element 0 holds the count
  double latitude = 0;            // [deg]
  double longitude = 0;           // [deg]
  double reference_meridian = 0;  // [deg]
  double time_shift = 0;          // [h]
  int meteo_count = 0;
  std::vector<std::string> meteo_names{std::string()};  // 1..meteo_count
};

// What one standard-grid line of "[standard_grids]" defines.
struct standard_grid_line {
  std::string file_name;
  std::string grid_name;
  int fill_code = 0;
  int read_code = 1;
  double default_value = 0;
  int write_code = 0;
  std::string output_name;      // the file name when "outname" is absent
  bool has_statistics = false;  // "statfile" given
  std::string statistics_file;
  int statistics_code = 0;
  int period_count = -1;        // "periodicity": n, -1 when not periodic
  std::string period_unit;
  int step_number = -1;         // "periodicity": m
  bool persistent = true;
  int duration = 0;             // [steps]
};

// Reads the keys of a standard-grid line (the text after the file name, the
// grid name and, in the old form, the fill code) into grid, whose file name
// must be set. True when the text names "fillcode".
bool parse_standard_grid_keys(const std::string& text, standard_grid_line& grid);

// The context the settings object fills and every model object references;
// a base, so that it exists before the modelobject part that references it.
struct settings_context_holder {
  settings_context run_context;
};

class defaultini : private settings_context_holder, public modelobject {
 public:
  // status: 0, or the integer thrown during construction (103 for anything
  // else). The application passes registry_size 200 and soil_model_mode 2.
  defaultini(unsigned& status, DiagStream* diag_stream, const std::string& control_file_name,
             statistics_registry* registry, int registry_size, int soil_model_mode,
             grid_store* shared_store);

  // ---- staged set-up and what follows it ----
  // One stage per call; done becomes true on the call after the last stage
  // and is left untouched otherwise. Returns 0; failures are thrown.
  int init_step(bool& done);
  // Zonal statistics of every settings grid that names a statistics file.
  void setup_zonal_statistics();
  // Completes the settings context from the set-up and hands it over: the
  // objects built from now on reference it. It stays this object's and
  // points at the tables, grids and division this object owns. The SpinUp
  // switch and units follow with init_spinup.
  const settings_context& export_settings();
  // Sub-steps per time step from "[soil_surface_groundwater_substeps]" (1
  // when the section is absent).
  int read_substeps();
  // SpinUp settings of "[SpinUp]" and the hydrologic response units of this
  // process (settings/spinup_hrus.h). Without the section, or with the
  // switch 0, all three are 0 and the list holds only its placeholder
  // element 0. The settings context takes the switch and refers to
  // hru_list, which must live as long as the objects that read it.
  // Collective.
  void init_spinup(int& spinup_switch, int& pre_spinup, int& repeat_count,
                   std::vector<hru_entry>& hru_list);

  // ---- operations in their slot order ----
  virtual void free_symbol_buffers(control_symbols& symbols);
  // Writes the copy given_name + ".$$$" and puts its name into copy_name.
  virtual void compile_symbols(const std::string& given_name, std::string& copy_name);
  virtual void read_base_settings(const std::string& control_name);
  // Treats one line (comment cut, symbols replaced, "//" joined) in place
  // with the symbols 1..count of the table.
  virtual std::string& substitute_symbols(std::string& line, unsigned line_number,
                                          const control_symbols& symbols, int count);
  // Per-step output of the settings grids by their write codes.
  virtual void write_standard_grids(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void write_variable_grids(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void read_radiation_correction_flow_control();
  virtual void read_model_time();
  virtual void read_standard_grids();
  // The six header values of the zone-grid file (entry 1).
  virtual void read_grid_header(int& cols, int& rows, double& xll, double& yll, double& size,
                                double& nodata_value);
  // Re-reads periodic standard grids from their dated files when due and
  // gives non-persistent ones their set-up values back after their duration.
  virtual void update_periodic_grids(int64_t hour, int64_t day, int64_t month, int64_t year,
                                     int64_t time_step);
  virtual void check_ice_firn_grid();
  virtual double get_max_elevation();
  // Maximum of a store entry's grid over all processes (collective).
  virtual double grid_maximum(int index);
  // The daily land-use update (settings/vegetation_phenology.cpp): every step
  // the day's temperature sum and the vegetation-period durations, on the
  // last step of a day the dynamic phenology, the parameter grids of the
  // layers and the vegetation-period flags of the store entries.
  virtual void update_landuse_parameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                         int dt_minutes);
  // External coupling (settings/external_coupling.h): the switch, the
  // partner's grids at an input exchange (after the wait for its semaphore
  // file), the accessors the time loop asks.
  virtual bool coupling_active();
  virtual void read_coupling_input(int64_t year, int64_t month, int64_t day, int64_t hour);
  virtual std::string get_semaphore_file();
  virtual std::string get_semaphore_target_file();
  virtual std::string get_semaphore_content();
  virtual int64_t get_wait_interval();
  virtual char get_coupling_interval();
  // Resolves the named grids and copies the named statistics over the first
  // registry records (once, after the last module); between output
  // exchanges accumulates, at one writes the grids and statistics.
  virtual void resolve_coupling_names(statistics_registry* registry, int registry_size);
  virtual void accumulate_coupling_output();
  virtual void write_coupling_output(int64_t day, int64_t month, int64_t year, bool day_flag,
                                     bool month_flag, bool year_flag);
  virtual bool has_external_gw_table();
  virtual int get_external_time_step();

  // Per-step statistics of the settings grids (called directly by the time
  // loop).
  void clear_grid_statistics();
  void add_grid_statistics();
  void complete_grid_statistics(int64_t hour, int64_t day, int64_t month, int64_t year);
  void flush_grid_statistics();

  void release() override;

  // ---- read-only views (tests and the application) ----
  int stage() const { return stage_counter; }
  int registered_grid_count() const { return registered_grids; }
  int substep_count() const { return substeps; }
  const base_settings& output_settings() const { return base; }
  const std::string& copy_name() const { return control_name; }
  int radiation_correction_value() const { return radiation_correction; }
  int64_t start_hour_value() const { return start_hour; }
  int64_t start_day_value() const { return start_day; }
  int64_t start_month_value() const { return start_month; }
  int64_t start_year_value() const { return start_year; }
  int february_days() const { return month_days[2]; }
  const grid_matrix* ice_firn() const { return ice_firn_grid; }
  // The soil table for the one module that completes it (the unsaturated
  // zone); every other user reads it through the settings context.
  soil_table_t* writable_soil_table() { return &soil_entries; }

 protected:
  // The class tables, read from the open control file.
  virtual void read_multilayer_landuse(int mode);
  virtual void read_landuse_table(int mode);
  virtual void read_soil_table(int mode);
  // Stage operations: the irrigation table, the code checks, the variable
  // and derived grids, the vegetation layers and the coupling settings.
  virtual void read_irrigation_table();
  virtual void check_landuse_codes(int landuse_index);
  virtual void check_SOIL_Codes(int soil_index);
  virtual void check_irrig_Codes(int irrigation_index);
  virtual void read_variable_grids();
  virtual void make_nFK_kWert_and_Na();
  virtual void make_Slope_and_Aspect();
  virtual void MakeRegionWeightGrids();
  virtual void make_cell_size_grids();
  virtual void make_coordinate_grids();
  virtual void make_landuse_layer_grids();
  virtual void generateMultiLayerParameterGrids(int layers);
  // Opens the control file (left open for the final stage) and reads
  // "[ExternalCoupling]".
  virtual void GetCouplingParameters();

 private:
  friend class settings_part;

  void run_stage();
  void stage_copy_and_base_settings();
  void stage_zone_grid_and_division();
  void stage_zone_table_and_distribution();
  // Process 0 hands every process the cells of its band of the zone grid and
  // of the river links (links: their store entry, 0 for none).
  void distribute_zone_grids(int links);
  void stage_standard_grids();
  void stage_landuse_layers();
  void close_control_file();
  // Rows this process holds of a distributed grid: 1..nrows on process 0,
  // the own rows and one halo row on each side elsewhere.
  void held_rows(int& first, int& last) const;
  // A grid owned by this object for store entry index.
  grid_matrix& own_grid(int index);
  void write_progress_label(const char* label);

  statistics_registry* registry = nullptr;
  int registry_size = 0;
  int soil_model_mode = 0;
  std::string given_name;    // the control file named on the command line
  std::string control_name;  // the copy that every object reads
  int stage_counter = 0;
  int substeps = 1;

  base_settings base;
  std::unique_ptr<std::string> input_dir;   // "InitialStateDirectory"
  std::unique_ptr<std::string> output_dir;  // "DefaultOutputDirectory"
  int radiation_correction = 0;
  int irrigation_switch = 0;
  const std::vector<irrigation_entry>* irrigation_table = nullptr;
  landuse_table_t landuse_entries;
  soil_table_t soil_entries;
  multilayer_table_t multilayer_entries;

  int64_t start_hour = 0, start_day = 0, start_month = 0, start_year = 0;

  int registered_grids = 0;
  int variable_grid_count = 0;
  int first_variable_index = 0;
  std::vector<int> readgrid_codes;

  // Grids and stacks registered by this object and its parts, by store index
  // (map nodes keep their addresses, so the store may point at them).
  std::map<int, grid_matrix> grids;
  std::map<int, stack_matrix> stacks;
  const grid_matrix* zone_grid = nullptr;
  const grid_matrix* elevation_grid = nullptr;
  const grid_matrix* ice_firn_grid = nullptr;
  double max_elevation = 0;  // [m]

  // ---- irrigation table, code checks ----
 public:
  // After store entry reread_index was read again from a dated file: when it
  // is the land-use grid ("landuse", or "landuse1" with one layer), turns its
  // class codes into table indices and refills the land-use grids of the
  // layers (halo rows included). Does nothing for any other entry.
  // Collective: every process calls it for the same entries.
  void refresh_landuse_layers(int reread_index);
  // Writes the help text on irrigation schedules for entry position and
  // throws 29.
  [[noreturn]] virtual void fail_irrigation_rule(int position);
  const landuse_table_t& landuse_classes() const { return landuse_entries; }
  const multilayer_table_t& multilayer_classes() const { return multilayer_entries; }
  const irrigation_table_t& irrigation_classes() const { return irrigation_entries; }
  int irrigation_switch_value() const { return irrigation_switch; }

 private:
  // The class-code check of a grid against codes[1..n]; replaces the codes
  // by the indices in the grid (process 0).
  void check_class_codes(grid_matrix& grid, const std::vector<int>& codes, const char* checking,
                         const char* replacing, int index, int error_code,
                         const char* error_tail);
  void check_multilayer_codes();
  // Turns the class codes of the held cells of grid into indices of codes.
  void codes_to_indices(grid_matrix& grid, const std::vector<int>& codes, int index,
                        int error_code, const char* error_tail);
  grid_matrix* soil_model_grid(const char* grid_name, const char* suffix, int& index, bool first);

  irrigation_table_t irrigation_entries;
  grid_matrix* soil_type_grid = nullptr;
  int available_soil_moisture_index = 0;
  int hydraulic_conductivity_index = 0;
  int fillable_porosity_index = 0;

  // Zone table (stage 7) and the division of the grid (stage 6).
  zone_table zones_table;
  mpi_division division;
  std::vector<int64_t> cell_counts;
  std::vector<halo_run> halo_send_list;
  std::vector<halo_run> halo_receive_list;

  // Zonal statistics of the settings grids, by store index.
  std::map<int, std::vector<zone_record>> statistic_zones;
  std::map<int, std::unique_ptr<zonalstatistic>> statistics;

  // ---- the parts ----
 public:
  // Vegetation layers (settings/vegetation_layers.h).
  const vegetation_layer_set& vegetation_layers() const { return vegetation.grids(); }
  int layer_count() const { return vegetation.layer_count(); }

  // Derived grids (settings/derived_grids.h).
  virtual double fill_from_neighbours(int row, int col, grid_matrix& grid, int& used);
  virtual void rank_region_grid(int region_index);
  virtual void compute_region_weights();
  const derived_grid_indices& derived_indices() const { return derived.indices(); }
  double region_transition_distance() const { return derived.transition_distance(); }  // [m]
  int regions() const { return derived.region_count(); }
  int highest_region_code() const { return derived.highest_region_code(); }
  const std::vector<int>& region_ranks() const { return derived.region_ranks(); }
  const std::vector<region_centroid>& region_centroids() const {
    return derived.region_centroids();
  }

  // Variable grids.
  int variable_grids() const { return variable_grid_count; }
  int first_variable_grid() const { return first_variable_index; }
  const std::vector<int>& readgrid_code_list() const { return readgrid_codes; }

  // SpinUp units (settings/spinup_hrus.h): the class key of every unit of
  // this process's HRU list, by id (element 0 is the placeholder's empty key).
  const std::vector<std::string>& hru_class_keys() const { return spinup.class_keys(); }

 private:
  vegetation_layer_grids vegetation{*this};
  derived_grids derived{*this};
  spinup_hrus spinup{*this};
  external_coupling coupling{*this};
};

// ---- what the parts reach of the settings object ----

inline grid_store& settings_part::store() const { return *settings.store; }
inline DiagStream& settings_part::diag() const { return *settings.diag; }
inline int settings_part::rank() const { return settings.rank; }
inline int settings_part::process_count() const { return settings.process_count; }
inline int settings_part::nrows() const { return settings.nrows; }
inline int settings_part::ncols() const { return settings.ncols; }
inline double settings_part::nodata() const { return settings.nodata; }
inline double settings_part::cellsize() const { return settings.cellsize; }
inline double settings_part::xllcorner() const { return settings.xllcorner; }
inline double settings_part::yllcorner() const { return settings.yllcorner; }
inline int settings_part::first_row() const { return settings.first_row; }
inline int settings_part::last_row() const { return settings.last_row; }
inline void settings_part::held_rows(int& first, int& last) const {
  settings.held_rows(first, last);
}
inline const std::vector<row_strip>& settings_part::strips() const { return *settings.strips; }
inline const grid_matrix& settings_part::zone_grid() const { return *settings.zone_grid; }
inline const grid_matrix& settings_part::elevation() const { return *settings.elevation_grid; }
inline const grid_matrix* settings_part::mpi_regions() const { return settings.mpi_regions; }
inline const grid_matrix* settings_part::rel_cell_area() const { return settings.rel_cell_area; }
inline void settings_part::set_rel_cell_area(const grid_matrix* grid) const {
  settings.rel_cell_area = grid;
}
inline bool settings_part::write_ascii_grids() const { return settings.write_ascii_grids != 0; }
inline bool settings_part::write_double_grids() const { return settings.write_double_grids != 0; }
inline const std::string* settings_part::input_directory() const {
  return settings.input_directory;
}
inline const std::string* settings_part::output_directory() const {
  return settings.output_directory;
}
inline double settings_part::hour_shift() const { return settings.hour_shift; }
inline int settings_part::month_days(int month) const { return settings.month_days[month]; }
inline landuse_table_t& settings_part::landuse_entries() const {
  return settings.landuse_entries;
}
inline const multilayer_table_t& settings_part::multilayer_entries() const {
  return settings.multilayer_entries;
}
inline grid_matrix& settings_part::own_grid(int index) const { return settings.own_grid(index); }
inline stack_matrix& settings_part::own_stack(int key) const { return settings.stacks[key]; }
inline void settings_part::count_registered_grids(int added) const {
  settings.registered_grids += added;
}
inline std::FILE* settings_part::open_control_file(int code, const char* message) const {
  if (!settings.open_control_file())
    fail_fatal(diag(), code, message, settings.control_path, errno_text(errno));
  return settings.control_file();
}
inline void settings_part::close_control_file() const { settings.close_control_file(); }
inline void settings_part::drop_control_file() const { settings.control.reset(); }
inline std::string& settings_part::line_buffer() const { return settings.section_buffer; }
inline void settings_part::report_unreadable_value(std::FILE* file, const std::string& key) const {
  settings.report_unreadable_value(file, key);
}
