// Surface routing on a divided grid: several steps of rain carrying a tracer
// on a tilted basin with a river give, for methods 1, 3, 5 and 6, on any
// number of processes and four threads exactly the grids (water and tracer)
// that an undivided module on one thread gives. The undivided module is
// built on every process, so that both take part in the same collective
// calls, but its "MPIRegions" gives every cell to process 0: the other
// processes hold no cell of it.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "routing/surfrout.h"
#include "settings/derived_setup_fixture.h"
#include "settings/tracer_entry.h"
#include "tables/landuse.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 7;

double height(int r, int c) {
  return 10.0 * (COLS - c) + 0.7 * std::fabs(r - 4.0) + 100 + 0.3 * (r % 3);
}

std::string grid_text(bool dem) {
  std::ostringstream rows;
  rows.precision(17);
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows << (dem ? height(r, c) : 1.0) << " ";
    rows << "\n";
  }
  return text_grid_of(rows.str(), COLS, ROWS);
}

std::string section(int method) {
  return "[SurfaceRoutingModel]\n1 flow control\n60 interval\n" + std::to_string(method) +
         " method\nqd.stat 0\nqi.stat 0\nqb.stat 0\nqg.stat "
         "0\nvelo.stk\n0\nflux.stk\n0\n"
         "0.000001\n20\n0.0000001\n50\n20\n600\n0.001\n2\n0 "
         "readgrid\nstorage.stat 0\n";
}

// The grids of the other modules, whole on every process.
struct inputs {
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;
  grid_store* store = nullptr;

  grid_matrix& add(const std::string& name, int index = 0) {
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(0, ROWS + 1, 0, COLS, ROWS)));
    const int i = index > 0 ? index : store->first_free(1);
    (*store)[i].grid = grids.back().get();
    (*store)[i].grid_name = name;
    (*store)[i].file_name = name + ".asc";
    return *grids.back();
  }
  void fill(grid_matrix& g, double (*f)(int, int)) {
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= COLS; ++c) g[r][c] = f(r, c);
  }
  void add_module_inputs() {
    fill(add("landuse1"), [](int, int) { return 1.0; });
    fill(add("vegetation_coverage_degree1"), [](int, int) { return 0.5; });
    fill(add("soil_types"), [](int, int) { return 1.0; });
    fill(add("SurfStorSiltingUp"), [](int, int) { return 0.0; });
    fill(add("directflow"), [](int, int) { return 0.0; });
    fill(add("interflow"), [](int, int) { return 0.0; });
    fill(add("river_depth"), [](int, int c) { return c == COLS ? 1.0 : -9999.0; });
    fill(add("river_width"), [](int, int c) { return c == COLS ? 4.0 : -9999.0; });
    fill(add("river_links"), [](int, int) { return 0.0; });
    fill(add("_CONC_QD_1_"), [](int, int) { return 0.0; });
    fill(add("_CONC_QI_1_"), [](int, int) { return 0.0; });
  }
  grid_matrix& named(const std::string& name) {
    for (auto& g : grids)
      for (int i = 1; i < GRID_STORE_FULL; ++i)
        if ((*store)[i].grid == g.get() && (*store)[i].grid_name == name) return *g;
    return *grids.front();
  }
  // Rain that varies over the cells and steps, on top of what was left,
  // with a tracer concentration that varies as well.
  void rain(int step) {
    grid_matrix& direct = named("directflow");
    grid_matrix& storage = named("SurfStorSiltingUp");
    grid_matrix& conc = named("_CONC_QD_1_");
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= COLS; ++c) {
        direct[r][c] = storage[r][c] + ((r * 7 + c * 3 + step) % 5) * 2.0;
        conc[r][c] = ((r + 2 * c + step) % 4) * 0.5;
      }
  }
};

