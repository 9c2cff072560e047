// interzeptionsmodellklasse: the water held on the vegetation of every cell.
// Per step and vegetation layer, from the top, the water input fills the
// interception storage up to K = LAI * c (c the class's interception capacity
// or the section's default water layer), the rest passes on as throughfall,
// and stored water evaporates within the potential transpiration (methods 1,
// 11) or the potential interception evaporation (methods 2, 12), lowering
// the potential transpiration "pot_transpiration<k>" in place. The throughfall
// of the lowest layer, "throughfall0", is the water that reaches the ground.
// Methods 11 and 12 run before the snow module, 1 and 2 after it. The per-cell
// physics is in vertical/interzep_kernels.h.
//
// Where the cell's water would otherwise be lost:
// - a vegetation layer without a land-use class between two real layers is
//   passed over: the next real layer takes the throughfall of the last real
//   layer above it; a cell without any real layer lets its input through;
// - a one-layer cell whose class is nodata or no index of the table has no
//   canopy (coverage and capacity 0);
// - methods 11 and 12 (before snow) on a fully glacierized cell pass the
//   whole input on as throughfall0, since the snow module takes it from there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class interzeptionsmodellklasse : public teilmodellklasse {
 public:
  interzeptionsmodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                            int registry_size, const std::string& section, grid_store* store,
                            const settings_context& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void free_tracer_statistics() override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  void flush_outputs() override;
  // The method when the flow-control value is above 0, else 0; above 10
  // interception runs before snow.
  virtual int get_method();

  int get_layer_count() const { return layer_count; }

 private:
  // Per entry 0 (cell totals) .. L (layers): the owned grids, their files
  // and statistics.
  struct entry_outputs {
    grid_matrix storage;      // "interception_storage<i>" [mm]
    grid_matrix evaporation;  // "interception_evaporation<i>" [mm per step]
    grid_matrix throughfall;  // "throughfall<i>" [mm per step]
    int storage_index = 0, evaporation_index = 0, throughfall_index = 0;
    std::string evaporation_file, storage_file, throughfall_file;
    std::string evaporation_stat_file, storage_stat_file, throughfall_stat_file;
    std::vector<zone_record> evaporation_zones, storage_zones, throughfall_zones;
    std::unique_ptr<zonalstatistic> evaporation_stat, storage_stat, throughfall_stat;
  };
  // Per layer 1..L the grids of other modules (entry 0 for the totals).
  struct layer_inputs {
    const grid_matrix* landuse = nullptr;
    const grid_matrix* leaf_area_index = nullptr;
    const grid_matrix* coverage = nullptr;
    grid_matrix* pot_transpiration = nullptr;  // lowered in place
    const grid_matrix* pot_interception_evaporation = nullptr;
  };

  void set_up();
  void read_section();
  void take_grids();
  void register_entry(int i, int first_index);
  void create_statistics(int i);
  grid_matrix new_band_grid();
  bool own_cell(int row, int col) const;
  double glacier_fraction(int row, int col) const;
  double class_capacity(double class_value) const;
  // The cell's computation; fills the entries' grids of the cell.
  void compute_layers(int row, int col);
  void compute_one_layer(int row, int col);
  void compute_glacier_part(int row, int col, double f);
  void compute_cells();
  void add_statistics();
  void complete_outputs();

  int method = 0;
  int layer_count = 1;             // L
  double default_water_layer = 0;  // [mm per unit of leaf area index]
  std::string outflow_file, outflow_stat, evaporation_file, evaporation_stat, storage_file,
      storage_stat;
  int outflow_code = 0, outflow_stat_code = 0, evaporation_code = 0, evaporation_stat_code = 0,
      storage_code = 0, storage_stat_code = 0;
  const grid_matrix* input = nullptr;             // "snowcover_outflow" or "precipitation"
  const grid_matrix* glacier = nullptr;           // "GlacierizedCells", "ice_firn" or none
  std::vector<layer_inputs> layers;               // 0..L
  std::vector<entry_outputs> entries;             // 0..L
  std::vector<const grid_matrix*> tracer_inputs;  // 1..tracer count
};
