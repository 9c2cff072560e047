// precicorrclass: corrects measured precipitation for the catch error of the
// gauges, a factor c + b * wind speed with one pair for rain and one for snow.
// In station mode it corrects the station values of the "precipitation"
// interpolator before they are interpolated, with temperature and wind at
// each station from their interpolators, and refits the elevation regression
// layers to corrected values sampled along the elevation; in grid mode it
// corrects the interpolated grid cell by cell.
#pragma once

#include <string>
#include <vector>

#include "meteo/meteoint_postprocess.h"
#include "modelbase/modelobject.h"

class DiagStream;
class grid_store;
class meteointerpol;

class precicorrclass : public modelobject {
public:
  // interpolators and names: entries 1..name_count (entry 0 unused), owned by
  // the application. Failures are returned through status.
  precicorrclass(int &status, DiagStream *diag,
                 std::vector<meteointerpol *> *interpolators,
                 const std::vector<std::string> *names, int name_count,
                 grid_store *store, const settings_context &settings);

  virtual void correct_station_data();
  virtual void correct_precipitation_grid();
  virtual void set_max_elevation(double elevation);
  void release() override;

  // Set when the correction works on the interpolated precipitation grid.
  char get_grid_mode() const { return grid_mode; }
  int get_do_it() const { return do_it; }

private:
  void read_section();
  void find_inputs();
  meteointerpol *input_at(int position) const;
  // Value of an input at a point: temperature Tg + 1 and wind 0 when the
  // input is absent or has no valid value there.
  double temperature_at(double *buffer, double x, double y, double z) const;
  double wind_at(double *buffer, double x, double y, double z) const;
  void refit_regression(double *buffer);

  int do_it = 1;                    // 0: no correction
  double threshold_temperature = 0; // [degC] rain above, snow at or below
  double rain_constant = 0;         // [-]
  double rain_slope = 0;            // [s m-1]
  double snow_constant = 0;         // [-]
  double snow_slope = 0;            // [s m-1]
  double max_elevation = 0;         // [m] of the elevation model
  char grid_mode = 0;
  catch_coefficients coefficients() const;
  int precipitation_position = -1; // 1-based in the name list; -1: none
  int temperature_position = -1;
  int wind_position = -1;
  const grid_matrix *precipitation_grid = nullptr;
  const grid_matrix *temperature_grid = nullptr; // null: absent
  const grid_matrix *wind_grid = nullptr;
  int temperature_absent = 0;
  int wind_absent = 0;
  int precipitation_method = 0;
  std::vector<meteointerpol *> *interpolators = nullptr;
  const std::vector<std::string> *names = nullptr;
  int name_count = 0;
};
