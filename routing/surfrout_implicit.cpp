// Method 6 of the surface routing: an implicit diffusion of the water
// surface. Face conveyances (harmonic means of depth x Strickler value) are
// formed once per internal step, then passes solve the implicit balance of
// every cell until no head changes by more than 0.0001 m (at most 1000
// passes). A pass reads the heads of the previous pass only (Jacobi), so its
// result does not depend on the order of the cells, the threads or the
// processes. What the surface loses per subbasin goes to its river cells in
// proportion to their inflow, with the tracer it carries.
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "routing/surfrout.h"

namespace {

constexpr int MAX_PASSES = 1000;
constexpr double HEAD_TOLERANCE = 0.0001;  // [m]
// North, east, south and west neighbours of a cell.
constexpr int FACE_ROW[4] = {-1, 0, 1, 0};
constexpr int FACE_COL[4] = {0, 1, 0, -1};

// Sums over the processes that do not depend on how the grid is divided:
// every value enters as a fixed-point number of 2^-64 units, and integer
// sums are the same in any order.
__extension__ typedef __int128 exact;
constexpr double EXACT_SCALE = 18446744073709551616.0;  // 2^64

exact to_exact(double x) { return static_cast<exact>(x * EXACT_SCALE); }
double from_exact(exact x) { return static_cast<double>(x) / EXACT_SCALE; }

void add_exact(void* in, void* inout, int* count, MPI_Datatype*) {
  const exact* a = static_cast<const exact*>(in);
  exact* b = static_cast<exact*>(inout);
  for (int i = 0; i < *count; ++i) b[i] += a[i];
}

void sum_over_processes(std::vector<exact>& values) {
  MPI_Datatype type;
  MPI_Type_contiguous(static_cast<int>(sizeof(exact)), MPI_BYTE, &type);
  MPI_Type_commit(&type);
  MPI_Op op;
  MPI_Op_create(&add_exact, 1, &op);
  MPI_Allreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()), type, op,
                MPI_COMM_WORLD);
  MPI_Op_free(&op);
  MPI_Type_free(&type);
}

}  // namespace

