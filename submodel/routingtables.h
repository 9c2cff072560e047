// Tables the channel-routing module builds from its routing descriptions and
// hands to the irrigation module. The water available for irrigation per
// subbasin uses the layout of the runoff arrays (submodel/runoffrecords.h),
// ten arrays (tracer indices 0..9) over the subbasin indices 0..n:
// - maxirrig: index 0 the river water available [mm over the subbasin],
//   1..9 its concentrations; the irrigation step lowers index 0 downstream of
//   what it takes and leaves in it the coverage ratio [-] of each subbasin;
// - maxirrigFromReservoirs: index 0 the reservoir water available [mm]; the
//   irrigation step leaves in it the reservoir water taken [mm].
#pragma once

#include <cstdint>
#include <vector>

struct routing_target_table {
  // From entry 1 the indices of all tributary subbasins in reading order,
  // ended by the first entry that is 0 (2n+1 entries).
  std::vector<int32_t> tributaries;
  // Per subbasin index 0..n the subbasin it flows into; 0 for none.
  std::vector<int32_t> downstream;
  // Per subbasin index 0..n its routing description (1-based); 0 for none.
  std::vector<int32_t> description;
};

struct abfrel_table {
  std::vector<double> area_share;  // [-] per subbasin index; entry 0 the basin area [km2]
  std::vector<double> factor;      // [-] per subbasin index, 1 by default
};
