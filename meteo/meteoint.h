// meteointerpol: turns the station data of one meteorological quantity into a
// grid for every model step; the application builds one object per name of
// "[meteo_names]". The interpolation is not built yet: until it is, the
// constructor reports the input as not available and fails, so that no run
// goes on without the grids its control file asks for.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"
#include "modelbase/modelobject.h"

class DiagStream;
class grid_store;

// Status of a meteorological input that cannot be interpolated yet.
constexpr int METEO_INPUT_NOT_BUILT = 53;

class meteointerpol : public modelobject {
 public:
  // section: the input's name; free_store_index: the grid-store entry that
  // receives the result grid. Failures are returned through status.
  meteointerpol(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                const std::string& section, const std::string& control_file, grid_store* store,
                const submodel_settings& settings, int free_store_index);

  virtual void set_radius_warnings(int on);
  virtual void set_hour_shift(double hours);
  // The date of the current record.
  virtual void get_current_date(int64_t& hour, int64_t& day, int64_t& month, int64_t& year);
  virtual void interpolate(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void read_next_record();
  // Non-zero when the data are exhausted or the end date is passed.
  virtual int is_end_of_data();
  virtual void end_at_current_date();
  virtual void flush_outputs();
  virtual void rewind_inputs();
  virtual void fit_station_regression(int unused);
  virtual void output_result_grid();
  void release() override;

  int get_method() const { return method; }

 private:
  statistics_registry* registry = nullptr;
  int registry_size = 0;
  int result_store_index = 0;
  int method = 0;
  int radius_warnings = 0;
  // Without station data there is nothing left to read.
  int end_of_data = 1;
};
