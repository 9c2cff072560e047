// The snow module's time step: the glacier runoff storages against the
// exact solution of dS/dt = I - S/k, the slides on a cone (mass conserved
// to round-off, their edge cases by hand), and whole steps of the module
// with the water of the basin closing and the glacier runoff reaching the
// unsaturated zone's arrays.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "snow/glacier_kernels.h"
#include "snow/snow_fixture.h"
#include "snow/snowmod_setup_kernels.h"
#include "snow/snowslide_kernels.h"
#include "snow/snowslide_plan.h"

namespace {

TEST(GlacierRunoffStorage, ExactSolutionOfTheLinearStorage) {
  // Q(n) = I + (Q0 - I) e^(-n/k) for a constant input I (k in steps).
  struct row {
    const char* what;
    double q0, inflow;
    int steps;
    double expected, tolerance;
  } rows[] = {
      {"k 10, Q0 0, m/r 1, one step: 1 - e^-0.1", 0, 1, 1, 0.0951626, 1e-7},
      {"k 10, Q0 0, m/r 1, 300 steps: tends to 1", 0, 1, 300, 1, 1e-12},
      // Explicit Euler would give 5 * 0.9^24 = 0.398832.
      {"k 10, Q0 5, no input, 24 steps: 5 e^-2.4", 5, 0, 24, 0.453590, 1e-6},
      {"k 10, Q0 0, m/r 2, 5 steps: 2 (1 - e^-0.5)", 0, 2, 5, 0.786939, 1e-6},
  };
  for (const row& r : rows) {
    double q = r.q0;
    for (int n = 0; n < r.steps; ++n) q = linear_storage_step(q, 10, r.inflow);
    EXPECT_NEAR(q, r.expected, r.tolerance) << r.what;
  }
}

TEST(GlacierRunoffStorage, SubbasinRunoffAndEmptyGlacier) {
  subbasin_glacier_record record{true, 2, 6};
  EXPECT_DOUBLE_EQ(subbasin_glacier_share(record), 0.25);
  // Inputs m / r: ice 0.5 / 0.25 = 2, firn 0, snow 1.
  glacier_runoff_storages q{0, 0, 0};
  const glacier_runoff_params p{10, 10, 10};
  const double runoff = glacier_runoff_step(p, 0.25, 0.5, 0, 0.25, q);
  EXPECT_NEAR(q.ice, 0.1903252, 1e-7);
  EXPECT_NEAR(q.snow, 0.0951626, 1e-7);
  EXPECT_NEAR(runoff, 0.25 * (0.1903252 + 0.0951626), 1e-7);
  // A glacierized subbasin whose glacier sum is 0: nothing flows, the
  // storages are emptied.
  const subbasin_glacier_record empty{true, 0, 6};
  glacier_runoff_storages full{3, 2, 1};
  EXPECT_EQ(glacier_runoff_step(p, subbasin_glacier_share(empty), 1, 1, 1, full), 0);
  EXPECT_EQ(full.ice + full.firn + full.snow, 0);
  EXPECT_EQ(firn_area_factor(false, 500), 0);  // static glaciers have no firn
  EXPECT_EQ(firn_area_factor(true, 500), 1);
  EXPECT_EQ(firn_area_factor(true, 0), 0);
}

// Whole grids of one slide walk, rows and columns 1..n.
struct slide_grids {
  int n;
  memory_handling memory;
  grid_matrix zone, glacier, slope, capacity, order_row, order_col, elevation;
  std::array<grid_matrix, 4> fraction;
  grid_matrix total, liquid, solid, total_g, liquid_g, solid_g, input, mobile, deposition;
  explicit slide_grids(int size) : n(size) {
    for (grid_matrix* g : {&zone, &glacier, &slope, &capacity, &order_row, &order_col, &elevation,
                           &total, &liquid, &solid, &total_g, &liquid_g, &solid_g, &input, &mobile,
                           &deposition, &fraction[0], &fraction[1], &fraction[2], &fraction[3]})
      *g = memory.matrix(1, n, 0, n, n);
  }
  void order() {
    std::vector<elevation_cell> cells;
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c)
        if (zone[r][c] != -9999) cells.push_back({r, c, elevation[r][c]});
    const std::vector<elevation_cell> sorted = highest_first(cells);
    size_t k = 0;
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c)
        if (zone[r][c] != -9999) {
          order_row[r][c] = sorted[k].row;
          order_col[r][c] = sorted[k++].col;
        }
  }
  void walk(bool storages, double phi = 0.1) {
    order();
    slide_walk_inputs in;
    in.zone = &zone;
    in.glacier = &glacier;
    in.slope = &slope;
    for (size_t k = 0; k < 4; ++k) in.fraction[k] = &fraction[k];
    in.capacity = &capacity;
    in.order_row = &order_row;
    in.order_col = &order_col;
    in.nrows = in.ncols = n;
    in.phi = phi;
    slide_walk_grids g{&total, &liquid, &solid, nullptr, nullptr, nullptr, &input, &mobile,
                       &deposition};
    if (storages) {
      g.total_g = &total_g;
      g.liquid_g = &liquid_g;
      g.solid_g = &solid_g;
    }
    snow_slide_walk(in, g);
  }
  double cell_mean_sum(bool storages) const {
    double s = 0;
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c) {
        if (zone[r][c] == -9999) continue;
        const double g = storages ? std::clamp(glacier[r][c], 0.0, 1.0) : 0;
        s += (1 - g) * total[r][c] + (storages ? g * total_g[r][c] : 0);
      }
    return s;
  }
  void set_snow(int r, int c, double w, double l) {
    total[r][c] = w;
    liquid[r][c] = l;
    solid[r][c] = w - l;
  }
};

