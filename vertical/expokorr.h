// expokorrklasse: the correction factor of direct solar radiation for slope,
// aspect and terrain shading, and the temperature modified by it. The factor
// is the potential direct radiation on the (shaded) cell surface over the
// potential direct radiation on a horizontal unshaded surface, both summed
// over the splits of a step; the kernels are in vertical/expokorr_kernels.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class expokorrklasse : public teilmodellklasse {
 public:
  expokorrklasse(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                 const std::string& section, grid_store* store, const settings_context& settings);

  // The "radiation_correction" grid when the flow-control value is exactly 1.
  virtual const grid_matrix* get_radiation_correction();

  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  int get_method() const { return method; }
  int get_splittings() const { return splittings; }
  int get_timestep_count() const { return timestep_count; }
  double get_horizontal_beam_sum() const { return horizontal_beam_sum; }

 private:
  void set_up();
  void read_section();
  void take_grids();
  void register_owned_grids();
  grid_matrix new_band_grid(int first, int last);
  bool own_cell(int row, int col) const;
  // Calls f(row, col) for every own cell, rows shared statically among the
  // threads; f writes only its own cell.
  template <class F>
  void for_own_cells(F&& f) const {
#pragma omp parallel for schedule(static)
    for (int r = first_row; r <= last_row; ++r) {
      const int c_first = strips != nullptr ? (*strips)[r].first : 1;
      const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
      for (int c = c_first; c <= c_last; ++c)
        if (own_cell(r, c)) f(r, c);
    }
  }
  void start_values();
  void run_splits(double hour, int day, int month, double sunrise, double sunset);
  void walk_shadows(double azimuth, double elevation);
  void add_split_incidence(bool night, double azimuth, double zenith);
  void finish_step();

  double inverse_splittings = 0;
  double split_centre = 0;         // [h]
  double step_end = 0;             // [h]
  double horizontal_beam_sum = 0;  // [Wh m-2]
  int method = 2;
  grid_matrix correction;        // "radiation_correction"
  grid_matrix corr_temperature;  // "corr_temperature"
  const grid_matrix* aspect = nullptr;
  const grid_matrix* slope = nullptr;
  const grid_matrix* sunshine = nullptr;
  const grid_matrix* elevation = nullptr;
  const grid_matrix* master_hru = nullptr;
  grid_matrix shadow;  // "Shadow", rows shadow_first_row..shadow_last_row
  const grid_matrix* temperature = nullptr;
  grid_matrix temperature_night;
  grid_matrix ieff_max;    // "Ieff_max"
  double beam_normal = 0;  // [Wh m-2]
  double tkorr_scaling = 0;
  std::array<int, 3> write_codes{};  // correction, shadow, corrected temperature
  int correction_index = -1, shadow_index = -1, night_index = -1, temperature_index = -1,
      corr_temperature_index = -1, ieff_index = -1, sunshine_index = -1;
  int step_counter = 0;
  int timestep_count = 1;
  int splittings = 1;
  double split_length = 0;  // [h]
  std::string correction_file, shadow_file, corr_temperature_file;
  int shadow_first_row = 0, shadow_last_row = 0;
  // Process 0's whole-grid copies of the zone grid and the elevation model
  // for the shading walk (the band grids otherwise).
  grid_matrix walk_zone, walk_elevation;
  const grid_matrix* walk_zone_grid = nullptr;
  const grid_matrix* walk_elevation_grid = nullptr;
};
