// Reservoirs and lakes: the entry, the lake set-up with its level-volume
// table, the coupling to the ponding storage of the lake cells, the step
// balance and the buffered output file.
#include "routing/reservoirs.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "modelbase/signals.h"
#include "settings/tracer_entry.h"

namespace {

constexpr double MM_PER_M = 1000;
constexpr double ALTITUDE_TOLERANCE = 0.01;  // [m] DEM + max ponding of one lake
constexpr double GROUNDWATER_THRESHOLD = 1e-10;
constexpr int C0_VALUES = 9;

// The first number after the next "=" from pos; false when there is none.
bool number_after_equals(const std::string& text, size_t& pos, double& value) {
  const size_t eq = text.find('=', pos);
  if (eq == std::string::npos) return false;
  const char* start = text.c_str() + eq + 1;
  char* stop = nullptr;
  value = std::strtod(start, &stop);
  if (stop == start) return false;
  pos = static_cast<size_t>(stop - text.c_str());
  return true;
}

}  // namespace

SP_class::SP_class() = default;
SP_class::~SP_class() = default;

void SP_class::fail(int code, const std::string& message) { fail_fatal(*ctx.diag, code, message); }

void SP_class::init_context(const reservoir_context& context) {
  ctx = context;
  const auto size = static_cast<size_t>(ctx.ntr) + 1;
  contents_.assign(size, 0.0);
  previous_contents.assign(size, 0.0);
  lake_totals.assign(size, 0.0);
}

void SP_class::parse_entry(int n, const std::string& text) {
  n_ = n;
  const std::string who = "for reservoir " + std::to_string(n) + ": ";
  size_t key = text.find("file");
  if (key == std::string::npos) fail(35, who + "no \"file =\" found!");
  size_t eq = text.find('=', key);
  if (eq == std::string::npos) fail(35, who + "no \"file =\" found!");
  size_t pos = eq + 1;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])) != 0) ++pos;
  const size_t begin = pos;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])) == 0) ++pos;
  output_name = text.substr(begin, pos - begin);
  if (output_name.empty() || output_name.size() > MAX_ABSTRACTION_FILE)
    fail(35, who + "no \"file =\" found!");
  if (output_name[0] != '/' && output_name[0] != '~' && !ctx.output_directory.empty())
    output_name = ctx.output_directory + output_name;

  key = text.find("V0", pos);
  if (key == std::string::npos) fail(35, who + "no \"V0 =\" found!");
  pos = key;
  if (!number_after_equals(text, pos, contents_[0])) fail(35, who + "no \"V0 =\" found!");

  key = text.find("C0", pos);
  if (key == std::string::npos) fail(35, who + "no \"C0 =\" found!");
  pos = key;
  eq = text.find('=', pos);
  if (eq == std::string::npos) fail(35, who + "no \"C0 =\" found!");
  pos = eq + 1;
  for (int t = 1; t <= C0_VALUES; ++t) {
    const char* start = text.c_str() + pos;
    char* stop = nullptr;
    const double c = std::strtod(start, &stop);
    if (stop == start) fail(35, who + "\"C0 =\" needs nine initial concentrations");
    pos = static_cast<size_t>(stop - text.c_str());
    if (t <= ctx.ntr) contents_[static_cast<size_t>(t)] = c;
  }

  sub_step_ = 60;
  key = text.find("dTmin", pos);
  if (key != std::string::npos) {
    pos = key;
    double v = 0;
    if (!number_after_equals(text, pos, v) || !(v > 0))
      fail(35, who + "\"dTmin =\" needs a sub-step length above 0 s");
    sub_step_ = v;
  }
  const double row_bytes = (ctx.ntr + 35) * 8.0;
  capacity = std::max(1, static_cast<int>(std::floor(ROUTING_ROW_BUFFER_BYTES / row_bytes)));
  rows.assign(static_cast<size_t>(capacity), std::vector<double>());
  pending = 0;
}

