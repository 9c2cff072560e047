// Second set-up phase of the unsaturated zone (init_tracers): the travel-time
// zone queues, the tracers with their statistics, storage stacks and
// concentration grids, the links to the groundwater module and the river
// grids, the per-subbasin flow arrays and the river-flow table, and the
// first concentrations, base flow and total runoff of every subbasin.
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_column_services.h"
#include "soilwater/unsatzon_grids.h"
#include "tables/soiltable.h"

namespace {

std::string first_chars(const std::string& s, size_t n) {
  return s.substr(0, std::min(n, s.size()));
}

// "%s%.3s%.5s.%s": path, tracer name, a word and extension.
std::string tracer_file(const tracer_entry& e, const std::string& word, const std::string& ext) {
  return e.path + first_chars(e.name, 3) + first_chars(word, 5) + "." + ext;
}

}  // namespace

double unsatzonmodellklasse::get_decay_factor(int t) const {
  if (t < 1 || static_cast<size_t>(t) >= tracers.size()) return 1.0;
  return tracers[static_cast<size_t>(t)].decay_factor;
}

void unsatzonmodellklasse::init_tracers(int& status, int count, tracer_entry* list,
                                        statistics_registry* registry_in,
                                        int registry_size_in) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    registry = registry_in;
    registry_size = registry_size_in;
    tracer_count = list != nullptr ? std::max(count, 0) : 0;
    tracer_list = list;
    const int n = own_zone_count;

    flow_time_zone_setup setup;
    // The flow times are still seconds; the unsaturated zone ranks its own
    // zones.
    fill_flow_time_setup(setup, true, own_zone_index, own_zones, n);
    flow_time_zones(setup, zone_queues);

    set_up_tracers();
    link_groundwater_and_rivers();
    for (auto* arrays : {&flow_qg, &flow_qbb, &flow_qd, &flow_qdd, &flow_qi, &flow_qii})
      *arrays = make_flow_arrays(tracer_count, n);
    for (zone_record& z : own_zones) z.count = z.sum = z.weight = 0;
    for (size_t t = 1; t < tracers.size(); ++t)
      for (zone_record& z : tracers[t].zones) z.count = z.sum = z.weight = 0;
    set_first_state_of_runoff();
    if (readgrid == 1) read_state();
  });
}

