// teilmodellklasse: the base of every sub-model module. It fixes how the
// application builds, wires, runs and releases a module: the shared settings
// handed to every constructor, the head of every module section (flow control
// and time interval), the progress line of a step, the floating-point-error
// report, the solar geometry the radiation, evaporation and snow modules use,
// the per-tracer statistics and grids, and the ranking of a module's own zone
// grid.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"
#include "modelbase/modelobject.h"
#include "modelbase/zonalstat.h"

class DiagStream;
class grid_store;
struct settings_block;
struct tracer_entry;
struct landuse_entry;
struct soil_entry;
struct multilayer_landuse_entry;

// What the application hands to every sub-model constructor: geometry, the
// process's share of the grid, the zone table, model time, output settings
// and tables. Pointers are not owned. Modules that rank their own zone grid
// pass their zone table on to irrigation, groundwater and routing by copying
// this block and replacing zone_index, zones, zone_count and max_zone_code.
struct submodel_settings {
  int report_interval = 1;          // [steps] between progress lines
  double latitude = 0;              // [deg] of the basin
  double longitude = 0;             // [deg]
  double reference_meridian = 0;    // [deg] of the time zone
  double min_to_int_end = 0;        // [min] from the hour of the data to the end of the step
  double xllcorner = 0;             // [m]
  double yllcorner = 0;             // [m]
  double cellsize = 0;              // [m]
  double nodata = NODATA;
  int selected_zone_count = 0;
  std::vector<int>* selected_zones = nullptr;  // codes 1..n; element 0 receives n
  std::vector<int>* zone_index = nullptr;      // per zone code its index; none: inactive module
  std::vector<zone_record>* zones = nullptr;   // 0..zone_count
  std::vector<row_strip>* strips = nullptr;    // 0..nrows
  int zone_count = 0;
  int max_zone_code = 0;
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;  // of this process's band, halo row included
  int last_row = 0;
  int64_t end_hour = 0, end_day = 0, end_month = 0, end_year = 0;
  double hour_offset = 0;  // [h] added by the radiation correction to the hour of a step
  const std::vector<landuse_entry>* landuse_table = nullptr;
  const std::vector<soil_entry>* soil_table = nullptr;
  const std::vector<multilayer_landuse_entry>* multilayer_table = nullptr;
  char write_ascii_grids = 0;   // "WriteAsciiGrids"
  char write_double_grids = 0;  // "WriteDoubleGrids"
  const std::string* input_directory = nullptr;
  const std::string* output_directory = nullptr;
  const std::vector<int64_t>* cells_per_process = nullptr;
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;
  int spinup_switch = 0;
  const std::vector<hru_entry>* hru_list = nullptr;
};

// The block for a module from the settings object's block and the
// application's SpinUp data. The per-process cell counts are left to the
// caller.
// The model-object part of a sub-model's settings (also used by the
// meteorological objects, which derive from modelobject directly).
modelobject_args submodel_object_args(DiagStream* diag, const std::string& control_file,
                                      const submodel_settings& settings);

submodel_settings submodel_settings_from(settings_block& block, int spinup_switch,
                                         const std::vector<hru_entry>* hru_list);

// Per tracer of a module: its zone records, statistic and grids. The store
// entries point at storage and flux, so a module_tracer must not be copied
// once registered (the vector of them is sized once).
struct module_tracer {
  std::vector<zone_record> zones;  // 0..zone_count: codes and shares of the module's zones
  std::unique_ptr<zonalstatistic> statistic;
  std::string statistics_file;
  std::string storage_file;  // file name of the concentration-storage grid
  int storage_index = 0;     // grid-store index of the storage grid
  int flux_index = 0;        // grid-store index of the flux grid
  grid_matrix storage;       // "concstor_tracer_%d_%s"
  grid_matrix flux;          // "concflux_tracer_%d_%s"
};

// Entries of the equation-of-time table: the first day of each month, with
// December before January and January after December.
constexpr int EQUATION_OF_TIME_ENTRIES = 14;

class teilmodellklasse : public modelobject {
 public:
  // missing_section_fatal: 1 for every module but the special output, which
  // passes 0 and stays inactive without its section. With no zone index
  // table in the settings the module reads nothing and stays inactive.
  // Errors are thrown as int codes.
  teilmodellklasse(DiagStream* diag, const std::string& section, const std::string& control_file,
                   grid_store* store, const submodel_settings& settings, int substeps,
                   char missing_section_fatal);
  ~teilmodellklasse() override;

