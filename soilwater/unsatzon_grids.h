// Which grids and stacks the unsaturated zone publishes in the grid store,
// in which order, and which store entries they take: the entries follow one
// another from the first free one, and an entry that another object holds is
// never overwritten.
#pragma once

#include <string>
#include <vector>

class DiagStream;
class grid_store;

// What decides which own grids exist.
struct own_grid_switches {
  int readgrid = 0;
  bool pond = false;                     // pond_switch 1
  bool drainage = false;                 // drainage_switch 1
  bool irrigation = false;               // the settings hold an irrigation table
  bool etr2etp_in_store = false;         // another module published "ETR2ETP"
  bool method3 = false;                  // method 3
  bool heat = false;                     // heat_flow_control > 0
  bool lower_boundary_in_store = false;  // "T_Lower_Boundary_Condition" exists
  bool groundwater_k_linked = false;     // "gw_k_x_1" and "gw_k_y_1" linked
};

// The names of the module's own grids and stacks in the order they take
// their store entries (readgrid 1 and 3 put the read ones first).
std::vector<std::string> own_grid_order(const own_grid_switches& s);

// The store entries for count grids: consecutive from the first entry
// without a grid name. FATAL code 12 when the store is full or when one of
// the following entries is held by another object (named in the entry).
std::vector<int> own_grid_entries(DiagStream& diag, const grid_store& store,
                                  const std::vector<std::string>& names);
// The entries first, first + 1, ... for the names, each checked as above.
std::vector<int> next_store_entries(DiagStream& diag, const grid_store& store, int first,
                                    const std::vector<std::string>& names);
