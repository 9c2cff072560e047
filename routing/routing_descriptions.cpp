// Reading of the routing descriptions. Entries are read from the joined
// text: a code after its keyword, then each value as the first number after
// the next "=". The spans the entries take are remembered, so that a keyword
// standing inside another entry (in a file name or a label) or starting no
// entry is refused with the line that holds it.
#include "routing/routing_descriptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "routing/routing_reach.h"

const char* const DESCRIPTION_KEYWORDS[KW_COUNT] = {"OL", "&", "SUMTRIB", "ZL", "AL", "SP"};

namespace {

struct span {
  size_t begin = 0;  // the keyword
  size_t end = 0;    // one past the last character read
};

class description_reader {
 public:
  description_reader(const std::vector<std::string>& lines, int number)
      : lines_(lines), number_(number) {
    for (const std::string& line : lines) {
      starts_.push_back(text_.size());
      text_ += line;
    }
  }

  const std::string& text() const { return text_; }

  [[noreturn]] void refuse_at(size_t position, const std::string& what) const {
    const auto line = static_cast<size_t>(
        std::upper_bound(starts_.begin(), starts_.end(), position) - starts_.begin() - 1);
    throw description_fault{38, "routing description " + std::to_string(number_) + ": " + what +
                                    " in the line:\n" + lines_[line]};
  }

  // The integer right after the keyword at position (blanks allowed).
  int integer_after(size_t keyword, size_t length, size_t& end) const {
    const char* start = text_.c_str() + keyword + length;
    char* stop = nullptr;
    errno = 0;
    const long v = std::strtol(start, &stop, 10);
    if (stop == start || errno == ERANGE || v < INT_MIN || v > INT_MAX ||
        !std::isdigit(static_cast<unsigned char>(stop[-1]))) {
      std::string what(1, '"');
      what.append(text_, keyword, length);
      what += "\" is not followed by a number";
      refuse_at(keyword, what);
    }
    end = static_cast<size_t>(stop - text_.c_str());
    return static_cast<int>(v);
  }

  // The first number after the next "=" from pos.
  double value_after_equals(size_t keyword, size_t& pos) const {
    const size_t eq = text_.find('=', pos);
    if (eq == std::string::npos)
      refuse_at(keyword, "a value of the entry \"" + keyword_at(keyword) + "\" is missing");
    const char* start = text_.c_str() + eq + 1;
    char* stop = nullptr;
    const double v = std::strtod(start, &stop);
    if (stop == start)
      refuse_at(keyword, "a value of the entry \"" + keyword_at(keyword) + "\" is not a number");
    pos = static_cast<size_t>(stop - text_.c_str());
    return v;
  }

  void ten_values(size_t keyword, size_t& pos, double (&values)[CHANNEL_VALUES]) const {
    for (double& v : values) v = value_after_equals(keyword, pos);
  }

  // The next word from pos (blanks skipped).
  std::string word_after(size_t& pos) const {
    while (pos < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos])) != 0) ++pos;
    const size_t begin = pos;
    while (pos < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos])) == 0) ++pos;
    return text_.substr(begin, pos - begin);
  }

  std::string keyword_at(size_t position) const {
    for (const char* kw : {"SUMTRIB", "TG", "OL", "ZL", "AL", "SP", "&"})
      if (text_.compare(position, std::strlen(kw), kw) == 0) return kw;
    return {};
  }

 private:
  const std::vector<std::string>& lines_;
  int number_;
  std::string text_;
  std::vector<size_t> starts_;
};

std::vector<size_t> occurrences(const std::string& text, const std::string& pattern) {
  std::vector<size_t> at;
  for (size_t p = text.find(pattern); p != std::string::npos; p = text.find(pattern, p + 1))
    at.push_back(p);
  return at;
}

bool ends_code_list(char c) { return c == '\0' || c == ' ' || c == '(' || c == 'k'; }

}  // namespace

int count_substring(const std::string& text, const std::string& pattern) {
  return static_cast<int>(occurrences(text, pattern).size());
}

bool continues_description(const std::string& line) {
  for (const char* kw : {"OL", "SUMTRIB", "ZL", "AL", "SP"})
    if (line.find(kw) != std::string::npos) return true;
  return false;
}

