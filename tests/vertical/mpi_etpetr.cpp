// Potential evapotranspiration on a divided grid: Penman-Monteith over the
// hours of a summer day and over one daily step (day and night
// temperatures written back), and Wendling over a daily step, on 1, 4
// threads. Every process also computes the whole grid undivided in a store
// of its own; the gathered grids of the divided run must equal that
// reference bit for bit, and the zone means of the statistics file the
// reference's means to the file's decimals.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <cmath>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "etpetr_fixture.h"
#include "settings/derived_setup_fixture.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 8;
// '.' is outside the basin; zones 1 and 2.
const char* const BASIN[ROWS] = {"........", ".111111.", "1111111.", ".1111222", "..112222",
                                 ".111.222", ".1112222", "111222..", "........"};

double zone_value(int r, int c) {
  const char v = BASIN[r - 1][c - 1];
  return v == '.' ? -9999 : v - '0';
}

std::string zone_text() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c)
      rows += std::to_string(static_cast<int>(zone_value(r, c))) + " ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

std::string dem_text() {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += std::to_string(400 + 37 * r + 11 * c) + " ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

// Inputs that vary from cell to cell.
struct input_field {
  const char* name;
  double base, per_row, per_col;
};
const input_field INPUTS[] = {
    {"temperature", 14, 0.7, -0.4},
    {"temperature_night", 9, 0.5, -0.3},
    {"landuse1", 1, 0, 0},
    {"wind_speed", 1, 0.2, 0.15},
    {"leaf_area_index1", 0.5, 0.3, 0.2},
    {"root_depth1", 0.5, 0, 0},
    {"vegetation_coverage_degree1", 0.5, 0.05, 0.02},
    {"SurfaceCanopyResistance1", 40, 5, 3},
    {"SurfaceIntercepResistance1", 30, 2, 1},
    {"RoughnessLength1", 0.01, 0.02, 0.05},
    {"SurfaceEvaporationResistance", 100, 20, 10},
    {"albedo", 0.12, 0.01, 0.01},
    {"global_radiation", 80, 10, 5},
    {"air_humidity", 0.4, 0.04, 0.03},
};

struct run_result {
  std::vector<std::vector<double>> grids;  // rank 0: every output grid, row-major
  std::vector<double> means;               // rank 0: zone 1, zone 2, total of the last row
};

const char* const OUTPUTS[] = {"pot_transpiration0",
                               "pot_transpiration1",
                               "potential_InterceptionEvap0",
                               "potential_evaporation",
                               "AspectCorrectedGlobalRadiation",
                               "cloudiness",
                               "SSDTemp",
                               "temperature",
                               "temperature_night"};

struct scenario {
  const char* what;
  int method;
  int interval;  // [min]
  int first_hour, last_hour;
};

// Builds the module over store with the inputs over rows first..last and
// runs the scenario; returns the gathered outputs (divided) or the whole
// grids (undivided).
run_result run_module(const scenario& sc, const settings_context& ctx, grid_store& store,
                      statistics_registry& registry, DiagStream* diag, bool divided,
                      const std::string& statistics_file) {
  memory_handling memory;
  std::deque<grid_matrix> grids;
  const int first = divided ? std::max(1, ctx.first_row - 1) : 1;
  const int last = divided ? std::min(ROWS, ctx.last_row + 1) : ROWS;
  std::vector<int> added;
  for (const input_field& in : INPUTS) {
    grid_matrix& g = grids.emplace_back(memory.matrix(first, last, 0, COLS, ROWS));
    for (int r = first; r <= last; ++r)
      for (int c = 0; c <= COLS; ++c) g[r][c] = in.base + in.per_row * r + in.per_col * c;
    const int i = store.first_free(1);
    store[i].grid = &g;
    store[i].grid_name = in.name;
    store[i].file_name = std::string(in.name) + ".asc";
    added.push_back(i);
  }
  int status = -1;
  auto module = std::make_unique<verdunstungsmodellklasse>(status, diag, &registry, 200,
                                                           "evapotranspiration", &store, ctx);
  EXPECT_EQ(status, 0);
  run_result out;
  if (status != 0) return out;
  for (int hour = sc.first_hour; hour <= sc.last_hour; ++hour)
    module->compute_potential_evapotranspiration(hour, 21, 6, 2001);
  for (const char* name : OUTPUTS) {
    const int index = module->find_grid(name, 1);
    const grid_matrix whole = divided ? module->gather_grid_copy(index) : grid_matrix();
    const grid_matrix& g = divided ? whole : *store[index].grid;
    std::vector<double> values;
    if (!divided || world_rank() == 0)
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= COLS; ++c)
          values.push_back(zone_value(r, c) == -9999 ? -9999 : g[r][c]);
    out.grids.push_back(values);
  }
  module->flush_outputs();
  module->release();
  module.reset();
  for (int i : added) store[i] = grid_entry();
  if (!statistics_file.empty() && world_rank() == 0) {
    std::ifstream in(statistics_file);
    std::string line, last_line;
    while (std::getline(in, line))
      if (!line.empty()) last_line = line;
    std::istringstream fields(last_line);
    double value = 0;
    for (int k = 0; k < 4; ++k) fields >> value;  // the date
    while (fields >> value) out.means.push_back(value);
  }
  return out;
}

