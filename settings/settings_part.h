// Base of the parts the settings object is composed of (vegetation layers,
// derived grids, external coupling, SpinUp units). A part keeps its own state
// and does its own stage of the set-up; what it shares with the settings
// object (the grid tools of every model object, the geometry and division
// set by the earlier stages, the storage of registered grids, the control
// file) it reaches through the accessors below, so that this list is all a
// part depends on.
//
// The accessors are defined in settings/defltuzr.h, where the settings
// object is complete.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"

class DiagStream;
class defaultini;
class grid_matrix;
class grid_store;
class stack_matrix;
struct landuse_entry;
struct multilayer_landuse_entry;

class settings_part {
 public:
  settings_part(const settings_part&) = delete;
  settings_part& operator=(const settings_part&) = delete;

 protected:
  explicit settings_part(defaultini& owner) : settings(owner) {}
  ~settings_part() = default;

  // The settings object itself, for the operations every model object has:
  // store look-ups and registration, transfers, grid files, output by write
  // code, control-file reading. Errors they report name the settings object.
  defaultini& settings;

  grid_store& store() const;
  DiagStream& diag() const;
  int rank() const;
  int process_count() const;

  // Grid geometry and this process's own rows (stage 6 on).
  int nrows() const;
  int ncols() const;
  double nodata() const;
  double cellsize() const;
  double xllcorner() const;
  double yllcorner() const;
  int first_row() const;
  int last_row() const;
  // Rows a distributed grid of the settings object covers here: all rows on
  // process 0, the own rows and one halo row on each side elsewhere.
  void held_rows(int& first, int& last) const;
  // Row spans of the zone table (stage 7 on).
  const std::vector<row_strip>& strips() const;

  const grid_matrix& zone_grid() const;      // store entry 1
  const grid_matrix& elevation() const;      // store entry 2 (stage 12 on)
  const grid_matrix* mpi_regions() const;    // "MPIRegions": owning process per cell
  const grid_matrix* rel_cell_area() const;  // "RelCellArea" or none
  void set_rel_cell_area(const grid_matrix* grid) const;

  double hour_shift() const;        // [h] from "[output_interval]"
  int month_days(int month) const;  // [d] the model time's month lengths
  // The land-use classes (their phenology state changes during the run)
  // and the multilayer classes of the tables.
  std::vector<landuse_entry>& landuse_entries() const;
  const std::vector<multilayer_landuse_entry>& multilayer_entries() const;

  bool write_ascii_grids() const;   // "WriteAsciiGrids"
  bool write_double_grids() const;  // "WriteDoubleGrids"
  const std::string* input_directory() const;
  const std::string* output_directory() const;

  // Storage of what the settings object registers in the store, by store
  // index: it lives until the settings object is released, after the store
  // entries that point at it.
  grid_matrix& own_grid(int index) const;
  // Registers a new grid of the settings object at index with write code 0
  // over rows first..last, every cell nodata.
  grid_matrix& create_grid(int index, const std::string& file_name, const std::string& grid_name,
                           int first, int last) const;
  stack_matrix& own_stack(int key) const;
  // The registered-grid count grows by added entries of the settings object.
  void count_registered_grids(int added) const;

  // The control-file copy, opened "rt" as the settings object's file;
  // failure is fatal with code and "<message><name>". Closing it checked is
  // code 11; dropping it closes without a check.
  std::FILE* open_control_file(int code, const char* message) const;
  void close_control_file() const;
  void drop_control_file() const;
  // The settings object's buffer for the rest of control-file lines.
  std::string& line_buffer() const;
  void report_unreadable_value(std::FILE* file, const std::string& key) const;
};
