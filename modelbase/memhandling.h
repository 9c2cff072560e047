// Root base of every model object and of the application: allocation of grids
// and stacks, zeroed blocks that report their own failure, and the common
// report of a failed allocation.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "modelbase/matrices.h"

class DiagStream;

class memory_handling {
 public:
  memory_handling() = default;
  virtual ~memory_handling() = default;
  memory_handling(const memory_handling&) = delete;
  memory_handling& operator=(const memory_handling&) = delete;

  // Rows first..last, columns 0..last_col of each row, levels 0..levels per
  // cell; total_rows <= 0 means last_row.
  virtual stack_matrix matrix_3d(int first_row, int last_row, int first_col, int last_col,
                                 int levels, int total_rows);
  virtual void free_matrix_3d(stack_matrix& m, int first_row, int last_row);
  virtual grid_matrix matrix(int first_row, int last_row, int first_col, int last_col,
                             int total_rows);
  // As matrix, for a caller that writes columns 1..last_col of every row
  // first..last itself before reading any: those cells are not zeroed first.
  grid_matrix matrix_for_overwrite(int first_row, int last_row, int first_col, int last_col,
                                   int total_rows);
  virtual void free_matrix(grid_matrix& m, int first_row, int last_row, int first_col,
                           int last_col);
  virtual std::vector<std::byte> checked_calloc(int size, unsigned code);
  [[noreturn]] virtual void fail_allocation(int code);
  virtual double count_halvings(double x);

  // A zeroed array of n values; a failed allocation is reported as by
  // checked_calloc.
  template <class T>
  std::vector<T> checked_array(size_t n, unsigned code) {
    std::vector<T> block;
    try {
      block.resize(n);
    } catch (const std::bad_alloc&) {
      fail_allocation(static_cast<int>(code));
    } catch (const std::length_error&) {
      fail_allocation(static_cast<int>(code));
    }
    return block;
  }

  DiagStream& diagnostics() const { return *diag; }
  const std::string& object_name() const { return name; }
  int initialized() const { return initialized_flag; }

 protected:
  int initialized_flag = 0;
  bool skip_zero_fill = false;  // set by matrix_for_overwrite around matrix
  DiagStream* diag = nullptr;
  std::string name;
};
