// What the unsaturated zone prepares for its outputs: statistics titles and
// control-cell headers byte for byte, buffer capacities (2097152 bytes over
// the bytes of a row, worked by hand), the glacier statistics file name and
// the soil-water report at model start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "soilwater/unsatzon_statistics.h"
#include "support/test_support.h"

namespace {

TEST(UnsatzonStatistics, TitlesAndPrecisionsInTheirOrder) {
  struct row {
    unsatzon_statistic which;
    const char* title;
    int precision;
  } rows[] = {
      {unsatzon_statistic::gwstand, "groundwater level [m below surface] (GWSTAND)", 5},
      {unsatzon_statistic::gwn, "groundwater recharge per zone [mm] (GWN)", 5},
      {unsatzon_statistic::sb_1, "rel. soil moisture 0..root depth per zone ", 5},
      {unsatzon_statistic::sb_2, "abs. soil moisture 0..profile depth per zone ", 5},
      {unsatzon_statistic::root, "root depth [mm per zone] ", 5},
      {unsatzon_statistic::infex, "Infiltration excess [mm per zone]  ", 5},
      {unsatzon_statistic::qd, "direct discharge [mm per Zone] (QD)", 6},
      {unsatzon_statistic::qi, "Interflow [mm per zone]", 6},
      {unsatzon_statistic::qb, "base flow [mm per Zone]", 6},
      {unsatzon_statistic::qg, "total runoff [mm per zone] (sum of QB, QI und QD)", 6},
      {unsatzon_statistic::macro, "macropore_infiltration_per_zone_[mm] ", 6},
      {unsatzon_statistic::infilt, "total_infiltration_per_zone_[mm] ", 6},
      {unsatzon_statistic::substeps, "Number_of_Substeps_per_Time_Step[-] ", 6},
      {unsatzon_statistic::thaw_depth, "soil thaw depth [m] ", 5},
      {unsatzon_statistic::qdrain, "drainage discharge [mm per zone] (QDRAIN)", 5},
      {unsatzon_statistic::pond, "ponding water storage content [mm per zone]  ", 5},
      {unsatzon_statistic::immobilised,
       "immobilised or mobilised soil water by glacier resizing 0..profile depth per zone ", 5},
      {unsatzon_statistic::gwin, "re-infiltration from rivers [mm per Zone]", 7},
      {unsatzon_statistic::gwex,
       "base flow (exfiltration into rivers, only with gw-module active) [mm per Zone]", 7},
  };
  static_assert(sizeof rows / sizeof rows[0] == static_cast<size_t>(unsatzon_statistic::count));
  for (const row& r : rows) {
    SCOPED_TRACE(r.title);
    EXPECT_EQ(std::string(statistic_title_of(r.which).title), r.title);
    EXPECT_EQ(statistic_title_of(r.which).precision, r.precision);
  }
}

TEST(UnsatzonStatistics, ControlCellCapacities) {
  struct row {
    int values;
    int capacity;
  } rows[] = {
      {11, 17476},  // L = 10: 2097152 / 120
      {25, 9039},   // otherdata with V = 1: 2097152 / 232
      {otherdata_values(1), 9039},
      {otherdata_values(3), 2097152 / (37 * 8 + 32)},
      {1, 52428},
      {300000, 1},  // a capacity of 0 becomes 1
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.values);
    EXPECT_EQ(control_cell_capacity(r.values), r.capacity);
  }
}