TEST(EtpMpi, SameGridsAndStatisticsOnAnyDivisionAndThreadCount) {
  const scenario scenarios[] = {
      {"Penman-Monteith, hourly", 1, 60, 1, 24},
      {"Penman-Monteith, daily", 1, 1440, 24, 24},
      {"Wendling, daily", 3, 1440, 24, 24},
  };
  for (const scenario& sc : scenarios) {
    etp_section section;
    section.method = sc.method;
    section.interval = sc.interval;
    section.amplitudes = "8 8 8 9 10 11 11 11 10 9 8 8";
    section.fractions = "0.6 0.1";
    std::string text = section.text();
    // The potential transpiration's statistic: every zone and the total,
    // one row per step.
    const std::string pot_stat = "pot.txt 0 Name of ETP-stat.file";
    text.replace(text.find(pot_stat), pot_stat.size(), "pot.txt 2001 Name of ETP-stat.file");
    control_parts parts;
    parts.transition = "1000\n" + text;
    settings_setup run(parts, {{"zones.asc", zone_text()}, {"dem.asc", dem_text()}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    const settings_context& ctx = run.settings->export_settings();

    // The undivided reference: the whole grid in a store of its own.
    grid_store whole_store;
    memory_handling memory;
    grid_matrix zone = memory.matrix(1, ROWS, 0, COLS, ROWS);
    grid_matrix dem = memory.matrix(1, ROWS, 0, COLS, ROWS);
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 0; c <= COLS; ++c) {
        zone[r][c] = c == 0 ? -9999 : zone_value(r, c);
        dem[r][c] = 400 + 37 * r + 11 * c;
      }
    whole_store[1].grid = &zone;
    whole_store[1].grid_name = "zonegrid";
    whole_store[1].file_name = "zones.asc";
    whole_store[2].grid = &dem;
    whole_store[2].grid_name = "[elevation_model]";
    whole_store[2].file_name = "dem.asc";
    std::vector<row_strip> strips(ROWS + 1, row_strip{1, COLS});
    strips[0] = row_strip{0, -1};
    settings_context whole = ctx;
    whole.first_row = 1;
    whole.last_row = ROWS;
    whole.strips = &strips;
    statistics_registry whole_registry;
    omp_set_num_threads(1);
    const run_result reference =
        run_module(sc, whole, whole_store, whole_registry, run.cap.diag.get(), false, "");

    for (int threads : {1, 4}) {
      omp_set_num_threads(threads);
      const run_result divided = run_module(sc, ctx, run.store, run.registry, run.cap.diag.get(),
                                            true, run.path("out/pot.txt"));
      if (run.rank != 0) continue;
      ASSERT_EQ(divided.grids.size(), reference.grids.size());
      for (size_t g = 0; g < reference.grids.size(); ++g)
        EXPECT_EQ(divided.grids[g], reference.grids[g])
            << sc.what << ", " << threads << " thread(s): " << OUTPUTS[g];
      // Zone means of layer 0 from the reference grid (every cell weighs 1).
      double sum[3] = {0, 0, 0}, count[3] = {0, 0, 0};
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= COLS; ++c) {
          const double z = zone_value(r, c);
          if (z == -9999) continue;
          const double v = reference.grids[0][static_cast<size_t>((r - 1) * COLS + c - 1)];
          sum[static_cast<int>(z) - 1] += v;
          count[static_cast<int>(z) - 1] += 1;
          sum[2] += v;
          count[2] += 1;
        }
      ASSERT_EQ(divided.means.size(), 3u) << sc.what;
      for (int z = 0; z < 3; ++z)
        EXPECT_NEAR(divided.means[static_cast<size_t>(z)], sum[z] / count[z], 1e-5)
            << sc.what << ", zone " << z + 1;
      // Cells do differ: a constant field would hide a mixed-up cell.
      EXPECT_NE(reference.grids[0][9], reference.grids[0][20]) << sc.what;
    }
    omp_set_num_threads(2);
    MPI_Barrier(MPI_COMM_WORLD);
  }
}

}  // namespace
