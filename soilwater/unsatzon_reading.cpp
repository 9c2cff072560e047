// The unsaturated zone reads its sections: "[unsatzon_model]" with the
// subbasin parameter block, "[heat_transfer]", "[unsatzon_tuning]" and, for
// the snow module's permafrost without heat transfer, "[permafrost]".
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"
#include "soilwater/unsatzon.h"

namespace {

constexpr const char* STAT_LABELS[] = {
    "name of the QDRAINstatfiles in ", "name of the GWSTANDstatfiles in ",
    "name of the GWNstatfiles in ",    "name of the SB_1_statfiles in ",
    "name of the SB_2_statfiles in ",  "name of the ROOTstatfiles in ",
    "name of the INFEXstatfiles in ",  "name of the PONDstatfiles in ",
    "name of the QDstatfiles in ",     "name of the QIstatfiles in ",
    "name of the QBstatfiles in ",     "name of the Qgstatfiles in ",
    "name of the GWINstatfiles in ",   "name of the GWEXstatfiles in ",
    "name of the MACROstatfiles in ",  "name of the INFILTstatfiles in "};

struct grid_labels {
  const char* name;
  const char* code;
};
constexpr grid_labels GRID_LABELS[] = {
    {"name of the SB05-Grids in ", "Writegrid SB05-Grid in   "},
    {"name of the SB1_-Grids in ", "Writegrid SB1_-Grid in   "},
    {"name of the WURZ-Grids in ", "Writegrid WURZ-Grid in   "},
    {"name of the Theta_stacks in ", "Writecode Theta in "},
    {"name of the hh-stacks in ", "Writecode hh in "},
    {"name of the hgeo-stacks in ", "Writecode hgeo  in "},
    {"name of the q_unten-stacks in ", "Writecode qunten in "},
    {"name of the GWSTAND-Grids in ", "Writegrid GWSTAND-Grid in   "},
    {"name of the GWtheta-Grids in ", "Writegrid GWtheta-Grid in   "},
    {"name of the GWN-Grids in ", "Writegrid GWN-Grid in   "},
    {"name of the GWLEVEL-Grids in ", "Writegrid GWLEVEL-Grid in   "},
    {"name of the QDRAIN-Grids in ", "Writegrid QDRAIN-Grid in   "},
    {"name of the saturation grid in ", "Writegrid Satt-Merker in "},
    {"name of the infiltration excess grid in ", "Writegrid INFEX in "},
    {"name of the QD-Grids in ", "Writegrid QD-Grid in   "},
    {"name of the QI-Grids in ", "Writegrid QI-Grid in   "},
    {"name of the DELTAGW-Grids in ", "Writegrid DELTAGW-Grid in   "},
    {"name of the GWIN-Grids in ", "Writegrid GWIN-Grid in   "},
    {"name of the GWEX-Grids in ", "Writegrid GWEX-Grid in   "},
    {"name of the POND-Grids in ", "Writegrid POND-Grid in   "},
    {"name of the GWN-Uprise-Grids in ", "Writegrid GWN-Uprise-Grid in   "},
    {"name of the GWN-PERCOL-Grids in ", "Writegrid GWN-PERCOL-Grid in   "},
    {"name of MACROPORE-Infiltration-Grids for ", "Writegrid MACROPORE-Infiltration-Grid in   "},
    {"name of the IRRIG-Grids in ", "Writegrid IRRIG-Grid in   "}};

constexpr const char* CELL_LABELS[] = {
    "Name of the Qbottom-file in ",    "Name of the Theta-file in ",
    "Name of the hhyd-file in ",       "Name of the Otherdata file in ",
    "Name of the etr-detail file in ", "Name of the interflow file in "};

}  // namespace

void unsatzonmodellklasse::check_name_length(const std::string& file_name, size_t limit,
                                             const char* label) {
  if (file_name.size() <= limit) return;
  fail_fatal(*diag, 17, "in modul ", name, ":\nthe name read with \"", label, "\" has ",
             file_name.size(), " characters, at most ", limit, " are possible\n");
}

void unsatzonmodellklasse::read_statistics_file(std::FILE* file, const char* label,
                                                statistics_file& target) {
  read_two_values(file, "%s%d", target.name, target.code, label, section_buffer);
  check_name_length(target.name, FILE_NAME_MAX, label);
}

void unsatzonmodellklasse::read_grid_file(std::FILE* file, const char* name_label,
                                          const char* code_label, grid_file& target) {
  read_value(file, "%s", target.name, name_label, section_buffer);
  check_name_length(target.name, FILE_NAME_MAX, name_label);
  read_value(file, "%d", target.write_code, code_label, section_buffer);
}

