#include "soilwater/siltingup.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "soilwater/exprparser.h"
#include "tables/landuse.h"
#include "tables/landuse_year.h"
#include "tables/multilayer.h"
#include "tables/soiltable.h"

namespace {

constexpr const char* BLOCK_ERROR = "\n-----------------error------------\n";
constexpr const char* BLOCK_HELP =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first "
    "AND the last subbasin code have\nto be specified with all their parameters like this:\n(if "
    "the smallest code is 1 and the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01"
    "\t0.01\n0.1\t0.1\n..\t..\nThen, to all subcatchments with zone-codes ranging from 1 to 7 the "
    "\nparameters of subbasin 1 will be assigned!";
constexpr int BLOCK_CODE = 10;
constexpr int STATISTICS_PRECISION = 4;
constexpr const char* KEYWORD = "SiltingUpExpressions";
constexpr size_t LINE_PIECE = 1199;  // characters of a statement-block line

const char* const GRID_NAMES[] = {"SiltingUpDisposition", "RainPause", "KineticEnergy",
                                  "TimeSinceLastSoilTillage", "DirectRunoffSiltingUp"};

void skip_line(std::FILE* file) {
  std::string rest;
  modelobject::read_line_rest(file, rest);
}

// One line of at most LINE_PIECE characters; ended tells whether a line end
// closed it. False at the end of the file with nothing read.
bool read_piece(std::FILE* file, std::string& line, bool& ended) {
  line.clear();
  ended = false;
  int ch = 0;
  while (line.size() < LINE_PIECE && (ch = std::fgetc(file)) != EOF) {
    if (ch == '\n') {
      ended = true;
      return true;
    }
    line.push_back(static_cast<char>(ch));
  }
  return !line.empty() || ended;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string without_spaces(const std::string& text) {
  std::string out;
  for (char c : text)
    if (!is_space(c)) out.push_back(c);
  return out;
}

}  // namespace

siltingupclass::siltingupclass(int& status, DiagStream* diag_stream,
                               statistics_registry* registry_in, int registry_size_in,
                               const std::string& section, grid_store* store_in,
                               const settings_context& settings)
    : teilmodellklasse(diag_stream, section, store_in, settings, 1, 1) {
  registry = registry_in;
  registry_size = registry_size_in;
  run_constructor_body(status, [&] { set_up(); });
}

void siltingupclass::set_up() {
  if (flow_control == 0 || store == nullptr) return;
  write_source_banner(*diag, "siltingup", __DATE__, __TIME__);
  if (find_grid("GlacierizedCells") > 0 || find_grid("GlacierCodes") > 0)
    fail_fatal(*diag, 2,
               "error: Silting-Up module cannot be used when glacier model is active. Remove "
               "grids for glacier codes and glaciated cell fractions from the grid list");
  take_grids();
  read_section();
  std::FILE* f = control.release();
  if (std::fclose(f) != 0)
    fail_fatal(*diag, 11, "error closing control file \"", control_path, "\"");
  create_statistics();
  register_grids();
}

void siltingupclass::take_grids() {
  elevation = (*store)[2].grid;
  const multilayer_table_t* multilayer = settings().multilayer_table;
  layer_count = multilayer != nullptr && multilayer->size() > 1 ? (*multilayer)[1].layer_count : 1;
  layer_count = std::max(layer_count, 1);
  landuse_layers.assign(static_cast<size_t>(layer_count) + 1, nullptr);
  coverage_layers.assign(static_cast<size_t>(layer_count) + 1, nullptr);
  for (int k = 1; k <= layer_count; ++k)
    landuse_layers[static_cast<size_t>(k)] =
        (*store)[require_grid("landuse" + std::to_string(k))].grid;
  for (int k = 1; k <= layer_count; ++k)
    coverage_layers[static_cast<size_t>(k)] =
        (*store)[require_grid("vegetation_coverage_degree" + std::to_string(k))].grid;
  soil_types = (*store)[require_grid("soil_types")].grid;
  surface_storage = (*store)[require_grid("SurfStorSiltingUp")].grid;
  if (settings().spinup_switch != 0) {
    hru_grid = (*store)[require_grid("HydrologicResponseUnits")].grid;
    master_hru = (*store)[require_grid("MasterHydrologicResponseUnits")].grid;
  }
}

void siltingupclass::read_section() {
  std::FILE* file = control.get();
  std::string& line = section_buffer;
  read_method_line();
  read_two_values(file, "%s%d", disposition_stat_file, disposition_stat_code,
                  "name of the statistics for silting disposition SDISP ", line);
  read_two_values(file, "%s%d", runoff_stat_file, runoff_stat_code,
                  "name of the statistics for direct runoff from silting up model (QDSU) ", line);
  const char* keys[][2] = {
      {"name of the silting-up-disposition-grid, ", "Writegrid for silting-up-disposition-grid, "},
      {"name of the RAINPAUSE-grid, ", "Writegrid for RAINPAUSE-grid, "},
      {"name of the EKIN-grid, ", "Writegrid for EKIN-grid, "},
      {"name of the TSBB-grid, ", "Writegrid for TSBB-grid, "},
      {"name of the QDSU-grid, ", "Writegrid for QDSU-grid, "},
  };
  for (int g = 0; g < OWNED_COUNT; ++g) {
    read_value(file, "%s", file_names[g], keys[g][0], line);
    read_value(file, "%d", write_codes[g], keys[g][1], line);
  }
  read_rain_pauses();
  read_value(file, "%d", readgrid, "read control parameter for storage grids for ", line);
  if (method == 2) {
    double* values[] = {&parameters.a, &parameters.b, &parameters.c, &parameters.d,
                        &parameters.e, &parameters.f, &parameters.g, &parameters.h};
    const char* names[] = {"parameter A for method 2 (I_0) ",   "parameter B for method 2 (I_inf) ",
                           "parameter C for method 2 (I_inf) ", "parameter D for method 2 (I_inf) ",
                           "parameter E for method 2 (C_v) ",   "parameter F for method 2 (C_v) ",
                           "parameter G for method 2 (C_v) ",   "parameter H for method 2 (C_v) "};
    for (int i = 0; i < 8; ++i) read_value(file, "%lf", *values[i], names[i], line);
  }
  if (method == 3) read_statements();
}

// The optional first line: a line that begins with an integer is the method.
void siltingupclass::read_method_line() {
  std::FILE* file = control.get();
  const long start = std::ftell(file);
  std::string line;
  int ch = 0;
  while ((ch = std::fgetc(file)) != EOF && ch != '\n') line.push_back(static_cast<char>(ch));
  int value = 0;
  if (std::sscanf(line.c_str(), "%d", &value) == 1) {
    method = value;
  } else {
    method = 1;
    std::fseek(file, start, SEEK_SET);
  }
}

// SubbasinParameterBlock with one row: the minimum rain pause per subbasin.
void siltingupclass::read_rain_pauses() {
  std::FILE* file = control.get();
  const int n = zone_count;
  std::vector<char> given(static_cast<size_t>(n) + 1, 0);
  given_codes.assign(static_cast<size_t>(n) + 1, 0);
  auto index_of = [&](int code) {
    return code >= 0 && code < static_cast<int>(zone_index->size())
               ? (*zone_index)[static_cast<size_t>(code)]
               : 0;
  };
  int last_read = 0;
  bool first = true;
  for (;;) {
    int code = 0;
    if (modelobject::scan_one(file, code) != 1)
      fail_fatal(*diag, BLOCK_CODE, BLOCK_ERROR, "error reading code[", last_read, "] for ", name,
                 BLOCK_HELP);
    last_read = code;
    const int index = code >= 1 && code <= max_zone_code ? index_of(code) : 0;
    if (index < 1)
      fail_fatal(*diag, BLOCK_CODE, BLOCK_ERROR, "error! there is no code ", code, " (from ",
                 control_path, ") for a subbasin in ", name, BLOCK_HELP);
    if (first && index > 1) {
      // The first value read belongs to the first zone and every zone up to
      // and including the first code's zone.
      given[1] = 1;
      given_codes[1] = static_cast<int>((*zones)[1].code);
    } else {
      given[static_cast<size_t>(index)] = 1;
      given_codes[static_cast<size_t>(index)] = code;
    }
    first = false;
    if (code >= max_zone_code) break;
  }
  skip_line(file);
  min_rain_pause.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int z = 1; z <= n; ++z) {
    if (given[static_cast<size_t>(z)] == 0) {
      min_rain_pause[static_cast<size_t>(z)] = min_rain_pause[static_cast<size_t>(z) - 1];
      continue;
    }
    double value = 0;
    if (modelobject::scan_one(file, value) != 1)
      fail_fatal(*diag, BLOCK_CODE, BLOCK_ERROR, "error reading RainPause[",
                 static_cast<int>((*zones)[static_cast<size_t>(z)].code), "] for ", name,
                 " (minimum rainpause)", BLOCK_HELP);
    min_rain_pause[static_cast<size_t>(z)] = value;
  }
  skip_line(file);
}

