// Whole steps of the snow module with slides on 1 to 4 processes: the cells
// of every band end a run of steps bit for bit as the whole grid computed
// on process 0 by one module without a division does, slides included
// (process 0 walks the gathered grid).
#include <gtest/gtest.h>
#include <mpi.h>

#include <string>
#include <vector>

#include "snow/snow_fixture.h"

namespace {

constexpr int ROWS = 7;

int owner(int row, int size) { return (row - 1) * size / ROWS; }

void force(snow_fixture& f, int step) {
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      f.grid("temperature")[r][c] = -6 + 0.25 * step - 0.5 * r + 0.1 * c;
      f.grid("temperature_night")[r][c] = f.grid("temperature")[r][c] - 2;
      f.grid("precipitation")[r][c] = step % 3 == 0 ? 2 + 0.3 * r + 0.1 * c : 0;
      f.grid("deposition_index")[r][c] = 0.1 * (c - 2);
    }
}

TEST(SnowStepProcesses, SlidesGiveTheWholeGridOnEveryBand) {
  const int rank = world_rank();
  const int size = world_size();
  for (const char* method : {"8", "9"}) {
    SCOPED_TRACE(std::string("method ") + method);
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
    grid_matrix& helper = banded.publish("MPIHelper");
    for (int r = 1; r <= ROWS; ++r) {
      helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
      helper[r][2] = 3;
      for (int c = 1; c <= 3; ++c) regions[r][c] = owner(r, size);
    }
    snow_fixture* fixtures[2] = {&banded, &whole};
    std::unique_ptr<schneemodellklasse> modules[2];
    for (int k = 0; k < 2; ++k) {
      snow_fixture& f = *fixtures[k];
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= 3; ++c) {
          f.grid("[elevation_model]")[r][c] = 2000 - 50 * r + 7 * ((r * c) % 3);
          f.grid("slope_angle")[r][c] = (r + c) % 4 == 0 ? 10 : 35 + r;
          f.grid("zonegrid")[r][c] = c == 3 && r > 4 ? 2 : 1;
          for (int q = 1; q <= 4; ++q)
            f.grid("slidefraction" + std::to_string(q))[r][c] = 1 + (q * r + c) % 3;
        }
      snow_section_text s;
      s.method = method;
      s.slide_mass_fraction = "0.15";
      f.write(s);
      MPI_Barrier(MPI_COMM_WORLD);
      int status = -1;
      modules[k] = f.build(status);
      ASSERT_EQ(status, 0) << f.console();
      modules[k]->select_input_grid(0);
    }
    for (int step = 0; step < 30; ++step)
      for (int k = 0; k < 2; ++k) {
        force(*fixtures[k], step);
        modules[k]->time_step(step % 24 + 1, 1 + step / 24, 2, 2021);
      }
    // The whole-grid module walks its slides on process 0 alone: the bands
    // come together there (each cell from its owner, zeros elsewhere).
    for (const char* n : {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total",
                          "snowcover_outflow", "input_mass", "mobile_mass", "deposition"}) {
      std::vector<double> mine(ROWS * 3, 0.0), all(ROWS * 3, 0.0);
      for (int r = banded.settings.first_row; r <= banded.settings.last_row; ++r)
        for (int c = 1; c <= 3; ++c)
          mine[static_cast<size_t>((r - 1) * 3 + c - 1)] = banded.grid(n)[r][c];
      MPI_Reduce(mine.data(), all.data(), ROWS * 3, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
      if (rank != 0) continue;
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= 3; ++c) {
          EXPECT_EQ(all[static_cast<size_t>((r - 1) * 3 + c - 1)], whole.grid(n)[r][c])
              << n << " " << r << " " << c;
        }
    }
    double moved = 0;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) moved += whole.grid("input_mass")[r][c];
    if (rank == 0) {
      EXPECT_GT(moved, 0);
    }
    for (auto& m : modules) m->release();
  }
}

}  // namespace

