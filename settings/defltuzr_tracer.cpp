#include "settings/defltuzr_tracer.h"

namespace {
modelobject_args tracer_args(DiagStream* diag, const std::string& control_file) {
  modelobject_args args;
  args.diag = diag;
  args.control_file = control_file;
  return args;
}
}  // namespace

tracer_ini_class::tracer_ini_class(int& status, DiagStream* diag_stream,
                                   const std::string& control_file,
                                   int& tracer_count_out, tracer_entry*& tracer_list_out)
    : modelobject(tracer_args(diag_stream, control_file)) {
  status = 0;
  name = "tracer_ini";
  tracer_count_out = tracer_count;
  tracer_list_out = nullptr;
}

void tracer_ini_class::release() {
  tracers.clear();
  tracer_count = 0;
  modelobject::release();
}
