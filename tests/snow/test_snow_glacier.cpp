// Glacier, firn, permafrost and lake settings of the snow module: the set-up
// values against hand calculations and the published volume-area relation,
// the checks of "[ice_firn]" and "[permafrost]" with their codes, and the
// grids, records and statistics the set-up builds.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "snow/snow_fixture.h"
#include "snow/snowmod_glacier.h"

namespace {

TEST(SnowGlacierSettings, SetUpValuesAgainstHandCalculations) {
  struct row {
    const char* what;
    double value, expected, tolerance;
  } rows[] = {
      // Base 2500 m, gradient 2 (not divided by 100).
      {"firn at 2600 m", initial_firn_level(2, 2600, 2500), 200, 0},
      {"firn at 2400 m", initial_firn_level(2, 2400, 2500), 0, 0},
      // 28.5 * 0.01^1.36 = 28.5 * 10^-2.72 = 28.5 * 0.00190546.
      {"area raised to 0.01", initial_glacier_size(0.005, 28.5, 1.36).area, 0.01, 0},
      {"volume 28.5 A^1.36", initial_glacier_size(0.005, 28.5, 1.36).volume, 0.054306, 1e-6},
      {"reference volume", initial_glacier_size(0.005, 28.5, 1.36).old_volume, 0.054306, 1e-6},
      {"volume 10 A^1.36", initial_glacier_size(0.005, 10, 1.36).volume, 0.019055, 1e-6},
      {"reference volume at least 0.0543", initial_glacier_size(0.005, 10, 1.36).old_volume, 0.0543,
       0},
      // (0.0543 / 10)^(1 / 1.36) = exp(ln(0.00543) / 1.36).
      {"reference area", initial_glacier_size(0.005, 10, 1.36).old_area, 0.021598, 1e-6},
      // Chen & Ohmura (1990): V = 28.5 A^1.357, within 2 %.
      {"Chen & Ohmura", initial_glacier_size(2, 28.5, 1.36).volume / (28.5 * std::pow(2, 1.357)), 1,
       0.02},
  };
  for (const row& r : rows) EXPECT_NEAR(r.value, r.expected, r.tolerance) << r.what;

  subbasin_glacier_record record;
  add_glacier_share(1.2, record);
  add_glacier_share(-9999, record);
  EXPECT_TRUE(record.glacierized);
  EXPECT_EQ(record.glacier_sum, 1);
  EXPECT_EQ(record.free_sum, 1);

  EXPECT_EQ(snow_on_ice_statistics_name("qglac.txt"), "qglac_qsgl_.txt");
  EXPECT_EQ(snow_on_ice_statistics_name("/out/a.b/glac.txt"), "/out/a.b/glac_qsgl_.txt");
  EXPECT_EQ(snow_on_ice_statistics_name("glac"), "");
}

using glacier_edit = std::function<void(snow_fixture&, ice_firn_text&)>;

// Glacier shares and codes of the 2 x 3 grid, elevations 2600 m in row 1 and
// 2400 m in row 2, subbasins 1 (column 1 and 2) and 2 (column 3).
void glacier_grids(snow_fixture& f, bool dynamic) {
  grid_matrix& share = f.publish(dynamic ? "GlacierizedCells" : "ice_firn");
  grid_matrix& codes = f.publish("GlacierCodes");
  const double shares[2][3] = {{0.5, 1, 0}, {0.25, 0, 0}};
  const double code_values[2][3] = {{7, 7, -9999}, {7, -9999, -9999}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) {
      share[r][c] = dynamic ? shares[r - 1][c - 1] : (shares[r - 1][c - 1] > 0 ? 1 : 0);
      codes[r][c] = code_values[r - 1][c - 1];
      f.grid("[elevation_model]")[r][c] = r == 1 ? 2600 : 2400;
      f.grid("zonegrid_soilmodel")[r][c] = c < 3 ? 1 : 2;
    }
}

std::unique_ptr<schneemodellklasse> build_with_glaciers(snow_fixture& f, const ice_firn_text& g,
                                                        int& status, const std::string& more = "") {
  snow_section_text s;
  s.after = g.text() + more;
  f.write(s);
  return f.build(status);
}

TEST(SnowGlacierSettings, BadSectionsStopWithTheirCode) {
  struct row {
    const char* what;
    glacier_edit change;
    int status;
    const char* message;
  } rows[] = {
      {"glacier method 3", [](snow_fixture&, ice_firn_text& g) { g.method = "3"; }, 80,
       "Method for glacier melt must be 1(resp 11 for dynamic model; t-index)"},
      {"GlacierizedCells with method 1 and no ice_firn",
       [](snow_fixture& f, ice_firn_text&) { f.store[f.index_of("ice_firn")].grid_name = "x"; }, 33,
       "ice_firn"},
      {"static statistics name without a dot",
       [](snow_fixture&, ice_firn_text& g) { g.total_statistic = "glac"; }, 103, "glac"},
      {"glacier cell without a code",
       [](snow_fixture& f, ice_firn_text& g) {
         g.method = "11";
         f.grid("GlacierCodes")[2][1] = -9999;
       },
       80, "GlacierCodes (must be an integer ID for each separate glacier) at row 2 and col 1"},
      {"no glacierized cell",
       [](snow_fixture& f, ice_firn_text& g) {
         g.method = "12";
         for (int c = 1; c <= 3; ++c) f.grid("GlacierizedCells")[1][c] = 0;
         f.grid("GlacierizedCells")[2][1] = -9999;
       },
       80, "There are no glacierized cells in GlacierizedCells-grid"},
      {"codes only outside the subbasins",
       [](snow_fixture& f, ice_firn_text& g) {
         g.method = "11";
         for (int r = 1; r <= 2; ++r)
           for (int c = 1; c <= 3; ++c) f.grid("zonegrid_soilmodel")[r][c] = -9999;
         f.grid("zonegrid_soilmodel")[1][3] = 1;
       },
       80, "contains nodata values only"},
      {"firn line unreadable",
       [](snow_fixture&, ice_firn_text& g) {
         g.method = "11";
         g.line25 = "3 2500";
       },
       80, "Could not read the three parameters firn_levels (int),"},
      {"no firn level",
       [](snow_fixture&, ice_firn_text& g) {
         g.method = "13";
         g.line25 = "0 2500 2";
       },
       80, "firn levels must be at least 1"},
      {"month before day is refused",
       [](snow_fixture&, ice_firn_text& g) {
         g.method = "11";
         g.line26 = "9 30";
       },
       80, "GMBEvalDay (int 1...31) 9 and GMBEvalMonth (int 1..12) 30"},
      {"day 0",
       [](snow_fixture&, ice_firn_text& g) {
         g.method = "11";
         g.line26 = "0 9";
       },
       80, "GMBEvalDay (int 1...31) 0"},
      {"volume-area line unreadable",
       [](snow_fixture&, ice_firn_text& g) {
         g.method = "11";
         g.line27 = "28.5 1.36 3";
       },
       80, "Could not read the four parameters VAscaling, VAexponent, numElevBands"},
      {"a glacier in two subbasins",
       [](snow_fixture& f, ice_firn_text& g) {
         g.method = "11";
         f.grid("GlacierizedCells")[1][3] = 0.5;
         f.grid("GlacierCodes")[1][3] = 7;
       },
       84,
       "glacier 7 is located in more than one subbasin:\nFirst cell was found in subbasin 1,"
       "\nwhereas the cell in row 1 and col 3 belongs to subbasin 2."},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    ice_firn_text g;
    glacier_grids(f, true);
    f.store[f.index_of("GlacierizedCells")].grid_name = "GlacierizedCells";
    // Static methods take "ice_firn": the same shares under that name too.
    f.publish("ice_firn")[1][1] = 1;
    r.change(f, g);
    int status = -1;
    auto m = build_with_glaciers(f, g, status);
    EXPECT_EQ(status, r.status) << f.console();
    EXPECT_NE(f.console().find(r.message), std::string::npos) << f.console();
  }
}

TEST(SnowGlacierSettings, StaticGlaciersRecordsStatisticsAndGrids) {
  snow_fixture f;
  glacier_grids(f, false);
  ice_firn_text g;
  int status = -1;
  auto m = build_with_glaciers(f, g, status);
  ASSERT_EQ(status, 0) << f.console();
  ASSERT_TRUE(m->has_glacier_part());
  EXPECT_EQ(m->get_glacier_statistic_file(2), f.cd.dir.path() + "/glac_qsgl_.txt");
  // Subbasin 1: shares 1, 1, 1, 0 in columns 1, 2; subbasin 2: 0, 0.
  const auto& records = m->get_glacier_records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[1].glacierized);
  EXPECT_EQ(records[1].glacier_sum, 3);
  EXPECT_EQ(records[1].free_sum, 1);
  EXPECT_FALSE(records[2].glacierized);
  EXPECT_EQ(records[2].free_sum, 2);
  // Lines 13 to 15 in every subbasin.
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(m->glacier_outflows(0)[static_cast<size_t>(i)], 1.5);
    EXPECT_EQ(m->glacier_outflows(1)[static_cast<size_t>(i)], 0);
    EXPECT_EQ(m->glacier_outflows(2)[static_cast<size_t>(i)], 2.25);
  }
  EXPECT_EQ(f.grid("melt_from_ice")[2][3], 0);
  EXPECT_FALSE(f.has("firn_WE_stack"));
  // The seasonal factors of the ice: mean 0.2 at day 80 (18 March: 18 + 2 * 31).
  EXPECT_NEAR(m->seasonal_aice(18, 3), 0.2, 1e-12);
  m->release();
}