namespace {

// The yearly glacier update with the grids dealt out in bands: shares,
// codes, balances, firn and storages on every band and the glacier records
// on every process as one module without a division computes them.
TEST(SnowStepProcesses, YearlyGlacierUpdateGivesTheWholeGrid) {
  const int rank = world_rank();
  const int size = world_size();
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
  grid_matrix& helper = banded.publish("MPIHelper");
  for (int r = 1; r <= ROWS; ++r) {
    helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
    helper[r][2] = 3;
    for (int c = 1; c <= 3; ++c) regions[r][c] = owner(r, size);
  }
  snow_fixture* fixtures[2] = {&banded, &whole};
  std::unique_ptr<schneemodellklasse> modules[2];
  for (int k = 0; k < 2; ++k) {
    snow_fixture& f = *fixtures[k];
    grid_matrix& share = f.publish("GlacierizedCells");
    grid_matrix& codes = f.publish("GlacierCodes");
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        // Glacier 3 in the upper rows of subbasin 1, glacier 4 in subbasin 2.
        share[r][c] = r <= 2 ? (c == 2 ? 1 : 0.6) : (r == 6 && c < 3 ? 0.4 : 0);
        codes[r][c] = r <= 2 ? 3 : (r == 6 && c < 3 ? 4 : -9999);
        f.grid("[elevation_model]")[r][c] = 3200 - 100 * r - 10 * c;
        f.grid("zonegrid_soilmodel")[r][c] = r <= 4 ? 1 : 2;
      }
    f.zone_index = {0, 1, 2};
    snow_section_text s;
    ice_firn_text g;
    g.method = "11";
    g.line27 = "28.5 1.36 2 1";
    s.after = g.text();
    f.write(s);
    MPI_Barrier(MPI_COMM_WORLD);
    int status = -1;
    modules[k] = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    modules[k]->select_input_grid(0);
    // The year's balance and the snow of the own rows: loss on glacier 3,
    // deep snow on two cells outside the glaciers.
    const int first = k == 0 ? banded.settings.first_row : 1;
    const int last = k == 0 ? banded.settings.last_row : ROWS;
    for (int r = first; r <= last; ++r)
      for (int c = 1; c <= 3; ++c) {
        if (share[r][c] > 0) f.grid("GlacierMassBalance")[r][c] = r <= 2 ? -2500 : 300;
        const double snow = (r == 3 && c == 3) || (r == 7 && c == 1) ? 1500 : 100;
        f.grid("snow_storage_total")[r][c] = snow;
        f.grid("snowstorage_solid")[r][c] = 0.8 * snow;
        f.grid("snowstorage_liquid")[r][c] = 0.2 * snow;
      }
  }
  for (auto& m : modules) m->yearly_glacier_update();
  for (const char* n : {"GlacierizedCells", "GlacierCodes", "GlacierMassBalance",
                        "OldGlacierMassBalance", "firn_WE_stack", "snow_storage_total",
                        "TotalSnowStorage_onGlacier"}) {
    std::vector<double> mine(ROWS * 3, 0.0), all(ROWS * 3, 0.0);
    for (int r = banded.settings.first_row; r <= banded.settings.last_row; ++r)
      for (int c = 1; c <= 3; ++c)
        mine[static_cast<size_t>((r - 1) * 3 + c - 1)] = banded.grid(n)[r][c];
    MPI_Reduce(mine.data(), all.data(), ROWS * 3, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    if (rank != 0) continue;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(all[static_cast<size_t>((r - 1) * 3 + c - 1)], whole.grid(n)[r][c])
            << n << " " << r << " " << c;
      }
  }
  const auto& a = modules[0]->get_glacier_records();
  const auto& b = modules[1]->get_glacier_records();
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 1; i < a.size(); ++i) {
    EXPECT_EQ(a[i].glacierized, b[i].glacierized) << i;
    EXPECT_EQ(a[i].glacier_sum, b[i].glacier_sum) << i;
    EXPECT_EQ(a[i].free_sum, b[i].free_sum) << i;
  }
  if (rank == 0) {
    // The two snow cells became glacier and joined the glacier of a
    // neighbour in their subbasin: (3, 3) glacier 3 through its north-west
    // neighbour, (7, 1) glacier 4 through its northern one.
    EXPECT_GT(whole.grid("GlacierizedCells")[3][3], 0);
    EXPECT_GT(whole.grid("GlacierizedCells")[7][1], 0);
    EXPECT_EQ(whole.grid("GlacierCodes")[3][3], 3);
    EXPECT_EQ(whole.grid("GlacierCodes")[7][1], 4);
    EXPECT_EQ(modules[1]->get_glaciers().size(), 2u);
  }
  for (auto& m : modules) m->release();
}

}  // namespace

