// The step of one soil column over one call (see soilcolumn_step.h).
#include "soilwater/soilcolumn_step.h"

#include <algorithm>
#include <cmath>

#include "soilwater/soilcolumn_fluxes.h"
#include "soilwater/soilcolumn_groundwater.h"
#include "soilwater/soilcolumn_input.h"
#include "soilwater/soilcolumn_tracers.h"
#include "soilwater/unsatzon_column_services.h"
#include "soilwater/unsatzon_means.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

namespace {

constexpr double MM_PER_M = 1000.0;
constexpr double SOLID_SNOW_BYPASS = 10.0;   // [mm] solid snow above which input bypasses
constexpr double LAKE_POND_LIMIT = 1.0;      // [mm] a lake pond from which macropores stop
constexpr int BALANCE_PASSES = 10;           // passes of balance_layers per iteration
constexpr int LOOSER_TOLERANCE_PASS = 21;    // pass from which the tolerance is 5 x max_error
constexpr int LONG_ITERATION = 101;          // passes from which a sub-step is logged
constexpr double MIN_STORAGE_COEFFICIENT = 0.01;  // [-]
constexpr double NO_VALUE = -9999;
// [-] the least unfrozen share the dynamic step assumes of a frozen layer
constexpr double FROZEN_CONDUCTIVITY_FLOOR = 0.5;

size_t at(int i) { return static_cast<size_t>(i); }

}  // namespace

ColumnWork::ColumnWork(int layers, int vegetation_layers, int tracer_count)
    : heat(layers), n(layers) {
  const size_t per = at(layers) + 1;
  const size_t veg = at(std::max(vegetation_layers, 0)) + 1;
  constexpr size_t LAYER_ARRAYS = 22;
  buffer.assign(per * LAYER_ARRAYS + 2 * veg, 0.0);
  double* p = buffer.data();
  auto next = [&](size_t count) {
    double* a = p;
    p += count;
    return a;
  };
  for (double** a : {&theta0, &theta_iter, &theta_b, &psi0, &lateral, &river_in, &river_out,
                     &from_below, &to_base, &field_cap, &ksat, &macro_capacity, &macro_in,
                     &root_fraction, &root_weight, &veg_transpiration, &veg_evaporation, &scratch,
                     &cell_transpiration, &cell_evaporation, &last_interflow})
    *a = next(per);
  next(per);
  share = next(veg);
  transpiration = next(veg);
  flags = std::make_unique<bool[]>(veg);
  has_landuse = flags.get();

  const size_t tracers = at(std::max(tracer_count, 0));
  constexpr size_t PER_TRACER_VALUES = 9;
  constexpr size_t SOLUTE_ARRAYS = 6;
  tracer_buffer.assign(tracers * PER_TRACER_VALUES + per * (1 + SOLUTE_ARRAYS + tracers), 0.0);
  p = tracer_buffer.data();
  for (double** a : {&tracer_direct, &tracer_lateral, &tracer_base, &tracer_exfiltration,
                     &tracer_decayed, &direct_water, &lateral_water, &base_water,
                     &exfiltration_water})
    *a = next(tracers);
  theta_start = next(per);
  for (double** a : {&solute_work.available, &solute_work.factor, &solute_work.lateral_f,
                     &solute_work.base_f, &solute_work.river_out_f, &solute_work.q_f})
    *a = next(per);
  solute_tracers.resize(tracers);
  solute_states.resize(tracers);
  for (SoluteTracerState& st : solute_states) st.u0 = next(per);
}

int water_substeps(const ColumnStepSettings& s, const ColumnInput& in, const double* theta,
                   double groundwater_level, const double* unfrozen) {
  if (s.method != 3) return 1;
  const soil_entry& soil = *in.soil;
  const double input_of_call = in.water_input / s.calls_per_step;
  const int g = static_cast<int>(groundwater_level);
  double step = s.call_seconds;
  for (int k = 1; k <= s.layers && (k == 1 || k < g); ++k) {
    const double limit =
        unfrozen != nullptr ? std::max(FROZEN_CONDUCTIVITY_FLOOR, unfrozen[k]) : 1.0;
    const double kr =
        input_of_call > 0 ? 1.0 : soil.relative_conductivity_from_theta(k, theta[k], limit);
    if (!(kr > 0)) continue;
    step = std::min(step, soil.thickness[at(k)] / (kr * soil.ksat[at(k)]));
  }
  step = std::max(step, s.min_step);
  return std::max(1, static_cast<int>(std::ceil(s.call_seconds / step)));
}

