// siltingupclass: the sealing of the soil surface by rain. Per cell and step
// the kinetic energy of the rain reaching the ground accumulates since the
// last long enough rain pause and lets the infiltration capacity decay from
// an initial to a final value (method 1 with built-in parameters A to H,
// method 2 with A to H from the section, method 3 with user statements
// evaluated by ExpressionParser); the water input above the capacity becomes
// direct runoff "DirectRunoffSiltingUp", and the water-input grid the
// unsaturated zone reads next is lowered by it in place. The per-cell physics
// is in soilwater/siltingup_kernels.h.
//
// A statement that fails inside the parallel cell loop is recorded per row;
// after the loop the failure of the lowest row ends the step (code 403), so
// no exception crosses the threads. Cells whose land-use class or soil type
// is no index of its table are not sealed: the water passes on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "soilwater/siltingup_kernels.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;
class ExpressionParser;

class siltingupclass : public teilmodellklasse {
 public:
  siltingupclass(int& status, DiagStream* diag, statistics_registry* registry, int registry_size,
                 const std::string& section, grid_store* store, const settings_context& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void free_tracer_statistics() override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  void flush_outputs() override;
  // Keeps the flag and, when active, chooses the water-input grid.
  virtual void select_input_grid(char interception_before_snow);

  int get_method() const { return method; }
  const silting_parameters& get_parameters() const { return parameters; }
  const std::vector<std::string>& get_statements() const { return statements; }
  // Minimum rain pause of zone index 1..n [d].
  double get_min_rain_pause(int zone) const { return min_rain_pause[static_cast<size_t>(zone)]; }

 private:
  // The owned grids in their registration order.
  enum owned { DISPOSITION, RAIN_PAUSE, KINETIC_ENERGY, TILLAGE_TIME, DIRECT_RUNOFF, OWNED_COUNT };
  // A failure inside the cell loop, carried out of it.
  struct cell_failure {
    int code = 0;  // 0: none
    std::string statement, result;
  };

  void set_up();
  void read_section();
  void read_method_line();
  void read_rain_pauses();
  void read_statements();
  void take_grids();
  void create_statistics();
  void register_grids();
  bool computed_cell(int row, int col) const;
  bool own_cell(int row, int col) const;
  void compute_rows();
  // One cell; false with failure filled when a statement fails.
  bool compute_cell(int row, int col, ExpressionParser* parser, cell_failure& failure);
  bool evaluate_statements(ExpressionParser& parser, size_t first, size_t last,
                           cell_failure& failure) const;
  void copy_hru_cells();
  void add_statistics();
  void complete_outputs();

  int method = 1;
  bool carry_storage = false;
  bool carry_decided = false;
  const grid_matrix* elevation = nullptr;
  grid_matrix* water_input = nullptr;
  std::vector<const grid_matrix*> landuse_layers;   // 1..N_L
  std::vector<const grid_matrix*> coverage_layers;  // 1..N_L
  const grid_matrix* soil_types = nullptr;
  grid_matrix* surface_storage = nullptr;  // "SurfStorSiltingUp" [mm]
  const grid_matrix* hru_grid = nullptr;
  const grid_matrix* master_hru = nullptr;
  grid_matrix grids[OWNED_COUNT];
  int write_codes[OWNED_COUNT] = {};
  std::string file_names[OWNED_COUNT];
  int indices[OWNED_COUNT] = {};
  std::vector<double> min_rain_pause;  // [d] per zone index 1..n
  std::vector<int> given_codes;        // per zone index: the code where a value was given
  std::vector<zone_record> disposition_zones, runoff_zones;
  std::unique_ptr<zonalstatistic> disposition_stat, runoff_stat;  // SDISP, QDSU
  std::string disposition_stat_file, runoff_stat_file;
  int disposition_stat_code = 0, runoff_stat_code = 0;
  int layer_count = 1;  // N_L
  char interception_first = 0;
  silting_parameters parameters;
  std::vector<std::string> statements;
  size_t second_part = 0;                         // index of the first statement containing "V="
  std::vector<const grid_matrix*> tracer_inputs;  // 1..tracer count
  int day_of_year = 0;
};
