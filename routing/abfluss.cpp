#include "routing/abfluss.h"

#include "modelbase/diagstream.h"
#include "routing/routing_descriptions.h"

int abflussmodellklasse::count_substring(const std::string& text, const std::string& pattern) {
  return ::count_substring(text, pattern);
}

double abflussmodellklasse::routed_value(int i) const {
  const double x = routing_flows[0][static_cast<size_t>(i)];
  if (output_unit != 1) return x;
  const double a = abfrel.area_share[static_cast<size_t>(i)];
  double q = x * abfrel.area_share[0] * a * 16.6666667 / time_interval;
  const double phi = reach_factor_of[static_cast<size_t>(i)];
  if (routing_target.description[static_cast<size_t>(i)] > 0) q /= phi;
  return q;
}

void abflussmodellklasse::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control == 0) return;
  if (qg_in == nullptr || qg_in->empty())
    fail_fatal(*diag, 43,
               "No valid discharges for discharge routing!\nYou have to run the model including "
               "at least precipitation interpolation and soil model\nif discharges are wished.");
  qg = qg_in;
  const size_t width = static_cast<size_t>(zone_count + section_counts[KW_ZL] +
                                           section_counts[KW_AL]) + 3;
  routing_flows.assign(static_cast<size_t>(routed_tracer_count) + 1,
                       std::vector<double>(width, 0.0));
}

void abflussmodellklasse::set_riverflow_table(riverflow_table* table) {
  if (flow_control == 0) return;
  riverflows = table;
  for (int i = 1; i <= reach_count(); ++i) reach(i).link_riverflow_table(table, i);
}

void abflussmodellklasse::make_irrigation_tables() {
  const int n = zone_count;
  // Tracer indices 0..9: the water and up to nine concentrations.
  maxirrig = make_flow_arrays(9, n);
  maxirrig_from_reservoirs = make_flow_arrays(9, n);
  routing_target.tributaries.assign(static_cast<size_t>(2 * n + 1), 0);
  routing_target.downstream.assign(static_cast<size_t>(n + 1), 0);
  routing_target.description.assign(static_cast<size_t>(n + 1), 0);
  abfrel.area_share.assign(static_cast<size_t>(n + 1), 0.0);
  abfrel.factor.assign(static_cast<size_t>(n + 1), 1.0);
  for (int z = 0; z <= n && zones != nullptr; ++z)
    abfrel.area_share[static_cast<size_t>(z)] = (*zones)[static_cast<size_t>(z)].share;
}

routing_target_table* abflussmodellklasse::get_routing_target() {
  return flow_control != 0 ? &routing_target : nullptr;
}

abfrel_table* abflussmodellklasse::get_abfrel() { return flow_control != 0 ? &abfrel : nullptr; }

void abflussmodellklasse::set_output_unit(int unit) {
  if (flow_control != 0) output_unit = unit;
}

void abflussmodellklasse::set_irrigation_demand(std::vector<zone_record>* demand) {
  if (flow_control == 0) return;
  irrigation_demand = demand;
  for (int i = 1; i <= reach_count(); ++i) reach(i).set_irrigation_demand(demand);
}

subbasin_flow_arrays* abflussmodellklasse::get_maxirrig() {
  return flow_control != 0 ? &maxirrig : nullptr;
}

subbasin_flow_arrays* abflussmodellklasse::get_maxirrig_from_reservoirs() {
  return flow_control != 0 ? &maxirrig_from_reservoirs : nullptr;
}
