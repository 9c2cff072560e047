// Set-up of the unsaturated zone's grids: the grids of other modules it
// reads, its own grids and stacks in consecutive store entries (read from
// files or created by readgrid), the ponding limit converted from m to mm,
// and the starting soil state of every own column (heights, water contents
// in hydrostatic equilibrium with the groundwater table, heads, the table
// found again, and the derived grids other modules read before the first
// step).
#include <mpi.h>

#include <algorithm>
#include <cassert>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_grids.h"
#include "soilwater/unsatzon_initial_state.h"
#include "tables/irrigation.h"
#include "tables/landuse.h"
#include "tables/multilayer.h"
#include "tables/soiltable.h"

namespace {

constexpr double METRES_TO_MM = 1000;  // [mm m-1]

std::string numbered(const char* name, int i) { return name + std::to_string(i); }

}  // namespace

bool unsatzonmodellklasse::own_cell(int row, int col) const {
  if (zone_grid == nullptr || mpi_regions == nullptr) return false;
  if (row < zone_grid->first_row() || row > zone_grid->last_row() || (*zone_grid)[row] == nullptr)
    return false;
  if (row < mpi_regions->first_row() || row > mpi_regions->last_row() ||
      (*mpi_regions)[row] == nullptr)
    return false;
  return (*zone_grid)[row][col] != nodata && (*mpi_regions)[row][col] == rank;
}

void unsatzonmodellklasse::fill_own_cells(grid_matrix& grid, double value) const {
  if (strips == nullptr) return;
  for (int r = grid.first_row(); r <= grid.last_row(); ++r) {
    if (r >= static_cast<int>(strips->size()) || grid[r] == nullptr) continue;
    const row_strip& s = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(s.first, 1); c <= s.last; ++c)
      grid[r][c] = own_cell(r, c) ? value : nodata;
  }
}

void unsatzonmodellklasse::link_grids() {
  auto required = [this](const std::string& n) { links[n] = (*store)[require_grid(n)].grid; };
  auto optional = [this](const std::string& n) {
    const int i = find_grid(n);
    links[n] = i > 0 ? (*store)[i].grid : nullptr;
    return i;
  };
  const multilayer_table_t* multilayer = modelobject::settings().multilayer_table;
  vegetation_layers =
      multilayer != nullptr && multilayer->size() > 1 ? (*multilayer)[1].layer_count : 1;
  for (int i = 1; i <= vegetation_layers; ++i)
    for (const char* n :
         {"landuse", "root_depth", "vegetation_coverage_degree", "leaf_area_index",
          "SurfaceCanopyResistance", "SurfaceIntercepResistance", "RoughnessLength"})
      required(numbered(n, i));
  for (int i = 0; i <= vegetation_layers; ++i)
    for (const char* n : {"pot_transpiration", "real_transpiration"}) required(numbered(n, i));
  for (const char* n : {"SurfaceEvaporationResistance", "albedo", "potential_evaporation",
                        "real_evaporation", "slope_angle", "soil_types"})
    required(n);
  for (const char* n : {"gw_storage_coeff_", "gw_k_x_", "gw_k_y_"}) optional(numbered(n, 1));
  if (params.pond_switch == 1) required("max_ponding_storage");
  if (params.drainage_switch == 1) {
    required("drainage_depth");
    required("drainage_distance");
  }
  if (params.clay_switch == 1) required("clay_depth");
  optional("snowstorage_solid");
  if (params.heat_flow_control > 0) {
    required("temperature");
    optional("T_Lower_Boundary_Condition");
    heat_flux_lower_boundary = optional("HeatFlux_Lower_Boundary_Condition") > 0;
  }
  if (modelobject::settings().irrigation_table != nullptr) {
    required("irrigation_codes");
    const int etr = optional("ETR2ETP");
    if (etr > 0) etr2etp_index = -etr;
  }
  if (optional("DirectRunoffSiltingUp") == 0)
    silting_up_storage_linked = optional("SurfStorSiltingUp") > 0;
}

