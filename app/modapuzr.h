// The application object: simulates one control file. init builds the
// settings object and every module in a fixed order and wires them (a getter
// of one module to a setter of another as soon as both exist), both as
// tables of steps; run is the time loop; ClearMemory flushes, writes the
// storage contents and releases everything. The time loop and the release
// reach the modules through the life-cycle hooks of teilmodellklasse, over
// ordered lists of the modules. main creates one object per control file.
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
#include "modelbase/settings_context.h"
#include "modelbase/zonalstat.h"

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

// The objects that exist among the given ones, in the given order.
template <class Base, class... Objects>
std::vector<Base*> existing(const std::unique_ptr<Objects>&... objects) {
  std::vector<Base*> list;
  ((objects ? list.push_back(objects.get()) : void()), ...);
  return list;
}

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
  // The set-up steps after the meteorological inputs, one row per object.
  void build_modules(int argc, char** argv);
  // The connections that need the channel-routing module, one row each.
  void wire_after_routing();
  // A module built with the common arguments and the extra ones of its
  // constructor into slot; a non-zero status ends the set-up.
  template <class Module, class... Extra>
  Module& build_module(std::unique_ptr<Module>& slot, const char* section, Extra&&... extra);
  void list_modules();
  void collect_fpe_flags();

  // Time loop steps.
  void agree_on_ctrl_c();
  void end_with_this_step();
  void flush_all_outputs();
  // The date of the current record of the first meteorological input; all
  // -9999 without one.
  model_date current_date();
  void run_meteo_inputs(const model_date& step);
  void run_vertical_balance(const model_date& step);
  void advance_inputs();
  void exchange_coupling_input(const model_date& step);
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

  // The meteorological inputs built so far (1..n).
  int meteo_count() const { return static_cast<int>(meteo_inputs.size()) - 1; }

  // Fields, as the set-up fills them.
  model_date last_exchange{-1, -1, -1, -1};  // of the last coupling input exchange
  char coupling_interval = 'I';
  int meteo_index = 0;
  int16_t end_of_run = 0;
  char interception_before_snow = 0;
  std::string control_file_name;
  model_date step_date;  // of the current step

  // The settings of the run, owned by the settings object; every object
  // references them (the control-file copy, the meteorological inputs'
  // names, the output switches, SpinUp, ...). None before the settings
  // object has handed them over.
  const settings_context* settings = nullptr;
  // The unsaturated zone's zone table, which irrigation, groundwater and
  // routing read in place of the settings' one.
  zone_table_view unsat_zone_table;

  statistics_registry registry;
  int registry_size = STATISTICS_REGISTRY_SIZE;
  grid_store store;
  int free_store_index = 0;

  int tracer_count = 0;
  tracer_entry* tracer_list = nullptr;

  // SpinUp: the switch and the units are in the settings (the settings
  // reference this list).
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

  // The sub-model modules but the special output, in the order in which the
  // Ctrl-C choices set their end date and flush them: radiation correction,
  // regional superposition, evapotranspiration, snow, interception,
  // silting-up, irrigation, unsaturated zone, surface routing, groundwater,
  // routing. Not owned; listed once the set-up is complete.
  std::vector<teilmodellklasse*> modules;
  // The sub-step loop in its order: unsaturated zone, surface routing,
  // evapotranspiration, groundwater, then the special output, which samples
  // every sub-step; all of them begin and end every step in this order.
  std::vector<teilmodellklasse*> substep_modules;

  // The modules' floating-point-error flags in the order the handler sets
  // them; the unsaturated zone's flag guards against a second report.
  std::vector<volatile std::sig_atomic_t*> module_fpe_flags;
  volatile std::sig_atomic_t* unsat_fpe_flag = nullptr;
  volatile std::sig_atomic_t own_fpe_flag = 0;
};
