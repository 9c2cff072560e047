#include "settings/derived_grids_kernels.h"

#include <algorithm>
#include <cmath>

slope_aspect slope_and_aspect(double z_north, double z_south, double z_west, double z_east,
                              double cellsize) noexcept {
  const double dzx = (z_east - z_west) / (2.0 * cellsize);
  const double dzy = (z_north - z_south) / (2.0 * cellsize);
  slope_aspect result;
  result.slope = dzx == 0.0 && dzy == 0.0
                     ? 0.0
                     : std::atan(std::sqrt(dzy * dzy + dzx * dzx)) * SLOPE_DEGREES_PER_RADIAN;
  if (dzx != 0.0) {
    const double sign = dzx > 0.0 ? 1.0 : -1.0;
    result.aspect = sign * 90.0 + 180.0 - std::atan(dzy / dzx) * SLOPE_DEGREES_PER_RADIAN;
  } else {
    result.aspect = dzy > 0.0 ? 180.0 : 0.0;
  }
  return result;
}

double neighbour_mean(const grid_matrix& grid, int row, int col, int nrows, int ncols,
                      double nodata, int& used) noexcept {
  static constexpr int offsets[8][2] = {{-1, 1}, {0, 1},  {1, 1},   {1, 0},
                                        {1, -1}, {0, -1}, {-1, -1}, {-1, 0}};
  double sum = 0.0;
  used = 0;
  for (const auto& o : offsets) {
    const int r = row + o[0];
    const int c = col + o[1];
    if (r < 1 || r > nrows || c < 1 || c > ncols) continue;
    if (r >= grid.pointer_count() || grid[r] == nullptr) continue;
    const double value = grid[r][c];
    if (value == nodata) continue;
    sum += value;
    ++used;
  }
  return used > 0 ? sum / used : nodata;
}

cell_size_fault complete_cell_sizes(cell_size_input& cell, double cellsize) noexcept {
  const double area_unit = cellsize * cellsize;
  if (cell.x_given && cell.y_given) {
    if (cell.x == 0.0) return cell_size_fault::zero_x;
    const double area = cell.x * cell.y / area_unit;
    if (cell.area_given) {
      if (std::fabs(cell.area - area) > 1e-5) return cell_size_fault::area_mismatch;
    } else {
      cell.area = area;
    }
  } else if (cell.x_given) {
    if (cell.x == 0.0) return cell_size_fault::zero_x;
    if (cell.area_given) {
      cell.y = area_unit * cell.area / cell.x;
    } else {
      cell.y = cellsize;
      cell.area = cell.x * cell.y / area_unit;
    }
  } else if (cell.y_given) {
    if (cell.y == 0.0) return cell_size_fault::zero_y;
    if (cell.area_given) {
      cell.x = area_unit * cell.area / cell.y;
    } else {
      cell.x = cellsize;
      cell.area = cell.x * cell.y / area_unit;
    }
  } else {
    if (!cell.area_given) cell.area = 1.0;
    cell.x = cell.y = std::sqrt(area_unit * cell.area);
  }
  return cell_size_fault::none;
}

double limited_transition_distance(double distance, double cellsize, int nrows,
                                   int ncols) noexcept {
  if (!(distance > 0.0)) return MIN_TRANSITION_DISTANCE;
  const double diagonal = cellsize * std::hypot(static_cast<double>(nrows), ncols);
  return distance > diagonal ? diagonal : distance;
}

void two_region_weights(double dc, double& w1, double& w2) noexcept {
  const double w = w1 / (2.0 * dc) + 0.5;
  if (w > 1.0) {
    w1 = 1.0;
    w2 = 0.0;
  } else if (w < 0.5) {
    w1 = w2 = 0.5;
  } else {
    w1 = w;
    w2 = 1.0 - w;
  }
}

void three_region_weights(double dc, double d2, double d3, double& w1, double& w2,
                          double& w3) noexcept {
  const double dmin = std::min(d2, d3);
  const double inside = dc - dmin;
  const double a = inside <= 0.0 ? 1.0 : 1.0 / inside;
  const double b = 1.0 / (d2 + dc);
  const double c = 1.0 / (d3 + dc);
  const double m = std::min({inside <= 0.0 ? 1.0 : inside, d2 + dc, d3 + dc});
  const double level = (0.9 - 0.5 * std::cos(m / dc * REGION_QUARTER_TURN)) / (2.0 * dc);
  const double a1 = std::max(a - level, 0.0);
  const double b1 = std::max(b - level, 0.0);
  const double c1 = std::max(c - level, 0.0);
  const double total = a1 + b1 + c1;
  w1 = a1 / total;
  w2 = b1 / total;
  if (w1 + w2 > 1.0) w2 = 1.0 - w1;
  w3 = 1.0 - w1 - w2;
}