void siltingupclass::read_statements() {
  std::FILE* file = control.get();
  std::string line;
  bool ended = false;
  for (;;) {
    if (!read_piece(file, line, ended) || !ended || line.empty()) break;
    if (line.rfind(KEYWORD, 0) != 0) continue;
    // The opening brace, after nothing but blanks and line ends.
    std::string text = line.substr(std::string(KEYWORD).size());
    size_t brace = text.find_first_not_of(" \t\r\n");
    while (brace == std::string::npos) {
      if (!read_piece(file, line, ended))
        fail_fatal(*diag, 400, "error looking for opening bracket \"{\" after \"", KEYWORD,
                   "\" in control file \"", control_path, "\"");
      text = line;
      brace = text.find_first_not_of(" \t\r\n");
    }
    if (text[brace] != '{')
      fail_fatal(*diag, 400, "error looking for opening bracket \"{\" after \"", KEYWORD,
                 "\" in control file \"", control_path, "\"");
    std::string body = text.substr(brace + 1);
    while (body.find('}') == std::string::npos) {
      if (!read_piece(file, line, ended))
        fail_fatal(*diag, 401, "error looking for closing bracket \"}\" after \"", KEYWORD,
                   "\" in control file \"", control_path, "\"");
      body += "\n" + line;
    }
    body.resize(body.find('}'));
    if (body.find(';') == std::string::npos) continue;
    statements.clear();
    size_t start = 0;
    for (size_t semi = body.find(';'); semi != std::string::npos; semi = body.find(';', start)) {
      statements.push_back(without_spaces(body.substr(start, semi - start)));
      start = semi + 1;
    }
    second_part = statements.size();
    for (size_t i = 0; i < statements.size(); ++i)
      if (statements[i].find("V=") != std::string::npos) {
        second_part = i;
        break;
      }
    return;
  }
  fail_fatal(*diag, 402,
             "no SiltingUpExpressios found (at least X, Y and Z must be initialized) in control "
             "file \"",
             control_path, "\"");
}

