// Operation rules: the season blend by day of the year (February 28 days),
// the weekday of the true calendar, the weekday and hour activity, both
// table layouts, the TargetCap of abstractions and the refusals of the
// rule section. Expected numbers are hand calculations given per row.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "routing/operation_rules.h"
#include "support/test_support.h"

namespace {

struct rule_file {
  scratch_dir dir;
  std::FILE* file = nullptr;
  explicit rule_file(const std::string& text) {
    dir.write("control.txt", text);
    file = std::fopen(dir.file("control.txt").c_str(), "r");
  }
  ~rule_file() {
    if (file != nullptr) std::fclose(file);
  }
  rule_file(const rule_file&) = delete;
  rule_file& operator=(const rule_file&) = delete;
};

operation_rule read(const std::string& text, const std::string& section) {
  rule_file f(text);
  return read_operation_rule(f.file, section);
}

int fault_code(const std::string& text, const std::string& section, std::string* message = nullptr) {
  try {
    read(text, section);
  } catch (const rule_fault& f) {
    if (message != nullptr) *message = f.message;
    return f.code;
  }
  return 0;
}

// Two seasons from days 1 and 182; storage 0..1000 m3 gives 0..10 and 0..20 m3/s.
const char* TWO_SEASONS =
    "[other]\n1\n"
    "[abstraction_rule_reservoir_3]\n"
    "2 1 182\n"
    "0 0 0\n"
    "1000 10 20\n"
    "TargetCap = 15 -1\n"
    "WeekDays = 12345 67\n"
    "start_hour = 6 0\n"
    "stop_hour = 18 24\n"
    "\n"
    "[next]\n";

TEST(OperationRules, ReadsRowsSeasonsAndKeywords) {
  const operation_rule r = read(TWO_SEASONS, "[abstraction_rule_reservoir_3]");
  EXPECT_EQ(r.N, 2);
  EXPECT_EQ(r.K, 2);
  EXPECT_EQ(r.start_days[1], 1);
  EXPECT_EQ(r.start_days[2], 182);
  EXPECT_EQ(r.value_columns[2][2], 20);
  EXPECT_EQ(r.target_cap[1], 15);
  EXPECT_EQ(r.target_cap[2], -1);
  EXPECT_EQ(r.weekdays[1], 12345);
  EXPECT_EQ(r.weekdays[2], 67);
  EXPECT_EQ(r.start_hour[1], 6);
  EXPECT_EQ(r.stop_hour[2], 24);
  EXPECT_DOUBLE_EQ(r.segment_slopes[1][1], 0.01);  // 10 / 1000
  EXPECT_EQ(r.segment_slopes[1][2], 0);
  EXPECT_FALSE(r.flow_indexed);
}

TEST(OperationRules, OneColumnWholeYear) {
  // A first line with only N, or N and one number: K = 1 from day 1.
  for (const char* head : {"3\n", "3 200\n"}) {
    const std::string text = std::string("[abstraction_rule_abstraction_1]\n") + head +
                             "0 0\n10 1\n20 3\n";
    const operation_rule r = read(text, "[abstraction_rule_abstraction_1]");
    EXPECT_EQ(r.K, 1) << head;
    EXPECT_EQ(r.start_days[1], 1) << head;
    const season_blend b = blend_season(r, 12, 31);
    EXPECT_EQ(b.t, 1);
    EXPECT_EQ(blended(r.value_columns, b, 3), 3);
  }
}

TEST(OperationRules, SeasonBlendTable) {
  const operation_rule r = read(TWO_SEASONS, "[abstraction_rule_reservoir_3]");
  struct row {
    int month, day;
    int t;
    double value_at_top;  // blend of 10 (column 1) and 20 (column 2)
  };
  const row rows[] = {
      // doy 1 <= start day 1: column 1 alone.
      {1, 1, 1, 10},
      // 1 April, doy 91: column 2 weighs 90/181 = 0.497238, column 1 91/181.
      {4, 1, 2, 10 * 91.0 / 181 + 20 * 90.0 / 181},
      // doy 182: column 2 alone.
      {7, 1, 2, 20},
      // doy 300 past the last start day: w = (300-182)/(1+365-182) = 118/184
      // towards column 1 of the next year.
      {10, 27, 2, 10 * 118.0 / 184 + 20 * 66.0 / 184},
      // 31 December, doy 365: almost back at column 1 (183/184).
      {12, 31, 2, 10 * 183.0 / 184 + 20 * 1.0 / 184},
  };
  for (const row& x : rows) {
    SCOPED_TRACE(std::to_string(x.month) + "/" + std::to_string(x.day));
    const season_blend b = blend_season(r, x.month, x.day);
    EXPECT_EQ(b.t, x.t);
    EXPECT_NEAR(blended(r.value_columns, b, 2), x.value_at_top, 1e-12);
  }
  const season_blend april = blend_season(r, 4, 1);
  EXPECT_NEAR(april.w, 0.497238, 5e-7);
  // No blend ever leaves the range of its columns (the old extrapolation gave 1.65 at day 300).
  for (int m = 1; m <= 12; ++m)
    for (int d = 1; d <= 28; ++d) {
      const double v = blended(r.value_columns, blend_season(r, m, d), 2);
      EXPECT_GE(v, 10);
      EXPECT_LE(v, 20);
    }
}

TEST(OperationRules, DayOfYearCountsFebruaryAs28Days) {
  EXPECT_EQ(day_of_year(3, 1), 60);
  EXPECT_EQ(day_of_year(12, 31), 365);
}

TEST(OperationRules, WeekdayOfTheCalendar) {
  // 5 March 2010 was a Friday: hours 1..24 belong to it, hour 0 to Thursday.
  for (int h = 1; h <= 24; ++h) EXPECT_EQ(weekday_of(2010, 3, 5, h), 5) << h;
  EXPECT_EQ(weekday_of(2010, 3, 5, 0), 4);
  EXPECT_EQ(weekday_of(2000, 1, 1, 12), 6);   // a Saturday
  EXPECT_EQ(weekday_of(2024, 2, 29, 12), 4);  // leap day, a Thursday
  EXPECT_EQ(weekday_of(2024, 3, 4, 0), 7);    // hour 0 of Monday counts to Sunday
}

TEST(OperationRules, ActivityByWeekdaysAndHours) {
  const operation_rule r = read(TWO_SEASONS, "[abstraction_rule_reservoir_3]");
  struct row {
    rule_date date;
    int t;
    bool reservoir;
    bool active;
  };
  const row rows[] = {
      {{2010, 3, 5, 12}, 1, true, true},    // Friday noon, working days 6..18 h
      {{2010, 3, 5, 19}, 1, true, false},   // after stop_hour
      {{2010, 3, 6, 12}, 1, true, false},   // Saturday
      {{2010, 3, 6, 12}, 2, true, true},    // column 2: weekend 0..24 h
      {{2010, 3, 5, 0}, 2, true, false},    // hour 0 belongs to Thursday
      {{0, 0, 0, 0}, 1, true, false},       // initial routing: never active
  };
  for (const row& x : rows)
    EXPECT_EQ(rule_active(r, x.t, x.date, x.reservoir), x.active)
        << x.date.day << " " << x.date.hour << " column " << x.t;

  // WeekDays without hours: never active; without WeekDays a reservoir is
  // always active, an abstraction from a reservoir is not (the text of -1
  // holds the digit 1, but the hours are -1 too).
  operation_rule w = read("[r]\n2\n0 0\n1 1\nWeekDays = 1234567\n", "[r]");
  EXPECT_FALSE(rule_active(w, 1, {2010, 3, 5, 12}, true));
  operation_rule none = read("[r]\n2\n0 0\n1 1\n", "[r]");
  EXPECT_TRUE(rule_active(none, 1, {2010, 3, 5, 12}, true));
  EXPECT_FALSE(rule_active(none, 1, {2010, 3, 5, 12}, false));
}

TEST(OperationRules, LookupInBothLayouts) {
  // Default: storage -> outflow. Flow-indexed: the same pairs with the
  // columns swapped, so the two lookups invert each other.
  const operation_rule d = read("[r]\n3\n100 0\n300 4\n700 12\n", "[r]");
  const operation_rule f =
      read("[r]\n3\n0 100\n4 300\n12 700\nTableIndex = Flow\n", "[r]");
  EXPECT_TRUE(f.flow_indexed);
  const season_blend b;
  struct row {
    double x, expected;
  };
  for (const row& x : {row{50, 0}, row{100, 0}, row{200, 2}, row{300, 4}, row{500, 8}, row{700, 12}})
    EXPECT_DOUBLE_EQ(rule_lookup(d, b, x.x), x.expected) << x.x;
  for (const row& x : {row{50, 0}, row{200, 2}, row{500, 8}})
    EXPECT_DOUBLE_EQ(rule_lookup(f, b, x.x), x.expected) << x.x;
  // Above the table: the default lookup extends the last segment below the
  // top row; an abstraction takes the top value of its column.
  EXPECT_DOUBLE_EQ(rule_lookup(d, b, 900), 16);
  EXPECT_DOUBLE_EQ(abstraction_lookup(d, b, 900), 12);
}

TEST(OperationRules, TargetCapOfAnAbstraction) {
  operation_rule r = read("[r]\n2\n0 0\n10 10\nTargetCap = 8\n", "[r]");
  struct row {
    double amount, reference;
    bool connected;
    double expected;
  };
  const row rows[] = {
      {5, 2, true, 5},   // 7 <= 8
      {5, 6, true, 2},   // amount + reference = 8
      {5, 9, true, 0},   // reference above the cap
      {5, 9, false, 5},  // not connected: no cap
  };
  for (const row& x : rows)
    EXPECT_DOUBLE_EQ(cap_abstraction(r, 1, x.amount, x.reference, x.connected), x.expected);
  // A connected abstraction without TargetCap (-1) always takes 0; a cap of
  // 0 likewise.
  r.target_cap[1] = -1;
  EXPECT_EQ(cap_abstraction(r, 1, 5, 0, true), 0);
  r.target_cap[1] = 0;
  EXPECT_EQ(cap_abstraction(r, 1, 5, 0, true), 0);
}

TEST(OperationRules, RefusedSections) {
  struct row {
    const char* text;
    const char* part;
  };
  const row rows[] = {
      {"[other]\n2\n", "not found in control file"},
      {"[r]\n2 1 x182\n0 0 0\n1 1 1\n", "only numbers"},
      {"[r]\n1\n0 0\n", "at least two rows"},
      {"[r]\n3\n0 0\n1 1\n", "row 3 of 3 is missing"},
      {"[r]\n2 1 182\n0 0\n1 1 1\n", "row 1 needs 3 numbers"},
  };
  for (const row& x : rows) {
    std::string message;
    EXPECT_EQ(fault_code(x.text, "[r]", &message), RULE_SECTION_CODE) << x.text;
    EXPECT_NE(message.find(x.part), std::string::npos) << message;
  }
}

}  // namespace
