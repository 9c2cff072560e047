// Release of the application: flush every module's buffered output, write
// the storage-content sections in the order routing, unsaturated zone,
// surface routing (snow writes its own in its release), release and delete
// every module.
#include "modelbase/diagstream.h"
#include "app/modapuzr.h"
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

void ModellApplication::ClearMemory() {
  try {
    diag_entry(*diag, "reached end of simulation sucessfully");
    for (int i = 1; i <= meteo_count(); ++i)
      if (meteo_inputs[static_cast<size_t>(i)] != nullptr)
        meteo_inputs[static_cast<size_t>(i)]->flush_outputs();
    // Unlike the Ctrl-C flush: irrigation before silting-up, and the special
    // output before the settings object.
    for (teilmodellklasse* module : existing<teilmodellklasse>(
             superposition, evapotranspiration, snow, interception, irrigation, silting_up, unsat,
             surface_routing, groundwater, routing, special_output))
      module->flush_outputs();
    if (settings_object) settings_object->flush_grid_statistics();

    for (int i = meteo_count(); i >= 1; --i) {
      meteointerpol* input = meteo_inputs[static_cast<size_t>(i)];
      if (input != nullptr) input->release();
    }

    for (teilmodellklasse* module : existing<teilmodellklasse>(
             snow, interception, silting_up, irrigation, groundwater, superposition))
      module->free_tracer_statistics();

    release_modules();
    delete_modules();
  } catch (int) {
    diag_entry(*diag, "FATAL: Exception in Modellapplication::ClearMemory() caught!");
    throw;
  }
}

void ModellApplication::release_modules() {
  // The storage-content file is written in this order (snow follows in its
  // release). A writer appends its section only when an earlier writer
  // really started the file in this run.
  bool started = false;
  for (teilmodellklasse* module :
       existing<teilmodellklasse>(routing, unsat, silting_up, surface_routing)) {
    module->end_run(started ? 1 : 0);
    started = started || module->storage_section_written();
  }

  for (modelobject* object : existing<modelobject>(
           interception, irrigation, snow, evapotranspiration, radiation_correction,
           superposition, precipitation_correction, groundwater, tracer_settings, special_output,
           settings_object))
    object->release();

  diag_entry(*diag, "o.k.\n");
  diag_entry(*diag, "deleting modules...");
}

void ModellApplication::delete_modules() {
  // The SIGFPE handler must not reach flags of deleted modules.
  own_fpe_flag = 1;
  unsat_fpe_flag = nullptr;
  module_fpe_flags.clear();
  modules.clear();
  substep_modules.clear();
  for (int i = meteo_count(); i >= 1; --i) {
    delete meteo_inputs[static_cast<size_t>(i)];
    meteo_inputs[static_cast<size_t>(i)] = nullptr;
  }
  meteo_inputs.assign(1, nullptr);
  tracer_settings.reset();
  routing.reset();
  groundwater.reset();
  irrigation.reset();
  silting_up.reset();
  surface_routing.reset();
  unsat.reset();
  interception.reset();
  snow.reset();
  evapotranspiration.reset();
  radiation_correction.reset();
  superposition.reset();
  precipitation_correction.reset();
  special_output.reset();
  unsat_zone_table = zone_table_view{};
  settings = nullptr;
  settings_object.reset();
  registry.records.clear();
  hru_list.clear();
}
