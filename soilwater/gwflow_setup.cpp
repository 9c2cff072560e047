// Set-up of the groundwater module's grids: the grids of other modules it
// reads (layer data, the unsaturated zone's table and baseflow, glaciers,
// thaw and frozen ground, ponding), the thickness of the top layer from the
// soil profile, its own eleven grids per layer with their starting values,
// the control-point file and the tracers' concentration storages and
// statistics per layer.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/gwflow.h"
#include "soilwater/gwflow_kernels.h"
#include "tables/soiltable.h"

namespace {

constexpr int LAST_FREE_ENTRY = 998;
// ln 2 taken as 1 / 1.442695041111: half-life [d] to the e-folding time.
constexpr double HALF_LIFE_TO_E_FOLDING = 1.442695041111;
constexpr double M_TO_MM = 1000;  // [mm m-1]

std::string numbered(const char* name, int k) { return name + std::to_string(k); }

// A grid of another module that holds the halo rows, so that a halo
// exchange can refresh them.
bool holds_rows(const grid_matrix* g, int first, int last) {
  if (g == nullptr || g->empty() || g->first_row() > first || g->last_row() < last) return false;
  return (*g)[first] != nullptr && (*g)[last] != nullptr;
}

}  // namespace

int gwflowclass::halo_first() const { return std::max(1, first_row - 1); }
int gwflowclass::halo_last() const { return std::min(nrows, last_row + 1); }

int gwflowclass::next_free_entry(int from) {
  const int index = store->first_free(from);
  if (index > LAST_FREE_ENTRY)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid (gridmaxanzahl must be larger than ",
               GRID_STORE_FULL, ")!\n");
  return index;
}

void gwflowclass::link_grids() {
  std::vector<int> halo_inputs;
  auto required = [&](const std::string& n) {
    const int i = require_grid(n);
    halo_inputs.push_back(i);
    return (*store)[i].grid;
  };
  elevation = (*store)[require_grid("[elevation_model]")].grid;
  require_grid("groundwater_recharge");
  distance_index = require_grid("groundwater_distance");
  gw_distance = (*store)[distance_index].grid;
  soil_types = (*store)[require_grid("soil_types")].grid;
  baseflow_index = require_grid("baseflow");
  baseflow = (*store)[baseflow_index].grid;
  if (find_grid("RelCellArea") > 0) {
    require_grid("CellSizeX");
    require_grid("CellSizeY");
  }
  int g = find_grid("GlacierizedCells");
  if (g == 0) g = find_grid("ice_firn");
  glacier = g > 0 ? (*store)[g].grid : nullptr;

  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
    L.thickness = required(numbered("aquifer_thickness_", k));
    L.k_x = required(numbered("gw_k_x_", k));
    L.k_y = required(numbered("gw_k_y_", k));
    L.storage = required(numbered("gw_storage_coeff_", k));
    L.fixed_head = required(numbered("gw_boundary_fix_h_", k));
    L.fixed_flux = required(numbered("gw_boundary_fix_q_", k));
  }
  for (int k = 1; k < layers_n; ++k)
    layers[static_cast<size_t>(k)].colmation = required(numbered("gw_kolmation_", k));

  if (find_grid("PermafrostThawDepth") > 0 && find_grid("SnowFreeDaysGrid") > 0 &&
      find_grid("ThawCoeffPermaFrost") > 0) {
    thaw_index = find_grid("PermafrostThawDepth");
  } else if (find_grid("ThawDepthTMod") > 0) {
    thaw_index = find_grid("ThawDepthTMod");
    frozen_index = require_grid("frozenSoilInGroundwater");
    frozen = (*store)[frozen_index].grid;
  }
  if (thaw_index > 0) thaw = (*store)[thaw_index].grid;
  // A grid without halo rows cannot take part in the halo exchanges.
  if (!holds_rows(thaw, halo_first(), halo_last())) thaw_index = -1;
  if (!holds_rows(frozen, halo_first(), halo_last())) frozen_index = -1;
  if (!holds_rows(ponding, halo_first(), halo_last())) ponding_index = -1;
  if (!holds_rows(gw_distance, halo_first(), halo_last())) distance_index = -1;
  if (find_grid("DirectRunoffSiltingUp") == 0) {
    const int s = find_grid("SurfStorSiltingUp");
    silting_storage = s > 0 ? (*store)[s].grid : nullptr;
  }
  // The layer data are read at neighbouring cells too: their halo rows hold
  // the owners' values from here on.
  for (int i : halo_inputs)
    if (holds_rows((*store)[i].grid, halo_first(), halo_last())) exchange_halo(i);

  glacier_fraction = matrix(halo_first(), halo_last(), 1, ncols, nrows);
  for (int r = halo_first(); r <= halo_last(); ++r)
    std::fill(glacier_fraction[r], glacier_fraction[r] + ncols + 1, 0.0);
}

