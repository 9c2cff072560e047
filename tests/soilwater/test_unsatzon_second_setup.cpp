// The unsaturated zone's second set-up phase and its services outside the
// step, on the set-up fixture's row of three cells: travel-time zones, the
// runoff records and their getters, tracers, the river grids of the
// groundwater model, the first base flow and runoff, lakes, the external
// groundwater table, the water irrigation may pump, the water-input grid and
// the start of a step. Expected values are counted by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "soilwater/unsatzon_setup_fixture.h"

namespace {

using namespace unsatzon_setup;

// The fixture's subbasin block: kelsqlat 4 h -> 0.25, Q0 1; ini_gw_level 2
// puts the table at -0.8 m: first base flow exp(0.25 x -0.8).
const double FIRST_BASE_FLOW = std::exp(-0.2);  // [mm per step]

int init(setup_run& run, std::vector<tracer_entry>* list = nullptr) {
  int status = -1;
  const int count = list != nullptr ? static_cast<int>(list->size()) - 1 : 0;
  run.module->init_tracers(status, count, list != nullptr ? list->data() : nullptr, nullptr, 0);
  return status;
}

TEST(UnsatzonRunoffRecords, GettersBeforeTheSecondSetUpStopWithCode57) {
  setup_run run({});
  ASSERT_EQ(run.status, 0) << run.f.console();
  using getter = subbasin_flow_arrays* (unsatzonmodellklasse::*)();
  struct row {
    const char* name;
    getter get;
  } rows[] = {{"Qg", &unsatzonmodellklasse::get_qg},
              {"QBb", &unsatzonmodellklasse::get_qbb},
              {"QD", &unsatzonmodellklasse::get_qd},
              {"QI", &unsatzonmodellklasse::get_qi}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    int code = 0;
    try {
      (run.module.get()->*r.get)();
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, 57);
    EXPECT_NE(run.f.console().find(std::string(r.name) +
                                   " not initialized (may be, tracer module not linked? -> "
                                   "programmers error!)"),
              std::string::npos)
        << run.f.console();
  }
  ASSERT_EQ(init(run), 0) << run.f.console();
  for (const row& r : rows) EXPECT_NE((run.module.get()->*r.get)(), nullptr) << r.name;
}

TEST(UnsatzonRunoffRecords, SecondSetUpWithoutFlowTimesOrGroundwater) {
  setup_run run({.rel_cell_area = 0.5});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  // T = 0: one array (water) of subbasins 0..1 each.
  for (subbasin_flow_arrays* a : {run.module->get_qg(), run.module->get_qbb(),
                                  run.module->get_qd(), run.module->get_qi()}) {
    ASSERT_EQ(a->size(), 1U);
    ASSERT_EQ((*a)[0].size(), 2U);
  }
  // Closure: the first Qg is the weighted mean first base flow of the cells.
  EXPECT_NEAR((*run.module->get_qg())[0][1], FIRST_BASE_FLOW, 1e-12);
  EXPECT_EQ((*run.module->get_qbb())[0][1], 0);
  for (int c = 1; c <= 2; ++c) EXPECT_NEAR(run.grid("baseflow")[1][c], FIRST_BASE_FLOW, 1e-12);
  EXPECT_EQ(run.grid("baseflow")[1][3], NODATA);
  // One zone of share 1 and the log line about the missing grid.
  const flow_time_queues& q = run.module->get_zone_queues();
  EXPECT_EQ(q.zones_of(1), 1);
  EXPECT_EQ(q.direct[0][1][1].share, 1);
  EXPECT_EQ(q.interflow[0][1][1].share, 1);
  const std::string log = read_file(run.f.cd.dir.file("modell_0.log"));
  EXPECT_NE(log.find("\nflow time distribution will not be calculated since no flow time grid "
                     "was provided\n"),
            std::string::npos)
      << log;
  // No groundwater model: no table, no river grids or statistics.
  EXPECT_EQ(run.module->get_riverflow_table(), nullptr);
  EXPECT_EQ(run.entry_of("river_infiltration"), 0);
  EXPECT_EQ(run.module->get_statistic(unsatzon_statistic::gwin), nullptr);
  EXPECT_DOUBLE_EQ((*run.module->get_kelsqd())[1], 120);
  EXPECT_EQ(*run.module->get_storage_file_name(), "state.txt_0");
  EXPECT_EQ(count_of(run.f.console(), "storage content file"), 0) << run.f.console();
}

TEST(UnsatzonRunoffRecords, GroundwaterModelBringsTheTableAndTheRiverGrids) {
  struct row {
    const char* name;
    std::string surface_interaction;
    bool river_grids;  // "river_depth" and the others published
    int status;
  } rows[] = {{"no surface water interaction", "0", false, 0},
              {"interaction with river grids", "1", true, 0},
              {"interaction without them", "1", false, 33}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({.surface_interaction = r.surface_interaction});
    ASSERT_EQ(run.status, 0) << run.f.console();
    std::vector<grid_matrix> extra;
    extra.reserve(6);
    std::vector<std::string> names = {"aquifer_thickness_1", "gw_storage_coeff_1"};
    if (r.river_grids)
      for (const char* n : {"river_depth", "river_width", "river_links", "kolmation"})
        names.push_back(n);
    for (const std::string& n : names) {
      extra.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
      run.publish_next(n, &extra.back());
    }
    run.module->set_groundwater_flag(1);
    int first_free = 1;
    while (run.f.store[first_free].grid_name.has_value()) ++first_free;
    ASSERT_EQ(init(run), r.status) << run.f.console();
    if (r.status != 0) continue;
    ASSERT_NE(run.module->get_riverflow_table(), nullptr);
    EXPECT_EQ(run.module->get_riverflow_table()->size(), 2U);
    EXPECT_EQ(run.entry_of("river_infiltration"), first_free);
    EXPECT_EQ(run.entry_of("river_exfiltration"), first_free + 1);
    EXPECT_EQ(run.grid("river_infiltration")[1][1], 0);
    EXPECT_EQ(run.grid("river_exfiltration")[1][3], NODATA);
    EXPECT_NE(run.module->get_statistic(unsatzon_statistic::gwin), nullptr);
    EXPECT_NE(run.module->get_statistic(unsatzon_statistic::gwex), nullptr);
    // The groundwater module's base flow stands: 0 here, and so Qg.
    EXPECT_EQ((*run.module->get_qg())[0][1], 0);
  }
}

TEST(UnsatzonRunoffRecords, FlowTimesBecomeZonesWithTheWeightsOfTheSubSteps) {
  struct row {
    const char* name;
    std::vector<double> seconds;  // cells 1..3, cell 3 outside the zone grid
    int status;
    int zones;
    std::string line;     // of "modell_0.log"
    double converted[2];  // "flow_times" of cells 1 and 2 afterwards
    int warning_cells;
  } rows[] = {
      // 3600 s is one 60-minute step: zone 1; a little more than two: zone 3.
      {"three zones", {3600, 7200.5, 5}, 0, 3, "TG\t   1\t(  3\tZonen):\t0.500\t0.000\t0.500\n",
       {1, 3}, 0},
      {"zone 0 counts in zone 1", {0, -100, 5}, 0, 1, "TG\t   1\t(  1\tZonen):\t1.000\n", {1, 1},
       0},
      {"below -60 x the step: zone 1 and a warning", {-3600, 3600, 5}, 0, 1,
       "TG\t   1\t(  1\tZonen):\t1.000\n", {1, 1}, 1},
      // The run stops before the line ends.
      {"zone 1 empty", {7200, 7200, 5}, 61, 2, "TG\t   1\t(  2\tZonen):\t0.000\t1.000", {2, 2},
       0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({.flow_times = r.seconds, .substeps = 4});
    ASSERT_EQ(run.status, 0) << run.f.console();
    EXPECT_EQ(init(run), r.status) << run.f.console();
    const std::string log = read_file(run.f.cd.dir.file("modell_0.log"));
    EXPECT_NE(log.find("flow time distribution:\n" + r.line), std::string::npos) << log;
    EXPECT_EQ(run.flow_times[1][1], r.converted[0]);
    EXPECT_EQ(run.flow_times[1][2], r.converted[1]);
    EXPECT_EQ(run.flow_times[1][3], r.seconds[2]);  // not an own cell: as read
    EXPECT_EQ(count_of(run.f.console(), "have a flow time below -60 x the time step"),
              r.warning_cells > 0 ? 1 : 0)
        << run.f.console();
    if (r.status == 61) {
      EXPECT_NE(run.f.console().find("in flow-travel-time grid: the first time zone of "
                                     "subbasin 1 has no cells!"),
                std::string::npos);
      continue;
    }
    const flow_time_queues& q = run.module->get_zone_queues();
    ASSERT_EQ(q.zones_of(1), r.zones);
    // Weights of zone k and beyond, each cell 4 sub-steps' worth.
    const std::vector<zone_record>& d = q.direct[0][1];
    if (r.zones == 3) {
      const double weights[] = {0, 8, 4, 4};
      for (int k = 0; k <= 3; ++k) {
        EXPECT_EQ(d[static_cast<size_t>(k)].weight, weights[k]) << k;
        EXPECT_EQ(q.interflow[0][1][static_cast<size_t>(k)].weight, weights[k]) << k;
        EXPECT_EQ(d[static_cast<size_t>(k)].count, 0) << k;
      }
      EXPECT_EQ(q.interflow[0][1][1].count, 2);
      EXPECT_EQ(d[3].code, 3);
    } else {
      EXPECT_EQ(d[0].weight, 0);
      EXPECT_EQ(d[1].weight, 8);
    }
  }
}

tracer_entry tracer(const std::string& dir, const char* name, int radioactive, double half_time,
                    int evaporating, double soilini, double gwini, double max_conc) {
  tracer_entry e;
  e.name = name;
  e.radioactive = radioactive;
  e.half_time = half_time;
  e.evaporating = evaporating;
  e.soilini = soilini;
  e.gwini = gwini;
  e.max_conc = max_conc;
  e.path = dir + "/";
  e.statext = "sta";
  e.gridext = "grd";
  e.statcode = 1001;
  return e;
}

TEST(UnsatzonRunoffRecords, TracersStartFromTheirInitialValuesAndDecayPerSubStep) {
  struct row {
    const char* name;
    std::string ini_gw_level;
    int level;  // first layer holding gwini (a level of 0 takes layer L)
  } rows[] = {{"table in layer 6", "2", 6}, {"no saturated layer found", "1.1", L}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({.ini_gw_level = r.ini_gw_level, .substeps = 4});
    ASSERT_EQ(run.status, 0) << run.f.console();
    std::vector<grid_matrix> inputs;
    inputs.reserve(2);
    for (const char* n : {"concflux_tracer_1_input", "concflux_tracer_2_snow_model"}) {
      inputs.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
      run.publish_next(n, &inputs.back());
    }
    const std::string dir = run.f.cd.dir.path();
    std::vector<tracer_entry> list = {tracer_entry{},
                                      tracer(dir, "cl_", 0, -9999, 0, 2, 5, 0),
                                      tracer(dir, "tri", 1, 12.3, 1, 1, 4, 3)};
    ASSERT_EQ(init(run, &list), 0) << run.f.console();
    EXPECT_DOUBLE_EQ(run.module->get_decay_factor(1), 1);
    const double f = std::exp(-(60.0 / 4 / 1440) / (1.442695041111 * 12.3));
    EXPECT_DOUBLE_EQ(run.module->get_decay_factor(2), f);
    EXPECT_DOUBLE_EQ(list[2].decay_factor, f);
    EXPECT_EQ(run.f.store[run.entry_of("concstor_tracer_1_unsatzon_model") + 1].grid_name,
              "_CONC_QD_1_");
    EXPECT_EQ(run.f.store[run.entry_of("concstor_tracer_1_unsatzon_model") + 2].grid_name,
              "_CONC_QI_1_");
    const std::string header = read_file(dir + "/cl_unsat.sta");
    EXPECT_NE(header.find("unsatzon_model_submodel:tracer concentration for tracer 1 (cl_) \n"),
              std::string::npos)
        << header;
    // Amounts theta x 1000 x d times soilini above the table layer, gwini
    // from it on; the evaporating tracer holds its values as they are.
    const stack_matrix& amount = run.stack("concstor_tracer_1_unsatzon_model");
    const stack_matrix& value = run.stack("concstor_tracer_2_unsatzon_model");
    const stack_matrix& theta = run.stack("theta");
    for (int l = 1; l <= L; ++l) {
      const double ini = l < r.level ? 2 : 5;
      EXPECT_NEAR(amount[1][1][l],
                  ini * theta[1][1][l] * 1000 * run.f.soils[1].thickness[static_cast<size_t>(l)],
                  1e-9)
          << l;
      EXPECT_EQ(value[1][1][l], l < r.level ? 1 : 4) << l;
      EXPECT_EQ(amount[1][3][l], NODATA);
    }
    // At the table: gwini; the second lowered to its max_conc 3.
    EXPECT_NEAR(run.grid("concstor_tracer_1_unsatzon_model")[1][2], 5, 1e-12);
    EXPECT_EQ(run.grid("concstor_tracer_2_unsatzon_model")[1][2], 3);
    const subbasin_flow_arrays& qg = *run.module->get_qg();
    ASSERT_EQ(qg.size(), 3U);
    EXPECT_NEAR(qg[1][1], 5, 1e-12);
    EXPECT_NEAR(qg[2][1], 3, 1e-12);
  }
  // A half-time of 0 or less: factor 0 and a warning, never above 1.
  setup_run run({});
  grid_matrix input = run.f.grids.matrix(1, 1, 0, 3, 1);
  run.publish_next("concflux_tracer_1_irrigation", &input);
  std::vector<tracer_entry> list = {tracer_entry{},
                                    tracer(run.f.cd.dir.path(), "rad", 1, -5, 0, 0, 0, 0)};
  ASSERT_EQ(init(run, &list), 0) << run.f.console();
  EXPECT_EQ(run.module->get_decay_factor(1), 0);
  EXPECT_EQ(count_of(run.f.console(), "half-time of tracer 1 (rad) is -5"), 1) << run.f.console();
}

TEST(UnsatzonRunoffRecords, ATracerWithoutInputGridStopsWith33) {
  setup_run run({});
  std::vector<tracer_entry> list = {tracer_entry{},
                                    tracer(run.f.cd.dir.path(), "cl_", 0, 0, 0, 0, 0, 0)};
  EXPECT_EQ(init(run, &list), 33) << run.f.console();
}

std::string lake_section(int lake_switch, int method) {
  return "[lake_model]\n" + std::to_string(lake_switch) + " flow control parameter for\n" +
         std::to_string(method) + " initialization method for\n";
}

TEST(UnsatzonLakes, LakeCellsStartSaturatedByMethodAndPonding) {
  struct row {
    const char* name;
    setup_options options;
    int status;
    int lake_switch;
    bool saturated[2];  // cells 1 and 2
    bool lowered;       // elevation of lake cells lowered by 50 mm / 1000
    const char* message;
  } rows[] = {
      {"no lake grid",
       {.pond = "1", .lake_section = lake_section(1, 1)},
       0, 0, {false, false}, false, "no LAKE-grid was found in unsatzon_model\nLake "
                                    "modelling is switched off for unsatzon_model."},
      {"units on",
       {.pond = "1", .lake_codes = {3, 3, NODATA}, .lake_section = lake_section(1, 1),
        .hru = true},
       0, 0, {false, false}, false, ""},
      // Code 0 is no lake: cell 2 stays, with one warning.
      {"readgrid 0, method 1",
       {.pond = "1", .lake_codes = {3, 0, NODATA}, .lake_section = lake_section(1, 1)},
       0, 1, {true, false}, false, "1 cells of grid \"lake_codes\" hold 0 or a negative code"},
      {"readgrid 3, method 1: 1.5 mm ponding but not 0.8",
       {.readgrid = "3", .pond = "1", .stack_levels = L, .lake_codes = {3, 3, NODATA},
        .lake_section = lake_section(1, 1), .ponding = {1.5, 0.8}},
       0, 1, {true, false}, false, ""},
      {"readgrid 3, method 2: both above 0.3",
       {.readgrid = "3", .pond = "1", .stack_levels = L, .lake_codes = {3, 3, NODATA},
        .lake_section = lake_section(1, 2), .ponding = {1.5, 0.8}},
       0, 1, {true, true}, true, ""},
      {"no ponding", {.lake_codes = {3, 3, NODATA}, .lake_section = lake_section(1, 1)}, 215, 1,
       {false, false}, false, "pond_use must be set in unsatzon_model\nfor using the [lake_model]"},
      {"pond parameter 2",
       {.pond = "2", .lake_codes = {3, 3, NODATA}, .lake_section = lake_section(1, 1)},
       215, 1, {false, false}, false, "pond parameter 2 builds no ponding storage"},
      {"method 3",
       {.pond = "1", .lake_codes = {3, 3, NODATA}, .lake_section = lake_section(1, 3)},
       215, 1, {false, false}, false, "Allowed values are 1 (no change of grids) or 2"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run(r.options);
    ASSERT_EQ(run.status, r.status) << run.f.console();
    if (r.message[0] != '\0') {
      EXPECT_NE(run.f.console().find(r.message), std::string::npos) << run.f.console();
    }
    if (r.status != 0) continue;
    EXPECT_EQ(run.module->get_lake_switch(), r.lake_switch);
    for (int c = 1; c <= 2; ++c) {
      SCOPED_TRACE(c);
      const double* theta = run.stack("theta")[1][c];
      if (r.saturated[c - 1]) {
        EXPECT_EQ(run.grid("groundwater_distance")[1][c], 0);
        EXPECT_EQ(run.grid("groundwater_level")[1][c], 1);
        for (int l = 1; l <= L - 1; ++l) EXPECT_EQ(theta[l], THETA_SAT) << l;
      } else {
        EXPECT_LT(theta[1], THETA_SAT);
      }
      EXPECT_NEAR(run.dem[1][c], r.lowered ? SURFACE - 0.05 : SURFACE, 1e-12);
    }
  }
}

TEST(UnsatzonServices, ExternalTableOnOwnCellsAndMaxPumping) {
  setup_run run({.irrigation = true});
  ASSERT_EQ(run.status, 0) << run.f.console();
  // ini_gw_level 2: table at -0.8 m, the top of layer 6 (level 6).
  grid_matrix& level = run.grid("groundwater_level");
  ASSERT_EQ(level[1][1], 6);
  const soil_entry& soil = run.f.soils[1];
  const double drainable = THETA_SAT - soil.theta_from_suction(6, 3.45);
  run.module->compute_max_pumping();
  // Layers 6..9 of 0.2 m: layer 10, the lowest, does not count.
  EXPECT_NEAR(run.grid("Max_Pumping")[1][1], 4 * drainable * 0.2 * 1000, 1e-9);
  // A cell where no saturated layer was found takes layer L: nothing.
  level[1][2] = 0;
  run.module->compute_max_pumping();
  EXPECT_EQ(run.grid("Max_Pumping")[1][2], 0);
  EXPECT_EQ(run.grid("Max_Pumping")[1][3], NODATA);
  level[1][2] = 6;

  // Cell 1 keeps its table, cell 2 gets it 0.3 m lower (inside layer 7).
  std::vector<double> before(run.stack("theta")[1][2], run.stack("theta")[1][2] + L + 1);
  grid_matrix& external = run.grid("GWTableExtern");
  external[1][1] = SURFACE - 0.8;
  external[1][2] = SURFACE - 1.1;
  run.module->apply_external_gw_table(60);
  EXPECT_TRUE(run.module->external_table_applied());
  EXPECT_NEAR(run.grid("Balance")[1][1], 0, 1e-9);
  double water = 0;
  for (int l = 1; l <= L; ++l)
    water += (run.stack("theta")[1][2][l] - before[static_cast<size_t>(l)]) *
             soil.thickness[static_cast<size_t>(l)];
  EXPECT_NEAR(run.grid("Balance")[1][2], 1000 * water, 1e-9);
  EXPECT_LT(water, 0);
  EXPECT_EQ(level[1][2], 7);
  EXPECT_NEAR(run.grid("groundwater_distance")[1][2], -1.1, 1e-9);
  EXPECT_EQ(run.grid("baseflow")[1][2], 0);
  EXPECT_EQ(run.grid("Balance")[1][3], NODATA);  // outside the zone grid
}

TEST(UnsatzonBeginStep, ProgressLineFirstTemperaturesAndTheShift) {
  // Zones 1 and 3 (3600 and 7200.5 s at 60 minutes), heat transfer on.
  setup_run run({.heat = true, .flow_times = {3600, 7200.5, 0}});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  grid_matrix& air = run.grid("temperature");
  for (int c = 1; c <= 3; ++c) air[1][c] = 10;
  run.module->set_report_interval(1);
  flow_time_queues& q = const_cast<flow_time_queues&>(run.module->get_zone_queues());
  q.direct[0][1][3].sum = 7;
  auto& gwn = const_cast<std::vector<zone_record>&>(
      run.module->get_statistic_zones(unsatzon_statistic::gwn));
  gwn[1].count = gwn[1].sum = gwn[1].weight = 3;
  run.module->begin_step({2000, 2, 1, 3});
  // The step's sums start from 0.
  EXPECT_EQ(gwn[1].count + gwn[1].sum + gwn[1].weight, 0);
  EXPECT_NE(run.f.console().find("1.2.2000 3. h (time of meteo data)+ft,"), std::string::npos)
      << run.f.console();
  EXPECT_EQ(q.direct[0][1][2].sum, 7);
  EXPECT_EQ(q.direct[0][1][3].sum, 0);
  // Level 0 the lower boundary (5 degC at 1000 m), layer l the mix by the
  // relative depth of its middle in the 1.8 m column.
  const double mids[] = {0, 0.025, 0.125, 0.3, 0.5, 0.7, 0.9, 1.1, 1.3, 1.5, 1.7};
  stack_matrix& t = run.stack("Soil_Temperature_Stack");
  EXPECT_NEAR(t[1][1][0], 5, 1e-12);
  for (int l = 1; l <= L; ++l) {
    const double w = mids[l] / 1.8;
    EXPECT_NEAR(t[1][1][l], w * 5 + (1 - w) * 10, 1e-9) << l;
    EXPECT_EQ(t[1][3][l], NODATA) << l;
  }
  // Set once: a later step leaves the profile to the heat model.
  air[1][1] = -20;
  run.module->begin_step({2000, 2, 1, 4});
  EXPECT_NEAR(t[1][1][1], mids[1] / 1.8 * 5 + (1 - mids[1] / 1.8) * 10, 1e-9);
}

TEST(UnsatzonServices, WaterInputGridByTheOrderOfInterceptionAndSnow) {
  struct row {
    const char* name;
    char interception_first;
    std::vector<std::string> present;
    std::string chosen;  // "" for code 33
  } rows[] = {
      {"snow before interception", 0, {"snowcover_outflow", "throughfall0"}, "throughfall0"},
      {"interception before snow", 1, {"snowcover_outflow", "throughfall0"}, "snowcover_outflow"},
      {"only precipitation", 1, {"precipitation"}, "precipitation"},
      {"none", 0, {}, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({});
    ASSERT_EQ(run.status, 0) << run.f.console();
    std::vector<grid_matrix> grids;
    grids.reserve(r.present.size());
    for (const std::string& n : r.present) {
      grids.push_back(run.f.grids.matrix(1, 1, 0, 3, 1));
      run.publish_next(n, &grids.back());
    }
    int code = 0;
    try {
      run.module->select_input_grid(r.interception_first);
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, r.chosen.empty() ? 33 : 0);
    if (!r.chosen.empty()) {
      EXPECT_EQ(run.module->get_input_grid_index(), run.entry_of(r.chosen));
    }
  }
}

TEST(UnsatzonRunoffRecords, ReadTracerStorageAndTheControlCellTracerFile) {
  struct row {
    int levels;  // of the tracer's storage file
    int status;
  } rows[] = {{L, 0}, {L - 1, 13}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.levels);
    // Readgrid 1 also reads the storage content file: the one a run with
    // the same tracer wrote.
    std::string state;
    {
      setup_run before({});
      grid_matrix input = before.f.grids.matrix(1, 1, 0, 3, 1);
      before.publish_next("concflux_tracer_1_input", &input);
      std::vector<tracer_entry> list = {tracer_entry{},
                                        tracer(before.f.cd.dir.path(), "cl_", 0, 0, 0, 0, 0, 0)};
      ASSERT_EQ(init(before, &list), 0) << before.f.console();
      before.module->write_state(0);
      state = read_file(before.f.cd.dir.file("state.txt_0"));
    }
    setup_run run({.readgrid = "1", .stack_levels = L, .control_cell = "1 2"});
    ASSERT_EQ(run.status, 0) << run.f.console();
    run.f.cd.dir.write("state.txt_0", state);
    grid_matrix input = run.f.grids.matrix(1, 1, 0, 3, 1);
    run.publish_next("concflux_tracer_1_input", &input);
    const std::string dir = run.f.cd.dir.path();
    {
      captured_diag quiet;
      grid_store scratch;
      grid_object writer(*quiet.diag, scratch, 3, 1);
      stack_matrix m = writer.matrix_3d(1, 1, 1, 3, r.levels, 1);
      for (int c = 1; c <= 3; ++c)
        for (int l = 0; l <= r.levels; ++l) m[1][c][l] = 0.25 * l;
      writer.write_stack(dir + "/cl_unsat.grd", m, r.levels, true, false);
    }
    std::vector<tracer_entry> list = {tracer_entry{}, tracer(dir, "cl_", 0, 0, 0, 0, 0, 0)};
    ASSERT_EQ(init(run, &list), r.status) << run.f.console();
    if (r.status != 0) {
      EXPECT_NE(run.f.console().find("wrong number of levels in stack " + dir +
                                     "/cl_unsat.grd (there are 9 levels, it must be 10"),
                std::string::npos)
          << run.f.console();
      continue;
    }
    EXPECT_EQ(run.stack("concstor_tracer_1_unsatzon_model")[1][2][4], 1);
    std::string header = "YY\tMM\tDD\tHH\ttracer concentration for tracer 1 (cl_) [1][2]";
    for (int l = 1; l <= L; ++l) header += "[" + std::to_string(l) + "]\t";
    EXPECT_EQ(read_file(dir + "/cl_point.sta"), header + "\n");
    // The six files of the cell, then the tracer's: 2097152 / (11 x 8 + 32).
    const std::vector<control_cell_buffer>& buffers = run.module->get_control_cell_buffers();
    ASSERT_EQ(buffers.size(), 7U);
    EXPECT_EQ(buffers[6].capacity, 17476);
  }
}

}  // namespace
