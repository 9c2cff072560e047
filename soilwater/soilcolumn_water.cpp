// Water kernels of one soil column (see soilcolumn_water.h).
#include "soilwater/soilcolumn_water.h"

#include <algorithm>
#include <cmath>

#include "tables/soiltable.h"

namespace {

constexpr double HEAD_TOLERANCE = 0.001;      // [m] heads closer than this do not cross
constexpr int BISECTION_STEPS = 51;           // halvings of the limiter's factor
constexpr double DRAINABLE_SUCTION = 3.45;    // [m] water held against drainage below it
constexpr double ROOT_ZONE_MARGIN = 0.00001;  // [m] below the root depth
constexpr double MM_PER_M = 1000.0;

size_t at(int i) { return static_cast<size_t>(i); }

// Water content of layer i from its start value and the fluxes.
double layer_balance(int i, const double* theta0, const double* q, const double* lateral,
                     const double* river_out, const double* river_in, const double* d,
                     double dt) {
  return theta0[i] + (q[i] - q[i - 1] - lateral[i] - river_out[i] + river_in[i]) * dt / d[i];
}

// The model object's linear interpolation, for a kernel without one.
double lerp(double x1, double y1, double x2, double y2, double x) {
  if (x2 == x1) return y1;
  return (x - x1) / (x2 - x1) * y2 + (x2 - x) / (x2 - x1) * y1;
}

// A positive bottom flux the dry layer does not need is taken off its
// lateral outflow or, with the exfiltration correction, off the
// exfiltration; false when neither applies.
bool take_off_outflows(double& qb, double& lateral, double& river_out, double& total_out,
                       bool exfiltration) {
  if (lateral > 0) {
    const double a = std::min(qb, lateral);
    lateral -= a;
    qb -= a;
    return true;
  }
  if (exfiltration) {
    const double a = std::min(qb, river_out);
    river_out -= a;
    total_out -= a;
    qb -= a;
    return true;
  }
  return false;
}

}  // namespace

double darcy_flux(double k, double head_a, double head_b, double d_a, double d_b) noexcept {
  return k * (head_a - head_b) / (-0.5 * (d_a + d_b));
}

int active_depth(const ColumnCell& cell, int i0, const double* river_in,
                 const double* river_out) noexcept {
  const int n = cell.layers;
  int i = std::max(i0, cell.lowest_extraction);
  while (i < n && (river_in[i + 1] > 0 || river_out[i + 1] > 0)) ++i;
  return std::min(i + 2, n);
}

double compute_heads(const soil_entry& soil, const ColumnCell& cell, int iteration,
                     const double* river_in, const double* river_out, const double* theta0,
                     const double* theta_relaxed, const double* z, const double* unfrozen,
                     double* h, double* psi0) {
  const int g = cell.groundwater_layer;
  const int last = std::min(active_depth(cell, g, river_in, river_out), cell.layers - 1);
  double mean_suction = 0;
  for (int j = 1; j <= last; ++j) {
    const double f = unfrozen ? unfrozen[j] : 1.0;
    if (iteration == 0) psi0[j] = soil.suction_from_theta(j, f * theta0[j]);
    const double psi = soil.suction_from_theta(j, f * theta_relaxed[j]);
    mean_suction = (psi + psi0[j]) / 2;
    const double mid = (z[j - 1] + z[j]) / 2;
    if (j < g) {
      h[j] = mid - mean_suction;
    } else if (j == g) {
      const double table = z[0] + cell.groundwater_distance;
      h[j] = (z[j] <= table && table <= z[j - 1]) ? table : mid - mean_suction;
    } else {
      h[j] = h[g] > mid ? h[g] : mid - mean_suction;
    }
  }
  return mean_suction;
}

