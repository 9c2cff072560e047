#include "meteo/superposition.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/zonetable.h"

namespace {

constexpr int BLOCK_ERROR = 133;
constexpr int REGION_LIST_ERROR = 134;
constexpr int WEIGHT_ERROR = 135;
constexpr int MISSING_GRID = 33;
constexpr double WEIGHT_SUM_TOLERANCE = 0.0001;  // [-]
constexpr const char* LIST_SEPARATORS = "\n\r\t ;,";

std::string first_word(const std::string& text) {
  const size_t from = text.find_first_not_of(LIST_SEPARATORS);
  if (from == std::string::npos) return "";
  const size_t to = text.find_first_of(LIST_SEPARATORS, from);
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  size_t at = text.find_first_not_of(LIST_SEPARATORS);
  while (at != std::string::npos) {
    const size_t end = text.find_first_of(LIST_SEPARATORS, at);
    words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? end : text.find_first_not_of(LIST_SEPARATORS, end);
  }
  return words;
}

// Reads the block key by key: rest is the text still to read.
struct block_reader {
  DiagStream& diag;
  const std::string& section;
  const std::string& entity;
  std::string rest;

  // Moves rest behind key (and skip more characters); false when absent.
  bool skip_past(const char* key, size_t skip = 0) {
    const size_t at = rest.find(key);
    if (at == std::string::npos) return false;
    rest.erase(0, std::min(rest.size(), at + std::string(key).size() + skip));
    return true;
  }
  // The text between the first "=" of rest and the first ";" after it.
  std::string value_of(const char* key) {
    const size_t eq = rest.find('=');
    const size_t semi = eq == std::string::npos ? eq : rest.find(';', eq);
    if (semi == std::string::npos)
      fail_fatal(diag, BLOCK_ERROR, "the key \"", key, "\" of entity ", entity, " in section [",
                 section, "] has no value written as \"= value;\"\n");
    return rest.substr(eq + 1, semi - eq - 1);
  }
  // key, then its value: the "=" is searched from one character behind it.
  std::string required(const char* key) {
    if (!skip_past(key, 1))
      fail_fatal(diag, BLOCK_ERROR, "the key \"", key, "\" is missing in entity ", entity,
                 " of section [", section, "]\n");
    return value_of(key);
  }
};

int whole_number(const std::string& word) {
  char* end = nullptr;
  const long v = std::strtol(word.c_str(), &end, 10);
  if (end == word.c_str() || *end != '\0' || v < -2147483647 || v > 2147483647) return 0;
  return static_cast<int>(v);
}

}  // namespace

superposition_block parse_superposition_block(DiagStream& diag, const std::string& section,
                                              const std::string& text) {
  superposition_block b;
  const size_t open = text.find('{');
  b.entity = first_word(text.substr(0, open));
  const size_t close = open == std::string::npos ? open : text.find('}', open);
  if (close == std::string::npos)
    fail_fatal(diag, BLOCK_ERROR, "the block of entity ", b.entity, " in section [", section,
               "] is not written as \"name { ... }\"\n");
  block_reader in{diag, section, b.entity, text.substr(open + 1, close - open - 1)};
  while (in.skip_past("entityinputgrid")) {
    superposition_input input;
    input.grid_name = first_word(in.value_of("entityinputgrid"));
    for (const std::string& w : words_of(in.required("regions")))
      input.regions.push_back(whole_number(w));
    for (const std::string& w : words_of(in.required("weights"))) {
      char* end = nullptr;
      const double v = std::strtod(w.c_str(), &end);
      if (end == w.c_str() || *end != '\0')
        fail_fatal(diag, WEIGHT_ERROR, "\nerror reading weights for regions in ", section,
                   " entity: ", b.entity, ", inputgrid ", input.grid_name, "\nthe weight \"", w,
                   "\" is no number\n");
      input.weights.push_back(v);
    }
    b.inputs.push_back(std::move(input));
  }
  // The output keys may stand in any order behind the last input group.
  const std::string tail = in.rest;
  auto value = [&](const char* key) {
    in.rest = tail;
    return in.required(key);
  };
  b.output_file = first_word(value("outputgrid"));
  b.write_code = whole_number(first_word(value("writecode")));
  b.statistics_file = first_word(value("outputtable"));
  b.statistics_code = whole_number(first_word(value("statcode")));
  return b;
}

