// Reader of "[irrigation_table]": per entry the code, name, method and origin
// of the water, the suction thresholds (or the ETR/ETP ratio of method 4) and,
// for the scheduled methods, the events: rows of month, day and amount
// (method 1) or schedules written in words on the rest of the line (method 2).
#include "tables/irrigation.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"

namespace {

const char* const HELP_LINES[] = {
    "there are 4 possible ways to define irrigation rules:",
    "two schedule variants:",
    "1.: \"starting from MM DD with XX mm to MM DD with YY mm every ZZ day\"",
    "2.: \"starting from MM DD with XX mm AA times every ZZ days\"",
    " where MM and DD are Month and day, XX is the first irrigation amount ",
    " per irrigation event in mm/day, ZZ is the time step (e.g. every 4 days..),",
    " YY is the last irrigation amount in mm/day (it is linearly interpolated)",
    " and AA is a repeat counter (only in the secound format).",
    " The model recognises both formats by the different formats by analysing the",
    " key-words \"starting from\", \"to\" and \"times\"",
    " note: there may be defined multiple irrigation schemes in one row,",
    " but they have to be of the same type (1. or 2.) ",
    " and they have to be seperated by a semicolon (;)",
    " 3.: irrigation control by demand (1): suction (psi) for start and end of irrigation must be "
    "provided",
    " 4.: irrigation control by demand (2): ratio between ETR and ETP for irrigation start must be "
    "provided",
};

const std::string START_WORD = "starting from";

// A schedule longer than this cannot come from a sensible rule (it would
// repeat the same days over years); it is refused rather than grown.
constexpr int MAX_SCHEDULE_EVENTS = 10000;

// Pulls a date into the calendar: months into 1..12, days into the month.
void correct_date(const int* month_days, int& month, int& day) {
  if (month <= 0) month = 1;
  if (month > 12) month = 12;
  if (day > month_days[month]) day = month_days[month];
  if (day <= 0) day = 1;
}

// Reads one or two numbers at offset of line with a scanf format; false when
// the offset lies beyond the line or the numbers are not there.
bool read_at(const std::string& line, size_t offset, const char* format, int& a, int& b) {
  return offset <= line.size() && std::sscanf(line.c_str() + offset, format, &a, &b) == 2;
}
bool read_at(const std::string& line, size_t offset, const char* format, double& value) {
  return offset <= line.size() && std::sscanf(line.c_str() + offset, format, &value) == 1;
}
bool read_at(const std::string& line, size_t offset, const char* format, long& value) {
  return offset <= line.size() && std::sscanf(line.c_str() + offset, format, &value) == 1;
}
bool read_at(const std::string& line, size_t offset, const char* format, int& value) {
  return offset <= line.size() && std::sscanf(line.c_str() + offset, format, &value) == 1;
}

// The next event, interval days after (month, day): the day loses the length
// of its month once when it runs past it, and the month moves on by one.
void advance(const int* month_days, long interval, int& month, long& day) {
  day += interval;
  if (day > month_days[month]) {
    day -= month_days[month];
    month = month == 12 ? 1 : month + 1;
  }
}

void append_event(irrigation_entry& e, int month, long day, double amount) {
  e.month.push_back(month);
  e.day.push_back(day);
  e.amount.push_back(amount);
  ++e.tabcnt;
}

}  // namespace

void fail_irrigation_rule(DiagStream& diag, int position) {
  diag << "FATAL: "
       << "irrigation description for irrigation type " << position << " is wrong ";
  for (const char* line : HELP_LINES) diag << line << "\n";
  diag << "[end-entry]";
  throw IRRIGATION_READ_ERROR;
}

