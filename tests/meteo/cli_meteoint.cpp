// The example basin with a temperature input: the interpolator's set-up runs
// (section, station file, start row, statistics file) on one and on three
// processes with the same statistics header, the time loop takes the date of
// the first input, and the first step stops at the interpolation, which is
// not built yet, with the entry naming the method.
#include <gtest/gtest.h>

#include <string>

#include "support/cli_support.h"

namespace {

const char* const STATIONS =
    "stations of the example\nYY MM DD HH 410 520\nYY MM DD HH 3456950 3457800\n"
    "YY MM DD HH 5432250 5433100\nYY MM DD HH north south\n"
    "2000 12 31 23 1.5 2.5\n2001 1 1 0 3.5 4.5\n2001 1 1 1 5.5 6.5\n";

const char* const SECTION =
    "[temperature]\n1 method\nstations.txt\nnone.txt name of the regression file\n"
    "temperature.asc name of the result grid in\n0 grid write code\n1 scaling factor\n"
    "temperature.sta 2001 name of the statistic result file in\n9999 nodata value in\n"
    "2 idw-weight in\n0.5 fraction\n20000 maximum distance in\n0 slope\n1 anisotropy b/a\n"
    "-100 lower limit\n-90 upper limit\n100 lower replacement\n90 upper replacement\n"
    "0 SzenUse in\n";

// The example's control file with "temperature" as its one input.
std::string with_temperature(std::string control) {
  const std::string none = "[meteo_data_count]\n0\n\n[meteo_names]\n";
  const size_t at = control.find(none);
  if (at == std::string::npos) return "";
  control.replace(at, none.size(), "[meteo_data_count]\n1\n\n[meteo_names]\ntemperature\n");
  return control + "\n" + SECTION;
}

TEST(MeteoIntCli, ANamedInputIsSetUpAndStopsAtTheFirstStep) {
  std::string headers[2];
  const int process_counts[2] = {1, 3};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(process_counts[k]);
    cli_workdir dir;
    copy_example_basin(dir);
    const std::string control = with_temperature(dir.read("basin.ctl"));
    ASSERT_FALSE(control.empty());
    dir.write("basin.ctl", control);
    dir.write("stations.txt", STATIONS);
    const run_result r = dir.run_velmo(process_counts[k], {"basin.ctl"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("looking for starting date 1.1.2001 for temperature in stations.txt"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("the meteorological input \"temperature\" cannot be interpolated: "
                            "interpolation method 1 (idw) is not built yet."),
              std::string::npos)
        << r.output;
    ASSERT_TRUE(dir.exists("output/temperature.sta")) << r.output;
    headers[k] = dir.read("output/temperature.sta");
    EXPECT_NE(headers[k].find("temperature interpolated with idw from stations.txt, zones from "),
              std::string::npos)
        << headers[k];
  }
  EXPECT_EQ(headers[0], headers[1]);
}

}  // namespace
