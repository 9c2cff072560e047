// Reading "[soil_table]": old one-line entries, "MultipleHorizons" blocks,
// their defaults, the recession of ksat with depth, and the failure entries
// of malformed tables.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tables/soiltable.h"
#include "tests/tables/table_test_support.h"

namespace {

// code name FCap mSB ksat_topmodel suction method theta_sat theta_res alpha
// Par_n layers d maxratio k_reduction
const std::string OLD_LINE = "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 5 1.0 1000 0.5\n";

const std::string HORIZON_KEYS =
    "  ksat = 1e-5 1e-6;\n"
    "  theta_sat = 0.43 0.40;\n"
    "  theta_res = 0.078 0.07;\n"
    "  alpha = 3.6 2.0;\n"
    "  Par_n = 1.56 1.41;\n"
    "  thickness = 0.1 0.2;\n";

std::string block(int code, const std::string& keys) {
  return std::to_string(code) + " layered method MultipleHorizons {\n" + keys + "}\n";
}

std::string section(int count, const std::string& entries) {
  return "[soil_table]\n" + std::to_string(count) + "\n" + entries;
}

soil_table_t read_table(const std::string& control, int mode = 2) {
  control_file_reader f(control);
  soil_table_t table;
  read_soil_table(f.reader(), mode, table);
  return table;
}

TEST(SoilTable, EmptyTableHasTheHeaderOnly) {
  const soil_table_t t = read_table(section(0, ""));
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].code, 0);
}

TEST(SoilTable, OldLineInModeTwo) {
  const soil_table_t t = read_table(section(1, OLD_LINE));
  const soil_entry& e = t[1];
  EXPECT_EQ(e.code, 1);
  EXPECT_EQ(e.name, "loam");
  EXPECT_EQ(e.method, 1);
  EXPECT_NEAR(e.msb_minus_fcap, 0.1, 1e-15);  // (35 - 25) * 0.01
  EXPECT_EQ(e.layer_count, 5);
  EXPECT_EQ(e.table_steps, 30);
  EXPECT_EQ(e.suction_steps, 30);
  EXPECT_EQ(e.theta_sat, std::vector<double>(6, 0.43));
  EXPECT_NEAR(e.Par_m[3], 1 - 1 / 1.56, 1e-15);
  EXPECT_EQ(e.Par_tau, std::vector<double>(6, 0.5));
  // Top layer 0.05 m, then d - 0.05, then d; index 0 keeps d.
  EXPECT_EQ(e.thickness, (std::vector<double>{1.0, 0.05, 0.95, 1.0, 1.0, 1.0}));
  // ksat_topmodel * 0.5^z with z = 0.025, 0.05 + (0.95 - 0.05)/2 = 0.5,
  // (3 - 1.5) * 1.0 = 1.5; z = 2.5 and 3.5 lie below 2 m and repeat layer 3.
  const std::vector<double> z = {0.025, 0.5, 1.5, 1.5, 1.5};
  for (int i = 1; i <= 5; ++i)
    EXPECT_NEAR(e.ksat[i], 1e-5 * std::pow(0.5, z[i - 1]), 1e-20) << "layer " << i;
  ASSERT_EQ(e.unfrozen_fraction_table.size(), 6u);
  EXPECT_EQ(e.unfrozen_fraction_table[1].size(), 1001u);
  ASSERT_EQ(e.theta_table.size(), 6u);
  EXPECT_EQ(e.theta_table[0][0], 0.43);
}

TEST(SoilTable, OldLineOutsideModeTwoStopsAfterTheTopmodelValues) {
  const soil_table_t t = read_table(section(1, "4 sand 20 40 2e-5 250\n"), 1);
  const soil_entry& e = t[1];
  EXPECT_EQ(e.code, 4);
  EXPECT_EQ(e.FCap, 20);
  EXPECT_EQ(e.mSB, 40);
  EXPECT_EQ(e.ksat_topmodel, 2e-5);
  EXPECT_EQ(e.suction, 250);
  EXPECT_NEAR(e.msb_minus_fcap, 0.2, 1e-15);
  EXPECT_EQ(e.layer_count, 0);
  EXPECT_TRUE(e.theta_table.empty());
}

TEST(SoilTable, OldLineOfTheSmallestLayerThickness) {
  const soil_table_t t =
      read_table(section(1, "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 3 0.1 1000 1\n"));
  EXPECT_EQ(t[1].thickness, (std::vector<double>{0.1, 0.05, 0.1 - 0.05, 0.1}));
}

