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
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"
#include "modelbase/modelobject.h"
#include "modelbase/zonalstat.h"
#include "settings/mpidivision.h"
#include "settings/settingsblock.h"
#include "settings/zonetable.h"
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
  // SpinUp settings and hydrologic response units: filled by the SpinUp
  // issue; until then it leaves SpinUp off (all three 0) and the list holding
  // only its placeholder element 0.
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
  // Filled by the land-use issue; does nothing until then.
  virtual void update_landuse_parameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                         int dt_minutes);
  virtual bool coupling_active();
  // Filled by the external-coupling issue; does nothing until then.
  virtual void read_coupling_input(int64_t year, int64_t month, int64_t day, int64_t hour);
  virtual std::string get_semaphore_file();
  virtual std::string get_semaphore_target_file();
  virtual std::string get_semaphore_content();
  virtual int64_t get_wait_interval();
  virtual char get_coupling_interval();
  // Filled by the external-coupling issue; do nothing until then.
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
  // Opens the control file and leaves it open for the final stage; the
  // coupling issue adds the reading of "[ExternalCoupling]".
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

  // Zonal statistics of the settings grids, by store index.
  std::map<int, std::vector<zone_record>> statistic_zones;
  std::map<int, std::unique_ptr<zonalstatistic>> statistics;

  // Coupling settings.
  int coupling_mode = 0;
  std::string semaphore_file;
  std::string semaphore_target_file;
  std::string semaphore_content;
  int64_t wait_interval = 100;  // [clock ticks] between polls
  char coupling_interval = 'I';
  int external_time_step = 0;  // [min]
  std::vector<std::string> external_input_names;
};
