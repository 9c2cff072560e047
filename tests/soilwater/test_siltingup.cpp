// Silting-up against hand calculations for a soil of sand 0.5, silt 0.3 and
// clay 0.2: Dg = 10^(0.5 (-1.09691 0.2 + 2.10036 0.3 + 5.10039 0.5)) = 30.23 um,
// I_inf = 12.2 Dg^0.52 50^-0.64 = 5.873 mm/h, C_v(10 d) = 0.013 50^-1.03
// Dg^0.7 10^-0.19 = 0.001623 m2/J; the rain energy e(10 mm/h) = 20.62 J/m2/mm
// (Wischmeier & Smith 1978: 11.87 + 8.73 log10 I gives 20.60, within 0.3 %).
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/siltingup.h"
#include "soilwater/siltingup_kernels.h"
#include "support/test_support.h"
#include "tables/landuse.h"
#include "tables/soiltable.h"
#include "tests/tables/table_test_support.h"

namespace {

grain_fractions loam() {
  grain_fractions g;
  g.sand = 0.5;
  g.silt = 0.3;
  g.clay = 0.2;
  return g;
}

TEST(SiltingUpKernels, HandCalculatedRates) {
  const silting_parameters p;
  struct row {
    const char* what;
    double value, expected, tolerance;
  } rows[] = {
      {"e(10 mm/h)", rain_kinetic_energy(10), 20.62, 0.005},
      {"e(1 mm/h) = 11.89", rain_kinetic_energy(1), 11.89, 1e-12},
      {"e(76.2 mm/h)", rain_kinetic_energy(76.2), 28.33, 1e-12},
      {"e(200 mm/h)", rain_kinetic_energy(200), 28.33, 1e-12},
      {"e just below 76.2 meets 28.33", rain_kinetic_energy(76.19), 28.33, 0.02},
      {"e(0.05 mm/h): no rain", rain_kinetic_energy(0.05), 0, 0},
      {"Dg of the loam", geometric_mean_diameter(loam()), 30.23, 0.005},
      {"I_inf of the loam", final_infiltration_rate(p, 30.2315, 0.5), 5.873, 0.0005},
      {"C_v(10 d)", silting_disposition(p, 0.5, 30.2315, 10), 0.001623, 5e-7},
      {"C_v(0 d)", silting_disposition(p, 0.5, 30.2315, 0), 0, 0},
      {"f_cap(E_k 500, 60 min)", infiltration_capacity(5.873, 65, 0.001623, 500, 60), 32.14, 0.005},
      {"f_cap(E_k 0, 30 min) = I_0 / 2", infiltration_capacity(5.873, 65, 0.001623, 0, 30), 32.5,
       1e-12},
  };
  for (const auto& r : rows) EXPECT_NEAR(r.value, r.expected, r.tolerance) << r.what;
  // Pure sand: 10^(0.5 * 5.100385157531412) = 354.971 um; sqrt(63 * 2000) =
  // 354.965 would differ by 1.7e-5.
  grain_fractions sand;
  sand.sand = 1;
  EXPECT_NEAR(geometric_mean_diameter(sand), 354.971, 0.0005);
}

TEST(SiltingUpKernels, TillageRainPauseEnergyAndSplit) {
  const int days[] = {-116, 100, 250};  // tillage on days 100 and 250
  struct tillage_row {
    int h;
    double expected;  // [d]
  } tillage[] = {{100, 0.3}, {110, 10}, {250, 0.3}, {300, 50}, {50, 166}, {1, 117}};
  for (const auto& r : tillage) EXPECT_EQ(time_since_tillage(2, days, r.h), r.expected) << r.h;
  const int none[] = {-9999};
  EXPECT_EQ(time_since_tillage(0, none, 100), 0);
  EXPECT_FALSE(has_tillage_days(0, none));
  EXPECT_TRUE(has_tillage_days(2, days));

  EXPECT_DOUBLE_EQ(rain_pause_after(1, 0.05, 60), 1 + 1.0 / 24);  // 0.05 mm/h is no rain
  EXPECT_EQ(rain_pause_after(1, 0.06, 60), 0);

  // (1 - c) I e dt / 60 = 0.5 * 10 * 20 * 1 = 100 J/m2.
  struct energy_row {
    const char* what;
    double t, min_pause, pause, sum_before, expected;
  } energy[] = {
      {"pause shorter than the minimum: accumulates", 10, 2, 0, 50, 150},
      {"minimum pause reached: restarts", 10, 2, 2, 50, 100},
      {"no tillage: 0", 0, 2, 0, 50, 0},
  };
  for (const auto& r : energy) {
    const sealing_step_input in{10, 20, 0.5, r.t, r.min_pause, 60};
    EXPECT_DOUBLE_EQ(kinetic_energy_after(in, r.sum_before, r.pause), r.expected) << r.what;
  }

  const surface_split tilled = split_surface_water(8, 2, 6.5, true);
  EXPECT_EQ(tilled.total, 10);
  EXPECT_EQ(tilled.runoff, 3.5);
  EXPECT_EQ(tilled.input, 6.5);
  const surface_split untilled = split_surface_water(8, 2, 6.5, false);
  EXPECT_EQ(untilled.runoff, 0);
  EXPECT_EQ(untilled.input, 10);
}

// Land use: class 1 tilled on days 100 and 250, class 2 never tilled; both
// without residue cover. Soils: 1 the loam, 2 pure sand.
const std::string LANDUSE =
    "[landuse_table]\n2\n"
    "1 field method VariableDayCount {\n"
    "  RootDist = 1.0; TReduWet = 0.9; HReduDry = 3.45;\n  Albedo = 0.15 0.2 0.25 0.3;\n"
    "  rsc = 80 60 70 90;\n  LAI = 1 2 3 4;\n  Z0 = 0.02 0.05 0.1 0.2;\n"
    "  VCF = 0.5 0.6 0.7 0.8;\n  RootDepth = 0.2 0.4 0.5 0.6;\n  AltDep = 0 0 0 0;\n"
    "  JulDays = 1 100 200 366;\n  SoilTillage = 100 250;\n  SR_ResidCovrg = 0 0 0 0;\n}\n"
    "2 meadow method VariableDayCount {\n"
    "  RootDist = 1.0; TReduWet = 0.9; HReduDry = 3.45;\n  Albedo = 0.15 0.2 0.25 0.3;\n"
    "  rsc = 80 60 70 90;\n  LAI = 1 2 3 4;\n  Z0 = 0.02 0.05 0.1 0.2;\n"
    "  VCF = 0.5 0.6 0.7 0.8;\n  RootDepth = 0.2 0.4 0.5 0.6;\n  AltDep = 0 0 0 0;\n"
    "  JulDays = 1 100 200 366;\n  SR_ResidCovrg = 0 0 0 0;\n}\n";

// Method 1 restated as statements (V= opens the second part).
const std::string RESTATED =
    "SiltingUpExpressions\n{\n"
    "  X = 65;\n"
    "  Y = 12.2 * K^0.52 * (100*L)^-0.64;\n"
    "  Z = 0.013 * (100*L)^-1.03 * K^0.7 * (O + (O <= 0))^-0.19 * (O > 0);\n"
    "  W = (P > 0.05) * (P < 76.2) * (11.89 + 8.73 * log10(P + (P <= 0.05))) + (P >= 76.2) * "
    "28.33;\n"
    "  V = (Y + (X - Y) * exp(-Z * Q)) * R / 60;\n}\n";

struct silting_fixture {
  // rows x cols cells of zone code 1, or the zones of codes.
  silting_fixture(int rows, int cols, std::vector<int> codes = {1}) : nrows(rows), ncols(cols) {
    settings.control_file = cd.dir.file("control.$$$");
    const int largest = codes.back();
    zone_index.assign(static_cast<size_t>(largest) + 1, 0);
    zones.assign(codes.size() + 1, zone_record{});
    for (size_t i = 0; i < codes.size(); ++i) {
      zone_index[static_cast<size_t>(codes[i])] = static_cast<int>(i) + 1;
      zones[i + 1].code = codes[i];
      zones[i + 1].share = 1.0 / static_cast<double>(codes.size());
    }
    settings.zone_table =
        zone_table_view{&zone_index, &zones, static_cast<int>(codes.size()), largest};
    strips.assign(static_cast<size_t>(rows) + 2, row_strip{1, cols});
    strips[0] = row_strip{0, -1};
    settings.strips = &strips;
    settings.ncols = cols;
    settings.nrows = rows;
    settings.first_row = 1;
    settings.last_row = rows;
    settings.cellsize = 100;
    control_file_reader reader(LANDUSE);
    read_landuse_table(reader.reader(), 2, landuse);
    settings.landuse_table = &landuse;
    soils.resize(3);
    soils[1].sand = 0.5;
    soils[1].silt = 0.3;
    soils[1].clay = 0.2;
    soils[2].sand = 1;
    soils[2].silt = soils[2].clay = 0;
    settings.soil_table = &soils;
    add("zonegrid", codes.front());
    add("[elevation_model]", 500);
    add("landuse1", 1);
    add("vegetation_coverage_degree1", 0);
    add("soil_types", 1);
    add("SurfStorSiltingUp", 0);
    add("throughfall0", 0);
  }

