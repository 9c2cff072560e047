// The snow module's cell loop: every own cell of the process without
// glaciers runs the kernels of snowcover_kernels.h on its grid values. Each
// iteration writes only its own cell (including its value of the input
// grid), so the rows run on threads without locks and the results do not
// depend on the thread count.
#include <omp.h>

#include <algorithm>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "snow/snowcover_kernels.h"
#include "snow/snowmod.h"
#include "tables/landuse.h"

namespace {
constexpr double LONG_STEP = 720;  // [min] longer steps have a night and a day call
}  // namespace

void schneemodellklasse::keep_cell_grids() {
  auto own = [this](const char* n) -> grid_matrix* {
    const int i = find_grid(n);
    return i > 0 ? (*store)[i].grid : nullptr;
  };
  cell_grid.solid = own("snowstorage_solid");
  cell_grid.liquid = own("snowstorage_liquid");
  cell_grid.total = own("snow_storage_total");
  cell_grid.days = own("days_snow");
  cell_grid.age = own("snow_age");
  cell_grid.snowtemp = is_energy_balance_method(params.method) ? own("snowtemp") : nullptr;
  cell_grid.surftemp = is_energy_balance_method(params.method) ? own("surftemp") : nullptr;
  cell_grid.snow_fraction = own("snow_fraction");
  cell_grid.rain_fraction = own("rain_fraction");
  cell_grid.outflow = own("snowcover_outflow");
  cell_grid.melt_only = own("melt_from_snowcover");
  cell_grid.albedo = own("albedo");
  cell_grid.evaporation = own("snow_evaporation");
  if (glacier_part) {
    cell_grid.firn_melt = own("melt_from_firn");
    cell_grid.ice_melt = own("melt_from_ice");
    cell_grid.glacier_old = own("GlacierizedCellsOld");
    cell_grid.solid_g = own("SolidSnowStorage_onGlacier");
    cell_grid.liquid_g = own("LiquidSnowStorage_onGlacier");
    cell_grid.total_g = own("TotalSnowStorage_onGlacier");
    cell_grid.glacier_melt = own("SnowMelt_onGlacier");
    cell_grid.snowtemp_g = own("snowtemp_onGlacier");
    cell_grid.surftemp_g = own("surftemp_onGlacier");
    cell_grid.evaporation_g = own("SnowEvaporation_onGlacier");
    cell_grid.firn_total = own("firn_WE_stack");
  }
  if (permafrost_on) {
    cell_grid.free_days = own("SnowFreeDaysGrid");
    cell_grid.cover_days = own("SnowCoverDaysGrid");
    cell_grid.thaw = own("PermafrostThawDepth");
    cell_grid.root = own("root_depth1");
  }
}

bool schneemodellklasse::own_cell(int row, int col) const {
  if ((*zone_grid)[row][col] == nodata) return false;
  if (mpi_regions != nullptr && (*mpi_regions)[row][col] != rank) return false;
  if (master_hru != nullptr && (*master_hru)[row][col] == nodata) return false;
  return true;
}

double schneemodellklasse::landuse_albedo(int row, int col, int day, int month, int year) const {
  const landuse_table_t* table = modelobject::settings().landuse_table;
  const grid_matrix* classes = landuse_layers.size() > 1 ? landuse_layers[1] : nullptr;
  // Without a table the settings' grid holds the land-use albedo of the day.
  if (table == nullptr || classes == nullptr) return (*cell_grid.albedo)[row][col];
  const double index = (*classes)[row][col];
  if (!(index >= 1 && index < static_cast<double>(table->size())))
    return (*cell_grid.albedo)[row][col];
  const landuse_entry& entry = (*table)[static_cast<size_t>(index)];
  double value = 0;
  // The query may report to the diagnostics stream: one thread at a time.
#pragma omp critical(snow_landuse_albedo)
  value = entry.albedo_at_date(*diag, day, month, year, 1, row, col, (*elevation)[row][col]);
  return value;
}

void schneemodellklasse::set_step_date(int64_t hour, int64_t day, int64_t month, int64_t year) {
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
  if (time_interval > LONG_STEP) daylight_fraction();
}

