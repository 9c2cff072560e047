// One step of the channel routing on process 0: the subbasins' runoff and
// the external inflows are routed through every reach in control-file order
// (upstream first), the irrigation demand is passed down the river network,
// and the routed discharge is compared with the observed discharge for the
// time shifts -10..10 steps (sums of the efficiency R^2 = 1 - sum (R - O)^2 /
// sum (O - mean O)^2, Nash and Sutcliffe 1970).
#include <omp.h>

#include <algorithm>
#include <cmath>

#include "modelbase/diagstream.h"
#include "routing/abfluss.h"
#include "routing/routing_descriptions.h"

void abflussmodellklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  gather_lake_cells();
  if (rank != 0) {
    return_lake_tracers();
    scatter_lake_ponding();
    return;
  }
  if (flow_control == 0) return;
  if (omp_in_parallel() == 0) teilmodellklasse::time_step(hour, day, month, year);
  const int y = static_cast<int>(year), m = static_cast<int>(month);
  const int d = static_cast<int>(day), h = static_cast<int>(hour);
  if (irrigation_demand != nullptr) reduce_irrigation_demand();
  for (int k = 0; k <= routed_tracer_count && static_cast<size_t>(k) < qg->size(); ++k) {
    const std::vector<double>& from = (*qg)[static_cast<size_t>(k)];
    std::vector<double>& to = routing_flows[static_cast<size_t>(k)];
    for (int i = 1; i <= zone_count; ++i) to[static_cast<size_t>(i)] = from[static_cast<size_t>(i)];
  }
  for (int i = 1; i <= reach_count(); ++i) reach(i).read_inflows(&routing_flows, y, m, d, h);
  copy_flows_to_intervals();
  for (int i = 1; i <= reach_count(); ++i) {
    reach(i).route(y, m, d, h);
    if (riverflows != nullptr) reach(i).update_riverflow_table();
  }
  if (irrigation_demand != nullptr) pass_demand_downstream();
  compare_with_observed(y, m, d, h);
  write_statistics(y, m, d, h);
  write_tracer_statistics(y, m, d, h);
  return_lake_tracers();
  scatter_lake_ponding();
}

void abflussmodellklasse::reduce_irrigation_demand() {
  std::vector<zone_record>& demand = *irrigation_demand;
  for (int i = 1; i <= zone_count; ++i) {
    const auto u = static_cast<size_t>(i);
    for (int k = 0; k <= routed_tracer_count; ++k) maxirrig[static_cast<size_t>(k)][u] = 0;
    zone_record& r = demand[u];
    r.sum = r.weight > 0 ? r.sum / r.weight : 0.0;
  }
  for (int i = 1; i <= zone_count; ++i) {
    zone_record& r = demand[static_cast<size_t>(i)];
    r.sum = std::max(0.0, r.sum - maxirrig_from_reservoirs[0][static_cast<size_t>(i)]);
  }
}

void abflussmodellklasse::pass_demand_downstream() {
  const std::vector<zone_record>& demand = *irrigation_demand;
  for (int e = 1; e <= zone_count; ++e) {
    const int u = routing_target.tributaries[static_cast<size_t>(e)];
    // A subbasin without a routing description of its own passes nothing on.
    if (u <= 0 || routing_target.description[static_cast<size_t>(u)] <= 0) continue;
    const double v = std::max(0.0, demand[static_cast<size_t>(u)].sum);
    const double share_u = demand[static_cast<size_t>(u)].share;
    int next = routing_target.downstream[static_cast<size_t>(u)];
    for (int hops = 0; next > 0 && hops < zone_count; ++hops) {
      maxirrig[0][static_cast<size_t>(next)] +=
          share_u * v / demand[static_cast<size_t>(next)].share;
      next = routing_target.downstream[static_cast<size_t>(next)];
    }
  }
}

void abflussmodellklasse::rotate_window() {
  std::rotate(window.begin(), window.begin() + 1, window.end());
}

void abflussmodellklasse::compare_with_observed(int year, int month, int day, int hour) {
  if (observed_reader == nullptr) return;
  TimeSeriesReader& r = *observed_reader;
  if (observed_end_count >= 10) {
    diag_entry(*diag, "INFO: observed runoff: actual date ", day, ".", month, ".", year, " ",
               hour, "h not found (end of discharge file at ", obs_day, ".", obs_month, ".",
               obs_year, ", ", obs_hour, "h)");
    rotate_window();
    std::fill(window.back().begin(), window.back().end(), 0.0);
    return;
  }
  ++comparison_step;
  const int code = qstat_code;
  const bool all_zones = (code >= 2000 && code <= 2999) || (code >= 4000 && code <= 4999);
  const bool listed = code >= 5000 && code <= 6999;
  std::vector<double>* registry_values =
      statistic != nullptr && !statistic->observed_values().empty() ? &statistic->observed_values()
                                                                     : nullptr;
  for (int i = 1; i <= zone_count; ++i) {
    const int e = observed_column[static_cast<size_t>(i)];
    // The registry gets the observed value of this step (row 10).
    const double current = e > 0 ? window[OBSERVED_CURRENT_ROW][static_cast<size_t>(e)] : 0.0;
    if (registry_values != nullptr) {
      if (all_zones && static_cast<size_t>(i) < registry_values->size())
        (*registry_values)[static_cast<size_t>(i)] = current;
      else if (listed && selected_zone_count > 0 &&
               static_cast<int>((*zones)[static_cast<size_t>(i)].code) == selected_zones[1] &&
               registry_values->size() > 1)
        (*registry_values)[1] = current;
    }
    if (e <= 0 || comparison_step <= rsquare_offset) continue;
    const double routed = routed_value(i);
    for (int j = 0; j < EFFICIENCY_SHIFTS; ++j) {
      const double o = window[static_cast<size_t>(j)][static_cast<size_t>(e)];
      if (!(o > 0)) continue;
      comparison_sums& s = rsquare_sums[static_cast<size_t>(j)][static_cast<size_t>(i)];
      s[0] += 1;
      s[1] += routed - o;
      s[2] += (routed - o) * (routed - o);
      s[3] += 1;
      s[4] += o;
      s[5] += o * o;
      if (routed > 0) {
        const double lr = std::log(routed), lo = std::log(o);
        comparison_sums& l = log_rsquare_sums[static_cast<size_t>(j)][static_cast<size_t>(i)];
        l[0] += 1;
        l[1] += lr - lo;
        l[2] += (lr - lo) * (lr - lo);
        l[3] += 1;
        l[4] += lo;
        l[5] += lo * lo;
      }
    }
  }
  rotate_window();
  fill_window_row(EFFICIENCY_SHIFTS - 1);
  r.next_row();
  if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA) {
    diag_entry(*diag, "INFO: end of discharge file reached!");
    ++observed_end_count;
  } else {
    r.get_date(obs_year, obs_month, obs_day, obs_hour);
    if (obs_year < 1000) obs_year += 1900;
  }
}

void abflussmodellklasse::write_statistics(int year, int month, int day, int hour) {
  if (statistic == nullptr || statistic->off()) return;
  statistic->clear_step_sums();
  for (int i = 1; i <= zone_count; ++i) {
    zone_record& z = statistic_zones[static_cast<size_t>(i)];
    z.count += 1;
    z.weight += 1;
    z.sum += routed_value(i);
  }
  statistic->complete_step_local(year, month, day, hour);
}
