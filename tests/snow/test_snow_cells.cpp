// The cell loop of the snow module on a small grid: the same results on 1
// and 4 threads, the water of every cell closing over a run of hourly steps,
// cells outside the zone grid left alone, the melt of glacier snow, firn and
// ice by hand, and the copies of hydrologic response units.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "settings/tracer_entry.h"
#include "snow/snow_fixture.h"

namespace {

// Forcing of step k in cell (r, c): cold with snow first, then a thaw.
void force(snow_fixture& f, int k) {
  for (int r = 1; r <= f.nrows; ++r)
    for (int c = 1; c <= 3; ++c) {
      const double t = -6 + 0.25 * k + r - c;
      f.grid("temperature")[r][c] = t;
      f.grid("temperature_night")[r][c] = t - 3;
      f.grid("precipitation")[r][c] = (k % 7 < 3) ? 1.5 + 0.1 * c : 0;
      f.grid("wind_speed")[r][c] = 1 + 0.5 * r;
      f.grid("air_humidity")[r][c] = 0.7;
      f.grid("cloudiness")[r][c] = 0.1 * (k % 10);
      f.grid("AspectCorrectedGlobalRadiation")[r][c] = (k % 24 > 8 && k % 24 < 17) ? 300 : 0;
      f.grid("[elevation_model]")[r][c] = 1000 + 100 * r;
    }
}

struct run_result {
  std::vector<double> values;  // every own grid's cells after the run
  std::string console;
};

run_result run(const std::string& method, int interval, int threads, int steps,
               std::vector<double>* balance = nullptr) {
  snow_fixture f;
  snow_section_text s;
  s.method = method;
  s.interval = interval;
  f.write(s);
  f.grid("zonegrid")[2][3] = -9999;  // outside the zone grid
  f.publish("snow_evaporation");
  int status = -1;
  auto m = f.build(status);
  EXPECT_EQ(status, 0) << f.console();
  m->select_input_grid(0);
  omp_set_num_threads(threads);
  if (balance != nullptr) balance->assign(7, 0);
  for (int k = 0; k < steps; ++k) {
    force(f, k);
    m->set_step_date(k % 24, 10 + k / 24, 1, 2021);
    m->snow_cells(10 + k / 24, 1, 2021);
    if (balance != nullptr)
      for (int c = 1; c <= 3; ++c)  // row 1: input less outflow less sublimation
        (*balance)[static_cast<size_t>(c)] += f.grid("precipitation")[1][c] -
                                              f.grid("snowcover_outflow")[1][c] -
                                              f.grid("snow_evaporation")[1][c];
  }
  run_result out;
  for (const char* n : {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total",
                        "days_snow", "snow_age", "snow_fraction", "rain_fraction",
                        "snowcover_outflow", "melt_from_snowcover", "albedo", "precipitation"})
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) out.values.push_back(f.grid(n)[r][c]);
  if (balance != nullptr)
    for (int c = 1; c <= 3; ++c)
      (*balance)[static_cast<size_t>(c)] -= f.grid("snow_storage_total")[1][c];
  EXPECT_EQ(f.grid("snow_storage_total")[2][3], -9999);  // never computed
  out.console = f.console();
  m->release();
  return out;
}

TEST(SnowCells, SameResultsOnOneAndFourThreads) {
  struct row {
    const char* method;
    int interval;  // [min]
    int steps;
  } rows[] = {{"1", 60, 72}, {"5", 60, 72}, {"7", 1440, 20}, {"13", 1440, 20}};
  for (const row& r : rows) {
    SCOPED_TRACE(std::string("method ") + r.method);
    const run_result one = run(r.method, r.interval, 1, r.steps);
    const run_result four = run(r.method, r.interval, 4, r.steps);
    ASSERT_EQ(one.values.size(), four.values.size());
    for (size_t i = 0; i < one.values.size(); ++i) EXPECT_EQ(one.values[i], four.values[i]) << i;
  }
}

TEST(SnowCells, WaterOfEveryCellClosesOverHourlySteps) {
  for (const char* method : {"1", "2", "4", "5"}) {
    SCOPED_TRACE(std::string("method ") + method);
    std::vector<double> balance;
    run(method, 60, 2, 96, &balance);
    for (int c = 1; c <= 3; ++c) EXPECT_NEAR(balance[static_cast<size_t>(c)], 0, 1e-9) << c;
  }
}

