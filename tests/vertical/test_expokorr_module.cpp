// The radiation-correction module on a 3 x 1 grid at 47 N, 8 E: flat cells
// give the factor 1 by definition (the horizontal ratio), a night step gives
// 0 everywhere and the temperature unchanged, the polar day at 80 N in June
// keeps the sun up at midnight (elevation 80 + 23.4 - 90 = 13.4 deg), and
// steps between computed ones leave every grid as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "modelbase/gridstore.h"
#include "support/test_support.h"
#include "vertical/expokorr.h"

namespace {

struct expokorr_fixture {
  expokorr_fixture() {
    settings.control_file = cd.dir.file("control.$$$");
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = 3;
    settings.nrows = 1;
    settings.first_row = 1;
    settings.last_row = 1;
    settings.cellsize = 100;
    settings.latitude = 47;
    settings.longitude = 8;
    settings.reference_meridian = 15;
    const char* names[] = {"zonegrid",    "zonegrid_soilmodel", "[elevation_model]", "slope_aspect",
                           "slope_angle", "temperature",        "sunshine_duration"};
    for (int i = 0; i < 7; ++i) {
      grid[i] = grids.matrix(1, 1, 0, 3, 1);
      for (int c = 1; c <= 3; ++c) grid[i][1][c] = 0;
      store[i + 1].grid = &grid[i];
      store[i + 1].grid_name = names[i];
      store[i + 1].file_name = std::string(names[i]) + ".asc";
    }
    for (int c = 1; c <= 3; ++c) {
      grid[0][1][c] = 1;
      grid[5][1][c] = 10;   // temperature [degC]
      grid[6][1][c] = 0.5;  // relative sunshine
    }
  }

  // The section with its lines in the module's reading order.
  void write(int flow_control, int interval, int method, int steps, int splits,
             double scaling = 1) {
    cd.dir.write("control.$$$", "[radiation_correction]\n" + std::to_string(flow_control) +
                                    " flow control parameter for\n" + std::to_string(interval) +
                                    " time interval for\n" + std::to_string(method) +
                                    " methode of correction for\ntkorr.asc name of the "
                                    "TKORR-Grid for\n0 "
                                    "Writegrid EXKORR for\n" +
                                    std::to_string(scaling) +
                                    " scaling factor for Tkorr for\nexkorr.asc name of the "
                                    "EXKORR-Grids for\n0 "
                                    "Writegrid EXKORR for\nshape.asc name of the SHAPE-Grid "
                                    "for\n0 Writegrid "
                                    "SHAPE for\n" +
                                    std::to_string(steps) + " number if timesteps for\n" +
                                    std::to_string(splits) + " number of splittings for\n");
  }

  std::unique_ptr<expokorrklasse> build(int& status) {
    return std::make_unique<expokorrklasse>(status, cd.diag.get(), nullptr, 0,
                                            "radiation_correction", &store, settings);
  }

