// One step of a meteorological interpolator: the date check, the progress
// line, the scenario values of the day, the grid of method 9, the OpenMP cell
// loop that applies the method's rule and the finishing of every value, and
// the zonal statistics of the step (with the master copy of hydrologic
// response units). Also the value at a single point for the precipitation
// correction, and the set-up checks and station relations the step relies on.
#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "meteo/meteoint.h"
#include "meteo/meteoint_geometry.h"
#include "meteo/meteoint_postprocess.h"
#include "meteo/meteoint_regression_fit.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/zonalstat.h"
#include "settings/zonetable.h"
#include "submodel/hru_followers.h"

namespace {

// Layout problems of the hydrologic response units found at set-up.
constexpr int NO_ELEVATION_MODEL = 33;
constexpr int METHOD9_NO_GRID = 1050;

} // namespace

station_view meteointerpol::plain_view(int file_index) const {
  const station_file &f = stations[static_cast<size_t>(file_index)];
  return {f.station_count, f.values.data(), f.x.data(), f.y.data(),
          f.altitude.data()};
}

station_view meteointerpol::rotated_view(int file_index) const {
  const station_file &f = stations[static_cast<size_t>(file_index)];
  return {f.station_count, f.values.data(), f.x_rotated.data(),
          f.y_rotated.data(), f.altitude.data()};
}

idw_settings meteointerpol::weighting() const {
  return {sec.nodata_bound, sec.weight_code, sec.idw_weight, sec.max_distance,
          sec.anisotropy_ratio};
}

bool meteointerpol::needs_elevation() const {
  return method == 2 || method == 3 || method == 6 || method == 8 ||
         method >= 10;
}

void meteointerpol::check_step_settings() {
  // The progress line tests the hour modulo the interval.
  if (report_interval == 0)
    fail_fatal(
        *diag, 17,
        "the progress-report interval of [output_interval] (its first value) "
        "must not be 0 (",
        name, ")");
  if (needs_elevation() && elevation == nullptr)
    fail_fatal(*diag, NO_ELEVATION_MODEL, "interpolation method ", method,
               " of ", name,
               " needs the elevation model, which is not in the grid store");
  if (hru_units == nullptr)
    return;
  // Every non-master cell copies its master's result: the master must be one
  // of this process's cells and the unit id an entry of the list.
  hru_follower_frame frame;
  frame.zone = zone_grid;
  frame.regions = mpi_regions;
  frame.units = hru_units;
  frame.masters = hru_masters;
  frame.strips = strips;
  frame.list = settings().hru_list;
  frame.first_row = first_row;
  frame.last_row = last_row;
  frame.ncols = ncols;
  frame.rank = rank;
  frame.nodata = nodata;
  check_hru_followers(*diag, frame, name);
}

void meteointerpol::find_mesh_orientation() {
  if (method < 5 || method > 8)
    return;
  const station_file &f = stations[0];
  if (f.station_count == 0)
    fail_fatal(*diag, 49, "no station in ", f.file_name,
               " for interpolation method ", method, " of ", name);
  const mesh_orientation m =
      find_neighbour_stations(f.x.data(), f.y.data(), f.station_count);
  sec.anisotropy_slope = m.slope_degrees;
  sec.anisotropy_ratio = m.ratio;
}

