// The soil-column step of the unsaturated zone over one call: every own
// cell of the process that is not fully glacierized (and, with hydrologic
// response units, every unit master) runs its column (soilcolumn_step.h)
// on the threads of a static schedule over the process's rows, each thread
// with its own work arrays; the cell's inputs are read from the grids and
// its results written back to its own grid and stack elements. The river
// take is the one value shared between cells; its limit and its booking
// are exclusive. An error of any cell stops the threads from taking more
// cells and is thrown after the loop. Tracers move with the water: their
// stores are the cell's tracer stacks, their direct-flow and lateral-flow
// values of the call go to "_CONC_QD_" and "_CONC_QI_" (masses of a
// non-evaporating tracer, concentrations of an evaporating one).
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/soilcolumn_step.h"
#include "soilwater/unsatzon.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

namespace {

constexpr double MM_PER_M = 1000.0;

// The links of the module's or other modules' grids the step reads.
const grid_matrix* optional_grid(const std::map<std::string, const grid_matrix*>& links,
                                 const std::string& name) {
  const auto i = links.find(name);
  return i == links.end() ? nullptr : i->second;
}

// Buffer order of the control-cell files (create_control_cell_outputs).
enum class cell_buffer { hhyd, otherdata, theta, q_bottom, etr, interflow };

struct iteration_log_context {
  int row = 0, col = 0;
  int64_t hour = 0, day = 0, month = 0;
  bool write = false;  // process 0
  DiagStream* diag = nullptr;
};

// Appends the line of a water sub-step that needed more than 100 passes to
// the log of process 0; a log that cannot be opened ends the run (code 5).
void log_long_iteration(void* context, int passes, double change) {
  const auto* c = static_cast<const iteration_log_context*>(context);
  if (!c->write) return;
  char line[160];
  std::snprintf(line, sizeof line, "%2d.%2d., %2d h r=%3d, c=%3d : ziter=%3d, max_err = %lg \n",
                static_cast<int>(c->day), static_cast<int>(c->month), static_cast<int>(c->hour),
                c->row, c->col, passes, change);
  const char* name = "modell_0.log";
  bool opened = false;
#pragma omp critical(velmo_model_log)
  {
    std::FILE* f = std::fopen(name, "a");
    if (f != nullptr) {
      std::fputs(line, f);
      std::fclose(f);
      opened = true;
    }
  }
  if (opened) return;
  int code = 0;
#pragma omp critical(velmo_diag)
  try {
    fail_fatal(*c->diag, 5, "error opening log-file ", name);
  } catch (int e) {
    code = e;
  }
  throw code;
}

}  // namespace

