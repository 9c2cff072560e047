// Reader of "[soil_table]": the count of soil types, then per type an old
// one-line entry or a "MultipleHorizons" block. Every type must have the same
// number of layers. The hydraulic tables of every layer are built right after
// the entry is read; ksat of a block then recedes with depth within each
// horizon as ksat * k^w, w the depth of the layer's middle below the top of
// its horizon.
#include "tables/soiltable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "tables/table_text.h"

namespace {

using table_text::key_status;
using table_text::occurrence;

constexpr double OLD_TOP_LAYER = 0.05;       // [m] thickness of the top layer (old form)
constexpr double OLD_MIN_LAYER = 0.1;        // [m] thinnest other layer (old form)
constexpr double OLD_RECESSION_DEPTH = 2.0;  // [m] depth of the last receding layer
constexpr double MM_PER_HOUR_TO_M_PER_S = 3600000.0;
constexpr double LN_KMIN_NOT_POSITIVE = -27.631;
constexpr double GRAIN_SUM_TOLERANCE = 1e-4;

// Unwinds an entry parse to its general failure entry.
struct entry_failure {};

void allocate_tables(soil_entry& e) {
  e.table_steps = SOIL_TABLE_STEPS;
  e.suction_steps = SOIL_TABLE_STEPS;
  const size_t layers = static_cast<size_t>(e.layer_count) + 1;
  e.theta_table.assign(layers, {});
  e.k_rel_table.assign(layers, {});
  e.theta_at_suction_table.assign(layers, {});
  e.suction_list.assign(layers, {});
  for (int l = 0; l <= e.layer_count; ++l) e.build_hydraulic_tables(l);
  const std::vector<double> freeze(static_cast<size_t>(e.freeze_steps) + 1, 0.0);
  e.unfrozen_fraction_table.assign(layers, freeze);
  e.unfrozen_slope_table.assign(layers, freeze);
  e.freezing_shift_table.assign(layers, freeze);
}

void check_name_length(DiagStream& diag, const soil_entry& e) {
  if (e.name.size() <= table_text::MAX_NAME_LENGTH) return;
  diag_entry(diag, "FATAL: soil table code ", e.code, ": the soil type name is longer than ",
             static_cast<int>(table_text::MAX_NAME_LENGTH), " characters");
  throw entry_failure{};
}

// ---- old one-line form ----

class line_fields {
 public:
  line_fields(DiagStream& diag, const soil_entry& e, std::istringstream& in)
      : diag_(diag), e_(e), in_(in) {}
  template <class T>
  void read(const char* key, T& target) {
    if (in_ >> target) return;
    diag_entry(diag_, "FATAL: soil table code ", e_.code, ": value \"", key,
               "\" of the one-line soil type could not be read");
    throw entry_failure{};
  }

