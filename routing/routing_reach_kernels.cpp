// Translation and retention of one routing channel over a time step.
// Faster water entering a sub-channel may overtake queued water: the smaller
// of the two values leaves the queue into `displaced`; slower water leaves a
// gap that is filled from `displaced`. `displaced` thus closes the water
// balance of the queue and never returns to the outflow.
#include "routing/routing_reach_kernels.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double MINUTES_PER_DAY = 1440;  // [min d-1]

// Moves position pos of the queues into the displaced water of sub-channel e.
void displace(double* const* q, int pos, channel_state& s, int e, int ntr, double water) {
  double& held = s.displaced[0][static_cast<size_t>(e)];
  for (int k = 1; k <= ntr; ++k) {
    double& c = s.displaced[static_cast<size_t>(k)][static_cast<size_t>(e)];
    c = mix(c, q[k][pos], held, water);
  }
  held += water;
}

}  // namespace

double mix(double c1, double c2, double w1, double w2) noexcept {
  const double sum = std::fabs(w1) + std::fabs(w2);
  if (sum == 0) return 0;
  return (std::fabs(w1) * c1 + std::fabs(w2) * c2) / sum;
}

int queue_stride(const wq_table& t, int a) noexcept {
  int largest = 0;
  for (int i = 1; i <= t.rows(); ++i) largest = std::max(largest, t.delay[static_cast<size_t>(i)]);
  return largest + a;
}

channel_state make_channel_state(const wq_table& t, int a, int ntr) {
  const auto subs = static_cast<size_t>(t.subchannels) + 2;
  channel_state s;
  s.queue_end.assign(subs, 0);
  s.displaced.assign(static_cast<size_t>(ntr) + 1, std::vector<double>(subs, 0.0));
  s.qvzuq.assign(subs, 0.0);
  s.qaus.assign(subs, std::vector<double>(static_cast<size_t>(a) + 2, 0.0));
  return s;
}

void init_channel_state(const channel_kernel_params& p, channel_state& s, double x_mm) {
  const wq_table& t = *p.table;
  const int r = wq_interval_index(t, x_mm, p.dt);
  const int stride = queue_stride(t, p.a);
  for (int e = 1; e <= t.subchannels; ++e) {
    const auto ue = static_cast<size_t>(e);
    for (int m = 1; m <= p.a; ++m) s.qaus[ue][static_cast<size_t>(m)] = x_mm;
    s.qvzuq[ue] = 0;
    s.queue_end[ue] = p.a + (e - 1) * stride + t.delay[static_cast<size_t>(r)];
  }
}

void route_channel(const channel_kernel_params& p, channel_state& s, double* const* q,
                   double* const* series) {
  const wq_table& t = *p.table;
  const int a = p.a;
  const int ntr = p.ntr;
  const int stride = queue_stride(t, a);
  double decay[MAX_TRACER_INDEX + 1];
  for (int e = t.subchannels; e >= 1; --e) {
    const auto ue = static_cast<size_t>(e);
    double largest_in = series[0][1];
    for (int m = 2; m <= a; ++m) largest_in = std::max(largest_in, series[0][m]);
    const int d = t.delay[static_cast<size_t>(wq_interval_index(t, largest_in, p.dt))];
    for (int k = 1; k <= ntr; ++k) {
      const tracer_decay& td = p.decay[k];
      if (!td.radioactive)
        decay[k] = 1.0;
      else if (td.half_time > 0)
        decay[k] = std::exp(-(d * p.dt / a / MINUTES_PER_DAY) /
                            (td.half_time * HALF_LIFE_TO_MEAN_LIFE));
      else
        decay[k] = 0.0;
    }
    const int base = stride * (e - 1);
    const int s0 = base + a + 1 + d;
    const int b = s.queue_end[ue];

    if (s0 > b + 1) {
      // Gap behind slower water: filled with the smaller neighbour.
      const bool from_queue = q[0][b] < series[0][1];
      const double fill = from_queue ? q[0][b] : series[0][1];
      s.displaced[0][ue] -= fill * (s0 - b - 1);
      for (int pos = b + 1; pos <= s0 - 1; ++pos) {
        q[0][pos] = fill;
        for (int k = 1; k <= ntr; ++k) q[k][pos] = from_queue ? q[k][b] : series[k][1];
      }
    }
    for (int pos = s0; pos <= s0 + a - 1; ++pos) {
      const int m = pos - s0 + 1;
      const double x = series[0][m];
      if (pos > b || x >= q[0][pos]) {
        if (pos <= b) displace(q, pos, s, e, ntr, q[0][pos]);
        for (int k = 0; k <= ntr; ++k) q[k][pos] = series[k][m];
      } else {
        double& held = s.displaced[0][ue];
        for (int k = 1; k <= ntr; ++k) {
          double& c = s.displaced[static_cast<size_t>(k)][ue];
          c = mix(c, series[k][m], held, x);
        }
        held += x;
      }
    }
    // Queued water behind the faster inflow would fall beyond the new end of
    // the queue and be lost: it is overtaken like the water it passes.
    for (int pos = s0 + a; pos <= b; ++pos) displace(q, pos, s, e, ntr, q[0][pos]);

    for (int k = 0; k <= ntr; ++k) {
      double* v = q[k];
      std::copy(v + base + 1 + a, v + base + stride + 1 + a, v + base + 1);
      if (k > 0 && decay[k] != 1.0)
        for (int pos = base + 1; pos <= base + stride; ++pos) v[pos] *= decay[k];
    }
    s.queue_end[ue] = s0 - 1;

    double largest_out = q[0][base + 1];
    for (int m = 2; m <= a; ++m) largest_out = std::max(largest_out, q[0][base + m]);
    const double share = t.flood_share[static_cast<size_t>(wq_interval_index(t, largest_out, p.dt))];
    const double u = s.qvzuq[ue];
    for (int m = 1; m <= a; ++m) {
      const double x = q[0][base + m];
      double& y = s.qaus[ue][static_cast<size_t>(m)];
      const double out = p.c_flood * y * u + (1 - p.c_flood) * x * share +
                         p.c_main * y * (1 - u) + (1 - p.c_main) * x * (1 - share);
      series[0][m] = out;
      y = out;
    }
    s.qvzuq[ue] = share;
  }
}
