// Pure parts of the reservoir step: the level-volume table of a lake from
// the elevations of its cells (level-pool storage: the water surface is flat,
// V(L) = sum over cells below L of cell area x (L - DEM)), interpolation in
// it, the mixing of concentrations and the release of an operation rule over
// sub-steps.
#pragma once

#include <functional>
#include <vector>

#include "routing/operation_rules.h"

// Levels descending from the lake's top, volumes with them; the last point
// is the floor with volume 0.
struct level_volume_table {
  std::vector<double> levels;   // [m a.s.l.]
  std::vector<double> volumes;  // [m3]
  int N = 0;
};

// Points of a lake whose cells lie at dem [m a.s.l.] with top level top:
// 0.01 m apart for the first 4 m, 0.02 m to 14 m, 0.05 m below. A flat lake
// (top at its floor) gets its top 0.01 m above the floor, so the table stays
// invertible. cell_area [m2].
level_volume_table build_level_volume_table(std::vector<double> dem, double top, double cell_area);
// Linear interpolation in two descending columns, the end segments extended;
// a segment of equal x gives its lower point's y (never a division by zero).
double interpolate_descending(const std::vector<double>& X, const std::vector<double>& Y, int N,
                              double x);

// (|w1| c1 + |w2| c2) / (|w1| + |w2|), 0 when both weights are 0.
double mix_reservoir_concentrations(double c1, double c2, double w1, double w2);

// What the release over sub-steps needs beyond the rule.
struct release_inputs {
  double storage = 0;    // [m3] at the start of the step
  double inflow = 0;     // [m3 s-1]
  double dt = 60;        // [min]
  double sub_step = 60;  // [s]
  bool lake = false;     // above the table the lake spills
  std::function<double(double)> level_of;  // [m a.s.l.] of a volume (lake only)
  double spill_level = 0;                  // [m a.s.l.]
  // Abstractions from the reservoir: the amount [m3 s-1] of abstraction i
  // at storage S [m3]; count of them.
  std::function<double(int, double)> abstraction_rate;
  int abstraction_count = 0;
};

// Mean release [m3 s-1] of the step over trunc(dt x 60 / sub_step) sub-steps;
// taken[i] gets the volume [m3] abstraction i took. No sub-step releases or
// takes more than the storage holds: the storage never goes below 0.
double release_over_substeps(const operation_rule& rule, const rule_date& date,
                             const release_inputs& in, std::vector<double>& taken);
