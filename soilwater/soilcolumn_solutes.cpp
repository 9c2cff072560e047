// Solute transport in one soil column (see soilcolumn_solutes.h).
#include "soilwater/soilcolumn_solutes.h"

#include <algorithm>

namespace {

constexpr double NOT_REDUCED = 0.99999;  // outflow factors above this count as 1
constexpr double MIN_WATER = 0.001;      // [m3 m-3] below it a layer gives no mass share
constexpr double MM_PER_M = 1000.0;

// A column without a found table (marker below 1) counts as saturated only
// in its bottom layer.
int groundwater_layer(const SoluteCell& cell) {
  return cell.groundwater_layer < 1 ? cell.layers : cell.groundwater_layer;
}

// The layer-by-layer pass of one tracer.
class TracerPass {
 public:
  TracerPass(const SoluteCell& cell, const SoluteWater& w, const SoluteWork& k,
             const SoluteTracer& tracer, SoluteTracerState& state)
      : cell_(cell), w_(w), k_(k), tr_(tracer), st_(state), c_(MM_PER_M * cell.dt),
        runoff_(cell.direct_runoff - w.q[0]) {}

  void run(int depth, SoluteFlows* flows) {
    double above = 0;  // V of the layer above
    for (int l = 1; l <= depth; ++l) {
      const SoluteFlows f = tr_.evaporating ? concentration_layer(l, above) : mass_layer(l, above);
      above = f.out_bottom;
      if (flows) flows[l] = f;
    }
  }

 private:
  bool reduced(int l) const { return k_.factor[l] <= NOT_REDUCED; }
  double aquifer_return(int l) const {
    return cell_.groundwater_model && st_.aquifer ? *st_.aquifer * w_.rising[l] * c_ : 0;
  }

  SoluteFlows concentration_layer(int l, double above) {
    const int n = cell_.layers;
    const double* u = st_.u;
    const double* u0 = st_.u0;
    const double* q = w_.q;
    SoluteFlows f;
    if (l == 1)
      f.in_top = q[0] >= 0 ? -u0[1] * q[0] * c_ : -q[0] * u0[0] * c_;
    else
      f.in_top = above;
    // Outflow above the layer's water leaves at the state of the layer above.
    auto split = [&](double total, double part) {
      return reduced(l) ? (total - part) * u[l - 1] * c_ + u[l] * part * c_ : total * u[l] * c_;
    };
    if (q[l] > 0)
      f.out_bottom = l < n ? -u0[l + 1] * q[l] * c_ : 0;
    else
      f.out_bottom = reduced(l) ? -u0[l] * k_.q_f[l] * c_ - (q[l] - k_.q_f[l]) * u[l - 1] * c_
                                : -u0[l] * q[l] * c_;
    f.lateral = split(w_.lateral[l], k_.lateral_f[l]);
    f.base = split(w_.base[l], k_.base_f[l]) - aquifer_return(l);
    f.river_out = split(w_.river_out[l], k_.river_out_f[l]);
    f.river_in = w_.river_in[l] > 0 ? w_.river_in[l] * st_.river * c_ : 0;
    st_.interflow += f.lateral / c_;
    st_.baseflow += f.base / c_;
    st_.exfiltration += f.river_out / c_;
    const double water = w_.theta[l] * MM_PER_M * w_.d[l];
    st_.u[l] = w_.theta[l] > 0 ? (u0[l] * w_.d[l] * w_.theta0[l] * MM_PER_M + f.in_top -
                                  f.out_bottom - f.lateral - f.base - f.river_out + f.river_in) /
                                     water
                               : 0;
    return f;
  }

  // Mass share of layer l's mass moved by water rate rate.
  double share(double rate, int l, double mass) const {
    return w_.theta0[l] > MIN_WATER ? cell_.dt * rate / w_.d[l] * mass / w_.theta0[l] : 0;
  }
  // Mass share of the layer above carried by the excess rate. The share of a
  // layer is its mass times the excess water over its water, both in metres.
  double excess_share(int l, double excess) const {
    const double upper = st_.u[l - 1];
    if (l == 1) return runoff_ > 0 ? excess * cell_.dt * upper / (runoff_ * cell_.dt) : 0;
    return w_.theta[l - 1] > 0 ? excess * cell_.dt * upper / (w_.theta[l - 1] * w_.d[l - 1]) : 0;
  }
  // A lateral, base or river outflow of a non-evaporating tracer.
  double mass_outflow(int l, double total, double part) const {
    const double cap = total * tr_.max_conc * c_;
    double moved;
    if (!reduced(l)) {
      moved = share(total, l, st_.u[l]);
    } else {
      moved = share(part, l, st_.u[l]);
      if (w_.theta0[l - 1] > MIN_WATER) moved += excess_share(l, total - part);
    }
    return std::min(cap, moved);
  }

