// Tracers carried by the surface routing: a pulse of tracer keeps its mass
// through the routing (put on the cells = delivered to the rivers + left on
// the cells, to round-off), and two waters of different concentration
// deliver their flow-weighted concentration where they meet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "routing/surfrout_fixture.h"
#include "settings/tracer_entry.h"

namespace {

model_date date_of(int step) { return model_date{2001, 4, 1 + step / 24, step % 24}; }

// The tracer list outlives the module, which keeps a pointer to it.
struct traced_fixture {
  std::vector<tracer_entry> list;
  surfrout_fixture f;
  grid_matrix* conc_qd = nullptr;
  grid_matrix* stored = nullptr;  // the module's own concentration of the surface storage

  traced_fixture(int rows, int cols, double cell_size) : list(2), f(rows, cols, cell_size) {
    list[1].name = "chl";
    list[1].statext = "stc";
    list[1].gridext = "grc";
    conc_qd = &f.add("_CONC_QD_1_", 0.0);
    f.add("_CONC_QI_1_", 0.0);
  }
  // Returns the status of the constructor or of the tracer set-up.
  int build(const surfrout_section& s, int substeps) {
    std::FILE* file = std::fopen(f.settings.control_file.c_str(), "w");
    std::fputs(s.text().c_str(), file);
    std::fclose(file);
    int status = -1;
    f.module = std::make_unique<surfaceroutingclass>(status, f.cap.diag.get(), &f.registry, 200,
                                                     "SurfaceRoutingModel", &f.store, f.settings,
                                                     substeps);
    if (status != 0) return status;
    f.module->init_tracers(status, 1, list.data(), &f.registry, 200);
    if (status != 0) return status;
    f.qbb = make_flow_arrays(1, 1);
    f.kelsqd.assign(2, 1e-6);
    f.kelsqi.assign(2, 1e-6);
    f.module->set_qbb(&f.qbb);
    f.module->set_kelsqd(&f.kelsqd);
    f.module->set_kelsqi(&f.kelsqi);
    const int own = f.find("concstor_tracer_1_SiltingUpModel");
    if (own <= 0) return -1;
    stored = f.store[own].grid;
    return 0;
  }
  double weight(int r, int c) {
    const int rel = f.find("RelCellArea");
    return rel > 0 ? (*f.store[rel].grid)[r][c] : 1.0;
  }
  // Puts rain_mm of concentration conc(r, c) on every cell, mixed with what
  // was left there as the modules before the routing do, and runs sub-step
  // k. Returns the tracer mass put on the cells [mm x concentration x
  // relative area].
  double rain(int step, int k, const std::function<double(int, int)>& rain_mm,
              const std::function<double(int, int)>& conc) {
    grid_matrix& direct = f.named("directflow");
    grid_matrix& storage = f.named("SurfStorSiltingUp");
    double mass = 0;
    for (int r = 1; r <= f.nrows; ++r)
      for (int c = 1; c <= f.ncols; ++c) {
        const double p = rain_mm(r, c);
        direct[r][c] = storage[r][c] + p;
        (*conc_qd)[r][c] = direct[r][c] > 0
                               ? ((*stored)[r][c] * storage[r][c] + conc(r, c) * p) / direct[r][c]
                               : 0;
        mass += conc(r, c) * p * weight(r, c);
      }
    f.module->run_substep(date_of(step), k);
    return mass;
  }
  // Water and tracer mass that reached the river cells in the last
  // sub-step, per relative area.
  void delivered(double& water, double& mass) {
    const grid_matrix& direct = f.named("directflow");
    const grid_matrix& depth = f.named("river_depth");
    water = mass = 0;
    for (int r = 1; r <= f.nrows; ++r)
      for (int c = 1; c <= f.ncols; ++c)
        if (depth[r][c] != -9999.0) {
          water += direct[r][c] * weight(r, c);
          mass += (*conc_qd)[r][c] * direct[r][c] * weight(r, c);
        }
  }
};

// A pulse of tracer on the upper corner of the tilted basin of 6 x 8 cells
// (river in the last column), followed by clean rain: the tracer put on the
// cells is delivered or left on them to round-off, concentrations stay
// between 0 and the pulse's.
TEST(SurfroutTracers, PulseKeepsItsMassThroughTheRouting) {
  // Method 6 drains 100 m cells too slowly to deliver much in three steps:
  // it runs on 10 m cells.
  struct row {
    int method;
    bool variable_sizes;
    double cell_size;
  } rows[] = {{1, false, 100}, {2, false, 100}, {3, false, 100}, {4, false, 100},
              {5, false, 100}, {6, false, 10},  {1, true, 100},  {4, true, 100}};
  for (const row& x : rows) {
    traced_fixture t(6, 8, x.cell_size);
    t.f.fill("[elevation_model]",
             [](int r, int c) { return 10.0 * (8 - c) + 0.5 * std::fabs(r - 3.0) + 50; });
    t.f.river_in_last_column();
    if (x.variable_sizes) t.f.variable_cell_sizes();
    surfrout_section s;
    s.method = x.method;
    s.s_min = 10;
    s.s_max = 300;
    ASSERT_EQ(t.build(s, 2), 0) << t.f.cap.console();
    double put = 0, delivered_mass = 0, delivered_water = 0;
    double highest = 0, lowest = 0;
    for (int step = 0; step < 3; ++step) {
      t.f.module->begin_step(date_of(step));
      for (int k = 1; k <= 2; ++k) {
        const bool pulse = step == 0 && k == 1;
        put += t.rain(
            step, k, [&](int r, int c) { return pulse && r <= 2 && c <= 3 ? 6.0 : 2.0; },
            [&](int r, int c) { return pulse && r <= 2 && c <= 3 ? 5.0 : 0.0; });
        double water = 0, mass = 0;
        t.delivered(water, mass);
        delivered_water += water;
        delivered_mass += mass;
        for (int r = 1; r <= 6; ++r)
          for (int c = 1; c <= 8; ++c) {
            highest = std::max({highest, (*t.stored)[r][c], (*t.conc_qd)[r][c]});
            lowest = std::min({lowest, (*t.stored)[r][c], (*t.conc_qd)[r][c]});
          }
      }
      t.f.module->end_step(date_of(step));
    }
    const grid_matrix& storage = t.f.named("SurfStorSiltingUp");
    double left = 0;
    for (int r = 1; r <= 6; ++r)
      for (int c = 1; c <= 8; ++c) left += (*t.stored)[r][c] * storage[r][c] * t.weight(r, c);
    const std::string label =
        "method " + std::to_string(x.method) + (x.variable_sizes ? " variable cell sizes" : "");
    // 6 mm of concentration 5 on 2 x 3 cells, and clean rain.
    ASSERT_NEAR(put, 5 * 6 * 2 * (x.variable_sizes ? 1 + 1.1 + 1.2 : 3), 1e-9) << label;
    EXPECT_GT(delivered_mass, 0.01 * put) << label;
    EXPECT_GT(left, 0.001 * put) << label;
    EXPECT_GT(delivered_water, 0.0) << label;
    EXPECT_NEAR(delivered_mass + left, put, 1e-9 * put) << label;
    EXPECT_LE(highest, 5 * (1 + 1e-12)) << label;
    EXPECT_GE(lowest, 0.0) << label;
  }
}

// Two waters meet in a river cell: the left slope (two cells) carries 3 mm
// of concentration 1 per sub-step, the right slope 1 mm of concentration 5.
// The river cell receives concentration (1 V_L + 5 V_R) / (V_L + V_R) in
// every sub-step, the volumes V_L and V_R measured by runs with rain on one
// slope only (fixed internal steps, so that the runs step alike). Not for
// method 6, whose passes stop on the largest change of all cells, so that
// the slopes do not step alike.
TEST(SurfroutTracers, WatersMeetingInARiverCellGiveTheFlowWeightedConcentration) {
  for (int method = 1; method <= 5; ++method) {
    // Returns per sub-step the delivered water and tracer mass.
    auto run = [&](bool left, bool right, std::vector<double>& water, std::vector<double>& mass) {
      traced_fixture t(1, 5, 10);
      t.f.fill("[elevation_model]", [](int, int c) { return std::abs(c - 3) * 0.5 + 10; });
      t.f.fill("river_depth", [](int, int c) { return c == 3 ? 1.0 : -9999.0; });
      t.f.fill("river_width", [](int, int c) { return c == 3 ? 5.0 : -9999.0; });
      surfrout_section s;
      s.method = method;
      s.s_min = 20;
      s.s_max = 20;
      ASSERT_EQ(t.build(s, 6), 0) << t.f.cap.console();
      for (int step = 0; step < 2; ++step) {
        t.f.module->begin_step(date_of(step));
        for (int k = 1; k <= 6; ++k) {
          t.rain(
              step, k,
              [&](int, int c) { return c < 3            ? (left ? 3.0 : 0.0)
                                       : c > 3 && right ? 1.0
                                                        : 0.0; },
              [&](int, int c) { return c < 3   ? 1.0
                                       : c > 3 ? 5.0
                                               : 0.0; });
          double w = 0, m = 0;
          t.delivered(w, m);
          water.push_back(w);
          mass.push_back(m);
        }
        t.f.module->end_step(date_of(step));
      }
    };
    std::vector<double> water, mass, water_left, mass_left, water_right, mass_right;
    run(true, true, water, mass);
    run(true, false, water_left, mass_left);
    run(false, true, water_right, mass_right);
    ASSERT_EQ(water.size(), 12u);
    for (size_t k = 0; k < water.size(); ++k) {
      const double vl = water_left[k], vr = water_right[k];
      EXPECT_NEAR(water[k], vl + vr, 1e-12 * water[k]) << "method " << method << " sub-step " << k;
      if (water[k] <= 0) continue;
      EXPECT_GT(vl, 0.0) << "method " << method;
      EXPECT_GT(vr, 0.0) << "method " << method;
      EXPECT_NEAR(mass[k] / water[k], (vl + 5 * vr) / (vl + vr), 1e-12)
          << "method " << method << " sub-step " << k;
    }
  }
}

// Two waters mixed on the way: on a line of cells A -> B -> C -> river, A
// gets 4 mm of concentration 1 per sub-step and B 1 mm of concentration 6.
// Once the flow repeats itself from one sub-step to the next, the river
// receives the flow-weighted concentration (4 x 1 + 1 x 6) / 5 = 2 and the
// water of A keeps its concentration 1.
TEST(SurfroutTracers, WatersMixedOnTheWayReachTheFlowWeightedConcentration) {
  for (int method = 1; method <= 6; ++method) {
    traced_fixture t(1, 4, 10);
    t.f.fill("[elevation_model]", [](int, int c) { return (4 - c) * 1.0 + 10; });
    t.f.river_in_last_column();
    surfrout_section s;
    s.method = method;
    s.interval = 10;
    s.s_min = 1;
    s.s_max = 10;
    ASSERT_EQ(t.build(s, 1), 0) << t.f.cap.console();
    double water = 0, mass = 0;
    for (int step = 0; step < 36; ++step) {
      t.f.module->begin_step(date_of(step));
      t.rain(
          step, 1, [](int, int c) { return c == 1   ? 4.0
                                           : c == 2 ? 1.0
                                                    : 0.0; },
          [](int, int c) { return c == 1   ? 1.0
                                  : c == 2 ? 6.0
                                           : 0.0; });
      t.delivered(water, mass);
      t.f.module->end_step(date_of(step));
    }
    EXPECT_NEAR(water, 5.0, 1e-6) << "method " << method;
    EXPECT_NEAR(mass / water, 2.0, 1e-5) << "method " << method;
    EXPECT_NEAR((*t.stored)[1][1], 1.0, 1e-12) << "method " << method;
  }
}

}  // namespace
