// The per-step kernel of a routing channel: translation through the queues
// of its sub-channels, whose delay follows the discharge, then a linear
// storage for the main channel and one for the flood plains per sub-channel
// (out = c y + (1 - c) x per storage, shared by the flood-plain share of the
// discharge). Also the small mixing rule of concentrations.
#pragma once

#include <vector>

#include "routing/channel_tables.h"

// Largest tracer index (water 0, up to nine tracers).
constexpr int MAX_TRACER_INDEX = 9;
// ln 2 as 1 / 1.442695041111: half-life [d] times it is the mean life [d].
constexpr double HALF_LIFE_TO_MEAN_LIFE = 1.442695041111;

// (|w1| c1 + |w2| c2) / (|w1| + |w2|), 0 when both weights are 0.
double mix(double c1, double c2, double w1, double w2) noexcept;

// How a tracer decays while it waits in a queue.
struct tracer_decay {
  bool radioactive = false;
  double half_time = -9999;  // [d]
};

// The states a sub-channel keeps between steps, indexed 1..P.
struct channel_state {
  std::vector<int> queue_end;                   // last occupied queue position
  std::vector<std::vector<double>> displaced;   // [k][e]: water [mm] (k 0) and concentrations
  std::vector<double> qvzuq;                    // [-] flood share used for the last outflow
  std::vector<std::vector<double>> qaus;        // [e][m]: outflow of sub-interval m [mm]
};

// What the kernel reads of the channel.
struct channel_kernel_params {
  const wq_table* table = nullptr;
  double c_main = 0;    // [-] storage coefficient of the main channel
  double c_flood = 0;   // [-] of the flood plains
  int a = 1;            // sub-intervals per step
  double dt = 60;       // [min]
  int ntr = 0;          // tracers
  const tracer_decay* decay = nullptr;  // 1..ntr
};

// Queue stride of one sub-channel: the largest delay plus a, so that the
// sub-channels' stretches of the queue never overlap.
int queue_stride(const wq_table& t, int a) noexcept;

// Allocates the sub-channel states (P of the table, a sub-intervals).
channel_state make_channel_state(const wq_table& t, int a, int ntr);

// Initial states: every sub-channel gives x [mm] in every sub-interval, no
// flood share, and its queue ends where a flow x would place its inflow.
void init_channel_state(const channel_kernel_params& p, channel_state& s, double x_mm);

// One step through sub-channels P..1. queues[k] is the channel's queue of
// tracer index k (positions 1..a + storage_elements), series[k] the
// sub-interval values 1..a: on entry the inflow, on return the outflow
// (the concentrations pass unchanged).
void route_channel(const channel_kernel_params& p, channel_state& s, double* const* queues,
                   double* const* series);
