// The inputs of an interpolator besides its station files: the regression
// file of methods 2 and 3 (text or binary, read ahead 16384 rows at a time),
// the grid list of method 9 (one grid file per step, the list kept open) and
// the scenario value of a cell.
#include <sys/types.h>

#include <cerrno>
#include <cstdio>

#include "meteo/meteoint.h"
#include "meteo/meteoint_geometry.h"
#include "meteo/meteoint_linefile.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"

namespace {

void write_progress_dot(DiagStream& diag, const record_date& date) {
  if (is_progress_dot_date(date)) diag << ".";
}

}  // namespace

void meteointerpol::seek_regression_start(int) {
  regression_input& r = regression_data;
  r.file_name = sec.regression_file;
  const record_date& start = start_date;
  *diag << "looking for starting date " << start.day << "." << start.month << "." << start.year
        << " for " << name << " in " << r.file_name;
  r.text_form = 0;
  file_handle file(std::fopen(r.file_name.c_str(), "rb"));
  if (!file) {
    const int error = errno;
    *diag << "[end-entry]";
    fail_fatal(*diag, 49, "\nerror opening file ", r.file_name, errno_text(error));
  }
  unsigned char head[5] = {0, 0, 0, 0, 0};
  const size_t got = std::fread(head, 1, sizeof head, file.get());
  r.text_form = is_text_regression(head, got) ? 1 : 0;

  record_date current;
  int64_t row_offset = 0;
  int64_t next_offset = 0;
  bool found = false;
  if (r.text_form == 1) {
    file.reset();
    line_reader in;
    if (!in.open(r.file_name, 0)) {
      *diag << "[end-entry]";
      fail_fatal(*diag, 49, "\nerror opening file ", r.file_name, errno_text(in.error()));
    }
    std::string_view line;
    in.next(line);
    while (!found) {
      row_offset = in.offset();
      if (!in.next(line)) break;
      record_date date;
      if (!parse_row_date(line, date)) continue;
      date.year = regression_year(date.year);
      current = date;
      write_progress_dot(*diag, date);
      found = current == start;
    }
    if (found) {
      record_date written;
      const row_result result = parse_regression_row(line, written, r.set);
      if (result.status != row_status::ok) {
        *diag << "[end-entry]";
        fail_row(r.file_name, start, result, REGRESSION_SET_SIZE, "regression file");
      }
    }
    // A failed read is no missing date.
    if (!found && in.failed()) {
      *diag << "[end-entry]";
      fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", r.file_name,
                 read_failure_text(in.error()));
    }
    next_offset = in.offset();
    if (!in.close())
      fail_fatal(*diag, 50, "error closing ", r.file_name, errno_text(in.error()));
  } else {
    std::rewind(file.get());
    unsigned char record[REGRESSION_RECORD_BYTES];
    while (!found) {
      row_offset = static_cast<int64_t>(ftello(file.get()));
      if (std::fread(record, 1, sizeof record, file.get()) != sizeof record) break;
      decode_regression_record(record, current, r.set);
      current.year = regression_year(current.year);
      write_progress_dot(*diag, current);
      found = current == start;
    }
    if (!found && std::ferror(file.get()) != 0) {
      const int error = errno;
      *diag << "[end-entry]";
      fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", r.file_name,
                 read_failure_text(error));
    }
    next_offset = static_cast<int64_t>(ftello(file.get()));
    if (std::fclose(file.release()) != 0) {
      const int error = errno;
      fail_fatal(*diag, 50, "error closing ", r.file_name, errno_text(error));
    }
  }
  *diag << "[end-entry]";
  if (!found)
    fail_fatal(*diag, 51, "\nEOF reached: ", r.file_name, ", date ", start.day, ".", start.month,
               ".", start.year, ", ", start.hour, ". h not found!");
  set_current_date(current);
  r.start_offset = row_offset;
  r.next_offset = next_offset;
  r.capacity = REGRESSION_BUFFER_ROWS;
  r.held = 0;
  r.buffer_index = r.capacity + 1;
  r.dates = checked_array<record_date>(static_cast<size_t>(r.capacity), 1);
  r.sets = checked_array<std::array<double, 12>>(static_cast<size_t>(r.capacity), 1);
}

