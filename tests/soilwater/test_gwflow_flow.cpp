// The flow solver against closed-form solutions and the balance of the
// groundwater module. Layer 1 takes its heads from the unsaturated zone every
// sub-step, so the flow cases use layer 2 of two: colmation 0, heads above
// its top (a confined layer, T = k b), storage coefficient S_2, alpha 1.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>

#include "gwflow_fixture.h"

namespace {

using gwtest::gw_run;
using gwtest::gw_section;
using gwtest::SECONDS_PER_DAY;

constexpr double SURFACE = 100;     // [m]
constexpr double SOIL_DEPTH = 1;    // [m] layer 1; layer 2 starts at 99 m
constexpr double THICKNESS = 10;    // [m] layer 2

// Layer 2 of a run with transmissivity T [m2 d-1] and storage S.
void aquifer(gw_run& run, double t_per_day, double storage) {
  const double k = t_per_day / SECONDS_PER_DAY / THICKNESS;
  run.layer_grid("gw_k_x_", 2, k);
  run.layer_grid("gw_k_y_", 2, k);
  run.layer_grid("gw_storage_coeff_", 2, storage);
}

gw_section solver(const std::string& maxerror, const std::string& maxiter = "200000") {
  gw_section s;
  s.maxerror = maxerror;
  s.maxiter = maxiter;
  return s;
}

TEST(GwflowFlow, SteadyOneDimensionalFlowBetweenFixedHeads) {
  // Linear heads from 105 to 101 m over 20 cells of 10 m; discharge
  // k dH / L = 1e-4 * 4 / 200 = 2e-6 m/s. Method 1 converged, method 2 in one pass.
  for (const char* method : {"1", "2"}) {
    gw_run run(1, 21, 2, 10, SURFACE, SOIL_DEPTH, THICKNESS);
    run.layer_grid("gw_k_x_", 2, 1e-4);
    run.layer_grid("gw_k_y_", 2, 1e-4);
    run.layer_grid("gw_storage_coeff_", 2, 1e-12);  // no storage to speak of: steady
    grid_matrix& fixed = run.grid("gw_boundary_fix_h_2");
    fixed[1][1] = 105;
    fixed[1][21] = 101;
    gw_section s = solver("1e-13");
    s.method = method;
    ASSERT_EQ(run.build(s), 0) << run.console();
    run.step(1);
    if (std::string(method) == "2") {
      EXPECT_EQ(run.module->iterations(), 1);
    }
    for (int c = 1; c <= 21; ++c)
      EXPECT_NEAR(run.L(2).head[1][c], 105 - 4.0 * (c - 1) / 20, 1e-8) << method << " " << c;
    for (int c = 1; c <= 20; ++c)
      EXPECT_NEAR(run.L(2).flow_x[1][c], 2e-6, 2e-14) << method << " " << c;
    EXPECT_EQ(run.L(2).flow_x[1][21], 0);  // last column
  }
}

TEST(GwflowFlow, HeadStepAtAFixedHeadBoundary) {
  // Ferris; Carslaw & Jaeger: dh = dH erfc(x / (2 sqrt(T t / S))), dH = 1 m,
  // T = 100 m2/d, S = 0.1: erfc(0.790569) = 0.263552 (50 m, 1 d),
  // erfc(0.25) = 0.723674 (50 m, 10 d), erfc(1) = 0.157299 (200 m, 10 d).
  gw_run run(1, 121, 2, 10, SURFACE, SOIL_DEPTH, THICKNESS);
  aquifer(run, 100, 0.1);
  run.grid("gw_boundary_fix_h_2")[1][1] = 101;
  gw_section s = solver("1e-10");
  s.interval = 1440;
  ASSERT_EQ(run.build(s, 24), 0) << run.console();
  auto rise = [&](int c) { return run.L(2).head[1][c] - 100; };
  run.step(24);
  EXPECT_NEAR(rise(6), 0.263552, 0.02 * 0.263552);
  for (int day = 2; day <= 10; ++day) run.step(24);
  EXPECT_NEAR(rise(6), 0.723674, 0.02 * 0.723674);
  EXPECT_NEAR(rise(21), 0.157299, 0.02 * 0.157299);
}

TEST(GwflowFlow, SteadyWellAgreesWithThiem) {
  // Thiem: s(r1) - s(r2) = Q / (2 pi T) ln(r2 / r1); Q = 2000 m3/d,
  // T = 500 m2/d: 0.636620 ln 10 = 1.46587 m between 10 and 100 m.
  constexpr int N = 301;  // 2 m cells, fixed-head edges 300 m from the well
  constexpr double DX = 2;
  gw_run run(N, N, 2, DX, SURFACE, SOIL_DEPTH, THICKNESS);
  aquifer(run, 500, 1e-12);
  // Heads 5 m above the surface keep the layer confined at the well.
  run.grid("groundwater_distance", 5);
  grid_matrix& fixed = run.grid("gw_boundary_fix_h_2");
  for (int i = 1; i <= N; ++i) fixed[1][i] = fixed[N][i] = fixed[i][1] = fixed[i][N] = 105;
  const int w = (N + 1) / 2;
  run.grid("gw_boundary_fix_q_2")[w][w] = -2000 / SECONDS_PER_DAY / (DX * DX);
  gw_section s = solver("1e-12");
  s.omega = "1.98";
  ASSERT_EQ(run.build(s), 0) << run.console();
  // Thousands of sweeps: on one thread, so that a busy machine's thread
  // switches do not stretch them (the thread count changes no result).
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  run.step(1);
  omp_set_num_threads(threads);
  const double s10 = 105 - run.L(2).head[w][w + 5];
  const double s100 = 105 - run.L(2).head[w][w + 50];
  EXPECT_NEAR(s10 - s100, 1.46587, 0.03 * 1.46587);
}

TEST(GwflowFlow, ConvergedBalancesAreZeroWithoutBoundaries) {
  // Varied heads, leakage between the layers, no fixed heads or fluxes:
  // the residual of every cell and layer is the solver's tolerance. Layer 2
  // is confined where its start head lies above its top (98 m) and stores
  // with layer 1's coefficient where it lies below.
  gw_run run(4, 5, 2, 50, SURFACE, 2, THICKNESS);
  grid_matrix& distance = run.grid("groundwater_distance");
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 5; ++c) distance[r][c] = -0.3 * r - 0.17 * c;
  run.grid("gw_kolmation_1", 1e-6);
  run.layer_grid("gw_storage_coeff_", 2, 0.01);
  ASSERT_EQ(run.build(solver("1e-14")), 0) << run.console();
  run.module->set_substeps(3);
  for (int n = 0; n < 2; ++n) {
    run.step(3);
    for (int k = 1; k <= 2; ++k)
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 5; ++c)
          EXPECT_NEAR(run.L(k).balance[r][c], 0, 1e-7) << k << " " << r << " " << c;
  }
}