void unsatzonmodellklasse::read_cell_file(std::FILE* file, const char* label, std::string& target) {
  read_value(file, "%s", target, label, section_buffer);
  if (output_directory != nullptr) prefix_directory(*output_directory, target);
  check_name_length(target, CELL_FILE_NAME_MAX, label);
}

void unsatzonmodellklasse::reopen_control_file() {
  std::FILE* f = control.release();
  if (f != nullptr && std::fclose(f) != 0)
    fail_fatal(*diag, 11, "control file \"", control_path, "\" cannot be closed",
               errno_text(errno));
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
}

void unsatzonmodellklasse::read_main_section() {
  std::FILE* file = control.get();
  unsatzon_parameters& p = params;
  read_value(file, "%d", p.method, " methode of ", section_buffer);
  read_value(file, "%d", p.surface_interaction, " surface water interaction parameter of ",
             section_buffer);
  // The exchange with the river is not split between processes.
  if (p.surface_interaction > 1 && process_count > 1)
    fail_fatal(*diag, 9, "in modul ", name, ":\n",
               "parameter for surface_interaction (actual value: ", p.surface_interaction,
               ") can only be 0 or 1 for MPI version when running more than one instance!");
  read_value(file, "%d", p.pond_switch, " pond parameter of ", section_buffer);
  read_value(file, "%d", p.drainage_switch, " drainage parameter of ", section_buffer);
  read_value(file, "%d", p.clay_switch, " clay parameter ", section_buffer);
  read_value(file, "%lf", p.k_sat_clay, " k_sat. for clay  ", section_buffer);
  read_value(file, "%lf", p.ini_gw_level, " ini_gw_level  ", section_buffer);
  for (size_t i = 0; i < p.stat_files.size(); ++i)
    read_statistics_file(file, STAT_LABELS[i], p.stat_files[i]);
  for (size_t i = 0; i < p.grid_files.size(); ++i)
    read_grid_file(file, GRID_LABELS[i].name, GRID_LABELS[i].code, p.grid_files[i]);
  read_two_values(file, "%d%d", p.control_row, p.control_column,
                  "control_row/column for control point in ", section_buffer);
  for (size_t i = 0; i < p.cell_files.size(); ++i)
    read_cell_file(file, CELL_LABELS[i], p.cell_files[i]);

  if (p.control_row < 0 || p.control_row > nrows)
    fail_fatal(*diag, 8, "in modul ", name, ":\n", "row index (", p.control_row,
               ") for output-cell must be between ", 1, " and ", nrows,
               " (Input as row col) or 0 0 ");
  if (p.control_column < 0 || p.control_column > ncols)
    fail_fatal(*diag, 9, "in modul ", name, ":\n", "column index (", p.control_column,
               ") for output-cell must be between ", 1, " and ", ncols, " (Input as row col) ");
  if (p.method != 2 && p.method != 3)
    fail_fatal(*diag, 91, "in modul ", name, ":\n", "invalid method (", p.method, ")\n",
               "possible values are:\n 2 for Finite Differences with fixed timestep\n 3 for "
               "Finite Differences with dynamically calculated timestep\n");

  subbasin_codes codes;
  codes.count = own_zone_count;
  codes.code_of.assign(static_cast<size_t>(own_zone_count) + 1, 0);
  for (int i = 1; i <= own_zone_count; ++i)
    codes.code_of[static_cast<size_t>(i)] =
        static_cast<int>(own_zones[static_cast<size_t>(i)].code);
  codes.index_of = own_zone_index;
  p.subbasins = read_subbasin_block(file, *diag, name, control_path, codes);

  read_value(file, "%d", p.readgrid, "read control parameter for storage grids for ",
             section_buffer);
  readgrid = p.readgrid;
  std::string storage;
  read_value(file, "%s", storage, "name of the storage content file ", section_buffer);
  p.storage_file_name = storage_name_for_rank(storage, rank);
  check_name_length(p.storage_file_name, STORAGE_NAME_LIMIT - 1,
                    "name of the storage content file ");
  if (p.method == 3) {
    read_value(file, "%lf", p.dParameterMinStep, "minimum dynamic time step in secounds ",
               section_buffer);
    read_statistics_file(file, "name of the SUBSTEPSstatfiles in ", p.substeps_stat);
    read_grid_file(file, "name of SUBSTEPS-Grids for ", "Writegrid SUBSTEPS-Grid in   ",
                   p.substeps_grid);
  }
  // The computed profile needs 1 <= k <= L - 1; ini_gw_level 1 puts the
  // table below the column and 0 divides by zero.
  if (p.readgrid != 1 && p.readgrid != 2 && p.readgrid != 3 && !(p.ini_gw_level > 1))
    fail_fatal(*diag, 17, "in modul ", name, ":\nini_gw_level (actual value: ", p.ini_gw_level,
               ") must be greater than 1: it divides the soil column to place the initial "
               "groundwater table above its last layer\n");
}

