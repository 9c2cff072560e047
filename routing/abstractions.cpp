// Abstractions: the entry, the amount of a step by modus, the rules on the
// flow and on a reservoir's storage, and the buffered output file.
#include "routing/abstractions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "modelbase/signals.h"
#include "settings/tracer_entry.h"

namespace {

constexpr uint64_t INPUT_BUFFER_BYTES = 1000000;
constexpr double MISSING_LIMIT = -9998;  // values at or below it are missing

int full_year(int year) { return year < 1000 ? year + 1900 : year; }

std::string cut_at_parenthesis(std::string word) {
  const size_t p = word.find(')');
  if (p != std::string::npos) word.erase(p);
  return word;
}

std::string next_word(const std::string& text, size_t& pos) {
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])) != 0) ++pos;
  const size_t begin = pos;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])) == 0) ++pos;
  return text.substr(begin, pos - begin);
}

bool starts_number(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '+' || c == '.';
}

}  // namespace

int abstraction_modus_of(const std::string& word) {
  if (word == "intern") return AL_INTERN;
  if (word == "extern") return AL_EXTERN;
  if (word == "from_file") return AL_FROM_FILE;
  if (word == "intern_with_rule") return AL_INTERN_WITH_RULE;
  if (word == "extern_with_rule") return AL_EXTERN_WITH_RULE;
  if (word == "intern_with_rule_from_reservoir") return AL_INTERN_FROM_RESERVOIR;
  return AL_NONE;
}

AL_class::AL_class() = default;
AL_class::~AL_class() = default;

void AL_class::fail(int code, const std::string& message) { fail_fatal(*diag, code, message); }

void AL_class::init_context(DiagStream* d, const tracer_entry* t, int tracer_count, int code,
                            double a, double phi, double step, const std::string* out_dir) {
  diag = d;
  tracers = t;
  ntr = tracer_count;
  reach_code = code;
  area = a;
  factor = phi;
  dt = step;
  output_directory = out_dir != nullptr ? *out_dir : std::string();
  abstraction_amount_.assign(static_cast<size_t>(ntr) + 1, 0.0);
}

double AL_class::m3s_to_mm(double q) const { return ::m3s_to_mm(q, area / factor, dt); }
double AL_class::mm_to_m3s(double q) const { return ::mm_to_m3s(q, area / factor, dt); }

void AL_class::rescale_area(double ratio, double new_area) {
  Qmin *= ratio;
  Qmax *= ratio;
  area = new_area;
}

void AL_class::parse_entry(int n, const std::string& text, int year, int month, int day,
                           int hour) {
  n_ = n;
  const std::string label = " for abstraction " + std::to_string(n);
  size_t pos = text.find('=');
  if (pos == std::string::npos) fail(44, "no modus (\"= modus\") found" + label);
  ++pos;
  const std::string modus_word = cut_at_parenthesis(next_word(text, pos));
  modus_ = modus_word.size() <= MAX_ABSTRACTION_WORD ? abstraction_modus_of(modus_word) : AL_NONE;
  if (modus_ == AL_NONE)
    fail(44, "the modus \"" + modus_word + "\" is not supported for abstraction " +
                 std::to_string(n));
  auto file_word = [&](const char* what) {
    std::string w = cut_at_parenthesis(next_word(text, pos));
    if (w.empty()) fail(37, std::string("no ") + what + " file name" + label);
    if (w.size() > MAX_ABSTRACTION_FILE)
      fail(37, std::string("the ") + what + " file name is longer than 1200 characters" + label);
    return w;
  };
  // A value follows directly, or after the next "=" where a label stands first.
  auto number = [&]() {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])) != 0) ++pos;
    if (pos >= text.size()) fail(44, "a value of the modus is missing" + label);
    if (!starts_number(text[pos])) {
      const size_t eq = text.find('=', pos);
      if (eq == std::string::npos) fail(44, "a value of the modus is missing" + label);
      pos = eq + 1;
    }
    const char* start = text.c_str() + pos;
    char* stop = nullptr;
    const double v = std::strtod(start, &stop);
    if (stop == start) fail(44, "a value of the modus is not a number" + label);
    pos = static_cast<size_t>(stop - text.c_str());
    return v;
  };
  if (modus_ == AL_EXTERN || modus_ == AL_EXTERN_WITH_RULE) output_name = file_word("output");
  if (modus_ == AL_INTERN || modus_ == AL_EXTERN) {
    Qmin = number();
    abstraction_fraction = number();
    Qmax = number();
    const std::string unit = cut_at_parenthesis(next_word(text, pos));
    if (unit.find("m^3/s") != std::string::npos || unit.find("m3/s") != std::string::npos ||
        unit.find("m3s") != std::string::npos) {
      Qmin = m3s_to_mm(Qmin);
      Qmax = m3s_to_mm(Qmax);
    }
  }
  if (modus_ == AL_FROM_FILE) {
    const size_t key = text.find("input_file", pos);
    if (key == std::string::npos) fail(37, "no \"input_file\" found" + label);
    pos = key;
    auto after_equals = [&]() {
      const size_t eq = text.find('=', pos);
      if (eq == std::string::npos) fail(37, "a \"=\" of the input file entry is missing" + label);
      pos = eq + 1;
    };
    after_equals();
    input_name = file_word("input");
    after_equals();
    input_column = static_cast<int>(number());
    after_equals();
    output_name = file_word("output");
    open_input(year, month, day, hour);
  }
  if (writes_file()) create_output();
}