TEST(SoilTable, BlockWithHorizonsAndDefaults) {
  const soil_table_t t = read_table(
      section(1, block(2, "  layers = 2 3;\n" + HORIZON_KEYS + "  ksat_topmodel = 2e-5;\n")));
  const soil_entry& e = t[1];
  EXPECT_EQ(e.code, 2);
  EXPECT_EQ(e.name, "layered");
  EXPECT_EQ(e.horizon_count, 2);
  EXPECT_EQ(e.horizon_layers, (std::vector<int>{5, 2, 3}));
  EXPECT_EQ(e.layer_count, 5);
  // One value per horizon, index 0 repeating layer 1; no recession (k = 1).
  EXPECT_EQ(e.ksat, (std::vector<double>{1e-5, 1e-5, 1e-5, 1e-6, 1e-6, 1e-6}));
  // "ksat" is not found inside "ksat_topmodel".
  EXPECT_EQ(e.ksat_topmodel, 2e-5);
  EXPECT_EQ(e.thickness, (std::vector<double>{0.1, 0.1, 0.1, 0.2, 0.2, 0.2}));
  EXPECT_NEAR(e.total_depth, 0.8, 1e-15);
  EXPECT_EQ(e.EvapMaxDepth, 0.1);
  EXPECT_NEAR(e.Par_m[4], 1 - 1 / 1.41, 1e-15);
  EXPECT_EQ(e.Par_tau, std::vector<double>(6, 0.5));
  EXPECT_EQ(e.PMacroThresh, 1000 / 3600000.0);  // mm/h to m/s
  EXPECT_EQ(e.MacroCapacity, 0);
  EXPECT_EQ(e.CapacityRedu, 1.0);
  EXPECT_EQ(e.MacroDepth, 1.0);
  EXPECT_EQ(e.maxratio, 1000);
  EXPECT_EQ(e.FCap, 25);
  EXPECT_EQ(e.mSB, 35);
  EXPECT_EQ(e.suction, 300);
  EXPECT_EQ(e.MaxInterflowDepth, 2.0);
  EXPECT_EQ(e.sand, 0.3333);
  EXPECT_EQ(e.clay, 0.3334);
  EXPECT_EQ(e.SU_PAR, (std::array<double, 11>{}));
  EXPECT_EQ(e.DryDensity, std::vector<double>(6, -1.0));
  EXPECT_EQ(e.KMinFrozenSoil, -1);
  EXPECT_EQ(e.ln_KMinFrozenSoil, -20);
}

TEST(SoilTable, OptionalBlockValues) {
  control_file_reader f(section(
      1, block(2, "  layers = 2;\n" + HORIZON_KEYS +
                      "  ThicknessScaling = 2; EvapMaxDepth = 0.3; KMinFrozenSoil = 0;\n"
                      "  GrainSizeDist = 0.5 0.2 0.29995 0 0 0 0; SU_PAR03 = 7; SU_PAR10 = 9;\n"
                      "  Par_m = 0.4; PMacroThresh = 36; MacroCapacity = 3.6;\n"
                      "  DryDensity = 1500; DryHeatCapacity = 800;\n")));
  soil_table_t t;
  read_soil_table(f.reader(), 2, t);
  const soil_entry& e = t[1];
  EXPECT_EQ(e.thickness, (std::vector<double>{0.2, 0.2, 0.2}));
  EXPECT_NEAR(e.total_depth, 0.4, 1e-15);
  EXPECT_EQ(e.EvapMaxDepth, 0.3);
  EXPECT_EQ(e.KMinFrozenSoil, 0);
  EXPECT_EQ(e.ln_KMinFrozenSoil, -27.631);
  EXPECT_EQ(e.clay, 0.29995);  // sum 0.99995, within 1e-4 of 1
  EXPECT_EQ(e.SU_PAR[3], 7);
  EXPECT_EQ(e.SU_PAR[10], 9);
  EXPECT_EQ(e.Par_m, std::vector<double>(3, 0.4));
  EXPECT_NEAR(e.PMacroThresh, 1e-5, 1e-20);   // 36 mm/h
  EXPECT_NEAR(e.MacroCapacity, 1e-6, 1e-20);  // 3.6 mm/h
  EXPECT_EQ(e.DryDensity, std::vector<double>(3, 1500.0));
  EXPECT_EQ(e.DryThermalConduct, std::vector<double>(3, -1.0));
  EXPECT_EQ(f.records(),
            (std::vector<diag_record>{
                {INFO_LEVEL, "Soil layers for landuse 2 will be scaled by a factor of 2"}}));

  const soil_table_t unscaled =
      read_table(section(1, block(2, "  layers = 1;\n" + HORIZON_KEYS +
                                         "  ThicknessScaling = 1.0; KMinFrozenSoil = 1e-9;\n")));
  EXPECT_NEAR(unscaled[1].ln_KMinFrozenSoil, std::log(1e-9), 1e-12);
}

