// The division of a small zone grid among the processes of the test run, as
// the settings object makes it: process 0 holds the zone grid as store entry
// 1, every process reads its speed from "MpiSpeedFactor.dat" in a scratch
// working directory, then the grid is divided and the zones are ranked. The
// object afterwards holds its band (own rows and halo rows) and the division.
#pragma once

#include <mpi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "settings/mpidivision.h"
#include "settings/zonetable.h"
#include "support/test_support.h"



// The speed files: one text in the shared directory, or one text per process
// (process p takes entry p modulo the count) in a directory of its own.
struct speed_files {
  std::vector<std::string> texts = {"1"};
  bool per_process = false;
};

struct division_run {
  explicit division_run(const grid_rows& zone_values, const speed_files& speeds = {},
                        double nodata_value = NODATA, int preset_entries = 0)
      : rank(world_rank()),
        size(world_size()),
        ncols(static_cast<int>(zone_values.front().size())),
        nrows(static_cast<int>(zone_values.size())),
        nodata(nodata_value),
        cap(4, world_rank(), world_size()),
        object(*cap.diag, store, ncols, nrows, nodata_value, 100.0) {
    if (rank == 0) {
      zone = make_grid(object, zone_values, 1, nrows);
      object.register_grid(1, "zones.asc", &zone, nullptr, 0, "zonegrid", 0, 1, nrows);
    }
    // Entries taken before the division, so that the first free one is
    // preset_entries + 1 on every process.
    for (int i = rank == 0 ? 2 : 1; i <= preset_entries; ++i)
      object.register_grid(i, "preset", nullptr, nullptr, 0, "preset" + std::to_string(i), 0, 1, 1);
    {
      shared_workdir dir;
      std::filesystem::path here = dir.path();
      if (speeds.per_process) {
        here /= "p" + std::to_string(rank);
        std::filesystem::create_directory(here);
        std::ofstream(here / SPEED_FILE_NAME)
            << speeds.texts[static_cast<size_t>(rank) % speeds.texts.size()];
      } else if (rank == 0) {
        std::ofstream(here / SPEED_FILE_NAME) << speeds.texts.front();
      }
      MPI_Barrier(MPI_COMM_WORLD);
      std::filesystem::current_path(here);
      try {
        division.create_mpi_regions(object, ncols, nrows, nodata, cells, send, receive, own_first,
                                    own_last);
      } catch (int thrown) {
        code = thrown;
      }
    }
    if (code != 0) return;
    try {
      zones.rank_zone_grid(object, store, nullptr, ncols, nrows, nodata, 100.0, own_first,
                           own_last);
    } catch (int thrown) {
      code = thrown;
      return;
    }
    object.set_band(rank == 0 ? 1 : division.held_first_row(),
                    rank == 0 ? nrows : division.held_last_row());
    object.set_division(&division.regions, &division.helper, &zones.strips, &send, &receive);
  }
  division_run(const division_run&) = delete;
  division_run& operator=(const division_run&) = delete;

  // The rows this process holds of every distributed grid.
  int band_first() const { return object.band_first(); }
  int band_last() const { return object.band_last(); }
  // A grid over this process's band, every cell set to value.
  grid_matrix band_grid(double value) {
    grid_matrix g = object.matrix(band_first(), band_last(), 1, ncols, nrows);
    for (int r = band_first(); r <= band_last(); ++r)
      for (int c = 0; c <= ncols; ++c) g[r][c] = value;
    return g;
  }
  stack_matrix band_stack(int levels, double value) {
    stack_matrix s = object.matrix_3d(band_first(), band_last(), 1, ncols, levels, nrows);
    for (int r = band_first(); r <= band_last(); ++r)
      for (int c = 1; c <= ncols; ++c)
        for (int l = 0; l <= levels; ++l) s[r][c][l] = value;
    return s;
  }
  // The owner of a cell as this process sees it (-1 for nodata).
  int owner(int row, int col) const {
    const double v = division.regions[row][col];
    return v == nodata ? -1 : static_cast<int>(v);
  }

  int rank;
  int size;
  int ncols;
  int nrows;
  double nodata;
  captured_diag cap;
  grid_store store;
  grid_object object;
  grid_matrix zone;  // whole zone grid on process 0
  mpi_division division;
  zone_table zones;
  std::vector<int64_t> cells;
  std::vector<halo_run> send;
  std::vector<halo_run> receive;
  int own_first = 0;
  int own_last = 0;
  int code = 0;  // the integer the set-up threw, 0 when it went through
};

// A zone grid from rows of text: '.' is nodata, a digit is that zone code.
inline grid_rows zone_rows(const std::vector<std::string>& text) {
  grid_rows rows;
  for (const std::string& line : text) {
    std::vector<double> row;
    for (char ch : line) row.push_back(ch == '.' ? NODATA : static_cast<double>(ch - '0'));
    rows.push_back(row);
  }
  return rows;
}
