#include "settings/phenology_kernels.h"

#include <cmath>

#include "modelbase/gridtypes.h"

namespace {

constexpr double SIGMOID_MAX = 28.4;       // [forcing units d-1]
constexpr double SIGMOID_SLOPE = 0.185;    // [degC-1]
constexpr double SIGMOID_CENTRE = 18.4;    // [degC] above the base temperature
constexpr double STRESS_FREE_THETA = 150;  // water content at which the stress weight is full
constexpr double MISSING_START_DAY = NODATA + 1;  // start days at or below it are missing
constexpr int LEAF_FALL_COLD_DAYS = 5;            // [d] in a row below DP4_T_xylstop

// Starts the season of a cell on day a: the sample point the cell works on
// and the one after it (a number of days after the start) move with it.
void start_season_points(const landuse_entry& e, int a, double* q) {
  if (q == nullptr) return;
  const int n = e.n_sample_days;
  const int l = start_point_index(q, n, a);
  q[l] = a;
  if (l < n) q[l + 1] = a + e.sample_days[static_cast<size_t>(l) + 1];
}

void reset_points(const landuse_entry& e, double* q) {
  if (q == nullptr) return;
  for (int m = 1; m <= e.n_sample_days; ++m) q[m] = e.sample_days[static_cast<size_t>(m)];
}

// Model 1: forcing units from DP1_t1_dorm on until their sum passes F*.
void forcing_model(const landuse_entry& e, int a, double t, double factor, phenology_cell& c,
                   double* q) {
  if (c.pheno_start < 0 && a >= e.DP1_t1_dorm) {
    c.forcing_sum += forcing_sigmoid(t, e.DP1_T_Bf) * factor;
    if (c.forcing_sum > e.F_star) {
      c.pheno_start = a;
      if (e.method == LANDUSE_DYNAMIC_PHENOLOGY_4) start_season_points(e, a, q);
    }
  }
  if (a == e.JDReset_TStart) {
    c.forcing_sum = 0;
    c.pheno_start = -1;
    if (c.leaf_fall_start != nullptr) *c.leaf_fall_start = 0;
    reset_points(e, q);
  }
}

// Model 2: the chilling units of the dormant season set the threshold.
void chilling_forcing_model(const landuse_entry& e, int a, double t, double factor,
                            phenology_cell& c) {
  if (c.pheno_start < 0 && a >= e.DP2_t1_dorm) {
    c.forcing_sum += forcing_sigmoid(t, e.DP2_T_Bf) * factor;
    if (c.forcing_sum > c.threshold) c.pheno_start = a;
  }
  if (a >= e.DP2_t0_dorm || a < e.DP2_t1_dorm) c.chilling_sum += chilling_units(e, t);
  if (a == e.JDReset_TStart) {
    c.forcing_sum = 0;
    c.pheno_start = -1;
  }
  if (a == e.DP2_t0_dorm - 1) c.chilling_sum = 0;
  if (a == e.DP2_t1_dorm - 1) c.threshold = e.DP2_Par_a * std::exp(e.DP2_Par_b * c.chilling_sum);
}

// Model 3: degree days move every sample point that has a forcing threshold;
// the calendar day of a point is its latest date.
void degree_day_model(const landuse_entry& e, int a, double t, double factor, phenology_cell& c,
                      double* q) {
  const int n = e.n_sample_days;
  const landuse_series& ft = e.ForcingThreshold;
  const int* d = e.sample_days.data();
  const int l = q != nullptr ? start_point_index(q, n, a) : 0;
  if (q != nullptr && a >= d[l] && ft[static_cast<size_t>(l)] > 0) {
    q[l] = d[l];
    q[0] = ft[static_cast<size_t>(l)];
  }
  c.forcing_sum += (t > e.DP1_T_Bf ? t - e.DP1_T_Bf : 0) * factor;
  if (q != nullptr && q[l] < 0 && c.forcing_sum >= ft[static_cast<size_t>(l)]) {
    q[l] = a;
    q[0] = ft[static_cast<size_t>(l)];
  }
  if (a == 1) {
    c.forcing_sum = 0;
    if (q != nullptr) {
      q[0] = 0;
      for (int m = 1; m <= n; ++m) q[m] = ft[static_cast<size_t>(m)] < 0 || d[m] <= 1 ? d[m] : -1;
    }
  }
}

// Leaf fall moves sample point s to day a; the points before it that would
// lie after it, or are missing or out of order, move just before it.
void move_leaf_fall_point(const landuse_entry& e, int a, int s, phenology_cell& c, double* q) {
  if (s < 1) return;
  if (q != nullptr) {
    if (s < e.n_sample_days) q[s + 1] += a - q[s];
    q[s] = a;
    for (int m = 1; m < s; ++m)
      if (q[m] > a || q[m] < 0 || q[m] < q[m - 1]) q[m] = a - 1;
  }
  *c.leaf_fall_start = a;
}

// Model 4: chilling days set the threshold, degree days start the season,
// a cold week starts leaf fall.
void chilling_days_model(const landuse_entry& e, int a, const phenology_weather& w, double factor,
                         phenology_cell& c, double* q) {
  const double t = w.temperature;
  const int n = e.n_sample_days;
  if (c.pheno_start < 0 && a >= e.DP4_t1_dorm) {
    c.forcing_sum += (t >= e.DP4_T1 ? t - e.DP4_T1 : 0) * factor;
    if (c.forcing_sum > c.threshold) {
      c.pheno_start = a;
      start_season_points(e, a, q);
    }
  }
  if ((a >= e.DP4_t0_dorm || c.pheno_start < 0) && t <= e.DP4_T0) c.chilling_sum += 1;
  if (a == e.JDReset_TStart) {
    c.forcing_sum = 0;
    c.pheno_start = -1;
    if (c.leaf_fall_start != nullptr) *c.leaf_fall_start = 0;
    reset_points(e, q);
  }
  if (a == e.DP4_t0_dorm - 1) c.chilling_sum = 0;
  if (a >= e.DP4_t1_dorm - 1 && c.pheno_start < 0)
    c.threshold =
        c.chilling_sum > 0 ? e.DP4_Par_a + e.DP4_Par_b * std::log(c.chilling_sum) : e.DP4_Par_a;

  if (c.leaf_fall_start == nullptr || c.cold_days == nullptr) return;
  if (a < e.DP4_t_xs1 || *c.leaf_fall_start > 0 || c.pheno_start <= 0) return;
  const int s = e.DP4_SPSLF;
  if (w.moving_average < e.DP4_T_xylstop)
    *c.cold_days += 1;
  else
    *c.cold_days = 0;
  if (*c.cold_days >= LEAF_FALL_COLD_DAYS) {
    if (s <= n)
      move_leaf_fall_point(e, a, s, c, q);
    else
      *c.leaf_fall_start = a;
  } else if (s > n) {
    *c.leaf_fall_start = a;
  } else if (s >= 1 && a >= e.sample_days[static_cast<size_t>(s)]) {
    move_leaf_fall_point(e, a, s, c, q);
  }
}

}  // namespace

