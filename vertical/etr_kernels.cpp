#include "vertical/etr_kernels.h"

#include <algorithm>

double sublimate_snow(double& snow, std::span<double> layer_demand,
                      std::span<const char> layer_present, double& soil_demand) noexcept {
  double evaporated = 0;
  auto spend = [&](double& demand) {
    const double take = std::min(snow, demand);
    evaporated += take;
    snow -= take;
    demand -= take;
  };
  for (size_t k = 0; k < layer_demand.size(); ++k)
    if (k < layer_present.size() && layer_present[k] != 0) spend(layer_demand[k]);
  spend(soil_demand);
  return evaporated;
}

glacier_weights glacier_weights_of(bool has_grid, double grid_value) noexcept {
  if (!has_grid || grid_value < 0) return {0, 1};
  if (grid_value > 1) return {1, 0};
  return {grid_value, 1 - grid_value};
}

double total_real_evapotranspiration(bool interception_linked, double held, double interception,
                                     double snow, double soil,
                                     std::span<const double> layers) noexcept {
  if (!interception_linked) return held + snow;
  double total = interception + snow + soil;
  for (double layer : layers) total += layer;
  return total;
}