void unsatzonmodellklasse::read_heat_transfer() {
  reopen_control_file();
  if (!seek_section("[heat_transfer]", false)) return;
  std::FILE* file = control.get();
  unsatzon_parameters& p = params;
  std::string& line = section_buffer;
  read_value(file, "%d", p.heat_flow_control, "", line);
  if (p.heat_flow_control <= 0) return;
  read_value(file, "%d", p.heat_method, " method of heat transfer modelling ", line);
  int unused = 0;
  read_value(file, "%d", unused, "", line);
  read_value(file, "%d", unused, "", line);
  const struct {
    const char* label;
    double* target;
  } values[] = {{" dTModLowBoundBase ", &p.dTModLowBoundBase},
                {" dTModLapseRate ", &p.dTModLapseRate},
                {" dTModCDrySoil ", &p.dTModCDrySoil},
                {" dTModRhoDrySoil ", &p.dTModRhoDrySoil},
                {" dTModLamDrySoil ", &p.dTModLamDrySoil},
                {" dTModKmin ", &p.dTModKmin},
                {" dTModLamWat ", &p.dTModLamWat},
                {" dTModLamIce ", &p.dTModLamIce},
                {" dTModCWater ", &p.dTModCWater},
                {" dTModCIce20 ", &p.dTModCIce20},
                {" dTModCIce0 ", &p.dTModCIce0},
                {" dTModLatHeat ", &p.dTModLatHeat},
                {" dTModRhoWater ", &p.dTModRhoWater},
                {" dTModFactor ", &p.dTModFactor},
                {" dTModSEForStat ", &p.dTModSEForStat},
                {" dTModShortestStep ", &p.dTModShortestStep},
                {" dTModLongestStep ", &p.dTModLongestStep},
                {" dTModNFactorFreezing ", &p.dTModNFactorFreezing},
                {" dTModNFactorThawing ", &p.dTModNFactorThawing}};
  for (const auto& v : values) read_value(file, "%lf", *v.target, v.label, line);
  // The heat sub-steps are counted between these bounds: a bound of 0 or
  // less never ends the count.
  for (const auto* v : {&values[15], &values[16]})
    if (!(*v->target > 0))
      fail_fatal(*diag, 17, "in modul ", name, ":\n", v->label, "(actual value: ", *v->target,
                 ") of [heat_transfer] must be greater than 0 seconds\n");
  read_cell_file(file, "Name of the temperature-file in ", p.temperature_cell_file);
  read_statistics_file(file, "name of the temperstatfiles in ", p.thaw_depth_stat);
  read_grid_file(file, "name of the temper-stacks in ", "Writecode temper in ",
                 p.temperature_stack);
  read_grid_file(file, "name of the thawdepth-grid (heat-tr.mod.) in ",
                 "Writecode thawdepth (heat-tr.mod.) in ", p.thaw_depth_grid);
}

void unsatzonmodellklasse::read_tuning() {
  reopen_control_file();
  if (seek_section("[unsatzon_tuning]", false))
    read_tuning_lines(control.get(), params.max_error, params.max_iterations);
}

void unsatzonmodellklasse::read_permafrost() {
  if (params.heat_flow_control != 0 || find_grid("PermafrostThawDepth") == 0 ||
      find_grid("SnowFreeDaysGrid") == 0 || find_grid("ThawCoeffPermaFrost") == 0) {
    close_control_file();
    return;
  }
  permafrost_thaw_depth = (*store)[find_grid("PermafrostThawDepth")].grid;
  reopen_control_file();
  seek_section("[permafrost]", true);
  std::FILE* file = control.get();
  std::string& line = section_buffer;
  int unused_int = 0;
  double unused_double = 0;
  std::string unused_name;
  read_value(file, "%d", unused_int, "", line);
  read_value(file, "%lf", unused_double, "", line);
  read_value(file, "%lf", unused_double, "", line);
  read_two_values(file, "%s%d", unused_name, unused_int, "", line);
  read_value(file, "%lf", params.reduced_k_sat, "reduced k_sat (in m/s)", line);
  close_control_file();
}

void unsatzonmodellklasse::close_control_file() {
  std::FILE* f = control.release();
  if (f != nullptr && std::fclose(f) != 0)
    fail_fatal(*diag, 11, "control file \"", control_path, "\" cannot be closed",
               errno_text(errno));
}
