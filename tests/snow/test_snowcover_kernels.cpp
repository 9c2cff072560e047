// The cell physics of the snow cover: formulas against hand calculations and
// published references, the long-step edge case of the deposition index, and
// the mass closure of every method over a winter of daily and hourly steps.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "snow/snowcover_kernels.h"

namespace {

const int MONTH_DAYS[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

TEST(SnowCoverKernels, FormulasAgainstHandValuesAndReferences) {
  struct row {
    const char* what;  // source of the expected value
    double value, expected, tolerance;
  } rows[] = {
      // Hand: 1 + (3 - 1) * 31 and 31 + (12 - 1) * 31 (the month's own length).
      {"day number 1 March", double(seasonal_day_number(1, 3, MONTH_DAYS)), 63, 0},
      {"day number 31 December", double(seasonal_day_number(31, 12, MONTH_DAYS)), 372, 0},
      {"day number 15 January", double(seasonal_day_number(15, 1, MONTH_DAYS)), 15, 0},
      // Hand: sin((80 - 80) w) = 0 gives the mean.
      {"seasonal factor at day 80", seasonal_factor(2, 1, 18, 3, MONTH_DAYS), 2, 1e-12},
      // Hand: T0R 1, transzone 1, T 1.5: (1 + 1 - 1.5) / 2.
      {"split in the transition zone", snow_share(1.5, 1, 1), 0.25, 1e-15},
      {"split at its lower end", snow_share(0, 1, 1), 1, 0},
      {"split at its upper end", snow_share(2, 1, 1), 0, 0},
      {"transzone 0 at T0R: snow", snow_share(1, 1, 0), 1, 0},
      {"transzone 0 above T0R: rain", snow_share(1.0000001, 1, 0), 0, 0},
      // Hand: 0.4 + 0.5 exp(-0.05 * 10) and 0.4 + 0.5 exp(-0.12 * 10).
      {"albedo decay above 0 degC", snow_albedo(0.4, 0.9, 10, 1), 0.7032653, 1e-7},
      {"albedo decay at and below 0 degC", snow_albedo(0.4, 0.9, 10, 0), 0.5505971, 1e-7},
      // Hand: 0.18 + 0.098 * 2.
      {"f(u)", wind_function(2), 0.376, 1e-15},
      // sigma T^4 = 315.69 W m-2 at 273.16 K; * (0.61 + 0.05 sqrt 4) * (1 + 0.17 * 0.5^2).
      {"LW_in, no precipitation, cloudiness 0.5", incoming_longwave(1, 273.16, 4, 0.5, false),
       233.661, 1e-3},
      // 1.1 * sigma 263.16^4 * (0.61 + 0.05 * 1.5) * (1 + 0.24 * 0.9^2).
      {"LW_in with precipitation", incoming_longwave(1.1, 263.16, 2.25, 0.9, true), 244.735, 1e-3},
      // Hand: 18.85 * 0.376 * 2.
      {"H", sensible_heat(2, 275.16, 273.16), 14.1752, 1e-10},
      // Hand: 32.82 * 0.474 * (5 - 4.01431), e_i(-5 degC) = 4.01431 hPa.
      {"Q_L", latent_heat(3, 5, 268.16), 15.3341, 1e-3},
      // ICAO standard atmosphere: 898.76 hPa at 1000 m.
      {"p(1000 m)", standard_pressure(1000), 898.76, 0.01},
      {"p(0 m)", standard_pressure(0), 1013.25, 1e-12},
      // The vapour pressure of the rain-on-snow rule of method 3 at -5 degC.
      {"e of method 3 at -5 degC", ice_saturation_pressure(-5), 4.014, 1e-3},
  };
  for (const row& r : rows) EXPECT_NEAR(r.value, r.expected, r.tolerance) << r.what;
}

// Magnus forms of WMO-No. 8 (2008), Annex 4.B (Sonntag 1990) [hPa].
double wmo_water(double t) { return 6.112 * std::exp(17.62 * t / (243.12 + t)); }
double wmo_ice(double t) { return 6.112 * std::exp(22.46 * t / (272.62 + t)); }

TEST(SnowCoverKernels, VapourPressuresFollowTheMagnusFormsOfWmo) {
  for (double t = 0; t <= 40; t += 5)
    EXPECT_NEAR(water_vapor_pressure(t) / wmo_water(t), 1, 0.005) << "water at " << t;
  for (double t = -30; t <= 0; t += 5)
    EXPECT_NEAR(ice_vapor_pressure(t) / wmo_ice(t), 1, 0.002) << "ice at " << t;
  // The water form is used above 0 degC only: far below it departs.
  EXPECT_GT(std::fabs(water_vapor_pressure(-20) / wmo_water(-20) - 1), 0.01);
  // 4.01 hPa over ice at -5 degC, not the 3.12 of a wrong constant.
  EXPECT_NEAR(ice_vapor_pressure(-5), 4.014, 0.001);
}

snow_cover_params params_of(int method, double interval) {
  snow_cover_params p;
  p.method = method;
  p.T0R = 1;
  p.transzone = 1;
  p.T0 = 0;
  p.CWH = 0.1;
  p.CRFR = 0.5;
  p.C0 = 3;
  p.C1 = 2;
  p.C2 = 0.5;
  p.interval_min = interval;
  p.steps_per_day = 1440 / interval;
  return p;
}

TEST(SnowCoverKernels, PotentialMeltOfTheTemperatureRules) {
  struct row {
    const char* what;
    int method;
    double interval;  // [min]
    double t, input, wind, vapor;
    bool correction;
    double expected;  // [mm] by hand
  } rows[] = {
      // C0 3, T 5, T0 0: 15 mm per day.
      {"degree day, daily", 1, 1440, 5, 0, 0, 0, false, 15},
      {"degree day, hourly", 1, 60, 5, 0, 0, 0, false, 0.625},
      {"degree day with slides", 8, 60, 5, 0, 0, 0, false, 0.625},
      // (2 + 0.5 * 2) * 4 / 24.
      {"temperature-wind", 2, 60, 4, 0, 2, 0, false, 0.5},
      {"temperature-wind with deposition", 13, 60, 4, 0, 2, 0, false, 0.5},
      // RMF 2.5, r = (1 + 0.6) / 2: (2 - 0) * 2.5 * 0.8 / 24; P 0.09 is below 0.1.
      {"radiation rule, method 4", 4, 60, 2, 0.09, 2, 8, true, 1.0 / 6},
      {"radiation rule without correction", 3, 60, 2, 0, 2, 8, false, 2.0 * 2.5 / 24},
      // 3 (8 - 6.11) / (0.662 * 24) + 0.6 * 2 / 24 + 3 * 2 / 24 + 0.006 * 2 * 0.11.
      {"rain on snow from 0.1 mm per hour", 4, 60, 2, 0.11, 2, 8, false, 0.6581931},
      {"cold step melts nothing", 1, 60, -1, 0, 0, 0, false, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const snow_cover_params p = params_of(r.method, r.interval);
    snow_forcing in;
    in.t_c = r.t;
    in.input = r.input;
    in.wind = r.wind;
    in.vapor_pressure = r.vapor;
    in.has_correction = r.correction;
    in.correction = 0.6;
    in.rmf = 2.5;
    snow_part part;
    part.solid = part.total = 100;
    snow_fractions fractions;
    const snow_call_result result = update_snow_cover(p, in, part, fractions, 1, false);
    EXPECT_NEAR(result.melt, r.expected, 1e-7);
  }
}

TEST(SnowCoverKernels, HoldingCapacityAndOutflow) {
  struct row {
    double solid, liquid, melt, CWH;
    double outflow, moved, solid_after, liquid_after;  // by hand
  } rows[] = {
      {100, 0, 20, 0.1, 12, 20, 80, 8},  // 20 melt, 8 held of 80
      {100, 5, 0, 0.1, 0, 0, 100, 5},    // below capacity: nothing leaves
      {10, 2, 30, 0.1, 12, 10, 0, 0},    // melt above the pack: all leaves
      {50, 0, 5, 0, 5, 5, 45, 0},        // no holding capacity
      {50, 3, -2, 0.1, 0, 0, 50, 3},     // a negative melt (dry rain on snow) moves nothing
  };
  for (const row& r : rows) {
    snow_part part;
    part.solid = r.solid;
    part.liquid = r.liquid;
    double moved = -1;
    EXPECT_DOUBLE_EQ(release_liquid(r.CWH, r.melt, part, moved), r.outflow);
    EXPECT_DOUBLE_EQ(moved, r.moved);
    EXPECT_DOUBLE_EQ(part.solid, r.solid_after);
    EXPECT_DOUBLE_EQ(part.liquid, r.liquid_after);
    EXPECT_DOUBLE_EQ(part.total, r.solid_after + r.liquid_after);
  }
}

TEST(SnowCoverKernels, DailyStepWithDepositionRaisesTheInputInBothCalls) {
  for (int method : {7, 9}) {
    SCOPED_TRACE(method);
    const snow_cover_params p = params_of(method, 1440);
    snow_forcing in;
    in.input = 10;
    in.deposition_index = 0.5;
    in.humidity = 0.8;
    in.cloudiness = 0.5;
    snow_part part;
    snow_fractions fractions;
    const snow_step_result r = snow_part_step(p, in, -5, -5, 0.4, part, fractions);
    // Night: 10 -> 15, adds 0.4 * 15; day: 15 -> 22.5, adds 0.6 * 22.5.
    EXPECT_DOUBLE_EQ(in.input, 22.5);
    EXPECT_DOUBLE_EQ(r.added, 6 + 13.5);
    EXPECT_DOUBLE_EQ(fractions.snow, 22.5);  // f = 1 of the present input
    EXPECT_DOUBLE_EQ(fractions.rain, 0);
  }
}

TEST(SnowCoverKernels, LakeCellsTakeAllTheirInputAsRain) {
  const snow_cover_params p = params_of(1, 60);
  snow_forcing in;
  in.input = 4;
  in.t_c = -10;
  in.lake = true;
  snow_part part;
  snow_fractions fractions;
  update_snow_cover(p, in, part, fractions, 1, false);
  EXPECT_EQ(fractions.rain, 4);
  EXPECT_EQ(part.solid, 0);
  EXPECT_EQ(part.liquid, 4);
}

TEST(SnowCoverKernels, EnergyBalanceWithoutSnowForgetsItsTemperatures) {
  for (double t : {-5.0, 5.0}) {
    SCOPED_TRACE(t);
    const snow_cover_params p = params_of(5, 60);
    snow_forcing in;
    in.t_c = t;
    snow_part part;
    part.pack_temperature = 270;
    part.surface_temperature = 268;
    snow_fractions fractions;
    update_snow_cover(p, in, part, fractions, 1, false);
    EXPECT_EQ(part.pack_temperature, SNOW_MISSING);
    EXPECT_EQ(part.surface_temperature, SNOW_MISSING);
  }
}

TEST(SnowCoverKernels, SnowDaysAgeAndAlbedoAtTheSnowFreeLimit) {
  struct row {
    const char* what;
    double total, input, t;
    double days, age, albedo;  // by hand; age starts at 2 d, land-use albedo 0.2
  } rows[] = {
      {"5 mm is snow-free", 5, 3, -2, 0, 2 + 1.0 / 24, 0.2},
      {"fresh snow resets the age", 5.01, 3, -2, 1.0 / 24, 0, 0.9},
      {"no fresh snow: the age grows", 20, 0.5, -2, 1.0 / 24, 2 + 1.0 / 24,
       0.4 + 0.5 * std::exp(-0.12 * (2 + 1.0 / 24))},
      {"rain above T0R + transzone: the age grows", 20, 3, 2.5, 1.0 / 24, 2 + 1.0 / 24,
       0.4 + 0.5 * std::exp(-0.05 * (2 + 1.0 / 24))},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_tail_state s;
    s.age = 2;
    snow_tail(params_of(1, 60), 0.4, 0.9, r.t, r.input, r.total, 0.2, s);
    EXPECT_DOUBLE_EQ(s.days_snow, r.days);
    EXPECT_DOUBLE_EQ(s.age, r.age);
    EXPECT_NEAR(s.albedo, r.albedo, 1e-12);
  }
}

TEST(SnowCoverKernels, PermafrostThawDepth) {
  const permafrost_params p{10, 3};  // snow-free up to 10 mm, refreeze after 3 days of snow
  struct row {
    const char* what;
    double total, cover, free_days, thaw, root;
    double cover_after, free_after, thaw_after, root_after;  // by hand, daily steps
  } rows[] = {
      {"snow-free: sqrt(4) * 0.1", 5, 2, 3, 0.17, 0.5, 0, 4, 0.2, 0.2},
      {"deep roots are cut to the thaw depth only", 5, 0, 8, 0.2, 0.1, 0, 9, 0.3, 0.1},
      {"snow for less than 3 days keeps the thaw", 20, 1, 5, 0.2, 0.5, 2, 5, 0.2, 0.2},
      {"snow for 3 days refreezes", 20, 2, 5, 0.2, 0.5, 3, 0, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    permafrost_cell c{r.cover, r.free_days, r.thaw, r.root};
    permafrost_tail(p, r.total, 1, 0.1, c);
    EXPECT_DOUBLE_EQ(c.cover_days, r.cover_after);
    EXPECT_DOUBLE_EQ(c.free_days, r.free_after);
    EXPECT_NEAR(c.thaw_depth, r.thaw_after, 1e-15);
    EXPECT_NEAR(c.root_depth, r.root_after, 1e-15);
  }
}

TEST(SnowCoverKernels, TracerInputAndRelease) {
  struct row {
    const char* what;
    bool evaporating;
    double stored, c_in, snow_water, input;
    double after_input;
    double outflow, liquid, solid, c_max;
    double concentration, after_release;  // by hand
  } rows[] = {
      // Mass 50 + 10 * 2 = 70; min(10 * 100, 70 * 10 / 100) = 7 leaves, at 0.7.
      {"mass", false, 50, 2, 80, 10, 70, 10, 5, 85, 100, 0.7, 63},
      // The same limited by c_max 0.5: 5 leaves.
      {"mass at most c_max", false, 50, 2, 80, 10, 70, 10, 5, 85, 0.5, 0.5, 65},
      // Concentration (1 * 90 + 3 * 10) / 100, leaving at the stored value.
      {"concentration", true, 1, 3, 90, 10, 1.2, 10, 5, 85, 100, 1.2, 1.2},
      {"no input, no water", false, 5, 2, 0, 0, 5, 0, 0, 0, 100, 0, 5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    double stored = tracer_after_input(r.evaporating, r.stored, r.c_in, r.snow_water, r.input);
    EXPECT_NEAR(stored, r.after_input, 1e-12);
    EXPECT_NEAR(tracer_release(r.evaporating, stored, r.outflow, r.liquid, r.solid, r.c_max),
                r.concentration, 1e-12);
    EXPECT_NEAR(stored, r.after_release, 1e-12);
  }
}

// A winter of forcing: cold spells with snowfall, thaws with rain, dry
// sunny days; the same sequence for every method and step length.
snow_forcing winter_forcing(int step, double steps_per_day, double& t_day, double& t_night) {
  const double day = step / steps_per_day;
  snow_forcing in;
  t_day = -12 + 16 * std::sin(day / 9) + 3 * std::sin(day * 6.283);
  t_night = t_day - 4;
  in.input = std::fmod(day, 5) < 2 ? 12 / steps_per_day : 0;
  in.wind = 1 + std::fabs(std::sin(day));
  in.humidity = 0.6 + 0.3 * std::fabs(std::cos(day / 3));
  in.cloudiness = std::fmod(day, 3) / 3;
  in.vapor_pressure = 4;
  // A mean flux of 150 W m-2 as Wh m-2 per step.
  in.radiation = 150 * (1 + std::sin(day / 20)) * (24 / steps_per_day);
  in.albedo = 0.7;
  in.elevation = 1500;
  in.deposition_index = 0.3;
  in.rmf = 2;
  return in;
}

TEST(SnowCoverKernels, MassClosureOfEveryMethodOverAWinter) {
  for (double interval : {1440.0, 60.0}) {
    for (int method = 1; method <= 14; ++method) {
      SCOPED_TRACE("method " + std::to_string(method) + ", step " + std::to_string(int(interval)) +
                   " min");
      const snow_cover_params p = params_of(method, interval);
      const int steps = static_cast<int>(150 * p.steps_per_day);
      snow_part part;
      snow_fractions fractions;
      double added = 0, outflow = 0, sublimation = 0, raised = 0, largest = 0;
      for (int k = 0; k < steps; ++k) {
        double t_day = 0, t_night = 0;
        snow_forcing in = winter_forcing(k, p.steps_per_day, t_day, t_night);
        const double given = in.input;
        const snow_step_result r = snow_part_step(p, in, t_day, t_night, 0.6, part, fractions);
        added += r.added;
        outflow += r.outflow;
        sublimation += r.sublimation;
        raised += in.input - given;
        largest = std::max(largest, part.total);
        ASSERT_GE(part.solid, 0) << k;
        ASSERT_GE(part.liquid, 0) << k;
        ASSERT_DOUBLE_EQ(part.total, part.solid + part.liquid) << k;
      }
      // W starts at 0: what is left is what came in less what left.
      EXPECT_NEAR(part.total, added - outflow - sublimation, 1e-9);
      // The winter builds a pack that releases water: the closure is not trivial.
      EXPECT_GT(largest, 50);
      EXPECT_GT(outflow, 1);
      EXPECT_EQ(raised > 0, method == 7 || method == 9 || method == 10 || method == 11 ||
                                method == 13 || method == 14);
    }
  }
}

}  // namespace

namespace {

TEST(SnowCoverKernels, GlacierMeltOfSnowFirnAndIce) {
  glacier_melt_params base;
  base.T0 = 0;
  base.steps_per_day = 24;
  base.DDFice = 8;
  base.DDFfirn = 6;
  base.DDFsnow = 4;
  base.MF = 2.4;
  base.debris_scaling = 0.5;
  struct row {
    const char* what;
    int method, code;
    double firn_total, snow_melt, debris;
    double firn, ice;  // [mm] by hand, T 3 degC, hourly, A_ice 0.02, A_snow 0.01, I 10
  } rows[] = {
      // 8 * 0.8 * 0.5 * 3 / 24 - 0.1.
      {"static ice with debris", 1, 1, 0, 0.1, 0.8, 0, 0.3},
      // 6 * 3 / 24 - 0.1.
      {"static firn", 1, 2, 0, 0.1, 1, 0.65, 0},
      {"static firn below the snow melt", 1, 2, 0, 1, 1, 0, 0},
      // 3 * 1 * 0.5 * (0.1 + 0.02 * 10).
      {"static ice with radiation", 2, 1, 0, 0, 1, 0, 0.45},
      // 3 * (0.1 + 0.01 * 10).
      {"static firn with radiation", 2, 2, 0, 0, 1, 0.6, 0},
      {"dynamic firn", 11, 0, 5, 0, 1, 0.75, 0},
      {"dynamic ice where the firn is gone", 11, 0, 0, 0, 1, 0, 0.5},
      {"dynamic ice with radiation", 13, 0, 0, 0.05, 1, 0, 0.4},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    glacier_melt_params p = base;
    p.method = r.method;
    const glacier_melt m =
        glacier_surface_melt(p, 3, r.code, r.firn_total, r.snow_melt, r.debris, 0.02, 0.01, 10);
    EXPECT_NEAR(m.firn, r.firn, 1e-12);
    EXPECT_NEAR(m.ice, r.ice, 1e-12);
  }
  glacier_melt_params p = base;
  p.method = 1;
  EXPECT_DOUBLE_EQ(glacier_snow_melt(p, 3, 10, 0, 0), 0.5);  // 4 * 3 / 24
  EXPECT_EQ(glacier_snow_melt(p, 3, 0, 0, 0), 0);            // no snow at the last step
  EXPECT_EQ(glacier_snow_melt(p, 0, 10, 0, 0), 0);           // not warm
  p.method = 12;
  EXPECT_DOUBLE_EQ(glacier_snow_melt(p, 3, 10, 0.01, 10), 0.6);
}

TEST(SnowCoverKernels, FirnLayersGiveUpTheirWaterFromTheYoungest) {
  struct row {
    const char* what;
    double layers[4];  // element 0 the total
    double amount;
    double after[4], rest;
  } rows[] = {
      {"from layer 1 only", {30, 10, 10, 10}, 4, {26, 6, 10, 10}, 0},
      {"across layers, a missing one counts 0", {20, 5, -9999, 15}, 12, {8, 0, 0, 8}, 0},
      {"more than all firn: the rest is ice", {9, 3, 3, 3}, 20, {0, 0, 0, 0}, 11},
      {"nothing to take", {9, 3, 3, 3}, -1, {9, 3, 3, 3}, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    double layers[4] = {r.layers[0], r.layers[1], r.layers[2], r.layers[3]};
    EXPECT_DOUBLE_EQ(take_from_firn(layers, 3, r.amount), r.rest);
    for (int l = 0; l < 4; ++l) EXPECT_DOUBLE_EQ(layers[l], r.after[l]) << l;
  }
}

}  // namespace
