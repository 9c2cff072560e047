// Text grids of a divided grid, formatted where the cells are: formatting
// the numbers costs far more than moving the text, so every process formats
// the rows of its band and process 0 only writes the lines in row order. The
// file is the one process 0 writes from a gathered copy (owners' values,
// nodata on cells of no process), byte for byte.
//
// A row is formatted by the lowest-numbered process that owns a cell in it;
// in a row shared by two bands the other owners first send it their cells.
// Rows without an owned cell are all nodata.
#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"
#include "modelbase/signals.h"
#include "modelbase/textutil.h"

namespace {

constexpr int SHARED_ROW_TAG_BASE = 0;                 // + row: cells of a shared row
constexpr int TEXT_TAG = 0;                            // formatted lines to process 0
constexpr size_t TEXT_PIECE_BYTES = size_t{1} << 26;  // largest piece of text in one message

int owner_at(const grid_matrix& regions, int row, int col) {
  const double v = regions[row][col];
  return v >= 0 ? static_cast<int>(v) : -1;
}

// The lowest owner of a cell of row, -1 when no cell of the row is owned.
int formatter_of(const grid_matrix& regions, int row, int ncols) {
  int lowest = -1;
  for (int col = 1; col <= ncols; ++col) {
    const int owner = owner_at(regions, row, col);
    if (owner >= 0 && (lowest < 0 || owner < lowest)) lowest = owner;
  }
  return lowest;
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

  // The lines of the rows formatted here, in row order.
  std::vector<double> values(static_cast<size_t>(ncols) + 1);
  std::string text;
  size_t next_incoming = 0;
  std::vector<size_t> taken(static_cast<size_t>(process_count), 0);
  char number[32];
  for (int row = own_first; row <= own_last; ++row) {
    if (formatter[static_cast<size_t>(row)] != rank) continue;
    std::fill(taken.begin(), taken.end(), 0);
    const size_t first_incoming = next_incoming;
    while (next_incoming < incoming.size() && incoming_row[next_incoming] == row) ++next_incoming;
    for (int col = 1; col <= ncols; ++col) {
      const int owner = owner_at(regions, row, col);
      double v = nodata;
      if (owner == rank) {
        v = grid[row][col];
      } else if (owner >= 0) {
        for (size_t k = first_incoming; k < next_incoming; ++k)
          if (incoming_owner[k] == owner) {
            v = incoming[k][taken[static_cast<size_t>(owner)]++];
            break;
          }
      }
      if (col > 1) text.push_back('\t');
      text.append(number, format_g(number, v));
    }
    text.push_back('\n');
  }

  // Process 0 opens the file; everyone learns whether it is written.
  file_operation_guard guard(sigint_after::arm);
  std::string path;
  int state[2] = {0, 0};  // {skipped, errno of a failed creation}
  file_handle file;
  std::unique_ptr<pending_file> pending;
  if (rank == 0) {
    path = file_name;
    if (output_directory != nullptr) prefix_directory(*output_directory, path);
    path = output_path_sparing_inputs(*diag, store, path, output_directory);
    if (path.empty()) {
      state[0] = 1;
    } else {
      pending = std::make_unique<pending_file>(path);
      file.reset(pending->create_stream("w"));
      if (!file) state[1] = errno != 0 ? errno : EIO;
    }
  }
  MPI_Bcast(state, 2, MPI_INT, 0, MPI_COMM_WORLD);
  if (state[0] != 0) return;
  if (state[1] != 0) {
    if (rank == 0)
      fail_fatal(*diag, 26, "error creating ", path, errno_text(state[1]),
                 " for writing in text mode.");
    throw 26;
  }

  if (rank != 0) {
    // Pieces of whole lines; process 0 knows how many lines come from here.
    size_t start = 0;
    while (start < text.size()) {
      size_t end = std::min(text.size(), start + TEXT_PIECE_BYTES);
      if (end < text.size()) end = text.rfind('\n', end - 1) + 1;
      if (end <= start) end = text.size();
      MPI_Send(text.data() + start, static_cast<int>(end - start), MPI_CHAR, 0, TEXT_TAG,
               MPI_COMM_WORLD);
      start = end;
    }
    return;
  }

  std::vector<int> all_formatters(static_cast<size_t>(nrows) + 1, -1);
  for (int row = 1; row <= nrows; ++row)
    all_formatters[static_cast<size_t>(row)] = formatter_of(regions, row, ncols);
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  text_writer out(file.get());
  out.put(text_grid_header(model));
  std::string empty_line;
  // The text still to be written of every process; process 0's is its own.
  std::vector<std::string> pending_text(static_cast<size_t>(process_count));
  std::vector<size_t> at(static_cast<size_t>(process_count), 0);
  pending_text[0] = std::move(text);
  for (int row = 1; row <= nrows; ++row) {
    const int f = all_formatters[static_cast<size_t>(row)];
    if (f < 0) {
      if (empty_line.empty()) {
        for (int col = 1; col <= ncols; ++col) {
          if (col > 1) empty_line.push_back('\t');
          empty_line.append(number, format_g(number, nodata));
        }
        empty_line.push_back('\n');
      }
      out.put(empty_line);
      continue;
    }
    std::string& source = pending_text[static_cast<size_t>(f)];
    size_t& from = at[static_cast<size_t>(f)];
    if (from >= source.size() && f != 0) {
      MPI_Status status;
      MPI_Probe(f, TEXT_TAG, MPI_COMM_WORLD, &status);
      int count = 0;
      MPI_Get_count(&status, MPI_CHAR, &count);
      source.resize(static_cast<size_t>(count));
      MPI_Recv(source.data(), count, MPI_CHAR, f, TEXT_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      from = 0;
    }
    const size_t end = source.find('\n', from);
    // Every process sends the whole lines of the rows it formats.
    if (end == std::string::npos)
      fail_fatal(*diag, 26, "error creating ", path, " for writing in text mode.");
    out.put(std::string_view(source).substr(from, end + 1 - from));
    from = end + 1;
  }
  finish_text_file(out, file, path, model_header());
  if (!pending->commit())
    fail_fatal(*diag, 26, "error creating ", path, errno_text(errno), " for writing in text mode.");
}
