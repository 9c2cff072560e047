// The unsaturated zone's grids in the store and its starting soil state, built
// by the constructor on one row of three cells: cells 1 and 2 inside the zone
// grid, cell 3 outside it. The soil is the fixture's loam: ten layers, 0.05,
// 0.15 and eight of 0.2 m (layer bottoms at 0.05, 0.2, 0.4, ..., 1.8 m),
// theta_sat 0.43. Expected layers and depths are counted by hand from the
// thicknesses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "soilwater/unsatzon_grids.h"
#include "soilwater/unsatzon_setup_fixture.h"

namespace {

using namespace unsatzon_setup;

TEST(UnsatzonSetup, OwnGridsTakeConsecutiveEntriesInTheirOrder) {
  struct row {
    const char* readgrid;
    const char* pond;
    bool irrigation;
  } rows[] = {{"0", "0", false}, {"0", "1", false}, {"0", "0", true},  {"0", "1", true},
              {"2", "0", false}, {"2", "1", true},  {"1", "0", false}, {"1", "1", true},
              {"3", "0", true},  {"3", "1", false}};
  for (const row& r : rows) {
    SCOPED_TRACE(std::string("readgrid ") + r.readgrid + " pond " + r.pond +
                 (r.irrigation ? " irrigation" : ""));
    const bool read_state = r.readgrid[0] == '1' || r.readgrid[0] == '3';
    setup_run run({.readgrid = r.readgrid,
                   .pond = r.pond,
                   .irrigation = r.irrigation,
                   .stack_levels = read_state ? L : 0});
    ASSERT_EQ(run.status, 0) << run.f.console();
    own_grid_switches s;
    s.readgrid = std::stoi(r.readgrid);
    s.pond = r.pond[0] == '1';
    s.irrigation = r.irrigation;
    const std::vector<std::string> names = own_grid_order(s);
    for (size_t i = 0; i < names.size(); ++i)
      EXPECT_EQ(run.entry_of(names[i]), run.first_own_entry + static_cast<int>(i)) << names[i];
    EXPECT_EQ(run.entry_of("ETR2ETP") != 0, r.irrigation);
  }
}

TEST(UnsatzonSetup, AnOccupiedEntryIsNeverOverwritten) {
  setup_run run({.gap = true});
  EXPECT_EQ(run.status, 12);
  EXPECT_NE(run.f.console().find("is held by grid \"other_module_grid\""), std::string::npos)
      << run.f.console();
  EXPECT_EQ(*run.f.store[run.first_own_entry + 3].grid_name, "other_module_grid");
}

TEST(UnsatzonSetup, StartingStateFromTheDivisorOrTheReadDistance) {
  struct row {
    const char* name;
    setup_options options;
    int k;            // unsaturated layers
    double level;     // "groundwater_level"
    double distance;  // [m] "groundwater_distance"
    double middle;    // [m] depth of the middle of layer k + 1
  } rows[] = {
      // (10 - 1) / 2 = 4.5 -> k = 5: layers 6..10 saturated, table at the top
      // of layer 6 (0.8 m), its middle at 0.9 m.
      {"ini_gw_level 2", {.ini_gw_level = "2"}, 5, 6, -0.8, 0.9},
      // 9 / 100 -> k = 1: the table at the top of layer 2 (0.05 .. 0.2 m).
      {"ini_gw_level 100", {.ini_gw_level = "100"}, 1, 2, -0.05, 0.125},
      // The read table lies inside layer 1: every layer is saturated, the
      // search climbs to layer 1 and the read distance stays.
      {"readgrid 2 at -0.03 m", {.readgrid = "2", .read_distance = -0.03}, 0, 1, -0.03, 0.025},
      // The same on a first layer of 0.1 m: -0.05 m lies inside it.
      {"readgrid 2 at -0.05 m, layer 1 0.1 m",
       {.readgrid = "2", .read_distance = -0.05, .first_layer = 0.1},
       0,
       1,
       -0.05,
       0.05},
      // 0.5 m: below the bottoms at 0.05, 0.2 and 0.4 m -> k = 3, table read.
      {"readgrid 2 at -0.5 m", {.readgrid = "2", .read_distance = -0.5}, 3, 4, -0.5, 0.5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run(r.options);
    ASSERT_EQ(run.status, 0) << run.f.console();
    stack_matrix& g = run.stack("geodetic_heads");
    stack_matrix& theta = run.stack("theta");
    stack_matrix& h = run.stack("hydraulic_heads");
    for (int c = 1; c <= 2; ++c) {
      EXPECT_DOUBLE_EQ(g[1][c][0], SURFACE);
      EXPECT_NEAR(g[1][c][L], SURFACE - 1.8, 1e-9);
      EXPECT_NEAR(theta[1][c][0], THETA_SAT, 1e-12);
      for (int l = 1; l <= r.k; ++l) EXPECT_LT(theta[1][c][l], THETA_SAT) << l;
      for (int l = r.k + 1; l <= L; ++l) EXPECT_NEAR(theta[1][c][l], THETA_SAT, 1e-12) << l;
      // The heads of the unsaturated layers all stand at the middle of layer
      // k + 1 (equilibrium): the two soil look-ups invert each other.
      const double reference = SURFACE - r.middle;
      for (int l = 1; l <= r.k; ++l) EXPECT_NEAR(h[1][c][l], reference, 1e-9) << l;
      EXPECT_DOUBLE_EQ(run.grid("groundwater_level")[1][c], r.level);
      EXPECT_NEAR(run.grid("groundwater_distance")[1][c], r.distance, 1e-9);
    }
    // Cell 3 is outside the zone grid: nodata below the surface, 0 at it.
    for (const char* n : {"geodetic_heads", "theta", "hydraulic_heads"}) {
      EXPECT_EQ(run.stack(n)[1][3][0], 0) << n;
      for (int l = 1; l <= L; ++l) EXPECT_EQ(run.stack(n)[1][3][l], NODATA) << n;
    }
    EXPECT_EQ(run.grid("groundwater_level")[1][3], NODATA);
    EXPECT_EQ(run.grid("baseflow")[1][3], NODATA);
    EXPECT_EQ(run.grid("baseflow")[1][1], 0);
  }
}

TEST(UnsatzonSetup, ATableBelowTheColumnIsRefused) {
  // 1.9 m lies in layer 10: k = 10 would address layer 11.
  setup_run run({.readgrid = "2", .read_distance = -1.9});
  EXPECT_EQ(run.status, 17);
  EXPECT_NE(run.f.console().find("lies in layer 11 of 10"), std::string::npos) << run.f.console();
}

TEST(UnsatzonSetup, PondingLimitInMillimetresAndLowerBoundaryByLapseRate) {
  setup_run run({.pond = "1", .heat = true});
  ASSERT_EQ(run.status, 0) << run.f.console();
  // 0.05 m -> 50 mm in the store entry itself.
  for (int c = 1; c <= 3; ++c) EXPECT_DOUBLE_EQ(run.grid("max_ponding_storage")[1][c], 50);
  // 1000 m x -0.007 K/m + 12 degC = 5 degC; cell 3 outside: nodata.
  grid_matrix& t = run.grid("T_Lower_Boundary_Condition");
  EXPECT_NEAR(t[1][1], 5, 1e-12);
  EXPECT_NEAR(t[1][2], 5, 1e-12);
  EXPECT_EQ(t[1][3], NODATA);
  EXPECT_NE(run.entry_of("Soil_Temperature_Stack"), 0);
  EXPECT_NE(run.entry_of("ThawDepthTMod"), 0);
}

TEST(UnsatzonSetup, RootZoneAndIrrigationThresholds) {
  setup_run run({.irrigation = true, .root_depth_cell2 = 0.3});
  ASSERT_EQ(run.status, 0) << run.f.console();
  // Root depth 0: the root zone holds layer 1's water content.
  stack_matrix& theta = run.stack("theta");
  EXPECT_DOUBLE_EQ(run.grid("SB_1_grid")[1][1], theta[1][1][1]);
  // 0.3 m: all of layers 1 (0.05 m) and 2 (0.15 m), 0.1 m of layer 3.
  const double* t = theta[1][2];
  EXPECT_NEAR(run.grid("SB_1_grid")[1][2], (t[1] * 0.05 + t[2] * 0.15 + t[3] * 0.1) / 0.3, 1e-12);
  EXPECT_EQ(run.grid("SB_1_grid")[1][3], NODATA);
  // Thresholds are water contents of layer 2 at the rule's suctions: drier
  // at the larger suction.
  EXPECT_LT(run.grid("SBLOW_grid")[1][1], run.grid("SBHIGH_grid")[1][1]);
  EXPECT_LT(run.grid("SBHIGH_grid")[1][1], THETA_SAT);
  EXPECT_EQ(run.grid("SBLOW_grid")[1][3], NODATA);
  EXPECT_DOUBLE_EQ(run.grid("ETR2ETP")[1][1], 1);
}

TEST(UnsatzonSetup, StatisticsByTheirConditionsWithTheirTitles) {
  using st = unsatzon_statistic;
  struct row {
    const char* name;
    setup_options options;
    bool thaw, pond;
  } rows[] = {{"plain", {}, false, false},
              {"heat", {.heat = true}, true, false},
              {"pond", {.pond = "1"}, false, true}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run(r.options);
    ASSERT_EQ(run.status, 0) << run.f.console();
    for (int w = 0; w <= static_cast<int>(st::infilt); ++w)
      EXPECT_NE(run.module->get_statistic(static_cast<st>(w)), nullptr) << w;
    EXPECT_EQ(run.module->get_statistic(st::substeps), nullptr);
    EXPECT_EQ(run.module->get_statistic(st::qdrain), nullptr);
    EXPECT_EQ(run.module->get_statistic(st::immobilised), nullptr);
    EXPECT_EQ(run.module->get_statistic(st::thaw_depth) != nullptr, r.thaw);
    EXPECT_EQ(run.module->get_statistic(st::pond) != nullptr, r.pond);
    // Every statistic of the section writes the same file here: the last
    // header built stands in it, its title with the trailing blanks.
    const std::string header = read_file(run.f.cd.dir.file(r.thaw ? "thaw.stat" : "unsat.stat"));
    const std::string title =
        r.pond ? "ponding water storage content [mm per zone]  "
               : (r.thaw ? "soil thaw depth [m] " : "total_infiltration_per_zone_[mm] ");
    EXPECT_NE(header.find("\nunsatzon_model_submodel:" + title + "\n"), std::string::npos)
        << header;
  }
}

// A set-up run and the "modell_0.log" it wrote into its folder.
struct run_in_folder {
  std::unique_ptr<setup_run> run;
  std::string log;
  explicit run_in_folder(const setup_options& o) : run(std::make_unique<setup_run>(o)) {
    log = read_file(run->f.cd.dir.file("modell_0.log"));
  }
};

TEST(UnsatzonSetup, StartReportIsTheMeanWaterOfTheOwnColumns) {
  const run_in_folder in_folder({.control_cell = "1 2"});
  setup_run* run = in_folder.run.get();
  const std::string& log = in_folder.log;
  ASSERT_EQ(run->status, 0) << run->f.console();
  // Layers 1..5 from the stack, 6..10 saturated: sum of theta x thickness
  // with the thicknesses counted by hand.
  const double d[] = {0, 0.05, 0.15, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2};
  stack_matrix& theta = run->stack("theta");
  double water = 0;
  for (int l = 1; l <= L; ++l) water += theta[1][1][l] * d[l];
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "soil water content (for control point r=1 c=2) at model-start: %lf mm\n"
                "mean soil water content for all cells at model-start: %lf m^3/m^2\n"
                "mean soil water content for unglacierized or only partly unglacierized cells at "
                "model-start: %lf m^3/m^2\n"
                "mean soil water content for partly or completely glacierized cells at "
                "model-start: %lf m^3/m^2\n",
                water * 1000, water, water, 0.0);
  EXPECT_EQ(log, expected);
}

TEST(UnsatzonSetup, GlacierRecordsAndTheStartReportOfGlacierizedCells) {
  for (int glaciers : {1, 2}) {
    SCOPED_TRACE(glaciers);
    const run_in_folder in_folder({.glaciers = glaciers});
    setup_run* run = in_folder.run.get();
    const std::string& log = in_folder.log;
    ASSERT_EQ(run->status, 0) << run->f.console();
    const std::vector<subbasin_glacier_record>& records = run->module->get_glacier_records();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_FALSE(records[0].glacierized);
    EXPECT_TRUE(records[1].glacierized);
    EXPECT_DOUBLE_EQ(records[1].glacier_sum, 0.25);
    EXPECT_DOUBLE_EQ(records[1].free_sum, 0.75 + 1);
    EXPECT_EQ(run->module->get_statistic(unsatzon_statistic::immobilised) != nullptr,
              glaciers == 2);
    // Both cells hold the same column W (saturated S): the unglacierized
    // parts are 0.75 W + W over 2 cells, the glacierized 0.25 S over 2.
    const double d[] = {0, 0.05, 0.15, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2};
    double water = 0, saturated = 0;
    for (int l = 1; l <= L; ++l) {
      water += run->stack("theta")[1][1][l] * d[l];
      saturated += THETA_SAT * d[l];
    }
    const double unglacierized = 1.75 * water / 2, glacierized = 0.25 * saturated / 2;
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "mean soil water content for all cells at model-start: %lf m^3/m^2\n"
                  "mean soil water content for unglacierized or only partly unglacierized cells "
                  "at model-start: %lf m^3/m^2\n"
                  "mean soil water content for partly or completely glacierized cells at "
                  "model-start: %lf m^3/m^2\n",
                  unglacierized + glacierized, unglacierized, glacierized);
    EXPECT_EQ(log, expected);
  }
}