  const grid_matrix& named(const std::string& name) {
    for (int i = 1; i < 1000; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return *store[i].grid;
    ADD_FAILURE() << name << " not registered";
    return grid[0];
  }
  bool has(const std::string& name) {
    for (int i = 1; i < 1000; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return true;
    return false;
  }

  captured_diag cd;
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, 3}};
  settings_context settings;
  memory_handling grids;
  grid_matrix grid[7];
};

TEST(RadiationCorrection, FlatCellsNightAndPolarDay) {
  struct row {
    const char* what;
    double latitude;
    int hour, day, month;
    double factor;  // [-]
    bool sun;       // the horizontal beam sum is positive
  } rows[] = {
      {"midday", 47, 13, 21, 6, 1, true},
      {"night", 47, 2, 21, 6, 0, false},
      {"polar day at midnight", 80, 1, 21, 6, 1, true},
      {"polar night at noon", 80, 13, 21, 12, 0, false},
  };
  for (const auto& r : rows) {
    expokorr_fixture f;
    f.settings.latitude = r.latitude;
    f.write(1, 60, 2, 1, 4);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.cd.console();
    m->time_step(r.hour, r.day, r.month, 2020);
    EXPECT_EQ(m->get_horizontal_beam_sum() > 0, r.sun) << r.what;
    const grid_matrix& factor = f.named("radiation_correction");
    const grid_matrix& ieff = f.named("Ieff_max");
    const grid_matrix& t = f.named("corr_temperature");
    for (int c = 1; c <= 3; ++c) {
      EXPECT_NEAR(factor[1][c], r.factor, 1e-12) << r.what;
      EXPECT_NEAR(ieff[1][c], m->get_horizontal_beam_sum(), 1e-9) << r.what;
      // F = 1 gives ln F = 0; a night step leaves T as it is.
      EXPECT_NEAR(t[1][c], 10, 1e-12) << r.what;
    }
    EXPECT_EQ(f.named("Shadow")[1][2], 0) << r.what;
    m->release();
  }
}

TEST(RadiationCorrection, SlopesShadedCellAndTemperatureModification) {
  expokorr_fixture f;
  // Cell 1 flat, cell 2 facing south at 30 deg, cell 3 facing north at 80
  // deg (turned away from the sun all day: factor 0, T - 0.5 * 1.6094).
  f.grid[3][1][2] = 180;
  f.grid[4][1][2] = 30;
  f.grid[3][1][3] = 0;
  f.grid[4][1][3] = 80;
  f.write(1, 60, 4, 1, 1);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.cd.console();
  m->time_step(13, 21, 12, 2020);  // a low winter sun near the meridian
  const grid_matrix& factor = f.named("radiation_correction");
  const grid_matrix& t = f.named("corr_temperature");
  EXPECT_NEAR(factor[1][1], 1, 1e-12);
  // At 47 N on 21 December the noon zenith is 47 + 23.4 = 70.4 deg: a south
  // slope of 30 deg gets cos(40.4) / cos(70.4) = 2.28, near the meridian.
  EXPECT_NEAR(factor[1][2], std::cos(40.4 * M_PI / 180) / std::cos(70.4 * M_PI / 180), 0.1);
  EXPECT_EQ(factor[1][3], 0);
  EXPECT_NEAR(t[1][2], 10 + 0.5 * std::log(factor[1][2]), 1e-12);
  EXPECT_NEAR(t[1][3], 10 - 0.5 * 1.6094, 1e-12);
  m->release();
}

TEST(RadiationCorrection, EveryThirdStepIsComputed) {
  expokorr_fixture f;
  f.write(1, 60, 2, 3, 1);
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0);
  const grid_matrix& t = f.named("corr_temperature");
  const grid_matrix& factor = f.named("radiation_correction");
  const int hours[] = {11, 12, 13, 23, 24, 25};  // steps 1..6: 1 and 4 computed
  const double expected_t[] = {10, 10, 10, 13, 13, 13};
  const double expected_f[] = {1, 1, 1, 0, 0, 0};
  for (int s = 0; s < 6; ++s) {
    f.grid[5][1][1] = 10 + s;  // the temperature changes every step
    m->time_step(hours[s] % 24, 21, 6, 2020);
    EXPECT_EQ(t[1][1], expected_t[s]) << "step " << s + 1;
    EXPECT_EQ(factor[1][1], expected_f[s]) << "step " << s + 1;
  }
  m->release();
}

TEST(RadiationCorrection, SetUpChecksAndGrids) {
  {
    // No split would leave every factor 0, a negative count never ended.
    for (int splits : {0, -2}) {
      expokorr_fixture f;
      f.write(1, 60, 2, 1, splits);
      int status = -1;
      auto m = f.build(status);
      EXPECT_EQ(status, 17) << splits;
      EXPECT_NE(f.cd.console().find("error in control file: the number of splittings for "
                                    "radiation_correction must be at least 1, not " +
                                    std::to_string(splits)),
                std::string::npos)
          << f.cd.console();
    }
  }
  {
    // A missing section is no inactive module but control-file error 17
    // (thrown by the base constructor, as for every module).
    expokorr_fixture f;
    f.cd.dir.write("control.$$$", "[evapotranspiration]\n0\n60\n");
    int status = -1;
    int thrown = 0;
    try {
      f.build(status);
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(thrown, 17);
    EXPECT_NE(f.cd.console().find("[radiation_correction]; (EOF)not found!"), std::string::npos)
        << f.cd.console();
  }
  {
    // Methods outside 1..4 become 2; flow control 2 hands no grid over.
    expokorr_fixture f;
    f.write(2, 60, 7, 1, 2);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(m->get_method(), 2);
    EXPECT_NE(f.cd.console().find("file expokorr, compiled at"), std::string::npos);
    EXPECT_EQ(f.cd.console().find("not built yet"), std::string::npos);
    EXPECT_EQ(m->get_radiation_correction(), nullptr);
    EXPECT_TRUE(f.has("corr_temperature"));
    EXPECT_FALSE(f.has("temperature_night"));
    m->release();
    EXPECT_FALSE(f.has("radiation_correction"));
    EXPECT_FALSE(f.has("corr_temperature"));
  }
  {
    // Flow control 1 hands the factor over; method 3 modifies no temperature.
    expokorr_fixture f;
    f.write(1, 60, 3, 1, 2);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0);
    ASSERT_NE(m->get_radiation_correction(), nullptr);
    EXPECT_EQ(m->get_radiation_correction(), &f.named("radiation_correction"));
    EXPECT_FALSE(f.has("corr_temperature"));
    m->release();
  }
  {
    // Inactive with a daily step: only the night temperature, kept every step.
    expokorr_fixture f;
    f.write(0, 1440, 2, 1, 2);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(f.has("radiation_correction"));
    f.grid[5][1][2] = 4;
    m->time_step(0, 1, 1, 2020);
    EXPECT_EQ(f.named("temperature_night")[1][2], 4);
    m->release();
    EXPECT_FALSE(f.has("temperature_night"));
  }
  {
    // 720 minutes exactly: no night grid.
    expokorr_fixture f;
    f.write(1, 720, 2, 1, 2);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(f.has("temperature_night"));
    m->release();
  }
}

}  // namespace