BalanceResult balance_layers(const ColumnCell& cell, int pass_limit, double* river_in,
                             double* river_out, const double* theta0, const double* theta_sat,
                             const double* theta_res, double* q, double* lateral, const double* d,
                             double* theta_b, RiverTotals& totals) noexcept {
  BalanceResult result;
  result.last_layer = active_depth(cell, cell.groundwater_layer + 3, river_in, river_out);
  const double dt = cell.dt;
  const bool gw = cell.groundwater_model;
  while (result.passes < pass_limit) {
    ++result.passes;
    bool corrected = false;
    for (int i = result.last_layer; i >= 1; --i) {
      double qt = q[i - 1];
      double qb = q[i];
      double& r = river_in[i];
      double& x = river_out[i];
      double& t = lateral[i];
      theta_b[i] = layer_balance(i, theta0, q, lateral, river_out, river_in, d, dt);
      const bool excess = theta_b[i] > theta_sat[i];
      const bool deficit = !excess && theta_b[i] < theta_res[i];
      if (excess) {
        const double e = (theta_b[i] - theta_sat[i]) * d[i] / dt;
        const bool river = gw && cell.surface_interaction > 1 && r > 0;
        // A river inflow the layer cannot hold is given back to the river.
        auto give_back = [&](double& flux) {
          if (flux < 0 && river) {
            r += flux;
            totals.infiltration += flux;
            flux = 0;
          }
        };
        if (qt > 0 && qb >= 0) {
          qb -= e;
          give_back(qb);
        } else if (qt > 0) {
          if (river) {
            const double a = std::min(e, r);
            r -= a;
            totals.infiltration -= a;
          }
        } else if (qb > 0) {
          qt += e;
          if (qt > 0) {
            qb -= qt;
            qt = 0;
          }
          give_back(qb);
        } else {
          qt += e;
          if (qt > 0 && river) {
            const double a = std::min(qt, r);
            r -= a;
            totals.infiltration -= a;
            qt -= a;
          }
        }
      } else if (deficit) {
        double w;
        if (theta0[i] > theta_res[i])
          w = (theta_res[i] - theta_b[i]) * d[i] / dt;
        else if ((theta0[i] - theta_b[i]) * d[i] / dt > 0)
          w = (theta0[i] - theta_b[i]) * d[i] / dt;
        else
          w = -qb;
        const bool exf = gw && cell.surface_interaction > 0 && x > 0;
        if (qt > 0 && qb > 0) {
          qt -= w;
          if (qt < 0) {
            if (t > 0) {
              t += qt;
              qt = 0;
              if (t < 0) {
                qt = t;
                t = 0;
              }
            } else if (exf) {
              if (x + qt > 0) {
                x += qt;
                totals.exfiltration += qt;
                qt = 0;
              } else {
                qt += x;
                totals.exfiltration -= x;
                x = 0;
              }
            }
          }
        } else if (qb > 0) {
          if (t > 0) {
            t = std::max(0.0, t - w);
          } else if (exf) {
            const double a = std::min(w, x);
            x -= a;
            totals.exfiltration -= a;
          }
        } else if (qt <= 0) {
          qb += w;
          if (qb > 0 && !take_off_outflows(qb, t, x, totals.exfiltration, exf)) qb = 0;
        } else {
          qt -= w;
          if (qt < 0) {
            qb -= qt;
            qt = 0;
          }
          if (qb > 0) take_off_outflows(qb, t, x, totals.exfiltration, exf);
        }
      }
      if (excess || deficit) corrected = true;
      if (!excess && t < 0) t = 0;
      q[i - 1] = qt;
      q[i] = qb;
    }
    if (!corrected) {
      result.settled = true;
      break;
    }
  }
  return result;
}

double relax_theta(const ColumnCell& cell, int iteration, int& counter, const double* river_in,
                   const double* river_out, double* theta, double* theta_relaxed,
                   const double* theta0, const double* q, const double* lateral,
                   const double* d) noexcept {
  if (iteration > 3) counter = iteration - 3;
  const int last = active_depth(cell, cell.groundwater_layer, river_in, river_out);
  double largest = 0;
  for (int j = 1; j <= last; ++j) {
    const double previous = theta[j];
    if (iteration <= 3) theta_relaxed[j] = previous;
    const double e = layer_balance(j, theta0, q, lateral, river_out, river_in, d, cell.dt);
    theta[j] = e;
    if (iteration <= 3) {
      theta_relaxed[j] = (e + theta_relaxed[j]) / 2;
    } else {
      const double c = iteration - 3;
      theta_relaxed[j] = (c * theta_relaxed[j] + e) / (c + 1);
    }
    largest = std::max(largest, std::fabs(previous - e));
  }
  return largest;
}

