// The flow solution of one sub-step: leakage between layers, the start heads
// (the top layer's from the unsaturated zone), transmissivities of every
// face, and per layer the over-relaxation sweeps (method 1) or one direct
// tridiagonal pass per row (method 2), with the convergence test over all
// processes and the count of oscillating cells.
//
// Method 1 sweeps in red-black order: a cell of one colour reads only
// neighbours of the other colour, and the halo rows are exchanged between
// the two colours, so that a sweep gives the same heads on any number of
// processes and threads.
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "modelbase/diagstream.h"
#include "soilwater/gwflow.h"
#include "soilwater/gwflow_kernels.h"

namespace {

constexpr double CONFINED_MARGIN = 0.01;  // [m] head above the top that counts as confined
constexpr double CONFINED_MEASURE = 5;    // [-] a confined cell's change counts a fifth

// The value of a grid at a cell, or fallback where the grid holds no such row.
double held_value(const grid_matrix* g, int r, int c, double fallback) {
  if (g == nullptr || r < g->first_row() || r > g->last_row() || (*g)[r] == nullptr)
    return fallback;
  return (*g)[r][c];
}

}  // namespace

void gwflowclass::refresh_glacier_fraction() {
  if (glacier == nullptr) return;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c)
      glacier_fraction[r][c] = own_cell(r, c) ? std::clamp((*glacier)[r][c], 0.0, 1.0) : 0.0;
  exchange_halo(0, &glacier_fraction);
}

bool gwflowclass::admitted_neighbour(int row, int col, int nrow, int ncol) const {
  if (nrow < 1 || nrow > nrows || ncol < 1 || ncol > ncols) return false;
  const double z = zone_at(nrow, ncol);
  if (z == nodata) return false;
  return flow_control != 3 || z == zone_at(row, col);
}

void gwflowclass::compute_leakage(int j) {
  gw_layer& up = layers[static_cast<size_t>(j)];
  const gw_layer& low = layers[static_cast<size_t>(j + 1)];
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      up.leakage[r][c] = glacier_at(r, c) >= 1
                             ? 0
                             : leakage_rate(up.head[r][c], low.head[r][c],
                                            low.upper_limit[r][c], (*up.colmation)[r][c]);
    }
}

void gwflowclass::start_substep_layer(int k) {
  gw_layer& L = layers[static_cast<size_t>(k)];
  constexpr double M_TO_MM = 1000;  // [mm m-1]
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c) || glacier_at(r, c) >= 1) continue;
      L.head_old_old[r][c] = L.head_old[r][c];
      if (k == 1) {
        const double d = (*gw_distance)[r][c];
        double h = (*elevation)[r][c] + d;
        if (std::fabs(d) < 0.001) {
          if (pond_used && ponding != nullptr)
            h += (*ponding)[r][c] / M_TO_MM;
          else if (silting_storage != nullptr && (*silting_storage)[r][c] > 0)
            h += (*silting_storage)[r][c] / M_TO_MM;
        }
        L.head[r][c] = L.head_old[r][c] = L.head_iter[r][c] = h;
      } else {
        L.head_old[r][c] = L.head_iter[r][c] = L.head[r][c];
      }
      // A fixed head holds from the start of the sub-step, so that its
      // neighbours read the same previous head on every process.
      const double fixed = (*L.fixed_head)[r][c];
      if (fixed != nodata) L.head[r][c] = L.head_old[r][c] = L.head_old_old[r][c] = fixed;
      for (int t = 1; t <= tracer_count; ++t) {
        const gw_tracer& tr = gw_tracers[static_cast<size_t>(t)];
        if (tr.radioactive)
          tr.layers[static_cast<size_t>(k)].storage[r][c] *= tr.decay_factor;
      }
    }
}

