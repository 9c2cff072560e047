// The one table of named grids that all model objects share. Modules publish
// a grid by registering it under a free index with its file name, grid name and
// write code, and find the grids of other modules by grid name. The write code
// decides which derived grids (sums or means, minima, maxima, vegetation-period
// values) an entry carries; the entry owns those, while the grid and the stack
// it points to belong to the object that registered them.
//
// The look-ups, registration and release are operations of modelobject
// (find_grid, require_grid, require_one_of_3_grids, require_one_of_4_grids,
// register_grid, free_grid_entry), declared in modelobject.h.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "modelbase/matrices.h"

class DiagStream;
class modelobject;

constexpr int GRID_STORE_ENTRIES = 1001;  // indices 0 .. 1000; 0 is never used
constexpr int GRID_STORE_FULL = 1000;     // the index that means "no free entry"
constexpr int GRID_STORE_FULL_CODE = 12;  // error code of a full store

// The digits of a write code that the store keeps. Digits above the
// thousands are ignored.
struct write_code_digits {
  int units = 0;
  int tens = 0;
  int min_flag = 0;  // hundreds digit 1 or 3
  int max_flag = 0;  // hundreds digit 2 or 3
  int thousands = 0;
};
write_code_digits split_write_code(unsigned code);

// Vegetation-period state of output by write code. The daily land-use
// update raises flags[output_due] on the table's write day and
// flags[reset_due] on its reset day; output_grid clears them. The three
// grids belong to the settings object; they are looked up at the first
// output that needs them.
struct vegetation_period_state {
  static constexpr int output_due = 0;
  static constexpr int reset_due = 1;
  int flags[2] = {0, 0};
  const grid_matrix* start = nullptr;     // "VegetationStart<layer>"
  const grid_matrix* stop = nullptr;      // "VegetationStop<layer>"
  const grid_matrix* duration = nullptr;  // "VegetationDuration<layer>"
};

// State of output by write code that lives with the entry.
struct write_output_state {
  int accumulation_started = 0;
  int no_level_copy = 0;
  int64_t dated_year = 0;
  int64_t dated_month = 0;
  int64_t dated_day = 0;
  int64_t dated_hour = 0;
  int64_t repeat_counter = 0;
};

// State of standard grids and their periodic re-reading.
struct standard_grid_state {
  int fill_code = 0;
  double default_value = 0;
  int read_code = 0;
  int write_code_as_read = 0;
  std::string statistics_file_name;
  int statistics_code = 0;
  int period_count = 0;
  std::string unit;
  int step_number = 0;
  int period_counter = 0;
  int step_counter = 0;
  int last_watched = 0;
  char persistent = 0;
  char replaced = 0;
  int duration = 0;
  int steps_since_reread = 0;
  grid_matrix saved_grid;
  std::string dated_name;
};

struct grid_entry {
  grid_matrix* grid = nullptr;    // owned by the registering object
  grid_matrix sum_grid;           // present when the tens digit is not 0
  grid_matrix min_grid;           // present with the minimum flag
  grid_matrix max_grid;           // present with the maximum flag
  stack_matrix* stack = nullptr;  // owned by the registering object
  int levels = 0;
  // An entry without a file name was never registered (or was freed): it is
  // free. An empty file name is a registered entry.
  std::optional<std::string> file_name;
  std::string sum_file_name;
  std::string min_file_name;
  std::string max_file_name;
  std::optional<std::string> grid_name;  // the key of every look-up
  int units = 0;
  int tens = 0;
  int min_flag = 0;
  int max_flag = 0;
  int output_flag = 0;      // output by write code done; cleared at registration
  double step_counter = 0;  // steps accumulated in the derived grids
  int thousands = 0;
  grid_matrix vegetation_grid;  // present when the thousands digit is not 0
  std::string vegetation_file_name;
  vegetation_period_state vegetation;
  // The first file name registered under this index; output by write code
  // builds its file names from it, so a re-registration does not replace it.
  std::optional<std::string> first_file_name;
  int owns_first_file_name = 0;
  int derived_first_row = 0;  // rows of the derived grids (this process's share)
  int derived_last_row = 0;

  write_output_state output;
  standard_grid_state standard;
};

class grid_store {
 public:
  grid_store();
  grid_store(const grid_store&) = delete;
  grid_store& operator=(const grid_store&) = delete;

  // Entries 0 .. 1000; any other index throws std::out_of_range.
  grid_entry& operator[](int index);
  const grid_entry& operator[](int index) const;
  static bool valid_index(int index) { return index >= 0 && index < GRID_STORE_ENTRIES; }

  // An entry is free when it has no file name.
  bool is_free(int index) const;
  // The first free entry from index from on, or GRID_STORE_FULL when all of
  // from .. 999 are taken.
  int first_free(int from = 1) const;

  // Called by register_grid for a grid whose units digit is 8, which must be
  // written as soon as it is registered. Output by write code installs it
  // (owner.output_grid(index, 1, 0)); while it is empty such a grid is only
  // registered.
  std::function<void(modelobject& owner, int index)> write_at_registration;

  // ---- files the run read ----
  // Process 0 notes every grid and stack file it opens for reading (the path
  // as opened), so that no output of the run replaces one of them.
  void note_read_file(const std::string& path);
  // The noted file that path names, by the same text or as the same file
  // reached by another spelling or a link; nullptr when none.
  const std::string* read_file_named_by(const std::string& path) const;
  // True the first time it is asked for a noted file: one warning per input.
  bool first_warning_for(const std::string& read_path);

 private:
  struct read_file {
    std::string path;
    bool identified = false;  // device and inode known
    unsigned long long device = 0;
    unsigned long long inode = 0;
  };
  std::vector<grid_entry> entries_;
  std::vector<read_file> read_files_;
  std::set<std::string> warned_inputs_;
};

// The path an output meant for path is written to. That is path itself,
// unless it names a file the run read; such an output goes into the output
// directory under path's base name instead, with a WARNING naming both
// paths. Where the output folder is the input folder, that name is the
// input again, and the output goes to the base name with ".out" appended
// (a result is not dropped). Empty, with a WARNING, when both names are
// files the run read: nothing is written. Without a store every path is its
// own.
std::string output_path_sparing_inputs(DiagStream& diag, grid_store* store, const std::string& path,
                                       const std::string* output_directory);
