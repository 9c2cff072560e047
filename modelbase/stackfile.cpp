// Stack files of the model object: several values per cell (levels 0..L) in
// text or binary single or double precision. Binary stacks are read and
// written by every process at its own cells through MPI-IO; text stacks are
// read and written by process 0.
//
// Binary writing puts every cell at its own place in the file: each process
// writes its own cells, process 0 in addition every cell outside the division
// as nodata, so that the file is complete and the same for any number of
// processes. A stack is written under a temporary name in its folder (every
// process the same one) and renamed by process 0 once all processes have
// closed it, so that a failed write never leaves a partial stack.
#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "modelbase/distribution.h"
#include "modelbase/gridfile_banded.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/gridfile_mpi.h"
#include "modelbase/gridfile_rows.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"
#include "modelbase/textutil.h"

namespace {

constexpr long long READ_PIECE_BYTES = 1LL << 26;  // [bytes] of one parallel read

bool holds_row(const stack_matrix& stack, int row, int ncols) {
  return row >= 0 && row < stack.pointer_count() && stack[row] != nullptr &&
         stack.last_col() >= ncols;
}

// The rows of a whole stack, as it is: one band. The cells of a row lie one
// after the other from column 0.
class held_stack_rows final : public stack_row_source {
 public:
  held_stack_rows(const stack_matrix& stack, int nrows, int ncols)
      : stack_(stack), nrows_(nrows), ncols_(ncols) {}
  int band_rows() const override { return std::max(nrows_, 1); }
  void load(int /*first*/, int /*last*/) override {}
  const double* row(int r) const override {
    return holds_row(stack_, r, ncols_) ? stack_[r][0] : nullptr;
  }

 private:
  const stack_matrix& stack_;
  int nrows_;
  int ncols_;
};

struct stack_packet {
  int code = 0;
  int format = 0;
  int levels = 0;
  double values[6] = {0, 0, 0, 0, 0, 0};
};

// The cell of value number index (from 0) of the data, for error texts.
std::string cell_position(long long index, int ncols, int levels, bool with_level) {
  if (ncols < 1) return "at row 1, column 1";
  const long long depth = levels + 1;
  const long long cell = index / depth;
  const long long row = cell / ncols + 1;
  const long long col = cell % ncols + 1;
  std::string text = "at row " + std::to_string(row) + ", column " + std::to_string(col);
  if (with_level) text += ", level " + std::to_string(index % depth);
  return text;
}

std::string short_read_text(grid_format format, const std::string& path) {
  return std::string(format == grid_format::binary_single ? "error reading float stack "
                                                          : "error reading double stack ") +
         path;
}

// The entry of a stack file too small, or a binary one too large, for the
// values its header declares; empty when the file fits. A binary file too
// small gets the entry of the short read it would come to.
std::string stack_size_text(grid_format format, const grid_header& header, int levels,
                            long long file_bytes, const std::string& path) {
  const long long values = declared_values(header, levels + 1LL);
  const declared_size size = check_declared_size(format, values, file_bytes);
  if (size == declared_size::fits) return {};
  const std::string bytes = std::to_string(file_bytes) + " bytes";
  const std::string declared = format_measure(header.ncols) + " x " +
                               format_measure(header.nrows) + " cells of " +
                               std::to_string(levels + 1LL) + " values";
  if (format == grid_format::text)
    return "error reading ascii stack " + path + ": " + bytes + " cannot hold the " + declared +
           " of its header (at least 2 bytes per value)";
  const long long value_size = static_cast<long long>(value_bytes(format));
  const int ncols = static_cast<int>(header.ncols);
  if (size == declared_size::too_small)
    return short_read_text(format, path) +
           cell_position(std::max(0LL, file_bytes / value_size - BINARY_HEADER_COUNT), ncols,
                         levels, false);
  return short_read_text(format, path) + ": " + bytes + ", but its header and " + declared +
         " take " + std::to_string((values + BINARY_HEADER_COUNT) * value_size);
}

// Rows first..last of a binary stack through MPI-IO into stack.
file_failure read_stack_rows_parallel(const std::string& path, grid_format format,
                                      stack_matrix& stack, int first, int last, int ncols,
                                      int levels) {
  MPI_File file;
  const int opened =
      MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_RDONLY, MPI_INFO_NULL, &file);
  if (opened != MPI_SUCCESS) return {21, "error opening " + path + mpi_error_text(opened)};
  file_failure failure;
  const long long size = static_cast<long long>(value_bytes(format));
  const long long row_values = static_cast<long long>(ncols) * (levels + 1);
  const long long row_bytes = row_values * size;
  const int rows_per_piece =
      static_cast<int>(std::max(1LL, READ_PIECE_BYTES / std::max(1LL, row_bytes)));
  std::vector<unsigned char> piece;
  for (int row = first; row <= last; row += rows_per_piece) {
    const int rows = std::min(rows_per_piece, last - row + 1);
    const long long bytes = rows * row_bytes;
    piece.resize(static_cast<size_t>(bytes));
    const long long first_value = (static_cast<long long>(row) - 1) * row_values;
    const long long got =
        mpi_read_at(file, (first_value + BINARY_HEADER_COUNT) * size, piece.data(), bytes);
    if (got != bytes) {
      failure = {22, short_read_text(format, path) +
                         cell_position(first_value + got / size, ncols, levels, false)};
      break;
    }
    for (int i = 0; i < rows; ++i)
      decode_values(piece.data() + i * row_bytes, static_cast<size_t>(row_values), format,
                    stack[row + i][1]);
  }
  const int closed = MPI_File_close(&file);
  if (closed != MPI_SUCCESS && failure.code == 0)
    failure = {23, "error closing stack (2) " + path + mpi_error_text(closed)};
  return failure;
}

}  // namespace