namespace {

// Slides with glacier storages before and after a yearly update that gives
// two cells their first glacier share: the walk's cached share is taken
// anew on process 0 and the owners form the solid storages with the new
// share, so every band still ends as the whole grid does.
TEST(SnowStepProcesses, SlidesOnGlaciersAcrossAYearlyUpdate) {
  const int rank = world_rank();
  const int size = world_size();
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
  grid_matrix& helper = banded.publish("MPIHelper");
  for (int r = 1; r <= ROWS; ++r) {
    helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
    helper[r][2] = 3;
    for (int c = 1; c <= 3; ++c) regions[r][c] = owner(r, size);
  }
  snow_fixture* fixtures[2] = {&banded, &whole};
  std::unique_ptr<schneemodellklasse> modules[2];
  for (int k = 0; k < 2; ++k) {
    snow_fixture& f = *fixtures[k];
    grid_matrix& share = f.publish("GlacierizedCells");
    grid_matrix& codes = f.publish("GlacierCodes");
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        share[r][c] = r <= 2 ? (c == 2 ? 1 : 0.6) : (r == 6 && c < 3 ? 0.4 : 0);
        codes[r][c] = r <= 2 ? 3 : (r == 6 && c < 3 ? 4 : -9999);
        f.grid("[elevation_model]")[r][c] = 3200 - 100 * r - 10 * c;
        f.grid("zonegrid_soilmodel")[r][c] = r <= 4 ? 1 : 2;
        f.grid("slope_angle")[r][c] = (r + c) % 4 == 0 ? 10 : 35 + r;
        f.grid("zonegrid")[r][c] = c == 3 && r > 4 ? 2 : 1;
        for (int q = 1; q <= 4; ++q)
          f.grid("slidefraction" + std::to_string(q))[r][c] = 1 + (q * r + c) % 3;
      }
    f.zone_index = {0, 1, 2};
    snow_section_text s;
    s.method = "8";
    s.slide_mass_fraction = "0.15";
    ice_firn_text g;
    g.method = "11";
    g.line27 = "28.5 1.36 2 1";
    s.after = g.text();
    f.write(s);
    MPI_Barrier(MPI_COMM_WORLD);
    int status = -1;
    modules[k] = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    modules[k]->select_input_grid(0);
    const int first = k == 0 ? banded.settings.first_row : 1;
    const int last = k == 0 ? banded.settings.last_row : ROWS;
    for (int r = first; r <= last; ++r)
      for (int c = 1; c <= 3; ++c) {
        const double snow = (r == 3 && c == 3) || (r == 7 && c == 1) ? 1500 : 100;
        f.grid("snow_storage_total")[r][c] = snow;
        f.grid("snowstorage_solid")[r][c] = 0.8 * snow;
        f.grid("snowstorage_liquid")[r][c] = 0.2 * snow;
        if (share[r][c] > 0) {
          f.grid("GlacierMassBalance")[r][c] = r <= 2 ? -2500 : 300;
          f.grid("TotalSnowStorage_onGlacier")[r][c] = 200 + 10 * r;
          f.grid("SolidSnowStorage_onGlacier")[r][c] = 200 + 10 * r;
        }
      }
  }
  std::vector<double> share_before;
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) share_before.push_back(whole.grid("GlacierizedCells")[r][c]);
  for (int step = 0; step < 40; ++step) {
    for (int k = 0; k < 2; ++k) {
      force(*fixtures[k], step);
      modules[k]->time_step(step % 24 + 1, 1 + step / 24, 2, 2021);
    }
    if (step == 19)
      for (auto& m : modules) m->yearly_glacier_update();
  }
  for (const char* n : {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total",
                        "SolidSnowStorage_onGlacier", "LiquidSnowStorage_onGlacier",
                        "TotalSnowStorage_onGlacier", "GlacierizedCells", "input_mass",
                        "mobile_mass", "deposition"}) {
    std::vector<double> mine(ROWS * 3, 0.0), all(ROWS * 3, 0.0);
    for (int r = banded.settings.first_row; r <= banded.settings.last_row; ++r)
      for (int c = 1; c <= 3; ++c)
        mine[static_cast<size_t>((r - 1) * 3 + c - 1)] = banded.grid(n)[r][c];
    MPI_Reduce(mine.data(), all.data(), ROWS * 3, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    if (rank != 0) continue;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(all[static_cast<size_t>((r - 1) * 3 + c - 1)], whole.grid(n)[r][c])
            << n << " " << r << " " << c;
      }
  }
  if (rank == 0) {
    // The update changed the share, and glacier snow moved.
    int changed = 0;
    double moved = 0;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        changed += whole.grid("GlacierizedCells")[r][c] !=
                   share_before[static_cast<size_t>((r - 1) * 3 + c - 1)];
        moved += whole.grid("input_mass")[r][c];
      }
    EXPECT_GT(changed, 0);
    EXPECT_GT(moved, 0);
  }
  for (auto& m : modules) m->release();
}

}  // namespace