// Grids of one call, by role; null where the grid does not exist.
struct column_step_links {
  grid_matrix *q_grid = nullptr, *q_ext = nullptr;
  stack_matrix *theta = nullptr, *heads = nullptr, *q_down = nullptr;
  const stack_matrix* geodetic = nullptr;
  grid_matrix *distance = nullptr, *level = nullptr, *theta_gw = nullptr, *baseflow = nullptr;
  grid_matrix *pond = nullptr, *directflow = nullptr, *interflow = nullptr;
  grid_matrix *recharge = nullptr, *percolation = nullptr, *uprise = nullptr;
  grid_matrix *drainage_flow = nullptr, *river_in = nullptr, *river_out = nullptr;
  grid_matrix *macropore = nullptr, *irrigation = nullptr, *excess = nullptr;
  grid_matrix *infiltration = nullptr, *substeps = nullptr, *sb1 = nullptr, *mean_root = nullptr;
  grid_matrix *sb2 = nullptr, *root = nullptr, *etr2etp = nullptr;
  grid_matrix* storage_coefficient = nullptr;
  const grid_matrix *sbhigh = nullptr, *tangens_beta = nullptr, *drainage_level = nullptr;
  grid_matrix* real_evaporation = nullptr;
  const grid_matrix *soil_types = nullptr, *input = nullptr, *potential_evaporation = nullptr;
  const grid_matrix *silting = nullptr, *snow = nullptr, *pond_max = nullptr, *lake = nullptr;
  const grid_matrix *clay = nullptr, *drainage_distance = nullptr, *master = nullptr;
  const grid_matrix *river_depth = nullptr, *river_width = nullptr, *river_links = nullptr;
  const grid_matrix* kolmation = nullptr;
  std::vector<const grid_matrix*> landuse, coverage, root_depth, potential;  // 1..V (0 unused)
  std::vector<grid_matrix*> real_transpiration;                                // 0..V
  // Control-cell values of the other-data file.
  std::vector<const grid_matrix*> other_data;  // albedo, SurfaceEvaporationResistance
  std::vector<std::vector<const grid_matrix*>> layer_data;  // per vegetation layer, six grids
  // Per tracer 1..T (0 unused): stores, input and silting-up concentrations,
  // the first aquifer layer's concentration, the runoff values of the call.
  std::vector<stack_matrix*> tracer_store;
  std::vector<const grid_matrix*> tracer_input, tracer_silting;
  std::vector<grid_matrix*> tracer_aquifer, conc_direct, conc_lateral;
  const grid_matrix* aquifer_thickness = nullptr;
  // Heat transfer: temperatures, boundaries, frozen-soil results and the
  // conductivity factors of every soil type [type][layer].
  stack_matrix* temperature = nullptr;
  const grid_matrix *air = nullptr, *lower = nullptr, *lower_flux = nullptr;
  grid_matrix *thaw = nullptr, *frozen = nullptr;
  std::vector<std::vector<ConductivityFactors>> conductivity;
  // The process's dump counter, shared by its threads.
  DumpControl dump;
};

