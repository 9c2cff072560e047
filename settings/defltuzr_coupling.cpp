// External coupling of the settings object: reading "[ExternalCoupling]",
// resolving the named grids and statistics once all modules exist, reading
// the partner's grids at an input exchange, and accumulating and writing the
// grids and statistics for the partner at an output exchange. The waiting and
// the semaphore file belong to the application's time loop.
#include "settings/defltuzr_coupling.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <sstream>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"
#include "settings/defltuzr.h"

namespace {

constexpr size_t STATISTIC_NAME_LIMIT = 100;  // [characters] of an entity name in a file head
const char* const COUPLING_ERROR = "-----------------error------------\n";
const char* const COUPLING_REASON =
    "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block";

bool valid_cell(const grid_matrix& zones, int row, int col, double nodata) {
  return zones[row][col] != nodata;
}

}  // namespace

// ---- kernels ----

coupling_code classify_coupling_code(const std::string& write_code) {
  if (write_code == "Sum") return coupling_code::sum;
  if (write_code == "Mean") return coupling_code::mean;
  if (write_code.starts_with("SumTotal")) return coupling_code::sum_total;
  return coupling_code::current;
}

bool coupling_code_accumulates(const std::string& write_code) {
  return classify_coupling_code(write_code) != coupling_code::current;
}

void coupling_add(grid_matrix& accumulator, const grid_matrix& grid, const grid_matrix& zones,
                  const coupling_grid_span& span) {
  for (int r = 1; r <= span.nrows; ++r)
    for (int c = 1; c <= span.ncols; ++c)
      accumulator[r][c] =
          valid_cell(zones, r, c, span.nodata) ? accumulator[r][c] + grid[r][c] : span.nodata;
}

void coupling_mean(grid_matrix& accumulator, const grid_matrix& grid, const grid_matrix& zones,
                   const coupling_grid_span& span, int steps) {
  for (int r = 1; r <= span.nrows; ++r)
    for (int c = 1; c <= span.ncols; ++c)
      accumulator[r][c] = valid_cell(zones, r, c, span.nodata)
                              ? (accumulator[r][c] + grid[r][c]) / steps
                              : span.nodata;
}

void coupling_reset(grid_matrix& accumulator, const grid_matrix& zones,
                    const coupling_grid_span& span) {
  for (int r = 1; r <= span.nrows; ++r)
    for (int c = 1; c <= span.ncols; ++c)
      accumulator[r][c] = valid_cell(zones, r, c, span.nodata) ? 0.0 : span.nodata;
}

std::vector<std::string> coupling_end_of_period_names(const std::string& file_name,
                                                      const std::string& write_code, int64_t day,
                                                      int64_t month, int64_t year, bool day_flag,
                                                      bool month_flag, bool year_flag) {
  const size_t cut = file_name.find_last_of("/\\");
  const std::string directory = cut == std::string::npos ? "" : file_name.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? file_name : file_name.substr(cut + 1);
  const int y = static_cast<int>(year);
  const int m = static_cast<int>(month);
  const int d = static_cast<int>(day);
  std::vector<std::string> names;
  char buffer[64];
  if (day_flag && write_code.starts_with("SumTotal_D")) {
    std::snprintf(buffer, sizeof buffer, "SumTotal_EndOf_Day_%.04d_%.02d_%.02d_", y, m, d);
    names.push_back(directory + buffer + base);
  }
  if (month_flag &&
      (write_code.starts_with("SumTotal_M") || write_code.starts_with("SumTotal_DM"))) {
    std::snprintf(buffer, sizeof buffer, "SumTotal_EndOf_Month_%.04d_%.02d_", y, m);
    names.push_back(directory + buffer + base);
  }
  if (year_flag &&
      (write_code == "SumTotal_Y" || write_code == "SumTotal_MY" || write_code == "SumTotal_DMY")) {
    std::snprintf(buffer, sizeof buffer, "SumTotal_EndOf_Year_%.04d_", y);
    names.push_back(directory + buffer + base);
  }
  return names;
}

std::string coupling_renamed_name(const std::string& file_name, int64_t year, int64_t month,
                                  int64_t day, int64_t hour, long clock_ticks) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "_%.4ld_%.2ld_%.2ld_%.2ld_%ld", static_cast<long>(year),
                static_cast<long>(month), static_cast<long>(day), static_cast<long>(hour),
                clock_ticks);
  return file_name + buffer;
}

