// One step of the snow module: the cell physics on every process, the snow
// slides on process 0, the statistics of the step, the glacier melt of each
// glacierized subbasin delayed by three single linear storages (ice, firn,
// snow on ice) into the unsaturated zone's runoff, the yearly update of the
// dynamic glaciers on their evaluation day (snowmod_dynamic_glacier.cpp)
// and the outputs by write code.
#include <mpi.h>

#include <algorithm>
#include <cmath>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "settings/zonetable.h"
#include "snow/glacier_kernels.h"
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
enum runoff_sum_index { RUNOFF_ICE, RUNOFF_FIRN, RUNOFF_SNOW };

constexpr double EVALUATION_HOUR = 24.001;  // [h] a step ending after it ends the day

// Adds a value as zonalstatistic::add_value does, into a record of our own.
void add_weighted(zone_record& z, const grid_matrix* weights, int r, int c, double value,
                  double weight) {
  z.count += weight;
  double w = 1;
  if (weights != nullptr && !weights->empty() && r < weights->pointer_count() &&
      (*weights)[r] != nullptr && (*weights)[r][c] > WEIGHT_GRID_MISSING)
    w = (*weights)[r][c];
  z.weight += w * weight;
  z.sum += value * w * weight;
}

}  // namespace

bool schneemodellklasse::is_evaluation_step(int64_t hour, int64_t day, int64_t month) const {
  return day == glacier.eval_day && month == glacier.eval_month &&
         (time_interval + hour_shift) / 60 + static_cast<double>(hour) > EVALUATION_HOUR;
}

int schneemodellklasse::module_zone_of(int r, int c) const {
  int code = 0;
  if (!zone_code_of((*zone_grid)[r][c], code) || code < 0 ||
      code >= static_cast<int>(zone_index->size()))
    return 0;
  return (*zone_index)[static_cast<size_t>(code)];
}

int schneemodellklasse::subbasin_of(int r, int c) const {
  int code = 0;
  if (soil_zone_grid == nullptr || !zone_code_of((*soil_zone_grid)[r][c], code) || code < 0 ||
      code > soil_max_zone_code)
    return 0;
  return soil_zone_index[static_cast<size_t>(code)];
}

bool schneemodellklasse::statistics_cell_owned(int r, int c) const {
  if ((*zone_grid)[r][c] == nodata) return false;
  return mpi_regions == nullptr || static_cast<int>((*mpi_regions)[r][c]) == rank;
}

void schneemodellklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  teilmodellklasse::time_step(hour, day, month, year);
  if (flow_control == 0) return;
  if (cell_grid.solid == nullptr) keep_cell_grids();
  if (!outputs.kept) keep_output_indices();
  const int d = static_cast<int>(day), m = static_cast<int>(month), y = static_cast<int>(year);
  daylight_fraction();
  clear_step_statistics();
  if (process_count > 1) MPI_Barrier(MPI_COMM_WORLD);
  // The day factors come from the operation table inside the cell loop.
  snow_cells(d, m, y);
  copy_hru_snow_states();
  if (is_slide_method(params.method) && master_hru == nullptr) snow_slides();
  step_statistics();
  complete_step_statistics();
  glacier_runoff();
  if (is_dynamic_glacier_method(glacier.method) && glacier_part &&
      is_evaluation_step(hour, day, month))
    yearly_glacier_update();
  step_outputs();
}

void schneemodellklasse::keep_output_indices() {
  auto add = [this](std::vector<int>& to, const char* n) { to.push_back(find_grid(n)); };
  for (const char* n : {"snow_storage_total", "snowstorage_solid", "snowstorage_liquid",
                        "days_snow", "snow_age", "snow_fraction", "rain_fraction",
                        "snowcover_outflow", "melt_from_snowcover"})
    add(outputs.grids, n);
  if (is_slide_method(params.method))
    for (const char* n : {"input_mass", "mobile_mass", "deposition"}) add(outputs.grids, n);
  if (is_energy_balance_method(params.method))
    for (const char* n : {"snowtemp", "surftemp"}) add(outputs.grids, n);
  if (glacier_part)
    for (const char* n : {"melt_from_firn", "melt_from_ice"}) add(outputs.grids, n);
  if (glacier_part && is_dynamic_glacier_method(glacier.method)) {
    for (const char* n :
         {"GlacierMassBalance", "OldGlacierMassBalance", "SolidSnowStorage_onGlacier",
          "LiquidSnowStorage_onGlacier", "TotalSnowStorage_onGlacier", "SnowMelt_onGlacier"})
      add(outputs.glacier_grids, n);
    if (is_energy_balance_method(params.method))
      for (const char* n : {"surftemp_onGlacier", "snowtemp_onGlacier"})
        add(outputs.glacier_grids, n);
    add(outputs.glacier_grids, "SnowEvaporation_onGlacier");
  }
  outputs.kept = true;
}

