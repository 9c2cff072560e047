// The vegetation layers of a run: one land-use grid per layer, split from the
// multilayer land-use grid, and per layer the vegetation parameter grids, the
// vegetation period of the balance and the dynamic-phenology state, with their
// values at the start date. The daily update (vegetation_phenology.cpp) keeps
// them current afterwards.
//
// Every grid is looked up by name first, so a grid given as a standard or
// variable grid is taken over; a new one takes the first free store entry.
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "tables/landuse_year.h"

namespace {

constexpr double MISSING_LAYER = -9999;  // land-use index of a layer the class does not have
constexpr double MIN_ROOT_DEPTH = 0.01;  // [m]
constexpr double MIN_ROUGHNESS = 0.01;   // [m]
constexpr int HISTORY_LEVELS = 8;        // levels 0..8 of "TemperatureMOVAV"
// Key of the temperature history among the stacks the settings object keeps,
// which are kept by store index otherwise.
constexpr int HISTORY_STACK_KEY = -1;

std::string layer_name(const char* base, int layer) {
  char text[256];
  std::snprintf(text, sizeof text, "%s%d", base, layer);
  return text;
}

bool has_phenology_start(int method) {
  return method == LANDUSE_DYNAMIC_PHENOLOGY_1 || method == LANDUSE_DYNAMIC_PHENOLOGY_2 ||
         method == LANDUSE_DYNAMIC_PHENOLOGY_4;
}

bool is_dynamic(int method) {
  return method >= LANDUSE_DYNAMIC_PHENOLOGY_1 && method <= LANDUSE_DYNAMIC_PHENOLOGY_4;
}

// The land-use index of layer k of multilayer class m (held in the
// "landuse" grid), MISSING_LAYER when the class has fewer layers.
double layer_class(const multilayer_table_t& table, double m, int k) {
  const int n = static_cast<int>(table.size()) - 1;
  if (!(m >= 1 && m <= n)) return MISSING_LAYER;
  const multilayer_landuse_entry& e = table[static_cast<size_t>(m)];
  if (e.layer_count < k || static_cast<size_t>(k) >= e.layer_codes.size()) return MISSING_LAYER;
  return e.layer_codes[static_cast<size_t>(k)];
}

void limit_below(double& value, double low) {
  if (value < low) value = low;
}

}  // namespace

int vegetation_layer_grids::halo_first_row() const {
  return first_row() > 1 ? first_row() - 1 : first_row();
}

int vegetation_layer_grids::halo_last_row() const {
  return last_row() < nrows() ? last_row() + 1 : last_row();
}

bool vegetation_layer_grids::own_valid_cell(int row, int col) const {
  const double* zone = zone_grid()[row];
  const double* owner = mpi_regions() != nullptr ? (*mpi_regions())[row] : nullptr;
  return zone != nullptr && owner != nullptr && zone[col] > nodata() &&
         static_cast<int>(owner[col]) == rank();
}

// ---- land-use grids of the layers ----

const grid_matrix* vegetation_layer_grids::landuse_layer(int k) const {
  if (k < 0 || static_cast<size_t>(k) >= landuse_layers.size()) return nullptr;
  return landuse_layers[static_cast<size_t>(k)];
}

void vegetation_layer_grids::drop_layer_list() {
  landuse_layers.clear();
  landuse_layer_count = 0;
}

void vegetation_layer_grids::take_single_layer(int landuse_index) {
  grid_entry& entry = store()[landuse_index];
  landuse_layers.assign(2, entry.grid);
  entry.grid_name = "landuse1";
  landuse_layer_count = 1;
}