 private:
  DiagStream& diag_;
  const soil_entry& e_;
  std::istringstream& in_;
};

void read_old_line(DiagStream& diag, soil_entry& e, const std::string& line, int soil_model_mode) {
  std::istringstream in(line);
  if (!(in >> e.code) || !(in >> e.name)) throw entry_failure{};
  check_name_length(diag, e);
  line_fields fields(diag, e, in);
  fields.read("FCap", e.FCap);
  fields.read("mSB", e.mSB);
  fields.read("ksat_topmodel", e.ksat_topmodel);
  fields.read("suction", e.suction);
  e.msb_minus_fcap = (e.mSB - e.FCap) * 0.01;
  if (soil_model_mode != 2) return;

  fields.read("method", e.method);
  if (e.method != 1) {
    diag_entry(diag, "FATAL: error reading soil parameters for soil type ", e.code,
               ": only old method 1 (van-Genuchten Parameter) is supported in Velmo newer than "
               "6.4.\n",
               "Use the new soil type table format instead.");
    throw entry_failure{};
  }
  double theta_sat = 0, theta_res = 0, alpha = 0, n = 0, d = 0;
  fields.read("theta_sat", theta_sat);
  fields.read("theta_res", theta_res);
  fields.read("alpha", alpha);
  fields.read("Par_n", n);
  fields.read("layers", e.layer_count);
  // The top layer and the rest of the first d make two layers at least.
  if (e.layer_count < 2) {
    diag_entry(diag, "FATAL: soil table code ", e.code,
               ": the one-line soil type needs 2 layers or more, not ", e.layer_count);
    throw entry_failure{};
  }
  const size_t layers = static_cast<size_t>(e.layer_count) + 1;
  e.theta_sat.assign(layers, theta_sat);
  e.theta_res.assign(layers, theta_res);
  e.alpha.assign(layers, alpha);
  e.Par_n.assign(layers, n);
  e.Par_m.assign(layers, 1.0 - 1.0 / n);
  e.Par_tau.assign(layers, 0.5);
  e.k_recession.assign(layers, 1.0);
  e.DryHeatCapacity.assign(layers, -1.0);
  e.DryDensity.assign(layers, -1.0);
  e.DryThermalConduct.assign(layers, -1.0);
  fields.read("thickness", d);
  fields.read("maxratio", e.maxratio);
  fields.read("k_reduction", e.k_reduction);
  allocate_tables(e);

  if (d < OLD_MIN_LAYER) {
    diag_entry(diag, "FATAL: \nerror soil type ", e.code, ":\nthickness of single layers (here ", d,
               " m)\nhas to be at minimum twice as thick as the\nthickness of the top layer (here ",
               OLD_TOP_LAYER, " m)");
    throw entry_failure{};
  }
  e.thickness.assign(layers, d);
  e.thickness[1] = OLD_TOP_LAYER;
  e.thickness[2] = d - OLD_TOP_LAYER;
  e.total_depth = 0;
  for (int i = 1; i <= e.layer_count; ++i) e.total_depth += e.thickness[static_cast<size_t>(i)];

  e.ksat.assign(layers, 0.0);
  e.ksat[1] = e.ksat_topmodel * std::pow(e.k_reduction, OLD_TOP_LAYER / 2);
  e.ksat[2] = e.ksat_topmodel *
              std::pow(e.k_reduction, OLD_TOP_LAYER + (e.thickness[2] - OLD_TOP_LAYER) / 2);
  for (int i = 3; i <= e.layer_count; ++i) {
    const double z = (i - 1.5) * d;
    const auto ii = static_cast<size_t>(i);
    e.ksat[ii] =
        z <= OLD_RECESSION_DEPTH ? e.ksat_topmodel * std::pow(e.k_reduction, z) : e.ksat[ii - 1];
  }
  e.ksat[0] = e.ksat[1];
}

// ---- block form ----

class block_fields {
 public:
  block_fields(DiagStream& diag, soil_entry& e, const std::string& body)
      : diag_(diag), e_(e), body_(body) {}

  bool value_of(const char* key, occurrence which, std::string& value) const {
    switch (table_text::find_value(body_, key, which, value)) {
      case key_status::absent:
        return false;
      case key_status::unterminated:
        throw entry_failure{};
      case key_status::value:
        break;
    }
    return true;
  }
  // A single value, taken at the key's first occurrence.
  bool single(const char* key, double& target) const {
    std::string value;
    if (!value_of(key, occurrence::first, value)) return false;
    if (!table_text::parse_double(value, target)) throw entry_failure{};
    return true;
  }
  void single(const char* key, double& target, double fallback) const {
    if (!single(key, target)) target = fallback;
  }
  // One value per horizon at the key's last occurrence, written to every
  // layer of its horizon; a shorter list repeats its last value.
  bool per_horizon(const char* key, std::vector<double>& target) const {
    std::string value;
    if (!value_of(key, occurrence::last, value)) return false;
    std::vector<double> values;
    if (!table_text::parse_double_list(value, values) || values.empty()) {
      diag_entry(diag_, "FATAL: soil table code ", e_.code, ": key \"", key,
                 "\" must list one number per horizon, separated by blanks");
      throw entry_failure{};
    }
    int layer = 1;
    for (int h = 1; h <= e_.horizon_count; ++h) {
      const double v = values[std::min(values.size(), static_cast<size_t>(h)) - 1];
      for (int i = 0; i < e_.horizon_layers[static_cast<size_t>(h)]; ++i)
        target[static_cast<size_t>(layer++)] = v;
    }
    target[0] = target[1];
    return true;
  }
  void per_horizon(const char* key, std::vector<double>& target, double fallback) const {
    if (!per_horizon(key, target)) std::fill(target.begin(), target.end(), fallback);
  }
  void required_per_horizon(const char* key, std::vector<double>& target) const {
    if (!per_horizon(key, target)) throw entry_failure{};
  }

