// One step of snow slides on a grid divided among the processes: the owners
// send the snow storages of their zone cells to process 0 in one message
// each, process 0 walks the compiled plan (snowslide_plan.h) and sends every
// owner its storages and slide amounts back in one message. The solid
// storage does not travel: wherever the walk rewrites a storage part its
// solid snow is total - liquid, which the owner forms itself with the same
// glacier share. Without a division process 0 holds every cell and no
// message moves. Every operation is collective.
#pragma once

#include <cstdint>
#include <vector>

#include "modelbase/distribution.h"
#include "snow/snowslide_plan.h"

// The grids of one process (process 0: whole). The glacier storages and the
// glacier share are null without glacier storages.
struct slide_exchange_grids {
  grid_matrix *total = nullptr, *liquid = nullptr, *solid = nullptr;
  grid_matrix *total_g = nullptr, *liquid_g = nullptr, *solid_g = nullptr;
  grid_matrix *input = nullptr, *mobile = nullptr, *deposition = nullptr;
  const grid_matrix* glacier = nullptr;  // the process's own share grid
};

class slide_exchange {
 public:
  // Process 0 compiles the plan from in (whole grids); the other processes
  // list their zone cells of zone (their rows) and their run cells outside it.
  void build(const distribution_view& v, const slide_walk_inputs* in, const grid_matrix& zone);
  bool built() const { return is_built; }
  // Process 0, after the glacier share changed.
  void refresh_glacier(const slide_walk_inputs& in);

  void gather(const distribution_view& v, const slide_exchange_grids& g);
  void walk(double phi) noexcept { run_slide_plan(plan, phi); }  // process 0
  void scatter(const distribution_view& v, const slide_exchange_grids& g);

 private:
  slide_plan plan;  // process 0
  bool is_built = false;
  std::vector<std::vector<int32_t>> owner_cells;  // process 0: per process
  std::vector<int32_t> own_cells;                 // other processes: (row, col) pairs
  std::vector<int32_t> own_outside;               // other processes: run cells outside the zone
  std::vector<double> buffer;
};
