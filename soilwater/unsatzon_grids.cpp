// Store entries of the unsaturated zone's own grids (see unsatzon_grids.h).
#include "soilwater/unsatzon_grids.h"

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"

std::vector<std::string> own_grid_order(const own_grid_switches& s) {
  std::vector<std::string> n;
  auto add = [&n](bool condition, const char* name) {
    if (condition) n.emplace_back(name);
  };
  const bool lower_boundary = s.heat && !s.lower_boundary_in_store;
  if (s.readgrid == 1 || s.readgrid == 3) {
    add(true, "theta");
    add(true, "geodetic_heads");
    add(true, "hydraulic_heads");
    add(lower_boundary, "T_Lower_Boundary_Condition");
    add(s.heat, "Soil_Temperature_Stack");
    add(true, "groundwater_distance");
    add(true, "groundwater_level");
    add(true, "Theta_in_GWLEVEL");
    add(true, "baseflow");
    add(s.pond, "ponding_storage");
  } else {
    add(true, "groundwater_distance");
    add(s.pond, "ponding_storage");
    add(true, "geodetic_heads");
    add(true, "theta");
    add(true, "hydraulic_heads");
    add(lower_boundary, "T_Lower_Boundary_Condition");
    add(s.heat, "Soil_Temperature_Stack");
    add(true, "baseflow");
    add(true, "groundwater_level");
    add(true, "Theta_in_GWLEVEL");
  }
  for (const char* name : {"q_down", "q_downext", "SB_1_grid", "MeanThetaInRootZone"})
    add(true, name);
  for (const char* name : {"irrigation_amounts", "Max_Pumping", "SBLOW_grid", "SBHIGH_grid"})
    add(s.irrigation, name);
  add(s.irrigation && !s.etr2etp_in_store, "ETR2ETP");
  for (const char* name :
       {"GWTableExtern", "Balance", "tangens_beta", "SB_2_grid", "macropore_infiltration"})
    add(true, name);
  add(s.method3, "number_of_substeps");
  for (const char* name :
       {"ROOTgrid", "groundwater_recharge", "Capillar_Uprise", "Percolation", "directflow",
        "interflow", "infiltration_excess", "total_infiltration", "infiltration_saturation"})
    add(true, name);
  add(s.heat && s.groundwater_k_linked, "frozenSoilInGroundwater");
  add(s.heat, "ThawDepthTMod");
  add(s.drainage, "drainage_flow");
  add(s.drainage, "drainage_level");
  return n;
}

std::vector<int> own_grid_entries(DiagStream& diag, const grid_store& store,
                                  const std::vector<std::string>& names) {
  int first = 1;
  while (first < GRID_STORE_FULL && store[first].grid_name.has_value()) ++first;
  if (first >= GRID_STORE_FULL)
    fail_fatal(diag, GRID_STORE_FULL_CODE, "no more free grids in memeory, (max. ", GRID_STORE_FULL,
               ")!");
  return next_store_entries(diag, store, first, names);
}

std::vector<int> next_store_entries(DiagStream& diag, const grid_store& store, int first,
                                    const std::vector<std::string>& names) {
  std::vector<int> entries;
  for (size_t i = 0; i < names.size(); ++i) {
    const int index = first + static_cast<int>(i);
    if (index >= GRID_STORE_FULL)
      fail_fatal(diag, GRID_STORE_FULL_CODE, "no free grid in memory,(max. ", GRID_STORE_FULL,
                 ")!");
    // Entries after the first free one may be held by objects registered
    // later than a gap was left: never overwrite them.
    if (store[index].grid_name.has_value())
      fail_fatal(diag, GRID_STORE_FULL_CODE, "unsatzon_model: grid store entry ", index,
                 " for grid \"", names[i], "\" is held by grid \"", *store[index].grid_name,
                 "\": the module's grids need ", names.size(),
                 " consecutive free entries from entry ", first, "\n");
    entries.push_back(index);
  }
  return entries;
}
