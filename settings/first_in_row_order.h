// What a walk over the whole grid in row order meets first, decided by
// processes that each walked only their own cells: every process notes the
// row-order position of its first invalid cell and of its first cell of every
// code (NOT_SEEN where it met none); the minimum over all processes is the
// walk's. A walk that stops at the first invalid cell or at the first cell of
// a code beyond a limit meets the codes seen before the first invalid cell,
// in the order of their first positions.
#pragma once

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

constexpr long long NOT_SEEN = LLONG_MAX;

// Collective: reduces first_invalid and first_seen (indexed by code) to their
// minimum over all processes and returns the codes met before the first
// invalid cell, in the order the walk meets them.
inline std::vector<int> codes_in_row_order(long long& first_invalid,
                                           std::vector<long long>& first_seen) {
  MPI_Allreduce(MPI_IN_PLACE, &first_invalid, 1, MPI_LONG_LONG, MPI_MIN, MPI_COMM_WORLD);
  MPI_Allreduce(MPI_IN_PLACE, first_seen.data(), static_cast<int>(first_seen.size()),
                MPI_LONG_LONG, MPI_MIN, MPI_COMM_WORLD);
  std::vector<std::pair<long long, int>> appearance;  // (first position, code)
  for (size_t code = 0; code < first_seen.size(); ++code)
    if (first_seen[code] < first_invalid)
      appearance.emplace_back(first_seen[code], static_cast<int>(code));
  std::sort(appearance.begin(), appearance.end());
  std::vector<int> codes;
  codes.reserve(appearance.size());
  for (const auto& entry : appearance) codes.push_back(entry.second);
  return codes;
}
