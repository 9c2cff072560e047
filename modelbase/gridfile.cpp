// Grid files of the model object: reading a text, binary or GIF grid with the
// check of its measures, the distribution of its rows and the filling of
// holes; writing text and binary grids.
//
// Every step that involves other processes ends with an agreement on
// failures, so that all processes stop with the same code (process 0 reports
// it) instead of waiting in a transfer for a process that has given up.
#include <mpi.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "modelbase/gifgrid.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/gridfile_holes.h"
#include "modelbase/gridfile_mpi.h"
#include "modelbase/gridfile_text_parallel.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "modelbase/textutil.h"

namespace {

constexpr int OPEN_ATTEMPTS = 6;
constexpr int RETRY_WAIT_MS = 200;                 // [ms] between two open attempts
constexpr long long READ_PIECE_BYTES = 1LL << 26;  // [bytes] of one parallel read

std::string directory_path(const std::string& name, const std::string* directory) {
  std::string path = name;
  if (directory != nullptr) prefix_directory(*directory, path);
  return path;
}

bool holds_row(const grid_matrix& grid, int row, int ncols) {
  return row >= 0 && row < grid.pointer_count() && grid[row] != nullptr && grid.last_col() >= ncols;
}

// Opens for binary reading, with five retries 200 ms apart; null when the
// sixth attempt fails too (the retry entries written, error its errno).
file_handle open_with_retries(DiagStream& diag, const std::string& path, int& error) {
  for (int attempt = 1;; ++attempt) {
    file_handle file(std::fopen(path.c_str(), "rb"));
    error = file ? 0 : errno;
    if (file || attempt == OPEN_ATTEMPTS) return file;
    diag_entry(diag, "FATAL: error opening ", path, errno_text(error), ". Will try again in ",
               RETRY_WAIT_MS, " ms... (retriesleft = ", OPEN_ATTEMPTS - attempt, ")");
    std::this_thread::sleep_for(std::chrono::milliseconds(RETRY_WAIT_MS));
  }
}

// Closes a stream; a failure is a file_failure of code with text and the
// reason.
void close_or_fail(file_handle& file, int code, const std::string& text) {
  std::FILE* raw = file.release();
  if (raw == nullptr || std::fclose(raw) == 0) return;
  const int error = errno;
  throw file_failure{code, text + errno_text(error)};
}

// What process 0 holds of the file it reads.
struct grid_source {
  file_handle file;
  grid_format format = grid_format::unknown;
  grid_header header;
  std::optional<text_scanner> scanner;  // text grids: header and body
  long long body_offset = 0;            // text grids: where the cells start
};

void read_text_header(grid_source& src, const std::string& path) {
  std::rewind(src.file.get());
  src.scanner.emplace(src.file.get());
  grid_header header;
  const text_header_read read = read_text_grid_header(*src.scanner, header);
  if (read.bad_word) throw file_failure{22, header_word_text(read, path)};
  if (read.failed_pair != 0)
    throw file_failure{22, "error reading ascii value #" + std::to_string(read.failed_pair) +
                               " from " + path};
  src.header = header;
  src.body_offset = src.scanner->consumed();
}

// Measures no grid can have, and a file too small (or a binary file too
// large) for the cells it declares, stop the reading before anything is sized
// by them.
void check_declared_grid(grid_source& src, const std::string& path) {
  const std::string problem = declared_grid_text(src.format, src.header, src.file.get(), path);
  if (!problem.empty()) throw file_failure{22, problem};
}

void read_binary_header(grid_source& src, const std::string& path) {
  const size_t size = value_bytes(src.format);
  std::rewind(src.file.get());
  unsigned char bytes[FORMAT_PROBE_BYTES];
  const size_t got = std::fread(bytes, size, BINARY_HEADER_COUNT, src.file.get());
  if (got < BINARY_HEADER_COUNT) {
    if (src.format == grid_format::binary_double)
      throw file_failure{22, "error reading double value from the header of " + path};
    throw file_failure{22, "error reading double value #" + std::to_string(got + 1) +
                               " from the header of " + path};
  }
  src.header = decode_binary_header(bytes, src.format);
}

// Rows 1..nrows of the body from process 0's stream into grid.
void read_binary_rows(grid_source& src, const std::string& path, grid_matrix& grid, int nrows,
                      int ncols) {
  const size_t size = value_bytes(src.format);
  if (std::endian::native == std::endian::little && src.format == grid_format::binary_double) {
    // The file's values are the grid's: straight into the rows.
    for (int row = 1; row <= nrows; ++row)
      if (std::fread(grid[row] + 1, size, static_cast<size_t>(ncols), src.file.get()) !=
          static_cast<size_t>(ncols))
        throw file_failure{22, "error reading double grid " + path};
    return;
  }
  std::vector<unsigned char> row_bytes(static_cast<size_t>(ncols) * size);
  for (int row = 1; row <= nrows; ++row) {
    if (std::fread(row_bytes.data(), size, static_cast<size_t>(ncols), src.file.get()) !=
        static_cast<size_t>(ncols))
      throw file_failure{22, "error reading double grid " + path};
    decode_values(row_bytes.data(), static_cast<size_t>(ncols), src.format, grid[row] + 1);
  }
}

void read_text_rows(grid_source& src, const std::string& path, grid_matrix& grid, int nrows,
                    int ncols) {
  text_scanner& scanner = *src.scanner;
  for (int row = 1; row <= nrows; ++row) {
    double* cells = grid[row];
    for (int col = 1; col <= ncols; ++col)
      if (!scanner.next_number(cells[col]))
        throw file_failure{22, "error reading ascii grid " + path + " in ASCII-Format in row " +
                                   std::to_string(row) + ", col " + std::to_string(col)};
  }
}

// Rows first..last of a binary grid through MPI-IO, every process its own.
file_failure read_rows_parallel(const std::string& path, grid_format format, grid_matrix& grid,
                                int first, int last, int ncols) {
  MPI_File file;
  const int opened =
      MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_RDONLY, MPI_INFO_NULL, &file);
  if (opened != MPI_SUCCESS)
    return {22, "error reading double grid " + path + mpi_error_text(opened)};
  file_failure failure;
  const long long size = static_cast<long long>(value_bytes(format));
  const long long row_bytes = static_cast<long long>(ncols) * size;
  const int rows_per_piece =
      static_cast<int>(std::max(1LL, READ_PIECE_BYTES / std::max(1LL, row_bytes)));
  if constexpr (std::endian::native == std::endian::little) {
    // Little-endian doubles are already the grid's values: each row goes
    // straight into its place, with no buffer and no decoding.
    if (format == grid_format::binary_double) {
      for (int row = first; row <= last; ++row) {
        const long long offset =
            ((static_cast<long long>(row) - 1) * ncols + BINARY_HEADER_COUNT) * size;
        if (mpi_read_at(file, offset, reinterpret_cast<unsigned char*>(grid[row] + 1),
                        row_bytes) != row_bytes) {
          failure = {22, "error reading double grid " + path};
          break;
        }
      }
      const int closed = MPI_File_close(&file);
      if (closed != MPI_SUCCESS && failure.code == 0)
        failure = {23, "error closing grid " + path + mpi_error_text(closed)};
      return failure;
    }
  }
  std::vector<unsigned char> piece;
  for (int row = first; row <= last && failure.code == 0; row += rows_per_piece) {
    const int rows = std::min(rows_per_piece, last - row + 1);
    const long long bytes = rows * row_bytes;
    piece.resize(static_cast<size_t>(bytes));
    const long long offset =
        ((static_cast<long long>(row) - 1) * ncols + BINARY_HEADER_COUNT) * size;
    if (mpi_read_at(file, offset, piece.data(), bytes) != bytes) {
      failure = {22, "error reading double grid " + path};
      break;
    }
    for (int i = 0; i < rows; ++i)
      decode_values(piece.data() + i * row_bytes, static_cast<size_t>(ncols), format,
                    grid[row + i] + 1);
  }
  const int closed = MPI_File_close(&file);
  if (closed != MPI_SUCCESS && failure.code == 0)
    failure = {23, "error closing grid " + path + mpi_error_text(closed)};
  return failure;
}

