// The soil-water sums of the start report over the processes: every process
// adds the cells of its rows, process 0 receives the sums, and the printed
// means agree with the serial sum to 1e-12 relative however the rows are
// split (the sums reorder).
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <string>

#include "soilwater/unsatzon_statistics.h"
#include "support/test_support.h"

namespace {

// Water of the column of cell (r, c) [m], an uneven field.
double water(int r, int c) { return 0.1 + 0.013 * r + 0.0071 * c + 1e-3 * std::sin(r * c); }

TEST(UnsatzonStartReportProcesses, SumsAtProcessZeroMatchTheSerialSum) {
  constexpr int ROWS = 37;
  constexpr int COLS = 11;
  const int rank = world_rank();
  const int size = world_size();
  soil_water_sums serial;
  soil_water_sums own;
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) {
      add_cell_to_sums(serial, water(r, c), 0.45, 0, false, 0);
      // Rows dealt out in bands as the division does.
      if ((r - 1) * size / ROWS == rank) add_cell_to_sums(own, water(r, c), 0.45, 0, false, 0);
    }
  const soil_water_sums total = reduce_soil_water_sums(own);
  if (rank == 0) {
    EXPECT_DOUBLE_EQ(total.nu, ROWS * COLS);
    EXPECT_NEAR(total.wu / total.nu, serial.wu / serial.nu, 1e-12 * serial.wu / serial.nu);
    EXPECT_EQ(total.wg, 0);
    // Without glaciers and weights the line for all cells is the mean water
    // of the cells and the glacierized line 0.
    const std::string lines = start_report_lines(total);
    char expected[128];
    std::snprintf(expected, sizeof expected, "at model-start: %lf m^3/m^2\n",
                  serial.wu / serial.nu);
    EXPECT_NE(lines.find(expected), std::string::npos) << lines;
    EXPECT_NE(lines.find("completely glacierized cells at model-start: 0.000000"),
              std::string::npos);
  } else {
    EXPECT_DOUBLE_EQ(total.wu, own.wu);
  }
}

}  // namespace
