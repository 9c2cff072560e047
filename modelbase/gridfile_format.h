// The file formats of grids and stacks, independent of processes and of the
// model object: recognising a format from the first bytes of a file, reading
// whitespace-separated numbers from text at library speed, formatting values as
// printf's "%g" does, the 12-number binary header in little-endian single or
// double precision, and the check of a file's measures against the model's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "modelbase/gridtypes.h"

// The measures every grid and stack file is checked against.
struct grid_measures {
  int ncols = 0;
  int nrows = 0;
  double xllcorner = 0;
  double yllcorner = 0;
  double cellsize = 0;
  double nodata = NODATA;
};

// Values of the file formats; the numbers travel in broadcasts.
enum class grid_format : int {
  unknown = 0,
  text = 1,
  binary_double = 2,
  binary_single = 3,
  gif = 4
};

// Bytes a format check may look at: the header of a double binary file.
constexpr size_t FORMAT_PROBE_BYTES = 96;
constexpr int BINARY_HEADER_COUNT = 12;    // numbers in the binary header
constexpr double BINARY_NODATA = -9999.0;  // the only nodata that marks a binary file

// Format of a grid file from its first bytes: "ncol" text, a sixth double of
// -9999 double, a sixth single of -9999 single, "GIF8" a GIF image.
grid_format detect_grid_format(const unsigned char* head, size_t size);

// Stack files: "stack" text, else double or single as for grids; no GIF.
grid_format detect_stack_format(const unsigned char* head, size_t size);

// Bytes of one number of a binary file.
constexpr size_t value_bytes(grid_format format) {
  return format == grid_format::binary_single ? 4 : 8;
}

// Little-endian numbers, whatever the machine.
void store_le(double value, unsigned char* out);
void store_le(float value, unsigned char* out);
double load_le_double(const unsigned char* in);
float load_le_float(const unsigned char* in);

std::array<double, 12> header_values(const grid_header& header);
grid_header header_from_values(const std::array<double, 12>& values);

// The header in the file's precision (singles narrowed from the doubles).
std::vector<unsigned char> encode_binary_header(const grid_header& header, grid_format format);
// The header from 12 numbers of the file's precision, widened to doubles.
grid_header decode_binary_header(const unsigned char* bytes, grid_format format);

// Values of one row in the file's precision, appended to out.
void encode_values(const double* values, size_t count, grid_format format,
                   std::vector<unsigned char>& out);
// count values of the file's precision, widened, into values.
void decode_values(const unsigned char* bytes, size_t count, grid_format format, double* values);

// A number in text, strict: the whole word must be one number as "%lf" reads
// it (an optional sign, decimal or hexadecimal notation, inf, nan).
bool parse_number(std::string_view word, double& value);

// printf's "%g" of value into out (at least 32 characters); returns the end.
char* format_g(char* out, double value);
std::string format_g(double value);
// The values[1..count] as "%g" texts separated by tabs, into out (room for
// FORMATTED_VALUE_CHARS per value); returns the end. A value with the bits of
// nodata takes nodata_text (its "%g" text) without being formatted again.
constexpr size_t FORMATTED_VALUE_CHARS = 32;
char* format_g_row(char* out, const double* values, int count, double nodata,
                   std::string_view nodata_text);
// A header measure: "%.15g" when that reads back as the same number, else
// "%.17g", so that the model always reads back the measures it wrote.
std::string format_measure(double value);

// Whitespace-separated words of a text, read block by block from a file or
// taken from a buffer held by the caller.
class text_scanner {
 public:
  explicit text_scanner(std::FILE* file, size_t block_bytes = size_t{1} << 22);
  explicit text_scanner(std::string_view text);
  // The next word; false at the end of the input or when the file cannot be
  // read (read_failed() tells which). The view lives until the next call.
  bool next_word(std::string_view& word);
  // The next word as a number; false when there is none or it is no number.
  bool next_number(double& value);
  bool read_failed() const { return failed_; }
  // Bytes of the input taken by the words read so far (and the white space
  // before them): where the rest of the input starts.
  long long consumed() const { return taken_ + (begin_ - origin_); }

