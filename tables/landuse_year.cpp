#include "tables/landuse_year.h"

#include <cassert>
#include <climits>
#include <cmath>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/matrices.h"

namespace {

constexpr std::array<int, 13> MONTH_LENGTHS = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr double N_FACTOR_MISSING = -9999.9;

// Corrected sample days of one query; the common short lists need no
// allocation.
class day_scratch {
 public:
  explicit day_scratch(int n) {
    if (static_cast<size_t>(n) + 1 > FIXED) more_.resize(static_cast<size_t>(n) + 1);
  }
  int* data() { return more_.empty() ? fixed_.data() : more_.data(); }

 private:
  static constexpr size_t FIXED = 48;
  std::array<int, FIXED> fixed_{};
  std::vector<int> more_;
};

bool has_phenology_start(int method) {
  return method == LANDUSE_DYNAMIC_PHENOLOGY_1 || method == LANDUSE_DYNAMIC_PHENOLOGY_2 ||
         method == LANDUSE_DYNAMIC_PHENOLOGY_4;
}

bool has_start_day_series(int method) {
  return method == LANDUSE_DYNAMIC_PHENOLOGY_3 || method == LANDUSE_DYNAMIC_PHENOLOGY_4;
}

// The cell value of layer's grid, or null when the input is absent.
const double* cell_value(const phenology_grids& grids, int layer, int row, int col) {
  if (layer < 0 || static_cast<size_t>(layer) >= grids.size() || grids[layer] == nullptr)
    return nullptr;
  const double* cells = (*grids[layer])[row];
  return cells == nullptr ? nullptr : cells + col;
}

const double* cell_series(const phenology_stacks& stacks, int layer, int row, int col) {
  if (layer < 0 || static_cast<size_t>(layer) >= stacks.size() || stacks[layer] == nullptr)
    return nullptr;
  double* const* cells = (*stacks[layer])[row];
  return cells == nullptr ? nullptr : cells[col];
}

// The cell's phenological start day, -1 when it is not known.
int cell_pheno_start(const landuse_entry& e, int layer, int row, int col) {
  const double* v = cell_value(e.pheno_start, layer, row, col);
  if (v == nullptr || !(*v > INT_MIN && *v < INT_MAX)) return -1;
  return static_cast<int>(std::trunc(*v));
}

// The diagnostics stream takes no lock: whole messages from the threads of a
// cell loop are written one after the other.
template <class... Pieces>
void serialised_entry(DiagStream& diag, const Pieces&... pieces) {
#pragma omp critical(velmo_diagnostics)
  diag_entry(diag, pieces...);
}

// Value of p on the cell's start-day series q at day x; method 5 follows the
// cell's forcing sum towards a sample point that is reached by forcing.
double series_value(const landuse_entry& e, const landuse_series& p, const double* q, double x,
                    const double* forcing_sum) {
  const series_bracket b = find_series_bracket(q, e.n_sample_days, x);
  const double lo = p[static_cast<size_t>(b.lo)];
  const double hi = p[static_cast<size_t>(b.hi)];
  if (e.method == LANDUSE_DYNAMIC_PHENOLOGY_3 && forcing_sum != nullptr &&
      e.ForcingThreshold[static_cast<size_t>(b.hi)] > 0) {
    const double threshold = e.ForcingThreshold[static_cast<size_t>(b.hi)];
    const double s = *forcing_sum;
    const double span = threshold - q[0];
    if (span == 0) return lo;
    return lo * (threshold - s) / span + hi * (s - q[0]) / span;
  }
  const double span = q[b.hi] - q[b.lo];
  if (span == 0) return lo;
  return lo * (q[b.hi] - x) / span + hi * (x - q[b.lo]) / span;
}

}  // namespace

int landuse_february_days(int year) { return (year % 4 == 0 && year % 400 != 0) ? 29 : 28; }

month_lengths landuse_month_lengths(int february_days) {
  month_lengths m = MONTH_LENGTHS;
  m[2] = february_days;
  return m;
}

int landuse_day_of_year(int day, int month, int year) {
  const month_lengths m = landuse_month_lengths(landuse_february_days(year));
  long result = day;
  for (int i = 1; i < month && i <= 11; ++i) result += m[static_cast<size_t>(i)];
  if (result > 366 || result < 0) throw LANDUSE_DAY_OF_YEAR_ERROR;
  return static_cast<int>(result);
}

