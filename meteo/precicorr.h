// precicorrclass: corrects measured precipitation for the catch error of the
// gauges, a factor c + b * wind speed with one pair for rain and one for snow.
// It reads its switch and coefficients from "[precipitation_correction]"; the
// correction itself is not built yet, so a switched-on correction is reported
// and leaves the precipitation as it is.
#pragma once

#include <string>
#include <vector>

#include "modelbase/modelobject.h"

class DiagStream;
class grid_store;
class meteointerpol;

class precicorrclass : public modelobject {
 public:
  // interpolators and names: entries 1..name_count (entry 0 unused), owned by
  // the application. Failures are returned through status.
  precicorrclass(int& status, DiagStream* diag, std::vector<meteointerpol*>* interpolators,
                 const std::vector<std::string>* names, int name_count, grid_store* store,
                 const settings_context& settings);

  virtual void correct_station_data();
  virtual void correct_precipitation_grid();
  virtual void set_max_elevation(double elevation);
  void release() override;

  // Set when the correction works on the interpolated precipitation grid.
  char get_grid_mode() const { return grid_mode; }
  int get_do_it() const { return do_it; }

 private:
  void read_section();

  int do_it = 1;  // 0: no correction
  double threshold_temperature = 0;  // [degC] rain above, snow at or below
  double rain_constant = 0;          // [-]
  double rain_slope = 0;             // [s m-1]
  double snow_constant = 0;          // [-]
  double snow_slope = 0;             // [s m-1]
  double max_elevation = 0;          // [m] of the elevation model
  char grid_mode = 0;
  std::vector<meteointerpol*>* interpolators = nullptr;
  const std::vector<std::string>* names = nullptr;
  int name_count = 0;
};
