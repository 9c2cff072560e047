// Temperature pre-SpinUp of the unsaturated zone: one pass over the air
// temperature gathers per own cell the freezing and thawing degree-days and
// the mean air temperature; at its end every own column gets the profile
// from its TTOP (prespinup_kernels.h), the results are written and the
// profile replaces the linear start profile of the first step.
#include <algorithm>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "soilwater/prespinup_kernels.h"
#include "soilwater/unsatzon.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

namespace {

constexpr int PRE_SPINUP_CODE = 1040;
constexpr int HOURS_PER_DAY = 24;  // [h]

bool holds_rows(const grid_matrix& g, int first, int last) {
  if (g.empty() || g.first_row() > first || g.last_row() < last) return false;
  for (int r = first; r <= last; ++r)
    if (g[r] == nullptr) return false;
  return true;
}

}  // namespace

void unsatzonmodellklasse::pre_spinup_step(int64_t hour, int64_t, int64_t, int64_t) {
  const auto air_link = links.find("temperature");
  if (params.heat_flow_control == 0 || air_link == links.end() || air_link->second == nullptr)
    fail_fatal(*diag, PRE_SPINUP_CODE,
               "heat transfer model not active in unsatzon_model. This is required for "
               "pre-SpinUp!");
  using id = pre_spinup_state::grid_id;
  if (pre_spinup.grids[id::freezing] == nullptr) create_pre_spinup_grids();
  ++pre_spinup.day_steps;
  ++pre_spinup.pass_steps;

  const bool day_end = hour + static_cast<int64_t>(hour_shift) == HOURS_PER_DAY;
  const grid_matrix& air = *air_link->second;
  grid_matrix& freezing = *pre_spinup.grids[id::freezing];
  grid_matrix& thawing = *pre_spinup.grids[id::thawing];
  grid_matrix& daily = *pre_spinup.grids[id::daily];
  grid_matrix& annual = *pre_spinup.grids[id::annual];
  const int day_steps = pre_spinup.day_steps;
#pragma omp parallel for schedule(runtime)
  for (int r = first_row; r <= last_row; ++r) {
    const int c_first =
        strips != nullptr ? std::max((*strips)[static_cast<size_t>(r)].first, 1) : 1;
    const int c_last = strips != nullptr ? (*strips)[static_cast<size_t>(r)].last : ncols;
    for (int c = c_first; c <= c_last; ++c) {
      if (!own_cell(r, c)) continue;
      daily[r][c] += air[r][c];
      annual[r][c] += air[r][c];
      if (day_end) close_degree_day(daily[r][c], day_steps, freezing[r][c], thawing[r][c]);
    }
  }
  if (day_end) pre_spinup.day_steps = 0;
}

void unsatzonmodellklasse::create_pre_spinup_grids() {
  using id = pre_spinup_state::grid_id;
  const int found = find_grid(pre_spinup_state::names[id::freezing]);
  if (found > 0) {
    // Another module's sum of freezing degree-days is the starting sum; it
    // stays that module's grid and entry.
    grid_matrix* taken = (*store)[found].grid;
    if (taken == nullptr || !holds_rows(*taken, first_row, last_row))
      fail_fatal(*diag, GRID_STORE_FULL_CODE, "grid ", pre_spinup_state::names[id::freezing],
                 " in memory does not hold the rows ", first_row, " to ", last_row,
                 " of this process!");
    pre_spinup.grids[id::freezing] = taken;
  }
  // Each grid takes the first entry without a grid name after the one
  // before: the same entries as i, i + 1, ... wherever those are free, and
  // never an entry of another module behind a freed one.
  int entry = 1;
  for (int g = 0; g < id::count; ++g) {
    if (pre_spinup.grids[static_cast<size_t>(g)] != nullptr) continue;
    while (entry < GRID_STORE_FULL && (*store)[entry].grid_name.has_value()) ++entry;
    if (entry >= GRID_STORE_FULL)
      fail_fatal(*diag, GRID_STORE_FULL_CODE, "no more free grids in memory, (max. ",
                 GRID_STORE_FULL, ")!");
    const char* grid_name = pre_spinup_state::names[static_cast<size_t>(g)];
    grid_matrix& working = pre_spinup.own[static_cast<size_t>(g)];
    working = matrix(first_row, last_row, 1, ncols, nrows);
    register_grid(entry, grid_name, &working, nullptr, 0, grid_name, 0, first_row, last_row);
    pre_spinup.entries[static_cast<size_t>(g)] = entry;
    pre_spinup.grids[static_cast<size_t>(g)] = &working;
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c)
        if (own_cell(r, c)) working[r][c] = 0;
  }
}

