// meteointerpol: turns the station data of one meteorological quantity into a
// grid for every model step; the application builds one object per name of
// "[meteo_names]". The set-up reads the object's section, its station files
// (or regression file, or grid list), the scenario data and prepares the
// anisotropy and the station spacing; every step advances all inputs by one
// row together (meteoint_stations.cpp, meteoint_regression.cpp). The
// interpolation of a step onto the grid is not built yet: until it is, the
// first step stops with an entry that names the method.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "meteo/meteoint_inputs.h"
#include "submodel/teilmod.h"
#include "modelbase/modelobject.h"

class DiagStream;
class grid_store;

// Status of a meteorological input that cannot be interpolated yet.
constexpr int METEO_INPUT_NOT_BUILT = 53;
// A station, regression or grid-list row that cannot be read as a whole row.
constexpr int METEO_ROW_UNREADABLE = 19;

class meteointerpol : public modelobject {
 public:
  // section: the input's name; free_store_index: the grid-store entry that
  // receives the result grid. Failures are returned through status.
  meteointerpol(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                const std::string& section, grid_store* store, const settings_context& settings,
                int free_store_index);

  virtual void set_radius_warnings(int on);
  virtual void set_hour_shift(double hours);
  // The date of the current record.
  virtual void get_current_date(int64_t& hour, int64_t& day, int64_t& month, int64_t& year);
  virtual void interpolate(int64_t hour, int64_t day, int64_t month, int64_t year);
  // Advances every input by one row; their dates must agree (73, 52).
  virtual void read_next_record();
  // Non-zero when the data are exhausted or the end date is passed.
  virtual int is_end_of_data();
  virtual void end_at_current_date();
  virtual void flush_outputs();
  // Every input goes back to its start row; the next read_next_record
  // delivers the start row again.
  virtual void rewind_inputs();
  virtual void refill_station_buffer(int file_index);
  virtual void refill_regression_buffer(int regression_index);
  virtual void next_station_row(int file_index);
  virtual void next_grid_list_row();
  virtual void next_regression_row(int regression_index);
  virtual void read_section();
  virtual void read_station_header(int file_index);
  virtual void seek_start_date(int file_index);
  virtual void seek_grid_list_start();
  virtual void seek_regression_start(int regression_index);
  virtual void average_station_distance();
  virtual void make_rotated_coordinates();
  virtual void setup_weighting();
  // The scenario value of a cell: the month's scenario grid, or the day's
  // value of the nearest scenario point (0 without one within sqrt(1e15)).
  virtual double scenario_value(int row, int col, double x, double y);
  virtual void fit_station_regression(int unused);
  virtual void output_result_grid();
  void release() override;

  int get_method() const { return method; }
  const meteo_section& section() const { return sec; }
  int station_file_count() const { return station_files; }
  const station_file& station(int file_index) const {
    return stations[static_cast<size_t>(file_index)];
  }
  const regression_input& regression() const { return regression_data; }
  double average_x_distance() const { return average_x; }  // [m], -9999 without stations
  double average_y_distance() const { return average_y; }  // [m]
  int result_store_entry() const { return result_store_index; }
  int rotated_x_entry() const { return x_rotated_index; }  // -1 when not made
  int rotated_y_entry() const { return y_rotated_index; }
  const zonalstatistic* statistics() const { return statistic.get(); }
  // What method 9 handed to the image reader: x and y origin and cell size
  // of the images, and the mask grid.
  std::array<double, 3> image_georeference() const {
    return {gif_x_origin, gif_y_origin, gif_cellsize};
  }
  const grid_matrix* image_mask() const { return gif_mask; }

 private:
  statistics_registry* registry = nullptr;
  int registry_size = 0;
  int result_store_index = 0;
  int method = 0;
  int radius_warnings = 0;
  int16_t end_flag = 0;  // data exhausted or end date reached; cleared by rewind_inputs
  record_date start_date;

  // Construction after the settings are taken over: grids, section, result
  // grid, statistics, inputs (meteoint_setup.cpp).
  void set_up();
  void register_result_grid();
  void read_scenario_grid();
  void create_statistics();
  void read_station_files();
  void check_second_station_file();
  void read_grid_list();
  void read_scenario_rows(std::FILE* file);
  // The first free entry of the grid store from index on (code 12 when none).
  int first_free_store_entry(int from);
  // Reports a row that cannot be read as a whole row and throws.
  [[noreturn]] void fail_row(const std::string& file, const record_date& last_date,
                             const row_result& result, int expected, const char* what);
  void set_current_date(const record_date& date);
  bool is_station_method() const;

  meteo_section sec;
  std::array<station_file, 2> stations;
  int station_files = 0;  // station files read (the grid list of method 9 counts as none)
  regression_input regression_data;
  int regression_open = 0;  // methods 2 and 3 use the regression file

  grid_matrix result_grid;
  int result_first_row = 0;  // rows of result_grid
  int result_last_row = 0;
  grid_matrix scenario_grid;
  int scenario_index = 0;
  grid_matrix x_rotated_grid;
  grid_matrix y_rotated_grid;
  int x_rotated_index = -1;
  int y_rotated_index = -1;
  const grid_matrix* coord_x = nullptr;  // interpolation coordinates
  const grid_matrix* coord_y = nullptr;
  const grid_matrix* scaling_grid = nullptr;  // "ScalingGrid_<name>"
  const grid_matrix* hru_units = nullptr;
  const grid_matrix* hru_masters = nullptr;

  std::vector<double> nearest_x;  // per station of the first file [m]
  std::vector<double> nearest_y;
  double average_x = -9999;  // [m]
  double average_y = -9999;  // [m]
  double lookup_factor = 0.25;

  std::vector<zone_record> statistic_zones;
  std::unique_ptr<zonalstatistic> statistic;
  std::string description;  // the method description, the statistics header's name
};
