// The surface-routing module on small grids: its set-up and messages, the
// water balance of a tilted basin (rain put on the cells = water delivered
// to the river cells + water left on the cells), the kinematic wave on a
// plane (Wooding 1965), the runoff concentration into Qg and its storage
// content section.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "routing/surfrout_fixture.h"
#include "settings/tracer_entry.h"

namespace {

model_date date_of(int step) { return model_date{2001, 4, 1 + step / 24, step % 24}; }

// A basin of 6 x 8 cells of 100 m falling 1 m per cell eastwards and
// 0.5 m per row towards row 3, its river in the last column.
void tilted_basin(surfrout_fixture& f) {
  f.fill("[elevation_model]",
         [](int r, int c) { return 10.0 * (8 - c) + 0.5 * std::fabs(r - 3.0) + 50; });
  f.river_in_last_column();
}

struct balance {
  double rain = 0;       // rain times relative area [mm]
  double delivered = 0;  // water reaching the rivers times relative area [mm]
};

// Rain of rain_mm per sub-step on every cell, fed as "directflow" = what
// was left on the cell + the rain.
balance run_rain(surfrout_fixture& f, int steps, int substeps, double rain_mm) {
  balance b;
  const int rel = f.find("RelCellArea");
  auto weight = [&](int r, int c) { return rel > 0 ? (*f.store[rel].grid)[r][c] : 1.0; };
  grid_matrix& direct = f.named("directflow");
  grid_matrix& storage = f.named("SurfStorSiltingUp");
  for (int step = 0; step < steps; ++step) {
    f.module->begin_step(date_of(step));
    for (int k = 1; k <= substeps; ++k) {
      for (int r = 1; r <= f.nrows; ++r)
        for (int c = 1; c <= f.ncols; ++c) {
          direct[r][c] = storage[r][c] + rain_mm;
          b.rain += rain_mm * weight(r, c);
        }
      f.module->run_substep(date_of(step), k);
      for (int r = 1; r <= f.nrows; ++r) b.delivered += direct[r][f.ncols] * weight(r, f.ncols);
    }
    f.module->end_step(date_of(step));
  }
  return b;
}

TEST(SurfroutSetup, StepBoundsBecomeWholeFractionsOfTheSubstep) {
  // 60-minute step, 3 sub-steps: S = 1200 s.
  struct row {
    double s_min, s_max, min_after, max_after;
    bool info, warning;
  } rows[] = {{60, 500, 60, 600, true, false},
              {60, 2000, 60, 1200, true, false},
              {60, 400, 60, 400, false, false},
              {7, 400, 1200.0 / 171, 400, false, true}};
  for (const row& x : rows) {
    surfrout_fixture f(3, 4, 100);
    surfrout_section s;
    s.s_min = x.s_min;
    s.s_max = x.s_max;
    ASSERT_EQ(f.build(s, 3), 0) << f.cap.console();
    EXPECT_EQ(f.module->get_max_step(), x.max_after);
    EXPECT_EQ(f.module->get_min_step(), x.min_after);
    const std::string log = f.cap.console();
    EXPECT_EQ(log.find("longest allowed subtimestep changed from") != std::string::npos, x.info);
    EXPECT_EQ(log.find("shortest allowed subtimestep changed from") != std::string::npos,
              x.warning);
  }
}

TEST(SurfroutSetup, ShortestStepChangeIsAWarning) {
  surfrout_fixture f(3, 4, 100);
  surfrout_section s;
  s.s_min = 7;
  s.s_max = 400;
  ASSERT_EQ(f.build(s, 3), 0);
  const std::string xml = f.cap.xml();
  // Level 2 is WARNING.
  EXPECT_NE(xml.find("level=\"2\" description= \"shortest allowed subtimestep "
                     "changed from 7 "
                     "to 7.01754"),
            std::string::npos)
      << xml;
  EXPECT_EQ(xml.find("longest allowed subtimestep changed"), std::string::npos);
}

TEST(SurfroutSetup, RefusedSectionsAndGrids) {
  {
    surfrout_fixture f(3, 4, 100);
    surfrout_section s;
    s.method = 7;
    EXPECT_EQ(f.build(s, 1), 10);
    EXPECT_NE(f.cap.console().find("invalid method (7) read for SurfaceRoutingModel"),
              std::string::npos);
  }
  {
    surfrout_fixture f(3, 4, 100);
    f.add("GlacierCodes", 0);
    EXPECT_EQ(f.build(surfrout_section{}, 1), 2);
    EXPECT_NE(f.cap.console().find("Surface routing module cannot be used when glacier"),
              std::string::npos);
  }
  {
    surfrout_fixture f(3, 4, 100);
    EXPECT_EQ(f.build(surfrout_section{}, 1), 0);
    // Without the unsaturated zone's base flow the module cannot form Qg.
    EXPECT_THROW(f.module->set_qbb(nullptr), int);
  }
  {
    surfrout_fixture f(3, 4, 100);
    for (int i = f.store.first_free(1); i < GRID_STORE_FULL; ++i) {
      f.store[i].grid_name = "x";
      f.store[i].file_name = "x";
    }
    EXPECT_EQ(f.build(surfrout_section{}, 1), 12);
  }
}

TEST(SurfroutSetup, PublishedGridsOptionalOnesAndMissingStatistic) {
  surfrout_fixture f(3, 4, 100);
  grid_matrix& existing = f.add("Plancurvature", 0.25);
  surfrout_section s;
  s.last_line = "";  // the surface-storage statistic is optional
  ASSERT_EQ(f.build(s, 1), 0) << f.cap.console();
  const int j = f.find("SurfaceRoutingVelocity");
  const char* order[] = {
      "SurfaceRoutingVelocity",   "SurfaceRoutingFluxes",       "SurfaceRoutingWeights",
      "SurfaceRoutingHead",       "SurfaceRoutingHeadOld",      "SurfaceRoutingRoughnessX",
      "SurfaceRoutingRoughnessY", "SurfaceRoutingManningCoeff", "SurfaceRoutingQIn",
      "SurfaceRoutingQOut",       "CriticalShearStress"};
  for (int k = 0; k < 11; ++k) EXPECT_EQ(f.find(order[k]), j + k) << order[k];
  EXPECT_EQ(f.store[f.find("Plancurvature")].grid, &existing);
  EXPECT_EQ(f.named("SurfaceRoutingManningCoeff")[2][2],
            10.0);  // SR_K_ST of the class
  EXPECT_EQ(f.named("CriticalShearStress")[2][2], 0.9);
}

TEST(SurfroutSetup, PlanCurvatureOfAFlatTerrainAndCellsWithoutAClass) {
  surfrout_fixture f(4, 4, 100);
  f.fill("[elevation_model]", [](int, int) { return 100.0; });
  f.fill("landuse1", [](int r, int) { return r == 1 ? -9999.0 : 1.0; });
  ASSERT_EQ(f.build(surfrout_section{}, 1), 0) << f.cap.console();
  // Border cells are computed as nodata and filled from their neighbours.
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(f.named("Plancurvature")[r][c], 0.0);
  EXPECT_EQ(f.named("SurfaceRoutingManningCoeff")[1][2], 0.0);
  EXPECT_NE(f.cap.console().find("4 cells of SurfaceRoutingModel have no land-use"),
            std::string::npos);
}

TEST(SurfroutStep, WithoutMovingWaterTheInternalStepIsTheLongest) {
  surfrout_fixture f(3, 4, 100);
  surfrout_section s;
  s.s_min = 60;
  s.s_max = 600;
  ASSERT_EQ(f.build(s, 1), 0);
  f.module->begin_step(date_of(0));
  f.module->run_substep(date_of(0), 1);
  EXPECT_EQ(f.module->get_last_step_length(), 600);
  EXPECT_EQ(f.module->get_internal_steps(), 6);
}

TEST(SurfroutBalance, TiltedBasinClosesForEveryMethod) {
  struct row {
    int method;
    bool variable_sizes;
  } rows[] = {{1, false}, {2, false}, {3, false}, {4, false}, {5, false}, {6, false},
              {1, true},  {2, true},  {3, true},  {4, true},  {5, true}};
  for (const row& x : rows) {
    surfrout_fixture f(6, 8, 100);
    tilted_basin(f);
    if (x.variable_sizes) f.variable_cell_sizes();
    surfrout_section s;
    s.method = x.method;
    s.interval = 60;
    s.s_min = 10;
    s.s_max = 300;
    s.concentration = 2;
    ASSERT_EQ(f.build(s, 2), 0) << f.cap.console();
    const balance b = run_rain(f, 3, 2, 5);
    const double left = f.weighted_sum("SurfStorSiltingUp");
    EXPECT_GT(b.delivered, 0.0) << x.method;
    EXPECT_GT(left, 0.0) << x.method;
    EXPECT_NEAR(b.delivered + left, b.rain, 1e-9 * b.rain)
        << "method " << x.method << (x.variable_sizes ? " variable cell sizes" : "");
  }
}

// Wooding (1965) kinematic wave on a plane: L = 100 m, S0 = 0.01, K = 10,
// rain 50 mm/h. alpha = K sqrt(S0) = 1, m = 5/3; equilibrium q = i L =
// 1.3889e-3 m2/s, reached after t_e = (L / (alpha i^(m-1)))^(1/m) = 1389.7 s.
TEST(SurfroutKinematicWave, PlaneReachesTheEquilibriumOutflow) {
  for (int method = 1; method <= 6; ++method) {
    const int cells = 10;  // 10 m cells, the river beyond them
    surfrout_fixture f(1, cells + 1, 10);
    f.fill("[elevation_model]", [&](int, int c) { return 0.1 * (cells + 1 - c); });
    f.river_in_last_column();
    surfrout_section s;
    s.method = method;
    s.interval = 10;
    s.s_min = 1;
    s.s_max = 10;
    ASSERT_EQ(f.build(s, 1), 0) << f.cap.console();
    grid_matrix& direct = f.named("directflow");
    grid_matrix& storage = f.named("SurfStorSiltingUp");
    const double rain = 50.0 / 6;  // [mm] per 10-minute sub-step
    double q = 0;
    for (int step = 0; step < 18; ++step) {  // 3 h, several t_e
      f.module->begin_step(date_of(step));
      for (int c = 1; c <= cells; ++c) direct[1][c] = storage[1][c] + rain;
      direct[1][cells + 1] = 0;
      f.module->run_substep(date_of(step), 1);
      // Delivered depth over the river cell's 10 m x 10 m per 600 s, per m
      // width.
      q = direct[1][cells + 1] / 1000 * 10 * 10 / 10 / 600;
      f.module->end_step(date_of(step));
    }
    EXPECT_NEAR(q, 1.3889e-3, 0.01 * 1.3889e-3) << "method " << method;
  }
}

// The rising limb of the same plane, q(L, t) = alpha (i t)^(5/3) for t < t_e
// (Wooding 1965). The module is handed each sub-step's rain at the start of
// the sub-step, so with n sub-steps of dt in the first 10 minutes it must
// follow the kinematic wave of those pulses: the depth on the plane below
// the reach of the upper edge is k i dt after the k-th pulse, the outflow in
// sub-step k alpha (k i dt)^(5/3). Their mean over 600 s is
// alpha (i dt)^(5/3) sum k^(5/3) / n: 8/3 of the limb's mean
// alpha (i 600)^(5/3) 3/8 for one sub-step, tending to it as dt shrinks.
TEST(SurfroutKinematicWave, RisingLimbIsApproachedAsSubstepsShorten) {
  const double i = 0.05 / 3600;  // [m/s]
  // Mean of alpha (i t)^(5/3) over [a, b] (alpha = 1).
  auto limb_mean = [&](double a, double b) {
    return std::pow(i, 5.0 / 3) * 3.0 / 8 * (std::pow(b, 8.0 / 3) - std::pow(a, 8.0 / 3)) /
           (b - a);
  };
  for (int method : {2, 4}) {
    double previous_error = 0;
    for (int n : {1, 5, 60}) {
      const int cells = 10;
      surfrout_fixture f(1, cells + 1, 10);
      f.fill("[elevation_model]", [&](int, int c) { return 0.1 * (cells + 1 - c); });
      f.river_in_last_column();
      surfrout_section s;
      s.method = method;
      s.interval = 10;
      s.s_min = 1;
      s.s_max = 10;
      ASSERT_EQ(f.build(s, n), 0) << f.cap.console();
      grid_matrix& direct = f.named("directflow");
      grid_matrix& storage = f.named("SurfStorSiltingUp");
      const double dt = 600.0 / n;
      double volume[2] = {0, 0};  // [m3 per m width] in 0-10 and 10-20 min
      for (int step = 0; step < 2; ++step) {
        f.module->begin_step(date_of(step));
        for (int k = 1; k <= n; ++k) {
          for (int c = 1; c <= cells; ++c) direct[1][c] = storage[1][c] + 50.0 / 3600 * dt;
          direct[1][cells + 1] = 0;
          f.module->run_substep(date_of(step), k);
          volume[step] += direct[1][cells + 1] / 1000 * 10;
        }
        f.module->end_step(date_of(step));
      }
      double pulses = 0;
      for (int k = 1; k <= n; ++k) pulses += std::pow(k * i * dt, 5.0 / 3);
      const double q = volume[0] / 600;
      EXPECT_NEAR(q, pulses / n, 0.025 * pulses / n) << "method " << method << ", n " << n;
      // The error against the limb falls with dt (first order).
      const double error = std::fabs(q / limb_mean(0, 600) - 1);
      if (n == 1) {
        EXPECT_NEAR(error, 5.0 / 3, 0.05) << "method " << method;
      }
      if (n == 5) {
        EXPECT_LT(error, previous_error / 4) << "method " << method;
      }
      if (n == 60) {
        EXPECT_LT(error, previous_error / 5) << "method " << method;
        EXPECT_LT(error, 0.05) << "method " << method;
        EXPECT_NEAR(volume[1] / 600, limb_mean(600, 1200), 0.02 * limb_mean(600, 1200))
            << "method " << method;
      }
      previous_error = error;
    }
  }
}

TEST(SurfroutConcentration, QgIsDeliveredRunoffPlusInterflowPlusBaseFlow) {
  surfrout_fixture f(6, 8, 100);
  tilted_basin(f);
  f.fill("interflow", [](int, int) { return 0.25; });  // [mm] per sub-step
  surfrout_section s;
  ASSERT_EQ(f.build(s, 2), 0);
  f.qbb[0][1] = 0.5;
  const double before_storage = f.weighted_sum("SurfStorSiltingUp");
  const balance b = run_rain(f, 1, 2, 4);
  const double cells = 48;
  // Without "flow_times" every cell is in zone 1 and the storages (a
  // recession constant of 1e-6 min) pass the step's values on: QD is the
  // delivered depth over the subbasin, QI the interflow of the step (two
  // sub-steps of 0.25 mm).
  const subbasin_flow_arrays& qg = *f.module->get_qg();
  EXPECT_NEAR(f.module->get_qdd()[0][1], b.delivered / cells, 1e-12);
  EXPECT_NEAR(f.module->get_qii()[0][1], 0.5, 1e-12);
  EXPECT_NEAR(qg[0][1], b.delivered / cells + 0.5 + 0.5, 1e-12);
  EXPECT_EQ(before_storage, 0.0);
}

TEST(SurfroutState, StorageSectionRoundTripAndMismatch) {
  surfrout_fixture f(6, 8, 100);
  tilted_basin(f);
  ASSERT_EQ(f.build(surfrout_section{}, 1), 0);
  run_rain(f, 2, 1, 3);
  const std::string name = "state_0";
  f.module->read_state(&name, 0);  // keeps the name, reads nothing
  f.module->write_state(0);
  const std::string text = read_file(f.cap.dir.file("state_0"));
  EXPECT_EQ(text.rfind("[SurfaceRoutingModel]\n1 (number of subasins)\n0 (number of "
                       "tracers)\n"
                       "0 (0=runoff, 1...9 = tracers)\n1 1 (zone 1 and maxzeit)\n",
                       0),
            0u)
      << text;
  const double stored = f.module->get_qdd()[0][1];

  surfrout_fixture g(6, 8, 100);
  tilted_basin(g);
  ASSERT_EQ(g.build(surfrout_section{}, 1), 0);
  const std::string path = f.cap.dir.file("state_0");
  g.module->read_state(&path, 1);
  EXPECT_NEAR(g.module->get_qdd()[0][1], stored, 1e-5 * stored);

  // One zone more in the file than the queues have.
  std::string changed = text;
  changed.replace(changed.find("1 1 (zone 1"), 3, "1 2");
  g.cap.dir.write("bad_0", changed);
  const std::string bad = g.cap.dir.file("bad_0");
  EXPECT_THROW(g.module->read_state(&bad, 3), int);
  const std::string log = g.cap.console();
  EXPECT_NE(log.find("error in storage file content reading maxzeit of actual subbasin:"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("value in actual control is:   1"), std::string::npos);
  EXPECT_NE(log.find("but value in storage file is: 2"), std::string::npos);
  // Missing file or section: a warning, the run goes on.
  const std::string missing = g.cap.dir.file("none_0");
  g.module->read_state(&missing, 1);
  EXPECT_NE(g.cap.console().find("error opening storage content file "), std::string::npos);
}

}  // namespace

namespace {

// A tracer of the same concentration in all direct runoff keeps that
// concentration on the cells and in what reaches the rivers (mixing equal
// concentrations), for a single-direction and a dividing method and for
// method 6.
TEST(SurfroutTracers, UniformConcentrationStaysUniform) {
  for (int method : {1, 4, 6}) {
    surfrout_fixture f(6, 8, 100);
    tilted_basin(f);
    grid_matrix& conc_qd = f.add("_CONC_QD_1_", 2.0);
    f.add("_CONC_QI_1_", 0.0);
    surfrout_section s;
    s.method = method;
    std::FILE* file = std::fopen(f.settings.control_file.c_str(), "w");
    std::fputs(s.text().c_str(), file);
    std::fclose(file);
    int status = -1;
    f.module = std::make_unique<surfaceroutingclass>(
        status, f.cap.diag.get(), &f.registry, 200, "SurfaceRoutingModel", &f.store, f.settings, 1);
    ASSERT_EQ(status, 0) << f.cap.console();
    std::vector<tracer_entry> list(2);
    list[1].name = "chl";
    list[1].statext = "stc";
    list[1].gridext = "grc";
    f.module->init_tracers(status, 1, list.data(), &f.registry, 200);
    ASSERT_EQ(status, 0) << f.cap.console();
    f.qbb = make_flow_arrays(1, 1);
    f.module->set_qbb(&f.qbb);
    // A grid of that name is registered by the module (no silting-up module).
    const int own_storage = f.find("concstor_tracer_1_SiltingUpModel");
    ASSERT_GT(own_storage, 0);
    grid_matrix& direct = f.named("directflow");
    for (int r = 1; r <= 6; ++r)
      for (int c = 1; c <= 8; ++c) direct[r][c] = 6;
    f.module->begin_step(date_of(0));
    f.module->run_substep(date_of(0), 1);
    const grid_matrix& stored = *f.store[own_storage].grid;
    const grid_matrix& storage = f.named("SurfStorSiltingUp");
    for (int r = 1; r <= 6; ++r) {
      EXPECT_GT(direct[r][8], 0.0);
      EXPECT_NEAR(conc_qd[r][8], 2.0, 1e-12) << method << " row " << r;
      for (int c = 1; c <= 7; ++c)
        if (storage[r][c] > 0) {
          EXPECT_NEAR(stored[r][c], 2.0, 1e-12) << method << " " << r << "," << c;
        }
    }
    f.module->end_step(date_of(0));
  }
}

}  // namespace
