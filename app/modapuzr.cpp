// Set-up of the application: the settings object, the meteorological inputs
// and the modules in their fixed order, each wired to the others as soon as
// both ends of a connection exist. Every process builds the same objects in
// the same order, which the collective operations inside the constructors
// rely on.
#include "app/modapuzr.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "modelbase/diagstream.h"
#include "app/teilmod_special.h"
#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "meteo/superposition.h"
#include "routing/abfluss.h"
#include "routing/surfrout.h"
#include "settings/defltuzr.h"
#include "settings/defltuzr_tracer.h"
#include "snow/snowmod.h"
#include "soilwater/gwflow.h"
#include "soilwater/siltingup.h"
#include "soilwater/unsatzon.h"
#include "vertical/etpetr.h"
#include "vertical/expokorr.h"
#include "vertical/interzep.h"
#include "vertical/irrigate.h"

namespace {

constexpr size_t FILE_NAME_LIMIT = 1200;  // [characters] file names throughout the system
constexpr size_t DUMP_VALUE_LIMIT = 999;  // [characters] of a "-dumpmode:" value

// A non-zero constructor status ends the set-up with that code.
void check_status(int status) {
  if (status != 0) throw status;
}

// A module counts as active when its flow-control value is above 0.
template <class Module>
bool is_active(const std::unique_ptr<Module>& module) {
  return module && module->get_flow_control() > 0;
}

}  // namespace

dump_options read_dump_options(DiagStream& diag, int argc, char** argv) {
  dump_options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.find("-dumpmode") != std::string::npos) {
      const size_t colon = argument.find(':');
      if (colon != std::string::npos) {
        const std::string value = argument.substr(colon + 1);
        if (!value.empty()) {
          if (value.size() > DUMP_VALUE_LIMIT)
            fail_fatal(diag, 1061, "Error in argument list: the number of max dumpfiles given in "
                                   "argument ", argument, " is longer than 999 characters");
          errno = 0;
          char* rest = nullptr;
          const long parsed = std::strtol(value.c_str(), &rest, 10);
          const int error = errno;
          const bool overflow = (parsed == LONG_MAX || parsed == LONG_MIN) && error == ERANGE;
          if (overflow || (error != 0 && parsed == 0) || rest == value.c_str())
            fail_fatal(diag, 1061, "Error (C-lib errno: ", error,
                       ") in argument list: invalid number of max dumpfiles given in argument ",
                       argument, ", stopped at ", std::string(rest), " LONG_MAX is defined as",
                       static_cast<int64_t>(LONG_MAX));
          options.max_dump_files = parsed;
        }
        // An empty value leaves the maximum as it was.
        diag_entry(diag, "INFO: max dumpfiles given in argument ", argument, " read as ",
                   options.max_dump_files, " (read as a decimal long integer)");
      }
      options.dumpmode = true;
    } else if (argument.find("-closeAfterDump") != std::string::npos) {
      options.close_after_dump = true;
    } else if (argument.find("-repairAfterDump") != std::string::npos) {
      options.repair_after_dump = true;
    }
  }
  return options;
}

ModellApplication::ModellApplication() = default;

// The modules are released by ClearMemory; what is left after a failed
// set-up goes with the object.
ModellApplication::~ModellApplication() {
  for (meteointerpol* input : meteo_inputs) delete input;
}

void ModellApplication::init(DiagStream* diag_stream, int argc, char** argv, int control_index) {
  diag = diag_stream;
  name = "ModellApplication";
  try {
    write_source_banner(*diag, "modapuzr", __DATE__, __TIME__);
    control_file_name = argv[control_index];
    if (control_file_name.size() > FILE_NAME_LIMIT)
      fail_fatal(*diag, 28, "control file name longer than 1200 characters: ", control_file_name);
    for (int i = 1; i <= 1000; ++i) {
      store[i].levels = 1;
      store[i].step_counter = 1.0;
    }
    registry.records.assign(static_cast<size_t>(STATISTICS_REGISTRY_SIZE) + 1, {});
    registry_size = STATISTICS_REGISTRY_SIZE;
    build_settings();
    build_meteo_inputs();
    build_modules(argc, argv);
    list_modules();
    collect_fpe_flags();
    diag_entry(*diag, "end of initialization reached...");
    initialized_flag = 1;
  } catch (int) {
    diag_entry(*diag, "FATAL: exceptions in ModellApplication::init() caught!");
    throw;
  }
}

