// Construction of the channel-routing module: the head of "[routing_model]",
// two passes over the routing descriptions (the first counts, the second
// builds one reach per description), the routed-discharge statistic and the
// window of observed discharges around the current step.
#include <cerrno>
#include <cstdio>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "routing/abfluss.h"
#include "routing/channel_tables.h"
#include "routing/routing_descriptions.h"

namespace {

constexpr uint64_t OBSERVED_BUFFER_BYTES = 1000000;
constexpr int WINDOW_ROWS = EFFICIENCY_SHIFTS;  // rows 0..20, row 10 the current step
constexpr int STATISTIC_PRECISION = 5;

// One line of the control file without its break; false at the end of the
// file. too_long: the line holds more than MAX_DESCRIPTION_LINE characters.
bool read_line(std::FILE* file, std::string& line, bool& too_long) {
  line.clear();
  too_long = false;
  int c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    line.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  too_long = line.size() > MAX_DESCRIPTION_LINE;
  return true;
}

bool holds(const std::string& line, const char* keyword) {
  return line.find(keyword) != std::string::npos;
}

int full_year(int year) { return year < 1000 ? year + 1900 : year; }

}  // namespace

abflussmodellklasse::abflussmodellklasse(int& status, DiagStream* diag_stream,
                                         statistics_registry* registry_in, int registry_size_in,
                                         const std::string& section, grid_store* store_in,
                                         const settings_context& settings_in,
                                         int tracer_count_in, tracer_entry* tracer_list_in,
                                         const zone_table_view& zone_table, int readgrid_in)
    : teilmodellklasse(diag_stream, section, store_in, settings_in, 1, 1, &zone_table),
      routed_tracer_count(tracer_count_in),
      routed_tracers(tracer_list_in),
      state_readgrid(readgrid_in) {
  run_constructor_body(status, [&] {
    // Channel routing runs on process 0 alone.
    if (rank != 0) {
      routing_active_elsewhere = flow_control;
      flow_control = 0;
      control.reset();
      return;
    }
    routing_active_elsewhere = 1;
    if (flow_control == 0) return;
    write_source_banner(*diag, "abfluss", __DATE__, __TIME__);
    switch2 = flow_control == 2 ? 1 : 0;
    registry = registry_in;
    registry_size = registry_size_in;
    start = settings().start_date;
    make_irrigation_tables();
    observed_column.assign(static_cast<size_t>(zone_count) + 1, 0);
    reach_factor_of.assign(static_cast<size_t>(zone_count) + 1, 0.0);
    read_section_head();
    count_descriptions();
    int tracer_status = 0;
    init_tracers(tracer_status, routed_tracer_count, routed_tracers, registry_in, registry_size_in);
    if (tracer_status != 0) throw tracer_status;
    read_lake_parameters("[lake_model]");
    publish_precipitation_on_lakes();
    link_lake_grids();
    rsquare_sums.assign(WINDOW_ROWS,
                        std::vector<comparison_sums>(static_cast<size_t>(zone_count) + 1,
                                                     comparison_sums{}));
    log_rsquare_sums = rsquare_sums;
    build_reaches();
    for (int i = 1; i <= reach_count(); ++i)
      reach(i).read_reservoir_rules(control.get(), static_cast<int>(start.year),
                                    static_cast<int>(start.month), static_cast<int>(start.day),
                                    static_cast<int>(start.hour));
    for (int i = 1; i <= reach_count(); ++i) reach(i).read_abstraction_rules(control.get());
    for (int i = 1; i <= reach_count(); ++i) {
      reach(i).check_areas();
      reach(i).write_wq_tables();
      reach(i).set_routed_arrays(&maxirrig, &maxirrig_from_reservoirs);
    }
    make_statistic();
    const int ntr = routed_tracer_count;
    const auto width = static_cast<size_t>(zone_count + section_counts[KW_ZL]) + 1;
    channel_storage_table.assign(static_cast<size_t>(ntr) + 1,
                                 std::vector<std::vector<double>>(width));
    interval_flows.assign(
        static_cast<size_t>(ntr) + 1,
        std::vector<std::vector<double>>(static_cast<size_t>(time_splitting) + 1,
                                         std::vector<double>(width, 0.0)));
    open_observed_file();
    std::FILE* f = control.release();
    if (std::fclose(f) != 0)
      fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
  });
}

