// Elevation-dependent regression fitted to the station values of one step
// (methods 10 and 11): two least-squares lines split at the lower inversion,
// joined into three height layers, plus a least-squares plane through the
// residuals; and the orientation of a station mesh (methods 5 to 8) from the
// directions of the lines between neighbouring stations. Pure functions.
#pragma once

#include "meteo/meteoint_inputs.h"
#include "meteo/meteoint_weights.h"

// Fits the regression set to the stations of s whose value lies strictly
// above -nodata. s holds the plain coordinates.
regression_set fit_elevation_regression(const station_view &s,
                                        const elevation_regression_line &e,
                                        double nodata);

struct mesh_orientation {
  double slope_degrees = 0; // [deg]
  double ratio = 1;         // [-]
};
// The mesh direction of the stations x[1..n], y[1..n]: slope 0 and ratio 1
// when no direction is counted or the mean is within 0.001 deg of 0.
mesh_orientation find_neighbour_stations(const double *x, const double *y,
                                         int n);
