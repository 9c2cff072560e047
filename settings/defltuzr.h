// defaultini: the one global-settings object of a run (object name
// "defaults"). It writes the substituted copy of the control file that every
// object reads, reads the global sections (model time, output settings, zone
// grid, elevation model, standard grids), fills the shared grid store with
// the global grids, divides the grid among the processes, ranks the zones and
// hands all of it to the application through export_settings.
//
// The set-up runs in numbered stages: the application calls init_step until
// it reports done, then setup_zonal_statistics, export_settings,
// set_initialized(1) and init_spinup. The object owns every grid it
// registers, the zone table and the division; they live until release().
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"
#include "modelbase/modelobject.h"
#include "modelbase/zonalstat.h"
#include "settings/defltuzr_coupling.h"
#include "settings/mpidivision.h"
#include "settings/settingsblock.h"
#include "settings/zonetable.h"
#include "tables/landuse.h"
#include "tables/multilayer.h"
#include "tables/soiltable.h"
#include "tables/irrigation.h"
#include "settings/vegetation_layers.h"

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

class defaultini : public modelobject {
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
  void export_settings(settings_block& block);
  // Sub-steps per time step from "[soil_surface_groundwater_substeps]" (1
  // when the section is absent).
  int read_substeps();
  // SpinUp settings of "[SpinUp]" and the hydrologic response units of this
  // process (settings/defltuzr_spinup.cpp). Without the section, or with the
  // switch 0, all three are 0 and the list holds only its placeholder
  // element 0. Collective.
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
  // Per-step output of the settings grids by their write codes; until output
  // by write code exists they only keep the date of the step.
  virtual void write_standard_grids(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void write_variable_grids(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void read_radiation_correction_flow_control();
  virtual void read_model_time();
  virtual void read_standard_grids();
  // The six header values of the zone-grid file (entry 1).
  virtual void read_grid_header(int& cols, int& rows, double& xll, double& yll, double& size,
                                double& nodata_value);
  // Filled by the variable-grids issue; does nothing until then.
  virtual void update_periodic_grids(int64_t hour, int64_t day, int64_t month, int64_t year,
                                     int64_t time_step);
  virtual void check_ice_firn_grid();
  virtual double get_max_elevation();
  // Maximum of a store entry's grid over all processes (collective).
  virtual double grid_maximum(int index);
  // The daily land-use update (settings/defltuzr_phenology.cpp): every step
  // the day's temperature sum and the vegetation-period durations, on the
  // last step of a day the dynamic phenology, the parameter grids of the
  // layers and the vegetation-period flags of the store entries.
  virtual void update_landuse_parameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                         int dt_minutes);
  // External coupling (settings/defltuzr_coupling.cpp): the switch, the
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
  int layer_count() const { return landuse_layer_count; }
  const grid_matrix* ice_firn() const { return ice_firn_grid; }

 protected:
  // The class tables, read from the open control file.
  virtual void read_multilayer_landuse(int mode);
  virtual void read_landuse_table(int mode);
  virtual void read_soil_table(int mode);
  // Stage hooks of later issues (irrigation table, code checks, variable and
  // derived grids, coupling); each does nothing until its issue fills it.
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
  void run_stage();
  void stage_copy_and_base_settings();
  void stage_zone_grid_and_division();
  void stage_zone_table_and_distribution();
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

  // Grids registered by this object, by store index (map nodes keep their
  // addresses, so the store may point at them).
  std::map<int, grid_matrix> grids;
  const grid_matrix* zone_grid = nullptr;
  const grid_matrix* elevation_grid = nullptr;
  const grid_matrix* ice_firn_grid = nullptr;
  std::vector<grid_matrix*> landuse_layers{nullptr};
  int landuse_layer_count = 0;
  double max_elevation = 0;  // [m]

  // ---- vegetation layers, irrigation table, code checks ----
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
  const vegetation_layer_set& vegetation_layers() const { return vegetation; }
  const landuse_table_t& landuse_classes() const { return landuse_entries; }
  const multilayer_table_t& multilayer_classes() const { return multilayer_entries; }
  const irrigation_table_t& irrigation_classes() const { return irrigation_entries; }
  int irrigation_switch_value() const { return irrigation_switch; }

 private:
  void dynamic_phenology(int julian_day, int layers);
  // Day of the year with the model time's month lengths; throws 150 above 366.
  int model_day_of_year(int64_t day, int64_t month) const;
  void update_layer_parameters(int layers);
  void count_vegetation_duration(int layers);
  void raise_vegetation_flags();
  void update_temperature_history();
  // A grid of the parameter builder: the existing grid of that name, or a
  // new one over the halo band registered at the first free entry.
  grid_matrix* parameter_grid(const std::string& grid_name, int& index, unsigned write_code = 0);
  void make_start_times_stack(int layer);
  void fill_start_times(int layer, int start_day_of_year);
  void fill_layer_parameters(int layer);
  void fill_layer_grids(int first, int last);
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
  // Writes the start times of layer 1 and frees the vegetation state (release).
  void release_vegetation_layers();
  int halo_first_row() const;
  int halo_last_row() const;
  bool own_valid_cell(int row, int col) const;

  vegetation_layer_set vegetation;
  irrigation_table_t irrigation_entries;
  std::map<int, stack_matrix> stacks;  // stacks registered by this object, by store index
  grid_matrix* soil_type_grid = nullptr;
  int available_soil_moisture_index = 0;
  int hydraulic_conductivity_index = 0;
  int fillable_porosity_index = 0;

  // Zone table (stage 7), region table and the division of the grid (stage 6).
  zone_table zones_table;
  std::vector<int> region_code_rank;
  std::vector<region_centroid> region_table;
  int region_count = 0;
  int max_region_code = 0;
  mpi_division division;
  std::vector<int64_t> cell_counts;
  std::vector<halo_run> halo_send_list;
  std::vector<halo_run> halo_receive_list;

  // ---- variable and derived grids, per-step output ----
 public:
  // Sets a cell to the mean of the valid ones among its eight neighbours
  // inside the grid and returns the mean; used receives their number (0:
  // the cell is left as it is and the result is nodata).
  virtual double fill_from_neighbours(int row, int col, grid_matrix& grid, int& used);
  // Process 0 ranks the codes of the region grid of store entry
  // region_index and finds the regions' centroids; every process then holds
  // the count, the code-to-rank table and the centroids. Collective.
  virtual void rank_region_grid(int region_index);
  // Process 0 fills the region and weight grids of the transition between
  // regions; the other processes return at once.
  virtual void compute_region_weights();

  // Store indices of the derived grids (0 when absent).
  struct derived_grid_indices {
    int coord_x = 0;
    int coord_y = 0;
    int cell_size_x = 0;
    int cell_size_y = 0;
    int rel_cell_area = 0;
    int slope = 0;
    int aspect = 0;
    int regions[4] = {0, 0, 0, 0};  // [1] "regression_regions", [2], [3]
    int weights[4] = {0, 0, 0, 0};  // [1] "regression_weights1", [2], [3]
  };
  const derived_grid_indices& derived_grids() const { return derived; }
  int variable_grids() const { return variable_grid_count; }
  int first_variable_grid() const { return first_variable_index; }
  const std::vector<int>& readgrid_code_list() const { return readgrid_codes; }
  double region_transition_distance() const { return transition_distance; }  // [m]
  int regions() const { return region_count; }
  int highest_region_code() const { return max_region_code; }
  const std::vector<int>& region_ranks() const { return region_code_rank; }
  const std::vector<region_centroid>& region_centroids() const { return region_table; }

 private:
  // Registers a new grid of this object at index with write code 0 over
  // rows first..last, every cell nodata.
  grid_matrix& create_derived_grid(int index, const std::string& file_name,
                                   const std::string& grid_name, int first, int last);
  // Writes a derived grid once under its file name (units digit 1 for one
  // output_grid call).
  void write_derived_grid_once(int index);
  // The file name derived grids are named after: the names read from the
  // control file for the zone grid and the elevation model (the same on
  // every process), the registered file name otherwise.
  std::string derived_base_file(int index) const;
  // Runs work on process 0; its thrown code (after its FATAL entry) is
  // thrown on every process.
  void on_process_0_agreed(const std::function<void()>& work);
  // Process 0 has computed grid over all rows: own cells go to their
  // owners, then the halo cells are exchanged.
  void hand_out_from_process_0(int index);
  void set_region_weights_on_process_0(int region_index, double dc);

  derived_grid_indices derived;
  int cell_size_x_given = 0;
  int cell_size_y_given = 0;
  int rel_cell_area_given = 0;
  double transition_distance = 0;  // [m]

  // Zonal statistics of the settings grids, by store index.
  std::map<int, std::vector<zone_record>> statistic_zones;
  std::map<int, std::unique_ptr<zonalstatistic>> statistics;

  // ---- SpinUp and hydrologic response units ----
 public:
  // The class key of every unit of this process's HRU list, by id (element
  // 0 is the placeholder's empty key).
  const std::vector<std::string>& hru_class_keys() const { return hru_keys; }

 private:
  // Builds the units from the class grids of the section's grid lines.
  void make_hrus_from_classes(int grid_count, std::vector<hru_entry>& list);
  // Takes the units of the standard grid "HydrologicResponseUnits".
  void make_hrus_from_grid(std::vector<hru_entry>& list);
  // Registers and allocates an HRU grid (all cells nodata) at the first free
  // store entry after after_index; full_message names the grid in the
  // entry of a full store.
  int register_hru_grid(int after_index, const std::string& file_name,
                        const std::string& grid_name, const char* full_message);
  // A new unit for key at the cell, or the id of the known one.
  int64_t hru_id(const std::string& key, int row, int col, std::vector<hru_entry>& list,
                 bool& is_new);
  // Writes both grids per process, gathers them and writes them again on
  // process 0.
  void write_hru_grids(int hru_index, const std::string& hru_file, int master_index,
                       const std::string& master_file);
  std::vector<std::string> hru_keys{std::string()};
  std::map<std::string, int64_t> hru_ids_by_key;

  // ---- external coupling ----
  // Settings of "[ExternalCoupling]", the resolved grids and accumulators.
  coupling_settings coupling;
  // Frees the lists and accumulators (release).
  void release_coupling();
  // Reads the lists of input grids, output grids and statistics.
  void read_coupling_lists(std::FILE* file, std::string& line);
  void write_coupling_grids(int64_t day, int64_t month, int64_t year, bool day_flag,
                            bool month_flag, bool year_flag);
  void write_coupling_statistics();
};
