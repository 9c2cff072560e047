// Division of the valid cells of the zone grid among the processes, weighted
// by their speed. The cells are dealt out in row order, so each process owns a
// run of consecutive rows with partial rows at both ends; the northern rows go
// to the highest-numbered process. The division builds what every later
// transfer of grid values reads: the grids "MPIRegions" (owner per cell),
// "MPIHelper" (per row the runs the transfers walk) and "MPIHalo" (the other
// processes' cells that touch own cells), the halo send and receive lists and
// the number of cells of every process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class modelobject;
class memory_handling;

constexpr const char* SPEED_FILE_NAME = "MpiSpeedFactor.dat";
constexpr int DIVISION_NO_CELL_CODE = 121;  // a process would get no cell

// Weights proportional to 1 / time (a time of 0 or less counts as factor 1),
// summing to 1.
std::vector<double> performance_weights(const std::vector<double>& times);

// Cells per process: floor(n * weight + 0.4999) for all but the last process,
// which takes the rest (possibly 0 or less: the caller checks).
std::vector<int64_t> cell_quotas(int64_t valid_cells, const std::vector<double>& weights);

// A cell takes part in the division when its value is above nodata (NaN not).
bool is_valid_cell(double value, double nodata);

// Deals the valid cells of zone (rows 1..nrows) out in row order, starting
// with the last process: writes the owner into regions and sets the first and
// last row of every process (-1 for a process without cells). Quotas are used up.
void assign_cells(const grid_matrix& zone, int ncols, int nrows, double nodata,
                  std::vector<int64_t> quotas, grid_matrix& regions, std::vector<int>& first_rows,
                  std::vector<int>& last_rows);

// One "MPIHelper" row of process 0: position 0 the leading nodata cells, then
// pairs (owner or nodata, number of cells) up to the row end. Returns the
// number of pairs needed for the runs up to the last owned cell; pairs that do
// not fit into the row are not written.
int build_helper_row_all(const double* regions_row, double* helper_row, int ncols, double nodata);
// One "MPIHelper" row of another process: pairs (first column, number of
// cells) of its own runs. Returns the number of runs; pairs that do not fit
// into the row are not written.
int build_helper_row_own(const double* regions_row, double* helper_row, int ncols, int rank);

// The receive list of a process from its "MPIRegions" and "MPIHalo" over rows
// first..last.
std::vector<halo_run> build_receive_list(const grid_matrix& regions, const grid_matrix& halo,
                                         int first_row, int last_row, int ncols);

// The fixed benchmark that stands in for a missing speed file: the summed wall
// time of 30 passes over three grids of 1000 x 1000 cells. [s]
double time_speed_benchmark(memory_handling& alloc);

// The time of this process: the first number of the speed file in the working
// directory (0 when it holds none), or the benchmark without the file. [s]
double process_time(memory_handling& alloc, bool& from_file);

class mpi_division {
 public:
  // Collective: every process calls it once, after process 0 has registered
  // the zone grid as store entry 1. Registers "MPIRegions", "MPIHelper" and
  // "MPIHalo" at the first three free entries of owner's store, fills the
  // per-process cell counts and the halo lists and sets first_row and last_row
  // to this process's own rows. Throws 12 (store full), 120 (a row with more
  // runs than "MPIHelper" can hold, more than one process) or 121 (a process
  // without cells) on every process.
  void create_mpi_regions(modelobject& owner, int ncols, int nrows, double nodata,
                          std::vector<int64_t>& cells_per_process, std::vector<halo_run>& send_list,
                          std::vector<halo_run>& receive_list, int& first_row, int& last_row);

  // Rows held by this process: its own rows and one halo row on each side
  // where the grid has one ("MPIHalo" covers them on every process; process 0
  // holds all rows of "MPIRegions" and "MPIHelper").
  int held_first_row() const { return held_first; }
  int held_last_row() const { return held_last; }

  grid_matrix regions;  // "MPIRegions"
  grid_matrix helper;   // "MPIHelper"
  grid_matrix halo;     // "MPIHalo"
  int regions_index = 0;
  int helper_index = 0;
  int halo_index = 0;

 private:
  int held_first = 0;
  int held_last = -1;
};