TEST(SnowSlides, ConeWithRandomFractionsConservesTheSnow) {
  for (bool storages : {false, true}) {
    SCOPED_TRACE(storages ? "with glacier storages" : "without glacier storages");
    slide_grids s(21);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int r = 1; r <= s.n; ++r)
      for (int c = 1; c <= s.n; ++c) {
        const double d = std::hypot(r - 11, c - 11);
        s.elevation[r][c] = 3000 - 100 * d;
        s.zone[r][c] = d > 10.5 ? -9999 : (c > 15 ? 2 : 1);
        s.slope[r][c] = d < 1 ? 10 : 20 + 40 * unit(random);
        s.capacity[r][c] = 20 * unit(random);
        for (auto& f : s.fraction) f[r][c] = unit(random);
        s.set_snow(r, c, 200 * unit(random), 0);
        s.liquid[r][c] = 0.2 * s.total[r][c] * unit(random);
        s.solid[r][c] = s.total[r][c] - s.liquid[r][c];
        s.glacier[r][c] = unit(random) < 0.3 ? (unit(random) < 0.5 ? 1 : unit(random)) : 0;
        s.total_g[r][c] = s.glacier[r][c] > 0 ? 300 * unit(random) : 0;
        s.liquid_g[r][c] = 0;
        s.solid_g[r][c] = s.total_g[r][c];
      }
    const double before = s.cell_mean_sum(storages);
    double moved = 0, deposited = 0;
    for (int step = 0; step < 5; ++step) {
      s.walk(storages);
      for (int r = 1; r <= s.n; ++r)
        for (int c = 1; c <= s.n; ++c)
          if (s.zone[r][c] != -9999) {
            moved += s.input[r][c];
            deposited += s.deposition[r][c];
            EXPECT_NEAR(s.total[r][c], s.solid[r][c] + s.liquid[r][c], 1e-9);
            EXPECT_GE(s.deposition[r][c], 0);
            EXPECT_LE(s.deposition[r][c], s.capacity[r][c] + 1e-12);
          } else {
            EXPECT_EQ(s.input[r][c], -9999);
          }
    }
    EXPECT_NEAR(s.cell_mean_sum(storages), before, 1e-9 * before);
    EXPECT_GT(moved, 100);
    EXPECT_GT(deposited, 10);
  }
}

