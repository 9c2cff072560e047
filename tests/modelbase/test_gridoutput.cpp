// Output by write code on one process: the file names, the calendar tests
// of a step, and which files every write code leaves after each step of a
// short series that crosses a day, a month and a year end, with the values
// of the sums, means, minima and maxima worked out by hand.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "support/test_support.h"

namespace {

int thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return INT_MIN;
}

// ---- names and calendar ----

TEST(GridOutputNames, StemsDirectoriesAndSuffixes) {
  // Each expected name follows from the printf pattern applied by hand.
  const output_date july{12, 4, 7, 2016};
  struct row {
    std::string got;
    std::string expected;
  };
  write_output_state state;
  const std::string first = next_dated_output_name(state, "etr.grd", july);
  const std::string second = next_dated_output_name(state, "etr.grd", july);
  const std::string third = next_dated_output_name(state, "etr.grd", july);
  const std::string other_hour =
      next_dated_output_name(state, "etr.grd", output_date{13, 4, 7, 2016});
  const row rows[] = {
      {first, "etr_20160704.012"},
      {second, "etr_20160704.012_001"},
      {third, "etr_20160704.012_002"},
      {other_hour, "etr_20160704.013"},
      // The stem ends at the first "." of the base name; the directory stays.
      {dated_output_name("out.d/etr.x.grd", july, 0), "out.d/etr_20160704.012"},
      {dated_output_name("/abs/etr", july, 0), "/abs/etr_20160704.012"},
      {dated_output_name(".hidden", july, 0), "_20160704.012"},
      {dated_output_name("snowstack.stk", july, 0, 4), "snow_20160704.012"},
      {dated_output_name("sn.stk", july, 0, 4), "sn_20160704.012"},
      {filled_output_name("in/soil.asc"), "in/soil.asc.filled"},
      {period_output_name("etr.grd", 1, july), "etr.sum"},
      {period_output_name("etr.grd", 5, july), "etr.mit"},
      {period_output_name("etr.grd", 2, july), "etr_1600.sum"},
      {period_output_name("etr.grd", 6, july), "etr_1600.mit"},
      {period_output_name("o/etr.grd", 3, july), "o/etr_1607.sum"},
      {period_output_name("etr.grd", 7, july), "etr_1607.mit"},
      {period_output_name("etr.grd", 4, july), "etr_1607.04s"},
      {period_output_name("etr.grd", 8, july), "etr_1607.04m"},
      {period_output_name("etr.grd", 9, july), ""},
      {minimum_output_name("o/etr.grd"), "o/etr.min"},
      {maximum_output_name("etr"), "etr.max"},
      {vegetation_output_name("etr.grd", 1, 2016), "etr_0016_vegper.sum"},
      {vegetation_output_name("etr.grd", 2, 2016), "etr_0016_vegper.mit"},
      {vegetation_layer_name("o/etr_Layer_2.grd"), "2"},
      {vegetation_layer_name("etr_Layer_12"), "12"},
      {vegetation_layer_name("etr.grd"), "1"},
      // Derived grids of the set-up end their stem at the last "." anywhere.
      {derived_grid_file_name("zone", ".$cx"), "zone.$cx"},
      {derived_grid_file_name("grids.old/zone", ".$cx"), "grids.$cx"},
      {derived_grid_file_name("./zones.asc", ".$rca"), "./zones.$rca"},
  };
  for (const row& r : rows) EXPECT_EQ(r.got, r.expected);
}