  grid_matrix& add(const std::string& grid_name, double value) {
    const int i = store.first_free(1);
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(0, nrows + 1, 0, ncols, nrows)));
    grid_matrix& g = *grids.back();
    for (int r = 0; r <= nrows + 1; ++r)
      for (int c = 0; c <= ncols; ++c) g[r][c] = value;
    store[i].grid = &g;
    store[i].grid_name = grid_name;
    store[i].file_name = grid_name + ".asc";
    return g;
  }

  // The section: method_line "" for none; block follows readgrid.
  void write(const std::string& method_line, const std::string& after_readgrid = "",
             const std::string& subbasins = "1\n2.0\n") {
    cd.dir.write("control.$$$", "[SiltingUpModel]\n1 flow control\n60 time interval\n" +
                                    method_line +
                                    "sdisp.stat 0 name of the statistics\n"
                                    "qdsu.stat 0 name of the statistics\n"
                                    "sdisp.asc grid\n0 write\npause.asc grid\n0 write\n"
                                    "ekin.asc grid\n0 write\ntsbb.asc grid\n0 write\n"
                                    "qdsu.asc grid\n0 write\n" +
                                    subbasins + "0 read control parameter\n" + after_readgrid);
  }

  std::unique_ptr<siltingupclass> build(int& status) {
    auto m = std::make_unique<siltingupclass>(status, cd.diag.get(), nullptr, 0, "SiltingUpModel",
                                              &store, settings);
    if (status == 0) m->select_input_grid(0);
    return m;
  }

  grid_matrix& named(const std::string& grid_name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == grid_name) return *store[i].grid;
    ADD_FAILURE() << grid_name << " not registered";
    return *grids.front();
  }

  int nrows, ncols;
  captured_diag cd;
  grid_store store;
  std::vector<int> zone_index;
  std::vector<zone_record> zones;
  std::vector<row_strip> strips;
  landuse_table_t landuse;
  std::vector<soil_entry> soils;
  settings_context settings;
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;
};

