// Abstractions: the share-of-flow formula of "intern" and "extern", unit
// words, two abstractions in a row, "from_file" with missing values and its
// date checks, the rule modes, the output file and the refused entries.
// With A = 3.6 km2 and dt = 60 min, 1 m3/s is 1 mm per step
// (1 x 0.06 x 60 / 3.6), so the amounts read as m3/s.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "routing/abstractions.h"
#include "settings/tracer_entry.h"
#include "support/test_support.h"

namespace {

struct abstraction_fixture {
  captured_diag cd;
  std::string out_dir;
  AL_class al;
  subbasin_flow_arrays flows = subbasin_flow_arrays(1, std::vector<double>(5, 0.0));
  explicit abstraction_fixture(double area = 3.6) : out_dir(cd.dir.path() + "/") {
    al.init_context(cd.diag.get(), nullptr, 0, 1, area, 1, 60, &out_dir);
  }
  // The code thrown by parse_entry, 0 when none.
  int parse(const std::string& text, int hour = 0) {
    try {
      al.parse_entry(1, text, 2000, 1, 1, hour);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  double take(double water, double& total, int hour = 1, int month = 1) {
    return al.abstraction_amount(flows, total, water, 2000, month, 1, hour);
  }
};

TEST(Abstractions, ShareOfTheFlowAboveTheMinimum) {
  abstraction_fixture f;
  ASSERT_EQ(f.parse(" = intern 2 0.5 10 mm"), 0) << f.cd.console();
  EXPECT_EQ(f.al.modus(), AL_INTERN);
  // amount = min(Qmax, max(0, min((W - Qmin) f, W - T - Qmin))), Qmin 2, f 0.5, Qmax 10.
  struct row {
    double water, total_before, amount;
  };
  const row rows[] = {
      {12, 0, 5},    // half of the 10 above the minimum
      {2, 0, 0},     // W at the minimum
      {1, 0, 0},     // W below it
      {12, 9, 1},    // the earlier ones left 1 above the minimum
      {12, 11, 0},   // they left less than the minimum
      {100, 0, 10},  // Qmax
  };
  for (const row& x : rows) {
    double total = x.total_before;
    EXPECT_DOUBLE_EQ(f.take(x.water, total), x.amount) << x.water << " " << x.total_before;
    EXPECT_DOUBLE_EQ(total, x.total_before + x.amount);
  }
}

TEST(Abstractions, TwoInARowShareWhatIsLeft) {
  abstraction_fixture a, b;
  ASSERT_EQ(a.parse(" = intern 0 0.6 100 mm"), 0);
  ASSERT_EQ(b.parse(" = intern 0 0.6 100 mm"), 0);
  double total = 0;
  const double first = a.take(10, total);
  const double second = b.take(10, total);
  EXPECT_DOUBLE_EQ(first, 6);
  EXPECT_DOUBLE_EQ(second, 4);  // min(6, 10 - 6)
  EXPECT_DOUBLE_EQ(total, 10);
}

TEST(Abstractions, UnitWordsConvertMinimumAndMaximum) {
  // A = 7.2 km2: 1 m3/s is 0.5 mm per step.
  struct row {
    const char* text;
    double qmin, qmax;
  };
  const row rows[] = {
      {" = intern 2 0.5 10 m3/s", 1, 5},
      {" = intern 2 0.5 10 m3/s)", 1, 5},
      {" = intern 2 0.5 10 m^3/s", 1, 5},
      {" = intern 2 0.5 10 m3s", 1, 5},
      {" = intern 2 0.5 10 mm", 2, 10},
      {" = intern (Qmin= 2, fraction= 0.5, Qmax= 10 m3/s)", 1, 5},
  };
  for (const row& x : rows) {
    abstraction_fixture f(7.2);
    ASSERT_EQ(f.parse(x.text), 0) << x.text << f.cd.console();
    EXPECT_NEAR(f.al.q_min(), x.qmin, 1e-12) << x.text;
    EXPECT_NEAR(f.al.q_max(), x.qmax, 1e-12) << x.text;
    EXPECT_DOUBLE_EQ(f.al.fraction(), 0.5);
  }
}

TEST(Abstractions, ExternWritesItsFile) {
  abstraction_fixture f;
  ASSERT_EQ(f.parse(" = extern taken.txt 0 1 100 mm"), 0) << f.cd.console();
  double total = 0;
  const double amount = f.take(4, total);
  f.al.write_output_row(2000, 1, 1, 1, {amount});
  f.al.flush_output(1);
  const std::string text = read_file(f.cd.dir.file("taken.txt"));
  EXPECT_EQ(text, "YY\tMM\tDD\tHH\tm^3/s\nabstraction_1\nYY\tMM\tDD\tHH\tm^3/s\n"
                  "2000\t 1\t 1\t 1\t4\n");
  // An internal abstraction has no file.
  abstraction_fixture g;
  ASSERT_EQ(g.parse(" = intern 0 1 100 mm"), 0);
  EXPECT_TRUE(g.al.output_file().empty());
  g.al.write_output_row(2000, 1, 1, 1, {1});
  EXPECT_EQ(g.al.pending_rows(), 0);
}

TEST(Abstractions, FromFileTreatsMissingAsZeroAndChecksDates) {
  abstraction_fixture f;
  f.cd.dir.write("in.txt",
                 "YY MM DD HH Q\n2000 1 1 0 -9999\n2000 1 1 1 3\n2000 1 1 2 -2\n2000 1 1 3 50\n");
  ASSERT_EQ(f.parse(" = from_file (input_file = " + f.cd.dir.file("in.txt") +
                    " column = 0 output = out.txt)"),
            0)
      << f.cd.console();
  double total = 0;
  EXPECT_NEAR(f.take(10, total, 0), 0, 1e-12);   // -9999: missing, nothing taken
  EXPECT_NEAR(f.take(10, total, 1), 3, 1e-12);
  EXPECT_NEAR(f.take(10, total, 2), 0, 1e-12);   // a negative amount would add water
  EXPECT_NEAR(f.take(10, total, 3), 7, 1e-12);   // at most W - T = 10 - 3
  try {
    f.take(10, total, 4);  // one row too few
    ADD_FAILURE() << "no error for the exhausted file";
  } catch (int code) {
    EXPECT_EQ(code, 39);
  }
}

TEST(Abstractions, FromFileDateOfEveryRow) {
  abstraction_fixture f;
  f.cd.dir.write("in.txt", "YY MM DD HH Q\n2000 1 1 0 1\n2000 1 1 2 1\n");
  ASSERT_EQ(f.parse(" = from_file input_file = " + f.cd.dir.file("in.txt") + " = 0 = out.txt"), 0);
  double total = 0;
  EXPECT_NEAR(f.take(10, total, 0), 1, 1e-12);
  // The initial routing (month 0) neither checks nor advances.
  EXPECT_NEAR(f.take(10, total, 0, 0), 1, 1e-12);
  try {
    f.take(10, total, 1);  // the file jumps to hour 2
    ADD_FAILURE() << "no error for the gap";
  } catch (int code) {
    EXPECT_EQ(code, 36);
  }
}

TEST(Abstractions, RefusedEntries) {
  struct row {
    std::string text;
    int code;
    const char* message;
  };
  scratch_dir data;
  data.write("late.txt", "YY MM DD HH Q\n2000 1 1 5 1\n2000 1 1 6 1\n");
  const row rows[] = {
      {" = pump 1 2 3 mm", 44, "the modus \"pump\" is not supported for abstraction 1"},
      {" = from_file input_file = " + data.file("none.txt") + " = 0 = o.txt", 37, "error opening "},
      {" = from_file input_file = " + data.file("late.txt") + " = 0 = o.txt", 38,
       "starting date 1.1.2000, 0. h in "},
      {" = from_file = a.txt", 37, "no \"input_file\" found"},
      {" = extern /no/such/folder/x.txt 0 1 1 mm", 37, "error opening /no/such/folder/x.txt"},
      {" = intern 1 2", 44, "a value of the modus is missing"},
  };
  for (const row& x : rows) {
    abstraction_fixture f;
    EXPECT_EQ(f.parse(x.text), x.code) << x.text;
    EXPECT_NE(f.cd.console().find(x.message), std::string::npos) << f.cd.console();
  }
}

TEST(Abstractions, RuleOnTheFlowAndOnTheReservoir) {
  abstraction_fixture f;
  ASSERT_EQ(f.parse(" = intern_with_rule"), 0);
  // Amount 0 up to 2 m3/s of flow, then half of the flow above 2, at most 4.
  f.cd.dir.write("rules.txt",
                 "[abstraction_rule_abstraction_1]\n3\n2 0\n10 4\n20 4\n"
                 "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 24\n");
  std::FILE* rules = std::fopen(f.cd.dir.file("rules.txt").c_str(), "r");
  ASSERT_NE(rules, nullptr);
  f.al.read_rule_section(rules);
  std::fclose(rules);
  double total = 0;
  EXPECT_NEAR(f.take(6, total), 2, 1e-6);
  EXPECT_NEAR(f.take(30, total), 4, 1e-6);   // above the table: the top value
  EXPECT_NEAR(f.take(6, total = 5.5), 0.5, 1e-6);  // W - T limits it
  // Not connected: no TargetCap, whatever the reference flow.
  EXPECT_NEAR(f.al.evaluate_rule(f.flows, 2000, 1, 1, 1, 6), 2, 1e-6);
  // The reservoir version reads storage; no date, no amount.
  EXPECT_NEAR(f.al.evaluate_rule_with_weekdays(nullptr, 2000, 1, 1, 1, 6), 2, 1e-12);
  EXPECT_EQ(f.al.evaluate_rule_with_weekdays(nullptr, 0, 0, 0, 0, 6), 0);
  // Connected with a reference flow: amount + reference <= TargetCap, here
  // absent (-1), so nothing is taken.
  f.al.connect_inflow(2, 10, 1, 1, 3.6);
  f.flows[0][1] = 1;
  EXPECT_EQ(f.al.evaluate_rule(f.flows, 2000, 1, 1, 1, 6), 0);
}

}  // namespace
