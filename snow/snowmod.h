// schneemodellklasse: splits the water input into rain and snow, keeps solid
// and liquid snow storages, melts snow and hosts the glacier, firn and
// permafrost models. Not built yet: the module reads the head of
// "[snow_model]" and, when active, its method (which the evapotranspiration
// module is told); it hands out no grid and computes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class schneemodellklasse : public teilmodellklasse {
 public:
  schneemodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                     int registry_size, const std::string& section, grid_store* store,
                     const settings_context& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  void flush_outputs() override;
  // Keeps the grid (or none) when the module is active.
  virtual void set_radiation_correction(const grid_matrix* radiation_correction);
  // The solid snow storage when the module is active.
  virtual const grid_matrix* get_solid_snow_storage();
  // The unsaturated zone's runoff arrays, which receive the glacier outflow.
  virtual void set_qg(subbasin_flow_arrays* qg);
  // section: "[lake_model]".
  virtual void read_lake_parameters(const std::string& section);
  // Keeps the file name of the storage-content file (none when the
  // unsaturated zone is inactive); readgrid 0, 2 and 4 read nothing.
  virtual void read_state(const std::string* storage_file, int readgrid);
  // The method when the flow-control value is above 0, else 0.
  virtual int get_method();
  // Interception before snow: the water input is the throughfall, else the
  // precipitation.
  virtual void select_input_grid(char interception_before_snow);

 private:
  int method = 0;
  const grid_matrix* radiation_correction = nullptr;
  subbasin_flow_arrays* qg = nullptr;
  std::string storage_file_name;
  char interception_first = 0;
};
