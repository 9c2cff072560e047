// Snow evaporation and real evapotranspiration of the evapotranspiration
// module. Solid snow takes the evaporative demand of a cell first: it
// sublimates at the expense of the potential transpiration of the layers
// and then of the potential soil evaporation; on the glacierized share the
// snow on the glacier sublimates from copies of those values, so the cell's
// demand is not lowered twice. The snow methods with an energy balance
// compute their own sublimation, and a snow-covered cell then transpires
// nothing. At the end of a step the real transpiration of the layers, the
// soil evaporation, the snow evaporation and the interception evaporation
// add up to the total in layer 0.
#include <omp.h>

#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "vertical/etpetr.h"
#include "vertical/etr_kernels.h"

namespace {
constexpr bool energy_balance_snow(int m) { return m == 5 || m == 6 || m == 7 || m == 11; }
}  // namespace

void verdunstungsmodellklasse::progress_line(const char* text, int64_t hour, int64_t day,
                                             int64_t month, int64_t year) {
  const bool due =
      report_interval == 1 ||
      (report_interval > 1 && (hour + static_cast<int64_t>(hour_shift)) % report_interval == 0);
  if (!due) return;
  diag->set_width(20);
  diag_entry(*diag, text, " ", day, ".", month, ".", year, " ", hour, ". h ",
             "(time of meteo data)");
}

void verdunstungsmodellklasse::link_glacier_snow_grids() {
  if (glacier_grids_pending != 1) return;
  if (find_grid("SnowEvaporation_onGlacier") > 0 && find_grid("TotalSnowStorage_onGlacier") > 0) {
    glacier_snow_evaporation = (*store)[require_grid("SnowEvaporation_onGlacier")].grid;
    glacier_solid_snow = (*store)[require_grid("SolidSnowStorage_onGlacier")].grid;
  }
  glacier_grids_pending = 0;
}

void verdunstungsmodellklasse::compute_snow_evaporation(int64_t hour, int64_t day, int64_t month,
                                                        int64_t year) {
  if (flow_control == 0 || solid_snow_storage == nullptr) return;
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
  progress_line("snow_evaporation", hour, day, month, year);
  link_glacier_snow_grids();
  snow_evap_statistic->clear_step_sums();

  // Each cell changes only its own values: the rows run on threads.
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c)
      if (c >= 1 && own_cell(r, c) && !follower(r, c)) sublimate_cell(r, c);
  }
  // Followers copy their master, which may lie in any row: after the loop.
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (c < 1 || !own_cell(r, c)) continue;
      if (follower(r, c)) copy_master_snow_values(r, c);
      snow_evap_statistic->add_value(r, c, zone_of(r, c), snow_evaporation[r][c], 1);
    }
  }
  snow_evap_statistic->complete_step(cur_year, cur_month, cur_day, hour, 1);
  output_grid(snow_evap_index, 1, 0);
}

void verdunstungsmodellklasse::sublimate_cell(int r, int c) {
  const auto L = static_cast<size_t>(layer_count);
  // Small fixed buffers would cap the layer count: the vectors are per call
  // but the layer count is small.
  std::vector<double> demand(L);
  std::vector<char> present(L);
  for (size_t k = 1; k <= L; ++k) {
    const grid_matrix* classes = k < landuse.size() ? landuse[k] : nullptr;
    present[k - 1] = classes != nullptr && (*classes)[r][c] > nodata ? 1 : 0;
    demand[k - 1] = pot_transpiration[k][r][c];
  }
  double& snow = (*solid_snow_storage)[r][c];
  if (energy_balance_snow(snow_method)) {
    if (snow > 0) {
      for (size_t k = 1; k <= L; ++k)
        if (present[k - 1] != 0) pot_transpiration[k][r][c] = 0;
      potential_evaporation[r][c] = 0;
    }
    return;
  }
  snow_evaporation[r][c] = 0;
  if (glacier_snow_evaporation != nullptr) (*glacier_snow_evaporation)[r][c] = 0;
  const glacier_weights w = glacier_weights_of(glacier != nullptr, glacier ? (*glacier)[r][c] : 0);
  std::vector<double> glacier_demand = demand;
  double glacier_soil_demand = potential_evaporation[r][c];
  if (w.glacier < 1 && snow > 0) {
    snow_evaporation[r][c] =
        sublimate_snow(snow, demand, present, potential_evaporation[r][c]);
    for (size_t k = 1; k <= L; ++k) pot_transpiration[k][r][c] = demand[k - 1];
  }
  if (w.glacier > 0 && glacier_snow_evaporation != nullptr) {
    (*glacier_snow_evaporation)[r][c] = sublimate_snow(
        (*glacier_solid_snow)[r][c], glacier_demand, present, glacier_soil_demand);
  }
}