TEST(GwflowFlow, RechargeLeavesThroughFixedHeadsOrIsStored) {
  // Basin balance of layer 2 over one sub-step: fixed inflow in = outflow into
  // the fixed-head column + storage change, summed by the test itself.
  constexpr int R = 3, C = 6;
  constexpr double DX = 20, DT = 3600;
  gw_run run(R, C, 2, DX, SURFACE, SOIL_DEPTH, THICKNESS);
  aquifer(run, 50, 0.05);
  grid_matrix& fixed = run.grid("gw_boundary_fix_h_2");
  grid_matrix& inflow = run.grid("gw_boundary_fix_q_2");
  for (int r = 1; r <= R; ++r) {
    fixed[r][1] = 100;
    for (int c = 3; c <= C; ++c) inflow[r][c] = 1e-7 * (r + c);  // [m s-1]
  }
  ASSERT_EQ(run.build(solver("1e-14")), 0) << run.console();
  for (int n = 0; n < 3; ++n) run.step(1);
  const gw_layer& L = run.L(2);
  double recharge = 0, stored = 0, outflow = 0;
  for (int r = 1; r <= R; ++r) {
    for (int c = 2; c <= C; ++c) {
      const double q = inflow[r][c] > NODATA ? inflow[r][c] : 0;
      recharge += q * DX * DX * DT;
      stored += (L.head[r][c] - L.head_old[r][c]) * 0.05 * DX * DX;
      // Without fixed inflow the residual is the inflow in mm.
      EXPECT_NEAR(L.balance[r][c], q * DT * 1000, 1e-7) << r << " " << c;
    }
    // Darcy flow from column 2 into the fixed column over the face T_x(r, 1).
    outflow += (L.head[r][2] - L.head[r][1]) * L.trans_x[r][1] * DT;
  }
  EXPECT_GT(outflow, 0);
  EXPECT_NEAR(recharge, outflow + stored, 1e-9 * recharge);
}