void schneemodellklasse::clear_step_statistics() {
  for (const auto& s : statistics)
    if (s) s->clear_step_sums();
  for (const auto& s : glacier_statistics)
    if (s) s->clear_step_sums();
  for (size_t j = 1; j < tracers.size(); ++j)
    if (tracers[j].statistic) tracers[j].statistic->clear_step_sums();
  for (auto& sums : runoff_sums) sums.assign(static_cast<size_t>(soil_zone_count) + 1, {});
}

void schneemodellklasse::step_statistics() {
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip span = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(span.first, 1); c <= span.last; ++c)
      if (statistics_cell_owned(r, c)) statistics_cell(r, c);
  }
}

void schneemodellklasse::statistics_cell(int r, int c) {
  const int zone = module_zone_of(r, c);
  auto stat = [&](snow_statistic which, double value) {
    zonalstatistic* s = statistics[static_cast<size_t>(which)].get();
    if (s != nullptr) s->add_value(r, c, zone, value, 1);
  };
  stat(snow_statistic::total_storage, (*cell_grid.total)[r][c]);
  stat(snow_statistic::outflow, (*cell_grid.outflow)[r][c]);
  stat(snow_statistic::melt_only, (*cell_grid.melt_only)[r][c]);
  stat(snow_statistic::snow_days, (*cell_grid.days)[r][c]);
  stat(snow_statistic::snow_age, (*cell_grid.age)[r][c]);
  stat(snow_statistic::snow, (*cell_grid.snow_fraction)[r][c]);
  stat(snow_statistic::rain, (*cell_grid.rain_fraction)[r][c]);
  stat(snow_statistic::albedo, (*cell_grid.albedo)[r][c]);
  if (is_energy_balance_method(params.method)) {
    if ((*cell_grid.snowtemp)[r][c] > nodata + 1)
      stat(snow_statistic::snowtemp, (*cell_grid.snowtemp)[r][c]);
    if ((*cell_grid.surftemp)[r][c] > nodata + 1)
      stat(snow_statistic::surftemp, (*cell_grid.surftemp)[r][c]);
  }
  const grid_matrix* input_mass = nullptr;
  const grid_matrix* mobile_mass = nullptr;
  const grid_matrix* deposition = nullptr;
  if (is_slide_method(params.method)) {
    input_mass = (*store)[outputs.grids[9]].grid;
    mobile_mass = (*store)[outputs.grids[10]].grid;
    deposition = (*store)[outputs.grids[11]].grid;
    stat(snow_statistic::input_mass, (*input_mass)[r][c]);
    stat(snow_statistic::mobile_mass, (*mobile_mass)[r][c]);
    stat(snow_statistic::deposition, (*deposition)[r][c]);
  }
  const double g = glacier_grid != nullptr ? std::clamp((*glacier_grid)[r][c], 0.0, 1.0) : 0;
  if (glacier_grid != nullptr) {
    const int subbasin = subbasin_of(r, c);
    const int m_zone = zone;
    auto split = [&](int which, int z, double value) {
      zonalstatistic* s = glacier_statistics[static_cast<size_t>(which)].get();
      if (s == nullptr) return;
      if (g > 0) s->add_value(r, c, z, value, g);
      s->add_value(r, c, z, 0, 1 - g);
    };
    if (glacier_statistics[SNOW_STORAGE]) {
      glacier_statistics[SNOW_STORAGE]->add_value(r, c, m_zone, (*cell_grid.total)[r][c], 1 - g);
      glacier_statistics[SNOW_STORAGE]->add_value(r, c, m_zone, 0, g);
    }
    const bool dynamic = is_dynamic_glacier_method(glacier.method);
    const double firn_total = dynamic && cell_grid.firn_total != nullptr
                                  ? (*cell_grid.firn_total)[r][c]
                                  : 0;
    // Static glaciers have no firn: their snow melt counts as melt on ice.
    const double k = firn_area_factor(dynamic, firn_total);
    const double snow_melt =
        cell_grid.glacier_melt != nullptr ? (*cell_grid.glacier_melt)[r][c] : 0;
    const double firn = k * snow_melt + (*cell_grid.firn_melt)[r][c];
    const double ice = (*cell_grid.ice_melt)[r][c];
    const double snow_on_ice = (1 - k) * snow_melt;
    split(FIRN_MELT, subbasin, firn);
    split(ICE_MELT, subbasin, ice);
    split(SNOW_ON_ICE, subbasin, snow_on_ice);
    if (subbasin >= 1 && subbasin <= soil_zone_count) {
      const double values[3] = {ice, firn, snow_on_ice};
      for (int q = 0; q < 3; ++q) {
        zone_record& z = runoff_sums[static_cast<size_t>(q)][static_cast<size_t>(subbasin)];
        if (g > 0) add_weighted(z, rel_cell_area, r, c, values[q], g);
        add_weighted(z, rel_cell_area, r, c, 0, 1 - g);
      }
    }
    if (dynamic) {
      grid_matrix& balance = *(*store)[outputs.glacier_grids[0]].grid;
      if (g > 0) {
        glacier_balance_terms t;
        t.snow = (*cell_grid.snow_fraction)[r][c];
        t.rain = (*cell_grid.rain_fraction)[r][c];
        t.snow_melt = snow_melt;
        t.firn_melt = (*cell_grid.firn_melt)[r][c];
        t.ice_melt = ice;
        if (input_mass != nullptr) {
          t.mobile = (*mobile_mass)[r][c];
          t.deposition = (*deposition)[r][c];
          t.input = (*input_mass)[r][c];
        }
        if (cell_grid.evaporation_g != nullptr) t.evaporation = (*cell_grid.evaporation_g)[r][c];
        balance[r][c] += glacier_balance_change(t);
      }
      split(FIRN_WE, subbasin, firn_total);
      split(MASS_BALANCE1, subbasin, balance[r][c]);
      if (g > 0 && glacier_statistics[MASS_BALANCE2])
        glacier_statistics[MASS_BALANCE2]->add_value(r, c, subbasin, balance[r][c], g);
    }
  }
  if (permafrost_on && glacier_statistics[THAW_DEPTH])
    glacier_statistics[THAW_DEPTH]->add_value(r, c, zone, (*cell_grid.thaw)[r][c], 1);
  if (g > 0) return;
  for (int j = 1; j <= tracer_count; ++j) {
    const module_tracer& tr = tracers[static_cast<size_t>(j)];
    if (!tr.statistic) continue;
    const double stored = tr.storage[r][c];
    if (tracer_list[j].evaporating == 1)
      tr.statistic->add_value(r, c, zone, stored,
                              (*cell_grid.solid)[r][c] + (*cell_grid.liquid)[r][c]);
    else
      tr.statistic->add_value(r, c, zone, stored, 1);
  }
}

