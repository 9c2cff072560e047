// Tracers in the step of one soil column: the surface store and the direct
// flow by hand (pure functions), the tracer mass balance of a column over
// many calls for the cases that move water (tracer in with the water input =
// out with direct flow, lateral flow, base flow + stored change + decay), a
// tracer at one concentration everywhere keeps it, the layers below the
// table take the aquifer's tracer, and columns run on 1 and 4 threads give
// the same tracer stores bit for bit.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "soilwater/soilcolumn_step.h"
#include "soilwater/soilcolumn_tracers.h"
#include "submodel/runoffrecords.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

namespace {

size_t at(int k) { return static_cast<size_t>(k); }

// ---- surface store and direct flow by hand ----

TEST(SoilColumnTracers, SurfaceStoreTakesTheInputsTracer) {
  const SoluteTracer mass{false, false, 10, 1};
  const SoluteTracer conc{false, true, 10, 1};
  struct row {
    const char* name;
    SoluteTracer tracer;
    SurfaceTracerWater water;  // input, bypass, silting, silting_in, pond, pond content
    double store;
    double expected;  // by hand, input concentration 2
  };
  const row rows[] = {
      // 5 + (10 + 2 + 3) x 2
      {"mass, silting-up storage", mass, {10, 2, 3, true, false, 0}, 5, 35},
      // 5 + (10 + 2) x 2: the silting-up water goes to direct flow with its own tracer
      {"mass, silting to direct flow", mass, {10, 2, 3, false, false, 0}, 5, 29},
      // 5 + (10 + 2 + 3) x 2 into the pond
      {"mass, pond", mass, {10, 2, 3, false, true, 20}, 5, 35},
      {"concentration, no pond: the input's", conc, {10, 2, 3, true, false, 0}, 7, 2},
      // (1 x 15 + 2 x 15) / 30 = 1.5: 15 mm of pond mixed with 15 mm arriving
      {"concentration, pond mixes", conc, {10, 2, 3, false, true, 15}, 1, 1.5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    double store = r.store;
    surface_tracer_input(r.tracer, r.water, 2.0, store);
    EXPECT_NEAR(store, r.expected, 1e-12);
  }
}

TEST(SoilColumnTracers, DirectFlowTakesItsShareOfTheSurfaceStore) {
  const double f = 3600e3;  // 1 h sub-step: 1e-6 m s-1 is 3.6 mm
  struct row {
    const char* name;
    SoluteTracer tracer;
    SurfaceTracerRunoff runoff;  // excess_direct, direct, pond, overflow, standing, silting,
                                 // has_silting, silting_conc
    double store;
    double value, store_after;  // by hand
  };
  const row rows[] = {
      // all 20 leave: 3.6 mm may carry 36
      {"mass, excess", {false, false, 10, 1}, {1e-6, 1e-6, false, false, 0, 0, false, 0}, 20,
       20, 0},
      // capped at 3.6 mm x 1
      {"mass, capped by max_conc", {false, false, 1, 1},
       {1e-6, 1e-6, false, false, 0, 0, false, 0}, 20, 3.6, 16.4},
      {"mass, no direct flow", {false, false, 10, 1}, {0, 0, false, false, 0, 0, false, 0}, 20,
       0, 20},
      // 3.6 mm overflow of 18 mm standing: a fifth of 40
      {"mass, pond overflows", {false, false, 10, 1},
       {0, 1e-6, true, true, 18, 0, false, 0}, 40, 8, 32},
      {"mass, pond holds", {false, false, 10, 1}, {0, 0, true, false, 10, 0, false, 0}, 40, 0,
       40},
      // 20 from the store and 2 mm x 1.5 of silting-up water
      {"mass, silting-up water to direct flow", {false, false, 10, 1},
       {1e-6, 1e-6 + 2 / f, false, false, 0, 2, true, 1.5}, 20, 23, 0},
      {"concentration, excess", {false, true, 10, 1}, {1e-6, 1e-6, false, false, 0, 0, false, 0},
       2, 2, 2},
      // (1.5 x 2 + 2 x 3.6) / 5.6
      {"concentration, silting-up water mixes", {false, true, 10, 1},
       {1e-6, 1e-6 + 2 / f, false, false, 0, 2, true, 1.5}, 2, (3 + 7.2) / 5.6, 2},
      {"concentration, pond overflows", {false, true, 10, 1},
       {0, 1e-6, true, true, 18, 0, false, 0}, 2, 2, 2},
      {"concentration, pond holds", {false, true, 10, 1}, {0, 0, true, false, 10, 0, false, 0},
       2, 0, 2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    double store = r.store;
    EXPECT_NEAR(direct_flow_tracer(r.tracer, r.runoff, f, store), r.value, 1e-9);
    EXPECT_NEAR(store, r.store_after, 1e-9);
  }
}

TEST(SoilColumnTracers, LayersBelowTheTableTakeTheAquifersTracer) {
  const double theta[] = {0, 0.2, 0.3, 0.4, 0.4};
  const double d[] = {0, 0.1, 0.2, 0.3, 0.5};
  double mass[] = {9, 9, 9, 9, 9};
  tracers_below_table(SoluteTracer{false, false, 10, 1}, 4, 2, 3.0, theta, d, mass);
  // layers 1, 2 (the groundwater layer) keep theirs; 0.4 x 3 x 0.3 x 1000 below
  EXPECT_DOUBLE_EQ(mass[2], 9);
  EXPECT_NEAR(mass[3], 360, 1e-9);
  EXPECT_NEAR(mass[4], 600, 1e-9);
  double conc[] = {9, 9, 9, 9, 9};
  tracers_below_table(SoluteTracer{false, true, 10, 1}, 4, 2, 3.0, theta, d, conc);
  EXPECT_DOUBLE_EQ(conc[2], 9);
  EXPECT_DOUBLE_EQ(conc[3], 3);
  EXPECT_DOUBLE_EQ(conc[4], 3);
}

// ---- a column with tracers over many calls ----

struct soil_params {
  double ksat;  // [m s-1]
  double theta_sat, theta_res, alpha, n;
  std::string layers, thickness, extra;
};

soil_entry make_soil(const soil_params& s) {
  captured_diag cap;
  soil_entry e;
  const size_t horizons =
      1 + static_cast<size_t>(std::count(s.layers.begin(), s.layers.end(), ' '));
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

constexpr double INPUT_CONC = 2.0;  // concentration of the water input
constexpr double START_CONC = 0.5;  // of the soil water at the start
constexpr double RIVER_CONC = 3.0;  // of river water

// One column with one tracer.
struct tracer_column {
  tracer_column(const soil_entry& s, bool evaporating)
      : soil(s), n(s.layer_count), z(size()), theta(size()), h(size()), q(size()), u(size()),
        veg(2), work(n, 1, 1) {
    tracer = SoluteTracer{false, evaporating, 1e6, 1.0};
    settings.layers = n;
    settings.call_seconds = 3600;
    settings.step_seconds = 3600;
    settings.vegetation_layers = 1;
    settings.tracer_count = 1;
    settings.tracers = &tracer;
    z[0] = 100;
    for (int k = 1; k <= n; ++k) z[at(k)] = z[at(k - 1)] - soil.thickness[at(k)];
    input.soil = &soil;
    input.z = z.data();
    input.vegetation = veg.data();
    input.river.cellsize = 100;
    conc_in.input = INPUT_CONC;
    input.tracer = &conc_in;
    stores[0] = u.data();
    state.theta = theta.data();
    state.h = h.data();
    state.q = q.data();
    state.tracer = stores;
  }
  size_t size() const { return static_cast<size_t>(n) + 1; }
  void start(double wet, int saturated_from, double conc) {
    for (int k = 1; k <= n; ++k) {
      theta[at(k)] = k >= saturated_from ? soil.theta_sat[at(k)] : wet;
      u[at(k)] = tracer.evaporating ? conc : conc * theta[at(k)] * soil.thickness[at(k)] * 1000;
    }
    u[0] = 0;
    const int g = saturated_from - 1;
    state.groundwater_level = g;
    state.groundwater_distance = z[at(g)] - z[0];
    state.theta_gw = theta[at(g)];
    input.table_from_state = true;
  }
  double mass() const {
    double m = 0;
    for (int k = 0; k <= n; ++k) m += u[at(k)];
    return m;
  }
  double conc(int k) const {
    return tracer.evaporating ? u[at(k)]
                              : u[at(k)] / (theta[at(k)] * soil.thickness[at(k)] * 1000);
  }
  ColumnResult call() { return soil_column_cell_step(settings, input, state, work); }

  soil_entry soil;
  int n;
  std::vector<double> z, theta, h, q, u;
  std::vector<VegetationInput> veg;
  SoluteTracer tracer;
  TracerInput conc_in;
  double* stores[1];
  ColumnWork work;
  ColumnStepSettings settings;
  ColumnInput input;
  ColumnState state;
};

struct balance_case {
  const char* name;
  soil_params soil;
  double wet;
  int saturated_from;
  double input;  // [mm per step]
  int calls;
  void (*setup)(tracer_column&);
  // The tracer flow the case is about, summed over the calls; null: the
  // tracer that entered the layers.
  double* ColumnWork::*moved;
};

constexpr double* ColumnWork::*DIRECT = &ColumnWork::tracer_direct;
constexpr double* ColumnWork::*LATERAL = &ColumnWork::tracer_lateral;
constexpr double* ColumnWork::*BASE = &ColumnWork::tracer_base;
constexpr double* ColumnWork::*DECAYED = &ColumnWork::tracer_decayed;
constexpr double* ColumnWork::*EXFILTRATION = &ColumnWork::tracer_exfiltration;
constexpr double* ColumnWork::*INTO_SOIL = nullptr;

void nothing(tracer_column&) {}

// Tracer in with the water input (and the silting-up water sent to direct
// flow) = out with direct flow, lateral flow and base flow + decay + the
// change of the stores (surface and layers), every call, to round-off.
TEST(SoilColumnStepTracers, EveryCallClosesTheTracerMassBalance) {
  const std::vector<balance_case> cases = {
      {"dry loam, light rain", loam(), 0.15, 18, 2, 48, nothing, INTO_SOIL},
      // The table below the column: every layer down to the closed bottom
      // is transported, the bottom one passes nothing on.
      {"shallow column without saturated layer", loam("5", "0.1"), 0.2, 6, 6, 24, nothing,
       INTO_SOIL},
      {"heavy rain, excess to direct flow", loam("5 15", "0.02 0.1"), 0.2, 19, 60, 12, nothing,
       DIRECT},
      {"max_conc below the input's: tracer held at the surface", loam("5 15", "0.02 0.1"), 0.2,
       19, 60, 12, [](tracer_column& c) { c.tracer.max_conc = 1.0; }, DIRECT},
      {"pond overflows", loam("5 15", "0.02 0.1"), 0.2, 19, 80, 12,
       [](tracer_column& c) {
         c.input.pond = true;
         c.input.pond_max = 5;
       },
       DIRECT},
      {"pond below its maximum", loam("5 15", "0.02 0.1"), 0.2, 19, 15, 12,
       [](tracer_column& c) {
         c.input.pond = true;
         c.input.pond_max = 500;
       },
       INTO_SOIL},
      {"macropores", loam("5 15", "0.02 0.1",
                          "PMacroThresh = 1; MacroCapacity = 20; MacroDepth = 0.6; "
                          "CapacityRedu = 0.5;"),
       0.2, 19, 30, 12, nothing, DIRECT},
      {"interflow on a slope", loam("10", "0.2", "k_recession = 0.01;"), 0.4, 10, 5, 24,
       [](tracer_column& c) {
         c.input.drainage_density = 0.5;
         c.input.tangens_beta = 0.4;
       },
       LATERAL},
      {"tile drainage", loam("10", "0.2", "k_recession = 0.01;"), 0.4, 10, 5, 24,
       [](tracer_column& c) {
         c.input.tile_drainage = true;
         c.input.drainage_level = 3;
         c.input.drainage_distance = 10;
         c.input.drainage_density = 0.1;
         c.input.tangens_beta = 0.1;
       },
       LATERAL},
      {"base flow", loam(), 0.3, 10, 1, 24,
       [](tracer_column& c) {
         c.input.q0 = 0.5;
         c.input.kelsqlat = 0.5;
       },
       BASE},
      {"water from below", loam(), 0.2, 15, 2, 24,
       [](tracer_column& c) {
         c.input.q0 = -3;
         c.input.kelsqlat = 0;
       },
       INTO_SOIL},
      {"radioactive tracer", loam(), 0.25, 15, 5, 24,
       [](tracer_column& c) {
         c.tracer.radioactive = true;
         c.tracer.decay = 0.9;
       },
       DECAYED},
      {"dynamic sub-steps with base flow",
       {9.22e-5, 0.368, 0.102, 3.35, 2, "5 15", "0.01 0.05", ""},
       0.2, 18, 20, 12,
       [](tracer_column& c) {
         c.settings.method = 3;
         c.settings.min_step = 10;
         c.input.q0 = 0.5;
         c.input.kelsqlat = 0.5;
       },
       BASE},
      // River water enters below the river bottom with the record's tracer.
      {"river take", loam(), 0.25, 18, 0, 12,
       [](tracer_column& c) {
         static riverflow_record record;
         static RiverTake take;
         static double river_tracers[10];
         record = riverflow_record{};
         record.flowm3s = 1;
         record.speed = 1;
         record.flow_mm[1] = RIVER_CONC;
         take = RiverTake{&record, 0};
         c.settings.groundwater_model = true;
         c.settings.surface_interaction = 2;
         c.input.river = RiverCell{false, 1.5, 5, 1e-5, 100, &take, 1, river_tracers};
       },
       INTO_SOIL},
      {"exfiltration into a river from a high table", loam(), 0.3, 5, 2, 12,
       [](tracer_column& c) {
         c.settings.groundwater_model = true;
         c.settings.surface_interaction = 1;
         c.input.river = RiverCell{false, 1.5, 5, 1e-4, 100, nullptr, 0, nullptr};
       },
       EXFILTRATION},
      {"snow bypass and silting-up water to direct flow", loam(), 0.2, 18, 10, 12,
       [](tracer_column& c) {
         c.input.snow_solid = 50;
         c.input.snow_fraction = 0.3;
         c.input.silting = 2;
         c.conc_in.has_silting = true;
         c.conc_in.silting = 5;
       },
       DIRECT},
  };
  for (const balance_case& k : cases) {
    SCOPED_TRACE(k.name);
    tracer_column c(make_soil(k.soil), false);
    c.start(k.wet, k.saturated_from, START_CONC);
    c.input.water_input = k.input;
    k.setup(c);
    double moved = 0;
    const double soil_before = c.mass() - c.u[0];
    for (int call = 0; call < k.calls; ++call) {
      const double before = c.mass();
      const ColumnResult r = c.call();
      const double silting_direct = c.conc_in.has_silting ? c.input.silting : 0;
      const double in = (r.input - silting_direct) * INPUT_CONC +
                        silting_direct * c.conc_in.silting + r.river_in * RIVER_CONC;
      const ColumnWork& w = c.work;
      const double out = w.tracer_direct[0] + w.tracer_lateral[0] + w.tracer_base[0] +
                         w.tracer_exfiltration[0] + w.tracer_decayed[0];
      const double scale = std::max({1.0, in, out, before});
      ASSERT_NEAR(c.mass() - before, in - out, 1e-9 * scale) << "call " << call;
      if (k.moved != nullptr) moved += (c.work.*k.moved)[0];
      for (int l = 0; l <= c.n; ++l) ASSERT_GE(c.u[at(l)], -1e-12) << "layer " << l;
    }
    if (k.moved == nullptr) moved = c.mass() - c.u[0] - soil_before;
    EXPECT_GT(moved, 0);
  }
}

// A radioactive tracer loses the factor of one call per call, whatever the
// water sub-step count (here the dynamic step cuts the call into many).
TEST(SoilColumnStepTracers, DecayPerCallDoesNotDependOnTheSubStepCount) {
  const soil_params celia{9.22e-5, 0.368, 0.102, 3.35, 2, "5 15", "0.01 0.05", ""};
  for (int method : {2, 3}) {
    SCOPED_TRACE("method " + std::to_string(method));
    tracer_column c(make_soil(celia), false);
    c.start(0.2, 18, START_CONC);
    c.settings.method = method;
    c.settings.min_step = 10;
    c.tracer.radioactive = true;
    c.tracer.decay = 0.8;
    c.input.water_input = 20;  // tracer-free water: decay is the only loss
    c.conc_in.input = 0;
    const double before = c.mass();
    const ColumnResult r = c.call();
    if (method == 3) {
      EXPECT_GT(r.substeps, 10);
    }
    EXPECT_NEAR(c.mass(), 0.8 * before, 1e-9 * before);
    EXPECT_NEAR(c.work.tracer_decayed[0], 0.2 * before, 1e-9 * before);
  }
}

// A tracer at one concentration in the soil water and in the input keeps it
// in every layer and in what leaves, for both schemes.
TEST(SoilColumnStepTracers, UniformConcentrationStaysUniform) {
  for (bool evaporating : {false, true}) {
    SCOPED_TRACE(evaporating ? "evaporating" : "non-evaporating");
    tracer_column c(make_soil(loam("10", "0.2", "k_recession = 0.01;")), evaporating);
    c.start(0.3, 9, INPUT_CONC);
    c.input.water_input = 8;
    c.input.drainage_density = 0.5;
    c.input.tangens_beta = 0.4;
    c.input.q0 = 0.5;
    c.input.kelsqlat = 0.5;
    double direct = 0, lateral = 0, water_direct = 0, water_lateral = 0;
    for (int call = 0; call < 48; ++call) {
      const ColumnResult r = c.call();
      for (int l = 1; l <= c.n; ++l)
        ASSERT_NEAR(c.conc(l), INPUT_CONC, 1e-9) << "call " << call << " layer " << l;
      direct += evaporating ? c.work.tracer_direct[0] * r.directflow : c.work.tracer_direct[0];
      water_direct += r.directflow;
      lateral += evaporating ? c.work.tracer_lateral[0] * c.work.lateral_water[0]
                             : c.work.tracer_lateral[0];
      water_lateral += c.work.lateral_water[0];
    }
    ASSERT_GT(water_lateral, 0);
    EXPECT_NEAR(lateral / water_lateral, INPUT_CONC, 1e-9);
    if (water_direct > 0) {
      EXPECT_NEAR(direct / water_direct, INPUT_CONC, 1e-9);
    }
  }
}

// With the groundwater model the layers below the table start each sub-step
// from the first aquifer layer; the saturated layers mix with it.
TEST(SoilColumnStepTracers, SaturatedZoneMixesWithTheAquifer) {
  tracer_column c(make_soil(loam()), false);
  c.start(0.3, 15, 0.0);
  c.settings.groundwater_model = true;
  c.input.fixed_baseflow = 0;
  c.input.aquifer_thickness = 10;
  double aquifer = 4.0;
  c.state.aquifer = &aquifer;
  c.call();
  const int g = static_cast<int>(c.state.groundwater_level);
  ASSERT_LE(g, c.n);
  // One concentration over the saturated zone and the aquifer: between the
  // soil's 0 and the aquifer's 4, near 4 since the aquifer holds far more.
  for (int l = g; l <= c.n; ++l) EXPECT_NEAR(c.conc(l), aquifer, 1e-9) << "layer " << l;
  EXPECT_GT(aquifer, 3.0);
  EXPECT_LT(aquifer, 4.0);
  for (int l = 1; l < g - 1; ++l) EXPECT_LT(c.conc(l), 1e-6) << "layer " << l;
}

// Many columns on the threads of a static schedule: the tracer stores are
// the same bit for bit on 1 and 4 threads.
TEST(SoilColumnStepTracers, OneAndFourThreadsGiveTheSameStores) {
  const soil_entry soil = make_soil(loam("10", "0.2", "k_recession = 0.01;"));
  constexpr int CELLS = 64;
  auto run = [&](int threads) {
    std::vector<double> out;
    std::vector<std::vector<double>> stores(CELLS);
#pragma omp parallel num_threads(threads)
    {
#pragma omp for schedule(static)
      for (int i = 0; i < CELLS; ++i) {
        tracer_column c(soil, i % 2 == 1);
        c.start(0.2 + 0.002 * i, 8 + i % 3, 1.0 + 0.01 * i);
        c.input.water_input = 1 + 0.5 * (i % 7);
        c.input.drainage_density = 0.5;
        c.input.tangens_beta = 0.3;
        c.input.q0 = 0.3;
        c.input.kelsqlat = 0.5;
        for (int call = 0; call < 12; ++call) c.call();
        stores[static_cast<size_t>(i)] = c.u;
        stores[static_cast<size_t>(i)].push_back(c.work.tracer_direct[0]);
        stores[static_cast<size_t>(i)].push_back(c.work.tracer_lateral[0]);
      }
    }
    for (const auto& s : stores) out.insert(out.end(), s.begin(), s.end());
    return out;
  };
  const std::vector<double> one = run(1), four = run(4);
  ASSERT_EQ(one.size(), four.size());
  for (size_t i = 0; i < one.size(); ++i) ASSERT_EQ(one[i], four[i]) << i;
}

}  // namespace