  virtual int get_flow_control();
  virtual int get_time_interval();
  virtual int get_substeps();
  virtual void set_substeps(int count);
  virtual void report_fpe(int i1, int i2, int i3, int i4, double a1, double a2, double a3,
                          double a4, double a5);

  // Solar geometry; see app/teilmod_solar.h for the kernels.
  virtual double solar_declination(int day, int month);  // [deg]
  virtual double equation_of_time(int day, int month);   // [h]
  // Elevation above the horizon by day, depression below it at night [deg].
  virtual double sun_elevation(int day, int month, int year, double latitude_deg,
                               double longitude_deg, double hour);
  // Returns the azimuth before the afternoon mirroring [rad]; azimuth gets it
  // counted from north through east, elevation the elevation [rad].
  virtual double sun_azimuth(int day, int month, double& azimuth, double& elevation,
                             double latitude_deg, double longitude_deg, double hour);
  virtual double incidence_cosine(double azimuth1, double zenith1, double azimuth2,
                                  double zenith2);
  virtual void sunrise_sunset(int day, int month, double& sunrise, double& sunset,
                              double latitude_deg, double longitude_deg);
  // Daylight and night shares of the current step; returns the night flag.
  virtual int daylight_fraction();

  virtual void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                            statistics_registry* registry, int registry_size);
  virtual double tracer_mass(double concentration, double volume);
  virtual double mix_concentrations(double c1, double c2, double volume1, double volume2);
  virtual double enrich_concentration(double concentration, double volume, double leaving);
  virtual void free_tracer_statistics();

  // Base part of a step: stores the date and writes the progress line.
  virtual void time_step(int64_t hour, int64_t day, int64_t month, int64_t year);

  // Ranks the zones of "zonegrid_soilmodel" on process 0 and broadcasts the
  // table (collective).
  void zone_ranking(const grid_matrix*& zone_grid_out, std::vector<zone_record>& zones_out,
                    std::vector<int>& zone_index_out, int& zone_count_out,
                    int& max_zone_code_out);

  // The SIGFPE handler marks the module through this flag.
  volatile std::sig_atomic_t* fpe_flag_address() { return &fpe_flag; }
  int get_night_flag() const { return night_flag; }
  double get_daylight_share() const { return daylight_share; }
  double get_night_share() const { return night_share; }
  double get_dark_hours_start() const { return dark_hours_start; }
  double get_dark_hours_end() const { return dark_hours_end; }
  double get_sunrise_hour() const { return sunrise_hour; }
  double get_sunset_hour() const { return sunset_hour; }
  double get_steps_per_day() const { return steps_per_day; }
  double get_hour_offset() const { return hour_offset; }
  int get_tracer_count() const { return tracer_count; }

 protected:
  int tracer_count = 0;
  tracer_entry* tracer_list = nullptr;  // 1-based, shared
  std::vector<module_tracer> tracers;   // 1..tracer_count

  int flow_control = 0;  // 0 inactive; above 0 active, often the method
  int readgrid = 0;      // 1: storage grids start from files
  volatile std::sig_atomic_t fpe_flag = 0;  // 0 none, 1 signalled, 2 reported
  double time_interval = 0;                 // [min]
  double steps_per_day = 0;
  int substeps = 1;

  double latitude = 0;            // [deg]
  double longitude = 0;           // [deg]
  double reference_meridian = 0;  // [deg]

  // Solar state of the current step, kept by daylight_fraction.
  double daylight_share = 0;
  double night_share = 0;
  double dark_hours_start = 0;  // [h]
  double dark_hours_end = 0;    // [h]
  int night_flag = 0;
  double sunrise_hour = 0;
  double sunset_hour = 0;

  double pi = 0;
  double degrees_per_radian = 0;
  double equation_of_time_table[EQUATION_OF_TIME_ENTRIES] = {};  // [min]

  const grid_matrix* zone_grid = nullptr;  // grid of store entry 1
  double hour_offset = 0;                  // [h]

  // The application's statistics registry, kept by modules that register
  // statistics of their own.
  statistics_registry* registry = nullptr;
  int registry_size = 0;

 private:
  // Reads a tracer's storage grid from its file (readgrid 1).
  void read_tracer_storage(module_tracer& tracer);
  // Process 0's part of zone_ranking on the whole zone grid.
  void rank_zone_cells(const grid_matrix& grid, const grid_matrix* areas, const std::string& file,
                       std::vector<zone_record>& zones_out, std::vector<int>& zone_index_out,
                       int& zone_count_out, int& max_zone_code_out);
};
