// What the unsaturated zone's reading does per process: the exchange with
// the river beyond 1 is refused with more than one process, and every
// process names its own storage-content file.
#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

TEST(UnsatzonProcesses, SurfaceInteractionAndStorageNamePerProcess) {
  const int rank = world_rank();
  const int size = world_size();
  struct row {
    const char* surface_interaction;
    int status;  // expected with more than one process; 0 with one
  } rows[] = {{"0", 0}, {"1", 0}, {"2", 9}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.surface_interaction);
    module_fixture f;
    f.publish_regions();
    f.soil_zone_grid[1][1] = 1;
    f.soil_zone_grid[1][2] = 1;
    f.soil_zone_grid[1][3] = 3;
    unsatzon_section_text section;
    section.surface_interaction = r.surface_interaction;
    // Refused before the rest of the section is checked.
    section.method = "4";
    f.write_control(section.text());
    MPI_Barrier(MPI_COMM_WORLD);
    int status = -1;
    unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                               1);
    const int expected = size > 1 && r.status != 0 ? r.status : 91;
    EXPECT_EQ(status, expected) << f.console();
    if (expected == 9) {
      EXPECT_NE(f.console().find("parameter for surface_interaction (actual value: 2) can only "
                                 "be 0 or 1 for MPI version when running more than one "
                                 "instance!"),
                std::string::npos);
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
  module_fixture f;
  f.publish_regions();
  f.soil_zone_grid[1][1] = 1;
  f.soil_zone_grid[1][2] = 3;
  f.soil_zone_grid[1][3] = 3;
  f.write_control(unsatzon_section_text{}.text());
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             1);
  ASSERT_EQ(status, 0) << f.console();
  EXPECT_EQ(unsat.get_parameters().storage_file_name, "state.txt_" + std::to_string(rank));
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
