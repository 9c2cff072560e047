// External coupling: reading "[ExternalCoupling]", resolving the named grids
// and statistics, the exchanges with the partner model.
#include "settings/external_coupling.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/signals.h"
#include "modelbase/textutil.h"
#include "settings/defltuzr.h"

namespace {

const char* const COUPLING_ERROR = "-----------------error------------\n";
const char* const COUPLING_REASON =
    "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block";

}  // namespace

bool external_coupling::has_external_gw_table() const {
  for (const coupling_input_grid& input : coupling.inputs)
    if (input.internal_name == "GWTableExtern") return true;
  return false;
}

// ---- settings ----

void external_coupling::read_settings() {
  std::FILE* file = open_control_file(14, "error opening ");
  coupling.mode = 0;
  if (!settings.seek_section("[ExternalCoupling]", false)) return;
  std::string line;
  settings.read_value(file, "%d", coupling.mode, "Coupling mode ", line);
  if (coupling.mode == 0) return;
  if (process_count() > 1)
    fail_fatal(diag(), 1009, COUPLING_ERROR,
               "external coupling does not work when running in MPI mode with more than 1 "
               "instance (i.e. you should use the non-MPI-version)");
  settings.read_value(file, "%s", coupling.semaphore_file, "name of the semaphore file ", line);
  settings.read_value(file, "%ld", coupling.wait_interval,
                      "wait interval for scanning for external grids ", line);

  const std::string letter_key = "Coupling mode for external grids (I, H, D, M or Y) ";
  const int letter = std::fgetc(file);
  if (letter == EOF) {
    report_unreadable_value(file, letter_key);
    settings.fail_control_file(letter_key, settings.object_name());
  }
  modelobject::read_line_rest(file, line);
  if (std::string("DHIMY").find(static_cast<char>(letter)) == std::string::npos)
    fail_fatal(diag(), 10, COUPLING_ERROR,
               "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid ",
               settings.object_name(), COUPLING_REASON);
  coupling.interval = static_cast<char>(letter);

  settings.read_value(file, "%d", coupling.external_time_step,
                      "the external model's timestep in minutes ", line);
  read_lists(file, line);
  settings.read_value(file, "%s", coupling.semaphore_target_file,
                      "semaphore file name for informing the external model ", line);
  settings.read_value(file, "%s", coupling.semaphore_content,
                      "semaphore Content for informing the external model ", line);

  for (coupling_output_grid& output : coupling.outputs)
    if (coupling_code_accumulates(output.write_code))
      output.accumulator = settings.matrix(1, nrows(), 1, ncols(), nrows());
}

void external_coupling::read_lists(std::FILE* file, std::string& line) {
  // Reads the conversions of format in turn; the number read before the
  // first that fails.
  auto scan_all = [file](const char* format,
                         std::initializer_list<modelobject::scan_target> targets) {
    int got = 0;
    for (const modelobject::scan_target& target : targets) {
      if (modelobject::scan_conversion(file, format, got, target) != 1) break;
      ++got;
    }
    return got;
  };

  int count = 0;
  settings.read_value(file, "%d", count, "number external grids (to read)", line);
  for (int i = 0; i < count; ++i) {
    coupling_input_grid input;
    if (scan_all("%s%s%d%d", {&input.file_name, &input.internal_name, &input.fill_code,
                              &input.rename_code}) != 4)
      fail_fatal(diag(), 10, COUPLING_ERROR,
                 "error reading external (read) grid name/entity/fill code/rename code ",
                 settings.object_name(), COUPLING_REASON);
    coupling.inputs.push_back(std::move(input));
  }
  if (count > 0) modelobject::read_line_rest(file, line);

  count = 0;
  settings.read_value(file, "%d", count, "number external grids (to write)", line);
  for (int i = 0; i < count; ++i) {
    coupling_output_grid output;
    if (scan_all("%s%s%s", {&output.file_name, &output.internal_name, &output.write_code}) != 3)
      fail_fatal(diag(), 10, COUPLING_ERROR,
                 "error reading external (write) grid name/entity/Writecode",
                 settings.object_name(), COUPLING_REASON);
    coupling.outputs.push_back(std::move(output));
  }
  if (count > 0) modelobject::read_line_rest(file, line);

  count = 0;
  settings.read_value(file, "%d", count, "number external Stats (to write)", line);
  for (int i = 0; i < count; ++i) {
    coupling_statistic statistic;
    if (scan_all("%s%s%s", {&statistic.file_name, &statistic.entity_name, &statistic.write_code}) !=
        3)
      fail_fatal(diag(), 10, COUPLING_ERROR,
                 "error reading external (write) Statfile name/entity/writecode",
                 settings.object_name(), COUPLING_REASON);
    coupling.statistics.push_back(std::move(statistic));
  }
  if (count > 0) modelobject::read_line_rest(file, line);
}

