// Base of every object driven by the control file: the settings object, the
// meteorological inputs, the routing reaches and, through teilmodellklasse,
// every sub-model module. It holds what they share (name, control-file access,
// grid geometry, the process's rows, dates, the shared grid store) and the
// conventions by which they read the control file and report errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "modelbase/distribution.h"
#include "modelbase/gridtypes.h"
#include "modelbase/memhandling.h"
#include "modelbase/settings_context.h"

class DiagStream;
class text_writer;
class grid_store;
struct grid_entry;
struct grid_row_source;
struct stack_row_source;

struct file_closer {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// ": " and the C library's text of an I/O error (errno); empty for 0. The
// entries of failed file operations end with it, so that a full disk, a
// missing folder and a refused permission can be told apart.
std::string errno_text(int error);

// Time key of a date: keys of two dates compare like the dates.
constexpr int64_t TIME_KEY_YEAR = 93000;
constexpr int64_t TIME_KEY_MONTH = 7750;
constexpr int64_t TIME_KEY_DAY = 250;
constexpr int64_t TIME_KEY_HOUR = 1;

// Dates come from data files too, where a year may be any 64-bit number: a
// key beyond the 64-bit range stops at its end instead of wrapping around,
// so that such a date still sorts before or after every real one.
constexpr int64_t saturated_sum(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum))
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return sum;
}
constexpr int64_t saturated_product(int64_t a, int64_t weight) {
  int64_t product = 0;
  if (__builtin_mul_overflow(a, weight, &product))
    return (a > 0) == (weight > 0) ? std::numeric_limits<int64_t>::max()
                                   : std::numeric_limits<int64_t>::min();
  return product;
}
constexpr int64_t time_key(int64_t year, int64_t month, int64_t day, int64_t hour) {
  int64_t key = saturated_product(year, TIME_KEY_YEAR);
  key = saturated_sum(key, saturated_product(month, TIME_KEY_MONTH));
  key = saturated_sum(key, saturated_product(day, TIME_KEY_DAY));
  return saturated_sum(key, saturated_product(hour, TIME_KEY_HOUR));
}

// Length of a control-file line piece: lines are read in pieces of this many
// characters at most.
constexpr int CONTROL_LINE_PIECE = 1199;

class modelobject : public memory_handling {
 public:
  // settings: the run's settings, referenced for the object's life; the
  // object's grid frame (geometry, rows, zone table, formats, directories,
  // division, end date) starts from them. An object built without the
  // settings of a run keeps the empty default and sets its frame itself.
  modelobject(DiagStream* diag, const std::string& control_file,
              const settings_context& settings = no_settings());

  const settings_context& settings() const { return *context; }

  virtual void write_log_line(int ignored, const std::string& text);
  virtual void set_end_date(uint64_t year, uint64_t month, uint64_t day, uint64_t hour);
  virtual void set_report_interval(int interval);
  virtual int get_report_interval();
  virtual double get_hour_shift();

  [[noreturn]] virtual void fail_control_file(const std::string& key, const std::string& section);
  // A failed write or read of file_name: error is errno of the failed call.
  // A read that found the end of the file (no errno) passes 0 and is
  // reported as such.
  [[noreturn]] virtual void fail_write(const std::string& file_name, int code, int error);
  [[noreturn]] virtual void fail_read(const std::string& file_name, int code, int error);

  // One value of a control-file line, read by the format's conversion ("%d",
  // "%i", "%ld", "%lf", "%s", ...) into a target of any integer or floating
  // type or a std::string; the rest of the line (at most 1199 characters)
  // goes to line. A value that cannot be read is reported with the key and
  // the object's name (code 17); where a section header stands instead of
  // the value, with the key and the section being read. Returns the count
  // read. read_two_values takes the first two conversions of its format
  // ("%d%lf", "%s%d", ...).
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

  // Opens the control file for reading; false (errno set) when it cannot be
  // opened.
  bool open_control_file();
  std::FILE* control_file() const { return control.get(); }
  const std::string& control_file_name() const { return control_path; }
  int64_t end_time_key() const { return end_key; }