void unsatzonmodellklasse::link_column_step() {
  auto l = std::make_shared<column_step_links>();
  auto mine = [this](const char* n) -> grid_matrix* {
    const auto i = own.find(n);
    return i == own.end() || i->second.grid.empty() ? nullptr : &i->second.grid;
  };
  auto mine_stack = [this](const char* n) -> stack_matrix* {
    const auto i = own.find(n);
    return i == own.end() ? nullptr : &i->second.stack;
  };
  auto stored = [this](const std::string& n) -> const grid_matrix* {
    const auto i = links.find(n);
    if (i != links.end() && i->second != nullptr) return i->second;
    const int index = find_grid(n);
    return index > 0 ? (*store)[index].grid : nullptr;
  };
  l->theta = mine_stack("theta");
  l->heads = mine_stack("hydraulic_heads");
  l->q_down = mine_stack("q_down");
  l->geodetic = mine_stack("geodetic_heads");
  l->q_grid = mine("q_down");
  l->q_ext = mine("q_downext");
  l->distance = mine("groundwater_distance");
  l->level = mine("groundwater_level");
  l->theta_gw = mine("Theta_in_GWLEVEL");
  l->baseflow = mine("baseflow");
  l->pond = mine("ponding_storage");
  l->directflow = mine("directflow");
  l->interflow = mine("interflow");
  l->recharge = mine("groundwater_recharge");
  l->percolation = mine("Percolation");
  l->uprise = mine("Capillar_Uprise");
  l->drainage_flow = mine("drainage_flow");
  l->river_in = mine("river_infiltration");
  l->river_out = mine("river_exfiltration");
  l->macropore = mine("macropore_infiltration");
  l->irrigation = mine("irrigation_amounts");
  l->excess = mine("infiltration_excess");
  l->infiltration = mine("total_infiltration");
  l->substeps = mine("number_of_substeps");
  l->sb1 = mine("SB_1_grid");
  l->mean_root = mine("MeanThetaInRootZone");
  l->sb2 = mine("SB_2_grid");
  l->root = mine("ROOTgrid");
  l->sbhigh = mine("SBHIGH_grid");
  l->tangens_beta = mine("tangens_beta");
  l->drainage_level = mine("drainage_level");
  if (modelobject::settings().irrigation_table != nullptr && etr2etp_index != 0)
    l->etr2etp = (*store)[std::abs(etr2etp_index)].grid;
  const int coefficient = find_grid("gw_storage_coeff_1");
  if (coefficient > 0) l->storage_coefficient = (*store)[coefficient].grid;
  l->real_evaporation = const_cast<grid_matrix*>(stored("real_evaporation"));
  l->soil_types = stored("soil_types");
  l->input = input_grid_index > 0 ? (*store)[input_grid_index].grid : nullptr;
  l->potential_evaporation = stored("potential_evaporation");
  l->silting = silting_up_storage_linked ? optional_grid(links, "SurfStorSiltingUp")
                                         : optional_grid(links, "DirectRunoffSiltingUp");
  l->snow = optional_grid(links, "snowstorage_solid");
  if (params.pond_switch == 1) l->pond_max = stored("max_ponding_storage");
  l->lake = lake_codes;
  if (params.clay_switch == 1) l->clay = stored("clay_depth");
  if (params.drainage_switch == 1) l->drainage_distance = stored("drainage_distance");
  l->master = optional_grid(links, "MasterHydrologicResponseUnits");
  if (groundwater_flag == 1 && params.surface_interaction != 0) {
    l->river_depth = stored("river_depth");
    l->river_width = stored("river_width");
    l->river_links = stored("river_links");
    l->kolmation = stored("kolmation");
  }
  const size_t v = static_cast<size_t>(vegetation_layers);
  l->landuse.assign(v + 1, nullptr);
  l->coverage.assign(v + 1, nullptr);
  l->root_depth.assign(v + 1, nullptr);
  l->potential.assign(v + 1, nullptr);
  l->real_transpiration.assign(v + 1, nullptr);
  for (size_t k = 0; k <= v; ++k) {
    const std::string i = std::to_string(k);
    l->potential[k] = stored("pot_transpiration" + i);
    l->real_transpiration[k] = const_cast<grid_matrix*>(stored("real_transpiration" + i));
    if (k == 0) continue;
    l->landuse[k] = stored("landuse" + i);
    l->coverage[k] = stored("vegetation_coverage_degree" + i);
    l->root_depth[k] = stored("root_depth" + i);
  }
  l->other_data = {stored("albedo"), stored("SurfaceEvaporationResistance")};
  l->layer_data.assign(v + 1, {});
  for (size_t k = 1; k <= v; ++k) {
    const std::string i = std::to_string(k);
    for (const char* n : {"leaf_area_index", "vegetation_coverage_degree",
                          "SurfaceCanopyResistance", "SurfaceIntercepResistance", "root_depth",
                          "RoughnessLength"})
      l->layer_data[k].push_back(stored(n + i));
  }
  const size_t tracer_total = static_cast<size_t>(std::max(tracer_count, 0));
  l->tracer_store.assign(tracer_total + 1, nullptr);
  l->tracer_input.assign(tracer_total + 1, nullptr);
  l->tracer_silting.assign(tracer_total + 1, nullptr);
  l->tracer_aquifer.assign(tracer_total + 1, nullptr);
  l->conc_direct.assign(tracer_total + 1, nullptr);
  l->conc_lateral.assign(tracer_total + 1, nullptr);
  for (size_t t = 1; t <= tracer_total; ++t) {
    const std::string i = std::to_string(t);
    l->tracer_store[t] = mine_stack(("concstor_tracer_" + i + "_" + name).c_str());
    l->tracer_input[t] = optional_grid(links, "tracer_input_" + i);
    l->tracer_silting[t] = optional_grid(links, "tracer_silting_" + i);
    if (groundwater_flag == 1)
      l->tracer_aquifer[t] = const_cast<grid_matrix*>(
          stored("concstor_tracer_" + i + "_layer_1_groundwater_flow"));
    l->conc_direct[t] = mine(("_CONC_QD_" + i + "_").c_str());
    l->conc_lateral[t] = mine(("_CONC_QI_" + i + "_").c_str());
  }
  if (groundwater_flag == 1) l->aquifer_thickness = stored("aquifer_thickness_1");
  if (params.heat_flow_control > 0) {
    l->temperature = mine_stack("Soil_Temperature_Stack");
    l->air = stored("temperature");
    l->lower = stored("T_Lower_Boundary_Condition");
    if (heat_flux_lower_boundary) l->lower_flux = stored("HeatFlux_Lower_Boundary_Condition");
    l->thaw = mine("ThawDepthTMod");
    l->frozen = mine("frozenSoilInGroundwater");
    l->conductivity =
        conductivity_factor_table(*modelobject::settings().soil_table, params.dTModLamWat);
  }
  step_links = std::move(l);
}

