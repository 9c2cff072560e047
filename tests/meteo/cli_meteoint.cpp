// The example basin with four meteorological inputs (temperature by
// Thiessen with a lapse rate and an inversion, precipitation by inverse
// distances and corrected at the stations, wind speed bilinear between
// look-up stations, humidity by the elevation regression of the step) over
// three daily records: the run ends normally and writes the same grids and
// statistics on 1, 2 and 3 processes with 1 and 4 threads each. The wind at
// a precipitation station comes from the cell's look-up stations, which only
// the process owning the cell holds: the correction agrees only when that
// process evaluates the point for all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/cli_support.h"

namespace {

std::string station_table(const char *rows) {
  return std::string("stations of the example\nYY MM DD HH 780 700 690 650\n"
                     "YY MM DD HH 600350 601550 600450 601750\n"
                     "YY MM DD HH 201150 201250 200350 200450\n"
                     "YY MM DD HH north east west outlet\n") +
         rows;
}

std::string section(const char *name, int method, const char *extra) {
  return std::string("[") + name + "]\n" + std::to_string(method) +
         " method\n" + name + ".txt\n" + extra + name +
         ".asc name of the result grid in\n2 grid write code\n"
         "1 scaling factor\n" +
         name +
         ".sta 2001 name of the statistic result file in\n"
         "9999 nodata value in\n2 idw-weight in\n0.5 fraction\n20000 maximum "
         "distance in\n"
         "0 slope\n1 anisotropy b/a\n-100 lower limit\n-90 upper limit\n100 "
         "lower replacement\n"
         "90 upper replacement\n0 SzenUse in\n\n";
}

std::string with_inputs(std::string control) {
  const std::string none = "[meteo_data_count]\n0\n\n[meteo_names]\n";
  const size_t at = control.find(none);
  if (at == std::string::npos)
    return "";
  control.replace(
      at, none.size(),
      "[meteo_data_count]\n4\n\n[meteo_names]\ntemperature\nprecipitation\n"
      "wind_speed\nhumidity\n");
  const std::string off = "[precipitation_correction]\n0 ";
  const size_t c = control.find(off);
  if (c == std::string::npos)
    return "";
  control.replace(c, off.size(), "[precipitation_correction]\n1 ");
  const size_t k = control.find("[precipitation_correction]");
  const std::string coefficients =
      "[precipitation_correction]\n1 do_it\n0.5 threshold\n1.05 rain "
      "constant\n0.01 rain slope\n"
      "1.1 snow constant\n0.07 snow slope\n";
  const size_t end = control.find("[RegionalSuperposition]");
  control.replace(k, end - k, coefficients + "\n");
  return control + "\n" + section("temperature", 12, "-0.0065 700 0.003\n") +
         section("precipitation", 1,
                 "none.txt name of the regression file in\n") +
         section("wind_speed", 5, "none.txt name of the regression file in\n") +
         section("humidity", 10, "600 900 50 0 0\n");
}

// Every file of output/ by name.
std::map<std::string, std::string> outputs(const cli_workdir &dir) {
  std::map<std::string, std::string> files;
  for (const auto &e :
       std::filesystem::directory_iterator(dir.file("output"))) {
    const std::string name = e.path().filename().string();
    if (name.rfind("MPIRegions", 0) == 0)
      continue; // the division differs on purpose
    files[name] = dir.read("output/" + name);
  }
  return files;
}

TEST(MeteoIntCli, FourInputsGiveTheSameGridsOnAnyProcessAndThreadCount) {
  std::map<std::string, std::string> reference;
  for (int np : {1, 2, 3})
    for (const char *threads : {"1", "4"}) {
      SCOPED_TRACE(std::to_string(np) + " processes, " + threads + " threads");
      setenv("OMP_NUM_THREADS", threads, 1);
      cli_workdir dir;
      copy_example_basin(dir);
      const std::string control = with_inputs(dir.read("basin.ctl"));
      ASSERT_FALSE(control.empty());
      dir.write("basin.ctl", control);
      dir.write("temperature.txt",
                station_table(
                    "2001 1 1 0 -3.5 -1.0 2.5 4.0\n2001 1 2 0 1.5 1.5 1.5 1.5\n"
                    "2001 1 3 0 0.2 -9999 0.8 1.1\n"));
      dir.write("precipitation.txt",
                station_table("2001 1 1 0 4.0 0 2.5 10.0\n2001 1 2 0 0 0 0 0\n"
                              "2001 1 3 0 -99999 -99999 -99999 -99999\n"));
      // Wind stations on a rectangle around the basin's middle, so that the
      // precipitation stations lie inside its look-up cells.
      dir.write(
          "wind_speed.txt",
          "wind on a mesh\nYY MM DD HH 700 700 700 700\n"
          "YY MM DD HH 600300 601700 600300 601700\n"
          "YY MM DD HH 200300 200300 201300 201300\nYY MM DD HH sw se nw ne\n"
          "2001 1 1 0 3.5 2.0 1.5 1.0\n2001 1 2 0 2.1 2.6 0.8 0.5\n2001 1 3 0 "
          "1 1 1 1\n");
      dir.write(
          "humidity.txt",
          station_table(
              "2001 1 1 0 0.7 0.8 0.75 0.9\n2001 1 2 0 0.6 0.65 0.5 0.55\n"
              "2001 1 3 0 0.9 0.9 0.9 0.9\n"));
      const run_result r = dir.run_velmo(np, {"basin.ctl"});
      ASSERT_EQ(r.status, 0) << r.output;
      EXPECT_NE(r.output.find("precipitation"), std::string::npos);
      const auto files = outputs(dir);
      for (const char *name : {"temperature.sta", "precipitation.sta",
                               "wind_speed.sta", "humidity.sta"})
        EXPECT_EQ(files.count(name), 1u) << name;
      if (reference.empty()) {
        reference = files;
        EXPECT_GE(files.size(), 16u)
            << "three dated grids of each input and their statistics";
        continue;
      }
      ASSERT_EQ(files.size(), reference.size());
      for (const auto &[name, text] : reference)
        EXPECT_EQ(files.at(name), text) << name;
    }
  unsetenv("OMP_NUM_THREADS");
}

} // namespace
