#include "modelbase/memhandling.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

#include <sys/mman.h>

#include "modelbase/diagstream.h"

double halvings_of(double x) {
  // No count of halvings brings infinity down to 1; halving it would never end.
  if (std::isinf(x)) return x > 0 ? x : 0.0;
  double n = 0;
  while (x > 1.0) {
    x *= 0.5;
    n += 1.0;
  }
  return n;
}

std::vector<int> matrix_chunk_rows(int first_row, int last_row, int last_col) {
  std::vector<int> chunks;
  if (last_row < first_row) return chunks;
  const double row_bytes = (static_cast<double>(last_col) + 1.0) * 8.0;
  // The requested rows plus one spare row.
  const double total = (static_cast<double>(last_row) - first_row + 2.0) * row_bytes;
  const double tenth = std::floor(total / 10.0);
  double remaining = total;
  int row = first_row;
  for (;;) {
    const double p = halvings_of(remaining + 24.0);
    const double power = std::ldexp(1.0, static_cast<int>(p));
    const double half = std::ldexp(1.0, static_cast<int>(p) - 1);
    if ((remaining <= tenth && power < MAX_CHUNK_BYTES) || row_bytes + 24.0 > half) {
      chunks.push_back(last_row - row + 1);
      break;
    }
    const double fit = std::floor(std::min(half - 24.0, MAX_CHUNK_BYTES) / row_bytes);
    const int k = std::max(1, static_cast<int>(fit));
    chunks.push_back(std::min(k, last_row - row + 1));
    remaining = (static_cast<double>(last_row) + 1.0 - row - k) * row_bytes;
    if (remaining <= 0) break;
    row += k;
  }
  return chunks;
}

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool ADDRESS_SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool ADDRESS_SANITIZED = true;
#else
constexpr bool ADDRESS_SANITIZED = false;
#endif
#else
constexpr bool ADDRESS_SANITIZED = false;
#endif

// Mapped blocks given back stay with the process for the next block of about
// their size: fresh pages are zeroed by the system and, on a virtual machine,
// may first have to be fetched from the host, which costs far more than
// reusing pages this process already holds. The store is emptied before any
// new mapping, and a held block serves only a block of at least about four
// fifths of its size, so the process holds hardly more than without it.
class mapped_block_store {
 public:
  // A held block of at least bytes and not much more, or null.
  std::pair<void*, size_t> take(size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = blocks_.lower_bound(bytes);
    if (it == blocks_.end() || it->first > bytes + bytes / 4 + HUGE_CHUNK_BYTES) return {};
    const std::pair<void*, size_t> block{it->second, it->first};
    blocks_.erase(it);
    return block;
  }
  void keep(void* block, size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    blocks_.emplace(bytes, block);
  }
  // Returns every held block to the system.
  void release_all() {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [bytes, block] : blocks_) ::munmap(block, bytes);
    blocks_.clear();
  }

 private:
  std::mutex lock_;
  std::multimap<size_t, void*> blocks_;
};

mapped_block_store& mapped_blocks() {
  // Never destroyed: blocks may be given back while statics are torn down.
  static auto* store = new mapped_block_store;
  return *store;
}

// Maps bytes rounded up to whole huge pages at a huge-page boundary, or
// returns null where the system refuses the mapping.
double* map_huge_chunk(size_t bytes, size_t& mapped, bool zeroed) {
  mapped = (bytes + HUGE_CHUNK_BYTES - 1) / HUGE_CHUNK_BYTES * HUGE_CHUNK_BYTES;
  if (auto [held, held_bytes] = mapped_blocks().take(mapped); held != nullptr) {
    mapped = held_bytes;
    if (zeroed) std::memset(held, 0, bytes);
    return static_cast<double*>(held);
  }
  mapped_blocks().release_all();
  const size_t span = mapped + HUGE_CHUNK_BYTES;
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + HUGE_CHUNK_BYTES - 1) & ~(HUGE_CHUNK_BYTES - 1);
  const size_t head = aligned - start;
  if (head > 0) ::munmap(raw, head);
  const size_t tail = span - head - mapped;
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + mapped), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // Both are hints: where the system has no huge pages or cannot populate
  // ahead, the pages come one fault at a time as before.
#ifdef MADV_HUGEPAGE
  ::madvise(block, mapped, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
  ::madvise(block, mapped, MADV_POPULATE_WRITE);
#endif
  return static_cast<double*>(block);
}

}  // namespace

void chunk_release::operator()(double* block) const noexcept {
  if (mapped_bytes > 0)
    mapped_blocks().keep(block, mapped_bytes);
  else
    std::free(block);
}