void schneemodellklasse::snow_cells(int day, int month, int year) {
  if (flow_control == 0) return;
  if (input == nullptr)
    fail_fatal(*diag, 1, "no water input chosen for ", name, " (select_input_grid)");
  if (cell_grid.solid == nullptr) keep_cell_grids();
  if (tracer_count > 0 && tracer_inputs.empty()) {
    tracer_inputs.assign(static_cast<size_t>(tracer_count) + 1, nullptr);
    for (int j = 1; j <= tracer_count; ++j)
      tracer_inputs[static_cast<size_t>(j)] =
          (*store)[require_one_of_3_grids("concflux_tracer_" + std::to_string(j) + "_irrigation",
                                          "concflux_tracer_" + std::to_string(j) + "_input",
                                          "!!_no_entry_!!")]
              .grid;
  }
  cell_grid.input = input;

  step_values v;
  v.p.method = params.method;
  v.p.T0R = params.T0R;
  v.p.transzone = params.transzone;
  v.p.T0 = params.T0;
  v.p.CWH = params.CWH;
  v.p.CRFR = params.CRFR;
  v.p.C0 = params.C0;
  v.p.C1 = params.C1;
  v.p.C2 = params.C2;
  v.p.LWINcorr = params.LWINcorr;
  v.p.LWOUTcorr = params.LWOUTcorr;
  v.p.EnBalScaling = params.EnBalScaling;
  v.p.interval_min = time_interval;
  v.p.steps_per_day = steps_per_day;
  v.g.method = glacier.method;
  v.g.T0 = params.T0;
  v.g.steps_per_day = steps_per_day;
  v.g.DDFice = glacier.DDFice;
  v.g.DDFfirn = glacier.DDFfirn;
  v.g.DDFsnow = glacier.DDFsnow;
  v.g.MF = glacier.MF;
  v.g.debris_scaling = glacier.debris_scaling;
  v.rmf = seasonal_rmf(day, month);
  v.a_ice = glacier_part ? seasonal_aice(day, month) : 0;
  v.a_snow = glacier_part ? seasonal_asnow(day, month) : 0;
  v.night = time_interval > LONG_STEP ? night_share : 0;
  v.day = day;
  v.month = month;
  v.year = year;

#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip span = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(span.first, 1); c <= span.last; ++c)
      if (own_cell(r, c)) snow_cell(r, c, v);
  }
}

snow_forcing schneemodellklasse::forcing_at(int r, int c, double albedo_now, double rmf) const {
  snow_forcing in;
  in.input = (*cell_grid.input)[r][c];
  in.wind = wind_speed != nullptr ? (*wind_speed)[r][c] : 0;
  in.humidity = air_humidity != nullptr ? (*air_humidity)[r][c] : 0;
  in.cloudiness = cloudiness != nullptr ? (*cloudiness)[r][c] : 0;
  in.vapor_pressure = vapor_pressure != nullptr ? (*vapor_pressure)[r][c] : 0;
  in.radiation = global_radiation != nullptr ? (*global_radiation)[r][c] : 0;
  in.has_correction = radiation_correction != nullptr;
  in.correction = in.has_correction ? (*radiation_correction)[r][c] : 1;
  in.elevation = (*elevation)[r][c];
  in.albedo = albedo_now;
  in.deposition_index = deposition_index != nullptr ? (*deposition_index)[r][c] : 0;
  in.has_surface_temperature = surface_temperature != nullptr;
  in.surface_temperature = in.has_surface_temperature ? (*surface_temperature)[r][c] : 0;
  in.lake = lake_flow_control != 0 && lake_codes != nullptr && ponding != nullptr &&
            (*lake_codes)[r][c] > 0 && (*ponding)[r][c] > 0;
  in.rmf = rmf;
  return in;
}

