// The daily land-use update. Every step it sums the day's temperature for
// the dynamic phenology and counts the steps of the vegetation period; on the
// last step of a day it keeps the 7-day temperature history, runs the
// dynamic phenology (settings/phenology_kernels.h) with the model time's day
// of the year, sets the parameter grids of every layer from the land-use
// table with each class's own calendar, and raises the vegetation-period
// flags of the store entries on the table's write and reset days.
#include <algorithm>
#include <cmath>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/phenology_kernels.h"
#include "settings/vegetation_layers.h"
#include "tables/landuse_year.h"

namespace {

constexpr double MINUTES_PER_DAY = 1440;  // [min]
constexpr int HISTORY_DAYS = 7;           // [d] days of the moving average
constexpr double MIN_ROOT_DEPTH = 0.01;   // [m]
constexpr double MIN_ROUGHNESS = 0.01;    // [m]

bool is_dynamic(int method) {
  return method >= LANDUSE_DYNAMIC_PHENOLOGY_1 && method <= LANDUSE_DYNAMIC_PHENOLOGY_4;
}

}  // namespace

int vegetation_layer_grids::model_day_of_year(int64_t day, int64_t month) const {
  int64_t result = day;
  for (int64_t i = 1; i < month && i <= 11; ++i) result += month_days(static_cast<int>(i));
  if (result > 366 || result < 0) throw LANDUSE_DAY_OF_YEAR_ERROR;
  return static_cast<int>(result);
}

void vegetation_layer_grids::update_landuse_parameters(int64_t hour, int64_t day, int64_t month,
                                                       int64_t year, int dt_minutes) {
  vegetation_layer_set& v = vegetation;
  const bool layer_grids = landuse_layers.size() > 1 && landuse_layers[1] != nullptr;

  if (v.dynamic_phenology) {
    if (v.temperature == nullptr) {
      const int index = settings.find_grid("temperature", 1);
      if (index <= 0 || store()[index].grid == nullptr)
        fail_fatal(diag(), 33, "could not find grid with label \"", "temperature",
                   "\". \nThis grid must be present (either by interpolating ",
                   "or by reading or as standard grid) for using dynamic phenology");
      v.temperature = store()[index].grid;
      const int theta = settings.find_grid("MeanThetaInRootZone", 1);
      v.root_zone_theta = theta > 0 ? store()[theta].grid : nullptr;
    }
    const grid_matrix& t = *v.temperature;
    grid_matrix& sum = *v.temperature_sum;
    for (int r = first_row(); r <= last_row(); ++r)
      for (int c = 1; c <= ncols(); ++c)
        if (own_valid_cell(r, c)) sum[r][c] += dt_minutes * t[r][c] / MINUTES_PER_DAY;
  }

  const bool day_ends = hour + static_cast<int64_t>(std::trunc(hour_shift())) == 24;
  if (day_ends) {
    DiagStream& out = diag();
    out << "INFO: "
        << "actual parameters"
        << " ";
    out.set_width(20);
    out << static_cast<long long>(day) << "." << static_cast<long long>(month) << "."
        << static_cast<long long>(year) << " " << static_cast<long long>(hour) << ". h"
        << "[end-entry]";
    if (v.dynamic_phenology) {
      update_temperature_history();
      if (v.moving_average_index > 0) {
        settings.set_output_date(hour, day, month, year);
        settings.output_grid(v.moving_average_index, 1, 0);
      }
    }
    if (layer_grids) {
      v.date_hour = hour;
      v.date_day = day;
      v.date_month = month;
      v.date_year = year;
      const int layers = static_cast<int>(landuse_layers.size()) - 1;
      if (v.dynamic_phenology) dynamic_phenology(model_day_of_year(day, month), layers);
      // One layer without a multilayer table has no parameter grids.
      if (v.made) update_layer_parameters(layers);
    }
    if (v.dynamic_phenology) {
      grid_matrix& sum = *v.temperature_sum;
      for (int r = first_row(); r <= last_row(); ++r)
        for (int c = 1; c <= ncols(); ++c)
          if (own_valid_cell(r, c)) sum[r][c] = 0;
    }
    raise_vegetation_flags();
  }

  if (layer_grids && v.made) count_vegetation_duration(v.layers);
}

