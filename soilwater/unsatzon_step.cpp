// One sub-step of the unsaturated zone: the soil columns of every own cell,
// the copy of each hydrologic response unit's master results to its other
// cells, and the accumulation of every own cell's runoff into the
// travel-time zone queues of its subbasin (Clark's time-area scheme, emptied
// by end_step) and of its states and fluxes into the per-subbasin
// statistics (unsatzon_accumulation.cpp); then the control cell's rows.
#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_tracer_values.h"
#include "tables/irrigation.h"
#include "tables/soiltable.h"

void unsatzonmodellklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  soil_column_step(hour, day, month, year);
  const std::vector<hru_entry>* units = modelobject::settings().hru_list;
  if (units != nullptr && units->size() > 1) copy_hru_states();
  accumulate_cells();
  write_control_cell_rows(hour, day, month, year);
  // A buffer takes at most one row per call: written as soon as it is full,
  // it never drops one.
  write_control_cell_buffers(true);
}

void unsatzonmodellklasse::copy_hru_states() {
  const std::vector<hru_entry>& units = *modelobject::settings().hru_list;
  const grid_matrix& unit_of = *links["HydrologicResponseUnits"];
  const grid_matrix& master = *links["MasterHydrologicResponseUnits"];
  const int L = layer_count;
  std::vector<grid_matrix*> grids;
  std::vector<stack_matrix*> stacks;
  auto add_grid = [&](const std::string& grid_name) {
    const int i = find_grid(grid_name);
    if (i > 0 && (*store)[i].grid != nullptr && !(*store)[i].grid->empty())
      grids.push_back((*store)[i].grid);
  };
  auto add_stack = [&](const std::string& grid_name) {
    const int i = find_grid(grid_name);
    if (i > 0 && (*store)[i].stack != nullptr && !(*store)[i].stack->empty())
      stacks.push_back((*store)[i].stack);
  };
  for (const char* g : {"ponding_storage", "drainage_level", "irrigation_amounts",
                        "PermafrostThawDepth", "Max_Pumping", "ThawDepthTMod",
                        "frozenSoilInGroundwater", "ETR2ETP", "real_evaporation"})
    add_grid(g);
  if (input_grid_index > 0 && (*store)[input_grid_index].grid != nullptr)
    grids.push_back((*store)[input_grid_index].grid);
  add_grid(silting_up_storage_linked ? "SurfStorSiltingUp" : "DirectRunoffSiltingUp");
  for (int k = 0; k <= vegetation_layers; ++k) add_grid("real_transpiration" + std::to_string(k));
  add_grid("drainage_flow");
  add_stack("Soil_Temperature_Stack");
  for (const char* g : {"groundwater_distance", "groundwater_level", "baseflow", "directflow",
                        "interflow", "macropore_infiltration", "groundwater_recharge",
                        "Percolation", "Capillar_Uprise", "infiltration_excess",
                        "total_infiltration", "Theta_in_GWLEVEL", "SB_1_grid", "SB_2_grid",
                        "ROOTgrid", "number_of_substeps"})
    add_grid(g);
  for (const char* s : {"theta", "geodetic_heads", "hydraulic_heads", "q_down"}) add_stack(s);
  if (groundwater_flag == 1)
    for (const char* g : {"river_exfiltration", "river_infiltration"}) add_grid(g);
  std::sort(grids.begin(), grids.end());
  grids.erase(std::unique(grids.begin(), grids.end()), grids.end());

  // A unit number beyond the list cannot be copied: the first such cell (in
  // row order) ends the run after the loop.
  long bad_cell = LONG_MAX;
#pragma omp parallel for schedule(runtime) reduction(min : bad_cell)
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& strip = (*strips)[static_cast<size_t>(r)];
    for (int c = strip.first; c <= strip.last; ++c) {
      if (!own_cell(r, c) || master[r][c] != nodata) continue;
      const double u = unit_of[r][c];
      if (!(u >= 1) || u >= static_cast<double>(units.size())) {
        const long here = static_cast<long>(r) * (ncols + 1) + c;
        bad_cell = std::min(bad_cell, here);
        continue;
      }
      const hru_entry& e = units[static_cast<size_t>(u)];
      for (grid_matrix* g : grids) (*g)[r][c] = (*g)[e.row][e.col];
      for (stack_matrix* s : stacks)
        for (int l = 0; l <= L; ++l) (*s)[r][c][l] = (*s)[e.row][e.col][l];
    }
  }
  if (bad_cell != LONG_MAX)
    fail_fatal(*diag, 17, "in modul ", name, ": the cell [", bad_cell / (ncols + 1), "][",
               bad_cell % (ncols + 1),
               "] names a hydrologic response unit that is not in the unit list");
}

void unsatzonmodellklasse::write_control_cell_rows(int64_t hour, int64_t day, int64_t month,
                                                   int64_t year) {
  const int r = params.control_row;
  const int c = params.control_column;
  if (r <= 0 || cell_buffers.empty() || r < first_row || r > last_row || mpi_regions == nullptr ||
      (*mpi_regions)[r] == nullptr || (*mpi_regions)[r][c] != rank)
    return;
  const int L = layer_count;
  // A full buffer is written at the end of every call, so none is full here;
  // the guard only keeps a row from going past the buffer.
  auto append = [&](size_t which, auto value_of) {
    control_cell_buffer& b = cell_buffers[which];
    if (b.fill >= b.capacity) return;
    ++b.fill;
    b.dates[static_cast<size_t>(b.fill)] = model_date{year, month, day, hour};
    double* row = &b.values[static_cast<size_t>(b.fill) * static_cast<size_t>(b.values_per_row)];
    for (int l = 1; l <= L && l < b.values_per_row; ++l) row[l] = value_of(l);
  };
  // Buffer order of create_control_cell_outputs: hhyd, otherdata, theta,
  // q_bottom, etr, interflow, temperature, then one per tracer.
  const stack_matrix& q_down = own["q_down"].stack;
  const stack_matrix& theta = own["theta"].stack;
  const stack_matrix& heads = own["hydraulic_heads"].stack;
  append(3, [&](int l) { return q_down[r][c][l]; });
  append(2, [&](int l) { return theta[r][c][l]; });
  append(0, [&](int l) { return heads[r][c][l]; });
  const bool heat = params.heat_flow_control > 0;
  if (heat && params.heat_method > 0) {
    const stack_matrix& temperature = own["Soil_Temperature_Stack"].stack;
    append(6, [&](int l) { return temperature[r][c][l]; });
  }
  const size_t first_tracer = heat ? 7 : 6;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const soil_entry& soil = soils[static_cast<size_t>((*links["soil_types"])[r][c])];
  for (int t = 1; t <= tracer_count; ++t) {
    const size_t which = first_tracer + static_cast<size_t>(t) - 1;
    if (which >= cell_buffers.size()) break;
    const stack_matrix& amount = own["concstor_tracer_" + std::to_string(t) + "_" + name].stack;
    const bool evaporating = tracer_list[t].evaporating == 1;
    append(which, [&](int l) {
      return control_cell_tracer_value(evaporating, amount[r][c][l], theta[r][c][l],
                                       soil.thickness[static_cast<size_t>(l)]);
    });
  }
}