  // A target of one scanf conversion.
  using scan_target = std::variant<int*, long*, long long*, unsigned*, unsigned long*,
                                   unsigned long long*, double*, float*, std::string*>;
  // Reads the conversion number index (0 for the first) of a scanf format
  // ("%d", "%i", "%ld", "%lf", "%g", "%s", "%99s", ...; literal text before
  // it is matched as scanf does) into the target, with the conversion's own
  // rules ("%i" reads 010 as 8). A "%s" word has no length limit unless the
  // format gives one. 1 when read, 0 when the text does not convert (it stays
  // in the file), EOF at the end of the file. A word that begins a line with
  // "[" is a section header and never a value: it does not convert.
  static int scan_conversion(std::FILE* file, const char* format, int index, scan_target target);
  // Whether the next word of the file begins with "[" and is the first word
  // of its line (blanks before it allowed); the file position is kept.
  static bool section_header_follows(std::FILE* file);

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

  // ---- grid store, statistics accumulator and transfers of grid rows ----
  // Store look-ups: index 1..999, 0 when absent (find_grid) or fatal 33.
  virtual int find_grid(const std::string& grid_name, char include_gridless = 0);
  virtual int require_grid(const std::string& grid_name);
  virtual int require_one_of_3_grids(const std::string& a, const std::string& b,
                                     const std::string& c);
  virtual int require_one_of_4_grids(const std::string& a, const std::string& b,
                                     const std::string& c, const std::string& d);
  // Grid statistics accumulator of the grid and stack writers.
  virtual void reset_statistics(double threshold);
  virtual void add_to_statistics(double value, double weight);
  // Cells first..last of a row in column order, each weighed by its weight
  // (1 without weights): the same sums as adding them one by one.
  void add_row_to_statistics(const double* cells, const double* weights, int first, int last);
  virtual void get_statistics(double& count, double& minimum, double& maximum, double& sum,
                              double& mean, double& stddev);
  // Index 1..999, otherwise fatal 12. The grid and the stack stay the caller's.
  virtual void register_grid(int index, const std::string& file_name, grid_matrix* grid,
                             stack_matrix* stack, int levels, const std::string& grid_name,
                             unsigned write_code, int first_row, int last_row);
  virtual void free_grid_entry(int index);

  void set_grid_store(grid_store* shared_store) { store = shared_store; }
  grid_store* grid_store_ptr() const { return store; }
  // Looks up "MPIRegions" and "MPIHelper" in the store and keeps them.
  void find_division_grids();
  // What the transfers read of this object's division.
  distribution_view division_view() const;

  // Collective transfers; a store index with a null grid or stack means the
  // entry's own grid or stack.
  void scatter_grid(int index, grid_matrix* grid = nullptr);
  void gather_grid(int index, grid_matrix* grid = nullptr);
  grid_matrix gather_grid_copy(int index, const grid_matrix* grid = nullptr);
  void gather_stack(int index, stack_matrix* stack = nullptr);
  stack_matrix gather_stack_copy(int index, const stack_matrix* stack = nullptr);
  void MPIScatterStack(int index, stack_matrix* stack = nullptr, int levels = 0);
  void exchange_halo(int index, grid_matrix* grid = nullptr);
  void exchange_halo_stack(int index, stack_matrix* stack = nullptr);
  void reduce_zone_records(zone_record* records, int last, char also_weight);
  void broadcast_zone_records(zone_record* records, int last);
  void gather_masked(int values_index, int mask_index, const std::vector<int64_t>& counts,
                     grid_matrix* target = nullptr);
  void scatter_masked(int values_index, int mask_index, const std::vector<int64_t>& counts);