grid_chunk allocate_chunk(size_t count, bool zeroed) {
  const size_t bytes = std::max<size_t>(count, 1) * sizeof(double);
  // Under AddressSanitizer every block comes from malloc, so that a read of
  // a released grid is still caught.
  if (bytes >= HUGE_CHUNK_BYTES && !ADDRESS_SANITIZED) {
    size_t mapped = 0;
    if (double* block = map_huge_chunk(bytes, mapped, zeroed)) return grid_chunk(block, chunk_release{mapped});
  }
  void* block = zeroed ? std::calloc(std::max<size_t>(count, 1), sizeof(double))
                       : std::malloc(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return grid_chunk(static_cast<double*>(block));
}

grid_matrix grid_matrix::clone() const {
  grid_matrix copy;
  copy.first_row_ = first_row_;
  copy.last_row_ = last_row_;
  copy.last_col_ = last_col_;
  copy.chunk_rows_ = chunk_rows_;
  copy.rows_.assign(rows_.size(), nullptr);
  const size_t row_len = static_cast<size_t>(last_col_) + 1;
  int row = first_row_;
  for (int k : chunk_rows_) {
    // Every value is copied below.
    grid_chunk chunk = allocate_chunk(static_cast<size_t>(k) * row_len, false);
    for (int i = 0; i < k; ++i) {
      double* dst = chunk.get() + static_cast<size_t>(i) * row_len;
      std::copy(rows_[static_cast<size_t>(row + i)], rows_[static_cast<size_t>(row + i)] + row_len,
                dst);
      copy.rows_[static_cast<size_t>(row + i)] = dst;
    }
    copy.chunks_.push_back(std::move(chunk));
    row += k;
  }
  return copy;
}

double memory_handling::count_halvings(double x) { return halvings_of(x); }

void memory_handling::fail_allocation(int code) {
  fail_fatal(*diag, 81, "memory allocation error in ", name, " (", code, ")");
}

std::vector<std::byte> memory_handling::checked_calloc(int size, unsigned code) {
  std::vector<std::byte> block;
  try {
    block.resize(static_cast<size_t>(std::max(size, 0)));
  } catch (const std::bad_alloc&) {
    fail_allocation(static_cast<int>(code));
  }
  return block;
}

grid_matrix memory_handling::matrix(int first_row, int last_row, int /*first_col*/, int last_col,
                                    int total_rows) {
  if ((static_cast<double>(last_col) + 1.0) * 8.0 + 24.0 > MAX_CHUNK_BYTES)
    fail_fatal(*diag, 1, "too long matrix rows");
  assert(first_row >= 0);
  // A total smaller than the last row would leave rows without a pointer slot.
  const int n = std::max(total_rows <= 0 ? last_row : total_rows, last_row);
  grid_matrix m;
  m.first_row_ = first_row;
  m.last_row_ = last_row;
  m.last_col_ = last_col;
  try {
    m.rows_.assign(static_cast<size_t>(std::max(n, 0)) + 1, nullptr);
  } catch (const std::exception&) {
    fail_fatal(*diag, 1, "memory allocation error 1 in matrix()");
  }
  const size_t row_len = static_cast<size_t>(last_col) + 1;
  m.chunk_rows_ = matrix_chunk_rows(first_row, last_row, last_col);
  int row = first_row;
  for (int k : m.chunk_rows_) {
    grid_chunk chunk;
    try {
      chunk = allocate_chunk(static_cast<size_t>(k) * row_len, !skip_zero_fill);
    } catch (const std::bad_alloc&) {
      fail_fatal(*diag, 1, "memory allocation error 2 in matrix()");
    }
    for (int i = 0; i < k; ++i)
      m.rows_[static_cast<size_t>(row + i)] = chunk.get() + static_cast<size_t>(i) * row_len;
    m.chunks_.push_back(std::move(chunk));
    row += k;
  }
  return m;
}

grid_matrix memory_handling::matrix_for_overwrite(int first_row, int last_row, int first_col,
                                                 int last_col, int total_rows) {
  skip_zero_fill = true;
  grid_matrix m;
  try {
    m = matrix(first_row, last_row, first_col, last_col, total_rows);
  } catch (...) {
    skip_zero_fill = false;
    throw;
  }
  skip_zero_fill = false;
  // Column 0 lies outside the grid and is written by no caller.
  for (int row = first_row; row <= last_row; ++row) m[row][0] = 0.0;
  return m;
}

void memory_handling::free_matrix(grid_matrix& m, int /*first_row*/, int /*last_row*/,
                                  int /*first_col*/, int last_col) {
  if (m.empty()) return;
  if ((static_cast<double>(last_col) + 1.0) * 8.0 + 24.0 > MAX_CHUNK_BYTES)
    fail_fatal(*diag, 1, "too long matrix rows");
  m = grid_matrix();
}

stack_matrix memory_handling::matrix_3d(int first_row, int last_row, int first_col, int last_col,
                                        int levels, int total_rows) {
  assert(first_row >= 0);
  const int n = std::max(total_rows <= 0 ? last_row : total_rows, last_row);
  stack_matrix s;
  s.first_row_ = first_row;
  s.last_row_ = last_row;
  s.last_col_ = last_col;
  s.levels_ = levels;
  try {
    s.row_cells_.assign(static_cast<size_t>(std::max(n, 0)) + 1, nullptr);
    s.rows_.reserve(static_cast<size_t>(std::max(last_row - first_row + 1, 0)));
  } catch (const std::exception&) {
    fail_fatal(*diag, 1, "memory allocation error (1) in 3_d_matrix()");
  }
  const size_t row_len = static_cast<size_t>(last_col) + 1;
  const size_t depth = static_cast<size_t>(levels) + 1;
  for (int r = first_row; r <= last_row; ++r) {
    stack_matrix::row_data row;
    try {
      row.cells.assign(row_len, nullptr);
    } catch (const std::exception&) {
      fail_fatal(*diag, 1, "memory allocation error (2) in 3_d_matrix()");
    }
    try {
      row.block = std::make_unique<double[]>(row_len * depth);
    } catch (const std::exception&) {
      fail_fatal(*diag, 1, "memory allocation error (3) in 3_d_matrix()");
    }
    row.cells[0] = row.block.get();
    for (int c = std::max(first_col, 1); c <= last_col; ++c)
      row.cells[static_cast<size_t>(c)] = row.block.get() + static_cast<size_t>(c) * depth;
    s.rows_.push_back(std::move(row));
    s.row_cells_[static_cast<size_t>(r)] = s.rows_.back().cells.data();
  }
  return s;
}

void memory_handling::free_matrix_3d(stack_matrix& m, int /*first_row*/, int /*last_row*/) {
  if (m.empty()) return;
  m = stack_matrix();
}
