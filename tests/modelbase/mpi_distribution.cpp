// Transfers of grid rows on 1 to 4 processes over small divided zone grids:
// scatter and gather restore the grid exactly, the copies hold nodata outside
// the valid cells, the halo exchange fills exactly the neighbours' runs, zone
// sums do not depend on the process count, and the masked transfers move the
// masked cells only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/division_fixture.h"

namespace {

constexpr double N = NODATA;
constexpr double UNSET = -1.0;  // cells a process has no value for

// A value no other cell has.
double cell_value(int row, int col) { return row * 1000.0 + col + 0.5; }
double level_value(int row, int col, int level) { return cell_value(row, col) + level * 0.125; }

const std::vector<std::vector<std::string>> GRIDS = {
    // holes, nodata rows, a one-cell zone
    {"..........", "..1111....", "1111.22222", "..........", "3333333344", "5.......33"},
    // a single row
    {"1122..334455."},
    // full rectangle
    {"11111", "11111", "22222", "22222", "22222"},
    // two pieces of the same neighbour in a row, with a gap
    {"1111111111", "1........1", "1........1", "1111111111"},
};

// A grid over this process's band (all rows on process 0): value(row, col)
// on the cells for which keep(row, col) holds, other elsewhere.
template <class Keep, class Value>
grid_matrix filled(division_run& d, Keep keep, Value value, double other) {
  grid_matrix g = d.band_grid(other);
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int c = 1; c <= d.ncols; ++c)
      if (keep(r, c)) g[r][c] = value(r, c);
  return g;
}

TEST(TransfersMpi, ScatterThenGatherRestoresTheGrid) {
  for (const auto& text : GRIDS) {
    division_run d(zone_rows(text));
    ASSERT_EQ(d.code, 0);
    // Process 0 has read the whole grid; the others hold nothing yet.
    grid_matrix g = filled(
        d, [&](int, int) { return d.rank == 0; }, cell_value, UNSET);
    d.object.scatter_grid(0, &g);
    for (int r = d.band_first(); r <= d.band_last(); ++r)
      for (int c = 1; c <= d.ncols; ++c) {
        const bool has = d.rank == 0 || d.owner(r, c) == d.rank;
        EXPECT_EQ(g[r][c], has ? cell_value(r, c) : UNSET) << text[0] << " " << r << "," << c;
      }
    // Process 0 forgets the others' cells and gathers them back.
    if (d.rank == 0)
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c)
          if (d.owner(r, c) != 0) g[r][c] = -7;
    d.object.gather_grid(0, &g);
    if (d.rank == 0) {
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c)
          EXPECT_EQ(g[r][c], d.owner(r, c) >= 0 ? cell_value(r, c) : -7) << r << "," << c;
    }
  }
}

TEST(TransfersMpi, GatherCopyHoldsNodataOutsideTheValidCells) {
  for (const auto& text : GRIDS) {
    division_run d(zone_rows(text));
    ASSERT_EQ(d.code, 0);
    grid_matrix g = filled(
        d, [&](int r, int c) { return d.owner(r, c) == d.rank; }, cell_value, UNSET);
    const int index = d.store.first_free();
    d.object.register_grid(index, "v.asc", &g, nullptr, 0, "values", 0, d.band_first(),
                           d.band_last());
    const grid_matrix copy = d.object.gather_grid_copy(index);
    if (d.rank != 0) {
      EXPECT_TRUE(copy.empty());
      continue;
    }
    ASSERT_EQ(copy.first_row(), 1);
    ASSERT_EQ(copy.last_row(), d.nrows);
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        EXPECT_EQ(copy[r][c], d.owner(r, c) >= 0 ? cell_value(r, c) : N) << r << "," << c;
  }
}