TEST(UnsatzonSetup, DynamicGlaciersWriteTheImmobilisedStatistics) {
  setup_run run({.glaciers = 2});
  ASSERT_EQ(run.status, 0) << run.f.console();
  // "unsat.stat" -> "unsat_immo.stat", the extension kept last.
  const std::string header = read_file(run.f.cd.dir.file("unsat_immo.stat"));
  EXPECT_NE(header.find("\nunsatzon_model_submodel:immobilised or mobilised soil water by "
                        "glacier resizing 0..profile depth per zone \n"),
            std::string::npos)
      << header;
}

TEST(UnsatzonSetup, TheHandedOverSoilTableGetsItsHeatValues) {
  struct row {
    const char* name;
    bool heat;
    double dry_density;  // [kg m-3] layer 1 afterwards
  } rows[] = {{"heat on: the default", true, 1500}, {"heat off: unchanged", false, -1}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({.heat = r.heat});
    ASSERT_EQ(run.status, 0) << run.f.console();
    run.f.soils[1].DryDensity.assign(static_cast<size_t>(L) + 1, -1);
    run.module->set_soil_table(&run.f.soils);
    EXPECT_EQ(run.f.soils[0].layer_count, L);
    EXPECT_DOUBLE_EQ(run.f.soils[1].DryDensity[1], r.dry_density);
  }
}