namespace {

// The monthly value of a one-line class on a Julian day.
double monthly_value_at_day(const landuse_series& p, int jd, int february_days) {
  const month_lengths lengths = landuse_month_lengths(february_days);
  int day = 0, month = 0;
  julian_day_to_date(jd, lengths, day, month);
  return monthly_value(p, day, month, lengths);
}

}  // namespace

double monthly_value(const landuse_series& p, int day, int month, const month_lengths& lengths) {
  if (month < 1 || month > 12) throw LANDUSE_MONTH_ERROR;
  assert(p.size() >= 14);
  int t = day;
  int b = month;
  if (t <= 14) {
    b = month - 1;
    t += lengths[static_cast<size_t>(month - 1)] - 1;
  }
  // The month's own length also weighs the first half of the month, when the
  // lower anchor is the month before.
  const double length = lengths[static_cast<size_t>(month)];
  const double lower = p[static_cast<size_t>(b)];
  if (length == 0) return lower;
  const double upper = p[static_cast<size_t>(b + 1)];
  return lower * (length + 15 - t) / length + upper * (t - 15) / length;
}

void julian_day_to_date(int jd, const month_lengths& lengths, int& day, int& month) {
  if (jd > 365) jd %= 365;
  if (jd < 1) jd = 1;
  month = 1;
  while (month < 12 && jd > lengths[static_cast<size_t>(month)]) {
    jd -= lengths[static_cast<size_t>(month)];
    ++month;
  }
  day = jd;
}

void correct_sample_days(DiagStream& diag, const landuse_entry& e, double altitude, int s, int* c) {
  const int n = e.n_sample_days;
  const int m = has_phenology_start(e.method) ? e.dyn_start_index : -1;
  const bool start_fits = m >= 1 && m < n;
  for (int i = 1; i <= n; ++i) {
    const auto ii = static_cast<size_t>(i);
    double day = 0;
    if (start_fits && i == m)
      day = s;
    else if (start_fits && i == m + 1)
      day = static_cast<double>(s) + e.sample_days[ii];
    else
      day = e.sample_days[ii] + std::trunc(e.AltDep[ii] * (altitude - SAMPLE_DAY_BASE_ALTITUDE));
    if (!(day >= -1 && day <= 366)) {
      if (std::isfinite(day) && std::fabs(day) < 1e15)
        serialised_entry(
            diag, "FATAL: \n---ERROR--\naltitude correction resulted in a Julian day of ",
            static_cast<long long>(day), " for fix point ", i, " (JD should be between 1 and 366)");
      else
        serialised_entry(diag,
                         "FATAL: \n---ERROR--\naltitude correction resulted in a Julian day of ",
                         day, " for fix point ", i, " (JD should be between 1 and 366)");
      throw LANDUSE_ALTITUDE_DAY_ERROR;
    }
    c[i] = static_cast<int>(day);
  }
  c[0] = e.sample_days[static_cast<size_t>(n)] - 366;
}

int find_sample_interval(const int* c, int n, int& jd) {
  if (c[1] < 0 || jd <= c[1]) return 1;
  for (int i = 2; i <= n; ++i)
    if (c[i] < 0 || c[i] >= jd) return i;
  // Past the last sample day the value runs towards the first sample day of
  // the next year, through element 0.
  jd -= 366;
  return 1;
}

double interpolate_sample_days(const landuse_series& p, const int* c, int k, int jd) {
  const double lower = p[static_cast<size_t>(k - 1)];
  if (c[k] == c[k - 1]) return lower;
  const double span = c[k] - c[k - 1];
  return lower * (c[k] - jd) / span + p[static_cast<size_t>(k)] * (jd - c[k - 1]) / span;
}

series_bracket find_series_bracket(const double* q, int n, double x) {
  if (n <= 1 || x < q[1] || q[1] <= 0) return {0, 1};
  for (int i = 2; i <= n; ++i)
    if (x < q[i] || q[i] <= 0 || i == n) return {i - 1, i};
  return {n - 1, n};
}