TEST(SnowGlacierSettings, DynamicGlaciersFirnListAndOptionalLine) {
  struct row {
    const char* what;
    std::string line53;
    double max_pack, new_share;
    bool warning;
  } rows[] = {{"line 53 given", "800 0.5", 800, 0.5, false},
              {"line 53 missing", "", 1000, 0.25, true}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    glacier_grids(f, true);
    ice_firn_text g;
    g.method = "11";
    g.line53 = r.line53;
    int status = -1;
    auto m = build_with_glaciers(f, g, status);
    ASSERT_EQ(status, 0) << f.console();
    const glacier_parameters& p = m->get_glacier_parameters();
    EXPECT_EQ(p.maxSnowPackToCreateGlacier, r.max_pack);
    EXPECT_EQ(p.relSizeNewGlacier, r.new_share);
    EXPECT_EQ(f.console().find("Could not read the two optional parameters") != std::string::npos,
              r.warning);
    EXPECT_EQ(p.eval_day, 30);
    EXPECT_EQ(p.eval_month, 9);
    EXPECT_TRUE(m->holds_full_grid());
    // Firn: 200 per level at 2600 m, 0 at 2400 m, nodata off the glaciers.
    const grid_matrix& firn = f.grid("firn_WE_stack");
    EXPECT_EQ(firn[1][1], 600);
    EXPECT_EQ(firn[2][1], 0);
    EXPECT_EQ(firn[1][3], -9999);
    const stack_matrix& levels = *f.store[f.index_of("firn_WE_stack")].stack;
    for (int l = 1; l <= 3; ++l) EXPECT_EQ(levels[1][2][l], 200);
    // One glacier: 0.5 + 1 + 0.25 of 100 m cells = 0.0175 km2.
    const auto& list = m->get_glacier_list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].code, 7);
    EXPECT_EQ(list[0].cells, 3);
    EXPECT_NEAR(list[0].size.area, 0.0175, 1e-12);
    EXPECT_EQ(f.grid("GlacierizedCellsOld")[1][1], 0.5);
    EXPECT_EQ(f.grid("GlacierCodesOld")[2][1], 7);
    ASSERT_NE(m->get_glacier_statistic(5), nullptr);
    m->release();
  }
}

