// Text grids of a divided grid, formatted and written where the cells are:
// every process formats the rows of its band and writes them at their place
// in the file, which the lengths of all lines give; process 0 adds the header
// and the rows of no process. The file is the one process 0 writes from a
// gathered copy (owners' values, nodata on cells of no process), byte for
// byte.
//
// A row is formatted by the lowest-numbered process that owns a cell in it;
// in a row shared by two bands the other owners first send it their cells.
// Rows without an owned cell are all nodata.
#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
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

constexpr int SHARED_ROW_TAG_BASE = 0;              // + row: cells of a shared row

int owner_at(const grid_matrix& regions, int row, int col) {
  const double v = regions[row][col];
  return v >= 0 ? static_cast<int>(v) : -1;
}

// The lowest owner of a cell of row, -1 when no cell of the row is owned.
// Owners are compared as the grid holds them (whole numbers, negative or
// nodata for no owner), so that the scan needs no conversion per cell.
int formatter_of(const grid_matrix& regions, int row, int ncols) {
  const double* owners = regions[row];
  double lowest = std::numeric_limits<double>::infinity();
  for (int col = 1; col <= ncols; ++col) {
    const double v = owners[col];
    lowest = v >= 0 && v < lowest ? v : lowest;
  }
  return lowest == std::numeric_limits<double>::infinity() ? -1 : static_cast<int>(lowest);
}

// Whether a cell of row is owned (stops at the first one).
bool has_owner(const grid_matrix& regions, int row, int ncols) {
  const double* owners = regions[row];
  for (int col = 1; col <= ncols; ++col)
    if (owners[col] >= 0) return true;
  return false;
}

}  // namespace

