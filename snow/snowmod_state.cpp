// The snow module's section "[snow_model]" of the storage-content file (the
// outflows of the three glacier runoff storages per subbasin), read at
// set-up and appended at the end of the run, and the module's release.
#include <cerrno>
#include <cmath>
#include <cstring>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"
#include "snow/snowmod.h"

namespace {

constexpr double STATE_TOLERANCE = 1e-5;  // [-] relative
constexpr size_t STATE_LINE = 1201;       // [chars] a line with its end

const char* const STORAGE_LABELS[3] = {"Qice_slr", "Qfirn_slr", "Qsnow_slr"};

// A name that begins with "/" or "~" stays as it is.
std::string with_directory(const std::string* directory, std::string name) {
  if (directory != nullptr) prefix_directory(*directory, name);
  return name;
}

}  // namespace

void schneemodellklasse::read_state(const std::string* storage_file, int readgrid_unsat) {
  if (flow_control == 0) return;
  if (readgrid_unsat == 2 || readgrid_unsat == 4 || storage_file == nullptr) return;
  storage_file_name = *storage_file;
  storage_name_kept = true;
  if (readgrid_unsat == 0 || glacier_storage[0].empty()) return;

  const std::string path = with_directory(input_directory, storage_file_name);
  file_handle file(std::fopen(path.c_str(), "rt"));
  if (!file) {
    diag_entry(*diag, "WARNING: in snow/glacier model: error opening storage content file ", path);
    diag_entry(*diag, "WARNING: glacier model will be run with cold start initialization values");
    return;
  }
  char line[STATE_LINE] = {};
  bool found = false;
  while (std::fgets(line, sizeof line, file.get()) != nullptr)
    if (std::strstr(line, "snow_model") != nullptr) {
      found = true;
      // A line longer than the buffer goes on: the section starts after it.
      if (std::strchr(line, '\n') == nullptr) read_line_rest(file.get(), text_buffer);
      break;
    }
  if (!found) {
    diag_entry(*diag,
               "WARNING: in snow/glacier model: [snow_model] not found in storage content file ",
               path);
    diag_entry(*diag, "WARNING: glacier model will be run with cold start initialization values");
    return;
  }
  state_file = file.get();
  try {
    read_state_section(file.get(), path);
  } catch (...) {
    state_file = nullptr;
    throw;
  }
  state_file = nullptr;
}

void schneemodellklasse::read_state_section(std::FILE* file, const std::string& path) {
  auto read_int = [&](const char* label) {
    int value = 0;
    if (scan_conversion(file, "%d", 0, &value) != 1)
      fail_fatal(*diag, 71, "(snow model) error in storage file content reading ", label,
                 ": no number in ", path);
    return value;
  };
  const int count = read_int("number of subbasins");
  read_line_rest(file, text_buffer);
  if (count != soil_zone_count) fail_state_mismatch("number of subbasins", soil_zone_count, count);
  for (int i = 1; i <= soil_zone_count; ++i)
    for (int k = 0; k < 3; ++k) {
      const int index = read_int("subbasin code");
      if (index != i) fail_state_mismatch("subbasin code", i, index);
      double value = 0;
      if (scan_conversion(file, "%lf", 0, &value) != 1)
        fail_fatal(*diag, 71, "(snow model) error in storage file content reading ",
                   STORAGE_LABELS[k], ": no number in ", path);
      glacier_storage[static_cast<size_t>(k)][static_cast<size_t>(i)] = value;
      read_line_rest(file, text_buffer);
    }
}

void schneemodellklasse::write_state(bool append) {
  if (!storage_name_kept) return;
  const std::string path = with_directory(output_directory, storage_file_name);
  file_handle file(std::fopen(path.c_str(), append ? "a" : "w"));
  // Failing here, at the end of the run, must not pass for a written state.
  if (!file)
    fail_fatal(*diag, 28, "cannot open the storage content file ", path,
               " for the section [snow_model]", errno_text(errno));
  std::FILE* f = file.get();
  std::fprintf(f, "[snow_model]\n");
  std::fprintf(f, "%d (number of subasins)\n", soil_zone_count);
  for (int i = 1; i <= soil_zone_count; ++i)
    for (int k = 0; k < 3; ++k) {
      const std::vector<double>& storage = glacier_storage[static_cast<size_t>(k)];
      const double value = storage.empty() ? 0.0 : storage[static_cast<size_t>(i)];
      std::fprintf(f, "%d\t%lf(TG code and %s value)\n", i, value, STORAGE_LABELS[k]);
    }
  std::fprintf(f, "\n");
  const bool written = std::ferror(f) == 0;
  const int error = errno;
  if (std::fclose(file.release()) != 0 || !written)
    fail_fatal(*diag, 18, "error writing the section [snow_model] to ", path, errno_text(error));
}

void schneemodellklasse::fail_state_mismatch(const std::string& label, double expected,
                                             double read) {
  fail_fatal(*diag, 71, "(snow model) error in storage file content reading ", label,
             ":\nvalue in actual control is:   ", expected,
             "\nbut value in storage file is: ", read, "\nVelmo throws...");
}

void schneemodellklasse::check_state_value(double expected, const std::string& label) {
  double read = 0;
  if (state_file == nullptr || scan_conversion(state_file, "%lf", 0, &read) != 1)
    fail_fatal(*diag, 71, "(snow model) error in storage file content reading ", label);
  const bool differs =
      read != 0 ? std::fabs((read - expected) / read) > STATE_TOLERANCE : expected != 0;
  if (differs) fail_state_mismatch(label, expected, read);
}

void schneemodellklasse::release() {
  // A negative flow control publishes grids too: they are freed all the same.
  if (flow_control != 0) {
    int failure = 0;
    try {
      if (flow_control > 0 && initialized() != 0) write_state(true);
    } catch (int code) {
      failure = code;  // the statistics are still written and freed
    }
    auto release_statistic = [](std::unique_ptr<zonalstatistic>& s) {
      if (!s) return;
      s->release();
      s.reset();
    };
    for (auto& s : statistics) release_statistic(s);
    for (auto& s : glacier_statistics) release_statistic(s);
    for (owned_grid& g : owned)
      if (g.index > 0) {
        free_grid_entry(g.index);
        g.index = 0;
      }
    owned.clear();
    for (auto& storage : glacier_storage) storage.clear();
    glacier_records.clear();
    glacier_list.clear();
    firn_stack = stack_matrix();
    storage_name_kept = false;
    storage_file_name.clear();
    if (failure != 0) {
      teilmodellklasse::release();
      throw failure;
    }
  }
  teilmodellklasse::release();
}