void gwflowclass::compute_transmissivities() {
  const int hf = halo_first(), hl = halo_last();
  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
    // Faces of cells that are not this process's: 0 unless the halo
    // exchange brings the owner's value.
    for (int r = hf; r <= hl; ++r)
      for (int c = 1; c <= ncols; ++c)
        if (!own_cell(r, c)) L.trans_x[r][c] = L.trans_y[r][c] = 0;
    const bool top = k == 1;
    auto effective = [&](int r, int c, double b) {
      if (!top) return b;
      if (frozen != nullptr) {
        const double f = held_value(frozen, r, c, nodata);
        return f > nodata ? std::max(0.0, b - f) : b;
      }
      if (thaw != nullptr) {
        const double d = held_value(thaw, r, c, nodata);
        return d > nodata ? std::min(b, -d) : b;
      }
      return b;
    };
    auto transmissivity = [&](int r, int c, const grid_matrix& k_dir, bool strict, double b_eff) {
      if (glacier_at(r, c) > 0) return 0.0;
      const double h = L.head[r][c], z = L.upper_limit[r][c];
      const bool confined = strict ? h > z + CONFINED_MARGIN : h >= z + CONFINED_MARGIN;
      return cell_transmissivity(k_dir[r][c], h, z, (*L.thickness)[r][c], b_eff, confined);
    };
#pragma omp parallel for schedule(runtime) if (parallel_band())
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) {
        if (!own_cell(r, c)) continue;
        if (glacier_at(r, c) >= 1) {
          L.trans_x[r][c] = L.trans_y[r][c] = 0;
          continue;
        }
        const double b_c = effective(r, c, (*L.thickness)[r][c]);
        auto face = [&](int nr, int nc, const grid_matrix& k_dir, bool strict_own) {
          face_cells f;
          f.t_c = transmissivity(r, c, k_dir, strict_own, b_c);
          f.h_c = L.head[r][c];
          f.k_c = k_dir[r][c];
          f.g_c = glacier_at(r, c);
          f.admitted = admitted_neighbour(r, c, nr, nc);
          if (f.admitted) {
            const double g_n = glacier_at(nr, nc);
            const double b_n = effective(nr, nc, g_n < 1 ? (*L.thickness)[nr][nc] : 0.0);
            f.t_n = transmissivity(nr, nc, k_dir, false, b_n);
            f.h_n = L.head[nr][nc];
            f.k_n = k_dir[nr][nc];
            f.g_n = g_n;
          }
          return face_transmissivity(f);
        };
        L.trans_x[r][c] = face(r, c + 1, *L.k_x, true);
        L.trans_y[r][c] = face(r + 1, c, *L.k_y, false);
      }
  }
}

double gwflowclass::sor_sweep(int k) {
  gw_layer& L = layers[static_cast<size_t>(k)];
  const gw_layer& top = layers[1];
  const grid_matrix* leak_in = &L.leakage;
  const grid_matrix* leak_out = k > 1 ? &layers[static_cast<size_t>(k - 1)].leakage : nullptr;
  const double area = dx * dy;
  const int rows = last_row - first_row + 1;
  // Per row, so that the sums do not depend on the threads.
  std::vector<double> row_factor(static_cast<size_t>(std::max(rows, 0)), 0.0);
  std::vector<double> row_cells(row_factor.size(), 0.0);
  std::vector<double> row_measure(row_factor.size(), 0.0);
  for (int colour = 0; colour < 2; ++colour) {
#pragma omp parallel for schedule(runtime) if (parallel_band())
    for (int r = first_row; r <= last_row; ++r) {
      const size_t i = static_cast<size_t>(r - first_row);
      double measure_max = row_measure[i], factor_sum = row_factor[i], cells = row_cells[i];
      // Cells of this colour only: every second column.
      for (int c = 2 - (r + colour) % 2; c <= ncols; c += 2) {
        if (!own_cell(r, c) || glacier_at(r, c) >= 1) continue;
        const double fixed = (*L.fixed_head)[r][c];
        if (fixed != nodata) {
          L.head[r][c] = L.head_old[r][c] = L.head_old_old[r][c] = fixed;
          continue;
        }
        const double h = L.head[r][c], h0 = L.head_old[r][c];
        sor_cell_input in;
        auto neighbour = [&](int nr, int nc) {
          if (nr < 1 || nr > nrows || nc < 1 || nc > ncols) return h;
          return (1 - alpha) * L.head_old[nr][nc] + alpha * L.head[nr][nc];
        };
        in.v[0] = neighbour(r - 1, c);
        in.v[1] = neighbour(r, c + 1);
        in.v[2] = neighbour(r + 1, c);
        in.v[3] = neighbour(r, c - 1);
        in.c[0] = r > 1 ? dx / dy * L.trans_y[r - 1][c] : 0;
        in.c[1] = dy / dx * L.trans_x[r][c];
        in.c[2] = dx / dy * L.trans_y[r][c];
        in.c[3] = c > 1 ? dy / dx * L.trans_x[r][c - 1] : 0;
        const bool confined = h0 >= L.upper_limit[r][c];
        in.storage = confined ? (*L.storage)[r][c] : (*top.storage)[r][c];
        const double q_fix = (*L.fixed_flux)[r][c];
        in.source = in.storage / dt * h0 + (*leak_in)[r][c] -
                    (leak_out != nullptr ? (*leak_out)[r][c] : 0.0) +
                    (q_fix > nodata ? q_fix : 0.0);
        in.h0 = h0;
        in.area = area;
        in.dt = dt;
        in.alpha = alpha;
        const double delta = sor_new_head(in) - h;
        const double measure = confined ? std::fabs(delta) / CONFINED_MEASURE : std::fabs(delta);
        measure_max = std::max(measure_max, measure);
        if (adaptive != 0) {
          const double f = adaptive_relaxation(delta, h, L.head_iter[r][c]);
          L.head_iter[r][c] = h;
          L.head[r][c] = h + f * delta;
          factor_sum += f;
          cells += 1;
        } else {
          L.head[r][c] = omega != 1 ? h + omega * delta : h + delta;
        }
      }
      row_measure[i] = measure_max;
      row_factor[i] = factor_sum;
      row_cells[i] = cells;
    }
    if (colour == 0) exchange_halo(L.index[0]);
  }
  relax_sum = 0;
  relax_cells = 0;
  largest_change = 0;
  for (size_t i = 0; i < row_factor.size(); ++i) {
    relax_sum += row_factor[i];
    relax_cells += row_cells[i];
    largest_change = std::max(largest_change, row_measure[i]);
  }
  return largest_change;
}