void gwflowclass::set_layer1_thickness() {
  if (layers_n < 1) return;
  grid_matrix& b = *layers[1].thickness;
  const std::vector<soil_entry>* soils = settings().soil_table;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c)) continue;
      const double type = (*soil_types)[r][c];
      if (b[r][c] <= nodata || type <= nodata) {
        b[r][c] = nodata;
        continue;
      }
      if (soils == nullptr || !(type >= 0 && type < static_cast<double>(soils->size())))
        fail_fatal(*diag, 17, "in modul ", name, ":\nsoil type ", type, " of cell (", r, ", ", c,
                   ") is not in the soil table");
      b[r][c] = (*soils)[static_cast<size_t>(type)].total_depth;
    }
  exchange_halo(require_grid("aquifer_thickness_1"));
}

void gwflowclass::create_head_grids(int first_entry) {
  const int hf = halo_first(), hl = halo_last();
  int entry = first_entry;
  auto start_head = [&](int r, int c) {
    const double d = (*gw_distance)[r][c];
    double h = (*elevation)[r][c] + d;
    if (std::fabs(d) < 0.001) {
      if (pond_used && ponding != nullptr)
        h += (*ponding)[r][c] / M_TO_MM;
      else if (silting_storage != nullptr && (*silting_storage)[r][c] > 0)
        h += (*silting_storage)[r][c] / M_TO_MM;
    }
    return h;
  };
  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
    const std::string head_name = numbered("gw_head_", k);
    const std::string old_name = numbered("gw_head_old_", k);
    L.index[0] = entry;
    if (readgrid == 1) {
      read_grid(L.head_file, L.head, 0, true, true, 0, false, false, false, true);
      register_grid(entry, L.head_file, &L.head, nullptr, 0, head_name,
                    static_cast<unsigned>(std::max(L.head_code, 0)), first_row, last_row);
      entry = next_free_entry(entry + 1);
      L.index[1] = entry;
      read_grid(L.old_head_file, L.head_old, 0, true, true, 0, false, false, false, true);
      register_grid(entry, L.old_head_file, &L.head_old, nullptr, 0, old_name,
                    static_cast<unsigned>(std::max(L.head_code, 0)), first_row, last_row);
    } else {
      L.head = matrix(hf, hl, 1, ncols, nrows);
      register_grid(entry, L.head_file, &L.head, nullptr, 0, head_name,
                    static_cast<unsigned>(std::max(L.head_code, 0)), first_row, last_row);
      for (int r = hf; r <= hl; ++r)
        for (int c = 1; c <= ncols; ++c) L.head[r][c] = own_cell(r, c) ? start_head(r, c) : nodata;
      exchange_halo(entry);
      entry = next_free_entry(entry + 1);
      L.index[1] = entry;
      L.head_old = matrix(hf, hl, 1, ncols, nrows);
      register_grid(entry, L.old_head_file, &L.head_old, nullptr, 0, old_name,
                    static_cast<unsigned>(std::max(L.head_code, 0)), first_row, last_row);
      for (int r = hf; r <= hl; ++r)
        for (int c = 1; c <= ncols; ++c) L.head_old[r][c] = own_cell(r, c) ? L.head[r][c] : nodata;
      exchange_halo(entry);
    }
    entry = next_free_entry(entry + 1);
  }
  // The nine further grids of every layer follow.
  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
    for (size_t g = 2; g < L.index.size(); ++g) {
      L.index[g] = entry;
      entry = g + 1 < L.index.size() || k < layers_n ? next_free_entry(entry + 1) : entry + 1;
    }
  }
}

