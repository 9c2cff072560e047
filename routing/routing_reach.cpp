// Set-up, links, river-flow records, external inflows and release of a
// routing reach; its step is in routing_reach_route.cpp.
#include "routing/routing_reach.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "settings/tracer_entry.h"

namespace {

constexpr uint64_t INFLOW_BUFFER_BYTES = 100000;
constexpr double AREA_TOLERANCE = 0.001;  // [km2]
constexpr double MINUTES_PER_HOUR = 60;   // [min h-1]
constexpr double MISSING_LIMIT = -9998;   // values at or below it are missing

int full_year(int year) { return year < 1000 ? year + 1900 : year; }

}  // namespace

routingclass::routingclass(int& status, DiagStream* diag_stream, const reach_setup& s,
                           const settings_context& run_settings)
    : modelobject(diag_stream, run_settings.control_file, run_settings) {
  run_constructor_body(status, [&] {
    name = "routingmodel";
    nsub = s.subbasin_count;
    dt = s.dt;
    area = s.area;
    factor = s.factor;
    ol = s.ol_count;
    sumtrib = s.sumtrib_count;
    amp = s.amp_count;
    zl = s.zl_count;
    al = s.al_count;
    sp = s.sp_count;
    reach_code = s.code;
    abfrel = s.abfrel;
    code_to_index = s.zone_index;
    ntr = s.tracer_count;
    step_decay = s.step_decay;
    decays.assign(static_cast<size_t>(ntr) + 1, tracer_decay{});
    for (int k = 1; k <= ntr; ++k)
      decays[static_cast<size_t>(k)] = {s.tracers[k].radioactive == 1, s.tracers[k].half_time};
    channels_total = ol + sumtrib + zl;
    channels.resize(static_cast<size_t>(channels_total) + 1);
    own = index_of(reach_code);
    channels[0].code = reach_code;
    channels[0].flow_index = own;
    channels[0].share = abfrel->area_share[static_cast<size_t>(own)];
    inflows.resize(static_cast<size_t>(zl) + 1);
    for (reach_inflow& in : inflows) in.constant.assign(static_cast<size_t>(ntr) + 1, 0.0);
    queue_pointers.assign(static_cast<size_t>(ntr) + 1, nullptr);
    series_pointers.assign(static_cast<size_t>(ntr) + 1, nullptr);
    // A reach without channels still needs its outlet values.
    outlet_series.assign(static_cast<size_t>(ntr) + 1, std::vector<double>(2, 0.0));
    inflow_series = outlet_series;
    make_abstractions_and_reservoirs(s);
  });
}

int routingclass::index_of(int code) const {
  if (code < 0 || static_cast<size_t>(code) >= code_to_index->size()) return 0;
  return (*code_to_index)[static_cast<size_t>(code)];
}

void routingclass::setup_inflow(int channel_number, int code, int kind, const std::string& file,
                                int start_row, double constant, int first_tracer_column,
                                int year, int month, int day, int hour) {
  const int i = channel_number - ol - sumtrib;
  reach_inflow& in = inflows[static_cast<size_t>(i)];
  in.code = code;
  in.kind = kind;
  in.file = file;
  if (kind != INFLOW_EXTERN) {
    in.constant[0] = constant;
    return;
  }
  in.reader = std::make_unique<TimeSeriesReader>();
  TimeSeriesReader& r = *in.reader;
  const int header_lines = r.open(file, INFLOW_BUFFER_BYTES);
  if (r.reader_status == TSR_CANNOT_OPEN || r.reader_status == TSR_BAD_DATA ||
      r.reader_status == TSR_ROW_TOO_WIDE)
    fail_fatal(*diag, 37, "error opening ", file, " for inflow ", i);
  int row = header_lines + 1;
  while (row < start_row) {
    r.next_row();
    if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA)
      fail_fatal(*diag, 38, "error searching in ", file, " for row ", start_row,
                 "\nactual reached row: ", row);
    ++row;
  }
  for (;;) {
    int y = 0, mo = 0, d = 0, h = 0;
    r.get_date(y, mo, d, h);
    if (full_year(y) == year && mo == month && d == day && h == hour) break;
    r.next_row();
    if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA)
      fail_fatal(*diag, 38, "starting date ", day, ".", month, ".", year, ", ", hour, ". h in ",
                 file, " not found (", "search started at row ", start_row, ")");
  }
  if (r.value_count < first_tracer_column + ntr - 4)
    fail_fatal(*diag, 38, "there is not the required number of columns in ", file,
               " for reading ZL[", i, "] and the follwoing ", ntr,
               " tracer values starting from column ", first_tracer_column);
  for (int k = 0; k <= ntr; ++k) in.constant[static_cast<size_t>(k)] = r.get_value(k);
}

