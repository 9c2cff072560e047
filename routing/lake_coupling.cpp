// Lake coupling of the channel routing: the lakes' balance runs on process
// 0, but the grids of the water on and under the lake cells are spread over
// all processes. Every step the lake-cell values travel to process 0 before
// the routing and the ponding storage travels back after it, through the
// masked gather and scatter (mask "lake_codes" above nodata); both sides
// visit the cells in the same order, so the counts per process fix the
// messages.
#include <mpi.h>

#include <cerrno>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "routing/abfluss.h"

namespace {

constexpr int LAKE_LINES_SKIPPED = 3;  // lines 2 to 4 of "[lake_model]" belong to other modules
constexpr int REQUIRED_GRID_CODE = 33;

}  // namespace

void abflussmodellklasse::read_lake_parameters(const std::string& section) {
  if (find_grid("lake_codes") == 0) {
    diag_entry(*diag, "INFO: no LAKE-grid was found in ", name, "\n",
               "Lake modelling is switched off for ", name, ".\n");
    return;
  }
  const bool opened_here = !control;
  if (opened_here && !open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  seek_section(section, true);
  std::FILE* file = control.get();
  std::string line;
  read_value(file, "%d", lake_switch, "flow control parameter for ", line);
  if (settings().spinup_switch != 0) {
    lake_switch = 0;
    state_readgrid = 0;
  } else if (lake_switch == 0) {
    state_readgrid = 0;
  } else {
    for (int i = 0; i < LAKE_LINES_SKIPPED; ++i) read_line_rest(file, line);
    read_value(file, "%d", state_readgrid, "readgrids for ", line);
  }
  if (opened_here) control.reset();
}

int abflussmodellklasse::lake_grid_index(const std::string& grid_name, bool required) {
  const int index = find_grid(grid_name, 1);
  if (index == 0 && required)
    fail_fatal(*diag, REQUIRED_GRID_CODE, "the grid ", grid_name,
               " is needed for the lakes of the routing model but was not found");
  return index;
}

void abflussmodellklasse::link_lake_grids() {
  if (lake_switch == 0) return;
  auto grid = [&](const std::string& n, bool required) -> grid_matrix* {
    const int i = lake_grid_index(n, required);
    return i > 0 ? (*store)[i].grid : nullptr;
  };
  lake_links.lake_codes = grid("lake_codes", true);
  lake_links.ponding_storage = grid("ponding_storage", false);
  if (lake_links.ponding_storage == nullptr)
    lake_links.ponding_storage = grid("ponding_storage_top", true);
  lake_links.max_ponding_storage = grid("max_ponding_storage", true);
  lake_links.zonegrid = grid("zonegrid_soilmodel", true);
  lake_links.elevation = grid("[elevation_model]", true);
  lake_links.real_transpiration0 = grid("real_transpiration0", true);
  lake_links.q_downext = grid("q_downext", false);
  lake_links.baseflow = grid("baseflow", false);
  lake_links.prec_on_lakes = &precipitation_on_lakes;
  const int ntr = routed_tracer_count;
  lake_tracers.clear();
  lake_tracers.resize(static_cast<size_t>(ntr) + 1);
  lake_links.tracer_storage.assign(static_cast<size_t>(ntr) + 1, nullptr);
  for (int t = 1; t <= ntr; ++t) {
    lake_tracers[static_cast<size_t>(t)] = matrix(1, nrows, 1, ncols, nrows);
    lake_links.tracer_storage[static_cast<size_t>(t)] = &lake_tracers[static_cast<size_t>(t)];
  }
}

// Visits the lake cells this process owns: rows it holds, the row's span,
// "lake_codes" above nodata, "MPIRegions" naming this process.
template <class F>
static void for_each_owned_lake_cell(const grid_matrix& mask, const grid_matrix* regions,
                                     const std::vector<row_strip>& strips, int nrows, int ncols,
                                     double nodata, int rank, F f) {
  for (int row = 1; row <= nrows; ++row) {
    if (row >= mask.pointer_count() || mask[row] == nullptr) continue;
    const row_strip& s = strips[static_cast<size_t>(row)];
    if (s.first < 1) continue;
    const double* owners = regions != nullptr && row < regions->pointer_count() ? (*regions)[row] : nullptr;
    if (regions != nullptr && owners == nullptr) continue;
    for (int col = s.first; col <= std::min(s.last, ncols); ++col) {
      if (!(mask[row][col] > nodata)) continue;
      const int owner = owners != nullptr && owners[col] > 0 ? static_cast<int>(owners[col]) : 0;
      if (owner == rank) f(row, col);
    }
  }
}

void abflussmodellklasse::init_lake_links(char interception_before_snow) {
  if (routing_active_elsewhere <= 0) return;
  if (rank != 0) read_lake_parameters("[lake_model]");
  if (lake_switch == 0) return;
  lake_cells_per_rank.assign(static_cast<size_t>(process_count) + 1, 0);
  lake_codes_index = find_grid("lake_codes");
  if (lake_codes_index == 0) return;
  ponding_index = require_grid("ponding_storage");
  transpiration_index = require_grid("real_transpiration0");
  q_downext_index = find_grid("q_downext");
  baseflow_index = find_grid("baseflow");
  precipitation_source_index =
      interception_before_snow == 0
          ? require_one_of_3_grids("throughfall0", "snowcover_outflow", "precipitation")
          : require_one_of_3_grids("snowcover_outflow", "throughfall0", "precipitation");
  const int ntr = routed_tracer_count;
  tracer_storage_index.assign(static_cast<size_t>(ntr) + 1, 0);
  for (int t = 1; t <= ntr; ++t)
    tracer_storage_index[static_cast<size_t>(t)] =
        lake_grid_index("concstor_tracer_" + std::to_string(t) + "_unsatzon_model", true);
  if (lake_tracers.size() != static_cast<size_t>(ntr) + 1) {
    lake_tracers.clear();
    lake_tracers.resize(static_cast<size_t>(ntr) + 1);
    for (int t = 1; t <= ntr; ++t) lake_tracers[static_cast<size_t>(t)] = matrix(1, nrows, 1, ncols, nrows);
  }
  if (mpi_regions == nullptr || mpi_helper == nullptr) find_division_grids();
  // Without the owners of the cells the lake cells of other processes cannot be found.
  if (process_count > 1 && mpi_regions == nullptr)
    fail_fatal(*diag, REQUIRED_GRID_CODE,
               "lakes in a run on several processes need the grid \"MPIRegions\"");

  const grid_matrix& mask = *(*store)[lake_codes_index].grid;
  std::vector<int64_t> local(static_cast<size_t>(process_count), 0);
  if (strips != nullptr)
    for_each_owned_lake_cell(mask, mpi_regions, *strips, nrows, ncols, nodata, rank,
                             [&](int, int) { ++local[static_cast<size_t>(rank)]; });
  std::vector<int64_t> total(static_cast<size_t>(process_count), 0);
  MPI_Reduce(local.data(), total.data(), process_count, MPI_INT64_T, MPI_SUM, 0, MPI_COMM_WORLD);
  MPI_Bcast(total.data(), process_count, MPI_INT64_T, 0, MPI_COMM_WORLD);
  for (int p = 0; p < process_count; ++p) lake_cells_per_rank[static_cast<size_t>(p)] = total[static_cast<size_t>(p)];
  for (int p = 0; p < process_count; ++p)
    diag_entry(*diag, "DEBUG: lakeCellsPerMPIRank[", p, "] ",
               static_cast<long long>(lake_cells_per_rank[static_cast<size_t>(p)]));
  scatter_masked(ponding_index, lake_codes_index, lake_cells_per_rank);
}

void abflussmodellklasse::gather_lake_cells() {
  if (lake_switch == 0 || routing_active_elsewhere <= 0 || lake_codes_index == 0) return;
  const std::vector<int64_t>& counts = lake_cells_per_rank;
  gather_masked(ponding_index, lake_codes_index, counts);
  gather_masked(transpiration_index, lake_codes_index, counts);
  if (q_downext_index > 0) gather_masked(q_downext_index, lake_codes_index, counts);
  if (baseflow_index > 0) gather_masked(baseflow_index, lake_codes_index, counts);
  gather_masked(precipitation_source_index, lake_codes_index, counts,
                rank == 0 ? &precipitation_on_lakes : nullptr);
  const grid_matrix& mask = *(*store)[lake_codes_index].grid;
  for (int t = 1; t <= routed_tracer_count; ++t) {
    grid_matrix& copy = lake_tracers[static_cast<size_t>(t)];
    const stack_matrix* stack = (*store)[tracer_storage_index[static_cast<size_t>(t)]].stack;
    if (stack != nullptr && strips != nullptr)
      for_each_owned_lake_cell(mask, mpi_regions, *strips, nrows, ncols, nodata, rank,
                               [&](int row, int col) {
                                 if (row >= stack->first_row() && row <= stack->last_row() &&
                                     (*stack)[row] != nullptr && stack->levels() >= 1)
                                   copy[row][col] = (*stack)[row][col][1];
                               });
    distribution::gather_masked(division_view(), copy, mask, counts, nullptr);
  }
}

void abflussmodellklasse::scatter_lake_ponding() {
  if (lake_switch == 0 || routing_active_elsewhere <= 0 || lake_codes_index == 0) return;
  scatter_masked(ponding_index, lake_codes_index, lake_cells_per_rank);
}

void abflussmodellklasse::return_lake_tracers() {
  if (lake_switch == 0 || lake_codes_index == 0 || strips == nullptr) return;
  const grid_matrix& mask = *(*store)[lake_codes_index].grid;
  // Every process takes its own lake cells' concentrations from process 0, so
  // a divided lake ends the step as the undivided one does.
  for (int t = 1; t <= routed_tracer_count; ++t) {
    grid_matrix& copy = lake_tracers[static_cast<size_t>(t)];
    distribution::scatter_masked(division_view(), copy, mask, lake_cells_per_rank);
    const stack_matrix* stack = (*store)[tracer_storage_index[static_cast<size_t>(t)]].stack;
    if (stack == nullptr) continue;
    for_each_owned_lake_cell(mask, mpi_regions, *strips, nrows, ncols, nodata, rank,
                             [&](int row, int col) {
                               if (row >= stack->first_row() && row <= stack->last_row() &&
                                   (*stack)[row] != nullptr && stack->levels() >= 1)
                                 (*stack)[row][col][1] = copy[row][col];
                             });
  }
}
