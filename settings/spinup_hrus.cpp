// SpinUp settings and hydrologic response units (HRUs). A SpinUp run repeats
// the period of the input data so that the storages reach a state that fits
// the climate; the modules keep their SpinUp state per HRU. The units are
// either the groups of cells that share the classes of a few chosen grids
// (each value divided by a class width, optionally after a square root), or
// the units of a given grid "HydrologicResponseUnits". Ids count from 1 per
// process in the scan order of the process's own cells.
#include "settings/spinup_hrus.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"

namespace {

constexpr double MAX_HRU_CLASS = 9999;  // [-] classes 0 .. 9999 (and below 0) per grid
constexpr int HRU_GRID_MISSING = 1030;
constexpr int HRU_CLASS_TOO_LARGE = 1031;
constexpr int GRID_NOT_FOUND = 33;
const char* const HRU_DEFINITION_ERROR = " error reading HRU defintions ";

// One classification grid of "[SpinUp]".
struct hru_class_grid {
  std::string name;
  double width = 1;  // class width, in the grid's unit or that of its square root
  bool square_root = false;
  const grid_matrix* grid = nullptr;
};

// The class of a value: floor(v / width), v taken as sqrt(|v|) with the
// square-root method. A class of -0 becomes 0, so that both give one key.
double hru_class(double value, double width, bool square_root) {
  const double v = square_root ? std::sqrt(std::fabs(value)) : value;
  return std::floor(v / width) + 0.0;
}

std::string format_number(const char* format, double value) {
  const int size = std::snprintf(nullptr, 0, format, value);
  std::string text(static_cast<size_t>(size > 0 ? size : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, value);
  text.resize(text.size() - 1);
  return text;
}

}  // namespace

void spinup_hrus::read_and_make_units(int& spinup, int& pre_spinup, int& repeat_count,
                                      std::vector<hru_entry>& list) {
  spinup = 0;
  pre_spinup = 0;
  repeat_count = 0;
  list.assign(1, hru_entry());
  keys.assign(1, std::string());
  ids_by_key.clear();

  std::FILE* file = open_control_file(28, "Error opening ");
  if (!settings.seek_section("[SpinUp]", false)) {
    drop_control_file();
    return;
  }
  const auto read_int = [&](int& value, const char* key) {
    if (modelobject::scan_conversion(file, "%d", 0, &value) != 1)
      settings.fail_control_file(key, "");
  };
  read_int(spinup, "SpinUp-switch not found");
  modelobject::read_line_rest(file, line_buffer());
  if (spinup == 0) {
    drop_control_file();
    return;
  }
  read_int(pre_spinup, "doTemperaturePreSpinUp not found");
  read_int(repeat_count, "repeatCnt not found");
  modelobject::read_line_rest(file, line_buffer());
  int grid_count = 0;
  read_int(grid_count, "numGrids not found");
  modelobject::read_line_rest(file, line_buffer());

  if (grid_count != 0)
    make_from_classes(grid_count, list);
  else
    make_from_grid(list);
}

void spinup_hrus::make_from_classes(int grid_count, std::vector<hru_entry>& list) {
  std::FILE* file = settings.control_file();
  if (grid_count < 0) settings.fail_control_file(HRU_DEFINITION_ERROR, "");
  std::vector<hru_class_grid> class_grids;
  for (int k = 0; k < grid_count; ++k) {
    hru_class_grid g;
    std::string method;
    if (modelobject::scan_conversion(file, "%s%lf%s", 0, &g.name) != 1 ||
        modelobject::scan_conversion(file, "%s%lf%s", 1, &g.width) != 1 ||
        modelobject::scan_conversion(file, "%s%lf%s", 2, &method) != 1)
      settings.fail_control_file(HRU_DEFINITION_ERROR, "");
    modelobject::read_line_rest(file, line_buffer());
    // A width of 0 would divide by zero and put every cell into one class.
    if (!(g.width > 0)) settings.fail_control_file(HRU_DEFINITION_ERROR, "");
    g.square_root = method.find("sqrt") != std::string::npos;
    const int index = settings.require_one_of_3_grids(g.name, "[" + g.name + "]", g.name);
    g.grid = store()[index].grid;
    if (g.grid == nullptr)
      fail_fatal(diag(), GRID_NOT_FOUND, "grid ", g.name,
                 " for the hydrologic response units is registered without values");
    class_grids.push_back(g);
  }

  const int hru_index =
      register_unit_grid(0, "All_HydrologicResponseUnits", "HydrologicResponseUnits",
                         "when trying to create HRU grid: ");
  const int master_index =
      register_unit_grid(hru_index, "Master_HydrologicResponseUnits",
                         "MasterHydrologicResponseUnits", "when trying to create HRU grid: ");
  grid_matrix& hru = own_grid(hru_index);
  grid_matrix& master = own_grid(master_index);
  const grid_matrix& zone = zone_grid();
  const grid_matrix& regions = *mpi_regions();
  const double nodata_value = nodata();
  const int own_rank = rank();
  const grid_matrix& first_grid = *class_grids.front().grid;
  int first = 0;
  int last = 0;
  held_rows(first, last);
  std::string key;
  for (int r = first; r <= last; ++r) {
    if (static_cast<size_t>(r) >= strips().size()) break;
    const row_strip& span = strips()[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (static_cast<int>(regions[r][c]) != own_rank || zone[r][c] == nodata_value ||
          first_grid[r][c] == nodata_value)
        continue;
      key.clear();
      for (const hru_class_grid& g : class_grids) {
        const double value = (*g.grid)[r][c];
        if (value == nodata_value) break;
        const double cls = hru_class(value, g.width, g.square_root);
        if (cls > MAX_HRU_CLASS)
          fail_fatal(diag(), HRU_CLASS_TOO_LARGE,
                     "Creating HRUs resulted in a re-classify result of ", cls, " for grid ",
                     g.name, " at row=", r, " and col=", c,
                     ". Only 10'000 Classes are allowed for each grid. Choose a larger class "
                     "width or use lg2 spacing to reduce the amount of HRUs.");
        key += format_number("%04.0lf'", cls);
      }
      bool is_new = false;
      const auto id = static_cast<double>(unit_id(key, r, c, list, is_new));
      hru[r][c] = id;
      if (is_new) master[r][c] = id;
    }
  }
  close_control_file();
  write_grids(hru_index, "All_HydrologicResponseUnits", master_index,
              "Master_HydrologicResponseUnits");
}

void spinup_hrus::make_from_grid(std::vector<hru_entry>& list) {
  close_control_file();
  const int hru_index = settings.find_grid("HydrologicResponseUnits", 1);
  if (hru_index <= 0 || store()[hru_index].grid == nullptr)
    fail_fatal(diag(), HRU_GRID_MISSING, "standard grid with identifier ",
               "HydrologicResponseUnits",
               " not found (Hydrologic Respond Units, HRU; used for SpinUp mode)");
  const int master_index =
      register_unit_grid(0, "MasterHydrologicResponseUnits", "MasterHydrologicResponseUnits",
                         "when trying to create HRUMaster grid: ");
  grid_matrix& hru = *store()[hru_index].grid;
  grid_matrix& master = own_grid(master_index);
  const grid_matrix& regions = *mpi_regions();
  const double nodata_value = nodata();
  const int own_rank = rank();
  // Only this process's cells that hold a unit take part: a nodata cell is
  // no unit, and another process numbers its own cells.
  for (int r = first_row(); r <= last_row(); ++r) {
    if (static_cast<size_t>(r) >= strips().size()) break;
    const row_strip& span = strips()[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (static_cast<int>(regions[r][c]) != own_rank || hru[r][c] == nodata_value) continue;
      bool is_new = false;
      const auto id =
          static_cast<double>(unit_id(format_number("%0.lf", hru[r][c]), r, c, list, is_new));
      hru[r][c] = id;
      if (is_new) master[r][c] = id;
    }
  }
  // The ids are written under the name of made units: the given file is an
  // input and keeps its values.
  write_grids(hru_index, "All_HydrologicResponseUnits", master_index,
              "MasterHydrologicResponseUnits");
}

int spinup_hrus::register_unit_grid(int after_index, const std::string& file_name,
                                    const std::string& grid_name, const char* full_message) {
  const int index = store().first_free(after_index + 1);
  if (index >= GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, full_message,
               "no free grid found in memory (max position ", GRID_STORE_FULL, ")");
  int first = 0;
  int last = 0;
  held_rows(first, last);
  create_grid(index, file_name, grid_name, first, last);
  count_registered_grids(1);
  return index;
}

int64_t spinup_hrus::unit_id(const std::string& key, int row, int col, std::vector<hru_entry>& list,
                             bool& is_new) {
  const auto [found, inserted] = ids_by_key.try_emplace(key, static_cast<int64_t>(list.size()));
  is_new = inserted;
  if (inserted) {
    hru_entry unit;
    unit.id = found->second;
    unit.class_key = key;
    unit.row = row;
    unit.col = col;
    list.push_back(unit);
    keys.push_back(key);
  }
  return found->second;
}

void spinup_hrus::write_grids(int hru_index, const std::string& hru_file, int master_index,
                              const std::string& master_file) {
  const bool as_text = write_ascii_grids();
  const bool double_precision = write_double_grids();
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%03d", rank());
  settings.write_grid(hru_file + suffix, *store()[hru_index].grid, as_text, double_precision);
  settings.write_grid(master_file + suffix, *store()[master_index].grid, as_text, double_precision);
  settings.find_division_grids();
  settings.gather_grid(hru_index);
  settings.gather_grid(master_index);
  if (rank() == 0) {
    settings.write_grid(hru_file, *store()[hru_index].grid, as_text, double_precision);
    settings.write_grid(master_file, *store()[master_index].grid, as_text, double_precision);
  }
}