void schneemodellklasse::snow_cell(int r, int c, const step_values& v) {
  const bool energy = is_energy_balance_method(params.method);
  const double t = (*temperature)[r][c];
  const double t_night = (*temperature_night)[r][c];
  (*cell_grid.outflow)[r][c] = 0;
  (*cell_grid.melt_only)[r][c] = 0;
  if (cell_grid.glacier_melt != nullptr) (*cell_grid.glacier_melt)[r][c] = 0;
  const double previous_total = (*cell_grid.total)[r][c];
  // The land-use albedo is asked for only where the cell has too little snow
  // for the snow albedo (the query runs one thread at a time).
  double ground = -1;
  auto ground_albedo = [&] {
    if (ground < 0) ground = landuse_albedo(r, c, v.day, v.month, v.year);
    return ground;
  };
  const double albedo_now =
      previous_total > 2.5
          ? snow_albedo(params.ALBsnow_min, params.ALBsnow_max, (*cell_grid.age)[r][c], t)
          : ground_albedo();
  double g = 0;
  if (glacier_grid != nullptr) {
    g = std::clamp((*glacier_grid)[r][c], 0.0, 1.0);
    (*cell_grid.firn_melt)[r][c] = 0;
    (*cell_grid.ice_melt)[r][c] = 0;
    if (cell_grid.glacier_old != nullptr) (*cell_grid.glacier_old)[r][c] = (*glacier_grid)[r][c];
  }

  snow_part part;
  part.solid = (*cell_grid.solid)[r][c];
  part.liquid = (*cell_grid.liquid)[r][c];
  part.total = part.solid + part.liquid;
  if (energy) {
    part.pack_temperature = (*cell_grid.snowtemp)[r][c];
    part.surface_temperature = (*cell_grid.surftemp)[r][c];
  }
  double& water_input = (*cell_grid.input)[r][c];
  snow_forcing in = forcing_at(r, c, albedo_now, v.rmf);
  snow_fractions fractions{(*cell_grid.snow_fraction)[r][c], (*cell_grid.rain_fraction)[r][c]};

  if (g > 0) {
    glacier_cell(r, c, v, in, part, fractions);
  } else {
    for (int j = 1; j <= tracer_count; ++j) {
      const module_tracer& tr = tracers[static_cast<size_t>(j)];
      const tracer_entry& entry = tracer_list[j];
      double& stored = tr.storage[r][c];
      if (entry.radioactive == 1) stored *= tr.decay_factor;
      stored = tracer_after_input(entry.evaporating == 1, stored,
                                  (*tracer_inputs[static_cast<size_t>(j)])[r][c],
                                  part.solid + part.liquid, water_input);
    }
    const snow_step_result step = snow_part_step(v.p, in, t, t_night, v.night, part, fractions);
    (*cell_grid.outflow)[r][c] = step.outflow;
    if (step.melt_moved > 0) (*cell_grid.melt_only)[r][c] = step.outflow;
    if (cell_grid.solid_g != nullptr) {
      (*cell_grid.solid_g)[r][c] = 0;
      (*cell_grid.liquid_g)[r][c] = 0;
      (*cell_grid.total_g)[r][c] = 0;
    }
    for (int j = 1; j <= tracer_count; ++j) {
      const module_tracer& tr = tracers[static_cast<size_t>(j)];
      tr.flux[r][c] =
          tracer_release(tracer_list[j].evaporating == 1, tr.storage[r][c], step.outflow,
                         part.liquid, part.solid, tracer_list[j].max_conc);
    }
  }
  water_input = in.input;
  (*cell_grid.solid)[r][c] = part.solid;
  (*cell_grid.liquid)[r][c] = part.liquid;
  (*cell_grid.snow_fraction)[r][c] = fractions.snow;
  (*cell_grid.rain_fraction)[r][c] = fractions.rain;
  if (energy) {
    (*cell_grid.snowtemp)[r][c] = part.pack_temperature;
    (*cell_grid.surftemp)[r][c] = part.surface_temperature;
    if (cell_grid.evaporation != nullptr) (*cell_grid.evaporation)[r][c] = part.sublimation;
  }

  snow_tail_state tail{(*cell_grid.days)[r][c], (*cell_grid.age)[r][c], albedo_now};
  snow_tail(v.p, params.ALBsnow_min, params.ALBsnow_max, t, water_input, part.total,
            part.total > 5 ? 0.0 : ground_albedo(), tail);
  (*cell_grid.days)[r][c] = tail.days_snow;
  (*cell_grid.age)[r][c] = tail.age;
  (*cell_grid.albedo)[r][c] = tail.albedo;
  (*cell_grid.total)[r][c] = part.total;
  if (cell_grid.solid_g != nullptr)
    (*cell_grid.total_g)[r][c] = (*cell_grid.solid_g)[r][c] + (*cell_grid.liquid_g)[r][c];
  if (permafrost_on) {
    const permafrost_params frost{permafrost.Max_SWE_SnowFree, permafrost.Min_Snow_Age_Refreeze};
    permafrost_cell pc{(*cell_grid.cover_days)[r][c], (*cell_grid.free_days)[r][c],
                       (*cell_grid.thaw)[r][c], (*cell_grid.root)[r][c]};
    permafrost_tail(frost, part.total, steps_per_day, (*thaw_coefficient)[r][c], pc);
    (*cell_grid.cover_days)[r][c] = pc.cover_days;
    (*cell_grid.free_days)[r][c] = pc.free_days;
    (*cell_grid.thaw)[r][c] = pc.thaw_depth;
    (*cell_grid.root)[r][c] = pc.root_depth;
  }
}

