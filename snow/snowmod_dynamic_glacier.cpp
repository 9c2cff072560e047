// The dynamic glacier model of the snow module (glacier methods 11 to 13).
// Once a year, on the evaluation day, snow beyond a threshold turns into
// glacier and firn and the firn layers age by one year; process 0 then
// turns each glacier's mass balance of the year into a new volume, takes
// the area of that volume from the volume-area relation (Chen & Ohmura
// 1990) and spreads the change of area over the glacier's cells by
// elevation band, the lowest band most (Huss et al. 2010). A glacier with
// no room left grows into neighbouring cells; the mass balance carried by
// shares that were lost is spread over the glacier's remaining cells.
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "snow/glacier_kernels.h"
#include "snow/snowmod.h"

namespace {

constexpr double ICE_DENSITY_FACTOR = 0.85;  // [-] water equivalent of ice volume
constexpr double PLACED = 1e-5;              // [cells]
constexpr int GLACIER_PASSES = 31;
constexpr double LOW_FIRN = 1e-4;  // [mm] a neighbour with less counts as bare ice

// The record crosses processes as a bool at byte 0 and doubles at 8 and 16.
MPI_Datatype glacier_record_type() {
  int lengths[3] = {1, 1, 1};
  MPI_Aint offsets[3] = {offsetof(subbasin_glacier_record, glacierized),
                         offsetof(subbasin_glacier_record, glacier_sum),
                         offsetof(subbasin_glacier_record, free_sum)};
  MPI_Datatype types[3] = {MPI_CXX_BOOL, MPI_DOUBLE, MPI_DOUBLE};
  MPI_Datatype packed = MPI_DATATYPE_NULL;
  MPI_Type_create_struct(3, lengths, offsets, types, &packed);
  MPI_Datatype record = MPI_DATATYPE_NULL;
  MPI_Type_create_resized(packed, 0, sizeof(subbasin_glacier_record), &record);
  MPI_Type_free(&packed);
  MPI_Type_commit(&record);
  return record;
}

// North, east, south, west, north-east, south-east, south-west, north-west.
constexpr int DR[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
constexpr int DC[8] = {0, 1, 0, -1, 1, 1, -1, -1};

}  // namespace

template <typename F>
void schneemodellklasse::walk_glacier_cells(F&& f) const {
  for (int r = 1; r <= nrows; ++r) {
    const row_strip span = strips != nullptr && r < static_cast<int>(strips->size())
                               ? (*strips)[static_cast<size_t>(r)]
                               : row_strip{1, ncols};
    for (int c = std::max(span.first, 1); c <= span.last; ++c)
      if ((*dyn.subbasin)[r][c] != nodata) f(r, c);
  }
}

double schneemodellklasse::firn_total_at(int r, int c) const {
  return dyn.firn != nullptr ? (*dyn.firn)[r][c][0] : 0;
}

int32_t schneemodellklasse::largest_glacier_code() const {
  return glacier_map.empty() ? 0 : static_cast<int32_t>(glacier_map.rbegin()->first);
}

glacierclass schneemodellklasse::new_glacier(int code, int subbasin) const {
  return glacierclass(code, glacier.numElevBands, glacier.extraWeightFactorBand0, subbasin,
                      glacier.VAscaling, glacier.VAexponent, 0, 0, cellsize);
}

void schneemodellklasse::rebuild_glacier_list() {
  glaciers.clear();
  glacier_map.clear();
  if (glacier_part && is_dynamic_glacier_method(glacier.method)) build_glacier_list();
}

void schneemodellklasse::build_glacier_list() {
  glacier_map.clear();
  const double cell_area = cellsize * cellsize;
  walk_glacier_cells([&](int r, int c) {
    const double g = (*dyn.g)[r][c];
    const double k = (*dyn.k)[r][c];
    if (!(g > 0) || !(k > 0)) return;
    const auto key = static_cast<int64_t>(k);
    auto found = glacier_map.find(key);
    if (found == glacier_map.end()) {
      found = glacier_map.emplace(key, static_cast<int>(glaciers.size())).first;
      glaciers.push_back(
          new_glacier(static_cast<int>(key), static_cast<int>((*dyn.subbasin)[r][c])));
    }
    glaciers[static_cast<size_t>(found->second)].add_cell(firn_total_at(r, c) <= 0, g,
                                                          (*dyn.z)[r][c], cell_area);
  });
}

void schneemodellklasse::initialise_glacier_sizes() {
  for (glacierclass& g : glaciers) {
    const glacier_size size = initial_glacier_size(g.area, g.c, g.gamma);
    g.area = size.area;
    g.volume = size.volume;
    g.old_volume = size.old_volume;
    g.old_area = size.old_area;
    g.build_bands();
  }
}

void schneemodellklasse::scan_glacier_cells(int a, bool widen) {
  if (!glacier_part || !is_dynamic_glacier_method(glacier.method)) return;
  const double cell_area = cellsize * cellsize;
  walk_glacier_cells([&](int r, int c) {
    double& k = (*dyn.k)[r][c];
    if (!(k >= -1)) return;
    // Rescans widen a range by the firn-free cells, as the set-up does, so
    // that the bands span the glacier's elevations.
    const bool widen_cell = widen || firn_total_at(r, c) <= 0;
    auto found = glacier_map.find(static_cast<int64_t>(k));
    if (found != glacier_map.end()) {
      if (a >= 0 && static_cast<int>(k) != a) return;
      glaciers[static_cast<size_t>(found->second)].add_cell(widen_cell, (*dyn.g)[r][c],
                                                            (*dyn.z)[r][c], cell_area);
      return;
    }
    // Only a cell that is glacier (or has just become one) starts or joins
    // one: a code without a share names no glacier.
    if (k != -1 && !((*dyn.g)[r][c] > 0)) return;
    if (k == -1) {
      double code = largest_glacier_code() + 1;
      for (int q = 0; q < 8; ++q) {
        const int rr = r + DR[q], cc = c + DC[q];
        if (rr < 1 || rr > nrows || cc < 1 || cc > ncols) continue;
        if ((q == 5 || q == 6) && r >= nrows) continue;
        if ((*dyn.subbasin)[rr][cc] != (*dyn.subbasin)[r][c] || !((*dyn.k)[rr][cc] > 0)) continue;
        code = (*dyn.k)[rr][cc];
        break;
      }
      k = code;
    }
    (*dyn.k_old)[r][c] = k;
    (*dyn.g)[r][c] = glacier.relSizeNewGlacier;
    found = glacier_map.find(static_cast<int64_t>(k));
    if (found == glacier_map.end()) {
      found = glacier_map.emplace(static_cast<int64_t>(k), static_cast<int>(glaciers.size())).first;
      glaciers.push_back(
          new_glacier(static_cast<int>(k), static_cast<int>((*dyn.subbasin)[r][c])));
    }
    glaciers[static_cast<size_t>(found->second)].add_cell(
        firn_total_at(r, c) <= 0, glacier.relSizeNewGlacier, (*dyn.z)[r][c], cell_area);
  });
}

void schneemodellklasse::assign_band_cells(int a) {
  auto selected = [a](const glacierclass& g) { return a < 0 || g.code == a; };
  for (glacierclass& g : glaciers)
    if (selected(g)) g.reset_bands();
  auto border = [&](int r, int c) {
    const double k = (*dyn.k)[r][c];
    for (int q = 0; q < 4; ++q) {
      const int rr = r + DR[q], cc = c + DC[q];
      if (rr >= 1 && rr <= nrows && cc >= 1 && cc <= ncols && (*dyn.k)[rr][cc] != k) return true;
    }
    return false;
  };
  walk_glacier_cells([&](int r, int c) {
    const double g = (*dyn.g)[r][c];
    const double k = (*dyn.k)[r][c];
    if (!(g > 0) || !(k > 0) || firn_total_at(r, c) > 0) return;
    if (!(g < 1) && !border(r, c)) return;
    const auto found = glacier_map.find(static_cast<int64_t>(k));
    if (found == glacier_map.end()) return;
    glacierclass& glacier_k = glaciers[static_cast<size_t>(found->second)];
    if (selected(glacier_k)) glacier_k.assign_cell_to_band(&(*dyn.g)[r][c], &(*dyn.k)[r][c],
                                                           (*dyn.z)[r][c]);
  });
  for (glacierclass& glacier_k : glaciers) {
    if (!selected(glacier_k) || glacier_k.assigned_cells > 0) continue;
    walk_glacier_cells([&](int r, int c) {
      const double g = (*dyn.g)[r][c];
      const double k = (*dyn.k)[r][c];
      if (!(k > 0) || static_cast<int>(k) != glacier_k.code) return;
      if (border(r, c) || (g >= 0 && g < 1))
        glacier_k.assign_cell_to_band(&(*dyn.g)[r][c], &(*dyn.k)[r][c], (*dyn.z)[r][c]);
    });
  }
}

void schneemodellklasse::update_glaciers() {
  if (!glacier_part || !is_dynamic_glacier_method(glacier.method)) return;
  for (glacierclass& g : glaciers) {
    g.cell_count = 0;
    g.area = 0;
    g.volume = g.old_volume;
    g.empty_range();
  }
  scan_glacier_cells(-1, false);
  // A rescan may append glaciers: by position, not by reference.
  for (size_t p = 0; p < glaciers.size(); ++p) {
    if (glaciers[p].cell_count == 0) {
      glaciers[p].area = 0;
      glaciers[p].empty_range();
      scan_glacier_cells(glaciers[p].code, true);
    }
    glaciers[p].build_bands();
  }
  assign_band_cells(-1);
  const double cell_area_km = cellsize * cellsize / 1e6;
  walk_glacier_cells([&](int r, int c) {
    const double g = (*dyn.g)[r][c];
    const double k = (*dyn.k)[r][c];
    if (!(g >= 0) || !(k >= 0)) return;
    const auto found = glacier_map.find(static_cast<int64_t>(k));
    if (found == glacier_map.end()) return;
    glaciers[static_cast<size_t>(found->second)].add_to_volume(
        g * ((*dyn.B)[r][c] - (*dyn.B_old)[r][c]) / ICE_DENSITY_FACTOR / 1000 * cell_area_km);
  });
  diag_entry(*diag, "DEBUG: Glacierbalance\n");
  for (size_t p = 0; p < glaciers.size(); ++p) update_one_glacier(p);
}

void schneemodellklasse::rescan_glacier(int code) {
  const auto found = glacier_map.find(code);
  if (found == glacier_map.end()) return;
  auto glacier_k = [&]() -> glacierclass& { return glaciers[static_cast<size_t>(found->second)]; };
  scan_glacier_cells(code, false);
  if (glacier_k().cell_count == 0) {
    glacier_k().area = 0;
    glacier_k().empty_range();
    scan_glacier_cells(code, true);
  }
  glacier_k().build_bands();
  assign_band_cells(code);
}

void schneemodellklasse::update_one_glacier(size_t p) {
  // grow_glacier and the rescans may append glaciers: hold the position.
  auto glacier_p = [&]() -> glacierclass& { return glaciers[p]; };
  glacier_p().area_from_volume();
  glacier_p().compute_cells_to_change();
  const double n = glacier_p().cells_to_change;
  if (n != 0)
    for (elevationbandclass& b : glacier_p().bands) b.count_band_changeable(n);
  diag_entry(*diag, "DEBUG: ", "Glacier:\t", static_cast<int>(p), "\n", "Old Volume:\t",
             glacier_p().old_volume, "\n", "New Volume:\t", glacier_p().volume, "\n",
             "Old Area:\t", glacier_p().old_area, "\n", "New Area:\t", glacier_p().area, "\n");
  double d = n;
  for (int pass = 1; pass <= GLACIER_PASSES; ++pass) {
    if (std::fabs(d) <= PLACED) break;
    bool stuck = glacier_p().bands.empty();
    uint64_t changeable = 0;
    if (!stuck) changeable = glacier_p().count_changeable_cells(d);
    if (!stuck && changeable < 1) stuck = true;
    if (!stuck) {
      const double u = glacier_p().distribution_unit(d);
      diag_entry(*diag, "DEBUG: ", "number of cells to add: \t", d, "\n",
                 "number of changeable cells: \t", static_cast<long>(changeable), "\n",
                 "fraction of cells to add per iteration: \t", u);
      double rest = 0;
      for (int k = 0; k < glacier_p().band_count; ++k)
        rest += glacier_p().distribute_over_bands(k, u);
      d = rest;
      stuck = std::fabs(d) > PLACED;
    }
    if (stuck) {
      const int code = glacier_p().code;
      glacier_p().cell_count = 0;
      glacier_p().area = 0;
      glacier_p().empty_range();
      if (d <= 0) {
        diag_entry(*diag, "DEBUG: ", "shrinking the glacier...");
      } else {
        diag_entry(*diag, "DEBUG: ", "growing the glacier...");
        grow_glacier(code);
      }
      rescan_glacier(code);
    }
    if (pass == GLACIER_PASSES)
      diag_entry(*diag,
                 "WARNING: \n----------- WARNING: ----------\nThere were too many iterations when "
                 "trying to remove or add glacier areas for glacier",
                 static_cast<int>(p), "\n-----------------------------\n");
  }
  diag_entry(*diag, "DEBUG: ", "---------------------------------\n\n");
  glacier_p().old_area = glacier_p().area;
  glacier_p().old_volume = glacier_p().volume;
}

void schneemodellklasse::grow_glacier(int a) {
  const auto found = glacier_map.find(a);
  if (found == glacier_map.end()) return;
  const auto position = static_cast<size_t>(found->second);
  glaciers[position].reset_bands();
  const int levels = glacier.firn_levels;
  // walk 1 and 3: bare-ice neighbours; 2 and 4: any full neighbour, whose
  // firn the cell takes.
  auto walk = [&](int kind) {
    int taken = 0;
    const bool any_code = kind == 2 || kind == 4;
    const bool at_most_zero = kind >= 3;
    walk_glacier_cells([&](int r, int c) {
      const double g = (*dyn.g)[r][c];
      if (at_most_zero ? !(g <= 0) : g != 0) return;
      if (!any_code && !((*dyn.k)[r][c] < 0)) return;
      int from = -1;
      for (int q = 0; q < 4 && from < 0; ++q) {
        const int rr = r + DR[q], cc = c + DC[q];
        if (rr < 1 || rr > nrows || cc < 1 || cc > ncols) continue;
        if ((*dyn.subbasin)[rr][cc] != (*dyn.subbasin)[r][c]) continue;
        if ((*dyn.g)[rr][cc] != 1 || static_cast<int>((*dyn.k)[rr][cc]) != a) continue;
        if (!any_code && !(firn_total_at(rr, cc) < LOW_FIRN)) continue;
        from = q;
      }
      if (from < 0) return;
      (*dyn.g)[r][c] = 0;
      (*dyn.k)[r][c] = a;
      double* layers = (*dyn.firn)[r][c];
      const double f =
          any_code ? (*dyn.firn)[r + DR[from]][c + DC[from]][0] : 0;
      layers[0] = f;
      for (int l = 1; l <= levels; ++l) layers[l] = levels > 0 ? f / levels : 0;
      if (dyn.F != nullptr) (*dyn.F)[r][c] = f;
      glaciers[position].assign_cell_to_band(&(*dyn.g)[r][c], &(*dyn.k)[r][c], (*dyn.z)[r][c]);
      ++taken;
    });
    return taken;
  };
  walk(1);
  if (glaciers[position].assigned_cells > 0) return;
  const int second = walk(2);
  if (glaciers[position].assigned_cells > 0 || second > 0) return;
  walk(3);
  if (glaciers[position].assigned_cells > 0) return;
  walk(4);
}

void schneemodellklasse::redistribute_mass_balance(int a) {
  if (!glacier_part || !is_dynamic_glacier_method(glacier.method)) return;
  auto selected_glacier = [&](double k) -> glacierclass* {
    if (!(k >= 0)) return nullptr;
    const auto found = glacier_map.find(static_cast<int64_t>(k));
    if (found == glacier_map.end()) return nullptr;
    glacierclass& g = glaciers[static_cast<size_t>(found->second)];
    return a == -1 || g.code == a ? &g : nullptr;
  };
  for (glacierclass& g : glaciers)
    if (a == -1 || g.code == a) g.lost_balance = g.new_share_sum = 0;
  walk_glacier_cells([&](int r, int c) {
    const double k_old = (*dyn.k_old)[r][c];
    glacierclass* g = selected_glacier(k_old);
    if (g == nullptr) return;
    const double g_old = (*dyn.g_old)[r][c];
    g->lost_balance += k_old == (*dyn.k)[r][c] ? (g_old - (*dyn.g)[r][c]) * (*dyn.B)[r][c]
                                                : g_old * (*dyn.B)[r][c];
  });
  walk_glacier_cells([&](int r, int c) {
    if (glacierclass* g = selected_glacier((*dyn.k)[r][c])) g->new_share_sum += (*dyn.g)[r][c];
  });
  for (glacierclass& g : glaciers)
    if (a == -1 || g.code == a)
      g.added_balance = g.new_share_sum > 0 ? g.lost_balance / g.new_share_sum : 0;
  walk_glacier_cells([&](int r, int c) {
    if (glacierclass* g = selected_glacier((*dyn.k)[r][c])) (*dyn.B)[r][c] += g->added_balance;
  });
}

void schneemodellklasse::yearly_glacier_block() {
  grid_matrix& shares = *(*store)[find_grid("GlacierizedCells")].grid;
  grid_matrix& codes = *(*store)[find_grid("GlacierCodes")].grid;
  grid_matrix& codes_old = *(*store)[find_grid("GlacierCodesOld")].grid;
  grid_matrix& balance = *(*store)[find_grid("GlacierMassBalance")].grid;
  grid_matrix& old_balance = *(*store)[find_grid("OldGlacierMassBalance")].grid;
  const new_glacier_params p{glacier.maxSnowPackToCreateGlacier, glacier.relSizeNewGlacier};
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip span = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(span.first, 1); c <= span.last; ++c) {
      if (!statistics_cell_owned(r, c)) continue;
      glacier_cell_state s;
      s.share = shares[r][c];
      s.code = codes[r][c];
      s.W = (*cell_grid.total)[r][c];
      s.S = (*cell_grid.solid)[r][c];
      s.L = (*cell_grid.liquid)[r][c];
      s.Wg = (*cell_grid.total_g)[r][c];
      s.Sg = (*cell_grid.solid_g)[r][c];
      s.Lg = (*cell_grid.liquid_g)[r][c];
      s.balance = balance[r][c];
      s.old_balance = old_balance[r][c];
      s.firn = firn_stack[r][c];
      s.levels = glacier.firn_levels;
      const bool was_glacier = yearly_glacier_cell(p, s);
      if (was_glacier || (s.share > 0 && s.code >= 0)) codes_old[r][c] = s.code;
      shares[r][c] = s.share;
      codes[r][c] = s.code;
      (*cell_grid.total)[r][c] = s.W;
      (*cell_grid.solid)[r][c] = s.S;
      (*cell_grid.liquid)[r][c] = s.L;
      (*cell_grid.total_g)[r][c] = s.Wg;
      (*cell_grid.solid_g)[r][c] = s.Sg;
      (*cell_grid.liquid_g)[r][c] = s.Lg;
      balance[r][c] = s.balance;
      old_balance[r][c] = s.old_balance;
      (*cell_grid.firn_total)[r][c] = s.firn[0];
    }
  }
}