// One step on 20 April 2021 (day 110: ten days after tillage) of 60 minutes.
// 60 mm/h on the loam: e = 11.89 + 8.73 * 1.77815 = 27.413, E_k = 60 e =
// 1644.8 J/m2, f_cap = 5.873 + 59.127 exp(-0.0016230 * 1644.8) = 9.969 mm,
// q_d = 60 - 9.969 = 50.03 mm; half covered, E_k = 822.4 and f_cap =
// 5.873 + 59.127 exp(-1.3348) = 21.436 mm.
TEST(SiltingUp, CellsOfOneStep) {
  struct cell {
    const char* what;
    double klass, soil, input, coverage;
    double tsbb, ekin, cv, runoff, input_after, pause;
  } cells[] = {
      {"60 mm/h on tilled loam", 1, 1, 60, 0, 10, 1644.8, 0.001623, 50.03, 9.969, 0},
      {"half covered: E_k halved", 1, 1, 60, 0.5, 10, 822.4, 0.001623, 38.564, 21.436, 0},
      {"never tilled: no runoff", 2, 1, 60, 0, 0, 0, 0, 0, 60, 0},
      {"0.05 mm/h is no rain", 1, 1, 0.05, 0, 10, 0, 0.001623, 0, 0.05, 1.0 / 24},
      {"soil type beyond the table: not sealed", 1, 9, 60, 0, 0, 0, 0, 0, 60, 0},
      {"land use nodata: not sealed", -9999, 1, 60, 0, 0, 0, 0, 0, 60, 0},
  };
  const int n = static_cast<int>(std::size(cells));
  silting_fixture f(1, n);
  for (int c = 1; c <= n; ++c) {
    f.named("landuse1")[1][c] = cells[c - 1].klass;
    f.named("soil_types")[1][c] = cells[c - 1].soil;
    f.named("throughfall0")[1][c] = cells[c - 1].input;
    f.named("vegetation_coverage_degree1")[1][c] = cells[c - 1].coverage;
  }
  f.named("SurfStorSiltingUp")[1][1] = 7;  // reset: no surface routing
  f.write("");
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  EXPECT_EQ(m->get_method(), 1);
  m->time_step(12, 20, 4, 2021);
  for (int c = 1; c <= n; ++c) {
    const cell& k = cells[c - 1];
    EXPECT_NEAR(f.named("TimeSinceLastSoilTillage")[1][c], k.tsbb, 1e-12) << k.what;
    EXPECT_NEAR(f.named("KineticEnergy")[1][c], k.ekin, 0.1) << k.what;
    EXPECT_NEAR(f.named("SiltingUpDisposition")[1][c], k.cv, 5e-7) << k.what;
    EXPECT_NEAR(f.named("DirectRunoffSiltingUp")[1][c], k.runoff, 0.005) << k.what;
    EXPECT_NEAR(f.named("throughfall0")[1][c], k.input_after, 0.005) << k.what;
    EXPECT_NEAR(f.named("RainPause")[1][c], k.pause, 1e-12) << k.what;
    // The surface storage holds all the water of the step: input + runoff.
    EXPECT_NEAR(f.named("SurfStorSiltingUp")[1][c], k.input, 1e-12) << k.what;
  }
  m->release();
}

