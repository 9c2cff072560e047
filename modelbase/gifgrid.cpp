#include "modelbase/gifgrid.h"

#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>

#include "modelbase/modelobject.h"

namespace {

// The file is read through giflib's input callback so that the last byte
// delivered is known: giflib reports an unknown block only as an error code,
// and the byte is part of the error text.
struct gif_input {
  std::FILE* file = nullptr;
  int last_byte = -1;
};

int read_gif_bytes(GifFileType* gif, GifByteType* buffer, int count) {
  auto* input = static_cast<gif_input*>(gif->UserData);
  if (count <= 0) return 0;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(count), input->file);
  if (got > 0) input->last_byte = buffer[got - 1];
  return static_cast<int>(got);
}

struct gif_closer {
  void operator()(GifFileType* gif) const {
    if (gif != nullptr) {
      int error = 0;
      DGifCloseFile(gif, &error);
    }
  }
};
using gif_handle = std::unique_ptr<GifFileType, gif_closer>;

[[noreturn]] void fail_library(int error) {
  const char* text = GifErrorString(error);
  throw gif_decode_error{text != nullptr ? text : "unknown GIF library error"};
}

[[noreturn]] void fail_invalid_id(int id) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(id));
  throw gif_decode_error{std::string("invalid extension type ID \"0x") + hex + "\" found"};
}

bool skipped_extension(int label) {
  return label == PLAINTEXT_EXT_FUNC_CODE || label == COMMENT_EXT_FUNC_CODE ||
         label == APPLICATION_EXT_FUNC_CODE;
}

void read_extension(GifFileType* gif) {
  int label = -1;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &label, &block) == GIF_ERROR) {
    // The label is known before the first sub-block is read: an invalid one
    // is reported as such even when what follows it is broken too.
    if (label >= 0 && label != GRAPHICS_EXT_FUNC_CODE && !skipped_extension(label))
      fail_invalid_id(label);
    fail_library(gif->Error);
  }
  if (label == GRAPHICS_EXT_FUNC_CODE) {
    // One block of the size its size byte gives, then the terminator 0.
    const int size = block != nullptr ? block[0] : 0;
    if (block == nullptr) {
      // The size byte was 0: the terminator must still follow.
      if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) fail_library(gif->Error);
    } else if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
      fail_library(gif->Error);
    }
    if (block != nullptr)
      throw gif_decode_error{
          "Graphics COntrol extension found, but block end not found as 0x00 after " +
          std::to_string(size) + " bytes\n"};
    return;
  }
  if (!skipped_extension(label)) fail_invalid_id(label);
  while (block != nullptr)
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) fail_library(gif->Error);
}

// LZW with variable code sizes up to 12 bits, strict: a code that is not yet
// in the table, or that follows a clear code without being a pixel, is an
// error rather than a guess. Pixels go to out in data order; more pixels than
// capacity is an error.
void decode_lzw(int min_code_size, const std::vector<unsigned char>& data, unsigned char* out,
                size_t capacity, int width, int height) {
  constexpr int MAX_BITS = 12;
  constexpr int TABLE_SIZE = 1 << MAX_BITS;
  if (min_code_size < 1 || min_code_size > 8)
    throw gif_decode_error{"LZW code size " + std::to_string(min_code_size) + " out of range"};
  const int clear = 1 << min_code_size;
  const int end = clear + 1;
  std::vector<int> prefix(TABLE_SIZE, -1);
  std::vector<unsigned char> suffix(TABLE_SIZE, 0);
  std::vector<unsigned char> first(TABLE_SIZE, 0);  // first pixel of each code's string
  for (int code = 0; code < clear; ++code) {
    suffix[static_cast<size_t>(code)] = static_cast<unsigned char>(code);
    first[static_cast<size_t>(code)] = static_cast<unsigned char>(code);
  }
  std::vector<unsigned char> stack(TABLE_SIZE);
  int next = end + 1;
  int bits = min_code_size + 1;
  int previous = -1;
  size_t produced = 0;
  uint32_t buffer = 0;
  int buffered = 0;
  size_t position = 0;
  for (;;) {
    while (buffered < bits && position < data.size()) {
      buffer |= static_cast<uint32_t>(data[position++]) << buffered;
      buffered += 8;
    }
    if (buffered < bits) return;  // the data end without an end code
    const int code = static_cast<int>(buffer & ((1u << bits) - 1));
    buffer >>= bits;
    buffered -= bits;
    if (code == clear) {
      next = end + 1;
      bits = min_code_size + 1;
      previous = -1;
      continue;
    }
    if (code == end) return;
    if (code > next || (previous < 0 && code >= clear) || (code == next && next >= TABLE_SIZE))
      throw gif_decode_error{"invalid LZW code " + std::to_string(code)};
    // The string of the code, pushed from its last pixel to its first.
    size_t depth = 0;
    int walk = code;
    if (code == next) {
      stack[depth++] = first[static_cast<size_t>(previous)];
      walk = previous;
    }
    for (; walk >= clear; walk = prefix[static_cast<size_t>(walk)])
      stack[depth++] = suffix[static_cast<size_t>(walk)];
    stack[depth++] = static_cast<unsigned char>(walk);
    if (produced + depth > capacity)
      throw gif_decode_error{"image data hold more pixels than the logical screen of " +
                             std::to_string(width) + " x " + std::to_string(height)};
    while (depth > 0) out[produced++] = stack[--depth];
    if (previous >= 0 && next < TABLE_SIZE) {
      prefix[static_cast<size_t>(next)] = previous;
      first[static_cast<size_t>(next)] = first[static_cast<size_t>(previous)];
      suffix[static_cast<size_t>(next)] =
          code == next ? first[static_cast<size_t>(previous)] : first[static_cast<size_t>(code)];
      ++next;
    }
    // Wider codes once the next free code needs them (with one-bit pixels
    // already after the first code).
    if (next >= (1 << bits) && bits < MAX_BITS) ++bits;
    previous = code;
  }
}

