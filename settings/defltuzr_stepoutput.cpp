// Per-step output of the grids the settings object owns in the grid store
// (elevation model, standard, variable and derived grids) by their write
// codes. The variable grids are handed to output by write code only by
// write_variable_grids, so that their sums count each step once.
#include <cstdint>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"

void defaultini::write_standard_grids(int64_t hour, int64_t day, int64_t month, int64_t year) {
  set_output_date(hour, day, month, year);
  const int last = variable_grid_count > 0 ? first_variable_index - 1 : registered_grids + 2;
  for (int index = 2; index <= last; ++index) output_grid(index, 1, 0);
}

void defaultini::write_variable_grids(int64_t hour, int64_t day, int64_t month, int64_t year) {
  set_output_date(hour, day, month, year);
  for (int k = 0; k < variable_grid_count; ++k) output_grid(first_variable_index + k, 1, 0);
}
