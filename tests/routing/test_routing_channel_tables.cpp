// W-q tables of a rectangular channel checked against uniform flow
// (Manning-Strickler, Q = b h kst R^0.66667 sqrt(S) with R = b h / (b + 2h)),
// the sub-channel rule and the listing layout.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include <algorithm>

#include "routing/channel_tables.h"
#include "support/test_support.h"

namespace {

// A channel that stays in its main bed: bank-full depth far above any flow.
channel_params main_bed() {
  channel_params p;
  p.k_main = 2;
  p.k_flood = 4;
  p.width_main = 12;
  p.width_flood = 60;
  p.depth_bankfull = 50;
  p.kst_main = 30;
  p.kst_flood = 15;
  p.slope = 0.002;
  p.length = 20000;
  p.area = 150;
  return p;
}

TEST(ChannelTables, DefaultsReplaceValuesNotAboveZero) {
  const double raw[CHANNEL_VALUES] = {0, -1, 0, 0, 0, 0, 0, 0, 0, 0};
  const channel_params p = channel_params_from(raw);
  // Defaults of the channel values as the control file documents them.
  EXPECT_DOUBLE_EQ(p.k_main, 0.01);
  EXPECT_DOUBLE_EQ(p.k_flood, 0.01);
  EXPECT_DOUBLE_EQ(p.width_main, 0.1);
  EXPECT_DOUBLE_EQ(p.width_flood, 0.1);
  EXPECT_DOUBLE_EQ(p.depth_bankfull, 0.1);
  EXPECT_DOUBLE_EQ(p.kst_main, 1.0);
  EXPECT_DOUBLE_EQ(p.kst_flood, 1.0);
  EXPECT_DOUBLE_EQ(p.length, 1.0);
  EXPECT_DOUBLE_EQ(p.area, 0.000001);
  EXPECT_DOUBLE_EQ(root_of_slope(p.slope), 0.0316);
  EXPECT_DOUBLE_EQ(root_of_slope(0.04), 0.2);
}

TEST(ChannelTables, StorageCoefficientFollowsTheStepLength) {
  // Linear storage over a step of T hours: exp(-T / k).
  EXPECT_NEAR(storage_coefficient(10, 1), std::exp(-0.1), 1e-15);
  EXPECT_NEAR(storage_coefficient(10, 24), std::exp(-2.4), 1e-15);
}

TEST(ChannelTables, MainChannelRowsAreUniformFlow) {
  const channel_params p = main_bed();
  const double root = root_of_slope(p.slope);
  const wq_table t = build_wq_table(p, root, 1, 2000, 30, 1, 60);
  ASSERT_EQ(t.rows(), 31);
  // q_1 = qmin, q_{n+1} = qmax, log-spaced in between.
  EXPECT_NEAR(t.q_spec[1], 1, 1e-12);
  EXPECT_NEAR(t.q_spec[31], 2000, 1e-9);
  EXPECT_NEAR(t.q_spec[16] / t.q_spec[15], std::pow(2000.0, 1.0 / 30), 1e-12);
  for (int i = 1; i <= t.rows(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_DOUBLE_EQ(t.flood_share[i], 0);
    ASSERT_DOUBLE_EQ(t.v_flood[i], 0);
    const double h = t.depth_main[i];
    const double r = p.width_main * h / (p.width_main + 2 * h);
    EXPECT_NEAR(t.radius_main[i], r, 1e-12 * r);
    const double q_uniform = p.width_main * h * p.kst_main * std::pow(r, 0.66667) * root;
    // The iteration stops once |v_old - v_new| <= 0.005 m/s.
    EXPECT_LE(std::fabs(q_uniform - t.Q[i]) / t.Q[i], 0.005 / t.v_main[i] + 1e-12);
    EXPECT_NEAR(t.travel_time[i], p.length / t.v_mean[i] / 3600, 1e-12);
    // Q = q / 1000 * A, q_mm = 0.0036 q dt / 60.
    EXPECT_NEAR(t.Q[i], t.q_spec[i] / 1000 * p.area, 1e-12 * t.Q[i]);
    EXPECT_NEAR(t.q_mm[i], 0.0036 * t.q_spec[i], 1e-15);
  }
}

TEST(ChannelTables, FloodPlainsShareTheWaterAboveBankFull) {
  channel_params p = main_bed();
  p.depth_bankfull = 1.0;
  const wq_table t = build_wq_table(p, root_of_slope(p.slope), 1, 2000, 30, 1, 60);
  int flooded = 0;
  for (int i = 1; i <= t.rows(); ++i) {
    if (t.flood_share[i] == 0) {
      EXPECT_LE(t.depth_main[i], p.depth_bankfull + 1e-9);
      EXPECT_EQ(t.depth_flood[i], 0);
      continue;
    }
    ++flooded;
    // Same water level in both parts, within the iteration's 0.01 m.
    EXPECT_NEAR(t.depth_main[i] - t.depth_flood[i], p.depth_bankfull, 0.01 + 1e-9);
    EXPECT_GT(t.flood_share[i], 0);
    EXPECT_LT(t.flood_share[i], 1);
  }
  EXPECT_GT(flooded, 0);
  EXPECT_EQ(t.flood_share[1], 0);
}

TEST(ChannelTables, SubChannelsKeepTheSpreadWithinOneStep) {
  const channel_params p = main_bed();
  const double root = root_of_slope(p.slope);
  const wq_table hourly = build_wq_table(p, root, 1, 2000, 30, 1, 60);
  const double spread = hourly.travel_time[1] - hourly.travel_time[31];  // [h]
  ASSERT_GT(spread, 0.5);
  // A step a little longer than the spread: one sub-channel.
  const wq_table one = build_wq_table(p, root, 1, 2000, 30, 1, spread * 60 * 1.01);
  EXPECT_EQ(one.subchannels, 1);
  // A spread of 2.5 steps needs three sub-channels.
  const double dt = spread / 2.5 * 60;
  const wq_table three = build_wq_table(p, root, 1, 2000, 30, 2, dt);
  EXPECT_EQ(three.subchannels, 3);
  // delay = trunc(a 60 t / (P dt)); storage elements (E + a) P.
  EXPECT_EQ(three.delay[1], static_cast<int>(2 * 60 * three.travel_time[1] / (3 * dt)));
  EXPECT_EQ(three.storage_elements, (three.delay[1] + 2) * 3);
}

TEST(ChannelTables, LookUpRows) {
  const channel_params p = main_bed();
  const wq_table t = build_wq_table(p, root_of_slope(p.slope), 10, 1000, 2, 1, 60);
  // q = 10, 100, 1000 l/s/km2 = 0.036, 0.36, 3.6 mm per hour.
  EXPECT_EQ(wq_interval_index(t, 0.0, 60), 1);
  EXPECT_EQ(wq_interval_index(t, -5.0, 60), 1);
  EXPECT_EQ(wq_interval_index(t, 0.2, 60), 1);  // between q_1 and q_2
  EXPECT_EQ(wq_interval_index(t, 1.0, 60), 2);  // between q_2 and q_3
  EXPECT_EQ(wq_interval_index(t, 500.0, 60), 3);
  EXPECT_EQ(whole_hours_at_qmin(t), static_cast<int>(t.travel_time[1]));
}

TEST(ChannelTables, LookUpFollowsItsDefinition) {
  // Row = ceil(ln(s / qmin) / dlog) within 1..n+1, s = x 16666.668 / dt
  // [l/s/km2], at least 1e-7: checked on values spread over the table and
  // on values next to every row bound.
  const channel_params p = main_bed();
  const wq_table t = build_wq_table(p, root_of_slope(p.slope), 2, 1500, 37, 1, 60);
  auto by_definition = [&](double x) {
    const double s = std::max(1e-7, x * 16666.668 / 60);
    const double row = std::ceil(std::log(s / t.qmin) / t.dlog);
    if (!(row >= 1)) return 1;
    return row > t.intervals + 1 ? t.intervals + 1 : static_cast<int>(row);
  };
  std::vector<double> values = {0, 1e-12, 1e9};
  for (double x = 1e-4; x < 50; x *= 1.01) values.push_back(x);
  for (int r = 0; r <= t.intervals; ++r) {
    const double bound_mm = t.qmin * std::exp(r * t.dlog) * 60 / 16666.668;
    for (const double f : {1 - 1e-7, 1 - 1e-12, 1.0, 1 + 1e-12, 1 + 1e-7})
      values.push_back(bound_mm * f);
  }
  for (const double x : values) {
    SCOPED_TRACE(x);
    ASSERT_EQ(wq_interval_index(t, x, 60), by_definition(x));
  }
}

TEST(ChannelTables, RangesThatGiveNoTableAreRefused) {
  EXPECT_TRUE(wq_table_refusal(1, 100, 10).empty());
  EXPECT_FALSE(wq_table_refusal(0, 100, 10).empty());
  EXPECT_FALSE(wq_table_refusal(-1, 100, 10).empty());
  EXPECT_FALSE(wq_table_refusal(10, 10, 10).empty());
  EXPECT_FALSE(wq_table_refusal(10, 100, 0).empty());
  EXPECT_FALSE(wq_table_refusal(10, 100, 0.5).empty());
}

TEST(ChannelTables, ListingLayout) {
  scratch_dir dir;
  const double raw[CHANNEL_VALUES] = {10, 0, 8, 20, 2, 25, 12, 0, 1000, 100};
  const channel_params p = channel_params_from(raw);
  const double root = root_of_slope(p.slope);
  const wq_table t = build_wq_table(p, root, 10, 1000, 2, 1, 60);
  const std::string path = dir.file("listing");
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  write_wq_listing(f, "head\n", p, storage_coefficient(10, 1), storage_coefficient(0.01, 1),
                   root, t, 1, 60);
  std::fclose(f);
  const std::string text = read_file(path);
  const std::string expected_head =
      "head\n"
      "input parameters from the control file:\n"
      "------------------------------------------\n"
      "storage constant mean channel [h] :   10.00\n"
      "storage constant flood plain [h]  :    0.01\n"
      "width of the mean channel [m]     :    8.00\n"
      "width of flood plains  [m]        :   20.00\n"
      "depth of mean channel  [m]        :    2.00\n"
      "Manning-coef. mean chan[m^(1/3)/s]:   25.00\n"
      "Manning-ceof. flood pl.[m^(1/3)/s]:   12.00\n"
      "slope angle            [1/1]      :  0.0010\n"
      "channel length         [m]        :  1000.0\n"
      "catchment area         [km^2]     :  100.00\n"
      "min. " + SPECIFIC_SHORT + " discharge   [l/s/km^2] :    10.0\n"
      "max. " + SPECIFIC_SHORT + " discharge   [l/s/km^2] :  1000.0\n"
      "intervals for w-q-table[-]        :       3\n"
      "sub-intervals (time)   [-]        :       1  \n";
  ASSERT_EQ(text.substr(0, expected_head.size()), expected_head);
  // The labels line up: every value of the head follows a colon in column 35.
  for (size_t at = expected_head.find("storage"); at < expected_head.size();) {
    const size_t end = expected_head.find('\n', at);
    EXPECT_EQ(expected_head.find(':', at) - at, 34u) << expected_head.substr(at, end - at);
    at = end + 1;
  }
  const std::string dashes(79, '-');
  EXPECT_NE(text.find(dashes + "\n  #    q      q       Q     dm    df     v      vm     vf     t  "
                               " delta   Qm/Q \n     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  "
                               "[m/s]  [m/s]  [h]  [Int]   [1/1]\n" +
                      dashes + "\n"),
            std::string::npos);
  // Rows: q = 10, 100, 1000 l/s/km2 = 0.036, 0.36, 3.6 mm/h; Q = q / 1000 * 100 km2.
  EXPECT_NE(text.find("\n  1  0.036   10.0    1.00  "), std::string::npos);
  EXPECT_NE(text.find("\n  2  0.360  100.0   10.00  "), std::string::npos);
  EXPECT_NE(text.find("\n  3  3.600 1000.0  100.00  "), std::string::npos);
}

}  // namespace