double gwflowclass::solve_rows_direct(int k) {
  gw_layer& L = layers[static_cast<size_t>(k)];
  const int rows = last_row - first_row + 1;
  std::vector<double> row_change(static_cast<size_t>(std::max(rows, 0)), 0.0);
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r) {
    std::vector<double> a(static_cast<size_t>(ncols)), d(a.size()), u(a.size()), w(a.size()),
        x(a.size());
    double change = 0;
    // A neighbour of cell (r, j) that takes part in its equation.
    auto counts = [&](int j, int nr, int nc) {
      return admitted_neighbour(r, j, nr, nc) && glacier_at(nr, nc) != 1;
    };
    auto eligible = [&](int c) { return own_cell(r, c) && glacier_at(r, c) < 1; };
    auto isolated = [&](int c) {
      return L.trans_x[r][c] <= 0 && L.trans_y[r][c] <= 0 &&
             (c == 1 || L.trans_x[r][c - 1] <= 0) && (r == 1 || L.trans_y[r - 1][c] <= 0);
    };
    auto fixed_at = [&](int c) { return (*L.fixed_head)[r][c] != nodata; };
    int c = 1;
    while (c <= ncols) {
      if (!own_cell(r, c)) {
        ++c;
        continue;
      }
      if (fixed_at(c)) {
        L.head[r][c] = (*L.fixed_head)[r][c];
        ++c;
        continue;
      }
      if (!eligible(c)) {
        ++c;
        continue;
      }
      if (isolated(c)) {
        const double q = (*L.fixed_flux)[r][c];
        if (q > nodata) L.head[r][c] += q * dt / (*L.storage)[r][c];
        ++c;
        continue;
      }
      const int start = c;
      const double run_zone = zone_at(r, c);
      int end = c;
      while (end < ncols) {
        const int n = end + 1;
        if (!eligible(n) || fixed_at(n) || isolated(n)) break;
        if (flow_control == 3 && zone_at(r, n) != run_zone) break;
        ++end;
      }
      const int n = end - start + 1;
      for (int j = start; j <= end; ++j) {
        const size_t i = static_cast<size_t>(j - start);
        const double s = (*L.storage)[r][j];
        a[i] = j > 1 && counts(j, r, j - 1) ? L.trans_x[r][j - 1] / dx : 0;
        u[i] = j < ncols && counts(j, r, j + 1) ? L.trans_x[r][j] / dx : 0;
        const double q_n = r > 1 && counts(j, r - 1, j)
                               ? (L.head_old[r][j] - L.head_old[r - 1][j]) * L.trans_y[r - 1][j] /
                                     (dy * dy)
                               : 0;
        const double q_s = r < nrows && counts(j, r + 1, j)
                               ? (L.head_old[r + 1][j] - L.head_old[r][j]) * L.trans_y[r][j] /
                                     (dy * dy)
                               : 0;
        const double q_fix = (*L.fixed_flux)[r][j];
        d[i] = -dx * s / dt - a[i] - u[i];
        w[i] = dx * (-s * L.head[r][j] / dt - q_s + q_n - (q_fix > nodata ? q_fix : 0.0));
        auto outside = [&](int nc) {
          return nc >= 1 && nc <= ncols && (fixed_at(nc) || (*mpi_regions)[r][nc] != rank);
        };
        if (j > 1 && outside(j - 1)) {
          w[i] -= a[i] * L.head[r][j - 1];
          a[i] = 0;
        }
        if (j < ncols && outside(j + 1)) {
          w[i] -= u[i] * L.head[r][j + 1];
          u[i] = 0;
        }
      }
      solve_tridiagonal(a.data(), d.data(), u.data(), w.data(), x.data(), n);
      for (int j = start; j <= end; ++j) {
        const double value = x[static_cast<size_t>(j - start)];
        change = std::max(change, std::fabs(value - L.head[r][j]));
        L.head[r][j] = value;
      }
      c = end + 1;
    }
    row_change[static_cast<size_t>(r - first_row)] = change;
  }
  largest_change = 0;
  for (double v : row_change) largest_change = std::max(largest_change, v);
  return largest_change;
}

