#include "vertical/interzep_kernels.h"

#include <algorithm>

interception_rule interception_rule_of(int method) noexcept {
  switch (method) {
    case 1:
    case 11:
      return interception_rule::by_transpiration;
    case 2:
    case 12:
      return interception_rule::by_interception_evaporation;
    default:
      return interception_rule::none;
  }
}

double canopy_capacity(double leaf_area_index, double class_capacity,
                       double default_water_layer) noexcept {
  return leaf_area_index * (class_capacity < 0 ? default_water_layer : class_capacity);
}

double fill_canopy(double capacity, double coverage, double input, double& storage) noexcept {
  double throughfall = (1 - coverage) * input;
  storage += coverage * input;
  if (storage > capacity) {
    throughfall += storage - capacity;
    storage = capacity;
  }
  return throughfall;
}

double evaporate_canopy(interception_rule rule, double& storage,
                        evaporation_potentials& p) noexcept {
  double evaporation = 0;
  switch (rule) {
    case interception_rule::by_transpiration:
      if (p.transpiration >= storage) {
        evaporation = storage;
        p.transpiration -= storage;
        p.total_transpiration -= storage;
      } else {
        evaporation = p.transpiration;
        p.total_transpiration -= p.transpiration;
        p.transpiration = 0;
      }
      break;
    case interception_rule::by_interception_evaporation: {
      evaporation = p.interception >= storage ? storage : p.interception;
      // The transpiration gives up what the evaporation used, never below 0.
      const double m = std::min(p.transpiration, evaporation);
      p.transpiration -= m;
      p.total_transpiration -= m;
      break;
    }
    case interception_rule::none:
      return 0;
  }
  storage -= evaporation;
  return evaporation;
}

canopy_step canopy_layer_step(interception_rule rule, double capacity, double coverage,
                              double input, double& storage, evaporation_potentials& p) noexcept {
  canopy_step s{};
  s.throughfall = fill_canopy(capacity, coverage, input, storage);
  s.evaporation = evaporate_canopy(rule, storage, p);
  return s;
}
