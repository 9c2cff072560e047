#include "settings/mpidivision.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/distribution.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

namespace {

constexpr int BENCHMARK_SIZE = 1000;  // [cells] rows and columns of the benchmark grids
constexpr int BENCHMARK_PASSES = 30;

// The entry of a full store; written by every process, shown by process 0.
[[noreturn]] void fail_store_full(DiagStream& diag) {
  fail_fatal(diag, GRID_STORE_FULL_CODE,
             "when trying to create MPI-Regions: no free grid found in memory (at position ",
             GRID_STORE_FULL, ")");
}

// A failure found by some processes only stops all of them alike: the
// largest local value wins (0: no failure).
int agree_max(int local) {
  int agreed = 0;
  MPI_Allreduce(&local, &agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return agreed;
}

}  // namespace

std::vector<double> performance_weights(const std::vector<double>& times) {
  std::vector<double> weights(times.size(), 0.0);
  double total = 0;
  for (size_t i = 0; i < times.size(); ++i) {
    weights[i] = times[i] > 0 ? 1.0 / times[i] : 1.0;
    total += weights[i];
  }
  for (double& w : weights) w /= total;
  return weights;
}

std::vector<int64_t> cell_quotas(int64_t valid_cells, const std::vector<double>& weights) {
  std::vector<int64_t> quotas(weights.size(), 0);
  if (weights.empty()) return quotas;
  int64_t given = 0;
  for (size_t i = 0; i + 1 < weights.size(); ++i) {
    quotas[i] =
        static_cast<int64_t>(std::floor(static_cast<double>(valid_cells) * weights[i] + 0.4999));
    given += quotas[i];
  }
  quotas.back() = valid_cells - given;
  return quotas;
}

bool is_valid_cell(double value, double nodata) { return value > nodata; }

void assign_cells(const grid_matrix& zone, int ncols, int nrows, double nodata,
                  std::vector<int64_t> quotas, grid_matrix& regions, std::vector<int>& first_rows,
                  std::vector<int>& last_rows) {
  const int processes = static_cast<int>(quotas.size());
  first_rows.assign(quotas.size(), -1);
  last_rows.assign(quotas.size(), -1);
  int current = processes - 1;
  for (int row = 1; row <= nrows; ++row) {
    const double* z = zone[row];
    double* out = regions[row];
    for (int col = 1; col <= ncols; ++col) {
      if (!is_valid_cell(z[col], nodata)) continue;
      out[col] = current;
      const size_t p = static_cast<size_t>(current);
      if (first_rows[p] < 0) first_rows[p] = row;
      // Kept up to date on every cell, so that cells beyond the quotas (none
      // when the quotas add up to the valid cells) stay inside their rows.
      last_rows[p] = row;
      --quotas[p];
      if (quotas[p] == 0 && current > 0) --current;
    }
  }
}

int build_helper_row_all(const double* regions_row, double* helper_row, int ncols, double nodata) {
  int col = 1;
  while (col <= ncols && regions_row[col] == nodata) ++col;
  helper_row[0] = col - 1;
  int last_owned = 0;
  for (int c = ncols; c >= 1; --c)
    if (regions_row[c] != nodata) {
      last_owned = c;
      break;
    }
  int needed = 0;
  int pos = 1;
  while (col <= ncols) {
    const double value = regions_row[col];
    int count = 1;
    while (col + count <= ncols && regions_row[col + count] == value) ++count;
    if (col <= last_owned) ++needed;
    if (pos + 1 <= ncols) {
      helper_row[pos] = value;
      helper_row[pos + 1] = count;
    }
    pos += 2;
    col += count;
  }
  return needed;
}

int build_helper_row_own(const double* regions_row, double* helper_row, int ncols, int rank) {
  int runs = 0;
  int pos = 1;
  int col = 1;
  while (col <= ncols) {
    if (regions_row[col] != rank) {
      ++col;
      continue;
    }
    const int start = col;
    while (col <= ncols && regions_row[col] == rank) ++col;
    ++runs;
    if (pos + 1 <= ncols) {
      helper_row[pos] = start;
      helper_row[pos + 1] = col - start;
    }
    pos += 2;
  }
  return runs;
}

std::vector<halo_run> build_receive_list(const grid_matrix& regions, const grid_matrix& halo,
                                         int first_row, int last_row, int ncols) {
  std::vector<halo_run> runs;
  for (int row = first_row; row <= last_row; ++row) {
    const double* h = halo[row];
    const double* r = regions[row];
    bool in_run = false;  // a run never goes on from the end of the row before
    for (int col = 1; col <= ncols; ++col) {
      if (h[col] < 0) {
        in_run = false;
        continue;
      }
      const int owner = static_cast<int>(h[col]);
      if (in_run && h[col - 1] == h[col] && r[col - 1] == r[col]) {
        ++runs.back().count;
      } else if (!runs.empty() && runs.back().row == row && runs.back().neighbour == owner) {
        // A second piece of the same neighbour in this row: one run over the gap.
        runs.back().count = col - runs.back().first_col + 1;
      } else {
        runs.push_back(halo_run{row, col, 1, owner});
      }
      in_run = true;
    }
  }
  return runs;
}

double time_speed_benchmark(memory_handling& alloc) {
  grid_matrix a = alloc.matrix(1, BENCHMARK_SIZE, 1, BENCHMARK_SIZE, 0);
  grid_matrix b = alloc.matrix(1, BENCHMARK_SIZE, 1, BENCHMARK_SIZE, 0);
  grid_matrix c = alloc.matrix(1, BENCHMARK_SIZE, 1, BENCHMARK_SIZE, 0);
  double total = 0;
  for (int pass = 0; pass < BENCHMARK_PASSES; ++pass) {
    const double start = MPI_Wtime();
#pragma omp parallel for schedule(runtime)
    for (int i = 1; i <= BENCHMARK_SIZE; ++i)
      for (int j = 1; j <= BENCHMARK_SIZE; ++j) {
        const double x = static_cast<double>(i + j);
        a[i][j] = std::cos(x);
        b[i][j] = std::sin(x);
        c[i][j] = std::atan(std::sin(x) * std::cos(x));
      }
    total += MPI_Wtime() - start;
  }
  return total;
}

double process_time(memory_handling& alloc, bool& from_file) {
  std::FILE* file = std::fopen(SPEED_FILE_NAME, "r");
  from_file = file != nullptr;
  if (file == nullptr) return time_speed_benchmark(alloc);
  double time = 0;
  // A file without a number gives the time 0: weight factor 1.
  if (std::fscanf(file, "%lf", &time) != 1) time = 0;
  std::fclose(file);
  return time;
}

void mpi_division::create_mpi_regions(modelobject& owner, int ncols, int nrows, double nodata,
                                      std::vector<int64_t>& cells_per_process,
                                      std::vector<halo_run>& send_list,
                                      std::vector<halo_run>& receive_list, int& first_row,
                                      int& last_row) {
  int rank = 0;
  int processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);
  DiagStream& diag = owner.diagnostics();
  grid_store& store = *owner.grid_store_ptr();
  first_row = 1;
  last_row = nrows;
  send_list.clear();
  receive_list.clear();

