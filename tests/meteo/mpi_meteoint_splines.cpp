// Method 7 over a 3 by 4 station mesh turned by 30 degrees, on any number of
// processes: the gathered result equals, bit for bit, the surface built over
// the whole grid on one process; inside the surface it is the stations' plane
// at each cell's spline-grid node, elsewhere inverse-distance weighting.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <string>
#include <vector>

#include "meteo/meteo_fixture.h"
#include "meteo/meteoint_geometry.h"
#include "meteo/meteoint_splines.h"
#include "meteo/meteoint_weights.h"
#include "settings/derived_setup_fixture.h"

namespace {

constexpr int N = 16;  // rows and columns of 100 m

double plane(double x, double y) { return 5 + 0.004 * x - 0.002 * y; }

std::string uniform_grid(const std::string& value) {
  std::string rows;
  for (int r = 0; r < N; ++r) {
    for (int c = 0; c < N; ++c) rows += value + " ";
    rows += "\n";
  }
  return text_grid_of(rows, N, N);
}

TEST(SplineMpi, TurnedMeshGivesOneSurfaceOnAnyNumberOfProcesses) {
  // Mesh u = 200 + 300 j, v = 200 + 400 i turned by 30 degrees and moved by (500, 0).
  const double a = 30 * DEGREES_TO_RADIANS;
  std::string alt, xs, ys, names, values;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) {
      const double u = 200 + 300.0 * j, v = 200 + 400.0 * i;
      const double x = 500 + u * std::cos(a) - v * std::sin(a);
      const double y = u * std::sin(a) + v * std::cos(a);
      char b[80];
      std::snprintf(b, sizeof b, " %.17g", x);
      xs += b;
      std::snprintf(b, sizeof b, " %.17g", y);
      ys += b;
      std::snprintf(b, sizeof b, " %.17g", plane(x, y));
      values += b;
      alt += " 500";
      names += " s";
    }
  const std::string stations = "stations\nYY MM DD HH" + alt + "\nYY MM DD HH" + xs +
                               "\nYY MM DD HH" + ys + "\nYY MM DD HH" + names + "\n2001 1 1 0" +
                               values + "\n2001 1 1 1" + values + "\n";
  control_parts parts;
  parts.transition =
      "1000\n[temperature]\n7 method\n$dir//st.txt\nregr.txt name of the regression file\n"
      "result.asc name of the result grid in\n0 grid write code\n1 scaling\n"
      "t.sta 0 name of the statistic result file in\n9999 nodata value in\n2 idw-weight\n"
      "0.5 fraction\n1e9 maximum distance\n0 slope\n1 anisotropy b/a\n-100 l\n-90 u\n"
      "100 l\n90 u\n0 SzenUse\n";
  settings_setup run(
      parts,
      {{"zones.asc", uniform_grid("1")}, {"dem.asc", uniform_grid("500")}, {"st.txt", stations}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const settings_context& ctx = run.settings->export_settings();
  int free_index = 1;
  while (run.store[free_index].grid_name) ++free_index;
  int status = -1;
  input_ptr input(new meteointerpol(status, run.cap.diag.get(), &run.registry, 200, "temperature",
                                    &run.store, ctx, free_index));
  ASSERT_EQ(status, 0) << run.cap.console();
  ASSERT_NE(input->splines(), nullptr);
  const spline_mesh& mesh = *input->splines();
  ASSERT_EQ(mesh.station.size(), 4u);     // three mesh rows
  ASSERT_EQ(mesh.station[1].size(), 5u);  // four mesh columns
  input->interpolate(0, 1, 1, 2001);

  const grid_matrix result = input->gather_grid_copy(input->result_store_entry());
  const grid_matrix cx = input->gather_grid_copy(input->rotated_x_entry());
  const grid_matrix cy = input->gather_grid_copy(input->rotated_y_entry());
  if (run.rank == 0) {
    // The same surface over the whole grid on one process.
    memory_handling mh;
    grid_matrix reference = mh.matrix(1, N, 1, N, N);
    const double slope = input->section().anisotropy_slope;
    TSplines whole(mesh.x, mesh.y, &cx, &cy, nullptr,
                   {0, 0, 100, -9999, slope, input->average_y_distance(), 1, N, N}, nullptr);
    mesh_matrix v = mesh.x, y2 = mesh.x;
    const station_file& st = input->station(0);
    for (size_t i = 1; i < mesh.station.size(); ++i)
      for (size_t j = 1; j < mesh.station[i].size(); ++j)
        v[i][j] = st.values[static_cast<size_t>(mesh.station[i][j])];
    whole.column_second_derivatives(v, y2);
    whole.interpolate_to_grid(v, y2, reference);

    // Extent of the mesh in the turned frame, spline grid of h = 100.
    double min_x = 1e30, max_x = -1e30, min_y = 1e30, max_y = -1e30;
    for (size_t i = 1; i < mesh.x.size(); ++i)
      for (size_t j = 1; j < mesh.x[i].size(); ++j) {
        min_x = std::min(min_x, mesh.x[i][j]);
        max_x = std::max(max_x, mesh.x[i][j]);
        min_y = std::min(min_y, mesh.y[i][j]);
        max_y = std::max(max_y, mesh.y[i][j]);
      }
    const double ny = std::floor((max_y - min_y) / 100 + 0.49999) + 1;
    const station_view view{st.station_count, st.values.data(), st.x_rotated.data(),
                            st.y_rotated.data(), st.altitude.data()};
    std::vector<double> weights(static_cast<size_t>(st.station_count) + 1);
    int surface_cells = 0, idw_cells = 0;
    for (int r = 1; r <= N; ++r)
      for (int c = 1; c <= N; ++c) {
        SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
        if (reference[r][c] != -9999) {
          EXPECT_EQ(result[r][c], reference[r][c]);
          // The node: y = min_y + (Ny - row) h, x = min_x + (col + 1) h, turned back.
          const double row = ny - std::floor((cy[r][c] - min_y) / 100 + 0.4999);
          const double col = std::floor((cx[r][c] - min_x) / 100) + 1;
          const rotated_point p =
              rotate_about_corner(0, 0, min_x + (col + 1) * 100, min_y + (ny - row) * 100, -slope);
          EXPECT_NEAR(result[r][c], plane(p.x, p.y), 1e-9);
          ++surface_cells;
        } else {
          const double expected = idw_anisotropic(view, weights.data(), cx[r][c], cy[r][c],
                                                  {9999, 2000, 2, 1e18, 0.995});
          EXPECT_NEAR(result[r][c], expected, 1e-9);
          ++idw_cells;
        }
      }
    EXPECT_GT(surface_cells, 20);
    EXPECT_GT(idw_cells, 20);
  }
  input.reset();
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
