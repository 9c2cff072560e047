// Set-up of the snow module from "[snow_model]": the checked lines and their
// codes, the defaults of the lines a method does not read, the grids it
// publishes in their order, the slide set-up on the whole grid and the
// storage grids read from files with their holes filled.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "snow/snow_fixture.h"

namespace {

using edit = std::function<void(snow_section_text&)>;

TEST(SnowSetUp, BadLinesStopWithTheirCodeAndMessage) {
  struct row {
    const char* what;
    edit change;
    int status;
    const char* message;
  } rows[] = {
      {"method 15 would never melt", [](snow_section_text& s) { s.method = "15"; }, 17,
       "the method for snow_model must be 1 to 14, not 15"},
      {"method 0", [](snow_section_text& s) { s.method = "0"; }, 17,
       "the method for snow_model must be 1 to 14, not 0"},
      {"unreadable T0", [](snow_section_text& s) { s.values[2] = "warm"; }, 17, "T0 for "},
      {"method 8 reads line 61: LWINcorr 0",
       [](snow_section_text& s) {
         s.method = "8";
         s.lw_in = "0";
       },
       408,
       "incoming long wave radiation correction factor LWINcorr not within parameter bounds of "
       "(0...3.0]. Here: 0"},
      {"LWOUTcorr 3.5",
       [](snow_section_text& s) {
         s.method = "5";
         s.lw_out = "3.5";
       },
       408,
       "outgoing long wave radiation correction factor LWOUTcorr not within parameter bounds of "
       "(0...3.0]. Here: 3.5"},
      {"minSlideSlope 0",
       [](snow_section_text& s) {
         s.method = "6";
         s.min_slide_slope = "0";
       },
       407, "minSlideSlope not within parameter bounds of [0...90]. Here: 0"},
      {"maxDepositionSlope 91",
       [](snow_section_text& s) {
         s.method = "6";
         s.max_deposition_slope = "91";
       },
       405, "maxDepositionSlope not within parameter bounds of [0...90] Here: 91"},
      {"maxDepositionSlope -1",
       [](snow_section_text& s) {
         s.method = "10";
         s.max_deposition_slope = "-1";
       },
       405, "maxDepositionSlope not within parameter bounds of [0...90] Here: -1"},
      {"maxDepositionFactor 0",
       [](snow_section_text& s) {
         s.method = "6";
         s.max_deposition_factor = "0";
       },
       406, "maxDepositionFactor not within parameter bounds of (0...inf). Here: 0"},
      {"slideMassFrac 1.5",
       [](snow_section_text& s) {
         s.method = "6";
         s.slide_mass_fraction = "1.5";
       },
       408, "slideMassFrac not within parameter bounds of (0...1.0]. Here: 1.5"},
      {"line 42 empty",
       [](snow_section_text& s) {
         s.method = "5";
         s.line42 = "";
       },
       404, "cannot read additional parameters for snow model methods 5 to 11 from "},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    snow_section_text s;
    r.change(s);
    f.write(s);
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, r.status);
    EXPECT_NE(f.console().find(r.message), std::string::npos) << f.console();
  }
}