void vegetation_layer_grids::fill_layer_grids(int first, int last) {
  const multilayer_table_t& table = multilayer_entries();
  for (int k = 1; k < static_cast<int>(landuse_layers.size()); ++k) {
    grid_matrix& layer = *landuse_layers[static_cast<size_t>(k)];
    const grid_matrix& landuse = *landuse_layers[0];
    for (int r = first; r <= last; ++r) {
      if (layer[r] == nullptr) continue;
      for (int c = 1; c <= ncols(); ++c)
        layer[r][c] = own_valid_cell(r, c) && landuse[r] != nullptr
                          ? layer_class(table, landuse[r][c], k)
                          : nodata();
    }
  }
}

void vegetation_layer_grids::make_landuse_layer_grids() {
  const multilayer_table_t& table = multilayer_entries();
  const int layers = table.size() > 1 ? table[1].layer_count : 1;
  landuse_layer_count = layers;
  landuse_layers.assign(static_cast<size_t>(std::max(layers, 0)) + 1, nullptr);
  const int landuse_index = settings.find_grid("landuse");
  if (landuse_index <= 0) return;
  landuse_layers[0] = store()[landuse_index].grid;

  int first = 0;
  int last = 0;
  held_rows(first, last);
  for (int k = 1; k <= layers; ++k) {
    const int index = store().first_free(1);
    if (index >= GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
                 GRID_STORE_FULL, ")\n");
    const std::string grid_name = layer_name("landuse", k);
    grid_matrix& layer = own_grid(index);
    settings.register_grid(index, grid_name, &layer, nullptr, 0, grid_name, 0, first, last);
    layer = settings.matrix(first, last, 1, ncols(), nrows());
    landuse_layers[static_cast<size_t>(k)] = &layer;
    count_registered_grids(1);
  }
  fill_layer_grids(first, last);
  for (int k = 1; k <= layers; ++k)
    settings.exchange_halo(settings.find_grid(layer_name("landuse", k)));
}

void vegetation_layer_grids::refill_layer_grids() {
  fill_layer_grids(first_row(), last_row());
  for (int k = 1; k < static_cast<int>(landuse_layers.size()); ++k)
    settings.exchange_halo(settings.find_grid(layer_name("landuse", k)));
}

// ---- parameter grids ----

grid_matrix* vegetation_layer_grids::parameter_grid(const std::string& grid_name, int& index,
                                                    unsigned write_code) {
  const int found = settings.find_grid(grid_name, 1);
  if (found > 0 && store()[found].grid != nullptr) {
    index = found;
    return store()[found].grid;
  }
  index = store().first_free(1);
  if (index >= GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
               GRID_STORE_FULL, ")\n");
  grid_matrix& grid = own_grid(index);
  grid = settings.matrix(halo_first_row(), halo_last_row(), 1, ncols(), nrows());
  settings.register_grid(index, grid_name, &grid, nullptr, 0, grid_name, write_code,
                         halo_first_row(), halo_last_row());
  count_registered_grids(1);
  return &grid;
}

void vegetation_layer_grids::make_start_times_stack(int k) {
  vegetation_layer_set& v = vegetation;
  const std::string grid_name = layer_name("MultipleStartTimes", k);
  const int found = settings.find_grid(grid_name, 1);
  const int start_jd = model_day_of_year(settings.start_day_value(), settings.start_month_value());
  if (found > 0 && store()[found].stack != nullptr) {
    v.start_times[static_cast<size_t>(k)] = store()[found].stack;
    v.start_times_grid.index[static_cast<size_t>(k)] = found;
    v.start_times_grid.grid[static_cast<size_t>(k)] = store()[found].grid;
    return;
  }
  int index = found;
  if (found <= 0) {
    index = store().first_free(1);
    if (index >= GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
                 GRID_STORE_FULL, ")\n");
  }
  stack_matrix& stack = own_stack(index);
  stack = settings.matrix_3d(1, nrows(), 1, ncols(), v.max_sample_days, nrows());
  if (found <= 0) {
    grid_matrix& grid = own_grid(index);
    grid = settings.matrix(halo_first_row(), halo_last_row(), 1, ncols(), nrows());
    settings.register_grid(index, grid_name, &grid, &stack, v.max_sample_days, grid_name, 3,
                           halo_first_row(), halo_last_row());
    count_registered_grids(1);
  }
  v.start_times[static_cast<size_t>(k)] = &stack;
  v.start_times_grid.index[static_cast<size_t>(k)] = index;
  v.start_times_grid.grid[static_cast<size_t>(k)] = store()[index].grid;
  fill_start_times(k, start_jd);
}

