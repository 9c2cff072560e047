// The set-up of a basin whose derived grids every process computes over its
// own band: the written files are byte for byte the same for 1, 2, 3 and 8
// processes and for 1 and 4 threads, as text and as binary grids. The basin
// has a ragged outline, holes, a row without basin cells, five subbasins
// that are also the regression regions, given cell sizes in x that are not
// multiples of anything (so the cumulated coordinates depend on the order
// of every sum) and elevations outside the basin too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/cli_support.h"

namespace {

constexpr int ROWS = 57;
constexpr int COLS = 43;

bool in_basin(int r, int c) {
  if (r == 29 || (r % 9 == 4 && c % 7 == 2)) return false;
  const double dy = (r - 29.0) / 27.0;
  const double dx = (c - 22.0) / 20.0;
  const double ragged = 0.86 + 0.14 * ((r * 7 + c * 5) % 5) / 4.0;
  return dx * dx + dy * dy <= ragged * ragged;
}

template <class F>
std::string grid_text(F value) {
  std::string text = "ncols " + std::to_string(COLS) + "\nnrows " + std::to_string(ROWS) +
                     "\nxllcorner 3456700.5\nyllcorner 5400000\ncellsize 25\nnodata_value -9999\n";
  char number[64];
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) {
      std::snprintf(number, sizeof number, "%.4f ", value(r, c));
      text += number;
    }
    text += "\n";
  }
  return text;
}

std::string control_text(bool as_text) {
  std::string text = "[output_interval]\n24\n0\n0\n0\nWriteAsciiGrids = ";
  text += as_text ? "1\nWriteDoubleGrids = 0\n" : "0\nWriteDoubleGrids = 1\n";
  text +=
      "DefaultOutputDirectory = output/\n[output_list]\n0\n[coordinates]\n47.4\n8.5\n15\n0\n"
      "[meteo_data_count]\n0\n[meteo_names]\n[zone_grid]\nzones.asc\n[elevation_model]\n"
      "dem.asc\n[standard_grids]\n2\nzones.asc regression_regions fillcode = 0\n"
      "sx.asc CellSizeX fillcode = 0\n[variable_grids]\n0\n"
      "[model_time]\n0\n1\n1\n2001\n23\n1\n1\n2001\n[region_transition_distance]\n90\n"
      "[soil_surface_groundwater_substeps]\n1\n[ExternalCoupling]\n0\n[SpinUp]\n0\n"
      "[substance_transport]\n0\n[landuse_table]\n0\n[soil_table]\n0\n[lake_model]\n0\n"
      "[precipitation_correction]\n0\n0.5\n0\n0\n0\n0\n[RegionalSuperposition]\n0\n60\n";
  for (const char* section :
       {"radiation_correction", "evapotranspiration", "snow_model", "interception_model",
        "SiltingUpModel", "unsatzon_model", "SurfaceRoutingModel", "irrigation",
        "groundwater_flow", "routing_model", "special_output"})
    text += std::string("[") + section + "]\n0\n60\n";
  return text;
}

void write_basin(const cli_workdir& dir, bool as_text) {
  std::filesystem::create_directories(dir.file("output"));
  dir.write("basin.ctl", control_text(as_text));
  dir.write("MpiSpeedFactor.dat", "1\n");
  dir.write("zones.asc", grid_text([](int r, int c) {
              return in_basin(r, c) ? 1.0 + (r > 20) + (r > 40) + (c > 22) + (c > 35) : -9999.0;
            }));
  dir.write("dem.asc", grid_text([](int r, int c) {
              if (!in_basin(r, c) && (r + 2 * c) % 5 == 0) return -9999.0;
              return 612.5 + 1.7 * r - 0.9 * c + 4.0 * std::sin(0.5 * r) * std::cos(0.7 * c);
            }));
  dir.write("sx.asc", grid_text([](int r, int c) { return 24.3 + 0.0173 * ((r * 7 + c * 3) % 11); }));
}

std::set<std::string> output_files(const cli_workdir& dir) {
  std::set<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(dir.file("output")))
    names.insert(f.path().filename().string());
  return names;
}

struct division_case {
  int processes;
  int threads;
};

TEST(SetupBands, WrittenFilesDoNotDependOnProcessesOrThreads) {
  const division_case cases[] = {{2, 1}, {3, 1}, {8, 1}, {1, 4}, {3, 4}};
  for (const bool as_text : {true, false}) {
    SCOPED_TRACE(as_text ? "text grids" : "binary grids");
    cli_workdir reference;
    write_basin(reference, as_text);
    const run_result r1 = reference.run_velmo(1, {"basin.ctl"}, "", 1);
    ASSERT_EQ(r1.status, 0) << r1.output;
    const std::set<std::string> files = output_files(reference);
    for (const char* name : {"zones.$csy", "zones.$rca", "zones.$cx", "zones.$cy", "dem.$sl",
                             "dem.$ex", "zones.$w1", "zones.$r2", "zones.$w2", "zones.$r3",
                             "zones.$w3"})
      EXPECT_EQ(files.count(name), 1U) << name;
    for (const division_case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.processes << " processes, " << c.threads
                                      << " threads");
      cli_workdir run;
      write_basin(run, as_text);
      const run_result r = run.run_velmo(c.processes, {"basin.ctl"}, "", c.threads);
      ASSERT_EQ(r.status, 0) << r.output;
      EXPECT_EQ(output_files(run), files);
      for (const std::string& name : files) {
        if (name == "MPIRegions_0") continue;
        EXPECT_TRUE(reference.read("output/" + name) == run.read("output/" + name)) << name;
      }
    }
  }
}

}  // namespace
