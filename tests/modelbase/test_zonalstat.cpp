// Zonal statistics on one process: codes, file layout, periods, weights,
// listed zones, the registry and the row buffer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/memhandling.h"
#include "modelbase/zonalstat.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

// Zone records 0..n with the given codes and shares (sorted by code).
std::vector<zone_record> make_zones(const std::vector<double>& codes,
                                    const std::vector<double>& shares) {
  std::vector<zone_record> z(codes.size() + 1);
  for (size_t i = 0; i < codes.size(); ++i) {
    z[i + 1].code = codes[i];
    z[i + 1].share = shares[i];
  }
  return z;
}

struct stat_case {
  captured_diag cd;
  std::vector<zone_record> zones;
  std::vector<int> listed{0};
  std::string file_name;
  std::unique_ptr<zonalstatistic> stat;
  int status = -1;

  stat_case(std::vector<double> codes, std::vector<double> shares, int code, int precision,
            std::vector<int> listed_codes = {}, const grid_matrix* weights = nullptr,
            int nrows = 0, int ncols = 0)
      : zones(make_zones(codes, shares)) {
    listed.insert(listed.end(), listed_codes.begin(), listed_codes.end());
    listed[0] = static_cast<int>(listed_codes.size());
    file_name = cd.dir.file("stat.txt");
    stat = std::make_unique<zonalstatistic>(
        status, cd.diag.get(), nullptr, 0, weights, nrows, ncols, zones.data(),
        static_cast<int>(codes.size()), code, precision, file_name, nullptr, listed[0], &listed);
  }
  std::string file() const { return read_file(file_name); }
};

TEST(StatisticsCode, KindAndStepsPerRow) {
  struct row {
    int code, kind, steps;
  } rows[] = {
      {999, -1, 0},  {1000, -1, 0}, {-5, -1, 0},    // no statistic
      {1001, 1, 1},  {2024, 2, 24}, {4024, 4, 24},  // total; daily rows of hourly means, sums
      {5001, 5, 1},  {6720, 6, 720}, {2000, 2, 0},  // listed zones; a code that never completes
      {7005, 7, 5},  {12003, 12, 3},                // above 6: the total as sums
  };
  for (const row& r : rows) {
    const statistics_code_parts p = split_statistics_code(r.code);
    EXPECT_EQ(p.kind, r.kind) << r.code;
    if (r.kind != -1) { EXPECT_EQ(p.steps_per_row, r.steps) << r.code; }
  }
}

TEST(StatisticsCode, ValuesPerRowAndBufferRows) {
  struct row {
    int kind, zones, listed, values;
    long capacity;  // 2097152 / (values * 8 + 32), integer division
  } rows[] = {
      {1, 10, 0, 2, 43690},  {3, 10, 4, 2, 43690},  {2, 10, 0, 11, 17476},
      {4, 3, 0, 4, 32768},   {5, 10, 2, 3, 37449},  {6, 10, 0, 1, 52428},
      {7, 10, 2, 3, 37449},
  };
  for (const row& r : rows) {
    const int values = statistics_values_per_row(r.kind, r.zones, r.listed);
    EXPECT_EQ(values, r.values) << r.kind;
    EXPECT_EQ(statistics_capacity(values), r.capacity) << r.kind;
  }
  // A row wider than the whole buffer still gets one row.
  EXPECT_EQ(statistics_capacity(300000), 1);
}

TEST(ZonalStatistic, OffCodeMakesNoFileAndIgnoresEverything) {
  stat_case c({1, 2}, {0.5, 0.5}, 1000, 2);
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.stat->valid(), 1);
  EXPECT_TRUE(c.stat->off());
  c.zones[1].sum = 7;
  c.stat->clear_step_sums();
  c.stat->add_value(1, 1, 1, 3, 1);
  c.stat->complete_step(2000, 1, 1, 0, 1);
  EXPECT_EQ(c.zones[1].sum, 7);  // untouched
  statistics_registry reg;
  EXPECT_EQ(c.stat->write_header("n", "t", &reg, STATISTICS_REGISTRY_SIZE), -1);
  c.stat->release();
  EXPECT_FALSE(std::ifstream(c.file_name).good());
}

