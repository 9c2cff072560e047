// The multilayer land-use table: a multilayer class stacks land-use classes
// as vegetation layers over one cell ("Landuse_Layers"), with the extinction
// coefficient and the leaf-area scaling of the stack. The section
// "[multilayer_landuse]" is optional; without it a run has one vegetation
// layer. The table is a vector of n + 1 entries whose entry 0 is a header
// holding n in its code.
#pragma once

#include <string>
#include <vector>

class DiagStream;
class modelobject;

constexpr int MULTILAYER_READ_ERROR = 110;
constexpr int MULTILAYER_LAYER_COUNT_ERROR = 111;

struct multilayer_landuse_entry {
  std::string name;
  int code = 0;
  std::vector<int> layer_codes;  // [0] layer_count, [1..] land-use codes of the layers
  int layer_count = 1;
  std::vector<int> layer_codes_as_read;  // layer_codes as read, never replaced
  int code_as_read = 0;
  double k_extinct = 0.3;  // [-]
  double LAI_scale = 10.0;
};

using multilayer_table_t = std::vector<multilayer_landuse_entry>;

// Fills one entry from its text. Throws 110 after its entries.
void parse_multilayer_landuse_entry(DiagStream& diag, multilayer_landuse_entry& entry,
                                    const std::string& text);

// Reads "[multilayer_landuse]" of the reader's open control file into table
// (entry 0 the header). Returns false, with an empty table and no entry
// written, when the section is missing.
bool read_multilayer_landuse(modelobject& reader, int soil_model_mode, multilayer_table_t& table);