cSuperposition::cSuperposition(RegionalSuperposition& owner_in, const std::string& text)
    : owner(owner_in) {
  DiagStream& diag = *owner.diag;
  owner.require_grid("MPIRegions");
  owner.require_grid("MPIHelper");
  owner.find_division_grids();
  block = parse_superposition_block(diag, owner.name, text);
  if (owner.region_index == nullptr)
    fail_fatal(diag, MISSING_GRID, "entity ", block.entity, " of section [", owner.name,
               "] needs the region-code table of the settings, which has no region grid\n");
  for (superposition_input& input : block.inputs) {
    input.store_index = owner.require_grid(input.grid_name);
    input.grid = (*owner.store)[input.store_index].grid;
    check_regions(input);
    check_weights(input);
  }
  weights.inputs = static_cast<int>(block.inputs.size());
  weights.regions = owner.region_count;
  weights.weights.assign(
      static_cast<size_t>(weights.inputs) * static_cast<size_t>(weights.regions + 1), 0.0);
  for (int i = 0; i < weights.inputs; ++i)
    for (int k = 1; k <= weights.regions; ++k)
      weights.weights[static_cast<size_t>(i) * static_cast<size_t>(weights.regions + 1) +
                      static_cast<size_t>(k)] =
          block.inputs[static_cast<size_t>(i)].weights[static_cast<size_t>(k - 1)];
  check_weight_sums();
  find_region_grids();
  create_output_grid();
  create_statistics();
}

void cSuperposition::check_regions(const superposition_input& input) const {
  DiagStream& diag = *owner.diag;
  const int listed = static_cast<int>(input.regions.size());
  if (listed != owner.region_count)
    fail_fatal(diag, REGION_LIST_ERROR, "\nerror reading regions in ", owner.name,
               " entity: ", block.entity, ", inputgrid ", input.grid_name,
               "\nThe number of regions here (", listed, ") does not equal the number of",
               "\nregions in the regiongrid (", owner.region_count, ")\n");
  const std::vector<int>& ranks = *owner.region_index;
  for (int p = 1; p <= listed; ++p) {
    const int c = input.regions[static_cast<size_t>(p - 1)];
    const int rank = region_rank(ranks, c);
    if (rank == p) continue;
    if (rank == 0)
      fail_fatal(diag, REGION_LIST_ERROR, "\nerror reading regions in ", owner.name,
                 " entity: ", block.entity, ", inputgrid ", input.grid_name,
                 "\nregion on position ", p, " was read as ", c,
                 "\nThere is now region with this code in the region grid\n",
                 "\nOnly the region codes from the region grid must be listet in ascending "
                 "order here\n",
                 "regardless of their actual weight for this superposition instance\n");
    int code_of_rank = 0;
    for (size_t code = 1; code < ranks.size(); ++code)
      if (ranks[code] == p) code_of_rank = static_cast<int>(code);
    fail_fatal(diag, REGION_LIST_ERROR, "\nerror reading regions in ", owner.name,
               " entity: ", block.entity, ", inputgrid ", input.grid_name, "\nregion on position ",
               p, " in the region list should have value ", code_of_rank, "\nbut was read as ", c,
               "\nAll regions must be listet in ascending order here\n",
               "regardless of their actual weight for this superposition instance\n");
  }
}

void cSuperposition::check_weights(const superposition_input& input) const {
  if (input.weights.size() == input.regions.size()) return;
  fail_fatal(*owner.diag, WEIGHT_ERROR, "\nerror reading weights for regions in ", owner.name,
             " entity: ", block.entity, ", inputgrid ", input.grid_name,
             "\nThe number of regions (", static_cast<int>(input.regions.size()),
             ") does not equal the number of weights (", static_cast<int>(input.weights.size()),
             ")\n");
}

void cSuperposition::check_weight_sums() const {
  for (int k = 1; k <= weights.regions; ++k) {
    double sum = 0;
    for (int i = 0; i < weights.inputs; ++i) sum += weights.at(i, k);
    if (std::fabs(sum - 1) > WEIGHT_SUM_TOLERANCE)
      fail_fatal(*owner.diag, WEIGHT_ERROR, "\nerror reading weights for regions in ", owner.name,
                 "\nentity: ", block.entity, "\nregion ", k,
                 ": The sum of all weights is not 1.0 but ", sum, " \n");
  }
}