// One step of every zone: zone 1 (code 1) gets 1 and 3, zone 2 (code 3)
// gets 4, zone 3 (code 5) nothing. Means 2, 4, 0; total (1 + 3 + 4) / 3.
void one_step(zonalstatistic& s, int64_t hour) {
  s.clear_step_sums();
  s.add_value(0, 0, 1, 1, 1);
  s.add_value(0, 0, 1, 3, 1);
  s.add_value(0, 0, 2, 4, 1);
  s.complete_step(2000, 1, 1, hour, 1);
}

TEST(ZonalStatistic, HeaderAndRowsOfEveryZone) {
  stat_case c({1, 3, 5}, {0.5, 0.25, 0.25}, 2001, 2);
  ASSERT_EQ(c.status, 0);
  statistics_registry reg;
  EXPECT_EQ(c.stat->write_header("runoff", "(default)", &reg, STATISTICS_REGISTRY_SIZE), 0);
  one_step(*c.stat, 1);
  one_step(*c.stat, 2);
  // Rows wait in the buffer until release.
  EXPECT_EQ(c.stat->rows_in_use(), 2);
  c.stat->release();
  EXPECT_EQ(c.file(),
            "YY\tMM\tDD\tHH\t\"1\"\t\"3\"\t\"5\"\ttot_average\n"
            "runoff_submodel:(default)\n"
            "--\t--\t--\t--\t0.5000000\t0.2500000\t0.2500000\t1.0000\n"
            "2000\t 1\t 1\t 1\t2.00\t4.00\t0.00\t2.67\n"
            "2000\t 1\t 1\t 2\t2.00\t4.00\t0.00\t2.67\n");
  EXPECT_NE(c.cd.console().find("(128 of 2097152 buffer-bytes)"), std::string::npos)
      << "(4 values * 8 + 32) * 2 rows";
}

TEST(ZonalStatistic, PrecisionNinetyNineWritesSixSignificantDigits) {
  stat_case c({1, 3, 5}, {0.5, 0.25, 0.25}, 1001, 99);
  c.stat->write_header("a", "b", nullptr, 0);
  one_step(*c.stat, 0);
  c.stat->release();
  // Total only: 8 / 3 as "%.6g".
  EXPECT_EQ(c.file(),
            "YY\tMM\tDD\tHH\ttot_average\na_submodel:b\n--\t--\t--\t--\t1.0000\n"
            "2000\t 1\t 1\t 0\t2.66667\n");
}

// Three steps of two zones (codes 10, 20): in step s zone 1 gets s and s + 1,
// zone 2 gets 2 s. Over the period zone 1 has the sum 15 over 6 cells, zone 2
// 12 over 3 cells, all 27 over 9.
std::string period_file(int code, std::vector<int> listed = {}) {
  stat_case c({10, 20}, {0.75, 0.25}, code, 3, listed);
  EXPECT_EQ(c.status, 0);
  c.stat->write_header("q", "t", nullptr, 0);
  for (int s = 1; s <= 3; ++s) {
    c.stat->clear_step_sums();
    c.stat->add_value(0, 0, 1, s, 1);
    c.stat->add_value(0, 0, 1, s + 1, 1);
    c.stat->add_value(0, 0, 2, 2 * s, 1);
    c.stat->complete_step(2001, 2, 3, s, 1);
  }
  EXPECT_EQ(c.stat->rows_in_use(), 1);
  c.stat->release();
  const std::string text = c.file();
  return text.substr(text.find("--\t--"));
}

