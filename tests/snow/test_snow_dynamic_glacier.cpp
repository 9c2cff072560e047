// The dynamic glacier model: the volume-area relation against Chen & Ohmura
// (1990), the spreading of an area change over elevation bands by hand
// (the lowest band most, Huss et al. 2010), the yearly turn of snow into
// glacier and firn by hand, and the yearly update of the module on a small
// grid: a new glacier in a subbasin without one reaches the runoff.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "snow/glacier_kernels.h"
#include "snow/glacierclass.h"
#include "snow/snow_fixture.h"

namespace {

TEST(GlacierClass, VolumeAreaRelation) {
  glacierclass g(1, 1, 0, 1, 28.5, 1.36, 0.0543, 0, 100);
  g.area_from_volume();
  // (0.0543 / 28.5)^(1 / 1.36) = 0.0099992 km2.
  EXPECT_NEAR(g.area, 0.0099992, 1e-7);
  g.volume = 0.01;  // below the floor: raised to 0.0543
  g.area_from_volume();
  EXPECT_EQ(g.volume, 0.0543);
  for (double area : {0.1, 0.5, 1.0, 3.0, 10.0}) {
    g.area = area;
    g.volume_from_area();
    // Chen & Ohmura (1990): V = 28.5 A^1.357.
    EXPECT_NEAR(g.volume / (28.5 * std::pow(area, 1.357)), 1, 0.01) << area;
  }
  g.area = 0.001;
  g.volume_from_area();
  EXPECT_EQ(g.area, 0.01);
}

// A glacier of cells with the given shares and elevations, its bands built.
struct band_glacier {
  std::vector<double> shares, codes;
  glacierclass g;
  band_glacier(const std::vector<double>& s, const std::vector<double>& z, int bands, int extra)
      : shares(s), codes(s.size(), 5), g(5, bands, extra, 1, 28.5, 1.36, 28.5, 1, 100) {
    g.area = 0;
    for (size_t i = 0; i < s.size(); ++i) g.add_cell(true, s[i], z[i], 1e4);
    g.build_bands();
    for (size_t i = 0; i < s.size(); ++i) g.assign_cell_to_band(&shares[i], &codes[i], z[i]);
  }
  // One sweep of an update: every band K = 0..n-1 gets its turn.
  double sweep(double n_cells) {
    g.count_changeable_cells(n_cells);
    const double u = g.distribution_unit(n_cells);
    double rest = 0;
    for (int k = 0; k < g.band_count; ++k) rest += g.distribute_over_bands(k, u);
    return rest;
  }
};

TEST(GlacierClass, HundredCellsLoseMassInOneBand) {
  // 100 full cells of 100 m (1 km2, volume 28.5), B - B_old = -1000 mm:
  // the volume falls by 100 x 1 m / 0.85 x 10^4 m2 = 1.176471 10^6 m3 to
  // 27.323529, the area to (27.323529 / 28.5)^(1 / 1.36) = 0.969479 km2,
  // N = -3.05215 cells; every share falls by |N| / 100.
  band_glacier b(std::vector<double>(100, 1), std::vector<double>(100, 2500), 1, 0);
  for (int i = 0; i < 100; ++i) b.g.add_to_volume(1.0 * -1000 / 0.85 / 1000 * 1e4 / 1e6);
  b.g.area_from_volume();
  b.g.compute_cells_to_change();
  EXPECT_NEAR(b.g.area, 0.969479, 1e-6);
  EXPECT_NEAR(b.g.cells_to_change, -3.05215, 1e-5);
  EXPECT_NEAR(b.sweep(b.g.cells_to_change), 0, 1e-9);
  for (double s : b.shares) EXPECT_NEAR(s, 1 - 0.0305215, 1e-7);
}

TEST(GlacierClass, BandsAndTheirWeights) {
  {
    // 1000 to 1300 m in 3 bands of 100 m; 1300 m to the last band, 950 m
    // to band 0.
    band_glacier b({0.5, 0.5, 0.5, 0.5}, {1000, 1300, 1100, 1199}, 3, 0);
    double share = 0.5, code = 5;
    b.g.assign_cell_to_band(&share, &code, 950);
    ASSERT_EQ(b.g.bands.size(), 3u);
    EXPECT_EQ(b.g.bands[0].lower, 1000);
    EXPECT_EQ(b.g.bands[1].lower, 1100);
    EXPECT_EQ(b.g.bands[2].upper, 1300);
    EXPECT_EQ(b.g.bands[0].cell_count, 2u);  // 1000, 950
    EXPECT_EQ(b.g.bands[1].cell_count, 2u);  // 1100, 1199
    EXPECT_EQ(b.g.bands[2].cell_count, 1u);  // 1300
    EXPECT_EQ(b.g.assigned_cells, 5u);
    EXPECT_EQ(b.g.bands[0].shares.back(), &share);
  }
  {
    // Two bands of 10 cells, e = 1: u = N / (10 x 2 + 10 x 1 + 10 x 1 x 2)
    // = N / 50; band 0 takes 4u per cell, band 1 u.
    std::vector<double> z(20);
    for (int i = 0; i < 20; ++i) z[static_cast<size_t>(i)] = i < 10 ? 1000 : 1200;
    band_glacier b(std::vector<double>(20, 0.5), z, 2, 1);
    b.g.count_changeable_cells(5);
    EXPECT_DOUBLE_EQ(b.g.distribution_unit(5), 0.1);
    EXPECT_NEAR(b.sweep(5), 0, 1e-12);
    for (int i = 0; i < 20; ++i)
      EXPECT_NEAR(b.shares[static_cast<size_t>(i)], i < 10 ? 0.9 : 0.6, 1e-12);
  }
  {
    // A negative change shrinks the lowest band most: 3 bands, e = 0,
    // N = -3: u = -3 / (10 x 3 + 10 x 2 + 10 x 1) = -0.05; band 0 loses 3u.
    std::vector<double> z(30);
    for (int i = 0; i < 30; ++i) z[static_cast<size_t>(i)] = 1000 + 100 * (i / 10) + 5;
    z[29] = 1300;
    band_glacier b(std::vector<double>(30, 1), z, 3, 0);
    EXPECT_NEAR(b.sweep(-3), 0, 1e-12);
    EXPECT_NEAR(b.shares[0], 0.85, 1e-12);
    EXPECT_NEAR(b.shares[10], 0.9, 1e-12);
    EXPECT_NEAR(b.shares[29], 0.95, 1e-12);
  }
}

TEST(GlacierClass, ACellBelowZeroLeavesAndTheRestGoesToOthers) {
  // Shares 0.1 and 0.9, u = -0.3 (X = -0.6): the first cell leaves (0,
  // code -9999) after taking 0.1; its rest of 0.2 goes to the second cell
  // in a second pass: 0.9 - 0.3 - 0.2 = 0.4.
  band_glacier b({0.1, 0.9}, {1000, 1000}, 1, 0);
  EXPECT_NEAR(b.g.bands[0].distribute_in_band(-0.3), 0, 1e-12);
  EXPECT_EQ(b.shares[0], 0);
  EXPECT_EQ(b.codes[0], -9999);
  EXPECT_NEAR(b.shares[1], 0.4, 1e-12);
  EXPECT_EQ(b.codes[1], 5);
  // A full cell cannot grow: flagged, nothing placed.
  band_glacier full({1}, {1000}, 1, 0);
  EXPECT_EQ(full.g.count_changeable_cells(2), 0u);
}

TEST(GlacierYearlyCell, SnowBecomesGlacierAndFirnByHand) {
  struct row {
    const char* what;
    double share, code, W, Wg;
    double share_after, code_after, W_after, layer1, firn, balance;
  } rows[] = {
      // r_new 0.25: W_g = 1200 + 3 x 200 = 1800.
      {"snow cell becomes glacier", 0, -9999, 1200, 0, 0.25, -1, 1000, 1800, 1800, 1800},
      {"a code of 0 or above stays", 0, 4, 1200, 0, 0.25, 4, 1000, 1800, 1800, 1800},
      // (1 - g) / g = 1: 300 mm pass to W_g, B grows by 300, firn shifts.
      {"partial glacier passes its excess", 0.5, 7, 1300, 20, 0.5, 7, 1000, 320, 320 + 100 + 50,
       10 + 300},
      {"full glacier empties its snow part", 1, 7, 500, 20, 1, 7, 0, 20, 20 + 100 + 50, 10},
      {"snow below the threshold stays", 0, -9999, 900, 0, 0, -9999, 900, 100, 157, 10},
  };
  for (const row& r : rows) {
    double firn[4] = {157, 100, 50, 7};  // total, layers 1..3 (a shift drops layer 3)
    glacier_cell_state s;
    s.share = r.share;
    s.code = r.code;
    s.W = r.W;
    s.S = 0.75 * r.W;
    s.L = 0.25 * r.W;
    s.Wg = s.Sg = r.Wg;
    s.balance = 10;
    s.firn = firn;
    s.levels = 3;
    yearly_glacier_cell({1000, 0.25}, s);
    EXPECT_DOUBLE_EQ(s.share, r.share_after) << r.what;
    EXPECT_DOUBLE_EQ(s.code, r.code_after) << r.what;
    EXPECT_DOUBLE_EQ(s.W, r.W_after) << r.what;
    EXPECT_NEAR(s.S + s.L, s.W, 1e-9) << r.what;
    EXPECT_DOUBLE_EQ(firn[1], r.layer1) << r.what;
    EXPECT_DOUBLE_EQ(firn[0], r.firn) << r.what;
    EXPECT_DOUBLE_EQ(s.balance, r.balance) << r.what;
    if (r.share_after > 0) {
      EXPECT_EQ(s.Wg, 0) << r.what;
    }
  }
}

// The fixture's glaciers (code 7 in subbasin 1, shares 0.5, 1 and 0.25)
// and a snow cell of 1200 mm in subbasin 2, which has no glacier; W_max
// 800, r_new 0.5 (line 53 of the fixture's "[ice_firn]").
TEST(SnowDynamicGlacier, NewGlacierInASubbasinWithoutOneReachesTheRunoff) {
  snow_fixture f;
  grid_matrix& share = f.publish("GlacierizedCells");
  grid_matrix& codes = f.publish("GlacierCodes");
  const double shares[2][3] = {{0.5, 1, 0}, {0.25, 0, 0}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) {
      share[r][c] = shares[r - 1][c - 1];
      codes[r][c] = c < 3 && shares[r - 1][c - 1] > 0 ? 7 : -9999;
      f.grid("[elevation_model]")[r][c] = r == 1 ? 2600 : 2400;
      f.grid("zonegrid_soilmodel")[r][c] = c < 3 ? 1 : 2;
    }
  f.zone_index = {0, 1, 2};
  snow_section_text s;
  ice_firn_text g;
  g.method = "11";
  s.after = g.text();
  f.write(s);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();
  ASSERT_EQ(m->get_glaciers().size(), 1u);
  EXPECT_EQ(m->get_glaciers()[0].code, 7);
  ASSERT_EQ(m->get_glacier_records().size(), 3u);
  EXPECT_FALSE(m->get_glacier_records()[2].glacierized);
  m->select_input_grid(0);
  subbasin_flow_arrays qg = make_flow_arrays(0, 2);
  m->set_qg(&qg);
  std::vector<subbasin_glacier_record> unsat(3);
  m->set_unsat_glacier_records(&unsat);

  f.grid("snow_storage_total")[2][3] = 1200;
  f.grid("snowstorage_solid")[2][3] = 1200;
  m->yearly_glacier_update();
  // X = 400, (1 - g) / g = 1: W_g = 1600, then layer 1 = F = 1600; the
  // cell starts glacier 8 (no neighbour of its subbasin has a code). Its
  // volume is below the floor 0.0543, so its area is 0.01 km2: one whole
  // cell of 100 m, and the share 0.5 grows to 1.
  EXPECT_EQ(codes[2][3], 8);
  EXPECT_EQ(share[2][3], 1);
  EXPECT_EQ(f.grid("snow_storage_total")[2][3], 800);
  EXPECT_EQ(f.grid("firn_WE_stack")[2][3], 1600);
  EXPECT_EQ(f.grid("OldGlacierMassBalance")[2][3], f.grid("GlacierMassBalance")[2][3]);
  ASSERT_EQ(m->get_glaciers().size(), 2u);
  EXPECT_EQ(m->get_glaciers()[1].code, 8);
  EXPECT_EQ(m->get_glaciers()[1].subbasin, 2);
  EXPECT_NEAR(m->get_glaciers()[1].old_area, 0.01, 1e-4);
  EXPECT_TRUE(m->get_glacier_records()[2].glacierized);
  EXPECT_GE(m->get_glacier_records()[2].glacier_sum, 1);
  // Outside the glaciers the balances stay 0.
  EXPECT_EQ(f.grid("GlacierMassBalance")[2][2], 0);
  EXPECT_TRUE(unsat[2].glacierized);
  EXPECT_NE(f.console().find("glaciers changed, updating glaicerlist now..."), std::string::npos);

  // A warm step: the firn of the new glacier melts and reaches Qg.
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) f.grid("temperature")[r][c] = 5;
  m->time_step(12, 1, 10, 2021);
  EXPECT_GT(f.grid("melt_from_firn")[2][3], 0);
  EXPECT_GT(qg[0][2], 0);
  m->release();
}

}  // namespace
