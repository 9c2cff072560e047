// The step of one soil column over calls of the unsaturated zone: water
// closure of the column for the cases that move water (infiltration into dry
// soil, ponding, macropores, interflow, water from below, base flow, river
// take and exfiltration, transpiration, the dynamic sub-step), among them
// the wetting of a dry column of Celia et al. (1990, problem 2 soil); free
// drainage, a column at rest, and the edge cases of the column step as one
// table.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "soilwater/soilcolumn_fluxes.h"
#include "soilwater/soilcolumn_groundwater.h"
#include "soilwater/soilcolumn_input.h"
#include "soilwater/soilcolumn_step.h"
#include "support/test_support.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"

namespace {

struct soil_params {
  double ksat;          // [m s-1]
  double theta_sat, theta_res, alpha, n;
  std::string layers;     // horizons' layer counts, e.g. "3 17"
  std::string thickness;  // per horizon [m]
  std::string extra;      // further "key = value;" items
};

soil_entry make_soil(const soil_params& s) {
  captured_diag cap;
  soil_entry e;
  // One value per horizon, the same in each.
  const size_t horizons = 1 + static_cast<size_t>(std::count(s.layers.begin(), s.layers.end(), ' '));
  auto per_horizon = [&](double v) {
    char one[32];
    std::snprintf(one, sizeof one, "%.6e ", v);
    std::string out;
    for (size_t i = 0; i < horizons; ++i) out += one;
    return out;
  };
  parse_soil_block(*cap.diag, e,
                   "1 test method MultipleHorizons {\n layers = " + s.layers +
                       "; ksat = " + per_horizon(s.ksat) + "; theta_sat = " +
                       per_horizon(s.theta_sat) + "; theta_res = " + per_horizon(s.theta_res) +
                       "; alpha = " + per_horizon(s.alpha) + "; Par_n = " + per_horizon(s.n) +
                       "; thickness = " + s.thickness + "; " + s.extra + "\n}\n");
  return e;
}

// Loam of Carsel and Parrish (1988, table 3).
soil_params loam(const std::string& layers = "20", const std::string& thickness = "0.1",
               const std::string& extra = "") {
  return {2.89e-6, 0.43, 0.078, 3.6, 1.56, layers, thickness, extra};
}

// One column with its state, run call by call.
struct column_run {
  explicit column_run(const soil_entry& s, int vegetation = 1)
      : soil(s), n(s.layer_count), z(size()), theta(size()), h(size()), q(size()),
        veg(static_cast<size_t>(vegetation) + 1), work(n, vegetation) {
    settings.layers = n;
    settings.call_seconds = 3600;
    settings.step_seconds = 3600;
    settings.vegetation_layers = vegetation;
    z[0] = 100;
    for (int k = 1; k <= n; ++k) z[at(k)] = z[at(k - 1)] - soil.thickness[at(k)];
    input.soil = &soil;
    input.z = z.data();
    input.vegetation = veg.data();
    input.river.cellsize = 100;
    state.theta = theta.data();
    state.h = h.data();
    state.q = q.data();
  }
  size_t size() const { return static_cast<size_t>(n) + 1; }
  static size_t at(int k) { return static_cast<size_t>(k); }
  // Uniform water content above a saturated bottom layer.
  void start(double wet, int saturated_from) {
    for (int k = 1; k <= n; ++k)
      theta[at(k)] = k >= saturated_from ? soil.theta_sat[at(k)] : wet;
    const int g = saturated_from - 1;
    state.groundwater_level = g;
    state.groundwater_distance = z[at(g)] - z[0];
    state.theta_gw = theta[at(g)];
    input.table_from_state = true;
  }
  double water() const {
    double sum = 0;
    for (int k = 1; k <= n; ++k) sum += theta[at(k)] * soil.thickness[at(k)] * 1000;
    return sum;
  }
  ColumnResult call() {
    water_before = water();
    return soil_column_cell_step(settings, input, state, work);
  }