TEST(ZonalStatistic, PeriodsOfSeveralStepsAsMeansAndSums) {
  struct row {
    int code;
    std::vector<int> listed;
    const char* expected;
  } rows[] = {
      // Means: 15/6, 12/3, 27/9.
      {2003, {}, "--\t--\t--\t--\t0.7500000\t0.2500000\t1.0000\n2001\t 2\t 3\t 3\t2.500\t4.000\t3.000\n"},
      // Sums: the period's weighted sums over the last step's weights:
      // 15/2, 12/1, 27/3.
      {4003, {}, "--\t--\t--\t--\t0.7500000\t0.2500000\t1.0000\n2001\t 2\t 3\t 3\t7.500\t12.000\t9.000\n"},
      {1003, {}, "--\t--\t--\t--\t1.0000\n2001\t 2\t 3\t 3\t3.000\n"},
      {3003, {}, "--\t--\t--\t--\t1.0000\n2001\t 2\t 3\t 3\t9.000\n"},
      // Listed zone 20 only, and the total.
      {5003, {20}, "--\t--\t--\t--\t0.2500000\t1.0000\n2001\t 2\t 3\t 3\t4.000\t3.000\n"},
      {6003, {20}, "--\t--\t--\t--\t0.2500000\t1.0000\n2001\t 2\t 3\t 3\t12.000\t9.000\n"},
      // Above 6: the total, accumulated as sums.
      {7003, {}, "--\t--\t--\t--\t1.0000\n2001\t 2\t 3\t 3\t9.000\n"},
  };
  for (const row& r : rows) EXPECT_EQ(period_file(r.code, r.listed), r.expected) << r.code;
}

TEST(ZonalStatistic, ListedZonesNameTheirColumns) {
  stat_case c({1, 3, 5, 7}, {0.25, 0.125, 0.5, 0.125}, 5001, 1, {3, 7});
  ASSERT_EQ(c.status, 0);
  c.stat->write_header("n", "t", nullptr, 0);
  c.stat->clear_step_sums();
  c.stat->add_value(0, 0, 1, 100, 1);  // zone 1 is no column but counts in the total
  c.stat->add_value(0, 0, 2, 2, 1);
  c.stat->add_value(0, 0, 4, 6, 1);
  c.stat->complete_step(2000, 5, 6, 7, 1);
  c.stat->release();
  EXPECT_EQ(c.file(),
            "YY\tMM\tDD\tHH\t\"3\"\t\"7\"\ttot_average\nn_submodel:t\n"
            "--\t--\t--\t--\t0.1250000\t0.1250000\t1.0000\n"
            "2000\t 5\t 6\t 7\t2.0\t6.0\t36.0\n");  // total (100 + 2 + 6) / 3
  EXPECT_EQ(c.stat->listed_zone_indices().size(), 0u);  // released
}

TEST(ZonalStatistic, ListedCodeWithoutZoneFails) {
  stat_case c({1, 3, 5}, {0.5, 0.25, 0.25}, 5001, 2, {4});
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.stat->valid(), 0);
  EXPECT_NE(c.cd.console().find("there is a code in the output list which no zone exists for (4)"),
            std::string::npos);
}

TEST(ZonalStatistic, NoRowWithoutStepsPerRowAndZeroMeansForEmptyZones) {
  stat_case never({1, 2}, {0.5, 0.5}, 2000, 2);
  never.stat->write_header("n", "t", nullptr, 0);
  one_step(*never.stat, 1);
  never.stat->release();
  EXPECT_EQ(never.file(),
            "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\nn_submodel:t\n"
            "--\t--\t--\t--\t0.5000000\t0.5000000\t1.0000\n");

  // A step without any cell: every mean and the total are 0.
  stat_case empty({1, 2}, {0.5, 0.5}, 2001, 1);
  empty.stat->write_header("n", "t", nullptr, 0);
  empty.stat->clear_step_sums();
  empty.stat->complete_step(2000, 1, 1, 0, 1);
  empty.stat->release();
  EXPECT_NE(empty.file().find("2000\t 1\t 1\t 0\t0.0\t0.0\t0.0\n"), std::string::npos);
}

