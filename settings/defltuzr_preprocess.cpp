// The substituted control-file copy. A control file may define symbols
// ("$set $name = value") and use them anywhere; process 0 collects every
// definition in a first pass (so a symbol may be used above its definition),
// then writes each line with its symbols replaced, its comment cut and its
// "//" joins made into "<control file>.$$$", which every object then reads.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/textutil.h"
#include "settings/defltuzr.h"

namespace {

// A value holding "$set" is kept as written, so symbols can still use
// one another in a circle; that is caught where it happens. Symbols that
// merely nest deeply could still double a line at every level, so a line
// that needs more replacements, or grows longer, than any control file
// needs is given up on: the work per line stays bounded.
constexpr int SUBSTITUTION_LIMIT = 10000;          // replacements in one line
constexpr size_t SUBSTITUTED_LINE_LIMIT = 65536;  // [characters]

// A value put into the line at some position: the text it occupies now and
// the symbol it came from. Every later substitution lies at or behind the
// position of the one before, so the values still open there form a chain
// of nested values.
struct open_value {
  size_t end;  // one past the value's last character
  int symbol;
};

bool contains(const std::string& text, const char* pattern) {
  return text.find(pattern) != std::string::npos;
}

// Values that are numbers (or hold inf or nan) are not compared with the
// values of earlier symbols: equal numbers are no sign of a mistake.
bool is_numeric_value(const std::string& value) {
  for (const char* special : {"inf", "nan", "INF", "NAN", "Inf", "Nan"})
    if (contains(value, special)) return true;
  const char* begin = value.c_str();
  char* end = nullptr;
  std::strtod(begin, &end);
  return *end == '\0';
}

template <class... Text>
[[noreturn]] void fail_unresolved(DiagStream& diag, const char* what, unsigned line_number,
                                  const Text&... text) {
  fail_fatal(diag, 17, "\n-----------------------------------------------------------",
             "\npossible error in control file!\n", what, " at line ", line_number, ":\n",
             text..., "\n\n-----------------------------------------------------------\n");
}

}  // namespace

void defaultini::free_symbol_buffers(control_symbols& symbols) {
  symbols.names.assign(1, std::string());
  symbols.values.assign(1, std::string());
}

std::string& defaultini::substitute_symbols(std::string& line, unsigned line_number,
                                            const control_symbols& symbols, int count) {
  // A comment takes the character before its "#" with it.
  const size_t hash = line.find('#');
  if (hash != std::string::npos && hash > 0) {
    line[hash - 1] = '\n';
    line.resize(hash);
  }
  if (contains(line, "$set")) return line;

  const std::string given = line;
  std::vector<open_value> open_values;
  int substitutions = 0;
  for (size_t dollar = line.find('$'); dollar != std::string::npos; dollar = line.find('$')) {
    size_t word_end = dollar;
    while (word_end < line.size() && !std::isspace(static_cast<unsigned char>(line[word_end])))
      ++word_end;
    std::string word = line.substr(dollar, word_end - dollar);
    const size_t join = word.find("//");
    if (join != std::string::npos) word.resize(join);
    const size_t semicolon = word.find(';');
    if (semicolon != std::string::npos) word.resize(semicolon);

    int match = 0;
    for (int k = 1; k <= count && match == 0; ++k)
      if (symbols.names[static_cast<size_t>(k)] == word) match = k;
    if (match == 0) fail_unresolved(*diag, "undefined symbol", line_number, line);
    if (++substitutions > SUBSTITUTION_LIMIT)
      fail_unresolved(*diag, "more symbols than one line can take", line_number, given);

    // A symbol met again inside its own value would be replaced for ever: it
    // never resolves, so it is reported as undefined, by its name.
    std::erase_if(open_values, [dollar](const open_value& v) { return v.end <= dollar; });
    for (const open_value& v : open_values)
      if (v.symbol == match)
        fail_unresolved(*diag, "undefined symbol", line_number, word,
                        " is defined through itself in:\n", given);

    // The word begins at the first "$", so the first occurrence of the name
    // is the word itself.
    const std::string& value = symbols.values[static_cast<size_t>(match)];
    const size_t word_after = dollar + word.size();
    line.replace(dollar, word.size(), value);
    if (line.size() > std::max(given.size(), SUBSTITUTED_LINE_LIMIT))
      fail_unresolved(*diag, "more symbols than one line can take", line_number, given);
    // A word that began inside a value but ran on past its end was made from
    // that value too, so its own value counts as inside it.
    for (open_value& v : open_values)
      v.end = v.end >= word_after ? v.end - word.size() + value.size() : dollar + value.size();
    open_values.push_back({dollar + value.size(), match});
  }

  for (size_t join = line.find("//"); join != std::string::npos; join = line.find("//"))
    line.erase(join, 2);
  return line;
}

