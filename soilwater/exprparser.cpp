#include "soilwater/exprparser.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

constexpr double EULER = 2.718281828459045;
constexpr double PI = 3.141592653589793;
constexpr double LARGEST_FINITE_FACTORIAL = 170;  // 171! overflows a double

// Letters and case are those of the "C" locale, the one the program runs
// in: ASCII letters only, other bytes stay as they are.
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upper_key(std::string_view name) {
  std::string key(name.substr(0, ParserVariables::NAME_LENGTH));
  for (char& c : key) c = upper(c);
  return key;
}

bool equals_upper(std::string_view name, std::string_view upper_word) {
  if (name.size() != upper_word.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (upper(name[i]) != upper_word[i]) return false;
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_operator_char(char c) {
  switch (c) {
    case '&':
    case '|':
    case '<':
    case '>':
    case '=':
    case '+':
    case '/':
    case '*':
    case '%':
    case '^':
    case '!':
      return true;
    default:
      return false;
  }
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The longest leading part of a number token that reads as a decimal
// floating-point number (0 when none does); out of range as strtod rounds
// it (inf or 0).
double number_value(std::string_view token) {
  double value = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error == std::errc::result_out_of_range) {
    const std::string text(token.substr(0, static_cast<std::size_t>(end - token.data())));
    return std::strtod(text.c_str(), nullptr);
  }
  return error == std::errc() ? value : 0;
}

// Truncation towards zero, saturated to 32 bits; NaN gives 0.
int32_t to_int32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

double remainder_of(double a, double b) {
  const int32_t x = to_int32(a), y = to_int32(b);
  if (y == 0) return std::numeric_limits<double>::quiet_NaN();
  if (y == -1) return 0;  // also the quotient INT32_MIN / -1 that overflows
  return x % y;
}

double shift_left(double a, double b) {
  const uint32_t bits = static_cast<uint32_t>(to_int32(a));
  return static_cast<int32_t>(bits << (static_cast<uint32_t>(to_int32(b)) & 31u));
}

double shift_right(double a, double b) {
  return to_int32(a) >> (static_cast<uint32_t>(to_int32(b)) & 31u);  // arithmetic in C++20
}

// n! for an integral n; negative n and 1 give n, 0 gives 1.
double factorial_of(double n) {
  if (n > LARGEST_FINITE_FACTORIAL) return std::numeric_limits<double>::infinity();
  if (n < 0) return n;
  if (n == 0) return 1;
  double r = n;
  for (double k = n - 1; k >= 2; k -= 1) r *= k;
  return r;
}

std::string_view error_text(int code) {
  switch (code) {
    case 1:
      return "Syntax error in part: ";
    case 2:
      return "Syntax error";
    case 3:
      return "Parentesis ) missing";
    case 4:
      return "Empty expression";
    case 5:
      return "Unexpected part: ";
    case 6:
      return "Unexpected end of expression";
    case 7:
      return "Value expected";
    case 101:
      return "Unknown operator ";
    case 102:
      return "Unknown function ";
    case 103:
      return "Unknown variable ";
    case 200:
      return "Too long expression, maximum number of characters exceeded";
    case 201:
      return "Too long token, maximum number of characters exceeded";
    case 300:
      return "Defining variable failed";
    case 400:
      return "Integer value expected in function ";
    default:
      return "Unknown error";
  }
}

}  // namespace

uint64_t ParserVariables::key_prefix(std::string_view kept) {
  uint64_t prefix = 0;
  const std::size_t n = kept.size() < 8 ? kept.size() : 8;
  for (std::size_t i = 0; i < n; ++i)
    prefix |= static_cast<uint64_t>(static_cast<unsigned char>(upper(kept[i]))) << (8 * i);
  return prefix;
}

int ParserVariables::find(std::string_view name) const {
  const std::string_view kept = name.substr(0, NAME_LENGTH);
  // The first eight upper-cased characters and the length decide most
  // comparisons at once; only longer names compare the rest.
  const uint64_t prefix = key_prefix(kept);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const record& r = records[i];
    if (r.prefix == prefix && r.key.size() == kept.size() &&
        (kept.size() <= 8 || equals_upper(kept, r.key)))
      return static_cast<int>(i);
  }
  return -1;
}

bool ParserVariables::set_variable(std::string_view name, double value) {
  const std::string_view kept = name.substr(0, NAME_LENGTH);
  const int i = find(name);
  if (i < 0) {
    records.push_back({std::string(kept), upper_key(name), key_prefix(kept), value});
  } else {
    records[i].name.assign(kept);
    records[i].value = value;
  }
  return true;
}

