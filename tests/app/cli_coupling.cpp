// External coupling of the real program on the example basin (one step, no
// meteorological input, date -9999): a partner model, played by a small
// shell script started in the background, writes its grid and its
// semaphore file and collects what the model writes for it; coupling with
// more than one process stops the set-up; a semaphore that cannot be
// written ends the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/cli_support.h"
#include "support/diag_xml.h"

namespace {

namespace fs = std::filesystem;

std::string with_coupling(const std::string& control, const std::string& body) {
  const std::string off = "[ExternalCoupling]\n0\n";
  const size_t at = control.find(off);
  EXPECT_NE(at, std::string::npos);
  std::string changed = control;
  changed.replace(at, off.size(), "[ExternalCoupling]\n" + body);
  return changed;
}

// The values of a text grid, row by row, after its six header lines.
std::vector<double> grid_values(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  for (int i = 0; i < 12; ++i) in >> word;
  std::vector<double> values;
  for (double v = 0; in >> v;) values.push_back(v);
  return values;
}

// The same grid with -9999 wherever the zone grid has no zone.
std::vector<double> in_zones(const std::vector<double>& values, const std::vector<double>& zones) {
  std::vector<double> masked = values;
  for (size_t i = 0; i < masked.size() && i < zones.size(); ++i)
    if (zones[i] == -9999) masked[i] = -9999;
  return masked;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Exchange every step: the partner's grid becomes the initial groundwater
// depth; the model returns it as it is and as a sum, the soil depth as a
// running total (with end-of-period copies) and the soil depth's zone means.
const std::string SECTION =
    "1\npartner.sem\n100\nI\n60\n"
    "1\ngw_in.asc initial_gw_depth 0 1\n"
    "3\ngw_now.asc initial_gw_depth current\ngw_sum.asc initial_gw_depth Sum\n"
    "soil_total.asc soil_depth SumTotal_DMY\n"
    "1\nsoil_stat.txt soil_depth Mean\n"
    "velmo.sem\nready\n";

// The partner: its grid and then its semaphore; then it waits for the
// model's semaphore, collects the files and removes the semaphore.
const std::string PARTNER =
    "cd \"$1\" || exit 1\n"
    "cp gw_partner.asc gw_in.asc\n"
    "printf go > partner.sem\n"
    "for i in $(seq 1 1200); do [ -f velmo.sem ] && break; sleep 0.05; done\n"
    "mkdir -p received\n"
    "cp output/gw_now.asc output/gw_sum.asc output/soil_total.asc output/soil_stat.txt "
    "received/\n"
    "cp velmo.sem received/semaphore\n"
    "rm -f velmo.sem\n"
    "echo done > received/ok\n";

}  // namespace

TEST(CouplingCli, ExchangeWithAPartnerModel) {
  cli_workdir dir;
  copy_example_basin(dir);
  dir.write("MpiSpeedFactor.dat", "1\n");
  dir.write("basin.ctl", with_coupling(dir.read("basin.ctl"), SECTION));
  // The partner's grid: 1 + 0.5 (row - 1) + 0.01 (column - 1) everywhere.
  std::ostringstream grid;
  grid << "ncols 20\nnrows 15\nxllcorner 600000\nyllcorner 200000\ncellsize 100\n"
          "nodata_value -9999\n";
  std::vector<double> partner;
  for (int r = 1; r <= 15; ++r) {
    for (int c = 1; c <= 20; ++c) {
      const double v = 1 + 0.5 * (r - 1) + 0.01 * (c - 1);
      partner.push_back(v);
      grid << (c > 1 ? " " : "") << v;
    }
    grid << "\n";
  }
  dir.write("gw_partner.asc", grid.str());
  dir.write("partner.sh", PARTNER);
  ASSERT_EQ(std::system(("bash " + shell_quote(dir.file("partner.sh")) + " " +
                         shell_quote(dir.path()) + " > /dev/null 2>&1 &")
                            .c_str()),
            0);

  const run_result r = dir.run_velmo(0, {"basin.ctl"});
  ASSERT_EQ(r.status, 0) << r.output;
  for (int i = 0; i < 200 && !dir.exists("received/ok"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(dir.exists("received/ok"));

  const std::vector<double> zones = grid_values(dir.read("zones.asc"));
  // The soil depth with its hole at row 8, column 10 filled with 0.75 (README).
  std::vector<double> soil = grid_values(dir.read("soil_depth.asc"));
  soil[7 * 20 + 9] = 0.75;
  // The grid itself everywhere; the sum of one step in the zones only.
  const std::vector<double> now = grid_values(dir.read("received/gw_now.asc"));
  ASSERT_EQ(now.size(), partner.size());
  for (size_t i = 0; i < now.size(); ++i) EXPECT_NEAR(now[i], partner[i], 1e-9) << i;
  const std::vector<double> sum = grid_values(dir.read("received/gw_sum.asc"));
  const std::vector<double> expected_sum = in_zones(partner, zones);
  ASSERT_EQ(sum.size(), expected_sum.size());
  for (size_t i = 0; i < sum.size(); ++i) EXPECT_NEAR(sum[i], expected_sum[i], 1e-9) << i;
  // The running total after one exchange is the soil depth, in the zones.
  const std::vector<double> total = grid_values(dir.read("received/soil_total.asc"));
  const std::vector<double> expected_total = in_zones(soil, zones);
  ASSERT_EQ(total.size(), expected_total.size());
  for (size_t i = 0; i < total.size(); ++i) EXPECT_NEAR(total[i], expected_total[i], 1e-9) << i;
  // End of the run: a day, a month and a year end, dated by the last input
  // exchange (-9999).
  for (const char* copy : {"output/SumTotal_EndOf_Day_-9999_-9999_-9999_soil_total.asc",
                           "output/SumTotal_EndOf_Month_-9999_-9999_soil_total.asc",
                           "output/SumTotal_EndOf_Year_-9999_soil_total.asc"}) {
    EXPECT_TRUE(dir.exists(copy)) << copy;
    EXPECT_EQ(dir.read(copy), dir.read("received/soil_total.asc")) << copy;
  }
  // The zone means of the one step: those of the model's own statistics
  // file of the soil depth (written with five decimals there).
  std::istringstream sta(dir.read("output/soil_depth.sta"));
  std::string line;
  for (int i = 0; i < 4; ++i) std::getline(sta, line);
  std::istringstream row(line);
  std::vector<double> means;
  for (double v = 0; row >> v;) means.push_back(v);
  ASSERT_EQ(means.size(), 8u);  // date, three zones, total
  std::istringstream stat(dir.read("received/soil_stat.txt"));
  std::getline(stat, line);
  EXPECT_EQ(line, "soil_depth; 3 zones");
  for (int zone = 1; zone <= 3; ++zone) {
    int code = 0;
    double mean = 0;
    stat >> code >> mean;
    EXPECT_EQ(code, zone);
    EXPECT_NEAR(mean, means[3 + static_cast<size_t>(zone)], 5e-6) << zone;
  }
  // The semaphore as agreed, complete; the partner's files consumed.
  EXPECT_EQ(dir.read("received/semaphore"), "ready");
  EXPECT_FALSE(dir.exists("Velmo_Orv_temporary_semaphore.file"));
  EXPECT_FALSE(dir.exists("partner.sem"));
  EXPECT_FALSE(dir.exists("gw_in.asc"));
  int renamed = 0;
  for (const auto& item : fs::directory_iterator(dir.path()))
    if (item.path().filename().string().starts_with("gw_in.asc_-9999_-9999_-9999_-9999_"))
      ++renamed;
  EXPECT_EQ(renamed, 1);
  std::string why;
  const auto lines = diag_xml_lines(dir.read("Velmo_Diag_0.xml"), &why);
  ASSERT_FALSE(lines.empty()) << why;
  EXPECT_TRUE(has_line(lines, diag_line(4,
                                        "waiting for external synchronisation file "
                                        "partner.sem...found it! ")))
      << r.output;
}

TEST(CouplingCli, CouplingOnSeveralProcessesStopsTheSetUpWith1009) {
  // Mode 2 reads the section and never exchanges; with two processes it
  // stops all the same.
  for (const std::string mode : {"1", "2"}) {
    SCOPED_TRACE(mode);
    cli_workdir dir;
    copy_example_basin(dir);
    dir.write("MpiSpeedFactor.dat", "1\n");
    dir.write("basin.ctl", with_coupling(dir.read("basin.ctl"), mode + SECTION.substr(1)));
    const run_result r = dir.run_velmo(2, {"basin.ctl"});
    EXPECT_EQ(r.status, 1009 % 256) << r.output;  // the shell sees the code modulo 256
    std::string why;
    const auto lines = diag_xml_lines(dir.read("Velmo_Diag_0.xml"), &why);
    ASSERT_FALSE(lines.empty()) << why;
    // Newlines stand as ";" and runs of dashes as "--" in the file.
    EXPECT_TRUE(
        has_line(lines, diag_line(0,
                                  "--error--;external coupling does not work when running in "
                                  "MPI mode with more than 1 instance (i.e. you "
                                  "should use the non-MPI-version)")))
        << r.output;
  }
}

TEST(CouplingCli, SemaphoreThatCannotBeWrittenEndsTheRunWith18) {
  cli_workdir dir;
  copy_example_basin(dir);
  dir.write("MpiSpeedFactor.dat", "1\n");
  std::string section = SECTION;
  section.replace(section.find("velmo.sem"), 9, "nowhere/velmo.sem");
  dir.write("basin.ctl", with_coupling(dir.read("basin.ctl"), section));
  // The partner's files are there before the model starts.
  std::string zones = dir.read("zones.asc");
  dir.write("gw_in.asc", zones);
  dir.write("partner.sem", "go");
  const run_result r = dir.run_velmo(0, {"basin.ctl"});
  EXPECT_EQ(r.status, 18) << r.output;
  EXPECT_FALSE(dir.exists("Velmo_Orv_temporary_semaphore.file"));
  std::string why;
  const auto lines = diag_xml_lines(dir.read("Velmo_Diag_0.xml"), &why);
  ASSERT_FALSE(lines.empty()) << why;
  EXPECT_TRUE(has_line(lines, diag_line(0,
                                        "write error Velmo_Orv_temporary_semaphore.file: " +
                                            std::string(std::strerror(ENOENT)) +
                                            " ! (2);"
                                            "the semaphore file for the external model could not "
                                            "be renamed to nowhere/velmo.sem")))
      << r.output;
  EXPECT_TRUE(has_line(lines, diag_line(0, "Exception in Modellapplication::run() caught!")));
}