// ---- queries of landuse_entry ----

int landuse_entry::day_of_year(int day, int month, int year) const {
  return landuse_day_of_year(day, month, year);
}

double landuse_entry::series_at_day(DiagStream& diag, const landuse_series& p, int jd, int layer,
                                    int row, int col, double altitude) const {
  const int n = n_sample_days;
  assert(n >= 1 && p.size() >= static_cast<size_t>(n) + 1);
  if (has_start_day_series(method)) {
    if (const double* q = cell_series(start_day_series, layer, row, col))
      return series_value(*this, p, q, jd, cell_value(forcing_sum, layer, row, col));
  }
  day_scratch scratch(n);
  int* c = scratch.data();
  const bool start_method = has_phenology_start(method);
  correct_sample_days(diag, *this, altitude,
                      start_method ? cell_pheno_start(*this, layer, row, col) : -1, c);
  int x = jd;
  const int k = find_sample_interval(c, n, x);
  // Until the phenological start the parameter keeps its value.
  if (start_method && k == dyn_start_index) return p[static_cast<size_t>(k - 1)];
  return interpolate_sample_days(p, c, k, x);
}

double landuse_entry::z0_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                double altitude) const {
  return series_at_day(diag, Z0, jd, layer, row, col, altitude);
}

double landuse_entry::lai_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                 double altitude) const {
  return series_at_day(diag, LAI, jd, layer, row, col, altitude);
}

double landuse_entry::vcf_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                 double altitude) const {
  return series_at_day(diag, VCF, jd, layer, row, col, altitude);
}

double landuse_entry::root_depth_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                        double altitude) const {
  try {
    return series_at_day(diag, RootDepth, jd, layer, row, col, altitude);
  } catch (int) {
    serialised_entry(diag, "FATAL: Coordinates: i=", row, ", j=", col, "\nLayer=", layer,
                     "\nAltitude=", altitude, "m\nJulday=", jd, "\nLanduse Code=", code,
                     "\nTStart=", tstart);
    throw;
  }
}

double landuse_entry::albedo_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                    double altitude) const {
  return series_at_day(diag, Albedo, jd, layer, row, col, altitude);
}

double landuse_entry::sr_stem_diameter_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                              double altitude) const {
  return series_at_day(diag, SR_StemDiameter, jd, layer, row, col, altitude);
}

double landuse_entry::sr_resid_covrg_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                            double altitude) const {
  return series_at_day(diag, SR_ResidCovrg, jd, layer, row, col, altitude);
}

double landuse_entry::rsc_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                 double altitude, int february_days) const {
  if (method == LANDUSE_ONE_LINE) return monthly_value_at_day(rsc, jd, february_days);
  return series_at_day(diag, rsc, jd, layer, row, col, altitude);
}

double landuse_entry::rs_interception_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                             double altitude, int february_days) const {
  if (method == LANDUSE_ONE_LINE) return monthly_value_at_day(rs_interception, jd, february_days);
  return series_at_day(diag, rs_interception, jd, layer, row, col, altitude);
}

double landuse_entry::rs_evaporation_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                            double altitude, int february_days) const {
  if (method == LANDUSE_ONE_LINE) return monthly_value_at_day(rs_evaporation, jd, february_days);
  return series_at_day(diag, rs_evaporation, jd, layer, row, col, altitude);
}

double landuse_entry::rsc_monthly(int day, int month, int year) const {
  return monthly_value(rsc, day, month, landuse_month_lengths(landuse_february_days(year)));
}

double landuse_entry::rs_interception_monthly(int day, int month, int year) const {
  return monthly_value(rs_interception, day, month,
                       landuse_month_lengths(landuse_february_days(year)));
}

double landuse_entry::rsc_at_date(DiagStream& diag, int day, int month, int year, int layer,
                                  int row, int col, double altitude) const {
  if (method == LANDUSE_ONE_LINE) return rsc_monthly(day, month, year);
  return rsc_at_day(diag, landuse_day_of_year(day, month, year), layer, row, col, altitude,
                    landuse_february_days(year));
}

