// The snow module's statistics and published grids: the statistics of the
// section's lines, the storage and output grids in consecutive store entries
// (read from their files with readgrid 1), and for the slide methods the
// deposition capacity and the elevation order on process 0.
#include <algorithm>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "snow/snowcover_kernels.h"
#include "snow/snowmod.h"
#include "snow/snowmod_setup_kernels.h"

namespace {

struct statistic_title {
  snow_statistic which;
  int precision;  // [decimals]
  const char* title;
};

constexpr statistic_title ALWAYS[] = {
    {snow_statistic::outflow, 4, "snow_melt_(effective_outflow_from_snow_cover)___"},
    {snow_statistic::melt_only, 4, "snow_melt_only(effective_outflow_from_snow_cover)___"},
    {snow_statistic::total_storage, 3, "snow_storage_in_mm___"},
    {snow_statistic::snow_days, 3, "snow_days____"},
    {snow_statistic::snow_age, 3, "snow_age____"},
    {snow_statistic::snow, 3, "p_snow____"},
    {snow_statistic::rain, 3, "p_rain____"},
    {snow_statistic::albedo, 3, "albedo____"}};
constexpr statistic_title ENERGY_BALANCE[] = {{snow_statistic::snowtemp, 3, "snowtemp____"},
                                              {snow_statistic::surftemp, 3, "surftemp____"}};
constexpr statistic_title SLIDES[] = {{snow_statistic::input_mass, 3, "input_mass____"},
                                      {snow_statistic::mobile_mass, 3, "mobile_mass____"},
                                      {snow_statistic::deposition, 3, "deposition____"}};

}  // namespace

void schneemodellklasse::build_statistics() {
  auto build = [this](const statistic_title& t) {
    const size_t w = static_cast<size_t>(t.which);
    std::vector<zone_record>& copy = statistic_zones[w];
    copy.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
    for (size_t z = 0; z < copy.size() && zones != nullptr && z < zones->size(); ++z) {
      copy[z].code = (*zones)[z].code;
      copy[z].share = (*zones)[z].share;
    }
    int status = 0;
    std::string file_name = params.statistic(t.which).name;
    statistics[w] = std::make_unique<zonalstatistic>(
        status, diag, registry, registry_size, rel_cell_area, nrows, ncols, copy.data(), zone_count,
        params.statistic(t.which).code, t.precision, file_name, output_directory,
        selected_zone_count, &selected_zones);
    if (status != 0) throw status;
    statistics[w]->write_header(name, t.title, registry, registry_size);
  };
  for (const statistic_title& t : ALWAYS) build(t);
  if (is_energy_balance_method(params.method))
    for (const statistic_title& t : ENERGY_BALANCE) build(t);
  if (is_slide_method(params.method))
    for (const statistic_title& t : SLIDES) build(t);
}

int schneemodellklasse::next_entry() {
  const int index = store->first_free(1);
  if (index >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE,
               "no free grid left. Please contact the author to set the number of available "
               "grids to a larger number ",
               GRID_STORE_FULL);
  return index;
}

void schneemodellklasse::fill_zero(grid_matrix& grid) const {
  const grid_matrix& zone = gathered_zone ? gathered_zone : *zone_grid;
  for (int r = grid.first_row(); r <= grid.last_row(); ++r) {
    const double* z = r >= zone.first_row() && r <= zone.last_row() ? zone[r] : nullptr;
    for (int c = 1; c <= ncols; ++c) grid[r][c] = z != nullptr && z[c] != nodata ? 0 : nodata;
  }
}

void schneemodellklasse::fill_nodata(grid_matrix& grid) const {
  for (int r = grid.first_row(); r <= grid.last_row(); ++r)
    for (int c = 1; c <= ncols; ++c) grid[r][c] = nodata;
}

schneemodellklasse::owned_grid& schneemodellklasse::publish(const std::string& grid_name,
                                                            const snow_grid_file& file, int first,
                                                            int last) {
  owned.emplace_back();
  owned_grid& g = owned.back();
  if (g.grid.empty()) g.grid = matrix(first, last, 1, ncols, nrows);
  g.index = next_entry();
  register_grid(g.index, file.name, &g.grid, nullptr, 0, grid_name,
                static_cast<unsigned>(std::max(file.write_code, 0)), g.grid.first_row(),
                g.grid.last_row());
  return g;
}

void schneemodellklasse::read_storage_grid(const std::string& grid_name, snow_grid which,
                                           bool keep_full) {
  owned.emplace_back();
  owned_grid& g = owned.back();
  const snow_grid_file& file = params.grid(which);
  // Holes inside the zone grid take their nearest valid neighbour; one
  // without any stops the set-up (25).
  read_grid(file.name, g.grid, 1, true, true, 0, true, keep_full, false, false);
  g.index = next_entry();
  register_grid(g.index, file.name, &g.grid, nullptr, 0, grid_name,
                static_cast<unsigned>(std::max(file.write_code, 0)), g.grid.first_row(),
                g.grid.last_row());
}

