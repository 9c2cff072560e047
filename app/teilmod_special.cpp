#include "app/teilmod_special.h"

#include "app/diagstream.h"

SpecialOutputClass::SpecialOutputClass(int& status, DiagStream* diag_stream,
                                       statistics_registry* statistics, int statistics_size,
                                       const std::string& section,
                                       const std::string& control_file, grid_store* shared_store,
                                       const submodel_settings& settings, int substep_count)
    : teilmodellklasse(diag_stream, section, control_file, shared_store, settings, substep_count,
                       0) {
  // Errors of the section head are thrown by the base; the blocks, whose
  // errors go through the status, are not read yet.
  status = 0;
  registry = statistics;
  registry_size = statistics_size;
}

void SpecialOutputClass::sample_step(int64_t, int64_t, int64_t, int64_t, int, int) {}

void SpecialOutputClass::flush_outputs() {}

void SpecialOutputClass::release() { modelobject::release(); }