  // Three consecutive free entries, from the first free one on; the third,
  // the halo grid, is registered and made once the held rows are known.
  auto register_three = [&](int from_row, int to_row, int total_rows) {
    const int first = store.first_free();
    if (first + 2 >= GRID_STORE_FULL) return false;
    regions_index = first;
    owner.register_grid(regions_index, "", &regions, nullptr, 0, "MPIRegions", 0, from_row, to_row);
    regions = owner.matrix_for_overwrite(from_row, to_row, 1, ncols, total_rows);
    helper_index = first + 1;
    owner.register_grid(helper_index, "", &helper, nullptr, 0, "MPIHelper", 0, from_row, to_row);
    helper = owner.matrix(from_row, to_row, 1, ncols, total_rows);
    halo_index = first + 2;
    for (int row = from_row; row <= to_row; ++row)
      std::fill(regions[row], regions[row] + ncols + 1, nodata);
    return true;
  };

  // Process 0 registers its grids over all rows; a full store stops everyone.
  int status = 0;
  if (rank == 0 && !register_three(1, nrows, 0)) status = GRID_STORE_FULL_CODE;
  if (agree_max(status) == GRID_STORE_FULL_CODE) fail_store_full(diag);

  bool from_file = false;
  const double own_time = process_time(owner, from_file);
  if (!from_file) diag_entry(diag, "MPI wtime: ", own_time, "for instance: ", rank);

