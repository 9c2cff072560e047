#include "snow/snowslide_exchange.h"

#include <mpi.h>

#include <algorithm>

namespace {

// Values per cell sent to process 0 (total, liquid; and on the glacier part)
// and back (total, liquid, input, mobile, deposition; and on the glacier part).
size_t values_up(bool storages) { return storages ? 4 : 2; }
size_t values_down(bool storages) { return storages ? 7 : 5; }

int owner_of(double value) { return value > 0 ? static_cast<int>(value) : 0; }

bool has_storages(const slide_exchange_grids& g) {
  return g.total_g != nullptr && g.glacier != nullptr;
}

}  // namespace

void slide_exchange::build(const distribution_view& v, const slide_walk_inputs* in,
                           const grid_matrix& zone) {
  const bool many = v.distributed();
  if (v.rank == 0) {
    plan = build_slide_plan(*in);
    owner_cells.assign(many ? static_cast<size_t>(v.process_count) : 1, {});
    for (int32_t k : plan.zone_cells) {
      const int r = k / v.ncols + 1, c = k % v.ncols + 1;
      const int owner = many ? owner_of((*v.regions)[r][c]) : 0;
      owner_cells[static_cast<size_t>(owner)].push_back(k);
    }
  } else if (many) {
    for (int r = std::max(v.first_row, 1); r <= std::min(v.last_row, v.nrows); ++r) {
      const double* regions = (*v.regions)[r];
      const double* z = zone[r];
      if (regions == nullptr || z == nullptr) continue;
      for (int c = 1; c <= v.ncols; ++c)
        if (z[c] != v.nodata && owner_of(regions[c]) == v.rank) {
          own_cells.push_back(r);
          own_cells.push_back(c);
        }
      // The run cells outside the zone hold the missing value in the slide
      // grids, as on process 0.
      const double* h = (*v.helper)[r];
      if (h == nullptr) continue;
      for (int pos = 1; pos + 1 <= v.ncols; pos += 2) {
        const int col = static_cast<int>(h[pos]);
        const int count = static_cast<int>(h[pos + 1]);
        if (col < 1 || count < 1) break;
        for (int c = col; c < col + count && c <= v.ncols; ++c)
          if (z[c] == v.nodata) {
            own_outside.push_back(r);
            own_outside.push_back(c);
          }
      }
    }
  }
  is_built = true;
}

void slide_exchange::refresh_glacier(const slide_walk_inputs& in) {
  if (plan.glacier_storages) refresh_slide_glacier(plan, in);
}

