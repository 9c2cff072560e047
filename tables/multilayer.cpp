// Reader of "[multilayer_landuse]": the class count, then per class a text
// "code name { Landuse_Layers = c1, c2, ...; k_extinct = x; LAI_scale = y; }"
// whose first line names "Landuse_Layers". Every class must stack the same
// number of layers.
#include "tables/multilayer.h"

#include <cstdlib>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "tables/table_text.h"

namespace {

using table_text::key_status;
using table_text::occurrence;

constexpr double K_EXTINCT_DEFAULT = 0.3;
constexpr double LAI_SCALE_DEFAULT = 10.0;

struct entry_failure {};

// The land-use codes of "Landuse_Layers", separated by commas; a piece that
// does not begin with an integer is dropped.
std::vector<int> layer_code_list(const std::string& text) {
  std::string value;
  switch (table_text::find_value(text, "Landuse_Layers", occurrence::first, value)) {
    case key_status::absent:
    case key_status::unterminated:
      throw entry_failure{};
    case key_status::value:
      break;
  }
  std::vector<int> codes;
  size_t start = 0;
  while (start <= value.size()) {
    const size_t end = value.find_first_of(",;", start);
    const std::string piece =
        value.substr(start, end == std::string::npos ? std::string::npos : end - start);
    int code = 0;
    if (table_text::parse_int(piece, code)) codes.push_back(code);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return codes;
}

// strtod of the key's value: leading blanks allowed, no number gives 0.
double number_or(const std::string& text, const char* key, double fallback) {
  std::string value;
  switch (table_text::find_value(text, key, occurrence::first, value)) {
    case key_status::absent:
      return fallback;
    case key_status::unterminated:
      throw entry_failure{};
    case key_status::value:
      break;
  }
  return std::strtod(value.c_str(), nullptr);
}

void read_entry(DiagStream& diag, multilayer_landuse_entry& e, const std::string& text) {
  int code = 0;
  if (!table_text::parse_int(text, code)) throw entry_failure{};
  e.code = code;
  if (!table_text::parse_code_and_name(text, code, e.name)) throw entry_failure{};
  if (e.name.size() > table_text::MAX_NAME_LENGTH) {
    diag_entry(diag, "FATAL: multilayer_landuse_table code ", e.code,
               ": the class name is longer than ", static_cast<int>(table_text::MAX_NAME_LENGTH),
               " characters");
    throw entry_failure{};
  }
  e.code_as_read = e.code;
  const std::vector<int> codes = layer_code_list(text);
  // A class without a layer would leave its cells without vegetation.
  if (codes.empty()) {
    diag_entry(diag, "FATAL: multilayer_landuse_table code ", e.code,
               ": key \"Landuse_Layers\" lists no land-use code");
    throw entry_failure{};
  }
  e.layer_count = static_cast<int>(codes.size());
  e.layer_codes.assign(1, e.layer_count);
  e.layer_codes.insert(e.layer_codes.end(), codes.begin(), codes.end());
  e.layer_codes_as_read = e.layer_codes;
  e.k_extinct = number_or(text, "k_extinct", K_EXTINCT_DEFAULT);
  e.LAI_scale = number_or(text, "LAI_scale", LAI_SCALE_DEFAULT);
}

}  // namespace

void parse_multilayer_landuse_entry(DiagStream& diag, multilayer_landuse_entry& entry,
                                    const std::string& text) {
  try {
    read_entry(diag, entry, text);
  } catch (const entry_failure&) {
    fail_fatal(diag, MULTILAYER_READ_ERROR, "multilayer_landuse_table code ", entry.code,
               ": some parameters could not be read\n", text);
  }
}

bool read_multilayer_landuse(modelobject& reader, int /*soil_model_mode*/,
                             multilayer_table_t& table) {
  table.clear();
  if (!reader.seek_section("[multilayer_landuse]", false)) return false;
  DiagStream& diag = reader.diagnostics();
  std::FILE* file = reader.control_file();
  int n = 0;
  std::string word;
  switch (table_text::read_class_count(file, n, word)) {
    case table_text::count_result::not_a_number:
      fail_fatal(diag, MULTILAYER_READ_ERROR, "multilayer_landuse_table: the number of classes \"",
                 word, "\" is not a whole number");
    case table_text::count_result::negative:
      fail_fatal(diag, MULTILAYER_READ_ERROR, "multilayer_landuse_table: the number of classes ", n,
                 " is negative");
    case table_text::count_result::ok:
      break;
  }
  table = reader.checked_array<multilayer_landuse_entry>(static_cast<size_t>(n) + 1, 1);
  for (int j = 1; j <= n; ++j) table[static_cast<size_t>(j)].code = j;
  table[0].code = n;

  std::string text;
  for (int j = 1; j <= n; ++j) {
    multilayer_landuse_entry& e = table[static_cast<size_t>(j)];
    if (!table_text::read_line(file, text))
      fail_fatal(diag, MULTILAYER_READ_ERROR,
                 "multilayer_landuse_table: the control file ends after ", j - 1, " of ", n,
                 " classes");
    if (table_text::contains(text, "Landuse_Layers")) {
      if (!table_text::complete_block(file, text)) {
        int code = j;
        table_text::parse_int(text, code);
        fail_fatal(diag, MULTILAYER_READ_ERROR, "multilayer_landuse_table code ", code,
                   ": the control file ends inside the class (no \"}\")\n", text);
      }
      parse_multilayer_landuse_entry(diag, e, text);
    }
    if (j >= 2) {
      const multilayer_landuse_entry& before = table[static_cast<size_t>(j - 1)];
      if (e.layer_count != before.layer_count)
        fail_fatal(diag, MULTILAYER_LAYER_COUNT_ERROR,
                   "\nThe numbers of landuse layers has to be equal for all multilayer-landuse "
                   "types\n(here: multilayer-landuse type ",
                   e.code, ": ", e.layer_count, " layers, but multilayer-landuse type ",
                   before.code, ": ", before.layer_count, " layers)\n\n");
    }
  }
  return true;
}