double forcing_sigmoid(double t, double base) {
  if (!(t > base)) return 0;
  return SIGMOID_MAX / (1 + std::exp(-SIGMOID_SLOPE * (t - base - SIGMOID_CENTRE)));
}

double chilling_units(const landuse_entry& e, double t) {
  if (t <= e.DP2_Offset_1 || t >= e.DP2_Offset_2) return 0;
  // Between the offsets the divisors cannot vanish.
  if (t <= e.DP2_T_Bc) return (t - e.DP2_Offset_1) / (e.DP2_T_Bc - e.DP2_Offset_1);
  return (t - e.DP2_Offset_2) / (e.DP2_T_Bc - e.DP2_Offset_2);
}

double forcing_factor(const landuse_entry& e, const double* root_zone_theta) {
  if (!(e.StressFactorDynPhen > 0)) return 1;
  double g = 0;
  if (root_zone_theta != nullptr && *root_zone_theta >= e.HReduDry &&
      STRESS_FREE_THETA != e.HReduDry)
    g = (*root_zone_theta - e.HReduDry) / (STRESS_FREE_THETA - e.HReduDry);
  return 1 + g * e.StressFactorDynPhen;
}

int start_point_index(const double* q, int n, int a) {
  int l = 1;
  while (l < n && a > q[l] && q[l] > 0 && q[l + 1] > MISSING_START_DAY) ++l;
  return l;
}

void phenology_day(const landuse_entry& e, int a, const phenology_weather& w, phenology_cell& c) {
  const double factor = forcing_factor(e, w.root_zone_theta);
  // A class without sample days has no series to move.
  double* q = e.n_sample_days >= 1 ? c.start_days : nullptr;
  if (e.method == LANDUSE_DYNAMIC_PHENOLOGY_1 ||
      (e.phenology_done != 0 &&
       (e.method == LANDUSE_DYNAMIC_PHENOLOGY_2 || e.method == LANDUSE_DYNAMIC_PHENOLOGY_4))) {
    forcing_model(e, a, w.temperature, factor, c, q);
    return;
  }
  switch (e.method) {
    case LANDUSE_DYNAMIC_PHENOLOGY_2:
      chilling_forcing_model(e, a, w.temperature, factor, c);
      break;
    case LANDUSE_DYNAMIC_PHENOLOGY_3:
      degree_day_model(e, a, w.temperature, factor, c, q);
      break;
    case LANDUSE_DYNAMIC_PHENOLOGY_4:
      chilling_days_model(e, a, w, factor, c, q);
      break;
    default:
      break;
  }
}