int find_coupling_record(const statistics_registry& registry, int registry_size,
                         const std::string& entity) {
  const int limit = std::min(registry_size, static_cast<int>(registry.records.size()));
  for (int i = 0; i < limit; ++i) {
    const statistics_record& record = registry.records[static_cast<size_t>(i)];
    if (record.values == nullptr) break;
    if (record.entity_name == nullptr) continue;
    std::string name = *record.entity_name;
    for (char& ch : name)
      if (ch == ' ') ch = '_';
    if (name.find(entity) != std::string::npos) return i;
  }
  return -1;
}

void coupling_accumulate_record(const statistics_record& record, std::vector<double>& sums) {
  for (int k = 1; k <= record.value_count - 1; ++k)
    sums[static_cast<size_t>(k)] += record.values[k];
}

std::string coupling_statistic_text(const std::string& entity_name, const statistics_record& record,
                                    std::vector<double>& sums, coupling_code code, int steps) {
  std::ostringstream text;
  const int zones = record.value_count - 1;
  if (entity_name.size() > STATISTIC_NAME_LIMIT)
    text << entity_name.substr(0, STATISTIC_NAME_LIMIT) << "...; " << zones << " Gebiete\n";
  else
    text << entity_name << "; " << zones << " zones\n";
  for (int k = 1; k <= zones; ++k) {
    double value = record.values[k];
    double& sum = sums[static_cast<size_t>(k)];
    switch (code) {
      case coupling_code::sum:
        value = sum + record.values[k];
        sum = 0;
        break;
      case coupling_code::mean:
        value = (sum + record.values[k]) / steps;
        sum = 0;
        break;
      case coupling_code::sum_total:
        sum += record.values[k];
        value = sum;
        break;
      case coupling_code::current:
        break;
    }
    text << record.codes[k] << '\t' << value << '\n';
  }
  return text.str();
}

// ---- accessors ----

bool defaultini::coupling_active() { return coupling.mode == 1; }
std::string defaultini::get_semaphore_file() { return coupling.semaphore_file; }
std::string defaultini::get_semaphore_target_file() { return coupling.semaphore_target_file; }
std::string defaultini::get_semaphore_content() { return coupling.semaphore_content; }
int64_t defaultini::get_wait_interval() { return coupling.wait_interval; }
char defaultini::get_coupling_interval() { return coupling.interval; }
int defaultini::get_external_time_step() { return coupling.external_time_step; }

bool defaultini::has_external_gw_table() {
  for (const coupling_input_grid& input : coupling.inputs)
    if (input.internal_name == "GWTableExtern") return true;
  return false;
}

// ---- settings ----

void defaultini::GetCouplingParameters() {
  control_path = control_name;
  if (!open_control_file()) fail_fatal(*diag, 14, "error opening ", control_name);
  coupling.mode = 0;
  if (!seek_section("[ExternalCoupling]", false)) return;
  std::FILE* file = control.get();
  std::string line;
  read_value(file, "%d", coupling.mode, "Coupling mode ", line);
  if (coupling.mode == 0) return;
  if (process_count > 1)
    fail_fatal(*diag, 1009, COUPLING_ERROR,
               "external coupling does not work when running in MPI mode with more than 1 "
               "instance (i.e. you should use the non-MPI-version)");
  read_value(file, "%s", coupling.semaphore_file, "name of the semaphore file ", line);
  read_value(file, "%ld", coupling.wait_interval, "wait interval for scanning for external grids ",
             line);

  const std::string letter_key = "Coupling mode for external grids (I, H, D, M or Y) ";
  const int letter = std::fgetc(file);
  if (letter == EOF) {
    report_unreadable_value(file, letter_key);
    fail_control_file(letter_key, name);
  }
  read_line_rest(file, line);
  if (std::string("DHIMY").find(static_cast<char>(letter)) == std::string::npos)
    fail_fatal(*diag, 10, COUPLING_ERROR,
               "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid ", name,
               COUPLING_REASON);
  coupling.interval = static_cast<char>(letter);

  read_value(file, "%d", coupling.external_time_step, "the external model's timestep in minutes ",
             line);
  read_coupling_lists(file, line);
  read_value(file, "%s", coupling.semaphore_target_file,
             "semaphore file name for informing the external model ", line);
  read_value(file, "%s", coupling.semaphore_content,
             "semaphore Content for informing the external model ", line);

  for (coupling_output_grid& output : coupling.outputs)
    if (coupling_code_accumulates(output.write_code))
      output.accumulator = matrix(1, nrows, 1, ncols, nrows);
}

