// The routing step: the comparison with observed discharge (efficiency
// R^2 = 1 - sum (R - O)^2 / sum (O - mean O)^2 of Nash and Sutcliffe 1970,
// which the framework's R-square equals when pairs and observations count
// alike), external inflow files, tributaries that run dry, river-flow
// records, and the water balance of a channel over a run.
#include <gtest/gtest.h>

#include <cmath>

#include "modelbase/routstat.h"
#include "routing/abfluss_fixture.h"
#include "settings/tracer_entry.h"

namespace {

// One subbasin whose description has no channel and the factor 1: the
// routed value is its runoff, so the comparison sees the values set here.
struct single_basin : routing_fixture {
  explicit single_basin(const std::vector<double>& observed, int offset = 0)
      : routing_fixture(routing_zones({1}, {1.0}, 10)) {
    write("obs.txt", hourly_table(observed));
    routing_section s;
    s.observed = "obs.txt";
    s.columns = {{1, 1}};
    s.offset = offset;
    s.descriptions = {"TG 1 (A= 10, f= 1)"};
    build(s);
  }
  // Steps t = 1.. with the routed values given.
  void run(const std::vector<double>& routed) {
    for (size_t t = 0; t < routed.size(); ++t) {
      qg[0][1] = routed[t];
      module->time_step(static_cast<int64_t>(t % 24), 1 + static_cast<int64_t>(t / 24), 1, 2000);
    }
  }
};

std::vector<double> padded(std::vector<double> v, size_t length) {
  v.resize(length, 0.0);
  return v;
}

TEST(AbflussStep, EfficiencyOfRoutedAgainstObserved) {
  // Observed 1..10, routed 2..11: 1 - 10 / 82.5 = 0.8787879 at shift 0.
  single_basin b(padded({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 40));
  ASSERT_EQ(b.status, 0) << b.f.console();
  ASSERT_EQ(b.start(), 0);
  ASSERT_TRUE(b.module->observed_file_open());
  b.run({2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  const comparison_sums& s = b.module->rsquare(10, 1);
  EXPECT_EQ(s[0], 10);
  EXPECT_EQ(s[1], 10);
  EXPECT_NEAR(efficiency_of(s).r_square, 0.8787879, 5e-8);
  EXPECT_EQ(b.module->get_comparison_step(), 10);
}

TEST(AbflussStep, EfficiencyIsOneOnlyAtTheShiftOfTheSeries) {
  std::vector<double> observed;
  for (int t = 1; t <= 40; ++t) observed.push_back(1 + (t * 7 % 11) + t / 3.0);
  single_basin b(observed);
  ASSERT_EQ(b.status, 0);
  ASSERT_EQ(b.start(), 0);
  // Routed value of step t = observed value of step t + 2.
  std::vector<double> routed(observed.begin() + 2, observed.begin() + 22);
  b.run(routed);
  for (int j = 0; j < EFFICIENCY_SHIFTS; ++j) {
    SCOPED_TRACE(j - 10);
    const double e = efficiency_of(b.module->rsquare(j, 1)).r_square;
    if (j == 12)
      EXPECT_EQ(e, 1.0);
    else
      EXPECT_LT(e, 0.999);
  }
  EXPECT_EQ(b.module->rsquare(12, 1)[0], 20);
}

TEST(AbflussStep, OffsetAndValuesThatCountNot) {
  // Offset 5: the sixth step is the first to count.
  single_basin late(padded({1, 2, 3, 4, 5, 6}, 40), 5);
  ASSERT_EQ(late.start(), 0);
  late.run({1, 1, 1, 1, 1});
  EXPECT_EQ(late.module->rsquare(10, 1)[0], 0);
  late.run({1});
  EXPECT_EQ(late.module->rsquare(10, 1)[0], 1);

  // Observed 0 and below count nowhere; a routed 0 counts only linearly.
  single_basin b(padded({2, 0, -1, 4, 5}, 40));
  ASSERT_EQ(b.start(), 0);
  b.run({1, 1, 1, 0, 3});
  const comparison_sums& lin = b.module->rsquare(10, 1);
  const comparison_sums& log = b.module->log_rsquare(10, 1);
  EXPECT_EQ(lin[0], 3);
  EXPECT_EQ(lin[4], 2 + 4 + 5);
  EXPECT_EQ(log[0], 2);
  EXPECT_NEAR(log[4], std::log(2.0) + std::log(5.0), 1e-14);
  // The registry holds the observed value of the step itself.
  EXPECT_EQ(b.module->routed_statistic()->observed_values()[1], 5);
}

TEST(AbflussStep, EndOfTheObservedFile) {
  single_basin b({1, 2, 3});
  ASSERT_EQ(b.start(), 0);
  // Rows 1..3 fill window rows 10..12; rows 13..20 each meet the end of the
  // file (8). Steps 1 and 2 still compare and count it up to 10; from step 3
  // on nothing is compared.
  EXPECT_EQ(b.module->get_observed_end_count(), 8);
  b.run(std::vector<double>(12, 1.0));
  EXPECT_EQ(b.module->get_observed_end_count(), 10);
  EXPECT_EQ(b.module->get_comparison_step(), 2);
  EXPECT_EQ(b.module->rsquare(10, 1)[0], 2);
  const std::string log = b.f.console();
  EXPECT_TRUE(logged(log, "INFO: end of discharge file reached!"));
  EXPECT_TRUE(logged(log, "INFO: observed runoff: actual date 1.1.2000 2h not found (end of "
                          "discharge file at 1.1.2000, 2h)"))
      << log;
}

TEST(AbflussStep, WithoutObservedFileNothingIsCompared) {
  routing_fixture rf(routing_zones({1}, {1.0}, 10));
  routing_section s;
  s.flow_control = 2;
  s.columns = {{1, 1}};
  s.descriptions = {"TG 1 (A= 10, f= 1)"};
  rf.build(s);
  ASSERT_EQ(rf.status, 0);
  EXPECT_TRUE(logged(rf.f.console(), "INFO: error opening no_such_file.txt\nRouting will be done "
                                "without comparison to observed discharge data!"));
  ASSERT_EQ(rf.start(), 0);
  rf.qg[0][1] = 2;
  rf.module->time_step(0, 1, 1, 2000);
  EXPECT_FALSE(rf.module->observed_file_open());
  EXPECT_EQ(rf.module->get_routing_flows()[0][1], 2);
}

// A reach with one external inflow channel on subbasin 1 (20 km2 channel area).
struct inflow_basin : routing_fixture {
  explicit inflow_basin(const std::string& file_text, int start_row = 2)
      : routing_fixture(routing_zones({1}, {1.0}, 10)) {
    write("inflow.txt", file_text);
    routing_section s;
    s.descriptions = {"TG 1 (A= 10, f= 1)", "ZL 1 (m= extern inflow.txt " +
                                               std::to_string(start_row) + " 1, " +
                                               channel_values().substr(1)};
    build(s);
  }
  int step(int hour) {
    try {
      module->time_step(hour, 1, 1, 2000);
    } catch (int code) {
      return code;
    }
    return 0;
  }
};

TEST(AbflussStep, ExternalInflowFiles) {
  inflow_basin b(hourly_table({10, -9999, 4}));
  ASSERT_EQ(b.status, 0) << b.f.console();
  ASSERT_EQ(b.start(), 0);
  const int zl = 2;  // flow index nsub + 1
  ASSERT_EQ(b.step(0), 0);
  // 10 m3/s over 20 km2 for 60 min: 10 x 0.06 x 60 / 20 = 1.8 mm.
  EXPECT_NEAR(b.module->get_routing_flows()[0][zl], 1.8, 1e-12);
  ASSERT_EQ(b.step(1), 0);
  EXPECT_EQ(b.module->get_routing_flows()[0][zl], 0);
  ASSERT_EQ(b.step(2), 0);
  // One row too few: the next step stops with 39.
  EXPECT_EQ(b.step(3), 39);
  EXPECT_TRUE(logged(b.f.console(), "FATAL: error reading from inflow.txt (or from its buffer) for "
                               "inflow 1\nreached end of file!"));

  inflow_basin late(hourly_table({1, 2, 3}));
  ASSERT_EQ(late.start(), 0);
  EXPECT_EQ(late.step(5), 36);
  EXPECT_TRUE(logged(late.f.console(), "FATAL: error comparing dates in inflow.txt:\n     read: "
                                  "2000.1.1, 0. h,\nshould be: 2000.1.1, 5. h.\n"));

  // The start date lies before the file's first row (start row 3 = 1 h).
  inflow_basin missing(hourly_table({1, 2, 3}), 3);
  EXPECT_EQ(missing.status, 38);
  EXPECT_TRUE(logged(missing.f.console(), "FATAL: starting date 1.1.2000, 0. h in inflow.txt not "
                                     "found (search started at row 3)"));

  routing_fixture none(routing_zones({1}, {1.0}, 10));
  routing_section s;
  s.descriptions = {"TG 1 (A= 10, f= 1)",
                    "ZL 1 (m= extern absent.txt 2 1, " + channel_values().substr(1)};
  none.build(s);
  EXPECT_EQ(none.status, 37);
  EXPECT_TRUE(logged(none.f.console(), "FATAL: error opening absent.txt for inflow 1"));
}

TEST(AbflussStep, DryTributariesCarryNoTracer) {
  tracer_entry tracers[2];
  tracers[1].name = "cl_";
  routing_fixture rf(routing_zones({1, 2, 3, 4}, {0.1, 0.2, 0.3, 0.4}, 100));
  routing_section s;
  s.descriptions = {"TG 4 (A= 100, f= 1)", "SUMTRIB 2&3 " + channel_values()};
  rf.build(s, 1, tracers);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  rf.qg[0][4] = 1.0;
  rf.qg[1][4] = 3.0;
  rf.qg[1][2] = 7.0;  // concentration of water that is not there
  ASSERT_EQ(rf.start(), 0);
  for (int t = 0; t < 3; ++t) rf.module->time_step(t, 1, 1, 2000);
  const subbasin_flow_arrays& f = rf.module->get_routing_flows();
  // Only subbasin 4 gives water: 1 mm x its share of the reach, 0.4 / 0.9.
  EXPECT_NEAR(f[0][4], 0.4 / 0.9, 1e-12);
  EXPECT_EQ(f[1][4], 3.0);
}

TEST(AbflussStep, RiverFlowRecordsAndTakenWater) {
  routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 40));
  routing_section s;
  s.descriptions = {"TG 2 (A= 40, f= 1)", "OL 1 " + channel_values()};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  riverflow_table table(3);
  rf.qg[0][1] = 2.0;
  ASSERT_EQ(rf.start(), 0);
  m.set_riverflow_table(&table);
  EXPECT_EQ(table[1].reach_number, 1);
  EXPECT_EQ(table[1].channel_index, 1);
  EXPECT_EQ(table[1].catchment_area, 20);
  EXPECT_EQ(table[2].reach_number, 0);  // the reach's own subbasin has no record
  // 1 m3/s taken over 20 km2 in 60 min: 1 x 0.06 x 60 / 20 = 0.18 mm.
  table[1].taken = 1.0;
  m.time_step(0, 1, 1, 2000);
  EXPECT_EQ(table[1].taken, 0);
  EXPECT_NEAR(m.get_interval_flows()[0][1][1], 2.0 - 0.18, 1e-12);
  EXPECT_EQ(table[1].flow_mm[0], 2.0);
  // 2 mm per hour over 20 km2: 2 x 20 x 16.6666667 / 60 m3/s.
  EXPECT_NEAR(table[1].flowm3s, 2 * 20 * 16.6666667 / 60, 1e-12);
  const reach_channel& ch = m.reach(1).channel(1);
  EXPECT_EQ(table[1].speed, ch.table.v_mean[wq_interval_index(ch.table, 2.0, 60)]);
}

TEST(AbflussStep, ChannelWaterBalanceOverARun) {
  // Subbasin 1 drains through one channel into the outlet of 2, whose own
  // runoff is 0: the outlet sees the channel's outflow times its share 0.5.
  for (const std::string range : {"1 3000 40 1", "1 3000 40 3"}) {
    SCOPED_TRACE(range);
    routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 40));
    routing_section s;
    s.range = range;
    s.descriptions = {"TG 2 (A= 40, f= 1)", "OL 1 " + channel_values(3, 6, 1000, 90000)};
    abflussmodellklasse& m = rf.build(s);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    rf.qg[0][1] = 0.4;
    ASSERT_EQ(rf.start(), 0);
    routingclass& r = m.reach(1);
    const int a = range == "1 3000 40 1" ? 1 : 3;
    const channel_water w0 = r.water_of(1);
    double in = 0, out = 0;
    for (int t = 0; t < 300; ++t) {
      rf.qg[0][1] = (t / 30) % 2 == 0 ? 0.02 + 0.001 * (t % 7) : 6.0 + (t % 5);
      m.time_step(t % 24, 1 + t / 24, 1, 2000);
      in += a * rf.qg[0][1];
      out += a * m.get_routing_flows()[0][2] / 0.5;
    }
    const channel_water w1 = r.water_of(1);
    const double change = (w1.queued + w1.stored + w1.displaced) -
                          (w0.queued + w0.stored + w0.displaced);
    EXPECT_NEAR(in, out + change, 1e-9 * in);
  }
}