void meteointerpol::choose_lookup_stations() {
  diag_entry(*diag, "choosing look-up-stations...");
  lookup.assign(static_cast<size_t>(std::max(0, last_row - first_row + 1)) *
                    static_cast<size_t>(ncols),
                lookup_corners{0, 0, 0, 0});
  const station_view s = rotated_view(0);
  const double dx = average_x, dy = average_y, t = lookup_factor;
  auto right = [&](int k) {
    return k == 0 ? 0
                  : station_in_box(s, s.x[k], s.y[k], (1 - t) * dx,
                                   (1 + t) * dx, -t * dy, t * dy);
  };
  auto left = [&](int k) {
    return k == 0 ? 0
                  : station_in_box(s, s.x[k], s.y[k], -(1 + t) * dx,
                                   -(1 - t) * dx, -t * dy, t * dy);
  };
  auto above = [&](int k) {
    return k == 0 ? 0
                  : station_in_box(s, s.x[k], s.y[k], -t * dx, t * dx,
                                   (1 - t) * dy, (1 + t) * dy);
  };
  auto below = [&](int k) {
    return k == 0 ? 0
                  : station_in_box(s, s.x[k], s.y[k], -t * dx, t * dx,
                                   -(1 + t) * dy, -(1 - t) * dy);
  };
  const grid_matrix &zone = *zone_grid;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip &span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (zone[r][c] == nodata)
        continue;
      if (mpi_regions != nullptr &&
          static_cast<int>((*mpi_regions)[r][c]) != rank)
        continue;
      const double xd = (*coord_x)[r][c], yd = (*coord_y)[r][c];
      int s0 = 0;
      double best = 0;
      for (int k = 1; k <= s.n; ++k) {
        const double d =
            (s.x[k] - xd) * (s.x[k] - xd) + (s.y[k] - yd) * (s.y[k] - yd);
        if (s0 == 0 || d < best) {
          s0 = k;
          best = d;
        }
      }
      const double ddx = s.x[s0] - xd, ddy = s.y[s0] - yd;
      lookup_corners corner{0, 0, 0, 0}; // UR, UL, LL, LR
      if (ddx > 0 && ddy > 0) {
        corner[0] = s0;
        corner[1] = left(s0);
        corner[2] = below(corner[1]);
        corner[3] = below(s0);
      } else if (ddx > 0) {
        corner[3] = s0;
        corner[2] = left(s0);
        corner[1] = above(corner[2]);
        corner[0] = above(s0);
      } else if (ddy > 0) {
        corner[1] = s0;
        corner[2] = below(s0);
        corner[3] = right(corner[2]);
        corner[0] = right(s0);
      } else {
        corner[2] = s0;
        corner[1] = above(s0);
        corner[0] = right(corner[1]);
        corner[3] = right(s0);
      }
      lookup[static_cast<size_t>(r - first_row) * static_cast<size_t>(ncols) +
             static_cast<size_t>(c - 1)] = corner;
    }
    *diag << ".";
  }
  *diag << "[end-entry]";
}

void meteointerpol::check_date(int64_t hour, int64_t day, int64_t month,
                               int64_t year) {
  if (cur_year == year && cur_month == month && cur_day == day &&
      cur_hour == hour)
    return;
  const char *const rule = "---------------------------------------------------"
                           "--------------------------\n";
  fail_fatal(
      *diag, 52, rule, "error in date columns of ", name,
      "\n\nfirst Meteo data set (this is the set from which data is get:\n",
      day, ".", month, ".", year, " ", hour, ". h\n\nbut in ", name, ":\n",
      cur_day, ".", cur_month, ".", cur_year, " ", cur_hour, ". h\n\n", rule);
}

void meteointerpol::write_progress(int64_t hour, int64_t day, int64_t month,
                                   int64_t year) {
  const int64_t shifted = hour + static_cast<int64_t>(hour_shift);
  if (report_interval != 1 && shifted % report_interval != 0)
    return;
  diag->set_width(20);
  *diag << name;
  *diag << " " << day << "." << month << "." << year << " " << hour << ". h ";
  if (sec.scenario_switch == 1)
    *diag << "using scenarios!";
  *diag << "[end-entry]";
}

void meteointerpol::prepare_scenarios(int64_t day, int64_t month) {
  if (sec.scenario_method == 5 || sec.scenario_method == 6) {
    const int64_t m = month > 12 ? (month - 1) % 12 + 1 : month;
    if (m == scenario_month)
      return;
    if (m < 1)
      fail_fatal(*diag, 17, "error in control file: scenario grid for month ",
                 m, " in ", name, " not found!");
    scenario_month = m;
    if (scenario_index > 0)
      free_grid_entry(scenario_index);
    scenario_grid = grid_matrix();
    const std::string &file = sec.scenario_grids[static_cast<size_t>(m)];
    read_grid(file, scenario_grid, 0, true, false, 0, false, false, false,
              false);
    scenario_index = first_free_store_entry(result_store_index + 1);
    register_grid(scenario_index, file, &scenario_grid, nullptr, 0,
                  "scenariogrid_" + name, 0, first_row, last_row);
    return;
  }
  for (size_t k = 1; k < sec.scenario_points.size(); ++k)
    sec.scenario_points[k][15] = scenario_day_value(
        sec.scenario_points[k], static_cast<int>(day), static_cast<int>(month));
}