unsatzonmodellklasse::own_grid& unsatzonmodellklasse::add_own_grid(const std::string& grid_name,
                                                                   const std::string& file_name,
                                                                   int write_code, int first,
                                                                   int last, bool stack,
                                                                   int levels) {
  const auto entry = planned_entries.find(grid_name);
  assert(entry != planned_entries.end());
  own_grid& g = own[grid_name];
  g.index = entry->second;
  if (stack) {
    if (g.stack.empty()) g.stack = matrix_3d(first, last, 1, ncols, levels, nrows);
    g.grid = matrix(first, last, 1, ncols, nrows);
  } else if (g.grid.empty()) {
    g.grid = matrix(first, last, 1, ncols, nrows);
  }
  register_grid(g.index, file_name, &g.grid, stack ? &g.stack : nullptr, levels, grid_name,
                static_cast<unsigned>(std::max(write_code, 0)), first_row, last_row);
  return g;
}

void unsatzonmodellklasse::read_own_stack(const std::string& grid_name, const grid_file& file) {
  own_grid& g = own[grid_name];
  read_stack(file.name, g.stack, false);
  if (g.stack.levels() != layer_count)
    fail_fatal(*diag, 13, "wrong number of levels in stack ", file.name, " (there are ",
               g.stack.levels(), " level, it must be ", layer_count);
  add_own_grid(grid_name, file.name, file.write_code, first_row, last_row, true, layer_count);
}

void unsatzonmodellklasse::read_own_grid(const std::string& grid_name, const grid_file& file,
                                         bool keep_full, bool with_halo) {
  own_grid& g = own[grid_name];
  read_grid(file.name, g.grid, 0, true, true, 0, false, keep_full, false, with_halo);
  add_own_grid(grid_name, file.name, file.write_code, g.grid.first_row(), g.grid.last_row(), false,
               0);
}