void abflussmodellklasse::read_section_head() {
  std::FILE* file = control.get();
  std::string line;
  bool too_long = false;
  double values[3] = {};
  int splitting = 0;
  if (!read_line(file, line, too_long) ||
      std::sscanf(line.c_str(), "%lf%lf%lf%d", &values[0], &values[1], &values[2], &splitting) !=
          4)
    fail_fatal(*diag, 17,
               "values for min/max specific discharge and/or discharge and time interval "
               "splitting   \nnot found in control file");
  qmin = values[0];
  qmax = values[1];
  intervals = values[2];
  time_splitting = splitting;
  if (time_splitting < 1)
    fail_fatal(*diag, 17, "the time splitting of ", name, " must be at least 1 (read ",
               time_splitting, ")");
  read_two_values(file, "%s%d", qstat_file, qstat_code, "name of the Qstatfiles for ", line);
  read_value(file, "%s", observed_file, "name of " + SPECIFIC_SHORT + "discharge files for ",
             line);
  read_value(file, "%d", descriptor_count, "number column descriptors for", line);
  for (int c = 0; c < descriptor_count; ++c) {
    int code = 0;
    int column = 0;
    if (std::fscanf(file, "%d", &code) != 1)
      fail_fatal(*diag, 17, "error reading a subbasin index for column indexing in routing model");
    if (std::fscanf(file, "%d", &column) != 1)
      fail_fatal(*diag, 17, "error reading a column number for column indexing in routing model");
    const int index = code >= 0 && static_cast<size_t>(code) < zone_index->size()
                          ? (*zone_index)[static_cast<size_t>(code)]
                          : 0;
    if (index > 0) observed_column[static_cast<size_t>(index)] = column;
    if (c == descriptor_count - 1) read_line_rest(file, line);
  }
  read_value(file, "%d", rsquare_offset,
             "Zeitoffset fuer Beginn der R-square-Berechnung fuer ", line);
}

void abflussmodellklasse::count_descriptions() {
  std::FILE* file = control.get();
  std::string line;
  bool too_long = false;
  for (;;) {
    if (!read_line(file, line, too_long))
      fail_fatal(*diag, 38,
                 "error reading a routing description from control file! (eof reached).");
    const bool tg = holds(line, "TG");
    if (!tg && !continues_description(line)) break;
    if (tg) ++description_count;
    for (int k = 0; k < KW_COUNT; ++k)
      section_counts[k] += count_substring(line, DESCRIPTION_KEYWORDS[k]);
  }
  const int* n = section_counts;
  diag_entry(*diag, "number inbetween areas (routings)    : ", description_count);
  diag_entry(*diag, "number tributaries  total      (OL)  : ", n[KW_OL] + n[KW_AMP] + n[KW_SUMTRIB]);
  diag_entry(*diag, " - flowing into another at the end   : ", n[KW_OL]);
  diag_entry(*diag, " - flowing into another at the start : ", n[KW_AMP] + n[KW_SUMTRIB]);
  diag_entry(*diag, "so the total of routingchannels is   : ", n[KW_OL] + n[KW_SUMTRIB]);
  diag_entry(*diag, "number of inflows              (ZL)  : ", n[KW_ZL]);
  diag_entry(*diag, "number of abstractions         (AL)  : ", n[KW_AL]);
  diag_entry(*diag, "number reservoirs              (SP)  : ", n[KW_SP]);
}

