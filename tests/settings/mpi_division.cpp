// The division of small zone grids among 1 to 4 processes: quotas and rows by
// hand per process count, the content of "MPIRegions" and "MPIHelper", the
// halo lists, the speed files and the failures that stop every process.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "settings/division_fixture.h"

namespace {

constexpr double N = NODATA;

// Holes, nodata rows and a one-cell zone; 26 valid cells in row order:
// row 2: 4, row 3: 9, row 5: 10, row 6: 3.
const std::vector<std::string> HOLES = {
    "..........",  //
    "..1111....",  //
    "1111.22222",  //
    "..........",  //
    "3333333344",  //
    "5.......33",  //
};

// One row of 13 cells, 10 valid, with a gap and a trailing nodata cell.
const std::vector<std::string> SINGLE_ROW = {"1122..334455."};

// All processes' halo runs of one list, gathered to every process as
// {owner of the list, row, first column, count, neighbour}.
std::vector<std::array<int, 5>> all_runs(const std::vector<halo_run>& list) {
  std::vector<int> mine;
  for (const halo_run& r : list)
    mine.insert(mine.end(), {world_rank(), r.row, r.first_col, r.count, r.neighbour});
  const int n = static_cast<int>(mine.size());
  std::vector<int> sizes(static_cast<size_t>(world_size()));
  MPI_Allgather(&n, 1, MPI_INT, sizes.data(), 1, MPI_INT, MPI_COMM_WORLD);
  std::vector<int> offsets(sizes.size(), 0);
  for (size_t p = 1; p < sizes.size(); ++p) offsets[p] = offsets[p - 1] + sizes[p - 1];
  std::vector<int> all(static_cast<size_t>(offsets.back() + sizes.back()));
  MPI_Allgatherv(mine.data(), n, MPI_INT, all.data(), sizes.data(), offsets.data(), MPI_INT,
                 MPI_COMM_WORLD);
  std::vector<std::array<int, 5>> runs;
  for (size_t k = 0; k + 5 <= all.size(); k += 5)
    runs.push_back({all[k], all[k + 1], all[k + 2], all[k + 3], all[k + 4]});
  return runs;
}

int occurrences(const std::string& text, const std::string& piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

struct split_row {
  int processes;
  std::vector<int64_t> cells;  // per process
  std::vector<int> first_rows;
  std::vector<int> last_rows;
};

TEST(DivisionMpi, HolesGridSplitsByRowOrder) {
  // Quotas floor(26 / P + 0.4999), the last process the rest; the cells go
  // in row order from the highest process (cell numbers above).
  const split_row table[] = {
      {1, {26}, {2}, {6}},
      {2, {13, 13}, {5, 2}, {6, 3}},                  // p1: cells 1-13
      {3, {9, 9, 8}, {5, 3, 2}, {6, 5, 3}},           // p2: 1-8, p1: 9-17, p0: 18-26
      {4, {6, 6, 6, 8}, {5, 5, 3, 2}, {6, 5, 5, 3}},  // p3: 1-8, p2: 9-14, p1: 15-20, p0: 21-26
  };
  division_run d(zone_rows(HOLES));
  ASSERT_EQ(d.code, 0);
  const split_row& want = table[d.size - 1];
  EXPECT_EQ(d.cells, want.cells);
  EXPECT_EQ(d.own_first, want.first_rows[static_cast<size_t>(d.rank)]);
  EXPECT_EQ(d.own_last, want.last_rows[static_cast<size_t>(d.rank)]);
  if (d.size == 1) {
    EXPECT_TRUE(d.send.empty());
    EXPECT_TRUE(d.receive.empty());
  }

  if (d.rank == 0) {
    // Every valid cell has an owner, owners never rise along the row order,
    // and the owners' cells add up to the counts.
    std::vector<int64_t> counted(static_cast<size_t>(d.size), 0);
    int previous = d.size - 1;
    for (int r = 1; r <= d.nrows; ++r)
      for (int c = 1; c <= d.ncols; ++c) {
        const bool valid = d.zone[r][c] > N;
        ASSERT_EQ(d.owner(r, c) >= 0, valid) << r << "," << c;
        if (!valid) continue;
        EXPECT_LE(d.owner(r, c), previous);
        previous = d.owner(r, c);
        ++counted[static_cast<size_t>(previous)];
      }
    EXPECT_EQ(counted, want.cells);
  }
}

TEST(DivisionMpi, HelperRowsDescribeTheRegions) {
  division_run d(zone_rows(HOLES));
  ASSERT_EQ(d.code, 0);
  for (int r = d.rank == 0 ? 1 : d.own_first; r <= (d.rank == 0 ? d.nrows : d.own_last); ++r) {
    const double* h = d.division.helper[r];
    std::vector<double> decoded(static_cast<size_t>(d.ncols) + 1, N);
    if (d.rank == 0) {
      // Leading nodata cells, then (owner or nodata, count) pairs.
      int col = static_cast<int>(h[0]) + 1;
      for (int pos = 1; pos + 1 <= d.ncols && h[pos + 1] >= 1; pos += 2)
        for (int k = 0; k < static_cast<int>(h[pos + 1]); ++k)
          decoded[static_cast<size_t>(col++)] = h[pos];
      for (int c = 1; c <= d.ncols; ++c)
        EXPECT_EQ(decoded[static_cast<size_t>(c)], d.division.regions[r][c]) << r << "," << c;
    } else {
      // (first column, count) pairs of own cells.
      for (int pos = 1; pos + 1 <= d.ncols && h[pos] >= 1; pos += 2)
        for (int k = 0; k < static_cast<int>(h[pos + 1]); ++k)
          decoded[static_cast<size_t>(h[pos]) + static_cast<size_t>(k)] = d.rank;
      for (int c = 1; c <= d.ncols; ++c)
        EXPECT_EQ(decoded[static_cast<size_t>(c)] == d.rank, d.owner(r, c) == d.rank)
            << r << "," << c;
    }
  }
}

TEST(DivisionMpi, SendListsMirrorTheNeighboursReceiveLists) {
  division_run d(zone_rows(HOLES));
  ASSERT_EQ(d.code, 0);
  const auto sends = all_runs(d.send);
  const auto receives = all_runs(d.receive);
  // Process p's receive runs from q, in order, are q's send runs to p.
  for (int p = 0; p < d.size; ++p)
    for (int q = 0; q < d.size; ++q) {
      std::vector<std::array<int, 3>> wanted, sent;
      for (const auto& r : receives)
        if (r[0] == p && r[4] == q) wanted.push_back({r[1], r[2], r[3]});
      for (const auto& r : sends)
        if (r[0] == q && r[4] == p) sent.push_back({r[1], r[2], r[3]});
      EXPECT_EQ(wanted, sent) << p << " from " << q;
      if (p == q) { EXPECT_TRUE(wanted.empty()) << p; }
    }
}

struct single_row_case {
  std::vector<double> owners;                  // columns 1..13
  std::vector<double> helper0;                 // process 0's helper row, positions 0..13
  std::vector<std::vector<double>> own_pairs;  // per process > 0: (first column, count) ...
};

TEST(DivisionMpi, SingleRowOwnersAndRuns) {
  // 10 valid cells at columns 1-4 and 7-12. Quotas floor(10 / P + 0.4999)
  // for p0 .. p(P-2), the rest for the last process, which is dealt first:
  // P2 5, 5 (p1: c1-4, c7); P3 3, 3, 4 (p2: c1-4, p1: c7-9); P4 2, 2, 2, 4
  // (p3: c1-4, p2: c7-8, p1: c9-10).
  const single_row_case table[] = {
      {{0, 0, 0, 0, N, N, 0, 0, 0, 0, 0, 0, N}, {0, 0, 4, N, 2, 0, 6, N, 1, 0, 0, 0, 0, 0}, {}},
      {{1, 1, 1, 1, N, N, 1, 0, 0, 0, 0, 0, N},
       {0, 1, 4, N, 2, 1, 1, 0, 5, N, 1, 0, 0, 0},
       {{1, 4, 7, 1}}},
      {{2, 2, 2, 2, N, N, 1, 1, 1, 0, 0, 0, N},
       {0, 2, 4, N, 2, 1, 3, 0, 3, N, 1, 0, 0, 0},
       {{7, 3}, {1, 4}}},
      {{3, 3, 3, 3, N, N, 2, 2, 1, 1, 0, 0, N},
       {0, 3, 4, N, 2, 2, 2, 1, 2, 0, 2, N, 1, 0},
       {{9, 2}, {7, 2}, {1, 4}}},
  };
  division_run d(zone_rows(SINGLE_ROW));
  ASSERT_EQ(d.code, 0);
  const single_row_case& want = table[d.size - 1];
  for (int c = 1; c <= 13; ++c)
    EXPECT_EQ(d.division.regions[1][c], want.owners[static_cast<size_t>(c - 1)]) << c;
  if (d.rank == 0) {
    for (int pos = 0; pos <= 13; ++pos)
      EXPECT_EQ(d.division.helper[1][pos], want.helper0[static_cast<size_t>(pos)]) << pos;
  } else {
    const std::vector<double>& pairs = want.own_pairs[static_cast<size_t>(d.rank - 1)];
    for (int pos = 1; pos <= 13; ++pos) {
      const double expected =
          pos <= static_cast<int>(pairs.size()) ? pairs[static_cast<size_t>(pos - 1)] : 0;
      EXPECT_EQ(d.division.helper[1][pos], expected) << pos;
    }
  }
  EXPECT_EQ(d.own_first, 1);
  EXPECT_EQ(d.own_last, 1);

  if (d.size == 4) {
    // Left and right neighbours only, and none across the gap: p3 (c1-4)
    // has none; p2 (c7-8) needs c9 of p1; p1 (c9-10) needs c8 of p2 and c11
    // of p0; p0 (c11-12) needs c10 of p1. Send runs are ordered by neighbour.
    const std::map<int, std::vector<std::array<int, 4>>> receive = {
        {0, {{1, 10, 1, 1}}}, {1, {{1, 8, 1, 2}, {1, 11, 1, 0}}}, {2, {{1, 9, 1, 1}}}, {3, {}}};
    const std::map<int, std::vector<std::array<int, 4>>> send = {
        {0, {{1, 11, 1, 1}}}, {1, {{1, 10, 1, 0}, {1, 9, 1, 2}}}, {2, {{1, 8, 1, 1}}}, {3, {}}};
    auto as_arrays = [](const std::vector<halo_run>& l) {
      std::vector<std::array<int, 4>> a;
      for (const halo_run& r : l) a.push_back({r.row, r.first_col, r.count, r.neighbour});
      return a;
    };
    EXPECT_EQ(as_arrays(d.receive), receive.at(d.rank));
    EXPECT_EQ(as_arrays(d.send), send.at(d.rank));
  }
}

struct speed_case {
  speed_files files;
  std::vector<std::vector<int64_t>> cells;  // per process count 1..4
};

TEST(DivisionMpi, SpeedFilesWeighTheSplit) {
  // A full 6 x 4 grid: 24 valid cells.
  const std::vector<std::string> grid = {"111111", "111111", "222222", "222222"};
  const speed_case cases[] = {
      // Times 1, 3, 1, 3: weights 3:1 -> P2 18, 6; P3 (3/7, 1/7, 3/7) 10, 3,
      // 11; P4 (3/8, 1/8, 3/8, 1/8) 9, 3, 9, 3.
      {{{"1", "3"}, true}, {{24}, {18, 6}, {10, 3, 11}, {9, 3, 9, 3}}},
      // No number (time 0, factor 1) and 0.5 (factor 2): P2 8, 16; P3 6, 12,
      // 6; P4 (1/6, 1/3, 1/6, 1/3) 4, 8, 4, 8.
      {{{"no number", "0.5 seconds"}, true}, {{24}, {8, 16}, {6, 12, 6}, {4, 8, 4, 8}}},
      // One file in the shared directory: every process reads 2.5, equal weights.
      {{{"2.5"}, false}, {{24}, {12, 12}, {8, 8, 8}, {6, 6, 6, 6}}},
  };
  for (const auto& c : cases) {
    division_run d(zone_rows(grid), c.files);
    ASSERT_EQ(d.code, 0);
    const std::vector<int64_t>& want = c.cells[static_cast<size_t>(d.size - 1)];
    EXPECT_EQ(d.cells, want);
    if (d.rank == 0) {
      for (int p = 0; p < d.size; ++p) {
        const std::string line = "MPI num cells: " + std::to_string(want[static_cast<size_t>(p)]) +
                                 " for instance: " + std::to_string(p);
        EXPECT_NE(d.cap.console().find(line), std::string::npos) << line;
      }
      EXPECT_NE(d.cap.console().find("MPI regular cells: 24\nMPI river cells: 0"),
                std::string::npos);
      // No benchmark ran: every "MPI wtime: " is part of a "received" entry.
      EXPECT_EQ(occurrences(d.cap.console(), "MPI wtime: "),
                occurrences(d.cap.console(), "received MPI wtime: "));
      EXPECT_EQ(occurrences(d.cap.console(), "received MPI wtime: "), d.size);
    }
  }
}

struct failure_case {
  const char* what;
  std::vector<std::string> grid;
  speed_files files;
  int preset_entries;
  std::vector<int> codes;  // per process count 1..4
  std::string entry;       // part of process 0's entry
};

TEST(DivisionMpi, FailuresStopEveryProcess) {
  const failure_case cases[] = {
      // One valid cell: with two or more processes some process gets none.
      {"fewer cells than processes", {"..1"}, {}, 0, {0, 121, 121, 121}, "gets no cell"},
      {"nothing valid", {"...", "..."}, {}, 0, {121, 121, 121, 121}, "gets no cell (0 valid cells"},
      // Times 1 and 1000: 24 x 0.999 rounds to 24, nothing is left for p1.
      {"a very slow process",
       {"111111", "111111", "111111", "111111"},
       {{"1", "1000"}, true},
       0,
       {0, 121, 121, 121},
       "process 1 gets no cell"},
      // Five cells in a row of 9 alternate with gaps: 9 runs, room for 4.
      {"too many runs in a row",
       {"1.1.1.1.1"},
       {},
       0,
       {0, 120, 120, 120},
       "MPI-Regions: to much strips to be stored in a grid row in row 1"},
      // Entries 1..997 taken: 998, 999 and 1000 would be needed.
      {"store full",
       {"1111", "1111"},
       {},
       997,
       {12, 12, 12, 12},
       "when trying to create MPI-Regions: no free grid found in memory (at position 1000)"},
      // Entries 1..996 taken: 997, 998 and 999 are just enough.
      {"store just large enough", {"1111", "1111"}, {}, 996, {0, 0, 0, 0}, ""},
  };
  for (const auto& c : cases) {
    division_run d(zone_rows(c.grid), c.files, NODATA, c.preset_entries);
    const int want = c.codes[static_cast<size_t>(d.size - 1)];
    EXPECT_EQ(d.code, want) << c.what;
    if (d.rank == 0 && want != 0) {
      EXPECT_NE(d.cap.console().find(c.entry), std::string::npos)
          << c.what << ": " << d.cap.console();
    }
    if (want == 0 && c.preset_entries > 0) {
      EXPECT_EQ(d.division.regions_index, c.preset_entries + 1);
      EXPECT_EQ(d.division.halo_index, c.preset_entries + 3);
      EXPECT_EQ(d.object.find_grid("MPIHalo", 1), c.preset_entries + 3);
    }
  }
}

}  // namespace
