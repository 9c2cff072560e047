// SpinUp settings and hydrologic response units (HRUs), the part of the
// settings object that reads "[SpinUp]" after the staged set-up and groups
// the cells into units: by the classes of a few chosen grids, or by a given
// grid "HydrologicResponseUnits". The units and their grids
// "HydrologicResponseUnits" and "MasterHydrologicResponseUnits" serve the
// modules' SpinUp state.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "settings/settings_part.h"

class spinup_hrus : public settings_part {
 public:
  explicit spinup_hrus(defaultini& owner) : settings_part(owner) {}

  // The switch, the pre-SpinUp flag and the repetitions of "[SpinUp]" and
  // the units of this process (list element 0 is the placeholder). Without
  // the section, or with the switch 0, all three are 0 and the list holds
  // only the placeholder. Collective.
  void read_and_make_units(int& spinup_switch, int& pre_spinup, int& repeat_count,
                           std::vector<hru_entry>& list);

  // The class key of every unit of this process, by id (element 0 is the
  // placeholder's empty key).
  const std::vector<std::string>& class_keys() const { return keys; }

 private:
  // Builds the units from the class grids of the section's grid lines.
  void make_from_classes(int grid_count, std::vector<hru_entry>& list);
  // Takes the units of the standard grid "HydrologicResponseUnits".
  void make_from_grid(std::vector<hru_entry>& list);
  // Registers and allocates an HRU grid (all cells nodata) at the first free
  // store entry after after_index; full_message names the grid in the
  // entry of a full store.
  int register_unit_grid(int after_index, const std::string& file_name,
                         const std::string& grid_name, const char* full_message);
  // A new unit for key at the cell, or the id of the known one.
  int64_t unit_id(const std::string& key, int row, int col, std::vector<hru_entry>& list,
                  bool& is_new);
  // Writes both grids per process, gathers them and writes them again on
  // process 0.
  void write_grids(int hru_index, const std::string& hru_file, int master_index,
                   const std::string& master_file);

  std::vector<std::string> keys{std::string()};
  std::map<std::string, int64_t> ids_by_key;
};