TEST(GridOutputCalendar, DayMonthYearAndRunEnds) {
  const int days[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  struct row {
    output_date date;
    double shift;  // [h]
    bool day, month, year;
  };
  const row rows[] = {
      {{23, 4, 7, 2016}, 1.0, true, false, false},
      {{23, 4, 7, 2016}, 0.5, false, false, false},  // 23.5 truncates to 23
      {{24, 4, 7, 2016}, 0.5, true, false, false},   // 24.5 truncates to 24
      {{23, 31, 7, 2016}, 1.0, true, true, false},
      {{23, 29, 2, 2016}, 1.0, true, true, false},  // the table's February
      {{23, 30, 12, 2016}, 1.0, true, false, false},
      {{23, 31, 12, 2016}, 1.0, true, true, true},
      {{22, 31, 12, 2016}, 1.0, false, false, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.date.hour + 100 * (r.date.day + 100 * r.date.month));
    EXPECT_EQ(is_day_end(r.date, r.shift), r.day);
    EXPECT_EQ(is_month_end(r.date, r.shift, days), r.month);
    EXPECT_EQ(is_year_end(r.date, r.shift, days), r.year);
  }
  const int64_t end = time_key(2017, 1, 1, 0);
  EXPECT_FALSE(is_run_end({23, 31, 12, 2016}, end));
  EXPECT_TRUE(is_run_end({0, 1, 1, 2017}, end));
  EXPECT_TRUE(is_run_end({5, 1, 1, 2017}, end));
}

// ---- output by write code on a small grid ----

// Zones (row 1 north); '.' is nodata:   1 1 1 1 / 1 . 2 2 / . 2 2 2
const double ZONE[3][4] = {{1, 1, 1, 1}, {1, NODATA, 2, 2}, {NODATA, 2, 2, 2}};

class output_object : public modelobject {
 public:
  output_object(DiagStream& stream, grid_store& shared, const std::string* out_dir)
      : modelobject(&stream, "") {
    name = "output_object";
    write_ascii_grids = 1;
    output_directory = out_dir;
    ncols = 4;
    nrows = 3;
    first_row = 1;
    last_row = 3;
    cellsize = 100;
    xllcorner = 0;
    yllcorner = 0;
    hour_shift = 1.0;  // data hours mark the start of an hourly step
    set_grid_store(&shared);
  }
  void set_end(int64_t year, int64_t month, int64_t day, int64_t hour) {
    end_key = time_key(year, month, day, hour);
  }
  void set_cells(const grid_matrix* regions, std::vector<row_strip>* spans) {
    mpi_regions = regions;
    strips = spans;
  }
  void set_directories(const std::string* in, const std::string* out) {
    input_directory = in;
    output_directory = out;
  }
};

// A store with the zone grid as entry 1 and the grid "etr" as entry 2.
struct output_fixture {
  explicit output_fixture(unsigned code, const std::string& file_name = "etr.grd")
      : out_dir(cap.dir.path() + "/out/"), object(*cap.diag, store, &out_dir) {
    std::filesystem::create_directory(out_dir);
    zone = object.matrix(1, 3, 1, 4, 3);
    regions = object.matrix(1, 3, 1, 4, 3);
    grid = object.matrix(1, 3, 1, 4, 3);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        zone[r][c] = ZONE[r - 1][c - 1];
        regions[r][c] = zone[r][c] == NODATA ? NODATA : 0;
        grid[r][c] = 77;  // never written outside the zone cells
      }
    spans = {{}, {1, 4}, {1, 4}, {2, 4}};
    object.register_grid(1, "zones.asc", &zone, nullptr, 0, "zonegrid", 0, 1, 3);
    object.register_grid(2, "", &regions, nullptr, 0, "MPIRegions", 0, 1, 3);
    object.set_cells(&regions, &spans);
    object.register_grid(3, file_name, &grid, nullptr, 0, "etr", code, 1, 3);
    object.set_end(2017, 1, 1, 0);
  }
  // Cell (r, c) of a zone gets value * c.
  void fill(double value) {
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c)
        if (zone[r][c] != NODATA) grid[r][c] = value * c;
  }
  // The files in the output folder with their cell values; the folder is
  // emptied.
  std::map<std::string, std::vector<double>> take_files() {
    std::map<std::string, std::vector<double>> files;
    for (const auto& f : std::filesystem::directory_iterator(out_dir)) {
      std::istringstream in(read_file(f.path().string()));
      std::string word;
      double value = 0;
      for (int k = 0; k < 6; ++k) in >> word >> value;  // the six header lines
      std::vector<double>& cells = files[f.path().filename().string()];
      while (in >> value) cells.push_back(value);
      std::filesystem::remove(f.path());
    }
    return files;
  }

  captured_diag cap;
  std::string out_dir;
  grid_store store;
  output_object object;
  grid_matrix zone;
  grid_matrix regions;
  grid_matrix grid;
  std::vector<row_strip> spans;
};

