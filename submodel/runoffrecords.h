// Records through which the unsaturated zone hands runoff to the routing
// modules and the routing hands river flows back to the soil columns. The
// unsaturated zone owns them; every other module works on the owner's memory
// through the pointers the application passes in its wiring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modelbase/gridtypes.h"
#include "modelbase/matrices.h"

class DiagStream;

// Per tracer index t = 0..T (0 the water in mm per step, 1..T the tracer
// concentrations in that water) an array over the subbasin indices 0..n;
// element 0 belongs to no subbasin. An empty outer vector is a set of arrays
// that was never allocated.
using subbasin_flow_arrays = std::vector<std::vector<double>>;

// T + 1 arrays (tracer indices 0..T) of n + 1 zeros (subbasins 0..n).
subbasin_flow_arrays make_flow_arrays(int tracer_count, int subbasin_count);

// Flow conversions of the routing, area in km2 and step in minutes:
// Q [m3 s-1] -> runoff depth [mm per step], and back.
double m3s_to_mm(double q, double area_km2, double step_minutes) noexcept;
double mm_to_m3s(double depth_mm, double area_km2, double step_minutes) noexcept;

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

// Travel-time zone queues of one module: per tracer index t = 0..T and
// subbasin index s = 1..n the records 0..zone count (index 1 the head,
// record 0 unused). In a record, count is the cells' share, sum the runoff
// times weight, code the zone number, share the zone's share of the
// subbasin's cells and weight the summed weight.
struct flow_time_queues {
  std::vector<double> zone_counts;  // 0..n: zones of subbasin s, equal on every process
  std::vector<std::vector<std::vector<zone_record>>> direct;     // [t][s][k]
  std::vector<std::vector<std::vector<zone_record>>> interflow;  // [t][s][k]
  int zones_of(int subbasin) const {
    return static_cast<int>(zone_counts[static_cast<size_t>(subbasin)]);
  }
};

// What differs between the modules that build their queues, and the grids
// they build them from.
struct flow_time_zone_setup {
  DiagStream* diag = nullptr;
  int rank = 0;
  // "flow_times" [s] or, once converted, [steps]; null without the grid.
  grid_matrix* flow_times = nullptr;
  std::string flow_times_file;  // its file name, named by code 6
  // Replace every own cell's value by ceil(seconds / 60 / step) first (the
  // unsaturated zone); otherwise the values are zones already.
  bool convert_seconds = false;
  double step_minutes = 0;  // [min]
  const grid_matrix* zone_grid = nullptr;
  const grid_matrix* regions = nullptr;  // "MPIRegions"; null: every zone cell is own
  const grid_matrix* weights = nullptr;  // "RelCellArea" or null (weight 1)
  double nodata = 0;
  int first_row = 1, last_row = 0, ncols = 0;
  const std::vector<int>* zone_index = nullptr;          // zone code -> subbasin index
  const std::vector<zone_record>* zones = nullptr;       // 0..n with their codes
  int subbasin_count = 0;
  int tracer_count = 0;
  // Weight a step adds per cell over the weight of the cell [-]: the
  // set-up's cumulative weights stand for that many steps of inflow.
  double weight_scale = 1;
  std::string log_directory;  // "modell_0.log" goes here (empty: working directory)
  const char* distribution_heading = "flow time distribution:\n";
  const char* no_grid_text =
      "flow time distribution will not be calculated since no flow time grid was provided\n";
  const char* log_open_warning = "WARNING: log file ";         // + name + " could not be opened"
  const char* distribution_warning = "WARNING: error opening log-file ";  // + name
};

// The zone of a flow time already in steps: its integer part, at least 1
// (record 0 never reaches the outlet, and negative zones lie outside the
// queue).
int flow_time_zone(double steps) noexcept;
// ceil(seconds / 60 / step) [steps]: the value the unsaturated zone stores.
double flow_time_in_steps(double seconds, double step_minutes) noexcept;

// Builds the queues (collective): zone counts reduced to their maximum,
// counts and weights summed over the processes, each zone's share of the
// subbasin written to the log of process 0 and given to every tracer, and
// the cumulative weights of the zones from the head (scaled by
// weight_scale) on process 0 only, so that summing the heads over the
// processes counts them once. Flow times that give zone 0 or less count in
// zone 1; those below -60 x step seconds with one WARNING naming how many.
// Throws 6 (a subbasin without counted cells) and 61 (zone 1 empty).
void flow_time_zones(const flow_time_zone_setup& setup, flow_time_queues& queues);

// Start of a step: every zone moves one place towards the head, the last
// one is cleared; codes and shares stay, record 0 is untouched.
void shift_zone_queues(flow_time_queues& queues) noexcept;
