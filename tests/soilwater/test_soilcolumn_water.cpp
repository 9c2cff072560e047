// Water kernels of the soil column against hand calculations and the
// van Genuchten closed form (soilcolumn_fixture.h), the closure of the layer
// balance, and the river take of cells computed on several threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "soilwater/soilcolumn_fixture.h"
#include "soilwater/soilcolumn_water.h"

namespace {

using vec = std::vector<double>;

TEST(SoilColumnWater, DarcyFluxIsPositiveUpward) {
  struct row {
    double k, ha, hb, da, db, expected;  // hand values [m s-1]
  };
  const row rows[] = {
      {1e-6, -1, -2, 0.2, 0.2, -5e-6},   // higher head above: downward
      {1e-6, -2, -1, 0.2, 0.2, 5e-6},    // higher head below: upward
      {2e-6, 0, 0.3, 0.1, 0.5, 2e-6},    // unequal layers: distance 0.3 m
      {1e-6, -1, -1, 0.2, 0.4, 0.0},     // equal heads
  };
  for (const row& r : rows)
    EXPECT_NEAR(darcy_flux(r.k, r.ha, r.hb, r.da, r.db), r.expected, 1e-18)
        << r.ha << " over " << r.hb;
}

TEST(SoilColumnWater, HeadsFollowTheGroundwaterRules) {
  const soil_entry soil = loam_soil(6);
  column_arrays c(6);
  const double psi = 1.2;  // a table suction: the look-up is exact there
  const vec theta = c.filled(loam_theta(psi));
  const vec none = c.zeros();
  const double sentinel = -777;
  vec h = c.filled(sentinel), psi0 = c.zeros();
  ColumnCell cell{6, 2, 1, 60, -0.3, false, 0};  // table at 99.7 m, inside layer 2
  const double mean = compute_heads(soil, cell, 0, none.data(), none.data(), theta.data(),
                                    theta.data(), c.z.data(), nullptr, h.data(), psi0.data());
  EXPECT_NEAR(mean, psi, 1e-9);
  EXPECT_NEAR(h[1], 99.9 - psi, 1e-9);  // above the table: middle minus suction
  EXPECT_NEAR(h[2], 99.7, 1e-12);       // the table itself
  EXPECT_NEAR(h[3], 99.7, 1e-12);       // below: the table head, which lies above its middle
  EXPECT_NEAR(h[4], 99.7, 1e-12);       // treated down to g + 2
  EXPECT_EQ(h[5], sentinel);
  EXPECT_EQ(h[6], sentinel);

  // A frozen half of the water raises the suction to that of theta / 2.
  const vec half = c.filled(0.5);
  cell.groundwater_layer = 5;
  compute_heads(soil, cell, 0, none.data(), none.data(), theta.data(), theta.data(), c.z.data(),
                half.data(), h.data(), psi0.data());
  EXPECT_NEAR(h[1], 99.9 - soil.suction_from_theta(1, theta[1] / 2), 1e-12);
  EXPECT_GT(soil.suction_from_theta(1, theta[1] / 2), psi);
  EXPECT_EQ(h[6], sentinel);  // never the bottom layer

  // A single layer gets no head.
  vec h1 = c.filled(sentinel);
  ColumnCell one{1, 1, 1, 60, -0.1, false, 0};
  EXPECT_EQ(compute_heads(soil, one, 0, none.data(), none.data(), theta.data(), theta.data(),
                          c.z.data(), nullptr, h1.data(), psi0.data()),
            0.0);
  EXPECT_EQ(h1[1], sentinel);
}

TEST(SoilColumnWater, RelaxationWeightsByIteration) {
  // theta0 = e (no fluxes), previous theta 0.3, previous iterate 0.1.
  struct row {
    int k;
    double expected_relaxed;  // hand value
    int counter;              // -1: unchanged
  };
  const row rows[] = {
      {1, (0.2 + 0.3) / 2, -1},      // mean of new value and previous theta
      {2, (0.2 + 0.3) / 2, -1},
      {3, (0.2 + 0.3) / 2, -1},
      {4, (0.1 + 0.2) / 2, 1},       // c = 1
      {5, (2 * 0.1 + 0.2) / 3, 2},   // c = 2
  };
  column_arrays c(3);
  const vec none = c.zeros();
  for (const row& r : rows) {
    vec theta = c.filled(0.3), relaxed = c.filled(0.1);
    const vec theta0 = c.filled(0.2);
    int counter = -1;
    ColumnCell cell{3, 1, 1, 60, 0, false, 0};
    const double change =
        relax_theta(cell, r.k, counter, none.data(), none.data(), theta.data(), relaxed.data(),
                    theta0.data(), none.data(), none.data(), c.d.data());
    EXPECT_NEAR(relaxed[1], r.expected_relaxed, 1e-15) << "k = " << r.k;
    EXPECT_NEAR(relaxed[3], r.expected_relaxed, 1e-15) << "k = " << r.k;
    EXPECT_EQ(counter, r.counter) << "k = " << r.k;
    EXPECT_NEAR(change, 0.1, 1e-15);
    EXPECT_EQ(theta[2], 0.2);
  }
}

// One column state for the layer balance.
struct balance_case {
  const char* name;
  int layers, g;
  bool groundwater_model;
  int interaction;
  vec theta0, q, lateral, river_in, river_out;  // 0..n
};

TEST(SoilColumnWater, BalanceClosesWhenItSettles) {
  const double dt = 600;
  const balance_case cases[] = {
      // Heavy infiltration into wet layers: excess pushed down the column.
      {"infiltration", 5, 5, false, 0, {0, 0.42, 0.425, 0.40, 0.35, 0.30},
       {-8e-5, -1e-6, -1e-6, -1e-6, -1e-6, -1e-6}, vec(6, 0), vec(6, 0), vec(6, 0)},
      // Capillary rise into a saturated top layer: pushed back down.
      {"rise", 4, 4, false, 0, {0, 0.43, 0.40, 0.30, 0.25}, {0, 2e-5, 1e-5, 0, 0},
       vec(5, 0), vec(5, 0), vec(5, 0)},
      // A dry layer losing more than it holds sideways and downward.
      {"drying", 4, 4, false, 0, {0, 0.20, 0.08, 0.20, 0.25}, {0, 0, -2e-5, -1e-6, 0},
       {0, 0, 3e-5, 0, 0}, vec(5, 0), vec(5, 0)},
      // River inflow into a layer that is full: given back to the river.
      {"river", 4, 2, true, 2, {0, 0.30, 0.43, 0.43, 0.43}, {-1e-6, -1e-6, 0, 0, 0},
       vec(5, 0), {0, 0, 1e-5, 1e-5, 0}, vec(5, 0)},
      // Exfiltration draining a layer near residual content.
      {"exfiltration", 4, 2, true, 1, {0, 0.30, 0.09, 0.30, 0.30}, {0, 1e-6, 2e-6, 0, 0},
       vec(5, 0), vec(5, 0), {0, 0, 4e-5, 0, 0}},
  };
  for (const balance_case& bc : cases) {
    SCOPED_TRACE(bc.name);
    column_arrays c(bc.layers);
    vec q = bc.q, t = bc.lateral, r = bc.river_in, x = bc.river_out, theta_b = c.zeros();
    RiverTotals totals{std::accumulate(r.begin(), r.end(), 0.0),
                       std::accumulate(x.begin(), x.end(), 0.0)};
    ColumnCell cell{bc.layers, bc.g, 1, dt, -0.5, bc.groundwater_model, bc.interaction};
    const BalanceResult res =
        balance_layers(cell, 10, r.data(), x.data(), bc.theta0.data(), c.theta_sat.data(),
                       c.theta_res.data(), q.data(), t.data(), c.d.data(), theta_b.data(), totals);
    ASSERT_TRUE(res.settled);
    ASSERT_GT(res.passes, 1);  // every case needs a correction
    double storage = 0, lateral_sum = 0, r_sum = 0, x_sum = 0;
    for (int i = 1; i <= res.last_layer; ++i) {
      const auto k = static_cast<size_t>(i);
      storage += (theta_b[k] - bc.theta0[k]) * c.d[k];
      lateral_sum += t[k] + x[k] - r[k];
      r_sum += r[k];
      x_sum += x[k];
      EXPECT_LE(theta_b[k], LOAM_SAT + 1e-12) << "layer " << i;
      EXPECT_GE(theta_b[k], LOAM_RES - 1e-12) << "layer " << i;
    }
    const double flux = (q[static_cast<size_t>(res.last_layer)] - q[0] - lateral_sum) * dt;
    EXPECT_NEAR(storage, flux, 1e-12);
    EXPECT_NEAR(totals.infiltration, r_sum, 1e-18);
    EXPECT_NEAR(totals.exfiltration, x_sum, 1e-18);
  }
}

TEST(SoilColumnWater, BalanceStopsAtThePassLimit) {
  // Exfiltration that nothing may correct (no groundwater model) keeps layer
  // 2 below its residual content in every pass.
  column_arrays c(3);
  const vec theta0 = {0, 0.3, 0.08, 0.3};
  vec q = {0, 0, 0, 0}, t = c.zeros(), r = c.zeros(), x = {0, 0, 1e-4, 0}, theta_b = c.zeros();
  RiverTotals totals{0, 1e-4};
  ColumnCell cell{3, 3, 1, 600, 0, false, 1};
  for (int limit : {1, 10}) {
    const BalanceResult res =
        balance_layers(cell, limit, r.data(), x.data(), theta0.data(), c.theta_sat.data(),
                       c.theta_res.data(), q.data(), t.data(), c.d.data(), theta_b.data(), totals);
    EXPECT_EQ(res.passes, limit);
    EXPECT_FALSE(res.settled);
    EXPECT_LT(theta_b[2], LOAM_RES);
  }
}

// Trial head of layer i + 1 as the limiter sees it (layer i's curve).
double trial_gap(const soil_entry& soil, const column_arrays& c, const vec& theta0, const vec& q,
                 const vec& t, int i, double dt) {
  const auto k = static_cast<size_t>(i);
  const double wi = theta0[k] + (q[k] - t[k] - q[k - 1]) * dt / c.d[k];
  const double wi1 = theta0[k + 1] + (q[k + 1] - t[k + 1] - q[k]) * dt / c.d[k + 1];
  const double hi = (c.z[k - 1] + c.z[k]) / 2 - soil.suction_from_theta(i, wi);
  const double hi1 = (c.z[k] + c.z[k + 1]) / 2 - soil.suction_from_theta(i, wi1);
  return hi1 - hi;
}

TEST(SoilColumnWater, LimitFluxKeepsTheHeadOrder) {
  const soil_entry soil = loam_soil(4);
  column_arrays c(4);
  const double dt = 600;
  const vec h = {0, 99.0, 98.0, 97.0, 96.0};  // falling downward

  // No inversion: nothing changes.
  {
    vec q = {0, -1e-7, 0, 0, 0}, t = c.zeros();
    const vec theta0 = c.filled(0.3);
    EXPECT_EQ(limit_flux(soil, 1, c.z.data(), t.data(), h.data(), theta0.data(), q.data(), dt),
              -1e-7);
  }
  // Downward q(1) <= 0 into a layer pushed over saturation from above is
  // left to the balance.
  {
    vec q = {-1e-3, -1e-9, 0, 0, 0}, t = c.zeros();
    const vec theta0 = c.filled(0.42);
    const vec flat = {0, 98.0, 98.0, 98.0, 98.0};  // no head order to keep
    EXPECT_EQ(limit_flux(soil, 1, c.z.data(), t.data(), flat.data(), theta0.data(), q.data(), dt),
              -1e-9);
  }
  // Upward q into a layer that would over-fill: clipped to fill it exactly.
  {
    vec q = {0, 1e-4, 0, 0, 0}, t = c.zeros();
    const vec theta0 = {0, 0.40, 0.43, 0.43, 0.43};
    const vec flat = {0, 98.0, 98.0, 98.0, 98.0};  // no head order to keep
    const double limited =
        limit_flux(soil, 1, c.z.data(), t.data(), flat.data(), theta0.data(), q.data(), dt);
    EXPECT_NEAR(limited, 0.03 * 0.2 / dt, 1e-18);
  }
  // A large downward flux would make layer 2 wetter than layer 1 can push:
  // the bisection scales q and T together until the heads keep their order.
  {
    vec q = {0, -4e-4, 0, 0, 0}, t = {0, 1e-5, 0, 0, 0};
    const vec theta0 = {0, 0.40, 0.20, 0.20, 0.20};
    const vec h2 = {0, 99.0, 98.0, 97.0, 96.0};
    ASSERT_GT(trial_gap(soil, c, theta0, q, t, 1, dt), 0.001);
    const double limited =
        limit_flux(soil, 1, c.z.data(), t.data(), h2.data(), theta0.data(), q.data(), dt);
    EXPECT_LT(limited, 0);
    EXPECT_GT(limited, -4e-4);
    EXPECT_NEAR(t[1] / 1e-5, limited / -4e-4, 1e-12);  // common factor
    EXPECT_LE(trial_gap(soil, c, theta0, q, t, 1, dt), 0.001 + 1e-9);
    EXPECT_GT(trial_gap(soil, c, theta0, q, t, 1, dt), -0.01);  // not over-corrected
  }
  // An inversion that no factor removes: 51 halvings leave 2^-51.
  {
    vec q = {0, -1e-6, 0, 0, 0}, t = {0, 2e-6, 0, 0, 0};
    const vec theta0 = {0, 0.15, 0.43, 0.43, 0.43};  // layer 2 saturated, layer 1 dry
    const vec h2 = {0, 99.0, 98.0, 97.0, 96.0};
    const double limited =
        limit_flux(soil, 1, c.z.data(), t.data(), h2.data(), theta0.data(), q.data(), dt);
    EXPECT_EQ(limited, -1e-6 * std::ldexp(1.0, -51));
    EXPECT_EQ(t[1], 2e-6 * std::ldexp(1.0, -51));
  }
}

// A two-layer river cell: bottom of the river at 0.3 m in layer 2.
struct river_fixture {
  soil_entry soil = loam_soil(4);
  column_arrays c{4};
  vec theta = c.filled(0.30), h = c.filled(99.0), r = c.filled(-1), x = c.filled(-1);
  riverflow_record record;
  RiverTake take;
  double tracers[10] = {};
  RiverTotals totals{-1, -1};
  river_fixture() {
    record.flowm3s = 1.0;
    record.speed = 0.5;
    record.flow_mm[1] = 7.5;
    take.record = &record;
  }
  RiverCell river(double depth = 0.3) {
    return RiverCell{false, depth, 2.0, 1e-6, 100.0, &take, 1, tracers};
  }
  void run(const ColumnCell& cell, const RiverCell& rc) {
    exchange_with_river(soil, cell, rc, c.theta_sat.data(), theta.data(), theta.data(),
                        c.z.data(), h.data(), c.d.data(), r.data(), x.data(), totals);
  }
  double sum(const vec& v) const { return std::accumulate(v.begin() + 1, v.end(), 0.0); }
};

TEST(SoilColumnWater, RiverExchangeCases) {
  {  // Parameter 0: R and X untouched, not even zeroed.
    river_fixture f;
    f.run(ColumnCell{4, 3, 1, 600, -0.5, true, 0}, f.river());
    EXPECT_EQ(f.r[2], -1);
    EXPECT_EQ(f.x[2], -1);
    EXPECT_EQ(f.totals.infiltration, -1);
  }
  {  // Parameter 1, table at or below the river bottom: nothing moves.
    river_fixture f;
    f.run(ColumnCell{4, 3, 1, 600, -0.5, true, 1}, f.river());
    EXPECT_EQ(f.sum(f.r), 0);
    EXPECT_EQ(f.sum(f.x), 0);
    EXPECT_EQ(f.totals.exfiltration, 0);
    EXPECT_EQ(f.record.taken, 0);
  }
  {  // Table above the river bottom: exfiltration k_r u w / cellsize, over layers g..i_r.
    river_fixture f;
    f.theta = f.c.filled(LOAM_SAT);
    f.run(ColumnCell{4, 1, 1, 600, -0.1, true, 1}, f.river());
    EXPECT_NEAR(f.totals.exfiltration, 1e-6 * 0.2 * 2.0 / 100.0, 1e-20);
    EXPECT_NEAR(f.sum(f.x), f.totals.exfiltration, 1e-20);
    EXPECT_EQ(f.x[3], 0);  // below the river bottom layer
    EXPECT_EQ(f.sum(f.r), 0);
  }
  {  // River bottom deeper than the column: layer n is the bottom layer;
     // little drainable water cuts the demand to what the layers give.
    river_fixture f;
    f.theta = f.c.filled(loam_theta(3.45) + 1e-6);  // barely drainable
    f.run(ColumnCell{4, 4, 1, 600, -0.7, true, 2}, f.river(5.0));
    EXPECT_GT(f.x[4], 0);
    EXPECT_EQ(f.x[1] + f.x[2] + f.x[3], 0);
    EXPECT_NEAR(f.sum(f.x), f.totals.exfiltration, 1e-20);
    EXPECT_LT(f.totals.exfiltration, 1e-6 * 4.3 * 2.0 / 100.0);
  }
  {  // Infiltration with depth y = (flow / speed) / width = 1 m against the
     // head of the river-bottom layer: (99.7 + 1 - 99) k_r w cellsize, placed
     // from that layer down, carrying the river's tracer values.
    river_fixture f;
    f.run(ColumnCell{4, 4, 1, 600, -0.7, true, 2}, f.river());
    EXPECT_NEAR(f.totals.infiltration, 1.7 * 1e-6 * 2.0 * 100.0 / 1e4, 1e-20);
    EXPECT_NEAR(f.r[2], f.totals.infiltration, 1e-20);
    EXPECT_NEAR(f.sum(f.r), f.totals.infiltration, 1e-20);
    EXPECT_EQ(f.tracers[1], 7.5);
    EXPECT_NEAR(f.record.taken, f.totals.infiltration * 1e4, 1e-12);
    EXPECT_LE(f.record.taken, f.record.flowm3s);
  }
  {  // Speed 0: no water depth, the river bottom alone drives the take.
    river_fixture f, g;
    g.record.speed = 0;
    f.run(ColumnCell{4, 4, 1, 600, -0.7, true, 2}, f.river());
    g.run(ColumnCell{4, 4, 1, 600, -0.7, true, 2}, g.river());
    EXPECT_LT(g.record.taken, f.record.taken);
    EXPECT_NEAR(g.record.taken, 1e-6 * 0.7 * 2.0 * 100.0, 1e-15);
  }
  {  // Taken already at the flow: no infiltration, no tracer.
    river_fixture f;
    f.record.taken = 1.0;
    f.run(ColumnCell{4, 4, 1, 600, -0.7, true, 2}, f.river());
    EXPECT_EQ(f.totals.infiltration, 0);
    EXPECT_EQ(f.sum(f.r), 0);
    EXPECT_EQ(f.tracers[1], 0);
    EXPECT_EQ(f.record.taken, 1.0);
  }
}

TEST(SoilColumnWater, RiverTakesOfParallelCellsStayWithinTheFlow) {
  // Eight cells of one subbasin on four threads, each wanting more than the
  // small river gives, iterating and settling as the solver does.
  const soil_entry soil = loam_soil(4);
  column_arrays c(4);
  riverflow_record record;
  record.flowm3s = 1e-3;
  record.speed = 0.5;
  for (int repeat = 0; repeat < 50; ++repeat) {
    record.taken = 0;
    std::vector<double> finals(8, 0);
#pragma omp parallel for schedule(static) num_threads(4)
    for (int cell_index = 0; cell_index < 8; ++cell_index) {
      vec theta = c.filled(0.2), h = c.filled(99.0), r = c.zeros(), x = c.zeros();
      RiverTake take{&record, 0};
      RiverCell rc{false, 0.3, 2.0, 1e-5, 100.0, &take, 0, nullptr};
      RiverTotals totals;
      ColumnCell cell{4, 4, 1, 600, -0.7, true, 2};
      for (int iteration = 0; iteration < 5; ++iteration)
        exchange_with_river(soil, cell, rc, c.theta_sat.data(), theta.data(), theta.data(),
                            c.z.data(), h.data(), c.d.data(), r.data(), x.data(), totals);
      finals[static_cast<size_t>(cell_index)] = totals.infiltration * 1e4;
      settle_river_take(take, totals.infiltration * 1e4);
    }
    const double sum = std::accumulate(finals.begin(), finals.end(), 0.0);
    ASSERT_LE(record.taken, record.flowm3s * (1 + 1e-12));
    ASSERT_NEAR(record.taken, sum, 1e-15);
    ASSERT_GT(record.taken, 0.5 * record.flowm3s);  // the river is used, not refused
  }
}

// The solver's iteration over one cell whose start state depends on its index.
vec iterate_cell(const soil_entry& soil, const column_arrays& c, int index,
                 riverflow_record& record) {
  const int n = c.n;
  vec theta0 = c.zeros(), theta, relaxed, theta_b = c.zeros(), h = c.filled(95), psi0 = c.zeros();
  vec q = c.zeros(), t = c.zeros(), r = c.zeros(), x = c.zeros();
  for (int i = 1; i <= n; ++i)
    theta0[static_cast<size_t>(i)] = 0.2 + 0.02 * ((index + i) % 10);
  theta = relaxed = theta0;
  RiverTake take{&record, 0};
  RiverCell river{false, 0.5, 2.0, 1e-6, 100.0, &take, 0, nullptr};
  ColumnCell cell{n, n - 1, 1, 600, -0.9 + 0.01 * (index % 5), true, 2};
  RiverTotals totals;
  int counter = 0;
  for (int k = 0; k < 8; ++k) {
    compute_heads(soil, cell, k, r.data(), x.data(), theta0.data(), relaxed.data(), c.z.data(),
                  nullptr, h.data(), psi0.data());
    exchange_with_river(soil, cell, river, c.theta_sat.data(), theta0.data(), relaxed.data(),
                        c.z.data(), h.data(), c.d.data(), r.data(), x.data(), totals);
    q[0] = -1e-6;
    for (size_t i = 1; i < static_cast<size_t>(n); ++i)
      q[i] = darcy_flux(1e-6 * soil.relative_conductivity_from_theta(static_cast<int>(i),
                                                                       relaxed[i], 1.0),
                        h[i], h[i + 1], c.d[i], c.d[i + 1]);
    for (int i = 1; i < n; ++i)
      limit_flux(soil, i, c.z.data(), t.data(), h.data(), theta0.data(), q.data(), cell.dt);
    balance_layers(cell, 10, r.data(), x.data(), theta0.data(), c.theta_sat.data(),
                   c.theta_res.data(), q.data(), t.data(), c.d.data(), theta_b.data(), totals);
    relax_theta(cell, k + 1, counter, r.data(), x.data(), theta.data(), relaxed.data(),
                theta0.data(), q.data(), t.data(), c.d.data());
  }
  settle_river_take(take, totals.infiltration * 1e4);
  theta.push_back(totals.infiltration);
  return theta;
}

TEST(SoilColumnWater, IdenticalResultsOnAnyThreadCount) {
  const soil_entry soil = loam_soil(8);
  column_arrays c(8);
  std::vector<vec> by_threads[2];
  for (int pass = 0; pass < 2; ++pass) {
    riverflow_record record;
    record.flowm3s = 1e3;  // never limiting: which cell comes first does not matter
    record.speed = 1;
    std::vector<vec>& out = by_threads[pass];
    out.resize(64);
#pragma omp parallel for schedule(static) num_threads(pass == 0 ? 1 : 4)
    for (int cell_index = 0; cell_index < 64; ++cell_index)
      out[static_cast<size_t>(cell_index)] = iterate_cell(soil, c, cell_index, record);
  }
  for (size_t k = 0; k < 64; ++k) EXPECT_EQ(by_threads[0][k], by_threads[1][k]) << "cell " << k;
  EXPECT_NE(by_threads[0][0], by_threads[0][1]);  // the cells differ
}

TEST(SoilColumnWater, MacroporesFillFromTheDeepestReachedLayer) {
  soil_entry soil = loam_soil(4);
  column_arrays c(4);
  soil.PMacroThresh = 1e-6;   // [m s-1] as the table holds it: 0.001 mm s-1
  soil.MacroCapacity = 1e-5;  // [m s-1]: 0.01 mm s-1
  soil.CapacityRedu = 0.5;
  const double dt = 600;
  struct row {
    const char* name;
    double macro_depth, w, theta;
    double placed;  // hand value [mm]
  };
  const row rows[] = {
      {"depth not below half the first layer", 0.1, 1.0, 0.3, 0},
      {"input at the threshold", 1.0, 0.001, 0.3, 0},
      // Layers 1..2 reached (middles 0.1, 0.3 m); a = 0.01 is more than
      // kappa(2) = 0.01 * 0.5^0.3: kappa(2) dt enters layer 2, the rest layer 1.
      {"two layers", 0.35, 1.0, 0.3, 0.01 * dt},
      // Free volume 0.002 * 0.2 m = 0.4 mm per layer: both layers filled.
      {"nearly full", 0.35, 1.0, 0.428, 0.8},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    soil.MacroDepth = r.macro_depth;
    vec theta = c.filled(r.theta), cap = c.filled(-1), inf = c.filled(-1);
    double w = r.w;
    const double placed = macropore_infiltration(soil, 4, w, c.d.data(), c.theta_sat.data(), dt,
                                                 theta.data(), cap.data(), inf.data());
    EXPECT_NEAR(placed, r.placed, 1e-12);
    EXPECT_NEAR(w, r.w - r.placed / dt, 1e-15);
    double stored = 0;
    for (int i = 1; i <= 4; ++i)
      stored += (theta[static_cast<size_t>(i)] - r.theta) * 0.2 * 1000;
    EXPECT_NEAR(stored, placed, 1e-12);
    for (double t : theta) EXPECT_LE(t, LOAM_SAT + 1e-15);
    EXPECT_EQ(theta[3], r.theta);  // never reached
    EXPECT_EQ(inf[3], 0);  // cleared, not left from an earlier cell
    double rate = 0;
    for (size_t i = 1; i <= 4; ++i) rate += inf[i];
    EXPECT_NEAR(rate * dt, placed, 1e-12);
  }
}

TEST(SoilColumnWater, TranspirationRootsAndStress) {
  soil_entry soil = loam_soil(4);
  column_arrays c(4);
  const double dt = 3600;
  const double theta_lim = loam_theta(3.45);  // HReduDry at a table suction
  VegetationDemand demand{0, 3.45, 0.9, 0.4, 0, 1.0, 1e-7, 0};
  struct row {
    double theta;
    double phi;  // Feddes et al. (1978) shape, hand values
  };
  const row rows[] = {
      {LOAM_SAT, 0.4},                                     // saturated: LimitReduWet
      {0.9 * LOAM_SAT, 1.0},                               // start of wet stress
      {0.95 * LOAM_SAT, 0.7},                              // halfway: linear
      {0.3, 1.0},                                          // no stress
      {(LOAM_RES + theta_lim) / 2, 0.5},                   // halfway to the dry limit
      {LOAM_RES, 0.0},                                     // residual: none
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.theta);
    vec theta = c.filled(r.theta);
    vec frac = c.zeros(), weight = c.zeros(), tr = c.zeros(), cell_tr = c.zeros(),
        ev = c.zeros();
    double ev_total = 0;
    double root_depth = 0.05;  // raised to layer 1
    const int count = extract_transpiration(
        soil, 4, demand, dt, 0.0, root_depth, c.d.data(), c.theta_sat.data(), c.theta_res.data(),
        theta.data(), c.z.data(),
        ExtractionLayers{frac.data(), weight.data(), tr.data(), cell_tr.data(), ev.data(),
                         &ev_total});
    EXPECT_EQ(root_depth, 0.2);
    EXPECT_EQ(count, 2);  // layer 1 whole, layer 2 with an empty part
    EXPECT_NEAR(frac[1], 1.0, 1e-12);
    EXPECT_NEAR(tr[1], 1e-7 * r.phi, 1e-18);
    EXPECT_EQ(cell_tr[1], tr[1]);
    // Withheld weight goes to evaporation of layer 1 only (EvapMaxDepth 0).
    EXPECT_NEAR(ev_total, ev[1], 0);
    EXPECT_EQ(ev[2], 0);
    EXPECT_LE(ev[1], 1e-7 * (1 - r.phi) + 1e-20);
  }
}

