// The soil table: one soil_entry per soil type of "[soil_table]", with its
// layers, the van Genuchten-Mualem parameters of each layer, macropore,
// interflow, grain-size, frozen-soil and heat parameters, and the look-up
// tables built from them (soil_lookup.cpp), which the unsaturated zone
// queries cell by cell.
//
// A soil type is written as one line (old form, a single set of van
// Genuchten parameters for equal layers) or as a "MultipleHorizons" block of
// "key = value;" items with one value per horizon. The table is a vector of
// n + 1 entries whose entry 0 is a header holding n in its code.
#pragma once

#include <array>
#include <string>
#include <vector>

class DiagStream;
class modelobject;

// Read errors of the soil table: blocks 29, one-line entries and the table as
// a whole 30.
constexpr int SOIL_BLOCK_ERROR = 29;
constexpr int SOIL_TABLE_ERROR = 30;

// Look-up tables: entries 0..SOIL_TABLE_STEPS.
constexpr int SOIL_TABLE_STEPS = 30;
constexpr int SOIL_FREEZE_STEPS = 1000;
constexpr double SOIL_FREEZE_MIN_TEMPERATURE = -10.0;  // [degC]

using layer_values = std::vector<double>;  // index 0..layer_count, layer 1 on top

struct soil_entry {
  std::string name;
  int code = 0;
  int method = 0;
  double FCap = 0;
  double mSB = 0;
  double msb_minus_fcap = 0;  // (mSB - FCap) * 0.01
  double ksat_topmodel = 0;   // [m s-1]
  double suction = 0;
  int table_steps = 0;
  int suction_steps = 0;
  int layer_count = 0;
  int horizon_count = 0;
  std::vector<int> horizon_layers;  // [1..horizon_count], [0] their sum

  // Per layer (index 0..layer_count) the hydraulic tables (entries 0..30).
  std::vector<std::vector<double>> theta_table;
  std::vector<std::vector<double>> k_rel_table;
  std::vector<std::vector<double>> theta_at_suction_table;
  std::vector<std::vector<double>> suction_list;  // [m]

  layer_values ksat;         // [m s-1]
  layer_values thickness;    // [m]
  layer_values theta_sat;    // [m3 m-3]
  layer_values theta_res;    // [m3 m-3]
  layer_values Par_n;        // [-]
  layer_values Par_m;        // [-]
  layer_values alpha;        // [m-1]
  layer_values Par_tau;      // [-]
  layer_values k_recession;  // per horizon, written to its layers (block form)
  double k_reduction = 0;    // old form
  double maxratio = 0;
  double EvapMaxDepth = 0.1;       // [m]
  double MaxInterflowDepth = 2.0;  // [m]
  double ThicknessScaling = 1.0;   // [-]
  double total_depth = 0;          // [m]
  double PMacroThresh = 1.0;       // [m s-1] after reading
  double MacroCapacity = 0;        // [m s-1] after reading
  double MacroDepth = 0;
  double CapacityRedu = 1.0;
  double sand = 0.3333, silt = 0.3333, clay = 0.3334;  // [-]
  double stones1 = 0, stones2 = 0, stones3 = 0, stones4 = 0;
  std::array<double, 11> SU_PAR{};  // "SU_PAR00" .. "SU_PAR10"
  layer_values DryHeatCapacity;     // -1 = not given
  layer_values DryDensity;          // -1 = not given
  layer_values DryThermalConduct;   // -1 = not given
  double KMinFrozenSoil = -1;       // [m s-1], -1 = not given
  double ln_KMinFrozenSoil = -20;
  double freeze_min_temperature = SOIL_FREEZE_MIN_TEMPERATURE;  // [degC]
  int freeze_steps = SOIL_FREEZE_STEPS;
  // Per layer the freezing tables (entries 0..freeze_steps).
  std::vector<std::vector<double>> unfrozen_fraction_table;
  std::vector<std::vector<double>> unfrozen_slope_table;
  std::vector<std::vector<double>> freezing_shift_table;  // [degC]

  // ---- look-ups (soil_lookup.cpp); layer arrays are indexed 1..layer_count ----
  void build_hydraulic_tables(int layer);
  const layer_values& get_ksat() const { return ksat; }
  // Suction [m] at water content theta.
  double suction_from_theta(int layer, double theta) const;
  // Relative conductivity [-] at min(theta, theta_limit).
  double relative_conductivity_from_theta(int layer, double theta, double theta_limit) const;
  // Water content at suction h [m].
  double theta_from_suction(int layer, double h) const;
  void make_freezing_tables(int layer, double scale);
  // Per layer 1..layer_count; nothing happens when temperature is null.
  void unfrozen_fraction(double* out, const double* temperature, const double* theta) const;
  void unfrozen_fraction_slope(double* out, const double* temperature, const double* theta) const;
  // Heat capacity of each layer: dry soil, water (c) or ice (d at 0 degC to e
  // at -20 degC) weighted by the unfrozen fraction, times b, plus added.
  void layer_heat_capacity(const double* temperature, double* out, const double* unfrozen,
                           const double* added, const double* theta, double b, double c, double d,
                           double e) const;
};

using soil_table_t = std::vector<soil_entry>;

// Fills one entry from an old one-line soil type; soil_model_mode 2 reads the
// layers and van Genuchten parameters too. Throws 30 after its entries.
void parse_soil_line(DiagStream& diag, soil_entry& entry, const std::string& line,
                     int soil_model_mode);

// Fills one entry from a "MultipleHorizons" block. Throws 29 after its entries.
void parse_soil_block(DiagStream& diag, soil_entry& entry, const std::string& text);

// Reads "[soil_table]" of the reader's open control file into table (entry 0
// the header). The table keeps what was read when an entry fails.
void read_soil_table(modelobject& reader, int soil_model_mode, soil_table_t& table);
