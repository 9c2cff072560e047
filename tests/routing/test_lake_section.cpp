// The routing module's part of "[lake_model]" and the links of the lake
// grids on one process: the switch and readgrid of the section, the run
// without a lake grid, the precipitation source by the interception flag and
// "PrecOnLakes" at every lake cell.
#include <gtest/gtest.h>

#include "routing/abfluss_fixture.h"

namespace {

constexpr int ROWS = 3;

struct lake_module {
  module_fixture f{ROWS};
  routing_zones zones{{1}, {1.0}, 0.09};
  memory_handling mem;
  std::vector<grid_matrix> grids;
  std::unique_ptr<abflussmodellklasse> module;
  subbasin_flow_arrays qg = make_flow_arrays(0, 1);
  int status = -1;

  // lakes: publish "lake_codes" (the lake is the top-left 2 x 2 cells).
  explicit lake_module(bool lakes, const std::string& lake_section, int readgrid = 1,
                       int spinup = 0) {
    zones.view.zone_index = &zones.index;
    zones.view.zones = &zones.records;
    f.settings.start_date = model_date{2000, 1, 1, 0};
    f.settings.spinup_switch = spinup;
    f.settings.last_row = ROWS;
    const std::vector<std::string> names = {"lake_codes",        "ponding_storage",
                                            "max_ponding_storage", "[elevation_model]",
                                            "real_transpiration0", "throughfall0",
                                            "snowcover_outflow",   "precipitation"};
    grids.reserve(names.size());
    int index = 3;
    for (size_t i = 0; i < names.size(); ++i) {
      grids.push_back(mem.matrix(0, ROWS + 1, 0, 3, ROWS));
      grid_matrix& g = grids.back();
      for (int r = 0; r <= ROWS + 1; ++r)
        for (int c = 0; c <= 3; ++c) {
          const bool lake = r >= 1 && r <= 2 && c >= 1 && c <= 2;
          double v = 0;
          if (names[i] == "lake_codes") v = lake ? 1 : NODATA;
          if (names[i] == "max_ponding_storage") v = lake ? 1000 : 0;
          if (names[i] == "[elevation_model]") v = lake ? 100 : 101;
          if (names[i] == "throughfall0") v = 1;
          if (names[i] == "snowcover_outflow") v = 2;
          if (names[i] == "precipitation") v = 3;
          g[r][c] = v;
        }
      if (names[i] == "lake_codes" && !lakes) continue;
      f.publish(index++, names[i], &g);
    }
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) f.soil_zone_grid[r][c] = 1;
    routing_section s;
    s.descriptions = {"TG 1 (A= 0.09, f= 1)",
                      "SP 1 (file = lake.txt V0 = 4000 C0 = 0 0 0 0 0 0 0 0 0)"};
    f.write_control(s.text() + lake_section +
                    "[abstraction_rule_reservoir_1]\n2\n0 0\n3600000 100\n");
    module = std::make_unique<abflussmodellklasse>(status, f.diag(), nullptr, 0, "routing_model",
                                                   &f.store, f.settings, 0, nullptr, zones.view,
                                                   readgrid);
  }
};

std::string lake_section(int lake_switch, int readgrid) {
  return "[lake_model]\n" + std::to_string(lake_switch) +
         " flow control parameter for \n0\n0\n0\n" + std::to_string(readgrid) +
         " readgrids for \n";
}

TEST(LakeSection, SwitchAndReadgrid) {
  struct row {
    const char* name;
    bool lakes;
    int lake_switch, readgrid_in_section, spinup;
    int expected_switch, expected_readgrid;
  };
  const row rows[] = {
      // No lake grid: lakes off, the unsaturated zone's readgrid (1) stays.
      {"no lake grid", false, 1, 0, 0, 0, 1},
      // Switch 0: readgrid 0, so the initial routing always runs.
      {"switch 0", true, 0, 1, 0, 0, 0},
      {"switch 1", true, 1, 0, 0, 1, 0},
      {"switch 1 readgrid 3", true, 1, 3, 0, 1, 3},
      // Hydrologic response units: lakes off and readgrid 0.
      {"HRU", true, 1, 3, 1, 0, 0},
  };
  for (const row& x : rows) {
    lake_module m(x.lakes, lake_section(x.lake_switch, x.readgrid_in_section), 1, x.spinup);
    ASSERT_EQ(m.status, 0) << x.name << m.f.console();
    EXPECT_EQ(m.module->get_lake_switch(), x.expected_switch) << x.name;
    EXPECT_EQ(m.module->get_readgrid(), x.expected_readgrid) << x.name;
    if (!x.lakes) {
      EXPECT_TRUE(logged(m.f.console(), "no LAKE-grid was found in routing_model\nLake modelling "
                                        "is switched off for routing_model."))
          << m.f.console();
    }
  }
}

TEST(LakeSection, MissingSectionWithALakeGrid) {
  lake_module m(true, "");
  EXPECT_EQ(m.status, 17);
}

TEST(LakeSection, PrecipitationSourceByTheInterceptionFlag) {
  // throughfall0 holds 1 mm, snowcover_outflow 2 mm, precipitation 3 mm.
  for (const char flag : {char{0}, char{1}}) {
    lake_module m(true, lake_section(1, 0));
    ASSERT_EQ(m.status, 0) << m.f.console();
    m.module->init_lake_links(flag);
    m.module->set_qg(&m.qg);
    m.module->init_routing();
    EXPECT_EQ(m.module->get_lake_cells_per_rank()[0], 4);
    EXPECT_NE(m.f.console().find("lakeCellsPerMPIRank[0] 4"), std::string::npos) << m.f.console();
    m.module->time_step(1, 1, 1, 2000);
    const grid_matrix& p = *m.f.store[m.module->find_grid("PrecOnLakes")].grid;
    const double expected = flag == 0 ? 1 : 2;
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 2; ++c) EXPECT_EQ(p[r][c], expected) << int(flag);
    // The lake took it: 4 cells x 10000 m2 x 1 or 2 mm.
    EXPECT_NEAR(m.module->reach(1).reservoir(1).report().volume[SP_PREC], 40 * expected, 1e-9);
  }
}

}  // namespace
