// The travel-time zone queues that the unsaturated zone and the surface
// routing build alike, on a grid of one row of four cells held by process 0:
// shares, log lines and codes counted by hand, and the shift at the start of
// a step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "modelbase/memhandling.h"
#include "submodel/runoffrecords.h"
#include "support/test_support.h"

namespace {

struct zones_fixture {
  captured_diag cap;
  memory_handling grids;
  grid_matrix zone_grid = grids.matrix(1, 1, 0, 4, 1);
  grid_matrix regions = grids.matrix(1, 1, 0, 4, 1);
  grid_matrix times = grids.matrix(1, 1, 0, 4, 1);
  // Two subbasins, codes 4 and 7, indices 1 and 2.
  std::vector<int> index = std::vector<int>(8, 0);
  std::vector<zone_record> zones = std::vector<zone_record>(3);
  flow_time_zone_setup setup;

  // Zone codes and flow times [steps] of the four cells.
  zones_fixture(const std::vector<double>& codes, const std::vector<double>& steps) {
    index[4] = 1;
    index[7] = 2;
    zones[1].code = 4;
    zones[2].code = 7;
    for (int c = 1; c <= 4; ++c) {
      zone_grid[1][c] = codes[static_cast<size_t>(c - 1)];
      times[1][c] = steps[static_cast<size_t>(c - 1)];
    }
    setup.diag = cap.diag.get();
    setup.flow_times = &times;
    setup.flow_times_file = "ft.asc";
    setup.step_minutes = 60;
    setup.zone_grid = &zone_grid;
    setup.regions = &regions;
    setup.nodata = NODATA;
    setup.first_row = 1;
    setup.last_row = 1;
    setup.ncols = 4;
    setup.zone_index = &index;
    setup.zones = &zones;
    setup.subbasin_count = 2;
    setup.tracer_count = 2;
    setup.log_directory = cap.dir.path();
  }
  int build(flow_time_queues& q) {
    try {
      flow_time_zones(setup, q);
    } catch (int code) {
      return code;
    }
    return 0;
  }
};

TEST(FlowTimeZones, SharesForEveryTracerAndTheLogLines) {
  // Subbasin 4: zones 1, 1, 3 (weights 1, 1, 1); subbasin 7: zone 2 at
  // weight 3 and zone 1 at weight 1. Values already in steps are kept.
  zones_fixture f({4, 4, 4, 7}, {1, 1.9, 3, 1});
  grid_matrix weights = f.grids.matrix(1, 1, 0, 4, 1);
  for (int c = 1; c <= 4; ++c) weights[1][c] = 1;
  f.setup.weights = &weights;
  f.setup.weight_scale = 2;
  flow_time_queues q;
  ASSERT_EQ(f.build(q), 0) << f.cap.console();
  EXPECT_EQ(f.times[1][2], 1.9);
  EXPECT_EQ(read_file(f.cap.dir.file("modell_0.log")),
            "flow time distribution:\n"
            "TG\t   4\t(  3\tZonen):\t0.667\t0.000\t0.333\n"
            "TG\t   7\t(  1\tZonen):\t1.000\n");
  ASSERT_EQ(q.zones_of(1), 3);
  for (int t = 0; t <= 2; ++t)
    for (auto* queues : {&q.direct, &q.interflow}) {
      const std::vector<zone_record>& z = (*queues)[static_cast<size_t>(t)][1];
      EXPECT_DOUBLE_EQ(z[1].share, 2.0 / 3) << t;
      EXPECT_DOUBLE_EQ(z[3].share, 1.0 / 3) << t;
      EXPECT_EQ(z[3].code, 3) << t;
    }
  // Cumulative weights (3, 1, 1) x 2 sub-steps' worth, water queues only.
  const double weights_of[] = {0, 6, 2, 2};
  for (int k = 0; k <= 3; ++k) {
    EXPECT_EQ(q.direct[0][1][static_cast<size_t>(k)].weight, weights_of[k]) << k;
    EXPECT_EQ(q.direct[1][1][static_cast<size_t>(k)].weight, 0) << k;
  }

  // The shift: every zone one place towards the head, the last cleared.
  q.direct[0][1][3].sum = 9;
  q.direct[0][1][0].sum = 5;  // record 0 stays
  shift_zone_queues(q);
  EXPECT_EQ(q.direct[0][1][2].sum, 9);
  EXPECT_EQ(q.direct[0][1][2].weight, 2);
  EXPECT_EQ(q.direct[0][1][1].weight, 2);
  EXPECT_EQ(q.direct[0][1][3].weight, 0);
  EXPECT_EQ(q.direct[0][1][3].sum, 0);
  EXPECT_EQ(q.direct[0][1][3].share, 1.0 / 3);
  EXPECT_EQ(q.direct[0][1][0].sum, 5);
  // One zone: the shift only clears it.
  EXPECT_EQ(q.direct[0][2][1].weight, 0);
}

TEST(FlowTimeZones, SubbasinsWithoutCountedCellsOrWithAnEmptyFirstZoneStop) {
  struct row {
    const char* name;
    std::vector<double> codes, steps;
    int code;
    const char* message;
  } rows[] = {
      {"no cell of subbasin 7", {4, 4, NODATA, NODATA}, {1, 2, 1, 1}, 6,
       "all cells in ft.asc, subbasin 7 are NODATA!"},
      {"zone 1 of subbasin 2 empty", {4, 4, 7, 7}, {1, 2, 2, 3}, 61,
       "in flow-travel-time grid: the first time zone of subbasin 2 has no cells!"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    zones_fixture f(r.codes, r.steps);
    flow_time_queues q;
    EXPECT_EQ(f.build(q), r.code);
    EXPECT_NE(f.cap.console().find(r.message), std::string::npos) << f.cap.console();
  }
}

TEST(FlowTimeZones, WithoutTheGridOneZoneOfShareOne) {
  zones_fixture f({4, 4, 7, 7}, {1, 2, 2, 3});
  f.setup.flow_times = nullptr;
  f.setup.no_grid_text =
      "flow time distribution will not be calculated (no flow time grid provided)\n";
  flow_time_queues q;
  ASSERT_EQ(f.build(q), 0);
  for (int b = 1; b <= 2; ++b) {
    EXPECT_EQ(q.zones_of(b), 1);
    EXPECT_EQ(q.interflow[2][static_cast<size_t>(b)][1].share, 1);
    EXPECT_EQ(q.direct[0][static_cast<size_t>(b)][1].weight, 0);
  }
  EXPECT_EQ(read_file(f.cap.dir.file("modell_0.log")),
            "flow time distribution will not be calculated (no flow time grid provided)\n");
  // A log that cannot be opened is a warning.
  zones_fixture g({4, 4, 7, 7}, {1, 2, 1, 3});
  g.setup.log_directory = g.cap.dir.file("missing");
  ASSERT_EQ(g.build(q), 0);
  EXPECT_NE(g.cap.console().find("error opening log-file " +
                                 g.cap.dir.file("missing") + "/modell_0.log"),
            std::string::npos)
      << g.cap.console();
}

}  // namespace