TEST(SnowSetUp, AcceptedSectionsAndTheDefaultsOfUnreadLines) {
  struct row {
    const char* what;
    edit change;
    double max_slope, factor, min_slide, mass, lw_in, lw_out, scaling;  // as kept
    double T0R;
    bool enbal_warning, threshold_error;
  } rows[] = {
      {"method 1 ends after line 41", [](snow_section_text&) {}, 55, 1, 30, 0.01, 1, 1, 1, 0, false,
       false},
      {"method 4 ends after line 41", [](snow_section_text& s) { s.method = "4"; }, 55, 1, 30, 0.01,
       1, 1, 1, 0, false, false},
      {"method 5 reads every line",
       [](snow_section_text& s) {
         s.method = "5";
         s.max_deposition_slope = "40";
         s.max_deposition_factor = "2";
         s.min_slide_slope = "35";
         s.slide_mass_fraction = "1";
         s.lw_in = "3";
         s.lw_out = "0.5";
       },
       40, 2, 35, 1, 3, 0.5, 1.2, 0, false, false},
      {"maxDepositionSlope 0 is accepted",
       [](snow_section_text& s) {
         s.method = "8";
         s.max_deposition_slope = "0";
       },
       0, 1, 30, 0.01, 1, 1, 1.2, 0, false, false},
      {"line 63 missing: warning and 1.0",
       [](snow_section_text& s) {
         s.method = "5";
         s.line63 = "";
       },
       55, 1, 30, 0.01, 1, 1, 1.0, 0, true, false},
      {"T0R -1 below T0 0: ERROR and T0R 0", [](snow_section_text& s) { s.values[1] = "-1"; }, 55,
       1, 30, 0.01, 1, 1, 1, 0, false, true},
      {"T0R 2 above T0 1 stays",
       [](snow_section_text& s) {
         s.values[1] = "2";
         s.values[2] = "1";
       },
       55, 1, 30, 0.01, 1, 1, 1, 2, false, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    snow_section_text s;
    r.change(s);
    f.write(s);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    const snow_parameters& p = m->get_parameters();
    EXPECT_EQ(p.maxDepositionSlope, r.max_slope);
    EXPECT_EQ(p.maxDepositionFactor, r.factor);
    EXPECT_EQ(p.minSlideSlope, r.min_slide);
    EXPECT_EQ(p.slideMassFrac, r.mass);
    EXPECT_EQ(p.LWINcorr, r.lw_in);
    EXPECT_EQ(p.LWOUTcorr, r.lw_out);
    EXPECT_EQ(p.EnBalScaling, r.scaling);
    EXPECT_EQ(p.T0R, r.T0R);
    EXPECT_EQ(f.console().find("Could not read the optional parameter EnBalScaling (double),\n"
                               "for snow melt methods with energy ba\xF6"
                               "ance that will be used "
                               "for scaling the energy balance (i.e. affect melt rates)\nSetting "
                               "default values of 1.0") != std::string::npos,
              r.enbal_warning)
        << f.console();
    EXPECT_EQ(f.console().find("T0R (threshold temperature rain/snow) < T0 (threshold "
                               "temperature snow melt)") != std::string::npos,
              r.threshold_error);
    EXPECT_EQ(m->get_method(), std::stoi(s.method));
    m->release();
  }
}

TEST(SnowSetUp, PublishesItsGridsInConsecutiveEntriesByMethod) {
  const std::vector<std::string> common_head = {"snowstorage_solid", "snowstorage_liquid",
                                                "snow_storage_total", "days_snow", "snow_age"};
  const std::vector<std::string> common_tail = {"snow_fraction", "rain_fraction",
                                                "snowcover_outflow", "melt_from_snowcover"};
  struct row {
    const char* method;
    std::vector<std::string> middle;
  } rows[] = {
      {"1", {}},
      {"5", {"snowtemp", "surftemp"}},
      {"7",
       {"snowtemp", "surftemp", "max_deposition", "elev_order_row", "elev_order_col", "input_mass",
        "mobile_mass", "deposition"}},
      {"10", {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string("method ") + r.method);
    snow_fixture f;
    snow_section_text s;
    s.method = r.method;
    f.write(s);
    const int first = f.store.first_free(1);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    std::vector<std::string> expected = common_head;
    expected.insert(expected.end(), r.middle.begin(), r.middle.end());
    expected.insert(expected.end(), common_tail.begin(), common_tail.end());
    for (size_t k = 0; k < expected.size(); ++k)
      EXPECT_EQ(f.store[first + static_cast<int>(k)].grid_name.value_or(""), expected[k]) << k;
    EXPECT_FALSE(f.store[first + static_cast<int>(expected.size())].grid_name.has_value());
    // Storages start empty; the pack temperatures start unknown.
    EXPECT_EQ(f.grid("snowstorage_solid")[2][3], 0);
    if (!r.middle.empty()) {
      EXPECT_EQ(f.grid("snowtemp")[1][1], -9999);
    }
    EXPECT_EQ(m->get_solid_snow_storage(), &f.grid("snowstorage_solid"));
    m->release();
    // Released: every entry of the module is free again.
    EXPECT_EQ(f.store.first_free(1), first);
  }
}

TEST(SnowSetUp, RequiredGridsDependOnMethodAndStep) {
  struct row {
    const char* what;
    const char* method;
    int interval;      // [min]
    const char* gone;  // grid taken out of the store
    int status;
  } rows[] = {
      {"1440 minutes need the night temperature", "1", 1440, "temperature_night", 33},
      {"60 minutes do not", "1", 60, "temperature_night", 0},
      {"degree-day needs no wind", "1", 60, "wind_speed", 0},
      {"temperature-wind index needs wind", "2", 60, "wind_speed", 33},
      {"method 4 needs the vapour pressure", "4", 60, "vapor_pressure", 33},
      {"energy balance needs the cloudiness", "5", 60, "cloudiness", 33},
      {"deposition methods need the index", "10", 60, "deposition_index", 33},
      {"slides need slide fractions", "8", 60, "slidefraction4", 33},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    snow_section_text s;
    s.method = r.method;
    s.interval = r.interval;
    f.write(s);
    f.store[f.index_of(r.gone)].grid_name = "taken_out";
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, r.status) << f.console();
    if (r.status != 0) {
      EXPECT_NE(f.console().find(r.gone), std::string::npos);
    }
  }
}

TEST(SnowSetUp, SlideSetUpDepositionCapacityAndElevationOrder) {
  snow_fixture f;
  snow_section_text s;
  s.method = "8";
  s.max_deposition_factor = "2";
  s.max_deposition_slope = "40";
  f.write(s);
  // Elevations [m] with ties; a cell outside the zone grid in row 2.
  const double heights[2][3] = {{5, 7, 5}, {7, 1, 5}};
  const double slopes[2][3] = {{0, 10, 40}, {60, 30, -9999}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) {
      f.grid("[elevation_model]")[r][c] = heights[r - 1][c - 1];
      f.grid("slope_angle")[r][c] = slopes[r - 1][c - 1];
    }
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();
  EXPECT_TRUE(m->holds_full_grid());
  // 2 (1 - slope / 40), 0 from 40 degrees on; a nodata slope counts as flat.
  const double capacity[2][3] = {{2, 1.5, 0}, {0, 0.5, 2}};
  // Highest first, ties the later row-major cell first, by hand:
  // (2,1) 7, (1,2) 7, (2,3) 5, (1,3) 5, (1,1) 5, (2,2) 1.
  const int order[6][2] = {{2, 1}, {1, 2}, {2, 3}, {1, 3}, {1, 1}, {2, 2}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) {
      const int k = (r - 1) * 3 + (c - 1);
      EXPECT_DOUBLE_EQ(f.grid("max_deposition")[r][c], capacity[r - 1][c - 1]) << r << c;
      EXPECT_EQ(f.grid("elev_order_row")[r][c], order[k][0]) << r << c;
      EXPECT_EQ(f.grid("elev_order_col")[r][c], order[k][1]) << r << c;
    }
  m->release();
}

TEST(SnowSetUp, ZeroDepositionSlopeDepositsNowhere) {
  snow_fixture f;
  snow_section_text s;
  s.method = "9";
  s.max_deposition_slope = "0";
  f.write(s);
  f.grid("slope_angle")[1][1] = 0;
  f.grid("slope_angle")[2][2] = 45;
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(f.grid("max_deposition")[r][c], 0) << r << c;
  m->release();
}

TEST(SnowSetUp, ExistingDepositionCapacityIsUsed) {
  snow_fixture f;
  snow_section_text s;
  s.method = "6";
  f.write(s);
  f.publish("max_deposition")[1][1] = 7;
  int status = -1;
  auto m = f.build(status);
  ASSERT_EQ(status, 0) << f.console();
  EXPECT_EQ(f.grid("max_deposition")[1][1], 7);
  m->release();
}

TEST(SnowSetUp, ReadgridOneReadsStoragesAndFillsHoles) {
  const std::string full = "1 2 3\n4 5 6\n";
  const std::string empty = "-9999 -9999 -9999\n-9999 -9999 -9999\n";
  struct row {
    const char* what;
    std::string solid, snowtemp;
    int status;
    double solid_13, snowtemp_13;  // cell (1,3) after reading
  } rows[] = {
      {"whole grids", full, "260 261 262\n263 264 265\n", 0, 3, 262},
      {"temperature hole takes its neighbour", full, "260 -9999 -9999\n-9999 -9999 -9999\n", 0, 3,
       260},
      {"temperature without any value: melting point", full, empty, 0, 3, 273.16},
      {"storage hole takes its neighbour", "1 2 -9999\n4 5 6\n", empty, 0, 2, 273.16},
      {"storage without any value: 25", empty, empty, 25, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    snow_section_text s;
    s.method = "5";
    s.readgrid = "1";
    s.line42 = "@DIR@/snowtemp.asc";
    f.write(s);
    f.write_grid("solid.asc", r.solid);
    for (const char* n : {"liquid.asc", "total.asc", "days.asc", "age.asc", "surftemp.asc"})
      f.write_grid(n, full);
    f.write_grid("snowtemp.asc", r.snowtemp);
    int status = -1;
    auto m = f.build(status);
    EXPECT_EQ(status, r.status) << f.console();
    if (r.status != 0) continue;
    EXPECT_EQ(f.grid("snowstorage_solid")[1][3], r.solid_13);
    EXPECT_EQ(f.grid("snowtemp")[1][3], r.snowtemp_13);
    EXPECT_EQ(f.grid("snow_age")[2][3], 6);
    m->release();
  }
}

TEST(SnowSetUp, InputGridIsChosenOnce) {
  struct row {
    const char* what;
    bool throughfall;  // "throughfall0" in the store
    char first;        // interception before snow
    const char* chosen;
  } rows[] = {
      {"interception after snow", true, 0, "precipitation"},
      {"interception before snow", true, 1, "throughfall0"},
      {"interception before snow without throughfall", false, 1, "precipitation"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    f.write(snow_section_text{});
    if (r.throughfall) f.publish("throughfall0");
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    m->select_input_grid(r.first);
    m->select_input_grid(r.first == 0 ? 1 : 0);  // a later call only keeps the flag
    EXPECT_EQ(m->get_input_grid(), &f.grid(r.chosen));
    m->release();
  }
}

TEST(SnowSetUp, MethodAndStorageOnlyFromAnActiveModule) {
  struct row {
    int flow_control;
    int method;  // as handed out
    bool storage;
  } rows[] = {{3, 5, true}, {1, 5, true}, {0, 0, false}, {-1, 0, true}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.flow_control);
    snow_fixture f;
    snow_section_text s;
    s.flow_control = r.flow_control;
    s.method = "5";
    f.write(s);
    const int first = f.store.first_free(1);
    int status = -1;
    auto m = f.build(status);
    ASSERT_EQ(status, 0) << f.console();
    m->select_input_grid(1);
    EXPECT_EQ(m->get_method(), r.method);
    EXPECT_EQ(m->get_solid_snow_storage() != nullptr, r.storage);
    EXPECT_EQ(m->get_input_grid() != nullptr, r.flow_control != 0);
    // An inactive module publishes nothing.
    EXPECT_EQ(f.store.first_free(1) == first, r.flow_control == 0);
    m->release();
  }
}

}  // namespace
