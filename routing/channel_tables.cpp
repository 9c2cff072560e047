// W-q tables of the routing channels: Manning-Strickler uniform flow in a
// rectangular main channel, with the flow above bank-full depth shared with
// the flood plains until both carry the same water level.
#include "routing/channel_tables.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double MM_PER_LS_KM2_HOUR = 0.0036;  // [mm h-1] of 1 l s-1 km-2
constexpr double LITRES_PER_M3 = 1000;         // [l m-3]
constexpr double SECONDS_PER_HOUR = 3600;      // [s h-1]
constexpr double MINUTES_PER_HOUR = 60;        // [min h-1]
// mm per step of dt minutes -> l s-1 km-2: 1e6 / 60 with the program's rounding.
constexpr double MM_STEP_TO_LS_KM2 = 16666.668;
constexpr double SMALLEST_SPECIFIC = 1e-7;  // [l s-1 km-2] floor of the look-up

double positive_or(double value, double fallback) { return value > 0 ? value : fallback; }

// The storage constant a coefficient stands for: -step/ln(c), 0 for c = 1
// and -9999 when c is not above 0.
double listed_constant(double c, double step_hours) {
  if (c == 1) return 0;
  if (c <= 0) return -9999;
  return -step_hours / std::log(c);
}

}  // namespace

channel_params channel_params_from(const double (&v)[CHANNEL_VALUES]) noexcept {
  const channel_params d;
  channel_params p;
  p.k_main = positive_or(v[0], d.k_main);
  p.k_flood = positive_or(v[1], d.k_flood);
  p.width_main = positive_or(v[2], d.width_main);
  p.width_flood = positive_or(v[3], d.width_flood);
  p.depth_bankfull = positive_or(v[4], d.depth_bankfull);
  p.kst_main = positive_or(v[5], d.kst_main);
  p.kst_flood = positive_or(v[6], d.kst_flood);
  p.slope = v[7];
  p.length = positive_or(v[8], d.length);
  p.area = positive_or(v[9], d.area);
  return p;
}

double root_of_slope(double slope) noexcept {
  return slope > 0 ? std::sqrt(slope) : DEFAULT_ROOT_SLOPE;
}

double storage_coefficient(double k_hours, double step_hours) noexcept {
  return std::exp(-step_hours / k_hours);
}

double manning_velocity(double discharge, double width, double& depth, double& radius, double& v,
                        double kst, double root_slope, double tolerance, int max_iterations) {
  for (int it = 1;; ++it) {
    const double v_old = v;
    const double area = v_old > 0 ? discharge / v_old : 0.0;
    const double h = area / width;
    double r = 0;
    double v_new = 0;
    if (2 * h + width > 0) {
      r = area / (2 * h + width);
      v_new = r > 0 ? std::pow(r, MANNING_EXPONENT) * kst * root_slope : 0.0;
    }
    depth = h;
    radius = r;
    v = v_new;
    if (it >= max_iterations || std::fabs(v_old - v_new) <= tolerance) break;
  }
  return v;
}

std::string wq_table_refusal(double qmin, double qmax, double intervals) {
  if (!(qmin > 0)) return "the minimum specific discharge must be above 0";
  if (!(qmax > qmin)) return "the maximum specific discharge must be above the minimum";
  if (!(static_cast<int>(intervals) >= 1))
    return "the number of discharge intervals must be at least 1";
  return {};
}