TEST(GwflowFlow, IterationLimitsAndGlaciatedCells) {
  gw_run run(3, 4, 2, 10, SURFACE, SOIL_DEPTH, THICKNESS);
  run.grid("groundwater_distance")[2][2] = -3;
  run.add("GlacierizedCells", 0)[2][3] = 1;
  run.grid("gw_boundary_fix_h_2")[1][1] = 104;
  gw_section s = solver("1e-14", "1");
  ASSERT_EQ(run.build(s), 0) << run.console();
  const double before = run.L(2).head[2][3];
  run.step(1);
  EXPECT_EQ(run.module->iterations(), 1);  // maxiter 1: one sweep
  // A fully glaciated cell keeps its head; no flow, balance or baseflow.
  EXPECT_EQ(run.L(2).head[2][3], before);
  EXPECT_EQ(run.L(2).flow_x[2][3], 0);
  EXPECT_EQ(run.L(2).flow_y[2][3], 0);
  EXPECT_EQ(run.L(2).trans_x[2][2], 0);
  EXPECT_EQ(run.L(2).balance[2][3], 0);
  EXPECT_EQ(run.grid("baseflow")[2][3], 0);
  // A fixed head holds in every sweep, its previous heads too.
  EXPECT_EQ(run.L(2).head[1][1], 104);
  EXPECT_EQ(run.L(2).head_old[1][1], 104);
  EXPECT_EQ(run.L(2).head_old_old[1][1], 104);
}

TEST(GwflowFlow, BaseflowIsTheTopLayersStorageRelease) {
  // Layer 1 takes its heads from the table again each sub-step; after the
  // solution baseflow = (h0 - h) S_1 / dt, checked against the heads.
  gw_run run(2, 3, 1, 10, SURFACE, 3, THICKNESS);
  grid_matrix& distance = run.grid("groundwater_distance");
  distance[1][1] = -0.5;
  distance[2][3] = -2;
  gw_section s = solver("1e-12");
  s.layers = 1;
  ASSERT_EQ(run.build(s), 0) << run.console();
  run.step(1);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c)
      EXPECT_NEAR(run.grid("baseflow")[r][c],
                  (run.L(1).head_old[r][c] - run.L(1).head[r][c]) * 0.1 / 3600, 1e-18);
  EXPECT_GT(run.grid("baseflow")[1][2], 0);   // the high cells drain
  EXPECT_LT(run.grid("baseflow")[2][3], 0);   // the low cell fills
  EXPECT_DOUBLE_EQ(run.L(1).head_old[2][3], SURFACE - 2);
}


TEST(GwflowFlow, WellDrawdownAgreesWithTheis) {
  // Theis (1935): s = Q / (4 pi T) W(u), u = r2 S / (4 T t); Q = 2000 m3/d,
  // T = 500 m2/d, S = 1e-4, r = 100 m, t = 0.1 d: u = 0.005, W = 4.72610,
  // s = 1.50436 m. 25 m cells, sub-steps of 2 % of the time. The edges lie
  // 2.5 km away, where u = 3.1 and the drawdown of an endless aquifer is
  // below 4 mm at 0.1 d.
  constexpr int N = 201;
  constexpr double DX = 25;
  gw_run run(N, N, 2, DX, SURFACE, SOIL_DEPTH, THICKNESS);
  aquifer(run, 500, 1e-4);
  // Heads 5 m above the surface keep the layer confined at the well.
  run.grid("groundwater_distance", 5);
  const int w = (N + 1) / 2;
  run.grid("gw_boundary_fix_q_2")[w][w] = -2000 / SECONDS_PER_DAY / (DX * DX);
  gw_section s = solver("1e-9", "20000");
  s.interval = 144;  // 0.1 d in 50 sub-steps
  ASSERT_EQ(run.build(s, 50), 0) << run.console();
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  run.step(50);
  omp_set_num_threads(threads);
  EXPECT_NEAR(105 - run.L(2).head[w][w + 4], 1.50436, 0.03 * 1.50436);
}