  std::vector<int> first_rows(static_cast<size_t>(processes), -1);
  std::vector<int> last_rows(static_cast<size_t>(processes), -1);
  if (rank != 0) {
    MPI_Send(&own_time, 1, MPI_DOUBLE, 0, rank, MPI_COMM_WORLD);
  } else {
    std::vector<double> times(static_cast<size_t>(processes), 0.0);
    times[0] = own_time;
    for (int i = 1; i < processes; ++i)
      MPI_Recv(&times[static_cast<size_t>(i)], 1, MPI_DOUBLE, i, i, MPI_COMM_WORLD,
               MPI_STATUS_IGNORE);
    for (int i = 0; i < processes; ++i)
      diag_entry(diag, "received MPI wtime: ", times[static_cast<size_t>(i)], " for instance: ", i);
    const std::vector<double> weights = performance_weights(times);
    for (int i = 0; i < processes; ++i)
      diag_entry(diag, "MPI performance weight: ", weights[static_cast<size_t>(i)],
                 " for instance: ", i);

    const grid_matrix* zone = store[1].grid;
    int64_t valid = 0;
    if (zone != nullptr)
      for (int row = 1; row <= nrows; ++row)
        for (int col = 1; col <= ncols; ++col)
          if (is_valid_cell((*zone)[row][col], nodata)) ++valid;
    diag_entry(diag, "MPI regular cells: ", static_cast<long long>(valid),
               "\nMPI river cells: ", 0);
    const std::vector<int64_t> quotas = cell_quotas(valid, weights);
    for (int i = 0; i < processes; ++i)
      diag_entry(diag, "MPI num cells: ", static_cast<long long>(quotas[static_cast<size_t>(i)]),
                 " for instance: ", i);
    for (int i = 0; i < processes && status == 0; ++i)
      if (quotas[static_cast<size_t>(i)] < 1) {
        diag << "FATAL: when dividing the grid among " << processes << " processes: process " << i
             << " gets no cell (" << static_cast<long long>(valid)
             << " valid cells in the zone grid)[end-entry]";
        status = DIVISION_NO_CELL_CODE;
      }
    if (status == 0)
      assign_cells(*zone, ncols, nrows, nodata, quotas, regions, first_rows, last_rows);
  }
  // The other processes wait here for the verdict of process 0.
  MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (status != 0) throw status;

