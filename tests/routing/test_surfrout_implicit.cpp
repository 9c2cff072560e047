// Method 6 of the surface routing on two cells of a flat terrain, one of
// them wet and no river: with flow-control value 3 cells of different zone
// codes do not exchange water; otherwise the water spreads to the dry cell
// and stays on the two cells. The passes stop once no head changes by more
// than 0.0001 m, so without a river to take the difference the water of an
// internal step is kept only to about that much (here 0.1 mm over 60
// internal steps). Two interior cells cut off from the rest by flow-control
// value 3 swap their water to and fro in every pass when the conveyance
// dwarfs the storage term: the passes stop at 1000.
#include <gtest/gtest.h>

#include <string>

#include "routing/surfrout_fixture.h"

namespace {

TEST(SurfroutImplicit, ZonesAreKeptApartOnlyWithFlowControl3) {
  struct row {
    int flow_control;
    bool two_zones;
    bool apart;  // no water passes between the cells
  } rows[] = {{1, false, false}, {1, true, false}, {3, true, true}, {3, false, false}};
  for (const row& x : rows) {
    const std::string label = "flow control " + std::to_string(x.flow_control) +
                              (x.two_zones ? ", two zones" : ", one zone");
    surfrout_fixture f(1, 2, 10);
    f.fill("[elevation_model]", [](int, int) { return 10.0; });
    if (x.two_zones) {
      f.fill("zonegrid", [](int, int c) { return static_cast<double>(c); });
      f.zone_index = {0, 1, 2};
      f.zones.resize(3);
      f.zones[1].share = f.zones[2].share = 0.5;
      f.zones[2].code = 2;
      f.settings.zone_table = zone_table_view{&f.zone_index, &f.zones, 2, 2};
    }
    surfrout_section s;
    s.flow_control = x.flow_control;
    s.method = 6;
    s.interval = 10;
    s.s_min = 10;
    s.s_max = 10;
    ASSERT_EQ(f.build(s, 1), 0) << f.cap.console();
    grid_matrix& direct = f.named("directflow");
    grid_matrix& storage = f.named("SurfStorSiltingUp");
    direct[1][1] = 100;
    direct[1][2] = 0;
    f.module->begin_step(model_date{2001, 4, 1, 0});
    f.module->run_substep(model_date{2001, 4, 1, 0}, 1);
    EXPECT_EQ(f.module->get_internal_steps(), 60) << label;
    EXPECT_NEAR(storage[1][1] + storage[1][2], 100, 1) << label;
    if (x.apart) {
      EXPECT_NEAR(storage[1][1], 100.0, 1e-9) << label;
      EXPECT_EQ(storage[1][2], 0.0) << label;
    } else {
      EXPECT_GT(storage[1][2], 1.0) << label;
    }
  }
}

// 1 m cells, a Strickler value of 1e6 and one internal step of 600 s: the
// conveyance of the wet cell (1 m deep) is 6e8 times the storage term, so a
// pass all but swaps the two heads and the change stays near 1 m.
TEST(SurfroutImplicit, PassesStopAt1000WhenTheHeadsNeverSettle) {
  surfrout_fixture f(4, 4, 1);
  f.landuse[1].SR_K_ST = 1e6;
  f.fill("[elevation_model]", [](int, int) { return 10.0; });
  f.fill("zonegrid", [](int r, int c) { return r == 2 && (c == 2 || c == 3) ? 1.0 : 2.0; });
  f.zone_index = {0, 1, 2};
  f.zones.resize(3);
  f.zones[1].share = f.zones[2].share = 0.5;
  f.zones[2].code = 2;
  f.settings.zone_table = zone_table_view{&f.zone_index, &f.zones, 2, 2};
  surfrout_section s;
  s.flow_control = 3;
  s.method = 6;
  s.interval = 10;
  s.s_min = 600;
  s.s_max = 600;
  ASSERT_EQ(f.build(s, 1), 0) << f.cap.console();
  grid_matrix& direct = f.named("directflow");
  grid_matrix& storage = f.named("SurfStorSiltingUp");
  f.fill("directflow", [](int r, int c) { return r == 2 && c == 2 ? 1000.0 : 0.0; });
  f.module->begin_step(model_date{2001, 4, 1, 0});
  f.module->run_substep(model_date{2001, 4, 1, 0}, 1);
  EXPECT_EQ(f.module->get_internal_steps(), 1);
  EXPECT_EQ(f.module->get_last_passes(), 1000);
  // Every pass keeps the water of the pair; the other cells stay dry.
  EXPECT_NEAR(storage[2][2] + storage[2][3], 1000, 1e-6);
  double others = 0;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c)
      if (!(r == 2 && (c == 2 || c == 3))) others += storage[r][c] + direct[r][c];
  EXPECT_EQ(others, 0.0);
}

}  // namespace
