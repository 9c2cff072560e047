// Station time-series files of an interpolator: the header (station count,
// altitudes and coordinates), the search for the start row, the row buffer
// read ahead about 2 MiB at a time, and the advance of all inputs of an
// interpolator by one row per model step with the agreement of their dates.
//
// Data rows are read line by line: a row with fewer values than stations or
// with a word that is no number in a value's place is reported, never filled
// from the next line or read as a silent value.
#include <algorithm>

#include "meteo/meteoint.h"
#include "meteo/meteoint_linefile.h"
#include "modelbase/diagstream.h"

namespace {

int64_t key_of(const record_date& d) { return time_key(d.year, d.month, d.day, d.hour); }

}  // namespace

void meteointerpol::fail_row(const std::string& file, const record_date& date,
                             const row_result& result, int expected, const char* what) {
  switch (result.status) {
    case row_status::no_date:
      fail_fatal(*diag, METEO_ROW_UNREADABLE, "error reading ", what, " ", file,
                 ": the row after the one dated ", date.day, ".", date.month, ".", date.year, " ",
                 date.hour, " h has no date of four integers (year, month, day, hour)");
    case row_status::too_short:
      fail_fatal(*diag, METEO_ROW_UNREADABLE, "error reading ", what, " ", file,
                 ": the row dated ", date.day, ".", date.month, ".", date.year, " ", date.hour,
                 " h holds ", result.values_read, " of ", expected, " values");
    case row_status::not_number:
    case row_status::ok:
      break;
  }
  fail_fatal(*diag, METEO_ROW_UNREADABLE, "error reading ", what, " ", file, ": value ",
             result.values_read + 1, " of the row dated ", date.day, ".", date.month, ".",
             date.year, " ", date.hour, " h is no number: \"", std::string(result.word), "\"");
}

void meteointerpol::read_station_files() {
  for (int k = 0; k < sec.station_file_count; ++k) {
    read_station_header(k);
    if (k == 1) check_second_station_file();
    seek_start_date(k);
    station_file& file = stations[static_cast<size_t>(k)];
    file.capacity = station_buffer_capacity(file.station_count);
    const size_t per_row = static_cast<size_t>(file.station_count) + 1;
    file.rows = checked_array<station_row>(static_cast<size_t>(file.capacity), 1);
    file.row_values = checked_array<double>(static_cast<size_t>(file.capacity) * per_row, 1);
    file.held = 0;
    file.buffer_index = file.capacity + 1;
    station_files = k + 1;
  }
}

void meteointerpol::read_station_header(int file_index) {
  station_file& f = stations[static_cast<size_t>(file_index)];
  const int leading = 4 + f.additional_columns;
  *diag << "reading station description for " << name << " from " << f.file_name << " ...";
  line_reader in;
  if (!in.open(f.file_name, 0)) {
    *diag << "[end-entry]";
    fail_fatal(*diag, 49, "\nerror opening ", f.file_name, errno_text(in.error()));
  }
  std::string_view line;
  int n = 0;
  if (in.next(line) && in.next(line)) n = count_header_stations(line, leading);
  if (!in.close()) fail_fatal(*diag, 50, "error closing ", f.file_name, errno_text(in.error()));
  *diag << " (" << n << ") Stationen " << "[end-entry]";

  f.station_count = n;
  const size_t size = static_cast<size_t>(n) + 1;
  f.altitude = checked_array<double>(size, 1);
  f.x = checked_array<double>(size, 1);
  f.y = checked_array<double>(size, 1);
  f.radius = checked_array<double>(size, 1);
  f.values = checked_array<double>(size, 1);
  std::fill(f.values.begin(), f.values.end(), -sec.nodata_bound - 1);

  // Lines 2 to 4 as one sequence of words: three times the leading words
  // and n numbers.
  if (!in.open(f.file_name, 0))
    fail_fatal(*diag, 49, "error opening file ", f.file_name, errno_text(in.error()));
  in.next(line);
  std::vector<double>* targets[3] = {&f.altitude, &f.x, &f.y};
  int part = 0;
  int position = 0;  // of the next word within the part
  while (part < 3 && in.next(line)) {
    word_cursor words(line);
    std::string_view word;
    while (part < 3 && words.next(word)) {
      if (position >= leading)
        (*targets[part])[static_cast<size_t>(position - leading + 1)] = header_number(word);
      if (++position == leading + n) {
        ++part;
        position = 0;
      }
    }
  }
  if (!in.close()) fail_fatal(*diag, 50, "error closing ", f.file_name, errno_text(in.error()));
}

