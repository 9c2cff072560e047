#include "modelbase/zonalstat.h"

#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "modelbase/distribution.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"
#include "modelbase/textutil.h"

statistics_code_parts split_statistics_code(int code) {
  statistics_code_parts parts;
  if (code <= 1000) return parts;
  parts.kind = code / 1000;
  parts.steps_per_row = code % 1000;
  return parts;
}

int statistics_values_per_row(int kind, int zone_count, int listed_count) {
  if (kind == 1 || kind == 3) return 2;
  if (kind == 2 || kind == 4) return zone_count + 1;
  return listed_count + 1;
}

long statistics_capacity(int values_per_row) {
  const long capacity = STATISTICS_BUFFER_BYTES / (static_cast<long>(values_per_row) * 8 + 32);
  return std::max(capacity, 1L);
}

zonalstatistic::zonalstatistic(int& status, DiagStream* diag, statistics_registry* /*registry*/,
                               int /*registry_size*/, const grid_matrix* weights, int nrows,
                               int ncols, zone_record* zones, int zone_count, int code,
                               int precision, std::string& file_name,
                               const std::string* output_directory, int listed_count,
                               const std::vector<int>* listed_codes)
    : diag_(diag) {
  status = 0;
  valid_ = 1;
  int initialized_mpi = 0;
  MPI_Initialized(&initialized_mpi);
  if (initialized_mpi) MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  const statistics_code_parts parts = split_statistics_code(code);
  if (parts.kind == -1) return;

  weights_ = weights;
  nrows_ = nrows;
  ncols_ = ncols;
  zones_ = zones;
  zone_count_ = zone_count;
  kind_ = parts.kind;
  steps_per_row_ = parts.steps_per_row;
  precision_ = precision;
  listed_count_ = listed_codes != nullptr ? std::max(0, std::min(zone_count, listed_count)) : 0;
  if (output_directory != nullptr) prefix_directory(*output_directory, file_name);
  file_name_ = file_name;

  listed_codes_.assign(static_cast<size_t>(listed_count_) + 1, 0);
  listed_index_.assign(static_cast<size_t>(listed_count_) + 1, 0);
  for (int i = 1; i <= listed_count_; ++i) {
    listed_codes_[i] = (*listed_codes)[i];
    // The zone records are sorted by code, so the i-th listed code lies at
    // index i or above.
    int found = 0;
    for (int z = i; z <= zone_count_ && found == 0; ++z)
      if (static_cast<int>(zones_[z].code) == listed_codes_[i]) found = z;
    if (found == 0) {
      diag_entry(*diag_,
                 "\n\n ------ error ------\n\n there is a code in the output list which no zone "
                 "exists for (",
                 listed_codes_[i], ")");
      status = 1;
      valid_ = 0;
      return;
    }
    listed_index_[i] = found;
  }

  values_per_row_ = statistics_values_per_row(kind_, zone_count_, listed_count_);
  capacity_ = statistics_capacity(values_per_row_);
  const auto array_length = static_cast<size_t>(values_per_row_) + 1;
  current_values_.assign(array_length, 0.0);
  second_values_.assign(array_length, 0.0);
  share_values_.assign(array_length, 0.0);
  column_codes_.assign(array_length, 0);
  for (int z = 0; z <= zone_count_; ++z) {
    zones_[z].count = 0;
    zones_[z].sum = 0;
    zones_[z].weight = 0;
  }
  if (steps_per_row_ > 1) {
    try {
      acc_sum_.assign(static_cast<size_t>(zone_count_) + 1, 0.0);
      acc_count_.assign(static_cast<size_t>(zone_count_) + 1, 0.0);
      acc_weight_.assign(static_cast<size_t>(zone_count_) + 1, 0.0);
    } catch (const std::bad_alloc&) {
      diag_entry(*diag_, "FATAL: no free memory in zonalstatistik::zonalstatistik ");
      status = 1;
      valid_ = 0;
      return;
    }
  }
  image_.value_count = values_per_row_;
  point_image_at_arrays();
}

zonalstatistic::~zonalstatistic() {
  if (file_ != nullptr) std::fclose(file_);
}

void zonalstatistic::point_image_at_arrays() {
  image_.values = current_values_.data();
  image_.second = second_values_.data();
  image_.shares = share_values_.data();
  image_.entity_name = &entity_name_;
  image_.codes = column_codes_.data();
}

void zonalstatistic::open_file(const char* mode) {
  file_ = std::fopen(file_name_.c_str(), mode);
  if (file_ == nullptr) fail_fatal(*diag_, 15, "error opening \n", file_name_, errno_text(errno));
}

void zonalstatistic::close_file() {
  std::FILE* f = file_;
  file_ = nullptr;
  if (f == nullptr) fail_fatal(*diag_, 16, "cannot close ", file_name_, ": the file is not open");
  if (std::fclose(f) != 0) fail_fatal(*diag_, 16, "cannot close ", file_name_, errno_text(errno));
}

