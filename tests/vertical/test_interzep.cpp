// Interception against hand-worked cells: K = LAI * c = 4 * 0.2 = 0.8 mm;
// with v = 0.5, P = 3 and S0 = 0.2 the storage takes 1.5 mm to 1.7 mm and
// overflows 0.9 mm, so the throughfall is 1.5 + 0.9 = 2.4 mm and S = 0.8 mm
// before evaporation. Every cell balances: P = throughfall0 + dS + E.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "support/test_support.h"
#include "tables/landuse.h"
#include "tables/multilayer.h"
#include "vertical/interzep.h"
#include "vertical/interzep_kernels.h"

namespace {

TEST(InterceptionKernels, FillAndEvaporateByRule) {
  struct row {
    const char* what;
    int method;
    double capacity, coverage, input, storage;  // [mm], [-], [mm], [mm]
    double t, t0, e;                            // potentials [mm]
    double throughfall, evaporation, storage_after, t_after, t0_after;
  } rows[] = {
      {"overflow, T 0", 1, 0.8, 0.5, 3, 0.2, 0, 0, 0, 2.4, 0, 0.8, 0, 0},
      {"method 1, T below S", 1, 0.8, 0.5, 3, 0.2, 0.5, 0.7, 9, 2.4, 0.5, 0.3, 0, 0.2},
      {"method 11, T above S", 11, 0.8, 0.5, 3, 0.2, 1.0, 1.5, 0, 2.4, 0.8, 0, 0.2, 0.7},
      {"method 2, E above S", 2, 0.8, 0.5, 3, 0.2, 0.5, 0.7, 2, 2.4, 0.8, 0, 0, 0.2},
      {"method 12, E below S, T above E", 12, 0.8, 0.5, 3, 0.2, 1, 1, 0.3, 2.4, 0.3, 0.5, 0.7, 0.7},
      {"method 2, E above S, T above S", 2, 0.8, 0.5, 3, 0.2, 1, 1, 2, 2.4, 0.8, 0, 0.2, 0.2},
      {"coverage 0", 1, 0.8, 0, 3, 0.2, 0, 0, 0, 3, 0, 0.2, 0, 0},
      {"at capacity, no input", 1, 0.8, 0.5, 0, 0.8, 0.25, 0.25, 0, 0, 0.25, 0.55, 0, 0},
      {"other method evaporates nothing", 3, 0.8, 1, 0.5, 0, 5, 5, 5, 0, 0, 0.5, 5, 5},
  };
  for (const auto& r : rows) {
    double s = r.storage;
    evaporation_potentials p{r.t, r.t0, r.e};
    const canopy_step step =
        canopy_layer_step(interception_rule_of(r.method), r.capacity, r.coverage, r.input, s, p);
    EXPECT_NEAR(step.throughfall, r.throughfall, 1e-12) << r.what;
    EXPECT_NEAR(step.evaporation, r.evaporation, 1e-12) << r.what;
    EXPECT_NEAR(s, r.storage_after, 1e-12) << r.what;
    EXPECT_NEAR(p.transpiration, r.t_after, 1e-12) << r.what;
    EXPECT_NEAR(p.total_transpiration, r.t0_after, 1e-12) << r.what;
    EXPECT_NEAR(r.input, step.throughfall + (s - r.storage) + step.evaporation, 1e-12) << r.what;
  }
  // K = LAI * c, or LAI times the default layer when the class gives none.
  EXPECT_NEAR(canopy_capacity(4, 0.2, 0.35), 0.8, 1e-15);
  EXPECT_NEAR(canopy_capacity(4, -1, 0.35), 1.4, 1e-15);
  EXPECT_TRUE(interception_before_snow(11));
  EXPECT_FALSE(interception_before_snow(2));
}

// A 1 x n grid with L vegetation layers, every grid the module needs in the
// store; the land-use table has class 1 with IntercepCap 0.2 and class 2
// without a capacity.
struct interception_fixture {
  explicit interception_fixture(int columns, int layers = 1) : n(columns), layer_count(layers) {
    settings.control_file = cd.dir.file("control.$$$");
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = n;
    settings.nrows = 1;
    settings.first_row = 1;
    settings.last_row = 1;
    settings.cellsize = 100;
    strips = {row_strip{0, -1}, row_strip{1, n}};
    zones[1].code = 1;
    zones[1].share = 1;
    landuse.resize(3);
    landuse[1].IntercepCap = 0.2;
    landuse[2].IntercepCap = -1;
    settings.landuse_table = &landuse;
    if (layers > 1) {
      multilayer.resize(2);
      multilayer[1].layer_count = layers;
      settings.multilayer_table = &multilayer;
    }
    add("zonegrid", 1);
    add("precipitation", 0);
    for (int l = 1; l <= layers; ++l) {
      add("landuse" + std::to_string(l), 1);
      add("leaf_area_index" + std::to_string(l), 4);
      add("vegetation_coverage_degree" + std::to_string(l), 0.5);
    }
    for (int l = 0; l <= layers; ++l) {
      add("pot_transpiration" + std::to_string(l), 0);
      add("potential_InterceptionEvap" + std::to_string(l), 0);
      add("real_transpiration" + std::to_string(l), 0);
    }
  }

