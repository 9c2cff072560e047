// GIF images read as grids: decoding (block walk, extension rules, error
// texts), the bilinear resampling at the lower-left corner of each model
// cell and the class-to-value rule. Images are made here with giflib's
// encoder or, for broken files, byte by byte.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelbase/gifgrid.h"
#include "modelbase/gridfile_fixture.h"
#include "support/test_support.h"

namespace {

using pixel_rows = std::vector<std::vector<unsigned char>>;

struct gif_options {
  bool graphic_control = false;
  bool loop_extension = false;
  int colour_bits = 8;  // global colour table of 2^bits entries: LZW code size
};

// A GIF89a with a global colour table of 256 entries and one image.
void write_gif(const std::string& path, const pixel_rows& pixels, const gif_options& o = {}) {
  const int height = static_cast<int>(pixels.size());
  const int width = static_cast<int>(pixels.front().size());
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  ASSERT_NE(gif, nullptr);
  EGifSetGifVersion(gif, true);
  ColorMapObject* colours = GifMakeMapObject(1 << o.colour_bits, nullptr);
  ASSERT_EQ(EGifPutScreenDesc(gif, width, height, o.colour_bits, 0, colours), GIF_OK);
  if (o.loop_extension) {
    unsigned char loop[3] = {1, 0, 0};
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif, 3, loop);
    EGifPutExtensionTrailer(gif);
  }
  if (o.graphic_control) {
    unsigned char control[4] = {0, 10, 0, 0};
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
  }
  ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr), GIF_OK);
  for (const auto& row : pixels) {
    std::vector<GifPixelType> line(row.begin(), row.end());
    ASSERT_EQ(EGifPutLine(gif, line.data(), width), GIF_OK);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(colours);
}

// Where the first block after the header and the global colour table starts.
constexpr size_t FIRST_BLOCK = 6 + 7 + 3 * 256;

void insert_bytes(const std::string& path, size_t at, const std::string& bytes) {
  std::string file = read_file(path);
  file.insert(at, bytes);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
}

gif_raster decode(const std::string& path) {
  GifReader reader(path);
  int width = 0;
  int height = 0;
  reader.read_header(width, height);
  gif_raster raster(height, width);
  reader.decode(raster);
  return raster;
}

std::string decode_error(const std::string& path) {
  try {
    decode(path);
  } catch (const gif_decode_error& e) {
    return e.text;
  }
  return "(no error)";
}

pixel_rows ramp(int height, int width) {
  pixel_rows rows(static_cast<size_t>(height),
                  std::vector<unsigned char>(static_cast<size_t>(width)));
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c)
      rows[static_cast<size_t>(r)][static_cast<size_t>(c)] =
          static_cast<unsigned char>((r * 37 + c * 11) % 256);
  return rows;
}

TEST(GifGrid, DecodesPixelsInDataOrderWith255AsNodata) {
  scratch_dir dir;
  const pixel_rows pixels = {{0, 1, 2, 255}, {10, 20, 30, 40}, {254, 255, 7, 8}};
  const std::string path = dir.file("classes.gif");
  write_gif(path, pixels, {true, true});
  const gif_raster raster = decode(path);
  ASSERT_EQ(raster.width, 4);
  ASSERT_EQ(raster.height, 3);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      const unsigned char p = pixels[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
      EXPECT_EQ(raster.at(r, c), p == 255 ? -9999.0 : p) << r << "," << c;
    }
}

TEST(GifGrid, DecodesWhatGiflibEncodedForEveryCodeSize) {
  // Large images fill the code table to 12 bits and make the encoder clear
  // it; small colour tables start with narrow codes.
  scratch_dir dir;
  for (int bits : {1, 2, 4, 8}) {
    pixel_rows pixels(200, std::vector<unsigned char>(300));
    unsigned state = 12345;
    for (auto& row : pixels)
      for (auto& p : row) {
        state = state * 1103515245u + 12345u;
        // Runs of equal pixels and noise, within the colour table.
        p = static_cast<unsigned char>((state >> 16) % 7 == 0 ? (state >> 8) : row.front());
        p = static_cast<unsigned char>(p & ((1u << bits) - 1));
      }
    const std::string path = dir.file("large.gif");
    write_gif(path, pixels, {false, false, bits});
    const gif_raster raster = decode(path);
    int wrong = 0;
    for (int r = 1; r <= 200; ++r)
      for (int c = 1; c <= 300; ++c)
        if (raster.at(r, c) != pixels[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)] &&
            !(pixels[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)] == 255 &&
              raster.at(r, c) == -9999))
          ++wrong;
    EXPECT_EQ(wrong, 0) << bits << " bits";
  }
}

