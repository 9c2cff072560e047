// Per-cell kernels of snow evaporation and real evapotranspiration: solid
// snow sublimates at the expense of the cell's potential values (the
// transpiration of the vegetation layers in layer order, then the soil
// evaporation), and the total real evapotranspiration of a step is formed
// from its parts. Amounts in mm per step.
#pragma once

#include <span>

// Spends the demand on the snow: for every present layer k (in order) and
// then the soil evaporation, take = min(snow, demand); the snow and the
// demand shrink by take. Returns the snow evaporation (sum of the takes).
// layer_demand[k] and layer_present[k] are layer k + 1.
double sublimate_snow(double& snow, std::span<double> layer_demand,
                      std::span<const char> layer_present, double& soil_demand) noexcept;

// The glacier share o of a cell and its snow-free rest t = 1 - o: a value
// above 1 counts 1, a value below 0 (nodata) or no glacier grid counts 0.
struct glacier_weights {
  double glacier = 0;  // [-] o
  double rest = 1;     // [-] t
};
glacier_weights glacier_weights_of(bool has_grid, double grid_value) noexcept;

// The total real evapotranspiration of a cell in a step [mm]: with the
// interception linked EI_0 + Es + Er + sum of ETR_k; otherwise the value
// already held plus Es (interception then evaporates nothing of its own).
double total_real_evapotranspiration(bool interception_linked, double held, double interception,
                                     double snow, double soil,
                                     std::span<const double> layers) noexcept;
