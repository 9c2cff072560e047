// Snow slides of the snow module: process 0 walks the whole grid from the
// highest cell with the storages of all owners (snowslide_exchange.h). The
// grids the walk reads besides the storages do not change during a run:
// they are gathered and compiled into the walk's plan at the first slide
// step; the glacier share is taken anew after each yearly update. The walk
// runs on one process in a fixed order, so its results do not depend on the
// number of processes or threads.
#include <mpi.h>

#include <algorithm>
#include <string>

#include "modelbase/gridstore.h"
#include "snow/snowmod.h"
#include "snow/snowslide_kernels.h"

bool schneemodellklasse::slide_glacier_storages() const {
  return cell_grid.total_g != nullptr && glacier_grid != nullptr;
}

void schneemodellklasse::gather_slide_inputs() {
  const bool storages = slide_glacier_storages();
  if (!division_view().distributed()) {
    slide_held.gathered = slide_held.glacier_current = true;
    return;
  }
  auto whole = [this](grid_matrix& copy, int index) {
    copy = gather_grid_copy(index);
    if (rank != 0) copy = grid_matrix();
  };
  if (!slide_held.gathered) {
    whole(slide_held.zone, 1);
    whole(slide_held.slope, find_grid("slope_angle"));
    for (int k = 1; k <= 4; ++k)
      whole(slide_held.fraction[static_cast<size_t>(k - 1)],
            find_grid("slidefraction" + std::to_string(k)));
    // A capacity read from a file is distributed; the one the module made
    // at set-up lives on process 0 alone, where it is whole already.
    const int capacity = find_grid("max_deposition");
    bool own_capacity = false;
    for (const owned_grid& g : owned) own_capacity = own_capacity || g.index == capacity;
    int read_capacity = capacity > 0 && !own_capacity ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, &read_capacity, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (read_capacity == 1) whole(slide_held.capacity, capacity);
    slide_held.gathered = true;
  }
  if (!slide_held.glacier_current) {
    if (glacier_grid != nullptr && storages) {
      int index = find_grid("GlacierizedCells");
      if (index <= 0) index = find_grid("ice_firn");
      whole(slide_held.glacier, index);
    }
    slide_held.glacier_current = true;
  }
}

slide_walk_inputs schneemodellklasse::slide_inputs() {
  const bool storages = slide_glacier_storages();
  const bool many = division_view().distributed();
  slide_walk_inputs in;
  in.zone = many ? &slide_held.zone : zone_grid;
  in.glacier = storages ? (many ? &slide_held.glacier : glacier_grid) : nullptr;
  in.slope = many ? &slide_held.slope : slope;
  for (size_t k = 0; k < 4; ++k)
    in.fraction[k] = many ? &slide_held.fraction[k] : slide_fractions[k + 1];
  in.capacity =
      slide_held.capacity ? &slide_held.capacity : (*store)[find_grid("max_deposition")].grid;
  in.order_row = (*store)[find_grid("elev_order_row")].grid;
  in.order_col = (*store)[find_grid("elev_order_col")].grid;
  in.nrows = nrows;
  in.ncols = ncols;
  in.nodata = nodata;
  in.min_slope = params.minSlideSlope;
  in.phi = params.slideMassFrac;
  return in;
}

void schneemodellklasse::snow_slides() {
  const bool glacier_changed = !slide_held.glacier_current;
  gather_slide_inputs();
  const distribution_view v = division_view();
  if (!slide_run.built()) {
    const slide_walk_inputs in = rank == 0 ? slide_inputs() : slide_walk_inputs{};
    slide_run.build(v, rank == 0 ? &in : nullptr, *(*store)[1].grid);
    // The static whole copies live on in the plan.
    slide_held.zone = grid_matrix();
    slide_held.slope = grid_matrix();
    slide_held.capacity = grid_matrix();
    for (grid_matrix& f : slide_held.fraction) f = grid_matrix();
  } else if (glacier_changed && rank == 0) {
    slide_run.refresh_glacier(slide_inputs());
  }
  slide_exchange_grids g;
  g.total = (*store)[outputs.grids[0]].grid;
  g.solid = (*store)[outputs.grids[1]].grid;
  g.liquid = (*store)[outputs.grids[2]].grid;
  g.input = (*store)[outputs.grids[9]].grid;
  g.mobile = (*store)[outputs.grids[10]].grid;
  g.deposition = (*store)[outputs.grids[11]].grid;
  if (slide_glacier_storages()) {
    g.total_g = cell_grid.total_g;
    g.liquid_g = cell_grid.liquid_g;
    g.solid_g = cell_grid.solid_g;
    g.glacier = glacier_grid;
  }
  slide_run.gather(v, g);
  if (rank == 0) slide_run.walk(params.slideMassFrac);
  slide_run.scatter(v, g);
}
