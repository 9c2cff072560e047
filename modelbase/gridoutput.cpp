// Output by write code: once per step the owner of a stored grid calls
// output_grid, which accumulates the sums, minima, maxima and
// vegetation-period values the write code asks for and writes the grid and
// those derived grids when their day, month, year or the run ends.
//
// Every written grid is what a gathered copy at process 0 holds whenever the
// grid is divided ("MPIRegions" exists), also with a single process: only the
// cells that some process owns reach the file, so one and several processes
// write the same bytes. No whole copy is made: process 0 gathers and writes
// a band of rows at a time (gridoutput_bands.cpp). With several processes a
// text grid is not gathered at all: each process formats its band and
// process 0 writes the lines (gridfile_bands.cpp), which gives the same file.
#include "modelbase/gridoutput.h"

#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

namespace {

constexpr int LAST_OUTPUT_INDEX = 1000;
constexpr size_t STACK_STEM_CHARS = 4;  // dated stack names keep this much of the stem

// Which cells of an entry's rows count as this process's own: inside the
// row's span, with zone data, and (distributed) owned by this process.
struct own_cells {
  int first_row = 0;
  int last_row = -1;
  int ncols = 0;
  int rank = 0;
  double nodata = NODATA;
  const std::vector<row_strip>* strips = nullptr;
  const grid_matrix* zone = nullptr;
  const grid_matrix* regions = nullptr;  // null: no ownership test

  row_strip span(int row) const {
    if (strips == nullptr) return row_strip{1, ncols};
    if (row < 0 || static_cast<size_t>(row) >= strips->size()) return row_strip{};
    return (*strips)[static_cast<size_t>(row)];
  }
  static bool holds(const grid_matrix* g, int row) {
    return g != nullptr && row >= 0 && row < g->pointer_count() && (*g)[row] != nullptr;
  }
  bool own(int row, int col) const {
    if (!holds(zone, row) || !((*zone)[row][col] > nodata)) return false;
    return regions == nullptr || (holds(regions, row) && (*regions)[row][col] == rank);
  }
  // f(row, col, own) for every cell of the spans in rows held by target.
  // Rows are independent, so they are spread over the threads.
  template <class F>
  void for_span_cells(const grid_matrix& target, F f) const {
#pragma omp parallel for schedule(static)
    for (int row = first_row; row <= last_row; ++row) {
      if (!holds(&target, row)) continue;
      const row_strip s = span(row);
      for (int col = s.first; col <= s.last; ++col) f(row, col, own(row, col));
    }
  }
};

// The calendar of the step.
struct step_ends {
  bool day = false;
  bool month = false;
  bool year = false;
  bool run = false;
};

// Writes a grid at process 0: gathered band by band whenever the grid is
// divided, the grid itself otherwise. A region write sets the cells outside
// the spans to nodata first (in the file only when gathered).
struct grid_writer {
  modelobject& owner;
  bool gathered = false;
  int rank = 0;
  bool as_text = false;
  bool double_precision = false;
  bool by_bands = false;  // several processes: text formatted band by band