void modelobject::write_text_grid_bands(const std::string& file_name, const grid_matrix& grid) {
  const grid_matrix& regions = *mpi_regions;
  const int own_first = std::max(first_row, 1);
  const int own_last = std::min(last_row, nrows);

  // Cells of rows formatted elsewhere go to their formatter; rows formatted
  // here receive the other owners' cells.
  std::vector<int> formatter(static_cast<size_t>(nrows) + 1, -1);
  for (int row = own_first; row <= own_last; ++row)
    formatter[static_cast<size_t>(row)] = formatter_of(regions, row, ncols);
  std::vector<std::vector<double>> outgoing;
  std::vector<std::vector<double>> incoming;
  std::vector<int> incoming_row;
  std::vector<int> incoming_owner;
  std::vector<MPI_Request> requests;
  for (int row = own_first; row <= own_last; ++row) {
    const int f = formatter[static_cast<size_t>(row)];
    if (f != rank) {
      std::vector<double> cells;
      for (int col = 1; col <= ncols; ++col)
        if (owner_at(regions, row, col) == rank) cells.push_back(grid[row][col]);
      if (cells.empty() || f < 0) continue;
      outgoing.push_back(std::move(cells));
      requests.emplace_back();
      MPI_Isend(outgoing.back().data(), static_cast<int>(outgoing.back().size()), MPI_DOUBLE, f,
                SHARED_ROW_TAG_BASE + row, MPI_COMM_WORLD, &requests.back());
      continue;
    }
    std::vector<int> counts(static_cast<size_t>(process_count), 0);
    for (int col = 1; col <= ncols; ++col) {
      const int owner = owner_at(regions, row, col);
      if (owner >= 0 && owner != rank && owner < process_count)
        ++counts[static_cast<size_t>(owner)];
    }
    for (int q = 0; q < process_count; ++q) {
      if (counts[static_cast<size_t>(q)] == 0) continue;
      incoming.emplace_back(static_cast<size_t>(counts[static_cast<size_t>(q)]));
      incoming_row.push_back(row);
      incoming_owner.push_back(q);
    }
  }
  // The receive buffers are complete before any receive is posted.
  for (size_t k = 0; k < incoming.size(); ++k) {
    requests.emplace_back();
    MPI_Irecv(incoming[k].data(), static_cast<int>(incoming[k].size()), MPI_DOUBLE,
              incoming_owner[k], SHARED_ROW_TAG_BASE + incoming_row[k], MPI_COMM_WORLD,
              &requests.back());
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);

  // The lines of the rows formatted here, in row order, and their lengths.
  std::vector<long long> line_bytes(static_cast<size_t>(nrows) + 1, 0);
  std::vector<double> values(static_cast<size_t>(ncols) + 1);
  // The lines go straight into one buffer sized for the longest text they can
  // have; pages beyond the text are never touched.
  size_t rows_here = 0;
  for (int row = own_first; row <= own_last; ++row)
    if (formatter[static_cast<size_t>(row)] == rank) ++rows_here;
  const size_t line_capacity = static_cast<size_t>(ncols) * FORMATTED_VALUE_CHARS + 1;
  const auto formatted = std::make_unique_for_overwrite<char[]>(rows_here * line_capacity + 1);
  size_t text_size = 0;
  size_t next_incoming = 0;
  std::vector<size_t> taken(static_cast<size_t>(process_count), 0);
  const std::string nodata_text = format_g(nodata);
  for (int row = own_first; row <= own_last; ++row) {
    if (formatter[static_cast<size_t>(row)] != rank) continue;
    char* const line = formatted.get() + text_size;
    std::fill(taken.begin(), taken.end(), 0);
    const size_t first_incoming = next_incoming;
    while (next_incoming < incoming.size() && incoming_row[next_incoming] == row) ++next_incoming;
    const double* owners = regions[row];
    const double* own_values = grid[row];
    if (first_incoming == next_incoming) {
      // No other process sent cells of this row: own cells take their
      // values, every other cell is nodata (a select the compiler vectorises).
      const auto me = static_cast<double>(rank);
      for (int col = 1; col <= ncols; ++col)
        values[static_cast<size_t>(col)] = owners[col] == me ? own_values[col] : nodata;
    } else {
      for (int col = 1; col <= ncols; ++col) {
        const int owner = owner_at(regions, row, col);
        double v = nodata;
        if (owner == rank) {
          v = own_values[col];
        } else if (owner >= 0) {
          for (size_t k = first_incoming; k < next_incoming; ++k)
            if (incoming_owner[k] == owner) {
              v = incoming[k][taken[static_cast<size_t>(owner)]++];
              break;
            }
        }
        values[static_cast<size_t>(col)] = v;
      }
    }
    char* end = format_g_row(line, values.data(), ncols, nodata, nodata_text);
    *end++ = '\n';
    text_size += static_cast<size_t>(end - line);
    line_bytes[static_cast<size_t>(row)] = static_cast<long long>(end - line);
  }
  const std::string_view text(formatted.get(), text_size);

  // Process 0 writes the header and the rows of no process (all nodata).
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  std::string header_text;
  std::string empty_line;
  std::vector<char> nodata_row(static_cast<size_t>(nrows) + 1, 0);
  if (rank == 0) {
    header_text = text_grid_header(model);
    for (int col = 1; col <= ncols; ++col) {
      if (col > 1) empty_line.push_back('\t');
      empty_line += nodata_text;
    }
    empty_line.push_back('\n');
    for (int row = 1; row <= nrows; ++row)
      if (!has_owner(regions, row, ncols)) {
        nodata_row[static_cast<size_t>(row)] = 1;
        line_bytes[static_cast<size_t>(row)] = static_cast<long long>(empty_line.size());
      }
  }
  // Every line's place in the file: each process wrote the lengths of its own.
  line_bytes[0] = static_cast<long long>(header_text.size());
  MPI_Allreduce(MPI_IN_PLACE, line_bytes.data(), nrows + 1, MPI_LONG_LONG, MPI_SUM,
                MPI_COMM_WORLD);
  std::vector<long long> line_offset(static_cast<size_t>(nrows) + 2, 0);
  for (int row = 0; row <= nrows; ++row)
    line_offset[static_cast<size_t>(row) + 1] =
        line_offset[static_cast<size_t>(row)] + line_bytes[static_cast<size_t>(row)];
  const long long file_bytes = line_offset[static_cast<size_t>(nrows) + 1];

  // This process's bytes in file order, as runs.
  // This process's bytes as pieces of the file: (offset, text). Lines that
  // follow each other in the file and in memory make one piece.
  std::vector<std::pair<long long, std::string_view>> pieces;
  auto put = [&](long long offset, std::string_view bytes) {
    if (bytes.empty()) return;
    if (!pieces.empty()) {
      auto& [last_offset, last] = pieces.back();
      if (last_offset + static_cast<long long>(last.size()) == offset &&
          last.data() + last.size() == bytes.data()) {
        last = std::string_view(last.data(), last.size() + bytes.size());
        return;
      }
    }
    pieces.emplace_back(offset, bytes);
  };
  // Process 0 writes each run of rows of no process as one piece, the header
  // with the run that follows it: one write per line would queue hundreds
  // of small writes behind the other processes' writes to the same file.
  std::vector<std::string> filler;
  std::vector<int> filler_of_row;
  if (rank == 0) {
    filler_of_row.assign(static_cast<size_t>(nrows) + 1, -1);
    for (int row = 1; row <= nrows;) {
      if (nodata_row[static_cast<size_t>(row)] == 0) {
        ++row;
        continue;
      }
      int end = row;
      while (end + 1 <= nrows && nodata_row[static_cast<size_t>(end) + 1] != 0) ++end;
      std::string piece = row == 1 ? header_text : std::string();
      piece.reserve(piece.size() + static_cast<size_t>(end - row + 1) * empty_line.size());
      for (int k = row; k <= end; ++k) piece += empty_line;
      filler_of_row[static_cast<size_t>(row)] = static_cast<int>(filler.size());
      filler.push_back(std::move(piece));
      row = end + 1;
    }
    if (nrows < 1 || nodata_row[1] == 0) put(0, header_text);
  }
  size_t text_at = 0;
  for (int row = 1; row <= nrows; ++row) {
    const auto length = static_cast<size_t>(line_bytes[static_cast<size_t>(row)]);
    const long long offset = line_offset[static_cast<size_t>(row)];
    if (rank == 0 && nodata_row[static_cast<size_t>(row)] != 0) {
      const int k = filler_of_row[static_cast<size_t>(row)];
      if (k >= 0) put(row == 1 ? 0 : offset, filler[static_cast<size_t>(k)]);
    } else if (row >= own_first && row <= own_last &&
               formatter[static_cast<size_t>(row)] == rank) {
      put(offset, text.substr(text_at, length));
      text_at += length;
    }
  }

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