void parse_irrigation_schedules(DiagStream& diag, const std::string& line, const int* month_days,
                                int position, irrigation_entry& e) {
  size_t at = line.find(START_WORD);
  if (at == std::string::npos) fail_irrigation_rule(diag, position);
  if (e.month.empty()) {
    e.month.assign(1, 0);
    e.day.assign(1, 0);
    e.amount.assign(1, 0);
    e.tabcnt = 0;
  }
  while (at != std::string::npos) {
    const auto fail = [&] { fail_irrigation_rule(diag, position); };
    if (line.find("to", at) == std::string::npos && line.find("times", at) == std::string::npos)
      fail();
    int month = 0;
    int first_day = 0;
    if (!read_at(line, at + START_WORD.size() + 1, "%d%d", month, first_day)) fail();
    correct_date(month_days, month, first_day);

    const size_t with = line.find("with", at);
    if (with == std::string::npos) fail();
    double first_amount = 0;
    if (!read_at(line, with + 5, "%lf", first_amount)) fail();

    size_t rest = std::string::npos;
    const size_t to = line.find("to", with);
    if (to != std::string::npos) {
      int end_month = 0;
      int end_day = 0;
      if (!read_at(line, to + 3, "%d%d", end_month, end_day)) fail();
      correct_date(month_days, end_month, end_day);
      const size_t last_with = line.find("with", to);
      if (last_with == std::string::npos) fail();
      double last_amount = 0;
      if (!read_at(line, last_with + 5, "%lf", last_amount)) fail();
      const size_t every = line.find("every", last_with);
      if (every == std::string::npos) fail();
      long interval = 0;
      if (!read_at(line, every + 6, "%ld", interval)) fail();
      // An interval of no days would never reach the end date.
      if (interval <= 0) fail();
      rest = every + 6;

      std::vector<std::pair<int, long>> dates{{month, first_day}};
      const bool first_after_end = month == end_month && first_day > end_day;
      long day = first_day;
      while (!first_after_end) {
        const int before = month;
        advance(month_days, interval, month, day);
        // After the end date: later in the end month, or out of it.
        if (month == end_month && day > end_day) break;
        if (before == end_month && month != end_month) break;
        dates.emplace_back(month, day);
        if (static_cast<int>(dates.size()) > MAX_SCHEDULE_EVENTS) fail();
      }
      const size_t count = dates.size();
      for (size_t i = 0; i < count; ++i) {
        // Linear in the position between the first and the last amount; the
        // last event takes the last amount, also when it is the only one.
        const double amount = i + 1 == count ? last_amount
                                             : first_amount + (last_amount - first_amount) *
                                                                  static_cast<double>(i) /
                                                                  static_cast<double>(count - 1);
        append_event(e, dates[i].first, dates[i].second, amount);
      }
    } else if (line.find("times", with) != std::string::npos) {
      const size_t mm = line.find("mm", with);
      if (mm == std::string::npos) fail();
      int repeats = 0;
      if (!read_at(line, mm + 3, "%d", repeats)) fail();
      const size_t every = line.find("every", mm);
      if (every == std::string::npos) fail();
      long interval = 0;
      if (!read_at(line, every + 6, "%ld", interval)) fail();
      // No event at all, or all events on one day, is no schedule.
      if (repeats < 1 || repeats > MAX_SCHEDULE_EVENTS || interval <= 0) fail();
      rest = every + 6;
      long day = first_day;
      for (int k = 0; k < repeats; ++k) {
        if (k > 0) advance(month_days, interval, month, day);
        append_event(e, month, day, first_amount);
      }
    } else {
      diag_entry(diag, "FATAL: none of the keywords \"to\" or \"times\" could be found!\n");
      fail();
    }
    at = line.find(START_WORD, rest);
  }
}

void read_irrigation_entries(modelobject& reader, const int* month_days,
                             irrigation_table_t& table) {
  DiagStream& diag = reader.diagnostics();
  reader.seek_section("[irrigation_table]", true);
  std::FILE* file = reader.control_file();
  int n = 0;
  if (modelobject::scan_conversion(file, "%d", 0, &n) != 1)
    reader.fail_control_file("number of irrigation types in [irrigation_table]",
                             reader.object_name());
  if (n < 0) n = 0;
  table.assign(static_cast<size_t>(n) + 1, irrigation_entry());
  for (int j = 1; j <= n; ++j) table[static_cast<size_t>(j)].code = j;
  table[0].code = n;

  for (int j = 1; j <= n; ++j) {
    irrigation_entry& e = table[static_cast<size_t>(j)];
    const auto fail = [&](const char* text) {
      fail_fatal(diag, IRRIGATION_READ_ERROR, "for irrigation code ", j, text);
    };
    if (modelobject::scan_conversion(file, "%d", 0, &e.code) != 1 ||
        modelobject::scan_conversion(file, "%50s", 0, &e.name) != 1 ||
        modelobject::scan_conversion(file, "%d", 0, &e.method) != 1 ||
        modelobject::scan_conversion(file, "%d", 0, &e.origin) != 1)
      fail(": code, name, method, or origin could not be read correctly\n");
    if (e.method == IRRIGATION_BY_ETR_ETP) {
      if (modelobject::scan_conversion(file, "%lf", 0, &e.min_etr_etp) != 1)
        fail(": min(ETR/ETP) could not be read correctly\n");
      e.psi_dry = IRRIGATION_ETR_ETP_PSI_DRY;
      e.psi_wet = IRRIGATION_ETR_ETP_PSI_WET;
    } else if (modelobject::scan_conversion(file, "%lf", 0, &e.psi_dry) != 1 ||
               modelobject::scan_conversion(file, "%lf", 0, &e.psi_wet) != 1) {
      fail(": psi_dry or psi_wet could not be read correctly\n");
    }

    if (e.method == IRRIGATION_TABLE_ROWS) {
      if (modelobject::scan_conversion(file, "%d", 0, &e.tabcnt) != 1 || e.tabcnt < 0)
        fail(": tabcnt could not be read correctly\n");
      const size_t size = static_cast<size_t>(e.tabcnt) + 1;
      e.month.assign(size, 0);
      e.day.assign(size, 0);
      e.amount.assign(size, 0);
      for (int k = 1; k <= e.tabcnt; ++k) {
        const auto kk = static_cast<size_t>(k);
        long month = 0;
        long day = 0;
        if (modelobject::scan_conversion(file, "%ld", 0, &month) != 1 ||
            modelobject::scan_conversion(file, "%ld", 0, &day) != 1 ||
            modelobject::scan_conversion(file, "%lf", 0, &e.amount[kk]) != 1)
          fail_fatal(diag, IRRIGATION_READ_ERROR, "for irrigation code ", j, " month[", k,
                     "] or day[", k, "] or amount[", k, "] could not be read\n");
        e.month[kk] = month;
        e.day[kk] = day;
      }
    } else if (e.method == IRRIGATION_SCHEDULE_IN_WORDS) {
      std::string line;
      modelobject::read_line_rest(file, line);
      parse_irrigation_schedules(diag, line, month_days, j, e);
    }
  }
}