void ModellApplication::build_settings() {
  unsigned status = 0;
  settings_object = std::make_unique<defaultini>(status, diag, control_file_name, &registry,
                                                 registry_size, 2, &store);
  check_status(static_cast<int>(status));
  bool done = false;
  while (!done) settings_object->init_step(done);
  settings_object->setup_zonal_statistics();
  settings = &settings_object->export_settings();
  settings_object->set_initialized(1);
  // The settings keep the switch and refer to the units of this list.
  int spinup_switch = 0;
  settings_object->init_spinup(spinup_switch, pre_spinup, repeat_count, hru_list);
}

void ModellApplication::build_meteo_inputs() {
  meteo_inputs.assign(static_cast<size_t>(settings->meteo_count) + 1, nullptr);
  for (meteo_index = 1; meteo_index <= meteo_count(); ++meteo_index) {
    free_store_index = 0;
    for (int i = 1; i <= 999 && free_store_index == 0; ++i)
      if (!store[i].grid_name) free_store_index = i;
    if (free_store_index == 0)
      fail_fatal(*diag, 12, "no more free grids in memeory, (max. ", 1000, ")!");
    int status = 0;
    const std::string& section = settings->meteo_names[static_cast<size_t>(meteo_index)];
    meteo_inputs[static_cast<size_t>(meteo_index)] = new meteointerpol(
        status, diag, &registry, registry_size, section, &store, *settings, free_store_index);
    check_status(status);
    meteointerpol& input = *meteo_inputs[static_cast<size_t>(meteo_index)];
    input.set_radius_warnings(settings->radius_warnings);
    input.set_hour_shift(settings->min_to_int_end / 60.0);
    if (section.find("irrigation_amounts") != std::string::npos) input.set_radius_warnings(0);
    input.set_initialized(1);
  }
}

template <class Module, class... Extra>
Module& ModellApplication::build_module(std::unique_ptr<Module>& slot, const char* section,
                                        Extra&&... extra) {
  int status = 0;
  slot = std::make_unique<Module>(status, diag, &registry, registry_size, section, &store,
                                  *settings, std::forward<Extra>(extra)...);
  check_status(status);
  return *slot;
}