void vegetation_layer_grids::fill_start_times(int k, int start_jd) {
  const vegetation_layer_set& v = vegetation;
  stack_matrix& stack = *v.start_times[static_cast<size_t>(k)];
  const grid_matrix& layer = *landuse_layers[static_cast<size_t>(k)];
  const landuse_table_t& classes = landuse_entries();
  const int n_classes = static_cast<int>(classes.size()) - 1;
  for (int r = halo_first_row(); r <= halo_last_row(); ++r) {
    for (int c = 1; c <= ncols(); ++c) {
      double* q = stack[r][c];
      const double index = layer[r][c];
      if (!own_valid_cell(r, c) || !(index >= 1 && index <= n_classes)) {
        for (int j = 1; j <= v.max_sample_days; ++j) q[j] = nodata();
        continue;
      }
      const landuse_entry& e = classes[static_cast<size_t>(index)];
      const double altitude = elevation()[r][c];
      const bool forced = e.method == LANDUSE_DYNAMIC_PHENOLOGY_3;
      q[0] = 0;
      for (int j = 1; j <= v.max_sample_days; ++j) {
        const auto jj = static_cast<size_t>(j);
        if (j > e.n_sample_days) {
          q[j] = nodata();
          continue;
        }
        const int d = e.sample_days[jj];
        if (forced && e.ForcingThreshold[jj] >= 0 && start_jd < d) {
          q[j] = -1;  // reached later by forcing
        } else {
          q[j] = d + std::trunc(e.AltDep[jj] * (altitude - SAMPLE_DAY_BASE_ALTITUDE));
        }
        if (forced && start_jd >= d && e.ForcingThreshold[jj] > 0) q[0] = e.ForcingThreshold[jj];
      }
    }
  }
}

