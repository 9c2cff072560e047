// Writing grid files: text grids with their six header lines, binary grids
// with the 12-number header whose statistics cover the cells of the zone
// spans. Process 0 writes the rows band by band as their source hands them
// over (a whole grid it holds, or bands gathered from the owners).
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
#include "modelbase/gridfile_banded.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/gridfile_rows.h"
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

// The rows of a whole grid, as it is: one band.
class held_rows final : public grid_row_source {
 public:
  held_rows(const grid_matrix& grid, int nrows, int ncols)
      : grid_(grid), nrows_(nrows), ncols_(ncols) {}
  int band_rows() const override { return std::max(nrows_, 1); }
  void load(int /*first*/, int /*last*/) override {}
  const double* row(int r) const override {
    return holds_row(grid_, r, ncols_) ? grid_[r] : nullptr;
  }

 private:
  const grid_matrix& grid_;
  int nrows_;
  int ncols_;
};

}  // namespace

void modelobject::write_grid(const std::string& file_name, const grid_matrix& grid, bool as_text,
                             bool double_precision) {
  write_grid_file(file_name, grid, as_text, double_precision, false);
}

void modelobject::write_grid_file(const std::string& file_name, const grid_matrix& grid,
                                  bool as_text, bool double_precision, bool region_output) {
  held_rows rows(grid, nrows, ncols);
  write_grid_rows(file_name, rows, as_text, double_precision, region_output);
}

void modelobject::write_grid_rows(const std::string& file_name, grid_row_source& rows, bool as_text,
                                  bool double_precision, bool region_output) {
  file_operation_guard guard(sigint_after::arm);
  const int band = std::max(rows.band_rows(), 1);
  banded_output target;
  std::string path = file_name;
  target.attempt([&] {
    if (output_directory != nullptr) prefix_directory(*output_directory, path);
    path = output_path_sparing_inputs(*diag, store, path, output_directory);
  });
  // An empty path writes nothing, but the bands are still taken.
  const bool writing = !target.failure && !path.empty();
  const grid_measures model{ncols, nrows, xllcorner, yllcorner, cellsize, nodata};
  grid_header header = model_header();
  const grid_format format =
      double_precision ? grid_format::binary_double : grid_format::binary_single;

  if (writing) {
    target.attempt([&] {
      target.pending.emplace(path);
      target.file.reset(target.pending->create_stream(as_text ? "w" : "wb"));
      if (!target.file)
        fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
                   as_text ? " for writing in text mode." : " for writing in binary mode.");
      if (as_text) {
        target.out.emplace(target.file.get());
        target.out->put(text_grid_header(model));
      } else {
        const std::vector<unsigned char> head = encode_binary_header(header, format);
        if (std::fwrite(head.data(), 1, head.size(), target.file.get()) != head.size())
          fail_write(path, 18, errno);
        reset_statistics(nodata);
      }
    });
    if (target.failure) target.drop();
  }

  // Text rows are formatted in parallel, a batch at a time, and written in
  // order.
  std::vector<std::string> lines;
  const std::string absent_value = region_output ? format_g(nodata) : std::string("-9999");
  const std::string nodata_text = format_g(nodata);
  auto put_text_rows = [&](int first, int last) {
    const auto count = static_cast<size_t>(last - first + 1);
    if (lines.size() < count) lines.resize(count);
#pragma omp parallel
    {
      // Each thread formats into its own buffer of the longest line.
      std::vector<char> buffer(static_cast<size_t>(ncols) * FORMATTED_VALUE_CHARS + 1);
#pragma omp for schedule(static)
      for (int row = first; row <= last; ++row) {
        std::string& line = lines[static_cast<size_t>(row - first)];
        line.clear();
        const double* cells = rows.row(row);
        if (cells != nullptr) {
          char* end = format_g_row(buffer.data(), cells, ncols, nodata, nodata_text);
          *end++ = '\n';
          line.assign(buffer.data(), end);
        } else {
          for (int col = 1; col <= ncols; ++col) {
            if (col > 1) line.push_back('\t');
            line += absent_value;
          }
          line.push_back('\n');
        }
      }
    }
    for (int row = first; row <= last; ++row) target.out->put(lines[static_cast<size_t>(row - first)]);
  };
  // Binary rows go out as they come; the statistics add the span cells in
  // row order, as one pass over the whole grid does.
  std::vector<double> absent_row(static_cast<size_t>(ncols) + 1, nodata);
  std::vector<unsigned char> bytes;
  auto put_binary_rows = [&](int first, int last) {
    for (int row = first; row <= last; ++row) {
      const double* cells = rows.row(row);
      if (cells == nullptr) cells = absent_row.data();
      bytes.clear();
      encode_values(cells + 1, static_cast<size_t>(ncols), format, bytes);
      if (std::fwrite(bytes.data(), 1, bytes.size(), target.file.get()) != bytes.size())
        fail_write(path, 18, errno);
      const row_strip span = span_of(strips, row);
      if (span.first < 1) continue;
      const double* weights = rel_cell_area != nullptr && holds_row(*rel_cell_area, row, ncols)
                                  ? (*rel_cell_area)[row]
                                  : nullptr;
      add_row_to_statistics(cells, weights, span.first, std::min(span.last, ncols));
    }
  };

  for (int first = 1; first <= nrows; first += band) {
    const int last = std::min(nrows, first + band - 1);
    rows.load(first, last);
    if (!writing || target.failure) continue;
    target.attempt([&] {
      for (int from = first; from <= last; from += TEXT_BATCH_ROWS) {
        const int to = std::min(last, from + TEXT_BATCH_ROWS - 1);
        if (as_text)
          put_text_rows(from, to);
        else
          put_binary_rows(from, to);
      }
    });
    if (target.failure) target.drop();
  }

  if (writing && !target.failure) {
    target.attempt([&] {
      if (as_text) {
        finish_text_file(*target.out, target.file, path, header);
        if (!target.pending->commit())
          fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
                     " for writing in text mode.");
        return;
      }
      get_statistics(header.count, header.minimum, header.maximum, header.sum, header.mean,
                     header.stddev);
      const auto all = header_values(header);
      bytes.clear();
      encode_values(all.data() + 6, 6, format, bytes);
      if (std::fseek(target.file.get(), static_cast<long>(6 * value_bytes(format)), SEEK_SET) != 0 ||
          std::fwrite(bytes.data(), 1, bytes.size(), target.file.get()) != bytes.size() ||
          std::fflush(target.file.get()) != 0)
        fail_write(path, 18, errno);
      file_header = header;
      if (std::fclose(target.file.release()) != 0)
        fail_fatal(*diag, 27, "error closing ", path, errno_text(errno));
      if (!target.pending->commit())
        fail_fatal(*diag, 26, "error creating ", path, errno_text(errno),
                   " for writing in binary mode.");
    });
  }
  target.finish();
}

void modelobject::blank_outside_span(double* cells, int row) const {
  if (strips == nullptr) return;
  const row_strip span = span_of(strips, row);
  for (int col = 1; col <= ncols; ++col)
    if (span.first < 1 || col < span.first || col > span.last) cells[col] = nodata;
}

void modelobject::write_grid_region(const std::string& file_name, grid_matrix& grid, bool as_text,
                                    bool double_precision) {
  // Cells outside each row's span become nodata in the caller's grid; a row
  // without a span entirely. An object without spans writes its grid as it is.
  if (strips != nullptr) {
    for (int row = 1; row <= nrows; ++row)
      if (holds_row(grid, row, ncols)) blank_outside_span(grid[row], row);
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