double limit_flux(const soil_entry& soil, int i, const double* z, double* lateral, const double* h,
                  const double* theta0, double* q, double dt) {
  const double depth_i = z[i - 1] - z[i];
  const double depth_i1 = z[i] - z[i + 1];
  const double theta_sat = soil.theta_sat[at(i)];
  auto upper = [&] { return theta0[i] + (q[i] - lateral[i] - q[i - 1]) * dt / depth_i; };
  auto lower = [&] { return theta0[i + 1] + (q[i + 1] - lateral[i + 1] - q[i]) * dt / depth_i1; };
  double w_i = upper();
  if (w_i > theta_sat && q[i] > 0) {
    const double r = std::fabs((theta_sat - theta0[i]) * depth_i / dt) / q[i];
    q[i] = r < 1 ? r * q[i] : 0;
    w_i = upper();
  }
  const double mid_i = (z[i - 1] + z[i]) / 2;
  const double mid_i1 = (z[i] + z[i + 1]) / 2;
  // Both trial heads use layer i's retention curve.
  auto head_i = [&](double w) { return mid_i - soil.suction_from_theta(i, w); };
  auto head_i1 = [&](double w) { return mid_i1 - soil.suction_from_theta(i, w); };
  double hi = head_i(w_i);
  double hi1 = head_i1(lower());
  auto inverted = [&] {
    return (h[i] > h[i + 1] && hi1 > hi + HEAD_TOLERANCE) ||
           (h[i] < h[i + 1] && hi1 < hi - HEAD_TOLERANCE);
  };
  if (!inverted()) return q[i];
  const double q_start = q[i];
  const double t_start = lateral[i];
  double s = 1, step = 0.5;
  bool down = true;
  for (int k = 0; k < BISECTION_STEPS; ++k) {
    s += down ? -step : step;
    q[i] = s * q_start;
    lateral[i] = s * t_start;
    hi = head_i(upper());
    hi1 = head_i1(lower());
    if (inverted()) {
      down = true;
    } else {
      if (std::fabs(hi1 - hi) <= HEAD_TOLERANCE) break;
      down = false;
    }
    step /= 2;
  }
  return q[i];
}

void settle_river_take(RiverTake& take, double final_take_m3s) noexcept {
  if (!take.record) return;
  const double final_take = std::clamp(final_take_m3s, 0.0, take.reserved);
#pragma omp critical(riverflow_take)
  take.record->taken += final_take - take.reserved;
  take.reserved = 0;
}

