// The temperature pre-SpinUp on several processes: six rows of three cells
// (column 3 outside the zone grid) dealt out in bands. The files process 0
// reads back hold the hand-computed sums and profiles of every cell,
// whichever process owned it: the same files on 1, 2 and 3 processes.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_setup_fixture.h"
#include "tables/landuse.h"

namespace {

constexpr int ROWS = 6;
constexpr int COLS = 3;
constexpr int L = 10;
constexpr int HEADER_VALUES = 12;  // binary grid and stack files

int owner(int row, int size) { return (row - 1) * size / ROWS; }

// The single-precision values of a binary grid or stack file behind its
// header.
std::vector<float> file_values(const std::string& path) {
  const std::string bytes = read_file(path);
  std::vector<float> values;
  for (size_t at = HEADER_VALUES * 4; at + 4 <= bytes.size(); at += 4) {
    uint32_t bits = 0;
    for (int b = 3; b >= 0; --b)
      bits = (bits << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(b)]);
    float v = 0;
    std::memcpy(&v, &bits, 4);
    values.push_back(v);
  }
  return values;
}

// Air temperature of a cell, the same on both days: rows 1..3 freeze, rows
// 4..6 thaw.
double air(int r, int c) { return r <= 3 ? -(2.0 * r + c) : r + c; }

