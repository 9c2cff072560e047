// A surface-routing module on a small grid held whole by one process: the
// grids of the other modules published by name (zone grid, terrain, land
// use, "SurfStorSiltingUp", "directflow", "interflow", river grids and,
// when asked, variable cell sizes), one land-use class with a Strickler
// value and the section "[SurfaceRoutingModel]" written from its fields.
#pragma once

#include <omp.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "routing/surfrout.h"
#include "support/test_support.h"
#include "tables/landuse.h"

struct surfrout_section {
  int flow_control = 1;
  int interval = 60;  // [min]
  int method = 2;
  double eps_a = 1e-6;
  int n_a = 20;
  double eps_v = 1e-9;
  int n_v = 100;
  double s_min = 10;   // [s]
  double s_max = 600;  // [s]
  double h_crop = 0.001;
  double concentration = 1;
  int readgrid = 0;
  std::string last_line = "storage.stat 0";  // value 19

  std::string text() const {
    return "[SurfaceRoutingModel]\n" + std::to_string(flow_control) + " flow control\n" +
           std::to_string(interval) + " interval\n" + std::to_string(method) +
           " method for flowpath-calculation\nqd.stat 0\nqi.stat 0\nqb.stat "
           "0\nqg.stat 0\n"
           "velo.stk\n0\nflux.stk\n0\n" +
           std::to_string(eps_a) + "\n" + std::to_string(n_a) + "\n" + std::to_string(eps_v) +
           "\n" + std::to_string(n_v) + "\n" + std::to_string(s_min) + "\n" +
           std::to_string(s_max) + "\n" + std::to_string(h_crop) + "\n" +
           std::to_string(concentration) + "\n" + std::to_string(readgrid) + "\n" + last_line +
           "\n";
  }
};

struct surfrout_fixture {
  surfrout_fixture(int rows, int cols, double cell_size) : nrows(rows), ncols(cols) {
    // The grids are tiny: many threads would only wait for each other.
    omp_set_num_threads(2);
    std::filesystem::current_path(cap.dir.path());
    settings.control_file = cap.dir.file("control.txt");
    strips.assign(static_cast<size_t>(rows) + 1, row_strip{1, cols});
    strips[0] = row_strip{0, -1};
    settings.strips = &strips;
    settings.ncols = cols;
    settings.nrows = rows;
    settings.first_row = 1;
    settings.last_row = rows;
    settings.cellsize = cell_size;
    zones.resize(2);
    zones[1].code = 1;
    zones[1].share = 1;
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    landuse.resize(2);
    landuse[0].code = 1;
    landuse[1].code = 1;
    landuse[1].SR_cultivation = 3;
    landuse[1].SR_K_ST = 10;
    settings.landuse_table = &landuse;
    for (const char* n : {"zonegrid", "[elevation_model]", "landuse1",
                          "vegetation_coverage_degree1", "soil_types", "SurfStorSiltingUp",
                          "directflow", "interflow", "river_depth", "river_width", "river_links"})
      add(n, 0);
    fill("zonegrid", [](int, int) { return 1.0; });
    fill("landuse1", [](int, int) { return 1.0; });
    fill("soil_types", [](int, int) { return 1.0; });
    fill("river_depth", [](int, int) { return -9999.0; });
    fill("river_width", [](int, int) { return -9999.0; });
  }
  ~surfrout_fixture() {
    if (module) module->end_run(0);
    module.reset();
    std::filesystem::current_path(before);
    omp_set_num_threads(threads_before);
  }
  surfrout_fixture(const surfrout_fixture&) = delete;
  surfrout_fixture& operator=(const surfrout_fixture&) = delete;

  grid_matrix& add(const std::string& name, double value) {
    owned.push_back(std::make_unique<grid_matrix>(memory.matrix(1, nrows, 0, ncols, nrows)));
    grid_matrix& g = *owned.back();
    for (int r = 1; r <= nrows; ++r)
      for (int c = 0; c <= ncols; ++c) g[r][c] = value;
    const int i = name == "zonegrid" ? 1 : name == "[elevation_model]" ? 2 : store.first_free(3);
    store[i].grid = &g;
    store[i].grid_name = name;
    store[i].file_name = name + ".asc";
    return g;
  }
  grid_matrix& named(const std::string& name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return *store[i].grid;
    throw std::string("no grid " + name);
  }
  void fill(const std::string& name, const std::function<double(int, int)>& f) {
    grid_matrix& g = named(name);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) g[r][c] = f(r, c);
  }
  // Cells of the last column carry a river.
  void river_in_last_column() {
    fill("river_depth", [&](int, int c) { return c == ncols ? 1.0 : -9999.0; });
    fill("river_width", [&](int, int c) { return c == ncols ? 5.0 : -9999.0; });
  }
  // Cell widths that grow eastwards (E = cs (1 + 0.1 (c - 1)), F = cs) with
  // their relative areas.
  void variable_cell_sizes() {
    const double cs = settings.cellsize;
    add("CellSizeX", 0);
    add("CellSizeY", 0);
    add("RelCellArea", 0);
    fill("CellSizeX", [&](int, int c) { return cs * (1 + 0.1 * (c - 1)); });
    fill("CellSizeY", [&](int, int) { return cs; });
    fill("RelCellArea", [&](int, int c) { return 1 + 0.1 * (c - 1); });
  }
  int build(const surfrout_section& section, int substeps) {
    std::FILE* f = std::fopen(settings.control_file.c_str(), "w");
    std::fputs(section.text().c_str(), f);
    std::fclose(f);
    int status = -1;
    module = std::make_unique<surfaceroutingclass>(
        status, cap.diag.get(), &registry, 200, "SurfaceRoutingModel", &store, settings, substeps);
    if (status != 0) return status;
    module->init_tracers(status, 0, nullptr, &registry, 200);
    if (status != 0) return status;
    qbb = make_flow_arrays(0, 1);
    kelsqd.assign(2, 1e-6);
    kelsqi.assign(2, 1e-6);
    module->set_qbb(&qbb);
    module->set_kelsqd(&kelsqd);
    module->set_kelsqi(&kelsqi);
    return 0;
  }
  // Sum over the cells of a grid times the relative area (1 without one).
  double weighted_sum(const std::string& name) {
    const int rel = store.first_free(1) > 0 ? find("RelCellArea") : 0;
    double sum = 0;
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        sum += named(name)[r][c] * (rel > 0 ? (*store[rel].grid)[r][c] : 1.0);
    return sum;
  }
  int find(const std::string& name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return i;
    return 0;
  }

  int threads_before = omp_get_max_threads();
  std::filesystem::path before = std::filesystem::current_path();
  captured_diag cap;
  int nrows, ncols;
  grid_store store;
  statistics_registry registry;
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> owned;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones;
  std::vector<row_strip> strips;
  landuse_table_t landuse;
  settings_context settings;
  std::unique_ptr<surfaceroutingclass> module;
  subbasin_flow_arrays qbb;
  std::vector<double> kelsqd, kelsqi;
};