TEST(UnsatzonStatistics, ControlCellHeadersByteForByte) {
  struct row {
    control_cell_file file;
    const char* header;
  } rows[] = {
      {control_cell_file::hhyd, "YY\tMM\tDD\tHH\thhyd[2][5][1]\t[2]\t[3]\t\n"},
      {control_cell_file::theta, "YY\tMM\tDD\tHH\ttheta[2][5][1]\t[2]\t[3]\t\n"},
      {control_cell_file::q_bottom, "YY\tMM\tDD\tHH\tq_bottom[2][5][1]\t[2]\t[3]\t\n"},
      // One column more: layer 0 is the evaporation from the first layer.
      {control_cell_file::etr,
       "YY\tMM\tDD\tHH\tetr[2][5](etr[0] is evaporation from first layer)[0]\t[1]\t[2]\t[3]\t\n"},
      {control_cell_file::interflow, "YY\tMM\tDD\tHH\tinterflow_per_layer[2][5][1]\t[2]\t[3]\t\n"},
      {control_cell_file::temperature, "YY\tMM\tDD\tHH\ttemper[2][5][1]\t[2]\t[3]\t\n"},
      {control_cell_file::otherdata,
       "YY\tMM\tDD\tHH\totherdata[2][5]QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL"
       "\tMACR\tQDRAIN\tACT_POND\tINFEX\tGWST\tGWLEVEL\tROOT\tAlbedo\tRSE\tLAI_1\tVCF_1\tRSC_1"
       "\tRSI_1\tROOT_1\tZ0_1\tLAI_2\tVCF_2\tRSC_2\tRSI_2\tROOT_2\tZ0_2\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.header);
    EXPECT_EQ(control_cell_header(r.file, 2, 5, 3, 2), r.header);
  }
  EXPECT_NE(std::string(control_cell_open_error(control_cell_file::q_bottom))
                .find("error opening file for hydraulic head (single point) \n-> check disk"),
            std::string::npos);
  EXPECT_NE(std::string(control_cell_open_error(control_cell_file::temperature))
                .find("soil temperatures (single point details)"),
            std::string::npos);
}

TEST(UnsatzonStatistics, GlacierStatisticsNameKeepsTheExtensionLast) {
  EXPECT_EQ(immobilised_statistics_name("sb2.stat"), "sb2_immo.stat");
  EXPECT_EQ(immobilised_statistics_name("out.d/sb2.stat"), "out.d/sb2_immo.stat");
  EXPECT_EQ(immobilised_statistics_name("a.b.c"), "a.b_immo.c");
  // No "." cannot be split: a non-integer error, status 103.
  EXPECT_ANY_THROW(immobilised_statistics_name("sb2"));
  bool integer = false;
  try {
    immobilised_statistics_name("sb2");
  } catch (int) {
    integer = true;
  } catch (...) {
  }
  EXPECT_FALSE(integer);
}

TEST(UnsatzonStartReport, SumsAndLines) {
  // Two cells without weights: water 0.3 and 0.5 m, saturated 0.4 and 0.6 m,
  // the second half glacierized: Wu = 0.3 + 0.25, Wg = 0.3, Nu = Ng = 2.
  soil_water_sums sums;
  add_cell_to_sums(sums, 0.3, 0.4, 0, false, 0);
  add_cell_to_sums(sums, 0.5, 0.6, 0.5, false, 0);
  EXPECT_DOUBLE_EQ(sums.wu, 0.55);
  EXPECT_DOUBLE_EQ(sums.wg, 0.3);
  EXPECT_DOUBLE_EQ(sums.nu, 2);
  EXPECT_DOUBLE_EQ(sums.ng, 2);
  EXPECT_EQ(start_report_lines(sums),
            "mean soil water content for all cells at model-start: 0.425000 m^3/m^2\n"
            "mean soil water content for unglacierized or only partly unglacierized cells at "
            "model-start: 0.275000 m^3/m^2\n"
            "mean soil water content for partly or completely glacierized cells at model-start: "
            "0.150000 m^3/m^2\n");
  // Weighted, and a fraction above 1 clamped: Nu += w (1 - g) + g, Ng += w g + (1 - g).
  soil_water_sums weighted;
  add_cell_to_sums(weighted, 0.3, 0.4, 1.7, true, 0.5);
  EXPECT_DOUBLE_EQ(weighted.wu, 0);
  EXPECT_DOUBLE_EQ(weighted.wg, 0.4);
  EXPECT_DOUBLE_EQ(weighted.nu, 1);
  EXPECT_DOUBLE_EQ(weighted.ng, 0.5);
}

TEST(UnsatzonStartReport, NoCellsPrintZeroNeverInfOrNaN) {
  const std::string lines = start_report_lines(soil_water_sums{});
  EXPECT_EQ(lines,
            "mean soil water content for all cells at model-start: 0.000000 m^3/m^2\n"
            "mean soil water content for unglacierized or only partly unglacierized cells at "
            "model-start: 0.000000 m^3/m^2\n"
            "mean soil water content for partly or completely glacierized cells at model-start: "
            "0.000000 m^3/m^2\n");
  EXPECT_EQ(mean_or_zero(1, 0), 0);
  EXPECT_EQ(control_cell_report_line(3, 4, 123.5),
            "soil water content (for control point r=3 c=4) at model-start: 123.500000 mm\n");
}

}  // namespace

namespace {

TEST(UnsatzonControlCellFiles, CreatedWithTheirHeadersOrCode62) {
  captured_diag cap;
  const std::vector<control_cell_target> files = {
      {control_cell_file::hhyd, cap.dir.file("hhyd.txt")},
      {control_cell_file::etr, cap.dir.file("etr.txt")}};
  create_control_cell_files(*cap.diag, files, 1, 2, 2, 1);
  EXPECT_EQ(read_file(cap.dir.file("hhyd.txt")), "YY\tMM\tDD\tHH\thhyd[1][2][1]\t[2]\t\n");
  EXPECT_EQ(read_file(cap.dir.file("etr.txt")),
            "YY\tMM\tDD\tHH\tetr[1][2](etr[0] is evaporation from first layer)[0]\t[1]\t[2]\t\n");

  struct row {
    control_cell_file file;
    const char* message;
  } rows[] = {
      {control_cell_file::theta,
       "error opening file for soil theta (single point) \n-> check "
       "disk space or user rights"},
      {control_cell_file::otherdata, "error opening file for other detail data (single point)"},
      {control_cell_file::interflow, "error opening file for interflow (single point)"},
  };
  for (const row& r : rows) {
    captured_diag fail;
    int code = 0;
    try {
      create_control_cell_files(*fail.diag, {{r.file, fail.dir.file("missing/x.txt")}}, 1, 1, 1, 1);
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, 62);
    EXPECT_NE(fail.console().find(r.message), std::string::npos) << fail.console();
    EXPECT_NE(fail.console().find("\n" + fail.dir.file("missing/x.txt") +
                                  ": No such file or directory"),
              std::string::npos)
        << fail.console();
  }
}

TEST(UnsatzonStartReport, LogIsAppended) {
  captured_diag cap;
  append_model_log(cap.dir.path(), 2, "first\n");
  append_model_log(cap.dir.path(), 2, "second\n");
  EXPECT_EQ(read_file(cap.dir.file("modell_2.log")), "first\nsecond\n");
  // A folder that does not exist: nothing written, no failure.
  append_model_log(cap.dir.file("missing"), 0, "x\n");
}

}  // namespace
