// The program entry of every process: start-up, one run per control file,
// end, and the abort of all processes on an integer error.
#pragma once

#include <string>

struct diag_options {
  int level = 4;
  int level_index = 0;
  std::string file_name;
  int file_index = 0;
};

// First pass over the arguments: "-diaglevel:" and "-diagfile:", the last
// occurrence of each counting.
diag_options read_diag_options(int argc, char** argv);

// Level of a "-diaglevel:" word: FATAL 0 ... DEBUG 4, whatever the case; any
// other word 4.
int diag_level_of(const std::string& word);

// True for an argument that is not a control file in the second pass.
bool is_skipped_argument(const std::string& argument);

// The version text: the fixed text with every '$' removed.
std::string version_text();

int program_entry(int argc, char** argv);
