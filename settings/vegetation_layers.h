// The grids through which the modules see the vegetation, one set per
// vegetation layer: the land-use class of every layer of every cell, the
// vegetation parameters (root depth, coverage, leaf-area index, resistances,
// roughness), the vegetation period of the balance and the state of the
// dynamic phenology. The settings object makes them at set-up and keeps them
// current day by day; the grids themselves are published in the grid store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_part.h"

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

// The vegetation layers of a run and their daily update: the part of the
// settings object that makes the land-use grid of every layer (stage 13),
// the parameter and phenology grids at the start date (stage 14) and keeps
// them current step by step (settings/vegetation_phenology.cpp).
class vegetation_layer_grids : public settings_part {
 public:
  explicit vegetation_layer_grids(defaultini& owner) : settings_part(owner) {}

  // ---- stage 13, after the code check of the grid "landuse" ----
  // Without a grid "landuse" there is no layer list.
  void drop_layer_list();
  // Without a multilayer table the grid "landuse" (store entry
  // landuse_index) is layer 1 and is found only as "landuse1" afterwards.
  void take_single_layer(int landuse_index);
  // With a multilayer table: one land-use grid "landuse"k per layer k of
  // multilayer class 1, over the halo band, registered at the first free
  // store entries.
  void make_landuse_layer_grids();
  // After the grid "landuse" was read again and its codes replaced: the
  // layers' land-use grids follow it (own rows, then the halo rows).
  void refill_layer_grids();

  // ---- stage 14 ----
  void generate_parameter_grids(int layers);

  // ---- every step ----
  void update_landuse_parameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                 int dt_minutes);

  // Writes the start times of layer 1 (when made) and forgets every layer;
  // the grids themselves stay with the settings object until it frees them.
  void release();

  const vegetation_layer_set& grids() const { return vegetation; }
  // L: the layer count of multilayer class 1, 1 with a single layer, 0
  // without a grid "landuse".
  int layer_count() const { return landuse_layer_count; }
  // The land-use grid of layer k (0: the grid "landuse" itself), null when
  // there is none.
  const grid_matrix* landuse_layer(int k) const;

 private:
  int halo_first_row() const;
  int halo_last_row() const;
  // Zone value above nodata and "MPIRegions" equal to this process.
  bool own_valid_cell(int row, int col) const;
  // Day of the year with the model time's month lengths; throws 150 above 366.
  int model_day_of_year(int64_t day, int64_t month) const;

  void fill_layer_grids(int first, int last);
  // A grid of the parameter builder: the existing grid of that name, or a
  // new one over the halo band registered at the first free entry.
  grid_matrix* parameter_grid(const std::string& grid_name, int& index, unsigned write_code = 0);
  void make_moving_average_grid();
  void make_start_times_stack(int layer);
  void fill_start_times(int layer, int start_day_of_year);
  void fill_layer_parameters(int layer);

  void update_temperature_history();
  void dynamic_phenology(int julian_day, int layers);
  void update_layer_parameters(int layers);
  void raise_vegetation_flags();
  void count_vegetation_duration(int layers);

  // Element 0: the grid "landuse"; 1..L the layers' land-use grids.
  std::vector<grid_matrix*> landuse_layers{nullptr};
  int landuse_layer_count = 0;
  vegetation_layer_set vegetation;
};