  // ---- grid and stack files ----
  // The header of a file of the model grid: its measures, statistics 0.
  grid_header model_header() const;
  // Reads a grid file (text, binary single or double, GIF image) into grid,
  // checks it against the model's measures, distributes the rows and fills
  // holes. Collective unless no_distribution. Throws 21 to 25 (and 5).
  virtual void read_grid(const std::string& file_name, grid_matrix& grid, int fill_mode,
                         bool allocate, bool verbose, double fill_value, bool report_holes,
                         bool keep_full_grid, bool no_distribution, bool with_halo);
  // As read_grid with fill mode 0 and without distribution, but collective,
  // so that all processes parse a text file together: process 0 gets the
  // whole grid, the others an empty one.
  void read_grid_to_process_0(const std::string& file_name, grid_matrix& grid, bool verbose,
                              double fill_value, bool report_holes);
  // Writes the whole model grid from the rows grid holds (other rows as
  // nodata); called by process 0. Throws 26, 27, 18.
  virtual void write_grid(const std::string& file_name, const grid_matrix& grid, bool as_text,
                          bool double_precision);
  // The text grid a gathered copy of grid gives, with every process
  // formatting and writing an equal share of the rows. Collective;
  // needs "MPIRegions". Throws 26, 27, 18 (process 0).
  void write_text_grid_bands(const std::string& file_name, const grid_matrix& grid);
  // As write_grid, after setting the cells outside each row's span to nodata
  // in grid itself.
  virtual void write_grid_region(const std::string& file_name, grid_matrix& grid, bool as_text,
                                 bool double_precision);
  // Writes each file of file_names as process 0 would from the copy
  // gather_grid_copy gives (a region write also sets the cells outside the
  // spans to nodata, in the file only), without a whole copy: process 0
  // gathers band_rows rows at a time into one buffer (0: a band of a few
  // MiB) and writes them. Collective. Throws 26, 27, 18 (process 0, once
  // every band has been gathered).
  void write_gathered_grid(const std::vector<std::string>& file_names, const grid_matrix& grid,
                           bool as_text, bool double_precision, bool region_output,
                           int band_rows = 0);
  // Reads a stack file into a new stack (this process's rows, or all rows on
  // process 0 with keep_full_stack); its levels are stack.levels(). Collective.
  virtual void read_stack(const std::string& file_name, stack_matrix& stack,
                          bool keep_full_stack);
  // Text: process 0 writes the whole stack. Binary: collective, every process
  // writes its own cells.
  virtual void write_stack(const std::string& file_name, const stack_matrix& stack, int levels,
                           bool as_text, bool double_precision);
  // Writes each file of file_names as a text stack, as process 0 would from
  // the copy gather_stack_copy gives, gathering band_rows rows at a time (0:
  // a band of a few MiB) instead. grid_name is for the progress entry.
  // Collective; needs "MPIRegions". Throws 26, 27, 18 (process 0, once every
  // band has been gathered).
  void write_gathered_text_stack(const std::vector<std::string>& file_names,
                                 const stack_matrix& stack, int levels,
                                 const std::string& grid_name, int band_rows = 0);
  void set_gif_georeference(const grid_matrix* mask, double x_origin, double y_origin,
                            double cell_size);
  // The class-to-value rule of GIF images: f1, x1, threshold, f2, x2.
  void set_gif_mapping(double f1, double x1, int threshold, double f2, double x2);
  // The header of the last grid or stack file read or written.
  const grid_header& last_file_header() const { return file_header; }

  // ---- output by write code ----
  // Writes store entry index (1..1000, others ignored) by its write code at
  // the object's current date and accumulates its sums, minima, maxima and
  // vegetation-period values. distributed 1: only own cells count and the
  // grid is gathered at process 0 (every call in a run); 0: every zone cell
  // of the spans counts, nothing is gathered. suppress_period_output 1 keeps
  // this call from writing minima, maxima and period sums or means (they are
  // still accumulated). Collective: all processes call it for the same
  // entries in the same order. Declared in modelbase/gridoutput.h: the file
  // names, the calendar tests and the vegetation flag indices.
  virtual void output_grid(int index, int distributed, int suppress_period_output);
  // Writes the stack of store entry index by the units digit of its write
  // code (1, 2 every step; 3 at the run's end; 4, 5 at day ends). Collective.
  virtual void output_stack(int index);
  // Sets the current date used by output by write code (dated names and the
  // calendar tests of the step).
  void set_output_date(int64_t hour, int64_t day, int64_t month, int64_t year);

 protected:
  void report_unreadable_value(std::FILE* file, const std::string& key);
  // The unreadable value of key: the section being read when its header
  // stands where the value should, otherwise the object's name.
  void fail_unreadable_value(std::FILE* file, const std::string& key, bool with_next_word);
  // The note of an object whose computations are not built yet: "WARNING: "
  // + name + " is not built yet: " + what.
  void warn_not_built(const char* what);

  int selected_zone_count = 0;
  std::vector<int> selected_zones;  // element 0 holds the count
  double min_to_int_end = 0;        // [min] shift from the hour of the data to the step end
  double hour_shift = 0;            // [h]
  int month_days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::string text_buffer;     // the derived classes' own text work
  std::string section_buffer;  // section headers and the rest of control-file lines

  std::string control_path;
  file_handle control;
  std::string current_section;  // the header last sought by seek_section

