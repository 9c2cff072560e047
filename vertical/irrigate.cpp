#include "vertical/irrigate.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/zonetable.h"
#include "tables/irrigation.h"
#include "vertical/irrigate_kernels.h"

namespace {

constexpr int WITHOUT_ROUTING = 60;
constexpr int GROUNDWATER = 1;
constexpr int SURFACE_WATER = 2;
constexpr int OTHER_ORIGIN = 3;
constexpr int NO_ORIGIN = 0;
const char* const STATISTICS_NAMES[2] = {"irrigation water amount from groundwater [mm]",
                                         "irrigation water amount from  surface water [mm]"};

}  // namespace

irrigationclass::irrigationclass(int& status, DiagStream* diag_stream,
                                 statistics_registry* registry_in, int registry_size_in,
                                 const std::string& section, grid_store* store_in,
                                 const settings_context& settings,
                                 const zone_table_view& zone_table)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1, &zone_table) {
  run_constructor_body(status, [&] {
    if (flow_control == 0) return;
    spinup = settings.spinup_switch;
    // During a SpinUp the module sets nothing up.
    if (spinup == 1) {
      control.reset();
      return;
    }
    write_source_banner(*diag, "irrigate", __DATE__, __TIME__);
    registry = registry_in;
    registry_size = registry_size_in;
    // The river water comes from the routing module, which exists on process
    // 0 alone; every process stops alike instead of process 0 waiting for
    // the others.
    if (process_count > 1)
      fail_fatal(*diag, WITHOUT_ROUTING,
                 "irrigation runs with a single process only: the "
                 "routing module that supplies its river water exists on process 0 alone (here ",
                 process_count, " processes)\n");
    find_division_grids();
    read_section();
    std::FILE* f = control.release();
    if (std::fclose(f) != 0)
      fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
    table = settings.irrigation_table;
    table_size = table != nullptr ? static_cast<int>(table->size()) - 1 : 0;
    find_grids();
    create_statistics();
  });
}

void irrigationclass::read_section() {
  std::FILE* file = control.get();
  for (int k = 0; k < 2; ++k)
    read_two_values(file, "%s%d", file_name[k], statistics_code[k],
                    "Name des GWSTANDstatfiles fuer ", section_buffer);
}

void irrigationclass::find_grids() {
  auto grid = [this](const std::string& grid_name) {
    return (*store)[require_grid(grid_name)].grid;
  };
  precipitation = grid("precipitation");
  codes = grid("irrigation_codes");
  max_pumping = grid("Max_Pumping");
  amounts_index = require_grid("irrigation_amounts");
  amounts = (*store)[amounts_index].grid;
  sb = grid("SB_1_grid");
  sb_low = grid("SBLOW_grid");
  sb_high = grid("SBHIGH_grid");
  ratio = grid("ETR2ETP");
  root_depth = grid("root_depth" + std::to_string(1));
}

