// Abstractions and reservoirs inside the routing module: an internal
// abstraction feeds its inflow in the same step (flow before = flow after +
// the amounts), a reservoir takes the reach outflow and releases what its
// rule gives with its contents balanced over a run, and the rule sections
// are required. With A = 3.6 km2 and dt = 60 min, 1 mm per step is 1 m3/s.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "routing/abfluss_fixture.h"

namespace {

// Builds the module from the section with more control-file text after it.
int build_with(routing_fixture& rf, const routing_section& s, const std::string& more) {
  rf.f.write_control(s.text() + more);
  rf.module = std::make_unique<abflussmodellklasse>(rf.status, rf.f.diag(), nullptr, 0,
                                                    "routing_model", &rf.f.store, rf.f.settings, 0,
                                                    nullptr, rf.zones.view, 0);
  rf.qg = make_flow_arrays(0, rf.zones.view.zone_count);
  return rf.status;
}

TEST(ReservoirsInReaches, InternalAbstractionFeedsItsInflow) {
  routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 7.2));
  routing_section s;
  s.descriptions = {"TG 1 (A= 3.6, f= 1)", "AL 1 (m= intern 0 0.25 100 mm)",
                    "AL 2 (m= extern taken2.txt 0 0.5 100 mm)", "TG 2 (A= 3.6, f= 1)",
                    "ZL 1 (m= intern " + channel_values().substr(1)};
  rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  rf.qg[0][1] = 8;
  rf.qg[0][2] = 1;
  ASSERT_EQ(rf.start(), 0) << rf.f.console();
  abflussmodellklasse& m = *rf.module;
  for (int h = 1; h <= 3; ++h) {
    m.time_step(h, 1, 1, 2000);
    const subbasin_flow_arrays& f = m.get_routing_flows();
    // 8 mm: the first takes 0.25 x 8 = 2, the second min(0.5 x 8, 8 - 2) = 4.
    EXPECT_NEAR(m.reach(1).get_abstraction_total(), 6, 1e-12);
    EXPECT_NEAR(f[0][1] + m.reach(1).get_abstraction_total(), 8, 1e-12);
    // Inflow 1 (entry n + 1) carries the first one's 2 m3/s, which the
    // receiving reach turns into mm over its channel's 20 km2: 2 x 0.06 x 60 / 20.
    EXPECT_NEAR(f[0][3], 0.36, 1e-8);
  }
  m.flush_outputs();
  std::istringstream text(read_file(rf.f.cd.dir.file("taken2.txt")));
  std::string line;
  int rows = 0;
  while (std::getline(text, line))
    if (line.rfind("2000\t", 0) == 0) {
      ++rows;
      EXPECT_NE(line.find("\t4"), std::string::npos) << line;
    }
  EXPECT_EQ(rows, 3);
}

