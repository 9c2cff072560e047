#include "submodel/storage_content_file.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "modelbase/diagstream.h"

std::string state_file_path(const std::string* directory, const std::string& name) {
  if (directory == nullptr || directory->empty() || name.empty() || name[0] == '/' ||
      name[0] == '~')
    return name;
  return *directory + (directory->back() == '/' ? "" : "/") + name;
}

void warn_state_beyond_run(DiagStream& diag, const std::string* directory,
                           const std::string& name_with_rank, int rank, int process_count,
                           const char* section) {
  const std::string suffix = "_" + std::to_string(rank);
  if (name_with_rank.size() < suffix.size() ||
      name_with_rank.compare(name_with_rank.size() - suffix.size(), suffix.size(), suffix) != 0)
    return;
  const std::string beyond =
      state_file_path(directory, name_with_rank.substr(0, name_with_rank.size() - suffix.size()) +
                                     "_" + std::to_string(process_count));
  std::FILE* f = std::fopen(beyond.c_str(), "r");
  if (f == nullptr) return;
  std::fclose(f);
  diag_entry(diag, "WARNING: the storage content file ", beyond, " exists, but this run has only ",
             process_count, " processes: the section [", section,
             "] of that file and of any further process is not read");
}

std::string state_value_text(double value) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%g", value);
  if (!std::isfinite(value) || std::strtod(text, nullptr) == value)
    return std::string(text, static_cast<size_t>(n));
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
  return std::string(text, result.ptr);
}

void write_state_value(std::FILE* file, double value, const char* tail) {
  std::fputs(state_value_text(value).c_str(), file);
  std::fputs(tail, file);
}

bool state_value_differs(double stored, double control) noexcept {
  return stored != 0 ? std::fabs((stored - control) / stored) > STATE_TOLERANCE : control != 0;
}

state_reader::state_reader(DiagStream& diag_in, std::FILE* file_in, std::string path,
                           std::string section)
    : diag(diag_in), file(file_in), file_path(std::move(path)), section_name(std::move(section)) {}

bool state_reader::find_section() {
  std::string line;
  line_number = 0;
  for (;;) {
    line.clear();
    int c = std::fgetc(file);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
      line.push_back(static_cast<char>(c));
      c = std::fgetc(file);
    }
    ++line_number;
    if (line.find(section_name) != std::string::npos) {
      ++line_number;  // reading goes on at the next line
      return true;
    }
    if (c == EOF) return false;
  }
}

int state_reader::peek() {
  const int c = std::fgetc(file);
  if (c != EOF) std::ungetc(c, file);
  return c;
}

int state_reader::get() {
  const int c = std::fgetc(file);
  if (c == '\n') ++line_number;
  return c;
}

void state_reader::skip_space() {
  for (int c = peek(); c != EOF && std::isspace(c) != 0; c = peek()) get();
}

void state_reader::fail_unreadable(const char* what, bool at_end) {
  fail_fatal(diag, 71, "error reading the section [", section_name,
             "] of the storage content file ", path(),
             at_end ? ": the file ends" : ": no readable number", " at line ", line_number, " (",
             what, ")");
}

namespace {

// Whether c can continue the text of a number that "%lf" reads.
bool number_char(int c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E' ||
         c == 'x' || c == 'X' || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == 'n' ||
         c == 'N' || c == 'i' || c == 'I' || c == 't' || c == 'T' || c == 'y' || c == 'Y' ||
         c == 'p' || c == 'P';
}

}  // namespace

double state_reader::read_double(const char* what) {
  skip_space();
  if (peek() == EOF) fail_unreadable(what, true);
  // The token is taken up to white space or a bracket; a part of it that
  // does not belong to the number is left unread, as "%lf" leaves it.
  std::string token;
  for (int c = peek(); c != EOF && number_char(c) && token.size() < 400; c = peek())
    token.push_back(static_cast<char>(std::fgetc(file)));
  char* end = nullptr;
  const double value = std::strtod(token.c_str(), &end);
  const size_t used = static_cast<size_t>(end - token.c_str());
  if (used == 0) fail_unreadable(what, false);
  // Only one character can be pushed back safely: a longer rest is text
  // that no later read accepts as a number anyway.
  if (used < token.size()) std::ungetc(token[used], file);
  return value;
}

int state_reader::read_int(const char* what) {
  skip_space();
  if (peek() == EOF) fail_unreadable(what, true);
  std::string token;
  int c = peek();
  if (c == '+' || c == '-') token.push_back(static_cast<char>(std::fgetc(file)));
  for (c = peek(); c >= '0' && c <= '9' && token.size() < 12; c = peek())
    token.push_back(static_cast<char>(std::fgetc(file)));
  if (token.empty() || token == "+" || token == "-") fail_unreadable(what, false);
  return static_cast<int>(std::strtol(token.c_str(), nullptr, 10));
}