// An image: its descriptor and local colour table through giflib, its
// compressed data blocks decoded here. The image's position and interlace
// flag are not applied: pixels go to the raster in data order.
void read_image(GifFileType* gif, gif_raster& raster) {
  if (DGifGetImageDesc(gif) == GIF_ERROR) fail_library(gif->Error);
  const GifImageDesc& image = gif->Image;
  if (image.Left + image.Width > gif->SWidth || image.Top + image.Height > gif->SHeight)
    throw gif_decode_error{"image of " + std::to_string(image.Width) + " x " +
                           std::to_string(image.Height) + " pixels at column " +
                           std::to_string(image.Left) + ", row " + std::to_string(image.Top) +
                           " does not lie inside the logical screen of " +
                           std::to_string(gif->SWidth) + " x " + std::to_string(gif->SHeight)};
  int code_size = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &code_size, &block) == GIF_ERROR) fail_library(gif->Error);
  std::vector<unsigned char> data;
  while (block != nullptr) {
    data.insert(data.end(), block + 1, block + 1 + block[0]);
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) fail_library(gif->Error);
  }
  decode_lzw(code_size, data, raster.pixels.data(), raster.pixels.size(), raster.width,
             raster.height);
}

}  // namespace

long long gif_max_pixels(long long file_bytes) {
  constexpr long long MIN_CODE_BITS = 2;
  constexpr long long LONGEST_STRING = 4096;  // [pixels] of one code
  // Beyond a terabyte any screen of 16-bit measures can be filled.
  const long long bytes = std::clamp(file_bytes, 0LL, 1LL << 40);
  const long long codes = bytes * 8 / MIN_CODE_BITS;
  if (codes <= LONGEST_STRING) return codes * (codes + 1) / 2;
  return LONGEST_STRING * (LONGEST_STRING + 1) / 2 + (codes - LONGEST_STRING) * LONGEST_STRING;
}

void GifReader::read_header(int& width, int& height) {
  file_handle file(std::fopen(path_.c_str(), "rb"));
  if (!file) throw gif_decode_error{"cannot open the file" + errno_text(errno)};
  unsigned char head[13];
  if (std::fread(head, 1, sizeof head, file.get()) != sizeof head)
    throw gif_decode_error{"file too short for a GIF header"};
  width = head[6] | (head[7] << 8);
  height = head[8] | (head[9] << 8);
  const long long bytes = open_file_bytes(file.get());
  if (static_cast<long long>(width) * height > gif_max_pixels(bytes))
    throw gif_decode_error{"logical screen of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels is more than the " +
                           std::to_string(bytes) + " bytes of the file can fill"};
}

