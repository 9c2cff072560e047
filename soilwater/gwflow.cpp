#include "soilwater/gwflow.h"

#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"

gwflowclass::gwflowclass(int& status, DiagStream* diag_stream, statistics_registry* registry_in,
                         int registry_size_in, const std::string& section,
                         grid_store* store_in, const settings_context& settings, int substeps_in,
                         const zone_table_view& zone_table)
    : teilmodellklasse(diag_stream, section, store_in, settings, substeps_in, 1, &zone_table) {
  registry = registry_in;
  registry_size = registry_size_in;
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    // A SpinUp runs without groundwater flow.
    if (settings.spinup_switch != 0) {
      flow_control = 0;
      control.reset();
      return;
    }
    mpi_regions = (*store)[require_grid("MPIRegions")].grid;
    write_source_banner(*diag, "gwflow", __DATE__, __TIME__);
    read_section();
    std::FILE* file = control.release();
    if (std::fclose(file) != 0)
      fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
    link_grids();
    set_layer1_thickness();
    const int first_entry = next_free_entry(1);
    create_head_grids(first_entry);
    create_layer_grids();
    dx = dy = cellsize;
    open_control_point();
    read_lake_parameters("[lake_model]");
  });
}

void gwflowclass::set_substeps(int count) { substeps = count; }

void gwflowclass::run_substep(const model_date& step, int) {
  time_step(step.hour, step.day, step.month, step.year);
}

void gwflowclass::begin_step(const model_date& step) {
  begin_step(step.hour, step.day, step.month, step.year);
}

void gwflowclass::end_step(const model_date& step) {
  end_step(step.hour, step.day, step.month, step.year);
}

void gwflowclass::begin_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  if (omp_in_parallel()) {
    cur_hour = hour;
    cur_day = day;
    cur_month = month;
    cur_year = year;
    return;
  }
  teilmodellklasse::time_step(hour, day, month, year);
}

void gwflowclass::exchange_layer_heads(int k) {
  const gw_layer& L = layers[static_cast<size_t>(k)];
  exchange_halo(L.index[0]);
  exchange_halo(L.index[1]);
  exchange_halo(L.index[2]);
}

void gwflowclass::time_step(int64_t, int64_t, int64_t, int64_t) {
  if (flow_control == 0) return;
  dt = 60 * time_interval / substeps;
  for (gw_tracer& t : gw_tracers)
    for (gw_tracer_layer& tl : t.layers)
      if (tl.statistic) tl.statistic->clear_step_sums();
  refresh_glacier_fraction();
  for (int j = 1; j < layers_n; ++j) {
    compute_leakage(j);
    exchange_halo(layers[static_cast<size_t>(j)].index[9]);
  }
  for (int k = 1; k <= layers_n; ++k) {
    start_substep_layer(k);
    exchange_layer_heads(k);
  }
  exchange_halo(thaw_index);
  exchange_halo(frozen_index);
  if (pond_used) exchange_halo(ponding_index);
  exchange_halo(distance_index);
  compute_transmissivities();
  for (int k = 1; k <= layers_n; ++k) {
    const gw_layer& L = layers[static_cast<size_t>(k)];
    for (int g : {6, 7, 4, 5}) exchange_halo(L.index[static_cast<size_t>(g)]);
    iterate_layer(k);
  }
  for (int k = 1; k <= layers_n; ++k) exchange_halo(layers[static_cast<size_t>(k)].index[0]);
  compute_lateral_flows();
  for (int k = 1; k <= layers_n; ++k) exchange_halo(layers[static_cast<size_t>(k)].index[0]);
  baseflow_cells();
  for (int t = 1; t <= tracer_count; ++t)
    for (int k = 1; k <= layers_n; ++k)
      exchange_halo(gw_tracers[static_cast<size_t>(t)].layers[static_cast<size_t>(k)].storage_index);
  for (int k = 1; k <= layers_n; ++k) balance_and_transport_layer(k);
  control_point_row_of_substep();
}

void gwflowclass::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control != 0) qg = qg_in;
}

void gwflowclass::set_riverflow_table(riverflow_table* table) {
  if (flow_control != 0) riverflows = table;
}

void gwflowclass::release() {
  if (flow_control != 0) {
    if (control_owner && initialized() != 0) flush_control_point_file();
    cp_rows.clear();
    cp_rows.shrink_to_fit();
    cp_file.clear();
    for (int k = 1; k <= layers_n && k < static_cast<int>(layers.size()); ++k) {
      gw_layer& L = layers[static_cast<size_t>(k)];
      grid_matrix* owned[] = {&L.head,    &L.head_old, &L.head_old_old, &L.head_iter,
                              &L.trans_x, &L.trans_y,  &L.flow_x,       &L.flow_y,
                              &L.balance, &L.leakage,  &L.upper_limit};
      for (size_t g = 0; g < L.index.size(); ++g) {
        if (L.index[g] > 0) free_grid_entry(L.index[g]);
        L.index[g] = 0;
        *owned[g] = grid_matrix();
      }
    }
    layers.clear();
    layers_n = 0;
  }
  teilmodellklasse::release();
}