void meteointerpol::check_second_station_file() {
  const station_file& first = stations[0];
  const station_file& second = stations[1];
  if (second.station_count != first.station_count)
    fail_fatal(*diag, 73,
               "\n------- Error 73 in Interpolation input data ---------\n"
               "meteorological station files ",
               second.file_name, " \nand ", first.file_name,
               " contain a different number of stations \n(", second.station_count, " and ",
               first.station_count,
               ", resp.)\nthese data has to be identical in both files for interpolation method "
               "6\n------- Program terminated due to input data error ---------\n\n");
  for (int j = 1; j <= first.station_count; ++j) {
    const size_t i = static_cast<size_t>(j);
    if (second.altitude[i] == first.altitude[i] && second.x[i] == first.x[i] &&
        second.y[i] == first.y[i])
      continue;
    fail_fatal(*diag, 73,
               "\n------- Error 73 in Interpolation input data ---------\n"
               "Altitude and/or coordinates of station ",
               j, " are different in\nmeteorological station files ", second.file_name, "\nH: ",
               second.altitude[i], ",\tX: ", second.x[i], "\tY: ", second.y[i], "\nand\n",
               first.file_name, "\nH: ", first.altitude[i], ",\tX: ", first.x[i], "\tY: ",
               first.y[i],
               "\nThese data has to be identical in both files for interpolation method 6\n"
               "------- Program terminated due to input data error ---------\n\n");
  }
}

bool meteointerpol::find_start_row(const std::string& file, line_reader& in,
                                   std::string_view& line, int64_t& row_offset) {
  const record_date& start = start_date;
  *diag << "looking for starting date " << start.day << "." << start.month << "." << start.year
        << " for " << name << " in " << file;
  if (!in.open(file, 0)) {
    *diag << "[end-entry]";
    fail_fatal(*diag, 49, "\nerror opening file ", file, errno_text(in.error()));
  }
  for (int skipped = 0; skipped < 5 && in.next(line);) ++skipped;
  record_date date;
  for (;;) {
    row_offset = in.offset();
    if (!in.next(line)) break;
    // Lines before the start row that hold no date are no rows.
    if (!parse_row_date(line, date)) continue;
    date.year = station_year(date.year);
    if (is_progress_dot_date(date)) *diag << ".";
    if (date == start) return true;
  }
  // A failed read is no missing date.
  if (in.failed()) {
    *diag << "[end-entry]";
    fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", file,
               read_failure_text(in.error()));
  }
  return false;
}

void meteointerpol::seek_start_date(int file_index) {
  station_file& f = stations[static_cast<size_t>(file_index)];
  const record_date& start = start_date;
  line_reader in;
  std::string_view line;
  int64_t row_offset = 0;
  if (!find_start_row(f.file_name, in, line, row_offset)) {
    *diag << "\nfile " << f.file_name << " dosnt contain date " << start.day << "."
          << start.month << "." << start.year << ", hour " << start.hour << "(feof)!"
          << "[end-entry]";
    in.close();
    throw 51;
  }
  *diag << "[end-entry]";
  record_date written;
  const row_result result = parse_station_row(line, f.additional_columns, f.station_count,
                                              sec.nodata_bound, written, f.values.data());
  if (result.status != row_status::ok) fail_row(f.file_name, start, result, f.station_count,
                                                "station data file");
  f.uniform = 0;
  f.start_offset = row_offset;
  f.next_offset = in.offset();
  if (!in.close()) fail_fatal(*diag, 50, "error closing ", f.file_name, errno_text(in.error()));
  f.date = start;
}

void meteointerpol::refill_station_buffer(int file_index) {
  station_file& f = stations[static_cast<size_t>(file_index)];
  line_reader in;
  if (!in.open(f.file_name, f.next_offset))
    fail_fatal(*diag, 49, "\nerror opening file ", f.file_name, errno_text(in.error()));
  ++f.fills;
  const int n = f.station_count;
  const size_t per_row = static_cast<size_t>(n) + 1;
  record_date last = f.date;
  f.held = 0;
  std::string_view line;
  while (f.held < f.capacity) {
    station_row& row = f.rows[static_cast<size_t>(f.held)];
    if (!in.next(line)) {
      if (in.failed())
        fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", f.file_name,
                   read_failure_text(in.error()));
      // The file ends: the empty row ends the data.
      row = station_row{};
      ++f.held;
      break;
    }
    if (is_blank(line)) continue;
    record_date date;
    double* values = f.row_values.data() + static_cast<size_t>(f.held) * per_row;
    const row_result result =
        parse_station_row(line, f.additional_columns, n, sec.nodata_bound, date, values);
    if (result.status == row_status::no_date)
      fail_row(f.file_name, last, result, n, "station data file");
    row = station_row{date.year, date.month, date.day, date.hour};
    ++f.held;
    // Whatever follows the row dated 0.0.0 is no data.
    if (is_end_row(date)) break;
    date.year = station_year(date.year);
    if (result.status != row_status::ok) fail_row(f.file_name, date, result, n, "station data file");
    last = date;
  }
  f.buffer_index = f.held > 0 ? 1 : 0;
  f.next_offset = in.offset();
  if (!in.close()) fail_fatal(*diag, 50, "error closing ", f.file_name, errno_text(in.error()));
}

