#include "snow/snowslide_kernels.h"

#include <algorithm>

double take_sliding_snow(double phi, snow_storage_ref s) noexcept {
  const double taken = phi * s.total;
  const double left = s.total - taken;
  s.liquid = left * s.liquid / s.total;
  s.solid = left - s.liquid;
  s.total = left;
  return taken;
}

void add_snow(double amount, snow_storage_ref s) noexcept {
  if (s.total <= 0) {
    s.liquid = 0;
    s.total = amount;
    s.solid = amount;
    return;
  }
  const double grown = s.total + amount;
  s.liquid = grown * s.liquid / s.total;
  s.solid = grown - s.liquid;
  s.total = grown;
}

std::array<double, 4> slide_shares(const std::array<double, 4>& fractions,
                                   const std::array<bool, 4>& in_zone) noexcept {
  std::array<double, 4> w{};
  double sum = 0;
  for (size_t k = 0; k < 4; ++k) {
    w[k] = in_zone[k] ? std::max(fractions[k], 0.0) : 0;
    sum += w[k];
  }
  if (sum > 0)
    for (double& x : w) x /= sum;
  return w;
}

namespace {

double glacier_share(const slide_walk_inputs& in, const slide_walk_grids& g, int r, int c) {
  if (in.glacier == nullptr || g.total_g == nullptr) return 0;
  return std::clamp((*in.glacier)[r][c], 0.0, 1.0);
}

void walk_cell(const slide_walk_inputs& in, slide_walk_grids& g, int i, int j) {
  const double zone = (*in.zone)[i][j];
  // North, west, east, south.
  const int dr[4] = {-1, 0, 0, 1};
  const int dc[4] = {0, -1, 1, 0};
  std::array<bool, 4> inside{};
  std::array<double, 4> fractions{};
  for (size_t k = 0; k < 4; ++k) {
    const int r = i + dr[k], c = j + dc[k];
    inside[k] = r >= 1 && r <= in.nrows && c >= 1 && c <= in.ncols &&
                (*in.zone)[r][c] != in.nodata && (*in.zone)[r][c] == zone;
    fractions[k] = (*in.fraction[k])[i][j];
  }
  const std::array<double, 4> w = slide_shares(fractions, inside);
  const double gl = glacier_share(in, g, i, j);
  const bool storages = g.total_g != nullptr;
  double& W = (*g.total)[i][j];
  double input = 0;
  const bool nothing = W <= 0 && (!storages || (*g.total_g)[i][j] <= 0);
  if (!nothing && (*in.slope)[i][j] >= in.min_slope) {
    if (gl < 1 && W > 0)
      input = take_sliding_snow(in.phi, {W, (*g.liquid)[i][j], (*g.solid)[i][j]}) * (1 - gl);
    if (storages && (*g.total_g)[i][j] > 0 && gl > 0)
      input += take_sliding_snow(
                   in.phi, {(*g.total_g)[i][j], (*g.liquid_g)[i][j], (*g.solid_g)[i][j]}) *
               gl;
  }
  (*g.input_mass)[i][j] = input;
  if (w[0] + w[1] + w[2] + w[3] <= 0) {
    (*g.mobile_mass)[i][j] += input;
    return;
  }
  const double moving = input + (*g.mobile_mass)[i][j];
  (*g.mobile_mass)[i][j] = 0;
  for (size_t k = 0; k < 4; ++k) {
    if (!(w[k] > 0)) continue;
    const int r = i + dr[k], c = j + dc[k];
    double& deposited = (*g.deposition)[r][c];
    deposited += moving * w[k];
    // A capacity below 0 (nodata in an input grid) holds nothing.
    const double capacity = std::max((*in.capacity)[r][c], 0.0);
    if (deposited > capacity) {
      (*g.mobile_mass)[r][c] += deposited - capacity;
      deposited = capacity;
    }
  }
}

}  // namespace

void snow_slide_walk(const slide_walk_inputs& in, slide_walk_grids& g) noexcept {
  for (int r = 1; r <= in.nrows; ++r)
    for (int c = 1; c <= in.ncols; ++c) {
      const double v = (*in.zone)[r][c] == in.nodata ? in.nodata : 0;
      (*g.deposition)[r][c] = v;
      (*g.input_mass)[r][c] = v;
      (*g.mobile_mass)[r][c] = v;
    }
  for (int r = 1; r <= in.nrows; ++r)
    for (int c = 1; c <= in.ncols; ++c) {
      if ((*in.zone)[r][c] == in.nodata) continue;
      walk_cell(in, g, static_cast<int>((*in.order_row)[r][c]),
                static_cast<int>((*in.order_col)[r][c]));
    }
  const bool storages = g.total_g != nullptr;
  for (int r = 1; r <= in.nrows; ++r)
    for (int c = 1; c <= in.ncols; ++c) {
      if ((*in.zone)[r][c] == in.nodata) continue;
      const double gl = glacier_share(in, g, r, c);
      const double d = (*g.deposition)[r][c] + (*g.mobile_mass)[r][c];
      if (gl < 1) add_snow(d, {(*g.total)[r][c], (*g.liquid)[r][c], (*g.solid)[r][c]});
      if (storages && gl > 0)
        add_snow(d, {(*g.total_g)[r][c], (*g.liquid_g)[r][c], (*g.solid_g)[r][c]});
    }
}
