#include "modelbase/diagstream.h"

#include <mpi.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace {

constexpr std::string_view END_MARKER = "[end-entry]";
constexpr std::string_view PI_NAMESPACE = "http://www.wldelft.nl/fews/PI";
constexpr std::string_view XSI_NAMESPACE = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view PI_DIAG_SCHEMA =
    "http://fews.wldelft.nl/schemas/version1.0/pi-schemas/pi_diag.xsd";
constexpr std::string_view DEFAULT_NAME = "Velmo_Diag.xml";

struct LevelPrefix {
  std::string_view word;
  int level;
};
constexpr std::array<LevelPrefix, 6> PREFIXES{{{"FATAL: ", 0},
                                               {"ERROR: ", 1},
                                               {"WARNING: ", 2},
                                               {"INFO: ", 3},
                                               {"DEBUG: ", 4},
                                               {"SKIP: ", 5}}};

const LevelPrefix* find_prefix(std::string_view piece) {
  for (const auto& p : PREFIXES)
    if (piece.starts_with(p.word)) return &p;
  return nullptr;
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = text.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(text, pos, hit - pos);
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text, pos, std::string::npos);
  text.swap(out);
}

// Length of the well-formed UTF-8 sequence at text[i], 0 when it is not one.
size_t utf8_sequence_length(std::string_view text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t n = 0;
  unsigned min_code = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) { n = 2; min_code = 0x80; }
  else if ((c & 0xF0) == 0xE0) { n = 3; min_code = 0x800; }
  else if ((c & 0xF8) == 0xF0) { n = 4; min_code = 0x10000; }
  else return 0;
  if (i + n > text.size()) return 0;
  unsigned code = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    const auto cc = static_cast<unsigned char>(text[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    code = (code << 6) | (cc & 0x3F);
  }
  if (code < min_code || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code == 0xFFFE || code == 0xFFFF) return 0;  // no XML characters
  return n;
}

bool is_forbidden_control(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// XML 1.0 forbids control characters other than tab, newline and carriage
// return, and the file declares UTF-8: such bytes become '?' so that one odd
// message cannot make the whole diagnostics file unreadable. Newlines never
// get here (they became ';').
void replace_invalid_xml_bytes(std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (is_forbidden_control(c)) {
      text[i] = '?';
      ++i;
      continue;
    }
    const size_t n = utf8_sequence_length(text, i);
    if (n == 0) {
      text[i] = '?';
      ++i;
    } else {
      i += n;
    }
  }
}

std::string derived_file_name(const std::string& name, int rank) {
  const size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  return stem + "_" + std::to_string(rank) + ".xml";
}

}  // namespace

std::string escape_diag_text(std::string_view piece) {
  std::string text(piece);
  replace_all(text, "&", "&amp;");
  replace_all(text, "\n", ";");
  replace_all(text, "<", "&lt;");
  replace_all(text, ">", "&gt;");
  replace_all(text, "'", "&apos;");
  replace_all(text, "\"", "&quot;");
  // Every run of three or more dashes becomes "--" (XML comments forbid "--"
  // only inside comments, but the file's readers expect at most two).
  for (size_t hit = text.find("---"); hit != std::string::npos; hit = text.find("---", hit))
    text.erase(hit, 1);
  replace_invalid_xml_bytes(text);
  return text;
}

std::string diag_time_stamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return buf;
}

DiagStream::DiagStream(const std::string& file_name, int level)
    : console(&std::cout), filter_level(level) {
  MPI_Comm_rank(MPI_COMM_WORLD, &process_rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  diag_file_name = derived_file_name(file_name.empty() ? std::string(DEFAULT_NAME) : file_name,
                                     process_rank);
  open_file();
}

DiagStream::DiagStream(const std::string& file_name, int level, std::ostream& console_stream,
                       int rank, int count)
    : process_rank(rank), process_count(count), console(&console_stream), filter_level(level) {
  diag_file_name = derived_file_name(file_name.empty() ? std::string(DEFAULT_NAME) : file_name,
                                     process_rank);
  open_file();
}

DiagStream::~DiagStream() { close(); }

void DiagStream::open_file() {
  if (process_rank != 0) return;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "(mpi-rank %2d) ", process_rank);
  diag_file.open(diag_file_name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!diag_file.is_open()) {
    *console << prefix << "\n ----- Warning -----\n error opening diagnostics output file "
             << diag_file_name << "\n" << std::flush;
    *console << prefix
             << "\nusing default name Velmo_Diag.xml in actual working directory\n"
                " -------------------\n\n"
             << "\n" << std::flush;
    diag_file_name = DEFAULT_NAME;
    diag_file.clear();
    diag_file.open(diag_file_name, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!diag_file.is_open()) {
      *console << prefix << "Error opening diagnostics output file " << diag_file_name << "\n"
               << std::flush;
      throw 320;
    }
  }
  write_file_head();
}

void DiagStream::write_file_head() {
  std::string head;
  head += "<?xml version='1.0' encoding='UTF-8'?>\n";
  head += "<Diag version=\"1.2\" xmlns=\"";
  head += PI_NAMESPACE;
  head += "\" \n";
  head += "xmlns:xsi=\"";
  head += XSI_NAMESPACE;
  head += "\" \n";
  head += "xsi:schemaLocation=\"";
  head += PI_NAMESPACE;
  head += " ";
  head += PI_DIAG_SCHEMA;
  head += "\">\n";
  head += "\t<line level=\"3\" description= \"Velmo start at " + diag_time_stamp() + "\"/>\n";
  diag_file.write(head.data(), static_cast<std::streamsize>(head.size()));
  diag_file.flush();
}