void modelobject::read_stack(const std::string& file_name, stack_matrix& stack,
                             bool keep_full_stack) {
  file_operation_guard guard(sigint_after::disarm);
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};

  // Process 0: open, recognise, read the header, check the measures.
  std::string path;
  file_handle file;
  std::optional<text_scanner> scanner;
  grid_header header;
  stack_packet packet;
  if (rank == 0) {
    path = file_name;
    if (input_directory != nullptr) prefix_directory(*input_directory, path);
    try {
      file.reset(std::fopen(path.c_str(), "rb"));
      if (!file) throw file_failure{21, "error opening " + path + errno_text(errno)};
      if (store != nullptr) store->note_read_file(path);  // no output may replace it
      diag_entry(*diag, "reading ", path, " for ", name, "...");
      unsigned char probe[FORMAT_PROBE_BYTES];
      const size_t got = std::fread(probe, 1, sizeof probe, file.get());
      grid_format format = detect_stack_format(probe, got);
      if (format == grid_format::text) {
        file.reset(std::fopen(path.c_str(), "r"));
        if (!file) throw file_failure{21, "error opening " + path + errno_text(errno)};
        scanner.emplace(file.get());
        std::array<double, 12> values{};
        for (int pair = 1; pair <= 12; ++pair) {
          std::string_view word;
          if (!scanner->next_word(word) || !scanner->next_number(values[pair - 1]))
            throw file_failure{
                22, "error reading ascii value #" + std::to_string(pair) + " from " + path};
        }
        header = header_from_values(values);
      } else if (format == grid_format::unknown) {
        if (got < FORMAT_PROBE_BYTES) throw file_failure{22, "error reading from " + path};
        throw file_failure{
            22, "could not recognise file format (ascii, double or double) for stack " + path};
      } else {
        header = decode_binary_header(probe, format);
        std::fseek(file.get(), static_cast<long>(BINARY_HEADER_COUNT * value_bytes(format)),
                   SEEK_SET);
      }
      const std::string impossible = impossible_measure_text(header, path);
      if (!impossible.empty()) throw file_failure{22, impossible};
      const double levels = std::floor(header.stddev);
      if (!(levels >= 0 && levels < 1e9)) throw file_failure{22, "error reading from " + path};
      if (!stack_file_fits(model, header)) {
        const grid_entry* zone = store != nullptr ? &(*store)[1] : nullptr;
        const std::string zone_file = zone != nullptr && zone->file_name ? *zone->file_name : "";
        diag_entry(*diag,
                   "FATAL: ", measures_mismatch_text(path, name, zone_file, model, header, true));
        std::FILE* raw = file.release();
        if (std::fclose(raw) != 0)
          throw file_failure{23, "error closing stack (1) " + path + errno_text(errno)};
        throw file_failure{24, ""};
      }
      const std::string size_problem = stack_size_text(
          format, header, static_cast<int>(levels), open_file_bytes(file.get()), path);
      if (!size_problem.empty()) throw file_failure{22, size_problem};
      file_header = header;
      packet.format = static_cast<int>(format);
      packet.levels = static_cast<int>(levels);
      const auto values = header_values(header);
      for (int i = 0; i < 6; ++i) packet.values[i] = values[static_cast<size_t>(i)];
    } catch (const file_failure& failure) {
      packet.code = failure.code;
      MPI_Bcast(&packet, sizeof packet, MPI_BYTE, 0, MPI_COMM_WORLD);
      throw_failure(*diag, failure);
    }
  }
  MPI_Bcast(&packet, sizeof packet, MPI_BYTE, 0, MPI_COMM_WORLD);
  if (packet.code != 0) throw packet.code;
  broadcast_string(path);
  if (rank != 0) {
    std::array<double, 12> values{};
    for (int i = 0; i < 6; ++i) values[static_cast<size_t>(i)] = packet.values[i];
    values[11] = packet.levels;
    file_header = header_from_values(values);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  const auto format = static_cast<grid_format>(packet.format);
  const int levels = packet.levels;

  const bool divided = first_row >= 1 && last_row >= first_row && last_row <= nrows;
  const int own_first = divided ? first_row : 1;
  const int own_last = divided ? last_row : nrows;
  const bool parallel = format != grid_format::text && !keep_full_stack;
  const bool whole = rank == 0 && !parallel;
  const int read_first = whole ? 1 : own_first;
  const int read_last = whole ? nrows : own_last;

  file_failure failure;
  try {
    stack = matrix_3d(read_first, read_last, 1, ncols, levels, nrows);
  } catch (int code) {
    failure = {code, ""};
  }
  settle_failures(*diag, failure);

  if (parallel) {
    if (rank == 0 && std::fclose(file.release()) != 0)
      failure = {23, "error closing grid " + path + errno_text(errno)};
    settle_failures(*diag, failure);
    settle_failures(
        *diag, read_stack_rows_parallel(path, format, stack, read_first, read_last, ncols, levels));
    return;
  }

  if (rank == 0) {
    try {
      const long long depth = levels + 1;
      if (format == grid_format::text) {
        for (int row = 1; row <= nrows; ++row)
          for (int col = 1; col <= ncols; ++col)
            for (int level = 0; level <= levels; ++level)
              if (!scanner->next_number(stack[row][col][level]))
                throw file_failure{22, "error reading ascii stack " + path + "at row " +
                                           std::to_string(row) + ", column " + std::to_string(col) +
                                           ", level " + std::to_string(level)};
      } else {
        const size_t size = value_bytes(format);
        const size_t row_values = static_cast<size_t>(ncols) * static_cast<size_t>(depth);
        std::vector<unsigned char> bytes(row_values * size);
        for (int row = 1; row <= nrows; ++row) {
          const size_t got = std::fread(bytes.data(), size, row_values, file.get());
          if (got != row_values)
            throw file_failure{22,
                               short_read_text(format, path) +
                                   cell_position((static_cast<long long>(row) - 1) * ncols * depth +
                                                     static_cast<long long>(got),
                                                 ncols, levels, false)};
          decode_values(bytes.data(), row_values, format, stack[row][1]);
        }
      }
      scanner.reset();
      if (std::fclose(file.release()) != 0)
        throw file_failure{23, "error closing stack (2) " + path + errno_text(errno)};
    } catch (const file_failure& f) {
      failure = f;
    }
  }
  settle_failures(*diag, failure);

  // Scattered with the level count of the file, a single level included.
  distribution::scatter_stack(division_view(), stack, levels);
  if (rank != 0) {
    for (int row = own_first; row <= own_last; ++row) {
      const double* owners = mpi_regions != nullptr && row < mpi_regions->pointer_count()
                                 ? (*mpi_regions)[row]
                                 : nullptr;
      for (int col = 1; col <= ncols; ++col)
        if (owners == nullptr || owners[col] != rank)
          for (int level = 1; level <= levels; ++level) stack[row][col][level] = nodata;
    }
  } else if (!keep_full_stack) {
    stack_matrix band = matrix_3d(own_first, own_last, 1, ncols, levels, nrows);
    const size_t row_values = static_cast<size_t>(ncols) * static_cast<size_t>(levels + 1);
    for (int row = own_first; row <= own_last; ++row)
      std::copy(stack[row][1], stack[row][1] + row_values, band[row][1]);
    stack = std::move(band);
  }
}

