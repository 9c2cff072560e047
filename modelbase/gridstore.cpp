#include "modelbase/gridstore.h"

#include <sys/stat.h>

#include <cmath>
#include <new>
#include <stdexcept>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "modelbase/textutil.h"

write_code_digits split_write_code(unsigned code) {
  write_code_digits d;
  d.units = static_cast<int>(code % 10);
  d.tens = static_cast<int>((code % 100) / 10);
  const int hundreds = static_cast<int>((code % 1000) / 100);
  d.min_flag = hundreds == 1 || hundreds == 3 ? 1 : 0;
  d.max_flag = hundreds == 2 || hundreds == 3 ? 1 : 0;
  d.thousands = static_cast<int>((code % 10000) / 1000);
  return d;
}

grid_store::grid_store() : entries_(GRID_STORE_ENTRIES) {}

grid_entry& grid_store::operator[](int index) {
  if (!valid_index(index)) throw std::out_of_range("grid store index");
  return entries_[static_cast<size_t>(index)];
}

const grid_entry& grid_store::operator[](int index) const {
  if (!valid_index(index)) throw std::out_of_range("grid store index");
  return entries_[static_cast<size_t>(index)];
}

bool grid_store::is_free(int index) const { return !(*this)[index].file_name.has_value(); }

int grid_store::first_free(int from) const {
  for (int i = from < 1 ? 1 : from; i < GRID_STORE_FULL; ++i)
    if (is_free(i)) return i;
  return GRID_STORE_FULL;
}

// ---- files the run read ----

namespace {

bool file_identity(const std::string& path, unsigned long long& device, unsigned long long& inode) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  device = static_cast<unsigned long long>(info.st_dev);
  inode = static_cast<unsigned long long>(info.st_ino);
  return true;
}

}  // namespace

void grid_store::note_read_file(const std::string& path) {
  // Grids read again (periodic re-reading) are noted once.
  for (const read_file& known : read_files_)
    if (known.path == path) return;
  read_file entry;
  entry.path = path;
  entry.identified = file_identity(path, entry.device, entry.inode);
  read_files_.push_back(std::move(entry));
}

const std::string* grid_store::read_file_named_by(const std::string& path) const {
  if (read_files_.empty()) return nullptr;
  for (const read_file& known : read_files_)
    if (known.path == path) return &known.path;
  // A different spelling ("in/../in/a.asc", an absolute path for a relative
  // one, a link) can only replace an input that exists, so the file's
  // identity settles it.
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (!file_identity(path, device, inode)) return nullptr;
  for (const read_file& known : read_files_)
    if (known.identified && known.device == device && known.inode == inode) return &known.path;
  return nullptr;
}

bool grid_store::first_warning_for(const std::string& read_path) {
  return warned_inputs_.insert(read_path).second;
}

std::string output_path_sparing_inputs(DiagStream& diag, grid_store* store, const std::string& path,
                                       const std::string* output_directory) {
  if (store == nullptr) return path;
  const std::string* input = store->read_file_named_by(path);
  if (input == nullptr) return path;
  const std::string read_path = *input;
  const size_t slash = path.rfind('/');
  std::string moved = slash == std::string::npos ? path : path.substr(slash + 1);
  if (output_directory != nullptr) prefix_directory(*output_directory, moved);
  const std::string names[2] = {moved, moved + ".out"};
  const bool warn = store->first_warning_for(read_path);
  for (const std::string& target : names) {
    if (store->read_file_named_by(target) != nullptr) continue;
    if (warn)
      diag_entry(diag, "WARNING: ", read_path, " was read by this run and is not replaced; ",
                 "the output goes to ", target);
    return target;
  }
  if (warn)
    diag_entry(diag, "WARNING: ", read_path, " was read by this run and is not replaced; ",
               names[0], " and ", names[1], " were read as well, so this output is not written");
  return std::string();
}

// ---- modelobject: look-ups ----

