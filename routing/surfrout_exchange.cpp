// Step bookkeeping of the surface routing and its exchange with the other
// modules: the tracer set-up with the travel-time zones, the start and end
// of a step (the runoff concentration through the zones and two linear
// storages into Qg), the storage content file, flushing and the end of run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "routing/surfrout.h"
#include "settings/tracer_entry.h"
#include "submodel/storage_content_file.h"

namespace {

constexpr const char* NOT_INITIALIZED_TAIL =
    ". This means that the actual model run will not initialize the flow "
    "travel time zones for "
    "direct runoff and interflow, as it was before version 9.08.06.";

}  // namespace

void surfaceroutingclass::init_tracers(int& status, int count, tracer_entry* list,
                                       statistics_registry* registry_in, int registry_size_in) {
  status = 0;
  if (flow_control == 0) return;
  teilmodellklasse::init_tracers(status, count, list, registry_in, registry_size_in);
  if (status != 0) return;
  try {
    flow_time_zones();
    const int t_count = tracer_count;
    conc_qd.assign(static_cast<size_t>(t_count) + 1, nullptr);
    conc_qi.assign(static_cast<size_t>(t_count) + 1, nullptr);
    storage_conc.assign(static_cast<size_t>(t_count) + 1, nullptr);
    storage_conc_index.assign(static_cast<size_t>(t_count) + 1, -1);
    own_storage_conc.clear();
    own_storage_conc.resize(static_cast<size_t>(t_count) + 1);
    conc_copy.clear();
    conc_copy.resize(static_cast<size_t>(t_count) + 1);
    if (t_count > 0) next_free_entry();
    const int halo_first = std::max(1, first_row - 1);
    const int halo_last = std::min(nrows, last_row + 1);
    for (int t = 1; t <= t_count; ++t) {
      const size_t k = static_cast<size_t>(t);
      const std::string number = std::to_string(t);
      conc_qd[k] = (*store)[require_grid("_CONC_QD_" + number + "_")].grid;
      conc_qi[k] = (*store)[require_grid("_CONC_QI_" + number + "_")].grid;
      const std::string shared = "concstor_tracer_" + number + "_SiltingUpModel";
      const int found = find_grid(shared);
      if (found > 0 && (*store)[found].grid != nullptr) {
        storage_conc[k] = (*store)[found].grid;
        continue;
      }
      grid_matrix& g = own_storage_conc[k];
      g = matrix(halo_first, halo_last, 0, ncols, nrows);
      initial_values(g, halo_first, halo_last, 0);
      storage_conc_index[k] = next_free_entry();
      register_grid(storage_conc_index[k], "", &g, nullptr, 0, shared,
                    static_cast<unsigned>(std::max(tracer_list[t].gridcode, 0)), halo_first,
                    halo_last);
      exchange_halo(storage_conc_index[k]);
      storage_conc[k] = &g;
      storage_conc_found = false;
    }
    for (auto* arrays : {&qg, &qd_own, &qdd, &qi_own, &qii})
      *arrays = make_flow_arrays(tracer_count, zone_count);
    flow_arrays_ready = true;
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
}

void surfaceroutingclass::flow_time_zones() {
  flow_time_zone_setup setup;
  // The unsaturated zone converted the flow times to steps before.
  fill_flow_time_setup(setup, false, *zone_index, *zones, zone_count);
  // Every sub-step adds each cell's weight once.
  setup.weight_scale = std::max(substeps, 1);
  setup.distribution_heading = "Flow time distribution:\n";
  setup.no_grid_text =
      "flow time distribution will not be calculated (no flow "
      "time grid provided)\n";
  setup.log_open_warning = "WARNING: log-file ";
  setup.distribution_warning = "WARNING:warning: error opening log-file ";
  ::flow_time_zones(setup, queues);
}

void surfaceroutingclass::begin_step(const model_date& step) {
  teilmodellklasse::time_step(step.hour, step.day, step.month, step.year);
  if (flow_control == 0) return;
  for (auto& s : statistics)
    if (s) s->clear_step_sums();
  for (int t = 1; t <= tracer_count; ++t)
    if (tracers[static_cast<size_t>(t)].statistic)
      tracers[static_cast<size_t>(t)].statistic->clear_step_sums();
  shift_zone_queues(queues);
}

void surfaceroutingclass::end_step(const model_date&) {
  if (flow_control == 0) return;
  concentrate_runoff();
  for (int t = 1; t <= tracer_count; ++t) {
    const int index = storage_conc_index[static_cast<size_t>(t)];
    if (index > 0) output_grid(index, 1, 0);
  }
  output_stack(own[VELOCITY].index);
  output_stack(own[FLUXES].index);
}

// Part of the runoff concentration shared in scheme with the unsaturated
// zone: heads of the queues summed at process 0, two linear storages, Qg.
void surfaceroutingclass::concentrate_runoff() {
  const int n = zone_count;
  for (int t = 0; t <= tracer_count; ++t)
    for (int s = 1; s <= n; ++s) {
      reduce_zone_records(queues.direct[static_cast<size_t>(t)][static_cast<size_t>(s)].data(), 1,
                          1);
      reduce_zone_records(queues.interflow[static_cast<size_t>(t)][static_cast<size_t>(s)].data(),
                          1, 1);
    }
  reduce_zone_records(stat_zones[STAT_QB].data(), n, 1);
  if (rank == 0) {
    auto head_value = [](const zone_record& r) { return r.weight > 0 ? r.sum / r.weight : 0.0; };
    auto pass_storage = [&](std::vector<std::vector<std::vector<zone_record>>>& queue,
                            subbasin_flow_arrays& q, subbasin_flow_arrays& out,
                            const std::vector<double>* constants, int s, zone_record& stat) {
      const size_t k = static_cast<size_t>(s);
      for (int t = 0; t <= tracer_count; ++t)
        q[static_cast<size_t>(t)][k] = head_value(queue[static_cast<size_t>(t)][k][1]);
      const double kel = constants != nullptr && k < constants->size() ? (*constants)[k] : 0;
      const double a = kel > 0 ? std::exp(-time_interval / kel) : 0;
      const double m = 1 - a;
      const double old = out[0][k];
      const double v = q[0][k];
      const double b = a * old + m * v;
      for (int t = 1; t <= tracer_count; ++t) {
        double& c = out[static_cast<size_t>(t)][k];
        c = b > 0 ? (v * q[static_cast<size_t>(t)][k] * m + old * c * a) / b : 0;
      }
      out[0][k] = b;
      stat.count = stat.weight = stat.share;
      stat.sum = b * stat.share;
    };
    for (int s = 1; s <= n; ++s) {
      const size_t k = static_cast<size_t>(s);
      pass_storage(queues.direct, *qd, qdd, kelsqd, s, stat_zones[STAT_QD][k]);
      const double base =
          qbb != nullptr && !qbb->empty() && k < (*qbb)[0].size() ? (*qbb)[0][k] : 0;
      zone_record& b = stat_zones[STAT_QB][k];
      b.count = b.weight = b.share;
      b.sum = base * b.share;
      pass_storage(queues.interflow, *qi, qii, kelsqi, s, stat_zones[STAT_QI][k]);
      qg[0][k] = qdd[0][k] + qii[0][k] + base;
      zone_record& g = stat_zones[STAT_QG][k];
      g.count = g.weight = g.share;
      g.sum = qg[0][k] * g.share;
    }
  }
  const statistic_index order[] = {STAT_QD, STAT_QI, STAT_QG, STAT_QB, STAT_STORAGE};
  for (statistic_index s : order)
    statistics[s]->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
  for (int t = 1; t <= tracer_count; ++t) {
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    if (rank == 0)
      for (int s = 1; s <= n; ++s) {
        const size_t k = static_cast<size_t>(s);
        const double o = qbb != nullptr && !qbb->empty() ? (*qbb)[0][k] : 0;
        const double ob = qbb != nullptr && static_cast<int>(qbb->size()) > t
                              ? (*qbb)[static_cast<size_t>(t)][k]
                              : 0;
        const double i = qii[0][k];
        const double d = qdd[0][k];
        double& c = qg[static_cast<size_t>(t)][k];
        c = o + i + d > 0 ? (d * qdd[static_cast<size_t>(t)][k] +
                             i * qii[static_cast<size_t>(t)][k] + o * ob) /
                                (o + i + d)
                          : 0;
        zone_record& r = mt.zones[k];
        r.count = 1;
        r.sum = c;
        r.weight = 1;
      }
    mt.statistic->complete_step(cur_year, cur_month, cur_day, cur_hour, 0);
  }
}

void surfaceroutingclass::flush_outputs() {
  if (flow_control == 0) return;
  for (auto& s : statistics)
    if (s) s->write_rows();
  for (int t = 1; t <= tracer_count; ++t)
    if (tracers[static_cast<size_t>(t)].statistic)
      tracers[static_cast<size_t>(t)].statistic->write_rows();
}

void surfaceroutingclass::free_tracer_statistics() {
  if (flow_control == 0) return;
  for (size_t k = 1; k < storage_conc_index.size(); ++k)
    if (storage_conc_index[k] > 0) {
      free_grid_entry(storage_conc_index[k]);
      storage_conc_index[k] = -1;
    }
  own_storage_conc.clear();
  conc_qd.clear();
  conc_qi.clear();
  storage_conc.clear();
  conc_copy.clear();
  for (auto* arrays : {&qg, &qd_own, &qdd, &qi_own, &qii}) arrays->clear();
  flow_arrays_ready = false;
  teilmodellklasse::free_tracer_statistics();
}

void surfaceroutingclass::end_run(int append) {
  if (flow_control == 0) {
    teilmodellklasse::release();
    return;
  }
  if (constructed && flow_arrays_ready) write_state(append);
  free_tracer_statistics();
  for (auto& s : statistics)
    if (s) {
      s->release();
      s.reset();
    }
  for (auto& z : stat_zones) z.clear();
  before.clear();
  after.clear();
  river_in.clear();
  loss.clear();
  storage_file_name.clear();
  queues = flow_time_queues{};
  release_own_grids();
  in.landuse.clear();
  in.coverage.clear();
  teilmodellklasse::release();
}

void surfaceroutingclass::release_own_grids() {
  for (own_grid& g : own) {
    if (g.created && g.index > 0) free_grid_entry(g.index);
    g.grid = grid_matrix();
    g.stack = stack_matrix();
    g.created = false;
    g.index = 0;
    g.used = nullptr;
  }
  next_head = grid_matrix();
}

std::string surfaceroutingclass::state_path(bool for_reading) const {
  return state_file_path(for_reading ? input_directory : output_directory, storage_file_name);
}

tracer_block_data surfaceroutingclass::state_blocks() {
  return tracer_block_data{&queues, &qdd, &qii, zone_count, tracer_count};
}

void surfaceroutingclass::read_state(const std::string* storage_file, int readgrid_in) {
  if (flow_control == 0) return;
  if (storage_file != nullptr) storage_file_name = *storage_file;
  if (readgrid_in == 0 || readgrid_in == 2 || readgrid_in == 4) return;
  const std::string path = state_path(true);
  if (rank == 0)
    warn_state_beyond_run(*diag, input_directory, storage_file_name, rank, process_count,
                          "SurfaceRoutingModel");
  file_handle file(std::fopen(path.c_str(), "rt"));
  if (file == nullptr) {
    diag_entry(*diag, "WARNING: error opening storage content file ", path, NOT_INITIALIZED_TAIL);
    return;
  }
  state_reader reader(*diag, file.get(), path, "SurfaceRoutingModel");
  if (!reader.find_section()) {
    diag_entry(*diag, "WARNING: error locking for the section [", "SurfaceRoutingModel", "] in ",
               path, NOT_INITIALIZED_TAIL);
    return;
  }
  const state_mismatch mismatch = [this](const std::string& label, double c, double s) {
    fail_state_mismatch(label, c, s);
  };
  state_in = &reader;
  try {
    read_state_count(reader, "number of subbasins", zone_count, mismatch);
    read_state_count(reader, "number of tracers", tracer_count, mismatch);
    read_tracer_blocks(reader, state_blocks(), mismatch);
  } catch (...) {
    state_in = nullptr;
    throw;
  }
  state_in = nullptr;
}

void surfaceroutingclass::write_state(int append) {
  if (flow_control == 0 || storage_file_name.empty()) return;
  const std::string path = state_path(false);
  file_handle out(std::fopen(path.c_str(), append != 0 ? "a" : "w"));
  if (out == nullptr) {
    diag_entry(*diag, "WARNING: the storage content file ", path,
               " could not be opened: the section [SurfaceRoutingModel] is not written",
               errno_text(errno));
    return;
  }
  std::FILE* f = out.get();
  std::fprintf(f, "[SurfaceRoutingModel]\n%d (number of subasins)\n%d (number of tracers)\n",
               zone_count, tracer_count);
  write_tracer_blocks(f, state_blocks());
  std::fprintf(f, "\n");
  const bool written = std::ferror(f) == 0;
  const int error = errno;
  if (std::fclose(out.release()) != 0 || !written)
    diag_entry(*diag, "WARNING: error writing the section [SurfaceRoutingModel] to ", path,
               errno_text(error));
}

void surfaceroutingclass::check_state_value(double control_value, const std::string& label) {
  // The section holds no value that is only compared; it reads from the
  // section while read_state runs.
  if (state_in == nullptr) fail_state_mismatch(label, control_value, NODATA);
  const double stored = state_in->read_double(label.c_str());
  if (state_value_differs(stored, control_value))
    fail_state_mismatch(label, control_value, stored);
}

void surfaceroutingclass::fail_state_mismatch(const std::string& label, double control_value,
                                              double file_value) {
  fail_state_value(*diag, label, control_value, file_value);
}