void gwflowclass::create_layer_grids() {
  const int hf = halo_first(), hl = halo_last();
  for (int k = 1; k <= layers_n; ++k) {
    gw_layer& L = layers[static_cast<size_t>(k)];
    const std::string kk = std::to_string(k);
    auto make = [&](size_t g, grid_matrix& grid, bool halo, const std::string& grid_name,
                    const std::string& file_name, int code, auto own_value) {
      const int first = halo ? hf : first_row, last = halo ? hl : last_row;
      grid = matrix(first, last, 1, ncols, nrows);
      register_grid(L.index[g], file_name, &grid, nullptr, 0, grid_name,
                    static_cast<unsigned>(std::max(code, 0)), first_row, last_row);
      for (int r = first; r <= last; ++r)
        for (int c = 1; c <= ncols; ++c) grid[r][c] = own_cell(r, c) ? own_value(r, c) : nodata;
      if (halo) exchange_halo(L.index[g]);
    };
    auto head = [&](int r, int c) { return L.head[r][c]; };
    auto zero = [](int, int) { return 0.0; };
    auto trans = [&](const grid_matrix* k_dir) {
      return [&L, this, k_dir](int r, int c) {
        return ((*L.thickness)[r][c] + (*gw_distance)[r][c]) * (*k_dir)[r][c];
      };
    };
    const std::string old_old = "gw_head_old_old_" + kk;
    make(2, L.head_old_old, true, old_old, old_old, 0, head);
    make(3, L.head_iter, false, old_old, old_old, 0, head);
    const std::string tx = "gw_transmissivity_x_" + kk, ty = "gw_transmissivity_y_" + kk;
    make(4, L.trans_x, true, tx, tx, 0, trans(L.k_x));
    make(5, L.trans_y, true, ty, ty, 0, trans(L.k_y));
    make(6, L.flow_x, true, "gw_flow_x_" + kk, L.flow_x_file, L.flow_x_code, zero);
    make(7, L.flow_y, true, "gw_flow_y_" + kk, L.flow_y_file, L.flow_y_code, zero);
    make(8, L.balance, false, "gw_balance" + kk, L.balance_file, L.balance_code, zero);
    make(9, L.leakage, true, "gw_leakage_" + kk, "gw_leakage_" + kk, 0, zero);
    const std::string upper = "aquifer_upper_limit" + kk;
    if (k == 1) {
      make(10, L.upper_limit, true, upper, upper, 0,
           [this](int r, int c) { return (*elevation)[r][c]; });
    } else {
      const gw_layer& above = layers[static_cast<size_t>(k - 1)];
      make(10, L.upper_limit, true, upper, upper, 0, [&above](int r, int c) {
        return above.upper_limit[r][c] - (*above.thickness)[r][c];
      });
    }
  }
}

void gwflowclass::open_control_point() {
  if (control_row < 1 || control_col < 1) return;
  if (control_row < first_row || control_row > last_row) return;
  if ((*mpi_regions)[control_row][control_col] != rank) return;
  control_owner = true;
  cp_capacity = control_point_capacity(layers_n);
  cp_rows.reserve(static_cast<size_t>(cp_capacity));
  std::FILE* file = std::fopen(cp_file.c_str(), "wt");
  if (file == nullptr)
    fail_fatal(*diag, 62,
               "error opening file for gw-fluxes (single point) \n-> check disk space or user "
               "rights\n");
  std::fprintf(file, "YY\tMM\tDD\tHH\tcontrol_point_fluxes[%d][%d]", control_row, control_col);
  for (int lr = 1; lr <= layers_n; ++lr)
    std::fprintf(file,
                 "[lr: %d, 1]\t[lr: %d, 2]\t[lr: %d, 3]\t[lr: %d, 4]\t[lr: %d, up]\t[lr: %d, "
                 "down]\t",
                 lr, lr, lr, lr, lr, lr);
  std::fprintf(file, "\n");
  if (std::fclose(file) != 0)
    fail_fatal(*diag, 62,
               "error opening file for gw-fluxes (single point) \n-> check disk space or user "
               "rights\n");
}

