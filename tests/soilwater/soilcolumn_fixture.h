// A loam soil column for the soil-column kernel tests: van Genuchten
// parameters of Carsel and Parrish (1988, table 3: theta_s 0.43, theta_r
// 0.078, alpha 3.6 m-1, n 1.56), layers of 0.2 m below a surface at 100 m.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tables/soiltable.h"

constexpr double LOAM_SAT = 0.43;
constexpr double LOAM_RES = 0.078;
constexpr double COLUMN_SURFACE = 100.0;  // [m]

// Closed-form van Genuchten water content of the loam at suction h [m].
inline double loam_theta(double h) {
  const double n = 1.56, m = 1 - 1 / n;
  return LOAM_RES + (LOAM_SAT - LOAM_RES) * std::pow(1 + std::pow(3.6 * h, n), -m);
}

inline soil_entry loam_soil(int layers) {
  captured_diag cap;
  soil_entry e;
  parse_soil_line(*cap.diag, e,
                  "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 " + std::to_string(layers) +
                      " 0.2 1000 1",
                  2);
  return e;
}

// Per-layer arrays 0..n of one column.
struct column_arrays {
  explicit column_arrays(int layers, double thickness = 0.2)
      : n(layers), d(size(), thickness), z(size()), theta_sat(size(), LOAM_SAT),
        theta_res(size(), LOAM_RES) {
    d[0] = 0;
    z[0] = COLUMN_SURFACE;
    for (int i = 1; i <= n; ++i) z[at(i)] = z[at(i - 1)] - d[at(i)];
  }
  size_t size() const { return static_cast<size_t>(n) + 1; }
  static size_t at(int i) { return static_cast<size_t>(i); }
  std::vector<double> zeros() const { return std::vector<double>(size(), 0.0); }
  std::vector<double> filled(double v) const { return std::vector<double>(size(), v); }
  int n;
  std::vector<double> d, z, theta_sat, theta_res;
};