// The body of a written grid whose zone cells hold factor * column.
std::vector<double> expected_cells(double factor) {
  std::vector<double> cells;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) cells.push_back(ZONE[r][c] == NODATA ? NODATA : factor * (c + 1));
  return cells;
}

// The series: hour shift 1 h, values 1, 2, 3, 4 (times the column), end
// 1 January 2017, 0 h.
//   step 1: 30 Nov 2016 23 h  end of a day and of a month
//   step 2:  1 Dec 2016  0 h
//   step 3: 31 Dec 2016 23 h  end of a day, a month and a year
//   step 4:  1 Jan 2017  0 h  end of the run
const output_date SERIES[4] = {
    {23, 30, 11, 2016}, {0, 1, 12, 2016}, {23, 31, 12, 2016}, {0, 1, 1, 2017}};

using step_files = std::map<std::string, double>;  // file -> factor of its values

struct write_code_row {
  unsigned code;
  step_files steps[4];
};

TEST(GridOutputByWriteCode, FilesOfEveryWriteCodeOverASeries) {
  const write_code_row rows[] = {
      {1, {{{"etr.grd", 1}}, {{"etr.grd", 2}}, {{"etr.grd", 3}}, {{"etr.grd", 4}}}},
      {2,
       {{{"etr_20161130.023", 1}},
        {{"etr_20161201.000", 2}},
        {{"etr_20161231.023", 3}},
        {{"etr_20170101.000", 4}, {"etr.grd", 4}}}},
      {3, {{}, {}, {}, {{"etr.grd", 4}}}},
      {4, {{{"etr.grd", 1}}, {}, {{"etr.grd", 3}}, {}}},
      {5, {{{"etr_20161130.023", 1}}, {}, {{"etr_20161231.023", 3}}, {}}},
      {6, {{{"etr_20161130.023", 1}}, {}, {{"etr_20161231.023", 3}}, {}}},
      {7, {{}, {}, {{"etr_20161231.023", 3}}, {}}},
      {8,
       {{{"etr.grd.filled", 1}},
        {{"etr.grd.filled", 2}},
        {{"etr.grd.filled", 3}},
        {{"etr.grd.filled", 4}, {"etr.grd", 4}}}},
      {9, {{}, {}, {}, {}}},
      // Sums and means: run 1+2+3+4 = 10 over 4 steps; the year 2016 holds
      // steps 1-3 (6 over 3); November step 1; December steps 2-3 (5 over
      // 2); the day of 30 Nov step 1, of 31 Dec steps 2-3 (counted since
      // the last day end).
      {10, {{}, {}, {}, {{"etr.sum", 10}}}},
      {50, {{}, {}, {}, {{"etr.mit", 2.5}}}},
      {20, {{}, {}, {{"etr_1600.sum", 6}}, {}}},
      {60, {{}, {}, {{"etr_1600.mit", 2}}, {}}},
      {30, {{{"etr_1611.sum", 1}}, {}, {{"etr_1612.sum", 5}}, {}}},
      {70, {{{"etr_1611.mit", 1}}, {}, {{"etr_1612.mit", 2.5}}, {}}},
      {40, {{{"etr_1611.30s", 1}}, {}, {{"etr_1612.31s", 5}}, {}}},
      {80, {{{"etr_1611.30m", 1}}, {}, {{"etr_1612.31m", 2.5}}, {}}},
      {90, {{}, {}, {}, {}}},
      {300, {{}, {}, {}, {{"etr.min", 1}, {"etr.max", 4}}}},
      {100, {{}, {}, {}, {{"etr.min", 1}}}},
      {200, {{}, {}, {}, {{"etr.max", 4}}}},
      // Digits together: the grid every step and the year's sums.
      {21,
       {{{"etr.grd", 1}},
        {{"etr.grd", 2}},
        {{"etr.grd", 3}, {"etr_1600.sum", 6}},
        {{"etr.grd", 4}}}},
  };
  for (const write_code_row& row : rows) {
    SCOPED_TRACE(row.code);
    output_fixture f(row.code);
    for (int step = 0; step < 4; ++step) {
      SCOPED_TRACE(step + 1);
      const output_date& d = SERIES[step];
      f.object.set_output_date(d.hour, d.day, d.month, d.year);
      f.fill(step + 1.0);
      f.object.output_grid(3, 1, 0);
      const auto files = f.take_files();
      std::set<std::string> names;
      for (const auto& [name, cells] : files) names.insert(name);
      std::set<std::string> expected_names;
      for (const auto& [name, factor] : row.steps[step]) expected_names.insert(name);
      EXPECT_EQ(names, expected_names);
      for (const auto& [name, factor] : row.steps[step]) {
        if (files.count(name) == 0) continue;
        const std::vector<double>& got = files.at(name);
        const std::vector<double> want = expected_cells(factor);
        ASSERT_EQ(got.size(), want.size()) << name;
        for (size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], 1e-9) << name << k;
      }
    }
  }
}

