// One dissolved tracer as the tracer settings describe it and the modules
// that carry tracers use it. The tracer list is 1-based; entry 0 is unused.
#pragma once

#include <string>

struct tracer_entry {
  std::string name;       // first three characters of its name, lower case, "_"-padded
  int radioactive = 0;    // 1 when the tracer decays
  int evaporating = 0;    // 1 when it leaves with evaporated water
  double min_conc = 0;
  double max_conc = 0;
  double half_time = -9999;  // [d] half-life; -9999 when it does not decay
  double gwini = 0;          // initial concentration in groundwater
  double soilini = 0;        // initial concentration in the soil
  double decay_factor = 0;   // [-] per step; set by the modules' tracer set-up
  std::string path;          // directory prefix of its statistics and grid files
  std::string statext;       // extension of its statistics files
  std::string gridext;       // extension of its grid files
  int statcode = 0;          // statistics code of its zonal statistics
  int gridcode = 0;          // write code of its grids
};
