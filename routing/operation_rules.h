// Operation rules of reservoirs and abstractions: a piecewise-linear table of
// release (or abstraction) against storage (or flow), one value column per
// season blended by the day of the year, optionally restricted to weekdays
// and hours and capped. The day of the year counts February as 28 days;
// weekdays are 1 (Monday) to 7 (Sunday) of the true calendar.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A rule that cannot be read: the code and the message after "FATAL: ".
struct rule_fault {
  int code = 0;
  std::string message;
};

constexpr int RULE_SECTION_CODE = 34;
constexpr size_t RULE_LINE_LIMIT = 1199;  // characters read of one line

struct operation_rule {
  int N = 0;  // rows
  int K = 0;  // value columns (seasons)
  std::vector<int> start_days;     // [K+1], 1..K: day of the year a column starts
  std::vector<int64_t> weekdays;   // [K+1]: digits 1..7, -1 not given
  std::vector<int> start_hour;     // [K+1], -1 not given
  std::vector<int> stop_hour;      // [K+1], -1 not given
  std::vector<double> index_column;                 // [N+1]
  std::vector<std::vector<double>> value_columns;   // [K+1][N+1]
  std::vector<std::vector<double>> segment_slopes;  // [K+1][N+1], row N is 0
  std::vector<double> target_cap;  // [K+1], -1 not given
  bool flow_indexed = false;       // "TableIndex" names "Flow"
};

// The seasons of a date: result = w x column hi + (1 - w) x column lo;
// t is the column whose weekdays, hours and TargetCap count.
struct season_blend {
  int t = 1;
  int hi = 1;
  int lo = 1;
  double w = 1;  // [-]
};

// A date of the rule: month < 1 is the initial routing (no date).
struct rule_date {
  int year = 0, month = 0, day = 0, hour = 0;
};

// Rewinds file and stands after the line whose first word is name; false
// at the end of the file.
bool find_rule_section(std::FILE* file, const std::string& name);
// Reads the rule that follows the header; throws rule_fault (34) when the
// section is missing, its first line holds no count of rows or other text
// than numbers, or it has fewer than two rows.
operation_rule read_operation_rule(std::FILE* file, const std::string& section);
// Slopes of every column (called by the reader; public for tables built in code).
void compute_segment_slopes(operation_rule& rule);

int day_of_year(int month, int day);
season_blend blend_season(const operation_rule& rule, int month, int day);
// 1 (Monday) .. 7 (Sunday) of the day that holds hour - 1 (hour 0 counts to
// the day before).
int weekday_of(int year, int month, int day, int hour);
// The weekday and hour test of column t. any_time_without_weekdays: a column
// without WeekDays is active at any time (reservoir outflow).
bool rule_active(const operation_rule& rule, int t, const rule_date& date,
                 bool any_time_without_weekdays);
// Blended value of a column set at row r.
double blended(const std::vector<std::vector<double>>& columns, const season_blend& b, int r);
// The table's value at x by rows below the top row (0 below the table);
// in the flow-indexed layout x is compared with the blended value columns.
double rule_lookup(const operation_rule& rule, const season_blend& b, double x);
// Lookup for an abstraction: above the top row the top value of column t.
double abstraction_lookup(const operation_rule& rule, const season_blend& b, double x);
// amount + reference <= TargetCap of column t; amount unchanged when not connected.
double cap_abstraction(const operation_rule& rule, int t, double amount, double reference,
                       bool connected);