template <class F>
void SP_class::for_each_lake_cell(F f) const {
  const lake_grids& g = ctx.grids;
  const double n = n_;
  for (int row = box_first_row; row <= box_last_row; ++row) {
    const row_strip& s = (*ctx.strips)[static_cast<size_t>(row)];
    const int first = std::max(s.first, box_first_col);
    const int last = std::min(s.last, box_last_col);
    for (int col = std::max(first, 1); col <= last; ++col)
      if ((*g.zonegrid)[row][col] != ctx.nodata && (*g.lake_codes)[row][col] == n) f(row, col);
  }
}

int SP_class::lake_cell_count() const {
  if (!lake_on()) return 0;
  int count = 0;
  for_each_lake_cell([&](int, int) { ++count; });
  return count;
}

double SP_class::tracer_at(int t, int row, int col) const {
  if (static_cast<size_t>(t) >= ctx.grids.tracer_storage.size()) return 0;
  const grid_matrix* s = ctx.grids.tracer_storage[static_cast<size_t>(t)];
  if (s == nullptr || (*s)[row] == nullptr) return 0;
  return (*s)[row][col];
}

void SP_class::set_tracer_at(int t, int row, int col, double value) const {
  if (static_cast<size_t>(t) >= ctx.grids.tracer_storage.size()) return;
  grid_matrix* s = ctx.grids.tracer_storage[static_cast<size_t>(t)];
  if (s == nullptr || (*s)[row] == nullptr) return;
  (*s)[row][col] = value;
}

void SP_class::init_lake() {
  if (!lake_on()) return;
  const lake_grids& g = ctx.grids;
  box_first_col = ctx.ncols + 1;
  box_first_row = ctx.nrows + 1;
  box_last_col = 0;
  box_last_row = 0;
  const int own = ctx.reach_code >= 0 && static_cast<size_t>(ctx.reach_code) < ctx.zone_index->size()
                      ? (*ctx.zone_index)[static_cast<size_t>(ctx.reach_code)]
                      : -1;
  bool first = true;
  double s0 = 0;
  for (int row = 1; row <= ctx.nrows; ++row) {
    const row_strip& s = (*ctx.strips)[static_cast<size_t>(row)];
    for (int col = std::max(s.first, 1); col <= s.last; ++col) {
      const double zone = (*g.zonegrid)[row][col];
      if (zone == ctx.nodata || (*g.lake_codes)[row][col] != static_cast<double>(n_)) continue;
      const double level = (*g.elevation)[row][col] + (*g.max_ponding_storage)[row][col] / MM_PER_M;
      if (first) {
        s0 = level;
        first = false;
      } else if (std::fabs(s0 - level) > ALTITUDE_TOLERANCE) {
        std::ostringstream m;
        m << "\n============== ERROR ====================\nError in initialization for lake " << n_
          << ".All Cells for a lake must have the same Altitude value for DEM + MAXPOND\nValue at row "
          << row << ", col " << col << " is " << (*g.elevation)[row][col]
          << "\nbut first value of dhm for this lake was " << s0
          << "\n\n\n=======================================\n";
        fail(213, m.str());
      }
      const auto code = static_cast<int64_t>(zone);
      const int index = code >= 0 && static_cast<size_t>(code) < ctx.zone_index->size()
                            ? (*ctx.zone_index)[static_cast<size_t>(code)]
                            : -1;
      if (index != own)
        fail(224, " error in routing description or LAKE grid:\n Lake " + std::to_string(n_) +
                      " must be located completely within subbasin " +
                      std::to_string(ctx.reach_code) + ".");
      box_first_col = std::min(box_first_col, col);
      box_last_col = std::max(box_last_col, col);
      box_first_row = std::min(box_first_row, row);
      box_last_row = std::max(box_last_row, row);
    }
  }
  // Without cells the lake would have no table at all.
  if (first)
    fail(224, " error in routing description or LAKE grid:\n Lake " + std::to_string(n_) +
                  " has no cell in the lake grid (no \"lake_codes\" value " + std::to_string(n_) +
                  " in subbasin " + std::to_string(ctx.reach_code) + ").");
  std::vector<double> dem;
  double top = 0;
  for_each_lake_cell([&](int row, int col) {
    dem.push_back((*g.elevation)[row][col]);
    top = std::max(top, (*g.elevation)[row][col] + (*g.max_ponding_storage)[row][col] / MM_PER_M);
  });
  table_ = build_level_volume_table(dem, top, ctx.cellsize * ctx.cellsize);

  char file_name[64];
  std::snprintf(file_name, sizeof file_name, "W_V_Table_%02d.dat", n_);
  file_handle out(std::fopen(file_name, "w"));
  if (!out)
    fail(225, std::string("error opening ") + file_name +
                  " for writing the waterlevel-volume-relation to disk.");
  std::ostringstream text;
  text << "waterlevel-volume-table lake " << n_ << "\n" << "Level[m a.s.l.]\tVolume[m^3]\n";
  for (int i = 0; i < table_.N; ++i)
    text << table_.levels[static_cast<size_t>(i)] << "\t" << table_.volumes[static_cast<size_t>(i)]
         << "\n";
  const std::string s = text.str();
  if (std::fwrite(s.data(), 1, s.size(), out.get()) != s.size())
    fail(225, std::string("error opening ") + file_name +
                  " for writing the waterlevel-volume-relation to disk.");
}