TEST(GridOutputByWriteCode, SuppressedCallsAccumulateButDoNotWrite) {
  // 310: sums over the run, minimum and maximum. The last step is called
  // first with suppress, then again without: the second call adds its value
  // once more (1+2+3+4+4 = 14 over 5 calls) and writes.
  output_fixture f(310);
  for (int step = 0; step < 4; ++step) {
    const output_date& d = SERIES[step];
    f.object.set_output_date(d.hour, d.day, d.month, d.year);
    f.fill(step + 1.0);
    f.object.output_grid(3, 1, step == 3 ? 1 : 0);
  }
  EXPECT_TRUE(f.take_files().empty());
  f.object.output_grid(3, 1, 0);
  const auto files = f.take_files();
  ASSERT_EQ(files.size(), 3U);
  EXPECT_EQ(files.at("etr.sum"), expected_cells(14));
  EXPECT_EQ(files.at("etr.min"), expected_cells(1));
  EXPECT_EQ(files.at("etr.max"), expected_cells(4));
}

TEST(GridOutputByWriteCode, StacksAndTheirLevelCopy) {
  // A stack entry with sums: the grid takes level 1 of the stack before it
  // is summed, unless the owner fills the grid itself.
  for (int no_copy : {0, 1}) {
    SCOPED_TRACE(no_copy);
    output_fixture f(0);
    stack_matrix stack = f.object.matrix_3d(1, 3, 1, 4, 2, 3);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c)
        for (int l = 0; l <= 2; ++l) stack[r][c][l] = 10.0 * l + c;
    f.object.register_grid(4, "snowstack.stk", &f.grid, &stack, 2, "snow", 10, 1, 3);
    f.store[4].output.no_level_copy = no_copy;
    f.fill(1.0);
    f.object.set_output_date(SERIES[1].hour, SERIES[1].day, SERIES[1].month, SERIES[1].year);
    f.object.output_grid(4, 1, 0);
    // Level 1 of cell (1, 2) holds 10 + 2; the filled grid holds 1 * 2.
    const double expected = no_copy == 0 ? 12.0 : 2.0;
    EXPECT_EQ(f.grid[1][2], expected);
    EXPECT_EQ(f.store[4].sum_grid[1][2], expected);
    EXPECT_EQ(f.grid[2][2], 77.0);  // not a zone cell: untouched
  }
}