void cSuperposition::find_region_grids() {
  static const char* const region_names[3] = {"regression_regions", "regression_regions2",
                                              "regression_regions3"};
  static const char* const weight_names[3] = {"regression_weights1", "regression_weights2",
                                              "regression_weights3"};
  // Region 1 always; regions 2 and 3 only where a cell can lie between that many.
  const int needed = std::max(1, std::min(3, owner.region_count));
  auto lookup = [&](const char* grid_name) {
    const int index = owner.find_grid(grid_name);
    if (index == 0 || (*owner.store)[index].grid == nullptr)
      fail_fatal(*owner.diag, MISSING_GRID, "entity ", block.entity, " of section [", owner.name,
                 "] needs the grid \"", grid_name,
                 "\" of the settings, which is not in the grid store\n");
    return (*owner.store)[index].grid;
  };
  for (int k = 0; k < needed; ++k) {
    region_grids[k] = lookup(region_names[k]);
    weight_grids[k] = lookup(weight_names[k]);
  }
}

void cSuperposition::create_output_grid() {
  output_index = owner.store->first_free(1);
  if (output_index >= GRID_STORE_FULL)
    fail_fatal(*owner.diag, GRID_STORE_FULL_CODE,
               "no free grid anymore, allowed number of grids is ", GRID_STORE_FULL, "!");
  const int first = std::max(1, owner.first_row - 1);
  const int last = std::min(owner.nrows, owner.last_row + 1);
  output_grid = owner.matrix(first, last, 1, owner.ncols, owner.nrows);
  const grid_matrix& zone = *owner.zone_grid;
  const grid_matrix& regions = *owner.mpi_regions;
  // Cells outside the zone grid and cells of other processes hold nodata.
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= owner.ncols; ++c) {
      const bool own = r >= owner.first_row && r <= owner.last_row && zone[r][c] != owner.nodata &&
                       static_cast<int>(regions[r][c]) == owner.rank;
      output_grid[r][c] = own ? 0.0 : owner.nodata;
    }
  owner.register_grid(output_index, block.output_file, &output_grid, nullptr, 0, block.entity,
                      static_cast<unsigned>(std::max(block.write_code, 0)), owner.first_row,
                      owner.last_row);
}

void cSuperposition::create_statistics() {
  const int count = owner.zones != nullptr ? owner.zone_count : 0;
  statistic_zones.assign(static_cast<size_t>(count) + 1, zone_record{});
  for (int z = 0; z <= count && owner.zones != nullptr; ++z) {
    const zone_record& from = (*owner.zones)[static_cast<size_t>(z)];
    zone_record& to = statistic_zones[static_cast<size_t>(z)];
    to.code = from.code;
    to.share = from.share;
    to.weight = from.weight;
  }
  int status = 0;
  std::string file = block.statistics_file;
  statistic = std::make_unique<zonalstatistic>(
      status, owner.diag, owner.statistics, owner.statistics_size, owner.rel_cell_area, owner.nrows,
      owner.ncols, statistic_zones.data(), count, block.statistics_code, 4, file,
      owner.output_directory, owner.selected_zone_count, &owner.selected_zones);
  if (status != 0) throw status;
  statistic->write_header(block.entity, owner.name, owner.statistics, owner.statistics_size);
}

void cSuperposition::superpose(int64_t hour_in, int64_t day_in, int64_t month_in, int64_t year_in) {
  hour = hour_in;
  day = day_in;
  month = month_in;
  year = year_in;
  statistic->clear_step_sums();
  const grid_matrix& zone = *owner.zone_grid;
  const grid_matrix& regions = *owner.mpi_regions;
  const std::vector<int>& ranks = *owner.region_index;
  const std::vector<row_strip>& spans = *owner.strips;
  const double nodata = owner.nodata;
  const int own_rank = owner.rank;
  const size_t inputs = block.inputs.size();
  const int region_levels = std::min(3, std::max(1, weights.regions));
#pragma omp parallel
  {
    std::vector<double> values(inputs + 1);
#pragma omp for schedule(runtime)
    for (int r = owner.first_row; r <= owner.last_row; ++r) {
      const row_strip& span = spans[static_cast<size_t>(r)];
      for (int c = span.first; c <= span.last; ++c) {
        if (zone[r][c] == nodata || static_cast<int>(regions[r][c]) != own_rank) continue;
        for (size_t i = 0; i < inputs; ++i) values[i] = (*block.inputs[i].grid)[r][c];
        int rank[3] = {0, 0, 0};
        double share[3] = {0, 0, 0};
        for (int k = 0; k < region_levels; ++k) {
          const double code = (*region_grids[k])[r][c];
          // Regions 2 and 3 count only where their grid holds a code above 0.
          if (k > 0 && !(code > 0)) continue;
          rank[k] = region_rank(ranks, code);
          share[k] = (*weight_grids[k])[r][c];
        }
        output_grid[r][c] = superpose_cell(weights, values.data(), rank[0], share[0], rank[1],
                                           share[1], rank[2], share[2]);
      }
    }
  }
}

