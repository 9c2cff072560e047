// Set-up of the surface routing: the section "[SurfaceRoutingModel]", the
// grids taken from other modules, the grids and stacks the module publishes
// (the plan curvature of the terrain among them), its statistics.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "routing/surfrout.h"
#include "tables/landuse.h"
#include "tables/multilayer.h"

namespace {

constexpr int STATISTICS_PRECISION = 5;
constexpr double NO_LANDUSE = -9999;
constexpr double DEFAULT_CRITICAL_SHEAR = 0.9;  // [N m-2]

const char* const OWN_NAMES[] = {
    "SurfaceRoutingVelocity",   "SurfaceRoutingFluxes",       "SurfaceRoutingWeights",
    "SurfaceRoutingHead",       "SurfaceRoutingHeadOld",      "SurfaceRoutingRoughnessX",
    "SurfaceRoutingRoughnessY", "SurfaceRoutingManningCoeff", "Plancurvature",
    "SurfaceRoutingQIn",        "SurfaceRoutingQOut",         "CriticalShearStress"};

const char* const STAT_TITLES[] = {"Direct_Discharge_Surface_Routing", "Interflow_Surface_Routing",
                                   "Baseflow_Surface_Routing", "Total_Runoff_Surface_Routing",
                                   "Surface_Storage_in_SurfaceRouting_Module"};

}  // namespace

surfaceroutingclass::surfaceroutingclass(int& status, DiagStream* diag_stream,
                                         statistics_registry* registry_in, int registry_size_in,
                                         const std::string& section, grid_store* store_in,
                                         const settings_context& settings, int substeps_in)
    : teilmodellklasse(diag_stream, section, store_in, settings, substeps_in, 1) {
  registry = registry_in;
  registry_size = registry_size_in;
  run_constructor_body(status, [&] { set_up(); });
}

surfaceroutingclass::~surfaceroutingclass() = default;

void surfaceroutingclass::set_up() {
  if (store != nullptr && mpi_regions == nullptr) find_division_grids();
  if (flow_control == 0 || store == nullptr) return;
  write_source_banner(*diag, "surfrout", __DATE__, __TIME__);
  // Hydrologic response units have no lateral surface flow.
  if (settings().spinup_switch != 0) {
    flow_control = 0;
    control.reset();
    return;
  }
  if (find_grid("GlacierizedCells") > 0 || find_grid("GlacierCodes") > 0)
    fail_fatal(*diag, 2,
               "error: Surface routing module cannot be used when glacier "
               "model is active. "
               "Remove grids for glacier codes and glaciated cell fractions "
               "from the grid list");
  take_terrain_and_landuse();
  read_section();
  register_own_grids();
  create_statistics();
  take_runoff_grids();
  before.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
  after = before;
  river_in = before;
  loss.assign(static_cast<size_t>(zone_count) + 1, 0.0);
  velocity_file.clear();
  flux_file.clear();
  constructed = true;
  set_initialized(1);
}

void surfaceroutingclass::take_terrain_and_landuse() {
  in.elevation = (*store)[2].grid;
  const multilayer_table_t* multilayer = settings().multilayer_table;
  layer_count = multilayer != nullptr && multilayer->size() > 1 ? (*multilayer)[1].layer_count : 1;
  layer_count = std::max(layer_count, 1);
  in.landuse.assign(static_cast<size_t>(layer_count) + 1, nullptr);
  in.coverage.assign(static_cast<size_t>(layer_count) + 1, nullptr);
  for (int k = 1; k <= layer_count; ++k)
    in.landuse[static_cast<size_t>(k)] = (*store)[require_grid("landuse" + std::to_string(k))].grid;
  for (int k = 1; k <= layer_count; ++k)
    in.coverage[static_cast<size_t>(k)] =
        (*store)[require_grid("vegetation_coverage_degree" + std::to_string(k))].grid;
  in.soil_types = (*store)[require_grid("soil_types")].grid;
  in.storage = (*store)[require_grid("SurfStorSiltingUp")].grid;
}

