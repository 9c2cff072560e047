// The irrigation table: entries of every method, schedules written in words
// (events worked out by hand from the rules: the day grows by the interval
// and loses the length of its month once, amounts linear between the first
// and the last), and the exact entry and code of each unreadable entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/irrigation.h"
#include "tests/tables/table_test_support.h"

namespace {

// The model time's calendar of a run ending in 2001.
const int MONTH_DAYS[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

struct event {
  int64_t month;
  int64_t day;
  double amount;
};

std::vector<event> events_of(const irrigation_entry& e) {
  std::vector<event> out;
  for (int k = 1; k <= e.tabcnt; ++k)
    out.push_back({e.month[static_cast<size_t>(k)], e.day[static_cast<size_t>(k)],
                   e.amount[static_cast<size_t>(k)]});
  return out;
}

const std::string HELP_HEAD =
    "irrigation description for irrigation type 3 is wrong there are 4 "
    "possible ways to define irrigation rules:\n";

}  // namespace

TEST(IrrigationSchedules, EventsOfSchedulesInWords) {
  struct row {
    const char* name;
    std::string line;
    std::vector<event> events;
  };
  const std::vector<row> rows = {
      {"to the end day",
       "starting from 5 1 with 10 mm to 5 31 with 30 mm every 10 days",
       {{5, 1, 10}, {5, 11, 50.0 / 3}, {5, 21, 70.0 / 3}, {5, 31, 30}}},
      {"an event after the end day is left out",
       "starting from 5 1 with 10 mm to 5 25 with 30 mm every 10 days",
       {{5, 1, 10}, {5, 11, 20}, {5, 21, 30}}},
      {"repeated into the next year",
       "starting from 12 25 with 5 mm 3 times every 10 days",
       {{12, 25, 5}, {1, 4, 5}, {1, 14, 5}}},
      {"day 30 of February is its last day",
       "starting from 2 30 with 1 mm 1 times every 5 days",
       {{2, 28, 1}}},
      {"month 13 is December",
       "starting from 13 5 with 2 mm 2 times every 3 days",
       {{12, 5, 2}, {12, 8, 2}}},
      {"day 0 is the first", "starting from 4 0 with 2 mm 1 times every 3 days", {{4, 1, 2}}},
      {"two schedules on one line",
       "starting from 5 1 with 10 mm to 5 11 with 20 mm every 10 days; "
       "starting from 6 1 with 1 mm to 6 3 with 3 mm every 1 days",
       {{5, 1, 10}, {5, 11, 20}, {6, 1, 1}, {6, 2, 2}, {6, 3, 3}}},
      {"first event already after the end day",
       "starting from 5 20 with 4 mm to 5 10 with 8 mm "
       "every 10 days",
       {{5, 20, 8}}},
      {"across the end of a month",
       "starting from 1 25 with 6 mm to 2 20 with 6 mm every 7 days",
       {{1, 25, 6}, {2, 1, 6}, {2, 8, 6}, {2, 15, 6}}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    captured_diag cap;
    irrigation_entry e;
    parse_irrigation_schedules(*cap.diag, r.line, MONTH_DAYS, 1, e);
    const std::vector<event> got = events_of(e);
    ASSERT_EQ(got.size(), r.events.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].month, r.events[i].month) << i;
      EXPECT_EQ(got[i].day, r.events[i].day) << i;
      EXPECT_NEAR(got[i].amount, r.events[i].amount, 1e-12) << i;
    }
  }
}

