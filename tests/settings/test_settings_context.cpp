// The settings context the settings object hands over after its staged
// set-up: one record, the object's own, holding the values of the control
// file under one name each and pointing at the tables, zone table and
// division the object keeps.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "settings/derived_setup_fixture.h"

namespace {

// Zones 1 and 2 (row 1 north, (1,1) outside), an elevation model and one
// selected subbasin; the coordinates differ so that a swap shows.
const char* const ZONES = "-9999 1 1\n1 2 2\n2 2 2\n";
const char* const DEM = "100 200 300\n400 500 600\n700 800 900\n";

control_parts parts_with_time_and_location() {
  control_parts parts;
  parts.model_time = "6\n2\n3\n2001\n18\n27\n11\n2002\n";
  parts.minutes = "60";
  return parts;
}

TEST(SettingsContext, ExportHandsOverTheObjectsOwnRecord) {
  settings_setup run(parts_with_time_and_location(), {{"zones.asc", text_grid_of(ZONES, 3, 3)},
                                                      {"dem.asc", text_grid_of(DEM, 3, 3)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  defaultini& settings = *run.settings;
  const settings_context& c = settings.export_settings();

  // One record: the settings object reads what it hands over, and a second
  // hand-over is the same record, not a copy.
  EXPECT_EQ(&c, &settings.settings());
  EXPECT_EQ(&settings.export_settings(), &c);

  // Values of the control file, one name each.
  EXPECT_EQ(c.control_file, run.path("run.ctl") + ".$$$");
  EXPECT_EQ(c.control_file, settings.copy_name());
  EXPECT_EQ(c.output_control, 1);
  EXPECT_EQ(c.min_to_int_end, 60);
  EXPECT_EQ(c.write_ascii_grids, 1);
  EXPECT_EQ(c.write_double_grids, 0);
  ASSERT_NE(c.output_directory, nullptr);
  EXPECT_EQ(*c.output_directory, run.path("out/"));
  EXPECT_EQ(c.input_directory, nullptr);
  // "[coordinates]" 47 8 15 0: latitude, longitude, meridian, time shift.
  EXPECT_EQ(c.latitude, 47);
  EXPECT_EQ(c.longitude, 8);
  EXPECT_EQ(c.reference_meridian, 15);
  EXPECT_EQ(c.time_shift, 0);
  EXPECT_EQ(c.meteo_count, 0);
  EXPECT_EQ(c.selected_count(), 0);
  // "[model_time]" as hour, day, month, year.
  EXPECT_EQ(c.start_date, (model_date{2001, 3, 2, 6}));
  EXPECT_EQ(c.end_date, (model_date{2002, 11, 27, 18}));

  // Geometry and rows of the one process.
  EXPECT_EQ(c.ncols, 3);
  EXPECT_EQ(c.nrows, 3);
  EXPECT_EQ(c.first_row, 1);
  EXPECT_EQ(c.last_row, 3);
  EXPECT_EQ(c.cellsize, 100);
  EXPECT_EQ(c.nodata, -9999);

  // The zone table: zones 1 (3 cells) and 2 (5 cells).
  ASSERT_NE(c.zone_table.zone_index, nullptr);
  ASSERT_NE(c.zone_table.zones, nullptr);
  EXPECT_EQ(c.zone_table.zone_count, 2);
  EXPECT_EQ(c.zone_table.max_zone_code, 2);
  EXPECT_EQ((*c.zone_table.zones)[1].sum, 3);
  EXPECT_EQ((*c.zone_table.zones)[2].sum, 5);
  ASSERT_NE(c.strips, nullptr);
  EXPECT_EQ(c.strips->size(), 4U);

  // Pointers at what the settings object keeps.
  EXPECT_EQ(c.landuse_table, &settings.landuse_classes());
  EXPECT_EQ(c.multilayer_table, nullptr);  // no multilayer table in the file
  EXPECT_EQ(c.region_table.region_index, &settings.region_ranks());
  EXPECT_EQ(c.region_table.regions, &settings.region_centroids());
  EXPECT_EQ(c.region_table.region_count, settings.regions());
  EXPECT_EQ(c.registered_grids, settings.registered_grid_count());
  ASSERT_NE(c.cells_per_process, nullptr);
  int64_t cells = 0;
  for (int64_t n : *c.cells_per_process) cells += n;
  EXPECT_EQ(cells, 8);
  EXPECT_NE(c.halo_send, nullptr);
  EXPECT_NE(c.halo_receive, nullptr);
}

}  // namespace
