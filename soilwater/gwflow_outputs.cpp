// Outputs of the groundwater module: its grids by their write codes at the
// end of each step, the tracer statistics per layer, and the control-point
// file (heads around one cell per sub-step), buffered in blocks of 2 MiB.
#include <cerrno>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "soilwater/gwflow.h"
#include "soilwater/gwflow_kernels.h"

void gwflowclass::end_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  set_output_date(hour, day, month, year);
  output_grid(baseflow_index, 1, 0);
  for (int k = 1; k <= layers_n; ++k) {
    const gw_layer& L = layers[static_cast<size_t>(k)];
    for (size_t g : {0, 1, 6, 7, 8}) output_grid(L.index[g], 1, 0);
    for (int t = 1; t <= tracer_count; ++t) {
      gw_tracer_layer& tl = gw_tracers[static_cast<size_t>(t)].layers[static_cast<size_t>(k)];
      output_grid(tl.storage_index, 1, 0);
      // Summed over the processes, so the file does not depend on the division.
      tl.statistic->complete_step(year, month, day, hour, divided() ? 1 : 0);
    }
  }
}

void gwflowclass::flush_outputs() {
  if (flow_control == 0) return;
  for (gw_tracer& tr : gw_tracers)
    for (gw_tracer_layer& tl : tr.layers)
      if (tl.statistic) tl.statistic->write_rows();
  if (control_row >= 1 && control_owner) flush_control_point_file();
}

void gwflowclass::control_point_row_of_substep() {
  if (!control_owner) return;
  control_point_row row;
  row.year = cur_year;
  row.month = cur_month;
  row.day = cur_day;
  row.hour = cur_hour;
  const int r = control_row, c = control_col;
  row.values.reserve(static_cast<size_t>(6 * layers_n));
  for (int k = 1; k <= layers_n; ++k) {
    const grid_matrix& h = layers[static_cast<size_t>(k)].head;
    row.values.push_back(h[r][c]);
    row.values.push_back(r > 1 ? h[r - 1][c] : CONTROL_POINT_OUTSIDE);
    row.values.push_back(c < ncols ? h[r][c + 1] : CONTROL_POINT_OUTSIDE);
    row.values.push_back(r < nrows ? h[r + 1][c] : CONTROL_POINT_OUTSIDE);
    row.values.push_back(c > 1 ? h[r][c - 1] : CONTROL_POINT_OUTSIDE);
    // The cell west of the control cell; outside the grid in column 1.
    row.values.push_back(c > 1 ? (*baseflow)[r][c - 1] : CONTROL_POINT_OUTSIDE);
  }
  cp_rows.push_back(std::move(row));
  if (static_cast<int64_t>(cp_rows.size()) >= cp_capacity) flush_control_point_file();
}

void gwflowclass::flush_control_point_file() {
  if (cp_rows.empty()) return;
  ignore_sigint();
  *diag << "write " << cp_file;
  std::FILE* file = std::fopen(cp_file.c_str(), "a+");
  if (file == nullptr) {
    diag_entry(*diag, "");
    arm_sigint();
    fail_fatal(*diag, 65, "error opening file ", cp_file);
  }
  for (const control_point_row& row : cp_rows) {
    std::fprintf(file, "%ld\t%ld\t%ld\t%ld", static_cast<long>(row.year),
                 static_cast<long>(row.month), static_cast<long>(row.day),
                 static_cast<long>(row.hour));
    for (double v : row.values) std::fprintf(file, "\t%g", v);
    std::fprintf(file, "\n");
  }
  // A full disk must not pass for written rows.
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) {
    const int error = errno;
    diag_entry(*diag, "");
    arm_sigint();
    fail_write(cp_file, 65, error);
  }
  const long long bytes = (48LL * layers_n + 40) * static_cast<long long>(cp_rows.size());
  diag_entry(*diag, "(", bytes, " of ", static_cast<long long>(CONTROL_POINT_BUFFER_BYTES),
             " buffer-bytes)");
  cp_rows.clear();
  arm_sigint();
}