  void write(const std::vector<std::string>& names, grid_matrix& g, bool region) const {
    // Text is formatted by every process for its band; nothing is gathered.
    // A region writes the same file: a gathered copy is nodata outside the
    // spans anyway.
    if (gathered && as_text && by_bands) {
      for (const std::string& file : names) owner.write_text_grid_bands(file, g);
      return;
    }
    // Otherwise process 0 gathers and writes a band of rows at a time.
    if (gathered) {
      owner.write_gathered_grid(names, g, as_text, double_precision, region);
      return;
    }
    if (rank != 0) return;
    for (const std::string& file : names) {
      if (region)
        owner.write_grid_region(file, g, as_text, double_precision);
      else
        owner.write_grid(file, g, as_text, double_precision);
    }
  }
};

void copy_stack_level(grid_entry& e, const own_cells& cells) {
  if (e.stack == nullptr || e.output.no_level_copy != 0) return;
  if (e.tens == 0 && e.min_flag == 0 && e.max_flag == 0) return;
  grid_matrix& grid = *e.grid;
  const stack_matrix& stack = *e.stack;
  cells.for_span_cells(grid, [&](int r, int c, bool own) {
    if (own) grid[r][c] = stack[r][c][1];
  });
}

// Nodata values of the grid take part like any other value.
void accumulate_sums(grid_entry& e, const own_cells& cells) {
  if (e.tens == 0) return;
  const grid_matrix& grid = *e.grid;
  grid_matrix& sum = e.sum_grid;
  const double nd = cells.nodata;
  cells.for_span_cells(
      sum, [&](int r, int c, bool own) { sum[r][c] = own ? sum[r][c] + grid[r][c] : nd; });
}

void accumulate_extremes(grid_entry& e, const own_cells& cells) {
  const grid_matrix& grid = *e.grid;
  const double nd = cells.nodata;
  if (e.output.accumulation_started == 0) {
    for (grid_matrix* m :
         {e.min_flag != 0 ? &e.min_grid : nullptr, e.max_flag != 0 ? &e.max_grid : nullptr}) {
      if (m == nullptr) continue;
      grid_matrix& target = *m;
      cells.for_span_cells(target,
                           [&](int r, int c, bool own) { target[r][c] = own ? grid[r][c] : nd; });
    }
    e.output.accumulation_started = 1;
    return;
  }
  if (e.min_flag != 0) {
    grid_matrix& m = e.min_grid;
    cells.for_span_cells(m, [&](int r, int c, bool own) {
      if (own && grid[r][c] < m[r][c]) m[r][c] = grid[r][c];
    });
  }
  if (e.max_flag != 0) {
    grid_matrix& m = e.max_grid;
    cells.for_span_cells(m, [&](int r, int c, bool own) {
      if (own && grid[r][c] > m[r][c]) m[r][c] = grid[r][c];
    });
  }
}

// Sums over the vegetation period of the entry's layer, written (totals or
// means) and reset on the days the daily land-use update flags.
void vegetation_period(modelobject& owner, grid_store& store, grid_entry& e, const own_cells& cells,
                       const grid_writer& writer, int64_t year) {
  if (e.thousands == 0) return;
  vegetation_period_state& veg = e.vegetation;
  if (veg.start == nullptr || veg.stop == nullptr || veg.duration == nullptr) {
    const std::string layer = vegetation_layer_name(e.first_file_name.value_or(std::string()));
    veg.start = store[owner.require_grid("VegetationStart" + layer)].grid;
    veg.stop = store[owner.require_grid("VegetationStop" + layer)].grid;
    veg.duration = store[owner.require_grid("VegetationDuration" + layer)].grid;
  }
  const grid_matrix& grid = *e.grid;
  grid_matrix& period = e.vegetation_grid;
  const grid_matrix& start = *veg.start;
  const grid_matrix& stop = *veg.stop;
  const double nd = cells.nodata;
  cells.for_span_cells(period, [&](int r, int c, bool own) {
    if (own && start[r][c] >= 0 && stop[r][c] <= 0 && grid[r][c] != nd) period[r][c] += grid[r][c];
  });
  if (veg.flags[vegetation_period_state::output_due] != 0) {
    veg.flags[vegetation_period_state::output_due] = 0;
    if (e.thousands == 2) {
      const grid_matrix& duration = *veg.duration;
      cells.for_span_cells(period, [&](int r, int c, bool own) {
        if (own) period[r][c] /= duration[r][c];
      });
    }
    const std::string file = vegetation_output_name(e.vegetation_file_name, e.thousands, year);
    if (!file.empty()) writer.write({file}, period, true);
  }
  if (veg.flags[vegetation_period_state::reset_due] != 0) {
    veg.flags[vegetation_period_state::reset_due] = 0;
    cells.for_span_cells(period, [&](int r, int c, bool own) { period[r][c] = own ? 0.0 : nd; });
  }
}

// Whether a grid of this units digit is written at this step, and whether
// under a dated name: 1 and 8 every step, 2 every step dated, 3 at the run's
// end, 4 at day ends, 5 to 7 dated at day, month and year ends.
bool due_by_units(int units, const step_ends& ends, bool& dated) {
  dated = false;
  switch (units) {
    case 1:
    case 8:
      return true;
    case 2:
      return dated = true;
    case 3:
      return ends.run;
    case 4:
      return ends.day;
    case 5:
      return dated = ends.day;
    case 6:
      return dated = ends.month;
    case 7:
      return dated = ends.year;
    default:
      return false;
  }
}

// The grid itself by its units digit; the last step leaves a dated or
// ".filled" result under the plain name as well.
void write_by_units(grid_entry& e, const grid_writer& writer, const output_date& date,
                    const step_ends& ends) {
  bool dated = false;
  if (!due_by_units(e.units, ends, dated)) return;
  const std::string first_name = e.first_file_name.value_or(std::string());
  std::vector<std::string> names;
  if (dated)
    names.push_back(next_dated_output_name(e.output, first_name, date));
  else if (e.units == 8)
    names.push_back(filled_output_name(first_name));
  else
    names.push_back(first_name);
  if (ends.run && (dated || e.units == 8)) names.push_back(first_name);
  writer.write(names, *e.grid, false);
}

// Sums or means of the period that ends at this step; the next period
// starts from 0.
void write_period_sums(grid_entry& e, const own_cells& cells, const grid_writer& writer,
                       const output_date& date, const step_ends& ends) {
  if (!period_ends(e.tens, ends.day, ends.month, ends.year, ends.run)) return;
  grid_matrix& sum = e.sum_grid;
  if (e.tens >= 5) {
    const double steps = e.step_counter;
    cells.for_span_cells(sum, [&](int r, int c, bool own) {
      if (own) sum[r][c] /= steps;
    });
  }
  writer.write({period_output_name(e.sum_file_name, e.tens, date)}, sum, true);
  e.step_counter = 0;
  cells.for_span_cells(sum, [&](int r, int c, bool own) {
    if (own) sum[r][c] = 0.0;
  });
}

}  // namespace