namespace {

// The water of one sub-step as the tracers see it.
struct TracerColumn {
  const ColumnStepSettings& s;
  const ColumnInput& in;
  ColumnState& state;
  ColumnWork& w;
  int level;             // groundwater layer after the iteration
  double dt, f;          // [s], [mm per (m s-1)]
  double baseflow;       // [m s-1] base-flow rate taken
  double lateral;        // [m s-1] interflow and drainage of all layers
  double exfiltration;   // [m s-1] to the river
  double surface_water;  // [m s-1] water of the surface that did not infiltrate
};

// Transports every tracer through the column, decays it and sends the
// direct flow's part of the surface store away; the amounts of the call
// grow. The transport already moves the infiltrating part of the surface
// store into the top layer, so it is not taken from the store again.
void move_tracers(const TracerColumn& c, SurfaceTracerRunoff surface) {
  const int n = c.s.layers;
  const soil_entry& soil = *c.in.soil;
  ColumnWork& w = c.w;
  SoluteCell cell;
  cell.layers = n;
  cell.groundwater_layer = c.level;
  cell.dt = c.dt;
  cell.exfiltration_total = c.exfiltration;
  cell.direct_runoff = c.surface_water;
  cell.interflow_total = c.lateral;
  cell.baseflow = c.baseflow;
  cell.groundwater_model = c.s.groundwater_model && c.state.aquifer != nullptr;
  cell.aquifer_thickness = c.in.aquifer_thickness;
  SoluteWater water{c.state.q,         c.state.theta, w.theta_start,  soil.theta_sat.data(),
                    soil.thickness.data(), c.in.z,      w.lateral,      w.to_base,
                    w.from_below,      w.river_in,    w.river_out};
  const int tracers = c.s.tracer_count;
  for (int j = 0; j < tracers; ++j) {
    SoluteTracerState& st = w.solute_states[at(j)];
    st.u = c.state.tracer[j];
    st.aquifer = cell.groundwater_model ? &c.state.aquifer[j] : nullptr;
    const RiverCell& river = c.in.river;
    st.river = river.infiltration_tracers != nullptr && j < river.tracer_count
                   ? river.infiltration_tracers[j + 1]
                   : 0;
  }
  transport_solutes(cell, water, w.solute_work, w.solute_tracers.data(), w.solute_states.data(),
                    tracers, nullptr);
  const double* d = soil.thickness.data();
  for (int j = 0; j < tracers; ++j) {
    const SoluteTracer& tracer = c.s.tracers[j];
    SoluteTracerState& st = w.solute_states[at(j)];
    double* u = st.u;
    if (tracer.radioactive) {
      const double delta = w.solute_tracers[at(j)].decay;
      double lost = (1 - delta) * u[0];
      u[0] *= delta;
      for (int l = 1; l <= n; ++l) {
        const double mass = tracer.evaporating ? u[l] * c.state.theta[l] * d[l] * MM_PER_M : u[l];
        lost += (1 - delta) * mass;
        u[l] *= delta;
      }
      w.tracer_decayed[j] += lost;
    }
    surface.has_silting = c.in.tracer[j].has_silting;
    surface.silting_conc = c.in.tracer[j].silting;
    const double direct = direct_flow_tracer(tracer, surface, c.f, u[0]);
    const double direct_water = surface.direct * c.f;
    const double lateral_water = c.lateral * c.f;
    const double base_water = c.baseflow * c.f;
    const double exfiltration_water = c.exfiltration * c.f;
    if (tracer.evaporating) {
      w.tracer_direct[j] += direct * direct_water;
      w.tracer_lateral[j] += st.interflow * lateral_water;
      w.tracer_base[j] += st.baseflow * base_water;
      w.tracer_exfiltration[j] += st.exfiltration * exfiltration_water;
    } else {
      w.tracer_direct[j] += direct;
      w.tracer_lateral[j] += st.interflow;
      w.tracer_base[j] += st.baseflow;
      w.tracer_exfiltration[j] += st.exfiltration;
    }
    w.direct_water[j] += direct_water;
    w.lateral_water[j] += lateral_water;
    w.base_water[j] += base_water;
    w.exfiltration_water[j] += exfiltration_water;
  }
}

// Checks the column after the heat sub-steps of water sub-step sub; a
// failing column is dumped as it was before the iteration and, when asked,
// repaired (base flow, water contents, temperatures).
void check_sub_step(const ColumnStepSettings& s, const ColumnInput& in, ColumnState& state,
                    ColumnWork& w, bool heat, int sub, const SubstepCounts& counts, double dt,
                    double& baseflow) {
  const int n = s.layers;
  const double* sat = in.soil->theta_sat.data();
  const double t_surface = heat ? in.heat->n_factor * in.heat->t_air : 0;
  const double* t_before = heat ? w.snapshot.array(DUMP_STACK_TEMPERATURE, n) : nullptr;
  double* t = heat ? state.temperature : nullptr;
  const DumpCheck check = check_column(n, state.theta, sat, baseflow, t_before, t, t_surface);
  if (!check.failed()) return;
  DumpSnapshot& snap = w.snapshot;
  const DumpCell cell = in.dump_cell != nullptr ? *in.dump_cell : DumpCell{};
  snap.soil_type = cell.soil_type;
  const int veg = s.vegetation_layers;
  if (cell.landuse != nullptr)
    snap.landuse.assign(cell.landuse + 1, cell.landuse + 1 + veg);
  else
    snap.landuse.assign(at(std::max(veg, 0)), 0.0);
  snap.hour = cell.hour;
  snap.day = cell.day;
  snap.month = cell.month;
  snap.year = cell.year;
  snap.water_substeps = counts.water;
  snap.dt_water = dt;
  snap.heat_substeps = counts.heat;
  snap.ratio = counts.ratio;
  snap.t_air = heat ? in.heat->t_air : 0;
  const std::string name =
      dump_file_name(check, cell.row, cell.col, sub, cell.year, cell.month, cell.day, cell.hour);
  handle_dump(*s.dump, check, name, snap, n, veg, heat, [&] {
    repair_column(check, n, state.theta, sat, baseflow, t_before, t, t_surface);
  });
}

}  // namespace

