// A model object over a small grid for the tests of the grid store, the
// division of the grid and the transfers: its geometry and division are set
// directly instead of by the settings object.
#pragma once

#include <mpi.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

class grid_object : public modelobject {
 public:
  grid_object(DiagStream& stream, grid_store& shared_store, int columns, int rows,
              double nodata_value = NODATA, double cell_size = 100.0)
      : modelobject(&stream, "") {
    name = "grid_object";
    ncols = columns;
    nrows = rows;
    first_row = 1;
    last_row = rows;
    nodata = nodata_value;
    cellsize = cell_size;
    set_grid_store(&shared_store);
  }

  void set_band(int first, int last) {
    first_row = first;
    last_row = last;
  }
  void set_division(const grid_matrix* regions, const grid_matrix* helper,
                    std::vector<row_strip>* spans, const std::vector<halo_run>* send,
                    const std::vector<halo_run>* receive) {
    mpi_regions = regions;
    mpi_helper = helper;
    strips = spans;
    halo_send = send;
    halo_receive = receive;
  }
  // The weights of the binary header statistics ("RelCellArea").
  void set_rel_cell_area(const grid_matrix* weights) { rel_cell_area = weights; }
  // Pretend to be process p of n (single-process tests of process-0 paths).
  void set_process(int p, int n) {
    rank = p;
    process_count = n;
  }
  int process_rank() const { return rank; }
  int processes() const { return process_count; }
  int band_first() const { return first_row; }
  int band_last() const { return last_row; }
};

// The integer thrown by f, or INT_MIN when it returns.
inline int thrown_code(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return INT_MIN;
}

// A grid given as text rows (row 1 first), one value per cell.
using grid_rows = std::vector<std::vector<double>>;

// Rows first..last of a grid of the rows' size, filled from the table.
inline grid_matrix make_grid(memory_handling& alloc, const grid_rows& values, int first, int last) {
  const int rows = static_cast<int>(values.size());
  const int cols = static_cast<int>(values.front().size());
  grid_matrix m = alloc.matrix(first, last, 1, cols, rows);
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= cols; ++c)
      m[r][c] = values[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
  return m;
}

// A scratch working directory shared by all processes (made by process 0,
// its name broadcast); the previous working directory comes back at the end.
class shared_workdir {
 public:
  shared_workdir() {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    char name[256] = {0};
    if (rank == 0) {
      std::string pattern = (std::filesystem::temp_directory_path() / "velmo_mpi_XXXXXX").string();
      if (mkdtemp(pattern.data()) != nullptr) pattern.copy(name, sizeof name - 1);
    }
    MPI_Bcast(name, sizeof name, MPI_CHAR, 0, MPI_COMM_WORLD);
    path_ = name;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~shared_workdir() {
    std::filesystem::current_path(previous_);
    MPI_Barrier(MPI_COMM_WORLD);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    std::error_code ignored;
    if (rank == 0) std::filesystem::remove_all(path_, ignored);
  }
  shared_workdir(const shared_workdir&) = delete;
  shared_workdir& operator=(const shared_workdir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::filesystem::path previous_;
};
