// The groundwater module on a divided grid (rows not divisible by the
// process count, two zones, holes in the zone grid, two layers with
// leakage, fixed heads and inflows, alpha below 1, a decaying tracer) gives
// on any number of processes and four threads exactly the heads, flows,
// balances, baseflow and concentrations of one undivided module on one
// thread, and the same control-point and statistics files.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "settings/derived_setup_fixture.h"
#include "settings/tracer_entry.h"
#include "soilwater/gwflow.h"
#include "tables/soiltable.h"

namespace {

constexpr int ROWS = 37;
constexpr int COLS = 97;

bool hole(int r, int c) { return (r >= 10 && r <= 12 && c >= 20 && c <= 22) || (r == 37 && c <= 5); }

std::string zone_text() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += hole(r, c) ? "-9999 " : (c <= 48 ? "1 " : "2 ");
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

// As the grid file holds it.
double surface(int r, int c) { return std::stod(std::to_string(100 + 0.05 * c + 0.03 * r)); }

std::string dem_text() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += std::to_string(surface(r, c)) + " ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

struct inputs {
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;

  template <class Value>
  void add(grid_store& store, const std::string& name, Value value) {
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(0, ROWS + 1, 0, COLS, ROWS)));
    grid_matrix& g = *grids.back();
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= COLS; ++c) g[r][c] = value(r, c);
    const int i = store.first_free(1);
    store[i].grid = &g;
    store[i].grid_name = name;
    store[i].file_name = name + ".asc";
  }

  // whole: the store of the undivided module, with its own zone grid,
  // elevation model and division grid (all cells process 0's).
  void add_all(grid_store& store, bool whole) {
    auto constant = [](double v) { return [v](int, int) { return v; }; };
    if (whole) {
      add(store, "zonegrid", [](int r, int c) {
        return r < 1 || r > ROWS || c < 1 || hole(r, c) ? NODATA : (c <= 48 ? 1.0 : 2.0);
      });
      add(store, "[elevation_model]", [](int r, int c) { return surface(r, c); });
      add(store, "MPIRegions", constant(0));
    }
    add(store, "groundwater_recharge", constant(0));
    add(store, "groundwater_distance",
        [](int r, int c) { return -1 - 0.02 * ((r * 7 + c * 3) % 11); });
    add(store, "soil_types", constant(1));
    add(store, "baseflow", constant(0));
    add(store, "aquifer_thickness_1", constant(1));
    add(store, "gw_k_x_1", constant(1e-4));
    add(store, "gw_k_y_1", constant(2e-4));
    add(store, "gw_storage_coeff_1", constant(0.1));
    add(store, "gw_boundary_fix_h_1", constant(NODATA));
    add(store, "gw_boundary_fix_q_1", constant(NODATA));
    add(store, "aquifer_thickness_2", constant(15));
    add(store, "gw_k_x_2", [](int, int c) { return 2e-4 * (1 + 0.1 * (c % 3)); });
    add(store, "gw_k_y_2", [](int r, int) { return 1e-4 * (1 + 0.2 * (r % 4)); });
    add(store, "gw_storage_coeff_2", constant(0.01));
    add(store, "gw_boundary_fix_h_2", [](int, int c) { return c == 1 ? 95.0 : NODATA; });
    add(store, "gw_boundary_fix_q_2",
        [](int r, int c) { return (r + c) % 13 == 0 ? 2e-7 : NODATA; });
    add(store, "gw_kolmation_1", constant(1e-6));
    add(store, "GlacierizedCells", [](int r, int c) {
      return r == 5 && c == 60 ? 1.0 : (r == 6 && c == 61 ? 0.4 : 0.0);
    });
  }
};

std::string section_text(const std::string& prefix) {
  std::string s =
      "[groundwater_flow]\n1 flow control parameter for\n60 time interval for\n1 method in\n"
      "80 maxiter in\n1e-7 maxerror_allowed in\n0.7 alpha in\n0 sor-parameter in\n"
      "0 grid read parameter in\n2 number of layers in\n"
      "20 30 control_row/column for control point fluxes in\n" +
      prefix + "cp.txt name of the control point file  \n";
  for (int k = 1; k <= 2; ++k)
    s += prefix + "h" + std::to_string(k) + ".asc name\n0 code\nqx.asc name\n0 code\nqy.asc name\n"
         "0 code\nbal.asc name\n0 code\n";
  return s;
}

std::vector<tracer_entry> tracer_of(const std::string& path) {
  std::vector<tracer_entry> list(2);
  tracer_entry& e = list[1];
  e.name = "tri";
  e.radioactive = 1;
  e.half_time = 5;
  e.gwini = 3;
  e.path = path;
  e.statext = "sta";
  e.gridext = "asc";
  e.statcode = 2001;
  return list;
}