int modelobject::find_grid(const std::string& grid_name, char include_gridless) {
  const grid_store& s = *store;
  // Entries are filled one after the other, so the search ends at the first
  // free entry (and, without the flag, at the first entry without a grid).
  int i = 1;
  for (;;) {
    const grid_entry& e = s[i];
    if (e.grid_name && *e.grid_name == grid_name) return i;
    if (i + 1 >= GRID_STORE_FULL) return 0;
    const grid_entry& next = s[i + 1];
    if ((next.grid == nullptr && include_gridless == 0) || !next.file_name) return 0;
    ++i;
  }
}

namespace {

int search_grid_name(const grid_store& s, const std::string& grid_name) {
  for (int i = 1; i < GRID_STORE_FULL; ++i) {
    const grid_entry& e = s[i];
    if (!e.grid_name) return 0;
    if (*e.grid_name == grid_name) return i;
  }
  return 0;
}

// "a, b or c": the names separated by ", " with " or " before the last.
std::string name_alternatives(const std::vector<std::string>& names) {
  std::string text;
  for (size_t k = 0; k < names.size(); ++k) {
    if (k > 0) text += k + 1 == names.size() ? " or " : ", ";
    text += names[k];
  }
  return text;
}

}  // namespace

int modelobject::require_grid(const std::string& grid_name) {
  const int index = search_grid_name(*store, grid_name);
  if (index > 0) return index;
  fail_fatal(*diag, 33, "\n---------------- !!! ERROR !!!  --------------------------\n", grid_name,
             " not found in memory,\nThese data are needed within ", name,
             " \nif they are interpolated data, please specify an interpolator for\n", grid_name,
             " in the control file or read it in as a standardfile,\n"
             "-----------------------------------------------------------\n");
}

namespace {

[[noreturn]] void fail_none_of(DiagStream& diag, const std::string& object_name,
                               const std::vector<std::string>& names) {
  const std::string alternatives = name_alternatives(names);
  fail_fatal(diag, 33, "\n---------------- !!! ERROR !!!  ------------------------------------\n",
             "Wether ", alternatives, " \nwhere found in memory,\n",
             "One of these data sets has to be present within ", object_name, " \n",
             "If the data are to be interpolated, please specify an interpolatior for\n",
             alternatives, " in the control file,\n", "or read it as a standard grid \n",
             std::string(71, '-'), "\n");
}

}  // namespace

int modelobject::require_one_of_3_grids(const std::string& a, const std::string& b,
                                        const std::string& c) {
  for (const std::string* n : {&a, &b, &c}) {
    const int index = search_grid_name(*store, *n);
    if (index > 0) return index;
  }
  fail_none_of(*diag, name, {a, b, c});
}

int modelobject::require_one_of_4_grids(const std::string& a, const std::string& b,
                                        const std::string& c, const std::string& d) {
  for (const std::string* n : {&a, &b, &c, &d}) {
    const int index = search_grid_name(*store, *n);
    if (index > 0) return index;
  }
  fail_none_of(*diag, name, {a, b, c, d});
}

// ---- modelobject: statistics accumulator ----

void modelobject::reset_statistics(double threshold) {
  stat_threshold = threshold;
  stat_count = 0;
  stat_min = 0;
  stat_max = 0;
  stat_sum = 0;
  stat_sum_squares = 0;
  stat_started = false;
}

void modelobject::add_to_statistics(double value, double weight) {
  add_row_to_statistics(&value, &weight, 0, 0);
}

void modelobject::add_row_to_statistics(const double* cells, const double* weights, int first,
                                        int last) {
  // The sums stay in locals over the row: a call per cell that loads and
  // stores every sum cost more than the sums themselves.
  const double floor = stat_threshold + 1.0;
  double count = stat_count;
  double minimum = stat_min;
  double maximum = stat_max;
  double sum = stat_sum;
  double squares = stat_sum_squares;
  bool started = stat_started;
  for (int col = first; col <= last; ++col) {
    const double value = cells[col];
    if (!(value > floor)) continue;
    const double weight = weights != nullptr ? weights[col] : 1.0;
    // The first value counted sets both bounds, whatever its weight.
    if (!started) {
      minimum = value;
      maximum = value;
      started = true;
    } else if (value < minimum) {
      minimum = value;
    } else if (value > maximum) {
      maximum = value;
    }
    count += weight;
    sum += value * weight;
    squares += weight * value * value;
  }
  stat_count = count;
  stat_min = minimum;
  stat_max = maximum;
  stat_sum = sum;
  stat_sum_squares = squares;
  stat_started = started;
}

