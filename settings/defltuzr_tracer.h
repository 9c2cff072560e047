// tracer_ini_class: the tracer settings of "[substance_transport]" (object
// name "tracer_ini"). Up to nine dissolved tracers, one control-file line
// each; the table is 1-based and handed to the modules that carry tracers
// through their tracer set-up.
#pragma once

#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "settings/tracer_entry.h"

// More tracers would need more memory than a run can afford.
constexpr int MAX_TRACERS = 9;

class tracer_ini_class : public modelobject {
 public:
  // Reads the section from the control-file copy the settings name.
  // status: 0, or the code of the failure (103 for anything that is not an
  // integer code). Only on success are the count and the table (none for a
  // count of 0 or less) written to the out-parameters; the table stays this
  // object's until release.
  tracer_ini_class(int& status, DiagStream* diag, const settings_context& settings,
                   int& tracer_count_out, tracer_entry*& tracer_list_out);
  void release() override;

 private:
  void read_section();
  // Reads the line of tracer index into tracers[index].
  void read_tracer(int index, const std::string& line);

  int tracer_count = 0;
  std::vector<tracer_entry> tracers;  // 0..tracer_count; record 0 unused
};