void GifReader::decode(gif_raster& raster) {
  file_handle file(std::fopen(path_.c_str(), "rb"));
  if (!file) throw gif_decode_error{"cannot open the file" + errno_text(errno)};
  gif_input input{file.get(), -1};
  int error = 0;
  gif_handle gif(DGifOpen(&input, read_gif_bytes, &error));
  if (!gif) fail_library(error);
  if (gif->SWidth != raster.width || gif->SHeight != raster.height)
    throw gif_decode_error{"raster does not have the size of the logical screen"};
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
      if (gif->Error == D_GIF_ERR_WRONG_RECORD) fail_invalid_id(input.last_byte);
      fail_library(gif->Error);
    }
    switch (type) {
      case EXTENSION_RECORD_TYPE:
        read_extension(gif.get());
        break;
      case IMAGE_DESC_RECORD_TYPE:
        read_image(gif.get(), raster);
        break;
      case TERMINATE_RECORD_TYPE:
        return;
      default:
        fail_invalid_id(input.last_byte);
    }
  }
}

double gif_class_at_cell(const gif_raster& raster, const gif_georeference& geo,
                         const grid_measures& model, int row, int col) {
  const double s = geo.cellsize;
  const int width = raster.width;
  const int height = raster.height;
  // The lower-left corner of the model cell, not its centre.
  const double x = model.xllcorner + (col - 1) * model.cellsize;
  const double y = model.yllcorner + (model.nrows - row) * model.cellsize;
  auto limit = [](double value, int high) {
    if (!(value >= 1)) return 1;  // NaN included
    return value > high ? high : static_cast<int>(value);
  };
  const double v_raw = std::floor((x - (geo.x_origin + s / 2)) / s) + 1;
  const int left = limit(v_raw, width);
  const int right = limit(v_raw + 1, width);
  const double u = std::floor((y - (geo.y_origin + s / 2)) / s);
  const int lower = limit(height - u, height);  // image rows count from the top
  const int upper = limit(height - u - 1, height);
  const double lower_left = raster.at(lower, left);
  const double lower_right = raster.at(lower, right);
  const double upper_left = raster.at(upper, left);
  const double upper_right = raster.at(upper, right);
  if (lower_left <= NODATA || lower_right <= NODATA || upper_left <= NODATA ||
      upper_right <= NODATA)
    return NODATA;
  const double e = (x - (geo.x_origin + (left - 0.5) * s)) / s;
  const double lower_centre = geo.y_origin + (height - lower + 0.5) * s;
  const double w = (y - lower_centre) / s;
  return lower_left * (1 - e) * (1 - w) + lower_right * e * (1 - w) + upper_left * (1 - e) * w +
         upper_right * e * w;
}

void resample_gif_to_grid(const gif_raster& raster, const gif_georeference& geo,
                          const grid_measures& model, grid_matrix& grid) {
  if (!(geo.cellsize > 0)) throw gif_decode_error{"no georeference of the GIF image given"};
  if (raster.width < 1 || raster.height < 1)
    throw gif_decode_error{"the logical screen of the GIF image is empty"};
  const grid_matrix* mask = geo.mask;
#pragma omp parallel for schedule(static)
  for (int row = model.nrows; row >= 1; --row) {
    const double* mask_cells =
        mask != nullptr && row < mask->pointer_count() ? (*mask)[row] : nullptr;
    double* cells = grid[row];
    for (int col = 1; col <= model.ncols; ++col) {
      if (mask_cells != nullptr && mask_cells[col] <= NODATA) {
        cells[col] = mask_cells[col];
        continue;
      }
      cells[col] = gif_class_at_cell(raster, geo, model, row, col);
    }
  }
}

double gif_class_to_value(double value, const gif_mapping& m) {
  if (value == 0) return 0;
  if (value <= m.threshold) return m.f1 * std::exp(m.x1 * value);
  if (value <= 250) return m.f2 * std::exp(m.x2 * value);
  return NODATA;
}

void map_gif_classes(grid_matrix& grid, int nrows, int ncols, const gif_mapping& mapping) {
#pragma omp parallel for schedule(static)
  for (int row = 1; row <= nrows; ++row) {
    double* cells = grid[row];
    for (int col = 1; col <= ncols; ++col)
      if (cells[col] > NODATA) cells[col] = gif_class_to_value(cells[col], mapping);
  }
}