void meteointerpol::read_method9_grid() {
  station_file &f = stations[0];
  std::string file = f.grid_name;
  if (file == "-9999") {
    if (f.last_grid_name.empty())
      fail_fatal(*diag, METHOD9_NO_GRID,
                 "interpolation method 9 (read from grid) no valid grid name "
                 "was found (-9999 as "
                 "input) and no last valid grid name present (i.e., simulation "
                 "starts, when input "
                 "list file contains -9999 only)");
    file = f.last_grid_name;
  } else {
    f.last_grid_name = file;
  }
  // read_grid suspends the Ctrl-C handler while it reads; process 0 keeps
  // the whole grid as the set-up allocated it.
  read_grid(file, result_grid, 0, true, false, 0, false, true, false, true);
}

bool meteointerpol::apply_all_equal(bool &shortcut) {
  shortcut = false;
  if (method == 2 || method == 9 || method == 10 || station_files == 0)
    return true;
  station_file &f = stations[0];
  if (f.uniform == 0)
    return true;
  shortcut = true;
  for (int k = 1; k <= f.station_count; ++k)
    if (!(f.values[static_cast<size_t>(k)] < -sec.nodata_bound)) {
      // Stored once before the loop: the threads only read it.
      f.values[1] = f.values[static_cast<size_t>(k)];
      return true;
    }
  return false;
}

double meteointerpol::idw_of(int file_index, double *buffer, double xd,
                             double yd) const {
  return sec.anisotropy_ratio < 1
             ? idw_anisotropic(rotated_view(file_index), buffer, xd, yd,
                               weighting())
             : idw(plain_view(file_index), buffer, xd, yd, weighting());
}

double meteointerpol::point_rule(int row, int col, double *buffer, double x,
                                 double y, double xd, double yd, double z,
                                 bool *no_station) const {
  const double n_bound = sec.nodata_bound;
  const double invalid = invalid_marker(n_bound);
  const regression_set &set = regression_data.set;
  const bool usable = !(set[1] < -n_bound);
  switch (method) {
  case 7:
  case 8: {
    // The surface where it reaches the cell, IDW elsewhere.
    const double s1 = result_grid[row][col];
    const double s2 = method == 8 ? mesh->gradient[row][col] : 0.0;
    if (s1 != nodata && s2 != nodata)
      return method == 7 ? s1 : s1 + s2 * z;
    [[fallthrough]];
  }
  case 1: {
    const double v = idw_of(0, buffer, xd, yd);
    if (no_station != nullptr)
      *no_station = v < -n_bound;
    return v;
  }
  case 2:
  case 10:
    return regression_value(set, x, y, z, n_bound, nodata);
  case 3:
  case 11: {
    const double r =
        usable ? regression_value(set, x, y, z, n_bound, nodata) : invalid;
    const double v = idw_of(0, buffer, xd, yd);
    if (no_station != nullptr)
      *no_station = v < -n_bound;
    if (!usable)
      return v;
    if (v < -n_bound)
      return r;
    return sec.idw_fraction * v + (1 - sec.idw_fraction) * r;
  }
  case 4:
    return thiessen(plain_view(0), buffer, x, y, n_bound);
  case 5:
  case 6: {
    lookup_corners corners{0, 0, 0, 0};
    if (row >= first_row && row <= last_row && !lookup.empty())
      corners = lookup[static_cast<size_t>(row - first_row) *
                           static_cast<size_t>(ncols) +
                       static_cast<size_t>(col - 1)];
    const double residual =
        bilinear(rotated_view(0), corners, buffer, xd, yd, weighting());
    if (method == 5)
      return residual;
    const double gradient =
        bilinear(rotated_view(1), corners, buffer, xd, yd, weighting());
    // An invalid part leaves no value rather than a marker times the elevation.
    if (residual < -n_bound || gradient < -n_bound)
      return invalid;
    return residual + gradient * z;
  }
  case 9:
    return result_grid[row][col];
  case 12: {
    const lapse_rate_line &l = sec.lapse;
    const lapse_settings settings{
        l.lapse_rate,
        l.fixed_upper_lapse_rate > -9998 ? l.inversion_height : -9999.0,
        l.fixed_upper_lapse_rate, l.p_type};
    return thiessen_with_gradient(plain_view(0), x, y, z, settings, n_bound);
  }
  default:
    return invalid;
  }
}

double meteointerpol::cell_rule(int row, int col, double *buffer,
                                bool &keep) const {
  keep = false;
  const double x = (*plain_x)[row][col], y = (*plain_y)[row][col];
  const double xd = (*coord_x)[row][col], yd = (*coord_y)[row][col];
  const double z = elevation != nullptr ? (*elevation)[row][col] : 0.0;
  if ((method == 2 || method == 10) &&
      regression_data.set[1] < -sec.nodata_bound) {
    keep = true;
    return 0;
  }
  bool no_station = false;
  const double v = point_rule(row, col, buffer, x, y, xd, yd, z, &no_station);
  if (no_station && radius_warnings != 0) {
#pragma omp critical
    diag_entry(*diag, method == 1 ? "WARNING:  at x=" : "WARNING: at x=", xd,
               ", y=", yd, " ",
               "no station within the specified search radius!");
  }
  return v;
}

