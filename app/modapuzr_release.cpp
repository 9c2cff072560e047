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

namespace {

template <class Module>
void flush(const std::unique_ptr<Module>& module) {
  if (module) module->flush_outputs();
}

template <class Module>
void release(const std::unique_ptr<Module>& module) {
  if (module) module->release();
}

template <class Module>
void free_tracer_statistics(const std::unique_ptr<Module>& module) {
  if (module) module->free_tracer_statistics();
}

}  // namespace

void ModellApplication::ClearMemory() {
  try {
    diag_entry(*diag, "reached end of simulation sucessfully");
    for (int i = 1; i <= meteo_count; ++i)
      if (meteo_inputs[static_cast<size_t>(i)] != nullptr)
        meteo_inputs[static_cast<size_t>(i)]->flush_outputs();
    flush(superposition);
    flush(evapotranspiration);
    flush(snow);
    flush(interception);
    flush(irrigation);
    flush(silting_up);
    flush(unsat);
    flush(surface_routing);
    flush(groundwater);
    flush(routing);
    flush(special_output);
    if (settings_object) settings_object->flush_grid_statistics();

    for (int i = meteo_count; i >= 1; --i) {
      meteointerpol*& input = meteo_inputs[static_cast<size_t>(i)];
      if (input != nullptr) input->release();
      meteo_names[static_cast<size_t>(i)].clear();
    }

    free_tracer_statistics(snow);
    free_tracer_statistics(interception);
    free_tracer_statistics(silting_up);
    free_tracer_statistics(irrigation);
    free_tracer_statistics(groundwater);
    free_tracer_statistics(superposition);

    release_modules();
    delete_modules();
  } catch (int) {
    diag_entry(*diag, "FATAL: Exception in Modellapplication::ClearMemory() caught!");
    throw;
  }
}

void ModellApplication::release_modules() {
  // A writer appends its storage-content section only when an earlier writer
  // really started the file in this run.
  bool started = false;
  if (routing) {
    routing->release();
    started = routing->storage_section_written();
  }
  if (unsat) {
    unsat->end_run(started ? 1 : 0);
    started = started || unsat->storage_section_written();
  }
  release(silting_up);
  if (surface_routing) surface_routing->end_run(started ? 1 : 0);

  release(interception);
  release(irrigation);
  release(snow);
  release(evapotranspiration);
  release(radiation_correction);
  release(superposition);
  release(precipitation_correction);
  release(groundwater);
  release(tracer_settings);
  release(special_output);
  release(settings_object);

  if (settings.selected_count > 0) {
    settings.selected_codes.clear();
    settings.selected_count = 0;
  }
  diag_entry(*diag, "o.k.\n");
  diag_entry(*diag, "deleting modules...");
}

void ModellApplication::delete_modules() {
  // The SIGFPE handler must not reach flags of deleted modules.
  own_fpe_flag = 1;
  unsat_fpe_flag = nullptr;
  module_fpe_flags.clear();
  for (int i = meteo_count; i >= 1; --i) {
    delete meteo_inputs[static_cast<size_t>(i)];
    meteo_inputs[static_cast<size_t>(i)] = nullptr;
  }
  meteo_inputs.assign(1, nullptr);
  meteo_count = 0;
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
  settings_object.reset();
  registry.records.clear();
  hru_list.clear();
}