void vegetation_layer_grids::update_temperature_history() {
  vegetation_layer_set& v = vegetation;
  v.history_days = std::min(v.history_days + 1, HISTORY_DAYS);
  const grid_matrix& sum = *v.temperature_sum;
  grid_matrix& average = *v.moving_average;
  const stack_matrix& history = *v.temperature_history;
  for (int r = first_row(); r <= last_row(); ++r) {
    for (int c = 1; c <= ncols(); ++c) {
      if (!own_valid_cell(r, c)) continue;
      double* h = history[r][c];
      for (int i = HISTORY_DAYS; i >= 2; --i) h[i] = h[i - 1];
      h[1] = sum[r][c];
      double total = 0;
      for (int i = 1; i <= HISTORY_DAYS; ++i) total += h[i];
      average[r][c] = total / v.history_days;
    }
  }
}

void vegetation_layer_grids::dynamic_phenology(int julian_day, int layers) {
  vegetation_layer_set& v = vegetation;
  const int a = julian_day;
  landuse_table_t& classes = landuse_entries();
  for (size_t i = 1; i < classes.size(); ++i) {
    landuse_entry& e = classes[i];
    if ((e.method == LANDUSE_DYNAMIC_PHENOLOGY_2 && a == e.DP2_t0_dorm) ||
        (e.method == LANDUSE_DYNAMIC_PHENOLOGY_4 && a == e.DP4_t0_dorm))
      e.phenology_done = 0;
  }
  const int n_classes = static_cast<int>(classes.size()) - 1;
  const grid_matrix& zone = zone_grid();
  for (int r = first_row(); r <= last_row(); ++r) {
    for (int c = 1; c <= ncols(); ++c) {
      if (!(zone[r][c] > nodata())) continue;
      phenology_weather w;
      w.temperature = (*v.temperature_sum)[r][c];
      w.moving_average = (*v.moving_average)[r][c];
      if (v.root_zone_theta != nullptr && (*v.root_zone_theta)[r] != nullptr)
        w.root_zone_theta = &(*v.root_zone_theta)[r][c];
      for (int j = 1; j <= layers; ++j) {
        const double index = (*landuse_layers[static_cast<size_t>(j)])[r][c];
        if (index == nodata() || !(index >= 1 && index <= n_classes)) continue;
        const landuse_entry& e = classes[static_cast<size_t>(index)];
        if (!is_dynamic(e.method)) continue;
        phenology_cell cell;
        double& p = v.pheno_start[j][r][c];
        double& s = v.forcing_sum[j][r][c];
        double& k = v.chilling_sum[j][r][c];
        double& f = v.threshold[j][r][c];
        cell.pheno_start = p;
        cell.forcing_sum = s;
        cell.chilling_sum = k;
        cell.threshold = f;
        if (v.start_day_series) cell.start_days = (*v.start_times[static_cast<size_t>(j)])[r][c];
        cell.leaf_fall_start = &(*v.leaf_fall_start)[r][c];
        cell.cold_days = &(*v.temperature_history)[r][c][0];
        phenology_day(e, a, w, cell);
        p = cell.pheno_start;
        s = cell.forcing_sum;
        k = cell.chilling_sum;
        f = cell.threshold;
      }
    }
  }
}

