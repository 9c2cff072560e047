// End of the unsaturated zone's step: the heads of the travel-time zones,
// summed over the processes, pass the linear storages of direct runoff and
// interflow; base flow joins without delay and the total goes to the
// routing (and, in glacierized subbasins, onto the snow module's glacier
// outflow). Then the step's statistics rows, output grids and tracer
// concentrations.
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_tracer_values.h"
#include "submodel/runoff_concentration.h"
#include "tables/soiltable.h"

void unsatzonmodellklasse::end_step(const model_date& step) {
  if (flow_control == 0) return;
  cur_hour = step.hour;
  cur_day = step.day;
  cur_month = step.month;
  cur_year = step.year;
  concentrate_runoff();
  complete_statistics();
  write_step_grids();
  end_step_tracers();
  // Records that feed QBb are summed whether or not their statistic writes
  // a file; a statistic that is off does not clear them at the next start.
  auto clear_if_off = [](const zonalstatistic* stat, std::vector<zone_record>& records) {
    if (stat != nullptr && !stat->off()) return;
    for (zone_record& z : records) z.count = z.sum = z.weight = 0;
  };
  clear_if_off(statistics[static_cast<size_t>(unsatzon_statistic::qb)].get(),
               statistic_zones[static_cast<size_t>(unsatzon_statistic::qb)]);
  for (int t = 1; t <= tracer_count; ++t)
    clear_if_off(tracers[static_cast<size_t>(t)].statistic.get(),
                 tracers[static_cast<size_t>(t)].zones);
}

void unsatzonmodellklasse::concentrate_runoff() {
  const int n = own_zone_count;
  const int T = tracer_count;
  auto& base_records = statistic_zones[static_cast<size_t>(unsatzon_statistic::qb)];
  std::vector<record_span> extra;
  if (!base_records.empty()) extra.push_back({base_records.data(), n});
  for (int t = 1; t <= T; ++t) {
    auto& records = tracers[static_cast<size_t>(t)].zones;
    extra.push_back({records.data(), static_cast<int>(records.size()) - 1});
  }
  reduce_queue_heads(zone_queues, extra);
  if (rank != 0) return;
  if (flow_qg.empty() || flow_qg[0].empty())
    fail_fatal(*diag, 57, "Qg[", 1,
               "] not initialized (may be, tracer module not linked? -> programmers error!)");
  const bool bypass = surface_routing_active != 0;
  const double dt = static_cast<double>(time_interval);
  auto record_of = [this](unsatzon_statistic which, int s) -> zone_record* {
    if (statistics[static_cast<size_t>(which)] == nullptr) return nullptr;
    return &statistic_zones[static_cast<size_t>(which)][static_cast<size_t>(s)];
  };
  for (int s = 1; s <= n; ++s) {
    const size_t si = static_cast<size_t>(s);
    route_head(zone_queues.direct, s, T,
               linear_storage(dt, params.subbasins.kelsqd[si], bypass), flow_qd, flow_qdd);
    if (zone_record* r = record_of(unsatzon_statistic::qd, s)) set_runoff_record(*r, flow_qdd[0][si]);
    zone_record* base = base_records.empty() ? nullptr : &base_records[si];
    flow_qbb[0][si] = base != nullptr ? clipped_base_flow(*base) : 0.0;
    if (base != nullptr) set_runoff_record(*base, flow_qbb[0][si]);
    route_head(zone_queues.interflow, s, T,
               linear_storage(dt, params.subbasins.kelsqi[si], bypass), flow_qi, flow_qii);
    if (zone_record* r = record_of(unsatzon_statistic::qi, s)) set_runoff_record(*r, flow_qii[0][si]);
    const bool glacierized = si < glacier_records.size() && glacier_records[si].glacierized;
    flow_qg[0][si] = total_runoff(flow_qdd[0][si], flow_qii[0][si], flow_qbb[0][si],
                                  flow_qg[0][si], glacierized);
    if (zone_record* r = record_of(unsatzon_statistic::qg, s)) set_runoff_record(*r, flow_qg[0][si]);
  }
}

void unsatzonmodellklasse::complete_statistics() {
  using us = unsatzon_statistic;
  struct row {
    us which;
    int summing;
  };
  // The four runoff statistics were formed on process 0 from summed heads.
  const row rows[] = {{us::gwstand, 1}, {us::gwn, 1},    {us::infilt, 1},      {us::macro, 1},
                      {us::substeps, 1}, {us::sb_1, 1},  {us::sb_2, 1},        {us::immobilised, 1},
                      {us::root, 1},     {us::infex, 1}, {us::qd, 0},          {us::qi, 0},
                      {us::qb, 0},       {us::gwin, 1},  {us::gwex, 1},        {us::qg, 0},
                      {us::qdrain, 1},   {us::pond, 1},  {us::thaw_depth, 1}};
  for (const row& r : rows) {
    if (r.which == us::substeps && params.method != 3) continue;
    if ((r.which == us::gwin || r.which == us::gwex) && groundwater_flag != 1) continue;
    zonalstatistic* s = statistics[static_cast<size_t>(r.which)].get();
    if (s != nullptr) s->complete_step(cur_year, cur_month, cur_day, cur_hour, r.summing);
  }
}