void meteointerpol::next_station_row(int file_index) {
  station_file& f = stations[static_cast<size_t>(file_index)];
  if (key_of(f.date) >= end_key) {
    end_flag = 1;
    return;
  }
  if (end_flag != 0) return;
  if (f.buffer_index < 1 || f.buffer_index > f.held) refill_station_buffer(file_index);
  if (f.held < 1) {
    end_flag = 1;
    return;
  }
  const size_t at = static_cast<size_t>(f.buffer_index - 1);
  const station_row& row = f.rows[at];
  f.date = record_date{row.year, row.month, row.day, row.hour};
  if (is_end_row(f.date)) {
    end_flag = 1;
    return;
  }
  f.date.year = station_year(f.date.year);
  const int n = f.station_count;
  const double* values = f.row_values.data() + at * (static_cast<size_t>(n) + 1);
  std::copy(values + 1, values + n + 1, f.values.begin() + 1);
  f.uniform = uniform_flag(f.values.data(), n, sec.nodata_bound);
  ++f.buffer_index;
}

void meteointerpol::read_next_record() {
  if (is_station_method()) {
    for (int k = 0; k < station_files; ++k) {
      next_station_row(k);
      if (k == 0) set_current_date(stations[0].date);
    }
    // Files that reached their end together need not agree on the date of
    // a row that none of them delivered.
    const record_date current{cur_year, cur_month, cur_day, cur_hour};
    bool agree = true;
    for (int k = 0; k < station_files; ++k) agree = agree && stations[k].date == current;
    if (!agree && end_flag == 0) {
      diag_entry(*diag, "FATAL: error reading date from stationfiles:");
      for (int k = 0; k < station_files; ++k) {
        const station_file& f = stations[static_cast<size_t>(k)];
        diag_entry(*diag, "file ", f.file_name, ": YYYY=", f.date.year, ", MM=", f.date.month,
                   ", DD=", f.date.day, ", HH=", f.date.hour);
      }
      diag_entry(*diag, "");
      throw 73;
    }
  }
  if (method == 2 || method == 3) {
    if (method == 2 && time_key(cur_year, cur_month, cur_day, cur_hour) >= end_key) end_flag = 1;
    if (end_flag == 0) {
      next_regression_row(1);
      const station_file& f = stations[0];
      const record_date regression_date{cur_year, cur_month, cur_day, cur_hour};
      if (method == 3 && !(regression_date == f.date))
        fail_fatal(*diag, 52,
                   "-----------------------------------------------------------------------------"
                   "\nerror in date column of ",
                   name, " for IDW*Regress \n\nDate from station/regress file ", f.file_name,
                   ":\n", f.date.day, ".", f.date.month, ".", f.date.year, " ", f.date.hour,
                   " h\n\nbut date from regres file ", regression_data.file_name, ":\n",
                   regression_date.day, ".", regression_date.month, ".", regression_date.year,
                   " ", regression_date.hour,
                   " h\n\n-------------------------------------------------------------------"
                   "----------\n");
    }
  }
  if (method == 9) {
    next_grid_list_row();
    set_current_date(stations[0].date);
  }
}

int meteointerpol::is_end_of_data() { return end_flag != 0 ? 1 : 0; }

void meteointerpol::rewind_inputs() {
  end_flag = 0;
  if (is_station_method())
    for (int k = 0; k < station_files; ++k) {
      station_file& f = stations[static_cast<size_t>(k)];
      f.next_offset = f.start_offset;
      f.held = 0;
      f.buffer_index = f.capacity + 1;
      f.date = start_date;
    }
  if (method == 9) {
    station_file& list = stations[0];
    list.list.reset();
    list.next_offset = list.start_offset;
    list.date = start_date;
  }
  if (method == 2 || method == 3) {
    regression_data.next_offset = regression_data.start_offset;
    regression_data.held = 0;
    regression_data.buffer_index = regression_data.capacity + 1;
    set_current_date(start_date);
  }
}
