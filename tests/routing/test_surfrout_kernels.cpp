// Per-cell kernels of the surface routing against hand calculations:
// directions on planes (O'Callaghan & Mark 1984), the plan curvature of a
// paraboloid and a cone (Zevenbergen & Thorne 1987, their equation applied
// to the exact heights), Manning-Strickler velocities v = K h^(2/3) sqrt(S),
// residue and crop friction, the step-length rules.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "routing/surfrout_kernels.h"

namespace {

using namespace surfrout;

constexpr double CS = 100;  // [m]

// An interior block on the plane z = -(dip . offset) dipping towards k.
SurfaceBlock plane_towards(int k) {
  SurfaceBlock b;
  for (int d = 1; d <= DIRECTIONS; ++d) {
    b.valid[d] = b.positive[d] = true;
    b.z[d] = -(ROW_OFFSET[d] * ROW_OFFSET[k] + COL_OFFSET[d] * COL_OFFSET[k]);
  }
  return b;
}

struct weights_result {
  int kind;
  double w[10];
  double v[10];
};

weights_result weigh(int method, const SurfaceBlock& b, bool interior, double curvature = -1,
                     int pass = 0) {
  const SlopeAspect sa = slope_aspect_of(b, false, interior, CS);
  weights_result r{};
  WeightsInput in;
  in.method = method;
  in.kind = sa.kind;
  in.slope = sa.slope;
  in.aspect = sa.aspect;
  in.plan_curvature = curvature;
  in.pass = pass;
  r.kind = direction_weights_of(in, b, r.w, r.v);
  return r;
}

TEST(SurfroutDirections, PlanesFacingTheEightWaysDrainDownTheirDip) {
  // O'Callaghan & Mark (1984): on a plane the single flow direction is the
  // direction of steepest descent.
  for (int k = 1; k <= DIRECTIONS; ++k)
    for (int method : {2, 4, 5}) {
      const weights_result r = weigh(method, plane_towards(k), true);
      EXPECT_EQ(r.kind, 2);
      EXPECT_EQ(static_cast<int>(r.v[0]), k) << "dip " << k << " method " << method;
      for (int d = 1; d <= DIRECTIONS; ++d) EXPECT_EQ(r.w[d], d == k ? 1.0 : 0.0);
    }
}

TEST(SurfroutDirections, AngularSplitOnASectorCentreOnlyWherePlanCurvatureIsNotPositive) {
  // Deviation 0: before normalisation 1, sin(45 x 0.017453) counter-clockwise
  // and cos(45 x 0.017453) clockwise; sums by hand 1 + 0.70710 + 0.70711.
  const weights_result split = weigh(1, plane_towards(3), true, 0.0);
  EXPECT_NEAR(split.w[3], 0.41421356239411683, 1e-12);
  EXPECT_NEAR(split.w[2], 0.29288936333309235, 1e-12);
  EXPECT_NEAR(split.w[4], 0.2928970742727908, 1e-12);
  EXPECT_NE(split.w[2], split.w[4]);
  const weights_result convergent = weigh(3, plane_towards(3), true, 0.5);
  EXPECT_EQ(convergent.w[3], 1.0);
  EXPECT_EQ(convergent.w[2] + convergent.w[4], 0.0);
}

TEST(SurfroutDirections, AspectSectorBoundaryAt337AndAHalfDegrees) {
  SurfaceBlock b = plane_towards(1);
  for (int d = 1; d <= DIRECTIONS; ++d) b.z[d] = -1;  // every way downhill
  struct row {
    double aspect;
    int main;
  } rows[] = {{337.4, 8}, {337.5, 1}, {359.9, 1}, {22.4, 1}, {22.5, 2}, {202.5, 6}};
  for (const row& x : rows) {
    WeightsInput in;
    in.method = 2;
    in.kind = 2;
    in.slope = 0.01;
    in.aspect = x.aspect;
    double w[10] = {}, v[10] = {};
    direction_weights_of(in, b, w, v);
    EXPECT_EQ(static_cast<int>(v[0]), x.main) << x.aspect;
    EXPECT_EQ(w[x.main], 1.0) << x.aspect;
  }
}

TEST(SurfroutDirections, TiesAndCellsWithoutADownhillNeighbour) {
  // Edge cell (kind 3) with equal drops north and east: single-direction
  // methods take the lower-numbered direction, dividing ones split evenly.
  SurfaceBlock edge;
  for (int d : {1, 3}) {
    edge.valid[d] = edge.positive[d] = true;
    edge.z[d] = -1;
  }
  const weights_result single = weigh(2, edge, false);
  EXPECT_EQ(single.kind, 3);
  EXPECT_EQ(static_cast<int>(single.v[0]), 1);
  EXPECT_EQ(single.w[1], 1.0);
  EXPECT_EQ(single.w[3], 0.0);
  const weights_result divided = weigh(1, edge, false);
  EXPECT_EQ(divided.w[1], 0.5);
  EXPECT_EQ(divided.w[3], 0.5);

  // A pit: every neighbour higher, no weight, main direction 0.
  SurfaceBlock pit = plane_towards(1);
  for (int d = 1; d <= DIRECTIONS; ++d) pit.z[d] = 1;
  for (int method : {1, 2, 3, 4, 5}) {
    const weights_result r = weigh(method, pit, true);
    EXPECT_EQ(r.v[0], 0.0);
    for (int d = 1; d <= DIRECTIONS; ++d) EXPECT_EQ(r.w[d], 0.0);
  }

  // Two equally steepest directions 2..8 (NE and SE): the aspect comes from
  // central differences, here both 0, so aspect 0 (north) by the rule.
  SurfaceBlock valley = plane_towards(1);
  for (int d = 1; d <= DIRECTIONS; ++d) valley.z[d] = 0;
  valley.z[2] = valley.z[4] = -2;
  const SlopeAspect sa = slope_aspect_of(valley, false, true, CS);
  EXPECT_NEAR(sa.slope, 2 / (1.414 * CS), 1e-15);
  EXPECT_EQ(sa.aspect, 0.0);
}

TEST(SurfroutDirections, KindsOfRiverEdgeAndInteriorCells) {
  const SurfaceBlock b = plane_towards(5);
  EXPECT_EQ(slope_aspect_of(b, true, true, CS).kind, 1);
  EXPECT_EQ(slope_aspect_of(b, false, false, CS).kind, 3);
  EXPECT_EQ(slope_aspect_of(b, false, true, CS).kind, 2);
}

TEST(SurfroutDirections, UnchangedWeightsAreCountedFromTheSecondPass) {
  double w[10] = {}, v[10] = {};
  WeightsInput in;
  in.method = 2;
  in.kind = 2;
  in.slope = 0.01;
  in.aspect = 90;
  const SurfaceBlock b = plane_towards(3);
  direction_weights_of(in, b, w, v);
  EXPECT_EQ(w[0], 0.0);  // first pass
  in.pass = 1;
  direction_weights_of(in, b, w, v);
  EXPECT_EQ(w[0], 8.0);
  in.aspect = 180;  // main direction moves from E to S
  direction_weights_of(in, b, w, v);
  EXPECT_EQ(w[0], 6.0);
}

TEST(SurfroutCurvature, ParaboloidConeFlatAndNodata) {
  const double g = 100;
  auto block = [&](auto height, double x0) {
    double z[9];
    for (int d = 0; d <= DIRECTIONS; ++d) {
      const double x = x0 + COL_OFFSET[d] * g;
      const double y = -ROW_OFFSET[d] * g;  // rows grow southwards
      z[d] = height(x, y);
    }
    return std::vector<double>(z, z + 9);
  };
  // z = x^2 + y^2 at (300, 0): D = 1, E = 1, F = 0, G = 600, H = 0, so
  // 2 (E G^2) / G^2 = 2.
  auto paraboloid = block([](double x, double y) { return x * x + y * y; }, 300);
  EXPECT_NEAR(plan_curvature_of(paraboloid.data(), g, -9999), 2.0, 1e-12);
  // Cone z = sqrt(x^2 + y^2) at (300, 0): G = 1, H = 0,
  // E = (sqrt(300^2 + 100^2) - 300) / 100^2, value 2 E = 0.0032455532033676.
  auto cone = block([](double x, double y) { return std::sqrt(x * x + y * y); }, 300);
  EXPECT_NEAR(plan_curvature_of(cone.data(), g, -9999), 0.0032455532033676, 1e-13);
  auto flat = block([](double, double) { return 5.0; }, 0);
  EXPECT_EQ(plan_curvature_of(flat.data(), g, -9999), 0.0);
  flat[4] = -9999;
  EXPECT_EQ(plan_curvature_of(flat.data(), g, -9999), -9999.0);
}

FlowParams params(int method) {
  FlowParams p;
  p.method = method;
  p.cs = CS;
  p.s_min = 60;
  p.s_max = 600;
  p.eps_v = 1e-12;
  p.n_v = 500;
  p.eps_a = 1e-6;
  p.n_a = 50;
  p.h_crop = 0.001;
  p.concentration = 1;
  return p;
}

Friction plain(double k_st) {
  Friction f;
  f.has_class = true;
  f.cultivation = 3;
  f.k_st = k_st;
  return f;
}

TEST(SurfroutFriction, StricklerCoefficientsByCultivation) {
  Friction residue = plain(10);
  residue.cultivation = 1;
  residue.rough1[0] = 2;    // a
  residue.rough1[1] = 0.5;  // b
  residue.rough1[2] = 0.2;  // e
  residue.rough2[0] = 1;
  residue.rough2[1] = 1;
  residue.rough2[2] = 0.1;
  const FlowParams p = params(1);
  struct row {
    const char* what;
    double cover, v, h, expected;
  } rows[] = {
      // K = Re^e / (a (100 cover)^b), Re = 4e6 v h; by hand.
      {"Re 4000, coefficients 1", 0.25, 0.1, 0.01, 0.5253055608807535},
      {"Re 40000, coefficients 2", 0.2, 0.5, 0.02, 0.14426999059072138},
      {"Re exactly 20000 takes coefficients 2", 0.2, 0.5, 0.01, 0.13460866090984783},
      // No residue: the surface's own value instead of an infinite one.
      {"cover 0", 0, 0.1, 0.01, 10},
  };
  for (const row& x : rows) {
    residue.cover = x.cover;
    EXPECT_NEAR(strickler_of(residue, p, x.v, x.h, 0.1), x.expected, 1e-12) << x.what;
  }
  EXPECT_EQ(strickler_of(plain(17), p, 0.3, 0.01, 0.1), 17.0);
  Friction none;
  EXPECT_EQ(strickler_of(none, p, 0.3, 0.01, 0.1), 0.0);
}

TEST(SurfroutFriction, CropStemsAddFrictionOnlyAboveTheirThresholds) {
  Friction crop = plain(20);
  crop.cultivation = 2;
  crop.stem_diameter = 0.005;
  crop.crop_dist_x = 0.1;
  crop.crop_dist_y = 0.2;
  crop.c_wr = 1.2;
  FlowParams p = params(1);
  p.h_crop = 0.002;
  // Without stems (diameter below 1 mm) or below h_crop: the surface's K.
  Friction thin = crop;
  thin.stem_diameter = 0.0009;
  EXPECT_NEAR(strickler_of(thin, p, 0.05, 0.01, 0.1), 20, 1e-12);
  EXPECT_NEAR(strickler_of(crop, p, 0.05, 0.001, 0.1), 20, 1e-12);
  // Slow shallow flow (Froude number below 0.05) and faster flow: stems
  // slow the water, the coefficient stays finite and positive.
  for (double v : {0.005, 0.05, 0.5}) {
    const double k = strickler_of(crop, p, v, 0.02, 0.1);
    EXPECT_TRUE(std::isfinite(k)) << v;
    EXPECT_GT(k, 0) << v;
    EXPECT_LT(k, 20) << v;
  }
  // N_A = 0 takes the fixed water-level term 0.4 F.
  FlowParams no_iteration = p;
  no_iteration.n_a = 0;
  const double k0 = strickler_of(crop, no_iteration, 0.05, 0.02, 0.1);
  EXPECT_TRUE(std::isfinite(k0));
  EXPECT_LT(k0, 20);
  // A surface value of 0 leaves the root's argument at 0: K = 0.001.
  crop.k_st = 0;
  EXPECT_EQ(strickler_of(crop, p, 0.05, 0.02, 0.1), 0.001);
}

struct flow_case {
  double w[10] = {};
  double v[10] = {};
  double q[10] = {};
};

// A kind-3 cell of depth h0 whose neighbours in the given directions lie
// drop metres lower.
SurfaceBlock edge_with_drops(std::initializer_list<int> dirs, double drop) {
  SurfaceBlock b;
  for (int d : dirs) {
    b.valid[d] = b.positive[d] = true;
    b.z[d] = -drop;
  }
  return b;
}

VelocityCell cell_of(double depth) {
  VelocityCell c;
  c.kind = 3;
  c.depth = depth;
  c.area = CS * CS;
  c.longest_step = 600;
  return c;
}

TEST(SurfroutVelocity, ManningStricklerOnAPlaneByHand) {
  const FlowParams p = params(2);
  const SurfaceBlock b = edge_with_drops({3}, 1);  // slope 0.01 eastwards
  // Depth bound: Q_d = min(2 cs^2 I / S_max, cs^2 h0 / S_max) = 0.16667 m3/s
  // would need 0.0215 m, more than the 0.01 m standing, so v = K h0^0.66667
  // sqrt(S) = 10 x 0.01^0.66667 x 0.1 = 0.04641517583 m/s.
  {
    flow_case f;
    f.w[3] = 1;
    f.v[0] = 3;
    cell_flows_of(p, plain(10), cell_of(0.01), b, f.w, f.v, f.q);
    EXPECT_NEAR(f.v[3], 0.04641517583137941, 1e-12);
    EXPECT_NEAR(f.q[3], 100 * 0.04641517583137941 * 0.01, 1e-12);
    EXPECT_EQ(f.q[0], f.q[3]);
  }
  // Depth 0.1 m: q = Q_d / L = 0.016667 m2/s gives the normal depth
  // h = (q / (K sqrt S))^(1/1.66667) = 0.0857258 m, v = q / h = 0.1944184 m/s.
  {
    flow_case f;
    f.w[3] = 1;
    f.v[0] = 3;
    cell_flows_of(p, plain(10), cell_of(0.1), b, f.w, f.v, f.q);
    EXPECT_NEAR(f.v[3], 0.194418400609812, 1e-9);
    EXPECT_NEAR(f.q[3], 1e4 * 0.1 / 600, 1e-9);
  }
}

TEST(SurfroutVelocity, EdgeCasesOfTheVelocityIteration) {
  const SurfaceBlock b = edge_with_drops({3, 5}, 10);  // slope 0.1
  // N_v = 0: no iteration, velocity and discharge 0.
  {
    FlowParams p = params(1);
    p.n_v = 0;
    flow_case f;
    f.w[3] = f.w[5] = 0.5;
    cell_flows_of(p, plain(10), cell_of(0.01), b, f.w, f.v, f.q);
    EXPECT_EQ(f.v[3] + f.v[5] + f.q[0] + f.q[3] + f.q[5], 0.0);
  }
  // Outflow limit: east drops 1 m (slope 0.01), south 0.001 m (slope 1e-5),
  // half the weight each. Both normal depths exceed h0 = 0.01 m, so both
  // flow at full depth, 100 x 10 x 0.01^0.66667 x sqrt(S) x 0.01 m3/s; the
  // total 0.047883 exceeds B_last = 2 cs^2 w I_south / S_max = 1/60 m3/s of
  // the last direction, and both are cut by the same factor.
  {
    SurfaceBlock two = edge_with_drops({3}, 1);
    two.valid[5] = two.positive[5] = true;
    two.z[5] = -0.001;
    flow_case f;
    f.w[3] = f.w[5] = 0.5;
    f.v[0] = 3;
    cell_flows_of(params(1), plain(10), cell_of(0.01), two, f.w, f.v, f.q);
    EXPECT_NEAR(f.q[3] + f.q[5], 1.0 / 60, 1e-12);
    EXPECT_NEAR(f.q[3] / f.q[5], std::sqrt(0.01 / 0.00001), 1e-9);
    EXPECT_NEAR(f.v[3], 0.04641517583137941, 1e-12);  // velocities not changed
  }
  // Method 5 on a steep cell: v <= L / (20 S_min) = 100 / 1200 m/s.
  {
    const SurfaceBlock steep = edge_with_drops({3}, 50);
    flow_case f;
    f.w[3] = 1;
    f.v[0] = 3;
    cell_flows_of(params(5), plain(10), cell_of(0.1), steep, f.w, f.v, f.q);
    EXPECT_NEAR(f.v[3], 100.0 / 1200, 1e-15);
    EXPECT_NEAR(f.q[3], 100.0 / 1200 * 100 * 0.1, 1e-12);
    // With S_min 5 s the cap is 1 m/s and 10 m3/s would leave a cell
    // holding 1000 m3 in 100 s: bounded to area h0 / S_max = 1.6667 m3/s.
    FlowParams fast = params(5);
    fast.s_min = 5;
    flow_case g;
    g.w[3] = 1;
    cell_flows_of(fast, plain(10), cell_of(0.1), steep, g.w, g.v, g.q);
    EXPECT_NEAR(g.q[3], 1e4 * 0.1 / 600, 1e-12);
  }
  // A direction without velocity starts from 0.1 m/s; kept discharges on a
  // pass that is neither the first nor the recompute one.
  {
    flow_case f;
    f.w[0] = 8;
    f.w[3] = 1;
    f.v[0] = 3;
    f.q[3] = 0.01;
    VelocityCell c = cell_of(0.1);
    c.pass = 2;
    c.recompute = 5;
    cell_flows_of(params(1), plain(10), c, b, f.w, f.v, f.q);
    EXPECT_EQ(f.q[3], 0.01);
    EXPECT_EQ(f.q[0], 0.01);
    EXPECT_EQ(f.v[3], 0.0);
    c.pass = 5;
    cell_flows_of(params(1), plain(10), c, b, f.w, f.v, f.q);
    EXPECT_GT(f.v[3], 0.0);
    EXPECT_NE(f.q[3], 0.01);
  }
  // No class: K = 0, nothing moves; depth 0: nothing moves (no NaN).
  {
    flow_case f;
    f.w[3] = 1;
    cell_flows_of(params(1), Friction{}, cell_of(0.1), b, f.w, f.v, f.q);
    EXPECT_EQ(f.q[3], 0.0);
    flow_case g;
    g.w[3] = 1;
    cell_flows_of(params(1), plain(10), cell_of(0), b, g.w, g.v, g.q);
    EXPECT_EQ(g.q[3], 0.0);
    EXPECT_EQ(g.v[3], 0.0);
  }
}

TEST(SurfroutSteps, InternalStepLengthAndBounds) {
  struct row {
    double cfl, length;
    int foreseen, recompute;
  } rows[] = {
      {250, 240, 16, 2},  // 3600 / (int(14.4) + 1) = 240, N = 16, R = int(16 / 6)
      {5000, 600, 7, 1},  // 3600 clamped to S_max
      {30, 60, 61, 10},   // 3600 / 121 below S_min
      {1e36, 600, 7, 1},  // no moving water
      {0, 60, 61, 10},    // no positive limit
  };
  for (const row& x : rows) {
    const InternalSteps s = internal_steps(3600, x.cfl, 60, 600);
    EXPECT_DOUBLE_EQ(s.length, x.length) << x.cfl;
    EXPECT_EQ(s.foreseen, x.foreseen) << x.cfl;
    EXPECT_EQ(s.recompute, x.recompute) << x.cfl;
  }
  // 60-minute step, 3 sub-steps: S = 1200 s.
  EXPECT_EQ(adjusted_step_bound(500, 1200), 600);
  EXPECT_EQ(adjusted_step_bound(2000, 1200), 1200);
  EXPECT_EQ(adjusted_step_bound(400, 1200), 400);
  EXPECT_EQ(adjusted_step_bound(7, 1200), 1200.0 / 171);
  EXPECT_EQ(adjusted_step_bound(0, 1200), 1200);
  EXPECT_EQ(adjusted_step_bound(-5, 1200), 1200);
}

}  // namespace