void ModellApplication::build_modules(int argc, char** argv) {
  using app = ModellApplication;
  struct command_line {
    int argc;
    char** argv;
  };
  struct setup_step {
    const char* what;
    void (*run)(app& a, const command_line& args);
  };
  // Strictly in this order: the constructors are collective, and each step
  // connects what exists from then on.
  static constexpr setup_step steps[] = {
      {"tracer settings",
       [](app& a, const command_line&) {
         int status = 0;
         a.tracer_settings = std::make_unique<tracer_ini_class>(status, a.diag, *a.settings,
                                                                a.tracer_count, a.tracer_list);
         check_status(status);
         a.tracer_settings->set_initialized(1);
       }},
      {"regional superposition, which throws its own errors",
       [](app& a, const command_line&) {
         a.superposition = std::make_unique<RegionalSuperposition>(
             a.diag, &a.registry, a.registry_size, "RegionalSuperposition", &a.store,
             *a.settings);
       }},
      {"precipitation correction, on the meteorological inputs",
       [](app& a, const command_line&) {
         int status = 0;
         const settings_context& s = *a.settings;
         a.precipitation_correction = std::make_unique<precicorrclass>(
             status, a.diag, &a.meteo_inputs, &s.meteo_names, s.meteo_count, &a.store, s);
         check_status(status);
         a.precipitation_correction->set_max_elevation(a.settings_object->get_max_elevation());
         a.precipitation_correction->set_initialized(1);
       }},
      {"radiation correction",
       [](app& a, const command_line&) {
         a.build_module(a.radiation_correction, "radiation_correction").set_initialized(1);
       }},
      {"evapotranspiration",
       [](app& a, const command_line&) {
         a.build_module(a.evapotranspiration, "evapotranspiration")
             .set_radiation_correction(a.radiation_correction->get_radiation_correction());
       }},
      {"snow",
       [](app& a, const command_line&) {
         schneemodellklasse& built = a.build_module(a.snow, "snow_model");
         built.set_radiation_correction(a.radiation_correction->get_radiation_correction());
         a.evapotranspiration->set_solid_snow_storage(built.get_solid_snow_storage());
         a.evapotranspiration->set_snow_method(is_active(a.snow) ? built.get_method() : 0);
         a.evapotranspiration->set_initialized(1);
       }},
      {"interception",
       [](app& a, const command_line&) {
         interzeptionsmodellklasse& built = a.build_module(a.interception, "interception_model");
         a.interception_before_snow =
             static_cast<char>(is_active(a.interception) && built.get_method() > 10 ? 1 : 0);
         a.snow->select_input_grid(a.interception_before_snow);
       }},
      {"silting-up",
       [](app& a, const command_line&) {
         a.build_module(a.silting_up, "SiltingUpModel")
             .select_input_grid(a.interception_before_snow);
       }},
      {"sub-steps of the soil, surface and groundwater loop",
       [](app& a, const command_line&) { a.substeps = a.settings_object->read_substeps(); }},
      {"unsaturated zone",
       [](app& a, const command_line&) {
         unsatzonmodellklasse& built = a.build_module(a.unsat, "unsatzon_model", a.substeps);
         built.set_soil_table(a.settings_object->writable_soil_table());
         built.compute_max_pumping();
         built.select_input_grid(a.interception_before_snow);
       }},
      {"dump options",
       [](app& a, const command_line& args) {
         const dump_options dump = read_dump_options(*a.diag, args.argc, args.argv);
         a.unsat->set_dump_options(dump.dumpmode, dump.close_after_dump, dump.repair_after_dump,
                                   dump.max_dump_files);
       }},
      {"lake sections",
       [](app& a, const command_line&) {
         a.evapotranspiration->read_lake_parameters("[lake_model]");
         a.snow->read_lake_parameters("[lake_model]");
       }},
      {"surface routing",
       [](app& a, const command_line&) {
         a.build_module(a.surface_routing, "SurfaceRoutingModel", a.substeps);
       }},
      {"irrigation, with the unsaturated zone's zone table",
       [](app& a, const command_line&) {
         a.unsat_zone_table = a.unsat->get_zone_table();
         a.build_module(a.irrigation, "irrigation", a.unsat_zone_table);
       }},
      {"groundwater",
       [](app& a, const command_line&) {
         gwflowclass& built =
             a.build_module(a.groundwater, "groundwater_flow", a.substeps, a.unsat_zone_table);
         a.evapotranspiration->set_substeps(a.substeps);
         a.unsat->set_groundwater_flag(built.get_flow_control() != 0 ? 1 : 0);
       }},
      {"tracers of the modules that carry them",
       [](app& a, const command_line&) {
         const auto init_tracers = [&a](teilmodellklasse& module) {
           int status = 0;
           module.init_tracers(status, a.tracer_count, a.tracer_list, &a.registry,
                               a.registry_size);
           check_status(status);
         };
         init_tracers(*a.irrigation);
         init_tracers(*a.snow);
         init_tracers(*a.interception);
         a.interception->set_initialized(1);
         init_tracers(*a.silting_up);
         a.silting_up->set_initialized(1);
         init_tracers(*a.groundwater);
         init_tracers(*a.unsat);
         a.unsat->set_initialized(1);
         init_tracers(*a.surface_routing);
         a.surface_routing->set_initialized(1);
       }},
      {"channel routing and the connections that need it",
       [](app& a, const command_line&) {
         a.build_module(a.routing, "routing_model", a.tracer_count, a.tracer_list,
                        a.unsat_zone_table, a.unsat->get_readgrid());
         a.wire_after_routing();
       }},
      {"special output, then the coupling names",
       [](app& a, const command_line&) {
         a.build_module(a.special_output, "special_output", a.substeps);
         a.settings_object->resolve_coupling_names(&a.registry, a.registry_size);
       }},
  };
  const command_line args{argc, argv};
  for (const setup_step& step : steps) step.run(*this, args);
}

