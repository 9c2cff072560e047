// The tracers at the top and bottom of a soil column (see soilcolumn_tracers.h).
#include "soilwater/soilcolumn_tracers.h"

#include <algorithm>

namespace {
constexpr double MM_PER_M = 1000.0;
}  // namespace

double mix_concentrations(double c1, double c2, double volume1, double volume2) noexcept {
  if (volume1 + volume2 == 0) return 0;
  return (c1 * volume1 + c2 * volume2) / (volume1 + volume2);
}

void tracers_below_table(const SoluteTracer& tracer, int layers, int groundwater_layer,
                         double aquifer_conc, const double* theta, const double* d,
                         double* store) noexcept {
  for (int j = std::max(groundwater_layer + 1, 1); j <= layers; ++j)
    store[j] = tracer.evaporating ? aquifer_conc : theta[j] * aquifer_conc * d[j] * MM_PER_M;
}

void surface_tracer_input(const SoluteTracer& tracer, const SurfaceTracerWater& water,
                          double conc, double& store) noexcept {
  const double arriving =
      water.input + water.bypass + (water.pond || water.silting_in ? water.silting : 0);
  if (!tracer.evaporating)
    store += arriving * conc;
  else if (water.pond)
    store = mix_concentrations(store, conc, water.pond_content, arriving);
  else
    store = conc;
}

double direct_flow_tracer(const SoluteTracer& tracer, const SurfaceTracerRunoff& r, double f,
                          double& store) noexcept {
  if (r.pond) {
    if (!r.overflow) return 0;
    if (tracer.evaporating) return store;
    // The overflow takes its share of the water standing at the surface.
    const double share = r.standing > 0 ? r.direct * f / r.standing : 0;
    const double value = std::min(store * share, r.direct * tracer.max_conc * f);
    store -= value;
    return value;
  }
  double value;
  if (tracer.evaporating) {
    value = store;
  } else {
    value = r.excess_direct > 0 ? std::min(store, r.excess_direct * tracer.max_conc * f) : 0;
    store -= value;
  }
  if (r.silting > 0 && r.has_silting) {
    if (tracer.evaporating)
      value = mix_concentrations(r.silting_conc, value, r.silting, r.excess_direct * f);
    else
      value += r.silting * r.silting_conc;
  }
  return value;
}