void surfaceroutingclass::implicit_step(int step_index, double& step, double step_used,
                                        double dt_sub) {
  const grid_matrix& z = *in.elevation;
  grid_matrix& head = *own[HEAD].used;
  grid_matrix& head_old = *own[HEAD_OLD].used;
  // Per subbasin s, from index w s: [0] water before, [1] after, [2] river
  // inflow; per tracer t [3 t] the tracer on the cells before, [3 t + 1]
  // after on the cells that took water in, [3 t + 2] after on the others
  // [mm x concentration].
  const size_t w = 3 + 3 * static_cast<size_t>(tracer_count);
  std::vector<exact> sums(w * (static_cast<size_t>(zone_count) + 1), 0);
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const int s = subbasin_of(r, c);
      if (s < 1 || s > zone_count) continue;
      before[static_cast<size_t>(s)].count += 1;
      sums[w * static_cast<size_t>(s)] += to_exact(head[r][c] - z[r][c]);
    }
  // The conveyances read the neighbours' heads, which the start of the
  // sub-step has just set.
  exchange_halo(own[HEAD].index);
  iterative_prepare();
  int passes = 0;
  for (int k = 0; k < MAX_PASSES; ++k) {
    exchange_halo(own[HEAD].index);
    exchange_halo(own[HEAD_OLD].index);
    double change = iterative_pass(step_used);
    MPI_Allreduce(MPI_IN_PLACE, &change, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    ++passes;
    if (change <= HEAD_TOLERANCE) break;
  }
  last_passes = std::max(last_passes, passes);
  exchange_halo(own[HEAD].index);
  exchange_halo(own[HEAD_OLD].index);
  exchange_halo_stack(own[FLUXES].index);
  iterative_finish();
  if (step_index == 0) {
    int recompute = 0;
    choose_step_length(dt_sub, step, foreseen_steps, recompute);
  }
  const stack_matrix& flux = own[FLUXES].stack;
  const grid_matrix& storage_before = *in.storage;
  // Tracers move with the water: a cell mixes what it holds with what its
  // faces take in, at the neighbours' concentrations of the start of the
  // internal step (a gain beyond that counts as taken in as well), and keeps
  // the mixture; what the cells of a subbasin lose goes with the subbasin's
  // loss to its river cells.
  for (int t = 1; t <= tracer_count; ++t) {
    const size_t k = static_cast<size_t>(t);
    exchange_halo(tracers[k].storage_index);
    conc_copy[k] = tracers[k].storage.clone();
  }
  auto water_after = [&](int r, int c) {
    return river_cell(r, c) ? 0.0 : std::max(head[r][c] - z[r][c], 0.0) * 1000;
  };
  // Concentration of an overland cell after the internal step; took_in
  // tells whether it took water in.
  auto mixed_concentration = [&](int r, int c, size_t k, double st, double st1, bool& took_in) {
    const double* fl = flux[r][c];
    // North, east, south and west faces: what flows into the cell [m3/s].
    const double into[4] = {fl[1], -fl[3], -fl[5], fl[7]};
    const grid_matrix& conc = conc_copy[k];
    double q = 0, sum = 0;
    for (int f = 0; f < 4; ++f) {
      const int nr = r + FACE_ROW[f];
      const int nc = c + FACE_COL[f];
      if (!(into[f] > 0) || !inside(nr, nc)) continue;
      q += into[f];
      sum += into[f] * conc[nr][nc];
    }
    const double held = conc[r][c];
    const double taken = std::max(q * step_used * 1000 / cell_area(r, c), st1 - st);  // [mm]
    took_in = taken > 0;
    if (!(st1 > 0)) return 0.0;
    const double inflow = q > 0 ? sum / q : held;
    return st + taken > 0 ? (held * st + inflow * taken) / (st + taken) : held;
  };
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const int s = subbasin_of(r, c);
      if (s < 1 || s > zone_count) continue;
      const size_t k = static_cast<size_t>(s);
      after[k].count += 1;
      sums[w * k + 1] += to_exact(std::max(head[r][c] - z[r][c], 0.0));
      if (river_cell(r, c)) {
        river_in[k].count += 1;
        sums[w * k + 2] += to_exact(flux[r][c][0] * 1000 * step_used / cell_area(r, c));
      }
      const double st = storage_before[r][c];
      const double st1 = water_after(r, c);
      const bool river = river_cell(r, c);
      for (int t = 1; t <= tracer_count; ++t) {
        const size_t tk = static_cast<size_t>(t);
        sums[w * k + 3 * tk] += to_exact(conc_copy[tk][r][c] * st);
        if (river) continue;
        bool took_in = false;
        const double mass = mixed_concentration(r, c, tk, st, st1, took_in) * st1;
        sums[w * k + 3 * tk + (took_in ? 1 : 2)] += to_exact(mass);
      }
    }
  // Counts are whole numbers: their double sums are exact in any order.
  for (auto* records : {&before, &after, &river_in}) {
    reduce_zone_records(records->data(), zone_count, 1);
    broadcast_zone_records(records->data(), zone_count);
  }
  sum_over_processes(sums);
  for (int s = 1; s <= zone_count; ++s) {
    const size_t k = static_cast<size_t>(s);
    before[k].sum = from_exact(sums[w * k]);
    after[k].sum = from_exact(sums[w * k + 1]);
    river_in[k].sum = from_exact(sums[w * k + 2]);
  }
  for (int s = 1; s <= zone_count; ++s) {
    const size_t k = static_cast<size_t>(s);
    loss[k] = std::max(1000 * (before[k].sum - after[k].sum), 0.0);
  }
  // Per subbasin and tracer: what the cells lost goes to the river cells.
  // When the cells gained tracer (their faces do not balance before the
  // passes converge) or no river cell receives water, the cells that took
  // water in are scaled instead so that the subbasin keeps its tracer.
  const size_t tw = static_cast<size_t>(tracer_count) + 1;
  std::vector<double> intake_scale(tw * (static_cast<size_t>(zone_count) + 1), 1.0);
  std::vector<double> to_rivers(tw * (static_cast<size_t>(zone_count) + 1), 0.0);
  for (int s = 1; s <= zone_count; ++s)
    for (int t = 1; t <= tracer_count; ++t) {
      const size_t k = static_cast<size_t>(s);
      const size_t tk = static_cast<size_t>(t);
      const double on_cells = from_exact(sums[w * k + 3 * tk]);
      const double took_in = from_exact(sums[w * k + 3 * tk + 1]);
      const double others = from_exact(sums[w * k + 3 * tk + 2]);
      const double lost = on_cells - took_in - others;
      if (lost >= 0 && loss[k] > 0 && river_in[k].sum > 0)
        to_rivers[tw * k + tk] = lost;
      else if (took_in > 0)
        intake_scale[tw * k + tk] = (on_cells - others) / took_in;
    }
  grid_matrix& storage = *in.storage;
  grid_matrix& direct = *in.directflow;
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const int s = subbasin_of(r, c);
      const bool counted = s >= 1 && s <= zone_count;
      const size_t k = counted ? static_cast<size_t>(s) : 0;
      const bool river = river_cell(r, c);
      // The share of the subbasin's loss this river cell receives.
      const double river_share =
          river && counted && river_in[k].sum > 0
              ? std::fabs(flux[r][c][0]) * 1000 * step_used / cell_area(r, c) / river_in[k].sum
              : 0.0;
      if (counted) {
        // "SurfStorSiltingUp" still holds the water of the start of the step.
        const double st = storage[r][c];
        const double st1 = water_after(r, c);
        for (int t = 1; t <= tracer_count; ++t) {
          const size_t tk = static_cast<size_t>(t);
          double& conc = tracers[tk].storage[r][c];
          if (river) {
            (*conc_qd[tk])[r][c] += to_rivers[tw * k + tk] * river_share;
            conc = 0;
          } else {
            bool took_in = false;
            conc = mixed_concentration(r, c, tk, st, st1, took_in);
            if (took_in) conc *= intake_scale[tw * k + tk];
          }
        }
      }
      if (river) {
        // A subbasin whose rivers received nothing has no share to give.
        if (counted && river_in[k].sum > 0)
          direct[r][c] += loss[k] / river_in[k].sum * std::fabs(flux[r][c][0]) * 1000 * step_used /
                          cell_area(r, c);
      } else {
        direct[r][c] = 0;
      }
      head[r][c] = std::max(head[r][c], z[r][c]);
      storage[r][c] = std::max((head[r][c] - z[r][c]) * 1000, 0.0);
      head_old[r][c] = head[r][c];
    }
  exchange_halo(own[HEAD].index);
  exchange_halo(own[HEAD_OLD].index);
  exchange_halo_stack(own[FLUXES].index);
  for (auto* records : {&before, &after, &river_in})
    for (int s = 1; s <= zone_count; ++s) {
      (*records)[static_cast<size_t>(s)].count = 0;
      (*records)[static_cast<size_t>(s)].sum = 0;
    }
}

