// The groundwater module on one process over a rectangle of cells: a
// captured diagnostics stream, a control file in a scratch folder, a grid
// store with the zone grid, the elevation model, "MPIRegions" (all cells of
// process 0) and every grid the module links, each held whole. Tests set
// the values of the grids and the section's lines, then build the module.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/gwflow.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

namespace gwtest {

constexpr double SECONDS_PER_DAY = 86400;  // [s d-1]

// The section "[groundwater_flow]" line by line.
struct gw_section {
  int flow_control = 1;
  double interval = 60;  // [min]
  std::string method = "1";
  std::string maxiter = "1000";
  std::string maxerror = "1e-9";
  std::string alpha = "1";
  std::string omega = "0";
  std::string readgrid = "0";
  int layers = 2;
  std::string control = "0 0";
  std::string cp_name = "cp.txt";
  std::string pond_line;  // empty: no pond-flag line
  std::string head_file = "head.asc";
  std::string write_code = "0";
  std::string after;  // further sections

  std::string text() const {
    std::string s = "[groundwater_flow]\n" + std::to_string(flow_control) +
                    " flow control parameter for\n" + std::to_string(interval) +
                    " time interval for\n" + method + " method in\n" + maxiter + " maxiter in\n" +
                    maxerror + " maxerror_allowed in\n" + alpha + " alpha in\n" + omega +
                    " sor-parameter in\n" + readgrid + " grid read parameter in\n" +
                    std::to_string(layers) + " number of layers in\n" + control +
                    " control_row/column for control point fluxes in\n" + cp_name +
                    " name of the control point file  \n";
    if (!pond_line.empty()) s += pond_line + "\n";
    for (int k = 1; k <= layers; ++k) {
      const std::string kk = std::to_string(k);
      s += (k == 1 ? head_file : "head" + kk + ".asc") +
           " name of grid with hydraulic heads in\n" + write_code +
           " Writegrid (hydraulic heads) in\nqx" + kk + ".asc name of grid with "
           "x-transmissivities in\n" + write_code + " Writegrid x-transmissivities in\nqy" + kk +
           ".asc name of grid with y-transmissivities in\n" + write_code +
           " Writegrid y-transmissivities in\nbal" + kk + ".asc name of grid with balances in\n" +
           write_code + " Writegrid balances in\n";
    }
    return s + after;
  }
};

struct gw_run {
  int rows, cols, layers;
  double cellsize;
  captured_diag cd;
  struct working_folder {
    std::filesystem::path before = std::filesystem::current_path();
    explicit working_folder(const std::string& dir) { std::filesystem::current_path(dir); }
    ~working_folder() { std::filesystem::current_path(before); }
    working_folder(const working_folder&) = delete;
    working_folder& operator=(const working_folder&) = delete;
  } cwd{cd.dir.path()};
  grid_store store;
  memory_handling memory;
  std::map<std::string, std::unique_ptr<grid_matrix>> grids;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips;
  std::vector<soil_entry> soils = std::vector<soil_entry>(2);
  settings_context settings;
  std::string output_dir;
  std::unique_ptr<gwflowclass> module;
  int status = -1;
  std::vector<tracer_entry> tracer_list;

  // Layer 1 is the soil profile of depth soil_depth [m] below a surface at
  // surface [m]; the other layers thickness [m] each.
  gw_run(int rows_in, int cols_in, int layers_in, double cellsize_in, double surface = 100,
         double soil_depth = 1, double thickness = 10)
      : rows(rows_in), cols(cols_in), layers(layers_in), cellsize(cellsize_in) {
    output_dir = cd.dir.path() + "/";
    zones[1].code = 1;
    zones[1].share = 1;
    strips.assign(static_cast<size_t>(rows) + 1, row_strip{1, cols});
    strips[0] = row_strip{0, -1};
    settings.control_file = cd.dir.file("control.txt");
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = cols;
    settings.nrows = rows;
    settings.first_row = 1;
    settings.last_row = rows;
    settings.cellsize = cellsize;
    settings.output_directory = &output_dir;
    settings.write_ascii_grids = 1;
    soils[1].total_depth = soil_depth;
    settings.soil_table = &soils;
    add("zonegrid", 1);
    add("[elevation_model]", surface);
    add("MPIRegions", 0);
    for (const char* n : {"groundwater_recharge", "groundwater_distance", "soil_types", "baseflow"})
      add(n, 0);
    grid("soil_types", 1);
    for (int k = 1; k <= layers; ++k) {
      const std::string kk = std::to_string(k);
      add("aquifer_thickness_" + kk, thickness);
      add("gw_k_x_" + kk, 1e-4);
      add("gw_k_y_" + kk, 1e-4);
      add("gw_storage_coeff_" + kk, 0.1);
      add("gw_boundary_fix_h_" + kk, NODATA);
      add("gw_boundary_fix_q_" + kk, NODATA);
      if (k < layers) add("gw_kolmation_" + kk, 0);
    }
  }

  // A grid of the store, every cell value (rows 0..rows+1).
  grid_matrix& add(const std::string& name, double value) {
    auto g = std::make_unique<grid_matrix>(memory.matrix(0, rows + 1, 0, cols + 1, rows + 1));
    for (int r = 0; r <= rows + 1; ++r)
      for (int c = 0; c <= cols + 1; ++c) (*g)[r][c] = value;
    const int index = name == "zonegrid" ? 1 : store.first_free(2);
    store[index].grid = g.get();
    store[index].grid_name = name;
    store[index].file_name = name + ".asc";
    grid_matrix& out = *g;
    grids[name] = std::move(g);
    return out;
  }
  grid_matrix& grid(const std::string& name) { return *grids.at(name); }
  // The store no longer finds the grid by its name.
  void hide(const std::string& name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name == name) store[i].grid_name = "hidden " + name;
  }
  void grid(const std::string& name, double value) {
    grid_matrix& g = grid(name);
    for (int r = 0; r <= rows + 1; ++r)
      for (int c = 0; c <= cols + 1; ++c) g[r][c] = value;
  }
  // Every cell of a layer grid, e.g. layer_grid("gw_k_x_", 2, 1e-3).
  void layer_grid(const std::string& stem, int k, double value) {
    grid(stem + std::to_string(k), value);
  }

  int build(const gw_section& s, int substeps = 1, int tracers = 0) {
    cd.dir.write("control.txt", s.text());
    module = std::make_unique<gwflowclass>(status, cd.diag.get(), nullptr, 0, "groundwater_flow",
                                           &store, settings, substeps, settings.zone_table);
    if (status == 0 && tracers > 0) {
      int tracer_status = 0;
      module->init_tracers(tracer_status, tracers, tracer_list.data(), nullptr, 0);
      status = tracer_status;
    }
    if (status == 0) module->set_initialized(1);
    return status;
  }

  // One step of n sub-steps with its outputs.
  void step(int n, int64_t hour = 12, int64_t day = 2, int64_t month = 3, int64_t year = 2001) {
    const model_date date{year, month, day, hour};
    module->begin_step(date);
    for (int k = 1; k <= n; ++k) module->run_substep(date, k);
    module->end_step(date);
  }

  const gw_layer& L(int k) const { return module->layer(k); }
  std::string console() const { return cd.console(); }
  std::string file(const std::string& name) const { return cd.dir.file(name); }
};

}  // namespace gwtest
