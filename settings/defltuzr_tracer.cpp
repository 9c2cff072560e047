// Reading "[substance_transport]": a count line, then one line per tracer
// that begins with its name and holds its key words and "key = value" items
// in any order.
#include "settings/defltuzr_tracer.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "modelbase/diagstream.h"

namespace {

constexpr int TRACER_LINE_ERROR = 56;
constexpr int TOO_MANY_TRACERS = 58;
constexpr int SAME_TRACER_NAME = 59;
constexpr size_t TRACER_NAME_LENGTH = 3;

// The whole next line of the file, without its line end; empty at the end
// of the file.
std::string read_whole_line(std::FILE* file) {
  std::string line;
  int c = std::fgetc(file);
  while (c != EOF && c != '\n') {
    line.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  return line;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

size_t skip_space(std::string_view text, size_t at) {
  while (at < text.size() && is_space(text[at])) ++at;
  return at;
}

// The next word at or after at (white space skipped); empty when none.
std::string_view next_word(std::string_view text, size_t& at) {
  at = skip_space(text, at);
  const size_t start = at;
  while (at < text.size() && !is_space(text[at])) ++at;
  return text.substr(start, at - start);
}

// A number as "%lf" reads it, starting at at (white space skipped).
bool read_number(const std::string& text, size_t& at, double& value) {
  const char* begin = text.c_str() + at;
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin) return false;
  value = v;
  at += static_cast<size_t>(end - begin);
  return true;
}

// An integer as "%d" reads it.
bool read_int(const std::string& text, size_t at, int& value) {
  const char* begin = text.c_str() + at;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

// The first three characters of the line's first word, "_"-padded, with the
// letters A to Z lowered.
std::string tracer_name(std::string_view line) {
  size_t at = 0;
  std::string name(next_word(line, at).substr(0, TRACER_NAME_LENGTH));
  name.resize(TRACER_NAME_LENGTH, '_');
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

// The words that begin an item of a tracer line. A word after the max_conc
// value that begins like one of them is the next item, not a unit.
bool begins_an_item(std::string_view word) {
  static constexpr std::string_view item_words[] = {
      "radioactive", "non_radioactive", "evaporating", "non_evaporating", "half_time", "min_conc",
      "max_conc",    "soilini",         "gwini",       "statcode",        "gridcode",  "path",
      "statext",     "gridext"};
  for (std::string_view item : item_words)
    if (word.starts_with(item)) return true;
  return false;
}

// The reading of one tracer line; every failure is code 56.
class tracer_line {
 public:
  tracer_line(DiagStream& diag_stream, const std::string& text, int index, int count)
      : diag(diag_stream), line(text), i(index), tracer_count(count) {}

  bool contains(const char* word) const { return line.find(word) != std::string::npos; }

  // The position just after the first "=" that follows key; the entries
  // name the key as the messages of min_conc do.
  size_t value_after_key(const std::string& key) const {
    const size_t key_at = line.find(key);
    if (key_at == std::string::npos)
      fail("error reading parameters for tracer ", i, ":\nneed a key word \"", key, " = xxxx\"");
    const size_t equals = line.find('=', key_at);
    if (equals == std::string::npos)
      fail("error reading ", key, " for tracer ", i, ": no \"", key, " =\" found!");
    return equals + 1;
  }

  void require_key_word(const char* word, const char* negated, const char* tail) const {
    if (!contains(word))
      fail("error reading parameters for tracer ", i, ":\n need a key word \"", word, "\" or \"",
           negated, "\"\n(may be, the number of tracers (", tracer_count, ") is wrong?", tail);
  }

  double half_time() const {
    const size_t key_at = line.find("half_time");
    if (key_at == std::string::npos)
      fail("error in tracer_info_table tracer ", i, ": need a \"", "half_time",
           " = xxxx d\" sequence!");
    const size_t equals = line.find('=', key_at);
    if (equals == std::string::npos)
      fail("error reading ", "half_time", " for tracer ", i, ": no \"", "half_time", " =\" found!");
    size_t at = equals + 1;
    double value = 0;
    const bool number = read_number(line, at, value);
    const std::string_view unit = next_word(line, at);
    if (!number || unit.empty()) fail("error reading ", "half_time", " for tracer ", i);
    if (unit != "d")
      fail("error reading ", "half_time", " for tracer ", i, ": no \"d\" for measure found!");
    if (!(value > 0))
      fail("error in ", "half_time", " for tracer ", i, ": must be greater than 0!");
    return value;
  }

  double min_conc() const {
    size_t at = value_after_key("min_conc");
    double value = 0;
    if (!read_number(line, at, value)) fail("error reading ", "min_conc", " for tracer ", i);
    return value;
  }

  // A value without a unit counts as kg/kg; the unit is only tested.
  double max_conc() const {
    size_t at = value_after_key("max_conc");
    double value = 0;
    if (!read_number(line, at, value)) fail("error reading max_conc for tracer ", i);
    std::string_view unit = next_word(line, at);
    if (unit.empty() || begins_an_item(unit)) unit = "kg/kg";
    if (unit != "mg/l" && unit != "g/l" && unit != "kg/kg" && unit != "Kg/Kg")
      fail("error reading max_conc for tracer ", i,
           ":\nwrong measure (only mg/l, g/l or kg/kg resp. no measure are allowed!)\nread here: ",
           std::string(unit));
    return value;
  }

  // soilini and gwini.
  double initial_concentration(const std::string& key) const {
    size_t at = value_after_key(key);
    double value = 0;
    if (!read_number(line, at, value)) fail("error reading ", key, " for tracer ", i, "!");
    return value;
  }

  // statcode and gridcode: the integer after "key =".
  int code_item(const std::string& key) const {
    const size_t at = item_text(key);
    int value = 0;
    if (!read_int(line, at, value)) fail("error reading ", key, " for tracer ", i, "!");
    return value;
  }

  // path, statext and gridext: the word after "key =".
  std::string word_item(const std::string& key) const {
    size_t at = item_text(key);
    const std::string_view word = next_word(line, at);
    if (word.empty()) fail("error reading ", key, " for tracer ", i, "!");
    return std::string(word);
  }

 private:
  // The position after the text "key =" (one blank before the equals sign).
  size_t item_text(const std::string& key) const {
    const std::string text = key + " =";
    const size_t at = line.find(text);
    if (at == std::string::npos)
      fail("error reading ", key, " for tracer ", i, ":\nneed a key word \"", key, " = xxxx\"");
    return at + text.size();
  }

  template <class... Pieces>
  [[noreturn]] void fail(const Pieces&... pieces) const {
    fail_fatal(diag, TRACER_LINE_ERROR, pieces...);
  }

  DiagStream& diag;
  const std::string& line;
  int i;
  int tracer_count;
};

}  // namespace

tracer_ini_class::tracer_ini_class(int& status, DiagStream* diag_stream,
                                   const settings_context& run_settings, int& tracer_count_out,
                                   tracer_entry*& tracer_list_out)
    : modelobject(diag_stream, run_settings.control_file, run_settings) {
  status = 0;
  name = "tracer_ini";
  try {
    read_section();
    tracer_count_out = tracer_count;
    tracer_list_out = tracer_count > 0 ? tracers.data() : nullptr;
  } catch (int code) {
    status = code;
  } catch (...) {
    status = 103;
  }
}

void tracer_ini_class::read_section() {
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  seek_section("[substance_transport]", true);
  std::FILE* file = control_file();
  read_value(file, "%i", tracer_count, " number of tracers in ", section_buffer);
  if (tracer_count > MAX_TRACERS)
    fail_fatal(*diag, TOO_MANY_TRACERS,
               "not more than 9 tracer species are allowed at one time (they need a very lot of "
               "memory!)");
  if (tracer_count > 0) {
    tracers.assign(static_cast<size_t>(tracer_count) + 1, tracer_entry());
    for (int i = 1; i <= tracer_count; ++i) {
      diag_entry(*diag, "reading parameters for tracer ", i, " ...");
      read_tracer(i, read_whole_line(file));
      diag_entry(*diag, "done.");
    }
  }
  if (std::fclose(control.release()) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path, errno_text(errno));
}

void tracer_ini_class::read_tracer(int i, const std::string& line) {
  tracer_entry& t = tracers[static_cast<size_t>(i)];
  t.name = tracer_name(line);
  for (int k = 1; k < i; ++k) {
    const std::string& other = tracers[static_cast<size_t>(k)].name;
    if (other == t.name)
      fail_fatal(*diag, SAME_TRACER_NAME,
                 "\n----------- ERROR in substance_transport ---------\n\nsubstance #", i,
                 " and substance #", k, " have the same\nfirst 3 chars (lowercase) in its name (",
                 t.name, " <-> ", other,
                 ")\n\n--------------------------------------------------\n");
  }

  const tracer_line items(*diag, line, i, tracer_count);
  items.require_key_word("radioactive", "non_radioactive", "\n");
  if (items.contains("non_radioactive")) {
    t.radioactive = 0;
    t.half_time = -9999;
  } else {
    t.radioactive = 1;
    t.half_time = items.half_time();
  }
  items.require_key_word("evaporating", "non_evaporating", "");
  t.evaporating = items.contains("non_evaporating") ? 0 : 1;
  t.min_conc = items.min_conc();
  t.max_conc = items.max_conc();
  t.soilini = items.initial_concentration("soilini");
  t.gwini = items.initial_concentration("gwini");
  t.statcode = items.code_item("statcode");
  t.gridcode = items.code_item("gridcode");
  t.path = items.word_item("path");
  t.statext = items.word_item("statext");
  t.gridext = items.word_item("gridext");
  t.decay_factor = 0;
}

void tracer_ini_class::release() {
  tracers.clear();
  tracer_count = 0;
  modelobject::release();
}
