// After the heads of a sub-step: specific discharges between neighbouring
// cells (Darcy's law with the cell's own conductivity), the storage release
// of the top layer handed to the unsaturated zone as "baseflow", the balance
// residual of every cell and layer, and the upwind transport of tracers with
// the volumes exchanged between cells and layers (complete mixing in the
// cell).
#include <algorithm>
#include <vector>

#include "settings/tracer_entry.h"
#include "soilwater/gwflow.h"
#include "soilwater/gwflow_kernels.h"

void gwflowclass::compute_lateral_flows() {
  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
#pragma omp parallel for schedule(runtime) if (parallel_band())
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) {
        if (zone_at(r, c) == nodata) {
          L.flow_x[r][c] = L.flow_y[r][c] = 0;
          continue;
        }
        if (!own_cell(r, c)) continue;
        if (glacier_at(r, c) >= 1) {
          L.flow_x[r][c] = L.flow_y[r][c] = 0;
          continue;
        }
        auto discharge = [&](int nr, int nc, const grid_matrix& k_dir, double width) {
          if (!(zone_at(r, c) > nodata) || !(zone_at(nr, nc) > nodata)) return nodata;
          if (glacier_at(nr, nc) >= 1) return 0.0;
          return specific_discharge(L.head[r][c], L.head[nr][nc], k_dir[r][c], width);
        };
        L.flow_x[r][c] = c < ncols ? discharge(r, c + 1, *L.k_x, dx) : 0.0;
        L.flow_y[r][c] = r < nrows ? discharge(r + 1, c, *L.k_y, dy) : 0.0;
      }
    // The transport reads the direction of the neighbours' discharges.
    exchange_halo(L.index[6]);
    exchange_halo(L.index[7]);
  }
}

void gwflowclass::baseflow_cells() {
  if (layers_n < 1) return;
  const gw_layer& top = layers[1];
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      (*baseflow)[r][c] = glacier_at(r, c) < 1 ? (top.head_old[r][c] - top.head[r][c]) *
                                                     (*top.storage)[r][c] / dt
                                               : 0.0;
    }
}