TEST(GridOutputByWriteCode, StacksAreWrittenByTheirUnitsDigitOnly) {
  // Day ends are steps 1 and 3, the run ends at step 4; digits 6 to 9 and
  // sums never write a stack.
  const std::pair<unsigned, std::vector<std::set<std::string>>> rows[] = {
      {1, {{"s.stk"}, {"s.stk"}, {"s.stk"}, {"s.stk"}}},
      {2,
       {{"s_20161130.023"}, {"s_20161201.000"}, {"s_20161231.023"}, {"s_20170101.000", "s.stk"}}},
      {3, {{}, {}, {}, {"s.stk"}}},
      {4, {{"s.stk"}, {}, {"s.stk"}, {}}},
      {5, {{"s_20161130.023"}, {}, {"s_20161231.023"}, {}}},
      {6, {{}, {}, {}, {}}},
      {30, {{}, {}, {}, {}}},
  };
  for (const auto& [code, steps] : rows) {
    SCOPED_TRACE(code);
    output_fixture f(0);
    stack_matrix stack = f.object.matrix_3d(1, 3, 1, 4, 1, 3);
    f.object.register_grid(4, "s.stk", nullptr, &stack, 1, "s", code, 1, 3);
    for (int step = 0; step < 4; ++step) {
      const output_date& d = SERIES[step];
      f.object.set_output_date(d.hour, d.day, d.month, d.year);
      f.object.output_stack(4);
      std::set<std::string> names;
      for (const auto& [name, cells] : f.take_files()) names.insert(name);
      EXPECT_EQ(names, steps[static_cast<size_t>(step)]) << step;
    }
  }
}

TEST(GridOutputByWriteCode, VegetationPeriodTotalsAndMeans) {
  for (unsigned code : {1000u, 2000u}) {
    SCOPED_TRACE(code);
    output_fixture f(code, "out/etr_Layer_2.grd");
    std::filesystem::create_directory(f.out_dir + "out");
    // Inside the period where start >= 0 and stop <= 0: columns 1-3; column
    // 4 has stopped. Durations 2 steps.
    grid_matrix start = f.object.matrix(1, 3, 1, 4, 3);
    grid_matrix stop = f.object.matrix(1, 3, 1, 4, 3);
    grid_matrix duration = f.object.matrix(1, 3, 1, 4, 3);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        start[r][c] = 0;
        stop[r][c] = c == 4 ? 5 : -1;
        duration[r][c] = 2;
      }
    f.object.register_grid(4, "a", &start, nullptr, 0, "VegetationStart2", 0, 1, 3);
    f.object.register_grid(5, "b", &stop, nullptr, 0, "VegetationStop2", 0, 1, 3);
    f.object.register_grid(6, "c", &duration, nullptr, 0, "VegetationDuration2", 0, 1, 3);
    vegetation_period_state& veg = f.store[3].vegetation;
    f.object.set_output_date(0, 1, 7, 2016);
    f.fill(1.0);
    f.object.output_grid(3, 1, 0);
    f.fill(3.0);
    veg.flags[vegetation_period_state::output_due] = 1;
    veg.flags[vegetation_period_state::reset_due] = 1;
    f.object.output_grid(3, 1, 0);
    EXPECT_EQ(veg.flags[0] + veg.flags[1], 0);
    const std::string name =
        code == 1000 ? "out/etr_Layer_2_0016_vegper.sum" : "out/etr_Layer_2_0016_vegper.mit";
    const std::string text = read_file(f.out_dir + name);
    // Columns 1-3: (1 + 3) * column, halved for means; column 4 never adds.
    std::istringstream in(text);
    std::string word;
    double value = 0;
    for (int k = 0; k < 6; ++k) in >> word >> value;
    std::vector<double> cells;
    while (in >> value) cells.push_back(value);
    const double scale = code == 1000 ? 4.0 : 2.0;
    ASSERT_EQ(cells.size(), 12U) << text;
    EXPECT_EQ(cells[0], scale * 1);
    EXPECT_EQ(cells[2], scale * 3);
    EXPECT_EQ(cells[3], 0);
    EXPECT_EQ(cells[5], NODATA);
    // The reset leaves 0 in zone cells for the next period.
    EXPECT_EQ(f.store[3].vegetation_grid[1][1], 0);
  }
}