void routingclass::setup_channel(int j, int code, const std::vector<int>& listed,
                                 int splitting, int switch2_flag,
                                 const double (&values)[CHANNEL_VALUES], double qmin, double qmax,
                                 double n) {
  reach_channel& ch = channels[static_cast<size_t>(j)];
  if (j <= ol)
    ch.kind = channel_kind::ol;
  else if (j <= ol + sumtrib)
    ch.kind = channel_kind::sumtrib;
  else
    ch.kind = channel_kind::zl;
  ch.code = code;
  ch.listed = listed;
  if (ch.kind == channel_kind::zl) {
    ch.flow_index = nsub + code;
  } else {
    ch.flow_index = index_of(code);
    for (const int c : listed) ch.listed_index.push_back(index_of(c));
  }
  time_splitting = splitting;
  switch2 = switch2_flag;
  const std::string refusal = wq_table_refusal(qmin, qmax, n);
  if (!refusal.empty())
    fail_fatal(*diag, 17, "routing: the w-q table of subbasin ", reach_code, " cannot be built: ",
               refusal, " (min ", qmin, ", max ", qmax, ", intervals ", n, ")");
  ch.params = channel_params_from(values);
  ch.k_main = ch.params.k_main;
  ch.k_flood = ch.params.k_flood;
  ch.root_slope = root_of_slope(ch.params.slope);
  ch.table = build_wq_table(ch.params, ch.root_slope, qmin, qmax, n, splitting, dt);
  if (const int row = wq_table_standing_row(ch.table); row != 0)
    fail_fatal(*diag, 17, "routing: channel ", j, " of subbasin ", reach_code,
               " has no flow velocity in row ", row,
               " of its w-q table (check widths, Strickler coefficients and slope)");
  ch.state = make_channel_state(ch.table, splitting, ntr);
  // The step length pairs with the constants: exp(-1/k) holds for hourly steps only.
  ch.c_main = storage_coefficient(ch.k_main, dt / MINUTES_PER_HOUR);
  ch.c_flood = storage_coefficient(ch.k_flood, dt / MINUTES_PER_HOUR);
  const auto width = static_cast<size_t>(splitting) + 1;
  if (inflow_series[0].size() != width) {
    inflow_series.assign(static_cast<size_t>(ntr) + 1, std::vector<double>(width, 0.0));
    outlet_series = inflow_series;
  }
}

void routingclass::check_areas() {
  std::vector<double>& r = abfrel->area_share;
  double total = 0;
  for (int j = 0; j <= ol + sumtrib; ++j) {
    reach_channel& ch = channels[static_cast<size_t>(j)];
    double a = r[static_cast<size_t>(ch.flow_index)];
    if (ch.kind == channel_kind::ol && ch.flow_index == own) a = 0;
    for (const int idx : ch.listed_index) a += r[static_cast<size_t>(idx)];
    ch.share = a;
    total += a;
  }
  if (!(total > 0))
    fail_fatal(*diag, 41, "routing: subbasin ", reach_code,
               " and its tributaries cover no area of the zone grid");
  for (int j = 0; j <= ol + sumtrib; ++j) {
    reach_channel& ch = channels[static_cast<size_t>(j)];
    ch.share = ch.share / total * factor;
  }
  r[static_cast<size_t>(own)] = total;
  abfrel->factor[static_cast<size_t>(own)] = factor;
  const double grid_area = r[0] * total;
  if (r[0] > 0 && std::fabs(area - grid_area) > AREA_TOLERANCE) {
    diag_entry(*diag, "INFO: Basin ", reach_code, ": area in contr.file: ", area,
               " <-> zone-grid ", grid_area, " (adjusted to the latter)");
    for (int i = 1; i <= abstraction_count(); ++i)
      abstraction(i).rescale_area(area / grid_area, grid_area);
    area = grid_area;
  }
  if (!(area > 0))
    fail_fatal(*diag, 41, "routing: the area of subbasin ", reach_code, " must be above 0");
}

