// The grids through which the modules see the vegetation, one set per
// vegetation layer: the land-use class of every layer of every cell, the
// vegetation parameters (root depth, coverage, leaf-area index, resistances,
// roughness), the vegetation period of the balance and the state of the
// dynamic phenology. The settings object makes them at set-up and keeps them
// current day by day; the grids themselves are published in the grid store.
#pragma once

#include <cstdint>
#include <vector>

class grid_matrix;
class stack_matrix;

// Per layer 1..L (element 0 unused) a grid and its grid-store index.
struct layer_grid_list {
  std::vector<grid_matrix*> grid;
  std::vector<int> index;
  void resize(int layers) {
    grid.assign(static_cast<size_t>(layers) + 1, nullptr);
    index.assign(static_cast<size_t>(layers) + 1, 0);
  }
  grid_matrix& operator[](int layer) const { return *grid[static_cast<size_t>(layer)]; }
};

struct vegetation_layer_set {
  int layers = 0;                  // L
  bool made = false;               // the parameter grids exist (multilayer runs only)
  bool dynamic_phenology = false;  // some class has method 3, 4, 5 or 6
  bool start_day_series = false;   // some class has method 5 or 6
  int max_sample_days = 0;         // largest number of sample days of any class

  layer_grid_list root_depth;               // "root_depth" [m]
  layer_grid_list coverage;                 // "vegetation_coverage_degree" [-]
  layer_grid_list leaf_area_index;          // "leaf_area_index" [m2 m-2]
  layer_grid_list canopy_resistance;        // "SurfaceCanopyResistance" [s m-1]
  layer_grid_list interception_resistance;  // "SurfaceIntercepResistance" [s m-1]
  layer_grid_list roughness;                // "RoughnessLength" [m]
  layer_grid_list vegetation_start;         // "VegetationStart" [Julian day], -1 not yet
  layer_grid_list vegetation_stop;          // "VegetationStop" [Julian day], -1 not yet
  layer_grid_list vegetation_duration;      // "VegetationDuration" [steps]

  // Dynamic phenology (with the flag only).
  layer_grid_list forcing_sum;   // "SumOfForcingUnits"
  layer_grid_list pheno_start;   // "Pheno_start" [Julian day], -1 not yet
  layer_grid_list chilling_sum;  // "SumOfChillingUnits"
  layer_grid_list threshold;     // "FStar_ForcingThreshold"
  // "MultipleStartTimes" (with start-day series only): per layer a stack of
  // levels 0..max_sample_days over rows 1..nrows, with a grid of its own.
  std::vector<stack_matrix*> start_times;
  layer_grid_list start_times_grid;

  grid_matrix* albedo = nullptr;                  // "albedo" [-]
  grid_matrix* evaporation_resistance = nullptr;  // "SurfaceEvaporationResistance" [s m-1]
  int evaporation_resistance_index = 0;
  grid_matrix* temperature_sum = nullptr;  // "TemperatureAVG" [degC]
  int temperature_sum_index = 0;
  grid_matrix* leaf_fall_start = nullptr;  // "StartDayOfLeaveFall" [Julian day]
  int leaf_fall_start_index = 0;
  grid_matrix* moving_average = nullptr;  // "TemperatureMOVAV" [degC]
  // Its stack: per cell [0] days in a row below the leaf-fall temperature,
  // [1..7] the daily means of the last seven days, [1] the newest.
  stack_matrix* temperature_history = nullptr;
  int moving_average_index = 0;
  int history_days = 0;  // daily means held, 0..7

  // Inputs of the daily update, found at its first step.
  const grid_matrix* temperature = nullptr;      // "temperature" [degC]
  const grid_matrix* root_zone_theta = nullptr;  // "MeanThetaInRootZone", optional

  // The date of the last day change (hour, day, month, year).
  int64_t date_hour = 0, date_day = 0, date_month = 0, date_year = 0;
};