void meteointerpol::refill_regression_buffer(int) {
  regression_input& r = regression_data;
  ++r.fills;
  r.held = 0;
  record_date last{cur_year, cur_month, cur_day, cur_hour};
  if (r.text_form == 1) {
    line_reader in;
    if (!in.open(r.file_name, r.next_offset))
      fail_fatal(*diag, 49, "\nerror opening file ", r.file_name, errno_text(in.error()));
    std::string_view line;
    while (r.held < r.capacity) {
      record_date& date = r.dates[static_cast<size_t>(r.held)];
      if (!in.next(line)) {
        if (in.failed())
          fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", r.file_name,
                     read_failure_text(in.error()));
        date = record_date{};
        ++r.held;
        break;
      }
      if (is_blank(line)) continue;
      const row_result result =
          parse_regression_row(line, date, r.sets[static_cast<size_t>(r.held)]);
      if (result.status == row_status::no_date)
        fail_row(r.file_name, last, result, REGRESSION_SET_SIZE, "regression file");
      ++r.held;
      if (is_end_row(date)) break;
      last = date;
      last.year = regression_year(last.year);
      if (result.status != row_status::ok)
        fail_row(r.file_name, last, result, REGRESSION_SET_SIZE, "regression file");
    }
    r.next_offset = in.offset();
    if (!in.close())
      fail_fatal(*diag, 50, "error closing ", r.file_name, errno_text(in.error()));
  } else {
    file_handle file(std::fopen(r.file_name.c_str(), "rb"));
    if (!file || fseeko(file.get(), static_cast<off_t>(r.next_offset), SEEK_SET) != 0) {
      const int error = errno;
      fail_fatal(*diag, 49, "error opening regression file ", r.file_name, errno_text(error),
                 " in binary mode");
    }
    unsigned char record[REGRESSION_RECORD_BYTES];
    while (r.held < r.capacity) {
      record_date& date = r.dates[static_cast<size_t>(r.held)];
      const size_t got = std::fread(record, 1, sizeof record, file.get());
      if (got == 0) {
        if (std::ferror(file.get()) != 0) {
          const int error = errno;
          fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", r.file_name,
                     read_failure_text(error));
        }
        date = record_date{};
        ++r.held;
        break;
      }
      // A record cut short is a damaged file, not the end of the data.
      if (got != sizeof record)
        fail_fatal(*diag, METEO_ROW_UNREADABLE, "error reading regression file ", r.file_name,
                   ": the record after the one dated ", last.day, ".", last.month, ".",
                   last.year, " ", last.hour, " h holds ", static_cast<long>(got), " of ",
                   static_cast<long>(REGRESSION_RECORD_BYTES), " bytes");
      decode_regression_record(record, date, r.sets[static_cast<size_t>(r.held)]);
      ++r.held;
      if (is_end_row(date)) break;
      last = date;
      last.year = regression_year(last.year);
    }
    r.next_offset = static_cast<int64_t>(ftello(file.get()));
    if (std::fclose(file.release()) != 0) {
      const int error = errno;
      fail_fatal(*diag, 50, "error closing ", r.file_name, errno_text(error));
    }
  }
  r.buffer_index = 1;
}

void meteointerpol::next_regression_row(int regression_index) {
  regression_input& r = regression_data;
  if (regression_index == 1 && method != 3 &&
      time_key(cur_year, cur_month, cur_day, cur_hour) >= end_key) {
    end_flag = 1;
    return;
  }
  if (end_flag != 0) return;
  if (r.buffer_index < 1 || r.buffer_index > r.held) refill_regression_buffer(regression_index);
  if (end_flag != 0 || r.held < 1) return;
  const size_t at = static_cast<size_t>(r.buffer_index - 1);
  set_current_date(r.dates[at]);
  if (is_end_row(r.dates[at])) {
    end_flag = 1;
    return;
  }
  r.set = r.sets[at];
  cur_year = regression_year(cur_year);
  ++r.buffer_index;
}