TEST(GwflowMpi, DividedGridGivesTheUndividedResults) {
  control_parts parts;
  settings_setup run(parts, {{"zones.asc", zone_text()}, {"dem.asc", dem_text()}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  std::vector<soil_entry> soils(2);
  soils[1].total_depth = 1.5;
  settings_context ctx = run.settings->export_settings();
  ctx.soil_table = &soils;
  const std::string dir = run.dir->path() + "/";
  if (run.rank == 0) {
    settings_setup::write(dir + "gw_div.ctl", section_text("div_"));
    settings_setup::write(dir + "gw_ref.ctl", section_text("ref_"));
  }
  MPI_Barrier(MPI_COMM_WORLD);
  ctx.control_file = dir + "gw_div.ctl";
  ctx.output_directory = &dir;

  inputs divided_inputs;
  divided_inputs.add_all(run.store, false);
  std::vector<tracer_entry> div_tracers = tracer_of(dir + "div_");
  int status = -1;
  auto module = std::make_unique<gwflowclass>(status, run.cap.diag.get(), &run.registry, 200,
                                              "groundwater_flow", &run.store, ctx, 2,
                                              ctx.zone_table);
  ASSERT_EQ(status, 0) << run.cap.console();
  module->init_tracers(status, 1, div_tracers.data(), &run.registry, 200);
  ASSERT_EQ(status, 0) << run.cap.console();
  module->set_initialized(1);

  grid_store whole_store;
  inputs whole_inputs;
  std::vector<row_strip> whole_strips(ROWS + 1, row_strip{1, COLS});
  whole_strips[0] = row_strip{0, -1};
  settings_context whole_ctx = ctx;
  whole_ctx.first_row = 1;
  whole_ctx.last_row = ROWS;
  whole_ctx.halo_send = nullptr;
  whole_ctx.halo_receive = nullptr;
  whole_ctx.strips = &whole_strips;
  whole_ctx.control_file = dir + "gw_ref.ctl";
  std::vector<tracer_entry> ref_tracers = tracer_of(dir + "ref_");
  std::unique_ptr<gwflowclass> reference;
  if (run.rank == 0) {
    whole_inputs.add_all(whole_store, true);
    reference = std::make_unique<gwflowclass>(status, run.cap.diag.get(), nullptr, 0,
                                              "groundwater_flow", &whole_store, whole_ctx, 2,
                                              whole_ctx.zone_table);
    ASSERT_EQ(status, 0) << run.cap.console();
    reference->init_tracers(status, 1, ref_tracers.data(), nullptr, 0);
    ASSERT_EQ(status, 0) << run.cap.console();
    reference->set_initialized(1);
  }
  for (int step = 0; step < 3; ++step) {
    const model_date date{2001, 1, 1, step};
    omp_set_num_threads(4);
    module->begin_step(date);
    for (int k = 1; k <= 2; ++k) module->run_substep(date, k);
    module->end_step(date);
    if (reference) {
      omp_set_num_threads(1);
      reference->begin_step(date);
      for (int k = 1; k <= 2; ++k) reference->run_substep(date, k);
      reference->end_step(date);
    }
    for (const char* name :
         {"gw_head_1", "gw_head_2", "gw_head_old_2", "gw_flow_x_1", "gw_flow_y_2", "gw_flow_x_2",
          "gw_balance1", "gw_balance2", "gw_leakage_1", "baseflow",
          "concstor_tracer_1_layer_1_groundwater_flow",
          "concstor_tracer_1_layer_2_groundwater_flow"}) {
      const grid_matrix gathered = module->gather_grid_copy(module->find_grid(name, 1));
      if (!reference) continue;
      const grid_matrix& expected = *whole_store[reference->find_grid(name, 1)].grid;
      int differences = 0;
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= COLS; ++c) {
          if (hole(r, c) || (r == ROWS && c <= 5)) continue;
          if (gathered[r][c] != expected[r][c] && ++differences < 4)
            ADD_FAILURE() << name << " " << r << "," << c << ": " << gathered[r][c] << " vs "
                          << expected[r][c];
        }
      EXPECT_EQ(differences, 0) << name << " step " << step;
    }
  }
  omp_set_num_threads(2);
  module->flush_outputs();
  module->free_tracer_statistics();
  module->release();
  if (reference) {
    reference->flush_outputs();
    reference->free_tracer_statistics();
    reference->release();
  }
  MPI_Barrier(MPI_COMM_WORLD);
  if (run.rank == 0) {
    const std::string div_cp = read_file(dir + "div_cp.txt");
    EXPECT_EQ(std::count(div_cp.begin(), div_cp.end(), '\n'), 1 + 3 * 2);
    EXPECT_EQ(div_cp, read_file(dir + "ref_cp.txt"));
    for (int k = 1; k <= 2; ++k) {
      const std::string stat = "tri" + std::string("grou") + std::to_string(k) + ".sta";
      const std::string div_stat = read_file(dir + "div_" + stat);
      EXPECT_FALSE(div_stat.empty());
      EXPECT_EQ(div_stat, read_file(dir + "ref_" + stat)) << stat;
    }
  }
  module.reset();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