void surfaceroutingclass::iterative_prepare() {
  const grid_matrix& z = *in.elevation;
  const grid_matrix& head = *own[HEAD].used;
  const grid_matrix& k0 = *own[MANNING].used;
  grid_matrix& rx = *own[ROUGHNESS_X].used;
  grid_matrix& ry = *own[ROUGHNESS_Y].used;
  auto counts = [&](int row, int col, int r, int c) {
    if (!inside(r, c) || (*zone_grid)[r][c] == nodata) return false;
    return flow_control != 3 || (*zone_grid)[r][c] == (*zone_grid)[row][col];
  };
  auto conveyance = [&](int r, int c) {
    return river_cell(r, c) ? k0[r][c] : (head[r][c] - z[r][c]) * k0[r][c];
  };
#pragma omp parallel for schedule(static)
  for (int r = std::max(1, rx.first_row()); r <= std::min(nrows, rx.last_row()); ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (r < first_row || r > last_row || !own_cell(r, c)) {
        rx[r][c] = 0;
        ry[r][c] = 0;
        continue;
      }
      double g = conveyance(r, c);
      const bool east = counts(r, c, r, c + 1);
      const bool south = counts(r, c, r + 1, c);
      double h = east ? conveyance(r, c + 1) : 0;
      double m = south ? conveyance(r + 1, c) : 0;
      if (g <= 0) g = h > 0 && head[r][c + 1] > head[r][c] && k0[r][c] > 0 ? h : 0;
      if (h <= 0 && east) h = g > 0 && head[r][c + 1] < head[r][c] && k0[r][c + 1] > 0 ? g : 0;
      if (m <= 0 && south) m = g > 0 && head[r][c] > head[r + 1][c] && k0[r + 1][c] > 0 ? g : 0;
      rx[r][c] = g + h > 0 ? 2 * g * h / (g + h) : 0;
      ry[r][c] = g + m > 0 ? 2 * g * m / (g + m) : 0;
    }
  exchange_halo(own[ROUGHNESS_X].index);
  exchange_halo(own[ROUGHNESS_Y].index);
}

namespace {

// The four faces of a cell of method 6: coefficients and effective heads of
// the north, east, south and west neighbours.
struct implicit_faces {
  double coefficient[4] = {};  // P, Q, D, Cw
  double raw[4] = {};          // the conveyances before scaling
  bool exists[4] = {};
  double head[4] = {};  // effective heads [m]
  int row[4] = {}, col[4] = {};
};

}  // namespace

