// Reader of "[landuse_table]": the class count, then per class either one line
// (method 1) or a block "code name method <keyword> { key = value; ... }".
// Every failure of a class ends in the entry "landuse table code <code>: some
// values could not be read" with the class text and code 29; checks that can
// say more write an entry of their own first.
#include "tables/landuse.h"

#include <cstring>
#include <sstream>
#include <type_traits>
#include <utility>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "tables/table_text.h"

namespace {

using table_text::key_status;
using table_text::occurrence;

constexpr const char* METHOD_KEYWORDS[] = {"VariableDayCount", "DynamicPhenology_1",
                                           "DynamicPhenology_2", "DynamicPhenology_3",
                                           "DynamicPhenology_4"};

// Block-form defaults that the one-line form takes over as well.
constexpr double RS_INTERCEPTION_DEFAULT = 20;  // [s m-1]
constexpr double RS_EVAPORATION_DEFAULT = 200;  // [s m-1]
constexpr double SR_SERIES_DEFAULT = 0.01;      // stem diameter [m], residue cover [-]
constexpr double SR_CROP_DIST_DEFAULT = 0.3;    // [m]
constexpr double SR_K_ST_DEFAULT = 10.0;
constexpr double SR_C_WR_DEFAULT = 1.5;
constexpr std::array<double, 4> SR_ROUGH_DEFAULT = {0, 0.0198, 0.712, 0.142};
constexpr double N_FACTOR_DEFAULT = -9999.9;
constexpr int SR_CULTIVATION_OTHER = 3;
constexpr int NO_TILLAGE_DAY = -9999;
constexpr double DP2_OFFSET_1_DEFAULT = -3.4;  // [degC]
constexpr double DP2_OFFSET_2_DEFAULT = 12;    // [degC]
constexpr int HEADER_WRITE_DAY_DEFAULT = 365;

// Unwinds a class parse to its general failure entry.
struct class_failure {};

void fill_defaults_beyond_one_line(landuse_entry& e) {
  const size_t n = static_cast<size_t>(e.n_sample_days) + 1;
  e.SR_cultivation = SR_CULTIVATION_OTHER;
  e.SR_StemDiameter.assign(n, SR_SERIES_DEFAULT);
  e.SR_ResidCovrg.assign(n, SR_SERIES_DEFAULT);
  e.SR_CropDistX = SR_CROP_DIST_DEFAULT;
  e.SR_CropDistY = SR_CROP_DIST_DEFAULT;
  e.SR_K_ST = SR_K_ST_DEFAULT;
  e.SR_C_WR = SR_C_WR_DEFAULT;
  e.SR_rough_coeff1 = SR_ROUGH_DEFAULT;
  e.SR_rough_coeff2 = SR_ROUGH_DEFAULT;
  e.n_factor.assign(n, N_FACTOR_DEFAULT);
  e.nf_freezing = N_FACTOR_DEFAULT;
  e.nf_thawing = N_FACTOR_DEFAULT;
  e.soil_tillage_days.assign(1, NO_TILLAGE_DAY);
  e.n_soil_tillage = 0;
}

// The keys of one block, read in the fixed order of the table.
class block_reader {
 public:
  block_reader(DiagStream& diag, landuse_entry& entry, const std::string& body)
      : diag_(diag), e_(entry), body_(body) {}

  void read();