void read_gif_grid(const std::string& path, grid_matrix& grid, const grid_measures& model,
                   const gif_georeference& geo, const gif_mapping& mapping) {
  try {
    GifReader reader(path);
    int width = 0;
    int height = 0;
    reader.read_header(width, height);
    gif_raster raster(height, width);
    reader.decode(raster);
    resample_gif_to_grid(raster, geo, model, grid);
    map_gif_classes(grid, model.nrows, model.ncols, mapping);
  } catch (const gif_decode_error& error) {
    throw file_failure{22, "error reading GIF " + path + " (" + error.text + ")"};
  } catch (const std::bad_alloc&) {
    throw file_failure{22, "error reading GIF " + path + " (not enough memory for the image)"};
  }
}

// Hole filling on process 0's whole grid, with its entries and log lines.
void fill_holes(DiagStream& diag, const std::string& path, grid_matrix& grid,
                const grid_measures& model, const grid_matrix* zone, const hole_fill_params& params,
                bool verbose) {
  if (verbose) diag_entry(diag, "... ", path, " checking nodata values and replace");
  const std::string log_name = "modell_0.log";
  file_handle log(std::fopen(log_name.c_str(), "a"));
  if (!log) {
    const int error = errno;
    throw file_failure{5, "error opening log file " + log_name + errno_text(error)};
  }
  const hole_fill_result result = fill_grid_holes(grid, model.nrows, model.ncols, zone, params);
  for (const filled_hole& hole : result.filled) {
    diag_entry(diag, "DEBUG: ", "y: ", hole.row, " x: ", hole.col, "in ", path, ": ",
               hole.old_value, " replaced by ", hole.new_value);
    std::fprintf(log.get(), "y: %d x: %d  in %s %lf replaced by %lf!\n", hole.row, hole.col,
                 path.c_str(), hole.old_value, hole.new_value);
  }
  if (result.too_big) {
    std::fprintf(log.get(), "In %s is a too big hole at x/y = %d/%d\n!\n", path.c_str(),
                 result.big_col, result.big_row);
    throw file_failure{25, "In " + path +
                               " is a too big hole at x/y = " + std::to_string(result.big_col) +
                               "/" + std::to_string(result.big_row) + "!"};
  }
  if (result.count > 0) {
    diag_entry(diag, "DEBUG: In ", path, ": ", result.count, " nodata values replaced!");
    std::fprintf(log.get(), "in %s: %ld nodata values replaced!\n\n", path.c_str(), result.count);
  }
}

