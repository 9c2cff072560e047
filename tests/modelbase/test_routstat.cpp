// Routing statistics: subbasin columns without a total, the observed
// companion in the registry, and the efficiency tables.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/routstat.h"
#include "support/test_support.h"

namespace {

struct rout_case {
  captured_diag cd;
  std::vector<zone_record> zones;
  std::vector<double> values;
  std::vector<int> listed{0};
  std::string file_name;
  std::unique_ptr<routstatistic> stat;
  int status = -1;

  rout_case(int code, int precision, std::vector<int> listed_codes = {}) {
    zones.resize(4);
    values = {0, 12.5, 7.25, 100};  // per zone, e.g. catchment areas
    const double codes[] = {0, 11, 12, 13};
    for (int z = 1; z <= 3; ++z) zones[static_cast<size_t>(z)].code = codes[z];
    listed.insert(listed.end(), listed_codes.begin(), listed_codes.end());
    listed[0] = static_cast<int>(listed_codes.size());
    file_name = cd.dir.file("rout.stat");
    stat = std::make_unique<routstatistic>(status, cd.diag.get(), nullptr, 0, nullptr, 0, 0,
                                           zones.data(), values.data(), 3, code, precision,
                                           file_name, nullptr, listed[0], &listed);
  }
  std::string file() const { return read_file(file_name); }
  void set_zone(int z, double count, double sum, double weight) {
    zones[static_cast<size_t>(z)].count = count;
    zones[static_cast<size_t>(z)].sum = sum;
    zones[static_cast<size_t>(z)].weight = weight;
  }
};

TEST(RoutStatistic, ColumnsWithoutTotalAndTheZoneValuesAsThirdLine) {
  rout_case c(2001, 3);
  ASSERT_EQ(c.status, 0);
  EXPECT_EQ(c.stat->values_per_row(), 3);
  statistics_registry reg;
  EXPECT_EQ(c.stat->write_header("routing", "Qsim", &reg, STATISTICS_REGISTRY_SIZE), 1);
  c.stat->clear_step_sums();
  // The routing fills the records itself: value = sum / weight.
  c.set_zone(1, 1, 3, 1);
  c.set_zone(2, 2, 1, 4);   // 0.25
  c.set_zone(3, 0, 9, 9);   // no count: 0
  c.stat->complete_step_local(2010, 7, 8, 9);
  c.stat->release();
  EXPECT_EQ(c.file(),
            "YY\tMM\tDD\tHH\t\"11\"\t\"12\"\t\"13\"\n"
            "routing_submodel:Qsim\n"
            "--\t--\t--\t--\t12.5000000\t7.2500000\t100.0000000\n"
            "2010\t 7\t 8\t 9\t3.000\t0.250\t0.000\n");
  // The statistic at record 0, the observed series right after it.
  EXPECT_EQ(*reg.records[0].entity_name, "routing_submodel:Qsim");
  EXPECT_EQ(*reg.records[1].entity_name, "observed Runoff");
  EXPECT_EQ(reg.records[1].value_count, 3);
  EXPECT_EQ(reg.records[1].codes[2], 12);
  EXPECT_EQ(reg.records[1].shares[3], 100);
  c.stat->observed_values()[2] = 4.5;
  EXPECT_EQ(reg.records[1].values[2], 4.5);
  EXPECT_EQ(c.stat->companion_image().year, 2010);
}

TEST(RoutStatistic, CompanionIsNotRegisteredWhenTheNextRecordIsTaken) {
  statistics_registry reg;
  double dummy = 0;
  reg.records[1].values = &dummy;
  rout_case c(2001, 3);
  EXPECT_EQ(c.stat->write_header("routing", "Qsim", &reg, STATISTICS_REGISTRY_SIZE), 0);
  EXPECT_NE(reg.records[0].values, nullptr);
  EXPECT_EQ(reg.records[1].values, &dummy);
  // The last usable record: the companion would lie beyond the size.
  statistics_registry last;
  for (int i = 0; i < STATISTICS_REGISTRY_SIZE - 1; ++i) last.records[static_cast<size_t>(i)].values = &dummy;
  rout_case d(2001, 3);
  EXPECT_EQ(d.stat->write_header("routing", "Qsim", &last, STATISTICS_REGISTRY_SIZE), 0);
  EXPECT_EQ(last.records[STATISTICS_REGISTRY_SIZE].values, nullptr);
}

TEST(RoutStatistic, PeriodRowsAreWeightedMeans) {
  rout_case c(2002, 2, {12});  // kind 2 reads every zone; listed codes unused
  c.stat->write_header("r", "t", nullptr, 0);
  // Step 1: zone 1 sum 2 over 1; step 2: sum 4 over 1. Means kind: the
  // accumulators add sums, counts and weights: 6 / 2 = 3.
  c.stat->clear_step_sums();
  c.set_zone(1, 1, 2, 1);
  c.stat->complete_step_local(2000, 1, 1, 1);
  EXPECT_EQ(c.stat->rows_in_use(), 0);
  c.stat->clear_step_sums();
  c.set_zone(1, 1, 4, 1);
  c.stat->complete_step_local(2000, 1, 1, 2);
  c.stat->release();
  EXPECT_NE(c.file().find("2000\t 1\t 1\t 2\t3.00\t0.00\t0.00\n"), std::string::npos) << c.file();
}

TEST(RoutStatistic, ListedSubbasinsAndTotalOnlyKinds) {
  rout_case listed(5001, 2, {12, 13});
  listed.stat->write_header("r", "t", nullptr, 0);
  listed.stat->clear_step_sums();
  listed.set_zone(1, 1, 5, 1);
  listed.set_zone(2, 1, 6, 2);
  listed.set_zone(3, 1, 1, 4);
  listed.stat->complete_step_local(2000, 1, 2, 3);
  listed.stat->release();
  EXPECT_EQ(listed.file(),
            "YY\tMM\tDD\tHH\t\"12\"\t\"13\"\nr_submodel:t\n--\t--\t--\t--\t7.2500000\t100.0000000\n"
            "2000\t 1\t 2\t 3\t3.00\t0.25\n");

  // Kind 1 has no column: rows of the date only.
  rout_case total(1001, 2);
  EXPECT_EQ(total.stat->values_per_row(), 1);
  total.stat->write_header("r", "t", nullptr, 0);
  total.stat->clear_step_sums();
  total.stat->complete_step_local(2000, 1, 2, 3);
  total.stat->release();
  EXPECT_EQ(total.file(), "YY\tMM\tDD\tHH\nr_submodel:t\n--\t--\t--\t--\n2000\t 1\t 2\t 3\n");
}

TEST(EfficiencyValues, FromTheComparisonSums) {
  struct row {
    const char* what;
    comparison_sums sums;  // n, d, q, m, o, p
    double r_square, coeff_var;
  } rows[] = {
      // Observed 1, 2, 3, 4, simulated 2, 2, 4, 4: d = 2, q = 2, o = 10,
      // p = 30. V = (30 - 100/4) / 3 = 5/3; R2 = 1 - (2/3) / (5/3) = 0.6;
      // cv = 1 - ((2 - 4/4) / 3) / (5/3) = 0.8.
      {"biased", {4, 2, 2, 4, 10, 30}, 0.6, 0.8},
      // n = 3, d = -3, q = 5; m = 5, o = 15, p = 55: V = 10 / 4 = 2.5;
      // R2 = 1 - 2.5 / 2.5 = 0; cv = 1 - ((5 - 3) / 2) / 2.5 = 0.6.
      {"poor", {3, -3, 5, 5, 15, 55}, 0, 0.6},
      // A perfect fit: q = 0 and d = 0: both 1.
      {"perfect", {5, 0, 0, 5, 15, 55}, 1, 1},
      // Two pairs only, or two observations only: 1.
      {"two pairs", {2, 1, 3, 5, 15, 55}, 1, 1},
      {"two observations", {5, 1, 3, 2, 3, 5}, 1, 1},
      // Observations that never vary: V = (12 - 36/3) / 2 = 0: 1.
      {"constant", {3, 1, 3, 3, 6, 12}, 1, 1},
      // Shifted but exact in shape: d = 3, q = 3 (each pair off by 1),
      // V = 2.5: R2 = 1 - (3/2) / 2.5 = 0.4; cv: q - d^2/n = 0: 1.
      {"offset", {3, 3, 3, 5, 15, 55}, 0.4, 1},
  };
  for (const row& r : rows) {
    const efficiency_values e = efficiency_of(r.sums);
    EXPECT_NEAR(e.r_square, r.r_square, 1e-12) << r.what;
    EXPECT_NEAR(e.coeff_var, r.coeff_var, 1e-12) << r.what;
  }
}

TEST(RoutStatistic, EfficiencyTablesFollowTheRows) {
  rout_case c(2001, 5);
  c.stat->write_header("r", "t", nullptr, 0);
  c.stat->clear_step_sums();
  c.set_zone(1, 1, 1, 1);
  c.stat->complete_step_local(2000, 1, 1, 0);  // stays in the buffer until the tables
  // Zone 1 "biased" (R2 0.6, cv 0.8), zone 2 "poor" (0, 0.6), zone 3
  // undefined (1, 1) for every shift in the lin sums; the log sums give zone
  // 1 "offset" (0.4, 1).
  std::vector<comparison_sums> lin(4), log(4);
  lin[1] = {4, 2, 2, 4, 10, 30};
  lin[2] = {3, -3, 5, 5, 15, 55};
  log[1] = {3, 3, 3, 5, 15, 55};
  comparison_table lin_table, log_table;
  for (int i = 0; i < EFFICIENCY_SHIFTS; ++i) {
    lin_table[static_cast<size_t>(i)] = lin.data();
    log_table[static_cast<size_t>(i)] = log.data();
  }
  c.stat->write_efficiency_tables(lin_table, log_table);
  const std::string text = c.file();
  const std::string tables = text.substr(text.find("2000\t 1\t 1\t 0\t1.00000\t0.00000\t0.00000\n"));

  std::ostringstream expected;
  expected << "2000\t 1\t 1\t 0\t1.00000\t0.00000\t0.00000\n";
  const char* lower[] = {"lin. R-square", "log. R-square", "coeff.var.lin", "coeff.var.log"};
  const char* upper[] = {"LIN. R-SQUARE", "LOG. R-SQUARE", "COEFF.VAR.LIN", "COEFF.VAR.LOG"};
  // Precision 5: four decimals.
  const char* values[] = {"\t0.6000\t0.0000\t1.0000", "\t0.4000\t1.0000\t1.0000",
                          "\t0.8000\t0.6000\t1.0000", "\t1.0000\t1.0000\t1.0000"};
  for (int b = 0; b < 4; ++b) {
    expected << "----------------------\n";
    for (int s = -10; s <= 10; ++s)
      expected << (s == 0 ? upper[b] : lower[b]) << "\t" << s << values[b] << "\n";
  }
  expected << "----------------------\n";
  EXPECT_EQ(tables, expected.str());
  // The shift-0 coefficient of the linear series goes back into the zones.
  EXPECT_EQ(c.zones[1].count, 1);
  EXPECT_DOUBLE_EQ(c.zones[1].sum, 0.8);
  EXPECT_DOUBLE_EQ(c.zones[2].sum, 0.6);
  EXPECT_DOUBLE_EQ(c.zones[3].sum, 1);
  c.stat->release();
}

TEST(RoutStatistic, EfficiencyTablesOfListedSubbasins) {
  rout_case c(5001, 3, {13});
  c.stat->write_header("r", "t", nullptr, 0);
  std::vector<comparison_sums> sums(4);
  sums[3] = {4, 2, 2, 4, 10, 30};
  comparison_table table;
  table.fill(sums.data());
  c.stat->write_efficiency_tables(table, table);
  const std::string text = c.file();
  EXPECT_NE(text.find("LIN. R-SQUARE\t0\t0.60\n"), std::string::npos) << text;
  EXPECT_NE(text.find("coeff.var.log\t-10\t0.80\n"), std::string::npos);
  c.stat->release();
}

}  // namespace