double SP_class::level_from_volume(double V) const {
  if (!lake_on() || table_.N == 0) return 0;
  return interpolate_descending(table_.volumes, table_.levels, table_.N, V);
}

double SP_class::volume_from_level(double L) const {
  if (!lake_on() || table_.N == 0) return 0;
  return interpolate_descending(table_.levels, table_.volumes, table_.N, L);
}

double SP_class::sum_lake_cells(std::vector<double>& totals) const {
  if (!lake_on()) return 0;
  const lake_grids& g = ctx.grids;
  const double a = ctx.cellsize * ctx.cellsize;
  std::fill(totals.begin(), totals.end(), 0.0);
  for_each_lake_cell([&](int row, int col) {
    const double p = (*g.ponding_storage)[row][col];
    if (!(p > 0)) return;
    const double v = p / MM_PER_M * a;
    totals[0] += v;
    for (int t = 1; t <= ctx.ntr; ++t) totals[static_cast<size_t>(t)] += tracer_at(t, row, col) * v;
  });
  for (int t = 1; t <= ctx.ntr; ++t) {
    double& c = totals[static_cast<size_t>(t)];
    c = totals[0] > 0 ? c / totals[0] : 0.0;
  }
  return totals[0];
}

void SP_class::set_ponding_from_level(double V) {
  if (!lake_on()) return;
  const lake_grids& g = ctx.grids;
  const double L = level_from_volume(V);
  for_each_lake_cell([&](int row, int col) {
    const double dem = (*g.elevation)[row][col];
    const bool wet = dem < L;
    (*g.ponding_storage)[row][col] = wet ? (L - dem) * MM_PER_M : 0.0;
    for (int t = 1; t <= ctx.ntr; ++t)
      set_tracer_at(t, row, col, wet ? contents_[static_cast<size_t>(t)] : 0.0);
  });
}

void SP_class::volume_from_ponding() {
  if (!lake_on()) return;
  const lake_grids& g = ctx.grids;
  std::fill(contents_.begin(), contents_.end(), 0.0);
  bool found = false;
  for_each_lake_cell([&](int row, int col) {
    const double p = (*g.ponding_storage)[row][col];
    if (found || !(p > 0)) return;
    found = true;
    contents_[0] = volume_from_level(p / MM_PER_M + (*g.elevation)[row][col]);
    for (int t = 1; t <= ctx.ntr; ++t) contents_[static_cast<size_t>(t)] = tracer_at(t, row, col);
  });
}

void SP_class::read_rule_section(std::FILE* control) {
  const std::string section = "[abstraction_rule_reservoir_" + std::to_string(n_) + "]";
  try {
    rule_ = read_operation_rule(control, section);
  } catch (const rule_fault& f) {
    fail(f.code, f.message);
  }
}

