// The staged set-up of the settings object on every process: the copy of
// the control file, the zone grid and its division ("MPIRegions_0"), the
// elevation model, standard grids read or set to their default, and the same
// zone table and maximum elevation whatever the number of processes.
#include <gtest/gtest.h>
#include <mpi.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

namespace {



constexpr int NCOLS = 6;
constexpr int NROWS = 5;
// Zones 1, 2, 3 with 6, 10 and 4 cells (20 valid cells); row 1 is north.
const int ZONES[NROWS][NCOLS] = {{-9999, 1, 1, 2, -9999, -9999},
                                 {1, 1, 2, 2, 2, -9999},
                                 {1, 1, 2, 2, 2, 2},
                                 {-9999, 3, 3, 2, 2, -9999},
                                 {-9999, -9999, 3, 3, -9999, -9999}};

std::string text_grid(const std::function<double(int, int)>& value) {
  std::ostringstream s;
  s << "ncols 6\nnrows 5\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";
  for (int r = 1; r <= NROWS; ++r) {
    for (int c = 1; c <= NCOLS; ++c) s << (c > 1 ? " " : "") << value(r, c);
    s << "\n";
  }
  return s.str();
}

// Elevation 100 * row + column, and 9999 outside the zones at row 5,
// column 6, which the maximum must not see.
double elevation(int r, int c) { return r == 5 && c == 6 ? 9999 : 100.0 * r + c; }

const std::string CONTROL_TAIL =
    "[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n[meteo_names]\n"
    "[zone_grid]\n$dir//zones.asc\n"
    "[elevation_model]\n$dir//dem.asc   # read from its file\n"
    "[standard_grids]\n2\n"
    "$dir//soil.asc soil_depth 0\n"
    "never_opened.asc constant fillcode = 0 readcode = 0 defaultValue = 2.5\n"
    "[model_time]\n0\n1\n1\n2001\n23\n31\n12\n2001\n"
    "[landuse_table]\n0\n[soil_table]\n0\n[irrigation]\n0\n"
    "[radiation_correction]\n0 60\n"
    "[variable_grids]\n0\n[region_transition_distance]\n1000\n";

// Runs the set-up in a shared directory with a speed file (equal weights,
// no benchmark) and counts the init_step calls.
struct setup_run {
  setup_run() : cap(4, world_rank(), world_size()), path(shared_path(dir)) {
    if (world_rank() == 0) {
      dir.write("zones.asc", text_grid([](int r, int c) { return ZONES[r - 1][c - 1]; }));
      dir.write("dem.asc", text_grid(elevation));
      dir.write("soil.asc", text_grid([](int, int) { return 7.0; }));
      dir.write("MpiSpeedFactor.dat", "1\n");
      dir.write("run.ctl", "$set $dir = " + path + "/\n[output_interval]\n1\n0\n0\n0\n"
                               "WriteAsciiGrids = 1\nDefaultOutputDirectory = $dir//\n\n" +
                               CONTROL_TAIL);
    }
    MPI_Barrier(MPI_COMM_WORLD);
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) old_dir = cwd;
    EXPECT_EQ(chdir(path.c_str()), 0);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), path + "/run.ctl", &registry,
                                            200, 2, &store);
    bool done = false;
    try {
      while (!done && calls < 100) {
        settings->init_step(done);
        ++calls;
      }
    } catch (int c) {
      code = c;
    }
  }
  ~setup_run() {
    if (settings) settings->release();
    if (!old_dir.empty()) {
      EXPECT_EQ(chdir(old_dir.c_str()), 0);
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
  scratch_dir dir;
  captured_diag cap;
  std::string path;
  std::string old_dir;
  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  int calls = 0;
  int code = 0;
};

}  // namespace