TEST(IrrigationSchedules, SchedulesThatCannotBeReadGiveTheHelpText) {
  struct row {
    const char* name;
    std::string line;
    bool keyword_entry;  // "none of the keywords" before the help
  };
  const std::vector<row> rows = {
      {"no schedule", "every day a little", false},
      {"neither to nor times", "starting from 5 1 with 10 mm", false},
      {"no keyword after with", "starting from 5 1 to with 10 mm", true},
      {"no dates", "starting from May with 10 mm to 5 31 with 30 mm every 10 days", false},
      {"no amount", "starting from 5 1 to 5 31 every 10 days", false},
      {"no interval", "starting from 5 1 with 10 mm to 5 31 with 30 mm", false},
      {"interval of no days", "starting from 5 1 with 10 mm to 5 31 with 30 mm every 0 days",
       false},
      {"no repeat", "starting from 5 1 with 10 mm 0 times every 3 days", false},
      {"no count", "starting from 5 1 with 10 mm many times every 3 days", false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_file_reader f("");
    irrigation_entry e;
    EXPECT_EQ(thrown_code([&] { parse_irrigation_schedules(f.diag(), r.line, MONTH_DAYS, 3, e); }),
              29);
    const std::vector<diag_record> entries = f.records();
    ASSERT_EQ(entries.size(), r.keyword_entry ? 2u : 1u);
    if (r.keyword_entry) {
      EXPECT_EQ(entries[0], (diag_record{FATAL_LEVEL,
                                         "none of the keywords \"to\" or \"times\" could be "
                                         "found!\n"}));
    }
    EXPECT_EQ(entries.back().level, FATAL_LEVEL);
    EXPECT_EQ(entries.back().text.rfind(HELP_HEAD, 0), 0u) << entries.back().text;
    EXPECT_NE(entries.back().text.find(" 4.: irrigation control by demand (2): ratio between ETR "
                                       "and ETP for irrigation start must be provided\n"),
              std::string::npos);
  }
}

TEST(IrrigationTable, EntriesOfEveryMethod) {
  control_file_reader f(
      "[irrigation_table]\n4\n"
      "1 rows 1 2 0.5 3.0 2\n5 1 3.5\n6 15 4.0\n"
      "7 words 2 1 1.0 2.0 starting from 5 1 with 10 mm 2 times every 10 days\n"
      "9 suction 3 0 20 5\n"
      "11 ratio 4 2 0.6 99 99\n");
  irrigation_table_t t;
  read_irrigation_entries(f.reader(), MONTH_DAYS, t);
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].code, 4);
  EXPECT_EQ(t[1].code, 1);
  EXPECT_EQ(t[1].name, "rows");
  EXPECT_EQ(t[1].origin, 2);
  EXPECT_EQ(t[1].psi_dry, 0.5);
  EXPECT_EQ(t[1].psi_wet, 3.0);
  EXPECT_EQ(t[1].tabcnt, 2);
  EXPECT_EQ(t[1].month[2], 6);
  EXPECT_EQ(t[1].day[2], 15);
  EXPECT_EQ(t[1].amount[2], 4.0);
  EXPECT_EQ(t[2].code, 7);
  EXPECT_EQ(t[2].method, 2);
  EXPECT_EQ(t[2].tabcnt, 2);
  EXPECT_EQ(t[2].day[2], 11);
  EXPECT_EQ(t[3].method, 3);
  EXPECT_EQ(t[3].tabcnt, 0);
  EXPECT_TRUE(t[3].month.empty());
  EXPECT_EQ(t[3].psi_dry, 20);
  EXPECT_EQ(t[3].psi_wet, 5);
  // Method 4 reads only the ratio; its thresholds are fixed.
  EXPECT_EQ(t[4].min_etr_etp, 0.6);
  EXPECT_EQ(t[4].psi_dry, 20);
  EXPECT_EQ(t[4].psi_wet, 3.45);
}

TEST(IrrigationTable, UnreadableEntriesGiveTheirEntryAndCode29) {
  struct row {
    const char* name;
    std::string entries;
    std::string text;
  };
  const std::vector<row> rows = {
      {"method missing", "1\n1 rows x 2\n",
       "for irrigation code 1: code, name, method, or origin could not be read correctly\n"},
      {"psi missing", "2\n1 a 3 0 1 2\n2 b 3 0 x\n",
       "for irrigation code 2: psi_dry or psi_wet could not be read correctly\n"},
      {"ratio missing", "1\n1 a 4 0 none\n",
       "for irrigation code 1: min(ETR/ETP) could not be read correctly\n"},
      {"count missing", "1\n1 a 1 0 1 2 some\n",
       "for irrigation code 1: tabcnt could not be read correctly\n"},
      {"row missing", "1\n1 a 1 0 1 2 2\n5 1 3\n6 x 4\n",
       "for irrigation code 1 month[2] or day[2] or amount[2] could not be read\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_file_reader f("[irrigation_table]\n" + r.entries);
    irrigation_table_t t;
    EXPECT_EQ(thrown_code([&] { read_irrigation_entries(f.reader(), MONTH_DAYS, t); }), 29);
    EXPECT_EQ(f.records().back(), (diag_record{FATAL_LEVEL, r.text}));
  }
}
