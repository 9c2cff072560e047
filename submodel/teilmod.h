// teilmodellklasse: the base of every sub-model module. It fixes how the
// application builds, wires, runs and releases a module: the run's settings
// that every module references, the head of every module section (flow control
// and time interval), the progress line of a step, the floating-point-error
// report, the solar geometry the radiation, evaporation and snow modules use,
// the per-tracer statistics and grids, the ranking of a module's own zone
// grid, and the life-cycle hooks the application calls on every module.
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
struct flow_time_zone_setup;
struct tracer_entry;

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
  // [-] decay over one of this module's own steps (1: no decay). Kept per
  // module: the shared tracer entry holds whatever module set it up last,
  // and modules step at different intervals.
  double decay_factor = 1.0;
};

// Entries of the equation-of-time table: the first day of each month, with
// December before January and January after December.
constexpr int EQUATION_OF_TIME_ENTRIES = 14;

class teilmodellklasse : public modelobject {
 public:
  // settings: the run's settings, read from the control-file copy they
  // name on. missing_section_fatal: 1 for every module but the special
  // output, which passes 0 and stays inactive without its section.
  // zone_table: the zone table of another module that replaces the
  // settings' one for this module (irrigation, groundwater and routing count
  // the subbasins of the unsaturated zone). Without a zone table the module
  // reads nothing and stays inactive. Errors are thrown as int codes.
  teilmodellklasse(DiagStream* diag, const std::string& section, grid_store* store,
                   const settings_context& settings, int substeps, char missing_section_fatal,
                   const zone_table_view* zone_table = nullptr);
  ~teilmodellklasse() override;

  virtual int get_flow_control();
  virtual int get_time_interval();
  virtual int get_substeps();
  virtual void set_substeps(int count);
  virtual void report_fpe(int i1, int i2, int i3, int i4, double a1, double a2, double a3,
                          double a4, double a5);

  // Solar geometry at the settings' location; see submodel/teilmod_solar.h
  // for the kernels.
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

  // ---- life cycle: what the application calls on every module ----
  // Apart from the end of a run the defaults do nothing, so a module
  // overrides only the calls it takes part in; the application keeps the
  // order of the calls.
  // Begin and end of a step, around its sub-step loop.
  virtual void begin_step(const model_date& /*step*/) {}
  virtual void end_step(const model_date& /*step*/) {}
  // Sub-step k (1..get_substeps()) of the soil, surface and groundwater loop.
  virtual void run_substep(const model_date& /*step*/, int /*k*/) {}
  // Writes the buffered output rows (Ctrl-C choice 3 and the release).
  virtual void flush_outputs() {}
  // The end of the run, in place of release: a module that writes no
  // storage-content section just releases. append: an earlier module has
  // started the storage-content file in this run.
  virtual void end_run(int /*append*/) { release(); }
  // True once this module has started the storage-content file in this run;
  // a later writer appends to the file only then, so a stale file from an
  // earlier run is never extended.
  virtual bool storage_section_written() const { return false; }

  // Ranks the zones of "zonegrid_soilmodel" along the row spans of the
  // settings' zone table (collective: process 0 ranks, the others receive
  // the table or process 0's error code).
  void zone_ranking(const grid_matrix*& zone_grid_out, std::vector<zone_record>& zones_out,
                    std::vector<int>& zone_index_out, int& zone_count_out,
                    int& max_zone_code_out);

  // Fills the travel-time zone set-up that every module concentrating runoff
  // shares: "flow_times" from the store, this module's rows, cell weights
  // and sub-step count (each sub-step adds a cell's weight once). The module
  // says whether the flow times are still seconds and whose zone table
  // counts the subbasins; the message texts keep their defaults.
  void fill_flow_time_setup(flow_time_zone_setup& setup, bool convert_seconds,
                            const std::vector<int>& zone_index_in,
                            const std::vector<zone_record>& zones_in, int subbasin_count);

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

  // The application's statistics registry, kept by modules that register
  // statistics of their own.
  statistics_registry* registry = nullptr;
  int registry_size = 0;

 private:
  // Reads a tracer's storage grid from its file (readgrid 1).
  void read_tracer_storage(module_tracer& tracer);
};
