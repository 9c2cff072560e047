// Output by write code: the calendar tests of a step and the file names of
// every result grid that modelobject::output_grid and output_stack write.
// Both operations (declared in modelobject.h) are the only place where a
// write code is interpreted; the digits are taken apart by register_grid
// (gridstore.h).
//
// Result names are built from the registered file name: its directory part
// is kept, the stem is the base name up to its first "." and a date or period
// suffix follows. Grids derived at set-up by the settings object use another
// rule (derived_grid_file_name below).
#pragma once

#include <cstdint>
#include <string>

class grid_store;
struct write_output_state;

// Date of a model step as output by write code sees it.
struct output_date {
  int64_t hour = 0;
  int64_t day = 0;
  int64_t month = 0;
  int64_t year = 0;
};

// ---- calendar of the step ----
// End of a day: the hour plus the hour shift, truncated, is 24.
bool is_day_end(const output_date& date, double hour_shift);
// End of a month: a day end on the last day of the month in month_days
// (elements 1..12).
bool is_month_end(const output_date& date, double hour_shift, const int* month_days);
// End of a year: a month end on 31 December.
bool is_year_end(const output_date& date, double hour_shift, const int* month_days);
// End of the run: the date's time key is not below the end time key.
bool is_run_end(const output_date& date, int64_t end_key);

// ---- file names of output by write code ----
// The directory part of a file name (up to and including the last "/").
std::string output_directory_part(const std::string& file_name);
// The stem: the base name up to its first "." (a base without "." is its
// own stem), at most max_chars characters.
std::string output_stem(const std::string& file_name, size_t max_chars = std::string::npos);
// Directory, stem and suffix.
std::string output_name_with_suffix(const std::string& file_name, const std::string& suffix);

// "stem_YYYYMMDD.HHH", or "stem_YYYYMMDD.HHH_RRR" when repeat > 0.
std::string dated_output_name(const std::string& file_name, const output_date& date, int64_t repeat,
                              size_t max_stem = std::string::npos);
// The dated name of the next write of an entry: a write at the date of the
// entry's last dated name counts up the repeat counter (the second write in
// the same hour ends in "_001"); any other date resets it. Updates state.
std::string next_dated_output_name(write_output_state& state, const std::string& file_name,
                                   const output_date& date, size_t max_stem = std::string::npos);
// Units digit 8: the whole file name with ".filled" appended.
std::string filled_output_name(const std::string& file_name);
// Sums (tens 1..4) or means (5..8) of the period ending at date; empty for
// any other tens digit (0 and 9 write nothing).
std::string period_output_name(const std::string& file_name, int tens, const output_date& date);
std::string minimum_output_name(const std::string& file_name);
std::string maximum_output_name(const std::string& file_name);
// Vegetation-period totals (thousands 1) or means (thousands 2); the year is
// taken mod 100 in four digits (2016 gives "0016"). Empty for other digits.
std::string vegetation_output_name(const std::string& file_name, int thousands, int64_t year);
// The vegetation layer of a file name: the text after "_Layer_" up to the
// next "." ("1" without "_Layer_").
std::string vegetation_layer_name(const std::string& file_name);

// Whether the period of a tens digit ends at this step (1, 5 run; 2, 6 year;
// 3, 7 month; 4, 8 day; never for 0 and 9).
bool period_ends(int tens, bool day_end, bool month_end, bool year_end, bool run_end);

// ---- grids derived at set-up ----
// The part of base_file_name before its last "." (anywhere in the name, also
// in a directory) followed by suffix; the whole name followed by suffix when
// it has no ".".
std::string derived_grid_file_name(const std::string& base_file_name, const std::string& suffix);

// Makes register_grid write a grid with units digit 8 at once, through the
// registering object's output_grid(index, 1, 0).
void install_output_by_write_code(grid_store& store);