void unsatzonmodellklasse::create_grids() {
  const bool heat = params.heat_flow_control > 0;
  const bool pond = params.pond_switch == 1;
  const bool irrigation = modelobject::settings().irrigation_table != nullptr;
  const bool lower_boundary = heat && links["T_Lower_Boundary_Condition"] == nullptr;
  const bool frozen_groundwater =
      heat && links["gw_k_x_1"] != nullptr && links["gw_k_y_1"] != nullptr;
  own_grid_switches s;
  s.readgrid = readgrid;
  s.pond = pond;
  s.drainage = params.drainage_switch == 1;
  s.irrigation = irrigation;
  s.etr2etp_in_store = etr2etp_index < 0;
  s.method3 = params.method == 3;
  s.heat = heat;
  s.lower_boundary_in_store = !lower_boundary;
  s.groundwater_k_linked = frozen_groundwater;
  const std::vector<std::string> names = own_grid_order(s);
  const std::vector<int> entries = own_grid_entries(*diag, *store, names);
  for (size_t i = 0; i < names.size(); ++i) planned_entries[names[i]] = entries[i];

  const int L = layer_count;
  const int b_first = first_row, b_last = last_row;
  const int h_first = std::max(1, first_row - 1), h_last = std::min(nrows, last_row + 1);
  const int w0_first = rank == 0 ? 1 : b_first, w0_last = rank == 0 ? nrows : b_last;
  const int w0h_first = rank == 0 ? 1 : h_first, w0h_last = rank == 0 ? nrows : h_last;
  auto file_of = [this](unsatzon_grid_file f) -> const grid_file& {
    return params.grid_files[static_cast<size_t>(f)];
  };
  using gf = unsatzon_grid_file;
  auto plain = [&](const char* n, const grid_file& f, int first, int last) -> grid_matrix& {
    return add_own_grid(n, f.name, f.write_code, first, last, false, 0).grid;
  };
  auto filled = [&](const char* n, const grid_file& f, int first, int last, double v) {
    fill_own_cells(plain(n, f, first, last), v);
  };
  auto stack = [&](const char* n, const grid_file& f) {
    add_own_grid(n, f.name, f.write_code, b_first, b_last, true, L);
  };
  const grid_file own_name_only{"", 0};
  auto unwritten = [](const char* n) { return grid_file{n, 0}; };

  if ((readgrid & ~2) == 1) {
    read_own_stack("theta", file_of(gf::theta));
    read_own_stack("geodetic_heads", file_of(gf::hgeo));
    read_own_stack("hydraulic_heads", file_of(gf::hh));
    if (heat) read_own_stack("Soil_Temperature_Stack", params.temperature_stack);
    read_own_grid("groundwater_distance", file_of(gf::gwstand), false, true);
    read_own_grid("groundwater_level", file_of(gf::gwlevel), false, false);
    read_own_grid("Theta_in_GWLEVEL", file_of(gf::gwtheta), false, false);
    read_own_grid("baseflow", file_of(gf::deltagw), true, false);
    if (pond) read_own_grid("ponding_storage", file_of(gf::pond), true, true);
  } else {
    if (readgrid == 2) {
      read_own_grid("groundwater_distance", file_of(gf::gwstand), false, true);
      if (pond) read_own_grid("ponding_storage", file_of(gf::pond), true, true);
    } else {
      plain("groundwater_distance", file_of(gf::gwstand), h_first, h_last);
      if (pond) filled("ponding_storage", file_of(gf::pond), w0h_first, w0h_last, 0);
    }
    stack("geodetic_heads", file_of(gf::hgeo));
    stack("theta", file_of(gf::theta));
    stack("hydraulic_heads", file_of(gf::hh));
    if (heat) stack("Soil_Temperature_Stack", params.temperature_stack);
    filled("baseflow", file_of(gf::deltagw), w0_first, w0_last, 0);
    plain("groundwater_level", file_of(gf::gwlevel), b_first, b_last);
    plain("Theta_in_GWLEVEL", file_of(gf::gwtheta), b_first, b_last);
  }
  if (lower_boundary)
    plain("T_Lower_Boundary_Condition", unwritten("T_Lower_Boundary_Condition"), b_first, b_last);

  own_grid& q_down = add_own_grid("q_down", file_of(gf::q_unten).name,
                                  file_of(gf::q_unten).write_code, b_first, b_last, true, L);
  fill_own_cells(q_down.grid, 0);
  for (int r = b_first; r <= b_last; ++r)
    for (int c = 1; c <= ncols; ++c)
      for (int l = 1; l <= L; ++l) q_down.stack[r][c][l] = own_cell(r, c) ? 0 : nodata;
  fill_own_cells(add_own_grid("q_downext", "q_downext", 0, w0_first, w0_last, false, L).grid, 0);
  filled("SB_1_grid", file_of(gf::sb05), b_first, b_last, 0);
  filled("MeanThetaInRootZone", unwritten("MeanThetaInRootZone"), b_first, b_last, 0);
  if (irrigation) {
    filled("irrigation_amounts", file_of(gf::irrig), b_first, b_last, 0);
    filled("Max_Pumping", unwritten("Max_Pumping"), b_first, b_last, 0);
    plain("SBLOW_grid", unwritten("SBLOW_grid"), b_first, b_last);
    plain("SBHIGH_grid", unwritten("SBHIGH_grid"), b_first, b_last);
    if (etr2etp_index == 0) {
      filled("ETR2ETP", own_name_only, b_first, b_last, 1);
      etr2etp_index = own["ETR2ETP"].index;
    }
  }
  for (const char* n : {"GWTableExtern", "Balance", "tangens_beta"})
    plain(n, unwritten(n), b_first, b_last);
  filled("SB_2_grid", file_of(gf::sb1), b_first, b_last, 0);
  filled("macropore_infiltration", file_of(gf::macropore), b_first, b_last, 0);
  if (params.method == 3) filled("number_of_substeps", params.substeps_grid, b_first, b_last, 0);
  filled("ROOTgrid", file_of(gf::wurz), b_first, b_last, 0);
  filled("groundwater_recharge", file_of(gf::gwn), b_first, b_last, 0);
  filled("Capillar_Uprise", file_of(gf::gwn_uprise), b_first, b_last, 0);
  filled("Percolation", file_of(gf::gwn_percol), b_first, b_last, 0);
  filled("directflow", file_of(gf::qd), b_first, b_last, 0);
  filled("interflow", file_of(gf::qi), b_first, b_last, 0);
  filled("infiltration_excess", file_of(gf::infex), b_first, b_last, 0);
  filled("total_infiltration", unwritten("total_infiltration"), b_first, b_last, 0);
  filled("infiltration_saturation", file_of(gf::saturation), b_first, b_last, 0);
  if (frozen_groundwater)
    plain("frozenSoilInGroundwater", unwritten("frozenSoilInGroundwater"), h_first, h_last);
  if (heat) filled("ThawDepthTMod", params.thaw_depth_grid, h_first, h_last, 0);
  if (params.drainage_switch == 1) {
    filled("drainage_flow", file_of(gf::qdrain), b_first, b_last, 0);
    plain("drainage_level", unwritten("drainage_level"), b_first, b_last);
  }
}

