// Records through which the unsaturated zone hands runoff to the routing
// modules and the routing hands river flows back to the soil columns. The
// unsaturated zone owns them; every other module works on the owner's memory
// through the pointers the application passes in its wiring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Per tracer index t = 0..T (0 the water in mm per step, 1..T the tracer
// concentrations in that water) an array over the subbasin indices 0..n;
// element 0 belongs to no subbasin. An empty outer vector is a set of arrays
// that was never allocated.
using subbasin_flow_arrays = std::vector<std::vector<double>>;

// Per subbasin index 0..n: whether a cell of it carries glacier and the sums
// of its glacierized and non-glacierized cell fractions. The unsaturated zone
// and the snow module each keep an array of them; it crosses processes as a
// bool and two doubles at byte offsets 0, 8 and 16.
struct subbasin_glacier_record {
  bool glacierized = false;  // a cell of the subbasin has a glacier fraction above 0
  double glacier_sum = 0;    // [cells] sum of the glacierized fractions
  double free_sum = 0;       // [cells] sum of the non-glacierized fractions
};
static_assert(offsetof(subbasin_glacier_record, glacier_sum) == 8);
static_assert(offsetof(subbasin_glacier_record, free_sum) == 16);
static_assert(sizeof(subbasin_glacier_record) == 24);

// The river of one subbasin in the current step.
struct riverflow_record {
  double flow_mm[10] = {};       // index 0 [mm per step] over catchment_area; 1..9 concentrations
  double flowm3s = 0;            // [m3 s-1]
  double speed = 0;              // [m s-1]; 0 or less: no water depth
  double catchment_area = 0;     // [km2] of the channel
  double taken = 0;              // [m3 s-1] taken by river infiltration in this step
  double second_step_value = 0;  // reset with taken every step
  int32_t reach_number = 0;      // routing description draining the subbasin; 0 none
  int32_t channel_index = 0;     // channel within that reach, 1-based
};

// One record per subbasin index 0..n (element 0 unused); exists only with the
// groundwater model.
using riverflow_table = std::vector<riverflow_record>;
