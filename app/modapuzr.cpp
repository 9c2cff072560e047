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
  settings_object->export_settings(settings);
  copy_name = settings.control_file;
  settings_object->set_initialized(1);
  settings_object->init_spinup(spinup_switch, pre_spinup, repeat_count, hru_list);

  meteo_count = settings.meteo_count;
  meteo_names = settings.meteo_names;
  if (meteo_names.empty()) meteo_names.emplace_back();
  radius_warnings = settings.radius_warnings;
  min_to_int_end = settings.min_to_int_end;
  common = submodel_settings_from(settings, spinup_switch, &hru_list);
}

void ModellApplication::build_meteo_inputs() {
  meteo_inputs.assign(static_cast<size_t>(meteo_count) + 1, nullptr);
  for (meteo_index = 1; meteo_index <= meteo_count; ++meteo_index) {
    free_store_index = 0;
    for (int i = 1; i <= 999 && free_store_index == 0; ++i)
      if (!store[i].grid_name) free_store_index = i;
    if (free_store_index == 0)
      fail_fatal(*diag, 12, "no more free grids in memeory, (max. ", 1000, ")!");
    int status = 0;
    const std::string& section = meteo_names[static_cast<size_t>(meteo_index)];
    meteo_inputs[static_cast<size_t>(meteo_index)] =
        new meteointerpol(status, diag, &registry, registry_size, section, copy_name, &store,
                          common, free_store_index);
    check_status(status);
    meteointerpol& input = *meteo_inputs[static_cast<size_t>(meteo_index)];
    input.set_radius_warnings(radius_warnings);
    input.set_hour_shift(min_to_int_end / 60.0);
    if (section.find("irrigation_amounts") != std::string::npos) input.set_radius_warnings(0);
    input.set_initialized(1);
  }
}

void ModellApplication::build_modules(int argc, char** argv) {
  int status = 0;
  // a: tracer settings.
  tracer_settings =
      std::make_unique<tracer_ini_class>(status, diag, copy_name, tracer_count, tracer_list);
  check_status(status);
  tracer_settings->set_initialized(1);

  // b: regional superposition throws its own errors.
  superposition = std::make_unique<RegionalSuperposition>(
      diag, &registry, registry_size, "RegionalSuperposition", copy_name, &store, common,
      settings.region_index, settings.region_count, settings.max_region_code);

  // c: precipitation correction, on the meteorological inputs.
  precipitation_correction = std::make_unique<precicorrclass>(
      status, diag, &meteo_inputs, &meteo_names, meteo_count, copy_name, &store, common);
  check_status(status);
  precipitation_correction->set_max_elevation(settings_object->get_max_elevation());
  precipitation_correction->set_initialized(1);

  // d: radiation correction.
  radiation_correction = std::make_unique<expokorrklasse>(
      status, diag, &registry, registry_size, "radiation_correction", copy_name, &store, common);
  check_status(status);
  radiation_correction->set_initialized(1);

  // e: evapotranspiration.
  evapotranspiration = std::make_unique<verdunstungsmodellklasse>(
      status, diag, &registry, registry_size, "evapotranspiration", copy_name, &store, common);
  check_status(status);
  evapotranspiration->set_radiation_correction(radiation_correction->get_radiation_correction());

  // f: snow.
  snow = std::make_unique<schneemodellklasse>(status, diag, &registry, registry_size,
                                              "snow_model", copy_name, &store, common);
  check_status(status);
  snow->set_radiation_correction(radiation_correction->get_radiation_correction());
  evapotranspiration->set_solid_snow_storage(snow->get_solid_snow_storage());
  evapotranspiration->set_snow_method(is_active(snow) ? snow->get_method() : 0);
  evapotranspiration->set_initialized(1);

  // g: interception.
  interception = std::make_unique<interzeptionsmodellklasse>(
      status, diag, &registry, registry_size, "interception_model", copy_name, &store, common);
  check_status(status);
  interception_before_snow =
      static_cast<char>(is_active(interception) && interception->get_method() > 10 ? 1 : 0);
  snow->select_input_grid(interception_before_snow);

  // h: silting-up.
  silting_up = std::make_unique<siltingupclass>(status, diag, &registry, registry_size,
                                                "SiltingUpModel", copy_name, &store, common);
  check_status(status);
  silting_up->select_input_grid(interception_before_snow);

  // i: sub-steps of the soil, surface and groundwater loop.
  substeps = settings_object->read_substeps();

  // j: unsaturated zone.
  unsat = std::make_unique<unsatzonmodellklasse>(status, diag, &registry, registry_size,
                                                 "unsatzon_model", copy_name, &store, common,
                                                 substeps);
  check_status(status);
  unsat->compute_max_pumping();
  unsat->select_input_grid(interception_before_snow);

  // k: dump options.
  const dump_options dump = read_dump_options(*diag, argc, argv);
  unsat->set_dump_options(dump.dumpmode, dump.close_after_dump, dump.repair_after_dump,
                          dump.max_dump_files);

  // l: lake sections.
  evapotranspiration->read_lake_parameters("[lake_model]");
  snow->read_lake_parameters("[lake_model]");

  // m: surface routing.
  surface_routing = std::make_unique<surfaceroutingclass>(
      status, diag, &registry, registry_size, "SurfaceRoutingModel", copy_name, &store, common,
      substeps);
  check_status(status);

  // n: irrigation, with the unsaturated zone's zone table.
  unsat_common = unsat->zone_table_settings(common);
  irrigation = std::make_unique<irrigationclass>(status, diag, &registry, registry_size,
                                                 "irrigation", copy_name, &store, unsat_common);
  check_status(status);

  // o: groundwater.
  groundwater = std::make_unique<gwflowclass>(status, diag, &registry, registry_size,
                                              "groundwater_flow", copy_name, &store,
                                              unsat_common, substeps);
  check_status(status);
  evapotranspiration->set_substeps(substeps);
  unsat->set_groundwater_flag(groundwater->get_flow_control() != 0 ? 1 : 0);

  // p: tracers of the modules that carry them, in this order.
  const auto init_tracers = [&](teilmodellklasse& module) {
    module.init_tracers(status, tracer_count, tracer_list, &registry, registry_size);
    check_status(status);
  };
  init_tracers(*irrigation);
  init_tracers(*snow);
  init_tracers(*interception);
  interception->set_initialized(1);
  init_tracers(*silting_up);
  silting_up->set_initialized(1);
  init_tracers(*groundwater);
  init_tracers(*unsat);
  unsat->set_initialized(1);
  init_tracers(*surface_routing);
  surface_routing->set_initialized(1);

  // q: channel routing and the wiring that needs it.
  routing = std::make_unique<abflussmodellklasse>(status, diag, &registry, registry_size,
                                                  "routing_model", copy_name, &store,
                                                  unsat_common, tracer_count, tracer_list,
                                                  unsat->get_readgrid());
  check_status(status);
  wire_after_routing();

  // r: special output, then the coupling names.
  special_output = std::make_unique<SpecialOutputClass>(status, diag, &registry, registry_size,
                                                        "special_output", copy_name, &store,
                                                        common, substeps);
  check_status(status);
  settings_object->resolve_coupling_names(&registry, registry_size);
}