TEST(GifGrid, BlockErrorsGiveTheirTexts) {
  scratch_dir dir;
  struct row {
    const char* what;
    std::string inserted;  // raw bytes before the image
    std::string text;
  };
  const std::vector<row> rows = {
      {"extension label 0x02", std::string("!\x02\x01\x00\x00", 5),
       "invalid extension type ID \"0x2\" found"},
      {"unknown block byte", std::string("\x99", 1), "invalid extension type ID \"0x99\" found"},
      // The image separator ',' (44) follows where the terminator 0 should be.
      {"graphic control without terminator", std::string("!\xF9\x04\x00\x0A\x00\x00", 7),
       "Graphics COntrol extension found, but block end not found as 0x00 after 4 bytes\n"},
  };
  for (const row& r : rows) {
    const std::string path = dir.file("broken.gif");
    write_gif(path, ramp(20, 20));
    insert_bytes(path, FIRST_BLOCK, r.inserted);
    EXPECT_EQ(decode_error(path), r.text) << r.what;
  }
  // A comment and a plain-text extension are passed over.
  const std::string path = dir.file("comment.gif");
  write_gif(path, ramp(2, 3));
  insert_bytes(path, FIRST_BLOCK,
               std::string("!\xFE\x03"
                           "abc\x00!\x01\x02xy\x00",
                           13));
  EXPECT_EQ(decode(path).at(2, 3), (37 + 22) % 256);
}

// A hand-made file: logical screen width x height, one image of iw x ih
// pixels, LZW minimum code size 2, the given data bytes in one sub-block.
std::string raw_gif(int width, int height, int iw, int ih, const std::string& data) {
  std::string g = "GIF89a";
  auto put16 = [&g](int v) {
    g.push_back(static_cast<char>(v & 0xFF));
    g.push_back(static_cast<char>(v >> 8));
  };
  put16(width);
  put16(height);
  g += std::string("\x00\x00\x00", 3);
  g.push_back(',');
  put16(0);
  put16(0);
  put16(iw);
  put16(ih);
  g.push_back('\x00');
  g.push_back('\x02');
  g.push_back(static_cast<char>(data.size()));
  g += data;
  g += std::string("\x00;", 2);
  return g;
}

TEST(GifGrid, BrokenImageDataIsAnErrorNotAWriteOutOfBounds) {
  scratch_dir dir;
  const std::string path = dir.file("broken.gif");
  // Codes of 3 bits, least significant first: clear (4), literal 1, then 7,
  // a code not yet in the table: 0xCC 0x01.
  dir.write("broken.gif", raw_gif(4, 1, 4, 1, std::string("\xCC\x01", 2)));
  EXPECT_EQ(decode_error(path), "invalid LZW code 7");
  // An image of 10 x 10 pixels on a screen of 4 x 4 cells.
  write_gif(path, ramp(10, 10));
  std::string bytes = read_file(path);
  bytes[6] = 4;
  bytes[8] = 4;
  dir.write("broken.gif", bytes);
  EXPECT_EQ(decode_error(path),
            "image of 10 x 10 pixels at column 0, row 0 does not lie inside the logical screen "
            "of 4 x 4");
  // An image of 4 x 1 pixels whose data hold five: clear, then literal 1 five
  // times (3, 3, 3, 4, 4 bits as the table grows).
  dir.write("broken.gif", raw_gif(4, 1, 4, 1, std::string("\x4C\x12\x01", 3)));
  EXPECT_EQ(decode_error(path), "image data hold more pixels than the logical screen of 4 x 1");
  // After a clear code (4) the code 6 is not yet in the table: 0b110100 is 4
  // then 6.
  dir.write("broken.gif", raw_gif(4, 4, 4, 4, std::string("\x34", 1)));
  EXPECT_EQ(decode_error(path), "invalid LZW code 6");
  // A minimum code size of 9 bits, and a file cut in the middle of the image.
  std::string wide = raw_gif(4, 1, 4, 1, std::string("\xCC\x01", 2));
  wide[6 + 7 + 10] = 9;
  dir.write("broken.gif", wide);
  EXPECT_NE(decode_error(path), "(no error)");
  write_gif(path, ramp(30, 30));
  dir.write("broken.gif", read_file(path).substr(0, FIRST_BLOCK + 40));
  EXPECT_EQ(decode_error(path), GifErrorString(D_GIF_ERR_READ_FAILED));
}