TEST(ZonalStatistic, WeightsFromTheWeightGrid) {
  memory_handling mh;
  grid_matrix weights = mh.matrix(1, 2, 1, 2, 2);
  weights[1][1] = 0.5;
  weights[1][2] = -9999;  // missing: the cell counts with weight 1
  weights[2][1] = 2;
  weights[2][2] = 0;      // a cell without area
  stat_case c({1, 2}, {0.5, 0.5}, 2001, 3, {}, &weights, 2, 2);
  c.stat->write_header("n", "t", nullptr, 0);
  c.stat->clear_step_sums();
  c.stat->add_value(1, 1, 1, 4, 1);  // weight 0.5: sum 2, weight 0.5
  c.stat->add_value(1, 2, 1, 1, 1);  // weight 1:   sum 1, weight 1
  c.stat->add_value(2, 1, 1, 3, 1);  // weight 2:   sum 6, weight 2
  c.stat->add_value(3, 1, 1, 10, 2); // outside the grid: count weight 2 only
  c.stat->add_value(2, 2, 2, 5, 1);  // a zone of one cell of area 0
  c.stat->complete_step(2000, 1, 1, 0, 1);
  c.stat->release();
  // Zone 1: (2 + 1 + 6 + 20) / (0.5 + 1 + 2 + 2) = 29 / 5.5; zone 2 has no
  // weight and shows 0 (not 0/0); total 29 / 5.5.
  EXPECT_NE(c.file().find("2000\t 1\t 1\t 0\t5.273\t0.000\t5.273\n"), std::string::npos)
      << c.file();
  EXPECT_DOUBLE_EQ(c.zones[1].count, 5);  // count weights: 1 + 1 + 1 + 2
}

TEST(ZonalStatistic, RegistryTakesTheFirstFreeRecordBelowTheSize) {
  statistics_registry reg;
  stat_case a({1, 3}, {0.5, 0.5}, 2001, 2);
  stat_case b({1, 3}, {0.5, 0.5}, 2001, 2);
  a.stat->write_header("first", "x", &reg, STATISTICS_REGISTRY_SIZE);
  b.stat->write_header("second", "y", &reg, STATISTICS_REGISTRY_SIZE);
  ASSERT_NE(reg.records[0].values, nullptr);
  ASSERT_NE(reg.records[1].values, nullptr);
  EXPECT_EQ(*reg.records[0].entity_name, "first_submodel:x");
  EXPECT_EQ(*reg.records[1].entity_name, "second_submodel:y");
  EXPECT_EQ(reg.records[1].value_count, 3);
  EXPECT_EQ(reg.records[1].codes[1], 1);
  EXPECT_EQ(reg.records[1].codes[2], 3);
  EXPECT_EQ(reg.records[1].codes[3], 0);
  EXPECT_EQ(reg.records[1].shares[3], 1.0);
  // The record shares the current row values with the statistic.
  one_step(*b.stat, 5);
  EXPECT_EQ(reg.records[1].values[1], 2.0);  // zone 1: (1 + 3) / 2
  EXPECT_EQ(b.stat->image().hour, 5);

  // With all 200 usable records taken the statistic writes its file and is
  // not registered; record 200 (beyond the size) stays free.
  for (int i = 2; i < STATISTICS_REGISTRY_SIZE; ++i) reg.records[static_cast<size_t>(i)] = reg.records[0];
  stat_case full({1, 3}, {0.5, 0.5}, 2001, 2);
  EXPECT_EQ(full.stat->write_header("late", "z", &reg, STATISTICS_REGISTRY_SIZE), 0);
  EXPECT_EQ(reg.records[STATISTICS_REGISTRY_SIZE].values, nullptr);
  EXPECT_NE(full.file().find("late_submodel:z"), std::string::npos);
}

TEST(ZonalStatistic, FullBufferIsWrittenAtItsLastRow) {
  // Ten zones: 2097152 / (11 * 8 + 32) = 17476 rows.
  std::vector<double> codes, shares;
  for (int z = 1; z <= 10; ++z) {
    codes.push_back(z);
    shares.push_back(0.1);
  }
  stat_case c(codes, shares, 2001, 1);
  ASSERT_EQ(c.stat->capacity(), 17476);
  c.stat->write_header("n", "t", nullptr, 0);
  const size_t header_size = c.file().size();
  for (int r = 1; r < 17476; ++r) {
    c.stat->clear_step_sums();
    c.stat->complete_step(2000, 1, 1, 0, 0);
  }
  EXPECT_EQ(c.file().size(), header_size);
  EXPECT_EQ(c.stat->rows_in_use(), 17475);
  c.stat->clear_step_sums();
  c.stat->complete_step(2000, 1, 1, 0, 0);
  EXPECT_EQ(c.stat->rows_in_use(), 0);
  // Each row: "2000\t 1\t 1\t 0" (13) + 11 * "\t0.0" (44) + "\n".
  EXPECT_EQ(c.file().size(), header_size + 17476u * 58u);
}

