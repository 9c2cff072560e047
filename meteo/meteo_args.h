// The model-object arguments of the meteorological objects, taken from the
// settings block every module receives.
#pragma once

#include <string>

#include "app/teilmod.h"
#include "modelbase/modelobject.h"

inline modelobject_args meteo_object_args(DiagStream* diag, const std::string& control_file,
                                          const submodel_settings& settings) {
  modelobject_args args;
  args.diag = diag;
  args.control_file = control_file;
  args.write_ascii_grids = settings.write_ascii_grids;
  args.write_double_grids = settings.write_double_grids;
  args.input_directory = settings.input_directory;
  args.output_directory = settings.output_directory;
  args.cells_per_process = settings.cells_per_process;
  args.halo_send = settings.halo_send;
  args.halo_receive = settings.halo_receive;
  args.spinup_switch = settings.spinup_switch;
  args.hru_list = settings.hru_list;
  return args;
}