TEST(GifGrid, ImagesOutsideTheirScreenOrScreensBeyondTheirDataAreRefused) {
  scratch_dir dir;
  const std::string path = dir.file("g.gif");
  struct row {
    const char* what;
    int width, height, left, top, iw, ih;
    std::string text;  // "" when the image decodes
  };
  const std::vector<row> rows = {
      {"image at the screen's corner", 4, 4, 0, 0, 4, 4, ""},
      {"image inside, moved", 4, 4, 1, 2, 3, 2, ""},
      {"image one column beyond", 4, 4, 1, 0, 4, 4,
       "image of 4 x 4 pixels at column 1, row 0 does not lie inside the logical screen of 4 x 4"},
      {"image one row beyond", 4, 4, 0, 1, 4, 4,
       "image of 4 x 4 pixels at column 0, row 1 does not lie inside the logical screen of 4 x 4"},
  };
  for (const row& r : rows) {
    // Clear, then literal 1: one pixel, enough for every image here.
    std::string bytes = raw_gif(r.width, r.height, r.iw, r.ih, std::string("\x0C", 1));
    bytes[14] = static_cast<char>(r.left);
    bytes[16] = static_cast<char>(r.top);
    dir.write("g.gif", bytes);
    EXPECT_EQ(decode_error(path), r.text.empty() ? "(no error)" : r.text) << r.what;
  }
  // A file of 61 bytes declaring a screen of 65535 x 65535 (4.3 GB of
  // pixels): refused from its header, before a raster of the screen exists.
  std::string big = raw_gif(65535, 65535, 4, 1, std::string("\x0C", 1));
  big.resize(61, '\0');
  dir.write("g.gif", big);
  GifReader reader(path);
  int width = 0;
  int height = 0;
  try {
    reader.read_header(width, height);
    ADD_FAILURE() << "no error";
  } catch (const gif_decode_error& e) {
    EXPECT_EQ(e.text,
              "logical screen of 65535 x 65535 pixels is more than the 61 bytes of the file can "
              "fill");
  }
  // The most compressible image giflib makes, one colour on a large screen,
  // stays within what its data can fill.
  write_gif(path, pixel_rows(1500, std::vector<unsigned char>(2000, 3)), {false, false, 2});
  const gif_raster raster = decode(path);
  EXPECT_EQ(raster.at(1500, 2000), 3);
  EXPECT_LT(read_file(path).size(), 20000u);
}

TEST(GifGrid, CornerPointHalfwayBetweenTwoClassesGetsTheirMean) {
  // Image of 2 x 1 pixels (classes 10, 20), cell size 10 from (0, 0): pixel
  // centres at x = 5 and 15. The model cell's lower-left corner (10, 5) lies
  // halfway: E = 0.5, and on the row's centre height: w = 0.
  gif_raster raster(1, 2);
  raster.pixel(1, 1) = 10;
  raster.pixel(1, 2) = 20;
  const grid_measures model{1, 1, 10, 5, 1, -9999};
  const gif_georeference geo{0, 0, 10, nullptr};
  EXPECT_DOUBLE_EQ(gif_class_at_cell(raster, geo, model, 1, 1), 15.0);
  // A quarter of the way up between two rows of classes 0 (top) and 40
  // (bottom), same column: 40 * 0.75 + 0 * 0.25.
  gif_raster column(2, 1);
  column.pixel(1, 1) = 0;
  column.pixel(2, 1) = 40;
  const grid_measures low{1, 1, 5, 7.5, 1, -9999};
  EXPECT_DOUBLE_EQ(gif_class_at_cell(column, geo, low, 1, 1), 30.0);
  // Any nodata pixel among the four gives nodata.
  column.pixel(1, 1) = 255;
  EXPECT_EQ(gif_class_at_cell(column, geo, low, 1, 1), -9999.0);
}

TEST(GifGrid, ClassesBecomeValuesByTwoExponentials) {
  const gif_mapping m{8.916787e-5, 0.0767528404, 127, 6.00e-6, 0.098};
  struct row {
    double value;
    double expected;
  };
  const std::vector<row> rows = {
      {0, 0},  // 0 stays 0 whatever f1 and f2
      {100, 8.916787e-5 * std::exp(0.0767528404 * 100)},
      {127, 8.916787e-5 * std::exp(0.0767528404 * 127)},  // not above the threshold
      {200, 6.00e-6 * std::exp(0.098 * 200)},
      {250, 6.00e-6 * std::exp(0.098 * 250)},
      {251, -9999},
  };
  for (const row& r : rows) EXPECT_DOUBLE_EQ(gif_class_to_value(r.value, m), r.expected) << r.value;
}

