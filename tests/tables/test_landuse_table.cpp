// Reading "[landuse_table]": the one-line and the block forms, their
// defaults, the table header and the failure entries of malformed tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/landuse.h"
#include "tests/tables/table_test_support.h"

namespace {

const std::string ONE_LINE =
    "1 grass 0.2 100 110 120 130 140 150 160 170 180 190 200 210 1 120 240 366 "
    "1 2 3 4 0.01 0.02 0.03 0.04 0.5 0.6 0.7 0.8 0.1 0.2 0.3 0.4 1.5 3.45\n";

// The keys every block needs, with four sample days.
const std::string REQUIRED_KEYS =
    "  RootDist = 1.0; TReduWet = 0.9; HReduDry = 3.45;\n"
    "  Albedo = 0.15 0.2 0.25 0.3;\n"
    "  rsc = 80 60 70 90;\n"
    "  LAI = 1 2 3 4;\n"
    "  Z0 = 0.02 0.05 0.1 0.2;\n"
    "  VCF = 0.5 0.6 0.7 0.8;\n"
    "  RootDepth = 0.2 0.4 0.5 0.6;\n"
    "  AltDep = 0 0 0 0;\n";

std::string block(int code, const std::string& keyword, const std::string& keys) {
  return std::to_string(code) + " forest method " + keyword + " {\n" + keys + "}\n";
}

std::string section(int count, const std::string& classes) {
  return "[landuse_table]\n" + std::to_string(count) + "\n" + classes;
}

landuse_table_t read_table(const std::string& control) {
  control_file_reader f(control);
  landuse_table_t table;
  read_landuse_table(f.reader(), 2, table);
  return table;
}

TEST(LanduseTable, OneLineClassFillsItsSeriesAndTheBlockDefaults) {
  const landuse_table_t t = read_table(section(1, ONE_LINE));
  ASSERT_EQ(t.size(), 2u);
  const landuse_entry& e = t[1];
  EXPECT_EQ(e.code, 1);
  EXPECT_EQ(e.name, "grass");
  EXPECT_EQ(e.method, 1);
  EXPECT_EQ(e.n_sample_days, 4);
  EXPECT_EQ(e.Albedo, (landuse_series{0.2, 0.2, 0.2, 0.2, 0.2}));
  // Monthly series: element 0 repeats December, 13 repeats January.
  EXPECT_EQ(e.rsc,
            (landuse_series{210, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200, 210, 100}));
  EXPECT_EQ(e.rs_interception, e.rsc);
  EXPECT_EQ(e.rs_evaporation, landuse_series(14, 200.0));
  // [0] = 366 - 366.
  EXPECT_EQ(e.sample_days, (std::vector<int>{0, 1, 120, 240, 366}));
  EXPECT_EQ(e.sample_days_alt, e.sample_days);
  EXPECT_EQ(e.LAI, (landuse_series{4, 1, 2, 3, 4}));
  EXPECT_EQ(e.Z0, (landuse_series{0.04, 0.01, 0.02, 0.03, 0.04}));
  EXPECT_EQ(e.VCF, (landuse_series{0.8, 0.5, 0.6, 0.7, 0.8}));
  EXPECT_EQ(e.RootDepth, (landuse_series{0.4, 0.1, 0.2, 0.3, 0.4}));
  EXPECT_EQ(e.AltDep, (landuse_series{-0.025, 0.025, 0.025, -0.025, -0.025}));
  EXPECT_EQ(e.RootDist, 1.5);
  EXPECT_EQ(e.HReduDry, 3.45);
  EXPECT_EQ(e.TReduWet, 0.95);
  EXPECT_EQ(e.LimitReduWet, 0);
  EXPECT_EQ(e.StopVegetationPeriodForBalance, 1000);
  EXPECT_EQ(e.JDVegetationResetForBalance, 1);
  EXPECT_EQ(e.JDVegetationWriteForBalance, 0);
  EXPECT_EQ(e.internal_flags, 255);
  EXPECT_EQ(e.IntercepCap, -1);
  // What the one-line form does not carry comes from the block defaults.
  EXPECT_EQ(e.SR_cultivation, 3);
  EXPECT_EQ(e.SR_StemDiameter, landuse_series(5, 0.01));
  EXPECT_EQ(e.SR_ResidCovrg, landuse_series(5, 0.01));
  EXPECT_EQ(e.n_factor, landuse_series(5, -9999.9));
  EXPECT_EQ(e.nf_freezing, -9999.9);
  EXPECT_EQ(e.nf_thawing, -9999.9);
  EXPECT_EQ(e.SR_K_ST, 10.0);
  int tillage_count = -1;
  const int* tillage = nullptr;
  e.get_soil_tillage(tillage_count, tillage);
  ASSERT_NE(tillage, nullptr);
  EXPECT_EQ(tillage_count, 0);
  EXPECT_EQ(tillage[0], -9999);
  double c1 = 0, c2 = 0, c3 = 0;
  e.get_sr_rough_coeff1(c1, c2, c3);
  EXPECT_EQ(c1, 0.0198);
  EXPECT_EQ(c2, 0.712);
  EXPECT_EQ(c3, 0.142);
  // Header: code n; no class writes on a day >= 1, so 365.
  EXPECT_EQ(t[0].code, 1);
  EXPECT_EQ(t[0].JDVegetationResetForBalance, 1);
  EXPECT_EQ(t[0].JDVegetationWriteForBalance, 365);
}

TEST(LanduseTable, OneLineClassOutsideModeTwoReadsNoRootParameters) {
  control_file_reader f(section(1, ONE_LINE));
  landuse_table_t t;
  read_landuse_table(f.reader(), 1, t);
  EXPECT_EQ(t[1].RootDist, 0);
  EXPECT_EQ(t[1].HReduDry, 0);
}

TEST(LanduseTable, BlockDefaults) {
  const landuse_table_t t = read_table(
      section(1, block(7, "VariableDayCount", REQUIRED_KEYS + "  JulDays = 1 100 200 366;\n")));
  const landuse_entry& e = t[1];
  EXPECT_EQ(e.code, 7);
  EXPECT_EQ(e.name, "forest");
  EXPECT_EQ(e.method, 2);
  EXPECT_EQ(e.n_sample_days, 4);
  EXPECT_EQ(e.sample_days, (std::vector<int>{0, 1, 100, 200, 366}));
  EXPECT_EQ(e.tstart, -1);
  EXPECT_EQ(e.phenology_done, 0);
  EXPECT_EQ(e.useInternalParameters, "11111111");
  EXPECT_EQ(e.internal_flags, 255);
  EXPECT_EQ(e.LimitReduWet, 0);
  EXPECT_EQ(e.StartVegetationPeriodForBalance, 0);
  EXPECT_EQ(e.StopVegetationPeriodForBalance, 0);
  EXPECT_EQ(e.JDVegetationResetForBalance, -1);
  EXPECT_EQ(e.JDVegetationWriteForBalance, -1);
  EXPECT_EQ(e.IntercepCap, -1);
  EXPECT_EQ(e.StressFactorDynPhen, 0);
  EXPECT_EQ(e.rs_interception, landuse_series(5, 20.0));
  EXPECT_EQ(e.rs_evaporation, landuse_series(5, 200.0));
  EXPECT_EQ(e.rsc, (landuse_series{90, 80, 60, 70, 90}));
  EXPECT_EQ(e.SR_cultivation, 3);
  EXPECT_EQ(e.SR_CropDistX, 0.3);
  EXPECT_EQ(e.SR_CropDistY, 0.3);
  EXPECT_EQ(e.SR_C_WR, 1.5);
  EXPECT_EQ(e.SR_rough_coeff2, (std::array<double, 4>{0, 0.0198, 0.712, 0.142}));
  EXPECT_EQ(e.n_factor, landuse_series(5, -9999.9));
  EXPECT_EQ(e.n_soil_tillage, 0);
  EXPECT_EQ(e.soil_tillage_days, std::vector<int>{-9999});
  // No class with a reset or write day >= 1.
  EXPECT_EQ(t[0].JDVegetationResetForBalance, 1);
  EXPECT_EQ(t[0].JDVegetationWriteForBalance, 365);
}

TEST(LanduseTable, OptionalKeysOfABlock) {
  struct row {
    std::string keys;
    int flags;
    std::string flag_text;
    int cultivation;
  };
  // Character k of useInternalParameters sets bit 128 >> (k - 1).
  const std::vector<row> rows = {
      {"useInternalParameters = 01111111; SR_cultivation = nonconserving;", 127, "01111111", 2},
      {"useInternalParameters = 0111; SR_cultivation = conserving;", 112, "0111", 1},
      {"useInternalParameters = 10000001; SR_cultivation = other;", 129, "10000001", 3},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.keys);
    const landuse_table_t t = read_table(
        section(1, block(3, "VariableDayCount",
                         REQUIRED_KEYS + "  JulDays = 1 100 200 366;\n  " + r.keys + "\n")));
    EXPECT_EQ(t[1].internal_flags, r.flags);
    EXPECT_EQ(t[1].useInternalParameters, r.flag_text);
    EXPECT_EQ(t[1].SR_cultivation, r.cultivation);
  }
}

