#include "modelbase/textutil.h"

void prefix_directory(const std::string& directory, std::string& name) {
  if (directory.empty()) return;
  if (!name.empty() && (name[0] == '/' || name[0] == '~')) return;
  name.insert(0, directory);
}

namespace {

bool is_delimiter(const std::string& delimiters, char c) {
  return delimiters.find(c) != std::string::npos;
}

// End (one past the closing quote) of a quoted token starting at start, or npos.
size_t closing_quote_end(const std::string& text, size_t start) {
  for (size_t i = start + 1; i < text.size(); ++i) {
    if (text[i] != '"') continue;
    const bool escaped = i >= 1 && text[i - 1] == '\\' && !(i >= 2 && text[i - 2] == '\\');
    if (!escaped) return i + 1;
  }
  return std::string::npos;
}

}  // namespace

int split_string(const std::string& text, const std::string& delimiters,
                 std::vector<std::string>& list, int keep_trailing_empty) {
  size_t start = text.find_first_not_of(delimiters);
  if (start == std::string::npos) {
    if (!keep_trailing_empty) return static_cast<int>(list.size());
    start = text.find_first_of(delimiters);
  }
  const bool quotes_split = !is_delimiter(delimiters, '"');
  while (start != std::string::npos && start < text.size()) {
    size_t end;
    if (quotes_split && text[start] == '"')
      end = closing_quote_end(text, start);
    else
      end = text.find_first_of(delimiters, start);
    if (end == std::string::npos) {
      list.push_back(text.substr(start));
      break;
    }
    list.push_back(text.substr(start, end - start));
    start = text.find_first_not_of(delimiters, end + 1);
  }
  if (keep_trailing_empty && (text.empty() || is_delimiter(delimiters, text.back())))
    list.emplace_back();
  return static_cast<int>(list.size());
}

int string_position(const std::string& text, const std::string& pattern) {
  const size_t hit = text.find(pattern);
  return hit == std::string::npos ? 0 : static_cast<int>(hit);
}

std::string& string_cut(std::string& text, int start, int n) {
  if (start < 0 || n < 0) return text;
  const size_t from = static_cast<size_t>(start);
  if (from >= text.size()) {
    text.clear();
    return text;
  }
  text = text.substr(from, static_cast<size_t>(n) + 1);
  return text;
}

bool read_text_line(std::FILE* file, std::string& line) {
  line.clear();
  int c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
    c = std::fgetc(file);
  }
  return true;
}