bool ParserVariables::get_variable(std::string_view name, double& value) const {
  const int i = find(name);
  if (i < 0) return false;
  value = records[i].value;
  return true;
}

ExpressionParser::ExpressionParser(ParserVariables* variables)
    : vars(variables != nullptr ? variables : &own_variables) {}

int ExpressionParser::token_column() const {
  if (kind == NONE) return -1;
  return static_cast<int>(token_start) + 1;
}

void ExpressionParser::fail(int code, std::string_view appended) const {
  fail_at(code, token_column(), appended);
}

void ExpressionParser::fail_at(int code, int column, std::string_view appended) const {
  std::string message(error_text(code));
  message.append(appended);
  throw Error{column, code, std::move(message)};
}

void ExpressionParser::next_token() {
  kind = NONE;
  token = {};
  while (cursor < expression.size() && is_blank(expression[cursor])) ++cursor;
  token_start = cursor;
  const auto at = [&](std::size_t i) { return i < expression.size() ? expression[i] : '\0'; };
  const char c = at(cursor);
  if (c == '\0') {
    kind = DELIMITER;
  } else if (c == '-' || c == '(' || c == ')') {
    kind = DELIMITER;
    ++cursor;
  } else if (is_operator_char(c)) {
    kind = DELIMITER;
    while (is_operator_char(at(cursor))) ++cursor;
  } else if (is_digit(c) || c == '.') {
    kind = NUMBER;
    while (is_digit(at(cursor)) || at(cursor) == '.') ++cursor;
    if (upper(at(cursor)) == 'E') {
      ++cursor;
      if (at(cursor) == '+' || at(cursor) == '-') ++cursor;
      while (is_digit(at(cursor))) ++cursor;
    }
  } else if (is_letter(c) || c == '_') {
    while (is_letter(at(cursor)) || is_digit(at(cursor)) || at(cursor) == '_') ++cursor;
    std::size_t look = cursor;
    while (is_blank(at(look))) ++look;
    kind = at(look) == '(' ? FUNCTION : VARIABLE;
  } else {
    kind = OTHER;
    cursor = expression.size();
    token = expression.substr(token_start);
    fail(1, token);
  }
  token = expression.substr(token_start, cursor - token_start);
  if (token.size() > MAX_TOKEN) fail(201);
}

const std::string& ExpressionParser::evaluate(std::string_view text) {
  try {
    expression = {};
    cursor = 0;
    token = {};
    kind = NONE;
    if (text.size() > MAX_EXPRESSION) fail_at(200, static_cast<int>(MAX_EXPRESSION) + 1);
    expression = text;
    answer = 0;
    next_token();
    if (kind == DELIMITER && token.empty()) fail(4);
    const double value = parse_level1();
    if (kind != DELIMITER) fail(5, token);
    if (!token.empty()) fail(101, token);
    answer = value;
    vars->set_variable("Ans", value);
    // "%g": six significant digits in the shorter of the fixed and the
    // exponent forms, as printf writes them.
    char digits[64];
    const auto written =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    result.assign("Ans = ");
    result.append(digits, written.ptr);
  } catch (const Error& e) {
    const std::string tail = " (col " + std::to_string(e.column) + ")";
    std::string message = e.message;
    const std::size_t room = MAX_RESULT - (7 + tail.size());  // 7: "Error: "
    if (message.size() > room) message.resize(room);
    result = "Error: " + message + tail;
  }
  return result;
}

// Assignment, only at the very start.
double ExpressionParser::parse_level1() {
  if (kind == VARIABLE) {
    const std::string_view name = token;
    const std::size_t saved_cursor = cursor, saved_start = token_start;
    next_token();
    if (token_is("=")) {
      next_token();
      const double value = parse_level2();
      vars->set_variable(name, value);
      return value;
    }
    cursor = saved_cursor;
    token_start = saved_start;
    token = name;
    kind = VARIABLE;
  }
  return parse_level2();
}

// Bit operators.
double ExpressionParser::parse_level2() {
  double a = parse_level3();
  for (;;) {
    if (token_is("&")) {
      next_token();
      a = to_int32(a) & to_int32(parse_level3());
    } else if (token_is("|")) {
      next_token();
      a = to_int32(a) | to_int32(parse_level3());
    } else if (token_is("<<")) {
      next_token();
      a = shift_left(a, parse_level3());
    } else if (token_is(">>")) {
      next_token();
      a = shift_right(a, parse_level3());
    } else {
      return a;
    }
  }
}