void modelobject::write_text_stack_rows(const std::string& file_name, int levels,
                                        stack_row_source& rows) {
  file_operation_guard guard(sigint_after::arm);
  const int band = std::max(rows.band_rows(), 1);
  banded_output target;
  std::string path = file_name;
  target.attempt([&] {
    if (output_directory != nullptr) prefix_directory(*output_directory, path);
    path = output_path_sparing_inputs(*diag, store, path, output_directory);
  });
  const bool writing = !target.failure && !path.empty();
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  grid_header header = model_header();
  header.stddev = levels;
  const size_t depth = static_cast<size_t>(levels) + 1;
  if (writing) {
    target.attempt([&] {
      target.pending.emplace(path);
      target.file.reset(target.pending->create_stream("w"));
      if (!target.file) fail_fatal(*diag, 26, "error opening ", path, errno_text(errno));
      target.out.emplace(target.file.get());
      target.out->put(text_stack_header(model, levels));
    });
    if (target.failure) target.drop();
  }
  for (int first = 1; first <= nrows; first += band) {
    const int last = std::min(nrows, first + band - 1);
    rows.load(first, last);
    if (!writing || target.failure) continue;
    for (int row = first; row <= last; ++row) {
      const double* cells = rows.row(row);
      for (int col = 1; col <= ncols; ++col) {
        const double* cell = cells != nullptr ? cells + static_cast<size_t>(col) * depth : nullptr;
        for (size_t level = 0; level < depth; ++level) {
          target.out->put_g(cell != nullptr ? cell[level] : nodata);
          target.out->put('\n');
        }
      }
    }
  }
  if (writing && !target.failure) {
    target.attempt([&] {
      finish_text_file(*target.out, target.file, path, header);
      if (!target.pending->commit()) fail_fatal(*diag, 26, "error opening ", path, errno_text(errno));
    });
  }
  target.finish();
}

