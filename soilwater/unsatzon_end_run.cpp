// The unsaturated zone's end of run: the control-cell rows still buffered,
// the flush of every buffered output, the release of the per-tracer records,
// and end_run with the module's section of the storage content file and the
// soil-water report at model end.
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/signals.h"
#include "settings/tracer_entry.h"
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_statistics.h"
#include "tables/soiltable.h"

namespace {

std::string formatted_line(const char* format, double value) {
  char text[200];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Appends text to "modell_<rank>.log"; one that cannot be opened is a
// WARNING, and the run goes on.
void append_log_or_warn(DiagStream& diag, int rank, const std::string& text) {
  const std::string name = "modell_" + std::to_string(rank) + ".log";
  std::FILE* f = std::fopen(name.c_str(), "a+");
  if (f == nullptr) {
    diag_entry(diag, "WARNING: log file ", name, " could not be opened", errno_text(errno));
    return;
  }
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

}  // namespace

bool unsatzonmodellklasse::owns_control_cell() const {
  const int r = params.control_row;
  const int c = params.control_column;
  return r > 0 && c > 0 && r >= first_row && r <= last_row && mpi_regions != nullptr &&
         r < mpi_regions->pointer_count() && (*mpi_regions)[r] != nullptr &&
         (*mpi_regions)[r][c] == rank;
}

void unsatzonmodellklasse::write_control_cell_rows_of(control_cell_buffer& b) {
  if (b.fill <= 0) return;
  file_operation_guard guard(sigint_after::arm);
  diag_entry(*diag, "write ", b.file_name);
  std::FILE* f = std::fopen(b.file_name.c_str(), "a+");
  if (f == nullptr) fail_fatal(*diag, 65, "\nerror opening file ", b.file_name);
  const int L = layer_count;
  const int last = b.last_value > 0 ? b.last_value : L;
  for (int row = 1; row <= b.fill; ++row) {
    const model_date& d = b.dates[static_cast<size_t>(row)];
    std::fprintf(f, "%ld\t%ld\t%ld\t%ld", static_cast<long>(d.year), static_cast<long>(d.month),
                 static_cast<long>(d.day), static_cast<long>(d.hour));
    const double* v = &b.values[static_cast<size_t>(row) * static_cast<size_t>(b.values_per_row)];
    for (int i = b.first_value; i <= last && i < b.values_per_row; ++i)
      std::fprintf(f, "\t%g", v[i]);
    std::fprintf(f, "\n");
  }
  std::fclose(f);
  // The byte count uses the layer count for every buffer.
  diag_entry(*diag, "(", static_cast<int64_t>(8 * L + 32) * b.fill, " of ", OUTPUT_BUFFER_BYTES,
             " buffer-bytes)");
  b.fill = 0;
}

void unsatzonmodellklasse::write_control_cell_buffers(bool full_only) {
  if (cell_buffers.empty() || !owns_control_cell()) return;
  // Creation order: hhyd, otherdata, theta, q_bottom, etr, interflow,
  // temperature (heat transfer), then the tracers; written in the order
  // q_bottom, theta, hhyd, otherdata, etr, interflow, temperature, tracers.
  std::vector<size_t> order = {3, 2, 0, 1, 4, 5};
  for (size_t i = 6; i < cell_buffers.size(); ++i) order.push_back(i);
  for (const size_t i : order) {
    if (i >= cell_buffers.size()) continue;
    control_cell_buffer& b = cell_buffers[i];
    if (!full_only || b.fill >= b.capacity) write_control_cell_rows_of(b);
  }
}

void unsatzonmodellklasse::flush_outputs() {
  if (flow_control == 0) return;
  write_control_cell_buffers(false);
  using st = unsatzon_statistic;
  // The statistics files in their order; those that do not exist are skipped.
  const st order[] = {st::qd,      st::qi,   st::qb,     st::gwin,        st::gwex,
                      st::qg,      st::sb_1, st::sb_2,   st::immobilised, st::root,
                      st::gwstand, st::gwn,  st::infilt, st::macro,       st::substeps,
                      st::infex,   st::pond, st::qdrain, st::thaw_depth};
  for (const st which : order)
    if (statistics[static_cast<size_t>(which)])
      statistics[static_cast<size_t>(which)]->write_rows();
  for (size_t t = 1; t < tracers.size(); ++t)
    if (tracers[t].statistic) tracers[t].statistic->write_rows();
}

void unsatzonmodellklasse::free_tracer_statistics() {
  if (flow_control == 0) return;
  const bool write_rows = initialized() != 0 && owns_control_cell();
  const size_t first_tracer_buffer = params.heat_flow_control > 0 ? 7 : 6;
  for (int t = 1; t < static_cast<int>(tracers.size()); ++t) {
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    const std::string number = std::to_string(t);
    for (const std::string& grid : {"concstor_tracer_" + number + "_" + name,
                                    "_CONC_QD_" + number + "_", "_CONC_QI_" + number + "_"}) {
      const auto found = own.find(grid);
      if (found == own.end()) continue;
      if (found->second.index > 0) free_grid_entry(found->second.index);
      own.erase(found);
    }
    mt.storage_index = 0;
    mt.storage_file.clear();
    mt.statistics_file.clear();
    if (mt.statistic) {
      mt.statistic->release();
      mt.statistic.reset();
    }
    mt.zones.clear();
    const size_t b = first_tracer_buffer + static_cast<size_t>(t) - 1;
    if (write_rows && b < cell_buffers.size()) write_control_cell_rows_of(cell_buffers[b]);
  }
  if (cell_buffers.size() > first_tracer_buffer) cell_buffers.resize(first_tracer_buffer);
  tracers.clear();
  for (auto* arrays : {&flow_qg, &flow_qbb, &flow_qd, &flow_qdd, &flow_qi, &flow_qii})
    arrays->clear();
  riverflow.clear();
}

void unsatzonmodellklasse::write_end_report() {
  if (owns_control_cell()) {
    double water = 0, saturated = 0;
    column_water(params.control_row, params.control_column, water, saturated);
    char line[200];
    std::snprintf(line, sizeof line,
                  "(mpi_rank %d) soil water content (control point r=%d c=%d) at model-end: %lf "
                  "mm\n",
                  rank, params.control_row, params.control_column, water * 1000);
    append_log_or_warn(*diag, rank, line);
  }
  // Only "GlacierizedCells" counts as glacier here; sums row by row.
  const int glacier_index = find_grid("GlacierizedCells");
  const grid_matrix* glacier = glacier_index > 0 ? (*store)[glacier_index].grid : nullptr;
  const soil_water_sums total = sum_soil_water(glacier);
  if (rank != 0) return;
  const double unglacierized = mean_or_zero(total.wu, total.nu);
  const double glacierized = mean_or_zero(total.wg, total.ng);
  append_log_or_warn(
      *diag, 0,
      formatted_line("mean soil water content for all cells at model-end: %lf m^3/m^2\n",
                     glacierized + unglacierized) +
          formatted_line("mean soil water content for unglacierized or only partly "
                         "unglacierized cells at model-end: %lf m^3/m^2\n",
                         unglacierized) +
          formatted_line("mean soil water content for partly or completely glacierized cells "
                         "at model-end: %lf m^3/m^2\n",
                         glacierized));
}

void unsatzonmodellklasse::end_run(int append) {
  if (flow_control <= 0) {
    teilmodellklasse::release();
    return;
  }
  const bool ready = initialized() != 0;
  if (ready) write_state(append);
  glacier_records.clear();
  if (ready) write_end_report();
  free_tracer_statistics();
  if (ready && owns_control_cell()) write_control_cell_buffers(false);
  cell_buffers.clear();
  for (auto& s : statistics)
    if (s) {
      s->release();
      s.reset();
    }
  for (auto& z : statistic_zones) z.clear();
  for (auto& [grid_name, g] : own)
    if (g.index > 0) free_grid_entry(g.index);
  own.clear();
  links.clear();
  zone_queues = flow_time_queues{};
  step_links.reset();
  teilmodellklasse::release();
}
