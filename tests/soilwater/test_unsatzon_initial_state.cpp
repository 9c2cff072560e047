// Starting state of a soil column and the completed heat values of its soil
// type. The column: a loam of ten layers (van Genuchten
// parameters of Carsel and Parrish 1988) with layer 1 0.1 m and layers 2..10
// 0.2 m thick under a surface at 1000 m. Expected layers and depths are
// counted by hand from the thicknesses.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "soilwater/unsatzon_heat.h"
#include "soilwater/unsatzon_initial_state.h"
#include "soilwater/unsatzon_section.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

namespace {

constexpr int L = 10;
constexpr double SURFACE = 1000;  // [m]

soil_entry loam() {
  captured_diag cap;
  soil_entry e;
  parse_soil_line(*cap.diag, e, "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 10 0.2 1000 1", 2);
  return e;
}

struct column_fixture {
  soil_entry soil = loam();
  std::vector<double> thickness = std::vector<double>(L + 1, 0.2);
  soil_column_view column;
  std::vector<double> g = std::vector<double>(L + 1);
  std::vector<double> theta = std::vector<double>(L + 1);
  std::vector<double> h = std::vector<double>(L + 1);
  column_fixture() {
    thickness[0] = 0;
    thickness[1] = 0.1;
    column = soil_column_view{L, thickness.data(), soil.theta_sat.data()};
    geodetic_heights(column, SURFACE, g.data());
  }
  double depth_of_bottom(int l) const { return SURFACE - g[static_cast<size_t>(l)]; }
  double middle(int l) const {
    return (g[static_cast<size_t>(l - 1)] + g[static_cast<size_t>(l)]) / 2;
  }
};

TEST(InitialState, GeodeticHeightsStepDownByTheThicknesses) {
  column_fixture c;
  EXPECT_DOUBLE_EQ(c.g[0], 1000);
  EXPECT_DOUBLE_EQ(c.g[1], 999.9);
  EXPECT_DOUBLE_EQ(c.g[5], 999.1);
  EXPECT_NEAR(c.g[10], 998.1, 1e-9);
}

TEST(InitialState, GroundwaterLayerFromTheDivisorOrTheReadDistance) {
  column_fixture c;
  struct row {
    const char* name;
    int k;
  } divisor_rows[] = {{"2", 5}, {"100", 1}, {"1.1", 9}, {"3", 4}};
  for (const row& r : divisor_rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(groundwater_layer_from_divisor(L, std::stod(r.name)), r.k);
  }
  // Divisors of 1 or less address layer L + 1 or divide by zero: marked L.
  for (double d : {1.0, 0.5, 0.0, -2.0}) EXPECT_EQ(groundwater_layer_from_divisor(L, d), L);

  struct distance_row {
    double distance;  // [m]
    int k;
  } distance_rows[] = {
      {-0.05, 0},              // inside layer 1 (0.1 m)
      {-0.1, 0},               // at the bottom of layer 1
      {-0.2, 1},  {-0.5, 2},   // bottoms above 0.5 m: 0.1, 0.3
      {-1.8, 9},  {-2.5, 10},  // below the column
  };
  for (const distance_row& r : distance_rows) {
    SCOPED_TRACE(r.distance);
    EXPECT_EQ(groundwater_layer_from_distance(c.column, c.g.data(), r.distance), r.k);
  }
}

TEST(InitialState, LayerBelowTheColumnIsRefused) {
  struct row {
    int k;
    int code;
  } rows[] = {{0, 0}, {9, 0}, {10, 17}, {-1, 17}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.k);
    captured_diag cap;
    int code = 0;
    try {
      check_groundwater_layer(*cap.diag, r.k, L, 4, 7, "ini_gw_level", 1.0);
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, r.code);
    if (r.code != 0) {
      EXPECT_NE(cap.console().find("initial groundwater table of cell (4, 7) from ini_gw_level"),
                std::string::npos)
          << cap.console();
    }
  }
}

