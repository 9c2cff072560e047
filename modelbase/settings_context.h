// The settings of a run as every model object reads them: one read-only
// record, owned and filled by the settings object, that each model object
// references instead of receiving its own copy. It holds what the settings
// object hands over after its staged set-up (the name of the control-file
// copy, output settings, grid geometry and this process's rows, the zone and
// region tables, model time, the tables of land use and soil, the division of
// the grid, SpinUp) under one name per setting. The tables and grids stay the
// settings object's; the context only points at them.
//
// Also the small date type of the time loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"

struct landuse_entry;
struct soil_entry;
struct multilayer_landuse_entry;
struct irrigation_entry;

// The date of a step (its hour marks the meteorological record).
struct model_date {
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
  int64_t hour = 0;
  friend bool operator==(const model_date&, const model_date&) = default;
};

// A zone table as a model object reads it. A module whose subbasins are
// those of another module's zone grid reads that table through a view of
// its own in place of the settings' one.
struct zone_table_view {
  const std::vector<int>* zone_index = nullptr;     // per zone code its index; none: no table
  const std::vector<zone_record>* zones = nullptr;  // 0..zone_count
  int zone_count = 0;
  int max_zone_code = 0;
};

// One region of the regression by regions: its centroid and size.
struct region_centroid {
  int mean_row = 0;  // truncated mean of the region's rows
  int mean_col = 0;  // truncated mean of its columns
  double mean_row_exact = 0;
  double mean_col_exact = 0;
  double cell_count = 0;  // [cells]
};

// The regions of the region grid, ranked by code.
struct region_table_view {
  const std::vector<int>* region_index = nullptr;  // per region code its rank; 0: no such region
  const std::vector<region_centroid>* regions = nullptr;  // 0..region_count
  int region_count = 0;
  int max_region_code = 0;
};

struct settings_context {
  // The substituted control-file copy that every object reads.
  std::string control_file;

  // Output settings ("[output_interval]", "[output_list]", "[coordinates]",
  // "[meteo_data_count]", "[meteo_names]").
  int output_control = 0;     // [steps] progress-report interval
  int radius_warnings = 0;    // 1: warn about stations outside the search radius
  int discharge_unit = 0;     // 0: mm, 1: m3 s-1
  double min_to_int_end = 0;  // [min] from the hour of a record to the end of its step
  char write_ascii_grids = 0;   // "WriteAsciiGrids"
  char write_double_grids = 0;  // "WriteDoubleGrids"
  const std::string* input_directory = nullptr;   // none when not given
  const std::string* output_directory = nullptr;  // none when not given
  double latitude = 0;            // [deg]
  double longitude = 0;           // [deg]
  double reference_meridian = 0;  // [deg] of the time zone
  double time_shift = 0;          // [h] data time to local time
  int meteo_count = 0;
  std::vector<std::string> meteo_names{std::string()};  // 1..meteo_count
  std::vector<int> selected_codes{0};  // selected subbasins 1..n; element 0 holds n

  // Grid-store entries after 1 and 2 that belong to the settings object.
  int registered_grids = 0;

  // Zone table of the zone grid (store entry 1) with the row spans of its
  // data, and the region table.
  zone_table_view zone_table;
  const std::vector<row_strip>* strips = nullptr;  // 0..nrows
  region_table_view region_table;

  // Grid geometry and this process's own rows as the division set them.
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;
  int last_row = 0;
  double xllcorner = 0;  // [m]
  double yllcorner = 0;  // [m]
  double cellsize = 0;   // [m]
  double nodata = NODATA;

  // Model time ("[model_time]").
  model_date start_date;
  model_date end_date;

  // Tables (none until read; the irrigation table only in soil-model mode 2).
  const std::vector<landuse_entry>* landuse_table = nullptr;
  const std::vector<soil_entry>* soil_table = nullptr;
  const std::vector<irrigation_entry>* irrigation_table = nullptr;
  const std::vector<multilayer_landuse_entry>* multilayer_table = nullptr;

  // Division of the grid among the processes.
  const std::vector<int64_t>* cells_per_process = nullptr;
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;

  // SpinUp ("[SpinUp]"): the switch and this process's hydrologic response
  // units.
  int spinup_switch = 0;
  const std::vector<hru_entry>* hru_list = nullptr;

  int selected_count() const { return selected_codes.empty() ? 0 : selected_codes[0]; }
};

// The context of an object built without the settings of a run (the
// settings object itself, tools and tests): every setting empty.
const settings_context& no_settings();
