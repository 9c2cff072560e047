#include "meteo/meteoint.h"

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "submodel/teilmod.h"

meteointerpol::meteointerpol(int& status, DiagStream* diag_stream, statistics_registry* registry_in,
                             int registry_size_in, const std::string& section,
                             grid_store* store_in, const settings_context& settings,
                             int free_store_index)
    : modelobject(diag_stream, settings.control_file, settings),
      registry(registry_in),
      registry_size(registry_size_in),
      result_store_index(free_store_index) {
  run_constructor_body(status, [&] {
    write_source_banner(*diag, "meteoint", __DATE__, __TIME__);
    name = section;
    diag_entry(*diag, "DEBUG: initializing interpolator for ", name);
    store = store_in;
    const model_date& start = settings.start_date;
    start_date = record_date{start.year, start.month, start.day, start.hour};
    cur_hour = cur_day = cur_month = cur_year = static_cast<int64_t>(NODATA);
    set_up();
  });
}

void meteointerpol::set_radius_warnings(int on) { radius_warnings = on; }

void meteointerpol::set_hour_shift(double hours) { hour_shift = hours; }

void meteointerpol::get_current_date(int64_t& hour, int64_t& day, int64_t& month,
                                     int64_t& year) {
  hour = cur_hour;
  day = cur_day;
  month = cur_month;
  year = cur_year;
}

void meteointerpol::end_at_current_date() {
  end_hour = cur_hour;
  end_day = cur_day;
  end_month = cur_month;
  end_year = cur_year;
  end_key = time_key(end_year, end_month, end_day, end_hour);
}

void meteointerpol::release() {
  diag_entry(*diag, "DEBUG: deleting interpolator for ", name);
  // Only the entries that still hold this object's grids: a set-up that
  // failed half-way leaves the others to their owners.
  auto free_own_entry = [this](int& index, const grid_matrix& grid) {
    if (store != nullptr && index > 0 && index < GRID_STORE_FULL && (*store)[index].grid == &grid)
      free_grid_entry(index);
  };
  free_own_entry(scenario_index, scenario_grid);
  scenario_index = 0;
  free_own_entry(result_store_index, result_grid);
  free_own_entry(x_rotated_index, x_rotated_grid);
  free_own_entry(y_rotated_index, y_rotated_grid);
  x_rotated_index = y_rotated_index = -1;
  scenario_grid = grid_matrix();
  result_grid = grid_matrix();
  x_rotated_grid = grid_matrix();
  y_rotated_grid = grid_matrix();
  sec.scenario_points.clear();
  sec.scenario_grids.clear();
  if (statistic) {
    statistic->release();
    statistic.reset();
  }
  for (station_file& file : stations) {
    file.list.reset();
    file = station_file();
  }
  regression_data = regression_input();
  mesh.reset();
  modelobject::release();
}
