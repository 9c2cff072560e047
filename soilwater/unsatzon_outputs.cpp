// The unsaturated zone's zonal statistics (titles, files, codes and
// precisions) and its soil-water report at model start: per process the
// water of its own columns, summed at process 0 into the mean lines of
// "modell_0.log".
#include <algorithm>
#include <stdexcept>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "soilwater/unsatzon.h"
#include "tables/soiltable.h"

void unsatzonmodellklasse::build_statistic(unsatzon_statistic which, const statistics_file& file) {
  const size_t w = static_cast<size_t>(which);
  std::vector<zone_record>& zones_of = statistic_zones[w];
  zones_of.assign(static_cast<size_t>(own_zone_count) + 1, zone_record{});
  for (size_t z = 0; z < zones_of.size() && z < own_zones.size(); ++z) {
    zones_of[z].code = own_zones[z].code;
    zones_of[z].share = own_zones[z].share;
  }
  int status = 0;
  std::string file_name = file.name;
  const statistic_title& title = statistic_title_of(which);
  statistics[w] = std::make_unique<zonalstatistic>(
      status, diag, registry, registry_size, rel_cell_area, nrows, ncols, zones_of.data(),
      own_zone_count, file.code, title.precision, file_name, output_directory, selected_zone_count,
      &selected_zones);
  if (status != 0) throw status;
  statistics[w]->write_header(name, title.title, registry, registry_size);
}

void unsatzonmodellklasse::build_first_statistics() {
  using st = unsatzon_statistic;
  using sf = unsatzon_stat_file;
  const std::pair<st, sf> always[] = {
      {st::gwstand, sf::gwstand}, {st::gwn, sf::gwn},     {st::sb_1, sf::sb_1},
      {st::sb_2, sf::sb_2},       {st::root, sf::root},   {st::infex, sf::infex},
      {st::qd, sf::qd},           {st::qi, sf::qi},       {st::qb, sf::qb},
      {st::qg, sf::qg},           {st::macro, sf::macro}, {st::infilt, sf::infilt}};
  for (const auto& [which, file] : always)
    build_statistic(which, params.stat_files[static_cast<size_t>(file)]);
  if (params.method == 3) build_statistic(st::substeps, params.substeps_stat);
  if (params.heat_flow_control > 0) build_statistic(st::thaw_depth, params.thaw_depth_stat);
}

void unsatzonmodellklasse::column_water(int r, int c, double& water, double& saturated) const {
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const soil_entry& soil = soils[static_cast<size_t>((*links.at("soil_types"))[r][c])];
  const stack_matrix& theta = own.at("theta").stack;
  water = saturated = 0;
  for (int l = 1; l <= layer_count; ++l) {
    water += theta[r][c][l] * soil.thickness[static_cast<size_t>(l)];
    saturated += soil.theta_sat[static_cast<size_t>(l)] * soil.thickness[static_cast<size_t>(l)];
  }
}

soil_water_sums unsatzonmodellklasse::sum_soil_water(const grid_matrix* glacier) const {
  soil_water_sums own_sums;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (!own_cell(r, c) || !((*zone_grid)[r][c] > 0)) continue;
      double water = 0, saturated = 0;
      column_water(r, c, water, saturated);
      const double g = glacier != nullptr && (*glacier)[r] != nullptr ? (*glacier)[r][c] : 0;
      add_cell_to_sums(own_sums, water, saturated, g, rel_cell_area != nullptr,
                       rel_cell_area != nullptr ? (*rel_cell_area)[r][c] : 0);
    }
  return reduce_soil_water_sums(own_sums);
}

void unsatzonmodellklasse::write_start_report() {
  const int cr = params.control_row, cc = params.control_column;
  if (cr > 0 && cc > 0 && cr >= first_row && cr <= last_row && mpi_regions != nullptr &&
      (*mpi_regions)[cr] != nullptr && (*mpi_regions)[cr][cc] == rank) {
    double water = 0, saturated = 0;
    column_water(cr, cc, water, saturated);
    append_model_log("", rank, control_cell_report_line(cr, cc, water * 1000));
  }
  const soil_water_sums total = sum_soil_water(glacier_fraction);
  if (rank == 0) append_model_log("", 0, start_report_lines(total));
}

void unsatzonmodellklasse::set_up_glacier_records() {
  if (find_grid("ice_firn") == 0 && find_grid("GlacierMassBalance") == 0) return;
  if (find_grid("GlacierizedCells") > 0 && find_grid("GlacierMassBalance") > 0) {
    glacier_fraction = (*store)[require_grid("GlacierizedCells")].grid;
    glacier_fraction_old = (*store)[require_grid("GlacierizedCellsOld")].grid;
    statistics_file immobilised = params.stat_files[static_cast<size_t>(unsatzon_stat_file::sb_2)];
    try {
      immobilised.name = immobilised_statistics_name(immobilised.name);
    } catch (const std::invalid_argument&) {
      fail_fatal(*diag, 103, "in modul ", name, ":\nthe SB_2 statistics file name ",
                 immobilised.name, " has no \".\" to insert \"_immo\" before\n");
    }
    build_statistic(unsatzon_statistic::immobilised, immobilised);
  } else {
    glacier_fraction = (*store)[require_grid("ice_firn")].grid;
  }
  glacier_records.assign(static_cast<size_t>(own_zone_count) + 1, subbasin_glacier_record{});
  if (rank == 0) {
    const grid_matrix& g = *glacier_fraction;
    const int first = std::max({1, zone_grid->first_row(), g.first_row()});
    const int last = std::min({nrows, zone_grid->last_row(), g.last_row()});
    for (int r = first; r <= last; ++r) {
      if ((*zone_grid)[r] == nullptr || g[r] == nullptr) continue;
      for (int c = 1; c <= ncols; ++c) {
        const double code = (*zone_grid)[r][c];
        if (code == nodata || code < 0 || code >= static_cast<double>(own_zone_index.size()))
          continue;
        const int i = own_zone_index[static_cast<size_t>(code)];
        add_glacier_cell(glacier_records[static_cast<size_t>(i)], g[r][c]);
      }
    }
  }
  broadcast_glacier_records(glacier_records);
}
