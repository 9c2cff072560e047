// Outputs and end of the channel routing: the tracers' concentration
// statistics and decay factors, the flush of every buffered output, and the
// release with the state and the efficiency tables.
#include <cmath>

#include "modelbase/diagstream.h"
#include "routing/abfluss.h"
#include "routing/routing_reach_kernels.h"
#include "settings/tracer_entry.h"

namespace {

constexpr double MINUTES_PER_DAY = 60 * 24;
constexpr int TRACER_PRECISION = 99;

std::string first_chars(const std::string& s, size_t n) {
  return s.substr(0, std::min(n, s.size()));
}

}  // namespace

routing_decay_factors routing_decay(double half_time_days, double step_minutes,
                                    int time_splitting) noexcept {
  if (!(half_time_days > 0)) return {0.0, 0.0};
  const double mean_life = half_time_days * HALF_LIFE_TO_MEAN_LIFE;
  return {std::exp(-(step_minutes / MINUTES_PER_DAY) / mean_life),
          std::exp(-(step_minutes / time_splitting / MINUTES_PER_DAY) / mean_life)};
}

void abflussmodellklasse::init_tracers(int& status, int count, tracer_entry* list,
                                       statistics_registry* registry_in, int registry_size_in) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    registry = registry_in;
    registry_size = registry_size_in;
    tracer_count = list != nullptr ? std::max(count, 0) : 0;
    tracer_list = list;
    step_decay.assign(static_cast<size_t>(tracer_count) + 1, 1.0);
    interval_decay.assign(static_cast<size_t>(tracer_count) + 1, 1.0);
    tracers.clear();
    tracers.resize(static_cast<size_t>(tracer_count) + 1);
    for (int i = 1; i <= tracer_count; ++i) {
      const tracer_entry& e = list[i];
      module_tracer& mt = tracers[static_cast<size_t>(i)];
      // The module keeps its own factors: the shared entry is the other
      // modules', which step at other intervals.
      if (e.radioactive == 1) {
        const routing_decay_factors f = routing_decay(e.half_time, time_interval, time_splitting);
        step_decay[static_cast<size_t>(i)] = f.per_step;
        interval_decay[static_cast<size_t>(i)] = f.per_interval;
        mt.decay_factor = f.per_step;
      }
      mt.zones.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
      for (int z = 0; z <= zone_count; ++z) {
        mt.zones[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
        mt.zones[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
        mt.zones[static_cast<size_t>(z)].weight = (*zones)[static_cast<size_t>(z)].weight;
      }
      mt.statistics_file =
          e.path + first_chars(e.name, 3) + first_chars(name, 5) + "." + first_chars(e.statext, 3);
      int stat_status = 0;
      mt.statistic = std::make_unique<zonalstatistic>(
          stat_status, diag, registry, registry_size, rel_cell_area, nrows, ncols, mt.zones.data(),
          zone_count, e.statcode, TRACER_PRECISION, mt.statistics_file, output_directory,
          selected_zone_count, &selected_zones);
      if (stat_status != 0) throw stat_status;
      mt.statistic->write_header(
          name, "tracer concentration for tracer " + std::to_string(i) + " (" + e.name + ") ",
          registry, registry_size);
    }
  });
}

double abflussmodellklasse::step_decay_factor(int t) const {
  return t >= 1 && static_cast<size_t>(t) < step_decay.size() ? step_decay[static_cast<size_t>(t)]
                                                              : 1.0;
}

double abflussmodellklasse::interval_decay_factor(int t) const {
  return t >= 1 && static_cast<size_t>(t) < interval_decay.size()
             ? interval_decay[static_cast<size_t>(t)]
             : 1.0;
}

void abflussmodellklasse::write_tracer_statistics(int year, int month, int day, int hour) {
  for (int k = 1; k <= tracer_count && static_cast<size_t>(k) < tracers.size(); ++k) {
    module_tracer& mt = tracers[static_cast<size_t>(k)];
    if (!mt.statistic || mt.statistic->off()) continue;
    mt.statistic->clear_step_sums();
    for (int i = 1; i <= zone_count; ++i) {
      zone_record& z = mt.zones[static_cast<size_t>(i)];
      z.count += 1;
      z.weight += 1;
      z.sum += routing_flows[static_cast<size_t>(k)][static_cast<size_t>(i)];
    }
    // Routing lives on process 0 alone: no reduction over processes.
    mt.statistic->complete_step(year, month, day, hour, 0);
  }
}

void abflussmodellklasse::free_tracer_statistics() {
  if (flow_control == 0 || tracer_count < 1) return;
  for (size_t i = 1; i < tracers.size(); ++i) {
    module_tracer& mt = tracers[i];
    if (mt.statistic) {
      mt.statistic->release();
      mt.statistic.reset();
    }
    mt.statistics_file.clear();
    mt.zones.clear();
  }
}

void abflussmodellklasse::flush_outputs() {
  if (flow_control == 0) return;
  if (statistic != nullptr && !statistic->off()) statistic->write_rows();
  for (size_t i = 1; i < tracers.size(); ++i)
    if (tracers[i].statistic && !tracers[i].statistic->off()) tracers[i].statistic->write_rows();
  for (int i = 1; i <= reach_count(); ++i) reach(i).flush_outputs();
}

void abflussmodellklasse::release() {
  if (flow_control > 0) {
    if (initialized() != 0) write_state();
    storage_file_name.clear();
    free_tracer_statistics();
    if (initialized() != 0 && observed_reader != nullptr && rank == 0 && statistic != nullptr &&
        !statistic->off()) {
      comparison_table lin{};
      comparison_table log{};
      for (int j = 0; j < EFFICIENCY_SHIFTS; ++j) {
        lin[static_cast<size_t>(j)] = rsquare_sums[static_cast<size_t>(j)].data();
        log[static_cast<size_t>(j)] = log_rsquare_sums[static_cast<size_t>(j)].data();
      }
      statistic->write_efficiency_tables(lin, log);
    }
    observed_reader.reset();
    if (statistic != nullptr) statistic->release();
    statistic.reset();
    for (int i = 1; i <= reach_count(); ++i) reach(i).release();
    reaches.clear();
    routing_flows.clear();
    interval_flows.clear();
    channel_storage_table.clear();
    rsquare_sums.clear();
    log_rsquare_sums.clear();
  }
  if (precipitation_on_lakes_index > 0) {
    free_grid_entry(precipitation_on_lakes_index);
    precipitation_on_lakes_index = 0;
  }
  teilmodellklasse::release();
}
