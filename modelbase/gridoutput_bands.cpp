// Written grids (and text stacks) of a divided grid, gathered at process 0 a
// band of rows at a time: one buffer of a few MiB is filled with the band's own cells and the
// runs the owners send, written, and filled again with the next band. The
// file is the one a whole gathered copy gives, byte for byte: the rows reach
// the writer in the same order, and so do the cells the binary statistics
// add up.
#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/distribution.h"
#include "modelbase/gridfile_rows.h"
#include "modelbase/modelobject.h"

namespace {

constexpr size_t BAND_BYTES = size_t{4} << 20;  // the default band's buffer

// Rows of row_values numbers each that fill the default band.
int default_band_rows(size_t row_values) {
  return static_cast<int>(std::max<size_t>(1, BAND_BYTES / (row_values * sizeof(double))));
}

// The band of rows process 0 writes: gathered from the owners when the grid
// is divided, otherwise the rows process 0 holds (a row it does not hold is
// absent, as in a copy of the grid). A region write blanks the cells outside
// the spans in the band, never in the grid.
class gathered_rows final : public grid_row_source {
 public:
  gathered_rows(std::function<void(double*, int)> blank, const distribution_view& v,
                const grid_matrix& grid, int band_rows, bool region_output)
      : blank_(std::move(blank)),
        view_(v),
        grid_(grid),
        band_rows_(band_rows),
        region_(region_output),
        stride_(static_cast<size_t>(v.ncols) + 1) {
    if (v.rank == 0) {
      const size_t rows = static_cast<size_t>(std::min(band_rows, std::max(v.nrows, 1)));
      band_ = std::make_unique_for_overwrite<double[]>(rows * stride_);
      present_.assign(rows, 1);
    }
  }
  int band_rows() const override { return band_rows_; }

  void load(int first, int last) override {
    first_ = first;
    if (view_.regions != nullptr) {
      distribution::gather_band_copy(view_, grid_, first, last, band_.get());
    } else if (view_.rank == 0) {
      for (int row = first; row <= last; ++row) {
        const bool held =
            row < grid_.pointer_count() && grid_[row] != nullptr && grid_.last_col() >= view_.ncols;
        present_[static_cast<size_t>(row - first)] = held ? 1 : 0;
        if (held) std::copy(grid_[row], grid_[row] + stride_, band_row(row));
      }
    }
    if (view_.rank != 0 || !region_) return;
    for (int row = first; row <= last; ++row)
      if (present_[static_cast<size_t>(row - first)] != 0) blank_(band_row(row), row);
  }

  const double* row(int r) const override {
    return present_[static_cast<size_t>(r - first_)] != 0 ? band_row(r) : nullptr;
  }

 private:
  double* band_row(int r) const { return band_.get() + static_cast<size_t>(r - first_) * stride_; }

  std::function<void(double*, int)> blank_;  // a region's blanking of one row
  distribution_view view_;
  const grid_matrix& grid_;
  int band_rows_;
  bool region_;
  size_t stride_;
  std::unique_ptr<double[]> band_;
  std::vector<char> present_;
  int first_ = 1;
};

// The band of stack rows process 0 writes, gathered from the owners.
class gathered_stack_rows final : public stack_row_source {
 public:
  gathered_stack_rows(const distribution_view& v, const stack_matrix& stack, int levels,
                      int band_rows)
      : view_(v),
        stack_(stack),
        levels_(levels),
        band_rows_(band_rows),
        stride_((static_cast<size_t>(v.ncols) + 1) * (static_cast<size_t>(levels) + 1)) {
    if (v.rank == 0) {
      const size_t rows = static_cast<size_t>(std::min(band_rows, std::max(v.nrows, 1)));
      band_ = std::make_unique_for_overwrite<double[]>(rows * stride_);
    }
  }
  int band_rows() const override { return band_rows_; }
  void load(int first, int last) override {
    first_ = first;
    distribution::gather_stack_band_copy(view_, stack_, levels_, first, last, band_.get());
  }
  const double* row(int r) const override {
    return band_.get() + static_cast<size_t>(r - first_) * stride_;
  }

 private:
  distribution_view view_;
  const stack_matrix& stack_;
  int levels_;
  int band_rows_;
  size_t stride_;
  std::unique_ptr<double[]> band_;
  int first_ = 1;
};

// Loads every band of a source, as the processes that only send do.
template <class Source>
void take_bands(Source& rows, int nrows) {
  for (int first = 1; first <= nrows; first += rows.band_rows())
    rows.load(first, std::min(nrows, first + rows.band_rows() - 1));
}

// Process 0 writes each file by write(file); the others only send their
// runs. After a failed file the later files are not written, but their
// bands are still taken; the failure is thrown at the end.
template <class Source, class Write>
void write_files(int rank, const std::vector<std::string>& file_names, Source& rows, int nrows,
                 Write write) {
  if (rank != 0) {
    for (size_t k = 0; k < file_names.size(); ++k) take_bands(rows, nrows);
    return;
  }
  std::exception_ptr failure;
  for (const std::string& file : file_names) {
    if (failure) {
      take_bands(rows, nrows);
      continue;
    }
    try {
      write(file);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void modelobject::write_gathered_grid(const std::vector<std::string>& file_names,
                                      const grid_matrix& grid, bool as_text, bool double_precision,
                                      bool region_output, int band_rows) {
  const distribution_view v = division_view();
  // Without a division process 0 holds every cell itself; nobody sends.
  if (v.regions == nullptr && rank != 0) return;
  gathered_rows rows([this](double* cells, int row) { blank_outside_span(cells, row); }, v, grid,
                     band_rows > 0 ? band_rows : default_band_rows(static_cast<size_t>(ncols) + 1),
                     region_output);
  write_files(rank, file_names, rows, nrows, [&](const std::string& file) {
    write_grid_rows(file, rows, as_text, double_precision, region_output);
  });
}

void modelobject::write_gathered_text_stack(const std::vector<std::string>& file_names,
                                            const stack_matrix& stack, int levels,
                                            const std::string& grid_name, int band_rows) {
  const distribution_view v = division_view();
  if (v.regions == nullptr) {
    // Without a division process 0 holds every cell itself.
    if (rank == 0)
      for (const std::string& file : file_names) write_stack(file, stack, levels, true, false);
    return;
  }
  if (v.distributed()) diag_entry(*diag, "synchronising stack ", grid_name, " for mpi-rank ", rank);
  const size_t row_values = (static_cast<size_t>(ncols) + 1) * (static_cast<size_t>(levels) + 1);
  gathered_stack_rows rows(v, stack, levels,
                           band_rows > 0 ? band_rows : default_band_rows(row_values));
  write_files(rank, file_names, rows, nrows,
              [&](const std::string& file) { write_text_stack_rows(file, levels, rows); });
}