TEST(SurfroutMpi, DividedGridGivesTheUndividedCells) {
  for (int method : {1, 3, 5, 6}) {
    control_parts parts;
    parts.transition = "1000\n" + section(method);
    settings_setup run(parts, {{"zones.asc", grid_text(false)}, {"dem.asc", grid_text(true)}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    landuse_table_t landuse(2);
    landuse[0].code = 1;
    landuse[1].code = 1;
    landuse[1].SR_cultivation = 3;
    landuse[1].SR_K_ST = 12;
    settings_context ctx = run.settings->export_settings();
    ctx.landuse_table = &landuse;

    std::vector<tracer_entry> tracer_list(2);
    tracer_list[1].name = "chl";
    tracer_list[1].statext = "stc";
    tracer_list[1].gridext = "grc";
    inputs divided;
    divided.store = &run.store;
    divided.add_module_inputs();
    int status = -1;
    auto module = std::make_unique<surfaceroutingclass>(
        status, run.cap.diag.get(), &run.registry, 200, "SurfaceRoutingModel", &run.store, ctx, 2);
    ASSERT_EQ(status, 0) << run.cap.console();
    module->init_tracers(status, 1, tracer_list.data(), &run.registry, 200);
    ASSERT_EQ(status, 0) << run.cap.console();

    grid_store whole_store;
    inputs whole;
    whole.store = &whole_store;
    whole.fill(whole.add("zonegrid", 1), [](int, int) { return 1.0; });
    whole.fill(whole.add("[elevation_model]", 2), [](int r, int c) { return height(r, c); });
    whole.add_module_inputs();
    whole.fill(whole.add("MPIRegions"), [](int, int) { return 0.0; });
    settings_context whole_ctx = ctx;
    whole_ctx.first_row = 1;
    whole_ctx.last_row = ROWS;
    whole_ctx.halo_send = nullptr;
    whole_ctx.halo_receive = nullptr;
    statistics_registry whole_registry;
    auto reference =
        std::make_unique<surfaceroutingclass>(status, run.cap.diag.get(), &whole_registry, 200,
                                              "SurfaceRoutingModel", &whole_store, whole_ctx, 2);
    ASSERT_EQ(status, 0) << run.cap.console();
    reference->init_tracers(status, 1, tracer_list.data(), &whole_registry, 200);
    ASSERT_EQ(status, 0) << run.cap.console();

    subbasin_flow_arrays qbb = make_flow_arrays(1, 1);
    std::vector<double> kel(2, 30.0);
    for (surfaceroutingclass* m : {module.get(), reference.get()}) {
      m->set_qbb(&qbb);
      m->set_kelsqd(&kel);
      m->set_kelsqi(&kel);
    }
    for (int step = 0; step < 3; ++step) {
      const model_date date{2001, 4, 20, step};
      module->begin_step(date);
      reference->begin_step(date);
      for (int k = 1; k <= 2; ++k) {
        divided.rain(step * 2 + k);
        whole.rain(step * 2 + k);
        omp_set_num_threads(4);
        module->run_substep(date, k);
        omp_set_num_threads(1);
        reference->run_substep(date, k);
        for (const char* name : {"SurfStorSiltingUp", "directflow", "SurfaceRoutingHead",
                                 "_CONC_QD_1_", "concstor_tracer_1_SiltingUpModel"}) {
          const grid_matrix gathered = module->gather_grid_copy(module->find_grid(name, 1));
          if (run.rank != 0) continue;
          const grid_matrix& expected = *whole_store[reference->find_grid(name, 1)].grid;
          for (int r = 1; r <= ROWS; ++r)
            for (int c = 1; c <= COLS; ++c)
              ASSERT_EQ(gathered[r][c], expected[r][c])
                  << "method " << method << " " << name << " " << r << "," << c;
        }
        EXPECT_EQ(module->get_internal_steps(), reference->get_internal_steps());
      }
      module->end_step(date);
      reference->end_step(date);
    }
    omp_set_num_threads(2);
    module->end_run(0);
    reference->end_run(0);
    MPI_Barrier(MPI_COMM_WORLD);
  }
}

}  // namespace
