// The channel routing's section of the storage content file, its tracer
// set-up and its end of run: the reach parts as written, a restarted run
// that continues exactly where the first one stopped, the readers' checks
// with their positions, and the release that writes the state.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "routing/abfluss_fixture.h"
#include "settings/tracer_entry.h"

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// One reach with a tributary channel, summed tributaries and a constant
// inflow, two sub-intervals per step and one radioactive tracer.
struct restart_case {
  tracer_entry tracers[2];
  routing_section section;
  restart_case() {
    tracers[1].name = "tri";
    tracers[1].radioactive = 1;
    tracers[1].half_time = 3;  // [d]
    tracers[1].statext = "sta";
    tracers[1].statcode = 2001;
    section.range = "1 3000 40 2";
    section.descriptions = {"TG 4 (A= 100, f= 1)", "OL 1 " + channel_values(3, 6, 1000, 30000),
                            "SUMTRIB 2&3 " + channel_values(2, 4, 1000, 12000),
                            "ZL 1 (m= constant 2.5, " + channel_values(1, 2, 1000, 5000).substr(1)};
  }
  static routing_zones zones() { return routing_zones({1, 2, 3, 4}, {0.1, 0.2, 0.3, 0.4}, 100); }
  // Runoff of step t: it varies until step n - 2 and stays at the last
  // value from then on, so the restart finds the delays of step n.
  static void runoff(subbasin_flow_arrays& qg, int t, int n) {
    const int u = std::min(t, n - 2);
    for (int i = 1; i <= 4; ++i) {
      // The summed subbasins 2 and 3 alike: their mixture is the flow the
      // restart takes its delay from.
      const int j = i == 3 ? 2 : i;
      qg[0][static_cast<size_t>(i)] = 0.3 + 0.7 * std::fabs(std::sin(0.37 * u + j)) + 0.1 * j / 3;
      qg[1][static_cast<size_t>(i)] = 1.0 / (j + 2) + 0.01 * u;
    }
  }
};

TEST(AbflussState, RestartContinuesTheRunExactly) {
  const int n = 30;
  restart_case c;
  // The continuous run: 2n steps, the state written after n.
  routing_fixture a(restart_case::zones());
  abflussmodellklasse& ma = a.build(c.section, 1, c.tracers);
  ASSERT_EQ(a.status, 0) << a.f.console();
  riverflow_table table_a(5);
  restart_case::runoff(a.qg, 0, n);
  ASSERT_EQ(a.start(), 0);
  ma.set_riverflow_table(&table_a);
  const std::string name = "state_0";
  ma.read_state(&name, 0);  // keeps the name
  for (int t = 0; t < n; ++t) {
    restart_case::runoff(a.qg, t, n);
    ma.time_step(t % 24, 1 + t / 24, 1, 2000);
  }
  ma.write_state();
  ASSERT_TRUE(ma.storage_section_written());
  std::vector<channel_water> water_at_restart;
  for (int j = 1; j <= ma.reach(1).channel_count(); ++j)
    water_at_restart.push_back(ma.reach(1).water_of(j));
  const std::string state = read_file(a.f.cd.dir.file(name));
  std::vector<subbasin_flow_arrays> continued;
  std::vector<riverflow_table> continued_records;
  for (int t = n; t < 2 * n; ++t) {
    restart_case::runoff(a.qg, t, n);
    ma.time_step(t % 24, 1 + t / 24, 1, 2000);
    continued.push_back(ma.get_routing_flows());
    continued_records.push_back(table_a);
  }

  // The restarted run: readgrid 3 takes the routing section.
  routing_fixture b(restart_case::zones());
  abflussmodellklasse& mb = b.build(c.section, 1, c.tracers, 3);
  ASSERT_EQ(b.status, 0) << b.f.console();
  riverflow_table table_b(5);
  restart_case::runoff(b.qg, n, n);
  ASSERT_EQ(b.start(), 0);
  mb.set_riverflow_table(&table_b);
  b.write(name, state);
  mb.read_state(&name, 3);
  // The water in the queues and the linear storages crosses the restart
  // unchanged (what went to `displaced` is not stored: it never returns).
  for (int j = 1; j <= mb.reach(1).channel_count(); ++j) {
    EXPECT_EQ(mb.reach(1).water_of(j).queued, water_at_restart[static_cast<size_t>(j - 1)].queued);
    EXPECT_EQ(mb.reach(1).water_of(j).stored, water_at_restart[static_cast<size_t>(j - 1)].stored);
  }
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(table_b[static_cast<size_t>(i)].flowm3s, table_a[static_cast<size_t>(i)].flowm3s);
  }
  for (int t = n; t < 2 * n; ++t) {
    restart_case::runoff(b.qg, t, n);
    mb.time_step(t % 24, 1 + t / 24, 1, 2000);
    const subbasin_flow_arrays& expected = continued[static_cast<size_t>(t - n)];
    const subbasin_flow_arrays& got = mb.get_routing_flows();
    for (int k = 0; k <= 1; ++k)
      for (int i = 1; i <= 4; ++i)
        ASSERT_EQ(got[static_cast<size_t>(k)][static_cast<size_t>(i)],
                  expected[static_cast<size_t>(k)][static_cast<size_t>(i)])
            << "step " << t << " tracer index " << k << " subbasin " << i;
    for (int i = 1; i <= 3; ++i) {
      const riverflow_record& x =
          continued_records[static_cast<size_t>(t - n)][static_cast<size_t>(i)];
      const riverflow_record& y = table_b[static_cast<size_t>(i)];
      ASSERT_EQ(x.flow_mm[0], y.flow_mm[0]) << t;
      ASSERT_EQ(x.flow_mm[1], y.flow_mm[1]) << t;
      ASSERT_EQ(x.speed, y.speed) << t;
    }
  }
  // Written again, the states of both runs at the same step are the same
  // text (both go to the working folder, the restarted run's).
  ma.write_state();
  const std::string continuous = read_file(b.f.cd.dir.file(name));
  mb.write_state();
  EXPECT_EQ(read_file(b.f.cd.dir.file(name)), continuous);
}