void routingclass::write_wq_tables() {
  for (int j = 1; j <= channels_total; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    char file[32];
    std::string heading;
    char line[256];
    if (ch.kind == channel_kind::zl) {
      std::snprintf(file, sizeof file, "wq_tabZL.%.3d", ch.code);
      std::snprintf(line, sizeof line,
                    "waterlevel-discharge-table for the channel of inflow %d to the outlet of "
                    "subbasin %d\n",
                    ch.code, reach_code);
      heading = line;
    } else {
      std::snprintf(file, sizeof file, "wq_table.%.3d", ch.flow_index);
      if (ch.kind == channel_kind::ol || ch.listed.empty()) {
        std::snprintf(line, sizeof line,
                      "waterlevel-discharge-table for the channel of subbasin %d to the outlet "
                      "of subbasin %d\n",
                      ch.code, reach_code);
        heading = line;
      } else {
        std::snprintf(line, sizeof line,
                      "waterlevel-discharge-table for the channel of subbasins %d", ch.code);
        heading = line;
        for (size_t i = 0; i + 1 < ch.listed.size(); ++i) {
          std::snprintf(line, sizeof line, ", %d", ch.listed[i]);
          heading += line;
        }
        std::snprintf(line, sizeof line, " and %d to the outlet of subbasin %d\n",
                      ch.listed.back(), reach_code);
        heading += line;
      }
    }
    file_handle out(std::fopen(file, "wt"));
    if (!out) {
      diag_entry(*diag, "FATAL: error opening file ", file, " (check user rights or disk space)");
      continue;
    }
    write_wq_listing(out.get(), heading, ch.params, ch.c_main, ch.c_flood, ch.root_slope,
                     ch.table, time_splitting, dt);
  }
}

void routingclass::set_routed_arrays(subbasin_flow_arrays* mi, subbasin_flow_arrays* mir) {
  maxirrig = mi;
  maxirrig_reservoirs = mir;
}

void routingclass::set_irrigation_demand(std::vector<zone_record>* d) { demand = d; }

void routingclass::link_arrays(subbasin_flow_arrays* routing_flows, interval_arrays* interval,
                               queue_table* storage_table, const observed_window* obs,
                               const std::vector<int>* observed_column) {
  flows = routing_flows;
  intervals = interval;
  queues = storage_table;
  window = obs;
  columns = observed_column;
  subbasin_flow_arrays& f = *flows;
  for (int j = ol + sumtrib + 1; j <= channels_total; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    const reach_inflow& in = inflows[static_cast<size_t>(j - ol - sumtrib)];
    f[0][static_cast<size_t>(nsub + in.code)] =
        m3s_to_mm(in.constant[0], ch.params.area, dt);
  }
  const int a = time_splitting;
  for (int j = 1; j <= channels_total; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    const size_t length = static_cast<size_t>(a + ch.table.storage_elements) + 1;
    std::vector<int> fed = ch.listed_index;
    fed.push_back(ch.flow_index);
    for (const int idx : fed) {
      for (int k = 0; k <= ntr; ++k) {
        double value = f[static_cast<size_t>(k)][static_cast<size_t>(idx)];
        if (k == 0 && switch2 != 0 && window != nullptr && idx <= nsub && columns != nullptr &&
            (*columns)[static_cast<size_t>(idx)] != 0)
          value = (*window)[OBSERVED_CURRENT_ROW][static_cast<size_t>(
              (*columns)[static_cast<size_t>(idx)])];
        std::vector<double>& q = (*queues)[static_cast<size_t>(k)][static_cast<size_t>(idx)];
        q.assign(length, value);
        q[0] = 0;
      }
    }
  }
}

void routingclass::init_storages() {
  for (int j = 1; j <= channels_total; ++j) {
    reach_channel& ch = channels[static_cast<size_t>(j)];
    const channel_kernel_params p{&ch.table, ch.c_main, ch.c_flood, time_splitting, dt, ntr,
                                  decays.data()};
    init_channel_state(p, ch.state, (*flows)[0][static_cast<size_t>(ch.flow_index)]);
  }
}

int routingclass::max_storage_elements(int n) const {
  for (int j = 1; j <= channels_total; ++j)
    n = std::max(n, channels[static_cast<size_t>(j)].table.storage_elements);
  return n;
}

int routingclass::wq_interval_index(int j, double x_mm) const {
  return ::wq_interval_index(channels[static_cast<size_t>(j)].table, x_mm, dt);
}

double routingclass::max_substep_value(const double* x) const {
  double largest = x[1];
  for (int m = 2; m <= time_splitting; ++m) largest = std::max(largest, x[m]);
  return largest;
}

int routingclass::longest_travel_hours() const {
  int longest = 0;
  for (int j = 1; j <= channels_total; ++j)
    longest = std::max(longest, whole_hours_at_qmin(channels[static_cast<size_t>(j)].table));
  return longest;
}

channel_water routingclass::water_of(int j) const {
  const reach_channel& ch = channels[static_cast<size_t>(j)];
  channel_water w;
  const int a = time_splitting;
  const int stride = queue_stride(ch.table, a);
  const std::vector<double>& q = (*queues)[0][static_cast<size_t>(ch.flow_index)];
  const double c = ch.c_main;
  for (int e = 1; e <= ch.table.subchannels; ++e) {
    const auto ue = static_cast<size_t>(e);
    for (int pos = stride * (e - 1) + a + 1; pos <= ch.state.queue_end[ue]; ++pos)
      w.queued += q[static_cast<size_t>(pos)];
    for (int m = 1; m <= a; ++m) w.stored += c / (1 - c) * ch.state.qaus[ue][static_cast<size_t>(m)];
    w.displaced += ch.state.displaced[0][ue];
  }
  return w;
}

