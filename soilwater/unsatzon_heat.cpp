// Completion of the soil table's heat values (see unsatzon_heat.h).
#include "soilwater/unsatzon_heat.h"

#include <cmath>

#include "soilwater/unsatzon_section.h"
#include "tables/soiltable.h"

void complete_soil_heat_values(soil_entry& soil, const unsatzon_parameters& p) {
  for (int l = 1; l <= soil.layer_count; ++l) {
    const auto i = static_cast<size_t>(l);
    if (i < soil.DryDensity.size() && soil.DryDensity[i] < 0)
      soil.DryDensity[i] = p.dTModRhoDrySoil;
    if (i < soil.DryHeatCapacity.size() && soil.DryHeatCapacity[i] < 0)
      soil.DryHeatCapacity[i] = p.dTModCDrySoil;
    if (i < soil.DryThermalConduct.size() && soil.DryThermalConduct[i] < 0)
      soil.DryThermalConduct[i] = p.dTModLamDrySoil;
  }
  if (soil.KMinFrozenSoil < 0) {
    soil.KMinFrozenSoil = p.dTModKmin;
    // The logarithm is read with the value; a defaulted value needs its own.
    if (p.dTModKmin > 0) soil.ln_KMinFrozenSoil = std::log(p.dTModKmin);
  }
  for (int l = 1; l <= soil.layer_count; ++l) soil.make_freezing_tables(l, p.dTModFactor);
}