double SP_class::evaluate_rule(const std::vector<std::vector<std::vector<double>>>* queues,
                               const std::vector<AL_class*>& als, int year, int month, double qin,
                               double dt, int day, int hour) {
  year_ = year;
  month_ = month;
  day_ = day;
  hour_ = hour;
  std::vector<AL_class*> from_reservoir;
  for (AL_class* al : als)
    if (al->modus() == AL_INTERN_FROM_RESERVOIR) from_reservoir.push_back(al);
  release_inputs in;
  in.storage = contents_[0];
  in.inflow = qin;
  in.dt = dt;
  in.sub_step = sub_step_;
  in.lake = lake_on() && table_.N > 0;
  if (in.lake) {
    in.level_of = [this](double V) { return level_from_volume(V); };
    in.spill_level = table_.levels[0];
  }
  in.abstraction_count = static_cast<int>(from_reservoir.size());
  in.abstraction_rate = [&](int i, double S) {
    return from_reservoir[static_cast<size_t>(i)]->evaluate_rule_with_weekdays(queues, year, month,
                                                                               day, hour, S);
  };
  std::vector<double> taken;
  const double q = release_over_substeps(rule_, rule_date{year, month, day, hour}, in, taken);
  for (size_t i = 0; i < from_reservoir.size(); ++i)
    from_reservoir[i]->amount()[0] = taken[i] / (dt * 60);
  return q;
}

void SP_class::balance_step(const std::vector<std::vector<std::vector<double>>>* queues,
                            const subbasin_flow_arrays& routing_flows,
                            const std::vector<double>& exchange, const std::vector<AL_class*>& als,
                            int own, double dt, double V_irr, double V_AL, int year, int month,
                            int day, int hour) {
  const double m = 60 * dt;
  report_ = reservoir_report{};
  double* vol = report_.volume;
  vol[SP_QIN] = exchange[0] * m;
  if (lake_on()) {
    const lake_grids& g = ctx.grids;
    const double a = ctx.cellsize * ctx.cellsize;
    const bool groundwater = g.q_downext != nullptr && g.baseflow != nullptr;
    for_each_lake_cell([&](int row, int col) {
      if (!((*g.ponding_storage)[row][col] > 0)) return;
      vol[SP_ETR] += (*g.real_transpiration0)[row][col] * a / MM_PER_M;
      if (groundwater) {
        const double x = (*g.q_downext)[row][col];
        if (std::fabs(x) > GROUNDWATER_THRESHOLD)
          vol[SP_QGW] += x * a * m;
        else
          vol[SP_QGW] -= (*g.baseflow)[row][col] * a * m;
      }
      if (g.prec_on_lakes != nullptr) vol[SP_PREC] += (*g.prec_on_lakes)[row][col] * a / MM_PER_M;
    });
    sum_lake_cells(lake_totals);
    previous_contents = contents_;
    contents_ = lake_totals;
    // The water is spread again at one level with the concentrations just
    // summed. Without a date (the initial routing) no exchange with the
    // owners of the lake cells follows: respreading then would leave process
    // 0's copy different from theirs.
    if (year >= 1) set_ponding_from_level(contents_[0]);
    int wet = 0;
    for_each_lake_cell([&](int row, int col) {
      if ((*g.ponding_storage)[row][col] > 0) ++wet;
    });
    report_.area = a * wet;
  } else {
    previous_contents = contents_;
  }
  // What was delivered cannot exceed what the reservoir holds.
  const double irrigation = std::min(V_irr, std::max(contents_[0], 0.0));
  contents_[0] -= irrigation;
  const double abstracted = std::min(V_AL, std::max(contents_[0], 0.0));
  contents_[0] -= abstracted;
  vol[SP_IRRIG] = irrigation;
  vol[SP_ABSTR] = abstracted;
  year_ = year;
  month_ = month;
  day_ = day;
  hour_ = hour;
  const double qin_volume = vol[SP_QIN];
  if (year >= 1 && ctx.ntr >= 1) {
    for (int t = 1; t <= ctx.ntr; ++t) {
      double& c = contents_[static_cast<size_t>(t)];
      if (ctx.tracers[t].radioactive == 1)
        c *= ctx.step_decay != nullptr && static_cast<size_t>(t) < ctx.step_decay->size()
                 ? (*ctx.step_decay)[static_cast<size_t>(t)]
                 : ctx.tracers[t].decay_factor;
      c = mix_reservoir_concentrations(c, routing_flows[static_cast<size_t>(t)][static_cast<size_t>(own)],
                             contents_[0], qin_volume);
    }
  }
  rule_outflow = evaluate_rule(queues, als, year, month, exchange[0], dt, day, hour);
  if (year >= 1) {
    for (AL_class* al : als) {
      if (al->modus() != AL_INTERN_FROM_RESERVOIR) continue;
      const double v = al->amount()[0] * dt * 60;
      contents_[0] -= v;
      vol[SP_ABSTR] += v;
    }
    contents_[0] += qin_volume;
  }
  if (rule_outflow * dt * 60 > contents_[0]) rule_outflow = std::max(0.0, contents_[0]) / 60 / dt;
  if (year >= 1) {
    contents_[0] -= rule_outflow * m;
    set_ponding_from_level(contents_[0]);
  }
  vol[SP_QOUT] = m * rule_outflow;
  if (lake_on()) {
    vol[SP_DV] = vol[SP_QIN] + vol[SP_QGW] + vol[SP_PREC] - vol[SP_ETR] - vol[SP_IRRIG] -
                 vol[SP_ABSTR] - vol[SP_QOUT];
    vol[SP_ERR] = contents_[0] - previous_contents[0] - vol[SP_DV];
  }
  for (int i = 0; i < SP_TERMS; ++i) {
    report_.depth[i] = report_.area > 0 ? vol[i] / report_.area * MM_PER_M : 0.0;
    report_.rate[i] = vol[i] / m;
  }
}

