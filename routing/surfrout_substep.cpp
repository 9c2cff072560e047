// One sub-step of the surface routing: the direct runoff of the sub-step is
// put on the cells, routed in internal steps whose length follows the CFL
// limit of the flow velocities (explicit passes of methods 1 to 5 here, the
// implicit passes of method 6 in surfrout_implicit.cpp), delivered to the
// river cells and added, with the interflow, to the travel-time zones.
//
// Lateral transport: each pass first exchanges the halos, then every cell
// computes its own outflows from values that do not change during the pass
// (weights, velocities, discharges of its own stack levels), and the
// balance pass updates every cell from its own outflows and its
// neighbours' discharges towards it. The outflow of an internal step never
// exceeds the water the cell holds, so what leaves one cell is exactly what
// the others receive.
#include <mpi.h>

#include <algorithm>
#include <cmath>

#include "modelbase/diagstream.h"
#include "routing/surfrout.h"
#include "settings/tracer_entry.h"

namespace {

bool water_method(int method) { return method >= 3 && method <= 5; }

}  // namespace

void surfaceroutingclass::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
  const double dt_sub = time_interval / std::max(substeps, 1) * 60;
  if (method == 6)
    for (auto* records : {&before, &after, &river_in})
      for (zone_record& r : *records) r.count = r.sum = 0;
  start_substep();
  double step = s_min;
  double step_used = s_min;
  double covered = 0;
  int index = 0;
  int recompute = 0;
  last_passes = 0;
  while (covered < dt_sub - 0.5 * s_min) {
    if (method == 6)
      implicit_step(index, step, step_used, dt_sub);
    else
      explicit_step(index, recompute, step, dt_sub);
    covered += step;
    step_used = step;
    ++index;
  }
  last_internal_steps = index;
  last_step_length = step;
  finish_substep();
}

void surfaceroutingclass::start_substep() {
  grid_matrix& head = *own[HEAD].used;
  grid_matrix& head_old = *own[HEAD_OLD].used;
  grid_matrix& storage = *in.storage;
  grid_matrix& direct = *in.directflow;
  const grid_matrix& z = *in.elevation;
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      head[r][c] = direct[r][c] / 1000 + (method == 6 ? z[r][c] : 0);
      head_old[r][c] = head[r][c];
      storage[r][c] = direct[r][c];
      for (int t = 1; t <= tracer_count; ++t) {
        const size_t k = static_cast<size_t>(t);
        double& conc = tracers[k].storage[r][c];
        conc = (*conc_qd[k])[r][c];
        if (storage_conc_index[k] > 0 && tracer_list[t].radioactive == 1)
          conc *= tracers[k].decay_factor;
        (*storage_conc[k])[r][c] = 0;
        (*conc_qd[k])[r][c] = 0;
      }
      direct[r][c] = 0;
    }
}

void surfaceroutingclass::exchange_explicit_halos() {
  exchange_halo(own[HEAD].index);
  exchange_halo(own[HEAD_OLD].index);
  exchange_halo_stack(own[FLUXES].index);
}

void surfaceroutingclass::explicit_step(int step_index, int& recompute, double& step,
                                        double dt_sub) {
  exchange_explicit_halos();
  routing_pass(step_index, recompute);
  exchange_explicit_halos();
  if (step_index == 0)
    choose_step_length(dt_sub, step, foreseen_steps, recompute);
  else if (step_index == recompute)
    recompute = static_cast<int>(step_index + foreseen_steps / (dt_sub / s_max));
  balance_pass(step);
  exchange_explicit_halos();
}

void surfaceroutingclass::choose_step_length(double dt_sub, double& step, int& foreseen,
                                             int& recompute) {
  double limit = cfl_limit();
  MPI_Allreduce(MPI_IN_PLACE, &limit, 1, MPI_DOUBLE, MPI_MIN, MPI_COMM_WORLD);
  const surfrout::InternalSteps s = surfrout::internal_steps(dt_sub, limit, s_min, s_max);
  step = s.length;
  foreseen = s.foreseen;
  recompute = s.recompute;
}