TEST(SiltingUp, TillageDayAndRainPauseRestart) {
  silting_fixture f(1, 1);
  f.named("throughfall0")[1][1] = 10;
  f.write("", "", "1\n1.5\n");  // minimum rain pause 1.5 d
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  m->time_step(12, 10, 4, 2021);  // day 100, a tillage day
  EXPECT_EQ(f.named("TimeSinceLastSoilTillage")[1][1], 0.3);
  const double first = f.named("KineticEnergy")[1][1];
  EXPECT_NEAR(first, 10 * 20.62, 0.05);
  // Rain again: the pause is 0, below 1.5 d: the energy accumulates.
  m->time_step(13, 10, 4, 2021);
  EXPECT_NEAR(f.named("KineticEnergy")[1][1], 2 * first, 1e-9);
  // 36 dry hours reach the minimum pause: the next rain starts afresh.
  f.named("throughfall0")[1][1] = 0;
  for (int h = 0; h < 36; ++h) m->time_step(h % 24, 11 + h / 24, 4, 2021);
  EXPECT_NEAR(f.named("RainPause")[1][1], 1.5, 1e-9);
  f.named("throughfall0")[1][1] = 10;
  m->time_step(1, 13, 4, 2021);
  EXPECT_NEAR(f.named("KineticEnergy")[1][1], first, 1e-9);
  m->release();
}

TEST(SiltingUp, MethodLineAndParameters) {
  const std::string params = "70 parameter A\n12 B\n0.5 C\n-0.6 D\n0.01 E\n-1 F\n0.6 G\n-0.2 H\n";
  struct row {
    std::string line, after;
    int method;
    double a;
  } rows[] = {
      {"", "", 1, 65},
      {"0\n", "", 0, 65},
      {"4\n", "", 4, 65},
      {"  2 method\n", params, 2, 70},
  };
  for (const auto& r : rows) {
    silting_fixture f(1, 1);
    f.named("throughfall0")[1][1] = 60;
    f.write(r.line, r.after);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << r.line << f.cd.console();
    EXPECT_EQ(m->get_method(), r.method);
    EXPECT_EQ(m->get_parameters().a, r.a);
    m->time_step(12, 20, 4, 2021);
    // Methods 0 and 4 compute like 1.
    if (r.method != 2) {
      EXPECT_NEAR(f.named("DirectRunoffSiltingUp")[1][1], 50.03, 0.005);
    }
    m->release();
  }
  silting_fixture f(1, 1);
  f.write("2\n", "70 parameter A\n12 B\n");
  int status = -1;
  auto m = f.build(status);
  EXPECT_EQ(status, 17);
  EXPECT_NE(f.cd.console().find("parameter C for method 2 (I_inf) "), std::string::npos)
      << f.cd.console();
}