wq_table build_wq_table(const channel_params& p, double root_slope, double qmin, double qmax,
                        double intervals, int a, double dt) {
  wq_table t;
  const int n = static_cast<int>(intervals);
  t.intervals = n;
  t.qmin = qmin;
  t.qmax = qmax;
  t.dlog = std::log(qmax / qmin) / intervals;
  const auto size = static_cast<size_t>(n) + 2;
  for (auto* column : {&t.q_spec, &t.q_mm, &t.Q, &t.v_mean, &t.v_main, &t.v_flood,
                       &t.travel_time, &t.radius_main, &t.radius_flood, &t.depth_main,
                       &t.depth_flood, &t.flood_share})
    column->assign(size, 0.0);
  t.delay.assign(size, 0);
  t.row_bounds.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int r = 0; r <= n; ++r) t.row_bounds[static_cast<size_t>(r)] = qmin * std::exp(r * t.dlog);

  double v_main = 1.0;  // each row starts from the velocity of the row before
  double v_flood = 0;
  for (int i = n + 1; i >= 1; --i) {
    const auto r = static_cast<size_t>(i);
    const double q = std::exp(std::log(qmax) + t.dlog - (n + 2 - i) * t.dlog);
    t.q_spec[r] = q;
    t.q_mm[r] = MM_PER_LS_KM2_HOUR * q * dt / MINUTES_PER_HOUR;
    t.Q[r] = q / LITRES_PER_M3 * p.area;
    double q_main = t.Q[r];
    double q_flood = 0;
    double depth_main = 0, radius_main = 0;
    double depth_flood = 0, radius_flood = 0;
    v_flood = 0;
    manning_velocity(q_main, p.width_main, depth_main, radius_main, v_main, p.kst_main, root_slope,
                     VELOCITY_TOLERANCE, VELOCITY_ITERATIONS);
    if (depth_main > p.depth_bankfull) {
      v_flood = v_main;
      for (int pass = 1; pass <= VELOCITY_ITERATIONS; ++pass) {
        const double old_depth = depth_main;
        const double level = (depth_flood + depth_main + p.depth_bankfull) / 2;
        depth_main = level;
        depth_flood = level - p.depth_bankfull;
        if (old_depth > level) {
          const double transfer = std::min(p.width_main * (old_depth - level) * v_main,
                                           p.width_flood * (old_depth - level) * v_flood);
          q_main -= transfer;
          q_flood += transfer;
        } else {
          const double transfer = std::min(p.width_main * (level - old_depth) * v_main,
                                           p.width_flood * (level - old_depth) * v_flood);
          q_main += transfer;
          q_flood -= transfer;
        }
        manning_velocity(q_main, p.width_main, depth_main, radius_main, v_main, p.kst_main,
                         root_slope, VELOCITY_TOLERANCE, VELOCITY_ITERATIONS);
        manning_velocity(q_flood, p.width_flood, depth_flood, radius_flood, v_flood, p.kst_flood,
                         root_slope, VELOCITY_TOLERANCE, VELOCITY_ITERATIONS);
        if (std::fabs(depth_main - depth_flood - p.depth_bankfull) <= FLOOD_DEPTH_TOLERANCE)
          break;
      }
    }
    t.v_main[r] = v_main;
    t.v_flood[r] = v_flood;
    const double total = q_main + q_flood;
    t.v_mean[r] = (q_main * v_main + q_flood * v_flood) / total;
    t.radius_main[r] = radius_main;
    t.radius_flood[r] = radius_flood;
    t.depth_main[r] = depth_main;
    t.depth_flood[r] = depth_flood;
    t.flood_share[r] = q_flood / total;
    t.travel_time[r] = p.length / t.v_mean[r] / SECONDS_PER_HOUR;
  }

  const double step_hours = dt / MINUTES_PER_HOUR;
  const double slow = t.travel_time[1];
  const double fast = t.travel_time[static_cast<size_t>(n) + 1];
  int subchannels = 1;
  if (std::isfinite(slow) && slow > fast + step_hours) {
    subchannels = 2;
    while (slow / subchannels > fast / subchannels + step_hours) ++subchannels;
  }
  t.subchannels = subchannels;
  int largest = 0;
  for (int i = 1; i <= n + 1; ++i) {
    const double d = std::trunc(a * MINUTES_PER_HOUR * t.travel_time[static_cast<size_t>(i)] /
                                (subchannels * dt));
    const int delay =
        d < static_cast<double>(std::numeric_limits<int>::max() / 4) ? static_cast<int>(d) : 0;
    t.delay[static_cast<size_t>(i)] = delay;
    largest = std::max(largest, delay);
  }
  t.storage_elements = (largest + a) * subchannels;
  return t;
}

int wq_table_standing_row(const wq_table& t) {
  for (int i = 1; i <= t.rows(); ++i) {
    const double v = t.v_mean[static_cast<size_t>(i)];
    if (!(v > 0) || !std::isfinite(t.travel_time[static_cast<size_t>(i)])) return i;
  }
  return 0;
}

namespace {

// The row by its definition: ceil(ln(s / qmin) / dlog), within 1..n+1.
int row_by_logarithm(const wq_table& t, double s) noexcept {
  const double row = std::ceil(std::log(s / t.qmin) / t.dlog);
  if (!(row >= 1)) return 1;
  if (row > t.intervals + 1) return t.intervals + 1;
  return static_cast<int>(row);
}

}  // namespace