  SoluteFlows mass_layer(int l, double above) {
    const int n = cell_.layers;
    const double* u0 = st_.u0;
    const double* q = w_.q;
    const double kappa_c = tr_.max_conc * c_;
    SoluteFlows f;
    if (l == 1) {
      if (q[0] >= 0) {
        f.in_top = -std::min(q[0] * kappa_c, share(q[0], 1, u0[1]));
      } else {
        const double r = runoff_ > 0 ? -q[0] / runoff_ : 0;
        f.in_top = std::min(r * u0[0], -q[0] * kappa_c);
      }
    } else {
      f.in_top = above;
    }
    if (q[l] > 0) {
      f.out_bottom = l < n ? std::max(-share(q[l], l + 1, u0[l + 1]), -q[l] * kappa_c) : 0;
    } else {
      double moved;
      if (!reduced(l)) {
        moved = share(q[l], l, -u0[l]);
      } else {
        moved = share(k_.q_f[l], l, -u0[l]);
        moved -= excess_share(l, q[l] - k_.q_f[l]);
      }
      f.out_bottom = std::min(moved, -q[l] * kappa_c);
    }
    f.lateral = mass_outflow(l, w_.lateral[l], k_.lateral_f[l]);
    f.base = mass_outflow(l, w_.base[l], k_.base_f[l]) - aquifer_return(l);
    f.river_out = mass_outflow(l, w_.river_out[l], k_.river_out_f[l]);
    f.river_in = w_.river_in[l] > 0 ? w_.river_in[l] * st_.river * c_ : 0;
    st_.interflow += f.lateral;
    st_.baseflow += f.base;
    st_.exfiltration += f.river_out;
    st_.u[l] = u0[l] + f.in_top - f.out_bottom - f.lateral - f.base - f.river_out + f.river_in;
    if (l == 1) st_.u[0] -= f.in_top;
    return f;
  }

  const SoluteCell& cell_;
  const SoluteWater& w_;
  const SoluteWork& k_;
  const SoluteTracer& tr_;
  SoluteTracerState& st_;
  double c_;       // [mm per (m s-1)] over the sub-step
  double runoff_;  // P - q(0): water at the surface [m s-1]
};

// Mixes layers g..n (and the aquifer layer below the column).
void mix_saturated(const SoluteCell& cell, const SoluteWater& w, const SoluteTracer& tracer,
                   SoluteTracerState& st) {
  const int n = cell.layers, g = groundwater_layer(cell);
  if (g > n) return;
  double mass = 0, water = 0;
  for (int l = g; l <= n; ++l) {
    mass += tracer.evaporating ? st.u[l] * w.theta[l] * w.d[l] : st.u[l];
    water += w.theta[l] * w.d[l];
  }
  const bool aquifer = cell.groundwater_model && st.aquifer;
  // The aquifer part below the column; none when the column reaches deeper.
  const double below = aquifer ? std::max(0.0, cell.aquifer_thickness - (w.z[0] - w.z[n])) : 0;
  if (aquifer) {
    const double sat = tracer.evaporating ? w.theta_sat[n] : w.theta_sat[g];
    mass += *st.aquifer * sat * below * (tracer.evaporating ? 1 : MM_PER_M);
    water += below * sat;
  }
  const double mixed = water > 0 ? mass / water : 0;
  for (int l = g; l <= n; ++l)
    st.u[l] = tracer.evaporating ? mixed : w.d[l] * w.theta[l] * mixed;
  if (aquifer) *st.aquifer = tracer.evaporating ? st.u[n] : mixed / MM_PER_M;
}

}  // namespace

int transport_depth(const SoluteCell& cell, const SoluteWater& water) noexcept {
  const int n = cell.layers, g = groundwater_layer(cell);
  if (g >= n) return n;
  int m = g + 1;
  while (m < n && water.rising[m + 1] > 0) ++m;
  while (m < n && (water.river_in[m + 1] > 0 || water.river_out[m + 1] > 0)) ++m;
  return m;
}

int transport_solutes(const SoluteCell& cell, const SoluteWater& water, const SoluteWork& work,
                      const SoluteTracer* tracers, SoluteTracerState* states, int tracer_count,
                      SoluteFlows* flows) noexcept {
  const int n = cell.layers;
  const double dt = cell.dt;
  for (int j = 0; j < tracer_count; ++j)
    std::copy(states[j].u, states[j].u + n + 1, states[j].u0);
  const int depth = transport_depth(cell, water);
  for (int l = 1; l <= depth; ++l) {
    double& h = work.available[l];
    double& f = work.factor[l];
    h = 0;
    f = 1;
    if (water.theta0[l] > 0) {
      h = water.theta0[l] * water.d[l] / dt;
      const double out = water.lateral[l] + water.base[l] - water.q[l] + water.river_out[l];
      if (out > h && h > 0) f = h / out;
    }
    work.lateral_f[l] = f * water.lateral[l];
    work.base_f[l] = f * water.base[l];
    work.river_out_f[l] = f * water.river_out[l];
    work.q_f[l] = f * water.q[l];
  }
  for (int j = 0; j < tracer_count; ++j) {
    const SoluteTracer& tracer = tracers[j];
    SoluteTracerState& st = states[j];
    st.interflow = st.baseflow = st.exfiltration = 0;
    TracerPass(cell, water, work, tracer, st)
        .run(depth, flows ? flows + static_cast<size_t>(j) * static_cast<size_t>(n + 1) : nullptr);
    if (tracer.evaporating) {
      st.interflow = cell.interflow_total > 0 ? st.interflow / cell.interflow_total : 0;
      st.baseflow = cell.baseflow > 0 ? st.baseflow / cell.baseflow : 0;
      st.exfiltration = cell.groundwater_model && cell.exfiltration_total > 0
                            ? st.exfiltration / cell.exfiltration_total
                            : 0;
    }
    mix_saturated(cell, water, tracer, st);
    if (tracer.radioactive)
      for (int l = 0; l <= n; ++l) st.u[l] *= tracer.decay;
  }
  return depth;
}
