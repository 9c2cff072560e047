// Transfers of grid and stack values between the processes that share the
// grid. "MPIRegions" names the owning process of every cell and "MPIHelper"
// holds, per row, the runs of cells in the form the transfers walk. A gather
// moves all runs of a partner as one message described in place (tag = row
// of its first run); scatters and halo exchanges move each run as one
// message (tag = row); never cell by cell. Every operation is collective: all processes call it with the
// same arguments in the same order.
//
// Model objects call these through their own operations (scatter_grid,
// gather_grid, gather_grid_copy, gather_stack, gather_stack_copy,
// MPIScatterStack, exchange_halo, exchange_halo_stack, reduce_zone_records,
// broadcast_zone_records, gather_masked, scatter_masked; see modelobject.h),
// which resolve a store index to its grid or stack and pass the object's
// division here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class DiagStream;
class memory_handling;

constexpr int HELPER_OVERFLOW_CODE = 120;  // a run list that does not end within its row
constexpr int MISSING_LEVEL_COUNT_CODE = 1010;
constexpr int MASKED_COUNT_CODE = 122;  // per-process counts that do not match the mask

// What the transfers read of a model object's division of the grid.
struct distribution_view {
  DiagStream* diag = nullptr;
  int rank = 0;
  int process_count = 1;
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;  // this process's own rows (the band may hold a halo row more)
  int last_row = 0;
  double nodata = NODATA;
  const std::vector<row_strip>* strips = nullptr;  // per row the span of zone data
  const grid_matrix* regions = nullptr;            // "MPIRegions"
  const grid_matrix* helper = nullptr;             // "MPIHelper"
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;

  // The scatter and gather operations do nothing unless this holds.
  bool distributed() const { return process_count > 1 && regions != nullptr && helper != nullptr; }
};

namespace distribution {

// Process 0 sends every run of other processes' cells to their owners.
void scatter_grid(const distribution_view& v, grid_matrix& grid);
// The owners send their runs to process 0, into the same grid.
void gather_grid(const distribution_view& v, grid_matrix& grid);
// Process 0 gets a new full grid (rows 1..nrows): its own cells from grid,
// the other owners' cells received, nodata elsewhere (so also with one
// process). Other processes send and get an empty grid. Without "MPIRegions"
// process 0 gets a plain copy of grid.
grid_matrix gather_grid_copy(const distribution_view& v, memory_handling& alloc,
                             const grid_matrix& grid);
// Rows first..last of the copy gather_grid_copy gives, into band at process
// 0 (row r from band + (r - first) * (ncols + 1), columns 1..ncols): the
// owners send their runs of those rows only. Needs "MPIRegions". Every
// process calls it for the same rows, so a grid can be gathered band after
// band through one buffer.
void gather_band_copy(const distribution_view& v, const grid_matrix& grid, int first, int last,
                      double* band);

// Stacks move levels + 1 values per cell; grid_name is for the progress entry.
void gather_stack(const distribution_view& v, stack_matrix& stack, int levels,
                  const std::string& grid_name);
stack_matrix gather_stack_copy(const distribution_view& v, memory_handling& alloc,
                               const stack_matrix& stack, int levels, const std::string& grid_name);
// As gather_band_copy for a stack: cell (r, c) of the band at band +
// ((r - first) * (ncols + 1) + c) * (levels + 1).
void gather_stack_band_copy(const distribution_view& v, const stack_matrix& stack, int levels,
                            int first, int last, double* band);
void scatter_stack(const distribution_view& v, stack_matrix& stack, int levels);

// Halo cells exchanged with the neighbours along the send and receive lists.
void exchange_halo(const distribution_view& v, grid_matrix& grid);
void exchange_halo_stack(const distribution_view& v, stack_matrix& stack, int levels);

// Count, weighted sum and weight sum of records 0..last summed over all
// processes at process 0; every process copies the result buffer back (count
// and weighted sum always, weight sum only with also_weight), so the other
// processes hold zeros there afterwards.
void reduce_zone_records(zone_record* records, int last, bool also_weight);
// Count, weighted sum and weight sum of records 0..last from process 0 to all.
void broadcast_zone_records(zone_record* records, int last);

// Values of the masked cells (mask above nodata) collected at process 0, into
// target or, without one, into values. counts[p] is the number of masked
// cells of process p.
void gather_masked(const distribution_view& v, grid_matrix& values, const grid_matrix& mask,
                   const std::vector<int64_t>& counts, grid_matrix* target);
// Values of the masked cells sent from process 0 to their owners.
void scatter_masked(const distribution_view& v, grid_matrix& values, const grid_matrix& mask,
                    const std::vector<int64_t>& counts);

}  // namespace distribution
