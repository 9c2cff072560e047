#include "modelbase/gridfile_format.h"

#include <sys/stat.h>

#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

bool starts_with(const unsigned char* head, size_t size, const char* text) {
  const size_t n = std::strlen(text);
  return size >= n && std::memcmp(head, text, n) == 0;
}

bool sixth_double_is_nodata(const unsigned char* head, size_t size) {
  return size >= 48 && load_le_double(head + 40) == BINARY_NODATA;
}

bool sixth_single_is_nodata(const unsigned char* head, size_t size) {
  return size >= 24 && static_cast<double>(load_le_float(head + 20)) == BINARY_NODATA;
}

// The C locale's white space, as scanf skips it.
inline bool is_space(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The words each pair of a text grid header may have; the second one, where
// there is one, gives the centre of the lower-left cell instead of its corner.
constexpr std::array<std::array<std::string_view, 2>, 6> HEADER_WORDS = {{
    {"ncols", ""},
    {"nrows", ""},
    {"xllcorner", "xllcenter"},
    {"yllcorner", "yllcenter"},
    {"cellsize", ""},
    {"nodata_value", ""},
}};
// A word longer than this is cut in an entry (a binary file named .asc).
constexpr size_t SHOWN_WORD_CHARS = 64;

bool same_word(std::string_view a, std::string_view b) {
  if (a.empty() || a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

template <class U>
U byte_swap(U value) {
  U swapped = 0;
  for (size_t i = 0; i < sizeof(U); ++i) {
    swapped = static_cast<U>((swapped << 8) | (value & 0xFF));
    value = static_cast<U>(value >> 8);
  }
  return swapped;
}

}  // namespace

grid_format detect_grid_format(const unsigned char* head, size_t size) {
  if (starts_with(head, size, "ncol")) return grid_format::text;
  if (sixth_double_is_nodata(head, size)) return grid_format::binary_double;
  if (sixth_single_is_nodata(head, size)) return grid_format::binary_single;
  if (starts_with(head, size, "GIF8")) return grid_format::gif;
  return grid_format::unknown;
}

grid_format detect_stack_format(const unsigned char* head, size_t size) {
  if (starts_with(head, size, "stack")) return grid_format::text;
  // A double header needs all of its 96 bytes; a small single stack is
  // shorter than that and still a whole file.
  if (size >= FORMAT_PROBE_BYTES && sixth_double_is_nodata(head, size))
    return grid_format::binary_double;
  if (size >= 48 && sixth_single_is_nodata(head, size)) return grid_format::binary_single;
  return grid_format::unknown;
}

void store_le(double value, unsigned char* out) {
  auto bits = std::bit_cast<uint64_t>(value);
  if constexpr (std::endian::native == std::endian::big) bits = byte_swap(bits);
  std::memcpy(out, &bits, 8);
}

void store_le(float value, unsigned char* out) {
  auto bits = std::bit_cast<uint32_t>(value);
  if constexpr (std::endian::native == std::endian::big) bits = byte_swap(bits);
  std::memcpy(out, &bits, 4);
}

double load_le_double(const unsigned char* in) {
  uint64_t bits = 0;
  std::memcpy(&bits, in, 8);
  if constexpr (std::endian::native == std::endian::big) bits = byte_swap(bits);
  return std::bit_cast<double>(bits);
}

float load_le_float(const unsigned char* in) {
  uint32_t bits = 0;
  std::memcpy(&bits, in, 4);
  if constexpr (std::endian::native == std::endian::big) bits = byte_swap(bits);
  return std::bit_cast<float>(bits);
}

std::array<double, 12> header_values(const grid_header& h) {
  return {h.ncols, h.nrows,   h.xllcorner, h.yllcorner, h.cellsize, h.nodata,
          h.count, h.minimum, h.maximum,   h.sum,       h.mean,     h.stddev};
}

grid_header header_from_values(const std::array<double, 12>& v) {
  grid_header h;
  h.ncols = v[0];
  h.nrows = v[1];
  h.xllcorner = v[2];
  h.yllcorner = v[3];
  h.cellsize = v[4];
  h.nodata = v[5];
  h.count = v[6];
  h.minimum = v[7];
  h.maximum = v[8];
  h.sum = v[9];
  h.mean = v[10];
  h.stddev = v[11];
  return h;
}

std::vector<unsigned char> encode_binary_header(const grid_header& header, grid_format format) {
  const auto values = header_values(header);
  std::vector<unsigned char> out;
  encode_values(values.data(), values.size(), format, out);
  return out;
}

grid_header decode_binary_header(const unsigned char* bytes, grid_format format) {
  std::array<double, 12> values{};
  decode_values(bytes, values.size(), format, values.data());
  return header_from_values(values);
}

void encode_values(const double* values, size_t count, grid_format format,
                   std::vector<unsigned char>& out) {
  const size_t size = value_bytes(format);
  const size_t start = out.size();
  out.resize(start + count * size);
  unsigned char* p = out.data() + start;
  if (format == grid_format::binary_single) {
    for (size_t i = 0; i < count; ++i) store_le(static_cast<float>(values[i]), p + i * 4);
  } else {
    for (size_t i = 0; i < count; ++i) store_le(values[i], p + i * 8);
  }
}

void decode_values(const unsigned char* bytes, size_t count, grid_format format, double* values) {
  if (format == grid_format::binary_single) {
    for (size_t i = 0; i < count; ++i)
      values[i] = static_cast<double>(load_le_float(bytes + i * 4));
  } else {
    for (size_t i = 0; i < count; ++i) values[i] = load_le_double(bytes + i * 8);
  }
}

bool parse_number(std::string_view word, double& value) {
  if (word.empty()) return false;
  const char* begin = word.data();
  const char* end = begin + word.size();
  const char* start = begin;
  // from_chars takes no plus sign; scanf does.
  if (*start == '+' && word.size() > 1 && start[1] != '+' && start[1] != '-') ++start;
  if (*start != '+') {
    double parsed = 0;
    const auto result = std::from_chars(start, end, parsed);
    if (result.ec == std::errc() && result.ptr == end) {
      value = parsed;
      return true;
    }
  }
  // Hexadecimal notation and numbers beyond the range of a double, as strtod
  // (and so scanf) reads them.
  const std::string copy(word);
  char* stop = nullptr;
  const double parsed = std::strtod(copy.c_str(), &stop);
  if (stop != copy.c_str() + copy.size()) return false;
  value = parsed;
  return true;
}

namespace {

// Exact powers of ten up to 1e22; the negative ones are correctly rounded.
constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr double NEGATIVE_POWERS_OF_TEN[] = {
    1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,  1e-8,  1e-9,  1e-10, 1e-11,
    1e-12, 1e-13, 1e-14, 1e-15, 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};

constexpr char DIGIT_PAIRS[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546"
    "4748495051525354555657585960616263646566676869707172737475767778798081828384858687888990919293"
    "949596979899";

// a x 10^k with a few roundings at most.
double scale_by_power_of_ten(double a, int k) {
  while (k > 22) {
    a *= 1e22;
    k -= 22;
  }
  while (k < -22) {
    a *= 1e-22;
    k += 22;
  }
  return k >= 0 ? a * POWERS_OF_TEN[k] : a * NEGATIVE_POWERS_OF_TEN[-k];
}

// The six significant digits of a (> 0, normal, of binary exponent
// binary_exponent) rounded to nearest, as digits in [100000, 999999] and
// the decimal exponent of the first digit. The scaled value carries a
// relative error of a few units in the last place (below 1e-9 at six
// digits), so it decides the rounding unless it lies within 1e-6 of half a
// unit; then false (an exact formatter decides).
bool six_significant_digits(double a, int binary_exponent, std::uint32_t& digits, int& exponent) {
  // floor(log10(a)) or one less: floor(binary_exponent x log10(2)) in
  // integers (78913 / 2^18 is log10(2) to within 3e-7).
  int e = (binary_exponent * 78913) >> 18;
  double scaled = scale_by_power_of_ten(a, 5 - e);
  if (scaled >= 1e6) {
    ++e;
    scaled = scale_by_power_of_ten(a, 5 - e);
  }
  const auto whole = static_cast<std::uint32_t>(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) < 1e-6) return false;
  digits = whole + (fraction > 0.5 ? 1 : 0);
  if (digits >= 1000000) {
    digits /= 10;
    ++e;
  }
  if (digits < 100000) return false;  // cannot happen for a normal a; be safe
  exponent = e;
  return true;
}

}  // namespace

char* format_g(char* out, double value) {
  // printf's %g with precision 6: six significant digits; fixed notation for
  // decimal exponents -4..5, else d.ddddde+XX; trailing zeros dropped.
  // Whole numbers below a million (codes, nodata) and values whose rounding
  // the scaled digits decide are formatted here; the rest (ties, extremes,
  // inf, nan) by to_chars, which gives printf's text exactly but slowly.
  const double a = std::fabs(value);
  const bool negative = std::signbit(value);
  if (a < 1e6) {
    const auto whole = static_cast<std::uint32_t>(a);
    if (static_cast<double>(whole) == a) {
      *out = '-';
      out += negative ? 1 : 0;
      return std::to_chars(out, out + 16, whole).ptr;
    }
  }
  std::uint32_t digits = 0;
  int exponent = 0;
  const auto bits = std::bit_cast<std::uint64_t>(a);
  const int binary_exponent = static_cast<int>(bits >> 52) - 1023;  // a in [2^e, 2^(e+1))
  if (!(a >= 1e-290 && a <= 1e290) ||
      !six_significant_digits(a, binary_exponent, digits, exponent))
    return std::to_chars(out, out + 32, value, std::chars_format::general, 6).ptr;
  // The six digits, with room to copy past them.
  char d[16] = {};
  std::memcpy(d, DIGIT_PAIRS + 2 * (digits / 10000), 2);
  std::memcpy(d + 2, DIGIT_PAIRS + 2 * (digits / 100 % 100), 2);
  std::memcpy(d + 4, DIGIT_PAIRS + 2 * (digits % 100), 2);
  int kept = 6;  // significant digits without trailing zeros
  while (kept > 1 && d[kept - 1] == '0') --kept;
  *out = '-';
  out += negative ? 1 : 0;
  if (exponent >= 0 && exponent < 6) {
    std::memcpy(out, d, 6);
    if (kept <= exponent + 1) return out + exponent + 1;
    out[exponent + 1] = '.';
    std::memcpy(out + exponent + 2, d + exponent + 1, 5);
    return out + kept + 1;
  }
  if (exponent >= -4 && exponent < 0) {
    std::memcpy(out, "0.0000", 6);
    out += 1 - exponent;  // "0." and -exponent - 1 zeros
    std::memcpy(out, d, 6);
    return out + kept;
  }
  out[0] = d[0];
  out[1] = '.';
  std::memcpy(out + 2, d + 1, 5);
  out += kept > 1 ? kept + 1 : 1;
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const auto magnitude = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  std::memcpy(out, DIGIT_PAIRS + 2 * (magnitude % 100), 2);
  return out + 2;
}

char* format_g_row(char* out, const double* values, int count, double nodata,
                   std::string_view nodata_text) {
  const auto nodata_bits = std::bit_cast<std::uint64_t>(nodata);
  for (int k = 1; k <= count; ++k) {
    if (k > 1) *out++ = '\t';
    if (std::bit_cast<std::uint64_t>(values[k]) == nodata_bits) {
      std::memcpy(out, nodata_text.data(), nodata_text.size());
      out += nodata_text.size();
    } else {
      out = format_g(out, values[k]);
    }
  }
  return out;
}

std::string format_g(double value) {
  char text[32];
  return std::string(text, format_g(text, value));
}

std::string format_measure(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  if (std::isfinite(value) && std::strtod(text, nullptr) != value)
    std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

text_scanner::text_scanner(std::FILE* file, size_t block_bytes)
    : file_(file), buffer_(block_bytes < 64 ? 64 : block_bytes) {
  begin_ = end_ = origin_ = buffer_.data();
}

text_scanner::text_scanner(std::string_view text)
    : origin_(text.data()), begin_(text.data()), end_(text.data() + text.size()), at_eof_(true) {}

bool text_scanner::refill() {
  if (at_eof_ || file_ == nullptr) return false;
  const size_t keep = static_cast<size_t>(end_ - begin_);
  taken_ += begin_ - origin_;
  if (keep > 0 && begin_ != buffer_.data()) std::memmove(buffer_.data(), begin_, keep);
  // A word longer than the buffer makes it grow.
  if (keep == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  const size_t got = std::fread(buffer_.data() + keep, 1, buffer_.size() - keep, file_);
  if (got == 0) {
    if (std::ferror(file_)) failed_ = true;
    at_eof_ = true;
  }
  begin_ = origin_ = buffer_.data();
  end_ = begin_ + keep + got;
  return got > 0;
}

bool text_scanner::next_word(std::string_view& word) {
  for (;;) {
    while (begin_ < end_ && is_space(*begin_)) ++begin_;
    if (begin_ < end_) break;
    if (!refill()) return false;
  }
  size_t length = 0;
  for (;;) {
    const char* p = begin_ + length;
    while (p < end_ && !is_space(*p)) ++p;
    length = static_cast<size_t>(p - begin_);
    if (p < end_) break;
    if (!refill()) break;  // the word ends with the input
  }
  if (failed_) return false;
  word = std::string_view(begin_, length);
  begin_ += length;
  return true;
}

bool text_scanner::next_number(double& value) {
  std::string_view word;
  return next_word(word) && parse_number(word, value);
}

text_writer::text_writer(std::FILE* file, size_t block_bytes)
    : file_(file), buffer_(block_bytes < 256 ? 256 : block_bytes) {}

void text_writer::make_room(size_t n) {
  if (used_ + n <= buffer_.size()) return;
  flush();
  if (n > buffer_.size()) buffer_.resize(n);
}

void text_writer::put(std::string_view text) {
  make_room(text.size());
  std::memcpy(buffer_.data() + used_, text.data(), text.size());
  used_ += text.size();
}

void text_writer::put(char c) {
  make_room(1);
  buffer_[used_++] = c;
}

void text_writer::put_g(double value) {
  make_room(32);
  char* start = buffer_.data() + used_;
  used_ += static_cast<size_t>(format_g(start, value) - start);
}

bool text_writer::flush() {
  if (used_ > 0) {
    if (std::fwrite(buffer_.data(), 1, used_, file_) != used_ && !failed_) {
      failed_ = true;
      error_ = errno;
    }
    used_ = 0;
  }
  return !failed_;
}

std::string text_grid_header(const grid_measures& m) {
  std::string text;
  text += "ncols\t" + std::to_string(m.ncols) + "\n";
  text += "nrows\t" + std::to_string(m.nrows) + "\n";
  text += "xllcorner\t" + format_measure(m.xllcorner) + "\n";
  text += "yllcorner\t" + format_measure(m.yllcorner) + "\n";
  text += "cellsize\t" + format_measure(m.cellsize) + "\n";
  text += "nodata_value\t" + format_g(m.nodata) + "\n";
  return text;
}

std::string text_stack_header(const grid_measures& m, int levels) {
  std::string text;
  text += "stack_ncols\t" + format_measure(m.ncols) + "\n";
  text += "nrows\t" + format_measure(m.nrows) + "\n";
  text += "xll\t" + format_measure(m.xllcorner) + "\n";
  text += "yll\t" + format_measure(m.yllcorner) + "\n";
  text += "cs\t" + format_measure(m.cellsize) + "\n";
  text += "nodata\t" + format_measure(m.nodata) + "\n";
  text += "cnt\t0\nmin\t0\nmax\t0\nsum\t0\naverage\t0\n";
  text += "numlevels\t" + format_g(levels) + "\n";
  return text;
}

bool grid_file_fits(const grid_measures& model, grid_header& file) {
  if (file.xllcorner != std::floor(file.xllcorner)) file.xllcorner = std::floor(file.xllcorner);
  if (file.yllcorner != std::floor(file.yllcorner)) file.yllcorner = std::floor(file.yllcorner);
  return std::floor(file.ncols) == model.ncols && std::floor(file.nrows) == model.nrows &&
         std::floor(model.xllcorner) == std::floor(file.xllcorner) &&
         std::floor(model.yllcorner) == std::floor(file.yllcorner) &&
         model.cellsize == file.cellsize && file.nodata <= model.nodata;
}

bool stack_file_fits(const grid_measures& model, const grid_header& file) {
  return std::floor(file.ncols) == model.ncols && std::floor(file.nrows) == model.nrows &&
         model.xllcorner == file.xllcorner && model.yllcorner == file.yllcorner &&
         model.cellsize == file.cellsize && model.nodata == file.nodata;
}

text_header_read read_text_grid_header(text_scanner& scanner, grid_header& header) {
  text_header_read read;
  std::array<double, 12> values = header_values(header);
  bool centre[2] = {false, false};  // x, y
  for (int pair = 1; pair <= 6; ++pair) {
    const auto& names = HEADER_WORDS[static_cast<size_t>(pair - 1)];
    std::string_view word;
    if (!scanner.next_word(word)) {
      read.failed_pair = pair;
      return read;
    }
    const bool is_centre = same_word(word, names[1]);
    if (!is_centre && !same_word(word, names[0])) {
      read.failed_pair = pair;
      read.bad_word = true;
      read.word = std::string(word.substr(0, SHOWN_WORD_CHARS));
      if (word.size() > SHOWN_WORD_CHARS) read.word += "...";
      return read;
    }
    if (pair == 3 || pair == 4) centre[pair - 3] = is_centre;
    if (!scanner.next_number(values[static_cast<size_t>(pair - 1)])) {
      read.failed_pair = pair;
      return read;
    }
  }
  // An impossible cell size is reported as such, not as a corner made of it.
  const double cellsize = values[4];
  if (std::isfinite(cellsize) && cellsize > 0) {
    if (centre[0]) values[2] -= cellsize / 2;
    if (centre[1]) values[3] -= cellsize / 2;
  }
  header = header_from_values(values);
  return read;
}

std::string header_word_text(const text_header_read& read, const std::string& path) {
  const auto& names = HEADER_WORDS[static_cast<size_t>(read.failed_pair - 1)];
  std::string expected(names[0]);
  if (!names[1].empty()) expected += " or " + std::string(names[1]);
  return "unknown word \"" + read.word + "\" in line " + std::to_string(read.failed_pair) +
         " of the header of " + path + " (expected " + expected + ")";
}

std::string impossible_measure_text(const grid_header& h, const std::string& path) {
  const std::string head = "impossible measure in the header of " + path + ": ";
  auto count_ok = [](double v) { return v >= 1 && v <= INT_MAX && v == std::floor(v); };
  if (!count_ok(h.ncols))
    return head + "ncols " + format_measure(h.ncols) + " is not a whole number from 1 to " +
           std::to_string(INT_MAX);
  if (!count_ok(h.nrows))
    return head + "nrows " + format_measure(h.nrows) + " is not a whole number from 1 to " +
           std::to_string(INT_MAX);
  if (!std::isfinite(h.xllcorner))
    return head + "xllcorner " + format_measure(h.xllcorner) + " is not a finite number";
  if (!std::isfinite(h.yllcorner))
    return head + "yllcorner " + format_measure(h.yllcorner) + " is not a finite number";
  if (!(std::isfinite(h.cellsize) && h.cellsize > 0))
    return head + "cellsize " + format_measure(h.cellsize) + " is not a finite number above 0";
  if (!std::isfinite(h.nodata))
    return head + "nodata_value " + format_measure(h.nodata) + " is not a finite number";
  return {};
}

declared_size check_declared_size(grid_format format, long long values, long long file_bytes) {
  if (format != grid_format::text && format != grid_format::binary_double &&
      format != grid_format::binary_single)
    return declared_size::fits;
  if (values < 0 || file_bytes < 0) return declared_size::too_small;
  if (format == grid_format::text)
    return values > file_bytes / 2 ? declared_size::too_small : declared_size::fits;
  long long numbers = 0;
  long long needed = 0;
  if (__builtin_add_overflow(values, static_cast<long long>(BINARY_HEADER_COUNT), &numbers) ||
      __builtin_mul_overflow(numbers, static_cast<long long>(value_bytes(format)), &needed))
    return declared_size::too_small;
  if (file_bytes < needed) return declared_size::too_small;
  return file_bytes > needed ? declared_size::too_large : declared_size::fits;
}

long long declared_values(const grid_header& header, long long depth) {
  long long cells = 0;
  long long values = 0;
  if (__builtin_mul_overflow(static_cast<long long>(header.ncols),
                             static_cast<long long>(header.nrows), &cells) ||
      __builtin_mul_overflow(cells, depth, &values))
    return -1;
  return values;
}

std::string grid_size_text(grid_format format, const grid_header& header, long long file_bytes,
                           const std::string& path) {
  const long long cells = declared_values(header, 1);
  const declared_size size = check_declared_size(format, cells, file_bytes);
  if (size == declared_size::fits) return {};
  const std::string bytes = std::to_string(file_bytes) + " bytes";
  const std::string declared =
      format_measure(header.ncols) + " x " + format_measure(header.nrows) + " cells";
  if (format == grid_format::text)
    return "error reading ascii grid " + path + ": " + bytes + " cannot hold the " + declared +
           " of its header (at least 2 bytes per cell)";
  // Too small: the short read it would come to, found before any allocation.
  if (size == declared_size::too_small) return "error reading double grid " + path;
  const long long needed =
      (cells + BINARY_HEADER_COUNT) * static_cast<long long>(value_bytes(format));
  return "error reading double grid " + path + ": " + bytes + ", but its header and " + declared +
         " take " + std::to_string(needed);
}

long long open_file_bytes(std::FILE* file) {
  struct stat info {};
  if (file == nullptr || fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<long long>(info.st_size);
}

std::string declared_grid_text(grid_format format, const grid_header& header, std::FILE* file,
                               const std::string& path) {
  const std::string problem = impossible_measure_text(header, path);
  if (!problem.empty()) return problem;
  return grid_size_text(format, header, open_file_bytes(file), path);
}

std::string tail35(const std::string& text) {
  return text.size() > 35 ? text.substr(text.size() - 35) : text;
}

std::string measures_mismatch_text(const std::string& path, const std::string& object_name,
                                   const std::string& zone_file, const grid_measures& model,
                                   const grid_header& file, bool stack_file) {
  std::ostringstream text;
  text << path << " has not the specified grid measures (in " << object_name
       << (stack_file ? ")\n" : ")!\n") << tail35(zone_file) << " " << tail35(path);
  text << "\n" << model.ncols << " " << file.ncols;
  text << "\n" << model.nrows << " " << file.nrows;
  text << "\n" << model.xllcorner << " " << file.xllcorner;
  text << "\n" << model.yllcorner << " " << file.yllcorner;
  text << "\n" << model.cellsize << " " << file.cellsize;
  text << "\n" << model.nodata << " " << file.nodata;
  return text.str();
}