TEST(LanduseTable, SoilTillageSeriesAndCoefficients) {
  const landuse_table_t t = read_table(section(
      1, block(3, "VariableDayCount",
               REQUIRED_KEYS + "  JulDays = 1 100 200 366;\n"
                               "  SoilTillage = 100 250;\n"
                               "  rs_evaporation = 150 160 170 180;\n"
                               "  n-factor = 0.5 1 1.5 2;\n"
                               "  SR_rough_coeff1 = 0.1 0.2 0.3;\n"
                               "  IntercepCap = 2.5; StartVegetationPeriodForBalance = 2;\n")));
  const landuse_entry& e = t[1];
  // [0] = 250 - 366.
  EXPECT_EQ(e.soil_tillage_days, (std::vector<int>{-116, 100, 250}));
  EXPECT_EQ(e.n_soil_tillage, 2);
  EXPECT_EQ(e.rs_evaporation, (landuse_series{180, 150, 160, 170, 180}));
  EXPECT_EQ(e.n_factor, (landuse_series{2, 0.5, 1, 1.5, 2}));
  EXPECT_EQ(e.SR_rough_coeff1, (std::array<double, 4>{0.3, 0.1, 0.2, 0.3}));
  EXPECT_EQ(e.get_intercep_cap(), 2.5);
  EXPECT_EQ(e.StartVegetationPeriodForBalance, 2);
}

