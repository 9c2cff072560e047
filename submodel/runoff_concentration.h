// Runoff concentration per subbasin at the end of a step, shared by the
// unsaturated zone and the surface routing: the heads of the travel-time
// zone queues (Clark's time-area translation) pass a single linear storage
// per subbasin, solved exactly over the step (outflow of a reservoir
// S = k Q with an input held constant over the step), base flow joins
// without delay, and tracers are mixed in proportion to the water.
#pragma once

#include <vector>

#include "modelbase/gridtypes.h"
#include "submodel/runoffrecords.h"

// B = a A + m v: A the outflow of the previous step, v the step's input,
// both [mm per step].
struct linear_storage_weights {
  double a = 0;  // [-] exp(-dt / k)
  double m = 1;  // [-] 1 - a
};
// dt and k [min]; bypass (storages bypassed) gives a = 0, m = 1.
linear_storage_weights linear_storage(double step_minutes, double recession_minutes,
                                      bool bypass) noexcept;

// The value a record passes on: sum / weight, 0 for a weight of 0 or less.
double head_value(const zone_record& record) noexcept;

// Records first[0..last] of a statistic.
struct record_span {
  zone_record* first = nullptr;
  int last = -1;
};
// Sums count, weighted sum and weight of records 0 and 1 of every queue
// (both kinds, every tracer and subbasin) and of the extra spans over all
// processes at process 0, in one reduction; the other processes hold zeros
// there afterwards. Collective.
void reduce_queue_heads(flow_time_queues& queues, const std::vector<record_span>& extra);

// One kind of runoff (direct or interflow) of subbasin s after the
// reduction: head[t][s] from record 1 of queue[t][s], then storage[t][s]
// as the storage's outflow, the tracers mixed with the old content.
void route_head(const std::vector<std::vector<std::vector<zone_record>>>& queue, int subbasin,
                int tracer_count, const linear_storage_weights& weights,
                subbasin_flow_arrays& head, subbasin_flow_arrays& storage);

// A per-subbasin runoff statistic's record: count = weight = share,
// sum = value x share, so its row shows value.
void set_runoff_record(zone_record& record, double value) noexcept;

// Base flow of a subbasin from its summed base-flow statistic record: the
// weighted mean, never negative [mm per step].
double clipped_base_flow(const zone_record& record) noexcept;

// Qg[0][s] = QDd + QIi + QBb, added to the value already held for a
// glacierized subbasin (the snow module's glacier outflow of the step).
double total_runoff(double direct, double interflow, double base, double held,
                    bool glacierized) noexcept;

// Concentration of the total runoff of subbasin s for tracer t, mixed by
// the three water amounts; 0 when there is no water.
double mixed_total_concentration(const subbasin_flow_arrays& direct,
                                 const subbasin_flow_arrays& interflow,
                                 const subbasin_flow_arrays& base, int tracer,
                                 int subbasin) noexcept;
