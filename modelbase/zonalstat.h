// Zonal statistics: a quantity computed per cell becomes a time series per
// zone (subbasin). Every step the owning module adds its cells to their
// zones, the sums are combined over all processes at process 0, zone means
// and the mean over all zones are formed (optionally collected over several
// steps), buffered as dated rows and appended to a tab-separated file. Each
// statistic also registers itself in the statistics registry, through which
// the external coupling reads the latest rows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class DiagStream;

// Rows of a statistics file are collected in a buffer of this size before
// they are appended to the file.
constexpr long STATISTICS_BUFFER_BYTES = 2097152;  // [bytes]
// Records of the application's registry, and how many of them may be used.
constexpr int STATISTICS_REGISTRY_RECORDS = 201;
constexpr int STATISTICS_REGISTRY_SIZE = 200;
// Missing value of the weight grid.
constexpr double WEIGHT_GRID_MISSING = -9999.0;

// One registered statistic as the external coupling sees it. Dates and the
// value count are copies; the arrays belong to the statistic (1-based: the
// columns 1..n, the total last). A record is free while values is none.
struct statistics_record {
  int64_t year = 0, month = 0, day = 0, hour = 0;  // of the last stored row
  int value_count = 0;
  double* values = nullptr;         // current row values
  double* second = nullptr;         // a second value array, zero at registration
  double* shares = nullptr;         // area shares of the columns (1.0 for the total)
  const std::string* entity_name = nullptr;  // "%s_submodel:%s"
  int* codes = nullptr;             // zone codes of the columns (0 for the total)
};

// The application's registry: 201 zeroed records of which the first 200 are
// handed to the statistics.
struct statistics_registry {
  std::vector<statistics_record> records =
      std::vector<statistics_record>(STATISTICS_REGISTRY_RECORDS);
};

// The parts of a statistics code: a code of 1000 or less is no statistic.
struct statistics_code_parts {
  int kind = -1;          // -1 off; 1..6 see zonalstatistic
  int steps_per_row = 0;  // steps collected into one output row
};
statistics_code_parts split_statistics_code(int code);

// Values per row and rows in the buffer for a kind, zone count and number of
// listed zones; the buffer holds at least one row.
int statistics_values_per_row(int kind, int zone_count, int listed_count);
long statistics_capacity(int values_per_row);

// The three sums of a zone record that cells add to, gathered apart from the
// record (partial sums of a part of the grid).
struct zone_sums {
  double count = 0;
  double sum = 0;
  double weight = 0;
};

class zonalstatistic {
 public:
  // Kinds: 1 total only (means), 2 every zone and total (means), 3 total only
  // (sums), 4 every zone and total (sums), 5 listed zones and total (means),
  // 6 listed zones and total (sums); above 6 the total only, as for sums.
  //
  // zones is the module's array (0..zone_count), not owned; listed_codes
  // holds the codes at 1..listed_count (element 0 is not read). An output
  // directory is put in front of a relative file_name, in the caller's
  // string. status: 0, or 1 when a listed code has no zone (then invalid).
  // The registry arguments are not used here.
  zonalstatistic(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                 const grid_matrix* weights, int nrows, int ncols, zone_record* zones,
                 int zone_count, int code, int precision, std::string& file_name,
                 const std::string* output_directory, int listed_count,
                 const std::vector<int>* listed_codes);
  virtual ~zonalstatistic();
  zonalstatistic(const zonalstatistic&) = delete;
  zonalstatistic& operator=(const zonalstatistic&) = delete;

  virtual void open_file(const char* mode);  // code 15 when it cannot be opened
  virtual void close_file();                 // code 16 when it cannot be closed
  virtual void write_rows();
  // Adds one cell: zone is the zone index, weight the count weight.
  virtual void add_value(int row, int col, int zone, double value, double weight);
  // What add_value adds for one cell, added to partial instead of to a zone:
  // callers that sum cells on several threads keep partial sums and add them
  // in a fixed order with add_sums. Nothing while the statistic is off.
  void add_value_to(zone_sums& partial, int row, int col, double value, double weight) const;
  void add_sums(int zone, const zone_sums& partial);
  virtual void clear_step_sums();
  // Ends a step; with reduce > 0 the sums of all processes meet at process 0
  // (collective).
  virtual void complete_step(int64_t year, int64_t month, int64_t day, int64_t hour, int reduce);
  // Writes the three header lines and registers the statistic; -1 on
  // processes other than 0 and when off.
  virtual int write_header(const std::string& name, const std::string& text,
                           statistics_registry* registry, int registry_size);
  virtual void release();

  bool off() const { return kind_ == -1; }
  int valid() const { return valid_; }
  int kind() const { return kind_; }
  int steps_per_row() const { return steps_per_row_; }
  int values_per_row() const { return values_per_row_; }
  long capacity() const { return capacity_; }
  long rows_in_use() const { return static_cast<long>(row_dates_.size()); }
  const std::string& file_name() const { return file_name_; }
  // The registry image (arrays 1-based).
  const statistics_record& image() const { return image_; }
  const std::vector<int>& listed_zone_indices() const { return listed_index_; }

 protected:
  struct row_date {
    int64_t year, month, day, hour;
  };
  // Whether zone index z (1..zone_count) is a column of the rows, walking the
  // listed codes with next_listed (1-based).
  bool zone_is_column(int zone, int& next_listed) const;
  // Number of zone columns of the rows and header.
  int column_count() const;
  // Starts a buffered row; the values follow with push_row_value.
  void start_row(int64_t year, int64_t month, int64_t day, int64_t hour);
  void push_row_value(double value);
  void add_accumulators(int first_zone);
  void copy_to_accumulators();
  void clear_accumulators();
  void point_image_at_arrays();
  // The file as a whole (the header lines), written under a temporary name
  // and renamed onto the file: 15 when it cannot be made, 16 when it cannot
  // be written or closed.
  void write_whole_file(const std::string& text);
  // Appends text (rows, tables) as one block: all of it, or nothing when
  // the disk refuses part of it. 15 / 16 as above.
  void append_block(const std::string& text);
  int register_image(statistics_registry* registry, int registry_size, int from) const;
  void free_buffers();

  int valid_ = 0;
  DiagStream* diag_ = nullptr;
  zone_record* zones_ = nullptr;

  std::vector<row_date> row_dates_;   // rows 1..capacity, here 0-based
  std::vector<double> row_values_;    // values_in_row_ per row, back to back

  statistics_record image_;
  std::vector<double> current_values_;  // 1..values per row
  std::vector<double> second_values_;
  std::vector<double> share_values_;
  std::string entity_name_;
  std::vector<int> column_codes_;

  long capacity_ = 0;
  long values_in_row_ = 0;

  const grid_matrix* weights_ = nullptr;
  int nrows_ = 0;
  int ncols_ = 0;

  int zone_count_ = 0;
  int precision_ = 0;
  int kind_ = -1;
  int steps_per_row_ = 0;
  int values_per_row_ = 0;
  int listed_count_ = 0;
  std::vector<int> listed_codes_;  // 1-based

  std::string file_name_;
  std::FILE* file_ = nullptr;

  int period_steps_ = 0;  // steps counted in the current period
  std::vector<double> acc_sum_, acc_count_, acc_weight_;  // 0..zone_count
  std::vector<int> listed_index_;                         // 1-based
  int rank_ = 0;
};
