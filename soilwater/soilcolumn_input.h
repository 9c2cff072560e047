// The top of a soil column in one water sub-step: the water that reaches
// the soil is split before the iteration (snow bypass, silting-up water or
// pond water that first serves the transpiration demand of the vegetation
// layers, the rest as input of the column), and after the iteration the
// water that did not infiltrate becomes infiltration excess, direct flow or
// pond content.
//
// Amounts are in mm per water sub-step, rates in m s-1; F = dt x 1000.
#pragma once

// The vegetation layers' demand of the sub-step, served in their order:
// share[k] [mm] shrinks and actual[k] [mm] grows by what water [mm] covers;
// layers without a land-use code (has_landuse[k] false) are skipped.
// Returns the water left.
double serve_transpiration(double water, int vegetation_layers, const bool* has_landuse,
                           double* share, double* actual) noexcept;

// What the surface does with the water of the sub-step after the iteration.
struct SurfaceRunoff {
  double excess = 0;        // E [mm] infiltration excess
  double infiltration = 0;  // [mm] total infiltration through the surface
  double direct = 0;        // [m s-1] direct-flow rate
  double pond = 0;          // [mm] new pond content (with a pond)
};

struct SurfaceWater {
  double w = 0;               // [m s-1] input rate left after the macropores
  double q0 = 0;              // [m s-1] final surface flux (negative: infiltration)
  double bypass = 0;          // s [m s-1] snow bypass
  double from_below = 0;      // B0 [m s-1] base-flow water leaving at the surface
  double macropore = 0;       // M [mm]
  bool pond = false;          // ponding is on for the cell
  double pond_content = 0;    // [mm] the whole water input of the sub-step
  double pond_max = 0;        // P_max [mm]
  double silting_direct = 0;  // U [mm] silting-up water sent to direct flow
};

// Infiltration excess, total infiltration, direct flow and pond of the
// sub-step; f = dt x 1000. Water that came out of the column through the
// surface (q0 > 0) leaves with the excess.
SurfaceRunoff surface_runoff(const SurfaceWater& s, double f) noexcept;