void unsatzonmodellklasse::soil_column_step(int64_t hour, int64_t day, int64_t month,
                                            int64_t year) {
  if (flow_control == 0) return;
  if (!step_links) link_column_step();
  column_step_links& g = *step_links;
  const soil_table_t& soils = *modelobject::settings().soil_table;
  const std::vector<landuse_entry>* landuses = modelobject::settings().landuse_table;
  const int n = layer_count;
  const int veg = vegetation_layers;
  const bool hru = g.master != nullptr;
  const bool groundwater = groundwater_flag == 1;

  ColumnStepSettings s;
  s.layers = n;
  s.method = params.method;
  s.min_step = params.dParameterMinStep;
  s.max_error = params.max_error;
  s.max_iterations = params.max_iterations;
  s.calls_per_step = std::max(substeps, 1);
  s.call_seconds = time_interval * 60 / s.calls_per_step;
  s.step_seconds = time_interval * 60;
  s.surface_interaction = params.surface_interaction;
  s.groundwater_model = groundwater;
  s.external_table = external_gw_table_applied;
  s.lake_switch = lake_switch;
  s.silting_storage = silting_up_storage_linked;
  s.vegetation_layers = veg;
  const bool first_call = first_column_step;
  first_column_step = false;
  // The tracers of the call; a tracer without its store is not moved.
  int moved_tracers = 0;
  std::vector<SoluteTracer> solute_tracers;
  for (int t = 1; t <= tracer_count && tracer_list != nullptr; ++t) {
    if (g.tracer_store[static_cast<size_t>(t)] == nullptr) break;
    const tracer_entry& e = tracer_list[t];
    solute_tracers.push_back(
        SoluteTracer{e.radioactive == 1, e.evaporating == 1, e.max_conc, get_decay_factor(t)});
    ++moved_tracers;
  }
  s.tracer_count = moved_tracers;
  s.tracers = solute_tracers.data();
  HeatSettings heat;
  heat.method = params.heat_method;
  heat.lambda_water = params.dTModLamWat;
  heat.lambda_ice = params.dTModLamIce;
  heat.c_water = params.dTModCWater;
  heat.c_ice20 = params.dTModCIce20;
  heat.c_ice0 = params.dTModCIce0;
  heat.latent = params.dTModLatHeat;
  heat.rho_water = params.dTModRhoWater;
  heat.frozen_share = params.dTModSEForStat;
  heat.shortest = params.dTModShortestStep;
  heat.longest = params.dTModLongestStep;
  heat.nf_freezing = params.dTModNFactorFreezing;
  heat.nf_thawing = params.dTModNFactorThawing;
  s.heat = g.temperature != nullptr && g.air != nullptr && g.lower != nullptr;
  s.heat_settings = &heat;
  g.dump.dumpmode = dumpmode;
  g.dump.close_after_dump = close_after_dump;
  g.dump.repair_after_dump = repair_after_dump;
  g.dump.max_files = max_dump_files;
  g.dump.diag = diag;
  s.dump = &g.dump;

  auto value = [](const grid_matrix* m, int r, int c, double fallback) {
    return m != nullptr && (*m)[r] != nullptr ? (*m)[r][c] : fallback;
  };
  auto add = [](grid_matrix* m, int r, int c, double v) {
    if (m != nullptr && (*m)[r] != nullptr) (*m)[r][c] += v;
  };
  auto set = [](grid_matrix* m, int r, int c, double v) {
    if (m != nullptr && (*m)[r] != nullptr) (*m)[r][c] = v;
  };

  std::atomic<int> failure{0};
  const int control_r = params.control_row, control_c = params.control_column;
#pragma omp parallel
  {
    ColumnWork work(n, veg, moved_tracers);
    std::vector<VegetationInput> vegetation(static_cast<size_t>(veg) + 1);
    std::vector<TracerInput> tracer_in(static_cast<size_t>(moved_tracers));
    std::vector<double*> tracer_stores(static_cast<size_t>(moved_tracers));
    std::vector<double> aquifer(static_cast<size_t>(moved_tracers));
    double river_tracers[10] = {};  // [1..9] of infiltrating river water
    std::vector<double> landuse_codes(static_cast<size_t>(veg) + 1);
#pragma omp for schedule(static)
    for (int r = first_row; r <= last_row; ++r) {
      if (failure.load() != 0 || strips == nullptr || r >= static_cast<int>(strips->size()))
        continue;
      const row_strip& strip = (*strips)[static_cast<size_t>(r)];
      for (int c = std::max(strip.first, 1); c <= strip.last && failure.load() == 0; ++c) {
        try {
          const bool owned = own_cell(r, c);
          const double fraction =
              glacier_fraction != nullptr ? std::clamp((*glacier_fraction)[r][c], 0.0, 1.0) : 0.0;
          const bool master = !hru || (*g.master)[r][c] != nodata;
          if (owned && master) {
            // "irrigation_amounts" is the irrigation module's: it holds the
            // step's irrigation (pumped groundwater the base flow gives up)
            // and a running irrigation's state, so the column keeps it.
            grid_matrix* zero_first[] = {g.directflow, g.interflow,  g.recharge,  g.percolation,
                                         g.uprise,     g.drainage_flow, g.river_in, g.river_out,
                                         g.macropore,  g.excess,    g.infiltration};
            for (grid_matrix* m : zero_first) set(m, r, c, 0);
            if (fraction >= 1) {
              for (int k = 0; k <= veg; ++k) set(g.real_transpiration[static_cast<size_t>(k)], r, c, 0);
              set(g.real_evaporation, r, c, 0);
              if (g.pond_max != nullptr) set(g.pond, r, c, 0);
              if (params.method == 3) set(g.substeps, r, c, 0);
              set(g.baseflow, r, c, 0);
              for (int t = 1; t <= moved_tracers; ++t) {
                set(g.conc_direct[static_cast<size_t>(t)], r, c, 0);
                set(g.conc_lateral[static_cast<size_t>(t)], r, c, 0);
              }
            } else {
              const soil_entry& soil = soils[static_cast<size_t>((*g.soil_types)[r][c])];
              const double code = (*zone_grid)[r][c];
              const size_t sub = static_cast<size_t>(own_zone_index[static_cast<size_t>(code)]);
              ColumnInput in;
              in.soil = &soil;
              in.z = (*g.geodetic)[r][c];
              in.water_input = value(g.input, r, c, 0);
              in.potential_evaporation = value(g.potential_evaporation, r, c, 0);
              in.silting = value(g.silting, r, c, 0);
              in.snow_solid = value(g.snow, r, c, 0);
              in.snow_fraction = params.subbasins.SnowRunoff_fraction[sub];
              in.pond_max = value(g.pond_max, r, c, 0);
              in.pond = g.pond_max != nullptr && in.pond_max > 0 && g.pond != nullptr;
              in.lake_cell = g.lake != nullptr && (*g.lake)[r][c] != nodata;
              in.q0 = params.subbasins.Q0[sub];
              in.kelsqlat = params.subbasins.kelsqlat[sub];
              in.fixed_baseflow = (*g.baseflow)[r][c];
              in.drainage_density = params.subbasins.drainage_density[sub];
              in.tangens_beta = value(g.tangens_beta, r, c, 0);
              in.clay_depth = value(g.clay, r, c, 0);
              in.k_sat_clay = params.k_sat_clay;
              in.tile_drainage = g.drainage_distance != nullptr;
              in.drainage_level = static_cast<int>(value(g.drainage_level, r, c, 0));
              in.drainage_distance = value(g.drainage_distance, r, c, 0);
              const double thaw = value(permafrost_thaw_depth, r, c, nodata);
              in.permafrost = permafrost_thaw_depth != nullptr && thaw > nodata;
              in.thaw_depth = thaw;
              in.reduced_k_sat = params.reduced_k_sat;
              in.table_from_state = first_call;
              RiverTake take;
              in.river.cellsize = cellsize;
              if (g.river_depth != nullptr) {
                in.river.depth = (*g.river_depth)[r][c];
                in.river.width = (*g.river_width)[r][c];
                in.river.kolmation = (*g.kolmation)[r][c];
                in.river.excluded =
                    lake_switch > 1 || (lake_switch == 1 && in.lake_cell &&
                                        value(g.pond, r, c, 0) >= 1.0);
                const double link = (*g.river_links)[r][c];
                if (params.surface_interaction >= 2 && link > 0) {
                  const int link_code = static_cast<int>(link);
                  const int index =
                      link_code >= 1 && link_code <= own_max_zone_code &&
                              static_cast<size_t>(link_code) < own_zone_index.size()
                          ? own_zone_index[static_cast<size_t>(link_code)]
                          : 0;
                  if (index < 1 || index > own_max_zone_code ||
                      static_cast<size_t>(index) >= riverflow.size()) {
                    int code_thrown = 0;
#pragma omp critical(velmo_diag)
                    try {
                      fail_fatal(*diag, 199,
                                 "\n\n -------- error! ---------------------------------------------\n\nThere is a river link \"",
                                 link_code,
                                 "\" from the river link grid\nwhich is not valid for the current routing structure -> there is no routing \ndescription for a river with code ",
                                 link_code, "\n",
                                 "Please check your River link grid if there are cells defined as routing link ",
                                 link_code,
                                 " and replace those values by nodata (-9999).\n",
                                 "-------------------------------------------------------------\n\n");
                    } catch (int e) {
                      code_thrown = e;
                    }
                    throw code_thrown;
                  }
                  take.record = &riverflow[static_cast<size_t>(index)];
                  in.river.take = &take;
                }
              }
              for (int k = 1; k <= veg; ++k) {
                const size_t kk = static_cast<size_t>(k);
                VegetationInput& v = vegetation[kk];
                const double use = value(g.landuse[kk], r, c, nodata);
                v.landuse = use > nodata && landuses != nullptr &&
                                    static_cast<size_t>(use) < landuses->size()
                                ? &(*landuses)[static_cast<size_t>(use)]
                                : nullptr;
                v.potential = value(g.potential[kk], r, c, 0);
                v.coverage = value(g.coverage[kk], r, c, 0);
                v.root_depth = value(g.root_depth[kk], r, c, 0);
              }
              in.vegetation = vegetation.data();
              const int soil_type = static_cast<int>((*g.soil_types)[r][c]);
              HeatColumnInput heat_in;
              if (s.heat) {
                heat_in.factors = g.conductivity[static_cast<size_t>(soil_type)].data();
                heat_in.t_air = (*g.air)[r][c];
                heat_in.t_lower = (*g.lower)[r][c];
                heat_in.flux_boundary = g.lower_flux != nullptr;
                heat_in.lower_flux = value(g.lower_flux, r, c, 0);
                heat_in.solid_snow = in.snow_solid > 0;
                heat_in.n_factor =
                    surface_n_factor(veg >= 1 ? vegetation[1].landuse : nullptr, heat,
                                     static_cast<int>(day), static_cast<int>(month),
                                     static_cast<int>(year), heat_in.t_air);
                in.heat = &heat_in;
              }
              // What a dump file names of the cell; only dumps read it.
              DumpCell dump_cell;
              if (g.dump.dumpmode) {
                for (int k = 1; k <= veg; ++k)
                  landuse_codes[static_cast<size_t>(k)] =
                      value(g.landuse[static_cast<size_t>(k)], r, c, nodata);
                dump_cell = DumpCell{r,
                                     c,
                                     soil_type,
                                     landuse_codes.data(),
                                     static_cast<int>(hour),
                                     static_cast<int>(day),
                                     static_cast<int>(month),
                                     static_cast<int>(year)};
                in.dump_cell = &dump_cell;
              }
              iteration_log_context log{r, c, hour, day, month, rank == 0, diag};
              in.long_iteration = log_long_iteration;
              in.long_iteration_context = &log;

              const bool with_aquifer = groundwater && moved_tracers > 0 &&
                                        g.tracer_aquifer[1] != nullptr;
              for (int t = 1; t <= moved_tracers; ++t) {
                const size_t ti = static_cast<size_t>(t);
                TracerInput& ti_in = tracer_in[ti - 1];
                ti_in.input = value(g.tracer_input[ti], r, c, 0);
                ti_in.has_silting = g.tracer_silting[ti] != nullptr;
                ti_in.silting = value(g.tracer_silting[ti], r, c, 0);
                tracer_stores[ti - 1] = (*g.tracer_store[ti])[r][c];
                if (with_aquifer) aquifer[ti - 1] = value(g.tracer_aquifer[ti], r, c, 0);
              }
              in.tracer = tracer_in.data();
              std::fill(std::begin(river_tracers), std::end(river_tracers), 0.0);
              in.river.tracer_count = moved_tracers;
              in.river.infiltration_tracers = river_tracers;
              in.aquifer_thickness = value(g.aquifer_thickness, r, c, 0);

              ColumnState state;
              state.tracer = tracer_stores.data();
              state.aquifer = with_aquifer ? aquifer.data() : nullptr;
              state.theta = (*g.theta)[r][c];
              state.h = (*g.heads)[r][c];
              state.q = (*g.q_down)[r][c];
              state.groundwater_distance = (*g.distance)[r][c];
              state.groundwater_level = (*g.level)[r][c];
              state.theta_gw = (*g.theta_gw)[r][c];
              state.pond = value(g.pond, r, c, 0);
              if (s.heat) state.temperature = (*g.temperature)[r][c];

              const ColumnResult res = soil_column_cell_step(s, in, state, work);

              (*g.distance)[r][c] = state.groundwater_distance;
              (*g.level)[r][c] = state.groundwater_level;
              (*g.theta_gw)[r][c] = state.theta_gw;
              if (in.pond) set(g.pond, r, c, state.pond);
              set(g.directflow, r, c, res.directflow);
              set(g.interflow, r, c, res.interflow);
              set(g.recharge, r, c, res.recharge);
              set(g.percolation, r, c, res.percolation);
              set(g.uprise, r, c, res.uprise);
              set(g.drainage_flow, r, c, res.drainage);
              if (groundwater) {
                set(g.river_in, r, c, res.river_in);
                set(g.river_out, r, c, res.river_out);
              }
              set(g.macropore, r, c, res.macropore);
              set(g.excess, r, c, res.excess);
              set(g.infiltration, r, c, res.infiltration);
              for (int k = 0; k <= veg; ++k)
                add(g.real_transpiration[static_cast<size_t>(k)], r, c,
                    work.transpiration[static_cast<size_t>(k)]);
              add(g.real_evaporation, r, c, res.evaporation);
              if (params.method == 3) set(g.substeps, r, c, res.substeps);
              set(g.sb1, r, c, res.sb1);
              set(g.mean_root, r, c, res.has_root_suction ? res.mean_suction_root : nodata);
              set(g.sb2, r, c, res.sb2);
              set(g.root, r, c, res.root);
              set(g.storage_coefficient, r, c, res.storage_coefficient);
              (*g.baseflow)[r][c] = res.baseflow;
              if (s.heat) {
                set(g.thaw, r, c, res.thaw_depth);
                if (groundwater) set(g.frozen, r, c, res.frozen_below_table);
              }
              for (int t = 1; t <= moved_tracers; ++t) {
                const size_t ti = static_cast<size_t>(t);
                set(g.conc_direct[ti], r, c, work.tracer_direct[ti - 1]);
                set(g.conc_lateral[ti], r, c, work.tracer_lateral[ti - 1]);
                if (with_aquifer) set(g.tracer_aquifer[ti], r, c, aquifer[ti - 1]);
              }
              if (g.etr2etp != nullptr) {
                double actual = 0, potential = 0;
                for (int k = 1; k <= veg; ++k) {
                  actual += work.transpiration[static_cast<size_t>(k)];
                  potential += vegetation[static_cast<size_t>(k)].potential / s.calls_per_step;
                }
                const bool stressed = res.sb1 < value(g.sbhigh, r, c, 0) && veg >= 1 && potential > 0;
                (*g.etr2etp)[r][c] = stressed ? actual / potential : 1.0;
              }
              if (!hru && r == control_r && c == control_c && !cell_buffers.empty()) {
                auto append = [&](cell_buffer which, auto fill) {
                  control_cell_buffer& b = cell_buffers[static_cast<size_t>(which)];
                  if (b.fill >= b.capacity) return;
                  ++b.fill;
                  b.dates[static_cast<size_t>(b.fill)] = model_date{year, month, day, hour};
                  double* row = &b.values[static_cast<size_t>(b.fill) *
                                          static_cast<size_t>(b.values_per_row)];
                  fill(row);
                };
                const double f = s.call_seconds / res.substeps * MM_PER_M;
                append(cell_buffer::etr, [&](double* v) {
                  double evaporation = 0;
                  for (int k = 1; k <= n; ++k) evaporation += work.cell_evaporation[k];
                  v[0] = evaporation * f;
                  for (int k = 1; k <= n; ++k) v[k] = work.cell_transpiration[k] * f;
                });
                append(cell_buffer::interflow, [&](double* v) {
                  for (int k = 1; k <= n; ++k) v[k] = work.last_interflow[k] * f;
                });
                append(cell_buffer::otherdata, [&](double* v) {
                  const grid_matrix* grids[] = {g.directflow, g.interflow, g.baseflow};
                  int i = 1;
                  for (const grid_matrix* m : grids) v[i++] = value(m, r, c, nodata);
                  v[i++] = res.last_infiltration;
                  const grid_matrix* rest[] = {g.river_in,    g.river_out, g.recharge,
                                               g.uprise,      g.percolation, g.macropore,
                                               g.drainage_flow, g.pond,    g.excess,
                                               g.distance,    g.level,     g.root};
                  for (const grid_matrix* m : rest) v[i++] = value(m, r, c, nodata);
                  for (const grid_matrix* m : g.other_data) v[i++] = value(m, r, c, nodata);
                  for (int k = 1; k <= veg; ++k)
                    for (const grid_matrix* m : g.layer_data[static_cast<size_t>(k)])
                      v[i++] = value(m, r, c, nodata);
                });
              }
            }
          }
          // The surface flux of every column of the strip, computed or not.
          if (g.q_down != nullptr && (*g.q_down)[r] != nullptr) {
            const double surface = (*g.q_down)[r][c][0];
            set(g.q_grid, r, c, surface);
            set(g.q_ext, r, c, surface);
          }
        } catch (int code) {
          int expected = 0;
          failure.compare_exchange_strong(expected, code);
        }
      }
    }
  }
  if (failure.load() != 0) throw failure.load();
}
