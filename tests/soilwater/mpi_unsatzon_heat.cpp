// Heat transfer in the unsaturated zone on several processes: a grid of six
// rows of three cells (column 3 outside the zone grid) under air from -8 to
// -3 degC and rain. The same run divided into bands over all processes
// (under 4 threads) and held by process 0 alone (1 thread) leaves the same
// temperatures, water contents, thaw depths and runoff, bit for bit; and a
// column out of range under -closeAfterDump ends the step with 199 on the
// process that owns it while 4 threads run.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "soilwater/unsatzon_setup_fixture.h"

namespace {

constexpr int ROWS = 6;
constexpr int STEPS = 6;

grid_matrix* stored_grid(module_fixture& f, const char* name) {
  for (int i = 1; i < GRID_STORE_ENTRIES; ++i)
    if (f.store[i].grid_name == name) return f.store[i].grid;
  return nullptr;
}

struct heated_division {
  explicit heated_division(int bands_in) : bands(bands_in), f(ROWS) {
    const int rank = world_rank();
    for (int r = 1; r <= ROWS; ++r)
      if (owner(r) == rank) {
        if (first == 0) first = r;
        last = r;
      }
    f.settings.first_row = first;
    f.settings.last_row = last;
    dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
    rain = f.grids.matrix(1, ROWS, 0, 3, ROWS);
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
    f.publish(2, "dem", &dem);
    f.publish_regions();
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        f.regions[r][c] = owner(r);
        f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
        rain[r][c] = 2 + r + c;  // [mm per step]
        (*stored_grid(f, "temperature"))[r][c] = -9 + r;
      }
    int next = 4 + static_cast<int>(f.inputs.size());
    f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
    unsatzon_section_text s;
    s.codes = "1";
    s.value_rows = {"3", "5", "0.5", "4", "1", "0.1"};
    s.after = unsatzon_setup::heat_section();
    f.write_control(s.text());
    MPI_Barrier(MPI_COMM_WORLD);
    unsat = std::make_unique<unsatzonmodellklasse>(status, f.diag(), nullptr, 0, "unsatzon_model",
                                                   &f.store, f.settings, 1);
    if (status != 0) return;
    unsat->set_soil_table(&f.soils);
    unsat->init_tracers(status, 0, nullptr, nullptr, 0);
    f.publish(next++, "precipitation", &rain);
    unsat->select_input_grid(false);
  }
  int owner(int row) const { return (row - 1) * bands / ROWS; }

  // The own cells' values, summed over the processes (one owner per cell).
  std::vector<double> cells() {
    std::vector<double> values;
    for (const char* name : {"Soil_Temperature_Stack", "theta", "ThawDepthTMod", "directflow"}) {
      int index = -1;
      for (int i = 1; i < GRID_STORE_ENTRIES && index < 0; ++i)
        if (f.store[i].grid_name == name) index = i;
      EXPECT_GT(index, 0) << name;
      if (index < 0) continue;
      const grid_entry& e = f.store[index];
      const bool stack = e.stack != nullptr && !e.stack->empty();
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= 2; ++c)
          for (int l = 1; l <= (stack ? 10 : 1); ++l)
            values.push_back(
                r >= first && r <= last ? (stack ? (*e.stack)[r][c][l] : (*e.grid)[r][c]) : 0.0);
    }
    MPI_Allreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()), MPI_DOUBLE, MPI_SUM,
                  MPI_COMM_WORLD);
    return values;
  }

  int bands;
  module_fixture f;
  int first = 0, last = -1;
  grid_matrix dem, rain;
  int status = -1;
  std::unique_ptr<unsatzonmodellklasse> unsat;
};

TEST(UnsatzonHeatProcesses, TemperaturesAndWaterDoNotDependOnTheDivision) {
  const int threads = omp_get_max_threads();
  std::vector<double> results[2];
  for (int variant = 0; variant < 2; ++variant) {
    omp_set_num_threads(variant == 0 ? 1 : 4);
    heated_division run(variant == 0 ? 1 : world_size());
    ASSERT_EQ(run.status, 0) << run.f.console();
    for (int step = 0; step < STEPS; ++step) {
      const model_date date{2020, 3, 1, step};
      run.unsat->begin_step(date);
      run.unsat->run_substep(date, 1);
      run.unsat->end_step(date);
    }
    results[variant] = run.cells();
    MPI_Barrier(MPI_COMM_WORLD);
  }
  omp_set_num_threads(threads);
  ASSERT_EQ(results[0].size(), results[1].size());
  size_t differing = 0;
  double cold = 0;
  for (size_t i = 0; i < results[0].size(); ++i) {
    if (results[0][i] != results[1][i]) ++differing;
    cold = std::min(cold, results[0][i]);
  }
  EXPECT_EQ(differing, 0u);
  EXPECT_LT(cold, 0);  // the top layers froze
}

TEST(UnsatzonHeatProcesses, CloseAfterDumpEndsWith199UnderThreads) {
  const int threads = omp_get_max_threads();
  omp_set_num_threads(4);
  heated_division run(world_size());
  ASSERT_EQ(run.status, 0) << run.f.console();
  const model_date date{2020, 3, 1, 6};
  run.unsat->begin_step(date);
  // The last row belongs to the last process.
  const bool owner = ROWS <= run.last;
  for (int i = 1; i < GRID_STORE_ENTRIES; ++i)
    if (run.f.store[i].grid_name == "Soil_Temperature_Stack" && owner)
      (*run.f.store[i].stack)[ROWS][2][4] = 150;
  run.unsat->set_dump_options(true, true, false, 0);
  int code = 0;
  try {
    run.unsat->soil_column_step(6, 1, 3, 2020);
  } catch (int e) {
    code = e;
  }
  omp_set_num_threads(threads);
  EXPECT_EQ(code, owner ? 199 : 0);
  if (owner) {
    EXPECT_NE(run.f.console().find(" a dumpfile has been written and Velmo aborts now.\n"),
              std::string::npos)
        << run.f.console();
  }
  int ended = code;
  MPI_Allreduce(MPI_IN_PLACE, &ended, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  EXPECT_EQ(ended, 199);
}

}  // namespace
