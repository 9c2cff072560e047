// The expression evaluator against hand-worked results: precedence and
// associativity by the grammar's levels, the token rules (a run of operator
// characters is one token), the error texts with their columns, and the
// results chosen where integer arithmetic has none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "soilwater/exprparser.h"

namespace {

// One table: the text, the result text expected from the grammar by hand.
// Values by precedence, tokens and functions; errors with their texts and
// columns; and the results chosen where integer arithmetic or the fixed
// limits have none (a defined result each, never a trap or an overflowing
// buffer).
TEST(ExpressionParser, TableOfCases) {
  const std::string name31(31, 'a');
  const std::string name32(32, 'a');
  const std::string name40 = std::string("Rate_").append(35, 'x');  // 40 characters
  const std::string digits32(32, '1');
  const std::string at_limit = std::string("1").append(252, ' ') + "+1";    // 255 characters
  const std::string over_limit = std::string("1").append(253, ' ') + "+1";  // 256 characters
  std::string three_hundred;  // 300 characters: "1+1+...+1"
  for (int i = 0; i < 150; ++i) three_hundred += i == 0 ? "1" : "+1";
  three_hundred += "0";
  struct row {
    std::string text, expected;
  } rows[] = {
      {"1+2*3", "Ans = 7"},
      {"2^3^2", "Ans = 64"},  // left-associative
      {"-2^2", "Ans = 4"},    // the prefix minus binds tighter than ^
      {"2^-1", "Ans = 0.5"},
      {"3!", "Ans = 6"},
      {"3!!", "Ans = 720"},
      {"3! !", "Ans = 720"},
      {"0!", "Ans = 1"},
      {"-3!", "Ans = -3"},  // factorial of -3 is -3 itself
      {"1!", "Ans = 1"},
      {"3! +2", "Ans = 8"},
      {"2--3", "Ans = 5"},  // binary minus, then the prefix one
      {"7 || 3", "Ans = 4"},
      {"5 % 3", "Ans = 2"},
      {"-5 % 3", "Ans = -2"},    // sign of the left operand
      {"5.9 % 3.9", "Ans = 2"},  // integer parts 5 % 3
      {"1 << 33", "Ans = 2"},    // low five bits of the count
      {"1 << 31", "Ans = -2.14748e+09"},
      {"-8 >> 1", "Ans = -4"},  // sign kept
      {"6 & 3", "Ans = 2"},
      {"6 | 3", "Ans = 7"},
      {"1 + 1 = 2", "Ans = 1"},
      {"1 < 2 & 3 > 2", "Ans = 1"},  // comparisons bind tighter than &
      {"2 <= 2", "Ans = 1"},
      {"2 >= 3", "Ans = 0"},
      {"2 <> 3", "Ans = 1"},
      {"(0/0) <> (0/0)", "Ans = 1"},  // NaN differs from everything
      {"(0/0) = (0/0)", "Ans = 0"},
      {"1.2.3", "Ans = 1.2"},
      {"2E", "Ans = 2"},
      {"2e+1", "Ans = 20"},
      {"1.5E-1 * 2", "Ans = 0.3"},
      {".5", "Ans = 0.5"},
      {"pi", "Ans = 3.14159"},
      {"eUlEr", "Ans = 2.71828"},
      {"\t 2*(3+4)", "Ans = 14"},
      {"-sqrt(16)", "Ans = -4"},
      {"sqrt (16)", "Ans = 4"},  // blanks before "(" still make a function
      {"abs(-2)+sign(-3)+sign(0)", "Ans = 1"},
      {"exp(0)+log(1)+log10(1000)", "Ans = 4"},
      {"sin(0)+cos(0)+tan(0)", "Ans = 1"},
      {"asin(1)*2", "Ans = 3.14159"},
      {"acos(1)+atan(0)", "Ans = 0"},
      {"factorial(5)", "Ans = 120"},
      {"FACTORIAL(-2)", "Ans = -2"},
      {"1/0", "Ans = inf"},
      {"-1/0", "Ans = -inf"},
      {"log(0)", "Ans = -inf"},
      {"170! > 7e306", "Ans = 1"},
      {"171!", "Ans = inf"},
      {"1e300!", "Ans = inf"},  // no loop over 1e300 factors
      {"1e9!", "Ans = inf"},    // the product is inf from 171 on: stops there
      {"-1e9!", "Ans = -1e+09"},
      {"2 3", "Error: Unexpected part: 3 (col 3)"},
      {"(1+2", "Error: Parentesis ) missing (col 5)"},
      {"", "Error: Empty expression (col 1)"},
      {"   ", "Error: Empty expression (col 4)"},
      {"1 + #", "Error: Syntax error in part: # (col 5)"},
      {"1 + $x + 2", "Error: Syntax error in part: $x + 2 (col 5)"},
      {"foo(1)", "Error: Unknown function foo (col 7)"},
      {"2.5!", "Error: Integer value expected in function factorial (col -1)"},
      {"factorial(2.5) + 1", "Error: Integer value expected in function factorial (col 16)"},
      {"3!+2", "Error: Unknown operator !+ (col 2)"},
      {"1+2)", "Error: Unknown operator ) (col 4)"},
      {"1 +", "Error: Unexpected end of expression (col 4)"},
      {"1 + * 2", "Error: Value expected (col 5)"},
      {"--3", "Error: Value expected (col 2)"},  // no second prefix "-"
      {"+2", "Error: Value expected (col 1)"},   // no unary "+"
      {"()", "Error: Value expected (col 2)"},
      {"q + 1", "Error: Unknown variable q (col 1)"},
      {"x = y = 3", "Error: Unknown variable y (col 5)"},
      {"(a = 1)", "Error: Unknown variable a (col 2)"},  // no assignment inside parentheses
      {"sqrt(4) sqrt(4)", "Error: Unexpected part: sqrt (col 9)"},
      {"5 % 0", "Ans = nan"},
      {"5 % 0.5", "Ans = nan"},  // integer part 0
      {"(0-2147483647-1) % -1", "Ans = 0"},
      {"1e12 & 1", "Ans = 1"},  // saturated to 2147483647
      {"-1e12 | 0", "Ans = -2.14748e+09"},
      {"(0/0) & 1", "Ans = 0"},  // NaN counts as 0
      {"1e12 || 0", "Ans = 2.14748e+09"},
      {"1 << 1e12", "Ans = -2.14748e+09"},  // count 2147483647, low bits 31
      {"-1 >> 40", "Ans = -1"},
      {name31 + " = 2", "Ans = 2"},
      {name32 + " = 2", "Error: Too long token, maximum number of characters exceeded (col 1)"},
      {"1+" + digits32, "Error: Too long token, maximum number of characters exceeded (col 3)"},
      {at_limit, "Ans = 2"},
      {over_limit, "Error: Too long expression, maximum number of characters exceeded (col 256)"},
      {three_hundred,
       "Error: Too long expression, maximum number of characters exceeded (col 256)"},
      // A name beyond the 31 characters of a token is refused, never cut to
      // an alias of a shorter name.
      {name40 + " = 2", "Error: Too long token, maximum number of characters exceeded (col 1)"},
      {"2 * " + name40, "Error: Too long token, maximum number of characters exceeded (col 5)"},
  };
  ASSERT_EQ(three_hundred.size(), 300u);
  for (const auto& r : rows) {
    ExpressionParser parser;
    EXPECT_EQ(parser.evaluate(r.text), r.expected) << "text: " << r.text;
  }
  // The rest of the text quoted by a syntax error is cut so that the result
  // text keeps its column and stays within 254 characters.
  const std::string long_rest = "1 + #" + std::string(300 - 5, 'x');
  ExpressionParser parser;
  const std::string& cut = parser.evaluate(long_rest.substr(0, 255));
  EXPECT_LE(cut.size(), ExpressionParser::MAX_RESULT);
  EXPECT_EQ(cut.rfind("Error: Syntax error in part: #xxx", 0), 0u) << cut;
  EXPECT_EQ(cut.substr(cut.size() - 8), " (col 5)");
}

TEST(ExpressionParser, VariablesAssignmentAnsAndConstants) {
  ParserVariables list;
  ExpressionParser parser(&list);
  EXPECT_EQ(parser.evaluate("a = 2"), "Ans = 2");
  EXPECT_EQ(parser.evaluate("A*3"), "Ans = 6");  // names ignore case
  double v = 0;
  ASSERT_TRUE(parser.get_variable("ans", v));
  EXPECT_EQ(v, 6);

  // A failing evaluation leaves Ans at the last successful value, and an
  // assignment made before the failure... is never made: its right side fails.
  EXPECT_EQ(parser.evaluate("b = 1 + nothing"), "Error: Unknown variable nothing (col 9)");
  ASSERT_TRUE(parser.get_variable("Ans", v));
  EXPECT_EQ(v, 6);
  EXPECT_FALSE(parser.get_variable("b", v));
  // An assignment whose surplus text fails afterwards stays made.
  EXPECT_EQ(parser.evaluate("c = 4 )"), "Error: Unknown operator ) (col 7)");
  ASSERT_TRUE(parser.get_variable("C", v));
  EXPECT_EQ(v, 4);

  // "x = y = 3" compares y with 3 and assigns that to x.
  parser.set_variable("y", 3);
  EXPECT_EQ(parser.evaluate("x = y = 3"), "Ans = 1");
  ASSERT_TRUE(parser.get_variable("X", v));
  EXPECT_EQ(v, 1);

  // PI can be set but reading it yields the constant.
  parser.set_variable("PI", 3);
  EXPECT_EQ(parser.evaluate("Pi"), "Ans = 3.14159");
  ASSERT_TRUE(parser.get_variable("pi", v));
  EXPECT_EQ(v, 3);

  // The shared list outlives the parser and sees its assignments; clearing
  // empties it.
  {
    ExpressionParser second(&list);
    EXPECT_EQ(second.evaluate("a + x"), "Ans = 3");
  }
  ASSERT_TRUE(list.get_variable("ANS", v));
  EXPECT_EQ(v, 3);
  parser.clear_variables();
  EXPECT_FALSE(list.get_variable("a", v));
  EXPECT_EQ(v, 3);  // untouched on failure
  EXPECT_EQ(parser.evaluate("a"), "Error: Unknown variable a (col 1)");
}

TEST(ParserVariables, ReplacesByCaseInsensitiveNameKeepingOrder) {
  ParserVariables list;
  list.set_variable("Rate", 1);
  list.set_variable("other", 2);
  list.set_variable("RATE", 5);
  EXPECT_EQ(list.size(), 2u);
  double v = 0;
  ASSERT_TRUE(list.get_variable("rate", v));
  EXPECT_EQ(v, 5);
  // Names are kept and compared by their first 30 characters.
  const std::string long_name(30, 'n');
  list.set_variable(long_name + "first", 7);
  ASSERT_TRUE(list.get_variable(long_name + "SECOND", v));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(list.size(), 3u);
  // Bytes beyond ASCII are kept as they are and still match themselves.
  list.set_variable("z\xe9", 9);
  ASSERT_TRUE(list.get_variable("Z\xe9", v));
  EXPECT_EQ(v, 9);
}

// The silting-up protocol on 4 threads: per row a list and an evaluator of
// its own, per cell inputs set, statements evaluated, results read, list
// cleared. Every cell must get what its own inputs give by hand, X = 2A + B
// and Y = X^2 - A, whatever thread ran its row.
TEST(ExpressionParser, ParsersPerRowOnFourThreads) {
  constexpr int ROWS = 64, COLS = 50;
  std::vector<double> x(ROWS * COLS, -1), y(ROWS * COLS, -1);
  std::vector<int> errors(ROWS, 0);
#pragma omp parallel for schedule(dynamic) num_threads(4)
  for (int r = 0; r < ROWS; ++r) {
    ParserVariables variables;
    ExpressionParser parser(&variables);
    for (int c = 0; c < COLS; ++c) {
      parser.set_variable("A", r);
      parser.set_variable("b", c * 0.5);
      for (const char* statement : {"X = 2*a + B", "Y = X^2 - A"})
        if (parser.evaluate(statement).find("Error") != std::string::npos) ++errors[r];
      parser.get_variable("x", x[r * COLS + c]);
      parser.get_variable("Y", y[r * COLS + c]);
      parser.clear_variables();
      // A cleared list knows no inputs: nothing leaks into the next cell.
      if (parser.evaluate("A").find("Unknown variable") == std::string::npos) ++errors[r];
    }
  }
  for (int r = 0; r < ROWS; ++r) {
    EXPECT_EQ(errors[r], 0) << "row " << r;
    for (int c = 0; c < COLS; ++c) {
      const double expected_x = 2.0 * r + 0.5 * c;
      ASSERT_EQ(x[r * COLS + c], expected_x) << r << " " << c;
      ASSERT_EQ(y[r * COLS + c], expected_x * expected_x - r) << r << " " << c;
    }
  }
}

}  // namespace