TEST(DefaultiniSetup, StagesRunToTheEndOnEveryProcess) {
  setup_run run;
  ASSERT_EQ(run.code, 0) << run.cap.console();
  EXPECT_EQ(run.status, 0U);
  EXPECT_EQ(run.calls, 24);  // stages 0 to 22 and the call that reports done

  const settings_context& exported = run.settings->export_settings();
  EXPECT_EQ(exported.control_file, run.path + "/run.ctl.$$$");
  EXPECT_EQ(exported.ncols, NCOLS);
  EXPECT_EQ(exported.nrows, NROWS);
  EXPECT_EQ(exported.xllcorner, 1000);
  EXPECT_EQ(exported.yllcorner, 2000);
  EXPECT_EQ(exported.cellsize, 100);
  EXPECT_EQ(exported.nodata, -9999);
  EXPECT_EQ(exported.end_date.year, 2001);
  // Zones counted by hand from ZONES: 6, 10 and 4 cells.
  ASSERT_EQ(exported.zone_table.zone_count, 3);
  EXPECT_EQ((*exported.zone_table.zones)[1].sum, 6);
  EXPECT_EQ((*exported.zone_table.zones)[2].sum, 10);
  EXPECT_EQ((*exported.zone_table.zones)[3].sum, 4);
  // Two standard grids, the three grids of the division and the derived
  // grids: cell sizes and relative area (3), coordinates (2), slope and
  // aspect (2), the weights of the one region (1).
  EXPECT_EQ(exported.registered_grids, 13);
  int64_t cells = 0;
  for (int64_t n : *exported.cells_per_process) cells += n;
  EXPECT_EQ(cells, 20);

  // Highest elevation inside the zones: row 5, column 4 = 504.
  EXPECT_EQ(run.settings->get_max_elevation(), 504);
  EXPECT_EQ(run.settings->substep_count(), 1);
}

TEST(DefaultiniSetup, CopyAndDivisionFileOnProcessZero) {
  setup_run run;
  ASSERT_EQ(run.code, 0) << run.cap.console();
  if (world_rank() != 0) return;
  // The copy: the definition left out, symbols replaced, "//" joined, the
  // comment cut with the blank before it.
  const std::string copy = read_file(run.path + "/run.ctl.$$$");
  EXPECT_EQ(copy.find("$"), std::string::npos);
  EXPECT_NE(copy.find("[zone_grid]\n" + run.path + "/zones.asc\n"), std::string::npos);
  EXPECT_NE(copy.find("[elevation_model]\n" + run.path + "/dem.asc  \n"), std::string::npos);
  EXPECT_NE(copy.find("DefaultOutputDirectory = " + run.path + "/\n"), std::string::npos);

  // "MPIRegions_0" in the output directory, as text: the owner of every zone
  // cell, northern cells to the highest process, nodata outside the zones.
  std::ifstream regions(run.path + "/MPIRegions_0");
  ASSERT_TRUE(regions.good());
  std::string word;
  double value = 0;
  for (int i = 0; i < 6; ++i) regions >> word >> value;
  std::vector<int> per_process(static_cast<size_t>(world_size()), 0);
  int previous = world_size() - 1;
  for (int r = 1; r <= NROWS; ++r) {
    for (int c = 1; c <= NCOLS; ++c) {
      ASSERT_TRUE(regions >> value);
      if (ZONES[r - 1][c - 1] == -9999) {
        EXPECT_EQ(value, -9999);
        continue;
      }
      const int owner = static_cast<int>(value);
      ASSERT_GE(owner, 0);
      ASSERT_LT(owner, world_size());
      EXPECT_LE(owner, previous);  // owners never rise in row order
      previous = owner;
      ++per_process[static_cast<size_t>(owner)];
    }
  }
  // Equal speeds: 20 cells in equal shares, the last process takes the rest.
  const int n = world_size();
  for (int p = 0; p < n; ++p) {
    const int quota = p < n - 1 ? static_cast<int>(20.0 / n + 0.4999) : 0;
    if (p < n - 1) {
      EXPECT_EQ(per_process[static_cast<size_t>(p)], quota) << "process " << p;
    }
  }
}

TEST(DefaultiniSetup, StandardGridsReadOrSetToTheirDefault) {
  setup_run run;
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const grid_store& s = run.store;
  const settings_context& exported = run.settings->export_settings();
  const int soil = run.settings->find_grid("soil_depth");
  const int constant = run.settings->find_grid("constant");
  ASSERT_GT(soil, 2);
  ASSERT_GT(constant, 2);
  // A grid with read code 0 is never opened: its file name is its grid name.
  EXPECT_EQ(*s[constant].file_name, "constant");
  // Process 0 keeps the whole grids; every other process holds the values
  // of the cells it owns.
  const grid_matrix& elevation_grid = *s[2].grid;
  const grid_matrix& regions = *s[run.settings->find_grid("MPIRegions")].grid;
  int checked = 0;
  for (int r = exported.first_row; r <= exported.last_row; ++r) {
    for (int c = 1; c <= NCOLS; ++c) {
      if (world_rank() != 0 && regions[r][c] != world_rank()) continue;
      const bool zone = ZONES[r - 1][c - 1] != -9999;
      EXPECT_EQ((*s[soil].grid)[r][c], 7.0);
      EXPECT_EQ((*s[constant].grid)[r][c], zone ? 2.5 : -9999.0);
      EXPECT_EQ(elevation_grid[r][c], elevation(r, c)) << r << "," << c;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}