void schneemodellklasse::read_temperature_grid(const std::string& grid_name, snow_grid which) {
  owned.emplace_back();
  owned_grid& g = owned.back();
  const snow_grid_file& file = params.grid(which);
  // Process 0 holds the whole grid to search the neighbours of a hole; a
  // hole without any takes the melting point, not the end of the set-up.
  read_grid(file.name, g.grid, 0, true, true, 0, false, true, false, false);
  if (rank == 0 && zone_grid != nullptr) {
    const grid_matrix& zone = process_count > 1 ? gathered_zone : *zone_grid;
    fill_temperature_holes(g.grid, zone, nrows, ncols, nodata);
  }
  g.index = next_entry();
  register_grid(g.index, file.name, &g.grid, nullptr, 0, grid_name,
                static_cast<unsigned>(std::max(file.write_code, 0)), g.grid.first_row(),
                g.grid.last_row());
  if (process_count > 1) scatter_grid(g.index, &g.grid);
}

void schneemodellklasse::publish_grids() {
  const int m = params.method;
  const bool read = readgrid == 1;
  // Whole-grid copies of what process 0 needs beyond its band (collective).
  const bool temperatures_read = read && is_energy_balance_method(m);
  if (process_count > 1 && (is_slide_method(m) || temperatures_read || full_grid)) {
    gathered_zone = gather_grid_copy(1);
    if (is_slide_method(m)) {
      gathered_elevation = gather_grid_copy(2);
      gathered_slope = gather_grid_copy(find_grid("slope_angle"));
    }
    if (rank != 0) {
      gathered_zone = grid_matrix();
      gathered_elevation = grid_matrix();
      gathered_slope = grid_matrix();
    }
  }
  auto zero = [&](const char* n, snow_grid which, int first, int last) {
    fill_zero(publish(n, params.grid(which), first, last).grid);
  };
  const char* storages[] = {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total"};
  const snow_grid storage_files[] = {snow_grid::snowstorage_solid, snow_grid::snowstorage_liquid,
                                     snow_grid::snow_storage_total};
  for (int k = 0; k < 3; ++k) {
    if (read)
      read_storage_grid(storages[k], storage_files[k], full_grid);
    else
      zero(storages[k], storage_files[k], module_first, module_last);
  }
  const char* counters[] = {"days_snow", "snow_age"};
  const snow_grid counter_files[] = {snow_grid::days_snow, snow_grid::snow_age};
  for (int k = 0; k < 2; ++k) {
    if (read)
      read_storage_grid(counters[k], counter_files[k], false);
    else
      zero(counters[k], counter_files[k], module_first, module_last);
  }
  if (is_energy_balance_method(m)) {
    for (auto [n, which] :
         {std::pair{"snowtemp", snow_grid::snowtemp}, std::pair{"surftemp", snow_grid::surftemp}}) {
      if (read)
        read_temperature_grid(n, which);
      else
        fill_nodata(publish(n, params.grid(which), module_first, module_last).grid);
    }
  }
  if (is_slide_method(m)) {
    if (rank == 0) set_up_slides();
    zero("input_mass", snow_grid::input_mass, module_first, module_last);
    zero("mobile_mass", snow_grid::mobile_mass, module_first, module_last);
    zero("deposition", snow_grid::deposition, module_first, module_last);
  }
  gathered_zone = grid_matrix();
  zero("snow_fraction", snow_grid::snow_fraction, first_row, last_row);
  zero("rain_fraction", snow_grid::rain_fraction, first_row, last_row);
  zero("snowcover_outflow", snow_grid::snowcover_outflow, first_row, last_row);
  zero("melt_from_snowcover", snow_grid::melt_from_snowcover, first_row, last_row);
  gathered_slope = grid_matrix();
}

void schneemodellklasse::set_up_slides() {
  const grid_matrix& zone = gathered_zone ? gathered_zone : *zone_grid;
  const grid_matrix& heights = gathered_elevation ? gathered_elevation : *elevation;
  const grid_matrix& slopes = gathered_slope ? gathered_slope : *slope;
  const snow_grid_file unnamed{"", 0};
  if (find_grid("max_deposition") <= 0) {
    grid_matrix& capacity = publish("max_deposition", unnamed, 1, nrows).grid;
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        capacity[r][c] = zone[r][c] == nodata
                             ? nodata
                             : max_deposition_value(slopes[r][c], params.maxDepositionFactor,
                                                    params.maxDepositionSlope);
  }
  std::vector<elevation_cell> cells;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (zone[r][c] != nodata) cells.push_back({r, c, heights[r][c]});
  const std::vector<elevation_cell> order = highest_first(std::move(cells));
  grid_matrix& rows_of = publish("elev_order_row", unnamed, 1, nrows).grid;
  grid_matrix& cols_of = publish("elev_order_col", unnamed, 1, nrows).grid;
  size_t k = 0;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      const bool inside = zone[r][c] != nodata;
      rows_of[r][c] = inside ? order[k].row : nodata;
      cols_of[r][c] = inside ? order[k].col : nodata;
      if (inside) ++k;
    }
}
