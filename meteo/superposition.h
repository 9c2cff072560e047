// RegionalSuperposition: combines grids of the grid store into new grids,
// region by region. Each entity (cSuperposition) is an output grid that is
// the weighted sum of its input grids, with one weight per input and region
// of the settings' region grid; near region borders the transition grids
// "regression_weights1" to "regression_weights3" blend the weights of up to
// three regions. Unlike the other modules its constructor throws its error
// codes instead of returning a status.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "meteo/superposition_kernels.h"
#include "modelbase/zonalstat.h"
#include "submodel/teilmod.h"

class DiagStream;
class grid_store;
class RegionalSuperposition;

struct superposition_input {
  std::string grid_name;
  int store_index = 0;
  const grid_matrix* grid = nullptr;
  std::vector<int> regions;     // the listed region codes, ascending
  std::vector<double> weights;  // [-] one per listed region, by rank
};

// What the text of one entity block holds, before any grid is looked up.
struct superposition_block {
  std::string entity;
  std::vector<superposition_input> inputs;
  std::string output_file;
  int write_code = 0;
  std::string statistics_file;
  int statistics_code = 0;
};

class cSuperposition {
 public:
  // block: the entity's lines, up to and including the one with "}".
  cSuperposition(RegionalSuperposition& owner, const std::string& block);
  virtual ~cSuperposition() = default;

  virtual void write_output();
  virtual void flush_outputs();
  virtual void superpose(int64_t hour, int64_t day, int64_t month, int64_t year);
  virtual void release();

  const std::string& entity_name() const { return block.entity; }
  int output_store_index() const { return output_index; }
  const grid_matrix& output() const { return output_grid; }

 private:
  void check_regions(const superposition_input& input) const;
  void check_weights(const superposition_input& input) const;
  void check_weight_sums() const;
  void create_output_grid();
  void create_statistics();
  void find_region_grids();

  RegionalSuperposition& owner;
  superposition_block block;
  superposition_weights weights;
  int64_t year = 0, month = 0, day = 0, hour = 0;
  int output_index = 0;
  grid_matrix output_grid;
  // Region and transition-weight grids of regions 1 to 3 (null beyond the count).
  const grid_matrix* region_grids[3] = {nullptr, nullptr, nullptr};
  const grid_matrix* weight_grids[3] = {nullptr, nullptr, nullptr};
  std::vector<zone_record> statistic_zones;
  std::unique_ptr<zonalstatistic> statistic;
};

class RegionalSuperposition : public teilmodellklasse {
 public:
  // Reads the regions from the settings' region table.
  RegionalSuperposition(DiagStream* diag, statistics_registry* registry, int registry_size,
                        const std::string& section, grid_store* store,
                        const settings_context& settings);

  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  virtual void write_output();
  void flush_outputs() override;
  void release() override;

  int entity_count() const { return static_cast<int>(entities.size()); }
  const cSuperposition& entity(int k) const { return *entities[static_cast<size_t>(k)]; }

 private:
  friend class cSuperposition;
  // The lines of the next block, up to and including the one with "}".
  std::string read_block(int number);

  statistics_registry* statistics = nullptr;
  int statistics_size = 0;
  const std::vector<int>* region_index = nullptr;  // per region code its rank
  int region_count = 0;
  int max_region_code = 0;
  std::vector<std::unique_ptr<cSuperposition>> entities;
};

// Splits the text of an entity block into its name, input groups and output
// keys (no grid is looked up, no count is checked). A missing key or "{" is
// FATAL 133 naming the entity.
superposition_block parse_superposition_block(DiagStream& diag, const std::string& section,
                                              const std::string& text);
