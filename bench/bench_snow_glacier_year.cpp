// The yearly update of the dynamic glaciers (snow module, glacier method 11)
// on one process: a square grid of 100 m cells with a mountain, four
// subbasins and glaciers on the upper slopes, a year's mass balance of loss
// below and gain above 3000 m, and deep snow on some cells outside the
// glaciers that turns into new glacier. Three updates one after another
// (the glaciers shrink and grow), each timed.
//   mpirun -np 1 build/bench_snow_glacier_year [cells per side]
#include <mpi.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "snow/snowmod.h"

namespace {

// "[snow_model]" with method 1 and "[ice_firn]" with method 11, the grids
// of their lines not written.
std::string section_text(const std::string& dir) {
  std::string s =
      "[snow_model]\n1 flow control parameter for\n1440 time "
      "interval for\n1 method for\n";
  const char* values[] = {"1",   "0",    "0", "0.1", "0.5", "3",  "2",
                          "0.5", "0.01", "1", "3",   "0.4", "0.9"};
  for (const char* v : values) s += std::string(v) + " value\n";
  auto grid = [&](const char* n) { s += dir + "/" + n + ".asc name\n0 writegrid\n"; };
  auto stat = [&](const char* n) { s += dir + "/" + n + ".txt 0 statistics\n"; };
  grid("rain");
  stat("rain");
  grid("snow");
  stat("snow");
  grid("days");
  stat("days");
  grid("age");
  stat("age");
  stat("albedo");
  grid("outflow");
  stat("outflow");
  grid("melt");
  stat("melt");
  grid("solid");
  grid("liquid");
  stat("total");
  grid("total");
  s += "0 readgrid\n[ice_firn]\n11 Glacier-Method for\n";
  for (const char* v :
       {"6", "5", "4", "2", "0.1", "0.3", "0.05", "0.2", "10", "20", "30", "1.5", "0", "2.25"})
    s += std::string(v) + " value\n";
  s += dir + "/firn.asc name\n0 code\n" + dir + "/qfirn.txt 0 stat\n" + dir +
       "/ice.asc name\n0 code\n" + dir + "/qice.txt 0 stat\n" + dir + "/glac.txt 0 stat\n";
  s += dir + "/qsog.txt 0 stat\n0 read grid\n3 2500 2\n30 9\n28.5 1.36 3 1\n" + dir +
       "/firn.stack name\n0 code\n" + dir + "/firn.txt 0 stat\n";
  s += dir + "/mb.asc name\n0 code\n" + dir + "/mbold.asc name\n0 code\n" + dir +
       "/mb1.txt 0 stat\n" + dir + "/mb2.txt 0 stat\n1 debris\n" + dir + "/sog.txt 0 stat\n";
  for (const char* n : {"solid", "liquid", "total", "melt", "surftemp", "snowtemp", "evap"})
    s += dir + "/" + n + "_g.asc name\n0 code\n";
  return s + "800 0.5\n[interception_model]\n0\n60\n";
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  const int side = argc > 1 ? std::atoi(argv[1]) : 1000;
  std::string dir = (std::filesystem::temp_directory_path() / "velmo_bench_XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 1;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::ofstream(dir + "/control.$$$") << section_text(dir);
  int status = 0;
  {
    std::ostringstream quiet;
    DiagStream diag("bench_diag.xml", 0, quiet, 0, 1);
    grid_store store;
    memory_handling memory;
    std::deque<grid_matrix> grids;
    auto publish = [&](const std::string& name) -> grid_matrix& {
      grids.push_back(memory.matrix(1, side, 0, side, side));
      const int index = static_cast<int>(grids.size());
      store[index].grid = &grids.back();
      store[index].grid_name = name;
      store[index].file_name = name + ".asc";
      return grids.back();
    };
    for (const char* n :
         {"zonegrid", "[elevation_model]", "zonegrid_soilmodel", "albedo", "landuse1",
          "temperature", "temperature_night", "wind_speed", "vapor_pressure", "slidefraction1",
          "slidefraction2", "slidefraction3", "slidefraction4", "slope_angle", "deposition_index",
          "cloudiness", "air_humidity", "AspectCorrectedGlobalRadiation", "precipitation"})
      publish(n);
    grid_matrix& share = publish("GlacierizedCells");
    grid_matrix& codes = publish("GlacierCodes");
    auto grid = [&](const std::string& name) -> grid_matrix& {
      for (int i = 1; i < GRID_STORE_FULL; ++i)
        if (store[i].grid_name && *store[i].grid_name == name) return *store[i].grid;
      std::abort();
    };
    // A mountain of 3800 m in the middle falling to 1000 m at the corners;
    // four subbasins by quadrant; glaciers where it is above 3000 m, a
    // glacier per quadrant and ridge band (codes 1..).
    const double mid = (side + 1) / 2.0;
    int glacier_cells = 0;
    for (int r = 1; r <= side; ++r)
      for (int c = 1; c <= side; ++c) {
        const double d = std::hypot(r - mid, c - mid) / (side / 2.0);
        const double z =
            3800 - 2800 * std::min(d, 1.0) + 60 * std::sin(r * 0.07) * std::cos(c * 0.05);
        grid("[elevation_model]")[r][c] = z;
        grid("zonegrid")[r][c] = 1;
        const int q = (r <= mid ? 0 : 2) + (c <= mid ? 1 : 2);
        grid("zonegrid_soilmodel")[r][c] = q;
        const bool ice = z > 3000;
        share[r][c] = ice ? std::min(1.0, (z - 3000) / 300) : 0;
        const int ring = static_cast<int>(std::atan2(r - mid, c - mid) * 4 / M_PI + 4) % 8;
        codes[r][c] = ice ? 1 + ring : -9999;
        glacier_cells += ice;
      }
    settings_context settings;
    std::vector<int> zone_index{0, 1, 2, 3, 4};
    std::vector<zone_record> zones(2);
    std::vector<row_strip> strips(static_cast<size_t>(side) + 1, row_strip{1, side});
    strips[0] = row_strip{0, -1};
    settings.control_file = dir + "/control.$$$";
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = side;
    settings.nrows = side;
    settings.first_row = 1;
    settings.last_row = side;
    settings.cellsize = 100;
    try {
      auto m = std::make_unique<schneemodellklasse>(status, &diag, nullptr, 0, "snow_model", &store,
                                                    settings);
      if (status != 0) throw status;
      std::printf("grid %d x %d, %d glacier cells, %zu glaciers\n", side, side, glacier_cells,
                  m->get_glaciers().size());
      for (int year = 1; year <= 3; ++year) {
        for (int r = 1; r <= side; ++r)
          for (int c = 1; c <= side; ++c) {
            const double z = grid("[elevation_model]")[r][c];
            if (grid("GlacierizedCells")[r][c] > 0)
              grid("GlacierMassBalance")[r][c] = 2 * (z - 3300) + 100 * year;
            // Deep snow below the glaciers on every 7th cell: new glacier.
            const double snow = z > 2800 && (r * 31 + c * 17) % 7 == 0 ? 1500 : 100;
            grid("snow_storage_total")[r][c] = snow;
            grid("snowstorage_solid")[r][c] = 0.8 * snow;
            grid("snowstorage_liquid")[r][c] = 0.2 * snow;
          }
        const auto start = std::chrono::steady_clock::now();
        m->yearly_glacier_update();
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        int now = 0;
        for (int r = 1; r <= side; ++r)
          for (int c = 1; c <= side; ++c) now += grid("GlacierizedCells")[r][c] > 0;
        std::printf(
            "year %d: yearly glacier update %8.3f s, %zu glaciers, %d "
            "glacier cells\n",
            year, t, m->get_glaciers().size(), now);
      }
      m->release();
    } catch (int code) {
      status = code;
      std::fprintf(stderr, "bench_snow_glacier_year: stopped with code %d\n%s", code,
                   quiet.str().c_str());
    }
    diag.close();
  }
  std::filesystem::current_path(previous);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  MPI_Finalize();
  return status;
}
