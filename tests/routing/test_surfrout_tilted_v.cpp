// The tilted-V catchment (Di Giammarco et al. 1996): two planes of
// 800 m x 1000 m falling 0.05 towards a channel 20 m wide and 1000 m long
// that falls 0.02 along its length, Manning n 0.015 on the planes, rain of
// 10.8 mm/h for 90 minutes. The surface routing hands what reaches the
// channel cells to the channel routing, so its outflow is the lateral inflow
// of the channel: the outflow of two kinematic-wave planes (L = 800 m,
// S0 = 0.05) plus the rain on the channel, reaching rain x area at
// equilibrium.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "routing/surfrout_fixture.h"

namespace {

model_date date_of(int step) { return model_date{2001, 4, 1 + step / 144, (step / 6) % 24}; }

constexpr double RAIN = 10.8 / 1000 / 3600;  // [m/s]
constexpr double PLANE_LENGTH = 800;         // [m]
constexpr double CHANNEL_LENGTH = 1000;      // [m]
constexpr double CHANNEL_WIDTH = 20;         // [m]
constexpr double SLOPE = 0.05;               // [-] of the planes towards the channel
constexpr double MANNING_N = 0.015;
constexpr double METHOD_5_STRICKLER = 10;  // [m^(1/3)/s] method 5's own coefficient
constexpr double EXPONENT = 5.0 / 3;
constexpr int ROWS = 10, PLANE_CELLS = 8, COLS = 2 * PLANE_CELLS + 1, CHANNEL = PLANE_CELLS + 1;
constexpr double CELL = 100;  // [m]

struct tilted_v_case {
  int method;
  double strickler;  // [m^(1/3)/s] of the plane's kinematic wave
  double rain_end;   // [s]
  int steps;         // 10-minute steps
  // Largest difference of a 10-minute mean outflow from the kinematic wave's
  // allowed, over the equilibrium outflow; 0: the shape is not compared.
  double shape_tolerance;
};

// Kinematic-wave outflow of one plane per metre of width [m2/s]: the rising
// limb alpha (i t)^m up to i L, and after the rain the recession along the
// characteristics that start on the equilibrium profile at the end of the
// rain t_r: L = alpha h^m / i + alpha m h^(m-1) (t - t_r).
double plane_outflow(const tilted_v_case& x, double t) {
  const double alpha = std::sqrt(SLOPE) * x.strickler;
  const double equilibrium = RAIN * PLANE_LENGTH;
  if (t <= x.rain_end) return std::min(alpha * std::pow(RAIN * t, EXPONENT), equilibrium);
  double low = 0, high = std::pow(equilibrium / alpha, 1 / EXPONENT);
  for (int k = 0; k < 200; ++k) {
    const double h = 0.5 * (low + high);
    const double reach = alpha * std::pow(h, EXPONENT) / RAIN +
                         alpha * EXPONENT * std::pow(h, EXPONENT - 1) * (t - x.rain_end);
    (reach > PLANE_LENGTH ? high : low) = h;
  }
  return alpha * std::pow(0.5 * (low + high), EXPONENT);
}

// Outflow of the catchment [m3/s] averaged over [a, b].
double catchment_outflow(const tilted_v_case& x, double a, double b) {
  const int n = 2000;
  double sum = 0;
  for (int k = 0; k < n; ++k) {
    const double t = a + (k + 0.5) * (b - a) / n;
    sum += 2 * CHANNEL_LENGTH * plane_outflow(x, t) +
           (t < x.rain_end ? RAIN * CHANNEL_LENGTH * CHANNEL_WIDTH : 0);
  }
  return sum / n;
}

struct run_result {
  std::vector<double> outflow;  // [m3/s] mean of each 10-minute step
  double rain = 0;              // [m3]
  double delivered = 0;         // [m3]
  double left = 0;              // [m3] on the cells at the end
};

// 100 m cells in rows along the channel; the channel column is a river
// column of the case's width. 10-minute steps of ten 1-minute sub-steps,
// each sub-step's rain put on the cells at its start.
run_result run_tilted_v(const tilted_v_case& x) {
  surfrout_fixture f(ROWS, COLS, CELL);
  f.landuse[1].SR_K_ST = 1 / MANNING_N;
  f.fill("[elevation_model]", [](int r, int c) {
    return SLOPE * CELL * std::abs(c - CHANNEL) + 0.02 * CELL * (ROWS - r) + 100;
  });
  f.fill("river_depth", [](int, int c) { return c == CHANNEL ? 1.0 : -9999.0; });
  f.fill("river_width", [&](int, int c) { return c == CHANNEL ? CHANNEL_WIDTH : -9999.0; });
  f.add("CellSizeX", 0);
  f.add("CellSizeY", 0);
  f.add("RelCellArea", 0);
  auto width = [&](int c) { return c == CHANNEL ? CHANNEL_WIDTH : CELL; };
  f.fill("CellSizeX", [&](int, int c) { return width(c); });
  f.fill("CellSizeY", [](int, int) { return CELL; });
  f.fill("RelCellArea", [&](int, int c) { return width(c) / CELL; });
  surfrout_section s;
  s.method = x.method;
  s.interval = 10;
  s.s_min = 5;
  s.s_max = 60;
  const int substeps = 10;
  run_result out;
  if (f.build(s, substeps) != 0) {
    ADD_FAILURE() << f.cap.console();
    return out;
  }
  grid_matrix& direct = f.named("directflow");
  grid_matrix& storage = f.named("SurfStorSiltingUp");
  const double dt = 60;
  for (int step = 0; step < x.steps; ++step) {
    f.module->begin_step(date_of(step));
    double volume = 0;
    for (int k = 1; k <= substeps; ++k) {
      const double t = (step * substeps + k - 1) * dt;
      const double rain_mm = t < x.rain_end ? RAIN * dt * 1000 : 0;
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= COLS; ++c) {
          direct[r][c] = storage[r][c] + rain_mm;
          out.rain += rain_mm / 1000 * width(c) * CELL;
        }
      f.module->run_substep(date_of(step), k);
      for (int r = 1; r <= ROWS; ++r) volume += direct[r][CHANNEL] / 1000 * CHANNEL_WIDTH * CELL;
    }
    f.module->end_step(date_of(step));
    out.delivered += volume;
    out.outflow.push_back(volume / (substeps * dt));
  }
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 1; c <= COLS; ++c) out.left += storage[r][c] / 1000 * width(c) * CELL;
  return out;
}

