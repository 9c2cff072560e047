// Channel routing runs on process 0 alone, whatever the number of
// processes: the discharge file it writes holds the same values on 1, 2 or
// 3 processes, and the other processes route and write nothing.
#include <gtest/gtest.h>
#include <mpi.h>

#include <filesystem>
#include <sstream>

#include "routing/abfluss_fixture.h"

namespace {

TEST(AbflussProcesses, DischargeFileIsTheSameOnEveryProcessCount) {
  const int rank = world_rank();
  // Subbasin 1 has no channel (its routed value is its runoff, 2 mm); 2
  // takes 1 through a channel filled with the same 2 mm, so its outlet
  // carries 0.5 x 4 mm + 0.5 x 2 mm = 3 mm every step.
  routing_fixture rf(routing_zones({1, 2}, {0.5, 0.5}, 40));
  routing_section s;
  s.descriptions = {"TG 1 (A= 20, f= 1)", "TG 2 (A= 40, f= 1)",
                    "OL 1 " + channel_values(10, 10, 1000, 100)};
  abflussmodellklasse& m = rf.build(s);
  ASSERT_EQ(rf.status, 0);
  ASSERT_EQ(m.get_flow_control(), rank == 0 ? 1 : 0);
  rf.qg[0][1] = 2;
  rf.qg[0][2] = 4;
  ASSERT_EQ(rf.start(), 0);
  for (int t = 0; t < 6; ++t) m.time_step(t, 1, 1, 2000);
  m.flush_outputs();
  const std::string file = rf.f.cd.dir.file("qstat.txt");
  int rows = 0;
  int good_rows = 0;
  if (rank == 0) {
    std::istringstream in(read_file(file));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("2000\t", 0) != 0) continue;
      ++rows;
      if (line.size() > 16 && line.substr(line.size() - 16) == "\t2.00000\t3.00000") ++good_rows;
    }
  } else {
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  EXPECT_EQ(rows, rank == 0 ? 6 : 0);
  EXPECT_EQ(good_rows, rows);
  int all_good = good_rows == 6 ? 1 : 0;
  MPI_Bcast(&all_good, 1, MPI_INT, 0, MPI_COMM_WORLD);
  EXPECT_EQ(all_good, 1);
}

}  // namespace