TEST(SoilColumnWater, RootWeightsAndEvaporationDepth) {
  soil_entry soil = loam_soil(4);
  column_arrays c(4);
  vec theta = c.filled(0.3);
  vec frac = c.zeros(), weight = c.zeros(), tr = c.zeros(), cell_tr = c.zeros(), ev = c.zeros();
  double ev_total = 0;
  double root_depth = 0.4;
  // Soil evaporation only, no stress (theta between the limits).
  VegetationDemand demand{0, 3.45, 0.9, 0.4, 1e-7, 0.5, 2e-7, 0};
  const int count = extract_transpiration(
      soil, 4, demand, 3600, 10.0, root_depth, c.d.data(), c.theta_sat.data(),
      c.theta_res.data(), theta.data(), c.z.data(),
      ExtractionLayers{frac.data(), weight.data(), tr.data(), cell_tr.data(), ev.data(),
                       &ev_total});
  EXPECT_EQ(count, 3);
  // rho_k = (1 - m_k / D) e_k / D: 0.375 and 0.125 before normalising.
  EXPECT_NEAR(weight[1], 0.75, 1e-12);
  EXPECT_NEAR(weight[2], 0.25, 1e-12);
  EXPECT_NEAR(tr[1] + tr[2] + tr[3], 2e-7 * 0.5, 1e-20);
  // Every layer evaporates, each (1 - a^2) of what is left, no more in all.
  const double a = (LOAM_SAT - 0.3) / LOAM_SAT, keep = a * a;
  double left = 1e-7;
  for (int i = 1; i <= 4; ++i) {
    EXPECT_NEAR(ev[static_cast<size_t>(i)], (1 - keep) * left, 1e-20) << "layer " << i;
    left *= keep;
  }
  EXPECT_NEAR(ev_total, 1e-7 - left, 1e-20);
}

}  // namespace