TEST(LanduseTable, FormIsDecidedByTheFirstLine) {
  // Both keywords stand on the line: the first of the keyword list wins. The
  // block closed on its first line takes no further line, so the one-line
  // class after it is read as the second class.
  std::string flat =
      "4 mixed method VariableDayCount DynamicPhenology_2 { JulDays = 1 100 200 366;";
  for (char c : REQUIRED_KEYS) flat.push_back(c == '\n' ? ' ' : c);
  flat += " }\n";
  const landuse_table_t t = read_table(section(2, flat + ONE_LINE));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].method, 2);
  EXPECT_EQ(t[1].code, 4);
  EXPECT_EQ(t[2].method, 1);
  EXPECT_EQ(t[2].code, 1);
}

TEST(LanduseTable, HeaderTakesTheFirstBalanceDaysOfOneOrMore) {
  const std::string keys = REQUIRED_KEYS + "  JulDays = 1 100 200 366;\n";
  const landuse_table_t t = read_table(section(
      3,
      block(1, "VariableDayCount", keys + "  JDVegetationWriteForBalance = 0;\n") +
          block(2, "VariableDayCount",
                keys + "  JDVegetationWriteForBalance = 250; JDVegetationResetForBalance = 20;\n") +
          block(
              3, "VariableDayCount",
              keys + "  JDVegetationWriteForBalance = 300; JDVegetationResetForBalance = 30;\n")));
  EXPECT_EQ(t[0].code, 3);
  EXPECT_EQ(t[0].JDVegetationWriteForBalance, 250);
  EXPECT_EQ(t[0].JDVegetationResetForBalance, 20);
}

TEST(LanduseTable, EmptyTableHasTheHeaderOnly) {
  const landuse_table_t t = read_table(section(0, ""));
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].code, 0);
  EXPECT_EQ(t[0].JDVegetationResetForBalance, 1);
  EXPECT_EQ(t[0].JDVegetationWriteForBalance, 365);
}