void cSuperposition::write_output() {
  owner.output_grid(output_index, 1, 0);
  const grid_matrix& zone = *owner.zone_grid;
  const grid_matrix& regions = *owner.mpi_regions;
  for (int r = owner.first_row; r <= owner.last_row; ++r) {
    const row_strip& span = (*owner.strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (zone[r][c] == owner.nodata || static_cast<int>(regions[r][c]) != owner.rank) continue;
      int code = 0;
      const std::vector<int>& index = *owner.zone_index;
      const int z = zone_code_of(zone[r][c], code) && code < static_cast<int>(index.size())
                        ? index[static_cast<size_t>(code)]
                        : 0;
      statistic->add_value(r, c, z, output_grid[r][c], 1.0);
    }
  }
  statistic->complete_step(year, month, day, hour, 1);
}

void cSuperposition::flush_outputs() {
  if (statistic) statistic->write_rows();
}

void cSuperposition::release() {
  if (output_index > 0 && (*owner.store)[output_index].grid == &output_grid)
    owner.free_grid_entry(output_index);
  output_index = 0;
  output_grid = grid_matrix();
  if (statistic) {
    statistic->release();
    statistic.reset();
  }
  statistic_zones.clear();
}

RegionalSuperposition::RegionalSuperposition(DiagStream* diag_stream,
                                             statistics_registry* registry_in, int registry_size_in,
                                             const std::string& section, grid_store* store_in,
                                             const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  if (flow_control == 0) return;
  statistics = registry_in;
  statistics_size = registry_size_in;
  region_index = settings.region_table.region_index;
  region_count = region_index != nullptr ? settings.region_table.region_count : 0;
  max_region_code = settings.region_table.max_region_code;
  std::string line;
  read_line_rest(control.get(), line);
  const size_t key = line.find("NumberOfEntities");
  if (key == std::string::npos)
    fail_fatal(*diag, BLOCK_ERROR, "could not read \"NumberOfEntities\" keyword in section [", name,
               "]\n\n");
  const size_t eq = line.find('=');
  const size_t semi = eq == std::string::npos ? eq : line.find(';', eq);
  const int n = eq == std::string::npos
                    ? 0
                    : whole_number(first_word(line.substr(
                          eq + 1, semi == std::string::npos ? std::string::npos : semi - eq - 1)));
  for (int k = 1; k <= n; ++k)
    entities.push_back(std::make_unique<cSuperposition>(*this, read_block(k)));
  control.reset();
}

std::string RegionalSuperposition::read_block(int number) {
  std::string block;
  std::FILE* file = control.get();
  for (;;) {
    std::string line;
    int ch = 0;
    while ((ch = std::fgetc(file)) != EOF && ch != '\n') line += static_cast<char>(ch);
    block += line + "\n";
    if (line.find('}') != std::string::npos) return block;
    if (ch == EOF) {
      std::string entity = first_word(block.substr(0, block.find('{')));
      if (entity.empty()) entity = "number " + std::to_string(number);
      fail_fatal(*diag, BLOCK_ERROR, "the block of entity ", entity, " in section [", name,
                 "] is not closed by \"}\" before the control file ends\n");
    }
  }
}

void RegionalSuperposition::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  cur_hour = hour;
  cur_day = day;
  cur_month = month;
  cur_year = year;
  if (flow_control == 0) return;
  for (auto& entity : entities) entity->superpose(hour, day, month, year);
}

void RegionalSuperposition::write_output() {
  if (flow_control == 0) return;
  for (auto& entity : entities) entity->write_output();
}

void RegionalSuperposition::flush_outputs() {
  if (flow_control == 0) return;
  for (auto& entity : entities) entity->flush_outputs();
}

void RegionalSuperposition::release() {
  for (auto& entity : entities) entity->release();
  entities.clear();
  teilmodellklasse::release();
}