void defaultini::compile_symbols(const std::string& given, std::string& copy) {
  control_symbols symbols;
  diag_entry(*diag, "compiling symbols in control file ", given);
  copy = given + ".$$$";

  file_handle in(std::fopen(given.c_str(), "r"));
  if (!in) fail_fatal(*diag, 28, "error opening ", given, errno_text(errno));

  // First pass: the definitions, in file order. A value may use the symbols
  // defined above it (not itself: that would never end).
  std::string raw;
  unsigned line_number = 0;
  while (read_text_line(in.get(), raw)) {
    ++line_number;
    if (raw[0] == '#' || !contains(raw, "$set")) continue;
    std::istringstream words(" " + raw);
    std::string set_word, symbol, equals, value;
    words >> set_word >> symbol >> equals >> value;
    const int count = symbols.count();
    substitute_symbols(value, line_number, symbols, count);
    if (!is_numeric_value(value)) {
      for (int k = 1; k <= count; ++k) {
        if (symbols.values[static_cast<size_t>(k)] != value) continue;
        diag_entry(*diag, "INFO: \n------------------------ WARNING --------------------------",
                   "\npossible error in control file!\n", "content of symbol ",
                   symbols.names[static_cast<size_t>(k)], " is the same as symbol ", symbol,
                   ", \n (which is: ", value, ").\n", "this may lead to collusions!",
                   "\n-----------------------------------------------------------\n");
      }
    }
    symbols.names.push_back(symbol);
    symbols.values.push_back(value);
  }

  if (std::ferror(in.get()) != 0) fail_fatal(*diag, 19, "read error ", given, errno_text(errno));
  if (std::fseek(in.get(), 0, SEEK_SET) != 0)
    fail_fatal(*diag, 28, "error rewinding ", given, errno_text(errno));
  std::clearerr(in.get());
  file_handle out(std::fopen(copy.c_str(), "w"));
  if (!out) fail_fatal(*diag, 28, "error opening ", copy, errno_text(errno));

  // Second pass: every line with all symbols of the file; the definition
  // lines themselves stay out of the copy.
  line_number = 0;
  std::string line;
  while (read_text_line(in.get(), raw)) {
    ++line_number;
    line = " " + raw;
    substitute_symbols(line, line_number, symbols, symbols.count());
    if (line.size() > 1 && line[1] != '$') std::fputs(line.c_str() + 1, out.get());
  }

  if (std::ferror(in.get()) != 0) fail_fatal(*diag, 19, "read error ", given, errno_text(errno));
  if (std::fclose(in.release()) != 0)
    fail_fatal(*diag, 11, "error closing ", given, errno_text(errno));
  // A write that failed on the way (a full disk) is reported when the copy
  // is closed, with the reason of the first failure.
  const bool write_failed = std::ferror(out.get()) != 0;
  const int write_error = errno;
  if (std::fclose(out.release()) != 0 || write_failed)
    fail_fatal(*diag, 11, "error closing ", copy, errno_text(write_failed ? write_error : errno));
  free_symbol_buffers(symbols);
}
