// Control-file pieces of the unsaturated zone that need no module (see
// unsatzon_section.h).
#include "soilwater/unsatzon_section.h"

#include <cstdlib>
#include <cstring>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"

namespace {

constexpr const char* BLOCK_ERROR = "\n-----------------error------------\n";
constexpr const char* BLOCK_HELP =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first "
    "AND the last subbasin code have\nto be specified with all their parameters like this:\n(if "
    "the smallest code is 1 and the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01"
    "\t0.01\n0.1\t0.1\n..\t..\nThen, to all subcatchments with zone-codes ranging from 1 to 7 the "
    "\nparameters of subbasin 1 will be assigned!";
constexpr int BLOCK_CODE = 10;

enum class block_row { kelsqd, kelsqi, density, kelsqlat, q0, snow_runoff };
constexpr const char* ROW_LABELS[] = {"kelsqd",   "kelsqi",        "channel network density",
                                      "kelsqlat", "QB-Red.Faktor", "SnowRunoff_fraction"};

void skip_line(std::FILE* file) {
  std::string rest;
  modelobject::read_line_rest(file, rest);
}

double converted(block_row row, double value) {
  switch (row) {
    case block_row::kelsqd:
    case block_row::kelsqi:
      return recession_minutes(value);
    case block_row::kelsqlat:
      return base_flow_reciprocal(value);
    default:
      return value;
  }
}

std::vector<double>& row_values(subbasin_parameters& p, block_row row) {
  switch (row) {
    case block_row::kelsqd:
      return p.kelsqd;
    case block_row::kelsqi:
      return p.kelsqi;
    case block_row::density:
      return p.drainage_density;
    case block_row::kelsqlat:
      return p.kelsqlat;
    case block_row::q0:
      return p.Q0;
    case block_row::snow_runoff:
      break;
  }
  return p.SnowRunoff_fraction;
}

// Which subbasins read a column of their own (1..n).
std::vector<char> read_code_row(std::FILE* file, DiagStream& diag, const std::string& section,
                                const std::string& control_file_name, const subbasin_codes& s) {
  if (s.count < 1)
    fail_fatal(diag, BLOCK_CODE, BLOCK_ERROR, "there is no subbasin in the zone grid of ", section,
               ": the subbasin parameters cannot be assigned\n");
  std::vector<char> listed(static_cast<size_t>(s.count) + 1, 0);
  const int smallest = s.code_of[1];
  const int largest = s.code_of[static_cast<size_t>(s.count)];
  int prev = smallest;
  int last_read = smallest;
  for (;;) {
    int c = 0;
    if (modelobject::scan_one(file, c) != 1)
      fail_fatal(diag, BLOCK_CODE, BLOCK_ERROR, "error reading code[", last_read, "] for ", section,
                 BLOCK_HELP);
    last_read = c;
    if (c < 1 || c > largest || s.index_of[static_cast<size_t>(c)] == 0)
      fail_fatal(diag, BLOCK_CODE, BLOCK_ERROR, "error! there is no code ", c, " (from ",
                 control_file_name, ") for a subbasin in ", section, BLOCK_HELP);
    const int index = s.index_of[static_cast<size_t>(c)];
    listed[static_cast<size_t>(index)] = 1;
    // A group that opens the block before subbasin 1 was listed still gives
    // subbasin 1 its own column.
    if (index > s.index_of[static_cast<size_t>(prev)] + 1 && prev == smallest && listed[1] == 0)
      listed[1] = 1;
    if (c >= largest) break;
    prev = c;
  }
  skip_line(file);
  return listed;
}

}  // namespace

double recession_minutes(double hours) noexcept { return hours >= 0.001 ? hours * 60 : 0.06; }

double base_flow_reciprocal(double value) noexcept { return value >= 0 ? 1 / value : 0; }

subbasin_parameters read_subbasin_block(std::FILE* file, DiagStream& diag,
                                        const std::string& section,
                                        const std::string& control_file_name,
                                        const subbasin_codes& s) {
  const std::vector<char> listed = read_code_row(file, diag, section, control_file_name, s);
  subbasin_parameters p;
  const size_t size = static_cast<size_t>(s.count) + 1;
  for (block_row row : {block_row::kelsqd, block_row::kelsqi, block_row::density,
                        block_row::kelsqlat, block_row::q0, block_row::snow_runoff}) {
    std::vector<double>& values = row_values(p, row);
    values.assign(size, 0.0);
    const char* label = ROW_LABELS[static_cast<int>(row)];
    for (size_t i = 1; i < size; ++i) {
      if (listed[i] == 0) {
        values[i] = values[i - 1];
        continue;
      }
      double value = 0;
      if (modelobject::scan_one(file, value) != 1)
        fail_fatal(diag, BLOCK_CODE, BLOCK_ERROR, "error reading ", label, "[", s.code_of[i],
                   "] for ", section, BLOCK_HELP, row == block_row::q0 ? "\n" : "");
      // 1 / 0 would make the base flow at the surface exp(inf * 0) = NaN.
      if (row == block_row::kelsqlat && value == 0)
        fail_fatal(diag, BLOCK_CODE, BLOCK_ERROR, "kelsqlat[", s.code_of[i], "] for ", section,
                   " is 0: the recession constant of the base flow must not be 0\n(a negative "
                   "value switches the base flow of the subbasin off)");
      values[i] = converted(row, value);
    }
    skip_line(file);
  }
  p.code.assign(size, 0.0);
  for (size_t i = 1; i < size; ++i) p.code[i] = s.code_of[i];
  return p;
}

void read_tuning_lines(std::FILE* file, double& max_error, double& max_iterations) {
  for (;;) {
    std::string line;
    int ch = 0;
    while ((ch = std::fgetc(file)) != EOF && ch != '\n') line.push_back(static_cast<char>(ch));
    if (ch != '\n') return;  // end of file, or a last line without a line end
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return;
    line.erase(0, first);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const double value = std::strtod(line.c_str() + equals + 1, nullptr);
    if (line.find("max_error") != std::string::npos)
      max_error = value;
    else if (line.find("max_iterations") != std::string::npos)
      max_iterations = value;
  }
}

std::string storage_name_for_rank(const std::string& name, int rank) {
  return name + "_" + std::to_string(rank);
}

std::string make_variant_tag(bool flow_times, bool irrigation, int surface_interaction,
                             int drainage_switch, int clay_switch, int pond_switch) {
  std::string tag;
  if (flow_times) tag += "+ft,";
  if (irrigation) tag += "+ir,";
  if (surface_interaction == 1) tag += "+srf1";
  if (surface_interaction > 1) tag += "+srf2,";
  if (drainage_switch == 1) tag += "+dr,";
  if (clay_switch == 1) tag += "+cl,";
  if (pond_switch == 1) tag += "+po,";
  return tag.substr(0, 29);
}
