// Kernels of the groundwater module against hand calculations.
#include <gtest/gtest.h>

#include <string>

#include "soilwater/gwflow_kernels.h"

namespace {

TEST(GwflowKernels, OldHeadFileNameJoinsBeforeTheLastDot) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"heads.asc", "heads_old.asc"}, {"a.b.c", "a.b_old.c"}, {"heads", "heads_old"}};
  for (const auto& c : cases) EXPECT_EQ(old_head_file_name(c.in), c.out) << c.in;
}

TEST(GwflowKernels, ControlPointCapacityIsTwoMebibytesOfRows) {
  // 2097152 / (48 N + 40), by hand: N = 1: 23831.27; N = 2: 15420.2.
  EXPECT_EQ(control_point_capacity(1), 23831);
  EXPECT_EQ(control_point_capacity(2), 15420);
  EXPECT_EQ(control_point_capacity(100000), 1);
}

TEST(GwflowKernels, LeakageClipsTheDifferenceToOneMetre) {
  const struct {
    double h_up, h_low, z_low, expected;  // C = 1e-6 s-1
  } cases[] = {
      {10, 12, 5, 1e-6},      // lower head 2 m higher: clipped to 1 m
      {10, 9.7, 5, -3e-7},    // confined lower layer: plain difference
      {10, 9.5, 12, 0},       // unconfined lower layer: to its top, 12 - 10 > 0 -> 0
      {13, 9.5, 12, -1e-6},   // to its top, 12 - 13 = -1
      {14.5, 9.5, 12, -1e-6}, // 12 - 14.5 clipped to -1
  };
  for (const auto& c : cases)
    EXPECT_NEAR(leakage_rate(c.h_up, c.h_low, c.z_low, 1e-6), c.expected, 1e-18)
        << c.h_up << " " << c.h_low;
}

TEST(GwflowKernels, CellTransmissivityConfinedOrSaturatedPart) {
  // k = 1e-4, top 10, thickness 5: confined k b = 5e-4; unconfined with the
  // head 1 m below the top: k (9 - 10 + 5) = 4e-4; effective 2 m: k (9 - 10 + 2).
  EXPECT_DOUBLE_EQ(cell_transmissivity(1e-4, 12, 10, 5, 5, true), 5e-4);
  EXPECT_DOUBLE_EQ(cell_transmissivity(1e-4, 9, 10, 5, 5, false), 4e-4);
  EXPECT_DOUBLE_EQ(cell_transmissivity(1e-4, 9, 10, 5, 2, false), 1e-4);
}

TEST(GwflowKernels, FaceTransmissivityHarmonicMeanAndDryCells) {
  auto face = [](double tc, double tn, double hc, double hn, double gc, double gn, bool admitted) {
    face_cells f;
    f.t_c = tc;
    f.t_n = tn;
    f.h_c = hc;
    f.h_n = hn;
    f.k_c = f.k_n = 1e-4;
    f.g_c = gc;
    f.g_n = gn;
    f.admitted = admitted;
    return face_transmissivity(f);
  };
  // 2 * 1 * 3 / 4 = 1.5
  EXPECT_DOUBLE_EQ(face(1, 3, 5, 5, 0, 0, true), 1.5);
  // A dry cell below a wet neighbour takes its transmissivity: 2 * 2 * 2 / 4.
  EXPECT_DOUBLE_EQ(face(0, 2, 4, 5, 0, 0, true), 2);
  // A dry cell above its neighbour stays dry: no flow.
  EXPECT_DOUBLE_EQ(face(0, 2, 6, 5, 0, 0, true), 0);
  // A wet cell above a dry neighbour lends it its own.
  EXPECT_DOUBLE_EQ(face(2, 0, 6, 5, 0, 0, true), 2);
  // ... but not to a partly glaciated or a not admitted neighbour.
  EXPECT_DOUBLE_EQ(face(2, 0, 6, 5, 0, 0.5, true), 0);
  EXPECT_DOUBLE_EQ(face(2, 0, 6, 5, 0, 0, false), 0);
  EXPECT_DOUBLE_EQ(face(0, 0, 6, 5, 0, 0, true), 0);
}