TEST(ReservoirsInReaches, ReservoirReleasesByItsRuleAndBalances) {
  routing_fixture rf(routing_zones({1}, {1.0}, 3.6));
  routing_section s;
  s.descriptions = {"TG 1 (A= 3.6, f= 1)", "AL 5 (m= extern al5.txt 0 0.1 100 mm)",
                    "SP 3 (file = sp3.txt V0 = 36000 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)"};
  // Release = storage / 36000 s.
  const std::string rules = "[abstraction_rule_reservoir_3]\n2\n0 0\n3600000 100\n";
  ASSERT_EQ(build_with(rf, s, rules), 0) << rf.f.console();
  abflussmodellklasse& m = *rf.module;
  SP_class& sp = m.reach(1).reservoir(1);
  // The initial outflow for the start date: the mean of six sub-steps of
  // 600 s, each releasing storage / 36000 s: 10 (1 - (59/60)^6).
  EXPECT_NEAR(sp.outflow(), 10 * (1 - std::pow(59.0 / 60, 6)), 1e-12);
  rf.qg[0][1] = 5;
  ASSERT_EQ(rf.start(), 0) << rf.f.console();
  // The initial routing changes no volume.
  EXPECT_EQ(sp.contents()[0], 36000);
  double in = 0, out = 0, taken = 0;
  for (int h = 1; h <= 24; ++h) {
    const double volume = sp.contents()[0];
    m.time_step(h, 1, 1, 2000);
    in += sp.report().volume[SP_QIN];
    out += sp.report().volume[SP_QOUT];
    taken += sp.report().volume[SP_ABSTR];
    // The abstraction takes a tenth of the reservoir's water (in mm over
    // 3.6 km2 per hour), and the reservoir delivers exactly that.
    EXPECT_NEAR(m.reach(1).get_abstraction_total(), 0.1 * volume / 3600, 1e-9);
    // (to the 2e-9 of the conversion constant 16.6666667)
    EXPECT_NEAR(sp.report().volume[SP_ABSTR], 0.1 * volume, 1e-8 * volume);
    // The reach passes the release on, in mm per step.
    EXPECT_NEAR(m.get_routing_flows()[0][1], sp.outflow(), 1e-8);
  }
  EXPECT_NEAR(in, 24 * 5 * 3600, 1e-3);
  // Closure of the run: change of the contents = inflow - release - abstraction.
  EXPECT_NEAR(sp.contents()[0] - 36000, in - out - taken, 1e-6);
  EXPECT_GT(taken, 0);
  m.flush_outputs();
  std::istringstream text(read_file(rf.f.cd.dir.file("sp3.txt")));
  std::string line;
  int rows = 0;
  while (std::getline(text, line)) rows += line.rfind("2000\t", 0) == 0 ? 1 : 0;
  EXPECT_EQ(rows, 24);
}

TEST(ReservoirsInReaches, RuleSectionsAreRequired) {
  struct row {
    std::vector<std::string> lines;
    const char* message;
  };
  const row rows[] = {
      {{"TG 1 (A= 3.6, f= 1)", "SP 3 (file = sp3.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0)"},
       "FATAL: section [abstraction_rule_reservoir_3] not found in control file"},
      {{"TG 1 (A= 3.6, f= 1)", "AL 4 (m= extern_with_rule out4.txt)"},
       "section [abstraction_rule_abstraction_4] not found in control file"},
  };
  for (const row& x : rows) {
    routing_fixture rf(routing_zones({1}, {1.0}, 3.6));
    routing_section s;
    s.descriptions = x.lines;
    EXPECT_EQ(build_with(rf, s, ""), 34);
    EXPECT_TRUE(logged(rf.f.console(), x.message)) << rf.f.console();
  }
}

TEST(ReservoirsInReaches, EveryEntryReadsOnlyItsOwnText) {
  // The first reservoir has no "dTmin": it must not take the second one's.
  routing_fixture rf(routing_zones({1}, {1.0}, 3.6));
  routing_section s;
  s.descriptions = {"TG 1 (A= 3.6, f= 1)", "SP 1 (file = a.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0)",
                    "SP 2 (file = b.txt V0 = 2 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 300)"};
  const std::string rules = "[abstraction_rule_reservoir_1]\n2\n0 0\n10 1\n"
                            "[abstraction_rule_reservoir_2]\n2\n0 0\n10 1\n";
  ASSERT_EQ(build_with(rf, s, rules), 0) << rf.f.console();
  EXPECT_EQ(rf.module->reach(1).reservoir(1).sub_step(), 60);
  EXPECT_EQ(rf.module->reach(1).reservoir(2).sub_step(), 300);
  // An entry without its own "V0" is refused, not given the next one's.
  routing_fixture bad(routing_zones({1}, {1.0}, 3.6));
  s.descriptions = {"TG 1 (A= 3.6, f= 1)", "SP 1 (file = a.txt C0 = 0 0 0 0 0 0 0 0 0)",
                    "SP 2 (file = b.txt V0 = 2 C0 = 0 0 0 0 0 0 0 0 0)"};
  EXPECT_EQ(build_with(bad, s, rules), 35);
}

}  // namespace

