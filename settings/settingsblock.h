// What the global settings object hands to the application after its staged
// set-up: the name of the control-file copy every object reads, the output
// settings, the zone and region tables, the grid geometry and this process's
// share of it, the model time, the tables and the division of the grid.
//
// The block holds pointers, not copies, wherever the settings object keeps
// the data: those stay valid until the settings object is released, which
// the application does last. Values that are copied (names, counts, the
// selected subbasin codes) belong to the block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"

struct landuse_entry;
struct soil_entry;
struct multilayer_landuse_entry;
struct irrigation_entry;

// One region of the regression by regions: its centroid and size.
struct region_centroid {
  int mean_row = 0;          // truncated mean of the region's rows
  int mean_col = 0;          // truncated mean of its columns
  double mean_row_exact = 0;
  double mean_col_exact = 0;
  double cell_count = 0;     // [cells]
};

struct settings_block {
  // 1. The substituted control-file copy that every object reads.
  std::string control_file;

  // 2. Output settings ("[output_interval]", "[output_list]", "[coordinates]",
  //    "[meteo_data_count]", "[meteo_names]").
  int output_control = 0;      // [steps] progress-report interval
  int radius_warnings = 0;     // 1: warn about stations outside the search radius
  int discharge_unit = 0;      // 0: mm, 1: m3 s-1
  double min_to_int_end = 0;   // [min] from the hour of a record to the end of its step
  int meteo_count = 0;
  double latitude = 0;            // [deg]
  double longitude = 0;           // [deg]
  double reference_meridian = 0;  // [deg]
  double time_shift = 0;          // [h] data time to local time
  std::vector<std::string> meteo_names;  // 1..meteo_count; element 0 empty
  int selected_count = 0;
  std::vector<int> selected_codes;  // 1..selected_count; element 0 holds the count

  // 3. Grid-store entries after 1 and 2 that belong to the settings object.
  int registered_grids = 0;

  // 4. Zone table and region table.
  std::vector<int>* zone_index = nullptr;      // per zone code the zone's index
  std::vector<zone_record>* zones = nullptr;   // 0..zone_count
  std::vector<row_strip>* strips = nullptr;    // 0..nrows
  int zone_count = 0;
  int max_zone_code = 0;
  const std::vector<int>* region_index = nullptr;  // per region code its rank
  int region_count = 0;
  int max_region_code = 0;
  const std::vector<region_centroid>* regions = nullptr;  // 0..region_count

  // 5. Grid geometry and this process's rows.
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;  // this process's own rows as the division set them
  int last_row = 0;
  double xllcorner = 0;  // [m]
  double yllcorner = 0;  // [m]
  double cellsize = 0;   // [m]
  double nodata = NODATA;

  // 6. Model time.
  int64_t start_hour = 0, start_day = 0, start_month = 0, start_year = 0;
  int64_t end_hour = 0, end_day = 0, end_month = 0, end_year = 0;

  // 7. Tables (none until they are read).
  const std::vector<landuse_entry>* landuse_table = nullptr;
  const std::vector<soil_entry>* soil_table = nullptr;
  // The same soil table for the unsaturated zone, which builds its freezing
  // tables in place.
  std::vector<soil_entry>* soil_table_for_update = nullptr;
  const std::vector<irrigation_entry>* irrigation_table = nullptr;
  const std::vector<multilayer_landuse_entry>* multilayer_table = nullptr;

  // 8. Grid-file formats.
  char write_ascii_grids = 0;   // "WriteAsciiGrids"
  char write_double_grids = 0;  // "WriteDoubleGrids"

  // 9. Directories (none when not given).
  const std::string* input_directory = nullptr;
  const std::string* output_directory = nullptr;

  // 10. Division of the grid among the processes.
  const std::vector<int64_t>* cells_per_process = nullptr;  // cells of every process
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;
};