TEST(SnowCells, GlacierCellsCloseTheirWaterOnBothParts) {
  struct row {
    const char* glacier_method;
    const char* snow_method;
  } rows[] = {{"1", "1"}, {"2", "1"}, {"11", "1"}, {"12", "1"}, {"13", "1"}, {"13", "5"}};
  for (const row& r : rows) {
    SCOPED_TRACE(std::string("glacier ") + r.glacier_method + ", snow " + r.snow_method);
    const bool dynamic = std::stoi(r.glacier_method) > 10;
    std::vector<double> results[2];
    for (int threads : {1, 4}) {
      snow_fixture f;
      grid_matrix& glacier = f.publish(dynamic ? "GlacierizedCells" : "ice_firn");
      grid_matrix& codes = f.publish("GlacierCodes");
      f.publish("global_radiation");
      f.publish("snow_evaporation");
      for (int c = 1; c <= 3; ++c) {
        glacier[1][c] = c == 3 ? 0 : c;  // ice, firn and a cell without glacier
        codes[1][c] = 3;
      }
      snow_section_text s;
      s.method = r.snow_method;
      ice_firn_text g;
      g.method = r.glacier_method;
      s.after = g.text();
      f.write(s);
      int status = -1;
      auto m = f.build(status);
      ASSERT_EQ(status, 0) << f.console();
      m->select_input_grid(0);
      omp_set_num_threads(threads);
      double input[4] = {}, outflow[4] = {}, outflow_g[4] = {}, vapour[4] = {}, vapour_g[4] = {};
      for (int k = 0; k < 120; ++k) {
        force(f, k);
        for (int c = 1; c <= 3; ++c) f.grid("global_radiation")[1][c] = 50;
        m->set_step_date(k % 24, 1 + k / 24, 3, 2021);
        m->snow_cells(1 + k / 24, 3, 2021);
        for (int c = 1; c <= 3; ++c) {
          input[c] += f.grid("precipitation")[1][c];
          outflow[c] += f.grid("snowcover_outflow")[1][c];
          vapour[c] += f.grid("snow_evaporation")[1][c];
          if (dynamic) {
            outflow_g[c] += f.grid("SnowMelt_onGlacier")[1][c];
            vapour_g[c] += f.grid("SnowEvaporation_onGlacier")[1][c];
          }
        }
      }
      for (int c = 1; c <= 3; ++c) {
        EXPECT_NEAR(f.grid("snow_storage_total")[1][c], input[c] - outflow[c] - vapour[c], 1e-9)
            << c;
        if (dynamic && c < 3) {
          // The glacier part takes the cell's split of the same input.
          EXPECT_NEAR(f.grid("TotalSnowStorage_onGlacier")[1][c],
                      input[c] - outflow_g[c] - vapour_g[c], 1e-9)
              << c;
        }
        EXPECT_GT(outflow[c], 1) << c;
      }
      for (const char* n : {"snow_storage_total", "melt_from_ice", "melt_from_firn", "albedo"})
        for (int c = 1; c <= 3; ++c) results[threads == 1 ? 0 : 1].push_back(f.grid(n)[1][c]);
      m->release();
    }
    EXPECT_EQ(results[0], results[1]);
  }
}

TEST(SnowCells, GlacierCellsMeltSnowFirnAndIce) {
  // Hourly, 3 degC, no input; DDFice 6, DDFfirn 5, DDFsnow 4 (hand values).
  struct row {
    const char* what;
    const char* method;  // glacier method
    int r, c;            // the cell
    double solid;        // [mm] snow at the start
    double ice, firn;    // [mm] melt by hand
    double solid_after, liquid_after;
  } rows[] = {
      // 6 * 3 / 24 on bare ice (code 1).
      {"static bare ice", "1", 1, 1, 0, 0.75, 0, 0, 0},
      // 5 * 3 / 24 on bare firn (code 2).
      {"static bare firn", "1", 1, 2, 0, 0, 0.625, 0, 0},
      // Snow melts 4 * 3 / 24 = 0.5 and covers the ice.
      {"static ice under snow", "1", 1, 1, 10, 0, 0, 9.5, 0.5},
      // 0.2 of snow melts (all of it, 0.2 leaves), the ice melts 0.75 - 0.2.
      {"static ice losing its snow", "1", 1, 1, 0.2, 0.55, 0, 0, 0},
      // Firn of 3 x 200 mm at 2600 m: 0.625 from the youngest layer.
      {"dynamic firn", "11", 1, 1, 0, 0, 0.625, 0, 0},
      // No firn at 2400 m: ice, debris scaling 1.
      {"dynamic ice", "11", 2, 1, 0, 0.75, 0, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    const bool dynamic = std::string(r.method) == "11";
    grid_matrix& glacier = f.publish(dynamic ? "GlacierizedCells" : "ice_firn");
    grid_matrix& codes = f.publish("GlacierCodes");
    glacier[1][1] = 1;
    glacier[1][2] = 2;
    glacier[2][1] = dynamic ? 1 : 0;
    for (int c = 1; c <= 3; ++c) {
      codes[1][c] = codes[2][c] = 5;
      f.grid("[elevation_model]")[1][c] = 2600;
      f.grid("[elevation_model]")[2][c] = 2400;
      f.grid("temperature")[1][c] = f.grid("temperature")[2][c] = 3;
    }
    snow_section_text s;
    ice_firn_text g;
    g.method = r.method;
    s.after = g.text();
    f.write(s);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    m->select_input_grid(0);
    f.grid("snowstorage_solid")[r.r][r.c] = r.solid;
    f.grid("snow_storage_total")[r.r][r.c] = r.solid;
    m->set_step_date(12, 1, 7, 2021);
    m->snow_cells(1, 7, 2021);
    EXPECT_NEAR(f.grid("melt_from_ice")[r.r][r.c], r.ice, 1e-12);
    EXPECT_NEAR(f.grid("melt_from_firn")[r.r][r.c], r.firn, 1e-12);
    EXPECT_NEAR(f.grid("snowstorage_solid")[r.r][r.c], r.solid_after, 1e-12);
    EXPECT_NEAR(f.grid("snowstorage_liquid")[r.r][r.c], r.liquid_after, 1e-12);
    if (dynamic && r.firn > 0) {
      const stack_matrix& firn = *f.store[f.index_of("firn_WE_stack")].stack;
      EXPECT_NEAR(firn[r.r][r.c][1], 200 - r.firn, 1e-12);
      EXPECT_NEAR(f.grid("firn_WE_stack")[r.r][r.c], 600 - r.firn, 1e-12);
    }
    m->release();
  }
}

}  // namespace