  grid_matrix& add(const std::string& grid_name, double value) {
    const int i = store.first_free(1);
    grids.push_back(std::make_unique<grid_matrix>(memory.matrix(0, 2, 0, n, 1)));
    grid_matrix& g = *grids.back();
    for (int r = 0; r <= 2; ++r)
      for (int c = 0; c <= n; ++c) g[r][c] = value;
    store[i].grid = &g;
    store[i].grid_name = grid_name;
    store[i].file_name = grid_name + ".asc";
    return g;
  }

  // statistics: the code of the three statistics files (0: none).
  void write(int method, double default_layer = 0.35, int statistics = 0, int readgrid = 0) {
    const std::string code = " " + std::to_string(statistics);
    cd.dir.write(
        "control.$$$",
        "[interception_model]\n1 flow control\n60 time interval\n" + std::to_string(method) +
            " method for\ntf.asc name outflow grid for\n0 write code\n" + cd.dir.file("tf.stat") +
            code + " statistics\nie.asc evaporation grid\n0 code\n" + cd.dir.file("ie.stat") +
            code + " statistics\n" + cd.dir.file("is.asc") + " storage grid\n0 code\n" +
            cd.dir.file("is.stat") + code + " statistics\n" + std::to_string(default_layer) +
            " parameter interception storage\n" + std::to_string(readgrid) +
            " readgrid parameter for\n");
  }

  std::unique_ptr<interzeptionsmodellklasse> build(int& status) {
    return std::make_unique<interzeptionsmodellklasse>(status, cd.diag.get(), nullptr, 0,
                                                       "interception_model", &store, settings);
  }

  grid_matrix& named(const std::string& grid_name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == grid_name) return *store[i].grid;
    ADD_FAILURE() << grid_name << " not registered";
    return *grids.front();
  }

  int n;
  int layer_count;
  captured_diag cd;
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips;
  std::vector<landuse_entry> landuse;
  std::vector<multilayer_landuse_entry> multilayer;
  settings_context settings;
  memory_handling memory;
  std::vector<std::unique_ptr<grid_matrix>> grids;
};

TEST(Interception, OneLayerCellsByMethodCoverageAndGlacier) {
  struct cell {
    const char* what;
    int method;
    double coverage, t, e, glacier, klass;
    double throughfall, evaporation, storage, t_after;
  } cells[] = {
      {"T 0: K = 4 * 0.2", 1, 0.5, 0, 0, 0, 1, 2.4, 0, 0.8, 0},
      {"method 1, T 0.5", 1, 0.5, 0.5, 0, 0, 1, 2.4, 0.5, 0.3, 0},
      {"method 2, E 2 above S", 2, 0.5, 0.5, 2, 0, 1, 2.4, 0.8, 0, 0},
      {"coverage 0", 1, 0, 0, 0, 0, 1, 3, 0, 0.2, 0},
      {"glacier 0.4: computed", 1, 0.5, 0.5, 0, 0.4, 1, 2.4, 0.5, 0.3, 0},
      {"glacier 1, method 1: all 0", 1, 0.5, 0.5, 0, 1, 1, 0, 0, 0, 0.5},
      {"glacier 1, method 11: input passes", 11, 0.5, 0.5, 0, 1, 1, 3, 0, 0, 0.5},
      {"glacier 0.999995, method 12", 12, 0.5, 0.5, 0, 0.999995, 1, 3, 0, 0, 0.5},
      {"default layer: K = 4 * 0.35", 1, 0.5, 0, 0, 0, 2, 1.8, 0, 1.4, 0},
      {"class nodata: no canopy", 1, 0.5, 0.5, 0, 0, -9999, 3.2, 0, 0, 0.5},
      {"class beyond the table: no canopy", 2, 0.5, 0.5, 9, 0, 7, 3.2, 0, 0, 0.5},
  };
  for (const auto& k : cells) {
    interception_fixture f(1);
    f.add("GlacierizedCells", k.glacier);
    f.named("precipitation")[1][1] = 3;
    f.named("vegetation_coverage_degree1")[1][1] = k.coverage;
    f.named("landuse1")[1][1] = k.klass;
    f.named("pot_transpiration1")[1][1] = k.t;
    f.named("pot_transpiration0")[1][1] = k.t;
    f.named("potential_InterceptionEvap1")[1][1] = k.e;
    f.write(k.method);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.cd.console();
    f.named("interception_storage1")[1][1] = 0.2;
    m->time_step(12, 1, 6, 2020);
    for (const char* level : {"1", "0"}) {
      EXPECT_NEAR(f.named(std::string("throughfall") + level)[1][1], k.throughfall, 1e-12)
          << k.what << " entry " << level;
      EXPECT_NEAR(f.named(std::string("interception_evaporation") + level)[1][1], k.evaporation,
                  1e-12)
          << k.what << " entry " << level;
      EXPECT_NEAR(f.named(std::string("interception_storage") + level)[1][1], k.storage, 1e-12)
          << k.what << " entry " << level;
      EXPECT_NEAR(f.named(std::string("pot_transpiration") + level)[1][1], k.t_after, 1e-12)
          << k.what << " entry " << level;
    }
    m->release();
  }
}