TEST(TransfersMpi, StacksMoveAllLevels) {
  const int levels = 2;
  for (const auto& text : GRIDS) {
    division_run d(zone_rows(text));
    ASSERT_EQ(d.code, 0);
    stack_matrix s = d.band_stack(levels, UNSET);
    if (d.rank == 0)
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c)
          for (int l = 0; l <= levels; ++l) s[r][c][l] = level_value(r, c, l);
    const int index = d.store.first_free();
    d.object.register_grid(index, "s.stk", nullptr, &s, levels, "snowstack", 0, d.band_first(),
                           d.band_last());
    d.object.MPIScatterStack(index);
    for (int r = d.band_first(); r <= d.band_last(); ++r)
      for (int c = 1; c <= d.ncols; ++c)
        for (int l = 0; l <= levels; ++l) {
          const bool has = d.rank == 0 || d.owner(r, c) == d.rank;
          EXPECT_EQ(s[r][c][l], has ? level_value(r, c, l) : UNSET) << r << "," << c << "," << l;
        }
    // Back at process 0, in place and as a copy with nodata outside.
    if (d.rank == 0)
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c)
          if (d.owner(r, c) != 0)
            for (int l = 0; l <= levels; ++l) s[r][c][l] = -7;
    const stack_matrix copy = d.object.gather_stack_copy(index);
    d.object.gather_stack(index);
    if (d.rank != 0) {
      EXPECT_TRUE(copy.empty());
      continue;
    }
    if (d.size > 1) {
      EXPECT_NE(d.cap.console().find("re-distributing stack snowstack for mpi-rank 0"),
                std::string::npos);
      EXPECT_NE(d.cap.console().find("synchronising stack snowstack for mpi-rank 0"),
                std::string::npos);
    }
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c)
        for (int l = 0; l <= levels; ++l) {
          const bool valid = d.owner(r, c) >= 0;
          EXPECT_EQ(s[r][c][l], valid ? level_value(r, c, l) : -7) << r << "," << c << "," << l;
          EXPECT_EQ(copy[r][c][l], valid ? level_value(r, c, l) : N) << r << "," << c << "," << l;
        }
  }
}

// The value a cell of this process's band holds after the halo exchange when
// every process had its own cells only: a cell inside one of its receive
// runs comes from that run's process (which has values on its own cells
// only), every other cell is left as it was.
double after_exchange(const division_run& d, int r, int c, double own, double other_value) {
  if (d.owner(r, c) == d.rank) return own;
  for (const halo_run& run : d.receive)
    if (run.row == r && c >= run.first_col && c < run.first_col + run.count)
      return d.owner(r, c) == run.neighbour ? other_value : UNSET;
  return UNSET;
}

bool touches_own_cell(const division_run& d, int r, int c) {
  for (int dr = -1; dr <= 1; ++dr)
    for (int dc = -1; dc <= 1; ++dc) {
      const int rr = r + dr;
      const int cc = c + dc;
      if (rr >= d.band_first() && rr <= d.band_last() && cc >= 1 && cc <= d.ncols &&
          d.owner(rr, cc) == d.rank)
        return true;
    }
  return false;
}

TEST(TransfersMpi, HaloExchangeFillsExactlyTheNeighboursRuns) {
  for (const auto& text : GRIDS) {
    division_run d(zone_rows(text));
    ASSERT_EQ(d.code, 0);
    grid_matrix g = filled(
        d, [&](int r, int c) { return d.owner(r, c) == d.rank; }, cell_value, UNSET);
    stack_matrix s = d.band_stack(1, UNSET);
    for (int r = d.band_first(); r <= d.band_last(); ++r)
      for (int c = 1; c <= d.ncols; ++c)
        if (d.owner(r, c) == d.rank)
          for (int l = 0; l <= 1; ++l) s[r][c][l] = level_value(r, c, l);
    const int index = d.store.first_free();
    d.object.register_grid(index, "h.stk", &g, &s, 1, "halo_test", 0, d.band_first(),
                           d.band_last());
    d.object.exchange_halo(index);
    d.object.exchange_halo_stack(index);
    d.object.exchange_halo(-1, &g);  // a negative index does nothing
    for (int r = d.band_first(); r <= d.band_last(); ++r)
      for (int c = 1; c <= d.ncols; ++c) {
        const double v = cell_value(r, c);
        EXPECT_EQ(g[r][c], after_exchange(d, r, c, v, v)) << text[0] << " " << r << "," << c;
        for (int l = 0; l <= 1; ++l) {
          const double lv = level_value(r, c, l);
          EXPECT_EQ(s[r][c][l], after_exchange(d, r, c, lv, lv)) << r << "," << c << "," << l;
        }
        // Every other process's cell next to an own cell has arrived.
        if (d.owner(r, c) >= 0 && d.owner(r, c) != d.rank && touches_own_cell(d, r, c)) {
          EXPECT_EQ(g[r][c], v) << "halo cell " << r << "," << c;
        }
      }
  }
}

