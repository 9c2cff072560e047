// The routing descriptions of "[routing_model]": a block of lines that
// begins with "TG" and goes on with the lines holding "SUMTRIB", "OL", "AL",
// "ZL" or "SP", joined into one text. Keywords are found as substrings;
// every occurrence must start a well-formed entry (a file name or remark
// holding one is refused, since it would be counted as an entry).
#pragma once

#include <string>
#include <vector>

#include "routing/channel_tables.h"

// Keywords of the descriptions; their counts are kept in this order.
enum description_keyword { KW_OL, KW_AMP, KW_SUMTRIB, KW_ZL, KW_AL, KW_SP, KW_COUNT };
extern const char* const DESCRIPTION_KEYWORDS[KW_COUNT];

// Limits of an entry.
constexpr int MAX_AMP_CODES = 9;          // codes after "&" in one SUMTRIB entry
constexpr size_t MAX_MODUS_LENGTH = 19;   // characters of a ZL modus word
constexpr size_t MAX_INFLOW_FILE = 299;   // characters of an "extern" file name
constexpr size_t MAX_DESCRIPTION_LINE = 1198;  // characters of a line without its break

// Occurrences of pattern in text, overlapping ones included.
int count_substring(const std::string& text, const std::string& pattern);
// Whether a line belongs to a description (holds one of the keywords but "TG").
bool continues_description(const std::string& line);

struct channel_entry {
  int entry_number = 0;
  int code = 0;
  std::vector<int> listed;  // SUMTRIB: codes after "&"
  double values[CHANNEL_VALUES] = {};
};

struct inflow_entry {
  int entry_number = 0;
  int number = 0;
  std::string modus;
  int kind = 0;  // INFLOW_CONSTANT, INFLOW_EXTERN or INFLOW_INTERN; 0 for another word
  std::string file;
  int start_row = 0;
  double constant = 0;  // [m3 s-1]
  int first_tracer_column = 0;
  double values[CHANNEL_VALUES] = {};
};

// An abstraction or reservoir entry: where it starts in the text, its code
// and its own text (after the code, up to the next entry), which it reads
// itself.
struct marked_entry {
  int entry_number = 0;
  size_t position = 0;
  int code = 0;
  size_t text_begin = 0;
  std::string text;
};

struct routing_description {
  int counts[KW_COUNT] = {};
  int code = 0;
  double area = 0;    // [km2]
  double factor = 0;  // [-]
  std::vector<channel_entry> ol;
  std::vector<channel_entry> sumtrib;
  std::vector<inflow_entry> zl;
  std::vector<marked_entry> al;
  std::vector<marked_entry> sp;
};

// A description that cannot be read: the code and the message after "FATAL: ".
struct description_fault {
  int code = 0;
  std::string message;
};

// Parses the joined text of description number (1-based); lines are the
// description's lines without their breaks, in order. Throws
// description_fault: 38 for text that is not a well-formed entry, 41 for
// more "&" codes than MAX_AMP_CODES, 42 for a modus word or file name beyond
// its limit. Codes are not checked against the zone table here.
routing_description parse_description(const std::vector<std::string>& lines, int number);
