// Text services shared by the control-file preprocessing, the table readers,
// the special output and the grid writers.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Puts the directory in front of a relative name (one not starting with '/'
// or '~'); no separator is added: the directory is expected to end with one.
void prefix_directory(const std::string& directory, std::string& name);

// Appends the tokens of text to list and returns the list's size afterwards.
// A token starting with '"' (when '"' is no delimiter) runs to the next
// unescaped '"'. With keep_trailing_empty set, a text ending in a delimiter
// (or an empty text) adds one empty token.
int split_string(const std::string& text, const std::string& delimiters,
                 std::vector<std::string>& list, int keep_trailing_empty);

// Offset of the first occurrence of pattern in text; 0 also when absent.
int string_position(const std::string& text, const std::string& pattern);

// Keeps the characters start..start+n (inclusive) of text; negative start or n
// leave it unchanged.
std::string& string_cut(std::string& text, int start, int n);

// One whole line of a text file with its line break, of any length; false at
// the end of the file.
bool read_text_line(std::FILE* file, std::string& line);