int wq_interval_index(const wq_table& t, double x_mm, double dt) noexcept {
  if (!(t.dlog > 0)) return 1;
  const double s = std::max(SMALLEST_SPECIFIC, x_mm * MM_STEP_TO_LS_KM2 / dt);
  // The row bounds give the same row without a logarithm; values next to a
  // bound, where rounding could tip the logarithm, take the definition.
  constexpr double NEAR = 1e-9;  // [-] relative distance to a bound
  const std::vector<double>& b = t.row_bounds;
  if (b.empty() || !(s > 0) || !(s < std::numeric_limits<double>::infinity()))
    return row_by_logarithm(t, s);
  const auto above = std::lower_bound(b.begin(), b.end(), s);
  const auto r = static_cast<int>(above - b.begin());
  if ((above != b.end() && s >= *above * (1 - NEAR)) || (r > 0 && s <= b[r - 1] * (1 + NEAR)))
    return row_by_logarithm(t, s);
  if (r == 0) return 1;
  return r;
}

int whole_hours_at_qmin(const wq_table& t) noexcept {
  if (t.travel_time.size() < 2) return 0;
  return static_cast<int>(std::trunc(t.travel_time[1]));
}

void write_wq_listing(std::FILE* out, const std::string& heading, const channel_params& p,
                      double c_main, double c_flood, double root_slope, const wq_table& t, int a,
                      double dt) {
  const double step_hours = dt / MINUTES_PER_HOUR;
  std::fputs(heading.c_str(), out);
  std::fputs("input parameters from the control file:\n", out);
  std::fputs("------------------------------------------\n", out);
  std::fprintf(out, "storage constant mean channel [h] : %7.2f\n",
               listed_constant(c_main, step_hours));
  std::fprintf(out, "storage constant flood plain [h]  : %7.2f\n",
               listed_constant(c_flood, step_hours));
  std::fprintf(out, "width of the mean channel [m]     : %7.2f\n", p.width_main);
  std::fprintf(out, "width of flood plains  [m]        : %7.2f\n", p.width_flood);
  std::fprintf(out, "depth of mean channel  [m]        : %7.2f\n", p.depth_bankfull);
  std::fprintf(out, "Manning-coef. mean chan[m^(1/3)/s]: %7.2f\n", p.kst_main);
  std::fprintf(out, "Manning-ceof. flood pl.[m^(1/3)/s]: %7.2f\n", p.kst_flood);
  std::fprintf(out, "slope angle            [1/1]      : %7.4f\n", root_slope * root_slope);
  std::fprintf(out, "channel length         [m]        : %7.1f\n", p.length);
  std::fprintf(out, "catchment area         [km^2]     : %7.2f\n", p.area);
  std::fprintf(out, "min. %s discharge   [l/s/km^2] : %7.1f\n", SPECIFIC_SHORT.c_str(), t.qmin);
  std::fprintf(out, "max. %s discharge   [l/s/km^2] : %7.1f\n", SPECIFIC_SHORT.c_str(), t.qmax);
  std::fprintf(out, "intervals for w-q-table[-]        : %7.0f\n",
               static_cast<double>(t.intervals) + 1);
  std::fprintf(out, "sub-intervals (time)   [-]        : %7d  \n", a);
  std::fprintf(out, "number of sub-channels            : %7.0f\n",
               static_cast<double>(t.subchannels));
  std::fprintf(out, "total number of storage elements  : %7d  \n", a + t.storage_elements);
  const std::string dashes(79, '-');
  std::fprintf(out, "%s\n", dashes.c_str());
  std::fputs("  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qm/Q \n",
             out);
  std::fputs("     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n",
             out);
  std::fprintf(out, "%s\n", dashes.c_str());
  for (int i = 1; i <= t.rows(); ++i) {
    const auto r = static_cast<size_t>(i);
    std::fprintf(out,
                 "%3d  %5.3f %6.1f %7.2f  %5.2f %5.2f %5.2f  %5.2f  %5.2f  %5.2f  %3d   %5.3f\n",
                 i, t.q_mm[r], t.q_spec[r], t.Q[r], t.depth_main[r], t.depth_flood[r],
                 t.v_mean[r], t.v_main[r], t.v_flood[r], t.travel_time[r], t.delay[r],
                 t.flood_share[r]);
  }
}
