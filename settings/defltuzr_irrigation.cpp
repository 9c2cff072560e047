// The irrigation switch ("[irrigation]"), the irrigation table and the check
// of the grid "irrigation_codes" against it: every code above 0 of a valid
// cell must be in the table, and the codes become table indices.
#include <climits>
#include <cmath>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/rank0_status.h"

namespace {

const char* const DASHES =
    "-----------------------------------------------------------------------";

bool cell_code(double value, int& code) {
  if (!(value > INT_MIN && value < INT_MAX)) return false;
  code = static_cast<int>(std::trunc(value));
  return true;
}

}  // namespace

void defaultini::fail_irrigation_rule(int position) { ::fail_irrigation_rule(*diag, position); }

void defaultini::read_irrigation_table() {
  if (soil_model_mode <= 1) return;
  seek_section("[irrigation]", true);
  read_value(control_file(), "%d", irrigation_switch, "irrigation switch in [irrigation] ",
             section_buffer);
  if (irrigation_switch == 0) return;
  read_irrigation_entries(*this, month_days, irrigation_entries);
  irrigation_table = &irrigation_entries;
}

void defaultini::check_irrig_Codes(int irrigation_index) {
  if (irrigation_index <= 0) return;
  run_on_rank0_and_share_error(rank, [&] {
    const grid_entry& entry = (*store)[irrigation_index];
    const std::string file_name = entry.file_name.value_or(std::string());
    grid_matrix& grid = *entry.grid;
    const grid_matrix copy = grid.clone();
    const grid_matrix& zone = *zone_grid;
    const int n = static_cast<int>(irrigation_entries.size()) - 1;
    diag_entry(*diag, "1.: checking codes in irrigation grid");
    for (int r = 1; r <= nrows; ++r) {
      if (copy[r] == nullptr || zone[r] == nullptr) continue;
      for (int c = 1; c <= ncols; ++c) {
        int code = 0;
        if (!(zone[r][c] > nodata) || !cell_code(copy[r][c], code) || code <= 0) continue;
        bool found = false;
        for (int k = 1; k <= n && !found; ++k)
          found = irrigation_entries[static_cast<size_t>(k)].code == code;
        if (!found)
          fail_fatal(*diag, IRRIGATION_CODE_ERROR, "\n", DASHES, "\nirrigation type ", code,
                     " in grid ", file_name, " (", entry.grid_name.value_or(std::string()),
                     ")\nis not present in the irrigation table in the control file \n", DASHES,
                     "\n\n");
      }
    }
    diag_entry(*diag, "2.:replacing codes in irrigation grid ", file_name);
    for (int k = 1; k <= n; ++k) {
      const int c = irrigation_entries[static_cast<size_t>(k)].code;
      if (c == k) continue;
      diag_entry(*diag, c, " replaced by ", k, " ...");
      for (int r = 1; r <= nrows; ++r) {
        if (copy[r] == nullptr) continue;
        for (int col = 1; col <= ncols; ++col) {
          int code = 0;
          if (cell_code(copy[r][col], code) && code == c) grid[r][col] = k;
        }
      }
    }
  });
  scatter_grid(irrigation_index);
  exchange_halo(irrigation_index);
}
