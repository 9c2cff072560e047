// What the irrigation tests share: an irrigation entry built from its rule,
// and a row of four cells of one subbasin with an irrigation table of four
// entries, every grid the module reads, and the routing arrays it takes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "support/test_support.h"
#include "tables/irrigation.h"
#include "vertical/irrigate.h"

inline irrigation_entry entry(int method, int origin,
                              std::vector<std::array<double, 3>> schedule = {},
                              double min_ratio = 0) {
  irrigation_entry e;
  e.method = method;
  e.origin = origin;
  e.min_etr_etp = min_ratio;
  e.tabcnt = static_cast<int>(schedule.size());
  e.month.assign(1, 0);
  e.day.assign(1, 0);
  e.amount.assign(1, 0);
  for (const auto& s : schedule) {
    e.month.push_back(static_cast<int64_t>(s[0]));
    e.day.push_back(static_cast<int64_t>(s[1]));
    e.amount.push_back(s[2]);
  }
  return e;
}

struct irrigation_fixture {
  static constexpr int COLS = 4;
  irrigation_fixture() {
    settings.control_file = cd.dir.file("control.$$$");
    out_dir = cd.dir.path() + "/";
    settings.output_directory = &out_dir;
    zones[0].share = 100;  // [km2] of the basin
    zones[1].code = 1;
    zones[1].share = 1;
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = COLS;
    settings.nrows = 1;
    settings.first_row = 1;
    settings.last_row = 1;
    settings.cellsize = 100;
    settings.start_date = model_date{2001, 5, 1, 0};
    settings.end_date = model_date{2001, 5, 31, 0};
    settings.output_control = 1;
    settings.irrigation_table = &table;
    table.resize(5);
    table[0].code = 4;
    for (const char* n :
         {"zonegrid", "MPIRegions", "MPIHelper", "precipitation", "irrigation_codes", "Max_Pumping",
          "irrigation_amounts", "SB_1_grid", "SBLOW_grid", "SBHIGH_grid", "ETR2ETP", "root_depth1"})
      add(n, 0);
    set("zonegrid", 1);
    set("SBLOW_grid", 0.25);
    set("SBHIGH_grid", 0.35);
    set("root_depth1", 0.5);
    set("SB_1_grid", 0.2);
    set("Max_Pumping", 1000);
    set("ETR2ETP", 1);
    set("precipitation", 2);
    river = make_flow_arrays(9, 1);
    reservoirs = make_flow_arrays(9, 1);
    target.tributaries = {0, 0, 0};
    target.downstream = {0, 0};
    target.description = {0, 0};
  }
  void add(const std::string& grid_name, double v) {
    owned.push_back(grids.matrix(0, 2, 0, COLS + 1, 1));
    grid_matrix& g = owned.back();
    for (int r = 0; r <= 2; ++r)
      for (int c = 0; c <= COLS + 1; ++c) g[r][c] = v;
    const int i = static_cast<int>(owned.size());
    store[i].grid = &g;
    store[i].grid_name = grid_name;
    store[i].file_name = grid_name + ".asc";
  }
  grid_matrix& grid(const std::string& grid_name) {
    for (int i = 1; i < 1000; ++i)
      if (store[i].grid_name && *store[i].grid_name == grid_name) return *store[i].grid;
    throw 0;
  }
  void set(const std::string& grid_name, double v) {
    for (int c = 1; c <= COLS; ++c) grid(grid_name)[1][c] = v;
  }
  void set(const std::string& grid_name, std::vector<double> v) {
    for (int c = 1; c <= COLS; ++c) grid(grid_name)[1][c] = v[static_cast<size_t>(c - 1)];
  }
  std::vector<double> row_of(const std::string& grid_name) {
    std::vector<double> v;
    for (int c = 1; c <= COLS; ++c) v.push_back(grid(grid_name)[1][c]);
    return v;
  }
  // Builds and wires the module; the status.
  int build(int interval = 1440, int flow_control = 1) {
    cd.dir.write("control.$$$", "[irrigation]\n" + std::to_string(flow_control) +
                                    " flow control\n" + std::to_string(interval) +
                                    " time interval\ngw.sta 1001 Name des GWSTANDstatfiles fuer\n"
                                    "sw.sta 1001 Name des GWSTANDstatfiles fuer\n");
    int status = -1;
    module = std::make_unique<irrigationclass>(status, cd.diag.get(), &registry, 200, "irrigation",
                                               &store, settings,
                                               zone_table_view{&zone_index, &zones, 1, 1});
    if (status != 0) return status;
    try {
      module->set_maxirrig(&river, &reservoirs);
      module->set_routing_target(&target);
      module->set_abfrel(&abfrel);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  // One step; checks that precipitation grew by exactly the amounts.
  void step(int64_t day, int64_t hour = 0) {
    const std::vector<double> before = row_of("precipitation");
    module->time_step(hour, day, 5, 2001);
    const std::vector<double> after = row_of("precipitation");
    const std::vector<double> amounts = row_of("irrigation_amounts");
    for (int c = 0; c < COLS; ++c)
      EXPECT_EQ(after[static_cast<size_t>(c)],
                before[static_cast<size_t>(c)] + amounts[static_cast<size_t>(c)])
          << "day " << day << " cell " << c + 1;
  }
  std::string file(const std::string& n) {
    module->flush_outputs();
    std::ifstream in(cd.dir.file(n));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  ~irrigation_fixture() {
    if (module) module->release();
  }

  captured_diag cd;
  std::string out_dir;
  settings_context settings;
  grid_store store;
  statistics_registry registry;
  memory_handling grids;
  std::deque<grid_matrix> owned;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, COLS}};
  std::vector<irrigation_entry> table;
  subbasin_flow_arrays river, reservoirs;
  routing_target_table target;
  abfrel_table abfrel;
  std::unique_ptr<irrigationclass> module;
};
