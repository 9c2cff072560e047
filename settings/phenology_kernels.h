// Dynamic phenology of one vegetation layer of one cell for one day: when the
// season starts (and, for the fourth method, when leaves fall) follows the
// temperatures the cell has seen instead of fixed Julian days.
//
// Four models, chosen by the land-use class's method:
// - model 1 (DynamicPhenology_1, and DynamicPhenology_2 and _4 while the
//   class's phenology_done flag is set): forcing units from a sigmoid of the
//   daily mean, summed from DP1_t1_dorm on, start when the sum passes F*;
// - model 2 (DynamicPhenology_2): chilling units of the dormant season set the
//   forcing threshold a exp(b K), forcing as in model 1;
// - model 3 (DynamicPhenology_3): degree days move every sample point that
//   has a forcing threshold;
// - model 4 (DynamicPhenology_4): chilling days set the threshold a + b ln K,
//   forcing in degree days, and five cold days in a row of the 7-day mean
//   start leaf fall.
// The sigmoid is 28.4 / (1 + exp(-0.185 (T - B - 18.4))) forcing units a day.
#pragma once

#include "tables/landuse.h"

// The state of one layer of one cell, with pointers into the shared cell
// grids that the model may move (null when the grid does not exist).
struct phenology_cell {
  double pheno_start = -1;            // P [Julian day], -1 = not yet
  double forcing_sum = 0;             // S [forcing units or degree days]
  double chilling_sum = 0;            // K [chilling units or days]
  double threshold = 0;               // F [forcing units]
  double* start_days = nullptr;       // q[0..n] "MultipleStartTimes" of the cell
  double* leaf_fall_start = nullptr;  // "StartDayOfLeaveFall" of the cell
  double* cold_days = nullptr;        // days in a row below DP4_T_xylstop
};

struct phenology_weather {
  double temperature = 0;                   // [degC] daily mean of the day
  double moving_average = 0;                // [degC] mean of the last seven daily means
  const double* root_zone_theta = nullptr;  // "MeanThetaInRootZone", null when absent
};

// Forcing units of a day at mean temperature t over the base temperature.
double forcing_sigmoid(double t, double base);
// Chilling units of a day (model 2): a triangle from DP2_Offset_1 through
// 1 at DP2_T_Bc to DP2_Offset_2.
double chilling_units(const landuse_entry& e, double t);
// The factor on a day's forcing units from the root-zone water content: 1 +
// g StressFactorDynPhen with g = (theta - HReduDry) / (150 - HReduDry) above
// HReduDry, 1 when the weight is 0 or the water content is unknown.
double forcing_factor(const landuse_entry& e, const double* root_zone_theta);
// The sample point a cell works on: from l = 1 on, the first point not yet
// passed on day a (or a point not reached, or the last before a missing one),
// at most n.
int start_point_index(const double* q, int n, int a);

// One day a (Julian day of the model time) of the phenology of class e.
void phenology_day(const landuse_entry& e, int a, const phenology_weather& w, phenology_cell& c);
