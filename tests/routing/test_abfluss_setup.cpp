// Set-up of the channel-routing module from "[routing_model]": the grammar of
// the routing descriptions, the tables handed to irrigation, the area
// shares, the listings, every refusal, and the number of initial routings.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "routing/abfluss_fixture.h"
#include "routing/internal_connections.h"
#include "routing/routing_descriptions.h"

namespace {

routing_zones four_subbasins() { return routing_zones({1, 2, 3, 4}, {0.1, 0.2, 0.3, 0.4}, 100); }

TEST(AbflussSetup, DescriptionsBuildReachesTablesAndListings) {
  routing_fixture rf(four_subbasins());
  routing_section s;
  s.descriptions = {"TG 1 (AT= 20, phi= 1.0)", "TG 4 (AT= 100.0009, phi= 1.0)",
                    " SUMTRIB 2&3 " + channel_values(), " OL 1 " + channel_values()};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  ASSERT_EQ(m.reach_count(), 2);
  const std::string log = rf.f.console();
  EXPECT_TRUE(logged(log, "number inbetween areas (routings)    : 2"));
  EXPECT_TRUE(logged(log, "number tributaries  total      (OL)  : 3"));
  EXPECT_TRUE(logged(log, "so the total of routingchannels is   : 2"));
  EXPECT_TRUE(logged(log, "reading routing description 2"));

  // OL entries come first in the tributary list and the entry numbers.
  const routing_target_table& t = *m.get_routing_target();
  EXPECT_EQ(t.tributaries[1], 1);
  EXPECT_EQ(t.tributaries[2], 2);
  EXPECT_EQ(t.tributaries[3], 3);
  EXPECT_EQ(t.tributaries[4], 0);
  EXPECT_EQ(t.downstream[1], 4);
  EXPECT_EQ(t.downstream[3], 4);
  EXPECT_EQ(t.downstream[4], 0);
  EXPECT_EQ(t.description[1], 1);
  EXPECT_EQ(t.description[4], 2);
  EXPECT_EQ(m.reach(2).channel(1).code, 1);
  EXPECT_EQ(m.reach(2).channel(2).code, 2);

  // Shares: the outlet of 4 covers 0.1 + 0.2 + 0.3 + 0.4 of the basin.
  const abfrel_table& r = *m.get_abfrel();
  EXPECT_NEAR(r.area_share[4], 1.0, 1e-15);
  EXPECT_NEAR(m.reach(2).channel(0).share, 0.4, 1e-15);
  EXPECT_NEAR(m.reach(2).channel(1).share, 0.1, 1e-15);
  EXPECT_NEAR(m.reach(2).channel(2).share, 0.5, 1e-15);
  // Reach 1: 20 km2 given, 0.1 x 100 km2 on the zone grid.
  EXPECT_TRUE(logged(log, "INFO: Basin 1: area in contr.file: "));
  EXPECT_NEAR(m.reach(1).reach_area(), 10, 1e-12);
  // 100.0009 km2 lies within 0.001 km2 of the zone grid's 100 km2: kept.
  EXPECT_FALSE(logged(log, "INFO: Basin 4:"));
  EXPECT_EQ(m.reach(2).reach_area(), 100.0009);

  const std::string sumtrib = read_file(rf.f.cd.dir.file("wq_table.002"));
  EXPECT_EQ(sumtrib.rfind("waterlevel-discharge-table for the channel of subbasins 2 and 3 to "
                          "the outlet of subbasin 4\n",
                          0),
            0u);
  const std::string ol = read_file(rf.f.cd.dir.file("wq_table.001"));
  EXPECT_EQ(ol.rfind("waterlevel-discharge-table for the channel of subbasin 1 to the outlet of "
                     "subbasin 4\n",
                     0),
            0u);
  // The listing prints k as given: 2 h and 4 h at hourly steps.
  EXPECT_NE(ol.find("storage constant mean channel [h] :    2.00\n"), std::string::npos);
}

TEST(AbflussSetup, SubstringsAreCountedOverlapping) {
  EXPECT_EQ(count_substring("&&&", "&&"), 2);
  EXPECT_EQ(count_substring("SUMTRIB 1&2&3", "&"), 2);
  EXPECT_EQ(count_substring("OL 1 OL 2", "OL"), 2);
  EXPECT_EQ(count_substring("", "OL"), 0);
}

TEST(AbflussSetup, GrammarOfOneDescription) {
  // Several lines give the text of one line; OL is numbered before SUMTRIB
  // whatever their order.
  const std::string ol = " OL 1 " + channel_values(1);
  const std::string sum = " SUMTRIB 2&3&5 " + channel_values(2);
  const routing_description split = parse_description({"TG 4 (A= 1, f= 1)", sum, ol}, 1);
  const routing_description one = parse_description({"TG 4 (A= 1, f= 1)" + sum + ol}, 1);
  for (const routing_description* d : {&split, &one}) {
    ASSERT_EQ(d->ol.size(), 1u);
    ASSERT_EQ(d->sumtrib.size(), 1u);
    EXPECT_EQ(d->ol[0].entry_number, 1);
    EXPECT_EQ(d->ol[0].values[0], 1);
    EXPECT_EQ(d->sumtrib[0].entry_number, 2);
    EXPECT_EQ(d->sumtrib[0].code, 2);
    EXPECT_EQ(d->sumtrib[0].listed, (std::vector<int>{3, 5}));
    EXPECT_EQ(d->sumtrib[0].values[0], 2);
    EXPECT_EQ(d->counts[KW_AMP], 2);
  }
  const routing_description zl =
      parse_description({"TG 4 (A= 3.5, f= 0.9) ZL 1 (mode= extern in.txt 3 2, " +
                         channel_values().substr(1)},
                        1);
  ASSERT_EQ(zl.zl.size(), 1u);
  EXPECT_EQ(zl.area, 3.5);
  EXPECT_EQ(zl.factor, 0.9);
  EXPECT_EQ(zl.zl[0].kind, INFLOW_EXTERN);
  EXPECT_EQ(zl.zl[0].file, "in.txt");
  EXPECT_EQ(zl.zl[0].start_row, 3);
  EXPECT_EQ(zl.zl[0].first_tracer_column, 2);
  EXPECT_EQ(zl.zl[0].values[9], 20);
}

struct refusal_case {
  const char* name;
  std::vector<std::string> lines;
  int code;
  const char* message;
};

TEST(AbflussSetup, RefusedDescriptions) {
  const std::string v = channel_values();
  const std::vector<refusal_case> cases = {
      {"unknown TG", {"TG 9 (A= 1, f= 1)"}, 41, "FATAL: there is no subbasin with code 9"},
      {"unknown OL", {"TG 4 (A= 1, f= 1)", "OL 9 " + v}, 41,
       "FATAL: there cant be a tributary with code 9 for no subbasin (according to zones)\n"},
      {"OL into itself", {"TG 4 (A= 1, f= 1)", "OL 4 " + v}, 41,
       "FATAL: subbasin 4: code of tributary 1 (4) is equal to subbasin code!"},
      {"unknown code after &", {"TG 4 (A= 1, f= 1)", "SUMTRIB 2&9 " + v}, 41,
       "FATAL: there cant be a tributary with code 9 for no subbasin"},
      {"code after & into itself", {"TG 4 (A= 1, f= 1)", "SUMTRIB 2&4 " + v}, 41,
       "is equal to subbasin code!"},
      {"ten codes after &", {"TG 4 (A= 1, f= 1)", "SUMTRIB 1&2&3&1&2&3&1&2&3&1&2 " + v}, 41,
       "more than 9 codes after \"&\""},
      {"ZL beyond the inflows", {"TG 4 (A= 1, f= 1)", "ZL 2 (m= constant 1, " + v.substr(1)}, 42,
       "FATAL: there is/are only 1 inflow(s) for the entire basin,\n but the codes ranges from 1 "
       "to at least 2! in routing_model"},
      {"ZL number 0", {"TG 4 (A= 1, f= 1)", "ZL 0 (m= constant 1, " + v.substr(1)}, 42,
       "there is/are only 1 inflow(s)"},
      {"ZL modus", {"TG 4 (A= 1, f= 1)", "ZL 1 (m= fancy " + v.substr(1)}, 42,
       "FATAL: the modus \"fancy\" is not supported for inflow 1"},
      {"SP in a file name",
       {"TG 4 (A= 1, f= 1)", "ZL 1 (m= extern flowSP1.txt 2 1, " + v.substr(1)}, 38,
       "\"SP\" stands inside another entry in the line:\nZL 1 (m= extern flowSP1.txt"},
      {"AL in a remark", {"TG 4 (A= 1, f= 1)", "OL 1 NATURAL bed " + v}, 38,
       "in the line:\nOL 1 NATURAL bed"},
      {"blank before &", {"TG 4 (A= 1, f= 1)", "SUMTRIB 2 &3 " + v}, 38,
       "\"&\" joins no codes of a SUMTRIB entry"},
      {"a value missing", {"TG 4 (A= 1, f= 1)", "OL 1 (km= 1)"}, 38, "is missing"},
      {"reservoir entry without its keys", {"TG 4 (A= 1, f= 1)", "SP 1 (V= 3)"}, 35,
       "FATAL: for reservoir 1: no \"file =\" found!"},
      {"abstraction modus", {"TG 4 (A= 1, f= 1)", "AL 1 (m= pump 1 2 3 mm)"}, 44,
       "FATAL: the modus \"pump\" is not supported for abstraction 1"},
      {"line too long", {"TG 4 (A= 1, f= 1)" + std::string(1190, ' ')}, 40,
       "FATAL: string is too long (max. 1200 chars):\nTG 4"},
  };
  for (const refusal_case& c : cases) {
    SCOPED_TRACE(c.name);
    routing_fixture rf(four_subbasins());
    routing_section s;
    s.descriptions = c.lines;
    rf.build(s);
    EXPECT_EQ(rf.status, c.code);
    EXPECT_TRUE(logged(rf.f.console(), c.message)) << rf.f.console();
  }
}

TEST(AbflussSetup, HeadAndEndOfFileRefusals) {
  struct head_case {
    const char* name;
    std::string range;
    int code;
    const char* message;
  };
  const std::vector<head_case> cases = {
      {"three values", "1 3000 40", 17, "FATAL: values for min/max specific discharge"},
      {"qmin 0", "0 3000 40 1", 17, "the minimum specific discharge must be above 0"},
      {"qmax below qmin", "10 5 40 1", 17, "the maximum specific discharge must be above"},
      {"no intervals", "1 3000 0 1", 17, "the number of discharge intervals must be at least 1"},
  };
  for (const head_case& c : cases) {
    SCOPED_TRACE(c.name);
    routing_fixture rf(four_subbasins());
    routing_section s;
    s.range = c.range;
    s.descriptions = {"TG 4 (A= 100, f= 1)", "OL 1 " + channel_values()};
    rf.build(s);
    EXPECT_EQ(rf.status, c.code);
    EXPECT_TRUE(logged(rf.f.console(), c.message)) << rf.f.console();
  }
  // The file ends inside the descriptions (first pass).
  routing_fixture rf(four_subbasins());
  rf.f.write_control(module_fixture::head("routing_model", 1) +
                     "1 3000 40 1\nq.txt 0 x\nobs.txt x\n0 x\n0 x\nTG 4 (A= 1, f= 1)\n");
  abflussmodellklasse m(rf.status, rf.f.diag(), nullptr, 0, "routing_model", &rf.f.store,
                        rf.f.settings, 0, nullptr, rf.zones.view, 0);
  EXPECT_EQ(rf.status, 38);
  EXPECT_TRUE(logged(rf.f.console(), 
                "FATAL: error reading a routing description from control file! (eof reached)."));
}

TEST(AbflussSetup, CommentBeforeTheFirstDescriptionBuildsNoReach) {
  routing_fixture rf(four_subbasins());
  routing_section s;
  s.descriptions = {"# the reaches", "TG 4 (A= 100, f= 1)", "OL 1 " + channel_values()};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0);
  EXPECT_EQ(m.reach_count(), 0);
  ASSERT_EQ(rf.start(), 0);
  const std::string log = rf.f.console();
  EXPECT_TRUE(logged(log, "checking connection of internal inflows and abstractions"));
  EXPECT_TRUE(logged(log, "routing the initialization discharges (1 times)"));
  EXPECT_EQ(m.get_initial_routings(), 1);
}