 private:
  bool value_of(const char* key, std::string& value) const {
    switch (table_text::find_value(body_, key, occurrence::first, value)) {
      case key_status::absent:
        return false;
      case key_status::unterminated:
        throw class_failure{};
      case key_status::value:
        break;
    }
    return true;
  }
  template <class T>
  void convert(const std::string& value, T& target) const {
    bool ok = false;
    if constexpr (std::is_same_v<T, int>)
      ok = table_text::parse_int(value, target);
    else
      ok = table_text::parse_double(value, target);
    if (!ok) throw class_failure{};
  }
  template <class T>
  void required(const char* key, T& target) const {
    std::string value;
    if (!value_of(key, value)) throw class_failure{};
    convert(value, target);
  }
  template <class T>
  void optional(const char* key, T& target, T fallback) const {
    std::string value;
    if (value_of(key, value))
      convert(value, target);
    else
      target = fallback;
  }
  // A required key of the phenology methods reports itself when missing.
  template <class T>
  void phenology_key(const char* key, T& target) const {
    std::string value;
    if (!value_of(key, value)) {
      diag_entry(diag_, "FATAL: parameter \"", key, "\" not found for land use ", e_.code);
      throw class_failure{};
    }
    convert(value, target);
  }
  void offset_key(const char* key, double& target, double fallback) const {
    std::string value;
    if (value_of(key, value)) {
      convert(value, target);
      return;
    }
    target = fallback;
    diag_entry(diag_, "INFO: parameter \"", key, "\" not found for land use ", e_.code,
               "; Using default of ", fallback);
  }
  void short_list(const char* key, int needed, int got) const {
    diag_entry(diag_, "FATAL: landuse table code ", e_.code, ": key \"", key, "\" needs ", needed,
               " numbers but only ", got, " could be read");
    throw class_failure{};
  }
  // count numbers of key into series[1..count], series[0] = series[count].
  void value_list(const char* key, landuse_series& series, int count) const {
    std::string value;
    if (!value_of(key, value)) throw class_failure{};
    series.assign(static_cast<size_t>(count) + 1, 0.0);
    const int got = table_text::parse_doubles(value, count, series.data() + 1);
    if (got < count) short_list(key, count, got);
    series[0] = series[static_cast<size_t>(count)];
  }
  void optional_series(const char* key, landuse_series& series, double fallback) const {
    std::string value;
    if (value_of(key, value))
      value_list(key, series, e_.n_sample_days);
    else
      series.assign(static_cast<size_t>(e_.n_sample_days) + 1, fallback);
  }
  void use_internal_parameters();
  void jul_days();
  void phenology_parameters();
  void soil_tillage();
  void sr_cultivation();
  void rough_coefficients(const char* key, std::array<double, 4>& target) const;

