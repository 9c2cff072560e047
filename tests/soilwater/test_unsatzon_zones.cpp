// The zone table the unsaturated zone hands to irrigation, groundwater and
// routing, and its refusal of a temperature pre-SpinUp without heat transfer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "routing/abfluss.h"
#include "soilwater/gwflow.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"
#include "vertical/irrigate.h"

namespace {

// A groundwater module that shows the zone table it counts its subbasins by.
class zone_reading_groundwater : public gwflowclass {
 public:
  using gwflowclass::gwflowclass;
  const std::vector<int>* index_read() const { return zone_index; }
  const std::vector<zone_record>* zones_read() const { return zones; }
  int zone_count_read() const { return zone_count; }
  int largest_code_read() const { return max_zone_code; }
};

TEST(UnsatzonZones, InactiveModuleLeavesDownstreamModulesInactiveWithoutTheirSections) {
  module_fixture f;
  // Only the unsaturated zone's section: irrigation, groundwater and routing
  // have none and must not look for it.
  f.write_control(module_fixture::head("unsatzon_model", 0));
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             4);
  ASSERT_EQ(status, 0);
  const zone_table_view own = unsat.get_zone_table();
  EXPECT_EQ(own.zone_index, nullptr);
  EXPECT_EQ(own.zone_count, 0);

  int s1 = -1, s2 = -1, s3 = -1;
  irrigationclass irrigation(s1, f.diag(), nullptr, 0, "irrigation", &f.store, f.settings, own);
  gwflowclass groundwater(s2, f.diag(), nullptr, 0, "groundwater_flow", &f.store, f.settings, 4,
                          own);
  abflussmodellklasse routing(s3, f.diag(), nullptr, 0, "routing_model", &f.store, f.settings, 0,
                              nullptr, own, unsat.get_readgrid());
  EXPECT_EQ(s1, 0);
  EXPECT_EQ(s2, 0);
  EXPECT_EQ(s3, 0);
  EXPECT_EQ(irrigation.get_flow_control(), 0);
  EXPECT_EQ(groundwater.get_flow_control(), 0);
  EXPECT_EQ(routing.get_flow_control(), 0);
}

TEST(UnsatzonZones, ActiveModuleHandsOnTheRankingOfItsOwnZoneGrid) {
  module_fixture f;
  // Codes 7, 3, 7: two zones ranked by code, 3 -> 1 and 7 -> 2, largest 7.
  f.soil_zone_grid[1][1] = 7;
  f.soil_zone_grid[1][2] = 3;
  f.soil_zone_grid[1][3] = 7;
  f.publish_regions();
  unsatzon_section_text section;
  section.codes = "3 7";
  // The groundwater section is inactive: its full set-up is tested with the
  // module (test_gwflow_setup.cpp); the table is taken either way.
  f.write_control(section.text() + module_fixture::head("groundwater_flow", 0));
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             4);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(unsat.get_substeps(), 4);
  const zone_table_view own = unsat.get_zone_table();
  ASSERT_NE(own.zone_index, nullptr);
  ASSERT_NE(own.zones, nullptr);
  EXPECT_EQ(own.zone_count, 2);
  EXPECT_EQ(own.max_zone_code, 7);
  EXPECT_EQ((*own.zone_index)[3], 1);
  EXPECT_EQ((*own.zone_index)[7], 2);
  EXPECT_EQ((*own.zones)[1].code, 3);
  EXPECT_EQ((*own.zones)[2].code, 7);
  // The settings' own table is left as it was.
  EXPECT_EQ(f.settings.zone_table.zone_count, 1);

  int s = -1;
  zone_reading_groundwater groundwater(s, f.diag(), nullptr, 0, "groundwater_flow", &f.store,
                                       f.settings, 4, own);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(groundwater.get_flow_control(), 0);
  // It reads the unsaturated zone's table itself, not a copy and not the
  // settings' one, which every other module still reads.
  EXPECT_EQ(groundwater.index_read(), own.zone_index);
  EXPECT_EQ(groundwater.zones_read(), own.zones);
  EXPECT_EQ(groundwater.zone_count_read(), 2);
  EXPECT_EQ(groundwater.largest_code_read(), 7);
  zone_reading_groundwater plain(s, f.diag(), nullptr, 0, "groundwater_flow", &f.store, f.settings,
                                 4, f.settings.zone_table);
  EXPECT_EQ(plain.index_read(), &f.zone_index);
  EXPECT_EQ(plain.zone_count_read(), 1);
}

TEST(UnsatzonZones, PreSpinUpNeedsTheHeatTransferModel) {
  module_fixture f;
  f.write_control(module_fixture::head("unsatzon_model", 0));
  int status = -1;
  unsatzonmodellklasse unsat(status, f.diag(), nullptr, 0, "unsatzon_model", &f.store, f.settings,
                             1);
  ASSERT_EQ(status, 0);
  int thrown = 0;
  try {
    unsat.pre_spinup_step(24, 1, 1, 2000);
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 1040);
  EXPECT_NE(f.console().find("heat transfer model not active in unsatzon_model. This is "
                             "required for pre-SpinUp!"),
            std::string::npos);
}

}  // namespace