// Comparisons.
double ExpressionParser::parse_level3() {
  double a = parse_level4();
  for (;;) {
    if (kind != DELIMITER) return a;
    const std::string_view op = token;
    if (op != "=" && op != "<>" && op != "<" && op != ">" && op != "<=" && op != ">=") return a;
    next_token();
    const double b = parse_level4();
    if (op == "=")
      a = a == b;
    else if (op == "<>")
      a = !(a == b);
    else if (op == "<")
      a = a < b;
    else if (op == ">")
      a = a > b;
    else if (op == "<=")
      a = a <= b;
    else
      a = a >= b;
  }
}

double ExpressionParser::parse_level4() {
  double a = parse_level5();
  for (;;) {
    if (token_is("+")) {
      next_token();
      a += parse_level5();
    } else if (token_is("-")) {
      next_token();
      a -= parse_level5();
    } else {
      return a;
    }
  }
}

double ExpressionParser::parse_level5() {
  double a = parse_level6();
  for (;;) {
    if (token_is("*")) {
      next_token();
      a *= parse_level6();
    } else if (token_is("/")) {
      next_token();
      a /= parse_level6();
    } else if (token_is("%")) {
      next_token();
      a = remainder_of(a, parse_level6());
    } else if (token_is("||")) {
      next_token();
      a = to_int32(a) ^ to_int32(parse_level6());
    } else {
      return a;
    }
  }
}

double ExpressionParser::parse_level6() {
  double a = parse_level7();
  while (token_is("^")) {
    next_token();
    a = std::pow(a, parse_level7());
  }
  return a;
}

// One prefix "-", a function call, then postfix "!" (a run such as "!!"
// is one token and applies the factorial once per "!").
double ExpressionParser::parse_level7() {
  bool negate = false;
  if (token_is("-")) {
    negate = true;
    next_token();
  }
  double a;
  if (kind == FUNCTION) {
    const std::string_view name = token;
    next_token();
    a = eval_function(name, parse_level8());
  } else {
    a = parse_level8();
  }
  if (negate) a = -a;
  while (kind == DELIMITER && !token.empty() &&
         token.find_first_not_of('!') == std::string_view::npos) {
    for (std::size_t i = 0; i < token.size(); ++i) {
      if (a != std::trunc(a)) fail_at(400, -1, "factorial");
      a = factorial_of(a);
    }
    next_token();
  }
  return a;
}

double ExpressionParser::parse_level8() {
  if (token_is("(")) {
    next_token();
    const double a = parse_level2();
    if (!token_is(")")) fail(3);
    next_token();
    return a;
  }
  if (kind == NUMBER) {
    const double a = number_value(token);
    next_token();
    return a;
  }
  if (kind == VARIABLE) {
    const double a = eval_variable(token);
    next_token();
    return a;
  }
  if (token.empty()) fail(6);
  fail(7);
}

double ExpressionParser::eval_variable(std::string_view name) const {
  if (equals_upper(name, "EULER")) return EULER;
  if (equals_upper(name, "PI")) return PI;
  double value = 0;
  if (!vars->get_variable(name, value)) fail(103, name);
  return value;
}

double ExpressionParser::eval_function(std::string_view name, double v) const {
  if (equals_upper(name, "ABS")) return std::fabs(v);
  if (equals_upper(name, "EXP")) return std::exp(v);
  if (equals_upper(name, "SIGN")) return v > 0 ? 1 : (v < 0 ? -1 : 0);
  if (equals_upper(name, "SQRT")) return std::sqrt(v);
  if (equals_upper(name, "LOG")) return std::log(v);
  if (equals_upper(name, "LOG10")) return std::log10(v);
  if (equals_upper(name, "SIN")) return std::sin(v);
  if (equals_upper(name, "COS")) return std::cos(v);
  if (equals_upper(name, "TAN")) return std::tan(v);
  if (equals_upper(name, "ASIN")) return std::asin(v);
  if (equals_upper(name, "ACOS")) return std::acos(v);
  if (equals_upper(name, "ATAN")) return std::atan(v);
  if (equals_upper(name, "FACTORIAL")) {
    if (v != std::trunc(v)) fail(400, "factorial");
    return factorial_of(v);
  }
  fail(102, name);
}
