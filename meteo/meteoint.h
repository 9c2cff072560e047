// meteointerpol: turns the station data of one meteorological quantity into a
// grid for every model step; the application builds one object per name of
// "[meteo_names]". The set-up reads the object's section, its station files
// (or regression file, or grid list), the scenario data and prepares the
// anisotropy and the station spacing; every step advances all inputs by one
// row together (meteoint_stations.cpp, meteoint_regression.cpp). Every step
// interpolate turns the current record into the result grid by the method's
// per-cell rule (meteoint_step.cpp over the primitives of
// meteoint_weights.h); the spline methods 7 and 8 evaluate the surface over
// the station mesh first (meteoint_splinemesh.cpp, meteoint_splines.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "meteo/meteoint_inputs.h"
#include "meteo/meteoint_splines.h"
#include "meteo/meteoint_weights.h"
#include "submodel/teilmod.h"
#include "modelbase/modelobject.h"

class DiagStream;
class grid_store;
class line_reader;

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
  // The value at one point (x, y may be the grid nodata value for a point
  // without position), or a value below -N when there is none. buffer holds
  // at least the first file's station count + 1 doubles. Collective when the
  // point's cell lies on another process's rows (cell-based methods,
  // scenario methods 5 and 6).
  virtual double interpolate_at_point(double* buffer, double x, double y, double z);
  void release() override;
  // Sorts the stations of a file into the mesh of methods 7 and 8 and builds
  // the surface (70 for columns of unequal length).
  virtual void setup_splines(int file_index);

  int get_method() const { return method; }
  // The station mesh of methods 7 and 8, null for the other methods.
  const spline_mesh* splines() const { return mesh.get(); }
  const meteo_section& section() const { return sec; }
  int station_file_count() const { return station_files; }
  const station_file& station(int file_index) const {
    return stations[static_cast<size_t>(file_index)];
  }
  const regression_input& regression() const { return regression_data; }
  // The current regression set, which the precipitation correction refits.
  regression_set& regression_coefficients() { return regression_data.set; }
  // The current values of a station file, which the correction corrects in place.
  station_file& station_data(int file_index) { return stations[static_cast<size_t>(file_index)]; }
  double nodata_bound() const { return sec.nodata_bound; }
  const grid_matrix& result() const { return result_grid; }
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
  // Opens file in in, skips its five header lines and reads rows up to the
  // one dated start_date, writing the search's entry without ending it; false
  // when the file ends first. line and row_offset: the start row and where it begins.
  bool find_start_row(const std::string& file, line_reader& in, std::string_view& line,
                      int64_t& row_offset);
  [[noreturn]] void fail_row(const std::string& file, const record_date& last_date,
                             const row_result& result, int expected, const char* what);
  void set_current_date(const record_date& date);
  bool is_station_method() const;

  // ---- one step (meteoint_step.cpp) ----
  void check_step_settings();
  void find_mesh_orientation();
  void choose_lookup_stations();
  void check_date(int64_t hour, int64_t day, int64_t month, int64_t year);
  void write_progress(int64_t hour, int64_t day, int64_t month, int64_t year);
  void prepare_scenarios(int64_t day, int64_t month);
  void read_method9_grid();
  // The all-equal value of the first file, stored as station 1's value;
  // false when the flag is set but no value is valid.
  bool apply_all_equal(bool& shortcut);
  void interpolate_rows(bool shortcut, bool any_valid);
  // The method's rule for one cell before post-processing; keep: an unusable
  // regression leaves the cell as it is.
  double cell_rule(int row, int col, double* buffer, bool& keep) const;
  // The lowest process that holds the cell's row and owns the cell,
  // process_count when none does; collective.
  int cell_owner(int row, int col, bool holds_row) const;
  // The scenario value of a point's cell on every process alike; collective
  // for the scenario grids of scenario methods 5 and 6.
  double scenario_at_point(int row, int col, double x, double y);
  double idw_of(int file_index, double* buffer, double xd, double yd) const;
  // no_station (when given): the IDW part found no station within reach.
  double point_rule(int row, int col, double* buffer, double x, double y, double xd, double yd,
                    double z, bool* no_station) const;
  // The surfaces of methods 7 and 8 onto the result (and gradient) grid.
  void evaluate_spline_surfaces();
  void evaluate_spline_surface(int file_index, grid_matrix& target);
  void add_step_statistics(int64_t hour, int64_t day, int64_t month, int64_t year);
  station_view plain_view(int file_index) const;
  station_view rotated_view(int file_index) const;
  idw_settings weighting() const;
  bool needs_elevation() const;

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
  const grid_matrix* plain_x = nullptr;  // "CoordX", "CoordY" even when rotated grids exist
  const grid_matrix* plain_y = nullptr;
  const grid_matrix* elevation = nullptr;  // grid-store entry 2
  const grid_matrix* zone_grid = nullptr;
  int64_t scenario_month = 0;  // month of the scenario grid held
  // Look-up corners of methods 5 and 6 over the own rows, (row - first_row) * ncols + col - 1.
  std::vector<lookup_corners> lookup;
  std::unique_ptr<spline_mesh> mesh;  // methods 7 and 8

  std::vector<double> nearest_x;  // per station of the first file [m]
  std::vector<double> nearest_y;
  double average_x = -9999;  // [m]
  double average_y = -9999;  // [m]
  double lookup_factor = 0.25;

  std::vector<zone_record> statistic_zones;
  std::unique_ptr<zonalstatistic> statistic;
  std::string description;  // the method description, the statistics header's name
};