void defaultini::read_coupling_lists(std::FILE* file, std::string& line) {
  // Reads the conversions of format in turn; the number read before the
  // first that fails.
  auto scan_all = [file](const char* format, std::initializer_list<scan_target> targets) {
    int got = 0;
    for (const scan_target& target : targets) {
      if (scan_conversion(file, format, got, target) != 1) break;
      ++got;
    }
    return got;
  };

  int count = 0;
  read_value(file, "%d", count, "number external grids (to read)", line);
  for (int i = 0; i < count; ++i) {
    coupling_input_grid input;
    if (scan_all("%s%s%d%d", {&input.file_name, &input.internal_name, &input.fill_code,
                              &input.rename_code}) != 4)
      fail_fatal(*diag, 10, COUPLING_ERROR,
                 "error reading external (read) grid name/entity/fill code/rename code ", name,
                 COUPLING_REASON);
    coupling.inputs.push_back(std::move(input));
  }
  if (count > 0) read_line_rest(file, line);

  count = 0;
  read_value(file, "%d", count, "number external grids (to write)", line);
  for (int i = 0; i < count; ++i) {
    coupling_output_grid output;
    if (scan_all("%s%s%s", {&output.file_name, &output.internal_name, &output.write_code}) != 3)
      fail_fatal(*diag, 10, COUPLING_ERROR,
                 "error reading external (write) grid name/entity/Writecode", name,
                 COUPLING_REASON);
    coupling.outputs.push_back(std::move(output));
  }
  if (count > 0) read_line_rest(file, line);

  count = 0;
  read_value(file, "%d", count, "number external Stats (to write)", line);
  for (int i = 0; i < count; ++i) {
    coupling_statistic statistic;
    if (scan_all("%s%s%s", {&statistic.file_name, &statistic.entity_name, &statistic.write_code}) !=
        3)
      fail_fatal(*diag, 10, COUPLING_ERROR,
                 "error reading external (write) Statfile name/entity/writecode", name,
                 COUPLING_REASON);
    coupling.statistics.push_back(std::move(statistic));
  }
  if (count > 0) read_line_rest(file, line);
}

void defaultini::resolve_coupling_names(statistics_registry* shared_registry,
                                        int shared_registry_size) {
  registry = shared_registry;
  registry_size = shared_registry_size;
  for (coupling_input_grid& input : coupling.inputs) {
    const int index = find_grid(input.internal_name);
    if (index <= 0 || (*store)[index].grid == nullptr)
      fail_fatal(*diag, 1003, COUPLING_ERROR, "error looking for internal grid to read from ",
                 input.file_name, ", with internal name \"", input.internal_name,
                 "\"\npossible reason: internal name of the grid is wrong (case sensitive!)");
    input.grid = (*store)[index].grid;
  }
  for (coupling_output_grid& output : coupling.outputs) {
    const int index = find_grid(output.internal_name);
    if (index <= 0 || (*store)[index].grid == nullptr)
      fail_fatal(*diag, 1004, COUPLING_ERROR, "error looking for internal grid to write to ",
                 output.file_name, " with internal name \"", output.internal_name,
                 "\"\npossible reason: internal name of the grid is wrong (case sensitive!)");
    output.grid = (*store)[index].grid;
  }
  const int count = static_cast<int>(coupling.statistics.size());
  // Every statistic is looked up among the records as the modules registered
  // them: searching the registry while the copies overwrite its first records
  // could lose a record that a later statistic of the section names.
  const statistics_registry registered = registry != nullptr ? *registry : statistics_registry{};
  for (int i = 0; i < count; ++i) {
    const std::string& entity = coupling.statistics[static_cast<size_t>(i)].entity_name;
    const int found =
        registry == nullptr ? -1 : find_coupling_record(registered, registry_size, entity);
    // The copy goes to record i, which must exist like the one it copies.
    if (found < 0 || i >= registry_size)
      fail_fatal(*diag, 1005, COUPLING_ERROR,
                 "error looking for zonal statistic with internal "
                 "name \"",
                 entity,
                 "\"\npossible reason: name of the statistic entity is wrong (case sensitive!)");
    registry->records[static_cast<size_t>(i)] = registered.records[static_cast<size_t>(found)];
    const int values = registry->records[static_cast<size_t>(i)].value_count;
    coupling.statistics[static_cast<size_t>(i)].sums.assign(
        static_cast<size_t>(std::max(values, 1)), 0.0);
  }
}

void defaultini::release_coupling() {
  coupling.inputs.clear();
  coupling.outputs.clear();
  coupling.statistics.clear();
  coupling.step_counter = 0;
}

// ---- exchanges ----