void surfaceroutingclass::read_section() {
  std::FILE* file = control.get();
  std::string& line = section_buffer;
  read_value(file, "%d", method, "method for flowpath-calculation ", line);
  if (method < 1 || method > 6)
    fail_fatal(*diag, 10, "\n-----------------error------------\ninvalid method (", method,
               ") read for ", name, "\n");
  const char* stat_keys[] = {
      "name of the statistics for direct runoff from surface routing (QDSR) ",
      "name of the statistics for interflow from surface routing (QISR) ",
      "name of the statistics for baseflow from surface routing (QBSR) ",
      "name of the statistics for total runoff from surface routing (QGSR) "};
  for (int s = STAT_QD; s <= STAT_QG; ++s)
    read_two_values(file, "%s%d", stat_files[s], stat_codes[s], stat_keys[s], line);
  read_value(file, "%s", velocity_file, "name of the surface-routing-velocity-stack, ", line);
  read_value(file, "%d", velocity_code, "Writegrid for surface-routing-velocity-stack, ", line);
  read_value(file, "%s", flux_file, "name of the surface-routing-fluxes-stack, ", line);
  read_value(file, "%d", flux_code, "Writegrid for surface-routing-fluxes-stack, ", line);
  read_value(file, "%lf", eps_a, "maximum iteration error for A_NL [m] in ", line);
  read_value(file, "%d", n_a, "maximum iteration steps for A_NL in ", line);
  read_value(file, "%lf", eps_v, "maximum iteration error [m/s] for velocity in ", line);
  read_value(file, "%d", n_v, "maximum iteration steps for velocity in ", line);
  read_value(file, "%lf", s_min, "minimum sub time step [s] in ", line);
  read_value(file, "%lf", s_max, "maximum sub time step [s] in ", line);
  read_value(file, "%lf", h_crop,
             "minimum flow depth to take into account the roughness of the "
             "crops [m] in ",
             line);
  read_value(file, "%lf", concentration, "Concentration factor [1/1] in ", line);
  adjust_step_bounds();
  read_value(file, "%d", readgrid, "read control parameter for storage grids for ", line);
  // The storage statistic's line is optional: without both values it is off.
  std::string last;
  read_line_rest(file, last);
  char word[1200] = {};
  int code = 0;
  if (std::sscanf(last.c_str(), "%1199s%d", word, &code) == 2) {
    stat_files[STAT_STORAGE] = word;
    stat_codes[STAT_STORAGE] = code;
  } else {
    stat_files[STAT_STORAGE].clear();
    stat_codes[STAT_STORAGE] = 0;
  }
  std::FILE* f = control.release();
  if (std::fclose(f) != 0)
    fail_fatal(*diag, 11, "error closing control file \"", control_path, "\"");
}

void surfaceroutingclass::adjust_step_bounds() {
  const double substep = time_interval / std::max(substeps, 1) * 60;
  const double longest = surfrout::adjusted_step_bound(s_max, substep);
  if (longest != s_max)
    diag_entry(*diag, "INFO: longest allowed subtimestep changed from ", s_max, " to ", longest,
               ". Must be integer fraction of time step in seconds.");
  s_max = longest;
  const double shortest = surfrout::adjusted_step_bound(s_min, substep);
  if (shortest != s_min)
    diag_entry(*diag, "WARNING: shortest allowed subtimestep changed from ", s_min, " to ",
               shortest, ". Must be integer fraction of time step in seconds.");
  s_min = shortest;
}

int surfaceroutingclass::next_free_entry() {
  // Every entry is searched for, so an entry taken by another module in
  // between is never overwritten.
  const int index = store->first_free(1);
  if (index >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid anymore, allowed number of grids is ",
               GRID_STORE_FULL, "!");
  return index;
}

void surfaceroutingclass::initial_values(grid_matrix& grid, int first, int last, double value) {
  for (int r = first; r <= last; ++r)
    for (int c = 0; c <= ncols; ++c) grid[r][c] = c >= 1 && own_cell(r, c) ? value : nodata;
}

