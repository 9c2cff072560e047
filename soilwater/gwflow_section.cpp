// The groundwater module's section "[groundwater_flow]" (solver settings,
// control point, the optional pond-flag line and eight lines per layer) and
// its part of "[lake_model]", which is checked but drives no computation.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"
#include "soilwater/gwflow.h"
#include "soilwater/gwflow_kernels.h"

namespace {

constexpr size_t CONTROL_POINT_NAME_LENGTH = 1200;  // [characters]

const char* const BANNER_LINE = "\n=======================================\n";
const char* const ERROR_HEAD = "!!!! ERROR !!!! \n\n";

}  // namespace

void gwflowclass::read_section() {
  std::FILE* file = control.get();
  std::string& rest = section_buffer;
  read_value(file, "%d", method, "method in ", rest);
  read_value(file, "%d", max_iterations, "maxiter in ", rest);
  read_value(file, "%lf", max_error, "maxerror_allowed in ", rest);
  read_value(file, "%lf", alpha, "alpha in ", rest);
  read_value(file, "%lf", omega, "sor-parameter in ", rest);
  adaptive = omega <= 0 ? 1 : 0;
  read_value(file, "%d", readgrid, "grid read parameter in ", rest);
  read_value(file, "%d", layers_n, "number of layers in ", rest);
  read_two_values(file, "%d%d", control_row, control_col,
                  "control_row/column for control point fluxes in ", rest);
  if (control_row < 0 || control_row > nrows)
    fail_fatal(*diag, 8, "in modul ", name, ":\n", "row index (", control_row,
               ") for output-cell must be between ", 1, " and ", nrows,
               " (Input as row col) or 0 0 ");
  if (control_col < 0 || control_col > ncols)
    fail_fatal(*diag, 9, "in modul ", name, ":\n", "column index (", control_col,
               ") for output-cell must be between ", 1, " and ", ncols, " (Input as row col) ");
  read_value(file, "%s", cp_file, "name of the control point file  ", rest);
  if (cp_file.size() > CONTROL_POINT_NAME_LENGTH) cp_file.resize(CONTROL_POINT_NAME_LENGTH);
  if (output_directory != nullptr) prefix_directory(*output_directory, cp_file);
  read_pond_flag_line(file);

  layers.clear();
  layers.resize(static_cast<size_t>(std::max(layers_n, 0)) + 1);
  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
    read_value(file, "%s", L.head_file, "name of grid with hydraulic heads in ", rest);
    read_value(file, "%d", L.head_code, "Writegrid (hydraulic heads) in ", rest);
    read_value(file, "%s", L.flow_x_file, "name of grid with x-transmissivities in ", rest);
    read_value(file, "%d", L.flow_x_code, "Writegrid x-transmissivities in ", rest);
    read_value(file, "%s", L.flow_y_file, "name of grid with y-transmissivities in ", rest);
    read_value(file, "%d", L.flow_y_code, "Writegrid y-transmissivities in ", rest);
    read_value(file, "%s", L.balance_file, "name of grid with balances in ", rest);
    read_value(file, "%d", L.balance_code, "Writegrid balances in ", rest);
    L.old_head_file = old_head_file_name(L.head_file);
  }
}

void gwflowclass::read_pond_flag_line(std::FILE* file) {
  // The line is optional and known by its first character alone.
  const long position = std::ftell(file);
  const int first = std::fgetc(file);
  if (first == '1' || first == '0') {
    read_line_rest(file, section_buffer);
    pond = first == '1' ? 1 : 0;
    if (pond == 0) {
      diag_entry(*diag, "INFO: in modul ", name, ": Use-Pond-Flag is ", 0,
                 "; --> no PONDs will be used in GW-Model");
      return;
    }
    const int index = find_grid("ponding_storage");
    pond_used = index > 0;
    if (pond_used) {
      ponding = (*store)[index].grid;
      ponding_index = index;
    }
    diag_entry(*diag, "INFO: in modul ", name, ": Use-Pond-Flag is ", 1,
               pond_used ? "\n POND-Grid was found --> PONDs will be used in GW-Model"
                         : "\n POND-Grid was not found --> no PONDs will be used in GW-Model");
    return;
  }
  std::fseek(file, position, SEEK_SET);
  pond = 0;
  diag_entry(*diag, "INFO: in modul ", name,
             ": no POND-Grid will be used because Use-Pond-Flag is not present");
}

void gwflowclass::read_lake_parameters(const std::string& section) {
  if (flow_control == 0) return;
  const int lakes = find_grid("lake_codes");
  if (lakes == 0) {
    diag_entry(*diag, "INFO: no LAKE-grid was found in ", name, "\n",
               "Lake modelling is switched off for ", name, ".\n");
    return;
  }
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  seek_section(section, true);
  std::FILE* file = control.get();
  read_value(file, "%d", lake_control, "flow control parameter for ", section_buffer);
  if (settings().spinup_switch != 0) lake_control = 0;
  if (lake_control == 0) {
    control.reset();
    return;
  }
  if (pond == 0)
    fail_fatal(*diag, 214, BANNER_LINE, ERROR_HEAD, "Error in initialization method for ", section,
               ".\n", "pond_use must be set in ", name, "\n", "for using the ", section,
               "\n\n=======================================\n");
  read_value(file, "%d", lake_init_method, "initialization method for ", section_buffer);
  if (std::fclose(control.release()) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path,
               "after reading initialization method for ", section);
  lake_codes = (*store)[lakes].grid;
  const int pond_index = find_grid("ponding_storage");
  if (pond_index == 0)
    fail_fatal(*diag, 28, BANNER_LINE, ERROR_HEAD,
               "\nLAKE-grid was found, but no POND-Grid. For using lakes,",
               "\nboth grids must be present.", "\n\n=======================================\n");
  ponding = (*store)[pond_index].grid;
  ponding_index = pond_index;
  if (lake_init_method != 1 && lake_init_method != 2)
    fail_fatal(*diag, 214, BANNER_LINE, "!!!! ERROR !!!! \n\n ",
               "Error in initialization method for ", section, ".\n",
               "Lake initialization method (", lake_init_method, ") not valid.\n",
               "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n",
               "In either case, theta_soil will be set to saturation,\n",
               "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n",
               "will be set to 0.", "\n\n=======================================\n");
}