TEST(SoilTable, KsatRecedesWithinEachHorizon) {
  struct row {
    std::string keys;
    std::vector<double> factors;  // ksat of each layer over its horizon's value
  };
  const std::vector<row> rows = {
      // One horizon of 0.1 m layers: w = 0.05, 0.15, 0.25.
      {"layers = 3; ksat = 1e-5; theta_sat = 0.4; theta_res = 0.05; alpha = 2; Par_n = 1.5;"
       "thickness = 0.1; k_recession = 0.5;",
       {std::pow(0.5, 0.05), std::pow(0.5, 0.15), std::pow(0.5, 0.25)}},
      // The same down to 0.2 m: the third layer's middle lies at 0.25 m.
      {"layers = 3; ksat = 1e-5; theta_sat = 0.4; theta_res = 0.05; alpha = 2; Par_n = 1.5;"
       "thickness = 0.1; k_recession = 0.5; MaxInterflowDepth = 0.2;",
       {std::pow(0.5, 0.05), std::pow(0.5, 0.15), 1.0}},
      // Two horizons: w restarts at the top of the second (0.15, then 0.45).
      {"layers = 2 2; ksat = 1e-5 1e-5; theta_sat = 0.4; theta_res = 0.05; alpha = 2;"
       "Par_n = 1.5; thickness = 0.1 0.3; k_recession = 0.5 0.8;",
       {std::pow(0.5, 0.05), std::pow(0.5, 0.15), std::pow(0.8, 0.15), std::pow(0.8, 0.45)}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.keys);
    const soil_table_t t = read_table(section(1, block(3, r.keys + "\n")));
    for (size_t i = 0; i < r.factors.size(); ++i)
      EXPECT_NEAR(t[1].ksat[i + 1], 1e-5 * r.factors[i], 1e-18) << "layer " << i + 1;
  }
}

TEST(SoilTable, MixedTableWithEqualLayerCounts) {
  const std::string five = "  layers = 2 3;\n" + HORIZON_KEYS;
  const soil_table_t t = read_table(section(2, OLD_LINE + block(2, five)));
  EXPECT_EQ(t[1].layer_count, 5);
  EXPECT_EQ(t[2].layer_count, 5);
}

// ---- malformed tables ----

struct failure_case {
  const char* what;
  std::string control;
  int code;
  std::vector<diag_record> entries;
};

std::string body_of(const std::string& text) { return text.substr(text.find('{')); }

std::string block_general(int code, const std::string& text) {
  return "Soil table code " + std::to_string(code) + ": some values could not be read\n" +
         body_of(text);
}

std::string line_general(int code, const std::string& line) {
  return "soil table code " + std::to_string(code) + ": some values could not be read\n" + line;
}

