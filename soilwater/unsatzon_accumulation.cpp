// The accumulation of one sub-step: every own cell's runoff into the
// travel-time zone queues of its subbasin, its states and fluxes into the
// per-subbasin statistics and its base-flow tracer into the tracers'
// records.
//
// Rows run on the threads (row_order_sums.h). A row sums its cells, in
// column order, into partial sums of only the records it touches; one thread
// adds the partials to the records in row order. The sums are thus the same
// for every thread count; they differ from a cell-by-cell sum over the band
// only in the grouping by rows.
#include <omp.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/row_order_sums.h"
#include "soilwater/unsatzon.h"
#include "tables/irrigation.h"

namespace {

constexpr int IRRIGATION_FROM_GROUNDWATER = 1;  // origin of an irrigation rule

// What one row adds: the subbasins and the queue records (subbasin, zone)
// in the order the row first touches them, each with its partial sums.
struct row_partials {
  std::vector<int> subbasins;
  std::vector<zone_sums> per_subbasin;  // per_subbasin_count per subbasin
  std::vector<int> queue_subbasin, queue_zone;
  std::vector<zone_sums> per_queue;  // direct t = 0..T, then interflow t = 0..T
  void clear() {
    subbasins.clear();
    per_subbasin.clear();
    queue_subbasin.clear();
    queue_zone.clear();
    per_queue.clear();
  }
};

inline void add_sums(zone_record& z, const zone_sums& p) {
  z.count += p.count;
  z.sum += p.sum;
  z.weight += p.weight;
}

}  // namespace

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
  const grid_matrix* irrigation_codes =
      irrigation != nullptr ? grid_of("irrigation_codes") : nullptr;
  std::map<int, int> origin_of;
  if (irrigation_codes != nullptr && modelobject::settings().irrigation_table != nullptr)
    for (const irrigation_entry& e : *modelobject::settings().irrigation_table)
      origin_of[e.code] = e.origin;

  // Each statistic with the grid it takes and the factor on it; a statistic
  // that is off adds nothing.
  struct stat_term {
    zonalstatistic* stat;
    const grid_matrix* grid;
    double factor;
  };
  std::vector<stat_term> terms;
  auto term = [&](us which, const char* grid_name, double factor) {
    zonalstatistic* st = statistics[static_cast<size_t>(which)].get();
    const grid_matrix* g = grid_of(grid_name);
    if (st != nullptr && !st->off() && g != nullptr) terms.push_back({st, g, factor});
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
  zonalstatistic* immobilised = glacier_old != nullptr && glacier != nullptr
                                    ? statistics[static_cast<size_t>(us::immobilised)].get()
                                    : nullptr;
  if (immobilised != nullptr && immobilised->off()) immobilised = nullptr;
  const grid_matrix* sb2 = grid_of("SB_2_grid");
  zonalstatistic* thaw = params.heat_flow_control > 0
                             ? statistics[static_cast<size_t>(us::thaw_depth)].get()
                             : nullptr;
  const grid_matrix* thaw_depth = grid_of("ThawDepthTMod");
  if (thaw != nullptr && (thaw->off() || thaw_depth == nullptr)) thaw = nullptr;

  // Tracer grids, looked up once per call.
  std::vector<const grid_matrix*> conc_qd(static_cast<size_t>(T) + 1, nullptr);
  std::vector<const grid_matrix*> conc_qi(static_cast<size_t>(T) + 1, nullptr);
  std::vector<const stack_matrix*> stored(static_cast<size_t>(T) + 1, nullptr);
  std::vector<char> evaporating(static_cast<size_t>(T) + 1, 0);
  for (int t = 1; t <= T; ++t) {
    const size_t ti = static_cast<size_t>(t);
    conc_qd[ti] = store_grid("_CONC_QD_" + std::to_string(t) + "_");
    conc_qi[ti] = store_grid("_CONC_QI_" + std::to_string(t) + "_");
    stored[ti] = &own["concstor_tracer_" + std::to_string(t) + "_" + name].stack;
    evaporating[ti] = tracer_list[t].evaporating == 1;
  }

  // The partial sums of a subbasin: the statistic terms, then the glacier
  // resizing, the base flow and the thaw depth where they are kept, then the
  // base flow of tracers 1..T.
  const size_t n_terms = terms.size();
  const size_t at_immobilised = n_terms;
  const size_t at_base = at_immobilised + (immobilised != nullptr ? 1 : 0);
  const size_t at_thaw = at_base + (base_records.empty() ? 0 : 1);
  const size_t at_tracers = at_thaw + (thaw != nullptr ? 1 : 0);
  const size_t per_subbasin_count = at_tracers + static_cast<size_t>(T);
  const size_t per_queue_count = 2 * (static_cast<size_t>(T) + 1);
  // Queue record (s, k) at queue_offset[s] + k.
  const int n = own_zone_count;
  std::vector<size_t> queue_offset(static_cast<size_t>(n) + 2, 0);
  for (int s = 1; s <= n; ++s)
    queue_offset[static_cast<size_t>(s) + 1] =
        queue_offset[static_cast<size_t>(s)] + static_cast<size_t>(zone_queues.zones_of(s)) + 1;

  // A row's partials join the records in row order.
  auto merge = [&](const row_partials& p) {
    for (size_t j = 0; j < p.subbasins.size(); ++j) {
      const int s = p.subbasins[j];
      const size_t si = static_cast<size_t>(s);
      const zone_sums* sums = &p.per_subbasin[j * per_subbasin_count];
      for (size_t i = 0; i < n_terms; ++i) terms[i].stat->add_sums(s, sums[i]);
      if (immobilised != nullptr) immobilised->add_sums(s, sums[at_immobilised]);
      if (!base_records.empty()) add_sums(base_records[si], sums[at_base]);
      if (thaw != nullptr) thaw->add_sums(s, sums[at_thaw]);
      for (int t = 1; t <= T; ++t)
        add_sums(tracers[static_cast<size_t>(t)].zones[si],
                 sums[at_tracers + static_cast<size_t>(t) - 1]);
    }
    for (size_t j = 0; j < p.queue_subbasin.size(); ++j) {
      const size_t si = static_cast<size_t>(p.queue_subbasin[j]);
      const size_t ki = static_cast<size_t>(p.queue_zone[j]);
      const zone_sums* sums = &p.per_queue[j * per_queue_count];
      for (size_t t = 0; t <= static_cast<size_t>(T); ++t) {
        add_sums(zone_queues.direct[t][si][ki], sums[t]);
        add_sums(zone_queues.interflow[t][si][ki], sums[static_cast<size_t>(T) + 1 + t]);
      }
    }
  };

  // One row's partial sums, its cells in column order. The slots tell where a
  // subbasin's and a queue record's partials stand in p (-1 while the row has
  // not touched them); they are left at -1 again.
  auto sum_row = [&](int r, row_partials& p, std::vector<int>& subbasin_slot,
                     std::vector<int>& queue_slot) {
    p.clear();
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
      const double W = rel_cell_area != nullptr ? (*rel_cell_area)[r][c] : 1.0;

      int& s_slot = subbasin_slot[si];
      if (s_slot < 0) {
        s_slot = static_cast<int>(p.subbasins.size());
        p.subbasins.push_back(s);
        p.per_subbasin.resize(p.per_subbasin.size() + per_subbasin_count);
      }
      int& q_slot = queue_slot[queue_offset[si] + static_cast<size_t>(k)];
      if (q_slot < 0) {
        q_slot = static_cast<int>(p.queue_subbasin.size());
        p.queue_subbasin.push_back(s);
        p.queue_zone.push_back(k);
        p.per_queue.resize(p.per_queue.size() + per_queue_count);
      }
      zone_sums* sums = &p.per_subbasin[static_cast<size_t>(s_slot) * per_subbasin_count];
      zone_sums* qd = &p.per_queue[static_cast<size_t>(q_slot) * per_queue_count];
      zone_sums* qi = qd + T + 1;

      double resized = 0;
      if (immobilised != nullptr) {
        const double old_f = (*glacier_old)[r][c], new_f = (*glacier)[r][c];
        if (old_f != new_f && old_f >= 0 && new_f >= 0) resized = (old_f - new_f) * (*sb2)[r][c];
      }
      if (f < 1) {
        const double v = 1 - f;
        const double d = direct[r][c], i = inter[r][c];
        qd[0].sum += d * W * v * S;
        qi[0].sum += i * W * v * S;
        qd[0].count += v;
        qi[0].count += v;
        qd[0].weight += W * v;
        qi[0].weight += W * v;
        for (int t = 1; t <= T; ++t) {
          const size_t ti = static_cast<size_t>(t);
          const bool evap = evaporating[ti] != 0;
          // Tracers are mixed by water: the sub-step count that turns the
          // water into the step's depth would multiply the concentration.
          auto add_tracer = [&](zone_sums& z, double amount, const grid_matrix* conc) {
            const double cv = conc != nullptr ? (*conc)[r][c] : 0.0;
            z.sum += evap ? W * amount * cv * v : cv * W * v;
            z.count += amount * v;
            z.weight += W * amount * v;
          };
          add_tracer(qd[ti], d, conc_qd[ti]);
          add_tracer(qi[ti], i, conc_qi[ti]);
        }
        for (size_t j = 0; j < n_terms; ++j)
          terms[j].stat->add_value_to(sums[j], r, c, terms[j].factor * (*terms[j].grid)[r][c], v);
        if (immobilised != nullptr)
          immobilised->add_value_to(sums[at_immobilised], r, c, resized, v);
        if (!base_records.empty()) {
          double b;
          if (groundwater_flag == 1) {
            b = S * (*exfiltration)[r][c];
          } else {
            b = S * base[r][c];
            if (irrigation_codes != nullptr && (*irrigation_codes)[r][c] != nodata) {
              const auto o = origin_of.find(static_cast<int>((*irrigation_codes)[r][c]));
              if (o != origin_of.end() && o->second == IRRIGATION_FROM_GROUNDWATER)
                // Both in mm per call: the base flow is already an amount
                // here, the irrigation of the step is spread over its calls.
                b = S * (base[r][c] - (*irrigation)[r][c] / S);
            }
          }
          zone_sums& z = sums[at_base];
          z.count += v;
          z.weight += W * v;
          z.sum += b * W * v;
        }
        if (T > 0) {
          const double b = groundwater_flag == 1 ? (*exfiltration)[r][c] : base[r][c];
          if (groundwater_flag != 1 || b > 0) {
            const int g = std::clamp(static_cast<int>(level[r][c]), 1, layer_count);
            for (int t = 1; t <= T; ++t) {
              const size_t ti = static_cast<size_t>(t);
              const double cv = (*stored[ti])[r][c][g];
              zone_sums& z = sums[at_tracers + ti - 1];
              if (evaporating[ti] != 0) {
                z.sum += cv * W * b * v;
                z.count += b * v;
                z.weight += W * b * v;
              } else {
                z.sum += cv * W * v;
                z.count += v;
                z.weight += W * v;
              }
            }
          }
        }
        if (thaw != nullptr) thaw->add_value_to(sums[at_thaw], r, c, (*thaw_depth)[r][c], 1);
      }
      if (f > 0) {
        qd[0].count += f;
        qi[0].count += f;
        qd[0].weight += W * f;
        qi[0].weight += W * f;
        for (size_t j = 0; j < n_terms; ++j) terms[j].stat->add_value_to(sums[j], r, c, 0.0, f);
        if (immobilised != nullptr)
          immobilised->add_value_to(sums[at_immobilised], r, c, resized, f);
        if (!base_records.empty()) {
          zone_sums& z = sums[at_base];
          z.count += f;
          z.weight += W * f;
          z.sum += 0.0 * W * f;
        }
      }
    }
    for (const int s : p.subbasins) subbasin_slot[static_cast<size_t>(s)] = -1;
    for (size_t j = 0; j < p.queue_subbasin.size(); ++j)
      queue_slot[queue_offset[static_cast<size_t>(p.queue_subbasin[j])] +
                 static_cast<size_t>(p.queue_zone[j])] = -1;
  };

  // Blocks of at least two rows per thread, else of rows up to BLOCK_CELLS
  // cells; two blocks' partials are held at a time (a row's partials take at
  // most about 1 kB per cell, a few kB per row in practice). Larger blocks
  // mean fewer barriers; the sums are the same for any block size.
  constexpr long BLOCK_CELLS = 131072;
  struct slots {
    std::vector<int> subbasin, queue;
  };
  sum_rows_in_order<row_partials>(
      row_blocks(*strips, first_row, last_row, 2 * omp_get_max_threads(), BLOCK_CELLS),
      [&] {
        return slots{std::vector<int>(static_cast<size_t>(n) + 1, -1),
                     std::vector<int>(queue_offset[static_cast<size_t>(n) + 1], -1)};
      },
      [&](int r, row_partials& p, slots& s) { sum_row(r, p, s.subbasin, s.queue); }, merge);
}