ColumnResult soil_column_cell_step(const ColumnStepSettings& s, const ColumnInput& in,
                                   ColumnState& state, ColumnWork& w) {
  const soil_entry& soil = *in.soil;
  const int n = s.layers;
  const int veg = s.vegetation_layers;
  const double* d = soil.thickness.data();
  const double* sat = soil.theta_sat.data();
  const double* res = soil.theta_res.data();
  const double* z = in.z;
  double* theta = state.theta;
  double* q = state.q;
  ColumnResult result;

  for (int k = 1; k <= n; ++k) w.field_cap[k] = soil.theta_from_suction(k, FIELD_CAPACITY_SUCTION);
  const int tracers = s.tracer_count;
  for (int j = 0; j < tracers; ++j) {
    w.tracer_direct[j] = w.tracer_lateral[j] = w.tracer_base[j] = w.tracer_exfiltration[j] = 0;
    w.tracer_decayed[j] = 0;
    w.direct_water[j] = w.lateral_water[j] = w.base_water[j] = w.exfiltration_water[j] = 0;
  }
  for (int k = 0; k <= veg; ++k) {
    w.transpiration[k] = 0;
    w.has_landuse[k] = k >= 1 && in.vegetation[k].landuse != nullptr;
  }
  GroundwaterColumn col;
  col.layers = n;
  col.d = d;
  col.z = z;
  col.theta_sat = sat;
  col.theta_res = res;
  col.field_cap = w.field_cap;

  // A column whose table was never found (or a start state whose table was
  // placed by another rule) starts from the table its water contents give.
  bool table_from_state = in.table_from_state || state.groundwater_level < 1;
  if (state.groundwater_level < 1) state.groundwater_level = groundwater_layer_of(col, theta);

  // With heat transfer the heat sub-steps follow from a trial over the
  // model step, and the water sub-steps are aligned with them.
  const bool heat = s.heat && s.heat_settings != nullptr && in.heat != nullptr &&
                    state.temperature != nullptr;
  const int heat_count =
      heat ? heat_substep_count(*s.heat_settings, soil, n, *in.heat, theta, s.step_seconds,
                                state.temperature, w.heat)
           : 1;
  const double* unfrozen = heat ? w.heat.unfrozen : nullptr;
  const SubstepCounts counts =
      align_substeps(water_substeps(s, in, theta, state.groundwater_level, unfrozen), heat_count);
  const int nw = counts.water;
  const double dt_heat = s.call_seconds / counts.heat;
  if (heat) {
    result.heat_substeps = counts.heat;
    result.heat_ratio = counts.ratio;
  }
  const bool dumping = s.dump != nullptr && s.dump->dumpmode;
  const double dt = s.call_seconds / nw;
  const double f = dt * MM_PER_M;
  col.dt = dt;
  result.substeps = nw;
  // The call's decay is spread over its water sub-steps, so that a tracer
  // decays by the same factor per call whatever the sub-step count; the
  // step applies it after the transport (where the kernel would) to book
  // the mass it takes.
  for (int j = 0; j < tracers; ++j) {
    SoluteTracer& t = w.solute_tracers[at(j)];
    t = s.tracers[j];
    t.decay = t.radioactive ? std::pow(std::max(t.decay, 0.0), 1.0 / nw) : 1.0;
    t.radioactive = false;
  }

  int clay = 0;
  if (in.clay_depth > 0) {
    clay = n;
    double bottom = 0;
    for (int k = 1; k <= n; ++k) {
      bottom += d[k];
      if (bottom >= in.clay_depth) {
        clay = k;
        break;
      }
    }
  }
  FluxCell flux;
  flux.clay_layer = clay;
  flux.tile_drainage = in.tile_drainage;
  flux.drainage_level = in.drainage_level;
  flux.drainage_distance = in.drainage_distance;
  flux.drainage_density = in.drainage_density;
  flux.tangens_beta = in.tangens_beta;
  flux.cellsize = in.river.cellsize;
  flux.k_sat_clay = in.k_sat_clay;
  flux.permafrost = in.permafrost;
  flux.thaw_depth = in.thaw_depth;
  flux.reduced_k_sat = in.reduced_k_sat;
  flux.unfrozen = unfrozen;
  const FluxWork flux_work{w.ksat, w.field_cap};

  int lowest = 1;  // deepest layer that evaporation reached
  double mean_suction = 0;  // [m] of the last compute_heads
  double table = 0, old_table = 0;
  for (int sub = 1; sub <= nw; ++sub) {
    // 1. Shares of the sub-step and cleared work arrays.
    for (int k = 1; k <= veg; ++k)
      w.share[k] = in.vegetation[k].potential / s.calls_per_step / nw;
    double water = in.water_input / s.calls_per_step / nw;  // W [mm]
    double silting = in.silting / nw;                       // U [mm]
    result.input += water + silting;
    for (int k = 0; k <= n; ++k) {
      w.lateral[k] = w.river_in[k] = w.river_out[k] = w.from_below[k] = w.to_base[k] = 0;
      w.cell_transpiration[k] = w.cell_evaporation[k] = w.scratch[k] = 0;
      w.psi0[k] = 0;
      q[k] = 0;
      w.theta_start[k] = theta[k];
    }
    int old_layer;
    if (table_from_state) {
      old_layer = groundwater_layer_of(col, theta);
      old_table = table_height(col, old_layer, theta[1], theta[old_layer]);
      table_from_state = false;
    } else {
      old_layer = std::clamp(static_cast<int>(state.groundwater_level), 1, n);
      old_table = state.groundwater_distance + z[0];
    }

    // 2. Layers below the table take the aquifer's tracer.
    if (s.groundwater_model && state.aquifer != nullptr)
      for (int j = 0; j < tracers; ++j)
        tracers_below_table(s.tracers[j], n, old_layer, state.aquifer[j], theta, d,
                            state.tracer[j]);

    // 4. Snow bypass, 5. pond or silting-up water serving the vegetation.
    double bypass = 0;
    if (in.snow_solid > SOLID_SNOW_BYPASS && water > 0) {
      bypass = in.snow_fraction * water;
      water -= bypass;
    }
    const double pond_before = state.pond;
    if (tracers > 0) {
      SurfaceTracerWater top;
      top.input = water;
      top.bypass = bypass;
      top.silting = silting;
      top.silting_in = s.silting_storage;
      top.pond = in.pond;
      top.pond_content = pond_before;
      for (int j = 0; j < tracers; ++j)
        surface_tracer_input(s.tracers[j], top, in.tracer[j].input, state.tracer[j][0]);
    }
    double pond_content = 0;
    double silting_direct = 0;
    if (in.pond) {
      const double standing = state.pond + silting + bypass;
      const double left = serve_transpiration(standing, veg, w.has_landuse, w.share, w.transpiration);
      water += left;
      pond_content = water;
      bypass = 0;
    } else if (s.silting_storage) {
      const double left = serve_transpiration(silting, veg, w.has_landuse, w.share, w.transpiration);
      water += left;
    } else {
      silting_direct = silting;
    }

    // 6. Rates, 7. macropores.
    double rate = water / f;
    const double bypass_rate = bypass / f;
    double macro = 0;
    for (int k = 0; k <= n; ++k) w.macro_capacity[k] = w.macro_in[k] = 0;
    const bool macropores = s.lake_switch == 0 ||
                            (s.lake_switch == 1 && (!in.lake_cell || pond_before < LAKE_POND_LIMIT));
    if (macropores) {
      double rate_mm = rate * MM_PER_M;
      macro = macropore_infiltration(soil, n, rate_mm, d, sat, dt, theta, w.macro_capacity,
                                     w.macro_in);
      rate = rate_mm / MM_PER_M;
    }

    // 8. Transpiration and soil evaporation of the vegetation layers.
    const int level_before = static_cast<int>(state.groundwater_level);
    double evaporation_sub = 0;
    int last_roots = 0;
    for (int k = 1; k <= veg; ++k) {
      if (!w.has_landuse[k]) continue;
      const VegetationInput& v = in.vegetation[k];
      const bool last_layer = k == veg || !w.has_landuse[k + 1];
      VegetationDemand demand;
      demand.root_dist = v.landuse->get_root_dist();
      demand.hredu_dry = v.landuse->get_hredu_dry();
      demand.tredu_wet = v.landuse->get_tredu_wet();
      demand.limit_redu_wet = v.landuse->get_limit_redu_wet();
      demand.coverage = v.coverage;
      demand.potential = w.share[k] / f;
      demand.soil_evaporation =
          last_layer ? in.potential_evaporation / s.calls_per_step / nw / f : 0;
      demand.pass_on_limit = level_before;
      double root_depth = v.root_depth;
      double evaporation_total = 0;
      const ExtractionLayers out{w.root_fraction,     w.root_weight,     w.veg_transpiration,
                                 w.scratch,           w.veg_evaporation, &evaporation_total};
      const int roots = extract_transpiration(soil, n, demand, dt, soil.EvapMaxDepth, root_depth,
                                              d, sat, res, theta, z, out);
      last_roots = roots;
      const double taken =
          withdraw_transpiration(col, roots, level_before, theta, w.veg_transpiration);
      const double evaporated =
          withdraw_evaporation(col, roots, w.veg_evaporation, theta, lowest);
      w.transpiration[k] += taken * f;
      evaporation_sub += evaporated * f;
      for (int l = 1; l <= n; ++l) {
        w.cell_transpiration[l] += w.veg_transpiration[l];
        if (l <= roots) w.cell_evaporation[l] += w.veg_evaporation[l];
      }
    }

    // 9. Base flow and the groundwater layer before the iteration.
    double baseflow = in.fixed_baseflow;
    if (!s.groundwater_model && !s.external_table)
      baseflow = in.q0 * std::exp(in.kelsqlat * state.groundwater_distance) /
                 (s.calls_per_step * f * nw);
    if (baseflow < 0) fill_from_below(col, -baseflow, theta, w.from_below);
    int level = groundwater_layer_of(col, theta);
    double theta_gw = theta[level];
    if (baseflow >= 0) {
      const BaseflowExtraction ex = extract_baseflow(col, level, baseflow, theta, w.to_base);
      level = ex.level;
      theta_gw = ex.theta_gw;
      baseflow -= ex.missing;
    }
    state.groundwater_level = level;
    for (int k = 0; k <= n; ++k) w.theta0[k] = w.theta_iter[k] = theta[k];

    // 10. The column before the iteration, for a dump.
    if (dumping) {
      const double* arrays[] = {w.river_in,   w.river_out, w.psi0,          w.theta0,
                                w.theta_iter, state.h,     z,               q,
                                w.lateral,    sat,         d,               theta,
                                res,          theta,       w.heat.unfrozen, state.temperature,
                                w.heat.lambda, w.heat.slope, w.heat.capacity, w.heat.g,
                                w.heat.t};
      DumpSnapshot& snap = w.snapshot;
      snap.take(n, arrays, heat ? DUMP_WATER_ARRAYS + DUMP_HEAT_ARRAYS : DUMP_WATER_ARRAYS);
      snap.roots = last_roots;
      snap.mean_suction = mean_suction;
      snap.w = rate;
      snap.baseflow = baseflow;
      snap.transpiration.assign(w.transpiration, w.transpiration + veg + 1);
      snap.dt_heat = dt_heat;
    }

    // 11. The iteration.
    ColumnCell cell;
    cell.layers = n;
    cell.groundwater_layer = level;
    cell.lowest_extraction = lowest;
    cell.dt = dt;
    cell.groundwater_distance = state.groundwater_distance;
    cell.groundwater_model = s.groundwater_model;
    cell.surface_interaction = s.surface_interaction;
    RiverTotals river;
    double tolerance = s.max_error;
    int passes = 0;
    int counter = 0;
    double change = 0;
    FluxResult fluxes;
    do {
      mean_suction = compute_heads(soil, cell, passes, w.river_in, w.river_out, w.theta0,
                                   w.theta_iter, z, unfrozen, state.h, w.psi0);
      ++passes;
      fluxes = compute_fluxes(soil, cell, flux, in.river, rate, sat, w.theta0, w.theta_iter, z,
                              state.h, d, q, w.lateral, w.river_in, w.river_out, river, flux_work);
      balance_layers(cell, BALANCE_PASSES, w.river_in, w.river_out, w.theta0, sat, res, q,
                     w.lateral, d, w.theta_b, river);
      if (passes == LOOSER_TOLERANCE_PASS) tolerance = 5 * s.max_error;
      change = relax_theta(cell, passes, counter, w.river_in, w.river_out, theta, w.theta_iter,
                           w.theta0, q, w.lateral, d);
    } while (change > tolerance && static_cast<double>(passes) < s.max_iterations);
    result.max_passes = std::max(result.max_passes, passes);
    result.passes += passes;

    // 12. Heat sub-steps with the water of the iteration.
    if (heat)
      for (int i = 0; i < counts.ratio; ++i)
        heat_evaluation(*s.heat_settings, soil, n, *in.heat, theta, dt_heat, true,
                        state.temperature, w.heat, q, w.macro_in);

    // 13. Range checks, dump and repair.
    if (dumping)
      check_sub_step(s, in, state, w, heat, sub, counts, dt, baseflow);

    // 14. River take: the record holds the step's mean rate.
    if (in.river.take != nullptr)
      settle_river_take(*in.river.take, river.infiltration * in.river.cellsize *
                                            in.river.cellsize * dt / s.step_seconds);
    if (passes >= LONG_ITERATION && in.long_iteration != nullptr)
      in.long_iteration(in.long_iteration_context, passes, change);

    double interflow = 0;
    for (int k = 1; k <= n; ++k) {
      if (k < level) interflow += w.lateral[k];
      w.last_interflow[k] = w.lateral[k];
    }
    double outflow = q[level - 1] + w.cell_transpiration[level] + w.cell_evaporation[level] +
                     w.lateral[level];
    if (s.groundwater_model) outflow += w.river_out[level] - w.river_in[level];
    if (outflow > 0) theta_gw = std::max(theta_gw - outflow * dt / d[level], w.field_cap[level]);
    table = table_height(col, level, theta[1], theta_gw);
    state.theta_gw = theta_gw;
    state.groundwater_distance = table - z[0];
    BalanceTerms terms;
    terms.table = table;
    terms.old_table = old_table;
    terms.old_layer = old_layer;
    terms.layer = level;
    terms.baseflow = baseflow;
    terms.surface_from_below = w.from_below[0];
    terms.river_out = river.exfiltration;
    terms.river_in = river.infiltration;
    terms.groundwater_model = s.groundwater_model;
    terms.external_table = s.external_table;
    const double recharge = column_balance_terms(col, terms, theta, w.theta0, w.from_below, q);

    // 15. Surface runoff.
    SurfaceWater top;
    top.w = rate;
    top.q0 = q[0];
    top.bypass = bypass_rate;
    top.from_below = w.from_below[0];
    top.macropore = macro;
    top.pond = in.pond;
    top.pond_content = pond_content;
    top.pond_max = in.pond_max;
    top.silting_direct = silting_direct;
    const SurfaceRunoff runoff = surface_runoff(top, f);
    if (in.pond) state.pond = runoff.pond;

    // 16. Tracers through the column, then with the direct flow.
    if (tracers > 0) {
      double lateral = 0;
      for (int k = 1; k <= n; ++k) lateral += w.lateral[k];
      SurfaceTracerRunoff surface;
      const double standing = std::max((w.from_below[0] + rate + q[0] + bypass_rate) * f, 0.0);
      surface.pond = in.pond;
      surface.standing = standing;
      surface.overflow = in.pond && standing > in.pond_max;
      surface.direct = runoff.direct;
      surface.excess_direct = in.pond ? 0 : runoff.excess / f + w.from_below[0];
      surface.silting = silting_direct;
      TracerColumn tc{s, in, state, w, level, dt, f, baseflow, lateral, river.exfiltration,
                      in.pond ? standing / f : surface.excess_direct};
      move_tracers(tc, surface);
    }

    // 18. Amounts of the sub-step.
    if (in.tile_drainage) result.drainage += fluxes.drainage * f;
    result.directflow += runoff.direct * f;
    result.interflow += interflow * f;
    if (s.groundwater_model) {
      result.river_in += river.infiltration * f;
      result.river_out += river.exfiltration * f;
    }
    result.macropore += macro;
    result.evaporation += evaporation_sub;
    result.recharge += recharge;
    if (recharge >= 0)
      result.percolation += recharge;
    else
      result.uprise += recharge;
    result.excess += runoff.excess;
    result.infiltration += runoff.infiltration;
    result.baseflow += baseflow * f;
    result.last_infiltration = -q[0] * f;
  }

  // 17. Root zone.
  double root = 0;
  for (int k = 1; k <= veg; ++k) root = std::max(root, in.vegetation[k].root_depth);
  const soil_column_view view{n, d, sat};
  if (root > 0) {
    result.sb1 = depth_weighted_mean(view, theta, mean_mode::amount, 0, root, NO_VALUE) / root;
    result.mean_suction_root = soil.suction_from_theta(1, result.sb1);
    result.has_root_suction = true;
  } else {
    result.sb1 = theta[1];
  }
  result.sb2 = depth_weighted_mean(view, theta, mean_mode::amount, 0, WHOLE_COLUMN_DEPTH, NO_VALUE) *
               MM_PER_M;
  result.root = root * MM_PER_M;

  if (heat) {
    freezing_temperatures(soil, n, s.heat_settings->frozen_share, w.heat.t_freeze);
    result.thaw_depth = thaw_depth(n, state.temperature, w.heat.t_freeze, z, in.heat->t_lower);
    result.frozen_below_table = frozen_below_table(n, state.temperature, w.heat.t_freeze, z, d,
                                                   result.thaw_depth, state.groundwater_level);
  }

  const int level = std::clamp(static_cast<int>(state.groundwater_level), 1, n);
  result.storage_coefficient =
      std::max(table < old_table ? sat[level] - w.field_cap[level] : sat[level] - theta[level],
               MIN_STORAGE_COEFFICIENT);
  for (int k = 1; k <= veg; ++k) w.transpiration[0] += w.transpiration[k];
  w.transpiration[0] += result.evaporation;
  // An evaporating tracer's values of the call are flow-weighted means.
  for (int j = 0; j < tracers; ++j) {
    if (!s.tracers[j].evaporating) continue;
    auto mean = [](double& v, double water) { v = water > 0 ? v / water : 0; };
    mean(w.tracer_direct[j], w.direct_water[j]);
    mean(w.tracer_lateral[j], w.lateral_water[j]);
    mean(w.tracer_base[j], w.base_water[j]);
    mean(w.tracer_exfiltration[j], w.exfiltration_water[j]);
  }
  return result;
}
