#include "submodel/runoff_concentration.h"

#include <algorithm>
#include <cmath>

#include "modelbase/distribution.h"

linear_storage_weights linear_storage(double step_minutes, double recession_minutes,
                                      bool bypass) noexcept {
  linear_storage_weights w;
  if (bypass) return w;
  w.a = std::exp(-step_minutes / recession_minutes);
  w.m = 1.0 - w.a;
  return w;
}

double head_value(const zone_record& record) noexcept {
  return record.weight > 0 ? record.sum / record.weight : 0.0;
}

void reduce_queue_heads(flow_time_queues& queues, const std::vector<record_span>& extra) {
  // Packed so that one reduction carries every head; each element is summed
  // exactly as a reduction of its own queue would sum it.
  std::vector<zone_record*> places;
  for (auto* kind : {&queues.direct, &queues.interflow})
    for (auto& tracer : *kind)
      for (size_t s = 1; s < tracer.size(); ++s)
        for (size_t k = 0; k < 2 && k < tracer[s].size(); ++k) places.push_back(&tracer[s][k]);
  for (const record_span& span : extra)
    if (span.first != nullptr)
      for (int k = 0; k <= span.last; ++k) places.push_back(span.first + k);
  if (places.empty()) return;
  std::vector<zone_record> packed(places.size());
  for (size_t i = 0; i < places.size(); ++i) packed[i] = *places[i];
  distribution::reduce_zone_records(packed.data(), static_cast<int>(packed.size()) - 1, true);
  for (size_t i = 0; i < places.size(); ++i) {
    places[i]->count = packed[i].count;
    places[i]->sum = packed[i].sum;
    places[i]->weight = packed[i].weight;
  }
}

void route_head(const std::vector<std::vector<std::vector<zone_record>>>& queue, int subbasin,
                int tracer_count, const linear_storage_weights& w, subbasin_flow_arrays& head,
                subbasin_flow_arrays& storage) {
  const size_t s = static_cast<size_t>(subbasin);
  for (int t = 0; t <= tracer_count; ++t) {
    const auto& records = queue[static_cast<size_t>(t)][s];
    head[static_cast<size_t>(t)][s] = records.size() > 1 ? head_value(records[1]) : 0.0;
  }
  const double old_water = storage[0][s];
  const double input = head[0][s];
  const double outflow = w.a * old_water + w.m * input;
  for (int t = 1; t <= tracer_count; ++t) {
    double& c = storage[static_cast<size_t>(t)][s];
    c = outflow > 0
            ? (input * head[static_cast<size_t>(t)][s] * w.m + old_water * c * w.a) / outflow
            : 0.0;
  }
  storage[0][s] = outflow;
}

void set_runoff_record(zone_record& record, double value) noexcept {
  record.count = record.share;
  record.weight = record.share;
  record.sum = value * record.share;
}

double clipped_base_flow(const zone_record& record) noexcept {
  return std::max(0.0, head_value(record));
}

double total_runoff(double direct, double interflow, double base, double held,
                    bool glacierized) noexcept {
  const double sum = direct + interflow + base;
  return glacierized ? held + sum : sum;
}

double mixed_total_concentration(const subbasin_flow_arrays& direct,
                                 const subbasin_flow_arrays& interflow,
                                 const subbasin_flow_arrays& base, int tracer,
                                 int subbasin) noexcept {
  const size_t s = static_cast<size_t>(subbasin);
  const size_t t = static_cast<size_t>(tracer);
  const double o = base[0][s];
  const double i = interflow[0][s];
  const double d = direct[0][s];
  if (o + i + d <= 0) return 0.0;
  return (d * direct[t][s] + i * interflow[t][s] + o * base[t][s]) / (o + i + d);
}
