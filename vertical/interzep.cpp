#include "vertical/interzep.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "tables/landuse.h"
#include "tables/multilayer.h"
#include "vertical/etpetr_kernels.h"
#include "vertical/interzep_kernels.h"

namespace {

constexpr double FULL_GLACIER = 0.99999;  // [-] glacier share that leaves no canopy
constexpr int STATISTICS_PRECISION = 5;

std::string numbered(const char* name, int i) { return name + std::to_string(i); }

}  // namespace

interzeptionsmodellklasse::interzeptionsmodellklasse(
    int& status, DiagStream* diag_stream, statistics_registry* registry_in, int registry_size_in,
    const std::string& section, grid_store* store_in, const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  registry = registry_in;
  registry_size = registry_size_in;
  run_constructor_body(status, [&] { set_up(); });
}

void interzeptionsmodellklasse::set_up() {
  if (flow_control == 0 || store == nullptr) return;
  write_source_banner(*diag, "interzep", __DATE__, __TIME__);
  const multilayer_table_t* multilayer = settings().multilayer_table;
  layer_count = multilayer != nullptr && multilayer->size() > 1 ? (*multilayer)[1].layer_count : 1;
  layer_count = std::max(layer_count, 1);
  read_section();
  std::FILE* f = control.release();
  if (std::fclose(f) != 0) fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
  take_grids();
  const int first = store->first_free(1);
  if (first >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid left", GRID_STORE_FULL);
  entries.resize(static_cast<size_t>(layer_count) + 1);
  for (int i = 0; i <= layer_count; ++i) {
    register_entry(i, first + 3 * i);
    create_statistics(i);
  }
  int g = find_grid("GlacierizedCells");
  if (g <= 0) g = find_grid("ice_firn");
  glacier = g > 0 ? (*store)[g].grid : nullptr;
  if (settings().spinup_switch != 0) {
    require_grid("HydrologicResponseUnits");
    require_grid("MasterHydrologicResponseUnits");
  }
}

void interzeptionsmodellklasse::read_section() {
  std::FILE* file = control.get();
  std::string& line = section_buffer;
  read_value(file, "%d", method, " method for ", line);
  read_value(file, "%s", outflow_file, "name outflow grid for ", line);
  read_value(file, "%d", outflow_code, "write code outflow grid for ", line);
  read_two_values(file, "%s%d", outflow_stat, outflow_stat_code,
                  "name outflow statistics file for ", line);
  read_value(file, "%s", evaporation_file, "name potential interception evaporation grid for ",
             line);
  read_value(file, "%d", evaporation_code,
             "write code potential interception evaporation grid for ", line);
  read_two_values(file, "%s%d", evaporation_stat, evaporation_stat_code,
                  "name potential interception statistics file for ", line);
  read_value(file, "%s", storage_file, "name interception storage grid for ", line);
  read_value(file, "%d", storage_code, "write code interception storage grid for ", line);
  read_two_values(file, "%s%d", storage_stat, storage_stat_code,
                  "name interception storage statistics file for ", line);
  read_value(file, "%lf", default_water_layer,
             "parameter interception storage maximum water layer thickness for ", line);
  read_value(file, "%d", readgrid, "readgrid parameter for ", line);
}

void interzeptionsmodellklasse::take_grids() {
  layers.assign(static_cast<size_t>(layer_count) + 1, layer_inputs{});
  auto grid_of = [&](const std::string& n) { return (*store)[require_grid(n)].grid; };
  for (int l = 1; l <= layer_count; ++l) {
    layer_inputs& in = layers[static_cast<size_t>(l)];
    in.landuse = grid_of(numbered("landuse", l));
    in.leaf_area_index = grid_of(numbered("leaf_area_index", l));
    in.coverage = grid_of(numbered("vegetation_coverage_degree", l));
  }
  for (int l = 0; l <= layer_count; ++l) {
    layer_inputs& in = layers[static_cast<size_t>(l)];
    in.pot_transpiration = grid_of(numbered("pot_transpiration", l));
    in.pot_interception_evaporation = grid_of(numbered("potential_InterceptionEvap", l));
    grid_of(numbered("real_transpiration", l));
  }
  if (method == 1 || method == 2)
    input =
        (*store)[require_one_of_3_grids("snowcover_outflow", "precipitation", "ungueltiger_Name")]
            .grid;
  else
    input = grid_of("precipitation");
}

grid_matrix interzeptionsmodellklasse::new_band_grid() {
  grid_matrix grid = matrix(first_row, last_row, 0, ncols, nrows);
  for (int r = first_row; r <= last_row; ++r) {
    const double* z = r >= 1 && r <= nrows ? (*zone_grid)[r] : nullptr;
    for (int c = 0; c <= ncols; ++c)
      grid[r][c] = c >= 1 && z != nullptr && z[c] != nodata ? 0 : nodata;
  }
  return grid;
}

void interzeptionsmodellklasse::register_entry(int i, int first_index) {
  entry_outputs& e = entries[static_cast<size_t>(i)];
  auto named = [&](const std::string& n) { return i == 0 ? n : layer_file_name(n, i); };
  e.storage_file = named(storage_file);
  e.evaporation_file = named(evaporation_file);
  e.throughfall_file = named(outflow_file);
  e.storage_stat_file = named(storage_stat);
  e.evaporation_stat_file = named(evaporation_stat);
  e.throughfall_stat_file = named(outflow_stat);
  if (readgrid == 1)
    read_grid(e.storage_file, e.storage, 0, true, true, 0.0, false, false, false, true);
  else
    e.storage = new_band_grid();
  e.evaporation = new_band_grid();
  e.throughfall = new_band_grid();
  e.storage_index = first_index;
  e.evaporation_index = first_index + 1;
  e.throughfall_index = first_index + 2;
  const auto code = [](int c) { return static_cast<unsigned>(std::max(c, 0)); };
  register_grid(e.storage_index, e.storage_file, &e.storage, nullptr, 0,
                numbered("interception_storage", i), code(storage_code), first_row, last_row);
  register_grid(e.evaporation_index, e.evaporation_file, &e.evaporation, nullptr, 0,
                numbered("interception_evaporation", i), code(evaporation_code), first_row,
                last_row);
  register_grid(e.throughfall_index, e.throughfall_file, &e.throughfall, nullptr, 0,
                numbered("throughfall", i), code(outflow_code), first_row, last_row);
}

void interzeptionsmodellklasse::create_statistics(int i) {
  entry_outputs& e = entries[static_cast<size_t>(i)];
  struct statistic_setup {
    std::vector<zone_record>& zones_of;
    std::unique_ptr<zonalstatistic>& statistic;
    std::string& file;
    int code;
    const char* title;
  } setups[] = {
      {e.evaporation_zones, e.evaporation_stat, e.evaporation_stat_file, evaporation_stat_code,
       "interception_evaporation_in_mm_layer_"},
      {e.storage_zones, e.storage_stat, e.storage_stat_file, storage_stat_code,
       "interception_storage_in_mm_layer_"},
      {e.throughfall_zones, e.throughfall_stat, e.throughfall_stat_file, outflow_stat_code,
       "throughfall_in_mm_layer_"},
  };
  for (statistic_setup& s : setups) {
    s.zones_of.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
    for (int z = 0; z <= zone_count; ++z) {
      s.zones_of[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
      s.zones_of[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
    }
    int status = 0;
    s.statistic = std::make_unique<zonalstatistic>(
        status, diag, registry, registry_size, rel_cell_area, nrows, ncols, s.zones_of.data(),
        zone_count, s.code, STATISTICS_PRECISION, s.file, output_directory, selected_zone_count,
        &selected_zones);
    if (status != 0) throw status;
    s.statistic->write_header(s.title + std::to_string(i) + "_", name, registry, registry_size);
  }
}

void interzeptionsmodellklasse::init_tracers(int& status, int count, tracer_entry* list,
                                             statistics_registry* registry_in,
                                             int registry_size_in) {
  status = 0;
  if (flow_control == 0) return;
  teilmodellklasse::init_tracers(status, count, list, registry_in, registry_size_in);
  if (status != 0) return;
  try {
    tracer_inputs.assign(static_cast<size_t>(tracer_count) + 1, nullptr);
    for (int t = 1; t <= tracer_count; ++t) {
      const std::string head = "concflux_tracer_" + std::to_string(t) + "_";
      tracer_inputs[static_cast<size_t>(t)] =
          (*store)[require_one_of_3_grids(head + "snow_model", head + "irrigation", head + "input")]
              .grid;
    }
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
}

void interzeptionsmodellklasse::free_tracer_statistics() {
  if (flow_control != 0) teilmodellklasse::free_tracer_statistics();
}

bool interzeptionsmodellklasse::own_cell(int row, int col) const {
  if ((*zone_grid)[row][col] == nodata) return false;
  return mpi_regions == nullptr || (*mpi_regions)[row][col] == rank;
}

double interzeptionsmodellklasse::glacier_fraction(int row, int col) const {
  if (glacier == nullptr) return 0;
  return std::clamp((*glacier)[row][col], 0.0, 1.0);
}

// The class's interception capacity, or -1 (the default water layer) for a
// value that is no index of the land-use table.
double interzeptionsmodellklasse::class_capacity(double class_value) const {
  const auto* table = settings().landuse_table;
  if (table == nullptr || !(class_value >= 1 && class_value < static_cast<double>(table->size())))
    return -1;
  return (*table)[static_cast<size_t>(class_value)].get_intercep_cap();
}

void interzeptionsmodellklasse::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  teilmodellklasse::time_step(hour, day, month, year);
  for (entry_outputs& e : entries) {
    e.evaporation_stat->clear_step_sums();
    e.storage_stat->clear_step_sums();
    e.throughfall_stat->clear_step_sums();
  }
  for (int t = 1; t <= tracer_count; ++t)
    tracers[static_cast<size_t>(t)].statistic->clear_step_sums();
  compute_cells();
  add_statistics();
  complete_outputs();
}

void interzeptionsmodellklasse::compute_cells() {
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r) {
    const int c_first = strips != nullptr ? (*strips)[r].first : 1;
    const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
    for (int c = c_first; c <= c_last; ++c) {
      if (!own_cell(r, c)) {
        for (entry_outputs& e : entries) {
          e.evaporation[r][c] = nodata;
          e.throughfall[r][c] = nodata;
        }
        continue;
      }
      const double f = glacier_fraction(r, c);
      if (f < 1) {
        if (layer_count >= 2)
          compute_layers(r, c);
        else
          compute_one_layer(r, c);
      }
      if (f > 0) compute_glacier_part(r, c, f);
    }
  }
}

void interzeptionsmodellklasse::compute_layers(int r, int c) {
  const interception_rule rule = interception_rule_of(method);
  entry_outputs& total = entries[0];
  double evaporation = 0, storage = 0;
  double water = (*input)[r][c];  // what reaches the next real layer
  double& t0 = (*layers[0].pot_transpiration)[r][c];
  for (int l = 1; l <= layer_count; ++l) {
    const layer_inputs& in = layers[static_cast<size_t>(l)];
    entry_outputs& e = entries[static_cast<size_t>(l)];
    const double class_value = (*in.landuse)[r][c];
    if (!(class_value > nodata)) {
      e.evaporation[r][c] = e.throughfall[r][c] = e.storage[r][c] = 0;
      continue;
    }
    const double capacity = canopy_capacity((*in.leaf_area_index)[r][c],
                                            class_capacity(class_value), default_water_layer);
    double& t = (*in.pot_transpiration)[r][c];
    evaporation_potentials p{t, t0, (*in.pot_interception_evaporation)[r][c]};
    double& s = e.storage[r][c];
    const canopy_step step = canopy_layer_step(rule, capacity, (*in.coverage)[r][c], water, s, p);
    t = p.transpiration;
    t0 = p.total_transpiration;
    e.evaporation[r][c] = step.evaporation;
    e.throughfall[r][c] = step.throughfall;
    water = step.throughfall;
    evaporation += step.evaporation;
    storage += s;
  }
  total.evaporation[r][c] = evaporation;
  total.throughfall[r][c] = water;
  total.storage[r][c] = storage;
}

void interzeptionsmodellklasse::compute_one_layer(int r, int c) {
  const layer_inputs& in = layers[1];
  entry_outputs& e = entries[1];
  const double class_value = (*in.landuse)[r][c];
  const auto* table = settings().landuse_table;
  const bool canopy =
      table != nullptr && class_value >= 1 && class_value < static_cast<double>(table->size());
  const double capacity = canopy ? canopy_capacity((*in.leaf_area_index)[r][c],
                                                   class_capacity(class_value), default_water_layer)
                                 : 0;
  const double coverage = canopy ? (*in.coverage)[r][c] : 0;
  const double p_in = (*input)[r][c];
  double& s = e.storage[r][c];
  const double stored_before = s;
  const double base_throughfall = (1 - coverage) * p_in;
  double throughfall = fill_canopy(capacity, coverage, p_in, s);
  const double overflow = throughfall - base_throughfall;
  for (int t = 1; t <= tracer_count; ++t) {
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    const tracer_entry& te = tracer_list[t];
    const double c_in = (*tracer_inputs[static_cast<size_t>(t)])[r][c];
    double& cs = mt.storage[r][c];
    double& cf = mt.flux[r][c];
    if (te.radioactive == 1) cs *= mt.decay_factor;
    const double filled = stored_before + coverage * p_in;  // before the overflow
    if (te.evaporating == 1) {
      cf = c_in;
      cs = mix_concentrations(cs, c_in, stored_before, coverage * p_in);
      if (overflow > 0) cf = mix_concentrations(cs, cf, overflow, base_throughfall);
    } else {
      cf = base_throughfall * c_in;
      cs += c_in * coverage * p_in;
      if (overflow > 0) {
        const double moved =
            filled > 0 ? std::min(overflow * te.max_conc, overflow / filled * cs) : 0;
        cs -= moved;
        cf += moved;
      }
      cf = throughfall > 0 ? cf / throughfall : 0;
    }
  }
  double& t1 = (*in.pot_transpiration)[r][c];
  evaporation_potentials p{t1, t1, (*in.pot_interception_evaporation)[r][c]};
  const double evaporation = evaporate_canopy(interception_rule_of(method), s, p);
  t1 = p.transpiration;
  (*layers[0].pot_transpiration)[r][c] = t1;
  e.evaporation[r][c] = evaporation;
  e.throughfall[r][c] = throughfall;
  entry_outputs& total = entries[0];
  total.evaporation[r][c] = evaporation;
  total.throughfall[r][c] = throughfall;
  total.storage[r][c] = s;
}

void interzeptionsmodellklasse::compute_glacier_part(int r, int c, double f) {
  if (f < FULL_GLACIER) return;
  // Before snow the snow module takes throughfall0: the input passes on.
  const double passed = interception_before_snow(method) ? (*input)[r][c] : 0;
  for (entry_outputs& e : entries) {
    e.evaporation[r][c] = 0;
    e.storage[r][c] = 0;
    e.throughfall[r][c] = passed;
  }
}

// On one thread in row order, so that the sums do not depend on the threads.
void interzeptionsmodellklasse::add_statistics() {
  const bool tracers_carried = layer_count <= 1 && tracer_count > 0;
  bool any_on = tracers_carried;
  for (const entry_outputs& e : entries)
    any_on = any_on || !e.evaporation_stat->off() || !e.storage_stat->off() ||
             !e.throughfall_stat->off();
  if (!any_on) return;
  for (int r = first_row; r <= last_row; ++r) {
    const int c_first = strips != nullptr ? (*strips)[r].first : 1;
    const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
    for (int c = c_first; c <= c_last; ++c) {
      if (!own_cell(r, c)) continue;
      const int zone = (*zone_index)[static_cast<size_t>((*zone_grid)[r][c])];
      const double f = glacier_fraction(r, c);
      auto add_tracers = [&](int storage_entry) {
        if (!tracers_carried) return;
        const double s = entries[static_cast<size_t>(storage_entry)].storage[r][c];
        for (int t = 1; t <= tracer_count; ++t) {
          module_tracer& mt = tracers[static_cast<size_t>(t)];
          const double weight = tracer_list[t].evaporating == 1 ? s : 1;
          mt.statistic->add_value(r, c, zone, mt.storage[r][c], weight);
        }
      };
      if (f < 1) {
        for (int i = 1; i <= layer_count; ++i) {
          entry_outputs& e = entries[static_cast<size_t>(i)];
          e.evaporation_stat->add_value(r, c, zone, e.evaporation[r][c], 1 - f);
          e.throughfall_stat->add_value(r, c, zone, e.throughfall[r][c], 1 - f);
          e.storage_stat->add_value(r, c, zone, e.storage[r][c], 1 - f);
        }
        add_tracers(1);
        entry_outputs& e = entries[0];
        e.evaporation_stat->add_value(r, c, zone, e.evaporation[r][c], 1 - f);
        e.throughfall_stat->add_value(r, c, zone, e.throughfall[r][c], 1 - f);
        e.storage_stat->add_value(r, c, zone, e.storage[r][c], 1 - f);
      }
      if (f > 0) {
        add_tracers(0);
        const bool passes = f >= FULL_GLACIER && interception_before_snow(method);
        for (entry_outputs& e : entries) {
          e.evaporation_stat->add_value(r, c, zone, 0, f);
          e.throughfall_stat->add_value(r, c, zone, passes ? e.throughfall[r][c] : 0, f);
          e.storage_stat->add_value(r, c, zone, 0, f);
        }
      }
    }
  }
}

void interzeptionsmodellklasse::complete_outputs() {
  for (entry_outputs& e : entries) {
    e.evaporation_stat->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    e.storage_stat->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    e.throughfall_stat->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    output_grid(e.throughfall_index, 1, 0);
    output_grid(e.evaporation_index, 1, 0);
    output_grid(e.storage_index, 1, 0);
  }
  for (int t = 1; t <= tracer_count; ++t) {
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    mt.statistic->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    output_grid(mt.storage_index, 1, 0);
  }
}

void interzeptionsmodellklasse::flush_outputs() {
  if (flow_control == 0) return;
  for (entry_outputs& e : entries) {
    e.evaporation_stat->write_rows();
    e.storage_stat->write_rows();
    e.throughfall_stat->write_rows();
  }
  for (int t = 1; t <= tracer_count && t < static_cast<int>(tracers.size()); ++t)
    if (tracers[static_cast<size_t>(t)].statistic)
      tracers[static_cast<size_t>(t)].statistic->write_rows();
}

void interzeptionsmodellklasse::release() {
  for (entry_outputs& e : entries) {
    for (auto* s : {&e.evaporation_stat, &e.storage_stat, &e.throughfall_stat}) {
      if (*s) (*s)->release();
      s->reset();
    }
    for (int index : {e.storage_index, e.evaporation_index, e.throughfall_index})
      if (index > 0) free_grid_entry(index);
    e.storage = grid_matrix();
    e.evaporation = grid_matrix();
    e.throughfall = grid_matrix();
  }
  entries.clear();
  layers.clear();
  teilmodellklasse::release();
}

int interzeptionsmodellklasse::get_method() { return flow_control > 0 ? method : 0; }