double surfaceroutingclass::iterative_pass(double step) {
  const grid_matrix& z = *in.elevation;
  grid_matrix& head = *own[HEAD].used;
  grid_matrix& head_old = *own[HEAD_OLD].used;
  const grid_matrix& rx = *own[ROUGHNESS_X].used;
  const grid_matrix& ry = *own[ROUGHNESS_Y].used;
  if (next_head.empty()) next_head = matrix(first_row, last_row, 0, ncols, nrows);
  double largest = 0;
#pragma omp parallel for schedule(static) reduction(max : largest)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      next_head[r][c] = head[r][c];
      if (!own_cell(r, c) || !((*zone_grid)[r][c] > nodata)) continue;
      if (river_cell(r, c)) {
        next_head[r][c] = z[r][c];
        head_old[r][c] = z[r][c];
        continue;
      }
      if ((*in.river_width)[r][c] != nodata && (*in.river_depth)[r][c] != nodata) continue;
      const double e = in.cell_size_x != nullptr ? (*in.cell_size_x)[r][c] : cellsize;
      const double f = in.cell_size_y != nullptr ? (*in.cell_size_y)[r][c] : cellsize;
      double raw[4];
      raw[0] = r > 1 ? ry[r - 1][c] : ry[r][c];
      raw[1] = rx[r][c];
      raw[2] = ry[r][c];
      raw[3] = c > 1 ? rx[r][c - 1] : rx[r][c];
      const double coefficient[4] = {r > 1 ? e / f * raw[0] : raw[0], f / e * raw[1],
                                     e / f * raw[2], c > 1 ? f / e * raw[3] : raw[3]};
      const bool exists[4] = {r > 1, c < ncols, r<nrows, c> 1};
      bool any = false;
      for (int k = 0; k < 4; ++k) any = any || (exists[k] && raw[k] > 0);
      if (!any) continue;
      const double h = head[r][c];
      double numerator = e * f * head_old[r][c] / step;
      double denominator = e * f / step;
      for (int k = 0; k < 4; ++k) {
        const int nr = r + FACE_ROW[k];
        const int nc = c + FACE_COL[k];
        double effective = h;
        if (inside(nr, nc)) {
          if (river_cell(nr, nc))
            effective = z[r][c];
          else if (h < z[nr][nc])
            effective = h + (head[nr][nc] - z[nr][nc]);
          else
            effective = std::max(z[r][c], head[nr][nc]);
        }
        numerator += coefficient[k] * effective;
        denominator += coefficient[k];
      }
      const double updated = numerator / denominator;
      next_head[r][c] = updated;
      largest = std::max(largest, std::fabs(updated - h));
    }
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (own_cell(r, c)) head[r][c] = next_head[r][c];
  return largest;
}