  void layers();
  void grain_size_distribution();

 private:
  DiagStream& diag_;
  soil_entry& e_;
  const std::string& body_;
};

void block_fields::layers() {
  std::string value;
  if (!value_of("layers", occurrence::last, value)) throw entry_failure{};
  const int count = table_text::count_items(value);
  e_.horizon_layers.assign(static_cast<size_t>(count) + 1, 0);
  const int got = table_text::parse_ints(value, count, e_.horizon_layers.data() + 1);
  bool valid = count >= 1 && got == count;
  for (int h = 1; valid && h <= count; ++h) valid = e_.horizon_layers[static_cast<size_t>(h)] >= 1;
  if (!valid) {
    diag_entry(diag_, "FATAL: soil table code ", e_.code,
               ": key \"layers\" must list the number of layers (1 or more) of each horizon, "
               "separated by blanks");
    throw entry_failure{};
  }
  e_.horizon_count = count;
  int sum = 0;
  for (int h = 1; h <= count; ++h) sum += e_.horizon_layers[static_cast<size_t>(h)];
  e_.horizon_layers[0] = sum;
  e_.layer_count = sum;
}

void block_fields::grain_size_distribution() {
  std::string value;
  if (!value_of("GrainSizeDist", occurrence::first, value)) {
    e_.sand = 0.3333;
    e_.silt = 0.3333;
    e_.clay = 0.3334;
    e_.stones1 = e_.stones2 = e_.stones3 = e_.stones4 = 0;
    return;
  }
  std::array<double, 7> f{};
  const int got = table_text::parse_doubles(value, 7, f.data());
  if (got < 7) {
    diag_entry(diag_, "FATAL: soil table code ", e_.code,
               ": key \"GrainSizeDist\" needs 7 numbers but only ", got, " could be read");
    throw entry_failure{};
  }
  e_.sand = f[0];
  e_.silt = f[1];
  e_.clay = f[2];
  e_.stones1 = f[3];
  e_.stones2 = f[4];
  e_.stones3 = f[5];
  e_.stones4 = f[6];
  const char* problem = nullptr;
  if (!(e_.sand > 0)) {
    problem = "FATAL: Grainsize distribution: fraction of sand must be > 0 \nsoil type: ";
  } else {
    for (size_t i = 1; i < f.size() && problem == nullptr; ++i)
      if (!(f[i] >= 0))
        problem =
            "FATAL: Grainsize distribution: all grain size fractions must be >= 0 (sand must be "
            ">0)\nsoil type: ";
  }
  if (problem == nullptr) {
    double sum = 0;
    for (double v : f) sum += v;
    if (!(std::fabs(sum - 1.0) <= GRAIN_SUM_TOLERANCE))
      problem =
          "FATAL: Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) "
          "must be 1.0\n soil type: ";
  }
  if (problem != nullptr) {
    diag_entry(diag_, problem, e_.code, "\n", body_);
    throw entry_failure{};
  }
}

// ksat recedes with depth within each horizon, down to MaxInterflowDepth.
void apply_recession(soil_entry& e) {
  double top = 0;  // [m] depth of the top of the current layer
  bool stopped = false;
  int layer = 1;
  for (int h = 1; h <= e.horizon_count; ++h) {
    double w = 0;
    double previous = 0;
    for (int i = 0; i < e.horizon_layers[static_cast<size_t>(h)]; ++i, ++layer) {
      const auto l = static_cast<size_t>(layer);
      const double t = e.thickness[l];
      w += i == 0 ? t / 2 : previous / 2 + t / 2;
      previous = t;
      const double z = top + t / 2;
      top += t;
      if (stopped || z > e.MaxInterflowDepth) {
        stopped = true;
        continue;
      }
      e.ksat[l] *= std::pow(e.k_recession[l], w);
    }
  }
}

void read_block(DiagStream& diag, soil_entry& e, const std::string& text, const std::string& body) {
  int code = 0;
  if (!table_text::parse_int(text, code)) throw entry_failure{};
  e.code = code;
  if (!table_text::parse_code_and_name(text, code, e.name)) throw entry_failure{};
  check_name_length(diag, e);
  block_fields fields(diag, e, body);

  fields.layers();
  const size_t layers = static_cast<size_t>(e.layer_count) + 1;
  for (auto* v :
       {&e.thickness, &e.ksat, &e.theta_sat, &e.theta_res, &e.Par_m, &e.Par_n, &e.alpha, &e.Par_tau,
        &e.k_recession, &e.DryHeatCapacity, &e.DryDensity, &e.DryThermalConduct})
    v->assign(layers, 0.0);

  fields.required_per_horizon("ksat", e.ksat);
  fields.required_per_horizon("theta_sat", e.theta_sat);
  fields.required_per_horizon("theta_res", e.theta_res);
  fields.required_per_horizon("alpha", e.alpha);
  fields.required_per_horizon("Par_n", e.Par_n);
  fields.required_per_horizon("thickness", e.thickness);

  e.EvapMaxDepth = e.thickness[1];
  fields.single("EvapMaxDepth", e.EvapMaxDepth);
  fields.single("ThicknessScaling", e.ThicknessScaling, 1.0);
  if (e.ThicknessScaling != 1.0)
    diag_entry(diag, "INFO: Soil layers for landuse ", e.code, " will be scaled by a factor of ",
               e.ThicknessScaling);
  e.total_depth = 0;
  for (size_t i = 0; i < layers; ++i) {
    e.thickness[i] *= e.ThicknessScaling;
    if (i >= 1) e.total_depth += e.thickness[i];
  }

  fields.grain_size_distribution();
  for (int i = 0; i <= 10; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "SU_PAR%.02d", i);
    fields.single(key, e.SU_PAR[static_cast<size_t>(i)], 0.0);
  }
  fields.per_horizon("Par_tau", e.Par_tau, 0.5);
  fields.per_horizon("k_recession", e.k_recession, 1.0);
  fields.single("PMacroThresh", e.PMacroThresh, 1000);
  fields.single("MacroCapacity", e.MacroCapacity, 0);
  fields.single("CapacityRedu", e.CapacityRedu, 1.0);
  fields.single("MacroDepth", e.MacroDepth, 1.0);
  fields.per_horizon("DryHeatCapacity", e.DryHeatCapacity, -1);
  fields.per_horizon("DryDensity", e.DryDensity, -1);
  fields.per_horizon("DryThermalConduct", e.DryThermalConduct, -1);
  double k_min = 0;
  if (fields.single("KMinFrozenSoil", k_min)) {
    e.KMinFrozenSoil = k_min;
    e.ln_KMinFrozenSoil = k_min > 0 ? std::log(k_min) : LN_KMIN_NOT_POSITIVE;
  }
  e.PMacroThresh /= MM_PER_HOUR_TO_M_PER_S;
  e.MacroCapacity /= MM_PER_HOUR_TO_M_PER_S;
  fields.single("maxratio", e.maxratio, 1000);
  fields.single("FCap", e.FCap, 25);
  fields.single("mSB", e.mSB, 35);
  fields.single("ksat_topmodel", e.ksat_topmodel, 0.00001);
  fields.single("suction", e.suction, 300);
  e.msb_minus_fcap = (e.mSB - e.FCap) * 0.01;
  if (!fields.per_horizon("Par_m", e.Par_m)) {
    for (size_t i = 0; i < layers; ++i) e.Par_m[i] = e.Par_n[i] == 0 ? 0.0 : 1.0 - 1.0 / e.Par_n[i];
  }
  fields.single("MaxInterflowDepth", e.MaxInterflowDepth, 2.0);