void external_coupling::resolve_names(statistics_registry* shared_registry,
                                      int shared_registry_size) {
  registry = shared_registry;
  registry_size = shared_registry_size;
  for (coupling_input_grid& input : coupling.inputs) {
    const int index = settings.find_grid(input.internal_name);
    if (index <= 0 || store()[index].grid == nullptr)
      fail_fatal(diag(), 1003, COUPLING_ERROR, "error looking for internal grid to read from ",
                 input.file_name, ", with internal name \"", input.internal_name,
                 "\"\npossible reason: internal name of the grid is wrong (case sensitive!)");
    input.grid = store()[index].grid;
  }
  for (coupling_output_grid& output : coupling.outputs) {
    const int index = settings.find_grid(output.internal_name);
    if (index <= 0 || store()[index].grid == nullptr)
      fail_fatal(diag(), 1004, COUPLING_ERROR, "error looking for internal grid to write to ",
                 output.file_name, " with internal name \"", output.internal_name,
                 "\"\npossible reason: internal name of the grid is wrong (case sensitive!)");
    output.grid = store()[index].grid;
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
      fail_fatal(diag(), 1005, COUPLING_ERROR,
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

void external_coupling::release() {
  coupling.inputs.clear();
  coupling.outputs.clear();
  coupling.statistics.clear();
  coupling.step_counter = 0;
}

// ---- exchanges ----

void external_coupling::read_input(int64_t year, int64_t month, int64_t day, int64_t hour) {
  for (coupling_input_grid& input : coupling.inputs) {
    try {
      if (input.grid == nullptr) throw 0;
      settings.read_grid(input.file_name, *input.grid, input.fill_code, false, true, 0.0, true,
                         true, false, true);
    } catch (int) {
      fail_fatal(diag(), 1001, "error reading external grid ", input.file_name);
    }
    arm_sigint();
    // The file that was read, which is where the reader looked for it.
    std::string path = input.file_name;
    if (input_directory() != nullptr) prefix_directory(*input_directory(), path);
    if (input.rename_code == 1) {
      const std::string renamed =
          coupling_renamed_name(path, year, month, day, hour, static_cast<long>(std::clock()));
      if (std::rename(path.c_str(), renamed.c_str()) != 0)
        fail_fatal(diag(), 1002, "error renaming external grid ", path, errno_text(errno), " nach ",
                   renamed);
    } else if (input.rename_code == 0) {
      if (std::remove(path.c_str()) != 0)
        fail_fatal(diag(), 1002, "error deleting external grid ", path, errno_text(errno));
    }
  }
  if (std::remove(coupling.semaphore_file.c_str()) != 0)
    fail_fatal(diag(), 1001, "error deleting semaphore file ", coupling.semaphore_file,
               errno_text(errno));
}

void external_coupling::accumulate_output() {
  const coupling_grid_span span{nrows(), ncols(), nodata()};
  for (coupling_output_grid& output : coupling.outputs) {
    const coupling_code code = classify_coupling_code(output.write_code);
    if ((code == coupling_code::sum || code == coupling_code::mean) && output.grid != nullptr)
      coupling_add(output.accumulator, *output.grid, zone_grid(), span);
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

void external_coupling::write_output(int64_t day, int64_t month, int64_t year, bool day_flag,
                                     bool month_flag, bool year_flag) {
  ++coupling.step_counter;
  write_grids(day, month, year, day_flag, month_flag, year_flag);
  write_statistics();
  coupling.step_counter = 0;
}

void external_coupling::write_grids(int64_t day, int64_t month, int64_t year, bool day_flag,
                                    bool month_flag, bool year_flag) {
  const coupling_grid_span span{nrows(), ncols(), nodata()};
  const bool as_text = write_ascii_grids();
  const bool as_double = write_double_grids();
  for (coupling_output_grid& output : coupling.outputs) {
    if (output.grid == nullptr) continue;
    const coupling_code code = classify_coupling_code(output.write_code);
    switch (code) {
      case coupling_code::current:
        settings.write_grid(output.file_name, *output.grid, as_text, as_double);
        continue;
      case coupling_code::mean:
        coupling_mean(output.accumulator, *output.grid, zone_grid(), span, coupling.step_counter);
        break;
      case coupling_code::sum:
      case coupling_code::sum_total:
        coupling_add(output.accumulator, *output.grid, zone_grid(), span);
        break;
    }
    settings.write_grid(output.file_name, output.accumulator, as_text, as_double);
    for (const std::string& copy :
         coupling_end_of_period_names(output.file_name, output.write_code, day, month, year,
                                      day_flag, month_flag, year_flag))
      settings.write_grid(copy, output.accumulator, as_text, as_double);
    if (code == coupling_code::sum || code == coupling_code::mean)
      coupling_reset(output.accumulator, zone_grid(), span);
  }
}

void external_coupling::write_statistics() {
  const int count = static_cast<int>(coupling.statistics.size());
  for (int i = 0; i < count && registry != nullptr; ++i) {
    coupling_statistic& statistic = coupling.statistics[static_cast<size_t>(i)];
    if (statistic.sums.empty()) continue;
    // The sums are kept in step whether or not the file can be written.
    const std::string text = coupling_statistic_text(
        statistic.entity_name, registry->records[static_cast<size_t>(i)], statistic.sums,
        classify_coupling_code(statistic.write_code), coupling.step_counter);
    std::string path = statistic.file_name;
    if (output_directory() != nullptr) prefix_directory(*output_directory(), path);
    file_handle file(std::fopen(path.c_str(), "w"));
    if (!file) continue;
    std::fputs(text.c_str(), file.get());
  }
}