void meteointerpol::read_grid_list() {
  station_file& list = stations[0];
  read_station_header(0);
  if (list.station_count < 1)
    fail_fatal(*diag, 49, "error reading the grid list ", list.file_name,
               " for interpolation of ", name,
               ": lines 2, 3 and 4 must hold the cell size, the x origin and the y origin of the "
               "images after their leading words");
  seek_grid_list_start();
  set_gif_georeference((*store)[1].grid, list.x[1], list.y[1], list.altitude[1]);
  list.uniform = 0;
  set_current_date(list.date);
}

void meteointerpol::seek_grid_list_start() {
  station_file& f = stations[0];
  const record_date& start = start_date;
  line_reader in;
  std::string_view line;
  int64_t row_offset = 0;
  const bool found = find_start_row(f.file_name, in, line, row_offset);
  *diag << "[end-entry]";
  if (!found)
    fail_fatal(*diag, 51, "\nfile ", f.file_name, " dosnt contain date ", start.day, ".",
               start.month, ".", start.year, ", hour ", start.hour, "(feof)!");
  record_date written;
  if (!parse_grid_list_row(line, f.additional_columns, written, f.grid_name))
    fail_fatal(*diag, METEO_ROW_UNREADABLE, "error reading grid list ", f.file_name,
               ": the row dated ", start.day, ".", start.month, ".", start.year, " ", start.hour,
               " h names no grid file");
  f.start_offset = row_offset;
  f.next_offset = in.offset();
  if (!in.close()) fail_fatal(*diag, 50, "error closing ", f.file_name, errno_text(in.error()));
  f.date = start;
}

void meteointerpol::next_grid_list_row() {
  station_file& f = stations[0];
  auto close_list = [&] {
    if (f.list && std::fclose(f.list.release()) != 0) {
      const int error = errno;
      fail_fatal(*diag, 50, "error closing ", f.file_name, errno_text(error));
    }
  };
  if (time_key(f.date.year, f.date.month, f.date.day, f.date.hour) >= end_key) {
    end_flag = 1;
    close_list();
    return;
  }
  if (end_flag != 0) return;
  if (!f.list) {
    f.list.reset(std::fopen(f.file_name.c_str(), "rb"));
    if (!f.list || fseeko(f.list.get(), static_cast<off_t>(f.next_offset), SEEK_SET) != 0) {
      const int error = errno;
      f.list.reset();
      fail_fatal(*diag, 49, "\nerror opening file ", f.file_name, errno_text(error));
    }
  }
  std::string line;
  bool got = false;
  while (!got && read_text_line(f.list.get(), line)) got = !is_blank(line);
  // A failed read is no end of the list.
  if (!got && std::ferror(f.list.get()) != 0) {
    const int error = errno;
    fail_fatal(*diag, METEO_ROW_UNREADABLE, "read error in ", f.file_name,
               read_failure_text(error));
  }
  if (!got) {
    end_flag = 1;
    close_list();
    return;
  }
  f.next_offset = static_cast<int64_t>(ftello(f.list.get()));
  record_date date;
  if (!parse_grid_list_row(line, f.additional_columns, date, f.grid_name))
    fail_fatal(*diag, METEO_ROW_UNREADABLE, "error reading grid list ", f.file_name,
               ": the row after the one dated ", f.date.day, ".", f.date.month, ".", f.date.year,
               " ", f.date.hour, " h holds no date and grid file name");
  date.year = station_year(date.year);
  f.date = date;
}

double meteointerpol::scenario_value(int row, int col, double x, double y) {
  if (sec.scenario_method == 5 || sec.scenario_method == 6)
    return scenario_grid ? scenario_grid[row][col] : 0.0;
  return nearest_scenario_value(sec.scenario_points, x, y);
}