void unsatzonmodellklasse::set_up_tracers() {
  const int T = tracer_count;
  tracers.clear();
  if (T < 1) return;
  tracers.resize(static_cast<size_t>(T) + 1);
  const int L = layer_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const grid_matrix& soil_types = *links["soil_types"];
  const stack_matrix& theta = own["theta"].stack;
  const grid_matrix& level = own["groundwater_level"].grid;
  const int cr = params.control_row, cc = params.control_column;
  const bool owns_control_cell = cr > 0 && cc > 0 && mpi_regions != nullptr &&
                                 cr >= mpi_regions->first_row() &&
                                 cr <= mpi_regions->last_row() && (*mpi_regions)[cr] != nullptr &&
                                 (*mpi_regions)[cr][cc] == rank;
  for (int t = 1; t <= T; ++t) {
    tracer_entry& e = tracer_list[t];
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    if (e.radioactive == 1) {
      if (!(e.half_time > 0))
        diag_entry(*diag, "WARNING: in modul ", name, ":\nhalf-time of tracer ", t, " (", e.name,
                   ") is ", e.half_time,
                   " days: it is taken as decaying at once (decay factor 0)\n");
      mt.decay_factor = substep_decay_factor(time_interval, substeps, e.half_time);
      e.decay_factor = mt.decay_factor;
    }
    mt.zones.assign(static_cast<size_t>(own_zone_count) + 1, zone_record{});
    for (size_t z = 0; z < mt.zones.size() && z < own_zones.size(); ++z) {
      mt.zones[z].code = own_zones[z].code;
      mt.zones[z].share = own_zones[z].share;
    }
    mt.statistics_file = tracer_file(e, name, e.statext);
    const std::string title =
        "tracer concentration for tracer " + std::to_string(t) + " (" + e.name + ") ";
    int stat_status = 0;
    mt.statistic = std::make_unique<zonalstatistic>(
        stat_status, diag, registry, registry_size, rel_cell_area, nrows, ncols, mt.zones.data(),
        own_zone_count, e.statcode, 99, mt.statistics_file, output_directory, selected_zone_count,
        &selected_zones);
    if (stat_status != 0) throw stat_status;
    mt.statistic->write_header(name, title, registry, registry_size);

    const std::string flux = "concflux_tracer_" + std::to_string(t) + "_";
    links["tracer_input_" + std::to_string(t)] =
        (*store)[require_one_of_4_grids(flux + "interception_model", flux + "snow_model",
                                        flux + "irrigation", flux + "input")]
            .grid;

    if (owns_control_cell) {
      const std::string file = tracer_file(e, "point", e.statext);
      std::FILE* f = std::fopen(file.c_str(), "wt");
      if (f == nullptr) fail_fatal(*diag, 65, "error opening tracer concentration file ", file);
      std::string head = "YY\tMM\tDD\tHH\t" + title + "[" + std::to_string(cr) + "][" +
                         std::to_string(cc) + "]";
      for (int l = 1; l <= L; ++l) head += "[" + std::to_string(l) + "]\t";
      head += "\n";
      std::fputs(head.c_str(), f);
      std::fclose(f);
      control_cell_buffer buffer;
      buffer.values_per_row = L + 1;
      buffer.capacity = control_cell_capacity(buffer.values_per_row);
      buffer.file_name = file;
      buffer.dates.resize(static_cast<size_t>(buffer.capacity) + 1);
      buffer.values.assign((static_cast<size_t>(buffer.capacity) + 1) *
                               static_cast<size_t>(buffer.values_per_row),
                           0.0);
      cell_buffers.push_back(std::move(buffer));
    }

    int index = 1;
    while (index < GRID_STORE_FULL - 1 && (*store)[index].grid_name.has_value()) ++index;
    if (index >= GRID_STORE_FULL - 1)
      fail_fatal(*diag, 12,
                 "no free grid left. please contact the author to set the number of grids to a "
                 "larger value ",
                 GRID_STORE_FULL);
    const std::string storage_name = "concstor_tracer_" + std::to_string(t) + "_" + name;
    mt.storage_file = tracer_file(e, name, e.gridext);
    own_grid& storage = own[storage_name];
    if (readgrid == 1) {
      read_stack(mt.storage_file, storage.stack, false);
      if (storage.stack.levels() != L)
        fail_fatal(*diag, 13, "wrong number of levels in stack ", mt.storage_file, " (there are ",
                   storage.stack.levels(), " levels, it must be ", L);
    } else {
      storage.stack = matrix_3d(first_row, last_row, 1, ncols, L, nrows);
      for (int r = first_row; r <= last_row; ++r)
        for (int c = 1; c <= ncols; ++c) {
          double* s = storage.stack[r][c];
          if (!own_cell(r, c)) {
            for (int l = 1; l <= L; ++l) s[l] = nodata;
            continue;
          }
          const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
          const int g = service_groundwater_layer(level[r][c], L);
          for (int l = 1; l <= L; ++l) {
            const double start = l < g ? e.soilini : e.gwini;
            s[l] = e.evaporating == 1
                       ? start
                       : start * theta[r][c][l] * 1000 * soil.thickness[static_cast<size_t>(l)];
          }
        }
    }
    storage.grid = matrix(first_row, last_row, 1, ncols, nrows);
    storage.index = index;
    mt.storage_index = index;
    register_grid(index, mt.storage_file, &storage.grid, &storage.stack, L, storage_name,
                  static_cast<unsigned>(std::max(e.gridcode, 0)), first_row, last_row);

    const int silting = find_grid("concflux_tracer_" + std::to_string(t) + "_SiltingUpModel");
    links["tracer_silting_" + std::to_string(t)] = silting > 0 ? (*store)[silting].grid : nullptr;

    const std::vector<std::string> runoff = {"_CONC_QD_" + std::to_string(t) + "_",
                                             "_CONC_QI_" + std::to_string(t) + "_"};
    const std::vector<int> entries = next_store_entries(*diag, *store, index + 1, runoff);
    for (size_t i = 0; i < runoff.size(); ++i) {
      own_grid& g = own[runoff[i]];
      g.grid = matrix(first_row, last_row, 1, ncols, nrows);
      g.index = entries[i];
      for (int r = first_row; r <= last_row; ++r)
        for (int c = 1; c <= ncols; ++c) g.grid[r][c] = own_cell(r, c) ? 0 : nodata;
      register_grid(g.index, "", &g.grid, nullptr, 0, runoff[i], 0, first_row, last_row);
    }
  }
}