void siltingupclass::create_statistics() {
  struct statistic_setup {
    std::vector<zone_record>& zones_of;
    std::unique_ptr<zonalstatistic>& statistic;
    std::string& file;
    int code;
    const char* title;
  } setups[] = {
      {disposition_zones, disposition_stat, disposition_stat_file, disposition_stat_code,
       "Silting_up_disposition_"},
      {runoff_zones, runoff_stat, runoff_stat_file, runoff_stat_code,
       "Direct_Discharge_Silting_Up"},
  };
  for (statistic_setup& s : setups) {
    s.zones_of.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
    for (int z = 0; z <= zone_count; ++z) {
      const zone_record& from = (*zones)[static_cast<size_t>(z)];
      s.zones_of[static_cast<size_t>(z)].code = from.code;
      s.zones_of[static_cast<size_t>(z)].share = from.share;
      s.zones_of[static_cast<size_t>(z)].weight = from.weight;
    }
    int status = 0;
    s.statistic = std::make_unique<zonalstatistic>(
        status, diag, registry, registry_size, rel_cell_area, nrows, ncols, s.zones_of.data(),
        zone_count, s.code, STATISTICS_PRECISION, s.file, output_directory, selected_zone_count,
        &selected_zones);
    if (status != 0) throw status;
    s.statistic->write_header(s.title, name, registry, registry_size);
  }
}