TEST(TransfersMpi, ZoneSumsDoNotDependOnTheProcessCount) {
  division_run d(zone_rows(GRIDS[0]));
  ASSERT_EQ(d.code, 0);
  const int last = d.zones.zone_count;
  // Per zone over own cells: count 1, sum row + col, weight 2 per cell.
  std::vector<zone_record> records(static_cast<size_t>(last) + 1);
  for (int k = 0; k <= last; ++k) records[static_cast<size_t>(k)] = {0, 0, 100.0 + k, k / 10.0, 0};
  // The zone of a cell: other processes know it only through the zone grid
  // of process 0, so every process derives it from the text.
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int c = 1; c <= d.ncols; ++c)
      if (d.owner(r, c) == d.rank) {
        const int code = GRIDS[0][static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)] - '0';
        zone_record& z =
            records[static_cast<size_t>(d.zones.code_to_index[static_cast<size_t>(code)])];
        z.count += 1;
        z.sum += r + c;
        z.weight += 2;
      }
  std::vector<zone_record> without_weight = records;
  d.object.reduce_zone_records(records.data(), last, 1);
  d.object.reduce_zone_records(without_weight.data(), last, 0);
  // Totals of the whole grid by hand: zone 1 has cells r2c3-6 and r3c1-4
  // (row + col: 5+6+7+8 + 4+5+6+7 = 48), zone 2 r3c6-10 (9..13: 55), zone 3
  // r5c1-8 and r6c9-10 (6..13: 76, + 15 + 16 = 107), zone 4 r5c9-10 (14 + 15
  // = 29), zone 5 r6c1 (7).
  const double cells[] = {0, 8, 5, 10, 2, 1};
  const double sums[] = {0, 48, 55, 107, 29, 7};
  ASSERT_EQ(last, 5);
  for (int k = 0; k <= last; ++k) {
    const zone_record& z = records[static_cast<size_t>(k)];
    EXPECT_EQ(z.count, d.rank == 0 ? cells[k] : 0) << k;
    EXPECT_EQ(z.sum, d.rank == 0 ? sums[k] : 0) << k;
    EXPECT_EQ(z.weight, d.rank == 0 ? 2 * cells[k] : 0) << k;
    EXPECT_EQ(z.code, 100.0 + k);
    EXPECT_EQ(z.share, k / 10.0);
    // Without the flag every process keeps its own weight sums.
    EXPECT_EQ(without_weight[static_cast<size_t>(k)].count, records[static_cast<size_t>(k)].count);
  }
  double own_weight = 0;
  for (const zone_record& z : without_weight) own_weight += z.weight;
  int64_t own_cells = 0;
  for (int r = d.band_first(); r <= d.band_last(); ++r)
    for (int c = 1; c <= d.ncols; ++c) own_cells += d.owner(r, c) == d.rank ? 1 : 0;
  EXPECT_EQ(own_weight, 2.0 * static_cast<double>(own_cells));

  // Record 5 with count rank + 1 on every process: 1 + 2 + ... + P at 0.
  std::vector<zone_record> small(6);
  small[5].count = d.rank + 1;
  d.object.reduce_zone_records(small.data(), 5, 0);
  EXPECT_EQ(small[5].count, d.rank == 0 ? d.size * (d.size + 1) / 2 : 0);

  // Process 0's sums to everyone; code and share stay each process's own.
  std::vector<zone_record> shared(4);
  for (int k = 0; k < 4; ++k)
    shared[static_cast<size_t>(k)] = d.rank == 0 ? zone_record{1.0 * k, 2.0 * k, 7, 8, 3.0 * k}
                                                 : zone_record{-1, -1, 50.0 + d.rank, 0.5, -1};
  d.object.broadcast_zone_records(shared.data(), 3);
  for (int k = 0; k < 4; ++k) {
    const zone_record& z = shared[static_cast<size_t>(k)];
    EXPECT_EQ(z.count, 1.0 * k);
    EXPECT_EQ(z.sum, 2.0 * k);
    EXPECT_EQ(z.weight, 3.0 * k);
    EXPECT_EQ(z.code, d.rank == 0 ? 7 : 50.0 + d.rank);
    EXPECT_EQ(z.share, d.rank == 0 ? 8 : 0.5);
  }
}