  soil_entry soil;
  int n;
  std::vector<double> z, theta, h, q;
  std::vector<VegetationInput> veg;
  ColumnWork work;
  ColumnStepSettings settings;
  ColumnInput input;
  ColumnState state;
  double water_before = 0;  // [mm] in the column before the last call
};

// Inputs minus outputs of one call [mm], from the result grids.
double net_inflow(const column_run& c, const ColumnResult& r) {
  double out = r.directflow + r.interflow + r.baseflow + r.evaporation + r.river_out;
  for (int k = 1; k <= c.settings.vegetation_layers; ++k) out += c.work.transpiration[k];
  return r.input + r.river_in - out;
}

double throughput(const column_run& c, const ColumnResult& r) {
  double t = r.input + r.river_in + std::fabs(r.directflow) + r.interflow + std::fabs(r.baseflow) +
             r.evaporation + r.river_out;
  for (int k = 1; k <= c.settings.vegetation_layers; ++k) t += c.work.transpiration[k];
  return t;
}

landuse_entry grass() {
  landuse_entry e;
  e.RootDist = 1;
  e.HReduDry = 3.45;
  e.TReduWet = 0.95;
  e.LimitReduWet = 0.5;
  return e;
}

// ---- water closure ----

struct closure_case {
  const char* name;
  soil_params soil;
  double wet;          // starting water content above the table
  int saturated_from;  // first saturated layer
  double input;        // [mm per step]
  int calls;
  void (*setup)(column_run&);
  double ColumnResult::*moved_by;  // the flow the case is about, summed over the calls
  double sign;                     // its sign
};

void nothing(column_run&) {}

TEST(SoilColumnStep, EveryCallClosesTheColumnWaterBalance) {
  static landuse_entry meadow = grass();
  const std::vector<closure_case> cases = {
      // Celia et al. (1990) problem 2 soil wetted from the top.
      {"celia dry column", {9.22e-5, 0.368, 0.102, 3.35, 2, "5 15", "0.01 0.05", ""}, 0.11, 20,
       20, 24, nothing, &ColumnResult::infiltration, 1},

      {"loam, dry, light rain", loam(), 0.15, 18, 2, 48, nothing, &ColumnResult::infiltration, 1},

      {"loam, heavy rain, no pond", loam("5 15", "0.02 0.1"), 0.2, 19, 60, 12, nothing, &ColumnResult::excess, 1},

      {"pond overflows", loam("5 15", "0.02 0.1"), 0.2, 19, 80, 12,
       [](column_run& c) {
         c.input.pond = true;
         c.input.pond_max = 5;
       }, &ColumnResult::directflow, 1},

      {"pond below its maximum", loam("5 15", "0.02 0.1"), 0.2, 19, 15, 12,
       [](column_run& c) {
         c.input.pond = true;
         c.input.pond_max = 500;
       }, &ColumnResult::infiltration, 1},

      {"macropores", loam("5 15", "0.02 0.1", "PMacroThresh = 1; MacroCapacity = 20; MacroDepth = 0.6; CapacityRedu = 0.5;"),
       0.2, 19, 30, 12, nothing, &ColumnResult::macropore, 1},

      {"interflow on a slope", loam("10", "0.2", "k_recession = 0.01;"), 0.4, 10, 5, 24,
       [](column_run& c) {
         c.input.drainage_density = 0.5;
         c.input.tangens_beta = 0.4;
       }, &ColumnResult::interflow, 1},

      {"tile drainage", loam("10", "0.2", "k_recession = 0.01;"), 0.4, 10, 5, 24,
       [](column_run& c) {
         c.input.tile_drainage = true;
         c.input.drainage_level = 3;
         c.input.drainage_distance = 10;
         c.input.drainage_density = 0.1;
         c.input.tangens_beta = 0.1;
       }, &ColumnResult::drainage, 1},

      {"water from below", loam(), 0.2, 15, 0, 24,
       [](column_run& c) {
         c.input.q0 = -3;
         c.input.kelsqlat = 0;
       }, &ColumnResult::baseflow, -1},

      {"base flow", loam(), 0.3, 10, 1, 24,
       [](column_run& c) {
         c.input.q0 = 0.5;
         c.input.kelsqlat = 0.5;
       }, &ColumnResult::baseflow, 1},

      {"transpiration and evaporation", loam(), 0.3, 15, 0, 24,
       [](column_run& c) {
         c.veg[1] = {&meadow, 0.3, 0.8, 0.6};
         c.input.potential_evaporation = 0.1;
       }, &ColumnResult::evaporation, 1},

      {"river take into a column below the river bottom", loam(), 0.25, 18, 0, 12,
       [](column_run& c) {
         static riverflow_record record;
         static RiverTake take;
         record = riverflow_record{};
         record.flowm3s = 1;
         record.speed = 1;
         take = RiverTake{&record, 0};
         c.settings.groundwater_model = true;
         c.settings.surface_interaction = 2;
         c.input.river = RiverCell{false, 1.5, 5, 1e-5, 100, &take, 0, nullptr};
       }, &ColumnResult::river_in, 1},

      {"exfiltration into a river from a high table", loam(), 0.3, 5, 2, 12,
       [](column_run& c) {
         c.settings.groundwater_model = true;
         c.settings.surface_interaction = 1;
         c.input.river = RiverCell{false, 1.5, 5, 1e-4, 100, nullptr, 0, nullptr};
       }, &ColumnResult::river_out, 1},

      {"dynamic sub-steps with base flow", {9.22e-5, 0.368, 0.102, 3.35, 2, "5 15", "0.01 0.05", ""},
       0.2, 18, 20, 12,
       [](column_run& c) {
         c.settings.method = 3;
         c.settings.min_step = 10;
         c.input.q0 = 0.5;
         c.input.kelsqlat = 0.5;
       }, &ColumnResult::baseflow, 1},

      {"snow bypass and silting-up storage", loam(), 0.2, 18, 10, 12,
       [](column_run& c) {
         c.input.snow_solid = 50;
         c.input.snow_fraction = 0.3;
         c.input.silting = 2;
         c.settings.silting_storage = true;
         c.veg[1] = {&meadow, 0.5, 1, 0.3};
       }, &ColumnResult::directflow, 1},
  };
  for (const closure_case& k : cases) {
    SCOPED_TRACE(k.name);
    column_run c(make_soil(k.soil));
    c.start(k.wet, k.saturated_from);
    c.input.water_input = k.input;
    k.setup(c);
    double moved = 0, process = 0;
    int substeps = 0;
    for (int call = 0; call < k.calls; ++call) {
      const double before = c.water() + c.state.pond;
      const ColumnResult r = c.call();
      const double change = c.water() + c.state.pond - before;
      const double flow = net_inflow(c, r);
      moved += throughput(c, r);
      process += k.sign * (r.*k.moved_by);
      substeps = std::max(substeps, r.substeps);
      ASSERT_NEAR(change, flow, 1e-9 * std::max(1.0, throughput(c, r))) << "call " << call;
      // "SB_2_grid" is the same water, the column's last 1e-8 m left out.
      EXPECT_NEAR(r.sb2 + c.state.pond, c.water() + c.state.pond, 1e-4);
    }
    EXPECT_GT(moved, 0);
    EXPECT_GT(process, 0);
    if (c.settings.method == 3) {
      EXPECT_GT(substeps, 1);
    }
  }
}

// Without input, transpiration and base flow the column keeps its water and
// its fluxes die away.
TEST(SoilColumnStep, ColumnAtRestKeepsItsWaterAndItsFluxesDecay) {
  column_run c(make_soil(loam()));
  c.start(0.3, 15);
  const double start = c.water();
  double last_flux = 0, first_flux = 0;
  for (int call = 0; call < 3000; ++call) {
    c.call();
    last_flux = 0;
    for (int k = 0; k < c.n; ++k)
      last_flux = std::max(last_flux, std::fabs(c.q[static_cast<size_t>(k)]));
    if (call == 0) first_flux = last_flux;
  }
  EXPECT_GT(first_flux, 1e-8);
  EXPECT_NEAR(c.water(), start, 1e-9 * start);
  EXPECT_LT(last_flux, 1e-10);
}


// Free drainage of a uniform column: with an input below Ks the flux above
// the capillary fringe settles at K(theta) = input, by the soil's own table.
TEST(SoilColumnStep, FreeDrainageSettlesAtTheConductivityOfTheInput) {
  column_run c(make_soil(loam("40", "0.1")));
  c.start(0.2, 40);
  c.input.water_input = 2;  // [mm h-1] against Ks 10.4 mm h-1
  c.input.q0 = 2;           // the saturated zone gives off what comes in
  for (int call = 0; call < 3000; ++call) c.call();
  for (int k : {5, 10, 15}) {
    const double k_rel =
        c.soil.relative_conductivity_from_theta(k, c.theta[static_cast<size_t>(k)], 1.0);
    EXPECT_NEAR(k_rel * c.soil.ksat[static_cast<size_t>(k)] * 3.6e6, 2.0, 0.02) << "layer " << k;
  }
}

// ---- the cases of the column step, one table ----

struct edge_case {
  const char* name;
  void (*setup)(column_run&);
  void (*check)(column_run&, const ColumnResult&);
};

TEST(SoilColumnStep, EdgeCasesOfTheColumnStep) {
  static landuse_entry meadow = grass();
  const std::vector<edge_case> cases = {
      {"pond overflows: pond at its maximum, the rest direct flow",
       [](column_run& c) {
         c.input.water_input = 80;
         c.input.pond = true;
         c.input.pond_max = 5;
       },
       [](column_run& c, const ColumnResult& r) {
         EXPECT_DOUBLE_EQ(c.state.pond, 5);
         EXPECT_NEAR(r.directflow, 80 - 5 - r.infiltration, 1e-9);
         EXPECT_EQ(r.excess, 0);
       }},
      {"pond below its maximum keeps what did not infiltrate",
       [](column_run& c) {
         c.input.water_input = 15;
         c.input.pond = true;
         c.input.pond_max = 500;
       },
       [](column_run& c, const ColumnResult& r) {
         EXPECT_EQ(r.directflow, 0);
         EXPECT_NEAR(c.state.pond, 15 - r.infiltration, 1e-9);
         EXPECT_GT(r.infiltration, 0);
       }},
      {"roots in layer 1 take only from layer 1",
       [](column_run& c) { c.veg[1] = {&meadow, 0.3, 1, 0.05}; },
       [](column_run& c, const ColumnResult&) {
         EXPECT_GT(c.work.cell_transpiration[1], 0);
         for (int k = 2; k <= c.n; ++k)
           EXPECT_LT(c.work.cell_transpiration[k], 1e-12 * c.work.cell_transpiration[1]) << k;
         EXPECT_GT(c.work.transpiration[1], 0);
       }},
      {"saturated column: layer 1, distance 0",
       [](column_run& c) {
         for (int k = 1; k <= c.n; ++k) c.theta[static_cast<size_t>(k)] = c.soil.theta_sat[static_cast<size_t>(k)];
       },
       [](column_run& c, const ColumnResult&) {
         EXPECT_EQ(c.state.groundwater_level, 1);
         EXPECT_EQ(c.state.groundwater_distance, 0);
       }},
      {"water from below beyond the pore space leaves as direct flow",
       [](column_run& c) { c.input.q0 = -2000; },
       [](column_run& c, const ColumnResult& r) {
         EXPECT_GT(r.directflow, 0);
         EXPECT_NEAR(r.directflow, -r.baseflow - (c.water() - c.water_before), 1e-9);
         for (int k = 1; k <= c.n; ++k)
           EXPECT_NEAR(c.theta[static_cast<size_t>(k)], c.soil.theta_sat[static_cast<size_t>(k)], 1e-9);
       }},
      {"base flow from a zone at field capacity is not delivered",
       [](column_run& c) {
         for (int k = 1; k <= c.n; ++k)
           c.theta[static_cast<size_t>(k)] = c.soil.theta_from_suction(k, 3.45);
         c.input.q0 = 5;
       },
       [](column_run&, const ColumnResult& r) { EXPECT_EQ(r.baseflow, 0); }},
      {"permafrost above layer 1 lets in reduced_k_sat only",
       [](column_run& c) {
         c.input.water_input = 5;
         c.input.permafrost = true;
         c.input.thaw_depth = 0.05;
         c.input.reduced_k_sat = 1e-7;
       },
       [](column_run&, const ColumnResult& r) {
         EXPECT_NEAR(r.infiltration, 1e-7 * 3600 * 1000, 1e-9);
         EXPECT_NEAR(r.directflow, 5 - 0.36, 1e-9);
       }},
      {"a lake cell with a pond of 1 mm or more gets no macropore infiltration",
       [](column_run& c) {
         c.soil.PMacroThresh = 1e-7;
         c.soil.MacroCapacity = 1e-5;
         c.soil.MacroDepth = 0.6;
         c.input.water_input = 30;
         c.input.pond = true;
         c.input.pond_max = 500;
         c.state.pond = 1.0;
         c.settings.lake_switch = 1;
         c.input.lake_cell = true;
       },
       [](column_run&, const ColumnResult& r) { EXPECT_EQ(r.macropore, 0); }},
      {"the same cell outside the lake takes macropore water",
       [](column_run& c) {
         c.soil.PMacroThresh = 1e-7;
         c.soil.MacroCapacity = 1e-5;
         c.soil.MacroDepth = 0.6;
         c.input.water_input = 30;
         c.input.pond = true;
         c.input.pond_max = 500;
         c.state.pond = 1.0;
         c.settings.lake_switch = 1;
       },
       [](column_run&, const ColumnResult& r) { EXPECT_GT(r.macropore, 0); }},
      {"max_iterations reached ends every water sub-step",
       [](column_run& c) {
         c.input.water_input = 5;
         c.settings.max_error = 0;
         c.settings.max_iterations = 7;
       },
       [](column_run&, const ColumnResult& r) { EXPECT_EQ(r.max_passes, 7); }},
  };
  for (const edge_case& k : cases) {
    SCOPED_TRACE(k.name);
    column_run c(make_soil(loam()));
    c.start(0.25, 15);
    k.setup(c);
    const ColumnResult r = c.call();
    k.check(c, r);
  }
}

// Silting-up or pond water covers the vegetation layers' demand in their
// order, skipping a layer without a land-use code (hand count).
TEST(SoilColumnStep, SurfaceWaterServesTheVegetationLayersInOrder) {
  bool has_landuse[4] = {false, true, false, true};
  double share[4] = {0, 2, 3, 4};
  double actual[4] = {0, 0, 0, 0};
  EXPECT_DOUBLE_EQ(serve_transpiration(5, 3, has_landuse, share, actual), 0);
  EXPECT_DOUBLE_EQ(actual[1], 2);
  EXPECT_DOUBLE_EQ(share[1], 0);
  EXPECT_DOUBLE_EQ(actual[2], 0);
  EXPECT_DOUBLE_EQ(share[2], 3);
  EXPECT_DOUBLE_EQ(actual[3], 3);
  EXPECT_DOUBLE_EQ(share[3], 1);
  double more[4] = {0, 1, 0, 1};
  double got[4] = {0, 0, 0, 0};
  EXPECT_DOUBLE_EQ(serve_transpiration(5, 3, has_landuse, more, got), 3);
}

// Base flow without the groundwater model: Q0 exp(kelsqlat x distance), so a
// table deeper by dz gives exp(kelsqlat dz) times less.
TEST(SoilColumnStep, BaseFlowFallsExponentiallyWithTheTableDepth) {
  struct row {
    int saturated_from;
  };
  double flow[2] = {0, 0}, distance[2] = {0, 0};
  const int tops[2] = {8, 13};
  for (int i = 0; i < 2; ++i) {
    column_run c(make_soil(loam()));
    c.start(0.3, tops[i]);
    c.input.table_from_state = false;
    c.input.q0 = 1;
    c.input.kelsqlat = 0.5;
    distance[i] = c.state.groundwater_distance;
    flow[i] = c.call().baseflow;
  }
  EXPECT_NEAR(flow[1] / flow[0], std::exp(0.5 * (distance[1] - distance[0])), 1e-12);
  EXPECT_NEAR(flow[0], std::exp(0.5 * distance[0]), 1e-12);  // Q0 mm per step, one call a step
}

// The dynamic sub-step: with water input every layer above the table counts
// with its saturated conductivity, and dParameterMinStep bounds the count.
TEST(SoilColumnStep, DynamicSubStepCountFollowsTheFastestLayer) {
  const soil_params celia{9.22e-5, 0.368, 0.102, 3.35, 2, "5 15", "0.01 0.05", ""};
  column_run c(make_soil(celia));
  c.start(0.2, 20);
  c.settings.method = 3;
  c.settings.min_step = 1;
  c.input.water_input = 1;
  // 0.01 m / 9.22e-5 m s-1 = 108.46 s: ceil(3600 / 108.46) = 34.
  EXPECT_EQ(water_substeps(c.settings, c.input, c.theta.data(), c.state.groundwater_level), 34);
  c.settings.min_step = 600;
  EXPECT_EQ(water_substeps(c.settings, c.input, c.theta.data(), c.state.groundwater_level), 6);
  c.settings.method = 2;
  EXPECT_EQ(water_substeps(c.settings, c.input, c.theta.data(), c.state.groundwater_level), 1);
}

// Many river cells of one link, computed at the same time: their takes
// together never exceed the river's flow, and what the record books is what
// the soils received, as the step's mean rate.
TEST(SoilColumnStep, RiverCellsOfOneLinkNeverTakeMoreThanTheFlow) {
  const soil_entry soil = make_soil(loam());
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    riverflow_record record;
    record.flowm3s = 0.05;
    record.speed = 1;
    const int cells = 64;
    std::vector<double> received(cells, 0);
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int i = 0; i < cells; ++i) {
      column_run c(soil);
      c.start(0.25, 18);  // table 1.7 m deep, below the river bottom
      c.settings.groundwater_model = true;
      c.settings.surface_interaction = 2;
      c.settings.step_seconds = 2 * c.settings.call_seconds;
      RiverTake take;
      take.record = &record;
      c.input.river.depth = 1.5;
      c.input.river.width = 5;
      c.input.river.kolmation = 1e-4;
      c.input.river.take = &take;
      received[static_cast<size_t>(i)] = c.call().river_in;
    }
    double total = 0;  // [mm] over cells of 100 m
    for (double v : received) total += v;
    EXPECT_GT(total, 0);
    EXPECT_LE(record.taken, record.flowm3s * (1 + 1e-12));
    // mm per call over 1e4 m2 in a call of half a step -> mean m3 s-1 of the step
    EXPECT_NEAR(record.taken, total / 1000 * 1e4 / 7200, 1e-12);
  }
}

}  // namespace
