// Catch-error correction of measured precipitation, factor c + b u with one
// pair (b, c) for rain and one for snow, chosen by air temperature against a
// threshold. Station mode corrects the station values and refits the
// regression layers by least squares over corrected samples along the
// elevation; grid mode corrects the interpolated grid.
#include "meteo/precicorr.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "meteo/meteoint.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"

namespace {

// Samples of the refit of layer 3 at most: the Part's step gives very many
// when the highest elevation lies just above zup.
constexpr int MAX_LAYER3_SAMPLES = 1000;

struct line_fit {
  double a = 0, b = 0;
};

// Least squares of L on z; false when the samples do not span a height range.
bool fit_line(const std::vector<double> &z, const std::vector<double> &l,
              line_fit &out) {
  const double n = static_cast<double>(z.size());
  double sz = 0, sl = 0, szz = 0, szl = 0;
  for (size_t k = 0; k < z.size(); ++k) {
    sz += z[k];
    sl += l[k];
    szz += z[k] * z[k];
    szl += z[k] * l[k];
  }
  const double denominator = n * szz - sz * sz;
  if (z.size() < 2 || denominator == 0)
    return false;
  out.b = (n * szl - sz * sl) / denominator;
  out.a = (sl - out.b * sz) / n;
  return true;
}

} // namespace

precicorrclass::precicorrclass(int &status, DiagStream *diag_stream,
                               std::vector<meteointerpol *> *interpolators_in,
                               const std::vector<std::string> *names_in,
                               int name_count_in, grid_store *store_in,
                               const settings_context &settings)
    : modelobject(diag_stream, settings.control_file, settings),
      interpolators(interpolators_in), names(names_in),
      name_count(name_count_in) {
  run_constructor_body(status, [&] {
    name = "precipitation_correction";
    store = store_in;
    read_section();
    if (do_it != 0)
      find_inputs();
  });
}

void precicorrclass::read_section() {
  if (!open_control_file()) {
    const int error = errno;
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(error));
  }
  std::FILE *file = control_file();
  seek_section("[" + name + "]", true);
  read_value(file, "%d", do_it, "do_it fuer ", section_buffer);
  read_value(file, "%lf", threshold_temperature, "Grenztemperatur fuer ",
             section_buffer);
  read_value(file, "%lf", rain_constant, "Konstante Regen fuer ",
             section_buffer);
  read_value(file, "%lf", rain_slope, "Anstieg Regen fuer ", section_buffer);
  read_value(file, "%lf", snow_constant, "Konstante Schnee fuer ",
             section_buffer);
  read_value(file, "%lf", snow_slope, "Anstieg Schnee fuer ", section_buffer);
  if (std::fclose(control.release()) != 0) {
    const int error = errno;
    fail_fatal(*diag, 11, "error closing ", control_path, errno_text(error));
  }
}

meteointerpol *precicorrclass::input_at(int position) const {
  if (interpolators == nullptr || position < 1 ||
      position >= static_cast<int>(interpolators->size()))
    return nullptr;
  return (*interpolators)[static_cast<size_t>(position)];
}

void precicorrclass::find_inputs() {
  auto position_of = [&](const char *wanted) {
    for (int i = 1; i <= name_count && names != nullptr &&
                    i < static_cast<int>(names->size());
         ++i)
      if ((*names)[static_cast<size_t>(i)] == wanted)
        return i;
    return -1;
  };
  precipitation_grid = (*store)[require_grid("precipitation")].grid;
  precipitation_position = position_of("precipitation");
  if (precipitation_position < 0) {
    grid_mode = 1;
    precipitation_position = name_count >= 1 ? name_count : -1;
  }

  auto take = [&](const char *wanted, int &position, const grid_matrix *&grid,
                  int &absent) {
    position = position_of(wanted);
    if (position > 0) {
      grid = (*store)[require_grid(wanted)].grid;
    } else if (const int index = find_grid(wanted); index > 0) {
      grid_mode = 1;
      grid = (*store)[index].grid;
    } else {
      absent = 1;
    }
  };
  take("temperature", temperature_position, temperature_grid,
       temperature_absent);
  take("wind_speed", wind_position, wind_grid, wind_absent);
  const meteointerpol *t = input_at(temperature_position);
  const meteointerpol *u = input_at(wind_position);
  if ((t != nullptr && t->get_method() == 9) ||
      (u != nullptr && u->get_method() == 9))
    grid_mode = 1;
  if (grid_mode != 0)
    return;
  const meteointerpol *p = input_at(precipitation_position);
  if (p == nullptr || p->get_method() == 9) {
    grid_mode = 1;
    return;
  }
  precipitation_method = p->get_method();
}

catch_coefficients precicorrclass::coefficients() const {
  return {threshold_temperature, rain_constant, rain_slope, snow_constant,
          snow_slope};
}

double precicorrclass::temperature_at(double *buffer, double x, double y,
                                      double z) const {
  meteointerpol *t = input_at(temperature_position);
  if (t == nullptr)
    return threshold_temperature + 1;
  const double v = t->interpolate_at_point(buffer, x, y, z);
  return v < -t->nodata_bound() ? threshold_temperature + 1 : v;
}

double precicorrclass::wind_at(double *buffer, double x, double y,
                               double z) const {
  meteointerpol *u = input_at(wind_position);
  if (u == nullptr)
    return 0;
  const double v = u->interpolate_at_point(buffer, x, y, z);
  return v < -u->nodata_bound() ? 0 : v;
}