void abflussmodellklasse::publish_precipitation_on_lakes() {
  const int index = store != nullptr ? store->first_free(1) : GRID_STORE_FULL;
  if (index >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no more free grids in memory, (max. ",
               GRID_STORE_FULL, ")!");
  precipitation_on_lakes = matrix(1, nrows, 1, ncols, nrows);
  precipitation_on_lakes_index = index;
  register_grid(index, "PrecOnLakes", &precipitation_on_lakes, nullptr, 0, "PrecOnLakes", 0, 1,
                nrows);
}

void abflussmodellklasse::build_reaches() {
  std::FILE* file = control.get();
  seek_section("[" + name + "]", true);
  std::string line;
  bool too_long = false;
  for (int k = 0; k < 7 + descriptor_count; ++k)
    if (!read_line(file, line, too_long))
      fail_fatal(*diag, 38,
                 "error searching the second time for routing descriptions\nthe first run was "
                 "ok., but not the second");
  if (!read_line(file, line, too_long))
    fail_fatal(*diag, 38, "rerror reading routing description \n2nd run, (1st run: o.k.)");
  reaches.resize(1);
  int number = 0;
  while (holds(line, "TG")) {
    ++number;
    diag_entry(*diag, "reading routing description ", number);
    std::vector<std::string> lines;
    for (;;) {
      if (too_long)
        fail_fatal(*diag, 40, "string is too long (max. ", 1200, " chars):\n", line);
      lines.push_back(line);
      if (!read_line(file, line, too_long))
        fail_fatal(*diag, 38,
                   "unexpected end of control file reached reading routing descriptions");
      if (holds(line, "TG") || !continues_description(line)) break;
    }
    build_reach(number, lines);
  }
}

int abflussmodellklasse::subbasin_index_or_fail(int code, int tg_code, int entry_number,
                                                bool first_of_entry) {
  const int index = code >= 0 && static_cast<size_t>(code) < zone_index->size()
                        ? (*zone_index)[static_cast<size_t>(code)]
                        : 0;
  const char* end = first_of_entry ? "\n" : "";
  if (index <= 0)
    fail_fatal(*diag, 41, "there cant be a tributary with code ", code,
               " for no subbasin (according to zones)", end);
  if (code == tg_code)
    fail_fatal(*diag, 41, "subbasin ", tg_code, ": code of tributary ", entry_number, " (",
               tg_code,
               ") is equal to subbasin code!\nIt is not allowed to rout the outflow of a "
               "subbasin back into \nthe same subbasin. Use a reservoir instead.",
               end);
  return index;
}

void abflussmodellklasse::add_tributary(int index, int downstream) {
  if (tributary_count >= 2 * zone_count)
    fail_fatal(*diag, 41, "more tributaries in the routing descriptions than ", 2 * zone_count,
               " (twice the number of subbasins)");
  routing_target.tributaries[static_cast<size_t>(++tributary_count)] = index;
  routing_target.downstream[static_cast<size_t>(index)] = downstream;
}

void abflussmodellklasse::build_reach(int number, const std::vector<std::string>& lines) {
  routing_description d;
  try {
    d = parse_description(lines, number);
  } catch (const description_fault& fault) {
    fail_fatal(*diag, fault.code, fault.message);
  }
  const int tg = d.code < 0 || static_cast<size_t>(d.code) >= zone_index->size()
                     ? 0
                     : (*zone_index)[static_cast<size_t>(d.code)];
  if (tg <= 0) fail_fatal(*diag, 41, "there is no subbasin with code ", d.code);

  reach_setup s;
  s.subbasin_count = zone_count;
  s.dt = time_interval;
  s.area = d.area;
  s.factor = d.factor;
  s.ol_count = static_cast<int>(d.ol.size());
  s.sumtrib_count = static_cast<int>(d.sumtrib.size());
  s.amp_count = d.counts[KW_AMP];
  s.zl_count = static_cast<int>(d.zl.size());
  s.al_count = static_cast<int>(d.al.size());
  s.sp_count = static_cast<int>(d.sp.size());
  s.lake_switch = lake_switch;
  s.lake_readgrid = lake_switch != 0 ? state_readgrid : 0;
  s.lakes = &lake_links;
  s.code = d.code;
  s.abfrel = &abfrel;
  s.zone_index = zone_index;
  s.tracer_count = routed_tracer_count;
  s.tracers = routed_tracers;
  s.step_decay = &step_decay;
  int status = 0;
  reaches.push_back(std::make_unique<routingclass>(status, diag, s, settings()));
  if (status != 0) throw status;
  routingclass& r = *reaches.back();
  routing_target.description[static_cast<size_t>(tg)] = number;
  reach_factor_of[static_cast<size_t>(tg)] = d.factor;

  const std::vector<int> none;
  for (const channel_entry& e : d.ol) {
    const int index = subbasin_index_or_fail(e.code, d.code, e.entry_number, true);
    r.setup_channel(e.entry_number, e.code, none, time_splitting, switch2, e.values, qmin, qmax,
                    intervals);
    add_tributary(index, tg);
  }
  for (const channel_entry& e : d.sumtrib) {
    add_tributary(subbasin_index_or_fail(e.code, d.code, e.entry_number, false), tg);
    // Codes after "&" are checked as the first one: an unknown code would
    // address no subbasin.
    for (const int code : e.listed)
      add_tributary(subbasin_index_or_fail(code, d.code, e.entry_number, false), tg);
    r.setup_channel(e.entry_number, e.code, e.listed, time_splitting, switch2, e.values, qmin,
                    qmax, intervals);
  }
  const int total_inflows = section_counts[KW_ZL];
  for (const inflow_entry& e : d.zl) {
    // A number of 0 or less would address the flows of a subbasin.
    if (e.number > total_inflows || e.number <= 0)
      fail_fatal(*diag, 42, "there is/are only ", total_inflows,
                 " inflow(s) for the entire basin,\n but the codes ranges from 1 to at least ",
                 e.number, "! in ", name);
    r.setup_inflow(e.entry_number, e.number, e.kind, e.file, e.start_row, e.constant,
                   e.first_tracer_column, static_cast<int>(start.year),
                   static_cast<int>(start.month), static_cast<int>(start.day),
                   static_cast<int>(start.hour));
    r.setup_channel(e.entry_number, e.number, none, time_splitting, switch2, e.values, qmin,
                    qmax, intervals);
  }
  for (const marked_entry& e : d.al)
    r.SetAblaufModus(e.entry_number, e.code, e.text, time_splitting, static_cast<int>(start.year),
                     static_cast<int>(start.month), static_cast<int>(start.day),
                     static_cast<int>(start.hour));
  for (const marked_entry& e : d.sp) r.SetSpeicherParams(e.entry_number, e.code, e.text, time_splitting);
}

void abflussmodellklasse::make_statistic() {
  statistic_zones.assign(static_cast<size_t>(zone_count) + 1, zone_record{});
  for (int z = 0; z <= zone_count; ++z) {
    statistic_zones[static_cast<size_t>(z)].code = (*zones)[static_cast<size_t>(z)].code;
    statistic_zones[static_cast<size_t>(z)].share = abfrel.area_share[static_cast<size_t>(z)];
  }
  int stat_status = 0;
  std::string file = qstat_file;
  statistic = std::make_unique<routstatistic>(
      stat_status, diag, registry, registry_size, nullptr, 1, 1, statistic_zones.data(),
      abfrel.area_share.data(), zone_count, qstat_code, STATISTIC_PRECISION, file,
      output_directory, selected_zone_count, &selected_zones);
  seek_section("[output_interval]", true);
  std::string line;
  std::FILE* f = control.get();
  read_line_rest(f, line);
  read_line_rest(f, line);
  read_value(f, "%d", output_unit, "[output_interval]", line);
  if (stat_status != 0) throw stat_status;
  const char* text = output_unit == 0   ? "routed discharge [mm per subbasin] "
                     : output_unit == 1 ? "routed discharge [ m3 per sec ] "
                                        : "routed discharge (unknown measure)";
  observed_registry_index = statistic->write_header(text, name, registry, registry_size);
}

void abflussmodellklasse::open_observed_file() {
  auto reader = std::make_unique<TimeSeriesReader>();
  reader->open(observed_file, OBSERVED_BUFFER_BYTES);
  if (reader->reader_status == TSR_CANNOT_OPEN) {
    diag_entry(*diag, "INFO: error opening ", observed_file,
               "\nRouting will be done without comparison to observed discharge data!");
    observed_end_count = 10;
    switch2 = 0;
    return;
  }
  if (reader->reader_status == TSR_BAD_DATA || reader->reader_status == TSR_ROW_TOO_WIDE)
    fail_fatal(*diag, 203, "error analysing or reading ", observed_file, " at row ",
               reader->current(),
               " or before \n(e.g. due to wrong formatting or wrong number of columns or start "
               "date not found)");
  observed_reader = std::move(reader);
  TimeSeriesReader& r = *observed_reader;
  observed_columns = static_cast<int>(r.value_count);
  for (int& c : observed_column)
    if (c > observed_columns) c = 0;
  window.assign(WINDOW_ROWS, std::vector<double>(static_cast<size_t>(observed_columns) + 1, 0.0));
  observed_end_count = 0;
  r.set_row(-1);
  r.get_date(obs_year, obs_month, obs_day, obs_hour);
  while (!(obs_year == start.year && obs_month == start.month && obs_day == start.day &&
           obs_hour == start.hour)) {
    r.next_row();
    if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA) {
      ++observed_end_count;
      break;
    }
    r.get_date(obs_year, obs_month, obs_day, obs_hour);
    obs_year = full_year(obs_year);
  }
  for (int row = OBSERVED_CURRENT_ROW; row < WINDOW_ROWS; ++row) {
    fill_window_row(row);
    if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA) {
      ++observed_end_count;
    } else {
      // Keeps the date of the last row read for the end-of-file report.
      r.get_date(obs_year, obs_month, obs_day, obs_hour);
      obs_year = full_year(obs_year);
    }
    r.next_row();
  }
  for (int row = 0; row < OBSERVED_CURRENT_ROW; ++row)
    window[static_cast<size_t>(row)] = window[OBSERVED_CURRENT_ROW];
}

void abflussmodellklasse::fill_window_row(int row) {
  std::vector<double>& w = window[static_cast<size_t>(row)];
  for (int c = 1; c <= observed_columns; ++c)
    w[static_cast<size_t>(c)] = observed_reader->get_value(c - 1);
}