std::vector<failure_case> failure_cases() {
  std::vector<failure_case> cases;
  {
    const std::string line = "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 5 0.09 1000 0.5\n";
    cases.push_back({"old line thinner than 0.1 m",
                     section(1, line),
                     30,
                     {{FATAL_LEVEL,
                       "\nerror soil type 1:\nthickness of single layers (here 0.09 m)\n"
                       "has to be at minimum twice as thick as the\nthickness of the top "
                       "layer (here 0.05 m)"},
                      {FATAL_LEVEL, line_general(1, line)}}});
  }
  {
    const std::string line = "1 loam 25 35 1e-5 300 2 0.43 0.078 3.6 1.56 5 0.2 1000 0.5\n";
    cases.push_back({"old line of method 2",
                     section(1, line),
                     30,
                     {{FATAL_LEVEL,
                       "error reading soil parameters for soil type 1: only old method 1 "
                       "(van-Genuchten Parameter) is supported in Velmo newer than 6.4.\n"
                       "Use the new soil type table format instead."},
                      {FATAL_LEVEL, line_general(1, line)}}});
  }
  {
    const std::string line = "1 loam 25 35 1e-5 300 1 0.43 0.078 3.6 1.56 1 0.2 1000 0.5\n";
    cases.push_back(
        {"old line of one layer",
         section(1, line),
         30,
         {{FATAL_LEVEL, "soil table code 1: the one-line soil type needs 2 layers or more, not 1"},
          {FATAL_LEVEL, line_general(1, line)}}});
  }
  {
    const std::string line = "1 loam 25 35 1e-5 300 1 0.43 x 3.6 1.56 5 0.2 1000 0.5\n";
    cases.push_back({"old line value not a number",
                     section(1, line),
                     30,
                     {{FATAL_LEVEL,
                       "soil table code 1: value \"theta_res\" of the one-line soil type "
                       "could not be read"},
                      {FATAL_LEVEL, line_general(1, line)}}});
  }
  {
    std::string keys = HORIZON_KEYS;
    keys.erase(keys.find("  theta_sat"), std::string("  theta_sat = 0.43 0.40;\n").size());
    const std::string b = block(2, "  layers = 2 3;\n" + keys);
    cases.push_back(
        {"block without theta_sat", section(1, b), 29, {{FATAL_LEVEL, block_general(2, b)}}});
  }
  {
    std::string keys = HORIZON_KEYS;
    keys.replace(keys.find("1e-5 1e-6"), 9, "1e-5,1e-6");
    const std::string b = block(2, "  layers = 2 3;\n" + keys);
    cases.push_back({"per-horizon list with a comma",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "soil table code 2: key \"ksat\" must list one number per horizon, "
                       "separated by blanks"},
                      {FATAL_LEVEL, block_general(2, b)}}});
  }
  {
    const std::string b = block(2, "  layers = 2,3;\n" + HORIZON_KEYS);
    cases.push_back({"layers separated by a comma",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "soil table code 2: key \"layers\" must list the number of layers "
                       "(1 or more) of each horizon, separated by blanks"},
                      {FATAL_LEVEL, block_general(2, b)}}});
  }
  {
    const std::string b =
        block(2, "  layers = 2;\n" + HORIZON_KEYS + "  GrainSizeDist = 0.5 0.2 0.2 0 0 0 0;\n");
    cases.push_back({"grain sizes summing to 0.9",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "Grainsize distribution: sum of all fractions (sand, silt, clay, "
                       "stones1..4) must be 1.0\n soil type: 2\n" +
                           body_of(b)},
                      {FATAL_LEVEL, block_general(2, b)}}});
  }
  {
    const std::string b =
        block(2, "  layers = 2;\n" + HORIZON_KEYS + "  GrainSizeDist = 0 0.5 0.5 0 0 0 0;\n");
    cases.push_back(
        {"no sand",
         section(1, b),
         29,
         {{FATAL_LEVEL,
           "Grainsize distribution: fraction of sand must be > 0 \nsoil type: 2\n" + body_of(b)},
          {FATAL_LEVEL, block_general(2, b)}}});
  }
  {
    const std::string b =
        block(2, "  layers = 2;\n" + HORIZON_KEYS + "  GrainSizeDist = 0.6 -0.1 0.5 0 0 0 0;\n");
    cases.push_back({"negative silt",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "Grainsize distribution: all grain size fractions must be >= 0 (sand "
                       "must be >0)\nsoil type: 2\n" +
                           body_of(b)},
                      {FATAL_LEVEL, block_general(2, b)}}});
  }
  {
    const std::string b = "3 other method Unknown {\n" + HORIZON_KEYS + "}\n";
    cases.push_back({"block without MultipleHorizons",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL, "soil table definition method unknown " + b}}});
  }
  cases.push_back({"unequal layer counts",
                   section(2, OLD_LINE + block(2, "  layers = 4;\n" + HORIZON_KEYS)),
                   30,
                   {{FATAL_LEVEL,
                     "the numbers of soil layers has to be equal for all soil types\n"
                     "(here: soil type 2: 4 layers, but soil type 1: 5 layers)\n\n"}}});
  cases.push_back(
      {"count not a number",
       "[soil_table]\nmany\n",
       30,
       {{FATAL_LEVEL, "soil table: the number of soil types \"many\" is not a whole number"}}});
  cases.push_back({"count negative",
                   "[soil_table]\n-1\n",
                   30,
                   {{FATAL_LEVEL, "soil table: the number of soil types -1 is negative"}}});
  cases.push_back({"file ends before the entry",
                   section(1, ""),
                   30,
                   {{FATAL_LEVEL, "soil table: the control file ends after 0 of 1 soil types"}}});
  {
    const std::string partial = "2 layered method MultipleHorizons {\n  layers = 2;\n";
    cases.push_back(
        {"file ends inside a block",
         section(1, partial),
         30,
         {{FATAL_LEVEL,
           "soil table code 2: the control file ends inside the block (no \"}\")\n" + partial}}});
  }
  return cases;
}

TEST(SoilTable, MalformedTablesEndWithTheirEntriesAndCode) {
  for (const failure_case& c : failure_cases()) {
    SCOPED_TRACE(c.what);
    control_file_reader f(c.control);
    soil_table_t t;
    EXPECT_EQ(thrown_code([&] { read_soil_table(f.reader(), 2, t); }), c.code);
    EXPECT_EQ(f.records(), c.entries);
  }
}

}  // namespace