TEST(ZonalStatistic, OutputDirectoryGoesBeforeRelativeNames) {
  captured_diag cd;
  std::vector<zone_record> zones = make_zones({1}, {1});
  const std::string dir = cd.dir.path() + "/";
  struct row {
    std::string name, expected;
  } rows[] = {
      {"rel.stat", dir + "rel.stat"},
      {"/abs/x.stat", "/abs/x.stat"},
      {"~home.stat", "~home.stat"},
  };
  for (row& r : rows) {
    int status = -1;
    zonalstatistic s(status, cd.diag.get(), nullptr, 0, nullptr, 0, 0, zones.data(), 1, 2001, 2,
                     r.name, &dir, 0, nullptr);
    EXPECT_EQ(r.name, r.expected);  // the caller's string changes
    EXPECT_EQ(s.file_name(), r.expected);
  }
}

TEST(ZonalStatistic, UnwritableFileIsErrorFifteen) {
  captured_diag cd;
  std::vector<zone_record> zones = make_zones({1}, {1});
  std::string name = cd.dir.file("missing_dir/x.stat");
  int status = -1;
  zonalstatistic s(status, cd.diag.get(), nullptr, 0, nullptr, 0, 0, zones.data(), 1, 2001, 2,
                   name, nullptr, 0, nullptr);
  try {
    s.write_header("n", "t", nullptr, 0);
    FAIL() << "no error";
  } catch (int code) {
    EXPECT_EQ(code, 15);
  }
  EXPECT_NE(cd.console().find("error opening \n" + name), std::string::npos);
}

// The entries of a statistics file that cannot be written name the C
// library's reason after the file's name.
TEST(ZonalStatistic, FileFailuresNameTheirReason) {
  auto reason = [](int error) { return ": " + std::string(std::strerror(error)); };
  struct row {
    const char* what;
    std::string name;  // {dir} for the scratch folder
    bool header;       // the header, else a block of rows
    int code;
    std::string entry;  // {name} for the file's name
  };
  std::vector<row> rows = {
      {"header, missing folder", "{dir}/none/x.sta", true, 15,
       "error opening \n{name}" + reason(ENOENT)},
      {"header, a folder", "{dir}", true, 15, "error opening \n{name}" + reason(EISDIR)},
      {"rows, missing folder", "{dir}/none/x.sta", false, 15,
       "error opening \n{name}" + reason(ENOENT)},
  };
  // The full device takes the opening and refuses the bytes.
  if (std::filesystem::is_character_file("/dev/full")) {
    rows.push_back({"header, full device", "/dev/full", true, 16,
                    "cannot close {name}" + reason(ENOSPC)});
    rows.push_back({"rows, full device", "/dev/full", false, 16,
                    "cannot close {name}" + reason(ENOSPC)});
  }
  auto put = [](std::string text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key))
      text.replace(at, key.size(), value);
    return text;
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    captured_diag cd;
    std::vector<zone_record> zones = make_zones({1}, {1});
    std::string name = put(r.name, "{dir}", cd.dir.path());
    int status = -1;
    zonalstatistic s(status, cd.diag.get(), nullptr, 0, nullptr, 0, 0, zones.data(), 1, 2001, 2,
                     name, nullptr, 0, nullptr);
    ASSERT_EQ(status, 0);
    int code = 0;
    try {
      if (r.header) {
        s.write_header("n", "t", nullptr, 0);
      } else {
        s.clear_step_sums();
        s.add_value(0, 0, 1, 1.0, 1.0);
        s.complete_step(2001, 1, 1, 1, 0);
        s.write_rows();
      }
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, r.code);
    const std::string xml = cd.xml();
    EXPECT_NE(xml.find(diag_line(0, escape_diag_text(put(r.entry, "{name}", name)))),
              std::string::npos)
        << xml;
  }
}

}  // namespace
