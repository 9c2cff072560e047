// The shared grid store: write-code digits, registration and its derived
// grids, the look-ups and their error entries, release of an entry, and the
// statistics accumulator of the grid writers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "support/test_support.h"

namespace {

const std::string NEXT = "\n(mpi-rank  0) ";

struct store_fixture {
  explicit store_fixture(int cols = 4, int rows = 3) : object(*cap.diag, store, cols, rows) {}
  // Registers a grid named name at index with a fresh file name.
  void add(int index, const std::string& name, grid_matrix* grid, stack_matrix* stack = nullptr) {
    object.register_grid(index, name + ".asc", grid, stack, stack != nullptr ? 2 : 0, name, 0, 1,
                         3);
  }
  captured_diag cap;
  grid_store store;
  grid_object object;
};

struct digits_row {
  unsigned code;
  write_code_digits expected;  // units, tens, minimum flag, maximum flag, thousands
};

TEST(GridStore, WriteCodeDigits) {
  // Digits read off the decimal code by hand; hundreds 1/2/3 give min/max/both.
  const digits_row rows[] = {
      {2113, {3, 1, 1, 0, 2}}, {12345, {5, 4, 1, 1, 2}}, {8, {8, 0, 0, 0, 0}},
      {210, {0, 1, 0, 1, 0}},  {300, {0, 0, 1, 1, 0}},   {400, {0, 0, 0, 0, 0}},
      {999, {9, 9, 0, 0, 0}},  {56, {6, 5, 0, 0, 0}},    {1000, {0, 0, 0, 0, 1}},
  };
  for (const auto& row : rows) {
    const write_code_digits d = split_write_code(row.code);
    EXPECT_EQ(d.units, row.expected.units) << row.code;
    EXPECT_EQ(d.tens, row.expected.tens) << row.code;
    EXPECT_EQ(d.min_flag, row.expected.min_flag) << row.code;
    EXPECT_EQ(d.max_flag, row.expected.max_flag) << row.code;
    EXPECT_EQ(d.thousands, row.expected.thousands) << row.code;
  }
  for (unsigned hundreds : {0u, 4u, 5u, 6u, 7u, 8u, 9u}) {
    const write_code_digits d = split_write_code(hundreds * 100 + 11);
    EXPECT_EQ(d.min_flag + d.max_flag, 0) << hundreds;
  }
}

TEST(GridStore, RegistrationKeepsDigitsRowsAndDerivedGrids) {
  store_fixture f(4, 6);
  grid_matrix g = f.object.matrix(2, 5, 1, 4, 6);
  // 2113: sums (tens 1), minima (hundreds 1), vegetation period (thousands 2).
  f.object.register_grid(7, "out/temp.asc", &g, nullptr, 0, "temp", 2113, 2, 5);
  const grid_entry& e = f.store[7];
  EXPECT_EQ(e.grid, &g);
  EXPECT_EQ(*e.file_name, "out/temp.asc");
  EXPECT_EQ(*e.grid_name, "temp");
  EXPECT_EQ(e.units, 3);
  EXPECT_EQ(e.tens, 1);
  EXPECT_EQ(e.min_flag, 1);
  EXPECT_EQ(e.max_flag, 0);
  EXPECT_EQ(e.thousands, 2);
  EXPECT_EQ(e.derived_first_row, 2);
  EXPECT_EQ(e.derived_last_row, 5);
  for (const grid_matrix* m : {&e.sum_grid, &e.min_grid, &e.vegetation_grid}) {
    ASSERT_FALSE(m->empty());
    EXPECT_EQ(m->first_row(), 2);
    EXPECT_EQ(m->last_row(), 5);
    EXPECT_EQ(m->last_col(), 4);
    EXPECT_EQ(m->pointer_count(), 7);  // rows 0..nrows
  }
  EXPECT_TRUE(e.max_grid.empty());
  EXPECT_EQ(e.sum_file_name, "out/temp.asc");
  EXPECT_EQ(e.min_file_name, "out/temp.asc");
  EXPECT_EQ(e.vegetation_file_name, "out/temp.asc");
  EXPECT_TRUE(e.max_file_name.empty());
  EXPECT_EQ(*e.first_file_name, "out/temp.asc");
  EXPECT_EQ(e.owns_first_file_name, 1);

  // Registered again under another file name: the first file name stays.
  f.object.register_grid(7, "out/temp2.asc", &g, nullptr, 0, "temp", 0, 2, 5);
  EXPECT_EQ(*f.store[7].file_name, "out/temp2.asc");
  EXPECT_EQ(*f.store[7].first_file_name, "out/temp.asc");
}

TEST(GridStore, IndexOutsideTheStoreIsRefused) {
  // Index 999 is the last usable one.
  {
    store_fixture f;
    grid_matrix g = f.object.matrix(1, 3, 1, 4, 0);
    f.object.register_grid(999, "a.asc", &g, nullptr, 0, "a", 0, 1, 3);
    EXPECT_EQ(f.store[999].grid, &g);
  }
  {
    store_fixture f;
    EXPECT_EQ(
        thrown_code([&] { f.object.register_grid(1000, "a", nullptr, nullptr, 0, "a", 0, 1, 3); }),
        12);
    EXPECT_EQ(f.cap.console(), "no free grid in memory,(max. 1000)!" + NEXT);
    EXPECT_TRUE(f.store.is_free(1000));
  }
  for (int index : {0, -1, 1001, 5000}) {
    store_fixture f;
    EXPECT_EQ(
        thrown_code([&] { f.object.register_grid(index, "a", nullptr, nullptr, 0, "a", 0, 1, 3); }),
        12)
        << index;
    EXPECT_NE(f.cap.console().find("outside the grid store"), std::string::npos) << index;
    EXPECT_EQ(f.store.first_free(), 1);
  }
}

TEST(GridStore, FindGridEndsAtFirstFreeOrGridlessEntry) {
  store_fixture f;
  grid_matrix g1 = f.object.matrix(1, 3, 1, 4, 0), g2 = f.object.matrix(1, 3, 1, 4, 0),
              g4 = f.object.matrix(1, 3, 1, 4, 0), g5 = f.object.matrix(1, 3, 1, 4, 0);
  stack_matrix s3 = f.object.matrix_3d(1, 3, 1, 4, 2, 0);
  f.add(1, "zones", &g1);
  f.add(2, "b", &g2);
  f.add(3, "c", &g4);
  f.add(4, "d", &g4);
  f.add(5, "e", &g5);
  EXPECT_EQ(f.object.find_grid("zones"), 1);
  EXPECT_EQ(f.object.find_grid("e"), 5);
  EXPECT_EQ(f.object.find_grid("E"), 0);  // case counts
  EXPECT_EQ(f.object.find_grid("nothing"), 0);
  EXPECT_EQ(f.object.find_grid("nothing", 1), 0);
  // Entry 3 holds only a stack: without the flag the search stops there.
  f.add(3, "c", nullptr, &s3);
  EXPECT_EQ(f.object.find_grid("e"), 0);
  EXPECT_EQ(f.object.find_grid("e", 1), 5);
  EXPECT_EQ(f.object.find_grid("b"), 2);
  // require_grid goes on to the first entry without a grid name.
  EXPECT_EQ(f.object.require_grid("e"), 5);
  EXPECT_EQ(f.object.require_grid("c"), 3);
}

TEST(GridStore, RequireLooksUpNamesInTheGivenOrder) {
  store_fixture f;
  grid_matrix g = f.object.matrix(1, 3, 1, 4, 0);
  f.add(1, "c", &g);
  f.add(2, "b", &g);
  f.add(3, "d", &g);
  EXPECT_EQ(f.object.require_one_of_3_grids("a", "b", "c"), 2);
  EXPECT_EQ(f.object.require_one_of_3_grids("c", "b", "a"), 1);
  EXPECT_EQ(f.object.require_one_of_4_grids("x", "y", "d", "c"), 3);
}

TEST(GridStore, MissingGridsGiveTheirEntriesAndCode33) {
  const std::string dashes(71, '-');
  struct row {
    std::function<void(grid_object&)> call;
    std::string entry;
  };
  const std::vector<row> rows = {
      {[](grid_object& o) { o.require_grid("temp"); },
       "\n---------------- !!! ERROR !!!  --------------------------\ntemp not found in "
       "memory,\nThese data are needed within grid_object \nif they are interpolated data, "
       "please specify an interpolator for\ntemp in the control file or read it in as a "
       "standardfile,\n-----------------------------------------------------------\n"},
      {[](grid_object& o) { o.require_one_of_3_grids("a", "b", "c"); },
       "\n---------------- !!! ERROR !!!  ------------------------------------\nWether a, b or "
       "c \nwhere found in memory,\nOne of these data sets has to be present within grid_object "
       "\nIf the data are to be interpolated, please specify an interpolatior for\na, b or c in "
       "the control file,\nor read it as a standard grid \n" +
           dashes + "\n"},
      {[](grid_object& o) { o.require_one_of_4_grids("a", "b", "c", "d"); },
       "\n---------------- !!! ERROR !!!  ------------------------------------\nWether a, b, c or "
       "d \nwhere found in memory,\nOne of these data sets has to be present within grid_object "
       "\nIf the data are to be interpolated, please specify an interpolatior for\na, b, c or d "
       "in the control file,\nor read it as a standard grid \n" +
           dashes + "\n"},
  };
  for (const auto& r : rows) {
    store_fixture f;
    grid_matrix g = f.object.matrix(1, 3, 1, 4, 0);
    f.add(1, "zones", &g);
    EXPECT_EQ(thrown_code([&] { r.call(f.object); }), 33);
    EXPECT_EQ(f.cap.console(), r.entry + NEXT);
  }
}

TEST(GridStore, WriteCodeEightWritesAtRegistration) {
  store_fixture f;
  grid_matrix g = f.object.matrix(1, 3, 1, 4, 0);
  std::vector<int> written;
  f.store.write_at_registration = [&](modelobject& owner, int index) {
    EXPECT_EQ(&owner, &f.object);
    written.push_back(index);
  };
  f.object.register_grid(1, "a.asc", &g, nullptr, 0, "a", 17, 1, 3);
  f.object.register_grid(2, "b.asc", &g, nullptr, 0, "b", 28, 1, 3);
  f.object.register_grid(3, "c.asc", &g, nullptr, 0, "c", 8, 1, 3);
  EXPECT_EQ(written, (std::vector<int>{2, 3}));
  // Without a writer the grid is registered all the same.
  f.store.write_at_registration = nullptr;
  f.object.register_grid(4, "d.asc", &g, nullptr, 0, "d", 8, 1, 3);
  EXPECT_EQ(f.object.find_grid("d"), 4);
}

TEST(GridStore, FreeingAnEntryLeavesTheOwnersData) {
  store_fixture f;
  grid_matrix g = f.object.matrix(1, 3, 1, 4, 0);
  stack_matrix s = f.object.matrix_3d(1, 3, 1, 4, 2, 0);
  g[2][3] = 7.5;
  s[2][3][1] = 4.5;
  f.object.register_grid(1, "first.asc", &g, &s, 2, "a", 3310, 1, 3);
  f.object.free_grid_entry(1001);
  f.object.free_grid_entry(-3);
  EXPECT_EQ(f.object.find_grid("a"), 1);

  f.object.free_grid_entry(1);
  const grid_entry& e = f.store[1];
  EXPECT_TRUE(f.store.is_free(1));
  EXPECT_FALSE(e.grid_name.has_value());
  EXPECT_EQ(e.grid, nullptr);
  EXPECT_EQ(e.stack, nullptr);
  EXPECT_TRUE(e.sum_grid.empty());
  EXPECT_TRUE(e.min_grid.empty());
  EXPECT_TRUE(e.max_grid.empty());
  EXPECT_TRUE(e.vegetation_grid.empty());
  EXPECT_FALSE(e.first_file_name.has_value());
  EXPECT_EQ(g[2][3], 7.5);
  EXPECT_EQ(s[2][3][1], 4.5);
  EXPECT_EQ(f.object.find_grid("a"), 0);
  // A later registration starts a new first file name.
  f.object.register_grid(1, "second.asc", &g, nullptr, 0, "a", 0, 1, 3);
  EXPECT_EQ(*f.store[1].first_file_name, "second.asc");
}

TEST(GridStore, EmptyFileNameCountsAsRegistered) {
  store_fixture f;
  grid_matrix g = f.object.matrix(1, 3, 1, 4, 0);
  EXPECT_EQ(f.store.first_free(), 1);
  f.object.register_grid(1, "", &g, nullptr, 0, "MPIRegions", 0, 1, 3);
  EXPECT_FALSE(f.store.is_free(1));
  EXPECT_EQ(f.store.first_free(), 2);
  f.object.register_grid(2, "", &g, nullptr, 0, "MPIHelper", 0, 1, 3);
  EXPECT_EQ(f.object.find_grid("MPIHelper"), 2);
  EXPECT_EQ(f.store.first_free(), 3);
}

struct statistics_row {
  const char* what;
  double threshold;
  std::vector<std::pair<double, double>> values;  // value, weight
  double count, minimum, maximum, sum, mean, stddev;
};

TEST(GridStore, StatisticsAccumulator) {
  const statistics_row rows[] = {
      // 1, 2, 3: mean 2, sample variance ((1+0+1)/2) = 1.
      {"three values", -9999, {{1, 1}, {2, 1}, {3, 1}}, 3, 1, 3, 6, 2, 1},
      // Two values: too few for a deviation.
      {"two values", -9999, {{1, 1}, {3, 1}}, 2, 1, 3, 4, 2, -9999},
      {"no value", -9999, {}, 0, 0, 0, 0, -9999, -9999},
      // Only values above threshold + 1 = 1 count: 1 and 0 do not.
      {"threshold", 0, {{0, 1}, {1, 1}, {2, 1}, {4, 1}, {6, 1}}, 3, 2, 6, 12, 4, 2},
      // Weighted: count 0.5 + 0.5 + 1 = 2, sum 2.5 + 3.5 + 6 = 12; the first
      // value sets both bounds although its count is 0.5.
      {"weights", -9999, {{5, 0.5}, {7, 0.5}, {6, 1}}, 2, 5, 7, 12, 6, -9999},
      // Values falling: every new low becomes the minimum.
      {"falling", -9999, {{9, 1}, {4, 1}, {2, 1}, {5, 1}}, 4, 2, 9, 20, 5, std::sqrt(26.0 / 3.0)},
  };
  for (const auto& r : rows) {
    store_fixture f;
    f.object.add_to_statistics(100, 1);  // reset clears what came before
    f.object.reset_statistics(r.threshold);
    for (const auto& [value, weight] : r.values) f.object.add_to_statistics(value, weight);
    double count, minimum, maximum, sum, mean, stddev;
    f.object.get_statistics(count, minimum, maximum, sum, mean, stddev);
    EXPECT_DOUBLE_EQ(count, r.count) << r.what;
    EXPECT_DOUBLE_EQ(minimum, r.minimum) << r.what;
    EXPECT_DOUBLE_EQ(maximum, r.maximum) << r.what;
    EXPECT_DOUBLE_EQ(sum, r.sum) << r.what;
    EXPECT_DOUBLE_EQ(mean, r.mean) << r.what;
    EXPECT_DOUBLE_EQ(stddev, r.stddev) << r.what;

    // The same values as two rows, the second continuing the sums of the
    // first, give exactly the same numbers.
    std::vector<double> cells{0.0};
    std::vector<double> weights{0.0};
    for (const auto& [value, weight] : r.values) {
      cells.push_back(value);
      weights.push_back(weight);
    }
    const int n = static_cast<int>(r.values.size());
    f.object.reset_statistics(r.threshold);
    f.object.add_row_to_statistics(cells.data(), weights.data(), 1, n / 2);
    f.object.add_row_to_statistics(cells.data(), weights.data(), n / 2 + 1, n);
    double by_rows[6];
    f.object.get_statistics(by_rows[0], by_rows[1], by_rows[2], by_rows[3], by_rows[4],
                            by_rows[5]);
    const double by_cells[6] = {count, minimum, maximum, sum, mean, stddev};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(by_rows[k], by_cells[k]) << r.what << " " << k;
  }
  // Without weights every cell counts once.
  store_fixture f;
  const double cells[] = {0, 4, 8, 6};
  f.object.reset_statistics(-9999);
  f.object.add_row_to_statistics(cells, nullptr, 1, 3);
  double count, minimum, maximum, sum, mean, stddev;
  f.object.get_statistics(count, minimum, maximum, sum, mean, stddev);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(minimum, 4);
  EXPECT_EQ(maximum, 8);
  EXPECT_EQ(sum, 18);
}

}  // namespace