TEST(SnowSlides, EdgeCasesByHand) {
  // A row of cells in zone 1 falling to the east, slope 40, shares east.
  auto strip = [](slide_grids& s) {
    for (int r = 1; r <= s.n; ++r)
      for (int c = 1; c <= s.n; ++c) {
        s.zone[r][c] = r == 2 ? 1 : 5;
        s.elevation[r][c] = 1000 - 10 * c - 100 * r;
        s.slope[r][c] = 40;
        s.capacity[r][c] = 100;
        s.fraction[2][r][c] = 1;  // east
        s.set_snow(r, c, 0, 0);
      }
  };
  {
    // A cell alone in its zone keeps what it sets in motion as mobile snow
    // and gets it back: phi W moves, W ends where it started.
    slide_grids s(3);
    strip(s);
    s.zone[2][2] = 7;
    s.set_snow(2, 2, 100, 20);
    s.walk(false);
    EXPECT_DOUBLE_EQ(s.input[2][2], 10);
    EXPECT_DOUBLE_EQ(s.mobile[2][2], 10);
    EXPECT_DOUBLE_EQ(s.total[2][2], 100);
    EXPECT_DOUBLE_EQ(s.liquid[2][2], 20);  // the liquid share 0.2 stays
  }
  {
    // The middle cell is too flat to start a slide and holds nothing, but
    // passes on the snow it receives: all of cell 1's phi W lands on cell 3.
    slide_grids s(3);
    strip(s);
    s.set_snow(2, 1, 100, 0);
    s.set_snow(2, 2, 50, 0);
    s.slope[2][2] = 10;
    s.capacity[2][2] = 0;
    s.walk(false);
    EXPECT_DOUBLE_EQ(s.input[2][1], 10);
    EXPECT_DOUBLE_EQ(s.input[2][2], 0);
    EXPECT_DOUBLE_EQ(s.deposition[2][2], 0);
    EXPECT_DOUBLE_EQ(s.mobile[2][2], 0);
    EXPECT_DOUBLE_EQ(s.deposition[2][3], 10);
    EXPECT_DOUBLE_EQ(s.total[2][1], 90);
    EXPECT_DOUBLE_EQ(s.total[2][2], 50);
    EXPECT_DOUBLE_EQ(s.total[2][3], 10);
  }
  {
    // The middle cell holds nothing and passes all on; capacity 4 on the
    // last cell: it deposits 4, keeps 6 as mobile snow and has no
    // neighbour to pass it to; both return to its storage.
    slide_grids s(3);
    strip(s);
    s.set_snow(2, 1, 100, 0);
    s.capacity[2][2] = 0;
    s.capacity[2][3] = 4;
    s.walk(false);
    EXPECT_DOUBLE_EQ(s.deposition[2][2], 0);
    EXPECT_DOUBLE_EQ(s.mobile[2][2], 0);
    EXPECT_DOUBLE_EQ(s.deposition[2][3], 4);
    EXPECT_DOUBLE_EQ(s.mobile[2][3], 6);
    EXPECT_DOUBLE_EQ(s.total[2][3], 10);
  }
  {
    // A fully glacierized cell moves only the snow on its glacier, and its
    // deposit goes to the glacier part alone.
    slide_grids s(3);
    strip(s);
    s.glacier[2][1] = 1;
    s.set_snow(2, 1, 100, 0);
    s.total_g[2][1] = s.solid_g[2][1] = 50;
    s.glacier[2][2] = 1;
    s.walk(true);
    EXPECT_DOUBLE_EQ(s.input[2][1], 5);
    EXPECT_DOUBLE_EQ(s.total[2][1], 100);
    EXPECT_DOUBLE_EQ(s.total_g[2][1], 45);
    EXPECT_DOUBLE_EQ(s.total[2][2], 0);
    EXPECT_DOUBLE_EQ(s.total_g[2][2], 5);
  }
}

TEST(SnowSlides, SharesAndStorageKernels) {
  const auto w = slide_shares({1, 2, -9999, 1}, {true, true, true, false});
  EXPECT_DOUBLE_EQ(w[0], 1.0 / 3);
  EXPECT_DOUBLE_EQ(w[1], 2.0 / 3);
  EXPECT_EQ(w[2], 0);  // a negative fraction sends nothing
  EXPECT_EQ(w[3], 0);  // not in the zone
  const auto none = slide_shares({1, 1, 1, 1}, {false, false, false, false});
  EXPECT_EQ(none[0] + none[1] + none[2] + none[3], 0);
  double t = 0, l = 0, s = 0;
  add_snow(5, {t, l, s});
  EXPECT_EQ(t, 5);
  EXPECT_EQ(s, 5);
  EXPECT_EQ(l, 0);
}

