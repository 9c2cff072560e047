// The regional superposition on any number of processes: regions 2 and 5 of
// the settings with their transition zone, two inputs (the elevation model
// and the region grid itself); the gathered output equals, cell by cell, the
// weighted sums w1 x f(region 1) + w2 x f(region 2) worked out here from the
// gathered inputs, with f(2) = 0.5 dem + 0.5 code and f(5) = dem.
#include <gtest/gtest.h>
#include <mpi.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "meteo/superposition.h"
#include "settings/derived_setup_fixture.h"

namespace {

constexpr int ROWS = 9;
constexpr int COLS = 8;

std::string grid_text(const std::function<double(int, int)>& value) {
  std::string rows;
  for (int r = 1; r <= ROWS; ++r) {
    for (int c = 1; c <= COLS; ++c) rows += std::to_string(value(r, c)) + " ";
    rows += "\n";
  }
  return text_grid_of(rows, COLS, ROWS);
}

TEST(SuperpositionMpi, OutputIsTheSameOnAnyNumberOfProcesses) {
  control_parts parts;
  parts.standard = "1\n$dir//regions.asc regression_regions fillcode = 0\n";
  parts.transition = "300\n";
  const auto zone = [](int r, int c) { return r == 1 || c == COLS ? -9999.0 : 1.0; };
  settings_setup run(parts,
                     {{"zones.asc", grid_text(zone)},
                      {"dem.asc", grid_text([](int r, int c) { return 500.0 + 10 * r + c; })},
                      {"regions.asc", grid_text([](int r, int c) { return r + c <= 9 ? 2 : 5; })}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const std::string dem = run.store[2].grid_name.value_or("");
  const settings_context& ctx = run.settings->export_settings();
  // The section behind those of the settings, in the copy every object reads.
  if (run.rank == 0)
    std::ofstream(ctx.control_file, std::ios::app) << std::string(
        "[RegionalSuperposition]\n1\n60\nNumberOfEntities = 1;\nmix {\n"
        " entityinputgrid = " +
        dem +
        "; regions = 2 5; weights = 0.5 1;\n"
        " entityinputgrid = regression_regions; regions = 2, 5; weights = 0.5, 0;\n"
        " outputgrid = mix.asc; writecode = 0; outputtable = mix.sta; statcode = 0;\n}\n");
  MPI_Barrier(MPI_COMM_WORLD);
  int code = 0;
  std::unique_ptr<RegionalSuperposition> module;
  try {
    module = std::make_unique<RegionalSuperposition>(run.cap.diag.get(), &run.registry, 200,
                                                     "RegionalSuperposition", &run.store, ctx);
  } catch (int thrown) {
    code = thrown;
  }
  ASSERT_EQ(code, 0) << run.cap.console();
  module->time_step(0, 1, 1, 2001);
  const grid_matrix out = module->gather_grid_copy(module->entity(0).output_store_index());
  auto whole = [&](const std::string& grid_name) {
    return module->gather_grid_copy(module->find_grid(grid_name));
  };
  const grid_matrix z = whole(dem), r1 = whole("regression_regions"),
                    w1 = whole("regression_weights1"), r2 = whole("regression_regions2"),
                    w2 = whole("regression_weights2");
  if (run.rank == 0) {
    int transition_cells = 0;
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) {
        SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
        if (zone(r, c) < 0) {
          EXPECT_EQ(out[r][c], -9999);
          continue;
        }
        auto f = [&](double region) {
          return region == 2 ? 0.5 * z[r][c] + 0.5 * r1[r][c] : z[r][c];
        };
        double expected = w1[r][c] * f(r1[r][c]);
        if (r2[r][c] > 0) {
          expected += w2[r][c] * f(r2[r][c]);
          ++transition_cells;
        }
        EXPECT_NEAR(out[r][c], expected, 1e-9);
      }
    EXPECT_GT(transition_cells, 0);
  }
  module->release();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