TEST(SiltingUp, SubbasinBlock) {
  struct row {
    const char* block;
    std::vector<double> pauses;  // zone indices 1..3 (codes 1, 3, 5)
  } rows[] = {
      {"1 3 5\n1 2 3\n", {1, 2, 3}},
      {"1 5\n1 3\n", {1, 1, 3}},
      {"3 5\n4 6\n", {4, 4, 6}},  // the first value reaches the first code's zone
      {"1\n5 rest of line\n7\n8\n", {7, 7, 8}},
  };
  for (const auto& r : rows) {
    silting_fixture f(1, 1, {1, 3, 5});
    f.write("", "", r.block);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << r.block << f.cd.console();
    for (int z = 1; z <= 3; ++z) EXPECT_EQ(m->get_min_rain_pause(z), r.pauses[z - 1]) << r.block;
  }
  struct bad {
    const char* block;
    const char* message;
  } bads[] = {
      {"1 2 5\n1 2 3\n", "error! there is no code 2 (from "},
      {"1 7\n1 2\n", "error! there is no code 7 (from "},
      {"1 x\n", "error reading code[1] for SiltingUpModel\npossible error"},
      {"1 5\n1 x\n", "error reading RainPause[5] for SiltingUpModel (minimum rainpause)\npossible"},
  };
  for (const auto& b : bads) {
    silting_fixture f(1, 1, {1, 3, 5});
    f.write("", "", b.block);
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, 10) << b.block;
    EXPECT_NE(f.cd.console().find(std::string("-----------------error------------\n") + b.message),
              std::string::npos)
        << f.cd.console();
  }
}

TEST(SiltingUp, StatementBlockFailures) {
  struct row {
    const char* block;
    int code;
    const char* message;
  } rows[] = {
      {"  SiltingUpExpressions\n{ X=1; }\n", 402, "no SiltingUpExpressios found"},
      {"\nSiltingUpExpressions\n{ X=1; }\n", 402, "no SiltingUpExpressios found"},
      {"", 402, "no SiltingUpExpressios found"},
      {"SiltingUpExpressions\n  x { X=1; }\n", 400, "error looking for opening bracket"},
      {"SiltingUpExpressions\n \n", 400, "error looking for opening bracket"},
      {"SiltingUpExpressions {\n X = 1;\n", 401, "error looking for closing bracket"},
      // A block without ";" is no block: the search goes on.
      {"SiltingUpExpressions { X }\nother\nSiltingUpExpressions { X = 1; Y = 2 }\n", 0, ""},
  };
  for (const auto& r : rows) {
    silting_fixture f(1, 1);
    f.write("3\n", r.block);
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, r.code) << r.block;
    if (r.code != 0) {
      EXPECT_NE(f.cd.console().find(std::string(r.message)), std::string::npos) << f.cd.console();
      EXPECT_NE(f.cd.console().find("control.$$$"), std::string::npos);
    } else {
      // Blanks go, the text after the last ";" is dropped.
      EXPECT_EQ(m->get_statements(), std::vector<std::string>{"X=1"});
    }
  }
  silting_fixture f(1, 1);
  f.write("3\n", "SiltingUpExpressions\n\n  {\n a = 1 ; ;\n b\n=\t2;c}\n");
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  EXPECT_EQ(m->get_statements(), (std::vector<std::string>{"a=1", "", "b=2"}));
}

