// Reading and evaluation of the operation rules. The season blend beyond the
// last start day runs from the last column back to the first over the days
// to the first start day of the next year, so that the year closes on
// itself instead of extrapolating the last two columns.
#include "routing/operation_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int DAYS_OF_MONTH[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int DAYS_PER_YEAR = 365;  // [d] February counts 28 days

// One line without its break (at most RULE_LINE_LIMIT characters, the rest of
// a longer line dropped); false at the end of the file.
bool read_rule_line(std::FILE* file, std::string& line, bool& bare_break) {
  char buffer[RULE_LINE_LIMIT + 1];
  if (std::fgets(buffer, sizeof buffer, file) == nullptr) return false;
  line = buffer;
  bare_break = line == "\n" || line == "\r\n";
  const bool complete = !line.empty() && line.back() == '\n';
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!complete) {
    int c = 0;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
    }
  }
  return true;
}

std::vector<std::string> blank_separated(const std::string& text) {
  std::vector<std::string> words;
  size_t p = 0;
  while (p < text.size()) {
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    const size_t begin = p;
    while (p < text.size() && text[p] != ' ' && text[p] != '\t') ++p;
    if (p > begin) words.push_back(text.substr(begin, p - begin));
  }
  return words;
}

bool parse_number(const std::string& word, double& value) {
  if (word.find_first_not_of("0123456789.eE+-") != std::string::npos) return false;
  char* end = nullptr;
  value = std::strtod(word.c_str(), &end);
  return end != word.c_str() && *end == '\0';
}

[[noreturn]] void refuse(const std::string& section, const std::string& what) {
  throw rule_fault{RULE_SECTION_CODE, "rule section " + section + ": " + what};
}

// The K values after the first "=" of a keyword line.
std::vector<std::string> keyword_values(const std::string& line) {
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::vector<std::string>{} : blank_separated(line.substr(eq + 1));
}