void precicorrclass::correct_station_data() {
  if (do_it == 0 || grid_mode != 0)
    return;
  meteointerpol *p = input_at(precipitation_position);
  if (p == nullptr)
    return;
  int largest = 0;
  for (int position :
       {precipitation_position, temperature_position, wind_position})
    if (const meteointerpol *m = input_at(position);
        m != nullptr && m->station_file_count() > 0)
      largest = std::max(largest, m->station(0).station_count);
  std::vector<double> buffer(static_cast<size_t>(largest) + 1);
  const catch_coefficients k = coefficients();
  const bool has_temperature = input_at(temperature_position) != nullptr;
  const int method = precipitation_method;
  if (method != 2 && method != 10 && p->station_file_count() > 0) {
    station_file &f = p->station_data(0);
    for (int i = 1; i <= f.station_count; ++i) {
      const size_t s = static_cast<size_t>(i);
      // Every process evaluates every station: a point on another
      // process's rows is evaluated by its owner and broadcast.
      const double t =
          temperature_at(buffer.data(), f.x[s], f.y[s], f.altitude[s]);
      const double u = wind_at(buffer.data(), f.x[s], f.y[s], f.altitude[s]);
      if (f.values[s] < -p->nodata_bound())
        continue;
      f.values[s] =
          corrected_precipitation(f.values[s], t, has_temperature, u, k);
    }
  }
  if (method == 2 || method == 3 || method == 10 || method == 11)
    refit_regression(buffer.data());
}

void precicorrclass::refit_regression(double *buffer) {
  meteointerpol *p = input_at(precipitation_position);
  regression_set &target = p->regression_coefficients();
  regression_set r = target;
  if (r[1] < -p->nodata_bound())
    return;
  const catch_coefficients k = coefficients();
  const bool has_temperature = input_at(temperature_position) != nullptr;
  auto corrected = [&](double a, double b, double z) {
    const double t = temperature_at(buffer, nodata, nodata, z);
    const double u = wind_at(buffer, nodata, nodata, z);
    return corrected_precipitation(a + b * z, t, has_temperature, u, k);
  };
  // Refits layer (a, b) to count + 1 samples z0, z0 + step, ...
  auto refit = [&](double &a, double &b, double z0, double step, int count) {
    std::vector<double> z, l;
    for (int i = 0; i <= count; ++i) {
      const double zi = z0 + i * step;
      z.push_back(zi);
      l.push_back(corrected(a, b, zi));
    }
    line_fit fit;
    if (!fit_line(z, l, fit))
      return;
    a = fit.a;
    b = fit.b;
  };
  double &a1 = r[1], &b1 = r[2], &a2 = r[4], &b2 = r[5], &a3 = r[7], &b3 = r[8];
  const double zlow = r[3];
  double zup = r[6];
  if (zlow > 0 && b1 != 0)
    refit(a1, b1, 0, zlow / 10, 10);
  else if (zup > 0) // no height range: the layer keeps its coefficients
    refit(a2, b2, 0, zup / 10, 10);
  const double top = max_elevation;
  if (b3 != 0 && top > zup) {
    const double reach = std::max(2 * zup, top);
    double step = (top - zup) / 10;
    int count = static_cast<int>(std::floor((reach - zup) / step + 1e-9));
    if (count > MAX_LAYER3_SAMPLES - 1) {
      count = MAX_LAYER3_SAMPLES - 1;
      step = (reach - zup) / count;
    }
    refit(a3, b3, zup, step, count);
  }
  if (zlow > 0) {
    const double low = a1 + b1 * zlow, high = a3 + b3 * zup;
    b2 = zup != zlow ? (high - low) / (zup - zlow) : 0.0;
    a2 = low - b2 * zlow;
  } else if (std::fabs(b3 - b2) > 0.0001) {
    zup = (a2 - a3) / (b3 - b2);
  }
  for (int i : {1, 2, 4, 5, 7, 8})
    target[static_cast<size_t>(i)] = r[static_cast<size_t>(i)];
  target[6] = zup;
}

void precicorrclass::correct_precipitation_grid() {
  if (do_it == 0 || precipitation_grid == nullptr)
    return;
  if (mpi_regions == nullptr) {
    mpi_regions = (*store)[require_grid("MPIRegions")].grid;
  }
  // The validity bound of each grid: its interpolator's -N, and with none
  // the grid nodata value alone.
  auto bound_of = [&](int position) {
    const meteointerpol *m = input_at(position);
    return m != nullptr ? -m->nodata_bound() : nodata;
  };
  const double p_bound = bound_of(precipitation_position);
  const double t_bound = bound_of(temperature_position);
  const double u_bound = bound_of(wind_position);
  const catch_coefficients k = coefficients();
  const bool has_temperature = temperature_grid != nullptr;
  grid_matrix &precipitation = *const_cast<grid_matrix *>(precipitation_grid);
#pragma omp parallel for schedule(runtime)
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip &span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (static_cast<int>((*mpi_regions)[r][c]) != rank)
        continue;
      const double v = precipitation[r][c];
      if (v == nodata || v < p_bound)
        continue;
      double t = threshold_temperature + 1;
      if (has_temperature) {
        const double cell = (*temperature_grid)[r][c];
        if (cell != nodata && !(cell < t_bound))
          t = cell;
      }
      double u = 0;
      if (wind_grid != nullptr) {
        const double cell = (*wind_grid)[r][c];
        if (cell != nodata && !(cell < u_bound))
          u = cell;
      }
      precipitation[r][c] =
          corrected_precipitation(v, t, has_temperature, u, k);
    }
  }
}

void precicorrclass::set_max_elevation(double elevation) {
  max_elevation = elevation;
}

void precicorrclass::release() { modelobject::release(); }