TEST(UnsatzonSetup, ETR2ETPOfAnotherModuleIsKeptByItsNegativeIndex) {
  setup_run own_grid({.irrigation = true});
  ASSERT_EQ(own_grid.status, 0) << own_grid.f.console();
  EXPECT_EQ(own_grid.module->get_etr2etp_index(), own_grid.entry_of("ETR2ETP"));
  EXPECT_GT(own_grid.module->get_etr2etp_index(), 0);
  setup_run foreign({.irrigation = true, .foreign_etr2etp = true});
  ASSERT_EQ(foreign.status, 0) << foreign.f.console();
  const int index = foreign.entry_of("ETR2ETP");
  EXPECT_EQ(foreign.module->get_etr2etp_index(), -index);
  EXPECT_EQ(foreign.f.store[index].grid, &foreign.blocker);  // not replaced
  EXPECT_EQ(foreign.blocker[1][1], 0);
}

TEST(UnsatzonSetup, ASoilTypeOutsideTheTableIsRefused) {
  for (double type : {0.0, 2.0}) {
    SCOPED_TRACE(type);
    setup_run run({.soil_type_cell2 = type});
    EXPECT_EQ(run.status, 17);
    EXPECT_NE(run.f.console().find("of cell (1, 2) is not in the soil table"), std::string::npos)
        << run.f.console();
  }
}