void exchange_with_river(const soil_entry& soil, const ColumnCell& cell, const RiverCell& river,
                         const double* theta_sat, const double* theta0, const double* theta_relaxed,
                         const double* z, const double* h, const double* d, double* river_in,
                         double* river_out, RiverTotals& totals) {
  if (cell.surface_interaction <= 0) return;
  const int n = cell.layers;
  for (int j = 1; j <= n; ++j) river_in[j] = river_out[j] = 0;
  if (river.excluded || river.depth <= 0 || river.width <= 0) return;
  const double dt = cell.dt;
  const double b = river.depth, w = river.width, kr = river.kolmation;
  // A table outside the column (marker 0) is read as lying in layer 1.
  const int g = std::clamp(cell.groundwater_layer, 1, n);
  int ir = n;
  double cumulative = 0;
  for (int j = 1; j <= n; ++j) {
    cumulative += d[j];
    if (cumulative >= b) {
      ir = j;
      break;
    }
  }
  const double zb = z[0] - b;
  const double zg = z[0] + cell.groundwater_distance;
  if (zg > zb) {
    totals.infiltration = 0;
    const double u = zg - zb;
    totals.exfiltration = kr > 0 ? kr * u * w / river.cellsize : 0;
    const double a = (theta0[g] + theta_relaxed[g]) / 2 - soil.theta_from_suction(g, DRAINABLE_SUCTION);
    double rest = totals.exfiltration;
    auto give = [&](int j, double capacity) {
      river_out[j] = std::min(rest, std::max(0.0, capacity));
      rest -= river_out[j];
    };
    if (g < ir) {
      give(g, (zg - z[g]) * a / dt);
      for (int j = g + 1; j < ir; ++j) give(j, d[j] * a / dt);
      give(ir, (z[ir - 1] - zb) * a / dt);
    } else {
      give(ir, u * a / dt);
    }
    totals.exfiltration -= rest;
    return;
  }
  totals.exfiltration = 0;
  if (cell.surface_interaction == 1 || !river.take || !river.take->record) return;
  RiverTake& take = *river.take;
  const riverflow_record& rec = *take.record;
  const double y = rec.speed > 0 ? (rec.flowm3s / rec.speed) / w : 0;
  const double reference = g < ir ? zg : h[ir];
  double wanted = kr > 0 ? std::max(0.0, (zb + y - reference) * kr * w * river.cellsize) : 0;
  // Check and reserve in one section: cells computed at the same time never
  // take more than the river's flow together.
#pragma omp critical(riverflow_take)
  {
    take.record->taken -= take.reserved;
    wanted = std::min(wanted, std::max(0.0, take.record->flowm3s - take.record->taken));
    take.record->taken += wanted;
    take.reserved = wanted;
  }
  totals.infiltration = wanted / (river.cellsize * river.cellsize);
  if (totals.infiltration <= 0) return;
  double rest = totals.infiltration;
  bool visited = false;
  auto place = [&](int j) {
    const double room = (theta_sat[j] - (theta0[j] + theta_relaxed[j]) / 2) * d[j] / dt;
    river_in[j] = std::clamp(room, 0.0, rest);
    rest -= river_in[j];
    visited = true;
  };
  bool upward = true;
  if (g >= ir) {
    for (int j = ir; j <= g; ++j) place(j);
    upward = rest > 0;
  }
  if (upward) {
    int top = 1;
    if (b - y > 0) {
      top = n + 1;
      double above = d[1];
      for (int j = 2; j <= n; ++j) {
        if (above >= b - y) {
          top = j;
          break;
        }
        above += d[j];
      }
    }
    for (int j = ir - 1; j >= top + 1; --j) place(j);
  }
  totals.infiltration -= rest;
  if (visited && river.infiltration_tracers) {
    const int count = std::min(river.tracer_count, 9);
    for (int c = 1; c <= count; ++c) river.infiltration_tracers[c] = rec.flow_mm[c];
  }
}

double macropore_infiltration(const soil_entry& soil, int layers, double& w, const double* d,
                              const double* theta_sat, double dt, double* theta, double* capacity,
                              double* infiltration) noexcept {
  // The soil table holds threshold and capacity in m s-1.
  const double threshold = soil.PMacroThresh * MM_PER_M;       // [mm s-1]
  const double capacity_top = soil.MacroCapacity * MM_PER_M;   // [mm s-1]
  for (int j = 1; j <= layers; ++j) capacity[j] = infiltration[j] = 0;
  if (w <= threshold) return 0;
  int deepest = 0;
  double top = 0;
  for (int j = 1; j <= layers; ++j) {
    const double mid = top + d[j] / 2;
    if (mid >= soil.MacroDepth) break;
    capacity[j] = capacity_top * std::pow(soil.CapacityRedu, mid);
    deepest = j;
    top += d[j];
  }
  if (deepest == 0) return 0;
  double a = std::min(capacity_top, w - threshold);
  double placed = 0;
  for (int j = deepest; j >= 1 && a > 0; --j) {
    const double free_mm = (theta_sat[j] - theta[j]) * d[j] * MM_PER_M;
    if (free_mm <= 0) continue;
    if (a * dt > free_mm && free_mm < capacity[j] * dt) {
      theta[j] = theta_sat[j];
      a -= free_mm / dt;
      infiltration[j] = free_mm / dt;
      placed += free_mm;
    } else if (a <= capacity[j]) {
      theta[j] += a * dt / (d[j] * MM_PER_M);
      infiltration[j] = a;
      placed += a * dt;
      a = 0;
    } else {
      theta[j] += capacity[j] * dt / (d[j] * MM_PER_M);
      a -= capacity[j];
      infiltration[j] = capacity[j];
      placed += capacity[j] * dt;
    }
  }
  w -= placed / dt;
  return placed;
}

