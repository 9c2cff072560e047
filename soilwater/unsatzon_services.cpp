// Services of the unsaturated zone outside its sub-steps: the getters of its
// runoff records, the start of a step (first temperature profile, the shift
// of the zone queues, cleared statistics), the lake part of "[lake_model]",
// the choice of the water-input grid, the water irrigation may pump, and a
// groundwater table delivered by the external coupling.
#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_column_services.h"
#include "tables/soiltable.h"

namespace {

constexpr double METRES_TO_MM = 1000;  // [mm m-1]
// Ponding storage above which a lake cell starts saturated, by method [mm].
constexpr double LAKE_PONDING_METHOD_1 = 1.0;
constexpr double LAKE_PONDING_METHOD_2 = 0.3;

constexpr const char* RULE = "\n\n=======================================\n";

}  // namespace

subbasin_flow_arrays* unsatzonmodellklasse::checked_flow_arrays(subbasin_flow_arrays& arrays,
                                                                 const char* array_name) {
  if (flow_control == 0) return nullptr;
  if (arrays.empty())
    fail_fatal(*diag, 57, array_name,
               " not initialized (may be, tracer module not linked? -> programmers error!)");
  if (arrays[0].empty())
    fail_fatal(*diag, 57, array_name,
               "[0] not initialized (may be, tracer module not linked? -> programmers error!)");
  return &arrays;
}

subbasin_flow_arrays* unsatzonmodellklasse::get_qbb() {
  return checked_flow_arrays(flow_qbb, "QBb");
}
subbasin_flow_arrays* unsatzonmodellklasse::get_qg() { return checked_flow_arrays(flow_qg, "Qg"); }
subbasin_flow_arrays* unsatzonmodellklasse::get_qd() { return checked_flow_arrays(flow_qd, "QD"); }
subbasin_flow_arrays* unsatzonmodellklasse::get_qi() { return checked_flow_arrays(flow_qi, "QI"); }

std::vector<double>* unsatzonmodellklasse::get_kelsqd() {
  return flow_control == 0 ? nullptr : &params.subbasins.kelsqd;
}
std::vector<double>* unsatzonmodellklasse::get_kelsqi() {
  return flow_control == 0 ? nullptr : &params.subbasins.kelsqi;
}
const std::string* unsatzonmodellklasse::get_storage_file_name() {
  return flow_control == 0 ? nullptr : &params.storage_file_name;
}
riverflow_table* unsatzonmodellklasse::get_riverflow_table() {
  return flow_control == 0 || riverflow.empty() ? nullptr : &riverflow;
}

void unsatzonmodellklasse::begin_step(const model_date& step) {
  if (flow_control == 0) return;
  if (!first_step_links_done) {
    first_step_links_done = true;
    if (mpi_regions == nullptr) {
      const int i = find_grid("MPIRegions");
      mpi_regions = i > 0 ? (*store)[i].grid : nullptr;
    }
    const int head = find_grid("gw_head_1");
    groundwater_head = head > 0 ? (*store)[head].grid : nullptr;
  }
  cur_hour = step.hour;
  cur_day = step.day;
  cur_month = step.month;
  cur_year = step.year;
  const bool due = report_interval == 1 ||
                   (report_interval > 1 &&
                    static_cast<int>(static_cast<double>(step.hour) + hour_shift) %
                            report_interval ==
                        0);
  if (due) {
    diag->set_width(20);
    diag_entry(*diag, name, " ", step.day, ".", step.month, ".", step.year, " ", step.hour,
               ". h ", "(time of meteo data)", params.variant_tag);
  }
  if (params.heat_flow_control > 0 && temperature_start_pending) set_first_soil_temperatures();
  shift_zone_queues(zone_queues);
  for (auto& s : statistics)
    if (s != nullptr) s->clear_step_sums();
  for (size_t t = 1; t < tracers.size(); ++t)
    if (tracers[t].statistic != nullptr) tracers[t].statistic->clear_step_sums();
}