void routingclass::read_inflows(subbasin_flow_arrays* routing_flows, int year, int month, int day,
                                int hour) {
  for (int i = 1; i <= zl; ++i) {
    reach_inflow& in = inflows[static_cast<size_t>(i)];
    if (in.kind != INFLOW_EXTERN) continue;
    TimeSeriesReader& r = *in.reader;
    if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA ||
        r.reader_status == TSR_CANNOT_OPEN)
      fail_fatal(*diag, 39, "error reading from ", in.file, " (or from its buffer) for inflow ",
                 in.code, "\nreached end of file!");
    int y = 0, mo = 0, d = 0, h = 0;
    r.get_date(y, mo, d, h);
    y = full_year(y);
    if (y != year || mo != month || d != day || h != hour)
      fail_fatal(*diag, 36, "error comparing dates in ", in.file, ":\n     read: ", y, ".", mo,
                 ".", d, ", ", h, ". h,\nshould be: ", year, ".", month, ".", day, ", ", hour,
                 ". h.\n");
    const auto f = static_cast<size_t>(nsub + in.code);
    for (int k = 1; k <= ntr; ++k) {
      const double v = r.get_value(k);
      (*routing_flows)[static_cast<size_t>(k)][f] = v <= MISSING_LIMIT ? 0.0 : v;
    }
    const double water = r.get_value(0);
    const reach_channel& ch = channels[static_cast<size_t>(ol + sumtrib + i)];
    (*routing_flows)[0][f] = m3s_to_mm(water <= MISSING_LIMIT ? 0.0 : water, ch.params.area, dt);
    r.next_row();
  }
}

void routingclass::fill_riverflow_record(const reach_channel& ch, int g, bool with_links,
                                         int reach_index) {
  riverflow_record& rec = (*riverflows)[static_cast<size_t>(g)];
  const subbasin_flow_arrays& f = *flows;
  for (int k = 0; k <= ntr && k < 10; ++k)
    rec.flow_mm[k] = f[static_cast<size_t>(k)][static_cast<size_t>(g)];
  const double x = f[0][static_cast<size_t>(g)];
  rec.flowm3s = mm_to_m3s(x, ch.params.area, dt);
  rec.speed = ch.table.v_mean[static_cast<size_t>(::wq_interval_index(ch.table, x, dt))];
  rec.taken = 0;
  rec.second_step_value = 0;
  if (with_links) {
    rec.catchment_area = ch.params.area;
    rec.channel_index = static_cast<int32_t>(&ch - channels.data());
    rec.reach_number = reach_index;
  }
}

void routingclass::link_riverflow_table(riverflow_table* table, int reach_index) {
  riverflows = table;
  if (riverflows == nullptr || flows == nullptr) return;
  for (int j = 1; j <= ol + sumtrib; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    for (const int g : ch.listed_index) fill_riverflow_record(ch, g, true, reach_index);
    fill_riverflow_record(ch, ch.flow_index, true, reach_index);
  }
}

void routingclass::update_riverflow_table() {
  if (riverflows == nullptr) return;
  for (int j = 1; j <= ol + sumtrib; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    for (const int g : ch.listed_index) fill_riverflow_record(ch, g, false, 0);
    fill_riverflow_record(ch, ch.flow_index, false, 0);
  }
}

void routingclass::release() {
  DiagStream& d = *diag;
  d << " free memory TG " << reach_code;
  for (int j = 1; j <= channels_total; ++j) {
    reach_channel& ch = channels[static_cast<size_t>(j)];
    d << ", OL " << j;
    if (ch.kind == channel_kind::zl) {
      d << ", (only ZL's)";
    } else {
      d << " (Subb. " << ch.code;
      for (const int c : ch.listed) d << ", " << c;
      d << ")";
    }
    ch.table = wq_table{};
    ch.state = channel_state{};
  }
  if (zl > 0) {
    d << ", --> ZLs...";
    for (int i = 1; i <= zl; ++i) {
      d << " " << inflows[static_cast<size_t>(i)].code << ",";
      inflows[static_cast<size_t>(i)].reader.reset();
    }
  }
  release_abstractions_and_reservoirs(d);
  d << " Rest...";
  inflow_series.clear();
  outlet_series.clear();
  d << " ok" << "[end-entry]";
  modelobject::release();
}