int extract_transpiration(const soil_entry& soil, int layers, const VegetationDemand& demand,
                          double dt, double evap_max_depth, double& root_depth, const double* d,
                          const double* theta_sat, const double* theta_res, const double* theta,
                          const double* z, const ExtractionLayers& out) {
  for (int j = 1; j <= layers; ++j)
    out.root_fraction[j] = out.root_weight[j] = out.transpiration[j] = out.evaporation[j] = 0;
  root_depth = std::max(root_depth, d[1]);
  const double depth = root_depth;
  const double root_bottom = z[0] - depth - ROOT_ZONE_MARGIN;
  int count = 0;
  double weight_sum = 0;
  auto add_root_layer = [&](int k, double part, double mid) {
    out.root_fraction[k] = part / depth;
    out.root_weight[k] =
        (1 + demand.root_dist * mid / depth) * (1 - mid / depth) * (part / depth);
    weight_sum += out.root_weight[k];
    count = k;
  };
  int k = 1;
  for (; k <= layers && z[k] > root_bottom; ++k) add_root_layer(k, d[k], z[0] - z[k] - d[k] / 2);
  if (k <= layers) {
    // A root depth on a layer boundary leaves no part below it, not a
    // negative one from rounding.
    const double part = std::max(0.0, z[k - 1] - root_bottom - ROOT_ZONE_MARGIN);
    add_root_layer(k, part, depth - part / 2);
  }
  if (weight_sum > 0)
    for (int j = 1; j <= count; ++j) out.root_weight[j] /= weight_sum;

  double unplaced = 0;
  const double rate = demand.potential * demand.coverage;
  for (int j = 1; j <= count; ++j) {
    double limit = soil.theta_from_suction(j, demand.hredu_dry);
    if (theta_res[j] >= limit) limit = (theta_sat[j] + 2 * theta_res[j]) / 3;
    double phi = 1;
    const double wet = demand.tredu_wet * theta_sat[j];
    if (theta[j] > wet)
      phi = lerp(wet, 1.0, theta_sat[j], demand.limit_redu_wet, std::min(theta_sat[j], theta[j]));
    else if (theta[j] < limit)
      phi = theta[j] > theta_res[j] ? (theta[j] - theta_res[j]) / (limit - theta_res[j]) : 0;
    if (phi < 1) {
      const double withheld = (1 - phi) * out.root_weight[j];
      out.root_weight[j] -= withheld;
      if (j < count && j < demand.pass_on_limit) {
        const double below = out.root_weight[j + 1];
        const double raised = std::min(below + withheld, 3 * below);
        out.root_weight[j + 1] = raised;
        unplaced += withheld - (raised - below);
      } else {
        unplaced += withheld;
      }
    }
    out.transpiration[j] = rate * out.root_weight[j];
    out.cell_transpiration[j] += out.transpiration[j];
  }

  double demand_left = unplaced * rate + demand.soil_evaporation;
  double above = 0;
  for (int j = 1; j <= layers && (j == 1 || above < evap_max_depth); ++j) {
    const double dry = (theta_sat[j] - theta[j]) / theta_sat[j];
    double p = (1 - dry * dry) * demand_left;
    const double transpired = j <= count ? out.transpiration[j] : 0;
    if (theta[j] <= (transpired * demand.coverage + p) * dt / d[j])
      p = (1 - demand.coverage) * theta[j] * d[j] / dt;
    out.evaporation[j] = std::min(demand_left, p);
    *out.cell_evaporation += out.evaporation[j];
    demand_left -= out.evaporation[j];
    above += d[j];
  }
  return count;
}