void defaultini::read_coupling_input(int64_t year, int64_t month, int64_t day, int64_t hour) {
  for (coupling_input_grid& input : coupling.inputs) {
    try {
      if (input.grid == nullptr) throw 0;
      read_grid(input.file_name, *input.grid, input.fill_code, false, true, 0.0, true, true, false,
                true);
    } catch (int) {
      fail_fatal(*diag, 1001, "error reading external grid ", input.file_name);
    }
    arm_sigint();
    // The file that was read, which is where the reader looked for it.
    std::string path = input.file_name;
    if (input_directory != nullptr) prefix_directory(*input_directory, path);
    if (input.rename_code == 1) {
      const std::string renamed =
          coupling_renamed_name(path, year, month, day, hour, static_cast<long>(std::clock()));
      if (std::rename(path.c_str(), renamed.c_str()) != 0)
        fail_fatal(*diag, 1002, "error renaming external grid ", path, " nach ", renamed);
    } else if (input.rename_code == 0) {
      if (std::remove(path.c_str()) != 0)
        fail_fatal(*diag, 1002, "error deleting external grid ", path);
    }
  }
  if (std::remove(coupling.semaphore_file.c_str()) != 0)
    fail_fatal(*diag, 1001, "error deleting semaphore file ", coupling.semaphore_file);
}

void defaultini::accumulate_coupling_output() {
  const coupling_grid_span span{nrows, ncols, nodata};
  for (coupling_output_grid& output : coupling.outputs) {
    const coupling_code code = classify_coupling_code(output.write_code);
    if ((code == coupling_code::sum || code == coupling_code::mean) && output.grid != nullptr)
      coupling_add(output.accumulator, *output.grid, *zone_grid, span);
  }
  const int count = static_cast<int>(coupling.statistics.size());
  for (int i = 0; i < count && registry != nullptr; ++i) {
    coupling_statistic& statistic = coupling.statistics[static_cast<size_t>(i)];
    // Sums exist once the names are resolved.
    if (!statistic.sums.empty() &&
        classify_coupling_code(statistic.write_code) != coupling_code::current)
      coupling_accumulate_record(registry->records[static_cast<size_t>(i)], statistic.sums);
  }
  ++coupling.step_counter;
}

void defaultini::write_coupling_output(int64_t day, int64_t month, int64_t year, bool day_flag,
                                       bool month_flag, bool year_flag) {
  ++coupling.step_counter;
  write_coupling_grids(day, month, year, day_flag, month_flag, year_flag);
  write_coupling_statistics();
  coupling.step_counter = 0;
}

void defaultini::write_coupling_grids(int64_t day, int64_t month, int64_t year, bool day_flag,
                                      bool month_flag, bool year_flag) {
  const coupling_grid_span span{nrows, ncols, nodata};
  const bool as_text = write_ascii_grids != 0;
  const bool as_double = write_double_grids != 0;
  for (coupling_output_grid& output : coupling.outputs) {
    if (output.grid == nullptr) continue;
    const coupling_code code = classify_coupling_code(output.write_code);
    switch (code) {
      case coupling_code::current:
        write_grid(output.file_name, *output.grid, as_text, as_double);
        continue;
      case coupling_code::mean:
        coupling_mean(output.accumulator, *output.grid, *zone_grid, span, coupling.step_counter);
        break;
      case coupling_code::sum:
      case coupling_code::sum_total:
        coupling_add(output.accumulator, *output.grid, *zone_grid, span);
        break;
    }
    write_grid(output.file_name, output.accumulator, as_text, as_double);
    for (const std::string& copy :
         coupling_end_of_period_names(output.file_name, output.write_code, day, month, year,
                                      day_flag, month_flag, year_flag))
      write_grid(copy, output.accumulator, as_text, as_double);
    if (code == coupling_code::sum || code == coupling_code::mean)
      coupling_reset(output.accumulator, *zone_grid, span);
  }
}

void defaultini::write_coupling_statistics() {
  const int count = static_cast<int>(coupling.statistics.size());
  for (int i = 0; i < count && registry != nullptr; ++i) {
    coupling_statistic& statistic = coupling.statistics[static_cast<size_t>(i)];
    if (statistic.sums.empty()) continue;
    // The sums are kept in step whether or not the file can be written.
    const std::string text = coupling_statistic_text(
        statistic.entity_name, registry->records[static_cast<size_t>(i)], statistic.sums,
        classify_coupling_code(statistic.write_code), coupling.step_counter);
    std::string path = statistic.file_name;
    if (output_directory != nullptr) prefix_directory(*output_directory, path);
    file_handle file(std::fopen(path.c_str(), "w"));
    if (!file) continue;
    std::fputs(text.c_str(), file.get());
  }
}