void unsatzonmodellklasse::set_first_soil_temperatures() {
  const int L = layer_count;
  stack_matrix& temperature = own["Soil_Temperature_Stack"].stack;
  const stack_matrix& g = own["geodetic_heads"].stack;
  const grid_matrix* lower = links["T_Lower_Boundary_Condition"];
  if (lower == nullptr) lower = &own["T_Lower_Boundary_Condition"].grid;
  const grid_matrix& air = *links["temperature"];
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      double* t = temperature[r][c];
      if (!own_cell(r, c)) {
        for (int l = 1; l <= L; ++l) t[l] = nodata;
        continue;
      }
      const double* z = g[r][c];
      const double bottom = (*lower)[r][c];
      t[0] = bottom;
      for (int l = 1; l <= L; ++l) {
        // Relative depth of the layer's middle in the column.
        const double w = (z[0] - (z[l - 1] + z[l]) / 2) / (z[0] - z[L]);
        t[l] = w * bottom + (1 - w) * air[r][c];
      }
    }
  temperature_start_pending = false;
}

bool unsatzonmodellklasse::lake_cell(int row, int col) const {
  // Lakes carry positive codes in every soil module: 0 and negative values
  // are no lake.
  return lake_codes != nullptr && (*lake_codes)[row][col] != nodata && (*lake_codes)[row][col] > 0;
}

void unsatzonmodellklasse::read_lake_parameters(const std::string& section_text) {
  if (find_grid("lake_codes") == 0) {
    diag_entry(*diag, "INFO: no LAKE-grid was found in ", name, "\n",
               "Lake modelling is switched off for ", name, ".");
    return;
  }
  if (!open_control_file()) fail_fatal(*diag, 28, "error opening ", control_path);
  seek_section(section_text, true);
  std::FILE* file = control.get();
  read_value(file, "%d", lake_switch, "flow control parameter for ", section_buffer);
  const std::vector<hru_entry>* units = modelobject::settings().hru_list;
  if (units != nullptr && units->size() > 1) lake_switch = 0;
  if (lake_switch == 0) {
    close_control_file();
    return;
  }
  if (params.pond_switch == 0) {
    close_control_file();
    diag_entry(*diag, "ERROR:", RULE, "!!!! ERROR !!!! \n\n", "Error in initialization method for ",
               section_text, ".\n", "pond_use must be set in ", name, "\n", "for using the ",
               section_text, RULE);
    throw 215;
  }
  if (params.pond_switch != 1) {
    // Other values build no ponding grids, which the lake cells need.
    close_control_file();
    fail_fatal(*diag, 215, "in modul ", name, ":\npond parameter ", params.pond_switch,
               " builds no ponding storage, which ", section_text,
               " needs: set it to 1 for lakes\n");
  }
  read_value(file, "%d", lake_init_method, "initialization method for ", section_buffer);
  std::FILE* f = control.release();
  if (f != nullptr && std::fclose(f) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path,
               "after reading initialization method for ", section_text);
  lake_codes = (*store)[require_grid("lake_codes")].grid;
  if (lake_init_method != 1 && lake_init_method != 2)
    fail_fatal(*diag, 215, RULE, "!!!! ERROR !!!! \n\n ", "Error in initialization method for ",
               section_text, ".\n",
               "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n",
               "In either case, theta_soil will be set to saturation,\n",
               "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n",
               "will be set to 0.", RULE);

  const int L = layer_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const grid_matrix& soil_types = *links["soil_types"];
  stack_matrix& theta = own["theta"].stack;
  grid_matrix& distance = own["groundwater_distance"].grid;
  grid_matrix& level = own["groundwater_level"].grid;
  const grid_matrix& ponding = own["ponding_storage"].grid;
  const grid_matrix& max_ponding = *(*store)[require_grid("max_ponding_storage")].grid;
  grid_matrix& elevation = *(*store)[2].grid;
  grid_matrix* slope = (*store)[require_grid("slope_angle")].grid;
  const auto drain = own.find("drainage_level");
  const auto irrigation = own.find("irrigation_amounts");
  const double threshold = lake_init_method == 1 ? LAKE_PONDING_METHOD_1 : LAKE_PONDING_METHOD_2;
  long other_values = 0;
  for (int r = first_row; r <= last_row; ++r) {
    if (strips == nullptr || r >= static_cast<int>(strips->size())) continue;
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(span.first, 1); c <= span.last; ++c) {
      if (!own_cell(r, c)) continue;
      const double code = (*lake_codes)[r][c];
      if (code != nodata && !(code > 0)) ++other_values;
      if (!lake_cell(r, c)) continue;
      const bool saturate = readgrid == 0 || (readgrid > 0 && ponding[r][c] > threshold);
      if (saturate) {
        if (lake_init_method == 2) {
          if (drain != own.end()) drain->second.grid[r][c] = -1;
          (*slope)[r][c] = 0;
          if (irrigation != own.end()) irrigation->second.grid[r][c] = 0;
        }
        distance[r][c] = 0;
        level[r][c] = 1;
        const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
        for (int l = 1; l <= L - 1; ++l) theta[r][c][l] = soil.theta_sat[static_cast<size_t>(l)];
      }
      if (lake_init_method == 2) elevation[r][c] -= max_ponding[r][c] / METRES_TO_MM;
    }
  }
  MPI_Allreduce(MPI_IN_PLACE, &other_values, 1, MPI_LONG, MPI_SUM, MPI_COMM_WORLD);
  if (other_values > 0)
    diag_entry(*diag, "WARNING: in modul ", name, ":\n", other_values,
               " cells of grid \"lake_codes\" hold 0 or a negative code: they are no lake cells\n");
  if (lake_init_method == 2) gather_grid(2);
}