void install_output_by_write_code(grid_store& store) {
  store.write_at_registration = [](modelobject& owner, int index) {
    owner.output_grid(index, 1, 0);
  };
}

void modelobject::set_output_date(int64_t hour, int64_t day, int64_t month, int64_t year) {
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
}

void modelobject::output_grid(int index, int distributed, int suppress_period_output) {
  if (index < 1 || index > LAST_OUTPUT_INDEX || store == nullptr) return;
  grid_entry& e = (*store)[index];
  if (e.units == 0 && e.tens == 0 && e.min_flag == 0 && e.max_flag == 0 && e.thousands == 0) return;
  if (e.grid == nullptr || e.grid->empty()) return;
  if (mpi_regions == nullptr) find_division_grids();
  e.step_counter += 1.0;

  own_cells cells;
  cells.first_row = e.derived_first_row;
  cells.last_row = e.derived_last_row;
  cells.ncols = ncols;
  cells.rank = rank;
  cells.nodata = nodata;
  cells.strips = strips;
  cells.zone = (*store)[1].grid;
  cells.regions = distributed != 0 ? mpi_regions : nullptr;
  const grid_writer writer{*this, distributed != 0 && mpi_regions != nullptr, rank,
                           write_ascii_grids != 0, write_double_grids != 0, process_count > 1};
  const output_date date{cur_hour, cur_day, cur_month, cur_year};
  const step_ends ends{is_day_end(date, hour_shift), is_month_end(date, hour_shift, month_days),
                       is_year_end(date, hour_shift, month_days), is_run_end(date, end_key)};

  copy_stack_level(e, cells);
  accumulate_sums(e, cells);
  accumulate_extremes(e, cells);
  vegetation_period(*this, *store, e, cells, writer, cur_year);
  write_by_units(e, writer, date, ends);
  if (suppress_period_output != 0) return;
  if (ends.run && e.min_flag != 0)
    writer.write({minimum_output_name(e.min_file_name)}, e.min_grid, true);
  if (ends.run && e.max_flag != 0)
    writer.write({maximum_output_name(e.max_file_name)}, e.max_grid, true);
  write_period_sums(e, cells, writer, date, ends);
}

void modelobject::output_stack(int index) {
  if (index < 1 || index > LAST_OUTPUT_INDEX || store == nullptr) return;
  grid_entry& e = (*store)[index];
  if (e.units == 0 && e.tens == 0) return;
  if (e.stack == nullptr || e.stack->empty()) return;
  if (mpi_regions == nullptr) find_division_grids();

  const output_date date{cur_hour, cur_day, cur_month, cur_year};
  step_ends ends;
  ends.day = is_day_end(date, hour_shift);
  ends.run = is_run_end(date, end_key);
  // Stacks know the units digits 1 to 5 only.
  bool dated = false;
  if (e.units > 5 || !due_by_units(e.units, ends, dated)) return;

  const std::string& first_name = e.first_file_name ? *e.first_file_name : std::string();
  std::vector<std::string> names;
  names.push_back(dated ? next_dated_output_name(e.output, first_name, date, STACK_STEM_CHARS)
                        : first_name);
  if (dated && ends.run) names.push_back(first_name);

  stack_matrix& stack = *e.stack;
  if (write_ascii_grids != 0) {
    // Text stacks are written by process 0, gathered band by band whenever
    // the grid is divided (the binary writer, too, writes only the owned
    // cells).
    if (mpi_regions != nullptr) {
      write_gathered_text_stack(names, stack, e.levels, e.grid_name.value_or(std::string()));
      return;
    }
    if (rank != 0) return;
    for (const std::string& file : names)
      write_stack(file, stack, e.levels, true, write_double_grids != 0);
  } else {
    for (const std::string& file : names)
      write_stack(file, stack, e.levels, false, write_double_grids != 0);
  }
}