 private:
  bool refill();
  std::FILE* file_ = nullptr;
  const char* origin_ = nullptr;  // the input byte taken_ is at origin_
  long long taken_ = 0;
  std::vector<char> buffer_;
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  bool at_eof_ = false;
  bool failed_ = false;
};

// Buffered text output to a file: few, large writes.
class text_writer {
 public:
  explicit text_writer(std::FILE* file, size_t block_bytes = size_t{1} << 22);
  void put(std::string_view text);
  void put(char c);
  void put_g(double value);
  // Writes what is buffered; false when any write failed.
  bool flush();
  bool failed() const { return failed_; }
  // errno of the first failed write, 0 when none failed.
  int error() const { return error_; }

 private:
  void make_room(size_t n);
  std::FILE* file_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
  int error_ = 0;
};

// The six header lines of a text grid.
std::string text_grid_header(const grid_measures& m);
// The twelve header lines of a text stack with levels L.
std::string text_stack_header(const grid_measures& m, int levels);

// Grid file check: corners of the file that are not whole numbers are first
// floored in the header; the file fits when the floors of ncols, nrows and the
// corners agree, the cell sizes are equal and the file's nodata is not above
// the model's.
bool grid_file_fits(const grid_measures& model, grid_header& file);
// Stack file check: floors of ncols and nrows, everything else exactly equal.
bool stack_file_fits(const grid_measures& model, const grid_header& file);

// ---- Checks of what a file declares, made before anything is sized by it.
// Each check returns the text of the entry (what follows "FATAL: "), empty
// when the file passes.

// A text grid header read pair by pair in its fixed order. failed_pair is 0
// when all six pairs were read; else the pair (1..6) whose word is unknown
// (bad_word, the word kept) or whose word or number could not be read.
struct text_header_read {
  int failed_pair = 0;
  bool bad_word = false;
  std::string word;
};

// The six pairs of a text grid header into header (fields 0..5). The words are
// compared without regard to case: ncols, nrows, xllcorner or xllcenter,
// yllcorner or yllcenter, cellsize, nodata_value. A centre becomes a corner
// (centre - cellsize / 2) when the cell size is a possible one.
text_header_read read_text_grid_header(text_scanner& scanner, grid_header& header);
// The entry of a header word that is not the one its place needs.
std::string header_word_text(const text_header_read& read, const std::string& path);

// ncols and nrows must be whole numbers from 1 to INT_MAX, the corners and the
// nodata value finite, the cell size finite and above 0.
std::string impossible_measure_text(const grid_header& header, const std::string& path);

// How a file's size compares with the values its header declares: a text
// file needs at least two bytes per value (a digit and a separator), a binary
// file exactly its 12 header numbers and every value.
enum class declared_size { fits, too_small, too_large };
declared_size check_declared_size(grid_format format, long long values, long long file_bytes);
// Values of rows x cols cells of depth values each; -1 beyond long long.
long long declared_values(const grid_header& header, long long depth);
// The entry of a grid file (text or binary; header checked already) too
// small or too large for its ncols x nrows cells.
std::string grid_size_text(grid_format format, const grid_header& header, long long file_bytes,
                           const std::string& path);
// Bytes of an open file (by its descriptor); -1 when unknown.
long long open_file_bytes(std::FILE* file);
// The entry of a grid header no grid can have, or of an open grid file too
// small (or, binary, too large) for the cells it declares; empty when it fits.
std::string declared_grid_text(grid_format format, const grid_header& header, std::FILE* file,
                               const std::string& path);

// The last 35 characters of a name (all of a shorter one).
std::string tail35(const std::string& text);

// The text of the entry of a file whose measures differ (what follows
// "FATAL: "): the grid version ends its first line with ")!\n", the stack
// version with ")\n"; numbers as the diagnostics stream prints them.
std::string measures_mismatch_text(const std::string& path, const std::string& object_name,
                                   const std::string& zone_file, const grid_measures& model,
                                   const grid_header& file, bool stack_file);