void surfaceroutingclass::iterative_finish() {
  const grid_matrix& z = *in.elevation;
  const grid_matrix& head = *own[HEAD].used;
  const grid_matrix& rx = *own[ROUGHNESS_X].used;
  const grid_matrix& ry = *own[ROUGHNESS_Y].used;
  stack_matrix& flux = own[FLUXES].stack;
  stack_matrix& velocity = own[VELOCITY].stack;
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c) || !((*zone_grid)[r][c] > nodata)) continue;
      if ((*in.river_width)[r][c] != nodata && (*in.river_depth)[r][c] != nodata) continue;
      double* fl = flux[r][c];
      double* ve = velocity[r][c];
      const double e = in.cell_size_x != nullptr ? (*in.cell_size_x)[r][c] : cellsize;
      const double f = in.cell_size_y != nullptr ? (*in.cell_size_y)[r][c] : cellsize;
      double raw[4];
      raw[0] = r > 1 ? ry[r - 1][c] : ry[r][c];
      raw[1] = rx[r][c];
      raw[2] = ry[r][c];
      raw[3] = c > 1 ? rx[r][c - 1] : rx[r][c];
      const bool exists[4] = {r > 1, c < ncols, r<nrows, c> 1};
      bool any = false;
      for (int k = 0; k < 4; ++k) any = any || (exists[k] && raw[k] > 0);
      for (int l = 0; l <= surfrout::DIRECTIONS; ++l) fl[l] = ve[l] = 0;
      if (!any) continue;
      const double coefficient[4] = {r > 1 ? e / f * raw[0] : raw[0], f / e * raw[1],
                                     e / f * raw[2], c > 1 ? f / e * raw[3] : raw[3]};
      const double h = head[r][c];
      const double d0 = h - z[r][c];
      double effective[4];
      double depth[4];
      for (int k = 0; k < 4; ++k) {
        const int nr = r + FACE_ROW[k];
        const int nc = c + FACE_COL[k];
        effective[k] = h;
        depth[k] = 0;
        if (!inside(nr, nc)) continue;
        const bool river = river_cell(nr, nc);
        if (river)
          effective[k] = z[r][c];
        else if (h < z[nr][nc])
          effective[k] = h + (head[nr][nc] - z[nr][nc]);
        else
          effective[k] = std::max(z[r][c], head[nr][nc]);
        if (!river && head[nr][nc] >= z[r][c]) depth[k] = head[nr][nc] - z[nr][nc];
      }
      // Levels 1, 3, 5, 7: north (positive southwards), east, south, west
      // (positive eastwards) faces.
      const int level[4] = {1, 3, 5, 7};
      fl[1] = coefficient[0] * e * (effective[0] - h) / f;
      fl[3] = coefficient[1] * f * (h - effective[1]) / e;
      fl[5] = coefficient[2] * e * (h - effective[2]) / f;
      fl[7] = coefficient[3] * f * (effective[3] - h) / e;
      const double width[4] = {e, f, e, f};
      for (int k = 0; k < 4; ++k) {
        const double mean = 0.5 * (d0 + depth[k]);
        ve[level[k]] =
            exists[k] && coefficient[k] != 0 && mean != 0 ? fl[level[k]] / (mean * width[k]) : 0;
      }
      const double ns = 0.5 * (std::fabs(fl[1]) + std::fabs(fl[5]));
      const double ew = 0.5 * (std::fabs(fl[3]) + std::fabs(fl[7]));
      fl[0] = std::sqrt(ns * ns + ew * ew);
      const double vns = 0.5 * (std::fabs(ve[1]) + std::fabs(ve[5]));
      const double vew = 0.5 * (std::fabs(ve[3]) + std::fabs(ve[7]));
      ve[0] = std::sqrt(vns * vns + vew * vew);
    }
  exchange_halo_stack(own[FLUXES].index);
  exchange_halo_stack(own[VELOCITY].index);
  // River cells take what their neighbours' faces carry towards them.
  auto neighbour_value = [&](const stack_matrix& s, int row, int col, int r, int c, int l) {
    if (!inside(r, c) || (*zone_grid)[r][c] == nodata) return 0.0;
    if (flow_control == 3 && (*zone_grid)[r][c] != (*zone_grid)[row][col]) return 0.0;
    const double v = s[r][c][l];
    return v == nodata ? 0.0 : v;
  };
  // Computed from the values of the first pass before any is written, so
  // that neighbouring river cells do not read each other's new values.
  struct river_faces {
    int row, col;
    double values[2][4];
  };
  std::vector<river_faces> rivers;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c) || !((*zone_grid)[r][c] > nodata)) continue;
      if ((*in.river_width)[r][c] == nodata || (*in.river_depth)[r][c] == nodata) continue;
      river_faces rf{r, c, {}};
      const stack_matrix* stacks[2] = {&flux, &velocity};
      for (int k = 0; k < 2; ++k) {
        rf.values[k][0] = neighbour_value(*stacks[k], r, c, r - 1, c, 5);
        rf.values[k][1] = neighbour_value(*stacks[k], r, c, r, c + 1, 7);
        rf.values[k][2] = neighbour_value(*stacks[k], r, c, r + 1, c, 1);
        rf.values[k][3] = neighbour_value(*stacks[k], r, c, r, c - 1, 3);
      }
      rivers.push_back(rf);
    }
  for (const river_faces& rf : rivers) {
    stack_matrix* stacks[2] = {&flux, &velocity};
    for (int k = 0; k < 2; ++k) {
      double* v = (*stacks[k])[rf.row][rf.col];
      v[1] = rf.values[k][0];
      v[3] = rf.values[k][1];
      v[5] = rf.values[k][2];
      v[7] = rf.values[k][3];
      v[2] = v[4] = v[6] = v[8] = 0;
      const double ns = std::fabs(v[1]) + std::fabs(v[5]);
      const double ew = std::fabs(v[3]) + std::fabs(v[7]);
      v[0] = std::sqrt(ns * ns + ew * ew);
    }
  }
}