void vegetation_layer_grids::fill_layer_parameters(int k) {
  vegetation_layer_set& v = vegetation;
  const auto kk = static_cast<size_t>(k);
  const int day = static_cast<int>(settings.start_day_value());
  const int month = static_cast<int>(settings.start_month_value());
  const int year = static_cast<int>(settings.start_year_value());
  const int jd = landuse_day_of_year(day, month, year);
  const grid_matrix& layer = *landuse_layers[kk];
  landuse_table_t& classes = landuse_entries();
  const int n_classes = static_cast<int>(classes.size()) - 1;

  grid_matrix* nine[] = {v.root_depth.grid[kk],
                         v.coverage.grid[kk],
                         v.leaf_area_index.grid[kk],
                         v.canopy_resistance.grid[kk],
                         v.interception_resistance.grid[kk],
                         v.roughness.grid[kk],
                         v.vegetation_start.grid[kk],
                         v.vegetation_stop.grid[kk],
                         v.vegetation_duration.grid[kk]};
  auto set_missing = [&](int r, int c, bool with_albedo) {
    for (grid_matrix* g : nine) (*g)[r][c] = nodata();
    if (v.dynamic_phenology) {
      v.forcing_sum[k][r][c] = nodata();
      v.pheno_start[k][r][c] = nodata();
      v.chilling_sum[k][r][c] = nodata();
      v.threshold[k][r][c] = nodata();
    }
    if (k == 1) {
      (*v.evaporation_resistance)[r][c] = nodata();
      if (with_albedo) (*v.albedo)[r][c] = nodata();
    }
  };

  for (int r = halo_first_row(); r <= halo_last_row(); ++r) {
    for (int c = 1; c <= ncols(); ++c) {
      if (!own_valid_cell(r, c)) {
        set_missing(r, c, false);
        continue;
      }
      const double index = layer[r][c];
      if (!(index > nodata()) || !(index >= 1 && index <= n_classes)) {
        set_missing(r, c, true);
        continue;
      }
      landuse_entry& e = classes[static_cast<size_t>(index)];
      const double z = elevation()[r][c];
      if (has_phenology_start(e.method)) {
        double& s = v.forcing_sum[k][r][c];
        double& p = v.pheno_start[k][r][c];
        double& chill = v.chilling_sum[k][r][c];
        double& f = v.threshold[k][r][c];
        if (s < 0) s = 0;
        if (p < 0) p = e.tstart;
        if (chill < 0)
          chill = 0;
        else
          e.phenology_done = 0;
        if (f < 0) f = e.F_star;
      }
      const int flags = e.internal_flags;
      const bool one_line = e.method == LANDUSE_ONE_LINE;
      double& root = v.root_depth[k][r][c];
      double& lai = v.leaf_area_index[k][r][c];
      double& cover = v.coverage[k][r][c];
      double& rsc = v.canopy_resistance[k][r][c];
      double& rs_int = v.interception_resistance[k][r][c];
      double& z0 = v.roughness[k][r][c];
      if (flags & LANDUSE_BIT_ROOT_DEPTH) root = e.root_depth_at_day(diag(), jd, k, r, c, z);
      if (flags & LANDUSE_BIT_LAI) lai = e.lai_at_day(diag(), jd, k, r, c, z);
      if (flags & LANDUSE_BIT_VCF) cover = e.vcf_at_day(diag(), jd, k, r, c, z);
      if (flags & LANDUSE_BIT_RSC)
        rsc = one_line ? e.rsc_monthly(day, month, year) : e.rsc_at_day(diag(), jd, k, r, c, z);
      if (flags & LANDUSE_BIT_RS_INTERCEPTION)
        rs_int = one_line ? e.rs_interception_monthly(day, month, year)
                          : e.rs_interception_at_day(diag(), jd, k, r, c, z);
      if (flags & LANDUSE_BIT_Z0) z0 = e.z0_at_day(diag(), jd, k, r, c, z);
      double& start = v.vegetation_start[k][r][c];
      if (!(start > 0)) start = e.vegetation_start_at_day(diag(), jd, k, r, c, z);
      v.vegetation_duration[k][r][c] = 0;
      v.vegetation_stop[k][r][c] = -1;
      if (k == 1) {
        double& evaporation = (*v.evaporation_resistance)[r][c];
        if (flags & LANDUSE_BIT_RS_EVAPORATION)
          evaporation = e.rs_evaporation_at_date(diag(), day, month, year, k, r, c, z);
        if (flags & LANDUSE_BIT_ALBEDO) (*v.albedo)[r][c] = e.albedo_at_day(diag(), jd, k, r, c, z);
        limit_below(evaporation, 0);
      }
      limit_below(root, MIN_ROOT_DEPTH);
      cover = std::clamp(cover, 0.0, 1.0);
      limit_below(lai, 0);
      limit_below(rsc, 0);
      limit_below(rs_int, 0);
      limit_below(z0, MIN_ROUGHNESS);
    }
  }
}

void vegetation_layer_grids::make_moving_average_grid() {
  vegetation_layer_set& v = vegetation;
  stack_matrix& history = own_stack(HISTORY_STACK_KEY);
  history = settings.matrix_3d(first_row(), last_row(), 1, ncols(), HISTORY_LEVELS, nrows());
  v.temperature_history = &history;
  v.history_days = 0;
  const int found = settings.find_grid("TemperatureMOVAV", 1);
  if (found > 0 && store()[found].grid != nullptr) {
    v.moving_average_index = found;
    v.moving_average = store()[found].grid;
    return;
  }
  const int index = store().first_free(1);
  if (index >= GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
               GRID_STORE_FULL, ")\n");
  grid_matrix& grid = own_grid(index);
  grid = settings.matrix(halo_first_row(), halo_last_row(), 1, ncols(), nrows());
  const unsigned units = static_cast<unsigned>(store()[v.temperature_sum_index].units);
  settings.register_grid(index, "TemperatureMOVAV", &grid, &history, HISTORY_LEVELS,
                         "TemperatureMOVAV", units, halo_first_row(), halo_last_row());
  count_registered_grids(1);
  v.moving_average_index = index;
  v.moving_average = &grid;
}

