#include "tables/table_text.h"

#include "modelbase/textutil.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace table_text {

bool read_line(std::FILE* file, std::string& line) { return read_text_line(file, line); }

bool complete_block(std::FILE* file, std::string& text) {
  std::string line;
  while (text.find('}') == std::string::npos) {
    if (!read_line(file, line)) return false;
    text += line;
  }
  return true;
}

count_result read_class_count(std::FILE* file, int& count, std::string& word) {
  word.clear();
  int c = std::fgetc(file);
  while (c != EOF && std::isspace(c)) c = std::fgetc(file);
  while (c != EOF && !std::isspace(c)) {
    word.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  std::string rest;
  read_line(file, rest);
  if (word.empty()) {
    word = "(end of file)";
    return count_result::not_a_number;
  }
  if (!parse_int(word, count)) return count_result::not_a_number;
  return count < 0 ? count_result::negative : count_result::ok;
}

namespace {

bool is_key_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '*' || c == '-';
}

// Position of the "=" that belongs to the whole-key occurrence at pos, or npos.
size_t equals_after_key(const std::string& text, const std::string& key, size_t pos) {
  if (pos > 0 && is_key_char(text[pos - 1])) return std::string::npos;
  size_t i = pos + key.size();
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && text[i] == '=') return i;
  return std::string::npos;
}

}  // namespace

key_status find_value(const std::string& text, const std::string& key, occurrence which,
                      std::string& value) {
  value.clear();
  size_t equals = std::string::npos;
  for (size_t pos = text.find(key); pos != std::string::npos; pos = text.find(key, pos + 1)) {
    const size_t e = equals_after_key(text, key, pos);
    if (e == std::string::npos) continue;
    equals = e;
    if (which == occurrence::first) break;
  }
  if (equals == std::string::npos) return key_status::absent;
  const size_t semicolon = text.find(';', equals + 1);
  if (semicolon == std::string::npos) return key_status::unterminated;
  value = text.substr(equals + 1, semicolon - equals - 1);
  return key_status::value;
}

int count_items(const std::string& value) {
  int n = 0;
  bool in_item = false;
  for (char c : value) {
    const bool separator = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';' || c == ',';
    if (!separator && !in_item) ++n;
    in_item = !separator;
  }
  return n;
}

namespace {

// Converts the number at *cursor and moves the cursor behind it.
bool next_long(const char*& cursor, long& target) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(cursor, &end, 10);
  if (end == cursor || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  cursor = end;
  target = v;
  return true;
}

bool next_double(const char*& cursor, double& target) {
  char* end = nullptr;
  const double v = std::strtod(cursor, &end);
  if (end == cursor) return false;
  cursor = end;
  target = v;
  return true;
}

// A list item must be followed by white space or the end of the list, so
// that "1,2" is refused instead of being read as 1.
bool at_item_end(const char* cursor) {
  return *cursor == '\0' || std::isspace(static_cast<unsigned char>(*cursor)) != 0;
}

}  // namespace

bool parse_int(const std::string& value, int& target) {
  const char* cursor = value.c_str();
  long v = 0;
  if (!next_long(cursor, v)) return false;
  target = static_cast<int>(v);
  return true;
}

bool parse_double(const std::string& value, double& target) {
  const char* cursor = value.c_str();
  return next_double(cursor, target);
}

int parse_doubles(const std::string& value, int count, double* target) {
  const char* cursor = value.c_str();
  for (int i = 0; i < count; ++i) {
    double v = 0;
    if (!next_double(cursor, v) || !at_item_end(cursor)) return i;
    target[i] = v;
  }
  return count;
}

int parse_ints(const std::string& value, int count, int* target) {
  const char* cursor = value.c_str();
  for (int i = 0; i < count; ++i) {
    long v = 0;
    if (!next_long(cursor, v) || !at_item_end(cursor)) return i;
    target[i] = static_cast<int>(v);
  }
  return count;
}

bool parse_double_list(const std::string& value, std::vector<double>& values) {
  values.clear();
  const char* cursor = value.c_str();
  for (;;) {
    while (std::isspace(static_cast<unsigned char>(*cursor))) ++cursor;
    if (*cursor == '\0') return true;
    double v = 0;
    if (!next_double(cursor, v) || !at_item_end(cursor)) return false;
    values.push_back(v);
  }
}

bool parse_code_and_name(const std::string& text, int& code, std::string& name) {
  const char* cursor = text.c_str();
  long v = 0;
  if (!next_long(cursor, v)) return false;
  while (std::isspace(static_cast<unsigned char>(*cursor))) ++cursor;
  const char* start = cursor;
  while (*cursor != '\0' && std::isspace(static_cast<unsigned char>(*cursor)) == 0) ++cursor;
  if (cursor == start) return false;
  code = static_cast<int>(v);
  name.assign(start, cursor);
  return true;
}

bool contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

}  // namespace table_text
