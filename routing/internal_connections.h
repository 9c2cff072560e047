// Internal inflows (ZL "intern") are fed by internal abstractions (AL of
// the modes "intern", "intern_with_rule", "intern_with_rule_from_reservoir")
// whose AL code is the inflow's number: every internal inflow needs exactly
// one, from another subbasin, and every internal abstraction must feed one.
#pragma once

#include <string>
#include <vector>

struct connection_abstraction {
  int code = 0;          // AL code = number of the inflow it feeds
  bool internal = false; // one of the internal modes
  int connected_to = 0;  // subbasin index of the fed reach once connected; 0 none
};

struct connection_reach {
  int tg_code = 0;
  int subbasin_index = 0;
  std::vector<int> internal_inflows;  // numbers of its ZL "intern" entries, in order
  std::vector<connection_abstraction> abstractions;
};

// A connection fault: the code (300..303) and the message after the shared
// first line.
struct connection_fault {
  int code = 0;
  std::string message;
};

// The first line every connection fault shares (after "FATAL: ").
constexpr const char* CONNECTION_FAULT_HEAD =
    "\n ---> Error in connecting internal abstractions with internal inflows:\n";

// Connects the abstractions (sets connected_to) in reach order; throws
// connection_fault for codes 300 (second abstraction for one inflow), 301
// (same subbasin), 302 (inflow without abstraction), 303 (abstraction
// without inflow). Reach numbers in messages are 1-based.
void connect_internal_inflows(std::vector<connection_reach>& reaches);