void vegetation_layer_grids::update_layer_parameters(int layers) {
  vegetation_layer_set& v = vegetation;
  const int day = static_cast<int>(v.date_day);
  const int month = static_cast<int>(v.date_month);
  const int year = static_cast<int>(v.date_year);
  const landuse_table_t& classes = landuse_entries();
  const int n_classes = static_cast<int>(classes.size()) - 1;
  for (int r = first_row(); r <= last_row(); ++r) {
    for (int c = 1; c <= ncols(); ++c) {
      if (!own_valid_cell(r, c)) continue;
      const double z = elevation()[r][c];
      for (int k = 1; k <= layers; ++k) {
        double& root = v.root_depth[k][r][c];
        double& lai = v.leaf_area_index[k][r][c];
        double& cover = v.coverage[k][r][c];
        double& rs_int = v.interception_resistance[k][r][c];
        double& rsc = v.canopy_resistance[k][r][c];
        double& z0 = v.roughness[k][r][c];
        double& start = v.vegetation_start[k][r][c];
        double& stop = v.vegetation_stop[k][r][c];
        const double index = (*landuse_layers[static_cast<size_t>(k)])[r][c];
        if (index == nodata() || !(index >= 1 && index <= n_classes)) {
          for (double* value : {&root, &lai, &cover, &rs_int, &rsc, &z0, &start, &stop})
            *value = nodata();
          if (k == 1) {
            (*v.albedo)[r][c] = nodata();
            (*v.evaporation_resistance)[r][c] = nodata();
          }
          continue;
        }
        const landuse_entry& e = classes[static_cast<size_t>(index)];
        const int jd = e.day_of_year(day, month, year);
        const int flags = e.internal_flags;
        if (k == 1) {
          if (flags & LANDUSE_BIT_ALBEDO)
            (*v.albedo)[r][c] = e.albedo_at_day(diag(), jd, k, r, c, z);
          if (flags & LANDUSE_BIT_RS_EVAPORATION)
            (*v.evaporation_resistance)[r][c] =
                e.rs_evaporation_at_date(diag(), day, month, year, k, r, c, z);
        }
        if (flags & LANDUSE_BIT_ROOT_DEPTH) root = e.root_depth_at_day(diag(), jd, k, r, c, z);
        if (flags & LANDUSE_BIT_LAI) lai = e.lai_at_day(diag(), jd, k, r, c, z);
        if (flags & LANDUSE_BIT_VCF) cover = e.vcf_at_day(diag(), jd, k, r, c, z);
        if (flags & LANDUSE_BIT_RSC) rsc = e.rsc_at_date(diag(), day, month, year, k, r, c, z);
        if (flags & LANDUSE_BIT_RS_INTERCEPTION)
          rs_int = e.rs_interception_at_date(diag(), day, month, year, k, r, c, z);
        if (flags & LANDUSE_BIT_Z0) z0 = e.z0_at_day(diag(), jd, k, r, c, z);

        if (jd == e.JDVegetationResetForBalance) {
          start = -1;
          stop = -1;
          v.vegetation_duration[k][r][c] = 0;
        }
        if (start <= 0) start = e.vegetation_start_at_day(diag(), jd, k, r, c, z);
        if (stop < 0) stop = e.vegetation_stop_at_day(diag(), jd, k, r, c, z);

        if (root < MIN_ROOT_DEPTH) root = MIN_ROOT_DEPTH;
        cover = std::clamp(cover, 0.0, 1.0);
        if (lai < 0) lai = 0;
        if (rs_int < 0) rs_int = 0;
        if (!(z0 > 0)) z0 = MIN_ROUGHNESS;
      }
    }
  }
}

void vegetation_layer_grids::raise_vegetation_flags() {
  const landuse_table_t& classes = landuse_entries();
  if (classes.empty()) return;
  const vegetation_layer_set& v = vegetation;
  const landuse_entry& header = classes[0];
  // Before the first day change with layer grids the remembered date is
  // none, which is no day of the year.
  if (v.date_month < 1) return;
  const int jd = header.day_of_year(static_cast<int>(v.date_day), static_cast<int>(v.date_month),
                                    static_cast<int>(v.date_year));
  const bool reset = jd == header.JDVegetationResetForBalance;
  const bool write = jd == header.JDVegetationWriteForBalance;
  if (!reset && !write) return;
  grid_store& s = store();
  for (int i = 1; i < GRID_STORE_FULL && s[i].grid_name; ++i) {
    if (reset) s[i].vegetation.flags[vegetation_period_state::reset_due] = 1;
    if (write) s[i].vegetation.flags[vegetation_period_state::output_due] = 1;
  }
}

void vegetation_layer_grids::count_vegetation_duration(int layers) {
  vegetation_layer_set& v = vegetation;
  const grid_matrix& zone = zone_grid();
  for (int r = first_row(); r <= last_row(); ++r) {
    for (int c = 1; c <= ncols(); ++c) {
      if (mpi_regions() == nullptr || static_cast<int>((*mpi_regions())[r][c]) != rank()) continue;
      for (int k = 1; k <= layers; ++k) {
        double& duration = v.vegetation_duration[k][r][c];
        if (zone[r][c] > nodata()) {
          if (v.vegetation_start[k][r][c] >= 0 && v.vegetation_stop[k][r][c] <= 0) duration += 1;
        } else {
          duration = nodata();
        }
      }
    }
  }
}
