// Interception on a divided grid: several steps of varied cells (three land
// uses, coverages, inputs and potentials, with a partly glacierized column)
// give on any number of processes exactly the grids that one undivided
// module gives on process 0, the divided one on four threads and the whole
// one on one.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/derived_setup_fixture.h"
#include "tables/landuse.h"
#include "vertical/interzep.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 7;

std::string ones() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += "1 ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

// Whole grids (every row on every process) whose values depend on the cell
// and the step only.
struct input_grids {
  memory_handling memory;
  std::vector<std::pair<std::string, std::unique_ptr<grid_matrix>>> grids;

  grid_matrix& add(grid_store& store, const std::string& name) {
    grids.emplace_back(name,
                       std::make_unique<grid_matrix>(memory.matrix(0, ROWS + 1, 0, COLS, ROWS)));
    const int i = store.first_free(1);
    store[i].grid = grids.back().second.get();
    store[i].grid_name = name;
    store[i].file_name = name + ".asc";
    return *grids.back().second;
  }
  grid_matrix& named(const std::string& name) {
    for (auto& [n, g] : grids)
      if (n == name) return *g;
    return *grids.front().second;
  }
  void fill(int step) {
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= COLS; ++c) {
        named("zonegrid")[r][c] = 1;
        named("precipitation")[r][c] = (r * 3 + c + step) % 5 * 0.7;
        named("landuse1")[r][c] = 1 + (r + c) % 3;
        named("leaf_area_index1")[r][c] = 1 + (r * c) % 4;
        named("vegetation_coverage_degree1")[r][c] = (c % 4) / 3.0;
        named("GlacierizedCells")[r][c] = c == 3 ? 0.25 * (r % 5) : 0;
        for (int l = 0; l <= 1; ++l) {
          named("pot_transpiration" + std::to_string(l))[r][c] = (r + step) % 3 * 0.2;
          named("potential_InterceptionEvap" + std::to_string(l))[r][c] = (c + step) % 4 * 0.15;
        }
      }
  }
};

void add_all(input_grids& g, grid_store& store, bool with_zone) {
  if (with_zone) g.add(store, "zonegrid");
  for (const char* n : {"precipitation", "landuse1", "leaf_area_index1",
                        "vegetation_coverage_degree1", "GlacierizedCells"})
    g.add(store, n);
  for (int l = 0; l <= 1; ++l)
    for (const char* n : {"pot_transpiration", "potential_InterceptionEvap", "real_transpiration"})
      g.add(store, n + std::to_string(l));
}

TEST(InterceptionMpi, DividedGridGivesTheUndividedCells) {
  control_parts parts;
  parts.transition =
      "1000\n[interception_model]\n1 flow\n60 interval\n2 method for\ntf.asc\n0\ntf.stat 0\n"
      "ie.asc\n0\nie.stat 0\nis.asc\n0\nis.stat 0\n0.3 default layer\n0 readgrid\n";
  settings_setup run(parts, {{"zones.asc", ones()}, {"dem.asc", ones()}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  std::vector<landuse_entry> table(4);
  table[1].IntercepCap = 0.2;
  table[2].IntercepCap = -1;
  table[3].IntercepCap = 0.5;
  settings_context ctx = run.settings->export_settings();
  ctx.landuse_table = &table;

  input_grids divided;
  add_all(divided, run.store, true);
  int status = -1;
  auto module = std::make_unique<interzeptionsmodellklasse>(
      status, run.cap.diag.get(), &run.registry, 200, "interception_model", &run.store, ctx);
  ASSERT_EQ(status, 0) << run.cap.console();

  // The undivided module of process 0: its own store, every row its own.
  grid_store whole_store;
  input_grids whole;
  std::unique_ptr<interzeptionsmodellklasse> reference;
  settings_context whole_ctx = ctx;
  whole_ctx.first_row = 1;
  whole_ctx.last_row = ROWS;
  if (run.rank == 0) {
    add_all(whole, whole_store, true);
    whole.fill(0);
    reference = std::make_unique<interzeptionsmodellklasse>(
        status, run.cap.diag.get(), nullptr, 0, "interception_model", &whole_store, whole_ctx);
    ASSERT_EQ(status, 0) << run.cap.console();
  }
  for (int step = 0; step < 5; ++step) {
    divided.fill(step);
    omp_set_num_threads(4);
    module->time_step(step, 1, 6, 2001);
    if (reference) {
      whole.fill(step);
      omp_set_num_threads(1);
      reference->time_step(step, 1, 6, 2001);
    }
    for (const char* name : {"throughfall0", "interception_storage0", "interception_evaporation0",
                             "pot_transpiration0"}) {
      const grid_matrix gathered = module->gather_grid_copy(module->find_grid(name, 1));
      if (!reference) continue;
      const grid_matrix& expected = *whole_store[reference->find_grid(name, 1)].grid;
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= COLS; ++c)
          EXPECT_EQ(gathered[r][c], expected[r][c]) << name << " " << r << "," << c;
    }
  }
  omp_set_num_threads(2);
  if (reference) reference->release();
  module->release();
  module.reset();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