  DiagStream& diag_;
  landuse_entry& e_;
  const std::string& body_;
};

void block_reader::use_internal_parameters() {
  std::string value;
  if (!value_of("useInternalParameters", value)) {
    e_.useInternalParameters = "11111111";
    e_.internal_flags = 255;
    return;
  }
  const size_t first = value.find_first_of("01");
  if (first == std::string::npos) throw class_failure{};
  std::string digits = value.substr(first);
  digits.erase(digits.find_last_not_of(" \t\r\n") + 1);
  e_.useInternalParameters = digits;
  e_.internal_flags = 0;
  for (size_t k = 0; k < 8 && k < digits.size(); ++k)
    if (digits[k] == '1') e_.internal_flags |= 128 >> k;
}

void block_reader::jul_days() {
  std::string value;
  if (!value_of("JulDays", value)) throw class_failure{};
  const int n = table_text::count_items(value);
  if (n < 1) {
    diag_entry(diag_, "FATAL: landuse table code ", e_.code,
               ": key \"JulDays\" lists no sample day");
    throw class_failure{};
  }
  e_.n_sample_days = n;
  e_.sample_days.assign(static_cast<size_t>(n) + 1, 0);
  const int got = table_text::parse_ints(value, n, e_.sample_days.data() + 1);
  if (got < n) short_list("JulDays", n, got);
  e_.sample_days[0] = e_.sample_days[static_cast<size_t>(n)] - 366;
  e_.sample_days_alt = e_.sample_days;
  if (e_.method == LANDUSE_DYNAMIC_PHENOLOGY_3) {
    if (e_.sample_days[1] != 1) {
      diag_entry(
          diag_, "FATAL: Error in Landuse Table (Code: ", e_.code,
          "): for Method DynamicPhenology_3 the first sample day (JulDay) must be 1 and not ",
          e_.sample_days[1]);
      throw class_failure{};
    }
    if (e_.sample_days[static_cast<size_t>(n)] != 366) {
      diag_entry(
          diag_, "FATAL: Error in Landuse Table (Code: ", e_.code,
          "): for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and not ",
          e_.sample_days[static_cast<size_t>(n)]);
      throw class_failure{};
    }
  }
}

void block_reader::phenology_parameters() {
  switch (e_.method) {
    case LANDUSE_DYNAMIC_PHENOLOGY_1:
    case LANDUSE_DYNAMIC_PHENOLOGY_2:
    case LANDUSE_DYNAMIC_PHENOLOGY_4: {
      e_.dyn_start_index = -1;
      phenology_key("F*", e_.F_star);
      phenology_key("DP1_t1_dorm", e_.DP1_t1_dorm);
      phenology_key("DP1_T_Bf", e_.DP1_T_Bf);
      phenology_key("JDReset_TStart", e_.JDReset_TStart);
      phenology_key("maxStartJDforDP1", e_.maxStartJDforDP1);
      for (int i = 1; i <= e_.n_sample_days - 1; ++i) {
        if (e_.sample_days[static_cast<size_t>(i)] < 0) {
          e_.dyn_start_index = i;
          break;
        }
      }
      // The queries put the cell's phenological start in place of this
      // sample day; without it they would have nowhere to put it.
      if (e_.dyn_start_index < 0) {
        diag_entry(diag_, "FATAL: landuse table code ", e_.code,
                   ": key \"JulDays\" needs a negative sample day among the first ",
                   e_.n_sample_days - 1,
                   " to mark the phenological start (methods DynamicPhenology_1, _2 and _4)");
        throw class_failure{};
      }
      if (e_.method == LANDUSE_DYNAMIC_PHENOLOGY_2) {
        phenology_key("DP2_t0_dorm", e_.DP2_t0_dorm);
        phenology_key("DP2_t1_dorm", e_.DP2_t1_dorm);
        phenology_key("DP2_T_Bf", e_.DP2_T_Bf);
        phenology_key("DP2_T_Bc", e_.DP2_T_Bc);
        phenology_key("DP2_Par_a", e_.DP2_Par_a);
        phenology_key("DP2_Par_b", e_.DP2_Par_b);
        offset_key("DP2_Offset_1", e_.DP2_Offset_1, DP2_OFFSET_1_DEFAULT);
        offset_key("DP2_Offset_2", e_.DP2_Offset_2, DP2_OFFSET_2_DEFAULT);
      }
      if (e_.method == LANDUSE_DYNAMIC_PHENOLOGY_4) {
        phenology_key("DP4_t0_dorm", e_.DP4_t0_dorm);
        phenology_key("DP4_t1_dorm", e_.DP4_t1_dorm);
        phenology_key("DP4_T0", e_.DP4_T0);
        phenology_key("DP4_T1", e_.DP4_T1);
        phenology_key("DP4_Par_a", e_.DP4_Par_a);
        phenology_key("DP4_Par_b", e_.DP4_Par_b);
        phenology_key("DP4_T_xylstop", e_.DP4_T_xylstop);
        phenology_key("DP4_t_xs1", e_.DP4_t_xs1);
        phenology_key("DP4_SPSLF", e_.DP4_SPSLF);
      }
      break;
    }
    case LANDUSE_DYNAMIC_PHENOLOGY_3:
      phenology_key("DP1_t1_dorm", e_.DP1_t1_dorm);
      phenology_key("DP1_T_Bf", e_.DP1_T_Bf);
      phenology_key("JDReset_TStart", e_.JDReset_TStart);
      phenology_key("maxStartJDforDP1", e_.maxStartJDforDP1);
      break;
    default:
      break;
  }
}

void block_reader::soil_tillage() {
  std::string value;
  const int k = value_of("SoilTillage", value) ? table_text::count_items(value) : 0;
  if (k == 0) {
    e_.soil_tillage_days.assign(1, NO_TILLAGE_DAY);
    e_.n_soil_tillage = 0;
    return;
  }
  e_.n_soil_tillage = k;
  e_.soil_tillage_days.assign(static_cast<size_t>(k) + 1, 0);
  const int got = table_text::parse_ints(value, k, e_.soil_tillage_days.data() + 1);
  if (got < k) short_list("SoilTillage", k, got);
  e_.soil_tillage_days[0] = e_.soil_tillage_days[static_cast<size_t>(k)] - 366;
}

void block_reader::sr_cultivation() {
  std::string value;
  if (!value_of("SR_cultivation", value)) {
    e_.SR_cultivation = SR_CULTIVATION_OTHER;
    return;
  }
  // "nonconserving" contains "conserving": it must be tried first.
  if (table_text::contains(value, "other"))
    e_.SR_cultivation = 3;
  else if (table_text::contains(value, "nonconserving"))
    e_.SR_cultivation = 2;
  else if (table_text::contains(value, "conserving"))
    e_.SR_cultivation = 1;
  else {
    diag_entry(diag_, "FATAL: no valid value for parameter \"SR_cultivation\" for land use ",
               e_.code);
    throw class_failure{};
  }
}

void block_reader::rough_coefficients(const char* key, std::array<double, 4>& target) const {
  std::string value;
  if (!value_of(key, value)) {
    target = SR_ROUGH_DEFAULT;
    return;
  }
  const int got = table_text::parse_doubles(value, 3, target.data() + 1);
  if (got < 3) short_list(key, 3, got);
  target[0] = target[3];
}

void block_reader::read() {
  required("RootDist", e_.RootDist);
  required("TReduWet", e_.TReduWet);
  use_internal_parameters();
  optional("LimitReduWet", e_.LimitReduWet, 0.0);
  required("HReduDry", e_.HReduDry);
  optional("StartVegetationPeriodForBalance", e_.StartVegetationPeriodForBalance, 0);
  optional("StopVegetationPeriodForBalance", e_.StopVegetationPeriodForBalance, 0);
  optional("JDVegetationResetForBalance", e_.JDVegetationResetForBalance, -1);
  optional("JDVegetationWriteForBalance", e_.JDVegetationWriteForBalance, -1);
  optional("IntercepCap", e_.IntercepCap, -1.0);
  optional("StressFactorDynPhen", e_.StressFactorDynPhen, 0.0);
  jul_days();
  phenology_parameters();

  const int n = e_.n_sample_days;
  if (e_.method == LANDUSE_DYNAMIC_PHENOLOGY_3)
    value_list("ForcingThreshold", e_.ForcingThreshold, n);
  value_list("Albedo", e_.Albedo, n);
  value_list("rsc", e_.rsc, n);
  value_list("LAI", e_.LAI, n);
  value_list("Z0", e_.Z0, n);
  value_list("VCF", e_.VCF, n);
  value_list("RootDepth", e_.RootDepth, n);
  value_list("AltDep", e_.AltDep, n);

  optional_series("rs_interception", e_.rs_interception, RS_INTERCEPTION_DEFAULT);
  optional_series("rs_evaporation", e_.rs_evaporation, RS_EVAPORATION_DEFAULT);
  soil_tillage();
  sr_cultivation();
  optional("SR_CropDistX", e_.SR_CropDistX, SR_CROP_DIST_DEFAULT);
  optional("SR_CropDistY", e_.SR_CropDistY, SR_CROP_DIST_DEFAULT);
  optional("SR_K_ST", e_.SR_K_ST, SR_K_ST_DEFAULT);
  optional("SR_C_WR", e_.SR_C_WR, SR_C_WR_DEFAULT);
  rough_coefficients("SR_rough_coeff1", e_.SR_rough_coeff1);
  rough_coefficients("SR_rough_coeff2", e_.SR_rough_coeff2);
  optional_series("SR_StemDiameter", e_.SR_StemDiameter, SR_SERIES_DEFAULT);
  optional_series("SR_ResidCovrg", e_.SR_ResidCovrg, SR_SERIES_DEFAULT);
  optional_series("n-factor", e_.n_factor, N_FACTOR_DEFAULT);
  optional("nf_freezing", e_.nf_freezing, N_FACTOR_DEFAULT);
  optional("nf_thawing", e_.nf_thawing, N_FACTOR_DEFAULT);
}

int method_of_keyword(const std::string& keyword) {
  for (int i = 0; i < 5; ++i)
    if (keyword == METHOD_KEYWORDS[i]) return LANDUSE_VARIABLE_DAY_COUNT + i;
  return 0;
}

// The method keyword of a line that opens a block, empty for a one-line class.
std::string block_keyword(const std::string& line) {
  if (!table_text::contains(line, "method") || !table_text::contains(line, "{")) return {};
  for (const char* keyword : METHOD_KEYWORDS)
    if (table_text::contains(line, keyword)) return keyword;
  return {};
}

void check_name_length(DiagStream& diag, const landuse_entry& e) {
  if (e.name.size() <= table_text::MAX_NAME_LENGTH) return;
  diag_entry(diag, "FATAL: landuse table code ", e.code, ": the class name is longer than ",
             static_cast<int>(table_text::MAX_NAME_LENGTH), " characters");
  throw class_failure{};
}

// One-line values after the albedo, each named after its block key.
class line_reader {
 public:
  line_reader(DiagStream& diag, const landuse_entry& e, std::istringstream& in)
      : diag_(diag), e_(e), in_(in) {}
  template <class T>
  void values(const char* key, T* target, int count) {
    for (int i = 0; i < count; ++i) {
      if (!(in_ >> target[i])) {
        diag_entry(diag_, "FATAL: landuse table code ", e_.code, ": value \"", key,
                   "\" of the one-line class could not be read");
        throw class_failure{};
      }
    }
  }

