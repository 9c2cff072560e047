// verdunstungsmodellklasse: potential evapotranspiration per vegetation layer
// by Penman-Monteith (Monteith 1965, with day and night parts and an energy
// cascade through the layers), Hamon, Wendling or Haude, with the radiation
// of the step corrected for slope and aspect, the relative sunshine duration
// and the cloudiness on the way. The set-up is in etpetr_section.cpp and
// etpetr_grids.cpp, the step in etpetr_potential.cpp, the per-cell physics
// in etpetr_kernels.h; the sublimation of snow and the real
// evapotranspiration of a step in etpetr_real.cpp (kernels etr_kernels.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "vertical/etpetr_kernels.h"

class DiagStream;
class grid_store;

class verdunstungsmodellklasse : public teilmodellklasse {
 public:
  verdunstungsmodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                           int registry_size, const std::string& section, grid_store* store,
                           const settings_context& settings);

  void set_substeps(int count) override;
  void release() override;

  void flush_outputs() override;
  // Both setters keep the grid (or none) when the module is active; the
  // snow storage shrinks by the snow evaporation.
  virtual void set_solid_snow_storage(grid_matrix* snow_storage);
  virtual void set_radiation_correction(const grid_matrix* radiation_correction);
  virtual void compute_potential_evapotranspiration(int64_t hour, int64_t day, int64_t month,
                                                    int64_t year);
  virtual void compute_snow_evaporation(int64_t hour, int64_t day, int64_t month, int64_t year);
  void begin_step(const model_date& step) override;
  virtual void substep_hook(int64_t hour, int64_t day, int64_t month, int64_t year);
  // Sub-step k is its substep_hook.
  void run_substep(const model_date& step, int k) override;
  void end_step(const model_date& step) override;
  // section: "[lake_model]". Runs whether the module is active or not.
  virtual void read_lake_parameters(const std::string& section);
  // 0 when snow is inactive; methods 5, 6, 7 and 11 switch sublimation off.
  virtual void set_snow_method(int method);

  int get_method() const { return method; }
  int get_layer_count() const { return layer_count; }
  double get_sunshine_threshold() const { return sunshine_threshold; }
  int get_input_mask() const { return input_mask; }
  int get_lake_flow_control() const { return lake_flow_control; }
  // Sub-intervals of the last sun sampling.
  int get_sampled_subintervals() const { return sampled_subintervals; }

 private:
  // Names of the statistics and grids of a layer (and the single ones).
  struct layer_files {
    std::string pot_grid, pot_stat, real_grid, real_stat, eip_grid, eip_stat;
  };
  enum stat_slot { STAT_POT, STAT_EIP, STAT_REAL };

  // ---- set-up (etpetr_section.cpp) ----
  void set_up();
  void read_section();
  void read_monthly(std::FILE* file, std::array<double, 14>& values, bool fh);
  int read_numbers(std::FILE* file, double* values, int count);
  void check_section_values();

  // ---- grids and statistics (etpetr_grids.cpp) ----
  void take_grids();
  const grid_matrix* take(const std::string& grid_name);
  const grid_matrix* take_if_present(const std::string& grid_name);
  grid_matrix new_owned_grid(int first, int last, double own_value);
  int next_store_index(int from, const char* message, const char* end);
  void register_grids();
  std::unique_ptr<zonalstatistic> make_statistic(std::vector<zone_record>& zone_copy,
                                                 const std::string& file, int code, int precision,
                                                 const std::string& header,
                                                 const std::string& submodel);
  void check_followers() const;
  bool own_cell(int row, int col) const;
  bool follower(int row, int col) const;
  bool lake_cell(int row, int col) const;
  int zone_of(int row, int col) const;

  // ---- one step (etpetr_potential.cpp) ----
  void start_step(int64_t hour, int64_t day, int64_t month, int64_t year);
  void sample_sun(int day, int month);
  void keep_sunshine_days();
  void interpolate_amplitude(int day, int month);
  void compute_cells();
  void cell_radiation(int row, int col, etp_radiation_result& out);
  void cell_penman_monteith(int row, int col, const etp_radiation_result& radiation);
  void cell_single_layer(int row, int col, const etp_radiation_result& radiation, int day,
                         int month);
  void finish_step(int64_t hour);
  void mark_not_computed(int row, int col);

  // ---- snow evaporation and real evapotranspiration (etpetr_real.cpp) ----
  void progress_line(const char* text, int64_t hour, int64_t day, int64_t month, int64_t year);
  void link_glacier_snow_grids();
  void sublimate_cell(int row, int col);
  void copy_master_snow_values(int row, int col);
  void real_cell(int row, int col);

  int method = 0;
  int layer_count = 1;  // L
  int snow_method = 0;
  int input_mask = 0;
  int net_radiation_flag = 0;
  int lake_flow_control = 0;
  int lake_init_method = 0;
  double z0_open_water = 0;      // [m]
  double albedo_open_water = 0;  // [-]

  std::array<double, 14> pec{};                    // [-] 0 Dec, 1..12, 13 Jan
  std::array<double, 14> fh{};                     // [mm hPa-1]
  std::array<double, 14> amplitude_monthly{};      // [K]
  double fk = 0;                                   // [-]
  std::array<double, 4> radiation_coefficients{};  // a0..a3
  std::array<double, 4> cs{};                      // CS[0]..CS[3]
  double transmissivity_mean = 0, transmissivity_amplitude = 0;
  double amplitude_height_scale = 0;  // [m]
  double amplitude_fraction_day = 0, amplitude_fraction_night = 0;
  double annual_variability = 0;
  double sunshine_threshold = 0;  // x*
  double longwave_factor = 0;     // [W m-2 K-4 h]

  // Per-step state kept between steps.
  double step_day_of_year = 0;
  double amplitude_of_day = 0;  // [K]
  double annual_term = 0;
  double transmissivity = 0;
  double subinterval_length = 0;       // [h]
  std::vector<double> zenith_cosines;  // 1..n
  int sampled_subintervals = 0;
  int ssd_day_count = 0;
  int in_daylight = 0;
  bool night_step = false;

  // Section values: file names and codes.
  layer_files layer0;
  int pot_write = 0, real_write = 0, eip_write = 0, evap_write = 0, real_evap_write = 0,
      snow_evap_write = 0;
  int pot_stat_code = 0, real_stat_code = 0, eip_stat_code = 0;
  std::string evap_grid, real_evap_grid, snow_evap_grid;
  std::string evap_stat, real_evap_stat, snow_evap_stat, radiation_stat,
      cloudiness_stat = "cloudiness";
  int evap_stat_code = 0, real_evap_stat_code = 0, snow_evap_stat_code = 0, radiation_stat_code = 0,
      cloudiness_stat_code = 0;

  // Shared grids (null where not used).
  const grid_matrix* albedo = nullptr;
  const grid_matrix* elevation = nullptr;
  const grid_matrix* humidity = nullptr;
  const grid_matrix* vapor_pressure = nullptr;
  const grid_matrix* air_pressure = nullptr;
  grid_matrix* radiation = nullptr;  // corrected in place
  const grid_matrix* sunshine = nullptr;
  const grid_matrix* wind = nullptr;
  grid_matrix* temperature = nullptr;        // day temperature written back
  grid_matrix* night_temperature = nullptr;  // the temperature grid itself without a night grid
  const grid_matrix* evaporation_resistance = nullptr;
  grid_matrix* solid_snow_storage = nullptr;
  // Linked at run time: the snow and interception modules are built later.
  int glacier_grids_pending = 1;
  int interception_linked = 0;
  grid_matrix* glacier_solid_snow = nullptr;        // "SolidSnowStorage_onGlacier"
  grid_matrix* glacier_snow_evaporation = nullptr;  // "SnowEvaporation_onGlacier"
  const grid_matrix* interception_evaporation = nullptr;  // "interception_evaporation0"
  const grid_matrix* radiation_correction = nullptr;
  const grid_matrix* glacier = nullptr;
  const grid_matrix* lake_codes = nullptr;
  const grid_matrix* ponding = nullptr;
  const grid_matrix* hru_units = nullptr;
  const grid_matrix* hru_masters = nullptr;
  std::vector<const grid_matrix*> landuse;  // 0: "landuse" (L > 1), k: "landuse<k>"
  std::vector<const grid_matrix*> root_depth, leaf_area_index, coverage, canopy_resistance,
      interception_resistance, roughness;  // 1..L

  // Own grids.
  std::vector<grid_matrix> pot_transpiration, real_transpiration,
      pot_interception;  // 0..L
  grid_matrix potential_evaporation, real_evaporation, snow_evaporation, corrected_radiation,
      cloudiness, ssd_temp;
  std::vector<int> pot_index, real_index, eip_index;  // 0..L
  int evap_index = 0, real_evap_index = 0, snow_evap_index = 0, radiation_index = 0,
      cloudiness_index = 0, ssd_index = 0;

  // Statistics: per layer potential transpiration, potential interception
  // evaporation and real transpiration, then the single ones; each with its
  // own zone records.
  std::vector<std::array<std::unique_ptr<zonalstatistic>, 3>> layer_stats;
  std::vector<std::array<std::vector<zone_record>, 3>> layer_stat_zones;
  std::unique_ptr<zonalstatistic> radiation_statistic, cloudiness_statistic, real_evap_statistic,
      evap_statistic, snow_evap_statistic;
  std::array<std::vector<zone_record>, 5> single_stat_zones;
};
