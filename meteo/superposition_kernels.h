// Per-cell kernels of the regional superposition: the rank of a region code
// and the weighted sum of the input grids at one cell, with up to three
// regions blended by their transition weights. Pure functions over plain
// arrays, so the cell loop needs no review for races.
#pragma once

#include <cmath>
#include <vector>

// The rank of a region code (1 for the smallest code of the region grid), or
// 0 for a code that is no region's: not a whole number in 1..max_code (the
// grid nodata value among them) or absent from the table.
inline int region_rank(const std::vector<int>& region_index, double code) {
  if (!(code >= 1 && code < static_cast<double>(region_index.size()))) return 0;
  const double whole = std::floor(code);
  if (whole != code) return 0;
  return region_index[static_cast<size_t>(whole)];
}

// The weights of all inputs, input-major: weights[i * (regions + 1) + k] is
// input i's weight of rank k (k = 1..regions; k = 0 unused).
struct superposition_weights {
  int inputs = 0;
  int regions = 0;
  std::vector<double> weights;
  double at(int input, int rank) const {
    return weights[static_cast<size_t>(input) * static_cast<size_t>(regions + 1) +
                   static_cast<size_t>(rank)];
  }
};

// One region's term: share [-] times the sum of inputs[i] times their weight
// of rank. A rank outside 1..regions adds nothing.
inline double region_term(const superposition_weights& w, const double* inputs, int rank,
                          double share) {
  if (rank < 1 || rank > w.regions) return 0;
  double sum = 0;
  for (int i = 0; i < w.inputs; ++i) sum += inputs[i] * w.at(i, rank);
  return sum * share;
}

// The output of one cell: regions 2 and 3 (transition zones) count only when
// given (rank2, rank3 above 0).
inline double superpose_cell(const superposition_weights& w, const double* inputs, int rank1,
                             double share1, int rank2, double share2, int rank3, double share3) {
  return region_term(w, inputs, rank1, share1) + region_term(w, inputs, rank2, share2) +
         region_term(w, inputs, rank3, share3);
}