void irrigationclass::create_statistics() {
  demand.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
  for (int k = 0; k < 2; ++k) {
    std::vector<zone_record>& records = statistic_zones[k];
    records.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
    for (int z = 0; z <= zone_count; ++z) {
      records[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
      records[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
      demand[static_cast<size_t>(z)].code = records[static_cast<size_t>(z)].code;
      demand[static_cast<size_t>(z)].share = records[static_cast<size_t>(z)].share;
    }
    int stat_status = 0;
    statistic[k] = std::make_unique<zonalstatistic>(
        stat_status, diag, registry, registry_size, rel_cell_area, nrows, ncols, records.data(),
        zone_count, statistics_code[k], 4, file_name[k], output_directory, selected_zone_count,
        &selected_zones);
    if (stat_status != 0) throw stat_status;
    statistic[k]->write_header(STATISTICS_NAMES[k], name, registry, registry_size);
  }
}

void irrigationclass::init_tracers(int& status, int count, tracer_entry* list,
                                   statistics_registry* registry_in, int registry_size_in) {
  status = 0;
  if (!working()) return;
  teilmodellklasse::init_tracers(status, count, list, registry_in, registry_size_in);
  if (status != 0) return;
  run_constructor_body(status, [&] {
    input_concentration.assign(static_cast<size_t>(tracer_count) + 1, nullptr);
    for (int k = 1; k <= tracer_count; ++k)
      input_concentration[static_cast<size_t>(k)] =
          (*store)[require_grid("concflux_tracer_" + std::to_string(k) + "_input")].grid;
  });
}

void irrigationclass::free_tracer_statistics() {
  if (!working()) return;
  teilmodellklasse::free_tracer_statistics();
  soil_concentration.clear();
}

void irrigationclass::link_tracer_storage() {
  if (!working() || tracer_count < 1) return;
  soil_concentration.assign(static_cast<size_t>(tracer_count) + 1, nullptr);
  for (int k = 1; k <= tracer_count; ++k)
    soil_concentration[static_cast<size_t>(k)] =
        (*store)[require_grid("concstor_tracer_" + std::to_string(k) + "_unsatzon_model")].grid;
}

void irrigationclass::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (!working()) return;
  if (maxirrig == nullptr || maxirrig_from_reservoirs == nullptr)
    fail_without_routing("\n(Adress of array maxirrig[] is NULL\n");
  teilmodellklasse::time_step(hour, day, month, year);
  for (auto& s : statistic) s->clear_step_sums();
  for (int k = 1; k <= tracer_count; ++k)
    tracers[static_cast<size_t>(k)].statistic->clear_step_sums();
  apply_rules();
  share_surface_water();
  mix_tracers();
  add_water();
  output_grid(amounts_index, 1, 0);
  complete_statistics();
  for (int k = 1; k <= tracer_count; ++k) {
    module_tracer& t = tracers[static_cast<size_t>(k)];
    t.statistic->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    output_grid(t.flux_index, 1, 0);
  }
}

// Before the water is added: the precipitation P of concentration c_P meets
// the irrigation a of the concentration of its origin.
void irrigationclass::mix_tracers() {
  if (tracer_count < 1) return;
  if (static_cast<int>(soil_concentration.size()) <= tracer_count)
    fail_fatal(*diag, 33, "the tracer concentrations of the soil water are not linked to ", name);
  const grid_matrix& zone = *zone_grid;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      const double code_value = (*codes)[r][c];
      if (!(zone[r][c] > 0) || !(code_value >= 0 && code_value < table_size + 1)) continue;
      const size_t at =
          static_cast<size_t>(r) * static_cast<size_t>(ncols + 1) + static_cast<size_t>(c);
      const int z = subbasin_of[at];
      const double p = (*precipitation)[r][c];
      const double a = (*amounts)[r][c];
      for (int k = 1; k <= tracer_count; ++k) {
        module_tracer& t = tracers[static_cast<size_t>(k)];
        const double c_p = (*input_concentration[static_cast<size_t>(k)])[r][c];
        double& c_f = t.flux[r][c];
        if (a <= 0) {
          c_f = p > 0 ? c_p : 0.0;
        } else if (origin_of[at] == GROUNDWATER) {
          c_f = mix_concentrations(c_p, (*soil_concentration[static_cast<size_t>(k)])[r][c], p, a);
        } else if (origin_of[at] == SURFACE_WATER) {
          const size_t kk = static_cast<size_t>(k);
          const double c_river =
              kk < maxirrig->size() ? (*maxirrig)[kk][static_cast<size_t>(z)] : 0.0;
          c_f = mix_concentrations(c_p, c_river, p, a);
        }
        t.statistic->add_value(r, c, z, c_f, p + a);
      }
    }
  }
}