double landuse_entry::rs_interception_at_date(DiagStream& diag, int day, int month, int year,
                                              int layer, int row, int col, double altitude) const {
  if (method == LANDUSE_ONE_LINE) return rs_interception_monthly(day, month, year);
  return rs_interception_at_day(diag, landuse_day_of_year(day, month, year), layer, row, col,
                                altitude, landuse_february_days(year));
}

double landuse_entry::rs_evaporation_at_date(DiagStream& diag, int day, int month, int year,
                                             int layer, int row, int col, double altitude) const {
  if (method == LANDUSE_ONE_LINE)
    return monthly_value(rs_evaporation, day, month,
                         landuse_month_lengths(landuse_february_days(year)));
  return rs_evaporation_at_day(diag, landuse_day_of_year(day, month, year), layer, row, col,
                               altitude, landuse_february_days(year));
}

double landuse_entry::albedo_at_date(DiagStream& diag, int day, int month, int year, int layer,
                                     int row, int col, double altitude) const {
  return albedo_at_day(diag, landuse_day_of_year(day, month, year), layer, row, col, altitude);
}

double landuse_entry::sr_stem_diameter_at_date(DiagStream& diag, int day, int month, int year,
                                               int layer, int row, int col, double altitude) const {
  return sr_stem_diameter_at_day(diag, landuse_day_of_year(day, month, year), layer, row, col,
                                 altitude);
}

double landuse_entry::sr_resid_covrg_at_date(DiagStream& diag, int day, int month, int year,
                                             int layer, int row, int col, double altitude) const {
  return sr_resid_covrg_at_day(diag, landuse_day_of_year(day, month, year), layer, row, col,
                               altitude);
}

double landuse_entry::n_factor_at_date(DiagStream& /*diag*/, int day, int month, int year) const {
  return n_factor_at_day(landuse_day_of_year(day, month, year));
}

double landuse_entry::n_factor_at_day(int jd) const {
  const int n = n_sample_days;
  if (n <= 0 || n_factor.size() < static_cast<size_t>(n) + 1)
    return n_factor.empty() ? N_FACTOR_MISSING : n_factor[0];
  const int* d = sample_days.data();
  int k = 1;
  if (!(d[1] < 0 || jd <= d[1])) {
    k = n + 1;
    for (int i = 2; i <= n; ++i) {
      if (d[i] < 0 || d[i] >= jd) {
        k = i;
        break;
      }
    }
    if (k == n + 1) {
      k = 1;
      jd -= 366;
    }
  }
  return interpolate_sample_days(n_factor, d, k, jd);
}

double landuse_entry::vegetation_start_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                              double altitude) const {
  const int start = StartVegetationPeriodForBalance;
  const int stop = StopVegetationPeriodForBalance;
  if (start == 0) return 0;
  if (has_start_day_series(method)) {
    if (const double* q = cell_series(start_day_series, layer, row, col)) {
      const int e = find_series_bracket(q, n_sample_days, jd).lo;
      return (start <= e && (e < stop || stop < start) && jd >= q[e]) ? jd : -1;
    }
  }
  day_scratch scratch(n_sample_days);
  int* c = scratch.data();
  correct_sample_days(diag, *this, altitude,
                      has_phenology_start(method) ? cell_pheno_start(*this, layer, row, col) : -1,
                      c);
  int x = jd;
  const int k = find_sample_interval(c, n_sample_days, x);
  return (start <= k && (k < stop || stop < start) && c[k] > 0 && x >= c[k]) ? jd : -1;
}

double landuse_entry::vegetation_stop_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                             double altitude) const {
  const int stop = StopVegetationPeriodForBalance;
  if (stop == 0) return 0;
  if (has_start_day_series(method)) {
    if (const double* q = cell_series(start_day_series, layer, row, col)) {
      const int e = find_series_bracket(q, n_sample_days, jd).lo;
      return (e == stop && jd == q[stop]) ? jd : -1;
    }
  }
  day_scratch scratch(n_sample_days);
  int* c = scratch.data();
  correct_sample_days(diag, *this, altitude,
                      has_phenology_start(method) ? cell_pheno_start(*this, layer, row, col) : -1,
                      c);
  int x = jd;
  const int k = find_sample_interval(c, n_sample_days, x);
  return (k == stop && x == c[stop]) ? jd : -1;
}