 private:
  DiagStream& diag_;
  const landuse_entry& e_;
  std::istringstream& in_;
};

void read_one_line(DiagStream& diag, landuse_entry& e, const std::string& line,
                   int soil_model_mode) {
  std::istringstream in(line);
  double albedo = 0;
  if (!(in >> e.code)) throw class_failure{};
  if (!(in >> e.name >> albedo)) throw class_failure{};
  check_name_length(diag, e);
  constexpr int n = 4;
  e.n_sample_days = n;
  e.Albedo.assign(n + 1, albedo);

  line_reader values(diag, e, in);
  e.rsc.assign(14, 0.0);
  values.values("rsc", e.rsc.data() + 1, 12);
  e.rsc[0] = e.rsc[12];
  e.rsc[13] = e.rsc[1];
  e.rs_interception = e.rsc;
  e.rs_evaporation.assign(14, RS_EVAPORATION_DEFAULT);

  e.sample_days.assign(n + 1, 0);
  values.values("JulDays", e.sample_days.data() + 1, n);
  e.sample_days[0] = e.sample_days[n] - 366;
  e.sample_days_alt = e.sample_days;
  for (auto [key, series] : {std::pair<const char*, landuse_series*>{"LAI", &e.LAI},
                             {"Z0", &e.Z0},
                             {"VCF", &e.VCF},
                             {"RootDepth", &e.RootDepth}}) {
    series->assign(n + 1, 0.0);
    values.values(key, series->data() + 1, n);
    (*series)[0] = (*series)[n];
  }
  if (soil_model_mode == 2) {
    values.values("RootDist", &e.RootDist, 1);
    values.values("HReduDry", &e.HReduDry, 1);
  }
  e.TReduWet = 0.95;
  e.LimitReduWet = 0;
  e.AltDep = {-0.025, 0.025, 0.025, -0.025, -0.025};
  fill_defaults_beyond_one_line(e);
}

void fail_class(DiagStream& diag, const landuse_entry& e, const std::string& text) {
  fail_fatal(diag, LANDUSE_READ_ERROR, "landuse table code ", e.code,
             ": some values could not be read\n", text);
}

}  // namespace