TEST(LanduseTable, PhenologyMethodsReadTheirParameters) {
  const std::string dp1 =
      "  F* = 150; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 300;\n"
      "  maxStartJDforDP1 = 160;\n";
  control_file_reader f(
      section(2, block(8, "DynamicPhenology_2",
                       REQUIRED_KEYS + "  JulDays = 1 -1 30 366;\n" + dp1 +
                           "  DP2_t0_dorm = 280; DP2_t1_dorm = 20; DP2_T_Bf = 4; DP2_T_Bc = 6;\n"
                           "  DP2_Par_a = 500; DP2_Par_b = -0.01;\n") +
                     block(9, "DynamicPhenology_3",
                           REQUIRED_KEYS + "  JulDays = 1 100 200 366;\n" + dp1 +
                               "  ForcingThreshold = -1 50 100 -1;\n")));
  landuse_table_t t;
  read_landuse_table(f.reader(), 2, t);
  EXPECT_EQ(t[1].method, 4);
  EXPECT_EQ(t[1].dyn_start_index, 2);
  EXPECT_EQ(t[1].F_star, 150);
  EXPECT_EQ(t[1].DP2_Par_b, -0.01);
  EXPECT_EQ(t[1].DP2_Offset_1, -3.4);
  EXPECT_EQ(t[1].DP2_Offset_2, 12);
  EXPECT_EQ(t[2].method, 5);
  EXPECT_EQ(t[2].ForcingThreshold, (landuse_series{-1, -1, 50, 100, -1}));
  // A missing offset is not an error: two INFO entries, and the set-up goes on.
  const std::vector<diag_record> expected = {
      {INFO_LEVEL, "parameter \"DP2_Offset_1\" not found for land use 8; Using default of -3.4"},
      {INFO_LEVEL, "parameter \"DP2_Offset_2\" not found for land use 8; Using default of 12"}};
  EXPECT_EQ(f.records(), expected);
}

// ---- malformed tables ----

struct failure_case {
  const char* what;
  std::string control;
  int code;
  std::vector<diag_record> entries;
};

std::string general(int code, const std::string& text) {
  return "landuse table code " + std::to_string(code) + ": some values could not be read\n" + text;
}