routing_description parse_description(const std::vector<std::string>& lines, int number) {
  const description_reader r(lines, number);
  const std::string& text = r.text();
  routing_description d;
  for (int k = 0; k < KW_COUNT; ++k) d.counts[k] = count_substring(text, DESCRIPTION_KEYWORDS[k]);

  std::vector<span> spans;        // every entry read
  std::vector<span> code_lists;   // the "&" lists of the SUMTRIB entries
  const std::vector<size_t> tg = occurrences(text, "TG");
  if (tg.empty()) r.refuse_at(0, "the description holds no \"TG\"");
  size_t pos = 0;
  d.code = r.integer_after(tg.front(), 2, pos);
  d.area = r.value_after_equals(tg.front(), pos);
  d.factor = r.value_after_equals(tg.front(), pos);
  spans.push_back({tg.front(), pos});
  const size_t after_tg = pos;

  int entry = 0;
  for (const size_t at : occurrences(text, "OL")) {
    if (at < after_tg) continue;  // refused below: it stands inside the TG entry
    channel_entry e;
    e.entry_number = ++entry;
    e.code = r.integer_after(at, 2, pos);
    r.ten_values(at, pos, e.values);
    spans.push_back({at, pos});
    d.ol.push_back(e);
  }
  for (const size_t at : occurrences(text, "SUMTRIB")) {
    channel_entry e;
    e.entry_number = ++entry;
    e.code = r.integer_after(at, 7, pos);
    const size_t list_begin = pos;
    while (pos < text.size() && text[pos] == '&') {
      if (static_cast<int>(e.listed.size()) == MAX_AMP_CODES)
        throw description_fault{41, "subbasin " + std::to_string(d.code) +
                                        ": more than " + std::to_string(MAX_AMP_CODES) +
                                        " codes after \"&\" in one SUMTRIB entry"};
      e.listed.push_back(r.integer_after(pos, 1, pos));
    }
    if (!ends_code_list(text.c_str()[pos]))
      r.refuse_at(at, "the codes of a SUMTRIB entry end in \"" + text.substr(pos, 1) + "\"");
    code_lists.push_back({list_begin, pos});
    r.ten_values(at, pos, e.values);
    spans.push_back({at, pos});
    d.sumtrib.push_back(e);
  }
  for (const size_t at : occurrences(text, "ZL")) {
    inflow_entry e;
    e.entry_number = ++entry;
    e.number = r.integer_after(at, 2, pos);
    const size_t eq = text.find('=', pos);
    if (eq == std::string::npos) r.refuse_at(at, "the modus of the inflow is missing");
    pos = eq + 1;
    e.modus = r.word_after(pos);
    if (e.modus.size() > MAX_MODUS_LENGTH)
      throw description_fault{42, "the modus \"" + e.modus + "\" of inflow " +
                                      std::to_string(e.number) + " is longer than " +
                                      std::to_string(MAX_MODUS_LENGTH) + " characters"};
    if (e.modus == "constant") {
      e.kind = INFLOW_CONSTANT;
      const char* start = text.c_str() + pos;
      char* stop = nullptr;
      e.constant = std::strtod(start, &stop);
      if (stop == start) r.refuse_at(at, "the constant inflow is not a number");
      pos = static_cast<size_t>(stop - text.c_str());
    } else if (e.modus == "extern") {
      e.kind = INFLOW_EXTERN;
      e.file = r.word_after(pos);
      if (e.file.empty()) r.refuse_at(at, "the file of the inflow is missing");
      if (e.file.size() > MAX_INFLOW_FILE)
        throw description_fault{42, "the file name of inflow " + std::to_string(e.number) +
                                        " is longer than " + std::to_string(MAX_INFLOW_FILE) +
                                        " characters"};
      e.start_row = r.integer_after(pos, 0, pos);
      e.first_tracer_column = r.integer_after(pos, 0, pos);
    } else if (e.modus == "intern") {
      e.kind = INFLOW_INTERN;
    } else {
      throw description_fault{42, "the modus \"" + e.modus + "\" is not supported for inflow " +
                                      std::to_string(e.number)};
    }
    r.ten_values(at, pos, e.values);
    spans.push_back({at, pos});
    d.zl.push_back(e);
  }
  for (const char* kw : {"AL", "SP"}) {
    for (const size_t at : occurrences(text, kw)) {
      marked_entry e;
      e.entry_number = ++entry;
      e.position = at;
      e.code = r.integer_after(at, 2, pos);
      e.text_begin = pos;
      spans.push_back({at, pos});
      (kw[0] == 'A' ? d.al : d.sp).push_back(e);
    }
  }
  // The own text of an AL or SP entry ends where the next entry begins, so
  // that no key of a later entry is taken for one of its own.
  for (std::vector<marked_entry>* list : {&d.al, &d.sp}) {
    for (marked_entry& e : *list) {
      const size_t begin = e.text_begin;
      size_t end = text.size();
      for (const span& s : spans)
        if (s.begin > e.position && s.begin < end) end = s.begin;
      e.text = text.substr(begin, end - begin);
    }
  }

  // Every keyword must start an entry and stand inside no other one.
  for (const char* kw : {"TG", "OL", "SUMTRIB", "ZL", "AL", "SP"}) {
    for (const size_t at : occurrences(text, kw)) {
      bool starts = false;
      for (const span& s : spans) {
        if (s.begin == at) starts = true;
        else if (at > s.begin && at < s.end)
          r.refuse_at(at, std::string("\"") + kw + "\" stands inside another entry");
      }
      if (!starts) r.refuse_at(at, std::string("\"") + kw + "\" starts no entry");
    }
  }
  for (const size_t at : occurrences(text, "&")) {
    bool listed = false;
    for (const span& s : code_lists) listed = listed || (at >= s.begin && at < s.end);
    if (!listed) r.refuse_at(at, "\"&\" joins no codes of a SUMTRIB entry");
  }
  return d;
}
