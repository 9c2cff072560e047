#include "vertical/irrigate_kernels.h"

#include <algorithm>

#include "tables/irrigation.h"

namespace {

constexpr double MINUTES_PER_DAY = 1440;
constexpr double MM_PER_M = 1000;
// [m3 s-1] per (mm per step over km2) is 1 / (0.06 dt [min]).
constexpr double FLOW_FACTOR = 0.06;

// Water to fill the root zone from sb up to sb_high [mm per step].
double fill_amount(const irrigation_cell& c, double dt) {
  return std::max(0.0, (c.sb_high - c.sb) * c.root_depth * MM_PER_M * dt / MINUTES_PER_DAY);
}

// A running irrigation stops at once on daily steps and once the soil is full.
double after_threshold(const irrigation_cell& c, double dt) {
  return dt >= MINUTES_PER_DAY || c.sb >= c.sb_high ? 0.0 : c.current;
}

void lower_reach(riverflow_table* flows, int z, double m3s, double dt) {
  if (flows == nullptr || z < 1 || z >= static_cast<int>(flows->size())) return;
  riverflow_record& r = (*flows)[static_cast<size_t>(z)];
  if (r.reach_number == 0) return;
  r.flowm3s -= m3s;
  r.flow_mm[0] = r.catchment_area > 0 ? FLOW_FACTOR * dt * r.flowm3s / r.catchment_area : 0.0;
  if (r.flowm3s < 0 || r.flow_mm[0] < 0) {
    r.flowm3s = 0;
    r.flow_mm[0] = 0;
  }
}

// The subbasins in the routing's order, then those it does not list.
std::vector<int> visiting_order(const routing_target_table* target, int n) {
  std::vector<int> order;
  std::vector<char> seen(static_cast<size_t>(n + 1), 0);
  if (target != nullptr)
    for (size_t k = 1; k < target->tributaries.size() && target->tributaries[k] > 0; ++k) {
      const int t = target->tributaries[k];
      if (t <= n && seen[static_cast<size_t>(t)] == 0) {
        seen[static_cast<size_t>(t)] = 1;
        order.push_back(t);
      }
    }
  for (int t = 1; t <= n; ++t)
    if (seen[static_cast<size_t>(t)] == 0) order.push_back(t);
  return order;
}

}  // namespace

double irrigation_amount(const irrigation_entry& e, const irrigation_cell& c, int64_t month,
                         int64_t day, double dt) {
  switch (e.method) {
    case 1:
    case 2:
      for (int k = 1; k <= e.tabcnt && k < static_cast<int>(e.month.size()); ++k)
        if (e.month[static_cast<size_t>(k)] == month && e.day[static_cast<size_t>(k)] == day)
          return e.amount[static_cast<size_t>(k)] * dt / MINUTES_PER_DAY;
      return 0;
    case 3:
      if (c.sb < c.sb_low) return c.current == 0 ? fill_amount(c, dt) : c.current;
      return after_threshold(c, dt);
    case 4:
      if (c.ratio < e.min_etr_etp) return c.current == 0 ? fill_amount(c, dt) : c.current;
      return after_threshold(c, dt);
    default:
      return e.method <= 0 ? 0.0 : c.current;
  }
}

surface_supply supply_surface_water(const supply_inputs& in, std::vector<double>& river,
                                    std::vector<double>& reservoir, riverflow_table* flows) {
  const int n = static_cast<int>(in.demand->size()) - 1;
  const std::vector<zone_record>& demand = *in.demand;
  const std::vector<double>& share = *in.area_share;
  surface_supply s;
  s.demand.assign(static_cast<size_t>(n + 1), 0.0);
  s.from_reservoir = s.demand;
  s.coverage.assign(static_cast<size_t>(n + 1), 1.0);
  for (int z = 1; z <= n; ++z) {
    const zone_record& d = demand[static_cast<size_t>(z)];
    const double m = d.weight > 0 ? d.sum / d.weight : 0.0;
    const double r = reservoir[static_cast<size_t>(z)];
    s.demand[static_cast<size_t>(z)] = m;
    s.from_reservoir[static_cast<size_t>(z)] = r > 0 ? std::min(m, r) : 0.0;
  }
  for (int t : visiting_order(in.target, n)) {
    const size_t ti = static_cast<size_t>(t);
    const double u = std::max(0.0, std::min(river[ti], s.demand[ti] - s.from_reservoir[ti]));
    if (u <= 0) continue;
    const double m3s = u * in.basin_area * share[ti] / (FLOW_FACTOR * in.dt_minutes);
    lower_reach(flows, t, m3s, in.dt_minutes);
    // The chain ends at a subbasin without downstream; n links at most, so a
    // circular table cannot hang the step.
    int d =
        in.target != nullptr && ti < in.target->downstream.size() ? in.target->downstream[ti] : 0;
    for (int links = 0; d > 0 && d <= n && links < n; ++links) {
      const size_t di = static_cast<size_t>(d);
      if (share[di] > 0) river[di] = std::max(0.0, river[di] - u * share[ti] / share[di]);
      lower_reach(flows, d, m3s, in.dt_minutes);
      d = di < in.target->downstream.size() ? in.target->downstream[di] : 0;
    }
  }
  for (int z = 1; z <= n; ++z) {
    const size_t zi = static_cast<size_t>(z);
    const double rest = s.demand[zi] - s.from_reservoir[zi];
    if (demand[zi].sum > 0 && rest > 1e-8) s.coverage[zi] = std::min(1.0, river[zi] / rest);
    if (s.coverage[zi] < 1 || s.demand[zi] > reservoir[zi]) s.shortfall = true;
  }
  return s;
}

double shortfall_amount(const surface_supply& s, const std::vector<double>& reservoir_before, int z,
                        double a) {
  const size_t zi = static_cast<size_t>(z);
  const double f_cov = s.coverage[zi];
  const double r = reservoir_before[zi];
  const double w_r = r + f_cov > 0 ? r / (r + f_cov) : 0.0;
  const double w_f = r + f_cov > 0 ? 1 - w_r : 1.0;
  const double f_res = r > 0 ? std::min(1.0, s.from_reservoir[zi] / r) : 0.0;
  return f_cov * w_f * a + f_res * w_r * a;
}