int64_t gwflowclass::count_oscillations(const grid_matrix& h, const grid_matrix& h0,
                                        const grid_matrix& hp) {
  const int rows = last_row - first_row + 1;
  std::vector<int64_t> row_count(static_cast<size_t>(std::max(rows, 0)), 0);
  std::vector<double> row_sum(row_count.size(), 0.0), row_max(row_count.size(), 0.0);
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r) {
    const size_t i = static_cast<size_t>(r - first_row);
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const double now = h[r][c] - h0[r][c];
      if (!oscillates(h0[r][c] - hp[r][c], now, max_error)) continue;
      ++row_count[i];
      row_sum[i] += std::fabs(now);
      row_max[i] = std::max(row_max[i], std::fabs(now));
    }
  }
  int64_t count = 0;
  double sum = 0, maximum = 0;
  for (size_t i = 0; i < row_count.size(); ++i) {
    count += row_count[i];
    sum += row_sum[i];
    maximum = std::max(maximum, row_max[i]);
  }
  if (divided()) {
    MPI_Allreduce(MPI_IN_PLACE, &count, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, &sum, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, &maximum, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  }
  osc_sum = sum;
  osc_max = maximum;
  return count;
}

void gwflowclass::iterate_layer(int k) {
  gw_layer& L = layers[static_cast<size_t>(k)];
  iteration_count = 0;
  relax_sum = 0;
  relax_cells = 0;
  double err = 0;
  while (true) {
    ++iteration_count;
    exchange_layer_heads(k);
    double change = 0;
    if (method == 1) change = sor_sweep(k);
    if (method == 2) change = solve_rows_direct(k);
    err = change;
    if (divided()) MPI_Allreduce(&change, &err, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    if (iteration_count >= max_iterations) break;
    if (!(err > max_error && method == 1)) break;
  }
  last_err = err;
  osc_count = count_oscillations(L.head, L.head_old, L.head_old_old);
  report_iterations(k);
}

void gwflowclass::report_iterations(int k) {
  if (method != 1) return;
  const bool due = report_interval == 1 ||
                   (report_interval > 1 &&
                    static_cast<int>(static_cast<double>(cur_hour) + hour_shift) %
                            report_interval ==
                        0);
  if (!due) return;
  const double factor = adaptive != 0 ? (relax_cells > 0 ? relax_sum / relax_cells : 0) : omega;
  const double average = osc_count < 1 ? 0 : osc_sum / static_cast<double>(osc_count);
  diag_entry(*diag, "GWlevel ", k, ", MPI-rank ", rank, ", Steps ", iteration_count, " err ",
             last_err, ", SOR ", factor, ", osc. at ", static_cast<long long>(osc_count),
             " points (av: ", average, ", max ", osc_max, ")");
}