TEST(GifGrid, ReadGridMapsAnAlignedImageCellByCell) {
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  // Model 4 x 3 cells of 10 from (0, 0); the image has the same raster shifted
  // by half a cell, so every lower-left corner is a pixel centre.
  file_object object(*cap.diag, store, 4, 3, 0, 0, 10);
  // Nodata (255) only where no other cell's four pixels reach it: the
  // last row's first column.
  const pixel_rows pixels = {{0, 10, 200, 250}, {5, 6, 7, 8}, {255, 128, 127, 251}};
  write_gif(dir.file("rain.gif"), pixels, {true, false});
  object.set_gif_georeference(nullptr, -5, -5, 10);
  const gif_mapping m{2.0, 0.1, 127, 3.0, 0.01};
  object.set_gif_mapping(m.f1, m.x1, m.threshold, m.f2, m.x2);
  grid_matrix grid;
  object.read_grid(dir.file("rain.gif"), grid, 0, true, true, 0, false, true, false, false);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      const double p = pixels[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
      const double expected = p == 255 || p > 250 ? -9999
                              : p == 0            ? 0
                              : p <= 127          ? 2.0 * std::exp(0.1 * p)
                                                  : 3.0 * std::exp(0.01 * p);
      EXPECT_DOUBLE_EQ(grid[r][c], expected) << r << "," << c;
    }
  EXPECT_EQ(object.last_file_header().cellsize, 10);
}

TEST(GifGrid, FullScreenOfNodataPixelsGivesNodataWhereTheMaskIsOpen) {
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object(*cap.diag, store, 10, 8, 0, 0, 10);
  write_gif(dir.file("empty.gif"), pixel_rows(80, std::vector<unsigned char>(100, 255)),
            {true, false});
  grid_matrix mask = object.matrix(1, 8, 1, 10, 0);
  for (int r = 1; r <= 8; ++r)
    for (int c = 1; c <= 10; ++c) mask[r][c] = 1;
  mask[3][4] = -10000;  // closed: the cell takes the mask's value
  object.set_gif_georeference(&mask, 0, 0, 1);
  object.set_gif_mapping(1, 0, 127, 1, 0);
  grid_matrix grid;
  object.read_grid(dir.file("empty.gif"), grid, 0, true, false, 0, false, true, false, false);
  for (int r = 1; r <= 8; ++r)
    for (int c = 1; c <= 10; ++c)
      EXPECT_EQ(grid[r][c], r == 3 && c == 4 ? -10000.0 : -9999.0) << r << "," << c;
}

TEST(GifGrid, DecoderErrorsReachReadGridAsCode22) {
  scratch_dir dir;
  captured_diag cap;
  grid_store store;
  file_object object(*cap.diag, store, 20, 20, 0, 0, 1);
  object.set_gif_georeference(nullptr, 0, 0, 1);
  const std::string path = dir.file("label2.gif");
  write_gif(path, ramp(20, 20));
  insert_bytes(path, FIRST_BLOCK, std::string("!\x02\x01\x00\x00", 5));
  grid_matrix grid;
  EXPECT_EQ(thrown_code([&] {
              object.read_grid(path, grid, 0, true, false, 0, false, true, false, false);
            }),
            22);
  // Without a georeference the image cannot be placed.
  write_gif(path, ramp(20, 20));
  object.set_gif_georeference(nullptr, 0, 0, 0);
  EXPECT_EQ(thrown_code([&] {
              object.read_grid(path, grid, 0, true, false, 0, false, true, false, false);
            }),
            22);
  // A screen beyond what the file can fill is refused before its raster.
  std::string big = read_file(path).substr(0, 200);
  big[6] = big[7] = big[8] = big[9] = '\xFF';
  dir.write("label2.gif", big);
  EXPECT_EQ(thrown_code([&] {
              object.read_grid(path, grid, 0, true, false, 0, false, true, false, false);
            }),
            22);
  EXPECT_TRUE(
      has_fatal(cap, "error reading GIF " + path + " (invalid extension type ID \"0x2\" found)"));
  EXPECT_TRUE(has_fatal(cap, "error reading GIF " + path +
                                 " (logical screen of 65535 x 65535 pixels is more than the 200 "
                                 "bytes of the file can fill)"));
}

}  // namespace

TEST(GifGrid, AFileThatCannotBeOpenedNamesTheReason) {
  scratch_dir dir;
  EXPECT_EQ(decode_error(dir.file("missing.gif")),
            "cannot open the file: No such file or directory");
}