void modelobject::write_stack(const std::string& file_name, const stack_matrix& stack, int levels,
                              bool as_text, bool double_precision) {
  if (as_text) {
    if (rank != 0) return;
    held_stack_rows rows(stack, nrows, ncols);
    write_text_stack_rows(file_name, levels, rows);
    return;
  }
  file_operation_guard guard(sigint_after::arm);
  std::string path = file_name;
  if (output_directory != nullptr) prefix_directory(*output_directory, path);
  grid_header header = model_header();
  header.stddev = levels;
  const size_t depth = static_cast<size_t>(levels) + 1;

  const grid_format format =
      double_precision ? grid_format::binary_double : grid_format::binary_single;
  const long long size = static_cast<long long>(value_bytes(format));
  const long long header_bytes = BINARY_HEADER_COUNT * size;
  const long long cell_bytes = static_cast<long long>(depth) * size;
  // Process 0 knows the files the run read; it decides the name (empty:
  // not written) and makes the temporary file for all.
  if (rank == 0) path = output_path_sparing_inputs(*diag, store, path, output_directory);
  broadcast_string(path);
  if (path.empty()) return;
  std::optional<pending_file> pending;
  if (rank == 0) pending.emplace(path);
  file_failure failure;
  // The file gets its whole length, whichever cells each process writes.
  MPI_File file = open_shared_temporary(*diag, path, "binary", pending ? &*pending : nullptr,
                                        header_bytes + static_cast<long long>(nrows) * ncols *
                                                           cell_bytes,
                                        failure);
  if (rank == 0) {
    const std::vector<unsigned char> head = encode_binary_header(header, format);
    mpi_write_at(file, 0, head.data(), static_cast<long long>(head.size()), path, failure);
  }

  // The cells this process writes, in file order, merged into runs.
  byte_runs runs;
  std::vector<unsigned char> buffer;
  std::vector<double> nodata_cell(depth, nodata);
  auto put_cell = [&](int row, int col, const double* values) {
    const long long offset = ((static_cast<long long>(row) - 1) * ncols + (col - 1)) * cell_bytes;
    if (!runs.empty() && runs.back().first + runs.back().second == offset)
      runs.back().second += cell_bytes;
    else
      runs.emplace_back(offset, cell_bytes);
    encode_values(values, depth, format, buffer);
  };
  auto own_values = [&](int row, int col) {
    return holds_row(stack, row, ncols) ? stack[row][col] : nodata_cell.data();
  };
  if (mpi_regions == nullptr) {
    if (rank == 0)
      for (int row = 1; row <= nrows; ++row)
        for (int col = 1; col <= ncols; ++col) put_cell(row, col, own_values(row, col));
  } else {
    const bool divided = first_row >= 1 && last_row >= first_row && last_row <= nrows;
    const int scan_first = rank == 0 || !divided ? 1 : first_row;
    const int scan_last = rank == 0 || !divided ? nrows : last_row;
    for (int row = scan_first; row <= scan_last; ++row) {
      const double* owners = row < mpi_regions->pointer_count() ? (*mpi_regions)[row] : nullptr;
      if (owners == nullptr) continue;
      for (int col = 1; col <= ncols; ++col) {
        const double owner = owners[col];
        if (owner == rank)
          put_cell(row, col, own_values(row, col));
        else if (rank == 0 && !(owner >= 0 && owner < process_count && owner == std::floor(owner)))
          put_cell(row, col, nodata_cell.data());
      }
    }
  }
  std::string reason;
  if (!mpi_write_runs(file, header_bytes, runs, buffer, reason) && failure.code == 0)
    failure = {18, output_write_error(path, reason)};
  const int closed = MPI_File_close(&file);
  if (closed != MPI_SUCCESS && failure.code == 0)
    failure = {27, "error closing " + path + mpi_error_text(closed)};
  file_header = header;
  // Every process has closed the file here: a failure anywhere removes the
  // temporary on process 0 (with pending), success renames it once.
  settle_failures(*diag, failure);
  if (rank == 0 && !pending->commit())
    failure = {26, output_create_error(path, "binary", errno_text(errno))};
  settle_failures(*diag, failure);
}