  MPI_Bcast(first_rows.data(), processes, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Bcast(last_rows.data(), processes, MPI_INT, 0, MPI_COMM_WORLD);
  first_row = first_rows[static_cast<size_t>(rank)];
  last_row = last_rows[static_cast<size_t>(rank)];
  auto held = [&](int p, int& from, int& to) {
    from = first_rows[static_cast<size_t>(p)] > 1 ? first_rows[static_cast<size_t>(p)] - 1
                                                  : first_rows[static_cast<size_t>(p)];
    to = last_rows[static_cast<size_t>(p)] < nrows ? last_rows[static_cast<size_t>(p)] + 1
                                                   : last_rows[static_cast<size_t>(p)];
  };
  held(rank, held_first, held_last);

  if (rank != 0 && !register_three(held_first, held_last, nrows)) status = GRID_STORE_FULL_CODE;
  if (agree_max(status) == GRID_STORE_FULL_CODE) fail_store_full(diag);
  // Halo cells lie in the held rows only, on process 0 too.
  owner.register_grid(halo_index, "", &halo, nullptr, 0, "MPIHalo", 0, held_first, held_last);
  halo = owner.matrix_for_overwrite(held_first, held_last, 1, ncols, nrows);
  for (int row = held_first; row <= held_last; ++row)
    std::fill(halo[row], halo[row] + ncols + 1, nodata);

  // All rows are posted at once: no process waits row by row for its partner.
  std::vector<MPI_Request> row_requests;
  if (rank == 0) {
    for (int p = 1; p < processes; ++p) {
      int from = 0;
      int to = 0;
      held(p, from, to);
      for (int row = from; row <= to; ++row) {
        row_requests.emplace_back();
        MPI_Isend(&regions[row][1], ncols, MPI_DOUBLE, p, row, MPI_COMM_WORLD, &row_requests.back());
      }
    }
  } else {
    for (int row = held_first; row <= held_last; ++row) {
      row_requests.emplace_back();
      MPI_Irecv(&regions[row][1], ncols, MPI_DOUBLE, 0, row, MPI_COMM_WORLD, &row_requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(row_requests.size()), row_requests.data(), MPI_STATUSES_IGNORE);

  // The runs the transfers walk. A row whose runs do not fit into it cannot be
  // transferred; with one process nothing reads these rows.
  int overflow_row = 0;
  if (rank == 0) {
    for (int row = 1; row <= nrows; ++row) {
      const int pairs = build_helper_row_all(regions[row], helper[row], ncols, nodata);
      if (2 * pairs > ncols && overflow_row == 0) overflow_row = row;
    }
  } else {
    for (int row = first_row; row <= last_row; ++row) {
      const int runs = build_helper_row_own(regions[row], helper[row], ncols, rank);
      if (2 * runs > ncols && overflow_row == 0) overflow_row = row;
    }
  }
  if (processes > 1) {
    overflow_row = agree_max(overflow_row);
    if (overflow_row > 0)
      fail_fatal(diag, HELPER_OVERFLOW_CODE,
                 "MPI-Regions: to much strips to be stored in a grid row in row ", overflow_row);
  }

  // Halo cells: other processes' cells among the eight neighbours of own cells
  // (all of which lie in the own rows, on process 0 too).
  const int own_first = std::max(first_row, 1);
  const int own_last = std::min(last_row, nrows);
  for (int row = own_first; row <= own_last; ++row)
    for (int col = 1; col <= ncols; ++col) {
      if (regions[row][col] != rank) continue;
      for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
          const int r = row + dr;
          const int c = col + dc;
          if ((dr == 0 && dc == 0) || r < 1 || r > nrows || c < 1 || c > ncols) continue;
          const double value = regions[r][c];
          if (value != rank && value != nodata) halo[r][c] = value;
        }
    }

  cells_per_process.assign(static_cast<size_t>(processes), 0);
  if (rank == 0)
    for (int row = 1; row <= nrows; ++row)
      for (int col = 1; col <= ncols; ++col)
        if (regions[row][col] > nodata) ++cells_per_process[static_cast<size_t>(regions[row][col])];
  MPI_Bcast(cells_per_process.data(), processes, MPI_INT64_T, 0, MPI_COMM_WORLD);

  receive_list = build_receive_list(regions, halo, held_first, held_last, ncols);

  // Tell every neighbour how many runs it is asked for, then the runs.
  std::vector<int> runs_from(static_cast<size_t>(processes), 0);
  for (const halo_run& run : receive_list) ++runs_from[static_cast<size_t>(run.neighbour)];
  std::vector<int> neighbours;
  for (int q = 0; q < processes; ++q)
    if (runs_from[static_cast<size_t>(q)] > 0) neighbours.push_back(q);
  std::vector<std::array<int, 2>> announce_out(neighbours.size());
  std::vector<std::array<int, 2>> announce_in(neighbours.size());
  std::vector<MPI_Request> requests;
  for (size_t k = 0; k < neighbours.size(); ++k) {
    const int q = neighbours[k];
    announce_out[k] = {q, runs_from[static_cast<size_t>(q)]};
    requests.emplace_back();
    MPI_Isend(announce_out[k].data(), 2, MPI_INT, q, 0, MPI_COMM_WORLD, &requests.back());
    requests.emplace_back();
    MPI_Irecv(announce_in[k].data(), 2, MPI_INT, q, 0, MPI_COMM_WORLD, &requests.back());
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  requests.clear();

  std::vector<std::array<int, 4>> runs_out(receive_list.size());
  for (size_t k = 0; k < receive_list.size(); ++k) {
    const halo_run& run = receive_list[k];
    runs_out[k] = {run.row, run.first_col, run.count, rank};
    requests.emplace_back();
    MPI_Isend(runs_out[k].data(), 4, MPI_INT, run.neighbour, 0, MPI_COMM_WORLD, &requests.back());
  }
  size_t asked = 0;
  for (const auto& a : announce_in) asked += static_cast<size_t>(std::max(a[1], 0));
  std::vector<std::array<int, 4>> runs_in(asked);
  size_t next = 0;
  for (size_t k = 0; k < neighbours.size(); ++k)
    for (int n = 0; n < announce_in[k][1]; ++n) {
      requests.emplace_back();
      MPI_Irecv(runs_in[next++].data(), 4, MPI_INT, neighbours[k], 0, MPI_COMM_WORLD,
                &requests.back());
    }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  send_list.reserve(runs_in.size());
  for (const auto& r : runs_in) send_list.push_back(halo_run{r[0], r[1], r[2], r[3]});
}