void verdunstungsmodellklasse::copy_master_snow_values(int r, int c) {
  const hru_entry& unit = (*settings().hru_list)[static_cast<size_t>((*hru_units)[r][c])];
  const int mr = unit.row, mc = unit.col;
  for (int k = 0; k <= layer_count; ++k) {
    auto& pot = pot_transpiration[static_cast<size_t>(k)];
    auto& eip = pot_interception[static_cast<size_t>(k)];
    pot[r][c] = pot[mr][mc];
    eip[r][c] = eip[mr][mc];
  }
  potential_evaporation[r][c] = potential_evaporation[mr][mc];
  snow_evaporation[r][c] = snow_evaporation[mr][mc];
  (*solid_snow_storage)[r][c] = (*solid_snow_storage)[mr][mc];
  if (glacier_snow_evaporation != nullptr) {
    (*glacier_snow_evaporation)[r][c] = (*glacier_snow_evaporation)[mr][mc];
    (*glacier_solid_snow)[r][c] = (*glacier_solid_snow)[mr][mc];
  }
}

void verdunstungsmodellklasse::begin_step(const model_date& step) {
  if (flow_control == 0) return;
  cur_hour = step.hour;
  cur_day = step.day;
  cur_month = step.month;
  cur_year = step.year;
  if (omp_in_parallel() == 0)
    progress_line("real evapotranspir.", step.hour, step.day, step.month, step.year);
  if (interception_linked == 0) {
    const int index = find_grid("interception_evaporation0");
    if (index > 0) {
      interception_evaporation = (*store)[index].grid;
      interception_linked = 1;
    }
  }
  for (int k = 0; k <= layer_count; ++k)
    layer_stats[static_cast<size_t>(k)][STAT_REAL]->clear_step_sums();
  real_evap_statistic->clear_step_sums();
}

void verdunstungsmodellklasse::substep_hook(int64_t, int64_t, int64_t, int64_t) {}

void verdunstungsmodellklasse::run_substep(const model_date& step, int) {
  substep_hook(step.hour, step.day, step.month, step.year);
}

void verdunstungsmodellklasse::end_step(const model_date& step) {
  if (flow_control == 0) return;
  cur_hour = step.hour;
  cur_day = step.day;
  cur_month = step.month;
  cur_year = step.year;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c)
      if (c >= 1 && own_cell(r, c)) real_cell(r, c);
  }
  for (int k = 0; k <= layer_count; ++k) {
    const auto kk = static_cast<size_t>(k);
    layer_stats[kk][STAT_REAL]->complete_step(cur_year, cur_month, cur_day, step.hour, 1);
    output_grid(real_index[kk], 1, 0);
  }
  real_evap_statistic->complete_step(cur_year, cur_month, cur_day, step.hour, 1);
  output_grid(real_evap_index, 1, 0);
}

void verdunstungsmodellklasse::real_cell(int r, int c) {
  const int zone = zone_of(r, c);
  const glacier_weights w = glacier_weights_of(glacier != nullptr, glacier ? (*glacier)[r][c] : 0);
  std::vector<double> layers(static_cast<size_t>(layer_count));
  for (int k = 1; k <= layer_count; ++k) {
    const auto kk = static_cast<size_t>(k);
    const grid_matrix* classes = kk < landuse.size() ? landuse[kk] : nullptr;
    const bool present = classes != nullptr && (*classes)[r][c] > nodata;
    zonalstatistic& stat = *layer_stats[kk][STAT_REAL];
    stat.add_value(r, c, zone, present ? real_transpiration[kk][r][c] : 0, w.rest);
    stat.add_value(r, c, zone, 0, w.glacier);
    layers[kk - 1] = real_transpiration[kk][r][c];
  }
  double& total = real_transpiration[0][r][c];
  total = total_real_evapotranspiration(
      interception_linked == 1, total,
      interception_evaporation != nullptr ? (*interception_evaporation)[r][c] : 0,
      snow_evaporation[r][c], real_evaporation[r][c], layers);
  const double glacier_part = glacier_snow_evaporation != nullptr
                                  ? (*glacier_snow_evaporation)[r][c]
                                  : snow_evaporation[r][c];
  layer_stats[0][STAT_REAL]->add_value(r, c, zone, w.glacier * glacier_part + w.rest * total, 1);
  real_evap_statistic->add_value(r, c, zone, real_evaporation[r][c], w.rest);
  real_evap_statistic->add_value(r, c, zone, 0, w.glacier);
}