void siltingupclass::register_grids() {
  const int first = store->first_free(1);
  if (first >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE,
               "no free grid left, allowed number of grids is (contact the author)",
               GRID_STORE_FULL, "!");
  for (int g = 0; g < OWNED_COUNT; ++g) {
    grid_matrix& grid = grids[g];
    if (readgrid == 1 && g != DIRECT_RUNOFF) {
      read_grid(file_names[g], grid, 0, true, true, 0.0, false, false, false, true);
    } else {
      grid = matrix(first_row, last_row, 0, ncols, nrows);
      for (int r = first_row; r <= last_row; ++r) {
        const double* z = r >= 1 && r <= nrows ? (*zone_grid)[r] : nullptr;
        for (int c = 0; c <= ncols; ++c)
          grid[r][c] = c >= 1 && z != nullptr && z[c] != nodata ? 0 : nodata;
      }
    }
    indices[g] = first + g;
    register_grid(indices[g], file_names[g], &grid, nullptr, 0, GRID_NAMES[g],
                  static_cast<unsigned>(std::max(write_codes[g], 0)), first_row, last_row);
    file_names[g].clear();
  }
}

void siltingupclass::select_input_grid(char interception_before_snow) {
  interception_first = interception_before_snow;
  if (flow_control == 0 || water_input != nullptr) return;
  const int i = interception_before_snow != 0
                    ? require_one_of_3_grids("snowcover_outflow", "throughfall0", "precipitation")
                    : require_one_of_3_grids("throughfall0", "snowcover_outflow", "precipitation");
  water_input = (*store)[i].grid;
}

void siltingupclass::init_tracers(int& status, int count, tracer_entry* list,
                                  statistics_registry* registry_in, int registry_size_in) {
  status = 0;
  if (flow_control == 0) return;
  teilmodellklasse::init_tracers(status, count, list, registry_in, registry_size_in);
  if (status != 0) return;
  try {
    tracer_inputs.assign(static_cast<size_t>(tracer_count) + 1, nullptr);
    for (int t = 1; t <= tracer_count; ++t) {
      const std::string head = "concflux_tracer_" + std::to_string(t) + "_";
      tracer_inputs[static_cast<size_t>(t)] =
          (*store)[require_one_of_4_grids(head + "interception_model", head + "snow_model",
                                          head + "irrigation", head + "input")]
              .grid;
    }
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
}

void siltingupclass::free_tracer_statistics() {
  if (flow_control != 0) teilmodellklasse::free_tracer_statistics();
}

bool siltingupclass::own_cell(int row, int col) const {
  if ((*zone_grid)[row][col] == nodata) return false;
  return mpi_regions == nullptr || (*mpi_regions)[row][col] == rank;
}

bool siltingupclass::computed_cell(int row, int col) const {
  if (!own_cell(row, col)) return false;
  return master_hru == nullptr || (*master_hru)[row][col] != nodata;
}

void siltingupclass::time_step(int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flow_control == 0) return;
  teilmodellklasse::time_step(hour, day, month, year);
  if (water_input == nullptr) select_input_grid(interception_first);
  if (!carry_decided) {
    carry_storage = find_grid("SurfaceRoutingWeights") > 0;
    carry_decided = true;
  }
  disposition_stat->clear_step_sums();
  runoff_stat->clear_step_sums();
  for (int t = 1; t <= tracer_count; ++t)
    tracers[static_cast<size_t>(t)].statistic->clear_step_sums();
  day_of_year =
      landuse_day_of_year(static_cast<int>(day), static_cast<int>(month), static_cast<int>(year));
  compute_rows();
  copy_hru_cells();
  add_statistics();
  complete_outputs();
}