void schneemodellklasse::recompute_glacier_records() {
  const size_t n = static_cast<size_t>(soil_zone_count) + 1;
  std::vector<subbasin_glacier_record> fresh(n);
  if (rank == 0) {
    walk_glacier_cells([&](int r, int c) {
      if ((*dyn_zone)[r][c] == nodata) return;
      const int zone = [&] {
        const double code = (*dyn.subbasin)[r][c];
        if (code < 0 || code > soil_max_zone_code) return 0;
        return soil_zone_index[static_cast<size_t>(code)];
      }();
      if (zone >= 1 && static_cast<size_t>(zone) < n)
        add_glacier_share((*dyn.g)[r][c], fresh[static_cast<size_t>(zone)]);
    });
    // A subbasin given its first glacier becomes glacierized, so that its
    // glacier runoff reaches the unsaturated zone; the others keep theirs.
    for (size_t i = 1; i < n; ++i)
      if (glacier_records[i].glacierized || fresh[i].glacierized) {
        glacier_records[i] = fresh[i];
        glacier_records[i].glacierized = true;
      }
  }
  if (process_count > 1) {
    MPI_Barrier(MPI_COMM_WORLD);
    MPI_Datatype record = glacier_record_type();
    MPI_Bcast(glacier_records.data(), static_cast<int>(n), record, 0, MPI_COMM_WORLD);
    MPI_Type_free(&record);
  }
  if (unsat_glacier_records != nullptr)
    for (size_t i = 1; i < n && i < unsat_glacier_records->size(); ++i)
      if (glacier_records[i].glacierized) (*unsat_glacier_records)[i].glacierized = true;
}