TEST(SnowGlacierSettings, PermafrostUsesGivenDaysAndMakesTheOthers) {
  const std::string section =
      "[permafrost]\n1 Permafrost-Method for\n3 Min_Snow_Age_Refreeze for\n10 Max_SWE_SnowFree "
      "for\n@DIR@/thaw.txt 0 name of thaw depth statistics file\n1e-7 reduced k_sat (in m/s)\n";
  struct row {
    const char* what;
    std::string text;
    int status;
  } rows[] = {{"method 1", section, 0},
              {"method 2", "[permafrost]\n2 Permafrost-Method for\n", 80}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    f.publish("ThawCoeffPermaFrost");
    f.publish("PermafrostThawDepth");
    f.publish("root_depth1");
    grid_matrix& free_days = f.publish("SnowFreeDaysGrid");
    snow_section_text s;
    s.after = r.text;
    f.write(s);
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, r.status) << f.console();
    if (r.status != 0) continue;
    EXPECT_TRUE(m->has_permafrost());
    EXPECT_EQ(m->get_permafrost().Max_SWE_SnowFree, 10);
    EXPECT_EQ(&f.grid("SnowFreeDaysGrid"), &free_days);
    EXPECT_EQ(f.grid("SnowCoverDaysGrid")[2][2], 0);
    m->release();
  }
}

TEST(SnowGlacierSettings, LakeSection) {
  struct row {
    const char* what;
    bool lake_grid, ponding, units;
    int status, lake_flow_control;
  } rows[] = {
      {"no lake grid", false, false, false, 0, 0},
      {"lakes with ponding", true, true, false, 0, 1},
      {"lakes without ponding", true, false, false, 28, 1},
      {"hydrologic response units switch lakes off", true, false, true, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    snow_section_text s;
    s.after = "[lake_model]\n1 flow control parameter for\n";
    f.write(s);
    std::vector<hru_entry> units(2);
    if (r.units) {
      f.settings.hru_list = &units;
      f.publish("HydrologicResponseUnits");
      f.publish("MasterHydrologicResponseUnits");
    }
    if (r.lake_grid) f.publish("lake_codes");
    if (r.ponding) f.publish("ponding_storage_top");
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    int thrown = 0;
    try {
      m->read_lake_parameters("[lake_model]");
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(thrown, r.status);
    EXPECT_EQ(m->get_lake_flow_control(), r.lake_flow_control);
    EXPECT_EQ(
        f.console().find("Lake modelling is switched off for snow_model.") != std::string::npos,
        !r.lake_grid);
    m->release();
  }
}

}  // namespace
