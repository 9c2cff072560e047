// The regional superposition over the small fixture grid (2 rows of 3 cells):
// its set-up checks with their codes and entries, the per-cell sums with a
// transition zone, the kernel's guards against codes without a rank, and the
// statistics file of a step. Expected values are hand calculations.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "meteo/meteo_fixture.h"
#include "meteo/superposition.h"

namespace {

constexpr double G = -9999;

// Region codes 3, 7, 12 (ranks 1, 2, 3): row 1 3 3 7, row 2 12 7 12. Cell
// (1,2) lies in the transition zone of 3 (share 0.6) and 7 (share 0.4).
// Inputs "inA" 1..6 and "inB" 10..60 row by row, "flat" 7 everywhere.
struct superposition_fixture : meteo_fixture {
  superposition_fixture() {
    region_index = std::vector<int>(13, 0);
    region_index[3] = 1;
    region_index[7] = 2;
    region_index[12] = 3;
    ctx.region_table.region_index = &region_index;
    ctx.region_table.region_count = 3;
    ctx.region_table.max_region_code = 12;
    fill("MPIRegions", {0, 0, 0, 0, 0, 0});
    fill("MPIHelper", {0, 0, 0, 0, 0, 0});
    fill("regression_regions", {3, 3, 7, 12, 7, 12});
    fill("regression_weights1", {1, 0.6, 1, 1, 1, 1});
    fill("regression_regions2", {0, 7, 0, 0, 0, 0});
    fill("regression_weights2", {0, 0.4, 0, 0, 0, 0});
    fill("regression_regions3", {0, 0, 0, 0, 0, 0});
    fill("regression_weights3", {0, 0, 0, 0, 0, 0});
    fill("inA", {1, 2, 3, 4, 5, 6});
    fill("inB", {10, 20, 30, 40, 50, 60});
    fill("flat", {7, 7, 7, 7, 7, 7});
  }
  grid_matrix& fill(const std::string& grid_name, const std::vector<double>& v) {
    owned.push_back(grids.matrix(1, ROWS, 1, COLS, ROWS));
    grid_matrix& g = owned.back();
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) g[r][c] = v[static_cast<size_t>((r - 1) * COLS + c - 1)];
    publish(free_entry(), grid_name, grid_name + ".asc", &g);
    return g;
  }
  grid_matrix& grid(const std::string& grid_name) {
    for (int i = 1; i < 1000; ++i)
      if (store[i].grid_name && *store[i].grid_name == grid_name) return *store[i].grid;
    throw 0;
  }
  void remove(const std::string& grid_name) {
    for (int i = 1; i < 1000; ++i)
      if (store[i].grid_name && *store[i].grid_name == grid_name)
        store[i].grid_name = "renamed_" + grid_name;
  }
  // Builds the module from the section body after its head; the code thrown or 0.
  int build(const std::string& body) {
    write_control("[RegionalSuperposition]\n1\n60\n" + body);
    try {
      module = std::make_unique<RegionalSuperposition>(cd.diag.get(), &registry, 200,
                                                       "RegionalSuperposition", &store, ctx);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  ~superposition_fixture() {
    if (module) module->release();
  }
  std::vector<int> region_index;
  std::deque<grid_matrix> owned;
  std::unique_ptr<RegionalSuperposition> module;
};

std::string entity(const std::string& groups, const std::string& name = "mix") {
  return name + " {\n" + groups + "outputgrid = " + name +
         ".asc; writecode = 0; outputtable = " + name + ".sta; statcode = 2001;\n}\n";
}
std::string group(const std::string& grid_name, const std::string& regions,
                  const std::string& weights) {
  return " entityinputgrid = " + grid_name + "; regions = " + regions + "; weights = " + weights +
         ";\n";
}
const std::string TWO_INPUTS =
    group("inA", "3 7 12", "0.5 0.25 1.0") + group("inB", "3,7,12", "0.5, 0.75, 0.0");

TEST(Superposition, SetUpChecks) {
  struct row {
    const char* what;
    std::string body;
    std::function<void(superposition_fixture&)> prepare;
    int code;
    const char* entry;  // empty: no entry expected
  };
  const row rows[] = {
      {"weights 0.5 0.25 1 and 0.5 0.75 0", "NumberOfEntities = 1;\n" + entity(TWO_INPUTS), nullptr,
       0, ""},
      {"a sum within 0.0001 of 1",
       "NumberOfEntities = 1;\n" +
           entity(group("inA", "3 7 12", "0.50009 0.25 1") + group("inB", "3 7 12", "0.5 0.75 0")),
       nullptr, 0, ""},
      {"no keyword on the line after the head", "Entities = 1;\n" + entity(TWO_INPUTS), nullptr,
       133, "could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]"},
      {"a block not closed before the file ends",
       "NumberOfEntities = 2;\n" + entity(TWO_INPUTS) + "second {\n" + TWO_INPUTS, nullptr, 133,
       "the block of entity second in section [RegionalSuperposition] is not closed by \"}\""},
      {"an output key missing",
       "NumberOfEntities = 1;\nmix {\n" + TWO_INPUTS + "outputgrid = a;}\n", nullptr, 133,
       "the key \"writecode\" is missing in entity mix"},
      {"regions out of order", "NumberOfEntities = 1;\n" + entity(group("inA", "3 12 7", "1 1 1")),
       nullptr, 134,
       "region on position 2 in the region list should have value 7\nbut was read as 12"},
      {"too few regions", "NumberOfEntities = 1;\n" + entity(group("inA", "3 7", "1 1")), nullptr,
       134,
       "The number of regions here (2) does not equal the number of\nregions in the "
       "regiongrid (3)"},
      {"a code of no region", "NumberOfEntities = 1;\n" + entity(group("inA", "3 5 12", "1 1 1")),
       nullptr, 134, "region on position 2 was read as 5\nThere is now region with this code"},
      {"fewer weights than regions",
       "NumberOfEntities = 1;\n" + entity(group("inA", "3 7 12", "1 1")), nullptr, 135,
       "The number of regions (3) does not equal the number of weights (2)"},
      {"0.5 and 0.4 for region 3",
       "NumberOfEntities = 1;\n" +
           entity(group("inA", "3 7 12", "0.5 0.25 1") + group("inB", "3 7 12", "0.4 0.75 0")),
       nullptr, 135, "region 1: The sum of all weights is not 1.0 but 0.9"},
      {"an input grid not in the store",
       "NumberOfEntities = 1;\n" + entity(group("nothere", "3 7 12", "1 1 1")), nullptr, 33,
       "nothere"},
      {"no region-code table", "NumberOfEntities = 1;\n" + entity(group("inA", "", "")),
       [](superposition_fixture& f) { f.ctx.region_table = region_table_view{}; }, 33,
       "entity mix of section [RegionalSuperposition] needs the region-code table"},
      {"no region grid", "NumberOfEntities = 1;\n" + entity(TWO_INPUTS),
       [](superposition_fixture& f) { f.remove("regression_regions"); }, 33,
       "needs the grid \"regression_regions\" of the settings"},
      {"no first weight grid", "NumberOfEntities = 1;\n" + entity(TWO_INPUTS),
       [](superposition_fixture& f) { f.remove("regression_weights1"); }, 33,
       "needs the grid \"regression_weights1\" of the settings"},
      {"no third region grid with three regions", "NumberOfEntities = 1;\n" + entity(TWO_INPUTS),
       [](superposition_fixture& f) { f.remove("regression_regions3"); }, 33,
       "needs the grid \"regression_regions3\" of the settings"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    superposition_fixture f;
    if (r.prepare) r.prepare(f);
    EXPECT_EQ(f.build(r.body), r.code) << f.console();
    if (r.code == 0) {
      EXPECT_EQ(f.module->entity_count(), 1);
    } else {
      EXPECT_NE(f.console().find(r.entry), std::string::npos) << f.console();
    }
  }
}

TEST(Superposition, CellsAreWeightedSumsOfTheirRegions) {
  struct row {
    const char* what;
    std::string groups;
    std::function<void(superposition_fixture&)> prepare;
    std::vector<double> expected;  // row by row
  };
  const row rows[] = {
      // Region 3: 0.5 A + 0.5 B; region 7: 0.25 A + 0.75 B; region 12: A.
      // (1,2): 0.6 (0.5 2 + 0.5 20) + 0.4 (0.25 2 + 0.75 20) = 6.6 + 6.2.
      {"two inputs with a transition zone", TWO_INPUTS, nullptr, {5.5, 12.8, 23.25, 4, 38.75, 6}},
      {"a uniform input stays uniform where the shares sum to 1",
       group("flat", "3 7 12", "1 1 1"),
       nullptr,
       {7, 7, 7, 7, 7, 7}},
      {"codes without a rank add no term",
       TWO_INPUTS,
       [](superposition_fixture& f) {
         grid_matrix& regions = f.grid("regression_regions");
         regions[1][1] = G;                           // nodata
         regions[2][1] = 5;                           // no region of the grid
         regions[2][3] = 1e9;                         // beyond the table
         f.grid("regression_regions2")[1][2] = 12.5;  // no whole code
       },
       {0, 0.6 * 11, 23.25, 0, 38.75, 0}},
      {"cells of another process are left to it",
       TWO_INPUTS,
       [](superposition_fixture& f) {
         for (int c = 1; c <= 3; ++c) f.grid("MPIRegions")[2][c] = 1;
       },
       {5.5, 12.8, 23.25, G, G, G}},
      {"cells outside the zone grid keep nodata",
       TWO_INPUTS,
       [](superposition_fixture& f) { f.zone_grid[2][2] = G; },
       {5.5, 12.8, 23.25, 4, G, 6}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    superposition_fixture f;
    if (r.prepare) r.prepare(f);
    ASSERT_EQ(f.build("NumberOfEntities = 1;\n" + entity(r.groups)), 0) << f.console();
    f.module->time_step(0, 1, 1, 2001);
    const grid_matrix& out = f.module->entity(0).output();
    for (int row_ = 1; row_ <= 2; ++row_)
      for (int c = 1; c <= 3; ++c)
        EXPECT_NEAR(out[row_][c], r.expected[static_cast<size_t>((row_ - 1) * 3 + c - 1)], 1e-12)
            << row_ << "," << c;
  }
}

TEST(Superposition, OutputGridIsPublishedAndItsStatisticsWritten) {
  superposition_fixture f;
  ASSERT_EQ(f.build("NumberOfEntities = 2;\n" + entity(TWO_INPUTS) +
                    entity(group("flat", "3 7 12", "1 1 1"), "even")),
            0)
      << f.console();
  // Each entity's grid under its name, a store entry of its own.
  const int mix = f.module->entity(0).output_store_index();
  const int even = f.module->entity(1).output_store_index();
  ASSERT_NE(mix, even);
  EXPECT_EQ(*f.store[mix].grid_name, "mix");
  EXPECT_EQ(*f.store[even].grid_name, "even");
  f.module->time_step(0, 1, 1, 2001);
  f.module->write_output();
  f.module->flush_outputs();
  std::ifstream in(f.path("mix.sta"));
  std::stringstream text;
  text << in.rdbuf();
  // The mean of the six cells: (5.5 + 12.8 + 23.25 + 4 + 38.75 + 6) / 6.
  EXPECT_NE(text.str().find("2001\t 1\t 1\t 0\t15.0500\t15.0500\n"), std::string::npos)
      << text.str();
  // An inactive module ignores its steps.
  superposition_fixture off;
  off.write_control("[RegionalSuperposition]\n0\n60\nnothing else\n");
  RegionalSuperposition inactive(off.cd.diag.get(), &off.registry, 200, "RegionalSuperposition",
                                 &off.store, off.ctx);
  inactive.time_step(0, 1, 1, 2001);
  inactive.write_output();
  EXPECT_EQ(inactive.entity_count(), 0);
  inactive.release();
}

}  // namespace