void AL_class::open_input(int year, int month, int day, int hour) {
  input = std::make_unique<TimeSeriesReader>();
  TimeSeriesReader& r = *input;
  r.open(input_name, INPUT_BUFFER_BYTES);
  if (r.reader_status == TSR_CANNOT_OPEN || r.reader_status == TSR_BAD_DATA ||
      r.reader_status == TSR_ROW_TOO_WIDE)
    fail(37, "error opening " + input_name + " for abstraction " + std::to_string(n_));
  r.move_row(-1);
  for (;;) {
    r.next_row();
    if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA)
      fail(38, "starting date " + std::to_string(day) + "." + std::to_string(month) + "." +
                   std::to_string(year) + ", " + std::to_string(hour) + ". h in " + input_name +
                   " not found.");
    int y = 0, mo = 0, d = 0, h = 0;
    r.get_date(y, mo, d, h);
    if (full_year(y) == year && mo == month && d == day && h == hour) break;
  }
}

void AL_class::create_output() {
  if (!output_name.empty() && output_name[0] != '/' && output_name[0] != '~' &&
      !output_directory.empty())
    output_name = output_directory + output_name;
  std::string title = "YY\tMM\tDD\tHH\tm^3/s";
  for (int k = 1; k <= ntr; ++k) title += "\t" + tracers[k].name;
  file_handle out(std::fopen(output_name.c_str(), "w"));
  if (!out) fail(37, "error opening " + output_name + " for abstraction " + std::to_string(n_));
  std::fprintf(out.get(), "%s\nabstraction_%d\n%s\n", title.c_str(), n_, title.c_str());
  const double row_bytes = (ntr + 1) * 8.0 + 32;
  capacity = std::max(1, static_cast<int>(std::floor(ROUTING_ROW_BUFFER_BYTES / row_bytes)));
  rows.assign(static_cast<size_t>(capacity), std::vector<double>());
  pending = 0;
}

void AL_class::read_rule_section(std::FILE* control) {
  if (!has_rule()) return;
  const std::string section = "[abstraction_rule_abstraction_" + std::to_string(n_) + "]";
  try {
    rule_ = read_operation_rule(control, section);
  } catch (const rule_fault& f) {
    fail(f.code, f.message);
  }
}

void AL_class::connect_inflow(int index, double r_area, double r_factor, int ref_index,
                              double ref_area) {
  receiving_index = index;
  receiving_area = r_area;
  receiving_factor = r_factor;
  reference_index = ref_index;
  reference_area = ref_area;
}

double AL_class::abstraction_amount(const subbasin_flow_arrays& routing_flows, double& total,
                                    double water, int year, int month, int day, int hour) {
  year_ = year;
  month_ = month;
  day_ = day;
  hour_ = hour;
  double amount = 0;
  switch (modus_) {
    case AL_INTERN:
    case AL_EXTERN:
      amount = std::min(Qmax, std::max(0.0, std::min((water - Qmin) * abstraction_fraction,
                                                     water - total - Qmin)));
      break;
    case AL_FROM_FILE: {
      TimeSeriesReader& r = *input;
      if (month >= 1) {
        if (r.reader_status == TSR_PAST_END || r.reader_status == TSR_BAD_DATA)
          fail(39, "error reading from " + input_name + " (or from its buffer) for abstraction " +
                       std::to_string(n_) + "\nreached end of file!");
        int y = 0, mo = 0, d = 0, h = 0;
        r.get_date(y, mo, d, h);
        y = full_year(y);
        if (y != year || mo != month || d != day || h != hour)
          fail(36, "error comparing dates in " + input_name + ":\n     read: " +
                       std::to_string(y) + "." + std::to_string(mo) + "." + std::to_string(d) +
                       ", " + std::to_string(h) + ". h,\nshould be: " + std::to_string(year) +
                       "." + std::to_string(month) + "." + std::to_string(day) + ", " +
                       std::to_string(hour) + ". h.\n");
      }
      const double value = r.get_value(input_column);
      const double v = value <= MISSING_LIMIT ? 0.0 : m3s_to_mm(value);
      amount = std::max(0.0, std::min(water - total, v));
      if (month >= 1) r.next_row();
      break;
    }
    case AL_INTERN_WITH_RULE:
    case AL_EXTERN_WITH_RULE:
      amount = std::max(0.0, std::min(water - total, evaluate_rule(routing_flows, year, month, day,
                                                                   hour, mm_to_m3s(water))));
      break;
    default:
      amount = 0;
  }
  total += amount;
  return amount;
}

