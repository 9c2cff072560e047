#include "app/modapuzr.h"

#include <cstdio>

#include "app/diagstream.h"

namespace {
constexpr size_t FILE_NAME_LIMIT = 1200;  // [characters] file names throughout the system
}

void ModellApplication::init(DiagStream* diag_stream, int /*argc*/, char** argv,
                             int control_index) {
  diag = diag_stream;
  name = "ModellApplication";
  control_file_name = argv[control_index];
  if (control_file_name.size() > FILE_NAME_LIMIT)
    fail_fatal(*diag, 28, "control file name longer than 1200 characters: ", control_file_name);
  std::FILE* control = std::fopen(control_file_name.c_str(), "r");
  if (control == nullptr) fail_fatal(*diag, 28, "error opening ", control_file_name);
  std::fclose(control);
  initialized_flag = 1;
}

int ModellApplication::run() { return 0; }

void ModellApplication::ClearMemory() {
  diag_entry(*diag, "reached end of simulation sucessfully");
}

bool ModellApplication::flag_floating_point_error() {
  volatile std::sig_atomic_t* guard = unsat_fpe_flag != nullptr ? unsat_fpe_flag : &own_fpe_flag;
  if (*guard != 0) return false;
  for (volatile std::sig_atomic_t* flag : module_fpe_flags) *flag = 1;
  own_fpe_flag = 1;
  return true;
}