// The statistics count the computed part of a cell with weight 1 - f and
// the glacier part with f: glacier 0.4 gives the mean throughfall 0.6 * 2.4 =
// 1.44 mm and storage 0.6 * 0.3 = 0.18 mm; a full glacier passes the input of
// methods 11 and 12 on.
TEST(Interception, StatisticsWeighGlacierShares) {
  struct row {
    int method;
    double glacier, throughfall, storage, evaporation;
  } rows[] = {
      {1, 0.4, 1.44, 0.18, 0.3},
      {1, 1, 0, 0, 0},
      {11, 1, 3, 0, 0},
  };
  for (const auto& r : rows) {
    interception_fixture f(1);
    f.add("GlacierizedCells", r.glacier);
    f.named("precipitation")[1][1] = 3;
    f.named("pot_transpiration1")[1][1] = 0.5;
    f.named("pot_transpiration0")[1][1] = 0.5;
    f.write(r.method, 0.35, 1001);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.cd.console();
    f.named("interception_storage1")[1][1] = 0.2;
    m->time_step(12, 1, 6, 2020);
    m->flush_outputs();
    const std::pair<const char*, double> files[] = {
        {"tf.stat", r.throughfall}, {"is.stat", r.storage}, {"ie.stat", r.evaporation}};
    for (const auto& [file, expected] : files) {
      const std::string text = read_file(f.cd.dir.file(file));
      const std::string last = text.substr(text.rfind('\t', text.size() - 2) + 1);
      EXPECT_NEAR(std::stod(last), expected, 1e-9)
          << file << " " << r.method << " " << r.glacier << "\n"
          << text;
    }
    m->release();
  }
}

