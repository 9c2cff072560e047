// Store entries of the unsaturated zone's own grids: their order for each
// readgrid with and without ponding and irrigation, and a store with a gap.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "soilwater/unsatzon_grids.h"
#include "support/test_support.h"

namespace {

int position(const std::vector<std::string>& names, const std::string& name) {
  const auto at = std::find(names.begin(), names.end(), name);
  return at == names.end() ? -1 : static_cast<int>(at - names.begin());
}

TEST(UnsatzonGridEntries, OrderPerReadgridPondingAndIrrigation) {
  struct row {
    int readgrid;
    bool pond, irrigation;
    std::vector<std::string> first;  // the first entries, in order
    size_t count;                    // 25 always, 1 with ponding, 5 with irrigation
  } rows[] = {
      {0,
       false,
       false,
       {"groundwater_distance", "geodetic_heads", "theta", "hydraulic_heads", "baseflow",
        "groundwater_level", "Theta_in_GWLEVEL", "q_down"},
       25},
      {0, true, false, {"groundwater_distance", "ponding_storage", "geodetic_heads"}, 26},
      {0, false, true, {"groundwater_distance", "geodetic_heads"}, 30},
      {2, true, true, {"groundwater_distance", "ponding_storage"}, 31},
      {1,
       false,
       false,
       {"theta", "geodetic_heads", "hydraulic_heads", "groundwater_distance", "groundwater_level",
        "Theta_in_GWLEVEL", "baseflow", "q_down"},
       25},
      {1,
       true,
       false,
       {"theta", "geodetic_heads", "hydraulic_heads", "groundwater_distance", "groundwater_level",
        "Theta_in_GWLEVEL", "baseflow", "ponding_storage", "q_down"},
       26},
      {3,
       true,
       true,
       {"theta", "geodetic_heads", "hydraulic_heads", "groundwater_distance", "groundwater_level",
        "Theta_in_GWLEVEL", "baseflow", "ponding_storage", "q_down"},
       31},
  };
  for (const row& r : rows) {
    SCOPED_TRACE("readgrid " + std::to_string(r.readgrid) + " pond " + std::to_string(r.pond) +
                 " irrigation " + std::to_string(r.irrigation));
    own_grid_switches s;
    s.readgrid = r.readgrid;
    s.pond = r.pond;
    s.irrigation = r.irrigation;
    const std::vector<std::string> names = own_grid_order(s);
    ASSERT_GE(names.size(), r.first.size());
    EXPECT_EQ(
        std::vector<std::string>(names.begin(), names.begin() + static_cast<long>(r.first.size())),
        r.first);
    EXPECT_EQ(names.size(), r.count);
    // Without irrigation "GWTableExtern" follows "MeanThetaInRootZone".
    const int mean_theta = position(names, "MeanThetaInRootZone");
    EXPECT_EQ(position(names, "GWTableExtern"), mean_theta + (r.irrigation ? 6 : 1));
    EXPECT_EQ(position(names, "ETR2ETP") >= 0, r.irrigation);
    EXPECT_EQ(names.back(), "infiltration_saturation");
  }
}

TEST(UnsatzonGridEntries, PondingShiftsEveryLaterGridByOne) {
  own_grid_switches off;
  own_grid_switches on;
  on.pond = true;
  const std::vector<std::string> a = own_grid_order(off);
  const std::vector<std::string> b = own_grid_order(on);
  for (size_t i = 1; i < a.size(); ++i) EXPECT_EQ(position(b, a[i]), static_cast<int>(i) + 1);
}

TEST(UnsatzonGridEntries, ConditionalGrids) {
  own_grid_switches s;
  s.irrigation = true;
  s.etr2etp_in_store = true;  // linked, not created
  s.method3 = true;
  s.heat = true;
  s.groundwater_k_linked = true;
  s.drainage = true;
  const std::vector<std::string> n = own_grid_order(s);
  EXPECT_EQ(position(n, "ETR2ETP"), -1);
  EXPECT_EQ(position(n, "T_Lower_Boundary_Condition"), position(n, "hydraulic_heads") + 1);
  EXPECT_EQ(position(n, "Soil_Temperature_Stack"), position(n, "hydraulic_heads") + 2);
  EXPECT_EQ(position(n, "number_of_substeps"), position(n, "macropore_infiltration") + 1);
  const size_t size = n.size();
  EXPECT_EQ(std::vector<std::string>(n.begin() + static_cast<long>(size) - 4, n.end()),
            (std::vector<std::string>{"frozenSoilInGroundwater", "ThawDepthTMod", "drainage_flow",
                                      "drainage_level"}));
  s.lower_boundary_in_store = true;
  EXPECT_EQ(position(own_grid_order(s), "T_Lower_Boundary_Condition"), -1);
}

TEST(UnsatzonGridEntries, ConsecutiveFromTheFirstFreeEntryNeverOverwriting) {
  const std::vector<std::string> names = {"a", "b", "c"};
  struct row {
    const char* name;
    std::vector<int> taken;
    int code;
    std::vector<int> entries;
  } rows[] = {
      {"free store", {}, 0, {1, 2, 3}},
      {"after the settings' grids", {1, 2, 3}, 0, {4, 5, 6}},
      // A gap at 2 only: entry 3 would be overwritten.
      {"gap too small", {1, 3, 4}, 12, {}},
      {"gap large enough", {1, 5}, 0, {2, 3, 4}},
      {"entries up to 998 taken", {}, 12, {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    captured_diag cap;
    grid_store store;
    std::vector<int> taken = r.taken;
    if (std::string(r.name) == "entries up to 998 taken")
      for (int i = 1; i <= 998; ++i) taken.push_back(i);
    for (int i : taken) store[i].grid_name = "held" + std::to_string(i);
    std::vector<int> entries;
    int code = 0;
    try {
      entries = own_grid_entries(*cap.diag, store, names);
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, r.code) << cap.console();
    EXPECT_EQ(entries, r.entries);
    if (std::string(r.name) == "gap too small") {
      EXPECT_NE(cap.console().find("grid store entry 3 for grid \"b\" is held by grid \"held3\""),
                std::string::npos)
          << cap.console();
    }
  }
  captured_diag cap;
  grid_store full;
  for (int i = 1; i < GRID_STORE_FULL; ++i) full[i].grid_name = "x";
  int code = 0;
  try {
    own_grid_entries(*cap.diag, full, names);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 12);
  EXPECT_NE(cap.console().find("no more free grids in memeory, (max. 1000)!"), std::string::npos);
}

}  // namespace