// Method 3 restating method 1, over several steps and cells, in 1 and 4
// threads: the same grids as method 1.
TEST(SiltingUp, RestatedMethodMatchesTheBuiltInOne) {
  std::vector<double> results[3];
  const char* names[] = {"KineticEnergy", "SiltingUpDisposition", "DirectRunoffSiltingUp",
                         "throughfall0", "RainPause"};
  struct run {
    const char* line;
    std::string block;
    int threads;
  } runs[] = {{"", "", 1}, {"3\n", RESTATED, 1}, {"3\n", RESTATED, 4}};
  for (int k = 0; k < 3; ++k) {
    omp_set_num_threads(runs[k].threads);
    silting_fixture f(6, 5);
    for (int r = 1; r <= 6; ++r)
      for (int c = 1; c <= 5; ++c) {
        f.named("landuse1")[r][c] = 1 + (r + c) % 3 / 2;
        f.named("soil_types")[r][c] = 1 + c % 2;
        f.named("vegetation_coverage_degree1")[r][c] = c * 0.1;
      }
    f.write(runs[k].line, runs[k].block);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.cd.console();
    for (int step = 0; step < 30; ++step) {
      for (int r = 1; r <= 6; ++r)
        for (int c = 1; c <= 5; ++c)
          f.named("throughfall0")[r][c] = (step * 3 + r * c) % 7 == 0 ? 0 : (step + r + c) % 90;
      m->time_step(step % 24, 20 + step / 24, 4, 2021);
      for (const char* n : names)
        for (int r = 1; r <= 6; ++r)
          for (int c = 1; c <= 5; ++c) results[k].push_back(f.named(n)[r][c]);
    }
    m->release();
  }
  omp_set_num_threads(1);
  ASSERT_EQ(results[0].size(), results[1].size());
  for (size_t i = 0; i < results[0].size(); ++i)
    ASSERT_NEAR(results[1][i], results[0][i], 1e-12 * std::max(1.0, std::fabs(results[0][i]))) << i;
  EXPECT_EQ(results[1], results[2]);
}

// A statement that fails in some rows only ends the step with 403, the same
// entry with 1 and 4 threads, and nothing escapes the parallel loop.
TEST(SiltingUp, FailingStatementEndsTheStep) {
  for (int threads : {1, 4}) {
    omp_set_num_threads(threads);
    silting_fixture f(8, 3);
    for (int c = 1; c <= 3; ++c)
      for (int r = 1; r <= 8; ++r) f.named("throughfall0")[r][c] = r >= 5 ? 2.5 : 2;
    f.write("3\n", "SiltingUpExpressions { X = 1; Y = P!; V = 2; }\n");
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.cd.console();
    int code = 0;
    try {
      m->time_step(12, 20, 4, 2021);
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, 403) << threads;
    EXPECT_NE(f.cd.console().find("\n-----------------error------------\nin instance "
                                  "SiltingUpModel\nexpression Y=P! could not be parsed correctly. "
                                  "Parser message: Error: Integer value expected in function "
                                  "factorial (col -1)\n"),
              std::string::npos)
        << f.cd.console();
    m->release();
  }
  omp_set_num_threads(1);
}

// Tracers: a decaying one with a half-life of one step halves by the module's
// own factor, whatever another module left in the shared entry; a
// non-evaporating one on the runoff cell of 60 mm (q_d 50.03 mm) gives the
// runoff min(60 max_conc, 60 M / (q_d + 60)) of its mass M = 60 * 1.
TEST(SiltingUp, TracersDecayAndLeaveWithTheRunoff) {
  silting_fixture f(1, 2);
  f.named("throughfall0")[1][1] = 60;
  f.add("concflux_tracer_1_input", 1);
  f.add("concflux_tracer_2_snow_model", 1);
  f.write("");
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  std::vector<tracer_entry> list(3);
  list[1].max_conc = 1000;
  list[2].radioactive = 1;
  list[2].half_time = 1.0 / 24;  // [d] one step of 60 minutes
  list[2].max_conc = 1000;
  for (int t = 1; t <= 2; ++t) list[t].name = "tr" + std::to_string(t);
  m->init_tracers(status, 2, list.data(), nullptr, 0);
  ASSERT_EQ(status, 0) << f.cd.console();
  list[2].decay_factor = 0.9;
  f.named("concstor_tracer_2_SiltingUpModel")[1][2] = 10;
  m->time_step(12, 20, 4, 2021);
  EXPECT_NEAR(f.named("concstor_tracer_2_SiltingUpModel")[1][2], 5, 1e-9);
  const double q_d = f.named("DirectRunoffSiltingUp")[1][1];
  ASSERT_NEAR(q_d, 50.03, 0.005);
  const double leaving = 60 * 60 / (q_d + 60);
  EXPECT_NEAR(f.named("concstor_tracer_1_SiltingUpModel")[1][1], 60 - leaving, 1e-9);
  EXPECT_NEAR(f.named("concflux_tracer_1_SiltingUpModel")[1][1], leaving / q_d, 1e-12);
  m->free_tracer_statistics();
  m->release();
}