// The rule of every cell, the groundwater cap, and the surface-water demand.
void irrigationclass::apply_rules() {
  const grid_matrix& zone = *zone_grid;
  origin_of.assign(static_cast<size_t>(nrows + 1) * static_cast<size_t>(ncols + 1), NO_ORIGIN);
  subbasin_of.assign(origin_of.size(), 0);
  for (zone_record& d : demand) d.count = d.sum = d.weight = 0;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (!(zone[r][c] > nodata)) {
        (*amounts)[r][c] = nodata;
        continue;
      }
      int code = 0;
      // A zone code outside the table belongs to no subbasin.
      const int z = zone_code_of(zone[r][c], code) && code < static_cast<int>(zone_index->size())
                        ? (*zone_index)[static_cast<size_t>(code)]
                        : 0;
      const size_t at =
          static_cast<size_t>(r) * static_cast<size_t>(ncols + 1) + static_cast<size_t>(c);
      subbasin_of[at] = z;
      const double code_value = (*codes)[r][c];
      const int k = code_value >= 1 && code_value <= table_size ? static_cast<int>(code_value) : 0;
      const irrigation_entry* e = k > 0 ? &(*table)[static_cast<size_t>(k)] : nullptr;
      double& a = (*amounts)[r][c];
      if (e == nullptr || e->method <= 0) {
        a = 0;
        continue;
      }
      const irrigation_cell cell{(*sb)[r][c],         (*sb_low)[r][c], (*sb_high)[r][c],
                                 (*root_depth)[r][c], (*ratio)[r][c],  a == nodata ? 0.0 : a};
      a = irrigation_amount(*e, cell, cur_month, cur_day, time_interval);
      if (e->origin == GROUNDWATER) {
        // A pumping limit that is missing or below 0 lets nothing be pumped.
        a = std::max(0.0, std::min(a, (*max_pumping)[r][c]));
        origin_of[at] = GROUNDWATER;
      } else if (e->origin == SURFACE_WATER) {
        origin_of[at] = SURFACE_WATER;
        const double w = rel_cell_area != nullptr && (*rel_cell_area)[r][c] > WEIGHT_GRID_MISSING
                             ? (*rel_cell_area)[r][c]
                             : 1.0;
        zone_record& d = demand[static_cast<size_t>(z)];
        d.count += 1;
        d.weight += w;
        d.sum += a * w;
      } else {
        origin_of[at] = OTHER_ORIGIN;
      }
    }
  }
}

// Reservoirs and rivers per subbasin; after a shortfall the surface-water
// cells get what the water at hand covers. Groundwater cells keep their
// amounts: pumped water is no demand on the river.
void irrigationclass::share_surface_water() {
  std::vector<double>& river = (*maxirrig)[0];
  std::vector<double>& reservoir = (*maxirrig_from_reservoirs)[0];
  std::vector<double> shares(static_cast<size_t>(zone_count) + 1, 0.0);
  for (int z = 0; z <= zone_count; ++z)
    shares[static_cast<size_t>(z)] = (*zones)[static_cast<size_t>(z)].share;
  const supply_inputs in{&demand, &shares, shares[0], time_interval, routing_target};
  const surface_supply s = supply_surface_water(in, river, reservoir, riverflows);
  if (s.shortfall) {
    for (zone_record& d : demand) d.count = d.sum = d.weight = 0;
    for (int r = first_row; r <= last_row; ++r) {
      const row_strip& span = (*strips)[static_cast<size_t>(r)];
      for (int c = span.first; c <= span.last; ++c) {
        const size_t at =
            static_cast<size_t>(r) * static_cast<size_t>(ncols + 1) + static_cast<size_t>(c);
        if (origin_of[at] != SURFACE_WATER) continue;
        const int z = subbasin_of[at];
        double& a = (*amounts)[r][c];
        a = shortfall_amount(s, reservoir, z, a);
        const double w = rel_cell_area != nullptr && (*rel_cell_area)[r][c] > WEIGHT_GRID_MISSING
                             ? (*rel_cell_area)[r][c]
                             : 1.0;
        zone_record& d = demand[static_cast<size_t>(z)];
        d.count += 1;
        d.weight += w;
        d.sum += a * w;
      }
    }
  }
  for (int z = 1; z <= zone_count; ++z) {
    river[static_cast<size_t>(z)] = s.coverage[static_cast<size_t>(z)];
    reservoir[static_cast<size_t>(z)] = s.from_reservoir[static_cast<size_t>(z)];
  }
}