void surfaceroutingclass::routing_pass(int pass, int recompute) {
  const bool water = water_method(method);
  const surfrout::FlowParams p = flow_params();
  stack_matrix& weights = own[WEIGHTS].stack;
  stack_matrix& velocity = own[VELOCITY].stack;
  stack_matrix& flux = own[FLUXES].stack;
  const grid_matrix& head = *own[HEAD].used;
  const grid_matrix& curvature = *own[PLANCURVATURE].used;
  const grid_matrix& shear = *own[CRITICAL_SHEAR].used;
  const grid_matrix& storage = *in.storage;
  const double longest = std::max(s_min, s_max);
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const bool river = river_cell(r, c);
      if (river) continue;  // a river cell sends nothing on
      const surfrout::SurfaceBlock b = block_of(r, c, water);
      bool interior = r >= 2 && r <= nrows - 1 && c >= 2 && c <= ncols - 1;
      for (int d = 1; interior && d <= surfrout::DIRECTIONS; ++d) interior = b.positive[d];
      const surfrout::SlopeAspect sa = surfrout::slope_aspect_of(b, false, interior, cellsize);
      surfrout::WeightsInput w;
      w.method = method;
      w.kind = sa.kind;
      w.slope = sa.slope;
      w.aspect = sa.aspect;
      w.plan_curvature = curvature[r][c];
      w.pass = pass;
      w.storage_mm = storage[r][c];
      double* cell_weights = weights[r][c];
      double* cell_velocity_levels = velocity[r][c];
      const int kind = surfrout::direction_weights_of(w, b, cell_weights, cell_velocity_levels);
      surfrout::VelocityCell cell;
      cell.kind = kind;
      cell.pass = pass;
      cell.recompute = recompute;
      cell.depth = head[r][c];
      cell.critical_shear = shear[r][c];
      cell.area = cell_area(r, c);
      cell.longest_step = longest;
      const bool kept = cell_weights[0] == 8 && pass != 0 && pass != recompute && method != 5;
      const surfrout::Friction f =
          kept ? surfrout::Friction{} : friction_of(landuse_code(r, c), r, c);
      surfrout::cell_flows_of(p, f, cell, b, cell_weights, cell_velocity_levels, flux[r][c]);
      if (fpe_flag != 0) {
#pragma omp critical(surfrout_fpe)
        report_fpe(r, c, 99, 0, cell_weights[1], cell_velocity_levels[1], flux[r][c][1], 0, 0);
      }
    }
}

void surfaceroutingclass::balance_pass(double step) {
  grid_matrix& head = *own[HEAD].used;
  grid_matrix& qin = *own[QIN].used;
  grid_matrix& qout = *own[QOUT].used;
  grid_matrix& storage = *in.storage;
  grid_matrix& direct = *in.directflow;
  // Neighbours' concentrations as they were at the start of the pass.
  for (int t = 1; t <= tracer_count; ++t) {
    const size_t k = static_cast<size_t>(t);
    exchange_halo(tracers[k].storage_index);
    conc_copy[k] = tracers[k].storage.clone();
  }
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      sum_cell_flows(r, c, step);
      const double to_mm = 1000 / cell_area(r, c);
      double in_mm = qin[r][c] * to_mm;
      double out_mm = qout[r][c] * to_mm;
      const double before_mm = storage[r][c];
      for (int t = 1; t <= tracer_count; ++t) {
        const size_t k = static_cast<size_t>(t);
        double& conc = tracers[k].storage[r][c];
        conc = conc * before_mm + tracers[k].flux[r][c] / cell_area(r, c) - out_mm * conc;
      }
      double st = in_mm + before_mm - out_mm;
      if (st < 0) {
        out_mm += st;
        st = 0;
        for (int t = 1; t <= tracer_count; ++t) tracers[static_cast<size_t>(t)].storage[r][c] = 0;
      } else {
        for (int t = 1; t <= tracer_count; ++t) {
          double& conc = tracers[static_cast<size_t>(t)].storage[r][c];
          conc = st > 0 ? conc / st : 0;
        }
      }
      qin[r][c] = in_mm;
      qout[r][c] = out_mm;
      double depth = 0;
      if (river_cell(r, c)) {
        direct[r][c] += st;
        for (int t = 1; t <= tracer_count; ++t) {
          const size_t k = static_cast<size_t>(t);
          double& conc = tracers[k].storage[r][c];
          (*conc_qd[k])[r][c] += conc * st;
          conc = 0;
        }
        st = 0;
      } else {
        direct[r][c] = 0;
        for (int t = 1; t <= tracer_count; ++t) (*conc_qd[static_cast<size_t>(t)])[r][c] = 0;
        depth = st / 1000;
      }
      storage[r][c] = st;
      head[r][c] = depth;
    }
}

