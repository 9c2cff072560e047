// Dump files of soil columns that leave their valid range: the checks and
// repairs as tables, the file names, a dump written by the column step and
// read back in its layout, the maximum number of files with repair and its
// DEBUG entries, and the stop with 199 under -closeAfterDump.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "soilwater/heated_column_fixture.h"
#include "soilwater/soilcolumn_dump.h"

namespace {

size_t at(int k) { return static_cast<size_t>(k); }

// The working directory is a scratch folder while the object lives.
struct in_folder {
  explicit in_folder(const std::string& dir) : before(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~in_folder() { std::filesystem::current_path(before); }
  std::filesystem::path before;
};

int count_of(const std::string& text, const std::string& pattern) {
  int count = 0;
  for (size_t i = text.find(pattern); i != std::string::npos; i = text.find(pattern, i + 1))
    ++count;
  return count;
}

TEST(SoilColumnDump, FileNames) {
  struct row {
    DumpCheck check;
    int substep;
    const char* expected;
  } rows[] = {
      {{false, 2, 0}, 3, "theta(2)_dump_row_12_col_7_substep_3_2010030506.dmp"},
      {{true, 4, 0}, 1, "theta(4)_dgw_dump_row_12_col_7_substep_1_2010030506.dmp"},
      {{true, 0, 0}, 1, "dgw_dump_row_12_col_7_substep_1_2010030506.dmp"},
      {{true, 1, 3}, 12, "heat(3)_theta(1)_dgw_dump_row_12_col_7_substep_12_2010030506.dmp"},
  };
  for (const row& r : rows)
    EXPECT_EQ(dump_file_name(r.check, 12, 7, r.substep, 2010, 3, 5, 6), r.expected);
}

// Four layers, theta_sat 0.4; temperatures before the iteration 5 degC,
// surface 5 degC.
struct check_case {
  const char* name;
  std::vector<double> theta;  // 0..4
  double baseflow;            // [m s-1]
  std::vector<double> t;      // 0..4 after the heat sub-steps
  DumpCheck expected;
  std::vector<double> theta_repaired, t_repaired;
  double baseflow_repaired;
};

TEST(SoilColumnDump, ChecksAndRepairs) {
  const std::vector<double> ok = {0, 0.3, 0.3, 0.3, 0.3};
  const std::vector<double> warm = {0, 5, 5, 5, 5};
  // clang-format off
  const std::vector<check_case> rows = {
      {"all in range", ok, 10, warm, {}, ok, warm, 10},
      {"base flow beyond 10", ok, -10.5, warm, {true, 0, 0}, ok, warm, -10},
      // The first failing layer names the file; every failing layer is repaired.
      {"water above saturation", {0, 0.3, 0.4011, 0.4009, -0.01}, 0, warm, {false, 2, 0},
       {0, 0.3, 0.4, 0.4009, 0}, warm, 0},
      {"water and base flow", {0, -0.1, 0.3, 0.3, 0.3}, 11, warm, {true, 1, 0},
       {0, 0, 0.3, 0.3, 0.3}, warm, 10},
      // The bottom layer is not tested; its range is repaired with another failure.
      {"bottom layer only", ok, 0, {0, 5, 5, 5, 90}, {}, ok, {0, 5, 5, 5, 90}, 0},
      {"beyond 70 with the bottom", ok, 0, {0, 5, 75, 5, 90}, {false, 0, 2}, ok,
       {0, 5, 5, 5, 70}, 0},
      // A local maximum goes back to its largest reference (5, or 5.5 below).
      {"local maximum", ok, 0, {0, 5, 5, 9, 5.5}, {false, 0, 3}, ok, {0, 5, 5, 5.5, 5.5}, 0},
      {"local minimum", ok, 0, {0, 5, 1, 5, 5}, {false, 0, 2}, ok, {0, 5, 5, 5, 5}, 0},
      {"within the margin", ok, 0, {0, 5, 5.0009, 5, 5}, {}, ok, {0, 5, 5.0009, 5, 5}, 0},
  };
  // clang-format on
  const std::vector<double> sat(5, 0.4);
  const std::vector<double> before = {0, 5, 5, 5, 5};
  for (const check_case& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<double> theta = r.theta, t = r.t;
    double baseflow = r.baseflow;
    const DumpCheck c =
        check_column(4, theta.data(), sat.data(), baseflow, before.data(), t.data(), 5.0);
    EXPECT_EQ(c.baseflow, r.expected.baseflow);
    EXPECT_EQ(c.water, r.expected.water);
    EXPECT_EQ(c.heat, r.expected.heat);
    repair_column(c, 4, theta.data(), sat.data(), baseflow, before.data(), t.data(), 5.0);
    EXPECT_EQ(theta, r.theta_repaired);
    EXPECT_EQ(t, r.t_repaired);
    EXPECT_EQ(baseflow, r.baseflow_repaired);
  }
}

// A layer at 150 degC fails the range check at the end of the call's one
// water sub-step (it loses about 20 K in the hour); the top layer's fast
// change asks for the shortest heat sub-steps.
struct hot_column : heated_column {
  hot_column() : heated_column(6) {
    t[2] = 150;
    cell.row = 12;
    cell.col = 7;
    cell.soil_type = 3;
    cell.landuse = landuse;
    cell.hour = 6;
    cell.day = 5;
    cell.month = 3;
    cell.year = 2010;
    input.dump_cell = &cell;
    control.dumpmode = true;
    control.diag = cap.diag.get();
    settings.dump = &control;
  }
  captured_diag cap;
  DumpControl control;
  DumpCell cell;
  double landuse[2] = {0, 17};
};

template <class T>
T read_value(const std::string& bytes, size_t& pos) {
  T v;
  std::memcpy(&v, bytes.data() + pos, sizeof v);
  pos += sizeof v;
  return v;
}

TEST(SoilColumnDump, StepWritesTheColumnBeforeTheIteration) {
  scratch_dir folder;
  in_folder here(folder.path());
  hot_column col;
  const std::vector<double> t_before = col.t;
  const ColumnResult r = col.call();
  // 60 heat sub-steps of 60 s, aligned to 61 after one water sub-step.
  ASSERT_EQ(r.substeps, 1);
  ASSERT_EQ(r.heat_substeps, 61);
  ASSERT_EQ(r.heat_ratio, 61);
  EXPECT_EQ(col.control.counter, 1);
  EXPECT_GT(col.t[2], 70);  // not repaired
  const std::string name = "heat(2)_dump_row_12_col_7_substep_1_2010030506.dmp";
  ASSERT_TRUE(std::filesystem::exists(name));
  const std::string bytes = read_file(name);
  const int n = col.n;
  const size_t per = at(n) + 1;
  const size_t expected_size =
      4 + 3 * 8 + 2 * 8 + 21 * per * 8 + 8 + 4 + 8 + 4 * 4 + 2 * 8 + 8 + 4 + 8;
  ASSERT_EQ(bytes.size(), expected_size);
  size_t pos = 0;
  EXPECT_EQ(read_value<int32_t>(bytes, pos), 0);  // no vegetation layer took water
  pos += 3 * 8 + 2 * 8;
  std::vector<std::vector<double>> arrays(21, std::vector<double>(per));
  for (auto& a : arrays)
    for (double& v : a) v = read_value<double>(bytes, pos);
  for (int k = 0; k <= n; ++k) {
    EXPECT_EQ(arrays[6][at(k)], col.z[at(k)]);                // geodetic heights
    EXPECT_EQ(arrays[10][at(k)], col.soil.thickness[at(k)]);  // thickness
    EXPECT_EQ(arrays[11][at(k)], arrays[13][at(k)]);          // balance work = theta
  }
  for (int k = 1; k <= n; ++k) EXPECT_EQ(arrays[15][at(k)], t_before[at(k)]);  // stack temperatures
  EXPECT_EQ(read_value<double>(bytes, pos), 3600.0 / 61);                      // dt_h
  EXPECT_EQ(read_value<int32_t>(bytes, pos), 3);                               // soil type
  EXPECT_EQ(read_value<double>(bytes, pos), 17);  // land use of layer 1
  for (int v : {6, 5, 3, 2010}) EXPECT_EQ(read_value<int32_t>(bytes, pos), v);
  EXPECT_EQ(read_value<double>(bytes, pos), 1);     // n_w
  EXPECT_EQ(read_value<double>(bytes, pos), 3600);  // dt_w
  EXPECT_EQ(read_value<double>(bytes, pos), 61);    // n_h
  EXPECT_EQ(read_value<int32_t>(bytes, pos), 61);   // r
  EXPECT_EQ(read_value<double>(bytes, pos), 5);     // T_a
  EXPECT_EQ(pos, bytes.size());
}

// With a maximum of 2 and repair: the first failure writes a file and the
// DEBUG entry, the second a file and the entry with the closing sentence,
// the third is repaired silently without a file.
TEST(SoilColumnDump, MaximumOfTwoFilesWithRepair) {
  scratch_dir folder;
  in_folder here(folder.path());
  hot_column col;
  col.control.max_files = 2;
  col.control.repair_after_dump = true;
  for (int hour = 6; hour <= 8; ++hour) {
    col.cell.hour = hour;
    col.t[2] = 150;
    col.call();
    EXPECT_LE(col.t[2], 70);
  }
  EXPECT_EQ(col.control.counter, 3);
  for (int hour = 6; hour <= 8; ++hour)
    EXPECT_EQ(
        std::filesystem::exists("heat(2)_dump_row_12_col_7_substep_1_20100305" +
                                std::string(hour < 10 ? "0" : "") + std::to_string(hour) + ".dmp"),
        hour < 8)
        << hour;
  const std::string text = col.cap.console();
  EXPECT_EQ(count_of(text, "command line option -repairAfterDump active!"), 2) << text;
  EXPECT_EQ(count_of(text, "continuing from now on without that message..."), 1) << text;
}

// Without a maximum every failure is written and no DEBUG entry appears.
TEST(SoilColumnDump, NoMaximumWritesEveryFailureWithoutEntries) {
  scratch_dir folder;
  in_folder here(folder.path());
  hot_column col;
  col.control.repair_after_dump = true;
  for (int hour = 6; hour <= 8; ++hour) {
    col.cell.hour = hour;
    col.t[2] = 150;
    col.call();
  }
  EXPECT_EQ(col.control.counter, 3);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                          std::filesystem::directory_iterator{}),
            3);
  EXPECT_EQ(col.cap.console().find("repairAfterDump"), std::string::npos);
}

