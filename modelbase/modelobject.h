// Base of every object driven by the control file: the settings object, the
// meteorological inputs, the routing reaches and, through teilmodellklasse,
// every sub-model module. It holds what they share (name, control-file access,
// grid geometry, the process's rows, dates, the shared grid store) and the
// conventions by which they read the control file and report errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/memhandling.h"

class DiagStream;
class grid_store;
struct grid_entry;
struct landuse_entry;
struct soil_entry;
struct multilayer_landuse_entry;

struct file_closer {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// The arguments every model object is constructed with.
struct modelobject_args {
  DiagStream* diag = nullptr;
  std::string control_file;
  char write_ascii_grids = 0;   // "WriteAsciiGrids"
  char write_double_grids = 0;  // "WriteDoubleGrids"
  const std::string* input_directory = nullptr;
  const std::string* output_directory = nullptr;
  const std::vector<int>* cells_per_process = nullptr;
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;
  int spinup_switch = 0;
  const std::vector<hru_entry>* hru_list = nullptr;
};

// Time key of a date: keys of two dates compare like the dates.
constexpr int64_t TIME_KEY_YEAR = 93000;
constexpr int64_t TIME_KEY_MONTH = 7750;
constexpr int64_t TIME_KEY_DAY = 250;
constexpr int64_t TIME_KEY_HOUR = 1;
constexpr int64_t time_key(int64_t year, int64_t month, int64_t day, int64_t hour) {
  return year * TIME_KEY_YEAR + month * TIME_KEY_MONTH + day * TIME_KEY_DAY + hour * TIME_KEY_HOUR;
}

// Length of a control-file line piece: lines are read in pieces of this many
// characters at most.
constexpr int CONTROL_LINE_PIECE = 1199;

class modelobject : public memory_handling {
 public:
  explicit modelobject(const modelobject_args& args);

  virtual void write_log_line(int ignored, const std::string& text);
  virtual void set_end_date(uint64_t year, uint64_t month, uint64_t day, uint64_t hour);
  virtual void set_report_interval(int interval);
  virtual int get_report_interval();
  virtual double get_hour_shift();

  [[noreturn]] virtual void fail_control_file(const std::string& key, const std::string& section);
  [[noreturn]] virtual void fail_write(const std::string& file_name, int code);
  [[noreturn]] virtual void fail_read(const std::string& file_name, int code);

  // One value of a control-file line: the target is read by the conversion of
  // its type ("%d", "%ld", "%lf", "%f", "%s"); the rest of the line (at most
  // 1199 characters) goes to line. A value that cannot be read is reported
  // with the key and the object's name (code 17). Returns the count read.
  template <class T>
  int read_value(std::FILE* file, const char* format, T& target, const std::string& key,
                 std::string& line);
  template <class T1, class T2>
  int read_two_values(std::FILE* file, const char* format, T1& first, T2& second,
                      const std::string& key, std::string& line);
  // Positions the control file after the line whose first word is section.
  virtual bool seek_section(const std::string& section, bool must_exist);

  virtual double interpolate_linear(double x1, double y1, double x2, double y2, double x);
  virtual void set_initialized(int flag);
  virtual void release();

  // Opens the control file for reading; false when it cannot be opened.
  bool open_control_file();
  std::FILE* control_file() const { return control.get(); }
  const std::string& control_file_name() const { return control_path; }
  int64_t end_time_key() const { return end_key; }

  // Reads one value of any supported type; 1 when read, 0 when the text does
  // not convert, EOF at the end of the file.
  static int scan_one(std::FILE* file, int& target);
  static int scan_one(std::FILE* file, long& target);
  static int scan_one(std::FILE* file, double& target);
  static int scan_one(std::FILE* file, float& target);
  static int scan_one(std::FILE* file, std::string& target);
  // The next whitespace-delimited word, at most max_len characters.
  static int read_token(std::FILE* file, std::string& token, size_t max_len);
  // The rest of the current line, at most CONTROL_LINE_PIECE characters.
  static void read_line_rest(std::FILE* file, std::string& line);

 protected:
  void report_unreadable_value(std::FILE* file, const std::string& key);

  int selected_zone_count = 0;
  std::vector<int> selected_zones;  // element 0 holds the count
  double min_to_int_end = 0;        // [min] shift from the hour of the data to the step end
  double hour_shift = 0;            // [h]
  int month_days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::string text_buffer;     // the derived classes' own text work
  std::string section_buffer;  // section headers and the rest of control-file lines

  std::string control_path;
  file_handle control;

  // Grid statistics accumulator.
  double stat_count = 0;
  double stat_min = 0;
  double stat_max = 0;
  double stat_sum = 0;
  double stat_sum_squares = 0;
  double stat_threshold = 0;

  // Grid geometry and this process's share of the rows (halo rows included).
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;
  int last_row = 0;
  double xllcorner = 0;
  double yllcorner = 0;
  double cellsize = 0;
  double nodata = NODATA;
  const grid_matrix* rel_cell_area = nullptr;  // "RelCellArea"

  // Georeference of GIF input images.
  double gif_x_origin = 0;
  double gif_y_origin = 0;
  double gif_cellsize = 0;
  const grid_matrix* gif_mask = nullptr;

  // Zone data.
  std::vector<zone_record>* zones = nullptr;  // index 0 .. zone_count
  std::vector<int>* zone_index = nullptr;     // per zone code, the zone's index
  std::vector<row_strip>* strips = nullptr;
  int zone_count = 0;
  int max_zone_code = 0;

  // Current and end date.
  int64_t cur_hour = 0, cur_day = 0, cur_month = 0, cur_year = 0;
  int64_t end_hour = 0, end_day = 0, end_month = 0, end_year = 0;
  int64_t end_key = 0;

  const std::vector<multilayer_landuse_entry>* multilayer_table = nullptr;
  const std::vector<landuse_entry>* landuse_table = nullptr;
  const std::vector<soil_entry>* soil_table = nullptr;

  char write_ascii_grids = 0;
  char write_double_grids = 0;
  const std::string* output_directory = nullptr;
  const std::string* input_directory = nullptr;

  grid_store* store = nullptr;
  const grid_matrix* mpi_regions = nullptr;  // "MPIRegions": owning process per cell
  const grid_matrix* mpi_helper = nullptr;   // "MPIHelper"

  int rank = 0;
  int process_count = 1;
  const std::vector<int>* cells_per_process = nullptr;
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;

  int spinup_switch = 0;
  const std::vector<hru_entry>* hru_list = nullptr;
  const grid_matrix* hru_grid = nullptr;

  int report_interval = 0;  // [steps]
};

template <class T>
int modelobject::read_value(std::FILE* file, const char* /*format*/, T& target,
                            const std::string& key, std::string& line) {
  const int count = scan_one(file, target);
  if (count != 1) {
    report_unreadable_value(file, key);
    fail_control_file(key, name);
  }
  read_line_rest(file, line);
  return count;
}

template <class T1, class T2>
int modelobject::read_two_values(std::FILE* file, const char* /*format*/, T1& first, T2& second,
                                 const std::string& key, std::string& line) {
  int count = scan_one(file, first);
  if (count == 1) count += scan_one(file, second) == 1 ? 1 : 0;
  if (count != 2) fail_control_file(key, name);
  read_line_rest(file, line);
  return count;
}