bool has_digit(int64_t number, int digit) {
  if (number < 0) number = -number;  // the text of -1 holds the digit 1
  if (number == 0) return digit == 0;
  for (; number > 0; number /= 10)
    if (number % 10 == digit) return true;
  return false;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool find_rule_section(std::FILE* file, const std::string& name) {
  std::rewind(file);
  std::string line;
  bool bare = false;
  while (read_rule_line(file, line, bare)) {
    const std::vector<std::string> words = blank_separated(line);
    if (!words.empty() && words.front() == name) return true;
  }
  return false;
}

void compute_segment_slopes(operation_rule& rule) {
  const int N = rule.N;
  rule.segment_slopes.assign(static_cast<size_t>(rule.K) + 1,
                             std::vector<double>(static_cast<size_t>(N) + 1, 0.0));
  for (int k = 1; k <= rule.K; ++k) {
    const std::vector<double>& v = rule.value_columns[static_cast<size_t>(k)];
    std::vector<double>& s = rule.segment_slopes[static_cast<size_t>(k)];
    for (int r = 1; r < N; ++r) {
      const auto u = static_cast<size_t>(r);
      const double di = rule.index_column[u + 1] - rule.index_column[u];
      const double dv = v[u + 1] - v[u];
      const double num = rule.flow_indexed ? di : dv;
      const double den = rule.flow_indexed ? dv : di;
      s[u] = den != 0 ? num / den : 0.0;
    }
  }
}

operation_rule read_operation_rule(std::FILE* file, const std::string& section) {
  if (!find_rule_section(file, section))
    throw rule_fault{RULE_SECTION_CODE, "section " + section + " not found in control file"};
  std::string line;
  bool bare = false;
  if (!read_rule_line(file, line, bare)) refuse(section, "the first line is missing");
  std::vector<double> head;
  for (const std::string& w : blank_separated(line)) {
    double v = 0;
    if (!parse_number(w, v))
      refuse(section, "the first line must hold only numbers (rows, start days), not \"" + w +
                          "\"");
    head.push_back(v);
  }
  if (head.empty()) refuse(section, "the first line holds no number of rows");
  operation_rule rule;
  rule.N = static_cast<int>(head[0]);
  const int count = static_cast<int>(head.size());
  rule.K = count > 1 ? count - 1 : count;
  if (rule.N < 2) refuse(section, "a rule needs at least two rows");
  const auto K1 = static_cast<size_t>(rule.K) + 1;
  const auto N1 = static_cast<size_t>(rule.N) + 1;
  rule.start_days.assign(K1, 1);
  if (rule.K > 1)
    for (int k = 1; k <= rule.K; ++k)
      rule.start_days[static_cast<size_t>(k)] = static_cast<int>(head[static_cast<size_t>(k)]);
  rule.weekdays.assign(K1, -1);
  rule.start_hour.assign(K1, -1);
  rule.stop_hour.assign(K1, -1);
  rule.target_cap.assign(K1, -1.0);
  rule.index_column.assign(N1, 0.0);
  rule.value_columns.assign(K1, std::vector<double>(N1, 0.0));
  for (int r = 1; r <= rule.N; ++r) {
    if (!read_rule_line(file, line, bare))
      refuse(section, "row " + std::to_string(r) + " of " + std::to_string(rule.N) + " is missing");
    const std::vector<std::string> words = blank_separated(line);
    double v = 0;
    if (static_cast<int>(words.size()) < rule.K + 1 || !parse_number(words[0], v))
      refuse(section, "row " + std::to_string(r) + " needs " + std::to_string(rule.K + 1) +
                          " numbers:\n" + line);
    rule.index_column[static_cast<size_t>(r)] = v;
    for (int k = 1; k <= rule.K; ++k) {
      if (!parse_number(words[static_cast<size_t>(k)], v))
        refuse(section, "row " + std::to_string(r) + " holds no number in column " +
                            std::to_string(k) + ":\n" + line);
      rule.value_columns[static_cast<size_t>(k)][static_cast<size_t>(r)] = v;
    }
  }
  while (read_rule_line(file, line, bare)) {
    if (bare || line.empty() || line.find('[') != std::string::npos) break;
    const std::vector<std::string> values = keyword_values(line);
    auto each = [&](auto&& store) {
      for (int k = 1; k <= rule.K && static_cast<size_t>(k) <= values.size(); ++k)
        store(static_cast<size_t>(k), values[static_cast<size_t>(k) - 1]);
    };
    if (line.find("TargetCap") != std::string::npos) {
      each([&](size_t k, const std::string& w) { rule.target_cap[k] = std::strtod(w.c_str(), nullptr); });
    } else if (line.find("WeekDays") != std::string::npos) {
      each([&](size_t k, const std::string& w) { rule.weekdays[k] = std::strtoll(w.c_str(), nullptr, 10); });
    } else if (line.find("start_hour") != std::string::npos) {
      each([&](size_t k, const std::string& w) {
        rule.start_hour[k] = static_cast<int>(std::strtol(w.c_str(), nullptr, 10));
      });
    } else if (line.find("stop_hour") != std::string::npos) {
      each([&](size_t k, const std::string& w) {
        rule.stop_hour[k] = static_cast<int>(std::strtol(w.c_str(), nullptr, 10));
      });
    } else if (line.find("TableIndex") != std::string::npos) {
      const size_t eq = line.find('=');
      rule.flow_indexed = eq != std::string::npos && line.find("Flow", eq) != std::string::npos;
    }
  }
  compute_segment_slopes(rule);
  return rule;
}

int day_of_year(int month, int day) {
  int doy = day;
  for (int m = 1; m < month && m <= 12; ++m) doy += DAYS_OF_MONTH[m];
  return doy;
}

season_blend blend_season(const operation_rule& rule, int month, int day) {
  season_blend b;
  const int doy = day_of_year(month, day);
  const std::vector<int>& s = rule.start_days;
  if (rule.K == 1 || doy <= s[1]) return b;
  for (int t = 2; t <= rule.K; ++t) {
    if (doy <= s[static_cast<size_t>(t)]) {
      const double span = s[static_cast<size_t>(t)] - s[static_cast<size_t>(t) - 1];
      b.t = b.hi = t;
      b.lo = t - 1;
      b.w = span > 0 ? (doy - s[static_cast<size_t>(t) - 1]) / span : 1.0;
      return b;
    }
  }
  // After the last start day: from column K towards column 1 of the next year.
  const double span = s[1] + DAYS_PER_YEAR - s[static_cast<size_t>(rule.K)];
  b.t = b.lo = rule.K;
  b.hi = 1;
  b.w = span > 0 ? (doy - s[static_cast<size_t>(rule.K)]) / span : 0.0;
  return b;
}

int weekday_of(int year, int month, int day, int hour) {
  int64_t days = days_from_civil(year, month, day);
  if (hour <= 0) --days;
  // 1970-01-01 was a Thursday (4).
  const int64_t w = ((days % 7) + 7 + 3) % 7;  // 0 Monday
  return static_cast<int>(w) + 1;
}

bool rule_active(const operation_rule& rule, int t, const rule_date& date,
                 bool any_time_without_weekdays) {
  if (date.month < 1) return false;
  const auto u = static_cast<size_t>(t);
  if (any_time_without_weekdays && rule.weekdays[u] == -1) return true;
  const int digit = weekday_of(date.year, date.month, date.day, date.hour);
  return has_digit(rule.weekdays[u], digit) && rule.start_hour[u] <= date.hour &&
         date.hour <= rule.stop_hour[u];
}

double blended(const std::vector<std::vector<double>>& columns, const season_blend& b, int r) {
  const auto u = static_cast<size_t>(r);
  if (b.hi == b.lo) return columns[static_cast<size_t>(b.hi)][u];
  return b.w * columns[static_cast<size_t>(b.hi)][u] +
         (1 - b.w) * columns[static_cast<size_t>(b.lo)][u];
}

double rule_lookup(const operation_rule& rule, const season_blend& b, double x) {
  const int N = rule.N;
  if (N - 1 < 1) return 0;
  if (!rule.flow_indexed) {
    if (x <= rule.index_column[1]) return 0;
    int r = N - 1;
    while (r > 1 && !(x > rule.index_column[static_cast<size_t>(r)])) --r;
    return blended(rule.value_columns, b, r) +
           blended(rule.segment_slopes, b, r) * (x - rule.index_column[static_cast<size_t>(r)]);
  }
  for (int r = N - 1; r >= 1; --r) {
    const double v = blended(rule.value_columns, b, r);
    if (x > v)
      return rule.index_column[static_cast<size_t>(r)] + blended(rule.segment_slopes, b, r) * (x - v);
  }
  return 0;
}

double abstraction_lookup(const operation_rule& rule, const season_blend& b, double x) {
  if (!rule.flow_indexed && x > rule.index_column[static_cast<size_t>(rule.N)])
    return rule.value_columns[static_cast<size_t>(b.t)][static_cast<size_t>(rule.N)];
  return rule_lookup(rule, b, x);
}

double cap_abstraction(const operation_rule& rule, int t, double amount, double reference,
                       bool connected) {
  if (!connected) return amount;
  const double cap = rule.target_cap[static_cast<size_t>(t)];
  if (amount + reference > cap) amount = std::max(0.0, cap - reference);
  return amount;
}
