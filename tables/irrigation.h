// The irrigation table: one irrigation_entry per code of the grid
// "irrigation_codes", saying how water is given (a schedule of dates and
// amounts, written as rows or in words, or on demand by soil suction or by the
// ratio of real to potential evapotranspiration) and where it comes from.
// The table is a vector of n + 1 entries whose entry 0 is a header holding n
// in its code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DiagStream;
class modelobject;

constexpr int IRRIGATION_READ_ERROR = 29;
constexpr int IRRIGATION_CODE_ERROR = 31;

// Methods of an irrigation entry.
constexpr int IRRIGATION_TABLE_ROWS = 1;
constexpr int IRRIGATION_SCHEDULE_IN_WORDS = 2;
constexpr int IRRIGATION_BY_SUCTION = 3;
constexpr int IRRIGATION_BY_ETR_ETP = 4;

// Suction thresholds of method 4, which has none of its own.
constexpr double IRRIGATION_ETR_ETP_PSI_DRY = 20;    // [m]
constexpr double IRRIGATION_ETR_ETP_PSI_WET = 3.45;  // [m]

// Names live in a buffer of 50 bytes: at most this many characters are read.
constexpr int IRRIGATION_NAME_LENGTH = 50;

struct irrigation_entry {
  int code = 0;
  std::string name;
  int method = 0;
  int origin = 0;              // origin of the water, passed on to the irrigation module
  double psi_dry = 0;          // [m] suction at which irrigation starts
  double psi_wet = 0;          // [m] suction at which irrigation ends
  double min_etr_etp = 0;      // [-] method 4: ETR/ETP below which irrigation starts
  int tabcnt = 0;              // number of scheduled events
  std::vector<int64_t> month;  // 1..tabcnt (element 0 unused); none for methods 3, 4
  std::vector<int64_t> day;    // 1..tabcnt
  std::vector<double> amount;  // [mm d-1] 1..tabcnt
};

using irrigation_table_t = std::vector<irrigation_entry>;

// Writes "irrigation description ... is wrong" with the help text on the
// schedules and throws 29. position is the entry's place in the table.
[[noreturn]] void fail_irrigation_rule(DiagStream& diag, int position);

// Appends the events of the schedules written in words in line ("starting
// from MM DD with XX mm to MM DD with YY mm every ZZ days" or "starting from
// MM DD with XX mm AA times every ZZ days", several per line). Dates are
// pulled into the calendar of month_days[1..12]. A schedule that cannot be
// read ends through fail_irrigation_rule.
void parse_irrigation_schedules(DiagStream& diag, const std::string& line, const int* month_days,
                                int position, irrigation_entry& entry);

// Reads "[irrigation_table]" of the reader's open control file into table
// (entry 0 the header); month_days[1..12] is the model time's calendar.
// Throws 29 after its entry.
void read_irrigation_entries(modelobject& reader, const int* month_days, irrigation_table_t& table);