TEST(AbflussStep, IrrigationDemandIsTakenOnceAndPassedDown) {
  // Subbasin 1 (own reach, no channel) drains through a short channel with
  // no storage into 2. Demands as weighted sums: 0.4 / 2 = 0.2 mm and 0.1 mm.
  routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 40));
  routing_section s;
  s.descriptions = {"TG 1 (A= 20, f= 1)", "TG 2 (A= 40, f= 1)",
                    "OL 1 " + channel_values(0.01, 0.01, 1000, 1)};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  rf.qg[0][1] = 2;
  rf.qg[0][2] = 4;
  ASSERT_EQ(rf.start(), 0);
  std::vector<zone_record> demand(3);
  demand[1] = {0, 0.4, 1, 0.5, 2};
  demand[2] = {0, 0.1, 2, 0.5, 1};
  m.set_irrigation_demand(&demand);
  m.time_step(0, 1, 1, 2000);
  const subbasin_flow_arrays& f = m.get_routing_flows();
  const subbasin_flow_arrays& irrigable = *m.get_maxirrig();
  // Reach 1 takes 0.2 mm at its own outlet and leaves 1.8 mm; reach 2 finds
  // subbasin 1 handled and does not take it again.
  EXPECT_NEAR(f[0][1], 1.8, 1e-12);
  EXPECT_NEAR(irrigable[0][1], 2.0, 1e-12);  // 0.5 / 0.5 x 2 mm before the withdrawal
  // Outlet 2: 0.5 x 4 + 0.5 x 1.8 = 2.9 mm, less 0.5 / 1.0 x 0.1 = 0.05 mm.
  EXPECT_NEAR(f[0][2], 2.85, 1e-12);
  // Available at 2: 1.0 / 0.5 x 2.9 mm, plus the demand of 1 passed down,
  // 0.5 x 0.2 / 0.5 = 0.2 mm.
  EXPECT_NEAR(irrigable[0][2], 6.0, 1e-12);
  // The records now hold the mean demand.
  EXPECT_NEAR(demand[1].sum, 0.2, 1e-15);
}

