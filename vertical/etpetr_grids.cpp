// The evapotranspiration module's grids and statistics: the inputs it takes
// by method, the grids it publishes (three per vegetation layer, then six),
// its zonal statistics, the follower cells of SpinUp, the flush and the
// release.
#include <algorithm>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/zonetable.h"
#include "submodel/hru_followers.h"
#include "vertical/etpetr.h"

namespace {
// Bits of the inputs found at set-up.
constexpr int BIT_PRESSURE = 1, BIT_RADIATION = 4, BIT_SUNSHINE = 8, BIT_HUMIDITY = 32,
              BIT_VAPOR = 64, BIT_TEMPERATURE = 128;
constexpr double NIGHT_GRID_MIN_INTERVAL = 720;  // [min]
constexpr double SSD_START = 0.5;                // [-] "SSDTemp" before the first day
constexpr int STAT_DECIMALS = 5, RADIATION_DECIMALS = 2;

const char* method_tag(int method) {
  switch (method) {
    case 1:
      return "(Penman/Monteith)_";
    case 2:
      return "(HAMON)_";
    case 3:
      return "(WENDLING)_";
    default:
      return "(HAUDE)_";
  }
}

std::string layered(const char* base, int k) { return base + std::to_string(k); }
}  // namespace

const grid_matrix* verdunstungsmodellklasse::take(const std::string& grid_name) {
  return (*store)[require_grid(grid_name)].grid;
}

const grid_matrix* verdunstungsmodellklasse::take_if_present(const std::string& grid_name) {
  const int index = find_grid(grid_name);
  return index > 0 ? (*store)[index].grid : nullptr;
}

void verdunstungsmodellklasse::take_grids() {
  const bool pm = method == 1;
  const bool radiation_method = method == 1 || method == 3;
  const auto bit_if = [&](const std::string& grid_name, int bit) {
    if (find_grid(grid_name) > 0) input_mask |= bit;
  };
  input_mask = 0;
  if (pm) {
    bit_if("air_pressure", BIT_PRESSURE);
    bit_if("air_humidity", BIT_HUMIDITY);
    bit_if("vapor_pressure", BIT_VAPOR);
  } else if (method == 4) {
    bit_if("air_humidity_14", BIT_HUMIDITY);
    bit_if("vapor_pressure_14", BIT_VAPOR);
  }
  std::string radiation_name = "global_radiation";
  if (radiation_method) {
    net_radiation_flag = find_grid("net_radiation") > 0 ? 1 : 0;
    if (net_radiation_flag == 1) radiation_name = "net_radiation";
    bit_if(radiation_name, BIT_RADIATION);
    bit_if("sunshine_duration", BIT_SUNSHINE);
  }
  if ((input_mask & (BIT_RADIATION | BIT_SUNSHINE)) == 0 && method != 2 && method != 4)
    fail_fatal(*diag, 46,
               "--------------------------- ERROR ----------------------------------------\n",
               "Evapotranspiration requires at least one of the following entities\n",
               "erlative sunshine duration (SSD, in 1/1)  or global radiation  (RG, in Wh/m^2).\n",
               "or net radiation (RN, in Wh/m^2) (either RG or RN!)\n",
               "-------------------------------------------------------------------\n");
  if ((input_mask & (BIT_HUMIDITY | BIT_VAPOR)) == 0 && (pm || method == 4))
    fail_fatal(*diag, 46,
               "---------------------------- ERROR ---------------------------------------\n",
               "Evapotranspiration requires at least one of the following entities\n",
               "vapor pressure (e, in mbar) or relative air humidity (RLF, in 1/1).\n",
               "-------------------------------------------------------------------\n");
  const int t_index =
      method == 4 ? require_grid("temperature_14")
                  : require_one_of_3_grids("corr_temperature", "temperature", "temperature");
  input_mask |= BIT_TEMPERATURE;
  temperature = (*store)[t_index].grid;
  elevation = take("[elevation_model]");
  const auto L = static_cast<size_t>(layer_count);
  landuse.assign(L + 1, nullptr);
  if (layer_count > 1) landuse[0] = take("landuse");
  for (int k = 1; k <= layer_count; ++k)
    landuse[static_cast<size_t>(k)] = take(layered("landuse", k));
  for (auto* list : {&root_depth, &leaf_area_index, &coverage, &canopy_resistance,
                     &interception_resistance, &roughness})
    list->assign(L + 1, nullptr);
  if (pm) {
    wind = take("wind_speed");
    for (int k = 1; k <= layer_count; ++k) {
      const auto kk = static_cast<size_t>(k);
      leaf_area_index[kk] = take(layered("leaf_area_index", k));
      root_depth[kk] = take(layered("root_depth", k));
      coverage[kk] = take(layered("vegetation_coverage_degree", k));
      canopy_resistance[kk] = take(layered("SurfaceCanopyResistance", k));
      interception_resistance[kk] = take(layered("SurfaceIntercepResistance", k));
      roughness[kk] = take(layered("RoughnessLength", k));
    }
    evaporation_resistance = take("SurfaceEvaporationResistance");
  }
  if (radiation_method) albedo = take("albedo");
  night_temperature = temperature;
  if (pm && time_interval > NIGHT_GRID_MIN_INTERVAL)
    night_temperature = (*store)[require_grid("temperature_night")].grid;
  if ((input_mask & BIT_RADIATION) != 0) radiation = (*store)[require_grid(radiation_name)].grid;
  if ((input_mask & BIT_SUNSHINE) != 0) sunshine = take("sunshine_duration");
  if ((input_mask & BIT_VAPOR) != 0)
    vapor_pressure = take(method == 4 ? "vapor_pressure_14" : "vapor_pressure");
  if ((input_mask & BIT_HUMIDITY) != 0)
    humidity = take(method == 4 ? "air_humidity_14" : "air_humidity");
  if ((input_mask & BIT_PRESSURE) != 0) air_pressure = take("air_pressure");
  glacier = take_if_present("GlacierizedCells");
  if (glacier == nullptr) glacier = take_if_present("ice_firn");
}

