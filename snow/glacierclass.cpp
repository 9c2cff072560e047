#include "snow/glacierclass.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr double SMALLEST_AREA = 0.01;      // [km2]
constexpr double SMALLEST_VOLUME = 0.0543;  // [10^6 m3] of 0.01 km2 with 28.5, 1.36
constexpr double PLACED = 1e-5;             // [cells] a rest below it is placed
constexpr int BAND_PASSES = 5;
constexpr double LEFT_GLACIER = -9999;
}  // namespace

void elevationbandclass::add_band_cell(double* share, double* code) {
  shares.push_back(share);
  codes.push_back(code);
  flags.push_back(0);
  ++cell_count;
}

void elevationbandclass::clear_band() {
  cell_count = 0;
  shares.clear();
  codes.clear();
  flags.clear();
}

uint64_t elevationbandclass::count_band_changeable(double x) {
  uint64_t count = 0;
  for (size_t i = 0; i < shares.size(); ++i) {
    const double g = *shares[i];
    const bool counted = (x < 0 && g > 0) || (x > 0 && g < 1);
    if (counted)
      ++count;
    else
      flags[i] = 1;
  }
  return count;
}

double elevationbandclass::distribute_in_band(double u) {
  uint64_t free_cells = 0;
  for (int32_t f : flags) free_cells += f == 0 ? 1 : 0;
  double x = u * static_cast<double>(free_cells);
  double m = static_cast<double>(free_cells);
  double rest = x;
  for (int pass = 1; pass <= BAND_PASSES; ++pass) {
    const double b = m < 1 ? 0 : x / m;
    rest = x;
    double took_all = 0;
    for (size_t i = 0; i < shares.size(); ++i) {
      if (flags[i] != 0 || *codes[i] < 0) continue;
      const double c = *shares[i] + b;
      if (c < 0) {
        *shares[i] = 0;
        *codes[i] = LEFT_GLACIER;
        rest -= b - c;
      } else if (c > 1) {
        *shares[i] = 1;
        rest -= b - (c - 1);
      } else {
        *shares[i] = c;
        rest -= b;
        ++took_all;
      }
    }
    if (pass == BAND_PASSES) {
      std::fprintf(stderr,
                   "error: could not remove or add the required number of cells for the glacier\n");
      break;
    }
    if (!(std::fabs(rest) > PLACED && std::fabs(x - rest) > PLACED)) break;
    x = rest;
    m = took_all;
  }
  return rest;
}

glacierclass::glacierclass(int32_t code_in, int32_t bands_in, int32_t extra, int32_t subbasin_in,
                           double c_in, double gamma_in, double volume_in, double area_in,
                           double cell_size_in)
    : code(code_in),
      cell_size(cell_size_in),
      area(area_in),
      volume(volume_in),
      old_area(area_in),
      old_volume(volume_in),
      c(c_in),
      gamma(gamma_in),
      band_count(bands_in),
      extra_weight(extra),
      subbasin(subbasin_in) {}

void glacierclass::volume_from_area() {
  if (area <= SMALLEST_AREA) area = SMALLEST_AREA;
  volume = c * std::pow(area, gamma);
}

void glacierclass::area_from_volume() {
  if (volume <= SMALLEST_VOLUME) volume = SMALLEST_VOLUME;
  area = std::pow(volume / c, 1 / gamma);
}

void glacierclass::old_area_from_old_volume() {
  if (old_volume <= SMALLEST_VOLUME) old_volume = SMALLEST_VOLUME;
  old_area = std::pow(old_volume / c, 1 / gamma);
}

void glacierclass::compute_cells_to_change() {
  cells_to_change = (area - old_area) * 1e6 / (cell_size * cell_size);
  remainder = 0;
}

void glacierclass::add_cell(bool widen, double share, double elevation, double cell_area) {
  ++cell_count;
  area += share * cell_area / 1e6;
  if (cell_count == 1) {
    lowest = highest = elevation;
  } else if (widen) {
    if (elevation > highest) highest = elevation;
    if (elevation < lowest) lowest = elevation;
  }
}

void glacierclass::build_bands() {
  bands.clear();
  if (band_count < 1) return;
  const double w = (highest - lowest) / band_count;
  bands.resize(static_cast<size_t>(band_count));
  for (int i = 0; i < band_count; ++i) {
    elevationbandclass& b = bands[static_cast<size_t>(i)];
    b.lower = lowest + i * w;
    b.upper = lowest + (i + 1) * w;
    b.width = w;
  }
}

void glacierclass::reset_bands() {
  for (elevationbandclass& b : bands) b.clear_band();
  assigned_cells = 0;
}

void glacierclass::assign_cell_to_band(double* share, double* code_ref, double z) {
  const size_t n = bands.size();
  for (size_t i = 0; i < n; ++i) {
    elevationbandclass& b = bands[i];
    const bool takes = b.contains_elevation(z) || (i + 1 == n && z >= highest) ||
                       (i == 0 && z <= lowest);
    if (!takes) continue;
    b.add_band_cell(share, code_ref);
    ++assigned_cells;
    return;
  }
}

uint64_t glacierclass::count_changeable_cells(double amount) {
  uint64_t count = 0;
  for (elevationbandclass& b : bands) count += b.count_band_changeable(amount);
  return count;
}

double glacierclass::distribution_unit(double amount) {
  const double n = band_count;
  double weighted = 0;
  for (size_t i = 0; i < bands.size(); ++i) {
    const double ci = static_cast<double>(bands[i].count_band_changeable(amount));
    weighted += ci * (n - static_cast<double>(i));
    if (i == 0) weighted += ci * extra_weight * n;
  }
  return amount / weighted;
}

double glacierclass::distribute_over_bands(int last_band, double u) {
  double rest = 0;
  for (int i = 0; i <= last_band && i < static_cast<int>(bands.size()); ++i) {
    rest += bands[static_cast<size_t>(i)].distribute_in_band(u);
    if (i == 0)
      for (int e = 0; e < extra_weight; ++e) rest += bands[0].distribute_in_band(u);
  }
  return rest;
}