void slide_exchange::gather(const distribution_view& v, const slide_exchange_grids& g) {
  const bool storages = has_storages(g);
  const size_t up = values_up(storages);
  if (v.rank != 0) {
    if (!v.distributed()) return;
    const size_t n = own_cells.size() / 2;
    buffer.resize(n * up);
    double* b = buffer.data();
    for (size_t k = 0; k < n; ++k) {
      const int r = own_cells[2 * k], c = own_cells[2 * k + 1];
      *b++ = (*g.total)[r][c];
      *b++ = (*g.liquid)[r][c];
      if (storages) {
        *b++ = (*g.total_g)[r][c];
        *b++ = (*g.liquid_g)[r][c];
      }
    }
    MPI_Send(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, 0, 0, MPI_COMM_WORLD);
    return;
  }
  for (int32_t k : owner_cells[0]) {
    const int r = k / v.ncols + 1, c = k % v.ncols + 1;
    slide_cell& cell = plan.cells[static_cast<size_t>(k)];
    cell.total = (*g.total)[r][c];
    cell.liquid = (*g.liquid)[r][c];
    if (storages) {
      plan.glacier_cells[static_cast<size_t>(k)].total = (*g.total_g)[r][c];
      plan.glacier_cells[static_cast<size_t>(k)].liquid = (*g.liquid_g)[r][c];
    }
  }
  for (size_t p = 1; p < owner_cells.size(); ++p) {
    const std::vector<int32_t>& list = owner_cells[p];
    buffer.resize(list.size() * up);
    MPI_Recv(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, static_cast<int>(p), 0,
             MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    const double* b = buffer.data();
    for (int32_t k : list) {
      slide_cell& cell = plan.cells[static_cast<size_t>(k)];
      cell.total = *b++;
      cell.liquid = *b++;
      if (storages) {
        plan.glacier_cells[static_cast<size_t>(k)].total = *b++;
        plan.glacier_cells[static_cast<size_t>(k)].liquid = *b++;
      }
    }
  }
}

void slide_exchange::scatter(const distribution_view& v, const slide_exchange_grids& g) {
  const bool storages = has_storages(g);
  const size_t down = values_down(storages);
  if (v.rank != 0) {
    if (!v.distributed()) return;
    const size_t n = own_cells.size() / 2;
    buffer.resize(n * down);
    MPI_Recv(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, 0, 0, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
    const double* b = buffer.data();
    for (size_t k = 0; k < n; ++k) {
      const int r = own_cells[2 * k], c = own_cells[2 * k + 1];
      // The same share as the walk took.
      const double share = storages ? std::clamp((*g.glacier)[r][c], 0.0, 1.0) : 0.0;
      const double total = *b++;
      const double liquid = *b++;
      (*g.total)[r][c] = total;
      (*g.liquid)[r][c] = liquid;
      if (share < 1) (*g.solid)[r][c] = total - liquid;
      (*g.input)[r][c] = *b++;
      (*g.mobile)[r][c] = *b++;
      (*g.deposition)[r][c] = *b++;
      if (storages) {
        const double total_g = *b++;
        const double liquid_g = *b++;
        (*g.total_g)[r][c] = total_g;
        (*g.liquid_g)[r][c] = liquid_g;
        if (share > 0) (*g.solid_g)[r][c] = total_g - liquid_g;
      }
    }
    for (size_t k = 0; k + 1 < own_outside.size(); k += 2) {
      const int r = own_outside[k], c = own_outside[k + 1];
      (*g.input)[r][c] = (*g.mobile)[r][c] = (*g.deposition)[r][c] = v.nodata;
    }
    return;
  }
  // Process 0 keeps whole current grids, as a walk over its grids would.
  for (int32_t k : plan.zone_cells) {
    const int r = k / v.ncols + 1, c = k % v.ncols + 1;
    const slide_cell& cell = plan.cells[static_cast<size_t>(k)];
    (*g.total)[r][c] = cell.total;
    (*g.liquid)[r][c] = cell.liquid;
    if (cell.glacier < 1) (*g.solid)[r][c] = cell.solid;
    (*g.input)[r][c] = cell.input;
    (*g.mobile)[r][c] = cell.mobile;
    (*g.deposition)[r][c] = cell.deposition;
    if (storages) {
      const slide_glacier_cell& part = plan.glacier_cells[static_cast<size_t>(k)];
      (*g.total_g)[r][c] = part.total;
      (*g.liquid_g)[r][c] = part.liquid;
      if (cell.glacier > 0) (*g.solid_g)[r][c] = part.solid;
    }
  }
  for (int32_t k : plan.outside_cells) {
    const int r = k / v.ncols + 1, c = k % v.ncols + 1;
    (*g.input)[r][c] = (*g.mobile)[r][c] = (*g.deposition)[r][c] = v.nodata;
  }
  for (size_t p = 1; p < owner_cells.size(); ++p) {
    const std::vector<int32_t>& list = owner_cells[p];
    buffer.resize(list.size() * down);
    double* b = buffer.data();
    for (int32_t k : list) {
      const slide_cell& cell = plan.cells[static_cast<size_t>(k)];
      *b++ = cell.total;
      *b++ = cell.liquid;
      *b++ = cell.input;
      *b++ = cell.mobile;
      *b++ = cell.deposition;
      if (storages) {
        *b++ = plan.glacier_cells[static_cast<size_t>(k)].total;
        *b++ = plan.glacier_cells[static_cast<size_t>(k)].liquid;
      }
    }
    MPI_Send(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, static_cast<int>(p), 0,
             MPI_COMM_WORLD);
  }
}