void schneemodellklasse::glacier_cell(int r, int c, const step_values& v, snow_forcing& in,
                                      snow_part& part, snow_fractions& fractions) {
  const double t = (*temperature)[r][c];
  const int m = glacier.method;
  const bool storages = cell_grid.solid_g != nullptr;
  snow_part on_glacier;
  if (storages) {
    on_glacier.solid = (*cell_grid.solid_g)[r][c];
    on_glacier.liquid = (*cell_grid.liquid_g)[r][c];
    on_glacier.total = on_glacier.solid + on_glacier.liquid;
  }
  const double radiation = glacier_radiation != nullptr ? (*glacier_radiation)[r][c] : 0;
  double moved = 0;    // snow melt moved into the cell part's liquid storage
  double moved_g = 0;  // the same of the glacier part
  if (m == 13) {
    // The snow method melts both parts; the glacier part keeps the split.
    const double t_night = (*temperature_night)[r][c];
    const snow_step_result own =
        snow_part_step(v.p, in, t, t_night, v.night, part, fractions, false, false);
    (*cell_grid.outflow)[r][c] = own.outflow;
    if (own.melt_moved > 0) (*cell_grid.melt_only)[r][c] = own.outflow;
    moved = own.melt_moved;
    if (storages) {
      if (is_energy_balance_method(params.method)) {
        on_glacier.pack_temperature = (*cell_grid.snowtemp_g)[r][c];
        on_glacier.surface_temperature = (*cell_grid.surftemp_g)[r][c];
      }
      snow_forcing glacier_in = in;
      const snow_step_result g_step =
          snow_part_step(v.p, glacier_in, t, t_night, v.night, on_glacier, fractions, true);
      (*cell_grid.glacier_melt)[r][c] = g_step.outflow;
      moved_g = g_step.melt_moved;
      if (is_energy_balance_method(params.method)) {
        (*cell_grid.snowtemp_g)[r][c] = on_glacier.pack_temperature;
        (*cell_grid.surftemp_g)[r][c] = on_glacier.surface_temperature;
        if (cell_grid.evaporation_g != nullptr)
          (*cell_grid.evaporation_g)[r][c] = on_glacier.sublimation;
      }
    }
  } else {
    // One calculation with T whatever the step: no refreezing, no deposition.
    const double f = snow_share(t, params.T0R, params.transzone);
    const double p = in.input;
    fractions.snow = f * p;
    fractions.rain = (1 - f) * p;
    const double previous = part.total;
    part.solid += f * p;
    part.liquid += (1 - f) * p;
    const double melt = glacier_snow_melt(v.g, t, previous, v.a_snow, radiation);
    const double outflow = release_liquid(params.CWH, melt, part, moved);
    (*cell_grid.outflow)[r][c] = outflow;
    if (moved > 0) (*cell_grid.melt_only)[r][c] = outflow;
    if (storages) {
      const double previous_g = on_glacier.total;
      on_glacier.solid += f * p;
      on_glacier.liquid += (1 - f) * p;
      const double melt_g = glacier_snow_melt(v.g, t, previous_g, v.a_snow, radiation);
      (*cell_grid.glacier_melt)[r][c] = release_liquid(params.CWH, melt_g, on_glacier, moved_g);
    }
  }

  // The glacier surface melts once the snow on it is gone; static glaciers
  // have no storages of their own and look at the cell's.
  const double solid_on_glacier = storages ? on_glacier.solid : part.solid;
  const double snow_melt = storages ? moved_g : moved;
  if (t > params.T0 && solid_on_glacier <= 0) {
    const double debris_factor =
        debris != nullptr && (*debris)[r][c] > nodata + 1 ? (*debris)[r][c] : 1;
    const bool dynamic = is_dynamic_glacier_method(m);
    double* layers = dynamic ? firn_stack[r][c] : nullptr;
    const double firn_total = dynamic ? std::max(layers[0], 0.0) : 0;
    const glacier_melt melt =
        glacier_surface_melt(v.g, t, static_cast<int>((*glacier_grid)[r][c]), firn_total, snow_melt,
                             debris_factor, v.a_ice, v.a_snow, radiation);
    if (melt.ice > 0) (*cell_grid.ice_melt)[r][c] = melt.ice;
    if (melt.firn > 0) {
      (*cell_grid.firn_melt)[r][c] += melt.firn;
      if (dynamic) {
        const double rest = take_from_firn(layers, glacier.firn_levels, melt.firn);
        (*cell_grid.ice_melt)[r][c] += rest;
        (*cell_grid.firn_total)[r][c] = layers[0];
      }
    }
  }
  if (storages) {
    (*cell_grid.solid_g)[r][c] = on_glacier.solid;
    (*cell_grid.liquid_g)[r][c] = on_glacier.liquid;
  }
}

