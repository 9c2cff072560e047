// Channel routing lives on process 0: every other process builds the module
// inactive and keeps the value it read as the routing activity elsewhere.
// The zone table it is built from is the unsaturated zone's, the same on
// every process.
#include <gtest/gtest.h>
#include <mpi.h>

#include "routing/abfluss.h"
#include "routing/abfluss_fixture.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

TEST(AbflussProcesses, RoutingIsActiveOnProcessZeroOnly) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  module_fixture f;
  // Codes 7, 3, 7 rank into two zones, 3 -> 1 and 7 -> 2.
  f.soil_zone_grid[1][1] = 7;
  f.soil_zone_grid[1][2] = 3;
  f.soil_zone_grid[1][3] = 7;
  f.publish_regions();
  unsatzon_section_text section;
  section.codes = "3 7";
  routing_section routing_text;
  routing_text.flow_control = 2;
  routing_text.descriptions = {"TG 3 (A= 1, f= 1)"};
  f.write_control(section.text() + routing_text.text());
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store,
                             f.settings, 1);
  ASSERT_EQ(status, 0);
  const zone_table_view own = unsat.get_zone_table();
  ASSERT_NE(own.zone_index, nullptr);
  EXPECT_EQ(own.zone_count, 2);
  EXPECT_EQ(own.max_zone_code, 7);
  EXPECT_EQ((*own.zone_index)[7], 2);

  abflussmodellklasse routing(status, f.diag(), nullptr, 0, "routing_model", &f.store,
                              f.settings, 0, nullptr, own, unsat.get_readgrid());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(routing.get_flow_control(), rank == 0 ? 2 : 0);
  // Process 0 counts as routing elsewhere; the others keep the 2 they read.
  EXPECT_EQ(routing.get_routing_active_elsewhere(), rank == 0 ? 1 : 2);
  EXPECT_EQ(count_of(f.console(), "file abfluss, compiled at "), rank == 0 ? 1 : 0);
}

}  // namespace
