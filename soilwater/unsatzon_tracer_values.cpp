#include "soilwater/unsatzon_tracer_values.h"

namespace {

constexpr double MM_PER_M = 1000;                    // [mm m-1]
constexpr double DRY_POINT_THETA = 1e-5;             // [-]
constexpr double DRY_POINT_VALUE = 1e9;              // [-] marker
constexpr double DRY_TOP_LAYER_THETA = 0.0001;       // [-]
constexpr double DRY_TOP_LAYER_VALUE = 99999.0;      // [-] marker

}  // namespace

double control_cell_tracer_value(bool evaporating, double stored, double theta,
                                 double thickness_m) noexcept {
  if (evaporating) return stored;
  if (theta > DRY_POINT_THETA) return stored / (thickness_m * MM_PER_M * theta);
  return DRY_POINT_VALUE;
}

double top_layer_tracer_value(bool evaporating, double stored, double theta,
                              double thickness_m) noexcept {
  if (evaporating) return stored;
  if (theta > DRY_TOP_LAYER_THETA) return stored / (theta * MM_PER_M * thickness_m);
  return DRY_TOP_LAYER_VALUE;
}