void DiagStream::start_element() {
  entry_filtered = filter_level < entry_level;
  if (!entry_filtered && file_good()) {
    const std::string head = "\t<line level=\"" + std::to_string(entry_level) + "\" description= \"";
    diag_file.write(head.data(), static_cast<std::streamsize>(head.size()));
    element_open = true;
  }
  entry_pending = false;
}

void DiagStream::close_element() {
  if (element_open && file_good()) {
    diag_file.write("\"/>\n", 4);
    diag_file.flush();
  }
  element_open = false;
}

void DiagStream::prepare_entry_text(std::string_view piece, bool honour_marker) {
  const LevelPrefix* prefix = find_prefix(piece);
  if (prefix != nullptr) {
    piece.remove_prefix(prefix->word.size());
    entry_level = prefix->level;
    // Any level word closes the open element, "SKIP: " included, so that the
    // file stays well formed.
    if (!entry_pending) close_element();
    entry_pending = true;
    start_element();
  } else if (entry_pending) {
    entry_level = 4;
    start_element();
  } else {
    entry_filtered = filter_level < entry_level;
  }
  bool ends = false;
  if (honour_marker && piece.find(END_MARKER) != std::string_view::npos) {
    piece.remove_suffix(std::min(piece.size(), END_MARKER.size()));
    ends = true;
  }
  entry_text = escape_diag_text(piece);
  entry_text_closes = ends && element_open;
  if (entry_text_closes) element_open = false;
}

// A field width pads the text of the piece, as on the console; the "/>" that
// closes the element stands after the padded text.
void DiagStream::write_entry_text() {
  if (entry_filtered || !file_good()) return;
  diag_file << entry_text;
  if (entry_text_closes) diag_file.write("\"/>", 3);
}

void DiagStream::end_console_line() {
  if (process_rank != 0) return;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "(mpi-rank %2d) ", process_rank);
  *console << '\n' << std::flush;
  console->write(prefix, static_cast<std::streamsize>(std::char_traits<char>::length(prefix)));
}

DiagStream& DiagStream::write_text(const char* text) {
  std::string_view piece = text != nullptr ? std::string_view(text) : std::string_view();
  const bool ends = piece.find(END_MARKER) != std::string_view::npos;
  std::string_view rest = piece;
  if (ends) rest.remove_suffix(std::min(rest.size(), END_MARKER.size()));
  if (const LevelPrefix* p = find_prefix(rest)) rest.remove_prefix(p->word.size());
  if (process_rank == 0 && !rest.empty()) *console << rest;
  prepare_entry_text(piece, true);
  write_entry_text();
  if (ends) {
    end_console_line();
    if (!entry_filtered && file_good()) {
      diag_file.write("\n", 1);
      diag_file.flush();
    }
    entry_pending = true;
    entry_filtered = false;
  }
  return *this;
}

DiagStream& DiagStream::write_string(const std::string& text) {
  if (process_rank == 0) *console << text;
  prepare_entry_text(text, false);
  write_entry_text();
  return *this;
}

void DiagStream::open_value_entry() {
  if (entry_pending) {
    entry_level = 4;
    start_element();
  } else {
    entry_filtered = filter_level < entry_level;
  }
}

template <class T>
DiagStream& DiagStream::write_number(const T& value) {
  if (process_rank == 0) *console << value;
  open_value_entry();
  if (!entry_filtered && file_good()) diag_file << value;
  return *this;
}

// A character goes to the file as itself, except the few that would make the
// file unreadable: markup characters become their entities, forbidden control
// bytes and lone non-ASCII bytes (never valid UTF-8 on their own) become '?'.
std::string diag_char_text(char value) {
  const auto c = static_cast<unsigned char>(value);
  if (value == '&') return "&amp;";
  if (value == '<') return "&lt;";
  if (value == '"') return "&quot;";
  if (is_forbidden_control(c) || c >= 0x80) return "?";
  return std::string(1, value);
}

DiagStream& DiagStream::write_char(char value) {
  if (process_rank == 0) *console << value;
  open_value_entry();
  if (!entry_filtered && file_good()) diag_file << diag_char_text(value);
  return *this;
}
DiagStream& DiagStream::write_int(int32_t value) { return write_number(value); }
DiagStream& DiagStream::write_unsigned(uint32_t value) { return write_number(value); }
DiagStream& DiagStream::write_long(int64_t value) { return write_number(value); }
DiagStream& DiagStream::write_unsigned_long(uint64_t value) { return write_number(value); }
DiagStream& DiagStream::write_float(float value) { return write_number(static_cast<double>(value)); }
DiagStream& DiagStream::write_double(double value) { return write_number(value); }
DiagStream& DiagStream::write_pointer(const void* value) { return write_number(value); }

DiagStream& DiagStream::set_width(int width) {
  if (process_rank == 0) console->width(width);
  open_value_entry();
  if (!entry_filtered && file_good()) diag_file.width(width);
  return *this;
}

void DiagStream::flush_console() {
  if (process_rank == 0) console->flush();
}

void DiagStream::close() {
  if (closed) return;
  closed = true;
  if (file_good()) {
    if (!entry_pending) close_element();
    element_open = false;
    const std::string tail =
        "\t<line level=\"3\" description= \"Velmo finished at " + diag_time_stamp() + "\"/>\n" +
        "</Diag>\n";
    diag_file.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  }
  if (diag_file.is_open()) diag_file.close();
  if (process_rank == 0) console->flush();
}