// The plan compiled once must give the bits of the walk over whole grids,
// also after the glacier share changed (a yearly update) and the plan took
// it anew; a plan left with the old share must not (the check can fail).
TEST(SnowSlides, CompiledPlanGivesTheBitsOfTheWalk) {
  slide_grids s(23);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int r = 1; r <= s.n; ++r)
    for (int c = 1; c <= s.n; ++c) {
      const double d = std::hypot(r - 12, c - 12);
      // Equal heights on rings: the order among equals matters too.
      s.elevation[r][c] = 3000 - 100 * std::floor(d);
      s.zone[r][c] = d > 11.5 ? -9999 : (r > 16 ? 2 : 1);
      s.slope[r][c] = 15 + 40 * unit(random);
      s.capacity[r][c] = unit(random) < 0.1 ? -9999 : 20 * unit(random);
      for (auto& f : s.fraction) f[r][c] = unit(random) < 0.1 ? -9999 : unit(random);
      s.set_snow(r, c, unit(random) < 0.1 ? 0 : 200 * unit(random), 0);
      s.liquid[r][c] = 0.2 * s.total[r][c] * unit(random);
      s.solid[r][c] = s.total[r][c] - s.liquid[r][c];
      s.glacier[r][c] = unit(random) < 0.3 ? (unit(random) < 0.5 ? 1 : unit(random)) : 0;
      s.total_g[r][c] = s.glacier[r][c] > 0 ? 300 * unit(random) : 0;
      s.liquid_g[r][c] = 0.1 * s.total_g[r][c];
      s.solid_g[r][c] = s.total_g[r][c] - s.liquid_g[r][c];
    }
  s.order();
  slide_walk_inputs in;
  in.zone = &s.zone;
  in.glacier = &s.glacier;
  in.slope = &s.slope;
  for (size_t k = 0; k < 4; ++k) in.fraction[k] = &s.fraction[k];
  in.capacity = &s.capacity;
  in.order_row = &s.order_row;
  in.order_col = &s.order_col;
  in.nrows = in.ncols = s.n;
  in.phi = 0.1;
  slide_plan plan = build_slide_plan(in);
  slide_plan stale = build_slide_plan(in);
  auto load = [&](slide_plan& p) {
    for (int32_t k : p.zone_cells) {
      const int r = k / s.n + 1, c = k % s.n + 1;
      p.cells[static_cast<size_t>(k)].total = s.total[r][c];
      p.cells[static_cast<size_t>(k)].liquid = s.liquid[r][c];
      p.glacier_cells[static_cast<size_t>(k)].total = s.total_g[r][c];
      p.glacier_cells[static_cast<size_t>(k)].liquid = s.liquid_g[r][c];
    }
  };
  // Bitwise: every storage part the walk rewrites, and the slide amounts.
  auto same = [&](const slide_plan& p) {
    int differ = 0;
    for (int32_t k : p.zone_cells) {
      const int r = k / s.n + 1, c = k % s.n + 1;
      const slide_cell& x = p.cells[static_cast<size_t>(k)];
      const slide_glacier_cell& y = p.glacier_cells[static_cast<size_t>(k)];
      const double g = std::clamp(s.glacier[r][c], 0.0, 1.0);
      differ += x.total != s.total[r][c] || x.liquid != s.liquid[r][c] ||
                x.input != s.input[r][c] || x.mobile != s.mobile[r][c] ||
                x.deposition != s.deposition[r][c] || y.total != s.total_g[r][c] ||
                y.liquid != s.liquid_g[r][c] || (g < 1 && x.solid != s.solid[r][c]) ||
                (g > 0 && y.solid != s.solid_g[r][c]);
    }
    return differ;
  };
  for (int year = 0; year < 2; ++year) {
    if (year == 1) {
      // The glacier grows on some cells and vanishes on others.
      for (int r = 1; r <= s.n; ++r)
        for (int c = 1; c <= s.n; ++c)
          if (unit(random) < 0.3) s.glacier[r][c] = s.glacier[r][c] > 0 ? 0 : 0.6;
      refresh_slide_glacier(plan, in);
    }
    for (int step = 0; step < 3; ++step) {
      load(plan);
      load(stale);
      s.walk(true, 0.1);
      run_slide_plan(plan, 0.1);
      run_slide_plan(stale, 0.1);
      EXPECT_EQ(same(plan), 0) << "year " << year << " step " << step;
      if (year == 1) {
        EXPECT_GT(same(stale), 0);
      }
    }
  }
}