void surfaceroutingclass::initial_values(stack_matrix& stack, int first, int last) {
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= ncols; ++c) {
      const double value = own_cell(r, c) ? 0 : nodata;
      for (int l = 0; l <= surfrout::STACK_LEVELS; ++l) stack[r][c][l] = value;
    }
}

void surfaceroutingclass::register_own_grids() {
  const int halo_first = std::max(1, first_row - 1);
  const int halo_last = std::min(nrows, last_row + 1);
  for (int k = VELOCITY; k <= MANNING; ++k) {
    own_grid& g = own[k];
    const bool with_halo = k != WEIGHTS;
    const int first = with_halo ? halo_first : first_row;
    const int last = with_halo ? halo_last : last_row;
    g.grid = matrix(first, last, 0, ncols, nrows);
    initial_values(g.grid, first, last, 0);
    g.used = &g.grid;
    g.created = true;
    g.index = next_free_entry();
    std::string file;
    unsigned code = 0;
    stack_matrix* stack = nullptr;
    if (k <= WEIGHTS) {
      g.stack = matrix_3d(first, last, 0, ncols, surfrout::STACK_LEVELS, nrows);
      initial_values(g.stack, first, last);
      stack = &g.stack;
      if (k == VELOCITY) {
        file = velocity_file;
        code = static_cast<unsigned>(std::max(velocity_code, 0));
      } else if (k == FLUXES) {
        file = flux_file;
        code = static_cast<unsigned>(std::max(flux_code, 0));
      }
    }
    register_grid(g.index, file, &g.grid, stack, stack != nullptr ? surfrout::STACK_LEVELS : 0,
                  OWN_NAMES[k], code, first, last);
    if (k == MANNING) fill_manning_grid();
    if (k == FLUXES) exchange_halo_stack(g.index);
    if (k >= HEAD) exchange_halo(g.index);
  }
  register_optional_grid(PLANCURVATURE, OWN_NAMES[PLANCURVATURE], true, 0);
  register_optional_grid(QIN, OWN_NAMES[QIN], false, 0);
  register_optional_grid(QOUT, OWN_NAMES[QOUT], false, 0);
  register_optional_grid(CRITICAL_SHEAR, OWN_NAMES[CRITICAL_SHEAR], false, DEFAULT_CRITICAL_SHEAR);
}

void surfaceroutingclass::register_optional_grid(own_index which, const char* grid_name,
                                                 bool with_halo, double start) {
  own_grid& g = own[which];
  const int found = find_grid(grid_name);
  if (found > 0 && (*store)[found].grid != nullptr) {
    g.used = (*store)[found].grid;
    g.index = found;
    return;
  }
  const int first = with_halo ? std::max(1, first_row - 1) : first_row;
  const int last = with_halo ? std::min(nrows, last_row + 1) : last_row;
  g.grid = matrix(first, last, 0, ncols, nrows);
  initial_values(g.grid, first, last, start);
  g.used = &g.grid;
  g.created = true;
  g.index = next_free_entry();
  register_grid(g.index, "", &g.grid, nullptr, 0, grid_name, 0, first, last);
  if (which == PLANCURVATURE) {
    plan_curvature();
    exchange_halo(g.index);
  }
}

int surfaceroutingclass::landuse_code(int row, int col) const {
  for (int k = layer_count; k >= 1; --k) {
    const double code = (*in.landuse[static_cast<size_t>(k)])[row][col];
    if (code != NO_LANDUSE) return static_cast<int>(code);
  }
  return static_cast<int>(NO_LANDUSE);
}

