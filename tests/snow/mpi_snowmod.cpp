// The snow module on several processes: a grid of six rows of three cells
// dealt out in bands. Process 0 alone holds the whole slide grids and the
// elevation order, the same as one process makes; the glacier shares of the
// subbasins, summed on process 0, reach every process; the cells of every
// band end a run of steps as the whole grid computed by one module does.
#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

#include "snow/snow_fixture.h"

namespace {

constexpr int ROWS = 6;

int owner(int row, int size) { return (row - 1) * size / ROWS; }

TEST(SnowSetUpProcesses, SlideOrderOnProcessZeroAndGlacierRecordsEverywhere) {
  const int rank = world_rank();
  const int size = world_size();
  snow_fixture f(ROWS);
  f.settings.first_row = ROWS + 1;
  f.settings.last_row = ROWS;
  for (int r = 1; r <= ROWS; ++r)
    if (owner(r, size) == rank) {
      if (f.settings.first_row > r) f.settings.first_row = r;
      f.settings.last_row = r;
    }
  grid_matrix& regions = f.publish("MPIRegions");
  grid_matrix& helper = f.publish("MPIHelper");
  grid_matrix& ice = f.publish("ice_firn");
  for (int r = 1; r <= ROWS; ++r) {
    // Row pieces of the transfers, each row one piece of three cells:
    // process 0 lists (owner, count), the owner (first column, count).
    helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
    helper[r][2] = 3;
    for (int c = 1; c <= 3; ++c) {
      regions[r][c] = owner(r, size);
      // Elevations fall row by row, tie in pairs of cells: 100 - 10 r.
      f.grid("[elevation_model]")[r][c] = 100 - 10 * r - (c == 3 ? 1 : 0);
      f.grid("slope_angle")[r][c] = 10 * c;
      f.grid("zonegrid_soilmodel")[r][c] = r <= 3 ? 1 : 2;
      ice[r][c] = r == 1 ? 1 : (r == ROWS ? 1.5 : 0);
    }
  }
  snow_section_text s;
  s.method = "8";
  s.max_deposition_slope = "40";
  s.after = ice_firn_text{}.text();
  f.write(s);
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();

  EXPECT_EQ(m->holds_full_grid(), rank == 0);
  EXPECT_EQ(f.has("elev_order_row"), rank == 0);
  EXPECT_EQ(f.has("max_deposition"), rank == 0);
  if (rank == 0) {
    // Highest first; within a row columns 1 and 2 tie, the later first.
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        const int k = (r - 1) * 3 + (c - 1);  // k-th cell in row-major order
        const int row = k / 3 + 1;
        const int col = k % 3 == 0 ? 2 : (k % 3 == 1 ? 1 : 3);
        EXPECT_EQ(f.grid("elev_order_row")[r][c], row) << r << " " << c;
        EXPECT_EQ(f.grid("elev_order_col")[r][c], col) << r << " " << c;
        EXPECT_DOUBLE_EQ(f.grid("max_deposition")[r][c], 1 - 10.0 * c / 40);
      }
  }
  // Subbasin 1: row 1 glacier (3 cells), rows 2, 3 free; subbasin 2: row 6
  // at 1.5 counts 1.
  const auto& records = m->get_glacier_records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[1].glacierized);
  EXPECT_EQ(records[1].glacier_sum, 3);
  EXPECT_EQ(records[1].free_sum, 6);
  EXPECT_TRUE(records[2].glacierized);
  EXPECT_EQ(records[2].glacier_sum, 3);
  EXPECT_EQ(records[2].free_sum, 6);
  m->release();
}

// Forcing of step k in cell (r, c).
void force(snow_fixture& f, int k) {
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      const double t = -8 + 0.3 * k + 0.5 * r - c;
      f.grid("temperature")[r][c] = t;
      f.grid("temperature_night")[r][c] = t - 4;
      f.grid("precipitation")[r][c] = k % 5 < 2 ? 2 + 0.1 * r : 0;
      f.grid("wind_speed")[r][c] = 2;
      f.grid("air_humidity")[r][c] = 0.6 + 0.05 * c;
      f.grid("cloudiness")[r][c] = 0.5;
      f.grid("AspectCorrectedGlobalRadiation")[r][c] = 2000;
      f.grid("[elevation_model]")[r][c] = 500 + 100 * r;
    }
}

TEST(SnowCellsProcesses, EveryBandAsTheWholeGrid) {
  const int rank = world_rank();
  const int size = world_size();
  for (const char* method : {"1", "7", "11"}) {
    SCOPED_TRACE(std::string("method ") + method);
    // banded: this process's band of the division; whole: every row, no division.
    snow_fixture banded(ROWS);
    snow_fixture whole(ROWS);
    banded.settings.first_row = ROWS + 1;
    banded.settings.last_row = ROWS;
    for (int r = 1; r <= ROWS; ++r)
      if (owner(r, size) == rank) {
        if (banded.settings.first_row > r) banded.settings.first_row = r;
        banded.settings.last_row = r;
      }
    grid_matrix& regions = banded.publish("MPIRegions");
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) regions[r][c] = owner(r, size);
    std::unique_ptr<schneemodellklasse> modules[2];
    snow_fixture* fixtures[2] = {&banded, &whole};
    for (int k = 0; k < 2; ++k) {
      snow_section_text s;
      s.method = method;
      s.interval = 1440;
      fixtures[k]->write(s);
      MPI_Barrier(MPI_COMM_WORLD);
      int status = -1;
      modules[k] = fixtures[k]->build(status);
      ASSERT_EQ(status, 0) << fixtures[k]->console();
      modules[k]->select_input_grid(0);
    }
    for (int step = 0; step < 40; ++step)
      for (int k = 0; k < 2; ++k) {
        force(*fixtures[k], step);
        modules[k]->set_step_date(12, 1 + step % 28, 2, 2021);
        modules[k]->snow_cells(1 + step % 28, 2, 2021);
      }
    for (const char* n : {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total",
                          "snowcover_outflow", "days_snow", "snow_age", "albedo", "precipitation"})
      for (int r = banded.settings.first_row; r <= banded.settings.last_row; ++r)
        for (int c = 1; c <= 3; ++c)
          EXPECT_EQ(banded.grid(n)[r][c], whole.grid(n)[r][c]) << n << " " << r << " " << c;
    for (auto& m : modules) m->release();
  }
}

}  // namespace
