// Set-up of a meteorological interpolator: its control-file section, the
// result grid, the scenario grid, the statistics file with the method's
// description, the station files, the anisotropy (rotated coordinates of
// cells and stations) and the average spacing of the stations.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>

#include "meteo/meteoint.h"
#include "meteo/meteoint_geometry.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"

namespace {

const char* const KEY_METHOD =
    "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic "
    "spline] 8 [SPLINERES] 9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station "
    "data] 12 [Thiessen combines with elevation gradient] for ";

// A printf text of any length.
template <class... Args>
std::string formatted(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(length));
  return text;
}

// The next line of the control file without its line end; empty at the end.
std::string next_control_line(std::FILE* file) {
  std::string line;
  if (!read_text_line(file, line)) return std::string();
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

int truncated_int(double value) {
  if (!(value > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (value >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(value);
}

}  // namespace

bool meteointerpol::is_station_method() const {
  return method >= 1 && method <= 12 && method != 2 && method != 9;
}

void meteointerpol::set_current_date(const record_date& date) {
  cur_year = date.year;
  cur_month = date.month;
  cur_day = date.day;
  cur_hour = date.hour;
}

int meteointerpol::first_free_store_entry(int from) {
  for (int i = std::max(from, 1); i < GRID_STORE_FULL; ++i)
    if (!(*store)[i].grid_name) return i;
  fail_fatal(*diag, GRID_STORE_FULL_CODE, "no more free grids in memeory, (max. ", GRID_STORE_FULL,
             ")!");
}

void meteointerpol::set_up() {
  // Element 0 of the unit list is a placeholder: units exist from element 1.
  const std::vector<hru_entry>* units = settings().hru_list;
  if (units != nullptr && units->size() > 1) {
    hru_units = (*store)[require_grid("HydrologicResponseUnits")].grid;
    hru_masters = (*store)[require_grid("MasterHydrologicResponseUnits")].grid;
  }
  x_rotated_index = y_rotated_index = -1;
  find_division_grids();

  if (find_grid("RelCellArea") == 0)
    fail_fatal(*diag, 74,
               "\n-----------------------------------------------------------\nVelmo-Orv no longer "
               "works without a RelCellArea-Grid.\nIf this message appears, then something is "
               "wrong with the code,\nso please contact the author.\n"
               "-----------------------------------------------------------\n\n");
  rel_cell_area = (*store)[require_grid("RelCellArea")].grid;
  coord_x = (*store)[require_grid("CoordX")].grid;
  coord_y = (*store)[require_grid("CoordY")].grid;
  plain_x = coord_x;
  plain_y = coord_y;
  zone_grid = (*store)[1].grid;
  elevation = (*store)[2].grid;

  read_section();
  check_step_settings();
  register_result_grid();
  if (sec.scenario_switch == 1 && (sec.scenario_method == 5 || sec.scenario_method == 6))
    read_scenario_grid();

  const int64_t invalid = -static_cast<int64_t>(sec.nodata_int) - 1;
  const record_date invalid_date{invalid, invalid, invalid, invalid};
  for (station_file& file : stations) file.date = invalid_date;
  set_current_date(invalid_date);
  end_flag = 0;

  if (method < 1 || method > 12)
    fail_fatal(*diag, 53, "error! interpolation method has to range from 1..12 (here: ", method,
               ")\n");
  create_statistics();
  if (is_station_method()) read_station_files();

  find_mesh_orientation();
  sec.anisotropy_slope *= DEGREES_TO_RADIANS;
  make_rotated_coordinates();
  setup_weighting();
  average_station_distance();
  if (method == 5 || method == 6) choose_lookup_stations();
  if (method == 7 || method == 8) setup_splines(0);

  if (is_station_method()) set_current_date(stations[0].date);
  if (method == 2 || method == 3) {
    regression_open = 1;
    seek_regression_start(1);
  }
  if (method == 9) read_grid_list();

  const int scaling_index = find_grid("ScalingGrid_" + name);
  scaling_grid = scaling_index > 0 ? (*store)[scaling_index].grid : nullptr;
}

void meteointerpol::read_section() {
  if (!open_control_file()) {
    const int error = errno;
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(error));
  }
  const size_t blank = name.find_first_of(" \t");
  if (blank != std::string::npos) name.erase(blank);
  section_buffer = "[" + name + "]";
  seek_section(section_buffer, true);
  std::FILE* file = control.get();
  std::string& rest = text_buffer;

  read_value(file, "%d", method, KEY_METHOD, rest);
  sec.method = method;
  sec.station_file_count = method == 6 || method == 8 ? 2 : 1;
  for (int k = 0; k < sec.station_file_count; ++k) {
    const std::string line = next_control_line(file);
    const std::string_view word = first_word(line);
    if (word.empty())
      fail_fatal(*diag, 49, "error reading station data file name nr. ", k,
                 " for interpolation of ", name);
    station_file& station = stations[static_cast<size_t>(k)];
    station.file_name.assign(word);
    station.control_line = line;
    station.additional_columns = additional_columns_of(line);
  }

  if (method >= 1 && method <= 8) {
    read_value(file, "%s", sec.regression_file, "name of the regression file in ", rest);
  } else if (method == 9) {
    if (!parse_gif_mapping(next_control_line(file), sec.gif))
      fail_fatal(*diag, 49,
                 "error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), "
                 "x1 (0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for "
                 "interpolation of ",
                 name);
    set_gif_mapping(sec.gif.f1, sec.gif.x1, sec.gif.threshold, sec.gif.f2, sec.gif.x2);
  } else if (method == 10 || method == 11) {
    if (parse_elevation_regression(next_control_line(file), sec.elevation) < 5)
      fail_fatal(*diag, 49,
                 "error reading the required 5 or 6 regression parameters <lower inversion> "
                 "<upper inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above "
                 "upper inversion>] for interpolation of ",
                 name);
  } else if (method == 12) {
    const int count = parse_lapse_rate(next_control_line(file), sec.lapse);
    if (count == 0 || count == 2)
      fail_fatal(*diag, 49,
                 "error reading the required parameter \"lapse rate\" and/or optional parameters "
                 "inversion_hight and fix upper lapse rate for interpolation of ",
                 name);
  }

  read_value(file, "%s", sec.result_file, "name of the result grid in ", rest);
  read_value(file, "%d", sec.write_code, "grid write code for result grid in ", rest);
  read_value(file, "%lf", sec.scaling, "scaling factor for ", rest);
  read_two_values(file, "%s%d", sec.statistics_file, sec.statistics_code,
                  "name of the statistic result file in ", rest);
  read_value(file, "%lf", sec.nodata_bound, "nodata value in ", rest);
  sec.nodata_int = truncated_int(sec.nodata_bound);
  read_value(file, "%lf", sec.idw_weight, "idw-weight in ", rest);
  read_value(file, "%lf", sec.idw_fraction, "fraction of idw on weighted interpolation (method 3)",
             rest);
  read_value(file, "%lf", sec.max_distance_read, "maximum distance in ", rest);
  read_value(file, "%lf", sec.anisotropy_slope,
             "slope of the main axis of the anisotropy ellipse in ", rest);
  read_value(file, "%lf", sec.anisotropy_ratio, "anisotropy b/a in ", rest);
  // Lines 15 and 16 hold the replacement below and the upper limit, whatever
  // their key texts say.
  read_value(file, "%lf", sec.lower_limit, "lower limit of results in ", rest);
  read_value(file, "%lf", sec.replacement_below, "upper limit of results in ", rest);
  read_value(file, "%lf", sec.upper_limit, "lower replacement for limit-exceeding results in ",
             rest);
  read_value(file, "%lf", sec.replacement_above,
             "upper replacement for limit-exceeding results in ", rest);
  read_value(file, "%d", sec.scenario_switch, "SzenUse in ", rest);
  if (sec.scenario_switch == 1) {
    read_value(file, "%d", sec.scenario_method, "SzenMeth in ", rest);
    if (sec.scenario_method == 5 || sec.scenario_method == 6) {
      sec.scenario_grids.assign(13, std::string());
      for (int month = 1; month <= 12; ++month) {
        std::string& grid_name = sec.scenario_grids[static_cast<size_t>(month)];
        if (scan_conversion(file, "%s", 0, &grid_name) != 1)
          fail_fatal(*diag, 17, "error in control file: scenario grid for month ", month, " in ",
                     name,
                     " not found!\nThere have to be exactly 12 filenames after the sceario "
                     "application mode\nreferring to each of the 12 months if using scenario "
                     "method 5.\nHowever, if methods 0..4 are used, NO FILENAMES are allowed "
                     "there\n (for backwards compatibility reasons)");
        read_line_rest(file, rest);
      }
    } else {
      read_value(file, "%d", sec.scenario_count, "SzenNum in ", rest);
      read_scenario_rows(file);
    }
  }

  // Weight code 2000 compares squared distances (any power from 2.000 up to
  // below 2.001), so its radius must be squared as well.
  sec.weight_code = weight_code_of(sec.idw_weight);
  sec.max_distance = sec.weight_code == 2000 ? sec.max_distance_read * sec.max_distance_read
                                             : sec.max_distance_read;
  if (std::fclose(control.release()) != 0) {
    const int error = errno;
    fail_fatal(*diag, 11, "error closing ", control_path, errno_text(error));
  }
}

void meteointerpol::read_scenario_rows(std::FILE* file) {
  sec.scenario_points.assign(1, std::array<double, 16>{});
  for (int row = 1; row <= sec.scenario_count; ++row) {
    std::array<double, 16> point{};
    for (int column = 1; column <= 14; ++column) {
      if (scan_conversion(file, "%lf", 0, &point[static_cast<size_t>(column)]) != 1)
        fail_fatal(*diag, 48, "error! scenario-data row ", row, ", column ", column, " in ", name,
                   ": read error!");
      // Scenario method 3 gives percentages of change.
      if (sec.scenario_method == 3 && column >= 3)
        point[static_cast<size_t>(column)] = point[static_cast<size_t>(column)] / 100.0 + 1.0;
    }
    read_line_rest(file, text_buffer);
    sec.scenario_points.push_back(point);
  }
}

void meteointerpol::register_result_grid() {
  // Method 9: process 0 reads whole grid files and scatters them.
  if (method == 9 && rank == 0) {
    result_first_row = 1;
    result_last_row = nrows;
  } else {
    result_first_row = std::max(1, first_row - 1);
    result_last_row = std::min(nrows, last_row + 1);
  }
  result_grid = matrix(result_first_row, result_last_row, 1, ncols, nrows);
  for (int r = result_first_row; r <= result_last_row; ++r)
    std::fill(result_grid[r] + 1, result_grid[r] + ncols + 1, nodata);
  register_grid(result_store_index, sec.result_file, &result_grid, nullptr, 0, name,
                static_cast<unsigned>(std::max(sec.write_code, 0)), first_row, last_row);
}

void meteointerpol::read_scenario_grid() {
  const int64_t month = start_date.month;
  if (month < 1 || month > 12)
    fail_fatal(*diag, 17, "error in control file: scenario grid for month ", month, " in ", name,
               " not found!");
  read_grid(sec.scenario_grids[static_cast<size_t>(month)], scenario_grid, 0, true, true, 0, false,
            false, false, false);
  scenario_index = first_free_store_entry(result_store_index + 1);
  register_grid(scenario_index, sec.scenario_grids[static_cast<size_t>(month)], &scenario_grid,
                nullptr, 0, "scenariogrid_" + name, 0, first_row, last_row);
}

void meteointerpol::create_statistics() {
  const grid_entry& zone_entry = (*store)[1];
  const std::string zone_file = zone_entry.file_name.value_or(std::string());
  const char* zones_name = zone_file.c_str();
  const char* control_name = control_path.c_str();
  const station_file& first = stations[0];
  const station_file& second = stations[1];
  const char* file = first.file_name.c_str();
  const char* file2 = second.file_name.c_str();
  const int a = first.additional_columns;
  const int a2 = second.additional_columns;
  const char* object = name.c_str();
  switch (method) {
    case 1:
      description = formatted(
          "%s interpolated with idw from %s, zones from %s, weighting = %4.1f,  maxentf = %8.0f, "
          "control file %s, additional columns: %d",
          object, file, zones_name, sec.idw_weight, sec.max_distance_read, control_name, a);
      break;
    case 2:
      description = formatted("%s interpolated with regression from ", object);
      description = formatted("%s %s,", description.c_str(), sec.regression_file.c_str());
      description = formatted("%s zones from %s, control file: %s", description.c_str(),
                              zones_name, control_name);
      break;
    case 3:
      description = formatted(
          "%s interpolated with idw+regression from %s, zones from %s,weighting = %4.1f, "
          "fraction distance: = %4.1f max distance = %8.0f, control file %s, additional "
          "columns: %d",
          object, file, zones_name, sec.idw_weight, sec.idw_fraction, sec.max_distance_read,
          control_name, a);
      break;
    case 4:
      description = formatted(
          "%s interpolated with Thiessen from %s, zones from %s, control file %s, additional "
          "columns: %d",
          object, file, zones_name, control_name, a);
      break;
    case 5:
      description = formatted(
          "%s interpolated with bilinear interpolation from %s, zones from %s, control file %s, "
          "additional columns: %d",
          object, file, zones_name, control_name, a);
      break;
    case 6:
      description = formatted(
          "%s interpolated with bilinear interpolation of gradients (%s, add. col.: %d) and "
          "residuals (%s, add. col.: %d), linearly combined, zones from %s, control file %s",
          object, file2, a2, file, a, zones_name, control_name);
      break;
    case 7:
      description = formatted(
          "%s interpolated with bicubic spline interpolation (%s, add. col.: %d), zones from %s, "
          "control file %s",
          object, file, a, zones_name, control_name);
      break;
    case 8:
      description = formatted(
          "%s interpolated with bicubic spline interpolation of gradients (%s, add. col.: %d) and "
          "residuals (%s, add. col.: %d), linearly combined, zones from %s, control file %s",
          object, file2, a2, file, a, zones_name, control_name);
      break;
    case 9:
      description = formatted(
          "%s read in from grids containing already interpolated data (%s, add. col.: %d) zones "
          "from %s, control file %s",
          object, file, a, zones_name, control_name);
      break;
    case 10:
      description = formatted(
          "%s interpolated with elevation dependent regression for values taken from %s, control "
          "file %s",
          object, file, control_name);
      break;
    case 11:
      description = formatted(
          "%s interpolated with elevation dependent regression + idw, all values taken from %s, "
          "control file %s",
          object, file, control_name);
      break;
    default:
      description = formatted(
          "%s interpolated with Thiessen plus elevation lapserate, all values taken from %s, "
          "control file %s",
          object, file, control_name);
      break;
  }

  // The statistic adds into its zone records: it gets its own copy of the
  // zone codes and shares.
  const int count = zones != nullptr ? zone_count : 0;
  statistic_zones.assign(static_cast<size_t>(count) + 1, zone_record{});
  for (int z = 0; z <= count && zones != nullptr; ++z) {
    statistic_zones[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
    statistic_zones[static_cast<size_t>(z)].share = (*zones)[static_cast<size_t>(z)].share;
  }
  int status = 0;
  std::string statistics_file = sec.statistics_file;
  statistic = std::make_unique<zonalstatistic>(
      status, diag, registry, registry_size, rel_cell_area, nrows, ncols, statistic_zones.data(),
      count, sec.statistics_code, 3, statistics_file, output_directory, selected_zone_count,
      &selected_zones);
  if (status != 0) throw status;
  statistic->write_header(description, "", registry, registry_size);
}

void meteointerpol::make_rotated_coordinates() {
  if (!is_station_method() || !(sec.anisotropy_ratio < 1)) return;
  x_rotated_index = first_free_store_entry(1);
  y_rotated_index = first_free_store_entry(x_rotated_index + 1);
  x_rotated_grid = matrix(first_row, last_row, 1, ncols, nrows);
  y_rotated_grid = matrix(first_row, last_row, 1, ncols, nrows);
  register_grid(x_rotated_index, "", &x_rotated_grid, nullptr, 0, "CoordXRot_" + name, 0,
                first_row, last_row);
  register_grid(y_rotated_index, "", &y_rotated_grid, nullptr, 0, "CoordYRot_" + name, 0,
                first_row, last_row);
  const grid_matrix& x = *coord_x;
  const grid_matrix& y = *coord_y;
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      if (x[r][c] == nodata) {
        x_rotated_grid[r][c] = nodata;
        y_rotated_grid[r][c] = nodata;
        continue;
      }
      const rotated_point p =
          rotate_about_corner(xllcorner, yllcorner, x[r][c], y[r][c], sec.anisotropy_slope);
      x_rotated_grid[r][c] = p.x;
      y_rotated_grid[r][c] = p.y;
    }
  coord_x = &x_rotated_grid;
  coord_y = &y_rotated_grid;
}

void meteointerpol::setup_weighting() {
  if (!is_station_method()) return;
  if (station_files > 0) {
    // Written so that a value that is no number is refused as well.
    if (!(sec.anisotropy_slope >= -HALF_PI && sec.anisotropy_slope <= HALF_PI))
      fail_fatal(*diag, 54, "anisotropy slope has to range from -90 to +90 degree \n");
    if (!(sec.anisotropy_ratio > 0 && sec.anisotropy_ratio <= 1))
      fail_fatal(*diag, 54, "ratio of anisotropy has to range from +1 to >0 liegen");
  }
  for (int k = 0; k < station_files; ++k) {
    station_file& file = stations[static_cast<size_t>(k)];
    const int n = file.station_count;
    file.x_rotated = file.x;
    file.y_rotated = file.y;
    if (sec.anisotropy_ratio < 1)
      for (int j = 1; j <= n; ++j) {
        const size_t i = static_cast<size_t>(j);
        const rotated_point p =
            rotate_about_corner(xllcorner, yllcorner, file.x[i], file.y[i], sec.anisotropy_slope);
        file.radius[i] = p.radius;
        file.x_rotated[i] = p.x;
        file.y_rotated[i] = p.y;
      }
  }
}

void meteointerpol::average_station_distance() {
  lookup_factor = 0.25;
  diag_entry(*diag, "calculating average horizontal and vertical distance to the next station...");
  const bool any = station_files > 0 && stations[0].station_count > 0;
  const station_file& first = stations[0];
  const station_spacing spacing =
      any ? nearest_station_spacing(first.x_rotated.data(), first.y_rotated.data(),
                                    first.station_count)
          : nearest_station_spacing(nullptr, nullptr, 0);
  nearest_x = spacing.nearest_x;
  nearest_y = spacing.nearest_y;
  average_x = spacing.average_x;
  average_y = spacing.average_y;
  diag_entry(*diag, "avg. horizontal distance: ", average_x, " m");
  diag_entry(*diag, "avg. vertical   distance: ", average_y, " m");
}