void vegetation_layer_grids::generate_parameter_grids(int layers) {
  diag_entry(diag(), "1");
  if (landuse_layers.size() < 2 || landuse_layers[1] == nullptr) return;
  vegetation_layer_set& v = vegetation;
  landuse_table_t& classes = landuse_entries();
  v.layers = layers;
  v.max_sample_days = 0;
  v.dynamic_phenology = false;
  v.start_day_series = false;
  const int start_jd = landuse_day_of_year(static_cast<int>(settings.start_day_value()),
                                           static_cast<int>(settings.start_month_value()),
                                           static_cast<int>(settings.start_year_value()));
  for (size_t i = 1; i < classes.size(); ++i) {
    landuse_entry& e = classes[i];
    v.max_sample_days = std::max(v.max_sample_days, e.n_sample_days);
    if (is_dynamic(e.method)) v.dynamic_phenology = true;
    if (e.method == LANDUSE_DYNAMIC_PHENOLOGY_3 || e.method == LANDUSE_DYNAMIC_PHENOLOGY_4)
      v.start_day_series = true;
    if (!has_phenology_start(e.method)) continue;
    e.phenology_done = 1;
    // A run that starts after the latest start day begins with the start
    // that puts the point after it on that day.
    const int m = e.dyn_start_index;
    if (start_jd > e.maxStartJDforDP1 && m >= 1 && m < e.n_sample_days)
      e.tstart = e.maxStartJDforDP1 - e.sample_days[static_cast<size_t>(m) + 1];
  }

  const int albedo_index = settings.find_grid("albedo", 1);
  if (albedo_index <= 0 || store()[albedo_index].grid == nullptr)
    fail_fatal(diag(), GRID_STORE_FULL_CODE,
               "Albedo Grid not found for use within Landuse-Table.\n This grid must be read in as "
               "standard or variable grid (there, it can be created automatically)");
  v.albedo = store()[albedo_index].grid;
  if (store().first_free(1) >= GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
               GRID_STORE_FULL, ")\n");

  v.evaporation_resistance =
      parameter_grid("SurfaceEvaporationResistance", v.evaporation_resistance_index);
  if (v.dynamic_phenology) {
    v.temperature_sum = parameter_grid("TemperatureAVG", v.temperature_sum_index);
    v.leaf_fall_start = parameter_grid("StartDayOfLeaveFall", v.leaf_fall_start_index);
    make_moving_average_grid();
  }

  for (layer_grid_list* list :
       {&v.root_depth, &v.coverage, &v.leaf_area_index, &v.canopy_resistance,
        &v.interception_resistance, &v.roughness, &v.vegetation_start, &v.vegetation_stop,
        &v.vegetation_duration, &v.forcing_sum, &v.pheno_start, &v.chilling_sum, &v.threshold,
        &v.start_times_grid})
    list->resize(layers);
  v.start_times.assign(static_cast<size_t>(layers) + 1, nullptr);
  for (size_t i = 1; i < classes.size(); ++i) {
    landuse_entry& e = classes[i];
    if (!is_dynamic(e.method)) continue;
    e.pheno_start.assign(static_cast<size_t>(layers) + 1, nullptr);
    e.fstar_grid.assign(static_cast<size_t>(layers) + 1, nullptr);
    e.forcing_sum.assign(static_cast<size_t>(layers) + 1, nullptr);
    e.start_day_series.assign(static_cast<size_t>(layers) + 1, nullptr);
    e.start_series_length = v.max_sample_days;
  }

  for (int k = 1; k <= layers; ++k) {
    const auto kk = static_cast<size_t>(k);
    const std::pair<layer_grid_list*, const char*> nine[] = {
        {&v.root_depth, "root_depth"},
        {&v.coverage, "vegetation_coverage_degree"},
        {&v.leaf_area_index, "leaf_area_index"},
        {&v.canopy_resistance, "SurfaceCanopyResistance"},
        {&v.interception_resistance, "SurfaceIntercepResistance"},
        {&v.roughness, "RoughnessLength"},
        {&v.vegetation_start, "VegetationStart"},
        {&v.vegetation_stop, "VegetationStop"},
        {&v.vegetation_duration, "VegetationDuration"}};
    for (const auto& [list, base_name] : nine)
      list->grid[kk] = parameter_grid(layer_name(base_name, k), list->index[kk]);
    if (v.dynamic_phenology) {
      const std::pair<layer_grid_list*, const char*> four[] = {
          {&v.forcing_sum, "SumOfForcingUnits"},
          {&v.pheno_start, "Pheno_start"},
          {&v.chilling_sum, "SumOfChillingUnits"},
          {&v.threshold, "FStar_ForcingThreshold"}};
      for (const auto& [list, base_name] : four)
        list->grid[kk] = parameter_grid(layer_name(base_name, k), list->index[kk]);
    }
    if (v.start_day_series) make_start_times_stack(k);
    for (size_t i = 1; i < classes.size(); ++i) {
      landuse_entry& e = classes[i];
      if (!is_dynamic(e.method)) continue;
      e.pheno_start[kk] = v.pheno_start.grid[kk];
      e.fstar_grid[kk] = v.threshold.grid[kk];
      e.forcing_sum[kk] = v.forcing_sum.grid[kk];
      e.start_day_series[kk] = v.start_times[kk];
    }

    fill_layer_parameters(k);
    settings.exchange_halo(v.root_depth.index[kk]);
    settings.exchange_halo(v.coverage.index[kk]);
    settings.exchange_halo(v.leaf_area_index.index[kk]);
    settings.exchange_halo(v.canopy_resistance.index[kk]);
    settings.exchange_halo(v.interception_resistance.index[kk]);
    if (k == 1) settings.exchange_halo(v.evaporation_resistance_index);
    settings.exchange_halo(v.roughness.index[kk]);
  }

  // A class's flag of the forcing model is cleared by the cells of any
  // process, so that every process runs the class alike.
  for (size_t i = 1; i < classes.size(); ++i) {
    landuse_entry& e = classes[i];
    int done = e.phenology_done;
    MPI_Allreduce(MPI_IN_PLACE, &done, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    e.phenology_done = static_cast<unsigned char>(done);
  }
  v.made = true;
}

// ---- release ----

void vegetation_layer_grids::release() {
  vegetation_layer_set& v = vegetation;
  if (v.start_day_series && v.start_times.size() > 1 && v.start_times[1] != nullptr) {
    const int index = v.start_times_grid.index[1];
    stack_matrix& stack = *v.start_times[1];
    // Process 0 holds every row of the stack, but only its own cells are
    // current: the text writer needs them all.
    settings.gather_stack(index, &stack);
    char end_name[256];
    std::snprintf(end_name, sizeof end_name, "%.*s_End", 250,
                  store()[index].file_name.value_or(std::string()).c_str());
    settings.write_stack(end_name, stack, v.max_sample_days, write_ascii_grids(),
                         write_double_grids());
  }
  for (size_t i = 1; i < landuse_entries().size(); ++i) {
    landuse_entry& e = landuse_entries()[i];
    e.pheno_start.clear();
    e.fstar_grid.clear();
    e.forcing_sum.clear();
    e.start_day_series.clear();
  }
  vegetation = vegetation_layer_set();
  landuse_layers.clear();
}
