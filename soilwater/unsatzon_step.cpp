// One sub-step of the unsaturated zone: the soil columns of every own cell,
// the copy of each hydrologic response unit's master results to its other
// cells, and the accumulation of every own cell's runoff into the
// travel-time zone queues of its subbasin (Clark's time-area scheme, emptied
// by end_step) and of its states and fluxes into the per-subbasin
// statistics; then the control cell's rows.
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

namespace {

constexpr int IRRIGATION_FROM_GROUNDWATER = 1;   // origin of an irrigation rule

}  // namespace

void unsatzonmodellklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  soil_column_step(hour, day, month, year);
  const std::vector<hru_entry>* units = modelobject::settings().hru_list;
  if (units != nullptr && units->size() > 1) copy_hru_states();
  accumulate_cells();
  write_control_cell_rows(hour, day, month, year);
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

void unsatzonmodellklasse::accumulate_cells() {
  using us = unsatzon_statistic;
  const int T = tracer_count;
  const double S = static_cast<double>(substeps);
  auto store_grid = [this](const std::string& grid_name) -> const grid_matrix* {
    const int i = find_grid(grid_name);
    return i > 0 ? (*store)[i].grid : nullptr;
  };
  auto grid_of = [&](const char* grid_name) -> const grid_matrix* {
    const auto i = own.find(grid_name);
    if (i != own.end() && !i->second.grid.empty()) return &i->second.grid;
    const auto l = links.find(grid_name);
    if (l != links.end() && l->second != nullptr) return l->second;
    return store_grid(grid_name);
  };
  const grid_matrix& direct = *grid_of("directflow");
  const grid_matrix& inter = *grid_of("interflow");
  const grid_matrix& base = *grid_of("baseflow");
  const grid_matrix& level = *grid_of("groundwater_level");
  const grid_matrix* glacier = store_grid("GlacierizedCells");
  const grid_matrix* glacier_old = store_grid("GlacierizedCellsOld");
  const grid_matrix* flow_times = surface_routing_active != 0 ? nullptr : store_grid("flow_times");
  const grid_matrix* exfiltration = groundwater_flag == 1 ? grid_of("river_exfiltration") : nullptr;
  const grid_matrix* irrigation = grid_of("irrigation_amounts");
  const grid_matrix* irrigation_codes = irrigation != nullptr ? grid_of("irrigation_codes") : nullptr;
  std::map<int, int> origin_of;
  if (irrigation_codes != nullptr && modelobject::settings().irrigation_table != nullptr)
    for (const irrigation_entry& e : *modelobject::settings().irrigation_table)
      origin_of[e.code] = e.origin;
  const double irrigation_divisor = time_interval * 60000.0 / S;  // [mm per sub-step] -> rate

  // Each statistic with the grid it takes and the factor on it.
  struct stat_term {
    zonalstatistic* stat;
    const grid_matrix* grid;
    double factor;
  };
  std::vector<stat_term> terms;
  auto term = [&](us which, const char* grid_name, double factor) {
    zonalstatistic* st = statistics[static_cast<size_t>(which)].get();
    const grid_matrix* g = grid_of(grid_name);
    if (st != nullptr && g != nullptr) terms.push_back({st, g, factor});
  };
  term(us::sb_1, "SB_1_grid", 1);
  term(us::sb_2, "SB_2_grid", 1);
  term(us::root, "ROOTgrid", 1);
  term(us::infex, "infiltration_excess", S);
  term(us::gwn, "groundwater_recharge", S);
  term(us::macro, "macropore_infiltration", S);
  if (params.method == 3) term(us::substeps, "number_of_substeps", 1);
  term(us::infilt, "total_infiltration", S);
  term(us::gwstand, "groundwater_distance", 1);
  if (groundwater_flag == 1) {
    term(us::gwin, "river_infiltration", S);
    term(us::gwex, "river_exfiltration", S);
  }
  if (find_grid("max_ponding_storage") > 0) term(us::pond, "ponding_storage", 1);
  if (find_grid("drainage_depth") > 0) term(us::qdrain, "drainage_flow", S);
  // Base flow is summed into the base-flow statistic's records even when
  // that statistic writes no file: end_step forms QBb from them.
  std::vector<zone_record>& base_records = statistic_zones[static_cast<size_t>(us::qb)];
  auto add_base = [&](int s, double W, double value, double share) {
    if (base_records.empty()) return;
    zone_record& z = base_records[static_cast<size_t>(s)];
    z.count += share;
    z.weight += W * share;
    z.sum += value * W * share;
  };
  zonalstatistic* immobilised = glacier_old != nullptr && glacier != nullptr
                                    ? statistics[static_cast<size_t>(us::immobilised)].get()
                                    : nullptr;
  const grid_matrix* sb2 = grid_of("SB_2_grid");
  zonalstatistic* thaw = params.heat_flow_control > 0
                             ? statistics[static_cast<size_t>(us::thaw_depth)].get()
                             : nullptr;
  const grid_matrix* thaw_depth = grid_of("ThawDepthTMod");

  // Tracer grids, looked up once per call.
  std::vector<const grid_matrix*> conc_qd(static_cast<size_t>(T) + 1, nullptr);
  std::vector<const grid_matrix*> conc_qi(static_cast<size_t>(T) + 1, nullptr);
  std::vector<const stack_matrix*> stored(static_cast<size_t>(T) + 1, nullptr);
  for (int t = 1; t <= T; ++t) {
    conc_qd[static_cast<size_t>(t)] = store_grid("_CONC_QD_" + std::to_string(t) + "_");
    conc_qi[static_cast<size_t>(t)] = store_grid("_CONC_QI_" + std::to_string(t) + "_");
    stored[static_cast<size_t>(t)] =
        &own["concstor_tracer_" + std::to_string(t) + "_" + name].stack;
  }

  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& strip = (*strips)[static_cast<size_t>(r)];
    for (int c = strip.first; c <= strip.last; ++c) {
      if (!own_cell(r, c)) continue;
      const double code = (*zone_grid)[r][c];
      if (code < 0 || code >= static_cast<double>(own_zone_index.size())) continue;
      const int s = own_zone_index[static_cast<size_t>(code)];
      if (s < 1 || s > own_zone_count) continue;
      const size_t si = static_cast<size_t>(s);
      const double f = glacier != nullptr ? std::clamp((*glacier)[r][c], 0.0, 1.0) : 0.0;
      // Zone 0 would never reach the outlet and a negative one lies outside
      // the queue: both count in zone 1, as at the set-up.
      const int k = flow_times != nullptr
                        ? std::min(flow_time_zone((*flow_times)[r][c]), zone_queues.zones_of(s))
                        : 1;
      const size_t ki = static_cast<size_t>(k);
      const double W = rel_cell_area != nullptr ? (*rel_cell_area)[r][c] : 1.0;
      zone_record& qd = zone_queues.direct[0][si][ki];
      zone_record& qi = zone_queues.interflow[0][si][ki];
      double resized = 0;
      if (immobilised != nullptr) {
        const double old_f = (*glacier_old)[r][c], new_f = (*glacier)[r][c];
        if (old_f != new_f && old_f >= 0 && new_f >= 0) resized = (old_f - new_f) * (*sb2)[r][c];
      }
      if (f < 1) {
        const double v = 1 - f;
        qd.sum += direct[r][c] * W * v * S;
        qi.sum += inter[r][c] * W * v * S;
        qd.count += v;
        qi.count += v;
        qd.weight += W * v;
        qi.weight += W * v;
        for (int t = 1; t <= T; ++t) {
          const size_t ti = static_cast<size_t>(t);
          const bool evaporating = tracer_list[t].evaporating == 1;
          // Tracers are mixed by water: the sub-step count that turns the
          // water into the step's depth would multiply the concentration.
          auto add_tracer = [&](zone_record& z, double d, const grid_matrix* conc) {
            const double cv = conc != nullptr ? (*conc)[r][c] : 0.0;
            z.sum += evaporating ? W * d * cv * v : cv * W * v;
            z.count += d * v;
            z.weight += W * d * v;
          };
          add_tracer(zone_queues.direct[ti][si][ki], direct[r][c], conc_qd[ti]);
          add_tracer(zone_queues.interflow[ti][si][ki], inter[r][c], conc_qi[ti]);
        }
        for (const stat_term& st : terms) st.stat->add_value(r, c, s, st.factor * (*st.grid)[r][c], v);
        if (immobilised != nullptr) immobilised->add_value(r, c, s, resized, v);
        {
          double b;
          if (groundwater_flag == 1) {
            b = S * (*exfiltration)[r][c];
          } else {
            b = S * base[r][c];
            if (irrigation_codes != nullptr && (*irrigation_codes)[r][c] != nodata) {
              const auto o = origin_of.find(static_cast<int>((*irrigation_codes)[r][c]));
              if (o != origin_of.end() && o->second == IRRIGATION_FROM_GROUNDWATER)
                b = S * (base[r][c] - (*irrigation)[r][c] / irrigation_divisor);
            }
          }
          add_base(s, W, b, v);
        }
        for (int t = 1; t <= T; ++t) {
          const size_t ti = static_cast<size_t>(t);
          const double b = groundwater_flag == 1 ? (*exfiltration)[r][c] : base[r][c];
          if (groundwater_flag == 1 && !(b > 0)) continue;
          const int g = std::clamp(static_cast<int>(level[r][c]), 1, layer_count);
          const double cv = (*stored[ti])[r][c][g];
          zone_record& z = tracers[ti].zones[si];
          if (tracer_list[t].evaporating == 1) {
            z.sum += cv * W * b * v;
            z.count += b * v;
            z.weight += W * b * v;
          } else {
            z.sum += cv * W * v;
            z.count += v;
            z.weight += W * v;
          }
        }
        if (thaw != nullptr && thaw_depth != nullptr) thaw->add_value(r, c, s, (*thaw_depth)[r][c], 1);
      }
      if (f > 0) {
        qd.count += f;
        qi.count += f;
        qd.weight += W * f;
        qi.weight += W * f;
        for (const stat_term& st : terms) st.stat->add_value(r, c, s, 0.0, f);
        if (immobilised != nullptr) immobilised->add_value(r, c, s, resized, f);
        add_base(s, W, 0.0, f);
      }
    }
  }
}

void unsatzonmodellklasse::write_control_cell_rows(int64_t hour, int64_t day, int64_t month,
                                                   int64_t year) {
  const int r = params.control_row;
  const int c = params.control_column;
  if (r <= 0 || cell_buffers.empty() || r < first_row || r > last_row || mpi_regions == nullptr ||
      (*mpi_regions)[r] == nullptr || (*mpi_regions)[r][c] != rank)
    return;
  const int L = layer_count;
  // Rows of a full buffer wait for the control-cell writer of the module's
  // outputs; until it empties the buffer, further rows are not kept.
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
