// The set-up of the example basin (examples/basin), run on a copy in a
// scratch directory: the same zone table, maximum elevation and grid values
// for any number of processes, and the statistics header of its standard
// grid.
#include <gtest/gtest.h>
#include <mpi.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

namespace {



const std::filesystem::path EXAMPLE =
    std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "examples" / "basin";

}  // namespace

TEST(DefaultiniExample, BasinSetsUpAlikeOnAnyNumberOfProcesses) {
  scratch_dir dir;
  captured_diag cap(4, world_rank(), world_size());
  const std::string path = shared_path(dir);
  if (world_rank() == 0) {
    for (const char* name : {"basin.ctl", "zones.asc", "dem.asc", "soil_depth.asc"})
      std::filesystem::copy_file(EXAMPLE / name, std::filesystem::path(path) / name);
    std::filesystem::create_directory(std::filesystem::path(path) / "output");
    dir.write("MpiSpeedFactor.dat", "1\n");
  }
  MPI_Barrier(MPI_COMM_WORLD);
  char cwd[4096] = {};
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(path.c_str()), 0);

  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  defaultini settings(status, cap.diag.get(), "basin.ctl", &registry, 200, 2, &store);
  int code = 0;
  try {
    bool done = false;
    while (!done) settings.init_step(done);
    settings.setup_zonal_statistics();
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 0) << cap.console();
  if (code == 0) {
    const settings_context& exported = settings.export_settings();
    // Cells per subbasin counted in zones.asc: 68, 53, 69.
    ASSERT_EQ(exported.zone_table.zone_count, 3);
    EXPECT_EQ((*exported.zone_table.zones)[1].sum, 68);
    EXPECT_EQ((*exported.zone_table.zones)[2].sum, 53);
    EXPECT_EQ((*exported.zone_table.zones)[3].sum, 69);
    EXPECT_EQ(exported.end_date.day, 31);
    // The highest cell inside the basin in dem.asc.
    EXPECT_EQ(settings.get_max_elevation(), 744);
    // The hole at row 8, column 10 takes its first valid neighbour (row 7,
    // column 10), 0.75 in soil_depth.asc.
    const grid_matrix& regions = *store[settings.find_grid("MPIRegions")].grid;
    const grid_matrix& depth = *store[settings.find_grid("soil_depth")].grid;
    const bool holds_row = regions.first_row() <= 8 && 8 <= regions.last_row();
    if (holds_row && regions[8][10] == world_rank()) {
      EXPECT_EQ(depth[8][10], 0.75);
    }
    if (world_rank() == 0) {
      EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path) / "output" / "MPIRegions_0"));
      // Area shares 68/190, 53/190, 69/190.
      const std::string header = read_file(path + "/output/soil_depth.sta");
      EXPECT_NE(header.find("--\t--\t--\t--\t0.3578947\t0.2789474\t0.3631579\t1.0000\n"),
                std::string::npos)
          << header;
    }
  }
  settings.release();
  EXPECT_EQ(chdir(cwd), 0);
  MPI_Barrier(MPI_COMM_WORLD);
}
