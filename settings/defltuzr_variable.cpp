// Grids that vary: the variable grids of "[variable_grids]" (read from a file
// or filled with a constant and written by their write codes) and the
// periodic standard grids, which are replaced by a dated file at fixed points
// of the calendar and, when not persistent, get their set-up values back
// after a number of steps.
#include <cerrno>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"

namespace {

std::string format_count(const char* format, int i) {
  char text[256];
  std::snprintf(text, sizeof text, format, i);
  return text;
}

// The calendar value a unit text watches: the hour for "H" and "D", the day
// for "M", the month for "Y" (the first of these letters found, in this
// order). False when the text holds none of them.
bool watched_value(const std::string& unit, int64_t hour, int64_t day, int64_t month, int& value) {
  if (unit.find('H') != std::string::npos || unit.find('D') != std::string::npos) {
    value = static_cast<int>(hour);
  } else if (unit.find('M') != std::string::npos) {
    value = static_cast<int>(day);
  } else if (unit.find('Y') != std::string::npos) {
    value = static_cast<int>(month);
  } else {
    return false;
  }
  return true;
}

std::string dated_grid_name(const std::string& file_name, int64_t year, int64_t month, int64_t day,
                            int64_t hour) {
  char suffix[96];
  std::snprintf(suffix, sizeof suffix, "_%04ld%02ld%02ld%02ld", static_cast<long>(year),
                static_cast<long>(month), static_cast<long>(day), static_cast<long>(hour));
  return file_name + suffix;
}

}  // namespace

void defaultini::read_variable_grids() {
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  std::FILE* file = control_file();
  seek_section("[variable_grids]", true);
  int count = 0;
  read_value(file, "%d", count, " number of variable grids ", section_buffer);
  variable_grid_count = count;
  first_variable_index = 0;
  readgrid_codes.clear();

  if (count >= 1) {
    first_variable_index = store->first_free(1);
    if (first_variable_index == GRID_STORE_FULL) {
      control.reset();
      fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid found in memory (an Position ",
                 GRID_STORE_FULL, ")\n");
    }
    readgrid_codes = checked_array<int>(static_cast<size_t>(count) + 1U, 1);
  }

  int first = 0;
  int last = 0;
  held_rows(first, last);
  const grid_matrix& zone = *zone_grid;
  for (int i = 1; i <= count; ++i) {
    std::string file_name;
    std::string identifier;
    int fill_code = 0;
    double default_value = 0;
    const bool line_read = scan_one(file, file_name) == 1 && scan_one(file, identifier) == 1 &&
                           scan_one(file, fill_code) == 1 && scan_one(file, default_value) == 1;
    if (!line_read)
      fail_control_file(format_count("\nfile for vargrid %d or the identifier or the fillcode or "
                                     "the defaultvalue (which is new in version 7.7) in ",
                                     i),
                        name);
    read_line_rest(file, section_buffer);
    int write_code = 0;
    read_value(file, "%d", write_code, "Writegrid for a variable grid ", section_buffer);
    int& read_code = readgrid_codes[static_cast<size_t>(i)];
    read_value(file, "%d", read_code, "Readgrid for a variable grid ", section_buffer);

    // The matrix is made before the entry is registered, so that the entry
    // holds the values (and a write at registration has them).
    const int index = registered_grids + 2 + i;
    grid_matrix& grid = own_grid(index);
    if (read_code == 1) {
      read_grid(file_name, grid, fill_code, true, true, 0.0, true, true, false, true);
    } else {
      grid = matrix(first, last, 1, ncols, nrows);
      for (int r = first; r <= last; ++r) {
        const double* zone_row = zone[r];
        for (int c = 1; c <= ncols; ++c)
          grid[r][c] = zone_row != nullptr && zone_row[c] > nodata ? default_value : nodata;
      }
    }
    register_grid(index, file_name, &grid, nullptr, 0, identifier,
                  static_cast<unsigned>(write_code), first, last);
  }

  if (std::fclose(control.release()) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
  if (count > 0) registered_grids += count;
}

void defaultini::update_periodic_grids(int64_t hour, int64_t day, int64_t month, int64_t year,
                                       int64_t) {
  grid_store& s = *store;
  for (int i = 3; i <= registered_grids + 2 && i < GRID_STORE_FULL; ++i) {
    grid_entry& entry = s[i];
    standard_grid_state& st = entry.standard;
    if (st.period_count <= 0) continue;

    int watched = 0;
    if (watched_value(st.unit, hour, day, month, watched)) {
      if (watched > st.last_watched) {
        ++st.step_counter;
      } else if (watched < st.last_watched) {
        ++st.period_counter;
        st.step_counter = 1;
      }
      st.last_watched = watched;
    }

    const bool due = st.period_counter == st.period_count && st.step_counter == st.step_number;
    if (due) {
      st.dated_name =
          dated_grid_name(entry.file_name.value_or(std::string()), year, month, day, hour);
      read_grid(st.dated_name, *entry.grid, st.fill_code, false, true, st.default_value, true, true,
                false, true);
      refresh_landuse_layers(i);
      exchange_halo(i);
      st.period_counter = 0;
      st.step_counter = 0;
      if (st.persistent == 0) {
        st.steps_since_reread = 0;
        st.replaced = 1;
      }
    } else if (st.replaced != 0) {
      ++st.steps_since_reread;
      if (st.steps_since_reread == st.duration) {
        // Every row whose spans this process keeps (process 0: all rows, so
        // its whole copy is consistent again); halo cells follow.
        const grid_matrix& saved = st.saved_grid;
        grid_matrix& grid = *entry.grid;
        if (!saved.empty()) {
          for (int r = saved.first_row(); r <= saved.last_row(); ++r) {
            if (static_cast<size_t>(r) >= strips->size() || grid[r] == nullptr) continue;
            const row_strip& span = (*strips)[static_cast<size_t>(r)];
            for (int c = span.first; c <= span.last; ++c) grid[r][c] = saved[r][c];
          }
        }
        exchange_halo(i);
        st.replaced = 0;
      }
    }
  }
}