TEST(AbflussStep, ObservedDischargeReplacesTheInflowWithSwitchTwo) {
  // Flow control 2: the channel from 1 carries the observed 6 mm instead of
  // the computed 2 mm; a missing (negative) observation leaves the computed.
  routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 40));
  rf.write("obs.txt", hourly_table(padded({6, -1}, 30)));
  routing_section s;
  s.flow_control = 2;
  s.observed = "obs.txt";
  s.columns = {{1, 1}};
  s.descriptions = {"TG 2 (A= 40, f= 1)", "OL 1 " + channel_values(0.01, 0.01, 1000, 1)};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  rf.qg[0][1] = 2;
  rf.qg[0][2] = 4;
  ASSERT_EQ(rf.start(), 0);
  m.time_step(0, 1, 1, 2000);
  EXPECT_NEAR(m.get_routing_flows()[0][2], 0.5 * 4 + 0.5 * 6, 1e-12);
  m.time_step(1, 1, 1, 2000);
  EXPECT_NEAR(m.get_routing_flows()[0][2], 0.5 * 4 + 0.5 * 2, 1e-12);
}

TEST(AbflussStep, ReleaseNamesWhatItFrees) {
  routing_fixture rf(routing_zones({1, 2, 3, 4}, {0.1, 0.2, 0.3, 0.4}, 100));
  routing_section s;
  s.descriptions = {"TG 4 (A= 100, f= 1)", "OL 1 " + channel_values(),
                    "SUMTRIB 2&3 " + channel_values(),
                    "ZL 1 (m= constant 2.5, " + channel_values().substr(1)};
  rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  ASSERT_EQ(rf.start(), 0);
  rf.module->release();
  EXPECT_TRUE(logged(rf.f.console(), " free memory TG 4, OL 1 (Subb. 1), OL 2 (Subb. 2, 3), OL 3, "
                                "(only ZL's), --> ZLs... 1, Rest... ok"))
      << rf.f.console();
}

}  // namespace