namespace {

TEST(ReservoirsInReaches, InternalAbstractionsMustFeedAnInflow) {
  struct row {
    std::vector<std::string> lines;
    int code;
  };
  const std::string v = channel_values().substr(1);
  const row rows[] = {
      // An internal abstraction without its inflow.
      {{"TG 1 (A= 3.6, f= 1)", "AL 1 (m= intern_with_rule_from_reservoir)",
        "SP 1 (file = s.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0)", "TG 2 (A= 3.6, f= 1)"},
       303},
      // An "extern" abstraction does not feed the internal inflow of its number.
      {{"TG 1 (A= 3.6, f= 1)", "AL 1 (m= extern x.txt 0 1 1 mm)", "TG 2 (A= 3.6, f= 1)",
        "ZL 1 (m= intern " + v},
       302},
      // Abstraction and inflow in the same subbasin.
      {{"TG 1 (A= 3.6, f= 1)", "AL 1 (m= intern 0 1 1 mm)", "ZL 1 (m= intern " + v}, 301},
  };
  for (const row& x : rows) {
    routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 7.2));
    routing_section s;
    s.descriptions = x.lines;
    ASSERT_EQ(build_with(rf, s, "[abstraction_rule_reservoir_1]\n2\n0 0\n1 1\n"
                                "[abstraction_rule_abstraction_1]\n2\n0 0\n1 1\n"),
              0)
        << rf.f.console();
    EXPECT_EQ(rf.start(), x.code) << rf.f.console();
  }
}

}  // namespace

namespace {

TEST(ReservoirsInReaches, NetworkClosureWithAChannelAnAbstractionAndAReservoir) {
  // Subbasin 1 (20 km2) drains through a channel to the outlet of 2, where
  // an abstraction and a reservoir lie. In m3 over a run: runoff of 1 =
  // change of the channel water + change of the reservoir + release +
  // abstraction (to the 2e-9 of the conversion constant).
  routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 40));
  routing_section s;
  s.descriptions = {"TG 2 (A= 40, f= 1)", "OL 1 " + channel_values(3, 6, 1000, 90000),
                    "AL 7 (m= extern al7.txt 0 0.05 100 mm)",
                    "SP 2 (file = sp2.txt V0 = 50000 C0 = 0 0 0 0 0 0 0 0 0)"};
  ASSERT_EQ(build_with(rf, s, "[abstraction_rule_reservoir_2]\n3\n0 0\n1e5 2\n1e7 300\n"), 0)
      << rf.f.console();
  abflussmodellklasse& m = *rf.module;
  rf.qg[0][1] = 0.4;
  ASSERT_EQ(rf.start(), 0) << rf.f.console();
  routingclass& r = m.reach(1);
  SP_class& sp = r.reservoir(1);
  const channel_water w0 = r.water_of(1);
  const double v0 = sp.contents()[0];
  constexpr double M3_PER_MM = 20 * 1000;  // over subbasin 1 [m3 mm-1]
  double in = 0, sp_in = 0, released = 0, taken = 0;
  for (int t = 0; t < 200; ++t) {
    rf.qg[0][1] = (t / 30) % 2 == 0 ? 0.02 + 0.001 * (t % 7) : 6.0 + (t % 5);
    m.time_step(t % 24 + 1, 1 + t / 24, 1, 2000);
    in += rf.qg[0][1] * M3_PER_MM;
    sp_in += sp.report().volume[SP_QIN];
    released += sp.report().volume[SP_QOUT];
    taken += sp.report().volume[SP_ABSTR];
  }
  const channel_water w1 = r.water_of(1);
  const double channel_change = ((w1.queued + w1.stored + w1.displaced) -
                                 (w0.queued + w0.stored + w0.displaced)) * M3_PER_MM;
  EXPECT_GT(taken, 0);
  EXPECT_GT(released, 0);
  EXPECT_NEAR(sp_in, in - channel_change, 1e-8 * in);
  EXPECT_NEAR(sp.contents()[0] - v0, sp_in - released - taken, 1e-6);
  EXPECT_NEAR(in, channel_change + (sp.contents()[0] - v0) + released + taken, 1e-8 * in);
}

}  // namespace