void ModellApplication::wire_after_routing() {
  using app = ModellApplication;
  using condition = bool (*)(const app&);
  struct connection {
    condition when;
    void (*connect)(app& a);
  };
  static constexpr condition always = [](const app&) { return true; };
  static constexpr condition surface_routing_active = [](const app& a) {
    return is_active(a.surface_routing);
  };
  static constexpr condition routing_active = [](const app& a) { return is_active(a.routing); };
  static constexpr condition snow_active = [](const app& a) { return is_active(a.snow); };
  // In this order; a condition is asked when its row is reached. readgrid is
  // the unsaturated zone's storage-grid read code.
  static constexpr connection rows[] = {
      {surface_routing_active,
       [](app& a) { a.surface_routing->set_qbb(a.unsat->get_qbb()); }},
      {surface_routing_active,
       [](app& a) { a.surface_routing->set_kelsqd(a.unsat->get_kelsqd()); }},
      {surface_routing_active,
       [](app& a) { a.surface_routing->set_kelsqi(a.unsat->get_kelsqi()); }},
      {surface_routing_active,
       [](app& a) {
         a.surface_routing->read_state(a.unsat->get_storage_file_name(), a.unsat->get_readgrid());
       }},
      {surface_routing_active, [](app& a) { a.unsat->set_surface_routing_active(1); }},
      {routing_active,
       [](app& a) {
         a.routing->set_qg(is_active(a.surface_routing) ? a.surface_routing->get_qg()
                                                        : a.unsat->get_qg());
       }},
      {always, [](app& a) { a.routing->init_lake_links(a.interception_before_snow); }},
      {routing_active, [](app& a) { a.routing->init_routing(); }},
      {routing_active,
       [](app& a) { a.routing->set_irrigation_demand(a.irrigation->get_irrigation_demand()); }},
      {routing_active,
       [](app& a) { a.groundwater->set_riverflow_table(a.unsat->get_riverflow_table()); }},
      {routing_active,
       [](app& a) { a.routing->set_riverflow_table(a.unsat->get_riverflow_table()); }},
      {routing_active,
       [](app& a) {
         a.routing->read_state(a.unsat->get_storage_file_name(), a.unsat->get_readgrid());
       }},
      {routing_active, [](app& a) { a.routing->set_initialized(1); }},
      {always,
       [](app& a) { a.irrigation->set_riverflow_table(a.unsat->get_riverflow_table()); }},
      {always, [](app& a) { a.irrigation->set_qg(a.unsat->get_qg()); }},
      {always, [](app& a) { a.irrigation->link_tracer_storage(); }},
      {always,
       [](app& a) {
         // The reservoirs' share is asked before the rivers'.
         subbasin_flow_arrays* from_reservoirs = a.routing->get_maxirrig_from_reservoirs();
         a.irrigation->set_maxirrig(a.routing->get_maxirrig(), from_reservoirs);
       }},
      {always, [](app& a) { a.irrigation->set_routing_target(a.routing->get_routing_target()); }},
      {always, [](app& a) { a.irrigation->set_abfrel(a.routing->get_abfrel()); }},
      {always, [](app& a) { a.irrigation->set_initialized(1); }},
      {always, [](app& a) { a.groundwater->set_qg(a.unsat->get_qg()); }},
      {always, [](app& a) { a.groundwater->set_initialized(1); }},
      {snow_active, [](app& a) { a.snow->set_qg(a.unsat->get_qg()); }},
      {snow_active,
       [](app& a) { a.snow->set_unsat_glacier_records(a.unsat->get_glacier_records_for_update()); }},
      {snow_active,
       [](app& a) {
         a.snow->read_state(a.unsat->get_storage_file_name(), a.unsat->get_readgrid());
       }},
      {snow_active, [](app& a) { a.snow->set_initialized(1); }},
  };
  for (const connection& row : rows)
    if (row.when(*this)) row.connect(*this);
}

void ModellApplication::list_modules() {
  modules = existing<teilmodellklasse>(radiation_correction, superposition, evapotranspiration,
                                       snow, interception, silting_up, irrigation, unsat,
                                       surface_routing, groundwater, routing);
  substep_modules =
      existing<teilmodellklasse>(unsat, surface_routing, evapotranspiration, groundwater,
                                 special_output);
}

void ModellApplication::collect_fpe_flags() {
  set_fpe_flags({radiation_correction->fpe_flag_address(), evapotranspiration->fpe_flag_address(),
                 snow->fpe_flag_address(), interception->fpe_flag_address(),
                 unsat->fpe_flag_address(), irrigation->fpe_flag_address(),
                 groundwater->fpe_flag_address(), routing->fpe_flag_address()},
                unsat->fpe_flag_address());
}

bool ModellApplication::flag_floating_point_error() {
  volatile std::sig_atomic_t* guard = unsat_fpe_flag != nullptr ? unsat_fpe_flag : &own_fpe_flag;
  if (*guard != 0) return false;
  for (volatile std::sig_atomic_t* flag : module_fpe_flags) *flag = 1;
  own_fpe_flag = 1;
  return true;
}

void ModellApplication::set_fpe_flags(std::vector<volatile std::sig_atomic_t*> flags_in_order,
                                      volatile std::sig_atomic_t* unsat_flag) {
  module_fpe_flags = std::move(flags_in_order);
  unsat_fpe_flag = unsat_flag;
}
