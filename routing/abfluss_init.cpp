// Initialisation of the channel routing: the reaches are linked to the
// shared arrays, the internal inflows to their abstractions, and the runoff
// of the set-up is routed N times so that the channels hold water when the
// first step begins (N from the longest travel times at low flow).
#include <cmath>

#include "modelbase/diagstream.h"
#include "routing/abfluss.h"
#include "routing/internal_connections.h"
#include "routing/routing_descriptions.h"

void abflussmodellklasse::copy_flows_to_intervals() {
  const int last = zone_count + section_counts[KW_ZL];
  for (int k = 0; k <= routed_tracer_count; ++k) {
    const std::vector<double>& from = routing_flows[static_cast<size_t>(k)];
    for (int s = 1; s <= time_splitting; ++s) {
      std::vector<double>& to = interval_flows[static_cast<size_t>(k)][static_cast<size_t>(s)];
      for (int j = 1; j <= last; ++j) to[static_cast<size_t>(j)] = from[static_cast<size_t>(j)];
    }
  }
}

void abflussmodellklasse::check_internal_connections() {
  diag_entry(*diag, "checking connection of internal inflows and abstractions");
  std::vector<connection_reach> list;
  for (int i = 1; i <= reach_count(); ++i) {
    const routingclass& r = reach(i);
    connection_reach c;
    c.tg_code = r.code();
    c.subbasin_index = r.own_index();
    for (int z = 1; z <= r.inflow_count(); ++z)
      if (r.inflow(z).kind == INFLOW_INTERN) c.internal_inflows.push_back(r.inflow(z).code);
    for (int a = 1; a <= reach(i).abstraction_count(); ++a) {
      const AL_class& al = reach(i).abstraction(a);
      c.abstractions.push_back({al.number(), al.internal(), 0});
    }
    list.push_back(c);
  }
  try {
    connect_internal_inflows(list);
  } catch (const connection_fault& fault) {
    fail_fatal(*diag, fault.code, CONNECTION_FAULT_HEAD, fault.message);
  }
  // Connected abstractions learn the reach they feed: its first OL
  // tributary is the reference flow of their TargetCap.
  for (int i = 1; i <= reach_count(); ++i) {
    const connection_reach& c = list[static_cast<size_t>(i) - 1];
    for (int a = 1; a <= reach(i).abstraction_count(); ++a) {
      const int to = c.abstractions[static_cast<size_t>(a) - 1].connected_to;
      if (to <= 0) continue;
      for (int j = 1; j <= reach_count(); ++j) {
        routingclass& fed = reach(j);
        if (fed.own_index() != to) continue;
        int reference = 0;
        for (int ch = 1; ch <= fed.channel_count(); ++ch)
          if (fed.channel(ch).kind == channel_kind::ol) {
            reference = fed.channel(ch).flow_index;
            break;
          }
        reach(i).abstraction(a).connect_inflow(to, fed.reach_area(), fed.reach_factor(), reference,
                                               fed.reach_area());
        break;
      }
    }
  }
}

void abflussmodellklasse::init_routing() {
  if (flow_control == 0) return;
  const int n = zone_count;
  const int last = n + section_counts[KW_ZL];
  for (int k = 0; k <= routed_tracer_count; ++k) {
    std::vector<double>& f = routing_flows[static_cast<size_t>(k)];
    for (int i = 1; i <= n; ++i) f[static_cast<size_t>(i)] = (*qg)[static_cast<size_t>(k)][static_cast<size_t>(i)];
    for (int i = n + 1; i <= last; ++i) f[static_cast<size_t>(i)] = 0;
  }
  const observed_window* obs = observed_reader != nullptr ? &window : nullptr;
  for (int i = 1; i <= reach_count(); ++i)
    reach(i).link_arrays(&routing_flows, &interval_flows, &channel_storage_table, obs,
                         &observed_column);
  copy_flows_to_intervals();
  check_internal_connections();
  for (int i = 1; i <= reach_count(); ++i) reach(i).init_storages();

  int hours = 0;
  for (int i = 1; i <= reach_count(); ++i) hours += reach(i).longest_travel_hours();
  initial_routings = static_cast<int>(std::ceil(hours / time_interval * 60));
  if (initial_routings < 1) initial_routings = 1;
  if (state_readgrid != 0) return;

  diag_entry(*diag, "routing the initialization discharges (", initial_routings, " times)");
  DiagStream& diag_out = *diag;
  subbasin_flow_arrays kept = routing_flows;
  for (int rep = 0; rep < initial_routings; ++rep) {
    for (int k = 0; k <= routed_tracer_count; ++k)
      for (int i = 1; i <= last; ++i)
        kept[static_cast<size_t>(k)][static_cast<size_t>(i)] =
            routing_flows[static_cast<size_t>(k)][static_cast<size_t>(i)];
    copy_flows_to_intervals();
    for (int i = 1; i <= reach_count(); ++i) reach(i).route(0, 0, 0, 0);
    diag_out << ".";
    for (int k = 0; k <= routed_tracer_count; ++k)
      for (int i = 1; i <= n; ++i)
        routing_flows[static_cast<size_t>(k)][static_cast<size_t>(i)] =
            kept[static_cast<size_t>(k)][static_cast<size_t>(i)];
  }
  diag_out << "[end-entry]";
}
