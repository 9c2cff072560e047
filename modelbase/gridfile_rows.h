// Where the rows of a written grid or stack file come from: the grid itself, or a
// band of rows gathered at process 0 from the processes that own them. The
// writer asks for consecutive bands in row order, so that a source never
// needs to hold more than one band.
#pragma once

struct grid_row_source {
  virtual ~grid_row_source() = default;
  // Rows per band, at least 1.
  virtual int band_rows() const = 0;
  // Makes rows first..last available. Collective for a gathered source:
  // every process loads the same bands in the same order.
  virtual void load(int first, int last) = 0;
  // Row r of the band loaded last, columns 1..ncols; null for a row the grid
  // does not hold.
  virtual const double* row(int r) const = 0;
};

// The same for the rows of a stack: a row is its cells one after the other,
// each with its levels 0..levels (cell c from row(r) + c * (levels + 1)).
struct stack_row_source {
  virtual ~stack_row_source() = default;
  virtual int band_rows() const = 0;
  virtual void load(int first, int last) = 0;
  virtual const double* row(int r) const = 0;
};
