// Set-up of the groundwater module: its section with the optional pond-flag
// line and the control point, the lake part, the grids it publishes with
// their starting values, and the tracers' storages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "gwflow_fixture.h"
#include "modelbase/diagstream.h"

namespace {

using gwtest::gw_run;
using gwtest::gw_section;

TEST(GwflowSetup, PondFlagLineIsKnownByItsFirstCharacter) {
  const struct {
    std::string line;      // the pond-flag line ("" none)
    std::string head;      // first head file name
    bool ponding_grid;     // "ponding_storage" in the store
    int flag;
    bool used;
    const char* message;
  } cases[] = {
      {"1 use ponds", "h.asc", true, 1, true,
       ": Use-Pond-Flag is 1\n POND-Grid was found --> PONDs will be used in GW-Model"},
      {"1", "h.asc", false, 1, false,
       ": Use-Pond-Flag is 1\n POND-Grid was not found --> no PONDs will be used in GW-Model"},
      {"0 no ponds", "h.asc", true, 0, false,
       ": Use-Pond-Flag is 0; --> no PONDs will be used in GW-Model"},
      {"", "h.asc", true, 0, false,
       ": no POND-Grid will be used because Use-Pond-Flag is not present"},
      // A blank first: absent, and the line's first word is the head file.
      {"", " 1", true, 0, false,
       ": no POND-Grid will be used because Use-Pond-Flag is not present"},
  };
  for (const auto& c : cases) {
    gw_run run(3, 4, 1, 10);
    if (c.ponding_grid) run.add("ponding_storage", 0);
    gw_section s;
    s.layers = 1;
    s.pond_line = c.line;
    s.head_file = c.head;
    ASSERT_EQ(run.build(s), 0) << run.console();
    EXPECT_EQ(run.module->pond_flag(), c.flag) << c.line;
    EXPECT_EQ(run.module->pond_grid_used(), c.used) << c.line;
    EXPECT_NE(run.console().find("in modul groundwater_flow" + std::string(c.message)),
              std::string::npos)
        << run.console();
    const std::string head = c.head == " 1" ? "1" : c.head;
    EXPECT_EQ(*run.store[run.L(1).index[0]].file_name, head);
    EXPECT_EQ(*run.store[run.L(1).index[1]].file_name, head == "1" ? "1_old" : "h_old.asc");
  }
}

TEST(GwflowSetup, ControlPointRowsAndColumns) {
  const struct {
    std::string control;
    int status;
    bool owner;
    const char* message;
  } cases[] = {
      {"0 0", 0, false, ""},
      {"0 3", 0, false, ""},
      {"2 0", 0, false, ""},
      {"3 4", 0, true, ""},
      {"4 1", 8,
       false, "in modul groundwater_flow:\nrow index (4) for output-cell must be between 1 "
              "and 3 (Input as row col) or 0 0 "},
      {"1 5", 9,
       false, "in modul groundwater_flow:\ncolumn index (5) for output-cell must be "
              "between 1 and 4 (Input as row col) "},
  };
  for (const auto& c : cases) {
    gw_run run(3, 4, 1, 10);
    gw_section s;
    s.layers = 1;
    s.control = c.control;
    EXPECT_EQ(run.build(s), c.status) << c.control;
    EXPECT_NE(run.console().find(c.message), std::string::npos) << run.console();
    if (c.status != 0) continue;
    EXPECT_EQ(run.module->owns_control_point(), c.owner);
    EXPECT_EQ(std::filesystem::exists(run.file("cp.txt")), c.owner) << c.control;
  }
}

TEST(GwflowSetup, GridsInEntryOrderWithTheirStartValues) {
  gw_run run(2, 3, 2, 10, 100, 1.5, 10);
  run.add("ponding_storage", 40);  // [mm]
  grid_matrix& distance = run.grid("groundwater_distance");
  distance[1][1] = -2;
  distance[1][2] = 0.0005;  // at the surface: ponding added
  distance[1][3] = -0.5;
  run.grid("aquifer_thickness_1")[2][3] = NODATA;
  gw_section s;
  s.pond_line = "1";
  ASSERT_EQ(run.build(s), 0) << run.console();
  const int first = run.L(1).index[0];
  // Two per layer first, then nine per layer.
  const char* expected[] = {
      "gw_head_1",          "gw_head_old_1",        "gw_head_2",
      "gw_head_old_2",      "gw_head_old_old_1",    "gw_head_old_old_1",
      "gw_transmissivity_x_1", "gw_transmissivity_y_1", "gw_flow_x_1",
      "gw_flow_y_1",        "gw_balance1",          "gw_leakage_1",
      "aquifer_upper_limit1", "gw_head_old_old_2",  "gw_head_old_old_2"};
  for (int i = 0; i < static_cast<int>(std::size(expected)); ++i)
    EXPECT_EQ(run.store[first + i].grid_name.value_or(""), expected[i]) << i;
  EXPECT_EQ(run.L(2).index[10], first + 4 + 17);
  // Layer 1 thickness is the soil profile's depth, nodata where not given.
  const grid_matrix& b1 = run.grid("aquifer_thickness_1");
  EXPECT_DOUBLE_EQ(b1[1][1], 1.5);
  EXPECT_EQ(b1[2][3], NODATA);
  // Start heads: elevation + distance (+ ponding / 1000 at the surface), all layers.
  for (int k = 1; k <= 2; ++k) {
    EXPECT_DOUBLE_EQ(run.L(k).head[1][1], 98);
    EXPECT_DOUBLE_EQ(run.L(k).head[1][2], 100.0005 + 0.04);
    EXPECT_DOUBLE_EQ(run.L(k).head[1][3], 99.5);
    EXPECT_DOUBLE_EQ(run.L(k).head_old[1][3], 99.5);
  }
  // Tops: the surface, then 100 - 1.5.
  EXPECT_DOUBLE_EQ(run.L(1).upper_limit[1][1], 100);
  EXPECT_DOUBLE_EQ(run.L(2).upper_limit[1][1], 98.5);
  // Start transmissivity (thickness + distance) k: (10 - 2) 1e-4 in layer 2.
  EXPECT_DOUBLE_EQ(run.L(2).trans_x[1][1], 8e-4);
}

TEST(GwflowSetup, InactiveModulesPublishNothing) {
  for (int spinup : {0, 1}) {
    gw_run run(2, 2, 1, 10);
    run.settings.spinup_switch = spinup;
    gw_section s;
    s.layers = 1;
    s.flow_control = spinup == 1 ? 1 : 0;
    ASSERT_EQ(run.build(s), 0);
    EXPECT_EQ(run.module->get_flow_control(), 0);
    EXPECT_EQ(run.store.first_free(1), static_cast<int>(run.grids.size()) + 1);
    run.step(2);  // returns at once
  }
}

TEST(GwflowSetup, OneLayerNeedsNoColmationAndMissingGridsStop) {
  gw_run run(2, 2, 1, 10);
  gw_section s;
  s.layers = 1;
  ASSERT_EQ(run.build(s), 0) << run.console();
  gw_run two(2, 2, 2, 10);
  two.hide("gw_kolmation_1");
  gw_section s2;
  EXPECT_EQ(two.build(s2), 33);
}

TEST(GwflowSetup, LakePart) {
  const struct {
    std::string pond_line;
    bool ponding_grid;
    std::string lake;  // "[lake_model]" lines
    int status;
    const char* message;
  } cases[] = {
      {"0", true, "0 flow control parameter for\n", 0, ""},
      {"0", true, "1 flow control parameter for\n1 initialization method for\n", 214,
       "pond_use must be set in groundwater_flow\nfor using the [lake_model]"},
      {"1", false, "1 flow control parameter for\n1 initialization method for\n", 28,
       "\nLAKE-grid was found, but no POND-Grid. For using lakes,\nboth grids must be present."},
      {"1", true, "1 flow control parameter for\n3 initialization method for\n", 214,
       "Lake initialization method (3) not valid.\n"},
      {"1", true, "1 flow control parameter for\n2 initialization method for\n", 0, ""},
  };
  for (const auto& c : cases) {
    gw_run run(2, 2, 1, 10);
    run.add("lake_codes", 0);
    if (c.ponding_grid) run.add("ponding_storage", 0);
    gw_section s;
    s.layers = 1;
    s.pond_line = c.pond_line;
    s.after = "[lake_model]\n" + c.lake;
    EXPECT_EQ(run.build(s), c.status) << c.lake;
    EXPECT_NE(run.console().find(c.message), std::string::npos) << run.console();
  }
  gw_run none(2, 2, 1, 10);
  gw_section s;
  s.layers = 1;
  ASSERT_EQ(none.build(s), 0);
  EXPECT_NE(none.console().find("no LAKE-grid was found in groundwater_flow\nLake "
                                "modelling is switched off for groundwater_flow.\n"),
            std::string::npos);
}

TEST(GwflowSetup, TracerStoragesStartFromTheStoredWater) {
  gw_run run(2, 2, 2, 10, 100, 1.5, 10);
  run.tracer_list.resize(3);
  for (int t = 1; t <= 2; ++t) {
    tracer_entry& e = run.tracer_list[static_cast<size_t>(t)];
    e.name = t == 1 ? "chloride" : "oxygen18";
    e.path = run.output_dir;
    e.statext = "sta";
    e.gridext = "asc";
    e.gwini = 2;
    e.evaporating = t == 2 ? 1 : 0;
  }
  run.tracer_list[1].radioactive = 1;
  run.tracer_list[1].half_time = 10;
  run.layer_grid("gw_storage_coeff_", 2, 0.2);
  gw_section s;
  ASSERT_EQ(run.build(s, 1, 2), 0) << run.console();
  // Not evaporating: thickness * S * 1000 * gwini; evaporating: gwini.
  const int i11 = run.module->find_grid("concstor_tracer_1_layer_1_groundwater_flow");
  const int i12 = run.module->find_grid("concstor_tracer_1_layer_2_groundwater_flow");
  const int i22 = run.module->find_grid("concstor_tracer_2_layer_2_groundwater_flow");
  ASSERT_GT(i11 * i12 * i22, 0);
  EXPECT_DOUBLE_EQ((*run.store[i11].grid)[1][1], 1.5 * 0.1 * 1000 * 2);
  EXPECT_DOUBLE_EQ((*run.store[i12].grid)[1][1], 10 * 0.2 * 1000 * 2);
  EXPECT_DOUBLE_EQ((*run.store[i22].grid)[1][1], 2);
  EXPECT_EQ(*run.store[i12].file_name, run.output_dir + "chl2grou.asc");
  EXPECT_GT(run.module->find_grid("concflux_tracer_2_groundwater_flow"), 0);
  // The shared entry keeps whatever another module wrote.
  EXPECT_EQ(run.tracer_list[1].decay_factor, 0);
  run.module->free_tracer_statistics();
  EXPECT_EQ(run.module->find_grid("concstor_tracer_1_layer_1_groundwater_flow"), 0);
}

}  // namespace