TEST(GwflowFlow, TracersKeepAUniformConcentrationAndDecay) {
  // A uniform storage stays uniform whatever flows (the mixed mass over the
  // mixed water); a tracer with a half-life of 1 d loses, per sub-step of
  // 1 h, the factor exp(-(1/24) / (1.442695 * 1)) = 0.971532.
  gw_run run(3, 4, 2, 10, SURFACE, SOIL_DEPTH, THICKNESS);
  grid_matrix& distance = run.grid("groundwater_distance");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) distance[r][c] = -0.2 * r - 0.1 * c;
  run.grid("gw_kolmation_1", 1e-6);
  run.tracer_list.resize(3);
  for (int t = 1; t <= 2; ++t) {
    tracer_entry& e = run.tracer_list[static_cast<size_t>(t)];
    e.name = t == 1 ? "stable" : "decaying";
    e.path = run.output_dir;
    e.statext = "sta";
    e.gridext = "asc";
    e.gwini = 2;
    e.evaporating = 1;  // the storage starts at gwini itself
  }
  run.tracer_list[2].radioactive = 1;
  run.tracer_list[2].half_time = 1;
  ASSERT_EQ(run.build(solver("1e-12"), 1, 2), 0) << run.console();
  run.step(1);
  for (int k = 1; k <= 2; ++k) {
    const std::string kk = std::to_string(k);
    const grid_matrix& stable =
        *run.store[run.module->find_grid("concstor_tracer_1_layer_" + kk + "_groundwater_flow")]
             .grid;
    const grid_matrix& decaying =
        *run.store[run.module->find_grid("concstor_tracer_2_layer_" + kk + "_groundwater_flow")]
             .grid;
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        EXPECT_NEAR(stable[r][c], 2, 1e-12) << k << " " << r << " " << c;
        EXPECT_NEAR(decaying[r][c], 2 * 0.971532, 2e-6) << k << " " << r << " " << c;
      }
  }
}


TEST(GwflowFlow, FlowControl3BlocksZoneCrossingsAndMethod1Reports) {
  for (int flow_control : {1, 3}) {
    gw_run run(2, 4, 2, 10, SURFACE, SOIL_DEPTH, THICKNESS);
    run.settings.output_control = 1;  // a progress report every step
    grid_matrix& zone = run.grid("zonegrid");
    for (int r = 1; r <= 2; ++r) zone[r][3] = zone[r][4] = 2;
    run.grid("groundwater_distance")[1][4] = -0.5;
    gw_section s = solver("1e-10");
    s.flow_control = flow_control;
    ASSERT_EQ(run.build(s), 0) << run.console();
    run.step(1);
    // Between columns 2 and 3 the zone changes: with flow control 3 no face.
    EXPECT_EQ(run.L(2).trans_x[1][2] > 0, flow_control == 1);
    EXPECT_GT(run.L(2).trans_x[1][1], 0);
    EXPECT_GT(run.L(2).trans_x[1][3], 0);
    EXPECT_NE(run.console().find("GWlevel 2, MPI-rank 0, Steps "), std::string::npos)
        << run.console();
  }
}

TEST(GwflowFlow, HeadsReadFromFilesWithReadgrid1) {
  gw_run run(2, 3, 1, 10, SURFACE, SOIL_DEPTH, THICKNESS);
  const std::string header =
      "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 10\nnodata_value -9999\n";
  run.cd.dir.write("heads.asc", header + "97 98 99\n96 95 94\n");
  run.cd.dir.write("heads_old.asc", header + "1 2 3\n4 5 6\n");
  gw_section s;
  s.layers = 1;
  s.readgrid = "1";
  s.head_file = run.file("heads.asc");
  ASSERT_EQ(run.build(s), 0) << run.console();
  EXPECT_EQ(run.L(1).head[2][3], 94);
  EXPECT_EQ(run.L(1).head_old[1][2], 2);
  EXPECT_EQ(*run.store[run.L(1).index[1]].file_name, run.file("heads_old.asc"));
}


TEST(GwflowFlow, Method2IsolatedCellTakesItsInflow) {
  // No conductivity: every cell is isolated; method 2 adds q dt / S:
  // 1e-6 m/s * 3600 s / 0.1 = 0.036 m in one sub-step; no inflow, no change.
  gw_run run(1, 3, 2, 10, SURFACE, SOIL_DEPTH, THICKNESS);
  run.layer_grid("gw_k_x_", 2, 0);
  run.layer_grid("gw_k_y_", 2, 0);
  run.grid("gw_boundary_fix_q_2")[1][2] = 1e-6;
  gw_section s = solver("1e-10");
  s.method = "2";
  ASSERT_EQ(run.build(s), 0) << run.console();
  run.step(1);
  EXPECT_NEAR(run.L(2).head[1][2], 100.036, 1e-12);
  EXPECT_EQ(run.L(2).head[1][1], 100);
  EXPECT_EQ(run.L(2).head[1][3], 100);
}

}  // namespace