void gwflowclass::init_tracers(int& status, int count, tracer_entry* list,
                               statistics_registry* registry_in, int registry_size_in) {
  status = 0;
  if (flow_control == 0) return;
  registry = registry_in;
  registry_size = registry_size_in;
  try {
    tracer_count = std::max(count, 0);
    tracer_list = list;
    gw_tracers.clear();
    gw_tracers.resize(static_cast<size_t>(tracer_count) + 1);
    const int hf = halo_first(), hl = halo_last();
    const std::string section4 = name.substr(0, 4);
    for (int t = 1; t <= tracer_count; ++t) {
      const tracer_entry& entry = list[t];
      gw_tracer& tr = gw_tracers[static_cast<size_t>(t)];
      tr.layers.resize(static_cast<size_t>(layers_n) + 1);
      // The decay over one sub-step stays with this module: the shared entry
      // holds another module's step.
      tr.radioactive = entry.radioactive == 1;
      if (tr.radioactive)
        tr.decay_factor = std::exp(-(time_interval / substeps / 60 / 24) /
                                   (HALF_LIFE_TO_E_FOLDING * entry.half_time));
      const std::string name3 = entry.name.substr(0, 3);
      for (int k = 1; k <= layers_n; ++k) {
        gw_tracer_layer& tl = tr.layers[static_cast<size_t>(k)];
        const gw_layer& L = layers[static_cast<size_t>(k)];
        tl.zones.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
        for (int z = 0; z <= zone_count; ++z) {
          tl.zones[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
          tl.zones[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
        }
        tl.statistics_file =
            entry.path + name3 + section4 + std::to_string(k) + "." + entry.statext;
        int stat_status = 0;
        tl.statistic = std::make_unique<zonalstatistic>(
            stat_status, diag, registry, registry_size, rel_cell_area, nrows, ncols,
            tl.zones.data(), zone_count, entry.statcode, 99, tl.statistics_file, output_directory,
            selected_zone_count, &selected_zones);
        if (stat_status != 0) throw stat_status;
        tl.statistic->write_header("tracer concentration for tracer " + std::to_string(t) +
                                       " in layer " + std::to_string(k) + " (" + entry.name +
                                       ") ",
                                   name, registry, registry_size);
        const int index = store->first_free(1);
        if (index >= GRID_STORE_FULL)
          fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid left ", GRID_STORE_FULL);
        tl.storage_index = index;
        tl.storage_file = entry.path + name3 + std::to_string(k) + section4 + "." + entry.gridext;
        const std::string storage_name = "concstor_tracer_" + std::to_string(t) + "_layer_" +
                                         std::to_string(k) + "_" + name;
        if (readgrid == 1) {
          read_grid(tl.storage_file, tl.storage, 0, true, true, 0.0, false, false, false, true);
          register_grid(index, tl.storage_file, &tl.storage, nullptr, 0, storage_name,
                        static_cast<unsigned>(std::max(entry.gridcode, 0)), first_row, last_row);
        } else {
          tl.storage = matrix(hf, hl, 1, ncols, nrows);
          register_grid(index, tl.storage_file, &tl.storage, nullptr, 0, storage_name,
                        static_cast<unsigned>(std::max(entry.gridcode, 0)), first_row, last_row);
          for (int r = hf; r <= hl; ++r)
            for (int c = 1; c <= ncols; ++c) {
              if (!own_cell(r, c)) {
                tl.storage[r][c] = nodata;
                continue;
              }
              tl.storage[r][c] =
                  entry.evaporating == 1
                      ? entry.gwini
                      : (*L.thickness)[r][c] * (*L.storage)[r][c] * M_TO_MM * entry.gwini;
            }
          exchange_halo(index);
        }
      }
      const int flux_index = store->first_free(1);
      if (flux_index >= GRID_STORE_FULL)
        fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid left ", GRID_STORE_FULL);
      const std::string flux_name = "concflux_tracer_" + std::to_string(t) + "_" + name;
      tr.flux = matrix(hf, hl, 1, ncols, nrows);
      for (int r = hf; r <= hl; ++r) std::fill(tr.flux[r], tr.flux[r] + ncols + 1, nodata);
      tr.flux_index = flux_index;
      register_grid(flux_index, flux_name, &tr.flux, nullptr, 0, flux_name, 0, first_row,
                    last_row);
    }
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
}

void gwflowclass::free_tracer_statistics() {
  if (flow_control == 0) return;
  for (gw_tracer& tr : gw_tracers) {
    for (gw_tracer_layer& tl : tr.layers) {
      if (tl.storage_index > 0) free_grid_entry(tl.storage_index);
      tl.storage_index = 0;
      tl.storage = grid_matrix();
      if (tl.statistic) {
        tl.statistic->release();
        tl.statistic.reset();
      }
      tl.statistics_file.clear();
      tl.storage_file.clear();
      tl.zones.clear();
    }
    if (tr.flux_index > 0) free_grid_entry(tr.flux_index);
    tr.flux_index = 0;
    tr.flux = grid_matrix();
    tr.layers.clear();
  }
  gw_tracers.clear();
}
