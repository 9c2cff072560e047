// The substituted control-file copy. A control file may define symbols
// ("$set $name = value") and use them anywhere; process 0 collects every
// definition in a first pass (so a symbol may be used above its definition),
// then writes each line with its symbols replaced, its comment cut and its
// "//" joins made into "<control file>.$$$", which every object then reads.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/textutil.h"
#include "settings/defltuzr.h"

namespace {

// Substitutions of one line beyond which the symbols must refer to each
// other; a line of the control file never needs that many.
constexpr int SUBSTITUTION_LIMIT = 100000;

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

void fail_unresolved(DiagStream& diag, const char* what, unsigned line_number,
                     const std::string& line) {
  fail_fatal(diag, 17, "\n-----------------------------------------------------------",
             "\npossible error in control file!\n", what, " at line ", line_number, ":\n", line,
             "\n\n-----------------------------------------------------------\n");
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
      fail_unresolved(*diag, "symbols that refer to themselves", line_number, line);

    const std::string& symbol = symbols.names[static_cast<size_t>(match)];
    const size_t at = line.find(symbol);
    line.replace(at, symbol.size(), symbols.values[static_cast<size_t>(match)]);
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
  if (!in) fail_fatal(*diag, 28, "error opening ", given);

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

  if (std::fseek(in.get(), 0, SEEK_SET) != 0) fail_fatal(*diag, 28, "error rewinding ", given);
  std::clearerr(in.get());
  file_handle out(std::fopen(copy.c_str(), "w"));
  if (!out) fail_fatal(*diag, 28, "error opening ", copy);

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

  if (std::fclose(in.release()) != 0) fail_fatal(*diag, 11, "error closing ", given);
  const bool write_failed = std::ferror(out.get()) != 0;
  if (std::fclose(out.release()) != 0 || write_failed) fail_fatal(*diag, 11, "error closing ", copy);
  free_symbol_buffers(symbols);
}