// Three layers; layer 2 of the second cell has no class: the water of layer 1
// reaches layer 3. The third cell has no class in any layer: its input
// reaches the ground. The fourth has only layer 1: layers 2 and 3 are 0 and
// layer 1's throughfall is the total.
TEST(Interception, LayersPassOverMissingClasses) {
  interception_fixture f(4, 3);
  grid_matrix& p = f.named("precipitation");
  for (int c = 1; c <= 4; ++c) p[1][c] = 3;
  f.named("landuse2")[1][2] = -9999;
  for (int l = 1; l <= 3; ++l) f.named("landuse" + std::to_string(l))[1][3] = -9999;
  f.named("landuse2")[1][4] = -9999;
  f.named("landuse3")[1][4] = -9999;
  for (int l = 0; l <= 3; ++l) f.named("pot_transpiration" + std::to_string(l))[1][1] = 10;
  f.write(1);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  EXPECT_EQ(m->get_layer_count(), 3);
  m->time_step(12, 1, 6, 2020);
  // Cell 1: each layer holds 0.8 of half its input, T = 10 evaporates it all:
  // layer 1: tf 1.5 + 0 = 1.5 (S 1.5 -> overflow 0.7: tf 2.2); layer 2: 2.2 ->
  // tf 1.1 + (1.1 - 0.8) = 1.4; layer 3: 1.4 -> tf 0.7, S 0.7.
  struct expected {
    int col;
    double tf[4], e[4], s[4];  // entries 0..3
  } rows[] = {
      {1, {0.7, 2.2, 1.4, 0.7}, {2.3, 0.8, 0.8, 0.7}, {0, 0, 0, 0}},
      {2, {1.4, 2.2, 0, 1.4}, {0, 0, 0, 0}, {1.6, 0.8, 0, 0.8}},
      {3, {3, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {4, {2.2, 2.2, 0, 0}, {0, 0, 0, 0}, {0.8, 0.8, 0, 0}},
  };
  for (const auto& r : rows)
    for (int i = 0; i <= 3; ++i) {
      const std::string l = std::to_string(i);
      EXPECT_NEAR(f.named("throughfall" + l)[1][r.col], r.tf[i], 1e-12) << r.col << " " << i;
      EXPECT_NEAR(f.named("interception_evaporation" + l)[1][r.col], r.e[i], 1e-12)
          << r.col << " " << i;
      EXPECT_NEAR(f.named("interception_storage" + l)[1][r.col], r.s[i], 1e-12)
          << r.col << " " << i;
    }
  // The total potential transpiration gave up the evaporated 2.3 mm.
  EXPECT_NEAR(f.named("pot_transpiration0")[1][1], 10 - 2.3, 1e-12);
  m->release();
}

// readgrid 1 with two layers: the storage grids of entry 0 and of the layers
// come from the name as read and from the names with "_Layer_1" and
// "_Layer_2" before the extension.
TEST(Interception, ReadgridReadsTheStorageOfEveryEntry) {
  interception_fixture f(2, 2);
  const char* names[] = {"is.asc", "is_Layer_1.asc", "is_Layer_2.asc"};
  for (int i = 0; i < 3; ++i)
    f.cd.dir.write(names[i],
                   "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\n"
                   "nodata_value -9999\n" +
                       std::to_string(0.5 + i) + " " + std::to_string(0.25 + i) + "\n");
  f.write(1, 0.35, 0, 1);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  for (int i = 0; i < 3; ++i) {
    const grid_matrix& s = f.named("interception_storage" + std::to_string(i));
    EXPECT_EQ(s[1][1], 0.5 + i) << i;
    EXPECT_EQ(s[1][2], 0.25 + i) << i;
  }
  m->release();
}

// Many steps over varied cells: per cell and step P = throughfall0 + dS + E
// to round-off, with 1 and 4 threads giving identical grids.
TEST(Interception, BalancesAndIsThreadInvariant) {
  const int n = 64;
  std::vector<double> results[2];
  for (int run = 0; run < 2; ++run) {
    omp_set_num_threads(run == 0 ? 1 : 4);
    for (int layers : {1, 2}) {
      interception_fixture f(n, layers);
      for (int c = 1; c <= n; ++c) {
        f.named("leaf_area_index1")[1][c] = 0.5 + (c % 7);
        f.named("vegetation_coverage_degree1")[1][c] = (c % 5) / 4.0;
        f.named("landuse1")[1][c] = 1 + c % 2;
        if (layers == 2) f.named("landuse2")[1][c] = c % 3 == 0 ? -9999 : 1;
      }
      f.write(layers == 1 ? 2 : 1);
      int status = -1;
      auto m = f.build(status);
      ASSERT_EQ(status, 0) << f.cd.console();
      grid_matrix& storage = f.named("interception_storage0");
      for (int step = 0; step < 12; ++step) {
        std::vector<double> before(n + 1), input(n + 1);
        for (int c = 1; c <= n; ++c) {
          input[c] = f.named("precipitation")[1][c] = (step * 7 + c) % 6 * 0.9;
          for (int l = 0; l <= layers; ++l) {
            f.named("pot_transpiration" + std::to_string(l))[1][c] = (step + c) % 4 * 0.3;
            f.named("potential_InterceptionEvap" + std::to_string(l))[1][c] = (c % 3) * 0.2;
          }
          before[c] = storage[1][c];
        }
        m->time_step(step % 24, 1, 6, 2020);
        for (int c = 1; c <= n; ++c) {
          const double out = f.named("throughfall0")[1][c] +
                             f.named("interception_evaporation0")[1][c] + storage[1][c] - before[c];
          ASSERT_NEAR(input[c], out, 1e-12) << "cell " << c << " step " << step;
          results[run].push_back(storage[1][c]);
          results[run].push_back(f.named("throughfall0")[1][c]);
        }
      }
      m->release();
    }
  }
  omp_set_num_threads(1);
  EXPECT_EQ(results[0], results[1]);
}

// One layer with tracers (K 0.8, v 0.5, P 3, S0 0.2, input concentration 2):
// a non-evaporating tracer keeps the amount 1.5 * 2 = 3 in the storage, of
// which the overflow 0.9 of 1.7 mm carries 3 * 0.9 / 1.7 = 1.588 into the
// throughfall of 2.4 mm: c = (3 + 1.588) / 2.4 = 1.912, and 6 = 2.4 c + 1.412.
// An evaporating tracer mixes (1 * 0.2 + 2 * 1.5) / 1.7 = 1.882 in the storage
// and (1.882 * 0.9 + 2 * 1.5) / 2.4 = 1.956 in the throughfall. A decaying
// tracer with a half-life of one step halves, by the module's own factor
// whatever another module left in the shared entry.
TEST(Interception, TracersOfOneLayer) {
  interception_fixture f(2);
  for (int c = 1; c <= 2; ++c) f.named("precipitation")[1][c] = 3;
  f.named("precipitation")[1][2] = 0;
  f.add("concflux_tracer_1_input", 2);
  f.add("concflux_tracer_2_input", 2);
  f.add("concflux_tracer_3_snow_model", 2);
  f.write(1);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  std::vector<tracer_entry> list(4);
  list[1].evaporating = 0;
  list[1].max_conc = 1000;
  list[2].evaporating = 1;
  list[3].radioactive = 1;
  list[3].half_time = 1.0 / 24;  // [d] one step of 60 minutes
  list[3].max_conc = 1000;
  for (int t = 1; t <= 3; ++t) list[t].name = "tr" + std::to_string(t);
  m->init_tracers(status, 3, list.data(), nullptr, 0);
  ASSERT_EQ(status, 0) << f.cd.console();
  list[3].decay_factor = 0.9;  // as another module's set-up may leave it
  f.named("interception_storage1")[1][1] = 0.2;
  f.named("concstor_tracer_2_interception_model")[1][1] = 1;
  f.named("concstor_tracer_3_interception_model")[1][2] = 10;  // no input: decay only
  m->time_step(12, 1, 6, 2020);
  const grid_matrix& s1 = f.named("concstor_tracer_1_interception_model");
  const grid_matrix& f1 = f.named("concflux_tracer_1_interception_model");
  EXPECT_NEAR(s1[1][1], 3 - 3 * 0.9 / 1.7, 1e-12);
  EXPECT_NEAR(f1[1][1], (3 + 3 * 0.9 / 1.7) / 2.4, 1e-12);
  EXPECT_NEAR(2 * 3, f1[1][1] * 2.4 + s1[1][1], 1e-12);  // the tracer balances
  EXPECT_NEAR(f.named("concstor_tracer_2_interception_model")[1][1], 3.2 / 1.7, 1e-12);
  EXPECT_NEAR(f.named("concflux_tracer_2_interception_model")[1][1], (3.2 / 1.7 * 0.9 + 3) / 2.4,
              1e-12);
  EXPECT_NEAR(f.named("concstor_tracer_3_interception_model")[1][2], 5, 1e-9);
  m->free_tracer_statistics();
  m->release();
}

// The method is read only by an active module; above 10 interception runs
// before snow.
TEST(Interception, MethodIsReadOnlyByAnActiveModule) {
  struct row {
    int flow_control, method, expected;
  } rows[] = {{1, 11, 11}, {0, 11, 0}, {1, 2, 2}};
  for (const auto& r : rows) {
    interception_fixture f(1);
    f.write(r.method);
    if (r.flow_control == 0) {
      std::string text = read_file(f.cd.dir.file("control.$$$"));
      text.replace(text.find("1 flow control"), 1, "0");
      f.cd.dir.write("control.$$$", text);
    }
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, 0) << f.cd.console();
    EXPECT_EQ(m->get_method(), r.expected) << r.flow_control << " " << r.method;
    m->release();
  }
}

TEST(Interception, SetUpFailures) {
  {
    // The evapotranspiration module's grids are required.
    interception_fixture f(1);
    f.store[f.store.first_free(1) - 1].grid_name = "renamed";  // real_transpiration1
    f.write(1);
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, 33);
    EXPECT_NE(f.cd.console().find("real_transpiration1"), std::string::npos) << f.cd.console();
  }
  {
    interception_fixture f(1);
    f.cd.dir.write("control.$$$",
                   "[interception_model]\n1 flow control\n60 time interval\n1 method for\n");
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, 17);
    EXPECT_NE(f.cd.console().find("name outflow grid for "), std::string::npos) << f.cd.console();
  }
  {
    // Inactive: no method, no grids.
    interception_fixture f(1);
    f.cd.dir.write("control.$$$", "[interception_model]\n0 flow control\n60 time interval\n");
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(m->get_method(), 0);
    m->time_step(1, 1, 1, 2020);
    m->release();
  }
}

}  // namespace