std::vector<failure_case> failure_cases() {
  const std::string days = "  JulDays = 1 100 200 366;\n";
  const std::string dp1 =
      "  F* = 150; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 300;\n"
      "  maxStartJDforDP1 = 160;\n";
  std::string without_root_depth = REQUIRED_KEYS;
  without_root_depth.erase(without_root_depth.find("  RootDepth"),
                           std::string("  RootDepth = 0.2 0.4 0.5 0.6;\n").size());
  std::string without_f_star = dp1;
  without_f_star.erase(0, std::string("  F* = 150;").size());

  std::vector<failure_case> cases;
  {
    const std::string b = block(5, "VariableDayCount", without_root_depth + days);
    cases.push_back({"missing RootDepth: the general entry only",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL, general(5, b)}}});
  }
  {
    const std::string b = block(6, "DynamicPhenology_1",
                                REQUIRED_KEYS + "  JulDays = 1 -1 30 366;\n" + without_f_star);
    cases.push_back({"missing F*",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL, "parameter \"F*\" not found for land use 6"},
                      {FATAL_LEVEL, general(6, b)}}});
  }
  {
    const std::string b =
        block(7, "VariableDayCount", REQUIRED_KEYS + days + "  SR_cultivation = sometimes;\n");
    cases.push_back(
        {"SR_cultivation word unknown",
         section(1, b),
         29,
         {{FATAL_LEVEL, "no valid value for parameter \"SR_cultivation\" for land use 7"},
          {FATAL_LEVEL, general(7, b)}}});
  }
  {
    const std::string b =
        block(8, "DynamicPhenology_3", REQUIRED_KEYS + "  JulDays = 2 100 366;\n" + dp1);
    cases.push_back({"method 5 first day not 1",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "Error in Landuse Table (Code: 8): for Method DynamicPhenology_3 "
                       "the first sample day (JulDay) must be 1 and not 2"},
                      {FATAL_LEVEL, general(8, b)}}});
  }
  {
    const std::string b =
        block(8, "DynamicPhenology_3", REQUIRED_KEYS + "  JulDays = 1 100 365;\n" + dp1);
    cases.push_back({"method 5 last day not 366",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "Error in Landuse Table (Code: 8): for Method DynamicPhenology_3 "
                       "the last sample day (JulDay) must be 366 and not 365"},
                      {FATAL_LEVEL, general(8, b)}}});
  }
  {
    const std::string b = block(9, "DynamicPhenology_1", REQUIRED_KEYS + days + dp1);
    cases.push_back({"phenology block without the negative marker",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "landuse table code 9: key \"JulDays\" needs a negative sample day "
                       "among the first 3 to mark the phenological start (methods "
                       "DynamicPhenology_1, _2 and _4)"},
                      {FATAL_LEVEL, general(9, b)}}});
  }
  {
    std::string keys = REQUIRED_KEYS;
    keys.replace(keys.find("LAI = 1 2 3 4"), 13, "LAI = 1,2,3,4");
    const std::string b = block(10, "VariableDayCount", keys + days);
    cases.push_back({"list separated by commas",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "landuse table code 10: key \"LAI\" needs 4 numbers but only 0 "
                       "could be read"},
                      {FATAL_LEVEL, general(10, b)}}});
  }
  {
    std::string keys = REQUIRED_KEYS;
    keys.replace(keys.find("Z0 = 0.02 0.05 0.1 0.2"), 22, "Z0 = 0.02 0.05 0.1");
    const std::string b = block(11, "VariableDayCount", keys + days);
    cases.push_back({"list shorter than its count",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL,
                       "landuse table code 11: key \"Z0\" needs 4 numbers but only 3 "
                       "could be read"},
                      {FATAL_LEVEL, general(11, b)}}});
  }
  {
    const std::string b = block(12, "VariableDayCount", REQUIRED_KEYS + "  JulDays = ;\n");
    cases.push_back({"empty JulDays",
                     section(1, b),
                     29,
                     {{FATAL_LEVEL, "landuse table code 12: key \"JulDays\" lists no sample day"},
                      {FATAL_LEVEL, general(12, b)}}});
  }
  {
    const std::string name(200, 'n');
    const std::string b =
        "13 " + name + " method VariableDayCount {\n" + REQUIRED_KEYS + days + "}\n";
    cases.push_back(
        {"name longer than its buffer",
         section(1, b),
         29,
         {{FATAL_LEVEL, "landuse table code 13: the class name is longer than 199 characters"},
          {FATAL_LEVEL, general(13, b)}}});
  }
  {
    const std::string line = "14 grass abc 100\n";
    cases.push_back(
        {"one-line albedo unreadable", section(1, line), 29, {{FATAL_LEVEL, general(14, line)}}});
  }
  {
    std::string line = ONE_LINE;
    line.replace(line.find(" 1 2 3 4 "), 9, " 1 2 x 4 ");
    cases.push_back({"one-line LAI unreadable",
                     section(1, line),
                     29,
                     {{FATAL_LEVEL,
                       "landuse table code 1: value \"LAI\" of the one-line class could "
                       "not be read"},
                      {FATAL_LEVEL, general(1, line)}}});
  }
  {
    const std::string line = "15 grass DynamicPhenology_1 { RootDist = 1;\n";
    cases.push_back({"keyword without the word method is a one-line class",
                     section(1, line),
                     29,
                     {{FATAL_LEVEL, general(15, line)}}});
  }
  cases.push_back(
      {"count not a number",
       "[landuse_table]\nabc\n",
       29,
       {{FATAL_LEVEL, "landuse table: the number of classes \"abc\" is not a whole number"}}});
  cases.push_back({"count negative",
                   "[landuse_table]\n-2 classes\n",
                   29,
                   {{FATAL_LEVEL, "landuse table: the number of classes -2 is negative"}}});
  cases.push_back({"file ends before the second class",
                   section(2, ONE_LINE),
                   29,
                   {{FATAL_LEVEL, "landuse table: the control file ends after 1 of 2 classes"}}});
  {
    const std::string partial = "16 forest method VariableDayCount {\n  RootDist = 1;\n";
    cases.push_back({"file ends inside a block",
                     section(1, partial),
                     29,
                     {{FATAL_LEVEL,
                       "landuse table code 16: the control file ends inside the class "
                       "block (no \"}\")\n" +
                           partial}}});
  }
  cases.push_back({"section missing",
                   "[soil_table]\n0\n",
                   17,
                   {{FATAL_LEVEL, "error in control file, [landuse_table]; (EOF)not found!"}}});
  return cases;
}

TEST(LanduseTable, MalformedTablesEndWithTheirEntriesAndCode) {
  for (const failure_case& c : failure_cases()) {
    SCOPED_TRACE(c.what);
    control_file_reader f(c.control);
    landuse_table_t t;
    EXPECT_EQ(thrown_code([&] { read_landuse_table(f.reader(), 2, t); }), c.code);
    EXPECT_EQ(f.records(), c.entries);
  }
}

TEST(LanduseTable, UnknownMethodKeyword) {
  control_file_reader f("");
  landuse_entry e;
  EXPECT_EQ(thrown_code([&] { parse_landuse_block(f.diag(), e, "1 x {", "Phenology"); }), 29);
  EXPECT_EQ(f.records(),
            (std::vector<diag_record>{{FATAL_LEVEL, "landuse table method unknown 1 x {"}}));
}

}  // namespace
