#include "snow/snowslide_plan.h"

#include <algorithm>
#include <cstddef>

namespace {

double clamped_share(const slide_walk_inputs& in, int r, int c) {
  return in.glacier == nullptr ? 0 : std::clamp((*in.glacier)[r][c], 0.0, 1.0);
}

// Takes phi * W from a storage with W > 0 and returns it; the liquid share
// stays (take_sliding_snow without the solid part, which the deposit
// rewrites as W - L afterwards).
inline double take(double phi, double& total, double& liquid) {
  const double taken = phi * total;
  const double left = total - taken;
  liquid = left * liquid / total;
  total = left;
  return taken;
}

}  // namespace

slide_plan build_slide_plan(const slide_walk_inputs& in) {
  slide_plan plan;
  plan.nrows = in.nrows;
  plan.ncols = in.ncols;
  plan.glacier_storages = in.glacier != nullptr;
  const size_t n = static_cast<size_t>(in.nrows) * static_cast<size_t>(in.ncols);
  plan.cells.assign(n, slide_cell{});
  if (plan.glacier_storages) plan.glacier_cells.assign(n, slide_glacier_cell{});
  const grid_matrix& zone = *in.zone;
  for (int r = 1; r <= in.nrows; ++r)
    for (int c = 1; c <= in.ncols; ++c) {
      const int32_t k = plan.index(r, c);
      if (zone[r][c] == in.nodata) {
        plan.outside_cells.push_back(k);
        continue;
      }
      plan.zone_cells.push_back(k);
      // A capacity below 0 (nodata in an input grid) holds nothing.
      plan.cells[static_cast<size_t>(k)].capacity = std::max((*in.capacity)[r][c], 0.0);
      plan.cells[static_cast<size_t>(k)].glacier = clamped_share(in, r, c);
    }
  const int dr[4] = {-1, 0, 0, 1};
  const int dc[4] = {0, -1, 1, 0};
  plan.steps.reserve(plan.zone_cells.size());
  for (int32_t position : plan.zone_cells) {
    const int pr = position / in.ncols + 1, pc = position % in.ncols + 1;
    const int i = static_cast<int>((*in.order_row)[pr][pc]);
    const int j = static_cast<int>((*in.order_col)[pr][pc]);
    std::array<bool, 4> inside{};
    std::array<double, 4> fractions{};
    for (size_t k = 0; k < 4; ++k) {
      const int r = i + dr[k], c = j + dc[k];
      inside[k] = r >= 1 && r <= in.nrows && c >= 1 && c <= in.ncols && zone[r][c] != in.nodata &&
                  zone[r][c] == zone[i][j];
      fractions[k] = (*in.fraction[k])[i][j];
    }
    const std::array<double, 4> w = slide_shares(fractions, inside);
    slide_step s;
    s.cell = plan.index(i, j);
    for (size_t k = 0; k < 4; ++k) {
      s.share[k] = w[k];
      if (w[k] > 0) s.next[k] = plan.index(i + dr[k], j + dc[k]);
    }
    s.starts = (*in.slope)[i][j] >= in.min_slope;
    s.passes = !(w[0] + w[1] + w[2] + w[3] <= 0);
    plan.steps.push_back(s);
  }
  return plan;
}

void refresh_slide_glacier(slide_plan& plan, const slide_walk_inputs& in) {
  for (int32_t k : plan.zone_cells)
    plan.cells[static_cast<size_t>(k)].glacier =
        clamped_share(in, k / plan.ncols + 1, k % plan.ncols + 1);
}

void run_slide_plan(slide_plan& plan, double phi) noexcept {
  slide_cell* cells = plan.cells.data();
  slide_glacier_cell* glacier = plan.glacier_storages ? plan.glacier_cells.data() : nullptr;
  for (int32_t k : plan.zone_cells) {
    cells[k].input = 0;
    cells[k].mobile = 0;
    cells[k].deposition = 0;
  }
  // The cells a few positions ahead are fetched early: the walk order jumps
  // across the grid, and the wait for memory would dominate the step.
  constexpr size_t AHEAD = 8;
  const slide_step* steps = plan.steps.data();
  const size_t count = plan.steps.size();
  for (size_t at = 0; at < count; ++at) {
    if (at + AHEAD < count) {
      const slide_step& later = steps[at + AHEAD];
      __builtin_prefetch(&cells[later.cell], 1);
      if (later.next[0] >= 0) __builtin_prefetch(&cells[later.next[0]], 1);
      if (later.next[3] >= 0) __builtin_prefetch(&cells[later.next[3]], 1);
    }
    const slide_step& s = steps[at];
    slide_cell& cell = cells[s.cell];
    const double gl = cell.glacier;
    double input = 0;
    const bool nothing = cell.total <= 0 && (glacier == nullptr || glacier[s.cell].total <= 0);
    if (!nothing && s.starts) {
      if (gl < 1 && cell.total > 0) input = take(phi, cell.total, cell.liquid) * (1 - gl);
      if (glacier != nullptr && glacier[s.cell].total > 0 && gl > 0)
        input += take(phi, glacier[s.cell].total, glacier[s.cell].liquid) * gl;
    }
    cell.input = input;
    if (!s.passes) {
      cell.mobile += input;
      continue;
    }
    const double moving = input + cell.mobile;
    cell.mobile = 0;
    for (size_t k = 0; k < 4; ++k) {
      if (s.next[k] < 0) continue;
      slide_cell& to = cells[s.next[k]];
      to.deposition += moving * s.share[k];
      if (to.deposition > to.capacity) {
        to.mobile += to.deposition - to.capacity;
        to.deposition = to.capacity;
      }
    }
  }
  for (int32_t k : plan.zone_cells) {
    slide_cell& cell = cells[k];
    const double d = cell.deposition + cell.mobile;
    if (cell.glacier < 1) add_snow(d, {cell.total, cell.liquid, cell.solid});
    if (glacier != nullptr && cell.glacier > 0)
      add_snow(d, {glacier[k].total, glacier[k].liquid, glacier[k].solid});
  }
}