void unsatzonmodellklasse::link_groundwater_and_rivers() {
  if (groundwater_flag != 1) return;
  if (params.surface_interaction != 0)
    for (const char* n : {"river_depth", "river_width", "river_links", "kolmation"})
      links[n] = (*store)[require_grid(n)].grid;
  build_statistic(unsatzon_statistic::gwin,
                  params.stat_files[static_cast<size_t>(unsatzon_stat_file::gwin)]);
  build_statistic(unsatzon_statistic::gwex,
                  params.stat_files[static_cast<size_t>(unsatzon_stat_file::gwex)]);
  const std::vector<std::string> names = {"river_infiltration", "river_exfiltration"};
  const std::vector<int> entries = own_grid_entries(*diag, *store, names);
  const unsatzon_grid_file files[] = {unsatzon_grid_file::gwin, unsatzon_grid_file::gwex};
  for (size_t i = 0; i < names.size(); ++i) {
    own_grid& g = own[names[i]];
    g.grid = matrix(first_row, last_row, 1, ncols, nrows);
    g.index = entries[i];
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) g.grid[r][c] = own_cell(r, c) ? 0 : nodata;
    const grid_file& f = params.grid_files[static_cast<size_t>(files[i])];
    register_grid(g.index, f.name, &g.grid, nullptr, 0, names[i],
                  static_cast<unsigned>(std::max(f.write_code, 0)), first_row, last_row);
  }
  for (int t = 1; t <= tracer_count; ++t) {
    const std::string n = "concstor_tracer_" + std::to_string(t) + "_layer_1_groundwater_flow";
    links[n] = (*store)[require_grid(n)].grid;
  }
  for (const char* n : {"aquifer_thickness_1", "gw_storage_coeff_1"})
    links[n] = (*store)[require_grid(n)].grid;
  riverflow.assign(static_cast<size_t>(own_zone_count) + 1, riverflow_record{});
}

void unsatzonmodellklasse::set_first_state_of_runoff() {
  const int L = layer_count;
  const int n = own_zone_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const grid_matrix& soil_types = *links["soil_types"];
  const stack_matrix& theta = own["theta"].stack;
  const grid_matrix& level = own["groundwater_level"].grid;
  const grid_matrix& distance = own["groundwater_distance"].grid;
  grid_matrix& baseflow = own["baseflow"].grid;
  const bool groundwater = groundwater_flag == 1;
  const int T = tracer_count;
  // Concentrations at the groundwater table, per tracer, of the own cells.
  for (int t = 1; t <= T; ++t) {
    const tracer_entry& e = tracer_list[t];
    own_grid& storage = own["concstor_tracer_" + std::to_string(t) + "_" + name];
    grid_matrix* gw = nullptr;
    if (groundwater) {
      const int i = find_grid("concstor_tracer_" + std::to_string(t) + "_layer_1_groundwater_flow");
      gw = i > 0 ? (*store)[i].grid : nullptr;
    }
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) {
        if (!own_cell(r, c)) continue;
        const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
        const int g = service_groundwater_layer(level[r][c], L);
        const double conc = first_concentration(
            e.evaporating == 1, storage.stack[r][c][g], theta[r][c][g],
            soil.thickness[static_cast<size_t>(g)], e.max_conc);
        storage.grid[r][c] = conc;
        if (gw != nullptr) (*gw)[r][c] = conc;
      }
  }
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const double code = (*zone_grid)[r][c];
      if (code < 0 || code >= static_cast<double>(own_zone_index.size())) continue;
      const size_t s = static_cast<size_t>(own_zone_index[static_cast<size_t>(code)]);
      if (s < 1 || s > static_cast<size_t>(n)) continue;
      if (!groundwater)
        baseflow[r][c] = first_base_flow(params.subbasins.Q0[s], params.subbasins.kelsqlat[s],
                                         distance[r][c]);
      const double b = baseflow[r][c];
      const double w = rel_cell_area != nullptr ? (*rel_cell_area)[r][c] : 1.0;
      own_zones[s].sum += b * w;
      own_zones[s].count += 1;
      own_zones[s].weight += w;
      for (int t = 1; t <= T; ++t) {
        const double conc = own["concstor_tracer_" + std::to_string(t) + "_" + name].grid[r][c];
        zone_record& z = tracers[static_cast<size_t>(t)].zones[s];
        z.sum += w * b * conc;
        z.count += b;
        z.weight += w * b;
      }
    }
  // The routing reads Qg on process 0: the sums of all processes, as at the
  // end of every step.
  reduce_zone_records(own_zones.data(), n, 1);
  for (int t = 1; t <= T; ++t)
    reduce_zone_records(tracers[static_cast<size_t>(t)].zones.data(), n, 1);
  for (int s = 1; s <= n; ++s) {
    zone_record& z = own_zones[static_cast<size_t>(s)];
    flow_qg[0][static_cast<size_t>(s)] = rank == 0 && z.weight != 0 ? z.sum / z.weight : 0;
    for (int t = 1; t <= T; ++t) {
      zone_record& tz = tracers[static_cast<size_t>(t)].zones[static_cast<size_t>(s)];
      flow_qg[static_cast<size_t>(t)][static_cast<size_t>(s)] =
          rank == 0 && tz.weight > 0 ? tz.sum / tz.weight : 0;
    }
  }
  for (zone_record& z : own_zones) z.count = z.sum = z.weight = 0;
  for (int t = 1; t <= T; ++t)
    for (zone_record& z : tracers[static_cast<size_t>(t)].zones) z.count = z.sum = z.weight = 0;
}