void gwflowclass::balance_and_transport_layer(int k) {
  gw_layer& L = layers[static_cast<size_t>(k)];
  const gw_layer& top = layers[1];
  const grid_matrix* leak_above = k > 1 ? &layers[static_cast<size_t>(k - 1)].leakage : nullptr;
  const bool below = k < layers_n;
  const double area = dx * dy;
  const int rows = std::max(last_row - first_row + 1, 0);
  // The water of each cell, for the zone sums after the parallel loop.
  std::vector<double> water(static_cast<size_t>(rows) * static_cast<size_t>(ncols + 1), 0.0);
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      if (glacier_at(r, c) >= 1) {
        L.balance[r][c] = 0;
        continue;
      }
      const double h = L.head[r][c];
      const bool north = r > 1 && zone_at(r - 1, c) != nodata && L.flow_y[r - 1][c] != nodata;
      const bool east = c < ncols && zone_at(r, c + 1) != nodata && L.flow_x[r][c] != nodata;
      const bool south = r < nrows && zone_at(r + 1, c) != nodata && L.flow_y[r][c] != nodata;
      const bool west = c > 1 && zone_at(r, c - 1) != nodata && L.flow_x[r][c - 1] != nodata;
      const double i_n = north ? (L.head[r - 1][c] - h) / dy * L.trans_y[r - 1][c] * dx * dt : 0;
      const double i_e = east ? -(h - L.head[r][c + 1]) / dx * L.trans_x[r][c] * dy * dt : 0;
      const double i_s = south ? -(h - L.head[r + 1][c]) / dy * L.trans_y[r][c] * dx * dt : 0;
      const double i_w = west ? (L.head[r][c - 1] - h) / dx * L.trans_x[r][c - 1] * dy * dt : 0;
      cell_volumes v;
      v.lateral = i_n + i_e + i_s + i_w;
      v.up = leak_above != nullptr ? -(*leak_above)[r][c] * area * dt : 0;
      v.down = below ? L.leakage[r][c] * area * dt : 0;
      v.stored = stored_volume((*top.storage)[r][c], area, (*L.thickness)[r][c], L.head_old[r][c],
                               L.upper_limit[r][c]);
      const double outflow = v.stored + v.lateral + v.up + v.down;
      // The storage coefficient the solver used: an unconfined lower layer
      // stores with the top layer's, and its balance must say so too.
      const double s_used = L.head_old[r][c] >= L.upper_limit[r][c] ? (*L.storage)[r][c]
                                                                     : (*top.storage)[r][c];
      L.balance[r][c] = balance_residual(h, L.head_old[r][c], s_used, v, area);
      water[static_cast<size_t>(r - first_row) * static_cast<size_t>(ncols + 1) +
            static_cast<size_t>(c)] = outflow;
      for (int t = 1; t <= tracer_count; ++t) {
        gw_tracer& tr = gw_tracers[static_cast<size_t>(t)];
        const grid_matrix& conc = tr.layers[static_cast<size_t>(k)].storage;
        const double c0 = conc[r][c];
        double mass = c0 * v.stored;
        if (north) mass += i_n * (L.flow_y[r - 1][c] > 0 ? conc[r - 1][c] : c0);
        if (east) mass += i_e * (L.flow_x[r][c] > 0 ? c0 : conc[r][c + 1]);
        if (south) mass += i_s * (L.flow_y[r][c] > 0 ? c0 : conc[r + 1][c]);
        if (west) mass += i_w * (L.flow_x[r][c - 1] > 0 ? conc[r][c - 1] : c0);
        if (leak_above != nullptr)
          mass += v.up * ((*leak_above)[r][c] < 0
                              ? tr.layers[static_cast<size_t>(k - 1)].storage[r][c]
                              : c0);
        if (below)
          mass += v.down * (L.leakage[r][c] >= 0
                                ? tr.layers[static_cast<size_t>(k + 1)].storage[r][c]
                                : c0);
        tr.flux[r][c] = mixed_concentration(mass, outflow);
      }
    }
  // Zone sums in row order: the same on any number of threads.
  for (int t = 1; t <= tracer_count; ++t) {
    gw_tracer& tr = gw_tracers[static_cast<size_t>(t)];
    std::vector<zone_record>& z = tr.layers[static_cast<size_t>(k)].zones;
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) {
        if (!own_cell(r, c) || glacier_at(r, c) >= 1) continue;
        const double code = zone_at(r, c);
        if (code < 0 || code > max_zone_code) continue;
        const int zi = (*zone_index)[static_cast<size_t>(code)];
        if (zi < 0 || zi >= static_cast<int>(z.size())) continue;
        zone_record& rec = z[static_cast<size_t>(zi)];
        const double o = water[static_cast<size_t>(r - first_row) * static_cast<size_t>(ncols + 1) +
                               static_cast<size_t>(c)];
        const double c1 = tr.flux[r][c];
        if (rel_cell_area != nullptr) {
          const double w = (*rel_cell_area)[r][c];
          rec.sum += c1 * w;
          rec.count += w * o;
          rec.weight += w;
        } else {
          rec.sum += c1;
          rec.count += o;
          rec.weight += o;
        }
      }
  }
#pragma omp parallel for schedule(runtime) if (parallel_band())
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (zone_at(r, c) <= nodata) {
        L.head[r][c] = nodata;
        for (int t = 1; t <= tracer_count; ++t)
          gw_tracers[static_cast<size_t>(t)].layers[static_cast<size_t>(k)].storage[r][c] = nodata;
        continue;
      }
      if (!own_cell(r, c) || glacier_at(r, c) >= 1) continue;
      for (int t = 1; t <= tracer_count; ++t) {
        gw_tracer& tr = gw_tracers[static_cast<size_t>(t)];
        tr.layers[static_cast<size_t>(k)].storage[r][c] = tr.flux[r][c];
      }
    }
}