TEST(GridOutputByWriteCode, MissingVegetationGridsStopWith33) {
  output_fixture f(1000);
  EXPECT_EQ(thrown([&] { f.object.output_grid(3, 1, 0); }), 33);
  EXPECT_NE(f.cap.console().find("VegetationStart1 not found in memory"), std::string::npos);
}

TEST(GridOutputByWriteCode, UnitsEightIsWrittenWhenRegistered) {
  output_fixture f(0);
  install_output_by_write_code(f.store);
  f.fill(5.0);
  f.object.register_grid(4, "soil.asc", &f.grid, nullptr, 0, "soil", 8, 1, 3);
  const auto files = f.take_files();
  ASSERT_EQ(files.count("soil.asc.filled"), 1U);
  EXPECT_EQ(files.at("soil.asc.filled"), expected_cells(5));
}

TEST(GridOutputByWriteCode, CallsThatDoNothing) {
  output_fixture f(1);
  f.fill(1.0);
  // Indices outside 1..1000, an entry without a grid, a code without digits.
  f.object.output_grid(0, 1, 0);
  f.object.output_grid(1001, 1, 0);
  f.object.register_grid(4, "x.asc", nullptr, nullptr, 0, "x", 311, 1, 3);
  f.object.output_grid(4, 1, 0);
  f.object.output_grid(1, 1, 0);  // the zone grid, write code 0
  EXPECT_TRUE(f.take_files().empty());
  EXPECT_EQ(f.store[4].step_counter, 0);
}

TEST(GridOutputByWriteCode, NotDistributedCountsEveryZoneCell) {
  // distributed 0: cells owned by another process count too. With
  // "MPIRegions" naming process 1 for column 4, the sums of a distributed
  // call leave column 4 at nodata; an undistributed call sums it.
  for (int distributed : {0, 1}) {
    SCOPED_TRACE(distributed);
    output_fixture f(10);
    for (int r = 1; r <= 3; ++r) f.regions[r][4] = 1;
    f.fill(2.0);
    f.object.output_grid(3, distributed, 0);
    EXPECT_EQ(f.store[3].sum_grid[1][4], distributed == 0 ? 8.0 : NODATA);
    EXPECT_EQ(f.store[3].sum_grid[1][3], 6.0);
  }
}

// The values of a text grid file after its six header lines.
std::vector<double> grid_file_values(const std::string& path) {
  std::istringstream in(read_file(path));
  std::string word;
  double value = 0;
  for (int k = 0; k < 6; ++k) in >> word >> value;
  std::vector<double> values;
  while (in >> value) values.push_back(value);
  return values;
}