TEST(AbflussSetup, NumberOfInitialRoutings) {
  // Lengths giving travel times of 2.9 h and 5.5 h at the smallest discharge:
  // each counts its whole hours, 2 and 5; the description without channels 0.
  channel_params p;
  p.k_main = 2;
  p.k_flood = 4;
  p.width_main = 10;
  p.width_flood = 50;
  p.depth_bankfull = 1000;
  p.kst_main = 30;
  p.kst_flood = 15;
  p.slope = 0.001;
  p.area = 20;
  const wq_table probe = build_wq_table(p, root_of_slope(p.slope), 1, 3000, 40, 1, 60);
  const double v = probe.v_mean[1];
  struct n_case {
    int dt;
    int readgrid;
    int expected;
  };
  for (const n_case c : {n_case{60, 0, 7}, n_case{1440, 0, 1}, n_case{60, 1, 7}}) {
    SCOPED_TRACE(c.dt);
    routing_fixture rf(four_subbasins());
    routing_section s;
    s.dt = c.dt;
    s.descriptions = {"TG 2 (A= 20, f= 1)", "OL 1 " + channel_values(2, 4, 1000, 2.9 * 3600 * v),
                      "TG 3 (A= 30, f= 1)", "TG 4 (A= 100, f= 1)",
                      "OL 2 " + channel_values(2, 4, 1000, 5.5 * 3600 * v), "OL 3 " + channel_values(2, 4, 1000, 1.0)};
    abflussmodellklasse& m = rf.build(s, 0, nullptr, c.readgrid);
    ASSERT_EQ(rf.status, 0) << rf.f.console();
    ASSERT_EQ(rf.start(), 0);
    EXPECT_EQ(m.get_initial_routings(), c.expected);
    const bool routed = rf.f.console().find("routing the initialization discharges (") !=
                        std::string::npos;
    EXPECT_EQ(routed, c.readgrid == 0);
  }
}