void unsatzonmodellklasse::convert_ponding_limit() {
  if (params.pond_switch != 1) return;
  const int index = find_grid("max_ponding_storage");
  grid_matrix* limit = (*store)[index].grid;
  // The limit is read in m; the store entry itself holds it in mm from here
  // on, for every module.
  if (rank == 0 && strips != nullptr)
    for (int r = std::max(1, limit->first_row()); r <= std::min(nrows, limit->last_row()); ++r) {
      if ((*limit)[r] == nullptr || r >= static_cast<int>(strips->size())) continue;
      const row_strip& s = (*strips)[static_cast<size_t>(r)];
      for (int c = std::max(s.first, 1); c <= s.last; ++c) (*limit)[r][c] *= METRES_TO_MM;
    }
  MPI_Barrier(MPI_COMM_WORLD);
  scatter_grid(index);
  MPI_Barrier(MPI_COMM_WORLD);
}

void unsatzonmodellklasse::set_initial_state() {
  const int L = layer_count;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  for (size_t t = 1; t < soils.size(); ++t)
    if (soils[t].thickness.size() < static_cast<size_t>(L) + 1 ||
        soils[t].theta_sat.size() < static_cast<size_t>(L) + 1)
      fail_fatal(*diag, 17, "in modul ", name, ":\nsoil type ", soils[t].name, " has ",
                 soils[t].layer_count, " layers, the soil columns need ", L, "\n");
  const grid_matrix& elevation = *(*store)[2].grid;
  const grid_matrix& soil_types = *links["soil_types"];
  stack_matrix& g_stack = own["geodetic_heads"].stack;
  stack_matrix& theta_stack = own["theta"].stack;
  stack_matrix& h_stack = own["hydraulic_heads"].stack;
  const bool read_state = (readgrid & ~2) == 1;
  grid_matrix& distance = own["groundwater_distance"].grid;
  grid_matrix& level = own["groundwater_level"].grid;
  grid_matrix& theta_at_level = own["Theta_in_GWLEVEL"].grid;
  const bool irrigation = modelobject::settings().irrigation_table != nullptr;
  const auto lower = own.find("T_Lower_Boundary_Condition");
  const auto frozen = own.find("frozenSoilInGroundwater");
  const bool drainage = params.drainage_switch == 1;

  // The settings replaced the codes by table indices; anything else would
  // address past the table.
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (own_cell(r, c) &&
          !(soil_types[r][c] >= 1 && soil_types[r][c] < static_cast<double>(soils.size())))
        fail_fatal(*diag, 17, "in modul ", name, ":\nsoil type ", soil_types[r][c], " of cell (", r,
                   ", ", c, ") is not in the soil table\n");
  auto column_of = [&](int r, int c) {
    const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
    return soil_column_view{L, soil.thickness.data(), soil.theta_sat.data()};
  };
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      double* g = g_stack[r][c];
      double* theta = theta_stack[r][c];
      double* h = h_stack[r][c];
      if (!own_cell(r, c)) {
        for (int l = 1; l <= L; ++l) g[l] = nodata;
        if (!read_state) {
          for (int l = 1; l <= L; ++l) theta[l] = h[l] = nodata;
          distance[r][c] = level[r][c] = theta_at_level[r][c] = nodata;
        }
        continue;
      }
      const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
      const soil_column_view column = column_of(r, c);
      geodetic_heights(column, elevation[r][c], g);
      if (read_state) continue;
      int k = 0;
      if (readgrid == 2) {
        k = groundwater_layer_from_distance(column, g, distance[r][c]);
        check_groundwater_layer(*diag, k, L, r, c, "the read groundwater distance", distance[r][c]);
      } else {
        k = groundwater_layer_from_divisor(L, params.ini_gw_level);
        check_groundwater_layer(*diag, k, L, r, c, "ini_gw_level", params.ini_gw_level);
      }
      equilibrium_theta(soil, column, g, k, theta);
      hydraulic_heads(soil, L, g, theta, h);
      const groundwater_table table =
          search_groundwater_table(column, g, theta, readgrid == 2, distance[r][c]);
      distance[r][c] = table.distance;
      level[r][c] = table.level;
      theta_at_level[r][c] = table.theta_at_level;
    }

  if (lower != own.end()) {
    grid_matrix& t = lower->second.grid;
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c)
        t[r][c] = own_cell(r, c)
                      ? lower_boundary_temperature(g_stack[r][c][0], params.dTModLapseRate,
                                                   params.dTModLowBoundBase)
                      : nodata;
    if (rank == 0)
      write_grid("T_Lower_Boundary_Condition", t, write_ascii_grids != 0, write_double_grids != 0);
  }
  if (params.heat_flow_control > 0 && !read_state) {
    fill_own_cells(own["Soil_Temperature_Stack"].grid, 0);
    temperature_start_pending = true;
  }

  const grid_matrix& slope = *links["slope_angle"];
  grid_matrix& tangens_beta = own["tangens_beta"].grid;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) {
        tangens_beta[r][c] = nodata;
        if (frozen != own.end()) frozen->second.grid[r][c] = nodata;
        continue;
      }
      tangens_beta[r][c] = slope[r][c] * DEGREES_TO_RADIANS;
      const double* g = g_stack[r][c];
      if (frozen != own.end()) frozen->second.grid[r][c] = g[0] - g[L];
    }

  if (drainage) {
    const grid_matrix& depth = *links["drainage_depth"];
    grid_matrix& drain = own["drainage_level"].grid;
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) {
        if (!own_cell(r, c)) {
          drain[r][c] = nodata;
          continue;
        }
        const int m = drainage_layer(column_of(r, c), g_stack[r][c], depth[r][c]);
        // A drain below the column has no layer to take its water from.
        if (m > L)
          fail_fatal(*diag, 17, "in modul ", name, ":\ndrainage depth ", depth[r][c],
                     " m of cell (", r, ", ", c, ") lies below the soil column\n");
        drain[r][c] = m;
        // The drain's outflow divides by its distance: none, or a negative
        // one, would drain the layer at once or fill it.
        const double spacing = (*links["drainage_distance"])[r][c];
        if (m >= 1 && !(spacing > 0))
          fail_fatal(*diag, 17, "in modul ", name, ":\ndrainage distance ", spacing,
                     " m of cell (", r, ", ", c, ") must be above 0\n");
      }
  }

  if (!irrigation) return;
  const irrigation_table_t& rules = *modelobject::settings().irrigation_table;
  const std::vector<landuse_entry>* landuses = modelobject::settings().landuse_table;
  const grid_matrix& root_depth = *links["root_depth1"];
  const grid_matrix& codes = *links["irrigation_codes"];
  const grid_matrix& landuse = *links["landuse1"];
  grid_matrix& sb1 = own["SB_1_grid"].grid;
  grid_matrix& mean_suction = own["MeanThetaInRootZone"].grid;
  grid_matrix& low = own["SBLOW_grid"].grid;
  grid_matrix& high = own["SBHIGH_grid"].grid;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c) || codes[r][c] == nodata) {
        low[r][c] = high[r][c] = nodata;
        if (!own_cell(r, c)) continue;
      }
      const soil_entry& soil = soils[static_cast<size_t>(soil_types[r][c])];
      const double* theta = theta_stack[r][c];
      const double z = root_depth[r][c];
      sb1[r][c] = z > 0 ? thickness_weighted_mean(column_of(r, c), theta, mean_mode::amount, z) / z
                        : theta[1];
      mean_suction[r][c] = soil.suction_from_theta(1, sb1[r][c]);
      if (codes[r][c] == nodata) continue;
      const irrigation_entry& rule = rules[static_cast<size_t>(codes[r][c])];
      low[r][c] = soil.theta_from_suction(2, rule.psi_dry);
      const double wet = rule.method == 4 && landuses != nullptr
                             ? (*landuses)[static_cast<size_t>(landuse[r][c])].get_hredu_dry()
                             : rule.psi_wet;
      high[r][c] = soil.theta_from_suction(2, wet);
    }
}
