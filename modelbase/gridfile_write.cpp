// Writing grid files: text grids with their six header lines, binary grids
// with the 12-number header whose statistics cover the cells of the zone
// spans. Process 0 writes whole grids after gathering them.
//
// A grid is written under a temporary name beside its file and renamed onto
// it once complete: a failed write leaves the previous file, never a partial
// one. An output never replaces a file that the run has read.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"
#include "modelbase/textutil.h"

namespace {

constexpr int TEXT_BATCH_ROWS = 64;  // rows formatted together before they are written

bool holds_row(const grid_matrix& grid, int row, int ncols) {
  return row >= 0 && row < grid.pointer_count() && grid[row] != nullptr && grid.last_col() >= ncols;
}

row_strip span_of(const std::vector<row_strip>* strips, int row) {
  if (strips == nullptr || row < 0 || static_cast<size_t>(row) >= strips->size()) return {};
  return (*strips)[static_cast<size_t>(row)];
}

}  // namespace

void modelobject::write_grid(const std::string& file_name, const grid_matrix& grid, bool as_text,
                             bool double_precision) {
  write_grid_file(file_name, grid, as_text, double_precision, false);
}

void modelobject::write_grid_file(const std::string& file_name, const grid_matrix& grid,
                                  bool as_text, bool double_precision, bool region_output) {
  file_operation_guard guard(sigint_after::arm);
  std::string path = file_name;
  if (output_directory != nullptr) prefix_directory(*output_directory, path);
  path = output_path_sparing_inputs(*diag, store, path, output_directory);
  if (path.empty()) return;
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  grid_header header = model_header();
  // Declared before the stream, so that the stream is closed before the
  // temporary is removed on a failure.
  pending_file pending(path);

  if (as_text) {
    file_handle file(pending.create_stream("w"));
    if (!file)
      fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
                 " for writing in text mode.");
    text_writer out(file.get());
    out.put(text_grid_header(model));
    // Rows are formatted in parallel, a batch at a time, and written in order.
    const int batch = std::min(nrows, TEXT_BATCH_ROWS);
    std::vector<std::string> lines(static_cast<size_t>(std::max(batch, 0)));
    const std::string absent_value = region_output ? format_g(nodata) : std::string("-9999");
    for (int first = 1; first <= nrows; first += batch) {
      const int last = std::min(nrows, first + batch - 1);
#pragma omp parallel for schedule(static)
      for (int row = first; row <= last; ++row) {
        std::string& line = lines[static_cast<size_t>(row - first)];
        line.clear();
        const bool held = holds_row(grid, row, ncols);
        char number[32];
        for (int col = 1; col <= ncols; ++col) {
          if (col > 1) line.push_back('\t');
          if (held)
            line.append(number, format_g(number, grid[row][col]));
          else
            line += absent_value;
        }
        line.push_back('\n');
      }
      for (int row = first; row <= last; ++row) out.put(lines[static_cast<size_t>(row - first)]);
    }
    finish_text_file(out, file, path, header);
    if (!pending.commit())
      fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
                 " for writing in text mode.");
    return;
  }

  const grid_format format =
      double_precision ? grid_format::binary_double : grid_format::binary_single;
  file_handle file(pending.create_stream("wb"));
  if (!file)
    fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
               " for writing in binary mode.");
  const std::vector<unsigned char> head = encode_binary_header(header, format);
  if (std::fwrite(head.data(), 1, head.size(), file.get()) != head.size())
    fail_write(path, 18, errno);
  reset_statistics(nodata);
  std::vector<double> values(static_cast<size_t>(ncols));
  std::vector<unsigned char> bytes;
  for (int row = 1; row <= nrows; ++row) {
    if (holds_row(grid, row, ncols))
      std::copy(grid[row] + 1, grid[row] + ncols + 1, values.begin());
    else
      std::fill(values.begin(), values.end(), nodata);
    bytes.clear();
    encode_values(values.data(), values.size(), format, bytes);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
      fail_write(path, 18, errno);
    const row_strip span = span_of(strips, row);
    if (span.first < 1) continue;
    const double* weights = rel_cell_area != nullptr && holds_row(*rel_cell_area, row, ncols)
                                ? (*rel_cell_area)[row]
                                : nullptr;
    for (int col = span.first; col <= span.last && col <= ncols; ++col)
      add_to_statistics(values[static_cast<size_t>(col - 1)],
                        weights != nullptr ? weights[col] : 1.0);
  }
  get_statistics(header.count, header.minimum, header.maximum, header.sum, header.mean,
                 header.stddev);
  const auto all = header_values(header);
  bytes.clear();
  encode_values(all.data() + 6, 6, format, bytes);
  if (std::fseek(file.get(), static_cast<long>(6 * value_bytes(format)), SEEK_SET) != 0 ||
      std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
      std::fflush(file.get()) != 0)
    fail_write(path, 18, errno);
  file_header = header;
  if (std::fclose(file.release()) != 0)
    fail_fatal(*diag, 27, "error closing ", path, errno_text(errno));
  if (!pending.commit())
    fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
               " for writing in binary mode.");
}

void modelobject::write_grid_region(const std::string& file_name, grid_matrix& grid, bool as_text,
                                    bool double_precision) {
  // Cells outside each row's span become nodata in the caller's grid; a row
  // without a span entirely. An object without spans writes its grid as it is.
  if (strips != nullptr) {
    for (int row = 1; row <= nrows; ++row) {
      if (!holds_row(grid, row, ncols)) continue;
      const row_strip span = span_of(strips, row);
      double* cells = grid[row];
      for (int col = 1; col <= ncols; ++col)
        if (span.first < 1 || col < span.first || col > span.last) cells[col] = nodata;
    }
  }
  write_grid_file(file_name, grid, as_text, double_precision, true);
}

grid_header modelobject::model_header() const {
  grid_header header;
  header.ncols = ncols;
  header.nrows = nrows;
  header.xllcorner = xllcorner;
  header.yllcorner = yllcorner;
  header.cellsize = cellsize;
  header.nodata = nodata;
  header.count = header.minimum = header.maximum = header.sum = header.mean = header.stddev = 0;
  return header;
}

void modelobject::finish_text_file(text_writer& out, file_handle& file, const std::string& path,
                                   const grid_header& header) {
  // Buffered bytes reach the file here: a full disk is a write error.
  if (!out.flush()) fail_write(path, 18, out.error());
  if (std::fflush(file.get()) != 0) fail_write(path, 18, errno);
  file_header = header;
  if (std::fclose(file.release()) != 0)
    fail_fatal(*diag, 27, "error closing ", path, errno_text(errno));
}
