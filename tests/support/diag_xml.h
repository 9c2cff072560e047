// Checks of a diagnostics file shared by the unit and the black-box tests:
// the exact head, one well-formed line element per line, the closing tag.
#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

inline const std::string& diag_xml_head() {
  static const std::string head =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<Diag version=\"1.2\" xmlns=\"http://www.wldelft.nl/fews/PI\" \n"
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" \n"
      "xsi:schemaLocation=\"http://www.wldelft.nl/fews/PI "
      "http://fews.wldelft.nl/schemas/version1.0/pi-schemas/pi_diag.xsd\">\n";
  return head;
}

// True when every byte sequence is well-formed UTF-8 and no byte is a control
// character that XML 1.0 forbids.
inline bool valid_xml_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    size_t n = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// One line element: level 0 to 4 and a description in which '"' and '<'
// never stand bare and every '&' starts one of the five entities.
inline bool is_diag_line_element(const std::string& line) {
  const std::string open = "\t<line level=\"";
  const std::string middle = "\" description= \"";
  const std::string close = "\"/>";
  if (line.size() < open.size() + 1 + middle.size() + close.size()) return false;
  if (line.compare(0, open.size(), open) != 0) return false;
  const char level = line[open.size()];
  if (level < '0' || level > '4') return false;
  if (line.compare(open.size() + 1, middle.size(), middle) != 0) return false;
  if (line.compare(line.size() - close.size(), close.size(), close) != 0) return false;
  const std::string text =
      line.substr(open.size() + 1 + middle.size(),
                  line.size() - open.size() - 1 - middle.size() - close.size());
  static const char* const ENTITIES[] = {"&amp;", "&lt;", "&gt;", "&apos;", "&quot;"};
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"' || text[i] == '<') return false;
    if (text[i] != '&') continue;
    bool known = false;
    for (const char* e : ENTITIES)
      if (text.compare(i, std::string(e).size(), e) == 0) known = true;
    if (!known) return false;
  }
  return true;
}

// The line elements between the head and the closing tag, each without its
// line end. Empty (and *why set) when the file is not a well-formed
// diagnostics file: head, element syntax, entities, encoding or tail wrong.
inline std::vector<std::string> diag_xml_lines(const std::string& xml, std::string* why) {
  const auto fail = [&](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return std::vector<std::string>{};
  };
  const std::string& head = diag_xml_head();
  if (xml.compare(0, head.size(), head) != 0) return fail("head differs");
  const std::string tail = "</Diag>\n";
  if (xml.size() < head.size() + tail.size() ||
      xml.compare(xml.size() - tail.size(), tail.size(), tail) != 0)
    return fail("no closing tag at the end");
  if (!valid_xml_utf8(xml)) return fail("bytes that are no XML characters");
  std::vector<std::string> lines;
  std::istringstream body(xml.substr(head.size(), xml.size() - head.size() - tail.size()));
  for (std::string line; std::getline(body, line);) {
    if (!is_diag_line_element(line)) return fail("not a line element: " + line);
    lines.push_back(line);
  }
  if (lines.size() < 2) return fail("start or finish line missing");
  static const std::regex start(
      "\t<line level=\"3\" description= \"Velmo start at "
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\"/>");
  static const std::regex finish(
      "\t<line level=\"3\" description= \"Velmo finished at "
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\"/>");
  if (!std::regex_match(lines.front(), start)) return fail("start line: " + lines.front());
  if (!std::regex_match(lines.back(), finish)) return fail("finish line: " + lines.back());
  return lines;
}

// The element of one entry as it stands in the file.
inline std::string diag_line(int level, const std::string& description) {
  return "\t<line level=\"" + std::to_string(level) + "\" description= \"" + description + "\"/>";
}