TEST(GwflowKernels, SorCellSolvesItsEquation) {
  sor_cell_input in;
  in.c[1] = 1;
  in.v[1] = 10;
  in.area = 100;
  in.dt = 10;
  in.storage = 0;
  // No storage: the head of the one neighbour.
  EXPECT_DOUBLE_EQ(sor_new_head(in), 10);
  // A S / dt = 1, source S/dt h0 = 0.02: (10 + 2) / (1 + 1) = 6.
  in.storage = 0.1;
  in.h0 = 2;
  in.source = 0.1 / 10 * 2;
  EXPECT_DOUBLE_EQ(sor_new_head(in), 6);
  // alpha 0.5: (10 - 0.5 * 2 * 1 + 2) / (1 + 0.5) = 11 / 1.5.
  in.alpha = 0.5;
  EXPECT_DOUBLE_EQ(sor_new_head(in), 11 / 1.5);
}

TEST(GwflowKernels, AdaptiveRelaxationBetweenOneAndTwo) {
  EXPECT_DOUBLE_EQ(adaptive_relaxation(0.5, 3, 3), 1);   // first iteration: h = hq
  EXPECT_DOUBLE_EQ(adaptive_relaxation(0.5, 3, 2), 1.5); // 1 + 0.5 / 1
  EXPECT_DOUBLE_EQ(adaptive_relaxation(2, 3, 2), 2);     // 3 capped
  EXPECT_DOUBLE_EQ(adaptive_relaxation(-2, 3, 2), 1);    // -1 <= 0
}

TEST(GwflowKernels, TridiagonalSystemByHand) {
  // [2 -1 0; -1 2 -1; 0 -1 2] x = [1 0 1] has x = [1 1 1].
  double a[] = {0, -1, -1}, d[] = {2, 2, 2}, u[] = {-1, -1, 0}, w[] = {1, 0, 1}, x[3] = {};
  solve_tridiagonal(a, d, u, w, x, 3);
  for (double v : x) EXPECT_NEAR(v, 1, 1e-15);
  double d1[] = {4}, w1[] = {2}, x1[1] = {};
  solve_tridiagonal(a, d1, u, w1, x1, 1);
  EXPECT_DOUBLE_EQ(x1[0], 0.5);
}

TEST(GwflowKernels, BalanceAndMixingFormulas) {
  // (12 - 10) * 1e-4 / 50 = 4e-6 m/s
  EXPECT_DOUBLE_EQ(specific_discharge(12, 10, 1e-4, 50), 4e-6);
  // Stored: full thickness 5 when h0 >= top; 9 below a top of 10 leaves 4; far below none.
  EXPECT_DOUBLE_EQ(stored_volume(0.1, 100, 5, 11, 10), 0.1 * 100 * 5);
  EXPECT_DOUBLE_EQ(stored_volume(0.1, 100, 5, 9, 10), 0.1 * 100 * 4);
  EXPECT_DOUBLE_EQ(stored_volume(0.1, 100, 5, 2, 10), 0);
  // (0.1 * 0.2 - (-100) / 1000) * 1000 = 120 mm
  cell_volumes v;
  v.lateral = -100;
  v.stored = 55;  // not part of the residual
  EXPECT_NEAR(balance_residual(1.1, 1.0, 0.2, v, 1000), 120, 1e-9);
  EXPECT_DOUBLE_EQ(mixed_concentration(10, 4), 2.5);
  EXPECT_DOUBLE_EQ(mixed_concentration(10, 0), 0);
  EXPECT_DOUBLE_EQ(mixed_concentration(10, -3), 0);
}

TEST(GwflowKernels, OscillationNeedsTwoReversedChangesAboveTheBound) {
  const struct {
    double prev, now;
    bool expected;
  } cases[] = {{0.1, -0.1, true}, {-0.1, 0.1, true}, {0.1, 0.1, false},
               {0.001, -0.1, false}, {0.1, -0.001, false}};
  for (const auto& c : cases) EXPECT_EQ(oscillates(c.prev, c.now, 0.01), c.expected);
}

}  // namespace