// Two calls of one model step carry the same date: the second dump of the
// same cell and sub-step replaces the first, and both are counted.
TEST(SoilColumnDump, CallsOfOneStepShareTheirFileName) {
  scratch_dir folder;
  in_folder here(folder.path());
  hot_column col;
  col.call();
  const std::string name = "heat(2)_dump_row_12_col_7_substep_1_2010030506.dmp";
  const std::string first = read_file(name);
  col.t[2] = 140;
  col.call();
  EXPECT_EQ(col.control.counter, 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                          std::filesystem::directory_iterator{}),
            1);
  EXPECT_NE(read_file(name), first);
}

// -closeAfterDump stops at the first failure, also when the maximum of
// files has been reached already.
TEST(SoilColumnDump, CloseAfterDumpStopsWith199) {
  for (int64_t reached : {0, 1}) {
    scratch_dir folder;
    in_folder here(folder.path());
    hot_column col;
    col.control.close_after_dump = true;
    col.control.max_files = reached;
    col.control.counter = reached;
    int code = 0;
    try {
      col.call();
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, 199);
    EXPECT_NE(
        col.cap.console().find("\n\n -------- command line option -closeAfterDump active! ----"),
        std::string::npos)
        << col.cap.console();
    EXPECT_NE(col.cap.console().find(" a dumpfile has been written and Velmo aborts now.\n"),
              std::string::npos);
    EXPECT_EQ(std::filesystem::exists("heat(2)_dump_row_12_col_7_substep_1_2010030506.dmp"),
              reached == 0);
  }
}

}  // namespace