TEST(InitialState, EquilibriumProfileHeadsAndTable) {
  struct row {
    const char* name;
    int k;
    double level;     // "groundwater_level"
    double distance;  // [m] "groundwater_distance"
  } rows[] = {
      // Table at the top of layer k + 1: minus the summed thickness of 1..k.
      {"ini_gw_level 2", 5, 6, -0.9},
      {"ini_gw_level 100", 1, 2, -0.1},
      // Layer 10 is not examined: no layer qualifies, the level stays 0 and
      // the distance is the bottom of the column.
      {"k = 9", 9, 0, -1.9},
      {"k = 0", 0, 1, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    column_fixture c;
    equilibrium_theta(c.soil, c.column, c.g.data(), r.k, c.theta.data());
    hydraulic_heads(c.soil, L, c.g.data(), c.theta.data(), c.h.data());
    EXPECT_DOUBLE_EQ(c.theta[0], 0.43);
    EXPECT_DOUBLE_EQ(c.h[0], SURFACE);
    for (int l = 1; l <= L; ++l) {
      SCOPED_TRACE(l);
      const auto i = static_cast<size_t>(l);
      if (l <= r.k) {
        EXPECT_LT(c.theta[i], 0.43);
        // The look-ups invert each other: every unsaturated layer stands at
        // the head of the middle of layer k + 1.
        EXPECT_NEAR(c.h[i], c.middle(r.k + 1), 1e-9);
      } else {
        EXPECT_DOUBLE_EQ(c.theta[i], 0.43);
        EXPECT_NEAR(c.h[i], c.middle(l), 1e-12);
      }
    }
    const groundwater_table t =
        search_groundwater_table(c.column, c.g.data(), c.theta.data(), false, 0);
    EXPECT_EQ(t.level, r.level);
    EXPECT_NEAR(t.distance, r.distance, 1e-9);
    const int above = r.level > 0 ? static_cast<int>(r.level) - 1 : 1;
    EXPECT_DOUBLE_EQ(t.theta_at_level, c.theta[static_cast<size_t>(above)]);
  }
}

TEST(InitialState, ReadDistanceOfAFullColumnStaysAndEveryLayerIsSaturated) {
  column_fixture c;
  const int k = groundwater_layer_from_distance(c.column, c.g.data(), -0.05);
  ASSERT_EQ(k, 0);
  equilibrium_theta(c.soil, c.column, c.g.data(), k, c.theta.data());
  for (int l = 1; l <= L; ++l) EXPECT_DOUBLE_EQ(c.theta[static_cast<size_t>(l)], 0.43);
  const groundwater_table t =
      search_groundwater_table(c.column, c.g.data(), c.theta.data(), true, -0.05);
  EXPECT_EQ(t.level, 1);
  EXPECT_DOUBLE_EQ(t.distance, -0.05);
  EXPECT_DOUBLE_EQ(t.theta_at_level, 0.43);
}

TEST(InitialState, TableSearchSkipsUnsaturatedLayersOnlyOfTheLowestSoil) {
  // Four layers of 0.25 m; theta_sat of layer 3 equal to that of layer 4
  // lets the search pass its unsaturated layer 3 and find layer 2.
  const std::vector<double> d = {0, 0.25, 0.25, 0.25, 0.25};
  const std::vector<double> g = {10, 9.75, 9.5, 9.25, 9.0};
  struct row {
    const char* name;
    std::vector<double> theta_sat, theta;
    double level, distance;
  } rows[] = {
      {"same soil below", {0, 0.4, 0.4, 0.3, 0.3}, {0.4, 0.2, 0.4, 0.1, 0.3}, 2, -0.25},
      {"other soil below", {0, 0.4, 0.4, 0.35, 0.3}, {0.4, 0.2, 0.4, 0.1, 0.3}, 0, -1.0},
      {"run of saturated layers", {0, 0.4, 0.4, 0.4, 0.4}, {0.4, 0.1, 0.4, 0.4, 0.4}, 2, -0.25},
      {"a second run above is not reached",
       {0, 0.4, 0.4, 0.4, 0.4},
       {0.4, 0.4, 0.1, 0.4, 0.4},
       3,
       -0.5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const soil_column_view column{4, d.data(), r.theta_sat.data()};
    const groundwater_table t =
        search_groundwater_table(column, g.data(), r.theta.data(), false, 0);
    EXPECT_EQ(t.level, r.level);
    EXPECT_NEAR(t.distance, r.distance, 1e-12);
  }
}

TEST(InitialState, LowerBoundaryTemperatureDrainLayerAndSlope) {
  // Defaults 12 degC at 0 m and -0.007 degC per m: 1000 m -> 5 degC.
  EXPECT_NEAR(lower_boundary_temperature(1000, -0.007, 12), 5, 1e-12);
  EXPECT_NEAR(lower_boundary_temperature(0, -0.007, 12), 12, 1e-12);
  column_fixture c;
  struct row {
    double depth;  // [m] "drainage_depth"
    int layer;
  } rows[] = {{0.005, 0}, {0.01, 0}, {0.05, 1},  {0.11, 1},
              {0.31, 2},  {0.35, 3}, {1.91, 10}, {2.5, L + 1}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.depth);
    EXPECT_EQ(drainage_layer(c.column, c.g.data(), r.depth), r.layer);
  }
  EXPECT_NEAR(45 * DEGREES_TO_RADIANS, 0.785398163, 1e-9);
}

}  // namespace

namespace {

TEST(SoilHeatValues, NegativeValuesTakeTheDefaultsAndTablesAreBuilt) {
  soil_entry soil = loam();
  soil.DryDensity[2] = 1800;  // given: kept
  unsatzon_parameters p;
  complete_soil_heat_values(soil, p);
  EXPECT_DOUBLE_EQ(soil.DryDensity[1], 1500);
  EXPECT_DOUBLE_EQ(soil.DryDensity[2], 1800);
  EXPECT_DOUBLE_EQ(soil.DryHeatCapacity[L], 800);
  EXPECT_DOUBLE_EQ(soil.DryThermalConduct[3], 0.58);
  EXPECT_DOUBLE_EQ(soil.KMinFrozenSoil, 1e-10);
  EXPECT_NEAR(soil.ln_KMinFrozenSoil, std::log(1e-10), 1e-12);
  // Built tables: all water unfrozen at 0 degC, less at the coldest step.
  for (int l = 1; l <= L; ++l) {
    const auto& table = soil.unfrozen_fraction_table[static_cast<size_t>(l)];
    EXPECT_GT(table.front(), table.back()) << "layer " << l;
  }
}

}  // namespace
