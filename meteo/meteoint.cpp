#include "meteo/meteoint.h"

#include "modelbase/diagstream.h"
#include "submodel/teilmod.h"

meteointerpol::meteointerpol(int& status, DiagStream* diag_stream, statistics_registry* registry_in,
                             int registry_size_in, const std::string& section,
                             const std::string& control_file, grid_store* store_in,
                             const submodel_settings& settings, int free_store_index)
    : modelobject(submodel_object_args(diag_stream, control_file, settings)),
      registry(registry_in),
      registry_size(registry_size_in),
      result_store_index(free_store_index) {
  run_constructor_body(status, [&] {
    write_source_banner(*diag, "meteoint", __DATE__, __TIME__);
    name = section;
    diag_entry(*diag, "DEBUG: initializing interpolator for ", name);
    ncols = settings.ncols;
    nrows = settings.nrows;
    first_row = settings.first_row;
    last_row = settings.last_row;
    xllcorner = settings.xllcorner;
    yllcorner = settings.yllcorner;
    cellsize = settings.cellsize;
    nodata = settings.nodata;
    store = store_in;
    end_hour = settings.end_hour;
    end_day = settings.end_day;
    end_month = settings.end_month;
    end_year = settings.end_year;
    end_key = time_key(end_year, end_month, end_day, end_hour);
    cur_hour = cur_day = cur_month = cur_year = static_cast<int64_t>(NODATA);
    fail_fatal(*diag, METEO_INPUT_NOT_BUILT, "the meteorological input \"", name,
               "\" cannot be interpolated: the interpolation of station data is not built yet. "
               "Remove it from [meteo_names]; a run without meteorological input simulates "
               "one step dated -9999.");
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

void meteointerpol::interpolate(int64_t, int64_t, int64_t, int64_t) {}

void meteointerpol::read_next_record() {}

int meteointerpol::is_end_of_data() { return end_of_data; }

void meteointerpol::end_at_current_date() {
  end_hour = cur_hour;
  end_day = cur_day;
  end_month = cur_month;
  end_year = cur_year;
  end_key = time_key(end_year, end_month, end_day, end_hour);
}

void meteointerpol::flush_outputs() {}

void meteointerpol::rewind_inputs() {}

void meteointerpol::fit_station_regression(int) {}

void meteointerpol::output_result_grid() {}

void meteointerpol::release() {
  diag_entry(*diag, "DEBUG: deleting interpolator for ", name);
  modelobject::release();
}