void schneemodellklasse::complete_step_statistics() {
  auto complete = [this](zonalstatistic* s) {
    if (s != nullptr) s->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
  };
  for (snow_statistic w :
       {snow_statistic::total_storage, snow_statistic::outflow, snow_statistic::melt_only,
        snow_statistic::snow_days, snow_statistic::snow_age, snow_statistic::snow,
        snow_statistic::rain, snow_statistic::albedo, snow_statistic::snowtemp,
        snow_statistic::surftemp, snow_statistic::input_mass, snow_statistic::mobile_mass,
        snow_statistic::deposition})
    complete(statistics[static_cast<size_t>(w)].get());
  for (int w : {SNOW_STORAGE, FIRN_MELT, ICE_MELT, SNOW_ON_ICE, FIRN_WE, MASS_BALANCE1,
                MASS_BALANCE2, THAW_DEPTH})
    complete(glacier_statistics[static_cast<size_t>(w)].get());
}

void schneemodellklasse::glacier_runoff() {
  if (!glacier_part || glacier_records.empty()) return;
  const int n = soil_zone_count;
  // Summed at process 0 whether or not the statistics write files.
  if (division_view().distributed())
    for (auto& sums : runoff_sums) reduce_zone_records(sums.data(), n, 1);
  zonalstatistic* total = glacier_statistics[TOTAL_MELT].get();
  if (rank == 0) {
    std::vector<zone_record>& total_records = glacier_zones[TOTAL_MELT];
    const glacier_runoff_params p{glacier.kice_els, glacier.kfirn_els, glacier.ksnow_els};
    for (int i = 1; i <= n; ++i) {
      const auto ii = static_cast<size_t>(i);
      const zone_record& ice = runoff_sums[RUNOFF_ICE][ii];
      zone_record& out = total_records[ii];
      out.count = ice.count;
      out.weight = ice.weight;
      out.sum = 0;
      if (!glacier_records[ii].glacierized) continue;
      auto mean = [](const zone_record& z) { return z.weight > 0 ? z.sum / z.weight : 0.0; };
      const double r = subbasin_glacier_share(glacier_records[ii]);
      glacier_runoff_storages q{glacier_storage[0][ii], glacier_storage[1][ii],
                                glacier_storage[2][ii]};
      const double runoff = glacier_runoff_step(p, r, mean(ice), mean(runoff_sums[RUNOFF_FIRN][ii]),
                                                mean(runoff_sums[RUNOFF_SNOW][ii]), q);
      glacier_storage[0][ii] = q.ice;
      glacier_storage[1][ii] = q.firn;
      glacier_storage[2][ii] = q.snow;
      out.sum = runoff * ice.count;
      if (qg != nullptr && !qg->empty() && ii < (*qg)[0].size())
        (*qg)[0][ii] = ice.weight > 0 ? runoff * ice.count / ice.weight : 0;
    }
  }
  if (total != nullptr) total->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
}

void schneemodellklasse::step_outputs() {
  for (int index : outputs.grids)
    if (index > 0) output_grid(index, 1, 0);
  if (glacier_part && is_dynamic_glacier_method(glacier.method)) {
    if (firn_stack_index > 0) output_stack(firn_stack_index);
    for (int index : outputs.glacier_grids)
      if (index > 0) output_grid(index, 1, 0);
  }
  for (int j = 1; j <= tracer_count; ++j) {
    module_tracer& tr = tracers[static_cast<size_t>(j)];
    if (tr.statistic) tr.statistic->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    if (tr.storage_index > 0) output_grid(tr.storage_index, 1, 0);
  }
}