// Methods 2, 4 and 5 send a cell's water in one direction and follow the
// plane's kinematic wave; their cell scheme rounds the corner at the time to
// equilibrium (t_e = 29.4 min with n 0.015, 92 min with method 5's own
// Strickler value 10, whose rain therefore lasts 4 h), which sets the
// tolerances. Methods 1 and 3 divide the outflow of the planes' cells
// between two directions, each carrying up to the discharge of the cell's
// full depth over its own width, so they drain faster than the wave: only
// the balance and the equilibrium are theirs to meet. Method 6 drives its
// face fluxes by the depth of the cell above its own terrain, not by the
// slope, and on 100 m cells drains the planes too slowly to reach
// equilibrium in the rain; its equilibrium is shown on Wooding's plane.
TEST(SurfroutTiltedV, EquilibriumOutflowIsRainTimesAreaAndTheHydrographFollowsTheKinematicWave) {
  const double k = 1 / MANNING_N;
  const tilted_v_case cases[] = {{1, k, 5400, 18, 0},
                                 {2, k, 5400, 18, 0.06},
                                 {3, k, 5400, 18, 0},
                                 {4, k, 5400, 18, 0.06},
                                 {5, METHOD_5_STRICKLER, 14400, 36, 0.14}};
  const double area = 2 * PLANE_LENGTH * CHANNEL_LENGTH + CHANNEL_WIDTH * CHANNEL_LENGTH;
  const double equilibrium = RAIN * area;
  ASSERT_NEAR(equilibrium, 4.86, 1e-12);  // m3/s
  for (const tilted_v_case& x : cases) {
    const run_result r = run_tilted_v(x);
    ASSERT_EQ(r.outflow.size(), static_cast<size_t>(x.steps));
    EXPECT_NEAR(r.delivered + r.left, r.rain, 1e-9 * r.rain) << "method " << x.method;
    // The last 10 minutes of the rain, well beyond t_e.
    const size_t last_rain_step = static_cast<size_t>(x.rain_end / 600) - 1;
    EXPECT_NEAR(r.outflow[last_rain_step], equilibrium, 0.01 * equilibrium)
        << "method " << x.method;
    if (x.shape_tolerance == 0) continue;
    double worst = 0;
    int worst_step = 0;
    for (int step = 0; step < x.steps; ++step) {
      const double expected = catchment_outflow(x, 600.0 * step, 600.0 * (step + 1));
      const double error = std::fabs(r.outflow[static_cast<size_t>(step)] - expected);
      if (error > worst) {
        worst = error;
        worst_step = step;
      }
    }
    EXPECT_LT(worst, x.shape_tolerance * equilibrium)
        << "method " << x.method << ", 10-minute step " << worst_step;
  }
}

}  // namespace