// What work throws, as a failure to settle: a failure as it stands, a bare
// code without a text; no failure when work returns.
template <class Work>
file_failure failure_of(Work&& work) {
  try {
    work();
  } catch (const file_failure& f) {
    return f;
  } catch (int code) {
    return {code, ""};
  }
  return {};
}

struct header_packet {
  int code = 0;
  int format = 0;
  long long body_offset = 0;
  double values[6] = {0, 0, 0, 0, 0, 0};
};

}  // namespace

void modelobject::set_gif_georeference(const grid_matrix* mask, double x_origin, double y_origin,
                                       double cell_size) {
  gif_mask = mask;
  gif_x_origin = x_origin;
  gif_y_origin = y_origin;
  gif_cellsize = cell_size;
}

void modelobject::set_gif_mapping(double f1, double x1, int threshold, double f2, double x2) {
  gif_f1 = f1;
  gif_x1 = x1;
  gif_threshold = threshold;
  gif_f2 = f2;
  gif_x2 = x2;
}

void modelobject::read_grid(const std::string& file_name, grid_matrix& grid, int fill_mode,
                            bool allocate, bool verbose, double fill_value, bool report_holes,
                            bool keep_full_grid, bool no_distribution, bool with_halo) {
  file_operation_guard guard(sigint_after::disarm);
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  const bool collective = !no_distribution;
  // Settles a failure: on all processes together, or alone without distribution.
  auto settle = [&](const file_failure& failure) {
    if (collective)
      settle_failures(*diag, failure);
    else if (failure.code != 0)
      throw_failure(*diag, failure);
  };

  // Process 0: open, recognise, read the header, check the measures.
  std::string path;
  grid_source src;
  header_packet packet;
  if (rank == 0) {
    path = directory_path(file_name, input_directory);
    try {
      int open_error = 0;
      src.file = open_with_retries(*diag, path, open_error);
      if (!src.file)
        throw file_failure{21, "still error opening " + path + errno_text(open_error) +
                                   " - no retry."};
      if (store != nullptr) store->note_read_file(path);  // no output may replace it
      unsigned char probe[FORMAT_PROBE_BYTES];
      const size_t got = std::fread(probe, 1, sizeof probe, src.file.get());
      src.format = detect_grid_format(probe, got);
      if (src.format == grid_format::unknown)
        throw file_failure{22,
                           "could not recognise file format (neither ascii, nor single, double, "
                           "or GIF) for " +
                               path};
      if (verbose) diag_entry(*diag, "reading ", path, " for ", name, "...");
      if (src.format == grid_format::text) {
        read_text_header(src, path);
      } else if (src.format == grid_format::gif) {
        src.header = grid_header{};
        src.header.ncols = ncols;
        src.header.nrows = nrows;
        src.header.xllcorner = xllcorner;
        src.header.yllcorner = yllcorner;
        src.header.cellsize = cellsize;
        src.header.nodata = nodata;
      } else {
        read_binary_header(src, path);
      }
      if (src.format != grid_format::gif) check_declared_grid(src, path);
      if (!grid_file_fits(model, src.header)) {
        const grid_entry* zone = store != nullptr ? &(*store)[1] : nullptr;
        const std::string zone_file = zone != nullptr && zone->file_name ? *zone->file_name : "";
        diag_entry(*diag, "FATAL: ",
                   measures_mismatch_text(path, name, zone_file, model, src.header, false));
        close_or_fail(src.file, 23, "error closing grid " + path);
        throw file_failure{24, ""};
      }
      file_header = src.header;
    } catch (const file_failure& failure) {
      packet.code = failure.code;
      if (!collective) throw_failure(*diag, failure);
      MPI_Bcast(&packet, sizeof packet, MPI_BYTE, 0, MPI_COMM_WORLD);
      throw_failure(*diag, failure);
    }
    packet.format = static_cast<int>(src.format);
    packet.body_offset = src.body_offset;
    const auto values = header_values(src.header);
    for (int i = 0; i < 6; ++i) packet.values[i] = values[static_cast<size_t>(i)];
  }
  if (collective) {
    MPI_Bcast(&packet, sizeof packet, MPI_BYTE, 0, MPI_COMM_WORLD);
    if (packet.code != 0) throw packet.code;
    broadcast_string(path);
    if (rank != 0) {
      std::array<double, 12> values = header_values(grid_header{});
      for (int i = 0; i < 6; ++i) values[static_cast<size_t>(i)] = packet.values[i];
      file_header = header_from_values(values);
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
  const auto format = static_cast<grid_format>(packet.format);

  // The rows each process reads or prepares. Text is parsed by all processes
  // together whenever several read collectively, into process 0's whole
  // grid, which then takes the same way as a grid process 0 read alone.
  const bool binary = format == grid_format::binary_double || format == grid_format::binary_single;
  int processes = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &processes);
  const bool text_together = format == grid_format::text && collective && processes > 1;
  const bool parallel = binary && fill_mode == 0 && !keep_full_grid && collective;
  const bool divided = first_row >= 1 && last_row >= first_row && last_row <= nrows;
  const int own_first = divided ? first_row : 1;
  const int own_last = divided ? last_row : nrows;
  const int band_first = with_halo && own_first > 1 ? own_first - 1 : own_first;
  const int band_last = with_halo && own_last < nrows ? own_last + 1 : own_last;
  const bool whole = rank == 0 && !parallel;
  const bool nothing = rank != 0 && rows_to_process_0_only;
  const int read_first = whole ? 1 : nothing ? 1 : band_first;
  const int read_last = whole ? nrows : nothing ? 0 : band_last;
  if (collective) MPI_Barrier(MPI_COMM_WORLD);
  // Text parsed together: process 0 makes its whole grid while the others
  // parse, and with four processes or more it parses no share itself (making
  // the whole grid costs about as much as parsing a share).
  const bool whole_made_later = text_together && whole && allocate;
  const bool process_0_parses = !(text_together && allocate && processes >= 4);
  auto make_whole = [&] {
    return failure_of([&] { grid = matrix_for_overwrite(1, nrows, 1, ncols, 0); });
  };

  file_failure failure = failure_of([&] {
    if (nothing || whole_made_later) {
      grid = grid_matrix();  // process 0's whole grid: made while the others parse
    } else if (allocate) {
      // Every cell of the rows is written below: read from a text or binary
      // file, or nodata. A GIF image need not cover the whole grid.
      const bool overwritten = format == grid_format::text || binary || (!parallel && !whole);
      grid = overwritten ? matrix_for_overwrite(read_first, read_last, 1, ncols, whole ? 0 : nrows)
                         : matrix(read_first, read_last, 1, ncols, whole ? 0 : nrows);
      // Rows this process reads itself are overwritten whole; only rows that
      // receive their own cells from process 0 need nodata elsewhere.
      if (!parallel && !whole)
        for (int row = read_first; row <= read_last; ++row)
          std::fill(grid[row] + 1, grid[row] + ncols + 1, nodata);
    } else {
      bool present = !grid.empty();
      for (int row = read_first; present && row <= read_last; ++row)
        present = holds_row(grid, row, ncols);
      if (!present)
        throw file_failure{22, "error reading grid " + path +
                                   " no memory allocated (pointer given to function is NULL)"};
    }
  });
  settle(failure);

  if (parallel || text_together) {
    if (rank == 0)
      failure = failure_of([&] {
        src.scanner.reset();
        close_or_fail(src.file, 23, "error closing grid " + path);
      });
    settle(failure);
    if (binary)
      settle(read_rows_parallel(path, format, grid, read_first, read_last, ncols));
    else
      settle(read_text_body_parallel(
          path, packet.body_offset, grid, 1, whole ? nrows : 0, nrows, ncols,
          whole_made_later ? std::function<file_failure()>(make_whole) : nullptr,
          process_0_parses));
  }
  if (parallel) {
    replace_file_nodata(grid, read_first, read_last, ncols, file_header.nodata, nodata);
  } else if (rank == 0) {
    failure = failure_of([&] {
      if (binary) {
        std::fseek(src.file.get(), static_cast<long>(BINARY_HEADER_COUNT * value_bytes(format)),
                   SEEK_SET);
        read_binary_rows(src, path, grid, nrows, ncols);
      } else if (format == grid_format::text) {
        if (!text_together) read_text_rows(src, path, grid, nrows, ncols);
      } else {
        read_gif_grid(path, grid, model,
                      gif_georeference{gif_x_origin, gif_y_origin, gif_cellsize, gif_mask},
                      gif_mapping{gif_f1, gif_x1, gif_threshold, gif_f2, gif_x2});
      }
      src.scanner.reset();
      close_or_fail(src.file, 23, "error closing grid " + path);
      // Whatever the fill mode, the file's nodata never reads as a value.
      replace_file_nodata(grid, 1, nrows, ncols, src.header.nodata, nodata);
      if (fill_mode == 1 || fill_mode == 2) {
        const hole_fill_params params{fill_mode, fill_value, report_holes, nodata};
        fill_holes(*diag, path, grid, model, store != nullptr ? (*store)[1].grid : nullptr, params,
                   verbose);
      }
    });
    settle(failure);
  } else if (collective) {
    settle(failure);
  }

  if (rows_to_process_0_only) return;
  if (!parallel) {
    if (collective) scatter_grid(0, &grid);
    if (rank == 0 && !keep_full_grid) {
      grid_matrix band = matrix_for_overwrite(band_first, band_last, 1, ncols, nrows);
      for (int row = band_first; row <= band_last; ++row)
        std::copy(grid[row] + 1, grid[row] + ncols + 1, band[row] + 1);
      grid = std::move(band);
    }
  }
  if (with_halo && collective) exchange_halo(0, &grid);
}

void modelobject::read_grid_to_process_0(const std::string& file_name, grid_matrix& grid,
                                         bool verbose, double fill_value, bool report_holes) {
  rows_to_process_0_only = true;
  try {
    read_grid(file_name, grid, 0, true, verbose, fill_value, report_holes, true, false, false);
  } catch (...) {
    rows_to_process_0_only = false;
    throw;
  }
  rows_to_process_0_only = false;
}