double AL_class::evaluate_rule(const subbasin_flow_arrays& routing_flows, int year, int month,
                               int day, int hour, double q) {
  year_ = year;
  month_ = month;
  day_ = day;
  hour_ = hour;
  const season_blend b = blend_season(rule_, month, day);
  double amount = abstraction_lookup(rule_, b, q);
  const bool connected = receiving_index >= 1 && reference_index >= 1;
  double reference = 0;
  if (connected)
    reference = ::mm_to_m3s(routing_flows[0][static_cast<size_t>(reference_index)], reference_area, dt);
  amount = cap_abstraction(rule_, b.t, amount, reference, connected);
  return m3s_to_mm(amount);
}

double AL_class::evaluate_rule_with_weekdays(
    const std::vector<std::vector<std::vector<double>>>* queues, int year, int month, int day,
    int hour, double storage) {
  year_ = year;
  month_ = month;
  day_ = day;
  hour_ = hour;
  const season_blend b = blend_season(rule_, month, day);
  const rule_date date{year, month, day, hour};
  if (month < 1 || !rule_active(rule_, b.t, date, false)) return 0;
  double amount = abstraction_lookup(rule_, b, storage);
  const bool connected = receiving_index >= 1 && reference_index >= 1;
  const std::vector<double>* queue = nullptr;
  if (connected && queues != nullptr && !queues->empty() &&
      static_cast<size_t>(reference_index) < (*queues)[0].size() &&
      (*queues)[0][static_cast<size_t>(reference_index)].size() > 1)
    queue = &(*queues)[0][static_cast<size_t>(reference_index)];
  if (queue != nullptr)
    amount = cap_abstraction(rule_, b.t, amount, ::mm_to_m3s((*queue)[1], reference_area, dt), true);
  return amount;
}

void AL_class::write_output_row(int year, int month, int day, int hour,
                                const std::vector<double>& exchange) {
  if (!writes_file()) return;
  if (pending >= capacity) flush_output(1);
  std::vector<double>& row = rows[static_cast<size_t>(pending++)];
  row.assign({static_cast<double>(year), static_cast<double>(month), static_cast<double>(day),
              static_cast<double>(hour)});
  for (int k = 0; k <= ntr; ++k) row.push_back(exchange[static_cast<size_t>(k)]);
}

void append_dated_rows(DiagStream& diag, const std::string& name,
                       const std::vector<std::vector<double>>& rows, int pending) {
  const file_operation_guard guard(sigint_after::arm);
  diag_entry(diag, "flushing to disk: ", name, " (", 2097152, " buffersize)");
  file_handle out(std::fopen(name.c_str(), "a+"));
  if (!out) fail_fatal(diag, 65, "error opening reservoir file " + name);
  for (int i = 0; i < pending; ++i) {
    const std::vector<double>& row = rows[static_cast<size_t>(i)];
    std::fprintf(out.get(), "%2.0lf\t%2.0lf\t%2.0lf\t%2.0lf", row[0], row[1], row[2], row[3]);
    for (size_t v = 4; v < row.size(); ++v) std::fprintf(out.get(), "\t%lg", row[v]);
    std::fprintf(out.get(), "\n");
  }
}

void AL_class::flush_output(int flag) {
  if (flag <= 0 || pending <= 0 || !writes_file()) return;
  append_dated_rows(*diag, output_name, rows, pending);
  pending = 0;
}

void AL_class::release() {
  if (n_ == 0) return;
  rows.clear();
  rule_ = operation_rule{};
  input.reset();
}
