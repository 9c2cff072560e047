// The travel-time zone set-up shared by the modules that concentrate runoff
// per subbasin (the unsaturated zone and the surface routing): both build
// their queues from the same grids and differ only in the units of the flow
// times and in the zone table.
#include <string>

#include "modelbase/gridstore.h"
#include "submodel/runoffrecords.h"
#include "submodel/teilmod.h"

void teilmodellklasse::fill_flow_time_setup(flow_time_zone_setup& setup, bool convert_seconds,
                                            const std::vector<int>& zone_index_in,
                                            const std::vector<zone_record>& zones_in,
                                            int subbasin_count) {
  setup.diag = diag;
  setup.rank = rank;
  const int times = find_grid("flow_times");
  setup.flow_times = times > 0 ? (*store)[times].grid : nullptr;
  setup.flow_times_file = times > 0 ? (*store)[times].file_name.value_or("") : std::string();
  setup.convert_seconds = convert_seconds;
  setup.step_minutes = time_interval;
  setup.zone_grid = zone_grid;
  setup.regions = mpi_regions;
  setup.weights = rel_cell_area;
  setup.nodata = nodata;
  setup.first_row = first_row;
  setup.last_row = last_row;
  setup.ncols = ncols;
  setup.zone_index = &zone_index_in;
  setup.zones = &zones_in;
  setup.subbasin_count = subbasin_count;
  setup.tracer_count = tracer_count;
  setup.weight_scale = substeps;
}