TEST(AbflussSetup, NoDischargesToRoute) {
  routing_fixture rf(four_subbasins());
  routing_section s;
  s.descriptions = {"TG 4 (A= 100, f= 1)"};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0);
  EXPECT_THROW(m.set_qg(nullptr), int);
  EXPECT_TRUE(logged(rf.f.console(), "FATAL: No valid discharges for discharge routing!\nYou have to "
                                "run the model including at least precipitation interpolation "
                                "and soil model\nif discharges are wished."));
}

TEST(AbflussSetup, InternalInflowsNeedExactlyOneAbstraction) {
  auto reach = [](int tg, int index, std::vector<int> inflows,
                  std::vector<connection_abstraction> als) {
    connection_reach r;
    r.tg_code = tg;
    r.subbasin_index = index;
    r.internal_inflows = std::move(inflows);
    r.abstractions = std::move(als);
    return r;
  };
  const connection_abstraction intern1{1, true, 0};
  const connection_abstraction extern1{1, false, 0};
  struct connection_case {
    const char* name;
    std::vector<connection_reach> reaches;
    int code;
    const char* message;
  };
  const std::vector<connection_case> cases = {
      {"connected", {reach(5, 1, {1}, {}), reach(6, 2, {}, {intern1})}, 0, ""},
      {"twice", {reach(5, 1, {1}, {}), reach(6, 2, {}, {intern1}), reach(7, 3, {}, {intern1})},
       300, "in routing description 3 for TG 7:\nInflow 1 is already connected"},
      {"same subbasin", {reach(5, 1, {1}, {intern1})}, 301,
       "Abstraction AL 1 from routing description 1 and inflow ZL 1 are both defined for the "
       "same routing-subbasin TG 5.\n"},
      {"only an extern abstraction", {reach(5, 1, {1}, {}), reach(6, 2, {}, {extern1})}, 302,
       "in routing description 1 for TG 5:\nInternal Inflow ZL 1 has no conenction"},
      {"abstraction without inflow", {reach(5, 1, {}, {}), reach(6, 2, {}, {intern1})}, 303,
       "in routing description 2 for TG 6:\nInternal abstraction AL 1 is not connected"},
  };
  for (connection_case c : cases) {
    SCOPED_TRACE(c.name);
    int code = 0;
    std::string message;
    try {
      connect_internal_inflows(c.reaches);
    } catch (const connection_fault& fault) {
      code = fault.code;
      message = fault.message;
    }
    EXPECT_EQ(code, c.code);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    if (c.code == 0) {
      EXPECT_EQ(c.reaches[1].abstractions[0].connected_to, 1);
    }
  }
  // In the module an internal inflow without abstraction stops the set-up.
  routing_fixture rf(four_subbasins());
  routing_section s;
  s.descriptions = {"TG 4 (A= 100, f= 1)", "ZL 1 (m= intern " + channel_values().substr(1)};
  rf.build(s);
  ASSERT_EQ(rf.status, 0) << rf.f.console();
  EXPECT_EQ(rf.start(), 302);
  EXPECT_TRUE(logged(rf.f.console(), std::string("FATAL: ") + CONNECTION_FAULT_HEAD +
                                "in routing description 1 for TG 4:\nInternal Inflow ZL 1"));
}

}  // namespace