void unsatzonmodellklasse::write_step_grids() {
  auto grid = [this](const char* grid_name) {
    const auto i = own.find(grid_name);
    if (i != own.end() && i->second.index > 0) output_grid(i->second.index, 1, 0);
  };
  auto stack = [this](const char* grid_name) {
    const auto i = own.find(grid_name);
    if (i != own.end() && i->second.index > 0) output_stack(i->second.index);
  };
  for (const char* g : {"SB_1_grid", "SB_2_grid", "ROOTgrid"}) grid(g);
  for (const char* s : {"theta", "hydraulic_heads", "geodetic_heads", "q_down"}) stack(s);
  for (const char* g : {"groundwater_distance", "Theta_in_GWLEVEL", "groundwater_recharge",
                        "macropore_infiltration"})
    grid(g);
  if (params.method == 3) grid("number_of_substeps");
  for (const char* g : {"Capillar_Uprise", "Percolation", "groundwater_level",
                        "infiltration_excess", "infiltration_saturation", "directflow",
                        "interflow", "baseflow"})
    grid(g);
  if (groundwater_flag == 1) {
    grid("river_infiltration");
    grid("river_exfiltration");
  }
  grid("ponding_storage");
  grid("drainage_flow");
  if (params.heat_flow_control > 0 && params.heat_method > 0) {
    stack("Soil_Temperature_Stack");
    grid("ThawDepthTMod");
  }
}

void unsatzonmodellklasse::end_step_tracers() {
  const int T = tracer_count;
  if (T <= 0) return;
  const int n = own_zone_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const grid_matrix& soil_types = *links["soil_types"];
  const stack_matrix& theta = own["theta"].stack;
  // Looked up here: the map is not to be touched from the threads.
  std::vector<own_grid*> storages(static_cast<size_t>(T) + 1, nullptr);
  std::vector<char> evaporating(static_cast<size_t>(T) + 1, 0);
  for (int t = 1; t <= T; ++t) {
    storages[static_cast<size_t>(t)] = &own["concstor_tracer_" + std::to_string(t) + "_" + name];
    evaporating[static_cast<size_t>(t)] = tracer_list[t].evaporating == 1 ? 1 : 0;
  }
  // Every cell's values depend on that cell alone, so the rows may go to
  // any thread. A row's own cells, water contents and thicknesses are found
  // once for all tracers; then each tracer's row is passed in turn.
#pragma omp parallel
  {
    std::vector<int> cols;
    std::vector<double> top_theta, thickness;
#pragma omp for schedule(static)
    for (int r = first_row; r <= last_row; ++r) {
      cols.clear();
      top_theta.clear();
      thickness.clear();
      for (int c = 1; c <= ncols; ++c) {
        if (!own_cell(r, c)) continue;
        cols.push_back(c);
        top_theta.push_back(theta[r][c][1]);
        thickness.push_back(soils[static_cast<size_t>(soil_types[r][c])].thickness[1]);
      }
      if (cols.empty()) continue;
      for (size_t t = 1; t < storages.size(); ++t) {
        const bool evaporates = evaporating[t] != 0;
        double* const grid_row = storages[t]->grid[r];
        double* const* const stack_row = storages[t]->stack[r];
        for (size_t i = 0; i < cols.size(); ++i) {
          const int c = cols[i];
          grid_row[c] =
              top_layer_tracer_value(evaporates, stack_row[c][1], top_theta[i], thickness[i]);
        }
      }
    }
  }
  // Outputs and statistics rows tracer by tracer, in the order they had.
  for (int t = 1; t <= T; ++t) {
    output_grid(storages[static_cast<size_t>(t)]->index, 1, 0);
    module_tracer& tracer = tracers[static_cast<size_t>(t)];
    const size_t ti = static_cast<size_t>(t);
    for (int s = 1; s <= n; ++s) {
      const size_t si = static_cast<size_t>(s);
      // The tracer's records were summed with the queue heads.
      flow_qbb[ti][si] = rank == 0 ? head_value(tracer.zones[si]) : 0.0;
      flow_qg[ti][si] = mixed_total_concentration(flow_qdd, flow_qii, flow_qbb, t, s);
      zone_record& z = tracer.zones[si];
      z.count = 1;
      z.sum = flow_qg[ti][si];
      z.weight = 1;
    }
    if (tracer.statistic != nullptr)
      tracer.statistic->complete_step(cur_year, cur_month, cur_day, cur_hour, 0);
  }
}
