// The glacier, firn, permafrost and lake part of the snow module's set-up:
// "[ice_firn]" with its checks, statistics and per-subbasin records (built on
// process 0, broadcast), the glacier grids with the initial firn, the glacier
// list of the dynamic methods, "[permafrost]" and "[lake_model]".
#include <mpi.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "snow/snowmod.h"

namespace {

enum glacier_statistic_index {
  FIRN_MELT,
  ICE_MELT,
  SNOW_ON_ICE,
  TOTAL_MELT,
  SNOW_STORAGE,
  FIRN_WE,
  MASS_BALANCE1,
  MASS_BALANCE2,
  THAW_DEPTH
};

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

}  // namespace

void schneemodellklasse::reopen_control_file(const std::string& section) {
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  seek_section(section, true);
}

void schneemodellklasse::close_control_file() {
  std::FILE* f = control.release();
  if (f != nullptr && std::fclose(f) != 0) fail_fatal(*diag, 11, "cannot close ", control_path);
}

const grid_matrix& schneemodellklasse::whole_or_own(const grid_matrix& gathered,
                                                    const grid_matrix& own) const {
  return gathered ? gathered : own;
}

void schneemodellklasse::fill_zero_in_subbasins(grid_matrix& grid) const {
  const grid_matrix& zones_of = whole_or_own(gathered_subbasins, *soil_zone_grid);
  for (int r = grid.first_row(); r <= grid.last_row(); ++r) {
    const bool held = r >= zones_of.first_row() && r <= zones_of.last_row() && zones_of[r];
    for (int c = 1; c <= ncols; ++c) grid[r][c] = held && zones_of[r][c] != nodata ? 0 : nodata;
  }
}

