// Text grids of a divided grid, formatted and written where the cells are:
// every process formats an equal share of the rows and writes them at their
// place in the file, which the lengths of all lines give; process 0 adds the
// header. The file is the one process 0 writes from a gathered copy (owners'
// values, nodata on cells of no process), byte for byte.
//
// The shares are equal in rows, not in cells: a band over the basin's ragged
// edge has many rows with few cells, and a line costs the same whatever its
// cells. The owners of a row's cells outside their own share send the row
// (nodata where they own no cell) to the process whose share holds it.
#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/gridfile_mpi.h"
#include "modelbase/gridstore.h"
#include "modelbase/mapped_output.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"
#include "modelbase/signals.h"
#include "modelbase/textutil.h"

namespace {

constexpr int SHARED_ROWS_TAG = 0;  // the rows one process sends another

// First row of process p's share of rows 1..rows among processes.
int share_first(int p, int rows, int processes) {
  return 1 + static_cast<int>(static_cast<long long>(p) * rows / processes);
}

// The process whose share holds row.
int share_of(int row, int rows, int processes) {
  int p = static_cast<int>(static_cast<long long>(row - 1) * processes / rows);
  while (p + 1 < processes && share_first(p + 1, rows, processes) <= row) ++p;
  while (p > 0 && share_first(p, rows, processes) > row) --p;
  return p;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

void modelobject::write_text_grid_bands(const std::string& file_name, const grid_matrix& grid) {
  const grid_matrix& regions = *mpi_regions;
  const int own_first = std::max(first_row, 1);
  const int own_last = std::min(last_row, nrows);
  const auto me = static_cast<double>(rank);
  const int share_begin = share_first(rank, nrows, process_count);
  const int share_end = share_first(rank + 1, nrows, process_count) - 1;

  // Own rows outside the share go to the process whose share holds them:
  // whole rows, nodata where this process owns no cell, in row order.
  const auto processes = static_cast<size_t>(process_count);
  const auto row_len = static_cast<size_t>(ncols);
  std::vector<std::vector<int>> rows_to(processes);
  for (int row = own_first; row <= own_last; ++row) {
    if (row >= share_begin && row <= share_end) continue;
    const double* owners = regions[row];
    if (owners == nullptr || grid[row] == nullptr ||
        std::find(owners + 1, owners + ncols + 1, me) == owners + ncols + 1)
      continue;
    rows_to[static_cast<size_t>(share_of(row, nrows, process_count))].push_back(row);
  }
  // Each process's rows in one block of its final size: a block grown row by
  // row copied itself over and over into fresh pages.
  std::vector<std::unique_ptr<double[]>> values_to(processes);
  for (size_t q = 0; q < processes; ++q) {
    if (rows_to[q].empty()) continue;
    values_to[q] = std::make_unique_for_overwrite<double[]>(rows_to[q].size() * row_len);
    double* out = values_to[q].get();
    for (int row : rows_to[q]) {
      const double* owners = regions[row];
      const double* own_values = grid[row];
      for (int col = 1; col <= ncols; ++col)
        *out++ = owners[col] == me ? own_values[col] : nodata;
    }
  }
  std::vector<int> send_counts(processes);
  std::vector<int> receive_counts(processes);
  for (size_t q = 0; q < processes; ++q) send_counts[q] = static_cast<int>(rows_to[q].size());
  MPI_Alltoall(send_counts.data(), 1, MPI_INT, receive_counts.data(), 1, MPI_INT, MPI_COMM_WORLD);
  std::vector<int> send_at(processes + 1, 0);
  std::vector<int> receive_at(processes + 1, 0);
  std::vector<int> sent_rows;
  for (size_t q = 0; q < processes; ++q) {
    send_at[q + 1] = send_at[q] + send_counts[q];
    receive_at[q + 1] = receive_at[q] + receive_counts[q];
    sent_rows.insert(sent_rows.end(), rows_to[q].begin(), rows_to[q].end());
  }
  std::vector<int> received_rows(static_cast<size_t>(receive_at[processes]));
  MPI_Alltoallv(sent_rows.data(), send_counts.data(), send_at.data(), MPI_INT,
                received_rows.data(), receive_counts.data(), receive_at.data(), MPI_INT,
                MPI_COMM_WORLD);
  MPI_Datatype row_type = MPI_DATATYPE_NULL;
  MPI_Type_contiguous(ncols, MPI_DOUBLE, &row_type);
  MPI_Type_commit(&row_type);
  const auto received = std::make_unique_for_overwrite<double[]>(
      static_cast<size_t>(receive_at[processes]) * row_len);
  std::vector<MPI_Request> requests;
  for (size_t q = 0; q < processes; ++q) {
    if (receive_counts[q] > 0) {
      requests.emplace_back();
      MPI_Irecv(received.get() + static_cast<size_t>(receive_at[q]) * row_len, receive_counts[q],
                row_type, static_cast<int>(q), SHARED_ROWS_TAG, MPI_COMM_WORLD, &requests.back());
    }
    if (send_counts[q] > 0) {
      requests.emplace_back();
      MPI_Isend(values_to[q].get(), send_counts[q], row_type, static_cast<int>(q),
                SHARED_ROWS_TAG, MPI_COMM_WORLD, &requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  MPI_Type_free(&row_type);
  // The rows received for each row of the share, in the order of their senders.
  const int share_rows = std::max(share_end - share_begin + 1, 0);
  // Each points at column 1 of a received row.
  std::vector<std::vector<const double*>> sent_for(static_cast<size_t>(share_rows));
  for (size_t k = 0; k < received_rows.size(); ++k)
    sent_for[static_cast<size_t>(received_rows[k] - share_begin)].push_back(received.get() +
                                                                           k * row_len);

  // The lines of the share, in row order, and their lengths.
  std::vector<long long> line_bytes(static_cast<size_t>(nrows) + 1, 0);
  std::vector<double> values(static_cast<size_t>(ncols) + 1);
  // The lines go straight into one buffer sized for the longest text they can
  // have; pages beyond the text are never touched.
  const size_t line_capacity = static_cast<size_t>(ncols) * FORMATTED_VALUE_CHARS + 1;
  const auto formatted =
      std::make_unique_for_overwrite<char[]>(static_cast<size_t>(share_rows) * line_capacity + 1);
  size_t text_size = 0;
  const std::string nodata_text = format_g(nodata);
  for (int row = share_begin; row <= share_end; ++row) {
    char* const line = formatted.get() + text_size;
    const double* owners = row >= own_first && row <= own_last ? regions[row] : nullptr;
    const double* own_values = owners != nullptr ? grid[row] : nullptr;
    if (own_values != nullptr) {
      // Own cells take their values, every other cell is nodata (a select
      // the compiler vectorises).
      for (int col = 1; col <= ncols; ++col)
        values[static_cast<size_t>(col)] = owners[col] == me ? own_values[col] : nodata;
    } else {
      std::fill(values.begin(), values.end(), nodata);
    }
    // A sender's row holds nodata, bit for bit, on every cell it does not own.
    for (const double* sent : sent_for[static_cast<size_t>(row - share_begin)])
      for (int col = 1; col <= ncols; ++col)
        if (!same_bits(sent[col - 1], nodata)) values[static_cast<size_t>(col)] = sent[col - 1];
    char* end = format_g_row(line, values.data(), ncols, nodata, nodata_text);
    *end++ = '\n';
    text_size += static_cast<size_t>(end - line);
    line_bytes[static_cast<size_t>(row)] = static_cast<long long>(end - line);
  }
  const std::string_view text(formatted.get(), text_size);

  // Process 0 writes the header.
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  std::string header_text;
  if (rank == 0) header_text = text_grid_header(model);
  // Every line's place in the file: each process wrote the lengths of its own.
  line_bytes[0] = static_cast<long long>(header_text.size());
  MPI_Allreduce(MPI_IN_PLACE, line_bytes.data(), nrows + 1, MPI_LONG_LONG, MPI_SUM,
                MPI_COMM_WORLD);
  std::vector<long long> line_offset(static_cast<size_t>(nrows) + 2, 0);
  for (int row = 0; row <= nrows; ++row)
    line_offset[static_cast<size_t>(row) + 1] =
        line_offset[static_cast<size_t>(row)] + line_bytes[static_cast<size_t>(row)];
  const long long file_bytes = line_offset[static_cast<size_t>(nrows) + 1];

  // This process's bytes as pieces of the file: (offset, text).
  std::vector<std::pair<long long, std::string_view>> pieces;
  if (rank == 0 && !header_text.empty()) pieces.emplace_back(0, header_text);
  if (!text.empty())
    pieces.emplace_back(line_offset[static_cast<size_t>(share_begin)], text);

  // Process 0 knows the files the run read; it decides the name (empty: not
  // written) and makes the temporary file all processes write into.
  file_operation_guard guard(sigint_after::arm);
  std::string path;
  if (rank == 0) {
    path = file_name;
    if (output_directory != nullptr) prefix_directory(*output_directory, path);
    path = output_path_sparing_inputs(*diag, store, path, output_directory);
  }
  broadcast_string(path);
  if (path.empty()) return;
  std::optional<pending_file> pending;
  if (rank == 0) pending.emplace(path);
  file_failure failure;
  std::string mapped_path;
  MPI_File file = open_shared_temporary(*diag, path, "text", pending ? &*pending : nullptr,
                                        file_bytes, failure, &mapped_path);
  // Independent writes: every process puts its own lines into the file
  // itself (a collective write would funnel them through few writers),
  // through a mapping where the file's blocks could be reserved.
  if (file == MPI_FILE_NULL) {
    mapped_output mapped(mapped_path);
    for (const auto& [offset, piece] : pieces)
      if (failure.code == 0 && !mapped.write_at(offset, piece.data(), piece.size()))
        failure = {18, output_write_error(path, errno_text(errno))};
    if (!mapped.close() && failure.code == 0)
      failure = {27, "error closing " + path + errno_text(errno)};
  } else {
    for (const auto& [offset, piece] : pieces)
      mpi_write_at(file, offset, piece.data(), static_cast<long long>(piece.size()), path,
                   failure);
    const int closed = MPI_File_close(&file);
    if (closed != MPI_SUCCESS && failure.code == 0)
      failure = {27, "error closing " + path + mpi_error_text(closed)};
  }
  if (rank == 0) file_header = model_header();
  // Every process has closed the file: a failure anywhere removes the
  // temporary on process 0, success renames it once.
  settle_failures(*diag, failure);
  if (rank == 0 && !pending->commit())
    failure = {26, output_create_error(path, "text", errno_text(errno))};
  settle_failures(*diag, failure);
}
