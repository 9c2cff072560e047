// The application object: simulates one control file. init builds the
// settings object and every module in a fixed order and wires them (a getter
// of one module to a setter of another as soon as both exist); run is the
// time loop; ClearMemory flushes, writes the storage contents and releases
// everything. main creates one object per control file.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/signals.h"
#include "submodel/teilmod.h"
#include "modelbase/gridstore.h"
#include "modelbase/memhandling.h"
#include "modelbase/zonalstat.h"
#include "settings/settingsblock.h"

class DiagStream;
class defaultini;
class meteointerpol;
class precicorrclass;
class RegionalSuperposition;
class expokorrklasse;
class verdunstungsmodellklasse;
class schneemodellklasse;
class interzeptionsmodellklasse;
class siltingupclass;
class unsatzonmodellklasse;
class surfaceroutingclass;
class irrigationclass;
class gwflowclass;
class abflussmodellklasse;
class SpecialOutputClass;
class tracer_ini_class;
struct tracer_entry;

// The dump options of the command line, handed to the unsaturated zone.
struct dump_options {
  bool dumpmode = false;
  bool close_after_dump = false;
  bool repair_after_dump = false;
  int64_t max_dump_files = 0;
};

// Reads "-dumpmode[:N]", "-closeAfterDump" and "-repairAfterDump" from the
// arguments 1..argc-1 (an INFO entry for a given maximum; code 1061 for a
// maximum that is no number).
dump_options read_dump_options(DiagStream& diag, int argc, char** argv);

class ModellApplication : public memory_handling, public signal_receiver {
 public:
  ModellApplication();
  ~ModellApplication() override;

  // Builds the run from the control file named by argv[control_index].
  void init(DiagStream* diag_stream, int argc, char** argv, int control_index);
  // The time loop; returns the Ctrl-C state at its end (0, or 99 after
  // choice 1). Ctrl-C choice 2 ends the process with status 98.
  virtual int run();
  // Writes the end note, flushes, writes the storage contents and releases.
  virtual void ClearMemory();

  // ---- coupling waits and semaphore file ----
  // Busy-waits until the processor clock has advanced by ticks clock ticks.
  virtual void Wait(int64_t ticks);
  // Polls every ticks clock ticks until file_name can be opened (it is
  // neither read nor removed) and returns 1. A Ctrl-C meanwhile asks whether
  // to go on; choice 2 throws 98.
  virtual int WaitForFile(const std::string& file_name, int64_t ticks);
  // Writes content into "Velmo_Orv_temporary_semaphore.file" in the working
  // directory and renames it to target_name, so that the partner sees only
  // a complete file. Any failure is fatal 18.
  void WriteSemaphoreFile(const std::string& target_name, const std::string& content);

  // Sets the floating-point-error flags of the modules once per application;
  // true when this call set them. Called from the SIGFPE handler.
  bool flag_floating_point_error() override;
  // The modules' floating-point-error flags in the order the SIGFPE handler
  // sets them (radiation correction, evapotranspiration, snow, interception,
  // unsaturated zone, irrigation, groundwater, routing) and the unsaturated
  // zone's flag, which guards against a second report.
  void set_fpe_flags(std::vector<volatile std::sig_atomic_t*> flags_in_order,
                     volatile std::sig_atomic_t* unsat_flag);

 private:
  void build_settings();
  void build_meteo_inputs();
  void build_modules(int argc, char** argv);
  void wire_after_routing();
  void collect_fpe_flags();

  // Time loop steps.
  void agree_on_ctrl_c();
  void end_with_this_step();
  void flush_all_outputs();
  void current_date(int64_t& hour, int64_t& day, int64_t& month, int64_t& year);
  void run_meteo_inputs(int64_t hour, int64_t day, int64_t month, int64_t year);
  void run_vertical_balance(int64_t hour, int64_t day, int64_t month, int64_t year);
  void advance_inputs();
  void exchange_coupling_input(int64_t hour, int64_t day, int64_t month, int64_t year);
  void exchange_coupling_output();
  void repeat_for_spinup(int& run_counter);
  // ---- temperature pre-SpinUp ----
  // One temperature-only pass over the period before the main run
  // (app/modapuzr_prespinup.cpp); throws 1035 without a first input named
  // "temperature".
  void TemperaturePreSpinUp();
  void run_loop();

  // Release steps.
  void release_modules();
  void delete_modules();

  // Fields, as the set-up fills them.
  int64_t last_exchange_hour = -1, last_exchange_day = -1, last_exchange_month = -1,
          last_exchange_year = -1;
  char coupling_interval = 'I';
  int meteo_index = 0;
  std::vector<std::string> meteo_names{std::string()};  // 1..meteo_count
  int meteo_count = 0;
  int radius_warnings = 0;
  double min_to_int_end = 0;  // [min]
  int16_t end_of_run = 0;
  char interception_before_snow = 0;
  std::string control_file_name;
  std::string copy_name;  // the substituted copy every object reads
  int64_t step_day = 0, step_month = 0, step_hour = 0, step_year = 0;

  settings_block settings;
  submodel_settings common;        // what every module receives
  submodel_settings unsat_common;  // the same with the unsaturated zone's zone table

  statistics_registry registry;
  int registry_size = STATISTICS_REGISTRY_SIZE;
  grid_store store;
  int free_store_index = 0;

  int tracer_count = 0;
  tracer_entry* tracer_list = nullptr;

  int spinup_switch = 0;
  int pre_spinup = 0;
  int repeat_count = 0;
  std::vector<hru_entry> hru_list;

  int substeps = 1;

  std::unique_ptr<defaultini> settings_object;
  std::vector<meteointerpol*> meteo_inputs{nullptr};  // 1..meteo_count, owned
  std::unique_ptr<precicorrclass> precipitation_correction;
  std::unique_ptr<RegionalSuperposition> superposition;
  std::unique_ptr<schneemodellklasse> snow;
  std::unique_ptr<interzeptionsmodellklasse> interception;
  std::unique_ptr<siltingupclass> silting_up;
  std::unique_ptr<surfaceroutingclass> surface_routing;
  std::unique_ptr<unsatzonmodellklasse> unsat;
  std::unique_ptr<irrigationclass> irrigation;
  std::unique_ptr<abflussmodellklasse> routing;
  std::unique_ptr<verdunstungsmodellklasse> evapotranspiration;
  std::unique_ptr<expokorrklasse> radiation_correction;
  std::unique_ptr<gwflowclass> groundwater;
  std::unique_ptr<SpecialOutputClass> special_output;
  std::unique_ptr<tracer_ini_class> tracer_settings;

  // The modules' floating-point-error flags in the order the handler sets
  // them; the unsaturated zone's flag guards against a second report.
  std::vector<volatile std::sig_atomic_t*> module_fpe_flags;
  volatile std::sig_atomic_t* unsat_fpe_flag = nullptr;
  volatile std::sig_atomic_t own_fpe_flag = 0;
};