  allocate_tables(e);
  apply_recession(e);
}

// The code of an entry for messages: the one in its text, else its index.
int code_in_text(const std::string& text, int fallback) {
  int code = fallback;
  table_text::parse_int(text, code);
  return code;
}

}  // namespace

void parse_soil_line(DiagStream& diag, soil_entry& entry, const std::string& line,
                     int soil_model_mode) {
  try {
    read_old_line(diag, entry, line, soil_model_mode);
  } catch (const entry_failure&) {
    fail_fatal(diag, SOIL_TABLE_ERROR, "soil table code ", entry.code,
               ": some values could not be read\n", line);
  }
}

void parse_soil_block(DiagStream& diag, soil_entry& entry, const std::string& text) {
  if (!table_text::contains(text, "MultipleHorizons"))
    fail_fatal(diag, SOIL_BLOCK_ERROR, "soil table definition method unknown ", text);
  const size_t brace = text.find('{');
  const std::string body = brace == std::string::npos ? std::string() : text.substr(brace);
  try {
    read_block(diag, entry, text, body);
  } catch (const entry_failure&) {
    fail_fatal(diag, SOIL_BLOCK_ERROR, "Soil table code ", entry.code,
               ": some values could not be read\n", body);
  }
}

void read_soil_table(modelobject& reader, int soil_model_mode, soil_table_t& table) {
  DiagStream& diag = reader.diagnostics();
  reader.seek_section("[soil_table]", true);
  std::FILE* file = reader.control_file();
  int n = 0;
  std::string word;
  switch (table_text::read_class_count(file, n, word)) {
    case table_text::count_result::not_a_number:
      fail_fatal(diag, SOIL_TABLE_ERROR, "soil table: the number of soil types \"", word,
                 "\" is not a whole number");
    case table_text::count_result::negative:
      fail_fatal(diag, SOIL_TABLE_ERROR, "soil table: the number of soil types ", n,
                 " is negative");
    case table_text::count_result::ok:
      break;
  }
  table = reader.checked_array<soil_entry>(static_cast<size_t>(n) + 1, 1);
  for (int j = 1; j <= n; ++j) table[static_cast<size_t>(j)].code = j;
  table[0].code = n;

  std::string text;
  for (int j = 1; j <= n; ++j) {
    soil_entry& e = table[static_cast<size_t>(j)];
    if (!table_text::read_line(file, text))
      fail_fatal(diag, SOIL_TABLE_ERROR, "soil table: the control file ends after ", j - 1, " of ",
                 n, " soil types");
    const bool block = table_text::contains(text, "MultipleHorizons") ||
                       table_text::contains(text, "method") || table_text::contains(text, "{");
    if (!block) {
      parse_soil_line(diag, e, text, soil_model_mode);
    } else {
      if (!table_text::complete_block(file, text))
        fail_fatal(diag, SOIL_TABLE_ERROR, "soil table code ", code_in_text(text, j),
                   ": the control file ends inside the block (no \"}\")\n", text);
      parse_soil_block(diag, e, text);
    }
    if (j >= 2) {
      const soil_entry& before = table[static_cast<size_t>(j - 1)];
      if (e.layer_count != before.layer_count)
        fail_fatal(diag, SOIL_TABLE_ERROR,
                   "the numbers of soil layers has to be equal for all soil types\n(here: soil "
                   "type ",
                   e.code, ": ", e.layer_count, " layers, but soil type ", before.code, ": ",
                   before.layer_count, " layers)\n\n");
    }
  }
}