void meteointerpol::interpolate_rows(bool shortcut, bool any_valid) {
  const postprocess_settings post{sec.scaling,           sec.lower_limit,
                                  sec.replacement_below, sec.upper_limit,
                                  sec.replacement_above, sec.scenario_switch,
                                  sec.scenario_method};
  const double invalid = invalid_marker(sec.nodata_bound);
  const grid_matrix &zone = *zone_grid;
  const size_t buffer_size =
      static_cast<size_t>(std::max(stations[0].station_count, 1)) + 1;
  const int rows_first = first_row, rows_last = last_row;
#pragma omp parallel
  {
    std::vector<double> buffer(buffer_size);
#pragma omp for schedule(runtime)
    for (int r = rows_first; r <= rows_last; ++r) {
      const row_strip &span = (*strips)[static_cast<size_t>(r)];
      for (int c = span.first; c <= span.last; ++c) {
        if (zone[r][c] == nodata ||
            static_cast<int>((*mpi_regions)[r][c]) != rank ||
            (hru_masters != nullptr && (*hru_masters)[r][c] == nodata)) {
          result_grid[r][c] = nodata;
          continue;
        }
        bool keep = false;
        double v = 0;
        if (shortcut && method != 12)
          v = any_valid ? stations[0].values[1] : invalid;
        else if (shortcut && !any_valid)
          v = invalid;
        else
          v = cell_rule(r, c, buffer.data(), keep);
        if (keep)
          continue;
        const double scenario =
            sec.scenario_switch == 1
                ? scenario_value(r, c, (*plain_x)[r][c], (*plain_y)[r][c])
                : 0.0;
        result_grid[r][c] = postprocess_value(
            v, post, scenario, scaling_grid != nullptr,
            scaling_grid != nullptr ? (*scaling_grid)[r][c] : 1.0);
      }
    }
  }
}

void meteointerpol::add_step_statistics(int64_t hour, int64_t day,
                                        int64_t month, int64_t year) {
  const grid_matrix &zone = *zone_grid;
  for (int r = first_row; r <= last_row; ++r) {
    const row_strip &span = (*strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (zone[r][c] == nodata ||
          static_cast<int>((*mpi_regions)[r][c]) != rank)
        continue;
      if (hru_masters != nullptr && (*hru_masters)[r][c] == nodata) {
        const hru_entry &unit =
            (*settings().hru_list)[static_cast<size_t>((*hru_units)[r][c])];
        result_grid[r][c] = result_grid[unit.row][unit.col];
      }
      int code = 0;
      zone_code_of(zone[r][c], code);
      statistic->add_value(r, c, (*zone_index)[static_cast<size_t>(code)],
                           result_grid[r][c], 1.0);
    }
  }
  statistic->complete_step(year, month, day, hour, 1);
}

void meteointerpol::interpolate(int64_t hour, int64_t day, int64_t month,
                                int64_t year) {
  check_date(hour, day, month, year);
  if (omp_in_parallel() == 0)
    write_progress(hour, day, month, year);
  if (sec.scenario_switch == 1)
    prepare_scenarios(day, month);
  evaluate_spline_surfaces();
  if (method == 9)
    read_method9_grid();
  if (mpi_regions == nullptr) {
    mpi_regions = (*store)[require_grid("MPIRegions")].grid;
  }
  statistic->clear_step_sums();
  bool shortcut = false;
  const bool any_valid = apply_all_equal(shortcut);
  interpolate_rows(shortcut, any_valid);
  add_step_statistics(hour, day, month, year);
}

void meteointerpol::fit_station_regression(int) {
  if (method != 10 && method != 11)
    return;
  regression_data.set =
      fit_elevation_regression(plain_view(0), sec.elevation, sec.nodata_bound);
}

void meteointerpol::output_result_grid() {
  output_grid(result_store_index, 1, 0);
}

void meteointerpol::flush_outputs() {
  if (statistic)
    statistic->write_rows();
}