void siltingupclass::compute_rows() {
  std::vector<cell_failure> failures(static_cast<size_t>(std::max(last_row - first_row + 1, 0)));
#pragma omp parallel for schedule(static)
  for (int r = first_row; r <= last_row; ++r) {
    // Every row its own variables and evaluator.
    std::unique_ptr<ParserVariables> variables;
    std::unique_ptr<ExpressionParser> parser;
    if (method == 3) {
      variables = std::make_unique<ParserVariables>();
      parser = std::make_unique<ExpressionParser>(variables.get());
    }
    cell_failure& failure = failures[static_cast<size_t>(r - first_row)];
    const int c_first = strips != nullptr ? (*strips)[r].first : 1;
    const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
    for (int c = c_first; c <= c_last; ++c) {
      bool ok = true;
      if (computed_cell(r, c)) {
        try {
          ok = compute_cell(r, c, parser.get(), failure);
        } catch (int code) {
          failure.code = code;
          ok = false;
        } catch (...) {
          failure.code = 103;
          ok = false;
        }
      }
      if (parser) parser->clear_variables();
      if (!ok) break;
    }
  }
  for (const cell_failure& f : failures) {
    if (f.code == 0) continue;
    if (f.code != 403) throw f.code;
    fail_fatal(*diag, 403, BLOCK_ERROR, "in instance ", name, "\nexpression ", f.statement,
               " could not be parsed correctly. ", "Parser message: ", f.result);
  }
}

bool siltingupclass::evaluate_statements(ExpressionParser& parser, size_t first, size_t last,
                                         cell_failure& failure) const {
  for (size_t i = first; i < last; ++i) {
    const std::string& result = parser.evaluate(statements[i]);
    if (result.find("Error") != std::string::npos) {
      failure.code = 403;
      failure.statement = statements[i];
      failure.result = result;
      return false;
    }
  }
  return true;
}