void surfaceroutingclass::fill_manning_grid() {
  grid_matrix& manning = own[MANNING].grid;
  const auto* table = settings().landuse_table;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const int code = landuse_code(r, c);
      if (code == static_cast<int>(NO_LANDUSE)) ++missing_class_cells;
      manning[r][c] = table != nullptr && code >= 1 && code < static_cast<int>(table->size())
                          ? (*table)[static_cast<size_t>(code)].get_sr_k_st()
                          : 0;
    }
  // Such cells get no friction value and therefore hold their water.
  if (missing_class_cells > 0 && !missing_class_warned) {
    diag_entry(*diag, "WARNING: ", missing_class_cells, " cells of ", name,
               " have no land-use class in any vegetation layer (every code "
               "-9999): their "
               "surface water does not flow (Strickler value 0)");
    missing_class_warned = true;
  }
}

void surfaceroutingclass::plan_curvature() {
  grid_matrix& curvature = *own[PLANCURVATURE].used;
  const grid_matrix& z = *in.elevation;
  const int first = std::max(first_row, curvature.first_row());
  const int last = std::min(last_row, curvature.last_row());
  if (first <= 1 && last >= 1)
    for (int c = 1; c <= ncols; ++c) curvature[1][c] = nodata;
  if (last == nrows)
    for (int c = 1; c <= ncols; ++c) curvature[nrows][c] = nodata;
  for (int r = std::max(2, first); r <= std::min(last, nrows - 1); ++r) {
    curvature[r][1] = nodata;
    curvature[r][ncols] = nodata;
    for (int c = 2; c <= ncols - 1; ++c) {
      double block[9];
      for (int d = 0; d <= surfrout::DIRECTIONS; ++d)
        block[d] = z[r + surfrout::ROW_OFFSET[d]][c + surfrout::COL_OFFSET[d]];
      curvature[r][c] = surfrout::plan_curvature_of(block, cellsize, nodata);
    }
  }
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (own_cell(r, c) && z[r][c] != nodata && curvature[r][c] == nodata)
        fill_nodata_cell(r, c, curvature);
}

void surfaceroutingclass::fill_nodata_cell(int row, int col, grid_matrix& grid) {
  double sum = 0;
  int used = 0;
  for (int d = 1; d <= surfrout::DIRECTIONS; ++d) {
    const int r = row + surfrout::ROW_OFFSET[d];
    const int c = col + surfrout::COL_OFFSET[d];
    if (!inside(r, c) || r < grid.first_row() || r > grid.last_row()) continue;
    if (grid[r][c] == nodata) continue;
    sum += grid[r][c];
    ++used;
  }
  if (used > 0) grid[row][col] = sum / used;
}

void surfaceroutingclass::create_statistics() {
  for (int s = 0; s < STAT_COUNT; ++s) {
    std::vector<zone_record>& z = stat_zones[s];
    z.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
    for (int k = 0; k <= zone_count; ++k) {
      const zone_record& from = (*zones)[static_cast<size_t>(k)];
      z[static_cast<size_t>(k)].code = from.code;
      z[static_cast<size_t>(k)].share = from.share;
      z[static_cast<size_t>(k)].weight = from.weight;
    }
    int status = 0;
    statistics[s] = std::make_unique<zonalstatistic>(
        status, diag, registry, registry_size, rel_cell_area, nrows, ncols, z.data(), zone_count,
        stat_codes[s], STATISTICS_PRECISION, stat_files[s], output_directory, selected_zone_count,
        &selected_zones);
    if (status != 0) throw status;
    statistics[s]->write_header(STAT_TITLES[s], name, registry, registry_size);
  }
}

void surfaceroutingclass::take_runoff_grids() {
  in.directflow = (*store)[require_grid("directflow")].grid;
  in.interflow = (*store)[require_grid("interflow")].grid;
  in.river_depth = (*store)[require_grid("river_depth")].grid;
  in.river_width = (*store)[require_grid("river_width")].grid;
  in.river_links = (*store)[require_grid("river_links")].grid;
  const int times = find_grid("flow_times");
  in.flow_times = times > 0 ? (*store)[times].grid : nullptr;
  if (find_grid("RelCellArea") > 0) {
    in.cell_size_x = (*store)[require_grid("CellSizeX")].grid;
    in.cell_size_y = (*store)[require_grid("CellSizeY")].grid;
  }
}