void ModellApplication::wire_after_routing() {
  const int readgrid = unsat->get_readgrid();
  if (is_active(surface_routing)) {
    surface_routing->set_qbb(unsat->get_qbb());
    surface_routing->set_kelsqd(unsat->get_kelsqd());
    surface_routing->set_kelsqi(unsat->get_kelsqi());
    surface_routing->read_state(unsat->get_storage_file_name(), readgrid);
    unsat->set_surface_routing_active(1);
  }
  if (is_active(routing))
    routing->set_qg(is_active(surface_routing) ? surface_routing->get_qg() : unsat->get_qg());
  routing->init_lake_links(interception_before_snow);
  if (is_active(routing)) {
    routing->init_routing();
    routing->set_irrigation_demand(irrigation->get_irrigation_demand());
    groundwater->set_riverflow_table(unsat->get_riverflow_table());
    routing->set_riverflow_table(unsat->get_riverflow_table());
    routing->read_state(unsat->get_storage_file_name(), readgrid);
    routing->set_initialized(1);
  }
  irrigation->set_riverflow_table(unsat->get_riverflow_table());
  irrigation->set_qg(unsat->get_qg());
  irrigation->link_tracer_storage();
  // The reservoirs' share is asked before the rivers'.
  subbasin_flow_arrays* from_reservoirs = routing->get_maxirrig_from_reservoirs();
  subbasin_flow_arrays* from_rivers = routing->get_maxirrig();
  irrigation->set_maxirrig(from_rivers, from_reservoirs);
  irrigation->set_routing_target(routing->get_routing_target());
  irrigation->set_abfrel(routing->get_abfrel());
  irrigation->set_initialized(1);
  groundwater->set_qg(unsat->get_qg());
  groundwater->set_initialized(1);
  if (is_active(snow)) {
    snow->set_qg(unsat->get_qg());
    snow->read_state(unsat->get_storage_file_name(), readgrid);
    snow->set_initialized(1);
  }
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