void SP_class::write_output_header() {
  std::string title =
      "YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout["
      "m3s]\tIrrig[m3]\tIrrig[mm]\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR["
      "m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]\tdV[m3]\tdV[mm]\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr["
      "m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";
  for (int t = 1; t <= ctx.ntr; ++t) title += "\t" + ctx.tracers[t].name;
  file_handle out(std::fopen(output_name.c_str(), "w"));
  if (!out) fail(37, "error opening " + output_name + " for reservoir " + std::to_string(n_));
  std::fprintf(out.get(), "%s\nreservoir_%d\n%s\n", title.c_str(), n_, title.c_str());
}

void SP_class::write_output_row(int year, int month, int day, int hour) {
  if (pending >= capacity) flush_output(1);
  std::vector<double>& row = rows[static_cast<size_t>(pending++)];
  row.assign({static_cast<double>(year), static_cast<double>(month), static_cast<double>(day),
              static_cast<double>(hour), level_from_volume(contents_[0]), report_.area,
              contents_[0]});
  for (int i = 0; i < SP_TERMS; ++i) {
    // Columns in the header's order: Qin, Qout, Irrig, QGW, ETR, PREC, dV, Abstr, Err.
    row.push_back(report_.volume[i]);
    row.push_back(report_.depth[i]);
    row.push_back(report_.rate[i]);
  }
  for (int t = 1; t <= ctx.ntr; ++t) row.push_back(contents_[static_cast<size_t>(t)]);
}

void SP_class::flush_output(int flag) {
  if (flag <= 0 || pending <= 0) return;
  append_dated_rows(*ctx.diag, output_name, rows, pending);
  pending = 0;
}

void SP_class::release() {
  if (n_ == 0) return;
  rows.clear();
  contents_.clear();
  previous_contents.clear();
  lake_totals.clear();
  table_ = level_volume_table{};
  rule_ = operation_rule{};
}