// A run of the module with slides (method 8) on a slope falling to the
// south-east; the water of the zone cells closes step by step.
TEST(SnowStep, WaterOfTheBasinClosesWithSlides) {
  std::vector<double> results[2];
  for (int threads : {1, 4}) {
    omp_set_num_threads(threads);
    snow_fixture f(4);
    snow_section_text s;
    s.method = "8";
    s.slide_mass_fraction = "0.2";
    f.write(s);
    f.grid("zonegrid")[4][3] = -9999;
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 3; ++c) {
        f.grid("[elevation_model]")[r][c] = 3000 - 100 * r - 10 * c;
        f.grid("slope_angle")[r][c] = r == 4 ? 5 : 45;
        for (int k = 1; k <= 4; ++k) f.grid("slidefraction" + std::to_string(k))[r][c] = k;
      }
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    m->select_input_grid(0);
    double stored = 0, moved = 0;
    for (int step = 0; step < 48; ++step) {
      double input = 0, outflow = 0;
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 3; ++c) {
          f.grid("temperature")[r][c] = -5 + 0.3 * step - r;
          f.grid("precipitation")[r][c] = step % 4 == 0 ? 3 + c : 0;
          if (f.grid("zonegrid")[r][c] != -9999) input += f.grid("precipitation")[r][c];
        }
      m->time_step(step % 24 + 1, 1 + step / 24, 2, 2021);
      double now = 0;
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 3; ++c) {
          if (f.grid("zonegrid")[r][c] == -9999) continue;
          outflow += f.grid("snowcover_outflow")[r][c];
          now += f.grid("snow_storage_total")[r][c];
          moved += f.grid("input_mass")[r][c];
        }
      EXPECT_NEAR(input, outflow + now - stored, 1e-9) << "step " << step;
      stored = now;
    }
    EXPECT_GT(moved, 1);
    for (const char* n : {"snow_storage_total", "deposition", "mobile_mass", "snowstorage_liquid"})
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 3; ++c) results[threads == 1 ? 0 : 1].push_back(f.grid(n)[r][c]);
    m->release();
  }
  EXPECT_EQ(results[0], results[1]);
}

// Static glacier (method 1): cells (1,1) and (1,2) of ice in subbasin 1 of
// six cells, r = 2/6; hourly step at 5 degC without snow: ice melt DDFice 6
// x 5 / 24 = 1.25 mm on the ice cells. Mean ice melt over the subbasin
// 2.5 / 6, m / r = 1.25. Storages k 10, 20, 30 from Q 1.5, 0, 2.25:
// Qice = 1.5 e^-0.1 + 1.25 (1 - e^-0.1) = 1.476209, Qfirn = 0,
// Qsnow = 2.25 e^(-1/30) = 2.176236; Qg = r (Qice + Qsnow) = 1.217482.
TEST(SnowStep, GlacierRunoffReachesTheUnsaturatedZone) {
  snow_fixture f;
  grid_matrix& ice = f.publish("ice_firn");
  ice[1][1] = ice[1][2] = 1;
  snow_section_text s;
  s.after = ice_firn_text{}.text();
  f.write(s);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();
  m->select_input_grid(0);
  subbasin_flow_arrays qg = make_flow_arrays(0, 1);
  qg[0][1] = 99;  // replaced, not added to
  m->set_qg(&qg);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) f.grid("temperature")[r][c] = 5;
  m->time_step(12, 1, 7, 2021);
  EXPECT_DOUBLE_EQ(f.grid("melt_from_ice")[1][1], 1.25);
  EXPECT_NEAR(m->glacier_outflows(0)[1], 1.476209, 1e-6);
  EXPECT_NEAR(m->glacier_outflows(1)[1], 0, 1e-12);
  EXPECT_NEAR(m->glacier_outflows(2)[1], 2.176236, 1e-6);
  EXPECT_NEAR(qg[0][1], 1.217482, 1e-6);
  EXPECT_EQ(f.console().find("not built yet"), std::string::npos);
  m->release();
}

}  // namespace