TEST(GridOutputByWriteCode, AnOutputNeverReplacesAFileTheRunRead) {
  // The grid "soil" (write code 8) is read from in/soil.asc. At the end of
  // the run it is written under its plain name; where that name is the file
  // read, it goes to the output folder under its base name instead; when
  // that is the file read as well, under the base name with ".out"; when
  // that was read too, nowhere.
  struct row {
    const char* what;
    bool absolute_folders;  // else relative to the working directory
    std::string input_folder, output_folder, file_name;
    bool out_name_read;   // in/soil.asc.out is read as well
    std::string written;  // where the plain-name output lands; "" nowhere
    bool warned;
  };
  const row rows[] = {
      {"absolute input name", true, "in/", "out/", "$abs/in/soil.asc", false, "out/soil.asc", true},
      {"relative name reaching the input from the output folder", false, "in/", "out/",
       "../in/soil.asc", false, "out/soil.asc", true},
      {"relative name, separate folders", false, "in/", "out/", "soil.asc", false, "out/soil.asc",
       false},
      {"relative name, one folder for input and output", false, "in/", "in/", "soil.asc", false,
       "in/soil.asc.out", true},
      {"one folder, both names read", false, "in/", "in/", "soil.asc", true, "", true},
  };
  const std::string input_text =
      "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
      "1 2 3 4\n5 -9999 7 8\n-9999 10 11 12\n";
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    output_fixture f(0);
    const std::string abs = f.cap.dir.path() + "/";
    scratch_dir work;
    scratch_workdir cwd(work.path());
    const std::string root = r.absolute_folders ? abs : std::string();
    const std::string base = r.absolute_folders ? abs : work.path() + "/";
    std::filesystem::create_directories(base + "in");
    std::filesystem::create_directories(base + "out");
    const std::string input_path = base + "in/soil.asc";
    dir_write(input_path, input_text);
    const std::string in_dir = root + r.input_folder;
    const std::string out_dir = root + r.output_folder;
    f.object.set_directories(&in_dir, &out_dir);
    std::string file_name = r.file_name;
    if (file_name.rfind("$abs/", 0) == 0) file_name = abs + file_name.substr(5);

    grid_matrix other;
    if (r.out_name_read) {
      dir_write(input_path + ".out", input_text);
      f.object.read_grid("soil.asc.out", other, 0, true, false, 0, false, false, false, false);
    }
    grid_matrix soil;
    f.object.read_grid(file_name, soil, 0, true, false, 0, false, false, false, false);
    f.object.register_grid(4, file_name, &soil, nullptr, 0, "soil", 8, 1, 3);
    const output_date& end = SERIES[3];
    f.object.set_output_date(end.hour, end.day, end.month, end.year);
    f.object.output_grid(4, 1, 0);

    EXPECT_EQ(read_file(input_path), input_text);
    if (r.out_name_read) {
      EXPECT_EQ(read_file(input_path + ".out"), input_text);
    }
    // The ".filled" copy of the step, written beside the name's folder.
    const std::string filled =
        (file_name[0] == '/' ? "" : base + r.output_folder) + file_name + ".filled";
    const std::vector<double> values = grid_file_values(filled);
    ASSERT_EQ(values.size(), 12U) << filled;
    EXPECT_EQ(values[0], 1);
    if (!r.written.empty()) {
      EXPECT_EQ(grid_file_values(base + r.written), values);
    }
    const std::string read_path = (file_name[0] == '/' ? "" : in_dir) + file_name;
    const std::string warning =
        r.written.empty()
            ? read_path + " was read by this run and is not replaced; " + out_dir + file_name +
                  " and " + out_dir + file_name +
                  ".out were read as well, so this output is not "
                  "written"
            : read_path + " was read by this run and is not replaced; the output goes to " + root +
                  r.written;
    EXPECT_EQ(count_of(f.cap.console(), "was read by this run"), r.warned ? 1 : 0)
        << f.cap.console();
    if (r.warned) {
      EXPECT_TRUE(has_entry(f.cap, 2, warning)) << f.cap.console();
    }
  }
}

TEST(GridOutputByWriteCode, OutputFolderThatCannotBeWrittenIs26) {
  output_fixture f(1);
  std::filesystem::remove_all(f.out_dir);
  f.fill(1.0);
  EXPECT_EQ(thrown([&] { f.object.output_grid(3, 1, 0); }), 26);
  EXPECT_NE(f.cap.console().find("error creating " + f.out_dir + "etr.grd: " +
                                 std::strerror(ENOENT) + " for writing in text mode."),
            std::string::npos)
      << f.cap.console();
}

}  // namespace