double meteointerpol::interpolate_at_point(double *buffer, double x, double y,
                                           double z) {
  if (sec.scenario_switch == 1 && sec.scenario_method != 5 &&
      sec.scenario_method != 6)
    for (size_t k = 1; k < sec.scenario_points.size(); ++k)
      sec.scenario_points[k][15] =
          scenario_day_value(sec.scenario_points[k], static_cast<int>(cur_day),
                             static_cast<int>(cur_month));
  double xd = x, yd = y;
  const bool rotated_methods = method != 2 && method != 9;
  if (rotated_methods && sec.anisotropy_ratio < 1 && x != nodata &&
      y != nodata) {
    const rotated_point p =
        rotate_about_corner(xllcorner, yllcorner, x, y, sec.anisotropy_slope);
    xd = p.x;
    yd = p.y;
  }
  // Truncation toward zero, then held to the grid: a point left of or below
  // the grid takes the edge cell.
  const double row_offset = std::trunc((y - yllcorner) / cellsize);
  const double col_offset = std::trunc((x - xllcorner) / cellsize);
  const int row =
      static_cast<int>(std::clamp(nrows - row_offset, 1.0, double(nrows)));
  const int col =
      static_cast<int>(std::clamp(col_offset + 1, 1.0, double(ncols)));

  double value = 0;
  const bool cell_based =
      method == 5 || method == 6 || method == 7 || method == 8 || method == 9;
  if (!cell_based) {
    value = point_rule(row, col, buffer, x, y, xd, yd, z, nullptr);
  } else {
    // The cell's look-up corners, elevation and grid value live on the
    // process that owns the cell: it evaluates, the others take its value.
    const bool holds_row = row >= first_row && row <= last_row;
    const int owner = cell_owner(row, col, holds_row);
    if (owner == rank || process_count == 1) {
      const double zc =
          elevation != nullptr && holds_row ? (*elevation)[row][col] : z;
      if (method == 7 || method == 8) {
        const double cx = holds_row ? (*plain_x)[row][col] : x;
        const double cy = holds_row ? (*plain_y)[row][col] : y;
        value = thiessen(plain_view(0), buffer, cx, cy, sec.nodata_bound);
      } else if (method == 9) {
        value = holds_row || rank == 0 ? result_grid[row][col]
                                       : invalid_marker(sec.nodata_bound);
      } else {
        value = point_rule(row, col, buffer, x, y, xd, yd, zc, nullptr);
      }
    }
    if (process_count > 1 && owner < process_count)
      MPI_Bcast(&value, 1, MPI_DOUBLE, owner, MPI_COMM_WORLD);
    else if (owner >= process_count)
      value = invalid_marker(sec.nodata_bound);
  }
  // Collective for scenario grids: taken before a process may return early.
  const double scenario =
      sec.scenario_switch == 1 ? scenario_at_point(row, col, x, y) : 0.0;
  if (value < -sec.nodata_bound)
    return value;
  const postprocess_settings post{sec.scaling,           sec.lower_limit,
                                  sec.replacement_below, sec.upper_limit,
                                  sec.replacement_above, sec.scenario_switch,
                                  sec.scenario_method};
  return postprocess_value(value, post, scenario, false, 1.0);
}

int meteointerpol::cell_owner(int row, int col, bool holds_row) const {
  // A row may be shared: of its cells a process owns those of its region.
  const bool owns =
      holds_row && (mpi_regions == nullptr ||
                    static_cast<int>((*mpi_regions)[row][col]) == rank ||
                    (*zone_grid)[row][col] == nodata);
  int owner = owns ? rank : process_count;
  if (process_count > 1)
    MPI_Allreduce(MPI_IN_PLACE, &owner, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return owner;
}

double meteointerpol::scenario_at_point(int row, int col, double x, double y) {
  if (sec.scenario_method != 5 && sec.scenario_method != 6)
    return scenario_value(row, col, x, y);
  // The month's scenario grid holds only the process's own rows, and of a
  // shared row only its own cells: the owner reads it, the others take its value.
  const bool holds_row = scenario_grid && row >= scenario_grid.first_row() &&
                         row <= scenario_grid.last_row();
  if (process_count == 1)
    return holds_row ? scenario_value(row, col, x, y) : 0.0;
  const int owner = cell_owner(row, col, holds_row);
  if (owner == process_count)
    return 0.0;
  double scenario = owner == rank ? scenario_value(row, col, x, y) : 0.0;
  MPI_Bcast(&scenario, 1, MPI_DOUBLE, owner, MPI_COMM_WORLD);
  return scenario;
}
