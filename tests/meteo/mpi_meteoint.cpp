// An interpolator set up on any number of processes after the staged set-up
// of the settings: the statistics header, the rotated coordinate grids and
// the result grid are the same as on one process, and every process reads
// the same rows of its station file.
#include <gtest/gtest.h>
#include <mpi.h>

#include <string>
#include <vector>

#include "meteo/meteo_fixture.h"
#include "settings/derived_setup_fixture.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 8;
// '.' is outside the basin: 45 cells with a notch.
const char* const BASIN[ROWS] = {"........", ".111111.", "1111111.", ".1111111", "..111111",
                                 ".111.111", ".1111111", "111111..", "........"};

std::string zone_text() {
  std::string rows;
  for (const char* line : BASIN) {
    for (int c = 0; c < COLS; ++c) rows += line[c] == '.' ? "-9999 " : "1 ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

std::string dem_text() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += std::to_string(500 + 10 * r + c) + " ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

const char* const STATIONS =
    "stations\nYY MM DD HH 400 520 610 700\nYY MM DD HH 50 250 450 150\n"
    "YY MM DD HH 50 150 650 450\nYY MM DD HH a b c d\n"
    "2001 1 1 0 1 2 3 4\n2001 1 1 1 5 6 7 8\n2001 1 1 2 9 10 11 12\n";

TEST(MeteoIntMpi, SetUpIsTheSameOnAnyNumberOfProcesses) {
  control_parts parts;
  // The interpolator's section stands behind the last section the settings read.
  parts.transition =
      "1000\n[temperature]\n1 method\n$dir//st.txt\nregr.txt name of the regression file\n"
      "result.asc name of the result grid in\n0 grid write code\n1 scaling\n"
      "t.sta 2001 name of the statistic result file in\n9999 nodata value in\n2 idw-weight\n"
      "0.5 fraction\n5000 maximum distance\n90 slope\n0.5 anisotropy b/a\n-100 l\n-90 u\n"
      "100 l\n90 u\n0 SzenUse\n";
  settings_setup run(parts, {{"zones.asc", zone_text()}, {"dem.asc", dem_text()},
                             {"st.txt", STATIONS}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const settings_context& ctx = run.settings->export_settings();
  int free_index = 1;
  while (run.store[free_index].grid_name) ++free_index;
  int status = -1;
  input_ptr input(new meteointerpol(status, run.cap.diag.get(), &run.registry, 200,
                                    "temperature", &run.store, ctx, free_index));
  ASSERT_EQ(status, 0) << run.cap.console();
  MPI_Barrier(MPI_COMM_WORLD);

  // The header: the zone's column, the description, the area shares.
  const std::string zone_file = run.store[1].file_name.value_or("");
  const std::string expected =
      "YY\tMM\tDD\tHH\t\"1\"\ttot_average\ntemperature interpolated with idw from " +
      run.path("st.txt") + ", zones from " + zone_file +
      ", weighting =  2.0,  maxentf =     5000, control file " + ctx.control_file +
      ", additional columns: 0_submodel:\n--\t--\t--\t--\t1.0000000\t1.0000\n";
  if (run.rank == 0) {
    EXPECT_EQ(read_file(run.path("out/t.sta")), expected);
  }

  // Rotated by 90 degrees about the lower-left corner (0, 0): a cell corner
  // (x, y) becomes (y, -x); outside the basin nodata.
  for (const char* grid_name : {"CoordXRot_temperature", "CoordYRot_temperature"}) {
    SCOPED_TRACE(grid_name);
    const int index = input->find_grid(grid_name, 1);
    ASSERT_GT(index, 0);
    const grid_matrix whole = input->gather_grid_copy(index);
    if (run.rank != 0) continue;
    int checked = 0;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) {
        if (BASIN[r - 1][c - 1] == '.') continue;
        const double x = 100.0 * (c - 1);
        const double y = 100.0 * (ROWS - r);
        const bool is_x = std::string(grid_name) == "CoordXRot_temperature";
        EXPECT_NEAR(whole[r][c], is_x ? y : -x, 1e-9) << r << "," << c;
        ++checked;
      }
    EXPECT_EQ(checked, 45);
  }
  const grid_matrix& result = *run.store[input->result_store_entry()].grid;
  for (int r = ctx.first_row; r <= ctx.last_row; ++r)
    for (int c = 1; c <= COLS; ++c) EXPECT_EQ(result[r][c], NODATA);

  // Every process reads the station file itself, row by row alike.
  const double stations_east = input->average_x_distance();
  double first = stations_east;
  MPI_Bcast(&first, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  EXPECT_EQ(stations_east, first);
  input->read_next_record();
  input->read_next_record();
  int64_t date[4];
  input->get_current_date(date[0], date[1], date[2], date[3]);
  EXPECT_EQ(date[0], 2);
  const std::vector<double>& values = input->station(0).values;
  EXPECT_EQ(std::vector<double>(values.begin() + 1, values.end()),
            (std::vector<double>{9, 10, 11, 12}));
  input.reset();
  MPI_Barrier(MPI_COMM_WORLD);
}

// Scenario method 6 adds the month's scenario grid at the point's cell. The
// grid holds only the own rows of each process, so a point on another
// process's rows must take the value of the process that holds them.
TEST(MeteoIntMpi, ScenarioGridAtAPointIsTheSameOnEveryProcess) {
  std::string scenario_rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) scenario_rows += std::to_string(10 * r + c) + " ";
    scenario_rows += "\n";
  }
  std::string months;
  for (int m = 1; m <= 12; ++m) months += "$dir//scen.asc\n";
  control_parts parts;
  parts.transition =
      "1000\n[temperature]\n1 method\n$dir//st.txt\nregr.txt name of the regression file\n"
      "result.asc name of the result grid in\n0 grid write code\n1 scaling\n"
      "t.sta 0 name of the statistic result file in\n9999 nodata value in\n2 idw-weight\n"
      "0.5 fraction\n5000 maximum distance\n0 slope\n1 anisotropy b/a\n-100 l\n-90 u\n"
      "100 l\n90 u\n1 SzenUse\n6 SzenMeth in\n" +
      months;
  // Four stations of one value: the IDW part is 7 wherever the point lies.
  const std::string stations =
      "stations\nYY MM DD HH 400 520 610 700\nYY MM DD HH 50 250 450 150\n"
      "YY MM DD HH 50 150 650 450\nYY MM DD HH a b c d\n2001 1 1 0 7 7 7 7\n"
      "2001 1 1 1 7 7 7 7\n";
  settings_setup run(parts, {{"zones.asc", zone_text()},
                             {"dem.asc", dem_text()},
                             {"st.txt", stations},
                             {"scen.asc", text_grid_of(scenario_rows, COLS, ROWS)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const settings_context& ctx = run.settings->export_settings();
  int free_index = 1;
  while (run.store[free_index].grid_name) ++free_index;
  int status = -1;
  input_ptr input(new meteointerpol(status, run.cap.diag.get(), &run.registry, 200,
                                    "temperature", &run.store, ctx, free_index));
  ASSERT_EQ(status, 0) << run.cap.console();

  // Cells (row, col) from the first to the last row of the basin, each asked at its
  // centre; the grid has its lower-left corner at (0, 0).
  const int cells[][2] = {{2, 2}, {3, 7}, {5, 4}, {7, 1}, {8, 1}, {8, 6}};
  std::vector<double> buffer(5);
  for (const auto& cell : cells) {
    const int r = cell[0];
    const int c = cell[1];
    SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
    const double x = 100.0 * (c - 1) + 50;
    const double y = 100.0 * (ROWS - r) + 50;
    const double value = input->interpolate_at_point(buffer.data(), x, y, 600);
    EXPECT_NEAR(value, 7 + 10 * r + c, 1e-9);
    double on_zero = value;
    MPI_Bcast(&on_zero, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    EXPECT_EQ(value, on_zero);
  }
  input.reset();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
