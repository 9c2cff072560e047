// The glacier records of the subbasins: summed on process 0, the same on
// every process after the broadcast of the 24-byte records.
#include <gtest/gtest.h>
#include <mpi.h>

#include <vector>

#include "soilwater/unsatzon_glacier.h"
#include "support/test_support.h"

namespace {

TEST(UnsatzonGlacierRecords, SumsOfProcessZeroReachEveryProcess) {
  // Subbasin 1: cells 0.25, 0 and 1 -> flag, 1.25 glacierized, 0.75 + 1 + 0
  // free; subbasin 2: one cell without glacier; subbasin 3: none.
  std::vector<subbasin_glacier_record> records(4);
  if (world_rank() == 0) {
    for (double g : {0.25, 0.0, 1.0}) add_glacier_cell(records[1], g);
    add_glacier_cell(records[2], -1);
  } else {
    records[3].free_sum = 99;  // overwritten by the broadcast
  }
  broadcast_glacier_records(records);
  EXPECT_TRUE(records[1].glacierized);
  EXPECT_DOUBLE_EQ(records[1].glacier_sum, 1.25);
  EXPECT_DOUBLE_EQ(records[1].free_sum, 1.75);
  EXPECT_FALSE(records[2].glacierized);
  EXPECT_DOUBLE_EQ(records[2].glacier_sum, 0);
  EXPECT_DOUBLE_EQ(records[2].free_sum, 1);
  EXPECT_FALSE(records[3].glacierized);
  EXPECT_DOUBLE_EQ(records[3].free_sum, 0);
  EXPECT_FALSE(records[0].glacierized);
}

}  // namespace