void unsatzonmodellklasse::finish_pre_spinup() {
  using id = pre_spinup_state::grid_id;
  // Without a single record there is neither a mean nor a working grid.
  if (pre_spinup.pass_steps == 0 || pre_spinup.grids[id::freezing] == nullptr)
    fail_fatal(*diag, PRE_SPINUP_CODE,
               "pre-SpinUp ended without any record of air temperature: the soil temperatures "
               "cannot be set!");
  const double years = pre_spinup.pass_steps * time_interval / TTOP_MINUTES_PER_YEAR;
  set_pre_spinup_profiles(years);
  write_pre_spinup_results();
  for (int g = 0; g < id::count; ++g) {
    const auto i = static_cast<size_t>(g);
    if (pre_spinup.entries[i] > 0) {
      free_matrix(pre_spinup.own[i], first_row, last_row, 1, ncols);
      free_grid_entry(pre_spinup.entries[i]);
    }
    pre_spinup.entries[i] = 0;
    pre_spinup.grids[i] = nullptr;
  }
  temperature_start_pending = false;
}

void unsatzonmodellklasse::set_pre_spinup_profiles(double years) {
  using id = pre_spinup_state::grid_id;
  const int L = layer_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const std::vector<landuse_entry>* landuses = modelobject::settings().landuse_table;
  const grid_matrix& soil_types = *links["soil_types"];
  const grid_matrix& landuse = *links["landuse1"];
  const grid_matrix* heat_flux =
      heat_flux_lower_boundary ? links["HeatFlux_Lower_Boundary_Condition"] : nullptr;
  const stack_matrix& theta = own["theta"].stack;
  const stack_matrix& heights = own["geodetic_heads"].stack;
  stack_matrix& temperature = own["Soil_Temperature_Stack"].stack;
  const grid_matrix& freezing = *pre_spinup.grids[id::freezing];
  const grid_matrix& thawing = *pre_spinup.grids[id::thawing];
  grid_matrix& annual = *pre_spinup.grids[id::annual];
  const double steps = pre_spinup.pass_steps;
  const PorewaterConductivity lambda{params.dTModLamWat, params.dTModLamIce};
#pragma omp parallel for schedule(runtime)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      annual[r][c] /= steps;
      const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
      PreSpinupClimate climate;
      climate.freezing_degree_days = freezing[r][c];
      climate.thawing_degree_days = thawing[r][c];
      climate.mean_air_temperature = annual[r][c];
      climate.years = years;
      climate.n_freezing = params.dTModNFactorFreezing;
      climate.n_thawing = params.dTModNFactorThawing;
      // A class outside the table has no n-factors of its own.
      const double cls = landuse[r][c];
      if (landuses != nullptr && cls >= 1 && cls < static_cast<double>(landuses->size())) {
        const landuse_entry& use = (*landuses)[static_cast<size_t>(cls)];
        climate.n_freezing = n_factor_or(use.get_nf_freezing(), climate.n_freezing);
        climate.n_thawing = n_factor_or(use.get_nf_thawing(), climate.n_thawing);
      }
      if (heat_flux != nullptr) climate.heat_flux = (*heat_flux)[r][c];
      const PreSpinupColumn column{
          L,           soil.thickness.data(), soil.theta_sat.data(), soil.DryThermalConduct.data(),
          theta[r][c], heights[r][c]};
      pre_spinup_profile(column, climate, lambda, temperature[r][c]);
    }
}

void unsatzonmodellklasse::write_pre_spinup_results() {
  using id = pre_spinup_state::grid_id;
  const bool as_text = write_ascii_grids != 0;
  const bool double_precision = write_double_grids != 0;
  for (const id g : {id::freezing, id::thawing, id::annual}) {
    const auto i = static_cast<size_t>(g);
    // Gathered at process 0 a band at a time and written there.
    write_gathered_grid({pre_spinup_state::names[i]}, *pre_spinup.grids[i], as_text,
                        double_precision, false);
  }
  const own_grid& stack = own["Soil_Temperature_Stack"];
  if (as_text) {
    stack_matrix whole = gather_stack_copy(stack.index);
    if (rank == 0)
      write_stack("Soil_Temperature_Stack", whole, layer_count, as_text, double_precision);
  } else {
    write_stack("Soil_Temperature_Stack", stack.stack, layer_count, as_text, double_precision);
  }
}
