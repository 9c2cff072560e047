// The top of a soil column (see soilcolumn_input.h).
#include "soilwater/soilcolumn_input.h"

#include <algorithm>

double serve_transpiration(double water, int vegetation_layers, const bool* has_landuse,
                           double* share, double* actual) noexcept {
  for (int k = 1; k <= vegetation_layers && water > 0; ++k) {
    if (!has_landuse[k]) continue;
    if (share[k] < water) {
      actual[k] += share[k];
      water -= share[k];
      share[k] = 0;
    } else {
      share[k] -= water;
      actual[k] += water;
      water = 0;
    }
  }
  return water;
}

SurfaceRunoff surface_runoff(const SurfaceWater& s, double f) noexcept {
  SurfaceRunoff out;
  const double left = s.w + s.q0 + s.bypass;  // [m s-1] did not enter the soil
  out.excess = left * f;
  if (s.pond) out.excess -= s.pond_content - s.macropore;
  out.excess = std::max(out.excess, 0.0);
  out.infiltration = s.q0 < 0 ? -s.q0 * f : 0;
  out.direct = out.excess / f + s.from_below;
  if (!s.pond) {
    out.direct += s.silting_direct / f;
    return out;
  }
  // The pond holds what did not infiltrate; only that can overflow.
  const double standing = (s.from_below + left) * f;
  if (standing > s.pond_max) {
    out.direct = (standing - s.pond_max) / f;
    out.pond = s.pond_max;
    out.excess = 0;
  } else {
    out.pond = standing;
    out.direct = 0;
  }
  return out;
}