void schneemodellklasse::copy_hru_snow_states() {
  const std::vector<hru_entry>* units = modelobject::settings().hru_list;
  if (flow_control == 0 || units == nullptr || hru == nullptr || master_hru == nullptr) return;
  if (is_dynamic_glacier_method(glacier.method))
    fail_fatal(*diag, 1, "the copies of dynamic glacier states are not built yet: ", name,
               " cannot copy them to the cells of hydrologic response units");
  if (cell_grid.solid == nullptr) keep_cell_grids();
  std::vector<grid_matrix*> copied = {
      cell_grid.total,   cell_grid.solid,         cell_grid.liquid,        cell_grid.days,
      cell_grid.age,     cell_grid.snow_fraction, cell_grid.rain_fraction, cell_grid.albedo,
      cell_grid.outflow, cell_grid.melt_only};
  if (params.method > 4)
    for (const char* n : {"snowtemp", "surftemp", "input_mass", "mobile_mass", "deposition"}) {
      const int i = find_grid(n);
      if (i > 0) copied.push_back((*store)[i].grid);
    }
  if (glacier_part) {
    copied.push_back(cell_grid.firn_melt);
    copied.push_back(cell_grid.ice_melt);
  }
  const int unit_count = static_cast<int>(units->size()) - 1;
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip span = (*strips)[static_cast<size_t>(r)];
    for (int c = std::max(span.first, 1); c <= span.last; ++c) {
      if ((*zone_grid)[r][c] == nodata) continue;
      if (mpi_regions != nullptr && (*mpi_regions)[r][c] != rank) continue;
      if ((*master_hru)[r][c] != nodata) continue;
      const double unit = (*hru)[r][c];
      // A unit number outside the list names no master: the cell keeps its values.
      if (!(unit >= 1 && unit <= unit_count)) continue;
      const hru_entry& master = (*units)[static_cast<size_t>(unit)];
      for (grid_matrix* g : copied) (*g)[r][c] = (*g)[master.row][master.col];
    }
  }
}
