// Reading the body of a text grid with every process parsing an equal share
// of its bytes, then handing each process the rows it asks for. The values
// and the failures are those of one reader taking the words one by one from
// the start of the body.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "modelbase/gridfile_mpi.h"
#include "modelbase/matrices.h"

// The words of one share of a text.
struct text_share {
  std::vector<double> values;  // numbers of the words before the first that is none
  long long words = 0;         // words starting in the share
  long long first_bad = -1;    // index (in the share) of the first word that is no number
};

// Pure: the words of bytes, a share extended to the end of its last word.
// When starts_in_word (the byte before the share is no white space), the
// leading characters finish a word of the share before and are skipped.
text_share parse_text_share(std::string_view bytes, bool starts_in_word);

// The entry of a cell whose word is missing or no number; index counts the
// cells of the body from 0 in row order.
std::string text_cell_failure_text(const std::string& path, long long index, int ncols);

// Collective. The body of the text grid path (from body_offset to the end of
// the file) parsed by all processes, each an equal share of its bytes; this
// process receives rows want_first..want_last (none when want_first >
// want_last) of the nrows x ncols cells into columns 1..ncols of grid, which
// holds them. Words beyond the last cell are not looked at. Returns the same
// failure on every process: the first cell whose word is missing or no number
// (code 22), or a failure of the file layer.
//
// prepare, where given, runs on this process after its share is parsed and
// before any cell arrives, so that process 0 can make its whole grid while
// the others parse; its failure stands in place of this process's failure of
// the file, as if it had come first. When process_0_parses is false (the same
// on every process), the shares go to the other processes only.
file_failure read_text_body_parallel(const std::string& path, long long body_offset,
                                     grid_matrix& grid, int want_first, int want_last, int nrows,
                                     int ncols,
                                     const std::function<file_failure()>& prepare = nullptr,
                                     bool process_0_parses = true);