bool verdunstungsmodellklasse::own_cell(int row, int col) const {
  if ((*zone_grid)[row][col] == nodata) return false;
  return mpi_regions == nullptr || static_cast<int>((*mpi_regions)[row][col]) == rank;
}

bool verdunstungsmodellklasse::follower(int row, int col) const {
  return hru_masters != nullptr && (*hru_masters)[row][col] == nodata;
}

bool verdunstungsmodellklasse::lake_cell(int row, int col) const {
  return lake_codes != nullptr && ponding != nullptr && (*lake_codes)[row][col] > 0 &&
         (*ponding)[row][col] > 0;
}

int verdunstungsmodellklasse::zone_of(int row, int col) const {
  int code = 0;
  zone_code_of((*zone_grid)[row][col], code);
  return (*zone_index)[static_cast<size_t>(code)];
}

grid_matrix verdunstungsmodellklasse::new_owned_grid(int first, int last, double own_value) {
  grid_matrix grid = matrix(first, last, 0, ncols, nrows);
  for (int r = first; r <= last; ++r)
    for (int c = 0; c <= ncols; ++c)
      grid[r][c] = c >= 1 && r >= first_row && r <= last_row && own_cell(r, c) ? own_value : nodata;
  return grid;
}

int verdunstungsmodellklasse::next_store_index(int from, const char* message, const char* end) {
  const int index = store->first_free(from);
  if (index >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, message, GRID_STORE_FULL, end);
  return index;
}

