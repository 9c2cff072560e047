// tracer_ini_class: the tracer settings of "[substance_transport]" (object
// name "tracer_ini"). Up to nine tracers; the table is 1-based.
//
// The section is not read yet: a run carries no tracer.
#pragma once

#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "settings/tracer_entry.h"

class tracer_ini_class : public modelobject {
 public:
  tracer_ini_class(int& status, DiagStream* diag, const std::string& control_file,
                   int& tracer_count_out, tracer_entry*& tracer_list_out);
  void release() override;

 private:
  int tracer_count = 0;
  std::vector<tracer_entry> tracers;  // 0..tracer_count; record 0 unused
};