void zonalstatistic::write_whole_file(const std::string& text) {
  pending_file pending(file_name_);
  std::FILE* file = pending.create_stream("w");
  if (file == nullptr) fail_fatal(*diag_, 15, "error opening \n", file_name_, errno_text(errno));
  // The first failure gives the reason: a write refused, else the close.
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int write_error = written ? 0 : errno;
  const bool closed = std::fclose(file) == 0;
  const int close_error = closed ? 0 : errno;
  if (!written || !closed)
    fail_fatal(*diag_, 16, "cannot close ", file_name_,
               errno_text(written ? close_error : write_error));
  if (!pending.commit())
    fail_fatal(*diag_, 15, "error opening \n", file_name_, errno_text(errno));
}

// What "nothing half-written" means for a file that grows by appended
// blocks: after a failed append the file holds exactly the rows it held
// before, never part of a block. Writing a temporary copy of the whole file
// for every block would make a long run quadratic in its output, so a block
// is appended in place and cut off again when the disk does not take all of
// it.
void zonalstatistic::append_block(const std::string& text) {
  open_file("a+");
  if (!append_whole_block(file_, text)) {
    const int error = errno;
    std::fclose(file_);
    file_ = nullptr;
    fail_fatal(*diag_, 16, "cannot close ", file_name_, errno_text(error));
  }
  close_file();
}

void zonalstatistic::write_rows() {
  if (off() || row_dates_.empty()) return;
  file_operation_guard guard(sigint_after::arm);
  *diag_ << "write " << file_name_;
  const long rows = rows_in_use();
  std::string block;
  for (long r = 0; r < rows; ++r) {
    const row_date& d = row_dates_[static_cast<size_t>(r)];
    append_format(block, "%2ld\t%2ld\t%2ld\t%2ld", static_cast<long>(d.year),
                  static_cast<long>(d.month), static_cast<long>(d.day), static_cast<long>(d.hour));
    const double* values = row_values_.data() + r * (values_per_row_ + 1);
    for (long k = 0; k < values_in_row_; ++k) {
      if (precision_ < 99)
        append_format(block, "\t%.*f", precision_, values[k]);
      else
        append_format(block, "\t%.6g", values[k]);
    }
    block.push_back('\n');
  }
  append_block(block);
  *diag_ << "(" << (static_cast<long>(values_per_row_) * 8 + 32) * rows << " of "
         << STATISTICS_BUFFER_BYTES << " buffer-bytes)"
         << "[end-entry]";
  row_dates_.clear();
  row_values_.clear();
}

void zonalstatistic::add_value(int row, int col, int zone, double value, double weight) {
  if (off()) return;
  // Adding the cell's sums to zeros first changes no bit of the record.
  zone_sums cell;
  add_value_to(cell, row, col, value, weight);
  add_sums(zone, cell);
}

void zonalstatistic::add_value_to(zone_sums& partial, int row, int col, double value,
                                  double weight) const {
  if (off()) return;
  partial.count += weight;
  const double* weight_row = nullptr;
  if (row >= 1 && row <= nrows_ && col >= 1 && col <= ncols_ && weights_ != nullptr &&
      !weights_->empty() && row < weights_->pointer_count())
    weight_row = (*weights_)[row];
  if (weight_row != nullptr && weight_row[col] > WEIGHT_GRID_MISSING) {
    const double w = weight_row[col];
    partial.weight += w * weight;
    partial.sum += value * w * weight;
  } else {
    partial.weight += weight;
    partial.sum += value * weight;
  }
}

void zonalstatistic::add_sums(int zone, const zone_sums& partial) {
  if (off()) return;
  zone_record& z = zones_[zone];
  z.count += partial.count;
  z.sum += partial.sum;
  z.weight += partial.weight;
}

void zonalstatistic::clear_step_sums() {
  if (off()) return;
  ++period_steps_;
  for (int z = 0; z <= zone_count_; ++z) {
    zones_[z].count = 0;
    zones_[z].sum = 0;
    zones_[z].weight = 0;
  }
}

bool zonalstatistic::zone_is_column(int zone, int& next_listed) const {
  if (kind_ == 2 || kind_ == 4) return true;
  if (kind_ == 5 || kind_ == 6) {
    if (next_listed <= listed_count_ &&
        static_cast<int>(zones_[zone].code) == listed_codes_[next_listed]) {
      ++next_listed;
      return true;
    }
  }
  return false;
}

int zonalstatistic::column_count() const {
  if (kind_ == 2 || kind_ == 4) return zone_count_;
  if (kind_ == 5 || kind_ == 6) return listed_count_;
  return 0;
}

void zonalstatistic::start_row(int64_t year, int64_t month, int64_t day, int64_t hour) {
  values_in_row_ = 0;
  row_dates_.push_back({year, month, day, hour});
  row_values_.resize(row_dates_.size() * static_cast<size_t>(values_per_row_ + 1), 0.0);
  image_.year = year;
  image_.month = month;
  image_.day = day;
  image_.hour = hour;
}