void surfaceroutingclass::sum_cell_flows(int row, int col, double step) {
  const stack_matrix& flux = own[FLUXES].stack;
  double in_flow = 0;
  for (int t = 1; t <= tracer_count; ++t) tracers[static_cast<size_t>(t)].flux[row][col] = 0;
  for (int d = 1; d <= surfrout::DIRECTIONS; ++d) {
    const int r = row + surfrout::ROW_OFFSET[d];
    const int c = col + surfrout::COL_OFFSET[d];
    if (!inside(r, c) || (*zone_grid)[r][c] == nodata) continue;
    const double q = flux[r][c][surfrout::opposite(d)];
    in_flow += q;
    for (int t = 1; t <= tracer_count; ++t) {
      const size_t k = static_cast<size_t>(t);
      const grid_matrix& conc = conc_copy[k].empty() ? tracers[k].storage : conc_copy[k];
      tracers[k].flux[row][col] += conc[r][c] * q;
    }
  }
  (*own[QIN].used)[row][col] = in_flow * step;
  for (int t = 1; t <= tracer_count; ++t)
    tracers[static_cast<size_t>(t)].flux[row][col] *= 1000 * step;
  double out_flow = 0;
  for (int d = 1; d <= surfrout::DIRECTIONS; ++d)
    if (flux[row][col][d] > 0) out_flow += flux[row][col][d];
  (*own[QOUT].used)[row][col] = out_flow * step;
}

double surfaceroutingclass::cfl_limit() {
  double limit = surfrout::NO_CFL_LIMIT;
  const stack_matrix& weights = own[WEIGHTS].stack;
  const stack_matrix& velocity = own[VELOCITY].stack;
#pragma omp parallel for schedule(static) reduction(min : limit)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      for (int d = 1; d <= surfrout::DIRECTIONS; ++d) {
        const double v = velocity[r][c][d];
        if (method == 6) {
          if (v != 0) limit = std::min(limit, std::fabs(cellsize / v));
        } else if (weights[r][c][d] > surfrout::MIN_CFL_WEIGHT && v > surfrout::MIN_CFL_VELOCITY) {
          limit = std::min(limit, cellsize / v);
        }
      }
    }
  return limit;
}

void surfaceroutingclass::finish_substep() {
  const grid_matrix& storage = *in.storage;
  const grid_matrix& direct = *in.directflow;
  const grid_matrix& inter = *in.interflow;
  const double n_sub = std::max(substeps, 1);
  // One thread, row after row: the zone sums are formed in a fixed order.
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const int s = subbasin_of(r, c);
      const bool river = river_cell(r, c);
      for (int t = 1; t <= tracer_count; ++t) {
        const size_t k = static_cast<size_t>(t);
        (*storage_conc[k])[r][c] = tracers[k].storage[r][c];
        tracers[k].storage[r][c] = 0;
        if (river) {
          double& conc = (*conc_qd[k])[r][c];
          conc = direct[r][c] > 0 ? conc / direct[r][c] : 0;
        }
      }
      if (s < 1 || s > zone_count) continue;
      statistics[STAT_STORAGE]->add_value(r, c, s, storage[r][c], 1);
      const int zones_of = queues.zones_of(s);
      const int zone =
          in.flow_times != nullptr ? std::min(flow_time_zone((*in.flow_times)[r][c]), zones_of) : 1;
      const double a = cell_weight(r, c);
      const size_t sk = static_cast<size_t>(s);
      const size_t zk = static_cast<size_t>(zone);
      zone_record& qd_rec = queues.direct[0][sk][zk];
      qd_rec.count += 1;
      qd_rec.weight += a;
      if (river) qd_rec.sum += direct[r][c] * a * n_sub;
      zone_record& qi_rec = queues.interflow[0][sk][zk];
      qi_rec.count += 1;
      // Interflow of a sub-step counts for the whole step, as direct runoff.
      qi_rec.sum += inter[r][c] * a * n_sub;
      qi_rec.weight += a;
      for (int t = 1; t <= tracer_count; ++t) {
        const size_t k = static_cast<size_t>(t);
        const bool evaporating = tracer_list[t].evaporating == 1;
        zone_record& d = queues.direct[k][sk][zk];
        if (river) d.sum += (*conc_qd[k])[r][c] * a * n_sub * (evaporating ? direct[r][c] : 1.0);
        d.count += direct[r][c];
        d.weight += a * direct[r][c];
        zone_record& i = queues.interflow[k][sk][zk];
        i.sum += (*conc_qi[k])[r][c] * a * (evaporating ? inter[r][c] : 1.0);
        i.count += inter[r][c];
        i.weight += a * inter[r][c];
        zone_record& st = tracers[k].zones[sk];
        st.sum += (*storage_conc[k])[r][c] * a * storage[r][c];
        st.count += storage[r][c];
        st.weight += a * storage[r][c];
      }
    }
}