// The number of values on each line of bare values after line index i.
std::vector<int> value_counts(const std::vector<std::string>& lines, size_t i) {
  std::vector<int> counts;
  for (size_t j = i + 1; j < lines.size(); ++j) {
    const std::string& l = lines[j];
    if (l.empty() || l.find('(') != std::string::npos) break;
    std::istringstream in(l);
    double v = 0;
    int n = 0;
    while (in >> v) ++n;
    counts.push_back(n);
  }
  return counts;
}

TEST(AbflussState, ReachPartLayout) {
  restart_case c;
  routing_fixture rf(restart_case::zones());
  abflussmodellklasse& m = rf.build(c.section, 1, c.tracers);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  restart_case::runoff(rf.qg, 0, 10);
  ASSERT_EQ(rf.start(), 0);
  riverflow_table table(5);
  m.set_riverflow_table(&table);
  const std::string name = "layout_0";
  m.read_state(&name, 0);
  m.time_step(0, 1, 1, 2000);
  m.write_state();
  const std::string text = read_file(rf.f.cd.dir.file(name));
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_GT(lines.size(), 3U);
  EXPECT_EQ(lines[0], "[routing_model]");
  EXPECT_EQ(lines[1], "4 (routing subbasin with tributaries 1 2");
  const routingclass& r = m.reach(1);
  const int a = 2;
  int headers = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("(tracer/flow index and tributary subbasin)") == std::string::npos) continue;
    ++headers;
    const int idx = std::stoi(lines[i].substr(lines[i].find(' ') + 1));
    const int channel = idx == 1 ? 1 : 2;
    const int length = a + r.channel(channel).table.storage_elements;
    std::vector<int> expected(static_cast<size_t>(length / 10), 10);
    if (length % 10 != 0) expected.push_back(length % 10);
    EXPECT_EQ(value_counts(lines, i), expected) << lines[i];
  }
  // Subbasin 1 of the tributary channel, then 3 (listed) and 2 (own) of the
  // summed one, each for tracer indices 0 and 1.
  EXPECT_EQ(headers, 2 * 3);
  EXPECT_NE(text.find("0 3 (tracer/flow index and tributary subbasin)\n"), std::string::npos);
  EXPECT_NE(text.find("  (wqtab[local tributary 2].Qaus[subchannel 1][1..2])\n"),
            std::string::npos);
  EXPECT_NE(text.find(" (wqtab[local tributary 1].qvzuq[subchannel 1])\n"), std::string::npos);
  EXPECT_NE(text.find(" (riverflow_table[3].flow_mm[2])\n"), std::string::npos);
  EXPECT_NE(text.find(" (riverflow_table[1].flowm3s/speed\n"), std::string::npos);
  // The external inflow (index 4 + 1): no line break after its last value
  // unless the count is a multiple of ten, so the next header may follow on
  // the same line; then a blank line and its sub-channel lines with e = 1.
  const int zl_length = a + r.channel(3).table.storage_elements;
  const size_t zl = text.find("0 5 (tracer/flow index and external inflow)\n");
  ASSERT_NE(zl, std::string::npos);
  const size_t second = text.find("1 5 (tracer/flow index and external inflow)\n");
  ASSERT_NE(second, std::string::npos);
  const bool same_line = text[second - 1] != '\n';
  EXPECT_EQ(same_line, zl_length % 10 != 0) << zl_length;
  EXPECT_NE(text.find(" (wqtab[local tributary 1].Qaus[subchannel 1][1..2])\n",
                      text.find("1 5 (tracer/flow index and external inflow)")),
            std::string::npos);
  EXPECT_NE(text.find("0 (number of reservoirs)\n\n\n\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "\n\n\n\n");
}

TEST(AbflussState, ReadersRefuseWhatDoesNotFitWithThePosition) {
  restart_case c;
  std::string state;
  {
    routing_fixture rf(restart_case::zones());
    abflussmodellklasse& m = rf.build(c.section, 1, c.tracers);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    restart_case::runoff(rf.qg, 0, 10);
    ASSERT_EQ(rf.start(), 0);
    const std::string name = "s_0";
    m.read_state(&name, 0);
    m.write_state();
    state = read_file(rf.f.cd.dir.file(name));
  }
  struct row {
    const char* name;
    std::string text;  // empty: no file
    int readgrid;
    int status;
    const char* message;  // followed by the path
    const char* tail;
  } rows[] = {
      {"as written", state, 3, 0, "", ""},
      {"readgrid 1", state, 1, 0, "", ""},
      {"readgrid 0 reads nothing", "", 0, 0, "", ""},
      {"readgrid 2 reads nothing", "", 2, 0, "", ""},
      {"readgrid 4 reads nothing", "", 4, 0, "", ""},
      {"no file", "", 3, 64, "error opening storage content file ", ""},
      {"no section", "[unsatzon_model]\n1\n", 3, 71,
       "error looking for the section routing_model in ", ""},
      {"another subbasin code", replaced(state, "4 (routing subbasin", "5 (routing subbasin"), 3,
       71, "error reading subbasin code in file ", " (position 1)"},
      {"tracer 0 where 1 is expected",
       replaced(state, "1 1 (tracer/flow index", "0 1 (tracer/flow index"), 3, 71,
       "error reading tracer code in file ", " (position 3)"},
      {"another tributary index",
       replaced(state, "0 1 (tracer/flow index", "0 2 (tracer/flow index"), 3, 71,
       "error reading tributary index in file ", " (position 2)"},
      {"another inflow index",
       replaced(state, "0 5 (tracer/flow index and external",
                "0 6 (tracer/flow index and external"),
       3, 71, "error reading tributary index in file ", ""},
      {"another reservoir count",
       replaced(state, "0 (number of reservoirs)", "2 (number of reservoirs)"), 3, 71,
       "error reading reservoir code in file ", ""},
      {"truncated", state.substr(0, state.find("0 (number of reservoirs)") - 30), 3, 71,
       "error reading the section [routing_model] of the storage content file ", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    routing_fixture rf(restart_case::zones());
    abflussmodellklasse& m = rf.build(c.section, 1, c.tracers, r.readgrid);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    restart_case::runoff(rf.qg, 0, 10);
    ASSERT_EQ(rf.start(), 0);
    if (!r.text.empty()) rf.write("s_0", r.text);
    const std::string name = "s_0";
    int code = 0;
    try {
      m.read_state(&name, r.readgrid);
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, r.status);
    EXPECT_TRUE(
        logged(rf.f.console(), std::string(r.message) + (r.status != 0 ? "s_0" : "") + r.tail))
        << rf.f.console();
  }
}

TEST(AbflussState, WriteWarningsAndTheDefaultName) {
  routing_fixture rf(restart_case::zones());
  restart_case c;
  abflussmodellklasse& m = rf.build(c.section);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  ASSERT_EQ(rf.start(), 0);
  // Without a name: "storage.ftz", and nothing read.
  m.read_state(nullptr, 3);
  m.write_state();
  EXPECT_EQ(read_file(rf.f.cd.dir.file("storage.ftz")).rfind("[routing_model]\n4 (routing", 0), 0U);
  // A directory where the file should be: a warning, the run goes on.
  std::filesystem::remove(rf.f.cd.dir.file("storage.ftz"));
  std::filesystem::create_directory(rf.f.cd.dir.file("storage.ftz"));
  EXPECT_NO_THROW(m.write_state());
  EXPECT_TRUE(logged(rf.f.console(),
                     "WARNING: couldn\xb4t open file storage.ftz \n(no filename was given or model "
                     "version \ndoesn\xb4t support this feature or the current user has no write "
                     "access)"))
      << rf.f.console();
  const std::string name = "kept_0";
  std::filesystem::create_directory(rf.f.cd.dir.file(name));
  m.read_state(&name, 0);
  EXPECT_NO_THROW(m.write_state());
  EXPECT_TRUE(
      logged(rf.f.console(),
             "WARNING: couldn\xb4t open file \"kept_0\" \n(model version doesn\xb4t support "
             "this feature or write access error)"))
      << rf.f.console();
}

TEST(AbflussState, ReleaseWritesTheStateOnlyAfterAFinishedSetUp) {
  for (const int initialised : {1, 0}) {
    SCOPED_TRACE(initialised);
    routing_fixture rf(restart_case::zones());
    restart_case c;
    abflussmodellklasse& m = rf.build(c.section, 1, c.tracers);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    ASSERT_EQ(rf.start(), 0);
    const std::string name = "end_0";
    m.read_state(&name, 0);
    m.set_initialized(initialised);
    m.time_step(0, 1, 1, 2000);
    m.flush_outputs();
    m.release();
    EXPECT_EQ(std::filesystem::exists(rf.f.cd.dir.file(name)), initialised == 1);
    // The tracer's concentration statistic: path, name, module, extension.
    EXPECT_NE(read_file(rf.f.cd.dir.file("trirouti.sta"))
                  .find("tracer concentration for tracer 1 "
                        "(tri) "),
              std::string::npos);
  }
}

TEST(AbflussState, EfficiencyTablesOnlyAfterAFinishedSetUpWithObservedDischarge) {
  struct row {
    const char* name;
    int initialised;
    bool observed;
    bool tables;
  } rows[] = {{"initialised, observed file", 1, true, true},
              {"set-up not finished", 0, true, false},
              {"no observed file", 1, false, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    routing_fixture rf(routing_zones({1}, {1.0}, 10));
    std::vector<double> observed(40, 2.0);
    for (size_t i = 0; i < observed.size(); ++i) observed[i] += 0.1 * static_cast<double>(i % 5);
    if (r.observed) rf.write("obs.txt", hourly_table(observed));
    routing_section s;
    s.observed = "obs.txt";
    s.columns = {{1, 1}};
    s.descriptions = {"TG 1 (A= 10, f= 1)"};
    abflussmodellklasse& m = rf.build(s);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    ASSERT_EQ(rf.start(), 0);
    for (int t = 0; t < 12; ++t) {
      rf.qg[0][1] = 2.0 + 0.05 * t;
      m.time_step(t, 1, 1, 2000);
    }
    m.set_initialized(r.initialised);
    m.flush_outputs();
    m.release();
    EXPECT_EQ(read_file(rf.f.cd.dir.file("qstat.txt")).find("LIN. R-SQUARE") != std::string::npos,
              r.tables);
  }
}

TEST(AbflussState, DecayFactorsAreTheModulesOwn) {
  struct row {
    int radioactive;
    double half_time;  // [d]
    double per_step, per_interval;
  } rows[] = {
      {1, 3, std::exp(-(60.0 / 1440) / (3 * 1.442695041111)),
       std::exp(-(30.0 / 1440) / (3 * 1.442695041111))},
      {1, 0, 0, 0},
      {1, -9999, 0, 0},
      {0, 3, 1, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.half_time);
    tracer_entry tracers[2];
    tracers[1].name = "dec";
    tracers[1].radioactive = r.radioactive;
    tracers[1].half_time = r.half_time;
    tracers[1].decay_factor = 0.25;  // another module's
    routing_fixture rf(restart_case::zones());
    restart_case c;
    abflussmodellklasse& m = rf.build(c.section, 1, tracers);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    EXPECT_DOUBLE_EQ(m.step_decay_factor(1), r.per_step);
    EXPECT_DOUBLE_EQ(m.interval_decay_factor(1), r.per_interval);
    EXPECT_DOUBLE_EQ(m.reach(1).step_decay_factor(1), r.per_step);
    EXPECT_EQ(tracers[1].decay_factor, 0.25);
  }
}

}  // namespace