TEST(UnsatzonPreSpinupProcesses, FilesHoldEveryCellByHand) {
  const int rank = world_rank();
  const int size = world_size();
  module_fixture f(ROWS);
  int first = 0, last = -1;
  for (int r = 1; r <= ROWS; ++r)
    if (owner(r, size) == rank) {
      if (first == 0) first = r;
      last = r;
    }
  f.settings.first_row = first;
  f.settings.last_row = last;
  // All processes write into process 0's folder, as a run's processes share
  // one output directory.
  std::vector<char> folder(f.cd.dir.path().begin(), f.cd.dir.path().end());
  int length = static_cast<int>(folder.size());
  MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
  folder.resize(static_cast<size_t>(length));
  MPI_Bcast(folder.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);
  const std::string output = std::string(folder.begin(), folder.end()) + "/";
  f.settings.output_directory = &output;

  grid_matrix dem = f.grids.matrix(1, ROWS, 0, COLS, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) dem[r][c] = 1000 + 10 * r + c;
  f.publish(2, "dem", &dem);
  f.publish_regions();
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) {
      // As the division deals them: cells outside the zone grid have no owner
      // and lie outside the row's span.
      f.regions[r][c] = c == 3 ? NODATA : owner(r, size);
      f.zone_grid[r][c] = c == 3 ? NODATA : 1;
      f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
      f.strips[static_cast<size_t>(r)] = row_strip{1, 2};
    }
  int next = 4 + static_cast<int>(f.inputs.size());
  f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
  grid_matrix helper = f.grids.matrix(1, ROWS, 0, COLS, ROWS);
  for (int r = 1; r <= ROWS; ++r) {
    helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
    helper[r][2] = 2;
  }
  f.publish(next++, "MPIHelper", &helper);
  // The lower-boundary heat flux from its grid: q = 0.05 r W m-2.
  grid_matrix flux = f.grids.matrix(1, ROWS, 0, COLS, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) flux[r][c] = 0.05 * r;
  f.publish(next++, "HeatFlux_Lower_Boundary_Condition", &flux);
  unsatzon_section_text s;
  s.codes = "1";
  s.value_rows = {"2", "3", "0.5", "4", "1", "0.1"};
  s.after = unsatzon_setup::heat_section();
  f.write_control(s.text());
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             1);
  ASSERT_EQ(status, 0) << f.console();
  unsat.set_soil_table(&f.soils);
  // Saturated soil of theta_sat 0.5 and dry conductivity 4: 2 sqrt(lambda_x);
  // land-use class 1 with n_f 0.5.
  for (int l = 1; l <= L; ++l) {
    f.soils[1].theta_sat[static_cast<size_t>(l)] = 0.5;
    f.soils[1].DryThermalConduct[static_cast<size_t>(l)] = 4;
  }
  std::vector<landuse_entry> landuses(2);
  landuses[1].nf_freezing = 0.5;
  landuses[1].nf_thawing = 1;
  f.settings.landuse_table = &landuses;
  grid_matrix& classes = *f.store[4].grid;  // "landuse1"
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) classes[r][c] = 1;
  stack_matrix* theta = nullptr;
  stack_matrix* temperature = nullptr;
  for (int i = 1; i < GRID_STORE_FULL; ++i) {
    if (f.store[i].grid_name == std::string("theta")) theta = f.store[i].stack;
    if (f.store[i].grid_name == std::string("Soil_Temperature_Stack"))
      temperature = f.store[i].stack;
  }
  ASSERT_NE(theta, nullptr);
  ASSERT_NE(temperature, nullptr);
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= 2; ++c) {
      for (int l = 1; l <= L; ++l) (*theta)[r][c][l] = 0.5;
      (*temperature)[r][c][0] = 7;  // kept where TTOP >= 0
    }

  grid_matrix& air_grid = *f.store[4 + 17].grid;  // "temperature"
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) air_grid[r][c] = air(r, c);
  for (int step = 1; step <= 48; ++step) unsat.pre_spinup_step((step - 1) % 24 + 1, 1, 1, 2000);
  unsat.finish_pre_spinup();
  MPI_Barrier(MPI_COMM_WORLD);

  if (rank == 0) {
    const std::vector<float> freezing = file_values(output + "FreezingDegreeDays");
    const std::vector<float> thawing = file_values(output + "thawingDegreeDays");
    const std::vector<float> annual = file_values(output + "AnnualTemperature");
    const std::vector<float> stack = file_values(output + "Soil_Temperature_Stack");
    // No early return here: the other processes wait at the barrier below.
    const bool complete = freezing.size() == static_cast<size_t>(ROWS * COLS) &&
                          thawing.size() == freezing.size() && annual.size() == freezing.size() &&
                          stack.size() == static_cast<size_t>(ROWS * COLS * (L + 1));
    EXPECT_TRUE(complete) << freezing.size() << " " << stack.size();
    const double water = 2 * std::sqrt(0.5562);
    const double depth[] = {0, 0.05, 0.2, 0.4, 0.6, 0.8, 1.0};  // [m] bottoms of layers 0..6
    for (int r = 1; r <= (complete ? ROWS : 0); ++r)
      for (int c = 1; c <= COLS; ++c) {
        const size_t cell = static_cast<size_t>((r - 1) * COLS + (c - 1));
        const float* t = &stack[cell * (L + 1)];
        if (c == 3) {
          EXPECT_EQ(annual[cell], -9999) << r;
          EXPECT_EQ(t[1], -9999) << r;
          continue;
        }
        const double a = air(r, c);
        const double q = 0.05 * r;
        const double ice_step = q * 0.2 / (2 * std::sqrt(2.33));
        // Two days of mean a: FDD 2|a| or TDD 2a; 48 h = 2 days.
        EXPECT_EQ(freezing[cell], a < 0 ? -2 * a : 0) << r << " " << c;
        EXPECT_EQ(thawing[cell], a < 0 ? 0 : 2 * a) << r << " " << c;
        EXPECT_FLOAT_EQ(annual[cell], static_cast<float>(a)) << r << " " << c;
        if (a < 0) {
          // TTOP = -0.5 FDD / 2 = a / 2 at 1 m; the line to a at the surface;
          // below, q d / lambda through frozen soil.
          for (int l = 0; l <= 6; ++l)
            EXPECT_NEAR(t[l], a / 2 + (1 - depth[l]) * (a - a / 2), 1e-5) << r << " " << l;
          for (int l = 7; l <= L; ++l)
            EXPECT_NEAR(t[l], a / 2 + (l - 6) * ice_step, 1e-5) << r << " " << l;
        } else {
          EXPECT_EQ(t[0], 7);
          EXPECT_NEAR(t[1], a, 1e-5);
          EXPECT_NEAR(t[L], a + q * 1.75 / water, 1e-5) << r;
        }
      }
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