TEST(UnsatzonSetup, ReadgridOneAndThreeReadTheStateFiles) {
  for (const char* readgrid : {"1", "3"}) {
    SCOPED_TRACE(readgrid);
    setup_run run({.readgrid = readgrid, .stack_levels = L});
    ASSERT_EQ(run.status, 0) << run.f.console();
    own_grid_switches s;
    s.readgrid = std::stoi(readgrid);
    const std::vector<std::string> names = own_grid_order(s);
    EXPECT_EQ(names[0], "theta");
    for (size_t i = 0; i < names.size(); ++i)
      EXPECT_EQ(run.entry_of(names[i]), run.first_own_entry + static_cast<int>(i)) << names[i];
    // Water contents and heads stay as read; the heights are computed again
    // from the elevation model, nodata outside the zone grid.
    EXPECT_DOUBLE_EQ(run.stack("theta")[1][1][4], 0.3);
    EXPECT_DOUBLE_EQ(run.stack("hydraulic_heads")[1][1][4], 5);
    EXPECT_DOUBLE_EQ(run.stack("geodetic_heads")[1][1][0], SURFACE);
    EXPECT_NEAR(run.stack("geodetic_heads")[1][1][L], SURFACE - 1.8, 1e-9);
    EXPECT_EQ(run.stack("geodetic_heads")[1][3][L], NODATA);
  }
}