void zonalstatistic::push_row_value(double value) {
  // Every row is laid out for values_per_row_ + 1 values; the file gets the
  // number of values of the last completed row.
  const size_t row = row_dates_.size() - 1;
  const size_t stride = static_cast<size_t>(values_per_row_ + 1);
  if (values_in_row_ >= values_per_row_ + 1) return;
  ++values_in_row_;
  row_values_[row * stride + static_cast<size_t>(values_in_row_ - 1)] = value;
  current_values_[static_cast<size_t>(values_in_row_)] = value;
}

void zonalstatistic::add_accumulators(int first_zone) {
  const bool means = kind_ == 1 || kind_ == 2 || kind_ == 5;
  for (int z = first_zone; z <= zone_count_; ++z) {
    zones_[z].sum += acc_sum_[z];
    if (means) {
      zones_[z].count += acc_count_[z];
      zones_[z].weight += acc_weight_[z];
    }
  }
}

void zonalstatistic::copy_to_accumulators() {
  for (int z = 0; z <= zone_count_; ++z) {
    acc_sum_[z] = zones_[z].sum;
    acc_count_[z] = zones_[z].count;
    acc_weight_[z] = zones_[z].weight;
  }
}

void zonalstatistic::clear_accumulators() {
  std::fill(acc_sum_.begin(), acc_sum_.end(), 0.0);
  std::fill(acc_count_.begin(), acc_count_.end(), 0.0);
  std::fill(acc_weight_.begin(), acc_weight_.end(), 0.0);
}

namespace {

// The mean of a zone; a zone whose cells all carry weight 0 has none and
// counts as 0 rather than 0/0.
double zone_mean(const zone_record& z) {
  if (z.count > 0 && z.weight != 0) return z.sum / z.weight;
  return 0.0;
}

}  // namespace

void zonalstatistic::complete_step(int64_t year, int64_t month, int64_t day, int64_t hour,
                                   int reduce) {
  if (off()) return;
  if (reduce > 0) distribution::reduce_zone_records(zones_, zone_count_, true);
  if (rank_ != 0) return;
  const bool periods = steps_per_row_ > 1;
  if (periods) add_accumulators(0);
  const bool complete = period_steps_ == steps_per_row_;
  if (complete) start_row(year, month, day, hour);
  double sum_total = 0;
  double weight_total = 0;
  int next_listed = 1;
  for (int z = 1; z <= zone_count_; ++z) {
    const double mean = zone_mean(zones_[z]);
    if (complete && zone_is_column(z, next_listed)) push_row_value(mean);
    sum_total += zones_[z].sum;
    weight_total += zones_[z].weight;
  }
  const double total_mean = weight_total > 0 ? sum_total / weight_total : 0.0;
  if (periods) copy_to_accumulators();
  if (complete) {
    push_row_value(total_mean);
    if (periods) clear_accumulators();
    period_steps_ = 0;
    if (rows_in_use() >= capacity_) write_rows();
  }
}

int zonalstatistic::register_image(statistics_registry* registry, int registry_size,
                                   int from) const {
  if (registry == nullptr) return -1;
  const int limit = std::min(registry_size, static_cast<int>(registry->records.size()));
  for (int i = from; i < limit; ++i)
    if (registry->records[static_cast<size_t>(i)].values == nullptr) return i;
  return -1;
}

int zonalstatistic::write_header(const std::string& name, const std::string& text,
                                 statistics_registry* registry, int registry_size) {
  if (rank_ != 0 || off()) return -1;
  file_operation_guard guard(sigint_after::disarm);
  entity_name_ = name + "_submodel:" + text;
  const int columns = column_count();
  std::fill(current_values_.begin(), current_values_.end(), 0.0);
  std::fill(second_values_.begin(), second_values_.end(), 0.0);
  int next_listed = 1;
  int column = 0;
  std::string header = "YY\tMM\tDD\tHH";
  for (int z = 1; z <= zone_count_ && column < columns; ++z) {
    if (!zone_is_column(z, next_listed)) continue;
    ++column;
    append_format(header, "\t\"%.0lf\"", zones_[z].code);
    share_values_[static_cast<size_t>(column)] = zones_[z].share;
    column_codes_[static_cast<size_t>(column)] = static_cast<int>(zones_[z].code);
  }
  header += "\ttot_average\n";
  share_values_[static_cast<size_t>(column) + 1] = 1.0;
  column_codes_[static_cast<size_t>(column) + 1] = 0;
  header += entity_name_ + "\n";
  header += "--\t--\t--\t--";
  for (int c = 1; c <= column; ++c) append_format(header, "\t%.7lf", share_values_[c]);
  header += "\t1.0000\n";
  write_whole_file(header);
  const int slot = register_image(registry, registry_size, 0);
  if (slot >= 0) registry->records[static_cast<size_t>(slot)] = image_;
  return 0;
}

void zonalstatistic::free_buffers() {
  row_dates_.clear();
  row_dates_.shrink_to_fit();
  row_values_.clear();
  row_values_.shrink_to_fit();
  listed_index_.clear();
  acc_sum_.clear();
  acc_count_.clear();
  acc_weight_.clear();
}

void zonalstatistic::release() {
  if (off()) return;
  if (!row_dates_.empty() && valid_ != 0) write_rows();
  free_buffers();
}