void irrigationclass::add_water() {
  const grid_matrix& zone = *zone_grid;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      const size_t at =
          static_cast<size_t>(r) * static_cast<size_t>(ncols + 1) + static_cast<size_t>(c);
      if (!(zone[r][c] > 0) || origin_of[at] == NO_ORIGIN) continue;
      (*precipitation)[r][c] += (*amounts)[r][c];
    }
  }
}

// Cells without a rule count 0 in both statistics; cells of another origin
// in neither.
void irrigationclass::complete_statistics() {
  const grid_matrix& zone = *zone_grid;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip& span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (!(zone[r][c] > nodata)) continue;
      const size_t at =
          static_cast<size_t>(r) * static_cast<size_t>(ncols + 1) + static_cast<size_t>(c);
      const int z = subbasin_of[at];
      const int origin = origin_of[at];
      if (origin == OTHER_ORIGIN) continue;
      const double a = (*amounts)[r][c];
      statistic[0]->add_value(r, c, z, origin == GROUNDWATER ? a : 0.0, 1.0);
      statistic[1]->add_value(r, c, z, origin == SURFACE_WATER ? a : 0.0, 1.0);
    }
  }
  for (auto& s : statistic) s->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
}

void irrigationclass::release() {
  if (working()) {
    for (auto& s : statistic)
      if (s) {
        s->release();
        s.reset();
      }
    for (auto& records : statistic_zones) records.clear();
    demand.clear();
  }
  teilmodellklasse::release();
}

void irrigationclass::set_qg(subbasin_flow_arrays* qg_in) {
  if (flow_control != 0) qg = qg_in;
}

std::vector<zone_record>* irrigationclass::get_irrigation_demand() {
  return working() ? &demand : nullptr;
}

void irrigationclass::set_riverflow_table(riverflow_table* table_in) {
  if (flow_control != 0) riverflows = table_in;
}

void irrigationclass::fail_without_routing(const char* what) {
  fail_fatal(*diag, WITHOUT_ROUTING, "if irrigation is modelled, also routing has to be modelled!",
             what);
}

void irrigationclass::set_maxirrig(subbasin_flow_arrays* from_rivers,
                                   subbasin_flow_arrays* from_reservoirs) {
  if (!working()) return;
  // The step reads index 0 of every subbasin of the zone table.
  auto usable = [this](const subbasin_flow_arrays* a) {
    return a != nullptr && !a->empty() && (*a)[0].size() >= static_cast<size_t>(zone_count) + 1;
  };
  if (!usable(from_rivers)) fail_without_routing("\n(Adress of array maxirrig[] is NULL\n");
  if (!usable(from_reservoirs))
    fail_without_routing("\n(Adress of array maxirrigFromReservoirs[] is NULL\n");
  maxirrig = from_rivers;
  maxirrig_from_reservoirs = from_reservoirs;
}

void irrigationclass::set_routing_target(routing_target_table* target) {
  if (!working()) return;
  if (target == nullptr)
    fail_fatal(*diag, WITHOUT_ROUTING,
               "if irrigation is modelled, also routing has to be modelled! ",
               "\n(Adress of array routing-target is NULL)\n");
  routing_target = target;
}

void irrigationclass::set_abfrel(abfrel_table* abfrel_in) {
  if (!working()) return;
  if (abfrel_in == nullptr) fail_without_routing(" \n(Adress of array abfrel is NULL)\n");
  abfrel = abfrel_in;
}

void irrigationclass::flush_outputs() {
  if (!working()) return;
  for (auto& s : statistic)
    if (s) s->write_rows();
  for (int k = 1; k <= tracer_count && k < static_cast<int>(tracers.size()); ++k)
    if (tracers[static_cast<size_t>(k)].statistic)
      tracers[static_cast<size_t>(k)].statistic->write_rows();
}