TEST(UnsatzonSetup, AStackFileWithTheWrongLevelCountIsRefused) {
  setup_run run({.readgrid = "1", .stack_levels = L - 1});
  EXPECT_EQ(run.status, 13);
  EXPECT_NE(
      run.f.console().find("wrong number of levels in stack " + run.f.cd.dir.file("theta.stk") +
                           " (there are 9 level, it must be 10"),
      std::string::npos)
      << run.f.console();
}

TEST(UnsatzonSetup, StatisticsAndControlCellFilesByteForByte) {
  // L = 10, one vegetation layer, control cell (1, 2), dynamic glaciers.
  setup_run run({.control_cell = "1 2", .glaciers = 2, .own_stat_names = true});
  ASSERT_EQ(run.status, 0) << run.f.console();
  auto header = [](const std::string& title) {
    // The fixture's statistics codes 1001.. ask for the mean of all zones
    // only: no zone columns, the total with share 1.
    return "YY\tMM\tDD\tHH\ttot_average\nunsatzon_model_submodel:" + title +
           "\n--\t--\t--\t--\t1.0000\n";
  };
  struct stat_row {
    const char* file;
    const char* title;
  } stats[] = {
      {"gwstand.stat", "groundwater level [m below surface] (GWSTAND)"},
      {"sb1.stat", "rel. soil moisture 0..root depth per zone "},
      {"infex.stat", "Infiltration excess [mm per zone]  "},
      {"qg.stat", "total runoff [mm per zone] (sum of QB, QI und QD)"},
      {"sb2.stat", "abs. soil moisture 0..profile depth per zone "},
      // The SB_2 name with "_immo" before its extension.
      {"sb2_immo.stat",
       "immobilised or mobilised soil water by glacier resizing 0..profile depth per zone "},
  };
  for (const stat_row& r : stats) {
    SCOPED_TRACE(r.file);
    EXPECT_EQ(read_file(run.f.cd.dir.file(r.file)), header(r.title));
  }
  // Built in the second set-up phase, not here.
  EXPECT_FALSE(std::filesystem::exists(run.f.cd.dir.file("gwin.stat")));

  std::string layers, layers_with_0 = "[0]\t";
  for (int l = 1; l <= L; ++l) layers += "[" + std::to_string(l) + "]\t";
  layers_with_0 += layers;
  // The six files in the reading order of their names: Qbottom, Theta, hhyd,
  // Otherdata, etr, interflow.
  const std::string date = "YY\tMM\tDD\tHH\t";
  const std::string cells[] = {
      date + "q_bottom[1][2]" + layers + "\n",
      date + "theta[1][2]" + layers + "\n",
      date + "hhyd[1][2]" + layers + "\n",
      date +
          "otherdata[1][2]QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL\tMACR\tQDRAIN"
          "\tACT_POND\tINFEX\tGWST\tGWLEVEL\tROOT\tAlbedo\tRSE\tLAI_1\tVCF_1\tRSC_1\tRSI_1\tROOT_1"
          "\tZ0_1\n",
      // One column more than the others: layer 0.
      date + "etr[1][2](etr[0] is evaporation from first layer)" + layers_with_0 + "\n",
      date + "interflow_per_layer[1][2]" + layers + "\n",
  };
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read_file(run.f.cd.dir.file("cell" + std::to_string(i))), cells[i]);
  }
  // Buffers in the order of creation: hhyd, otherdata, theta, q_bottom, etr,
  // interflow. 2097152 / (11 x 8 + 32) = 17476; 2097152 / (25 x 8 + 32) = 9039.
  const std::vector<control_cell_buffer>& buffers = run.module->get_control_cell_buffers();
  const int capacities[] = {17476, 9039, 17476, 17476, 17476, 17476};
  const int values[] = {11, 25, 11, 11, 11, 11};
  ASSERT_EQ(buffers.size(), std::size(capacities));
  for (size_t i = 0; i < buffers.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(buffers[i].capacity, capacities[i]);
    EXPECT_EQ(buffers[i].values_per_row, values[i]);
    EXPECT_EQ(buffers[i].fill, 0);
    EXPECT_EQ(buffers[i].dates.size(), static_cast<size_t>(capacities[i]) + 1);
  }
}

}  // namespace
