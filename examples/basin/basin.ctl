# Example basin: 20 x 15 cells of 100 m, three subbasins (codes 1, 2, 3).
# Run it from this directory:  mpirun -np 3 velmo basin.ctl
# Symbols are defined with $set and used anywhere, also above their definition;
# "#" starts a comment, "//" joins the text on both sides.
$set $out = output/
$set $grids = ./

[output_interval]
24      # progress report every 24 steps
0       # no warnings about stations outside the search radius
0       # routed discharge in mm
0       # minutes from the hour of a record to the end of its step
WriteAsciiGrids = 1
WriteDoubleGrids = 0
DefaultOutputDirectory = $out

[output_list]
0

[coordinates]
47.4    # latitude
8.5     # longitude
15      # reference meridian
0       # time shift of data time to local time

[meteo_data_count]
0

[meteo_names]

[zone_grid]
$grids//zones.asc

[elevation_model]
$grids//dem.asc

[standard_grids]
3
$grids//soil_depth.asc soil_depth fillcode = 1 writecode = 8 statfile = soil_depth.sta statcode = 2001
none.asc initial_gw_depth fillcode = 0 readcode = 0 defaultValue = 2.0
$grids//zones.asc regression_regions fillcode = 0   # one regression region per subbasin

[variable_grids]
1
crop_factor.asc crop_factor 0 0.8   # file, grid name, fill code, default value
8       # write code: written once when registered, as crop_factor.asc.filled
0       # Readgrid 0: not read, 0.8 on every basin cell

[model_time]
0       # start hour
1       # start day
1       # start month
2001    # start year
23      # end hour
31      # end day
1       # end month
2001    # end year

[region_transition_distance]
1000

[soil_surface_groundwater_substeps]
1

[ExternalCoupling]
0

[SpinUp]
0

[substance_transport]
0

[landuse_table]
0

[soil_table]
0

[lake_model]
0

[precipitation_correction]
0       # do_it: no correction
0.5     # threshold temperature
0       # rain constant
0       # rain slope
0       # snow constant
0       # snow slope

[RegionalSuperposition]
0       # flow control: inactive
60      # time interval [min]

[radiation_correction]
0
60

[evapotranspiration]
0
60

[snow_model]
0
60

[interception_model]
0
60

[SiltingUpModel]
0
60

[unsatzon_model]
0
60

[SurfaceRoutingModel]
0
60

[irrigation]
0
60

[groundwater_flow]
0
60

[routing_model]
0
60

[special_output]
0
60
