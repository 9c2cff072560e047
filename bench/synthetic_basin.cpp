// A synthetic basin for the whole-program set-up benchmark
// (bench/bench_setup.sh): an n x n zone grid of 100 m cells with a ragged
// nodata border, a few nodata holes and several subbasins, a rippled
// elevation model, and a control file whose modules are all inactive, so that
// a run is the set-up (reading, division, derived grids, their output) and
// one day of an empty time loop. The zone grid is also the grid of the
// regression regions (one region per subbasin).
//
//   synthetic_basin n subbasins directory
//
// Writes zones.asc, dem.asc, basin.ctl and MpiSpeedFactor.dat (every
// process equally fast, so the division does not depend on the load of the
// machine) into directory, which must exist, and creates its output/.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr double CELL_SIZE = 100;  // [m]
constexpr double PI = 3.14159265358979323846;

// Deterministic pseudo-random numbers in [0, 1) (no library state).
double noise(unsigned long long k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdULL;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ULL;
  k ^= k >> 33;
  return static_cast<double>(k >> 11) / 9007199254740992.0;
}

struct basin_shape {
  int n;
  int subbasins;

  // Subbasin code of a cell, or 0 outside the basin: a disc whose radius
  // wanders with the angle (the ragged border), cut into sectors, with
  // small square holes.
  int zone(int row, int col) const {
    const double centre = 0.5 * (n + 1);
    const double dy = centre - row;
    const double dx = col - centre;
    const double angle = std::atan2(dy, dx) + PI;  // 0 .. 2 pi
    const double radius = 0.46 * n *
                          (1.0 + 0.06 * std::sin(7 * angle) + 0.03 * std::sin(23 * angle + 1.0)) *
                          (0.97 + 0.03 * noise(static_cast<unsigned long long>(row) * 7919U + 13U));
    if (dx * dx + dy * dy > radius * radius) return 0;
    const int hole = n / 16 > 8 ? n / 16 : 8;
    if (row % hole == hole / 2 && col % hole < 3) return 0;
    int sector = static_cast<int>(angle / (2 * PI) * subbasins);
    if (sector >= subbasins) sector = subbasins - 1;
    return sector + 1;
  }

  double elevation(int row, int col) const {
    const double centre = 0.5 * (n + 1);
    const double dy = centre - row;
    const double dx = col - centre;
    return 400.0 + 0.02 * std::sqrt(dx * dx + dy * dy) * CELL_SIZE +
           25.0 * std::sin(row / 37.0) * std::cos(col / 53.0) + 3.0 * std::sin(row * 0.9 + col * 1.7);
  }
};

bool write_grid(const std::string& path, int n, bool as_zone, const basin_shape& shape) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  std::fprintf(file, "ncols %d\nnrows %d\nxllcorner 600000\nyllcorner 200000\ncellsize %g\n"
                     "nodata_value -9999\n",
               n, n, CELL_SIZE);
  std::string line;
  char number[32];
  for (int row = 1; row <= n; ++row) {
    line.clear();
    for (int col = 1; col <= n; ++col) {
      const int code = shape.zone(row, col);
      int length = 0;
      if (code == 0)
        length = std::snprintf(number, sizeof number, "-9999");
      else if (as_zone)
        length = std::snprintf(number, sizeof number, "%d", code);
      else
        length = std::snprintf(number, sizeof number, "%.2f", shape.elevation(row, col));
      line.append(number, static_cast<size_t>(length));
      line.push_back(col < n ? ' ' : '\n');
    }
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
      std::fclose(file);
      return false;
    }
  }
  return std::fclose(file) == 0;
}

const char* CONTROL_FILE = R"(# Synthetic basin of the set-up benchmark; every module inactive.
$set $out = output/
$set $grids = ./

[output_interval]
24
0
0
0
WriteAsciiGrids = 1
WriteDoubleGrids = 0
DefaultOutputDirectory = $out

[output_list]
0

[coordinates]
47.4
8.5
15
0

[meteo_data_count]
0

[meteo_names]

[zone_grid]
$grids//zones.asc

[elevation_model]
$grids//dem.asc

[standard_grids]
1
$grids//zones.asc regression_regions fillcode = 0

[variable_grids]
0

[model_time]
0
1
1
2001
23
1
1
2001

[region_transition_distance]
300

[soil_surface_groundwater_substeps]
1

[ExternalCoupling]
0

[SpinUp]
0

[substance_transport]
0

[landuse_table]
0

[soil_table]
0

[lake_model]
0

[precipitation_correction]
0
0.5
0
0
0
0

[RegionalSuperposition]
0
60
)";

const char* MODULE_SECTIONS[] = {"radiation_correction", "evapotranspiration", "snow_model",
                                 "interception_model",   "SiltingUpModel",     "unsatzon_model",
                                 "SurfaceRoutingModel",  "irrigation",         "groundwater_flow",
                                 "routing_model",        "special_output"};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: synthetic_basin n subbasins directory\n");
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const int subbasins = std::atoi(argv[2]);
  const std::string dir = argv[3];
  if (n < 16 || subbasins < 1 || subbasins > 30) {
    std::fprintf(stderr, "n must be at least 16 and subbasins 1 to 30\n");
    return 2;
  }
  const basin_shape shape{n, subbasins};
  std::error_code error;
  std::filesystem::create_directories(dir + "/output", error);
  if (!write_grid(dir + "/zones.asc", n, true, shape) ||
      !write_grid(dir + "/dem.asc", n, false, shape)) {
    std::fprintf(stderr, "cannot write the grids into %s\n", dir.c_str());
    return 1;
  }
  std::FILE* control = std::fopen((dir + "/basin.ctl").c_str(), "w");
  std::FILE* speed = std::fopen((dir + "/MpiSpeedFactor.dat").c_str(), "w");
  if (control == nullptr || speed == nullptr) return 1;
  std::fputs(CONTROL_FILE, control);
  for (const char* section : MODULE_SECTIONS) std::fprintf(control, "\n[%s]\n0\n60\n", section);
  std::fputs("1\n", speed);
  return std::fclose(control) == 0 && std::fclose(speed) == 0 ? 0 : 1;
}