void schneemodellklasse::yearly_glacier_update() {
  if (flow_control == 0 || !glacier_part || !is_dynamic_glacier_method(glacier.method)) return;
  if (cell_grid.solid == nullptr) keep_cell_grids();
  yearly_glacier_block();

  const bool distributed = division_view().distributed();
  // Whole grids on process 0: copies when the grid is distributed.
  auto whole = [&](int index, grid_matrix& copy) -> grid_matrix* {
    if (!distributed) return (*store)[index].grid;
    copy = gather_grid_copy(index);
    return rank == 0 ? &copy : nullptr;
  };
  auto give_back = [&](int index, grid_matrix& copy) {
    if (!distributed) return;
    if (rank != 0) {
      scatter_grid(index);
      return;
    }
    scatter_grid(index, &copy);
    grid_matrix& own = *(*store)[index].grid;
    for (int r = own.first_row(); r <= own.last_row(); ++r)
      if (own[r] != nullptr)
        for (int c = 1; c <= ncols; ++c) own[r][c] = copy[r][c];
  };
  const int share_index = find_grid("GlacierizedCells"), code_index = find_grid("GlacierCodes");
  const int share_old_index = find_grid("GlacierizedCellsOld");
  const int code_old_index = find_grid("GlacierCodesOld");
  const int balance_index = find_grid("GlacierMassBalance");
  const int old_balance_index = find_grid("OldGlacierMassBalance");
  const int subbasin_index = find_grid("zonegrid_soilmodel");
  grid_matrix shares, codes, shares_old, codes_old, balance, old_balance, firn_total, subbasins,
      zone_whole, heights;
  dyn = dynamic_glacier_view{};
  dyn.g_old = whole(share_old_index, shares_old);
  dyn.k_old = whole(code_old_index, codes_old);
  dyn.B = whole(balance_index, balance);
  dyn.B_old = whole(old_balance_index, old_balance);
  dyn.F = whole(firn_stack_index, firn_total);
  stack_matrix firn_copy;
  if (distributed) firn_copy = gather_stack_copy(firn_stack_index);
  dyn.firn = distributed ? (rank == 0 ? &firn_copy : nullptr) : &firn_stack;
  dyn.g = whole(share_index, shares);
  dyn.k = whole(code_index, codes);
  dyn.subbasin = whole(subbasin_index, subbasins);
  dyn_zone = whole(1, zone_whole);
  dyn.z = whole(2, heights);

  if (rank == 0) {
    update_glaciers();
    redistribute_mass_balance(-1);
  }
  give_back(share_index, shares);
  give_back(code_index, codes);
  give_back(balance_index, balance);
  give_back(old_balance_index, old_balance);
  // The firn total and the old codes change on process 0 too (cells taken
  // by a growing glacier, codes of new cells): their owners get them back.
  give_back(firn_stack_index, firn_total);
  give_back(code_old_index, codes_old);
  if (distributed) {
    const int levels = glacier.firn_levels;
    if (rank == 0) {
      MPIScatterStack(0, &firn_copy, levels);
      for (int r = firn_stack.first_row(); r <= firn_stack.last_row(); ++r)
        for (int c = 1; c <= ncols; ++c)
          for (int l = 0; l <= levels; ++l) firn_stack[r][c][l] = firn_copy[r][c][l];
    } else {
      MPIScatterStack(0, &firn_stack, levels);
    }
  }
  diag_entry(*diag, "DEBUG: glaciers changed, updating glaicerlist now...");
  recompute_glacier_records();
  dyn = dynamic_glacier_view{};
  dyn_zone = nullptr;

  grid_matrix& own_shares = *(*store)[share_index].grid;
  grid_matrix& own_balance = *(*store)[balance_index].grid;
  grid_matrix& own_old_balance = *(*store)[old_balance_index].grid;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if ((*soil_zone_grid)[r][c] == nodata || !(own_shares[r][c] > 0)) {
        own_balance[r][c] = 0;
        own_old_balance[r][c] = 0;
      } else {
        own_old_balance[r][c] = own_balance[r][c];
      }
    }
  slide_held.glacier_current = false;
}