void schneemodellklasse::set_up_glacier_part() {
  reopen_control_file("[ice_firn]");
  read_glacier_section(*this, *diag, control.get(), glacier);
  const int m = glacier.method;
  const bool dynamic = is_dynamic_glacier_method(m);
  const int debris_index = find_grid("debris_on_glaciers");
  debris = debris_index > 0 ? (*store)[debris_index].grid : nullptr;

  const int subbasin_index = require_grid("zonegrid_soilmodel");
  int glacier_index = 0;
  if (dynamic) {
    full_grid = true;
    if (rank == 0) {
      module_first = 1;
      module_last = nrows;
    }
    glacier_index = require_grid("GlacierizedCells");
    const int codes_index = require_grid("GlacierCodes");
    glacier_codes = (*store)[codes_index].grid;
    if (process_count > 1) {
      gathered_codes = gather_grid_copy(codes_index);
      gathered_elevation = gather_grid_copy(2);
      if (rank != 0) {
        gathered_codes = grid_matrix();
        gathered_elevation = grid_matrix();
      }
    }
  } else {
    glacier_index = require_grid("ice_firn");
  }
  glacier_grid = (*store)[glacier_index].grid;
  if (process_count > 1) {
    gathered_glacier = gather_grid_copy(glacier_index);
    gathered_subbasins = gather_grid_copy(subbasin_index);
    if (rank != 0) {
      gathered_glacier = grid_matrix();
      gathered_subbasins = grid_matrix();
    }
  }
  const grid_matrix& shares = whole_or_own(gathered_glacier, *glacier_grid);
  const grid_matrix& subbasins = whole_or_own(gathered_subbasins, *soil_zone_grid);
  int check = 0;
  if (dynamic && rank == 0) {
    try {
      check_dynamic_glacier_grids(shares, whole_or_own(gathered_codes, *glacier_codes), subbasins);
    } catch (int code) {
      check = code;
    }
  }
  if (process_count > 1) MPI_Bcast(&check, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (check != 0) throw check;

  const size_t n = static_cast<size_t>(soil_zone_count) + 1;
  glacier_storage[0].assign(n, glacier.Qice0);
  glacier_storage[1].assign(n, glacier.Qfirn0);
  glacier_storage[2].assign(n, glacier.Qsnow0);
  glacier_storage[0][0] = glacier_storage[1][0] = glacier_storage[2][0] = 0;
  if (!dynamic) {
    glacier.snow_on_ice_statistic.name = snow_on_ice_statistics_name(glacier.total_statistic.name);
    glacier.snow_on_ice_statistic.code = glacier.total_statistic.code;
    if (glacier.snow_on_ice_statistic.name.empty())
      fail_fatal(*diag, 103, "the name of the qglac-statistic-file ", glacier.total_statistic.name,
                 " has no \".\" to name the statistics of the snow melt on ice areas after");
  }
  close_control_file();

  build_glacier_statistic(FIRN_MELT, glacier.firn_statistic, true, 5,
                          "glacier_melt_from_firn_areas__");
  build_glacier_statistic(ICE_MELT, glacier.ice_statistic, true, 5,
                          "glacier_melt_from_ice_areas__");
  build_glacier_statistic(SNOW_ON_ICE, glacier.snow_on_ice_statistic, true, 5,
                          "snow_melt_from_ice_areas__");
  build_glacier_statistic(TOTAL_MELT, glacier.total_statistic, true, 5,
                          "glacier_melt_total(firn+ice)__");
  build_glacier_statistic(SNOW_STORAGE, glacier.snow_storage_statistic, false, 3,
                          "snow_storage_in_mm_WITHOUT_GLACIERS_");

  aice_mean = (glacier.Aice_min + glacier.Aice_max) / 2;
  aice_amplitude = (glacier.Aice_max - glacier.Aice_min) / 2;
  asnow_mean = (glacier.Asnow_min + glacier.Asnow_max) / 2;
  asnow_amplitude = (glacier.Asnow_max - glacier.Asnow_min) / 2;
  if (is_radiation_glacier_method(m))
    glacier_radiation =
        (*store)[require_one_of_3_grids("global_radiation", "Ieff_max", "Ieff_max")].grid;

  if (rank == 0) build_glacier_records(shares, subbasins);
  if (process_count > 1) {
    MPI_Barrier(MPI_COMM_WORLD);
    if (rank != 0) glacier_records.assign(n, subbasin_glacier_record{});
    MPI_Datatype record = glacier_record_type();
    MPI_Bcast(glacier_records.data(), static_cast<int>(n), record, 0, MPI_COMM_WORLD);
    MPI_Type_free(&record);
  }

  if (dynamic) {
    build_glacier_statistic(FIRN_WE, glacier.firn_statistic_we, true, 4,
                            "WE_in_firn_[mm_per_subbasin]");
    build_glacier_statistic(MASS_BALANCE1, glacier.mass_balance_statistic1, true, 5,
                            "glacier_mass_balance_[mm_per_subbasin]");
    build_glacier_statistic(MASS_BALANCE2, glacier.mass_balance_statistic2, true, 5,
                            "glacier_mass_balance_[mm_GlacierPartOfSubbasin]");
  }
}

void schneemodellklasse::check_dynamic_glacier_grids(const grid_matrix& shares,
                                                     const grid_matrix& codes,
                                                     const grid_matrix& subbasins) {
  const char* header = "\n-----------Fatal Error:----------\n";
  bool glacierized = false;
  bool coded = false;
  for (int r = 1; r <= nrows; ++r) {
    const row_strip span = strips != nullptr && r < static_cast<int>(strips->size())
                               ? (*strips)[r]
                               : row_strip{1, ncols};
    for (int c = std::max(span.first, 1); c <= span.last; ++c) {
      if (shares[r][c] > 0) {
        glacierized = true;
        if (codes[r][c] == nodata)
          fail_fatal(*diag, 80, header,
                     "There is a cell in the GlacierizedCells-grid having no valid value in \n",
                     "GlacierCodes", " (must be an integer ID for each separate glacier) at row ",
                     r, " and col ", c);
      }
      if (subbasins[r][c] != nodata && codes[r][c] > 0) coded = true;
    }
  }
  if (!glacierized)
    fail_fatal(*diag, 80, header,
               "There are no glacierized cells in GlacierizedCells-grid (all nodata or equal to "
               "0)!");
  if (!coded) {
    const int index = find_grid("GlacierCodes");
    fail_fatal(*diag, 80, "\n----------- Fatal Error: ----------\nThe ", "GlacierCodes", " grid (",
               (*store)[index].file_name.value_or(""), ")contains nodata values only. \n",
               "Dynamic glacier modelling will not be possible without \n",
               "distinct glacier codes for each glacier");
  }
}

void schneemodellklasse::build_glacier_statistic(int which, const snow_statistics_file& file,
                                                 bool by_subbasin, int precision,
                                                 const char* title) {
  const size_t w = static_cast<size_t>(which);
  const std::vector<zone_record>& source = by_subbasin ? soil_zones : *zones;
  const int count = by_subbasin ? soil_zone_count : zone_count;
  std::vector<zone_record>& copy = glacier_zones[w];
  copy.assign(static_cast<size_t>(count) + 1, zone_record{});
  for (size_t z = 0; z < copy.size() && z < source.size(); ++z) {
    copy[z].code = source[z].code;
    copy[z].share = source[z].share;
  }
  int status = 0;
  glacier_statistic_files[w] = file.name;
  glacier_statistics[w] = std::make_unique<zonalstatistic>(
      status, diag, registry, registry_size, rel_cell_area, nrows, ncols, copy.data(), count,
      file.code, precision, glacier_statistic_files[w], output_directory, selected_zone_count,
      &selected_zones);
  if (status != 0) throw status;
  glacier_statistics[w]->write_header(name, title, registry, registry_size);
}

void schneemodellklasse::build_glacier_records(const grid_matrix& shares,
                                               const grid_matrix& subbasins) {
  glacier_records.assign(static_cast<size_t>(soil_zone_count) + 1, subbasin_glacier_record{});
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      const double code = subbasins[r][c];
      if (!(code > nodata) || code < 0 || code > soil_max_zone_code) continue;
      const int zone = soil_zone_index[static_cast<size_t>(code)];
      if (zone < 1 || zone > soil_zone_count) continue;
      add_glacier_share(shares[r][c], glacier_records[static_cast<size_t>(zone)]);
    }
}