  // Grid statistics accumulator.
  double stat_count = 0;
  double stat_min = 0;
  double stat_max = 0;
  double stat_sum = 0;
  double stat_sum_squares = 0;
  double stat_threshold = 0;
  // ---- statistics accumulator state ----
  bool stat_started = false;  // a value was counted since the reset

  // Grid geometry and this process's own rows (grids are held with one halo
  // row more on each side).
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;
  int last_row = 0;
  double xllcorner = 0;
  double yllcorner = 0;
  double cellsize = 0;
  double nodata = NODATA;
  const grid_matrix* rel_cell_area = nullptr;  // "RelCellArea"
  // Set while read_grid_to_process_0 runs.
  bool rows_to_process_0_only = false;

  // Georeference of GIF input images.
  double gif_x_origin = 0;
  double gif_y_origin = 0;
  double gif_cellsize = 0;
  const grid_matrix* gif_mask = nullptr;

  // Zone data.
  const std::vector<zone_record>* zones = nullptr;  // index 0 .. zone_count
  const std::vector<int>* zone_index = nullptr;     // per zone code, the zone's index
  const std::vector<row_strip>* strips = nullptr;
  int zone_count = 0;
  int max_zone_code = 0;
  // Reads table in place of the settings' zone table (a module that counts
  // the subbasins of another module's zone grid).
  void use_zone_table(const zone_table_view& table);

  // Current and end date.
  int64_t cur_hour = 0, cur_day = 0, cur_month = 0, cur_year = 0;
  int64_t end_hour = 0, end_day = 0, end_month = 0, end_year = 0;
  int64_t end_key = 0;

  char write_ascii_grids = 0;
  char write_double_grids = 0;
  const std::string* output_directory = nullptr;
  const std::string* input_directory = nullptr;

  grid_store* store = nullptr;
  const grid_matrix* mpi_regions = nullptr;  // "MPIRegions": owning process per cell
  const grid_matrix* mpi_helper = nullptr;   // "MPIHelper"

  int rank = 0;
  int process_count = 1;
  const std::vector<halo_run>* halo_send = nullptr;
  const std::vector<halo_run>* halo_receive = nullptr;

  int report_interval = 0;  // [steps]

  // ---- grid and stack files, state ----
  // Ends a text grid or stack file: flush (a full disk is write error 18),
  // remember its header, close (27).
  void finish_text_file(text_writer& out, file_handle& file, const std::string& path,
                        const grid_header& header);
  grid_header file_header;  // the last header read or written
  double gif_f1 = 0;        // GIF classes up to the threshold: f1 exp(x1 class)
  double gif_x1 = 0;
  int gif_threshold = 0;
  double gif_f2 = 0;  // GIF classes above the threshold up to 250: f2 exp(x2 class)
  double gif_x2 = 0;
  // The writer behind write_grid and write_grid_region; a region writes the
  // rows it does not hold as the model's nodata, a whole grid as "-9999".
  void write_grid_file(const std::string& file_name, const grid_matrix& grid, bool as_text,
                       bool double_precision, bool region_output);
  // The same writer fed band by band from rows (gridfile_rows.h). A failure
  // is thrown only after every band has been loaded, so that the processes
  // sending a gathered band are never left waiting.
  void write_grid_rows(const std::string& file_name, grid_row_source& rows, bool as_text,
                       bool double_precision, bool region_output);
  // The text stack writer fed band by band, failing as write_grid_rows.
  void write_text_stack_rows(const std::string& file_name, int levels, stack_row_source& rows);
  // Sets the cells of a row of the model grid outside the row's span (the
  // whole row without a span) to nodata; nothing without spans.
  void blank_outside_span(double* cells, int row) const;

 private:
  const settings_context* context;  // never none
};

template <class T>
int modelobject::read_value(std::FILE* file, const char* format, T& target,
                            const std::string& key, std::string& line) {
  const int count = scan_conversion(file, format, 0, &target);
  if (count != 1) fail_unreadable_value(file, key, true);
  read_line_rest(file, line);
  return count;
}

template <class T1, class T2>
int modelobject::read_two_values(std::FILE* file, const char* format, T1& first, T2& second,
                                 const std::string& key, std::string& line) {
  int count = scan_conversion(file, format, 0, &first);
  if (count == 1) count += scan_conversion(file, format, 1, &second) == 1 ? 1 : 0;
  if (count != 2) fail_unreadable_value(file, key, false);
  read_line_rest(file, line);
  return count;
}