int state_reader::read_line_numbers(double* out, int max) {
  int count = 0;
  while (count < max) {
    int c = peek();
    while (c == ' ' || c == '\t' || c == '\r') {
      get();
      c = peek();
    }
    if (c == EOF || c == '\n' || !number_char(c) || c == 'e' || c == 'E') break;
    std::string token;
    for (c = peek(); c != EOF && number_char(c) && token.size() < 400; c = peek())
      token.push_back(static_cast<char>(std::fgetc(file)));
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    const size_t used = static_cast<size_t>(end - token.c_str());
    if (used == 0) break;
    if (used < token.size()) std::ungetc(token[used], file);
    out[count++] = value;
  }
  return count;
}

void state_reader::require_more(const char* what) {
  skip_space();
  if (peek() == EOF) fail_unreadable(what, true);
}

void state_reader::skip_line() {
  for (int c = get(); c != EOF && c != '\n'; c = get()) {
  }
}

void fail_state_value(DiagStream& diag, const std::string& label, double control_value,
                      double stored_value) {
  fail_fatal(diag, 71, "error in storage file content reading ", label,
             ":\nvalue in actual control is:   ", control_value,
             "\nbut value in storage file is: ", stored_value, "\nVelmo throws...");
}

void read_state_count(state_reader& in, const char* label, int expected,
                      const state_mismatch& mismatch) {
  const int value = in.read_int(label);
  in.skip_line();
  if (value != expected) {
    mismatch(label, expected, value);
    throw 71;
  }
}

void write_tracer_blocks(std::FILE* f, const tracer_block_data& data) {
  const flow_time_queues& q = *data.queues;
  auto write_record = [f](const zone_record& r, const char* tail) {
    write_state_value(f, r.count, " ");
    write_state_value(f, r.sum, " ");
    write_state_value(f, r.code, " ");
    write_state_value(f, r.share, " ");
    write_state_value(f, r.weight, tail);
  };
  for (int t = 0; t <= data.tracer_count; ++t) {
    const auto ut = static_cast<size_t>(t);
    std::fprintf(f, "%d (0=runoff, 1...9 = tracers)\n", t);
    for (int s = 1; s <= data.subbasin_count; ++s) {
      const auto us = static_cast<size_t>(s);
      const int zones = q.zones_of(s);
      std::fprintf(f, "%d %d (zone %d and maxzeit)\n", s, zones, s);
      for (int k = 1; k <= zones; ++k) {
        const auto uk = static_cast<size_t>(k);
        write_record(q.direct[ut][us][uk], " (zoneFZT_QD.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
        write_record(q.interflow[ut][us][uk], " (zoneFZT_QI.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
      }
      write_state_value(f, (*data.qdd)[ut][us], "");
      std::fprintf(f, " (QDd[%d][%d])\n", t, s);
      write_state_value(f, (*data.qii)[ut][us], "");
      std::fprintf(f, " (QIi[%d][%d])\n", t, s);
    }
  }
}

void read_tracer_blocks(state_reader& in, const tracer_block_data& data,
                        const state_mismatch& mismatch) {
  flow_time_queues& q = *data.queues;
  auto fail = [&](const std::string& label, double control, double stored) {
    mismatch(label, control, stored);
    throw 71;
  };
  for (int t = 0; t <= data.tracer_count; ++t) {
    const auto ut = static_cast<size_t>(t);
    read_state_count(in, "actual tracers(0=runoff)", t, mismatch);
    for (int s = 1; s <= data.subbasin_count; ++s) {
      const auto us = static_cast<size_t>(s);
      const int zone = in.read_int("actual zone");
      const int stored_zones = in.read_int("maxzeit of actual subbasin");
      in.skip_line();
      if (zone != s) fail("actual zone", s, zone);
      const int zones = q.zones_of(s);
      if (stored_zones != zones) fail("maxzeit of actual subbasin", zones, stored_zones);
      for (int k = 1; k <= zones; ++k) {
        const auto uk = static_cast<size_t>(k);
        for (int kind = 0; kind < 2; ++kind) {
          zone_record& r = kind == 0 ? q.direct[ut][us][uk] : q.interflow[ut][us][uk];
          double v[5] = {};
          const int got = in.read_line_numbers(v, 5);
          if (got < 5) in.require_more(kind == 0 ? "zoneFZT_QD" : "zoneFZT_QI");
          if (got < 5)
            fail(kind == 0 ? "number of fields for zonal statistics QD"
                           : "number of fields for zonal statistics QI",
                 5, got);
          r = zone_record{v[0], v[1], v[2], v[3], v[4]};
          in.skip_line();
        }
      }
      (*data.qdd)[ut][us] = in.read_double("QDd");
      in.skip_line();
      (*data.qii)[ut][us] = in.read_double("QIi");
      in.skip_line();
    }
  }
}
