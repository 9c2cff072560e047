// The application object: builds every module from one control file, runs the
// time loop and releases everything. One object per control file.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "modelbase/memhandling.h"

class DiagStream;

class ModellApplication : public memory_handling {
 public:
  ModellApplication() = default;

  // Builds the run from the control file named by argv[control_index].
  void init(DiagStream* diag_stream, int argc, char** argv, int control_index);
  // Runs the time loop; the result becomes the process's exit status.
  int run();
  // Writes the end note, flushes and releases every module.
  void ClearMemory();

  // Sets the floating-point-error flags of the modules once per application;
  // true when this call set them. Called from the SIGFPE handler.
  bool flag_floating_point_error();

  // Ctrl-C state: 0 nothing pending, 1 pending; set by the SIGINT handler.
  volatile std::sig_atomic_t ctrl_c_state = 0;

 private:
  std::string control_file_name;
  // The modules' floating-point-error flags in the order the handler sets
  // them; the unsaturated zone's flag guards against a second report.
  std::vector<volatile std::sig_atomic_t*> module_fpe_flags;
  volatile std::sig_atomic_t* unsat_fpe_flag = nullptr;
  volatile std::sig_atomic_t own_fpe_flag = 0;
};
