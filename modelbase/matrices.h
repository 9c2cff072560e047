// 2-D grids and 3-D stacks of doubles addressed by the global row and column
// numbers of the model grid, so that a process holding a band of rows still
// addresses a cell as m[row][col]. Rows outside the allocated band are null.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

// Rows of a grid are stored in chunks of consecutive rows (one allocation per
// chunk, rows back to back), by a rule that keeps every allocation below 2^31
// bytes. Returns the row count of each chunk for rows first..last of
// (last_col + 1) doubles. Requires (last_col + 1) * 8 + 24 <= MAX_CHUNK_BYTES.
std::vector<int> matrix_chunk_rows(int first_row, int last_row, int last_col);

constexpr double MAX_CHUNK_BYTES = 2147480000.0;  // [bytes] largest single allocation

// Smallest p with 2^p >= x, as a double (0 for x <= 1).
double halvings_of(double x);

// A block of rows. Blocks of at least HUGE_CHUNK_BYTES are mapped straight
// from the system on 2 MiB boundaries, marked for transparent huge pages and
// populated in one call: a grid's rows are all written, and taking the pages
// one fault at a time (4 KiB each) cost more than the work on them. Mapped
// memory starts zeroed, so such blocks are never zeroed again. Smaller zeroed
// blocks come from calloc, for the same reason.
struct chunk_release {
  size_t mapped_bytes = 0;  // length of the mapping; 0 for a block from malloc
  void operator()(double* block) const noexcept;
};
using grid_chunk = std::unique_ptr<double[], chunk_release>;
constexpr size_t HUGE_CHUNK_BYTES = size_t{2} << 20;  // [bytes] one huge page
// count doubles, zeroed or left as they are; throws std::bad_alloc.
grid_chunk allocate_chunk(size_t count, bool zeroed);

class grid_matrix {
 public:
  grid_matrix() = default;
  grid_matrix(grid_matrix&&) noexcept = default;
  grid_matrix& operator=(grid_matrix&&) noexcept = default;
  grid_matrix(const grid_matrix&) = delete;
  grid_matrix& operator=(const grid_matrix&) = delete;

  double* operator[](int row) const { return rows_[static_cast<size_t>(row)]; }
  bool empty() const { return rows_.empty(); }
  explicit operator bool() const { return !rows_.empty(); }
  int first_row() const { return first_row_; }
  int last_row() const { return last_row_; }
  int last_col() const { return last_col_; }
  // Number of row pointers (total rows + 1).
  int pointer_count() const { return static_cast<int>(rows_.size()); }
  const std::vector<int>& chunk_rows() const { return chunk_rows_; }
  // An independent copy with the same rows and values.
  grid_matrix clone() const;

 private:
  friend class memory_handling;
  std::vector<double*> rows_;
  std::vector<grid_chunk> chunks_;
  std::vector<int> chunk_rows_;
  int first_row_ = 0;
  int last_row_ = -1;
  int last_col_ = 0;
};

// Levels 0..levels per cell: s[row][col][level].
class stack_matrix {
 public:
  stack_matrix() = default;
  stack_matrix(stack_matrix&&) noexcept = default;
  stack_matrix& operator=(stack_matrix&&) noexcept = default;
  stack_matrix(const stack_matrix&) = delete;
  stack_matrix& operator=(const stack_matrix&) = delete;

  // Cell pointers of a row: [col] is the cell's first level, null outside the band.
  double* const* operator[](int row) const { return row_cells_[static_cast<size_t>(row)]; }
  bool empty() const { return row_cells_.empty(); }
  explicit operator bool() const { return !row_cells_.empty(); }
  int first_row() const { return first_row_; }
  int last_row() const { return last_row_; }
  int last_col() const { return last_col_; }
  int levels() const { return levels_; }
  int pointer_count() const { return static_cast<int>(row_cells_.size()); }

 private:
  friend class memory_handling;
  struct row_data {
    std::vector<double*> cells;
    std::unique_ptr<double[]> block;
  };
  std::vector<double* const*> row_cells_;
  std::vector<row_data> rows_;
  int first_row_ = 0;
  int last_row_ = -1;
  int last_col_ = 0;
  int levels_ = 0;
};