void modelobject::get_statistics(double& count, double& minimum, double& maximum, double& sum,
                                 double& mean, double& stddev) {
  count = stat_count;
  minimum = stat_min;
  maximum = stat_max;
  sum = stat_sum;
  mean = stat_count > 0 ? stat_sum / stat_count : NODATA;
  if (stat_count > 2) {
    const double variance =
        (stat_sum_squares - stat_sum * stat_sum / stat_count) / (stat_count - 1.0);
    stddev = variance > 0 ? std::sqrt(variance) : variance;
  } else {
    stddev = NODATA;
  }
}

// ---- modelobject: registration ----

void modelobject::register_grid(int index, const std::string& file_name, grid_matrix* grid,
                                stack_matrix* stack, int levels, const std::string& grid_name,
                                unsigned write_code, int entry_first_row, int entry_last_row) {
  if (index == GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid in memory,(max. ", GRID_STORE_FULL, ")!");
  if (index < 1 || index > GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "grid index ", index, " for ", grid_name,
               " outside the grid store (1 to ", GRID_STORE_FULL - 1, ")!");
  grid_entry& e = (*store)[index];
  try {
    e.file_name = file_name;
    if (!e.first_file_name) {
      e.first_file_name = file_name;
      e.owns_first_file_name = 1;
    }
    e.grid_name = grid_name;
  } catch (const std::bad_alloc&) {
    fail_allocation(1);
  }
  e.grid = grid;
  e.stack = stack;
  e.levels = levels;
  const write_code_digits d = split_write_code(write_code);
  e.units = d.units;
  e.tens = d.tens;
  e.min_flag = d.min_flag;
  e.max_flag = d.max_flag;
  e.thousands = d.thousands;
  e.derived_first_row = entry_first_row;
  e.derived_last_row = entry_last_row;
  e.output_flag = 0;
  e.step_counter = 0;

  auto derived = [&](grid_matrix& m, std::string& derived_name) {
    m = matrix(entry_first_row, entry_last_row, 1, ncols, nrows);
    try {
      derived_name = file_name;
    } catch (const std::bad_alloc&) {
      fail_allocation(1);
    }
  };
  if (d.tens != 0) derived(e.sum_grid, e.sum_file_name);
  if (d.min_flag != 0) derived(e.min_grid, e.min_file_name);
  if (d.max_flag != 0) derived(e.max_grid, e.max_file_name);
  if (d.thousands != 0) derived(e.vegetation_grid, e.vegetation_file_name);

  if (d.units == 8 && store->write_at_registration) store->write_at_registration(*this, index);
}

void modelobject::free_grid_entry(int index) {
  // Only entries of the store; the grid and the stack stay with their owner.
  if (!grid_store::valid_index(index)) return;
  grid_entry& e = (*store)[index];
  e.file_name.reset();
  e.grid_name.reset();
  e.grid = nullptr;
  e.stack = nullptr;
  e.levels = 0;
  e.units = 0;
  e.step_counter = 0;
  const int r0 = e.derived_first_row;
  const int r1 = e.derived_last_row;
  if (e.tens != 0) {
    free_matrix(e.sum_grid, r0, r1, 1, ncols);
    e.sum_file_name.clear();
  }
  if (e.min_flag != 0) {
    free_matrix(e.min_grid, r0, r1, 1, ncols);
    e.min_file_name.clear();
  }
  if (e.max_flag != 0) {
    free_matrix(e.max_grid, r0, r1, 1, ncols);
    e.max_file_name.clear();
  }
  if (e.thousands != 0) {
    free_matrix(e.vegetation_grid, r0, r1, 1, ncols);
    e.vegetation_file_name.clear();
  }
  if (e.owns_first_file_name != 0) {
    // A later registration of this index makes a new first file name.
    e.first_file_name.reset();
    e.owns_first_file_name = 0;
  }
}
