// Level-volume tables, interpolation, mixing and the release of a rule over
// sub-steps (explicit level-pool routing: each sub-step adds the inflow,
// releases what the rule gives at the new storage, then serves the
// abstractions that draw on the reservoir).
#include "routing/reservoir_kernels.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double FINE_STEP = 0.01;     // [m] table spacing of the top 4 m
constexpr double MIDDLE_STEP = 0.02;   // [m] from 4 m to 14 m below the top
constexpr double COARSE_STEP = 0.05;   // [m] below 14 m
constexpr double FINE_DEPTH = 4;       // [m]
constexpr double MIDDLE_DEPTH = 14;    // [m]
constexpr int FINE_POINTS = 400;
constexpr int MIDDLE_POINTS = 500;
constexpr double SPILL_MARGIN = 0.5;   // [m] above the spill level the lake passes its inflow

}  // namespace

level_volume_table build_level_volume_table(std::vector<double> dem, double top, double cell_area) {
  level_volume_table t;
  if (dem.empty()) return t;
  std::sort(dem.begin(), dem.end());
  const double B = dem.front();
  double H = top;
  if (!(H - B >= FINE_STEP)) H = std::max(H, B + FINE_STEP);
  const double D = H - B;
  int F = 0, M = 0, G = 0;
  if (D < FINE_DEPTH) {
    F = static_cast<int>(D / FINE_STEP);
  } else if (D < MIDDLE_DEPTH) {
    F = FINE_POINTS;
    M = static_cast<int>((D - FINE_DEPTH) / MIDDLE_STEP);
  } else {
    F = FINE_POINTS;
    M = MIDDLE_POINTS;
    G = static_cast<int>(std::ceil((D - MIDDLE_DEPTH) / COARSE_STEP));
  }
  if (F == 0) F = 1;
  for (int i = 0; i < F; ++i) t.levels.push_back(H - FINE_STEP * i);
  for (int i = 0; i < M; ++i) t.levels.push_back((H - FINE_DEPTH) - MIDDLE_STEP * i);
  for (int i = 0; i < G; ++i) t.levels.push_back((H - MIDDLE_DEPTH) - COARSE_STEP * i);
  t.levels.push_back(B);
  t.N = static_cast<int>(t.levels.size());
  // prefix[i]: sum of the i lowest elevations.
  std::vector<double> prefix(dem.size() + 1, 0.0);
  for (size_t i = 0; i < dem.size(); ++i) prefix[i + 1] = prefix[i] + dem[i];
  t.volumes.resize(t.levels.size());
  for (size_t p = 0; p < t.levels.size(); ++p) {
    const double L = t.levels[p];
    const auto below = static_cast<size_t>(std::lower_bound(dem.begin(), dem.end(), L) - dem.begin());
    t.volumes[p] = cell_area * (static_cast<double>(below) * L - prefix[below]);
  }
  t.volumes.back() = 0;
  return t;
}

double interpolate_descending(const std::vector<double>& X, const std::vector<double>& Y, int N,
                              double x) {
  if (N <= 0) return 0;
  if (N == 1) return Y[0];
  int j = 1;
  if (N > 2) {
    j = N - 1;
    for (int i = 1; i < N; ++i)
      if (X[static_cast<size_t>(i)] <= x) {
        j = i;
        break;
      }
  }
  const auto a = static_cast<size_t>(j - 1), b = static_cast<size_t>(j);
  const double dx = X[a] - X[b];
  if (dx == 0) return Y[b];
  return Y[b] + (Y[a] - Y[b]) * (x - X[b]) / dx;
}

double mix_reservoir_concentrations(double c1, double c2, double w1, double w2) {
  const double s = std::fabs(w1) + std::fabs(w2);
  return s != 0 ? (std::fabs(w1) * c1 + std::fabs(w2) * c2) / s : 0.0;
}

double release_over_substeps(const operation_rule& rule, const rule_date& date,
                             const release_inputs& in, std::vector<double>& taken) {
  taken.assign(static_cast<size_t>(in.abstraction_count), 0.0);
  const season_blend b = blend_season(rule, date.month, date.day);
  const bool active = rule_active(rule, b.t, date, true);
  const int n = in.sub_step > 0 ? static_cast<int>(in.dt * 60 / in.sub_step) : 0;
  if (n <= 0) return 0;
  const double sub = in.sub_step;
  const int N = rule.N;
  const double top_index = rule.index_column[static_cast<size_t>(N)];
  const double cap = rule.target_cap[static_cast<size_t>(b.t)];
  double S = in.storage;
  double result = 0;
  for (int step = 0; step < n; ++step) {
    S += in.inflow * sub;
    double Q = 0;
    if (!rule.flow_indexed && S > top_index) {
      if (in.lake) {
        Q = blended(rule.value_columns, b, N) +
            blended(rule.segment_slopes, b, N - 1) * (S - top_index);
        if (in.level_of && in.level_of(S) > in.spill_level + SPILL_MARGIN) Q = std::max(in.inflow, Q);
      } else {
        Q = in.inflow;
      }
    } else {
      Q = active ? rule_lookup(rule, b, S) : 0.0;
    }
    if (cap > 0) Q = std::min(Q, cap);
    // A negative table value would add water to the reservoir.
    Q = std::max(Q, 0.0);
    S -= Q * sub;
    if (S < 0) {
      Q += S / sub;
      S = 0;
    }
    Q = std::max(Q, 0.0);
    result += Q / n;
    for (int i = 0; i < in.abstraction_count; ++i) {
      double v = std::max(0.0, in.abstraction_rate(i, S)) * sub;
      S -= v;
      if (S < 0) {
        v += S;
        S = 0;
      }
      taken[static_cast<size_t>(i)] += v;
    }
  }
  return result;
}