// Masked cells of a divided grid: the mask, its per-process counts (counted
// by process 0, which knows every owner) and the store indices.
struct masked_setup {
  masked_setup(division_run& run, bool only_process_0) : d(run) {
    // Every third valid cell in row order is masked; or only cells of 0.
    mask = d.band_grid(N);
    counts.assign(static_cast<size_t>(d.size), 0);
    std::vector<int> flags(static_cast<size_t>(d.nrows * d.ncols + 1), 0);
    if (d.rank == 0) {
      int k = 0;
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c) {
          if (d.owner(r, c) < 0) continue;
          const bool masked = only_process_0 ? d.owner(r, c) == 0 && k % 2 == 0 : k % 3 == 0;
          ++k;
          if (!masked) continue;
          flags[static_cast<size_t>((r - 1) * d.ncols + c)] = 1;
          ++counts[static_cast<size_t>(d.owner(r, c))];
        }
    }
    MPI_Bcast(flags.data(), static_cast<int>(flags.size()), MPI_INT, 0, MPI_COMM_WORLD);
    MPI_Bcast(counts.data(), d.size, MPI_INT64_T, 0, MPI_COMM_WORLD);
    for (int r = d.band_first(); r <= d.band_last(); ++r)
      for (int c = 1; c <= d.ncols; ++c)
        if (flags[static_cast<size_t>((r - 1) * d.ncols + c)]) mask[r][c] = 1;
    mask_index = d.store.first_free();
    d.object.register_grid(mask_index, "m.asc", &mask, nullptr, 0, "mask", 0, d.band_first(),
                           d.band_last());
  }
  bool masked(int r, int c) const { return mask[r][c] > N; }
  division_run& d;
  grid_matrix mask;
  std::vector<int64_t> counts;
  int mask_index = 0;
};

TEST(TransfersMpi, MaskedGatherAndScatter) {
  for (bool only_process_0 : {false, true}) {
    division_run d(zone_rows(GRIDS[0]));
    ASSERT_EQ(d.code, 0);
    masked_setup m(d, only_process_0);
    grid_matrix values = filled(
        d, [&](int r, int c) { return d.owner(r, c) == d.rank; }, cell_value, -7);
    const int values_index = d.store.first_free();
    d.object.register_grid(values_index, "q.asc", &values, nullptr, 0, "flows", 0, d.band_first(),
                           d.band_last());
    grid_matrix target = d.rank == 0 ? d.band_grid(-3) : grid_matrix();
    d.object.gather_masked(values_index, m.mask_index, m.counts, d.rank == 0 ? &target : nullptr);
    if (d.rank == 0) {
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c)
          EXPECT_EQ(target[r][c], m.masked(r, c) ? cell_value(r, c) : -3) << r << "," << c;
    }
    // Without a target the values grid of process 0 takes them.
    d.object.gather_masked(values_index, m.mask_index, m.counts);
    if (d.rank == 0)
      for (int r = 1; r <= d.nrows; ++r)
        for (int c = 1; c <= d.ncols; ++c) {
          const bool has = d.owner(r, c) == 0 || m.masked(r, c);
          EXPECT_EQ(values[r][c], has ? cell_value(r, c) : -7) << r << "," << c;
        }

    // Process 0 hands the masked values to their owners.
    grid_matrix back = filled(
        d, [&](int, int) { return d.rank == 0; }, cell_value, UNSET);
    const int back_index = d.store.first_free();
    d.object.register_grid(back_index, "b.asc", &back, nullptr, 0, "back", 0, d.band_first(),
                           d.band_last());
    d.object.scatter_masked(back_index, m.mask_index, m.counts);
    if (d.rank != 0)
      for (int r = d.band_first(); r <= d.band_last(); ++r)
        for (int c = 1; c <= d.ncols; ++c) {
          const bool has = d.owner(r, c) == d.rank && m.masked(r, c);
          EXPECT_EQ(back[r][c], has ? cell_value(r, c) : UNSET) << r << "," << c;
        }
  }
}

TEST(TransfersMpi, MaskedCountsThatDoNotMatchStopEveryProcess) {
  division_run d(zone_rows(GRIDS[0]));
  ASSERT_EQ(d.code, 0);
  if (d.size == 1) GTEST_SKIP() << "one process moves nothing";
  masked_setup m(d, false);
  grid_matrix values = d.band_grid(1);
  const int values_index = d.store.first_free();
  d.object.register_grid(values_index, "q.asc", &values, nullptr, 0, "flows", 0, d.band_first(),
                         d.band_last());
  std::vector<int64_t> wrong = m.counts;
  ++wrong.back();
  EXPECT_EQ(thrown_code([&] { d.object.gather_masked(values_index, m.mask_index, wrong); }), 122);
  EXPECT_EQ(thrown_code([&] { d.object.scatter_masked(values_index, m.mask_index, wrong); }), 122);
}

}  // namespace