// With SpinUp only the master cell of a unit is computed; the others take
// its values and count with them in the statistics (mean runoff 50.03 mm).
TEST(SiltingUp, UnitCellsCopyTheirMasterCell) {
  silting_fixture f(1, 3);
  f.settings.spinup_switch = 1;
  std::vector<hru_entry> units(2);
  units[1].row = 1;
  units[1].col = 2;
  f.settings.hru_list = &units;
  f.add("HydrologicResponseUnits", 1);
  grid_matrix& master = f.add("MasterHydrologicResponseUnits", -9999);
  master[1][2] = 1;
  f.named("throughfall0")[1][2] = 60;
  f.write("");
  std::string text = read_file(f.cd.dir.file("control.$$$"));
  text.replace(text.find("qdsu.stat 0"), 11, f.cd.dir.file("qdsu.stat") + " 1001");
  f.cd.dir.write("control.$$$", text);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  m->time_step(12, 20, 4, 2021);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_NEAR(f.named("DirectRunoffSiltingUp")[1][c], 50.03, 0.005) << c;
    EXPECT_NEAR(f.named("throughfall0")[1][c], 9.969, 0.005) << c;
    EXPECT_NEAR(f.named("KineticEnergy")[1][c], 1644.8, 0.1) << c;
  }
  m->flush_outputs();
  const std::string stats = read_file(f.cd.dir.file("qdsu.stat"));
  EXPECT_NEAR(std::stod(stats.substr(stats.rfind('\t', stats.size() - 2) + 1)), 50.03, 0.005)
      << stats;
  m->release();
}

// readgrid 1 starts the four state grids from their files; the direct runoff
// always starts at 0.
TEST(SiltingUp, ReadgridStartsTheStateGrids) {
  silting_fixture f(1, 2);
  const char* files[] = {"sdisp.asc", "pause.asc", "ekin.asc", "tsbb.asc"};
  for (int i = 0; i < 4; ++i)
    f.cd.dir.write(files[i],
                   "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\n"
                   "nodata_value -9999\n" +
                       std::to_string(i + 1) + " " + std::to_string(10 * (i + 1)) + "\n");
  f.write("");
  std::string text = read_file(f.cd.dir.file("control.$$$"));
  for (const char* name : files)
    text.replace(text.find(std::string(name) + " grid"), std::string(name).size(),
                 f.cd.dir.file(name));
  text.replace(text.find("0 read control parameter"), 1, "1");
  f.cd.dir.write("control.$$$", text);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  const char* grids[] = {"SiltingUpDisposition", "RainPause", "KineticEnergy",
                         "TimeSinceLastSoilTillage"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(f.named(grids[i])[1][1], i + 1) << grids[i];
    EXPECT_EQ(f.named(grids[i])[1][2], 10 * (i + 1)) << grids[i];
  }
  EXPECT_EQ(f.named("DirectRunoffSiltingUp")[1][2], 0);
  m->release();
}

TEST(SiltingUp, SetUpFailures) {
  {
    silting_fixture f(1, 1);
    f.add("GlacierizedCells", 0);
    f.write("");
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(f.cd.console().find("Silting-Up module cannot be used when glacier model is active"),
              std::string::npos);
  }
  {
    // Neither a method nor the first statistics line.
    silting_fixture f(1, 1);
    f.cd.dir.write("control.$$$", "[SiltingUpModel]\n1 flow\n60 interval\n");
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, 17);
    EXPECT_NE(f.cd.console().find("name of the statistics for silting disposition SDISP "),
              std::string::npos)
        << f.cd.console();
  }
}

}  // namespace