bool siltingupclass::compute_cell(int r, int c, ExpressionParser* parser, cell_failure& failure) {
  const double dt = time_interval;
  double& w_in = (*water_input)[r][c];
  double& s = (*surface_storage)[r][c];
  if (!carry_storage) s = 0;

  for (int t = 1; t <= tracer_count; ++t) {
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    const tracer_entry& te = tracer_list[t];
    double& stored = mt.storage[r][c];
    if (te.radioactive == 1) stored *= mt.decay_factor;
    if (w_in > 0) {
      const double c_in = (*tracer_inputs[static_cast<size_t>(t)])[r][c];
      if (te.evaporating == 1)
        stored = mix_concentrations(stored, c_in, s, w_in);
      else
        stored += w_in * c_in;
    }
  }

  // Classes: layer 1 gives the tillage days and the residue cover, the
  // highest layer with a class the vegetation cover.
  const auto* landuse = settings().landuse_table;
  const auto* soils = settings().soil_table;
  const double class1 = (*landuse_layers[1])[r][c];
  const double soil_index = (*soil_types)[r][c];
  const bool classes_known = landuse != nullptr && soils != nullptr && class1 >= 1 &&
                             class1 < static_cast<double>(landuse->size()) && soil_index >= 1 &&
                             soil_index < static_cast<double>(soils->size());
  int tillage_count = 0;
  const int* tillage_days = nullptr;
  double cover = 0;
  grain_fractions grains;
  const soil_entry* soil = nullptr;
  if (classes_known) {
    const landuse_entry& lu = (*landuse)[static_cast<size_t>(class1)];
    lu.get_soil_tillage(tillage_count, tillage_days);
    double v = 0;
    for (int k = layer_count; k >= 1; --k) {
      const double code = std::trunc((*landuse_layers[static_cast<size_t>(k)])[r][c]);
      if (code != nodata) {
        v = (*coverage_layers[static_cast<size_t>(k)])[r][c];
        break;
      }
    }
    // The cover counts only where the energy accumulates: on tilled land.
    if (has_tillage_days(tillage_count, tillage_days)) {
      const double residue =
          lu.sr_resid_covrg_at_date(*diag, static_cast<int>(cur_day), static_cast<int>(cur_month),
                                    static_cast<int>(cur_year), 1, r, c, (*elevation)[r][c]);
      cover = std::min(1.0, residue + v);
    }
    soil = &(*soils)[static_cast<size_t>(soil_index)];
    grains = {soil->sand,    soil->silt,    soil->clay,   soil->stones1,
              soil->stones2, soil->stones3, soil->stones4};
  }
  const bool tilled = has_tillage_days(tillage_count, tillage_days);
  const double dg = geometric_mean_diameter(grains);
  const double t_days = time_since_tillage(tillage_count, tillage_days, day_of_year);
  grids[TILLAGE_TIME][r][c] = t_days;
  const double intensity = w_in / (dt / 60);
  double& pause = grids[RAIN_PAUSE][r][c];
  pause = rain_pause_after(pause, intensity, dt);

  double i_inf = 0, i_0 = 0, c_v = 0, energy = 0;
  double& energy_sum = grids[KINETIC_ENERGY][r][c];
  if (method == 3 && parser != nullptr) {
    for (int i = 1; i <= 10; ++i)
      parser->set_variable(std::string(1, static_cast<char>('A' + i - 1)),
                           soil != nullptr ? soil->SU_PAR[static_cast<size_t>(i)] : 0);
    parser->set_variable("K", dg);
    parser->set_variable("L", grains.sand);
    parser->set_variable("M", grains.clay);
    parser->set_variable("N", grains.silt);
    parser->set_variable("O", t_days);
    parser->set_variable("P", intensity);
    parser->set_variable("Q", energy_sum);
    parser->set_variable("R", dt);
    if (!evaluate_statements(*parser, 0, second_part, failure)) return false;
    auto read = [&](const char* n) {
      double v = 0;
      return parser->get_variable(n, v) ? v : 0.0;
    };
    c_v = read("Z");
    i_inf = read("Y");
    i_0 = read("X");
    energy = read("W");
  } else {
    i_inf = final_infiltration_rate(parameters, dg, grains.sand);
    energy = rain_kinetic_energy(intensity);
    c_v = silting_disposition(parameters, grains.sand, dg, t_days);
    i_0 = parameters.a;
  }
  grids[DISPOSITION][r][c] = c_v;

  const int zone = (*zone_index)[static_cast<size_t>((*zone_grid)[r][c])];
  const sealing_step_input step{
      intensity, energy, cover, t_days, min_rain_pause[static_cast<size_t>(zone)], dt};
  energy_sum = kinetic_energy_after(step, energy_sum, pause);

  double capacity = 0;
  if (method == 3 && parser != nullptr) {
    parser->set_variable("Q", energy_sum);
    if (!evaluate_statements(*parser, second_part, statements.size(), failure)) return false;
    double v = 0;
    capacity = parser->get_variable("V", v) ? v : 0.0;
  } else {
    capacity = infiltration_capacity(i_inf, i_0, c_v, energy_sum, dt);
  }

  const surface_split split = split_surface_water(w_in, s, capacity, tilled);
  s = split.total;
  w_in = split.input;
  grids[DIRECT_RUNOFF][r][c] = split.runoff;

  if (split.runoff > 0) {
    for (int t = 1; t <= tracer_count; ++t) {
      module_tracer& mt = tracers[static_cast<size_t>(t)];
      const tracer_entry& te = tracer_list[t];
      double& stored = mt.storage[r][c];
      if (te.evaporating == 1) {
        mt.flux[r][c] = stored;
      } else {
        const double a = std::min(split.total * te.max_conc,
                                  split.total * stored / (split.runoff + split.total));
        stored -= a;
        mt.flux[r][c] = a / split.runoff;
      }
    }
  }
  return true;
}

