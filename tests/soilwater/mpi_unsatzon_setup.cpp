// The unsaturated zone's set-up on several processes: a grid of six rows of
// three cells (column 3 outside the zone grid) dealt out in bands; every
// process holds the whole grid and owns the cells of its band. The start
// report of process 0 gives the same mean as one process, and the ponding
// limit reaches every process in mm.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "settings/tracer_entry.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

constexpr int ROWS = 6;

int owner(int row, int size) { return (row - 1) * size / ROWS; }

TEST(UnsatzonSetupProcesses, StartReportAndPondingLimitOnEveryProcess) {
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
  grid_matrix dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
  f.publish(2, "dem", &dem);
  f.publish_regions();
  // Rows 4..6 take a second, thinner soil: the columns differ by band.
  captured_diag parse;
  f.soils.resize(3);
  parse_soil_line(*parse.diag, f.soils[2],
                  "2 sand 25 35 1e-4 300 1 0.38 0.05 14.5 2.68 10 0.15 1000 1", 2);
  for (int r = 4; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) (*f.store[4 + 16].grid)[r][c] = 2;
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      f.regions[r][c] = owner(r, size);
      f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
    }
  f.publish(4 + static_cast<int>(f.inputs.size()), "zonegrid_soilmodel", &f.soil_zone_grid);
  // Row pieces of the scatter, each row one piece of three cells: process 0
  // lists (owner, count), the owner (first column, count).
  grid_matrix helper = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r) {
    helper[r][1] = rank == 0 ? owner(r, size) : (owner(r, size) == rank ? 1 : 0);
    helper[r][2] = 3;
  }
  f.publish(5 + static_cast<int>(f.inputs.size()), "MPIHelper", &helper);
  grid_matrix& limit = *f.store[4 + 18].grid;  // "max_ponding_storage"
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) limit[r][c] = 0.05;
  unsatzon_section_text s;
  s.codes = "1";
  s.value_rows = {"2", "3", "0.5", "4", "1", "0.1"};
  s.pond = "1";
  f.write_control(s.text());
  // Process 0 writes "modell_0.log" into its working directory, the
  // fixture's folder.
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             1);
  ASSERT_EQ(status, 0) << f.console();
  // The limit of the own rows is in mm on every process after the scatter.
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_DOUBLE_EQ(limit[r][c], 50) << r << " " << c;
  // The test's own sum of theta x thickness over the own zone cells, in row
  // order, added at process 0.
  int theta_index = 0;
  for (int i = 1; i < GRID_STORE_FULL; ++i)
    if (f.store[i].grid_name == std::string("theta")) theta_index = i;
  ASSERT_GT(theta_index, 0);
  const stack_matrix& theta = *f.store[theta_index].stack;
  double own[2] = {0, 0};  // water [m], cells
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= 2; ++c) {
      const soil_entry& soil = f.soils[static_cast<size_t>((*f.store[4 + 16].grid)[r][c])];
      for (int l = 1; l <= 10; ++l)
        own[0] += theta[r][c][l] * soil.thickness[static_cast<size_t>(l)];
      own[1] += 1;
    }
  double total[2] = {0, 0};
  MPI_Reduce(own, total, 2, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  if (rank == 0) {
    EXPECT_DOUBLE_EQ(total[1], 2 * ROWS);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "mean soil water content for all cells at model-start: %lf m^3/m^2\n",
                  total[0] / total[1]);
    const std::string log = read_file(f.cd.dir.file("modell_0.log"));
    EXPECT_EQ(log.rfind(expected, 0), 0U) << log;
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace

namespace {

// Weight "RelCellArea" of cell (r, c).
double weight(int r, int c) { return 0.5 + 0.1 * r + 0.05 * c; }

// T = 2: the tracers' first concentrations follow the water.
TEST(UnsatzonSetupProcesses, ZonesAndFirstRunoffAgreeWithOneProcess) {
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
  grid_matrix dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
  f.publish(2, "dem", &dem);
  f.publish_regions();
  // Rows 4..6 a soil of thinner layers: the table at ini_gw_level 2 lies at
  // 0.05 + 0.1 + 3 x 0.15 = 0.6 m there, at 0.05 + 0.15 + 3 x 0.2 = 0.8 m
  // in rows 1..3.
  captured_diag parse;
  f.soils.resize(3);
  parse_soil_line(*parse.diag, f.soils[2],
                  "2 sand 25 35 1e-4 300 1 0.38 0.05 14.5 2.68 10 0.15 1000 1", 2);
  for (int r = 4; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) (*f.store[4 + 16].grid)[r][c] = 2;
  grid_matrix times = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix area = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 3; ++c) {
      f.regions[r][c] = owner(r, size);
      f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
      times[r][c] = 3600.0 * ((r + 1) / 2);  // zones 1, 1, 2, 2, 3, 3 by row
      area[r][c] = weight(r, c);
    }
  int next = 4 + static_cast<int>(f.inputs.size());
  f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
  f.publish(next++, "flow_times", &times);
  f.publish(next++, "RelCellArea", &area);
  unsatzon_section_text s;
  s.codes = "1";
  s.value_rows = {"2", "3", "0.5", "4", "1", "0.1"};
  f.write_control(s.text());
  MPI_Barrier(MPI_COMM_WORLD);
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             2);
  ASSERT_EQ(status, 0) << f.console();
  // Two tracers from 5 and 4 in the groundwater, the second lowered to its
  // max_conc 3.
  grid_matrix input = f.grids.matrix(1, ROWS, 0, 3, ROWS);
  f.publish(next++, "concflux_tracer_1_input", &input);
  f.publish(next++, "concflux_tracer_2_input", &input);
  std::vector<tracer_entry> list(3);
  for (int t = 1; t <= 2; ++t) {
    list[static_cast<size_t>(t)].name = t == 1 ? "cl_" : "tri";
    list[static_cast<size_t>(t)].path = f.cd.dir.path() + "/";
    list[static_cast<size_t>(t)].statext = "sta";
    list[static_cast<size_t>(t)].gridext = "grd";
    list[static_cast<size_t>(t)].statcode = 1001;
  }
  list[1].gwini = 5;
  list[1].soilini = 1;
  list[2].gwini = 4;
  list[2].evaporating = 1;
  list[2].max_conc = 3;
  unsat.init_tracers(status, 2, list.data(), nullptr, 0);
  ASSERT_EQ(status, 0) << f.console();

  // By hand: base flow exp(0.25 x -0.8) in rows 1..3, exp(0.25 x -0.6) in
  // rows 4..6; zone weights summed by row.
  double sum = 0, weights = 0, zone[4] = {0, 0, 0, 0};
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= 2; ++c) {
      sum += weight(r, c) * std::exp(0.25 * (r <= 3 ? -0.8 : -0.6));
      weights += weight(r, c);
      zone[(r + 1) / 2] += weight(r, c);
    }
  // The queues summed over the processes hold the cumulative weights once,
  // two sub-steps' worth.
  const flow_time_queues& q = unsat.get_zone_queues();
  ASSERT_EQ(q.zones_of(1), 3);
  double own_weights[4], total[4];
  for (int k = 0; k <= 3; ++k) own_weights[k] = q.direct[0][1][static_cast<size_t>(k)].weight;
  MPI_Reduce(own_weights, total, 4, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  if (rank == 0) {
    const double expected[] = {0, 2 * weights, 2 * (zone[2] + zone[3]), 2 * zone[3]};
    for (int k = 0; k <= 3; ++k) EXPECT_NEAR(total[k], expected[k], 1e-12 * weights) << k;
    EXPECT_NEAR((*unsat.get_qg())[0][1], sum / weights, 1e-12 * sum / weights);
    EXPECT_NEAR((*unsat.get_qg())[1][1], 5, 1e-12 * 5);
    EXPECT_NEAR((*unsat.get_qg())[2][1], 3, 1e-12 * 3);
    char line[128];
    std::snprintf(line, sizeof line,
                  "flow time distribution:\nTG\t   1\t(  3\tZonen):\t%5.3f\t%5.3f\t%5.3f\n",
                  zone[1] / weights, zone[2] / weights, zone[3] / weights);
    const std::string log = read_file(f.cd.dir.file("modell_0.log"));
    EXPECT_NE(log.find(line), std::string::npos) << log;
  } else {
    for (int t = 0; t <= 2; ++t) EXPECT_EQ((*unsat.get_qg())[static_cast<size_t>(t)][1], 0);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