void parse_landuse_line(DiagStream& diag, landuse_entry& entry, const std::string& line,
                        int soil_model_mode) {
  entry.method = LANDUSE_ONE_LINE;
  try {
    read_one_line(diag, entry, line, soil_model_mode);
  } catch (const class_failure&) {
    fail_class(diag, entry, line);
  }
}

void parse_landuse_block(DiagStream& diag, landuse_entry& entry, const std::string& text,
                         const std::string& keyword) {
  const int method = method_of_keyword(keyword);
  if (method == 0) fail_fatal(diag, LANDUSE_READ_ERROR, "landuse table method unknown ", text);
  entry.method = method;
  entry.phenology_done = 0;
  entry.tstart = -1;
  try {
    int code = 0;
    if (!table_text::parse_int(text, code)) throw class_failure{};
    entry.code = code;
    if (!table_text::parse_code_and_name(text, code, entry.name)) throw class_failure{};
    check_name_length(diag, entry);
    const size_t brace = text.find('{');
    const std::string body = brace == std::string::npos ? std::string() : text.substr(brace);
    block_reader(diag, entry, body).read();
  } catch (const class_failure&) {
    fail_class(diag, entry, text);
  }
}

void read_landuse_table(modelobject& reader, int soil_model_mode, landuse_table_t& table) {
  DiagStream& diag = reader.diagnostics();
  reader.seek_section("[landuse_table]", true);
  std::FILE* file = reader.control_file();
  int n = 0;
  std::string word;
  switch (table_text::read_class_count(file, n, word)) {
    case table_text::count_result::not_a_number:
      fail_fatal(diag, LANDUSE_READ_ERROR, "landuse table: the number of classes \"", word,
                 "\" is not a whole number");
    case table_text::count_result::negative:
      fail_fatal(diag, LANDUSE_READ_ERROR, "landuse table: the number of classes ", n,
                 " is negative");
    case table_text::count_result::ok:
      break;
  }
  table = reader.checked_array<landuse_entry>(static_cast<size_t>(n) + 1, 1);
  for (int j = 1; j <= n; ++j) table[static_cast<size_t>(j)].code = j;
  table[0].code = n;

  std::string text;
  for (int j = 1; j <= n; ++j) {
    landuse_entry& e = table[static_cast<size_t>(j)];
    if (!table_text::read_line(file, text))
      fail_fatal(diag, LANDUSE_READ_ERROR, "landuse table: the control file ends after ", j - 1,
                 " of ", n, " classes");
    const std::string keyword = block_keyword(text);
    if (keyword.empty()) {
      parse_landuse_line(diag, e, text, soil_model_mode);
      continue;
    }
    if (!table_text::complete_block(file, text)) {
      int code = j;
      table_text::parse_int(text, code);
      e.code = code;
      fail_fatal(diag, LANDUSE_READ_ERROR, "landuse table code ", code,
                 ": the control file ends inside the class block (no \"}\")\n", text);
    }
    parse_landuse_block(diag, e, text, keyword);
  }

  landuse_entry& header = table[0];
  header.JDVegetationResetForBalance = 1;
  header.JDVegetationWriteForBalance = HEADER_WRITE_DAY_DEFAULT;
  for (int j = 1; j <= n; ++j) {
    if (table[static_cast<size_t>(j)].JDVegetationResetForBalance >= 1) {
      header.JDVegetationResetForBalance =
          table[static_cast<size_t>(j)].JDVegetationResetForBalance;
      break;
    }
  }
  for (int j = 1; j <= n; ++j) {
    if (table[static_cast<size_t>(j)].JDVegetationWriteForBalance >= 1) {
      header.JDVegetationWriteForBalance =
          table[static_cast<size_t>(j)].JDVegetationWriteForBalance;
      break;
    }
  }
}
