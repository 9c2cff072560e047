// Text services shared by the readers of the class tables (land use, soil,
// multilayer land use): reading whole control-file lines and class blocks,
// the class count, and the "key = value;" items of a block.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace table_text {

// Class names live in buffers of 200 characters: at most this many fit.
constexpr size_t MAX_NAME_LENGTH = 199;

// The next line with its line end (the last line of a file may lack one);
// false when the file is at its end before any character.
bool read_line(std::FILE* file, std::string& line);

// Appends lines (with their line ends) to text until it contains "}"; false
// when the file ends first.
bool complete_block(std::FILE* file, std::string& text);

// Result of reading the class count at the head of a table section.
enum class count_result { ok, not_a_number, negative };

// Reads the class count as the first word of the current line and drops the
// rest of that line. word gets the text that was read (for messages).
count_result read_class_count(std::FILE* file, int& count, std::string& word);

// Where a key of a block stands. A key matches only as a whole key: not
// preceded by a character that can belong to a key and followed (after white
// space) by "=", so "ksat" is never found inside "ksat_topmodel".
enum class occurrence { first, last };

enum class key_status { absent, value, unterminated };

// The value text of key: what stands between the "=" after the key and the
// next ";". unterminated when no ";" follows.
key_status find_value(const std::string& text, const std::string& key, occurrence which,
                      std::string& value);

// Number of non-empty items of a list split at tabs, blanks, line ends, ";"
// and ",".
int count_items(const std::string& value);

// The first number of a value text (leading white space allowed, text after
// the number ignored); false when the text does not begin with one.
bool parse_int(const std::string& value, int& target);
bool parse_double(const std::string& value, double& target);

// Reads up to count numbers one after the other, separated by white space
// only, into target[0..count-1]; returns how many could be read.
int parse_doubles(const std::string& value, int count, double* target);
int parse_ints(const std::string& value, int count, int* target);

// All numbers of a list separated by white space; false when an item is not
// a number (so "1e-5,1e-6" is refused rather than read as 1e-5).
bool parse_double_list(const std::string& value, std::vector<double>& values);

// The first two words of a class text: an integer code and a name.
bool parse_code_and_name(const std::string& text, int& code, std::string& name);

bool contains(const std::string& text, const char* word);

}  // namespace table_text