void schneemodellklasse::publish_glacier_grids() {
  auto zero = [&](const char* n, const snow_grid_file& file, int first, int last) {
    fill_zero_in_subbasins(publish(n, file, first, last).grid);
  };
  zero("melt_from_firn", glacier.firn_melt, first_row, last_row);
  zero("melt_from_ice", glacier.ice_melt, first_row, last_row);
  if (!is_dynamic_glacier_method(glacier.method)) {
    gathered_subbasins = grid_matrix();
    gathered_glacier = grid_matrix();
    return;
  }
  const bool energy = is_energy_balance_method(params.method);
  if (glacier.readgrid == 1) {
    read_glacier_grids();
  } else {
    set_initial_firn();
    zero("GlacierMassBalance", glacier.mass_balance, module_first, module_last);
    zero("OldGlacierMassBalance", glacier.old_mass_balance, module_first, module_last);
    zero("SolidSnowStorage_onGlacier", glacier.solid_on_glacier, module_first, module_last);
    zero("LiquidSnowStorage_onGlacier", glacier.liquid_on_glacier, module_first, module_last);
    zero("TotalSnowStorage_onGlacier", glacier.total_on_glacier, module_first, module_last);
    if (energy) {
      zero("surftemp_onGlacier", glacier.surftemp_on_glacier, module_first, module_last);
      zero("snowtemp_onGlacier", glacier.snowtemp_on_glacier, module_first, module_last);
    }
  }
  const grid_matrix& shares = whole_or_own(gathered_glacier, *glacier_grid);
  const grid_matrix& codes = whole_or_own(gathered_codes, *glacier_codes);
  auto copy_of = [&](const char* n, const grid_matrix& from) {
    grid_matrix& to = publish(n, snow_grid_file{n, 0}, module_first, module_last).grid;
    for (int r = to.first_row(); r <= to.last_row(); ++r)
      for (int c = 1; c <= ncols; ++c) to[r][c] = from[r][c];
  };
  copy_of("GlacierizedCellsOld", shares);
  copy_of("GlacierCodesOld", codes);
  zero("SnowMelt_onGlacier", glacier.melt_on_glacier, first_row, last_row);
  zero("SnowEvaporation_onGlacier", glacier.evaporation_on_glacier, first_row, last_row);

  if (rank == 0) {
    glacier_list_conflict conflict;
    glacier_list = ::build_glacier_list(
        shares, codes, whole_or_own(gathered_subbasins, *soil_zone_grid), nrows, ncols, nodata,
        cellsize, glacier.VAscaling, glacier.VAexponent, conflict);
    if (conflict.found) {
      diag_entry(*diag, "FATAL: \n\n=======================================\n",
                 "!!!! ERROR !!!! \n\n", "glacier ", conflict.code,
                 " is located in more than one subbasin:\n", "First cell was found in subbasin ",
                 conflict.subbasin, ",\n", "whereas the cell in row ", conflict.row, " and col ",
                 conflict.col, " belongs to subbasin ", conflict.cell_subbasin,
                 ".\nPlease make sure that each single glacier belongs to one specific subbasin "
                 "only.");
    }
    int code = conflict.found ? 84 : 0;
    if (process_count > 1) MPI_Bcast(&code, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (code != 0) throw code;
  } else if (process_count > 1) {
    int code = 0;
    MPI_Bcast(&code, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (code != 0) throw code;
  }
  // The records of the dynamic model with their elevation ranges, sizes
  // and bands, on process 0 (the firn decides which cells widen a range).
  stack_matrix firn_whole;
  if (division_view().distributed()) firn_whole = gather_stack_copy(firn_stack_index);
  if (rank == 0) {
    dyn = dynamic_glacier_view{};
    dyn.g = const_cast<grid_matrix*>(&shares);
    dyn.k = const_cast<grid_matrix*>(&codes);
    dyn.subbasin = &whole_or_own(gathered_subbasins, *soil_zone_grid);
    dyn.z = &whole_or_own(gathered_elevation, *elevation);
    dyn.firn = firn_whole ? &firn_whole : &firn_stack;
    rebuild_glacier_list();
    initialise_glacier_sizes();
    dyn = dynamic_glacier_view{};
  }
  gathered_subbasins = grid_matrix();
  gathered_glacier = grid_matrix();
  gathered_codes = grid_matrix();
}

void schneemodellklasse::set_initial_firn() {
  const int levels = glacier.firn_levels;
  firn_stack = matrix_3d(module_first, module_last, 1, ncols, levels, nrows);
  owned.emplace_back();
  owned_grid& total = owned.back();
  total.grid = matrix(module_first, module_last, 1, ncols, nrows);
  total.index = next_entry();
  register_grid(total.index, glacier.firn_stack.name, &total.grid, &firn_stack, levels,
                "firn_WE_stack", static_cast<unsigned>(std::max(glacier.firn_stack.write_code, 0)),
                module_first, module_last);
  firn_stack_index = total.index;
  const grid_matrix& shares = whole_or_own(gathered_glacier, *glacier_grid);
  const grid_matrix& subbasins = whole_or_own(gathered_subbasins, *soil_zone_grid);
  const grid_matrix& heights = whole_or_own(gathered_elevation, *elevation);
  for (int r = module_first; r <= module_last; ++r)
    for (int c = 1; c <= ncols; ++c) {
      const bool glacier_cell = subbasins[r][c] != nodata && shares[r][c] > 0;
      double sum = 0;
      for (int l = 1; l <= levels; ++l) {
        firn_stack[r][c][l] = glacier_cell ? initial_firn_level(glacier.deltafirnper100m,
                                                                heights[r][c], glacier.firn_base)
                                           : nodata;
        sum += firn_stack[r][c][l];
      }
      firn_stack[r][c][0] = glacier_cell ? sum : nodata;
      total.grid[r][c] = firn_stack[r][c][0];
    }
}

void schneemodellklasse::read_glacier_grids() {
  read_stack(glacier.firn_stack.name, firn_stack, full_grid);
  glacier.firn_levels = firn_stack.levels();
  owned.emplace_back();
  owned_grid& total = owned.back();
  total.grid = matrix(first_row, last_row, 1, ncols, nrows);
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) total.grid[r][c] = firn_stack[r][c][0];
  total.index = next_entry();
  register_grid(total.index, glacier.firn_stack.name, &total.grid, &firn_stack, firn_stack.levels(),
                "firn_WE_stack", static_cast<unsigned>(std::max(glacier.firn_stack.write_code, 0)),
                first_row, last_row);
  firn_stack_index = total.index;

  auto storage = [&](const char* n, const snow_grid_file& file) -> grid_matrix& {
    owned.emplace_back();
    owned_grid& g = owned.back();
    read_grid(file.name, g.grid, 1, true, true, 0, true, true, false, false);
    g.index = next_entry();
    register_grid(g.index, file.name, &g.grid, nullptr, 0, n,
                  static_cast<unsigned>(std::max(file.write_code, 0)), g.grid.first_row(),
                  g.grid.last_row());
    return g.grid;
  };
  grid_matrix& balance = storage("GlacierMassBalance", glacier.mass_balance);
  grid_matrix& old_balance = storage("OldGlacierMassBalance", glacier.old_mass_balance);
  // Where one of the two holds nodata and the other a value, both take it.
  for (int r = balance.first_row(); r <= balance.last_row(); ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (balance[r][c] == nodata && old_balance[r][c] != nodata) balance[r][c] = old_balance[r][c];
      if (old_balance[r][c] == nodata && balance[r][c] != nodata) old_balance[r][c] = balance[r][c];
    }
  storage("SolidSnowStorage_onGlacier", glacier.solid_on_glacier);
  storage("LiquidSnowStorage_onGlacier", glacier.liquid_on_glacier);
  storage("TotalSnowStorage_onGlacier", glacier.total_on_glacier);
  if (is_energy_balance_method(params.method)) {
    for (auto [n, file] : {std::pair{"surftemp_onGlacier", &glacier.surftemp_on_glacier},
                           std::pair{"snowtemp_onGlacier", &glacier.snowtemp_on_glacier}}) {
      owned.emplace_back();
      owned_grid& g = owned.back();
      read_grid(file->name, g.grid, 0, true, true, 0, false, false, false, false);
      g.index = next_entry();
      register_grid(g.index, file->name, &g.grid, nullptr, 0, n,
                    static_cast<unsigned>(std::max(file->write_code, 0)), g.grid.first_row(),
                    g.grid.last_row());
    }
  }
}

void schneemodellklasse::set_up_permafrost() {
  if (find_grid("ThawCoeffPermaFrost") <= 0 || find_grid("PermafrostThawDepth") <= 0) return;
  const int free_index = find_grid("SnowFreeDaysGrid");
  if (free_index > 0) {
    snow_free_days = (*store)[free_index].grid;
  } else {
    owned_grid& g = publish("SnowFreeDaysGrid", snow_grid_file{}, first_row, last_row);
    fill_zero(g.grid);
    snow_free_days = &g.grid;
  }
  const int cover_index = find_grid("SnowCoverDaysGrid");
  if (cover_index > 0) {
    snow_cover_days = (*store)[cover_index].grid;
  } else {
    owned_grid& g = publish("SnowCoverDaysGrid", snow_grid_file{}, first_row, last_row);
    fill_zero(g.grid);
    snow_cover_days = &g.grid;
  }
  thaw_coefficient = (*store)[require_grid("ThawCoeffPermaFrost")].grid;
  thaw_depth = (*store)[require_grid("PermafrostThawDepth")].grid;
  root_depth = (*store)[require_grid("root_depth" + std::to_string(1))].grid;
  reopen_control_file("[permafrost]");
  read_permafrost_section(*this, *diag, control.get(), permafrost);
  close_control_file();
  build_glacier_statistic(THAW_DEPTH, permafrost.thaw_statistic, false, 4, "thaw_depth_in_m_");
  permafrost_on = true;
}

void schneemodellklasse::read_lake_parameters(const std::string& section) {
  if (store == nullptr) return;
  const int lake_index = find_grid("lake_codes");
  if (lake_index <= 0) {
    diag_entry(*diag, "INFO: no LAKE-grid was found in ", name, "\n",
               "Lake modelling is switched off for ", name, ".");
    return;
  }
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  seek_section(section, true);
  std::string rest;
  read_value(control.get(), "%d", lake_flow_control, "flow control parameter for ", rest);
  const std::vector<hru_entry>* units = modelobject::settings().hru_list;
  if (units != nullptr && units->size() > 1) {
    lake_flow_control = 0;
  } else if (lake_flow_control != 0) {
    lake_codes = (*store)[lake_index].grid;
    int pond_index = find_grid("ponding_storage");
    if (pond_index <= 0) pond_index = find_grid("ponding_storage_top");
    if (pond_index <= 0)
      fail_fatal(*diag, 28, "\n\n=======================================\n", "!!!! ERROR !!!! \n\n",
                 "\nLAKE-grid was found, but no POND-Grid. For using lakes,",
                 "\nboth grids as well as the MAXPOND grid must be present.",
                 "\n\n=======================================\n");
    ponding = (*store)[pond_index].grid;
  }
  std::FILE* f = control.release();
  if (std::fclose(f) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path,
               "after reading initialization method for ", section);
}
