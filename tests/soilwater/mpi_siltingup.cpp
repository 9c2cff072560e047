// Silting-up on a divided grid: several steps of varied cells (tilled and
// untilled land uses, two soils, covers, rain and dry spells) give on any
// number of processes exactly the grids that one undivided module gives on
// process 0, the divided one on four threads and the whole one on one.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <memory>
#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "settings/derived_setup_fixture.h"
#include "soilwater/siltingup.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

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

const char* LANDUSE =
    "[landuse_table]\n2\n"
    "1 field method VariableDayCount {\n"
    "  RootDist = 1.0; TReduWet = 0.9; HReduDry = 3.45;\n  Albedo = 0.15 0.2 0.25 0.3;\n"
    "  rsc = 80 60 70 90;\n  LAI = 1 2 3 4;\n  Z0 = 0.02 0.05 0.1 0.2;\n"
    "  VCF = 0.5 0.6 0.7 0.8;\n  RootDepth = 0.2 0.4 0.5 0.6;\n  AltDep = 0 0 0 0;\n"
    "  JulDays = 1 100 200 366;\n  SoilTillage = 100 250;\n  SR_ResidCovrg = 0 0.1 0.2 0;\n}\n"
    "2 meadow method VariableDayCount {\n"
    "  RootDist = 1.0; TReduWet = 0.9; HReduDry = 3.45;\n  Albedo = 0.15 0.2 0.25 0.3;\n"
    "  rsc = 80 60 70 90;\n  LAI = 1 2 3 4;\n  Z0 = 0.02 0.05 0.1 0.2;\n"
    "  VCF = 0.5 0.6 0.7 0.8;\n  RootDepth = 0.2 0.4 0.5 0.6;\n  AltDep = 0 0 0 0;\n"
    "  JulDays = 1 100 200 366;\n}\n";

struct input_grids {
  memory_handling memory;
  std::vector<std::pair<std::string, std::unique_ptr<grid_matrix>>> grids;

  void add(grid_store& store, const std::string& name) {
    grids.emplace_back(name,
                       std::make_unique<grid_matrix>(memory.matrix(0, ROWS + 1, 0, COLS, ROWS)));
    const int i = store.first_free(1);
    store[i].grid = grids.back().second.get();
    store[i].grid_name = name;
    store[i].file_name = name + ".asc";
    grid_matrix& g = *grids.back().second;
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= COLS; ++c) g[r][c] = 1;
  }
  grid_matrix& named(const std::string& name) {
    for (auto& [n, g] : grids)
      if (n == name) return *g;
    return *grids.front().second;
  }
  void fill(int step) {
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= COLS; ++c) {
        named("landuse1")[r][c] = 1 + (r + c) % 3 / 2;
        named("vegetation_coverage_degree1")[r][c] = (c % 4) * 0.2;
        named("soil_types")[r][c] = 1 + r % 2;
        named("throughfall0")[r][c] = (r + c + step) % 4 == 0 ? 0 : (r * c + step * 7) % 50;
      }
  }
};

void add_all(input_grids& g, grid_store& store, bool whole) {
  if (whole) {
    g.add(store, "zonegrid");
    g.add(store, "[elevation_model]");
  }
  for (const char* n : {"landuse1", "vegetation_coverage_degree1", "soil_types",
                        "SurfStorSiltingUp", "throughfall0"})
    g.add(store, n);
}

TEST(SiltingUpMpi, DividedGridGivesTheUndividedCells) {
  control_parts parts;
  parts.transition =
      "1000\n[SiltingUpModel]\n1 flow\n60 interval\nsd.stat 0\nqd.stat 0\nsd.asc\n0\n"
      "rp.asc\n0\nek.asc\n0\nts.asc\n0\nqd.asc\n0\n1\n0.2\n0 readgrid\n";
  settings_setup run(parts, {{"zones.asc", ones()}, {"dem.asc", ones()}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  scratch_dir tables_dir;
  tables_dir.write("landuse.txt", LANDUSE);
  modelobject reader(run.cap.diag.get(), tables_dir.file("landuse.txt"));
  ASSERT_TRUE(reader.open_control_file());
  landuse_table_t landuse;
  read_landuse_table(reader, 2, landuse);
  std::vector<soil_entry> soils(3);
  soils[1].sand = 0.5;
  soils[1].silt = 0.3;
  soils[1].clay = 0.2;
  soils[2].sand = 0.2;
  soils[2].silt = 0.5;
  soils[2].clay = 0.3;
  settings_context ctx = run.settings->export_settings();
  ctx.landuse_table = &landuse;
  ctx.soil_table = &soils;

  input_grids divided;
  add_all(divided, run.store, false);
  int status = -1;
  auto module = std::make_unique<siltingupclass>(status, run.cap.diag.get(), &run.registry, 200,
                                                 "SiltingUpModel", &run.store, ctx);
  ASSERT_EQ(status, 0) << run.cap.console();
  module->select_input_grid(0);

  grid_store whole_store;
  input_grids whole;
  std::unique_ptr<siltingupclass> reference;
  settings_context whole_ctx = ctx;
  whole_ctx.first_row = 1;
  whole_ctx.last_row = ROWS;
  if (run.rank == 0) {
    add_all(whole, whole_store, true);
    reference = std::make_unique<siltingupclass>(status, run.cap.diag.get(), nullptr, 0,
                                                 "SiltingUpModel", &whole_store, whole_ctx);
    ASSERT_EQ(status, 0) << run.cap.console();
    reference->select_input_grid(0);
  }
  for (int step = 0; step < 8; ++step) {
    divided.fill(step);
    omp_set_num_threads(4);
    module->time_step(step * 3 % 24, 20, 4, 2001);
    if (reference) {
      whole.fill(step);
      omp_set_num_threads(1);
      reference->time_step(step * 3 % 24, 20, 4, 2001);
    }
    for (const char* name : {"KineticEnergy", "SiltingUpDisposition", "DirectRunoffSiltingUp",
                             "RainPause", "TimeSinceLastSoilTillage", "throughfall0"}) {
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