std::unique_ptr<zonalstatistic> verdunstungsmodellklasse::make_statistic(
    std::vector<zone_record>& zone_copy, const std::string& file, int code, int precision,
    const std::string& header, const std::string& submodel) {
  zone_copy.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
  for (int z = 0; z <= zone_count; ++z) {
    zone_copy[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
    zone_copy[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
  }
  int status = 0;
  std::string file_name = file;
  auto statistic = std::make_unique<zonalstatistic>(
      status, diag, registry, registry_size, rel_cell_area, nrows, ncols, zone_copy.data(),
      zone_count, code, precision, file_name, output_directory, selected_zone_count,
      &selected_zones);
  if (status != 0) throw status;
  statistic->write_header(header, submodel, registry, registry_size);
  return statistic;
}

void verdunstungsmodellklasse::register_grids() {
  const auto L = static_cast<size_t>(layer_count);
  for (auto* grids : {&pot_transpiration, &real_transpiration, &pot_interception})
    grids->resize(L + 1);
  for (auto* indices : {&pot_index, &real_index, &eip_index}) indices->assign(L + 1, 0);
  layer_stats.resize(L + 1);
  layer_stat_zones.resize(L + 1);
  const auto code_of = [](int write_code) {
    return static_cast<unsigned>(std::max(write_code, 0));
  };
  const int real_first = rank == 0 ? 1 : first_row;
  const int real_last = rank == 0 ? nrows : last_row;
  layer_files files = layer0;
  int index = next_store_index(1, "no free grid left of ", "!\n");
  for (int k = 0; k <= layer_count; ++k) {
    const auto kk = static_cast<size_t>(k);
    pot_index[kk] = index;
    pot_transpiration[kk] = new_owned_grid(first_row, last_row, 0);
    register_grid(index, files.pot_grid, &pot_transpiration[kk], nullptr, 0,
                  layered("pot_transpiration", k), code_of(pot_write), first_row, last_row);
    layer_stats[kk][STAT_POT] =
        make_statistic(layer_stat_zones[kk][STAT_POT], files.pot_stat, pot_stat_code, STAT_DECIMALS,
                       layered("pot_transpiration", k) + method_tag(method), name);
    index = next_store_index(index + 1, "no free grid left of ", "!\n");
    real_index[kk] = index;
    real_transpiration[kk] = new_owned_grid(real_first, real_last, 0);
    register_grid(index, files.real_grid, &real_transpiration[kk], nullptr, 0,
                  layered("real_transpiration", k), code_of(real_write), real_first, real_last);
    layer_stats[kk][STAT_REAL] = make_statistic(
        layer_stat_zones[kk][STAT_REAL], files.real_stat, real_stat_code, STAT_DECIMALS,
        k == 0 ? "total_Evapotranspiration_as_sum_of_ETR1..n_EI1..n_EVAR_and_EVRS_"
               : layered("real_transpiration", k),
        name);
    index = next_store_index(index + 1, "no free ghrid left of ", "!\n");
    eip_index[kk] = index;
    pot_interception[kk] = new_owned_grid(first_row, last_row, 0);
    register_grid(index, files.eip_grid, &pot_interception[kk], nullptr, 0,
                  layered("potential_InterceptionEvap", k), code_of(eip_write), first_row,
                  last_row);
    layer_stats[kk][STAT_EIP] =
        make_statistic(layer_stat_zones[kk][STAT_EIP], files.eip_stat, eip_stat_code, STAT_DECIMALS,
                       layered("potential_InterceptionEvap", k), name);
    files = layer_files{
        layer_file_name(layer0.pot_grid, k + 1),  layer_file_name(layer0.pot_stat, k + 1),
        layer_file_name(layer0.real_grid, k + 1), layer_file_name(layer0.real_stat, k + 1),
        layer_file_name(layer0.eip_grid, k + 1),  layer_file_name(layer0.eip_stat, k + 1)};
    if (k < layer_count) index = next_store_index(index + 1, "no free grid left", "");
  }
  struct single {
    grid_matrix* grid;
    int* index;
    const std::string& file;
    const char* grid_name;
    int write_code;
    double start;
  };
  const std::string radiation_file = "correctedradiation", cloud_file = "cloudiness",
                    ssd_file = "SSDTemp";
  const single singles[] = {
      {&potential_evaporation, &evap_index, evap_grid, "potential_evaporation", evap_write, 0},
      {&real_evaporation, &real_evap_index, real_evap_grid, "real_evaporation", real_evap_write, 0},
      {&snow_evaporation, &snow_evap_index, snow_evap_grid, "snow_evaporation", snow_evap_write, 0},
      {&corrected_radiation, &radiation_index, radiation_file, "AspectCorrectedGlobalRadiation", 0,
       0},
      {&cloudiness, &cloudiness_index, cloud_file, "cloudiness", 0, 0},
      {&ssd_temp, &ssd_index, ssd_file, "SSDTemp", 0, SSD_START}};
  for (const single& s : singles) {
    // register_grid reports an index past 999 itself.
    *s.index = store->first_free(index + 1);
    index = *s.index;
    *s.grid = new_owned_grid(first_row, last_row, s.start);
    register_grid(index, s.file, s.grid, nullptr, 0, s.grid_name, code_of(s.write_code), first_row,
                  last_row);
  }
  evap_statistic = make_statistic(single_stat_zones[0], evap_stat, evap_stat_code, STAT_DECIMALS,
                                  "potential_evaporation", "");
  real_evap_statistic = make_statistic(single_stat_zones[1], real_evap_stat, real_evap_stat_code,
                                       STAT_DECIMALS, "real_evaporation", "");
  snow_evap_statistic = make_statistic(single_stat_zones[2], snow_evap_stat, snow_evap_stat_code,
                                       STAT_DECIMALS, "snow_evaporation", "");
  radiation_statistic =
      make_statistic(single_stat_zones[3], radiation_stat, radiation_stat_code, RADIATION_DECIMALS,
                     "Global_Radiation_corrected_by_Exposition_", name);
  cloudiness_statistic = make_statistic(single_stat_zones[4], cloudiness_stat, cloudiness_stat_code,
                                        RADIATION_DECIMALS, "cloudiness", name);
}

void verdunstungsmodellklasse::check_followers() const {
  hru_follower_frame frame;
  frame.zone = zone_grid;
  frame.regions = mpi_regions;
  frame.units = hru_units;
  frame.masters = hru_masters;
  frame.strips = strips;
  frame.list = settings().hru_list;
  frame.first_row = first_row;
  frame.last_row = last_row;
  frame.ncols = ncols;
  frame.rank = rank;
  frame.nodata = nodata;
  static const std::vector<hru_entry> no_units(1);
  if (frame.list == nullptr) frame.list = &no_units;
  check_hru_followers(*diag, frame, name);
}

void verdunstungsmodellklasse::flush_outputs() {
  if (flow_control == 0) return;
  for (auto& layer : layer_stats)
    for (int slot : {STAT_POT, STAT_EIP, STAT_REAL})
      if (layer[static_cast<size_t>(slot)]) layer[static_cast<size_t>(slot)]->write_rows();
  for (auto* s : {&radiation_statistic, &cloudiness_statistic, &real_evap_statistic,
                  &evap_statistic, &snow_evap_statistic})
    if (*s) (*s)->write_rows();
}

void verdunstungsmodellklasse::release() {
  if (flow_control >= 1) {
    for (auto& layer : layer_stats)
      for (auto& s : layer)
        if (s) s->release();
    for (auto* s : {&radiation_statistic, &cloudiness_statistic, &real_evap_statistic,
                    &evap_statistic, &snow_evap_statistic})
      if (*s) (*s)->release();
    layer_stats.clear();
    radiation_statistic.reset();
    cloudiness_statistic.reset();
    real_evap_statistic.reset();
    evap_statistic.reset();
    snow_evap_statistic.reset();
    for (auto* indices : {&pot_index, &real_index, &eip_index})
      for (int& i : *indices)
        if (i > 0) free_grid_entry(i);
    for (int* i : {&evap_index, &real_evap_index, &snow_evap_index, &radiation_index,
                   &cloudiness_index, &ssd_index})
      if (*i > 0) free_grid_entry(*i);
    pot_index.clear();
    real_index.clear();
    eip_index.clear();
    evap_index = real_evap_index = snow_evap_index = radiation_index = cloudiness_index =
        ssd_index = 0;
    pot_transpiration.clear();
    real_transpiration.clear();
    pot_interception.clear();
    for (auto* g : {&potential_evaporation, &real_evaporation, &snow_evaporation,
                    &corrected_radiation, &cloudiness, &ssd_temp})
      *g = grid_matrix();
    zenith_cosines.clear();
  }
  teilmodellklasse::release();
}
