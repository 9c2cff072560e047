// ExpressionParser: evaluates one arithmetic expression given as text, by
// recursive descent that computes while it parses: numbers, named variables,
// the constants EULER and PI, twelve functions and FACTORIAL, arithmetic,
// comparison and 32-bit integer bit operators, and an assignment of the whole
// value at the very start. The result is a text, "Ans = %g" or
// "Error: %s (col %i)"; errors never leave an evaluation.
//
// Results this evaluator chooses where the arithmetic itself has none:
// - (int) is truncation towards zero, saturated to the 32-bit range; a NaN
//   gives 0. So 1e12 & 1 is 2147483647 & 1 = 1, never undefined behaviour.
// - "%" by an operand whose integer part is 0 gives NaN (as fmod does); the
//   one overflowing quotient, -2147483648 % -1, gives 0.
// - Shifts take the low five bits of the count and work on the 32-bit
//   pattern (so 1 << 31 is -2147483648 and 1 << 33 is 2).
// - n! for n above 170 is inf at once (it overflows a double anyway).
// - Limits: an expression of more than 255 characters is error 200 (column
//   256, the first character beyond the limit); a token longer than 31
//   characters is error 201 ("Too long token, maximum number of characters
//   exceeded"); variable names are kept and compared by their first 30
//   characters; messages are cut so that the result text stays within 254
//   characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The variables of one user and thread, in order of first definition.
// Names match when equal after upper-casing, on their first 30 characters.
class ParserVariables {
 public:
  static constexpr std::size_t NAME_LENGTH = 30;  // characters kept of a name

  bool set_variable(std::string_view name, double value);
  bool get_variable(std::string_view name, double& value) const;
  void clear() { records.clear(); }
  std::size_t size() const { return records.size(); }

 private:
  struct record {
    std::string name;  // as last written
    std::string key;   // upper-cased, for the comparison
    uint64_t prefix;   // the key's first eight characters, packed
    double value;
  };
  int find(std::string_view name) const;
  static uint64_t key_prefix(std::string_view kept);
  std::vector<record> records;
};

class ExpressionParser {
 public:
  static constexpr std::size_t MAX_EXPRESSION = 255;  // characters
  static constexpr std::size_t MAX_TOKEN = 31;        // characters
  static constexpr std::size_t MAX_RESULT = 254;      // characters

  // The exception raised inside an evaluation; evaluate turns it into text.
  struct Error {
    int column;  // 1-based column of the current token, -1 for none
    int code;
    std::string message;
  };

  // Uses the given list (shared, outlives the parser) or, without one, a
  // list of its own.
  explicit ExpressionParser(ParserVariables* variables = nullptr);
  // A copy would point at the original's own list (and its token at the
  // original's text): one parser per user and thread, never copied.
  ExpressionParser(const ExpressionParser&) = delete;
  ExpressionParser& operator=(const ExpressionParser&) = delete;

  // Evaluates text; the result text stays valid until the next evaluation.
  const std::string& evaluate(std::string_view text);

  bool set_variable(std::string_view name, double value) { return vars->set_variable(name, value); }
  bool get_variable(std::string_view name, double& value) const {
    return vars->get_variable(name, value);
  }
  void clear_variables() { vars->clear(); }

 private:
  enum token_kind { NONE = -1, DELIMITER = 0, NUMBER = 1, VARIABLE = 2, FUNCTION = 3, OTHER = 4 };

  void next_token();
  double parse_level1();
  double parse_level2();
  double parse_level3();
  double parse_level4();
  double parse_level5();
  double parse_level6();
  double parse_level7();
  double parse_level8();
  double eval_variable(std::string_view name) const;
  double eval_function(std::string_view name, double value) const;
  [[noreturn]] void fail(int code, std::string_view appended = {}) const;
  [[noreturn]] void fail_at(int code, int column, std::string_view appended = {}) const;
  int token_column() const;
  template <std::size_t N>
  bool token_is(const char (&text)[N]) const {
    return kind == DELIMITER && token == std::string_view(text, N - 1);
  }

  ParserVariables own_variables;
  ParserVariables* vars;
  std::string_view expression;  // the text being evaluated
  std::size_t cursor = 0;       // next character to read
  std::string_view token;       // the current token, a part of expression
  std::size_t token_start = 0;
  token_kind kind = NONE;
  double answer = 0;
  std::string result;
};