// Cells of a hydrologic response unit take the values of its master cell.
void siltingupclass::copy_hru_cells() {
  if (master_hru == nullptr || hru_grid == nullptr || settings().hru_list == nullptr) return;
  const std::vector<hru_entry>& units = *settings().hru_list;
  for (int r = first_row; r <= last_row; ++r) {
    const int c_first = strips != nullptr ? (*strips)[r].first : 1;
    const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
    for (int c = c_first; c <= c_last; ++c) {
      if (!own_cell(r, c) || (*master_hru)[r][c] != nodata) continue;
      const double unit = (*hru_grid)[r][c];
      if (!(unit >= 0 && unit < static_cast<double>(units.size()))) continue;
      const hru_entry& u = units[static_cast<size_t>(unit)];
      (*surface_storage)[r][c] = (*surface_storage)[u.row][u.col];
      (*water_input)[r][c] = (*water_input)[u.row][u.col];
      for (grid_matrix& g : grids) g[r][c] = g[u.row][u.col];
    }
  }
}

// On one thread in row order, so that the sums do not depend on the threads.
void siltingupclass::add_statistics() {
  if (disposition_stat->off() && runoff_stat->off() && tracer_count == 0) return;
  for (int r = first_row; r <= last_row; ++r) {
    const int c_first = strips != nullptr ? (*strips)[r].first : 1;
    const int c_last = strips != nullptr ? (*strips)[r].last : ncols;
    for (int c = c_first; c <= c_last; ++c) {
      if (!own_cell(r, c)) continue;
      const int zone = (*zone_index)[static_cast<size_t>((*zone_grid)[r][c])];
      disposition_stat->add_value(r, c, zone, grids[DISPOSITION][r][c], 1);
      const double q_d = grids[DIRECT_RUNOFF][r][c];
      runoff_stat->add_value(r, c, zone, q_d, 1);
      const double area = rel_cell_area != nullptr ? (*rel_cell_area)[r][c] : 1;
      for (int t = 1; t <= tracer_count; ++t) {
        module_tracer& mt = tracers[static_cast<size_t>(t)];
        zone_record& z = mt.zones[static_cast<size_t>(zone)];
        z.count += q_d;
        z.sum += mt.flux[r][c] * area * q_d;
        z.weight += area * q_d;
      }
    }
  }
}

void siltingupclass::complete_outputs() {
  disposition_stat->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
  runoff_stat->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
  for (int g = 0; g < OWNED_COUNT; ++g) output_grid(indices[g], 1, 0);
  for (int t = 1; t <= tracer_count; ++t) {
    module_tracer& mt = tracers[static_cast<size_t>(t)];
    mt.statistic->complete_step(cur_year, cur_month, cur_day, cur_hour, 1);
    output_grid(mt.flux_index, 1, 0);
  }
}

void siltingupclass::flush_outputs() {
  if (flow_control == 0) return;
  if (disposition_stat) disposition_stat->write_rows();
  if (runoff_stat) runoff_stat->write_rows();
  for (int t = 1; t <= tracer_count && t < static_cast<int>(tracers.size()); ++t)
    if (tracers[static_cast<size_t>(t)].statistic)
      tracers[static_cast<size_t>(t)].statistic->write_rows();
}

void siltingupclass::release() {
  for (auto* s : {&disposition_stat, &runoff_stat}) {
    if (*s) (*s)->release();
    s->reset();
  }
  for (int g = 0; g < OWNED_COUNT; ++g) {
    if (indices[g] > 0) free_grid_entry(indices[g]);
    indices[g] = 0;
    grids[g] = grid_matrix();
  }
  statements.clear();
  teilmodellklasse::release();
}