void unsatzonmodellklasse::select_input_grid(char interception_before_snow) {
  if (flow_control == 0) return;
  interception_first = interception_before_snow;
  if (input_grid_index != 0) return;
  const std::string throughfall = "throughfall" + std::to_string(0);
  const std::string snow = "snowcover_outflow";
  input_grid_index = interception_before_snow != 0
                         ? require_one_of_3_grids(snow, throughfall, "precipitation")
                         : require_one_of_3_grids(throughfall, snow, "precipitation");
}

void unsatzonmodellklasse::compute_max_pumping() {
  if (flow_control == 0 || modelobject::settings().irrigation_table == nullptr) return;
  const int L = layer_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const grid_matrix& soil_types = *links["soil_types"];
  const grid_matrix& level = own["groundwater_level"].grid;
  grid_matrix& pumping = own["Max_Pumping"].grid;
  for (int r = first_row; r <= last_row; ++r) {
    if (strips == nullptr || r >= static_cast<int>(strips->size())) continue;
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(span.first, 1); c <= span.last; ++c) {
      if (!own_cell(r, c)) {
        pumping[r][c] = nodata;
        continue;
      }
      const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
      pumping[r][c] =
          max_pumping(soil, soil.layer_count, service_groundwater_layer(level[r][c], L));
    }
  }
}

void unsatzonmodellklasse::apply_external_gw_table(int) {
  if (flow_control == 0) return;
  external_gw_table_applied = true;
  const int L = layer_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const grid_matrix& soil_types = *links["soil_types"];
  stack_matrix& theta = own["theta"].stack;
  const stack_matrix& z = own["geodetic_heads"].stack;
  grid_matrix& external = own["GWTableExtern"].grid;
  grid_matrix& balance = own["Balance"].grid;
  grid_matrix& baseflow = own["baseflow"].grid;
  grid_matrix& distance = own["groundwater_distance"].grid;
  grid_matrix& level = own["groundwater_level"].grid;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!((*zone_grid)[r][c] > nodata)) {
        balance[r][c] = baseflow[r][c] = distance[r][c] = nodata;
        continue;
      }
      // Cells of other processes hold no state here.
      if (!own_cell(r, c)) continue;
      if (!(external[r][c] > nodata)) {
        balance[r][c] = 0;
        continue;
      }
      const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
      const double* heights = z[r][c];
      const external_table_change change = apply_external_table(
          soil, L, heights, theta[r][c], service_groundwater_layer(level[r][c], L),
          distance[r][c] + heights[0], external[r][c]);
      external[r][c] = change.table;
      balance[r][c] = change.balance;
      level[r][c] = change.level;
      baseflow[r][c] = 0;
      distance[r][c] = change.table - heights[0];
    }
}
