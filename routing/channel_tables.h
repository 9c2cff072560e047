// Water-level/discharge (w-q) tables of the routing channels. A channel is a
// rectangular main channel with rectangular flood plains beside it; for
// discharges spaced evenly on a logarithmic scale between a minimum and a
// maximum specific discharge the table holds depths and velocities from the
// Manning-Strickler formula v = kst R^0.66667 sqrt(S), the travel time
// through the channel and the resulting delay in sub-intervals, and the
// number of sub-channels the channel is divided into. Pure functions: the
// reach keeps the tables and the sub-channel states.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Manning-Strickler exponent of the hydraulic radius, as the tables use it.
constexpr double MANNING_EXPONENT = 0.66667;     // [-]
constexpr double VELOCITY_TOLERANCE = 0.005;     // [m s-1]
constexpr int VELOCITY_ITERATIONS = 50;          // [-]
constexpr double FLOOD_DEPTH_TOLERANCE = 0.01;   // [m]
constexpr double DEFAULT_ROOT_SLOPE = 0.0316;    // [-] root of the slope when none is given

// The ten channel values of a routing entry, in the order they are read.
// A value not greater than 0 takes the default of its member.
struct channel_params {
  double k_main = 0.01;        // [h] storage constant of the main channel
  double k_flood = 0.01;       // [h] storage constant of the flood plains
  double width_main = 0.1;     // [m]
  double width_flood = 0.1;    // [m]
  double depth_bankfull = 0.1; // [m] depth of the main channel
  double kst_main = 1.0;       // [m^(1/3) s-1]
  double kst_flood = 1.0;      // [m^(1/3) s-1]
  double slope = 0;            // [-]; not above 0: root DEFAULT_ROOT_SLOPE
  double length = 1.0;         // [m]
  double area = 0.000001;      // [km2] catchment area of the channel
};
constexpr int CHANNEL_VALUES = 10;

// Labels shorten "specific discharge" (discharge per area) to the first four
// letters of "specific" and a full stop, as the control files and the channel
// tables users read have always had it.
inline const std::string SPECIFIC_SHORT = std::string("specific").substr(0, 4) + ".";

// The values as read, defaults put in for values not greater than 0.
channel_params channel_params_from(const double (&values)[CHANNEL_VALUES]) noexcept;
// Root of the slope: sqrt(slope) when above 0, else DEFAULT_ROOT_SLOPE.
double root_of_slope(double slope) noexcept;
// Storage coefficient of a linear storage with constant k [h] over a step of
// step_hours: exp(-step_hours / k).
double storage_coefficient(double k_hours, double step_hours) noexcept;

// Uniform flow in a rectangular channel: iterates v -> Q/v -> depth ->
// hydraulic radius -> kst R^0.66667 root_slope from the v given, at most
// max_iterations times or until |v_old - v_new| <= tolerance. Leaves depth,
// radius and v in the out-arguments and returns v.
double manning_velocity(double discharge, double width, double& depth, double& radius, double& v,
                        double kst, double root_slope, double tolerance, int max_iterations);

// Rows 1..n+1 of the table (row 0 unused) and what follows from them.
struct wq_table {
  int intervals = 0;  // n
  double qmin = 0;    // [l s-1 km-2]
  double qmax = 0;    // [l s-1 km-2]
  double dlog = 0;    // ln(qmax/qmin)/n
  std::vector<double> q_spec;        // [l s-1 km-2]
  std::vector<double> q_mm;          // [mm per step]
  std::vector<double> Q;             // [m3 s-1]
  std::vector<double> v_mean;        // [m s-1]
  std::vector<double> v_main;        // [m s-1]
  std::vector<double> v_flood;       // [m s-1]
  std::vector<double> travel_time;   // [h]
  std::vector<double> radius_main;   // [m]
  std::vector<double> radius_flood;  // [m]
  std::vector<double> depth_main;    // [m]
  std::vector<double> depth_flood;   // [m]
  std::vector<int> delay;            // [sub-intervals] per sub-channel
  std::vector<double> flood_share;   // [-] Q_flood / Q
  // [l s-1 km-2] qmin e^(r dlog), r = 0..n: the specific discharges at
  // which the look-up moves to the next row.
  std::vector<double> row_bounds;
  int subchannels = 1;               // P
  int storage_elements = 0;          // (E + a) P, E the largest delay
  int rows() const { return intervals + 1; }
};

// Why a table cannot be built; empty when it can.
std::string wq_table_refusal(double qmin, double qmax, double intervals);

// Builds the table for a channel (root_slope as root_of_slope gives it), a
// sub-intervals per step of step_minutes. The arguments must pass
// wq_table_refusal; a row whose mean velocity is 0 leaves the travel time
// infinite, which the caller refuses (wq_table_has_standing_water).
wq_table build_wq_table(const channel_params& p, double root_slope, double qmin, double qmax,
                        double intervals, int a, double step_minutes);
// A row whose mean velocity is not above 0 (no travel time): the first such
// row, or 0 when every row flows.
int wq_table_standing_row(const wq_table& t);

// The row whose specific discharge covers the runoff depth x [mm per step].
int wq_interval_index(const wq_table& t, double x_mm, double step_minutes) noexcept;

// Longest travel time of the channel in whole hours at the smallest
// discharge (row 1), cut toward zero.
int whole_hours_at_qmin(const wq_table& t) noexcept;

// The listing of one channel; heading is its first line (with its line
// break). c_main, c_flood are the storage coefficients, step_minutes the step
// they belong to.
void write_wq_listing(std::FILE* out, const std::string& heading, const channel_params& p,
                      double c_main, double c_flood, double root_slope, const wq_table& t, int a,
                      double step_minutes);
