// Zonal statistics summed over all processes: the file written by process 0
// is the same for any number of processes.
#include <gtest/gtest.h>
#include <mpi.h>

#include <memory>
#include <string>
#include <vector>

#include "modelbase/zonalstat.h"
#include "support/test_support.h"

namespace {



// Twelve cells in three zones (codes 2, 4, 9): cell i belongs to zone
// i % 3 + 1 and has the value i / 2 + s in step s; process p adds the cells
// with i % n == p. Per step: zone 1 sums 9 + 4 s, zone 2 11 + 4 s, zone 3
// 13 + 4 s, four cells each; every value is a multiple of 1/2, so the sums
// are exact in any order.
void run_steps(zonalstatistic& stat, int steps) {
  const int rank = world_rank();
  const int size = world_size();
  for (int s = 1; s <= steps; ++s) {
    stat.clear_step_sums();
    for (int i = 0; i < 12; ++i)
      if (i % size == rank) stat.add_value(0, 0, i % 3 + 1, i / 2.0 + s, 1);
    stat.complete_step(2003, 12, 31, 21 + s, 1);
  }
}

std::vector<zone_record> three_zones() {
  std::vector<zone_record> z(4);
  const double codes[] = {0, 2, 4, 9};
  const double shares[] = {0, 0.25, 0.25, 0.5};
  for (int k = 1; k <= 3; ++k) {
    z[static_cast<size_t>(k)].code = codes[k];
    z[static_cast<size_t>(k)].share = shares[k];
  }
  return z;
}

TEST(ZonalStatisticMpi, FileIsTheSameForAnyProcessCount) {
  scratch_dir dir;
  captured_diag cd(4, world_rank(), world_size());
  const std::string path = shared_path(dir);

  struct row {
    int code;
    int precision;
    std::vector<int> listed;
    double zone1_count;  // on process 0 after the last step
    std::string expected;
  } rows[] = {
      // Means over two steps: zone 1 (13 + 17) / 8, zone 2 (15 + 19) / 8,
      // zone 3 (17 + 21) / 8, all 102 / 24.
      // Zone 1 then holds the count of the period: 2 steps of 4 cells.
      {2002, 3, {0}, 8,
       "YY\tMM\tDD\tHH\t\"2\"\t\"4\"\t\"9\"\ttot_average\nq_submodel:all\n"
       "--\t--\t--\t--\t0.2500000\t0.2500000\t0.5000000\t1.0000\n"
       "2003\t12\t31\t23\t3.750\t4.250\t4.750\t4.250\n"},
      // Listed zones 4 and 9, one row per step: 15/4, 17/4, 45/12, then
      // 19/4, 21/4, 57/12.
      {6001, 99, {2, 4, 9}, 4,
       "YY\tMM\tDD\tHH\t\"4\"\t\"9\"\ttot_average\nq_submodel:all\n"
       "--\t--\t--\t--\t0.2500000\t0.5000000\t1.0000\n"
       "2003\t12\t31\t22\t3.75\t4.25\t3.75\n"
       "2003\t12\t31\t23\t4.75\t5.25\t4.75\n"},
  };
  int n = 0;
  for (row& r : rows) {
    std::vector<zone_record> zones = three_zones();
    std::string name = path + "/stat" + std::to_string(n++) + ".txt";
    int status = -1;
    zonalstatistic stat(status, cd.diag.get(), nullptr, 0, nullptr, 0, 0, zones.data(), 3, r.code,
                        r.precision, name, nullptr, r.listed[0], &r.listed);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(stat.write_header("q", "all", nullptr, 0), world_rank() == 0 ? 0 : -1);
    run_steps(stat, 2);
    if (world_rank() == 0) {
      EXPECT_EQ(zones[1].count, r.zone1_count);  // the cells of all processes
    } else {
      EXPECT_EQ(stat.rows_in_use(), 0);
      EXPECT_EQ(zones[1].count, 0);  // left with zeros for the next step
      EXPECT_EQ(zones[1].code, 2);   // codes and shares stay
      EXPECT_EQ(zones[3].share, 0.5);
    }
    stat.release();
    MPI_Barrier(MPI_COMM_WORLD);
    if (world_rank() == 0) { EXPECT_EQ(read_file(name), r.expected) << r.code; }
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