namespace {

TEST(SnowCells, ResponseUnitsCopyTheirMasterCell) {
  snow_fixture f;
  snow_section_text s;
  s.method = "5";
  f.write(s);
  // Unit 1: master (1, 1) with (1, 2), (2, 1); unit 2: master (2, 2) with (1, 3), (2, 3).
  std::vector<hru_entry> units(3);
  units[1].row = 1;
  units[1].col = 1;
  units[2].row = 2;
  units[2].col = 2;
  f.settings.hru_list = &units;
  grid_matrix& unit = f.publish("HydrologicResponseUnits");
  grid_matrix& master = f.publish("MasterHydrologicResponseUnits");
  const double unit_of[2][3] = {{1, 1, 2}, {1, 2, 2}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) {
      unit[r][c] = unit_of[r - 1][c - 1];
      master[r][c] = -9999;
    }
  master[1][1] = 1;
  master[2][2] = 2;
  f.publish("snow_evaporation");
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();
  m->select_input_grid(0);
  for (int k = 0; k < 30; ++k) {
    force(f, k);
    m->set_step_date(k % 24, 10, 1, 2021);
    m->snow_cells(10, 1, 2021);
    m->copy_hru_snow_states();
  }
  // The masters differ (different forcing), every cell equals its master.
  EXPECT_NE(f.grid("snowstorage_solid")[1][1], f.grid("snowstorage_solid")[2][2]);
  for (const char* n : {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total",
                        "days_snow", "snow_age", "snow_fraction", "rain_fraction", "albedo",
                        "snowcover_outflow", "melt_from_snowcover", "snowtemp", "surftemp"})
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) {
        const hru_entry& u = units[static_cast<size_t>(unit_of[r - 1][c - 1])];
        EXPECT_EQ(f.grid(n)[r][c], f.grid(n)[u.row][u.col]) << n << " " << r << c;
      }
  m->release();
}

}  // namespace

namespace {

TEST(SnowCells, TracerInputGridAndTransport) {
  struct row {
    const char* what;
    const char* input_grid;  // the tracer input flux grid present
    int status;
  } rows[] = {
      {"irrigation first", "concflux_tracer_1_irrigation", 0},
      {"input alone", "concflux_tracer_1_input", 0},
      {"none", "concflux_tracer_1_other", 33},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    snow_section_text s;
    f.write(s);
    grid_matrix& c_in = f.publish(r.input_grid);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    std::vector<tracer_entry> list(2);
    list[1].name = "cl_";
    list[1].max_conc = 100;
    list[1].radioactive = 1;
    list[1].half_time = std::log(2.0) / 24;  // [d] e-folding time one hour: one step
    list[1].path = f.cd.dir.path() + "/";
    list[1].statext = "txt";
    list[1].gridext = "asc";
    m->init_tracers(status, 1, list.data(), nullptr, 0);
    EXPECT_EQ(status, r.status);
    if (r.status != 0) {
      EXPECT_NE(f.console().find("!!_no_entry_!!"), std::string::npos) << f.console();
      continue;
    }
    m->select_input_grid(0);
    // Cold: 4 mm of input at concentration 2 stay in the pack as 8 units; a
    // stored 5 decays by exp(-1) first.
    grid_matrix& stored = f.grid("concstor_tracer_1_snow_model");
    for (int c = 1; c <= 3; ++c) {
      c_in[1][c] = 2;
      stored[1][c] = 5;
      f.grid("temperature")[1][c] = -5;
      f.grid("precipitation")[1][c] = 4;
    }
    m->set_step_date(1, 10, 1, 2021);
    m->snow_cells(10, 1, 2021);
    EXPECT_NEAR(stored[1][2], 5 * std::exp(-1.0) + 8, 1e-9);
    EXPECT_EQ(f.grid("concflux_tracer_1_snow_model")[1][2], 0);  // nothing left the pack
    m->free_tracer_statistics();
    m->release();
  }
}

}  // namespace
