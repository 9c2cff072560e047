// The model object's transfers: resolve a store index to its grid or stack and
// hand the object's division to the transfers of distribution.h.
#include "modelbase/diagstream.h"
#include "modelbase/distribution.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

void modelobject::find_division_grids() {
  if (store == nullptr) return;
  const int regions_index = find_grid("MPIRegions", 1);
  const int helper_index = find_grid("MPIHelper", 1);
  mpi_regions = regions_index > 0 ? (*store)[regions_index].grid : nullptr;
  mpi_helper = helper_index > 0 ? (*store)[helper_index].grid : nullptr;
}

distribution_view modelobject::division_view() const {
  distribution_view v;
  v.diag = diag;
  v.rank = rank;
  v.process_count = process_count;
  v.ncols = ncols;
  v.nrows = nrows;
  v.first_row = first_row;
  v.last_row = last_row;
  v.nodata = nodata;
  v.strips = strips;
  v.regions = mpi_regions;
  v.helper = mpi_helper;
  v.halo_send = halo_send;
  v.halo_receive = halo_receive;
  return v;
}

namespace {

grid_matrix* entry_grid(grid_store* store, int index, grid_matrix* grid) {
  if (grid != nullptr || store == nullptr || !grid_store::valid_index(index)) return grid;
  return (*store)[index].grid;
}

stack_matrix* entry_stack(grid_store* store, int index, stack_matrix* stack) {
  if (stack != nullptr || store == nullptr || !grid_store::valid_index(index)) return stack;
  return (*store)[index].stack;
}

int entry_levels(grid_store* store, int index, const stack_matrix* stack) {
  if (store != nullptr && index > 0 && grid_store::valid_index(index))
    return (*store)[index].levels;
  return stack != nullptr ? stack->levels() : 0;
}

std::string entry_name(grid_store* store, int index) {
  if (store == nullptr || !grid_store::valid_index(index)) return std::string();
  const grid_entry& e = (*store)[index];
  return e.grid_name ? *e.grid_name : std::string();
}

}  // namespace

void modelobject::scatter_grid(int index, grid_matrix* grid) {
  const distribution_view v = division_view();
  if (!v.distributed()) return;
  if (grid_matrix* g = entry_grid(store, index, grid)) distribution::scatter_grid(v, *g);
}

void modelobject::gather_grid(int index, grid_matrix* grid) {
  const distribution_view v = division_view();
  if (!v.distributed()) return;
  if (grid_matrix* g = entry_grid(store, index, grid)) distribution::gather_grid(v, *g);
}

grid_matrix modelobject::gather_grid_copy(int index, const grid_matrix* grid) {
  const grid_matrix* g = entry_grid(store, index, const_cast<grid_matrix*>(grid));
  if (g == nullptr) return grid_matrix();
  return distribution::gather_grid_copy(division_view(), *this, *g);
}

void modelobject::gather_stack(int index, stack_matrix* stack) {
  const distribution_view v = division_view();
  if (!v.distributed()) return;
  stack_matrix* s = entry_stack(store, index, stack);
  if (s == nullptr) return;
  distribution::gather_stack(v, *s, entry_levels(store, index, s), entry_name(store, index));
}

stack_matrix modelobject::gather_stack_copy(int index, const stack_matrix* stack) {
  const stack_matrix* s = entry_stack(store, index, const_cast<stack_matrix*>(stack));
  if (s == nullptr) return stack_matrix();
  return distribution::gather_stack_copy(division_view(), *this, *s, entry_levels(store, index, s),
                                         entry_name(store, index));
}

void modelobject::MPIScatterStack(int index, stack_matrix* stack, int levels) {
  if (index > 0) {
    levels = entry_levels(store, index, stack);
  } else if (levels == 0) {
    fail_fatal(*diag, MISSING_LEVEL_COUNT_CODE,
               "no level-count given as (optional) parameter to MPIScatterStack. Please report "
               "to the author.");
  }
  const distribution_view v = division_view();
  if (!v.distributed()) return;
  stack_matrix* s = entry_stack(store, index, stack);
  if (s == nullptr) return;
  if (index > 0)
    diag_entry(*diag, "re-distributing stack ", entry_name(store, index), " for mpi-rank ", rank);
  distribution::scatter_stack(v, *s, levels);
}

void modelobject::exchange_halo(int index, grid_matrix* grid) {
  if (index < 0) return;
  if (grid_matrix* g = entry_grid(store, index, grid))
    distribution::exchange_halo(division_view(), *g);
}

void modelobject::exchange_halo_stack(int index, stack_matrix* stack) {
  stack_matrix* s = entry_stack(store, index, stack);
  if (s == nullptr) return;
  distribution::exchange_halo_stack(division_view(), *s, entry_levels(store, index, s));
}

void modelobject::reduce_zone_records(zone_record* records, int last, char also_weight) {
  distribution::reduce_zone_records(records, last, also_weight != 0);
}

void modelobject::broadcast_zone_records(zone_record* records, int last) {
  distribution::broadcast_zone_records(records, last);
}

void modelobject::gather_masked(int values_index, int mask_index,
                                const std::vector<int64_t>& counts, grid_matrix* target) {
  grid_matrix* values = entry_grid(store, values_index, nullptr);
  const grid_matrix* mask = entry_grid(store, mask_index, nullptr);
  if (values == nullptr || mask == nullptr) return;
  distribution::gather_masked(division_view(), *values, *mask, counts, target);
}

void modelobject::scatter_masked(int values_index, int mask_index,
                                 const std::vector<int64_t>& counts) {
  grid_matrix* values = entry_grid(store, values_index, nullptr);
  const grid_matrix* mask = entry_grid(store, mask_index, nullptr);
  if (values == nullptr || mask == nullptr) return;
  distribution::scatter_masked(division_view(), *values, *mask, counts);
}
